#include "net/http/RequestStatusTicker.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "net/http/HTTPRequest.h"

namespace http {

namespace {

constexpr double kDisarmed = ns::RunLoop::kDistantFuture;

// The calling thread's tickers, one per mode. `ended` stays readable after
// the list is destroyed at thread exit, so that a request let go of later
// on this thread does not reach for a ticker that is gone.
struct ThreadTickers {
    std::vector<std::unique_ptr<RequestStatusTicker>> tickers;
    ~ThreadTickers();
};
thread_local bool tTickersEnded = false;
thread_local ThreadTickers tTickers;
ThreadTickers::~ThreadTickers() { tTickersEnded = true; }

}  // namespace

RequestStatusTicker* RequestStatusTicker::current(const std::string& mode) {
    if (tTickersEnded) return nullptr;
    for (auto& t : tTickers.tickers)
        if (t->mode_ == mode) return t.get();
    tTickers.tickers.push_back(std::make_unique<RequestStatusTicker>(mode));
    return tTickers.tickers.back().get();
}

RequestStatusTicker::RequestStatusTicker(const std::string& mode)
    : mode_(mode), loop_(ns::RunLoop::current()), clock_(loop_->currentClock()), armedFor_(kDisarmed) {
    arm();
}

RequestStatusTicker::~RequestStatusTicker() { timer_->invalidate(); }

void RequestStatusTicker::add(HTTPRequest& request, const ns::Weak<HTTPRequest>& weak, double interval) {
    followClock(timer_->fireDate());
    remove(request);
    entries_.push_back(Entry{&request, weak, interval, loop_->now() + interval});
    if (entries_.back().due < armedFor_) arm();
}

void RequestStatusTicker::remove(const HTTPRequest& request) {
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.key == &request; });
    if (it == entries_.end()) return;
    entries_.erase(it);
    // The timer stays armed: at its time it finds nothing due and is armed
    // again, or disarmed when nobody waits. A loop running one request after
    // another so never moves it per request.
}

void RequestStatusTicker::followClock(double timerDate) {
    const ns::Clock* clock = loop_->currentClock();
    if (clock == clock_) return;
    clock_ = clock;
    // Disarmed means no request waited since the last check: nothing to move.
    if (armedFor_ == kDisarmed) return;
    const double shift = timerDate - armedFor_;
    for (Entry& e : entries_) e.due += shift;
    armedFor_ = timerDate;
}

void RequestStatusTicker::arm() {
    double earliest = kDisarmed;
    for (const Entry& e : entries_) earliest = std::min(earliest, e.due);
    if (timer_ && timer_->isValid()) {
        if (earliest != armedFor_) timer_->setFireDate(earliest);
    } else {
        // A one-shot timer, so that the date it fired for tells how far a
        // change of clocks moved it. The ticker lives as long as its thread
        // and the timer fires only there, so the callback may name it.
        timer_ = ns::Timer::make(0, false, [this](ns::Timer& fired) { tick(fired.fireDate()); });
        timer_->setFireDate(earliest);
        loop_->addTimer(timer_, mode_);
    }
    armedFor_ = earliest;
}

void RequestStatusTicker::tick(double firedFor) {
    followClock(firedFor);
    const double now = loop_->now();
    dueNow_.clear();
    for (auto it = entries_.begin(); it != entries_.end();) {
        ns::Ref<HTTPRequest> request = it->request.lock();
        if (!request) {
            it = entries_.erase(it);
            continue;
        }
        if (it->due <= now) {
            // The next check keeps the cadence; missed ones are skipped.
            double next = it->due + it->interval;
            if (next <= now) next += std::ceil((now - next) / it->interval + 1e-9) * it->interval;
            if (next <= now) next = now + it->interval;
            it->due = next;
            dueNow_.push_back(std::move(request));
        }
        ++it;
    }
    // Checks may add, remove or finish requests (their own or others');
    // the timer that fired is spent, and arm() makes the next one.
    armedFor_ = -kDisarmed;
    std::vector<ns::Ref<HTTPRequest>> due = std::move(dueNow_);
    for (auto& request : due) {
        auto still = std::find_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& e) { return e.key == request.get(); });
        if (still != entries_.end()) request->updateStatus();
    }
    due.clear();
    dueNow_ = std::move(due);
    arm();
}

}  // namespace http
