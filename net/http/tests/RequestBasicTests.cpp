// Synchronous and asynchronous requests against a loopback server: bodies,
// callbacks on the main thread and their order, errors, cancel, time-outs.
#include "net/http/tests/RequestTestSupport.h"

#include "net/http/BandwidthThrottle.h"
#include "net/http/NetworkQueue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Exception.h"
#include "platform/network/HTTPCookie.h"
#include "testsupport/Certificates.h"
#include "testsupport/Checked.h"
#include "testsupport/PeerRequirement.h"
#include "testsupport/RefusingPort.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

using namespace httptest;
using http::HTTPRequest;
using testsupport::must;

namespace {

testsupport::Server echoServer() {
    return testsupport::Server([](testsupport::Conn& c) {
        while (auto r = c.readRequest()) {
            std::string body = r->method + " " + r->target + " " + r->body;
            if (!c.respond(200, body, "Content-Type: text/plain; charset=utf-8\r\nX-Twice: a\r\nx-twice: b\r\n")) return;
        }
    });
}

}  // namespace

TEST(RequestBasic, EverySettingHasItsDefaultWithNothingElseSet) {
    auto r = HTTPRequest::requestWithURL(url("http://127.0.0.1:1/"));
    const std::pair<const char*, bool> flags[] = {
        {"shouldRedirect", r->shouldRedirect()},
        {"!shouldUseRFC2616RedirectBehaviour", !r->shouldUseRFC2616RedirectBehaviour()},
        {"useCookiePersistence", r->useCookiePersistence()},
        {"useSessionPersistence", r->useSessionPersistence()},
        {"!useKeychainPersistence", !r->useKeychainPersistence()},
        {"shouldPresentCredentialsBeforeChallenge", r->shouldPresentCredentialsBeforeChallenge()},
        {"!shouldPresentAuthenticationDialog", !r->shouldPresentAuthenticationDialog()},
        {"shouldPresentProxyAuthenticationDialog", r->shouldPresentProxyAuthenticationDialog()},
        {"validatesSecureCertificate", r->validatesSecureCertificate()},
        {"!useHTTPVersionOne", !r->useHTTPVersionOne()},
        {"shouldAttemptPersistentConnection", r->shouldAttemptPersistentConnection()},
        {"allowCompressedResponse", r->allowCompressedResponse()},
        {"shouldWaitToInflateCompressedResponses", r->shouldWaitToInflateCompressedResponses()},
        {"!shouldCompressRequestBody", !r->shouldCompressRequestBody()},
        {"!shouldStreamPostDataFromDisk", !r->shouldStreamPostDataFromDisk()},
        {"!allowResumeForFileDownloads", !r->allowResumeForFileDownloads()},
        {"showAccurateProgress", r->showAccurateProgress()},
        {"shouldResetUploadProgress", r->shouldResetUploadProgress()},
        {"shouldResetDownloadProgress", r->shouldResetDownloadProgress()}};
    for (const auto& [name, holds] : flags) EXPECT_TRUE(holds) << name;
    EXPECT_EQ(r->requestMethod(), "GET");
    EXPECT_EQ(r->timeOutSeconds(), HTTPRequest::defaultTimeOutSeconds());
    EXPECT_EQ(HTTPRequest::defaultTimeOutSeconds(), 10.0);
    EXPECT_EQ(r->numberOfTimesToRetryOnTimeout(), 0);
    EXPECT_EQ(r->persistentConnectionTimeoutSeconds(), 60.0);
    EXPECT_EQ(r->maxResponseDataLength(), uint64_t(64) << 20);
    EXPECT_EQ(r->maxInflatedLength(), uint64_t(1) << 30);
    EXPECT_EQ(r->cachePolicy(), 0u);
    EXPECT_EQ(r->cacheStoragePolicy(), 0);
    EXPECT_EQ(r->secondsToCache(), 0.0);
    EXPECT_EQ(r->defaultResponseEncoding(), "iso-8859-1");
    EXPECT_EQ(r->userAgent(), "");
}

TEST(RequestBasic, SynchronousGetReadsStatusHeadersAndBody) {
    auto server = echoServer();
    auto r = HTTPRequest::requestWithURL(url(server.url("/hello?x=1")));
    startSynchronous(r);
    ASSERT_FALSE(r->error()) << r->error()->description();
    EXPECT_EQ(r->responseStatusCode(), 200);
    EXPECT_EQ(r->responseStatusMessage(), "HTTP/1.1 200 OK");
    EXPECT_EQ(text(r), "GET /hello?x=1 ");
    EXPECT_EQ(r->responseEncoding(), "utf-8");
    EXPECT_EQ(r->contentLength(), 15u);
    // The header dictionary, asked for after the end: one entry per name,
    // repeated fields joined.
    auto headers = r->responseHeaders();
    ASSERT_TRUE(headers);
    EXPECT_EQ(must<ns::Object>(headers->objectForKey("Content-Length"))->description(), "15");
    EXPECT_EQ(must<ns::Object>(headers->objectForKey("X-Twice"))->description(), "a, b");
    EXPECT_EQ(r->responseHeaders().get(), headers.get());
    EXPECT_FALSE(r->isResponseCompressed());
    EXPECT_TRUE(r->complete());
    EXPECT_TRUE(r->isFinished());
    EXPECT_FALSE(r->isExecuting());
}

