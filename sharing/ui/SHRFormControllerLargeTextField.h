// The full-screen editor for the text of a post: a text view over the whole
// screen, "Cancel" on the left, "Send to <service>" on the right, and a
// counter of the characters left when there is a limit, an attached image
// (which uses imageTextLength characters) or a link. The send button is off
// while the text is empty or too long, so no text over the limit is sent
// through it. Send and Cancel first hide the sharer's screen through the
// sharing centre, then tell the delegate (the sharer, not retained):
// its send operation with the form, or sendDidCancel(). The screen is
// often the sharer's last owner, so both hold the sharer until it has
// been told. Cancel lets the text view's focus go, and a cancelled form
// sends nothing and tells nothing more.
#pragma once

#include <functional>
#include <string>

#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Image.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"
#include "sharing/core/SHRSharer.h"

namespace sharing {

class SHRFormControllerLargeTextField : public ui::ViewController, public ui::TextFieldDelegate {
public:
    using SendForm = std::function<void(SHRSharer*, SHRFormControllerLargeTextField*)>;
    SHRFormControllerLargeTextField() = default;
    const char* className() const override { return "SHRFormControllerLargeTextField"; }

    // The sharer (weak) and its operation that takes the edited form.
    template <class D>
    void setDelegate(D* delegate, void (D::*sendForm)(SHRFormControllerLargeTextField*)) {
        delegate_ = ns::Weak<SHRSharer>(delegate);
        sendForm_ = [sendForm](SHRSharer* d, SHRFormControllerLargeTextField* f) { (static_cast<D*>(d)->*sendForm)(f); };
    }
    ns::Ref<SHRSharer> delegate() const { return delegate_.lock(); }
    // Gives the form to the delegate's send operation, if it is still there
    // and the form has not been sent already: Send pressed again while the
    // screen closes, or while a check-in that keeps it up is under way,
    // sends nothing more.
    void sendFormToDelegate() { sendFormTo(delegate().get()); }

    // The text view (a text input; loads the view on first use).
    ui::TextField* textView();
    std::string text() { return textView()->text(); }
    // Sets the text as the code would (the counter follows).
    void setText(const std::string& text);
    ui::Label* counter() const { return counter_.get(); }
    size_t maxTextLength() const { return maxTextLength_; }
    void setMaxTextLength(size_t n) { maxTextLength_ = n; }
    bool hasLink() const { return hasLink_; }
    void setHasLink(bool b) { hasLink_ = b; }
    const ns::Ref<ui::Image>& image() const { return image_; }
    void setImage(ns::Ref<ui::Image> i) { image_ = std::move(i); }
    size_t imageTextLength() const { return imageTextLength_; }
    void setImageTextLength(size_t n) { imageTextLength_ = n; }

    void updateCounter();
    void layoutCounter();
    bool shouldShowCounter() const;
    void ifNoTextDisableSendButton();
    // Cancel on the left, "Send to <service>" (done style, calling save) on
    // the right; a form for another purpose names its own right button.
    virtual void setupBarButtonItems();
    void keyboardWillShow(const ns::Notification& note);
    // Hides the sharer's screen, then gives the form to the delegate.
    virtual void save();
    void cancel();
    void savePressed(ns::Object*) { save(); }
    void cancelPressed(ns::Object*) { cancel(); }
    // Characters left (negative when over); meaningful while the counter shows.
    long remaining();

    void loadView() override;
    void viewDidLoad() override;
    void viewDidAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;

    // Cancel is final: the text view takes no focus again and the form
    // sends nothing (Send, the return key and sendFormToDelegate do nothing).
    bool textFieldShouldBeginEditing(ui::TextField*) override { return !cancelled_; }
    bool isCancelled() const { return cancelled_; }
    void textFieldDidBeginEditing(ui::TextField*) override { updateCounter(); }
    void textFieldDidEndEditing(ui::TextField*) override { updateCounter(); }
    void editingChanged(ns::Object*) { updateCounter(); }

private:
    void sendFormTo(SHRSharer* sharer);
    ns::Weak<SHRSharer> delegate_;
    SendForm sendForm_;
    ns::Ref<ui::TextField> textView_;
    ns::Ref<ui::Label> counter_;
    size_t maxTextLength_ = 0;
    bool hasLink_ = false;
    ns::Ref<ui::Image> image_;
    size_t imageTextLength_ = 0;
    bool sent_ = false;       // Send was pressed: the send button stays off
    bool cancelled_ = false;  // Cancel was pressed: nothing is sent any more
    ns::ObserverToken keyboardToken_;
};

}  // namespace sharing
