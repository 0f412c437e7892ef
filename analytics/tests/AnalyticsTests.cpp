#include <gtest/gtest.h>

#include "analytics/Analytics.h"

using namespace analytics;
using ns::str;

class AnalyticsTest : public ::testing::Test {
protected:
    void SetUp() override { Analytics::resetForTesting(); }
};

TEST_F(AnalyticsTest, OnlyTheFirstStartDoesTheWork) {
    Analytics::setLogLevel(2);
    Analytics::startSession("  QX7TM2RLD4VKW8PNB3HJ \n");
    EXPECT_EQ(Analytics::currentSession().apiKey, "QX7TM2RLD4VKW8PNB3HJ");
    Analytics::logEvent("A");
    Analytics::startSession("OTHER");
    auto s = Analytics::currentSession();
    EXPECT_EQ(s.apiKey, "QX7TM2RLD4VKW8PNB3HJ");
    EXPECT_EQ(s.events.size(), 1u);
    EXPECT_EQ(Analytics::logLines().back(), "Analytics: Session already started");
}

TEST_F(AnalyticsTest, RecordsEventsWithAndWithoutParameters) {
    Analytics::startSession("KEY");
    EXPECT_EQ(Analytics::logEvent("InterviewButton"), EventRecorded);
    auto params = ns::Dictionary::make({{"ButtonIndex", ns::num(3)}});
    EXPECT_EQ(Analytics::logEventWithParameters("MenuButtonClick", params.get()), EventRecorded);
    auto s = Analytics::currentSession();
    ASSERT_EQ(s.events.size(), 2u);
    EXPECT_EQ(s.events[0].name, "InterviewButton");
    EXPECT_FALSE(s.events[0].parameters);
    EXPECT_EQ(s.events[1].parameters->numberForKey("ButtonIndex")->intValue(), 3);
}

TEST_F(AnalyticsTest, GatesRefuseAndLogAtLevelTwo) {
    Analytics::startSession("KEY");
    Analytics::setLogLevel(2);
    auto notAString = ns::num(5);
    EXPECT_EQ(Analytics::logEvent(notAString.get()), EventFailed);
    Analytics::setUsageReportingEnabled(false);
    EXPECT_EQ(Analytics::logEvent("X"), EventFailed);
    Analytics::setUsageReportingEnabled(true);
    Analytics::setWatchExtension(true);
    EXPECT_EQ(Analytics::logEvent("X"), EventFailed);
    EXPECT_EQ(Analytics::currentSession().events.size(), 0u);
    auto lines = Analytics::logLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Analytics: Event name is not a string");

    // Below level 2 the refusals are silent.
    Analytics::resetForTesting();
    Analytics::startSession("KEY");
    Analytics::setLogLevel(1);
    Analytics::setUsageReportingEnabled(false);
    Analytics::logEvent("X");
    EXPECT_TRUE(Analytics::logLines().empty());
}

TEST_F(AnalyticsTest, SessionGrowthIsBounded) {
    Analytics::startSession("KEY");
    int refused = 0;
    for (int i = 0; i < 1100; ++i)
        if (Analytics::logEvent("E") != EventRecorded) ++refused;
    EXPECT_EQ(refused, 100);
    Analytics::countPageView();
    EXPECT_EQ(Analytics::currentSession().pageViews, 1);
}
