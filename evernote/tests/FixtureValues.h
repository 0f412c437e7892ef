// Random field values for the generated record fixtures (EDAMRecordFixtures).
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <random>

#include "evernote/types/Record.h"
#include "platform/foundation/Foundation.h"

namespace evernote::fixtures {

inline bool coin(std::mt19937& rng) { return (rng() & 1u) != 0; }

template <class T>
T pickInteger(std::mt19937& rng) {
    switch (rng() % 5) {
    case 0: return 0;
    case 1: return std::numeric_limits<T>::min();
    case 2: return std::numeric_limits<T>::max();
    case 3: return static_cast<T>(-1);
    default: return static_cast<T>(rng());
    }
}

inline bool randomBool(std::mt19937& rng) { return coin(rng); }
inline int16_t randomI16(std::mt19937& rng) { return pickInteger<int16_t>(rng); }
inline int32_t randomI32(std::mt19937& rng) { return pickInteger<int32_t>(rng); }
inline int64_t randomI64(std::mt19937& rng) {
    return rng() % 2 ? pickInteger<int64_t>(rng)
                     : (static_cast<int64_t>(rng()) << 32 | static_cast<int64_t>(rng()));
}
inline double randomDouble(std::mt19937& rng) {
    static const double values[] = {0.0, -0.0, 1.5, -273.15, 1e300, 5e-324, 37.7749, -122.4194};
    return values[rng() % (sizeof values / sizeof values[0])];
}

inline ns::Ref<ns::String> randomString(std::mt19937& rng) {
    static const char* const values[] = {"", "a", "shard-s1", "caf\xc3\xa9",
                                         "\xe6\x97\xa5\xe6\x9c\xac", "\xf0\x9f\x98\x80 emoji",
                                         "quote \" and backslash \\"};
    if (rng() % 8 == 0) return ns::String::make(std::string("nul\0inside", 10));
    return ns::String::make(values[rng() % (sizeof values / sizeof values[0])]);
}

inline ns::Ref<ns::Data> randomData(std::mt19937& rng) {
    std::vector<uint8_t> bytes(rng() % 40);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    return ns::Data::make(std::move(bytes));
}

inline ns::Ref<ns::Array> randomList(std::mt19937& rng,
                                     const std::function<ns::Ref<ns::Object>()>& element) {
    auto list = ns::MutableArray::make();
    for (unsigned n = rng() % 4; n > 0; --n) list->addObject(element());
    return list;
}

inline ns::Ref<ns::Dictionary> randomMap(std::mt19937& rng,
                                         const std::function<ns::Ref<ns::Object>()>& value) {
    auto map = ns::MutableDictionary::make();
    for (unsigned i = 0, n = rng() % 4; i < n; ++i) map->setObject(value(), "key" + std::to_string(i));
    return map;
}

// Fills a record of any generated class (see EDAMRecordFixtures.cpp).
void fillRecord(Record& record, std::mt19937& rng, int depth);

template <class T>
ns::Ref<T> randomRecord(std::mt19937& rng, int depth) {
    auto r = ns::make<T>();
    if (depth > 0) fillRecord(*r, rng, depth);
    return r;
}

}  // namespace evernote::fixtures
