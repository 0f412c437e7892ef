// BandwidthThrottle: the process-wide budget of bytes per second shared by
// every request (downloads and uploads), in one-second windows; an average
// over the last windows; and the wake-up time until which streams stay
// paused once a window's budget is spent. A limit may apply always, or only
// while the network is reached over WWAN.
//
// Times are steady seconds passed in by the caller, so the arithmetic is
// tested without waiting; the engine passes the throttle's clock (the
// system clock unless a test sets a manual one with setClock). Its lock is
// plain, guards only the fields below and is never held while calling out.
// Whether a limit applies and the wake-up time are also kept where every
// request's reads find them without the lock (they change rarely).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/foundation/Clock.h"

namespace http {

class BandwidthThrottle {
public:
    // The engine's one budget.
    static BandwidthThrottle& shared();

    // The time the engine reads for the budget: the clock's (nil: the
    // system clock). Setting one starts the budget afresh (no window, no
    // pause), since times of two clocks do not compare.
    double now() const { return clock_.load(std::memory_order_acquire)->now(); }
    void setClock(ns::Ref<ns::Clock> clock);

    // Whether reads are limited now: a limit that applies always, or a WWAN
    // limit while on WWAN.
    bool isThrottled() const;
    uint64_t maxPerSecond() const;
    // 0 lifts the limit (and any pause).
    void setMaxPerSecond(uint64_t bytes);
    // A limit that applies only while onWWAN (setOnWWAN) is true.
    void limitOnWWANOnly(uint64_t bytes);
    void setOnWWAN(bool onWWAN);
    // Lifts any limit, WWAN or not.
    void lift();

    // Counts bytes read or written in the current window.
    void addUsed(uint64_t bytes);
    // Closes the window when it is over (recording it for the average) and,
    // when the window's use passed the limit, sets the wake-up time.
    void measure(double now);
    uint64_t averagePerSecond() const;
    // Streams stay paused until then (0: no pause).
    double wakeUp() const;
    bool isPausedAt(double now) const { return wakeUp() > now; }
    // How much one download read may take: `size`, or a quarter of what is
    // left of this window's budget (at least 1) when throttled.
    size_t readAllowance(size_t size) const;
    // How much one upload read may take now: a quarter of the budget opens
    // at the window's start and one more each quarter second, so a body
    // leaves at the limit's pace rather than in one burst a second; at most
    // a quarter of the limit per read, 0 while nothing is open (the body
    // stream then has nothing to give until later). 0 without a limit.
    uint64_t uploadAllowance(double now);

private:
    bool throttledLocked() const { return onWWAN_ || (maxPerSecond_ > 0 && !wwanOnly_); }
    // Copies the settings' answers for the readers without the lock.
    void settingsChangedLocked();
    void recordWindow(double now);

    mutable std::mutex lock_;
    std::atomic<ns::Clock*> clock_{ns::SystemClock::shared().get()};
    std::vector<ns::Ref<ns::Clock>> clocks_;  // every clock set, kept so now() never dangles
    uint64_t maxPerSecond_ = 0;
    uint64_t usedInWindow_ = 0;
    double windowEnd_ = 0;  // 0: no window yet
    std::deque<uint64_t> samples_;
    uint64_t average_ = 0;
    std::atomic<double> wakeUp_{0};  // written under lock_
    bool wwanOnly_ = false;
    bool onWWAN_ = false;
    std::atomic<bool> throttled_{false};     // throttledLocked()
    std::atomic<bool> readsLimited_{false};  // throttled with a limit
};

}  // namespace http
