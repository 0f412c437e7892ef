#include "sharing/sharers/pinboard/SHRPinboard.h"

#include "platform/foundation/Format.h"
#include "sharing/core/SHR.h"
#include "sharing/ui/SHRActivityIndicator.h"
#include "sharing/ui/SHRFormController.h"

namespace sharing {

namespace {
constexpr const char* kPinboardWeb = "http://pinboard.in";
// Form escaping, and "/", "@" and ":" escaped as well so that they cannot
// end the credentials (a password holding "@" would otherwise move the host).
std::string credentialText(const ns::String* s) {
    std::string e = SHREncode(s), out;
    for (char c : e) {
        if (c == '/') out += "%2F";
        else if (c == '@') out += "%40";
        else if (c == ':') out += "%3A";
        else out += c;
    }
    return out;
}
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
    if (!quiet()) SHRActivityIndicator::currentIndicator()->displayActivity(SHRLocalizedString("Logging In..."));
    auto values = form->formValues();
    auto url = ns::URL::URLWithString(
        credentialURL(values->stringForKey("username"), values->stringForKey("password"), "/v1/posts/get"));
    setRequest(SHRRequest::calling(this, &SHRPinboard::authFinished, url, nullptr, "POST", true));
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
    SHRActivityIndicator::currentIndicator()->hide();
    if (handleResponse(request) && pendingForm()) pendingForm()->saveForm();
    authDidFinish(request->success());
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
    setRequest(SHRRequest::calling(this, &SHRPinboard::sendFinished, url, nullptr, "GET", true));
    sendDidStart();
    return true;
}

void SHRPinboard::sendFinished(SHRRequest* request) {
    auto keep = ns::keepAlive(this);
    if (handleResponse(request) && request->getResult()->utf8().find("\"done\"") != std::string::npos) {
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
