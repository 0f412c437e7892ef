// The overlays that lay a form over a screen: a dimming background and the
// form, which grows in over 0.5 s. A sent or refused form (the
// "clicAceptar" / "clicRechazar" notifications, from any form) closes every
// open overlay over 0.5 s and removes it. The sign-up overlay logs
// "RegistrationComplete" / "RegistrationCancelled" as it closes.
#pragma once

#include "app/forms/FormScreens.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

namespace app {

class FormOverlay : public ui::View {
public:
    explicit FormOverlay(ui::Rect frame) : ui::View(frame) {}

    // Lays the referral (or sign-up) overlay over `host` at x 0, y `top`
    // with `size`, growing with its host, and shows its form.
    static void showOver(ui::View* host, double top, ui::Size size, bool referral);

    // Builds and shows the form.
    void dibujarElementos();
    void clicAceptar(const ns::Notification& n);
    void clicRechazar(const ns::Notification& n);

    ui::View* viewContenido() const { return viewContenido_.get(); }
    void setViewContenido(ns::Ref<ui::View> v) { viewContenido_ = std::move(v); }
    long flagPosicion() const { return flagPosicion_; }
    void setFlagPosicion(long f) { flagPosicion_ = f; }
    ui::ImageView* imgFondo() const { return imgFondo_.get(); }
    FormViewController* singController() const { return singController_.get(); }

protected:
    virtual ns::Ref<FormViewController> makeController() = 0;
    virtual void logClose(bool accepted) {}

private:
    ns::Ref<ui::ImageView> imgFondo_;
    ns::Ref<FormViewController> singController_;
    ns::Ref<ui::View> viewContenido_;
    long flagPosicion_ = 0;
    bool closing_ = false;
    ns::ObserverToken aceptar_, rechazar_;
};

class UIViewSingUp : public FormOverlay {
public:
    explicit UIViewSingUp(ui::Rect frame) : FormOverlay(frame) { setCoverName("the sign-up form"); }
    const char* className() const override { return "UIViewSingUp"; }

protected:
    ns::Ref<FormViewController> makeController() override { return ns::make<SingUpViewController>(); }
    void logClose(bool accepted) override;
};

class UIViewReferral : public FormOverlay {
public:
    explicit UIViewReferral(ui::Rect frame) : FormOverlay(frame) { setCoverName("the referral form"); }
    const char* className() const override { return "UIViewReferral"; }

protected:
    ns::Ref<FormViewController> makeController() override { return ns::make<ReferralViewController>(); }
};

}  // namespace app
