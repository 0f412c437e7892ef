#include "sharing/sharers/googlereader/SHRGoogleReader.h"

#include <ctime>
#include <vector>

#include "platform/foundation/UserDefaults.h"
#include "platform/network/HTTPCookie.h"
#include "platform/ui/AlertView.h"
#include "sharing/core/SHR.h"
#include "sharing/ui/SHRActivityIndicator.h"
#include "sharing/ui/SHRFormController.h"

namespace sharing {

namespace {

constexpr const char* kAppName = "Fenwarel App";
constexpr const char* kAppVersion = "0.2.1";
constexpr const char* kWebSiteName = "google.com";

std::vector<std::string> split(std::string_view text, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(sep, start);
        out.emplace_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
        if (at == std::string_view::npos) break;
        start = at + 1;
    }
    return out;
}

std::string isPublicKey(const std::string& sharerId) { return sharerId + "_isPublic"; }

}  // namespace

std::string SHRGoogleReader::loginURL() { return ns::ServiceEndpoints::url(kService, "/accounts/ClientLogin"); }
std::string SHRGoogleReader::tokenURL() { return ns::ServiceEndpoints::url(kTokenService, "/reader/api/0/token"); }
std::string SHRGoogleReader::editURL() { return ns::ServiceEndpoints::url(kService, "/reader/api/0/item/edit"); }
std::string SHRGoogleReader::cookieDomain() { return ".google.com"; }
std::string SHRGoogleReader::productWebSite() { return "http://www.fenwarel.com"; }
std::string SHRGoogleReader::sourceString() { return ns::format("Sharing-%@-%@", kAppName, kAppVersion); }

std::string SHRGoogleReader::sharerTitle() const { return SHRLocalizedString("Google Reader"); }

ns::Ref<ns::Array> SHRGoogleReader::authorizationFormFields() const {
    return ns::Array::make({
        SHRFormFieldSettings::label(SHRLocalizedString("Email"), "email", SHRFormFieldTypeTextNoCorrect, nullptr),
        SHRFormFieldSettings::label(SHRLocalizedString("Password"), "password", SHRFormFieldTypePassword, nullptr),
    });
}

ns::Ref<ns::String> SHRGoogleReader::authorizationFormCaption() const {
    return ns::str(SHRLocalizedString("Create a free account at %@", kWebSiteName));
}

// -- Login ----------------------------------------------------------------------------------

void SHRGoogleReader::authorizationFormValidate(SHRFormController* form) {
    if (!quiet()) SHRActivityIndicator::currentIndicator()->displayActivity(SHRLocalizedString("Logging In..."));
    auto values = form->formValues();
    getSession(ns::Ref<ns::String>(values->stringForKey("email")), ns::Ref<ns::String>(values->stringForKey("password")));
    setPendingForm(ns::Ref<SHRFormController>(form));
}

void SHRGoogleReader::getSession(ns::Ref<ns::String> email, ns::Ref<ns::String> password) {
    std::string body = ns::format("service=reader&source=%@&Email=%@&Passwd=%@&accountType=GOOGLE", sourceString(),
                                  SHREncodeCredential(email.get()),
                                  SHREncodeCredential(password.get()));
    setRequest(SHRRequest::callingWithCredentials(this, &SHRGoogleReader::authFinished,
                                                  ns::URL::URLWithString(loginURL()), ns::str(body), "POST"));
}

void SHRGoogleReader::authFinished(SHRRequest* request) {
    auto keep = ns::keepAlive(this);
    if (!sendAfterLogin_) SHRActivityIndicator::currentIndicator()->hide();

    session_ = ns::MutableDictionary::make();
    for (std::string line : split(request->getResult()->view(), '\n')) {
        // Lines may end in CR LF: the CR is no part of a value.
        if (!line.empty() && line.back() == '\r') line.pop_back();
        auto parts = split(line, '=');
        if (parts.size() == 2) session_->setObject(ns::str(parts[1]), parts[0]);
    }

    // A sign-in counts only when the service accepted it and gave a token:
    // an error page that happens to hold an "Auth" line is not a session,
    // and neither is an empty "Auth".
    ns::String* auth = session_->stringForKey("Auth");
    if (request->success() && auth && !auth->isEmpty()) {
        if (!sendAfterLogin_) {
            // A login the keychain refused is no login: the alert has said so.
            authDidFinish(savePendingLoginForm());
            return;
        }
        tryToSend();
        authDidFinish(true);
        return;
    }

    std::string message;
    if (ns::String* error = session_->stringForKey("Error"))
        message = error->isEqualToString("BadAuthentication") ? SHRLocalizedString("Incorrect username and password")
                                                              : error->utf8();
    else
        message = SHRLocalizedString("There was an error logging into Google Reader");
    // The session holds no sign-in: the next send must log in again.
    session_ = nullptr;

    if (sendAfterLogin_) {
        // A send is waiting for this login and has already reported its
        // start: end it as a failure (its report shows the message), or it
        // would never end.
        sendAfterLogin_ = false;
        authDidFinish(false);
        sendDidFailWithErrorShouldRelogin(SHR::error("%@", message), false);
        return;
    }
    // A reply of status 200 without a token is a failed sign-in too.
    ui::AlertView::make(SHRLocalizedString("Login Error"), message, nullptr, SHRLocalizedString("Close"))->show();
    authDidFinish(false);
}

