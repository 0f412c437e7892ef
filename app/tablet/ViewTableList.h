// The left pane of the tablet hub: a table of row dictionaries with a back
// button and a back stack of earlier lists. A tap on a row becomes the
// notification that opens a sub-list, shows a card, starts practice, opens
// the group editor, a form or a mail; a swipe deletes a favourite or a
// group. It talks to the hub and the card pane only through notifications.
//
// The pane observes "ActualizarGrupos" from the moment it is built (so no
// notification posted before its first draw is lost) until it is destroyed.
// It also follows "ActualizaTitulo" and "ModificarModo", and is told when
// the hub offers or withdraws the card buttons, so that Back can show again
// the card pane's title, mode and buttons of the list it brings back.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Array.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Control.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

namespace app {

class ViewTableList : public ui::View, public ui::TableViewDataSource, public ui::TableViewDelegate {
public:
    static constexpr double kRowHeight = 55;
    static constexpr const char* kBackTitle = "Back";
    static constexpr const char* kAddGroupTitle = "Add new group (swipe to delete)";
    // How a damaged entry of a list shows: one that is not a row dictionary,
    // and (as its detail text) a group whose "Children" is not a list.
    static constexpr const char* kDamagedEntryTitle = "damaged entry";
    static constexpr const char* kDamagedGroupDetail = "damaged group";

    explicit ViewTableList(ui::Rect frame) : ui::View(frame) {}
    const char* className() const override { return "ViewTableList"; }
    // A list pane with its table, back button, empty back stack and
    // observers in place.
    static ns::Ref<ViewTableList> make(ui::Rect frame);

    // -- Outlets and state -----------------------------------------------------
    ui::TableView* myTableView() const { return myTableView_.get(); }
    void setMyTableView(ns::Ref<ui::TableView> t);
    ui::Button* btnAtras() const { return btnAtras_.get(); }
    void setBtnAtras(ns::Ref<ui::Button> b) { btnAtras_ = std::move(b); }
    // The rows shown (never nil).
    ns::Array* arayObjetosTableView() const { return arayObjetosTableView_.get(); }
    void setArayObjetosTableView(ns::Ref<ns::Array> rows);
    // The back stack of row arrays; its last element is normally the shown list.
    ns::MutableArray* StackObjetosTableView() const { return StackObjetosTableView_.get(); }
    // The hub (not retained); overlays opened from the list take its view's size.
    ui::ViewController* controller() const { return controller_.lock().get(); }
    void setController(ui::ViewController* c) { controller_ = c; }

    // -- Operations ---------------------------------------------------------------
    // Shows rows and hides the back button; the back stack is not touched.
    void ActualizaTableView(ns::Ref<ns::Array> rows);
    // Shows the back button, appends rows to the back stack and shows them.
    void PushOnTable(ns::Ref<ns::Array> rows);
    // Makes rows the only element of the back stack and shows them (from
    // where they are when they are the shown list, else from the top).
    void SetRootTable(ns::Ref<ns::Array> rows);
    // Back: drops the last list of the stack and shows the one before it,
    // scrolled to where it was when it was left, with the card pane's title,
    // mode and card buttons as they were for it.
    void ClicAtras(ns::Object* sender);
    // The hub offered (true) or withdrew the card buttons for the shown list.
    void noteCardButtonsShown(bool shown) { paneLook_.cardButtons = shown; }
    // How Back offers or withdraws the card buttons (the hub's own way).
    void setCardButtonsHandler(std::function<void(bool)> handler) { cardButtonsHandler_ = std::move(handler); }
    // Posts "ListarTodosLosGruposApp" with [add-group row, groups...].
    void CargarListaGrupos();
    // Notification "ActualizarGrupos": replaces the outdated groups list.
    void ActualizarGrupos(const ns::Notification& n);
    // The add-group row (a new dictionary each time).
    static ns::Ref<ns::Dictionary> addGroupRow();

    // The favourite row that the last swipe took away, until the hub has
    // deleted it from the favourites (the hub finds the record by identity
    // rather than by a row number that may refer to another list).
    ns::Object* pendingDeletedFavorite() const { return pendingDeleted_.get(); }
    ns::Ref<ns::Object> takePendingDeletedFavorite() { return std::move(pendingDeleted_); }

    // -- Table ------------------------------------------------------------------------
    long tableViewNumberOfRowsInSection(ui::TableView* t, long section) override;
    ns::Ref<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    bool tableViewCanEditRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    void tableViewCommitEditingStyle(ui::TableView* t, ui::TableViewCellEditingStyle style, ui::IndexPath ip) override;
    bool answers(ui::TableViewDataSource::Optional op) const override {
        return op == ui::TableViewDataSource::Optional::CommitEditingStyle;
    }
    double tableViewHeightForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;

private:
    void setUp();
    void reload();
    // Reloads for another list, scrolled to its first row.
    void showFromTop();
    // Reloads, scrolled to `y` as far as the list reaches.
    void showAt(double y);
    // Called as the shown list is left for another.
    void rememberWhereLeft();
    // What the card pane showed for a list: each part unknown until it is
    // first set.
    struct PaneLook {
        std::optional<std::string> title;
        std::optional<long> mode;
        std::optional<bool> cardButtons;
    };
    struct LeftList {
        ns::Ref<ns::Array> rows;
        double at = 0;  // where it was scrolled to
        PaneLook look;
    };
    // How the list `rows` was left; nil if it was never left.
    const LeftList* whereLeft(const ns::Array* rows) const;
    void ActualizaTitulo(const ns::Notification& n);
    void ModificarModo(const ns::Notification& n);
    // Shows the card pane as it was for a list Back brings again.
    void restoreLook(const PaneLook& look);
    ns::Dictionary* rowAtIndex(long row) const;
    // The entry shown in a row, whatever its kind; nil past the end.
    ns::Object* entryAtIndex(long row) const;
    // Whether the groups list (add-group row, then the stored groups) is shown.
    bool showsGroupsList() const;
    // Whether the row shows a group: any row but the first of the groups
    // list, whatever its entry holds, or a row with "Children".
    bool isGroupRow(long row) const;
    // An entry of the shown favourites that is not a row dictionary.
    bool isDamagedFavorite(long row) const;
    void openOverlay(bool referral);
    // Deletes the stored group that `entry` is (found by identity, then by
    // value) and saves; false, with the reason told, when it cannot.
    bool deleteGroup(const ns::Object& entry);

    ns::Ref<ui::TableView> myTableView_;
    ns::Ref<ui::Button> btnAtras_;
    ns::Ref<ns::Array> arayObjetosTableView_ = ns::Array::make();
    ns::Ref<ns::MutableArray> StackObjetosTableView_ = ns::MutableArray::make();
    ns::Weak<ui::ViewController> controller_;
    ns::Ref<ns::Object> pendingDeleted_;
    ns::Ref<ns::Array> groupsList_;  // the last groups list made, while it is the one shown
    ns::ObserverToken actualizarGrupos_, actualizaTitulo_, modificarModo_;
    // How each list on the back stack was left.
    std::vector<LeftList> leftAt_;
    // What the card pane shows now.
    PaneLook paneLook_;
    std::function<void(bool)> cardButtonsHandler_;
};

// The list pane's interface: the back button along the top and the table
// below it, wired to the pane.
void buildViewTableListInterface(ViewTableList& list);

}  // namespace app
