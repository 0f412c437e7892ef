// Peak memory of a client facing a hostile server: a 10 MiB gzip bomb
// (about 10 GiB of zeros once inflated) and a body that never ends, fetched
// with default settings through the HTTP engine (into memory, inflated on
// arrival, into a download file) and through URL loading. Every case must
// end in an error with the client's peak resident memory under 512 MiB.
//
// Each case runs in a child process of its own, so its peak (getrusage's
// maximum resident set size, read with wait4) is the client's alone; the
// server is another child made before anything else starts. Counters:
// peak_MiB, and error_code (12 for the engine's and -1103 for URL
// loading's size error). A case that succeeds, ends in another error, or
// peaks at 512 MiB or more is reported as an error of the benchmark.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "net/http/HTTPRequest.h"
#include "platform/network/NetworkErrors.h"
#include "platform/network/URLConnection.h"
#include "testsupport/LoopbackServer.h"

namespace {

constexpr size_t kSegment = 1 << 20;        // zeros per repeated deflate segment
constexpr size_t kBombBytes = 10u << 20;    // compressed size of the bomb
constexpr long kPeakLimitMiB = 512;

std::string deflateSegment(z_stream& z, const std::vector<unsigned char>& in, int flush) {
    std::string out;
    z.next_in = const_cast<unsigned char*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    char buf[65536];
    do {
        z.next_out = reinterpret_cast<Bytef*>(buf);
        z.avail_out = sizeof buf;
        deflate(&z, flush);
        out.append(buf, sizeof buf - z.avail_out);
    } while (z.avail_out == 0 || z.avail_in > 0);
    return out;
}

// A gzip member of about kBombBytes that inflates to about a thousand times
// its size in zeros: a deflate segment of 1 MiB of zeros ends in a full
// flush, so the next segment's bytes are the same, and it is repeated; the
// trailer carries the CRC and size of the whole.
std::string makeGzipBomb(uint64_t* inflatedSize) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY);
    std::vector<unsigned char> zeros(kSegment, 0);
    std::string bomb = deflateSegment(z, zeros, Z_FULL_FLUSH);  // header and first segment
    std::string repeat = deflateSegment(z, zeros, Z_FULL_FLUSH);
    if (deflateSegment(z, zeros, Z_FULL_FLUSH) != repeat) std::abort();
    std::string finish = deflateSegment(z, {}, Z_FINISH);
    deflateEnd(&z);
    uint64_t segments = 1;
    while (bomb.size() + repeat.size() < kBombBytes) {
        bomb += repeat;
        ++segments;
    }
    bomb += finish.substr(0, finish.size() - 8);  // the final block, without zlib's trailer
    uLong oneCRC = crc32(0, zeros.data(), static_cast<uInt>(zeros.size()));
    uLong crc = oneCRC;
    for (uint64_t i = 1; i < segments; ++i) crc = crc32_combine(crc, oneCRC, static_cast<z_off_t>(kSegment));
    *inflatedSize = segments * kSegment;
    for (uint64_t word : {uint64_t(crc), *inflatedSize})  // little-endian, 32 bits each
        for (int i = 0; i < 4; ++i) bomb += static_cast<char>((word >> (8 * i)) & 0xff);
    return bomb;
}

// The hostile server, in a child process: /bomb answers the bomb with
// Content-Encoding gzip; anything else a body that never ends.
struct ServerProcess {
    pid_t pid = -1;
    uint16_t port = 0;
    uint64_t inflated = 0;
    size_t bombSize = 0;
};

ServerProcess& server() {
    static ServerProcess s = [] {
        ServerProcess p;
        std::string bomb = makeGzipBomb(&p.inflated);
        p.bombSize = bomb.size();
        int fds[2];
        if (::pipe(fds) != 0) std::abort();
        p.pid = ::fork();
        if (p.pid == 0) {
            ::close(fds[0]);
            testsupport::Server s([&bomb](testsupport::Conn& c) {
                while (auto r = c.readRequest()) {
                    if (r->target == "/bomb") {
                        if (!c.respond(200, bomb, "Content-Encoding: gzip\r\nContent-Type: text/plain\r\n")) return;
                        continue;
                    }
                    std::string piece(65536, 'x');
                    bool ok = c.write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n");
                    while (ok) ok = c.write(piece);
                    return;
                }
            });
            uint16_t port = s.port();
            (void)!::write(fds[1], &port, sizeof port);
            ::close(fds[1]);
            ::pause();  // until the harness ends it
            std::_Exit(0);
        }
        ::close(fds[1]);
        if (::read(fds[0], &p.port, sizeof p.port) != sizeof p.port) std::abort();
        ::close(fds[0]);
        return p;
    }();
    return s;
}

struct Outcome {
    long code = 0;  // 0: the load succeeded
    char text[200] = {};
};

