// Proxies: one set on the request (with a 407 answered from the request's
// proxy credentials), and PAC scripts read from local files.
#include "net/http/tests/RequestTestSupport.h"
#include "testsupport/RefusingPort.h"
#include "testsupport/TempDir.h"
#include "testsupport/DigestVerifier.h"  // the proxy's own reading of Digest

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <fstream>
#include <mutex>
#include <set>

using namespace httptest;
using http::HTTPRequest;
namespace fs = std::filesystem;

namespace {

// An HTTP proxy that answers for the origin itself: "/open" paths need no
// credentials, "/digest" paths want user:pass in Digest (and refuse a nonce
// count they have taken before), everything else wants them in Basic.
class FakeProxy {
public:
    FakeProxy()
        : server_([this](testsupport::Conn& c) {
              while (auto r = c.readRequest()) {
                  {
                      std::lock_guard<std::mutex> g(mutex_);
                      targets_.push_back(r->target);
                  }
                  bool open = r->target.find("/open") != std::string::npos;
                  bool ok;
                  if (r->target.find("/digest") != std::string::npos) {
                      if (digestAccepted(*r)) ok = c.respond(200, "via proxy " + r->target);
                      else
                          ok = c.respond(407, "credentials please",
                                         "Proxy-Authenticate: Digest realm=\"proxy\", nonce=\"p0nce\", qop=\"auth\"\r\n");
                  } else if (!open && r->header("Proxy-Authorization") != "Basic dXNlcjpwYXNz")
                      ok = c.respond(407, "credentials please", "Proxy-Authenticate: Basic realm=\"proxy\"\r\n");
                  else
                      ok = c.respond(200, "via proxy " + r->target);
                  if (!ok) return;
              }
          }) {}
    uint16_t port() const { return server_.port(); }
    std::vector<std::string> targets() {
        std::lock_guard<std::mutex> g(mutex_);
        return targets_;
    }
    // Digest answers with the right credentials refused as replays.
    std::atomic<int> replays{0};

private:
    bool digestAccepted(const testsupport::Request& r) {
        const std::string auth = r.header("Proxy-Authorization");
        if (auth.rfind("Digest ", 0) != 0) return false;
        auto p = testsupport::digestParams(auth);
        const std::string ha1 = testsupport::md5hex(p["username"] + ":proxy:pass");
        const std::string ha2 = testsupport::md5hex(r.method + ":" + p["uri"]);
        const bool good = p["username"] == "user" && p["nonce"] == "p0nce" && p["nc"].size() == 8 &&
                          r.target.size() > p["uri"].size() && r.target.ends_with(p["uri"]) &&
                          p["response"] == testsupport::md5hex(ha1 + ":p0nce:" + p["nc"] + ":" + p["cnonce"] + ":auth:" + ha2);
        if (!good) return false;
        std::lock_guard<std::mutex> g(mutex_);
        if (seenCounts_.insert(p["nc"]).second) return true;
        ++replays;
        return false;
    }

    std::mutex mutex_;
    std::vector<std::string> targets_;
    std::set<std::string> seenCounts_;
    testsupport::Server server_;
};

class RequestProxy : public ::testing::Test {
protected:
    void SetUp() override { HTTPRequest::clearSession(); }
    void TearDown() override { HTTPRequest::clearSession(); }
};

}  // namespace

TEST_F(RequestProxy, RequestProxyIsUsedWithoutConsultingTheSystem) {
    FakeProxy proxy;
    auto r = HTTPRequest::requestWithURL(url("http://origin.invalid/open/page"));
    r->setProxyHost("127.0.0.1");
    r->setProxyPort(proxy.port());
    startSynchronous(r);
    ASSERT_FALSE(r->error()) << r->error()->description();
    EXPECT_EQ(text(r), "via proxy http://origin.invalid/open/page");
    EXPECT_EQ(r->proxyType(), "HTTP");
}

