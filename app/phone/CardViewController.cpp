#include "app/phone/CardViewController.h"

#include "app/AppConfig.h"
#include "app/AppDelegate.h"
#include "app/AppLog.h"
#include "app/ContentModel.h"
#include "app/MailSupport.h"
#include "app/phone/CardFullViewController.h"
#include "app/phone/ShareCardViewController_Iphone.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"
#include "platform/ui/NavigationController.h"

namespace app {

namespace {
constexpr double kHeaderHeight = 60;
constexpr double kFlipSeconds = 0.75;

ns::Array* deckCards() {
    AppDelegate* d = AppDelegate::shared();
    return d ? d->allCards() : nullptr;
}
}  // namespace

std::string CardViewController::fontSizeScript(long px) {
    return "document.getElementsByTagName('body')[0].style.fontSize= '" + std::to_string(px) + "px'";
}

// The screen's interface: the background image filling the screen, the
// header image along the top with the back button, the title and the share
// button on it, and the page below the header.
void CardViewController::loadView() {
    ui::Rect b = ui::Screen::main()->bounds();
    auto root = ui::View::make(b);
    root->setAutoresizesSubviews(true);
    imgfondo_ = ui::ImageView::make(b);
    imgfondo_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    root->addSubview(imgfondo_);
    imgheader_ = ui::ImageView::make(ui::makeRect(0, 0, b.width(), kHeaderHeight));
    imgheader_->setAutoresizingMask(ui::AutoresizingFlexibleWidth);
    root->addSubview(imgheader_);
    btnBack_ = ui::Button::make(ui::makeRect(5, 10, 100, 40), "Back");
    btnBack_->addTarget(this, &CardViewController::clicbtnAtras, ui::ControlEventTouchUpInside);
    root->addSubview(btnBack_);
    lblTitle_ = ui::Label::make(ui::makeRect(110, 10, b.width() - 220, 40));
    lblTitle_->setTextAlignment(ui::TextAlignment::Center);
    root->addSubview(lblTitle_);
    btnShare_ = ui::Button::make(ui::makeRect(b.width() - 105, 10, 100, 40), "Share");
    btnShare_->setAutoresizingMask(ui::AutoresizingFlexibleLeftMargin);
    btnShare_->addTarget(this, &CardViewController::clicBtnShare, ui::ControlEventTouchUpInside);
    root->addSubview(btnShare_);
    webView_ = SwipeableWebView_ipad::make(ui::makeRect(0, kHeaderHeight, b.width(), b.height() - kHeaderHeight));
    webView_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    webView_->setDelegate(this);
    webView_->setSwipeDelegate_ipad(this);
    root->addSubview(webView_);
    setView(root);
}

void CardViewController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    btnShare_->setHidden(!rowHas(dicCarta_.get(), "post"));
    enlace_ = false;
    viendoCarta_ = false;
    RandomCard_ = -1;
    savedFont_ = kStartFont;
    if (auto t = rowTitle(dicCarta_.get())) lblTitle_->setText(std::string(t->utf8()));
    if (isRandomCard_) cargaHtmlPractice();
}

void CardViewController::viewWillAppear(bool animated) {
    ui::ViewController::viewWillAppear(animated);
    if (webView_) webView_->setWindowChild();
}

void CardViewController::cargaHtmlWebView(const std::string& page) { loadCardPage(webView(), page, savedFont_); }

void CardViewController::cambiarColorPagina(const std::string& colour) {
    view();
    imgheader_->setImage(ui::Image::imageNamed(headerImageName(colour)));
    imgfondo_->setImage(ui::Image::imageNamed(backgroundImageName(colour)));
}

void CardViewController::cargaHtmlPractice() {
    ns::Array* cards = deckCards();
    size_t count = cards ? cards->count() : 0;
    if (count == 0) {
        // Nothing to practise with: stay without a card (taps do nothing).
        appLog("Practice: the deck has no cards");
        RandomCard_ = -1;
        webView()->loadHTMLString("", nullptr);
        return;
    }
    if (!random_) random_ = RandomSource::shared();
    long chosen = static_cast<long>(random_->next32() % count);
    ns::Dictionary* card = rowAt(cards, static_cast<size_t>(chosen));
    if (!card) {
        appLog("Practice: deck entry " + std::to_string(chosen) + " is not a card");
        RandomCard_ = -1;
        webView()->loadHTMLString("", nullptr);
        return;
    }
    RandomCard_ = chosen;
    loadPracticePage(webView(), card, savedFont_);
    std::string colour = rowString(card, "color");
    imgheader_->setImage(ui::Image::imageNamed("CabezaCarta-" + colour + ".png"));
    imgfondo_->setImage(ui::Image::imageNamed("FondoCarta-" + colour));
    dicCarta_ = ns::Ref<ns::Dictionary>(card);
}

