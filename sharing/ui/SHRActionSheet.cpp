#include "sharing/ui/SHRActionSheet.h"

#include <cstdio>

#include "platform/foundation/Exception.h"
#include "sharing/core/SHR.h"
#include "sharing/core/SHRSharer.h"

namespace sharing {

SHRActionSheet::SHRActionSheet(std::string title) : ui::ActionSheet(std::move(title), nullptr, "", "") {
    sharers_ = ns::MutableArray::make();
}

void SHRActionSheet::setShareDelegate(SHRShareDelegate* d) { shareDelegate_ = d; }

ns::Ref<SHRActionSheet> SHRActionSheet::actionSheetForType(SHRShareType type) {
    auto sheet = ns::make<SHRCustomActionSheet>(SHRLocalizedString("Share"));
    sheet->setDelegate(sheet.get());
    auto item = ns::make<SHRItem>();
    item->setShareType(type);
    sheet->setItem(item);
    if (auto favourites = SHR::favoriteSharersForType(type)) {
        for (ns::Object* o : *favourites) {
            auto* name = ns::as<ns::String>(o);
            if (!name || name->utf8() == "SHRMail") continue;
            auto sharer = SHRSharer::sharerWithClassName(std::string(name->utf8()));
            if (!sharer || !sharer->canShare()) continue;
            sheet->addButtonWithTitle(sharer->sharerTitle());
            sheet->sharers()->addObject(ns::Ref<ns::String>(name));
        }
    }
    sheet->setCancelButtonIndex(sheet->addButtonWithTitle(SHRLocalizedString("Cancel")));
    return sheet;
}

ns::Ref<SHRActionSheet> SHRActionSheet::actionSheetForItem(ns::Ref<SHRItem> item) {
    auto sheet = actionSheetForType(item ? item->shareType() : SHRShareTypeUndefined);
    if (item) sheet->setItem(std::move(item));
    return sheet;
}

void SHRActionSheet::startSharerAtIndex(long index) {
    long count = sharers_ ? static_cast<long>(sharers_->count()) : 0;
    std::fprintf(stderr, "%ld\n%ld\n", count, index);
    if (index < 0 || index >= count) return;
    auto* name = ns::as<ns::String>(sharers_->objectAtIndex(static_cast<size_t>(index)));
    auto sharer = name ? SHRSharer::sharerWithClassName(std::string(name->utf8())) : nullptr;
    if (!sharer) return;
    auto keep = ns::keepAlive(this);
    sharer->loadItem(item_);
    auto d = shareDelegate_.lock();
    if (d && d->answers(SHRShareDelegate::Optional::AboutToShareItemWithSharer) &&
        !d->aboutToShareItemWithSharer(item_.get(), sharer.get()))
        return;
    sharer->share();
}

void SHRActionSheet::dismissWithClickedButtonIndex(long index, bool animated) {
    auto keep = ns::keepAlive(this);
    startSharerAtIndex(index);
    ui::ActionSheet::dismissWithClickedButtonIndex(index, animated);
}

void SHRActionSheet::actionSheetClickedButtonAtIndex(ui::ActionSheet*, long index) {
    // The press dismisses the sheet itself right after this.
    startSharerAtIndex(index);
}

}  // namespace sharing
