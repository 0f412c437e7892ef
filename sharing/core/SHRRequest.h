// The small asynchronous HTTP request the web-service sharers use for their
// unsigned calls: one URL, an already form-encoded body, a method, optional
// header fields, and a delegate told once when the request has ended
// (success: status 200 or 201 and the whole body received). Runs on the URL connection of the run loop
// it was started from (the main thread).
#pragma once

#include <functional>
#include <string>

#include "platform/foundation/Foundation.h"
#include "platform/network/URLConnection.h"

namespace sharing {

class SHRRequest : public ns::Object {
public:
    using FinishedSelector = std::function<void(SHRRequest*)>;

    // Keeps the values; starts at once with autostart. The delegate is held
    // until the end; `isFinished` is what it answers (empty: it does not
    // implement the operation, and is released without a call).
    SHRRequest(ns::Ref<ns::URL> url, ns::Ref<ns::String> params, ns::Ref<ns::Object> delegate,
               FinishedSelector isFinished, ns::Ref<ns::String> method);
    static ns::Ref<SHRRequest> make(ns::Ref<ns::URL> url, ns::Ref<ns::String> params, ns::Ref<ns::Object> delegate,
                                    FinishedSelector isFinished, ns::Ref<ns::String> method, bool autostart);
    // A request whose delegate is `owner` and whose end calls the owner's
    // member `finished` (the owner is held until then, so it is there for
    // the call).
    template <class Owner>
    static ns::Ref<SHRRequest> calling(Owner* owner, void (Owner::*finished)(SHRRequest*), ns::Ref<ns::URL> url,
                                       ns::Ref<ns::String> params, const char* method, bool autostart) {
        return make(std::move(url), std::move(params), ns::keepAlive(owner),
                    [owner, finished](SHRRequest* r) { (owner->*finished)(r); }, ns::str(method), autostart);
    }
    // As `calling`, started at once, for a request that carries the user's
    // password: it goes only to the URL's own origin (setSameOriginOnly).
    template <class Owner>
    static ns::Ref<SHRRequest> callingWithCredentials(Owner* owner, void (Owner::*finished)(SHRRequest*),
                                                      ns::Ref<ns::URL> url, ns::Ref<ns::String> params,
                                                      const char* method) {
        auto r = calling(owner, finished, std::move(url), std::move(params), method, false);
        r->setSameOriginOnly(true);
        r->start();
        return r;
    }
    const char* className() const override { return "SHRRequest"; }

    void start();
    void finish();
    // Ends the request: the connection stops and the delegate is let go
    // without being told, so a late answer does nothing.
    void cancel();
    // A login's request carries the password: it is sent only to the
    // origin (scheme, host and port) of the request's URL. A redirect to
    // another origin is not followed; the request ends as failed, with the
    // redirect answer as its response. Set before start().
    void setSameOriginOnly(bool b) { sameOriginOnly_ = b; }
    bool sameOriginOnly() const { return sameOriginOnly_; }
    // Whether a redirect to another origin was refused.
    bool redirectRefused() const { return redirectRefused_; }
    // The body decoded as UTF-8 (made once, then the same object).
    ns::Ref<ns::String> getResult();

    const ns::Ref<ns::URL>& url() const { return url_; }
    const ns::Ref<ns::String>& params() const { return params_; }
    const ns::Ref<ns::String>& method() const { return method_; }
    const ns::Ref<ns::Dictionary>& headerFields() const { return headerFields_; }
    void setHeaderFields(ns::Ref<ns::Dictionary> h) { headerFields_ = std::move(h); }
    ns::Object* delegate() const { return delegate_.get(); }
    void setDelegate(ns::Ref<ns::Object> d) { delegate_ = std::move(d); }
    net::URLConnection* connection() const { return connection_.get(); }
    net::HTTPURLResponse* response() const { return response_.get(); }
    ns::MutableDictionary* headers() const { return headers_.get(); }
    ns::MutableData* data() const { return data_.get(); }
    bool success() const { return success_; }

private:
    class Receiver;
    friend class Receiver;
    ns::Ref<ns::URL> url_;
    ns::Ref<ns::String> params_, method_;
    ns::Ref<ns::Dictionary> headerFields_;
    ns::Ref<ns::Object> delegate_;
    FinishedSelector isFinished_;
    ns::Ref<net::URLConnection> connection_;
    ns::Ref<net::HTTPURLResponse> response_;
    ns::Ref<ns::MutableDictionary> headers_;
    ns::Ref<ns::MutableData> data_;
    ns::Ref<ns::String> result_;
    bool success_ = false;
    bool finished_ = false;
    bool failed_ = false;  // the connection ended in an error
    bool sameOriginOnly_ = false;
    bool redirectRefused_ = false;
};

}  // namespace sharing
