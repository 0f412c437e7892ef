// The download cache under the request engine: what the user gets when the
// cache cannot keep an answer.
#include "net/http/tests/RequestTestSupport.h"

#include <mutex>

#include "net/http/DownloadCache.h"
#include "testsupport/FullDisk.h"
#include "testsupport/TempDir.h"

using namespace httptest;
using http::HTTPRequest;

namespace {

// A full disk or a read-only cache folder costs the cache its copy, never
// the answer: the request answers from the network and the failed store is
// logged; once there is room again the answer is stored and served.
TEST(RequestCache, AnswerComesFromTheNetworkWhenItCannotBeStored) {
    testsupport::TempDir dir;
    testsupport::FullDisk disk(dir / "disk");
    auto cache = ns::make<http::DownloadCache>();
    cache->setStoragePath(disk.folder() + "/cache");
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
