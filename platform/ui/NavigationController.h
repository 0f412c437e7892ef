// Navigation: a stack of controllers under a navigation bar, and the tab bar
// controller. Both are controllers whose view holds the child they show.
#pragma once

#include <vector>

#include "platform/foundation/Delegate.h"
#include "platform/ui/ViewController.h"

namespace ui {

class NavigationController;
class TabBarController;

enum class BarStyle { Default, Black, BlackTranslucent };

// The bar's look; its content comes from the stack's navigation items.
class NavigationBar : public View {
public:
    explicit NavigationBar(Rect frame = {}) : View(frame) {}
    const char* className() const override { return "NavigationBar"; }
    BarStyle barStyle() const { return style_; }
    void setBarStyle(BarStyle s) { style_ = s; }
    const ns::Ref<Color>& tintColor() const { return tint_; }
    void setTintColor(ns::Ref<Color> c) { tint_ = std::move(c); }
    bool isTranslucent() const { return translucent_; }
    void setTranslucent(bool b) { translucent_ = b; }
    // Items of a bar used on its own (a navigation controller's bar shows
    // its controllers' items instead); the top item is the one shown.
    const std::vector<ns::Ref<NavigationItem>>& items() const { return items_; }
    void setItems(std::vector<ns::Ref<NavigationItem>> items, bool animated = false) { items_ = std::move(items); }
    void pushNavigationItem(ns::Ref<NavigationItem> item, bool animated = false) { items_.push_back(std::move(item)); }
    NavigationItem* topItem() const { return items_.empty() ? nullptr : items_.back().get(); }

private:
    std::vector<ns::Ref<NavigationItem>> items_;
    BarStyle style_ = BarStyle::Default;
    ns::Ref<Color> tint_;
    bool translucent_ = false;
};

// A controller that holds others and shows one of them (the top of a stack,
// the selected tab): the held ones are its children, the shown one its
// visible child, and the shown one answers the rotation questions.
class ContainerViewController : public ViewController {
public:
    std::vector<ViewController*> visibleChildViewControllers() const override;
    std::vector<ViewController*> childViewControllers() const override;
    bool shouldAutorotate() override;
    unsigned supportedInterfaceOrientations() override;
    bool shouldAutorotateToInterfaceOrientation(InterfaceOrientation o) override;

protected:
    // The controllers held, in order, and the one shown (nil when none).
    virtual const std::vector<ns::Ref<ViewController>>& heldViewControllers() const = 0;
    virtual ViewController* shownViewController() const = 0;
};

class NavigationControllerDelegate {
public:
    virtual ~NavigationControllerDelegate() = default;
    virtual void navigationControllerWillShowViewController(NavigationController* nc, ViewController* vc,
                                                            bool animated) {}
    virtual void navigationControllerDidShowViewController(NavigationController* nc, ViewController* vc,
                                                           bool animated) {}
};

class NavigationController : public ContainerViewController {
public:
    static constexpr double kBarHeight = 44;

    NavigationController() = default;
    explicit NavigationController(ns::Ref<ViewController> root);
    const char* className() const override { return "NavigationController"; }
    static ns::Ref<NavigationController> withRoot(ns::Ref<ViewController> root) {
        return ns::make<NavigationController>(std::move(root));
    }

    // The stack, bottom first.
    const std::vector<ns::Ref<ViewController>>& viewControllers() const { return stack_; }
    // Replaces the whole stack (the new top appears when on screen).
    void setViewControllers(std::vector<ns::Ref<ViewController>> vcs, bool animated = false);
    ViewController* topViewController() const { return stack_.empty() ? nullptr : stack_.back().get(); }
    // The top controller, or what the top presents modally.
    ViewController* visibleViewController() const;

