#include "platform/ui/BarItems.h"
#include "platform/foundation/Delegate.h"

#include "platform/ui/Control.h"

namespace ui {

ns::Ref<BarButtonItem> BarButtonItem::withTitle(std::string title, Style style) {
    auto b = ns::make<BarButtonItem>();
    b->title_ = std::move(title);
    b->style_ = style;
    return b;
}

ns::Ref<BarButtonItem> BarButtonItem::withCustomView(ns::Ref<View> view) {
    auto b = ns::make<BarButtonItem>();
    b->customView_ = std::move(view);
    return b;
}

bool BarButtonItem::hasAction() const { return (hasTarget_ && !target_.expired()) || plain_; }

bool BarButtonItem::performAction() {
    if (!enabled_) return false;
    auto keep = ns::keepAlive(this);
    if (customView_) {
        if (auto* c = dynamic_cast<Control*>(customView_.get())) {
            c->sendActionsForControlEvents(ControlEventTouchUpInside);
            return true;
        }
    }
    bool ran = false;
    if (hasTarget_) {
        if (auto t = target_.lock()) {
            call_(t.get(), this);
            ran = true;
        }
    }
    if (plain_) {
        plain_(this);
        ran = true;
    }
    return ran;
}

std::string BarButtonItem::displayTitle() const {
    if (!title_.empty()) return title_;
    if (customView_) {
        if (auto* b = dynamic_cast<Button*>(customView_.get())) {
            if (!b->currentTitle().empty()) return b->currentTitle();
        }
        return customView_->accessibilityLabel();
    }
    switch (system_) {
        case SystemItem::Done: return "Done";
        case SystemItem::Cancel: return "Cancel";
        case SystemItem::Edit: return "Edit";
        case SystemItem::Save: return "Save";
        case SystemItem::Add: return "Add";
        case SystemItem::Compose: return "Compose";
        case SystemItem::Reply: return "Reply";
        case SystemItem::Action: return "Action";
        case SystemItem::Organize: return "Organize";
        case SystemItem::Bookmarks: return "Bookmarks";
        case SystemItem::Search: return "Search";
        case SystemItem::Refresh: return "Refresh";
        case SystemItem::Stop: return "Stop";
        case SystemItem::Camera: return "Camera";
        case SystemItem::Trash: return "Trash";
        case SystemItem::Play: return "Play";
        case SystemItem::Pause: return "Pause";
        case SystemItem::Rewind: return "Rewind";
        case SystemItem::FastForward: return "Fast Forward";
        default: break;
    }
    if (image_) return image_->name();
    return {};
}

}  // namespace ui
