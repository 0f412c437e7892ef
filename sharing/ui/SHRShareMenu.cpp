#include "sharing/ui/SHRShareMenu.h"

#include "platform/foundation/Exception.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/BarItems.h"
#include "sharing/core/SHR.h"
#include "sharing/core/SHRSharer.h"

namespace sharing {

namespace {
constexpr const char* kExcludedKey = "SHRExcluded";
}

ui::Switch* SHRCustomShareMenuCell::toggle() {
    if (!toggle_) {
        toggle_ = ns::make<ui::Switch>(ui::Rect{{0, 0}, {94, 27}});
        toggle_->setUserInteractionEnabled(false);
    }
    return toggle_.get();
}

void SHRCustomShareMenuCell::showToggle(bool editing) {
    setEditing(editing);
    setAccessoryView(editing ? ns::Ref<ui::View>(toggle()) : nullptr);
}

SHRShareMenu::SHRShareMenu(ui::TableViewStyle style) : style_(style) {
    setTitle(SHRLocalizedString("Share"));
    navigationItem()->setLeftBarButtonItem(
        ui::BarButtonItem::withSystemItem(ui::BarButtonItem::SystemItem::Cancel, this, &SHRShareMenu::cancelPressed));
    navigationItem()->setRightBarButtonItem(
        ui::BarButtonItem::withSystemItem(ui::BarButtonItem::SystemItem::Edit, this, &SHRShareMenu::editPressed));
    tableData_ = ns::MutableArray::make();
    exclusions_ = ns::MutableDictionary::make();
}

void SHRShareMenu::loadView() {
    table_ = ui::TableView::make({{0, 0}, {320, 416}}, style_);
    table_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    setView(table_);
    table_->setDataSource(this);
    table_->setDelegate(this);
}

ui::TableView* SHRShareMenu::tableView() {
    view();
    return table_.get();
}

void SHRShareMenu::setShareDelegate(SHRShareDelegate* d) { shareDelegate_ = d; }

void SHRShareMenu::setItem(ns::Ref<SHRItem> item) {
    item_ = std::move(item);
    rebuildTableDataAnimated(false);
    tableView()->reloadData();
}

ns::Ref<ns::MutableArray> SHRShareMenu::section(const std::string& key) {
    auto rows = ns::MutableArray::make();
    auto sharers = SHR::sharersDictionary();
    ns::Array* names = sharers ? sharers->arrayForKey(key) : nullptr;
    if (!names) return rows;
    SHRShareType type = item_ ? item_->shareType() : SHRShareTypeUndefined;
    for (ns::Object* o : *names) {
        auto* name = ns::as<ns::String>(o);
        if (!name) continue;
        auto sharer = SHRSharer::sharerWithClassName(std::string(name->utf8()));
        if (!sharer || !sharer->canShare() || !sharer->canShareType(type)) continue;
        rows->addObject(ns::Dictionary::make({{"className", ns::Ref<ns::String>(name)},
                                              {"name", ns::str(sharer->sharerTitle())}}));
    }
    if (rows->count() > 0) {
        rows->sortUsingComparator([](ns::Object* a, ns::Object* b) {
            auto* x = static_cast<ns::Dictionary*>(a)->stringForKey("name");
            auto* y = static_cast<ns::Dictionary*>(b)->stringForKey("name");
            return x->caseInsensitiveCompare(*y) == ns::ComparisonResult::Ascending;
        });
    }
    return rows;
}

void SHRShareMenu::rebuildTableDataAnimated(bool animated) {
    ui::TableView* table = tableView();
    table->setAllowsSelection(true);  // also while editing
    tableData_ = ns::MutableArray::make();
    tableData_->addObject(section("actions"));
    tableData_->addObject(section("services"));

    auto stored = ns::UserDefaults::standardUserDefaults()->dictionaryForKey(kExcludedKey);
    exclusions_ = stored ? stored->mutableCopy() : ns::MutableDictionary::make();

    bool editing = table->isEditing();
    if (editing && !animated) return;  // edit mode shows every sharer

    std::vector<ui::IndexPath> paths;
    for (size_t s = 0; s < tableData_->count(); ++s) {
        auto* rows = static_cast<ns::MutableArray*>(tableData_->objectAtIndex(s));
        std::vector<size_t> excluded;
        for (size_t r = 0; r < rows->count(); ++r) {
            auto* name = static_cast<ns::Dictionary*>(rows->objectAtIndex(r))->stringForKey("className");
            if (name && exclusions_->objectForKey(name->view())) {
                paths.push_back(ui::IndexPath::forRow(static_cast<long>(r), static_cast<long>(s)));
                excluded.push_back(r);
            }
        }
        if (!editing)
            for (auto it = excluded.rbegin(); it != excluded.rend(); ++it) rows->removeObjectAtIndex(*it);
    }
    if (animated) {
        table->beginUpdates();
        if (editing) table->insertRowsAtIndexPaths(paths, ui::TableViewRowAnimation::Fade);
        else table->deleteRowsAtIndexPaths(paths, ui::TableViewRowAnimation::Fade);
        table->endUpdates();
    }
}

ns::Dictionary* SHRShareMenu::rowDataAtIndexPath(ui::IndexPath ip) const {
    if (ip.section < 0 || static_cast<size_t>(ip.section) >= tableData_->count()) return nullptr;
    auto* rows = static_cast<ns::Array*>(tableData_->objectAtIndex(static_cast<size_t>(ip.section)));
    if (ip.row < 0 || static_cast<size_t>(ip.row) >= rows->count()) return nullptr;
    return static_cast<ns::Dictionary*>(rows->objectAtIndex(static_cast<size_t>(ip.row)));
}

long SHRShareMenu::tableViewNumberOfRowsInSection(ui::TableView*, long section) {
    if (section < 0 || static_cast<size_t>(section) >= tableData_->count()) return 0;
    return static_cast<long>(static_cast<ns::Array*>(tableData_->objectAtIndex(static_cast<size_t>(section)))->count());
}

std::string SHRShareMenu::tableViewTitleForHeaderInSection(ui::TableView* t, long section) {
    if (tableViewNumberOfRowsInSection(t, section) == 0) return {};
    if (section == 0) return SHRLocalizedString("Actions");
    if (section == 1) return SHRLocalizedString("Services");
    return {};
}

ns::Ref<ui::TableViewCell> SHRShareMenu::tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    ns::Ref<ui::TableViewCell> reused = t->dequeueReusableCellWithIdentifier("Cell");
    ns::Ref<SHRCustomShareMenuCell> cell(ns::as<SHRCustomShareMenuCell>(reused.get()));
    if (!cell) {
        cell = ns::make<SHRCustomShareMenuCell>("Cell");
        cell->setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
    }
    ns::Dictionary* row = rowDataAtIndexPath(ip);
    auto* name = row ? row->stringForKey("name") : nullptr;
    auto* className = row ? row->stringForKey("className") : nullptr;
    cell->textLabel()->setText(name ? std::string(name->utf8()) : "");
    cell->toggle()->setOn(!className || !exclusions_->objectForKey(className->view()));
    cell->showToggle(t->isEditing());
    return cell;
}

