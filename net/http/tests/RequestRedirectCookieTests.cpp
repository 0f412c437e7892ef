// Redirect rules (301/302/303/307, RFC 2616 behaviour, the limit, delegate
// confirmation) and cookies sent and stored.
#include "net/http/tests/RequestTestSupport.h"

#include <sys/utsname.h>

#include <cstdio>
#include <cstdlib>

#include <algorithm>
#include <iterator>
#include <mutex>
#include <optional>

#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "testsupport/TempDir.h"

using namespace httptest;
using http::HTTPRequest;

namespace {

// Answers /rNNN with that redirect status to /target, /loop/N with a 302
// to /loop/N+1, and everything else by echoing what it received.
class RedirectServer {
public:
    RedirectServer()
        : server_(testsupport::Server::eachRequest([](const testsupport::Request& r) {
              const std::string& t = r.target;
              if (t.rfind("/r", 0) == 0 && t.size() == 5)
                  return testsupport::Server::reply(std::stoi(t.substr(2)), "moving", "Location: /target\r\n");
              if (t.rfind("/loop/", 0) == 0 || (t.rfind("/five/", 0) == 0 && t != "/five/5")) {
                  int n = std::stoi(t.substr(6));
                  return testsupport::Server::reply(302, "", "Location: " + t.substr(0, 6) + std::to_string(n + 1) + "\r\n");
              }
              return testsupport::Server::reply(200, r.method + " " + t + " " + r.body);
          })) {}
    std::string url(const std::string& p) { return server_.url(p); }
    testsupport::Request last() { return server_.requests().back(); }
    size_t count() { return server_.requestCount(); }

private:
    testsupport::Server server_;
};

ns::Ref<HTTPRequest> post(const std::string& u) {
    auto r = HTTPRequest::requestWithURL(url(u));
    r->appendPostData(*ns::Data::make("body!"));
    r->addRequestHeader("X-Custom", "1");
    r->addRequestHeader("Accept", "text/plain");
    return r;
}

}  // namespace

TEST(RequestRedirect, PostRedirectedBy302BecomesGetKeepingOnlyAgentAndAccept) {
    RedirectServer s;
    auto r = post(s.url("/r302"));
    r->setUserAgent("tester/1");
    startSynchronous(r);
    ASSERT_FALSE(r->error());
    auto seen = s.last();
    EXPECT_EQ(seen.method, "GET");
    EXPECT_EQ(seen.target, "/target");
    EXPECT_TRUE(seen.body.empty());
    EXPECT_FALSE(seen.has("Content-Length"));
    EXPECT_FALSE(seen.has("X-Custom"));
    EXPECT_EQ(seen.header("Accept"), "text/plain");
    EXPECT_EQ(seen.header("User-Agent"), "tester/1");
    EXPECT_EQ(r->redirectCount(), 1);
    EXPECT_EQ(must<ns::URL>(r->url())->absoluteText(), s.url("/target"));
    EXPECT_EQ(must<ns::URL>(r->originalURL())->absoluteText(), s.url("/r302"));
}

TEST(RequestRedirect, RFC2616KeepsPostOn302And307AlwaysKeepsItAnd303NeverDoes) {
    RedirectServer s;
    auto a = post(s.url("/r302"));
    a->setShouldUseRFC2616RedirectBehaviour(true);
    startSynchronous(a);
    EXPECT_EQ(s.last().method, "POST");
    EXPECT_EQ(s.last().body, "body!");

    auto b = post(s.url("/r307"));
    startSynchronous(b);
    EXPECT_EQ(s.last().method, "POST");
    EXPECT_EQ(s.last().body, "body!");
    EXPECT_EQ(s.last().header("X-Custom"), "1");

    auto c = post(s.url("/r303"));
    c->setShouldUseRFC2616RedirectBehaviour(true);
    startSynchronous(c);
    EXPECT_EQ(s.last().method, "GET");

    auto d = post(s.url("/r301"));
    startSynchronous(d);
    EXPECT_EQ(s.last().method, "GET");
}

TEST(RequestRedirect, NotModifiedAndMultipleChoicesAreNotFollowed) {
    RedirectServer s;
    for (const char* p : {"/r304", "/r300"}) {
        auto r = HTTPRequest::requestWithURL(url(s.url(p)));
        startSynchronous(r);
        EXPECT_EQ(r->redirectCount(), 0) << p;
        EXPECT_EQ(s.last().target, p);
    }
}

