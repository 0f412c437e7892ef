#include "platform/ui/Responder.h"

#include "platform/ui/View.h"
#include "platform/ui/Window.h"

namespace ui {

const char* toString(TouchPhase p) {
    switch (p) {
        case TouchPhase::Began: return "began";
        case TouchPhase::Moved: return "moved";
        case TouchPhase::Stationary: return "stationary";
        case TouchPhase::Ended: return "ended";
        case TouchPhase::Cancelled: return "cancelled";
    }
    return "?";
}

View* Touch::view() const { return view_.lock().get(); }
Window* Touch::window() const { return window_.lock().get(); }
void Touch::setView(View* v) { view_ = v; }
void Touch::setWindow(Window* w) { window_ = w; }

void Touch::moveTo(Point p) {
    previous_ = location_;
    location_ = p;
}

Point Touch::locationInView(const View* v) const {
    if (!v) return location_;
    return v->convertPointFromView(location_, nullptr);
}

Point Touch::previousLocationInView(const View* v) const {
    if (!v) return previous_;
    return v->convertPointFromView(previous_, nullptr);
}

TouchSet Event::touchesForView(const View* view) const {
    TouchSet out;
    for (auto& t : touches_) {
        View* tv = t->view();
        if (tv && view && (tv == view || tv->isDescendantOfView(view))) out.push_back(t);
    }
    return out;
}

TouchSet Event::touchesForWindow(const Window* window) const {
    TouchSet out;
    for (auto& t : touches_)
        if (t->window() == window) out.push_back(t);
    return out;
}

void Responder::touchesBegan(const TouchSet& t, Event* e) {
    if (auto* n = nextResponder()) n->touchesBegan(t, e);
}
void Responder::touchesMoved(const TouchSet& t, Event* e) {
    if (auto* n = nextResponder()) n->touchesMoved(t, e);
}
void Responder::touchesEnded(const TouchSet& t, Event* e) {
    if (auto* n = nextResponder()) n->touchesEnded(t, e);
}
void Responder::touchesCancelled(const TouchSet& t, Event* e) {
    if (auto* n = nextResponder()) n->touchesCancelled(t, e);
}

namespace {
bool transferring = false;  // main thread only

ns::Weak<Responder>& firstResponderLink() {
    static ns::Weak<Responder> link;  // main thread only
    return link;
}
}  // namespace

bool Responder::becomeFirstResponder() {
    if (!canBecomeFirstResponder()) return false;
    auto current = firstResponderLink().lock();
    if (current.get() == this) return true;
    if (current) {
        transferring = true;
        bool resigned = current->resignFirstResponder();
        transferring = false;
        if (!resigned) return false;
    }
    firstResponderLink() = this;
    return true;
}

bool Responder::resignFirstResponder() {
    if (firstResponderLink().lock().get() == this) firstResponderLink() = nullptr;
    return true;
}

bool Responder::isTransferringFocus() { return transferring; }

Responder* Responder::currentFirstResponder() { return firstResponderLink().lock().get(); }

// Compared through lock(): a dead responder's address may be reused.
bool Responder::isFirstResponder() const { return firstResponderLink().lock().get() == this; }

}  // namespace ui
