// The form poster that really posts: each form goes out as a URL-encoded
// http::FormDataRequest (fields set in their order with setPostValue, tag 0),
// started asynchronously; its answer reaches the form's delegate on the main
// thread: any completed response (whatever its status) as requestFinished
// with the status and the body text, a failure without a response as
// requestFailed with the request's description.
#pragma once

#include <memory>
#include <string>

#include "app/forms/FormPoster.h"

namespace app {

class HTTPFormPoster : public FormPoster {
public:
    // `serviceOrigin`, when not empty ("http://127.0.0.1:8080"), replaces the
    // scheme, host and port of every form's URL; the path stays. The program
    // (or a test) points the forms at another server this way.
    explicit HTTPFormPoster(std::string serviceOrigin = {}) : origin_(std::move(serviceOrigin)) {}
    void post(std::shared_ptr<FormPostRequest> request) override;
    // The URL a form is posted to.
    std::string targetURL(const std::string& formURL) const;

private:
    std::string origin_;
};

// Installs an HTTPFormPoster as the app's poster.
void installHTTPFormPoster(std::string serviceOrigin = {});

}  // namespace app
