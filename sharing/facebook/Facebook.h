// A small client for Facebook's web login and APIs.
//
// `Facebook` is the session: it holds the access token and its expiry date,
// runs the login (through the Facebook app, the browser, or the in-app login
// dialog), opens Facebook's web dialogs in an overlay (`FBDialog`), and sends
// Graph API and REST API requests (`FBRequest`) whose JSON replies are
// decoded with json::JsonParser. Everything runs on the main thread.
//
// The four outside addresses (dialog base, Graph base, REST base, login
// site) are entries of the table of outside services, with compiled-in
// base URLs.
#pragma once

#include <string>

#include "platform/foundation/Foundation.h"
#include "platform/foundation/ServiceEndpoints.h"
#include "platform/foundation/URL.h"
#include "sharing/facebook/FBDialog.h"
#include "sharing/facebook/FBRequest.h"

namespace sharing {

// Receives the outcome of a login and of the session's end. All optional.
class FBSessionDelegate {
public:
    virtual ~FBSessionDelegate() = default;
    virtual void fbDidLogin() {}
    virtual void fbDidNotLogin(bool cancelled) {}
    virtual void fbDidLogout() {}
    virtual void fbSessionInvalidated() {}
};

class Facebook : public ns::Object, public FBLoginDialogDelegate {
public:
    // The redirect that ends a dialog inside the app.
    static constexpr const char* kRedirectURL = "fbconnect://success";

    Facebook(ns::Ref<ns::String> appId, ns::Ref<ns::String> urlSchemeSuffix, FBSessionDelegate* delegate);
    ~Facebook() override;
    const char* className() const override { return "Facebook"; }
    static ns::Ref<Facebook> initWithAppIdAndDelegate(ns::Ref<ns::String> appId, FBSessionDelegate* delegate) {
        return ns::make<Facebook>(std::move(appId), nullptr, delegate);
    }
    static ns::Ref<Facebook> initWithAppIdUrlSchemeSuffixAndDelegate(ns::Ref<ns::String> appId,
                                                                     ns::Ref<ns::String> suffix,
                                                                     FBSessionDelegate* delegate) {
        return ns::make<Facebook>(std::move(appId), std::move(suffix), delegate);
    }

    // -- Endpoints ---------------------------------------------------------------
    // The services in the table of outside services; the three bases end in
    // the slash that a dialog, Graph path or REST method is appended to.
    static constexpr ns::ServiceEndpoint kDialogService{"facebook-dialog", "https://m.facebook.com/dialog/"};
    static constexpr ns::ServiceEndpoint kGraphService{"facebook-graph", "https://graph.facebook.com/"};
    static constexpr ns::ServiceEndpoint kRestService{"facebook-rest", "https://api.facebook.com/method/"};
    static constexpr ns::ServiceEndpoint kLoginSiteService{"facebook-login", "http://login.facebook.com"};
    static std::string dialogBaseURL();
    static std::string graphBaseURL();
    static std::string restBaseURL();
    static std::string loginSiteURL();

    // -- Login ------------------------------------------------------------------
    // Keeps the permissions, then authorizeWithFBAppAuth(true, true).
    void authorize(ns::Ref<ns::Array> permissions);
    // Tries the Facebook app, then the browser (only on multitasking
    // devices), else shows the in-app login dialog.
    void authorizeWithFBAppAuthSafariAuth(bool tryFBAppAuth, bool trySafariAuth);
    // Takes the answer of a login done outside the app. False for a URL that
    // does not begin with getOwnBaseUrl().
    bool handleOpenURL(const ns::URL* url);
    // invalidateSession, then the delegate's fbDidLogout.
    void logout();
    // Forgets token and expiry and deletes the login site's cookies.
    void invalidateSession();
    // A token, an expiry date, and the date still ahead.
    bool isSessionValid() const;

