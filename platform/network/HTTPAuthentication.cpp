#include "platform/network/HTTPAuthentication.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdio>

#include "platform/network/NTLM.h"
#include "platform/network/NetworkErrors.h"

namespace net {

std::string base64Encode(std::string_view bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

namespace {

bool isTokenChar(char c) {
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') ||
           (c && std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos);
}

bool isToken68Char(char c) {
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c == '-' || c == '.' || c == '_' ||
           c == '~' || c == '+' || c == '/';
}

struct Scanner {
    std::string_view s;
    size_t i = 0;
    void blanks() {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    }
    std::string token() {
        size_t b = i;
        while (i < s.size() && isTokenChar(s[i])) ++i;
        return std::string(s.substr(b, i - b));
    }
    bool quoted(std::string& out) {
        if (i >= s.size() || s[i] != '"') return false;
        ++i;
        while (i < s.size() && s[i] != '"') {
            if (s[i] == '\\' && i + 1 < s.size()) ++i;
            out += s[i++];
        }
        if (i >= s.size()) return false;
        ++i;
        return true;
    }
};

std::string hashHex(const std::string& algorithm, std::string_view data) {
    const EVP_MD* md = lowercased(algorithm).rfind("sha-256", 0) == 0 ? EVP_sha256() : EVP_md5();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    EVP_Digest(data.data(), data.size(), digest, &len, md, nullptr);
    std::string hex;
    char b[3];
    for (unsigned k = 0; k < len; ++k) {
        std::snprintf(b, sizeof b, "%02x", digest[k]);
        hex += b;
    }
    return hex;
}

std::string quote(std::string_view v) {
    std::string out = "\"";
    for (char c : v) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::vector<AuthChallenge> parseChallenges(const std::vector<std::string>& fieldValues) {
    std::vector<AuthChallenge> out;
    for (auto& value : fieldValues) {
        Scanner sc{value};
        while (sc.i < value.size()) {
            sc.blanks();
            while (sc.i < value.size() && value[sc.i] == ',') {
                ++sc.i;
                sc.blanks();
            }
            std::string scheme = sc.token();
            if (scheme.empty()) {
                // Junk: skip to the next comma.
                while (sc.i < value.size() && value[sc.i] != ',') ++sc.i;
                continue;
            }
            AuthChallenge ch;
            ch.scheme = scheme;
            sc.blanks();
            {
                // token68 ("NTLM TlRMTVNTUAAB...", "Negotiate abc==").
                size_t j = sc.i;
                while (j < value.size() && isToken68Char(value[j])) ++j;
                size_t k = j;
                while (k < value.size() && value[k] == '=') ++k;
                size_t m = k;
                while (m < value.size() && (value[m] == ' ' || value[m] == '\t')) ++m;
                if (j > sc.i && (m == value.size() || value[m] == ',')) {
                    ch.token68 = value.substr(sc.i, k - sc.i);
                    sc.i = m;
                    out.push_back(std::move(ch));
                    continue;
                }
            }
            // Parameters until a token that is not followed by "=" (the
            // next challenge) or the end.
            while (sc.i < value.size()) {
                size_t mark = sc.i;
                sc.blanks();
                if (sc.i < value.size() && value[sc.i] == ',') {
                    ++sc.i;
                    sc.blanks();
                }
                std::string name = sc.token();
                sc.blanks();
                if (name.empty() || sc.i >= value.size() || value[sc.i] != '=') {
                    sc.i = mark;
                    break;
                }
                ++sc.i;  // '='
                sc.blanks();
                if (sc.i >= value.size()) break;
                std::string v;
                if (value[sc.i] == '"') {
                    if (!sc.quoted(v)) {
                        sc.i = value.size();
                        break;
                    }
                } else {
                    v = sc.token();
                }
                ch.params[lowercased(name)] = v;
            }
            out.push_back(std::move(ch));
            if (sc.i < value.size() && value[sc.i] != ',') {
                // The next challenge starts here (after blanks).
                sc.blanks();
            }
        }
    }
    return out;
}

ns::Ref<HTTPAuthentication> HTTPAuthentication::authenticationFromResponse(const HTTPMessage& response,
                                                                        std::string space) {
    bool proxy = response.statusCode() == 407;
    auto values = response.headers().getAll(proxy ? "Proxy-Authenticate" : "WWW-Authenticate");
    auto challenges = parseChallenges(values);
    const AuthChallenge* best = nullptr;
    for (auto& c : challenges) {
        if (equalsIgnoringCase(c.scheme, "Digest")) {
            auto alg = c.params.count("algorithm") ? lowercased(c.params.at("algorithm")) : "md5";
            if (alg != "md5" && alg != "md5-sess" && alg != "sha-256" && alg != "sha-256-sess") continue;
            if (!c.params.count("nonce")) continue;
            best = &c;
            break;
        }
    }
    if (!best)
        for (auto& c : challenges)
            if (equalsIgnoringCase(c.scheme, "NTLM")) {
                best = &c;
                break;
            }
    if (!best)
        for (auto& c : challenges)
            if (equalsIgnoringCase(c.scheme, "Basic")) {
                best = &c;
                break;
            }
    if (!best) return nullptr;
    auto a = ns::make<HTTPAuthentication>();
    a->proxy_ = proxy;
    a->space_ = std::move(space);
    a->adopt(*best);
    return a;
}

bool HTTPAuthentication::adopt(const AuthChallenge& c) {
    if (equalsIgnoringCase(c.scheme, "NTLM")) {
        method_ = "NTLM";
        realm_.clear();
        ntlmStage_ = 0;
        if (!c.token68.empty()) {
            bool ok = false;
            std::string bytes = ntlm::base64Decode(c.token68, &ok);
            auto ch = ok ? ntlm::parseChallenge(bytes) : std::nullopt;
            if (!ch) return false;
            ntlmChallenge_ = *ch;
            ntlmStage_ = 1;
        }
        return true;
    }
    method_ = equalsIgnoringCase(c.scheme, "Digest") ? "Digest" : "Basic";
    auto get = [&](const char* k) { return c.params.count(k) ? c.params.at(k) : std::string(); };
    realm_ = get("realm");
    if (method_ == "Digest") {
        nonce_ = get("nonce");
        opaque_ = get("opaque");
        algorithm_ = get("algorithm");
        // Only "auth" protection is offered; "auth-int" alone is answered
        // the RFC 2069 way without qop.
        std::string qops = lowercased(get("qop"));
        qop_.clear();
        size_t pos = 0;
        while (pos <= qops.size()) {
            size_t comma = qops.find(',', pos);
            std::string item(trimmed(std::string_view(qops).substr(pos, comma - pos)));
            if (item == "auth") qop_ = "auth";
            if (comma == std::string::npos) break;
            pos = comma + 1;
        }
        // A new nonce counts from its own counter.
        nonceCounter_.reset();
    }
    return true;
}

std::string HTTPAuthentication::method() const {
    std::lock_guard<std::mutex> g(mutex_);
    return method_;
}

std::string HTTPAuthentication::realm() const {
    std::lock_guard<std::mutex> g(mutex_);
    return realm_;
}

void HTTPAuthentication::updateFromResponse(const HTTPMessage& response) {
    std::lock_guard<std::mutex> g(mutex_);
    if (!applied_) return;
    int code = response.statusCode();
    if (code != 401 && code != 407) return;
    auto challenges = parseChallenges(response.headers().getAll(proxy_ ? "Proxy-Authenticate" : "WWW-Authenticate"));
    if (method_ == "NTLM") {
        // The answer to our negotiate message carries the server's
        // challenge; anything after the authenticate message is a refusal.
        if (ntlmStage_ == 0)
            for (auto& c : challenges)
                if (equalsIgnoringCase(c.scheme, "NTLM") && !c.token68.empty() && adopt(c) && ntlmStage_ == 1) {
                    applied_ = false;
                    return;
                }
        refused_ = true;
        return;
    }
    for (auto& c : challenges) {
        if (method_ == "Digest" && equalsIgnoringCase(c.scheme, "Digest") && c.params.count("stale") &&
            equalsIgnoringCase(c.params.at("stale"), "true") && staleRenewals_ < kMaxStaleRenewals) {
            ++staleRenewals_;
            adopt(c);
            applied_ = false;
            return;
        }
    }
    refused_ = true;
}

bool HTTPAuthentication::isValid(ns::Ref<ns::Error>* reason) const {
    std::lock_guard<std::mutex> g(mutex_);
    return isValidLocked(reason);
}

bool HTTPAuthentication::isValidLocked(ns::Ref<ns::Error>* reason) const {
    if (!refused_) return true;
    if (reason)
        *reason = makeError(kHTTPAuthenticationErrorDomain, kAuthenticationBadPassword,
                            "The server refused the user name or password");
    return false;
}

std::string HTTPAuthentication::countSpace(const HTTPMessage& request) const {
    if (!space_.empty()) return space_;
    // The request's origin; a proxy's challenge apart from the server's.
    HTTPTarget t;
    if (!parseHTTPTarget(request.url(), t)) return proxy_ ? "proxy for ?" : "?";
    std::string origin = t.scheme + "://" + t.host + ":" + std::to_string(t.port);
    return proxy_ ? "proxy for " + origin : origin;
}

std::string HTTPAuthentication::basicAuthorization(std::string_view user, std::string_view password) {
    std::string pair(user);
    pair += ':';
    pair += password;
    return "Basic " + base64Encode(pair);
}

bool HTTPAuthentication::applyCredentials(HTTPMessage& request, std::string_view user, std::string_view password,
                                          ns::Ref<ns::Error>* error) {
    return applyCredentials(request, user, password, {}, error);
}

bool HTTPAuthentication::applyCredentials(HTTPMessage& request, std::string_view user, std::string_view password,
                                          std::string_view domain, ns::Ref<ns::Error>* error) {
    std::lock_guard<std::mutex> g(mutex_);
    if (!isValidLocked(error)) return false;
    if (method_ == "NTLM") {
        const char* header = proxy_ ? "Proxy-Authorization" : "Authorization";
        std::string message = ntlmStage_ == 0
                                  ? ntlm::negotiateMessage()
                                  : ntlm::authenticateMessage(ntlmChallenge_, user, password, domain, "WORKSTATION",
                                                              fixedCnonce_.size() == 8 ? fixedCnonce_ : std::string());
        request.setHeaderField(header, "NTLM " + base64Encode(message));
        applied_ = true;
        return true;
    }
    // Basic has no way to carry a colon inside the user name; Digest carries
    // the name as it is, where a line break would end the header field.
    if (user.find(':') != std::string_view::npos && method_ == "Basic") {
        if (error)
            *error = makeError(kHTTPAuthenticationErrorDomain, kAuthenticationBadUserName,
                               "A user name may not contain a colon");
        return false;
    }
    if (user.find_first_of("\r\n") != std::string_view::npos) {
        if (error)
            *error = makeError(kHTTPAuthenticationErrorDomain, kAuthenticationBadUserName,
                               "A user name may not contain a line break");
        return false;
    }
    const char* header = proxy_ ? "Proxy-Authorization" : "Authorization";
    if (method_ == "Basic") {
        request.setHeaderField(header, basicAuthorization(user, password));
        applied_ = true;
        return true;
    }
    // Digest.
    HTTPTarget t;
    std::string uri = "/";
    if (parseHTTPTarget(request.url(), t)) uri = t.path + t.query;
    std::string alg = algorithm_.empty() ? "MD5" : algorithm_;
    bool sess = lowercased(alg).find("-sess") != std::string::npos;
    std::string cnonce = fixedCnonce_;
    if (cnonce.empty()) {
        unsigned char r[12];
        RAND_bytes(r, sizeof r);
        cnonce = hashHex("MD5", std::string_view(reinterpret_cast<char*>(r), sizeof r)).substr(0, 16);
    }
    char nc[9] = "";
    if (!qop_.empty()) {
        DigestNonceCounts& counts = nonceCounts_ ? *nonceCounts_ : DigestNonceCounts::shared();
        uint32_t count = counts.next({countSpace(request), realm_, nonce_, opaque_}, nonceCounter_);
        if (count == 0) {
            if (error)
                *error = makeError(kHTTPAuthenticationErrorDomain, kAuthenticationNonceCountsUsedUp,
                                   "The server's nonce has no count left to send");
            return false;
        }
        std::snprintf(nc, sizeof nc, "%08x", count);
    }
    std::string ha1 = hashHex(alg, std::string(user) + ":" + realm_ + ":" + std::string(password));
    if (sess) ha1 = hashHex(alg, ha1 + ":" + nonce_ + ":" + cnonce);
    std::string ha2 = hashHex(alg, request.method() + ":" + uri);
    std::string response = qop_.empty() ? hashHex(alg, ha1 + ":" + nonce_ + ":" + ha2)
                                        : hashHex(alg, ha1 + ":" + nonce_ + ":" + nc + ":" + cnonce + ":" + qop_ + ":" + ha2);
    std::string v = "Digest username=" + quote(user) + ", realm=" + quote(realm_) + ", nonce=" + quote(nonce_) +
                    ", uri=" + quote(uri) + ", response=" + quote(response);
    if (!algorithm_.empty()) v += ", algorithm=" + algorithm_;
    if (!opaque_.empty()) v += ", opaque=" + quote(opaque_);
    if (!qop_.empty()) v += ", qop=" + qop_ + ", nc=" + nc + ", cnonce=" + quote(cnonce);
    request.setHeaderField(header, v);
    applied_ = true;
    return true;
}

}  // namespace net
