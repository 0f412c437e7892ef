#include "platform/network/ReachabilityProvider.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace net {

std::string ReachabilityTarget::describe() const {
    if (!isAddress) return hostName;
    char buf[INET_ADDRSTRLEN] = {0};
    inet_ntop(AF_INET, &address.sin_addr, buf, sizeof buf);
    return buf;
}

ReachabilityProvider::~ReachabilityProvider() = default;

namespace {
std::mutex gProviderMutex;
// Never destroyed: threads still running while the process exits ask it.
ns::Ref<ReachabilityProvider>& gProvider = *new ns::Ref<ReachabilityProvider>;

struct Interface {
    std::string name;
    bool up = false;
    bool loopback = false;
    std::vector<std::pair<uint32_t, uint32_t>> v4;  // address, netmask (host order)
};

std::vector<Interface> interfaces() {
    std::vector<Interface> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    for (ifaddrs* p = list; p; p = p->ifa_next) {
        Interface* it = nullptr;
        for (auto& i : out)
            if (i.name == p->ifa_name) it = &i;
        if (!it) {
            out.emplace_back();
            out.back().name = p->ifa_name;
            it = &out.back();
        }
        it->up = (p->ifa_flags & IFF_UP) && (p->ifa_flags & IFF_RUNNING);
        it->loopback = p->ifa_flags & IFF_LOOPBACK;
        if (p->ifa_addr && p->ifa_addr->sa_family == AF_INET && p->ifa_netmask) {
            uint32_t a = ntohl(reinterpret_cast<sockaddr_in*>(p->ifa_addr)->sin_addr.s_addr);
            uint32_t m = ntohl(reinterpret_cast<sockaddr_in*>(p->ifa_netmask)->sin_addr.s_addr);
            it->v4.emplace_back(a, m);
        }
    }
    freeifaddrs(list);
    return out;
}

// Interfaces that carry a default route (IPv4 or IPv6).
std::vector<std::string> defaultRouteInterfaces() {
    std::vector<std::string> out;
    std::ifstream v4("/proc/net/route");
    std::string line;
    std::getline(v4, line);  // header
    while (std::getline(v4, line)) {
        std::istringstream in(line);
        std::string iface, dest, gateway, flags;
        in >> iface >> dest >> gateway >> flags;
        if (dest == "00000000" && (std::stoul(flags, nullptr, 16) & 0x1)) out.push_back(iface);
    }
    std::ifstream v6("/proc/net/ipv6_route");
    while (std::getline(v6, line)) {
        std::istringstream in(line);
        std::string dest, destLen, src, srcLen, next, metric, ref, use, flags, iface;
        in >> dest >> destLen >> src >> srcLen >> next >> metric >> ref >> use >> flags >> iface;
        if (destLen == "00" && dest == std::string(32, '0') && iface != "lo" && !iface.empty() &&
            (std::stoul(flags, nullptr, 16) & 0x1) && next != std::string(32, '0'))
            out.push_back(iface);
    }
    return out;
}

}  // namespace

ns::Ref<ReachabilityProvider> ReachabilityProvider::current() {
    std::lock_guard<std::mutex> g(gProviderMutex);
    if (!gProvider) gProvider = ns::make<LinuxReachabilityProvider>();
    return gProvider;
}

void ReachabilityProvider::setCurrent(ns::Ref<ReachabilityProvider> provider) {
    std::lock_guard<std::mutex> g(gProviderMutex);
    gProvider = std::move(provider);
}

bool LinuxReachabilityProvider::isCellularInterface(const std::string& name) {
    for (const char* p : {"wwan", "wwp", "rmnet", "ppp"})
        if (name.rfind(p, 0) == 0) return true;
    return false;
}

