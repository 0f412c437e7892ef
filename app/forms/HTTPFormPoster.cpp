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
    explicit FormRequestBridge(std::weak_ptr<FormPostRequest> form) : form_(std::move(form)) {}
    const char* className() const override { return "FormRequestBridge"; }
    bool answers(Optional op) const override {
        return op == Optional::requestFinished || op == Optional::requestFailed;
    }
    void requestFinished(http::HTTPRequest* r) override {
        auto form = form_.lock();
        if (!form) return;
        auto [keep, d] = form->lockDelegate();
        if (!d) return;
        auto body = r->responseString();
        d->requestFinished(r->responseStatusCode(), body ? body->utf8() : std::string());
    }
    void requestFailed(http::HTTPRequest* r) override {
        auto form = form_.lock();
        if (!form) return;
        auto [keep, d] = form->lockDelegate();
        if (!d) return;
        std::string why = r->description();
        if (auto e = r->error()) why += " (" + e->localizedDescription() + ")";
        d->requestFailed(why);
    }
    ns::Ref<http::FormDataRequest> request;

private:
    std::weak_ptr<FormPostRequest> form_;
};

}  // namespace

void HTTPFormPoster::post(std::shared_ptr<FormPostRequest> form) {
    if (!form) return;
    auto bridge = ns::make<FormRequestBridge>(form);
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
