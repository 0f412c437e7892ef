// Network reachability of one target (a host name or an IPv4 address): the
// current status on request, and a "NetworkReachabilityChangedNotification"
// on the default notification centre whenever it changes.
//
// Flags come from net::ReachabilityProvider::current() (the Linux routing
// state, or a fake in tests).
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/foundation/Object.h"
#include "platform/foundation/RunLoop.h"
#include "platform/network/ReachabilityProvider.h"

namespace http {

enum NetworkStatus : int32_t {
    NotReachable = 0,
    ReachableViaWWAN = 1,
    ReachableViaWiFi = 2,
};

inline constexpr const char* kReachabilityChangedNotification = "NetworkReachabilityChangedNotification";

class Reachability : public ns::Object {
public:
    const char* className() const override { return "Reachability"; }
    // Equal when the keys are equal texts.
    bool isEqual(const ns::Object& other) const override;
    size_t hash() const override;
    ~Reachability() override;

    // Nil when the name is empty (the target cannot be made).
    static ns::Ref<Reachability> reachabilityWithHostName(const std::string& hostName);
    // Nil unless an IPv4 address.
    static ns::Ref<Reachability> reachabilityWithAddress(const sockaddr_in& address);
    // "a.b.c.d" from an address in network byte order.
    static std::string makeAddressKey(uint32_t networkOrderAddress);
    static ns::Ref<Reachability> reachabilityForInternetConnection();  // 0.0.0.0, key "InternetConnection"
    static ns::Ref<Reachability> reachabilityForLocalWiFi();           // 169.254.0.0, key "LocalWiFiConnection"
    // No key-value access to the fields.
    static bool accessInstanceVariablesDirectly() { return false; }

    explicit Reachability(net::ReachabilityTarget target);  // initWithReachabilityRef

    // Watches the target from the current thread's run loop (default mode)
    // and posts the change notification there. True when watching started.
    bool startNotifier();
    // Stops watching (call it on the thread that started it).
    void stopNotifier();

    NetworkStatus currentReachabilityStatus() const;
    bool isReachable() const { return currentReachabilityStatus() != NotReachable; }
    bool isReachableViaWWAN() const { return currentReachabilityStatus() == ReachableViaWWAN; }
    bool isReachableViaWiFi() const { return currentReachabilityStatus() == ReachableViaWiFi; }
    // The flags, 0 when they cannot be read.
    uint32_t reachabilityFlags() const;
    bool isConnectionRequired() const { return reachabilityFlags() & net::kReachabilityConnectionRequired; }
    bool connectionRequired() const { return isConnectionRequired(); }
    bool isConnectionOnDemand() const;
    bool isInterventionRequired() const;
    NetworkStatus networkStatusForFlags(uint32_t flags) const;

    std::string key() const;
    void setKey(std::string key);

private:
    bool readFlags(uint32_t* flags) const;
    void changed();

    mutable std::mutex mutex_;  // guards key_
    std::string key_;
    net::ReachabilityTarget target_;
    ns::Ref<ns::Object> watch_;  // the provider's watch: watching lasts while it is held
    uint32_t lastFlags_ = 0;
    bool haveLast_ = false;
};

}  // namespace http
