// Touches, events and the responder chain.
//
// A Touch is one finger: it keeps its identity from the began phase to the
// ended (or cancelled) phase, while its phase, location and tap count change.
// An Event carries every touch that is down (or just lifted) at one moment.
// Window::sendEvent delivers an event to the view each touch began in; a
// responder that does not handle a touch phase passes it up the chain
// (view -> its controller -> superview ... -> window -> application).
#pragma once

#include <vector>

#include "platform/foundation/Object.h"
#include "platform/ui/Geometry.h"

namespace ui {

class View;
class Window;
class Event;
class Touch;

enum class TouchPhase { Began, Moved, Stationary, Ended, Cancelled };
const char* toString(TouchPhase p);

// A set of touches in a stable order; "any object" of it is the first.
using TouchSet = std::vector<ns::Ref<Touch>>;
inline Touch* anyTouch(const TouchSet& s) { return s.empty() ? nullptr : s.front().get(); }

class Touch : public ns::Object {
public:
    const char* className() const override { return "Touch"; }

    TouchPhase phase() const { return phase_; }
    unsigned tapCount() const { return tapCount_; }
    double timestamp() const { return timestamp_; }
    // The view the touch began in (the hit-test result), and its window.
    View* view() const;
    Window* window() const;
    // Location in `view`'s coordinates (window coordinates for nil).
    Point locationInView(const View* view) const;
    Point previousLocationInView(const View* view) const;

    // Set by whoever synthesises touches (the driver).
    void setPhase(TouchPhase p) { phase_ = p; }
    void setTapCount(unsigned n) { tapCount_ = n; }
    void setTimestamp(double t) { timestamp_ = t; }
    void setView(View* v);
    void setWindow(Window* w);
    // Moves the finger to a point in window coordinates; the old location
    // becomes the previous location.
    void moveTo(Point windowPoint);
    Point windowLocation() const { return location_; }

private:
    TouchPhase phase_ = TouchPhase::Began;
    unsigned tapCount_ = 1;
    double timestamp_ = 0;
    Point location_, previous_;
    ns::Weak<View> view_;
    ns::Weak<Window> window_;
};

enum class EventType { Touches, Motion };

class Event : public ns::Object {
public:
    const char* className() const override { return "Event"; }
    EventType type() const { return EventType::Touches; }
    double timestamp() const { return timestamp_; }
    void setTimestamp(double t) { timestamp_ = t; }

    const TouchSet& allTouches() const { return touches_; }
    // Touches whose view is `view` (or a descendant of it).
    TouchSet touchesForView(const View* view) const;
    TouchSet touchesForWindow(const Window* window) const;
    void setTouches(TouchSet t) { touches_ = std::move(t); }

private:
    TouchSet touches_;
    double timestamp_ = 0;
};

class Responder : public ns::Object {
public:
    const char* className() const override { return "Responder"; }

    // The next link of the chain, or nil at its end.
    virtual Responder* nextResponder() const { return nullptr; }

    // Default bodies pass the touches to nextResponder().
    virtual void touchesBegan(const TouchSet& touches, Event* event);
    virtual void touchesMoved(const TouchSet& touches, Event* event);
    virtual void touchesEnded(const TouchSet& touches, Event* event);
    virtual void touchesCancelled(const TouchSet& touches, Event* event);

    // Keyboard focus (text fields). The base class never takes it.
    virtual bool canBecomeFirstResponder() const { return false; }
    virtual bool becomeFirstResponder();
    virtual bool resignFirstResponder();
    bool isFirstResponder() const;
    // The responder that has keyboard focus now, or nil.
    static Responder* currentFirstResponder();
    // True while the focus moves from one responder to another (the old one
    // is resigning because a new one takes over).
    static bool isTransferringFocus();
};

}  // namespace ui
