#include "platform/ui/ViewController.h"
#include "platform/foundation/Delegate.h"

#include <cstdio>

#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Window.h"

namespace ui {

ViewController::ViewController() = default;
ViewController::~ViewController() = default;

// -- The view -------------------------------------------------------------------

View* ViewController::view() {
    if (!view_ && !loading_) {
        auto keep = ns::keepAlive(this);
        loading_ = true;
        loadView();
        if (!view_) setView(View::make(Screen::main()->bounds()));
        loading_ = false;
        viewDidLoad();
    }
    return view_.get();
}

void ViewController::setView(ns::Ref<View> v) {
    if (view_ && view_ != v) view_->setViewController(nullptr);
    view_ = std::move(v);
    if (view_) view_->setViewController(this);
}

void ViewController::loadView() { setView(View::make(Screen::main()->bounds())); }

// -- Items ------------------------------------------------------------------------

void ViewController::setTitle(std::string t) {
    title_ = std::move(t);
    if (tabBarItem_) tabBarItem_->setTitle(title_);
}

std::string ViewController::shownTitle() {
    for (ViewController* c = this; c;) {
        if (!c->navigationItem()->title().empty()) return c->navigationItem()->title();
        if (!c->title().empty()) return c->title();
        auto kids = c->visibleChildViewControllers();
        c = kids.empty() ? nullptr : kids.front();
    }
    return {};
}

NavigationItem* ViewController::navigationItem() {
    if (!navigationItem_) navigationItem_ = ns::make<NavigationItem>();
    return navigationItem_.get();
}

TabBarItem* ViewController::tabBarItem() {
    if (!tabBarItem_) tabBarItem_ = ns::make<TabBarItem>(title_, nullptr, 0);
    return tabBarItem_.get();
}

// -- Relations ----------------------------------------------------------------------

ViewController* ViewController::parentViewController() const { return parent_.lock().get(); }
void ViewController::setParentViewController(ViewController* p) { parent_ = p; }

NavigationController* ViewController::navigationController() const {
    for (auto* p = parentViewController(); p; p = p->parentViewController())
        if (auto* n = dynamic_cast<NavigationController*>(p)) return n;
    return nullptr;
}

TabBarController* ViewController::tabBarController() const {
    for (auto* p = parentViewController(); p; p = p->parentViewController())
        if (auto* t = dynamic_cast<TabBarController*>(p)) return t;
    return nullptr;
}

ViewController* ViewController::presentedViewController() const {
    for (const ViewController* c = this; c; c = c->parentViewController())
        if (c->presented_) return c->presented_.get();
    return nullptr;
}

ViewController* ViewController::presentingViewController() const {
    for (const ViewController* c = this; c; c = c->parentViewController())
        if (auto p = c->presenting_.lock()) return p.get();
    return nullptr;
}

Responder* ViewController::nextResponder() const { return view_ ? view_->superview() : nullptr; }

// -- Appearance ---------------------------------------------------------------------

void ViewController::beginAppearanceTransition(bool appearing, bool animated) {
    if (appearing && (appearance_ == Appearance::Appearing || appearance_ == Appearance::Appeared)) return;
    if (!appearing && (appearance_ == Appearance::Disappearing || appearance_ == Appearance::Disappeared)) return;
    auto keep = ns::keepAlive(this);
    if (appearing) view();
    appearance_ = appearing ? Appearance::Appearing : Appearance::Disappearing;
    appearanceAnimated_ = animated;
    if (appearing) viewWillAppear(animated);
    else viewWillDisappear(animated);
    for (auto& c : heldVisibleChildren()) c->beginAppearanceTransition(appearing, animated);
}

// The children shown now, held: each is told of an appearance change in
// turn, and what one does then (a tab switch, a new stack) may let another
// go while it is still to be told.
std::vector<ns::Ref<ViewController>> ViewController::heldVisibleChildren() const {
    std::vector<ns::Ref<ViewController>> out;
    for (auto* c : visibleChildViewControllers()) out.emplace_back(c);
    return out;
}

void ViewController::endAppearanceTransition() {
    auto keep = ns::keepAlive(this);
    if (appearance_ == Appearance::Appearing) {
        appearance_ = Appearance::Appeared;
        viewDidAppear(appearanceAnimated_);
    } else if (appearance_ == Appearance::Disappearing) {
        appearance_ = Appearance::Disappeared;
        viewDidDisappear(appearanceAnimated_);
    } else {
        return;
    }
    for (auto& c : heldVisibleChildren()) c->endAppearanceTransition();
}

// -- Presentation ---------------------------------------------------------------------

bool ViewController::coversScreen() const {
    if (presenting_.expired()) return false;
    return !isPad() || presentationStyle_ == ModalPresentationStyle::FullScreen ||
           presentationStyle_ == ModalPresentationStyle::CurrentContext;
}

ViewController* ViewController::topPresentedViewController() {
    ViewController* c = this;
    while (c->presented_) c = c->presented_.get();
    return c;
}

namespace {
// Frame of a presented controller's view in `window` for its style.
Rect presentedFrame(Window* window, ViewController* vc) {
    Rect full = window->boundsForOrientation(vc->interfaceOrientation());
    if (vc->coversScreen()) return full;
    Size s = vc->modalPresentationStyle() == ModalPresentationStyle::FormSheet ? makeSize(540, 620)
                                                                               : makeSize(768, full.height());
    s.width = std::min(s.width, full.width());
    s.height = std::min(s.height, full.height());
    return makeRect((full.width() - s.width) / 2, (full.height() - s.height) / 2, s.width, s.height);
}
}  // namespace

bool ViewController::presentViewController(ns::Ref<ViewController> vc, bool animated, std::function<void()> completion) {
    requireMainThread("presentViewController");
    if (!vc) return false;
    ViewController* host = this;
    while (host->parentViewController()) host = host->parentViewController();
    if (host->presented_) {
        std::fprintf(stderr, "ui: %s is already presenting %s; not presenting %s\n", host->className(),
                     host->presented_->className(), vc->className());
        return false;
    }
    if (vc.get() == host || vc->parentViewController() || !vc->presenting_.expired() || vc->isOnScreen()) {
        std::fprintf(stderr, "ui: %s is already shown; not presenting it again\n", vc->className());
        return false;
    }
    ns::Ref<ViewController> keepHost(host);
    host->presented_ = vc;
    vc->presenting_ = host;
    vc->wasPresented_ = true;

    // The presented screen takes the device's orientation when it supports
    // it, else its presenter's.
    InterfaceOrientation o = host->interfaceOrientation();
    DeviceOrientation d = Device::current()->orientation();
    if (d >= DeviceOrientation::Portrait && d <= DeviceOrientation::LandscapeRight &&
        (vc->supportedInterfaceOrientations() & maskFor(interfaceOrientationFor(d))))
        o = interfaceOrientationFor(d);
    vc->setInterfaceOrientationQuietly(o);

    View* hostView = host->isViewLoaded() ? host->view() : nullptr;
    Window* window = hostView ? hostView->window() : nullptr;
    View* v = vc->view();
    if (window) {
        bool covers = vc->coversScreen();
        v->setFrame(presentedFrame(window, vc.get()));
        v->setAutoresizingMask(covers ? AutoresizingFlexibleWidth | AutoresizingFlexibleHeight
                                      : AutoresizingFlexibleLeftMargin | AutoresizingFlexibleRightMargin |
                                            AutoresizingFlexibleTopMargin | AutoresizingFlexibleBottomMargin);
        bool hostShown = host->isOnScreen();
        if (covers && hostShown) host->beginAppearanceTransition(false, animated);
        vc->beginAppearanceTransition(true, animated);
        window->addSubview(v);
        if (covers) {
            host->coveredIndex_ = 0;
            const auto& subs = window->subviews();
            for (size_t i = 0; i < subs.size(); ++i)
                if (subs[i].get() == hostView) host->coveredIndex_ = i;
            hostView->removeFromSuperview();
        }
        if (covers && hostShown) host->endAppearanceTransition();
        vc->endAppearanceTransition();
    }
    if (completion) completion();
    return true;
}

void ViewController::dismissViewControllerAnimated(bool animated, std::function<void()> completion) {
    requireMainThread("dismissViewController");
    // The one that presents: this controller or its container when either
    // presents something, else the presenter of the screen this one is on.
    ViewController* host = nullptr;
    for (ViewController* c = this; c && !host; c = c->parentViewController())
        if (c->presented_) host = c;
    if (!host) host = presentingViewController();
    if (!host) {
        closeWithoutPresenter(animated);
        if (completion) completion();
        return;
    }
    if (!host->presented_) {
        if (completion) completion();
        return;
    }
    ns::Ref<ViewController> keepHost(host);
    // Dismiss from the top of the chain down to the one host presents.
    while (host->presented_) {
        ViewController* parent = host;
        while (parent->presented_->presented_) parent = parent->presented_.get();
        ns::Ref<ViewController> gone = parent->presented_;
        bool covers = gone->coversScreen();
        View* goneView = gone->isViewLoaded() ? gone->view() : nullptr;
        Window* window = goneView ? goneView->window() : nullptr;
        bool goneShown = gone->isOnScreen();
        if (goneShown) gone->beginAppearanceTransition(false, animated);
        bool parentReturns = window && covers && parent->isViewLoaded() && !parent->isOnScreen();
        if (parentReturns) parent->beginAppearanceTransition(true, animated);
        if (window && covers && parent->isViewLoaded()) {
            View* pv = parent->view();
            pv->setFrame(parent->presenting_.expired() ? window->boundsForOrientation(parent->interfaceOrientation())
                                                       : presentedFrame(window, parent));
            window->insertSubviewAtIndex(ns::Ref<View>(pv), std::min(parent->coveredIndex_, window->subviews().size()));
        }
        if (goneView) goneView->removeFromSuperview();
        parent->presented_ = nullptr;
        gone->presenting_ = nullptr;
        gone->wasPresented_ = false;
        if (goneShown) gone->endAppearanceTransition();
        if (parentReturns) parent->endAppearanceTransition();
    }
    if (completion) completion();
}

void ViewController::closeWithoutPresenter(bool animated) {
    // The screen this controller is on: its outermost container.
    ViewController* top = this;
    while (top->parentViewController()) top = top->parentViewController();
    if (!top->wasPresented_ || !top->presenting_.expired()) return;
    ns::Ref<ViewController> keep(top);
    top->wasPresented_ = false;
    View* v = top->isViewLoaded() ? top->view() : nullptr;
    bool shown = top->isOnScreen();
    if (shown) top->beginAppearanceTransition(false, animated);
    if (v && v->superview() && v->superview() == v->window()) v->removeFromSuperview();
    if (shown) top->endAppearanceTransition();
}

// -- Rotation -----------------------------------------------------------------------

unsigned ViewController::supportedInterfaceOrientations() {
    return isPad() ? InterfaceOrientationMaskAll : InterfaceOrientationMaskAllButUpsideDown;
}

void ViewController::setInterfaceOrientationQuietly(InterfaceOrientation o) {
    orientation_ = o;
    std::vector<ns::Ref<ViewController>> children;
    for (auto* c : childViewControllers()) children.emplace_back(c);
    for (auto& c : children) c->setInterfaceOrientationQuietly(o);
}

}  // namespace ui
