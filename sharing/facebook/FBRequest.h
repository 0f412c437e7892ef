// One Graph API or REST API call: the URL, the method, the parameters
// (texts, images and data), the URL connection while it loads, and the reply
// decoded as JSON. Errors have the domain "facebookErrDomain".
#pragma once

#include <functional>
#include <string>

#include "platform/foundation/Foundation.h"
#include "platform/network/URLConnection.h"
#include "platform/foundation/Delegate.h"

namespace sharing {

inline constexpr const char* kFacebookErrDomain = "facebookErrDomain";
// The code of errors that the service reported without a code of its own.
inline constexpr long kFacebookErrorCode = 10000;
// The fixed boundary of the multipart bodies of POST requests.
inline constexpr const char* kFBStringBoundary = "3i2ndDfv2rTHiSisAbouNdArYfORhtTPEefj3q2f";

class FBRequest;

// A parameter value as it goes into a URL: percent-encoded as UTF-8, with
// the reserved characters "!*'();:@&=+$,/?%#[]" escaped as well.
std::string FBEncodeParamValue(std::string_view value);

// Progress and outcome of a request. All optional; the request asks
// answers() for the two outcome operations, since it skips the reply when
// the delegate takes neither.
class FBRequestDelegate {
public:
    enum class Optional { requestDidLoad, requestDidFailWithError };
    virtual ~FBRequestDelegate() = default;
    virtual bool answers(Optional) const { return false; }
    virtual void requestLoading(FBRequest* request) {}
    virtual void requestDidReceiveResponse(FBRequest* request, const net::HTTPURLResponse& response) {}
    virtual void requestDidFailWithError(FBRequest* request, ns::Error* error) {}
    // `result`: a dictionary, an array, or the raw bytes (ns::Data) when the
    // reply was not JSON.
    virtual void requestDidLoad(FBRequest* request, ns::Object* result) {}
    virtual void requestDidLoadRawResponse(FBRequest* request, ns::Data* data) {}
};

enum FBRequestState : int {
    kFBRequestStateReady = 0,
    kFBRequestStateLoading = 1,
    kFBRequestStateComplete = 2,
    kFBRequestStateError = 3,
};

class FBRequest : public ns::Object {
public:
    // Replies larger than this fail instead of filling memory.
    static constexpr size_t kMaxReplyBytes = 16u << 20;
    static constexpr double kTimeoutInterval = 180;

    FBRequest() = default;
    ~FBRequest() override;
    const char* className() const override { return "FBRequest"; }

    // A request in the ready state; nothing is sent yet.
    static ns::Ref<FBRequest> getRequestWithParams(ns::Ref<ns::MutableDictionary> params, std::string_view httpMethod,
                                                   FBRequestDelegate* delegate, std::string_view url);

    // The URL with the text parameters as its query ("?" or "&" after the
    // base, an empty set still adds the separator). Images and data stay out
    // of the URL; with GET they are dropped with a log line.
    static std::string serializeURL(std::string_view baseUrl, const ns::Dictionary* params) {
        return serializeURL(baseUrl, params, "GET");
    }
    static std::string serializeURL(std::string_view baseUrl, const ns::Dictionary* params,
                                    std::string_view httpMethod);
    // The multipart body of a POST (see the boundary above).
    static ns::Ref<ns::Data> generatePostBody(const ns::Dictionary* params);
    // The reply rules: "true", "false", arrays, dictionaries with "error",
    // "error_code", "error_msg" or "error_reason". Nil result and nil error
    // for text that is not JSON. (A reply whose HTTP status is not 2xx fails
    // as well, whatever its body: see handleResponseData.)
    static ns::Ref<ns::Object> parseJsonResponse(const ns::Data& data, ns::Ref<ns::Error>* error);
    static ns::Ref<ns::Error> formError(long code, ns::Ref<ns::Dictionary> userInfo);

    // Sends the request: requestLoading, then the connection starts; state 1.
    void connect();
    // True while a connection exists.
    bool loading() const { return connection_ != nullptr; }

    FBRequestDelegate* delegate() const { return delegate_.get(); }
    void setDelegate(FBRequestDelegate* d) { delegate_ = d; }
    const std::string& url() const { return url_; }
    const std::string& httpMethod() const { return httpMethod_; }
    const ns::Ref<ns::MutableDictionary>& params() const { return params_; }
    net::URLConnection* connection() const { return connection_.get(); }
    ns::MutableData* responseText() const { return responseText_.get(); }
    FBRequestState state() const { return state_; }
    // The reply's HTTP status (0 before a response).
    int statusCode() const { return statusCode_; }
    void setState(FBRequestState s);
    ns::Error* error() const { return error_.get(); }
    void setError(ns::Ref<ns::Error> e) { error_ = std::move(e); }

    // Told on every state change (the session watches its requests).
    void setStateObserver(std::function<void(FBRequest*)> f) { stateObserver_ = std::move(f); }

private:
    class Receiver;
    friend class Receiver;
    void didReceiveResponse(const net::HTTPURLResponse& response);
    void didReceiveData(const ns::Data& data);
    void didFinishLoading();
    void didFailWithError(ns::Ref<ns::Error> error);
    void handleResponseData(ns::Data* data);
    void failWithError(ns::Error* error);

    ns::WeakDelegate<FBRequestDelegate> delegate_;
    std::string url_;
    std::string httpMethod_;
    ns::Ref<ns::MutableDictionary> params_;
    ns::Ref<net::URLConnection> connection_;
    ns::Ref<ns::MutableData> responseText_;
    FBRequestState state_ = kFBRequestStateReady;
    int statusCode_ = 0;
    ns::Ref<ns::Error> error_;
    std::function<void(FBRequest*)> stateObserver_;
};

}  // namespace sharing
