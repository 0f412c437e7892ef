// Time sources for run loops. A run loop reads its clock to decide when
// timers are due. The system clock is monotonic wall time; the manual clock
// moves only when a test calls advance(), which fires what became due on the
// run loops that use it, in time order.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/foundation/Object.h"

namespace ns {

class RunLoop;

class Clock : public Object {
public:
    ~Clock() override;
    // Seconds on a monotonic scale; only differences are meaningful.
    virtual double now() const = 0;
    // True for clocks whose time moves only when told to. Run loops never
    // sleep waiting for a timer on such a clock.
    virtual bool isManual() const { return false; }
};

// Monotonic system time (steady clock), in seconds.
class SystemClock : public Clock {
public:
    const char* className() const override { return "SystemClock"; }
    double now() const override;
    // The one instance every run loop uses unless given another clock.
    static Ref<SystemClock> shared();
};

// A clock for tests. Starts at `start` seconds and moves only by advance().
class ManualClock : public Clock {
public:
    explicit ManualClock(double start = 0.0) : now_(start) {}
    const char* className() const override { return "ManualClock"; }
    double now() const override { return now_.load(std::memory_order_acquire); }
    bool isManual() const override { return true; }

    // Moves time forward by `seconds` (negative values count as 0). On every
    // run loop of the calling thread that uses this clock, each timer that
    // falls due within the window fires at its own time, in time order, and
    // the deferred calls that become due run at that time too; timers
    // scheduled by those callbacks fire as well when they fall inside the
    // window. Run loops of other threads that use this clock are woken and
    // fire what is due on their next turn.
    void advance(double seconds);

private:
    friend class RunLoop;
    void attach(RunLoop* loop);
    void detach(RunLoop* loop);

    std::atomic<double> now_;
    std::mutex mutex_;
    std::vector<Weak<RunLoop>> loops_;
};

}  // namespace ns
