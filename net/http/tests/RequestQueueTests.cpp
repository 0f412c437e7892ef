// NetworkQueue: suspended until go(), aggregate progress, delegate
// selectors, cancel-all on failure and the one queue-finished report.
#include "net/http/tests/RequestTestSupport.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "net/http/DownloadCache.h"
#include "net/http/NetworkQueue.h"
#include "testsupport/TempDir.h"
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
    void requestFinished(HTTPRequest* r) override {
        ++finished;
        noteCount(r);
    }
    void requestFailed(HTTPRequest* r) override {
        failedCodes.push_back(r->error() ? r->error()->code() : 0);
        noteCount(r);
    }
    void queueFinished(NetworkQueue*) override {
        ++queueDone;
        endsAtQueueDone = finished + static_cast<int>(failedCodes.size());
    }
    void setProgress(float p) override { progress.push_back(p); }
    // The lowest count of its queue a report left.
    void noteCount(HTTPRequest* r) {
        if (auto* q = dynamic_cast<NetworkQueue*>(r->queue())) lowestCount = std::min(lowestCount, q->requestsCount());
    }
    int started = 0;
    int finished = 0;
    int queueDone = 0;
    int endsAtQueueDone = -1;  // requests reported ended when the queue finished
    int lowestCount = 1 << 30;
    std::vector<std::string> headerLengths;
    std::vector<long> failedCodes;
    std::vector<float> progress;
};

// A 200 answer with `body` for `address`, as a request that got it would
// store it in the cache.
void storeAnswer(http::DownloadCache& cache, const std::string& address, const std::string& body) {
    struct Stored : http::CacheRequest {
        ns::Ref<ns::URL> u;
        ns::Ref<ns::Data> data;
        ns::Ref<ns::URL> url() const override { return u; }
        ns::Ref<ns::Error> error() const override { return nullptr; }
        ns::Ref<ns::Dictionary> responseHeaders() const override {
            return ns::Dictionary::make({{"Content-Type", ns::String::make("text/plain")}});
        }
        int responseStatusCode() const override { return 200; }
        uint32_t cachePolicy() const override { return 0; }
        int cacheStoragePolicy() const override { return http::kCacheForSessionDurationCacheStoragePolicy; }
        bool complete() const override { return true; }
        bool isResponseCompressed() const override { return false; }
        ns::Ref<ns::Data> responseData() const override { return data; }
        std::string downloadDestinationPath() const override { return ""; }
    } stored;
    stored.u = url(address);
    stored.data = ns::Data::make(body);
    cache.storeResponseForRequest(stored, 0);
}

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

    // A request let go with clearDelegatesAndCancel() reports nothing and
    // counts as ended: the queue still finishes once, after the others. One
    // let go after it ended is not counted again.
    auto letGoQueue = NetworkQueue::queue();
    auto letGoWatcher = ns::make<QueueWatcher>();
    watch(*letGoQueue, *letGoWatcher);
    std::vector<ns::Ref<HTTPRequest>> more;
    for (int i = 0; i < 3; ++i) {
        more.push_back(HTTPRequest::requestWithURL(url(server.url("/more" + std::to_string(i)))));
        letGoQueue->addOperation(more.back());
    }
    more[1]->clearDelegatesAndCancel();
    letGoQueue->go();
    ASSERT_TRUE(waitUntil([&] { return letGoWatcher->queueDone == 1; })) << letGoQueue->requestsCount();
    drainMain();
    EXPECT_EQ(letGoWatcher->finished, 2);
    EXPECT_TRUE(letGoWatcher->failedCodes.empty());
    EXPECT_EQ(letGoWatcher->endsAtQueueDone, 2);
    EXPECT_EQ(letGoQueue->requestsCount(), 0);
    more[0]->clearDelegatesAndCancel();
    drainMain();
    EXPECT_EQ(letGoQueue->requestsCount(), 0);
    EXPECT_EQ(letGoWatcher->queueDone, 1);
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
    // A request refused as a HEAD operation (it is in a queue already)
    // raises and stays as it was: method, priority and queue.
    auto first = NetworkQueue::queue();
    auto inQueue = HTTPRequest::requestWithURL(url("http://127.0.0.1:1/get"));
    first->addOperation(inQueue);
    EXPECT_THROW(q->addHEADOperation(inQueue), ns::Exception);
    EXPECT_EQ(inQueue->requestMethod(), "GET");
    EXPECT_EQ(inQueue->queuePriority(), 0);
    EXPECT_EQ(inQueue->queue(), first.get());
    EXPECT_EQ(q->operationCount(), 1u);
}

