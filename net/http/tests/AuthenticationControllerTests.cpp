// The login controller of one target (server or proxy), without sockets:
// challenges as messages, credential sources as a fake.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/http/AuthenticationController.h"
#include "platform/foundation/String.h"
#include "platform/network/HTTPMessage.h"

namespace {

using http::AuthenticationController;
using Next = AuthenticationController::Next;
using Reading = AuthenticationController::Reading;
using Target = AuthenticationController::Target;

// A session store and a caller's credentials, recording what the
// controller did with them.
class FakeSources : public AuthenticationController::Sources {
public:
    bool session = true;
    bool keychain = false;
    ns::Ref<ns::Dictionary> found;            // what findCredentials answers
    ns::Ref<ns::MutableDictionary> record;    // the session store's one record
    std::vector<std::string> keychainRealms;  // realms saved to the keychain
    std::vector<const ns::Dictionary*> forgotten;
    bool askedWithDomain = false;
    std::string space;  // the protection space answered

    bool usesSessionStore() const override { return session; }
    std::string protectionSpace() const override { return space; }
    bool usesKeychain() const override { return keychain; }
    ns::Ref<ns::Dictionary> sessionRecord(const std::string&) override { return record; }
    void storeSessionRecord(const ns::Ref<net::HTTPAuthentication>& authentication,
                            const ns::Ref<ns::Dictionary>& credentials, const std::string& scheme,
                            const std::string& realm) override {
        record = ns::MutableDictionary::make();
        record->setObject(authentication, "Authentication");
        record->setObject(credentials, "Credentials");
        record->setObject(ns::String::make(scheme), "AuthenticationScheme");
        record->setObject(ns::String::make(realm), "AuthenticationRealm");
    }
    void forgetSessionCredentials(const ns::Dictionary* credentials) override {
        forgotten.push_back(credentials);
        if (record && record->objectForKey("Credentials") == credentials) record = nullptr;
    }
    ns::Ref<ns::Dictionary> findCredentials(bool withDomain, const std::string&) override {
        askedWithDomain = withDomain;
        return found;
    }
    void saveToKeychain(const ns::Dictionary&, const std::string& realm) override { keychainRealms.push_back(realm); }
};

ns::Ref<net::HTTPMessage> challenge(int status, const std::string& value) {
    auto m = net::HTTPMessage::response(status, "HTTP/1.1 " + std::to_string(status) + " Login");
    m->setHeaderField(status == 407 ? "Proxy-Authenticate" : "WWW-Authenticate", value);
    return m;
}

ns::Ref<net::HTTPMessage> request() { return net::HTTPMessage::request("GET", "http://127.0.0.1:8080/private"); }

ns::Ref<ns::Dictionary> login(const std::string& user, const std::string& password) {
    return AuthenticationController::makeCredentials(user, password, false, "");
}

std::string field(const net::HTTPMessage& m, const char* name) { return m.headerField(name).value_or(""); }

TEST(AuthenticationController, ServerChallengeIsAnsweredFromTheCallersCredentialsAndKeptForTheSession) {
    AuthenticationController server(Target::Server);
    FakeSources sources;
    sources.keychain = true;
    sources.found = login("ann", "secret");
    auto message = request();

    EXPECT_EQ(server.readChallenge(*challenge(401, "Basic realm=\"cards\""), sources), Reading::Answerable);
    EXPECT_EQ(server.scheme(), "Basic");
    EXPECT_EQ(server.realm(), "cards");
    EXPECT_EQ(server.chooseCredentials(*message, sources), Next::Resend);
    EXPECT_EQ(field(*message, "Authorization"), "Basic YW5uOnNlY3JldA==");
    EXPECT_EQ(field(*message, "Proxy-Authorization"), "");
    EXPECT_EQ(server.retryCount(), 1);
    EXPECT_EQ(server.credentials(), sources.found);
    EXPECT_FALSE(sources.askedWithDomain);
    ASSERT_TRUE(sources.record);
    EXPECT_EQ(sources.record->objectForKey("Credentials"), sources.found.get());
    EXPECT_EQ(sources.keychainRealms, std::vector<std::string>{"cards"});

    // Nothing to offer: the caller is asked; no challenge at all: no object.
    AuthenticationController fresh(Target::Server);
    FakeSources empty;
    empty.session = false;
    EXPECT_EQ(fresh.readChallenge(*challenge(401, "Basic realm=\"cards\""), empty), Reading::Answerable);
    EXPECT_EQ(fresh.chooseCredentials(*request(), empty), Next::AskCaller);
    EXPECT_EQ(fresh.retryCount(), 0);
    AuthenticationController none(Target::Server);
    EXPECT_EQ(none.readChallenge(*net::HTTPMessage::response(401, "HTTP/1.1 401 No"), empty), Reading::NoObject);
    EXPECT_FALSE(none.authentication());
}

TEST(AuthenticationController, RefusedCredentialsAreForgottenAndTheSessionStoresOthersAreTried) {
    AuthenticationController server(Target::Server);
    FakeSources sources;
    sources.found = login("ann", "wrong");
    auto message = request();
    ASSERT_EQ(server.readChallenge(*challenge(401, "Basic realm=\"cards\""), sources), Reading::Answerable);
    ASSERT_EQ(server.chooseCredentials(*message, sources), Next::Resend);
    auto refused = server.credentials();

    // The same challenge again answers the credentials just sent.
    EXPECT_EQ(server.readChallenge(*challenge(401, "Basic realm=\"cards\""), sources), Reading::Refused);
    EXPECT_FALSE(server.credentials());
    EXPECT_FALSE(server.authentication());
    ASSERT_EQ(sources.forgotten.size(), 1u);
    EXPECT_EQ(sources.forgotten[0], refused.get());
    EXPECT_FALSE(sources.record);  // the refused login left the session store

    // Another login in the session store is applied to a fresh object.
    auto other = login("bob", "right");
    sources.record = ns::MutableDictionary::make();
    sources.record->setObject(other, "Credentials");
    auto again = request();
    EXPECT_TRUE(server.retryFromSessionStore(*challenge(401, "Basic realm=\"cards\""), *again, sources));
    EXPECT_EQ(field(*again, "Authorization"), "Basic Ym9iOnJpZ2h0");
    EXPECT_EQ(server.credentials(), other);
    EXPECT_EQ(server.retryCount(), 2);

    // Applied credentials are sent again as long as the object is valid.
    EXPECT_EQ(server.reapply(*again, sources), Next::Resend);
    EXPECT_EQ(server.retryCount(), 3);
}

TEST(AuthenticationController, ProxyAndServerAreTwoControllersWithTheirOwnState) {
    AuthenticationController server(Target::Server);
    AuthenticationController proxy(Target::Proxy);
    FakeSources serverSources, proxySources;
    serverSources.found = login("ann", "secret");
    proxySources.found = login("gate", "keeper");
    auto message = request();

    ASSERT_EQ(proxy.readChallenge(*challenge(407, "Basic realm=\"gateway\""), proxySources), Reading::Answerable);
    ASSERT_EQ(proxy.chooseCredentials(*message, proxySources), Next::Resend);
    EXPECT_EQ(field(*message, "Proxy-Authorization"), "Basic Z2F0ZTprZWVwZXI=");
    EXPECT_EQ(field(*message, "Authorization"), "");
    ASSERT_EQ(server.readChallenge(*challenge(401, "Digest realm=\"cards\", nonce=\"n1\", qop=\"auth\""), serverSources),
              Reading::Answerable);
    ASSERT_EQ(server.chooseCredentials(*message, serverSources), Next::Resend);

    EXPECT_EQ(proxy.scheme(), "Basic");
    EXPECT_EQ(proxy.realm(), "gateway");
    EXPECT_EQ(proxy.retryCount(), 1);
    EXPECT_EQ(server.scheme(), "Digest");
    EXPECT_EQ(server.realm(), "cards");
    EXPECT_EQ(server.retryCount(), 1);
    EXPECT_NE(field(*message, "Authorization").find("Digest username=\"ann\""), std::string::npos);
    EXPECT_EQ(field(*message, "Proxy-Authorization"), "Basic Z2F0ZTprZWVwZXI=");

    // A stale nonce renews the server's object; the proxy's is untouched.
    EXPECT_EQ(server.readChallenge(*challenge(401, "Digest realm=\"cards\", nonce=\"n2\", qop=\"auth\", stale=true"),
                                   serverSources),
              Reading::Answerable);
    EXPECT_EQ(server.reapply(*message, serverSources), Next::Resend);
    EXPECT_NE(field(*message, "Authorization").find("nonce=\"n2\""), std::string::npos);
    EXPECT_EQ(proxy.retryCount(), 1);

    // A new URL drops the objects, not what was learnt about the login.
    server.forgetAuthentication();
    EXPECT_FALSE(server.authentication());
    EXPECT_EQ(server.credentials(), serverSources.found);
    EXPECT_TRUE(proxy.authentication());
}

// Requests to different servers through one proxy, challenged by it with one
// Digest nonce, each make an object of their own (and another after a
// refusal): all of them take their nonce counts from one counter, as the
// proxy's protection space is the same whichever server a request is for.
TEST(AuthenticationController, ProxyDigestCountsAreSharedByTheRequestsOfEveryServer) {
    FakeSources sources;
    sources.space = "proxy gate:3128";
    sources.found = login("gate", "keeper");
    const char* digest = "Digest realm=\"gateway\", nonce=\"shared-by-servers\", qop=\"auth\"";
    auto count = [](const net::HTTPMessage& m) {
        std::string h = field(m, "Proxy-Authorization");
        auto at = h.find("nc=");
        return at == std::string::npos ? h : h.substr(at + 3, 8);
    };
    AuthenticationController first(Target::Proxy), second(Target::Proxy);
    auto toA = net::HTTPMessage::request("GET", "http://a.test/");
    auto toB = net::HTTPMessage::request("GET", "http://b.test:8080/");
    ASSERT_EQ(first.readChallenge(*challenge(407, digest), sources), Reading::Answerable);
    ASSERT_EQ(second.readChallenge(*challenge(407, digest), sources), Reading::Answerable);
    ASSERT_EQ(first.chooseCredentials(*toA, sources), Next::Resend);
    ASSERT_EQ(second.chooseCredentials(*toB, sources), Next::Resend);
    EXPECT_NE(first.authentication(), second.authentication());
    EXPECT_EQ(count(*toA), "00000001");
    EXPECT_EQ(count(*toB), "00000002");
    // A refusal: the session store's login is applied with a fresh object.
    sources.record = ns::MutableDictionary::make();
    sources.record->setObject(login("gate", "keeper"), "Credentials");
    ASSERT_EQ(second.readChallenge(*challenge(407, digest), sources), Reading::Refused);
    auto toC = net::HTTPMessage::request("GET", "https://c.test/");
    ASSERT_TRUE(second.retryFromSessionStore(*challenge(407, digest), *toC, sources));
    EXPECT_EQ(count(*toC), "00000003");
}

TEST(AuthenticationController, SessionStoreBeforeAnyChallenge) {
    AuthenticationController server(Target::Server);
    FakeSources sources;
    auto message = request();
    EXPECT_EQ(server.applyFromSessionStore(*message, sources).result, AuthenticationController::Stored::Result::None);

    // A record kept without its object: the request sends those credentials itself.
    sources.record = ns::MutableDictionary::make();
    sources.record->setObject(login("ann", "secret"), "Credentials");
    auto stored = server.applyFromSessionStore(*message, sources);
    EXPECT_EQ(stored.result, AuthenticationController::Stored::Result::NoObject);
    EXPECT_EQ(AuthenticationController::credentialText(stored.credentials.get(), http::kCredentialUsernameKey), "ann");
    EXPECT_EQ(field(*message, "Authorization"), "");

    // A record with its object applies them and gives its scheme.
    AuthenticationController first(Target::Server);
    FakeSources learnt;
    learnt.found = login("ann", "secret");
    ASSERT_EQ(first.readChallenge(*challenge(401, "Basic realm=\"cards\""), learnt), Reading::Answerable);
    ASSERT_EQ(first.chooseCredentials(*request(), learnt), Next::Resend);
    auto next = request();
    AuthenticationController second(Target::Server);
    EXPECT_EQ(second.applyFromSessionStore(*next, learnt).result, AuthenticationController::Stored::Result::Applied);
    EXPECT_EQ(second.scheme(), "Basic");
    EXPECT_EQ(field(*next, "Authorization"), "Basic YW5uOnNlY3JldA==");
    EXPECT_TRUE(learnt.forgotten.empty());

    // Switched off, the session store is neither read nor written.
    FakeSources off;
    off.session = false;
    off.record = learnt.record;
    EXPECT_EQ(second.applyFromSessionStore(*request(), off).result, AuthenticationController::Stored::Result::None);
}

}  // namespace
