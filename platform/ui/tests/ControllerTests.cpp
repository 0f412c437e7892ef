#include <gtest/gtest.h>

#include "platform/foundation/Exception.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "testsupport/UITest.h"

using testsupport::UITest;
using testsupport::Log;

namespace ui::test {
namespace {

using ControllerTest = UITest;

// A controller that logs its life cycle as "name:event".
struct Logged : ViewController {
    Logged(std::string n, Log* l) : name(std::move(n)), log(l) { setTitle(name); }
    std::string name;
    Log* log;
    unsigned mask = InterfaceOrientationMaskAll;
    bool autorotate = true;
    std::function<void()> onShouldAutorotate;
    void loadView() override {
        log->add(name + ":load");
        ViewController::loadView();
    }
    void viewDidLoad() override { log->add(name + ":didLoad"); }
    void viewWillAppear(bool) override { log->add(name + ":willAppear"); }
    void viewDidAppear(bool) override { log->add(name + ":didAppear"); }
    void viewWillDisappear(bool) override { log->add(name + ":willDisappear"); }
    void viewDidDisappear(bool) override { log->add(name + ":didDisappear"); }
    bool shouldAutorotate() override {
        if (onShouldAutorotate) onShouldAutorotate();
        return autorotate;
    }
    unsigned supportedInterfaceOrientations() override { return mask; }
    void willRotateToInterfaceOrientation(InterfaceOrientation o, double) override {
        log->add(name + ":willRotate" + std::to_string(int(o)));
    }
    void didRotateFromInterfaceOrientation(InterfaceOrientation o) override {
        log->add(name + ":didRotateFrom" + std::to_string(int(o)));
    }
};

TEST_F(ControllerTest, ViewLoadsOnceOnFirstUse) {
    Log log;
    auto vc = ns::make<Logged>("a", &log);
    EXPECT_FALSE(vc->isViewLoaded());
    View* v = vc->view();
    EXPECT_EQ(vc->view(), v);
    EXPECT_EQ(log.joined(), "a:load,a:didLoad");
    EXPECT_EQ(v->viewController(), vc.get());
    EXPECT_EQ(v->nextResponder(), vc.get());
}

TEST_F(ControllerTest, RootAppearsWhenTheWindowIsShownAndWhenReplaced) {
    Log log;
    auto w = ns::make<Window>(Screen::main()->bounds());
    auto a = ns::make<Logged>("a", &log);
    w->setRootViewController(a);
    EXPECT_EQ(log.joined(), "a:load,a:didLoad");
    log.clear();
    w->makeKeyAndVisible();
    EXPECT_EQ(log.joined(), "a:willAppear,a:didAppear");
    EXPECT_EQ(Application::shared()->keyWindow(), w.get());
    log.clear();
    auto b = ns::make<Logged>("b", &log);
    w->setRootViewController(b);
    EXPECT_EQ(log.joined(), "a:willDisappear,b:load,b:didLoad,b:willAppear,a:didDisappear,b:didAppear");
    EXPECT_EQ(a->view()->superview(), nullptr);
    EXPECT_EQ(b->view()->superview(), w.get());
}

TEST_F(ControllerTest, NavigationStackPushPopOrderAndTitles) {
    Log log;
    auto w = makeWindow();
    auto root = ns::make<Logged>("root", &log);
    auto nav = NavigationController::withRoot(root);
    w->setRootViewController(nav);
    EXPECT_EQ(log.joined(), "root:load,root:didLoad,root:willAppear,root:didAppear");
    log.clear();

    auto second = ns::make<Logged>("second", &log);
    nav->pushViewController(second, true);
    EXPECT_EQ(log.joined(), "root:willDisappear,second:load,second:didLoad,second:willAppear,"
                            "root:didDisappear,second:didAppear");
    EXPECT_EQ(nav->topViewController(), second.get());
    EXPECT_EQ(second->navigationController(), nav.get());
    EXPECT_EQ(nav->backButtonTitle(), "root");
    root->navigationItem()->setBackBarButtonItem(BarButtonItem::withTitle("Deck"));
    EXPECT_EQ(nav->backButtonTitle(), "Deck");
    EXPECT_EQ(second->view()->superview(), nav->view());
    EXPECT_EQ(root->view()->superview(), nullptr);
    EXPECT_DOUBLE_EQ(second->view()->frame().y(), NavigationController::kBarHeight);
    nav->setNavigationBarHidden(true);
    EXPECT_DOUBLE_EQ(second->view()->frame().y(), 0);

    EXPECT_THROW(nav->pushViewController(second, false), ns::Exception);

    log.clear();
    auto popped = nav->popViewControllerAnimated(true);
    EXPECT_EQ(popped, second);
    EXPECT_EQ(log.joined(), "second:willDisappear,root:willAppear,second:didDisappear,root:didAppear");
    EXPECT_EQ(second->navigationController(), nullptr);
    EXPECT_EQ(second->view()->superview(), nullptr);
    EXPECT_EQ(root->view()->superview(), nav->view());
    EXPECT_EQ(nav->popViewControllerAnimated(true), nullptr);  // the root stays
    EXPECT_EQ(nav->viewControllers().size(), 1u);
}

TEST_F(ControllerTest, PopToRootSkipsTheMiddle) {
    Log log;
    auto w = makeWindow();
    auto nav = NavigationController::withRoot(ns::make<Logged>("r", &log));
    w->setRootViewController(nav);
    nav->pushViewController(ns::make<Logged>("m", &log), false);
    nav->pushViewController(ns::make<Logged>("t", &log), false);
    log.clear();
    auto popped = nav->popToRootViewControllerAnimated(true);
    EXPECT_EQ(popped.size(), 2u);
    EXPECT_EQ(log.joined(), "t:willDisappear,r:willAppear,t:didDisappear,r:didAppear");

    // A stack set whole: a controller taken off leaves a view that lives
    // elsewhere where it is, and one never shown is not loaded for it.
    auto elsewhere = View::make(makeRect(0, 0, 10, 10));
    elsewhere->addSubview(ns::Ref<View>(popped[0]->view()));
    auto never = ns::make<Logged>("never", &log);
    ns::Ref<ViewController> top(nav->topViewController());
    nav->setViewControllers({never, popped[0], top}, false);
    nav->setViewControllers({top}, false);
    EXPECT_EQ(popped[0]->view()->superview(), elsewhere.get());
    EXPECT_FALSE(never->isViewLoaded());
    // One controller twice in a stack, side by side or apart, or the
    // navigation controller inside itself, is refused and the stack kept.
    const std::pair<const char*, std::vector<ns::Ref<ViewController>>> twice[] = {
        {"side by side", {never, never}},
        {"apart", {never, top, never}},
        {"the top twice", {top, top}},
        {"inside itself", {never, nav}}};
    for (const auto& [name, stack] : twice) {
        EXPECT_THROW(nav->setViewControllers(stack, false), ns::Exception) << name;
        EXPECT_EQ(nav->viewControllers(), std::vector<ns::Ref<ViewController>>{top}) << name;
        EXPECT_EQ(never->parentViewController(), nullptr) << name;
    }
    // Only what the list holds counts: one whose repeated last entry was
    // taken off (its room kept) is fine.
    std::vector<ns::Ref<ViewController>> list{never, top, never};
    list.pop_back();
    EXPECT_NO_THROW(nav->setViewControllers(std::move(list), false));
    EXPECT_EQ(nav->viewControllers(), (std::vector<ns::Ref<ViewController>>{never, top}));
    EXPECT_FALSE(never->isViewLoaded());
    // A stack set on a controller that was never shown loads no view.
    auto hidden = NavigationController::withRoot(ns::make<Logged>("h", &log));
    hidden->setViewControllers({ns::make<Logged>("h2", &log)}, false);
    EXPECT_FALSE(hidden->isViewLoaded());
}

struct TabWatcher : ns::Object, TabBarControllerDelegate {
    std::vector<std::string> seen;
    bool allow = true;
    bool tabBarControllerShouldSelectViewController(TabBarController*, ViewController* vc) override {
        return allow;
    }
    void tabBarControllerDidSelectViewController(TabBarController*, ViewController* vc) override {
        seen.push_back(vc->title());
    }
};

TEST_F(ControllerTest, TabBarSelectsAndTellsItsDelegate) {
    Log log;
    auto w = makeWindow();
    auto tabs = ns::make<TabBarController>();
    auto one = NavigationController::withRoot(ns::make<Logged>("one", &log));
    one->setTitle("One");
    auto two = ns::make<Logged>("two", &log);
    tabs->setViewControllers({one, two});
    w->setRootViewController(tabs);
    EXPECT_EQ(tabs->selectedIndex(), 0u);
    auto watcher = ns::make<TabWatcher>();
    tabs->setDelegate(watcher.get());
    log.clear();
    EXPECT_TRUE(tabs->userSelectTab(1));
    EXPECT_EQ(log.joined(), "one:willDisappear,two:load,two:didLoad,two:willAppear,one:didDisappear,two:didAppear");
    EXPECT_EQ(watcher->seen, std::vector<std::string>{"two"});
    watcher->allow = false;
    EXPECT_FALSE(tabs->userSelectTab(0));
    EXPECT_EQ(tabs->selectedIndex(), 1u);
    EXPECT_FALSE(tabs->userSelectTab(5));

    // A tap on the selected navigation tab returns it to its root.
    watcher->allow = true;
    tabs->userSelectTab(0);
    one->pushViewController(ns::make<Logged>("deep", &log), false);
    tabs->userSelectTab(0);
    EXPECT_EQ(one->viewControllers().size(), 1u);

    // The same controllers may be set again, in another order, keeping the
    // selected one; a controller that belongs to another tab bar may not.
    log.clear();
    tabs->setViewControllers({two, one});
    EXPECT_EQ(tabs->selectedIndex(), 1u);
    EXPECT_EQ(log.joined(), "");  // the shown one stays shown
    // New controllers: the first is shown in place of the old ones.
    auto three = ns::make<Logged>("three", &log);
    tabs->setViewControllers({three});
    EXPECT_EQ(three->view()->superview(), tabs->view());
    EXPECT_EQ(one->view()->superview(), nullptr);
    EXPECT_EQ(log.joined(), "one:willDisappear,three:load,three:didLoad,three:willAppear,one:didDisappear,three:didAppear");
    // A tab bar that is not on screen tells nobody that anything appears.
    auto offScreen = ns::make<TabBarController>();
    auto four = ns::make<Logged>("four", &log);
    auto five = ns::make<Logged>("five", &log);
    offScreen->setViewControllers({four});
    offScreen->view();
    log.clear();
    offScreen->setViewControllers({five});
    offScreen->setSelectedIndex(0);
    EXPECT_EQ(log.joined().find("Appear"), std::string::npos) << log.joined();
    // Choosing a tab by its controller: that one, and one that is no tab changes nothing.
    auto six = ns::make<Logged>("six", &log), seven = ns::make<Logged>("seven", &log);
    offScreen->setViewControllers({five, six, seven});
    offScreen->setSelectedViewController(six.get());
    EXPECT_EQ(offScreen->selectedIndex(), 1u);
    offScreen->setSelectedViewController(four.get());
    EXPECT_EQ(offScreen->selectedIndex(), 1u);
    offScreen->setSelectedIndex(3);
    EXPECT_EQ(offScreen->selectedIndex(), 1u);
    auto other = ns::make<TabBarController>();
    EXPECT_THROW(other->setViewControllers({three}), ns::Exception);
    EXPECT_THROW(other->setViewControllers({nullptr}), ns::Exception);
    auto eight = ns::make<Logged>("eight", &log);
    EXPECT_THROW(other->setViewControllers({eight, eight}), ns::Exception);  // one controller, two tabs
    EXPECT_EQ(eight->parentViewController(), nullptr);
    EXPECT_THROW(other->setViewControllers({other}), ns::Exception);
    EXPECT_THROW(offScreen->setViewControllers({six, five, six}), ns::Exception);
    EXPECT_EQ(offScreen->viewControllers(), (std::vector<ns::Ref<ViewController>>{five, six, seven}));
    // None at all: the last one leaves.
    log.clear();
    tabs->setViewControllers({});
    EXPECT_EQ(log.joined(), "three:willDisappear,three:didDisappear");
}

TEST_F(ControllerTest, ModalPresentationCoversAndReturns) {
    Log log;
    auto w = makeWindow();
    auto root = ns::make<Logged>("root", &log);
    auto nav = NavigationController::withRoot(root);
    w->setRootViewController(nav);
    auto modal = ns::make<Logged>("modal", &log);
    log.clear();
    EXPECT_TRUE(root->presentModalViewController(modal, true));
    EXPECT_EQ(log.joined(), "modal:load,modal:didLoad,root:willDisappear,modal:willAppear,"
                            "root:didDisappear,modal:didAppear");
    // The presenter is the outermost container of the caller.
    EXPECT_EQ(modal->presentingViewController(), nav.get());
    EXPECT_EQ(nav->presentedViewController(), modal.get());
    EXPECT_EQ(w->topViewController(), modal.get());
    EXPECT_EQ(nav->view()->superview(), nullptr);
    EXPECT_FALSE(root->presentModalViewController(ns::make<Logged>("other", &log), false));

    log.clear();
    modal->dismissModalViewControllerAnimated(true);  // dismisses itself through its presenter
    EXPECT_EQ(log.joined(), "modal:willDisappear,root:willAppear,modal:didDisappear,root:didAppear");
    EXPECT_EQ(nav->presentedViewController(), nullptr);
    EXPECT_EQ(modal->presentingViewController(), nullptr);
    EXPECT_EQ(nav->view()->superview(), w.get());

    // The screen that asked (a child of the presenter) sees what its
    // container presents and dismisses it, as a mail screen closes its
    // composer; asked again with nothing presented, it does nothing.
    ASSERT_TRUE(root->presentViewController(modal, true));
    EXPECT_EQ(root->presentedViewController(), modal.get());
    log.clear();
    root->dismissViewControllerAnimated(true);
    EXPECT_EQ(log.joined(), "modal:willDisappear,root:willAppear,modal:didDisappear,root:didAppear");
    EXPECT_EQ(w->topViewController(), nav.get());
    EXPECT_EQ(root->presentedViewController(), nullptr);
    log.clear();
    root->dismissViewControllerAnimated(true);
    EXPECT_EQ(log.joined(), "");
    EXPECT_TRUE(root->isOnScreen());

    // A presenter in no window (loaded, never shown) neither disappears nor
    // returns: what it presented comes and goes without telling it.
    auto offScreen = ns::make<Logged>("off", &log);
    offScreen->view();
    auto shown = ns::make<Logged>("shown", &log);
    ASSERT_TRUE(offScreen->presentViewController(shown, false));
    log.clear();
    offScreen->dismissViewControllerAnimated(false);
    EXPECT_EQ(offScreen->presentedViewController(), nullptr);
    EXPECT_EQ(log.joined().find("off:"), std::string::npos) << log.joined();
    EXPECT_FALSE(offScreen->isOnScreen());
}

TEST_F(ControllerTest, FormSheetOnTheTabletLeavesThePresenterShown) {
    Device::current()->setUserInterfaceIdiom(UserInterfaceIdiom::Pad);
    Log log;
    auto w = makeWindow();
    auto root = ns::make<Logged>("root", &log);
    w->setRootViewController(root);
    auto sheet = ns::make<Logged>("sheet", &log);
    sheet->setModalPresentationStyle(ModalPresentationStyle::FormSheet);
    log.clear();
    root->presentViewController(sheet, true);
    EXPECT_EQ(log.joined(), "sheet:load,sheet:didLoad,sheet:willAppear,sheet:didAppear");
    EXPECT_FALSE(sheet->coversScreen());
    EXPECT_EQ(sheet->view()->frame(), makeRect(114, 202, 540, 620));
    // Around the sheet the touches go to the window, not to the screen
    // below; in the sheet they reach its view.
    EXPECT_EQ(w->hitTest({20, 20}, nullptr), w.get());
    EXPECT_EQ(w->hitTest({384, 512}, nullptr), sheet->view());
    log.clear();
    bool completed = false;
    root->dismissViewControllerAnimated(true, [&] { completed = true; });
    EXPECT_TRUE(completed);
    EXPECT_EQ(log.joined(), "sheet:willDisappear,sheet:didDisappear");
    EXPECT_EQ(w->hitTest({20, 20}, nullptr), root->view());

    // A screen inside a sheet (its navigation controller presents for it)
    // closes what it presented first, then the sheet itself.
    auto inner = ns::make<Logged>("inner", &log);
    auto sheetNav = NavigationController::withRoot(inner);
    sheetNav->setModalPresentationStyle(ModalPresentationStyle::FormSheet);
    ASSERT_TRUE(root->presentViewController(sheetNav, false));
    auto composer = ns::make<Logged>("composer", &log);
    ASSERT_TRUE(inner->presentViewController(composer, false));
    EXPECT_EQ(composer->presentingViewController(), sheetNav.get());
    inner->dismissViewControllerAnimated(false);
    EXPECT_EQ(w->topViewController(), sheetNav.get());
    inner->dismissViewControllerAnimated(false);
    EXPECT_EQ(w->topViewController(), root.get());
}

TEST_F(ControllerTest, RotationAsksTheTopControllerAndTurnsTheTree) {
    Log log;
    auto w = makeWindow();
    auto root = ns::make<Logged>("root", &log);
    auto nav = NavigationController::withRoot(root);
    w->setRootViewController(nav);
    log.clear();
    root->mask = InterfaceOrientationMaskPortrait;
    Device::current()->setOrientation(DeviceOrientation::LandscapeLeft);
    EXPECT_EQ(log.joined(), "");
    EXPECT_EQ(root->interfaceOrientation(), InterfaceOrientation::Portrait);

    root->mask = InterfaceOrientationMaskAll;
    Device::current()->setOrientation(DeviceOrientation::LandscapeRight);
    EXPECT_EQ(root->interfaceOrientation(), InterfaceOrientation::LandscapeLeft);
    EXPECT_EQ(log.joined(), "root:willRotate4,root:didRotateFrom1");
    EXPECT_EQ(nav->view()->frame(), makeRect(0, 0, 480, 320));
    EXPECT_EQ(root->view()->frame().width(), 480);
}

TEST_F(ControllerTest, AControllerMayPresentWhileAskedAboutRotation) {
    // A portrait-only page that shows a landscape copy of itself when the
    // device turns, and the copy that goes away on the way back.
    Log log;
    auto w = makeWindow();
    auto page = ns::make<Logged>("page", &log);
    page->mask = InterfaceOrientationMaskPortrait;
    auto nav = NavigationController::withRoot(page);
    w->setRootViewController(nav);
    ns::Ref<Logged> full;
    page->onShouldAutorotate = [&] {
        if (isLandscape(Device::current()->orientation()) && !page->presentedViewController() &&
            !nav->presentedViewController()) {
            full = ns::make<Logged>("full", &log);
            full->onShouldAutorotate = [&] {
                if (!isLandscape(Device::current()->orientation())) full->dismissViewControllerAnimated(false);
            };
            page->presentViewController(full, false);
        }
    };
    Device::current()->setOrientation(DeviceOrientation::LandscapeLeft);
    ASSERT_TRUE(full);
    EXPECT_EQ(w->topViewController(), full.get());
    EXPECT_EQ(full->interfaceOrientation(), InterfaceOrientation::LandscapeRight);
    EXPECT_EQ(page->interfaceOrientation(), InterfaceOrientation::Portrait);
    Device::current()->setOrientation(DeviceOrientation::Portrait);
    EXPECT_EQ(w->topViewController(), nav.get());
}

}  // namespace
}  // namespace ui::test

