#include "app/forms/FormScreens.h"

#include "app/AppConfig.h"
#include "app/AppLog.h"
#include "net/json/JsonCategories.h"
#include "platform/foundation/Foundation.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/ServiceEndpoints.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"

namespace app {

// -- Form screens ----------------------------------------------------------------------

FormViewController::~FormViewController() {
    if (noticeTimer_) noticeTimer_->invalidate();
}

std::vector<ns::Ref<ui::TextField>> FormViewController::textFields() {
    view();
    std::vector<ns::Ref<ui::TextField>> out;
    for (auto& [name, outlet] : fieldOutlets()) out.push_back(*outlet);
    return out;
}

// The interface file: a scroll view holding the form's window with a
// heading, one field per entry, and the send and refuse buttons.
void FormViewController::loadView() {
    ui::Rect b = ui::Screen::main()->bounds();
    auto root = ui::View::make(b);
    root->setAutoresizingMask(ui::AutoresizingFlexibleAll);
    scrVentana_ = ns::make<ui::ScrollView>(b);
    scrVentana_->setAutoresizingMask(ui::AutoresizingFlexibleAll);
    root->addSubview(scrVentana_);
    double w = std::min(b.size.width, 320.0);
    double x = (b.size.width - w) / 2;
    viewVentana_ = ui::View::make(ui::makeRect(x, 0, w, 480));
    viewVentana_->setBackgroundColor(ui::Color::white());
    if (ui::isPad()) {
        // On the tablet the form stands in the middle of its view and stays
        // there as the view turns, so its fields and buttons are on the
        // screen upright and in landscape alike.
        viewVentana_->setFrame(ui::makeRect(x, std::max(0.0, (b.size.height - 480) / 2), w, 480));
        viewVentana_->setAutoresizingMask(ui::AutoresizingFlexibleLeftMargin | ui::AutoresizingFlexibleRightMargin |
                                          ui::AutoresizingFlexibleTopMargin | ui::AutoresizingFlexibleBottomMargin);
    }
    scrVentana_->addSubview(viewVentana_);
    auto title = ui::Label::make(ui::makeRect(10, 20, w - 20, 40));
    title->setText(heading());
    title->setNumberOfLines(2);
    viewVentana_->addSubview(title);
    double y = 80;
    for (auto& [placeholder, outlet] : fieldOutlets()) {
        auto f = ui::TextField::make(ui::makeRect(20, y, w - 40, 31));
        f->setPlaceholder(placeholder);
        f->setBorderStyle(ui::BorderStyle::RoundedRect);
        f->setAutocorrectionType(ui::AutocorrectionType::No);
        if (placeholder.find("mail") != std::string::npos) {
            f->setKeyboardType(ui::KeyboardType::EmailAddress);
            f->setAutocapitalizationType(ui::AutocapitalizationType::None);
        }
        f->setDelegate(this);
        viewVentana_->addSubview(f);
        *outlet = f;
        y += 45;
    }
    auto send = ui::Button::make(ui::makeRect(20, y + 10, (w - 50) / 2, 40), "Send");
    send->addTarget(this, &FormViewController::clicAceptar, ui::ControlEventTouchUpInside);
    viewVentana_->addSubview(send);
    auto refuse = ui::Button::make(ui::makeRect(30 + (w - 50) / 2, y + 10, (w - 50) / 2, 40), "No, thanks");
    refuse->addTarget(this, &FormViewController::clicRechazar, ui::ControlEventTouchUpInside);
    viewVentana_->addSubview(refuse);
    setView(root);
}

void FormViewController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    view()->setBackgroundColor(ui::Color::clear());
    if (!ui::isPad()) {
        ui::Rect s = ui::Screen::main()->bounds();
        viewVentana_->setFrame(ui::makeRect(0, 0, 320, s.size.height));
    }
    scrVentana_->setContentSize({320, 480});
}

bool FormViewController::camposVacios() {
    for (auto& f : textFields())
        if (!f || f->text().empty()) return true;
    return false;
}

void FormViewController::clicAceptar(ns::Object*) {
    auto keep = ns::keepAlive(this);
    if (camposVacios()) {
        ui::AlertView::make("Error", "You must fill in all fields", nullptr, "Accept")->show();
        return;
    }
    // Held: a field leaving the focus tells its delegate and the keyboard's
    // observers, who may change the form.
    for (auto& f : textFields())
        if (f) f->resignFirstResponder();
    ui::Application::shared()->setNetworkActivityIndicatorVisible(true);

    auto hud = ProgressHUD::showHUDAddedTo(view(), true);
    hud->setLabelText("Loading...");
    // Gone once hidden, so a retry after a failed post does not pile
    // hidden overlays over the form.
    hud->setRemoveFromSuperViewOnHide(true);
    hud_ = hud;

    auto request = ns::make<FormPostRequest>();
    request->url = ns::ServiceEndpoints::url(kFormService, kFormServicePath);
    request->fields = formFields();
    request->tag = 0;
    request->delegate = this;
    arequest_ = request;
    formPoster().post(request);
}

