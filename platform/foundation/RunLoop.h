// One run loop per thread: deferred calls, timers, file-descriptor sources,
// named modes, and calls performed from other threads.
//
// The main run loop belongs to the main thread: the thread that called
// RunLoop::setMain(), or, when nobody did, the process's initial thread (the
// one that entered main()). Other threads get their own loop the first time
// they ask for RunLoop::current().
//
// Modes: every timer, source and queued call belongs to one or more named
// modes; a run in mode M services only what belongs to M. kCommonModes, used
// as a mode when adding, means "every mode". Queued calls default to common
// modes, timers and sources to the default mode.
//
// Clock: each loop reads its own clock (SystemClock unless setClock() says
// otherwise). With a manual clock the loop never sleeps waiting for a timer:
// timers fire when ManualClock::advance() reaches them, while file
// descriptors and calls from other threads still wake the loop.
//
// Time-outs passed to runMode/runUntil are real seconds bounding how long
// the call may block; they are a safety net and do not move a manual clock.
#pragma once

#include <poll.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Object.h"

namespace ns {

class Timer;

// The modes a timer or source is scheduled in, as interned names (see
// RunLoop). Almost always one, which is kept without an allocation.
class ModeSet {
public:
    bool empty() const { return first_ == nullptr; }
    // Whether something in these modes runs in `mode` (common modes run in
    // every mode).
    bool runsIn(const std::string* mode) const;
    void add(const std::string* mode);
    void remove(const std::string* mode);
    void clear() {
        first_ = nullptr;
        more_.clear();
    }

private:
    const std::string* first_ = nullptr;
    std::vector<const std::string*> more_;
};

// Readiness bits for file-descriptor sources.
enum FdEvent : unsigned {
    FdReadable = 1,
    FdWritable = 2,
    FdError = 4,   // error or invalid descriptor; always reported. A descriptor
                   // that was closed while watched is reported once and its
                   // source invalidated, so a forgotten close cannot spin the loop.
    FdHangUp = 8,  // peer closed; always reported (with FdReadable when asked)
};

// A file descriptor watched by a run loop. The callback runs on the loop's
// thread with the ready bits, as long as the descriptor stays ready (level
// triggered); read or write it, or change events(), to quiet it.
class FdSource : public Object {
public:
    using Callback = std::function<void(unsigned events)>;
    static Ref<FdSource> make(int fd, unsigned events, Callback callback);

    const char* className() const override { return "FdSource"; }
    int fd() const { return fd_; }
    unsigned events() const;
    // Changes the bits watched (safe from any thread; wakes the loop).
    void setEvents(unsigned events);
    // Takes the source off its loop for good and drops the callback. The
    // descriptor is not closed: it belongs to the caller.
    void invalidate();
    bool isValid() const;

private:
    friend class RunLoop;
    FdSource(int fd, unsigned events, Callback cb) : fd_(fd), events_(events), callback_(std::move(cb)) {}

    const int fd_;
    // Read by the loop's turn without a lock.
    std::atomic<unsigned> events_;
    std::atomic<bool> valid_{true};
    // The thread of the loop the source is on (0: none), so that a change
    // made on that thread needs no lock and no wake-up.
    std::atomic<long> attachedTid_{0};
    // How many turns are running the callback now (nested runs may fire it
    // again): an invalidate() meanwhile leaves the callback to the last of
    // them to drop, so a source fires without copying its callback.
    std::atomic<int> firing_{0};
    mutable std::mutex mutex_;
    Callback callback_;            // guarded by mutex_ (see firing_)
    RunLoop* attachedLoop_ = nullptr;  // guarded by mutex_ (set under the loop's lock too)
    ModeSet modes_;  // guarded by the loop's lock and mutex_
};

class RunLoop : public Object {
public:
    // The mode names are never destroyed: threads still running while the
    // process exits go on naming them.
    static inline const std::string& kDefaultMode = *new std::string("DefaultRunLoopMode");
    static inline const std::string& kCommonModes = *new std::string("CommonRunLoopModes");  // every mode
    static constexpr double kDistantFuture = std::numeric_limits<double>::infinity();

    // The calling thread's loop, made on first use.
    static Ref<RunLoop> current();
    // The main thread's loop (callable from any thread).
    static Ref<RunLoop> main();
    // Makes the calling thread the main thread. Call it before anyone uses
    // the main loop; throws InternalInconsistencyException when the main
    // loop was already bound to another thread.
    static void setMain();
    // True on the thread that owns the main loop.
    static bool isMainThread();

