#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Exception.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"

using namespace ns;

namespace {

// A gate operations block on until the test opens it.
struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    int waiting = 0;
    // Both waits are bounded: a gate never opened, or operations that never
    // come, fail the test instead of hanging it.
    void pass() {
        std::unique_lock<std::mutex> lock(m);
        ++waiting;
        cv.notify_all();
        EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return open; })) << "the gate never opened";
        --waiting;
    }
    void waitForWaiting(int n) {
        std::unique_lock<std::mutex> lock(m);
        EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return waiting >= n; }))
            << waiting << " operations at the gate, not " << n;
    }
    void release() {
        std::lock_guard<std::mutex> g(m);
        open = true;
        cv.notify_all();
    }
};

// Thread-safe ordered log.
struct Log {
    std::mutex m;
    std::vector<std::string> items;
    void add(std::string s) {
        std::lock_guard<std::mutex> g(m);
        items.push_back(std::move(s));
    }
    std::vector<std::string> get() {
        std::lock_guard<std::mutex> g(m);
        return items;
    }
};

TEST(OperationQueue, WidthBoundsConcurrency) {
    auto q = OperationQueue::make();
    q->setMaxConcurrentOperationCount(2);
    Gate gate;
    std::atomic<int> started{0};
    std::vector<Ref<Operation>> ops;
    for (int i = 0; i < 6; ++i) ops.push_back(q->addOperationWithBlock([&] {
        ++started;
        gate.pass();
    }));
    gate.waitForWaiting(2);
    // Two are blocked inside; no third may have started.
    EXPECT_EQ(started.load(), 2);
    EXPECT_EQ(q->operationCount(), 6u);
    int executing = 0;
    for (auto& op : q->operations()) executing += op->isExecuting();
    EXPECT_EQ(executing, 2);
    gate.release();
    q->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(started.load(), 6);
    EXPECT_EQ(q->operationCount(), 0u);
    for (auto& op : ops) EXPECT_TRUE(op->isFinished());
}

TEST(OperationQueue, SerialQueueHonoursPriorityThenOrder) {
    auto q = OperationQueue::make();
    q->setMaxConcurrentOperationCount(1);
    q->setSuspended(true);
    Log log;
    auto add = [&](const std::string& name, int priority) {
        auto op = BlockOperation::make([&log, name] { log.add(name); });
        op->setQueuePriority(priority);
        q->addOperation(op);
    };
    add("low", QueuePriorityLow);
    add("normal1", QueuePriorityNormal);
    add("veryhigh", QueuePriorityVeryHigh);
    add("normal2", QueuePriorityNormal);
    add("high", QueuePriorityHigh);
    add("verylow", QueuePriorityVeryLow);
    add("raised", QueuePriorityVeryLow);
    // A priority changed while waiting counts (ties keep the order added).
    q->operations().back()->setQueuePriority(QueuePriorityHigh);
    EXPECT_TRUE(log.get().empty());
    EXPECT_EQ(q->operationCount(), 7u);
    q->setSuspended(false);
    q->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(log.get(),
              (std::vector<std::string>{"veryhigh", "high", "raised", "normal1", "normal2", "low", "verylow"}));
}

TEST(OperationQueue, DependenciesAcrossQueues) {
    auto q1 = OperationQueue::make();
    auto q2 = OperationQueue::make();
    q2->setSuspended(true);
    Log log;
    auto a = BlockOperation::make([&] { log.add("a"); });
    auto b = BlockOperation::make([&] { log.add("b"); });
    auto c = BlockOperation::make([&] { log.add("c"); });
    a->addDependency(b);
    a->addDependency(c);
    b->addDependency(c);
    EXPECT_THROW(a->addDependency(a), Exception);
    EXPECT_FALSE(a->isReady());
    q1->addOperation(a);
    q1->addOperation(b);
    q2->addOperation(c);
    EXPECT_EQ(q1->operationCount(), 2u);  // both wait for c, held by a suspended queue
    EXPECT_TRUE(log.get().empty());
    q2->setSuspended(false);
    a->waitUntilFinished();
    EXPECT_EQ(log.get(), (std::vector<std::string>{"c", "b", "a"}));
}

TEST(OperationQueue, CancelledOperationsFinishWithoutRunning) {
    auto q = OperationQueue::make();
    q->setSuspended(true);
    Log log;
    std::atomic<int> completions{0};
    std::vector<Ref<BlockOperation>> ops;
    for (int i = 0; i < 4; ++i) {
        auto op = BlockOperation::make([&log, i] { log.add(std::to_string(i)); });
        op->setCompletionBlock([&] { ++completions; });
        q->addOperation(op);
        ops.push_back(op);
    }
    ops[1]->cancel();
    EXPECT_TRUE(ops[1]->isCancelled());
    q->setSuspended(false);
    q->waitUntilAllOperationsAreFinished();
    auto ran = log.get();
    std::sort(ran.begin(), ran.end());
    EXPECT_EQ(ran, (std::vector<std::string>{"0", "2", "3"}));
    EXPECT_EQ(completions.load(), 4);
    for (auto& op : ops) EXPECT_FALSE(op->hasCompletionBlock());

    // cancelAllOperations on a suspended queue: none runs once resumed.
    q->setSuspended(true);
    for (int i = 0; i < 3; ++i) q->addOperationWithBlock([&] { log.add("late"); });
    q->cancelAllOperations();
    q->setSuspended(false);
    q->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(log.get().size(), 3u);
}

