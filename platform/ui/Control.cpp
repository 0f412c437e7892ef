#include "platform/ui/Control.h"
#include "platform/foundation/Delegate.h"

#include <algorithm>

namespace ui {

// -- Target-action -------------------------------------------------------------

void Control::addTargetAction(ns::Object* target, std::function<void(ns::Object*, ns::Object*)> call,
                              unsigned events) {
    Action a;
    a.hasTarget = true;
    a.target = target;
    a.call = std::move(call);
    a.events = events;
    actions_.push_back(std::move(a));
}

void Control::addAction(std::function<void(Control*)> fn, unsigned events) {
    Action a;
    a.plain = std::move(fn);
    a.events = events;
    actions_.push_back(std::move(a));
}

void Control::removeTarget(ns::Object* target, unsigned events) {
    for (auto& a : actions_)
        if (a.hasTarget && (!target || a.target.pointsTo(target))) a.events &= ~events;
    actions_.erase(std::remove_if(actions_.begin(), actions_.end(), [](const Action& a) { return a.events == 0; }),
                   actions_.end());
}

void Control::sendActionsForControlEvents(unsigned events) {
    auto keep = ns::keepAlive(this);
    // Copy: an action may add or remove actions of this control.
    auto list = actions_;
    for (auto& a : list) {
        if (!(a.events & events)) continue;
        if (a.hasTarget) {
            auto t = a.target.lock();
            if (t) a.call(t.get(), this);
        } else if (a.plain) {
            a.plain(this);
        }
    }
    // Drop actions whose target is gone.
    actions_.erase(std::remove_if(actions_.begin(), actions_.end(),
                                  [](const Action& a) { return a.hasTarget && a.target.expired(); }),
                   actions_.end());
}

size_t Control::actionCountForEvents(unsigned events) const {
    size_t n = 0;
    for (auto& a : actions_)
        if ((a.events & events) && (!a.hasTarget || !a.target.expired())) ++n;
    return n;
}

unsigned Control::state() const {
    unsigned s = ControlStateNormal;
    if (highlighted_) s |= ControlStateHighlighted;
    if (!enabled_) s |= ControlStateDisabled;
    if (selected_) s |= ControlStateSelected;
    return s;
}

// -- Touch tracking --------------------------------------------------------------

void Control::touchesBegan(const TouchSet& touches, Event*) {
    if (!enabled_) return;
    highlighted_ = true;
    Touch* t = anyTouch(touches);
    sendActionsForControlEvents(t && t->tapCount() > 1 ? (ControlEventTouchDown | ControlEventTouchDownRepeat)
                                                       : ControlEventTouchDown);
}

void Control::touchesMoved(const TouchSet& touches, Event*) {
    if (!enabled_) return;
    Touch* t = anyTouch(touches);
    bool inside = t && bounds().contains(t->locationInView(this));
    highlighted_ = inside;
    sendActionsForControlEvents(inside ? ControlEventTouchDragInside : ControlEventTouchDragOutside);
}

void Control::touchesEnded(const TouchSet& touches, Event*) {
    if (!enabled_) return;
    highlighted_ = false;
    Touch* t = anyTouch(touches);
    bool inside = t && bounds().contains(t->locationInView(this));
    sendActionsForControlEvents(inside ? ControlEventTouchUpInside : ControlEventTouchUpOutside);
}

void Control::touchesCancelled(const TouchSet&, Event*) {
    if (!enabled_) return;
    highlighted_ = false;
    sendActionsForControlEvents(ControlEventTouchCancel);
}

// -- Button ----------------------------------------------------------------------

template <class V>
void Button::PerState<V>::set(unsigned s, V v) {
    for (auto& e : values)
        if (e.first == s) { e.second = std::move(v); return; }
    values.emplace_back(s, std::move(v));
}

template <class V>
const V* Button::PerState<V>::get(unsigned s) const {
    for (auto& e : values)
        if (e.first == s) return &e.second;
    // Highlighted or disabled while selected: try the plain state next.
    for (unsigned fallback : {s & ~unsigned(ControlStateSelected), unsigned(ControlStateNormal)})
        for (auto& e : values)
            if (e.first == fallback) return &e.second;
    return nullptr;
}

Button::Button(Rect frame, Type type) : Control(frame), type_(type), titleLabel_(Label::make(Rect{{0, 0}, frame.size})) {
    titleLabel_->setTextAlignment(TextAlignment::Center);
}

ns::Ref<Button> Button::make(Rect frame, std::string title) {
    auto b = ns::make<Button>(frame, Type::RoundedRect);
    if (!title.empty()) b->setTitle(std::move(title));
    return b;
}

void Button::setTitle(std::string title, unsigned state) {
    titles_.set(state, std::move(title));
    refreshTitle();
}

std::string Button::titleForState(unsigned state) const {
    auto* t = titles_.get(state);
    return t ? *t : std::string();
}

void Button::setImage(ns::Ref<Image> image, unsigned state) { images_.set(state, std::move(image)); }
ns::Ref<Image> Button::imageForState(unsigned state) const {
    auto* v = images_.get(state);
    return v ? *v : nullptr;
}
void Button::setBackgroundImage(ns::Ref<Image> image, unsigned state) { backgrounds_.set(state, std::move(image)); }
ns::Ref<Image> Button::backgroundImageForState(unsigned state) const {
    auto* v = backgrounds_.get(state);
    return v ? *v : nullptr;
}
void Button::setTitleColor(ns::Ref<Color> c, unsigned state) { titleColors_.set(state, std::move(c)); }
ns::Ref<Color> Button::titleColorForState(unsigned state) const {
    auto* v = titleColors_.get(state);
    return v ? *v : nullptr;
}

std::string Button::displayName() const {
    std::string t = currentTitle();
    if (!t.empty()) return t;
    if (!accessibilityLabel().empty()) return accessibilityLabel();
    if (auto i = currentImage()) return i->name();
    if (auto b = backgroundImageForState(state())) return b->name();
    return {};
}

void Button::refreshTitle() { titleLabel_->setText(currentTitle()); }

void Switch::touchesEnded(const TouchSet& touches, Event* event) {
    if (!isEnabled()) return;
    on_ = !on_;
    Control::touchesEnded(touches, event);
    sendActionsForControlEvents(ControlEventValueChanged);
}

}  // namespace ui