    const char* className() const override { return "RunLoop"; }
    ~RunLoop() override;

    // --- Clock -----------------------------------------------------------
    Ref<Clock> clock() const;
    // Switches clocks (nil: the system clock); scheduled timers keep their
    // remaining time.
    void setClock(Ref<Clock> clock);
    double now() const { return currentClock_.load(std::memory_order_acquire)->now(); }
    // The clock now() reads, without the lock. A clock the loop used stays
    // valid as long as the loop.
    const Clock* currentClock() const { return currentClock_.load(std::memory_order_acquire); }

    // --- Queued calls (any thread) ----------------------------------------
    // Runs fn on this loop's next turn (in order of queueing). Returns false
    // (and drops fn) when the loop's thread has ended. Queued by a thread
    // that is running its own loop, the wake-up waits until that thread has
    // nothing else to handle (about a millisecond at most while it stays
    // busy) and is shared by every call it queued here meanwhile (see
    // WakeUpBatch.h).
    bool performDeferred(std::function<void()> fn, const std::string& mode = kCommonModes);
    // The same, but the loop is woken now, also by a thread that holds its
    // wake-ups back: for work handed over that the sender may then wait
    // for by means the run loop does not see (polling a flag, a condition
    // variable of its own) from inside a turn of its own loop.
    bool performAtOnce(std::function<void()> fn, const std::string& mode = kCommonModes);
    // A one-shot timer in the default mode that runs fn after `delay` seconds.
    Ref<Timer> performAfterDelay(double delay, std::function<void()> fn,
                                 const std::string& mode = kDefaultMode);

    // --- Timers and sources (any thread) ----------------------------------
    // Schedules the timer here in `mode` (a timer belongs to one loop; adding
    // it to another throws InvalidArgumentException). Its first fire date is
    // now + interval unless one was set already.
    void addTimer(const Ref<Timer>& timer, const std::string& mode = kDefaultMode);
    // Takes the timer out of `mode` (kCommonModes: every mode). Out of its
    // last mode it leaves the loop but stays valid with its fire date; it
    // can be added again (to this or another loop).
    void removeTimer(Timer& timer, const std::string& mode);
    // Watches a descriptor in `mode`; a source belongs to one loop.
    void addSource(const Ref<FdSource>& source, const std::string& mode = kDefaultMode);
    // Stops watching in `mode` (the source stays valid and can be added
    // again); with kCommonModes, in every mode.
    void removeSource(FdSource& source, const std::string& mode = kDefaultMode);
    // Shorthand: make a source for fd and add it in `mode`.
    Ref<FdSource> addFd(int fd, unsigned events, FdSource::Callback cb,
                        const std::string& mode = kDefaultMode);

