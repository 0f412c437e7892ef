#include "platform/foundation/Timer.h"

#include <cmath>

#include "platform/foundation/RunLoop.h"

namespace ns {

Timer::Timer(double interval, bool repeats, Callback cb)
    : interval_(interval > 0 ? interval : 0.0), repeats_(repeats), callback_(std::move(cb)),
      fireDate_(std::nan("")) {}

Timer::~Timer() = default;

Ref<Timer> Timer::make(double interval, bool repeats, Callback callback) {
    return Ref<Timer>(new Timer(interval, repeats, std::move(callback)));
}

Ref<Timer> Timer::make(double interval, bool repeats, std::function<void()> callback) {
    return make(interval, repeats, Callback([cb = std::move(callback)](Timer&) {
                    if (cb) cb();
                }));
}

Ref<Timer> Timer::scheduledTimer(double interval, bool repeats, Callback callback) {
    Ref<Timer> t = make(interval, repeats, std::move(callback));
    RunLoop::current()->addTimer(t, RunLoop::kDefaultMode);
    return t;
}

Ref<Timer> Timer::scheduledTimer(double interval, bool repeats, std::function<void()> callback) {
    Ref<Timer> t = make(interval, repeats, std::move(callback));
    RunLoop::current()->addTimer(t, RunLoop::kDefaultMode);
    return t;
}

void Timer::invalidate() {
    Callback dropped;  // destroyed after the lock is released
    Ref<RunLoop> loop;
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (!valid_.load(std::memory_order_relaxed)) return;
        valid_.store(false, std::memory_order_release);
        dropped = std::move(callback_);
        callback_ = nullptr;
        loop = loop_;
    }
    if (loop) loop->dropTimer(this);
}

bool Timer::isValid() const { return valid_.load(std::memory_order_acquire); }

double Timer::fireDate() const { return fireDate_.load(std::memory_order_acquire); }

void Timer::setFireDate(double date) {
    Ref<RunLoop> loop;
    {
        std::lock_guard<std::mutex> g(mutex_);
        fireDate_.store(date, std::memory_order_release);
        loop = loop_;
    }
    if (!loop) return;
    loop->timersChanged();
    // The loop's own thread looks at its timers again before it next waits.
    if (!loop->isCurrent()) loop->wakeUp();
}

void Timer::fire() {
    auto keep = ns::keepAlive(this);
    Callback cb = callbackForFiring();
    if (!repeats_) invalidate();
    if (cb) cb(*this);
}

Timer::Callback Timer::callbackForFiring() {
    std::lock_guard<std::mutex> g(mutex_);
    return valid_.load(std::memory_order_relaxed) ? callback_ : Callback();
}

}  // namespace ns
