#include "app/tablet/UIViewCardFull.h"

#include "app/tablet/TabletNotifications.h"
#include "platform/ui/Image.h"

namespace app {

void UIViewCardFull::dibujarElementos() {
    if (cardController_) return;  // already built
    cerrar_ = observeTablet(kClicCerrar, this, &UIViewCardFull::clicCerrar);
    setAutoresizesSubviews(true);
    setBackgroundColor(ui::Color::clear());

    ui::Rect b = bounds();
    imgFondo_ = ui::ImageView::make(ui::makeRect(0, 0, b.size.width, b.size.height));
    imgFondo_->setImage(ui::Image::imageNamed("fondoTransparencia.png"));
    imgFondo_->setAlpha(0);
    imgFondo_->setAutoresizingMask(ui::AutoresizingFlexibleAll);
    addSubview(imgFondo_);

    cardController_ = ns::make<CardFullViewController_iPad>();
    cardController_->setDicCarta(dicCarta_);
    viewContenido_ = cardController_->viewRef();
    viewContenido_->setCenter({b.size.width / 2, b.size.height / 2});
    viewContenido_->setTransform(ui::Transform::scale(0, 0));
    viewContenido_->setBackgroundColor(ui::Color::clear());
    viewContenido_->setAutoresizesSubviews(true);
    viewContenido_->setAutoresizingMask(ui::AutoresizingFlexibleAll);
    addSubview(viewContenido_);

    ns::Ref<ui::View> contenido = viewContenido_;
    ns::Ref<ui::ImageView> fondo = imgFondo_;
    ui::View::animate(kAnimationDuration, [contenido, fondo] {
        contenido->setTransform(ui::Transform::identity());
        fondo->setAlpha(1.0);
    });
}

void UIViewCardFull::clicCerrar(const ns::Notification&) {
    if (closing_) return;
    closing_ = true;
    postTablet(kWebViewSwip);
    ns::Ref<ui::View> contenido = viewContenido_;
    ns::Ref<ui::ImageView> fondo = imgFondo_;
    ns::Weak<UIViewCardFull> weak(this);
    ui::View::animate(
        kAnimationDuration,
        [contenido, fondo] {
            if (contenido) {
                contenido->setTransform(ui::Transform::scale(0, 0));
                contenido->setAlpha(0);
            }
            if (fondo) fondo->setAlpha(0);
        },
        [weak](bool) {
            if (auto self = weak.lock()) {
                self->cerrar_.reset();
                self->removeFromSuperview();
            }
        });
}

}  // namespace app
