#include <gtest/gtest.h>

#include "analytics/Analytics.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"

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
    Analytics::setLogLevel(2);
    // The thousandth event is kept, the next is refused as over the limit
    // (and said so), and the events kept are the first ones, in order.
    for (int i = 0; i < 999; ++i) ASSERT_EQ(Analytics::logEvent("E" + std::to_string(i)), EventRecorded) << i;
    EXPECT_EQ(Analytics::logEvent("E999"), EventRecorded);
    EXPECT_EQ(Analytics::logEvent("E1000"), EventLimitReached);
    EXPECT_EQ(Analytics::logEvent("E1001"), EventLimitReached);
    EXPECT_EQ(Analytics::logLines().back(), "Analytics: Event limit reached");
    auto s = Analytics::currentSession();
    ASSERT_EQ(s.events.size(), 1000u);
    EXPECT_EQ(s.events.front().name, "E0");
    EXPECT_EQ(s.events.back().name, "E999");
    Analytics::countPageView();
    EXPECT_EQ(Analytics::currentSession().pageViews, 1);
}

TEST_F(AnalyticsTest, ParameterCountAtItsLimitAndOnePast) {
    Analytics::startSession("KEY");
    Analytics::setLogLevel(2);
    struct Row {
        const char* name;
        int parameters;
        int answer;
    } rows[] = {{"none", 0, EventRecorded}, {"ten", 10, EventRecorded}, {"eleven", 11, EventFailed}};
    size_t kept = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto params = ns::MutableDictionary::make();
        for (int i = 0; i < row.parameters; ++i) params->setObject(ns::num(i), "P" + std::to_string(i));
        EXPECT_EQ(Analytics::logEventWithParameters(row.name, params.get()), row.answer);
        if (row.answer == EventRecorded) ++kept;
        auto s = Analytics::currentSession();
        ASSERT_EQ(s.events.size(), kept);
        if (row.answer == EventRecorded) {
            EXPECT_EQ(s.events.back().name, row.name);
            ASSERT_TRUE(s.events.back().parameters);
            EXPECT_EQ(s.events.back().parameters->count(), static_cast<size_t>(row.parameters));
        } else {
            EXPECT_EQ(Analytics::logLines().back(), "Analytics: Too many event parameters");
        }
    }
    // What is kept is a copy: the caller's dictionary changing later changes
    // nothing recorded.
    auto params = ns::MutableDictionary::make();
    params->setObject(ns::num(1), "Index");
    ASSERT_EQ(Analytics::logEventWithParameters("Copied", params.get()), EventRecorded);
    params->setObject(ns::num(2), "Index");
    params->setObject(ns::num(3), "Other");
    auto recorded = Analytics::currentSession().events.back().parameters;
    ASSERT_TRUE(recorded);
    EXPECT_EQ(recorded->count(), 1u);
    EXPECT_EQ(recorded->numberForKey("Index")->intValue(), 1);
}

