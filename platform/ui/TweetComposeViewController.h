// The system tweet composer: a modal sheet, owned by the platform, in which
// the user reviews a short message (with an optional image and link) and
// sends or cancels it. The stand-in keeps what the caller gave it, shows the
// text and two buttons ("Cancel", "Send"), and calls the completion handler
// with Done or Cancelled when one is pressed. Whether the platform has a
// composer at all, and whether an account is set up to send, are platform
// settings that tests and the simulator change. Every composer made is
// recorded (weakly) so a test can find the one on screen. Main thread only.
//
// Header-only so that the platform library's build is unchanged.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/foundation/String.h"
#include "platform/foundation/URL.h"
#include "platform/ui/Control.h"
#include "platform/ui/Image.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"

namespace ui {

class TweetComposeViewController : public ViewController {
public:
    enum class Result : int { Cancelled = 0, Done = 1 };
    using CompletionHandler = std::function<void(Result)>;
    // The longest text the composer accepts (UTF-16 units).
    static constexpr size_t kMaxTextLength = 140;

    TweetComposeViewController() = default;
    const char* className() const override { return "TWTweetComposeViewController"; }
    // A new composer, recorded for liveComposers().
    static ns::Ref<TweetComposeViewController> make() {
        auto c = ns::make<TweetComposeViewController>();
        registry().push_back(ns::Weak<TweetComposeViewController>(c));
        return c;
    }

    // -- Platform settings -------------------------------------------------------
    // Whether this platform has the composer (the class exists at run time).
    static bool isAvailable() { return availableFlag(); }
    static void setAvailable(bool b) { availableFlag() = b; }
    // Whether an account is set up so that a tweet can be sent.
    static bool canSendTweet() { return canSendFlag(); }
    static void setCanSendTweet(bool b) { canSendFlag() = b; }

    // -- Content -------------------------------------------------------------------
    // False (text unchanged) once the sheet is on screen or when the text is
    // longer than kMaxTextLength.
    bool setInitialText(const std::string& text) {
        if (isViewLoaded() && view()->window()) return false;
        if (ns::String::make(text)->length() > kMaxTextLength) return false;
        text_ = text;
        if (textLabel_) textLabel_->setText(text_);
        return true;
    }
    const std::string& initialText() const { return text_; }
    // nil adds nothing and answers false, as does a sheet on screen.
    bool addImage(ns::Ref<Image> image) {
        if (!image || (isViewLoaded() && view()->window())) return false;
        images_.push_back(std::move(image));
        return true;
    }
    bool addURL(ns::Ref<ns::URL> url) {
        if (!url || (isViewLoaded() && view()->window())) return false;
        urls_.push_back(std::move(url));
        return true;
    }
    const std::vector<ns::Ref<Image>>& images() const { return images_; }
    const std::vector<ns::Ref<ns::URL>>& urls() const { return urls_; }
    void setCompletionHandler(CompletionHandler h) { completion_ = std::move(h); }
    bool hasCompletionHandler() const { return static_cast<bool>(completion_); }

    // -- The user's choice -----------------------------------------------------------
    // The handler is called once; without one the sheet dismisses itself.
    void finish(Result r) {
        auto keep = ns::keepAlive(this);
        if (finished_) return;
        finished_ = true;
        result_ = r;
        if (completion_) {
            auto h = std::move(completion_);
            h(r);
        } else if (presentingViewController()) {
            dismissViewControllerAnimated(true);
        }
    }
    bool isFinished() const { return finished_; }
    Result result() const { return result_; }
    void sendPressed(ns::Object*) { finish(Result::Done); }
    void cancelPressed(ns::Object*) { finish(Result::Cancelled); }

    void loadView() override {
        auto root = View::make(makeRect(0, 0, 320, 300));
        auto cancel = Button::make(makeRect(10, 10, 100, 40), "Cancel");
        cancel->addTarget(this, &TweetComposeViewController::cancelPressed, ControlEventTouchUpInside);
        auto send = Button::make(makeRect(210, 10, 100, 40), "Send");
        send->setAutoresizingMask(AutoresizingFlexibleLeftMargin);
        send->addTarget(this, &TweetComposeViewController::sendPressed, ControlEventTouchUpInside);
        textLabel_ = Label::make(makeRect(10, 60, 300, 120));
        textLabel_->setAutoresizingMask(AutoresizingFlexibleWidth);
        textLabel_->setNumberOfLines(0);
        textLabel_->setText(text_);
        root->addSubview(cancel);
        root->addSubview(send);
        root->addSubview(textLabel_);
        setView(root);
    }

    // -- The record ---------------------------------------------------------------------
    // The composers made by make() so far that are still alive, oldest first.
    static std::vector<ns::Ref<TweetComposeViewController>> liveComposers() {
        std::vector<ns::Ref<TweetComposeViewController>> out;
        for (auto& w : registry())
            if (auto c = w.lock()) out.push_back(c);
        return out;
    }
    // Back to a fresh device: forgets the record and restores the settings
    // (available, can send).
    static void reset() {
        registry().clear();
        availableFlag() = true;
        canSendFlag() = true;
    }

private:
    static std::vector<ns::Weak<TweetComposeViewController>>& registry() {
        static std::vector<ns::Weak<TweetComposeViewController>> r;
        return r;
    }
    static bool& availableFlag() {
        static bool b = true;
        return b;
    }
    static bool& canSendFlag() {
        static bool b = true;
        return b;
    }
    std::string text_;
    std::vector<ns::Ref<Image>> images_;
    std::vector<ns::Ref<ns::URL>> urls_;
    CompletionHandler completion_;
    ns::Ref<Label> textLabel_;
    bool finished_ = false;
    Result result_ = Result::Cancelled;
};

}  // namespace ui
