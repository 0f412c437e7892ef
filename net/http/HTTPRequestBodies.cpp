// HTTPRequest: what the request does with its body (RequestBody) and its
// response's body (ResponseDownload) at each step of the sequence, progress
// reports and use of the download cache.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "platform/foundation/FileIO.h"
#include "net/http/HTTPRequestInternal.h"
#include "net/http/InputStream.h"
#include "platform/foundation/Format.h"
#include "platform/network/NetworkErrors.h"

namespace http {

// ---- Bodies --------------------------------------------------------------------------------

void HTTPRequest::setupPostBody() {
    body_.setUp();
}

void HTTPRequest::appendPostData(const ns::Data& data) {
    if (auto error = body_.append(data)) failWithError(error);
}

bool HTTPRequest::appendPostDataFromFile(const std::string& path) {
    auto error = body_.appendFile(path);
    if (error) failWithError(error);
    return !error;
}

void HTTPRequest::buildPostBody() {
    if (body_.isBuilt()) return;
    if (auto error = body_.build()) {
        failWithError(error);
        return;
    }
    if (uint64_t length = body_.length()) {
        if (requestMethod_ == "GET" || requestMethod_ == "DELETE" || requestMethod_ == "HEAD")
            setRequestMethod("POST");
        addRequestHeader("Content-Length", ns::format("%llu", (unsigned long long)length));
    }
    body_.setBuilt(true);
}

// ---- Response storage ----------------------------------------------------------------------

void HTTPRequest::storeReceivedBytes(const uint8_t* bytes, size_t length, const ns::Data* inflated) {
    uint64_t droppedPartial = 0;
    auto error = download_.store(bytes, length, inflated, rangeAnswer(), &droppedPartial);
    if (droppedPartial) incrementDownloadSizeBy(-static_cast<int64_t>(droppedPartial));
    if (error) {
        cancelLoad();
        failWithError(error);
    }
}

bool HTTPRequest::takeRangeAnswer(const net::HTTPMessage& answer) {
    using RangeAnswer = ResponseDownload::RangeAnswer;
    // The message, which also carries a Range that a retry put there alone.
    const bool asked = request_ && request_->headers().contains("Range");
    const ResponseDownload::AnswerHead head{answer.statusCode(), answer.headerField("Content-Range"),
                                            answer.headerField("Content-Length"), answer.headerField("ETag"),
                                            answer.headerField("Last-Modified")};
    // A length no file or progress amount can hold is a bad answer: its
    // body is not read.
    if (auto why = download_.whyLengthsCannotBeTaken(head); !why.empty()) {
        cancelLoad();
        failWithError(errorWithCode(kConnectionFailureErrorType, why));
        return false;
    }
    rangeAnswer_ = download_.answerHead(asked, head);
    if (rangeAnswer_ != RangeAnswer::Refused) return true;
    // A part that does not continue the partial file (of another body, or
    // another part of it) is not read: appended, it would make a file the
    // server never held. The partial file goes, so that the next attempt
    // starts over, and the destination stays as it was.
    cancelLoad();
    download_.dropPartial();
    if (answer.statusCode() == 416)
        failWithError(errorWithCode(kFileManagementError,
                                    "The server has no rest for the resumed download (status 416): the partial file "
                                    "was dropped, and the next attempt starts over"));
    else
        failWithError(errorWithCode(
            kFileManagementError,
            "The answer to the resumed download (status " + std::to_string(answer.statusCode()) + ", Content-Range '" +
                answer.headerField("Content-Range").value_or("") +
                "') does not continue its partial file: the partial file was dropped, and the next attempt starts over"));
    return false;
}

bool HTTPRequest::askForTheRestOfThePartialFile() {
    if (auto error = download_.cancel(false)) {
        failWithError(error);
        return false;
    }
    if (!request_ || !download_.allowsResume() || download_.destinationPath().empty()) return true;
    if (!updatePartialDownloadSize()) return false;
    // The rest of the body the partial file now starts, named by its own
    // record (a question left from an earlier attempt may name another
    // body, or a file started over meanwhile); with no partial file left,
    // the whole body. The request's own headers change with the message:
    // a redirect of this attempt builds its message from them.
    if (uint64_t partial = download_.partialSize()) {
        const std::string range = ns::format("bytes=%llu-", (unsigned long long)partial);
        request_->setHeaderField("Range", range);
        addRequestHeader("Range", range);
        if (auto validator = download_.resumeValidator(); !validator.empty()) {
            request_->setHeaderField("If-Range", validator);
            addRequestHeader("If-Range", validator);
        } else {
            request_->headers().remove("If-Range");
            removeRequestHeader("If-Range");
        }
        download_.setAskedForRest(true);
    } else if (download_.askedForRest()) {
        request_->headers().remove("Range");
        request_->headers().remove("If-Range");
        removeRequestHeader("Range");
        removeRequestHeader("If-Range");
        download_.setAskedForRest(false);
    }
    return true;
}

void HTTPRequest::finishFileDownload() {
    // A challenge the engine answers with a login is not the request's
    // body (none of it was kept): the partial file stays as it was for the
    // attempt that carries the login, and nothing lands.
    if (authenticationNeeded_) return;
    bool keepForResume = needsRedirect_ && shouldRedirect_ && download_.allowsResume();
    if (auto error = download_.finishFile(isResponseCompressed(), keepForResume)) fileError_ = error;
}

bool HTTPRequest::updatePartialDownloadSize() {
    if (auto error = download_.refreshPartialSize()) {
        failWithError(error);
        return false;
    }
    return true;
}

// ---- Temporary files -----------------------------------------------------------------------

void HTTPRequest::removeTemporaryUploadFiles() {
    if (auto error = body_.removeTemporaryFiles()) failWithError(error);
}

void HTTPRequest::cancelLoad() {
    proxy_.cancel();
    destroyReadStream();
    body_.closeStream();
    if (auto error = download_.cancel(downloadComplete_)) failWithError(error);
    if (!authenticationNeeded_ && !willRetryRequest_) removeTemporaryUploadFiles();
}

// ---- Cache -----------------------------------------------------------------------------------

void HTTPRequest::storeInCache() {
    if (didUseCachedResponse_) return;
    if (auto cache = lockedDownloadCache()) cache->storeResponseForRequest(*this, secondsToCache_);
}

std::optional<CachedResponse> HTTPRequest::takeFromCache(const CacheValidators* sent) {
    auto cache = lockedDownloadCache();
    if (!cache || !url_) return std::nullopt;
    auto main = mainRequest();
    const ResponseDownload& receiving = main ? main->download_ : download_;
    // A body for a download destination is copied from its open file; one
    // kept in memory is read within the request's limit (a larger one is
    // the size error, never an empty body).
    const uint64_t readUpTo = receiving.destinationPath().empty() ? receiving.maxKept() : 0;
    auto taken = cache->takeCachedResponseForURL(*url_, readUpTo);
    if (!taken || !taken->headers || !taken->bodyFile) return std::nullopt;
    const auto status = engine::decimalLength(engine::headerIn(taken->headers.get(), DownloadCache::kStatusCodeKey).value_or(""));
    if (!status || *status < 100 || *status > 599) return std::nullopt;
    if (sent) {
        // Not modified means the answer those validators named, not
        // whatever is stored now.
        if (engine::headerIn(taken->headers.get(), "Etag") != sent->etag && sent->etag) return std::nullopt;
        if (engine::headerIn(taken->headers.get(), "Last-Modified") != sent->lastModified && sent->lastModified)
            return std::nullopt;
    }
    return taken;
}

void HTTPRequest::dropAnswerStream() {
    // The stream that brought the answer is not needed any more. A
    // not-modified answer has no body, so its connection stays open for the
    // next request when the answer allows that; any other answer's unread
    // body closes it.
    if (!readStream_) return;
    stopStatusChecks();
    if (responseStatusCode_ == 304 && responseMessage_) readKeepAlive(*responseMessage_);
    else connectionCanBeReused_ = false;
    releaseConnectionAfterCompletion();
    destroyReadStream();
}

void HTTPRequest::askAgainWithoutCacheValidators() {
    dropAnswerStream();
    noCacheValidatorsFor_ = url_;
    storeResponseHeaders(nullptr);
    responseStatusCode_ = 0;
    responseStatusMessage_.clear();
    responseMessage_ = nullptr;
    // Nothing more of this answer is read; handleNetworkEvent sends the
    // request again once the event that read it has ended.
    complete_ = true;
    askingAgain_ = true;
}

void HTTPRequest::answerFromCache(CachedResponse& taken) {
    dropAnswerStream();
    auto main = mainRequest();
    HTTPRequest* receiver = main ? main.get() : this;
    const ns::Ref<ns::Dictionary> headers = taken.headers;
    receiver->responseStatusCode_ = static_cast<int>(
        engine::decimalLength(engine::headerIn(headers.get(), DownloadCache::kStatusCodeKey).value_or("")).value_or(0));
    receiver->didUseCachedResponse_ = true;
    receiver->storeResponseHeaders(headers);
    if (!receiver->download_.destinationPath().empty()) {
        // The caller gets the cached body at the place it asked for, whole.
        if (auto error = receiver->download_.landCachedBody(taken.bodyFile.fd())) receiver->fileError_ = error;
    } else if (!taken.body) {
        // A body the cache took from a download may be larger than what
        // this request keeps in memory.
        receiver->fileError_ = responseTooLargeError(receiver->download_.maxKept());
    } else {
        receiver->download_.useCachedBody(taken.body.get());
    }
    uint64_t length = engine::decimalLength(engine::headerIn(headers.get(), "Content-Length").value_or("")).value_or(0);
    if (!length) length = taken.bodyLength;
    receiver->contentLength_ = length;
    receiver->totalBytesRead_ = length;
    receiver->parseStringEncodingFromHeaders();
    net::HeaderList list;
    for (size_t i = 0; i < headers->count(); ++i)
        list.add(engine::textOf(headers->keyAtIndex(i)), engine::textOf(headers->valueAtIndex(i)));
    receiver->responseCookies_ = net::HTTPCookie::cookiesWithResponseHeaderFields(list, *url_);
    if (receiver == this && !fileError_ && willRedirect()) {
        complete_ = true;
        downloadComplete_ = true;
        if (!willAskDelegateToConfirmRedirect()) {
            auto self = ns::keepAlive(this);
            performOnRequestThread([self] { self->performRedirect(); });
        }
        return;
    }
    receiver->complete_ = true;
    receiver->downloadComplete_ = true;
    if (receiver->redirectCount_ == 0) receiver->originalURL_ = receiver->url_;
    receiver->updateProgressIndicators();
    if (receiver->fileError_) receiver->failWithError(receiver->fileError_);
    else if (receiver == this) requestFinished();
    else receiver->requestFinished();
    receiver->markAsFinished();
    if (receiver != this) markAsFinished();
}

// ---- Progress --------------------------------------------------------------------------------
//
// A progress report is posted to the main thread only when someone may hear
// it (who listens is read once per report): most requests have no progress
// delegate, block or queue, and their reports would cost a closure and a
// main-thread call each for nothing.

HTTPRequest::ProgressListeners HTTPRequest::progressListeners(bool upload) const {
    ProgressListeners who;
    if (!listenersGiven_.load(std::memory_order_acquire)) return who;
    std::lock_guard<std::mutex> g(settingsLock_);
    who.queue = static_cast<bool>(queue_);
    who.delegate = (upload ? uploadProgressDelegate_ : downloadProgressDelegate_).isSet();
    who.bytesBlock = static_cast<bool>(upload ? bytesSentBlock_ : bytesReceivedBlock_);
    who.sizeBlock = static_cast<bool>(upload ? uploadSizeIncrementedBlock_ : downloadSizeIncrementedBlock_);
    return who;
}

void HTTPRequest::deliverProgress(bool upload, std::function<void(ProgressDelegate&)> fn, ProgressDelegate::Optional op) {
    auto self = ns::keepAlive(this);
    callOnMain([self, upload, fn, op] {
        ns::WeakDelegate<ProgressDelegate>::Locked d;
        ns::StrongDelegate<HTTPRequestQueue>::Locked q;
        {
            std::lock_guard<std::mutex> g(self->settingsLock_);
            d = upload ? self->uploadProgressDelegate_.lock() : self->downloadProgressDelegate_.lock();
            q = self->queue_.lock();
        }
        if (q && static_cast<ProgressDelegate*>(q.get())->answers(op)) fn(*q);
        if (d && d->answers(op)) fn(*d);
    });
}

void HTTPRequest::deliverBytes(bool upload, int64_t amount, uint64_t total, double progress,
                               const ProgressListeners& who) {
    if (who.queue || who.delegate) {
        auto op = upload ? ProgressDelegate::Optional::requestDidSendBytes : ProgressDelegate::Optional::requestDidReceiveBytes;
        deliverProgress(upload, [self = ns::keepAlive(this), upload, amount](ProgressDelegate& p) {
            if (upload) p.requestDidSendBytes(self.get(), amount);
            else p.requestDidReceiveBytes(self.get(), amount);
        }, op);
    }
    if (!who.delegate && !who.bytesBlock) return;
    auto self = ns::keepAlive(this);
    callOnMain([self, upload, amount, total, progress] {
        ns::WeakDelegate<ProgressDelegate>::Locked d;
        ProgressBlock block;
        {
            std::lock_guard<std::mutex> g(self->settingsLock_);
            d = upload ? self->uploadProgressDelegate_.lock() : self->downloadProgressDelegate_.lock();
            block = upload ? self->bytesSentBlock_ : self->bytesReceivedBlock_;
        }
        if (d && d->answers(ProgressDelegate::Optional::setProgress)) d->setProgress(static_cast<float>(progress));
        if (block) block(amount, total);
    });
}

void HTTPRequest::updateProgressIndicator(ProgressDelegate* indicator, uint64_t progress, uint64_t total) {
    if (!indicator || !indicator->answers(ProgressDelegate::Optional::setProgress)) return;
    float value = total ? static_cast<float>(static_cast<double>(progress) / static_cast<double>(total)) : 0.0f;
    indicator->setProgress(value);
}

void HTTPRequest::updateProgressIndicators() {
    if (isCompanionHEAD_) return;
    if (!showAccurateProgress_ && (!complete_ || updatedProgress_)) return;
    updateUploadProgress();
    updateDownloadProgress();
}

void HTTPRequest::updateUploadProgress() {
    if (cancelled_) return;
    uint64_t sent = totalBytesSent_;
    if (sent == 0) return;
    if (uploadBufferSize_ == 0 && sent != body_.length()) {
        uploadBufferSize_ = sent;
        incrementUploadSizeBy(-static_cast<int64_t>(uploadBufferSize_));
    }
    int64_t amount;
    if (showAccurateProgress_) {
        if (sent == uploadProgressReported_) return;
        amount = static_cast<int64_t>(sent) - static_cast<int64_t>(uploadProgressReported_);
        uploadProgressReported_ = sent;
    } else {
        amount = 1;
        updatedProgress_ = true;
    }
    uint64_t total = body_.length();
    uint64_t buffer = uploadBufferSize_ < total ? uploadBufferSize_ : 0;
    double progress = total > buffer ? static_cast<double>(sent - std::min(sent, buffer)) / static_cast<double>(total - buffer)
                                     : 1.0;
    deliverBytes(true, amount, total, progress, progressListeners(true));
}

void HTTPRequest::updateDownloadProgress() {
    if (!hasResponseHeaders_ || needsRedirect_) return;
    if (!(contentLength_ || complete_)) return;
    const uint64_t partial = download_.partialSize();
    uint64_t soFar = totalBytesRead_ + partial;
    int64_t amount;
    if (showAccurateProgress_ && contentLength_) {
        amount = static_cast<int64_t>(soFar) - static_cast<int64_t>(lastBytesRead_);
        if (amount == 0) return;
    } else {
        amount = 1;
        updatedProgress_ = true;
    }
    uint64_t total = contentLength_ + partial;
    double progress = total ? static_cast<double>(soFar) / static_cast<double>(total) : 1.0;
    deliverBytes(false, amount, total, progress, progressListeners(false));
    lastBytesRead_ = soFar;
}

void HTTPRequest::incrementSizeBy(bool upload, int64_t amount) {
    const ProgressListeners who = progressListeners(upload);
    if (who.queue || who.delegate) {
        auto op = upload ? ProgressDelegate::Optional::requestIncrementUploadSizeBy
                         : ProgressDelegate::Optional::requestIncrementDownloadSizeBy;
        deliverProgress(upload, [self = ns::keepAlive(this), upload, amount](ProgressDelegate& p) {
            if (upload) p.requestIncrementUploadSizeBy(self.get(), amount);
            else p.requestIncrementDownloadSizeBy(self.get(), amount);
        }, op);
    }
    if (!who.sizeBlock) return;
    auto self = ns::keepAlive(this);
    callOnMain([self, upload, amount] {
        SizeBlock block;
        {
            std::lock_guard<std::mutex> g(self->settingsLock_);
            block = upload ? self->uploadSizeIncrementedBlock_ : self->downloadSizeIncrementedBlock_;
        }
        if (block) block(amount);
    });
}

void HTTPRequest::incrementDownloadSizeBy(int64_t amount) { incrementSizeBy(false, amount); }

void HTTPRequest::incrementUploadSizeBy(int64_t amount) { incrementSizeBy(true, amount); }

void HTTPRequest::removeUploadProgressSoFar() {
    int64_t amount = -static_cast<int64_t>(uploadProgressReported_ ? uploadProgressReported_ : lastBytesSent_);
    uploadProgressReported_ = 0;
    // The indicator goes back to nothing sent.
    deliverBytes(true, amount, body_.length(), 0.0, progressListeners(true));
}

void HTTPRequest::removeDownloadProgressSoFar() {
    takeBackDownloadSize();
    // Inaccurate progress reports one unit at the end, and its size one
    // unit per answer: nothing of a page to take back.
    if (!showAccurateProgress_ || !lastBytesRead_) return;
    const auto amount = -static_cast<int64_t>(std::exchange(lastBytesRead_, 0));
    deliverBytes(false, amount, contentLength_ + download_.partialSize(), 0.0, progressListeners(false));
}

void HTTPRequest::resetProgressAtStart() {
    if (shouldResetUploadProgress_) {
        incrementUploadSizeBy(showAccurateProgress_ ? static_cast<int64_t>(body_.length()) : 1);
        resetProgressIndicator(true);
    }
    if (shouldResetDownloadProgress_ && !download_.partialSize()) resetProgressIndicator(false);
}

void HTTPRequest::resetProgressIndicator(bool upload) {
    if (!progressListeners(upload).delegate) return;
    auto self = ns::keepAlive(this);
    callOnMain([self, upload] {
        ns::WeakDelegate<ProgressDelegate>::Locked d;
        {
            std::lock_guard<std::mutex> g(self->settingsLock_);
            d = upload ? self->uploadProgressDelegate_.lock() : self->downloadProgressDelegate_.lock();
        }
        if (d) updateProgressIndicator(d.get(), 0, 1);
    });
}

}  // namespace http