TEST(RequestRedirect, FiveRedirectsAreFollowedAndTheSixthFailsWithCode9) {
    RedirectServer s;
    auto five = HTTPRequest::requestWithURL(url(s.url("/five/0")));
    startSynchronous(five);
    ASSERT_FALSE(five->error()) << five->error()->description();
    EXPECT_EQ(five->redirectCount(), 5);
    EXPECT_EQ(text(five), "GET /five/5 ");
    const size_t before = s.count();
    auto r = HTTPRequest::requestWithURL(url(s.url("/loop/0")));
    startSynchronous(r);
    ASSERT_TRUE(r->error());
    EXPECT_EQ(r->error()->code(), 9);
    EXPECT_EQ(r->error()->localizedDescription(), "The request failed because it redirected too many times");
    EXPECT_EQ(s.count() - before, 6u);  // the first request and five followed redirects
}

TEST(RequestRedirect, RedirectsCanBeSwitchedOff) {
    RedirectServer s;
    auto r = HTTPRequest::requestWithURL(url(s.url("/r302")));
    r->setShouldRedirect(false);
    startSynchronous(r);
    EXPECT_EQ(r->responseStatusCode(), 302);
    EXPECT_EQ(text(r), "moving");
}

TEST(RequestRedirect, DelegateConfirmsARedirect) {
    RedirectServer s;
    auto d = ns::make<RecordingDelegate>();
    d->confirmRedirects = true;
    d->onWillRedirect = [](HTTPRequest* r, ns::Ref<ns::URL> u) { r->redirectToURL(u); };
    auto r = HTTPRequest::requestWithURL(url(s.url("/r301")));
    r->setDelegate(d.get());
    r->startAsynchronous();
    ASSERT_TRUE(waitFor(r));
    drainMain();
    ASSERT_FALSE(r->error());
    EXPECT_EQ(text(r), "GET /target ");
    EXPECT_EQ(d->joined(), "started,redirected,headers,willRedirect " + s.url("/target") + ",started,headers,finished");

    // A request waiting for the delegate's decision can still be cancelled.
    d->onWillRedirect = nullptr;
    auto waiting = HTTPRequest::requestWithURL(url(s.url("/r302")));
    waiting->setDelegate(d.get());
    waiting->startAsynchronous();
    ASSERT_TRUE(waitUntil([&] { return d->count("willRedirect " + s.url("/target")) == 2; }));
    waiting->cancel();
    ASSERT_TRUE(waitFor(waiting));
    ASSERT_TRUE(waiting->error());
    EXPECT_EQ(waiting->error()->code(), 4);
}

