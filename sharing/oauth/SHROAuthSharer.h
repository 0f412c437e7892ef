// The base of sharers whose services use three-legged OAuth 1.0: a signed
// request for a request token, the authorise page in a web view, a signed
// request that trades the request token for an access token, and storage of
// the access token in the keychain ("accessKey", "accessSecret",
// "sessionHandle" of the sharer id). A subclass sets the endpoints and the
// consumer credentials and may adjust the two token requests.
#pragma once

#include "sharing/core/SHRSharer.h"
#include "sharing/oauth/OAuth.h"
#include "sharing/ui/SHROAuthView.h"

namespace sharing {

class SHROAuthSharer : public SHRSharer, public SHROAuthViewDelegate {
public:
    const char* className() const override { return "SHROAuthSharer"; }

    bool isAuthorized() override { return restoreAccessToken(); }
    void promptAuthorization() override { tokenRequest(); }
    // The stored token: "accessKey", "accessSecret", "sessionHandle".
    SHRStoredLogin storedLogin() const override;
    // Forgets the token held and the authorise page's cookies, so that the
    // service's login page does not remember the user.
    void didLogout() override;
    void tryPendingAction() override;
    // A password login (the login form of xAuth) on its way: its token
    // request is cancelled.
    void cancelLogin() override;

    // The flow, in calling order.
    virtual void tokenRequest();
    virtual void tokenRequestModifyRequest(OAMutableURLRequest* request) {}
    virtual void tokenRequestTicketDidFinishWithData(OAServiceTicket* ticket, ns::Data* data);
    virtual void tokenRequestTicketDidFailWithError(OAServiceTicket* ticket, ns::Error* error);
    virtual void tokenAuthorize();
    void tokenAuthorizeViewDidFinishWithSuccess(SHROAuthView* view, bool success, ns::Ref<ns::Dictionary> queryParams,
                                                ns::Ref<ns::Error> error) override;
    void tokenAuthorizeCancelledView(SHROAuthView* view) override;
    void tokenAccess() { tokenAccess(false); }
    virtual void tokenAccess(bool refresh);
    virtual void tokenAccessModifyRequest(OAMutableURLRequest* request) {}
    virtual void tokenAccessTicketDidFinishWithData(OAServiceTicket* ticket, ns::Data* data);
    virtual void tokenAccessTicketDidFailWithError(OAServiceTicket* ticket, ns::Error* error);

    // The token a token endpoint answered, or nil when the reply holds no
    // whole one (a key and a secret, neither empty).
    static ns::Ref<OAToken> tokenFromReply(const ns::Data* data);

    // Token storage. The key, secret and session handle are written
    // together (a token without session handle removes the stored one), so
    // a failure or a kill leaves the old token or the new one whole; false
    // when nothing was stored (no key or secret, the keychain refused).
    bool storeAccessToken();
    // False when the keychain refused (the token stays stored).
    bool deleteStoredAccessToken();
    bool restoreAccessToken();
    void refreshToken();

    ns::Ref<ns::URL> authorizeCallbackURL() const override { return authorizeCallbackURL_; }
    void setAuthorizeCallbackURL(ns::Ref<ns::URL> u) { authorizeCallbackURL_ = std::move(u); }
    const ns::Ref<ns::URL>& authorizeURL() const { return authorizeURL_; }
    void setAuthorizeURL(ns::Ref<ns::URL> u) { authorizeURL_ = std::move(u); }
    const ns::Ref<ns::URL>& accessURL() const { return accessURL_; }
    void setAccessURL(ns::Ref<ns::URL> u) { accessURL_ = std::move(u); }
    const ns::Ref<ns::URL>& requestURL() const { return requestURL_; }
    void setRequestURL(ns::Ref<ns::URL> u) { requestURL_ = std::move(u); }
    const std::string& consumerKey() const { return consumerKey_; }
    void setConsumerKey(std::string k) { consumerKey_ = std::move(k); }
    const std::string& secretKey() const { return secretKey_; }
    void setSecretKey(std::string k) { secretKey_ = std::move(k); }
    const ns::Ref<OAConsumer>& consumer() const { return consumer_; }
    const ns::Ref<OAToken>& requestToken() const { return requestToken_; }
    const ns::Ref<OAToken>& accessToken() const { return accessToken_; }
    void setAccessToken(ns::Ref<OAToken> t) { accessToken_ = std::move(t); }
    const ns::Ref<ns::Object>& signatureProvider() const { return signatureProvider_; }
    void setSignatureProvider(ns::Ref<ns::Object> p) { signatureProvider_ = std::move(p); }
    const ns::Ref<ns::Dictionary>& authorizeResponseQueryVars() const { return authorizeResponseQueryVars_; }

private:
    void alert(const std::string& title, ns::Error* error, const std::string& fallback);
    std::string consumerKey_, secretKey_;
    ns::Ref<ns::URL> authorizeCallbackURL_, authorizeURL_, accessURL_, requestURL_;
    ns::Ref<OAConsumer> consumer_;
    ns::Ref<OAToken> requestToken_, accessToken_;
    ns::Ref<ns::Object> signatureProvider_;
    ns::Ref<ns::Dictionary> authorizeResponseQueryVars_;
    ns::Ref<OAAsynchronousDataFetcher> fetcher_;
};

}  // namespace sharing
