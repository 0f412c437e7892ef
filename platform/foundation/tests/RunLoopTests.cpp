#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/Timer.h"
#include "testsupport/MainLoopWait.h"

using namespace ns;

namespace {

// Every test gets the main loop on a fresh manual clock and leaves it on the
// system clock with nothing queued.
class RunLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        loop = RunLoop::current();
        clock = ns::make<ns::ManualClock>(100.0);
        loop->setClock(clock);
    }
    void TearDown() override {
        while (loop->runOnce()) {}
        loop->setClock(nullptr);
    }
    Ref<RunLoop> loop;
    ns::Ref<ns::ManualClock> clock;
};

TEST_F(RunLoopTest, MainLoopIsTheTestThreadsLoop) {
    EXPECT_TRUE(RunLoop::isMainThread());
    EXPECT_EQ(RunLoop::main().get(), loop.get());
    EXPECT_TRUE(loop->isCurrent());
    bool otherIsMain = true;
    Ref<RunLoop> other;
    std::thread([&] {
        otherIsMain = RunLoop::isMainThread();
        other = RunLoop::current();
    }).join();
    EXPECT_FALSE(otherIsMain);
    EXPECT_NE(other.get(), loop.get());
    EXPECT_TRUE(other->isFinished());
}

TEST_F(RunLoopTest, ManualClockFiresTimersAndDeferredCallsInTimeOrder) {
    std::vector<std::string> log;
    auto stamp = [&](const std::string& what) {
        log.push_back(what + "@" + std::to_string(static_cast<int>(std::lround((clock->now() - 100.0) * 10))));
    };
    auto t3 = Timer::scheduledTimer(3.0, false, [&] { stamp("t3"); });
    // Due at the same moment as t3: fires after it, in scheduling order.
    auto t3b = Timer::scheduledTimer(3.0, false, [&] { stamp("t3b"); });
    auto t1 = Timer::scheduledTimer(1.0, false, [&] {
        stamp("t1");
        // Scheduled inside the window: fires at 1.5, before t2.
        Timer::scheduledTimer(0.5, false, [&] { stamp("nested"); });
        loop->performDeferred([&] { stamp("deferred-from-t1"); });
    });
    auto t2 = Timer::scheduledTimer(2.0, false, [&] { stamp("t2"); });
    loop->performDeferred([&] { stamp("deferred"); });

    EXPECT_TRUE(log.empty());
    clock->advance(2.5);
    EXPECT_EQ(log, (std::vector<std::string>{"deferred@0", "t1@10", "deferred-from-t1@10", "nested@15", "t2@20"}));
    EXPECT_FALSE(t1->isValid());
    EXPECT_TRUE(t3->isValid());
    EXPECT_DOUBLE_EQ(clock->now(), 102.5);

    clock->advance(0.4);
    EXPECT_EQ(log.size(), 5u);
    clock->advance(0.1);
    EXPECT_EQ(std::vector<std::string>(log.begin() + 5, log.end()), (std::vector<std::string>{"t3@30", "t3b@30"}));
    EXPECT_FALSE(t3->isValid());
    EXPECT_FALSE(t3b->isValid());
}

TEST_F(RunLoopTest, RepeatingTimerKeepsItsCadenceAndStopsWhenInvalidated) {
    std::vector<double> fires;
    auto t = Timer::scheduledTimer(0.25, true, [&](Timer& timer) {
        fires.push_back(clock->now() - 100.0);
        if (fires.size() == 6) timer.invalidate();
    });
    clock->advance(1.0);
    EXPECT_EQ(fires, (std::vector<double>{0.25, 0.5, 0.75, 1.0}));
    clock->advance(0.1);
    EXPECT_EQ(fires.size(), 4u);
    EXPECT_DOUBLE_EQ(t->fireDate(), 101.25);
    clock->advance(10.0);
    EXPECT_EQ(fires.size(), 6u);
    EXPECT_FALSE(t->isValid());
}

