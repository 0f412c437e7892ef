#include "platform/ui/AlertView.h"
#include "platform/foundation/Delegate.h"

#include <algorithm>

namespace ui {

namespace {
std::vector<ns::Ref<Panel>>& shown() {
    static std::vector<ns::Ref<Panel>> list;  // main thread only
    return list;
}
}  // namespace

std::string Panel::buttonTitleAtIndex(long i) const {
    return i >= 0 && i < numberOfButtons() ? buttons_[static_cast<size_t>(i)] : std::string();
}

long Panel::indexOfButtonWithTitle(const std::string& t) const {
    for (size_t i = 0; i < buttons_.size(); ++i)
        if (buttons_[i] == t) return static_cast<long>(i);
    return -1;
}

long Panel::addButtonWithTitle(std::string title) {
    buttons_.push_back(std::move(title));
    return numberOfButtons() - 1;
}

bool Panel::isVisible() const {
    return std::any_of(shown().begin(), shown().end(), [this](auto& p) { return p.get() == this; });
}

std::vector<ns::Ref<Panel>> Panel::visiblePanels() { return shown(); }
Panel* Panel::topPanel() { return shown().empty() ? nullptr : shown().back().get(); }

void Panel::resetShown() { shown().clear(); }

void Panel::showPanel() {
    requireMainThread("show (alert or action sheet)");
    if (isVisible()) return;
    auto keep = ns::keepAlive(this);
    tellWillPresent();
    shown().push_back(keep);
    tellDidPresent();
}

void Panel::removePanel() {
    auto& list = shown();
    list.erase(std::remove_if(list.begin(), list.end(), [this](auto& p) { return p.get() == this; }), list.end());
}

bool Panel::pressButtonAtIndex(long index) {
    if (index < 0 || index >= numberOfButtons() || !isVisible()) return false;
    auto keep = ns::keepAlive(this);
    tellClicked(index);
    tellWillDismiss(index);
    removePanel();
    tellDidDismiss(index);
    return true;
}

bool Panel::pressButtonWithTitle(const std::string& title) { return pressButtonAtIndex(indexOfButtonWithTitle(title)); }

void Panel::dismissWithClickedButtonIndex(long index, bool) {
    if (!isVisible()) return;
    auto keep = ns::keepAlive(this);
    tellWillDismiss(index);
    removePanel();
    tellDidDismiss(index);
}

// -- Alert ------------------------------------------------------------------------

AlertView::AlertView(std::string title, std::string message, AlertViewDelegate* delegate,
                     std::string cancelButtonTitle, std::vector<std::string> otherButtons)
    : message_(std::move(message)) {
    title_ = std::move(title);
    delegate_ = delegate;
    if (!cancelButtonTitle.empty()) cancel_ = addButtonWithTitle(std::move(cancelButtonTitle));
    for (auto& b : otherButtons) addButtonWithTitle(std::move(b));
}

void AlertView::setAlertViewStyle(Style s) {
    style_ = s;
    fields_.clear();
    auto field = [](std::string placeholder, bool secure) {
        auto f = TextField::make(makeRect(0, 0, 260, 29));
        f->setPlaceholder(std::move(placeholder));
        f->setSecureTextEntry(secure);
        return f;
    };
    switch (s) {
        case Style::Default: break;
        case Style::SecureTextInput: fields_.push_back(field("", true)); break;
        case Style::PlainTextInput: fields_.push_back(field("", false)); break;
        case Style::LoginAndPasswordInput:
            fields_.push_back(field("Login", false));
            fields_.push_back(field("Password", true));
            break;
    }
}

TextField* AlertView::textFieldAtIndex(long i) const {
    return i >= 0 && i < static_cast<long>(fields_.size()) ? fields_[static_cast<size_t>(i)].get() : nullptr;
}

void AlertView::show() { showPanel(); }

void AlertView::tellClicked(long i) {
    if (auto d = delegate_.lock()) d->alertViewClickedButtonAtIndex(this, i);
}
void AlertView::tellWillPresent() {
    if (auto d = delegate_.lock()) d->willPresentAlertView(this);
}
void AlertView::tellDidPresent() {
    if (auto d = delegate_.lock()) d->didPresentAlertView(this);
}
void AlertView::tellWillDismiss(long i) {
    if (auto d = delegate_.lock()) d->alertViewWillDismissWithButtonIndex(this, i);
}
void AlertView::tellDidDismiss(long i) {
    if (auto d = delegate_.lock()) d->alertViewDidDismissWithButtonIndex(this, i);
}

// -- Action sheet -------------------------------------------------------------------

ActionSheet::ActionSheet(std::string title, ActionSheetDelegate* delegate, std::string cancelButtonTitle,
                         std::string destructiveButtonTitle, std::vector<std::string> otherButtons) {
    title_ = std::move(title);
    delegate_ = delegate;
    if (!destructiveButtonTitle.empty()) destructive_ = addButtonWithTitle(std::move(destructiveButtonTitle));
    for (auto& b : otherButtons) addButtonWithTitle(std::move(b));
    if (!cancelButtonTitle.empty()) cancel_ = addButtonWithTitle(std::move(cancelButtonTitle));
}

void ActionSheet::showInView(View* v) {
    shownIn_ = v;
    showPanel();
}
void ActionSheet::showFromBarButtonItem(ns::Object*, bool) { showPanel(); }
void ActionSheet::showFromRect(Rect, View* v, bool) {
    shownIn_ = v;
    showPanel();
}

void ActionSheet::tellClicked(long i) {
    if (auto d = delegate_.lock()) d->actionSheetClickedButtonAtIndex(this, i);
}
void ActionSheet::tellWillPresent() {
    if (auto d = delegate_.lock()) d->willPresentActionSheet(this);
}
void ActionSheet::tellDidPresent() {
    if (auto d = delegate_.lock()) d->didPresentActionSheet(this);
}
void ActionSheet::tellWillDismiss(long i) {
    if (auto d = delegate_.lock()) d->actionSheetWillDismissWithButtonIndex(this, i);
}
void ActionSheet::tellDidDismiss(long i) {
    if (auto d = delegate_.lock()) d->actionSheetDidDismissWithButtonIndex(this, i);
}

}  // namespace ui
