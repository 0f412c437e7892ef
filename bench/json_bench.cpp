// JSON decoding and writing, the fast codec side by side with RapidJSON
// (DOM, full precision, UTF-8 validation), simdjson (DOM) and nlohmann-json.
//
// Decoding benchmarks parse a document into each library's tree and then
// walk every value (node count, sum of numbers, bytes of strings and keys),
// so that lazy work is paid for. Writing benchmarks write the tree each
// library decoded. Bytes processed are the input (decode) or output (write)
// sizes, so the reported rates are MB/s of JSON text.
//
//   json_bench                  Google Benchmark run
//   json_bench --memory         memory held by each decoded tree (before and after
//                               a walk), and peak rise
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <simdjson.h>

#include "bench/JsonDocuments.h"
#include "bench/JsonWalk.h"
#include "net/json/FJCategories.h"
#include "net/json/FJSerializer.h"
#include "net/json/JSONDecoder.h"
#include "platform/foundation/Foundation.h"

namespace {

using jsonbench::Stats;
using jsonbench::walk;
using jsonbench::document;

// ---- walks (the project's trees: bench/JsonWalk.h) ----

void walk(const rapidjson::Value& v, Stats& st) {
    ++st.nodes;
    switch (v.GetType()) {
        case rapidjson::kStringType: st.stringBytes += v.GetStringLength(); break;
        case rapidjson::kNumberType: st.numbers += v.GetDouble(); break;
        case rapidjson::kArrayType:
            for (auto& e : v.GetArray()) walk(e, st);
            break;
        case rapidjson::kObjectType:
            for (auto& m : v.GetObject()) {
                st.stringBytes += m.name.GetStringLength();
                walk(m.value, st);
            }
            break;
        default: break;
    }
}

void walk(simdjson::dom::element e, Stats& st) {
    ++st.nodes;
    switch (e.type()) {
        case simdjson::dom::element_type::STRING: st.stringBytes += std::string_view(e).size(); break;
        case simdjson::dom::element_type::INT64: st.numbers += static_cast<double>(int64_t(e)); break;
        case simdjson::dom::element_type::UINT64: st.numbers += static_cast<double>(uint64_t(e)); break;
        case simdjson::dom::element_type::DOUBLE: st.numbers += double(e); break;
        case simdjson::dom::element_type::ARRAY:
            for (auto c : simdjson::dom::array(e)) walk(c, st);
            break;
        case simdjson::dom::element_type::OBJECT:
            for (auto field : simdjson::dom::object(e)) {
                st.stringBytes += field.key.size();
                walk(field.value, st);
            }
            break;
        default: break;
    }
}

void walk(const nlohmann::json& j, Stats& st) {
    ++st.nodes;
    switch (j.type()) {
        case nlohmann::json::value_t::string: st.stringBytes += j.get_ref<const std::string&>().size(); break;
        case nlohmann::json::value_t::number_integer:
        case nlohmann::json::value_t::number_unsigned:
        case nlohmann::json::value_t::number_float: st.numbers += j.get<double>(); break;
        case nlohmann::json::value_t::array:
            for (auto& e : j) walk(e, st);
            break;
        case nlohmann::json::value_t::object:
            for (auto it = j.begin(); it != j.end(); ++it) {
                st.stringBytes += it.key().size();
                walk(it.value(), st);
            }
            break;
        default: break;
    }
}

// ---- decoders ----

constexpr unsigned kRapidFlags = rapidjson::kParseFullPrecisionFlag | rapidjson::kParseValidateEncodingFlag;

// Each decoder is called out of line (one call per document, nothing to
// gain from inlining it into the loop), so that callgrind's
// --toggle-collect='*decodeFast*' and '*decodeRapid*' count exactly a decode,
// its walk and the release of its tree (docs/benchmarks.md).

[[gnu::noinline]] Stats decodeFast(const std::string& text, json::JSONDecoder* reuse = nullptr) {
    Stats st;
    if (reuse) {
        auto v = reuse->objectWithUTF8StringLengthError(text.data(), text.size());
        if (!v) std::abort();
        walk(v.get(), st);
    } else {
        json::JSONDecoder decoder;
        auto v = decoder.objectWithUTF8StringLengthError(text.data(), text.size());
        if (!v) std::abort();
        walk(v.get(), st);
    }
    return st;
}

[[gnu::noinline]] Stats decodeRapid(const std::string& text) {
    rapidjson::Document d;
    d.Parse<kRapidFlags>(text.data(), text.size());
    if (d.HasParseError()) std::abort();
    Stats st;
    walk(d, st);
    return st;
}

[[gnu::noinline]] Stats decodeSimd(simdjson::dom::parser& parser, const simdjson::padded_string& text) {
    simdjson::dom::element root;
    if (parser.parse(text).get(root)) std::abort();
    Stats st;
    walk(root, st);
    return st;
}

[[gnu::noinline]] Stats decodeNlohmann(const std::string& text) {
    auto j = nlohmann::json::parse(text);
    Stats st;
    walk(j, st);
    return st;
}

void checkAgreement(int which) {
    static bool checked[3];
    if (checked[which]) return;
    checked[which] = true;
    const std::string& text = document(which).text;
    simdjson::dom::parser parser;
    simdjson::padded_string padded(text);
    Stats a = decodeFast(text), b = decodeRapid(text), c = decodeSimd(parser, padded), d = decodeNlohmann(text);
    if (!(a == b && a == c && a == d)) {
        std::fprintf(stderr, "walks disagree on %s: fast %zu/%g/%zu rapid %zu/%g/%zu simd %zu/%g/%zu nlohmann %zu/%g/%zu\n",
                     document(which).name, a.nodes, a.numbers, a.stringBytes, b.nodes, b.numbers, b.stringBytes,
                     c.nodes, c.numbers, c.stringBytes, d.nodes, d.numbers, d.stringBytes);
        std::exit(1);
    }
}

void BM_Decode_Fast(benchmark::State& state) {
    int which = static_cast<int>(state.range(0));
    checkAgreement(which);
    const std::string& text = document(which).text;
    for (auto _ : state) benchmark::DoNotOptimize(decodeFast(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetLabel(document(which).name);
}

void BM_Decode_FastReusedDecoder(benchmark::State& state) {
    int which = static_cast<int>(state.range(0));
    const std::string& text = document(which).text;
    json::JSONDecoder decoder;
    for (auto _ : state) benchmark::DoNotOptimize(decodeFast(text, &decoder));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetLabel(document(which).name);
}

void BM_Decode_RapidJSON(benchmark::State& state) {
    int which = static_cast<int>(state.range(0));
    checkAgreement(which);
    const std::string& text = document(which).text;
    for (auto _ : state) benchmark::DoNotOptimize(decodeRapid(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetLabel(document(which).name);
}

void BM_Decode_simdjson(benchmark::State& state) {
    int which = static_cast<int>(state.range(0));
    checkAgreement(which);
    const std::string& text = document(which).text;
    simdjson::dom::parser parser;
    simdjson::padded_string padded(text);
    for (auto _ : state) benchmark::DoNotOptimize(decodeSimd(parser, padded));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetLabel(document(which).name);
}

void BM_Decode_nlohmann(benchmark::State& state) {
    int which = static_cast<int>(state.range(0));
    checkAgreement(which);
    const std::string& text = document(which).text;
    for (auto _ : state) benchmark::DoNotOptimize(decodeNlohmann(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetLabel(document(which).name);
}

// ---- writers ----

void BM_Write_Fast(benchmark::State& state) {
    int which = static_cast<int>(state.range(0));
    const std::string& text = document(which).text;
    json::JSONDecoder decoder;
    auto tree = decoder.objectWithUTF8StringLengthError(text.data(), text.size());
    size_t bytes = 0;
    for (auto _ : state) {
        auto out = json::FJSerializer::serializeObjectOptionsEncodeOptionBlockDelegateSelectorError(
            tree.get(), 0, json::FJEncodeAsData, nullptr, nullptr, nullptr, nullptr);
        bytes = static_cast<ns::Data*>(out.get())->length();
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetLabel(document(which).name);
}

void BM_Write_RapidJSON(benchmark::State& state) {
    int which = static_cast<int>(state.range(0));
    const std::string& text = document(which).text;
    rapidjson::Document d;
    d.Parse<kRapidFlags>(text.data(), text.size());
    size_t bytes = 0;
    for (auto _ : state) {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        d.Accept(writer);
        bytes = buffer.GetSize();
        benchmark::DoNotOptimize(buffer.GetString());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetLabel(document(which).name);
}

void BM_Write_nlohmann(benchmark::State& state) {
    int which = static_cast<int>(state.range(0));
    const std::string& text = document(which).text;
    auto j = nlohmann::json::parse(text);
    size_t bytes = 0;
    for (auto _ : state) {
        std::string out = j.dump();
        bytes = out.size();
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetLabel(document(which).name);
}

#define DOCS ->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_Decode_Fast) DOCS;
BENCHMARK(BM_Decode_FastReusedDecoder) DOCS;
BENCHMARK(BM_Decode_RapidJSON) DOCS;
BENCHMARK(BM_Decode_simdjson) DOCS;
BENCHMARK(BM_Decode_nlohmann) DOCS;
BENCHMARK(BM_Write_Fast) DOCS;
BENCHMARK(BM_Write_RapidJSON) DOCS;
BENCHMARK(BM_Write_nlohmann) DOCS;

// ---- memory ----

struct MemoryUse {
    long heldKiB = -1;       // heap bytes still allocated while the tree is held
    long walkedHeldKiB = -1;  // the same after the tree has been walked
    long peakKiB = -1;       // rise of the resident high-water mark during the parse
};

long residentKiB(const char* field) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long value = -1;
    size_t n = std::strlen(field);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, n) == 0) value = std::atol(line + n);
    std::fclose(f);
    return value;
}

void resetPeak() {
    if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

// Decodes one document in a child process and measures the heap it keeps
// while the tree is held, and how far the resident peak rises.
MemoryUse measure(int lib, const std::string& text) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        simdjson::dom::parser parser;
        simdjson::padded_string padded(lib == 2 ? text : std::string());
        malloc_trim(0);
        resetPeak();
        long rss0 = residentKiB("VmRSS:");
        size_t heap0 = mallinfo2().uordblks + mallinfo2().hblkhd;
        MemoryUse use;
        auto heldKiB = [&] { return static_cast<long>((mallinfo2().uordblks + mallinfo2().hblkhd - heap0) / 1024); };
        // Held before and after a walk of every value (a tree that made
        // values on first access would hold more after it), and the peak.
        auto finish = [&](auto&& tree) {
            use.heldKiB = heldKiB();
            Stats st;
            walk(tree, st);
            benchmark::DoNotOptimize(st);
            use.walkedHeldKiB = heldKiB();
            use.peakKiB = residentKiB("VmHWM:") - rss0;
        };
        if (lib == 0) {
            json::JSONDecoder decoder;
            auto v = decoder.objectWithUTF8StringLengthError(text.data(), text.size());
            finish(v.get());
        } else if (lib == 1) {
            rapidjson::Document d;
            d.Parse<kRapidFlags>(text.data(), text.size());
            finish(static_cast<const rapidjson::Value&>(d));
        } else if (lib == 2) {
            simdjson::dom::element root;
            if (parser.parse(padded).get(root)) _exit(1);
            finish(root);
        } else {
            auto j = nlohmann::json::parse(text);
            finish(static_cast<const nlohmann::json&>(j));
        }
        if (write(fds[1], &use, sizeof use) != sizeof use) _exit(1);
        _exit(0);
    }
    close(fds[1]);
    MemoryUse use;
    if (read(fds[0], &use, sizeof use) != sizeof use) use = {};
    close(fds[0]);
    int status;
    waitpid(pid, &status, 0);
    return use;
}

int memoryReport() {
    const char* libs[] = {"fast", "RapidJSON", "simdjson", "nlohmann"};
    std::printf("KiB held by the decoded tree / held after a walk of it / rise of resident peak\n");
    std::printf("%-14s %9s", "document", "input");
    for (const char* l : libs) std::printf(" %23s", l);
    std::printf("\n");
    for (int which = 0; which < 3; ++which) {
        const std::string& text = document(which).text;
        std::printf("%-14s %9zu", document(which).name, text.size() / 1024);
        for (int lib = 0; lib < 4; ++lib) {
            MemoryUse u = measure(lib, text);
            char cell[64];
            std::snprintf(cell, sizeof cell, "%ld / %ld / %ld", u.heldKiB, u.walkedHeldKiB, u.peakKiB);
            std::printf(" %23s", cell);
        }
        std::printf("\n");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::AddCustomContext("build", DECK_BENCH_BUILD);
    if (argc > 1 && std::strcmp(argv[1], "--memory") == 0) return memoryReport();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
