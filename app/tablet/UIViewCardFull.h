// The full-screen card overlay that the hub lays over itself: a dimming
// background and the card's content, which zooms in from the centre over
// 0.5 s. The content's close button ("clicCerrar") zooms it out again over
// 0.5 s, hands touch routing back to the card pane ("webViewSwip") and
// removes the overlay when the animation ends.
#pragma once

#include "app/tablet/CardFullViewController_iPad.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

namespace app {

class UIViewCardFull : public ui::View {
public:
    static constexpr double kAnimationDuration = 0.5;

    explicit UIViewCardFull(ui::Rect frame) : ui::View(frame) { setCoverName("the full card"); }
    const char* className() const override { return "UIViewCardFull"; }

    ns::Dictionary* dicCarta() const { return dicCarta_.get(); }
    void setDicCarta(ns::Ref<ns::Dictionary> card) { dicCarta_ = std::move(card); }
    ui::ImageView* imgFondo() const { return imgFondo_.get(); }
    CardFullViewController_iPad* cardController() const { return cardController_.get(); }
    ui::View* viewContenido() const { return viewContenido_.get(); }

    // Builds the overlay and zooms the card in.
    void dibujarElementos();
    // Notification "clicCerrar": zooms out and removes the overlay.
    void clicCerrar(const ns::Notification& n);

private:
    ns::Ref<ns::Dictionary> dicCarta_;
    ns::Ref<ui::ImageView> imgFondo_;
    ns::Ref<CardFullViewController_iPad> cardController_;
    ns::Ref<ui::View> viewContenido_;
    ns::ObserverToken cerrar_;
    bool closing_ = false;
};

}  // namespace app
