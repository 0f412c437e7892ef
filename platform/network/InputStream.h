// Body streams that an HTTP read stream sends as a request body: bytes in
// memory or a file. Reads are synchronous (memory and local files are always
// ready). Subclasses may pace their reads (the HTTP client's throttled upload
// stream does) by answering fewer bytes than asked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"

namespace net {

class InputStream : public ns::Object {
public:
    enum class Status { NotOpen, Open, AtEnd, Closed, Error };
    const char* className() const override { return "InputStream"; }

    static ns::Ref<InputStream> inputStreamWithData(ns::Ref<ns::Data> data);
    static ns::Ref<InputStream> inputStreamWithFileAtPath(std::string path);

    // Opens the stream; false (with streamError()) when it cannot be read.
    virtual bool open() = 0;
    // Up to `max` bytes into buf: the count, 0 at the end, -1 on error.
    virtual long read(uint8_t* buf, size_t max) = 0;
    virtual bool hasBytesAvailable() const = 0;
    virtual void close() = 0;
    // Total length when known in advance (a file's size, the data's length).
    virtual std::optional<uint64_t> length() const = 0;
    Status streamStatus() const { return status_; }
    const ns::Ref<ns::Error>& streamError() const { return error_; }

protected:
    Status status_ = Status::NotOpen;
    ns::Ref<ns::Error> error_;
};

}  // namespace net
