#include "platform/ui/View.h"
#include "platform/foundation/Delegate.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/Exception.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Graphics.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace ui {

void scheduleDisplayPass();  // Window.cpp

void requireMainThread(const char* operation) {
    if (!ns::RunLoop::isMainThread())
        throw ns::Exception(ns::kInternalInconsistencyException,
                            std::string(operation) + " was called off the main thread");
}

View::View(Rect frame) : frame_(frame), bounds_{{0, 0}, frame.size} {}

View::~View() {
    for (auto& s : subviews_) s->superview_ = nullptr;
}

std::string View::description() const {
    return std::string("<") + className() + " frame=" + toString(frame_) + (hidden_ ? " hidden" : "") + ">";
}

// -- Geometry ----------------------------------------------------------------

void View::setFrame(Rect r) {
    Size old = frame_.size;
    frame_ = r;
    bounds_.size = r.size;
    if (!(old == r.size)) {
        resizeSubviews(old);
        setNeedsLayout();
    }
}

void View::setBounds(Rect r) {
    Size old = bounds_.size;
    bounds_ = r;
    if (!(old == r.size)) {
        Point c = center();
        frame_.size = r.size;
        frame_.origin = {c.x - r.size.width / 2, c.y - r.size.height / 2};
        resizeSubviews(old);
    }
    setNeedsLayout();
}

void View::setCenter(Point c) {
    frame_.origin = {c.x - frame_.size.width / 2, c.y - frame_.size.height / 2};
}

void View::resizeSubviews(Size oldSize) {
    if (!autoresizesSubviews_) return;
    auto subs = subviews_;
    for (auto& s : subs) s->autoresize(oldSize, bounds_.size);
}

namespace {
// Shares `delta` among the flexible parts in proportion to their sizes
// (evenly when they are all zero).
void distribute(double delta, bool flex[3], double parts[3]) {
    int n = 0;
    double total = 0;
    for (int i = 0; i < 3; ++i)
        if (flex[i]) { ++n; total += parts[i]; }
    if (n == 0) return;
    for (int i = 0; i < 3; ++i) {
        if (!flex[i]) continue;
        parts[i] += total > 0 ? delta * parts[i] / total : delta / n;
    }
}
}  // namespace

void View::autoresize(Size oldSuper, Size newSuper) {
    unsigned m = autoresizingMask_;
    if (m == AutoresizingNone) return;
    Rect f = frame_;
    {
        bool flex[3] = {(m & AutoresizingFlexibleLeftMargin) != 0, (m & AutoresizingFlexibleWidth) != 0,
                        (m & AutoresizingFlexibleRightMargin) != 0};
        double parts[3] = {f.origin.x, f.size.width, oldSuper.width - f.maxX()};
        distribute(newSuper.width - oldSuper.width, flex, parts);
        f.origin.x = parts[0];
        f.size.width = std::max(0.0, parts[1]);
    }
    {
        bool flex[3] = {(m & AutoresizingFlexibleTopMargin) != 0, (m & AutoresizingFlexibleHeight) != 0,
                        (m & AutoresizingFlexibleBottomMargin) != 0};
        double parts[3] = {f.origin.y, f.size.height, oldSuper.height - f.maxY()};
        distribute(newSuper.height - oldSuper.height, flex, parts);
        f.origin.y = parts[0];
        f.size.height = std::max(0.0, parts[1]);
    }
    setFrame(f);
}

Point View::convertPointToView(Point p, const View* other) const {
    // Up to the root's coordinate space...
    const View* v = this;
    while (View* s = v->superview()) {
        p = {p.x - v->bounds_.origin.x + v->frame_.origin.x, p.y - v->bounds_.origin.y + v->frame_.origin.y};
        v = s;
    }
    if (!other) return p;
    // ...and down into the other view's.
    return other->convertPointFromView(p, nullptr);
}

