// The window: the root of a view tree on screen, holder of the root view
// controller and of presented controllers' views, and the first stop of
// every touch event (sendEvent, which a subclass may override to route
// touches elsewhere before or instead of the normal delivery).
#pragma once

#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"

namespace ui {

class Window : public View {
public:
    explicit Window(Rect frame = {});
    ~Window() override;
    const char* className() const override { return "Window"; }

    // Replaces the root controller: the old one's view leaves (disappears),
    // the new one's view fills the window (and appears when the window is
    // visible).
    ViewController* rootViewController() const { return root_.get(); }
    void setRootViewController(ns::Ref<ViewController> vc);

    // Makes this the application's key window and shows it; the root
    // controller appears.
    void makeKeyAndVisible();
    void makeKeyWindow();
    bool isKeyWindow() const;
    bool isVisible() const { return visible_; }
    double windowLevel() const { return level_; }
    void setWindowLevel(double l) { level_ = l; }

    // Normal delivery: each touch goes to the view it began in (its hit-test
    // view), phase by phase (began, moved, ended, cancelled), grouped by
    // view. Stationary touches are not delivered.
    virtual void sendEvent(Event* event);

    // The top of the presentation chain that starts at the root controller.
    ViewController* topViewController() const;
    // The view of the top-most presented controller when one is on this
    // window, else nil. Nothing below it takes touches: a full-screen
    // presentation hides what it covers, and around a form or page sheet
    // the touches go to the window, which does nothing with them.
    View* modalLayer() const;
    // Hit testing that honours the modal layer: only the modal view and
    // views added to the window above it are candidates; a point outside
    // them hits the window itself.
    View* hitTest(Point p, Event* event) override;
    // The controller asked about rotation: the top-most full-screen presented
    // controller, else the root.
    ViewController* rotationController() const;
    // The bounds the root controller's view fills in orientation `o`
    // (width and height swapped in landscape).
    Rect boundsForOrientation(InterfaceOrientation o) const;
    // Turns the interface to `o` when the rotation controller agrees.
    // Returns true when the interface orientation changed.
    bool rotateInterfaceTo(InterfaceOrientation o);

    Window* window() const override { return const_cast<Window*>(this); }
    Responder* nextResponder() const override;

private:
    ns::Ref<ViewController> root_;
    bool visible_ = false;
    double level_ = 0;
};

}  // namespace ui
