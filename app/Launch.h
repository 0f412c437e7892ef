// Starting the app in this process: what the platform's application main
// does on a device, for the simulator and the tests.
#pragma once

#include <memory>
#include <string>

#include "app/AppDelegate.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/Application.h"

namespace app {

struct LaunchSettings {
    ui::UserInterfaceIdiom idiom = ui::UserInterfaceIdiom::Phone;
    std::string homeDir;    // the app's home folder (Documents, Library, ...); "" keeps the current one
    std::string bundleDir;  // the bundle resource folder; "" keeps the current one
    // The main run loop's clock (a ManualClock in tests); nil keeps it.
    ns::Ref<ns::Clock> clock;
};

// Sets the idiom, the home and bundle folders and the clock, forgets any
// earlier launch of this process (windows, alerts, user defaults loaded
// from another home), and launches the app with a new AppDelegate. The
// splash is on screen when it returns; time on the clock brings the
// interface. Returns the delegate.
// The home folder is claimed first (claimHome, app/HomeLock.h): when
// another process is using it, nothing is launched and nothing in the home
// is touched; the answer is nil, with the reason in *refused.
ns::Ref<AppDelegate> launch(const LaunchSettings& settings, std::string* refused = nullptr);
ns::Ref<AppDelegate> launch(ui::UserInterfaceIdiom idiom, const std::string& homeDir, const std::string& bundleDir,
                            ns::Ref<ns::Clock> clock);

}  // namespace app