    // --- Running (owner thread only) --------------------------------------
    // Runs in `mode` until at least one timer, call or source was handled,
    // stop() was called, or `timeoutSeconds` of real time passed. Returns
    // whether something was handled.
    bool runMode(const std::string& mode, double timeoutSeconds);
    // Runs in `mode` until condition() is true (checked before each turn
    // and after each), stop(), or the time-out. Returns condition()'s last
    // answer. Another thread that makes the condition true must also wake
    // the loop (by performing on it, or wakeUp()), or it is only seen after
    // the loop's next event.
    bool runUntil(const std::function<bool()>& condition, double timeoutSeconds,
                  const std::string& mode = kDefaultMode);
    // One turn without blocking: fires due timers, runs queued calls and
    // handles ready descriptors. Returns whether anything was handled.
    bool runOnce(const std::string& mode = kDefaultMode);
    // Runs in the default mode until stop().
    void run();
    // Makes the innermost running runMode/runUntil/run return; when the loop
    // is not running, the next one returns at once. Safe from any thread.
    void stop();
    // Mode of the innermost run, or the default mode when not running.
    std::string currentMode() const;
    bool isRunning() const { return depth_ > 0; }
    // Wakes a blocked turn (safe from any thread).
    void wakeUp();
    // How many wake-ups this loop has been sent so far (calls queued
    // together share one; see WakeUpBatch).
    uint64_t wakeUpsSent() const { return wakeUpsSent_.load(std::memory_order_relaxed); }
    // True once the owning thread has ended; calls queued then are dropped.
    bool isFinished() const;
    // Whether the calling thread owns this loop.
    bool isCurrent() const;

private:
    friend class Timer;
    friend class FdSource;
    friend class ManualClock;
    struct Call {
        std::function<void()> fn;
        const std::string* mode;  // interned: queueing a call allocates no name
        uint64_t seq;
    };
    // The one lasting copy of a mode name.
    static const std::string* internedMode(const std::string& mode);
    static bool callRunsIn(const Call& call, const std::string* mode);
    // Queues fn; false when the loop's thread has ended.
    bool enqueue(std::function<void()> fn, const std::string& mode);
    // Moves the calls queued for `mode` into callsInHand_, in order, and
    // answers the number the next queued call will get.
    uint64_t takeQueuedCalls(const std::string* mode);
    explicit RunLoop(long ownerTid);
    static Ref<RunLoop> makeForThread(long tid);
    void checkOwner(const char* what) const;
    // One turn; returns the number of items handled.
    int turn(const std::string* mode, double waitSeconds, bool pollFds);
    int fireDueTimers(const std::string* mode);
    int runQueuedCalls(const std::string* mode);
    // Fires the ready source; returns whether its callback ran.
    bool fireSource(FdSource& source, short revents, const std::string* mode);
    // Earliest valid timer in mode (NaN when none).
    double nextTimerDate(const std::string& mode);
    // Something about this loop's timers changed (added, removed, moved).
    void timersChanged() { timerEpoch_.fetch_add(1, std::memory_order_acq_rel); }
    // For ManualClock::advance: runs due timers and queued calls until quiet.
    void serviceDue();
    void dropTimer(Timer* timer);
    void removeSourceAll(FdSource* source);
    void finish();  // the owning thread is ending
    // Forgets the loop in every timer and source still on it.
    void detachAll(std::vector<Ref<Timer>>& timers, std::vector<Ref<FdSource>>& sources);

    long ownerTid_;
    int wakeFd_ = -1;
    // Set by the wake-up that wrote to wakeFd_ and cleared by the turn that
    // drains it: any number of calls queued from other threads before that
    // turn takes them cost one write and one wake-up.
    std::atomic<bool> wakePending_{false};
    std::atomic<uint64_t> wakeUpsSent_{0};
    mutable std::mutex mutex_;
    Ref<Clock> clock_;
    // The clock read by now() without the lock; clocks replaced by
    // setClock() are kept until the loop goes, so a reader never sees one
    // destroyed.
    std::atomic<Clock*> currentClock_;
    std::vector<Ref<Clock>> replacedClocks_;
    // Changes with every timer added, removed or moved: a turn that found
    // no timer due before it waited and sees the same number after needs
    // only to compare the clock with the earliest date it found.
    std::atomic<uint64_t> timerEpoch_{0};
    // Calls in calls_, so that a turn with nothing queued takes no lock.
    std::atomic<size_t> queuedCount_{0};
    // Queued by any thread; a vector, so that its room stays with the loop
    // and a drain frees nothing another thread allocated.
    std::vector<Call> calls_;
    // Owner-thread state: calls taken from calls_ in one go and not run yet
    // (a call that runs the loop again lets the nested run take the rest).
    std::deque<Call> callsInHand_;
    std::vector<Ref<Timer>> timers_;
    std::vector<Ref<FdSource>> sources_;
    std::atomic<uint64_t> nextSeq_{1};  // written under mutex_
    bool finished_ = false;
    std::atomic<bool> stopRequested_{false};
    // Owner-thread state.
    std::atomic<int> depth_{0};
    std::vector<const std::string*> modeStack_;  // interned
    // Room for a turn's poll list, kept between turns (a nested turn makes
    // its own).
    std::vector<pollfd> sparePollFds_;
    std::vector<Ref<FdSource>> spareWatched_;

    friend struct LoopHolder;
    friend class Thread;
};

// Runs fn on `target`'s thread. With waitUntilDone, blocks until it has run
// (an exception it throws is rethrown here); when the caller already is on
// that thread, fn runs at once. Without waiting, it is queued and the loop
// woken. Returns false when the target thread has ended (fn is not run).
bool performOnThread(RunLoop& target, std::function<void()> fn, bool waitUntilDone,
                     const std::string& mode = RunLoop::kCommonModes);
bool performOnMainThread(std::function<void()> fn, bool waitUntilDone,
                         const std::string& mode = RunLoop::kCommonModes);

}  // namespace ns
