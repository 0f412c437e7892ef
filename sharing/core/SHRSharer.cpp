#include "sharing/core/SHRSharer.h"

#include <map>
#include <mutex>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Color.h"
#include "sharing/core/SHR.h"
#include "sharing/core/SHRRequest.h"
#include "sharing/ui/SHRActivityIndicator.h"
#include "sharing/ui/SHRFormController.h"
#include "sharing/ui/SHRFormControllerLargeTextField.h"

namespace sharing {

void registerBuiltinSharers();

// -- Default delegate ----------------------------------------------------------

void SHRDefaultSharerDelegate::sharerStartedSending(SHRSharer* sharer) {
    if (sharer->quiet()) return;
    SHRActivityIndicator::currentIndicator()->displayActivity(SHRLocalizedString("Saving to %@", sharer->sharerTitle()));
}

void SHRDefaultSharerDelegate::sharerFinishedSending(SHRSharer* sharer) {
    if (sharer->quiet()) return;
    SHRActivityIndicator::currentIndicator()->displayCompleted(SHRLocalizedString("Saved!"));
}

void SHRDefaultSharerDelegate::sharerFailedWithErrorShouldRelogin(SHRSharer* sharer, ns::Error* error,
                                                                  bool shouldRelogin) {
    if (sharer->quiet()) return;
    SHRActivityIndicator::currentIndicator()->hide();
    std::string message = sharer->lastError() ? sharer->lastError()->localizedDescription()
                                              : SHRLocalizedString("There was an error while sharing");
    ui::AlertView::make(SHRLocalizedString("Error"), message, nullptr, SHRLocalizedString("Close"))->show();
    if (shouldRelogin) sharer->promptAuthorization();
}

// -- Registry ------------------------------------------------------------------

namespace {
std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}
std::map<std::string, SHRSharer::Factory>& registry() {
    static std::map<std::string, SHRSharer::Factory> r;
    return r;
}
void ensureBuiltins() {
    static std::once_flag once;
    std::call_once(once, [] { registerBuiltinSharers(); });
}
}  // namespace

void SHRSharer::registerSharerClass(const std::string& name, Factory factory) {
    std::lock_guard<std::mutex> g(registryMutex());
    registry()[name] = std::move(factory);
}

ns::Ref<SHRSharer> SHRSharer::sharerWithClassName(const std::string& name) {
    ensureBuiltins();
    Factory f;
    {
        std::lock_guard<std::mutex> g(registryMutex());
        auto it = registry().find(name);
        if (it == registry().end()) return nullptr;
        f = it->second;
    }
    return f();
}

// -- Construction and capabilities -------------------------------------------------

SHRSharer::SHRSharer() {
    SHR::startForCurrentHome();
    setShareDelegate(ns::make<SHRDefaultSharerDelegate>().get());
    item_ = ns::make<SHRItem>();
    setModalPresentationStyle(SHR::modalPresentationStyle());
    setModalTransitionStyle(SHR::modalTransitionStyle());
}

SHRSharer::~SHRSharer() = default;

ns::Ref<ns::Array> SHRSharer::authorizationFormFields() const {
    return ns::Array::make({
        SHRFormFieldSettings::label(SHRLocalizedString("Username"), "username", SHRFormFieldTypeTextNoCorrect, nullptr),
        SHRFormFieldSettings::label(SHRLocalizedString("Password"), "password", SHRFormFieldTypePassword, nullptr),
    });
}

bool SHRSharer::canShareType(int type) const {
    switch (type) {
        case SHRShareTypeURL: return canShareURL();
        case SHRShareTypeText: return canShareText();
        case SHRShareTypeImage: return canShareImage();
        case SHRShareTypeFile: return canShareFile();
        case SHRShareTypeUserInfo: return canGetUserInfo();
        default: return false;
    }
}

void SHRSharer::setShareDelegate(SHRSharerDelegate* d) { delegate_ = d; }

void SHRSharer::setPendingForm(ns::Ref<SHRFormController> f) { pendingForm_ = std::move(f); }

// -- Entry points ------------------------------------------------------------------

ns::Ref<SHRSharer> SHRSharer::shareItemWithSharer(const std::string& name, ns::Ref<SHRItem> item) {
    auto s = sharerWithClassName(name);
    if (!s) return nullptr;
    s->loadItem(std::move(item));
    s->share();
    return s;
}

void SHRSharer::loadItem(ns::Ref<SHRItem> item) {
    if (item) SHR::pushOnFavoritesForType(sharerId(), item->shareType());
    setItem(std::move(item));
}

