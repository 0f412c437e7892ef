// Response parsing and loopback GETs over kept-alive connections: our
// stream and URL loading against libcurl's easy interface, same server.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/foundation/RunLoop.h"
#include "platform/network/HTTPReadStream.h"
#include "platform/network/ResponseParser.h"
#include "platform/network/URLConnection.h"
#include "testsupport/LoopbackServer.h"

#ifdef DECK_HAVE_CURL
#include <curl/curl.h>
#endif

namespace {

std::string chunkedResponse(size_t bodySize) {
    std::string r = "HTTP/1.1 200 OK\r\nServer: bench\r\nContent-Type: application/json\r\nCache-Control: no-cache\r\n"
                    "Set-Cookie: a=1; Path=/\r\nSet-Cookie: b=2; Path=/\r\nTransfer-Encoding: chunked\r\n\r\n";
    std::string chunk(4096, 'x');
    size_t left = bodySize;
    while (left) {
        size_t n = std::min(left, chunk.size());
        char size[16];
        snprintf(size, sizeof size, "%zx\r\n", n);
        r += size + chunk.substr(0, n) + "\r\n";
        left -= n;
    }
    return r + "0\r\n\r\n";
}

void BM_ParseChunkedResponse(benchmark::State& state) {
    std::string text = chunkedResponse(static_cast<size_t>(state.range(0)));
    std::string body;
    for (auto _ : state) {
        net::ResponseParser p;
        body.clear();
        // Delivered in 16 KiB reads, as a socket would.
        for (size_t i = 0; i < text.size(); i += 16384)
            p.feed(text.data() + i, std::min<size_t>(16384, text.size() - i), &body);
        if (!p.isComplete()) state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(body.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseChunkedResponse)->Arg(1024)->Arg(256 * 1024);

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

void BM_ReadStreamGet(benchmark::State& state) {
    auto& srv = server(static_cast<size_t>(state.range(0)));
    auto loop = ns::RunLoop::current();
    size_t total = 0;
    for (auto _ : state) {
        auto s = net::HTTPReadStream::make(net::HTTPMessage::request("GET", srv.url("/")));
        s->setAttemptPersistentConnection(true);
        bool done = false;
        s->setClient(net::kStreamEventHasBytesAvailable | net::kStreamEventEndEncountered | net::kStreamEventErrorOccurred,
                     [&](net::HTTPReadStream& st, net::StreamEvent e) {
                         uint8_t buf[65536];
                         long n;
                         while ((n = st.read(buf, sizeof buf)) > 0) total += static_cast<size_t>(n);
                         if (e != net::kStreamEventHasBytesAvailable) done = true;
                     });
        s->scheduleInRunLoop(*loop);
        s->open();
        loop->runUntil([&] { return done; }, 10);
        s->unscheduleFromRunLoop(*loop);
    }
    state.SetBytesProcessed(static_cast<int64_t>(total));
}
BENCHMARK(BM_ReadStreamGet)->Arg(1024)->Arg(256 * 1024);

void BM_URLConnectionGet(benchmark::State& state) {
    auto& srv = server(static_cast<size_t>(state.range(0)));
    auto req = net::URLRequest::requestWithURL(ns::URL::URLWithString(srv.url("/")), 0, 10);
    size_t total = 0;
    for (auto _ : state) {
        ns::Ref<net::HTTPURLResponse> resp;
        ns::Ref<ns::Error> err;
        auto data = net::URLConnection::sendSynchronousRequest(*req, &resp, &err);
        if (!data) state.SkipWithError("request failed");
        else total += data->length();
    }
    state.SetBytesProcessed(static_cast<int64_t>(total));
}
BENCHMARK(BM_URLConnectionGet)->Arg(1024)->Arg(256 * 1024);

#ifdef DECK_HAVE_CURL
size_t curlWrite(char* p, size_t size, size_t n, void* user) {
    *static_cast<size_t*>(user) += size * n;
    return size * n;
}

void BM_CurlEasyGet(benchmark::State& state) {
    auto& srv = server(static_cast<size_t>(state.range(0)));
    CURL* curl = curl_easy_init();
    std::string url = srv.url("/");
    size_t total = 0;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, curlWrite);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &total);
    for (auto _ : state) {
        if (curl_easy_perform(curl) != CURLE_OK) state.SkipWithError("curl failed");
    }
    curl_easy_cleanup(curl);
    state.SetBytesProcessed(static_cast<int64_t>(total));
}
BENCHMARK(BM_CurlEasyGet)->Arg(1024)->Arg(256 * 1024);
#endif

}  // namespace

BENCHMARK_MAIN();
