// Costs of the run loop, the queues and the notification centre, next to
// Boost.Asio doing the same work (io_context posts, a thread pool).
#include <benchmark/benchmark.h>

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/foundation/Clock.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/Timer.h"

namespace {

constexpr int kBatch = 1000;

// Counts down to zero and lets one thread wait for it.
struct Latch {
    std::mutex m;
    std::condition_variable cv;
    int left;
    explicit Latch(int n) : left(n) {}
    void countDown() {
        std::lock_guard<std::mutex> g(m);
        if (--left == 0) cv.notify_all();
    }
    void wait() {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return left == 0; });
    }
};

void BM_DeferredCalls_RunLoop(benchmark::State& state) {
    auto loop = ns::RunLoop::current();
    int n = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) loop->performDeferred([&n] { ++n; });
        while (loop->runOnce()) {}
    }
    benchmark::DoNotOptimize(n);
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_DeferredCalls_RunLoop);

void BM_DeferredCalls_Asio(benchmark::State& state) {
    boost::asio::io_context io;
    int n = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) boost::asio::post(io, [&n] { ++n; });
        io.restart();
        io.run();
    }
    benchmark::DoNotOptimize(n);
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_DeferredCalls_Asio);

void BM_CrossThreadRoundTrip_RunLoop(benchmark::State& state) {
    auto thread = ns::Thread::startRunLoopThread("bench");
    auto loop = thread->runLoop();
    int n = 0;
    for (auto _ : state) ns::performOnThread(*loop, [&n] { ++n; }, true);
    thread->stop();
    thread->join();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CrossThreadRoundTrip_RunLoop)->UseRealTime();

void BM_CrossThreadRoundTrip_Asio(benchmark::State& state) {
    boost::asio::io_context io;
    auto guard = boost::asio::make_work_guard(io);
    std::thread t([&] { io.run(); });
    int n = 0;
    for (auto _ : state) {
        std::promise<void> done;
        boost::asio::post(io, [&] {
            ++n;
            done.set_value();
        });
        done.get_future().wait();
    }
    guard.reset();
    t.join();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CrossThreadRoundTrip_Asio)->UseRealTime();

void BM_OperationQueueBlocks(benchmark::State& state) {
    auto q = ns::OperationQueue::make();
    q->setMaxConcurrentOperationCount(static_cast<int>(state.range(0)));
    std::atomic<int> n{0};
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) q->addOperationWithBlock([&n] { ++n; });
        q->waitUntilAllOperationsAreFinished();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_OperationQueueBlocks)->Arg(1)->Arg(4)->UseRealTime();

void BM_DispatchQueueBlocks(benchmark::State& state) {
    auto q = state.range(0) == 1 ? ns::DispatchQueue::makeSerial("bench")
                                 : ns::DispatchQueue::makeConcurrent("bench", static_cast<unsigned>(state.range(0)));
    std::atomic<int> n{0};
    for (auto _ : state) {
        Latch latch(kBatch);
        for (int i = 0; i < kBatch; ++i) q->async([&] {
            ++n;
            latch.countDown();
        });
        latch.wait();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_DispatchQueueBlocks)->Arg(1)->Arg(4)->UseRealTime();

void BM_ThreadPoolBlocks_Asio(benchmark::State& state) {
    boost::asio::thread_pool pool(static_cast<size_t>(state.range(0)));
    std::atomic<int> n{0};
    for (auto _ : state) {
        Latch latch(kBatch);
        for (int i = 0; i < kBatch; ++i) boost::asio::post(pool, [&] {
            ++n;
            latch.countDown();
        });
        latch.wait();
    }
    pool.join();
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_ThreadPoolBlocks_Asio)->Arg(1)->Arg(4)->UseRealTime();

void BM_PostNotificationTenObservers(benchmark::State& state) {
    auto center = ns::NotificationCenter::make();
    std::vector<ns::ObserverToken> tokens;
    int n = 0;
    for (int i = 0; i < 10; ++i) tokens.push_back(center->addObserver("Bench", nullptr, [&n](const ns::Notification&) { ++n; }));
    for (int i = 0; i < 10; ++i) tokens.push_back(center->addObserver("Other", nullptr, [&n](const ns::Notification&) { ++n; }));
    auto note = ns::Notification::make("Bench");
    for (auto _ : state) center->postNotification(note);
    benchmark::DoNotOptimize(n);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PostNotificationTenObservers);

void BM_ManualClockTimers(benchmark::State& state) {
    auto loop = ns::RunLoop::current();
    auto clock = ns::make<ns::ManualClock>();
    loop->setClock(clock);
    int n = 0;
    for (auto _ : state) {
        for (int i = 0; i < 100; ++i) ns::Timer::scheduledTimer(0.01 * (i % 10 + 1), false, [&n] { ++n; });
        clock->advance(1.0);
    }
    loop->setClock(nullptr);
    benchmark::DoNotOptimize(n);
    state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_ManualClockTimers);

}  // namespace

BENCHMARK_MAIN();
