// The full-screen card the phone shows in landscape: the same page, header
// and background as the card page, with no gestures or link handling of its
// own. It takes the window's touches while shown and dismisses itself when
// the phone turns back to portrait.
#pragma once

#include "platform/foundation/Dictionary.h"
#include "platform/ui/Control.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/WebView.h"

namespace app {

class CardFullViewController : public ui::ViewController {
public:
    const char* className() const override { return "CardFullViewController"; }

    ns::Dictionary* dicCarta() const { return dicCarta_.get(); }
    void setDicCarta(ns::Ref<ns::Dictionary> d) { dicCarta_ = std::move(d); }
    long savedFont() const { return savedFont_; }

    ui::WebView* webView() { view(); return webView_.get(); }
    ui::ImageView* imgheader() { view(); return imgheader_.get(); }
    ui::ImageView* imgfondo() { view(); return imgfondo_.get(); }
    ui::Button* btnBack() { view(); return btnBack_.get(); }
    ui::Label* lblTitle() { view(); return lblTitle_.get(); }

    void cargaHtmlWebView(const std::string& page);
    void cambiarColorPagina(const std::string& colour);

    void loadView() override;
    void viewDidLoad() override;
    // Always YES; out of landscape it first dismisses itself.
    bool shouldAutorotate() override;
    unsigned supportedInterfaceOrientations() override { return ui::InterfaceOrientationMaskAll; }

private:
    ns::Ref<ns::Dictionary> dicCarta_;
    long savedFont_ = 13;
    ns::Ref<ui::WebView> webView_;
    ns::Ref<ui::ImageView> imgheader_, imgfondo_;
    ns::Ref<ui::Button> btnBack_;
    ns::Ref<ui::Label> lblTitle_;
};

}  // namespace app
