#include "app/forms/UIViewSingUp.h"

#include "analytics/Analytics.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"

namespace app {

void FormOverlay::showOver(ui::View* host, double top, ui::Size size, bool referral) {
    ui::Rect frame = ui::makeRect(0, top, size.width, size.height);
    ns::Ref<FormOverlay> overlay;
    if (referral) overlay = ns::make<UIViewReferral>(frame);
    else overlay = ns::make<UIViewSingUp>(frame);
    host->addSubview(overlay);
    overlay->setAutoresizesSubviews(true);
    overlay->setAutoresizingMask(ui::AutoresizingFlexibleAll);
    overlay->dibujarElementos();
}

void FormOverlay::dibujarElementos() {
    if (singController_) return;  // already shown
    auto center = ns::NotificationCenter::defaultCenter();
    ns::Weak<FormOverlay> weak(this);
    aceptar_ = center->addObserver(kClicAceptarNotification, nullptr, [weak](const ns::Notification& n) {
        if (auto self = weak.lock()) self->clicAceptar(n);
    });
    rechazar_ = center->addObserver(kClicRechazarNotification, nullptr, [weak](const ns::Notification& n) {
        if (auto self = weak.lock()) self->clicRechazar(n);
    });
    setAutoresizesSubviews(true);
    setBackgroundColor(ui::Color::clear());

    ui::Rect b = ui::makeRect(0, 0, frame().size.width, frame().size.height);
    imgFondo_ = ui::ImageView::make(b);
    imgFondo_->setImage(ui::Image::imageNamed("fondoTransparencia.png"));
    imgFondo_->setAlpha(0);
    imgFondo_->setAutoresizingMask(ui::AutoresizingFlexibleAll);
    addSubview(imgFondo_);

    singController_ = makeController();
    viewContenido_ = singController_->viewRef();
    viewContenido_->setFrame(b);
    viewContenido_->setTransform(ui::Transform::scale(0, 0));
    addSubview(viewContenido_);

    ui::View::animate(0.5, [this] {
        viewContenido_->setTransform(ui::Transform::identity());
        imgFondo_->setAlpha(1);
    });

    if (ui::isPad() && flagPosicion_ != 1) {
        viewContenido_->setAutoresizesSubviews(true);
        if (ui::isLandscape(ui::Device::current()->orientation())) {
            viewContenido_->setCenter({frame().size.width / 2, frame().size.height / 2 - 70});
            viewContenido_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleBottomMargin);
        } else {
            viewContenido_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleTopMargin);
        }
    }
}

void FormOverlay::clicAceptar(const ns::Notification&) {
    if (closing_) return;
    closing_ = true;
    // Answered: while it fades out, touches go to what lies under it, as the
    // screen no longer shows the form.
    setUserInteractionEnabled(false);
    auto keep = ns::keepAlive(this);
    logClose(true);
    ns::Ref<ui::View> contenido = viewContenido_;
    ui::View::animate(0.5, [this, contenido] {
        if (contenido) contenido->setTransform(ui::Transform::scale(0, 0));
        imgFondo_->setAlpha(0);
    }, [keep](bool) { keep->removeFromSuperview(); });
    viewContenido_ = nullptr;
}

void FormOverlay::clicRechazar(const ns::Notification&) {
    if (closing_) return;
    closing_ = true;
    setUserInteractionEnabled(false);  // touches pass while it fades out
    auto keep = ns::keepAlive(this);
    logClose(false);
    ui::View::animate(0.5, [this] {
        if (viewContenido_) {
            viewContenido_->setTransform(ui::Transform::scale(0, 0));
            viewContenido_->setAlpha(0);
        }
        imgFondo_->setAlpha(0);
    }, [keep](bool) { keep->removeFromSuperview(); });
}

void UIViewSingUp::logClose(bool accepted) {
    analytics::Analytics::logEvent(accepted ? "RegistrationComplete" : "RegistrationCancelled");
}

}  // namespace app
