// ProxyResolver: which proxy one request goes through.
//
// The request's own settings come first (a proxy host and port, or the URL
// of a proxy auto-configuration script); with none set, the system settings
// decide, and they may name a script too. A script is read from a file
// (without blocking the loop, abandoned after the time-out) or fetched over
// HTTP by the fetcher the owner gives (the owner is a request, and the
// resolver links nothing of it), then evaluated for the request's URL; its
// first answer is the proxy (DIRECT, a failure or a time-out: none).
//
// Threads: the settings are read and set from any thread under the
// resolver's own lock (callers set them before starting; the credentials
// dialog reads the proxy host on the main thread). A resolution runs on the
// loop it was given, and so do cancel() and the done callback; its state is
// that loop's only.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Data.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Timer.h"
#include "platform/foundation/URL.h"
#include "platform/network/HTTPReadStream.h"
#include "platform/network/PACScript.h"
#include "platform/network/ProxySettings.h"

namespace http {

class ProxyResolver {
public:
    // Fetches a script over HTTP: calls `done` once with its text (empty when
    // there is none) on the resolution's loop, and answers a function that
    // stops the fetch (after which `done` is not called).
    using ScriptDone = std::function<void(std::string script)>;
    using ScriptFetcher = std::function<std::function<void()>(ns::Ref<ns::URL> url, ScriptDone done)>;

    struct Context {
        // The object that holds this resolver: callbacks hold it while they
        // run and do nothing once it is gone.
        ns::Weak<ns::Object> owner;
        ns::Ref<ns::RunLoop> loop;  // where file reads, timers and evaluation run
        std::string mode;
        double timeOutSeconds = 10;
        bool synchronous = false;  // evaluate on the calling thread, waiting
        ScriptFetcher fetchScript;
    };
    enum class Outcome {
        Ready,    // the proxy (or none) is known now
        Pending,  // a script is on its way: `done` is called on the loop
        Failed,   // the system settings could not be read
    };

    ProxyResolver() = default;
    ~ProxyResolver();
    ProxyResolver(const ProxyResolver&) = delete;
    ProxyResolver& operator=(const ProxyResolver&) = delete;

    // --- Settings (any thread) ---------------------------------------------
    std::string host() const;
    void setHost(std::string host);
    int port() const;
    void setPort(int port);
    // "HTTP", "HTTPS" or "SOCKS" (empty: HTTP).
    std::string type() const;
    void setType(std::string type);
    ns::Ref<ns::URL> PACurl() const;
    void setPACurl(ns::Ref<ns::URL> url);
    // Where the system settings are read from (when not set: the process
    // environment, read once for the process).
    void setEnvironmentLookup(net::SystemProxySettings::EnvironmentLookup lookup);
    // Gives `other` these settings (for a copy of the request).
    void copySettingsTo(ProxyResolver& other) const;

    // --- Resolving (on the context's loop) ----------------------------------
    // Chooses the proxy for `url`. Ready and Failed answer at once; Pending
    // calls `done` later on the loop, once. The context is asked for only
    // when a script has to be read (most requests need none).
    using ContextMaker = std::function<Context()>;
    Outcome resolve(const ns::URL& url, const ContextMaker& makeContext, std::function<void()> done);
    // Stops a pending resolution: no `done` call follows.
    void cancel();
    bool isPending() const { return pending_; }
    // Puts the chosen proxy (if any) on the stream.
    void applyTo(net::HTTPReadStream& stream);

private:
    void readLocalScript(const std::string& path);
    void readSome();
    void endLocalRead(bool success);
    void scriptArrived(std::string script);
    void choose(const std::optional<std::string>& answer);
    void finish();
    void stopWork();

    mutable std::mutex lock_;  // the settings below
    std::string host_;
    int port_ = 0;
    std::string type_;
    ns::Ref<ns::URL> PACurl_;
    net::SystemProxySettings::EnvironmentLookup environment_;

    // One resolution (the loop's thread only).
    bool pending_ = false;
    std::string url_, urlHost_;
    Context context_;
    std::function<void()> done_;
    int fd_ = -1;
    ns::Ref<ns::FdSource> source_;
    ns::Ref<ns::MutableData> script_;
    ns::Ref<ns::Timer> readTimer_;
    std::function<void()> stopFetch_;
    ns::Ref<net::PACScript::Request> evaluation_;
};

}  // namespace http
