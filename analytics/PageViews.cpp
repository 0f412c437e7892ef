// Page-view counting interposers for navigation and tab-bar controllers.
#include <exception>
#include <mutex>
#include <vector>

#include "analytics/Analytics.h"
#include "platform/ui/NavigationController.h"

namespace analytics {

namespace {

// Sits in the controller's delegate slot, counts each shown controller and
// passes every call on to the delegate that was there before.
class PageViewInterposer : public ns::Object,
                           public ui::NavigationControllerDelegate,
                           public ui::TabBarControllerDelegate {
public:
    const char* className() const override { return "AnalyticsPageViewInterposer"; }

    ns::Weak<ui::ViewController> controller;
    ns::WeakDelegate<ui::NavigationControllerDelegate> navPrevious;
    ns::WeakDelegate<ui::TabBarControllerDelegate> tabPrevious;

    void navigationControllerWillShowViewController(ui::NavigationController* nc, ui::ViewController* vc,
                                                    bool animated) override {
        if (auto p = navPrevious.lock()) p->navigationControllerWillShowViewController(nc, vc, animated);
    }
    void navigationControllerDidShowViewController(ui::NavigationController* nc, ui::ViewController* vc,
                                                   bool animated) override {
        Analytics::countPageView();
        if (auto p = navPrevious.lock()) p->navigationControllerDidShowViewController(nc, vc, animated);
    }
    bool tabBarControllerShouldSelectViewController(ui::TabBarController* tc, ui::ViewController* vc) override {
        if (auto p = tabPrevious.lock()) return p->tabBarControllerShouldSelectViewController(tc, vc);
        return true;
    }
    void tabBarControllerDidSelectViewController(ui::TabBarController* tc, ui::ViewController* vc) override {
        Analytics::countPageView();
        if (auto p = tabPrevious.lock()) p->tabBarControllerDidSelectViewController(tc, vc);
    }
};

// The controllers' delegate links are weak: the interposers live here while
// their controller does.
std::mutex gMutex;
std::vector<ns::Ref<PageViewInterposer>> gInterposers;

void keep(ns::Ref<PageViewInterposer> i) {
    std::lock_guard<std::mutex> g(gMutex);
    std::erase_if(gInterposers, [](const ns::Ref<PageViewInterposer>& p) { return p->controller.expired(); });
    gInterposers.push_back(std::move(i));
}

}  // namespace

void Analytics::logAllPageViews(ui::ViewController* controller) {
    if (isWatchExtension() || !usageReportingEnabled()) return;
    try {
        if (!controller) {
            log(1, "Analytics", "logAllPageViews: no controller given");
            return;
        }
        auto interposer = ns::make<PageViewInterposer>();
        interposer->controller = controller;
        if (auto* nav = dynamic_cast<ui::NavigationController*>(controller)) {
            if (auto* d = nav->delegate(); d && dynamic_cast<PageViewInterposer*>(d)) return;  // already counted
            interposer->navPrevious = nav->delegate();
            nav->setDelegate(interposer.get());
        } else if (auto* tab = dynamic_cast<ui::TabBarController*>(controller)) {
            if (auto* d = tab->delegate(); d && dynamic_cast<PageViewInterposer*>(d)) return;
            interposer->tabPrevious = tab->delegate();
            tab->setDelegate(interposer.get());
        } else {
            log(1, "Analytics", std::string("logAllPageViews: ") + controller->className() +
                                    " is neither a navigation nor a tab bar controller");
            return;
        }
        keep(interposer);
    } catch (const std::exception& e) {
        log(1, "Analytics", std::string("logAllPageViews failed: ") + e.what());
    }
}

}  // namespace analytics
