// HTTPRequest: copies that repeat a request, and the companion HEAD request
// that learns a download's size for the main request.
#include "net/http/HTTPRequestInternal.h"

namespace http {

ns::Ref<HTTPRequest> HTTPRequest::makeBlankCopy(ns::Ref<ns::URL> url) const { return ns::make<HTTPRequest>(std::move(url)); }

ns::Ref<HTTPRequest> HTTPRequest::copy() const {
    auto r = makeBlankCopy(url());
    std::lock_guard<std::mutex> g(settingsLock_);
    r->delegate_ = delegate_;
    r->noteListener(listenersGiven_.load());
    r->requestMethod_ = requestMethod_;
    // A temporary body file belongs to the request that made it; the copy
    // sends the same file but never deletes it.
    body_.copyTo(r->body_);
    if (requestHeaders_) r->requestHeaders_ = requestHeaders_->mutableCopy();
    r->requestCookies_ = requestCookies_;
    r->useCookiePersistence_ = useCookiePersistence_;
    r->useKeychainPersistence_ = useKeychainPersistence_;
    r->useSessionPersistence_ = useSessionPersistence_;
    r->allowCompressedResponse_ = allowCompressedResponse_;
    download_.copySettingsTo(r->download_);
    r->username_ = username_;
    r->password_ = password_;
    r->domain_ = domain_;
    r->credentialsOrigin_ = credentialsOrigin_;
    r->proxyUsername_ = proxyUsername_;
    r->proxyPassword_ = proxyPassword_;
    r->proxyDomain_ = proxyDomain_;
    proxy_.copySettingsTo(r->proxy_);
    r->uploadProgressDelegate_ = uploadProgressDelegate_;
    r->downloadProgressDelegate_ = downloadProgressDelegate_;
    r->shouldPresentAuthenticationDialog_ = shouldPresentAuthenticationDialog_;
    r->shouldPresentProxyAuthenticationDialog_ = shouldPresentProxyAuthenticationDialog_;
    r->didStartSelector_ = didStartSelector_;
    r->didFinishSelector_ = didFinishSelector_;
    r->didFailSelector_ = didFailSelector_;
    r->timeOutSeconds_ = timeOutSeconds_;
    r->shouldResetUploadProgress_ = shouldResetUploadProgress_;
    r->shouldResetDownloadProgress_ = shouldResetDownloadProgress_;
    r->showAccurateProgress_ = showAccurateProgress_;
    r->defaultResponseEncoding_ = defaultResponseEncoding_;
    if (userInfo_) r->userInfo_ = userInfo_->copy();
    r->tag_ = tag_;
    r->useHTTPVersionOne_ = useHTTPVersionOne_;
    r->shouldRedirect_ = shouldRedirect_;
    r->validatesSecureCertificate_ = validatesSecureCertificate_;
    r->clientCertificatePEM_ = clientCertificatePEM_;
    r->clientKeyPEM_ = clientKeyPEM_;
    r->clientCertificates_ = clientCertificates_;
    r->shouldPresentCredentialsBeforeChallenge_ = shouldPresentCredentialsBeforeChallenge_;
    r->numberOfTimesToRetryOnTimeout_ = numberOfTimesToRetryOnTimeout_;
    r->shouldUseRFC2616RedirectBehaviour_ = shouldUseRFC2616RedirectBehaviour_;
    r->shouldAttemptPersistentConnection_ = shouldAttemptPersistentConnection_;
    r->persistentConnectionTimeoutSeconds_ = persistentConnectionTimeoutSeconds_;
    r->serverLogin_.setScheme(serverLogin_.scheme());
    return r;
}

ns::Ref<HTTPRequest> HTTPRequest::HEADRequest() const {
    auto r = makeBlankCopy(url());
    std::lock_guard<std::mutex> g(settingsLock_);
    if (requestHeaders_) r->requestHeaders_ = requestHeaders_->mutableCopy();
    r->requestCookies_ = requestCookies_;
    r->useCookiePersistence_ = useCookiePersistence_;
    r->useKeychainPersistence_ = useKeychainPersistence_;
    r->useSessionPersistence_ = useSessionPersistence_;
    r->allowCompressedResponse_ = allowCompressedResponse_;
    r->username_ = username_;
    r->password_ = password_;
    r->domain_ = domain_;
    r->credentialsOrigin_ = credentialsOrigin_;
    r->proxyUsername_ = proxyUsername_;
    r->proxyPassword_ = proxyPassword_;
    r->proxyDomain_ = proxyDomain_;
    proxy_.copySettingsTo(r->proxy_);
    r->shouldPresentAuthenticationDialog_ = shouldPresentAuthenticationDialog_;
    r->shouldPresentProxyAuthenticationDialog_ = shouldPresentProxyAuthenticationDialog_;
    r->timeOutSeconds_ = timeOutSeconds_;
    r->useHTTPVersionOne_ = useHTTPVersionOne_;
    r->validatesSecureCertificate_ = validatesSecureCertificate_;
    r->clientCertificatePEM_ = clientCertificatePEM_;
    r->clientKeyPEM_ = clientKeyPEM_;
    r->clientCertificates_ = clientCertificates_;
    r->shouldPresentCredentialsBeforeChallenge_ = shouldPresentCredentialsBeforeChallenge_;
    r->numberOfTimesToRetryOnTimeout_ = numberOfTimesToRetryOnTimeout_;
    r->shouldUseRFC2616RedirectBehaviour_ = shouldUseRFC2616RedirectBehaviour_;
    r->shouldAttemptPersistentConnection_ = shouldAttemptPersistentConnection_;
    r->persistentConnectionTimeoutSeconds_ = persistentConnectionTimeoutSeconds_;
    auto self = ns::keepAlive(const_cast<HTTPRequest*>(this));
    r->isCompanionHEAD_ = true;
    r->mainRequest_ = ns::Weak<HTTPRequest>(self.get());
    r->mainRequestKeep_ = self;
    r->requestMethod_ = "HEAD";
    return r;
}

}  // namespace http
