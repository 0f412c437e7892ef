// HTTPRequest: request bodies (memory or a file, optionally gzip), where
// response bytes go (memory, a temporary file, a resumed partial file),
// temporary files, progress reports and use of the download cache.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>

#include "platform/foundation/FileIO.h"
#include "net/http/HTTPRequestInternal.h"
#include "net/http/InputStream.h"
#include "platform/foundation/Format.h"
#include "platform/network/NetworkErrors.h"

namespace http {

namespace {

bool fileExists(const std::string& path) {
    struct stat st{};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

uint64_t fileSize(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

std::string headerIn(const ns::Dictionary* headers, std::string_view name) {
    if (!headers) return {};
    for (size_t i = 0; i < headers->count(); ++i)
        if (net::equalsIgnoringCase(engine::textOf(headers->keyAtIndex(i)), name))
            return engine::textOf(headers->valueAtIndex(i));
    return {};
}
bool headerPresent(const ns::Dictionary* headers, std::string_view name) {
    if (!headers) return false;
    for (size_t i = 0; i < headers->count(); ++i)
        if (net::equalsIgnoringCase(engine::textOf(headers->keyAtIndex(i)), name)) return true;
    return false;
}
}  // namespace

std::string HTTPRequest::temporaryPath() {
    static std::mutex m;
    static std::mt19937_64 rng{std::random_device{}()};
    uint64_t a, b;
    {
        std::lock_guard<std::mutex> g(m);
        a = rng();
        b = rng();
    }
    char name[64];
    std::snprintf(name, sizeof name, "HTTPRequest-%016llX%016llX", (unsigned long long)a, (unsigned long long)b);
    std::error_code ec;
    return (std::filesystem::temp_directory_path(ec) / name).string();
}

// ---- Bodies --------------------------------------------------------------------------------

void HTTPRequest::setupPostBody() {
    std::lock_guard<std::recursive_mutex> g(cancelledLock_);
    if (shouldStreamPostDataFromDisk_) {
        if (postBodyFilePath_.empty()) {
            postBodyFilePath_ = temporaryPath();
            didCreateTemporaryPostDataFile_ = true;
        }
        if (postBodyWriteFd_ < 0)
            postBodyWriteFd_ = ::open(postBodyFilePath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    } else if (!postBody_) {
        postBody_ = ns::MutableData::make();
    }
}

void HTTPRequest::appendPostData(const ns::Data& data) {
    std::lock_guard<std::recursive_mutex> g(cancelledLock_);
    setupPostBody();
    if (data.length() == 0) return;
    if (shouldStreamPostDataFromDisk_) {
        if (postBodyWriteFd_ < 0 || !ns::writeAll(postBodyWriteFd_, data.bytes(), data.length()))
            failWithError(errorWithCode(kFileManagementError,
                                        ns::format("Failed to get attributes for file at path '%@'", postBodyFilePath_),
                                        net::posixError(errno, "write")));
    } else {
        postBody_->appendData(data);
    }
}

bool HTTPRequest::appendPostDataFromFile(const std::string& path) {
    std::lock_guard<std::recursive_mutex> g(cancelledLock_);
    setupPostBody();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        failWithError(errorWithCode(kFileManagementError,
                                    ns::format("Failed to get attributes for file at path '%@'", path),
                                    net::posixError(errno, "open")));
        return false;
    }
    std::vector<uint8_t> chunk(kPostDataChunkSize);
    bool ok = true;
    while (true) {
        ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (shouldStreamPostDataFromDisk_) {
            if (postBodyWriteFd_ < 0 || !ns::writeAll(postBodyWriteFd_, chunk.data(), static_cast<size_t>(n))) {
                ok = false;
                break;
            }
        } else {
            postBody_->appendBytes(chunk.data(), static_cast<size_t>(n));
        }
    }
    int err = errno;
    ::close(fd);
    if (!ok)
        failWithError(errorWithCode(kFileManagementError,
                                    ns::format("Failed to get attributes for file at path '%@'", path),
                                    net::posixError(err, "read")));
    return ok;
}

void HTTPRequest::buildPostBody() {
    if (haveBuiltPostBody_) return;
    if (!postBodyFilePath_.empty()) {
        if (postBodyWriteFd_ >= 0) {
            ::close(postBodyWriteFd_);
            postBodyWriteFd_ = -1;
        }
        if (shouldCompressRequestBody_ && compressedPostBodyFilePath_.empty()) {
            std::string path = temporaryPath();
            ns::Ref<ns::Error> err;
            if (!DataCompressor::compressDataFromFile(postBodyFilePath_, path, &err)) {
                ::unlink(path.c_str());
                failWithError(err);
                return;
            }
            compressedPostBodyFilePath_ = path;
        }
        const std::string& measured = shouldCompressRequestBody_ ? compressedPostBodyFilePath_ : postBodyFilePath_;
        struct stat st{};
        if (::stat(measured.c_str(), &st) != 0) {
            failWithError(errorWithCode(kFileManagementError,
                                        ns::format("Failed to get attributes for file at path '%@'", measured),
                                        net::posixError(errno, "stat")));
            return;
        }
        postLength_ = static_cast<uint64_t>(st.st_size);
    } else if (postBody_ && postBody_->length()) {
        if (shouldCompressRequestBody_) {
            ns::Ref<ns::Error> err;
            compressedPostBody_ = DataCompressor::compressData(postBody_.get(), &err);
            if (err || !compressedPostBody_) {
                failWithError(err ? err : DataCompressor::deflateErrorWithCode(Z_MEM_ERROR));
                return;
            }
            postLength_ = compressedPostBody_->length();
        } else {
            postLength_ = postBody_->length();
        }
    } else {
        postLength_ = 0;
    }
    if (postLength_ > 0) {
        if (requestMethod_ == "GET" || requestMethod_ == "DELETE" || requestMethod_ == "HEAD")
            setRequestMethod("POST");
        addRequestHeader("Content-Length", ns::format("%llu", (unsigned long long)postLength_));
    }
    haveBuiltPostBody_ = true;
}

ns::Ref<net::InputStream> HTTPRequest::makeBodyStream() {
    ns::Ref<InputStream> stream;
    if (!postBodyFilePath_.empty() && fileExists(postBodyFilePath_)) {
        stream = InputStream::inputStreamWithFileAtPath(
            fileExists(compressedPostBodyFilePath_) ? compressedPostBodyFilePath_ : postBodyFilePath_, this);
    } else if (postBody_ && postBody_->length()) {
        if (shouldCompressRequestBody_ && compressedPostBody_)
            stream = InputStream::inputStreamWithData(compressedPostBody_, this);
        else
            stream = InputStream::inputStreamWithData(ns::Data::make(postBody_->bytes(), postBody_->length()), this);
    }
    postBodyReadStream_ = stream;
    return stream;
}

// ---- Response storage ----------------------------------------------------------------------

void HTTPRequest::storeReceivedBytes(const uint8_t* bytes, size_t length, ns::Ref<ns::Data> inflated) {
    if (downloadDestinationPath_.empty()) {
        if (!rawResponseData_) rawResponseData_ = ns::MutableData::make();
        if (inflated) rawResponseData_->appendData(*inflated);
        else rawResponseData_->appendBytes(bytes, length);
        return;
    }
    auto openFor = [&](std::string& path, int& fd) -> bool {
        bool append = false;
        if (path.empty()) {
            path = temporaryPath();
        } else if (allowResumeForFileDownloads_) {
            bool askedRange = headerPresent(requestHeaders_.get(), "Range");
            bool gotRange = headerPresent(responseHeaders_.get(), "Content-Range");
            if (askedRange && gotRange) {
                append = true;
            } else if (askedRange && !gotRange && &fd == &fileDownloadFd_ && partialDownloadSize_) {
                // The server sent the whole body again: start the file over.
                incrementDownloadSizeBy(-static_cast<int64_t>(partialDownloadSize_));
                partialDownloadSize_ = 0;
            }
        }
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC), 0644);
        return fd >= 0;
    };
    if (fileDownloadFd_ < 0 && !openFor(temporaryFileDownloadPath_, fileDownloadFd_)) {
        int err = errno;
        cancelLoad();
        failWithError(errorWithCode(kFileManagementError,
                                    ns::format("Failed to get attributes for file at path '%@'", temporaryFileDownloadPath_),
                                    net::posixError(err, "open")));
        return;
    }
    if (!ns::writeAll(fileDownloadFd_, bytes, length)) {
        int err = errno;
        cancelLoad();
        failWithError(errorWithCode(kFileManagementError,
                                    ns::format("Failed to get attributes for file at path '%@'", temporaryFileDownloadPath_),
                                    net::posixError(err, "write")));
        return;
    }
    if (inflated) {
        if (inflatedFileDownloadFd_ < 0 && !openFor(temporaryUncompressedDataDownloadPath_, inflatedFileDownloadFd_)) {
            int err = errno;
            cancelLoad();
            failWithError(errorWithCode(
                kFileManagementError,
                ns::format("Failed to get attributes for file at path '%@'", temporaryUncompressedDataDownloadPath_),
                net::posixError(err, "open")));
            return;
        }
        ns::writeAll(inflatedFileDownloadFd_, inflated->bytes(), inflated->length());
    }
}

void HTTPRequest::closeDownloadFiles() {
    if (fileDownloadFd_ >= 0) ::close(fileDownloadFd_);
    if (inflatedFileDownloadFd_ >= 0) ::close(inflatedFileDownloadFd_);
    fileDownloadFd_ = inflatedFileDownloadFd_ = -1;
}

void HTTPRequest::finishFileDownload() {
    if (temporaryFileDownloadPath_.empty()) return;
    closeDownloadFiles();
    if (needsRedirect_ && shouldRedirect_ && allowResumeForFileDownloads_) return;
    auto moveInto = [this](const std::string& from, const std::string& to) -> bool {
        if (fileExists(to) && ::unlink(to.c_str()) != 0) {
            fileError_ = errorWithCode(kFileManagementError, ns::format("Failed to delete file at path '%@'", to),
                                       net::posixError(errno, "unlink"));
            return false;
        }
        std::error_code ec;
        std::filesystem::rename(from, to, ec);
        if (ec) {
            fileError_ = errorWithCode(kFileManagementError,
                                       ns::format("Failed to move file from '%@' to '%@'", from, to),
                                       net::posixError(ec.value(), "rename"));
            return false;
        }
        return true;
    };
    if (isResponseCompressed()) {
        if (shouldWaitToInflateCompressedResponses_) {
            ns::Ref<ns::Error> err;
            // Inflate beside the destination, then move into place whole.
            std::string staging = downloadDestinationPath_ + ".inflating";
            if (!DataDecompressor::uncompressDataFromFile(temporaryFileDownloadPath_, staging, &err,
                                                          maxInflatedLength_)) {
                ::unlink(staging.c_str());
                fileError_ = err;
            } else {
                moveInto(staging, downloadDestinationPath_);
            }
        } else if (!temporaryUncompressedDataDownloadPath_.empty()) {
            if (moveInto(temporaryUncompressedDataDownloadPath_, downloadDestinationPath_))
                temporaryUncompressedDataDownloadPath_.clear();
        }
        removeTemporaryDownloadFile();
    } else {
        if (moveInto(temporaryFileDownloadPath_, downloadDestinationPath_)) temporaryFileDownloadPath_.clear();
    }
}

bool HTTPRequest::updatePartialDownloadSize() {
    if (allowResumeForFileDownloads_ && !downloadDestinationPath_.empty() && fileExists(temporaryFileDownloadPath_)) {
        struct stat st{};
        if (::stat(temporaryFileDownloadPath_.c_str(), &st) != 0) {
            failWithError(errorWithCode(
                kFileManagementError,
                ns::format("Failed to get attributes for file at path '%@'", temporaryFileDownloadPath_),
                net::posixError(errno, "stat")));
            return false;
        }
        partialDownloadSize_ = static_cast<uint64_t>(st.st_size);
    }
    return true;
}

// ---- Temporary files -----------------------------------------------------------------------

bool HTTPRequest::removeFileAtPath(const std::string& path) {
    if (path.empty() || !fileExists(path)) return true;
    if (::unlink(path.c_str()) == 0) return true;
    failWithError(errorWithCode(kFileManagementError, ns::format("Failed to delete file at path '%@'", path),
                                net::posixError(errno, "unlink")));
    return false;
}

bool HTTPRequest::removeTemporaryDownloadFile() {
    if (temporaryFileDownloadPath_.empty()) return true;
    bool ok = removeFileAtPath(temporaryFileDownloadPath_);
    temporaryFileDownloadPath_.clear();
    return ok;
}

bool HTTPRequest::removeTemporaryUncompressedDownloadFile() {
    if (temporaryUncompressedDataDownloadPath_.empty()) return true;
    bool ok = removeFileAtPath(temporaryUncompressedDataDownloadPath_);
    temporaryUncompressedDataDownloadPath_.clear();
    return ok;
}

bool HTTPRequest::removeTemporaryUploadFile() {
    if (!didCreateTemporaryPostDataFile_ || postBodyFilePath_.empty()) return true;
    bool ok = removeFileAtPath(postBodyFilePath_);
    postBodyFilePath_.clear();
    return ok;
}

bool HTTPRequest::removeTemporaryCompressedUploadFile() {
    if (compressedPostBodyFilePath_.empty()) return true;
    bool ok = removeFileAtPath(compressedPostBodyFilePath_);
    compressedPostBodyFilePath_.clear();
    return ok;
}

void HTTPRequest::cancelLoad() {
    cancelPACFetch();
    destroyReadStream();
    if (postBodyReadStream_) {
        postBodyReadStream_->close();
        postBodyReadStream_ = nullptr;
    }
    if (downloadDestinationPath_.empty()) {
        if (!downloadComplete_) {
            rawResponseData_ = nullptr;
            inflatedResponseData_ = nullptr;
        }
    } else {
        closeDownloadFiles();
        if (!downloadComplete_) {
            if (!allowResumeForFileDownloads_) removeTemporaryDownloadFile();
            removeTemporaryUncompressedDownloadFile();
        }
    }
    if (!authenticationNeeded_ && !willRetryRequest_) {
        removeTemporaryUploadFile();
        removeTemporaryCompressedUploadFile();
        didCreateTemporaryPostDataFile_ = false;
    }
}

// ---- Cache -----------------------------------------------------------------------------------

void HTTPRequest::storeInCache() {
    if (didUseCachedResponse_) return;
    if (auto cache = downloadCacheLink_.lock()) cache->storeResponseForRequest(*this, secondsToCache_);
}

void HTTPRequest::useDataFromCache() {
    auto cache = downloadCacheLink_.lock();
    if (!cache || !url_) return;
    // The stream that brought the answer is not needed any more. A
    // not-modified answer has no body, so its connection stays open for the
    // next request when the answer allows that; any other answer's unread
    // body closes it.
    if (readStream_) {
        if (statusTimer_) {
            statusTimer_->invalidate();
            statusTimer_ = nullptr;
        }
        if (responseStatusCode_ == 304 && responseMessage_) readKeepAlive(*responseMessage_);
        else connectionCanBeReused_ = false;
        releaseConnectionAfterCompletion();
        destroyReadStream();
    }
    auto headers = cache->cachedResponseHeadersForURL(*url_);
    std::string dataPath = cache->pathToCachedResponseDataForURL(*url_);
    auto main = mainRequest();
    HTTPRequest* receiver = main ? main.get() : this;
    if (headers && !dataPath.empty()) {
        receiver->responseStatusCode_ =
            static_cast<int>(std::strtol(headerIn(headers.get(), DownloadCache::kStatusCodeKey).c_str(), nullptr, 10));
        receiver->didUseCachedResponse_ = true;
        receiver->responseHeaders_ = headers;
        if (!receiver->downloadDestinationPath_.empty()) {
            // The caller gets the cached body at the place it asked for.
            std::error_code ec;
            std::filesystem::copy_file(dataPath, receiver->downloadDestinationPath_ + ".fromcache",
                                       std::filesystem::copy_options::overwrite_existing, ec);
            if (!ec) std::filesystem::rename(receiver->downloadDestinationPath_ + ".fromcache",
                                             receiver->downloadDestinationPath_, ec);
            if (ec)
                receiver->fileError_ = errorWithCode(
                    kFileManagementError,
                    ns::format("Failed to move file from '%@' to '%@'", dataPath, receiver->downloadDestinationPath_),
                    net::posixError(ec.value(), "copy"));
        } else if (fileSize(dataPath) > receiver->maxResponseDataLength_) {
            // A body the cache took from a download may be larger than what
            // this request keeps in memory.
            receiver->fileError_ = responseTooLargeError(receiver->maxResponseDataLength_);
        } else {
            auto data = cache->cachedResponseDataForURL(*url_);
            receiver->rawResponseData_ = ns::MutableData::make();
            receiver->inflatedResponseData_ = nullptr;
            if (data) receiver->rawResponseData_->appendData(*data);
        }
        uint64_t length = std::strtoull(headerIn(headers.get(), "Content-Length").c_str(), nullptr, 10);
        if (!length && receiver->rawResponseData_) length = receiver->rawResponseData_->length();
        receiver->contentLength_ = length;
        receiver->totalBytesRead_ = length;
        receiver->parseStringEncodingFromHeaders();
        net::HeaderList list;
        for (size_t i = 0; i < headers->count(); ++i)
            list.add(engine::textOf(headers->keyAtIndex(i)), engine::textOf(headers->valueAtIndex(i)));
        receiver->responseCookies_ = net::HTTPCookie::cookiesWithResponseHeaderFields(list, *url_);
        if (receiver == this && willRedirect()) {
            complete_ = true;
            downloadComplete_ = true;
            if (!willAskDelegateToConfirmRedirect()) {
                auto self = ns::keepAlive(this);
                performOnRequestThread([self] { self->performRedirect(); });
            }
            return;
        }
    }
    receiver->didUseCachedResponse_ = true;
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

void HTTPRequest::deliverProgress(bool upload, std::function<void(ProgressDelegate&)> fn, ProgressDelegate::Optional op) {
    auto self = ns::keepAlive(this);
    callOnMain([self, upload, fn, op] {
        ns::WeakDelegate<ProgressDelegate>::Locked d;
        ns::StrongDelegate<HTTPRequestQueue>::Locked q;
        {
            std::lock_guard<std::recursive_mutex> g(self->cancelledLock_);
            d = upload ? self->uploadProgressDelegate_.lock() : self->downloadProgressDelegate_.lock();
            q = self->queue_.lock();
        }
        if (q && static_cast<ProgressDelegate*>(q.get())->answers(op)) fn(*q);
        if (d && d->answers(op)) fn(*d);
    });
}

void HTTPRequest::updateProgressIndicator(ProgressDelegate* indicator, uint64_t progress, uint64_t total) {
    if (!indicator || !indicator->answers(ProgressDelegate::Optional::setProgress)) return;
    float value = total ? static_cast<float>(static_cast<double>(progress) / static_cast<double>(total)) : 0.0f;
    std::lock_guard<std::recursive_mutex> g(engine::progressLock());
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
    if (uploadBufferSize_ == 0 && sent != postLength_) {
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
    uint64_t total = postLength_;
    uint64_t buffer = uploadBufferSize_ < total ? uploadBufferSize_ : 0;
    double progress = total > buffer ? static_cast<double>(sent - std::min(sent, buffer)) / static_cast<double>(total - buffer)
                                     : 1.0;
    deliverProgress(true, [self = ns::keepAlive(this), amount](ProgressDelegate& p) {
        p.requestDidSendBytes(self.get(), amount);
    }, ProgressDelegate::Optional::requestDidSendBytes);
    auto self = ns::keepAlive(this);
    callOnMain([self, amount, total, progress] {
        ns::WeakDelegate<ProgressDelegate>::Locked d;
        ProgressBlock block;
        {
            std::lock_guard<std::recursive_mutex> g(self->cancelledLock_);
            d = self->uploadProgressDelegate_.lock();
            block = self->bytesSentBlock_;
        }
        if (d && d->answers(ProgressDelegate::Optional::setProgress)) {
            std::lock_guard<std::recursive_mutex> p(engine::progressLock());
            d->setProgress(static_cast<float>(progress));
        }
        if (block) block(amount, total);
    });
}

void HTTPRequest::updateDownloadProgress() {
    if (!responseHeaders_ || needsRedirect_) return;
    if (!(contentLength_ || complete_)) return;
    uint64_t soFar = totalBytesRead_ + partialDownloadSize_;
    int64_t amount;
    if (showAccurateProgress_ && contentLength_) {
        amount = static_cast<int64_t>(soFar) - static_cast<int64_t>(lastBytesRead_);
        if (amount == 0) return;
    } else {
        amount = 1;
        updatedProgress_ = true;
    }
    uint64_t total = contentLength_ + partialDownloadSize_;
    double progress = total ? static_cast<double>(soFar) / static_cast<double>(total) : 1.0;
    deliverProgress(false, [self = ns::keepAlive(this), amount](ProgressDelegate& p) {
        p.requestDidReceiveBytes(self.get(), amount);
    }, ProgressDelegate::Optional::requestDidReceiveBytes);
    auto self = ns::keepAlive(this);
    callOnMain([self, amount, total, progress] {
        ns::WeakDelegate<ProgressDelegate>::Locked d;
        ProgressBlock block;
        {
            std::lock_guard<std::recursive_mutex> g(self->cancelledLock_);
            d = self->downloadProgressDelegate_.lock();
            block = self->bytesReceivedBlock_;
        }
        if (d && d->answers(ProgressDelegate::Optional::setProgress)) {
            std::lock_guard<std::recursive_mutex> p(engine::progressLock());
            d->setProgress(static_cast<float>(progress));
        }
        if (block) block(amount, total);
    });
    lastBytesRead_ = soFar;
}

void HTTPRequest::incrementDownloadSizeBy(int64_t amount) {
    deliverProgress(false, [self = ns::keepAlive(this), amount](ProgressDelegate& p) {
        p.requestIncrementDownloadSizeBy(self.get(), amount);
    }, ProgressDelegate::Optional::requestIncrementDownloadSizeBy);
    auto self = ns::keepAlive(this);
    callOnMain([self, amount] {
        SizeBlock block;
        {
            std::lock_guard<std::recursive_mutex> g(self->cancelledLock_);
            block = self->downloadSizeIncrementedBlock_;
        }
        if (block) block(amount);
    });
}

void HTTPRequest::incrementUploadSizeBy(int64_t amount) {
    deliverProgress(true, [self = ns::keepAlive(this), amount](ProgressDelegate& p) {
        p.requestIncrementUploadSizeBy(self.get(), amount);
    }, ProgressDelegate::Optional::requestIncrementUploadSizeBy);
    auto self = ns::keepAlive(this);
    callOnMain([self, amount] {
        SizeBlock block;
        {
            std::lock_guard<std::recursive_mutex> g(self->cancelledLock_);
            block = self->uploadSizeIncrementedBlock_;
        }
        if (block) block(amount);
    });
}

void HTTPRequest::removeUploadProgressSoFar() {
    int64_t amount = -static_cast<int64_t>(uploadProgressReported_ ? uploadProgressReported_ : lastBytesSent_);
    uploadProgressReported_ = 0;
    deliverProgress(true, [self = ns::keepAlive(this), amount](ProgressDelegate& p) {
        p.requestDidSendBytes(self.get(), amount);
    }, ProgressDelegate::Optional::requestDidSendBytes);
    auto self = ns::keepAlive(this);
    uint64_t total = postLength_;
    callOnMain([self, amount, total] {
        ns::WeakDelegate<ProgressDelegate>::Locked d;
        ProgressBlock block;
        {
            std::lock_guard<std::recursive_mutex> g(self->cancelledLock_);
            d = self->uploadProgressDelegate_.lock();
            block = self->bytesSentBlock_;
        }
        if (d && d->answers(ProgressDelegate::Optional::setProgress)) d->setProgress(0);
        if (block) block(amount, total);
    });
}

void HTTPRequest::resetProgressAtStart() {
    if (shouldResetUploadProgress_) {
        incrementUploadSizeBy(showAccurateProgress_ ? static_cast<int64_t>(postLength_) : 1);
        auto self = ns::keepAlive(this);
        callOnMain([self] {
            ns::WeakDelegate<ProgressDelegate>::Locked d;
            {
                std::lock_guard<std::recursive_mutex> g(self->cancelledLock_);
                d = self->uploadProgressDelegate_.lock();
            }
            if (d) updateProgressIndicator(d.get(), 0, 1);
        });
    }
    if (shouldResetDownloadProgress_ && !partialDownloadSize_) {
        auto self = ns::keepAlive(this);
        callOnMain([self] {
            ns::WeakDelegate<ProgressDelegate>::Locked d;
            {
                std::lock_guard<std::recursive_mutex> g(self->cancelledLock_);
                d = self->downloadProgressDelegate_.lock();
            }
            if (d) updateProgressIndicator(d.get(), 0, 1);
        });
    }
}

}  // namespace http
