// The HTTP client against libcurl, in the same run, both fetching from one
// nginx started here on 127.0.0.1 (static files, Content-Length, connections
// kept alive for the whole run on both sides):
//
//   sync_1KiB          1 KiB GETs one after the other on one connection:
//                      HTTPRequest::startSynchronous vs a reused easy handle
//   inflight_4, _8     batches of 64 GETs of 1 KiB, 4 or 8 in flight: one
//                      NetworkQueue of that width vs one multi handle with
//                      as many easy handles, each re-added as it finishes
//   memory_512MiB      a 512 MiB body kept in memory (our limit raised for it;
//                      curl appends into a buffer reserved from the length)
//   file_512MiB        the same body written to a file
//   gzip_1MiB          1 MiB of text served pre-compressed: our body inflated
//                      when read (the default) and on arrival, vs curl with
//                      CURLOPT_ACCEPT_ENCODING
//
// Time is wall time; CPU is the whole process's (every thread of ours, the
// network thread and queue workers included; nginx is another process).
// "switches" counts context switches of the process per request,
// "connections" the connections the run opened (keep-alive at work). At the
// end the reporter prints ours / libcurl for wall and CPU time.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <sys/resource.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/PeerRatioReporter.h"
#include "net/http/HTTPRequest.h"
#include "net/http/NetworkQueue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/network/Connection.h"
#include "testsupport/Nginx.h"
#include "testsupport/TempDir.h"

namespace {

constexpr size_t kSmall = 1024;
constexpr size_t kText = size_t(1) << 20;
constexpr size_t kLarge = size_t(512) << 20;
constexpr int kBatch = 64;
constexpr long kTimeoutSeconds = 120;

// ---- The peer site ----------------------------------------------------------------------------

std::string textOfLength(size_t length) {
    static const char* const words[] = {"card", "deck", "interview", "answer", "question", "salary", "team",
                                        "project", "deadline", "strength", "weakness", "example", "result",
                                        "situation", "task", "action", "manager", "customer", "growth", "plan"};
    std::string text;
    text.reserve(length + 16);
    uint32_t seed = 12345;
    for (size_t line = 1; text.size() < length; ++line) {
        text += std::to_string(line) + ".";
        for (int i = 0; i < 12; ++i) {
            seed = seed * 1103515245u + 12345u;
            text += ' ';
            text += words[(seed >> 16) % (sizeof words / sizeof *words)];
        }
        text += '\n';
    }
    text.resize(length);
    return text;
}

std::string gzipped(const std::string& text) {
    z_stream z{};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, text.size()) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// nginx tuned so that the server is never what a client waits for:
// sendfile, no Nagle delay, open files cached, one connection may carry
// every request of the run, two workers.
class Site {
public:
    Site() : nginx_(configuration()) {
        if (!nginx_.running()) return;
        std::ofstream(nginx_.root() + "/small.txt") << textOfLength(kSmall);
        text_ = textOfLength(kText);
        std::ofstream(nginx_.root() + "/text.txt") << text_;
        std::string compressed = gzipped(text_);
        compressedLength_ = compressed.size();
        std::ofstream(nginx_.root() + "/text.txt.gz") << compressed;
    }
    bool running() const { return nginx_.running(); }
    std::string problem() const { return nginx_.found() ? nginx_.errorLog() : "nginx is not installed"; }
    std::string url(const std::string& path) const { return nginx_.url(path); }
    // The 512 MiB file, written on first use (only the large cases need it).
    std::string largeURL() {
        std::string path = nginx_.root() + "/large.bin";
        if (!std::filesystem::exists(path)) {
            std::ofstream large(path, std::ios::binary);
            for (size_t written = 0; written < kLarge; written += text_.size()) large << text_;
        }
        return url("/large.bin");
    }
    std::string download(const std::string& name) const { return downloads_ / name; }
    size_t compressedLength() const { return compressedLength_; }

private:
    static testsupport::NginxConfig configuration() {
        testsupport::NginxConfig c;
        c.workers = 2;
        c.workerConnections = 256;
        c.httpDirectives =
            "  sendfile on; tcp_nopush on; tcp_nodelay on;\n"
            "  keepalive_timeout 600s; keepalive_requests 100000000;\n"
            "  open_file_cache max=16 inactive=600s; open_file_cache_valid 600s;\n"
            "  gzip off;\n";
        c.locations = "    location = /text.txt { gzip_static on; }\n";
        return c;
    }