void FormViewController::requestFinished(int status, const std::string& body) {
    auto keep = ns::keepAlive(this);
    // The reply is parsed as JSON and logged; nothing else reads it (the
    // parser logs a reply that is not JSON).
    auto reply = json::JSONValue(ns::String::make(body));
    std::string text = reply ? reply->description() : body;
    if (text.size() > 2000) {
        // Cut at 2000 bytes, but never inside a character.
        size_t cut = 2000;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
        text.resize(cut);
    }
    appLog("Form reply (" + std::to_string(status) + "): " + text);
    // An error status is the service turning the form down, not taking it:
    // the form stays for another try, as when no answer came at all.
    if (status < 100 || status >= 400) {
        requestFailed("HTTP status " + std::to_string(status));
        return;
    }
    ui::Application::shared()->setNetworkActivityIndicatorVisible(false);
    auto defaults = ns::UserDefaults::standardUserDefaults();
    defaults->setObjectForKey(ns::boolean(true), kRegistroKey);
    defaults->synchronize();
    if (auto hud = hud_.lock()) {
        hud->setCustomView(ui::ImageView::withImage(ui::Image::imageNamed("HUDcheckmark.png")));
        hud->setMode(ProgressHUDModeCustomView);
        hud->setLabelText(successText());
        hud->hideAfterDelay(true, 3.0);
    }
    ns::Weak<FormViewController> weak(this);
    if (noticeTimer_) noticeTimer_->invalidate();
    noticeTimer_ = ns::RunLoop::main()->performAfterDelay(3.0, [weak] {
        if (auto self = weak.lock()) self->enviarNoti();
    });
}

void FormViewController::requestFailed(const std::string& description) {
    auto keep = ns::keepAlive(this);
    ui::Application::shared()->setNetworkActivityIndicatorVisible(false);
    appLog("Form post failed: " + description);
    if (auto hud = hud_.lock()) hud->hide(true);
}

void FormViewController::enviarNoti() {
    ns::NotificationCenter::defaultCenter()->postNotification(kClicAceptarNotification);
}

void FormViewController::clicRechazar(ns::Object*) {
    auto keep = ns::keepAlive(this);
    auto defaults = ns::UserDefaults::standardUserDefaults();
    defaults->setObjectForKey(ns::boolean(true), kRegistroKey);
    defaults->synchronize();
    ns::NotificationCenter::defaultCenter()->postNotification(kClicRechazarNotification);
}

void FormViewController::textFieldDidBeginEditing(ui::TextField*) {
    if (ui::isPad()) return;
    double h = ui::Screen::main()->bounds().size.height;
    ui::View::animate(0.3, [this, h] {
        scrVentana_->setFrame(ui::makeRect(scrVentana_->frame().origin.x, 0, 320, h - 216));
    });
}

bool FormViewController::textFieldShouldReturn(ui::TextField* f) {
    if (!ui::isPad()) {
        double h = ui::Screen::main()->bounds().size.height;
        ui::View::animate(0.3, [this, h] {
            scrVentana_->setFrame(ui::makeRect(scrVentana_->frame().origin.x, 0, 320, h + 10));
        });
    }
    f->resignFirstResponder();
    return true;
}

FormFields FormViewController::withAppFields(FormFields fields) {
    fields.insert(fields.end(), {{"appId", "4"}, {"systemId", "2"}, {"version", ui::Device::current()->systemVersion()}});
    return fields;
}

// -- Sign-up -------------------------------------------------------------------------------

std::vector<std::pair<std::string, ns::Ref<ui::TextField>*>> SingUpViewController::fieldOutlets() {
    return {{"Name", &txtNombre_}, {"University or company", &txtUniversidad_}, {"E-mail", &txtEmail_}};
}

std::string SingUpViewController::successText() const {
    return "Got it! We\u2019ll keep you posted with the latest news from Tarnwick!";
}

FormFields SingUpViewController::formFields() {
    view();
    return withAppFields({{"metodo", "SignUp"},
                          {"name", text(txtNombre_)},
                          {"universityCompany", text(txtUniversidad_)},
                          {"email", text(txtEmail_)}});
}

// -- Referral --------------------------------------------------------------------------------

std::vector<std::pair<std::string, ns::Ref<ui::TextField>*>> ReferralViewController::fieldOutlets() {
    return {{"Your name", &txtNombre_},
            {"Your e-mail", &txtEmail_},
            {"Friend's name", &txtWhoReferred_},
            {"Friend's e-mail", &txtEmailRefe_}};
}

FormFields ReferralViewController::formFields() {
    view();
    return withAppFields({{"metodo", "Referrer"},
                          {"referrerName", text(txtNombre_)},
                          {"userName", text(txtWhoReferred_)},
                          {"referrerEmail", text(txtEmail_)},
                          {"userEmail", text(txtEmailRefe_)}});
}

}  // namespace app
