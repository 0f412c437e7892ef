// Timers fire a callback on the run loop they are scheduled on, at times
// taken from that loop's clock. A repeating timer keeps its cadence: each
// next fire date is the previous one plus the interval; fire dates missed
// while the loop was busy are skipped rather than fired in a burst.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Object.h"
#include "platform/foundation/RunLoop.h"

namespace ns {

class RunLoop;

class Timer : public Object {
public:
    using Callback = std::function<void(Timer&)>;

    // A timer not yet scheduled; RunLoop::addTimer puts it on a loop, with
    // its first fire date `interval` seconds after that moment.
    static Ref<Timer> make(double interval, bool repeats, Callback callback);
    static Ref<Timer> make(double interval, bool repeats, std::function<void()> callback);

    // Makes a timer and schedules it on the current thread's run loop in the
    // default mode. The run loop keeps it until it is invalidated (a
    // one-shot timer invalidates itself after firing).
    static Ref<Timer> scheduledTimer(double interval, bool repeats, Callback callback);
    static Ref<Timer> scheduledTimer(double interval, bool repeats, std::function<void()> callback);

    const char* className() const override { return "Timer"; }

    // Stops the timer for good and drops its callback (and what it holds).
    // Safe from any thread and from inside the callback.
    void invalidate();
    bool isValid() const;

    double interval() const { return interval_; }
    bool repeats() const { return repeats_; }
    // Next fire date on the loop's clock (NaN while unscheduled).
    double fireDate() const;
    // Moves the next fire date (for example to postpone a timeout).
    void setFireDate(double date);
    // Runs the callback now without changing the schedule; a one-shot timer
    // is invalidated by it, as when it fires on time.
    void fire();

    ~Timer() override;

private:
    friend class RunLoop;
    Timer(double interval, bool repeats, Callback cb);
    // Takes the callback out for one run (nil when invalid).
    Callback callbackForFiring();

    const double interval_;
    const bool repeats_;
    mutable std::mutex mutex_;
    Callback callback_;  // guarded by mutex_
    // Read by the loop's turn without a lock; written under mutex_.
    std::atomic<bool> valid_{true};
    std::atomic<double> fireDate_;
    // The loop the timer is on: guarded by mutex_ (and set under the loop's
    // lock). A loop lets go of its timers before it goes, so a timer never
    // points at a loop that is gone.
    RunLoop* loop_ = nullptr;
    // Scheduling state, guarded by the owning loop's lock.
    ModeSet modes_;
    uint64_t seq_ = 0;
};

}  // namespace ns
