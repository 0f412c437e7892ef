#include "evernote/transport/THTTPClient.h"

#include <algorithm>
#include <cstring>

#include "evernote/transport/URLLoadingHTTPPoster.h"
#include "platform/network/NetworkErrors.h"

namespace evernote {

using apache::thrift::transport::TTransportException;

THTTPClient::THTTPClient(std::string url, std::string userAgent, double timeout,
                         std::shared_ptr<HTTPPoster> poster)
    : url_(std::move(url)),
      userAgent_(std::move(userAgent)),
      timeout_(timeout),
      poster_(poster ? std::move(poster) : std::make_shared<URLLoadingHTTPPoster>()) {
    request_.reserve(1024);
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
    size_t n = std::min<size_t>(len, reply_.size() - readPos_);
    if (n) std::memcpy(buf, reply_.data() + readPos_, n);
    readPos_ += n;
    return static_cast<uint32_t>(n);
}

void THTTPClient::write(const uint8_t* buf, uint32_t len) {
    request_.insert(request_.end(), buf, buf + len);
}

const uint8_t* THTTPClient::borrow(uint8_t*, uint32_t* len) {
    if (reply_.size() - readPos_ < *len) return nullptr;
    *len = static_cast<uint32_t>(reply_.size() - readPos_);
    return reply_.data() + readPos_;
}

void THTTPClient::consume(uint32_t len) {
    if (reply_.size() - readPos_ < len)
        throw TTransportException(TTransportException::BAD_ARGS, "consume did not follow a borrow");
    readPos_ += len;
}

void THTTPClient::flush() {
    auto body = ns::Data::make(std::move(request_));
    request_ = {};
    request_.reserve(1024);
    // A failed exchange leaves nothing of an earlier reply to read.
    reply_.clear();
    readPos_ = 0;

    HTTPPostReply reply = poster_->post(url_, headers_, *body, timeout_);
    if (reply.error) {
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
    if (reply.body) reply_ = reply.body->vector();
}

}  // namespace evernote
