#include "app/forms/HTTPFormPoster.h"

#include "app/AppLog.h"
#include "net/http/FormDataRequest.h"
#include "platform/foundation/SecretMasking.h"
#include "platform/foundation/URL.h"

namespace app {

namespace {

// Hears the request and tells the form. Held by the form's request record
// (so the form screen, which keeps that record, keeps it); the request's
// delegate link to it is weak.
class FormRequestBridge : public ns::Object, public http::HTTPRequestDelegate {
public:
    explicit FormRequestBridge(FormPostRequest* form) : form_(form) {}
    const char* className() const override { return "FormRequestBridge"; }
    bool answers(Optional op) const override {
        return op == Optional::requestFinished || op == Optional::requestFailed;
    }
    void requestFinished(http::HTTPRequest* r) override {
        auto d = formDelegate();
        if (!d) return;
        auto body = r->responseString();
        d->requestFinished(r->responseStatusCode(), body ? std::string(body->utf8()) : std::string());
    }
    void requestFailed(http::HTTPRequest* r) override {
        auto d = formDelegate();
        if (!d) return;
        std::string why = r->description();
        if (auto e = r->error()) why += " (" + e->localizedDescription() + ")";
        d->requestFailed(why);
    }
    ns::Ref<http::FormDataRequest> request;

private:
    // The form's delegate, held, while the form and its delegate are there.
    ns::DelegateHold<FormPostDelegate> formDelegate() const {
        auto form = form_.lock();
        return form ? form->delegate.lock() : ns::DelegateHold<FormPostDelegate>{};
    }
    ns::Weak<FormPostRequest> form_;
};

}  // namespace

void HTTPFormPoster::post(ns::Ref<FormPostRequest> form) {
    if (!form) return;
    auto bridge = ns::make<FormRequestBridge>(form.get());
    auto request = http::FormDataRequest::requestWithURL(ns::URL::URLWithString(form->url));
    for (const auto& [key, value] : form->fields) request->setPostValue(value, key);
    request->setTag(form->tag);
    request->setDelegate(bridge.get());
    bridge->request = request;
    form->running = bridge;
    appLog("Form post: POST " + ns::maskSecretsInURL(form->url));
    request->startAsynchronous();
}

}  // namespace app