void SHRShareMenu::tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    auto keep = ns::keepAlive(this);
    ns::Dictionary* row = rowDataAtIndexPath(ip);
    auto* className = row ? row->stringForKey("className") : nullptr;
    if (!className) return;
    std::string name(className->utf8());
    if (!t->isEditing()) {
        // One choice a showing: a row tapped again while the menu closes
        // starts no second share.
        if (chosen_) return;
        chosen_ = true;
        if (auto sharer = SHRSharer::sharerWithClassName(name)) {
            sharer->loadItem(item_);
            auto d = shareDelegate_.lock();
            bool go = !(d && d->answers(SHRShareDelegate::Optional::AboutToShareItemWithSharer) &&
                        !d->aboutToShareItemWithSharer(item_.get(), sharer.get()));
            if (go) sharer->share();
        }
        SHR::currentHelper()->hideCurrentViewControllerAnimated(true);
        return;
    }
    ns::Ref<SHRCustomShareMenuCell> cell(ns::as<SHRCustomShareMenuCell>(t->cellForRowAtIndexPath(ip)));
    bool on = cell ? cell->toggle()->isOn() : !exclusions_->objectForKey(name);
    SHRLogoutFailure why = SHRLogoutFailure::None;
    if (on && !SHR::logoutOfService(name, &why)) {
        // The logout is not done (the login is still stored on a full disk
        // or a read-only home, or a damaged keychain copy holds older
        // logins): the service stays switched on and included, and the user
        // is told, as the Logout action tells it.
        t->deselectRowAtIndexPath(ip, false);
        ui::AlertView::make(SHRLocalizedString("Error"), SHR::logoutFailureText(why), nullptr,
                            SHRLocalizedString("Close"))->show();
        return;
    }
    if (cell) cell->toggle()->setOn(!on, true);
    if (on) exclusions_->setObject(ns::str("1"), name);
    else exclusions_->removeObjectForKey(std::string_view(name));
    t->deselectRowAtIndexPath(ip, false);
}

void SHRShareMenu::edit() {
    auto keep = ns::keepAlive(this);
    tableView()->setEditing(true, true);
    rebuildTableDataAnimated(true);
    for (auto* c : table_->visibleCells())
        if (auto* cell = ns::as<SHRCustomShareMenuCell>(c)) cell->showToggle(true);
    navigationItem()->setRightBarButtonItem(
        ui::BarButtonItem::withSystemItem(ui::BarButtonItem::SystemItem::Done, this, &SHRShareMenu::savePressed));
}

void SHRShareMenu::save() {
    auto keep = ns::keepAlive(this);
    // The switched-off services are saved whole, or the menu stays in edit
    // mode with the user told: hiding them now would show a menu that the
    // next start does not (the logouts made while editing stay done).
    if (!SHR::setDefaultsValues({{kExcludedKey, exclusions_->copy()}})) {
        ui::AlertView::make(SHRLocalizedString("Error"),
                            SHRLocalizedString("Your choice of services could not be saved. Please try again."),
                            nullptr, SHRLocalizedString("Close"))->show();
        return;
    }
    tableView()->setEditing(false, true);
    rebuildTableDataAnimated(true);
    for (auto* c : table_->visibleCells())
        if (auto* cell = ns::as<SHRCustomShareMenuCell>(c)) cell->showToggle(false);
    navigationItem()->setRightBarButtonItem(
        ui::BarButtonItem::withSystemItem(ui::BarButtonItem::SystemItem::Edit, this, &SHRShareMenu::editPressed));
}

void SHRShareMenu::cancel() { SHR::currentHelper()->hideCurrentViewControllerAnimated(true); }

void SHRShareMenu::viewWillAppear(bool animated) {
    ui::ViewController::viewWillAppear(animated);
    chosen_ = false;  // shown (again): a choice to make
}

void SHRShareMenu::viewDidDisappear(bool) { SHR::currentHelper()->viewWasDismissed(); }

}  // namespace sharing
