// gzip for request and response bodies, over zlib.
//
// DataCompressor makes gzip members (for compressed request bodies);
// DataDecompressor inflates gzip or zlib data (the header kind is detected),
// one block at a time as a response arrives, whole in memory, or file to
// file (a new destination file is the user's alone, 0600). Each instance
// owns one zlib stream and is used from one thread; the static operations
// make a fresh instance per call. Every failure is an error in
// "HTTPRequestErrorDomain" with code 11.
#pragma once

#include <string>
#include <zlib.h>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"

namespace http {

inline constexpr const char* kHTTPRequestErrorDomain = "HTTPRequestErrorDomain";
inline constexpr long kCompressionError = 11;

class DataCompressor : public ns::Object {
public:
    DataCompressor();
    ~DataCompressor() override;
    const char* className() const override { return "DataCompressor"; }

    // A new compressor whose stream is already set up (nil if zlib refuses).
    static ns::Ref<DataCompressor> compressor();

    // Sets the stream up when it is not ready; nil or the zlib error.
    ns::Ref<ns::Error> setupStream();
    // Ends a ready stream; nil or the zlib error.
    ns::Ref<ns::Error> closeStream();
    bool streamReady() const { return streamReady_; }

    // Compresses one block. An empty block gives nil with no error. With
    // shouldFinish the gzip trailer is written. Returns the bytes this call
    // produced (possibly empty), or nil with *error set.
    ns::Ref<ns::Data> compressBytes(const void* bytes, size_t length, ns::Ref<ns::Error>* error,
                                    bool shouldFinish);

    // One finished gzip member of all of `data`; nil and *error on failure.
    static ns::Ref<ns::Data> compressData(const ns::Data* data, ns::Ref<ns::Error>* error);
    // Compresses the file at `source` into a new file at `destination`
    // (replaced when it exists). False with *error on failure.
    static bool compressDataFromFile(const std::string& source, const std::string& destination,
                                     ns::Ref<ns::Error>* error);
    static ns::Ref<ns::Error> deflateErrorWithCode(int code);

private:
    // Ends the stream with an empty finishing call when a file loop stopped
    // on a block boundary and the trailer was never written.
    ns::Ref<ns::Data> finishStream(ns::Ref<ns::Error>* error);
    // One deflate call writing into at least `room` bytes past the end of
    // `out` (not zero-filled first); what it wrote is appended.
    int deflateIntoRoom(ns::MutableData& out, size_t room, int flush);
    bool streamReady_ = false;
    bool finished_ = false;
    z_stream zStream_;
};

class DataDecompressor : public ns::Object {
public:
    DataDecompressor();
    ~DataDecompressor() override;
    const char* className() const override { return "DataDecompressor"; }

    static ns::Ref<DataDecompressor> decompressor();

    ns::Ref<ns::Error> setupStream();
    ns::Ref<ns::Error> closeStream();
    bool streamReady() const { return streamReady_; }

    // Inflates one block; the stream stays open between calls so a body can
    // be inflated piece by piece. An empty block gives nil with no error.
    // Returns the bytes produced by this call, or nil with *error set.
    ns::Ref<ns::Data> uncompressBytes(const void* bytes, size_t length, ns::Ref<ns::Error>* error);

    // Caps the total inflated size (0: no cap, the default). Inflating past
    // the cap fails with the response-too-large error (code 12,
    // ResponseLimits.h), so a small hostile body cannot expand without bound.
    void setMaxOutputLength(uint64_t max) { maxOutput_ = max; }

    // True once the end of the compressed stream was seen.
    bool reachedEnd() const { return ended_; }

    // Both take an optional cap on the inflated size (0: none), as
    // setMaxOutputLength. Input that ends before its compressed stream does
    // fails with code Z_BUF_ERROR (-5): what inflated of it is not handed
    // out.
    static ns::Ref<ns::Data> uncompressData(const ns::Data* data, ns::Ref<ns::Error>* error,
                                            uint64_t maxOutputLength = 0);
    static bool uncompressDataFromFile(const std::string& source, const std::string& destination,
                                       ns::Ref<ns::Error>* error, uint64_t maxOutputLength = 0);
    // Into a file the caller opened (and closes), named `destinationName`
    // in errors: nothing put in place of a name meanwhile is written.
    static bool uncompressDataFromFileInto(const std::string& source, int destinationFd,
                                           const std::string& destinationName, ns::Ref<ns::Error>* error,
                                           uint64_t maxOutputLength = 0);
    static ns::Ref<ns::Error> inflateErrorWithCode(int code);

private:
    bool streamReady_ = false;
    bool ended_ = false;
    uint64_t maxOutput_ = 0;
    uint64_t produced_ = 0;
    z_stream zStream_;
};

}  // namespace http
