// The sharing framework against a fake service provider on 127.0.0.1 (a
// Python program the test starts, which checks every OAuth signature with
// its own code): the simple request, the OAuth flow through the authorise
// web view, and the offline queue re-sent once the network is back.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <thread>

#include "platform/foundation/FileIO.h"
#include "platform/network/HTTPCookie.h"
#include "platform/ui/Driver.h"
#include "sharing/core/ImageCoding.h"
#include "sharing/core/SHROfflineSharer.h"
#include "sharing/core/SHRRequest.h"
#include "sharing/oauth/SHROAuthSharer.h"
#include "sharing/tests/QueueSharer.h"
#include "sharing/tests/SharingTestSupport.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/Command.h"
#include "testsupport/FullDisk.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/PythonFake.h"
#include "testsupport/RefusingPort.h"

namespace sharing::test {
namespace {

class FakeProvider : public testsupport::PythonFake {
public:
    FakeProvider() : PythonFake("sharing/tests/data/fake_oauth_provider.py") {}
    // What the provider saw, one request a line.
    std::string log() const { return get("/log"); }
};

// The fakes' start and stop are bounded: a fake that never prints its port
// is killed after the time allowed (port 0, the test fails and the program
// goes on), and one that ignores SIGTERM is killed after the grace time.
TEST(PythonFakeTest, AFakeThatHangsIsStoppedWithinItsBounds) {
    struct Case {
        const char* name;
        bool printsPort;
    } cases[] = {{"prints no port", false}, {"ignores SIGTERM", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.printsPort) ::setenv("HANGING_FAKE_PRINTS_PORT", "1", 1);
        else ::unsetenv("HANGING_FAKE_PRINTS_PORT");
        // Python starts in well under the 10 s allowed where it prints.
        testsupport::PythonFake fake("sharing/tests/data/hanging_fake.py", c.printsPort ? 10 : 0.5);
        ::unsetenv("HANGING_FAKE_PRINTS_PORT");
        if (!c.printsPort) {
            EXPECT_EQ(fake.port(), 0);
            EXPECT_EQ(fake.pid(), -1) << "killed and reaped";
            continue;
        }
        ASSERT_EQ(fake.port(), 9) << "the script ran";
        pid_t pid = fake.pid();
        ASSERT_GT(pid, 0);
        fake.stop(0.2);
        EXPECT_EQ(fake.pid(), -1);
        EXPECT_NE(::kill(pid, 0), 0) << "the process is gone";
    }
}

class LoopbackTest : public SharingTest {
protected:
    void SetUp() override {
        SharingTest::SetUp();
        ASSERT_GT(provider.port(), 0) << "the fake provider did not start";
    }
    FakeProvider provider;
};

// -- Simple request -------------------------------------------------------------------------

struct Finisher : ns::Object {
    int calls = 0;
    ns::Ref<SHRRequest> last;
    void finished(SHRRequest* r) {
        ++calls;
        last = r;
    }
};

ns::Ref<SHRRequest> startRequest(const ns::Ref<ns::URL>& url, const char* params, const ns::Ref<Finisher>& f,
                                 const char* method = "POST") {
    Finisher* raw = f.get();
    return SHRRequest::make(url, params ? ns::str(params) : nullptr, f, [raw](SHRRequest* r) { raw->finished(r); },
                            ns::str(method), true);
}

// Sends `request` to 127.0.0.1:`port` on a socket of its own (its writing
// side shut when `shutWrite`) and answers what came back before the peer
// closed or 10 s went by.
std::string rawExchange(int port, const std::string& request, bool shutWrite) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return "";
    timeval limit{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        if (shutWrite) ::shutdown(fd, SHUT_WR);
        char buf[4096];
        for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) reply.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return reply;
}

// The fakes trust no length: one that is no count of bytes, or a body that
// ends before it, is answered 400 at once instead of waiting for bytes that
// never come or taking a cut body for the request.
TEST_F(LoopbackTest, TheFakesAnswerALengthTheyCannotTrustWith400) {
    struct Case {
        const char* name;
        const char* head;
        const char* body;
        bool shutWrite;
        const char* status;
    } cases[] = {
        {"whole", "Content-Length: 3", "abc", false, "HTTP/1.1 200"},
        {"negative", "Content-Length: -1", "", false, "HTTP/1.1 400"},
        {"not a number", "Content-Length: 3x", "abc", false, "HTTP/1.1 400"},
        {"past the largest body", "Content-Length: 67108865", "", false, "HTTP/1.1 400"},
        {"cut short", "Content-Length: 10", "abc", true, "HTTP/1.1 400"},
    };
    for (const auto& c : cases) {
        std::string request = std::string("POST /echo HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n") +
                              c.head + "\r\n\r\n" + c.body;
        std::string reply = rawExchange(provider.port(), request, c.shutWrite);
        EXPECT_EQ(reply.substr(0, 12), c.status) << c.name << ": " << reply;
    }
}

TEST_F(LoopbackTest, SimpleRequestBodiesMethodsAndStatus) {
    auto f = ns::make<Finisher>();
    auto r = startRequest(provider.URL("/echo"), "status=caf\xC3\xA9", f);
    // Sent past every cache, given 90 seconds.
    ASSERT_TRUE(r->connection());
    ASSERT_TRUE(r->connection()->originalRequest());
    EXPECT_EQ(r->connection()->originalRequest()->timeoutInterval(), 90);
    EXPECT_EQ(r->connection()->originalRequest()->cachePolicy(), net::kURLRequestReloadIgnoringLocalAndRemoteCacheData);
    ASSERT_TRUE(runUntil([&] { return f->calls > 0; }));
    EXPECT_TRUE(r->success());
    // "status=café" is 11 characters and 12 bytes; all of them arrive.
    EXPECT_EQ(ns::describe(r->getResult()), "POST 12 status=caf\xC3\xA9");
    EXPECT_EQ(r->getResult().get(), r->getResult().get());
    EXPECT_EQ(ns::describe(r->headers()->objectForKey("X-Test")), "yes");
    EXPECT_FALSE(r->delegate());

    f->calls = 0;
    r = startRequest(provider.URL("/echo"), nullptr, f, "POST");
    ASSERT_TRUE(runUntil([&] { return f->calls > 0; }));
    EXPECT_EQ(ns::describe(r->getResult()), "GET 0 ");

    f->calls = 0;
    r = startRequest(provider.URL("/created"), "a=b", f, "PUT");
    ASSERT_TRUE(runUntil([&] { return f->calls > 0; }));
    EXPECT_TRUE(r->success());
    f->calls = 0;
    r = startRequest(provider.URL("/nocontent"), "a=b", f);
    ASSERT_TRUE(runUntil([&] { return f->calls > 0; }));
    EXPECT_FALSE(r->success());
    EXPECT_EQ(ns::describe(r->getResult()), "");
}

TEST_F(LoopbackTest, SimpleRequestConnectionFailureAndSilentDelegate) {
    testsupport::RefusingPort refusing;
    auto f = ns::make<Finisher>();
    auto url = ns::URL::URLWithString(refusing.url("/"));
    auto r = startRequest(url, "x=1", f);
    ASSERT_TRUE(runUntil([&] { return f->calls > 0; }));
    runUntil([] { return false; }, 0.2);
    EXPECT_EQ(f->calls, 1);
    EXPECT_FALSE(r->success());

    // A delegate without the operation is released without a call.
    auto silent = ns::make<Finisher>();
    ns::Weak<Finisher> weak(silent);
    auto r2 = SHRRequest::make(provider.URL("/empty"), nullptr, silent, nullptr, nullptr, true);
    silent = nullptr;
    ASSERT_TRUE(runUntil([&] { return weak.expired(); }));
    EXPECT_EQ(ns::describe(r2->getResult()), "");
}

// A signed request succeeds below status 400; an answer of 400 or more still
// reaches the finish operation (the caller reads the body), and only a
// request that got no answer reaches the failure operation. Both fetchers.
TEST_F(LoopbackTest, OAuthFetchersSucceedBelowStatus400) {
    testsupport::RefusingPort refusing;
    std::string closed = refusing.url("/");
    struct Case {
        std::string url;
        const char* outcome;  // "succeeded", "refused" (finished, not succeeded) or "failed"
    } cases[] = {
        {provider.url("/code/200"), "succeeded"}, {provider.url("/code/399"), "succeeded"},
        {provider.url("/code/400"), "refused"},   {provider.url("/code/503"), "refused"},
        {closed, "failed"},
    };
    for (const auto& c : cases) {
        for (bool synchronous : {false, true}) {
            SCOPED_TRACE(c.url + (synchronous ? " (synchronous)" : ""));
            auto request = OAMutableURLRequest::make(ns::URL::URLWithString(c.url), ns::make<OAConsumer>("k", "s"),
                                                     nullptr, nullptr, nullptr);
            std::vector<std::string> calls;
            std::string body;
            auto finish = [&](OAServiceTicket* t, ns::Data* d) {
                calls.push_back(t && t->didSucceed() ? "succeeded" : "refused");
                body = d ? std::string(d->view()) : "(nil)";
            };
            auto fail = [&](OAServiceTicket* t, ns::Error*) {
                calls.push_back("failed");
                EXPECT_TRUE(t && !t->didSucceed());
            };
            if (synchronous) {
                ns::make<OADataFetcher>()->fetchDataWithRequest(request, finish, fail);
            } else {
                OAAsynchronousDataFetcher::asynchronousFetcherWithRequest(request, nullptr, finish, fail)->start();
                ASSERT_TRUE(runUntil([&] { return !calls.empty(); }));
                runUntil([] { return false; }, 0.1);  // nothing more arrives
            }
            EXPECT_EQ(calls, std::vector<std::string>{c.outcome});
            if (std::string(c.outcome) != "failed") {
                EXPECT_EQ(body, "code");
            }
            // Signed once, whatever happened.
            EXPECT_NE(request->valueForHTTPHeaderField("Authorization").value_or("").find("oauth_signature="),
                      std::string::npos);
        }
    }
}

// -- OAuth flow ---------------------------------------------------------------------------------

// A service sharer on the fake provider: posts the item's text as a status,
// signed with the access token.
class FakeServiceSharer : public SHROAuthSharer {
public:
    FakeServiceSharer() {
        setConsumerKey("testkey");
        setSecretKey("test secret");
        setAuthorizeCallbackURL(ns::URL::URLWithString("http://CALLBACK.example/cb"));
    }
    static std::string base;
    void configure() {
        setRequestURL(ns::URL::URLWithString(base + "/request_token"));
        setAuthorizeURL(ns::URL::URLWithString(base + "/authorize"));
        setAccessURL(ns::URL::URLWithString(base + "/access_token"));
    }
    const char* className() const override { return "FakeServiceSharer"; }
    std::string sharerTitle() const override { return "Fake"; }
    bool canShareText() const override { return true; }
    void tokenAccessModifyRequest(OAMutableURLRequest* request) override {
        if (auto* v = authorizeResponseQueryVars() ? authorizeResponseQueryVars()->stringForKey("oauth_verifier") : nullptr)
            request->setOAuthParameterNameWithValue("oauth_verifier", v->view());
    }
    bool send() override {
        if (!validateItem()) return false;
        auto request = OAMutableURLRequest::make(ns::URL::URLWithString(base + "/status"), consumer(), accessToken(),
                                                 nullptr, nullptr);
        request->setHTTPMethod("POST");
        request->setParameters(ns::Array::make({OARequestParameter::requestParameterWithName(
                                                    "status", std::string(item()->text()->utf8()))}).get());
        ns::Weak<FakeServiceSharer> self(this);
        fetcher_ = OAAsynchronousDataFetcher::asynchronousFetcherWithRequest(
            request, ns::keepAlive(this),
            [self](OAServiceTicket* t, ns::Data*) {
                if (auto s = self.lock()) {
                    if (t->didSucceed()) s->sendDidFinish();
                    else s->sendDidFailShouldRelogin();
                }
            },
            [self](OAServiceTicket*, ns::Error* e) { if (auto s = self.lock()) s->sendDidFailWithError(ns::Ref<ns::Error>(e)); });
        fetcher_->start();
        sendDidStart();
        return true;
    }
    ns::Ref<OAAsynchronousDataFetcher> fetcher_;
};
std::string FakeServiceSharer::base;

TEST_F(LoopbackTest, OAuthFlowRequestAuthoriseAccessThenSignedPost) {
    FakeServiceSharer::base = provider.url("");
    NotificationRecorder rec;
    auto sharer = ns::make<FakeServiceSharer>();
    sharer->configure();
    sharer->setItem(SHRItem::text(ns::str("hello from the deck")));
    sharer->share();
    EXPECT_EQ(sharer->pendingAction(), SHRPendingShare);
    // Request token, then the authorise page on screen.
    ASSERT_TRUE(runUntil([&] { return SHR::currentHelper()->currentView() != nullptr; }));
    auto* nav = ns::as<ui::NavigationController>(SHR::currentHelper()->currentView());
    ASSERT_TRUE(nav);
    auto* view = ns::as<SHROAuthView>(nav->topViewController());
    ASSERT_TRUE(view);
    ASSERT_TRUE(view->webView()->request());
    ASSERT_TRUE(view->webView()->request()->URL());
    std::string authURL = view->webView()->request()->URL()->absoluteText();
    EXPECT_EQ(authURL, provider.url("/authorize?oauth_token=reqtok"));
    // The stand-in web view does not fetch pages: the test is the browser.
    std::string page = provider.get("/authorize?oauth_token=reqtok");
    view->webView()->loadHTMLString(page, ns::URL::URLWithString(authURL));
    ui::Driver driver;
    // The view catches the callback and keeps it from loading, so the
    // driver sees the link refused.
    EXPECT_FALSE(driver.followLink("Allow"));
    EXPECT_NE(driver.lastError().find("refused"), std::string::npos) << driver.lastError();
    EXPECT_EQ(ns::describe(sharer->authorizeResponseQueryVars()->objectForKey("oauth_verifier")), "4711");
    // Access token, stored, then the pending share is sent, signed.
    ASSERT_TRUE(runUntil([&] { return rec.names.size() >= 4; }));
    // The authorise page reports at once; the access step resumes the
    // share (which starts sending) before it reports its own result.
    EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRAuthDidFinish:true", "SHRSendDidStartNotification",
                                                   "SHRAuthDidFinish:true", "SHRSendDidFinish"}));
    EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("accessKey", "FakeServiceSharer")), "acc+tok");
    EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("accessSecret", "FakeServiceSharer")), "acc secret");
    EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("sessionHandle", "FakeServiceSharer")), "h1");
    std::string log = provider.log();
    EXPECT_NE(log.find("status hello from the deck"), std::string::npos) << log;
    EXPECT_EQ(log.find("refused"), std::string::npos) << log;
    EXPECT_TRUE(alerts().empty());

    // A refreshed token is stored and the share goes out again with it,
    // with no share pending from before.
    rec.names.clear();
    sharer->setPendingAction(SHRPendingNone);
    sharer->refreshToken();
    ASSERT_TRUE(runUntil([&] {
        return std::find(rec.names.begin(), rec.names.end(), "SHRSendDidFinish") != rec.names.end();
    })) << ::testing::PrintToString(rec.names);
    EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRSendDidStartNotification", "SHRAuthDidFinish:true",
                                                   "SHRSendDidFinish"}));
    EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("sessionHandle", "FakeServiceSharer")), "h2");
    log = provider.log();
    size_t posts = 0;
    for (size_t p = 0; (p = log.find("status hello from the deck", p)) != std::string::npos; ++p) ++posts;
    EXPECT_EQ(posts, 2u) << log;

    // A new sharer finds the stored token; logging out forgets it and the
    // authorise page's cookies.
    auto again = ns::make<FakeServiceSharer>();
    again->configure();
    EXPECT_TRUE(again->isAuthorized());
    EXPECT_EQ(ns::describe(again->accessToken()->sessionHandle()), "h2");
    net::HTTPCookieStorage::sharedHTTPCookieStorage().setCookie(
        net::HTTPCookie::make("sid", "1", "127.0.0.1", "/"));
    ASSERT_FALSE(net::HTTPCookieStorage::sharedHTTPCookieStorage().cookiesForURL(*provider.URL("/authorize")).empty());
    again->logout();
    EXPECT_TRUE(net::HTTPCookieStorage::sharedHTTPCookieStorage().cookiesForURL(*provider.URL("/authorize")).empty());
    EXPECT_FALSE(ns::make<FakeServiceSharer>()->isAuthorized());
    SHR::setAuthValueForKeyForSharer(ns::str("k").get(), "accessKey", "FakeServiceSharer");
    EXPECT_FALSE(ns::make<FakeServiceSharer>()->isAuthorized());  // no secret
}