SHRStoredLogin SHRSharer::storedLogin() const {
    SHRStoredLogin login;
    if (auto fields = authorizationFormFields())
        for (ns::Object* o : *fields)
            if (auto* f = ns::as<SHRFormFieldSettings>(o)) login.authKeys.push_back(f->key());
    return login;
}

bool SHRSharer::logout(SHRLogoutFailure* why) { return SHR::logoutOfSharers({ns::keepAlive(this)}, why); }

bool SHRSharer::logoutSharer(const std::string& name, SHRLogoutFailure* why) {
    if (why) *why = SHRLogoutFailure::None;
    auto s = sharerWithClassName(name);
    return !s || s->logout(why);
}

bool SHRSharer::isServiceAuthorized(const std::string& name) {
    auto s = sharerWithClassName(name);
    return s && s->isAuthorized();
}

// -- Life cycle -----------------------------------------------------------------------

void SHRSharer::share() {
    auto keep = ns::keepAlive(this);
    if (!authorize()) {
        pendingAction_ = SHRPendingShare;
        return;
    }
    if (shouldAutoShare() && tryToSend()) return;
    show();
}

bool SHRSharer::authorize() {
    if (isAuthorized()) return true;
    promptAuthorization();
    return false;
}

bool SHRSharer::isAuthorized() {
    if (!requiresAuthentication()) return true;
    auto fields = authorizationFormFields();
    if (!fields) return false;
    for (ns::Object* o : *fields) {
        auto* f = ns::as<SHRFormFieldSettings>(o);
        if (f && getAuthValueForKey(f->key())) return true;
    }
    return false;
}

void SHRSharer::promptAuthorization() {
    if (shareRequiresInternetConnection() && !SHR::connected()) {
        if (!quiet_)
            ui::AlertView::make(SHRLocalizedString("Offline"),
                                SHRLocalizedString("You must be online to login to %@", sharerTitle()), nullptr,
                                SHRLocalizedString("Close"))->show();
        return;
    }
    authorizationFormShow();
}

void SHRSharer::presentForm(const ns::Ref<SHRFormController>& form) {
    pushViewController(form, false);
    SHR::currentHelper()->showViewController(ns::keepAlive(this));
}

void SHRSharer::finishFormLogin(bool success, const std::string& failureMessage) {
    auto keep = ns::keepAlive(this);
    SHRActivityIndicator::currentIndicator()->hide();
    if (success) {
        success = savePendingLoginForm();
    } else {
        ui::AlertView::make(SHRLocalizedString("Login Error"), failureMessage, nullptr, SHRLocalizedString("Close"))->show();
    }
    authDidFinish(success);
}

bool SHRSharer::savePendingLoginForm() {
    auto keep = ns::keepAlive(this);
    loginNotSaved_ = false;
    if (auto* form = pendingForm()) ns::Ref<SHRFormController>(form)->saveForm();
    return !loginNotSaved_;  // refused by the keychain: told already
}

void SHRSharer::loginNotSaved() {
    loginNotSaved_ = true;
    SHRActivityIndicator::currentIndicator()->hide();
    ui::AlertView::make(SHRLocalizedString("Login Error"),
                        SHRLocalizedString("Your login to %@ could not be saved. Please try again.", sharerTitle()),
                        nullptr, SHRLocalizedString("Close"))->show();
}

void SHRSharer::showItemTextForm() {
    auto form = ns::make<SHRFormControllerLargeTextField>();
    form->setDelegate(this, &SHRSharer::sendItemTextForm);
    form->setText(item()->text() ? std::string(item()->text()->utf8()) : std::string());
    if (auto* bar = navigationBar()) bar->setTintColor(ui::Color::colorWithRGBA(-1.0, -1.0, -1.0, 1.0));
    pushViewController(form, false);
    SHR::currentHelper()->showViewController(ns::keepAlive(this));
}

void SHRSharer::sendItemTextForm(SHRFormControllerLargeTextField* form) {
    auto keep = ns::keepAlive(this);
    item()->setText(ns::str(form->text()));
    tryToSend();
}

void SHRSharer::authorizationFormShow() {
    auto form = ns::make<SHRCustomFormController>(SHRFormStyle::Grouped, SHRLocalizedString("Login"),
                                                  SHRLocalizedString("Login"));
    form->addSection(authorizationFormFields(), nullptr, authorizationFormCaption());
    form->setDelegate<SHRSharer>(this, &SHRSharer::loginPressed, &SHRSharer::authorizationFormSave,
                                 &SHRSharer::loginFormCancelled);
    form->setAutoSelect(true);
    loginUnderWay_ = false;  // a new form, a new login
    presentForm(form);
}

