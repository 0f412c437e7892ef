// BandwidthThrottle: the process-wide budget of bytes per second shared by
// every request (downloads and uploads), in one-second windows; an average
// over the last windows; and the wake-up time until which streams stay
// paused once a window's budget is spent. A limit may apply always, or only
// while the network is reached over WWAN.
//
// Times are steady seconds passed in by the caller (the engine passes the
// system clock's), so the arithmetic is tested without waiting. Its lock is
// plain, guards only the fields below and is never held while calling out.
// Whether a limit applies and the wake-up time are also kept where every
// request's reads find them without the lock (they change rarely).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

namespace http {

class BandwidthThrottle {
public:
    // The engine's one budget.
    static BandwidthThrottle& shared();

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
    // How much one upload read may take (0 when the window is spent, which
    // also sets the wake-up time to the window's end).
    uint64_t uploadAllowance(double now);

private:
    bool throttledLocked() const { return onWWAN_ || (maxPerSecond_ > 0 && !wwanOnly_); }
    // Copies the settings' answers for the readers without the lock.
    void settingsChangedLocked();
    void recordWindow(double now);

    mutable std::mutex lock_;
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
