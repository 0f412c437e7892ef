#include "net/http/Reachability.h"

#include <cstdio>

#include "platform/foundation/NotificationCenter.h"

namespace http {

Reachability::Reachability(net::ReachabilityTarget target) : target_(std::move(target)) {
    key_ = target_.isAddress ? makeAddressKey(target_.address.sin_addr.s_addr) : target_.hostName;
}

Reachability::~Reachability() { stopNotifier(); }

bool Reachability::isEqual(const ns::Object& other) const {
    auto* o = dynamic_cast<const Reachability*>(&other);
    return o && o->key() == key();
}

size_t Reachability::hash() const { return std::hash<std::string>()(key()); }

std::string Reachability::makeAddressKey(uint32_t a) {
    const auto* b = reinterpret_cast<const unsigned char*>(&a);  // network order: most significant first
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    return buf;
}

ns::Ref<Reachability> Reachability::reachabilityWithHostName(const std::string& hostName) {
    if (hostName.empty()) return nullptr;
    net::ReachabilityTarget t;
    t.hostName = hostName;
    return ns::make<Reachability>(t);
}

ns::Ref<Reachability> Reachability::reachabilityWithAddress(const sockaddr_in& address) {
    if (address.sin_family != AF_INET) return nullptr;
    net::ReachabilityTarget t;
    t.isAddress = true;
    t.address = address;
    return ns::make<Reachability>(t);
}

ns::Ref<Reachability> Reachability::reachabilityForInternetConnection() {
    sockaddr_in zero{};
    zero.sin_family = AF_INET;
    auto r = reachabilityWithAddress(zero);
    if (r) r->setKey("InternetConnection");
    return r;
}

ns::Ref<Reachability> Reachability::reachabilityForLocalWiFi() {
    sockaddr_in link{};
    link.sin_family = AF_INET;
    link.sin_addr.s_addr = htonl(0xA9FE0000u);  // 169.254.0.0
    auto r = reachabilityWithAddress(link);
    if (r) r->setKey("LocalWiFiConnection");
    return r;
}

std::string Reachability::key() const {
    std::lock_guard<std::mutex> g(mutex_);
    return key_;
}

void Reachability::setKey(std::string key) {
    std::lock_guard<std::mutex> g(mutex_);
    key_ = std::move(key);
}

bool Reachability::readFlags(uint32_t* flags) const {
    auto provider = net::ReachabilityProvider::current();
    return provider && provider->flagsForTarget(target_, flags);
}

uint32_t Reachability::reachabilityFlags() const {
    uint32_t f = 0;
    return readFlags(&f) ? f : 0;
}

NetworkStatus Reachability::currentReachabilityStatus() const {
    uint32_t f = 0;
    if (!readFlags(&f)) return NotReachable;
    return networkStatusForFlags(f);
}

bool Reachability::isConnectionOnDemand() const {
    uint32_t f = reachabilityFlags();
    return (f & net::kReachabilityConnectionRequired) &&
           (f & (net::kReachabilityConnectionOnTraffic | net::kReachabilityConnectionOnDemand));
}

bool Reachability::isInterventionRequired() const {
    uint32_t f = reachabilityFlags();
    return (f & net::kReachabilityConnectionRequired) && (f & net::kReachabilityInterventionRequired);
}

NetworkStatus Reachability::networkStatusForFlags(uint32_t f) const {
    using namespace net;
    if (!(f & kReachabilityReachable)) return NotReachable;
    if (key() == "LocalWiFiConnection") return (f & kReachabilityIsDirect) ? ReachableViaWiFi : NotReachable;
    if (f & kReachabilityIsWWAN) return ReachableViaWWAN;
    uint32_t m = f & ~(kReachabilityReachable | kReachabilityIsLocalAddress | kReachabilityIsDirect);
    if (m == (kReachabilityTransientConnection | kReachabilityConnectionRequired)) return NotReachable;
    if ((f & kReachabilityTransientConnection) || m == 0) return ReachableViaWiFi;
    return (f & kReachabilityConnectionRequired) ? ReachableViaWiFi : NotReachable;
}

bool Reachability::startNotifier() {
    auto provider = net::ReachabilityProvider::current();
    if (!provider) return false;
    // The watcher holds no reference to this object: the owner keeps it.
    ns::Weak<Reachability> weak(this);
    auto token = provider->watch(*ns::RunLoop::current(), ns::RunLoop::kDefaultMode, [weak] {
        if (auto self = weak.lock()) self->changed();
    });
    if (!token) return false;
    watch_ = std::move(token);
    haveLast_ = readFlags(&lastFlags_);
    return true;
}

void Reachability::stopNotifier() { watch_ = nullptr; }

void Reachability::changed() {
    uint32_t f = 0;
    bool readable = readFlags(&f);
    // A burst of routing messages that changes nothing is not a change.
    if (readable == haveLast_ && (!readable || f == lastFlags_)) return;
    haveLast_ = readable;
    lastFlags_ = f;
    ns::NotificationCenter::defaultCenter()->postNotification(kReachabilityChangedNotification,
                                                             ns::keepAlive(this));
}

}  // namespace http
