// The download cache under the request engine: what the user gets when the
// cache cannot keep an answer, when other threads and processes store the
// same URL meanwhile, and when a not-modified answer cannot be served.
#include "net/http/tests/RequestTestSupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "net/http/DownloadCache.h"
#include "testsupport/Command.h"
#include "testsupport/FullDisk.h"
#include "testsupport/RefusingPort.h"
#include "testsupport/TempDir.h"

using namespace httptest;
using http::HTTPRequest;

namespace {

ns::Ref<http::DownloadCache> cacheIn(const std::string& folder) {
    auto cache = ns::make<http::DownloadCache>();
    cache->setStoragePath(folder);
    return cache;
}

// A full disk or a read-only cache folder costs the cache its copy, never
// the answer: the request answers from the network and the failed store is
// logged; once there is room again the answer is stored and served.
TEST(RequestCache, AnswerComesFromTheNetworkWhenItCannotBeStored) {
    testsupport::TempDir dir;
    testsupport::FullDisk disk(dir / "disk");
    auto cache = cacheIn(disk.folder() + "/cache");
    std::mutex m;
    std::vector<std::string> log;
    http::DownloadCache::setLogHandler([&](const std::string& line) {
        std::lock_guard<std::mutex> g(m);
        log.push_back(line);
    });
    testsupport::Server server([](testsupport::Conn& c) {
        while (auto r = c.readRequest())
            if (!c.respond(200, "fresh answer", "Cache-Control: max-age=60\r\nContent-Type: text/plain\r\n")) return;
    });
    for (auto failure : testsupport::FullDisk::kFailures) {
        SCOPED_TRACE(std::string(testsupport::FullDisk::describe(failure)) + " against " + disk.how());
        disk.restore();
        if (!disk.arrange(failure)) continue;
        {
            std::lock_guard<std::mutex> g(m);
            log.clear();
        }
        auto request = HTTPRequest::requestWithURL(url(server.url("/doc")), cache.get());
        startSynchronous(request);
        ASSERT_FALSE(request->error()) << request->error()->description();
        EXPECT_EQ(request->responseStatusCode(), 200);
        EXPECT_EQ(text(request), "fresh answer");
        EXPECT_FALSE(request->didUseCachedResponse());
        EXPECT_FALSE(cache->cachedResponseHeadersForURL(*url(server.url("/doc"))));
        std::lock_guard<std::mutex> g(m);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_NE(log[0].find("cannot store the response for " + server.url("/doc")), std::string::npos) << log[0];
    }
    disk.restore();
    auto stored = HTTPRequest::requestWithURL(url(server.url("/doc")), cache.get());
    startSynchronous(stored);
    ASSERT_FALSE(stored->error());
    int connections = server.connections();
    auto served = HTTPRequest::requestWithURL(url(server.url("/doc")), cache.get());
    startSynchronous(served);
    ASSERT_FALSE(served->error());
    EXPECT_TRUE(served->didUseCachedResponse());
    EXPECT_EQ(text(served), "fresh answer");
    EXPECT_EQ(server.connections(), connections);
    http::DownloadCache::setLogHandler(nullptr);
}

}  // namespace

