// NetworkActivity: how many request streams are scheduled in the process,
// and the network activity indicator that follows them (shown while one
// runs, hidden a moment after the last stopped, unless the caller switched
// the updates off). A process-wide flag stands for the indicator: the
// headless interface has no status bar.
//
// Its plain lock guards only the fields below and is never held while
// calling out; the delayed hide itself is scheduled by the engine.
#pragma once

#include <mutex>

namespace http {

class NetworkActivity {
public:
    static NetworkActivity& shared();

    // A stream was scheduled: counts it and shows the indicator.
    void streamScheduled();
    // A stream was unscheduled; true when it was the last one and the
    // indicator is to be hidden later (see beginDelayedHide).
    bool streamUnscheduled();
    bool isNetworkInUse() const;
    void setShouldUpdateIndicator(bool update);
    bool isIndicatorVisible() const;
    void setIndicatorVisible(bool visible);
    // One delayed hide at a time: true when none was pending (the caller
    // then schedules one and calls endDelayedHide when it is due).
    bool beginDelayedHide();
    // Ends the pending delayed hide, hiding the indicator when no stream runs.
    void endDelayedHide();
    void hideIndicatorIfIdle();

private:
    mutable std::mutex lock_;
    int running_ = 0;
    bool shouldUpdate_ = true;
    bool visible_ = false;
    bool hidePending_ = false;
};

}  // namespace http