// Runs `client` in a child process; answers its outcome and peak memory.
Outcome runInChild(const std::function<Outcome()>& client, long* peakKiB) {
    int fds[2];
    if (::pipe(fds) != 0) std::abort();
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        Outcome o = client();
        (void)!::write(fds[1], &o, sizeof o);
        std::_Exit(0);
    }
    ::close(fds[1]);
    Outcome o;
    if (::read(fds[0], &o, sizeof o) != sizeof o) std::snprintf(o.text, sizeof o.text, "the client died");
    ::close(fds[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    *peakKiB = usage.ru_maxrss;
    return o;
}

Outcome engineOutcome(const ns::Ref<http::HTTPRequest>& r) {
    Outcome o;
    if (auto e = r->error()) {
        o.code = e->code();
        std::snprintf(o.text, sizeof o.text, "%s", e->localizedDescription().c_str());
    } else {
        std::snprintf(o.text, sizeof o.text, "succeeded with %llu bytes", (unsigned long long)r->totalBytesRead());
    }
    return o;
}

std::string url(const char* path) { return "http://127.0.0.1:" + std::to_string(server().port) + path; }

Outcome engine(const char* path, bool onArrival, bool toFile) {
    auto r = http::HTTPRequest::requestWithURL(ns::URL::URLWithString(url(path)));
    r->setTimeOutSeconds(60);
    r->setShouldWaitToInflateCompressedResponses(!onArrival);
    std::string dir;
    if (toFile) {
        dir = (std::filesystem::temp_directory_path() / ("http_memory_bench." + std::to_string(::getpid()))).string();
        std::filesystem::create_directories(dir);
        r->setDownloadDestinationPath(dir + "/body");
    }
    r->startSynchronous();
    Outcome o = engineOutcome(r);
    if (toFile) std::filesystem::remove_all(dir);
    return o;
}

Outcome urlLoading(const char* path) {
    auto req = net::URLRequest::requestWithURL(ns::URL::URLWithString(url(path)), 0, 60);
    ns::Ref<net::HTTPURLResponse> response;
    ns::Ref<ns::Error> error;
    auto data = net::URLConnection::sendSynchronousRequest(*req, &response, &error);
    Outcome o;
    if (error) {
        o.code = error->code();
        std::snprintf(o.text, sizeof o.text, "%s", error->localizedDescription().c_str());
    } else {
        std::snprintf(o.text, sizeof o.text, "succeeded with %zu bytes", data ? data->length() : size_t(0));
    }
    return o;
}

void measure(benchmark::State& state, const std::function<Outcome()>& client, long expectedCode) {
    server();
    Outcome o;
    long peakKiB = 0;
    for (auto _ : state) o = runInChild(client, &peakKiB);
    long peakMiB = peakKiB / 1024;
    state.counters["peak_MiB"] = static_cast<double>(peakMiB);
    state.counters["error_code"] = static_cast<double>(o.code);
    state.SetLabel(o.text);
    if (o.code != expectedCode) state.SkipWithError(("did not end in the size error: " + std::string(o.text)).c_str());
    else if (peakMiB >= kPeakLimitMiB) state.SkipWithError("peak memory at or above 512 MiB");
}

void BM_EngineGzipBombInMemory(benchmark::State& s) {
    measure(s, [] { return engine("/bomb", false, false); }, http::kResponseTooLargeErrorType);
}
void BM_EngineGzipBombInflatedOnArrival(benchmark::State& s) {
    measure(s, [] { return engine("/bomb", true, false); }, http::kResponseTooLargeErrorType);
}
void BM_EngineGzipBombToFile(benchmark::State& s) {
    measure(s, [] { return engine("/bomb", false, true); }, http::kResponseTooLargeErrorType);
}
void BM_EngineEndlessBodyInMemory(benchmark::State& s) {
    measure(s, [] { return engine("/endless", false, false); }, http::kResponseTooLargeErrorType);
}
void BM_URLLoadingGzipBomb(benchmark::State& s) {
    measure(s, [] { return urlLoading("/bomb"); }, net::kErrorDataLengthExceedsMaximum);
}
void BM_URLLoadingEndlessBody(benchmark::State& s) {
    measure(s, [] { return urlLoading("/endless"); }, net::kErrorDataLengthExceedsMaximum);
}

BENCHMARK(BM_EngineGzipBombInMemory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EngineGzipBombInflatedOnArrival)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EngineGzipBombToFile)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EngineEndlessBodyInMemory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_URLLoadingGzipBomb)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_URLLoadingEndlessBody)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    ::signal(SIGPIPE, SIG_IGN);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    std::fprintf(stderr, "server: gzip bomb of %zu bytes inflating to %llu bytes\n", server().bombSize,
                 (unsigned long long)server().inflated);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ::kill(server().pid, SIGTERM);
    ::waitpid(server().pid, nullptr, 0);
    return 0;
}