Point View::convertPointFromView(Point p, const View* other) const {
    if (other) p = other->convertPointToView(p, nullptr);
    std::vector<const View*> chain;
    for (const View* v = this; v->superview(); v = v->superview()) chain.push_back(v);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const View* v = *it;
        p = {p.x - v->frame_.origin.x + v->bounds_.origin.x, p.y - v->frame_.origin.y + v->bounds_.origin.y};
    }
    return p;
}

Rect View::convertRectToView(Rect r, const View* other) const {
    return {convertPointToView(r.origin, other), r.size};
}

// -- Appearance ----------------------------------------------------------------

void View::setAlpha(double a) {
    alpha_ = std::clamp(a, 0.0, 1.0);
}

void View::setHidden(bool h) {
    if (h == hidden_) return;
    hidden_ = h;
    if (!h) setNeedsDisplay();
}

bool View::isVisibleOnScreen() const {
    for (const View* v = this; v; v = v->superview()) {
        if (v->hidden_ || v->alpha_ < 0.01 || v->transform_.isDegenerate()) return false;
        if (dynamic_cast<const Window*>(v)) return static_cast<const Window*>(v)->isVisible();
    }
    return false;
}

// -- Interaction ---------------------------------------------------------------

bool View::pointInside(Point p, Event*) const { return bounds_.contains(p); }

View* View::hitTest(Point p, Event* event) {
    if (hidden_ || alpha_ < 0.01 || !userInteraction_ || transform_.isDegenerate()) return nullptr;
    if (!pointInside(p, event)) return nullptr;
    // A copy: hitTest and pointInside are a subclass's to answer, and may
    // change the tree they are asked about.
    const auto subs = subviews_;
    for (auto it = subs.rbegin(); it != subs.rend(); ++it) {
        View* s = it->get();
        Point q{p.x - s->frame_.origin.x + s->bounds_.origin.x, p.y - s->frame_.origin.y + s->bounds_.origin.y};
        if (View* hit = s->hitTest(q, event)) return hit;
    }
    return this;
}

// -- Hierarchy -----------------------------------------------------------------

View* View::superview() const { return superview_.lock().get(); }

Window* View::window() const {
    const View* v = this;
    while (View* s = v->superview()) v = s;
    return dynamic_cast<Window*>(const_cast<View*>(v));
}

bool View::isDescendantOfView(const View* v) const {
    if (!v) return false;
    for (const View* p = this; p; p = p->superview())
        if (p == v) return true;
    return false;
}

void View::moveToWindow(Window* oldWindow, Window* newWindow) {
    if (oldWindow == newWindow) return;
    willMoveToWindow(newWindow);
    auto subs = subviews_;
    for (auto& s : subs) s->moveToWindow(oldWindow, newWindow);
    didMoveToWindow();
    if (newWindow) setNeedsDisplay();
}

void View::insertSubviewAtIndex(ns::Ref<View> v, size_t index) {
    requireMainThread("addSubview");
    if (!v) throw ns::Exception(ns::kInvalidArgumentException, "addSubview: nil view");
    if (v.get() == this || isDescendantOfView(v.get()))
        throw ns::Exception(ns::kInvalidArgumentException, "addSubview: a view cannot contain itself");
    ns::Ref<View> keep = v;
    Window* oldWindow = v->window();
    View* old = v->superview();
    if (old == this) {
        auto it = std::find(subviews_.begin(), subviews_.end(), v);
        size_t at = static_cast<size_t>(it - subviews_.begin());
        subviews_.erase(it);
        if (index > at) --index;
        subviews_.insert(subviews_.begin() + static_cast<long>(std::min(index, subviews_.size())), v);
        return;
    }
    v->willMoveToSuperview(this);
    if (old) {
        old->willRemoveSubview(v.get());
        auto& list = old->subviews_;
        list.erase(std::remove(list.begin(), list.end(), v), list.end());
    }
    subviews_.insert(subviews_.begin() + static_cast<long>(std::min(index, subviews_.size())), v);
    v->superview_ = this;
    v->moveToWindow(oldWindow, window());
    v->didMoveToSuperview();
    didAddSubview(v.get());
    setNeedsLayout();
}

