#include "app/widgets/ProgressHUD.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/Exception.h"
#include "platform/foundation/Foundation.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/ui/Application.h"
#include "platform/ui/Graphics.h"
#include "platform/ui/Window.h"

namespace app {

namespace {

// A rotation by `radians` (single precision, as the status bar angles are).
ui::Transform rotation(float radians) {
    float c = std::cos(radians), s = std::sin(radians);
    // Snap the tiny remainders of cos/sin at right angles to exact values.
    auto snap = [](float v) { return std::fabs(v) < 1e-6f ? 0.0f : v; };
    return {snap(c), snap(s), snap(-s), snap(c), 0, 0};
}

ui::Transform scaled(ui::Transform t, double k) {
    return {t.a * k, t.b * k, t.c * k, t.d * k, t.tx * k, t.ty * k};
}

// The look of the HUD's two labels: centred white text in `font` on a clear
// background.
void styleLabel(ui::Label& label, const ns::Ref<ui::Font>& font) {
    label.setFont(font);
    label.setAdjustsFontSizeToFitWidth(false);
    label.setTextAlignment(ui::TextAlignment::Center);
    label.setOpaque(false);
    label.setBackgroundColor(ui::Color::clear());
    label.setTextColor(ui::Color::white());
}

}  // namespace

// -- RoundProgressView -----------------------------------------------------------------

RoundProgressView::RoundProgressView() : RoundProgressView(ui::makeRect(0, 0, 37, 37)) {}

RoundProgressView::RoundProgressView(ui::Rect frame) : ui::View(frame) {
    setOpaque(false);
    setBackgroundColor(ui::Color::clear());
}

void RoundProgressView::setProgress(float p) {
    progress_ = p;
    setNeedsDisplay();
}

void RoundProgressView::drawRect(ui::Rect) {
    auto* g = ui::GraphicsContext::current();
    if (!g) return;
    ui::Rect all = bounds();
    ui::Rect circle = ui::makeRect(all.x() + 2, all.y() + 2, all.width() - 4, all.height() - 4);
    g->setStrokeColor(1, 1, 1, 1);
    g->setFillColor(1, 1, 1, 0.1);
    g->setLineWidth(2);
    g->fillEllipseInRect(circle);
    g->strokeEllipseInRect(circle);
    ui::Point center{all.width() / 2, all.height() / 2};
    double radius = (all.width() - 4) / 2;
    double start = -M_PI / 2;
    double end = progress_ * 2 * M_PI - M_PI / 2;
    g->setFillColor(1, 1, 1, 1);
    g->beginPath();
    g->moveToPoint(center);
    g->addArc(center, radius, start, end, true);
    g->closePath();
    g->fillPath();
}

// -- ProgressHUD: making ----------------------------------------------------------------

ProgressHUD::ProgressHUD(ui::Rect frame) : ui::View(frame) {
    labelFont_ = ui::Font::boldSystemFontOfSize(16);
    detailsLabelFont_ = ui::Font::boldSystemFontOfSize(12);
    label_ = ui::Label::make(bounds());
    detailsLabel_ = ui::Label::make(bounds());
    setAutoresizingMask(ui::AutoresizingFlexibleLeftMargin | ui::AutoresizingFlexibleRightMargin |
                        ui::AutoresizingFlexibleTopMargin | ui::AutoresizingFlexibleBottomMargin);
    setOpaque(false);
    setBackgroundColor(ui::Color::clear());
    setAlpha(0);
    setCoverName("the progress box");
    // Mode 0: the activity indicator. The overlay is still being made (no
    // reference to it may be taken yet), so this is done directly.
    mode_ = ProgressHUDModeIndeterminate;
    updateIndicators();
}

ProgressHUD::~ProgressHUD() {
    if (graceTimer_) graceTimer_->invalidate();
    if (minShowTimer_) minShowTimer_->invalidate();
}

ns::Ref<ProgressHUD> ProgressHUD::initWithView(ui::View* view) {
    if (!view) throw ns::Exception(kViewIsNilException, kViewIsNilReason);
    auto hud = ns::make<ProgressHUD>(view->bounds());
    if (dynamic_cast<ui::Window*>(view)) hud->setTransformForCurrentOrientation(false);
    ns::Weak<ProgressHUD> weak(hud);
    hud->orientationObserver_ = ns::NotificationCenter::defaultCenter()->addObserver(
        ui::kDeviceOrientationDidChangeNotification, nullptr, [weak](const ns::Notification& n) {
            if (auto self = weak.lock()) self->deviceOrientationDidChange(n);
        });
    return hud;
}

ns::Ref<ProgressHUD> ProgressHUD::initWithWindow(ui::Window* window) { return initWithView(window); }

ns::Ref<ProgressHUD> ProgressHUD::showHUDAddedTo(ui::View* view, bool animated) {
    auto hud = initWithView(view);
    view->addSubview(hud);
    hud->show(animated);
    return hud;
}

bool ProgressHUD::hideHUDForView(ui::View* view, bool animated) {
    if (!view) return false;
    ns::Ref<ProgressHUD> last;
    for (const auto& v : view->subviews())
        if (auto* h = dynamic_cast<ProgressHUD*>(v.get())) last = ns::Ref<ProgressHUD>(h);
    if (!last) return false;
    last->setRemoveFromSuperViewOnHide(true);
    last->hide(animated);
    return true;
}

void ProgressHUD::willMoveToSuperview(ui::View* newSuperview) {
    // Leaving its superview ends the overlay's interest in orientation.
    if (!newSuperview) orientationObserver_.reset();
}

void ProgressHUD::onMainThread(std::function<void(ProgressHUD&)> fn) {
    if (ns::RunLoop::isMainThread()) {
        auto keep = ns::keepAlive(this);
        fn(*this);
        return;
    }
    auto self = ns::keepAlive(this);
    ns::performOnMainThread([self, fn = std::move(fn)] { fn(*self); }, false);
}

// -- Properties that reach the screen -----------------------------------------------------------

void ProgressHUD::setMode(int m) {
    int current = mode_.load();
    // Mode 0 is rebuilt every time it is set (a fresh, running indicator).
    if (m == current && current != ProgressHUDModeIndeterminate) return;
    mode_.store(m);
    onMainThread([](ProgressHUD& h) {
        h.updateIndicators();
        h.setNeedsLayout();
        h.setNeedsDisplay();
    });
}

std::string ProgressHUD::labelText() const {
    std::lock_guard<std::mutex> lock(textMutex_);
    return labelText_;
}

std::string ProgressHUD::detailsLabelText() const {
    std::lock_guard<std::mutex> lock(textMutex_);
    return detailsLabelText_;
}

void ProgressHUD::setLabelText(const std::string& text) {
    onMainThread([text](ProgressHUD& h) {
        h.updateLabelText(text);
        h.setNeedsLayout();
        h.setNeedsDisplay();
    });
}

void ProgressHUD::setDetailsLabelText(const std::string& text) {
    onMainThread([text](ProgressHUD& h) {
        h.updateDetailsLabelText(text);
        h.setNeedsLayout();
        h.setNeedsDisplay();
    });
}

void ProgressHUD::setProgress(float p) {
    progress_.store(p);
    if (mode_.load() != ProgressHUDModeDeterminate) return;
    onMainThread([](ProgressHUD& h) {
        h.updateProgress();
        h.setNeedsDisplay();
    });
}

void ProgressHUD::updateLabelText(const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(textMutex_);
        labelText_ = text;
    }
    // What a person calls the box when it lies over a button.
    setCoverName(text.empty() ? std::string("the progress box") : "the \"" + text + "\" box");
}

