// The app's form poster: each form goes out to its URL as a URL-encoded
// http::FormDataRequest (fields set in their order with setPostValue, tag 0),
// started asynchronously; its answer reaches the form's delegate on the main
// thread: any completed response (whatever its status) as requestFinished
// with the status and the body text, a failure without a response as
// requestFailed with the request's description.
//
// A post has a time limit as a whole, from its start to the last byte of
// the answer (the request's own time-out only notices a connection that
// goes quiet, so a service that trickles its answer a byte at a time would
// keep it running for as long as it likes). The limit runs in real time on
// the network thread; a post still running when it passes is cancelled and
// reaches the form as a failure that says so.
#pragma once

#include <string>

#include "app/forms/FormPoster.h"

namespace app {

class HTTPFormPoster : public FormPoster {
public:
    static constexpr double kDefaultTimeLimitSeconds = 60.0;

    // `timeLimitSeconds` that is not a positive number gives the default.
    explicit HTTPFormPoster(double timeLimitSeconds = kDefaultTimeLimitSeconds);
    const char* className() const override { return "HTTPFormPoster"; }
    void post(ns::Ref<FormPostRequest> request) override;
    double timeLimitSeconds() const { return timeLimit_; }

private:
    double timeLimit_;
};

}  // namespace app
