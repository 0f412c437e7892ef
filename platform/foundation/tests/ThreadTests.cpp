#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/Timer.h"

using namespace ns;

namespace {

TEST(Thread, RunLoopThreadServesPerformsUntilStopped) {
    Ref<Thread> t = Thread::startRunLoopThread("network");
    EXPECT_TRUE(t->isExecuting()) << "the loop is ready once the start returns";
    Ref<RunLoop> loop = t->runLoop();
    ASSERT_TRUE(loop);
    EXPECT_FALSE(loop->isCurrent());
    EXPECT_TRUE(t->isExecuting());

    Thread* ranOn = nullptr;
    bool wasMain = true;
    EXPECT_TRUE(performOnThread(*loop, [&] {
        ranOn = Thread::currentThread().get();
        wasMain = Thread::isMainThread();
    }, true));
    EXPECT_EQ(ranOn, t.get());
    EXPECT_FALSE(wasMain);

    // A timer on the thread's loop, on the system clock, fires there.
    std::mutex m;
    std::condition_variable cv;
    bool fired = false;
    performOnThread(*loop, [&] {
        Timer::scheduledTimer(0.001, false, [&] {
            std::lock_guard<std::mutex> g(m);
            fired = true;
            cv.notify_all();
        });
    }, false);
    {
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return fired; })) << "the timer never fired";
    }

    // A stop of the loop alone (from a callback) does not end the thread.
    performOnThread(*loop, [&] { RunLoop::current()->stop(); }, true);
    EXPECT_TRUE(performOnThread(*loop, [] {}, true));

    t->stop();
    t->join();
    EXPECT_TRUE(t->isFinished());
    EXPECT_FALSE(t->isExecuting());
}

TEST(Thread, JoinReturnsOnceTheLoopHasLetGoOfWhatItHeld) {
    // What a stopped thread's loop still holds (a timer that never fired, a
    // call queued too late) is let go before join() returns: a process that
    // joins and then frees what those hold races with nothing. Many times,
    // since the end of a thread is quick.
    for (int i = 0; i < 50; ++i) {
        SCOPED_TRACE(i);
        Ref<Thread> t = Thread::startRunLoopThread("held");
        Ref<RunLoop> loop = t->runLoop();
        ASSERT_TRUE(loop);
        Ref<Object> inTimer = make<Object>(), inCall = make<Object>();
        Weak<Object> timerHeld(inTimer), callHeld(inCall);
        performOnThread(*loop, [held = std::move(inTimer)] {
            Timer::scheduledTimer(3600, false, [held] {});
        }, true);
        performOnThread(*loop, [held = std::move(inCall), t] { t->stop(); RunLoop::current()->performDeferred([held] {}); },
                        false);
        t->join();
        EXPECT_TRUE(timerHeld.expired());
        EXPECT_TRUE(callHeld.expired());
    }
}

// Set by a thread-local object's destructor, which takes a while (as a
// thread's teardown of a loop, tickers and pools may).
std::atomic<int> gTornDown{0};
struct SlowThreadLocal {
    bool touched = false;
    ~SlowThreadLocal() {
        if (!touched) return;
        for (int i = 0; i < 2000; ++i) std::this_thread::yield();
        gTornDown.fetch_add(1);
    }
};
thread_local SlowThreadLocal tSlow;

TEST(Thread, JoinReturnsOnceTheThreadsOwnDataIsGone) {
    // A process that exits right after join() must not overtake the thread's
    // teardown of its thread-local data (a leak checker then reports what that
    // data held). Plain and run-loop threads, many times.
    for (int i = 0; i < 40; ++i) {
        SCOPED_TRACE(i);
        gTornDown.store(0);
        Ref<Thread> t = (i % 2) ? Thread::make([] { tSlow.touched = true; }) : Thread::startRunLoopThread("torn");
        if (i % 2) {
            t->start();
        } else {
            Ref<RunLoop> loop = t->runLoop();
            ASSERT_TRUE(loop);
            performOnThread(*loop, [] { tSlow.touched = true; }, true);
            t->stop();
        }
        t->join();
        EXPECT_EQ(gTornDown.load(), 1);
        t->join();  // a second join returns at once
    }
}

TEST(Thread, DetachedThreadHasItsOwnLoopAndSeesMainAsMain) {
    Ref<RunLoop> mainLoop = RunLoop::main();
    std::atomic<bool> done{false};
    std::atomic<bool> ownLoop{false};
    Thread::detachNewThread([&] {
        ownLoop = RunLoop::current().get() != mainLoop.get() && !RunLoop::isMainThread();
        performOnMainThread([&] { done = true; }, false);
    });
    EXPECT_TRUE(mainLoop->runUntil([&] { return done.load(); }, 60.0));
    EXPECT_TRUE(ownLoop);
}

TEST(Thread, MainThreadObjectIsAdopted) {
    Ref<Thread> t = Thread::currentThread();
    EXPECT_EQ(t.get(), Thread::currentThread().get());
    EXPECT_EQ(t->name(), "main");
    EXPECT_TRUE(t->isExecuting());
    EXPECT_EQ(t->runLoop().get(), RunLoop::main().get());
    t->join();  // an adopted thread is not waited for
}

TEST(Thread, CancelIsAFlagTheBodyReads) {
    std::atomic<bool> started{false};
    Ref<Thread> t = Thread::make([&] {
        started = true;
        while (!Thread::currentThread()->isCancelled()) std::this_thread::yield();
    });
    EXPECT_FALSE(t->runLoop());  // not started yet
    t->start();
    while (!started) std::this_thread::yield();
    t->cancel();
    t->join();
    EXPECT_TRUE(t->isFinished());
}

}  // namespace
