// The location stand-in: updates reach running managers only, later on the
// main run loop, in order, with the previous position; refusal is reported.
#include <gtest/gtest.h>

#include "platform/foundation/Format.h"
#include "platform/foundation/RunLoop.h"
#include "platform/location/LocationManager.h"

namespace loc {
namespace {

struct Recorder : ns::Object, LocationManagerDelegate {
    std::vector<std::string> events;
    void locationManagerDidUpdateToLocationFromLocation(LocationManager*, Location* now, Location* before) override {
        events.push_back(ns::format("%.1f<-%@", now->coordinate().latitude,
                                    before ? ns::format("%.1f", before->coordinate().latitude) : std::string("nil")));
    }
    void locationManagerDidFailWithError(LocationManager*, ns::Error* e) override {
        events.push_back("error " + e->domain() + " " + std::to_string(e->code()));
    }
};

// Runs the main loop until everything deferred so far has run (deferred
// calls run in order, so a marker queued last runs last).
void drain() {
    auto done = std::make_shared<bool>(false);
    ns::RunLoop::main()->performDeferred([done] { *done = true; });
    ns::RunLoop::main()->runUntil([done] { return *done; }, 5);
}

class LocationTest : public ::testing::Test {
protected:
    void SetUp() override { LocationManager::resetDevice(); }
    void TearDown() override { LocationManager::resetDevice(); }
};

TEST_F(LocationTest, UpdatesGoToRunningManagersLater) {
    auto rec = ns::make<Recorder>();
    auto m = ns::make<LocationManager>();
    m->setDelegate(rec.get());
    LocationManager::setDevicePosition(Location::make(1, 2));
    drain();
    EXPECT_TRUE(rec->events.empty());  // not started yet

    m->startUpdatingLocation();
    EXPECT_TRUE(rec->events.empty());  // told later, not during start
    drain();
    LocationManager::setDevicePosition(Location::make(3, 4, 12, 5, 7));
    drain();
    EXPECT_EQ(rec->events, (std::vector<std::string>{"1.0<-nil", "3.0<-1.0"}));
    EXPECT_EQ(m->location()->altitude(), 12);
    EXPECT_EQ(m->location()->verticalAccuracy(), 7);

    // Monitoring keeps it running after updating stops; stopping both ends it.
    m->startMonitoringSignificantLocationChanges();
    m->stopUpdatingLocation();
    LocationManager::setDevicePosition(Location::make(5, 6));
    drain();
    m->stopMonitoringSignificantLocationChanges();
    LocationManager::setDevicePosition(Location::make(7, 8));
    drain();
    EXPECT_EQ(rec->events.back(), "5.0<-3.0");
    EXPECT_EQ(rec->events.size(), 3u);

    // A manager gone before the deferred call is skipped.
    auto gone = ns::make<LocationManager>();
    gone->setDelegate(rec.get());
    gone->startUpdatingLocation();
    gone = nullptr;
    drain();
    EXPECT_EQ(rec->events.size(), 3u);
}

TEST_F(LocationTest, RefusedWhenOffOrDenied) {
    auto rec = ns::make<Recorder>();
    auto m = ns::make<LocationManager>();
    m->setDelegate(rec.get());
    LocationManager::setDevicePosition(Location::make(1, 2));
    LocationManager::setAuthorizationStatus(AuthorizationStatusDenied);
    m->startUpdatingLocation();
    drain();
    EXPECT_EQ(rec->events, (std::vector<std::string>{"error kCLErrorDomain 1"}));
    m->stopUpdatingLocation();
    LocationManager::setHasAuthorizationStatus(false);
    m->startUpdatingLocation();
    drain();
    EXPECT_EQ(rec->events.back(), "1.0<-nil");
}

}  // namespace
}  // namespace loc
