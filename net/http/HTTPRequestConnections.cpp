// HTTPRequest: the persistent-connection records, scheduling read streams,
// the network activity indicator, and the process-wide bandwidth throttle
// (also applied only while on WWAN).
#include "net/http/HTTPRequestInternal.h"
#include "platform/foundation/NotificationCenter.h"

namespace http {


// ---- Connection records -------------------------------------------------------------

void HTTPRequest::expirePersistentConnections() {
    // Streams belong to their requests' threads: only their idle connections go.
    for (auto& stream : ConnectionRecords::shared().expire(engine::steadyNow())) stream->closeHandedBackConnection();
}

size_t HTTPRequest::persistentConnectionCount() { return ConnectionRecords::shared().count(); }

int HTTPRequest::connectionID() const { return ConnectionRecords::shared().idOf(connectionInfo_.get()); }

void HTTPRequest::chooseConnection() {
    expirePersistentConnections();
    // The server as main() read it from the URL (scheme and host in lower
    // case, the scheme's port when none is named).
    ConnectionRecords::Server server;
    server.host = target_.host;
    server.scheme = target_.scheme;
    server.port = target_.port;
    if (!shouldAttemptPersistentConnection_) {
        readStream_->setAttemptPersistentConnection(false);
        return;
    }
    if (!requestIDValue_) requestIDValue_ = engine::nextRequestNumber();
    auto choice = ConnectionRecords::shared().choose(connectionInfo_, server, requestIDValue_, readStream_,
                                                  engine::steadyNow());
    connectionInfo_ = std::move(choice.record);
    previousStream_ = std::move(choice.previous);
    readStream_->setAttemptPersistentConnection(true);
    readStream_->setStreamID(connectionInfo_->id);
}

void HTTPRequest::releaseConnectionAfterCompletion() {
    if (!connectionCanBeReused_) unscheduleReadStream();
    if (connectionInfo_)
        ConnectionRecords::shared().release(*connectionInfo_, engine::steadyNow() + persistentConnectionTimeoutSeconds_);
}

void HTTPRequest::removeFromConnectionPool() {
    if (!connectionInfo_) return;
    ConnectionRecords::shared().remove(connectionInfo_);
    connectionInfo_ = nullptr;
}

void HTTPRequest::refreshConnectionExpiry() {
    if (connectionInfo_)
        ConnectionRecords::shared().setExpiry(*connectionInfo_, engine::steadyNow() + persistentConnectionTimeoutSeconds_);
}

bool HTTPRequest::mayResendAfterDrop() const {
    if (readStream_ && readStream_->connectionWasReused() && !readStream_->anyResponseByteReceived()) return true;
    const std::string& m = requestMethod_;
    return m == "GET" || m == "HEAD" || m == "PUT" || m == "DELETE" || m == "OPTIONS";
}

void HTTPRequest::takeBackDownloadSize() {
    if (!downloadSizeAdded_) return;
    auto main = mainRequest();
    HTTPRequest* receiver = main ? main.get() : this;
    receiver->incrementDownloadSizeBy(-std::exchange(downloadSizeAdded_, 0));
}

bool HTTPRequest::retryUsingNewConnection() {
    if (retryCount_ != 0 || !mayResendAfterDrop()) return false;
    takeBackDownloadSize();
    willRetryRequest_ = true;
    cancelLoad();
    willRetryRequest_ = false;
    removeFromConnectionPool();
    ++retryCount_;
    if (askForTheRestOfThePartialFile()) startRequest();
    return true;
}

// ---- Scheduling ------------------------------------------------------------------------

void HTTPRequest::scheduleReadStream() {
    if (!readStream_ || readStreamIsScheduled_ || !loop_) return;
    NetworkActivity::shared().streamScheduled();
    lastActivityTime_ = loop_->now();
    readStream_->scheduleInRunLoop(*loop_, *runLoopMode_);
    readStreamIsScheduled_ = true;
}

void HTTPRequest::unscheduleReadStream() {
    if (!readStream_ || !readStreamIsScheduled_) return;
    if (NetworkActivity::shared().streamUnscheduled())
        ns::performOnMainThread([] { hideNetworkActivityIndicatorAfterDelay(); }, ns::RunLoop::isMainThread());
    readStream_->unscheduleFromRunLoop(*loop_, *runLoopMode_);
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

bool HTTPRequest::isNetworkInUse() { return NetworkActivity::shared().isNetworkInUse(); }
void HTTPRequest::setShouldUpdateNetworkActivityIndicator(bool v) {
    NetworkActivity::shared().setShouldUpdateIndicator(v);
}
bool HTTPRequest::isNetworkActivityIndicatorVisible() { return NetworkActivity::shared().isIndicatorVisible(); }
void HTTPRequest::hideNetworkActivityIndicatorAfterDelay() {
    // One pending check at a time: streams that end in quick succession
    // would otherwise pile up a timer each.
    if (!NetworkActivity::shared().beginDelayedHide()) return;
    ns::RunLoop::current()->performAfterDelay(0.5, [] { NetworkActivity::shared().endDelayedHide(); },
                                              ns::RunLoop::kCommonModes);
}
void HTTPRequest::hideNetworkActivityIndicatorIfNeeeded() { NetworkActivity::shared().hideIndicatorIfIdle(); }

// ---- Bandwidth --------------------------------------------------------------------------------

bool HTTPRequest::isBandwidthThrottled() { return BandwidthThrottle::shared().isThrottled(); }
uint64_t HTTPRequest::maxBandwidthPerSecond() { return BandwidthThrottle::shared().maxPerSecond(); }
void HTTPRequest::setMaxBandwidthPerSecond(uint64_t bytes) { BandwidthThrottle::shared().setMaxPerSecond(bytes); }
void HTTPRequest::incrementBandwidthUsedInLastSecond(uint64_t bytes) { BandwidthThrottle::shared().addUsed(bytes); }
uint64_t HTTPRequest::averageBandwidthUsedPerSecond() { return BandwidthThrottle::shared().averagePerSecond(); }
uint64_t HTTPRequest::maxUploadReadLength() {
    auto& throttle = BandwidthThrottle::shared();
    return throttle.uploadAllowance(throttle.now());
}

// Pauses the stream until the throttle's wake-up time, and schedules it
// again once that has passed (or when nothing throttles any more).
void HTTPRequest::performThrottling() {
    if (!readStream_) return;
    auto& throttle = BandwidthThrottle::shared();
    const double now = throttle.now();
    throttle.measure(now);
    if (throttle.isThrottled()) {
        if (double wakeUp = throttle.wakeUp(); wakeUp > 0) {
            if (wakeUp > now) {
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

namespace {
// What watches for WWAN while a WWAN-only limit is set.
struct WWANWatch {
    std::mutex lock;
    ns::Ref<Reachability> reachability;
    ns::ObserverToken observer;
};
WWANWatch& wwanWatch() {
    static auto& watch = *new WWANWatch;  // never destroyed, like the rest of the class-wide state
    return watch;
}
}  // namespace

void HTTPRequest::setShouldThrottleBandwidthForWWAN(bool v) {
    if (v) {
        throttleBandwidthForWWANUsingLimit(kWWANBandwidthLimit);
        return;
    }
    ns::ObserverToken observer;  // removed outside the lock
    ns::Ref<Reachability> reachability;
    {
        auto& watch = wwanWatch();
        std::lock_guard<std::mutex> g(watch.lock);
        observer = std::move(watch.observer);
        reachability = std::move(watch.reachability);
    }
    BandwidthThrottle::shared().lift();
    if (reachability) reachability->stopNotifier();
}

void HTTPRequest::throttleBandwidthForWWANUsingLimit(uint64_t limit) {
    BandwidthThrottle::shared().limitOnWWANOnly(limit);
    auto reachability = Reachability::reachabilityForInternetConnection();
    ns::ObserverToken observer;
    if (reachability) {
        reachability->startNotifier();
        observer = ns::NotificationCenter::defaultCenter()->addObserver(
            kReachabilityChangedNotification, nullptr,
            [](const ns::Notification&) { BandwidthThrottle::shared().setOnWWAN(isNetworkReachableViaWWAN()); });
    }
    BandwidthThrottle::shared().setOnWWAN(isNetworkReachableViaWWAN());
    ns::ObserverToken previous;  // removed outside the lock
    auto& watch = wwanWatch();
    std::lock_guard<std::mutex> g(watch.lock);
    watch.reachability = reachability;
    previous = std::exchange(watch.observer, std::move(observer));
}

}  // namespace http
