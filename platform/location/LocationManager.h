// The location stand-in: a location value and a location manager that tells
// its delegate about position updates on the main run loop. There is no
// receiver here; the position is whatever was set as the device's position
// (a simulator command or a test), and the device-wide switches (location
// services on or off, the app's authorisation status, whether significant
// change monitoring exists) are settable the same way.
#pragma once

#include <string>

#include "platform/foundation/Foundation.h"
#include "platform/foundation/Delegate.h"

namespace loc {

struct Coordinate {
    double latitude = 0, longitude = 0;
};

class Location : public ns::Object {
public:
    Location(Coordinate coordinate, double altitude, double horizontalAccuracy, double verticalAccuracy)
        : coordinate_(coordinate), altitude_(altitude), horizontalAccuracy_(horizontalAccuracy),
          verticalAccuracy_(verticalAccuracy) {}
    static ns::Ref<Location> make(double latitude, double longitude, double altitude = 0,
                                  double horizontalAccuracy = 65, double verticalAccuracy = 10) {
        return ns::make<Location>(Coordinate{latitude, longitude}, altitude, horizontalAccuracy, verticalAccuracy);
    }
    const char* className() const override { return "Location"; }
    std::string description() const override;

    Coordinate coordinate() const { return coordinate_; }
    double altitude() const { return altitude_; }
    // Negative: unknown.
    double horizontalAccuracy() const { return horizontalAccuracy_; }
    double verticalAccuracy() const { return verticalAccuracy_; }

private:
    Coordinate coordinate_;
    double altitude_, horizontalAccuracy_, verticalAccuracy_;
};

enum AuthorizationStatus : int {
    AuthorizationStatusNotDetermined = 0,
    AuthorizationStatusRestricted = 1,
    AuthorizationStatusDenied = 2,
    AuthorizationStatusAuthorized = 3,
    AuthorizationStatusAuthorizedWhenInUse = 4,
};

inline constexpr double kLocationAccuracyBest = -1;
inline constexpr const char* kLocationErrorDomain = "kCLErrorDomain";

class LocationManager;

class LocationManagerDelegate {
public:
    virtual ~LocationManagerDelegate() = default;
    virtual void locationManagerDidUpdateToLocationFromLocation(LocationManager* manager, Location* newLocation,
                                                                Location* oldLocation) {}
    virtual void locationManagerDidFailWithError(LocationManager* manager, ns::Error* error) {}
};

class LocationManager : public ns::Object {
public:
    LocationManager() = default;
    ~LocationManager() override;
    const char* className() const override { return "LocationManager"; }

    // -- Device-wide state (main thread) ------------------------------------
    static bool locationServicesEnabled();
    static void setLocationServicesEnabled(bool b);
    // False means the platform has no authorisation status at all.
    static bool hasAuthorizationStatus();
    static void setHasAuthorizationStatus(bool b);
    static AuthorizationStatus authorizationStatus();
    static void setAuthorizationStatus(AuthorizationStatus s);
    static bool significantLocationChangeMonitoringAvailable();
    static void setSignificantLocationChangeMonitoringAvailable(bool b);
    // The device's position. Setting it tells every running manager (on the
    // main run loop, later); nil forgets it. A manager that starts while a
    // position is known is told it too.
    static void setDevicePosition(ns::Ref<Location> location);
    static ns::Ref<Location> devicePosition();
    // Back to a fresh device: on, authorised, monitoring available, no
    // position, no running manager.
    static void resetDevice();

    // -- This manager -----------------------------------------------------------
    LocationManagerDelegate* delegate() const { return delegate_.get(); }
    void setDelegate(LocationManagerDelegate* d) { delegate_ = d; }
    double desiredAccuracy() const { return desiredAccuracy_; }
    void setDesiredAccuracy(double a) { desiredAccuracy_ = a; }
    // The last position told to the delegate.
    Location* location() const { return location_.get(); }

    void startUpdatingLocation();
    void stopUpdatingLocation();
    void startMonitoringSignificantLocationChanges();
    void stopMonitoringSignificantLocationChanges();
    bool isUpdatingLocation() const { return updating_; }
    bool isMonitoringSignificantLocationChanges() const { return monitoring_; }

private:
    void start();
    void stopIfIdle();
    void deliver(const ns::Ref<Location>& position);
    friend struct LocationHub;
    ns::WeakDelegate<LocationManagerDelegate> delegate_;
    double desiredAccuracy_ = kLocationAccuracyBest;
    ns::Ref<Location> location_;
    bool updating_ = false, monitoring_ = false;
};

}  // namespace loc
