#include "analytics/Analytics.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <mutex>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Application.h"

namespace analytics {

namespace {

// Events past this count in one session are refused, so a runaway caller
// cannot grow the session without bound.
constexpr size_t kMaxEventsPerSession = 1000;
constexpr size_t kMaxParameters = 10;
constexpr size_t kMaxLogLines = 1000;
constexpr size_t kMaxEndedSessions = 50;
constexpr double kDefaultContinueSeconds = 10.0;

struct Agent {
    std::mutex mutex;
    bool started = false;
    bool reporting = true;
    bool crashReporting = false;
    bool watchExtension = false;
    int logLevel = 0;
    double continueSeconds = kDefaultContinueSeconds;
    UsageSession session;
    double sessionStartedAt = 0;  // main run loop's clock
    double pausedAt = 0;          // main run loop's clock, while paused
    std::deque<UsageSession> ended;
    std::vector<ns::ObserverToken> observers;
    std::vector<std::string> lines;
};

Agent& agent() {
    static Agent* a = new Agent;  // lives for the process
    return *a;
}

double wallNow() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

// Session times: the main run loop's clock (monotonic; a manual clock in tests).
double clockNow() { return ns::RunLoop::main()->now(); }

std::string trimmed(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

}  // namespace

void Analytics::log(int level, const char* className, const std::string& message) {
    Agent& a = agent();
    std::string line = std::string(className) + ": " + message;
    {
        std::lock_guard<std::mutex> g(a.mutex);
        if (level > a.logLevel) return;
        if (a.lines.size() >= kMaxLogLines) a.lines.erase(a.lines.begin());
        a.lines.push_back(line);
    }
    std::fprintf(stderr, "%s\n", line.c_str());
}

namespace {

// The session steps; each runs with the agent's mutex held and answers the
// line to log (empty for none).

void beginSession(Agent& a, std::string apiKey) {
    a.session = UsageSession{};
    a.session.apiKey = std::move(apiKey);
    a.session.startTime = wallNow();
    a.sessionStartedAt = clockNow();
}

void endSession(Agent& a, double at) {
    a.session.state = SessionState::Ended;
    a.session.duration = std::max(0.0, at - a.sessionStartedAt - a.session.pausedSeconds);
    if (a.ended.size() >= kMaxEndedSessions) a.ended.pop_front();
    a.ended.push_back(a.session);
}

std::string pauseSession(Agent& a) {
    if (a.session.state != SessionState::Running) return {};
    a.session.state = SessionState::Paused;
    a.pausedAt = clockNow();
    return "Session paused";
}

std::string resumeSession(Agent& a) {
    if (a.session.state != SessionState::Paused) return {};
    double away = clockNow() - a.pausedAt;
    if (away <= a.continueSeconds) {
        a.session.state = SessionState::Running;
        a.session.pausedSeconds += away;
        ++a.session.resumeCount;
        return "Session resumed";
    }
    endSession(a, a.pausedAt);
    beginSession(a, a.session.apiKey);
    return "Session ended after the pause allowance; new session started";
}

std::string finishSession(Agent& a) {
    if (a.session.state == SessionState::Ended) return {};
    endSession(a, a.session.state == SessionState::Paused ? a.pausedAt : clockNow());
    return "Session ended";
}

// Runs a session step on the application's notification.
ns::ObserverToken observe(const char* name, std::string (*step)(Agent&)) {
    return ns::NotificationCenter::defaultCenter()->addObserver(name, nullptr, [step](const ns::Notification&) {
        Agent& a = agent();
        std::string line;
        {
            std::lock_guard<std::mutex> g(a.mutex);
            if (a.started) line = step(a);
        }
        if (!line.empty()) Analytics::log(2, "Analytics", line);
    });
}

}  // namespace

void Analytics::startSession(const std::string& apiKey) {
    Agent& a = agent();
    bool first;
    {
        std::lock_guard<std::mutex> g(a.mutex);
        first = !a.started;
        if (first) {
            // The crash reporter stays dormant unless switched on before this
            // call; this build has none to enable, so the flag is only kept.
            a.started = true;
            beginSession(a, trimmed(apiKey));
        }
    }
    if (!first) {
        log(1, "Analytics", "Session already started");
        return;
    }
    // Registered outside the agent's lock: the centre calls back into it.
    std::vector<ns::ObserverToken> observers;
    observers.push_back(observe(ui::kApplicationWillResignActiveNotification, pauseSession));
    observers.push_back(observe(ui::kApplicationWillEnterForegroundNotification, resumeSession));
    observers.push_back(observe(ui::kApplicationDidBecomeActiveNotification, resumeSession));
    observers.push_back(observe(ui::kApplicationWillTerminateNotification, finishSession));
    {
        std::lock_guard<std::mutex> g(a.mutex);
        for (auto& o : observers) a.observers.push_back(std::move(o));
    }
    log(2, "Analytics", "Session started");
}

namespace {
int record(const ns::Object* eventName, const ns::Dictionary* parameters) {
    auto* name = dynamic_cast<const ns::String*>(eventName);
    Agent& a = agent();
    std::string refusal;
    {
        std::lock_guard<std::mutex> g(a.mutex);
        if (!name) refusal = "Event name is not a string";
        else if (!a.reporting) refusal = "Usage reporting is off";
        else if (a.watchExtension) refusal = "Events are not logged in a watch extension";
        else if (!a.started) refusal = "No session has been started";
        else if (a.session.state == SessionState::Ended) refusal = "The session has ended";
        else if (a.session.events.size() >= kMaxEventsPerSession) refusal = "Event limit reached";
        else if (parameters && parameters->count() > kMaxParameters) refusal = "Too many event parameters";
        if (refusal.empty()) {
            LoggedEvent e;
            e.name = name->utf8();
            if (parameters) e.parameters = parameters->copy();
            e.timestamp = clockNow() - a.sessionStartedAt;
            a.session.events.push_back(std::move(e));
            return EventRecorded;
        }
    }
    Analytics::log(2, "Analytics", refusal);
    return refusal == "Event limit reached" ? EventLimitReached : EventFailed;
}
}  // namespace

int Analytics::logEvent(const ns::Object* eventName) { return record(eventName, nullptr); }

int Analytics::logEvent(std::string_view eventName) {
    auto s = ns::String::make(eventName);
    return record(s.get(), nullptr);
}

int Analytics::logEventWithParameters(const ns::Object* eventName, const ns::Dictionary* parameters) {
    return record(eventName, parameters);
}

int Analytics::logEventWithParameters(std::string_view eventName, const ns::Dictionary* parameters) {
    auto s = ns::String::make(eventName);
    return record(s.get(), parameters);
}

void Analytics::countPageView() {
    Agent& a = agent();
    std::lock_guard<std::mutex> g(a.mutex);
    if (!a.started || !a.reporting || a.watchExtension || a.session.state == SessionState::Ended) return;
    ++a.session.pageViews;
}

void Analytics::setSessionContinueSeconds(double seconds) {
    std::lock_guard<std::mutex> g(agent().mutex);
    agent().continueSeconds = seconds > 0 ? seconds : 0;
}
double Analytics::sessionContinueSeconds() {
    std::lock_guard<std::mutex> g(agent().mutex);
    return agent().continueSeconds;
}
void Analytics::setLogLevel(int level) {
    std::lock_guard<std::mutex> g(agent().mutex);
    agent().logLevel = level;
}
int Analytics::logLevel() {
    std::lock_guard<std::mutex> g(agent().mutex);
    return agent().logLevel;
}
void Analytics::setUsageReportingEnabled(bool enabled) {
    std::lock_guard<std::mutex> g(agent().mutex);
    agent().reporting = enabled;
}
bool Analytics::usageReportingEnabled() {
    std::lock_guard<std::mutex> g(agent().mutex);
    return agent().reporting;
}
void Analytics::setCrashReportingEnabled(bool enabled) {
    std::lock_guard<std::mutex> g(agent().mutex);
    agent().crashReporting = enabled;
}
void Analytics::setWatchExtension(bool isWatchExtension) {
    std::lock_guard<std::mutex> g(agent().mutex);
    agent().watchExtension = isWatchExtension;
}
bool Analytics::isWatchExtension() {
    std::lock_guard<std::mutex> g(agent().mutex);
    return agent().watchExtension;
}
bool Analytics::sessionStarted() {
    std::lock_guard<std::mutex> g(agent().mutex);
    return agent().started;
}
UsageSession Analytics::currentSession() {
    std::lock_guard<std::mutex> g(agent().mutex);
    return agent().session;
}
std::vector<UsageSession> Analytics::endedSessions() {
    std::lock_guard<std::mutex> g(agent().mutex);
    return {agent().ended.begin(), agent().ended.end()};
}
std::vector<std::string> Analytics::logLines() {
    std::lock_guard<std::mutex> g(agent().mutex);
    return agent().lines;
}
void Analytics::reset() {
    std::vector<ns::ObserverToken> observers;  // removed once the lock is let go
    std::lock_guard<std::mutex> g(agent().mutex);
    Agent& a = agent();
    observers.swap(a.observers);
    a.started = false;
    a.continueSeconds = kDefaultContinueSeconds;
    a.ended.clear();
    a.reporting = true;
    a.crashReporting = false;
    a.watchExtension = false;
    a.logLevel = 0;
    a.session = UsageSession{};
    a.lines.clear();
}

}  // namespace analytics
