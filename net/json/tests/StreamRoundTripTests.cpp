// Round trips between the streaming codec and the fast codec over generated
// documents: what one codec writes, the other reads back to an equivalent
// tree, in both directions and in every output layout of both writers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "net/json/FJCategories.h"
#include "net/json/FJValuePool.h"
#include "net/json/JSONDecoder.h"
#include "net/json/JsonParser.h"
#include "net/json/JsonWriter.h"
#include "net/json/tests/StreamTestUtil.h"
#include "platform/foundation/Foundation.h"

using json::test::dump;
using ns::Ref;

namespace {

// ---- Generated trees ----

class Generator {
public:
    explicit Generator(uint32_t seed) : rng_(seed) {}

    Ref<ns::Object> document() {
        return pick(2) ? Ref<ns::Object>(dictionary(0)) : Ref<ns::Object>(array(0));
    }

private:
    uint32_t pick(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng_); }

    Ref<ns::Array> array(int depth) {
        auto a = ns::MutableArray::make();
        for (uint32_t i = 0, n = pick(6); i < n; ++i) a->addObject(value(depth + 1));
        return a;
    }

    Ref<ns::Dictionary> dictionary(int depth) {
        auto d = ns::MutableDictionary::make();
        for (uint32_t i = 0, n = pick(6); i < n; ++i) d->setObjectForKey(value(depth + 1), string());
        return d;
    }

