// The large-text screen in which the user edits the message of a text
// share before it goes to Facebook: one text input, "Cancel" on the left,
// "Send to Facebook" on the right. The sharer (weak) gets the text on send.
#pragma once

#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

namespace sharing {

class SHRFacebook;

class SHRFacebookTextForm : public ui::ViewController {
public:
    explicit SHRFacebookTextForm(SHRFacebook* sharer);
    const char* className() const override { return "SHRFacebookTextForm"; }

    void loadView() override;
    ui::TextField* textView() { view(); return textView_.get(); }
    // No limit when 0.
    size_t maxTextLength() const { return maxTextLength_; }
    void setMaxTextLength(size_t n) { maxTextLength_ = n; }

    void sendPressed(ns::Object*);
    void cancelPressed(ns::Object*);

private:
    ns::Weak<SHRFacebook> sharer_;
    ns::Ref<ui::TextField> textView_;
    size_t maxTextLength_ = 0;
};

}  // namespace sharing
