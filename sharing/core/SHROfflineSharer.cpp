#include "sharing/core/SHROfflineSharer.h"

#include <cstdio>

#include "platform/foundation/FileIO.h"
#include "platform/foundation/Paths.h"
#include "sharing/core/ImageCoding.h"
#include "sharing/core/SHR.h"

namespace sharing {

SHROfflineSharer::SHROfflineSharer(ns::Ref<SHRItem> item, std::string sharerId, std::string uid)
    : item_(std::move(item)), sharerId_(std::move(sharerId)), uid_(std::move(uid)) {}

bool SHROfflineSharer::shouldRun() const { return !isCancelled() && !isFinished() && !readyToFinish_.load(); }

void SHROfflineSharer::main() {
    if (!shouldRun()) return;
    {
        std::lock_guard<std::mutex> g(loopMutex_);
        runLoop_ = ns::RunLoop::current();
    }
    auto self = ns::keepAlive(this);
    ns::performOnMainThread([self] { self->share(); }, true);
    while (shouldRun()) runLoop_->runMode(ns::RunLoop::kDefaultMode, ns::RunLoop::kDistantFuture);
    // The sharer belongs to the main thread; let it go there.
    ns::performOnMainThread([self] { self->sharer_ = nullptr; }, false);
    std::lock_guard<std::mutex> g(loopMutex_);
    runLoop_ = nullptr;
}

void SHROfflineSharer::share() {
    auto keep = ns::keepAlive(this);
    sharer_ = SHRSharer::sharerWithClassName(sharerId_);
    if (!sharer_) {
        std::fprintf(stderr, "SHROfflineSharer: no sharer class %s\n", sharerId_.c_str());
        handOver();
        return;
    }
    sharer_->setItem(item_);
    sharer_->setQuiet(true);
    sharer_->setShareDelegate(this);
    if (!sharer_->isAuthorized()) {
        sharer_->setShareDelegate(nullptr);
        handOver();
        return;
    }
    std::string dataFile = entry_ ? SHR::offlineDataFileName(*entry_) : std::string();
    int type = item_->shareType();
    if (!dataFile.empty() && (type == SHRShareTypeImage || type == SHRShareTypeFile)) {
        // The file stays until the entry leaves the queue.
        if (auto bytes = ns::readFile(ns::Paths::join(SHR::offlineQueuePath(), dataFile))) {
            if (type == SHRShareTypeImage) item_->setImage(imageWithData(*bytes));
            else item_->setData(ns::Data::make(*bytes));
        }
    }
    bool wasOnline = !sharer_->shareRequiresInternetConnection() || SHR::connected();
    bool started = sharer_->tryToSend();
    // A send that was refused, or that went back onto the offline queue as a
    // new entry, reports nothing: this re-send ends here instead of waiting
    // for ever.
    if (!started || !wasOnline) {
        if (sharer_) sharer_->setShareDelegate(nullptr);
        handOver();
    }
}

void SHROfflineSharer::done(SHRSharer* s) {
    if (s) s->setShareDelegate(nullptr);
    handOver();
}

void SHROfflineSharer::handOver() {
    if (!handedOver_) {
        handedOver_ = true;
        if (entry_) SHR::removeFromOfflineQueue(*entry_);
    }
    finish();
}

void SHROfflineSharer::finish() {
    readyToFinish_.store(true);
    std::lock_guard<std::mutex> g(loopMutex_);
    if (runLoop_) {
        auto self = ns::keepAlive(this);
        ns::performOnThread(*runLoop_, [self] { self->lastSpin(); }, false);
    }
}

void SHROfflineSharer::cancel() {
    ns::Operation::cancel();
    finish();
}

}  // namespace sharing
