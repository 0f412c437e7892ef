#include "net/http/ResponseDownload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "net/http/RequestErrors.h"
#include "platform/foundation/FileIO.h"
#include "platform/network/NetworkErrors.h"

namespace http {

namespace {

bool fileExists(const std::string& path) {
    struct stat st{};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

const char* const kAttributesText = "Failed to get attributes for file at path";

// Replaces `to` with `from`; nil or the error.
ns::Ref<ns::Error> moveInto(const std::string& from, const std::string& to) {
    if (fileExists(to) && ::unlink(to.c_str()) != 0) return fileError("Failed to delete file at path", to, errno, "unlink");
    std::error_code ec;
    std::filesystem::rename(from, to, ec);
    if (ec)
        return requestError(kFileManagementError, "Failed to move file from '" + from + "' to '" + to + "'",
                            net::posixError(ec.value(), "rename"));
    return nullptr;
}

}  // namespace

ResponseDownload::~ResponseDownload() { closeFiles(); }

void ResponseDownload::copySettingsTo(ResponseDownload& other) const {
    other.destinationPath_ = destinationPath_;
    other.temporaryPath_ = temporaryPath_;
    other.allowResume_ = allowResume_;
    other.maxKept_ = maxKept_;
    other.maxInflated_ = maxInflated_;
}

void ResponseDownload::startAttempt() {
    if (destinationPath_.empty()) rawData_ = ns::MutableData::make();
    inflatedData_ = nullptr;
    announcedLength_ = 0;
}

void ResponseDownload::beginBody(Destination where, bool compressed) {
    compressed_ = compressed;
    decompressor_ = nullptr;
    guard_.begin(where, compressed, !waitToInflate_, {maxKept_, maxInflated_}, announcedLength_);
}

void ResponseDownload::reserve(uint64_t announcedLength) {
    announcedLength_ = announcedLength;
    if (rawData_ && rawData_->length() == 0 && announcedLength <= maxKept_ &&
        announcedLength <= kMaxReservation)
        rawData_->reserveCapacity(static_cast<size_t>(announcedLength));
}

ns::Ref<ns::Data> ResponseDownload::inflate(const uint8_t* bytes, size_t length, ns::Ref<ns::Error>* error) {
    if (!decompressor_) {
        decompressor_ = DataDecompressor::decompressor();
        if (!decompressor_) {
            *error = DataDecompressor::inflateErrorWithCode(Z_MEM_ERROR);
            return nullptr;
        }
        decompressor_->setMaxOutputLength(guard_.inflationCap());
    }
    ns::Ref<ns::Error> err;
    ns::Ref<ns::Data> inflated = decompressor_->uncompressBytes(bytes, length, &err);
    if (err) {
        *error = err;
        return nullptr;
    }
    return inflated ? inflated : ns::Data::make(nullptr, 0);
}

bool ResponseDownload::openDownloadFile(std::string& path, int& fd, RangeAnswer range, bool isMainFile,
                                        uint64_t* droppedPartial) {
    bool append = false;
    if (path.empty()) {
        path = temporaryFilePath();
    } else if (allowResume_) {
        if (range == RangeAnswer::Honoured) {
            append = true;
        } else if (range == RangeAnswer::Ignored && isMainFile && partialSize_) {
            // The server sent the whole body again: start the file over.
            *droppedPartial = partialSize_;
            partialSize_ = 0;
        }
    }
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC), 0644);
    return fd >= 0;
}

ns::Ref<ns::Error> ResponseDownload::store(const uint8_t* bytes, size_t length, const ns::Data* inflated,
                                           RangeAnswer range, uint64_t* droppedPartial) {
    *droppedPartial = 0;
    if (destinationPath_.empty()) {
        if (!rawData_) rawData_ = ns::MutableData::make();
        if (inflated) rawData_->appendData(*inflated);
        else rawData_->appendBytes(bytes, length);
        return nullptr;
    }
    if (fileFd_ < 0 && !openDownloadFile(temporaryPath_, fileFd_, range, true, droppedPartial))
        return fileError(kAttributesText, temporaryPath_, errno, "open");
    if (!ns::writeAll(fileFd_, bytes, length)) return fileError(kAttributesText, temporaryPath_, errno, "write");
    if (inflated) {
        if (inflatedFileFd_ < 0 && !openDownloadFile(inflatedTemporaryPath_, inflatedFileFd_, range, false, droppedPartial))
            return fileError(kAttributesText, inflatedTemporaryPath_, errno, "open");
        if (!ns::writeAll(inflatedFileFd_, inflated->bytes(), inflated->length()))
            return fileError(kAttributesText, inflatedTemporaryPath_, errno, "write");
    }
    return nullptr;
}

