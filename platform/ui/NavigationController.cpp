#include "platform/ui/NavigationController.h"
#include "platform/foundation/Delegate.h"

#include <algorithm>

#include "platform/foundation/Exception.h"
#include "platform/ui/Application.h"

namespace ui {

namespace {
bool contains(const std::vector<ns::Ref<ViewController>>& v, const ViewController* c) {
    return std::any_of(v.begin(), v.end(), [&](auto& x) { return x.get() == c; });
}
// A list of children that holds one controller twice, or the container
// itself, would leave a child shown by two slots (and taken off by either).
bool repeatsOrHolds(const std::vector<ns::Ref<ViewController>>& v, const ViewController* container) {
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i].get() == container) return true;
        for (size_t j = i + 1; j < v.size(); ++j)
            if (v[i] == v[j]) return true;
    }
    return false;
}
}  // namespace

// -- Container ------------------------------------------------------------------

std::vector<ViewController*> ContainerViewController::visibleChildViewControllers() const {
    if (auto* shown = shownViewController()) return {shown};
    return {};
}

std::vector<ViewController*> ContainerViewController::childViewControllers() const {
    std::vector<ViewController*> out;
    for (auto& c : heldViewControllers()) out.push_back(c.get());
    return out;
}

bool ContainerViewController::shouldAutorotate() {
    auto* shown = shownViewController();
    return shown ? shown->shouldAutorotate() : ViewController::shouldAutorotate();
}

unsigned ContainerViewController::supportedInterfaceOrientations() {
    auto* shown = shownViewController();
    return shown ? shown->supportedInterfaceOrientations() : ViewController::supportedInterfaceOrientations();
}

bool ContainerViewController::shouldAutorotateToInterfaceOrientation(InterfaceOrientation o) {
    auto* shown = shownViewController();
    return shown ? shown->shouldAutorotateToInterfaceOrientation(o) : true;
}

// -- Navigation controller ------------------------------------------------------

NavigationController::NavigationController(ns::Ref<ViewController> root) {
    if (root) {
        root->setParentViewController(this);
        stack_.push_back(std::move(root));
    }
}

ViewController* NavigationController::visibleViewController() const {
    ViewController* top = topViewController();
    return top ? top->topPresentedViewController() : nullptr;
}

NavigationBar* NavigationController::navigationBar() {
    if (!bar_) bar_ = ns::make<NavigationBar>(makeRect(0, 0, Screen::main()->bounds().width(), kBarHeight));
    return bar_.get();
}

void NavigationController::loadView() {
    auto v = View::make(Screen::main()->bounds());
    v->addSubview(ns::Ref<View>(navigationBar()));
    setView(v);
    layoutContent();
}

void NavigationController::layoutContent() {
    if (!isViewLoaded()) return;
    View* v = view();
    Rect b = v->bounds();
    NavigationBar* bar = navigationBar();
    bar->setFrame(makeRect(0, 0, b.width(), kBarHeight));
    bar->setAutoresizingMask(AutoresizingFlexibleWidth);
    bar->setHidden(barHidden_);
    // Held: a view leaving its superview is told so, and a controller's
    // first view() loads it; either may change the stack.
    ns::Ref<ViewController> top(topViewController());
    const auto stack = stack_;
    for (auto& c : stack) {
        if (c == top || !c->isViewLoaded()) continue;
        if (c->view()->superview() == v) c->view()->removeFromSuperview();
    }
    if (top) {
        View* tv = top->view();
        double y = barHidden_ ? 0 : kBarHeight;
        tv->setFrame(makeRect(0, y, b.width(), std::max(0.0, b.height() - y)));
        tv->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
        if (tv->superview() != v) v->insertSubviewBelow(ns::Ref<View>(tv), bar);
    }
    v->bringSubviewToFront(bar);
}

void NavigationController::show(ViewController* from, ViewController* to, bool animated) {
    auto keep = ns::keepAlive(this);
    ns::Ref<ViewController> keepFrom(from), keepTo(to);
    if (to) to->setInterfaceOrientationQuietly(interfaceOrientation());
    if (auto d = delegate_.lock(); d && to) d->navigationControllerWillShowViewController(this, to, animated);
    bool shown = isOnScreen();
    if (shown && from && from != to) from->beginAppearanceTransition(false, animated);
    if (shown && to && from != to) to->beginAppearanceTransition(true, animated);
    if (from && from != to && from->isViewLoaded() && isViewLoaded() && from->view()->superview() == view())
        from->view()->removeFromSuperview();
    layoutContent();
    if (shown && from && from != to) from->endAppearanceTransition();
    if (shown && to && from != to) to->endAppearanceTransition();
    if (auto d = delegate_.lock(); d && to) d->navigationControllerDidShowViewController(this, to, animated);
}

