// The phone's card page: one card's bundle page in a web view under its
// colour header and over its colour background.
//
//  - A pinch changes the page's font size one pixel a step (14 to 41; the
//    page opens at 13) by a script run in the page.
//  - A link to another card (by its "index") pushes that card's page; the
//    maker's contact link opens the mail composer; the feedback and
//    card-suggestion links are left to the web view; any other link is
//    opened with the system. A link handled here is never also loaded in
//    the page.
//  - The share button (shown for cards with a "post") opens the card share
//    screen.
//  - In practice mode the screen draws random cards from the deck: a tap
//    turns the question side to the answer page, the next tap draws a new
//    card.
//  - Turning the phone to landscape presents the full-screen card, which
//    dismisses itself when the phone returns to portrait.
//
// Openers create it, set dicCarta and isRandomCard, push it, load its view,
// set the back button's title, and send cargaHtmlWebView and
// cambiarColorPagina.
#pragma once

#include <string>

#include "app/SwipeableWebView_ipad.h"
#include "app/phone/RandomSource.h"
#include "platform/foundation/Dictionary.h"
#include "platform/mail/MailComposeViewController.h"
#include "platform/ui/Control.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/WebView.h"

namespace app {

class CardViewController : public ui::ViewController,
                           public SwipeableWebViewDelegate_ipad,
                           public ui::WebViewDelegate,
                           public mail::MailComposeViewControllerDelegate {
public:
    static constexpr long kStartFont = 13;
    static constexpr long kPinchFloor = 15;    // closing lowers only from here up
    static constexpr long kPinchCeiling = 41;  // opening raises only below this

    const char* className() const override { return "CardViewController"; }

    // The mail the contact link opens.
    static std::string contactMailSubject() { return "Comments/Contact Tarnwick Veltra Media App"; }
    // The script that sets the page's body font size.
    static std::string fontSizeScript(long px);

    ns::Dictionary* dicCarta() const { return dicCarta_.get(); }
    void setDicCarta(ns::Ref<ns::Dictionary> d) { dicCarta_ = std::move(d); }
    bool isRandomCard() const { return isRandomCard_; }
    void setIsRandomCard(bool b) { isRandomCard_ = b; }
    // The practice card's position in the deck; -1 before the first draw.
    long RandomCard() const { return RandomCard_; }
    bool viendoCarta() const { return viendoCarta_; }
    long savedFont() const { return savedFont_; }
    bool enlace() const { return enlace_; }
    // Where practice draws from; the shared source unless set.
    RandomSource* randomSource() const { return random_.get(); }
    void setRandomSource(ns::Ref<RandomSource> r) { random_ = std::move(r); }

    // Outlets (loading the view when needed).
    SwipeableWebView_ipad* webView() { view(); return webView_.get(); }
    ui::ImageView* imgheader() { view(); return imgheader_.get(); }
    ui::ImageView* imgfondo() { view(); return imgfondo_.get(); }
    ui::Button* btnBack() { view(); return btnBack_.get(); }
    ui::Label* lblTitle() { view(); return lblTitle_.get(); }
    ui::Button* btnShare() { view(); return btnShare_.get(); }

    // Loads the bundle page `page` (folder "html_iphone") with savedFont.
    void cargaHtmlWebView(const std::string& page);
    // Header "CabezaCarta-<colour>.png", background "FondoCarta-<colour>.png".
    void cambiarColorPagina(const std::string& colour);
    // Draws a random card and shows its question side. With no cards in the
    // deck nothing is drawn and an empty page is shown.
    void cargaHtmlPractice();

    // Gestures of the page.
    void registerTap() override;
    void registerPinchDirection(bool closing) override;
    bool answers(SwipeableWebViewDelegate_ipad::Optional op) const override {
        return op == SwipeableWebViewDelegate_ipad::Optional::RegisterTap ||
               op == SwipeableWebViewDelegate_ipad::Optional::RegisterPinchDirection;
    }

    bool webViewShouldStartLoadWithRequest(ui::WebView* wv, ui::URLRequest* request,
                                           ui::WebViewNavigationType type) override;

    void showMail();
    void mailComposeControllerDidFinishWithResult(mail::MailComposeViewController* controller,
                                                  mail::MailComposeResult result, ns::Error* error) override;
    void clicBtnShare(ns::Object* sender);
    void clicbtnAtras(ns::Object* sender);

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    // Always YES; in landscape it first presents the full-screen card.
    bool shouldAutorotate() override;
    unsigned supportedInterfaceOrientations() override { return ui::InterfaceOrientationMaskPortrait; }

private:
    void flip(ui::AnimationTransition t);

    ns::Ref<ns::Dictionary> dicCarta_;
    bool isRandomCard_ = false;
    long RandomCard_ = -1;
    bool viendoCarta_ = false;
    long savedFont_ = kStartFont;
    bool enlace_ = false;
    ns::Ref<RandomSource> random_;
    ns::Ref<SwipeableWebView_ipad> webView_;
    ns::Ref<ui::ImageView> imgheader_, imgfondo_;
    ns::Ref<ui::Button> btnBack_, btnShare_;
    ns::Ref<ui::Label> lblTitle_;
};

}  // namespace app
