#include "app/EventWindow.h"

#include <cstring>

namespace app {

namespace {
// Touches over a page land on the web view's document view. The page is the
// child's own when the child lies on the document view's responder chain:
// the card web view itself, or the full card's controller around its page.
// Any other page (a mail composer's body, a web page screen) is not a card
// and keeps its touches.
bool overChildsPage(const ui::Touch* t, const ui::Responder* child) {
    const ui::View* v = t->view();
    if (!child || !v || std::strcmp(v->className(), "WebDocumentView") != 0) return false;
    for (const ui::Responder* r = v; r; r = r->nextResponder())
        if (r == child) return true;
    return false;
}
}  // namespace

void EventWindow::deliverNormally(ui::Event* event) {
    ++normalDeliveries_;
    ui::Window::sendEvent(event);
}

void EventWindow::sendEvent(ui::Event* event) {
    ns::Ref<ui::Event> keepEvent(event);
    ns::Ref<ns::Object> keepSelf(this);
    const ui::TouchSet touches = event->allTouches();
    ns::Ref<ui::Responder> child = child_.lock();
    bool anyOverPage = false;
    for (auto& t : touches)
        if (overChildsPage(t.get(), child.get())) anyOverPage = true;
    if (!anyOverPage) {
        deliverNormally(event);
        return;
    }

    bool sawMoved = false;
    for (auto& t : touches) {
        ui::TouchPhase phase = t->phase();
        if (phase == ui::TouchPhase::Began || phase == ui::TouchPhase::Ended) {
            blockSuperEvent_ = false;
            if (phase == ui::TouchPhase::Began) child->touchesBegan(touches, event);
            else child->touchesEnded(touches, event);
            if (!blockSuperEvent_) deliverNormally(event);
            return;
        }
        if (phase == ui::TouchPhase::Moved) sawMoved = true;
    }
    blockSuperEvent_ = false;
    if (sawMoved) {
        child->touchesMoved(touches, event);
        if (!blockSuperEvent_) deliverNormally(event);
        return;
    }
    deliverNormally(event);
}

}  // namespace app