ns::Ref<ns::Error> ResponseDownload::endBody(bool compressed) {
    // A body inflated as it arrived (into memory, a file or for the
    // delegate) whose gzip stream had not ended when the body did was cut
    // short: the part that inflated is not the body.
    const bool cutShort = decompressor_ && !decompressor_->reachedEnd();
    decompressor_ = nullptr;
    if (cutShort) return DataDecompressor::inflateErrorWithCode(Z_BUF_ERROR);
    if (!rawData_ || !compressed || !waitToInflate_ || !destinationPath_.empty() || rawData_->length() == 0)
        return nullptr;
    int status = Z_OK;
    if (guard_.inflationFailed(&status)) return DataDecompressor::inflateErrorWithCode(status);
    // Inflated once already, while the body arrived, when its gzip stream
    // ended with its last byte. Otherwise (nothing watched it, as it has no
    // limit; the stream was cut short; bytes followed its end) it is
    // inflated now, and a stream cut short fails here.
    inflatedData_ = guard_.takeInflatedBody();
    inflatedFromLength_ = rawData_->length();
    if (!inflatedData_) {
        ns::Ref<ns::Error> error;
        inflatedData_ = DataDecompressor::uncompressData(rawData_.get(), &error, maxKept_);
        if (error) return error;
    }
    return nullptr;
}

void ResponseDownload::abandonFiles() {
    closeFiles();
    removeTemporaryFile(temporaryPath_);
    removeTemporaryFile(inflatedTemporaryPath_);
}

void ResponseDownload::closeFiles() {
    if (fileFd_ >= 0) ::close(fileFd_);
    if (inflatedFileFd_ >= 0) ::close(inflatedFileFd_);
    fileFd_ = inflatedFileFd_ = -1;
}

ns::Ref<ns::Error> ResponseDownload::finishFile(bool compressed, bool keepForResume) {
    if (temporaryPath_.empty()) return nullptr;
    closeFiles();
    if (keepForResume) return nullptr;
    if (!compressed) {
        auto error = moveInto(temporaryPath_, destinationPath_);
        if (!error) temporaryPath_.clear();
        return error;
    }
    ns::Ref<ns::Error> error;
    if (waitToInflate_) {
        // Inflate beside the destination, then move into place whole.
        std::string staging = destinationPath_ + ".inflating";
        if (!DataDecompressor::uncompressDataFromFile(temporaryPath_, staging, &error, maxInflated_)) {
            ::unlink(staging.c_str());
        } else {
            error = moveInto(staging, destinationPath_);
        }
    } else if (!inflatedTemporaryPath_.empty()) {
        error = moveInto(inflatedTemporaryPath_, destinationPath_);
        if (!error) inflatedTemporaryPath_.clear();
    }
    auto removal = removeTemporaryFile(temporaryPath_);
    return error ? error : removal;
}

void ResponseDownload::useCachedBody(const ns::Data* data) {
    rawData_ = ns::MutableData::make();
    inflatedData_ = nullptr;
    if (data) rawData_->appendData(*data);
}

ns::Ref<ns::Error> ResponseDownload::removeTemporaryFile(std::string& path) {
    if (path.empty()) return nullptr;
    std::string removed = std::exchange(path, std::string());
    if (!fileExists(removed) || ::unlink(removed.c_str()) == 0) return nullptr;
    return fileError("Failed to delete file at path", removed, errno, "unlink");
}

ns::Ref<ns::Error> ResponseDownload::cancel(bool bodyComplete) {
    if (destinationPath_.empty()) {
        if (!bodyComplete) {
            rawData_ = nullptr;
            inflatedData_ = nullptr;
        }
        return nullptr;
    }
    closeFiles();
    if (bodyComplete) return nullptr;
    ns::Ref<ns::Error> error;
    if (!allowResume_) error = removeTemporaryFile(temporaryPath_);
    auto second = removeTemporaryFile(inflatedTemporaryPath_);
    return error ? error : second;
}

ns::Ref<ns::Error> ResponseDownload::refreshPartialSize() {
    if (!allowResume_ || destinationPath_.empty() || !fileExists(temporaryPath_)) return nullptr;
    struct stat st{};
    if (::stat(temporaryPath_.c_str(), &st) != 0) return fileError(kAttributesText, temporaryPath_, errno, "stat");
    partialSize_ = static_cast<uint64_t>(st.st_size);
    return nullptr;
}

ns::Ref<ns::Data> ResponseDownload::body(bool compressed) const {
    if (rawData_ && inflatedData_ && rawData_->length() == inflatedFromLength_) return inflatedData_;
    if (rawData_ && compressed && waitToInflate_) {
        ns::Ref<ns::Error> ignored;
        return DataDecompressor::uncompressData(rawData_.get(), &ignored, maxKept_);
    }
    return rawData_;
}

}  // namespace http
