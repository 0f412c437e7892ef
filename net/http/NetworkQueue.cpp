#include "net/http/NetworkQueue.h"

#include "platform/foundation/Exception.h"

namespace http {

NetworkQueue::NetworkQueue() {
    setMaxConcurrentOperationCount(4);
    setSuspended(true);
}

NetworkQueue::~NetworkQueue() {
    for (auto& op : operations())
        if (auto* r = dynamic_cast<HTTPRequest*>(op.get()); r && r->queue() == this) r->setQueue(nullptr);
}

ns::Ref<NetworkQueue> NetworkQueue::queue() { return ns::make<NetworkQueue>(); }

void NetworkQueue::go() { setSuspended(false); }

void NetworkQueue::reset() {
    cancelAllOperations();
    delegate_.set(nullptr);
    uploadProgressDelegate_.set(nullptr);
    downloadProgressDelegate_.set(nullptr);
    setRequestDidStartSelector(nullptr);
    setRequestDidReceiveResponseHeadersSelector(nullptr);
    requestDidFailSelector_ = nullptr;
    requestDidFinishSelector_ = nullptr;
    queueDidFinishSelector_ = nullptr;
    setSuspended(true);
}

void NetworkQueue::cancelAllOperations() {
    bytesUploadedSoFar_ = totalBytesToUpload_ = bytesDownloadedSoFar_ = totalBytesToDownload_ = 0;
    ns::OperationQueue::cancelAllOperations();
}

void NetworkQueue::setRequestDidStartSelector(QueueRequestSelector s) {
    requestDidStartSelector_ = s;
    forwardsStarts_.store(s != nullptr, std::memory_order_relaxed);
}

void NetworkQueue::setRequestDidReceiveResponseHeadersSelector(QueueHeadersSelector s) {
    requestDidReceiveResponseHeadersSelector_ = s;
    forwardsHeaders_.store(s != nullptr, std::memory_order_relaxed);
}

void NetworkQueue::resetProgressDelegate(ProgressDelegate* d) {
    if (!d || !d->answers(ProgressDelegate::Optional::setProgress)) return;
    ns::WeakDelegate<ProgressDelegate> weak(d);
    ns::performOnMainThread([weak] {
        if (auto p = weak.lock()) p->setProgress(0);
    }, ns::RunLoop::isMainThread());
}

void NetworkQueue::setUploadProgressDelegate(ProgressDelegate* d) {
    uploadProgressDelegate_.set(d);
    resetProgressDelegate(d);
}

void NetworkQueue::setDownloadProgressDelegate(ProgressDelegate* d) {
    downloadProgressDelegate_.set(d);
    resetProgressDelegate(d);
}

void NetworkQueue::addHEADOperation(const ns::Ref<ns::Operation>& op) {
    auto* r = dynamic_cast<HTTPRequest*>(op.get());
    if (!r) return;
    checkAddable(op);
    r->setRequestMethod("HEAD");
    r->setQueuePriority(10);
    r->setShowAccurateProgress(true);
    r->setQueue(this);
    ns::OperationQueue::addOperation(op);
}

void NetworkQueue::addOperation(const ns::Ref<ns::Operation>& op) {
    auto* r = dynamic_cast<HTTPRequest*>(op.get());
    if (!r)
        throw ns::Exception(kAttemptToAddInvalidRequestException,
                            "Attempted to add an object that was not an HTTPRequest to an NetworkQueue");
    // A request the queue refuses (in a queue already, this one or another,
    // running or ended) changes nothing here: not the count, the totals,
    // its queue or its companion.
    checkAddable(op);
    if (counted_.insert(r).second) ++requestsCount_;
    if (showAccurateProgress_) {
        r->buildPostBody();
        if (r->requestMethod() == "GET" && isSuspended()) {
            auto head = r->HEADRequest();
            addHEADOperation(head);
            r->addDependency(head);
        }
        if (r->shouldResetDownloadProgress()) {
            resetProgressDelegate(downloadProgressDelegate_.get());
            r->setShouldResetDownloadProgress(false);
        }
        totalBytesToUpload_ += r->postLength();
    } else {
        totalBytesToDownload_ += 1;
        totalBytesToUpload_ += 1;
    }
    if (r->shouldResetUploadProgress()) {
        resetProgressDelegate(uploadProgressDelegate_.get());
        r->setShouldResetUploadProgress(false);
    }
    r->setShowAccurateProgress(showAccurateProgress_);
    r->setQueue(this);
    ns::OperationQueue::addOperation(op);
}

ns::Ref<NetworkQueue> NetworkQueue::copy() const {
    auto q = queue();
    q->delegate_ = delegate_;
    q->setRequestDidStartSelector(requestDidStartSelector_);
    q->setRequestDidReceiveResponseHeadersSelector(requestDidReceiveResponseHeadersSelector_);
    q->requestWillRedirectSelector_ = requestWillRedirectSelector_;
    q->requestDidFinishSelector_ = requestDidFinishSelector_;
    q->requestDidFailSelector_ = requestDidFailSelector_;
    q->queueDidFinishSelector_ = queueDidFinishSelector_;
    q->uploadProgressDelegate_ = uploadProgressDelegate_;
    q->downloadProgressDelegate_ = downloadProgressDelegate_;
    q->shouldCancelAllRequestsOnFailure_ = shouldCancelAllRequestsOnFailure_;
    q->showAccurateProgress_ = showAccurateProgress_;
    if (userInfo_) q->userInfo_ = userInfo_->copy();
    return q;
}

// ---- Engine callbacks ------------------------------------------------------------------

// Started and headers reach the queue only to be forwarded, so the queue
// takes them only while a selector is set for them (asked on the network
// thread too: atomics, no delegate lookup). Finished and failed keep the
// queue's count.
bool NetworkQueue::answers(HTTPRequestDelegate::Optional op) const {
    using O = HTTPRequestDelegate::Optional;
    switch (op) {
        case O::requestStarted: return forwardsStarts_.load(std::memory_order_relaxed);
        case O::requestDidReceiveResponseHeaders: return forwardsHeaders_.load(std::memory_order_relaxed);
        case O::requestFinished:
        case O::requestFailed: return true;
        default: break;
    }
    auto d = delegate_.lock();
    switch (op) {
        case O::authenticationNeededForRequest:
        case O::proxyAuthenticationNeededForRequest: return d && d->answers(op);
        case O::requestWillRedirectToURL: return d && requestWillRedirectSelector_ != nullptr;
        default: return false;
    }
}

bool NetworkQueue::answers(ProgressDelegate::Optional op) const { return op != ProgressDelegate::Optional::setProgress; }

void NetworkQueue::requestStarted(HTTPRequest* r) {
    if (auto d = delegate_.lock(); d && requestDidStartSelector_) (d.get()->*requestDidStartSelector_)(r);
}

void NetworkQueue::requestDidReceiveResponseHeaders(HTTPRequest* r, ns::Ref<ns::Dictionary> headers) {
    if (auto d = delegate_.lock(); d && requestDidReceiveResponseHeadersSelector_)
        (d.get()->*requestDidReceiveResponseHeadersSelector_)(r, headers);
}

void NetworkQueue::requestWillRedirectToURL(HTTPRequest* r, ns::Ref<ns::URL> url) {
    if (auto d = delegate_.lock(); d && requestWillRedirectSelector_) (d.get()->*requestWillRedirectSelector_)(r, url);
}

void NetworkQueue::queueDidFinish() {
    if (auto d = delegate_.lock(); d && queueDidFinishSelector_) (d.get()->*queueDidFinishSelector_)(this);
}

bool NetworkQueue::countEnded(const HTTPRequest* r) {
    if (counted_.erase(r) == 0) return false;
    --requestsCount_;
    return true;
}

void NetworkQueue::requestFinished(HTTPRequest* r) {
    auto keep = ns::keepAlive(this);
    const bool ended = countEnded(r);
    if (auto d = delegate_.lock(); d && requestDidFinishSelector_) (d.get()->*requestDidFinishSelector_)(r);
    if (ended && requestsCount_ == 0) queueDidFinish();
}

void NetworkQueue::requestFailed(HTTPRequest* r) {
    auto keep = ns::keepAlive(this);
    const bool ended = countEnded(r);
    if (auto d = delegate_.lock(); d && requestDidFailSelector_) (d.get()->*requestDidFailSelector_)(r);
    if (ended && requestsCount_ == 0) queueDidFinish();
    if (shouldCancelAllRequestsOnFailure_ && requestsCount_ > 0) cancelAllOperations();
}

void NetworkQueue::requestWasLetGo(HTTPRequest* r) {
    auto keep = ns::keepAlive(this);
    if (countEnded(r) && requestsCount_ == 0) queueDidFinish();
}

void NetworkQueue::authenticationNeededForRequest(HTTPRequest* r) {
    if (auto d = delegate_.lock(); d && d->answers(HTTPRequestDelegate::Optional::authenticationNeededForRequest))
        d->authenticationNeededForRequest(r);
}

void NetworkQueue::proxyAuthenticationNeededForRequest(HTTPRequest* r) {
    if (auto d = delegate_.lock(); d && d->answers(HTTPRequestDelegate::Optional::proxyAuthenticationNeededForRequest))
        d->proxyAuthenticationNeededForRequest(r);
}

void NetworkQueue::requestDidReceiveBytes(HTTPRequest*, int64_t bytes) {
    bytesDownloadedSoFar_ += static_cast<uint64_t>(bytes);
    if (auto d = downloadProgressDelegate_.lock())
        HTTPRequest::updateProgressIndicator(d.get(), bytesDownloadedSoFar_, totalBytesToDownload_);
}

void NetworkQueue::requestDidSendBytes(HTTPRequest*, int64_t bytes) {
    bytesUploadedSoFar_ += static_cast<uint64_t>(bytes);
    if (auto d = uploadProgressDelegate_.lock())
        HTTPRequest::updateProgressIndicator(d.get(), bytesUploadedSoFar_, totalBytesToUpload_);
}

void NetworkQueue::requestIncrementDownloadSizeBy(HTTPRequest*, int64_t bytes) {
    totalBytesToDownload_ += static_cast<uint64_t>(bytes);
}

void NetworkQueue::requestIncrementUploadSizeBy(HTTPRequest*, int64_t bytes) {
    totalBytesToUpload_ += static_cast<uint64_t>(bytes);
}

}  // namespace http
