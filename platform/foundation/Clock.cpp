#include "platform/foundation/Clock.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "platform/foundation/RunLoop.h"

namespace ns {

Clock::~Clock() = default;

double SystemClock::now() const {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

Ref<SystemClock> SystemClock::shared() {
    static SystemClock* const clock = [] {
        auto* c = new SystemClock;
        c->makeImmortal();
        return c;
    }();
    return Ref<SystemClock>(clock);
}

void ManualClock::attach(RunLoop* loop) {
    std::lock_guard<std::mutex> g(mutex_);
    loops_.erase(std::remove_if(loops_.begin(), loops_.end(),
                                [&](const Weak<RunLoop>& w) { return w.expired() || w.pointsTo(loop); }),
                 loops_.end());
    loops_.emplace_back(loop);
}

void ManualClock::detach(RunLoop* loop) {
    std::lock_guard<std::mutex> g(mutex_);
    loops_.erase(std::remove_if(loops_.begin(), loops_.end(),
                                [&](const Weak<RunLoop>& w) { return w.expired() || w.pointsTo(loop); }),
                 loops_.end());
}

void ManualClock::advance(double seconds) {
    if (!(seconds > 0)) seconds = 0;
    const double target = now() + seconds;

    std::vector<Ref<RunLoop>> local, remote;
    {
        std::lock_guard<std::mutex> g(mutex_);
        for (const auto& w : loops_) {
            if (Ref<RunLoop> loop = w.lock()) {
                if (loop->clock().get() != this) continue;
                (loop->isCurrent() ? local : remote).push_back(loop);
            }
        }
    }

    // What is due already (deferred calls, late timers) runs at today's time.
    for (auto& loop : local) loop->serviceDue();
    // Step through the window one fire date at a time so that every timer
    // sees the time it was due at, and what it schedules can fire too.
    for (;;) {
        double earliest = std::nan("");
        for (auto& loop : local) {
            double d = loop->nextTimerDate(loop->currentMode());
            if (!std::isnan(d) && (std::isnan(earliest) || d < earliest)) earliest = d;
        }
        if (std::isnan(earliest) || earliest > target) break;
        if (earliest > now()) now_.store(earliest, std::memory_order_release);
        for (auto& loop : local) loop->serviceDue();
    }
    if (target > now()) now_.store(target, std::memory_order_release);
    for (auto& loop : local) loop->serviceDue();
    for (auto& loop : remote) loop->wakeUp();
}

}  // namespace ns
