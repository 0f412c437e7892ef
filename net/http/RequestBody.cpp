#include "net/http/RequestBody.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "net/http/DataCompressor.h"
#include "net/http/InputStream.h"
#include "net/http/RequestErrors.h"
#include "platform/foundation/FileIO.h"

namespace http {

namespace {

const char* const kAttributesText = "Failed to get attributes for file at path";
constexpr size_t kFileChunkSize = 262144;

bool fileExists(const std::string& path) {
    struct stat st{};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

ns::Ref<ns::Error> removeFile(std::string& path) {
    std::string removed = std::exchange(path, std::string());
    if (removed.empty() || !fileExists(removed) || ::unlink(removed.c_str()) == 0) return nullptr;
    return fileError("Failed to delete file at path", removed, errno, "unlink");
}

}  // namespace

RequestBody::~RequestBody() {
    if (stream_) stream_->close();
    if (writeFd_ >= 0) ::close(writeFd_);
    if (createdTemporaryFile_ && !filePath_.empty()) ::unlink(filePath_.c_str());
    if (!compressedFilePath_.empty()) ::unlink(compressedFilePath_.c_str());
}

void RequestBody::copyTo(RequestBody& other) const {
    if (data_) {
        other.data_ = ns::MutableData::make();
        other.data_->appendData(*data_);
    }
    other.streamFromDisk_ = streamFromDisk_;
    other.filePath_ = filePath_;
    other.length_ = length_;
    other.built_ = built_;
}

void RequestBody::setUp() {
    if (streamFromDisk_) {
        if (filePath_.empty()) {
            filePath_ = temporaryFilePath();
            createdTemporaryFile_ = true;
        }
        if (writeFd_ < 0) writeFd_ = ::open(filePath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    } else if (!data_) {
        data_ = ns::MutableData::make();
    }
}

ns::Ref<ns::Error> RequestBody::write(const uint8_t* bytes, size_t length, const std::string& about,
                                      const char* operation) {
    if (!streamFromDisk_) {
        data_->appendBytes(bytes, length);
        return nullptr;
    }
    if (writeFd_ < 0 || !ns::writeAll(writeFd_, bytes, length)) return fileError(kAttributesText, about, errno, operation);
    return nullptr;
}

ns::Ref<ns::Error> RequestBody::append(const ns::Data& data) {
    setUp();
    if (data.length() == 0) return nullptr;
    return write(data.bytes(), data.length(), filePath_, "write");
}

ns::Ref<ns::Error> RequestBody::appendFile(const std::string& path) {
    setUp();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fileError(kAttributesText, path, errno, "open");
    std::vector<uint8_t> chunk(kFileChunkSize);
    ns::Ref<ns::Error> error;
    while (!error) {
        ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error = fileError(kAttributesText, path, errno, "read");
        if (n <= 0) break;
        error = write(chunk.data(), static_cast<size_t>(n), path, "read");
    }
    ::close(fd);
    return error;
}

ns::Ref<ns::Error> RequestBody::build() {
    if (!filePath_.empty()) {
        if (writeFd_ >= 0) {
            ::close(writeFd_);
            writeFd_ = -1;
        }
        if (compress_ && compressedFilePath_.empty()) {
            std::string path = temporaryFilePath();
            ns::Ref<ns::Error> err;
            if (!DataCompressor::compressDataFromFile(filePath_, path, &err)) {
                ::unlink(path.c_str());
                return err;
            }
            compressedFilePath_ = path;
        }
        const std::string& measured = compress_ ? compressedFilePath_ : filePath_;
        struct stat st{};
        if (::stat(measured.c_str(), &st) != 0) return fileError(kAttributesText, measured, errno, "stat");
        length_ = static_cast<uint64_t>(st.st_size);
    } else if (data_ && data_->length()) {
        if (compress_) {
            ns::Ref<ns::Error> err;
            compressedData_ = DataCompressor::compressData(data_.get(), &err);
            if (err || !compressedData_) return err ? err : DataCompressor::deflateErrorWithCode(Z_MEM_ERROR);
            length_ = compressedData_->length();
        } else {
            length_ = data_->length();
        }
    } else {
        length_ = 0;
    }
    return nullptr;
}

ns::Ref<net::InputStream> RequestBody::openStream(HTTPRequest* owner) {
    ns::Ref<InputStream> stream;
    if (!filePath_.empty() && fileExists(filePath_)) {
        stream = InputStream::inputStreamWithFileAtPath(
            fileExists(compressedFilePath_) ? compressedFilePath_ : filePath_, owner);
    } else if (data_ && data_->length()) {
        // The stream reads its own snapshot: the caller may change the body
        // for a later attempt.
        if (compress_ && compressedData_) stream = InputStream::inputStreamWithData(compressedData_, owner);
        else stream = InputStream::inputStreamWithData(ns::Data::make(data_->bytes(), data_->length()), owner);
    }
    stream_ = stream;
    return stream;
}

void RequestBody::closeStream() {
    if (stream_) stream_->close();
    stream_ = nullptr;
}

void RequestBody::drop() {
    data_ = nullptr;
    compressedData_ = nullptr;
    filePath_.clear();
    length_ = 0;
}

ns::Ref<ns::Error> RequestBody::removeTemporaryFiles() {
    ns::Ref<ns::Error> error;
    if (createdTemporaryFile_) error = removeFile(filePath_);
    createdTemporaryFile_ = false;
    auto second = removeFile(compressedFilePath_);
    return error ? error : second;
}

}  // namespace http
