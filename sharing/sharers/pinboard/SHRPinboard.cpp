#include "sharing/sharers/pinboard/SHRPinboard.h"

#include "platform/foundation/Format.h"
#include "platform/ui/AlertView.h"
#include "sharing/core/SHR.h"
#include "sharing/ui/SHRActivityIndicator.h"
#include "sharing/ui/SHRFormController.h"

namespace sharing {

namespace {
constexpr const char* kPinboardWeb = "http://pinboard.in";
constexpr const char* kLoginFailed = "Sorry, Pinboard encountered an error. Please try again.";
// Everything but the unreserved characters escaped, so that no character
// of a user name or password can end the credentials or the address ("@"
// would move the host, "?" or "#" would end it) and the service decodes
// exactly what was typed.
std::string credentialText(const ns::String* s) { return SHREncodeCredential(s); }
struct Registrar {
    Registrar() { registerPinboardSharer(); }
} registrar;
}  // namespace

void registerPinboardSharer() {
    SHRSharer::registerSharerClass("SHRPinboard", [] { return ns::Ref<SHRSharer>(ns::make<SHRPinboard>()); });
}

std::string SHRPinboard::credentialURL(const ns::String* user, const ns::String* password,
                                       const std::string& pathAndQuery) {
    std::string base = ns::ServiceEndpoints::baseURL(kService);
    size_t hostStart = base.find("://");
    hostStart = hostStart == std::string::npos ? 0 : hostStart + 3;
    return base.substr(0, hostStart) + credentialText(user) + ":" + credentialText(password) + "@" +
           base.substr(hostStart) + pathAndQuery;
}

ns::Ref<ns::String> SHRPinboard::authorizationFormCaption() const {
    return ns::str(SHRLocalizedString("Create an account at %@", kPinboardWeb));
}

void SHRPinboard::authorizationFormValidate(SHRFormController* form) {
    auto values = form->formValues();
    ns::String* user = values->stringForKey("username");
    // The service reads the credentials as Basic authentication, where the
    // first ":" ends the user name: such a name can never sign in.
    if (user && user->view().find(':') != std::string_view::npos) {
        auto keep = ns::keepAlive(this);
        ui::AlertView::make(SHRLocalizedString("Login Error"),
                            SHRLocalizedString("A Pinboard user name cannot contain \":\"."), nullptr,
                            SHRLocalizedString("Close"))->show();
        authDidFinish(false);
        return;
    }
    auto url = ns::URL::URLWithString(credentialURL(user, values->stringForKey("password"), "/v1/posts/get"));
    if (!url) {
        auto keep = ns::keepAlive(this);
        ui::AlertView::make(SHRLocalizedString("Login Error"), SHRLocalizedString(kLoginFailed), nullptr,
                            SHRLocalizedString("Close"))->show();
        authDidFinish(false);
        return;
    }
    if (!quiet()) SHRActivityIndicator::currentIndicator()->displayActivity(SHRLocalizedString("Logging In..."));
    setRequest(SHRRequest::callingWithCredentials(this, &SHRPinboard::authFinished, url, nullptr, "POST"));
    setPendingForm(ns::Ref<SHRFormController>(form));
}

bool SHRPinboard::handleResponse(SHRRequest* request) {
    if (request->response() && request->response()->statusCode() == 401) {
        sendDidFailShouldRelogin();
        return false;
    }
    return true;
}

void SHRPinboard::authFinished(SHRRequest* request) {
    auto keep = ns::keepAlive(this);
    // Only a login the service accepted is kept: a 401 asks for the login
    // again, any other failure (a server error, no answer) says so.
    if (!handleResponse(request)) {
        SHRActivityIndicator::currentIndicator()->hide();
        authDidFinish(false);
        return;
    }
    finishFormLogin(request->success(), SHRLocalizedString(kLoginFailed));
}

bool SHRPinboard::send() {
    if (!validateItem()) return false;
    auto* item = this->item().get();
    std::string path = ns::format("/v1/posts/add?url=%@&description=%@&tags=%@&extended=%@&shared=%@",
                                  SHREncodeURL(item->URL().get()), SHREncode(item->title().get()),
                                  SHREncode(item->tags().get()), SHREncode(item->text().get()),
                                  item->customBoolForSwitchKey("shared") ? "yes" : "no");
    auto url = ns::URL::URLWithString(credentialURL(getAuthValueForKey("username").get(),
                                                    getAuthValueForKey("password").get(), path));
    if (!url) return false;
    setRequest(SHRRequest::callingWithCredentials(this, &SHRPinboard::sendFinished, url, nullptr, "GET"));
    sendDidStart();
    return true;
}

void SHRPinboard::sendFinished(SHRRequest* request) {
    auto keep = ns::keepAlive(this);
    // Saved only when the service accepted the request and said so.
    if (handleResponse(request) && request->success() &&
        request->getResult()->utf8().find("\"done\"") != std::string::npos) {
        sendDidFinish();
        return;
    }
    sendDidFailWithError(SHR::error("%@", SHRLocalizedString("There was an error saving to Pinboard")));
}

ns::Ref<ns::Array> SHRPinboard::shareFormFieldsForType(int type) {
    if (type != SHRShareTypeURL) return nullptr;
    auto* item = this->item().get();
    return ns::Array::make({
        SHRFormFieldSettings::label(SHRLocalizedString("Title"), "title", SHRFormFieldTypeText, item->title()),
        SHRFormFieldSettings::label(SHRLocalizedString("Tags"), "tags", SHRFormFieldTypeText, item->tags()),
        SHRFormFieldSettings::label(SHRLocalizedString("Notes"), "text", SHRFormFieldTypeText, item->text()),
        SHRFormFieldSettings::label(SHRLocalizedString("Shared"), "shared", SHRFormFieldTypeSwitch, ns::str("0")),
    });
}

}  // namespace sharing