void View::addSubview(ns::Ref<View> v) { insertSubviewAtIndex(std::move(v), subviews_.size()); }

void View::insertSubviewBelow(ns::Ref<View> v, View* sibling) {
    auto it = std::find_if(subviews_.begin(), subviews_.end(), [&](auto& s) { return s.get() == sibling; });
    insertSubviewAtIndex(std::move(v), it == subviews_.end() ? subviews_.size() : size_t(it - subviews_.begin()));
}

void View::insertSubviewAbove(ns::Ref<View> v, View* sibling) {
    auto it = std::find_if(subviews_.begin(), subviews_.end(), [&](auto& s) { return s.get() == sibling; });
    insertSubviewAtIndex(std::move(v), it == subviews_.end() ? subviews_.size() : size_t(it - subviews_.begin()) + 1);
}

void View::removeFromSuperview() {
    requireMainThread("removeFromSuperview");
    View* s = superview();
    if (!s) return;
    auto keep = ns::keepAlive(this);
    Window* oldWindow = window();
    willMoveToSuperview(nullptr);
    s->willRemoveSubview(this);
    auto& list = s->subviews_;
    list.erase(std::remove_if(list.begin(), list.end(), [this](auto& x) { return x.get() == this; }), list.end());
    superview_ = nullptr;
    moveToWindow(oldWindow, nullptr);
    didMoveToSuperview();
}

void View::bringSubviewToFront(View* v) {
    auto it = std::find_if(subviews_.begin(), subviews_.end(), [&](auto& s) { return s.get() == v; });
    if (it == subviews_.end()) return;
    ns::Ref<View> keep = *it;
    subviews_.erase(it);
    subviews_.push_back(keep);
}

void View::sendSubviewToBack(View* v) {
    auto it = std::find_if(subviews_.begin(), subviews_.end(), [&](auto& s) { return s.get() == v; });
    if (it == subviews_.end()) return;
    ns::Ref<View> keep = *it;
    subviews_.erase(it);
    subviews_.insert(subviews_.begin(), keep);
}

View* View::viewWithTag(long tag) {
    if (tag_ == tag) return this;
    for (auto& s : subviews_)
        if (View* v = s->viewWithTag(tag)) return v;
    return nullptr;
}

// -- Layout and display ----------------------------------------------------------

void View::setNeedsLayout() { needsLayout_ = true; }

void View::layoutIfNeeded() { layoutTree(); }

void View::layoutTree() {
    if (needsLayout_) {
        needsLayout_ = false;
        layoutSubviews();
    }
    auto subs = subviews_;
    for (auto& s : subs) s->layoutTree();
}

void View::setNeedsDisplay() {
    needsDisplay_ = true;
    if (window()) scheduleDisplayPass();
}

void View::displayIfNeeded() { displayTree(); }

void View::displayTree() {
    if (hidden_ || alpha_ < 0.01 || transform_.isDegenerate()) return;
    if (needsLayout_) {
        needsLayout_ = false;
        layoutSubviews();
    }
    if (needsDisplay_) {
        needsDisplay_ = false;
        auto keep = ns::keepAlive(this);
        GraphicsContext context;
        {
            GraphicsContext::Scope scope(&context);
            drawRect(bounds_);
        }
        drawing_ = context.operations();
    }
    auto subs = subviews_;
    for (auto& s : subs)
        if (s->superview() == this) s->displayTree();
}

void View::sizeToFit() {
    Size s = sizeThatFits(frame_.size);
    setFrame({frame_.origin, s});
}

// -- Controller link -------------------------------------------------------------

ViewController* View::viewController() const { return controller_.lock().get(); }
void View::setViewController(ViewController* c) { controller_ = c; }

Responder* View::nextResponder() const {
    if (auto c = controller_.lock()) return c.get();
    return superview();
}

void View::setSuperviewInternal(View* s) { superview_ = s; }

}  // namespace ui