#include "platform/foundation/NotificationCenter.h"

namespace ui::test {
namespace {

TEST_F(ControllerTest, LifeCycleAndOrientationArePostedAsNotifications) {
    std::vector<std::string> seen;
    auto center = ns::NotificationCenter::defaultCenter();
    auto t1 = center->addObserver(kApplicationDidBecomeActiveNotification, nullptr,
                                  [&](const ns::Notification& n) { seen.push_back(n.name()); });
    auto t2 = center->addObserver(kDeviceOrientationDidChangeNotification, nullptr,
                                  [&](const ns::Notification& n) { seen.push_back(n.name()); });
    auto t3 = center->addObserver(kApplicationWillResignActiveNotification, nullptr,
                                  [&](const ns::Notification& n) { seen.push_back(n.name()); });
    Application::shared()->launch(nullptr);
    Device::current()->setOrientation(DeviceOrientation::LandscapeLeft);
    Application::shared()->enterBackground();
    EXPECT_EQ(seen, (std::vector<std::string>{kApplicationDidBecomeActiveNotification,
                                              kDeviceOrientationDidChangeNotification,
                                              kApplicationWillResignActiveNotification}));
    EXPECT_EQ(Application::shared()->applicationState(), ApplicationState::Background);
}

}  // namespace
}  // namespace ui::test

