#include "net/http/InputStream.h"

#include "net/http/HTTPRequest.h"

namespace http {

namespace {
std::mutex& budgetLock() {
    static std::mutex m;
    return m;
}
}  // namespace

InputStream::InputStream(ns::Ref<net::InputStream> stream, HTTPRequest* request) : stream_(std::move(stream)) {
    setRequest(request);
}

ns::Ref<InputStream> InputStream::inputStreamWithFileAtPath(const std::string& path, HTTPRequest* request) {
    return ns::make<InputStream>(net::InputStream::inputStreamWithFileAtPath(path), request);
}

ns::Ref<InputStream> InputStream::inputStreamWithData(ns::Ref<ns::Data> data, HTTPRequest* request) {
    return ns::make<InputStream>(net::InputStream::inputStreamWithData(std::move(data)), request);
}

ns::Ref<HTTPRequest> InputStream::request() const { return request_.lock(); }

void InputStream::setRequest(HTTPRequest* request) { request_ = request; }

bool InputStream::open() {
    bool ok = stream_->open();
    status_ = ok ? Status::Open : Status::Error;
    error_ = stream_->streamError();
    return ok;
}

void InputStream::close() {
    stream_->close();
    status_ = Status::Closed;
}

size_t InputStream::allowedReadLength(size_t requested) {
    if (!HTTPRequest::isBandwidthThrottled()) return requested;
    uint64_t allowance = HTTPRequest::maxUploadReadLength();
    return allowance <= requested ? static_cast<size_t>(allowance) : requested;
}

long InputStream::read(uint8_t* buf, size_t max) {
    size_t length = max;
    bool throttled = false;
    {
        std::lock_guard<std::mutex> g(budgetLock());
        throttled = HTTPRequest::isBandwidthThrottled();
        if (throttled) length = allowedReadLength(max);
    }
    // The owner's throttling step (it may pause its stream until the budget
    // refills). Reads come from the stream on the thread of the owner's
    // sequence, whose state needs no lock there.
    if (throttled) {
        if (auto r = request()) r->performThrottling();
        // Nothing may leave now: the body has bytes, but none to give until
        // the budget opens (the HTTP stream asks again shortly).
        if (length == 0 && max > 0) return 0;
    }
    long n = stream_->read(buf, length);
    if (n > 0) HTTPRequest::incrementBandwidthUsedInLastSecond(static_cast<uint64_t>(n));
    status_ = stream_->streamStatus();
    error_ = stream_->streamError();
    return n;
}

}  // namespace http
