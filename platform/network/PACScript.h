// Proxy auto-configuration scripts, run in Duktape.
//
// Each evaluation runs in a short-lived child process: the script cannot
// touch this process's memory or files, its memory and CPU are capped with
// resource limits, and a script that loops or hangs is killed after the
// time-out. The answer arrives on the asking run loop, so the network
// thread never waits for a script (nor for the DNS lookups that
// dnsResolve, isResolvable and isInNet make inside it).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/foundation/RunLoop.h"

namespace net {

inline constexpr const char* kPACErrorDomain = "PACErrorDomain";
enum PACErrorCode : long {
    kPACScriptError = 1,     // the script does not compile or throws
    kPACTimedOut = 2,        // killed after the time-out
    kPACCannotRun = 3,       // no child process could be started
    kPACScriptTooLarge = 4,
};

class PACScript {
public:
    static constexpr size_t kMaxScriptBytes = 1u << 20;
    static constexpr size_t kMaxResultBytes = 64u << 10;

    using Callback = std::function<void(std::optional<std::string> result, ns::Ref<ns::Error> error)>;
    class Request : public ns::Object {
    public:
        virtual void cancel() = 0;
    };

    // Calls FindProxyForURL(url, host) of `script`; the callback runs once
    // on `loop` in `mode` with the answer text ("PROXY a:1; DIRECT") or an
    // error. Cancelling (or dropping the handle) stops the child and the
    // callback.
    static ns::Ref<Request> evaluate(const std::string& script, const std::string& url, const std::string& host,
                                     ns::RunLoop& loop, const std::string& mode, double timeoutSeconds,
                                     Callback callback);

    // The same, waiting on the calling thread (runs its loop in a private
    // mode). For synchronous requests and tests.
    static std::optional<std::string> evaluateSynchronously(const std::string& script, const std::string& url,
                                                            const std::string& host, double timeoutSeconds,
                                                            ns::Ref<ns::Error>* error);
};

}  // namespace net