TEST_F(LoopbackTest, OAuthFailuresEndWithTheirAlerts) {
    FakeServiceSharer::base = provider.url("");
    NotificationRecorder rec;
    auto sharer = ns::make<FakeServiceSharer>();
    sharer->configure();
    sharer->setSecretKey("wrong secret");  // the provider refuses the signature
    sharer->setItem(SHRItem::text(ns::str("x")));
    sharer->share();
    ASSERT_TRUE(runUntil([&] { return !alerts().empty(); }));
    EXPECT_EQ(alerts()[0], "Request Error|There was a problem requesting authorization from Fake");
    // The login has ended, and the caller hears it.
    EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRAuthDidFinish:false"}));
    EXPECT_NE(provider.log().find("refused bad signature"), std::string::npos);
    ui::Panel::resetShown();
    rec.names.clear();

    // A callback carrying oauth_problem fails even though the page "succeeded".
    auto other = ns::make<FakeServiceSharer>();
    other->configure();
    other->setItem(SHRItem::text(ns::str("x")));
    other->share();
    ASSERT_TRUE(runUntil([&] { return SHR::currentHelper()->currentView() != nullptr; }));
    auto* view = ns::as<SHROAuthView>(ns::as<ui::NavigationController>(SHR::currentHelper()->currentView())->topViewController());
    ASSERT_TRUE(view);
    view->webView()->loadRequest(ui::URLRequest::requestWithString("http://callback.example/cb?oauth_problem=user_refused"));
    EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRAuthDidFinish:false"}));
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_EQ(alerts()[0], "Authorize Error|There was an error while authorizing");
    EXPECT_EQ(other->pendingAction(), SHRPendingShare);
    ui::Panel::resetShown();
    ASSERT_TRUE(runUntil([&] { return SHR::currentHelper()->currentView() == nullptr; }));

    // The access step refused: "Access Error", reported false, no token kept.
    rec.names.clear();
    auto third = ns::make<FakeServiceSharer>();
    third->configure();
    third->setItem(SHRItem::text(ns::str("x")));
    third->share();
    ASSERT_TRUE(runUntil([&] { return SHR::currentHelper()->currentView() != nullptr; }));
    view = ns::as<SHROAuthView>(ns::as<ui::NavigationController>(SHR::currentHelper()->currentView())->topViewController());
    ASSERT_TRUE(view);
    view->webView()->loadRequest(ui::URLRequest::requestWithString("http://callback.example/cb?oauth_token=reqtok&oauth_verifier=0000"));
    ASSERT_TRUE(runUntil([&] { return rec.names.size() >= 2; }));
    EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRAuthDidFinish:true", "SHRAuthDidFinish:false"}));
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_EQ(alerts()[0], "Access Error|There was a problem requesting access from Fake");
    EXPECT_FALSE(SHR::getAuthValueForKeyForSharer("accessKey", "FakeServiceSharer"));
}

