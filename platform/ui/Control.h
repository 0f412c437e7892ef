// Controls: target-action, states, and the button and switch.
//
// Targets are weak: an action whose target is gone is skipped (and dropped).
// Actions are member functions of the target taking the sender, or nothing:
//     button->addTarget(this, &Screen::clicShare, ui::ControlEventTouchUpInside);
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/ui/Image.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

namespace ui {

enum ControlEvents : unsigned {
    ControlEventTouchDown = 1u << 0,
    ControlEventTouchDownRepeat = 1u << 1,
    ControlEventTouchDragInside = 1u << 2,
    ControlEventTouchDragOutside = 1u << 3,
    ControlEventTouchUpInside = 1u << 6,
    ControlEventTouchUpOutside = 1u << 7,
    ControlEventTouchCancel = 1u << 8,
    ControlEventValueChanged = 1u << 12,
    ControlEventEditingDidBegin = 1u << 16,
    ControlEventEditingChanged = 1u << 17,
    ControlEventEditingDidEnd = 1u << 18,
    ControlEventEditingDidEndOnExit = 1u << 19,
    ControlEventAllEvents = 0xFFFFFFFFu,
};

enum ControlState : unsigned {
    ControlStateNormal = 0,
    ControlStateHighlighted = 1,
    ControlStateDisabled = 2,
    ControlStateSelected = 4,
};

class Control : public View {
public:
    explicit Control(Rect frame = {}) : View(frame) {}
    const char* className() const override { return "Control"; }

    template <class T>
    void addTarget(T* target, void (T::*action)(ns::Object* sender), unsigned events) {
        addTargetAction(target, [action](ns::Object* t, ns::Object* s) { (static_cast<T*>(t)->*action)(s); }, events);
    }
    template <class T>
    void addTarget(T* target, void (T::*action)(), unsigned events) {
        addTargetAction(target, [action](ns::Object* t, ns::Object*) { (static_cast<T*>(t)->*action)(); }, events);
    }
    // An action without a target: the function lives as long as the control.
    void addAction(std::function<void(Control* sender)> fn, unsigned events);
    // Removes the target's actions for these events (all targets when nil).
    void removeTarget(ns::Object* target, unsigned events);
    // Runs, in the order added, every action registered for any of `events`
    // whose target is still alive.
    void sendActionsForControlEvents(unsigned events);
    // Number of live actions for the events (tests and the driver use it).
    size_t actionCountForEvents(unsigned events) const;

    bool isEnabled() const { return enabled_; }
    void setEnabled(bool b) { enabled_ = b; }
    bool isSelected() const { return selected_; }
    void setSelected(bool b) { selected_ = b; }
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool b) { highlighted_ = b; }
    unsigned state() const;

    // A touch that begins and ends inside an enabled control sends
    // TouchDown and TouchUpInside; one that ends outside sends TouchUpOutside.
    void touchesBegan(const TouchSet& touches, Event* event) override;
    void touchesMoved(const TouchSet& touches, Event* event) override;
    void touchesEnded(const TouchSet& touches, Event* event) override;
    void touchesCancelled(const TouchSet& touches, Event* event) override;

protected:
    void addTargetAction(ns::Object* target, std::function<void(ns::Object*, ns::Object*)> call,
                         unsigned events);

private:
    struct Action {
        bool hasTarget = false;
        ns::Weak<ns::Object> target;
        std::function<void(ns::Object*, ns::Object*)> call;
        std::function<void(Control*)> plain;
        unsigned events = 0;
    };
    std::vector<Action> actions_;
    bool enabled_ = true;
    bool selected_ = false;
    bool highlighted_ = false;
};

class Button : public Control {
public:
    enum class Type { Custom, RoundedRect, DetailDisclosure, InfoLight, InfoDark, ContactAdd };
    explicit Button(Rect frame = {}, Type type = Type::RoundedRect);
    const char* className() const override { return "Button"; }
    static ns::Ref<Button> buttonWithType(Type type) { return ns::make<Button>(Rect{}, type); }
    static ns::Ref<Button> make(Rect frame = {}, std::string title = {});

    Type buttonType() const { return type_; }
    // Per-state title and images; a state without its own falls back to Normal.
    void setTitle(std::string title, unsigned state = ControlStateNormal);
    std::string titleForState(unsigned state) const;
    std::string currentTitle() const { return titleForState(state()); }
    void setImage(ns::Ref<Image> image, unsigned state = ControlStateNormal);
    ns::Ref<Image> imageForState(unsigned state) const;
    ns::Ref<Image> currentImage() const { return imageForState(state()); }
    void setBackgroundImage(ns::Ref<Image> image, unsigned state = ControlStateNormal);
    ns::Ref<Image> backgroundImageForState(unsigned state) const;
    void setTitleColor(ns::Ref<Color> c, unsigned state = ControlStateNormal);
    ns::Ref<Color> titleColorForState(unsigned state) const;
    // What a person would call the button: its current title, else its
    // accessibility label, else the name of its image or background image.
    // The text screen shows it and the driver taps by it.
    std::string displayName() const;
    // The label that shows the current title (kept in step with it).
    Label* titleLabel() const { return titleLabel_.get(); }

private:
    template <class V> struct PerState {
        std::vector<std::pair<unsigned, V>> values;
        void set(unsigned s, V v);
        const V* get(unsigned s) const;
    };
    void refreshTitle();
    Type type_;
    PerState<std::string> titles_;
    PerState<ns::Ref<Image>> images_, backgrounds_;
    PerState<ns::Ref<Color>> titleColors_;
    ns::Ref<Label> titleLabel_;
};

class Switch : public Control {
public:
    explicit Switch(Rect frame = {}) : Control(frame) {}
    const char* className() const override { return "Switch"; }
    bool isOn() const { return on_; }
    void setOn(bool on, bool animated = false) { on_ = on; }
    // A tap flips the switch and sends ValueChanged.
    void touchesEnded(const TouchSet& touches, Event* event) override;

private:
    bool on_ = false;
};

}  // namespace ui
