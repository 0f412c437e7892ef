// The follow-us list of the tablet hub, presented by the hub's share button
// in a form sheet. Its rows ("FollowUS.plist": "Title", "Imagen", "tamano",
// "tipo", "ActionData") prepare a feedback mail ("tipo" 0), a
// recommendation mail (1), show the sign-up overlay (2), or open the
// maker's pages ("ActionData"). "Close" (`clicExit`) dismisses the screen.
#pragma once

#include "platform/foundation/Array.h"
#include "platform/mail/MailComposeViewController.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Control.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

namespace app {

class FollouUSViewController : public ui::ViewController,
                               public ui::TableViewDataSource,
                               public ui::TableViewDelegate,
                               public mail::MailComposeViewControllerDelegate,
                               public ui::AlertViewDelegate {
public:
    static constexpr const char* kTitle = "Follow us";
    static constexpr const char* kCloseTitle = "Close";
    static constexpr const char* kCellIdentifier = "CellIdentifier";
    static constexpr double kDefaultRowHeight = 55;

    const char* className() const override { return "FollouUSViewController"; }

    ns::Array* myArray() const { return myArray_.get(); }
    void setMyArray(ns::Ref<ns::Array> a) { myArray_ = std::move(a); }
    long tipo() const { return tipo_; }
    ui::TableView* tableView() { view(); return tableView_.get(); }

    // Prepares the mail of the last tapped mail row (`tipo`).
    void showMail();
    void clicExit(ns::Object* sender);

    long tableViewNumberOfRowsInSection(ui::TableView*, long) override;
    ns::Ref<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    double tableViewHeightForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;

    void mailComposeControllerDidFinishWithResult(mail::MailComposeViewController* controller,
                                                  mail::MailComposeResult result, ns::Error* error) override;
    void alertViewDidDismissWithButtonIndex(ui::AlertView* alert, long index) override;

    bool shouldAutorotate() override { return true; }
    unsigned supportedInterfaceOrientations() override { return ui::InterfaceOrientationMaskAll; }
    bool shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation) override { return true; }

    void loadView() override;
    void viewDidLoad() override;

    // Outlets.
    ns::Ref<ui::TableView> _tableView() { view(); return tableView_; }
    void setTableView(ns::Ref<ui::TableView> t) { tableView_ = std::move(t); }

private:
    ns::Ref<ns::Array> myArray_;
    long tipo_ = 0;
    ns::Ref<ui::TableView> tableView_;
};

// The interface: a heading with "Close" along the top and the list below.
void buildFollouUSViewControllerInterface(FollouUSViewController& c);

}  // namespace app