    testsupport::Nginx nginx_;
    testsupport::TempDir downloads_{"httpspeed"};
    std::string text_;
    size_t compressedLength_ = 0;
};

Site* site = nullptr;

// ---- Counting -------------------------------------------------------------------------------

// Connections opened by libcurl's transfers (CURLINFO_NUM_CONNECTS summed
// as each transfer finishes).
uint64_t curlConnectionsOpened = 0;

// What one benchmark run cost besides time: context switches of the whole
// process per request, and the connections either client opened in all.
class RunCounters {
public:
    RunCounters() : switches_(switches()), connections_(connections()) {}
    void report(benchmark::State& state, int64_t requests, size_t bytesPerRequest) const {
        state.counters["switches"] = static_cast<double>(switches() - switches_) / static_cast<double>(requests);
        state.counters["connections"] = static_cast<double>(connections() - connections_);
        state.SetItemsProcessed(requests);
        state.SetBytesProcessed(requests * static_cast<int64_t>(bytesPerRequest));
    }

private:
    static long switches() {
        rusage u{};
        ::getrusage(RUSAGE_SELF, &u);
        return u.ru_nvcsw + u.ru_nivcsw;
    }
    static uint64_t connections() { return net::ConnectionPool::shared().connectionsOpened() + curlConnectionsOpened; }
    long switches_;
    uint64_t connections_;
};

// ---- Ours -------------------------------------------------------------------------------------

ns::Ref<http::HTTPRequest> request(const std::string& url) {
    auto r = http::HTTPRequest::requestWithURL(ns::URL::URLWithString(url));
    r->setTimeOutSeconds(kTimeoutSeconds);
    return r;
}

bool fetched(http::HTTPRequest& r, size_t length) {
    return !r.error() && r.responseStatusCode() == 200 && r.rawResponseData() &&
           r.rawResponseData()->length() == length;
}

void oursSync1KiB(benchmark::State& state) {
    std::string url = site->url("/small.txt");
    RunCounters counters;
    for (auto _ : state) {
        auto r = request(url);
        r->startSynchronous();
        if (!fetched(*r, kSmall)) return state.SkipWithError("request failed");
    }
    counters.report(state, state.iterations(), kSmall);
}

class QueueWaiter : public ns::Object, public http::NetworkQueueDelegate {
public:
    const char* className() const override { return "QueueWaiter"; }
    void requestFinished(http::HTTPRequest* r) override { good += fetched(*r, kSmall); }
    void requestFailed(http::HTTPRequest*) override {}
    void queueFinished(http::NetworkQueue*) override { done = true; }
    int good = 0;
    bool done = false;
};

// One queue for the whole run, as the multi handle is: a queue made per
// batch leaves its idle workers waiting five seconds each, and the hundreds
// of threads that piles up slow down whatever runs next in the process.
void oursInFlight(benchmark::State& state, int width) {
    std::string url = site->url("/small.txt");
    auto loop = ns::RunLoop::main();
    auto queue = http::NetworkQueue::queue();
    auto waiter = ns::make<QueueWaiter>();
    queue->setMaxConcurrentOperationCount(width);
    queue->setDelegate(waiter.get());
    queue->setRequestDidFinishSelector(&http::NetworkQueueDelegate::requestFinished);
    queue->setRequestDidFailSelector(&http::NetworkQueueDelegate::requestFailed);
    queue->setQueueDidFinishSelector(&http::NetworkQueueDelegate::queueFinished);
    queue->go();
    RunCounters counters;
    for (auto _ : state) {
        waiter->good = 0;
        waiter->done = false;
        for (int i = 0; i < kBatch; ++i) queue->addOperation(request(url));
        loop->runUntil([&] { return waiter->done; }, kTimeoutSeconds);
        if (!waiter->done || waiter->good != kBatch) return state.SkipWithError("a request failed");
    }
    counters.report(state, state.iterations() * kBatch, kSmall);
}

void oursLargeToMemory(benchmark::State& state) {
    std::string url = site->largeURL();
    RunCounters counters;
    for (auto _ : state) {
        auto r = request(url);
        // The body is larger than the 64 MiB kept in memory by default.
        r->setMaxResponseDataLength(uint64_t(1) << 30);
        r->startSynchronous();
        if (!fetched(*r, kLarge)) return state.SkipWithError("request failed");
    }
    counters.report(state, state.iterations(), kLarge);
}

void oursLargeToFile(benchmark::State& state) {
    std::string url = site->largeURL(), path = site->download("ours.bin");
    RunCounters counters;
    for (auto _ : state) {
        auto r = request(url);
        r->setDownloadDestinationPath(path);
        r->startSynchronous();
        if (r->error() || std::filesystem::file_size(path) != kLarge) return state.SkipWithError("download failed");
    }
    counters.report(state, state.iterations(), kLarge);
}

void oursGzip(benchmark::State& state, bool inflateOnArrival) {
    std::string url = site->url("/text.txt");
    RunCounters counters;
    for (auto _ : state) {
        auto r = request(url);
        r->setShouldWaitToInflateCompressedResponses(!inflateOnArrival);
        r->startSynchronous();
        auto body = r->responseData();
        if (r->error() || !r->isResponseCompressed() || !body || body->length() != kText)
            return state.SkipWithError("request failed");
    }
    counters.report(state, state.iterations(), kText);
}

// ---- libcurl ----------------------------------------------------------------------------------

// One easy handle and the body it keeps; the buffer is reserved from the
// announced length when the first bytes arrive.
class CurlTransfer {
public:
    explicit CurlTransfer(const std::string& url) : easy_(curl_easy_init()) {
        curl_easy_setopt(easy_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlTransfer::keep);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy_, CURLOPT_PRIVATE, this);
        curl_easy_setopt(easy_, CURLOPT_TIMEOUT, kTimeoutSeconds);
    }
    ~CurlTransfer() { curl_easy_cleanup(easy_); }
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    CURL* easy() const { return easy_; }
    // Large reads: 2 MiB per read call instead of 16 KiB (curl's fastest
    // setting for large bodies here; more gains nothing).
    void useLargeBuffer() { curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, 2L << 20); }
    std::string& body() { return body_; }
    bool perform() { return curl_easy_perform(easy_) == CURLE_OK && finishedWith200(); }
    // Counts the new connections of the transfer that just ended and
    // answers whether it got a 200.
    bool finishedWith200() {
        long status = 0, connects = 0;
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_getinfo(easy_, CURLINFO_NUM_CONNECTS, &connects);
        curlConnectionsOpened += static_cast<uint64_t>(connects);
        return status == 200;
    }

