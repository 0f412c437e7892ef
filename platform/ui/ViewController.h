// View controllers: a lazily loaded view, the appearance life cycle, the
// navigation/tab items, rotation questions and modal presentation.
//
// Life cycle: view() loads the view on first use (loadView, then
// viewDidLoad). When the controller's view enters or leaves the screen the
// controller gets viewWillAppear -> viewDidAppear, or viewWillDisappear ->
// viewDidDisappear; containers forward these to the child they show. Each
// call comes once per change (no double "will appear").
//
// Navigation pushes, tab switches and modal presentation finish at once,
// also when "animated": the callbacks of both sides run before the call
// returns (will-disappear, will-appear, did-disappear, did-appear).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/ui/BarItems.h"
#include "platform/ui/Responder.h"
#include "platform/ui/View.h"

namespace ui {

class NavigationController;
class TabBarController;
class Window;

enum class ModalPresentationStyle { FullScreen, PageSheet, FormSheet, CurrentContext };
enum class ModalTransitionStyle { CoverVertical, FlipHorizontal, CrossDissolve, PartialCurl };

class ViewController : public Responder {
public:
    ViewController();
    ~ViewController() override;
    const char* className() const override { return "ViewController"; }

    // -- The view -------------------------------------------------------------
    // The main view, loaded on first use (loadView, then viewDidLoad).
    View* view();
    ns::Ref<View> viewRef() { return ns::Ref<View>(view()); }
    bool isViewLoaded() const { return static_cast<bool>(view_); }
    // Installs a view without loading (viewDidLoad is not sent).
    void setView(ns::Ref<View> v);
    // Builds the main view. The default makes a plain view the size of the
    // screen. Subclasses build their outlets here (the "interface file").
    virtual void loadView();
    virtual void viewDidLoad() {}

    virtual void viewWillAppear(bool animated) {}
    virtual void viewDidAppear(bool animated) {}
    virtual void viewWillDisappear(bool animated) {}
    virtual void viewDidDisappear(bool animated) {}
    // True between viewWillAppear and viewWillDisappear.
    bool isOnScreen() const { return appearance_ == Appearance::Appearing || appearance_ == Appearance::Appeared; }

    // -- Items and titles -----------------------------------------------------
    const std::string& title() const { return title_; }
    void setTitle(std::string t);
    // The title a person reads on this screen: its navigation item's or its
    // own, else that of its first shown child; empty when none has one.
    std::string shownTitle();
    NavigationItem* navigationItem();
    TabBarItem* tabBarItem();
    void setTabBarItem(ns::Ref<TabBarItem> item) { tabBarItem_ = std::move(item); }
    bool hidesBottomBarWhenPushed() const { return hidesBottomBar_; }
    void setHidesBottomBarWhenPushed(bool b) { hidesBottomBar_ = b; }

    // -- Relations ------------------------------------------------------------
    ViewController* parentViewController() const;
    // The nearest navigation / tab bar controller above this one, or nil.
    NavigationController* navigationController() const;
    TabBarController* tabBarController() const;
    // The children a container shows now (nav: top; tab: selected).
    virtual std::vector<ViewController*> visibleChildViewControllers() const { return {}; }
    // Every child a container holds.
    virtual std::vector<ViewController*> childViewControllers() const { return {}; }

