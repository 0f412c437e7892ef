// Parse + walk of twitter.json with the streaming parser, and the same work
// with RapidJSON and nlohmann-json for comparison. The walk visits every
// value and sums string lengths and numbers so nothing is optimised away.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <sstream>
#include <string>

#include "net/json/JsonParser.h"
#include "net/json/JsonWriter.h"
#include "platform/foundation/Foundation.h"

namespace {

const std::string& twitter() {
    static const std::string text = [] {
        // The environment can point elsewhere (a worktree outside the tree).
        const char* dir = std::getenv("DECK_JSON_DATA_DIR");
        std::ifstream in(std::string(dir ? dir : DECK_JSON_DATA_DIR) + "/twitter.json", std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }();
    return text;
}

double walk(const ns::Object* o) {
    if (auto* s = ns::as<ns::String>(o)) return static_cast<double>(s->utf8().size());
    if (auto* n = ns::as<ns::Number>(o)) return n->doubleValue();
    if (auto* a = ns::as<ns::Array>(o)) {
        double t = 0;
        for (ns::Object* e : *a) t += walk(e);
        return t;
    }
    if (auto* d = ns::as<ns::Dictionary>(o)) {
        double t = 0;
        for (size_t i = 0; i < d->count(); ++i) t += walk(d->keyAtIndex(i)) + walk(d->valueAtIndex(i));
        return t;
    }
    return 1;
}

double walk(const rapidjson::Value& v) {
    if (v.IsString()) return v.GetStringLength();
    if (v.IsNumber()) return v.GetDouble();
    if (v.IsArray()) {
        double t = 0;
        for (const auto& e : v.GetArray()) t += walk(e);
        return t;
    }
    if (v.IsObject()) {
        double t = 0;
        for (const auto& m : v.GetObject()) t += m.name.GetStringLength() + walk(m.value);
        return t;
    }
    return 1;
}

double walk(const nlohmann::json& v) {
    if (v.is_string()) return static_cast<double>(v.get_ref<const std::string&>().size());
    if (v.is_number()) return v.get<double>();
    if (v.is_array()) {
        double t = 0;
        for (const auto& e : v) t += walk(e);
        return t;
    }
    if (v.is_object()) {
        double t = 0;
        for (const auto& [k, e] : v.items()) t += k.size() + walk(e);
        return t;
    }
    return 1;
}

void StreamParserParseWalk(benchmark::State& state) {
    const std::string& text = twitter();
    for (auto _ : state) {
        auto parser = ns::make<json::JsonParser>();
        auto value = parser->objectWithBytes(text.data(), text.size());
        if (!value) state.SkipWithError(parser->error().c_str());
        benchmark::DoNotOptimize(walk(value.get()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(StreamParserParseWalk);

void StreamWriterWrite(benchmark::State& state) {
    const std::string& text = twitter();
    auto value = ns::make<json::JsonParser>()->objectWithBytes(text.data(), text.size());
    size_t bytes = 0;
    for (auto _ : state) {
        auto writer = ns::make<json::JsonWriter>();
        auto data = writer->dataWithObject(value.get());
        if (!data) state.SkipWithError(writer->error().c_str());
        bytes = data ? data->length() : 0;
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(StreamWriterWrite);

void RapidJsonParseWalk(benchmark::State& state) {
    const std::string& text = twitter();
    for (auto _ : state) {
        rapidjson::Document doc;
        doc.Parse(text.data(), text.size());
        if (doc.HasParseError()) state.SkipWithError("parse error");
        benchmark::DoNotOptimize(walk(doc));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(RapidJsonParseWalk);

void NlohmannParseWalk(benchmark::State& state) {
    const std::string& text = twitter();
    for (auto _ : state) {
        auto doc = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(walk(doc));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(NlohmannParseWalk);

}  // namespace
