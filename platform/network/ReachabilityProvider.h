// Where reachability flags come from. The default provider reads the Linux
// routing state (interfaces, addresses, default routes) and watches it
// through a netlink route socket; tests install a fake provider whose flags
// they set and whose change they trigger.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/RunLoop.h"

namespace net {

// Flag bits, as the reachability interface defines them.
enum ReachabilityFlag : uint32_t {
    kReachabilityTransientConnection = 0x1,
    kReachabilityReachable = 0x2,
    kReachabilityConnectionRequired = 0x4,
    kReachabilityConnectionOnTraffic = 0x8,
    kReachabilityInterventionRequired = 0x10,
    kReachabilityConnectionOnDemand = 0x20,
    kReachabilityIsLocalAddress = 0x10000,
    kReachabilityIsDirect = 0x20000,
    kReachabilityIsWWAN = 0x40000,
};

struct ReachabilityTarget {
    bool isAddress = false;
    std::string hostName;    // when !isAddress
    sockaddr_in address{};   // when isAddress (IPv4, network byte order)
    std::string describe() const;
};

class ReachabilityProvider : public ns::Object {
public:
    ~ReachabilityProvider() override;
    // The flags for the target now; false when they cannot be read.
    virtual bool flagsForTarget(const ReachabilityTarget& target, uint32_t* flags) = 0;
    // Calls `changed` on `loop`'s thread (in `mode`) whenever the network
    // state may have changed, until the returned token is dropped. Nil when
    // watching is impossible.
    virtual ns::Ref<ns::Object> watch(ns::RunLoop& loop, const std::string& mode, std::function<void()> changed) = 0;

    // The provider reachability objects use (the Linux one unless replaced).
    static ns::Ref<ReachabilityProvider> current();
    static void setCurrent(ns::Ref<ReachabilityProvider> provider);
};

// Reads /proc/net/route, /proc/net/ipv6_route and the interface list.
// Interfaces named wwan*, wwp*, rmnet* or ppp* count as cellular links.
class LinuxReachabilityProvider : public ReachabilityProvider {
public:
    const char* className() const override { return "LinuxReachabilityProvider"; }
    bool flagsForTarget(const ReachabilityTarget& target, uint32_t* flags) override;
    ns::Ref<ns::Object> watch(ns::RunLoop& loop, const std::string& mode, std::function<void()> changed) override;
    static bool isCellularInterface(const std::string& name);
};

// Flags set by hand: per host name or dotted address, else the default.
class FakeReachabilityProvider : public ReachabilityProvider {
public:
    const char* className() const override { return "FakeReachabilityProvider"; }
    void setDefaultFlags(uint32_t flags);
    void setFlags(const std::string& key, uint32_t flags);
    // Makes flagsForTarget fail (unreadable flags).
    void setUnreadable(bool v);
    // Makes watch() refuse.
    void setRefuseWatch(bool v);
    // Calls every watcher on its own loop (queued, not at once).
    void signalChange();
    size_t watcherCount();

    bool flagsForTarget(const ReachabilityTarget& target, uint32_t* flags) override;
    ns::Ref<ns::Object> watch(ns::RunLoop& loop, const std::string& mode, std::function<void()> changed) override;

private:
    struct Watcher : ns::Object {
        Watcher(ns::RunLoop* loop, std::string mode, std::function<void()> changed)
            : loop(loop), mode(std::move(mode)), changed(std::move(changed)) {}
        ns::Ref<ns::RunLoop> loop;
        std::string mode;
        std::function<void()> changed;
    };
    std::mutex mutex_;
    uint32_t default_ = kReachabilityReachable;
    std::map<std::string, uint32_t> flags_;
    bool unreadable_ = false;
    bool refuse_ = false;
    std::vector<ns::Weak<Watcher>> watchers_;
};

}  // namespace net
