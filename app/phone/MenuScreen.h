// What the phone's two menu screens (the deck menus and the More tab) share:
// a table of row dictionaries with the menu cell's look and row height, the
// mail composer for a row's "email" dictionary, the maker's outside pages,
// the form overlays, and the sub-menu and card page a row opens.
#pragma once

#include <string>

#include "platform/foundation/Array.h"
#include "platform/foundation/Dictionary.h"
#include "platform/mail/MailComposeViewController.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

namespace app {

class MenuScreen : public ui::ViewController,
                   public ui::TableViewDataSource,
                   public ui::TableViewDelegate,
                   public mail::MailComposeViewControllerDelegate {
public:
    ns::Array* arrayTable() const { return arrayTable_.get(); }
    ui::TableView* tableView() { view(); return tableView_.get(); }

    // Mail from a dictionary with "para", "subject" and "mensaje" (HTML): the
    // composer when the device can send mail, else the "Sending mail" alert.
    void EnviarMail(const ns::Dictionary* mail);
    // Dismisses the composer, whatever the result.
    void mailComposeControllerDidFinishWithResult(mail::MailComposeViewController* controller,
                                                  mail::MailComposeResult result, ns::Error* error) override;
    void sendToWeb();
    void sendToTwitter();

    // Row height: "tamano" when present, else 55.
    double tableViewHeightForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;

    bool shouldAutorotate() override { return true; }
    unsigned supportedInterfaceOrientations() override { return 2; }

protected:
    ns::Dictionary* rowAtIndexPath(ui::IndexPath ip) const;
    // Adds the table below the 60-point header, down to the tab bar, makes
    // `root` this screen's view and the screen the table's data source and
    // delegate.
    void setViewWithTable(const ns::Ref<ui::View>& root);
    // A reused or new cell for the row, then the steps both menus take before
    // their own background: alignment of "rightAligned" rows, the "Image",
    // the text colour (black for "silver" and "black", else white).
    ns::Ref<ui::TableViewCell> menuCell(ui::TableView* t, ui::IndexPath ip, bool clearBackground);
    // The row's title in lower case over a clear label background.
    static void setMenuCellTitle(ui::TableViewCell* cell, const ns::Dictionary* row);
    static void setCellBackgroundImage(ui::TableViewCell* cell, const std::string& image);

    // Pushes the menu of the row's children on `nav`, titled by the row, its
    // back button titled "back" or else `defaultBack`.
    static void pushSubMenu(ui::NavigationController* nav, ns::Dictionary* row, const std::string& defaultBack);
    // Pushes the row's card page ("ActionData", else the page of its
    // "index") on `nav`, its back button titled `back`.
    static void pushCard(ui::NavigationController* nav, ns::Dictionary* row, const std::string& back);

    ns::Ref<ns::Array> arrayTable_;
    ns::Ref<ui::TableView> tableView_;
};

// Lays the referral (or sign-up) overlay over the window's root view at
// x 0, y 60 with the root view's size.
void showReferralOverlay();
void showSignUpOverlay();
// A "viewEmail:" row: pushes the tell-a-friend screen (interface "ShareView"),
// animated, on `nav` (nothing without one).
void pushShareView(ui::NavigationController* nav);

}  // namespace app
