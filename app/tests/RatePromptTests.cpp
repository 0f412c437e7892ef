// The rate prompt over a sequence of launches: counts in the user defaults,
// the alert's texts and buttons, the store URL and the analytics events.
#include "app/tests/AppTestSupport.h"

#include <limits>

#include "app/RateAppViewController.h"
#include "app/RatePromptManager.h"
#include "app/phone/MoreViewController_iPhone.h"

namespace app::test {

namespace {
ui::AlertView* shownAlert() { return dynamic_cast<ui::AlertView*>(ui::Panel::topPanel()); }
long launchCount() { return ns::UserDefaults::standardUserDefaults()->integerForKey("LaunchCount"); }
std::string ratedVersion() {
    auto s = ns::UserDefaults::standardUserDefaults()->stringForKey("RatedVersion");
    return s ? std::string(s->utf8()) : "<unset>";
}
long lastRateAnswer() {
    for (auto& e : analytics::Analytics::currentSession().events)
        if (e.name == "RateDismissed") {
            auto* n = e.parameters ? ns::as<ns::Number>(e.parameters->objectForKey("ButtonClicked")) : nullptr;
            return n ? n->integerValue() : -2;  // -2: the event without its answer
        }
    return -1;
}
}  // namespace

class RatePromptTest : public AppTest {
protected:
    // A bundle of our own: the sample deck's files plus an Info.plist whose
    // version the test changes.
    void SetUp() override {
        AppTest::SetUp();
        bundle = home + "-bundle";
        fs::copy(sampleBundle(), bundle, fs::copy_options::recursive);
        setVersion("1.0");
    }
    void TearDown() override {
        AppTest::TearDown();
        std::error_code ec;
        fs::remove_all(bundle, ec);
    }
    void setVersion(const std::string& v) {
        auto info = ns::Dictionary::make({{"CFBundleVersion", ns::str(v.c_str())}});
        ASSERT_TRUE(ns::PropertyList::writeToFile(*info, bundle + "/Info.plist"));
    }
    void relaunch() {
        setRegistro();
        launchApp(ui::UserInterfaceIdiom::Phone, bundle);
    }
    std::string bundle;
};

TEST_F(RatePromptTest, SecondLaunchAsksAndRemindMeLaterAsksTwoLaunchesLater) {
    relaunch();
    EXPECT_FALSE(shownAlert());
    EXPECT_EQ(launchCount(), 1);

    relaunch();
    ui::AlertView* alert = shownAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title(), "");
    EXPECT_EQ(alert->message(),
              "If you like our app, please review it in the app store.  Thank you for your support!");
    EXPECT_EQ(alert->buttonTitles(), (std::vector<std::string>{"No thanks", "Rate it", "Remind me later"}));
    EXPECT_EQ(alert->cancelButtonIndex(), 0);
    ASSERT_TRUE(driver->pressAlertButton("Remind me later"));
    EXPECT_EQ(lastRateAnswer(), 2);
    EXPECT_EQ(launchCount(), 0);
    EXPECT_EQ(ratedVersion(), "<unset>");

    relaunch();
    EXPECT_FALSE(shownAlert());
    relaunch();
    ASSERT_TRUE(shownAlert());
    ASSERT_TRUE(driver->pressAlertButton("No thanks"));
    EXPECT_EQ(lastRateAnswer(), 0);
    EXPECT_EQ(ratedVersion(), "1.0");
    EXPECT_EQ(launchCount(), 0);
    EXPECT_TRUE(ui::Application::shared()->openedURLs().empty());
}

TEST_F(RatePromptTest, DeclinedVersionStaysSilentButTheMoreRowStillAsks) {
    relaunch();
    relaunch();
    ASSERT_TRUE(driver->pressAlertButton("No thanks"));
    for (int i = 0; i < 3; ++i) {
        relaunch();
        EXPECT_FALSE(shownAlert()) << "launch " << i;
        EXPECT_EQ(launchCount(), 0);  // a rated version counts no more launches
    }
    driver->advance(4.0);
    ASSERT_TRUE(driver->tapTab("More"));
    ASSERT_TRUE(driver->tapRow("Rate this app")) << driver->lastError();
    ASSERT_TRUE(shownAlert());
    ASSERT_TRUE(driver->pressAlertButton("Rate it"));
    EXPECT_EQ(lastRateAnswer(), 1);
    const auto& urls = ui::Application::shared()->openedURLs();
    ASSERT_EQ(urls.size(), 1u);
    EXPECT_EQ(urls[0], RatePromptManager::ratePageURL());
    EXPECT_EQ(urls[0].rfind("itms-apps://", 0), 0u);
    EXPECT_NE(urls[0].find("/WebObjects/MZStore.woa/wa/viewContentsUserReviews?id=684213097&onlyLatestVersion=true"
                           "&pageNumber=0&sortOrdering=1&type=Purple+Software"),
              std::string::npos);
}

