#include "sharing/facebook/Facebook.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/foundation/Format.h"
#include "platform/foundation/PercentEncoding.h"
#include "platform/ui/Application.h"
#include "sharing/core/SHR.h"

namespace sharing {

namespace {

constexpr const char* kSDK = "ios";
constexpr const char* kSDKVersion = "2";

}  // namespace

ns::Ref<ns::Date> FBDistantFuture() { return ns::Date::dateWithTimeIntervalSinceReferenceDate(63113904000.0); }

std::string Facebook::dialogBaseURL() { return ns::ServiceEndpoints::baseURL(kDialogService); }
std::string Facebook::graphBaseURL() { return ns::ServiceEndpoints::baseURL(kGraphService); }
std::string Facebook::restBaseURL() { return ns::ServiceEndpoints::baseURL(kRestService); }
std::string Facebook::loginSiteURL() { return ns::ServiceEndpoints::baseURL(kLoginSiteService); }

Facebook::Facebook(ns::Ref<ns::String> appId, ns::Ref<ns::String> urlSchemeSuffix, FBSessionDelegate* delegate)
    : appId_(std::move(appId)), urlSchemeSuffix_(std::move(urlSchemeSuffix)) {
    sessionDelegate_ = delegate;
}

Facebook::~Facebook() {
    // Stop watching the requests still in flight; they may outlive us.
    for (auto& r : requests_) r->setStateObserver(nullptr);
    if (loginDialog_) loginDialog_->setLoginDelegate(nullptr);
}

// -- Login ---------------------------------------------------------------------------

void Facebook::authorize(ns::Ref<ns::Array> permissions) {
    permissions_ = std::move(permissions);
    authorizeWithFBAppAuthSafariAuth(true, true);
}

void Facebook::authorizeWithFBAppAuthSafariAuth(bool tryFBAppAuth, bool trySafariAuth) {
    auto keep = ns::keepAlive(this);
    auto params = ns::MutableDictionary::make();
    params->setObject(appId_, "client_id");
    params->setObject(ns::str("user_agent"), "type");
    params->setObject(ns::str(kRedirectURL), "redirect_uri");
    params->setObject(ns::str("touch"), "display");
    params->setObject(ns::str(kSDK), "sdk");
    if (permissions_ && permissions_->count() > 0) {
        std::string scope;
        for (size_t i = 0; i < permissions_->count(); ++i) {
            if (i) scope += ",";
            scope += permissions_->objectAtIndex(i)->description();
        }
        params->setObject(ns::String::make(scope), "scope");
    }
    if (urlSchemeSuffix_) params->setObject(urlSchemeSuffix_, "local_client_id");
    std::string loginDialogURL = dialogBaseURL() + "oauth";

    bool didOpenOtherApp = false;
    auto* app = ui::Application::shared();
    if (ui::Device::current()->isMultitaskingSupported()) {
        if (tryFBAppAuth) {
            std::string scheme = "fbauth";
            if (urlSchemeSuffix_) scheme += "2";
            std::string url = FBRequest::serializeURL(ns::format("%@://%@", scheme, "authorize"), params.get());
            didOpenOtherApp = app->openURL(url);
        }
        if (trySafariAuth && !didOpenOtherApp) {
            params->setObject(ns::String::make(getOwnBaseUrl()), "redirect_uri");
            std::string url = FBRequest::serializeURL(loginDialogURL, params.get());
            didOpenOtherApp = app->openURL(url);
        }
    }
    if (!didOpenOtherApp) {
        if (loginDialog_) loginDialog_->setLoginDelegate(nullptr);
        loginDialog_ = FBLoginDialog::initWithURL(loginDialogURL, params, this);
        auto dialog = loginDialog_;
        dialog->show();
    }
}

bool Facebook::handleOpenURL(const ns::URL* url) {
    if (!url || !ns::String::make(url->absoluteText())->hasPrefix(getOwnBaseUrl())) return false;
    auto keep = ns::keepAlive(this);
    auto part = url->fragment();
    if (!part) part = url->query();
    auto params = parseURLParams(part ? part->view() : std::string_view());
    auto* token = params->stringForKey("access_token");
    if (!token || token->utf8().empty()) {
        auto* error = params->stringForKey("error");
        if (error && error->isEqualToString("service_disabled_use_browser")) {
            authorizeWithFBAppAuthSafariAuth(false, true);
            return true;
        }
        if (error && error->isEqualToString("service_disabled")) {
            authorizeWithFBAppAuthSafariAuth(false, false);
            return true;
        }
        bool cancelled = !params->objectForKey("error_code") || (error && error->isEqualToString("access_denied"));
        fbDialogNotLogin(cancelled);
        return true;
    }
    ns::Ref<ns::Date> expirationDate = FBDistantFuture();
    if (auto* expires = params->stringForKey("expires_in")) {
        long seconds = std::strtol(expires->c_str(), nullptr, 10);
        if (seconds != 0)
            expirationDate = ns::Date::dateWithTimeIntervalSinceReferenceDate(
                ns::Date::date()->timeIntervalSinceReferenceDate() + seconds);
    }
    fbDialogLoginExpirationDate(ns::Ref<ns::String>(token), expirationDate);
    return true;
}

void Facebook::logout() {
    auto keep = ns::keepAlive(this);
    invalidateSession();
    if (auto d = sessionDelegate_.lock()) d->fbDidLogout();
}

void Facebook::invalidateSession() {
    accessToken_ = nullptr;
    expirationDate_ = nullptr;
    if (auto site = ns::URL::URLWithString(loginSiteURL())) deleteCookiesForURL(site.get());
}

bool Facebook::isSessionValid() const {
    return accessToken_ && expirationDate_ &&
           expirationDate_->timeIntervalSinceReferenceDate() > ns::Date::date()->timeIntervalSinceReferenceDate();
}

void Facebook::fbDialogLoginExpirationDate(ns::Ref<ns::String> token, ns::Ref<ns::Date> expirationDate) {
    auto keep = ns::keepAlive(this);
    accessToken_ = std::move(token);
    expirationDate_ = std::move(expirationDate);
    if (auto d = sessionDelegate_.lock()) d->fbDidLogin();
}

void Facebook::fbDialogNotLogin(bool cancelled) {
    auto keep = ns::keepAlive(this);
    if (auto d = sessionDelegate_.lock()) d->fbDidNotLogin(cancelled);
}

std::string Facebook::getOwnBaseUrl() const {
    return ns::format("fb%@%@://authorize", appId_, urlSchemeSuffix_ ? urlSchemeSuffix_->utf8() : std::string());
}

ns::Ref<ns::MutableDictionary> Facebook::parseURLParams(std::string_view query) {
    auto params = ns::MutableDictionary::make();
    size_t pos = 0;
    while (pos <= query.size()) {
        size_t amp = query.find('&', pos);
        std::string_view piece = query.substr(pos, amp == std::string_view::npos ? std::string_view::npos : amp - pos);
        size_t eq = piece.find('=');
        if (eq != std::string_view::npos) {
            std::string_view raw = piece.substr(eq + 1);
            std::string value(raw);
            auto decoded = ns::removePercentEncoding(value);
            params->setObject(ns::String::make(decoded ? *decoded : value), piece.substr(0, eq));
        }
        if (amp == std::string_view::npos) break;
        pos = amp + 1;
    }
    return params;
}

// -- Requests -------------------------------------------------------------------------

ns::Ref<FBRequest> Facebook::requestWithGraphPath(std::string_view graphPath, FBRequestDelegate* delegate) {
    return requestWithGraphPath(graphPath, ns::MutableDictionary::make(), "GET", delegate);
}

ns::Ref<FBRequest> Facebook::requestWithGraphPath(std::string_view graphPath, ns::Ref<ns::MutableDictionary> params,
                                                  FBRequestDelegate* delegate) {
    return requestWithGraphPath(graphPath, std::move(params), "GET", delegate);
}

ns::Ref<FBRequest> Facebook::requestWithGraphPath(std::string_view graphPath, ns::Ref<ns::MutableDictionary> params,
                                                  std::string_view httpMethod, FBRequestDelegate* delegate) {
    return openUrl(graphBaseURL() + std::string(graphPath), std::move(params), httpMethod, delegate);
}

ns::Ref<FBRequest> Facebook::requestWithParams(ns::Ref<ns::MutableDictionary> params, FBRequestDelegate* delegate) {
    auto* method = params ? params->stringForKey("method") : nullptr;
    if (!method) {
        std::fprintf(stderr, "API Method must be specified\n");
        return nullptr;
    }
    std::string name(method->utf8());
    params->removeObjectForKey(std::string_view("method"));
    return requestWithMethodName(name, std::move(params), "GET", delegate);
}

ns::Ref<FBRequest> Facebook::requestWithMethodName(std::string_view methodName, ns::Ref<ns::MutableDictionary> params,
                                                   std::string_view httpMethod, FBRequestDelegate* delegate) {
    return openUrl(restBaseURL() + std::string(methodName), std::move(params), httpMethod, delegate);
}

ns::Ref<FBRequest> Facebook::openUrl(std::string url, ns::Ref<ns::MutableDictionary> params,
                                     std::string_view httpMethod, FBRequestDelegate* delegate) {
    if (!params) params = ns::MutableDictionary::make();
    params->setObject(ns::str("json"), "format");
    params->setObject(ns::str(kSDK), "sdk");
    params->setObject(ns::str(kSDKVersion), "sdk_version");
    if (isSessionValid()) params->setObject(accessToken_, "access_token");
    auto request = FBRequest::getRequestWithParams(params, httpMethod, delegate, url);
    requests_.push_back(request);
    ns::Weak<Facebook> weak(this);
    request->setStateObserver([weak](FBRequest* r) {
        if (auto self = weak.lock()) self->requestStateChanged(r);
    });
    request->connect();
    return request;
}

void Facebook::requestStateChanged(FBRequest* request) {
    auto state = request->state();
    if (state != kFBRequestStateComplete && state != kFBRequestStateError) return;
    auto keep = ns::keepAlive(this);
    ns::Ref<FBRequest> hold(request);
    request->setStateObserver(nullptr);
    if (state == kFBRequestStateError) {
        invalidateSession();
        if (auto d = sessionDelegate_.lock()) d->fbSessionInvalidated();
    }
    std::erase_if(requests_, [request](const ns::Ref<FBRequest>& r) { return r.get() == request; });
}

// -- Dialogs --------------------------------------------------------------------------

void Facebook::dialog(std::string_view action, FBDialogDelegate* delegate) {
    dialog(action, ns::MutableDictionary::make(), delegate);
}

void Facebook::dialog(std::string_view action, ns::Ref<ns::MutableDictionary> params, FBDialogDelegate* delegate) {
    auto keep = ns::keepAlive(this);
    if (!params) params = ns::MutableDictionary::make();
    std::string dialogURL = dialogBaseURL() + std::string(action);
    params->setObject(ns::str("touch"), "display");
    params->setObject(ns::str(kSDKVersion), "sdk");
    params->setObject(ns::str(kRedirectURL), "redirect_uri");
    ns::Ref<FBDialog> shown;
    if (action == "oauth") {
        params->setObject(ns::str("user_agent"), "type");
        auto login = FBLoginDialog::initWithURL(dialogURL, params, this);
        shown = login;
    } else {
        params->setObject(appId_, "app_id");
        if (isSessionValid()) {
            auto decoded = ns::removePercentEncoding(accessToken_->view());
            params->setObject(ns::String::make(decoded ? *decoded : accessToken_->utf8()), "access_token");
        }
        shown = FBDialog::initWithURL(dialogURL, params, delegate);
    }
    fbDialog_ = shown;
    shown->show();
}

}  // namespace sharing
