// The action sheet that lists the favourite sharers of a share type (mail
// left out, only sharers that can share on this device) and starts the one
// the user picks; the last button is Cancel. The sheet is its own delegate.
#pragma once

#include <string>

#include "platform/foundation/Delegate.h"
#include "platform/ui/AlertView.h"
#include "sharing/core/SHRItem.h"
#include "sharing/ui/SHRShareDelegate.h"

namespace sharing {

class SHRActionSheet : public ui::ActionSheet, public ui::ActionSheetDelegate {
public:
    SHRActionSheet(std::string title);
    const char* className() const override { return "SHRActionSheet"; }

    // A sheet titled "Share" for an empty item of that type.
    static ns::Ref<SHRActionSheet> actionSheetForType(SHRShareType type);
    // The sheet for the item's type, sharing that item.
    static ns::Ref<SHRActionSheet> actionSheetForItem(ns::Ref<SHRItem> item);

    const ns::Ref<SHRItem>& item() const { return item_; }
    void setItem(ns::Ref<SHRItem> item) { item_ = std::move(item); }
    // Sharer class names, in button order.
    const ns::Ref<ns::MutableArray>& sharers() const { return sharers_; }
    void setSharers(ns::Ref<ns::MutableArray> s) { sharers_ = std::move(s); }
    // Retained (an ns::Object adopting SHRShareDelegate), or nil.
    SHRShareDelegate* shareDelegate() const { return shareDelegate_.get(); }
    void setShareDelegate(SHRShareDelegate* d);

    // Starts the sharer of button `index` (Cancel and out-of-range indexes
    // start nothing), then dismisses the sheet.
    void dismissWithClickedButtonIndex(long index, bool animated);
    // A user's press reaches the sheet as its own delegate.
    void actionSheetClickedButtonAtIndex(ui::ActionSheet* s, long index) override;

private:
    void startSharerAtIndex(long index);
    ns::Ref<SHRItem> item_;
    ns::Ref<ns::MutableArray> sharers_;
    ns::StrongDelegate<SHRShareDelegate> shareDelegate_;
};

// What the framework makes, so an app can customise the sheet.
class SHRCustomActionSheet : public SHRActionSheet {
public:
    using SHRActionSheet::SHRActionSheet;
    const char* className() const override { return "SHRCustomActionSheet"; }
};

}  // namespace sharing