    // -- Modal presentation ---------------------------------------------------
    // Presents `vc` over this controller's screen (over the whole window for
    // the full-screen style; a form sheet leaves the screen below visible).
    // The presenting controller is this one's outermost container. A
    // controller that already presents one refuses (returns false), as does
    // presenting a controller that is already shown somewhere.
    bool presentViewController(ns::Ref<ViewController> vc, bool animated,
                               std::function<void()> completion = {});
    bool presentModalViewController(ns::Ref<ViewController> vc, bool animated) {
        return presentViewController(std::move(vc), animated);
    }
    // On a controller that presents one (itself or through the container
    // that holds it, which is where presentations hang): dismisses what is
    // presented (and anything above that). Otherwise, on a presented
    // controller or a child of one: asks its presenter to dismiss it; when
    // that presenter has gone (let go while it presented), the presented
    // screen closes all the same: it leaves the window and disappears, and
    // the screen under it stays. Completion runs when done (at once).
    void dismissViewControllerAnimated(bool animated, std::function<void()> completion = {});
    void dismissModalViewControllerAnimated(bool animated) { dismissViewControllerAnimated(animated); }
    // What this controller, or the container above it, presents; nil when
    // nothing is.
    ViewController* presentedViewController() const;
    ViewController* modalViewController() const { return presentedViewController(); }
    ViewController* presentingViewController() const;
    ModalPresentationStyle modalPresentationStyle() const { return presentationStyle_; }
    void setModalPresentationStyle(ModalPresentationStyle s) { presentationStyle_ = s; }
    ModalTransitionStyle modalTransitionStyle() const { return transitionStyle_; }
    void setModalTransitionStyle(ModalTransitionStyle s) { transitionStyle_ = s; }
    // True when presented full screen (it then covers the presenter).
    bool coversScreen() const;

    // -- Rotation -------------------------------------------------------------
    InterfaceOrientation interfaceOrientation() const { return orientation_; }
    // Asked, in this order, when the device turns: shouldAutorotate, then
    // supportedInterfaceOrientations, then shouldAutorotateToInterfaceOrientation
    // with the new orientation. All must agree for the interface to turn.
    virtual bool shouldAutorotate() { return true; }
    // Default: all but upside down on the phone idiom, all four on the tablet.
    virtual unsigned supportedInterfaceOrientations();
    virtual bool shouldAutorotateToInterfaceOrientation(InterfaceOrientation o) { return true; }
    virtual void willRotateToInterfaceOrientation(InterfaceOrientation o, double duration) {}
    virtual void willAnimateRotationToInterfaceOrientation(InterfaceOrientation o, double duration) {}
    virtual void didRotateFromInterfaceOrientation(InterfaceOrientation from) {}

    Responder* nextResponder() const override;

    // -- Used by containers, windows and the driver ---------------------------
    // Moves the appearance state and sends the callbacks to this controller
    // and its visible children; a call that changes nothing sends nothing.
    void beginAppearanceTransition(bool appearing, bool animated);
    void endAppearanceTransition();
    void setParentViewController(ViewController* parent);
    // Sets the orientation here and in every child, without callbacks.
    void setInterfaceOrientationQuietly(InterfaceOrientation o);
    // The controller at the top of the presentation chain (this one when
    // nothing is presented).
    ViewController* topPresentedViewController();

protected:
    enum class Appearance { Disappeared, Appearing, Appeared, Disappearing };
    Appearance appearance() const { return appearance_; }

private:
    std::vector<ns::Ref<ViewController>> heldVisibleChildren() const;
    // Closes the screen this controller is on when it was presented by a
    // controller that has gone since; nothing otherwise.
    void closeWithoutPresenter(bool animated);
    friend class Window;
    ns::Ref<View> view_;
    bool loading_ = false;
    std::string title_;
    ns::Ref<NavigationItem> navigationItem_;
    ns::Ref<TabBarItem> tabBarItem_;
    bool hidesBottomBar_ = false;
    ns::Weak<ViewController> parent_;
    ns::Ref<ViewController> presented_;
    ns::Weak<ViewController> presenting_;
    bool wasPresented_ = false;  // presented and not dismissed since (its presenter may have gone)
    ModalPresentationStyle presentationStyle_ = ModalPresentationStyle::FullScreen;
    ModalTransitionStyle transitionStyle_ = ModalTransitionStyle::CoverVertical;
    InterfaceOrientation orientation_ = InterfaceOrientation::Portrait;
    Appearance appearance_ = Appearance::Disappeared;
    bool appearanceAnimated_ = false;
    size_t coveredIndex_ = 0;  // place of the view in the window while covered
};

}  // namespace ui
