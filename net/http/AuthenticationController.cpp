#include "net/http/AuthenticationController.h"

#include "platform/foundation/String.h"

namespace http {

namespace {
bool refusedCredentials(const ns::Error* reason) {
    return reason && reason->domain() == net::kHTTPAuthenticationErrorDomain &&
           (reason->code() == net::kAuthenticationBadUserName || reason->code() == net::kAuthenticationBadPassword);
}
}  // namespace

ns::Ref<ns::Dictionary> AuthenticationController::makeCredentials(const std::string& user, const std::string& password,
                                                                  bool withDomain, const std::string& domain) {
    auto d = ns::MutableDictionary::make();
    d->setObject(ns::String::make(user), kCredentialUsernameKey);
    d->setObject(ns::String::make(password), kCredentialPasswordKey);
    if (withDomain) d->setObject(ns::String::make(domain), kCredentialAccountDomainKey);
    return d;
}

std::string AuthenticationController::credentialText(const ns::Dictionary* credentials, const char* key) {
    const ns::Object* value = credentials ? credentials->objectForKey(key) : nullptr;
    return value ? value->description() : std::string();
}

// ---- Challenges ----------------------------------------------------------------

AuthenticationController::Reading AuthenticationController::readChallenge(const net::HTTPMessage& response,
                                                                          Sources& sources) {
    ns::Ref<net::HTTPAuthentication> authentication = this->authentication();
    if (!authentication) {
        authentication = net::HTTPAuthentication::authenticationFromResponse(response, sources.protectionSpace());
        if (!authentication) return Reading::NoObject;
        setScheme(authentication->method());
        std::lock_guard<std::mutex> g(mutex_);
        objectApplications_ = 0;
    } else {
        // The answer to credentials we sent: refused, a stale nonce, or
        // the next step of a multi-message scheme.
        authentication->updateFromResponse(response);
    }
    ns::Ref<ns::Error> reason;
    bool valid = authentication->isValid(&reason);
    ns::Ref<ns::Dictionary> refused;
    {
        std::lock_guard<std::mutex> g(mutex_);
        realm_ = authentication->requiresAccountDomain() ? "" : authentication->realm();
        authentication_ = valid ? authentication : nullptr;
        if (!valid && refusedCredentials(reason.get())) refused = std::exchange(credentials_, nullptr);
    }
    if (valid) return Reading::Answerable;
    if (!refusedCredentials(reason.get())) return Reading::Invalid;
    if (refused) sources.forgetSessionCredentials(refused.get());
    return Reading::Refused;
}

bool AuthenticationController::retryFromSessionStore(const net::HTTPMessage& response, net::HTTPMessage& request,
                                                     Sources& sources) {
    if (!sources.usesSessionStore()) return false;
    auto record = sources.sessionRecord(realm());
    if (!record) return false;
    auto fresh = net::HTTPAuthentication::authenticationFromResponse(response, sources.protectionSpace());
    if (!fresh) return false;
    {
        std::lock_guard<std::mutex> g(mutex_);
        authentication_ = fresh;
        objectApplications_ = 0;
    }
    if (apply(ns::Ref<ns::Dictionary>(record->dictionaryForKey("Credentials")), request, sources)) return true;
    std::lock_guard<std::mutex> g(mutex_);
    authentication_ = nullptr;
    return false;
}

AuthenticationController::Next AuthenticationController::reapply(net::HTTPMessage& request, Sources& sources) {
    ns::Ref<net::HTTPAuthentication> authentication;
    int applications;
    {
        std::lock_guard<std::mutex> g(mutex_);
        authentication = authentication_;
        applications = objectApplications_;
    }
    // NTLM sends two messages with the same credentials and object; a
    // challenge after both means they were not accepted. A new object (new
    // credentials after a refusal) starts its exchange from the first.
    if (authentication && authentication->method() == "NTLM" && applications > 1) return Next::Fail;
    return apply(credentials(), request, sources) ? Next::Resend : Next::ApplyFailed;
}

AuthenticationController::Next AuthenticationController::chooseCredentials(net::HTTPMessage& request,
                                                                          Sources& sources) {
    if (sources.usesSessionStore()) {
        if (auto record = sources.sessionRecord(realm())) {
            if (apply(ns::Ref<ns::Dictionary>(record->dictionaryForKey("Credentials")), request, sources))
                return Next::Resend;
        }
    }
    auto authentication = this->authentication();
    bool withDomain = authentication && authentication->requiresAccountDomain();
    auto found = sources.findCredentials(withDomain, realm());
    if (!found) return Next::AskCaller;
    return apply(found, request, sources) ? Next::Resend : Next::ApplyFailed;
}

// ---- Applying -------------------------------------------------------------------

bool AuthenticationController::applyTo(net::HTTPAuthentication& authentication, const ns::Dictionary& credentials,
                                       net::HTTPMessage& request) const {
    ns::Ref<ns::Error> error;
    return authentication.applyCredentials(request, credentialText(&credentials, kCredentialUsernameKey),
                                           credentialText(&credentials, kCredentialPasswordKey),
                                           credentialText(&credentials, kCredentialAccountDomainKey), &error);
}

bool AuthenticationController::apply(const ns::Ref<ns::Dictionary>& credentials, net::HTTPMessage& request,
                                     Sources& sources) {
    ns::Ref<net::HTTPAuthentication> authentication;
    {
        std::lock_guard<std::mutex> g(mutex_);
        ++retryCount_;
        ++objectApplications_;
        authentication = authentication_;
    }
    if (!credentials || !authentication) return false;
    if (!applyTo(*authentication, *credentials, request)) {
        sources.forgetSessionCredentials(credentials.get());
        return false;
    }
    std::string scheme, realm;
    {
        std::lock_guard<std::mutex> g(mutex_);
        scheme = scheme_;
        realm = realm_;
        credentials_ = credentials;
    }
    if (sources.usesKeychain()) sources.saveToKeychain(*credentials, realm);
    if (sources.usesSessionStore()) sources.storeSessionRecord(authentication, credentials, scheme, realm);
    return true;
}

AuthenticationController::Stored AuthenticationController::applyFromSessionStore(net::HTTPMessage& request,
                                                                                Sources& sources) {
    Stored stored;
    if (!sources.usesSessionStore()) return stored;
    auto record = sources.sessionRecord(realm());
    if (!record) return stored;
    stored.credentials = record->dictionaryForKey("Credentials");
    auto* authentication = ns::as<net::HTTPAuthentication>(record->objectForKey("Authentication"));
    if (!authentication) {
        stored.result = Stored::Result::NoObject;
    } else if (stored.credentials && applyTo(*authentication, *stored.credentials, request)) {
        stored.result = Stored::Result::Applied;
        setScheme(credentialText(record.get(), "AuthenticationScheme"));
    } else {
        stored.result = Stored::Result::Failed;
        sources.forgetSessionCredentials(stored.credentials.get());
    }
    return stored;
}

// ---- State ----------------------------------------------------------------------

void AuthenticationController::forgetAuthentication() {
    std::lock_guard<std::mutex> g(mutex_);
    authentication_ = nullptr;
    objectApplications_ = 0;
}

void AuthenticationController::forgetCredentials() {
    std::lock_guard<std::mutex> g(mutex_);
    credentials_ = nullptr;
}

std::string AuthenticationController::scheme() const {
    std::lock_guard<std::mutex> g(mutex_);
    return scheme_;
}
void AuthenticationController::setScheme(std::string scheme) {
    std::lock_guard<std::mutex> g(mutex_);
    scheme_ = std::move(scheme);
}
std::string AuthenticationController::realm() const {
    std::lock_guard<std::mutex> g(mutex_);
    return realm_;
}
ns::Ref<ns::Dictionary> AuthenticationController::credentials() const {
    std::lock_guard<std::mutex> g(mutex_);
    return credentials_;
}
ns::Ref<net::HTTPAuthentication> AuthenticationController::authentication() const {
    std::lock_guard<std::mutex> g(mutex_);
    return authentication_;
}
int AuthenticationController::retryCount() const {
    std::lock_guard<std::mutex> g(mutex_);
    return retryCount_;
}

}  // namespace http