TEST_F(RunLoopTest, InvalidatedTimerNeverFiresAndReleasesItsCallback) {
    auto held = std::make_shared<int>(7);
    bool fired = false;
    auto t = Timer::scheduledTimer(1.0, false, [&fired, held] { fired = true; });
    EXPECT_EQ(held.use_count(), 2);
    t->invalidate();
    EXPECT_EQ(held.use_count(), 1);
    clock->advance(5.0);
    EXPECT_FALSE(fired);
    t->invalidate();  // twice is harmless
}

// A timer added after it was invalidated, or to the loop of a thread that
// has ended, is not taken: it belongs to no loop, and a live loop may still
// schedule it.
TEST_F(RunLoopTest, InvalidOrLateTimersAreNotTaken) {
    auto invalid = Timer::make(1.0, false, [] {});
    invalid->invalidate();
    loop->addTimer(invalid);
    std::thread([&] { EXPECT_NO_THROW(RunLoop::current()->addTimer(invalid)); }).join();

    Ref<RunLoop> ended;
    std::thread([&] { ended = RunLoop::current(); }).join();
    ASSERT_TRUE(ended);
    ASSERT_TRUE(ended->isFinished());
    bool fired = false;
    auto late = Timer::make(1.0, false, [&] { fired = true; });
    ended->addTimer(late);
    EXPECT_NO_THROW(loop->addTimer(late));
    clock->advance(1.0);
    EXPECT_TRUE(fired);
}

TEST_F(RunLoopTest, SetFireDatePostponesATimer) {
    int fired = 0;
    auto t = Timer::scheduledTimer(1.0, false, [&] { ++fired; });
    t->setFireDate(clock->now() + 3.0);
    clock->advance(2.0);
    EXPECT_EQ(fired, 0);
    clock->advance(1.0);
    EXPECT_EQ(fired, 1);
}

TEST_F(RunLoopTest, TimerRemovedFromItsModesWaitsUntilAddedAgain) {
    int fired = 0;
    auto t = Timer::make(1.0, false, [&] { ++fired; });
    loop->addTimer(t, RunLoop::kDefaultMode);
    loop->addTimer(t, "Private");
    loop->removeTimer(*t, RunLoop::kDefaultMode);
    clock->advance(2.0);  // idle loop: default mode, where it no longer is
    EXPECT_EQ(fired, 0);
    loop->removeTimer(*t, "Private");
    EXPECT_TRUE(t->isValid());
    EXPECT_FALSE(loop->runOnce("Private"));
    loop->addTimer(t);  // keeps its fire date, which has passed
    EXPECT_DOUBLE_EQ(t->fireDate(), 101.0);
    clock->advance(0.0);
    EXPECT_EQ(fired, 1);
}

TEST_F(RunLoopTest, SwitchingClocksKeepsTheRemainingTime) {
    int fired = 0;
    auto t = Timer::scheduledTimer(2.0, false, [&] { ++fired; });
    clock->advance(0.5);
    auto other = ns::make<ns::ManualClock>(5000.0);
    loop->setClock(other);
    EXPECT_DOUBLE_EQ(t->fireDate(), 5001.5);
    clock->advance(10.0);  // the old clock no longer drives this loop
    EXPECT_EQ(fired, 0);
    other->advance(1.5);
    EXPECT_EQ(fired, 1);
    clock = other;
}

TEST_F(RunLoopTest, ManualClockDoesNotLetRunUntilSleepOnTimers) {
    bool fired = false;
    Timer::scheduledTimer(1000.0, false, [&] { fired = true; });
    // The condition cannot become true without advance(); the short real
    // time-out ends the wait and the timer stays pending.
    EXPECT_FALSE(loop->runUntil([&] { return fired; }, 0.02));
    EXPECT_FALSE(fired);
    clock->advance(1000.0);
    EXPECT_TRUE(fired);
}