    // Pushes `vc` on top. Pushing a controller that is already in a stack
    // (this one or another) raises InvalidArgumentException.
    virtual void pushViewController(ns::Ref<ViewController> vc, bool animated);
    // Pops the top controller and returns it; nil (and nothing happens) when
    // only the root is left.
    virtual ns::Ref<ViewController> popViewControllerAnimated(bool animated);
    // Pops down to `vc` (which must be in the stack) / to the root; returns
    // the controllers popped, bottom first.
    std::vector<ns::Ref<ViewController>> popToViewController(ViewController* vc, bool animated);
    std::vector<ns::Ref<ViewController>> popToRootViewControllerAnimated(bool animated);

    bool isNavigationBarHidden() const { return barHidden_; }
    void setNavigationBarHidden(bool hidden, bool animated = false);
    NavigationBar* navigationBar();
    // The title the top controller's back button shows: the item below's
    // back item title, else its title, else "Back"; empty at the root or
    // when the top hides its back button.
    std::string backButtonTitle() const;

    NavigationControllerDelegate* delegate() const { return delegate_.get(); }
    void setDelegate(NavigationControllerDelegate* d) { delegate_ = d; }

    void loadView() override;

    // Lays the bar and the top controller's view out in this view.
    void layoutContent();

protected:
    const std::vector<ns::Ref<ViewController>>& heldViewControllers() const override { return stack_; }
    ViewController* shownViewController() const override { return topViewController(); }

private:
    void show(ViewController* from, ViewController* to, bool animated);
    std::vector<ns::Ref<ViewController>> stack_;
    bool barHidden_ = false;
    ns::Ref<NavigationBar> bar_;
    ns::WeakDelegate<NavigationControllerDelegate> delegate_;
};

// The bar along the bottom of a tab bar controller.
class TabBar : public View {
public:
    explicit TabBar(Rect frame = {}) : View(frame) {}
    const char* className() const override { return "TabBar"; }
    const ns::Ref<Color>& tintColor() const { return tint_; }
    void setTintColor(ns::Ref<Color> c) { tint_ = std::move(c); }
    // Appearance defaults for every tab bar made afterwards.
    static void setAppearanceTintColor(ns::Ref<Color> c);
    static ns::Ref<Color> appearanceTintColor();

private:
    ns::Ref<Color> tint_ = appearanceTintColor();
};

class TabBarControllerDelegate {
public:
    virtual ~TabBarControllerDelegate() = default;
    virtual bool tabBarControllerShouldSelectViewController(TabBarController* tc, ViewController* vc) {
        return true;
    }
    virtual void tabBarControllerDidSelectViewController(TabBarController* tc, ViewController* vc) {}
};

class TabBarController : public ContainerViewController {
public:
    static constexpr double kBarHeight = 49;
    static constexpr size_t kNoSelection = static_cast<size_t>(-1);

    const char* className() const override { return "TabBarController"; }

    const std::vector<ns::Ref<ViewController>>& viewControllers() const { return tabs_; }
    // Sets the tabs; the first one is selected (or the previous selection
    // when it is still among them).
    void setViewControllers(std::vector<ns::Ref<ViewController>> vcs, bool animated = false);
    size_t selectedIndex() const { return selected_; }
    // Selection in code: no delegate calls.
    void setSelectedIndex(size_t index);
    ViewController* selectedViewController() const;
    void setSelectedViewController(ViewController* vc);
    // What a tap on tab `index` does: asks the delegate, selects, tells the
    // delegate. A tap on the selected tab pops its navigation stack to the
    // root. False when the index is out of range or the delegate refused.
    bool userSelectTab(size_t index);
    TabBar* tabBar();

    TabBarControllerDelegate* delegate() const { return delegate_.get(); }
    void setDelegate(TabBarControllerDelegate* d) { delegate_ = d; }

    void loadView() override;

    void layoutContent();

protected:
    const std::vector<ns::Ref<ViewController>>& heldViewControllers() const override { return tabs_; }
    ViewController* shownViewController() const override { return selectedViewController(); }

private:
    void select(size_t index);
    std::vector<ns::Ref<ViewController>> tabs_;
    size_t selected_ = kNoSelection;
    ns::Ref<TabBar> bar_;
    ns::WeakDelegate<TabBarControllerDelegate> delegate_;
};

}  // namespace ui