#include "platform/ui/AlertView.h"

namespace ui::test {
namespace {

TEST_F(ControllerTest, DismissingAPresenterTakesEverythingAboveIt) {
    Log log;
    auto w = makeWindow();
    auto root = ns::make<Logged>("root", &log);
    w->setRootViewController(root);
    auto first = ns::make<Logged>("first", &log);
    auto second = ns::make<Logged>("second", &log);
    root->presentViewController(first, false);
    first->presentViewController(second, false);
    EXPECT_EQ(w->topViewController(), second.get());
    EXPECT_EQ(second->presentingViewController(), first.get());
    log.clear();
    root->dismissViewControllerAnimated(false);
    EXPECT_EQ(w->topViewController(), root.get());
    EXPECT_EQ(first->presentingViewController(), nullptr);
    EXPECT_EQ(second->presentingViewController(), nullptr);
    EXPECT_TRUE(root->isOnScreen());
    EXPECT_FALSE(first->isOnScreen());
    EXPECT_FALSE(second->isOnScreen());
    EXPECT_EQ(w->subviews().size(), 1u);
    EXPECT_EQ(w->subviews()[0].get(), root->view());

    // A presented screen whose presenter has gone (the window took another
    // root, and the old one was let go) still closes when asked, from
    // itself or from a child: it leaves the window and disappears, and the
    // screen under it stays; asked again, nothing more happens.
    for (bool fromChild : {false, true}) {
        SCOPED_TRACE(fromChild ? "asked by a child" : "asked by itself");
        auto old = ns::make<Logged>("old", &log);
        w->setRootViewController(old);
        auto child = ns::make<Logged>("child", &log);
        auto sheet = NavigationController::withRoot(child);
        ASSERT_TRUE(old->presentViewController(sheet, false));
        ns::Weak<Logged> gone(old.get());
        w->setRootViewController(root);
        old = nullptr;
        ASSERT_TRUE(gone.expired());
        ASSERT_EQ(sheet->view()->superview(), w.get()) << "the sheet is still up";
        log.clear();
        if (fromChild) child->dismissViewControllerAnimated(false);
        else sheet->dismissViewControllerAnimated(false);
        EXPECT_EQ(log.joined(), "child:willDisappear,child:didDisappear");
        EXPECT_EQ(sheet->view()->superview(), nullptr);
        EXPECT_FALSE(sheet->isOnScreen());
        EXPECT_FALSE(child->isOnScreen());
        EXPECT_TRUE(root->isOnScreen());
        EXPECT_EQ(w->topViewController(), root.get());
        ASSERT_EQ(w->subviews().size(), 1u);
        EXPECT_EQ(w->subviews()[0].get(), root->view());
        log.clear();
        sheet->dismissViewControllerAnimated(false);
        EXPECT_EQ(log.joined(), "");
        // It may be presented again.
        EXPECT_TRUE(root->presentViewController(sheet, false));
        root->dismissViewControllerAnimated(false);
    }
}

struct AlertLog : ns::Object, AlertViewDelegate, ActionSheetDelegate {
    std::vector<std::string> seen;
    void alertViewClickedButtonAtIndex(AlertView*, long i) override { seen.push_back("clicked" + std::to_string(i)); }
    void alertViewWillDismissWithButtonIndex(AlertView*, long i) override { seen.push_back("will" + std::to_string(i)); }
    void alertViewDidDismissWithButtonIndex(AlertView* a, long i) override {
        seen.push_back("did" + std::to_string(i) + (a->isVisible() ? "shown" : "gone"));
    }
    void actionSheetClickedButtonAtIndex(ActionSheet*, long i) override { seen.push_back("sheet" + std::to_string(i)); }
};

TEST_F(ControllerTest, AlertsAreRecordedUntilPressedAndKeptAliveMeanwhile) {
    auto log = ns::make<AlertLog>();
    ns::Weak<AlertView> weak;
    {
        auto alert = AlertView::make("", "If you like our app, please review it.", log.get(), "No thanks",
                                     {"Rate it", "Remind me later"});
        weak = alert;
        alert->show();
    }
    ASSERT_FALSE(weak.expired());  // the shown list keeps it
    auto* top = dynamic_cast<AlertView*>(Panel::topPanel());
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->cancelButtonIndex(), 0);
    EXPECT_EQ(top->firstOtherButtonIndex(), 1);
    EXPECT_EQ(top->buttonTitleAtIndex(2), "Remind me later");
    EXPECT_TRUE(top->pressButtonWithTitle("Remind me later"));
    EXPECT_EQ(log->seen, (std::vector<std::string>{"clicked2", "will2", "did2gone"}));
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(Panel::topPanel(), nullptr);

