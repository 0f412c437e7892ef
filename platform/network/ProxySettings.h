// The system's proxy configuration, as this platform stand-in keeps it: the
// usual environment variables (http_proxy, https_proxy, all_proxy, no_proxy
// and their upper-case forms, the lower-case form winning) and
// DECK_PROXY_PAC_URL for a proxy auto-configuration script. Upper-case
// HTTP_PROXY is ignored while REQUEST_METHOD is set: a CGI program's
// environment carries a client's "Proxy:" request header as HTTP_PROXY, so
// there it names whatever the client wants.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace net {

struct ProxyEntry {
    enum class Kind { Direct, HTTP, HTTPS, SOCKS, AutoConfigurationURL };
    Kind kind = Kind::Direct;
    std::string host;
    uint16_t port = 0;
    std::string autoConfigurationURL;  // for AutoConfigurationURL
    bool operator==(const ProxyEntry&) const = default;
};

class SystemProxySettings {
public:
    // A variable's value, nullptr when unset (std::getenv by default).
    using EnvironmentLookup = std::function<const char*(const char* name)>;
    // The settings the environment holds now.
    static SystemProxySettings fromEnvironment(const EnvironmentLookup& lookup = {});

    std::string httpProxy;   // "host:port" or "http://host:port/"
    std::string httpsProxy;
    std::string allProxy;    // "socks5://host:port" or an HTTP proxy
    std::string noProxy;     // "example.com,.internal,10.0.0.1,*"
    std::string pacURL;

    // The proxies for `url`, to try in order. A single Direct entry means
    // no proxy. nullopt when a configured value cannot be read (the caller
    // reports "Unable to obtain information on proxy servers").
    std::optional<std::vector<ProxyEntry>> proxiesForURL(std::string_view url) const;
};

// Reads "host:port", "http://host:port/", "socks5://[::1]:1080"; nullopt
// when malformed. The port defaults by scheme (http 80, https 443, socks 1080)
// and is 8080 for a bare host.
std::optional<ProxyEntry> parseProxyURL(std::string_view text);

// Turns a PAC answer ("PROXY a:8080; SOCKS5 b:1080; DIRECT") into entries;
// unknown or malformed items are skipped; an empty answer is Direct.
std::vector<ProxyEntry> parsePACResult(std::string_view result);

}  // namespace net
