// The full list of sharers that can share an item, in two sections
// ("Actions" and "Services"), sorted by title. Choosing a row shares with
// that sharer and closes the menu (once: a second choice while it closes
// starts nothing). Edit mode shows every sharer with a switch; switching
// one off logs the user out of it at once (when the login cannot be
// removed, the user is told and the switch stays on) and, after Done
// (save), hides it from the menu. Switched-off sharers are remembered under
// "SHRExcluded" in the user defaults (class name -> "1"); when they cannot
// be saved, Done tells the user and the menu stays in edit mode.
#pragma once

#include <string>

#include "platform/foundation/Delegate.h"
#include "platform/ui/Control.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"
#include "sharing/core/SHRItem.h"
#include "sharing/ui/SHRShareDelegate.h"

namespace sharing {

// A menu row's cell: the title, a disclosure indicator, and while editing a
// switch (made once, not touchable itself: the row is) as its accessory.
class SHRCustomShareMenuCell : public ui::TableViewCell {
public:
    explicit SHRCustomShareMenuCell(std::string reuseIdentifier)
        : ui::TableViewCell(ui::TableViewCellStyle::Default, std::move(reuseIdentifier)) {}
    const char* className() const override { return "SHRCustomShareMenuCell"; }
    ui::Switch* toggle();
    // While editing the switch is the accessory view.
    void showToggle(bool editing);

private:
    ns::Ref<ui::Switch> toggle_;
};

class SHRShareMenu : public ui::ViewController, public ui::TableViewDataSource, public ui::TableViewDelegate {
public:
    explicit SHRShareMenu(ui::TableViewStyle style = ui::TableViewStyle::Grouped);
    const char* className() const override { return "SHRShareMenu"; }

    ui::TableView* tableView();
    const ns::Ref<SHRItem>& item() const { return item_; }
    // Sets the item and rebuilds the table without animation.
    void setItem(ns::Ref<SHRItem> item);
    // Two sections (arrays of {"className", "name"} dictionaries).
    const ns::Ref<ns::MutableArray>& tableData() const { return tableData_; }
    const ns::Ref<ns::MutableDictionary>& exclusions() const { return exclusions_; }
    SHRShareDelegate* shareDelegate() const { return shareDelegate_.get(); }
    // Retained (an ns::Object adopting SHRShareDelegate), or nil.
    void setShareDelegate(SHRShareDelegate* d);

    void rebuildTableDataAnimated(bool animated);
    // The rows of "actions" or "services" for the item's type, sorted by name.
    ns::Ref<ns::MutableArray> section(const std::string& key);
    ns::Dictionary* rowDataAtIndexPath(ui::IndexPath ip) const;

    void cancel();
    void edit();
    void save();
    void cancelPressed(ns::Object*) { cancel(); }
    void editPressed(ns::Object*) { edit(); }
    void savePressed(ns::Object*) { save(); }

    void loadView() override;
    void viewWillAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    unsigned supportedInterfaceOrientations() override { return ui::InterfaceOrientationMaskAll; }

    long numberOfSectionsInTableView(ui::TableView*) override { return 2; }
    long tableViewNumberOfRowsInSection(ui::TableView*, long section) override;
    ns::Ref<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    std::string tableViewTitleForHeaderInSection(ui::TableView*, long section) override;
    bool tableViewCanEditRowAtIndexPath(ui::TableView*, ui::IndexPath) override { return true; }
    ui::TableViewCellEditingStyle tableViewEditingStyleForRowAtIndexPath(ui::TableView*, ui::IndexPath) override {
        return ui::TableViewCellEditingStyle::None;
    }
    void tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;

private:
    ns::Ref<ui::TableView> table_;
    ui::TableViewStyle style_;
    ns::Ref<SHRItem> item_;
    ns::Ref<ns::MutableArray> tableData_;
    ns::Ref<ns::MutableDictionary> exclusions_;
    ns::StrongDelegate<SHRShareDelegate> shareDelegate_;
    bool chosen_ = false;  // a sharer was chosen; the menu is closing
};

// A plain view controller that allows every orientation.
class SHRViewControllerWrapper : public ui::ViewController {
public:
    const char* className() const override { return "SHRViewControllerWrapper"; }
    unsigned supportedInterfaceOrientations() override { return ui::InterfaceOrientationMaskAll; }
};

class SHRCustomShareMenu : public SHRShareMenu {
public:
    using SHRShareMenu::SHRShareMenu;
    const char* className() const override { return "SHRCustomShareMenu"; }
};

}  // namespace sharing
