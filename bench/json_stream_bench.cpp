// The streaming codec side by side with its peers, on the three shared
// documents (twitter, citm_catalog, numbers):
//   parse + walk: the streaming parser, RapidJSON's DOM (full precision, UTF-8
//   validation) and nlohmann-json; the walk visits every value, counting
//   nodes, summing numbers and adding up string and key bytes, and the three
//   walks must agree before anything is timed;
//   write: the streaming writer on the tree it parsed, RapidJSON's
//   Writer<StringBuffer> on its DOM.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <string>

#include "bench/JsonDocuments.h"
#include "bench/JsonWalk.h"
#include "net/json/JsonParser.h"
#include "net/json/JsonWriter.h"
#include "platform/foundation/Foundation.h"

namespace {

using jsonbench::document;
constexpr unsigned kRapidFlags = rapidjson::kParseFullPrecisionFlag | rapidjson::kParseValidateEncodingFlag;

using jsonbench::Stats;

Stats walk(const ns::Object* o) {
    Stats st;
    jsonbench::walk(o, st);
    return st;
}

// The build type and flags, printed with the run's context.
const bool kBuildNoted = (benchmark::AddCustomContext("build", DECK_BENCH_BUILD), true);

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

void walk(const nlohmann::json& v, Stats& st) {
    ++st.nodes;
    if (v.is_string()) {
        st.stringBytes += v.get_ref<const std::string&>().size();
    } else if (v.is_boolean()) {
    } else if (v.is_number()) {
        st.numbers += v.get<double>();
    } else if (v.is_array()) {
        for (const auto& e : v) walk(e, st);
    } else if (v.is_object()) {
        for (const auto& [k, e] : v.items()) {
            st.stringBytes += k.size();
            walk(e, st);
        }
    }
}

template <class T>
Stats walked(const T& v) {
    Stats st;
    walk(v, st);
    return st;
}

ns::Ref<ns::Object> streamParse(const std::string& text) {
    auto parser = ns::make<json::JsonParser>();
    return parser->objectWithBytes(text.data(), text.size());
}

// The three parsers must see the same document before anything is timed.
bool walksAgree(int which, benchmark::State& state) {
    const std::string& text = document(which).text;
    Stats ours = walk(streamParse(text).get());
    rapidjson::Document doc;
    doc.Parse<kRapidFlags>(text.data(), text.size());
    Stats rapid = walked(doc);
    Stats nl = walked(nlohmann::json::parse(text));
    if (ours == rapid && rapid == nl) return true;
    char msg[256];
    std::snprintf(msg, sizeof msg, "walks differ on %s: %zu/%zu/%zu nodes, %zu/%zu/%zu string bytes",
                  document(which).name, ours.nodes, rapid.nodes, nl.nodes, ours.stringBytes, rapid.stringBytes,
                  nl.stringBytes);
    state.SkipWithError(msg);
    return false;
}

void BM_Parse_Stream(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    if (!walksAgree(which, state)) return;
    const std::string& text = document(which).text;
    for (auto _ : state) {
        auto value = streamParse(text);
        if (!value) state.SkipWithError("parse error");
        benchmark::DoNotOptimize(walk(value.get()).nodes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetLabel(document(which).name);
}

void BM_Parse_RapidJSON(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    const std::string& text = document(which).text;
    for (auto _ : state) {
        rapidjson::Document doc;
        doc.Parse<kRapidFlags>(text.data(), text.size());
        if (doc.HasParseError()) state.SkipWithError("parse error");
        benchmark::DoNotOptimize(walked(doc).nodes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetLabel(document(which).name);
}

void BM_Parse_nlohmann(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    const std::string& text = document(which).text;
    for (auto _ : state) {
        auto doc = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(walked(doc).nodes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetLabel(document(which).name);
}

void BM_Write_Stream(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    auto value = streamParse(document(which).text);
    size_t bytes = 0;
    for (auto _ : state) {
        auto writer = ns::make<json::JsonWriter>();
        auto data = writer->dataWithObject(value.get());
        if (!data) state.SkipWithError(writer->error().c_str());
        bytes = data ? data->length() : 0;
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetLabel(document(which).name);
}

void BM_Write_RapidJSON(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    const std::string& text = document(which).text;
    rapidjson::Document doc;
    doc.Parse<kRapidFlags>(text.data(), text.size());
    size_t bytes = 0;
    for (auto _ : state) {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        doc.Accept(writer);
        bytes = buffer.GetSize();
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetLabel(document(which).name);
}

#define DOCS ->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_Parse_Stream) DOCS;
BENCHMARK(BM_Parse_RapidJSON) DOCS;
BENCHMARK(BM_Parse_nlohmann) DOCS;
BENCHMARK(BM_Write_Stream) DOCS;
BENCHMARK(BM_Write_RapidJSON) DOCS;

}  // namespace
