// The application window. Touches over a card page go first to `child`, the
// responder that registered itself last (the card web view of the shown
// card, or a full-screen card's controller). A card page is the child's own
// page: a web view's document view that lies in the child (or in the view
// of the child controller); any other page, such as a mail composer's body
// laid over the card, is not a card and keeps its touches. The child may set
// `blockSuperEvent` while it handles the touches, and the window then does
// not also deliver the event normally (so the page neither scrolls nor
// zooms during a pinch or swipe). Every other event is delivered normally.
#pragma once

#include "platform/ui/Window.h"

namespace app {

class EventWindow : public ui::Window {
public:
    explicit EventWindow(ui::Rect frame = {}) : ui::Window(frame) {}
    const char* className() const override { return "EventWindow"; }

    // Not retained: reads as nil once the child is gone.
    ui::Responder* child() const { return child_.lock().get(); }
    void setChild(ui::Responder* r) { child_ = r; }
    bool blockSuperEvent() const { return blockSuperEvent_; }
    void setBlockSuperEvent(bool b) { blockSuperEvent_ = b; }

    void sendEvent(ui::Event* event) override;

    bool shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation) { return true; }
    bool shouldAutorotate() { return true; }
    unsigned supportedInterfaceOrientations() { return 30; }

    // Number of events delivered normally (tests).
    size_t normalDeliveries() const { return normalDeliveries_; }

private:
    void deliverNormally(ui::Event* event);
    ns::Weak<ui::Responder> child_;
    bool blockSuperEvent_ = false;
    size_t normalDeliveries_ = 0;
};

}  // namespace app
