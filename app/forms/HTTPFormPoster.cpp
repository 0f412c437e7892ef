#include "app/forms/HTTPFormPoster.h"

#include <atomic>
#include <cmath>
#include <sstream>

#include "app/AppLog.h"
#include "net/http/FormDataRequest.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SecretMasking.h"
#include "platform/foundation/Timer.h"
#include "platform/foundation/URL.h"

namespace app {

namespace {

std::string secondsText(double s) {
    std::ostringstream out;
    out << s;
    return out.str();
}

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
        if (deadline) deadline->invalidate();
        auto d = formDelegate();
        if (!d) return;
        auto body = r->responseString();
        d->requestFinished(r->responseStatusCode(), body ? std::string(body->utf8()) : std::string());
    }
    void requestFailed(http::HTTPRequest* r) override {
        if (deadline) deadline->invalidate();
        auto d = formDelegate();
        if (!d) return;
        std::string why = r->description();
        if (timedOut) why += " (the post took longer than " + secondsText(timeLimit) + " s and was given up)";
        else if (auto e = r->error()) why += " (" + e->localizedDescription() + ")";
        d->requestFailed(why);
    }
    ns::Ref<http::FormDataRequest> request;
    // The post's time limit: the timer on the network thread, and whether
    // it was what ended the post.
    ns::Ref<ns::Timer> deadline;
    double timeLimit = 0;
    std::atomic<bool> timedOut{false};

private:
    // The form's delegate, held, while the form and its delegate are there.
    ns::DelegateHold<FormPostDelegate> formDelegate() const {
        auto form = form_.lock();
        return form ? form->delegate.lock() : ns::DelegateHold<FormPostDelegate>{};
    }
    ns::Weak<FormPostRequest> form_;
};

}  // namespace

HTTPFormPoster::HTTPFormPoster(double timeLimitSeconds)
    : timeLimit_(std::isfinite(timeLimitSeconds) && timeLimitSeconds > 0 ? timeLimitSeconds
                                                                        : kDefaultTimeLimitSeconds) {}

void HTTPFormPoster::post(ns::Ref<FormPostRequest> form) {
    if (!form) return;
    auto bridge = ns::make<FormRequestBridge>(form.get());
    auto request = http::FormDataRequest::requestWithURL(ns::URL::URLWithString(form->url));
    for (const auto& [key, value] : form->fields) request->setPostValue(value, key);
    request->setTag(form->tag);
    request->setDelegate(bridge.get());
    bridge->request = request;
    bridge->timeLimit = timeLimit_;
    form->running = bridge;
    appLog("Form post: POST " + ns::maskSecretsInURL(form->url));
    // The limit is timed where the post runs, on the network thread's real
    // clock. The timer holds the post only weakly: one that ended (or whose
    // form is gone with its request) is not kept for it.
    ns::Weak<http::FormDataRequest> weakRequest(request.get());
    ns::Weak<FormRequestBridge> weakBridge(bridge.get());
    bridge->deadline = http::HTTPRequest::networkRunLoop()->performAfterDelay(
        timeLimit_,
        [weakRequest, weakBridge] {
            auto running = weakRequest.lock();
            if (!running || running->complete()) return;
            if (auto b = weakBridge.lock()) b->timedOut = true;
            running->cancel();
        },
        ns::RunLoop::kCommonModes);
    request->startAsynchronous();
}

}  // namespace app
