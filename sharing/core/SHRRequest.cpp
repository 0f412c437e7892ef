#include "sharing/core/SHRRequest.h"

#include <cstdio>

#include "platform/foundation/Format.h"
#include "platform/foundation/SecretMasking.h"
#include "platform/network/Origin.h"

namespace sharing {

// The connection's delegate: forwards to the request it belongs to.
class SHRRequest::Receiver : public net::URLConnectionDelegate {
public:
    explicit Receiver(SHRRequest* r) : request_(r) {}
    ns::Ref<net::URLRequest> connectionWillSendRequest(net::URLConnection& c, net::URLRequest& next,
                                                       const net::HTTPURLResponse* redirect) override {
        if (redirect && request_->sameOriginOnly_ &&
            !(request_->url_ && next.URL() && net::isSameOrigin(*request_->url_, *next.URL()))) {
            // Not followed: the redirect answer ends the request, as a failure.
            request_->redirectRefused_ = true;
            request_->failed_ = true;
            return nullptr;
        }
        return URLConnectionDelegate::connectionWillSendRequest(c, next, redirect);
    }
    void connectionDidReceiveResponse(net::URLConnection&, const net::HTTPURLResponse& response) override {
        request_->response_ = ns::Ref<net::HTTPURLResponse>(const_cast<net::HTTPURLResponse*>(&response));
        request_->headers_ = response.allHeaderFields()->mutableCopy();
        request_->data_ = ns::MutableData::make();
    }
    void connectionDidReceiveData(net::URLConnection&, const ns::Data& data) override {
        request_->data_->appendData(data);
    }
    void connectionDidFinishLoading(net::URLConnection&) override { request_->finish(); }
    // A failure after the head (a reset, a body cut short of its length)
    // keeps the response, but the request did not succeed.
    void connectionDidFailWithError(net::URLConnection&, const ns::Error&) override {
        request_->failed_ = true;
        request_->finish();
    }

private:
    ns::Ref<SHRRequest> request_;  // kept until the connection lets go of this receiver
};

SHRRequest::SHRRequest(ns::Ref<ns::URL> url, ns::Ref<ns::String> params, ns::Ref<ns::Object> delegate,
                       FinishedSelector isFinished, ns::Ref<ns::String> method)
    : url_(std::move(url)), params_(std::move(params)), method_(std::move(method)),
      delegate_(std::move(delegate)), isFinished_(std::move(isFinished)) {}

ns::Ref<SHRRequest> SHRRequest::make(ns::Ref<ns::URL> url, ns::Ref<ns::String> params, ns::Ref<ns::Object> delegate,
                                     FinishedSelector isFinished, ns::Ref<ns::String> method, bool autostart) {
    auto r = ns::make<SHRRequest>(std::move(url), std::move(params), std::move(delegate), std::move(isFinished),
                                  std::move(method));
    if (autostart) r->start();
    return r;
}

void SHRRequest::start() {
    data_ = ns::MutableData::make();
    finished_ = false;
    failed_ = false;
    redirectRefused_ = false;
    auto request = net::URLRequest::requestWithURL(url_, net::kURLRequestReloadIgnoringLocalAndRemoteCacheData, 90);
    if (headerFields_) request->setAllHTTPHeaderFields(headerFields_.get());
    if (params_) {
        if (method_) request->setHTTPMethod(method_->view());
        request->setHTTPBody(ns::Data::make(params_->view()));
    }
    // Logins travel in the params and in the URL (user part, query): the
    // log shows neither.
    std::string shownURL = url_ ? ns::maskSecretsInURL(url_->absoluteText()) : std::string("(null)");
    std::string shownParams = params_ ? ns::maskSecretsInParameters(params_->view()) : std::string("(null)");
    std::fprintf(stderr, "%s\n",
                 ns::format("Start SHRRequest:\nURL: %@\nparams: %@", shownURL, shownParams).c_str());
    connection_ = net::URLConnection::connectionWithRequest(request, ns::make<Receiver>(this));
    if (!connection_) finish();
}

void SHRRequest::finish() {
    if (finished_) return;
    finished_ = true;
    auto keep = ns::keepAlive(this);
    int status = response_ ? response_->statusCode() : 0;
    success_ = !failed_ && (status == 200 || status == 201);
    ns::Ref<ns::Object> delegate = delegate_;
    if (delegate && isFinished_) isFinished_(this);
    delegate_ = nullptr;
    connection_ = nullptr;
}

void SHRRequest::cancel() {
    if (finished_) return;
    finished_ = true;
    auto keep = ns::keepAlive(this);
    if (connection_) connection_->cancel();
    connection_ = nullptr;
    delegate_ = nullptr;
    isFinished_ = nullptr;
}

ns::Ref<ns::String> SHRRequest::getResult() {
    if (!result_) {
        result_ = data_ ? ns::String::fromBytes(data_->bytes(), data_->length()) : ns::String::make("");
        if (!result_) result_ = ns::String::make("");
    }
    return result_;
}

}  // namespace sharing