void SHRSharer::loginPressed(SHRFormController* form) {
    if (loginUnderWay_) return;
    auto keep = ns::keepAlive(this);
    loginUnderWay_ = true;
    authorizationFormValidate(form);
}

void SHRSharer::loginFormCancelled(SHRFormController* form) {
    auto keep = ns::keepAlive(this);
    if (loginUnderWay_) {
        cancelLogin();
        authDidFinish(false);
    }
    authorizationFormCancel(form);
}

void SHRSharer::cancelLogin() {
    if (auto* request = ns::as<SHRRequest>(request_.get())) ns::Ref<SHRRequest>(request)->cancel();
    request_ = nullptr;
    pendingForm_ = nullptr;
    loginUnderWay_ = false;
    if (!quiet_) SHRActivityIndicator::currentIndicator()->hide();
}

void SHRSharer::authorizationFormSave(SHRFormController* form) {
    auto keep = ns::keepAlive(this);
    auto rows = form->rowsOfSection(0);
    auto values = form->formValues();
    // The form's values are one login, stored together: a failure or a kill
    // leaves the old login or the new one, never a new user name beside an
    // old password (a field left without a value removes its old one).
    std::vector<std::pair<std::string, ns::Ref<ns::String>>> login;
    if (rows) {
        for (ns::Object* o : *rows)
            if (auto* f = ns::as<SHRFormFieldSettings>(o))
                login.emplace_back(f->key(), ns::Ref<ns::String>(values->stringForKey(f->key())));
    }
    if (!SHR::setAuthValuesForSharer(login, sharerId())) {
        loginNotSaved();
        return;
    }
    share();
}

void SHRSharer::show() {
    auto fields = shareFormFieldsForType(item_->shareType());
    if (!fields) {
        tryToSend();
        return;
    }
    auto form = ns::make<SHRCustomFormController>(SHRFormStyle::Grouped, "",
                                                  SHRLocalizedString("Send to %@", sharerTitle()));
    form->addSection(fields, nullptr, item_->URL() ? item_->URL()->absoluteString() : nullptr);
    if (canAutoShare()) {
        auto row = SHRFormFieldSettings::label(SHRLocalizedString("Auto Share"), "autoShare", SHRFormFieldTypeSwitch,
                                               ns::str(shouldAutoShare() ? "1" : "0"));
        form->addSection(ns::Array::make({row}), nullptr,
                         ns::str(SHRLocalizedString("Enable auto share to skip this step in the future.")));
    }
    form->setDelegate<SHRSharer>(this, &SHRSharer::shareFormValidate, &SHRSharer::shareFormSave,
                                 &SHRSharer::shareFormCancel);
    form->setAutoSelect(true);
    presentForm(form);
}

ns::Ref<ns::Array> SHRSharer::shareFormFieldsForType(int type) {
    if (type == SHRShareTypeURL)
        return ns::Array::make({SHRFormFieldSettings::label(SHRLocalizedString("Title"), "title", SHRFormFieldTypeText,
                                                            item_->title())});
    return nullptr;
}

void SHRSharer::shareFormValidate(SHRFormController* form) { form->saveForm(); }

void SHRSharer::shareFormSave(SHRFormController* form) {
    auto keep = ns::keepAlive(this);
    auto values = form->formValues();
    for (size_t i = 0; i < values->count(); ++i) {
        auto* key = ns::as<ns::String>(values->keyAtIndex(i));
        auto* value = ns::as<ns::String>(values->valueAtIndex(i));
        if (!key) continue;
        ns::Ref<ns::String> v(value);
        if (key->isEqualToString("title")) item_->setTitle(v);
        else if (key->isEqualToString("text")) item_->setText(v);
        else if (key->isEqualToString("tags")) item_->setTags(v);
        else item_->setCustomValueForKey(v, key->view());
    }
    if (canAutoShare()) {
        auto second = form->formValuesForSection(1);
        if (ns::String* a = second->stringForKey("autoShare")) setShouldAutoShare(a->isEqualToString("1"));
    }
    tryToSend();
}