    Ref<ns::Object> value(int depth) {
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

    Ref<ns::String> string() {
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

    Ref<ns::Number> integer() {
        std::uniform_int_distribution<uint64_t> any;
        switch (pick(5)) {
            case 0: return ns::Number::numberWithLongLong(static_cast<long long>(pick(2000)) - 1000);
            case 1: return ns::Number::numberWithLongLong(static_cast<long long>(any(rng_)));  // any signed
            case 2: return ns::Number::numberWithUnsignedLongLong(any(rng_) | (1ull << 63));  // above signed range
            case 3: return ns::Number::numberWithLongLong(pick(2) ? INT64_MIN : INT64_MAX);
            default: return ns::Number::numberWithUnsignedLongLong(UINT64_MAX);
        }
    }

    Ref<ns::Number> real() {
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

bool isIntegerText(std::string_view t) {
    size_t i = t[0] == '-' ? 1 : 0;
    if (i >= t.size()) return false;
    for (; i < t.size(); ++i)
        if (t[i] < '0' || t[i] > '9') return false;
    return true;
}

std::string integerText(const ns::Number& n) {
    return n.isUnsigned() ? std::to_string(n.unsignedLongLongValue()) : std::to_string(n.longLongValue());
}

// Numbers are equal by value: integers exactly (an integer read as a decimal
// keeps its digits), anything with a fraction as the same double.
bool sameNumber(const ns::Number& a, const ns::Number& b) {
    if (a.isBool() || b.isBool()) return &a == &b;
    auto* da = ns::as<ns::DecimalNumber>(&a);
    auto* db = ns::as<ns::DecimalNumber>(&b);
    bool ia = !da && !a.isFloatingPoint(), ib = !db && !b.isFloatingPoint();
    if (ia && ib) return integerText(a) == integerText(b);
    if (ia && db && isIntegerText(db->text())) return integerText(a) == db->text();
    if (ib && da && isIntegerText(da->text())) return integerText(b) == da->text();
    return a.doubleValue() == b.doubleValue();
}

::testing::AssertionResult equivalent(const ns::Object* a, const ns::Object* b, const std::string& path = "$") {
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

// ---- The two codecs ----

Ref<ns::String> streamWrite(const ns::Object* v, bool sortKeys, bool humanReadable) {
    auto w = ns::make<json::JsonWriter>();
    w->setSortKeys(sortKeys);
    w->setHumanReadable(humanReadable);
    auto s = w->stringWithObject(v);
    EXPECT_TRUE(s) << w->error();
    return s;
}

Ref<ns::Object> streamRead(const ns::String* text) {
    auto p = ns::make<json::JsonParser>();
    auto v = p->objectWithString(text);
    EXPECT_TRUE(v) << p->error() << " reading " << text->utf8();
    return v;
}

Ref<ns::String> fastWrite(const ns::Object* v, uint64_t options) {
    Ref<ns::Error> error;
    Ref<ns::String> s;
    if (auto* d = ns::as<ns::Dictionary>(v)) s = json::JSONStringWithOptionsError(*d, options, &error);
    else if (auto* a = ns::as<ns::Array>(v)) s = json::JSONStringWithOptionsError(*a, options, &error);
    EXPECT_TRUE(s) << (error ? error->localizedDescription() : "no error");
    return s;
}

Ref<ns::Object> fastRead(const ns::String* text) {
    Ref<ns::Error> error;
    auto v = json::objectFromJSONStringWithParseOptionsError(*text, 0, &error);
    EXPECT_TRUE(v) << (error ? error->localizedDescription() : "no error") << " reading " << text->utf8();
    return v;
}

constexpr int kDocuments = 150;

TEST(StreamRoundTrip, StreamWriterToFastDecoderAndBack) {
    Generator gen(20261207);
    for (int i = 0; i < kDocuments; ++i) {
        Ref<ns::Object> tree = gen.document();
        for (int mode = 0; mode < 4; ++mode) {
            Ref<ns::String> text = streamWrite(tree.get(), mode & 1, mode & 2);
            ASSERT_TRUE(text);
            Ref<ns::Object> fast = fastRead(text.get());
            ASSERT_TRUE(fast);
            ASSERT_TRUE(equivalent(tree.get(), fast.get())) << "document " << i << " mode " << mode;
            // The fast writer's output of that tree reads back in the stream parser.
            Ref<ns::String> again = fastWrite(fast.get(), (mode & 2) ? uint64_t(json::FJSerializeFlagPretty) : uint64_t(0));
            ASSERT_TRUE(again);
            Ref<ns::Object> stream = streamRead(again.get());
            ASSERT_TRUE(stream);
            ASSERT_TRUE(equivalent(tree.get(), stream.get())) << "document " << i << " mode " << mode;
        }
    }
}

TEST(StreamRoundTrip, FastSerializerToStreamParserAndBack) {
    Generator gen(7);
    const uint64_t options[] = {0, json::FJSerializeFlagPretty, json::FJSerializeFlagEscapeUnicode,
                                json::FJSerializeFlagEscapeSlash | json::FJSerializeFlagEscapeUnicode |
                                    json::FJSerializeFlagPretty};
    for (int i = 0; i < kDocuments; ++i) {
        Ref<ns::Object> tree = gen.document();
        for (uint64_t opt : options) {
            Ref<ns::String> text = fastWrite(tree.get(), opt);
            ASSERT_TRUE(text);
            Ref<ns::Object> stream = streamRead(text.get());
            ASSERT_TRUE(stream);
            ASSERT_TRUE(equivalent(tree.get(), stream.get())) << "document " << i << " options " << opt;
            // What the stream parser built (decimals included) the stream
            // writer writes so that the fast decoder reads the same tree.
            Ref<ns::String> again = streamWrite(stream.get(), opt & 1, opt & 2);
            ASSERT_TRUE(again);
            Ref<ns::Object> fast = fastRead(again.get());
            ASSERT_TRUE(fast);
            ASSERT_TRUE(equivalent(tree.get(), fast.get())) << "document " << i << " options " << opt;
        }
    }
}

TEST(StreamRoundTrip, BothDecodersAgreeOnTheSameText) {
    const char* texts[] = {
        "{\"a\":[1,-1,0,-0,1.5,-2.5e-3,1E2,9223372036854775807,-9223372036854775808,18446744073709551615],"
        "\"s\":\"\\u00e9\\ud83d\\ude00\\n\\t\\\"\\\\\\/\\u0001\",\"t\":true,\"f\":false,\"n\":null,\"e\":{},\"l\":[]}",
        " [ { \"k\" : [ [ ] , { } ] } , \"\xC3\xA9\xF0\x9F\x98\x80\" ] ",
    };
    for (const char* t : texts) {
        auto text = ns::str(t);
        auto stream = streamRead(text.get());
        auto fast = fastRead(text.get());
        ASSERT_TRUE(stream && fast);
        EXPECT_TRUE(equivalent(stream.get(), fast.get())) << t;
    }
}

TEST(StreamRoundTrip, BothDecodersPlaceValuesInBlocksFromTheSameSizeOn) {
    // A document of 128 KiB or more places its strings in blocks, each one
    // whose object and text fit the block's largest value; one byte less of
    // document, or of text, and they are plain strings.
    const size_t longest = json::FJValuePool::kLargestValue - sizeof(json::FJPooledString) - 1;
    for (size_t size : {json::FJValuePool::kPooledDocumentsFrom - 1, json::FJValuePool::kPooledDocumentsFrom}) {
        std::string doc = "[\"short\",\"" + std::string(longest, 'a') + "\",\"" + std::string(longest + 1, 'b') + "\"]";
        doc.resize(size, ' ');
        const bool large = size >= json::FJValuePool::kPooledDocumentsFrom;
        auto stream = streamRead(ns::String::make(doc).get());
        auto fast = fastRead(ns::String::make(doc).get());
        for (const Ref<ns::Object>& tree : {stream, fast}) {
            auto* a = ns::as<ns::Array>(tree.get());
            ASSERT_TRUE(a && a->count() == 3) << size;
            auto pooled = [&](size_t i) { return dynamic_cast<json::FJPooledString*>(a->objectAtIndex(i)) != nullptr; };
            EXPECT_EQ(pooled(0), large) << size;
            EXPECT_EQ(pooled(1), large) << size;
            EXPECT_FALSE(pooled(2)) << size;
            auto* fits = a->objectAtIndexAs<ns::String>(1);
            auto* over = a->objectAtIndexAs<ns::String>(2);
            ASSERT_TRUE(fits && over);
            EXPECT_EQ(fits->utf8(), std::string(longest, 'a'));
            EXPECT_EQ(over->utf8(), std::string(longest + 1, 'b'));
        }
    }
}

}  // namespace
