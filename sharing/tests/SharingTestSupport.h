// A fresh sharing world per test: a temporary home folder (user defaults,
// keychain, caches), a key window with a root controller to present on, the
// main run loop on a manual clock, a fake reachability provider, and the
// outside services' addresses, which a test points at its own servers.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/http/Reachability.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/tests/EndpointOverrides.h"
#include "platform/foundation/tests/TempDir.h"
#include "platform/network/ReachabilityProvider.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Window.h"
#include "platform/ui/tests/UITestSupport.h"
#include "sharing/core/SHR.h"
#include "sharing/core/SHRSharer.h"

namespace sharing::test {
using ns::testing::EndpointOverrides;
using ns::testing::TempDir;

// Runs the main run loop until `cond` holds, for at most `seconds` of real
// time, and answers whether it held. Replies of the test's servers arrive in
// real time; transitions, fades and the sharing centre's delayed
// presentations run on the main loop's clock, which in these tests is the
// manual one: after each quiet slice of 10 ms it moves on 50 ms, so a wait
// sees both kinds of event (at most 5 s of clock time per real second).
inline bool runUntil(const std::function<bool()>& cond, double seconds = 10) {
    auto loop = ns::RunLoop::main();
    auto manual = std::dynamic_pointer_cast<ns::ManualClock>(loop->clock());
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        loop->runUntil(cond, 0.01);
        if (manual && !cond()) manual->advance(0.05);
    }
    return true;
}

class SharingTest : public ui::test::UITest {
protected:
    void SetUp() override {
        ui::test::UITest::SetUp();
        home = std::make_unique<TempDir>();
        ns::Paths::setHomeDirectory(home->path());
        ns::UserDefaults::resetStandardUserDefaults();
        fake = std::make_shared<net::FakeReachabilityProvider>();
        setOnline(true);
        net::ReachabilityProvider::setCurrent(fake);
        SHR::reset();
        ui::Panel::resetShown();
        window = makeWindow();
        root = ns::make<ui::ViewController>();
        window->setRootViewController(root);
    }
    void TearDown() override {
        SHR::reset();
        ui::Panel::resetShown();
        ui::test::UITest::TearDown();
        net::ReachabilityProvider::setCurrent(nullptr);
        ns::UserDefaults::resetStandardUserDefaults();
        ns::Paths::setHomeDirectory("");
    }
    void setOnline(bool online) {
        fake->setDefaultFlags(online ? uint32_t(net::kReachabilityReachable) : 0u);
    }
    // Titles and messages of the shown alerts, oldest first.
    std::vector<std::string> alerts() const {
        std::vector<std::string> out;
        for (auto& p : ui::Panel::visiblePanels())
            if (auto* a = ns::as<ui::AlertView>(p.get())) out.push_back(a->title() + "|" + a->message());
        return out;
    }
    std::unique_ptr<TempDir> home;
    std::shared_ptr<net::FakeReachabilityProvider> fake;
    ns::Ref<ui::Window> window;
    ns::Ref<ui::ViewController> root;
    // Outside services pointed at the test's servers, until the test ends.
    EndpointOverrides endpoints;
};

// Records notifications of the share life cycle, in order.
struct NotificationRecorder {
    std::vector<std::string> names;
    std::vector<ns::ObserverToken> tokens;
    NotificationRecorder() {
        auto c = ns::NotificationCenter::defaultCenter();
        for (const char* n : {SHRSendDidStartNotification, SHRSendDidFinishNotification,
                              SHRSendDidFailWithErrorNotification, SHRSendDidCancelNotification,
                              SHRAuthDidFinishNotification}) {
            tokens.push_back(c->addObserver(n, nullptr, [this](const ns::Notification& note) {
                std::string line = note.name();
                if (auto* info = note.userInfo())
                    if (auto* s = info->numberForKey("success")) line += s->boolValue() ? ":true" : ":false";
                names.push_back(line);
            }));
        }
    }
};

}  // namespace sharing::test