// -- Share form -------------------------------------------------------------------------------

ns::Ref<ns::Array> SHRGoogleReader::shareFormFieldsForType(int type) {
    if (type != SHRShareTypeURL) return nullptr;
    return ns::Array::make({
        SHRFormFieldSettings::label(SHRLocalizedString("Note"), "text", SHRFormFieldTypeText, item()->text()),
        SHRFormFieldSettings::label(SHRLocalizedString("Public"), "share", SHRFormFieldTypeSwitch, ns::str("0")),
    });
}

void SHRGoogleReader::shareFormSave(SHRFormController* form) {
    auto keep = ns::keepAlive(this);
    auto values = form->formValues();
    SHRSharer::shareFormSave(form);
    if (ns::String* share = values->stringForKey("share"))
        ns::UserDefaults::standardUserDefaults()->setBool(share->isEqualToString("1"), isPublicKey(sharerId()));
}

// -- Sending ----------------------------------------------------------------------------------

void SHRGoogleReader::signRequest(SHRRequest* request) {
    std::vector<ns::Ref<net::HTTPCookie>> cookies;
    double expires = static_cast<double>(std::time(nullptr)) + 1600000000.0;
    if (session_) {
        for (size_t i = 0; i < session_->count(); ++i) {
            auto* name = ns::as<ns::String>(session_->keyAtIndex(i));
            auto* value = ns::as<ns::String>(session_->valueAtIndex(i));
            if (name && value) cookies.push_back(net::HTTPCookie::make(std::string(name->utf8()), std::string(value->utf8()), cookieDomain(), "/", expires));
        }
    }
    auto fields = ns::MutableDictionary::make();
    if (!cookies.empty()) fields->setObject(ns::str(net::HTTPCookie::requestHeaderValue(cookies)), "Cookie");
    ns::String* auth = session_ ? session_->stringForKey("Auth") : nullptr;
    fields->setObject(ns::str(ns::format("GoogleLogin auth=%@", auth)), "Authorization");
    request->setHeaderFields(fields);
}

bool SHRGoogleReader::send() {
    if (!validateItem()) return false;
    auto keep = ns::keepAlive(this);
    bool wasSendAfterLogin = sendAfterLogin_;
    if (session_) {
        sendAfterLogin_ = false;
        std::string url = tokenURL() + "?ck=" + std::to_string(static_cast<long long>(std::time(nullptr)));
        auto request = SHRRequest::calling(this, &SHRGoogleReader::tokenFinished,
                                           ns::URL::URLWithString(url), nullptr, "GET", false);
        signRequest(request.get());
        setRequest(request);
        request->start();
    } else {
        sendAfterLogin_ = true;
        getSession(getAuthValueForKey("email"), getAuthValueForKey("password"));
    }
    if (!wasSendAfterLogin) sendDidStart();
    return true;
}

void SHRGoogleReader::tokenFinished(SHRRequest* request) {
    if (request->success()) sendWithToken(request->getResult());
    else sendDidFailWithError(SHR::error("%@", SHRLocalizedString("There was a problem authenticating your account.")));
}

void SHRGoogleReader::sendWithToken(ns::Ref<ns::String> token) {
    bool isPublic = item()->customBoolForSwitchKey("share");
    if (shouldAutoShare()) isPublic = ns::UserDefaults::standardUserDefaults()->boolForKey(isPublicKey(sharerId()));
    std::string body = ns::format("T=%@&linkify=false&snippet=%@&srcTitle=%@&srcUrl=%@&title=%@&url=%@&share=%@",
                                  token, SHREncode(item()->text().get()), SHREncode(std::string_view(kAppName)),
                                  SHREncode(productWebSite()), SHREncode(item()->title().get()),
                                  SHREncodeURL(item()->URL().get()), isPublic ? "true" : "");
    auto request = SHRRequest::calling(this, &SHRGoogleReader::sendFinished,
                                       ns::URL::URLWithString(editURL()), ns::str(body), "POST", false);
    signRequest(request.get());
    setRequest(request);
    request->start();
}

void SHRGoogleReader::sendFinished(SHRRequest* request) {
    if (request->success()) sendDidFinish();
    else sendDidFailWithError(SHR::error("%@", SHRLocalizedString("There was a problem saving your note.")));
}

void registerGoogleReaderSharer() {
    SHRSharer::registerSharerClass("SHRGoogleReader", [] { return ns::Ref<SHRSharer>(ns::make<SHRGoogleReader>()); });
}

}  // namespace sharing
