// Shared pieces of the request engine's loopback tests: a recording
// delegate and helpers that run the main loop until a request is done.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "net/http/HTTPRequest.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/String.h"
#include "testsupport/Checked.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/MainLoopWait.h"

namespace httptest {

using testsupport::must;

// Records every callback with the thread it arrived on.
class RecordingDelegate : public ns::Object, public http::HTTPRequestDelegate, public http::ProgressDelegate {
public:
    const char* className() const override { return "RecordingDelegate"; }
    bool answers(HTTPRequestDelegate::Optional op) const override {
        if (op == HTTPRequestDelegate::Optional::requestWillRedirectToURL) return confirmRedirects;
        if (op == HTTPRequestDelegate::Optional::requestDidReceiveData) return takeData;
        if (op == HTTPRequestDelegate::Optional::authenticationNeededForRequest) return answerAuthentication;
        return true;
    }
    bool answers(ProgressDelegate::Optional) const override { return true; }

    void requestStarted(http::HTTPRequest*) override { note("started"); }
    void requestDidReceiveResponseHeaders(http::HTTPRequest* r, ns::Ref<ns::Dictionary>) override {
        note("headers");
        if (onHeaders) onHeaders(r);
    }
    void requestWillRedirectToURL(http::HTTPRequest* r, ns::Ref<ns::URL> url) override {
        note("willRedirect " + url->absoluteText());
        if (onWillRedirect) onWillRedirect(r, url);
    }
    void requestFinished(http::HTTPRequest*) override { note("finished"); }
    void requestFailed(http::HTTPRequest*) override { note("failed"); }
    void requestRedirected(http::HTTPRequest*) override { note("redirected"); }
    void requestDidReceiveData(http::HTTPRequest*, ns::Ref<ns::Data> d) override {
        data.append(reinterpret_cast<const char*>(d->bytes()), d->length());
    }
    void authenticationNeededForRequest(http::HTTPRequest* r) override {
        note("authenticationNeeded");
        if (onAuthentication) onAuthentication(r);
    }
    void setProgress(float p) override { progress.push_back(p); }
    void requestDidReceiveBytes(http::HTTPRequest*, int64_t n) override { received.push_back(n); }
    void requestDidSendBytes(http::HTTPRequest*, int64_t n) override { sent.push_back(n); }
    void requestIncrementDownloadSizeBy(http::HTTPRequest*, int64_t n) override { downloadSize += n; }
    void requestIncrementUploadSizeBy(http::HTTPRequest*, int64_t n) override { uploadSize += n; }

    void note(const std::string& e) {
        events.push_back(e);
        if (!ns::RunLoop::isMainThread()) offMain = true;
    }
    size_t count(const std::string& e) const {
        size_t n = 0;
        for (auto& x : events) n += x == e;
        return n;
    }
    std::string joined() const {
        std::string s;
        for (auto& e : events) s += (s.empty() ? "" : ",") + e;
        return s;
    }

    std::vector<std::string> events;
    bool offMain = false;
    bool confirmRedirects = false;
    bool takeData = false;
    bool answerAuthentication = false;
    std::function<void(http::HTTPRequest*, ns::Ref<ns::URL>)> onWillRedirect;
    std::function<void(http::HTTPRequest*)> onAuthentication;
    std::function<void(http::HTTPRequest*)> onHeaders;
    std::string data;
    std::vector<float> progress;
    std::vector<int64_t> received, sent;
    int64_t downloadSize = 0, uploadSize = 0;
};

using testsupport::waitUntil;

// Runs the main loop until the request finished (or `seconds` passed).
bool waitFor(const ns::Ref<http::HTTPRequest>& r, double seconds = testsupport::kEventWaitSeconds);
// Lets deliveries already queued for the main thread arrive.
void drainMain();
// Starts `r` synchronously on this thread. Should it not have ended after
// `seconds`, another thread cancels it and the test fails: a fault that keeps
// a request running then fails its test instead of hanging the binary.
void startSynchronous(http::HTTPRequest* r, double seconds = 60);
template <class Request>
void startSynchronous(const ns::Ref<Request>& r, double seconds = 60) {
    startSynchronous(static_cast<http::HTTPRequest*>(r.get()), seconds);
}
// For a server's handler that holds its answer back: waits until `flag` is
// set, for at most `seconds`, so that a test that fails before it lets go
// still ends (the server joins its handlers when it stops).
bool waitForRelease(const std::atomic<bool>& flag, double seconds = 30);
// The same for a condition another thread makes true, checked without
// running the calling thread's loop.
bool waitForRelease(const std::function<bool()>& condition, double seconds = 30);
// The response body as text, "" when none.
std::string text(const ns::Ref<http::HTTPRequest>& r);
ns::Ref<ns::URL> url(const std::string& s);

}  // namespace httptest