bool SHRSharer::tryToSend() {
    auto keep = ns::keepAlive(this);
    if (shareRequiresInternetConnection() && !SHR::connected()) {
        if (canShareOffline()) {
            if (SHR::addToOfflineQueueForSharer(item_, sharerId())) return true;
            // Nothing was stored (a full disk, a read-only home): the share
            // failed, and the user hears it once, as any failed share. Like
            // the "Offline" alert, a reported failure ends the share: false
            // would make an auto-share fall back to the form, or try again.
            if (quiet_) return false;
            sendDidFailWithError(SHR::error("%@", SHRLocalizedString("There was an error while sharing")));
            return true;
        }
        if (quiet_) return false;
        ui::AlertView::make(SHRLocalizedString("Offline"),
                            SHRLocalizedString("You must be online in order to share with %@", sharerTitle()), nullptr,
                            SHRLocalizedString("Close"))->show();
        return true;
    }
    return send();
}

bool SHRSharer::validateItem() {
    switch (item_->shareType()) {
        case SHRShareTypeURL: return item_->URL() != nullptr;
        case SHRShareTypeText: return item_->text() != nullptr;
        case SHRShareTypeImage: return item_->image() != nullptr;
        case SHRShareTypeFile: return item_->data() != nullptr;
        case SHRShareTypeUserInfo: return canGetUserInfo();
        default: return false;
    }
}

void SHRSharer::tryPendingAction() {
    if (pendingAction_ == SHRPendingShare) share();
}

// -- Progress callbacks ---------------------------------------------------------------

template <class F>
void SHRSharer::tellDelegate(F&& f) {
    if (auto d = delegate_.lock()) f(d.get());
}

void SHRSharer::sendDidStart() {
    auto keep = ns::keepAlive(this);
    ns::NotificationCenter::defaultCenter()->postNotification(SHRSendDidStartNotification, keep);
    tellDelegate([&](SHRSharerDelegate* d) { d->sharerStartedSending(this); });
}

void SHRSharer::sendDidFinish() {
    auto keep = ns::keepAlive(this);
    ns::NotificationCenter::defaultCenter()->postNotification(SHRSendDidFinishNotification, keep);
    tellDelegate([&](SHRSharerDelegate* d) { d->sharerFinishedSending(this); });
}

void SHRSharer::sendDidFailWithErrorShouldRelogin(ns::Ref<ns::Error> error, bool shouldRelogin) {
    auto keep = ns::keepAlive(this);
    lastError_ = error;
    ns::NotificationCenter::defaultCenter()->postNotification(SHRSendDidFailWithErrorNotification, keep);
    tellDelegate([&](SHRSharerDelegate* d) { d->sharerFailedWithErrorShouldRelogin(this, error.get(), shouldRelogin); });
}

void SHRSharer::sendDidFailShouldRelogin() {
    sendDidFailWithErrorShouldRelogin(SHR::error("%@", SHRLocalizedString("Could not authenticate you. Please relogin.")),
                                      true);
}

void SHRSharer::sendDidCancel() {
    auto keep = ns::keepAlive(this);
    ns::NotificationCenter::defaultCenter()->postNotification(SHRSendDidCancelNotification, keep);
    tellDelegate([&](SHRSharerDelegate* d) { d->sharerCancelledSending(this); });
}

void SHRSharer::authDidFinish(bool success) {
    auto keep = ns::keepAlive(this);
    loginUnderWay_ = false;
    ns::NotificationCenter::defaultCenter()->postNotification(
        SHRAuthDidFinishNotification, keep, ns::Dictionary::make({{"success", ns::boolean(success)}}));
    tellDelegate([&](SHRSharerDelegate* d) { d->sharerAuthDidFinishSuccess(this, success); });
}

// -- State -----------------------------------------------------------------------------

bool SHRSharer::shouldAutoShare() {
    return ns::UserDefaults::standardUserDefaults()->boolForKey(sharerId() + "_shouldAutoShare");
}

void SHRSharer::setShouldAutoShare(bool b) {
    auto defaults = ns::UserDefaults::standardUserDefaults();
    defaults->setBoolForKey(b, sharerId() + "_shouldAutoShare");
    defaults->synchronize();
}

ns::Ref<ns::String> SHRSharer::getAuthValueForKey(std::string_view key) const {
    return SHR::getAuthValueForKeyForSharer(key, sharerId());
}

void SHRSharer::viewDidDisappear(bool animated) {
    ui::NavigationController::viewDidDisappear(animated);
    SHR::currentHelper()->viewWasDismissed();
}

}  // namespace sharing