    // -- Requests (each returns the started request) --------------------------
    ns::Ref<FBRequest> requestWithGraphPath(std::string_view graphPath, FBRequestDelegate* delegate);
    ns::Ref<FBRequest> requestWithGraphPath(std::string_view graphPath, ns::Ref<ns::MutableDictionary> params,
                                            FBRequestDelegate* delegate);
    ns::Ref<FBRequest> requestWithGraphPath(std::string_view graphPath, ns::Ref<ns::MutableDictionary> params,
                                            std::string_view httpMethod, FBRequestDelegate* delegate);
    // REST: the parameters must hold "method" (else a log line and nil).
    ns::Ref<FBRequest> requestWithParams(ns::Ref<ns::MutableDictionary> params, FBRequestDelegate* delegate);
    ns::Ref<FBRequest> requestWithMethodName(std::string_view methodName, ns::Ref<ns::MutableDictionary> params,
                                             std::string_view httpMethod, FBRequestDelegate* delegate);

    // -- Dialogs ----------------------------------------------------------------------
    void dialog(std::string_view action, FBDialogDelegate* delegate);
    void dialog(std::string_view action, ns::Ref<ns::MutableDictionary> params, FBDialogDelegate* delegate);

    // -- FBLoginDialogDelegate ------------------------------------------------------
    void fbDialogLoginExpirationDate(ns::Ref<ns::String> token, ns::Ref<ns::Date> expirationDate) override;
    void fbDialogNotLogin(bool cancelled) override;

    // "fb<appId><suffix>://authorize".
    std::string getOwnBaseUrl() const;
    // Splits at "&" and "="; values percent-decoded (a piece without "=" is
    // skipped, an undecodable value kept as written).
    static ns::Ref<ns::MutableDictionary> parseURLParams(std::string_view query);

    // -- Properties ---------------------------------------------------------------
    const ns::Ref<ns::String>& accessToken() const { return accessToken_; }
    void setAccessToken(ns::Ref<ns::String> t) { accessToken_ = std::move(t); }
    const ns::Ref<ns::Date>& expirationDate() const { return expirationDate_; }
    void setExpirationDate(ns::Ref<ns::Date> d) { expirationDate_ = std::move(d); }
    FBSessionDelegate* sessionDelegate() const { return sessionDelegate_.get(); }
    void setSessionDelegate(FBSessionDelegate* d) { sessionDelegate_ = d; }
    const ns::Ref<ns::String>& appId() const { return appId_; }
    const ns::Ref<ns::String>& urlSchemeSuffix() const { return urlSchemeSuffix_; }
    const ns::Ref<ns::Array>& permissions() const { return permissions_; }
    void setPermissions(ns::Ref<ns::Array> p) { permissions_ = std::move(p); }

    // In-flight requests, and the last dialogs shown (tests, diagnostics).
    size_t requestsInFlight() const { return requests_.size(); }
    FBLoginDialog* loginDialog() const { return loginDialog_.get(); }
    FBDialog* fbDialog() const { return fbDialog_.get(); }

private:
    ns::Ref<FBRequest> openUrl(std::string url, ns::Ref<ns::MutableDictionary> params, std::string_view httpMethod,
                               FBRequestDelegate* delegate);
    void requestStateChanged(FBRequest* request);

    ns::Ref<ns::String> accessToken_;
    ns::Ref<ns::Date> expirationDate_;
    ns::WeakDelegate<FBSessionDelegate> sessionDelegate_;
    std::vector<ns::Ref<FBRequest>> requests_;
    ns::Ref<FBLoginDialog> loginDialog_;
    ns::Ref<FBDialog> fbDialog_;
    ns::Ref<ns::String> appId_;
    ns::Ref<ns::String> urlSchemeSuffix_;
    ns::Ref<ns::Array> permissions_;
};

// The far-off date a token "that never expires" gets.
ns::Ref<ns::Date> FBDistantFuture();

}  // namespace sharing
