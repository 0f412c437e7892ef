// The phone's list of saved groups, opened from the Practice tab. Row 0 adds
// a group (the editor, NewGroupController, is presented over the list); the
// other rows are the groups, oldest first: a tap opens the group as a menu
// of its cards, a swipe deletes it. The list lives in the groups file
// (SavedGroupsFile), read when the screen loads and rewritten after every
// change.
//
// A change whose save fails is undone and reported with an alert, so the
// list on screen is always what the file holds.
#pragma once

#include <string>

#include "platform/foundation/Array.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Control.h"
#include "platform/ui/Label.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

namespace app {

// Posted by the group editor with the new group record as its object.
inline constexpr const char* kGrabarNuevoGrupoNotification = "GrabarNuevoGrupo";

class ViewGroupsController : public ui::ViewController, public ui::TableViewDataSource, public ui::TableViewDelegate {
public:
    static constexpr const char* kAddRowText = "Add new group (swipe to delete)";
    static constexpr double kRowHeight = 55;

    const char* className() const override { return "ViewGroupsController"; }

    // The groups shown (nil before the view loads).
    ns::MutableArray* grupos() const { return grupos_.get(); }
    long filas() const { return filas_; }
    void setFilas(long n) { filas_ = n; }
    ui::TableView* tableView() { view(); return tableView_.get(); }
    ui::Label* lbltitle() { view(); return lbltitle_.get(); }
    // Why the file could not be used at load ("" when it could).
    const std::string& loadProblem() const { return loadProblem_; }

    // Writes the list to the groups file; false (and an alert) on failure.
    bool writeGroups();
    // Appends `group` and saves; on a failed save the group is taken out
    // again. Returns whether it was kept.
    bool AddNewItemGroup(ns::Ref<ns::Dictionary> group);
    // The "GrabarNuevoGrupo" observer.
    void GrabarNuevoGrupo(const ns::Notification& n);
    void clicBtnAtras(ns::Object* sender);

    long tableViewNumberOfRowsInSection(ui::TableView* t, long section) override { return filas_; }
    ns::Ref<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    bool tableViewCanEditRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override { return ip.row > 0; }
    void tableViewCommitEditingStyle(ui::TableView* t, ui::TableViewCellEditingStyle style, ui::IndexPath ip) override;
    bool answers(ui::TableViewDataSource::Optional op) const override {
        return op == ui::TableViewDataSource::Optional::CommitEditingStyle;
    }
    double tableViewHeightForRowAtIndexPath(ui::TableView*, ui::IndexPath) override { return kRowHeight; }
    void tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    ui::TableViewCellEditingStyle tableViewEditingStyleForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override {
        return ip.row == 0 ? ui::TableViewCellEditingStyle::None : ui::TableViewCellEditingStyle::Delete;
    }

    void loadView() override;
    void viewDidLoad() override;
    bool shouldAutorotate() override { return true; }
    unsigned supportedInterfaceOrientations() override { return ui::InterfaceOrientationMaskPortrait; }

private:
    void reportSaveFailure(const std::string& title, ns::Error* error);
    void openGroup(long index);

    ns::Ref<ns::MutableArray> grupos_;
    long filas_ = 1;
    bool blocked_ = false;
    std::string loadProblem_;
    ns::ObserverToken observer_;
    ns::Ref<ui::TableView> tableView_;
    ns::Ref<ui::Label> lbltitle_;
    ns::Ref<ui::Button> btnBack_;
};

}  // namespace app
