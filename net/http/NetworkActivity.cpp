// NetworkActivity: the running-stream count and the indicator.
#include "net/http/NetworkActivity.h"

namespace http {

NetworkActivity& NetworkActivity::shared() {
    static auto& activity = *new NetworkActivity;  // never destroyed: used by request threads at exit
    return activity;
}

void NetworkActivity::streamScheduled() {
    std::lock_guard<std::mutex> g(lock_);
    ++running_;
    if (shouldUpdate_) visible_ = true;
}

bool NetworkActivity::streamUnscheduled() {
    std::lock_guard<std::mutex> g(lock_);
    if (running_ > 0) --running_;
    return shouldUpdate_ && running_ == 0;
}

bool NetworkActivity::isNetworkInUse() const {
    std::lock_guard<std::mutex> g(lock_);
    return running_ != 0;
}

void NetworkActivity::setShouldUpdateIndicator(bool update) {
    std::lock_guard<std::mutex> g(lock_);
    shouldUpdate_ = update;
}

bool NetworkActivity::isIndicatorVisible() const {
    std::lock_guard<std::mutex> g(lock_);
    return visible_;
}

void NetworkActivity::setIndicatorVisible(bool visible) {
    std::lock_guard<std::mutex> g(lock_);
    visible_ = visible;
}

bool NetworkActivity::beginDelayedHide() {
    std::lock_guard<std::mutex> g(lock_);
    if (hidePending_) return false;
    hidePending_ = true;
    return true;
}

void NetworkActivity::endDelayedHide() {
    std::lock_guard<std::mutex> g(lock_);
    hidePending_ = false;
    if (running_ == 0) visible_ = false;
}

void NetworkActivity::hideIndicatorIfIdle() {
    std::lock_guard<std::mutex> g(lock_);
    if (running_ == 0) visible_ = false;
}

}  // namespace http
