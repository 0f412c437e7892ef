#include "sharing/ui/SHRFormControllerLargeTextField.h"

#include "platform/ui/Application.h"
#include "platform/ui/BarItems.h"
#include "platform/ui/Color.h"
#include "sharing/core/SHR.h"

namespace sharing {

void SHRFormControllerLargeTextField::loadView() {
    auto root = ui::View::make(ui::makeRect(0, 0, 320, 416));
    root->setBackgroundColor(ui::Color::colorWithRGBA(1, 1, 1, 1));
    textView_ = ui::TextField::make(root->bounds());
    textView_->setFont(ui::Font::systemFontOfSize(15));
    textView_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    textView_->setDelegate(this);
    textView_->addTarget(this, &SHRFormControllerLargeTextField::editingChanged, ui::ControlEventEditingChanged);
    root->addSubview(textView_);
    setView(root);
}

void SHRFormControllerLargeTextField::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    setupBarButtonItems();
}

ui::TextField* SHRFormControllerLargeTextField::textView() {
    view();
    return textView_.get();
}

void SHRFormControllerLargeTextField::setText(const std::string& text) {
    textView()->setText(text);
    updateCounter();
}

void SHRFormControllerLargeTextField::setupBarButtonItems() {
    navigationItem()->setLeftBarButtonItem(ui::BarButtonItem::withSystemItem(
        ui::BarButtonItem::SystemItem::Cancel, this, &SHRFormControllerLargeTextField::cancelPressed));
    auto d = delegate();
    std::string title = SHRLocalizedString("Send to %@", d ? d->sharerTitle() : std::string());
    navigationItem()->setRightBarButtonItem(ui::BarButtonItem::withTitle(
        title, ui::BarButtonItem::Style::Done, this, &SHRFormControllerLargeTextField::savePressed));
    updateCounter();
}

void SHRFormControllerLargeTextField::viewDidAppear(bool animated) {
    ui::ViewController::viewDidAppear(animated);
    ns::Weak<SHRFormControllerLargeTextField> self(this);
    keyboardToken_ = ns::NotificationCenter::defaultCenter()->addObserver(
        ui::kKeyboardWillShowNotification, nullptr, [self](const ns::Notification& n) {
            if (auto s = self.lock()) s->keyboardWillShow(n);
        });
    textView()->becomeFirstResponder();
}

void SHRFormControllerLargeTextField::viewDidDisappear(bool animated) {
    ui::ViewController::viewDidDisappear(animated);
    keyboardToken_.reset();
    ui::NavigationController* nav = navigationController();
    if (!nav || !nav->topViewController()) SHR::currentHelper()->viewWasDismissed();
}

void SHRFormControllerLargeTextField::keyboardWillShow(const ns::Notification& note) {
    ui::Rect keyboard{};
    if (auto* info = note.userInfo())
        if (auto* s = info->stringForKey(ui::kKeyboardFrameEndUserInfoKey)) ui::rectFromString(s->view(), keyboard);
    auto* app = ui::Application::sharedApplication();
    bool landscape = app && ui::isLandscape(app->statusBarOrientation());
    double keyboardHeight = landscape ? keyboard.width() : keyboard.height();
    ui::View* v = view();
    double top = v->window() ? v->convertRectToView(v->bounds(), nullptr).y() : 0;
    double statusBar = (app && !app->isStatusBarHidden() && !landscape) ? 20 : 0;
    double height = std::max(0.0, v->window() ? v->window()->bounds().height() - keyboardHeight - top - statusBar
                                              : v->bounds().height() - keyboardHeight);
    textView_->setFrame(ui::makeRect(0, 0, v->bounds().width(), height));
    layoutCounter();
}

bool SHRFormControllerLargeTextField::shouldShowCounter() const {
    return maxTextLength_ != 0 || image_ || hasLink_;
}

void SHRFormControllerLargeTextField::ifNoTextDisableSendButton() {
    if (auto& right = navigationItem()->rightBarButtonItem()) right->setEnabled(!sent_ && !cancelled_ && !textView()->text().empty());
}

long SHRFormControllerLargeTextField::remaining() {
    long left = static_cast<long>(maxTextLength_);
    if (image_) left -= static_cast<long>(imageTextLength_);
    left -= static_cast<long>(ns::String::make(textView()->text())->length());
    return left;
}

void SHRFormControllerLargeTextField::updateCounter() {
    ifNoTextDisableSendButton();
    if (!shouldShowCounter()) return;
    if (!counter_) {
        counter_ = ui::Label::make();
        counter_->setBackgroundColor(ui::Color::colorWithRGBA(0, 0, 0, 0));
        counter_->setOpaque(false);
        counter_->setFont(ui::Font::boldSystemFontOfSize(14));
        counter_->setTextAlignment(ui::TextAlignment::Right);
        counter_->setAutoresizingMask(ui::AutoresizingFlexibleLeftMargin | ui::AutoresizingFlexibleBottomMargin);
        view()->addSubview(counter_);
        layoutCounter();
    }
    long left = remaining();
    std::string prefix;
    if (image_) prefix = ns::format(SHRLocalizedString("Image %@ "), left > 0 ? "+" : "");
    counter_->setText(prefix + std::to_string(left));
    auto& right = navigationItem()->rightBarButtonItem();
    if (left < 0) {
        counter_->setTextColor(ui::Color::colorWithRGBA(1, 0, 0, 1));
        if (right) right->setEnabled(false);
    } else {
        counter_->setTextColor(ui::Color::colorWithRGBA(0, 0, 0, 1));
        if (right) right->setEnabled(!sent_ && !cancelled_ && !textView()->text().empty());
    }
}

void SHRFormControllerLargeTextField::layoutCounter() {
    if (!shouldShowCounter() || !counter_) return;
    ui::Rect f = textView()->frame();
    counter_->setFrame(ui::makeRect(f.width() - 150 - 15, f.height() - 15 - 9, 150, 15));
}

void SHRFormControllerLargeTextField::save() {
    if (sent_ || cancelled_) return;
    auto keep = ns::keepAlive(this);
    auto sharer = delegate();
    SHR::currentHelper()->hideCurrentViewControllerAnimated(true);
    sendFormTo(sharer.get());
}

void SHRFormControllerLargeTextField::sendFormTo(SHRSharer* sharer) {
    if (sent_ || cancelled_ || !sharer || !sendForm_) return;
    sent_ = true;
    if (auto& right = navigationItem()->rightBarButtonItem()) right->setEnabled(false);
    sendForm_(sharer, this);
}

void SHRFormControllerLargeTextField::cancel() {
    if (cancelled_) return;  // told once
    cancelled_ = true;
    auto keep = ns::keepAlive(this);
    if (textView_) textView_->resignFirstResponder();
    if (auto& right = navigationItem()->rightBarButtonItem()) right->setEnabled(false);
    auto sharer = delegate();
    SHR::currentHelper()->hideCurrentViewControllerAnimated(true);
    // After Send the send reports its own end: Cancel only closes the screen.
    if (sharer && !sent_) sharer->sendDidCancel();
}

}  // namespace sharing