TEST(RequestCookies, CookiesAreStoredAndSentInOrder) {
    net::HTTPCookieStorage::sharedHTTPCookieStorage().removeAllCookies();
    std::mutex m;
    std::string cookieHeader;
    testsupport::Server server([&](testsupport::Conn& c) {
        while (auto r = c.readRequest()) {
            bool ok;
            if (r->target == "/set") {
                ok = c.respond(200, "set", "Set-Cookie: a=1; Path=/\r\nSet-Cookie: b=2; Path=/\r\n");
            } else if (r->target == "/moved") {
                ok = c.respond(307, "", "Location: /check\r\n");
            } else {
                std::lock_guard<std::mutex> g(m);
                cookieHeader = r->header("Cookie");
                ok = c.respond(200, "got");
            }
            if (!ok) return;
        }
    });
    auto set = HTTPRequest::requestWithURL(url(server.url("/set")));
    startSynchronous(set);
    ASSERT_EQ(set->responseCookies().size(), 2u);
    EXPECT_GE(HTTPRequest::sessionCookies().size(), 2u);

    auto check = HTTPRequest::requestWithURL(url(server.url("/check")));
    startSynchronous(check);
    {
        std::lock_guard<std::mutex> g(m);
        EXPECT_EQ(cookieHeader, "a=1; b=2");
    }
    // A redirect that keeps its method sends the new URL's cookies too.
    auto moved = HTTPRequest::requestWithURL(url(server.url("/moved")));
    moved->appendPostData(*ns::Data::make("x"));
    startSynchronous(moved);
    {
        std::lock_guard<std::mutex> g(m);
        EXPECT_EQ(cookieHeader, "a=1; b=2");
    }

    auto without = HTTPRequest::requestWithURL(url(server.url("/check")));
    without->setUseCookiePersistence(false);
    without->setRequestCookies({net::HTTPCookie::make("c", "3", "127.0.0.1")});
    startSynchronous(without);
    {
        std::lock_guard<std::mutex> g(m);
        EXPECT_EQ(cookieHeader, "c=3");
    }
    // Cookies made from stored tokens: the reserved characters of a header go
    // as they are (one that would read as other pairs refuses the request,
    // see RequestBasic's refusals).
    auto stored = HTTPRequest::requestWithURL(url(server.url("/check")));
    stored->setUseCookiePersistence(false);
    stored->setRequestCookies({net::HTTPCookie::make("token", "a/b+c==", "127.0.0.1"),
                               net::HTTPCookie::make("user", "\"ann,o'hara\" <&>", "127.0.0.1")});
    startSynchronous(stored);
    ASSERT_FALSE(stored->error()) << stored->error()->description();
    {
        std::lock_guard<std::mutex> g(m);
        EXPECT_EQ(cookieHeader, "token=a/b+c==; user=\"ann,o'hara\" <&>");
    }
    HTTPRequest::setSessionCookies({});
    EXPECT_TRUE(net::HTTPCookieStorage::sharedHTTPCookieStorage().cookiesForURL(*url(server.url("/"))).empty());
}

TEST(RequestCookies, PublicSuffixesAreRefusedAndTheSessionListStaysBounded) {
    using Storage = net::HTTPCookieStorage;
    Storage::sharedHTTPCookieStorage().removeAllCookies();
    HTTPRequest::setSessionCookies({});
    testsupport::Server server([&](testsupport::Conn& c) {
        while (auto r = c.readRequest()) {
            std::string cookies;
            if (r->target.find("/site") != std::string::npos) {
                // One user's site sets cookies for every site under github.io.
                cookies = "Set-Cookie: everyone=1; Domain=github.io\r\nSet-Cookie: mine=1; Domain=user.github.io\r\n";
            } else {
                // 200 new cookies an answer, one set again, one expired.
                const std::string round = r->target.substr(r->target.find('=') + 1);
                for (int i = 0; i < 200; ++i) cookies += "Set-Cookie: r" + round + "c" + std::to_string(i) + "=1\r\n";
                cookies += std::string("Set-Cookie: gone=1") + (round == "0" ? "" : "; Max-Age=0") + "\r\n";
                cookies += "Set-Cookie: again=" + round + "\r\n";
            }
            if (!c.respond(200, "ok", cookies)) return;
        }
    });
    auto site = HTTPRequest::requestWithURL(url("http://user.github.io/site"));
    site->setProxyHost("127.0.0.1");
    site->setProxyPort(server.port());
    startSynchronous(site);
    ASSERT_FALSE(site->error()) << site->error()->description();
    ASSERT_EQ(site->responseCookies().size(), 1u);
    EXPECT_EQ(site->responseCookies()[0]->name(), "mine");

    const auto named = [](const std::string& name) {
        int n = 0;
        for (auto& c : HTTPRequest::sessionCookies()) n += c->name() == name;
        return n;
    };
    for (int round = 0; round < 200; ++round) {
        auto many = HTTPRequest::requestWithURL(url(server.url("/many?round=" + std::to_string(round))));
        startSynchronous(many);
        ASSERT_FALSE(many->error());
        if (round < 2) {
            EXPECT_EQ(named("gone"), round == 0 ? 1 : 0);  // set, then expired
        }
    }
    auto session = HTTPRequest::sessionCookies();
    EXPECT_LE(session.size(), Storage::kMaxCookiesPerDomain + 1);  // and mine
    EXPECT_EQ(named("again"), 1);  // set again, replaced
    for (auto& c : session) {
        if (c->name() == "again") {
            EXPECT_EQ(c->value(), "199");
        }
    }
    EXPECT_LE(Storage::sharedHTTPCookieStorage().cookies().size(), Storage::kMaxCookiesPerDomain + 1);
    HTTPRequest::setSessionCookies({});

    // The list's limits by the cookie that goes: at a domain's limit nothing
    // goes; one past it the domain's oldest goes, and only it; the same for
    // the limit in all.
    const auto names = [] {
        std::vector<std::string> out;
        for (auto& c : HTTPRequest::sessionCookies()) out.push_back(c->name());
        return out;
    };
    const size_t perDomain = Storage::kMaxCookiesPerDomain;
    HTTPRequest::addSessionCookie(net::HTTPCookie::make("other", "1", "elsewhere.example"));
    std::vector<std::string> want = {"other"};
    for (size_t i = 0; i < perDomain; ++i) {
        HTTPRequest::addSessionCookie(net::HTTPCookie::make("c" + std::to_string(i), "1", "flood.example"));
        want.push_back("c" + std::to_string(i));
    }
    EXPECT_EQ(names(), want);
    HTTPRequest::addSessionCookie(net::HTTPCookie::make("c" + std::to_string(perDomain), "1", "flood.example"));
    want.erase(want.begin() + 1);
    want.push_back("c" + std::to_string(perDomain));
    EXPECT_EQ(names(), want);
    // Set again by an equal cookie made apart: replaced, nothing else goes.
    HTTPRequest::addSessionCookie(net::HTTPCookie::make("c5", "2", "FLOOD.example"));
    want.erase(std::find(want.begin(), want.end(), "c5"));
    want.push_back("c5");
    EXPECT_EQ(names(), want);
    HTTPRequest::setSessionCookies({});
    want.clear();
    for (size_t i = 0; i < Storage::kMaxCookies; ++i) {
        want.push_back("t" + std::to_string(i));
        HTTPRequest::addSessionCookie(net::HTTPCookie::make(want.back(), "1", "d" + std::to_string(i / perDomain) + ".example"));
    }
    EXPECT_EQ(names(), want);
    HTTPRequest::addSessionCookie(net::HTTPCookie::make("last", "1", "new.example"));
    want.erase(want.begin());
    want.push_back("last");
    EXPECT_EQ(names(), want);
    HTTPRequest::setSessionCookies({});
}