private:
    static size_t keep(char* bytes, size_t size, size_t count, void* user) {
        auto* self = static_cast<CurlTransfer*>(user);
        if (self->body_.empty()) {
            curl_off_t announced = -1;
            curl_easy_getinfo(self->easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
            if (announced > 0) self->body_.reserve(static_cast<size_t>(announced));
        }
        self->body_.append(bytes, size * count);
        return size * count;
    }

    CURL* easy_;
    std::string body_;
};

void curlSync1KiB(benchmark::State& state) {
    CurlTransfer t(site->url("/small.txt"));
    RunCounters counters;
    for (auto _ : state) {
        t.body().clear();
        if (!t.perform() || t.body().size() != kSmall) return state.SkipWithError("curl failed");
    }
    counters.report(state, state.iterations(), kSmall);
}

// Runs `total` transfers through the multi handle, at most transfers.size()
// at once, re-adding each easy handle as it finishes. Returns how many
// finished with the whole body.
int runMulti(CURLM* multi, std::vector<std::unique_ptr<CurlTransfer>>& transfers, int total) {
    int started = 0, finished = 0, good = 0;
    for (auto& t : transfers) {
        if (started == total) break;
        t->body().clear();
        curl_multi_add_handle(multi, t->easy());
        ++started;
    }
    while (finished < started) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) break;
        int left = 0;
        while (CURLMsg* m = curl_multi_info_read(multi, &left)) {
            if (m->msg != CURLMSG_DONE) continue;
            CurlTransfer* t = nullptr;
            curl_easy_getinfo(m->easy_handle, CURLINFO_PRIVATE, &t);
            ++finished;
            good += m->data.result == CURLE_OK && t->finishedWith200() && t->body().size() == kSmall;
            curl_multi_remove_handle(multi, t->easy());
            if (started < total) {
                t->body().clear();
                curl_multi_add_handle(multi, t->easy());
                ++started;
            }
        }
        if (finished < started && curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK) break;
    }
    return good;
}

