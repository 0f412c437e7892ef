// The credentials sheet the request engine shows when a server (401) or a
// proxy (407) wants a login and neither stored credentials nor a delegate
// supply one.
//
// AuthenticationDialog::install() registers it as the engine's dialog
// presenter (setAuthenticationDialogPresenter); requests then show it when
// their shouldPresentAuthenticationDialog (or ...ProxyAuthenticationDialog)
// flag is on. The sheet asks for a user name and password, and for an
// account domain when the scheme is NTLM. "Login" hands the values to every
// waiting request that needs the same credentials (same kind of challenge,
// host, port, scheme and realm) and tells each to retry; "Cancel" fails them
// all with the engine's authentication error (code 3).
//
// One sheet is on screen at a time; requests that arrive meanwhile wait in a
// list and get their sheet, one after the other, once the previous one has
// left the screen (so requests a login already served are not asked again).
//
// Everything here runs on the main thread. The sheet is presented, modally,
// from an invisible AutorotatingViewController whose view lies in the
// application's first window.
#pragma once

#include <string>
#include <vector>

#include "net/http/HTTPRequest.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

namespace http {

// A plain view controller that accepts every interface orientation.
class AutorotatingViewController : public ui::ViewController {
public:
    const char* className() const override { return "AutorotatingViewController"; }
    bool shouldAutorotate() override { return true; }
    unsigned supportedInterfaceOrientations() override;
    bool shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation) override { return true; }
};

class AuthenticationDialog : public AutorotatingViewController,
                             public ui::TableViewDataSource,
                             public ui::TableViewDelegate {
public:
    enum Type : int { kServerLogin = 0, kProxyLogin = 1 };

    AuthenticationDialog();
    ~AuthenticationDialog() override;
    const char* className() const override { return "AuthenticationDialog"; }

    // Registers the sheet as the engine's dialog presenter (idempotent).
    static void install();
    // Removes the registration (the engine then shows no dialog).
    static void uninstall();

    // Shows a sheet for `request` when none is on screen (a proxy login when
    // its authenticationNeeded() is 2), else puts it on the waiting list.
    static void presentAuthenticationDialogForRequest(ns::Ref<HTTPRequest> request);
    // Dismisses the sheet on screen, animated (the class-wide dismiss).
    static void dismissDialogOnScreen();
    // The sheet on screen, or nil.
    static AuthenticationDialog* dialogOnScreen();
    // The requests waiting for a sheet, oldest first.
    static std::vector<ns::Ref<HTTPRequest>> waitingRequests();

    // The class-wide dismiss when this is the sheet on screen, else
    // dismisses itself from its parent, animated.
    void dismiss();
    // Builds the sheet (bar, form) and presents it.
    void show();
    // Sets the prompt (portrait only) and lays the bar and form out.
    void showTitle();

    // The Login and Cancel buttons.
    void loginWithCredentialsFromDialog(ns::Object* sender);
    void cancelAuthenticationFromDialog(ns::Object* sender);

    // The waiting requests the entered credentials also serve, in the
    // waiting list's order, then the sheet's own request.
    std::vector<ns::Ref<HTTPRequest>> requestsRequiringTheseCredentials();
    // Shows the sheet of the next waiting request, if any.
    void presentNextDialog();

    ui::TextField* usernameField();
    ui::TextField* passwordField();
    ui::TextField* domainField();
    ui::TextField* textFieldInRowSection(long row, long section);

    // The controller the sheet is presented from, made on first use (its
    // view then joins the first window with a zero frame, no interaction).
    AutorotatingViewController* presentingController();
    void setPresentingController(ns::Ref<AutorotatingViewController> c);

    void keyboardWillShow(const ns::Notification& n);
    void orientationChanged(const ns::Notification& n);

    // Table data source and delegate.
    long numberOfSectionsInTableView(ui::TableView* t) override;
    long tableViewNumberOfRowsInSection(ui::TableView* t, long section) override;
    ns::Ref<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    std::string tableViewTitleForHeaderInSection(ui::TableView* t, long section) override;
    std::string tableViewTitleForFooterInSection(ui::TableView* t, long section) override;
    double tableViewHeightForHeaderInSection(ui::TableView* t, long section) override;
    double tableViewHeightForFooterInSection(ui::TableView* t, long section);

    void viewDidDisappear(bool animated) override;

    // Accessors.
    const ns::Ref<HTTPRequest>& request() const { return request_; }
    void setRequest(ns::Ref<HTTPRequest> r) { request_ = std::move(r); }
    int type() const { return type_; }
    void setType(int t) { type_ = t; }
    ui::TableView* tableView() const { return tableView_.get(); }
    void setTableView(ns::Ref<ui::TableView> t) { tableView_ = std::move(t); }
    ui::NavigationBar* navigationBar() const { return bar_.get(); }
    bool didEnableRotationNotifications() const { return didEnableRotationNotifications_; }
    void setDidEnableRotationNotifications(bool b) { didEnableRotationNotifications_ = b; }

private:
    // The scheme of the challenge this sheet answers (proxy or server).
    std::string scheme() const;
    std::string realm() const;
    bool usesNTLM() const { return scheme() == "NTLM"; }

    ns::Ref<HTTPRequest> request_;
    int type_ = kServerLogin;
    ns::Ref<ui::TableView> tableView_;
    ns::Ref<ui::NavigationBar> bar_;
    ns::Ref<AutorotatingViewController> presentingController_;
    bool didEnableRotationNotifications_ = false;
    ns::ObserverToken keyboardObserver_, orientationObserver_;
};

}  // namespace http