TEST(RequestHeaders, MimeTypeAndCharsetAreParsed) {
    std::string mime, charset;
    HTTPRequest::parseMimeType("text/html; charset=utf-8", &mime, &charset);
    EXPECT_EQ(mime, "text/html");
    EXPECT_EQ(charset, "utf-8");
    HTTPRequest::parseMimeType(" text/html ", &mime, &charset);
    EXPECT_EQ(mime, "text/html");
    EXPECT_EQ(charset, "");
}

TEST(RequestHeaders, OnlyKnownCharsetsAreTakenAndTheRestFallBackToTheDefault) {
    // "/<n>" answers "\xC3\xA9" (é in UTF-8) with the n-th Content-Type.
    struct Row {
        const char* name;
        const char* contentType;
        const char* defaultEncoding;
        const char* encoding;
        const char* text;
    };
    const Row rows[] = {
        {"utf-8", "text/plain; charset=utf-8", nullptr, "utf-8", "\xC3\xA9"},
        {"utf8", "text/plain; charset=UTF8", nullptr, "utf8", "\xC3\xA9"},
        {"quoted latin", "text/plain; charset=\"ISO-8859-1\"", nullptr, "iso-8859-1", "\xC3\x83\xC2\xA9"},
        {"windows-1252", "text/plain; charset=windows-1252", "utf-8", "windows-1252", "\xC3\x83\xC2\xA9"},
        {"unknown, default latin", "text/plain; charset=koi8-r", nullptr, "iso-8859-1", "\xC3\x83\xC2\xA9"},
        {"unknown, default utf-8", "text/plain; charset=koi8-r", "utf-8", "utf-8", "\xC3\xA9"},
        {"none", "text/plain", nullptr, "iso-8859-1", "\xC3\x83\xC2\xA9"},
    };
    testsupport::Server server([&](const testsupport::Request& r) -> std::optional<std::string> {
        size_t i = std::stoul(r.target.substr(1));
        return testsupport::Server::reply(200, "\xC3\xA9", std::string("Content-Type: ") + rows[i].contentType + "\r\n");
    });
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.name);
        auto r = HTTPRequest::requestWithURL(url(server.url("/" + std::to_string(i))));
        if (row.defaultEncoding) r->setDefaultResponseEncoding(row.defaultEncoding);
        startSynchronous(r);
        ASSERT_FALSE(r->error()) << r->error()->description();
        EXPECT_EQ(r->responseEncoding(), row.encoding);
        auto s = r->responseString();
        ASSERT_TRUE(s);
        EXPECT_EQ(s->utf8(), std::string(row.text));
    }
}

