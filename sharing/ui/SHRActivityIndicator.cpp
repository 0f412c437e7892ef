#include "sharing/ui/SHRActivityIndicator.h"

#include <cmath>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/Color.h"
#include "platform/ui/Window.h"

namespace sharing {

namespace {
ui::Rect centredFrame() {
    ui::Rect bounds{{0, 0}, {320, 480}};
    if (ui::Window* w = ui::Application::shared()->keyWindow()) bounds = w->frame();
    return {{std::round(bounds.size.width / 2 - 80), std::round(bounds.size.height / 2 - 80)}, {160, 160}};
}

// Labels of the indicator: white, centred, bold, shrinking to fit.
void styleLabel(ui::Label* l, double fontSize) {
    l->setBackgroundColor(ui::Color::colorWithRGBA(0, 0, 0, 0));
    l->setOpaque(false);
    l->setTextColor(ui::Color::colorWithRGBA(1, 1, 1, 1));
    l->setTextAlignment(ui::TextAlignment::Center);
    l->setFont(ui::Font::boldSystemFontOfSize(fontSize));
    l->setAdjustsFontSizeToFitWidth(true);
}
}  // namespace

SHRActivityIndicator::SHRActivityIndicator() : ui::View(centredFrame()) {
    setBackgroundColor(ui::Color::colorWithRGBA(0, 0, 0, 0.5));
    setOpaque(false);
    setAlpha(0);
    setUserInteractionEnabled(false);
    setAutoresizesSubviews(true);
    setAutoresizingMask(ui::AutoresizingFlexibleLeftMargin | ui::AutoresizingFlexibleRightMargin |
                        ui::AutoresizingFlexibleTopMargin | ui::AutoresizingFlexibleBottomMargin);
    setProperRotation(false);
    // The observer goes with the token when the indicator is destroyed.
    // The device posts its notification before the interface has turned, so
    // the status bar orientation is read on the next turn of the main loop.
    orientationToken_ = ns::NotificationCenter::defaultCenter()->addObserver(
        ui::kDeviceOrientationDidChangeNotification, nullptr, [this](const ns::Notification&) {
            ns::Weak<SHRActivityIndicator> weak(this);
            ns::RunLoop::main()->performDeferred([weak] {
                if (auto self = weak.lock()) self->setProperRotation(true);
            });
        });
}

ui::Transform SHRActivityIndicator::rotationForOrientation(int orientation, bool* known) {
    double angle = 0;
    *known = true;
    switch (orientation) {
        case 1: angle = 0; break;
        case 2: angle = M_PI; break;
        case 3: angle = M_PI / 2; break;
        case 4: angle = -M_PI / 2; break;
        default: *known = false; return {};
    }
    if (angle == 0) return ui::Transform::identity();
    double c = std::cos(angle), s = std::sin(angle);
    // Snap the tiny remainders of cos/sin to exact values.
    auto snap = [](double v) { return std::fabs(v) < 1e-12 ? 0.0 : v; };
    return {snap(c), snap(s), snap(-s), snap(c), 0, 0};
}

void SHRActivityIndicator::setProperRotation(bool animated) {
    ui::InterfaceOrientation o = ui::Application::shared()->statusBarOrientation();
    bool known = false;
    ui::Transform t = rotationForOrientation(static_cast<int>(o), &known);
    if (!known) return;
    if (animated) {
        auto self = ns::keepAlive(this);
        ui::View::animate(0.3, [self, t] { self->setTransform(t); });
    } else {
        setTransform(t);
    }
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
        styleLabel(centerMessageLabel_.get(), 40);
        addSubview(centerMessageLabel_);
    }
    centerMessageLabel_->setText(message);
}

void SHRActivityIndicator::setSubMessage(const std::string& message) {
    if (!subMessageLabel_) {
        ui::Rect f = frame();
        subMessageLabel_ = ui::Label::make({{12, f.size.height - 45}, {f.size.width - 24, 30}});
        styleLabel(subMessageLabel_.get(), 17);
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
        if (ui::Window* w = ui::Application::shared()->keyWindow()) w->addSubview(ns::keepAlive(this));
    }
    cancelDelayedHide();
    auto self = ns::keepAlive(this);
    ui::View::animate(0.3, [self] { self->setAlpha(1); });
}

void SHRActivityIndicator::hideAfterDelay() {
    cancelDelayedHide();
    auto self = ns::keepAlive(this);
    hideTimer_ = ns::RunLoop::main()->performAfterDelay(0.6, [self] {
        self->hideTimer_ = nullptr;
        self->hide();
    });
}

void SHRActivityIndicator::hide() {
    auto self = ns::keepAlive(this);
    ui::View::animate(0.4, [self] { self->setAlpha(0); }, [self](bool) { self->hidden(); });
}

void SHRActivityIndicator::hidden() {
    if (alpha() > 0) return;
    removeFromSuperview();
}

void SHRActivityIndicator::persist() {
    cancelDelayedHide();
    auto self = ns::keepAlive(this);
    ui::View::animate(0.1, [self] { self->setAlpha(1); });
}

}  // namespace sharing
