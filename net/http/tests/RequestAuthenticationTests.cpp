// Basic and Digest challenges answered from the URL, the request, the
// session store and the delegate; refused credentials; synchronous
// requests that cannot ask anyone; a challenged asynchronous request
// beside a main thread that runs synchronous requests or no loop at all.
#include "net/http/tests/RequestTestSupport.h"
#include "net/http/NetworkQueue.h"
#include "testsupport/DigestVerifier.h"

#include <openssl/evp.h>

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace httptest;
using http::HTTPRequest;

namespace {

using testsupport::md5hex;

// The parameters of "Digest a=b, c=\"d\"" with the backslash escapes of
// quoted strings undone (RFC 9110 section 5.6.4).
std::map<std::string, std::string> quotedParams(const std::string& header) {
    std::map<std::string, std::string> m;
    size_t i = header.find(' ');
    if (i == std::string::npos) return m;
    while (++i < header.size()) {
        while (i < header.size() && (header[i] == ' ' || header[i] == ',')) ++i;
        const size_t eq = header.find('=', i);
        if (eq == std::string::npos) break;
        std::string key = header.substr(i, eq - i), value;
        i = eq + 1;
        if (i < header.size() && header[i] == '"') {
            for (++i; i < header.size() && header[i] != '"'; ++i) {
                if (header[i] == '\\' && i + 1 < header.size()) ++i;
                value += header[i];
            }
        } else {
            const size_t end = header.find(',', i);
            value = header.substr(i, end == std::string::npos ? std::string::npos : end - i);
            i = end == std::string::npos ? header.size() : end;
        }
        m[key] = value;
    }
    return m;
}

// /basic wants user:pass in Basic; /digest wants user:secret in Digest and
// refuses a nonce count it has already taken, as a server guarding against
// replays does.
// Counts requests and those that came with credentials before any challenge.
class AuthServer {
public:
    AuthServer()
        : server_([this](testsupport::Conn& c) {
              while (auto r = c.readRequest()) {
                  std::string auth = r->header("Authorization");
                  ++requests;
                  if (!auth.empty()) ++withCredentials;
                  bool ok;
                  if (r->target.rfind("/ntlm", 0) == 0) {
                      ok = answerNTLM(c, auth);
                  } else if (r->target.rfind("/basic", 0) == 0) {
                      if (auth == "Basic dXNlcjpwYXNz") ok = c.respond(200, "basic ok");
                      else ok = c.respond(401, "who?", "WWW-Authenticate: Basic realm=\"R\"\r\n");
                  } else {
                      bool good = false;
                      std::map<std::string, std::string> p;
                      if (auth.rfind("Digest ", 0) == 0) {
                          p = quotedParams(auth);
                          std::string ha1 = md5hex(p["username"] + ":R:secret");
                          std::string ha2 = md5hex(r->method + ":" + p["uri"]);
                          good = p["response"] == md5hex(ha1 + ":n0nce:" + p["nc"] + ":" + p["cnonce"] + ":auth:" + ha2) &&
                                 p["uri"] == r->target && p["nonce"] == "n0nce" && p["nc"].size() == 8 &&
                                 !p["cnonce"].empty();
                      }
                      if (good) {
                          // A (nonce, count) pair is taken once: a second
                          // request with it is a replay and is refused.
                          std::lock_guard<std::mutex> g(mutex_);
                          if (!seenCounts_.insert(p["nonce"] + ":" + p["nc"]).second) {
                              ++replays;
                              good = false;
                          }
                      }
                      if (good) {
                          {
                              std::lock_guard<std::mutex> g(mutex_);
                              digestUsers_.push_back(p["username"]);
                          }
                          ok = c.respond(200, "digest ok");
                      } else {
                          ok = c.respond(401, "who?",
                                         "WWW-Authenticate: Digest realm=\"R\", nonce=\"n0nce\", qop=\"auth\"\r\n");
                      }
                  }
                  if (!ok) return;
              }
          }) {}
    std::string url(const std::string& p, const std::string& userinfo = "") {
        std::string u = server_.url(p);
        return userinfo.empty() ? u : "http://" + userinfo + "@" + u.substr(7);
    }
    int port() const { return server_.port(); }
    std::atomic<int> requests{0}, withCredentials{0};
    // Digest answers with the right credentials refused because their
    // (nonce, count) pair was seen before.
    std::atomic<int> replays{0};
    // The user name of each Digest answer accepted, as the server read it;
    // cleared when taken.
    std::vector<std::string> takeDigestUsers() {
        std::lock_guard<std::mutex> g(mutex_);
        return std::exchange(digestUsers_, {});
    }
    // "domain|user" of each NTLM authenticate message /ntlm received.
    std::vector<std::string> ntlmAccounts() {
        std::lock_guard<std::mutex> g(mutex_);
        return ntlmAccounts_;
    }

private:
    // /ntlm: challenges, and accepts any authenticate message after
    // noting its domain and user (the hashes are the network library's
    // tests' business; here only what the request sends as whom).
    bool answerNTLM(testsupport::Conn& c, const std::string& auth) {
        if (auth.rfind("NTLM ", 0) != 0) return c.respond(401, "who?", "WWW-Authenticate: NTLM\r\n");
        std::string msg = b64decode(auth.substr(5));
        if (msg.size() >= 12 && msg[8] == 1) {
            std::string t2("NTLMSSP\0\x02\0\0\0", 12);
            t2 += std::string(8, '\0');
            t2 += std::string("\x05\x82\x89\xa2", 4);
            t2 += std::string("\x11\x22\x33\x44\x55\x66\x77\x88", 8);
            t2 += std::string(8, '\0');
            t2 += std::string("\x08\0\x08\0\x30\0\0\0", 8);
            t2 += std::string("\x02\0\x00\0\0\0\0\0", 8);  // target info: one end entry, padded
            return c.respond(401, "", "WWW-Authenticate: NTLM " + b64encode(t2) + "\r\n");
        }
        if (msg.size() < 64 || msg[8] != 3) return c.respond(400, "not NTLM");
        const auto field = [&](size_t at) {
            size_t length = le16(msg, at), offset = le16(msg, at + 4) | le16(msg, at + 6) << 16;
            std::string text;
            for (size_t i = offset; i + 1 < offset + length && i + 1 < msg.size(); i += 2) text += msg[i];
            return text;
        };
        {
            std::lock_guard<std::mutex> g(mutex_);
            ntlmAccounts_.push_back(field(28) + "|" + field(36));
        }
        // The user "wrong" is refused with a fresh challenge.
        if (field(36) == "wrong") return c.respond(401, "who?", "WWW-Authenticate: NTLM\r\n");
        return c.respond(200, "ntlm ok");
    }
    static size_t le16(const std::string& b, size_t at) {
        return static_cast<unsigned char>(b[at]) | (static_cast<size_t>(static_cast<unsigned char>(b[at + 1])) << 8);
    }
    static std::string b64decode(const std::string& t) {
        std::string out(t.size(), '\0');
        int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(t.data()), static_cast<int>(t.size()));
        out.resize(n < 0 ? 0 : static_cast<size_t>(n));
        return out;
    }
    static std::string b64encode(const std::string& b) {
        std::string out(4 * ((b.size() + 2) / 3) + 1, '\0');
        int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(b.data()), static_cast<int>(b.size()));
        out.resize(static_cast<size_t>(n));
        return out;
    }

    std::mutex mutex_;
    std::vector<std::string> ntlmAccounts_;
    std::vector<std::string> digestUsers_;
    std::set<std::string> seenCounts_;
    testsupport::Server server_;
};

