// The status checks of the requests running on one thread's run loop in one
// mode (time-outs, upload progress, throttling), driven by one timer that is
// re-armed rather than a timer made, scheduled and destroyed per request.
//
// Each request keeps its own cadence: it is checked every interval from the
// moment it was added, as a repeating timer of its own would check it, and
// missed checks are skipped, not made in a burst. The timer is armed for the
// earliest check due; it stays on the loop when the last request leaves,
// and is disarmed at its next time if nobody came meanwhile. When the loop changes clocks, the checks keep their remaining time,
// as the loop's timers do. A ticker belongs to its thread: it is used only there, and lives
// as long as the thread.
#pragma once

#include <string>
#include <vector>

#include "platform/foundation/Object.h"
#include "platform/foundation/Timer.h"

namespace http {

class HTTPRequest;

class RequestStatusTicker {
public:
    // The ticker of the calling thread's run loop for `mode`, made on first
    // use; nil once the thread is ending.
    static RequestStatusTicker* current(const std::string& mode);

    // Checks `request` every `interval` seconds from now (in place of an
    // earlier add of the same request). The ticker holds it weakly: a
    // request that goes away is dropped at its next check.
    void add(HTTPRequest& request, const ns::Weak<HTTPRequest>& weak, double interval);
    // No more checks for `request`.
    void remove(const HTTPRequest& request);
    // Requests waiting for a check.
    size_t count() const { return entries_.size(); }

    explicit RequestStatusTicker(const std::string& mode);
    ~RequestStatusTicker();
    RequestStatusTicker(const RequestStatusTicker&) = delete;
    RequestStatusTicker& operator=(const RequestStatusTicker&) = delete;

private:
    struct Entry {
        const HTTPRequest* key;
        ns::Weak<HTTPRequest> request;
        double interval;
        double due;
    };
    void tick(double firedFor);
    // Arms the timer for the earliest check (a new one after it fired).
    void arm();
    // After the loop changed clocks, moves the checks as the loop moved the
    // timer, which was armed for armedFor_ and is now set for `timerDate`.
    void followClock(double timerDate);

    const std::string mode_;
    ns::Ref<ns::RunLoop> loop_;
    const ns::Clock* clock_;  // the loop's clock the due times are on
    ns::Ref<ns::Timer> timer_;
    double armedFor_;
    std::vector<Entry> entries_;
    std::vector<ns::Ref<HTTPRequest>> dueNow_;  // room kept between ticks
};

}  // namespace http