TEST(OperationQueue, CancelledOperationDoesNotWaitForItsDependencies) {
    auto q = OperationQueue::make();
    auto blocker = BlockOperation::make([] {});
    auto waiting = BlockOperation::make([] { FAIL() << "a cancelled operation ran"; });
    waiting->addDependency(blocker);  // blocker is never queued
    q->addOperation(waiting);
    waiting->cancel();
    waiting->waitUntilFinished();
    EXPECT_TRUE(waiting->isFinished());
    EXPECT_EQ(q->operationCount(), 0u);
}

TEST(OperationQueue, AddingTwiceOrAfterFinishThrows) {
    auto q = OperationQueue::make();
    auto op = BlockOperation::make([] {});
    q->addOperation(op);
    EXPECT_THROW(q->addOperation(op), Exception);
    op->waitUntilFinished();
    EXPECT_THROW(OperationQueue::make()->addOperation(op), Exception);
    EXPECT_THROW(q->addOperation(nullptr), Exception);
    auto done = BlockOperation::make([] {});
    done->start();  // a plain start on the calling thread
    EXPECT_TRUE(done->isFinished());
    EXPECT_THROW(done->start(), Exception);
}

TEST(OperationQueue, OperationsRunOnWorkersThatKnowTheirQueue) {
    auto q = OperationQueue::make();
    std::atomic<bool> onMain{true};
    OperationQueue* seen = nullptr;
    auto op = q->addOperationWithBlock([&] {
        onMain = RunLoop::isMainThread();
        seen = OperationQueue::currentQueue().get();
    });
    op->waitUntilFinished();
    EXPECT_FALSE(onMain);
    EXPECT_EQ(seen, q.get());
    EXPECT_FALSE(OperationQueue::currentQueue());
}

TEST(OperationQueue, MainQueueRunsOnTheMainRunLoop) {
    auto q = OperationQueue::mainQueue();
    std::vector<int> order;
    bool allOnMain = true;
    for (int i = 0; i < 3; ++i)
        q->addOperationWithBlock([&, i] {
            allOnMain = allOnMain && RunLoop::isMainThread();
            order.push_back(i);
        });
    EXPECT_TRUE(order.empty());  // nothing runs before the loop turns
    q->waitUntilAllOperationsAreFinished();  // turns the main loop
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(allOnMain);
}

// A concurrent operation: start() hands the work to another thread and the
// operation reports its end later, as a network request does.
class AsyncOperation : public Operation {
public:
    AsyncOperation(Ref<Thread> worker, Log& log, std::string name)
        : worker_(std::move(worker)), log_(log), name_(std::move(name)) {}
    bool isConcurrent() const override { return true; }
    bool isExecuting() const override { return executing_.load(); }
    bool isFinished() const override { return finished_.load(); }
    void start() override {
        willChangeValueForKey("isExecuting");
        executing_ = true;
        didChangeValueForKey("isExecuting");
        log_.add(name_ + " start");
        startedOn = std::this_thread::get_id();
        auto self = ns::keepAlive(this);
        performOnThread(*worker_->runLoop(), [self] { self->complete(); }, false);
    }

    std::thread::id startedOn;

private:
    void complete() {
        log_.add(name_ + " end");
        willChangeValueForKey("isFinished");
        willChangeValueForKey("isExecuting");
        executing_ = false;
        finished_ = true;
        didChangeValueForKey("isExecuting");
        didChangeValueForKey("isFinished");
    }
    Ref<Thread> worker_;
    Log& log_;
    std::string name_;
    std::atomic<bool> executing_{false}, finished_{false};
};

TEST(OperationQueue, ConcurrentOperationHoldsItsSlotUntilItReportsTheEnd) {
    Ref<Thread> network = Thread::startRunLoopThread("network");
    auto q = OperationQueue::make();
    q->setMaxConcurrentOperationCount(1);
    Log log;
    std::atomic<int> completions{0};
    std::vector<Ref<AsyncOperation>> ops;
    for (const char* name : {"one", "two", "three"}) {
        auto op = make<AsyncOperation>(network, log, name);
        op->setCompletionBlock([&] { ++completions; });
        q->addOperation(op);
        ops.push_back(op);
    }
    q->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(log.get(), (std::vector<std::string>{"one start", "one end", "two start", "two end", "three start",
                                                   "three end"}));
    EXPECT_EQ(completions.load(), 3);
    // No worker thread between: each starts on the thread that added it or
    // on the thread whose operation ended before it.
    std::thread::id networkId;
    performOnThread(*network->runLoop(), [&] { networkId = std::this_thread::get_id(); }, true);
    EXPECT_EQ(ops[0]->startedOn, std::this_thread::get_id());
    for (auto& op : ops)
        EXPECT_TRUE(op->startedOn == std::this_thread::get_id() || op->startedOn == networkId);
    network->stop();
    network->join();
}

TEST(OperationQueue, MainQueueWaiterWakesWhenAnOperationEndsElsewhere) {
    Ref<Thread> network = Thread::startRunLoopThread("network");
    Log log;
    OperationQueue::mainQueue()->addOperation(make<AsyncOperation>(network, log, "main"));
    OperationQueue::mainQueue()->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(log.get(), (std::vector<std::string>{"main start", "main end"}));
    network->stop();
    network->join();
}

}  // namespace
