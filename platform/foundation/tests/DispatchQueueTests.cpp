#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/RunLoop.h"

using namespace ns;

namespace {

TEST(DispatchQueue, SerialRunsInOrderOneAtATime) {
    auto q = DispatchQueue::makeSerial("serial");
    std::vector<int> order;  // touched only by the queue's blocks
    std::atomic<int> inside{0}, maxInside{0};
    for (int i = 0; i < 50; ++i)
        q->async([&, i] {
            int n = ++inside;
            int m = maxInside.load();
            while (n > m && !maxInside.compare_exchange_weak(m, n)) {}
            order.push_back(i);
            --inside;
        });
    std::vector<int> seen;
    q->sync([&] { seen = order; });
    ASSERT_EQ(seen.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(seen[i], i);
    EXPECT_EQ(maxInside.load(), 1);
    EXPECT_THROW(q->sync([&] { q->sync([] {}); }), Exception);
}

TEST(DispatchQueue, BarrierRunsAloneBetweenReaders) {
    auto q = DispatchQueue::makeConcurrent("rw", 4);
    std::mutex m;
    std::vector<std::string> log;
    std::atomic<int> readers{0};
    std::atomic<bool> overlap{false};
    auto reader = [&] {
        ++readers;
        std::lock_guard<std::mutex> g(m);
        log.push_back("r");
        --readers;
    };
    for (int i = 0; i < 8; ++i) q->async(reader);
    q->barrierAsync([&] {
        if (readers.load() != 0) overlap = true;
        std::lock_guard<std::mutex> g(m);
        log.push_back("W");
    });
    for (int i = 0; i < 8; ++i) q->async(reader);
    q->barrierSync([] {});
    EXPECT_FALSE(overlap);
    ASSERT_EQ(log.size(), 17u);
    EXPECT_EQ(log[8], "W");
}

TEST(DispatchQueue, SyncRethrowsAndMainQueueRunsOnMainLoop) {
    auto q = DispatchQueue::makeConcurrent("c");
    EXPECT_THROW(q->sync([] { throw Exception("Boom", "x"); }), Exception);

    bool onMain = false;
    DispatchQueue::main()->sync([&] { onMain = RunLoop::isMainThread(); });  // runs at once here
    EXPECT_TRUE(onMain);

    std::atomic<bool> done{false};
    q->async([&] {
        DispatchQueue::main()->async([&] { done = RunLoop::isMainThread(); });
    });
    EXPECT_TRUE(RunLoop::current()->runUntil([&] { return done.load(); }, 60.0));
}

TEST(DispatchQueue, DispatchOnceRunsOnce) {
    std::once_flag flag;
    std::atomic<int> n{0};
    auto q = DispatchQueue::global();
    for (int i = 0; i < 16; ++i) q->async([&] { dispatchOnce(flag, [&] { ++n; }); });
    q->barrierSync([] {});
    dispatchOnce(flag, [&] { ++n; });
    EXPECT_EQ(n.load(), 1);
}

}  // namespace
