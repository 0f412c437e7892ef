// The full-screen card's content: the card's page with its colour header
// and background, and a close button. While it is shown it receives the
// touches over card pages (it is the window's touch child), so the hub's
// card pane no longer turns them into gestures.
#pragma once

#include "platform/foundation/Dictionary.h"
#include "platform/ui/Control.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/WebView.h"

namespace app {

class CardFullViewController_iPad : public ui::ViewController {
public:
    static constexpr long kFont = 13;
    static constexpr const char* kCloseTitle = "Close";

    const char* className() const override { return "CardFullViewController_iPad"; }

    ns::Dictionary* dicCarta() const { return dicCarta_.get(); }
    void setDicCarta(ns::Ref<ns::Dictionary> card) { dicCarta_ = std::move(card); }

    ui::ImageView* imgheader() const { return imgheader_.get(); }
    ui::ImageView* imgfondo() const { return imgfondo_.get(); }
    ui::WebView* webView() const { return webView_.get(); }
    ui::Button* closeButton() const { return close_.get(); }
    long savedFont() const { return savedFont_; }

    // Close button: posts "clicCerrar".
    void clicCerrar(ns::Object* sender);
    // Loads the page from "html_iphone" with the font size injected.
    void cargaHtmlWebView(const std::string& pageName);
    // Header and background images of the colour.
    void cambiarColorPagina(const std::string& colour);

    void loadView() override;
    void viewDidLoad() override;
    bool shouldAutorotate() override { return true; }
    unsigned supportedInterfaceOrientations() override { return 30; }

    void setOutlets(ns::Ref<ui::ImageView> header, ns::Ref<ui::ImageView> fondo, ns::Ref<ui::WebView> web,
                    ns::Ref<ui::Button> close);

private:
    ns::Ref<ns::Dictionary> dicCarta_;
    ns::Ref<ui::ImageView> imgheader_, imgfondo_;
    ns::Ref<ui::WebView> webView_;
    ns::Ref<ui::Button> close_;
    long savedFont_ = kFont;
};

// The full card's interface: background, header, web view and close button.
void buildCardFullViewController_iPadInterface(CardFullViewController_iPad& c);

}  // namespace app