// Digest challenges that change: /realm/<i> names a realm of its own, over
// 4 KB long, and accepts the password "secret" for any user in it;
// /stale/<k> answers the first k logins with stale=true and a new nonce
// each time, then accepts a login with the last nonce it gave.
class ChangingDigestServer {
public:
    ChangingDigestServer()
        : server_([this](testsupport::Conn& c) {
              while (auto r = c.readRequest()) {
                  Answer a = answer(*r);
                  if (!c.respond(a.status, a.body, a.headers)) return;
              }
          }) {}
    std::string url(const std::string& p) { return server_.url(p); }
    static std::string realmOf(const std::string& target) {
        if (target.rfind("/realm/", 0) != 0) return "S";
        return "realm " + target.substr(7) + " " + std::string(4 * 1024, 'r');
    }
    // Requests that reached `target`.
    int requests(const std::string& target) {
        std::lock_guard<std::mutex> g(mutex_);
        return paths_[target].requests;
    }

private:
    struct Path {
        int requests = 0, logins = 0;
        std::string nonce;
    };
    struct Answer {
        int status;
        std::string body, headers;
    };
    Answer answer(const testsupport::Request& r) {
        std::lock_guard<std::mutex> g(mutex_);
        Path& path = paths_[r.target];
        ++path.requests;
        const std::string realm = realmOf(r.target);
        if (path.nonce.empty()) path.nonce = "n-" + r.target + "-0";
        auto challenge = [&](bool stale) {
            return Answer{401, "who?",
                                         "WWW-Authenticate: Digest realm=\"" + realm + "\", nonce=\"" + path.nonce +
                                             "\", qop=\"auth\"" + (stale ? ", stale=true" : "") + "\r\n"};
        };
        const std::string auth = r.header("Authorization");
        if (auth.rfind("Digest ", 0) != 0) return challenge(false);
        auto p = quotedParams(auth);
        const std::string ha1 = md5hex(p["username"] + ":" + realm + ":secret");
        const std::string ha2 = md5hex(r.method + ":" + p["uri"]);
        const bool good = p["realm"] == realm && p["nonce"] == path.nonce &&
                          p["response"] == md5hex(ha1 + ":" + path.nonce + ":" + p["nc"] + ":" + p["cnonce"] +
                                                  ":auth:" + ha2);
        if (!good) return challenge(false);
        if (r.target.rfind("/stale/", 0) == 0 && path.logins++ < std::stoi(r.target.substr(7))) {
            path.nonce = "n-" + r.target + "-" + std::to_string(path.logins);
            return challenge(true);
        }
        return {200, "ok " + p["username"], ""};
    }

    std::mutex mutex_;
    std::map<std::string, Path> paths_;
    testsupport::Server server_;
};

class RequestAuthentication : public ::testing::Test {
protected:
    void SetUp() override { HTTPRequest::clearSession(); }
    void TearDown() override { HTTPRequest::clearSession(); }
};

}  // namespace

TEST_F(RequestAuthentication, CredentialsInTheURLAnswerBasicWithoutAskingAnyone) {
    AuthServer s;
    auto r = HTTPRequest::requestWithURL(url(s.url("/basic", "user:pass")));
    startSynchronous(r);
    ASSERT_FALSE(r->error()) << r->error()->description();
    EXPECT_EQ(text(r), "basic ok");
    EXPECT_EQ(r->authenticationScheme(), "Basic");
    EXPECT_EQ(r->authenticationRealm(), "R");
}

