// A fresh sharing world per test: a temporary home folder (user defaults,
// keychain, caches), a key window with a root controller to present on, the
// main run loop on a manual clock, a fake reachability provider, and the
// outside services' addresses, which a test points at its own servers.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "net/http/Reachability.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/network/ReachabilityProvider.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Window.h"
#include "sharing/core/SHR.h"
#include "sharing/core/SHRSharer.h"
#include "testsupport/EndpointOverrides.h"
#include "testsupport/FullDisk.h"
#include "testsupport/MainLoopWait.h"
#include "testsupport/TempDir.h"
#include "testsupport/UITest.h"

namespace sharing::test {
using testsupport::EndpointOverrides;
using testsupport::TempDir;

// Replies of the test's servers arrive in real time; transitions, fades and
// the sharing centre's delayed presentations run on the main loop's manual
// clock: a wait in these tests moves both on.
inline bool runUntil(const std::function<bool()>& cond, double seconds = testsupport::kEventWaitSeconds) {
    return testsupport::waitMovingClockUntil(cond, seconds);
}

class SharingTest : public testsupport::UITest {
protected:
    void SetUp() override;
    void TearDown() override;
    void setOnline(bool online);
    // Titles and messages of the shown alerts, oldest first.
    std::vector<std::string> alerts() const;

    std::unique_ptr<TempDir> home;
    ns::Ref<net::FakeReachabilityProvider> fake;
    ns::Ref<ui::Window> window;
    ns::Ref<ui::ViewController> root;
    // Outside services pointed at the test's servers, until the test ends.
    EndpointOverrides endpoints;
};

// Records notifications of the share life cycle, in order.
struct NotificationRecorder {
    std::vector<std::string> names;
    std::vector<ns::ObserverToken> tokens;
    NotificationRecorder();
};

// The user defaults' folder, whose writes can be made to fail; the defaults
// are read anew from it from the start.
class FullPreferences : public testsupport::FullDisk {
public:
    FullPreferences() : FullDisk(ns::Paths::preferencesDirectory()) { ns::UserDefaults::resetStandardUserDefaults(); }
    // Room again, and the defaults as the next process reads them.
    ns::Ref<ns::UserDefaults> reread() {
        restore();
        ns::UserDefaults::resetStandardUserDefaults();
        return ns::UserDefaults::standardUserDefaults();
    }
};

}  // namespace sharing::test
