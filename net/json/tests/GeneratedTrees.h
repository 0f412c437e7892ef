// Trees for the codecs' round-trip and peer tests: a seeded generator of
// documents whose strings hold every kind of character JSON must escape, and
// a comparison of two trees by value (an integer read as a decimal keeps its
// digits; anything with a fraction compares as the same double).
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <string_view>

#include "net/json/tests/StreamTestUtil.h"
#include "platform/foundation/Foundation.h"

namespace json::test {

// ---- Generated trees ----

class Generator {
public:
    explicit Generator(uint32_t seed) : rng_(seed) {}

    ns::Ref<ns::Object> document() {
        return pick(2) ? ns::Ref<ns::Object>(dictionary(0)) : ns::Ref<ns::Object>(array(0));
    }

private:
    uint32_t pick(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng_); }

    ns::Ref<ns::Array> array(int depth) {
        auto a = ns::MutableArray::make();
        for (uint32_t i = 0, n = pick(6); i < n; ++i) a->addObject(value(depth + 1));
        return a;
    }

    ns::Ref<ns::Dictionary> dictionary(int depth) {
        auto d = ns::MutableDictionary::make();
        for (uint32_t i = 0, n = pick(6); i < n; ++i) d->setObjectForKey(value(depth + 1), string());
        return d;
    }

    ns::Ref<ns::Object> value(int depth) {
        switch (pick(depth < 6 ? 9 : 7)) {
            case 0: return string();
            case 1: return integer();
            case 2: return real();
            case 3: return ns::Number::numberWithBool(pick(2));
            case 4: return ns::Null::null();
            case 5: return string();
            case 6: return integer();
            case 7: return array(depth);
            default: return dictionary(depth);
        }
    }

    ns::Ref<ns::String> string() {
        std::string s;
        for (uint32_t i = 0, n = pick(12); i < n; ++i) {
            char32_t cp;
            switch (pick(6)) {
                case 0: cp = pick(0x20); break;                         // controls, NUL included
                case 1: cp = "\"\\/'{}[]:,"[pick(10)]; break;           // JSON punctuation
                case 2: cp = 0x80 + pick(0x780); break;                 // two-byte UTF-8
                case 3: cp = 0x800 + pick(0xD000); break;               // three-byte, below surrogates
                case 4: cp = 0x10000 + pick(0x100000); break;           // astral (a surrogate pair)
                default: cp = 0x20 + pick(0x5F); break;                 // printable ASCII
            }
            // The fast decoder refuses NUL and the noncharacters.
            if (cp == 0 || (cp >= 0xFDD0 && cp <= 0xFDEF) || (cp & 0xFFFE) == 0xFFFE) cp = 'x';
            ns::appendCodePoint(s, cp);
        }
        return ns::String::make(std::move(s));
    }

    ns::Ref<ns::Number> integer() {
        std::uniform_int_distribution<uint64_t> any;
        switch (pick(5)) {
            case 0: return ns::Number::numberWithLongLong(static_cast<long long>(pick(2000)) - 1000);
            case 1: return ns::Number::numberWithLongLong(static_cast<long long>(any(rng_)));  // any signed
            case 2: return ns::Number::numberWithUnsignedLongLong(any(rng_) | (1ull << 63));  // above signed range
            case 3: return ns::Number::numberWithLongLong(pick(2) ? INT64_MIN : INT64_MAX);
            default: return ns::Number::numberWithUnsignedLongLong(UINT64_MAX);
        }
    }

    ns::Ref<ns::Number> real() {
        switch (pick(4)) {
            case 0: return ns::Number::numberWithDouble(std::uniform_real_distribution<double>(-1e6, 1e6)(rng_));
            case 1: {
                double d;
                uint64_t bits;
                do {
                    bits = std::uniform_int_distribution<uint64_t>()(rng_);
                    std::memcpy(&d, &bits, sizeof d);
                } while (!std::isfinite(d));
                return ns::Number::numberWithDouble(d);
            }
            case 2: return ns::Number::numberWithDouble(static_cast<double>(pick(1000)) / 8);
            default: return ns::Number::numberWithDouble(pick(2) ? 5e-324 : 1.7976931348623157e308);
        }
    }

    std::mt19937_64 rng_;
};

// ---- Equivalence ----

inline bool isIntegerText(std::string_view t) {
    size_t i = t[0] == '-' ? 1 : 0;
    if (i >= t.size()) return false;
    for (; i < t.size(); ++i)
        if (t[i] < '0' || t[i] > '9') return false;
    return true;
}

inline std::string integerText(const ns::Number& n) {
    return n.isUnsigned() ? std::to_string(n.unsignedLongLongValue()) : std::to_string(n.longLongValue());
}

// Numbers are equal by value: integers exactly (an integer read as a decimal
// keeps its digits), anything with a fraction as the same double.
inline bool sameNumber(const ns::Number& a, const ns::Number& b) {
    if (a.isBool() || b.isBool()) return &a == &b;
    auto* da = ns::as<ns::DecimalNumber>(&a);
    auto* db = ns::as<ns::DecimalNumber>(&b);
    bool ia = !da && !a.isFloatingPoint(), ib = !db && !b.isFloatingPoint();
    if (ia && ib) return integerText(a) == integerText(b);
    if (ia && db && isIntegerText(db->text())) return integerText(a) == db->text();
    if (ib && da && isIntegerText(da->text())) return integerText(b) == da->text();
    return a.doubleValue() == b.doubleValue();
}

inline ::testing::AssertionResult equivalent(const ns::Object* a, const ns::Object* b, const std::string& path = "$") {
    auto fail = [&] {
        return ::testing::AssertionFailure() << "at " << path << ": " << dump(a) << " vs " << dump(b);
    };
    if (!a || !b) return a == b ? ::testing::AssertionSuccess() : fail();
    if (ns::isNull(a) || ns::isNull(b)) return a == b ? ::testing::AssertionSuccess() : fail();
    if (auto* sa = ns::as<ns::String>(a)) {
        auto* sb = ns::as<ns::String>(b);
        return sb && sa->utf8() == sb->utf8() ? ::testing::AssertionSuccess() : fail();
    }
    if (auto* na = ns::as<ns::Number>(a)) {
        auto* nb = ns::as<ns::Number>(b);
        return nb && sameNumber(*na, *nb) ? ::testing::AssertionSuccess() : fail();
    }
    if (auto* aa = ns::as<ns::Array>(a)) {
        auto* ab = ns::as<ns::Array>(b);
        if (!ab || aa->count() != ab->count()) return fail();
        for (size_t i = 0; i < aa->count(); ++i) {
            auto r = equivalent(aa->objectAtIndex(i), ab->objectAtIndex(i), path + "[" + std::to_string(i) + "]");
            if (!r) return r;
        }
        return ::testing::AssertionSuccess();
    }
    if (auto* da = ns::as<ns::Dictionary>(a)) {
        auto* db = ns::as<ns::Dictionary>(b);
        if (!db || da->count() != db->count()) return fail();
        for (size_t i = 0; i < da->count(); ++i) {
            ns::Object* key = da->keyAtIndex(i);
            auto r = equivalent(da->valueAtIndex(i), db->objectForKey(*key), path + "." + dump(key));
            if (!r) return r;
        }
        return ::testing::AssertionSuccess();
    }
    return fail();
}


}  // namespace json::test
