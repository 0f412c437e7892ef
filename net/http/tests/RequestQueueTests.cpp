// NetworkQueue: suspended until go(), aggregate progress, delegate
// selectors, cancel-all on failure and the one queue-finished report.
#include "net/http/tests/RequestTestSupport.h"

#include <atomic>
#include <thread>

#include "net/http/NetworkQueue.h"
#include "testsupport/RefusingPort.h"
#include "platform/foundation/Exception.h"

using namespace httptest;
using http::HTTPRequest;
using http::NetworkQueue;

namespace {

class QueueWatcher : public ns::Object, public http::NetworkQueueDelegate, public http::ProgressDelegate {
public:
    const char* className() const override { return "QueueWatcher"; }
    bool answers(HTTPRequestDelegate::Optional) const override { return false; }
    bool answers(ProgressDelegate::Optional op) const override { return op == ProgressDelegate::Optional::setProgress; }
    void requestStarted(HTTPRequest*) override { ++started; }
    void requestDidReceiveResponseHeaders(HTTPRequest*, ns::Ref<ns::Dictionary> h) override {
        auto* length = h ? h->objectForKey("Content-Length") : nullptr;
        headerLengths.push_back(length ? length->description() : "none");
    }
    void requestFinished(HTTPRequest*) override { ++finished; }
    void requestFailed(HTTPRequest* r) override { failedCodes.push_back(r->error() ? r->error()->code() : 0); }
    void queueFinished(NetworkQueue*) override { ++queueDone; }
    void setProgress(float p) override { progress.push_back(p); }
    int started = 0;
    int finished = 0;
    int queueDone = 0;
    std::vector<std::string> headerLengths;
    std::vector<long> failedCodes;
    std::vector<float> progress;
};

void watch(NetworkQueue& q, QueueWatcher& w) {
    q.setDelegate(&w);
    q.setRequestDidFinishSelector(&http::NetworkQueueDelegate::requestFinished);
    q.setRequestDidFailSelector(&http::NetworkQueueDelegate::requestFailed);
    q.setQueueDidFinishSelector(&http::NetworkQueueDelegate::queueFinished);
}

}  // namespace

TEST(RequestQueue, NothingStartsBeforeGoAndTheQueueFinishesOnce) {
    testsupport::Server server([](testsupport::Conn& c) {
        while (auto r = c.readRequest())
            if (!c.respond(200, "ok")) return;
    });
    auto q = NetworkQueue::queue();
    auto w = ns::make<QueueWatcher>();
    watch(*q, *w);
    q->setDownloadProgressDelegate(w.get());
    // Started and headers reach the delegate through the queue only while
    // their selectors are set; a copy keeps them, a reset drops them.
    using O = http::HTTPRequestDelegate::Optional;
    EXPECT_FALSE(q->answers(O::requestStarted));
    EXPECT_FALSE(q->answers(O::requestDidReceiveResponseHeaders));
    q->setRequestDidStartSelector(&http::NetworkQueueDelegate::requestStarted);
    q->setRequestDidReceiveResponseHeadersSelector(&http::NetworkQueueDelegate::requestDidReceiveResponseHeaders);
    auto copied = q->copy();
    EXPECT_TRUE(copied->answers(O::requestStarted));
    EXPECT_TRUE(copied->answers(O::requestDidReceiveResponseHeaders));
    copied->reset();
    EXPECT_FALSE(copied->answers(O::requestStarted));
    EXPECT_FALSE(copied->answers(O::requestDidReceiveResponseHeaders));
    std::vector<ns::Ref<HTTPRequest>> requests;
    for (int i = 0; i < 3; ++i) {
        auto r = HTTPRequest::requestWithURL(url(server.url("/" + std::to_string(i))));
        requests.push_back(r);
        q->addOperation(r);
    }
    EXPECT_EQ(q->requestsCount(), 3);
    EXPECT_EQ(q->totalBytesToDownload(), 3u);  // whole requests without accurate progress
    waitUntil([] { return false; }, 0.1);
    EXPECT_EQ(server.connections(), 0);
    q->go();
    ASSERT_TRUE(waitUntil([&] { return w->queueDone == 1; }));
    drainMain();
    EXPECT_EQ(w->started, 3);
    EXPECT_EQ(w->finished, 3);
    EXPECT_EQ(w->headerLengths, std::vector<std::string>(3, "2"));
    EXPECT_EQ(w->queueDone, 1);
    EXPECT_EQ(q->requestsCount(), 0);
    EXPECT_EQ(q->bytesDownloadedSoFar(), 3u);
    ASSERT_FALSE(w->progress.empty());
    EXPECT_FLOAT_EQ(w->progress.back(), 1.0f);
}

