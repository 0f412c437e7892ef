// Choosing a request's proxy without a request or sockets: the request's own
// settings, the system settings through an injected environment, scripts
// from real files in a temporary folder (evaluated in their child process)
// and scripts handed over by an injected fetcher.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>

#include "net/http/ProxyResolver.h"
#include "testsupport/TempDir.h"
#include "testsupport/MainLoopWait.h"

namespace {

using http::ProxyResolver;
using Outcome = ProxyResolver::Outcome;

struct Owner : ns::Object {
    const char* className() const override { return "ProxyResolverTestOwner"; }
};

std::string script(const std::string& answer) {
    return "function FindProxyForURL(url, host) { return \"" + answer + "\"; }\n";
}

class ProxyResolverTest : public ::testing::Test {
protected:
    ProxyResolver::Context context(double timeOut = 5) {
        ProxyResolver::Context c;
        c.owner = ns::Weak<ns::Object>(owner);
        c.loop = loop;
        c.mode = ns::RunLoop::kDefaultMode;
        c.timeOutSeconds = timeOut;
        return c;
    }
    // Resolves and, when the answer is pending, runs the loop until it is
    // done (bounded).
    Outcome resolve(ProxyResolver& resolver, const std::string& url, const ProxyResolver::Context& c) {
        auto outcome = start(resolver, c, url);
        if (outcome == Outcome::Pending) {
            EXPECT_TRUE(loop->runUntil([this] { return done; }, testsupport::kEventWaitSeconds));
        }
        return outcome;
    }
    // Starts a resolution, counting the contexts it asks for.
    Outcome start(ProxyResolver& resolver, const ProxyResolver::Context& c,
                  const std::string& url = "http://example.com/") {
        done = false;
        return resolver.resolve(
            *ns::URL::URLWithString(url),
            [this, &c] {
                ++contextsMade;
                return c;
            },
            [this] { done = true; });
    }
    static net::SystemProxySettings::EnvironmentLookup environment(std::map<std::string, std::string> values,
                                                                   int* lookups = nullptr) {
        auto kept = std::make_shared<std::map<std::string, std::string>>(std::move(values));
        return [kept, lookups](const char* name) -> const char* {
            if (lookups) ++*lookups;
            auto it = kept->find(name);
            return it == kept->end() ? nullptr : it->second.c_str();
        };
    }

    ns::Ref<Owner> owner = ns::make<Owner>();
    ns::Ref<ns::RunLoop> loop = ns::RunLoop::current();
    testsupport::TempDir dir;
    bool done = false;
    int contextsMade = 0;
};

TEST_F(ProxyResolverTest, RequestSettingsComeFirstThenTheSystemSettings) {
    // The request's own proxy: the system is not asked.
    ProxyResolver own;
    int lookups = 0;
    own.setEnvironmentLookup(environment({{"http_proxy", "elsewhere:1"}}, &lookups));
    own.setHost("proxy.local");
    own.setPort(3128);
    EXPECT_EQ(resolve(own, "http://example.com/", context()), Outcome::Ready);
    EXPECT_EQ(lookups, 0);
    EXPECT_EQ(own.host(), "proxy.local");

    // From the system settings, by scheme, and not for a bypassed host.
    ProxyResolver system;
    system.setEnvironmentLookup(
        environment({{"http_proxy", "plain.local:8080"}, {"all_proxy", "socks5://socks.local:1080"},
                     {"no_proxy", ".internal"}}));
    EXPECT_EQ(resolve(system, "http://example.com/", context()), Outcome::Ready);
    EXPECT_EQ(system.host(), "plain.local");
    EXPECT_EQ(system.port(), 8080);
    EXPECT_EQ(system.type(), "HTTP");
    ProxyResolver secure;
    secure.setEnvironmentLookup(environment({{"all_proxy", "socks5://socks.local:1080"}}));
    EXPECT_EQ(resolve(secure, "https://example.com/", context()), Outcome::Ready);
    EXPECT_EQ(secure.type(), "SOCKS");
    ProxyResolver bypassed;
    bypassed.setEnvironmentLookup(environment({{"http_proxy", "plain.local:8080"}, {"no_proxy", ".internal"}}));
    EXPECT_EQ(resolve(bypassed, "http://db.internal/", context()), Outcome::Ready);
    EXPECT_TRUE(bypassed.host().empty());

    // Settings that cannot be read fail the resolution.
    ProxyResolver broken;
    broken.setEnvironmentLookup(environment({{"http_proxy", "::not a proxy::"}}));
    EXPECT_EQ(resolve(broken, "http://example.com/", context()), Outcome::Failed);
    // Without a script to read, nobody is asked for a context.
    EXPECT_EQ(contextsMade, 0);

    // A copy of a request keeps the settings.
    ProxyResolver copy;
    own.copySettingsTo(copy);
    EXPECT_EQ(copy.host(), "proxy.local");
    EXPECT_EQ(copy.port(), 3128);
}

TEST_F(ProxyResolverTest, ScriptsFromFilesChooseTheProxyOrNone) {
    std::ofstream(dir / "proxy.pac") << script("PROXY 127.0.0.1:3128; DIRECT");
    std::ofstream(dir / "direct.pac") << script("DIRECT");
    std::ofstream(dir / "broken.pac") << "function FindProxyForURL(url, host) { throw 1; }\n";

    for (bool synchronous : {false, true}) {
        ProxyResolver chosen;
        chosen.setPACurl(ns::URL::fileURLWithPath(dir / "proxy.pac"));
        auto c = context();
        c.synchronous = synchronous;
        contextsMade = 0;
        EXPECT_EQ(resolve(chosen, "http://example.com/", c), Outcome::Pending);
        EXPECT_TRUE(done);
        EXPECT_EQ(contextsMade, 1);
        EXPECT_EQ(chosen.host(), "127.0.0.1");
        EXPECT_EQ(chosen.port(), 3128);
    }
    for (const char* name : {"direct.pac", "broken.pac"}) {
        ProxyResolver none;
        none.setPACurl(ns::URL::fileURLWithPath(dir / name));
        EXPECT_EQ(resolve(none, "http://example.com/", context()), Outcome::Pending) << name;
        EXPECT_TRUE(done) << name;
        EXPECT_TRUE(none.host().empty()) << name;
    }
    // A missing file, and a script named by the system settings.
    ProxyResolver missing;
    missing.setPACurl(ns::URL::fileURLWithPath(dir / "missing.pac"));
    EXPECT_EQ(resolve(missing, "http://example.com/", context()), Outcome::Ready);
    EXPECT_TRUE(missing.host().empty());
    ProxyResolver fromSystem;
    fromSystem.setEnvironmentLookup(
        environment({{"DECK_PROXY_PAC_URL", ns::URL::fileURLWithPath(dir / "proxy.pac")->absoluteText()}}));
    EXPECT_EQ(resolve(fromSystem, "http://example.com/", context()), Outcome::Pending);
    EXPECT_EQ(fromSystem.host(), "127.0.0.1");
}

TEST_F(ProxyResolverTest, AScriptThatNeverEndsIsAbandonedAtTheTimeOutAndCancelStopsTheRead) {
    auto clock = ns::make<ns::ManualClock>(100.0);
    loop->setClock(clock);
    std::string fifo = dir / "never.pac";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);  // the end never comes
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, "function", 8), 8);

    ProxyResolver resolver;
    resolver.setPACurl(ns::URL::fileURLWithPath(fifo));
    ASSERT_EQ(start(resolver, context(3)), Outcome::Pending);
    loop->runOnce();  // reads what is there
    EXPECT_FALSE(done);
    clock->advance(2.9);
    EXPECT_FALSE(done);
    clock->advance(0.2);
    EXPECT_TRUE(done);
    EXPECT_FALSE(resolver.isPending());
    EXPECT_TRUE(resolver.host().empty());

    // Cancelled while reading: no answer comes, even after the time-out.
    ASSERT_EQ(start(resolver, context(3)), Outcome::Pending);
    resolver.cancel();
    clock->advance(5);
    EXPECT_FALSE(done);
    ::close(writer);
    loop->setClock(ns::SystemClock::shared());
}