TEST(RequestBasic, SynchronousPostSendsBodyWithLengthAndGetWithBodyBecomesPost) {
    testsupport::Server server(
        testsupport::Server::eachRequest([](const testsupport::Request&) { return testsupport::Server::reply(200, "ok"); }));
    auto r = HTTPRequest::requestWithURL(url(server.url("/post")));
    r->appendPostData(*ns::Data::make("name=Ann&age=42"));
    startSynchronous(r);
    ASSERT_FALSE(r->error());
    auto seen = server.requests().back();
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.header("Content-Length"), "15");
    EXPECT_EQ(seen.body, "name=Ann&age=42");
    EXPECT_EQ(r->requestMethod(), "POST");
    EXPECT_EQ(r->postLength(), 15u);

    // A value with a line break at any place (of a word of eight too)
    // fails the POST before anything is sent.
    for (size_t at : {0u, 7u, 8u, 9u, 15u, 16u}) {
        SCOPED_TRACE(at);
        std::string value(16, 'v');
        value.insert(at, "\r\nX-Injected: " + std::to_string(at));
        auto injecting = HTTPRequest::requestWithURL(url(server.url("/post")));
        injecting->appendPostData(*ns::Data::make("body"));
        injecting->addRequestHeader("X-Value", value);
        startSynchronous(injecting);
        ASSERT_TRUE(injecting->error());
        EXPECT_EQ(injecting->error()->code(), 5);
        EXPECT_EQ(server.requestCount(), 1u);
    }

    // The length counts bytes of non-ASCII text; a header set again under
    // another spelling is sent once, with the later value.
    auto other = HTTPRequest::requestWithURL(url(server.url("/post")));
    other->appendPostData(*ns::Data::make("\xC3\x85sa \xE2\x82\xAC \xF0\x9F\x98\x80"));
    other->addRequestHeader("X-Custom", "1");
    other->addRequestHeader("x-CUSTOM", "2");
    startSynchronous(other);
    ASSERT_FALSE(other->error());
    ASSERT_EQ(server.requestCount(), 2u);
    seen = server.requests().back();
    EXPECT_EQ(seen.header("Content-Length"), "13");
    EXPECT_EQ(seen.body.size(), 13u);
    size_t custom = 0;
    for (const auto& [name, value] : seen.headers) custom += name == "x-CUSTOM" || name == "X-Custom";
    EXPECT_EQ(custom, 1u);
    EXPECT_EQ(seen.header("X-Custom"), "2");
    EXPECT_FALSE(seen.has("X-Injected"));
    auto kept = other->requestHeaders();
    ASSERT_TRUE(kept);
    EXPECT_FALSE(kept->objectForKey("X-Custom"));
    EXPECT_EQ(must<ns::String>(kept->objectForKey("x-CUSTOM"))->utf8(), "2");
}

TEST(RequestBasic, AsynchronousCallbacksArriveOnMainThreadInOrder) {
    auto server = echoServer();
    auto d = ns::make<RecordingDelegate>();
    auto r = HTTPRequest::requestWithURL(url(server.url("/async")));
    r->setDelegate(d.get());
    std::vector<std::string> blocks;
    r->setStartedBlock([&] { blocks.push_back("started"); });
    r->setHeadersReceivedBlock([&](ns::Ref<ns::Dictionary>) { blocks.push_back("headers"); });
    r->setCompletionBlock([&] { blocks.push_back("finished:" + std::to_string(ns::RunLoop::isMainThread())); });
    r->startAsynchronous();
    ASSERT_TRUE(waitFor(r));
    drainMain();
    EXPECT_EQ(d->joined(), "started,headers,finished");
    EXPECT_FALSE(d->offMain);
    EXPECT_TRUE(HTTPRequest::threadForRequest(r.get())->isExecuting());
    EXPECT_NE(HTTPRequest::threadForRequest(r.get())->runLoop().get(), ns::RunLoop::main().get());
    EXPECT_EQ(blocks, (std::vector<std::string>{"started", "headers", "finished:1"}));
    EXPECT_EQ(text(r), "GET /async ");

    // Blocks alone, with no delegate or queue, hear every report too, and
    // the headers block gets the whole header dictionary.
    blocks.clear();
    ns::Ref<ns::Dictionary> heard;
    auto alone = HTTPRequest::requestWithURL(url(server.url("/blocks")));
    alone->setStartedBlock([&] { blocks.push_back("started"); });
    alone->setHeadersReceivedBlock([&](ns::Ref<ns::Dictionary> h) { heard = h; });
    alone->setCompletionBlock([&] { blocks.push_back("finished"); });
    alone->startAsynchronous();
    ASSERT_TRUE(waitFor(alone));
    drainMain();
    EXPECT_EQ(blocks, (std::vector<std::string>{"started", "finished"}));
    ASSERT_TRUE(heard);
    EXPECT_EQ(must<ns::Object>(heard->objectForKey("Content-Type"))->description(), "text/plain; charset=utf-8");
    EXPECT_EQ(heard.get(), alone->responseHeaders().get());
}

TEST(RequestBasic, DataGoesToTheDelegateInsteadOfMemory) {
    testsupport::Server server([](testsupport::Conn& c) {
        if (auto r = c.readRequest()) c.respond(200, std::string(100000, 'z'));
    });
    auto d = ns::make<RecordingDelegate>();
    d->takeData = true;
    auto r = HTTPRequest::requestWithURL(url(server.url("/big")));
    r->setDelegate(d.get());
    r->startAsynchronous();
    ASSERT_TRUE(waitFor(r));
    drainMain();
    EXPECT_EQ(d->data.size(), 100000u);
    EXPECT_EQ(must<ns::Data>(r->rawResponseData())->length(), 0u);
}

TEST(RequestBasic, MissingOrBadURLFailsWithCode5AndFinishes) {
    auto r = HTTPRequest::requestWithURL(nullptr);
    startSynchronous(r);
    ASSERT_TRUE(r->error());
    EXPECT_EQ(r->error()->code(), 5);
    EXPECT_EQ(r->error()->localizedDescription(), "Unable to create request (bad url?)");
    EXPECT_TRUE(r->isFinished());

    auto f = HTTPRequest::requestWithURL(url("ftp://example.invalid/x"));
    startSynchronous(f);
    ASSERT_TRUE(f->error());
    EXPECT_EQ(f->error()->code(), 5);
}

