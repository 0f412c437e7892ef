#include "app/tablet/webViewController_ipad.h"

#include "app/AppConfig.h"
#include "app/AppLog.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/URL.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"

namespace app {

void buildwebViewController_ipadInterface(webViewController_ipad& c) {
    ui::Rect b = ui::Screen::main()->bounds();
    auto root = ui::View::make(b);
    auto back = ui::Button::make(ui::makeRect(10, 10, 100, 40), webViewController_ipad::kBackTitle);
    back->addTarget(&c, &webViewController_ipad::clic_Back, ui::ControlEventTouchUpInside);
    root->addSubview(back);
    auto web = ui::WebView::make(ui::makeRect(0, 60, b.size.width, b.size.height - 60));
    web->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    root->addSubview(web);
    auto activi = ns::make<ui::ActivityIndicatorView>(ui::ActivityIndicatorView::Style::Gray);
    activi->setFrame(ui::makeRect(b.size.width / 2 - 20, b.size.height / 2 - 20, 40, 40));
    root->addSubview(activi);
    c.setView(root);
    c.setOutlets(web, activi);
}

void webViewController_ipad::setOutlets(ns::Ref<ui::WebView> web, ns::Ref<ui::ActivityIndicatorView> activi) {
    webView_ = std::move(web);
    activi_ = std::move(activi);
    if (webView_) webView_->setDelegate(this);
}

void webViewController_ipad::loadView() { buildwebViewController_ipadInterface(*this); }

std::string webViewController_ipad::pageURL() const {
    switch (tipo_) {
    case 1: {
        // The page stays inside the bundle's "html_ipad" folder.
        if (pagina_.find("..") != std::string::npos) return {};
        std::string path = ns::Paths::join(ns::Paths::bundleResourcePath(), "html_ipad") + pagina_;
        return std::string(ns::URL::fileURLWithPath(path)->absoluteString()->utf8());
    }
    case 2: return kMakerTwitterPage;
    case 3: return kMakerFacebookPage;
    default: return {};
    }
}

void webViewController_ipad::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    std::string url = pageURL();
    if (url.empty()) {
        appLog("Web page: nothing to show for type " + std::to_string(tipo_) + " and page \"" + pagina_ + "\"");
        return;
    }
    if (auto request = ui::URLRequest::requestWithString(url)) webView_->loadRequest(request);
}

void webViewController_ipad::clic_Back(ns::Object*) {
    if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

void webViewController_ipad::webViewDidStartLoad(ui::WebView*) {
    activi_->setHidden(false);
    activi_->startAnimating();
}

void webViewController_ipad::webViewDidFinishLoad(ui::WebView*) {
    activi_->stopAnimating();
    activi_->setHidden(true);
}

void webViewController_ipad::webViewDidFailLoadWithError(ui::WebView*, ns::Error*) {
    activi_->stopAnimating();
    activi_->setHidden(true);
}

}  // namespace app
