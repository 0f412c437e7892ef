// The location stand-in: updates reach running managers only, later on the
// main run loop, in order, with the previous position; refusal is reported.
#include <gtest/gtest.h>

#include "platform/foundation/Format.h"
#include "platform/foundation/RunLoop.h"
#include "platform/location/LocationManager.h"
#include "testsupport/MainLoopWait.h"

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
    ns::RunLoop::main()->runUntil([done] { return *done; }, testsupport::kEventWaitSeconds);
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

TEST_F(LocationTest, EveryAuthorisationStatusAllowsOrRefuses) {
    struct Row {
        const char* name;
        bool enabled, hasStatus;
        AuthorizationStatus status;
        bool told;
    } rows[] = {
        {"authorised", true, true, AuthorizationStatusAuthorized, true},
        {"when in use", true, true, AuthorizationStatusAuthorizedWhenInUse, true},
        {"not determined", true, true, AuthorizationStatusNotDetermined, true},
        {"restricted", true, true, AuthorizationStatusRestricted, false},
        {"denied", true, true, AuthorizationStatusDenied, false},
        {"no status at all", true, false, AuthorizationStatusDenied, true},
        {"services off", false, true, AuthorizationStatusAuthorized, false},
        {"services off, no status", false, false, AuthorizationStatusAuthorized, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LocationManager::resetDevice();
        LocationManager::setLocationServicesEnabled(row.enabled);
        LocationManager::setHasAuthorizationStatus(row.hasStatus);
        LocationManager::setAuthorizationStatus(row.status);
        LocationManager::setDevicePosition(Location::make(1, 2));
        auto rec = ns::make<Recorder>();
        auto m = ns::make<LocationManager>();
        m->setDelegate(rec.get());
        m->startMonitoringSignificantLocationChanges();
        drain();
        LocationManager::setDevicePosition(Location::make(3, 4));
        drain();
        if (row.told)
            EXPECT_EQ(rec->events, (std::vector<std::string>{"1.0<-nil", "3.0<-1.0"}));
        else
            EXPECT_EQ(rec->events, (std::vector<std::string>{"error kCLErrorDomain 1"}));
    }
}

// The list of running managers: one manager is told once however it was
// started, and stopping one takes out that one and no other.
TEST_F(LocationTest, StoppingOneManagerLeavesTheOthers) {
    auto rec1 = ns::make<Recorder>(), rec2 = ns::make<Recorder>(), rec3 = ns::make<Recorder>();
    auto m1 = ns::make<LocationManager>(), m2 = ns::make<LocationManager>(), m3 = ns::make<LocationManager>();
    m1->setDelegate(rec1.get());
    m2->setDelegate(rec2.get());
    m3->setDelegate(rec3.get());
    m1->startUpdatingLocation();
    m1->startMonitoringSignificantLocationChanges();  // running already: not listed twice
    m1->startUpdatingLocation();
    m2->startUpdatingLocation();
    m3->startUpdatingLocation();
    LocationManager::setDevicePosition(Location::make(1, 2));
    drain();
    EXPECT_EQ(rec1->events, (std::vector<std::string>{"1.0<-nil"}));
    EXPECT_EQ(rec2->events, (std::vector<std::string>{"1.0<-nil"}));

    m2->stopUpdatingLocation();
    m1->stopUpdatingLocation();  // still monitoring: stays
    LocationManager::setDevicePosition(Location::make(3, 4));
    drain();
    EXPECT_EQ(rec1->events, (std::vector<std::string>{"1.0<-nil", "3.0<-1.0"}));
    EXPECT_EQ(rec2->events, (std::vector<std::string>{"1.0<-nil"}));
    EXPECT_EQ(rec3->events, (std::vector<std::string>{"1.0<-nil", "3.0<-1.0"}));

    // Forgetting the position tells nobody; the last one told stays.
    LocationManager::setDevicePosition(nullptr);
    drain();
    EXPECT_EQ(rec1->events.size(), 2u);
    EXPECT_EQ(LocationManager::devicePosition(), nullptr);
    ASSERT_NE(m1->location(), nullptr);
    EXPECT_EQ(m1->location()->coordinate().longitude, 4);

    // A manager restarted after a stop is listed once again.
    m2->startUpdatingLocation();
    LocationManager::setDevicePosition(Location::make(5, 6));
    drain();
    EXPECT_EQ(rec2->events, (std::vector<std::string>{"1.0<-nil", "5.0<-1.0"}));
}

// However a manager is started, stopped and started again, with either kind
// of updates first, it is listed once and told each position once.
TEST_F(LocationTest, EachWayOfStartingListsAManagerOnce) {
    using Step = void (LocationManager::*)();
    const Step updating = &LocationManager::startUpdatingLocation;
    const Step monitoring = &LocationManager::startMonitoringSignificantLocationChanges;
    const Step stopUpdating = &LocationManager::stopUpdatingLocation;
    const Step stopMonitoring = &LocationManager::stopMonitoringSignificantLocationChanges;
    struct Row {
        const char* name;
        std::vector<Step> steps;
    } rows[] = {
        {"updating, then monitoring", {updating, monitoring}},
        {"monitoring, then updating", {monitoring, updating}},
        {"updating stopped and started", {updating, stopUpdating, updating}},
        {"monitoring stopped and started", {monitoring, stopMonitoring, monitoring}},
        {"monitoring stopped, updating started", {monitoring, stopMonitoring, updating}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LocationManager::resetDevice();
        auto rec = ns::make<Recorder>();
        auto m = ns::make<LocationManager>();
        m->setDelegate(rec.get());
        for (Step step : row.steps) (m.get()->*step)();
        LocationManager::setDevicePosition(Location::make(1, 2));
        drain();
        EXPECT_EQ(rec->events, (std::vector<std::string>{"1.0<-nil"}));
    }
}

// A reset device has no running manager: one that ran before is told
// nothing more until it starts again.
TEST_F(LocationTest, ResetForgetsTheRunningManagers) {
    auto rec = ns::make<Recorder>();
    auto m = ns::make<LocationManager>();
    m->setDelegate(rec.get());
    m->startUpdatingLocation();
    LocationManager::resetDevice();
    LocationManager::setDevicePosition(Location::make(1, 2));
    drain();
    EXPECT_TRUE(rec->events.empty());
    EXPECT_EQ(LocationManager::devicePosition()->coordinate().latitude, 1);
}

// The values callers compare with and store: a new location's defaults, a
// new manager's accuracy, the status and accuracy numbers.
TEST_F(LocationTest, PublishedValuesAndDefaults) {
    auto l = Location::make(1, 2);
    EXPECT_EQ(l->altitude(), 0);
    EXPECT_EQ(l->horizontalAccuracy(), 65);
    EXPECT_EQ(l->verticalAccuracy(), 10);
    Coordinate origin;
    EXPECT_EQ(origin.latitude, 0);
    EXPECT_EQ(origin.longitude, 0);
    EXPECT_EQ(kLocationAccuracyBest, -1);
    EXPECT_EQ(ns::make<LocationManager>()->desiredAccuracy(), -1);
    EXPECT_STREQ(kLocationErrorDomain, "kCLErrorDomain");
    const std::pair<AuthorizationStatus, int> statuses[] = {
        {AuthorizationStatusNotDetermined, 0}, {AuthorizationStatusRestricted, 1}, {AuthorizationStatusDenied, 2},
        {AuthorizationStatusAuthorized, 3}, {AuthorizationStatusAuthorizedWhenInUse, 4}};
    for (const auto& [status, number] : statuses) EXPECT_EQ(static_cast<int>(status), number);
}

TEST_F(LocationTest, DescriptionShowsEveryField) {
    auto l = Location::make(-33.8688, 151.2093, 58.25, 5, 7.5);
    EXPECT_EQ(l->description(), "<-33.86880000, +151.20930000> +/- 5.00m (alt 58.25 +/- 7.50m)");
    EXPECT_EQ(l->horizontalAccuracy(), 5);
}

}  // namespace
}  // namespace loc