namespace {

// ---- One URL stored and read by several threads and processes at once ----------------
//
// The answer changes at every request: answer N has a body of its own
// length, made of N, and says N in X-Answer. Every request checks that the
// body it reports is the one its headers name, whether it came from the
// network or the cache.

constexpr const char* kStressURLVariable = "DECK_CACHE_STRESS_URL";
constexpr const char* kStressFolderVariable = "DECK_CACHE_STRESS_FOLDER";

std::string answerBody(long n) {
    const std::string line = "answer " + std::to_string(n) + "\n";
    std::string body;
    const size_t length = 3000 + static_cast<size_t>(n * 7919) % 20000;
    while (body.size() < length) body += line;
    body.resize(length);
    return body;
}

class ChangingServer {
public:
    ChangingServer()
        : server_(testsupport::Server::eachRequest([this](const testsupport::Request&) {
              const long n = ++answered_;
              return testsupport::Server::reply(200, answerBody(n),
                                                "X-Answer: " + std::to_string(n) + "\r\nETag: \"" + std::to_string(n) +
                                                    "\"\r\nCache-Control: max-age=600\r\nContent-Type: text/plain\r\n");
          })) {}
    std::string url() const { return server_.url("/changing"); }
    long answered() const { return answered_; }

private:
    std::atomic<long> answered_{0};
    testsupport::Server server_;
};

struct StressTally {
    std::mutex m;
    int requests = 0, fromCache = 0, wrong = 0;
    std::vector<std::string> firstFaults;
    void fault(const std::string& what) {
        ++wrong;
        if (firstFaults.size() < 5) firstFaults.push_back(what);
    }
};

// `threads` threads, each `rounds` requests for `address`: every other one
// goes to the network and stores its answer, the others take the stored
// answer when there is one.
void storeAndReadFromThreads(const std::string& address, http::DownloadCache* cache, int threads, int rounds,
                             StressTally& tally) {
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < rounds; ++i) {
                const bool store = (i + t) % 2 == 0;
                auto r = HTTPRequest::requestWithURL(url(address), cache,
                                                     store ? http::kDoNotReadFromCacheCachePolicy
                                                           : http::kOnlyLoadIfNotCachedCachePolicy);
                r->setCacheStoragePolicy(http::kCachePermanentlyCacheStoragePolicy);
                r->startSynchronous();
                std::string what;
                auto headers = r->responseHeaders();
                const ns::String* answerText = headers ? headers->stringForKey("X-Answer") : nullptr;
                std::optional<std::string> answer;
                if (answerText) answer = std::string(answerText->utf8());
                const std::string body = text(r);
                if (r->error()) what = "failed: " + r->error()->description();
                else if (r->responseStatusCode() != 200) what = "status " + std::to_string(r->responseStatusCode());
                else if (!answer) what = "no X-Answer among the headers";
                else if (body != answerBody(std::stol(*answer)))
                    what = "headers of answer " + *answer + " with a body of " + std::to_string(body.size()) +
                           " bytes starting \"" + body.substr(0, 12) + "\"";
                std::lock_guard<std::mutex> g(tally.m);
                ++tally.requests;
                tally.fromCache += r->didUseCachedResponse();
                if (!what.empty()) tally.fault(what + (r->didUseCachedResponse() ? " (from the cache)" : " (from the network)"));
            }
        });
    }
    for (auto& w : workers) w.join();
}

// Threads of one process. Run alone, it starts its own server and cache
// folder; the test below runs it in other processes on its own.
TEST(RequestCacheConcurrency, ThreadsOfOneProcessStoreAndReadOneURL) {
    const char* given = std::getenv(kStressURLVariable);
    const char* folder = std::getenv(kStressFolderVariable);
    std::unique_ptr<ChangingServer> own;
    std::unique_ptr<testsupport::TempDir> ownDir;
    std::string address = given ? given : "";
    std::string cacheFolder = folder ? folder : "";
    if (!given || !folder) {
        own = std::make_unique<ChangingServer>();
        ownDir = std::make_unique<testsupport::TempDir>();
        address = own->url();
        cacheFolder = *ownDir / "cache";
    }
    auto cache = cacheIn(cacheFolder);
    StressTally tally;
    storeAndReadFromThreads(address, cache.get(), 4, 40, tally);
    EXPECT_EQ(tally.wrong, 0) << ::testing::PrintToString(tally.firstFaults);
    EXPECT_EQ(tally.requests, 160);
    EXPECT_GT(tally.fromCache, 0);
}

// Four processes of four threads on one cache folder.
TEST(RequestCacheConcurrency, ProcessesAndThreadsStoreAndReadOneURL) {
    ChangingServer server;
    testsupport::TempDir dir;
    const std::string cacheFolder = dir / "cache";
    auto cache = cacheIn(cacheFolder);
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = '\0';
    const std::string command = std::string(kStressURLVariable) + "='" + server.url() + "' " + kStressFolderVariable +
                                "='" + cacheFolder + "' '" + self +
                                "' --gtest_filter=RequestCacheConcurrency.ThreadsOfOneProcessStoreAndReadOneURL 2>&1";
    std::vector<testsupport::CommandOutput> children(3);
    std::vector<std::thread> runners;
    for (auto& child : children) runners.emplace_back([&] { child = testsupport::runCommand(command, 120); });
    StressTally tally;
    storeAndReadFromThreads(server.url(), cache.get(), 4, 40, tally);
    for (auto& r : runners) r.join();
    EXPECT_EQ(tally.wrong, 0) << ::testing::PrintToString(tally.firstFaults);
    EXPECT_GT(tally.fromCache, 0);
    for (const auto& child : children) {
        EXPECT_EQ(child.status, 0) << child.out;
        EXPECT_NE(child.out.find("[  PASSED  ] 1 test"), std::string::npos) << child.out;
    }
    // Every process stored answers while the others read them.
    EXPECT_GE(server.answered(), 4 * 4 * 20);
}

}  // namespace

