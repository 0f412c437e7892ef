// The progress overlay: a dark rounded box laid over a view (or a window)
// with an activity indicator, a round progress indicator or a custom view,
// an optional label and details label, optionally dimming what is around it.
//
// It fades (or zooms) in and out over 0.30 s on the main run loop's clock,
// can wait a grace time before showing (only for tasks it runs itself),
// stays at least `minShowTime` once shown, can hide itself after a delay, and
// can run a task on a thread of its own while it shows.
//
// Threads: setMode, setLabelText, setDetailsLabelText and setProgress may be
// called from any thread; the screen work they cause is done on the main
// thread. Everything else belongs to the main thread.
#pragma once

#include <atomic>
#include <cmath>
#include <functional>
#include <mutex>
#include <string>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/Timer.h"
#include "platform/foundation/Delegate.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

namespace ui { class Window; }

namespace app {

class ProgressHUD;

enum ProgressHUDMode : int {
    ProgressHUDModeIndeterminate = 0,  // activity indicator
    ProgressHUDModeDeterminate = 1,    // RoundProgressView
    ProgressHUDModeCustomView = 2,     // customView()
};

enum ProgressHUDAnimation : int {
    ProgressHUDAnimationFade = 0,
    ProgressHUDAnimationZoom = 1,
};

// Told when an overlay has finished hiding. Of the two operations only the
// one the delegate answers is sent, the one with the overlay first.
class ProgressHUDDelegate {
public:
    enum class Optional { HudWasHiddenWithHUD, HudWasHidden };
    virtual ~ProgressHUDDelegate() = default;
    virtual bool answers(Optional op) const { return false; }
    virtual void hudWasHidden(ProgressHUD* hud) {}
    virtual void hudWasHidden() {}
};

// The determinate indicator: a white ring with a pie filled to `progress`.
class RoundProgressView : public ui::View {
public:
    RoundProgressView();  // 37 by 37 points
    explicit RoundProgressView(ui::Rect frame);
    const char* className() const override { return "RoundProgressView"; }

    float progress() const { return progress_; }
    // Stores the value (0 to 1) and asks for a redraw.
    void setProgress(float p);
    void drawRect(ui::Rect r) override;

private:
    float progress_ = 0;
};

class ProgressHUD : public ui::View, public ui::AnimationDelegate {
public:
    static constexpr const char* kViewIsNilException = "ProgressHUDViewIsNillException";
    static constexpr const char* kViewIsNilReason = "The view used in the ProgressHUD initializer is nil.";
    static constexpr double kAnimationDuration = 0.30;
    static constexpr double kPadding = 4.0;

    // An overlay of `frame`, hidden (alpha 0), in the indeterminate mode.
    explicit ProgressHUD(ui::Rect frame);
    ~ProgressHUD() override;
    const char* className() const override { return "ProgressHUD"; }

    // An overlay covering `view` (its bounds); a nil view raises
    // "ProgressHUDViewIsNillException". Over a window the overlay turns with
    // the status bar. Either way it follows device orientation changes until
    // it is removed from its superview.
    static ns::Ref<ProgressHUD> initWithView(ui::View* view);
    static ns::Ref<ProgressHUD> initWithWindow(ui::Window* window);

    // Makes an overlay for `view`, adds it and shows it.
    static ns::Ref<ProgressHUD> showHUDAddedTo(ui::View* view, bool animated);
    // Hides (and then removes) the last overlay among `view`'s subviews;
    // false when there is none.
    static bool hideHUDForView(ui::View* view, bool animated);

    // -- Showing and hiding ------------------------------------------------
    // With a grace time the box shows only when the grace timer finds a task
    // of the overlay's own still running; otherwise at once.
    void show(bool animated);
    // Hides now, or once `minShowTime` has passed since the box showed.
    void hide(bool animated);
    // Hides after `delay` seconds on the main run loop; the run loop keeps
    // the overlay alive until then.
    void hideAfterDelay(bool animated, double delay);
    void hideDelayed(ns::Number* animated);

    // Runs `task(object)` on a new thread, shows the overlay meanwhile and
    // hides it (on the main thread) when the task returns. The target and
    // the object are held until then.
    void showWhileExecuting(std::function<void(ns::Object*)> task, ns::Ref<ns::Object> target,
                            ns::Ref<ns::Object> object, bool animated);
    template <class T>
    void showWhileExecuting(void (T::*method)(ns::Object*), T* target, ns::Object* object, bool animated) {
        ns::Ref<T> keep(target);
        showWhileExecuting([keep, method](ns::Object* o) { (keep.get()->*method)(o); },
                           ns::Ref<ns::Object>(target), ns::Ref<ns::Object>(object), animated);
    }

    // -- Properties that reach the screen (any thread) ------------------------
    int mode() const { return mode_.load(); }
    void setMode(int m);
    std::string labelText() const;
    void setLabelText(const std::string& text);
    std::string detailsLabelText() const;
    void setDetailsLabelText(const std::string& text);
    float progress() const { return progress_.load(); }
    void setProgress(float p);

