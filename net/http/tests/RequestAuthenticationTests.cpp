// Basic and Digest challenges answered from the URL, the request, the
// session store and the delegate; refused credentials; synchronous
// requests that cannot ask anyone.
#include "tests/DigestVerifier.h"
#include "net/http/tests/RequestTestSupport.h"

#include <openssl/evp.h>

#include <atomic>
#include <map>
#include <mutex>

using namespace httptest;
using http::HTTPRequest;

namespace {

using nettest::digestParams;
using nettest::md5hex;

// /basic wants user:pass in Basic; /digest wants user:secret in Digest.
// Counts requests and those that came with credentials before any challenge.
class AuthServer {
public:
    AuthServer()
        : server_([this](nettest::Conn& c) {
              while (auto r = c.readRequest()) {
                  std::string auth = r->header("Authorization");
                  ++requests;
                  if (!auth.empty()) ++withCredentials;
                  bool ok;
                  if (r->target.rfind("/basic", 0) == 0) {
                      if (auth == "Basic dXNlcjpwYXNz") ok = c.respond(200, "basic ok");
                      else ok = c.respond(401, "who?", "WWW-Authenticate: Basic realm=\"R\"\r\n");
                  } else {
                      bool good = false;
                      if (auth.rfind("Digest ", 0) == 0) {
                          auto p = digestParams(auth);
                          std::string ha1 = md5hex(p["username"] + ":R:secret");
                          std::string ha2 = md5hex(r->method + ":" + p["uri"]);
                          good = p["response"] == md5hex(ha1 + ":n0nce:" + p["nc"] + ":" + p["cnonce"] + ":auth:" + ha2) &&
                                 p["uri"] == r->target;
                      }
                      if (good) ok = c.respond(200, "digest ok");
                      else
                          ok = c.respond(401, "who?",
                                         "WWW-Authenticate: Digest realm=\"R\", nonce=\"n0nce\", qop=\"auth\"\r\n");
                  }
                  if (!ok) return;
              }
          }) {}
    std::string url(const std::string& p, const std::string& userinfo = "") {
        std::string u = server_.url(p);
        return userinfo.empty() ? u : "http://" + userinfo + "@" + u.substr(7);
    }
    std::atomic<int> requests{0}, withCredentials{0};

private:
    nettest::Server server_;
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
    r->startSynchronous();
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
    first->startSynchronous();
    ASSERT_FALSE(first->error());
    EXPECT_EQ(s.requests, 2);
    EXPECT_FALSE(HTTPRequest::sessionCredentialsStore().empty());