TEST_F(RunLoopTest, ModesSelectWhatARunServices) {
    std::vector<std::string> log;
    loop->performDeferred([&] { log.push_back("custom"); }, "Private");
    loop->performDeferred([&] { log.push_back("default"); }, RunLoop::kDefaultMode);
    loop->performDeferred([&] { log.push_back("common"); });
    auto privateTimer = Timer::make(1.0, false, [&] { log.push_back("private-timer"); });
    loop->addTimer(privateTimer, "Private");

    EXPECT_TRUE(loop->runOnce("Private"));
    EXPECT_EQ(log, (std::vector<std::string>{"custom", "common"}));
    clock->advance(2.0);  // the loop is not running: default mode
    EXPECT_EQ(log, (std::vector<std::string>{"custom", "common", "default"}));
    EXPECT_TRUE(privateTimer->isValid());
    EXPECT_TRUE(loop->runOnce("Private"));
    EXPECT_EQ(log.back(), "private-timer");

    // Inside a run of a mode, advance() fires what belongs to that mode.
    auto inner = Timer::make(1.0, false, [&] { log.push_back("inner"); });
    loop->addTimer(inner, "Private");
    loop->performDeferred([&] {
        EXPECT_EQ(loop->currentMode(), "Private");
        clock->advance(1.0);
    }, "Private");
    loop->runOnce("Private");
    EXPECT_EQ(log.back(), "inner");
    EXPECT_EQ(loop->currentMode(), RunLoop::kDefaultMode);
}

// A call left for another mode by an earlier turn (which took the loop's
// wake-up) is pending work: a run of its mode does not sleep before it.
TEST_F(RunLoopTest, ACallLeftForAnotherModeRunsWithoutAWait) {
    bool ran = false;
    loop->performDeferred([&] { ran = true; }, "Private");
    EXPECT_FALSE(loop->runMode(RunLoop::kDefaultMode, 0));
    EXPECT_FALSE(ran);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(loop->runMode("Private", 60));
    EXPECT_TRUE(ran);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30)) << "the turn slept";
}

TEST_F(RunLoopTest, FileDescriptorSourceReportsReadability) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::string got;
    unsigned lastEvents = 0;
    auto source = loop->addFd(fds[0], FdReadable, [&](unsigned ev) {
        lastEvents = ev;
        char buf[16];
        ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n > 0) got.append(buf, n);
    });
    EXPECT_FALSE(loop->runOnce());
    ASSERT_EQ(::write(fds[1], "abc", 3), 3);
    EXPECT_TRUE(loop->runUntil([&] { return got == "abc"; }, testsupport::kEventWaitSeconds));
    EXPECT_EQ(lastEvents, unsigned(FdReadable));

    // Not serviced in another mode, nor after removal.
    ASSERT_EQ(::write(fds[1], "d", 1), 1);
    EXPECT_FALSE(loop->runOnce("Other"));
    loop->removeSource(*source);
    EXPECT_FALSE(loop->runOnce());
    EXPECT_EQ(got, "abc");
    loop->addSource(source, "Other");
    EXPECT_TRUE(loop->runOnce("Other"));
    EXPECT_EQ(got, "abcd");

    // The writer closing shows as hang-up with readable.
    ::close(fds[1]);
    EXPECT_TRUE(loop->runOnce("Other"));
    EXPECT_TRUE(lastEvents & FdHangUp);
    EXPECT_TRUE(lastEvents & FdReadable);
    source->invalidate();
    EXPECT_FALSE(loop->runOnce("Other"));
    ::close(fds[0]);
}

TEST_F(RunLoopTest, ClosedDescriptorIsReportedOnceAndDropped) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int calls = 0;
    unsigned seen = 0;
    auto source = loop->addFd(fds[0], FdReadable, [&](unsigned ev) {
        seen = ev;
        ++calls;
    });
    ::close(fds[0]);  // closed without invalidating the source first
    EXPECT_TRUE(loop->runOnce());
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(seen & FdError);
    EXPECT_FALSE(source->isValid());
    EXPECT_FALSE(loop->runOnce());
    ::close(fds[1]);
}

