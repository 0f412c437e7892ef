// HTTPRequest: credentials before a challenge, answering 401 and 407
// challenges, the session credential stores, asking the delegate, and the
// platform credential storage.
#include "net/http/HTTPRequestInternal.h"
#include "platform/foundation/Format.h"
#include "platform/network/Origin.h"
#include "platform/network/URLCredential.h"

namespace http {

namespace {
// Never destroyed, like the rest of the class-wide state (HTTPRequest.cpp).
std::vector<ns::Ref<ns::MutableDictionary>>& gSessionCredentials = *new std::vector<ns::Ref<ns::MutableDictionary>>;
std::vector<ns::Ref<ns::MutableDictionary>>& gSessionProxyCredentials =
    *new std::vector<ns::Ref<ns::MutableDictionary>>;
std::mutex gDialogMutex;
std::function<void(ns::Ref<HTTPRequest>)>& gDialogPresenter = *new std::function<void(ns::Ref<HTTPRequest>)>;

std::string credentialText(const ns::Dictionary* credentials, const char* key) {
    return AuthenticationController::credentialText(credentials, key);
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

// ---- Credential sources of each target -----------------------------------------------

class HTTPRequest::ServerSources : public AuthenticationController::Sources {
public:
    explicit ServerSources(HTTPRequest& r) : r_(r) {}
    bool usesSessionStore() const override { return r_.useSessionPersistence_; }
    bool usesKeychain() const override { return r_.useKeychainPersistence_; }
    ns::Ref<ns::Dictionary> sessionRecord(const std::string& realm) override {
        return r_.findSessionAuthenticationCredentials(realm);
    }
    void storeSessionRecord(const ns::Ref<net::HTTPAuthentication>& authentication,
                            const ns::Ref<ns::Dictionary>& credentials, const std::string& scheme,
                            const std::string& realm) override {
        auto record = ns::MutableDictionary::make();
        record->setObject(authentication, "Authentication");
        record->setObject(credentials, "Credentials");
        record->setObject(r_.url_, "URL");
        record->setObject(engine::str(scheme), "AuthenticationScheme");
        if (!realm.empty()) record->setObject(engine::str(realm), "AuthenticationRealm");
        storeAuthenticationCredentialsInSessionStore(record);
    }
    void forgetSessionCredentials(const ns::Dictionary* credentials) override {
        removeAuthenticationCredentialsFromSessionStore(credentials);
    }
    ns::Ref<ns::Dictionary> findCredentials(bool withDomain, const std::string& realm) override {
        return r_.findCredentials(withDomain, realm);
    }
    void saveToKeychain(const ns::Dictionary& credentials, const std::string& realm) override {
        if (!r_.url_) return;
        saveCredentialsForHost(credentials, r_.url_->host() ? std::string(r_.url_->host()->utf8()) : "", portOf(*r_.url_),
                               r_.url_->scheme() ? std::string(r_.url_->scheme()->utf8()) : "", realm);
    }

private:
    HTTPRequest& r_;
};

class HTTPRequest::ProxySources : public AuthenticationController::Sources {
public:
    explicit ProxySources(HTTPRequest& r) : r_(r) {}
    bool usesSessionStore() const override { return r_.useSessionPersistence_; }
    bool usesKeychain() const override { return r_.useKeychainPersistence_; }
    ns::Ref<ns::Dictionary> sessionRecord(const std::string&) override {
        return r_.findSessionProxyAuthenticationCredentials();
    }
    void storeSessionRecord(const ns::Ref<net::HTTPAuthentication>& authentication,
                            const ns::Ref<ns::Dictionary>& credentials, const std::string& scheme,
                            const std::string&) override {
        auto record = ns::MutableDictionary::make();
        record->setObject(authentication, "Authentication");
        record->setObject(credentials, "Credentials");
        record->setObject(engine::str(r_.proxyHost()), "Host");
        record->setObject(ns::Number::numberWithInt(r_.proxyPort()), "Port");
        record->setObject(engine::str(scheme), "AuthenticationScheme");
        storeProxyAuthenticationCredentialsInSessionStore(record);
    }
    void forgetSessionCredentials(const ns::Dictionary* credentials) override {
        removeProxyAuthenticationCredentialsFromSessionStore(credentials);
    }
    ns::Ref<ns::Dictionary> findCredentials(bool withDomain, const std::string& realm) override {
        return r_.findProxyCredentials(withDomain, realm);
    }
    void saveToKeychain(const ns::Dictionary& credentials, const std::string& realm) override {
        saveCredentialsForProxy(credentials, r_.proxyHost(), r_.proxyPort(), realm);
    }
    // One proxy's challenges, whichever server the requests are for.
    std::string protectionSpace() const override {
        return "proxy " + r_.proxyHost() + ":" + std::to_string(r_.proxyPort());
    }

private:
    HTTPRequest& r_;
};

// ---- Whose credentials ------------------------------------------------------------

void HTTPRequest::setUsername(std::string v) {
    std::lock_guard<std::mutex> g(settingsLock_);
    username_ = std::move(v);
    credentialsOrigin_ = url_;
}
void HTTPRequest::setPassword(std::string v) {
    std::lock_guard<std::mutex> g(settingsLock_);
    password_ = std::move(v);
    credentialsOrigin_ = url_;
}
void HTTPRequest::setDomain(std::string v) {
    std::lock_guard<std::mutex> g(settingsLock_);
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
    serverLogin_.forgetCredentials();
}

bool HTTPRequest::askCallerForCredentials(AuthenticationController::Target target) {
    bool proxy = target == AuthenticationController::Target::Proxy;
    if (!willAskDelegateForCredentials(proxy) && !showAuthenticationDialog(proxy)) return false;
    awaitingCaller_ = true;
    return true;
}

// ---- Before the challenge ----------------------------------------------------------

void HTTPRequest::addBasicAuthenticationHeader(const std::string& user, const std::string& password) {
    addRequestHeader("Authorization", net::HTTPAuthentication::basicAuthorization(user, password));
    serverLogin_.setScheme("Basic");
}

void HTTPRequest::applyAuthorizationHeader() {
    if (!shouldPresentCredentialsBeforeChallenge_) return;
    if (!engine::headerIn(requestHeaders_.get(), "Authorization")) {
        if (!username_.empty() && !password_.empty() && serverLogin_.scheme() == "Basic" &&
            ownCredentialsApplyTo(*url_)) {
            addBasicAuthenticationHeader(username_, password_);
        } else {
            ServerSources sources(*this);
            auto stored = serverLogin_.applyFromSessionStore(*request_, sources);
            // A Basic login kept without its object: its header.
            if (stored.result == AuthenticationController::Stored::Result::NoObject)
                addBasicAuthenticationHeader(credentialText(stored.credentials.get(), kCredentialUsernameKey),
                                             credentialText(stored.credentials.get(), kCredentialPasswordKey));
        }
    }
    ProxySources proxySources(*this);
    auto stored = proxyLogin_.applyFromSessionStore(*request_, proxySources);
    if (stored.result == AuthenticationController::Stored::Result::NoObject)
        removeProxyAuthenticationCredentialsFromSessionStore(stored.credentials.get());
}

// ---- Challenges ----------------------------------------------------------------------

void HTTPRequest::attemptToApplyCredentialsAndResume() {
    if (authenticationEnds()) return;
    bool proxy = authenticationNeeded_ == kProxyAuthenticationNeeded;
    AuthenticationController& login = proxy ? proxyLogin_ : serverLogin_;
    ServerSources serverSources(*this);
    ProxySources proxySources(*this);
    AuthenticationController::Sources& sources =
        proxy ? static_cast<AuthenticationController::Sources&>(proxySources) : serverSources;
    const char* applyFailure =
        proxy ? "Failed to apply proxy credentials to request" : "Failed to apply credentials to request";
    auto fail = [&](AuthenticationController::Next next) {
        if (next == AuthenticationController::Next::ApplyFailed)
            failWithError(errorWithCode(kInternalErrorWhileApplyingCredentialsType, applyFailure));
        else failWithError(engine::authenticationError());
    };
    // The challenge's page is not the body the progress waits for: the
    // size its length added and its bytes go before the attempt with the
    // login.
    auto resend = [this] {
        removeDownloadProgressSoFar();
        startRequest();
    };

    using Reading = AuthenticationController::Reading;
    using Next = AuthenticationController::Next;
    Reading reading = responseMessage_ ? login.readChallenge(*responseMessage_, sources) : Reading::NoObject;
    if (reading == Reading::NoObject) {
        cancelLoad();
        failWithError(errorWithCode(kInternalErrorWhileApplyingCredentialsType,
                                    "Failed to get authentication object from response headers"));
        return;
    }
    if (reading == Reading::Invalid) {
        cancelLoad();
        fail(Next::Fail);
        return;
    }
    if (reading == Reading::Refused) {
        std::unique_lock<std::recursive_mutex> askLock(engine::delegateAuthenticationLock());
        if (authenticationEnds()) return;
        // A proxy's refused login is asked for again; the delegate or the
        // dialog answers with retryUsingSuppliedCredentials, which runs the
        // attempt again from a fresh object.
        if (!proxy && login.retryFromSessionStore(*responseMessage_, *request_, sources)) {
            askLock.unlock();
            resend();
            return;
        }
        lastActivityTime_ = 0;
        if (askCallerForCredentials(login.target())) return;
        askLock.unlock();
        cancelLoad();
        fail(Next::Fail);
        return;
    }

    cancelLoad();
    if (login.credentials()) {
        Next next = login.reapply(*request_, sources);
        if (next == Next::Resend) resend();
        else fail(next);
        return;
    }
    // Every scheme answered here (Basic, Digest, NTLM) logs in with a user
    // name and password; one that did not could go no further.
    if (!login.authentication() || !login.authentication()->requiresUserNameAndPassword()) {
        fail(Next::Fail);
        return;
    }

    std::unique_lock<std::recursive_mutex> askLock(engine::delegateAuthenticationLock());
    if (authenticationEnds()) return;
    Next next = login.chooseCredentials(*request_, sources);
    if (next == Next::AskCaller) {
        lastActivityTime_ = 0;
        if (askCallerForCredentials(login.target())) return;
        next = Next::Fail;
    }
    askLock.unlock();
    if (next == Next::Resend) resend();
    else fail(next);
}

// ---- Finding -------------------------------------------------------------------------

ns::Ref<ns::Dictionary> HTTPRequest::findCredentials(bool withDomain, const std::string& realm) {
    std::string user(url_ && url_->user() ? url_->user()->utf8() : "");
    std::string pass(url_ && url_->password() ? url_->password()->utf8() : "");
    auto main = mainRequest();
    if ((user.empty() || pass.empty()) && url_) {
        if (main && !main->username_.empty() && !main->password_.empty() && main->ownCredentialsApplyTo(*url_)) {
            user = main->username_;
            pass = main->password_;
        } else if (!username_.empty() && !password_.empty() && ownCredentialsApplyTo(*url_)) {
            user = username_;
            pass = password_;
        }
    }
    if ((user.empty() || pass.empty()) && useKeychainPersistence_ && url_) {
        auto saved = savedCredentialsForHost(url_->host() ? std::string(url_->host()->utf8()) : "", portOf(*url_),
                                             url_->scheme() ? std::string(url_->scheme()->utf8()) : "", realm);
        if (saved) {
            user = credentialText(saved.get(), kCredentialUsernameKey);
            pass = credentialText(saved.get(), kCredentialPasswordKey);
        }
    }
    std::string theDomain;
    if (withDomain) {
        if (url_ && ownCredentialsApplyTo(*url_)) theDomain = domain_;
        if (theDomain.empty()) splitDomain(user, theDomain);
    }
    if (user.empty() || pass.empty()) return nullptr;
    return AuthenticationController::makeCredentials(user, pass, withDomain, theDomain);
}

ns::Ref<ns::Dictionary> HTTPRequest::findProxyCredentials(bool ntlm, const std::string& realm) {
    std::string user, pass;
    auto main = mainRequest();
    if (main && !main->proxyUsername_.empty() && !main->proxyPassword_.empty()) {
        user = main->proxyUsername_;
        pass = main->proxyPassword_;
    } else if (!proxyUsername_.empty() && !proxyPassword_.empty()) {
        user = proxyUsername_;
        pass = proxyPassword_;
    }
    if ((user.empty() || pass.empty()) && ntlm) {
        user = username_;
        pass = password_;
    }
    if (user.empty() || pass.empty()) {
        if (auto saved = savedCredentialsForProxy(proxyHost(), proxyPort(), realm)) {
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
    return AuthenticationController::makeCredentials(user, pass, ntlm, theDomain);
}

ns::Ref<ns::Dictionary> HTTPRequest::findSessionAuthenticationCredentials(const std::string& realmWanted) {
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
        if (!realm.empty() && !realmWanted.empty() && realm != realmWanted) continue;
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
        if (engine::textOf(record->objectForKey("Host")) == proxyHost() && port && port->longValue() == proxyPort())
            return record;
    }
    return nullptr;
}

bool HTTPRequest::willAskDelegateForCredentials(bool proxy) {
    if (isSynchronous_) return false;
    auto op = proxy ? HTTPRequestDelegate::Optional::proxyAuthenticationNeededForRequest
                    : HTTPRequestDelegate::Optional::authenticationNeededForRequest;
    bool block;
    auto l = listeners([&] {
        block = static_cast<bool>(proxy ? proxyAuthenticationNeededBlock_ : authenticationNeededBlock_);
    });
    bool targetAnswers = l.delegate ? l.delegate->answers(op) : (l.queue && l.queueDelegate()->answers(op));
    if (!block && !targetAnswers) return false;
    auto self = ns::keepAlive(this);
    ns::performOnMainThread([self, proxy] { self->askDelegateForCredentials(proxy); }, false);
    return true;
}

void HTTPRequest::askDelegateForCredentials(bool proxy) {
    Block block;
    auto l = listeners([&] { block = proxy ? proxyAuthenticationNeededBlock_ : authenticationNeededBlock_; });
    auto op = proxy ? HTTPRequestDelegate::Optional::proxyAuthenticationNeededForRequest
                    : HTTPRequestDelegate::Optional::authenticationNeededForRequest;
    HTTPRequestDelegate* target = l.delegate ? l.delegate.get() : l.queueDelegate();
    if (target && target->answers(op)) {
        if (proxy) target->proxyAuthenticationNeededForRequest(this);
        else target->authenticationNeededForRequest(this);
        return;
    }
    if (block) block();
}

bool HTTPRequest::showAuthenticationDialog(bool proxy) {
    if (isSynchronous_ || !(proxy ? shouldPresentProxyAuthenticationDialog_ : shouldPresentAuthenticationDialog_))
        return false;
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
        self->awaitingCaller_ = false;
        bool haveMessage = self->request_ != nullptr;
        if (haveMessage) self->attemptToApplyCredentialsAndResume();
        else self->main();
    });
}

void HTTPRequest::cancelAuthentication() {
    auto self = ns::keepAlive(this);
    performOnRequestThread([self] {
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

namespace {
// Whether two records are for one protection space: the server store's
// origin and realm, the proxy store's host and port. A record without
// them (one a caller stored by hand) is replaced only by its credentials.
bool sameServerSpace(const ns::Dictionary& a, const ns::Dictionary& b) {
    auto* urlA = ns::as<ns::URL>(a.objectForKey("URL"));
    auto* urlB = ns::as<ns::URL>(b.objectForKey("URL"));
    if (!urlA || !urlB) return false;
    return ns::equal(urlA->host(), urlB->host()) && ns::equal(urlA->scheme(), urlB->scheme()) &&
           ns::equal(urlA->port(), urlB->port()) &&
           engine::textOf(a.objectForKey("AuthenticationRealm")) == engine::textOf(b.objectForKey("AuthenticationRealm"));
}
bool sameProxySpace(const ns::Dictionary& a, const ns::Dictionary& b) {
    auto* portA = a.numberForKey("Port");
    auto* portB = b.numberForKey("Port");
    if (!portA || !portB || !a.objectForKey("Host") || !b.objectForKey("Host")) return false;
    return engine::textOf(a.objectForKey("Host")) == engine::textOf(b.objectForKey("Host")) &&
           portA->longValue() == portB->longValue();
}

void storeRecord(std::vector<ns::Ref<ns::MutableDictionary>>& store, ns::Ref<ns::Dictionary> record,
                 bool (*sameSpace)(const ns::Dictionary&, const ns::Dictionary&)) {
    auto* credentials = record->objectForKey("Credentials");
    std::erase_if(store, [&](const ns::Ref<ns::MutableDictionary>& r) {
        return (credentials && r->objectForKey("Credentials") == credentials) || sameSpace(*r, *record);
    });
    store.push_back(record->mutableCopy());
    if (store.size() > HTTPRequest::kMaxSessionCredentialRecords)
        store.erase(store.begin(),
                    store.begin() + static_cast<long>(store.size() - HTTPRequest::kMaxSessionCredentialRecords));
}
}  // namespace

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
    storeRecord(gSessionCredentials, std::move(record), sameServerSpace);
}
void HTTPRequest::storeProxyAuthenticationCredentialsInSessionStore(ns::Ref<ns::Dictionary> record) {
    std::lock_guard<std::recursive_mutex> g(engine::sessionCredentialsLock());
    storeRecord(gSessionProxyCredentials, std::move(record), sameProxySpace);
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
    return AuthenticationController::makeCredentials(c->user(), c->password(), false, "");
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

}  // namespace http
