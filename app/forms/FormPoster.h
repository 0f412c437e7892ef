// How the sign-up and referral forms are posted. The form screens build the
// fields and hand them to the app's poster. The app's poster sends them with
// the HTTP client's form-data request (HTTPFormPoster.h); a test may put a
// poster of its own in its place and answer the requests itself by calling
// their delegates.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

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

// One form post: its URL, fields in order, and who is told of the answer.
struct FormPostRequest {
    std::string url;
    FormFields fields;
    int tag = 0;
    ns::Weak<ns::Object> delegateOwner;  // keeps the delegate link weak
    FormPostDelegate* delegate = nullptr;
    // What the poster keeps running for this post (its request and the
    // link back to the delegate), if anything.
    ns::Ref<ns::Object> running;

    // The delegate if it is still alive, with a hold on it.
    std::pair<ns::Ref<ns::Object>, FormPostDelegate*> lockDelegate() const {
        auto keep = delegateOwner.lock();
        return {keep, keep ? delegate : nullptr};
    }
    // "key=value&..." with each part percent-encoded (what a URL-encoded
    // body of these fields is).
    std::string encodedBody() const;
};

class FormPoster {
public:
    virtual ~FormPoster() = default;
    // Starts the post asynchronously; the delegate is told later.
    virtual void post(std::shared_ptr<FormPostRequest> request) = 0;
};

// The poster the forms use: the HTTP form poster unless another was set.
FormPoster& formPoster();
// Installs another poster; nil restores the HTTP form poster.
void setFormPoster(std::shared_ptr<FormPoster> poster);

}  // namespace app
