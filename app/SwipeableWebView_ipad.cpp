#include "app/SwipeableWebView_ipad.h"

#include <algorithm>
#include <cmath>

#include "app/AppDelegate.h"
#include "platform/ui/Responder.h"

namespace app {

namespace {
bool gSharedFlag = false;  // main thread only, like all touch handling
using Opt = SwipeableWebViewDelegate_ipad::Optional;
}  // namespace

bool SwipeableWebView_ipad::swipeBlocked() { return gSharedFlag; }
void SwipeableWebView_ipad::resetSharedFlag() { gSharedFlag = false; }

ns::Ref<SwipeableWebView_ipad> SwipeableWebView_ipad::make(ui::Rect frame) {
    auto v = ns::make<SwipeableWebView_ipad>(frame);
    v->setWindowChild();
    return v;
}

void SwipeableWebView_ipad::setWindowChild() {
    if (AppDelegate* d = AppDelegate::shared())
        if (EventWindow* w = d->window()) w->setChild(this);
}

void SwipeableWebView_ipad::setBlockSuperEvent() {
    if (AppDelegate* d = AppDelegate::shared())
        if (EventWindow* w = d->window()) w->setBlockSuperEvent(true);
}

double SwipeableWebView_ipad::getPinchDistance(const ui::TouchSet& touches) const {
    if (touches.size() < 2) return 0;
    ui::Point a = touches[0]->locationInView(this), b = touches[1]->locationInView(this);
    float dx = std::fabs(static_cast<float>(a.x - b.x));
    float dy = std::fabs(static_cast<float>(a.y - b.y));
    return std::sqrt(dx * dx + dy * dy);
}

void SwipeableWebView_ipad::touchesBegan(const ui::TouchSet& touches, ui::Event* event) {
    const ui::TouchSet& all = event ? event->allTouches() : touches;
    // A new sequence starts when no finger was down before these.
    bool fresh = std::all_of(all.begin(), all.end(), [](auto& t) { return t->phase() == ui::TouchPhase::Began; });
    if (fresh) pinchSequence_ = false;
    if (all.size() != 2) {
        if (ui::Touch* t = ui::anyTouch(touches)) startTouchPosition_ = t->locationInView(this);
        gSharedFlag = false;
    } else {
        gSharedFlag = true;
        pinchSequence_ = true;
        pinchDistance_ = getPinchDistance(all);
        setBlockSuperEvent();
    }
}

void SwipeableWebView_ipad::touchesMoved(const ui::TouchSet& touches, ui::Event* event) {
    auto keep = ns::keepAlive(this);
    const ui::TouchSet& all = event ? event->allTouches() : touches;
    if (all.size() != 2) {
        ui::Touch* t = ui::anyTouch(touches);
        if (!t) return;
        ui::Point p = t->locationInView(this);
        double h = std::fabs(startTouchPosition_.x - p.x) + 0.1;
        double v = std::fabs(startTouchPosition_.y - p.y) + 0.1;
        if (h > kSwipeMinimum && h / v > 1.0 && !gSharedFlag) {
            if (auto d = swipeDelegate_.lock(); d && d->answers(Opt::RegisterSwipeDirectionMultiTouch))
                d->registerSwipeDirectionMultiTouch(startTouchPosition_.x < p.x, false);
            gSharedFlag = true;
        }
        return;
    }
    setBlockSuperEvent();
    double d = getPinchDistance(all);
    if (std::fabs(d - pinchDistance_) > kPinchStep) {
        if (pinchDistance_ != 0) {
            if (auto del = swipeDelegate_.lock(); del && del->answers(Opt::RegisterPinchDirection))
                del->registerPinchDirection(d < pinchDistance_);
        }
        pinchDistance_ = d;
    }
}

void SwipeableWebView_ipad::touchesEnded(const ui::TouchSet& touches, ui::Event* event) {
    auto keep = ns::keepAlive(this);
    const ui::TouchSet& all = event ? event->allTouches() : touches;
    if (all.size() <= 2) pinchDistance_ = 0;
    // The fingers of a pinch keep their tap count of 1 while they move, so
    // a sequence that had two fingers down is never a tap, however its
    // fingers lift: a pinch changes the text size and nothing else.
    if (pinchSequence_) return;
    if (ui::Touch* t = ui::anyTouch(all); t && t->tapCount() == 1) {
        if (auto d = swipeDelegate_.lock(); d && d->answers(Opt::RegisterTap)) d->registerTap();
    }
}

}  // namespace app