TEST_F(RequestAuthentication, SecondRequestPresentsStoredCredentialsBeforeTheChallenge) {
    AuthServer s;
    auto first = HTTPRequest::requestWithURL(url(s.url("/basic")));
    first->setUsername("user");
    first->setPassword("pass");
    startSynchronous(first);
    ASSERT_FALSE(first->error());
    EXPECT_EQ(s.requests, 2);
    EXPECT_FALSE(HTTPRequest::sessionCredentialsStore().empty());

    auto second = HTTPRequest::requestWithURL(url(s.url("/basic")));
    startSynchronous(second);
    ASSERT_FALSE(second->error());
    EXPECT_EQ(s.requests, 3);  // no second challenge
    EXPECT_EQ(s.withCredentials, 2);
    // The keychain is written only when asked for.
    EXPECT_FALSE(HTTPRequest::savedCredentialsForHost("127.0.0.1", s.port(), "http", "R"));

    // With the session store switched off, working credentials are not kept.
    HTTPRequest::clearSession();
    auto unkept = HTTPRequest::requestWithURL(url(s.url("/basic")));
    unkept->setUsername("user");
    unkept->setPassword("pass");
    unkept->setUseSessionPersistence(false);
    startSynchronous(unkept);
    ASSERT_FALSE(unkept->error());
    EXPECT_TRUE(HTTPRequest::sessionCredentialsStore().empty());

    // Stored credentials refused: another stored login for the server (one
    // kept without a realm) is sent at once, without asking anyone.
    auto record = [](const std::string& where, const char* realm, const char* user, const char* password) {
        auto r = ns::MutableDictionary::make();
        r->setObject(ns::Dictionary::make({{http::kCredentialUsernameKey, ns::String::make(user)},
                                           {http::kCredentialPasswordKey, ns::String::make(password)}}),
                     "Credentials");
        r->setObject(url(where), "URL");
        if (*realm) r->setObject(ns::String::make(realm), "AuthenticationRealm");
        return r;
    };
    const struct {
        const char* name;
        const char* path;
        const char* answer;
        int requests;  // the wrong login before the challenge, after it, then the other
        std::vector<std::string> ntlmAccounts;
    } rows[] = {
        {"Basic", "/basic", "basic ok", 3, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        HTTPRequest::clearSession();
        AuthServer server;
        HTTPRequest::storeAuthenticationCredentialsInSessionStore(record(server.url(row.path), "R", "wrong", "wrong"));
        HTTPRequest::storeAuthenticationCredentialsInSessionStore(record(server.url("/elsewhere"), "", "user", "pass"));
        auto refused = HTTPRequest::requestWithURL(url(server.url(row.path)));
        refused->setAuthenticationNeededBlock([] { ADD_FAILURE() << "nobody is asked while the store has a login"; });
        refused->startAsynchronous();
        ASSERT_TRUE(waitFor(refused));
        drainMain();
        ASSERT_FALSE(refused->error()) << refused->error()->description();
        EXPECT_EQ(text(refused), row.answer);
        EXPECT_EQ(server.requests, row.requests);
        EXPECT_EQ(server.ntlmAccounts(), row.ntlmAccounts);
        const auto kept = HTTPRequest::sessionCredentialsStore();
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_EQ(std::string(must<ns::String>(must<ns::Dictionary>(kept[0]->dictionaryForKey("Credentials"))
                                                   ->stringForKey(http::kCredentialPasswordKey))
                                  ->utf8()),
                  "pass");
        refused->setAuthenticationNeededBlock(nullptr);
    }
}

TEST_F(RequestAuthentication, DigestIsAnsweredAndReusedForTheNextRequest) {
    AuthServer s;
    auto r = HTTPRequest::requestWithURL(url(s.url("/digest/a")));
    r->setUsername("user");
    r->setPassword("secret");
    startSynchronous(r);
    ASSERT_FALSE(r->error()) << r->error()->description();
    EXPECT_EQ(text(r), "digest ok");
    EXPECT_EQ(r->authenticationScheme(), "Digest");

    auto again = HTTPRequest::requestWithURL(url(s.url("/digest/a")));
    startSynchronous(again);
    ASSERT_FALSE(again->error());
    EXPECT_EQ(s.requests, 3);
}

TEST_F(RequestAuthentication, SessionStoresKeepOneLoginPerProtectionSpaceAndForgetTheOldestPastTheirLimit) {
    constexpr size_t kMax = 64;  // the number docs/http.md gives
    EXPECT_EQ(HTTPRequest::kMaxSessionCredentialRecords, kMax);
    ChangingDigestServer s;
    // A record a caller stored by hand, with no URL: only its credentials
    // replace it, so it stays until the store's oldest go.
    auto byHand = ns::MutableDictionary::make();
    byHand->setObject(http::AuthenticationController::makeCredentials("hand", "pw", false, ""), "Credentials");
    HTTPRequest::storeAuthenticationCredentialsInSessionStore(byHand);
    auto login = [&](int realm, const std::string& user) {
        auto r = HTTPRequest::requestWithURL(url(s.url("/realm/" + std::to_string(realm))));
        if (!user.empty()) {
            r->setUsername(user);
            r->setPassword("secret");
        }
        startSynchronous(r);
        return r;
    };
    // The realm number of each record, oldest first.
    auto keptRealms = [] {
        std::vector<int> realms;
        for (auto& record : HTTPRequest::sessionCredentialsStore()) {
            auto* realm = record->stringForKey("AuthenticationRealm");
            realms.push_back(realm ? std::stoi(std::string(realm->utf8()).substr(6)) : -1);
        }
        return realms;
    };

    {
        SCOPED_TRACE("another user's login to the same realm replaces the first");
        for (const char* user : {"ann", "bob"}) {
            auto r = login(0, user);
            ASSERT_FALSE(r->error()) << r->error()->description();
        }
        ASSERT_EQ(keptRealms(), (std::vector<int>{-1, 0}));
        auto* credentials = HTTPRequest::sessionCredentialsStore()[1]->dictionaryForKey("Credentials");
        ASSERT_TRUE(credentials);
        EXPECT_EQ(http::AuthenticationController::credentialText(credentials, http::kCredentialUsernameKey), "bob");
    }
    {
        SCOPED_TRACE("a server naming a new long realm each time");
        constexpr int kRealms = 2 * static_cast<int>(kMax) + 1;
        for (int realm = 1; realm <= kRealms; ++realm) {
            auto r = login(realm, "ann");
            ASSERT_FALSE(r->error()) << "realm " << realm << ": " << r->error()->description();
            ASSERT_EQ(HTTPRequest::sessionCredentialsStore().size(), std::min<size_t>(realm + 2, kMax))
                << "realm " << realm;
        }
        std::vector<int> newest;
        for (int realm = kRealms - static_cast<int>(kMax) + 1; realm <= kRealms; ++realm) newest.push_back(realm);
        EXPECT_EQ(keptRealms(), newest);
        // A kept login still answers its realm; a forgotten one no longer.
        auto kept = login(kRealms - static_cast<int>(kMax) + 1, "");
        EXPECT_FALSE(kept->error()) << kept->error()->description();
        auto forgotten = login(kRealms - static_cast<int>(kMax), "");
        ASSERT_TRUE(forgotten->error());
        EXPECT_EQ(forgotten->error()->code(), 3);
    }
    {
        SCOPED_TRACE("the proxy store: one record per proxy, the oldest going first");
        auto record = [](int port, const std::string& user, const char* host = "proxy.test") {
            auto r = ns::MutableDictionary::make();
            r->setObject(http::AuthenticationController::makeCredentials(user, "pw", false, ""), "Credentials");
            if (host) r->setObject(ns::String::make(host), "Host");
            if (port) r->setObject(ns::Number::numberWithInt(port), "Port");
            r->setObject(ns::String::make("Basic"), "AuthenticationScheme");
            return r;
        };
        // Records without a host or a port stand for no proxy: none
        // replaces another or a proxy's, nor is replaced by one; an empty
        // host is a host of its own.
        HTTPRequest::storeProxyAuthenticationCredentialsInSessionStore(record(1, "ann"));
        HTTPRequest::storeProxyAuthenticationCredentialsInSessionStore(record(0, "no port"));
        HTTPRequest::storeProxyAuthenticationCredentialsInSessionStore(record(1, "no host", nullptr));
        HTTPRequest::storeProxyAuthenticationCredentialsInSessionStore(record(1, "empty host", ""));
        HTTPRequest::storeProxyAuthenticationCredentialsInSessionStore(record(1, "bob"));
        HTTPRequest::storeProxyAuthenticationCredentialsInSessionStore(record(1, "cat", "other.test"));
        auto proxies = HTTPRequest::sessionProxyCredentialsStore();
        std::vector<std::string> users;
        for (auto& p : proxies)
            users.push_back(http::AuthenticationController::credentialText(p->dictionaryForKey("Credentials"),
                                                                           http::kCredentialUsernameKey));
        EXPECT_EQ(users, (std::vector<std::string>{"no port", "no host", "empty host", "bob", "cat"}));
        HTTPRequest::clearSession();
        for (int port = 1; port <= static_cast<int>(kMax) + 1; ++port)
            HTTPRequest::storeProxyAuthenticationCredentialsInSessionStore(record(port, "ann"));
        proxies = HTTPRequest::sessionProxyCredentialsStore();
        ASSERT_EQ(proxies.size(), kMax);
        EXPECT_EQ(must<ns::Number>(proxies.front()->numberForKey("Port"))->longValue(), 2);
        EXPECT_EQ(must<ns::Number>(proxies.back()->numberForKey("Port"))->longValue(), static_cast<long>(kMax) + 1);
    }
}

TEST_F(RequestAuthentication, StaleNoncesAreRenewedAFewTimesThenCountAsARefusal) {
    constexpr int kMax = 3;  // the number docs/http.md gives
    EXPECT_EQ(net::HTTPAuthentication::kMaxStaleRenewals, kMax);
    struct Row {
        const char* name;
        int staleAnswers;
        bool succeeds;
        int requests;  // the first challenge, the stale answers, the last
    };
    const Row rows[] = {
        {"one stale answer, then accepted", 1, true, 3},
        {"as many stale answers as renewed, then accepted", kMax, true, kMax + 2},
        {"one stale answer more than renewed", kMax + 1, false, kMax + 2},
        {"a server whose every new nonce is stale", 1000, false, kMax + 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HTTPRequest::clearSession();
        ChangingDigestServer s;
        const std::string path = "/stale/" + std::to_string(row.staleAnswers);
        auto r = HTTPRequest::requestWithURL(url(s.url(path)));
        r->setUsername("ann");
        r->setPassword("secret");
        r->setTimeOutSeconds(30);
        startSynchronous(r);
        if (row.succeeds) {
            ASSERT_FALSE(r->error()) << r->error()->description();
            EXPECT_EQ(text(r), "ok ann");
        } else {
            ASSERT_TRUE(r->error());
            EXPECT_EQ(r->error()->code(), 3) << r->error()->description();
            // The refused login is not kept for the session.
            EXPECT_TRUE(HTTPRequest::sessionCredentialsStore().empty());
        }
        EXPECT_EQ(s.requests(path), row.requests);
    }
}

TEST_F(RequestAuthentication, DigestCountsAreSharedByRequestsOnEveryThreadAndNeverRepeated) {
    // 112 requests with the right credentials at once: 96 synchronous ones
    // on 8 threads and 16 asynchronous ones on the network thread, all to
    // the same few paths of one realm and nonce. Each challenged request
    // and each login kept for the session takes its count from one counter,
    // so the server, which refuses a pair it has seen, refuses none.
    AuthServer s;
    constexpr int kThreads = 8, kPerThread = 12, kAsynchronous = 16, kPaths = 6;
    auto request = [&](int i) {
        auto r = HTTPRequest::requestWithURL(url(s.url("/digest/p" + std::to_string(i % kPaths))));
        r->setUsername("user");
        r->setPassword("secret");
        return r;
    };
    std::vector<ns::Ref<HTTPRequest>> asynchronous;
    for (int i = 0; i < kAsynchronous; ++i) asynchronous.push_back(request(i));
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                auto r = request(t + i);
                startSynchronous(r);
                if (r->error() || text(r) != "digest ok") ++failures;
            }
        });
    for (auto& r : asynchronous) r->startAsynchronous();
    for (auto& r : asynchronous) {
        EXPECT_TRUE(waitFor(r, 60));
        if (r->error() || text(r) != "digest ok") ++failures;
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(s.replays, 0);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(s.takeDigestUsers().size(), size_t(kThreads * kPerThread + kAsynchronous));

    // The session login was kept: a request without credentials of its own
    // is answered with it.
    ASSERT_FALSE(HTTPRequest::sessionCredentialsStore().empty());
    auto later = HTTPRequest::requestWithURL(url(s.url("/digest/p0")));
    startSynchronous(later);
    ASSERT_FALSE(later->error()) << later->error()->description();
    EXPECT_EQ(text(later), "digest ok");
}

