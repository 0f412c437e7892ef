#include "evernote/transport/THTTPClient.h"

#include <algorithm>
#include <cstring>

#include "evernote/transport/URLLoadingHTTPPoster.h"
#include "platform/network/NetworkErrors.h"

namespace evernote {

using apache::thrift::transport::TTransportException;

THTTPClient::THTTPClient(std::string url, std::string userAgent, double timeout,
                         std::unique_ptr<HTTPPoster> poster)
    : url_(std::move(url)),
      userAgent_(std::move(userAgent)),
      timeout_(timeout),
      poster_(poster ? std::move(poster) : std::make_unique<URLLoadingHTTPPoster>()) {
    prepareRequest();
}

void THTTPClient::setURL(std::string url) {
    url_ = std::move(url);
    prepareRequest();
}

void THTTPClient::prepareRequest() {
    headers_ = {
        {"Content-Type", "application/x-thrift"},
        {"Accept", "application/x-thrift"},
        {"User-Agent", userAgent_.empty() ? std::string("Cocoa/THTTPClient") : userAgent_},
    };
}

uint32_t THTTPClient::read(uint8_t* buf, uint32_t len) {
    size_t n = std::min<size_t>(len, bytesRemaining());
    if (n) std::memcpy(buf, reply_->bytes() + readPos_, n);
    readPos_ += n;
    return static_cast<uint32_t>(n);
}

void THTTPClient::write(const uint8_t* buf, uint32_t len) { request_.write(buf, len); }

const uint8_t* THTTPClient::borrow(uint8_t*, uint32_t* len) {
    if (bytesRemaining() < *len) return nullptr;
    *len = static_cast<uint32_t>(std::min<uint64_t>(bytesRemaining(), UINT32_MAX));
    return reply_ ? reply_->bytes() + readPos_ : nullptr;
}

void THTTPClient::consume(uint32_t len) {
    if (bytesRemaining() < len)
        throw TTransportException(TTransportException::BAD_ARGS, "consume did not follow a borrow");
    readPos_ += len;
}

const uint8_t* THTTPClient::unreadBytes(size_t& length) {
    length = bytesRemaining();
    return reply_ ? reply_->bytes() + readPos_ : nullptr;
}

void THTTPClient::consumeBytes(size_t length) { consume(static_cast<uint32_t>(length)); }

namespace {
bool isTooLong(const ns::Error& error) {
    return (error.domain() == kURLLoadingPosterErrorDomain && error.code() == kURLLoadingPosterReplyTooLarge) ||
           (error.domain() == net::kNetworkErrorDomain && error.code() == net::kErrorDataLengthExceedsMaximum);
}
}  // namespace

void THTTPClient::failTooLong(ns::Ref<ns::Error> error) const {
    throw HTTPTransportException(TTransportException::CORRUPTED_DATA,
                                 "HTTP reply longer than " + std::to_string(maxReplySize_) + " bytes",
                                 error ? ns::Dictionary::make({{"error", error}}) : nullptr);
}

void THTTPClient::flush() {
    uint8_t* bytes = nullptr;
    uint32_t length = 0;
    request_.getBuffer(&bytes, &length);
    auto body = ns::Data::make(bytes, length);
    request_.resetBuffer();
    // A failed exchange leaves nothing of an earlier reply to read.
    reply_ = nullptr;
    readPos_ = 0;

    HTTPPostReply reply = poster_->post(url_, headers_, *body, timeout_, maxReplySize_);
    body = nullptr;
    if (reply.error) {
        if (isTooLong(*reply.error)) failTooLong(reply.error);
        bool timedOut = reply.error->domain() == net::kNetworkErrorDomain &&
                        reply.error->code() == net::kErrorTimedOut;
        auto type = timedOut ? TTransportException::TIMED_OUT : TTransportException::NOT_OPEN;
        throw HTTPTransportException(type, "Could not make HTTP request",
                                     ns::Dictionary::make({{"error", reply.error}}));
    }
    if (!reply.isHTTP)
        throw HTTPTransportException(TTransportException::UNKNOWN,
                                     "Unexpected NSURLResponse type: " + reply.replyType);
    if (reply.status != 200)
        throw HTTPTransportException(TTransportException::UNKNOWN,
                                     "Bad response from HTTP server: " + std::to_string(reply.status));
    // A poster that does not stop early is held to the limit all the same.
    if (reply.body && maxReplySize_ && reply.body->length() > maxReplySize_) failTooLong(nullptr);
    reply_ = std::move(reply.body);
}

}  // namespace evernote
