// The phone's card share screen, pushed from a card page's share button. It
// mails the card: the composer gets a fixed subject, no recipients, and an
// HTML body that links to the card's "post" address. The Facebook and
// Twitter buttons do nothing on the phone.
#pragma once

#include <string>

#include "platform/foundation/Dictionary.h"
#include "platform/mail/MailComposeViewController.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Control.h"
#include "platform/ui/ViewController.h"

namespace app {

class ShareCardViewController_Iphone : public ui::ViewController,
                                        public mail::MailComposeViewControllerDelegate,
                                        public ui::AlertViewDelegate {
public:
    const char* className() const override { return "ShareCardViewController_Iphone"; }

    // The mail's subject, and its HTML body for a card whose "post" is `post`.
    static std::string mailSubject();
    static std::string mailBody(const std::string& post);

    // Set before the view loads.
    ns::Dictionary* dicCarta() const { return dicCarta_.get(); }
    void setDicCarta(ns::Ref<ns::Dictionary> d) { dicCarta_ = std::move(d); }
    ui::Button* btnBack() { view(); return btnBack_.get(); }

    void clicEmail(ns::Object* sender);
    void clicClose(ns::Object* sender);
    void clicFacebook(ns::Object* sender) {}
    void clicTwitter(ns::Object* sender) {}
    // The composer, or the "Sending mail" alert without a mail account.
    void showMail();

    void mailComposeControllerDidFinishWithResult(mail::MailComposeViewController* controller,
                                                  mail::MailComposeResult result, ns::Error* error) override;
    void alertViewDidDismissWithButtonIndex(ui::AlertView* alert, long index) override;

    void loadView() override;
    void viewDidLoad() override;
    bool shouldAutorotate() override { return true; }
    unsigned supportedInterfaceOrientations() override { return ui::InterfaceOrientationMaskPortrait; }
    bool shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation o) override {
        return o == ui::InterfaceOrientation::Portrait;
    }

private:
    ns::Ref<ns::Dictionary> dicCarta_;
    ns::Ref<ui::Button> btnBack_, btnEmail_, btnFacebook_, btnTwitter_;
};

}  // namespace app