TEST_F(RequestAuthentication, NTLMTakesTheDomainFromTheSettingOrFromAUserNamedWithOne) {
    struct Row {
        const char* name;
        const char* user;
        const char* domain;  // setDomain, "" for none
        const char* sent;    // "domain|user" in the authenticate message
    };
    const Row rows[] = {
        {"domain before a backslash", "CORP\\alice", "", "CORP|alice"},
        {"domain set", "alice", "CORP", "CORP|alice"},
        {"the setting wins over the name", "OTHER\\alice", "CORP", "CORP|OTHER\\alice"},
        {"two backslashes: no domain", "A\\B\\alice", "", "|A\\B\\alice"},
        {"empty domain before the backslash", "\\alice", "", "|alice"},
        {"no domain at all", "alice", "", "|alice"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HTTPRequest::clearSession();
        AuthServer s;
        auto r = HTTPRequest::requestWithURL(url(s.url("/ntlm")));
        r->setUsername(row.user);
        r->setPassword("Secret1");
        if (*row.domain) r->setDomain(row.domain);
        startSynchronous(r);
        ASSERT_FALSE(r->error()) << r->error()->description();
        EXPECT_EQ(text(r), "ntlm ok");
        EXPECT_EQ(r->authenticationScheme(), "NTLM");
        EXPECT_EQ(s.ntlmAccounts(), std::vector<std::string>{row.sent});
    }
}

TEST_F(RequestAuthentication, SynchronousRequestWithoutCredentialsFailsWithCode3AtOnce) {
    AuthServer s;
    auto r = HTTPRequest::requestWithURL(url(s.url("/basic")));
    r->setAuthenticationNeededBlock([] { ADD_FAILURE() << "a synchronous request never asks"; });
    startSynchronous(r);
    ASSERT_TRUE(r->error());
    EXPECT_EQ(r->error()->code(), 3);
    EXPECT_EQ(r->error()->localizedDescription(), "Authentication needed");
    EXPECT_EQ(s.requests, 1);
}

// NTLM's refused login ends its object's exchange: the credentials the
// delegate gives next start a new one (negotiate, then authenticate).
TEST_F(RequestAuthentication, DelegateSuppliesCredentialsAndIsAskedAgainAfterARefusal) {
    const struct {
        const char* name;
        const char* path;
        const char* answer;
        std::vector<std::string> ntlmAccounts;
    } rows[] = {
        {"Basic", "/basic", "basic ok", {}},
        {"NTLM", "/ntlm", "ntlm ok", {"|wrong", "|user"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        HTTPRequest::clearSession();
        AuthServer s;
        auto d = ns::make<RecordingDelegate>();
        d->answerAuthentication = true;
        int asked = 0;
        d->onAuthentication = [&](HTTPRequest* r) {
            ++asked;
            r->setUsername(asked == 1 ? "wrong" : "user");
            r->setPassword(asked == 1 ? "wrong" : "pass");
            r->retryUsingSuppliedCredentials();
        };
        bool blockAsked = false;
        auto r = HTTPRequest::requestWithURL(url(s.url(row.path)));
        r->setDelegate(d.get());
        r->setAuthenticationNeededBlock([&] { blockAsked = true; });
        r->startAsynchronous();
        ASSERT_TRUE(waitFor(r));
        drainMain();
        ASSERT_FALSE(r->error()) << r->error()->description();
        EXPECT_EQ(text(r), row.answer);
        EXPECT_EQ(asked, 2);
        EXPECT_FALSE(blockAsked);  // with both, only the delegate is asked
        EXPECT_EQ(s.ntlmAccounts(), row.ntlmAccounts);
        // The refused credentials are not in the store; the good ones are.
        bool goodStored = false;
        for (auto& rec : HTTPRequest::sessionCredentialsStore()) {
            const std::string password(must<ns::String>(must<ns::Dictionary>(rec->dictionaryForKey("Credentials"))
                                                            ->stringForKey(http::kCredentialPasswordKey))
                                           ->utf8());
            EXPECT_NE(password, "wrong");
            goodStored = goodStored || password == "pass";
        }
        EXPECT_TRUE(goodStored);
        r->setAuthenticationNeededBlock(nullptr);
    }
}

TEST_F(RequestAuthentication, BlockIsAskedWithoutADelegateAndCancelAuthenticationFails) {
    AuthServer s;
    auto r = HTTPRequest::requestWithURL(url(s.url("/basic")));
    bool asked = false;
    r->setAuthenticationNeededBlock([&] {
        asked = true;
        r->cancelAuthentication();
    });
    r->startAsynchronous();
    ASSERT_TRUE(waitFor(r));
    drainMain();
    EXPECT_TRUE(asked);
    ASSERT_TRUE(r->error());
    EXPECT_EQ(r->error()->code(), 3);
    r->setAuthenticationNeededBlock(nullptr);
}

TEST_F(RequestAuthentication, CancellingRequestsThatWaitForCredentialsFreesTheSharedQueue) {
    AuthServer s;
    auto d = ns::make<RecordingDelegate>();
    d->answerAuthentication = true;  // asked, and never answers
    std::vector<ns::Ref<HTTPRequest>> waiting;
    std::atomic<int> cancelledWhenFinished{0};  // seen by whoever learns it finished
    for (int i = 0; i < 4; ++i) {
        auto r = HTTPRequest::requestWithURL(url(s.url("/basic")));
        r->setDelegate(d.get());
        r->ns::Operation::setCompletionBlock([&cancelledWhenFinished, raw = r.get()] {
            cancelledWhenFinished += raw->isCancelled();
        });
        r->startAsynchronous();
        waiting.push_back(r);
    }
    ASSERT_TRUE(waitUntil([&] { return d->count("authenticationNeeded") == 4; }));
    waiting[0]->cancel();
    waiting[1]->cancel();
    waiting[2]->clearDelegatesAndCancel();
    waiting[3]->clearDelegatesAndCancel();
    for (auto& r : waiting) {
        ASSERT_TRUE(waitFor(r));
        ASSERT_TRUE(r->error());
        EXPECT_EQ(r->error()->code(), 4);
        EXPECT_TRUE(r->isCancelled());
    }
    drainMain();
    EXPECT_EQ(cancelledWhenFinished, 4);
    EXPECT_EQ(d->count("failed"), 2u);  // the cleared ones tell nobody
    // A late answer changes nothing.
    waiting[0]->retryUsingSuppliedCredentials();
    // The four places in the shared queue are free again.
    auto next = HTTPRequest::requestWithURL(url(s.url("/basic", "user:pass")));
    next->startAsynchronous();
    ASSERT_TRUE(waitFor(next));
    ASSERT_FALSE(next->error()) << next->error()->description();
    EXPECT_EQ(text(next), "basic ok");
    drainMain();
    EXPECT_EQ(d->count("failed"), 2u);
    EXPECT_EQ(d->count("finished"), 0u);
}

TEST_F(RequestAuthentication, KeychainPersistenceSavesWorkingCredentials) {
    AuthServer s;
    auto r = HTTPRequest::requestWithURL(url(s.url("/basic")));
    r->setUsername("user");
    r->setPassword("pass");
    r->setUseKeychainPersistence(true);
    startSynchronous(r);
    ASSERT_FALSE(r->error());
    const int port = s.port();
    auto saved = HTTPRequest::savedCredentialsForHost("127.0.0.1", port, "http", "R");
    ASSERT_TRUE(saved);
    EXPECT_EQ(must<ns::String>(saved->stringForKey(http::kCredentialUsernameKey))->utf8(), "user");
    HTTPRequest::removeCredentialsForHost("127.0.0.1", port, "http", "R");
    EXPECT_FALSE(HTTPRequest::savedCredentialsForHost("127.0.0.1", port, "http", "R"));

    // User names with the characters a Digest field escapes, and others a
    // header may hold, read back from the session store and then from the
    // keychain by later requests: the server reads each as it was typed.
    for (const std::string user : {"ann \"the admin\"", "DOM\\ann\\", "o'hara, ann", "ann=1; x", "M\xC3\xBCller <&>"}) {
        SCOPED_TRACE(user);
        HTTPRequest::clearSession();
        auto typed = HTTPRequest::requestWithURL(url(s.url("/digest/k")));
        typed->setUsername(user);
        typed->setPassword("secret");
        typed->setUseKeychainPersistence(true);
        startSynchronous(typed);
        ASSERT_FALSE(typed->error()) << typed->error()->description();
        auto fromSession = HTTPRequest::requestWithURL(url(s.url("/digest/k")));
        startSynchronous(fromSession);
        ASSERT_FALSE(fromSession->error()) << fromSession->error()->description();
        HTTPRequest::clearSession();
        auto fromKeychain = HTTPRequest::requestWithURL(url(s.url("/digest/k")));
        fromKeychain->setUseKeychainPersistence(true);
        startSynchronous(fromKeychain);
        ASSERT_FALSE(fromKeychain->error()) << fromKeychain->error()->description();
        EXPECT_EQ(s.takeDigestUsers(), std::vector<std::string>(3, user));
        HTTPRequest::removeCredentialsForHost("127.0.0.1", port, "http", "R");
    }
}

TEST_F(RequestAuthentication, RegisteredDialogIsShownOnTheMainThreadWhenAllowed) {
    AuthServer s;
    bool shownOnMain = false;
    http::setAuthenticationDialogPresenter([&](ns::Ref<HTTPRequest> r) {
        shownOnMain = ns::RunLoop::isMainThread();
        r->setUsername("user");
        r->setPassword("pass");
        r->retryUsingSuppliedCredentials();
    });
    auto r = HTTPRequest::requestWithURL(url(s.url("/basic")));
    r->setShouldPresentAuthenticationDialog(true);
    r->startAsynchronous();
    bool done = waitFor(r);
    http::setAuthenticationDialogPresenter(nullptr);
    ASSERT_TRUE(done);
    ASSERT_FALSE(r->error()) << r->error()->description();
    EXPECT_TRUE(shownOnMain);
    EXPECT_EQ(text(r), "basic ok");
}

TEST_F(RequestAuthentication, CredentialsAndCookiesStayWithTheirOriginOnARedirect) {
    // Both servers record what they got; /login wants user:pass at A and
    // refuses everything at B; A sends every other request to `location`.
    std::mutex m;
    std::vector<std::pair<char, testsupport::Request>> seen;
    std::string location;
    int status = 307;
    auto handler = [&](char who) {
        return [&, who](testsupport::Conn& c) {
            while (auto r = c.readRequest()) {
                std::string to;
                int code;
                {
                    std::lock_guard<std::mutex> g(m);
                    seen.emplace_back(who, *r);
                    to = location;
                    code = status;
                }
                bool ok;
                if (r->target == "/login" && (who == 'B' || r->header("Authorization") != "Basic dXNlcjpwYXNz"))
                    ok = c.respond(401, "who?", std::string("WWW-Authenticate: Basic realm=\"") + who + "\"\r\n");
                else if (who == 'A' && r->target != "/here")
                    ok = c.respond(code, "", "Location: " + to + "\r\n");
                else
                    ok = c.respond(200, std::string(1, who));
                if (!ok) return;
            }
        };
    };
    testsupport::Server a(handler('A'));
    testsupport::Server b(handler('B'));
    auto start = [&](const std::string& to, int code) {
        std::lock_guard<std::mutex> g(m);
        location = to;
        status = code;
        seen.clear();
    };
    auto lastAt = [&](char who) {
        std::lock_guard<std::mutex> g(m);
        for (auto it = seen.rbegin(); it != seen.rend(); ++it)
            if (it->first == who) return it->second;
        return testsupport::Request{};
    };
    std::string bPort = std::to_string(b.port());

    // Caller-set Authorization and Cookie: kept within the origin, dropped
    // for another host and for the same host on another port.
    for (std::string to : {a.url("/here"), "http://localhost:" + bPort + "/x", "http://127.0.0.1:" + bPort + "/x"}) {
        start(to, 307);
        auto r = HTTPRequest::requestWithURL(url(a.url("/start")));
        r->addRequestHeader("Authorization", "Basic dXNlcjpwYXNz");
        r->addRequestHeader("Cookie", "caller=secret");
        startSynchronous(r);
        ASSERT_FALSE(r->error()) << r->error()->description();
        bool sameOrigin = to == a.url("/here");
        auto got = lastAt(sameOrigin ? 'A' : 'B');
        EXPECT_EQ(got.target, sameOrigin ? "/here" : "/x");
        EXPECT_EQ(got.header("Authorization"), sameOrigin ? "Basic dXNlcjpwYXNz" : "") << to;
        if (!sameOrigin) {
            EXPECT_EQ(got.header("Cookie").find("caller=secret"), std::string::npos) << to;
        }
    }

    // A login accepted by A is not offered to B after A redirects there,
    // neither before B's challenge nor in answer to it.
    start("http://127.0.0.1:" + bPort + "/login", 302);
    auto r = HTTPRequest::requestWithURL(url(a.url("/login")));
    r->setUsername("user");
    r->setPassword("pass");
    startSynchronous(r);
    ASSERT_TRUE(r->error());
    EXPECT_EQ(r->error()->code(), 3);
    std::lock_guard<std::mutex> g(m);
    size_t atB = 0;
    for (auto& [who, req] : seen) {
        if (who != 'B') continue;
        ++atB;
        EXPECT_EQ(req.header("Authorization"), "");
    }
    EXPECT_EQ(atB, 1u);
}

namespace {
// A queue's delegate that hands the credential question and the ends to a
// recording delegate.
class QueueRelay : public ns::Object, public http::NetworkQueueDelegate {
public:
    explicit QueueRelay(RecordingDelegate& d) : d_(d) {}
    const char* className() const override { return "QueueRelay"; }
    bool answers(HTTPRequestDelegate::Optional op) const override { return d_.answers(op); }
    void requestFinished(HTTPRequest* r) override { d_.requestFinished(r); }
    void requestFailed(HTTPRequest* r) override { d_.requestFailed(r); }
    void authenticationNeededForRequest(HTTPRequest* r) override { d_.authenticationNeededForRequest(r); }

private:
    RecordingDelegate& d_;
};
}  // namespace

TEST_F(RequestAuthentication, ChallengedAsynchronousRequestIsNotHeldUpByTheMainThread) {
    AuthServer s;
    // Each one challenged itself: no session store, credentials on the request.
    auto runSynchronous = [&] {
        auto sync = HTTPRequest::requestWithURL(url(s.url("/basic")));
        sync->setUsername("user");
        sync->setPassword("pass");
        sync->setUseSessionPersistence(false);
        startSynchronous(sync);
        EXPECT_FALSE(sync->error()) << sync->error()->description();
    };
    auto challenged = [&](RecordingDelegate& d) {
        d.answerAuthentication = true;
        d.onAuthentication = [](HTTPRequest* r) {
            r->setUsername("user");
            r->setPassword("pass");
            r->retryUsingSuppliedCredentials();
        };
        auto r = HTTPRequest::requestWithURL(url(s.url("/basic")));
        r->setUseSessionPersistence(false);
        return r;
    };
    auto ended = [](RecordingDelegate& d) { return d.count("finished") + d.count("failed") > 0; };

    // The main thread runs synchronous requests to the same server while an
    // asynchronous one is challenged: its question, its retry and its end
    // reach the main thread during them (a run in the synchronous mode also
    // serves calls made to the main thread), asked through the delegate or
    // a queue's delegate.
    for (bool throughQueue : {false, true}) {
        SCOPED_TRACE(throughQueue ? "queue" : "delegate");
        auto d = ns::make<RecordingDelegate>();
        auto relay = ns::make<QueueRelay>(*d);
        auto queue = http::NetworkQueue::queue();
        auto r = challenged(*d);
        if (throughQueue) {
            queue->setDelegate(relay.get());
            queue->setRequestDidFinishSelector(&http::NetworkQueueDelegate::requestFinished);
            queue->setRequestDidFailSelector(&http::NetworkQueueDelegate::requestFailed);
            queue->addOperation(r);
            queue->go();
        } else {
            r->setDelegate(d.get());
            r->startAsynchronous();
        }
        int synchronous = 0;
        while (!ended(*d) && synchronous < 500) {
            runSynchronous();
            ++synchronous;
        }
        EXPECT_TRUE(ended(*d)) << "not ended after " << synchronous << " synchronous requests";
        ASSERT_TRUE(waitFor(r));
        drainMain();
        ASSERT_FALSE(r->error()) << r->error()->description();
        EXPECT_EQ(text(r), "basic ok");
        EXPECT_EQ(d->count("authenticationNeeded"), 1u);
        EXPECT_EQ(d->count("finished"), 1u);
    }

    // A main thread that runs no loop at all holds the question back, for
    // as long as it takes: the request waiting for it has no time-out
    // running, and goes on once the main thread runs its loop again.
    {
        auto clock = ns::make<ns::ManualClock>();
        auto network = HTTPRequest::networkRunLoop();
        network->setClock(clock);
        struct SystemClockAtEnd {
            ns::Ref<ns::RunLoop> loop;
            ~SystemClockAtEnd() { loop->setClock(nullptr); }
        } restore{network};
        auto d = ns::make<RecordingDelegate>();
        auto r = challenged(*d);
        r->setDelegate(d.get());
        r->setTimeOutSeconds(1);
        r->startAsynchronous();
        // The challenge was read; the question waits for the main thread.
        ASSERT_TRUE(waitForRelease([&] { return r->complete() && r->authenticationNeeded() == 1; }));
        clock->advance(60);
        EXPECT_EQ(d->count("authenticationNeeded"), 0u);
        ASSERT_TRUE(waitFor(r));
        drainMain();
        ASSERT_FALSE(r->error()) << r->error()->description();
        EXPECT_EQ(text(r), "basic ok");
        EXPECT_EQ(d->count("authenticationNeeded"), 1u);
    }

    // A synchronous request's callbacks as it ends (here its one progress
    // report) may wait for an asynchronous request: nothing the ending
    // request holds keeps the network thread from reading the challenge,
    // answering it and finishing.
    {
        std::atomic<bool> releaseChallenge{false};
        testsupport::Server held(testsupport::Server::eachRequest([&](const testsupport::Request& q) {
            if (q.target == "/plain") return testsupport::Server::reply(200, "plain");
            if (q.header("Authorization") == "Basic dXNlcjpwYXNz") return testsupport::Server::reply(200, "held ok");
            waitForRelease(releaseChallenge);
            return testsupport::Server::reply(401, "who?", "WWW-Authenticate: Basic realm=\"R\"\r\n");
        }));
        struct ReleaseAtEnd {
            std::atomic<bool>& flag;
            ~ReleaseAtEnd() { flag = true; }
        } releaseAtEnd{releaseChallenge};
        auto async = HTTPRequest::requestWithURL(url(held.url("/held")));
        async->setUsername("user");
        async->setPassword("pass");
        async->setUseSessionPersistence(false);
        std::atomic<bool> asyncFinished{false};
        async->ns::Operation::setCompletionBlock([&asyncFinished] { asyncFinished = true; });
        async->startAsynchronous();

        auto sync = HTTPRequest::requestWithURL(url(held.url("/plain")));
        sync->setShowAccurateProgress(false);  // one report, as it ends
        int reports = 0;
        bool asyncEndedMeanwhile = false;
        sync->setBytesReceivedBlock([&](int64_t, int64_t) {
            ++reports;
            releaseChallenge = true;
            asyncEndedMeanwhile = waitForRelease(asyncFinished);
        });
        startSynchronous(sync);
        EXPECT_EQ(reports, 1);
        EXPECT_TRUE(asyncEndedMeanwhile);
        ASSERT_TRUE(waitFor(async));
        ASSERT_FALSE(async->error()) << async->error()->description();
        EXPECT_EQ(text(async), "held ok");
        EXPECT_EQ(text(sync), "plain");
        sync->setBytesReceivedBlock(nullptr);
    }
}