TEST(RequestBasic, MethodOrHeaderFieldThatIsNotValidHTTPFailsBeforeAnythingIsSent) {
    testsupport::Server server(testsupport::Server::eachRequest([](const testsupport::Request& r) {
        return r.target == "/digest" && !r.has("Authorization")
                   ? testsupport::Server::reply(401, "", "WWW-Authenticate: Digest realm=\"r\", nonce=\"n1\", qop=\"auth\"\r\n")
                   : testsupport::Server::reply(200, r.method + " " + r.target);
    }));
    struct Row {
        const char* name;
        std::function<void(HTTPRequest&)> setUp;
        std::string path;
        // "" when the request goes through; else the text of the code-5 error.
        std::string refusal;
    };
    const std::string bad = "Unable to create request: ";
    const std::vector<Row> rows = {
        {"method writing a field of its own",
         [](HTTPRequest& r) { r.setRequestMethod("GET /echo HTTP/1.1\r\nX-Injected: 1\r\nX-Pad:"); }, "/echo",
         bad + "the method \"GET /echo HTTP/1.1\\r\\nX-Injected: 1\\r\\nX-Pad:\" is not an HTTP token"},
        {"method changing the target", [](HTTPRequest& r) { r.setRequestMethod("GET /other"); }, "/echo",
         bad + "the method \"GET /other\" is not an HTTP token"},
        {"empty method", [](HTTPRequest& r) { r.setRequestMethod(""); }, "/echo",
         bad + "the method \"\" is not an HTTP token"},
        {"method with a NUL", [](HTTPRequest& r) { r.setRequestMethod(std::string("GET\0X", 5)); }, "/echo",
         bad + "the method \"GET\\x00X\" is not an HTTP token"},
        {"method of every token character",
         [](HTTPRequest& r) { r.setRequestMethod("M-SEARCH.v1!#$%&'*+^_`|~09az"); }, "/echo", ""},
        {"value with CR LF", [](HTTPRequest& r) { r.addRequestHeader("X-Note", "a\r\nX-Injected: 1"); }, "/echo",
         bad + "the value of the header field \"X-Note\" holds a CR, LF or NUL character"},
        {"value with a lone LF", [](HTTPRequest& r) { r.addRequestHeader("X-Note", "a\nb"); }, "/echo",
         bad + "the value of the header field \"X-Note\" holds a CR, LF or NUL character"},
        {"value with a lone CR", [](HTTPRequest& r) { r.addRequestHeader("X-Note", "a\rb"); }, "/echo",
         bad + "the value of the header field \"X-Note\" holds a CR, LF or NUL character"},
        {"value with a NUL", [](HTTPRequest& r) { r.addRequestHeader("X-Note", std::string("a\0b", 3)); }, "/echo",
         bad + "the value of the header field \"X-Note\" holds a CR, LF or NUL character"},
        {"value with a tab and non-ASCII text", [](HTTPRequest& r) { r.addRequestHeader("X-Note", "a\tb \xc3\xa9"); },
         "/echo", ""},
        {"name with a blank", [](HTTPRequest& r) { r.addRequestHeader("X Note", "1"); }, "/echo",
         bad + "the header field name \"X Note\" is not an HTTP token"},
        {"name with a colon", [](HTTPRequest& r) { r.addRequestHeader("X:Note", "1"); }, "/echo",
         bad + "the header field name \"X:Note\" is not an HTTP token"},
        {"name with a line break", [](HTTPRequest& r) { r.addRequestHeader("X-Injected: 1\r\nX-Note", "1"); },
         "/echo", bad + "the header field name \"X-Injected: 1\\r\\nX-Note\" is not an HTTP token"},
        {"empty name", [](HTTPRequest& r) { r.addRequestHeader("", "1"); }, "/echo",
         bad + "the header field name \"\" is not an HTTP token"},
        {"user agent", [](HTTPRequest& r) { r.setUserAgent("Deck 1.0\r\nX-Injected: 1"); }, "/echo",
         bad + "the value of the header field \"User-Agent\" holds a CR, LF or NUL character"},
        {"cookie",
         [](HTTPRequest& r) {
             r.setUseCookiePersistence(false);
             r.setRequestCookies({net::HTTPCookie::make("c", "1\r\nX-Injected: 1", "127.0.0.1")});
         },
         "/echo", bad + "the value of the header field \"Cookie\" holds a CR, LF or NUL character"},
        // A stored token with a ";" would read as a cookie of its own.
        {"cookie that reads as two",
         [](HTTPRequest& r) {
             r.setUseCookiePersistence(false);
             r.setRequestCookies({net::HTTPCookie::make("ok", "1", "127.0.0.1"),
                                  net::HTTPCookie::make("session", "secret; admin=1", "127.0.0.1")});
         },
         "/echo", bad + "the value of the cookie \"session\" holds a \";\""},
        {"cookie name with an equals sign",
         [](HTTPRequest& r) {
             r.setUseCookiePersistence(false);
             r.setRequestCookies({net::HTTPCookie::make("admin=1; x", "secret", "127.0.0.1")});
         },
         "/echo", bad + "the name of the cookie \"admin=1; x\" holds a \";\" or \"=\""},
        {"credentials set as a field", [](HTTPRequest& r) { r.addRequestHeader("Authorization", "Basic x\ny"); },
         "/echo", bad + "the value of the header field \"Authorization\" holds a CR, LF or NUL character"},
        {"credentials answering a challenge",
         [](HTTPRequest& r) {
             r.setUsername(std::string("user\0X", 6));
             r.setPassword("secret");
         },
         "/digest", bad + "the value of the header field \"Authorization\" holds a CR, LF or NUL character"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        server.clearRequests();
        auto r = HTTPRequest::requestWithURL(url(server.url(row.path)));
        r->setUseSessionPersistence(false);
        row.setUp(*r);
        startSynchronous(r);
        EXPECT_TRUE(r->isFinished());
        const auto seen = server.requests();
        if (row.refusal.empty()) {
            ASSERT_FALSE(r->error()) << r->error()->description();
            ASSERT_EQ(seen.size(), 1u);
            EXPECT_EQ(seen[0].target, row.path);
            EXPECT_FALSE(seen[0].has("X-Injected"));
            continue;
        }
        ASSERT_TRUE(r->error());
        EXPECT_EQ(r->error()->code(), 5);
        EXPECT_EQ(r->error()->localizedDescription(), row.refusal);
        // Nothing of it reached the server (a challenge answered first is
        // the only request seen), and the secret is never shown.
        EXPECT_EQ(seen.size(), row.path == "/digest" ? 1u : 0u);
        for (const auto& req : seen) EXPECT_FALSE(req.has("X-Injected"));
        EXPECT_EQ(r->error()->description().find("secret"), std::string::npos);
        EXPECT_EQ(r->responseStatusCode(), row.path == "/digest" ? 401 : 0);
    }
}

TEST(RequestBasic, ErrorSetBeforeStartEndsAsFinishedWithoutConnecting) {
    auto server = echoServer();
    auto r = HTTPRequest::requestWithURL(url(server.url("/")));
    r->setError(ns::Error::withDescription("x", 1, "earlier"));
    startSynchronous(r);
    EXPECT_TRUE(r->isFinished());
    EXPECT_EQ(server.connections(), 0);
}

TEST(RequestBasic, RefusedConnectionIsCode1) {
    testsupport::RefusingPort closed;
    auto d = ns::make<RecordingDelegate>();
    auto r = HTTPRequest::requestWithURL(url(closed.url("/")));
    r->setDelegate(d.get());
    r->startAsynchronous();
    ASSERT_TRUE(waitFor(r));
    drainMain();
    ASSERT_TRUE(r->error());
    EXPECT_EQ(r->error()->code(), 1);
    EXPECT_EQ(r->error()->localizedDescription(), "A connection failure occurred");
    EXPECT_TRUE(r->error()->userInfo()->objectForKey(ns::kUnderlyingErrorKey));
    EXPECT_EQ(d->count("failed"), 1u);
}

TEST(RequestBasic, CancelReportsCode4OnceAndCancellingAgainDoesNothing) {
    std::atomic<bool> release{false}, releaseHalf{false};
    testsupport::Server server([&](testsupport::Conn& c) {
        if (auto r = c.readRequest()) {
            const bool half = r->target == "/half";
            if (half) c.write("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhalf");
            waitForRelease(half ? releaseHalf : release);
        }
    });
    auto d = ns::make<RecordingDelegate>();
    auto r = HTTPRequest::requestWithURL(url(server.url("/slow")));
    r->setDelegate(d.get());
    r->startAsynchronous();
    ASSERT_TRUE(waitUntil([&] { return server.connections() == 1; }));
    r->cancel();
    ASSERT_TRUE(waitFor(r));
    r->cancel();
    drainMain();
    release = true;
    ASSERT_TRUE(r->error());
    EXPECT_EQ(r->error()->code(), 4);
    EXPECT_EQ(r->error()->localizedDescription(), "The request was cancelled");
    EXPECT_TRUE(r->isCancelled());
    EXPECT_EQ(d->count("failed"), 1u);

    // Cancelled before it starts, on this thread or by another thread whose
    // cancel has returned: a synchronous start then runs nothing and returns
    // only once the request has ended, cancelled with code 4; the one
    // failure reported is the cancel. The cancel's step runs on the network
    // thread, so each way is tried many times.
    struct EarlyRow {
        const char* name;
        bool cancelOnAnotherThread;
    };
    constexpr int kEarlyRounds = 200;
    for (const EarlyRow& row : {EarlyRow{"cancelled on this thread", false},
                                EarlyRow{"cancelled by another thread", true}}) {
        auto e = ns::make<RecordingDelegate>();
        int notCancelled = 0, wrongError = 0;
        for (int round = 0; round < kEarlyRounds; ++round) {
            auto early = HTTPRequest::requestWithURL(url(server.url("/early")));
            early->setDelegate(e.get());
            if (row.cancelOnAnotherThread)
                std::thread([&] { early->cancel(); }).join();
            else
                early->cancel();
            startSynchronous(early);
            notCancelled += !early->isCancelled();
            wrongError += !early->error() || early->error()->code() != 4;
        }
        drainMain();
        EXPECT_EQ(notCancelled, 0) << row.name;
        EXPECT_EQ(wrongError, 0) << row.name;
        EXPECT_EQ(e->count("failed"), static_cast<size_t>(kEarlyRounds)) << row.name;
        EXPECT_EQ(e->events.size(), static_cast<size_t>(kEarlyRounds)) << row.name;
    }
    EXPECT_EQ(server.connections(), 1);

    // A cancel asked for inside a callback of a synchronous request waits
    // for the loop's next turn: the step that called back finishes first,
    // then the request ends cancelled.
    auto sync = HTTPRequest::requestWithURL(url(server.url("/half")));
    auto s = ns::make<RecordingDelegate>();
    bool endedInside = true;
    s->onHeaders = [&](HTTPRequest* q) {
        q->cancel();
        endedInside = q->complete() || q->error();
    };
    sync->setDelegate(s.get());
    startSynchronous(sync);
    releaseHalf = true;
    EXPECT_FALSE(endedInside);
    ASSERT_TRUE(sync->error());
    EXPECT_EQ(sync->error()->code(), 4);
    EXPECT_EQ(s->joined(), "started,headers,failed");
}

// A main-thread callback (here a synchronous request's progress block) that
// starts an asynchronous request, or cancels one, and then waits for its end
// without returning to the loop sees it end: handing a request to the
// network thread wakes that thread at once. Rows: waiting by polling
// isFinished(), by a condition variable of its own signalled when the
// operation finishes, and for a cancel of a request the server holds.
TEST(RequestBasic, AMainThreadCallbackMayWaitForAnAsynchronousRequestItHandsOver) {
    std::atomic<bool> release{false};
    testsupport::Server server([&](testsupport::Conn& c) {
        while (auto r = c.readRequest()) {
            if (r->target == "/held") {
                waitForRelease(release);
                return;
            }
            if (!c.respond(200, r->target == "/outer" ? std::string(1000, 'o') : "inner")) return;
        }
    });
    struct Release {
        std::atomic<bool>& flag;
        ~Release() { flag = true; }
    } releaseOnExit{release};
    // The network thread is running, and idle: on a manual clock no timer of
    // its own (a status check left armed) wakes it meanwhile.
    auto warm = HTTPRequest::requestWithURL(url(server.url("/warm")));
    warm->startAsynchronous();
    ASSERT_TRUE(waitFor(warm));
    drainMain();
    auto network = HTTPRequest::networkRunLoop();
    network->setClock(ns::make<ns::ManualClock>());
    struct SystemClockAtEnd {
        ns::Ref<ns::RunLoop> loop;
        ~SystemClockAtEnd() { loop->setClock(nullptr); }
    } restore{network};

    enum class Wait { PollIsFinished, OwnConditionVariable, CancelThenPoll };
    const std::pair<const char*, Wait> rows[] = {
        {"polling isFinished()", Wait::PollIsFinished},
        {"its own condition variable", Wait::OwnConditionVariable},
        {"a cancel, polling isFinished()", Wait::CancelThenPoll},
    };
    for (const auto& [name, wait] : rows) {
        SCOPED_TRACE(name);
        ns::Ref<HTTPRequest> inner;
        bool called = false, sawEnd = false, sawStart = false;
        auto outer = HTTPRequest::requestWithURL(url(server.url("/outer")));
        outer->setBytesReceivedBlock([&](int64_t, uint64_t) {
            if (std::exchange(called, true)) return;
            const bool cancels = wait == Wait::CancelThenPoll;
            inner = HTTPRequest::requestWithURL(url(server.url(cancels ? "/held" : "/inner")));
            // Shared with the operation's completion block, which may run
            // after this callback gave up waiting.
            struct Ended {
                std::mutex m;
                std::condition_variable cv;
                bool done = false;
            };
            auto ended = std::make_shared<Ended>();
            inner->ns::Operation::setCompletionBlock([ended] {
                std::lock_guard<std::mutex> g(ended->m);
                ended->done = true;
                ended->cv.notify_all();
            });
            const size_t seenBefore = server.requestCount();
            inner->startAsynchronous();
            if (cancels) {
                sawStart = waitForRelease([&] { return server.requestCount() > seenBefore; });
                inner->cancel();
            }
            if (wait == Wait::OwnConditionVariable) {
                std::unique_lock<std::mutex> lock(ended->m);
                sawEnd = ended->cv.wait_for(lock, std::chrono::seconds(30), [&] { return ended->done; });
            } else {
                sawEnd = waitForRelease([&] { return inner->isFinished(); });
            }
            if (!cancels) sawStart = server.requestCount() > seenBefore;
        });
        startSynchronous(outer, 120);
        ASSERT_FALSE(outer->error()) << outer->error()->description();
        ASSERT_TRUE(called);
        EXPECT_TRUE(sawStart);
        EXPECT_TRUE(sawEnd);
        ASSERT_TRUE(waitFor(inner));
        if (wait == Wait::CancelThenPoll) {
            ASSERT_TRUE(inner->error());
            EXPECT_EQ(inner->error()->code(), 4);
        } else {
            ASSERT_FALSE(inner->error()) << inner->error()->description();
            EXPECT_EQ(text(inner), "inner");
        }
        drainMain();
    }
}

namespace {

// A request that records the state-change notices it sends, with the state
// its accessors answer at each notice.
class NoticeRecordingRequest : public HTTPRequest {
public:
    using HTTPRequest::HTTPRequest;
    void willChangeValueForKey(const std::string& key) override {
        note("will " + key);
        HTTPRequest::willChangeValueForKey(key);
    }
    void didChangeValueForKey(const std::string& key) override {
        note("did " + key);
        HTTPRequest::didChangeValueForKey(key);
    }
    std::string joined() {
        std::lock_guard<std::mutex> g(mutex_);
        std::string all;
        for (auto& n : notices_) all += (all.empty() ? "" : ",") + n;
        return all;
    }

private:
    void note(const std::string& what) {
        std::lock_guard<std::mutex> g(mutex_);
        notices_.push_back(what + "(" + (isExecuting() ? "E" : "") + (isFinished() ? "F" : "") + (isCancelled() ? "C" : "") + ")");
    }
    std::mutex mutex_;
    std::vector<std::string> notices_;
};

}  // namespace

TEST(RequestBasic, StateChangeNoticesComeInPairsAroundEveryChange) {
    testsupport::Server server([](const testsupport::Request& r) -> std::optional<std::string> {
        if (r.target == "/silent") return std::nullopt;
        return testsupport::Server::reply(200, "ok");
    });
    const std::string ran = "will isExecuting(),did isExecuting(E),"
                            "will isFinished(E),will isExecuting(E),did isExecuting(F),did isFinished(F)";
    const std::string cancelled = "will isExecuting(),did isExecuting(E),will isCancelled(E),did isCancelled(EC),"
                                  "will isFinished(EC),will isExecuting(EC),did isExecuting(FC),did isFinished(FC)";
    struct Row {
        const char* name;
        const char* path;
        bool synchronous;
        bool cancel;
        const std::string& notices;
    };
    const Row rows[] = {{"synchronous", "/ok", true, false, ran},
                        {"asynchronous", "/ok", false, false, ran},
                        {"cancelled while it runs", "/silent", false, true, cancelled}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto r = ns::make<NoticeRecordingRequest>(url(server.url(row.path)));
        if (row.synchronous) {
            startSynchronous(r);
        } else {
            r->startAsynchronous();
            if (row.cancel) {
                ASSERT_TRUE(waitUntil([&] {
                    auto seen = server.requests();
                    return !seen.empty() && seen.back().target == "/silent";
                }));
                r->cancel();
            }
            // isFinished() answers true before the last notices are sent.
            ASSERT_TRUE(waitUntil([&] { return r->joined().find("did isFinished") != std::string::npos; }));
        }
        EXPECT_EQ(r->joined(), row.notices);
        EXPECT_EQ(!r->error(), !row.cancel);
    }
}

TEST(RequestBasic, CancellingOrStartingACompletedRequestChangesNothing) {
    testsupport::Server server([](const testsupport::Request&) -> std::optional<std::string> {
        return testsupport::Server::reply(200, "once");
    });
    auto r = HTTPRequest::requestWithURL(url(server.url("/")));
    startSynchronous(r);
    r->cancel();
    drainMain();
    waitUntil([] { return false; }, 0.1);
    EXPECT_FALSE(r->error());
    EXPECT_FALSE(r->isCancelled());
    // Started again synchronously, a completed request sends nothing.
    startSynchronous(r);
    EXPECT_TRUE(r->complete());
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(text(r), "once");
}

TEST(RequestBasic, SilentServerTimesOutAfterRetries) {
    std::atomic<bool> release{false};
    // Silent for ten seconds at most: a request that is never timed out
    // then fails with another code instead of waiting for ever.
    std::atomic<int> stallsSeen{0};
    testsupport::Server server([&](testsupport::Conn& c) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        auto r = c.readRequest();
        if (r && r->target == "/stalls-once") {
            if (++stallsSeen > 1 || !c.write("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nfirst bits")) {
                c.respond(200, std::string(1000, 'w'));
                return;
            }
        }
        if (r)
            while (!release && std::chrono::steady_clock::now() < giveUp)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    // Lets the server's connections end however the test ends.
    struct ReleaseAtEnd {
        std::atomic<bool>& flag;
        ~ReleaseAtEnd() { flag = true; }
    } releaseAtEnd{release};
    auto d = ns::make<RecordingDelegate>();
    auto r = HTTPRequest::requestWithURL(url(server.url("/silent")));
    r->setTimeOutSeconds(0.2);
    r->setNumberOfTimesToRetryOnTimeout(2);
    r->setDelegate(d.get());
    r->startAsynchronous();
    ASSERT_TRUE(waitFor(r));
    drainMain();
    ASSERT_TRUE(r->error());
    EXPECT_EQ(r->error()->code(), 2);
    EXPECT_EQ(r->error()->localizedDescription(), "The request timed out");
    EXPECT_EQ(r->retryCount(), 2);
    EXPECT_EQ(d->count("started"), 3u);
    EXPECT_EQ(d->count("failed"), 1u);

    // A retry after the headers came takes back the size they announced.
    int64_t size = 0;
    auto stalls = HTTPRequest::requestWithURL(url(server.url("/stalls-once")));
    stalls->setTimeOutSeconds(0.2);
    stalls->setNumberOfTimesToRetryOnTimeout(1);
    stalls->setDownloadSizeIncrementedBlock([&](int64_t amount) { size += amount; });
    startSynchronous(stalls);
    drainMain();
    ASSERT_FALSE(stalls->error()) << stalls->error()->description();
    EXPECT_EQ(stalls->retryCount(), 1);
    EXPECT_EQ(size, 1000);

    // Synchronous requests are checked by their own thread's loop, one after
    // the other: the second is checked as the first was, after the first
    // one's checks ended.
    for (int i = 0; i < 2; ++i) {
        auto s = HTTPRequest::requestWithURL(url(server.url("/silent-sync")));
        s->setTimeOutSeconds(0.2);
        startSynchronous(s);
        ASSERT_TRUE(s->error()) << i;
        EXPECT_EQ(s->error()->code(), 2) << i;
    }
}

TEST(RequestBasic, AnswerArrivingSteadilyIsNotTimedOutHeadIncluded) {
    // One byte every 100 ms, the head as much as the body, against a 2 s
    // time-out: the head alone takes almost four seconds.
    const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
    testsupport::Server server([&](testsupport::Conn& c) {
        if (!c.readRequest()) return;
        for (char byte : answer) {
            if (!c.write(std::string(1, byte))) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    auto r = HTTPRequest::requestWithURL(url(server.url("/slow")));
    r->setTimeOutSeconds(2);
    startSynchronous(r);
    ASSERT_FALSE(r->error()) << r->error()->description();
    EXPECT_EQ(r->responseStatusCode(), 200);
    EXPECT_EQ(text(r), "ok");
    EXPECT_EQ(r->retryCount(), 0);
}

TEST(RequestBasic, ClearDelegatesAndCancelStopsLaterCallbacks) {
    std::atomic<bool> release{false};
    testsupport::Server server([&](testsupport::Conn& c) {
        if (c.readRequest())
            waitForRelease(release);
    });
    auto d = ns::make<RecordingDelegate>();
    bool failedBlock = false;
    auto r = HTTPRequest::requestWithURL(url(server.url("/")));
    r->setDelegate(d.get());
    r->setFailedBlock([&] { failedBlock = true; });
    r->startAsynchronous();
    ASSERT_TRUE(waitUntil([&] { return server.connections() == 1; }));
    r->clearDelegatesAndCancel();
    ASSERT_TRUE(waitFor(r));
    drainMain();
    release = true;
    EXPECT_EQ(d->count("failed"), 0u);
    EXPECT_FALSE(failedBlock);
    ASSERT_TRUE(r->error());
    EXPECT_EQ(r->error()->code(), 4);
}

TEST(RequestBasic, StoppingTheNetworkThreadCancelsItsRequestsQuietlyAndALaterStartStartsAnother) {
    // What an app ending does: a request waiting for its answer, three
    // waiting in the shared queue behind it, two more in a queue of its own
    // (one running, one waiting) and a timer on the network thread. None is
    // heard of again, none waiting is ever started (the server sees only
    // the two running ones), each has ended, cancelled, when the stop
    // returns, the thread has let go of all it held, and the next request
    // gets a new thread. The waiting ones' turn comes while the stop
    // cancels the running ones, so the rounds repeat that race.
    constexpr int kRounds = 12;
    constexpr int kWaiting = 3;
    auto server = echoServer();
    auto queue = HTTPRequest::sharedQueue();
    const int width = queue->maxConcurrentOperationCount();
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::atomic<bool> release{false};
        testsupport::Server silent([&](testsupport::Conn& c) {
            if (c.readRequest()) waitForRelease(release);
        });
        struct Release {
            std::atomic<bool>& flag;
            ~Release() { flag = true; }
        } releaseOnExit{release};
        queue->setMaxConcurrentOperationCount(1);
        auto d = ns::make<RecordingDelegate>();
        bool blockCalled = false;
        std::vector<ns::Ref<HTTPRequest>> all;
        auto make = [&](const std::string& path) {
            auto r = HTTPRequest::requestWithURL(url(silent.url(path)));
            r->setDelegate(d.get());
            r->setFailedBlock([&] { blockCalled = true; });
            r->setCompletionBlock([&] { blockCalled = true; });
            all.push_back(r);
            return r;
        };
        make("/running")->startAsynchronous();
        for (int i = 0; i < kWaiting; ++i) make("/waiting" + std::to_string(i))->startAsynchronous();
        // One more waits in the shared queue for an operation that never
        // ends by itself: no request's end ever starts it.
        auto gate = ns::BlockOperation::make([] {});
        auto blocked = make("/blocked");
        blocked->addDependency(gate);
        blocked->startAsynchronous();
        auto own = http::NetworkQueue::queue();
        own->setMaxConcurrentOperationCount(1);
        own->addOperation(make("/own-running"));
        auto ownWaiting = make("/own-waiting");
        own->addOperation(ownWaiting);
        own->go();
        // Cancels asked for while the stop ends what it held back (here
        // when the queue's waiting request ends) go to the ended thread and
        // are dropped there; a later start of either request still ends
        // it, cancelled, without sending it.
        auto lateSync = HTTPRequest::requestWithURL(url(silent.url("/late-sync")));
        auto lateAsync = HTTPRequest::requestWithURL(url(silent.url("/late-async")));
        // So does a request cancelled before the stop, whose cancel ran on
        // the thread the stop ends.
        auto cancelledFirst = HTTPRequest::requestWithURL(url(silent.url("/cancelled-first")));
        cancelledFirst->cancel();
        ASSERT_TRUE(waitUntil([&] { return cancelledFirst->isCancelled(); }));
        // Until then the network loop is the ended one: nothing the stop's
        // ends set off makes a new thread.
        std::atomic<bool> endedLoopMeanwhile{false};
        ownWaiting->ns::Operation::setCompletionBlock([lateSync, lateAsync, &endedLoopMeanwhile] {
            endedLoopMeanwhile = HTTPRequest::networkRunLoop()->isFinished();
            lateSync->cancel();
            lateAsync->cancel();
        });
        ASSERT_TRUE(waitUntil([&] { return silent.connections() == 2; }));
        drainMain();  // what was told before the stop
        const auto toldBefore = d->events;
        // What the timer holds is let go on the network thread, slowly: it
        // gives the stop two seconds to return first, which it must not do.
        // (In the first round only: each costs those two seconds.)
        struct SlowToGo : ns::Object {
            std::atomic<bool>* stopReturned = nullptr;
            std::atomic<bool>* goneBeforeStopReturned = nullptr;
            ~SlowToGo() override {
                waitForRelease(*stopReturned, 2);
                *goneBeforeStopReturned = !stopReturned->load();
            }
        };
        std::atomic<bool> stopReturned{false}, goneBeforeStopReturned{round != 0};
        ns::Weak<ns::Object> held;
        if (round == 0) {
            auto timerHeld = ns::make<SlowToGo>();
            timerHeld->stopReturned = &stopReturned;
            timerHeld->goneBeforeStopReturned = &goneBeforeStopReturned;
            held = ns::Weak<ns::Object>(timerHeld.get());
            HTTPRequest::networkRunLoop()->performAfterDelay(3600, [timerHeld] {});
        }
        ns::Weak<ns::Thread> stopped(HTTPRequest::threadForRequest(nullptr).get());

        HTTPRequest::stopNetworkThread();
        stopReturned = true;
        EXPECT_TRUE(goneBeforeStopReturned);
        for (auto& r : all) EXPECT_TRUE(r->isFinished()) << r->url()->description();
        EXPECT_EQ(own->operationCount(), 0u);
        queue->setMaxConcurrentOperationCount(width);
        auto thread = stopped.lock();
        ASSERT_TRUE(thread);
        EXPECT_TRUE(thread->isFinished());
        EXPECT_TRUE(held.expired());
        drainMain();
        release = true;
        EXPECT_EQ(d->events, toldBefore);
        EXPECT_EQ(d->count("failed") + d->count("finished"), 0u);
        EXPECT_FALSE(blockCalled);
        for (auto& r : all) {
            EXPECT_TRUE(r->isCancelled()) << r->url()->description();
            ASSERT_TRUE(r->error()) << r->url()->description();
            EXPECT_EQ(r->error()->code(), 4);
        }
        EXPECT_EQ(own->requestsCount(), 0);
        EXPECT_TRUE(endedLoopMeanwhile);
        gate->start();
        startSynchronous(lateSync);
        lateAsync->startAsynchronous();
        cancelledFirst->startAsynchronous();
        ASSERT_TRUE(waitFor(lateAsync));
        ASSERT_TRUE(waitFor(cancelledFirst));
        for (auto& r : {lateSync, lateAsync, cancelledFirst}) {
            EXPECT_TRUE(r->isCancelled()) << r->url()->description();
            ASSERT_TRUE(r->error()) << r->url()->description();
            EXPECT_EQ(r->error()->code(), 4);
        }
        EXPECT_EQ(silent.connections(), 2);

        auto later = HTTPRequest::requestWithURL(url(server.url("/later")));
        later->startAsynchronous();
        ASSERT_TRUE(waitFor(later));
        EXPECT_FALSE(later->error());
        EXPECT_EQ(text(later), "GET /later ");
        EXPECT_NE(HTTPRequest::threadForRequest(nullptr), thread);
    }
}

namespace {
// A request whose body builder raises, as a faulty subclass might.
class ThrowingRequest : public HTTPRequest {
public:
    using HTTPRequest::HTTPRequest;
    void buildPostBody() override { throw ns::Exception("BodyTrouble", "the form could not be built"); }
};
}  // namespace

TEST(RequestBasic, ExceptionWhileBuildingTheBodyFailsWithCode10) {
    auto server = echoServer();
    auto r = ns::make<ThrowingRequest>(url(server.url("/")));
    startSynchronous(r);
    ASSERT_TRUE(r->error());
    EXPECT_EQ(r->error()->code(), 10);
    EXPECT_EQ(r->error()->localizedDescription(), "BodyTrouble");
    EXPECT_EQ(r->error()->localizedFailureReason(), "the form could not be built");
    auto* inner = ns::as<ns::Error>(r->error()->userInfo()->objectForKey(ns::kUnderlyingErrorKey));
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->code(), 10);
    EXPECT_TRUE(r->isFinished());
}

TEST(RequestBasic, CopyOfAFinishedRequestSendsTheSameRequestAgain) {
    testsupport::Server server(
        testsupport::Server::eachRequest([](const testsupport::Request&) { return testsupport::Server::reply(200, "ok"); }));
    auto r = HTTPRequest::requestWithURL(url(server.url("/put")));
    r->setRequestMethod("PUT");
    r->addRequestHeader("X-Thing", "42");
    r->appendPostData(*ns::Data::make("payload"));
    startSynchronous(r);
    auto again = r->copy();
    startSynchronous(again);
    ASSERT_FALSE(again->error());
    const auto seen = server.requests();
    ASSERT_EQ(seen.size(), 2u);
    for (auto& s : seen) {
        EXPECT_EQ(s.method, "PUT");
        EXPECT_EQ(s.header("X-Thing"), "42");
        EXPECT_EQ(s.body, "payload");
    }
}

TEST(RequestBasic, SelfSignedCertificateGivesTheSSLProblemTextUnlessValidationIsOff) {
    testsupport::Certificates certs;
    if (!certs.ok()) DECK_PEER_MISSING("openssl command not available");
    testsupport::Server server(
        [](testsupport::Conn& c) {
            while (auto r = c.readRequest())
                if (!c.respond(200, "secret")) return;
        },
        certs.path("self.pem"), certs.path("self.key"));
    auto r = HTTPRequest::requestWithURL(url(server.url("/")));
    startSynchronous(r);
    ASSERT_TRUE(r->error());
    EXPECT_EQ(r->error()->code(), 1);
    EXPECT_EQ(r->error()->localizedDescription(),
              "A connection failure occurred: SSL problem (Possible causes may include a bad/expired/self-signed "
              "certificate, clock set to wrong date)");

    auto lax = HTTPRequest::requestWithURL(url(server.url("/")));
    lax->setValidatesSecureCertificate(false);
    startSynchronous(lax);
    ASSERT_FALSE(lax->error()) << lax->error()->description();
    EXPECT_EQ(text(lax), "secret");
}

TEST(RequestBasic, ThrottledDownloadStillArrivesWhole) {
    std::string body(100000, 't');
    testsupport::Server server([&](testsupport::Conn& c) {
        if (c.readRequest()) c.respond(200, body);
    });
    HTTPRequest::setMaxBandwidthPerSecond(60000);
    auto r = HTTPRequest::requestWithURL(url(server.url("/")));
    r->startAsynchronous();
    bool done = waitFor(r);
    HTTPRequest::setMaxBandwidthPerSecond(0);
    ASSERT_TRUE(done);
    ASSERT_FALSE(r->error());
    EXPECT_EQ(must<ns::Data>(r->rawResponseData())->length(), body.size());
}

TEST(RequestBasic, ThrottledUploadLeavesAtTheLimitsPaceAndCountsOnce) {
    // The budget and the sending thread's loop run on a manual clock, so
    // what the server has received is held against the clock's time,
    // however fast or loaded the machine is.
    constexpr size_t kBody = 150000;
    constexpr double kLimit = 50000, kStart = 1000;
    auto clock = ns::make<ns::ManualClock>(kStart);
    std::atomic<size_t> received{0};
    std::atomic<double> lastByteAt{0};
    testsupport::Server server([&](testsupport::Conn& c) {
        std::string head;
        while (head.find("\r\n\r\n") == std::string::npos) {
            std::string byte = c.readExact(1);
            if (byte.empty()) return;
            head += byte;
        }
        char buf[4096];
        while (received < kBody) {
            long n = ::recv(c.fd(), buf, sizeof buf, 0);
            if (n <= 0) return;
            received += static_cast<size_t>(n);
        }
        lastByteAt = clock->now();
        c.respond(200, "stored");
    });
    http::BandwidthThrottle::shared().setClock(clock);
    HTTPRequest::setMaxBandwidthPerSecond(static_cast<uint64_t>(kLimit));
    auto r = HTTPRequest::requestWithURL(url(server.url("/upload")));
    r->setRequestMethod("PUT");
    r->appendPostData(*ns::Data::make(std::string(kBody, 'u')));
    std::atomic<bool> done{false};
    std::thread sender([&] {
        ns::RunLoop::current()->setClock(clock);
        startSynchronous(r);
        done = true;
    });
    // A quarter of the budget leaves at once and a quarter more each
    // quarter second of the clock, never more. The clock moves in steps of
    // 1/16 s (exact in binary); at each step the test waits until what is
    // due has arrived, so the sender keeps step with the clock.
    const auto due = [&](double t) {
        const double second = std::floor(t);
        const double quarters = std::min(3.0, std::floor((t - second) * 4)) + 1;
        return std::min<double>(kBody, kLimit * second + kLimit / 4 * quarters);
    };
    double elapsed = 0;
    EXPECT_TRUE(waitUntil([&] { return received >= due(0) || done; }));
    while (received < kBody && !done && elapsed < 8) {
        EXPECT_LE(received.load(), kLimit * (elapsed + 0.25)) << "at " << elapsed << " s";
        clock->advance(0.0625);
        elapsed += 0.0625;
        if (!waitUntil([&] { return received >= due(elapsed) || done; })) break;
    }
    // The answer shares the budget, spent for this second: it is read once
    // the next second begins (the status checks come every 0.25 s).
    if (!done && elapsed < 8) clock->advance(std::ceil(elapsed) + 0.5 - elapsed);
    EXPECT_TRUE(waitUntil([&] { return done.load(); }));
    if (!done) r->cancel();
    sender.join();
    HTTPRequest::setMaxBandwidthPerSecond(0);
    http::BandwidthThrottle::shared().setClock(nullptr);
    ASSERT_FALSE(r->error()) << r->error()->description();
    EXPECT_EQ(text(r), "stored");
    // 150,000 bytes at 50,000 a second: the last quarter of the third
    // second (nearly six seconds when each byte counted twice).
    EXPECT_EQ(lastByteAt - kStart, 2.75);
}

TEST(RequestBasic, ExitingWhileRequestsRunFreesNothingTheirThreadsUse) {
    // Threads still sending requests while the process exits go on using the
    // engine's shared state (session cookies, kept-alive connections, the
    // user agent) after static destruction has begun. The child is a fresh
    // process, so that it holds no threads but these.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            alarm(20);  // a child that hangs on its way out ends, and fails
            auto* server = new testsupport::Server([](testsupport::Conn& c) {
                while (auto r = c.readRequest())
                    if (!c.respond(200, "set", "Set-Cookie: a=1; Path=/\r\n")) return;
            });
            std::atomic<int> answered{0};
            for (int i = 0; i < 4; ++i)
                std::thread([server, &answered] {
                    for (;;) {
                        HTTPRequest::requestWithURL(url(server->url("/")))->startSynchronous();
                        ++answered;
                    }
                }).detach();
            while (answered < 8) std::this_thread::yield();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
