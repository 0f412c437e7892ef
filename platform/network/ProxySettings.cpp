#include "platform/network/ProxySettings.h"

#include <cstdlib>

#include "platform/network/HTTPMessage.h"

namespace net {
namespace {

bool parseHostPort(std::string_view hp, std::string& host, uint16_t& port, uint16_t defaultPort) {
    if (hp.empty()) return false;
    std::string_view portText;
    if (hp.front() == '[') {
        size_t close = hp.find(']');
        if (close == std::string_view::npos) return false;
        host = std::string(hp.substr(1, close - 1));
        if (close + 1 < hp.size()) {
            if (hp[close + 1] != ':') return false;
            portText = hp.substr(close + 2);
        }
    } else {
        size_t colon = hp.rfind(':');
        host = std::string(hp.substr(0, colon));
        if (colon != std::string_view::npos) portText = hp.substr(colon + 1);
    }
    if (host.empty()) return false;
    for (char c : host)
        if (c <= ' ' || c == '/' || c == '@') return false;
    port = defaultPort;
    if (!portText.empty()) {
        if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string_view::npos) return false;
        unsigned v = static_cast<unsigned>(std::stoul(std::string(portText)));
        if (v == 0 || v > 65535) return false;
        port = static_cast<uint16_t>(v);
    }
    return true;
}

bool bypassed(const std::string& noProxy, const std::string& host, uint16_t port) {
    std::string_view list(noProxy);
    while (!list.empty()) {
        size_t comma = list.find_first_of(", ");
        std::string item = lowercased(trimmed(list.substr(0, comma)));
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        if (item.empty()) continue;
        if (item == "*") return true;
        // An item may carry a port: it then applies to that port only.
        size_t colon = item.rfind(':');
        if (colon != std::string::npos && item.find(']') == std::string::npos && item.find(':') == colon) {
            if (std::to_string(port) != item.substr(colon + 1)) continue;
            item = item.substr(0, colon);
        }
        if (item.front() == '.') item.erase(0, 1);
        if (host == item) return true;
        if (host.size() > item.size() && host.compare(host.size() - item.size(), item.size(), item) == 0 &&
            host[host.size() - item.size() - 1] == '.')
            return true;
    }
    return false;
}

}  // namespace

std::optional<ProxyEntry> parseProxyURL(std::string_view text) {
    std::string_view t = trimmed(text);
    ProxyEntry e;
    e.kind = ProxyEntry::Kind::HTTP;
    uint16_t defaultPort = 8080;
    size_t scheme = t.find("://");
    if (scheme != std::string_view::npos) {
        std::string s = lowercased(t.substr(0, scheme));
        t.remove_prefix(scheme + 3);
        if (s == "http") defaultPort = 80;
        else if (s == "https") {
            defaultPort = 443;
            e.kind = ProxyEntry::Kind::HTTPS;
        } else if (s == "socks" || s == "socks5" || s == "socks5h") {
            defaultPort = 1080;
            e.kind = ProxyEntry::Kind::SOCKS;
        } else {
            return std::nullopt;
        }
    }
    size_t slash = t.find('/');
    t = t.substr(0, slash);
    // Credentials in a proxy URL are not used here.
    if (size_t at = t.rfind('@'); at != std::string_view::npos) t.remove_prefix(at + 1);
    if (!parseHostPort(t, e.host, e.port, defaultPort)) return std::nullopt;
    return e;
}

std::vector<ProxyEntry> parsePACResult(std::string_view result) {
    std::vector<ProxyEntry> out;
    while (!result.empty()) {
        size_t semi = result.find(';');
        std::string_view item = trimmed(result.substr(0, semi));
        result = semi == std::string_view::npos ? std::string_view() : result.substr(semi + 1);
        if (item.empty()) continue;
        size_t space = item.find_first_of(" \t");
        std::string kind = lowercased(item.substr(0, space));
        std::string_view rest = space == std::string_view::npos ? std::string_view() : trimmed(item.substr(space));
        ProxyEntry e;
        if (kind == "direct") {
            out.push_back(e);
            continue;
        }
        uint16_t defaultPort;
        if (kind == "proxy" || kind == "http") {
            e.kind = ProxyEntry::Kind::HTTP;
            defaultPort = 8080;
        } else if (kind == "https") {
            e.kind = ProxyEntry::Kind::HTTPS;
            defaultPort = 443;
        } else if (kind == "socks" || kind == "socks5" || kind == "socks4") {
            e.kind = ProxyEntry::Kind::SOCKS;
            defaultPort = 1080;
        } else {
            continue;
        }
        if (!parseHostPort(rest, e.host, e.port, defaultPort)) continue;
        out.push_back(e);
    }
    if (out.empty()) out.push_back(ProxyEntry{});
    return out;
}

SystemProxySettings SystemProxySettings::fromEnvironment(const EnvironmentLookup& lookup) {
    auto get = [&](const char* name) -> std::string {
        const char* v = lookup ? lookup(name) : std::getenv(name);
        return v ? std::string(v) : std::string();
    };
    auto either = [&](const char* lower, const char* upper) {
        std::string v = get(lower);
        return v.empty() && upper ? get(upper) : v;
    };
    bool cgi = !get("REQUEST_METHOD").empty();
    SystemProxySettings s;
    s.httpProxy = either("http_proxy", cgi ? nullptr : "HTTP_PROXY");
    s.httpsProxy = either("https_proxy", "HTTPS_PROXY");
    s.allProxy = either("all_proxy", "ALL_PROXY");
    s.noProxy = either("no_proxy", "NO_PROXY");
    s.pacURL = get("DECK_PROXY_PAC_URL");
    return s;
}

std::optional<std::vector<ProxyEntry>> SystemProxySettings::proxiesForURL(std::string_view url) const {
    // Nothing configured (the usual case): direct, without reading the URL.
    if (httpProxy.empty() && httpsProxy.empty() && allProxy.empty() && pacURL.empty())
        return std::vector<ProxyEntry>{ProxyEntry{}};
    HTTPTarget t;
    if (!parseHTTPTarget(url, t)) return std::vector<ProxyEntry>{ProxyEntry{}};
    if (!pacURL.empty()) {
        ProxyEntry e;
        e.kind = ProxyEntry::Kind::AutoConfigurationURL;
        e.autoConfigurationURL = pacURL;
        return std::vector<ProxyEntry>{e};
    }
    if (bypassed(noProxy, t.host, t.port)) return std::vector<ProxyEntry>{ProxyEntry{}};
    const std::string& chosen = t.scheme == "https" ? (httpsProxy.empty() ? allProxy : httpsProxy)
                                                    : (httpProxy.empty() ? allProxy : httpProxy);
    if (chosen.empty()) return std::vector<ProxyEntry>{ProxyEntry{}};
    auto e = parseProxyURL(chosen);
    if (!e) return std::nullopt;
    return std::vector<ProxyEntry>{*e};
}

}  // namespace net
