// The headless view: a rectangle in a tree. It keeps state (frame, bounds,
// alpha, hidden, colours, subviews) and draws nothing.
//
// Ownership: a view owns its subviews (strong); its superview and its
// controller are weak links. Frames are in the superview's coordinates,
// bounds in the view's own; a bounds origin other than 0,0 scrolls the
// content (scroll views use it).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/ui/Animation.h"
#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/Responder.h"

namespace ui {

class Window;
class ViewController;

// Which margins and sizes follow the superview when its size changes.
enum AutoresizingMask : unsigned {
    AutoresizingNone = 0,
    AutoresizingFlexibleLeftMargin = 1,
    AutoresizingFlexibleWidth = 2,
    AutoresizingFlexibleRightMargin = 4,
    AutoresizingFlexibleTopMargin = 8,
    AutoresizingFlexibleHeight = 16,
    AutoresizingFlexibleBottomMargin = 32,
    AutoresizingFlexibleAll = 63,
};

enum class ContentMode { ScaleToFill, ScaleAspectFit, ScaleAspectFill, Center, Top, Bottom, Left, Right };

// The user interface belongs to the main thread. Operations that change the
// screen call this first; off the main thread it raises
// InternalInconsistencyException naming the operation (queue the work to the
// main thread with ns::performOnMainThread instead).
void requireMainThread(const char* operation);

class View : public Responder {
public:
    explicit View(Rect frame = {});
    ~View() override;
    const char* className() const override { return "View"; }
    std::string description() const override;

    static ns::Ref<View> make(Rect frame = {}) { return ns::make<View>(frame); }

    // -- Geometry --------------------------------------------------------
    Rect frame() const { return frame_; }
    // Moves/resizes the view; a size change resizes the subviews by their
    // autoresizing masks (when autoresizesSubviews) and asks for layout.
    void setFrame(Rect r);
    Rect bounds() const { return bounds_; }
    void setBounds(Rect r);
    Point center() const { return {frame_.midX(), frame_.midY()}; }
    void setCenter(Point c);
    Transform transform() const { return transform_; }
    void setTransform(Transform t) { transform_ = t; }
    unsigned autoresizingMask() const { return autoresizingMask_; }
    void setAutoresizingMask(unsigned m) { autoresizingMask_ = m; }
    bool autoresizesSubviews() const { return autoresizesSubviews_; }
    void setAutoresizesSubviews(bool b) { autoresizesSubviews_ = b; }
    ContentMode contentMode() const { return contentMode_; }
    void setContentMode(ContentMode m) { contentMode_ = m; }

    // Point conversion between this view and `other` (window coordinates
    // when `other` is nil). Transforms are not applied.
    Point convertPointToView(Point p, const View* other) const;
    Point convertPointFromView(Point p, const View* other) const;
    Rect convertRectToView(Rect r, const View* other) const;

    // -- Appearance --------------------------------------------------------
    double alpha() const { return alpha_; }
    void setAlpha(double a);
    bool isHidden() const { return hidden_; }
    void setHidden(bool h);
    long tag() const { return tag_; }
    void setTag(long t) { tag_ = t; }
    const ns::Ref<Color>& backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(ns::Ref<Color> c) { backgroundColor_ = std::move(c); }
    bool isOpaque() const { return opaque_; }
    void setOpaque(bool b) { opaque_ = b; }
    bool clipsToBounds() const { return clipsToBounds_; }
    void setClipsToBounds(bool b) { clipsToBounds_ = b; }
    // A name for the driver and the text screen where a view has no text of
    // its own (an image-only button, say).
    const std::string& accessibilityLabel() const { return accessibilityLabel_; }
    void setAccessibilityLabel(std::string s) { accessibilityLabel_ = std::move(s); }
    // What a person calls this view when it lies over something they try to
    // reach ("the sign-up form"): the driver's refusals name the cover so.
    const std::string& coverName() const { return coverName_; }
    void setCoverName(std::string s) { coverName_ = std::move(s); }

    // -- Interaction ---------------------------------------------------------
    bool isUserInteractionEnabled() const { return userInteraction_; }
    void setUserInteractionEnabled(bool b) { userInteraction_ = b; }
    bool isMultipleTouchEnabled() const { return multipleTouch_; }
    void setMultipleTouchEnabled(bool b) { multipleTouch_ = b; }
    bool isExclusiveTouch() const { return exclusiveTouch_; }
    void setExclusiveTouch(bool b) { exclusiveTouch_ = b; }
    // The deepest visible, interactive descendant (or this view) that
    // contains `p` (in this view's coordinates); nil when none.
    virtual View* hitTest(Point p, Event* event);
    virtual bool pointInside(Point p, Event* event) const;

