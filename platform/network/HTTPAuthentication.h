// HTTP authentication objects: made from a 401 or 407 answer, they apply a
// user's credentials to the next request: Basic and Digest (RFC 7617 and
// RFC 7616) and NTLM with version 2 responses (a three-message exchange on
// one connection). Negotiate challenges are recognised but not answered.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"
#include "platform/network/DigestNonceCounts.h"
#include "platform/network/HTTPMessage.h"
#include "platform/network/NTLM.h"

namespace net {

// Errors of authentication objects.
inline constexpr const char* kHTTPAuthenticationErrorDomain = "HTTPAuthenticationErrorDomain";
enum HTTPAuthenticationErrorCode : long {
    kAuthenticationBadUserName = -1001,
    kAuthenticationBadPassword = -1002,
    kAuthenticationUnsupportedScheme = -1003,
    kAuthenticationNonceCountsUsedUp = -1004,
};

// One challenge of a WWW-Authenticate or Proxy-Authenticate field.
struct AuthChallenge {
    std::string scheme;                         // as written ("Digest")
    std::map<std::string, std::string> params;  // lower-case names
    std::string token68;                        // for schemes that send one blob
};
// Every challenge in the fields' values, in order; malformed parts skipped.
std::vector<AuthChallenge> parseChallenges(const std::vector<std::string>& fieldValues);

// One object may be shared by requests on several threads (a login kept for
// the session is applied to every later request of its realm): its calls
// take its own lock. A Digest nonce count is never given out twice for one
// challenge: all objects made from it draw on one counter (DigestNonceCounts).
class HTTPAuthentication : public ns::Object {
public:
    const char* className() const override { return "HTTPAuthentication"; }

    // From a 401 (server) or 407 (proxy) answer: the strongest challenge we
    // can answer (Digest before Basic). Nil when the answer has none.
    // `space` names where the challenge came from (the proxy, for a 407);
    // Digest counts are shared within a space, realm and nonce. Empty: the
    // origin of each request the object is applied to.
    static ns::Ref<HTTPAuthentication> authenticationFromResponse(const HTTPMessage& response,
                                                                  std::string space = {});

    // The answer to a request that carried our credentials: another
    // challenge means they were refused (the object becomes invalid with
    // kAuthenticationBadPassword), except a Digest challenge marked stale,
    // which only renews the nonce. An object renews its nonce at most
    // kMaxStaleRenewals times: a server whose every new nonce is at once
    // stale again would otherwise keep one request going for ever, so the
    // stale answer after those counts as a refusal.
    static constexpr int kMaxStaleRenewals = 3;
    void updateFromResponse(const HTTPMessage& response);

    // False with the reason when the credentials given last were refused.
    bool isValid(ns::Ref<ns::Error>* reason = nullptr) const;
    std::string method() const;  // "Basic", "Digest" or "NTLM"
    std::string realm() const;
    bool isProxy() const { return proxy_; }
    bool requiresAccountDomain() const { return method() == "NTLM"; }
    // NTLM needs the same connection for all its messages.
    bool requiresOrderedRequests() const { return method() == "NTLM"; }
    bool requiresUserNameAndPassword() const { return true; }

    // Sets "Authorization" (or "Proxy-Authorization") on `request` for the
    // user. False with *error when the object is invalid (or its Digest
    // nonce has no count left).
    bool applyCredentials(HTTPMessage& request, std::string_view user, std::string_view password,
                          ns::Ref<ns::Error>* error = nullptr);
    // With the account domain NTLM needs (ignored by the other methods).
    // For NTLM the first application sends the negotiate message and, after
    // updateFromResponse() with the server's challenge, the second sends
    // the authenticate message.
    bool applyCredentials(HTTPMessage& request, std::string_view user, std::string_view password,
                          std::string_view domain, ns::Ref<ns::Error>* error);

    // "Basic <base64(user:password)>".
    static std::string basicAuthorization(std::string_view user, std::string_view password);

    // A fixed client nonce (Digest) or 8-byte client challenge (NTLM)
    // instead of a random one, for an exchange that must come out byte for
    // byte as a published example or a recorded peer has it.
    void setClientNonce(std::string cnonce) {
        std::lock_guard<std::mutex> g(mutex_);
        fixedCnonce_ = std::move(cnonce);
    }
    // Digest counts from `counts` instead of the process's table, for an
    // exchange that must not share counts with the rest of the process.
    void setNonceCounts(std::shared_ptr<DigestNonceCounts> counts) {
        std::lock_guard<std::mutex> g(mutex_);
        nonceCounts_ = std::move(counts);
        nonceCounter_.reset();
    }

private:
    bool adopt(const AuthChallenge& c);
    bool isValidLocked(ns::Ref<ns::Error>* reason) const;
    mutable std::mutex mutex_;
    // The protection space the nonce counts are drawn under.
    std::string countSpace(const HTTPMessage& request) const;
    // Set once when made, read without the lock.
    bool proxy_ = false;
    std::string space_;
    // Guarded by mutex_.
    std::string method_;
    std::string realm_;
    bool applied_ = false;
    bool refused_ = false;
    int staleRenewals_ = 0;
    // Digest state.
    std::string nonce_, opaque_, algorithm_, qop_;
    std::shared_ptr<DigestNonceCounts> nonceCounts_;  // null: the process's
    std::shared_ptr<DigestNonceCounts::Counter> nonceCounter_;
    std::string fixedCnonce_;
    // NTLM state: 0 before the server's challenge, 1 after it.
    int ntlmStage_ = 0;
    ntlm::Challenge ntlmChallenge_;
};

std::string base64Encode(std::string_view bytes);

}  // namespace net