void curlInFlight(benchmark::State& state, int width) {
    CURLM* multi = curl_multi_init();
    // Keep every connection between batches (the cache otherwise shrinks
    // with the number of handles added, and the last ones are closed).
    curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, static_cast<long>(width));
    std::vector<std::unique_ptr<CurlTransfer>> transfers;
    for (int i = 0; i < width; ++i)
        transfers.push_back(std::make_unique<CurlTransfer>(site->url("/small.txt")));
    RunCounters counters;
    for (auto _ : state)
        if (runMulti(multi, transfers, kBatch) != kBatch) {
            state.SkipWithError("a transfer failed");
            break;
        }
    counters.report(state, state.iterations() * kBatch, kSmall);
    transfers.clear();
    curl_multi_cleanup(multi);
}

void curlLargeToMemory(benchmark::State& state) {
    CurlTransfer t(site->largeURL());
    t.useLargeBuffer();
    RunCounters counters;
    for (auto _ : state) {
        bool ok = t.perform() && t.body().size() == kLarge;
        std::string().swap(t.body());  // each download gets a buffer of its own, as ours does
        if (!ok) return state.SkipWithError("curl failed");
    }
    counters.report(state, state.iterations(), kLarge);
}

void curlLargeToFile(benchmark::State& state) {
    std::string path = site->download("curl.bin");
    CurlTransfer t(site->largeURL());
    t.useLargeBuffer();
    curl_easy_setopt(t.easy(), CURLOPT_WRITEFUNCTION, nullptr);  // fwrite into the FILE
    RunCounters counters;
    for (auto _ : state) {
        // A new file each time: truncating the last 512 MiB file in place
        // cost curl about 0.4 s of waiting here (ours renames into place).
        std::filesystem::remove(path);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        curl_easy_setopt(t.easy(), CURLOPT_WRITEDATA, f);
        bool ok = f && t.perform();
        if (f) std::fclose(f);
        if (!ok || std::filesystem::file_size(path) != kLarge) return state.SkipWithError("curl failed");
    }
    counters.report(state, state.iterations(), kLarge);
}

void curlGzip(benchmark::State& state) {
    CurlTransfer t(site->url("/text.txt"));
    curl_easy_setopt(t.easy(), CURLOPT_ACCEPT_ENCODING, "gzip");
    RunCounters counters;
    for (auto _ : state) {
        t.body().clear();
        if (!t.perform() || t.body().size() != kText) return state.SkipWithError("curl failed");
    }
    counters.report(state, state.iterations(), kText);
}

// ---- Registration -----------------------------------------------------------------------------

benchmark::internal::Benchmark* timed(benchmark::internal::Benchmark* b, benchmark::TimeUnit unit) {
    return b->UseRealTime()->MeasureProcessCPUTime()->Unit(unit);
}

void registerCases() {
    using benchmark::RegisterBenchmark;
    timed(RegisterBenchmark("sync_1KiB/ours", oursSync1KiB), benchmark::kMicrosecond);
    timed(RegisterBenchmark("sync_1KiB/curl", curlSync1KiB), benchmark::kMicrosecond);
    for (int width : {4, 8}) {
        std::string name = "inflight_" + std::to_string(width);
        timed(RegisterBenchmark((name + "/ours").c_str(), oursInFlight, width), benchmark::kMillisecond);
        timed(RegisterBenchmark((name + "/curl").c_str(), curlInFlight, width), benchmark::kMillisecond);
    }
    timed(RegisterBenchmark("memory_512MiB/ours", oursLargeToMemory), benchmark::kMillisecond);
    timed(RegisterBenchmark("memory_512MiB/curl", curlLargeToMemory), benchmark::kMillisecond);
    timed(RegisterBenchmark("file_512MiB/ours", oursLargeToFile), benchmark::kMillisecond);
    timed(RegisterBenchmark("file_512MiB/curl", curlLargeToFile), benchmark::kMillisecond);
    timed(RegisterBenchmark("gzip_1MiB/ours", oursGzip, false), benchmark::kMicrosecond);
    timed(RegisterBenchmark("gzip_1MiB/ours_on_arrival", oursGzip, true), benchmark::kMicrosecond);
    timed(RegisterBenchmark("gzip_1MiB/curl", curlGzip), benchmark::kMicrosecond);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    Site peer;
    if (!peer.running()) {
        std::fprintf(stderr, "nginx did not start: %s\n", peer.problem().c_str());
        return 1;
    }
    site = &peer;
    std::fprintf(stderr, "nginx on %s, libcurl %s, gzip body %zu bytes\n", peer.url("/").c_str(),
                 curl_version_info(CURLVERSION_NOW)->version, peer.compressedLength());
    registerCases();
    bench::PeerRatioReporter reporter("curl");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    site = nullptr;
    curl_global_cleanup();
    return 0;
}