    // -- Hierarchy -----------------------------------------------------------
    View* superview() const;
    const std::vector<ns::Ref<View>>& subviews() const { return subviews_; }
    // The window the view is in (walking up), or nil.
    virtual Window* window() const;
    // Adds `v` on top of the other subviews, removing it from its former
    // superview first. Adding a view to itself or to its own descendant
    // raises InvalidArgumentException.
    void addSubview(ns::Ref<View> v);
    void insertSubviewAtIndex(ns::Ref<View> v, size_t index);
    void insertSubviewBelow(ns::Ref<View> v, View* sibling);
    void insertSubviewAbove(ns::Ref<View> v, View* sibling);
    void removeFromSuperview();
    void bringSubviewToFront(View* v);
    void sendSubviewToBack(View* v);
    // This view or the first descendant (depth first) with the tag.
    View* viewWithTag(long tag);
    bool isDescendantOfView(const View* v) const;
    // Visible on screen: in a window, and neither it nor any ancestor is
    // hidden, transparent (alpha below 0.01) or collapsed by its transform.
    bool isVisibleOnScreen() const;

    // Hooks for subclasses.
    virtual void willMoveToSuperview(View* newSuperview) {}
    virtual void didMoveToSuperview() {}
    virtual void willMoveToWindow(Window* newWindow) {}
    virtual void didMoveToWindow() {}
    virtual void didAddSubview(View* v) {}
    virtual void willRemoveSubview(View* v) {}

    // -- Layout and display --------------------------------------------------
    void setNeedsLayout();
    // Runs layoutSubviews here and below where layout was asked for.
    void layoutIfNeeded();
    virtual void layoutSubviews() {}
    // The view draws itself the first time a display pass finds it visible,
    // and again after setNeedsDisplay. drawRect is the subclass hook; the
    // headless view paints nothing, so the hook only runs code.
    void setNeedsDisplay();
    bool needsDisplay() const { return needsDisplay_; }
    virtual void drawRect(Rect r) {}
    // What the last drawRect recorded (see Graphics.h).
    const std::vector<std::string>& drawingOperations() const { return drawing_; }
    // Lays out and draws every visible view of the tree that needs it.
    void displayIfNeeded();
    virtual Size sizeThatFits(Size s) const { return frame_.size; }
    void sizeToFit();

    // -- Controller link -----------------------------------------------------
    // The controller whose main view this is (set by the controller).
    ViewController* viewController() const;
    void setViewController(ViewController* c);

    Responder* nextResponder() const override;

    // -- Animations (see Animation.h) ----------------------------------------
    // Runs `animations` now (the end state) and `completion(true)` after
    // delay + duration on the main run loop's clock.
    static void animate(double duration, double delay, unsigned options,
                        const std::function<void()>& animations,
                        std::function<void(bool)> completion = {});
    static void animate(double duration, const std::function<void()>& animations,
                        std::function<void(bool)> completion = {}) {
        animate(duration, 0, 0, animations, std::move(completion));
    }
    // A transition of `view`'s content (options say which, e.g. a flip):
    // `animations` runs now, `completion` after the duration.
    static void transitionWithView(View* view, double duration, unsigned options,
                                   const std::function<void()>& animations,
                                   std::function<void(bool)> completion = {});
    // Replaces `from` by `to` in from's superview (at from's place) as a
    // transition of that superview; completion after the duration.
    static void transitionFromView(View* from, ns::Ref<View> to, double duration, unsigned options,
                                   std::function<void(bool)> completion = {});

    // Begin/commit animation blocks. Changes made between begin and commit
    // are the block's end state (applied at once); at commit the block is
    // timed and, when it ends, the animation delegate (weak) is told.
    static void beginAnimations(std::string animationID = {}, ns::Object* context = nullptr);
    static void setAnimationDuration(double seconds);
    static void setAnimationDelay(double seconds);
    static void setAnimationCurve(unsigned curve);
    static void setAnimationDelegate(AnimationDelegate* delegate);
    static void setAnimationTransition(AnimationTransition t, View* forView, bool cache);
    static void commitAnimations();

private:
    friend class Window;
    void setSuperviewInternal(View* s);
    void moveToWindow(Window* oldWindow, Window* newWindow);
    void resizeSubviews(Size oldSize);
    void layoutTree();
    void displayTree();
    void autoresize(Size oldSuper, Size newSuper);

    Rect frame_;
    Rect bounds_;
    Transform transform_;
    double alpha_ = 1.0;
    bool hidden_ = false;
    bool opaque_ = true;
    bool clipsToBounds_ = false;
    bool userInteraction_ = true;
    bool multipleTouch_ = false;
    bool exclusiveTouch_ = false;
    bool autoresizesSubviews_ = true;
    bool needsLayout_ = true;
    bool needsDisplay_ = true;
    unsigned autoresizingMask_ = AutoresizingNone;
    ContentMode contentMode_ = ContentMode::ScaleToFill;
    long tag_ = 0;
    ns::Ref<Color> backgroundColor_;
    std::string accessibilityLabel_;
    std::string coverName_;
    std::vector<std::string> drawing_;
    std::vector<ns::Ref<View>> subviews_;
    ns::Weak<View> superview_;
    ns::Weak<ViewController> controller_;
};

}  // namespace ui
