#include <gtest/gtest.h>

#include "analytics/Analytics.h"
#include "platform/ui/NavigationController.h"

using namespace analytics;

namespace {
class Recorder : public ns::Object, public ui::TabBarControllerDelegate {
public:
    int selections = 0;
    bool allow = true;
    bool tabBarControllerShouldSelectViewController(ui::TabBarController*, ui::ViewController*) override {
        return allow;
    }
    void tabBarControllerDidSelectViewController(ui::TabBarController*, ui::ViewController*) override {
        ++selections;
    }
};
}  // namespace

class PageViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        Analytics::reset();
        Analytics::startSession("KEY");
    }
};

TEST_F(PageViewTest, TabSelectionsCountAndReachTheFormerDelegate) {
    auto tabs = ns::make<ui::TabBarController>();
    tabs->setViewControllers({ns::make<ui::ViewController>(), ns::make<ui::ViewController>()});
    auto previous = ns::make<Recorder>();
    tabs->setDelegate(previous.get());
    Analytics::logAllPageViews(tabs.get());
    EXPECT_TRUE(tabs->userSelectTab(1));
    EXPECT_TRUE(tabs->userSelectTab(0));
    EXPECT_EQ(Analytics::currentSession().pageViews, 2);
    EXPECT_EQ(previous->selections, 2);
    // The former delegate still decides whether a tab may be selected.
    previous->allow = false;
    EXPECT_FALSE(tabs->userSelectTab(1));
    EXPECT_EQ(Analytics::currentSession().pageViews, 2);
}

TEST_F(PageViewTest, TabSelectionsCountWithoutAFormerDelegate) {
    auto tabs = ns::make<ui::TabBarController>();
    tabs->setViewControllers({ns::make<ui::ViewController>(), ns::make<ui::ViewController>()});
    Analytics::logAllPageViews(tabs.get());
    ASSERT_NE(tabs->delegate(), nullptr);
    EXPECT_TRUE(tabs->userSelectTab(1));
    EXPECT_EQ(tabs->selectedIndex(), 1u);
    EXPECT_EQ(Analytics::currentSession().pageViews, 1);
}

TEST_F(PageViewTest, NavigationPushesCount) {
    auto nav = ui::NavigationController::withRoot(ns::make<ui::ViewController>());
    Analytics::logAllPageViews(nav.get());
    Analytics::logAllPageViews(nav.get());  // a second call does not count twice
    nav->pushViewController(ns::make<ui::ViewController>(), true);
    nav->popViewControllerAnimated(true);
    EXPECT_EQ(Analytics::currentSession().pageViews, 2);
}

TEST_F(PageViewTest, GatesAndOtherControllers) {
    Analytics::setUsageReportingEnabled(false);
    auto nav = ui::NavigationController::withRoot(ns::make<ui::ViewController>());
    Analytics::logAllPageViews(nav.get());
    EXPECT_EQ(nav->delegate(), nullptr);
    Analytics::setUsageReportingEnabled(true);
    Analytics::setLogLevel(2);
    auto plain = ns::make<ui::ViewController>();
    Analytics::logAllPageViews(plain.get());
    ASSERT_FALSE(Analytics::logLines().empty());
    EXPECT_NE(Analytics::logLines().back().find("neither a navigation nor a tab bar controller"), std::string::npos);
}
