// The phone's card page. This is its starting shape: the card's page in a
// web view with its colour header and background, a back button and a
// title label. Pinch, links, practice and sharing are added with the phone
// card screens.
#pragma once

#include <string>

#include "app/SwipeableWebView_ipad.h"
#include "platform/foundation/Dictionary.h"
#include "platform/ui/Control.h"
#include "platform/ui/ViewController.h"

namespace app {

class CardViewController : public ui::ViewController {
public:
    const char* className() const override { return "CardViewController"; }

    ns::Dictionary* dicCarta() const { return dicCarta_.get(); }
    void setDicCarta(ns::Ref<ns::Dictionary> d) { dicCarta_ = std::move(d); }
    bool isRandomCard() const { return isRandomCard_; }
    void setIsRandomCard(bool b) { isRandomCard_ = b; }
    long savedFont() const { return savedFont_; }

    ui::Button* btnBack() { view(); return btnBack_.get(); }
    ui::Label* lblTitle() { view(); return lblTitle_.get(); }
    SwipeableWebView_ipad* webView() { view(); return webView_.get(); }
    ui::ImageView* imgCabeza() { view(); return imgCabeza_.get(); }
    ui::ImageView* imgCuerpo() { view(); return imgCuerpo_.get(); }

    // Loads the bundle page `page` with the font size injected.
    void cargaHtmlWebView(const std::string& page);
    // Header and background images of the colour.
    void cambiarColorPagina(const std::string& colour);
    void clicBtnBack(ns::Object* sender);

    void loadView() override;
    void viewDidLoad() override;
    bool shouldAutorotate() override { return true; }
    unsigned supportedInterfaceOrientations() override { return 2; }

private:
    ns::Ref<ns::Dictionary> dicCarta_;
    bool isRandomCard_ = false;
    long savedFont_ = 13;
    ns::Ref<ui::Button> btnBack_;
    ns::Ref<ui::Label> lblTitle_;
    ns::Ref<ui::ImageView> imgCabeza_, imgCuerpo_;
    ns::Ref<SwipeableWebView_ipad> webView_;
};

}  // namespace app