TEST(OAuthViewTest, CallbackQueryParameters) {
    auto p = SHROAuthView::queryParameters(*ns::URL::URLWithString("http://c/cb?oauth_token=a&oauth_verifier=b&bad&x=1=2"));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->count(), 2u);
    EXPECT_EQ(ns::describe(p->objectForKey("oauth_verifier")), "b");
    EXPECT_FALSE(SHROAuthView::queryParameters(*ns::URL::URLWithString("http://c/cb")));
}

// -- Offline queue -------------------------------------------------------------------------------

class NeedsLoginSharer : public SHRSharer {
public:
    const char* className() const override { return "NeedsLoginSharer"; }
    bool canShareText() const override { return true; }
};

TEST_F(LoopbackTest, OfflineQueueKeptAcrossRestartAndResentOncePerShare) {
    QueueSharer::registerClass(provider.url(""));
    SHRSharer::registerSharerClass("NeedsLoginSharer", [] { return ns::make<NeedsLoginSharer>(); });
    setOnline(false);
    NotificationRecorder rec;

    auto image = SHRSharer::shareImage<QueueSharer>(ui::Image::make("card.png", {40, 30}), ns::str("Card"));
    std::string folder = ns::Paths::join(ns::Paths::cachesDirectory(), "SHR");
    std::string list = folder + "/SHROfflineQueue.plist";
    ASSERT_TRUE(std::filesystem::exists(list));
    // A text with every character XML reserves, and more than ASCII.
    const std::string queuedText = "queued <text> & \"q\" 'caf\xC3\xA9' ]]> \xF0\x9F\x83\x8F";
    SHRSharer::shareText<QueueSharer>(ns::str(queuedText));
    SHRSharer::shareFile<QueueSharer>(ns::Data::make("file body"), ns::str("f.txt"), ns::str("text/plain"), nullptr);
    // Queued while a login was stored; the login is gone by the re-send.
    SHR::addToOfflineQueueForSharer(SHRItem::text(ns::str("needs a login")), "NeedsLoginSharer");
    SHR::addToOfflineQueueForSharer(SHRItem::text(ns::str("gone")), "NoSuchSharer");
    EXPECT_TRUE(rec.names.empty());  // queued silently
    EXPECT_TRUE(alerts().empty());

    auto entries = SHR::getOfflineQueueList();
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->count(), 5u);
    std::vector<std::string> uids;
    for (ns::Object* o : *entries) {
        auto* entry = ns::as<ns::Dictionary>(o);
        ASSERT_TRUE(entry);
        uids.push_back(ns::describe(entry->objectForKey("uid")));
    }
    EXPECT_EQ(uids[0].rfind("QueueSharer-3-", 0), 0u) << uids[0];
    ASSERT_TRUE(ns::as<ns::Dictionary>(entries->objectAtIndex(0)));
    EXPECT_EQ(ns::describe(ns::as<ns::Dictionary>(entries->objectAtIndex(0))->objectForKey("sharer")), "QueueSharer");
    // The list is a property list another reader takes back whole.
    std::string read = testsupport::runPython(
        home->path(), "read_queue.py",
        "import plistlib, sys\n"
        "entries = plistlib.load(open(sys.argv[1], 'rb'))\n"
        "sys.stdout.buffer.write(entries[1]['item']['text'].encode('utf-8'))\n",
        {list});
    EXPECT_EQ(read, queuedText);
    auto jpeg = ns::readFile(folder + "/" + uids[0]);
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->substr(0, 3), "\xFF\xD8\xFF");
    EXPECT_FALSE(std::filesystem::exists(folder + "/" + uids[1]));  // text: no data file
    EXPECT_EQ(*ns::readFile(folder + "/" + uids[2]), "file body");
    // The list and the data files are the owner's alone.
    for (const std::string& path : {list, folder + "/" + uids[0], folder + "/" + uids[2]}) {
        struct stat st{};
        ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << path;
    }

    // A restart: the centre and the defaults start afresh, the files stay.
    SHR::reset();
    ns::UserDefaults::resetStandardUserDefaults();
    SHR::flushOfflineQueue();  // still offline: nothing happens
    ASSERT_TRUE(std::filesystem::exists(list));
    EXPECT_FALSE(SHR::currentHelper()->offlineQueue());
    // Online for the flush, offline again before its re-sends run: what can
    // still be sent stays stored as it is; what never can (no login, no
    // such sharer) leaves.
    setOnline(true);
    SHR::flushOfflineQueue();
    setOnline(false);
    ASSERT_TRUE(SHR::currentHelper()->offlineQueue());
    ASSERT_TRUE(runUntil([] { return SHR::currentHelper()->offlineQueue()->operationCount() == 0; }));
    auto left = SHR::getOfflineQueueList();
    ASSERT_TRUE(left);
    EXPECT_EQ(left->count(), 3u);
    {
        struct stat st{};  // rewritten by the flush, still the owner's alone
        ASSERT_EQ(::stat(list.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    EXPECT_EQ(provider.log().find("POST /echo"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(folder + "/" + uids[0]));
    EXPECT_TRUE(std::filesystem::exists(folder + "/" + uids[2]));
    // Cancelled (the app ending) while the first re-send waits for the main
    // thread to take its share step: nothing is sent and every entry stays.
    setOnline(true);
    SHR::flushOfflineQueue();
    {
        ns::OperationQueue* cancelled = SHR::currentHelper()->offlineQueue();
        ASSERT_TRUE(cancelled);
        auto ops = cancelled->operations();
        ASSERT_FALSE(ops.empty());
        // Waited for without turning the main loop, which would take the step.
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!ops.front()->isExecuting() && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
        ASSERT_TRUE(ops.front()->isExecuting());
        cancelled->cancelAllOperations();
        ASSERT_TRUE(runUntil([&] { return cancelled->operationCount() == 0; })) << cancelled->operationCount();
        EXPECT_EQ(provider.log().find("POST /echo"), std::string::npos) << provider.log();
        auto kept = SHR::getOfflineQueueList();
        ASSERT_TRUE(kept);
        EXPECT_EQ(kept->count(), 3u);
    }
    SHR::flushOfflineQueue();
    SHR::flushOfflineQueue();  // a second flush starts nothing twice
    // Entries stay stored until their re-sends are handed over.
    EXPECT_TRUE(std::filesystem::exists(list));
    ns::OperationQueue* queue = SHR::currentHelper()->offlineQueue();
    ASSERT_TRUE(queue);
    ASSERT_TRUE(runUntil([&] { return queue->operationCount() == 0; })) << queue->operationCount();
    EXPECT_FALSE(std::filesystem::exists(list));  // the last entry took the list with it
    std::string log = provider.log();
    size_t echoes = 0;
    for (size_t p = 0; (p = log.find("POST /echo", p)) != std::string::npos; ++p) ++echoes;
    EXPECT_EQ(echoes, 3u) << log;
    EXPECT_FALSE(std::filesystem::exists(folder + "/" + uids[0]));
    EXPECT_FALSE(std::filesystem::exists(folder + "/" + uids[2]));
    EXPECT_TRUE(alerts().empty());
    size_t finished = 0;
    for (auto& n : rec.names) finished += n == "SHRSendDidFinish";
    EXPECT_EQ(finished, 3u);
}

// Starts the process that flushes the queue of `home` against `server`; its
// id once it has started the flush, -1 when it did not start.
pid_t startFlushingChild(const std::string& home, const std::string& server) {
    int out[2];
    if (::pipe(out) != 0) return -1;
    pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
        ::dup2(out[1], 1);
        ::execl(OFFLINE_FLUSH_CHILD, OFFLINE_FLUSH_CHILD, home.c_str(), server.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    // A child that hangs before its flush starts fails the test within 30 s.
    char line[16] = {0};
    pollfd ready{out[0], POLLIN, 0};
    bool started = ::poll(&ready, 1, 30000) == 1 && ::read(out[0], line, sizeof line - 1) > 0;
    ::close(out[0]);
    if (started) return child;
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return -1;
}

// The bodies of the shares the queue holds, with their data files.
std::multiset<std::string> storedShares() {
    std::multiset<std::string> stored;
    ns::Ref<ns::Array> list = SHR::getOfflineQueueList();
    if (!list) return stored;
    for (ns::Object* o : *list) {
        auto* entry = ns::as<ns::Dictionary>(o);
        if (!entry) continue;
        auto item = SHRItem::itemFromDictionary(entry->dictionaryForKey("item"));
        if (item->shareType() == SHRShareTypeFile) {
            auto bytes = ns::readFile(ns::Paths::join(SHR::offlineQueuePath(), SHR::offlineDataFileName(*entry)));
            item->setData(bytes ? ns::Data::make(*bytes) : nullptr);
        }
        stored.insert(QueueSharer::bodyFor(*item));
    }
    return stored;
}

// A process killed in the middle of a flush loses no share: every share was
// either answered by the service or is still stored with its data file,
// and the next process sends what is left and clears what the kill left.
TEST_F(SharingTest, OfflineQueueSurvivesAKillDuringTheFlush) {
    std::mutex m;
    std::set<std::string> answered;  // bodies the service answered with 200
    size_t received = 0;
    size_t answerFirst = 0;  // later requests get no answer: the flush stays under way
    auto handler = [&](testsupport::Conn& c) {
        auto r = c.readRequest();
        if (!r) return;
        std::unique_lock<std::mutex> g(m);
        ++received;
        if (received > answerFirst) {
            g.unlock();
            c.waitForClose(testsupport::kEventWaitSeconds);
            return;
        }
        if (c.respond(200, "ok")) answered.insert(r->body);
    };

    setOnline(false);
    QueueSharer::registerClass("");
    std::set<std::string> shared;
    for (int i = 0; i < 6; ++i) {
        auto file = ns::Data::make("file " + std::to_string(i));
        SHRSharer::shareFile<QueueSharer>(file, ns::str("f.txt"), ns::str("text/plain"), nullptr);
        shared.insert("file:file " + std::to_string(i));
        SHRSharer::shareText<QueueSharer>(ns::str("text " + std::to_string(i)));
        shared.insert("text:text " + std::to_string(i));
    }
    std::string folder = ns::Paths::join(ns::Paths::cachesDirectory(), "SHR");
    std::mt19937 rng(2024);
    for (size_t round = 0; round < 4; ++round) {
        testsupport::Server server(handler);
        {
            std::lock_guard<std::mutex> g(m);
            received = 0;
            answerFirst = std::uniform_int_distribution<size_t>(0, 5)(rng);
        }
        pid_t child = startFlushingChild(home->path(), server.url(""));
        ASSERT_GT(child, 0) << "the flushing process did not start";
        // Kill it once the service holds a request it will never answer.
        for (int i = 0; i < 1000; ++i) {
            {
                std::lock_guard<std::mutex> g(m);
                if (received > answerFirst) break;
            }
            ::usleep(10000);
        }
        ::usleep(std::uniform_int_distribution<unsigned>(0, 20000)(rng));
        ASSERT_EQ(testsupport::killChild(child), "") << "round " << round;
        server.stop();

        // Nothing lost: each share was answered or is still stored, with its file.
        ns::Ref<ns::Array> list = SHR::getOfflineQueueList();
        if (!list) list = ns::Array::make();
        std::set<std::string> stored;
        for (ns::Object* o : *list) {
            auto* entry = ns::as<ns::Dictionary>(o);
            ASSERT_TRUE(entry);
            auto item = SHRItem::itemFromDictionary(entry->dictionaryForKey("item"));
            std::string name = SHR::offlineDataFileName(*entry);
            if (item->shareType() == SHRShareTypeFile) {
                auto bytes = ns::readFile(folder + "/" + name);
                ASSERT_TRUE(bytes) << "round " << round << ": the data file of " << name << " is gone";
                item->setData(ns::Data::make(*bytes));
            }
            stored.insert(QueueSharer::bodyFor(*item));
        }
        std::lock_guard<std::mutex> g(m);
        for (const auto& body : shared)
            EXPECT_TRUE(stored.count(body) || answered.count(body)) << "round " << round << ": lost " << body;
    }

    // The next start: a kill may also have left a temporary file of a list
    // save and a data file whose entry was already taken off.
    std::string leftoverTemp = folder + "/.SHROfflineQueue.plist.tmp." + std::to_string(testsupport::endedProcessId()) +
                               ".0.0badf00d";
    std::string orphan = folder + "/QueueSharer-4-1700000000-42";
    ASSERT_TRUE(ns::writeFileAtomically(leftoverTemp, "<plist>"));
    ASSERT_TRUE(ns::writeFileAtomically(orphan, "orphan"));
    SHR::reset();
    testsupport::Server server(handler);
    {
        std::lock_guard<std::mutex> g(m);
        answerFirst = 1000;
    }
    QueueSharer::registerClass(server.url(""));
    setOnline(true);
    SHR::flushOfflineQueue();
    EXPECT_FALSE(std::filesystem::exists(leftoverTemp));
    EXPECT_FALSE(std::filesystem::exists(orphan));
    ns::OperationQueue* queue = SHR::currentHelper()->offlineQueue();
    ASSERT_TRUE(runUntil([&] { return !queue || queue->operationCount() == 0; }));
    {
        std::lock_guard<std::mutex> g(m);
        for (const auto& body : shared) EXPECT_TRUE(answered.count(body)) << "never sent: " << body;
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder));  // list, data files and leftovers all gone
}

// A kill sends again at most the one share whose reply had arrived but was
// not yet recorded: shares go out one at a time, and each reply rewrites
// the list before the next share leaves. Kills at random moments of
// flushes; after each, the shares the service received in that flush and
// that are still stored (to be sent again) are at most one.
TEST_F(SharingTest, OfflineQueueKillRepeatsAtMostTheShareInFlight) {
    std::mutex m;
    std::map<std::string, int> copies;  // body -> times the service received it
    std::set<std::string> thisRound;    // bodies received by the current flush
    testsupport::Server server([&](const testsupport::Request& r) -> std::optional<std::string> {
        std::lock_guard<std::mutex> g(m);
        ++copies[r.body];
        thisRound.insert(r.body);
        return testsupport::Server::reply(200, "ok");
    });
    setOnline(false);
    QueueSharer::registerClass(server.url(""));
    std::set<std::string> shared;
    for (int i = 0; i < 24; ++i) {
        std::string text = "share " + std::to_string(i);
        if (i % 3 == 0) SHRSharer::shareFile<QueueSharer>(ns::Data::make(text), ns::str("f.txt"), ns::str("text/plain"), nullptr);
        else SHRSharer::shareText<QueueSharer>(ns::str(text));
        shared.insert((i % 3 == 0 ? "file:" : "text:") + text);
    }
    ASSERT_EQ(storedShares().size(), shared.size());
    std::mt19937 rng(41);
    int kills = 0;
    for (int round = 0; round < 12 && !storedShares().empty(); ++round) {
        size_t before;
        {
            std::lock_guard<std::mutex> g(m);
            thisRound.clear();
            before = 0;
            for (auto& [body, n] : copies) before += n;
        }
        size_t wait = std::uniform_int_distribution<size_t>(1, 3)(rng);
        pid_t child = startFlushingChild(home->path(), server.url(""));
        ASSERT_GT(child, 0) << "the flushing process did not start";
        for (int i = 0; i < 500; ++i) {  // until `wait` more requests arrived (5 s at most)
            {
                std::lock_guard<std::mutex> g(m);
                if (thisRound.size() >= wait) break;
            }
            ::usleep(10000);
        }
        ::usleep(std::uniform_int_distribution<unsigned>(0, 3000)(rng));
        ASSERT_EQ(testsupport::killChild(child), "") << "round " << round;
        ++kills;
        std::multiset<std::string> stored = storedShares();
        std::lock_guard<std::mutex> g(m);
        std::vector<std::string> again;  // received, yet still stored: sent again
        for (const auto& body : thisRound)
            if (stored.count(body)) again.push_back(body);
        EXPECT_LE(again.size(), 1u) << "round " << round << " (killed after " << before << " requests): "
                                    << ::testing::PrintToString(again);
    }
    // The rest goes out in this process; every share arrived, and each kill
    // added at most one copy.
    SHR::reset();
    setOnline(true);
    SHR::flushOfflineQueue();
    ns::OperationQueue* queue = SHR::currentHelper()->offlineQueue();
    ASSERT_TRUE(runUntil([&] { return !queue || queue->operationCount() == 0; }));
    EXPECT_TRUE(storedShares().empty());
    std::lock_guard<std::mutex> g(m);
    int extra = 0, most = 0;
    for (const auto& body : shared) {
        EXPECT_GE(copies[body], 1) << "never sent: " << body;
        extra += std::max(copies[body] - 1, 0);
        most = std::max(most, copies[body]);
    }
    EXPECT_LE(extra, kills);
    std::printf("%d kills during flushes of %zu shares: %d extra copies, at most %d copies of one share\n", kills,
                shared.size(), extra, most);
}

// A flush whose list cannot be rewritten after a reply (the disk fills, or
// the folder turns read-only, while the service answers) stops there: each
// share reaches the service once however often the queue is flushed, in
// this process or a later one, and the rest goes once the list can be
// written again.
TEST_F(SharingTest, OfflineQueueSendsEachShareOnceWhileItsListCannotBeRewritten) {
    std::string folder = ns::Paths::join(ns::Paths::cachesDirectory(), "SHR");
    testsupport::FullDisk disk(folder);
    std::mutex m;
    std::function<void()> onFirstRequest;
    testsupport::Server server([&](const testsupport::Request&) -> std::optional<std::string> {
        std::function<void()> f;
        {
            std::lock_guard<std::mutex> g(m);
            f = std::move(onFirstRequest);
            onFirstRequest = nullptr;
        }
        if (f) f();
        return testsupport::Server::reply(200, "ok");
    });
    QueueSharer::registerClass(server.url(""));
    auto flush = [] {
        SHR::flushOfflineQueue();
        ns::OperationQueue* queue = SHR::currentHelper()->offlineQueue();
        return runUntil([&] { return !queue || queue->operationCount() == 0; });
    };
    struct Case {
        const char* what;
        std::function<void()> breakDisk;
        bool possible;
    };
    for (const auto& c : std::vector<Case>{{"full disk", [&] { disk.fill(); }, true},
                                           {"read-only folder", [&] { disk.makeReadOnly(); },
                                            disk.isTmpfs() || ::geteuid() != 0}}) {
        SCOPED_TRACE(std::string(c.what) + " against " + disk.how());
        if (!c.possible) {
            std::printf("skipped: %s cannot be arranged here\n", c.what);
            continue;
        }
        disk.restore();
        SHR::reset();
        setOnline(true);
        size_t seen = server.requests().size();
        for (const char* text : {"one", "two", "three"})
            ASSERT_TRUE(SHR::addToOfflineQueueForSharer(SHRItem::text(ns::str(text)), "QueueSharer"));
        {
            std::lock_guard<std::mutex> g(m);
            onFirstRequest = c.breakDisk;
        }
        auto sentSince = [&] {
            std::multiset<std::string> bodies;
            auto all = server.requests();
            for (size_t i = seen; i < all.size(); ++i) bodies.insert(all[i].body);
            return bodies;
        };
        testing::internal::CaptureStderr();
        bool flushed = flush() && flush() && flush();
        std::string log = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(flushed);
        EXPECT_EQ(sentSince(), std::multiset<std::string>{"text:one"});
        EXPECT_NE(log.find("cannot be taken off the offline queue list"), std::string::npos) << log;
        EXPECT_EQ(storedShares().size(), 3u);
        // Writable again: the next flush takes off what was sent, then sends
        // the rest, once.
        disk.restore();
        ASSERT_TRUE(flush());
        EXPECT_EQ(sentSince(), (std::multiset<std::string>{"text:one", "text:two", "text:three"}));
        EXPECT_TRUE(storedShares().empty());

        // A process that starts while the list cannot be rewritten sends nothing.
        ASSERT_TRUE(SHR::addToOfflineQueueForSharer(SHRItem::text(ns::str("four")), "QueueSharer"));
        c.breakDisk();
        SHR::reset();
        testing::internal::CaptureStderr();
        flushed = flush();
        log = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(flushed);
        EXPECT_NE(log.find("the offline queue list cannot be rewritten"), std::string::npos) << log;
        EXPECT_EQ(sentSince().count("text:four"), 0u);
        disk.restore();
        ASSERT_TRUE(flush());
        EXPECT_EQ(sentSince().count("text:four"), 1u);
        EXPECT_TRUE(storedShares().empty());
    }
}

// A share that cannot be written while offline (a full disk, a read-only
// home) is a failed share the user is told about; nothing half-written stays.
TEST_F(SharingTest, OfflineQueueWriteFailuresAreReportedAndStoreNothing) {
    QueueSharer::registerClass("");
    setOnline(false);
    std::string folder = ns::Paths::join(ns::Paths::cachesDirectory(), "SHR");
    testsupport::FullDisk disk(folder);
    auto stored = [&] {  // what the folder holds, but for the disk's own filler
        std::vector<std::string> names;
        for (auto& e : std::filesystem::directory_iterator(folder))
            if (e.path().filename() != ".filler") names.push_back(e.path().filename());
        return names;
    };
    for (auto failure : testsupport::FullDisk::kFailures) {
        SCOPED_TRACE(std::string(testsupport::FullDisk::describe(failure)) + " against " + disk.how());
        disk.restore();
        if (!disk.arrange(failure)) continue;
        // Tried and reported once, with auto-share on too (it used to fall
        // back to the form's path and fail a second time).
        for (bool autoShare : {false, true}) {
            SCOPED_TRACE(autoShare ? "auto-share" : "no auto-share");
            ns::UserDefaults::standardUserDefaults()->setBoolForKey(autoShare, "QueueSharer_shouldAutoShare");
            ui::Panel::resetShown();
            NotificationRecorder rec;
            SHRSharer::shareImage<QueueSharer>(ui::Image::make("card.png", {40, 30}), ns::str("Card"));
            EXPECT_EQ(rec.names, std::vector<std::string>{SHRSendDidFailWithErrorNotification});
            EXPECT_EQ(alerts(), std::vector<std::string>{"Error|There was an error while sharing"});
        }
        // A quiet sharer only answers that nothing was stored.
        ui::Panel::resetShown();
        NotificationRecorder quietRec;
        auto quiet = ns::make<QueueSharer>();
        quiet->setItem(SHRItem::text(ns::str("t")));
        quiet->setQuiet(true);
        EXPECT_FALSE(quiet->tryToSend());
        EXPECT_TRUE(quietRec.names.empty());
        EXPECT_TRUE(alerts().empty());
        EXPECT_FALSE(SHR::addToOfflineQueueForSharer(SHRItem::text(ns::str("t")), "QueueSharer"));
        EXPECT_TRUE(stored().empty()) << ::testing::PrintToString(stored());
    }
    // Room for the data file but not for the list: the data file goes again.
    disk.restore();
    disk.fill(8192);
    auto file = SHRItem::file(ns::Data::make("x"), ns::str("f.txt"), ns::str("text/plain"), nullptr);
    file->setText(ns::str(std::string(200000, 't')));
    EXPECT_FALSE(SHR::addToOfflineQueueForSharer(file, "QueueSharer"));
    EXPECT_TRUE(stored().empty()) << ::testing::PrintToString(stored());
    EXPECT_FALSE(SHR::addToOfflineQueueForSharer(nullptr, "QueueSharer"));  // nothing to store
    disk.restore();
    EXPECT_TRUE(SHR::addToOfflineQueueForSharer(SHRItem::text(ns::str("t")), "QueueSharer"));
    auto list = SHR::getOfflineQueueList();
    ASSERT_TRUE(list);
    EXPECT_EQ(list->count(), 1u);
    struct stat st{};
    ASSERT_EQ(::stat(SHR::offlineQueueListPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A list that cannot be read is set aside under a name of its own, and
// while it is there no data file is cleared: its entries may be recovered.
TEST_F(SharingTest, OfflineQueueListSetAsideKeepsItsDataFilesAndNeverReplacesAnother) {
    std::string folder = SHR::offlineQueuePath();
    std::string list = SHR::offlineQueueListPath();
    std::string data = folder + "/QueueSharer-3-1700000000-7";
    ASSERT_TRUE(ns::writeFileAtomically(data, "jpeg of a stored share"));
    for (const char* garbage : {"damaged list one", "damaged list two"}) {  // within the same second
        ASSERT_TRUE(ns::writeFileAtomically(list, garbage));
        EXPECT_FALSE(SHR::getOfflineQueueList());
        EXPECT_FALSE(std::filesystem::exists(list));
    }
    std::map<std::string, std::string> kept;  // contents -> name
    for (auto& e : std::filesystem::directory_iterator(folder))
        if (e.path().filename().string().rfind("SHROfflineQueue.plist.corrupt-", 0) == 0)
            kept[ns::readFile(e.path()).value_or("")] = e.path().filename().string();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_TRUE(std::regex_match(kept["damaged list one"], std::regex(R"(SHROfflineQueue\.plist\.corrupt-[0-9]+)")))
        << kept["damaged list one"];
    // The second of the same second gets "-2"; a second later it has a name of its own anyway.
    EXPECT_TRUE(std::regex_match(kept["damaged list two"], std::regex(R"(SHROfflineQueue\.plist\.corrupt-[0-9]+(-2)?)")))
        << kept["damaged list two"];
    EXPECT_NE(kept["damaged list one"], kept["damaged list two"]);
    // The next process keeps the data file.
    SHR::reset();
    SHR::offlineQueuePath();
    EXPECT_TRUE(std::filesystem::exists(data));
}

// What can never be sent leaves the list with a log line: entries that are
// not dictionaries, and an image whose data file is damaged while the list
// holds no copy of it (with a copy, the copy is sent). A share the service
// refused (4xx) or failed (5xx) is not sent again.
TEST_F(SharingTest, OfflineQueueDropsWhatItCannotSendAndNeverResendsARefusal) {
    testsupport::Server server([](const testsupport::Request& r) -> std::optional<std::string> {
        if (r.body == "text:refused") return testsupport::Server::reply(403, "no");
        if (r.body == "text:busy") return testsupport::Server::reply(503, "later");
        return testsupport::Server::reply(200, "ok");
    });
    QueueSharer::registerClass(server.url(""));
    std::string folder = SHR::offlineQueuePath();
    auto image = ui::Image::make("card.png", {40, 30});
    auto entry = [](const std::string& uid, ns::Ref<ns::MutableDictionary> item) {
        return ns::Dictionary::make({{"item", item}, {"sharer", ns::str("QueueSharer")}, {"uid", ns::str(uid)}});
    };
    auto withCopy = SHRItem::image(image, ns::str("a"))->dictionaryRepresentation();
    auto noCopy = SHRItem::image(image, ns::str("b"))->dictionaryRepresentation();
    noCopy->removeObjectForKey(std::string_view("image"));
    ASSERT_TRUE(ns::writeFileAtomically(folder + "/QueueSharer-3-1-1", "damaged"));
    ASSERT_TRUE(ns::writeFileAtomically(folder + "/QueueSharer-3-1-2", "damaged"));
    // A folder in place of a data file goes with its entry.
    std::filesystem::create_directories(folder + "/QueueSharer-3-1-10/inner");
    ASSERT_TRUE(ns::writeFileAtomically(folder + "/QueueSharer-3-1-10/inner/file", "x"));
    // A good data file is what is sent, not the list's copy.
    auto jpeg = imageJPEGRepresentation(ui::Image::make("fromfile.png", {40, 30}).get(), 1.0);
    ASSERT_TRUE(jpeg);
    ASSERT_TRUE(ns::writeFileAtomically(folder + "/QueueSharer-3-1-5", jpeg->view()));
    // File shares: the data file is sent; without it the list's copy of the
    // bytes; without either the share is dropped.
    auto fileItem = [](const char* bytes) {
        return SHRItem::file(ns::Data::make(bytes), ns::str("f.txt"), ns::str("text/plain"), nullptr)
            ->dictionaryRepresentation();
    };
    auto fileWithoutCopy = fileItem("x");
    fileWithoutCopy->removeObjectForKey(std::string_view("data"));
    ASSERT_TRUE(ns::writeFileAtomically(folder + "/QueueSharer-4-1-7", "from the data file"));
    ASSERT_TRUE(ns::writeFileAtomically(folder + "/.hidden", "not ours"));
    // A file share whose bytes are a picture is still a file share.
    std::string pictureFile(jpeg->view());
    ASSERT_TRUE(ns::writeFileAtomically(folder + "/QueueSharer-4-1-11", pictureFile));
    // A file named like a set-aside list is never read as a share's data.
    ASSERT_TRUE(ns::writeFileAtomically(folder + "/SHROfflineQueue.plist.corrupt-1", "set aside"));
    std::string outside = ns::Paths::join(ns::Paths::cachesDirectory(), "outside");
    ASSERT_TRUE(ns::writeFileAtomically(outside, "not ours either"));
    auto stored = ns::Array::make({ns::str("junk"), entry("QueueSharer-3-1-1", withCopy), ns::num(42),
                                   entry("QueueSharer-3-1-5", SHRItem::image(image, ns::str("c"))->dictionaryRepresentation()),
                                   entry("QueueSharer-3-1-2", noCopy),
                                   entry("QueueSharer-3-1-10", withCopy),
                                   entry("QueueSharer-2-1-3", SHRItem::text(ns::str("refused"))->dictionaryRepresentation()),
                                   entry("QueueSharer-2-1-4", SHRItem::text(ns::str("busy"))->dictionaryRepresentation()),
                                   ns::Dictionary::make({{"sharer", ns::str("QueueSharer")}, {"uid", ns::str("noitem")}}),
                                   ns::Dictionary::make({{"item", SHRItem::text(ns::str("nosharer"))->dictionaryRepresentation()},
                                                         {"uid", ns::str("QueueSharer-2-1-9")}}),
                                   entry("QueueSharer-4-1-6", fileItem("stored copy")),
                                   entry("QueueSharer-4-1-7", fileItem("not sent: the data file wins")),
                                   entry("QueueSharer-4-1-8", fileWithoutCopy),
                                   // Uids that are not plain names of the folder name no data file.
                                   entry("../outside", SHRItem::text(ns::str("up"))->dictionaryRepresentation()),
                                   entry(".hidden", SHRItem::text(ns::str("dot"))->dictionaryRepresentation()),
                                   entry("SHROfflineQueue.plist", SHRItem::text(ns::str("list"))->dictionaryRepresentation()),
                                   entry("SHROfflineQueue.plist.corrupt-1", fileItem("copy, not the set-aside list")),
                                   entry("QueueSharer-4-1-11", fileItem("copy of a picture file")),
                                   // One share listed twice side by side (a damaged list) goes once.
                                   entry("QueueSharer-2-1-12", SHRItem::text(ns::str("twice"))->dictionaryRepresentation()),
                                   entry("QueueSharer-2-1-12", SHRItem::text(ns::str("twice"))->dictionaryRepresentation())});
    ASSERT_TRUE(SHR::saveOfflineQueueList(stored.get()));
    EXPECT_FALSE(SHR::saveOfflineQueueList(nullptr));
    struct stat st{};
    ASSERT_EQ(::stat(SHR::offlineQueueListPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // a rewritten list too
    auto flush = [] {
        SHR::flushOfflineQueue();
        ns::OperationQueue* queue = SHR::currentHelper()->offlineQueue();
        return runUntil([&] { return !queue || queue->operationCount() == 0; });
    };
    testing::internal::CaptureStderr();
    bool flushed = flush();
    std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(flushed);
    EXPECT_FALSE(std::filesystem::exists(SHR::offlineQueueListPath()));
    std::multiset<std::string> bodies;
    for (auto& r : server.requests()) bodies.insert(r.body);
    EXPECT_EQ(bodies, (std::multiset<std::string>{"image:card.png", "image:card.png", "image:fromfile.png",
                                                  "text:refused", "text:busy",
                                                  "file:stored copy", "file:from the data file", "text:up", "text:dot",
                                                  "text:list", "file:copy, not the set-aside list",
                                                  "file:" + pictureFile, "text:twice"}));
    for (const char* line : {"entry 0 is not a dictionary (String); removed", "entry 2 is not a dictionary",
                             "QueueSharer-3-1-1 is missing or damaged; the list's copy is sent",
                             "QueueSharer-3-1-10 is missing or damaged; the list's copy is sent",
                             "QueueSharer-3-1-2 is missing or damaged and the list holds no copy; the share is dropped",
                             "stored share QueueSharer-2-1-3", "stored share QueueSharer-2-1-4",
                             "entry without item; removed", "entry without sharer; removed",
                             "QueueSharer-4-1-6 is missing or damaged; the list's copy is sent",
                             "QueueSharer-4-1-8 is missing or damaged and the list holds no copy; the share is dropped"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    EXPECT_EQ(log.find("QueueSharer-4-1-7 is missing"), std::string::npos) << log;
    // Nothing is left to send again; what the odd uids seemed to name stays.
    ASSERT_TRUE(flush());
    EXPECT_EQ(server.requests().size(), 13u);
    EXPECT_FALSE(std::filesystem::exists(SHR::offlineQueueListPath()));
    EXPECT_EQ(ns::readFile(outside).value_or(""), "not ours either");
    EXPECT_EQ(ns::readFile(folder + "/.hidden").value_or(""), "not ours");
    ASSERT_EQ(::unlink((folder + "/.hidden").c_str()), 0);
    EXPECT_EQ(ns::readFile(folder + "/SHROfflineQueue.plist.corrupt-1").value_or(""), "set aside");
    ASSERT_EQ(::unlink((folder + "/SHROfflineQueue.plist.corrupt-1").c_str()), 0);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

}  // namespace
}  // namespace sharing::test