TEST(RequestHeaders, DatesWithAndWithoutWeekdayAndSecondsAreRead) {
    auto a = HTTPRequest::dateFromRFC1123String("Sun, 06 Nov 1994 08:49:37 GMT");
    auto b = HTTPRequest::dateFromRFC1123String("06 Nov 1994 08:49 GMT");
    ASSERT_TRUE(a);
    ASSERT_TRUE(b);
    EXPECT_DOUBLE_EQ(a->timeIntervalSince1970() - b->timeIntervalSince1970(), 37.0);
}

TEST(RequestHeaders, Base64PadsAndEmptyGivesEmpty) {
    EXPECT_EQ(HTTPRequest::base64forData(*ns::Data::make("")), "");
    EXPECT_EQ(HTTPRequest::base64forData(*ns::Data::make("ab")), "YWI=");
    EXPECT_EQ(HTTPRequest::base64forData(*ns::Data::make("user:pass")), "dXNlcjpwYXNz");
}

// The default agent is built once a process, from the bundle's Info.plist and
// the system: each row runs in a process of its own. Texts read from that
// file keep their reserved characters; a control character (a line break
// would have every request refused) becomes a blank.
TEST(RequestHeaders, DefaultUserAgentIsBuiltFromTheBundleInformation) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    utsname u{};
    ::uname(&u);
    const std::string system = std::string(" (") + u.machine + "; " + u.sysname + " " + u.release + "; ";
    struct Row {
        const char* name;
        std::vector<std::pair<std::string, std::string>> info;
        const char* lang;
        std::string agent;
    };
    const Row rows[] = {
        {"display name and both versions",
         {{"CFBundleDisplayName", "Deck Prep"}, {"CFBundleName", "Deck"}, {"CFBundleShortVersionString", "1.2"},
          {"CFBundleVersion", "34"}},
         "de_DE.UTF-8", "Deck Prep 1.2 rv:34" + system + "de_DE)"},
        {"bundle name without a display name, one version", {{"CFBundleName", "Deck"}, {"CFBundleVersion", "34"}}, "",
         "Deck 34" + system + "en_US)"},
        {"versions alike", {{"CFBundleName", "Deck"}, {"CFBundleShortVersionString", "2.0"}, {"CFBundleVersion", "2.0"}},
         "fr_FR", "Deck 2.0" + system + "fr_FR)"},
        {"reserved characters kept, control characters blanked",
         {{"CFBundleDisplayName", "D\xC3\xA9" "ck <&> \"Prep\"; (1)\r\nX-Forged:\t1"}, {"CFBundleVersion", "1\x7F"}}, "C",
         "D\xC3\xA9" "ck <&> \"Prep\"; (1)  X-Forged: 1 1 " + system + "C)"},
        {"no name: no agent", {{"CFBundleVersion", "1"}}, "C", ""},
    };
    for (const Row& row : rows) {
        testsupport::TempDir dir;
        std::vector<ns::Dictionary::Entry> entries;
        for (auto& [k, v] : row.info) entries.emplace_back(ns::str(k), ns::str(v));
        ASSERT_TRUE(ns::PropertyList::writeToFile(*ns::Dictionary::make(std::move(entries)), dir.path() + "/Info.plist"));
        EXPECT_EXIT(
            {
                ns::Paths::setBundleResourcePath(dir.path());
                ::setenv("LANG", row.lang, 1);
                const std::string agent = HTTPRequest::defaultUserAgentString();
                if (agent != row.agent) {
                    std::fprintf(stderr, "agent [%s]\n", agent.c_str());
                    std::exit(1);
                }
                std::exit(0);
            },
            ::testing::ExitedWithCode(0), "")
            << row.name;
    }
}
