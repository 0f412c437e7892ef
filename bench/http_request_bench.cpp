// The request engine on loopback: a synchronous GET on the calling thread,
// an asynchronous GET through the shared queue and the network thread with
// its callbacks on the main thread, and libcurl's easy interface against
// the same server. Connections are kept alive in all three.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>

#include "net/http/HTTPRequest.h"
#include "testsupport/LoopbackServer.h"

#ifdef DECK_HAVE_CURL
#include <curl/curl.h>
#endif

namespace {

testsupport::Server& server(size_t bodySize) {
    static std::map<size_t, std::unique_ptr<testsupport::Server>> servers;
    auto& s = servers[bodySize];
    if (!s) {
        std::string body(bodySize, 'b');
        s = std::make_unique<testsupport::Server>([body](testsupport::Conn& c) {
            while (auto r = c.readRequest()) c.respond(200, body, "Content-Type: text/plain\r\n");
        });
    }
    return *s;
}

void BM_RequestSynchronousGet(benchmark::State& state) {
    auto url = ns::URL::URLWithString(server(static_cast<size_t>(state.range(0))).url("/"));
    size_t total = 0;
    for (auto _ : state) {
        auto r = http::HTTPRequest::requestWithURL(url);
        r->startSynchronous();
        if (r->error()) state.SkipWithError("request failed");
        else total += r->rawResponseData()->length();
    }
    state.SetBytesProcessed(static_cast<int64_t>(total));
}
BENCHMARK(BM_RequestSynchronousGet)->Arg(1024)->Arg(256 * 1024);

void BM_RequestAsynchronousGet(benchmark::State& state) {
    auto url = ns::URL::URLWithString(server(static_cast<size_t>(state.range(0))).url("/"));
    auto loop = ns::RunLoop::main();
    size_t total = 0;
    for (auto _ : state) {
        auto r = http::HTTPRequest::requestWithURL(url);
        bool done = false;
        r->setCompletionBlock([&] { done = true; });
        r->setFailedBlock([&] { done = true; });
        r->startAsynchronous();
        loop->runUntil([&] { return done; }, 10);
        if (r->error()) state.SkipWithError("request failed");
        else total += r->rawResponseData()->length();
    }
    state.SetBytesProcessed(static_cast<int64_t>(total));
}
BENCHMARK(BM_RequestAsynchronousGet)->Arg(1024)->Arg(256 * 1024);

#ifdef DECK_HAVE_CURL
size_t curlWrite(char*, size_t size, size_t n, void* user) {
    *static_cast<size_t*>(user) += size * n;
    return size * n;
}

void BM_CurlEasyGet(benchmark::State& state) {
    std::string url = server(static_cast<size_t>(state.range(0))).url("/");
    CURL* curl = curl_easy_init();
    size_t total = 0;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, curlWrite);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &total);
    for (auto _ : state)
        if (curl_easy_perform(curl) != CURLE_OK) state.SkipWithError("curl failed");
    curl_easy_cleanup(curl);
    state.SetBytesProcessed(static_cast<int64_t>(total));
}
BENCHMARK(BM_CurlEasyGet)->Arg(1024)->Arg(256 * 1024);
#endif

}  // namespace

BENCHMARK_MAIN();
