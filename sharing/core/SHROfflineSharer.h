// One re-send of a queued share: an operation on the sharing centre's queue
// that hands its share step to the main thread (a quiet sharer of the stored
// class, with this operation as its delegate) and then waits on its own
// thread's run loop until the sharer reports finished, failed or cancelled.
//
// The stored entry is taken off the queue (with its data file) only when the
// share has been handed over: the sharer reported its outcome (a failure is
// logged and not retried), or it will never send this entry (no such
// sharer, no login any more, the item refused, an image whose data file is
// damaged while the list holds no copy). Offline again, the re-send ends
// and the entry stays as it is. An operation cancelled or killed before the
// hand-over leaves the entry for the next flush.
#pragma once

#include <atomic>
#include <string>

#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/RunLoop.h"
#include "sharing/core/SHRSharer.h"

namespace sharing {

class SHROfflineSharer : public ns::Operation, public SHRSharerDelegate {
public:
    SHROfflineSharer(ns::Ref<SHRItem> item, std::string sharerId, std::string uid);
    const char* className() const override { return "SHROfflineSharer"; }

    void main() override;
    void cancel() override;
    // Main thread: makes the quiet sharer and starts its send.
    void share();
    bool shouldRun() const;
    // Any thread: lets main() return.
    void finish();
    void lastSpin() {}

    // The list entry this operation re-sends (main thread).
    void setQueueEntry(ns::Ref<ns::Dictionary> entry) { entry_ = std::move(entry); }

    const ns::Ref<SHRItem>& item() const { return item_; }
    const std::string& sharerId() const { return sharerId_; }
    const std::string& uid() const { return uid_; }
    SHRSharer* sharer() const { return sharer_.get(); }
    bool readyToFinish() const { return readyToFinish_.load(); }

    void sharerStartedSending(SHRSharer*) override {}
    void sharerFinishedSending(SHRSharer* s) override { done(s); }
    void sharerFailedWithErrorShouldRelogin(SHRSharer* s, ns::Error* error, bool) override;
    void sharerCancelledSending(SHRSharer* s) override { done(s); }

private:
    void done(SHRSharer* s);
    // Main thread: the entry leaves the queue, then the operation ends.
    void handOver();
    ns::Ref<SHRItem> item_;
    std::string sharerId_, uid_;
    std::atomic<bool> readyToFinish_{false};
    ns::Ref<ns::RunLoop> runLoop_;
    std::mutex loopMutex_;
    ns::Ref<SHRSharer> sharer_;  // main thread only
    ns::Ref<ns::Dictionary> entry_;  // main thread only
    bool handedOver_ = false;        // main thread only
};

}  // namespace sharing
