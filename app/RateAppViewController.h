// A small rate-the-app page: the bundle page "VELTRA_RateApp.html" (folder
// "html_iphone_VELTRA") with a pinch-adjustable font size, a "rateApp" link
// that opens the store's review page, and a back button. No screen of the
// app opens it; it is offered for screens that want it.
#pragma once

#include "app/SwipeableWebView_ipad.h"
#include "platform/ui/Control.h"
#include "platform/ui/ViewController.h"

namespace app {

class RateAppViewController : public ui::ViewController,
                              public ui::WebViewDelegate,
                              public SwipeableWebViewDelegate_ipad {
public:
    const char* className() const override { return "RateAppViewController"; }

    long savedFont() const { return savedFont_; }
    SwipeableWebView_ipad* webView() { view(); return webView_.get(); }
    ui::Button* btnBack() { view(); return btnBack_.get(); }

    void clicBtnBack(ns::Object* sender);
    void registerPinchDirection(bool closing) override;
    bool answers(SwipeableWebViewDelegate_ipad::Optional op) const override {
        return op == SwipeableWebViewDelegate_ipad::Optional::RegisterPinchDirection;
    }
    bool webViewShouldStartLoadWithRequest(ui::WebView* wv, ui::URLRequest* request,
                                           ui::WebViewNavigationType type) override;

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

private:
    long savedFont_ = 13;
    ns::Ref<SwipeableWebView_ipad> webView_;
    ns::Ref<ui::Button> btnBack_;
};

// The phone's root table screen of the interface files: one title label.
// Nothing in the app creates it.
class RootTableViewController_iPhone : public ui::ViewController {
public:
    const char* className() const override { return "RootTableViewController_iPhone"; }
    ui::Label* lblTitulo() { view(); return lblTitulo_.get(); }
    void loadView() override;

private:
    ns::Ref<ui::Label> lblTitulo_;
};

}  // namespace app