TEST_F(ProxyResolverTest, ScriptsOverHTTPComeFromTheFetcherWhichACancelStops) {
    ProxyResolver::ScriptDone pendingFetch;
    int fetches = 0, stops = 0;
    auto c = context();
    c.fetchScript = [&](ns::Ref<ns::URL> url, ProxyResolver::ScriptDone fetched) -> std::function<void()> {
        EXPECT_EQ(url->absoluteText(), "http://config.local/proxy.pac");
        ++fetches;
        pendingFetch = std::move(fetched);
        return [&stops] { ++stops; };
    };
    ProxyResolver resolver;
    resolver.setPACurl(ns::URL::URLWithString("http://config.local/proxy.pac"));
    ASSERT_EQ(start(resolver, c), Outcome::Pending);
    ASSERT_EQ(fetches, 1);
    pendingFetch(script("SOCKS 127.0.0.1:1080"));
    EXPECT_TRUE(loop->runUntil([this] { return done; }, testsupport::kEventWaitSeconds));
    EXPECT_EQ(resolver.host(), "127.0.0.1");
    EXPECT_EQ(resolver.type(), "SOCKS");
    EXPECT_EQ(stops, 0);

    // Cancelled while fetching: the fetch is stopped and a late answer is
    // ignored.
    ProxyResolver cancelled;
    cancelled.setPACurl(ns::URL::URLWithString("http://config.local/proxy.pac"));
    ASSERT_EQ(start(cancelled, c), Outcome::Pending);
    cancelled.cancel();
    EXPECT_EQ(stops, 1);
    pendingFetch(script("PROXY 127.0.0.1:3128"));
    loop->runOnce();
    EXPECT_FALSE(done);
    EXPECT_TRUE(cancelled.host().empty());

    // A fetcher that answers at once (synchronous requests): ready at once;
    // an empty script means no proxy.
    c.fetchScript = [](ns::Ref<ns::URL>, ProxyResolver::ScriptDone fetched) -> std::function<void()> {
        fetched("");
        return nullptr;
    };
    ProxyResolver inline_;
    inline_.setPACurl(ns::URL::URLWithString("http://config.local/proxy.pac"));
    EXPECT_EQ(resolve(inline_, "http://example.com/", c), Outcome::Ready);
    EXPECT_TRUE(inline_.host().empty());
}

}  // namespace
