// The body stream the request engine hands to the HTTP read stream: wraps a
// plain input stream over a body file or in-memory body and passes every
// read through the engine's process-wide bandwidth budget. While bandwidth
// is throttled a read is cut to the bytes the budget lets go now (none
// while it is spent: the read answers 0 with bytes still available, and the
// HTTP stream asks again shortly), the owning request gets a chance to
// pause its stream, and every byte read counts as used bandwidth, once:
// bytes are counted here, as they go to the wire, and nowhere else.
#pragma once

#include <mutex>
#include <string>

#include "platform/foundation/Data.h"
#include "platform/network/InputStream.h"

namespace http {

class HTTPRequest;

class InputStream : public net::InputStream {
public:
    const char* className() const override { return "HTTPRequestInputStream"; }
    InputStream(ns::Ref<net::InputStream> stream, HTTPRequest* request);

    static ns::Ref<InputStream> inputStreamWithFileAtPath(const std::string& path, HTTPRequest* request);
    static ns::Ref<InputStream> inputStreamWithData(ns::Ref<ns::Data> data, HTTPRequest* request);

    bool open() override;
    long read(uint8_t* buf, size_t max) override;
    bool hasBytesAvailable() const override { return stream_->hasBytesAvailable(); }
    void close() override;
    std::optional<uint64_t> length() const override { return stream_->length(); }

    const ns::Ref<net::InputStream>& stream() const { return stream_; }
    // The owning request (not retained; nil once it is gone).
    ns::Ref<HTTPRequest> request() const;
    void setRequest(HTTPRequest* request);

    // The length a read of `requested` bytes may use now (the budget step;
    // 0 while the budget is spent).
    static size_t allowedReadLength(size_t requested);

private:
    ns::Ref<net::InputStream> stream_;
    ns::Weak<HTTPRequest> request_;
};

}  // namespace http
