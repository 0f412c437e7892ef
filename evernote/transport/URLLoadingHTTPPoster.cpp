#include "evernote/transport/URLLoadingHTTPPoster.h"

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/String.h"
#include "platform/foundation/URL.h"
#include "platform/network/URLConnection.h"

namespace evernote {

namespace {

// Keeps the reply of one synchronous load, and stops the load at once when
// the reply announces a body longer than the limit (the URL loading itself
// stops a body that grows past it).
class LimitedReplyCollector : public net::URLConnectionDelegate {
public:
    explicit LimitedReplyCollector(uint64_t limit) : limit_(limit) {}

    // A service call is never redirected: the redirect answer is the reply
    // (and the transport fails on its status). Following one would post the
    // call, with its authentication token, wherever the answer points.
    ns::Ref<net::URLRequest> connectionWillSendRequest(net::URLConnection&, net::URLRequest&,
                                                       const net::HTTPURLResponse*) override {
        return nullptr;
    }

    void connectionDidReceiveResponse(net::URLConnection& c, const net::HTTPURLResponse& r) override {
        response = ns::Ref<net::HTTPURLResponse>(const_cast<net::HTTPURLResponse*>(&r));
        data = ns::MutableData::make();
        long long announced = r.expectedContentLength();
        if (announced <= 0) return;
        if (limit_ && static_cast<uint64_t>(announced) > limit_) {
            error = ns::Error::withDescription(kURLLoadingPosterErrorDomain, kURLLoadingPosterReplyTooLarge,
                                               "The reply announces " + std::to_string(announced) +
                                                   " bytes, more than the limit of " + std::to_string(limit_));
            done = true;
            return c.cancel();
        }
        data->reserveCapacity(static_cast<size_t>(announced));
    }
    void connectionDidReceiveData(net::URLConnection&, const ns::Data& d) override { data->appendData(d); }
    void connectionDidFinishLoading(net::URLConnection&) override { done = true; }
    void connectionDidFailWithError(net::URLConnection&, const ns::Error& e) override {
        error = ns::Ref<ns::Error>(const_cast<ns::Error*>(&e));
        done = true;
    }

    ns::Ref<net::HTTPURLResponse> response;
    ns::Ref<ns::MutableData> data = ns::MutableData::make();
    ns::Ref<ns::Error> error;
    bool done = false;

private:
    uint64_t limit_;
};

}  // namespace

HTTPPostReply URLLoadingHTTPPoster::post(const std::string& url, const std::vector<HTTPHeader>& headers,
                                         const ns::Data& body, double timeout, uint64_t maxReplyBytes) {
    HTTPPostReply reply;
    auto target = ns::URL::URLWithString(url);
    auto schemeText = target ? target->scheme() : nullptr;
    std::string scheme(schemeText ? schemeText->lowercaseString()->utf8() : std::string());
    if (!target || (scheme != "http" && scheme != "https")) {
        reply.error = ns::Error::withDescription(kURLLoadingPosterErrorDomain, kURLLoadingPosterBadURL,
                                                 "Not an http or https URL: " + url);
        return reply;
    }
    auto request = net::URLRequest::requestWithURL(target, net::kURLRequestReloadIgnoringLocalCacheData,
                                                   timeout > 0 ? timeout : kDefaultTimeout);
    request->setHTTPMethod("POST");
    for (const auto& h : headers) request->setValueForHTTPHeaderField(h.value, h.name);
    request->setHTTPBody(ns::Data::make(body.bytes(), body.length()));
    // Thrift replies carry no cookies worth keeping, and a service session
    // must not pick up cookies from other requests of the process.
    request->setHTTPShouldHandleCookies(false);
    request->setMaxResponseLength(maxReplyBytes ? maxReplyBytes : net::URLRequest::kUnlimitedResponseLength);

    // Loaded on this thread's run loop in the synchronous loading's private
    // mode, so the clients may be used from any thread.
    auto collector = ns::make<LimitedReplyCollector>(maxReplyBytes);
    auto connection = net::URLConnection::make(request, collector);
    if (!connection) {
        reply.error = ns::Error::withDescription(kURLLoadingPosterErrorDomain, kURLLoadingPosterBadURL,
                                                 "Not a loadable URL: " + url);
        return reply;
    }
    auto loop = ns::RunLoop::current();
    connection->scheduleInRunLoop(*loop, net::URLConnection::kSynchronousMode);
    connection->start();
    loop->runUntil([&] { return collector->done; }, ns::RunLoop::kDistantFuture,
                   net::URLConnection::kSynchronousMode);
    if (!collector->done) connection->cancel();
    if (collector->error || !collector->done || !collector->response) {
        reply.error = collector->error ? collector->error
                                       : ns::Error::withDescription(kURLLoadingPosterErrorDomain, 0, "No reply");
        return reply;
    }
    reply.status = collector->response->statusCode();
    for (const auto& [name, value] : collector->response->headers().fields()) reply.headers.push_back({std::string(name), std::string(value)});
    reply.body = collector->data;
    return reply;
}

}  // namespace evernote
