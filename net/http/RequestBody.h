// The body a request sends: built in memory or in a file (streamed from
// disk), optionally gzip-compressed once before the first attempt, measured
// for Content-Length, and opened as a throttled stream for each attempt.
//
// Owned by one request. It is filled by the caller before the request
// starts (or by a subclass's body builder on the request's thread) and used
// only on the request's thread after that; it has no lock of its own.
#pragma once

#include <cstdint>
#include <string>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/network/InputStream.h"

namespace http {

class HTTPRequest;

class RequestBody {
public:
    RequestBody() = default;
    // Closes what is open and removes the temporary files it made.
    ~RequestBody();
    RequestBody(const RequestBody&) = delete;
    RequestBody& operator=(const RequestBody&) = delete;

    // --- Settings ---------------------------------------------------------------
    ns::Ref<ns::MutableData> data() const { return data_; }
    void setData(ns::Ref<ns::MutableData> data) { data_ = std::move(data); }
    // A body file of the caller's (or a temporary one, when streamed from disk).
    const std::string& filePath() const { return filePath_; }
    void setFilePath(std::string path) { filePath_ = std::move(path); }
    bool streamsFromDisk() const { return streamFromDisk_; }
    void setStreamsFromDisk(bool v) { streamFromDisk_ = v; }
    bool compresses() const { return compress_; }
    void setCompresses(bool v) { compress_ = v; }
    // Whether there is anything to send (before it is built).
    bool hasContent() const { return (data_ && data_->length()) || !filePath_.empty(); }
    // The settings and the built length of a copy (a temporary body file is
    // sent by the copy too, but only its maker removes it).
    void copyTo(RequestBody& other) const;

    // --- Building -----------------------------------------------------------------
    // Makes the place bytes are appended to: a temporary file opened for
    // writing when streamed from disk, else memory.
    void setUp();
    // Nil, or the file error (code 8).
    ns::Ref<ns::Error> append(const ns::Data& data);
    ns::Ref<ns::Error> appendFile(const std::string& path);
    // Closes the file being written, compresses once when asked, and
    // measures: nil, or the error.
    ns::Ref<ns::Error> build();
    bool isBuilt() const { return built_; }
    void setBuilt(bool v) { built_ = v; }
    // The bytes sent (compressed when compressing), once built.
    uint64_t length() const { return length_; }
    ns::Ref<ns::Data> compressedData() const { return compressedData_; }
    const std::string& compressedFilePath() const { return compressedFilePath_; }
    bool createdTemporaryFile() const { return createdTemporaryFile_; }

    // --- Sending ------------------------------------------------------------------
    // A stream over the built body for one attempt (nil when there is no
    // body), its reads throttled for `owner`.
    ns::Ref<net::InputStream> openStream(HTTPRequest* owner);
    void closeStream();
    // A redirect that turns the request into a GET sends no body.
    void drop();
    // Removes the temporary body files; nil or the error of the first that
    // could not be removed.
    ns::Ref<ns::Error> removeTemporaryFiles();

private:
    ns::Ref<ns::Error> write(const uint8_t* bytes, size_t length, const std::string& about, const char* operation);

    ns::Ref<ns::MutableData> data_;
    std::string filePath_;
    bool streamFromDisk_ = false;
    bool compress_ = false;
    bool createdTemporaryFile_ = false;
    int writeFd_ = -1;
    bool built_ = false;
    uint64_t length_ = 0;
    ns::Ref<ns::Data> compressedData_;
    std::string compressedFilePath_;
    ns::Ref<net::InputStream> stream_;
};

}  // namespace http