TEST(RequestQueue, FirstFailureCancelsTheRestUnlessTheQueueIsToldNotTo) {
    for (bool cancelAll : {true, false}) {
        std::atomic<bool> release{false};
        testsupport::Server slow([&](testsupport::Conn& c) {
            if (!c.readRequest()) return;
            waitForRelease(release);
            c.respond(200, "late");
        });
        // However the case ends, the server's handlers are let go first.
        struct Release {
            std::atomic<bool>& flag;
            ~Release() { flag = true; }
        } releaseOnExit{release};
        testsupport::RefusingPort closed;
        auto q = NetworkQueue::queue();
        auto w = ns::make<QueueWatcher>();
        watch(*q, *w);
        q->setShouldCancelAllRequestsOnFailure(cancelAll);
        auto a = HTTPRequest::requestWithURL(url(slow.url("/a")));
        auto b = HTTPRequest::requestWithURL(url(slow.url("/b")));
        auto bad = HTTPRequest::requestWithURL(url(closed.url("/")));
        q->addOperation(a);
        q->addOperation(b);
        q->go();
        ASSERT_TRUE(waitUntil([&] { return slow.connections() == 2; }));
        q->addOperation(bad);
        if (cancelAll) {
            ASSERT_TRUE(waitUntil([&] { return w->queueDone == 1; }));
            drainMain();
            release = true;
            ASSERT_EQ(w->failedCodes.size(), 3u);
            EXPECT_EQ(w->failedCodes[0], 1);
            EXPECT_EQ(w->failedCodes[1], 4);
            EXPECT_EQ(w->failedCodes[2], 4);
        } else {
            // The failure ends only its own request; the others finish.
            ASSERT_TRUE(waitUntil([&] { return w->failedCodes.size() == 1; }));
            drainMain();
            EXPECT_EQ(w->queueDone, 0);
            release = true;
            ASSERT_TRUE(waitUntil([&] { return w->queueDone == 1; }));
            drainMain();
            EXPECT_EQ(w->failedCodes, std::vector<long>{1});
            EXPECT_EQ(w->finished, 2);
            EXPECT_EQ(text(a), "late");
        }
        EXPECT_EQ(w->queueDone, 1);
    }
}

TEST(RequestQueue, OnlyRequestsMayBeAddedToAQueueWithItsDefaults) {
    auto q = NetworkQueue::queue();
    EXPECT_TRUE(q->isSuspended());
    EXPECT_EQ(q->maxConcurrentOperationCount(), 4);
    EXPECT_TRUE(q->shouldCancelAllRequestsOnFailure());
    EXPECT_FALSE(q->showAccurateProgress());
    try {
        q->addOperation(ns::BlockOperation::make([] {}));
        FAIL() << "no exception";
    } catch (const ns::Exception& e) {
        EXPECT_EQ(e.name(), "AttemptToAddInvalidRequest");
        EXPECT_EQ(e.reason(), "Attempted to add an object that was not an HTTPRequest to an NetworkQueue");
    }
    // A HEAD operation: any request becomes a HEAD that goes before the
    // rest (priority 10, above "very high") and reports accurate progress;
    // anything else is ignored without an exception.
    q->addHEADOperation(ns::BlockOperation::make([] {}));
    EXPECT_EQ(q->operationCount(), 0u);
    auto r = HTTPRequest::requestWithURL(url("http://127.0.0.1:1/head"));
    r->setShowAccurateProgress(false);
    q->addHEADOperation(r);
    EXPECT_EQ(r->requestMethod(), "HEAD");
    EXPECT_EQ(r->queuePriority(), 10);
    EXPECT_TRUE(r->showAccurateProgress());
    EXPECT_EQ(r->queue(), q.get());
    EXPECT_EQ(q->operationCount(), 1u);
}

TEST(RequestQueue, AccurateProgressLearnsTheSizeFromAHeadRequestFirst) {
    std::string body(40000, 'q');
    std::mutex m;
    std::vector<std::string> methods;
    testsupport::Server server([&](testsupport::Conn& c) {
        while (auto r = c.readRequest()) {
            {
                std::lock_guard<std::mutex> g(m);
                methods.push_back(r->method);
            }
            bool ok = r->method == "HEAD"
                          ? c.write("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n")
                          : c.respond(200, body);
            if (!ok) return;
        }
    });
    auto q = NetworkQueue::queue();
    auto w = ns::make<QueueWatcher>();
    watch(*q, *w);
    q->setShowAccurateProgress(true);
    q->setDownloadProgressDelegate(w.get());
    auto r = HTTPRequest::requestWithURL(url(server.url("/big")));
    q->addOperation(r);
    q->go();
    ASSERT_TRUE(waitUntil([&] { return w->queueDone == 1; }));
    drainMain();
    EXPECT_EQ(w->finished, 1);
    EXPECT_EQ(q->totalBytesToDownload(), body.size());
    EXPECT_EQ(q->bytesDownloadedSoFar(), body.size());
    {
        std::lock_guard<std::mutex> g(m);
        EXPECT_EQ(methods, (std::vector<std::string>{"HEAD", "GET"}));
    }

    // The HEAD request lets go of its main request once it has finished:
    // when the main request is gone, the HEAD's link to it is nil.
    auto dependencies = r->dependencies();
    ASSERT_EQ(dependencies.size(), 1u);
    ns::Ref<HTTPRequest> head(static_cast<HTTPRequest*>(dependencies[0].get()));
    dependencies.clear();
    EXPECT_EQ(head->mainRequest(), r);
    ns::Weak<HTTPRequest> main(r.get());
    r = nullptr;
    drainMain();
    EXPECT_FALSE(main.lock());
    EXPECT_FALSE(head->mainRequest());
}