TEST_F(RunLoopTest, WritableSourceIsQuietedBySetEventsOrEndedFromItsCallback) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int calls = 0;
    auto source = loop->addFd(fds[1], FdWritable, [&](unsigned ev) {
        EXPECT_EQ(ev, unsigned(FdWritable));
        ++calls;
    });
    EXPECT_TRUE(loop->runOnce());
    EXPECT_EQ(calls, 1);
    source->setEvents(0);
    EXPECT_FALSE(loop->runOnce());
    EXPECT_EQ(calls, 1);
    source->invalidate();

    // A source ended while its callback runs, from the callback itself or
    // from another thread: what the callback holds stays alive until it
    // returns, and is let go then.
    for (bool fromOtherThread : {false, true}) {
        auto held = std::make_shared<std::string>("held");
        long countInside = 0;
        std::string readInside;
        Ref<FdSource> ending;
        ending = loop->addFd(fds[1], FdWritable, [&, held](unsigned) {
            if (fromOtherThread) std::thread([&] { ending->invalidate(); }).join();
            else ending->invalidate();
            countInside = held.use_count();
            readInside = *held;
        });
        EXPECT_EQ(held.use_count(), 2);
        EXPECT_TRUE(loop->runOnce());
        EXPECT_EQ(countInside, 2) << fromOtherThread;
        EXPECT_EQ(readInside, "held");
        EXPECT_EQ(held.use_count(), 1) << fromOtherThread;
        EXPECT_FALSE(ending->isValid());
        EXPECT_FALSE(loop->runOnce());
    }
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST_F(RunLoopTest, PerformOnMainThreadWithAndWithoutWaiting) {
    std::vector<int> order;
    std::atomic<bool> ranOnMain{false};
    std::atomic<bool> waitedCallReturned{false};
    std::thread worker([&] {
        performOnMainThread([&] { order.push_back(1); }, false);
        performOnMainThread([&] { order.push_back(2); }, false);
        bool ok = performOnMainThread([&] {
            ranOnMain = RunLoop::isMainThread();
            order.push_back(3);
        }, true);
        // Everything above has run by now, on the main thread.
        waitedCallReturned = ok && order.size() == 3;
    });
    EXPECT_TRUE(loop->runUntil([&] { return order.size() == 3; }, 30.0));
    worker.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(waitedCallReturned);

    // On the target thread itself a waited call runs at once.
    bool immediate = false;
    performOnMainThread([&] { immediate = true; }, true);
    EXPECT_TRUE(immediate);

    // Bursts from several threads share wake-ups: none is lost, whether a
    // call comes while the loop sleeps, while it drains the calls before
    // it, or from a call it is running. Each thread's last call waits, so
    // a lost wake-up would leave it (and the run below) hanging.
    constexpr int kThreads = 4, kBursts = 200, kPerBurst = 5;
    std::atomic<int> ran{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t)
        senders.emplace_back([&] {
            for (int b = 0; b < kBursts; ++b) {
                for (int i = 0; i < kPerBurst - 1; ++i) performOnMainThread([&] { ++ran; }, false);
                performOnMainThread([&] { performOnMainThread([&] { ++ran; }, false); }, b % 8 == 0);
            }
        });
    EXPECT_TRUE(loop->runUntil([&] { return ran.load() == kThreads * kBursts * kPerBurst; }, 30.0));
    for (auto& s : senders) s.join();
    EXPECT_EQ(ran.load(), kThreads * kBursts * kPerBurst);
}

// Calls made on the loop's own thread that do not wait are queued: they run
// on a later turn, in the order they were made, never inside the caller.
TEST_F(RunLoopTest, CallsThatDoNotWaitRunOnALaterTurnNotAtOnce) {
    std::vector<std::string> ran;
    loop->performDeferred([&] { ran.push_back("deferred"); });
    performOnMainThread([&] { ran.push_back("perform"); }, false);
    DispatchQueue::main()->async([&] { ran.push_back("main queue"); });
    loop->performAfterDelay(0, [&] { ran.push_back("after no delay"); });
    auto timer = Timer::scheduledTimer(0, false, [&] { ran.push_back("timer"); });
    EXPECT_TRUE(ran.empty());
    while (loop->runOnce()) {}
    // Due timers go first in a turn; queued calls keep their order.
    EXPECT_EQ(ran, (std::vector<std::string>{"after no delay", "timer", "deferred", "perform", "main queue"}));
    // A call queued by a queued call waits for the next turn too.
    ran.clear();
    loop->performDeferred([&] {
        loop->performDeferred([&] { ran.push_back("inner"); });
        ran.push_back("outer");
    });
    loop->runOnce();
    EXPECT_EQ(ran, (std::vector<std::string>{"outer"}));
    loop->runOnce();
    EXPECT_EQ(ran, (std::vector<std::string>{"outer", "inner"}));
}

