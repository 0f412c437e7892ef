// NetworkQueue: an operation queue for HTTP requests. It starts suspended
// (add requests, then go()), runs at most four at once, adds up upload and
// download sizes and progress over its requests, forwards each request's
// events to one delegate through configurable selectors, reports when the
// last request has ended, and by default cancels the rest when one fails.
//
// Requests added to it name it as their queue; the engine then sends it the
// same callbacks it sends a request delegate, on the main thread. The
// counters are plain fields changed only there.
#pragma once

#include <atomic>
#include <cstdint>
#include <unordered_set>

#include "net/http/HTTPRequest.h"
#include "platform/foundation/OperationQueue.h"

namespace http {

class NetworkQueue;

// What a queue's delegate may be sent (every operation optional; the queue
// sends only those named by its selectors).
class NetworkQueueDelegate : public HTTPRequestDelegate {
public:
    virtual void queueFinished(NetworkQueue*) {}
};

using QueueRequestSelector = void (NetworkQueueDelegate::*)(HTTPRequest*);
using QueueHeadersSelector = void (NetworkQueueDelegate::*)(HTTPRequest*, ns::Ref<ns::Dictionary>);
using QueueRedirectSelector = void (NetworkQueueDelegate::*)(HTTPRequest*, ns::Ref<ns::URL>);
using QueueFinishedSelector = void (NetworkQueueDelegate::*)(NetworkQueue*);

inline constexpr const char* kAttemptToAddInvalidRequestException = "AttemptToAddInvalidRequest";

class NetworkQueue : public ns::OperationQueue, public HTTPRequestQueue {
public:
    NetworkQueue();  // suspended, 4 at once, cancels all on failure
    ~NetworkQueue() override;
    const char* className() const override { return "NetworkQueue"; }
    static ns::Ref<NetworkQueue> queue();

    // Resumes the queue.
    void go();
    // Cancels everything, forgets the delegate, progress delegates and all
    // selectors but the redirect one, and suspends the queue.
    void reset();
    // Zeroes the byte counters, then cancels every operation.
    void cancelAllOperations() override;
    // Only HTTPRequests: anything else raises "AttemptToAddInvalidRequest".
    void addOperation(const ns::Ref<ns::Operation>& op) override;
    // A HEAD request that learns a download's size for its main request.
    void addHEADOperation(const ns::Ref<ns::Operation>& op);

    NetworkQueueDelegate* delegate() const { return delegate_.get(); }
    void setDelegate(NetworkQueueDelegate* d) { delegate_.set(d); }
    void setRequestDidStartSelector(QueueRequestSelector s);
    void setRequestDidReceiveResponseHeadersSelector(QueueHeadersSelector s);
    void setRequestWillRedirectSelector(QueueRedirectSelector s) { requestWillRedirectSelector_ = s; }
    void setRequestDidFinishSelector(QueueRequestSelector s) { requestDidFinishSelector_ = s; }
    void setRequestDidFailSelector(QueueRequestSelector s) { requestDidFailSelector_ = s; }
    void setQueueDidFinishSelector(QueueFinishedSelector s) { queueDidFinishSelector_ = s; }
    ProgressDelegate* uploadProgressDelegate() const { return uploadProgressDelegate_.get(); }
    // Stores the receiver and resets its progress to 0.
    void setUploadProgressDelegate(ProgressDelegate* d);
    ProgressDelegate* downloadProgressDelegate() const { return downloadProgressDelegate_.get(); }
    void setDownloadProgressDelegate(ProgressDelegate* d);
    uint64_t bytesUploadedSoFar() const { return bytesUploadedSoFar_; }
    uint64_t totalBytesToUpload() const { return totalBytesToUpload_; }
    uint64_t bytesDownloadedSoFar() const { return bytesDownloadedSoFar_; }
    uint64_t totalBytesToDownload() const { return totalBytesToDownload_; }
    int requestsCount() const { return requestsCount_; }
    bool shouldCancelAllRequestsOnFailure() const { return shouldCancelAllRequestsOnFailure_; }
    void setShouldCancelAllRequestsOnFailure(bool v) { shouldCancelAllRequestsOnFailure_ = v; }
    bool showAccurateProgress() const { return showAccurateProgress_; }
    void setShowAccurateProgress(bool v) { showAccurateProgress_ = v; }
    ns::Ref<ns::Dictionary> userInfo() const { return userInfo_; }
    void setUserInfo(ns::Ref<ns::Dictionary> d) { userInfo_ = std::move(d); }

    // A new queue with the same delegate, selectors, progress delegates,
    // flags and a copy of the user information.
    ns::Ref<NetworkQueue> copy() const;

    // --- What the engine sends (main thread) --------------------------------
    bool answers(HTTPRequestDelegate::Optional op) const override;
    bool answers(ProgressDelegate::Optional op) const override;
    void requestStarted(HTTPRequest* r) override;
    void requestDidReceiveResponseHeaders(HTTPRequest* r, ns::Ref<ns::Dictionary> headers) override;
    void requestWillRedirectToURL(HTTPRequest* r, ns::Ref<ns::URL> url) override;
    void requestFinished(HTTPRequest* r) override;
    void requestFailed(HTTPRequest* r) override;
    void requestWasLetGo(HTTPRequest* r) override;
    void authenticationNeededForRequest(HTTPRequest* r) override;
    void proxyAuthenticationNeededForRequest(HTTPRequest* r) override;
    void requestDidReceiveBytes(HTTPRequest* r, int64_t bytes) override;
    void requestDidSendBytes(HTTPRequest* r, int64_t bytes) override;
    void requestIncrementDownloadSizeBy(HTTPRequest* r, int64_t bytes) override;
    void requestIncrementUploadSizeBy(HTTPRequest* r, int64_t bytes) override;

private:
    static void resetProgressDelegate(ProgressDelegate* d);
    void queueDidFinish();
    // Counts `r` ended when it was counted and has not ended yet; whether it did.
    bool countEnded(const HTTPRequest* r);

    ns::WeakDelegate<NetworkQueueDelegate> delegate_;
    QueueRequestSelector requestDidStartSelector_ = nullptr;
    QueueHeadersSelector requestDidReceiveResponseHeadersSelector_ = nullptr;
    QueueRedirectSelector requestWillRedirectSelector_ = nullptr;
    QueueRequestSelector requestDidFinishSelector_ = nullptr;
    QueueRequestSelector requestDidFailSelector_ = nullptr;
    QueueFinishedSelector queueDidFinishSelector_ = nullptr;
    // Whether the start and headers selectors are set, readable from the
    // network thread: requests post those reports only when they are (the
    // headers report builds the header dictionary on the main thread).
    std::atomic<bool> forwardsStarts_{false};
    std::atomic<bool> forwardsHeaders_{false};
    ns::WeakDelegate<ProgressDelegate> uploadProgressDelegate_;
    ns::WeakDelegate<ProgressDelegate> downloadProgressDelegate_;
    uint64_t bytesUploadedSoFar_ = 0, totalBytesToUpload_ = 0;
    uint64_t bytesDownloadedSoFar_ = 0, totalBytesToDownload_ = 0;
    // The requests added and not yet ended: a request is counted ended once,
    // whether it reports its end or is let go (keys only, never read through).
    std::unordered_set<const HTTPRequest*> counted_;
    int requestsCount_ = 0;
    bool shouldCancelAllRequestsOnFailure_ = true;
    bool showAccurateProgress_ = false;
    ns::Ref<ns::Dictionary> userInfo_;
};

}  // namespace http