TEST_F(RequestProxy, ProxyChallengeIsAnsweredFromTheProxyCredentials) {
    FakeProxy proxy;
    auto r = HTTPRequest::requestWithURL(url("http://origin.invalid/private"));
    r->setProxyHost("127.0.0.1");
    r->setProxyPort(proxy.port());
    r->setProxyUsername("user");
    r->setProxyPassword("pass");
    startSynchronous(r);
    ASSERT_FALSE(r->error()) << r->error()->description();
    EXPECT_EQ(text(r), "via proxy http://origin.invalid/private");
    EXPECT_EQ(r->proxyAuthenticationScheme(), "Basic");
    EXPECT_EQ(r->proxyAuthenticationRealm(), "proxy");
    EXPECT_EQ(HTTPRequest::sessionProxyCredentialsStore().size(), 1u);

    // The next request through the same proxy presents them at once.
    size_t before = proxy.targets().size();
    auto again = HTTPRequest::requestWithURL(url("http://origin.invalid/private2"));
    again->setProxyHost("127.0.0.1");
    again->setProxyPort(proxy.port());
    startSynchronous(again);
    ASSERT_FALSE(again->error());
    EXPECT_EQ(proxy.targets().size(), before + 1);
}

TEST_F(RequestProxy, ProxyDigestCountsAreSharedByTheRequestsForEveryServer) {
    // 64 requests at once through one proxy, on 8 threads, for two servers:
    // the proxy's challenge, whichever server a request is for, is counted
    // by one counter, so the proxy refuses none as a replay.
    FakeProxy proxy;
    constexpr int kThreads = 8, kEach = 8;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                auto r = HTTPRequest::requestWithURL(
                    url((t + i) % 2 ? "http://a.invalid/digest/x" : "http://b.invalid:8080/digest/y?z=1"));
                r->setProxyHost("127.0.0.1");
                r->setProxyPort(proxy.port());
                r->setProxyUsername("user");
                r->setProxyPassword("pass");
                startSynchronous(r);
                if (r->error() || text(r).rfind("via proxy http://", 0) != 0) ++failures;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(proxy.replays, 0);
    EXPECT_EQ(failures, 0);
    EXPECT_FALSE(HTTPRequest::sessionProxyCredentialsStore().empty());  // the login kept
}

TEST_F(RequestProxy, ProxyChallengeWithoutCredentialsFailsWithCode3) {
    FakeProxy proxy;
    auto r = HTTPRequest::requestWithURL(url("http://origin.invalid/private"));
    r->setProxyHost("127.0.0.1");
    r->setProxyPort(proxy.port());
    startSynchronous(r);
    ASSERT_TRUE(r->error());
    EXPECT_EQ(r->error()->code(), 3);
}

TEST_F(RequestProxy, LocalPACFileChoosesTheProxy) {
    FakeProxy proxy;
    testsupport::TempDir dir;
    std::ofstream(dir / "proxy.pac") << "function FindProxyForURL(url, host) { return \"PROXY 127.0.0.1:"
                                         << proxy.port() << "; DIRECT\"; }\n";
    for (bool synchronous : {true, false}) {
        auto r = HTTPRequest::requestWithURL(url("http://origin.invalid/open/pac"));
        r->setPACurl(ns::URL::fileURLWithPath(dir / "proxy.pac"));
        if (synchronous) {
            startSynchronous(r);
        } else {
            r->startAsynchronous();
            ASSERT_TRUE(waitFor(r));
        }
        ASSERT_FALSE(r->error()) << r->error()->description();
        EXPECT_EQ(text(r), "via proxy http://origin.invalid/open/pac");
        EXPECT_EQ(r->proxyPort(), proxy.port());
    }
}

TEST_F(RequestProxy, PACScriptAnsweringDirectLeavesTheRequestWithoutProxy) {
    testsupport::Server origin([](testsupport::Conn& c) {
        if (c.readRequest()) c.respond(200, "direct");
    });
    testsupport::TempDir dir;
    std::ofstream(dir / "direct.pac") << "function FindProxyForURL(url, host) { return \"DIRECT\"; }\n";
    auto r = HTTPRequest::requestWithURL(url(origin.url("/")));
    r->setPACurl(ns::URL::fileURLWithPath(dir / "direct.pac"));
    r->startAsynchronous();
    ASSERT_TRUE(waitFor(r));
    ASSERT_FALSE(r->error());
    EXPECT_EQ(text(r), "direct");
    EXPECT_TRUE(r->proxyHost().empty());
}