namespace {

// A stored answer for `address`, as a request that got it would store it.
struct StoredAnswer : http::CacheRequest {
    ns::Ref<ns::URL> u;
    ns::Ref<ns::Dictionary> headers;
    ns::Ref<ns::Data> body;
    std::string download;
    int storage = http::kCacheForSessionDurationCacheStoragePolicy;
    ns::Ref<ns::URL> url() const override { return u; }
    ns::Ref<ns::Error> error() const override { return nullptr; }
    ns::Ref<ns::Dictionary> responseHeaders() const override { return headers; }
    int responseStatusCode() const override { return 200; }
    uint32_t cachePolicy() const override { return 0; }
    int cacheStoragePolicy() const override { return storage; }
    bool complete() const override { return true; }
    bool isResponseCompressed() const override { return false; }
    ns::Ref<ns::Data> responseData() const override { return body; }
    std::string downloadDestinationPath() const override { return download; }
};

void store(http::DownloadCache& cache, const std::string& address,
           std::vector<std::pair<std::string, std::string>> headers, const std::string& body) {
    StoredAnswer a;
    a.u = url(address);
    std::vector<ns::Dictionary::Entry> entries;
    for (auto& [k, v] : headers) entries.emplace_back(ns::str(k), ns::str(v));
    a.headers = ns::Dictionary::make(std::move(entries));
    a.body = ns::Data::make(body);
    cache.storeResponseForRequest(a, 0);
}

// The validators the engine adds from the cache belong to their URL: a
// redirect that keeps the header set (307, and 301/302 with RFC 2616
// behaviour) does not carry them to the next URL, on another server here,
// which sends its own only when it has its own stored answer.
TEST(RequestCache, ValidatorsFromTheCacheStayWithTheirURL) {
    testsupport::TempDir dir;
    auto cache = cacheIn(dir / "cache");
    testsupport::Server other(testsupport::Server::eachRequest([](const testsupport::Request& r) {
        return r.has("If-None-Match") || r.has("If-Modified-Since")
                   ? testsupport::Server::reply(304, "", "ETag: \"own\"\r\n")
                   : testsupport::Server::reply(200, "fresh from the other server", "Cache-Control: no-store\r\n");
    }));
    struct Row {
        const char* name;
        int status;
        bool rfc2616;
        bool otherHasItsOwn;
    };
    const Row rows[] = {{"307", 307, false, false},
                        {"302 with RFC 2616 behaviour", 302, true, false},
                        {"301 with RFC 2616 behaviour", 301, true, false},
                        {"307 to a URL with its own stored answer", 307, false, true}};
    int i = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string target = other.url("/target" + std::to_string(i++));
        testsupport::Server first(testsupport::Server::eachRequest([&](const testsupport::Request&) {
            return testsupport::Server::reply(row.status, "", "Location: " + target + "\r\n");
        }));
        store(*cache, first.url("/start"),
              {{"ETag", "\"start\""}, {"Last-Modified", "Sun, 06 Nov 1994 08:49:37 GMT"}}, "stale start");
        if (row.otherHasItsOwn) store(*cache, target, {{"ETag", "\"own\""}}, "stored at the target");
        other.clearRequests();
        auto r = HTTPRequest::requestWithURL(url(first.url("/start")), cache.get());
        if (row.status != 307) r->addRequestHeader("X-Kept", "yes");
        r->setShouldUseRFC2616RedirectBehaviour(row.rfc2616);
        startSynchronous(r);
        ASSERT_FALSE(r->error()) << r->error()->description();
        EXPECT_EQ(r->responseStatusCode(), 200);
        const auto seenByOther = other.requests();
        ASSERT_EQ(seenByOther.size(), 1u);
        if (row.otherHasItsOwn) {
            EXPECT_EQ(seenByOther[0].header("If-None-Match"), "\"own\"");
            EXPECT_TRUE(r->didUseCachedResponse());
            EXPECT_EQ(text(r), "stored at the target");
        } else {
            EXPECT_FALSE(seenByOther[0].has("If-None-Match"));
            EXPECT_FALSE(seenByOther[0].has("If-Modified-Since"));
            EXPECT_EQ(text(r), "fresh from the other server");
        }
        if (row.status != 307) {
            EXPECT_EQ(seenByOther[0].header("X-Kept"), "yes");
        }
    }
}

