#include "platform/network/PACScript.h"

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/wait.h>

#include <cerrno>

#include "platform/network/ProxySettings.h"

namespace {

using net::PACScript;

TEST(PACScript, AnswersFromTheScriptWithHelpers) {
    const char* script = R"JS(
      function FindProxyForURL(url, host) {
        if (isPlainHostName(host) || dnsDomainIs(host, ".intranet.example")) return "DIRECT";
        if (shExpMatch(url, "http://*.media.example/*")) return "PROXY media-proxy:3128";
        if (isInNet(host, "10.0.0.0", "255.0.0.0")) return "SOCKS5 socks.example:1080; DIRECT";
        return "PROXY proxy.example:8080; DIRECT";
      })JS";
    ns::Ref<ns::Error> err;
    EXPECT_EQ(*PACScript::evaluateSynchronously(script, "http://printer/", "printer", 5, &err), "DIRECT");
    EXPECT_EQ(*PACScript::evaluateSynchronously(script, "http://a.intranet.example/", "a.intranet.example", 5, &err),
              "DIRECT");
    EXPECT_EQ(*PACScript::evaluateSynchronously(script, "http://cdn.media.example/x.png", "cdn.media.example", 5, &err),
              "PROXY media-proxy:3128");
    EXPECT_EQ(*PACScript::evaluateSynchronously(script, "http://10.1.2.3/", "10.1.2.3", 5, &err),
              "SOCKS5 socks.example:1080; DIRECT");
    // The host helpers answer from this machine: its first IPv4 address
    // that is not a loopback one (or 127.0.0.1), and names looked up.
    std::string mine = "127.0.0.1";
    ifaddrs* list = nullptr;
    ASSERT_EQ(::getifaddrs(&list), 0);
    for (ifaddrs* p = list; p; p = p->ifa_next) {
        if (!p->ifa_addr || p->ifa_addr->sa_family != AF_INET) continue;
        char buf[INET_ADDRSTRLEN];
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(p->ifa_addr)->sin_addr, buf, sizeof buf);
        if (std::string_view(buf).substr(0, 4) != "127.") {
            mine = buf;
            break;
        }
    }
    ::freeifaddrs(list);
    EXPECT_EQ(PACScript::evaluateSynchronously("function FindProxyForURL(u, h) { return myIpAddress(); }", "http://a/", "a",
                                               5, &err),
              mine);
    EXPECT_EQ(PACScript::evaluateSynchronously(
                  "function FindProxyForURL(u, h) { return dnsResolve(h) + ',' + isResolvable('no-such-host.invalid'); }",
                  "http://localhost/", "localhost", 5, &err),
              "127.0.0.1,false");
    // A longer answer is cut at its limit.
    for (size_t length : {PACScript::kMaxResultBytes, PACScript::kMaxResultBytes + 1}) {
        auto big = PACScript::evaluateSynchronously(
            "function FindProxyForURL(u, h) { return new Array(" + std::to_string(length + 1) + ").join('x'); }",
            "http://a/", "a", 5, &err);
        ASSERT_TRUE(big) << length;
        EXPECT_EQ(big->size(), PACScript::kMaxResultBytes);
    }
    auto answer = PACScript::evaluateSynchronously(script, "https://www.example.org/", "www.example.org", 5, &err);
    ASSERT_TRUE(answer);
    auto entries = net::parsePACResult(*answer);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].host, "proxy.example");
    EXPECT_EQ(entries[0].port, 8080);
}

TEST(PACScript, BrokenAndHostileScriptsFailCleanly) {
    ns::Ref<ns::Error> err;
    EXPECT_FALSE(PACScript::evaluateSynchronously("function FindProxyForURL( {", "http://a/", "a", 5, &err));
    ASSERT_TRUE(err);
    EXPECT_EQ(err->code(), net::kPACScriptError);

    EXPECT_FALSE(PACScript::evaluateSynchronously("var x = 1;", "http://a/", "a", 5, &err));
    ASSERT_TRUE(err);
    EXPECT_NE(err->localizedDescription().find("FindProxyForURL"), std::string::npos);

    EXPECT_FALSE(PACScript::evaluateSynchronously("function FindProxyForURL(u, h) { throw new Error('boom'); }",
                                                  "http://a/", "a", 5, &err));
    ASSERT_TRUE(err);
    EXPECT_NE(err->localizedDescription().find("boom"), std::string::npos);

    // A script that never returns is stopped after the time-out.
    EXPECT_FALSE(PACScript::evaluateSynchronously("function FindProxyForURL(u, h) { for (;;) {} }", "http://a/", "a",
                                                  0.3, &err));
    ASSERT_TRUE(err);
    EXPECT_EQ(err->code(), net::kPACTimedOut);
    // The stopped script process was waited for: no child is left behind.
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);

    // Refused before any process starts, it closes no descriptor of ours.
    if (::fcntl(0, F_GETFD) < 0) {
        ASSERT_EQ(::open("/dev/null", O_RDONLY), 0);
    }
    EXPECT_FALSE(PACScript::evaluateSynchronously(std::string(PACScript::kMaxScriptBytes + 1, ' '), "http://a/", "a", 5,
                                                  &err));
    ASSERT_TRUE(err);
    EXPECT_EQ(err->code(), net::kPACScriptTooLarge);
    EXPECT_GE(::fcntl(0, F_GETFD), 0);
    // At the limit the script is run (and found wanting).
    err = nullptr;
    EXPECT_FALSE(PACScript::evaluateSynchronously(std::string(PACScript::kMaxScriptBytes, ' '), "http://a/", "a", 5, &err));
    ASSERT_TRUE(err);
    EXPECT_EQ(err->code(), net::kPACScriptError);

    // The script cannot reach this process: no host objects beyond the helpers.
    auto answer = PACScript::evaluateSynchronously(
        "function FindProxyForURL(u, h) { return typeof require + ',' + typeof process + ',' + typeof print; }",
        "http://a/", "a", 5, &err);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->substr(0, 20), "undefined,undefined,");
}

}  // namespace

namespace {
TEST(PACScript, MemoryHungryScriptIsStopped) {
    ns::Ref<ns::Error> err;
    auto answer = net::PACScript::evaluateSynchronously(
        "function FindProxyForURL(u, h) { var s = 'x'; for (;;) s = s + s; }", "http://a/",
        "a", 10, &err);
    EXPECT_FALSE(answer);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->code(), net::kPACScriptError) << err->description();
}
}  // namespace
