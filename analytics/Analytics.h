// The analytics interface the app calls: usage sessions, events with and
// without parameters, and page-view counting. Everything is recorded in
// memory for this process; nothing is sent or stored elsewhere.
//
// Sessions follow the application: once started, the agent observes the
// application's resign-active, enter-foreground, become-active and
// terminate notifications. Resigning active pauses the session; coming back
// within the pause allowance (sessionContinueSeconds, 10 s unless set)
// resumes it, coming back later ends it (as of the moment it was paused)
// and starts a new one with the same key; terminating ends it. Times are
// read from the main run loop's clock, so tests move them with a manual
// clock.
//
// All operations are class operations, called on the main thread. Failures are
// logged (as "ClassName: message" lines, gated by the log level) and swallowed.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/foundation/Foundation.h"

namespace ui {
class ViewController;
}

namespace analytics {

// Result of recording an event.
enum EventRecordStatus : int {
    EventFailed = 0,
    EventRecorded = 1,
    EventLimitReached = 2,
};

struct LoggedEvent {
    std::string name;
    ns::Ref<ns::Dictionary> parameters;  // nil for events without parameters
    double timestamp = 0;                // seconds since the session started
};

enum class SessionState { Running, Paused, Ended };

struct UsageSession {
    std::string apiKey;
    double startTime = 0;  // seconds since 1970
    std::vector<LoggedEvent> events;
    long pageViews = 0;
    SessionState state = SessionState::Running;
    int resumeCount = 0;       // pauses that ended within the allowance
    double pausedSeconds = 0;  // time spent in those pauses
    double duration = 0;       // once ended: seconds it ran, pauses left out
};

class Analytics {
public:
    // Starts analytics for the process. Only the first call does the work; a
    // later one logs that the session was already started.
    static void startSession(const std::string& apiKey);
    // Records an event in the current session. A name that is not a string,
    // reporting switched off or a watch-extension process record nothing
    // and answer EventFailed.
    static int logEvent(const ns::Object* eventName);
    static int logEvent(std::string_view eventName);
    static int logEventWithParameters(const ns::Object* eventName, const ns::Dictionary* parameters);
    static int logEventWithParameters(std::string_view eventName, const ns::Dictionary* parameters);
    // Counts one page view in the current session; the UI's page-view
    // interposers call this each time the shown controller changes.
    static void countPageView();
    // Attaches a page-view counting delegate to a navigation or tab-bar
    // controller: each change of the controller it shows counts one page
    // view. A delegate the controller had keeps receiving its calls. Does
    // nothing in a watch extension, with reporting off, or for any other
    // kind of controller (logged).
    static void logAllPageViews(ui::ViewController* controller);

    // Settings.
    // The pause allowance: how long the app may stay away and still resume
    // its session (negative values count as 0).
    static void setSessionContinueSeconds(double seconds);
    static double sessionContinueSeconds();
    static void setLogLevel(int level);
    static int logLevel();
    static void setUsageReportingEnabled(bool enabled);
    static bool usageReportingEnabled();
    static void setCrashReportingEnabled(bool enabled);
    static void setWatchExtension(bool isWatchExtension);
    static bool isWatchExtension();

    // Observation for tests and the simulator.
    static bool sessionStarted();
    static UsageSession currentSession();
    // Sessions that ended in this process, oldest first (the most recent
    // ones only: the list is bounded).
    static std::vector<UsageSession> endedSessions();
    static std::vector<std::string> logLines();
    // Back to a fresh process's agent: forgets everything recorded and stops
    // observing the application (tests start each case from it).
    static void reset();

    // Writes "ClassName: message" when `level` is at or below the log level.
    static void log(int level, const char* className, const std::string& message);
};

}  // namespace analytics