    // Button indexes: the first and the last are pressed, one before or past them is not.
    for (long index : {-1L, 0L, 2L, 3L}) {
        auto three = AlertView::make("T", "M", log.get(), "A", {"B", "C"});
        three->show();
        log->seen.clear();
        bool valid = index >= 0 && index < 3;
        EXPECT_EQ(three->pressButtonAtIndex(index), valid) << index;
        EXPECT_EQ(three->isVisible(), !valid) << index;
        EXPECT_EQ(three->buttonTitleAtIndex(index), valid ? std::string(1, char('A' + index)) : std::string()) << index;
        if (valid) EXPECT_EQ(log->seen.front(), "clicked" + std::to_string(index)) << index;
        else EXPECT_TRUE(log->seen.empty()) << index;
        Panel::resetShown();
    }

    // Several shown: the one dismissed leaves, and only it; the others keep their order.
    auto first = AlertView::make("1", "", nullptr, "OK"), second = AlertView::make("2", "", nullptr, "OK"),
         third = AlertView::make("3", "", nullptr, "OK");
    for (auto* a : {&first, &second, &third, &second}) (*a)->show();  // shown twice is shown once
    second->dismissWithClickedButtonIndex(0, false);
    std::vector<std::string> left;
    for (auto& p : Panel::visiblePanels()) left.push_back(p->title());
    EXPECT_EQ(left, (std::vector<std::string>{"1", "3"}));
    EXPECT_EQ(Panel::topPanel(), third.get());
    Panel::resetShown();