void NavigationController::pushViewController(ns::Ref<ViewController> vc, bool animated) {
    requireMainThread("pushViewController");
    if (!vc) throw ns::Exception(ns::kInvalidArgumentException, "pushViewController: nil controller");
    if (contains(stack_, vc.get()) || vc->parentViewController() || vc.get() == this)
        throw ns::Exception(ns::kInvalidArgumentException,
                            std::string("pushViewController: ") + vc->className() + " is already in a stack");
    ViewController* from = topViewController();
    vc->setParentViewController(this);
    stack_.push_back(vc);
    show(from, vc.get(), animated);
}

ns::Ref<ViewController> NavigationController::popViewControllerAnimated(bool animated) {
    requireMainThread("popViewController");
    if (stack_.size() < 2) return nullptr;
    ns::Ref<ViewController> popped = stack_.back();
    stack_.pop_back();
    show(popped.get(), topViewController(), animated);
    popped->setParentViewController(nullptr);
    return popped;
}

std::vector<ns::Ref<ViewController>> NavigationController::popToViewController(ViewController* vc, bool animated) {
    auto it = std::find_if(stack_.begin(), stack_.end(), [&](auto& x) { return x.get() == vc; });
    if (it == stack_.end() || it + 1 == stack_.end()) return {};
    std::vector<ns::Ref<ViewController>> popped(it + 1, stack_.end());
    stack_.erase(it + 1, stack_.end());
    show(popped.back().get(), topViewController(), animated);
    for (auto& p : popped) p->setParentViewController(nullptr);
    return popped;
}

std::vector<ns::Ref<ViewController>> NavigationController::popToRootViewControllerAnimated(bool animated) {
    if (stack_.empty()) return {};
    return popToViewController(stack_.front().get(), animated);
}

void NavigationController::setViewControllers(std::vector<ns::Ref<ViewController>> vcs, bool animated) {
    for (auto& c : vcs)
        if (!c || (c->parentViewController() && c->parentViewController() != this))
            throw ns::Exception(ns::kInvalidArgumentException, "setViewControllers: a controller is nil or elsewhere");
    if (repeatsOrHolds(vcs, this))
        throw ns::Exception(ns::kInvalidArgumentException, "setViewControllers: a controller is in the list twice, or the container in its own list");
    ns::Ref<ViewController> from(topViewController());
    auto old = std::move(stack_);
    stack_ = std::move(vcs);
    for (auto& c : old)
        if (!contains(stack_, c.get())) {
            c->setParentViewController(nullptr);
            if (c->isViewLoaded() && isViewLoaded() && c->view()->superview() == view()) c->view()->removeFromSuperview();
        }
    for (auto& c : stack_) c->setParentViewController(this);
    show(from.get(), topViewController(), animated);
}

void NavigationController::setNavigationBarHidden(bool hidden, bool) {
    barHidden_ = hidden;
    layoutContent();
}

std::string NavigationController::backButtonTitle() const {
    if (stack_.size() < 2) return {};
    ViewController* top = stack_.back().get();
    if (top->navigationItem()->hidesBackButton()) return {};
    ViewController* prev = stack_[stack_.size() - 2].get();
    NavigationItem* item = prev->navigationItem();
    if (item->backBarButtonItem() && !item->backBarButtonItem()->title().empty())
        return item->backBarButtonItem()->title();
    if (!item->title().empty()) return item->title();
    if (!prev->title().empty()) return prev->title();
    return "Back";
}

// -- Tab bar ----------------------------------------------------------------------

namespace {
ns::Ref<Color>& appearanceTint() {
    static ns::Ref<Color> tint;
    return tint;
}
}  // namespace

void TabBar::setAppearanceTintColor(ns::Ref<Color> c) { appearanceTint() = std::move(c); }
ns::Ref<Color> TabBar::appearanceTintColor() { return appearanceTint(); }

TabBar* TabBarController::tabBar() {
    if (!bar_) {
        Rect s = Screen::main()->bounds();
        bar_ = ns::make<TabBar>(makeRect(0, s.height() - kBarHeight, s.width(), kBarHeight));
    }
    return bar_.get();
}