// Calls that one turn of another thread's loop queues on this loop wake it
// once, run in order, and are never held back while their sender waits.
TEST_F(RunLoopTest, CallsQueuedInOneTurnShareOneWakeUp) {
    Ref<Thread> sender = Thread::startRunLoopThread("sender");
    while (loop->runOnce()) {}
    const uint64_t wakeUpsBefore = loop->wakeUpsSent();
    std::atomic<uint64_t> sentDuringTurn{99};
    std::vector<int> order;
    performOnThread(*sender->runLoop(), [&] {
        for (int i = 0; i < 50; ++i) performOnMainThread([&order, i] { order.push_back(i); }, false);
        sentDuringTurn = loop->wakeUpsSent() - wakeUpsBefore;
    }, false);
    EXPECT_TRUE(loop->runUntil([&] { return order.size() == 50; }, 30.0));
    EXPECT_EQ(sentDuringTurn.load(), 0u);
    EXPECT_EQ(loop->wakeUpsSent() - wakeUpsBefore, 1u);
    for (int i = 0; i < static_cast<int>(order.size()); ++i) EXPECT_EQ(order[i], i);

    // A sender that stays busy (its own loop always has more to do) still
    // wakes this loop for what it queued. This thread does not run its loop
    // meanwhile, so only that wake-up can show up here.
    const uint64_t sentBeforeBusy = loop->wakeUpsSent();
    std::atomic<bool> stayBusy{true};
    bool delivered = false;
    std::function<void()> keepBusy = [&] {
        if (stayBusy) RunLoop::current()->performDeferred(keepBusy);
    };
    performOnThread(*sender->runLoop(), [&] {
        performOnMainThread([&] { delivered = true; }, false);
        keepBusy();
    }, false);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (loop->wakeUpsSent() == sentBeforeBusy && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_GT(loop->wakeUpsSent(), sentBeforeBusy);
    stayBusy = false;
    EXPECT_TRUE(loop->runUntil([&] { return delivered; }, 30.0));

    // A sender that waits in its turn (for this thread, for a dispatch
    // queue) sends what it queued before it waits.
    order.clear();
    auto serial = DispatchQueue::makeSerial("sender's");
    performOnThread(*sender->runLoop(), [&] {
        performOnMainThread([&] { order.push_back(1); }, false);
        performOnMainThread([&] { order.push_back(2); }, true);
        performOnMainThread([&] { order.push_back(3); }, false);
        serial->sync([] {});
    }, false);
    EXPECT_TRUE(loop->runUntil([&] { return order.size() == 3; }, 30.0));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));

    // A call handed over with performAtOnce wakes this loop in the sender's
    // turn: the sender may wait for it by its own means (here polling a flag).
    std::atomic<bool> ran{false}, sawRun{false}, senderDone{false}, queuedAtOnce{false};
    performOnThread(*sender->runLoop(), [&] {
        queuedAtOnce = loop->performAtOnce([&] { ran = true; });
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!ran && std::chrono::steady_clock::now() < giveUp) std::this_thread::yield();
        sawRun = ran.load();
        senderDone = true;
    }, false);
    EXPECT_TRUE(loop->runUntil([&] { return ran.load(); }, 30.0));
    while (!senderDone) std::this_thread::yield();
    EXPECT_TRUE(sawRun);
    EXPECT_TRUE(queuedAtOnce);
    sender->stop();
    while (loop->runOnce()) {}  // a held-back call would otherwise keep the sender waiting
    sender->join();
}