void ProgressHUD::updateDetailsLabelText(const std::string& text) {
    std::lock_guard<std::mutex> lock(textMutex_);
    detailsLabelText_ = text;
}

void ProgressHUD::updateProgress() {
    if (auto* round = dynamic_cast<RoundProgressView*>(indicator_.get())) round->setProgress(progress_.load());
}

void ProgressHUD::updateIndicators() {
    if (indicator_) indicator_->removeFromSuperview();
    int m = mode_.load();
    if (m == ProgressHUDModeCustomView && customView_) {
        indicator_ = customView_;
    } else if (m == ProgressHUDModeDeterminate) {
        auto round = ns::make<RoundProgressView>();
        round->setProgress(progress_.load());
        indicator_ = round;
    } else {
        auto spinner = ns::make<ui::ActivityIndicatorView>(ui::ActivityIndicatorView::Style::WhiteLarge);
        spinner->startAnimating();
        indicator_ = spinner;
    }
    addSubview(indicator_);
}

// -- Layout and drawing -------------------------------------------------------------------------

void ProgressHUD::layoutSubviews() {
    ui::Rect frame = bounds();
    const double m = margin_;
    ui::Rect ind = indicator_ ? indicator_->bounds() : ui::Rect{};
    double w = ind.width() + 2 * m;
    double h = ind.height() + 2 * m;
    ind.origin.x = std::floor((frame.width() - ind.width()) / 2) + xOffset_;
    ind.origin.y = std::floor((frame.height() - ind.height()) / 2) + yOffset_;
    if (indicator_) indicator_->setFrame(ind);

    std::string text = labelText(), details = detailsLabelText();
    if (text.empty()) {
        label_->removeFromSuperview();
        detailsLabel_->removeFromSuperview();
    } else {
        ui::Size dims = ui::textSize(text, labelFont_.get());
        double lw = std::min(dims.width, frame.width() - 4 * m);
        double lh = dims.height;
        styleLabel(*label_, labelFont_);
        label_->setText(text);
        if (w < lw + 2 * m) w = lw + 2 * m;
        h += lh + kPadding;
        ind.origin.y -= std::floor(lh / 2 + kPadding / 2);
        if (indicator_) indicator_->setFrame(ind);
        ui::Rect lf = ui::makeRect(std::floor((frame.width() - lw) / 2) + xOffset_,
                                   std::floor(ind.maxY() + kPadding), lw, lh);
        label_->setFrame(lf);
        if (label_->superview() != this) addSubview(label_);

        if (details.empty()) {
            detailsLabel_->removeFromSuperview();
        } else {
            styleLabel(*detailsLabel_, detailsLabelFont_);
            detailsLabel_->setNumberOfLines(0);
            detailsLabel_->setText(details);
            // At least one line high: a zero height would mean "no limit".
            ui::Size max{frame.width() - 4 * m, std::max(1.0, frame.height() - h - 2 * m)};
            ui::Size ds = ui::textSizeConstrained(details, detailsLabelFont_.get(), max, label_->lineBreakMode());
            double dw = ds.width, dh = ds.height;
            // The box keeps its margin on both sides of the details text, as
            // it does for the label.
            if (w < dw + 2 * m) w = dw + 2 * m;
            h += dh + kPadding;
            ind.origin.y -= std::floor(dh / 2 + kPadding / 2);
            if (indicator_) indicator_->setFrame(ind);
            lf.origin.y -= std::floor(dh / 2 + kPadding / 2);
            label_->setFrame(lf);
            ui::Rect df = ui::makeRect(std::floor((frame.width() - dw) / 2) + xOffset_, lf.maxY() + kPadding, dw, dh);
            detailsLabel_->setFrame(df);
            if (detailsLabel_->superview() != this) addSubview(detailsLabel_);
        }
    }

    if (square_) {
        double mx = std::max(w, h);
        if (mx <= frame.width() - 2 * m) w = mx;
        if (mx <= frame.height() - 2 * m) h = mx;
    }
    if (w < minSize_.width) w = minSize_.width;
    if (h < minSize_.height) h = minSize_.height;
    width_ = static_cast<float>(w);
    height_ = static_cast<float>(h);
}

