// The tablet share screen for a card, presented by the hub in a form sheet
// inside a navigation controller (whose bar it hides). It sends the card by
// e-mail through the mail composer, or hands it to the sharing framework for
// Facebook or Twitter as an image item: the app icon and a sentence with the
// card's address. The sharers run their own screens over it; it stays open.
#pragma once

#include <functional>
#include <string>

#include "platform/foundation/Dictionary.h"
#include "platform/mail/MailComposeViewController.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Control.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"
#include "sharing/core/SHRItem.h"

namespace app {

class shareViewController_iPad : public ui::ViewController,
                                 public mail::MailComposeViewControllerDelegate,
                                 public ui::AlertViewDelegate {
public:
    static constexpr const char* kTitle = "Share";
    static constexpr const char* kCloseTitle = "Close";
    static constexpr const char* kEmailTitle = "E-mail";
    static constexpr const char* kFacebookTitle = "Facebook";
    static constexpr const char* kTwitterTitle = "Twitter";
    static constexpr const char* kIconName = "icono-iPhone@2x.png";

    const char* className() const override { return "shareViewController_iPad"; }

    ns::Dictionary* dicCarta() const { return dicCarta_.get(); }
    void setDicCarta(ns::Ref<ns::Dictionary> card) { dicCarta_ = std::move(card); }

    // Interface outlets (made by buildShareViewController_iPadInterface).
    ui::Button* btnClose() const { return btnClose_.get(); }
    ui::Button* btnEmail() const { return btnEmail_.get(); }
    ui::Button* btnFacebook() const { return btnFacebook_.get(); }
    ui::Button* btnTwitter() const { return btnTwitter_.get(); }
    ui::Label* lblCarta() const { return lblCarta_.get(); }

    void clicClose(ns::Object* sender);
    void clicEmail(ns::Object* sender);
    void clicFacebook(ns::Object* sender);
    void clicTwitter(ns::Object* sender);
    void showMail();

    // The item both social buttons share: the app icon titled with the
    // sentence that carries the card's "post".
    ns::Ref<sharing::SHRItem> shareItem() const;
    // An image item of the app icon with that title (what the tablet shares
    // a card as).
    static ns::Ref<sharing::SHRItem> iconItem(const std::string& title);
    static std::string shareTitle(const std::string& post);
    static std::string mailSubject();
    static std::string mailBody(const std::string& post);

    void loadView() override;
    void viewDidLoad() override;

    void mailComposeControllerDidFinishWithResult(mail::MailComposeViewController* controller,
                                                  mail::MailComposeResult result, ns::Error* error) override;
    void alertViewDidDismissWithButtonIndex(ui::AlertView* alert, long index) override;

private:
    friend void buildShareViewController_iPadInterface(shareViewController_iPad& screen);
    ns::Ref<ns::Dictionary> dicCarta_;
    ns::Ref<ui::Button> btnClose_, btnEmail_, btnFacebook_, btnTwitter_;
    ns::Ref<ui::Label> lblCarta_;
};

// The interface file: the title, the card's title and the four buttons.
void buildShareViewController_iPadInterface(shareViewController_iPad& screen);

}  // namespace app