TEST_F(RatePromptTest, ANewVersionCountsAgain) {
    relaunch();
    relaunch();
    ASSERT_TRUE(driver->pressAlertButton("Rate it"));
    relaunch();
    EXPECT_FALSE(shownAlert());
    setVersion("1.1");
    relaunch();
    EXPECT_FALSE(shownAlert());
    EXPECT_EQ(launchCount(), 1);
    relaunch();
    EXPECT_TRUE(shownAlert());
}

TEST_F(RatePromptTest, TheVersionDeclinedIsTheBundlesAsTextWhateverItsForm) {
    struct Row { const char* name; ns::Ref<ns::Object> version; std::string stored; };
    for (const Row& r : {Row{"a number", ns::num(7), "7"}, Row{"no version", nullptr, ""}}) {
        SCOPED_TRACE(r.name);
        ns::UserDefaults::standardUserDefaults()->removeObjectForKey("RatedVersion");
        ns::UserDefaults::standardUserDefaults()->removeObjectForKey("LaunchCount");
        auto info = ns::MutableDictionary::make();
        info->setObject(ns::str("Korvel"), "CFBundleName");
        if (r.version) info->setObject(r.version, "CFBundleVersion");
        ASSERT_TRUE(ns::PropertyList::writeToFile(*info, bundle + "/Info.plist"));
        relaunch();
        EXPECT_EQ(RatePromptManager::currentBundleVersion(), r.stored);
        relaunch();
        ASSERT_TRUE(shownAlert());
        ASSERT_TRUE(driver->pressAlertButton("No thanks"));
        EXPECT_EQ(ratedVersion(), r.stored);
        relaunch();
        EXPECT_FALSE(shownAlert());
        EXPECT_EQ(launchCount(), 0);
    }
}

TEST_F(RatePromptTest, TheLaunchCountStopsAtItsLargestValue) {
    const long largest = std::numeric_limits<long>::max();
    struct Row {
        const char* name;
        long stored, counted;
    } rows[] = {
        {"one below the largest", largest - 1, largest},
        {"the largest", largest, largest},
    };
    for (const Row& r : rows) {
        ns::UserDefaults::standardUserDefaults()->setIntegerForKey(r.stored, "LaunchCount");
        relaunch();
        EXPECT_EQ(launchCount(), r.counted) << r.name;
        EXPECT_TRUE(shownAlert()) << r.name;  // still a count above 1: the prompt shows
        ASSERT_TRUE(driver->pressAlertButton("Remind me later")) << r.name;
    }
    // The More row's count stops there too.
    ns::UserDefaults::standardUserDefaults()->setIntegerForKey(largest, "LaunchCount");
    auto manager = ns::make<RatePromptManager>();
    manager->checkForRatePrompt1();
    EXPECT_EQ(launchCount(), largest);
    EXPECT_TRUE(shownAlert());
}

TEST_F(RatePromptTest, TheTwinLogsNoEvent) {
    relaunch();
    auto twin = ns::make<RatePromptManagerIphone>();
    twin->checkForRatePrompt1();
    ASSERT_TRUE(driver->pressAlertButton("Remind me later"));
    EXPECT_EQ(lastRateAnswer(), -1);
    EXPECT_EQ(launchCount(), 0);
}

}  // namespace app::test

namespace app::test {

TEST_F(AppTest, RatePageScreenPinchesAndOpensTheStoreFromItsLink) {
    setRegistro();
    startPhone();
    auto* tabs = dynamic_cast<ui::TabBarController*>(delegate->window()->rootViewController());
    ASSERT_TRUE(tabs);
    auto* nav = dynamic_cast<ui::NavigationController*>(tabs->selectedViewController());
    ASSERT_TRUE(nav);
    auto page = ns::make<RateAppViewController>();
    nav->pushViewController(page, true);
    driver->settle();
    EXPECT_EQ(page->btnBack()->currentTitle(), "Deck index");
    EXPECT_NE(page->webView()->html().find("<body style='font-size: 13px'>"), std::string::npos);
    EXPECT_EQ(delegate->window()->child(), page->webView());

    ui::Point c = ui::Driver::centerOf(page->webView());
    driver->pinch(c, 10, 10 + 10 * 30, 30);  // 30 steps out: stops at 41
    EXPECT_EQ(page->savedFont(), 41);
    driver->pinch(c, 310, 10, 30);  // in: never below 14
    EXPECT_EQ(page->savedFont(), 14);
    EXPECT_EQ(page->webView()->evaluatedScripts().back(), "document.body.style.fontSize = '14px';");

    ASSERT_TRUE(driver->followLink("rateApp") == false);  // never loaded in the page
    ASSERT_EQ(ui::Application::shared()->openedURLs().size(), 1u);
    EXPECT_EQ(ui::Application::shared()->openedURLs()[0], RatePromptManager::ratePageURL());
    ASSERT_TRUE(driver->tapButton("Deck index"));
    EXPECT_EQ(nav->viewControllers().size(), 1u);
}

}  // namespace app::test
