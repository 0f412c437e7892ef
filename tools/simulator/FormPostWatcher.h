// The simulator's view of the app's form posts: it stands between the form
// screens and the app's poster, passes every post on unchanged, notes a
// line for each (so the person sees what was sent), and knows which posts
// still wait for their answer (so a script's `wait` can let the network
// answer before time moves on).
#pragma once

#include <string>
#include <vector>

#include "app/forms/FormPoster.h"

namespace simulator {

class FormPostWatcher : public app::FormPoster {
public:
    explicit FormPostWatcher(ns::Ref<app::FormPoster> poster) : poster_(std::move(poster)) {}
    const char* className() const override { return "FormPostWatcher"; }
    void post(ns::Ref<app::FormPostRequest> request) override;

    // "Form post: POST <url> <body>" for each post started since the last call.
    std::vector<std::string> takeStartedLines();
    // Whether a post started here has not been answered yet.
    bool waiting();

private:
    // Takes the form's place as the post's delegate: notes the answer, then
    // tells the form.
    class Relay : public ns::Object, public app::FormPostDelegate {
    public:
        explicit Relay(const app::FormPostRequest& form) : form_(form.delegate) {}
        const char* className() const override { return "FormPostWatcher::Relay"; }
        void requestFinished(int status, const std::string& body) override {
            answered = true;
            if (auto form = form_.lock()) form->requestFinished(status, body);
        }
        void requestFailed(const std::string& description) override {
            answered = true;
            if (auto form = form_.lock()) form->requestFailed(description);
        }
        bool answered = false;

    private:
        ns::WeakDelegate<app::FormPostDelegate> form_;
    };
    struct Running {
        ns::Ref<Relay> relay;
        ns::Weak<app::FormPostRequest> request;  // a post whose form is gone is not waited for
    };
    ns::Ref<app::FormPoster> poster_;
    std::vector<std::string> started_;
    std::vector<Running> running_;
};

}  // namespace simulator
