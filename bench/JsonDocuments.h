// The three documents the JSON benchmarks share: twitter.json and
// citm_catalog.json from bench/data (DECK_JSON_DATA, or
// DECK_JSON_DATA_DIR, overrides it), and a generated number-heavy document of
// 17-digit doubles, 15-digit doubles and 64-bit integers.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace jsonbench {

inline std::string dataDir() {
    if (const char* env = std::getenv("DECK_JSON_DATA")) return env;
    if (const char* env = std::getenv("DECK_JSON_DATA_DIR")) return env;
    return DECK_JSON_DATA_DIR;
}

inline std::string readFile(const std::string& name) {
    std::ifstream in(dataDir() + "/" + name, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s/%s (set DECK_JSON_DATA)\n", dataDir().c_str(), name.c_str());
        std::exit(1);
    }
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// About 7 MB: 100,000 points of a 17-digit and a 15-digit coordinate, a
// counter and a large signed integer.
inline std::string numberDocument() {
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> coord(-180.0, 180.0);
    std::string s = "{\"type\":\"points\",\"points\":[";
    char buf[160];
    for (int i = 0; i < 100000; ++i) {
        int n = std::snprintf(buf, sizeof buf, "%s[%.17g,%.15g,%lld,%lld]", i ? "," : "", coord(rng), coord(rng),
                              static_cast<long long>(rng() % 1000000), static_cast<long long>(rng()) - (1ll << 62));
        s.append(buf, static_cast<size_t>(n));
    }
    s += "]}";
    return s;
}

struct Document {
    const char* name;
    std::string text;
};

// 0 twitter, 1 citm_catalog, 2 numbers.
inline const Document& document(int which) {
    static const Document docs[3] = {{"twitter", readFile("twitter.json")},
                                     {"citm_catalog", readFile("citm_catalog.json")},
                                     {"numbers", numberDocument()}};
    return docs[which];
}

}  // namespace jsonbench