// A not-modified answer to the validators the engine added that the cache
// cannot serve (the stored answer was dropped, or replaced by another,
// while the request was out) is asked again without them: the caller of a
// plain GET never gets a 304 without a body. A caller who sends those
// fields himself gets the server's 304.
TEST(RequestCache, NotModifiedThatTheCacheCannotServeIsAskedAgain) {
    testsupport::TempDir dir;
    auto cache = cacheIn(dir / "cache");
    std::function<void()> meanwhile;
    testsupport::Server server(testsupport::Server::eachRequest([&](const testsupport::Request& r) {
        if (!r.has("If-None-Match"))
            return testsupport::Server::reply(200, "the whole answer", "ETag: \"v2\"\r\nCache-Control: no-store\r\n");
        if (meanwhile) meanwhile();
        return testsupport::Server::reply(304, "", "ETag: \"v1\"\r\n");
    }));
    const std::string address = server.url("/doc");
    struct Row {
        const char* name;
        std::function<void()> meanwhile;
        bool callerAsks;
        int status;
        std::string body;
        size_t requests;
        bool fromCache = false;
        // What the stored answer has besides its ETag.
        std::vector<std::pair<std::string, std::string>> alsoStored = {};
    };
    const Row rows[] = {
        {"the stored answer dropped meanwhile", [&] { cache->removeCachedDataForURL(*url(address)); }, false, 200,
         "the whole answer", 2},
        {"the stored answer replaced by another meanwhile",
         [&] { store(*cache, address, {{"ETag", "\"v3\""}}, "another stored answer"); }, false, 200, "the whole answer", 2},
        {"the caller's own If-None-Match", [&] { cache->removeCachedDataForURL(*url(address)); }, true, 304, "", 1},
        // Its Last-Modified was left out (it holds a NUL): the ETag alone names it.
        {"the stored answer still there", nullptr, false, 200, "the stored answer", 1, true,
         {{"Last-Modified", std::string("Sun, 06 Nov 1994\0 08:49:37 GMT", 30)}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto stored = row.alsoStored;
        stored.emplace_back("ETag", "\"v1\"");
        store(*cache, address, stored, "the stored answer");
        meanwhile = row.meanwhile;
        server.clearRequests();
        auto r = HTTPRequest::requestWithURL(url(address), cache.get(), http::kAskServerIfModifiedCachePolicy);
        if (row.callerAsks) r->addRequestHeader("If-None-Match", "\"v1\"");
        startSynchronous(r);
        meanwhile = nullptr;
        ASSERT_FALSE(r->error()) << r->error()->description();
        EXPECT_EQ(r->responseStatusCode(), row.status);
        EXPECT_EQ(text(r), row.body);
        EXPECT_EQ(r->didUseCachedResponse(), row.fromCache);
        const auto seen = server.requests();
        ASSERT_EQ(seen.size(), row.requests);
        EXPECT_EQ(seen[0].header("If-None-Match"), "\"v1\"");
        if (row.requests > 1) {
            EXPECT_FALSE(seen[1].has("If-None-Match"));
        }
    }
}

// An answer whose validators hold a CR or a NUL never blocks its URL: the
// parser makes them spaces, and a stored answer that kept them (stored by
// an older build) has them left out of the conditional request.
TEST(RequestCache, ValidatorsWithControlCharactersNeverBlockTheirURL) {
    testsupport::TempDir dir;
    auto cache = cacheIn(dir / "cache");
    testsupport::Server server(testsupport::Server::eachRequest([](const testsupport::Request&) {
        return testsupport::Server::reply(200, "answer",
                                          "ETag: \"a\rb\"\r\nLast-Modified: Sun, 06 Nov 1994" + std::string("\0", 1) +
                                              " 08:49:37 GMT\r\nCache-Control: max-age=0\r\n");
    }));
    // Through the parser: the stale answer's validators go out with spaces.
    const std::string received = server.url("/received");
    for (int i = 0; i < 3; ++i) {
        auto r = HTTPRequest::requestWithURL(url(received), cache.get());
        r->setCacheStoragePolicy(http::kCachePermanentlyCacheStoragePolicy);
        startSynchronous(r);
        ASSERT_FALSE(r->error()) << i << ": " << r->error()->description();
        EXPECT_EQ(text(r), "answer");
    }
    auto seen = server.requests();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2].header("If-None-Match"), "\"a b\"");
    EXPECT_EQ(seen[2].header("If-Modified-Since"), "Sun, 06 Nov 1994  08:49:37 GMT");
    server.clearRequests();
    // Stored with them: left out, the other one still sent.
    const std::string older = server.url("/older");
    store(*cache, older, {{"ETag", "\"x\ry\""}, {"Last-Modified", "Sun, 06 Nov 1994 08:49:37 GMT"}}, "stored");
    auto r = HTTPRequest::requestWithURL(url(older), cache.get());
    startSynchronous(r);
    ASSERT_FALSE(r->error()) << r->error()->description();
    EXPECT_EQ(text(r), "answer");
    seen = server.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_FALSE(seen[0].has("If-None-Match"));
    EXPECT_EQ(seen[0].header("If-Modified-Since"), "Sun, 06 Nov 1994 08:49:37 GMT");
}

