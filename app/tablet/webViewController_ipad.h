// A simple tablet web page screen with an activity indicator: a page of
// the bundle's "html_ipad" folder (tipo 1) or the maker's Twitter (2) or
// Facebook (3) page. Back pops it from its navigation controller.
#pragma once

#include <string>

#include "platform/ui/Control.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/WebView.h"

namespace app {

class webViewController_ipad : public ui::ViewController, public ui::WebViewDelegate {
public:
    static constexpr const char* kBackTitle = "Back";

    const char* className() const override { return "webViewController_ipad"; }

    ui::WebView* webView() const { return webView_.get(); }
    ui::ActivityIndicatorView* activi() const { return activi_.get(); }
    // A page path beginning with "/", inside "html_ipad".
    const std::string& pagina() const { return pagina_; }
    void setPagina(std::string p) { pagina_ = std::move(p); }
    long tipo() const { return tipo_; }
    void setTipo(long t) { tipo_ = t; }
    // The address loaded for the current tipo ("" for an unknown tipo or a
    // page path that leaves the folder).
    std::string pageURL() const;

    void clic_Back(ns::Object* sender);

    void loadView() override;
    void viewDidLoad() override;
    bool shouldAutorotate() override { return true; }
    bool shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation) override { return true; }

    void webViewDidStartLoad(ui::WebView* wv) override;
    void webViewDidFinishLoad(ui::WebView* wv) override;
    void webViewDidFailLoadWithError(ui::WebView* wv, ns::Error* error) override;

    void setOutlets(ns::Ref<ui::WebView> web, ns::Ref<ui::ActivityIndicatorView> activi);

private:
    ns::Ref<ui::WebView> webView_;
    ns::Ref<ui::ActivityIndicatorView> activi_;
    std::string pagina_;
    long tipo_ = 1;
};

void buildwebViewController_ipadInterface(webViewController_ipad& c);

}  // namespace app
