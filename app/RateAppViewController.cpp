#include "app/RateAppViewController.h"

#include "app/ContentModel.h"
#include "app/RatePromptManager.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/URL.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"

namespace app {

namespace {
constexpr const char* kRateFolder = "html_iphone_VELTRA";
constexpr const char* kRatePage = "VELTRA_RateApp.html";
}  // namespace

void RateAppViewController::loadView() {
    ui::Rect b = ui::Screen::main()->bounds();
    auto root = ui::View::make(b);
    btnBack_ = ui::Button::make(ui::makeRect(5, 10, 100, 40), "Back");
    btnBack_->addTarget(this, &RateAppViewController::clicBtnBack, ui::ControlEventTouchUpInside);
    root->addSubview(btnBack_);
    webView_ = SwipeableWebView_ipad::make(ui::makeRect(0, 60, b.size.width, b.size.height - 60));
    webView_->setDelegate(this);
    webView_->setSwipeDelegate_ipad(this);
    root->addSubview(webView_);
    setView(root);
}

void RateAppViewController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    if (auto* nav = navigationController()) {
        nav->setNavigationBarHidden(true);
        if (!nav->viewControllers().empty()) btnBack_->setTitle(nav->viewControllers().front()->title());
    }
    savedFont_ = 13;
    std::string path = ns::Paths::join(ns::Paths::join(ns::Paths::bundleResourcePath(), kRateFolder), kRatePage);
    auto html = ns::readFile(path, nullptr, ui::WebView::kMaxPageBytes);
    webView_->loadHTMLString(injectFontSize(html ? *html : std::string(), savedFont_),
                             ns::URL::fileURLWithPath(path));
}

void RateAppViewController::viewWillAppear(bool animated) {
    ui::ViewController::viewWillAppear(animated);
    webView_->setWindowChild();
}

void RateAppViewController::registerPinchDirection(bool closing) {
    if (closing) {
        if (savedFont_ >= 15) --savedFont_;
    } else if (savedFont_ < 41) {
        ++savedFont_;
    }
    webView_->stringByEvaluatingJavaScriptFromString("document.body.style.fontSize = '" +
                                                     std::to_string(savedFont_) + "px';");
}

bool RateAppViewController::webViewShouldStartLoadWithRequest(ui::WebView*, ui::URLRequest* request,
                                                              ui::WebViewNavigationType type) {
    if (type != ui::WebViewNavigationType::LinkClicked) return true;
    if (request && request->URL() && request->URL()->lastPathComponent()->utf8() == "rateApp")
        RatePromptManagerIphone::showRatePage();
    return false;
}

void RateAppViewController::clicBtnBack(ns::Object*) {
    if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

void RootTableViewController_iPhone::loadView() {
    ui::Rect b = ui::Screen::main()->bounds();
    auto root = ui::View::make(b);
    lblTitulo_ = ui::Label::make(ui::makeRect(10, 10, b.size.width - 20, 40));
    root->addSubview(lblTitulo_);
    setView(root);
}

}  // namespace app