void ProgressHUD::drawRect(ui::Rect) {
    auto* g = ui::GraphicsContext::current();
    if (!g) return;
    ui::Rect b = bounds();
    if (dimBackground_) {
        ui::Point c{b.width() / 2, b.height() / 2};
        g->drawRadialGradient({ui::Color::colorWithRGBA(0, 0, 0, 0), ui::Color::colorWithRGBA(0, 0, 0, 0.75)},
                              {0, 1}, c, 0, c, std::min(b.width(), b.height()), true);
    }
    ui::Rect box = ui::makeRect(std::round((b.width() - width_) / 2) + xOffset_,
                                std::round((b.height() - height_) / 2) + yOffset_, width_, height_);
    const double r = 10;
    g->beginPath();
    g->setGrayFillColor(0, opacity_);
    g->moveToPoint({box.minX() + r, box.minY()});
    g->addArc({box.maxX() - r, box.minY() + r}, r, -M_PI / 2, 0, true);
    g->addArc({box.maxX() - r, box.maxY() - r}, r, 0, M_PI / 2, true);
    g->addArc({box.minX() + r, box.maxY() - r}, r, M_PI / 2, M_PI, true);
    g->addArc({box.minX() + r, box.minY() + r}, r, M_PI, 3 * M_PI / 2, true);
    g->closePath();
    g->fillPath();
}

