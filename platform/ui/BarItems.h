// Items shown in navigation bars and tab bars: they are model objects, not
// views. Bar button items carry a weak target-action like controls do.
#pragma once

#include <functional>
#include <string>

#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace ui {

class BarButtonItem : public ns::Object {
public:
    enum class Style { Plain, Bordered, Done };
    enum class SystemItem { None, Done, Cancel, Edit, Save, Add, FlexibleSpace, FixedSpace, Compose,
                            Reply, Action, Organize, Bookmarks, Search, Refresh, Stop, Camera, Trash,
                            Play, Pause, Rewind, FastForward };

    BarButtonItem() = default;
    const char* className() const override { return "BarButtonItem"; }

    template <class T>
    static ns::Ref<BarButtonItem> withTitle(std::string title, Style style, T* target,
                                            void (T::*action)(ns::Object*)) {
        auto b = ns::make<BarButtonItem>();
        b->title_ = std::move(title);
        b->style_ = style;
        b->setTarget(target, action);
        return b;
    }
    template <class T>
    static ns::Ref<BarButtonItem> withSystemItem(SystemItem item, T* target, void (T::*action)(ns::Object*)) {
        auto b = ns::make<BarButtonItem>();
        b->system_ = item;
        b->setTarget(target, action);
        return b;
    }
    // An item without an action (a title only, e.g. a back item).
    static ns::Ref<BarButtonItem> withTitle(std::string title, Style style = Style::Bordered);
    // An item that shows a view of the caller's (its own actions apply).
    static ns::Ref<BarButtonItem> withCustomView(ns::Ref<View> view);

    template <class T>
    void setTarget(T* target, void (T::*action)(ns::Object*)) {
        target_ = target;
        hasTarget_ = target != nullptr;
        call_ = [action](ns::Object* t, ns::Object* s) { (static_cast<T*>(t)->*action)(s); };
    }
    // An action without a target (lives as long as the item).
    void setAction(std::function<void(BarButtonItem*)> fn) { plain_ = std::move(fn); }
    // What a tap does: the action with this item as sender, when the target
    // is still alive and the item is enabled. False when nothing ran.
    bool performAction();
    bool hasAction() const;

    // The text the item shows: its title, or a name for a system item
    // ("Done", "Cancel", "Edit", ...), or the custom view's label.
    std::string displayTitle() const;
    const std::string& title() const { return title_; }
    void setTitle(std::string t) { title_ = std::move(t); }
    const ns::Ref<Image>& image() const { return image_; }
    void setImage(ns::Ref<Image> i) { image_ = std::move(i); }
    Style style() const { return style_; }
    void setStyle(Style s) { style_ = s; }
    SystemItem systemItem() const { return system_; }
    const ns::Ref<View>& customView() const { return customView_; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool b) { enabled_ = b; }
    long tag() const { return tag_; }
    void setTag(long t) { tag_ = t; }
    const ns::Ref<Color>& tintColor() const { return tint_; }
    void setTintColor(ns::Ref<Color> c) { tint_ = std::move(c); }

private:
    std::string title_;
    ns::Ref<Image> image_;
    Style style_ = Style::Plain;
    SystemItem system_ = SystemItem::None;
    ns::Ref<View> customView_;
    bool enabled_ = true;
    long tag_ = 0;
    ns::Ref<Color> tint_;
    bool hasTarget_ = false;
    ns::Weak<ns::Object> target_;
    std::function<void(ns::Object*, ns::Object*)> call_;
    std::function<void(BarButtonItem*)> plain_;
};

// What a controller shows in the navigation bar while it is on top.
class NavigationItem : public ns::Object {
public:
    const char* className() const override { return "NavigationItem"; }
    // The title; when empty, the owning controller's title is shown.
    const std::string& title() const { return title_; }
    void setTitle(std::string t) { title_ = std::move(t); }
    const std::string& prompt() const { return prompt_; }
    void setPrompt(std::string p) { prompt_ = std::move(p); }
    const ns::Ref<View>& titleView() const { return titleView_; }
    void setTitleView(ns::Ref<View> v) { titleView_ = std::move(v); }
    const ns::Ref<BarButtonItem>& leftBarButtonItem() const { return left_; }
    void setLeftBarButtonItem(ns::Ref<BarButtonItem> b, bool animated = false) { left_ = std::move(b); }
    const ns::Ref<BarButtonItem>& rightBarButtonItem() const { return right_; }
    void setRightBarButtonItem(ns::Ref<BarButtonItem> b, bool animated = false) { right_ = std::move(b); }
    // The item that the NEXT controller's back button shows (its title).
    const ns::Ref<BarButtonItem>& backBarButtonItem() const { return back_; }
    void setBackBarButtonItem(ns::Ref<BarButtonItem> b) { back_ = std::move(b); }
    bool hidesBackButton() const { return hidesBack_; }
    void setHidesBackButton(bool b, bool animated = false) { hidesBack_ = b; }

private:
    std::string title_, prompt_;
    ns::Ref<View> titleView_;
    ns::Ref<BarButtonItem> left_, right_, back_;
    bool hidesBack_ = false;
};

class TabBarItem : public ns::Object {
public:
    TabBarItem() = default;
    TabBarItem(std::string title, ns::Ref<Image> image, long tag)
        : title_(std::move(title)), image_(std::move(image)), tag_(tag) {}
    const char* className() const override { return "TabBarItem"; }
    const std::string& title() const { return title_; }
    void setTitle(std::string t) { title_ = std::move(t); }
    const ns::Ref<Image>& image() const { return image_; }
    void setImage(ns::Ref<Image> i) { image_ = std::move(i); }
    long tag() const { return tag_; }
    void setTag(long t) { tag_ = t; }
    const std::string& badgeValue() const { return badge_; }
    void setBadgeValue(std::string b) { badge_ = std::move(b); }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool b) { enabled_ = b; }

private:
    std::string title_;
    ns::Ref<Image> image_;
    long tag_ = 0;
    std::string badge_;
    bool enabled_ = true;
};

}  // namespace ui
