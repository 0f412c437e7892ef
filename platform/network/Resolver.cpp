#include "platform/network/Resolver.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/network/NetworkErrors.h"

namespace net {

std::string SocketAddress::text() const {
    char buf[INET6_ADDRSTRLEN] = {0};
    if (family() == AF_INET) {
        auto* a = reinterpret_cast<const sockaddr_in*>(&storage);
        inet_ntop(AF_INET, &a->sin_addr, buf, sizeof buf);
        return std::string(buf) + ":" + std::to_string(ntohs(a->sin_port));
    }
    if (family() == AF_INET6) {
        auto* a = reinterpret_cast<const sockaddr_in6*>(&storage);
        inet_ntop(AF_INET6, &a->sin6_addr, buf, sizeof buf);
        return "[" + std::string(buf) + "]:" + std::to_string(ntohs(a->sin6_port));
    }
    return "?";
}

namespace {

std::mutex gLookupMutex;
Resolver::LookupFunction gLookup;

std::vector<SocketAddress> systemLookup(const std::string& host, uint16_t port, bool numericOnly,
                                        ns::Ref<ns::Error>* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG | (numericOnly ? AI_NUMERICHOST : 0);
    addrinfo* res = nullptr;
    std::string service = std::to_string(port);
    int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &res);
    if (rc != 0 && numericOnly) {
        // AI_ADDRCONFIG can refuse a literal on a host without that family.
        hints.ai_flags = AI_NUMERICHOST;
        rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &res);
    }
    std::vector<SocketAddress> out;
    if (rc != 0) {
        if (error)
            *error = makeError(kNetworkErrorDomain, kErrorCannotFindHost,
                               "A server with the specified hostname could not be found: " + host + " (" +
                                   gai_strerror(rc) + ")");
        return out;
    }
    for (addrinfo* p = res; p; p = p->ai_next) {
        if (p->ai_addrlen > sizeof(sockaddr_storage)) continue;
        SocketAddress a;
        std::memcpy(&a.storage, p->ai_addr, p->ai_addrlen);
        a.length = p->ai_addrlen;
        out.push_back(a);
    }
    freeaddrinfo(res);
    if (out.empty() && error)
        *error = makeError(kNetworkErrorDomain, kErrorCannotFindHost,
                           "A server with the specified hostname could not be found: " + host);
    return out;
}

bool isNumericHost(const std::string& host) {
    in6_addr a6;
    in_addr a4;
    return inet_pton(AF_INET, host.c_str(), &a4) == 1 || inet_pton(AF_INET6, host.c_str(), &a6) == 1;
}

struct State : Resolver::Request {
    const char* className() const override { return "ResolverRequest"; }
    std::mutex mutex;
    bool cancelled = false;
    Resolver::Callback callback;
    void cancel() override {
        std::lock_guard<std::mutex> g(mutex);
        cancelled = true;
        callback = nullptr;
    }
    // Runs on the loop thread: takes the callback out unless cancelled.
    Resolver::Callback take() {
        std::lock_guard<std::mutex> g(mutex);
        if (cancelled) return nullptr;
        cancelled = true;
        return std::move(callback);
    }
};

void deliver(const ns::Ref<State>& state, ns::Ref<ns::RunLoop> loop, const std::string& mode,
             std::vector<SocketAddress> addresses, ns::Ref<ns::Error> error) {
    // The queued call keeps the state; a cancelled state has no callback.
    loop->performDeferred(
        [state, addresses = std::move(addresses), error = std::move(error)]() mutable {
            if (auto cb = state->take()) cb(std::move(addresses), std::move(error));
        },
        mode);
}

}  // namespace

void Resolver::setLookupFunction(LookupFunction fn) {
    std::lock_guard<std::mutex> g(gLookupMutex);
    gLookup = std::move(fn);
}

ns::Ref<Resolver::Request> Resolver::resolve(const std::string& host, uint16_t port, ns::RunLoop& loop,
                                             const std::string& mode, Callback callback) {
    auto state = ns::make<State>();
    state->callback = std::move(callback);
    ns::Ref<ns::RunLoop> target(&loop);
    std::string bare = host;
    if (bare.size() > 2 && bare.front() == '[' && bare.back() == ']') bare = bare.substr(1, bare.size() - 2);
    if (isNumericHost(bare)) {
        ns::Ref<ns::Error> error;
        auto addresses = systemLookup(bare, port, true, &error);
        deliver(state, target, mode, std::move(addresses), std::move(error));
        return state;
    }
    LookupFunction custom;
    {
        std::lock_guard<std::mutex> g(gLookupMutex);
        custom = gLookup;
    }
    // A lookup that outlives its asker finishes and is dropped: cancel()
    // cleared the callback, and the state goes with the last queued call.
    std::thread([state, target, mode, bare, port, custom]() mutable {
        ns::Ref<ns::Error> error;
        std::vector<SocketAddress> addresses =
            custom ? custom(bare, port, &error) : systemLookup(bare, port, false, &error);
        if (addresses.empty() && !error)
            error = makeError(kNetworkErrorDomain, kErrorCannotFindHost,
                              "A server with the specified hostname could not be found: " + bare);
        deliver(state, target, mode, std::move(addresses), std::move(error));
    }).detach();
    return state;
}

}  // namespace net
