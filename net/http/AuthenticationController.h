// AuthenticationController: one login target of a request, its server or
// its proxy. One class, used twice by every request: it owns the target's
// state (the authentication object built from the last challenge, its
// scheme and realm, the credentials applied and how many times credentials
// were applied) and decides how a 401 or 407 answer is met. It sends
// nothing and waits for nothing: the request opens the stream again, asks
// its caller or fails, as the controller's answer says.
//
// Where credentials come from (the request's own settings, its URL, the
// session store, the keychain) differs between the two targets; the request
// hands those sources in (Sources), so the controller is tested without
// sockets against a fake.
//
// State changes happen on the request's thread; the accessors may be read
// from any thread (the credentials dialog reads the realm on the main
// thread), under the controller's own lock.
#pragma once

#include <mutex>
#include <string>

#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Error.h"
#include "platform/network/HTTPAuthentication.h"
#include "platform/network/HTTPMessage.h"

namespace http {

// Keys of credential dictionaries.
inline constexpr const char* kCredentialUsernameKey = "Username";
inline constexpr const char* kCredentialPasswordKey = "Password";
inline constexpr const char* kCredentialAccountDomainKey = "AccountDomain";

class AuthenticationController {
public:
    enum class Target { Server, Proxy };

    // The target's credential sources, as the request has them.
    class Sources {
    public:
        virtual ~Sources() = default;
        // Whether applied credentials go to the session store, the keychain.
        virtual bool usesSessionStore() const = 0;
        virtual bool usesKeychain() const = 0;
        // The session-store record for this target ("Credentials",
        // "Authentication", ...) for the realm, or nil.
        virtual ns::Ref<ns::Dictionary> sessionRecord(const std::string& realm) = 0;
        // Keeps applied credentials in the session store.
        virtual void storeSessionRecord(const ns::Ref<net::HTTPAuthentication>& authentication,
                                        const ns::Ref<ns::Dictionary>& credentials, const std::string& scheme,
                                        const std::string& realm) = 0;
        virtual void forgetSessionCredentials(const ns::Dictionary* credentials) = 0;
        // Credentials from the request, its URL or the keychain (with the
        // account domain when `withDomain`); nil when there are none.
        virtual ns::Ref<ns::Dictionary> findCredentials(bool withDomain, const std::string& realm) = 0;
        virtual void saveToKeychain(const ns::Dictionary& credentials, const std::string& realm) = 0;
        // Where the target's challenges come from, for the Digest nonce
        // counts that objects made from one challenge share. Empty (the
        // server's case): the origin of each request the object applies to.
        virtual std::string protectionSpace() const { return {}; }
    };

    // What a challenge turned out to be.
    enum class Reading {
        Answerable,  // a valid authentication object: go on with credentials
        NoObject,    // the answer carries no challenge we can read
        Refused,     // the credentials sent were refused (they are forgotten)
        Invalid,     // the object became invalid for another reason
    };
    // What the request does next.
    enum class Next {
        Resend,       // credentials applied: open the stream again
        AskCaller,    // none found: ask the delegate, a block or the dialog
        Fail,         // authentication failed (code 3)
        ApplyFailed,  // the credentials could not be applied (code 7)
    };

    explicit AuthenticationController(Target target) : target_(target) {}
    AuthenticationController(const AuthenticationController&) = delete;
    AuthenticationController& operator=(const AuthenticationController&) = delete;

    Target target() const { return target_; }

    // Reads a 401 (server) or 407 (proxy) answer: builds the authentication
    // object on the first challenge, or lets the existing one read the
    // answer to the credentials sent (refused, a stale nonce, NTLM's
    // second step). A refusal forgets the credentials, here and in the
    // session store.
    Reading readChallenge(const net::HTTPMessage& response, Sources& sources);
    // After a refusal: credentials from the session store, applied to a
    // fresh object for the same answer. True when they were (resend).
    bool retryFromSessionStore(const net::HTTPMessage& response, net::HTTPMessage& request, Sources& sources);
    // After an answerable challenge, when credentials were applied before:
    // apply them again (NTLM's second message); Fail when NTLM has sent
    // both its messages with this object.
    Next reapply(net::HTTPMessage& request, Sources& sources);
    // After an answerable challenge with no credentials yet: the session
    // store's, else those the sources find; AskCaller when there are none.
    Next chooseCredentials(net::HTTPMessage& request, Sources& sources);
    // Applies credentials to the request message for the current object,
    // counting the attempt; stores them (session store, keychain) when
    // they could be applied, forgets them in the session store otherwise.
    bool apply(const ns::Ref<ns::Dictionary>& credentials, net::HTTPMessage& request, Sources& sources);
    // Before any challenge: the session store's record for this target.
    struct Stored {
        enum class Result {
            None,      // no record
            Applied,   // its object applied its credentials
            NoObject,  // a record without an object (credentials only)
            Failed,    // its object refused them: the record is forgotten
        };
        Result result = Result::None;
        ns::Ref<ns::Dictionary> credentials;
    };
    Stored applyFromSessionStore(net::HTTPMessage& request, Sources& sources);

    // The request's URL changed: the object belongs to the old one.
    void forgetAuthentication();
    // Credentials applied so far stay behind (a redirect left the origin).
    void forgetCredentials();

    std::string scheme() const;
    void setScheme(std::string scheme);
    std::string realm() const;
    ns::Ref<ns::Dictionary> credentials() const;
    ns::Ref<net::HTTPAuthentication> authentication() const;
    int retryCount() const;

    // Credentials dictionary from its parts ("Username", "Password" and,
    // with `withDomain`, "AccountDomain").
    static ns::Ref<ns::Dictionary> makeCredentials(const std::string& user, const std::string& password,
                                                   bool withDomain, const std::string& domain);
    // A credentials dictionary's text for `key` ("" when absent).
    static std::string credentialText(const ns::Dictionary* credentials, const char* key);

private:
    bool applyTo(net::HTTPAuthentication& authentication, const ns::Dictionary& credentials,
                 net::HTTPMessage& request) const;

    const Target target_;
    mutable std::mutex mutex_;
    ns::Ref<net::HTTPAuthentication> authentication_;
    std::string scheme_;
    std::string realm_;
    ns::Ref<ns::Dictionary> credentials_;
    int retryCount_ = 0;
    // Applications with the current object (NTLM sends two per object;
    // retryCount_ counts every object's and is never reset).
    int objectApplications_ = 0;
};

}  // namespace http
