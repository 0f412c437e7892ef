#include "sharing/facebook/FBRequest.h"

#include <cstdio>
#include <cstdlib>

#include "net/json/JsonParser.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/PercentEncoding.h"
#include "platform/ui/Image.h"
#include "sharing/core/ImageCoding.h"
#include "sharing/facebook/FBDialog.h"

namespace sharing {

std::string FBEncodeParamValue(std::string_view value) {
    return ns::addPercentEscapes(value, {}, "!*'();:@&=+$,/?%#[]");
}

// The connection's events, handed to the request while it is alive (the
// connection keeps its delegate; the delegate does not keep the request).
class FBRequest::Receiver : public net::URLConnectionDelegate {
public:
    explicit Receiver(FBRequest* r) : request_(r) {}
    void connectionDidReceiveResponse(net::URLConnection&, const net::HTTPURLResponse& response) override {
        if (auto r = request_.lock()) r->didReceiveResponse(response);
    }
    void connectionDidReceiveData(net::URLConnection& c, const ns::Data& data) override {
        if (auto r = request_.lock()) r->didReceiveData(data);
    }
    void connectionDidFinishLoading(net::URLConnection&) override {
        if (auto r = request_.lock()) r->didFinishLoading();
    }
    void connectionDidFailWithError(net::URLConnection&, const ns::Error& error) override {
        if (auto r = request_.lock()) r->didFailWithError(ns::Ref<ns::Error>(const_cast<ns::Error*>(&error)));
    }

private:
    ns::Weak<FBRequest> request_;
};

namespace {

bool isFileValue(const ns::Object* value) {
    return ns::as<ui::Image>(value) != nullptr || ns::as<ns::Data>(value) != nullptr;
}

std::string textOf(const ns::Object* value) {
    if (auto* s = ns::as<ns::String>(value)) return std::string(s->utf8());
    return value ? value->description() : std::string();
}

std::string keyText(const ns::Object* key) { return textOf(key); }

}  // namespace

FBRequest::~FBRequest() {
    // Releasing a request cancels its connection.
    if (connection_) connection_->cancel();
}

ns::Ref<FBRequest> FBRequest::getRequestWithParams(ns::Ref<ns::MutableDictionary> params, std::string_view httpMethod,
                                                   FBRequestDelegate* delegate, std::string_view url) {
    auto r = ns::make<FBRequest>();
    r->delegate_ = delegate;
    r->url_ = url;
    r->httpMethod_ = httpMethod;
    r->params_ = params ? std::move(params) : ns::MutableDictionary::make();
    r->state_ = kFBRequestStateReady;
    return r;
}

std::string FBRequest::serializeURL(std::string_view baseUrl, const ns::Dictionary* params,
                                    std::string_view httpMethod) {
    auto parsed = ns::URL::URLWithString(baseUrl);
    std::string separator = parsed && parsed->query() ? "&" : "?";
    std::string query;
    size_t n = params ? params->count() : 0;
    for (size_t i = 0; i < n; ++i) {
        ns::Object* value = params->valueAtIndex(i);
        if (isFileValue(value)) {
            if (httpMethod == "GET") std::fprintf(stderr, "can not use GET to upload a file\n");
            continue;
        }
        if (!query.empty()) query += "&";
        query += keyText(params->keyAtIndex(i)) + "=" + FBEncodeParamValue(textOf(value));
    }
    return std::string(baseUrl) + separator + query;
}

ns::Ref<ns::Data> FBRequest::generatePostBody(const ns::Dictionary* params) {
    auto body = ns::MutableData::make();
    std::string delimiter = ns::format("\r\n--%@\r\n", kFBStringBoundary);
    body->appendString(ns::format("--%@\r\n", kFBStringBoundary));
    size_t n = params ? params->count() : 0;
    for (size_t i = 0; i < n; ++i) {
        ns::Object* value = params->valueAtIndex(i);
        if (isFileValue(value)) continue;
        body->appendString(ns::format("Content-Disposition: form-data; name=\"%@\"\r\n\r\n",
                                      keyText(params->keyAtIndex(i))));
        body->appendString(textOf(value));
        body->appendString(delimiter);
    }
    for (size_t i = 0; i < n; ++i) {
        ns::Object* value = params->valueAtIndex(i);
        if (!isFileValue(value)) continue;
        std::string key = keyText(params->keyAtIndex(i));
        if (auto* image = ns::as<ui::Image>(value)) {
            auto png = imagePNGRepresentation(image);
            body->appendString(ns::format("Content-Disposition: form-data; filename=\"%@\"\r\n", key));
            body->appendString("Content-Type: image/png\r\n\r\n");
            if (png) body->appendData(*png);
        } else if (auto* data = ns::as<ns::Data>(value)) {
            body->appendString(ns::format("Content-Disposition: form-data; filename=\"%@\"\r\n", key));
            body->appendString("Content-Type: content/unknown\r\n\r\n");
            body->appendData(*data);
        }
        body->appendString(delimiter);
    }
    return body;
}

ns::Ref<ns::Error> FBRequest::formError(long code, ns::Ref<ns::Dictionary> userInfo) {
    return ns::Error::make(kFacebookErrDomain, code, std::move(userInfo));
}

namespace {

// "error_code" as an integer, whether the service sent a number or a text.
long integerOf(const ns::Object* value) {
    if (auto* n = ns::as<ns::Number>(value)) return n->longValue();
    if (auto* s = ns::as<ns::String>(value)) return std::strtol(s->c_str(), nullptr, 10);
    return 0;
}

}  // namespace

ns::Ref<ns::Object> FBRequest::parseJsonResponse(const ns::Data& data, ns::Ref<ns::Error>* error) {
    if (error) *error = nullptr;
    std::string_view text = data.view();
    if (text == "true") return ns::Dictionary::make({{"result", ns::str("true")}});
    if (text == "false") {
        if (error)
            *error = formError(kFacebookErrorCode,
                               ns::Dictionary::make({{"error_msg", ns::str("This operation can not be completed")}}));
        return nullptr;
    }
    auto parser = ns::make<json::JsonParser>();
    auto result = parser->objectWithData(&data);
    if (!result) return nullptr;
    if (ns::as<ns::Array>(result.get())) return result;
    auto* dict = ns::as<ns::Dictionary>(result.get());
    if (!dict) return nullptr;
    ns::Ref<ns::Dictionary> info(dict);
    if (dict->objectForKey("error")) {
        if (error) *error = formError(kFacebookErrorCode, info);
        return nullptr;
    }
    if (auto* code = dict->objectForKey("error_code")) {
        if (error) *error = formError(integerOf(code), info);
        return nullptr;
    }
    if (dict->objectForKey("error_msg") || dict->objectForKey("error_reason")) {
        if (error) *error = formError(kFacebookErrorCode, info);
    }
    return result;
}

void FBRequest::setState(FBRequestState s) {
    state_ = s;
    if (stateObserver_) {
        auto keep = ns::keepAlive(this);
        auto observer = stateObserver_;
        observer(this);
    }
}

void FBRequest::connect() {
    auto keep = ns::keepAlive(this);
    if (auto d = delegate_.lock()) d->requestLoading(this);

    std::string target = serializeURL(url_, params_.get(), httpMethod_);
    auto url = ns::URL::URLWithString(target);
    if (!url) {
        failWithError(ns::Error::withDescription(kFacebookErrDomain, kFacebookErrorCode,
                                                 "The request address is not a valid URL.").get());
        return;
    }
    auto request = net::URLRequest::requestWithURL(url, net::kURLRequestReloadIgnoringLocalCacheData,
                                                   kTimeoutInterval);
    request->setValueForHTTPHeaderField("FacebookConnect", "User-Agent");
    request->setHTTPMethod(httpMethod_);
    if (httpMethod_ == "POST") {
        request->setValueForHTTPHeaderField(ns::format("multipart/form-data; boundary=%@", kFBStringBoundary),
                                            "Content-Type");
        request->setHTTPBody(generatePostBody(params_.get()));
    }
    connection_ = net::URLConnection::connectionWithRequest(request, ns::make<Receiver>(this));
    setState(kFBRequestStateLoading);
}

void FBRequest::didReceiveResponse(const net::HTTPURLResponse& response) {
    responseText_ = ns::MutableData::make();
    statusCode_ = response.statusCode();
    if (auto d = delegate_.lock()) d->requestDidReceiveResponse(this, response);
}

void FBRequest::didReceiveData(const ns::Data& data) {
    if (!responseText_) responseText_ = ns::MutableData::make();
    if (responseText_->length() + data.length() > kMaxReplyBytes) {
        if (connection_) connection_->cancel();
        didFailWithError(ns::Error::withDescription(kFacebookErrDomain, kFacebookErrorCode, "The reply is too large."));
        return;
    }
    responseText_->appendData(data);
}

void FBRequest::didFinishLoading() {
    auto keep = ns::keepAlive(this);
    auto data = responseText_ ? ns::Ref<ns::MutableData>(responseText_) : ns::MutableData::make();
    handleResponseData(data.get());
    responseText_ = nullptr;
    connection_ = nullptr;
    if (state_ != kFBRequestStateError) setState(kFBRequestStateComplete);
}

void FBRequest::didFailWithError(ns::Ref<ns::Error> error) {
    auto keep = ns::keepAlive(this);
    failWithError(error.get());
}

void FBRequest::failWithError(ns::Error* error) {
    error_ = ns::Ref<ns::Error>(error);
    if (auto d = delegate_.lock())
        if (d->answers(FBRequestDelegate::Optional::requestDidFailWithError)) d->requestDidFailWithError(this, error);
    responseText_ = nullptr;
    connection_ = nullptr;
    setState(kFBRequestStateError);
}

void FBRequest::handleResponseData(ns::Data* data) {
    if (auto d = delegate_.lock()) d->requestDidLoadRawResponse(this, data);
    ns::Ref<ns::Error> error;
    auto result = parseJsonResponse(*data, &error);
    // The service did not accept the request, whatever its body says (an
    // error page, "{}", a proxy's text): a failure, never a result.
    if (!error && (statusCode_ < 200 || statusCode_ > 299)) {
        error = formError(kFacebookErrorCode,
                          ns::Dictionary::make({{"error_msg", ns::str(ns::format("The service answered with status %@",
                                                                                  statusCode_))},
                                                {"http_status", ns::num(statusCode_)}}));
        result = nullptr;
    }
    error_ = error;
    auto d = delegate_.lock();
    if (!d) return;
    bool load = d->answers(FBRequestDelegate::Optional::requestDidLoad);
    bool fail = d->answers(FBRequestDelegate::Optional::requestDidFailWithError);
    if (!load && !fail) return;
    if (error) {
        if (fail) d->requestDidFailWithError(this, error.get());
        setState(kFBRequestStateError);
        return;
    }
    if (load) d->requestDidLoad(this, result ? result.get() : static_cast<ns::Object*>(data));
}

}  // namespace sharing
