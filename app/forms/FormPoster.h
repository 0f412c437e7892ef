// How the sign-up and referral forms are posted. The form screens build the
// fields and hand them to the app's poster. The app's poster sends them with
// the HTTP client's form-data request (HTTPFormPoster.h); a test may put a
// poster of its own in its place and answer the requests itself by calling
// their delegates.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Delegate.h"
#include "platform/foundation/Object.h"

namespace app {

using FormFields = std::vector<std::pair<std::string, std::string>>;

// Told how the post ended, on the main thread.
class FormPostDelegate {
public:
    virtual ~FormPostDelegate() = default;
    // A response arrived (whatever its status); `body` is its text.
    virtual void requestFinished(int status, const std::string& body) = 0;
    // No response: connection error, time-out, cancelled.
    virtual void requestFailed(const std::string& description) = 0;
};

// One form post: its URL, fields in order, and who is told of the answer
// (weakly: a form screen that is gone hears nothing).
struct FormPostRequest : ns::Object {
    const char* className() const override { return "FormPostRequest"; }
    std::string url;
    FormFields fields;
    int tag = 0;
    ns::WeakDelegate<FormPostDelegate> delegate;
    // What the poster keeps running for this post (its request and the
    // link back to the delegate), if anything.
    ns::Ref<ns::Object> running;

    // "key=value&..." with each part percent-encoded (what a URL-encoded
    // body of these fields is).
    std::string encodedBody() const;
};

class FormPoster : public ns::Object {
public:
    // Starts the post asynchronously; the delegate is told later.
    virtual void post(ns::Ref<FormPostRequest> request) = 0;
};

// The poster the forms use: the HTTP form poster unless another was set.
FormPoster& formPoster();
// Installs another poster; nil restores the HTTP form poster.
void setFormPoster(ns::Ref<FormPoster> poster);

}  // namespace app
