// The tablet group editor (a form sheet over the hub): a name field and the
// list of every card; ticking cards collects them in the order ticked, and
// Save appends the group to the groups file ("New Group" for a blank name).
// A group that cannot be written is reported and not kept.
#pragma once

#include "platform/foundation/Array.h"
#include "platform/ui/Control.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

namespace app {

class NewGroupViewControllerIpad : public ui::ViewController,
                                   public ui::TableViewDataSource,
                                   public ui::TableViewDelegate,
                                   public ui::TextFieldDelegate {
public:
    static constexpr const char* kNamePlaceholder = "Group name";
    static constexpr const char* kSaveTitle = "Save";
    static constexpr const char* kCancelTitle = "Cancel";
    static constexpr const char* kDoneTitle = "Done";

    const char* className() const override { return "NewGroupViewControllerIpad"; }

    ui::TableView* tableView() const { return tableView_.get(); }
    ui::TextField* groupName() const { return groupName_.get(); }
    ui::View* headerView() const { return headerView_.get(); }
    ns::Array* allCards() const { return allCards_.get(); }
    ns::MutableArray* selectedCards() const { return selectedCards_.get(); }

    void saveGroup(ns::Object* sender);
    // Builds the group row and saves it; false when it could not be written.
    bool saveNewGroup();
    void cancelGroup(ns::Object* sender);
    void doneEditingName(ns::Object* sender);
    // The title colour of a card colour name.
    static ns::Ref<ui::Color> colorForCardColor(const std::string& colour);

    void loadView() override;
    void viewDidLoad() override;
    bool shouldAutorotate() override { return true; }

    long tableViewNumberOfRowsInSection(ui::TableView* t, long section) override;
    ns::Ref<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    bool textFieldShouldReturn(ui::TextField* f) override;

    void setOutlets(ns::Ref<ui::TableView> table, ns::Ref<ui::TextField> name, ns::Ref<ui::View> header);

private:
    ns::Ref<ui::TableView> tableView_;
    ns::Ref<ui::TextField> groupName_;
    ns::Ref<ui::View> headerView_;
    ns::Ref<ns::Array> allCards_ = ns::Array::make();
    ns::Ref<ns::MutableArray> selectedCards_ = ns::MutableArray::make();
};

// The editor's interface: a bar with the Cancel, Done and Save buttons that
// stays put, over the table of cards headed by the name field.
void buildNewGroupViewControllerIpadInterface(NewGroupViewControllerIpad& c);

}  // namespace app
