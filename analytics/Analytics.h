// The analytics interface the app calls: usage sessions, events with and
// without parameters, and page-view counting. Everything is recorded in
// memory for this process; nothing is sent or stored elsewhere.
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

struct UsageSession {
    std::string apiKey;
    double startTime = 0;  // seconds since 1970
    std::vector<LoggedEvent> events;
    long pageViews = 0;
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
    static std::vector<std::string> logLines();
    // Forgets everything recorded (tests start each case from a clean agent).
    static void resetForTesting();

    // Writes "ClassName: message" when `level` is at or below the log level.
    static void log(int level, const char* className, const std::string& message);
};

}  // namespace analytics