// -- Showing and hiding -------------------------------------------------------------------------

void ProgressHUD::show(bool animated) {
    useAnimation_ = animated;
    if (graceTime_ > 0) {
        if (graceTimer_) graceTimer_->invalidate();
        ns::Weak<ProgressHUD> weak(this);
        graceTimer_ = ns::Timer::scheduledTimer(graceTime_, false, [weak] {
            if (auto self = weak.lock()) self->handleGraceTimer();
        });
    } else {
        setNeedsDisplay();
        showUsingAnimation(useAnimation_);
    }
}

void ProgressHUD::handleGraceTimer() {
    // The grace time applies to tasks run by the overlay: shown only if the
    // task is still going.
    if (taskInProgress_) {
        setNeedsDisplay();
        showUsingAnimation(useAnimation_);
    }
}

void ProgressHUD::showUsingAnimation(bool animated) {
    setAlpha(0);
    if (animated) {
        if (animationType_ == ProgressHUDAnimationZoom) setTransform(scaled(rotationTransform_, 1.5));
        showStarted_ = ns::RunLoop::main()->now();
        ui::View::animate(kAnimationDuration, [this] {
            setAlpha(1.0);
            if (animationType_ == ProgressHUDAnimationZoom) setTransform(rotationTransform_);
        });
    } else {
        showStarted_ = ns::RunLoop::main()->now();
        setAlpha(1.0);
    }
}

void ProgressHUD::hide(bool animated) {
    useAnimation_ = animated;
    if (minShowTime_ > 0 && !std::isnan(showStarted_)) {
        double shown = ns::RunLoop::main()->now() - showStarted_;
        if (shown < minShowTime_) {
            if (minShowTimer_) minShowTimer_->invalidate();
            ns::Weak<ProgressHUD> weak(this);
            minShowTimer_ = ns::Timer::scheduledTimer(minShowTime_ - shown, false, [weak] {
                if (auto self = weak.lock()) self->handleMinShowTimer();
            });
            return;
        }
    }
    hideUsingAnimation(useAnimation_);
}

void ProgressHUD::handleMinShowTimer() { hideUsingAnimation(useAnimation_); }

void ProgressHUD::hideAfterDelay(bool animated, double delay) {
    auto self = ns::keepAlive(this);
    ns::RunLoop::main()->performAfterDelay(delay, [self, animated] { self->hideDelayed(ns::boolean(animated).get()); });
}

void ProgressHUD::hideDelayed(ns::Number* animated) { hide(animated && animated->boolValue()); }

