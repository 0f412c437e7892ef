#include "platform/network/ProxySettings.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using net::ProxyEntry;
using Kind = net::ProxyEntry::Kind;

TEST(ProxySettings, ParsesProxyURLs) {
    auto a = net::parseProxyURL("http://proxy.lan:3128/");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->kind, Kind::HTTP);
    EXPECT_EQ(a->host, "proxy.lan");
    EXPECT_EQ(a->port, 3128);
    EXPECT_EQ(net::parseProxyURL("proxy.lan").value().port, 8080);
    auto s = net::parseProxyURL("socks5://user:pw@[::1]");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->kind, Kind::SOCKS);
    EXPECT_EQ(s->host, "::1");
    EXPECT_EQ(s->port, 1080);
    EXPECT_FALSE(net::parseProxyURL("ftp://x"));
    EXPECT_FALSE(net::parseProxyURL("http://host:99999"));
    EXPECT_FALSE(net::parseProxyURL(""));
    // Ports: the first and last there are, and one past each; five digits at most.
    struct Row { const char* text; int port; };  // 0: refused
    for (const Row& r : {Row{"http://host:1", 1}, Row{"http://host:65535", 65535}, Row{"host:00080", 80},
                         Row{"[::1]:65535", 65535}, Row{"http://host:0", 0}, Row{"http://host:65536", 0},
                         Row{"[::1]:65536", 0}, Row{"host:000080", 0}, Row{"host:-1", 0}, Row{"host:8o", 0}}) {
        auto e = net::parseProxyURL(r.text);
        ASSERT_EQ(e.has_value(), r.port != 0) << r.text;
        if (e) {
            EXPECT_EQ(e->port, r.port) << r.text;
        }
    }
}

TEST(ProxySettings, ChoosesByScheme_AndHonoursNoProxy) {
    net::SystemProxySettings s;
    s.httpProxy = "http://p1:81";
    s.httpsProxy = "p2:82";
    s.noProxy = "internal.example, .corp, 10.0.0.1, localhost:8080";
    EXPECT_EQ((*s.proxiesForURL("http://a.example/"))[0].host, "p1");
    EXPECT_EQ((*s.proxiesForURL("https://a.example/"))[0].port, 82);
    EXPECT_EQ((*s.proxiesForURL("http://internal.example/"))[0].kind, Kind::Direct);
    EXPECT_EQ((*s.proxiesForURL("http://x.internal.example/"))[0].kind, Kind::Direct);
    EXPECT_EQ((*s.proxiesForURL("http://a.corp/"))[0].kind, Kind::Direct);
    EXPECT_EQ((*s.proxiesForURL("http://notinternal.example/"))[0].kind, Kind::HTTP);
    EXPECT_EQ((*s.proxiesForURL("http://localhost:8080/"))[0].kind, Kind::Direct);
    EXPECT_EQ((*s.proxiesForURL("http://localhost:9090/"))[0].kind, Kind::HTTP);
    s.httpProxy = "gopher://bad";
    EXPECT_FALSE(s.proxiesForURL("http://a.example/"));
    s.pacURL = "http://config/proxy.pac";
    auto pac = s.proxiesForURL("http://a.example/");
    EXPECT_EQ((*pac)[0].kind, Kind::AutoConfigurationURL);
    EXPECT_EQ((*pac)[0].autoConfigurationURL, "http://config/proxy.pac");
    net::SystemProxySettings none;
    EXPECT_EQ((*none.proxiesForURL("http://a/"))[0].kind, Kind::Direct);
}

TEST(ProxySettings, EnvironmentInEitherCaseWithHTTPProxyIgnoredUnderCGI) {
    std::map<std::string, std::string> env = {{"HTTP_PROXY", "upper-http:1"},
                                              {"HTTPS_PROXY", "upper-https:2"},
                                              {"ALL_PROXY", "socks5://upper-all:3"},
                                              {"NO_PROXY", "skip.example"},
                                              {"https_proxy", "lower-https:4"}};
    auto lookup = [&](const char* name) -> const char* {
        auto it = env.find(name);
        return it == env.end() ? nullptr : it->second.c_str();
    };
    auto s = net::SystemProxySettings::fromEnvironment(lookup);
    EXPECT_EQ(s.httpProxy, "upper-http:1");
    EXPECT_EQ(s.httpsProxy, "lower-https:4");  // the lower-case form wins
    EXPECT_EQ(s.allProxy, "socks5://upper-all:3");
    EXPECT_EQ((*s.proxiesForURL("http://skip.example/"))[0].kind, Kind::Direct);
    // A CGI program's HTTP_PROXY comes from a client's "Proxy:" header.
    env["REQUEST_METHOD"] = "GET";
    s = net::SystemProxySettings::fromEnvironment(lookup);
    EXPECT_EQ(s.httpProxy, "");
    EXPECT_EQ((*s.proxiesForURL("http://a.example/"))[0].host, "upper-all");
    env["http_proxy"] = "lower-http:5";
    EXPECT_EQ(net::SystemProxySettings::fromEnvironment(lookup).httpProxy, "lower-http:5");
}

TEST(ProxySettings, PACResults) {
    auto e = net::parsePACResult("PROXY a.example:8080; SOCKS5 b:1081;DIRECT ; BOGUS x:1; PROXY :9");
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].kind, Kind::HTTP);
    EXPECT_EQ(e[0].host, "a.example");
    EXPECT_EQ(e[1].kind, Kind::SOCKS);
    EXPECT_EQ(e[1].port, 1081);
    EXPECT_EQ(e[2].kind, Kind::Direct);
    EXPECT_EQ(net::parsePACResult("")[0].kind, Kind::Direct);
    // The last port there is is taken; one past it, or port 0, drops that entry only.
    auto edges = net::parsePACResult("PROXY a:65536; PROXY b:65535; SOCKS c:0; SOCKS d:1");
    ASSERT_EQ(edges.size(), 2u);
    EXPECT_EQ(edges[0].host, "b");
    EXPECT_EQ(edges[0].port, 65535);
    EXPECT_EQ(edges[1].host, "d");
    EXPECT_EQ(edges[1].port, 1);
}

}  // namespace
