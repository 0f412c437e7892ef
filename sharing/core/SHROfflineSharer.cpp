#include "sharing/core/SHROfflineSharer.h"

#include <cstdio>
#include <optional>

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
    // Cancelled while this step waited for the main thread (the app ending):
    // nothing is sent, and the entry stays for the next flush.
    if (!shouldRun()) return;
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
    // Offline again: the entry stays stored as it is for the next flush
    // (nothing is written, so nothing can fail), and this re-send ends.
    if (sharer_->shareRequiresInternetConnection() && !SHR::connected()) {
        sharer_->setShareDelegate(nullptr);
        finish();
        return;
    }
    std::string dataFile = entry_ ? SHR::offlineDataFileName(*entry_) : std::string();
    int type = item_->shareType();
    if (type == SHRShareTypeImage || type == SHRShareTypeFile) {
        // The file stays until the entry leaves the queue.
        std::optional<std::string> bytes;
        if (!dataFile.empty()) bytes = ns::readFile(ns::Paths::join(SHR::offlineQueuePath(), dataFile));
        ns::Ref<ui::Image> image = bytes && type == SHRShareTypeImage ? imageWithData(*bytes) : nullptr;
        ns::Dictionary* stored = entry_ ? entry_->dictionaryForKey("item") : nullptr;
        ns::Data* storedData = stored ? stored->dataForKey("data") : nullptr;
        if (image) {
            item_->setImage(image);
        } else if (type == SHRShareTypeFile && bytes) {
            item_->setData(ns::Data::make(*bytes));
        } else if (type == SHRShareTypeImage ? item_->image() != nullptr : storedData != nullptr) {
            // The list holds a copy of the image (PNG) and of the file's bytes.
            if (type == SHRShareTypeFile) item_->setData(ns::Ref<ns::Data>(storedData));
            std::fprintf(stderr, "SHROfflineSharer: the data file of %s is missing or damaged; the list's copy is sent\n",
                         uid_.c_str());
        } else {
            std::fprintf(stderr, "SHROfflineSharer: the data file of %s is missing or damaged and the list holds no "
                                 "copy; the share is dropped\n",
                         uid_.c_str());
            sharer_->setShareDelegate(nullptr);
            handOver();
            return;
        }
    }
    // A send that was refused reports nothing: this re-send ends here
    // instead of waiting for ever.
    if (!sharer_->send()) {
        if (sharer_) sharer_->setShareDelegate(nullptr);
        handOver();
    }
}

void SHROfflineSharer::sharerFailedWithErrorShouldRelogin(SHRSharer* s, ns::Error* error, bool) {
    // Not sent again: a service that refused the share would refuse it
    // again, and one that failed may have stored it anyway.
    std::fprintf(stderr, "SHROfflineSharer: %s did not take the stored share %s (%s); it is not sent again\n",
                 sharerId_.c_str(), uid_.c_str(),
                 error ? error->localizedDescription().c_str() : "no reason given");
    done(s);
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
