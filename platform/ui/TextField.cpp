#include "platform/ui/TextField.h"
#include "platform/ui/Application.h"
#include "platform/foundation/Delegate.h"

namespace ui {

namespace {
// Byte length of the last character of UTF-8 text (0 for empty text).
size_t lastCharBytes(const std::string& s) {
    if (s.empty()) return 0;
    size_t i = s.size() - 1;
    while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) --i;
    return s.size() - i;
}
}  // namespace

bool TextField::becomeFirstResponder() {
    if (isFirstResponder()) return true;
    if (!canBecomeFirstResponder()) return false;
    auto keep = ns::keepAlive(this);
    if (auto d = delegate_.lock(); d && !d->textFieldShouldBeginEditing(this)) return false;
    if (!Responder::becomeFirstResponder()) return false;
    editing_ = true;
    Application::shared()->textInputBecameFocused();
    if (auto d = delegate_.lock()) d->textFieldDidBeginEditing(this);
    sendActionsForControlEvents(ControlEventEditingDidBegin);
    return true;
}

bool TextField::resignFirstResponder() {
    if (!isFirstResponder()) return true;
    auto keep = ns::keepAlive(this);
    if (auto d = delegate_.lock(); d && !d->textFieldShouldEndEditing(this)) return false;
    Responder::resignFirstResponder();
    editing_ = false;
    Application::shared()->textInputLostFocus();
    if (auto d = delegate_.lock()) d->textFieldDidEndEditing(this);
    sendActionsForControlEvents(ControlEventEditingDidEnd);
    return true;
}

void TextField::setText(std::string t) {
    text_ = std::move(t);
    length_ = ns::utf8ToUTF16(text_).size();
}

bool TextField::insertText(const std::string& s) {
    auto keep = ns::keepAlive(this);
    if (auto d = delegate_.lock(); d && !d->textFieldShouldChangeCharactersInRange(this, {length_, 0}, s)) return false;
    text_ += s;
    length_ += ns::utf8ToUTF16(s).size();
    sendActionsForControlEvents(ControlEventEditingChanged);
    return true;
}

bool TextField::deleteBackward() {
    if (text_.empty()) return false;
    auto keep = ns::keepAlive(this);
    size_t bytes = lastCharBytes(text_);
    size_t units = ns::utf8ToUTF16(std::string_view(text_).substr(text_.size() - bytes)).size();
    if (auto d = delegate_.lock(); d && !d->textFieldShouldChangeCharactersInRange(this, {length_ - units, units}, ""))
        return false;
    text_.resize(text_.size() - bytes);
    length_ -= units;
    sendActionsForControlEvents(ControlEventEditingChanged);
    return true;
}

bool TextField::pressReturn() {
    auto keep = ns::keepAlive(this);
    bool ok = true;
    if (auto d = delegate_.lock()) ok = d->textFieldShouldReturn(this);
    if (ok) sendActionsForControlEvents(ControlEventEditingDidEndOnExit);
    return ok;
}

void TextField::touchesEnded(const TouchSet& touches, Event* event) {
    Control::touchesEnded(touches, event);
    if (isEnabled()) becomeFirstResponder();
}

// -- Search bar ----------------------------------------------------------------

bool SearchBar::becomeFirstResponder() {
    if (isFirstResponder()) return true;
    auto keep = ns::keepAlive(this);
    if (auto d = delegate_.lock(); d && !d->searchBarShouldBeginEditing(this)) return false;
    if (!Responder::becomeFirstResponder()) return false;
    editing_ = true;
    Application::shared()->textInputBecameFocused();
    if (auto d = delegate_.lock()) d->searchBarTextDidBeginEditing(this);
    return true;
}

bool SearchBar::resignFirstResponder() {
    if (!isFirstResponder()) return true;
    auto keep = ns::keepAlive(this);
    if (auto d = delegate_.lock(); d && !d->searchBarShouldEndEditing(this)) return false;
    Responder::resignFirstResponder();
    editing_ = false;
    Application::shared()->textInputLostFocus();
    if (auto d = delegate_.lock()) d->searchBarTextDidEndEditing(this);
    return true;
}

void SearchBar::insertText(const std::string& s) {
    text_ += s;
    textChanged();
}

void SearchBar::deleteBackward() {
    if (text_.empty()) return;
    text_.resize(text_.size() - lastCharBytes(text_));
    textChanged();
}

void SearchBar::replaceText(const std::string& s) {
    text_ = s;
    textChanged();
}

void SearchBar::textChanged() {
    auto keep = ns::keepAlive(this);
    if (auto d = delegate_.lock()) d->searchBarTextDidChange(this, text_);
}

void SearchBar::pressSearch() {
    auto keep = ns::keepAlive(this);
    if (auto d = delegate_.lock()) d->searchBarSearchButtonClicked(this);
}

void SearchBar::pressCancel() {
    auto keep = ns::keepAlive(this);
    if (auto d = delegate_.lock()) d->searchBarCancelButtonClicked(this);
}

void SearchBar::setShowsCancelButton(bool b, bool) {
    showsCancel_ = b;
    if (b && !cancel_) {
        static constexpr double kWidth = 64, kHeight = 30;
        Rect bar = bounds();
        cancel_ = Button::make(makeRect(bar.width() - kWidth - 6, (bar.height() - kHeight) / 2, kWidth, kHeight), "Cancel");
        cancel_->setAutoresizingMask(AutoresizingFlexibleLeftMargin);
        ns::Weak<SearchBar> weak(this);
        cancel_->addAction([weak](Control*) {
            if (auto self = weak.lock()) self->pressCancel();
        }, ControlEventTouchUpInside);
        addSubview(cancel_);
    }
    if (cancel_) cancel_->setHidden(!b);
}

void SearchBar::touchesEnded(const TouchSet&, Event*) { becomeFirstResponder(); }

}  // namespace ui