    // Dismissed by code: no click.
    log->seen.clear();
    auto again = AlertView::make("T", "M", log.get(), "OK");
    again->show();
    again->dismissWithClickedButtonIndex(0, true);
    EXPECT_EQ(log->seen, (std::vector<std::string>{"will0", "did0gone"}));

    // Sheets: destructive first, others, cancel last.
    auto sheet = ActionSheet::make("Share", log.get(), "Cancel", "Delete", {"Twitter", "Facebook"});
    EXPECT_EQ(sheet->destructiveButtonIndex(), 0);
    EXPECT_EQ(sheet->cancelButtonIndex(), 3);
    sheet->showInView(nullptr);
    EXPECT_TRUE(sheet->pressButtonWithTitle("Facebook"));
    EXPECT_EQ(log->seen.back(), "sheet2");
    // Shown from a rect or a bar button as well (the tablet's popovers).
    auto w = makeWindow();
    for (int from = 0; from < 2; ++from) {
        auto popover = ActionSheet::make("From", log.get(), "Cancel", "", {"One"});
        if (from == 0) popover->showFromRect(makeRect(10, 10, 20, 20), w.get(), true);
        else popover->showFromBarButtonItem(nullptr, true);
        EXPECT_EQ(Panel::topPanel(), popover.get()) << from;
        EXPECT_TRUE(popover->pressButtonWithTitle("Cancel"));
        EXPECT_EQ(Panel::topPanel(), nullptr);
    }
}

}  // namespace
}  // namespace ui::test
