// The full-screen editor for the text of a post: a text area, a counter of
// the characters left (when there is a limit, an attached image or a link),
// Cancel on the left and "Send to <service>" on the right. The send button
// is enabled only while there is text and the count left is not negative.
// Save and cancel hide the screen through the sharing centre first, then
// tell the delegate (not retained).
#pragma once

#include <string>

#include "platform/ui/Image.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

namespace sharing {

class SHRFormControllerLargeTextField;

class SHRFormControllerLargeTextFieldDelegate {
public:
    virtual ~SHRFormControllerLargeTextFieldDelegate() = default;
    virtual void sendForm(SHRFormControllerLargeTextField* form) = 0;
    virtual void sendDidCancel() = 0;
    virtual std::string sharerTitle() const = 0;
};

class SHRFormControllerLargeTextField : public ui::ViewController, public ui::TextFieldDelegate {
public:
    // The delegate must be an ns::Object (it is held weakly).
    explicit SHRFormControllerLargeTextField(SHRFormControllerLargeTextFieldDelegate* delegate);
    const char* className() const override { return "SHRFormControllerLargeTextField"; }

    SHRFormControllerLargeTextFieldDelegate* delegate() const;
    ui::TextField* textView();
    ui::Label* counter() const { return counter_.get(); }
    // The text (before the view is loaded: the start text).
    std::string text() const;
    void setText(std::string t);
    long maxTextLength() const { return maxTextLength_; }
    void setMaxTextLength(long n) { maxTextLength_ = n; }
    bool hasLink() const { return hasLink_; }
    void setHasLink(bool b) { hasLink_ = b; }
    const ns::Ref<ui::Image>& image() const { return image_; }
    void setImage(ns::Ref<ui::Image> i) { image_ = std::move(i); }
    long imageTextLength() const { return imageTextLength_; }
    void setImageTextLength(long n) { imageTextLength_ = n; }

    void updateCounter();
    void layoutCounter();
    bool shouldShowCounter() const;
    void ifNoTextDisableSendButton();
    void setupBarButtonItems();
    // The user typing (tests and the simulator): sets the text and updates
    // the counter as editing would.
    void typeText(std::string t);
    void save();
    void cancel();
    void savePressed(ns::Object*) { save(); }
    void cancelPressed(ns::Object*) { cancel(); }

    void loadView() override;
    void viewDidAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void textFieldDidBeginEditing(ui::TextField*) override { updateCounter(); }
    void textFieldDidEndEditing(ui::TextField*) override { updateCounter(); }

private:
    ns::Weak<ns::Object> delegateKeep_;
    SHRFormControllerLargeTextFieldDelegate* delegate_ = nullptr;
    ns::Ref<ui::TextField> textView_;
    ns::Ref<ui::Label> counter_;
    std::string startText_;
    long maxTextLength_ = 0;
    bool hasLink_ = false;
    ns::Ref<ui::Image> image_;
    long imageTextLength_ = 0;
};

}  // namespace sharing