    // -- Plain properties (main thread) -------------------------------------
    int animationType() const { return animationType_; }
    void setAnimationType(int t) { animationType_ = t; }
    ProgressHUDDelegate* delegate() const { return delegate_.get(); }
    void setDelegate(ProgressHUDDelegate* d) { delegate_ = d; }
    float opacity() const { return opacity_; }
    void setOpacity(float o) { opacity_ = o; }
    const ns::Ref<ui::Font>& labelFont() const { return labelFont_; }
    void setLabelFont(ns::Ref<ui::Font> f) { labelFont_ = std::move(f); }
    const ns::Ref<ui::Font>& detailsLabelFont() const { return detailsLabelFont_; }
    void setDetailsLabelFont(ns::Ref<ui::Font> f) { detailsLabelFont_ = std::move(f); }
    float width() const { return width_; }
    float height() const { return height_; }
    float xOffset() const { return xOffset_; }
    void setXOffset(float x) { xOffset_ = x; }
    float yOffset() const { return yOffset_; }
    void setYOffset(float y) { yOffset_ = y; }
    float margin() const { return margin_; }
    void setMargin(float m) { margin_ = m; }
    ui::Size minSize() const { return minSize_; }
    void setMinSize(ui::Size s) { minSize_ = s; }
    bool isSquare() const { return square_; }
    void setSquare(bool b) { square_ = b; }
    bool dimBackground() const { return dimBackground_; }
    void setDimBackground(bool b) { dimBackground_ = b; }
    float graceTime() const { return graceTime_; }
    void setGraceTime(float t) { graceTime_ = t; }
    float minShowTime() const { return minShowTime_; }
    void setMinShowTime(float t) { minShowTime_ = t; }
    ns::Timer* graceTimer() const { return graceTimer_.get(); }
    ns::Timer* minShowTimer() const { return minShowTimer_.get(); }
    bool taskInProgress() const { return taskInProgress_; }
    // When the box became visible, on the main run loop's clock; NaN before.
    double showStarted() const { return showStarted_; }
    bool removeFromSuperViewOnHide() const { return removeOnHide_; }
    void setRemoveFromSuperViewOnHide(bool b) { removeOnHide_ = b; }
    ui::View* customView() const { return customView_.get(); }
    void setCustomView(ns::Ref<ui::View> v) { customView_ = std::move(v); }
    ui::View* indicator() const { return indicator_.get(); }
    bool useAnimation() const { return useAnimation_; }
    bool isFinished() const { return isFinished_; }
    ui::Transform rotationTransform() const { return rotationTransform_; }
    ui::Label* label() const { return label_.get(); }
    ui::Label* detailsLabel() const { return detailsLabel_.get(); }

    // -- Orientation ---------------------------------------------------------
    void setTransformForCurrentOrientation(bool animated);
    void deviceOrientationDidChange(const ns::Notification& n);

    // -- Screen work (main thread) -------------------------------------------
    void updateIndicators();
    void updateLabelText(const std::string& text);
    void updateDetailsLabelText(const std::string& text);
    void updateProgress();
    void layoutSubviews() override;
    void drawRect(ui::Rect r) override;
    void animationDidStop(const std::string& animationID, bool finished, ns::Object* context) override;
    void willMoveToSuperview(ui::View* newSuperview) override;

private:
    void handleGraceTimer();
    void handleMinShowTimer();
    void showUsingAnimation(bool animated);
    void hideUsingAnimation(bool animated);
    void done();
    void cleanUp();
    // Runs fn now on the main thread, else queues it there without waiting
    // (holding the overlay until it has run).
    void onMainThread(std::function<void(ProgressHUD&)> fn);

    std::atomic<int> mode_{0};
    std::atomic<float> progress_{0};
    mutable std::mutex textMutex_;
    std::string labelText_, detailsLabelText_;

    int animationType_ = ProgressHUDAnimationFade;
    ns::WeakDelegate<ProgressHUDDelegate> delegate_;
    float opacity_ = 0.8f;
    ns::Ref<ui::Font> labelFont_, detailsLabelFont_;
    float width_ = 0, height_ = 0, xOffset_ = 0, yOffset_ = 0, margin_ = 20.0f;
    ui::Size minSize_{};
    bool square_ = false, dimBackground_ = false;
    float graceTime_ = 0, minShowTime_ = 0;
    ns::Ref<ns::Timer> graceTimer_, minShowTimer_;
    bool taskInProgress_ = false;
    double showStarted_ = NAN;
    bool removeOnHide_ = false;
    ns::Ref<ui::View> customView_, indicator_;
    ns::Ref<ui::Label> label_, detailsLabel_;
    bool useAnimation_ = false, isFinished_ = false;
    ns::Ref<ns::Object> taskTarget_, taskObject_;
    ui::Transform rotationTransform_{};
    ns::ObserverToken orientationObserver_;
};

}  // namespace app
