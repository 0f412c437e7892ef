#include "platform/location/LocationManager.h"

#include <algorithm>
#include <vector>

#include "platform/foundation/Format.h"
#include "platform/foundation/RunLoop.h"

namespace loc {

std::string Location::description() const {
    return ns::format("<%+.8f, %+.8f> +/- %.2fm (alt %.2f +/- %.2fm)", coordinate_.latitude, coordinate_.longitude,
                      horizontalAccuracy_, altitude_, verticalAccuracy_);
}

// Device-wide state and the running managers (main thread only).
struct LocationHub {
    bool enabled = true;
    bool hasStatus = true;
    AuthorizationStatus status = AuthorizationStatusAuthorized;
    bool significantAvailable = true;
    ns::Ref<Location> position;
    std::vector<ns::Weak<LocationManager>> running;

    static LocationHub& shared() {
        static LocationHub hub;
        return hub;
    }
    static bool allowed() {
        auto& h = shared();
        if (!h.enabled) return false;
        if (!h.hasStatus) return true;
        return h.status == AuthorizationStatusAuthorized || h.status == AuthorizationStatusAuthorizedWhenInUse ||
               h.status == AuthorizationStatusNotDetermined;
    }
    // Tells `manager` about the position later on the main run loop, when it
    // is still running then.
    static void schedule(LocationManager* manager, ns::Ref<Location> position) {
        ns::Weak<LocationManager> weak(manager);
        ns::RunLoop::main()->performDeferred([weak, position] {
            auto m = weak.lock();
            if (m && (m->updating_ || m->monitoring_)) m->deliver(position);
        });
    }
};

bool LocationManager::locationServicesEnabled() { return LocationHub::shared().enabled; }
void LocationManager::setLocationServicesEnabled(bool b) { LocationHub::shared().enabled = b; }
bool LocationManager::hasAuthorizationStatus() { return LocationHub::shared().hasStatus; }
void LocationManager::setHasAuthorizationStatus(bool b) { LocationHub::shared().hasStatus = b; }
AuthorizationStatus LocationManager::authorizationStatus() { return LocationHub::shared().status; }
void LocationManager::setAuthorizationStatus(AuthorizationStatus s) { LocationHub::shared().status = s; }
bool LocationManager::significantLocationChangeMonitoringAvailable() { return LocationHub::shared().significantAvailable; }
void LocationManager::setSignificantLocationChangeMonitoringAvailable(bool b) {
    LocationHub::shared().significantAvailable = b;
}
ns::Ref<Location> LocationManager::devicePosition() { return LocationHub::shared().position; }

void LocationManager::setDevicePosition(ns::Ref<Location> location) {
    auto& h = LocationHub::shared();
    h.position = location;
    if (!location) return;
    h.running.erase(std::remove_if(h.running.begin(), h.running.end(), [](auto& w) { return w.expired(); }),
                    h.running.end());
    for (auto& w : h.running)
        if (auto m = w.lock()) LocationHub::schedule(m.get(), location);
}

void LocationManager::resetDevice() {
    auto& h = LocationHub::shared();
    h.enabled = true;
    h.hasStatus = true;
    h.status = AuthorizationStatusAuthorized;
    h.significantAvailable = true;
    h.position = nullptr;
    h.running.clear();
}

LocationManager::~LocationManager() = default;

void LocationManager::startUpdatingLocation() {
    bool wasRunning = updating_ || monitoring_;
    updating_ = true;
    if (!wasRunning) start();
}

void LocationManager::startMonitoringSignificantLocationChanges() {
    bool wasRunning = updating_ || monitoring_;
    monitoring_ = true;
    if (!wasRunning) start();
}

void LocationManager::stopUpdatingLocation() {
    updating_ = false;
    stopIfIdle();
}

void LocationManager::stopMonitoringSignificantLocationChanges() {
    monitoring_ = false;
    stopIfIdle();
}

void LocationManager::start() {
    auto& h = LocationHub::shared();
    if (!LocationHub::allowed()) {
        // Refused: the delegate hears so, later, as from a real receiver.
        ns::Weak<LocationManager> weak(this);
        ns::RunLoop::main()->performDeferred([weak] {
            auto m = weak.lock();
            if (!m) return;
            if (auto d = m->delegate_.lock())
                d->locationManagerDidFailWithError(
                    m.get(), ns::Error::make(kLocationErrorDomain, 1, nullptr).get());
        });
        return;
    }
    h.running.push_back(ns::Weak<LocationManager>(this));
    if (h.position) LocationHub::schedule(this, h.position);
}

void LocationManager::stopIfIdle() {
    if (updating_ || monitoring_) return;
    auto& h = LocationHub::shared();
    h.running.erase(std::remove_if(h.running.begin(), h.running.end(),
                                   [this](auto& w) {
                                       auto m = w.lock();
                                       return !m || m.get() == this;
                                   }),
                    h.running.end());
}

void LocationManager::deliver(const ns::Ref<Location>& position) {
    auto keep = ns::keepAlive(this);
    ns::Ref<Location> old = location_;
    location_ = position;
    if (auto d = delegate_.lock()) d->locationManagerDidUpdateToLocationFromLocation(this, position.get(), old.get());
}

}  // namespace loc