// A request the queue refuses (added twice, or already in another queue, or
// ended) raises as an operation queue does and changes nothing: it is
// counted once, in the queue that holds it, gets no second companion, and
// every queue finishes once.
TEST(RequestQueue, ARequestAddedTwiceIsCountedOnceAndTheQueueFinishes) {
    testsupport::Server server([](testsupport::Conn& c) {
        while (auto r = c.readRequest())
            if (!(r->method == "HEAD" ? c.write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n") : c.respond(200, "ok")))
                return;
    });
    struct Row {
        const char* name;
        bool accurateProgress;
        bool secondAddToAnotherQueue;
    };
    const Row rows[] = {
        {"added twice to one queue", false, false},
        {"added twice to one queue with accurate progress", true, false},
        {"added to a second queue", false, true},
        {"added to a second queue with accurate progress", true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto q = NetworkQueue::queue();
        auto w = ns::make<QueueWatcher>();
        watch(*q, *w);
        q->setShowAccurateProgress(row.accurateProgress);
        auto other = NetworkQueue::queue();
        auto otherWatcher = ns::make<QueueWatcher>();
        watch(*other, *otherWatcher);
        other->setShowAccurateProgress(row.accurateProgress);
        auto r = HTTPRequest::requestWithURL(url(server.url("/twice")));
        auto companion = HTTPRequest::requestWithURL(url(server.url("/other")));
        q->addOperation(r);
        other->addOperation(companion);
        const auto operations = q->operationCount();
        const auto upload = q->totalBytesToUpload(), download = q->totalBytesToDownload();
        NetworkQueue& second = row.secondAddToAnotherQueue ? *other : *q;
        const auto secondOperations = second.operationCount();
        const auto secondUpload = second.totalBytesToUpload(), secondDownload = second.totalBytesToDownload();
        const auto dependencies = r->dependencies().size();
        EXPECT_THROW(second.addOperation(r), ns::Exception);
        EXPECT_EQ(q->requestsCount(), 1);
        EXPECT_EQ(other->requestsCount(), 1);
        EXPECT_EQ(q->operationCount(), operations);
        EXPECT_EQ(q->totalBytesToUpload(), upload);
        EXPECT_EQ(q->totalBytesToDownload(), download);
        EXPECT_EQ(second.operationCount(), secondOperations);
        EXPECT_EQ(second.totalBytesToUpload(), secondUpload);
        EXPECT_EQ(second.totalBytesToDownload(), secondDownload);
        EXPECT_EQ(r->dependencies().size(), dependencies);
        EXPECT_EQ(r->queue(), q.get());
        q->go();
        other->go();
        ASSERT_TRUE(waitUntil([&] { return w->queueDone == 1 && otherWatcher->queueDone == 1; }))
            << q->requestsCount() << " " << other->requestsCount();
        drainMain();
        EXPECT_EQ(w->finished, 1);
        EXPECT_EQ(otherWatcher->finished, 1);
        EXPECT_EQ(w->queueDone, 1);
        EXPECT_EQ(otherWatcher->queueDone, 1);
        EXPECT_EQ(q->requestsCount(), 0);
        EXPECT_EQ(other->requestsCount(), 0);
        // Ended, it is refused again, and the count stays at nothing.
        EXPECT_THROW(q->addOperation(r), ns::Exception);
        EXPECT_EQ(q->requestsCount(), 0);
        EXPECT_EQ(q->operationCount(), 0u);
    }
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

// A request with accurate progress waits for a companion HEAD request. Cancelled
// from another thread, the request reports its end once, as a cancel, whatever
// its companion does (fails after the cancel or while it runs, or is cancelled
// with the rest); the companion's end never reports for a request that has
// ended. The queue finishes once, after its last request, and its count never
// goes below zero. A request whose cancel is answered from the download cache
// (it falls back to the cache when its load fails) ends once too, finished
// with the stored answer, and is never loaded. Each row runs several rounds.
TEST(RequestQueue, ACancelledRequestEndsOnceWhateverItsCompanionDoes) {
    struct Row {
        const char* name;
        bool cancelAll;  // the queue cancels the rest on the first failure
        bool companionFailsDuringCancel;  // else once the cancel has been reported
        bool answeredFromCache;  // the cancelled request falls back to a stored answer
    };
    const Row rows[] = {
        {"the companion fails after the cancel", false, false, false},
        {"the companion fails while the cancel runs", false, true, false},
        {"the cancel cancels the rest, companions too", true, false, false},
        {"the cache answers the cancel, the companion fails after it", false, false, true},
        {"the cache answers the cancel, the companion fails while it runs", false, true, true},
    };
    testsupport::TempDir dir;
    constexpr int kRounds = 8;
    constexpr int kRequests = 3;
    constexpr int kVictim = 1;
    for (const Row& row : rows) {
        for (int round = 0; round < kRounds; ++round) {
            SCOPED_TRACE(std::string(row.name) + ", round " + std::to_string(round));
            // HEAD requests wait until released, then lose their connection:
            // each companion fails with code 1 (after one retry).
            std::atomic<bool> release{false};
            std::atomic<int> gets{0};
            testsupport::Server server([&](testsupport::Conn& c) {
                while (auto r = c.readRequest()) {
                    if (r->method == "GET" && r->target == "/" + std::to_string(kVictim)) ++gets;
                    if (r->method == "HEAD") {
                        waitForRelease(release);
                        c.reset();
                        return;
                    }
                    if (!c.respond(200, "body")) return;
                }
            });
            struct Release {
                std::atomic<bool>& flag;
                ~Release() { flag = true; }
            } releaseOnExit{release};
            auto q = NetworkQueue::queue();
            auto w = ns::make<QueueWatcher>();
            watch(*q, *w);
            q->setShowAccurateProgress(true);
            q->setShouldCancelAllRequestsOnFailure(row.cancelAll);
            std::vector<ns::Ref<HTTPRequest>> requests;
            std::vector<int> ends(kRequests, 0);  // the request's own blocks
            std::vector<ns::Ref<http::DownloadCache>> caches;
            for (int i = 0; i < kRequests; ++i) {
                auto r = HTTPRequest::requestWithURL(url(server.url("/" + std::to_string(i))));
                r->setCompletionBlock([&ends, i] { ++ends[i]; });
                r->setFailedBlock([&ends, i] { ++ends[i]; });
                if (row.answeredFromCache && i == kVictim) {
                    auto cache = ns::make<http::DownloadCache>();
                    cache->setStoragePath(dir / ("cache" + std::to_string(round)));
                    storeAnswer(*cache, server.url("/" + std::to_string(i)), "stored");
                    caches.push_back(cache);
                    r->setDownloadCache(cache.get());
                    r->setCachePolicy(http::kAskServerIfModifiedCachePolicy |
                                      http::kFallbackToCacheIfLoadFailsCachePolicy);
                }
                requests.push_back(r);
                q->addOperation(r);
            }
            q->go();
            ASSERT_TRUE(waitUntil([&] { return server.requestCount() >= kRequests; }));
            std::thread canceller([&] {
                requests[kVictim]->cancel();
                if (row.companionFailsDuringCancel) release = true;
            });
            canceller.join();
            if (!row.companionFailsDuringCancel) {
                ASSERT_TRUE(waitUntil([&] { return ends[kVictim] == 1; }));
                release = true;
            }
            // Every request and companion has ended; what they posted arrives.
            ASSERT_TRUE(waitUntil([&] { return q->operationCount() == 0; }));
            drainMain();
            for (int i = 0; i < kRequests; ++i) EXPECT_EQ(ends[i], 1) << "request " << i;
            // The cache answers the cancel unless the companion's failure
            // ended the request first (possible only while the cancel runs).
            auto victim = requests[kVictim]->error();
            const int answered = row.answeredFromCache && !victim ? 1 : 0;
            if (row.answeredFromCache && !row.companionFailsDuringCancel) EXPECT_EQ(answered, 1);
            EXPECT_EQ(w->finished, answered);
            EXPECT_EQ(w->failedCodes.size(), static_cast<size_t>(kRequests - answered));
            EXPECT_EQ(gets.load(), 0);
            if (answered) {
                EXPECT_FALSE(victim) << victim->description();
                EXPECT_TRUE(requests[kVictim]->didUseCachedResponse());
                EXPECT_EQ(text(requests[kVictim]), "stored");
            } else {
                ASSERT_TRUE(victim);
            }
            // A companion that fails before the cancel runs ends its request first.
            if (!row.companionFailsDuringCancel && !row.answeredFromCache) {
                EXPECT_EQ(victim->code(), 4);
            }
            for (int i = 0; i < kRequests; ++i) {
                if (i == kVictim) continue;
                ASSERT_TRUE(requests[i]->error());
                {
                    EXPECT_EQ(requests[i]->error()->code(), row.cancelAll ? 4 : 1) << "request " << i;
                }
            }
            EXPECT_EQ(w->queueDone, 1);
            EXPECT_EQ(w->endsAtQueueDone, kRequests);
            EXPECT_EQ(q->requestsCount(), 0);
            EXPECT_GE(w->lowestCount, 0);
        }
    }
}