// A stored body is taken whole or not at all: one larger than the cache's
// own read cap comes whole when the request's limit allows it, else the
// size error (code 12); never an empty success. The cached path of a
// request that may not load fails when nothing whole is stored.
TEST(RequestCache, StoredBodyComesWholeOrAsTheSizeError) {
    testsupport::TempDir dir;
    auto cache = cacheIn(dir / "cache");
    const std::string address = "http://127.0.0.1:9/large.bin";
    const size_t large = http::DownloadCache::kMaxCachedBodyBytes + 4096;
    {
        // From a (sparse) downloaded file, as a download stores it.
        const std::string download = dir / "download.bin";
        int fd = ::open(download.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(large)), 0);
        ASSERT_EQ(::pwrite(fd, "end", 3, static_cast<off_t>(large - 3)), 3);
        ::close(fd);
        StoredAnswer a;
        a.u = url(address);
        a.headers = ns::Dictionary::make({{ns::str("Cache-Control"), ns::str("max-age=600")}});
        a.download = download;
        cache->storeResponseForRequest(a, 0);
        ::unlink(download.c_str());
    }
    struct Row {
        const char* name;
        uint64_t limit;
        bool whole;
    };
    const Row rows[] = {{"a limit that holds it", large, true},
                        {"no limit", http::kUnlimitedLength, true},
                        {"a limit one byte short", large - 1, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto r = HTTPRequest::requestWithURL(url(address), cache.get(), http::kOnlyLoadIfNotCachedCachePolicy);
        r->setMaxResponseDataLength(row.limit);
        startSynchronous(r);
        EXPECT_TRUE(r->didUseCachedResponse());
        if (row.whole) {
            ASSERT_FALSE(r->error()) << r->error()->description();
            auto body = r->responseData();
            ASSERT_TRUE(body);
            ASSERT_EQ(body->length(), large);
            EXPECT_EQ(std::string(body->view().substr(large - 3)), "end");
        } else {
            ASSERT_TRUE(r->error());
            EXPECT_EQ(r->error()->code(), http::kResponseTooLargeErrorType);
        }
    }
    auto nothing = HTTPRequest::requestWithURL(url("http://127.0.0.1:9/never-stored"), cache.get(),
                                               http::kDontLoadCachePolicy);
    startSynchronous(nothing);
    ASSERT_TRUE(nothing->error());
    EXPECT_EQ(nothing->error()->code(), http::kFileManagementError);
    EXPECT_NE(nothing->responseStatusCode(), 200);
}

// A load that fails falls back to the stored answer when the policy says
// so, taken whole; with nothing whole stored, the load's own failure is
// reported.
TEST(RequestCache, FailedLoadFallsBackToTheStoredAnswerOrReportsItsFailure) {
    testsupport::TempDir dir;
    auto cache = cacheIn(dir / "cache");
    testsupport::RefusingPort refusing;
    store(*cache, refusing.url("/stored"), {{"ETag", "\"s\""}}, "the stored answer");
    for (bool stored : {true, false}) {
        SCOPED_TRACE(stored ? "stored" : "nothing stored");
        auto r = HTTPRequest::requestWithURL(url(refusing.url(stored ? "/stored" : "/never")), cache.get(),
                                             http::kAskServerIfModifiedCachePolicy |
                                                 http::kFallbackToCacheIfLoadFailsCachePolicy);
        startSynchronous(r);
        if (stored) {
            ASSERT_FALSE(r->error()) << r->error()->description();
            EXPECT_TRUE(r->didUseCachedResponse());
            EXPECT_EQ(r->responseStatusCode(), 200);
            EXPECT_EQ(text(r), "the stored answer");
        } else {
            ASSERT_TRUE(r->error());
            EXPECT_EQ(r->error()->code(), http::kConnectionFailureErrorType);
            EXPECT_FALSE(r->didUseCachedResponse());
        }
    }
}

}  // namespace
