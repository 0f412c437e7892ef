// The phone's group editor, presented over the list of groups: a name field
// in the table's header and every card of the deck as a row to tick. Save
// checks that there is a name and at least one card, then hands the new
// group to the list through the "GrabarNuevoGrupo" notification and goes
// away; Cancel discards everything.
#pragma once

#include "platform/foundation/Array.h"
#include "platform/ui/Control.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

namespace app {

class NewGroupController : public ui::ViewController,
                           public ui::TableViewDataSource,
                           public ui::TableViewDelegate,
                           public ui::TextFieldDelegate {
public:
    const char* className() const override { return "NewGroupController"; }

    // The text colour of a card row by the card's "color".
    static ns::Ref<ui::Color> colourForCard(const ns::Dictionary* card);

    ns::Array* allCards() const { return allCards_.get(); }
    ns::MutableArray* selectedCards() const { return selectedCards_.get(); }
    ui::TableView* tableView() { view(); return tableView_.get(); }
    ui::View* headerView() { view(); return headerView_.get(); }
    ui::TextField* groupName() { view(); return groupName_.get(); }

    void saveGroup(ns::Object* sender);
    void cancelGroup(ns::Object* sender);
    // Makes the record and posts it (the checks are saveGroup's).
    void saveNewGroup();

    bool textFieldShouldReturn(ui::TextField* f) override;

    long tableViewNumberOfRowsInSection(ui::TableView* t, long section) override;
    ns::Ref<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;

    void loadView() override;
    void viewDidLoad() override;
    bool shouldAutorotate() override { return true; }
    unsigned supportedInterfaceOrientations() override { return ui::InterfaceOrientationMaskPortrait; }

private:
    ns::Ref<ns::Array> allCards_;
    ns::Ref<ns::MutableArray> selectedCards_;
    ns::Ref<ui::TableView> tableView_;
    ns::Ref<ui::View> headerView_;
    ns::Ref<ui::TextField> groupName_;
    ns::Ref<ui::Button> btnSave_, btnCancel_;
};

}  // namespace app
