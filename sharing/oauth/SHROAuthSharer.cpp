#include "sharing/oauth/SHROAuthSharer.h"

#include "platform/ui/AlertView.h"
#include "sharing/core/SHR.h"
#include "sharing/ui/SHRActivityIndicator.h"

namespace sharing {

SHRStoredLogin SHROAuthSharer::storedLogin() const { return {{"accessKey", "accessSecret", "sessionHandle"}, {}}; }

void SHROAuthSharer::didLogout() {
    accessToken_ = nullptr;
    deleteCookiesForURL(authorizeURL_.get());
}

void SHROAuthSharer::tryPendingAction() {
    if (pendingAction() == SHRPendingRefreshToken) tryToSend();
    else SHRSharer::tryPendingAction();
}

void SHROAuthSharer::cancelLogin() {
    if (fetcher_) fetcher_->cancel();
    fetcher_ = nullptr;
    SHRSharer::cancelLogin();
}

void SHROAuthSharer::alert(const std::string& title, ns::Error* error, const std::string& fallback) {
    std::string message = error ? error->localizedDescription() : SHRLocalizedString(fallback);
    ui::AlertView::make(SHRLocalizedString(title), message, nullptr, SHRLocalizedString("Close"))->show();
}

void SHROAuthSharer::tokenRequest() {
    SHRActivityIndicator::currentIndicator()->displayActivity(SHRLocalizedString("Connecting..."));
    auto request = OAMutableURLRequest::make(requestURL_, consumer_, nullptr, nullptr, signatureProvider_);
    request->setHTTPMethod("POST");
    tokenRequestModifyRequest(request.get());
    fetcher_ = OAAsynchronousDataFetcher::fetcherTelling(this, request, &SHROAuthSharer::tokenRequestTicketDidFinishWithData,
                                                         &SHROAuthSharer::tokenRequestTicketDidFailWithError);
    fetcher_->start();
}

void SHROAuthSharer::tokenRequestTicketDidFinishWithData(OAServiceTicket* ticket, ns::Data* data) {
    fetcher_ = nullptr;
    SHRActivityIndicator::currentIndicator()->hide();
    if (!ticket->didSucceed()) {
        auto error = SHR::error("%@", SHRLocalizedString("There was a problem requesting authorization from %@", sharerTitle()));
        tokenRequestTicketDidFailWithError(ticket, error.get());
        return;
    }
    // A reply without a whole token (an error page, empty values) ends the
    // flow here: the authorise page needs the token's key.
    auto token = tokenFromReply(data);
    if (!token) {
        auto error = SHR::error("%@", SHRLocalizedString("There was a problem requesting authorization from %@", sharerTitle()));
        tokenRequestTicketDidFailWithError(ticket, error.get());
        return;
    }
    requestToken_ = token;
    tokenAuthorize();
}

void SHROAuthSharer::tokenRequestTicketDidFailWithError(OAServiceTicket* ticket, ns::Error* error) {
    auto keep = ns::keepAlive(this);
    fetcher_ = nullptr;
    SHRActivityIndicator::currentIndicator()->hide();
    alert("Request Error", error, "There was an error while sharing");
    authDidFinish(false);
}

ns::Ref<OAToken> SHROAuthSharer::tokenFromReply(const ns::Data* data) {
    auto token = OAToken::initWithHTTPResponseBody(data ? data->view() : std::string_view());
    if (token->keyText().empty() || token->secretText().empty()) return nullptr;
    return token;
}

void SHROAuthSharer::tokenAuthorize() {
    std::string base = authorizeURL_ ? authorizeURL_->absoluteText() : std::string();
    auto url = ns::URL::URLWithString(ns::format("%@?oauth_token=%@", base, requestToken_ ? requestToken_->key() : nullptr));
    if (!url) {
        alert("Authorize Error", nullptr, "There was an error while authorizing");
        authDidFinish(false);
        return;
    }
    auto view = SHROAuthView::make(url, this);
    SHR::currentHelper()->showViewController(view);
}

void SHROAuthSharer::tokenAuthorizeViewDidFinishWithSuccess(SHROAuthView* view, bool success,
                                                            ns::Ref<ns::Dictionary> queryParams,
                                                            ns::Ref<ns::Error> error) {
    auto keep = ns::keepAlive(this);
    SHR::currentHelper()->hideCurrentViewControllerAnimated(true);
    if (success && !(queryParams && queryParams->objectForKey("oauth_problem"))) {
        authorizeResponseQueryVars_ = queryParams;
        tokenAccess();
        authDidFinish(true);
    } else {
        alert("Authorize Error", error.get(), "There was an error while authorizing");
        authDidFinish(false);
    }
}

void SHROAuthSharer::tokenAuthorizeCancelledView(SHROAuthView* view) {
    auto keep = ns::keepAlive(this);
    SHR::currentHelper()->hideCurrentViewControllerAnimated(true);
    authDidFinish(false);
}

void SHROAuthSharer::tokenAccess(bool refresh) {
    if (!refresh) SHRActivityIndicator::currentIndicator()->displayActivity(SHRLocalizedString("Authenticating..."));
    auto request = OAMutableURLRequest::make(accessURL_, consumer_, refresh ? accessToken_ : requestToken_, nullptr,
                                             signatureProvider_);
    request->setHTTPMethod("POST");
    tokenAccessModifyRequest(request.get());
    fetcher_ = OAAsynchronousDataFetcher::fetcherTelling(this, request, &SHROAuthSharer::tokenAccessTicketDidFinishWithData,
                                                         &SHROAuthSharer::tokenAccessTicketDidFailWithError);
    // The access step carries the login (a password, a verifier): only to
    // the service's own origin.
    fetcher_->setSameOriginOnly(true);
    fetcher_->start();
}

void SHROAuthSharer::tokenAccessTicketDidFinishWithData(OAServiceTicket* ticket, ns::Data* data) {
    auto keep = ns::keepAlive(this);
    fetcher_ = nullptr;
    SHRActivityIndicator::currentIndicator()->hide();
    // Only a reply holding a whole token signs the user in; anything else
    // keeps the token held and stored before.
    auto token = ticket->didSucceed() ? tokenFromReply(data) : nullptr;
    bool ok = token != nullptr;
    if (ok) {
        accessToken_ = token;
        if (storeAccessToken()) {
            tryPendingAction();
        } else {  // not stored: not signed in either
            accessToken_ = nullptr;
            ok = false;
            loginNotSaved();
        }
    } else {
        auto error = SHR::error("%@", SHRLocalizedString("There was a problem requesting access from %@", sharerTitle()));
        tokenAccessTicketDidFailWithError(ticket, error.get());
    }
    authDidFinish(ok);
}

void SHROAuthSharer::tokenAccessTicketDidFailWithError(OAServiceTicket* ticket, ns::Error* error) {
    fetcher_ = nullptr;
    loginEnded();  // a password login may be tried again
    SHRActivityIndicator::currentIndicator()->hide();
    alert("Access Error", error, "There was an error while sharing");
}

bool SHROAuthSharer::storeAccessToken() {
    if (!accessToken_ || !accessToken_->key() || !accessToken_->secret() || accessToken_->key()->length() == 0 ||
        accessToken_->secret()->length() == 0)
        return false;
    return SHR::setAuthValuesForSharer({{"accessKey", accessToken_->key()},
                                        {"accessSecret", accessToken_->secret()},
                                        {"sessionHandle", accessToken_->sessionHandle()}},
                                       sharerId());
}

bool SHROAuthSharer::deleteStoredAccessToken() {
    return SHR::setAuthValuesForSharer({{"accessKey", nullptr}, {"accessSecret", nullptr}, {"sessionHandle", nullptr}},
                                sharerId());
}

bool SHROAuthSharer::restoreAccessToken() {
    consumer_ = ns::make<OAConsumer>(consumerKey_, secretKey_);
    if (accessToken_) return true;
    auto key = getAuthValueForKey("accessKey");
    auto secret = getAuthValueForKey("accessSecret");
    auto handle = getAuthValueForKey("sessionHandle");
    if (!key || !secret) return false;
    accessToken_ = ns::make<OAToken>(std::string(key->utf8()), std::string(secret->utf8()));
    accessToken_->setSessionHandle(handle);
    return true;
}

void SHROAuthSharer::refreshToken() {
    setPendingAction(SHRPendingRefreshToken);
    tokenAccess(true);
}

}  // namespace sharing
