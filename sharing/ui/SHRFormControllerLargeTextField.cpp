#include "sharing/ui/SHRFormControllerLargeTextField.h"

#include "platform/foundation/Format.h"
#include "platform/ui/BarItems.h"
#include "platform/ui/Color.h"
#include "platform/ui/NavigationController.h"
#include "sharing/core/SHR.h"

namespace sharing {

SHRFormControllerLargeTextField::SHRFormControllerLargeTextField(SHRFormControllerLargeTextFieldDelegate* delegate)
    : delegate_(delegate) {
    if (auto* o = dynamic_cast<ns::Object*>(delegate)) delegateKeep_ = ns::Weak<ns::Object>(o);
}

SHRFormControllerLargeTextFieldDelegate* SHRFormControllerLargeTextField::delegate() const {
    return delegateKeep_.lock() ? delegate_ : nullptr;
}

ui::TextField* SHRFormControllerLargeTextField::textView() {
    view();
    return textView_.get();
}

std::string SHRFormControllerLargeTextField::text() const { return textView_ ? textView_->text() : startText_; }

void SHRFormControllerLargeTextField::setText(std::string t) {
    if (textView_) textView_->setText(std::move(t));
    else startText_ = std::move(t);
}

void SHRFormControllerLargeTextField::loadView() {
    ui::ViewController::loadView();
    ui::View* root = view();
    root->setBackgroundColor(ui::Color::white());
    textView_ = ns::make<ui::TextField>(root->bounds());
    textView_->setFont(ui::Font::systemFontOfSize(15));
    textView_->setBackgroundColor(ui::Color::white());
    textView_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    textView_->setDelegate(this);
    textView_->setText(startText_);
    root->addSubview(textView_);
    setupBarButtonItems();
    updateCounter();
}

void SHRFormControllerLargeTextField::setupBarButtonItems() {
    navigationItem()->setLeftBarButtonItem(ui::BarButtonItem::withSystemItem(
        ui::BarButtonItem::SystemItem::Cancel, this, &SHRFormControllerLargeTextField::cancelPressed));
    std::string title = delegate() ? delegate()->sharerTitle() : std::string();
    navigationItem()->setRightBarButtonItem(ui::BarButtonItem::withTitle(
        SHRLocalizedString("Send to %@", title), ui::BarButtonItem::Style::Done, this,
        &SHRFormControllerLargeTextField::savePressed));
}

void SHRFormControllerLargeTextField::viewDidAppear(bool animated) {
    ui::ViewController::viewDidAppear(animated);
    if (textView_) textView_->becomeFirstResponder();
}

void SHRFormControllerLargeTextField::viewDidDisappear(bool animated) {
    ui::ViewController::viewDidDisappear(animated);
    SHR::currentHelper()->viewWasDismissed();
}

void SHRFormControllerLargeTextField::ifNoTextDisableSendButton() {
    if (auto* b = navigationItem()->rightBarButtonItem().get()) b->setEnabled(!text().empty());
}

bool SHRFormControllerLargeTextField::shouldShowCounter() const {
    return maxTextLength_ != 0 || image_ || hasLink_;
}

void SHRFormControllerLargeTextField::updateCounter() {
    ifNoTextDisableSendButton();
    if (!shouldShowCounter()) return;
    if (!counter_) {
        counter_ = ns::make<ui::Label>();
        counter_->setBackgroundColor(ui::Color::clear());
        counter_->setOpaque(false);
        counter_->setFont(ui::Font::boldSystemFontOfSize(14));
        counter_->setTextAlignment(ui::TextAlignment::Right);
        counter_->setAutoresizingMask(ui::AutoresizingFlexibleLeftMargin | ui::AutoresizingFlexibleBottomMargin);
        view()->addSubview(counter_);
        layoutCounter();
    }
    long length = static_cast<long>(ns::String::make(text())->length());
    long remaining = maxTextLength_ - (image_ ? imageTextLength_ : 0) - length;
    std::string prefix = image_ ? ns::format("Image %@ ", remaining >= 1 ? "+" : "") : std::string();
    counter_->setText(prefix + std::to_string(remaining));
    auto* send = navigationItem()->rightBarButtonItem().get();
    if (remaining < 0) {
        counter_->setTextColor(ui::Color::red());
        if (send) send->setEnabled(false);
    } else {
        counter_->setTextColor(ui::Color::black());
        if (send) send->setEnabled(!text().empty());
    }
}

void SHRFormControllerLargeTextField::layoutCounter() {
    if (!shouldShowCounter() || !counter_ || !textView_) return;
    ui::Rect f = textView_->frame();
    counter_->setFrame({{f.size.width - 150 - 15, f.size.height - 15 - 9}, {150, 15}});
}

void SHRFormControllerLargeTextField::typeText(std::string t) {
    textView()->setText(std::move(t));
    updateCounter();
}

void SHRFormControllerLargeTextField::save() {
    ns::Ref<SHRFormControllerLargeTextField> keep(this);
    SHR::currentHelper()->hideCurrentViewControllerAnimated(true);
    if (auto d = delegateKeep_.lock()) delegate_->sendForm(this);
}

void SHRFormControllerLargeTextField::cancel() {
    ns::Ref<SHRFormControllerLargeTextField> keep(this);
    SHR::currentHelper()->hideCurrentViewControllerAnimated(true);
    if (auto d = delegateKeep_.lock()) delegate_->sendDidCancel();
}

}  // namespace sharing
