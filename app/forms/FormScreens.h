// The sign-up and referral form screens, and the overlays that show them
// over a screen.
//
// A form screen checks that no field is empty ("Error" alert otherwise),
// builds the form's fields in their fixed order and hands them to the
// app's form poster (FormPoster.h), showing the progress overlay with
// "Loading..." meanwhile. A post the service took (a reply with a status
// below 400) or a refusal sets the user-defaults flag "registro" (the
// start-up sign-up overlay is then never shown again) and posts
// "clicAceptar" / "clicRechazar", which close every open overlay. A post
// that failed, or that the service answered with an error status, hides
// the progress overlay and leaves the form open.
#pragma once

#include <string>
#include <vector>

#include "app/forms/FormPoster.h"
#include "app/widgets/ProgressHUD.h"
#include "platform/foundation/Timer.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Control.h"
#include "platform/ui/Label.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

namespace app {

inline constexpr const char* kClicAceptarNotification = "clicAceptar";
inline constexpr const char* kClicRechazarNotification = "clicRechazar";

// What both form screens share.
class FormViewController : public ui::ViewController, public ui::TextFieldDelegate, public FormPostDelegate {
public:
    ~FormViewController() override;

    void clicAceptar(ns::Object* sender);
    void clicRechazar(ns::Object* sender);
    // True when any field of the form has empty text (blanks are text).
    bool camposVacios();
    void enviarNoti();

    void requestFinished(int status, const std::string& body) override;
    void requestFailed(const std::string& description) override;

    void textFieldDidBeginEditing(ui::TextField* f) override;
    bool textFieldShouldReturn(ui::TextField* f) override;

    void loadView() override;
    void viewDidLoad() override;

    ui::ScrollView* scrVentana() { view(); return scrVentana_.get(); }
    ui::View* viewVentana() { view(); return viewVentana_.get(); }
    // The progress overlay while posting (not owned: its superview holds it).
    ProgressHUD* hud() const { return hud_.lock().get(); }
    const ns::Ref<FormPostRequest>& arequest() const { return arequest_; }
    void setArequest(ns::Ref<FormPostRequest> r) { arequest_ = std::move(r); }

    // The form's fields in their fixed order.
    virtual FormFields formFields() = 0;

protected:
    virtual std::string heading() const = 0;
    virtual std::string successText() const = 0;
    virtual std::vector<std::pair<std::string, ns::Ref<ui::TextField>*>> fieldOutlets() = 0;
    std::vector<ns::Ref<ui::TextField>> textFields();
    static std::string text(const ns::Ref<ui::TextField>& f) { return f ? f->text() : std::string(); }
    // `fields` followed by the app's and the device's fields every form sends.
    static FormFields withAppFields(FormFields fields);

private:
    ns::Ref<ui::ScrollView> scrVentana_;
    ns::Ref<ui::View> viewVentana_;
    ns::Weak<ProgressHUD> hud_;
    ns::Ref<FormPostRequest> arequest_;
    ns::Ref<ns::Timer> noticeTimer_;
};

class SingUpViewController : public FormViewController {
public:
    const char* className() const override { return "SingUpViewController"; }
    ui::TextField* txtNombre() { view(); return txtNombre_.get(); }
    ui::TextField* txtUniversidad() { view(); return txtUniversidad_.get(); }
    ui::TextField* txtEmail() { view(); return txtEmail_.get(); }
    FormFields formFields() override;

protected:
    std::string heading() const override { return "Sign up for news from Tarnwick"; }
    std::string successText() const override;
    std::vector<std::pair<std::string, ns::Ref<ui::TextField>*>> fieldOutlets() override;

private:
    ns::Ref<ui::TextField> txtNombre_, txtUniversidad_, txtEmail_;
};

class ReferralViewController : public FormViewController {
public:
    const char* className() const override { return "ReferralViewController"; }
    ui::TextField* txtNombre() { view(); return txtNombre_.get(); }
    ui::TextField* txtEmail() { view(); return txtEmail_.get(); }
    ui::TextField* txtWhoReferred() { view(); return txtWhoReferred_.get(); }
    ui::TextField* txtEmailRefe() { view(); return txtEmailRefe_.get(); }
    FormFields formFields() override;

protected:
    std::string heading() const override { return "Tell a friend about the cards"; }
    std::string successText() const override { return "Got it! Thanks for Sharing!"; }
    std::vector<std::pair<std::string, ns::Ref<ui::TextField>*>> fieldOutlets() override;

private:
    ns::Ref<ui::TextField> txtNombre_, txtEmail_, txtWhoReferred_, txtEmailRefe_;
};

}  // namespace app