TEST_F(RequestProxy, LocalPACFileThatNeverEndsIsAbandonedAfterTheTimeOut) {
    testsupport::Server origin([](testsupport::Conn& c) {
        if (c.readRequest()) c.respond(200, "direct");
    });
    testsupport::TempDir dir;
    std::string fifo = dir / "never.pac";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Keep a writer open so the reader never sees the end.
    int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    auto r = HTTPRequest::requestWithURL(url(origin.url("/")));
    r->setPACurl(ns::URL::fileURLWithPath(fifo));
    r->setTimeOutSeconds(0.3);
    r->startAsynchronous();
    ASSERT_TRUE(waitFor(r));
    ::close(writer);
    ASSERT_FALSE(r->error());
    EXPECT_EQ(text(r), "direct");
}

TEST_F(RequestProxy, PACScriptFetchedOverHTTPChoosesTheProxyEvenWithTheQueueFull) {
    FakeProxy proxy;
    std::string script = "function FindProxyForURL(url, host) { return \"PROXY 127.0.0.1:" +
                         std::to_string(proxy.port()) + "\"; }\n";
    testsupport::Server pacServer([&](testsupport::Conn& c) {
        while (auto r = c.readRequest())
            if (!c.respond(200, script, "Content-Type: application/x-ns-proxy-autoconfig\r\n")) return;
    });
    // Four requests that hold the shared queue's slots while the PAC fetch runs.
    std::atomic<bool> release{false};
    testsupport::Server slow([&](testsupport::Conn& c) {
        if (c.readRequest()) {
            waitForRelease(release);
            c.respond(200, "slow");
        }
    });
    std::vector<ns::Ref<HTTPRequest>> blockers;
    for (int i = 0; i < 4; ++i) {
        auto b = HTTPRequest::requestWithURL(url(slow.url("/" + std::to_string(i))));
        b->setShouldAttemptPersistentConnection(false);
        b->startAsynchronous();
        blockers.push_back(b);
    }
    ASSERT_TRUE(waitUntil([&] { return slow.connections() == 4; }));

    auto r = HTTPRequest::requestWithURL(url("http://origin.invalid/open/http-pac"));
    r->setPACurl(url(pacServer.url("/proxy.pac")));
    // Runs on the queue as a fifth operation would: the PAC download must
    // not wait behind the four blockers.
    HTTPRequest::sharedQueue()->setMaxConcurrentOperationCount(5);
    r->startAsynchronous();
    bool done = waitFor(r);
    release = true;
    for (auto& b : blockers) waitFor(b);
    HTTPRequest::sharedQueue()->setMaxConcurrentOperationCount(4);
    ASSERT_TRUE(done);
    ASSERT_FALSE(r->error()) << r->error()->description();
    EXPECT_EQ(text(r), "via proxy http://origin.invalid/open/http-pac");
    EXPECT_EQ(pacServer.connections(), 1);

    auto sync = HTTPRequest::requestWithURL(url("http://origin.invalid/open/sync-pac"));
    sync->setPACurl(url(pacServer.url("/proxy.pac")));
    startSynchronous(sync);
    ASSERT_FALSE(sync->error());
    EXPECT_EQ(text(sync), "via proxy http://origin.invalid/open/sync-pac");

    // A fetch that fails (nobody listens) ends at once, long before the
    // request's time-out, and the request goes on without a script.
    testsupport::RefusingPort closed;
    auto direct = HTTPRequest::requestWithURL(url(pacServer.url("/direct")));
    direct->setPACurl(url(closed.url("/proxy.pac")));
    direct->setTimeOutSeconds(120);
    direct->startAsynchronous();
    ASSERT_TRUE(waitFor(direct, 60));
    ASSERT_FALSE(direct->error()) << direct->error()->description();
    EXPECT_EQ(direct->responseStatusCode(), 200);
}
