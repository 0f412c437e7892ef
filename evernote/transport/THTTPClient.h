// The Thrift transport of the Evernote clients: writes collect the request
// body, `flush` posts it (method "POST", "Content-Type" and "Accept"
// "application/x-thrift", "User-Agent" the given agent or "Cocoa/THTTPClient")
// and blocks until the reply has arrived; reads then take the reply body in
// order. The request buffer is emptied after every send, whatever its outcome,
// so a client can be used again after a failure. Records are written into the
// request buffer and read from the reply in place (InPlaceTransport).
//
// A reply body may be at most maxReplySize() bytes, kDefaultMaxReplySize
// (64 MiB, above the largest note the service stores) unless set otherwise;
// the poster stops loading a longer reply as soon as it shows.
//
// flush fails with a TTransportException whose reason is:
//   "Could not make HTTP request"          no reply (the poster's error object
//                                          is under "error" in userInfo())
//   "Unexpected NSURLResponse type: %@"    a reply that is not HTTP
//   "Bad response from HTTP server: %ld"   any status but 200
//   "HTTP reply longer than %llu bytes"    a reply beyond the limit
//                                          (CORRUPTED_DATA)
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <thrift/transport/TBufferTransports.h>
#include <thrift/transport/TTransportException.h>
#include <thrift/transport/TVirtualTransport.h>

#include "evernote/transport/HTTPPoster.h"
#include "evernote/types/InPlaceTransport.h"
#include "platform/foundation/Dictionary.h"

namespace evernote {

class HTTPTransportException : public apache::thrift::transport::TTransportException {
public:
    HTTPTransportException(TTransportExceptionType type, const std::string& reason,
                           ns::Ref<ns::Dictionary> userInfo = nullptr)
        : TTransportException(type, reason), userInfo_(std::move(userInfo)) {}
    const ns::Ref<ns::Dictionary>& userInfo() const { return userInfo_; }

private:
    ns::Ref<ns::Dictionary> userInfo_;
};

class THTTPClient : public apache::thrift::transport::TVirtualTransport<THTTPClient>,
                    public InPlaceTransport {
public:
    static constexpr uint64_t kDefaultMaxReplySize = 64 * 1024 * 1024;

    // timeout in seconds, 0 for none of our own (the poster's default then
    // applies); poster nil for the shared URL loading (URLLoadingHTTPPoster).
    explicit THTTPClient(std::string url, std::string userAgent = {}, double timeout = 0,
                         std::unique_ptr<HTTPPoster> poster = nullptr);

    const std::string& url() const { return url_; }
    // Replaces the URL and prepares the request again.
    void setURL(std::string url);
    const std::vector<HTTPHeader>& requestHeaders() const { return headers_; }
    double timeout() const { return timeout_; }
    // The longest reply body accepted; 0 for no limit.
    uint64_t maxReplySize() const { return maxReplySize_; }
    void setMaxReplySize(uint64_t bytes) { maxReplySize_ = bytes; }

    bool isOpen() const override { return true; }
    uint32_t read(uint8_t* buf, uint32_t len);
    void write(const uint8_t* buf, uint32_t len);
    void flush() override;
    const uint8_t* borrow(uint8_t* buf, uint32_t* len);
    void consume(uint32_t len);

    // What is left of the reply.
    uint64_t bytesRemaining() const { return replyLength() - readPos_; }

    const uint8_t* unreadBytes(size_t& length) override;
    void consumeBytes(size_t length) override;
    apache::thrift::transport::TMemoryBuffer& outputBuffer() override { return request_; }

private:
    void prepareRequest();
    size_t replyLength() const { return reply_ ? reply_->length() : 0; }
    [[noreturn]] void failTooLong(ns::Ref<ns::Error> error) const;

    std::string url_;
    std::string userAgent_;
    double timeout_;
    std::unique_ptr<HTTPPoster> poster_;
    uint64_t maxReplySize_ = kDefaultMaxReplySize;
    std::vector<HTTPHeader> headers_;
    apache::thrift::transport::TMemoryBuffer request_{1024};
    ns::Ref<ns::Data> reply_;
    size_t readPos_ = 0;
};

}  // namespace evernote
