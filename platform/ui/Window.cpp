#include "platform/ui/Window.h"
#include "platform/foundation/Delegate.h"

#include <algorithm>

#include "platform/foundation/RunLoop.h"
#include "platform/ui/Application.h"

namespace ui {

// One display pass per run-loop turn, for every visible window.
void scheduleDisplayPass() {
    static bool scheduled = false;  // main thread only
    if (scheduled) return;
    scheduled = true;
    ns::RunLoop::main()->performDeferred([] {
        scheduled = false;
        auto windows = Application::shared()->windows();
        for (auto& w : windows)
            if (w->isVisible()) w->displayIfNeeded();
    });
}

Window::Window(Rect frame) : View(frame) {}
Window::~Window() = default;

Responder* Window::nextResponder() const { return Application::shared(); }

void Window::setRootViewController(ns::Ref<ViewController> vc) {
    if (vc == root_) return;
    auto keep = ns::keepAlive(this);
    ns::Ref<ViewController> old = root_;
    bool shown = visible_;
    if (old && shown) old->beginAppearanceTransition(false, false);
    if (vc && shown) vc->beginAppearanceTransition(true, false);
    if (old && old->isViewLoaded() && old->view()->superview() == this) old->view()->removeFromSuperview();
    root_ = vc;
    if (vc) {
        vc->setInterfaceOrientationQuietly(old ? old->interfaceOrientation() : vc->interfaceOrientation());
        View* v = vc->view();
        v->setFrame(boundsForOrientation(vc->interfaceOrientation()));
        v->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
        insertSubviewAtIndex(ns::Ref<View>(v), 0);
    }
    if (old && shown) old->endAppearanceTransition();
    if (vc && shown) vc->endAppearanceTransition();
}

void Window::makeKeyWindow() { Application::shared()->windowBecameKey(this); }

void Window::makeKeyAndVisible() {
    auto keep = ns::keepAlive(this);
    makeKeyWindow();
    Application::shared()->windowBecameVisible(this);
    if (visible_) return;
    visible_ = true;
    setNeedsDisplay();
    if (root_) {
        root_->beginAppearanceTransition(true, false);
        root_->endAppearanceTransition();
    }
}

bool Window::isKeyWindow() const { return Application::shared()->keyWindow() == this; }

void Window::sendEvent(Event* event) {
    if (!event) return;
    ns::Ref<Event> keepEvent(event);
    auto keep = ns::keepAlive(this);
    // Views in the order their first touch appears.
    std::vector<ns::Ref<View>> views;
    for (auto& t : event->allTouches()) {
        View* v = t->view();
        if (v && std::none_of(views.begin(), views.end(), [&](auto& x) { return x.get() == v; }))
            views.push_back(ns::Ref<View>(v));
    }
    TouchSet cancelledHere;  // lifted from a view that had left the screen: told once, as cancelled
    for (TouchPhase phase : {TouchPhase::Began, TouchPhase::Moved, TouchPhase::Ended, TouchPhase::Cancelled}) {
        for (auto& v : views) {
            TouchSet set;
            for (auto& t : event->allTouches())
                if (t->view() == v.get() && t->phase() == phase &&
                    std::find(cancelledHere.begin(), cancelledHere.end(), t) == cancelledHere.end())
                    set.push_back(t);
            if (set.empty()) continue;
            // Lifted from a view that an earlier touch of this event took
            // off the screen (a composer that came up over it, a screen
            // popped): the touch is cancelled there, so it does not act on
            // a screen the user no longer sees.
            if (phase == TouchPhase::Ended && v->window() != this) {
                for (auto& t : set) {
                    t->setPhase(TouchPhase::Cancelled);
                    cancelledHere.push_back(t);
                }
                v->touchesCancelled(set, event);
                continue;
            }
            switch (phase) {
                case TouchPhase::Began: v->touchesBegan(set, event); break;
                case TouchPhase::Moved: v->touchesMoved(set, event); break;
                case TouchPhase::Ended: v->touchesEnded(set, event); break;
                case TouchPhase::Cancelled: v->touchesCancelled(set, event); break;
                default: break;
            }
        }
    }
}

ViewController* Window::topViewController() const {
    return root_ ? root_->topPresentedViewController() : nullptr;
}

View* Window::modalLayer() const {
    ViewController* top = topViewController();
    if (!top || top == root_.get() || !top->isViewLoaded()) return nullptr;
    View* v = top->view();
    return v->superview() == this ? v : nullptr;
}

View* Window::hitTest(Point p, Event* event) {
    View* layer = modalLayer();
    if (!layer) return View::hitTest(p, event);
    if (isHidden() || !isUserInteractionEnabled() || !pointInside(p, event)) return nullptr;
    const auto subs = subviews();  // a copy, as View::hitTest walks one
    for (size_t i = subs.size(); i-- > 0;) {
        View* s = subs[i].get();
        if (View* hit = s->hitTest(s->convertPointFromView(p, this), event)) return hit;
        if (s == layer) break;
    }
    return this;
}

ViewController* Window::rotationController() const {
    ViewController* c = root_.get();
    for (ViewController* p = c; p && p->presentedViewController();) {
        p = p->presentedViewController();
        if (p->coversScreen()) c = p;
    }
    return c;
}

Rect Window::boundsForOrientation(InterfaceOrientation o) const {
    // The screen is portrait-shaped; a landscape interface swaps its sides.
    Rect b = bounds();
    double w = std::min(b.width(), b.height()), h = std::max(b.width(), b.height());
    if (isLandscape(o)) std::swap(w, h);
    return makeRect(0, 0, w, h);
}

namespace {
void collect(ViewController* c, bool visibleOnly, std::vector<ns::Ref<ViewController>>& out) {
    out.push_back(ns::Ref<ViewController>(c));
    auto kids = visibleOnly ? c->visibleChildViewControllers() : c->childViewControllers();
    for (auto* k : kids) collect(k, visibleOnly, out);
}
}  // namespace

bool Window::rotateInterfaceTo(InterfaceOrientation o) {
    auto keep = ns::keepAlive(this);
    ns::Ref<ViewController> asked(rotationController());
    if (!asked) return false;
    if (!asked->shouldAutorotate()) return false;
    // The answer may have changed the screen (a controller can present or
    // dismiss another while it is asked): ask the one in charge now.
    ns::Ref<ViewController> c(rotationController());
    if (!c || !(c->supportedInterfaceOrientations() & maskFor(o))) return false;
    if (!c->shouldAutorotateToInterfaceOrientation(o)) return false;

    // The root and every presented controller turn together.
    std::vector<ns::Ref<ViewController>> chain;
    for (ViewController* p = root_.get(); p; p = p->presentedViewController()) chain.push_back(ns::Ref<ViewController>(p));
    std::vector<ns::Ref<ViewController>> visible, all;
    for (auto& p : chain) {
        if (p->interfaceOrientation() == o) continue;
        // A controller below the one asked turns only when it supports the
        // new orientation too.
        if (p != c && !(p->supportedInterfaceOrientations() & maskFor(o))) continue;
        collect(p.get(), true, visible);
        collect(p.get(), false, all);
    }
    if (all.empty()) return false;
    const double duration = 0.4;
    std::vector<std::pair<ns::Ref<ViewController>, InterfaceOrientation>> from;
    for (auto& v : visible) from.emplace_back(v, v->interfaceOrientation());
    for (auto& v : visible) v->willRotateToInterfaceOrientation(o, duration);
    for (auto& v : all) v->orientation_ = o;
    // The window takes the shape of the root's orientation, so that touches
    // anywhere on a landscape interface reach it.
    if (root_ && root_->interfaceOrientation() == o) {
        Rect shaped = boundsForOrientation(o);
        bool keepResizing = autoresizesSubviews();
        setAutoresizesSubviews(false);
        setFrame(makeRect(frame().origin.x, frame().origin.y, shaped.width(), shaped.height()));
        setAutoresizesSubviews(keepResizing);
    }
    for (auto& p : chain) {
        if (p->interfaceOrientation() != o) continue;
        if (!p->isViewLoaded() || p->view()->superview() != this) continue;
        Rect full = boundsForOrientation(o);
        if (p == root_ || p->coversScreen()) {
            p->view()->setFrame(full);
        } else {
            Rect f = p->view()->frame();
            f.size.width = std::min(f.width(), full.width());
            f.size.height = std::min(f.height(), full.height());
            f.origin = {(full.width() - f.width()) / 2, (full.height() - f.height()) / 2};
            p->view()->setFrame(f);
        }
    }
    for (auto& v : visible) v->willAnimateRotationToInterfaceOrientation(o, duration);
    for (auto& [v, old] : from) v->didRotateFromInterfaceOrientation(old);
    return true;
}

}  // namespace ui