TEST_F(RunLoopTest, WaitedPerformRethrowsAndDeadThreadsRefuse) {
    Ref<RunLoop> workerLoop;
    std::atomic<bool> ready{false}, quit{false};
    std::thread worker([&] {
        workerLoop = RunLoop::current();
        ready = true;
        workerLoop->runUntil([&] { return quit.load(); }, 60.0);
    });
    while (!ready) std::this_thread::yield();
    EXPECT_THROW(performOnThread(*workerLoop, [] { throw Exception("Boom", "bad"); }, true), Exception);
    EXPECT_TRUE(performOnThread(*workerLoop, [&] { quit = true; }, true));
    worker.join();
    EXPECT_TRUE(workerLoop->isFinished());
    bool ran = false;
    EXPECT_FALSE(performOnThread(*workerLoop, [&] { ran = true; }, true));
    EXPECT_FALSE(performOnThread(*workerLoop, [&] { ran = true; }, false));
    EXPECT_FALSE(workerLoop->performAtOnce([&] { ran = true; }));
    EXPECT_FALSE(ran);

    // A thread still posting to the main loop while the process exits (a
    // network thread letting go of a finished request) is refused, not let
    // into a loop that static destruction has freed. The child is a fresh
    // process, so that it holds no thread but the poster.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            loop = nullptr;  // as in a program, only the run loops hold the main loop
            alarm(20);       // a child that hangs on its way out ends, and fails
            std::atomic<bool> posting{false};
            std::thread([&posting] {
                for (;;) {
                    performOnMainThread([] {}, false);
                    posting = true;
                }
            }).detach();
            while (!posting) std::this_thread::yield();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(RunLoopTest, StopFromAnotherThreadEndsRun) {
    std::thread stopper([&] { performOnMainThread([&] { loop->stop(); }, false); });
    loop->run();  // returns only through stop()
    stopper.join();
    // A stop while not running makes the next run return at once.
    loop->stop();
    EXPECT_FALSE(loop->runMode(RunLoop::kDefaultMode, RunLoop::kDistantFuture));
}

TEST_F(RunLoopTest, RunModeReturnsAfterHandlingSomething) {
    int n = 0;
    loop->performDeferred([&] { ++n; });
    EXPECT_TRUE(loop->runMode(RunLoop::kDefaultMode, 10.0));
    EXPECT_EQ(n, 1);
    EXPECT_FALSE(loop->runMode(RunLoop::kDefaultMode, 0.0));
}

TEST_F(RunLoopTest, NestedRunsKeepQueueOrder) {
    std::vector<int> order;
    loop->performDeferred([&] {
        order.push_back(1);
        loop->performDeferred([&] { order.push_back(4); });
        loop->runOnce();  // nested: takes 2 and 3 first, then 4 on a later turn
    });
    loop->performDeferred([&] { order.push_back(2); });
    loop->performDeferred([&] { order.push_back(3); });
    while (loop->runOnce()) {}
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));

    // A nested run in another mode keeps queueing order across what the
    // outer run took already (a common-mode call) and what it left (a call
    // of the other mode only).
    order.clear();
    const std::string other = "OtherTestMode";
    loop->performDeferred([&] {
        order.push_back(1);
        loop->runOnce(other);
    }, RunLoop::kDefaultMode);
    loop->performDeferred([&] { order.push_back(2); }, other);
    loop->performDeferred([&] { order.push_back(3); });
    loop->performDeferred([&] { order.push_back(4); }, RunLoop::kDefaultMode);
    while (loop->runOnce()) {}
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(RunLoopTest, ManualClockWakesLoopsOfOtherThreads) {
    Ref<RunLoop> workerLoop;
    std::atomic<bool> ready{false};
    std::atomic<int> fired{0};
    std::thread worker([&] {
        workerLoop = RunLoop::current();
        workerLoop->setClock(clock);
        Timer::scheduledTimer(1.0, false, [&] { ++fired; });
        ready = true;
        workerLoop->runUntil([&] { return fired.load() == 1; }, 60.0);
    });
    while (!ready) std::this_thread::yield();
    clock->advance(1.0);
    worker.join();
    EXPECT_EQ(fired.load(), 1);
}

TEST(RunLoopSystemClock, TimersFireOnRealTime) {
    Ref<RunLoop> loop = RunLoop::current();
    bool fired = false;
    loop->performAfterDelay(0.005, [&] { fired = true; });
    EXPECT_TRUE(loop->runUntil([&] { return fired; }, 30.0));
}

TEST(RunLoopSystemClock, TimerCannotJoinTwoLoops) {
    auto t = Timer::scheduledTimer(100.0, false, [] {});
    Ref<RunLoop> other;
    std::thread([&] {
        other = RunLoop::current();
        EXPECT_THROW(other->addTimer(t), Exception);
    }).join();
    t->invalidate();
}

}  // namespace
