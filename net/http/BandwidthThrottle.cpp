// BandwidthThrottle: per-second windows, their average and the wake-up time.
#include "net/http/BandwidthThrottle.h"

#include <algorithm>

namespace http {

BandwidthThrottle& BandwidthThrottle::shared() {
    static auto& throttle = *new BandwidthThrottle;  // never destroyed: used by request threads at exit
    return throttle;
}

void BandwidthThrottle::setClock(ns::Ref<ns::Clock> clock) {
    if (!clock) clock = ns::SystemClock::shared();
    std::lock_guard<std::mutex> g(lock_);
    clocks_.push_back(clock);
    clock_.store(clock.get(), std::memory_order_release);
    windowEnd_ = 0;  // the next measure opens a window, dropping the samples
    usedInWindow_ = 0;
    average_ = 0;
    wakeUp_ = 0;
}

bool BandwidthThrottle::isThrottled() const { return throttled_.load(std::memory_order_acquire); }

void BandwidthThrottle::settingsChangedLocked() {
    throttled_.store(throttledLocked(), std::memory_order_release);
    readsLimited_.store(throttledLocked() && maxPerSecond_ > 0, std::memory_order_release);
}

uint64_t BandwidthThrottle::maxPerSecond() const {
    std::lock_guard<std::mutex> g(lock_);
    return maxPerSecond_;
}

void BandwidthThrottle::setMaxPerSecond(uint64_t bytes) {
    std::lock_guard<std::mutex> g(lock_);
    maxPerSecond_ = bytes;
    // A new limit starts from nothing used: bytes that went through before
    // it (unlimited, a burst of megabytes) would otherwise put every request
    // to sleep for minutes.
    usedInWindow_ = 0;
    wakeUp_ = 0;
    settingsChangedLocked();
}

void BandwidthThrottle::limitOnWWANOnly(uint64_t bytes) {
    std::lock_guard<std::mutex> g(lock_);
    wwanOnly_ = true;
    maxPerSecond_ = bytes;
    settingsChangedLocked();
}

void BandwidthThrottle::setOnWWAN(bool onWWAN) {
    std::lock_guard<std::mutex> g(lock_);
    onWWAN_ = onWWAN;
    settingsChangedLocked();
}

void BandwidthThrottle::lift() {
    std::lock_guard<std::mutex> g(lock_);
    maxPerSecond_ = 0;
    wwanOnly_ = false;
    onWWAN_ = false;
    wakeUp_ = 0;
    settingsChangedLocked();
}

void BandwidthThrottle::addUsed(uint64_t bytes) {
    std::lock_guard<std::mutex> g(lock_);
    usedInWindow_ += bytes;
}

// Under the lock. Windows that passed with nothing read drop the samples.
void BandwidthThrottle::recordWindow(double now) {
    if (usedInWindow_ == 0) {
        samples_.clear();
    } else if (windowEnd_ > 0) {
        long behind = static_cast<long>(now - windowEnd_);
        while (behind-- > 0 && samples_.size() > 5) samples_.pop_front();
    }
    samples_.push_back(usedInWindow_);
    while (samples_.size() > 6) samples_.pop_front();
    windowEnd_ = now + 1.0;
    usedInWindow_ = 0;
    uint64_t sum = 0;
    for (uint64_t s : samples_) sum += s;
    average_ = samples_.empty() ? 0 : sum / samples_.size();
}

void BandwidthThrottle::measure(double now) {
    std::lock_guard<std::mutex> g(lock_);
    if (windowEnd_ == 0 || windowEnd_ <= now) recordWindow(now);
    if (throttledLocked() && maxPerSecond_ > 0 && usedInWindow_ > maxPerSecond_) {
        double excess = static_cast<double>(usedInWindow_ - maxPerSecond_);
        wakeUp_.store(windowEnd_ + excess / static_cast<double>(maxPerSecond_), std::memory_order_release);
    }
}

uint64_t BandwidthThrottle::averagePerSecond() const {
    std::lock_guard<std::mutex> g(lock_);
    return average_;
}

double BandwidthThrottle::wakeUp() const { return wakeUp_.load(std::memory_order_acquire); }

size_t BandwidthThrottle::readAllowance(size_t size) const {
    if (!readsLimited_.load(std::memory_order_acquire)) return size;
    std::lock_guard<std::mutex> g(lock_);
    if (!throttledLocked() || maxPerSecond_ == 0) return size;
    uint64_t left = usedInWindow_ >= maxPerSecond_ ? 0 : maxPerSecond_ - usedInWindow_;
    size_t allowance = left < 4 ? 1 : static_cast<size_t>(left / 4);
    return std::min(size, allowance);
}

uint64_t BandwidthThrottle::uploadAllowance(double now) {
    std::lock_guard<std::mutex> g(lock_);
    if (maxPerSecond_ == 0) return 0;
    if (windowEnd_ == 0 || windowEnd_ <= now) recordWindow(now);
    const double elapsed = std::clamp(now - (windowEnd_ - 1.0), 0.0, 1.0);
    // (A hair of tolerance: a clock moved in steps lands on a quarter as
    // 0.2499999.)
    const uint64_t quartersOpen = std::min<uint64_t>(4, static_cast<uint64_t>(elapsed * 4 + 1e-6) + 1);
    const uint64_t open = maxPerSecond_ / 4 * quartersOpen + (quartersOpen == 4 ? maxPerSecond_ % 4 : 0);
    const uint64_t left = open > usedInWindow_ ? open - usedInWindow_ : 0;
    return std::min(left, std::max<uint64_t>(maxPerSecond_ / 4, 1));
}

}  // namespace http
