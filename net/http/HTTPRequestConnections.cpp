// HTTPRequest: the persistent-connection records, scheduling read streams,
// the network activity indicator, and the process-wide bandwidth throttle
// (also applied only while on WWAN).
#include "net/http/HTTPRequestInternal.h"
#include "platform/foundation/NotificationCenter.h"

namespace http {


// ---- Connection records -------------------------------------------------------------

void HTTPRequest::expirePersistentConnections() {
    std::vector<ns::Ref<net::HTTPReadStream>> toClose;
    {
        std::lock_guard<std::recursive_mutex> g(engine::connectionsLock());
        double now = engine::steadyNow();
        auto& pool = engine::connectionPool();
        for (auto it = pool.begin(); it != pool.end();) {
            auto& r = *it;
            if (r->request == 0 && r->expires > 0 && r->expires <= now) {
                if (r->stream) toClose.push_back(r->stream);
                it = pool.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Streams belong to their requests' threads: only their idle connections go.
    for (auto& s : toClose) s->closeHandedBackConnection();
}

size_t HTTPRequest::persistentConnectionCount() {
    std::lock_guard<std::recursive_mutex> g(engine::connectionsLock());
    return engine::connectionPool().size();
}

int HTTPRequest::connectionID() const {
    std::lock_guard<std::recursive_mutex> g(engine::connectionsLock());
    return connectionInfo_ ? connectionInfo_->id : 0;
}

void HTTPRequest::chooseConnection() {
    expirePersistentConnections();
    std::lock_guard<std::recursive_mutex> g(engine::connectionsLock());
    auto& pool = engine::connectionPool();
    std::string host(url_->host() ? url_->host()->utf8() : "");
    std::string scheme(url_->scheme() ? url_->scheme()->utf8() : "");
    int port = url_->port() ? static_cast<int>(url_->port()->longValue()) : 0;
    if (host.empty() || scheme.empty()) {
        connectionInfo_ = nullptr;
        shouldAttemptPersistentConnection_ = false;
    }
    if (!shouldAttemptPersistentConnection_) {
        readStream_->setAttemptPersistentConnection(false);
        return;
    }
    double now = engine::steadyNow();
    if (connectionInfo_) {
        auto& r = connectionInfo_;
        bool expired = r->expires > 0 && r->expires < now && r->request == 0;
        bool sameServer = r->host == host && r->scheme == scheme && r->port == port;
        bool heldByOther = r->request != 0 && r->request != requestIDValue_;
        if (expired) std::erase(pool, r);
        if (expired || !sameServer || heldByOther) connectionInfo_ = nullptr;
    }
    if (!connectionInfo_) {
        for (auto& r : pool)
            if (r->request == 0 && r->host == host && r->scheme == scheme && r->port == port) connectionInfo_ = r;
    }
    if (!connectionInfo_) {
        auto r = ns::make<ConnectionRecord>();
        r->id = engine::nextConnectionNumber();
        r->host = host;
        r->port = port;
        r->scheme = scheme;
        pool.push_back(r);
        connectionInfo_ = r;
    }
    if (!requestIDValue_) requestIDValue_ = engine::nextRequestNumber();
    connectionInfo_->request = requestIDValue_;
    previousStream_ = connectionInfo_->stream;
    connectionInfo_->stream = readStream_;
    readStream_->setAttemptPersistentConnection(true);
    readStream_->setStreamID(connectionInfo_->id);
}

void HTTPRequest::releaseConnectionAfterCompletion() {
    std::lock_guard<std::recursive_mutex> g(engine::connectionsLock());
    if (!connectionCanBeReused_) unscheduleReadStream();
    if (connectionInfo_) {
        connectionInfo_->request = 0;
        connectionInfo_->expires = engine::steadyNow() + persistentConnectionTimeoutSeconds_;
    }
}

void HTTPRequest::removeFromConnectionPool() {
    std::lock_guard<std::recursive_mutex> g(engine::connectionsLock());
    if (!connectionInfo_) return;
    connectionInfo_->request = 0;
    std::erase(engine::connectionPool(), connectionInfo_);
    connectionInfo_ = nullptr;
}

void HTTPRequest::refreshConnectionExpiry() {
    std::lock_guard<std::recursive_mutex> g(engine::connectionsLock());
    if (connectionInfo_) connectionInfo_->expires = engine::steadyNow() + persistentConnectionTimeoutSeconds_;
}

bool HTTPRequest::retryUsingNewConnection() {
    if (retryCount_ != 0) return false;
    willRetryRequest_ = true;
    cancelLoad();
    willRetryRequest_ = false;
    removeFromConnectionPool();
    ++retryCount_;
    startRequest();
    return true;
}

// ---- Scheduling ------------------------------------------------------------------------

void HTTPRequest::scheduleReadStream() {
    if (!readStream_ || readStreamIsScheduled_ || !loop_) return;
    {
        std::lock_guard<std::recursive_mutex> g(engine::connectionsLock());
        ++engine::runningStreams();
        if (engine::shouldUpdateIndicator()) showNetworkActivityIndicator();
    }
    lastActivityTime_ = loop_->now();
    readStream_->scheduleInRunLoop(*loop_, runLoopMode_);
    readStreamIsScheduled_ = true;
}

void HTTPRequest::unscheduleReadStream() {
    if (!readStream_ || !readStreamIsScheduled_) return;
    {
        std::lock_guard<std::recursive_mutex> g(engine::connectionsLock());
        --engine::runningStreams();
        if (engine::shouldUpdateIndicator() && engine::runningStreams() == 0)
            ns::performOnMainThread([] { hideNetworkActivityIndicatorAfterDelay(); }, ns::RunLoop::isMainThread());
    }
    readStream_->unscheduleFromRunLoop(*loop_, runLoopMode_);
    readStreamIsScheduled_ = false;
}

void HTTPRequest::destroyReadStream() {
    if (!readStream_) return;
    unscheduleReadStream();
    readStream_->setClient(0, nullptr);
    if (!connectionCanBeReused_) readStream_->close();
    readStream_ = nullptr;
}

// ---- Activity indicator --------------------------------------------------------------------

bool HTTPRequest::isNetworkInUse() {
    std::lock_guard<std::recursive_mutex> g(engine::connectionsLock());
    return engine::runningStreams() != 0;
}
void HTTPRequest::setShouldUpdateNetworkActivityIndicator(bool v) {
    std::lock_guard<std::recursive_mutex> g(engine::connectionsLock());
    engine::shouldUpdateIndicator() = v;
}
bool HTTPRequest::isNetworkActivityIndicatorVisible() {
    std::lock_guard<std::recursive_mutex> g(engine::connectionsLock());
    return engine::indicatorVisible();
}
void HTTPRequest::showNetworkActivityIndicator() {
    std::lock_guard<std::recursive_mutex> g(engine::connectionsLock());
    engine::indicatorVisible() = true;
}
void HTTPRequest::hideNetworkActivityIndicator() {
    std::lock_guard<std::recursive_mutex> g(engine::connectionsLock());
    engine::indicatorVisible() = false;
}
void HTTPRequest::hideNetworkActivityIndicatorAfterDelay() {
    // One pending check at a time: streams that end in quick succession
    // would otherwise pile up a timer each.
    static bool pending = false;
    {
        std::lock_guard<std::recursive_mutex> g(engine::connectionsLock());
        if (pending) return;
        pending = true;
    }
    ns::RunLoop::current()->performAfterDelay(0.5, [] {
        {
            std::lock_guard<std::recursive_mutex> g(engine::connectionsLock());
            pending = false;
        }
        hideNetworkActivityIndicatorIfNeeeded();
    }, ns::RunLoop::kCommonModes);
}
void HTTPRequest::hideNetworkActivityIndicatorIfNeeeded() {
    std::lock_guard<std::recursive_mutex> g(engine::connectionsLock());
    if (engine::runningStreams() == 0) hideNetworkActivityIndicator();
}

// ---- Bandwidth --------------------------------------------------------------------------------

bool HTTPRequest::isBandwidthThrottled() {
    std::lock_guard<std::mutex> g(engine::bandwidthLock());
    auto& b = engine::bandwidth();
    return b.onWWAN || (b.maxPerSecond > 0 && !b.wwanOnly);
}

uint64_t HTTPRequest::maxBandwidthPerSecond() {
    std::lock_guard<std::mutex> g(engine::bandwidthLock());
    return engine::bandwidth().maxPerSecond;
}

void HTTPRequest::setMaxBandwidthPerSecond(uint64_t bytes) {
    std::lock_guard<std::mutex> g(engine::bandwidthLock());
    auto& b = engine::bandwidth();
    b.maxPerSecond = bytes;
    // A new limit starts from nothing used: bytes that went through before
    // it (unlimited, a burst of megabytes) would otherwise put every request
    // to sleep for minutes.
    b.usedInWindow = 0;
    b.wakeUp = 0;
}

void HTTPRequest::incrementBandwidthUsedInLastSecond(uint64_t bytes) {
    std::lock_guard<std::mutex> g(engine::bandwidthLock());
    engine::bandwidth().usedInWindow += bytes;
}

// Under the bandwidth lock.
void HTTPRequest::recordBandwidthUsage() {
    auto& b = engine::bandwidth();
    double now = engine::steadyNow();
    if (b.usedInWindow == 0) {
        b.samples.clear();
    } else if (b.windowEnd > 0) {
        long behind = static_cast<long>(now - b.windowEnd);
        while (behind-- > 0 && b.samples.size() > 5) b.samples.pop_front();
    }
    b.samples.push_back(b.usedInWindow);
    while (b.samples.size() > 6) b.samples.pop_front();
    b.windowEnd = now + 1.0;
    b.usedInWindow = 0;
    uint64_t sum = 0;
    for (uint64_t s : b.samples) sum += s;
    b.average = b.samples.empty() ? 0 : sum / b.samples.size();
}

void HTTPRequest::measureBandwidthUsage() {
    std::lock_guard<std::mutex> g(engine::bandwidthLock());
    auto& b = engine::bandwidth();
    double now = engine::steadyNow();
    if (b.windowEnd == 0 || b.windowEnd <= now) recordBandwidthUsage();
    bool throttled = b.onWWAN || (b.maxPerSecond > 0 && !b.wwanOnly);
    if (throttled && b.maxPerSecond > 0 && b.usedInWindow > b.maxPerSecond) {
        double excess = static_cast<double>(b.usedInWindow - b.maxPerSecond);
        b.wakeUp = b.windowEnd + excess / static_cast<double>(b.maxPerSecond);
    }
}

uint64_t HTTPRequest::averageBandwidthUsedPerSecond() {
    std::lock_guard<std::mutex> g(engine::bandwidthLock());
    return engine::bandwidth().average;
}

uint64_t HTTPRequest::maxUploadReadLength() {
    std::lock_guard<std::mutex> g(engine::bandwidthLock());
    auto& b = engine::bandwidth();
    double now = engine::steadyNow();
    uint64_t answer = 0;
    if (b.maxPerSecond > 0) {
        answer = b.maxPerSecond / 4;
        if (b.usedInWindow + answer > b.maxPerSecond)
            answer = b.usedInWindow >= b.maxPerSecond ? 0 : b.maxPerSecond - b.usedInWindow;
    }
    if (answer == 0 || b.windowEnd == 0 || b.windowEnd <= now) b.wakeUp = b.windowEnd;
    return answer;
}

void HTTPRequest::performThrottling() {
    if (!readStream_) return;
    measureBandwidthUsage();
    double wakeUp;
    bool throttled;
    {
        std::lock_guard<std::mutex> g(engine::bandwidthLock());
        auto& b = engine::bandwidth();
        throttled = b.onWWAN || (b.maxPerSecond > 0 && !b.wwanOnly);
        wakeUp = b.wakeUp;
    }
    if (throttled) {
        if (wakeUp > 0) {
            if (wakeUp > engine::steadyNow()) {
                if (readStreamIsScheduled_) unscheduleReadStream();
            } else if (!readStreamIsScheduled_) {
                scheduleReadStream();
            }
        }
    } else if (!readStreamIsScheduled_) {
        scheduleReadStream();
    }
}

// ---- WWAN --------------------------------------------------------------------------------

bool HTTPRequest::isNetworkReachableViaWWAN() {
    auto r = Reachability::reachabilityForInternetConnection();
    return r && r->currentReachabilityStatus() == ReachableViaWWAN;
}

void HTTPRequest::setShouldThrottleBandwidthForWWAN(bool v) {
    if (v) {
        throttleBandwidthForWWANUsingLimit(kWWANBandwidthLimit);
        return;
    }
    ns::ObserverToken observer;  // removed outside the lock
    ns::Ref<Reachability> reachability;
    {
        std::lock_guard<std::mutex> g(engine::bandwidthLock());
        auto& b = engine::bandwidth();
        observer = std::move(b.observer);
        reachability = std::move(b.reachability);
        b.maxPerSecond = 0;
        b.wwanOnly = false;
        b.onWWAN = false;
        b.wakeUp = 0;
    }
    if (reachability) reachability->stopNotifier();
}

void HTTPRequest::throttleBandwidthForWWANUsingLimit(uint64_t limit) {
    {
        std::lock_guard<std::mutex> g(engine::bandwidthLock());
        auto& b = engine::bandwidth();
        b.wwanOnly = true;
        b.maxPerSecond = limit;
    }
    auto reachability = Reachability::reachabilityForInternetConnection();
    ns::ObserverToken observer;
    if (reachability) {
        reachability->startNotifier();
        observer = ns::NotificationCenter::defaultCenter()->addObserver(
            kReachabilityChangedNotification, nullptr, [](const ns::Notification&) {
                bool wwan = isNetworkReachableViaWWAN();
                std::lock_guard<std::mutex> g(engine::bandwidthLock());
                engine::bandwidth().onWWAN = wwan;
            });
    }
    bool wwan = isNetworkReachableViaWWAN();
    std::lock_guard<std::mutex> g(engine::bandwidthLock());
    auto& b = engine::bandwidth();
    b.reachability = reachability;
    b.observer = std::move(observer);
    b.onWWAN = wwan;
}

}  // namespace http