    auto second = HTTPRequest::requestWithURL(url(s.url("/basic")));
    second->startSynchronous();
    ASSERT_FALSE(second->error());
    EXPECT_EQ(s.requests, 3);  // no second challenge
    EXPECT_EQ(s.withCredentials, 2);
}

TEST_F(RequestAuthentication, DigestIsAnsweredAndReusedForTheNextRequest) {
    AuthServer s;
    auto r = HTTPRequest::requestWithURL(url(s.url("/digest/a")));
    r->setUsername("user");
    r->setPassword("secret");
    r->startSynchronous();
    ASSERT_FALSE(r->error()) << r->error()->description();
    EXPECT_EQ(text(r), "digest ok");
    EXPECT_EQ(r->authenticationScheme(), "Digest");

    auto again = HTTPRequest::requestWithURL(url(s.url("/digest/a")));
    again->startSynchronous();
    ASSERT_FALSE(again->error());
    EXPECT_EQ(s.requests, 3);
}

TEST_F(RequestAuthentication, SynchronousRequestWithoutCredentialsFailsWithCode3AtOnce) {
    AuthServer s;
    auto r = HTTPRequest::requestWithURL(url(s.url("/basic")));
    r->setAuthenticationNeededBlock([] { ADD_FAILURE() << "a synchronous request never asks"; });
    r->startSynchronous();
    ASSERT_TRUE(r->error());
    EXPECT_EQ(r->error()->code(), 3);
    EXPECT_EQ(r->error()->localizedDescription(), "Authentication needed");
    EXPECT_EQ(s.requests, 1);
}

TEST_F(RequestAuthentication, DelegateSuppliesCredentialsAndIsAskedAgainAfterARefusal) {
    AuthServer s;
    auto d = ns::make<RecordingDelegate>();
    d->answerAuthentication = true;
    int asked = 0;
    d->onAuthentication = [&](HTTPRequest* r) {
        ++asked;
        r->setUsername("user");
        r->setPassword(asked == 1 ? "wrong" : "pass");
        r->retryUsingSuppliedCredentials();
    };
    bool blockAsked = false;
    auto r = HTTPRequest::requestWithURL(url(s.url("/basic")));
    r->setDelegate(d.get());
    r->setAuthenticationNeededBlock([&] { blockAsked = true; });
    r->startAsynchronous();
    ASSERT_TRUE(waitFor(r));
    drainMain();
    ASSERT_FALSE(r->error()) << r->error()->description();
    EXPECT_EQ(text(r), "basic ok");
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(blockAsked);  // with both, only the delegate is asked
    // The refused credentials are not in the store; the good ones are.
    for (auto& rec : HTTPRequest::sessionCredentialsStore())
        EXPECT_NE(rec->dictionaryForKey("Credentials")->stringForKey(http::kCredentialPasswordKey)->utf8(), "wrong");
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
    for (int i = 0; i < 4; ++i) {
        auto r = HTTPRequest::requestWithURL(url(s.url("/basic")));
        r->setDelegate(d.get());
        r->startAsynchronous();
        waiting.push_back(r);
    }
    ASSERT_TRUE(waitUntil([&] { return d->count("authenticationNeeded") == 4; }));
    waiting[0]->cancel();
    waiting[1]->cancel();
    waiting[2]->clearDelegatesAndCancel();
    waiting[3]->clearDelegatesAndCancel();
    for (auto& r : waiting) {
        ASSERT_TRUE(waitFor(r, 5));
        ASSERT_TRUE(r->error());
        EXPECT_EQ(r->error()->code(), 4);
        EXPECT_TRUE(r->isCancelled());
    }
    drainMain();
    EXPECT_EQ(d->count("failed"), 2u);  // the cleared ones tell nobody
    // A late answer changes nothing.
    waiting[0]->retryUsingSuppliedCredentials();
    // The four places in the shared queue are free again.
    auto next = HTTPRequest::requestWithURL(url(s.url("/basic", "user:pass")));
    next->startAsynchronous();
    ASSERT_TRUE(waitFor(next, 5));
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
    r->startSynchronous();
    ASSERT_FALSE(r->error());
    auto u = url(s.url("/"));
    auto saved = HTTPRequest::savedCredentialsForHost("127.0.0.1", static_cast<int>(u->port()->longValue()), "http", "R");
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->stringForKey(http::kCredentialUsernameKey)->utf8(), "user");
    HTTPRequest::removeCredentialsForHost("127.0.0.1", static_cast<int>(u->port()->longValue()), "http", "R");
    EXPECT_FALSE(HTTPRequest::savedCredentialsForHost("127.0.0.1", static_cast<int>(u->port()->longValue()), "http", "R"));
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

TEST_F(RequestAuthentication, CredentialsAreNotCarriedToAnotherHostOrPortOnARedirect) {
    std::mutex m;
    std::string authorizationAtB = "unset";
    nettest::Server b([&](nettest::Conn& c) {
        while (auto r = c.readRequest()) {
            {
                std::lock_guard<std::mutex> g(m);
                authorizationAtB = r->header("Authorization");
            }
            if (!c.respond(200, "b")) return;
        }
    });
    // Another host, and the same host on another port.
    for (std::string host : {"localhost", "127.0.0.1"}) {
        std::string target = "http://" + host + ":" + std::to_string(b.port()) + "/elsewhere";
        nettest::Server a([&](nettest::Conn& c) {
            while (auto r = c.readRequest())
                if (!c.respond(307, "", "Location: " + target + "\r\n")) return;
        });
        auto r = HTTPRequest::requestWithURL(url(a.url("/start")));
        r->addRequestHeader("Authorization", "Basic dXNlcjpwYXNz");
        r->startSynchronous();
        ASSERT_FALSE(r->error()) << r->error()->description();
        EXPECT_EQ(text(r), "b");
        std::lock_guard<std::mutex> g(m);
        EXPECT_EQ(authorizationAtB, "") << host;
        authorizationAtB = "unset";
    }
}
