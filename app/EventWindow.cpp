#include "app/EventWindow.h"

#include <cstring>

namespace app {

namespace {
// Touches over a page land on the web view's document view.
bool overWebPage(const ui::Touch* t) {
    const ui::View* v = t->view();
    return v && std::strcmp(v->className(), "WebDocumentView") == 0;
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
    bool anyOverPage = false;
    for (auto& t : touches)
        if (overWebPage(t.get())) anyOverPage = true;
    if (!anyOverPage) {
        deliverNormally(event);
        return;
    }

    bool sawMoved = false;
    for (auto& t : touches) {
        ui::TouchPhase phase = t->phase();
        if (phase == ui::TouchPhase::Began || phase == ui::TouchPhase::Ended) {
            blockSuperEvent_ = false;
            if (auto c = child_.lock()) {
                if (phase == ui::TouchPhase::Began) c->touchesBegan(touches, event);
                else c->touchesEnded(touches, event);
            }
            if (!blockSuperEvent_) deliverNormally(event);
            return;
        }
        if (phase == ui::TouchPhase::Moved) sawMoved = true;
    }
    blockSuperEvent_ = false;
    if (sawMoved) {
        if (auto c = child_.lock()) c->touchesMoved(touches, event);
        if (!blockSuperEvent_) deliverNormally(event);
        return;
    }
    deliverNormally(event);
}

}  // namespace app