// The log and the list of ended sessions are bounded by dropping their
// oldest entry: one past the limit drops the first one, and only it.
TEST_F(AnalyticsTest, BoundedListsDropTheOldestOnly) {
    Analytics::setLogLevel(0);
    for (int i = 0; i < 1000; ++i) Analytics::log(0, "T", std::to_string(i));
    auto lines = Analytics::logLines();
    ASSERT_EQ(lines.size(), 1000u);
    EXPECT_EQ(lines.front(), "T: 0");
    Analytics::log(0, "T", "1000");
    lines = Analytics::logLines();
    ASSERT_EQ(lines.size(), 1000u);
    EXPECT_EQ(lines.front(), "T: 1");
    EXPECT_EQ(lines[1], "T: 2");
    EXPECT_EQ(lines.back(), "T: 1000");

    // Sessions are told apart by how long they ran: session i runs i seconds.
    auto clock = ns::make<ns::ManualClock>(100.0);
    ns::RunLoop::main()->setClock(clock);
    auto* app = ui::Application::shared();
    app->reset();
    app->becomeActive();
    Analytics::startSession("KEY");
    Analytics::setSessionContinueSeconds(1);
    auto endOne = [&](int seconds) {
        clock->advance(seconds);
        app->resignActive();
        clock->advance(2);
        app->becomeActive();
    };
    for (int i = 1; i <= 50; ++i) endOne(i);
    auto ended = Analytics::endedSessions();
    ASSERT_EQ(ended.size(), 50u);
    EXPECT_DOUBLE_EQ(ended.front().duration, 1);
    EXPECT_DOUBLE_EQ(ended.back().duration, 50);
    endOne(51);
    ended = Analytics::endedSessions();
    ASSERT_EQ(ended.size(), 50u);
    EXPECT_DOUBLE_EQ(ended.front().duration, 2);
    EXPECT_DOUBLE_EQ(ended[1].duration, 3);
    EXPECT_DOUBLE_EQ(ended.back().duration, 51);

    Analytics::reset();
    app->reset();
    ns::RunLoop::main()->setClock(ns::SystemClock::shared());
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

TEST_F(AnalyticsTest, PageViewsCountOnlyWhereEventsWould) {
    struct Row {
        const char* name;
        bool start, reporting, watch, terminate;
        long counted;
    } rows[] = {
        {"running session", true, true, false, false, 1},
        {"no session", false, true, false, false, 0},
        {"reporting off", true, false, false, false, 0},
        {"watch extension", true, true, true, false, 0},
        {"session ended", true, true, false, true, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Analytics::reset();
        if (row.start) Analytics::startSession("KEY");
        Analytics::setUsageReportingEnabled(row.reporting);
        Analytics::setWatchExtension(row.watch);
        if (row.terminate) ui::Application::shared()->terminate();
        Analytics::countPageView();
        EXPECT_EQ(Analytics::currentSession().pageViews, row.counted);
    }
    Analytics::reset();
    ui::Application::shared()->reset();
}

// Each line the agent writes appears at its level and not one below it; the
// default level (0) writes none of them.
TEST_F(AnalyticsTest, EachLogLineAtItsLevelAndNotBelow) {
    auto clock = ns::make<ns::ManualClock>(100.0);
    ns::RunLoop::main()->setClock(clock);
    auto* app = ui::Application::shared();
    struct Row {
        const char* name;
        int level;
        std::function<void()> action;
        std::string line;
    } rows[] = {
        {"started", 2, [] { Analytics::startSession("KEY"); }, "Analytics: Session started"},
        {"already started", 1,
         [] {
             Analytics::startSession("KEY");
             Analytics::startSession("KEY");
         },
         "Analytics: Session already started"},
        {"paused", 2,
         [app] {
             Analytics::startSession("KEY");
             app->resignActive();
         },
         "Analytics: Session paused"},
        {"resumed", 2,
         [app, clock] {
             Analytics::startSession("KEY");
             app->resignActive();
             clock->advance(1);
             app->becomeActive();
         },
         "Analytics: Session resumed"},
        {"ended", 2,
         [app] {
             Analytics::startSession("KEY");
             app->terminate();
         },
         "Analytics: Session ended"},
        {"no controller", 1, [] { Analytics::logAllPageViews(nullptr); },
         "Analytics: logAllPageViews: no controller given"},
        {"other controller", 1,
         [] {
             auto plain = ns::make<ui::ViewController>();
             Analytics::logAllPageViews(plain.get());
         },
         "Analytics: logAllPageViews: ViewController is neither a navigation nor a tab bar controller"},
    };
    const auto linesAfter = [&](const Row& row, std::optional<int> level) {
        Analytics::reset();
        app->reset();
        app->becomeActive();
        if (level) Analytics::setLogLevel(*level);
        row.action();
        return Analytics::logLines();
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto lines = linesAfter(row, row.level);
        EXPECT_NE(std::find(lines.begin(), lines.end(), row.line), lines.end()) << "level " << row.level;
        lines = linesAfter(row, row.level - 1);
        EXPECT_EQ(std::find(lines.begin(), lines.end(), row.line), lines.end()) << "level " << row.level - 1;
        lines = linesAfter(row, std::nullopt);
        EXPECT_TRUE(lines.empty()) << "default level";
    }
    EXPECT_EQ(Analytics::logLevel(), 0);

    Analytics::reset();
    app->reset();
    ns::RunLoop::main()->setClock(ns::SystemClock::shared());
}

// Starting observes the application's four notifications; a reset stops
// observing them, so the next start does not add to what was there.
TEST_F(AnalyticsTest, ResetStopsObservingTheApplication) {
    auto center = ns::NotificationCenter::defaultCenter();
    const size_t before = center->observerCount();
    Analytics::startSession("KEY");
    EXPECT_EQ(center->observerCount(), before + 4);
    Analytics::startSession("KEY");
    EXPECT_EQ(center->observerCount(), before + 4);
    Analytics::reset();
    EXPECT_EQ(center->observerCount(), before);
    Analytics::startSession("KEY");
    EXPECT_EQ(center->observerCount(), before + 4);
    Analytics::reset();
}

// The settings a process starts with, read before anything resets them (CTest
// runs each case in a process of its own).
TEST(AnalyticsDefaults, AProcessStartsQuietWithReportingOn) {
    EXPECT_EQ(Analytics::logLevel(), 0);
    EXPECT_DOUBLE_EQ(Analytics::sessionContinueSeconds(), 10);
    EXPECT_TRUE(Analytics::usageReportingEnabled());
    EXPECT_FALSE(Analytics::isWatchExtension());
    EXPECT_FALSE(Analytics::sessionStarted());
}
