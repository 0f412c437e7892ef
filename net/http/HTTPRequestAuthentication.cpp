// HTTPRequest: credentials before a challenge, answering 401 and 407
// challenges, the session credential stores, asking the delegate, and the
// platform credential storage.
#include "net/http/HTTPRequestInternal.h"
#include "platform/foundation/Format.h"
#include "platform/network/Origin.h"
#include "platform/network/URLCredential.h"

namespace http {

namespace {
std::vector<ns::Ref<ns::MutableDictionary>> gSessionCredentials;
std::vector<ns::Ref<ns::MutableDictionary>> gSessionProxyCredentials;
std::mutex gDialogMutex;
std::function<void(ns::Ref<HTTPRequest>)> gDialogPresenter;

std::string credentialText(const ns::Dictionary* credentials, const char* key) {
    return credentials ? engine::textOf(credentials->objectForKey(key)) : std::string();
}

ns::Ref<ns::Dictionary> makeCredentials(const std::string& user, const std::string& password, bool withDomain,
                                        const std::string& domain) {
    auto d = ns::MutableDictionary::make();
    d->setObject(engine::str(user), kCredentialUsernameKey);
    d->setObject(engine::str(password), kCredentialPasswordKey);
    if (withDomain) d->setObject(engine::str(domain), kCredentialAccountDomainKey);
    return d;
}

// "DOMAIN\user" with exactly one backslash: the domain and the user.
void splitDomain(std::string& user, std::string& domain) {
    size_t a = user.find('\\');
    if (a == std::string::npos || user.find('\\', a + 1) != std::string::npos) return;
    domain = user.substr(0, a);
    user = user.substr(a + 1);
}

int portOf(const ns::URL& url) {
    auto p = url.port();
    return p ? static_cast<int>(p->longValue()) : 0;
}
}  // namespace

// Lets the credentials dialog present itself for a request.
void setAuthenticationDialogPresenter(std::function<void(ns::Ref<HTTPRequest>)> presenter) {
    std::lock_guard<std::mutex> g(gDialogMutex);
    gDialogPresenter = std::move(presenter);
}

bool HTTPRequest::authenticationEnds() { return error_ || cancelled_; }

// ---- Whose credentials ------------------------------------------------------------

void HTTPRequest::setUsername(std::string v) {
    std::lock_guard<std::recursive_mutex> g(cancelledLock_);
    username_ = std::move(v);
    credentialsOrigin_ = url_;
}
void HTTPRequest::setPassword(std::string v) {
    std::lock_guard<std::recursive_mutex> g(cancelledLock_);
    password_ = std::move(v);
    credentialsOrigin_ = url_;
}
void HTTPRequest::setDomain(std::string v) {
    std::lock_guard<std::recursive_mutex> g(cancelledLock_);
    domain_ = std::move(v);
    credentialsOrigin_ = url_;
}

bool HTTPRequest::ownCredentialsApplyTo(const ns::URL& target) const {
    return !credentialsOrigin_ || net::isSameOrigin(*credentialsOrigin_, target);
}

void HTTPRequest::leaveOriginForRedirect() {
    if (requestHeaders_) {
        for (size_t i = requestHeaders_->count(); i-- > 0;) {
            std::string k = engine::textOf(requestHeaders_->keyAtIndex(i));
            if (net::isCredentialHeaderField(k)) requestHeaders_->removeObjectForKey(k);
        }
    }
    requestCredentials_ = nullptr;
}

bool HTTPRequest::askCallerForCredentials() {
    if (!willAskDelegateForCredentials() && !showAuthenticationDialog()) return false;
    awaitingCaller_ = true;
    return true;
}

bool HTTPRequest::askCallerForProxyCredentials() {
    if (!willAskDelegateForProxyCredentials() && !showProxyAuthenticationDialog()) return false;
    awaitingCaller_ = true;
    return true;
}

// ---- Before the challenge ----------------------------------------------------------

void HTTPRequest::addBasicAuthenticationHeader(const std::string& user, const std::string& password) {
    addRequestHeader("Authorization", net::HTTPAuthentication::basicAuthorization(user, password));
    authenticationScheme_ = "Basic";
}

void HTTPRequest::applyAuthorizationHeader() {
    if (!shouldPresentCredentialsBeforeChallenge_) return;
    bool haveHeader = false;
    if (requestHeaders_)
        for (size_t i = 0; i < requestHeaders_->count(); ++i)
            haveHeader = haveHeader || net::equalsIgnoringCase(engine::textOf(requestHeaders_->keyAtIndex(i)),
                                                              "Authorization");
    if (!haveHeader) {
        if (!username_.empty() && !password_.empty() && authenticationScheme_ == "Basic" &&
            ownCredentialsApplyTo(*url_)) {
            addBasicAuthenticationHeader(username_, password_);
        } else if (useSessionPersistence_) {
            if (auto record = findSessionAuthenticationCredentials()) {
                auto* credentials = record->dictionaryForKey("Credentials");
                auto* auth = ns::as<net::HTTPAuthentication>(record->objectForKey("Authentication"));
                if (auth) {
                    ns::Ref<ns::Error> err;
                    if (auth->applyCredentials(*request_, credentialText(credentials, kCredentialUsernameKey),
                                               credentialText(credentials, kCredentialPasswordKey),
                                               credentialText(credentials, kCredentialAccountDomainKey), &err))
                        authenticationScheme_ = engine::textOf(record->objectForKey("AuthenticationScheme"));
                    else removeAuthenticationCredentialsFromSessionStore(credentials);
                } else {
                    addBasicAuthenticationHeader(credentialText(credentials, kCredentialUsernameKey),
                                                 credentialText(credentials, kCredentialPasswordKey));
                }
            }
        }
    }
    if (useSessionPersistence_) {
        if (auto record = findSessionProxyAuthenticationCredentials()) {
            auto* credentials = record->dictionaryForKey("Credentials");
            auto* auth = ns::as<net::HTTPAuthentication>(record->objectForKey("Authentication"));
            ns::Ref<ns::Error> err;
            if (!auth || !auth->applyCredentials(*request_, credentialText(credentials, kCredentialUsernameKey),
                                                 credentialText(credentials, kCredentialPasswordKey),
                                                 credentialText(credentials, kCredentialAccountDomainKey), &err))
                removeProxyAuthenticationCredentialsFromSessionStore(credentials);
        }
    }
}

// ---- Challenges ----------------------------------------------------------------------

void HTTPRequest::attemptToApplyCredentialsAndResume() {
    std::unique_lock<std::recursive_mutex> lock(cancelledLock_);
    if (authenticationEnds()) return;
    if (authenticationNeeded_ == kProxyAuthenticationNeeded) {
        lock.unlock();
        attemptToApplyProxyCredentialsAndResume();
        return;
    }
    if (!responseMessage_) {
        cancelLoad();
        failWithError(errorWithCode(kInternalErrorWhileApplyingCredentialsType,
                                    "Failed to get authentication object from response headers"));
        return;
    }
    if (!requestAuthentication_) {
        requestAuthentication_ = net::HTTPAuthentication::authenticationFromResponse(*responseMessage_);
        if (!requestAuthentication_) {
            cancelLoad();
            failWithError(errorWithCode(kInternalErrorWhileApplyingCredentialsType,
                                        "Failed to get authentication object from response headers"));
            return;
        }
        authenticationScheme_ = requestAuthentication_->method();
    } else {
        // The answer to credentials we sent: refused, a stale nonce, or
        // the next step of a multi-message scheme.
        requestAuthentication_->updateFromResponse(*responseMessage_);
    }
    authenticationRealm_ = requestAuthentication_->requiresAccountDomain() ? "" : requestAuthentication_->realm();

    ns::Ref<ns::Error> reason;
    if (!requestAuthentication_->isValid(&reason)) {
        requestAuthentication_ = nullptr;
        if (reason && reason->domain() == net::kHTTPAuthenticationErrorDomain &&
            (reason->code() == net::kAuthenticationBadUserName || reason->code() == net::kAuthenticationBadPassword)) {
            std::unique_lock<std::recursive_mutex> askLock(engine::delegateAuthenticationLock());
            if (requestCredentials_) removeAuthenticationCredentialsFromSessionStore(requestCredentials_.get());
            requestCredentials_ = nullptr;
            if (authenticationEnds()) return;
            if (useSessionPersistence_) {
                if (auto record = findSessionAuthenticationCredentials()) {
                    requestAuthentication_ = net::HTTPAuthentication::authenticationFromResponse(*responseMessage_);
                    auto credentials = ns::Ref<ns::Dictionary>(record->dictionaryForKey("Credentials"));
                    if (requestAuthentication_ && applyCredentials(credentials)) {
                        askLock.unlock();
                        startRequest();
                        return;
                    }
                    requestAuthentication_ = nullptr;
                }
            }
            lastActivityTime_ = 0;
            if (askCallerForCredentials()) return;
            askLock.unlock();
            cancelLoad();
            failWithError(engine::authenticationError());
            return;
        }
        cancelLoad();
        failWithError(engine::authenticationError());
        return;
    }

    cancelLoad();
    if (requestCredentials_) {
        if (requestAuthentication_->method() == "NTLM" && authenticationRetryCount_ > 1) {
            if (authenticationRetryCount_ == 2) failWithError(engine::authenticationError());
            return;
        }
        if (applyCredentials(requestCredentials_)) startRequest();
        else failWithError(errorWithCode(kInternalErrorWhileApplyingCredentialsType,
                                         "Failed to apply credentials to request"));
        return;
    }
    if (!requestAuthentication_->requiresUserNameAndPassword()) return;

    std::unique_lock<std::recursive_mutex> askLock(engine::delegateAuthenticationLock());
    if (authenticationEnds()) return;
    if (useSessionPersistence_) {
        if (auto record = findSessionAuthenticationCredentials()) {
            auto credentials = ns::Ref<ns::Dictionary>(record->dictionaryForKey("Credentials"));
            if (applyCredentials(credentials)) {
                askLock.unlock();
                startRequest();
                return;
            }
        }
    }
    auto credentials = findCredentials();
    if (!credentials) {
        lastActivityTime_ = 0;
        if (askCallerForCredentials()) return;
        askLock.unlock();
        failWithError(engine::authenticationError());
        return;
    }
    askLock.unlock();
    if (applyCredentials(credentials)) startRequest();
    else failWithError(errorWithCode(kInternalErrorWhileApplyingCredentialsType, "Failed to apply credentials to request"));
}

void HTTPRequest::attemptToApplyProxyCredentialsAndResume() {
    std::unique_lock<std::recursive_mutex> lock(cancelledLock_);
    if (authenticationEnds()) return;
    if (!responseMessage_) {
        cancelLoad();
        failWithError(errorWithCode(kInternalErrorWhileApplyingCredentialsType,
                                    "Failed to get authentication object from response headers"));
        return;
    }
    if (!proxyAuthentication_) {
        proxyAuthentication_ = net::HTTPAuthentication::authenticationFromResponse(*responseMessage_);
        if (!proxyAuthentication_) {
            cancelLoad();
            failWithError(errorWithCode(kInternalErrorWhileApplyingCredentialsType,
                                        "Failed to get authentication object from response headers"));
            return;
        }
        proxyAuthenticationScheme_ = proxyAuthentication_->method();
    } else {
        proxyAuthentication_->updateFromResponse(*responseMessage_);
    }
    proxyAuthenticationRealm_ = proxyAuthentication_->requiresAccountDomain() ? "" : proxyAuthentication_->realm();

    ns::Ref<ns::Error> reason;
    if (!proxyAuthentication_->isValid(&reason)) {
        proxyAuthentication_ = nullptr;
        if (reason && reason->domain() == net::kHTTPAuthenticationErrorDomain &&
            (reason->code() == net::kAuthenticationBadUserName || reason->code() == net::kAuthenticationBadPassword)) {
            std::unique_lock<std::recursive_mutex> askLock(engine::delegateAuthenticationLock());
            if (proxyCredentials_) removeProxyAuthenticationCredentialsFromSessionStore(proxyCredentials_.get());
            proxyCredentials_ = nullptr;
            if (authenticationEnds()) return;
            lastActivityTime_ = 0;
            // The delegate or dialog answers with retryUsingSuppliedCredentials,
            // which runs the proxy attempt again from a fresh object.
            if (askCallerForProxyCredentials()) return;
            askLock.unlock();
            cancelLoad();
            failWithError(engine::authenticationError());
            return;
        }
        cancelLoad();
        failWithError(engine::authenticationError());
        return;
    }

    cancelLoad();
    if (proxyCredentials_) {
        if (proxyAuthentication_->method() == "NTLM" && proxyAuthenticationRetryCount_ > 1) {
            if (proxyAuthenticationRetryCount_ == 2) failWithError(engine::authenticationError());
            return;
        }
        if (applyProxyCredentials(proxyCredentials_)) startRequest();
        else failWithError(errorWithCode(kInternalErrorWhileApplyingCredentialsType,
                                         "Failed to apply proxy credentials to request"));
        return;
    }
    if (!proxyAuthentication_->requiresUserNameAndPassword()) return;

    std::unique_lock<std::recursive_mutex> askLock(engine::delegateAuthenticationLock());
    if (authenticationEnds()) return;
    if (useSessionPersistence_) {
        if (auto record = findSessionProxyAuthenticationCredentials()) {
            auto credentials = ns::Ref<ns::Dictionary>(record->dictionaryForKey("Credentials"));
            if (applyProxyCredentials(credentials)) {
                askLock.unlock();
                startRequest();
                return;
            }
        }
    }
    auto credentials = findProxyCredentials();
    if (!credentials) {
        lastActivityTime_ = 0;
        if (askCallerForProxyCredentials()) return;
        askLock.unlock();
        failWithError(engine::authenticationError());
        return;
    }
    askLock.unlock();
    if (applyProxyCredentials(credentials)) startRequest();
    else failWithError(errorWithCode(kInternalErrorWhileApplyingCredentialsType,
                                     "Failed to apply proxy credentials to request"));
}

// ---- Applying ------------------------------------------------------------------------

bool HTTPRequest::applyCredentials(ns::Ref<ns::Dictionary> credentials) {
    ++authenticationRetryCount_;
    if (!credentials || !requestAuthentication_ || !request_) return false;
    ns::Ref<ns::Error> err;
    bool ok = requestAuthentication_->applyCredentials(
        *request_, credentialText(credentials.get(), kCredentialUsernameKey),
        credentialText(credentials.get(), kCredentialPasswordKey),
        credentialText(credentials.get(), kCredentialAccountDomainKey), &err);
    if (!ok) {
        removeAuthenticationCredentialsFromSessionStore(credentials.get());
        return false;
    }
    if (useKeychainPersistence_) saveCredentialsToKeychain(*credentials);
    if (useSessionPersistence_) {
        auto record = ns::MutableDictionary::make();
        record->setObject(requestAuthentication_, "Authentication");
        record->setObject(credentials, "Credentials");
        record->setObject(url_, "URL");
        record->setObject(engine::str(authenticationScheme_), "AuthenticationScheme");
        if (!authenticationRealm_.empty()) record->setObject(engine::str(authenticationRealm_), "AuthenticationRealm");
        storeAuthenticationCredentialsInSessionStore(record);
    }
    requestCredentials_ = credentials;
    return true;
}

bool HTTPRequest::applyProxyCredentials(ns::Ref<ns::Dictionary> credentials) {
    ++proxyAuthenticationRetryCount_;
    if (!credentials || !proxyAuthentication_ || !request_) return false;
    ns::Ref<ns::Error> err;
    bool ok = proxyAuthentication_->applyCredentials(
        *request_, credentialText(credentials.get(), kCredentialUsernameKey),
        credentialText(credentials.get(), kCredentialPasswordKey),
        credentialText(credentials.get(), kCredentialAccountDomainKey), &err);
    if (!ok) {
        removeProxyAuthenticationCredentialsFromSessionStore(credentials.get());
        return false;
    }
    if (useKeychainPersistence_) saveProxyCredentialsToKeychain(*credentials);
    if (useSessionPersistence_) {
        auto record = ns::MutableDictionary::make();
        record->setObject(proxyAuthentication_, "Authentication");
        record->setObject(credentials, "Credentials");
        record->setObject(engine::str(proxyHost_), "Host");
        record->setObject(ns::Number::numberWithInt(proxyPort_), "Port");
        record->setObject(engine::str(proxyAuthenticationScheme_), "AuthenticationScheme");
        storeProxyAuthenticationCredentialsInSessionStore(record);
    }
    proxyCredentials_ = credentials;
    return true;
}

// ---- Finding -------------------------------------------------------------------------

ns::Ref<ns::Dictionary> HTTPRequest::findCredentials() {
    std::string user(url_ && url_->user() ? url_->user()->utf8() : "");
    std::string pass(url_ && url_->password() ? url_->password()->utf8() : "");
    if ((user.empty() || pass.empty()) && url_) {
        if (mainRequest_ && !mainRequest_->username_.empty() && !mainRequest_->password_.empty() &&
            mainRequest_->ownCredentialsApplyTo(*url_)) {
            user = mainRequest_->username_;
            pass = mainRequest_->password_;
        } else if (!username_.empty() && !password_.empty() && ownCredentialsApplyTo(*url_)) {
            user = username_;
            pass = password_;
        }
    }
    if ((user.empty() || pass.empty()) && useKeychainPersistence_ && url_) {
        auto saved = savedCredentialsForHost(url_->host() ? std::string(url_->host()->utf8()) : "", portOf(*url_),
                                             url_->scheme() ? std::string(url_->scheme()->utf8()) : "", authenticationRealm_);
        if (saved) {
            user = credentialText(saved.get(), kCredentialUsernameKey);
            pass = credentialText(saved.get(), kCredentialPasswordKey);
        }
    }
    bool withDomain = requestAuthentication_ && requestAuthentication_->requiresAccountDomain();
    std::string theDomain;
    if (withDomain) {
        if (url_ && ownCredentialsApplyTo(*url_)) theDomain = domain_;
        if (theDomain.empty()) splitDomain(user, theDomain);
    }
    if (user.empty() || pass.empty()) return nullptr;
    return makeCredentials(user, pass, withDomain, theDomain);
}

ns::Ref<ns::Dictionary> HTTPRequest::findProxyCredentials() {
    std::string user, pass;
    if (mainRequest_ && !mainRequest_->proxyUsername_.empty() && !mainRequest_->proxyPassword_.empty()) {
        user = mainRequest_->proxyUsername_;
        pass = mainRequest_->proxyPassword_;
    } else if (!proxyUsername_.empty() && !proxyPassword_.empty()) {
        user = proxyUsername_;
        pass = proxyPassword_;
    }
    bool ntlm = proxyAuthentication_ && proxyAuthentication_->requiresAccountDomain();
    if ((user.empty() || pass.empty()) && ntlm) {
        user = username_;
        pass = password_;
    }
    if (user.empty() || pass.empty()) {
        if (auto saved = savedCredentialsForProxy(proxyHost_, proxyPort_, proxyAuthenticationRealm_)) {
            user = credentialText(saved.get(), kCredentialUsernameKey);
            pass = credentialText(saved.get(), kCredentialPasswordKey);
        }
    }
    std::string theDomain;
    if (ntlm) {
        theDomain = proxyDomain_;
        if (theDomain.empty()) splitDomain(user, theDomain);
        if (theDomain.empty()) theDomain = domain_;
    }
    if (user.empty() || pass.empty()) return nullptr;
    return makeCredentials(user, pass, ntlm, theDomain);
}

ns::Ref<ns::Dictionary> HTTPRequest::findSessionAuthenticationCredentials() {
    std::lock_guard<std::recursive_mutex> g(engine::sessionCredentialsLock());
    if (!url_) return nullptr;
    ns::Ref<ns::Dictionary> candidate;
    for (auto& record : gSessionCredentials) {
        auto* recordURL = ns::as<ns::URL>(record->objectForKey("URL"));
        bool exact = recordURL && recordURL->isEqual(*url_);
        if (!exact) {
            if (candidate || !recordURL) continue;
            if (!ns::equal(recordURL->host(), url_->host()) || !ns::equal(recordURL->scheme(), url_->scheme()) ||
                !ns::equal(recordURL->port(), url_->port()))
                continue;
        }
        std::string realm = engine::textOf(record->objectForKey("AuthenticationRealm"));
        if (!realm.empty() && !authenticationRealm_.empty() && realm != authenticationRealm_) continue;
        auto* credentials = record->dictionaryForKey("Credentials");
        if (!username_.empty() && !password_.empty()) {
            if (credentialText(credentials, kCredentialUsernameKey) != username_) continue;
            if (credentialText(credentials, kCredentialPasswordKey) == password_) {
                candidate = record;
                if (exact) return record;
            }
        } else {
            candidate = record;
            if (exact) return record;
        }
    }
    return candidate;
}

ns::Ref<ns::Dictionary> HTTPRequest::findSessionProxyAuthenticationCredentials() {
    std::lock_guard<std::recursive_mutex> g(engine::sessionCredentialsLock());
    for (auto& record : gSessionProxyCredentials) {
        auto* port = record->numberForKey("Port");
        if (engine::textOf(record->objectForKey("Host")) == proxyHost_ && port && port->longValue() == proxyPort_)
            return record;
    }
    return nullptr;
}

// ---- Asking ----------------------------------------------------------------------------

bool HTTPRequest::willAskDelegateForCredentials() {
    if (isSynchronous_) return false;
    auto d = delegate_.lock();
    bool targetAnswers = d ? d->answers(HTTPRequestDelegate::Optional::authenticationNeededForRequest)
                           : (queue_ && static_cast<HTTPRequestDelegate*>(queue_.get())->answers(
                                            HTTPRequestDelegate::Optional::authenticationNeededForRequest));
    if (!authenticationNeededBlock_ && !targetAnswers) return false;
    auto self = ns::keepAlive(this);
    ns::performOnMainThread([self] { self->askDelegateForCredentials(); }, false);
    return true;
}

void HTTPRequest::askDelegateForCredentials() {
    ns::WeakDelegate<HTTPRequestDelegate>::Locked d;
    ns::StrongDelegate<HTTPRequestQueue>::Locked q;
    Block block;
    {
        std::lock_guard<std::recursive_mutex> g(cancelledLock_);
        d = delegate_.lock();
        q = queue_.lock();
        block = authenticationNeededBlock_;
    }
    if (d) {
        if (d->answers(HTTPRequestDelegate::Optional::authenticationNeededForRequest)) {
            d->authenticationNeededForRequest(this);
            return;
        }
    } else if (q && static_cast<HTTPRequestDelegate*>(q.get())->answers(HTTPRequestDelegate::Optional::authenticationNeededForRequest)) {
        q->authenticationNeededForRequest(this);
        return;
    }
    if (block) block();
}

bool HTTPRequest::willAskDelegateForProxyCredentials() {
    if (isSynchronous_) return false;
    auto d = delegate_.lock();
    bool targetAnswers = d ? d->answers(HTTPRequestDelegate::Optional::proxyAuthenticationNeededForRequest)
                           : (queue_ && static_cast<HTTPRequestDelegate*>(queue_.get())->answers(
                                            HTTPRequestDelegate::Optional::proxyAuthenticationNeededForRequest));
    if (!proxyAuthenticationNeededBlock_ && !targetAnswers) return false;
    auto self = ns::keepAlive(this);
    ns::performOnMainThread([self] { self->askDelegateForProxyCredentials(); }, false);
    return true;
}

void HTTPRequest::askDelegateForProxyCredentials() {
    ns::WeakDelegate<HTTPRequestDelegate>::Locked d;
    ns::StrongDelegate<HTTPRequestQueue>::Locked q;
    Block block;
    {
        std::lock_guard<std::recursive_mutex> g(cancelledLock_);
        d = delegate_.lock();
        q = queue_.lock();
        block = proxyAuthenticationNeededBlock_;
    }
    if (d) {
        if (d->answers(HTTPRequestDelegate::Optional::proxyAuthenticationNeededForRequest)) {
            d->proxyAuthenticationNeededForRequest(this);
            return;
        }
    } else if (q &&
               static_cast<HTTPRequestDelegate*>(q.get())->answers(HTTPRequestDelegate::Optional::proxyAuthenticationNeededForRequest)) {
        q->proxyAuthenticationNeededForRequest(this);
        return;
    }
    if (block) block();
}

bool HTTPRequest::showAuthenticationDialog() {
    if (isSynchronous_ || !shouldPresentAuthenticationDialog_) return false;
    std::function<void(ns::Ref<HTTPRequest>)> presenter;
    {
        std::lock_guard<std::mutex> g(gDialogMutex);
        presenter = gDialogPresenter;
    }
    if (!presenter) return false;
    auto self = ns::keepAlive(this);
    ns::performOnMainThread([presenter, self] { presenter(self); }, ns::RunLoop::isMainThread());
    return true;
}

bool HTTPRequest::showProxyAuthenticationDialog() {
    if (isSynchronous_ || !shouldPresentProxyAuthenticationDialog_) return false;
    std::function<void(ns::Ref<HTTPRequest>)> presenter;
    {
        std::lock_guard<std::mutex> g(gDialogMutex);
        presenter = gDialogPresenter;
    }
    if (!presenter) return false;
    auto self = ns::keepAlive(this);
    ns::performOnMainThread([presenter, self] { presenter(self); }, ns::RunLoop::isMainThread());
    return true;
}

void HTTPRequest::retryUsingSuppliedCredentials() {
    auto self = ns::keepAlive(this);
    performOnRequestThread([self] {
        std::unique_lock<std::recursive_mutex> g(self->cancelledLock_);
        self->awaitingCaller_ = false;
        bool haveMessage = self->request_ != nullptr;
        g.unlock();
        if (haveMessage) self->attemptToApplyCredentialsAndResume();
        else self->main();
    });
}

void HTTPRequest::cancelAuthentication() {
    auto self = ns::keepAlive(this);
    performOnRequestThread([self] {
        std::lock_guard<std::recursive_mutex> g(self->cancelledLock_);
        self->awaitingCaller_ = false;
        self->failWithError(engine::authenticationError());
    });
}

// ---- Session stores ---------------------------------------------------------------------

std::vector<ns::Ref<ns::Dictionary>> HTTPRequest::sessionCredentialsStore() {
    std::lock_guard<std::recursive_mutex> g(engine::sessionCredentialsLock());
    return {gSessionCredentials.begin(), gSessionCredentials.end()};
}
std::vector<ns::Ref<ns::Dictionary>> HTTPRequest::sessionProxyCredentialsStore() {
    std::lock_guard<std::recursive_mutex> g(engine::sessionCredentialsLock());
    return {gSessionProxyCredentials.begin(), gSessionProxyCredentials.end()};
}

static void storeRecord(std::vector<ns::Ref<ns::MutableDictionary>>& store, ns::Ref<ns::Dictionary> record) {
    auto* credentials = record->objectForKey("Credentials");
    std::erase_if(store, [&](const ns::Ref<ns::MutableDictionary>& r) {
        return credentials && r->objectForKey("Credentials") == credentials;
    });
    store.push_back(record->mutableCopy());
}
static void removeRecord(std::vector<ns::Ref<ns::MutableDictionary>>& store, const ns::Dictionary* credentials) {
    if (!credentials) return;
    for (auto it = store.begin(); it != store.end(); ++it)
        if ((*it)->objectForKey("Credentials") == credentials) {
            store.erase(it);
            return;
        }
}

void HTTPRequest::storeAuthenticationCredentialsInSessionStore(ns::Ref<ns::Dictionary> record) {
    std::lock_guard<std::recursive_mutex> g(engine::sessionCredentialsLock());
    storeRecord(gSessionCredentials, std::move(record));
}
void HTTPRequest::storeProxyAuthenticationCredentialsInSessionStore(ns::Ref<ns::Dictionary> record) {
    std::lock_guard<std::recursive_mutex> g(engine::sessionCredentialsLock());
    storeRecord(gSessionProxyCredentials, std::move(record));
}
void HTTPRequest::removeAuthenticationCredentialsFromSessionStore(const ns::Dictionary* credentials) {
    std::lock_guard<std::recursive_mutex> g(engine::sessionCredentialsLock());
    removeRecord(gSessionCredentials, credentials);
}
void HTTPRequest::removeProxyAuthenticationCredentialsFromSessionStore(const ns::Dictionary* credentials) {
    std::lock_guard<std::recursive_mutex> g(engine::sessionCredentialsLock());
    removeRecord(gSessionProxyCredentials, credentials);
}

// ---- Platform credential storage ---------------------------------------------------------

static net::URLProtectionSpace serverSpace(const std::string& host, int port, const std::string& protocol,
                                          const std::string& realm) {
    return net::URLProtectionSpace::server(host, port, protocol, realm);
}
static net::URLProtectionSpace proxySpace(const std::string& host, int port, const std::string& realm) {
    return net::URLProtectionSpace::proxy(host, port, net::kProxyTypeHTTP, realm);
}
static ns::Ref<ns::Dictionary> fromCredential(const ns::Ref<net::URLCredential>& c) {
    if (!c) return nullptr;
    return makeCredentials(c->user(), c->password(), false, "");
}

void HTTPRequest::saveCredentialsForHost(const ns::Dictionary& credentials, const std::string& host, int port,
                                         const std::string& protocol, const std::string& realm) {
    auto c = net::URLCredential::make(credentialText(&credentials, kCredentialUsernameKey),
                                      credentialText(&credentials, kCredentialPasswordKey),
                                      net::URLCredentialPersistence::Permanent);
    net::URLCredentialStorage::sharedCredentialStorage().setDefaultCredential(c, serverSpace(host, port, protocol, realm));
}
void HTTPRequest::saveCredentialsForProxy(const ns::Dictionary& credentials, const std::string& host, int port,
                                          const std::string& realm) {
    auto c = net::URLCredential::make(credentialText(&credentials, kCredentialUsernameKey),
                                      credentialText(&credentials, kCredentialPasswordKey),
                                      net::URLCredentialPersistence::Permanent);
    net::URLCredentialStorage::sharedCredentialStorage().setDefaultCredential(c, proxySpace(host, port, realm));
}
ns::Ref<ns::Dictionary> HTTPRequest::savedCredentialsForHost(const std::string& host, int port,
                                                            const std::string& protocol, const std::string& realm) {
    return fromCredential(net::URLCredentialStorage::sharedCredentialStorage().defaultCredentialForProtectionSpace(
        serverSpace(host, port, protocol, realm)));
}
ns::Ref<ns::Dictionary> HTTPRequest::savedCredentialsForProxy(const std::string& host, int port,
                                                             const std::string& realm) {
    return fromCredential(net::URLCredentialStorage::sharedCredentialStorage().defaultCredentialForProtectionSpace(
        proxySpace(host, port, realm)));
}
void HTTPRequest::removeCredentialsForHost(const std::string& host, int port, const std::string& protocol,
                                           const std::string& realm) {
    auto& storage = net::URLCredentialStorage::sharedCredentialStorage();
    auto space = serverSpace(host, port, protocol, realm);
    if (auto c = storage.defaultCredentialForProtectionSpace(space)) storage.removeCredential(*c, space);
}
void HTTPRequest::removeCredentialsForProxy(const std::string& host, int port, const std::string& realm) {
    auto& storage = net::URLCredentialStorage::sharedCredentialStorage();
    auto space = proxySpace(host, port, realm);
    if (auto c = storage.defaultCredentialForProtectionSpace(space)) storage.removeCredential(*c, space);
}

void HTTPRequest::saveCredentialsToKeychain(const ns::Dictionary& credentials) {
    if (!url_) return;
    saveCredentialsForHost(credentials, url_->host() ? std::string(url_->host()->utf8()) : "", portOf(*url_),
                           url_->scheme() ? std::string(url_->scheme()->utf8()) : "", authenticationRealm_);
}
void HTTPRequest::saveProxyCredentialsToKeychain(const ns::Dictionary& credentials) {
    saveCredentialsForProxy(credentials, proxyHost_, proxyPort_, proxyAuthenticationRealm_);
}

}  // namespace http
