// The app's form poster: each form goes out to its URL as a URL-encoded
// http::FormDataRequest (fields set in their order with setPostValue, tag 0),
// started asynchronously; its answer reaches the form's delegate on the main
// thread: any completed response (whatever its status) as requestFinished
// with the status and the body text, a failure without a response as
// requestFailed with the request's description.
#pragma once

#include <string>

#include "app/forms/FormPoster.h"

namespace app {

class HTTPFormPoster : public FormPoster {
public:
    const char* className() const override { return "HTTPFormPoster"; }
    void post(ns::Ref<FormPostRequest> request) override;
};

}  // namespace app
