// The card web view that turns touches into gestures. It receives its
// touches from the application window (EventWindow routes touches over a
// page to the window's child, which this view makes itself on creation and
// on setWindowChild) and reports to its gesture delegate:
//  - a one-finger drag more than 100 points sideways, and more sideways than
//    up or down, is a swipe (once per touch sequence);
//  - two fingers are a pinch: each change of their distance by more than
//    5 points is one step, closing or opening; the page does not scroll or
//    zoom meanwhile;
//  - a touch that ends with a tap count of 1 is a tap, unless two fingers
//    were down together since the sequence began (a pinch is never a tap).
#pragma once

#include "platform/foundation/Delegate.h"
#include "platform/ui/WebView.h"

namespace app {

class SwipeableWebView_ipad;

// Every operation is optional; each is sent only when the delegate says it
// answers it.
class SwipeableWebViewDelegate_ipad {
public:
    virtual ~SwipeableWebViewDelegate_ipad() = default;
    virtual void registerTap() {}
    virtual void registerSwipeDirectionMultiTouch(bool toRight, bool multiTouch) {}
    virtual void registerPinchDirection(bool closing) {}

    enum class Optional { RegisterTap, RegisterSwipeDirectionMultiTouch, RegisterPinchDirection };
    virtual bool answers(Optional op) const { return false; }
};

class SwipeableWebView_ipad : public ui::WebView {
public:
    static constexpr double kSwipeMinimum = 100.0;
    static constexpr double kPinchStep = 5.0;

    explicit SwipeableWebView_ipad(ui::Rect frame = {}) : ui::WebView(frame) {}
    const char* className() const override { return "SwipeableWebView_ipad"; }
    // A new view that is already the window's touch child.
    static ns::Ref<SwipeableWebView_ipad> make(ui::Rect frame = {});

    // Makes this view the application window's child / blocks the window's
    // normal delivery of the current event.
    void setWindowChild();
    void setBlockSuperEvent();
    // Distance between the first two touches, in this view's coordinates.
    double getPinchDistance(const ui::TouchSet& touches) const;

    void touchesBegan(const ui::TouchSet& touches, ui::Event* event) override;
    void touchesMoved(const ui::TouchSet& touches, ui::Event* event) override;
    void touchesEnded(const ui::TouchSet& touches, ui::Event* event) override;
    void touchesCancelled(const ui::TouchSet&, ui::Event*) override {}

    SwipeableWebViewDelegate_ipad* swipeDelegate_ipad() const { return swipeDelegate_.get(); }
    void setSwipeDelegate_ipad(SwipeableWebViewDelegate_ipad* d) { swipeDelegate_ = d; }
    ui::Point startTouchPosition() const { return startTouchPosition_; }
    double pinchDistance() const { return pinchDistance_; }

    // The flag shared by every instance: set while two fingers are down or
    // once a swipe was reported; cleared by a new touch that is not two
    // fingers. A launch clears it (resetSharedFlag).
    static bool swipeBlocked();
    static void resetSharedFlag();

private:
    ui::Point startTouchPosition_;
    double pinchDistance_ = 0;
    bool pinchSequence_ = false;  // two fingers were down in this touch sequence
    ns::WeakDelegate<SwipeableWebViewDelegate_ipad> swipeDelegate_;
};

}  // namespace app