bool LinuxReachabilityProvider::flagsForTarget(const ReachabilityTarget& target, uint32_t* flags) {
    auto ifs = interfaces();
    auto routes = defaultRouteInterfaces();
    auto isUp = [&](const std::string& name) {
        for (auto& i : ifs)
            if (i.name == name) return i.up;
        return false;
    };
    // The internet: a default route through an interface that is up.
    uint32_t internet = 0;
    bool anyDefault = false, cellularOnly = true;
    for (auto& r : routes) {
        if (!isUp(r)) continue;
        anyDefault = true;
        if (!isCellularInterface(r)) cellularOnly = false;
    }
    if (anyDefault) internet = kReachabilityReachable | (cellularOnly ? uint32_t(kReachabilityIsWWAN) : 0u);

    uint32_t f = 0;
    if (!target.isAddress) {
        std::string h = target.hostName;
        for (auto& c : h) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (h == "localhost" || h.ends_with(".localhost"))
            f = kReachabilityReachable | kReachabilityIsLocalAddress | kReachabilityIsDirect;
        else
            f = internet;
        *flags = f;
        return true;
    }
    uint32_t a = ntohl(target.address.sin_addr.s_addr);
    if (a == 0) {
        f = internet;
    } else if ((a >> 24) == 127) {
        f = kReachabilityReachable | kReachabilityIsLocalAddress | kReachabilityIsDirect;
    } else if ((a & 0xFFFF0000u) == 0xA9FE0000u) {
        // The link-local network: reachable directly when a local
        // (non-cellular) link is up with an IPv4 address.
        for (auto& i : ifs)
            if (i.up && !i.loopback && !isCellularInterface(i.name) && !i.v4.empty())
                f = kReachabilityReachable | kReachabilityIsDirect;
    } else {
        for (auto& i : ifs) {
            if (!i.up) continue;
            for (auto& [addr, mask] : i.v4) {
                if (addr == a) f = kReachabilityReachable | kReachabilityIsLocalAddress | kReachabilityIsDirect;
                else if ((addr & mask) == (a & mask) && !f)
                    f = kReachabilityReachable | kReachabilityIsDirect | (isCellularInterface(i.name) ? uint32_t(kReachabilityIsWWAN) : 0u);
            }
        }
        if (!f) f = internet;
    }
    *flags = f;
    return true;
}

namespace {
struct NetlinkWatch : ns::Object {
    int fd = -1;
    ns::Ref<ns::FdSource> source;
    ~NetlinkWatch() override {
        if (source) source->invalidate();
        if (fd >= 0) ::close(fd);
    }
};
}  // namespace

ns::Ref<ns::Object> LinuxReachabilityProvider::watch(ns::RunLoop& loop, const std::string& mode,
                                                     std::function<void()> changed) {
    int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) return nullptr;
    sockaddr_nl sa{};
    sa.nl_family = AF_NETLINK;
    sa.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_IFADDR | RTMGRP_IPV6_ROUTE;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return nullptr;
    }
    auto w = ns::make<NetlinkWatch>();
    w->fd = fd;
    w->source = loop.addFd(
        fd, ns::FdReadable,
        [fd, changed](unsigned) {
            // Drain every pending message, then report once.
            char buf[8192];
            bool any = false;
            while (::recv(fd, buf, sizeof buf, 0) > 0) any = true;
            if (any && changed) changed();
        },
        mode);
    return w;
}

// ---- Fake ------------------------------------------------------------------------

void FakeReachabilityProvider::setDefaultFlags(uint32_t flags) {
    std::lock_guard<std::mutex> g(mutex_);
    default_ = flags;
}

void FakeReachabilityProvider::setFlags(const std::string& key, uint32_t flags) {
    std::lock_guard<std::mutex> g(mutex_);
    flags_[key] = flags;
}

void FakeReachabilityProvider::setUnreadable(bool v) {
    std::lock_guard<std::mutex> g(mutex_);
    unreadable_ = v;
}

void FakeReachabilityProvider::setRefuseWatch(bool v) {
    std::lock_guard<std::mutex> g(mutex_);
    refuse_ = v;
}

bool FakeReachabilityProvider::flagsForTarget(const ReachabilityTarget& target, uint32_t* flags) {
    std::lock_guard<std::mutex> g(mutex_);
    if (unreadable_) return false;
    auto it = flags_.find(target.describe());
    *flags = it != flags_.end() ? it->second : default_;
    return true;
}

ns::Ref<ns::Object> FakeReachabilityProvider::watch(ns::RunLoop& loop, const std::string& mode,
                                                    std::function<void()> changed) {
    std::lock_guard<std::mutex> g(mutex_);
    if (refuse_) return nullptr;
    auto w = ns::make<Watcher>(&loop, mode, std::move(changed));
    watchers_.push_back(w);
    return w;
}

void FakeReachabilityProvider::signalChange() {
    std::vector<ns::Ref<Watcher>> live;
    {
        std::lock_guard<std::mutex> g(mutex_);
        std::erase_if(watchers_, [](const ns::Weak<Watcher>& w) { return w.expired(); });
        for (auto& w : watchers_)
            if (auto s = w.lock()) live.push_back(s);
    }
    for (auto& w : live) {
        ns::Weak<Watcher> weak(w);
        w->loop->performDeferred(
            [weak] {
                if (auto s = weak.lock()) s->changed();
            },
            w->mode);
    }
}

size_t FakeReachabilityProvider::watcherCount() {
    std::lock_guard<std::mutex> g(mutex_);
    std::erase_if(watchers_, [](const ns::Weak<Watcher>& w) { return w.expired(); });
    return watchers_.size();
}

}  // namespace net
