#include <gtest/gtest.h>

#include "analytics/Analytics.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Application.h"

using namespace analytics;
using ns::str;

class AnalyticsTest : public ::testing::Test {
protected:
    void SetUp() override { Analytics::reset(); }
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
    Analytics::reset();
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

TEST_F(AnalyticsTest, SessionPausesResumesAndEndsWithTheApplication) {
    auto clock = ns::make<ns::ManualClock>(100.0);
    ns::RunLoop::main()->setClock(clock);
    auto* app = ui::Application::shared();
    app->reset();
    app->becomeActive();
    Analytics::startSession("KEY");
    Analytics::startSession("KEY");  // a second start observes nothing more
    clock->advance(2);
    Analytics::logEvent("A");

    // Away for 4 s and back (background, foreground, active): the same
    // session goes on, resumed once, the pause left out of its time.
    app->enterBackground();
    EXPECT_EQ(Analytics::currentSession().state, SessionState::Paused);
    clock->advance(4);
    app->becomeActive();
    auto s = Analytics::currentSession();
    EXPECT_EQ(s.state, SessionState::Running);
    EXPECT_EQ(s.resumeCount, 1);
    EXPECT_DOUBLE_EQ(s.pausedSeconds, 4);
    ASSERT_EQ(s.events.size(), 1u);
    EXPECT_DOUBLE_EQ(s.events[0].timestamp, 2);

    // Inactive for exactly the allowance still resumes.
    app->resignActive();
    clock->advance(10);
    app->becomeActive();
    EXPECT_EQ(Analytics::currentSession().resumeCount, 2);
    EXPECT_TRUE(Analytics::endedSessions().empty());

    // Longer away: the session ends as of its pause and a new one starts.
    clock->advance(3);
    app->resignActive();
    clock->advance(10.5);
    app->becomeActive();
    auto ended = Analytics::endedSessions();
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].state, SessionState::Ended);
    EXPECT_DOUBLE_EQ(ended[0].duration, 5);  // 19 s on the clock less 14 s paused
    EXPECT_EQ(ended[0].events.size(), 1u);
    s = Analytics::currentSession();
    EXPECT_EQ(s.state, SessionState::Running);
    EXPECT_EQ(s.apiKey, "KEY");
    EXPECT_EQ(s.resumeCount, 0);
    EXPECT_TRUE(s.events.empty());

    // Terminating ends it; nothing is recorded afterwards.
    Analytics::logEvent("B");
    clock->advance(1);
    app->terminate();
    ended = Analytics::endedSessions();
    ASSERT_EQ(ended.size(), 2u);
    EXPECT_DOUBLE_EQ(ended[1].duration, 1);
    EXPECT_EQ(ended[1].events.size(), 1u);
    EXPECT_EQ(Analytics::logEvent("C"), EventFailed);
    app->becomeActive();
    EXPECT_EQ(Analytics::currentSession().state, SessionState::Ended);

    // A shorter allowance; and once reset, the agent no longer listens.
    Analytics::reset();
    Analytics::startSession("KEY");
    Analytics::setSessionContinueSeconds(1);
    app->resignActive();
    clock->advance(1.5);
    app->becomeActive();
    EXPECT_EQ(Analytics::endedSessions().size(), 1u);
    Analytics::reset();
    app->resignActive();
    EXPECT_EQ(Analytics::currentSession().state, SessionState::Running);
    EXPECT_FALSE(Analytics::sessionStarted());

    app->reset();
    ns::RunLoop::main()->setClock(ns::SystemClock::shared());
}
