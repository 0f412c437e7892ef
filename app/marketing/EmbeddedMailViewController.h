// The marketing screens that embed a ready-made e-mail: the tell-a-friend
// screen (`ShareViewController`, interface file "ShareView") pushed by the
// phone menus' "viewEmail:" rows, and the evangelist application screen
// (`AceEmailViewController`), offered as a class and opened by no screen.
//
// The first time the screen is about to appear (its view has no subviews
// yet) it embeds a mail composer in its own view (not presented). Without a
// mail account it shows the screen's "no mail" alert and leaves (pops) when
// the alert goes. When the composer is done (sent, saved or cancelled), its
// view is removed and the screen pops itself; when it could not write the
// message it stays, showing its alert. Upright portrait only.
#pragma once

#include <string>
#include <vector>

#include "platform/mail/MailComposeViewController.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/ViewController.h"

namespace app {

class EmbeddedMailViewController : public ui::ViewController,
                                   public mail::MailComposeViewControllerDelegate,
                                   public ui::AlertViewDelegate {
public:
    mail::MailComposeViewController* mailViewController() const { return mailViewController_.get(); }
    void setMailViewController(ns::Ref<mail::MailComposeViewController> c) { mailViewController_ = std::move(c); }

    void loadView() override;
    void viewWillAppear(bool animated) override;
    void mailComposeControllerDidFinishWithResult(mail::MailComposeViewController* controller,
                                                  mail::MailComposeResult result, ns::Error* error) override;
    void alertViewDidDismissWithButtonIndex(ui::AlertView* alert, long index) override;

    unsigned supportedInterfaceOrientations() override { return ui::InterfaceOrientationMaskPortrait; }
    bool shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation o) override {
        return o == ui::InterfaceOrientation::Portrait;
    }
    // The embedded composer is a child on screen (its bar buttons are the
    // screen's).
    std::vector<ui::ViewController*> visibleChildViewControllers() const override;
    std::vector<ui::ViewController*> childViewControllers() const override;

    // The mail this screen prepares.
    struct Mail {
        std::vector<std::string> recipients;
        std::string subject;
        std::string body;
        bool isHTML = false;
        std::string noMailTitle;
    };
    virtual Mail mailContents() const = 0;

private:
    void leave();
    ns::Ref<mail::MailComposeViewController> mailViewController_;
    bool embedded_ = false;
};

// The tell-a-friend screen. Its texts go through the localisation table.
class ShareViewController : public EmbeddedMailViewController {
public:
    static constexpr const char* kInterfaceFile = "ShareView";
    const char* className() const override { return "ShareViewController"; }
    void loadView() override;
    Mail mailContents() const override;
};

// The "ShareView" interface: the screen's plain white view, the size of the
// screen below the navigation bar.
void buildShareViewInterface(ShareViewController& c);

// The evangelist application screen: a plain-text mail to the maker.
class AceEmailViewController : public EmbeddedMailViewController {
public:
    const char* className() const override { return "AceEmailViewController"; }
    Mail mailContents() const override;
};

}  // namespace app