void ProgressHUD::hideUsingAnimation(bool animated) {
    if (animated) {
        ui::View::beginAnimations();
        ui::View::setAnimationDuration(kAnimationDuration);
        ui::View::setAnimationDelegate(this);
        if (animationType_ == ProgressHUDAnimationZoom) setTransform(scaled(rotationTransform_, 0.5));
        setAlpha(0.02);
        ui::View::commitAnimations();
    } else {
        setAlpha(0);
        done();
    }
}

void ProgressHUD::animationDidStop(const std::string&, bool, ns::Object*) { done(); }

void ProgressHUD::done() {
    auto keep = ns::keepAlive(this);
    isFinished_ = true;
    setAlpha(0);
    if (auto d = delegate_.lock()) {
        if (d->answers(ProgressHUDDelegate::Optional::HudWasHiddenWithHUD)) d->hudWasHidden(this);
        else if (d->answers(ProgressHUDDelegate::Optional::HudWasHidden)) d->hudWasHidden();
    }
    if (removeOnHide_) removeFromSuperview();
}

// -- Running a task -----------------------------------------------------------------------------

void ProgressHUD::showWhileExecuting(std::function<void(ns::Object*)> task, ns::Ref<ns::Object> target,
                                     ns::Ref<ns::Object> object, bool animated) {
    taskTarget_ = target;
    taskObject_ = object;
    taskInProgress_ = true;
    auto self = ns::keepAlive(this);
    // The thread works on its own copies; the overlay is handed back to the
    // main thread with the clean-up, so it is never released off it.
    ns::Thread::detachNewThread([self, task = std::move(task), object]() mutable {
        if (task) task(object.get());
        task = nullptr;
        object = nullptr;
        ns::performOnMainThread([self = std::move(self)] { self->cleanUp(); }, false);
    });
    show(animated);
}

void ProgressHUD::cleanUp() {
    taskInProgress_ = false;
    // The indicator stays the current one, so a later mode change still
    // replaces it rather than leaving it behind on the box.
    taskTarget_ = nullptr;
    taskObject_ = nullptr;
    hide(useAnimation_);
}

// -- Orientation ----------------------------------------------------------------------------------

void ProgressHUD::setTransformForCurrentOrientation(bool animated) {
    ui::InterfaceOrientation o = ui::Application::shared()->statusBarOrientation();
    if (auto* s = superview()) {
        setBounds(s->bounds());
        setNeedsDisplay();
    }
    float degrees = 0;
    if (ui::isLandscape(o)) {
        degrees = o == ui::InterfaceOrientation::LandscapeRight ? 90 : -90;
        // Landscape bounds. The window of this interface takes the landscape
        // shape itself, so its bounds may be landscape already; swapping them
        // again would give a portrait box on a landscape screen.
        ui::Rect b = bounds();
        setBounds(ui::makeRect(0, 0, std::max(b.width(), b.height()), std::min(b.width(), b.height())));
    } else if (o == ui::InterfaceOrientation::PortraitUpsideDown) {
        degrees = 180;
    }
    rotationTransform_ = rotation(static_cast<float>(degrees * static_cast<float>(M_PI) / 180.0f));
    if (animated) {
        ui::View::beginAnimations();
        setTransform(rotationTransform_);
        ui::View::commitAnimations();
    } else {
        setTransform(rotationTransform_);
    }
}

void ProgressHUD::deviceOrientationDidChange(const ns::Notification&) {
    ui::View* s = superview();
    if (!s) return;
    if (dynamic_cast<ui::Window*>(s)) {
        // The device tells of its turn before the interface (and so the
        // status bar) has turned; read the status bar once it has.
        ns::Weak<ProgressHUD> weak(this);
        ns::RunLoop::main()->performDeferred([weak] {
            auto self = weak.lock();
            if (self && dynamic_cast<ui::Window*>(self->superview())) self->setTransformForCurrentOrientation(true);
        });
    } else {
        setBounds(s->bounds());
        setNeedsDisplay();
    }
}

}  // namespace app
