// Host name lookup that never blocks the thread asking.
//
// resolve() answers numeric addresses at once; names are looked up with
// getaddrinfo on a helper thread and the answer is delivered on the asking
// thread's run loop. Cancelling (or dropping the handle) guarantees the
// callback will not run.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/RunLoop.h"

namespace net {

struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family() const { return storage.ss_family; }
    std::string text() const;  // "127.0.0.1:80", "[::1]:80"
};

class Resolver {
public:
    using Callback = std::function<void(std::vector<SocketAddress> addresses, ns::Ref<ns::Error> error)>;

    // A lookup in flight; dropping it does not stop the callback, cancel() does.
    class Request : public ns::Object {
    public:
        virtual void cancel() = 0;
    };

    // Looks `host` up for `port` (TCP). The callback runs once on `loop`'s
    // thread in `mode`, with the addresses in the resolver's order or an
    // error (kNetworkErrorDomain, kErrorCannotFindHost). A numeric host
    // answers through the loop as well, never from inside resolve().
    static ns::Ref<Request> resolve(const std::string& host, uint16_t port, ns::RunLoop& loop,
                                    const std::string& mode, Callback callback);

    // How names (not numeric addresses) are looked up: getaddrinfo, unless a
    // lookup function replaces it (a test's own table of names, say);
    // nullptr restores getaddrinfo.
    using LookupFunction = std::function<std::vector<SocketAddress>(const std::string& host, uint16_t port,
                                                                    ns::Ref<ns::Error>* error)>;
    static void setLookupFunction(LookupFunction fn);
};

}  // namespace net
