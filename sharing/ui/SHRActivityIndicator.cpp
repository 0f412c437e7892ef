#include "sharing/ui/SHRActivityIndicator.h"

#include <cmath>

#include "platform/foundation/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Window.h"

namespace sharing {

namespace {
ui::Rect centredFrame() {
    ui::Rect bounds{{0, 0}, {320, 480}};
    if (ui::Window* w = ui::Application::shared()->keyWindow()) bounds = w->frame();
    return {{std::round(bounds.size.width / 2 - 80), std::round(bounds.size.height / 2 - 80)}, {160, 160}};
}
}  // namespace

SHRActivityIndicator::SHRActivityIndicator() : ui::View(centredFrame()) {
    setAlpha(0);
    setUserInteractionEnabled(false);
}

SHRActivityIndicator* SHRActivityIndicator::currentIndicator() {
    static SHRActivityIndicator* indicator = [] {
        auto i = ns::make<SHRActivityIndicator>();
        return i.leak();  // lives for the process
    }();
    return indicator;
}

void SHRActivityIndicator::setCenterMessage(const std::string& message) {
    if (!centerMessageLabel_) {
        ui::Rect f = frame();
        centerMessageLabel_ = ui::Label::make({{12, std::round(f.size.height / 2 - 25)}, {f.size.width - 24, 50}});
        addSubview(centerMessageLabel_);
    }
    centerMessageLabel_->setText(message);
}

void SHRActivityIndicator::setSubMessage(const std::string& message) {
    if (!subMessageLabel_) {
        ui::Rect f = frame();
        subMessageLabel_ = ui::Label::make({{12, f.size.height - 45}, {f.size.width - 24, 30}});
        addSubview(subMessageLabel_);
    }
    subMessageLabel_->setText(message);
}

void SHRActivityIndicator::showSpinner() {
    if (!spinner_) {
        spinner_ = ns::make<ui::ActivityIndicatorView>(ui::ActivityIndicatorView::Style::WhiteLarge);
        spinner_->setFrame({{std::round(frame().size.width / 2 - 18), std::round(frame().size.height / 2 - 18)}, {37, 37}});
    }
    addSubview(spinner_);
    spinner_->startAnimating();
}

void SHRActivityIndicator::displayActivity(const std::string& message) {
    setSubMessage(message);
    showSpinner();
    if (centerMessageLabel_) {
        centerMessageLabel_->removeFromSuperview();
        centerMessageLabel_ = nullptr;
    }
    if (superview()) persist();
    else show();
}

void SHRActivityIndicator::displayCompleted(const std::string& message) {
    setCenterMessage("\xE2\x9C\x93");
    setSubMessage(message);
    if (spinner_) {
        spinner_->removeFromSuperview();
        spinner_ = nullptr;
    }
    if (superview()) persist();
    else show();
    hideAfterDelay();
}

void SHRActivityIndicator::cancelDelayedHide() {
    if (hideTimer_) {
        hideTimer_->invalidate();
        hideTimer_ = nullptr;
    }
}

void SHRActivityIndicator::show() {
    if (!superview()) {
        if (ui::Window* w = ui::Application::shared()->keyWindow()) w->addSubview(ns::Ref<ui::View>(this));
    }
    cancelDelayedHide();
    ns::Ref<SHRActivityIndicator> self(this);
    ui::View::animate(0.3, [self] { self->setAlpha(1); });
}

void SHRActivityIndicator::hideAfterDelay() {
    cancelDelayedHide();
    ns::Ref<SHRActivityIndicator> self(this);
    hideTimer_ = ns::RunLoop::main()->performAfterDelay(0.6, [self] {
        self->hideTimer_ = nullptr;
        self->hide();
    });
}

void SHRActivityIndicator::hide() {
    ns::Ref<SHRActivityIndicator> self(this);
    ui::View::animate(0.4, [self] { self->setAlpha(0); }, [self](bool) { self->hidden(); });
}

void SHRActivityIndicator::hidden() {
    if (alpha() > 0) return;
    removeFromSuperview();
}

void SHRActivityIndicator::persist() {
    cancelDelayedHide();
    ns::Ref<SHRActivityIndicator> self(this);
    ui::View::animate(0.1, [self] { self->setAlpha(1); });
}

}  // namespace sharing