void TabBarController::loadView() {
    auto v = View::make(Screen::main()->bounds());
    v->addSubview(ns::Ref<View>(tabBar()));
    setView(v);
    layoutContent();
}

void TabBarController::layoutContent() {
    if (!isViewLoaded()) return;
    View* v = view();
    Rect b = v->bounds();
    TabBar* bar = tabBar();
    bar->setFrame(makeRect(0, b.height() - kBarHeight, b.width(), kBarHeight));
    bar->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleTopMargin);
    ns::Ref<ViewController> sel(selectedViewController());
    const auto tabs = tabs_;
    for (auto& c : tabs) {
        if (c == sel || !c->isViewLoaded()) continue;
        if (c->view()->superview() == v) c->view()->removeFromSuperview();
    }
    if (sel) {
        View* sv = sel->view();
        sv->setFrame(makeRect(0, 0, b.width(), std::max(0.0, b.height() - kBarHeight)));
        sv->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
        if (sv->superview() != v) v->insertSubviewBelow(ns::Ref<View>(sv), bar);
    }
}

ViewController* TabBarController::selectedViewController() const {
    return selected_ < tabs_.size() ? tabs_[selected_].get() : nullptr;
}

void TabBarController::setViewControllers(std::vector<ns::Ref<ViewController>> vcs, bool) {
    for (auto& c : vcs)
        if (!c || (c->parentViewController() && c->parentViewController() != this))
            throw ns::Exception(ns::kInvalidArgumentException, "setViewControllers: a controller is nil or elsewhere");
    if (repeatsOrHolds(vcs, this))
        throw ns::Exception(ns::kInvalidArgumentException, "setViewControllers: a controller is in the list twice, or the container in its own list");
    auto keep = ns::keepAlive(this);
    ns::Ref<ViewController> from(selectedViewController());
    auto old = std::move(tabs_);
    tabs_ = std::move(vcs);
    for (auto& c : old)
        if (!contains(tabs_, c.get())) {
            c->setParentViewController(nullptr);
            if (c->isViewLoaded() && isViewLoaded() && c->view()->superview() == view()) c->view()->removeFromSuperview();
        }
    for (auto& c : tabs_) {
        c->setParentViewController(this);
        c->setInterfaceOrientationQuietly(interfaceOrientation());
    }
    size_t index = tabs_.empty() ? kNoSelection : 0;
    for (size_t i = 0; i < tabs_.size(); ++i)
        if (tabs_[i] == from) index = i;
    selected_ = index;
    // Held: the old tab's disappearance may change the tabs.
    ns::Ref<ViewController> to(selectedViewController());
    bool shown = isOnScreen();
    if (shown && from && from != to) from->beginAppearanceTransition(false, false);
    if (shown && to && from != to) to->beginAppearanceTransition(true, false);
    layoutContent();
    if (shown && from && from != to) from->endAppearanceTransition();
    if (shown && to && from != to) to->endAppearanceTransition();
}

void TabBarController::select(size_t index) {
    if (index >= tabs_.size() || index == selected_) return;
    auto keep = ns::keepAlive(this);
    ns::Ref<ViewController> from(selectedViewController());
    selected_ = index;
    ns::Ref<ViewController> to(selectedViewController());
    bool shown = isOnScreen();
    if (shown && from) from->beginAppearanceTransition(false, false);
    if (shown) to->beginAppearanceTransition(true, false);
    layoutContent();
    if (shown && from) from->endAppearanceTransition();
    if (shown) to->endAppearanceTransition();
}

void TabBarController::setSelectedIndex(size_t index) { select(index); }

void TabBarController::setSelectedViewController(ViewController* vc) {
    for (size_t i = 0; i < tabs_.size(); ++i)
        if (tabs_[i].get() == vc) {
            select(i);
            return;
        }
}

bool TabBarController::userSelectTab(size_t index) {
    if (index >= tabs_.size()) return false;
    auto keep = ns::keepAlive(this);
    ns::Ref<ViewController> vc = tabs_[index];
    if (!vc->tabBarItem()->isEnabled()) return false;
    if (auto d = delegate_.lock(); d && !d->tabBarControllerShouldSelectViewController(this, vc.get())) return false;
    if (index == selected_) {
        if (auto* nav = dynamic_cast<NavigationController*>(vc.get())) nav->popToRootViewControllerAnimated(true);
    } else {
        select(index);
    }
    if (auto d = delegate_.lock()) d->tabBarControllerDidSelectViewController(this, vc.get());
    return true;
}

}  // namespace ui