void CardViewController::flip(ui::AnimationTransition t) {
    ui::View::beginAnimations();
    ui::View::setAnimationDuration(kFlipSeconds);
    ui::View::setAnimationTransition(t, view(), true);
    ui::View::commitAnimations();
}

void CardViewController::registerTap() {
    if (!isRandomCard_ || RandomCard_ == -1) return;
    auto keep = ns::keepAlive(this);
    if (viendoCarta_) {
        viendoCarta_ = false;
        cargaHtmlPractice();
        flip(ui::AnimationTransition::FlipFromRight);
    } else {
        viendoCarta_ = true;
        cargaHtmlWebView(cardPageNameForIndex(rowString(dicCarta_.get(), "index")));
        flip(ui::AnimationTransition::FlipFromLeft);
    }
}

void CardViewController::registerPinchDirection(bool closing) {
    if (closing) {
        if (savedFont_ >= kPinchFloor) --savedFont_;
    } else {
        if (savedFont_ < kPinchCeiling) ++savedFont_;
    }
    webView()->stringByEvaluatingJavaScriptFromString(fontSizeScript(savedFont_));
}

bool CardViewController::webViewShouldStartLoadWithRequest(ui::WebView*, ui::URLRequest* request,
                                                           ui::WebViewNavigationType type) {
    if (type != ui::WebViewNavigationType::LinkClicked) return true;
    ns::URL* url = request ? request->URL() : nullptr;
    if (!url) return false;
    auto keep = ns::keepAlive(this);

    // A link names a card by its "index".
    auto last = url->lastPathComponent();
    std::string name(last ? last->utf8() : std::string());
    ns::Dictionary* card = nullptr;
    if (ns::Array* cards = deckCards(); cards && !name.empty()) {
        for (size_t i = 0; i < cards->count() && !card; ++i) {
            ns::Dictionary* row = rowAt(cards, i);
            if (row && rowHas(row, "index") && rowString(row, "index") == name) card = row;
        }
    }
    enlace_ = card != nullptr;
    if (card) {
        auto* nav = navigationController();
        if (!nav) return false;
        auto next = ns::make<CardViewController>();
        next->setDicCarta(ns::Ref<ns::Dictionary>(card));
        next->setIsRandomCard(false);
        nav->pushViewController(next, true);
        next->view();
        next->cargaHtmlWebView(cardPageNameForIndex(name));
        next->btnBack()->setTitle("Back");
        next->cambiarColorPagina(rowString(card, "color"));
        return false;
    }

    const std::string& link = url->absoluteText();
    if (link == kContactMailLink) {
        // Handled here: the composer opens, and the page does not also load
        // the link (which would hand the same mail to the system).
        showMail();
        return false;
    }
    if (link == kFeedbackMailLink || link == kSuggestionMailLink) return true;
    // An outside page: opened with the system, not loaded in the card.
    ui::Application::shared()->openURL(link);
    return false;
}

void CardViewController::showMail() {
    presentMailComposer(this, this, contactMailSubject(), "", {kContactMailAddress});
}

void CardViewController::mailComposeControllerDidFinishWithResult(mail::MailComposeViewController* c,
                                                                  mail::MailComposeResult result, ns::Error*) {
    if (result == mail::MailComposeResult::Failed) return;  // the composer stays with its alert
    if (c) c->dismissViewControllerAnimated(true);
}

void CardViewController::clicBtnShare(ns::Object*) {
    auto* nav = navigationController();
    if (!nav) return;
    auto share = ns::make<ShareCardViewController_Iphone>();
    share->setDicCarta(dicCarta_);
    nav->pushViewController(share, true);
}

void CardViewController::clicbtnAtras(ns::Object*) {
    if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

bool CardViewController::shouldAutorotate() {
    ui::DeviceOrientation o = ui::Device::current()->orientation();
    if (o == ui::DeviceOrientation::LandscapeLeft || o == ui::DeviceOrientation::LandscapeRight) {
        if (!presentedViewController()) {
            auto full = ns::make<CardFullViewController>();
            full->setDicCarta(dicCarta_);
            presentViewController(full, false);
        }
    }
    return true;
}

}  // namespace app
