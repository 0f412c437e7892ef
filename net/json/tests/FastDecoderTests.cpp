#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "net/json/FJArray.h"
#include "net/json/FJCategories.h"
#include "net/json/FJDictionary.h"
#include "net/json/JSONDecoder.h"
#include "platform/foundation/Foundation.h"
#include "testsupport/Checked.h"

using namespace json;
using ns::Ref;
using testsupport::must;

namespace {

struct Parsed {
    Ref<ns::Object> value;
    Ref<ns::Error> error;
    std::string message() const { return error ? error->localizedDescription() : std::string(); }
    unsigned long long at() const {
        return error ? must<ns::Number>(error->userInfo()->numberForKey(FJAtIndexKey))->unsignedLongLongValue() : ~0ull;
    }
    unsigned long long line() const {
        return error ? must<ns::Number>(error->userInfo()->numberForKey(FJLineNumberKey))->unsignedLongLongValue() : ~0ull;
    }
};

Parsed decode(std::string_view text, uint64_t options = 0, bool mutableCollections = false) {
    JSONDecoder decoder(options);
    Parsed p;
    p.value = mutableCollections ? decoder.mutableObjectWithUTF8StringLengthError(text.data(), text.size(), &p.error)
                                 : decoder.objectWithUTF8StringLengthError(text.data(), text.size(), &p.error);
    EXPECT_EQ(!p.value, !!p.error) << text;
    if (p.error) {
        EXPECT_EQ(p.error->domain(), "FJErrorDomain");
        EXPECT_EQ(p.error->code(), -1);
    }
    return p;
}

ns::Object* first(const Parsed& p) { return must<ns::Array>(p.value.get())->objectAtIndex(0); }

std::string text(ns::Object* o) { return std::string(must<ns::String>(o)->utf8()); }

const char* kUnexpectedToken =
    "Unexpected token, wanted '{', '}', '[', ']', ',', ':', 'true', 'false', 'null', '\"STRING\"', 'NUMBER'.";

}  // namespace

TEST(FastDecoder, BuildsCollectionsStringsNumbersAndSharedSingletons) {
    auto p = decode(R"({"a":[1,-2,2.5,true,false,null,"x",""],"b":{}})");
    ASSERT_TRUE(p.value) << p.message();
    auto* d = dynamic_cast<FJDictionary*>(p.value.get());
    ASSERT_NE(d, nullptr);
    EXPECT_FALSE(d->isMutable());
    auto* a = dynamic_cast<FJArray*>(d->objectForKey("a"));
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->count(), 8u);
    auto* one = must<ns::Number>(a->objectAtIndex(0));
    EXPECT_EQ(one->objCType(), 'q');
    EXPECT_EQ(one->longLongValue(), 1);
    EXPECT_EQ(must<ns::Number>(a->objectAtIndex(1))->longLongValue(), -2);
    EXPECT_EQ(must<ns::Number>(a->objectAtIndex(2))->objCType(), 'd');
    EXPECT_EQ(a->objectAtIndex(3), ns::Number::numberWithBool(true).get());
    EXPECT_EQ(a->objectAtIndex(4), ns::Number::numberWithBool(false).get());
    EXPECT_EQ(a->objectAtIndex(5), ns::Null::shared());
    EXPECT_EQ(text(a->objectAtIndex(6)), "x");
    EXPECT_EQ(a->objectAtIndex(7), ns::String::empty().get());
    auto* b = dynamic_cast<FJDictionary*>(d->objectForKey("b"));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->count(), 0u);
    EXPECT_EQ(b->capacity(), 0u);
    EXPECT_EQ(b->objectForKey("x"), nullptr);
}

TEST(FastDecoder, TopLevelAndEndOfInputMessages) {
    EXPECT_EQ(decode("").message(), "Reached the end of the buffer.");
    EXPECT_EQ(decode("").at(), 0u);
    EXPECT_EQ(decode("   ").message(), kUnexpectedToken);
    EXPECT_EQ(decode("\"a\" ").message(), "Expected either '[' or '{'.");
    EXPECT_EQ(decode("12 ").message(), "Expected either '[' or '{'.");
    EXPECT_EQ(decode("true").message(), "Expected either '[' or '{'.");
    auto lone = decode("[");
    EXPECT_EQ(lone.message(), "Reached the end of the buffer.");
    EXPECT_EQ(lone.at(), 1u);
    EXPECT_EQ(decode("{\"a\":true").message(), "Reached the end of the buffer.");
    // The text ends where the caller says, also inside a run of blanks that
    // goes on in memory after it (runs of every length around the eight and
    // sixteen bytes read at once) before a value that would complete it or
    // a byte that would spoil it: the outcome is that of the text alone.
    for (size_t blanks = 0; blanks <= 40; ++blanks) {
        for (const std::string& text : {"[1,\n" + std::string(blanks, ' '), "[1]\n" + std::string(blanks, ' ')}) {
            const std::string memory = text + std::string(20, ' ') + (text[2] == ',' ? "2]" : "x");
            const Parsed alone = decode(text);
            const Parsed cut = decode(std::string_view(memory.data(), text.size()));
            EXPECT_EQ(!cut.value, !alone.value) << blanks << " blanks after " << text.substr(0, 3);
            EXPECT_EQ(cut.message(), alone.message()) << blanks << " blanks after " << text.substr(0, 3);
            EXPECT_EQ(cut.at(), alone.at()) << blanks << " blanks after " << text.substr(0, 3);
        }
    }
    EXPECT_TRUE(decode("[1]\n        ").value);
    EXPECT_EQ(decode("[1,\n        ").at(), 12u);
}

TEST(FastDecoder, GrammarMessages) {
    EXPECT_EQ(decode("[1,]").message(), "Unexpected ']'.");
    EXPECT_EQ(decode("{\"a\":1,}").message(), "Unexpected '}'.");
    EXPECT_EQ(decode("[1 2]").message(), "Unexpected value.");
    EXPECT_EQ(decode("[01]").message(), "Unexpected value.");
    EXPECT_EQ(decode("[,1]").message(), "Unexpected ','.");
    EXPECT_EQ(decode("[1,,2]").message(), "Unexpected ','.");
    EXPECT_EQ(decode("{1:2}").message(), "Expected a \"STRING\" or a '}', not '1'");
    EXPECT_EQ(decode("{true:2}").message(), "Expected a \"STRING\" or a '}', not 'true'");
    EXPECT_EQ(decode("{false}").message(), "Expected a \"STRING\" or a '}', not 'false'");
    EXPECT_EQ(decode("[null:2]").message(), "Expected a comma or a ']', not ':'");
    EXPECT_EQ(decode("{\"a\":1 null}").message(), "Expected a comma or a '}', not 'null'");
    EXPECT_EQ(decode("[1:2]").message(), "Expected a comma or a ']', not ':'");
    EXPECT_EQ(decode("[}").message(), "Expected a value or a ']', not '}'");
    EXPECT_EQ(decode("{\"a\" 1}").message(), "Expected ':'.");
    EXPECT_EQ(decode("{\"a\":}").message(), "Expected a value or a '}', not '}'");
    EXPECT_EQ(decode("{\"a\":1,\"b\":]}").message(), "Expected a value, not ']'");
    EXPECT_EQ(decode("{\"a\":1 \"b\":2}").message(), "Unexpected string.");
    EXPECT_EQ(decode("{\"a\":1 2}").message(), "Expected a comma or a '}', not '2'");
    EXPECT_EQ(decode("{,}").message(), "Unexpected ','.");
    EXPECT_EQ(decode("[truex]").message(), kUnexpectedToken);
    EXPECT_EQ(decode("[nul]").message(), kUnexpectedToken);
    EXPECT_EQ(decode("[@]").message(), kUnexpectedToken);
}

TEST(FastDecoder, ErrorIndexAndLineFollowTheScan) {
    // Grammar errors stand after the offending token.
    auto p = decode("[1,\n 2\n ,]");
    EXPECT_EQ(p.message(), "Unexpected ']'.");
    EXPECT_EQ(p.at(), 10u);
    EXPECT_EQ(p.line(), 3u);
    // String errors stand at the opening quotation mark.
    auto s = decode("[\r\n\"ab\tc\"]");
    EXPECT_EQ(s.message(), "Invalid character < 0x20 found in string: 0x09.");
    EXPECT_EQ(s.at(), 3u);
    EXPECT_EQ(s.line(), 2u);
    // Number errors stand after the scanned bytes.
    auto n = decode("[1.x]");
    EXPECT_EQ(n.message(), "Invalid number.");
    EXPECT_EQ(n.at(), 3u);
    // Trailing text: at the first stray byte.
    auto t = decode("[1] x");
    EXPECT_EQ(t.message(),
              "A valid JSON object was parsed but there were additional non-white-space characters remaining.");
    EXPECT_EQ(t.at(), 4u);
    // The index counts bytes, not the characters before it.
    auto wide = decode("[\"\xC3\xA9\xF0\x9F\x98\x80\",]");
    EXPECT_EQ(wide.message(), "Unexpected ']'.");
    EXPECT_EQ(wide.at(), 11u);
    // A lone CR is a line break as well.
    EXPECT_EQ(decode("[\r\r1,]").line(), 3u);
}

TEST(FastDecoder, TrailingTextAndComments) {
    EXPECT_TRUE(decode("[1]   \n\t").value);
    EXPECT_TRUE(decode("[1] x", FJParseFlagTextAfterValue).value);
    EXPECT_EQ(decode("[1] // c").message(),
              "A valid JSON object was parsed but there were additional non-white-space characters remaining.");
    EXPECT_TRUE(decode("[1] // c", FJParseFlagComments).value);
    auto c = decode("/* a\n b */ [1, // one\n 2 /**/] /* open", FJParseFlagComments);
    ASSERT_TRUE(c.value) << c.message();
    EXPECT_EQ(must<ns::Array>(c.value.get())->count(), 2u);
    auto line = decode("/* a\n b\r\n */ [1,]", FJParseFlagComments);
    EXPECT_EQ(line.line(), 3u);
    EXPECT_EQ(decode("[1 /x]", FJParseFlagComments).message(), kUnexpectedToken);
    EXPECT_EQ(decode("[/**/1]").message(), kUnexpectedToken);
    // "/*/" does not close a block comment.
    EXPECT_EQ(decode("[1 /*/ 2]", FJParseFlagComments).message(), kUnexpectedToken);
    // A comment that runs into the end of the input stops there: the error
    // stands at the last byte, not past it.
    for (const char* open : {"[1 // c", "[1 /* c", "[1 /* c *"}) {
        auto end = decode(open, FJParseFlagComments);
        EXPECT_EQ(end.message(), kUnexpectedToken) << open;
        EXPECT_EQ(end.at(), std::strlen(open)) << open;
    }
}

TEST(FastDecoder, UnicodeLineBreaksOnlyWithTheirOption) {
    std::string doc = "[1,\xE2\x80\xA8 2,]";
    EXPECT_EQ(decode(doc).message(), kUnexpectedToken);
    auto p = decode(doc, FJParseFlagUnicodeLineBreaks);
    EXPECT_EQ(p.message(), "Unexpected ']'.");
    EXPECT_EQ(p.line(), 2u);
    EXPECT_TRUE(decode("[1,\xC2\x85\xE2\x80\xA9 2]", FJParseFlagUnicodeLineBreaks).value);
    // Form feed and vertical tab are not whitespace.
    EXPECT_EQ(decode("[1,\f2]").message(), kUnexpectedToken);
}

TEST(FastDecoder, NumberKindsAndLimits) {
    auto max = decode("[18446744073709551615]");
    ASSERT_TRUE(max.value);
    auto* u = must<ns::Number>(first(max));
    EXPECT_EQ(u->objCType(), 'Q');
    EXPECT_EQ(u->unsignedLongLongValue(), 18446744073709551615ull);
    auto big = decode("[9223372036854775808]");
    EXPECT_EQ(must<ns::Number>(first(big))->objCType(), 'Q');
    auto signedMax = decode("[9223372036854775807]");
    EXPECT_EQ(must<ns::Number>(first(signedMax))->objCType(), 'q');
    auto min = decode("[-9223372036854775808]");
    EXPECT_EQ(must<ns::Number>(first(min))->longLongValue(), INT64_MIN);

    EXPECT_EQ(decode("[18446744073709551616]").message(),
              "The value '18446744073709551616' exceeded the maximum value that could be represented: "
              "18446744073709551615.");
    EXPECT_EQ(decode("[-9223372036854775809]").message(),
              "The value '-9223372036854775809' exceeded the minimum value that could be represented: "
              "-9223372036854775808.");
    EXPECT_EQ(decode("[1e400]").message(), "The value '1e400' could not be represented as a 'double' due to overflow.");
    EXPECT_EQ(decode("[-1e400]").message(),
              "The value '-1e400' could not be represented as a 'double' due to overflow.");
    EXPECT_EQ(decode("[1e-400]").message(),
              "The value '1e-400' could not be represented as a 'double' due to underflow.");
    // Subnormal values are representable and accepted.
    auto tiny = decode("[5e-324]");
    ASSERT_TRUE(tiny.value) << tiny.message();
    EXPECT_GT(must<ns::Number>(first(tiny))->doubleValue(), 0.0);
    // The largest and the smallest double, and the texts just inside and
    // just outside them (the edges are halfway points: past the largest
    // rounds to infinity, below half the smallest to zero).
    const std::string overflow = "' could not be represented as a 'double' due to overflow.";
    const std::string underflow = "' could not be represented as a 'double' due to underflow.";
    struct Edge {
        std::string text;
        double value;
        std::string error;
    };
    for (const Edge& edge : std::initializer_list<Edge>{
             {"1.7976931348623157e308", DBL_MAX, ""},
             {"1.7976931348623158e308", DBL_MAX, ""},
             {"-1.7976931348623158e308", -DBL_MAX, ""},
             {"1.7976931348623159e308", 0, "The value '1.7976931348623159e308" + overflow},
             {"-1.7976931348623159e308", 0, "The value '-1.7976931348623159e308" + overflow},
             {"4.9406564584124654e-324", 5e-324, ""},
             {"2.4703282292062328e-324", 5e-324, ""},
             {"-2.4703282292062328e-324", -5e-324, ""},
             {"2.4703282292062327e-324", 0, "The value '2.4703282292062327e-324" + underflow},
             {"2.2250738585072014e-308", DBL_MIN, ""},
             {"0e-400", 0, ""},
         }) {
        auto r = decode("[" + edge.text + "]");
        if (!edge.error.empty()) {
            EXPECT_EQ(r.message(), edge.error) << edge.text;
            continue;
        }
        ASSERT_TRUE(r.value) << edge.text << ": " << r.message();
        EXPECT_EQ(must<ns::Number>(first(r))->doubleValue(), edge.value) << edge.text;
    }

    auto negZero = decode("[-0]");
    auto* z = must<ns::Number>(first(negZero));
    EXPECT_EQ(z->objCType(), 'd');
    EXPECT_TRUE(std::signbit(z->doubleValue()));
    EXPECT_EQ(must<ns::Number>(first(decode("[0]")))->objCType(), 'q');

    for (const char* bad : {"[-]", "[1.]", "[1e]", "[1e+]", "[-a]", "[.5]"}) {
        auto r = decode(bad);
        EXPECT_FALSE(r.value) << bad;
        if (std::string(bad) != "[.5]") {
            EXPECT_EQ(r.message(), "Invalid number.") << bad;
        }
    }
    // A number running into the end of the input has not ended.
    EXPECT_EQ(decode("[1").message(), "Invalid number.");
    auto e = decode("[1E+2, 0.5e-1, 12.25]");
    ASSERT_TRUE(e.value);
    EXPECT_DOUBLE_EQ(must<ns::Number>(first(e))->doubleValue(), 100.0);
    // A long decimal is converted exactly as a short one.
    std::string longDecimal = "[0." + std::string(300, '0') + "1e300]";
    auto l = decode(longDecimal);
    ASSERT_TRUE(l.value) << l.message();
    EXPECT_DOUBLE_EQ(must<ns::Number>(first(l))->doubleValue(), 1e-1);
    // Every double is the correctly rounded value of its text, whichever way
    // it is converted (short mantissas exactly, long ones by the library).
    const std::vector<std::string> texts = {
        "0.000123", "123.456e-2", "1E22", "1e23", "9007199254740993.0", "0.1e1", "-2.5E-3", "4.9406564584124654e-324",
        "12345678901234567890e-5", "0.30000000000000004", "-179.99999999999997", "1234567890123456789.5",
        "0.0000000000000000000000001", "100000000000000000000000e-22", "0.000000001234567890123", "12345678.87654321",
        "1234567890123456789", "9007199254740993e0", "-123.45678901234567", "1.7976931348623157e308"};
    std::vector<std::string> all = texts;
    // Texts of random doubles at 15 to 17 digits, and random mantissas of 16
    // to 19 digits scaled by up to 10^+-27 (many of them close to halfway
    // between two doubles).
    std::mt19937_64 rng(7);
    char buf[64];
    for (int i = 0; i < 3000; ++i) {
        uint64_t bits = (rng() & 0x000FFFFFFFFFFFFFull) | (uint64_t(1023 - 30 + rng() % 60) << 52);
        double v;
        std::memcpy(&v, &bits, sizeof v);
        std::snprintf(buf, sizeof buf, "%.*g", 15 + i % 3, i % 2 ? -v : v);
        all.push_back(buf);
        uint64_t mantissa = rng() % 9000000000000000000ull + (i % 4 == 0 ? 1000000000000000ull : 0);
        std::snprintf(buf, sizeof buf, "%llue%d", static_cast<unsigned long long>(mantissa), int(rng() % 55) - 27);
        all.push_back(buf);
    }
    // Decimals of 1 to 20 significant digits, so that a run of digits ends
    // at every place of an eight-byte word, followed by each kind of byte
    // that can end a number.
    for (int digits = 1; digits <= 20; ++digits) {
        std::string run;
        for (int i = 0; i < digits; ++i) run += char('1' + rng() % 9);
        for (size_t point = 1; point <= run.size(); point += 3) {
            all.push_back(run.substr(0, point) + "." + run.substr(point) + "1");
            all.push_back("0.00" + run + "e+3");
            all.push_back("-" + run.substr(0, point) + "." + run.substr(point) + "0E-2");
        }
    }
    std::string list = "[";
    for (size_t i = 0; i < all.size(); ++i) list += (i == 0 ? "" : i % 3 ? "," : " ,\n") + all[i];
    auto d = decode(list + "]");
    ASSERT_TRUE(d.value) << d.message();
    auto* values = must<ns::Array>(d.value.get());
    ASSERT_EQ(values->count(), all.size());
    for (size_t i = 0; i < all.size(); ++i)
        EXPECT_EQ(must<ns::Number>(values->objectAtIndex(i))->doubleValue(), std::strtod(all[i].c_str(), nullptr))
            << all[i];

    // Integers of every length up to the largest, alone before the end of
    // the input and inside longer text, before ']', ',', a blank and '}'.
    std::string run = "9";
    for (int digits = 1; digits <= 20; ++digits, run += char('0' + rng() % 10)) {
        for (const char* sign : {"", "-"}) {
            const std::string number = std::string(sign) + run;
            const bool negative = *sign != 0;
            errno = 0;
            const long long asSigned = std::strtoll(number.c_str(), nullptr, 10);
            const bool fitsSigned = errno == 0;
            errno = 0;
            const unsigned long long asUnsigned = std::strtoull(run.c_str(), nullptr, 10);
            const bool fits = negative ? fitsSigned : errno == 0;
            for (const std::string& doc : {"[" + number + "]", "[" + number + ",0]", "[" + number + " ]",
                                           "{\"key of some length\":" + number + "}"}) {
                auto r = decode(doc);
                if (!fits) {
                    EXPECT_FALSE(r.value) << doc;
                    continue;
                }
                ASSERT_TRUE(r.value) << doc << ": " << r.message();
                auto* n = doc[0] == '['
                              ? must<ns::Number>(first(r))
                              : must<ns::Number>(must<ns::Dictionary>(r.value.get())->objectForKey(
                                    "key of some length"));
                if (negative) {
                    EXPECT_EQ(n->objCType(), 'q') << doc;
                    EXPECT_EQ(n->longLongValue(), asSigned) << doc;
                } else {
                    EXPECT_EQ(n->objCType(), asUnsigned > uint64_t(INT64_MAX) ? 'Q' : 'q') << doc;
                    EXPECT_EQ(n->unsignedLongLongValue(), asUnsigned) << doc;
                }
            }
        }
    }
}

TEST(FastDecoder, StringEscapesAndSurrogates) {
    auto p = decode(R"(["a\"\\\/\b\f\n\r\t", "\u00e9\u20AC", "\uD83D\uDE00"])");
    ASSERT_TRUE(p.value) << p.message();
    auto* a = must<ns::Array>(p.value.get());
    EXPECT_EQ(text(a->objectAtIndex(0)), "a\"\\/\b\f\n\r\t");
    EXPECT_EQ(text(a->objectAtIndex(1)), "\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(text(a->objectAtIndex(2)), "\xF0\x9F\x98\x80");

    const char* second =
        "Required a second \\u Unicode escape sequence following a surrogate \\u Unicode escape sequence.";
    EXPECT_EQ(decode(R"(["\uD83D"])").message(), second);
    EXPECT_EQ(decode(R"(["\uD83Dx"])").message(), second);
    auto loose = decode(R"(["\uD83D", "\uD83D\n"])", FJParseFlagLooseUnicode);
    ASSERT_TRUE(loose.value) << loose.message();
    EXPECT_EQ(text(first(loose)), "\xEF\xBF\xBD");
    EXPECT_EQ(text(must<ns::Array>(loose.value.get())->objectAtIndex(1)), "\xEF\xBF\xBD\n");

    EXPECT_EQ(decode(R"(["\uDE00"])").message(), "Illegal \\u Unicode escape sequence.");
    EXPECT_EQ(decode(R"(["\uD83D\u0041"])").message(), "Illegal \\u Unicode escape sequence.");
    EXPECT_EQ(decode(R"(["\u0000"])").message(), "Illegal \\u Unicode escape sequence.");
    EXPECT_EQ(decode(R"(["\uFFFE"])").message(), "Illegal \\u Unicode escape sequence.");
    // Escaped code points at each edge of what is allowed: the surrogates,
    // the non-characters U+FDD0 to U+FDEF and the last two of every plane.
    struct Escape {
        const char* escape;
        const char* utf8;  // nullptr: refused, and U+FFFD with the loose option
    } escapes[] = {
        {R"(\u0001)", "\x01"},
        {R"(\uD7FF)", "\xED\x9F\xBF"},
        {R"(\uE000)", "\xEE\x80\x80"},
        {R"(\uFDCF)", "\xEF\xB7\x8F"},
        {R"(\uFDD0)", nullptr},
        {R"(\uFDEF)", nullptr},
        {R"(\uFDF0)", "\xEF\xB7\xB0"},
        {R"(\uFFFD)", "\xEF\xBF\xBD"},
        {R"(\uFFFF)", nullptr},
        {R"(\uD800\uDC00)", "\xF0\x90\x80\x80"},
        {R"(\uD83F\uDFFD)", "\xF0\x9F\xBF\xBD"},
        {R"(\uD83F\uDFFE)", nullptr},
        {R"(\uDBFF\uDFFD)", "\xF4\x8F\xBF\xBD"},
        {R"(\uDBFF\uDFFF)", nullptr},
    };
    for (const Escape& e : escapes) {
        const std::string doc = std::string("[\"") + e.escape + "\"]";
        auto strict = decode(doc), loose = decode(doc, FJParseFlagLooseUnicode);
        ASSERT_TRUE(loose.value) << doc << ": " << loose.message();
        EXPECT_EQ(text(first(loose)), e.utf8 ? e.utf8 : "\xEF\xBF\xBD") << doc;
        if (!e.utf8) {
            EXPECT_EQ(strict.message(), "Illegal \\u Unicode escape sequence.") << doc;
            continue;
        }
        ASSERT_TRUE(strict.value) << doc << ": " << strict.message();
        EXPECT_EQ(text(first(strict)), e.utf8) << doc;
    }
    // Every surrogate pair: one code point from U+10000 to U+10FFFF. The 32
    // whose code point ends in FFFE or FFFF (U+10FFFF among them) are
    // non-characters, refused as above; every other pair is read, in a
    // document of one text for each high half.
    std::string doc = "[";
    std::vector<std::string> expected;
    std::vector<std::string> nonCharacters;
    for (unsigned high = 0xD800; high <= 0xDBFF; ++high) {
        doc += high == 0xD800 ? "\"" : ",\"";
        std::string want;
        for (unsigned low = 0xDC00; low <= 0xDFFF; ++low) {
            char escapes[16];
            std::snprintf(escapes, sizeof escapes, low % 2 ? "\\u%04X\\u%04x" : "\\u%04x\\u%04X", high, low);
            const unsigned cp = 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
            if ((cp & 0xFFFE) == 0xFFFE) {
                nonCharacters.push_back(std::string("[\"") + escapes + "\"]");
                continue;
            }
            doc += escapes;
            want += static_cast<char>(0xF0 | (cp >> 18));
            want += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            want += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            want += static_cast<char>(0x80 | (cp & 0x3F));
        }
        doc += "\"";
        expected.push_back(std::move(want));
    }
    doc += "]";
    auto all = decode(doc);
    ASSERT_TRUE(all.value) << all.message();
    auto* texts = must<ns::Array>(all.value.get());
    ASSERT_EQ(texts->count(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(text(texts->objectAtIndex(i)), expected[i]) << "high half " << std::hex << 0xD800 + i;
    ASSERT_EQ(nonCharacters.size(), 32u);
    for (const std::string& refused : nonCharacters) {
        EXPECT_EQ(decode(refused).message(), "Illegal \\u Unicode escape sequence.") << refused;
        auto loose = decode(refused, FJParseFlagLooseUnicode);
        ASSERT_TRUE(loose.value) << refused;
        EXPECT_EQ(text(first(loose)), "\xEF\xBF\xBD") << refused;
    }

    auto zero = decode(R"(["\u0000\uD83D\u0041"])", FJParseFlagLooseUnicode);
    ASSERT_TRUE(zero.value);
    EXPECT_EQ(text(first(zero)), "\xEF\xBF\xBD\xEF\xBF\xBD");

    EXPECT_EQ(decode(R"(["\x"])").message(), "Invalid escape sequence found in \"\" string.");
    EXPECT_EQ(decode(R"(["\u12G4"])").message(),
              "Unexpected character found in \\u Unicode escape sequence.  Found 'G', expected [0-9a-fA-F].");
    EXPECT_EQ(decode("[\"abc").message(), "Invalid string.");
    EXPECT_EQ(decode("[\"ab\\").message(), "Invalid string.");
    EXPECT_EQ(decode("[\"\\u12").message(), "Invalid string.");
    EXPECT_EQ(decode("[\"\\uD83D\\").message(), "Invalid string.");
}

TEST(FastDecoder, StrictUTF8AndLooseRepair) {
    EXPECT_EQ(decode("[\"\xC3\x28\"]").message(), "Illegal UTF8 sequence found in \"\" string.");
    auto loose = decode("[\"\xC3\x28\"]", FJParseFlagLooseUnicode);
    ASSERT_TRUE(loose.value);
    EXPECT_EQ(text(first(loose)), "\xEF\xBF\xBD(");
    EXPECT_EQ(decode("[\"ab\xE2\x82").message(), "End of buffer reached while parsing UTF8 in \"\" string.");
    // Overlong forms, encoded surrogates, non-characters and stray bytes:
    // refused, and with the loose option one U+FFFD each (what follows kept).
    for (const char* bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xEF\xBF\xBF", "\x80", "\xF5\x80\x80\x80",
                            "\xF4\x90\x80\x80", "\xEF\xB7\x90", "\xF0\x8F\xBF\xBF"}) {
        const std::string doc = std::string("[\"") + bad + "z\"]";
        EXPECT_EQ(decode(doc).message(), "Illegal UTF8 sequence found in \"\" string.") << doc;
        auto repaired = decode(doc, FJParseFlagLooseUnicode);
        ASSERT_TRUE(repaired.value) << doc;
        EXPECT_EQ(text(first(repaired)), "\xEF\xBF\xBDz") << doc;
    }
    // A sequence cut short by a byte that does not continue it, at each
    // place: refused in a plain string and in one with an escape before it.
    for (const char* cut : {"\xC3\x41", "\xE2\x41\x80", "\xE2\x82\x41", "\xF1\x41\x80\x80", "\xF1\x80\x41\x80",
                            "\xF1\x80\x80\x41"}) {
        for (const char* before : {"", "\\n"}) {
            const std::string doc = std::string("[\"") + before + cut + "\"]";
            EXPECT_EQ(decode(doc).message(), "Illegal UTF8 sequence found in \"\" string.") << doc;
        }
    }
    // Four-byte sequences at the edges of what is allowed, alone and in a
    // run of other sequences.
    EXPECT_EQ(text(first(decode("[\"\xF4\x90\x80\x80\"]", FJParseFlagLooseUnicode))), "\xEF\xBF\xBD");
    for (const char* good : {"\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBD", "\xC3\xA9\xF0\x9F\x98\x80\xE2\x82\xAC"}) {
        auto p = decode(std::string("[\"") + good + "\"]");
        ASSERT_TRUE(p.value) << good << ": " << p.message();
        EXPECT_EQ(text(first(p)), good);
    }
    for (const char* bad : {"[\"\xF0\x9F\xBF\xBE\"]", "[\"\xF3\xBF\xBF\xBF\"]", "[\"\xC3\xA9\xF0\x8F\xBF\xBF\"]"})
        EXPECT_EQ(decode(bad).message(), "Illegal UTF8 sequence found in \"\" string.") << bad;
    auto ok = decode("[\"\xF0\x9F\x98\x80\xE2\x82\xAC\xC3\xA9 plain\"]");
    ASSERT_TRUE(ok.value);
    EXPECT_EQ(text(first(ok)), "\xF0\x9F\x98\x80\xE2\x82\xAC\xC3\xA9 plain");
    // A repaired string keeps the text after the repair.
    auto tail = decode("[\"a\xFFz\\n\"]", FJParseFlagLooseUnicode);
    EXPECT_EQ(text(first(tail)), "a\xEF\xBF\xBDz\n");
}

TEST(FastDecoder, LongStringsMoveTheScratchBufferToTheHeap) {
    std::string body;
    for (int i = 0; i < 5000; ++i) body += "ab\\n\\u00e9";
    auto p = decode("[\"" + body + "\"]");
    ASSERT_TRUE(p.value) << p.message();
    std::string expect;
    for (int i = 0; i < 5000; ++i) expect += "ab\n\xC3\xA9";
    EXPECT_EQ(text(first(p)), expect);
}

TEST(FastDecoder, CacheSharesRepeatedValuesUntilCleared) {
    JSONDecoder decoder;
    std::string doc = R"([{"name":"same","n":12345},{"name":"same","n":12345}])";
    auto a = decoder.objectWithUTF8StringLengthError(doc.data(), doc.size());
    auto* arr = must<ns::Array>(a.get());
    auto* d0 = must<ns::Dictionary>(arr->objectAtIndex(0));
    auto* d1 = must<ns::Dictionary>(arr->objectAtIndex(1));
    EXPECT_EQ(d0->objectForKey("name"), d1->objectForKey("name"));
    EXPECT_EQ(d0->objectForKey("n"), d1->objectForKey("n"));
    EXPECT_EQ(d0->keyAtIndex(0) == d1->keyAtIndex(0) || d0->keyAtIndex(0) == d1->keyAtIndex(1), true);
    // A repeated string of every length up to 20 bytes is one object, and
    // one that differs in its last byte is another.
    for (size_t n = 1; n <= 20; ++n) {
        std::string same(n, 'v'), other = same;
        other.back() = 'w';
        const std::string row = "[\"" + same + "\",\"" + same + "\",\"" + other + "\"]";
        auto r = decoder.objectWithUTF8StringLengthError(row.data(), row.size());
        auto* ra = must<ns::Array>(r.get());
        EXPECT_EQ(ra->objectAtIndex(0), ra->objectAtIndex(1)) << n << " bytes";
        EXPECT_EQ(text(ra->objectAtIndex(2)), other) << n << " bytes";
    }
    // A later parse of the same decoder shares them too.
    auto b = decoder.objectWithUTF8StringLengthError(doc.data(), doc.size());
    auto* e0 = must<ns::Dictionary>(must<ns::Array>(b.get())->objectAtIndex(0));
    EXPECT_EQ(e0->objectForKey("name"), d0->objectForKey("name"));
    decoder.clearCache();
    auto c = decoder.objectWithUTF8StringLengthError(doc.data(), doc.size());
    auto* f0 = must<ns::Dictionary>(must<ns::Array>(c.get())->objectAtIndex(0));
    EXPECT_NE(f0->objectForKey("name"), d0->objectForKey("name"));
    EXPECT_TRUE(must<ns::String>(f0->objectForKey("name"))->isEqual(*must<ns::String>(d0->objectForKey("name"))));
    // Values handed out by an earlier parse are shared with other threads:
    // while one thread takes and drops references to them, later parses hit
    // them in the cache. Counts that missed an update would show below (and
    // in the sanitizer builds as a use after free).
    // The same holds for a key, which the second object of each parse takes
    // from the first one's place without a cache lookup.
    auto* shared = f0->objectForKey("name");
    ASSERT_TRUE(shared);
    ns::Object* sharedKey = nullptr;
    for (size_t i = 0; i < f0->count(); ++i)
        if (text(f0->keyAtIndex(i)) == "name") sharedKey = f0->keyAtIndex(i);
    ASSERT_NE(sharedKey, nullptr);
    const uint32_t before = shared->retainCount(), keyBefore = sharedKey->retainCount();
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop.load()) {
            Ref<ns::Object> held(shared), key(sharedKey);
            Ref<ns::Object> again(held), keyAgain(key);
        }
    });
    // The reader is stopped and joined however this part ends (a check that
    // throws included), so a failure reports instead of leaving it running.
    struct StopAndJoin {
        std::atomic<bool>& stop;
        std::thread& thread;
        ~StopAndJoin() {
            stop = true;
            if (thread.joinable()) thread.join();
        }
    } stopAndJoin{stop, reader};
    for (int i = 0; i < 5000; ++i) {
        auto t = decoder.objectWithUTF8StringLengthError(doc.data(), doc.size());
        auto* ta = must<ns::Array>(t.get());
        auto* t1 = must<ns::Dictionary>(ta->objectAtIndex(1));
        bool keyShared = false;
        for (size_t k = 0; k < t1->count(); ++k) keyShared |= t1->keyAtIndex(k) == sharedKey;
        if (must<ns::Dictionary>(ta->objectAtIndex(0))->objectForKey("name") != shared || !keyShared) {
            ADD_FAILURE() << "a later parse did not share the cached value and key";
            break;
        }
    }
    stop = true;
    reader.join();
    EXPECT_EQ(shared->retainCount(), before);
    EXPECT_EQ(sharedKey->retainCount(), keyBefore);
    // A repeated key's displaced value that the cache still knows is used
    // again in the same document and by the next parse.
    std::string repeated = R"([{"k":"gone","k":"kept"},"gone",{"gone":1}])";
    for (int round = 0; round < 2; ++round) {
        auto r = decoder.objectWithUTF8StringLengthError(repeated.data(), repeated.size());
        ASSERT_TRUE(r);
        auto* ra = must<ns::Array>(r.get());
        EXPECT_EQ(text(must<ns::Dictionary>(ra->objectAtIndex(0))->objectForKey("k")), "kept");
        EXPECT_EQ(text(ra->objectAtIndex(1)), "gone");
        EXPECT_EQ(ra->objectAtIndex(1), must<ns::Dictionary>(ra->objectAtIndex(2))->keyAtIndex(0));
    }
    // Equal text as a number and as a string, or as signed and double, never mix.
    std::string mixed = R"(["1", 1, 1.0, -1, "-1"])";
    auto m = decoder.objectWithUTF8StringLengthError(mixed.data(), mixed.size());
    auto* ma = must<ns::Array>(m.get());
    EXPECT_NE(dynamic_cast<ns::String*>(ma->objectAtIndex(0)), nullptr);
    EXPECT_EQ(must<ns::Number>(ma->objectAtIndex(1))->objCType(), 'q');
    EXPECT_EQ(must<ns::Number>(ma->objectAtIndex(2))->objCType(), 'd');

    // Parses are numbered in 16 bits: a value cached long ago by a parse
    // with the number the running one has after the count wraps is still
    // a value of an earlier parse (it takes exactly one reference per hit).
    JSONDecoder wrapping;
    std::string once = R"(["wraps"])";
    auto held = wrapping.objectWithUTF8StringLengthError(once.data(), once.size());
    ns::Object* cached = first(Parsed{held, nullptr});
    const uint32_t count = cached->retainCount();
    for (int i = 0; i < 65535; ++i) ASSERT_TRUE(wrapping.objectWithUTF8StringLengthError("[]", 2));
    {
        auto again = wrapping.objectWithUTF8StringLengthError(once.data(), once.size());
        EXPECT_EQ(first(Parsed{again, nullptr}), cached);
        EXPECT_EQ(cached->retainCount(), count + 1);
    }
    EXPECT_EQ(cached->retainCount(), count);
}

// A parse that fails lets go of every value it had taken, at any depth, as
// a key or a value: the count of a value held from an earlier parse (and
// shared with the failing one through the cache) is as it was.
TEST(FastDecoder, FailedParsesLetGoOfWhatTheyTook) {
    JSONDecoder decoder;
    auto kept = decoder.objectWithUTF8StringLengthError(R"(["held"])", 8);
    ASSERT_TRUE(kept);
    ns::Object* held = first(Parsed{kept, nullptr});
    const uint32_t count = held->retainCount();
    for (const char* bad : {R"(["held",)", R"(["held",[)", R"([["held"],{"held":)", R"({"held":"held",)",
                            R"([{"a":["held",["held"]],"b":x]})", R"(["held","held","held","held","held",1e400])"}) {
        Ref<ns::Error> error;
        EXPECT_FALSE(decoder.objectWithUTF8StringLengthError(bad, std::strlen(bad), &error)) << bad;
        EXPECT_TRUE(error) << bad;
        EXPECT_EQ(held->retainCount(), count) << bad;
    }
    auto again = decoder.objectWithUTF8StringLengthError(R"(["held"])", 8);
    ASSERT_TRUE(again);
    EXPECT_EQ(first(Parsed{again, nullptr}), held);
}

TEST(FastDecoder, ManyDistinctValuesOverflowTheCacheSafely) {
    JSONDecoder decoder;
    std::string doc = "[";
    for (int i = 0; i < 5000; ++i) doc += (i ? ",\"" : "\"") + std::to_string(i) + "\"," + std::to_string(i);
    doc += "]";
    for (int round = 0; round < 2; ++round) {
        auto v = decoder.objectWithUTF8StringLengthError(doc.data(), doc.size());
        auto* a = must<ns::Array>(v.get());
        ASSERT_EQ(a->count(), 10000u);
        for (int i = 0; i < 5000; ++i) {
            ASSERT_EQ(text(a->objectAtIndex(2 * i)), std::to_string(i));
            ASSERT_EQ(must<ns::Number>(a->objectAtIndex(2 * i + 1))->longLongValue(), i);
        }
    }
}

TEST(FastDecoder, RepeatedKeysKeepTheLastValue) {
    auto p = decode(R"({"k":1,"x":2,"k":3})");
    auto* d = must<ns::Dictionary>(p.value.get());
    EXPECT_EQ(d->count(), 2u);
    EXPECT_EQ(must<ns::Number>(d->objectForKey("k"))->longLongValue(), 3);
    EXPECT_EQ(text(d->keyAtIndex(0)), "k");  // in its first place
    auto big = decode(R"({"a":1,"b":2,"c":3,"d":4,"a":5,"e":6})");
    auto* b = must<ns::Dictionary>(big.value.get());
    ASSERT_EQ(b->count(), 5u);
    EXPECT_EQ(text(b->keyAtIndex(0)), "a");
    EXPECT_EQ(must<ns::Number>(b->valueAtIndex(0))->longLongValue(), 5);
    EXPECT_EQ(text(b->keyAtIndex(4)), "e");
    // A key written with escapes is the key of its text: a key object of
    // its own, equal to the plain one, and the later value wins, in tables
    // without an index and with one, immutable and changeable.
    struct Row {
        const char* doc;
        std::string keys;  // in order, with the value of each
    };
    for (const Row& row : std::initializer_list<Row>{
             {R"({"a":1,"\u0061":2})", "a=2"},
             {R"({"\u0061":1,"a":2,"b":3})", "a=2 b=3"},
             {R"({"a":1,"b":2,"c":3,"d":4,"\u0061":5,"e":6})", "a=5 b=2 c=3 d=4 e=6"},
             {"{\"\\u00e9\":1,\"\xC3\xA9\":2,\"\\u00E9\":3}", "\xC3\xA9=3"},
             {R"({"x\/y":1,"x/y":2})", "x/y=2"},
         }) {
        for (bool changeable : {false, true}) {
            auto r = decode(row.doc, 0, changeable);
            auto* d = must<ns::Dictionary>(r.value.get(), row.doc);
            std::string keys;
            for (size_t i = 0; i < d->count(); ++i)
                keys += (i ? " " : "") + text(d->keyAtIndex(i)) + "=" +
                        std::to_string(must<ns::Number>(d->valueAtIndex(i))->longLongValue());
            EXPECT_EQ(keys, row.keys) << row.doc << (changeable ? " changeable" : "");
        }
    }
}

// Objects of one shape repeat their keys in the same order, which the
// decoder compares with the input first; a key that differs there (by a
// byte, its length, its escapes or its depth) is read as written, and what
// the scanner refuses stays refused.
TEST(FastDecoder, RepeatedObjectShapesReadEachKeyAsWritten) {
    struct Case {
        std::string doc;
        std::vector<std::vector<std::string>> keys;  // of each object in the top array, in order
    };
    const Case cases[] = {
        {R"([{"ab":1,"c":2},{"abc":1,"c":2},{"a":1,"c":2},{"ab":1,"c":2},{"c":1,"ab":2}])",
         {{"ab", "c"}, {"abc", "c"}, {"a", "c"}, {"ab", "c"}, {"c", "ab"}}},
        {R"([{"a\nb":1},{"a\nb":2},{"a\u0041":3},{"aA":4},{"":5},{"":6}])",
         {{"a\nb"}, {"a\nb"}, {"aA"}, {"aA"}, {""}, {""}}},
        {"[{\"k\" : 1},{ \"k\":2 },{\"k\"\n:3},{\"k\":4}]", {{"k"}, {"k"}, {"k"}, {"k"}}},
        {R"([{"x":{"y":1}},{"y":{"x":2}},{"x":{"y":3}}])", {{"x"}, {"y"}, {"x"}}},
        {R"([{"long key, sixteen+":1},{"long key, sixteen-":2},{"long key, sixteen+":3}])",
         {{"long key, sixteen+"}, {"long key, sixteen-"}, {"long key, sixteen+"}}},
    };
    for (const Case& c : cases) {
        auto p = decode(c.doc);
        ASSERT_TRUE(p.value) << c.doc << ": " << p.message();
        auto* a = must<ns::Array>(p.value.get());
        ASSERT_EQ(a->count(), c.keys.size()) << c.doc;
        for (size_t i = 0; i < c.keys.size(); ++i) {
            auto* d = must<ns::Dictionary>(a->objectAtIndex(i));
            ASSERT_EQ(d->count(), c.keys[i].size()) << c.doc << " #" << i;
            for (const std::string& k : c.keys[i])
                EXPECT_NE(d->objectForKey(k), nullptr) << c.doc << " #" << i << " " << k;
        }
    }
    // A key read with escapes (here one that decodes to as many bytes as
    // its input) is never taken for raw input: raw tabs stay refused.
    std::string repaired = "[{\"\\t\\t\x80\":1},{\"\t\t\xEF\xBF\xBD\":2}]";
    EXPECT_EQ(decode(repaired, FJParseFlagLooseUnicode).message(), "Invalid character < 0x20 found in string: 0x09.");
    // A key that ends the input fails alike wherever it stands.
    EXPECT_EQ(decode(R"([{"abc":1},{"abc")").message(), decode(R"([{"abc")").message());
    EXPECT_EQ(decode(R"([{"abc":1},{"abc" 2}])").message(), "Expected ':'.");
    // The first key of a parse, of any length (here 0x01010101 bytes, the
    // length a guess table of stray bytes would claim), is read as written:
    // no guess exists before a key has been read.
    const std::string huge(0x01010101, 'k');
    auto big = decode("{\"" + huge + "\":1}");
    ASSERT_TRUE(big.value) << big.message();
    auto* d = must<ns::Dictionary>(big.value.get());
    ASSERT_EQ(d->count(), 1u);
    EXPECT_NE(d->objectForKey(huge), nullptr);
}

TEST(FastDecoder, LargeDocumentsGrowTheObjectStack) {
    std::string doc = "{\"list\":[";
    for (int i = 0; i < 3000; ++i) doc += (i ? "," : "") + std::to_string(i);
    doc += "],\"obj\":{";
    for (int i = 0; i < 3000; ++i) doc += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":" + std::to_string(i);
    doc += "}}";
    auto p = decode(doc);
    ASSERT_TRUE(p.value) << p.message();
    auto* d = must<ns::Dictionary>(p.value.get());
    EXPECT_EQ(must<ns::Array>(d->arrayForKey("list"))->count(), 3000u);
    auto* obj = d->dictionaryForKey("obj");
    ASSERT_TRUE(obj);
    EXPECT_EQ(obj->count(), 3000u);
    EXPECT_EQ(must<ns::Number>(obj->objectForKey("k2999"))->longLongValue(), 2999);
    // Failures deep inside a big document release everything pushed.
    EXPECT_FALSE(decode(doc.substr(0, doc.size() - 40)).value);

    // Past 128 KiB strings and numbers come from pool blocks. Trees of one
    // decoder die on other threads, in any order, while it decodes on, and
    // outlive it; a block goes with its last value (the sanitizer builds see
    // a block freed too early or never).
    std::string big = "[";
    for (int i = 0; i < 20000; ++i)
        big += (i ? ",[" : "[") + std::to_string(i) + ",\"name " + std::to_string(i) + " is long enough\"," +
               std::to_string(i) + ".5,\"dup\"]";
    // Rows of numbers alone, kept without element slots where they allow
    // (every seventh row repeats a value, which the cache then shares).
    for (int i = 0; i < 5000; ++i)
        big += ",[" + std::to_string(i) + "," + std::to_string(-i - 1) + "," + std::to_string(i) + ".25" +
               (i % 7 ? "]" : ",123456789]");
    big += "]";
    ASSERT_GE(big.size(), 128u * 1024);
    std::vector<Ref<ns::Object>> trees, kept;
    std::vector<ns::Weak<ns::Object>> linked;
    std::vector<std::thread> droppers;
    {
        JSONDecoder decoder;
        for (int round = 0; round < 4; ++round) {
            Ref<ns::Error> error;
            auto tree = decoder.objectWithUTF8StringLengthError(big.data(), big.size(), &error);
            ASSERT_TRUE(tree && !error);
            auto* rows = must<ns::Array>(tree.get());
            auto* last = must<ns::Array>(rows->objectAtIndex(19999));
            EXPECT_EQ(must<ns::Number>(last->objectAtIndex(0))->longLongValue(), 19999);
            EXPECT_EQ(text(last->objectAtIndex(1)), "name 19999 is long enough");
            EXPECT_EQ(must<ns::Number>(last->objectAtIndex(2))->doubleValue(), 19999.5);
            // Repeats within one document are still shared...
            EXPECT_EQ(last->objectAtIndex(3), must<ns::Array>(rows->objectAtIndex(19998))->objectAtIndex(3));
            // ...but pooled values never stay in the cache for a later parse.
            if (!trees.empty()) {
                auto* before = must<ns::Array>(must<ns::Array>(trees.back().get())->objectAtIndex(7));
                EXPECT_NE(before->objectAtIndex(1), must<ns::Array>(rows->objectAtIndex(7))->objectAtIndex(1));
            }
            for (size_t i = 20000; i < 25000; i += 499) {
                auto* row = must<ns::Array>(rows->objectAtIndex(i));
                const long long k = static_cast<long long>(i - 20000);
                ASSERT_EQ(row->count(), k % 7 ? 3u : 4u);
                auto* n0 = must<ns::Number>(row->objectAtIndex(0));
                auto* n2 = must<ns::Number>(row->objectAtIndex(2));
                EXPECT_EQ(n0->objCType(), 'q');
                EXPECT_EQ(n0->longLongValue(), k);
                EXPECT_EQ(must<ns::Number>(row->objectAtIndex(1))->longLongValue(), -k - 1);
                EXPECT_EQ(n2->objCType(), 'd');
                EXPECT_EQ(n2->doubleValue(), double(k) + 0.25);
                auto* fj = must<FJArray>(row);
                ns::Object* got[4];
                fj->getObjectsRange(got, {0, row->count()});
                FJFastEnumerationState state;
                ns::Object* each[4];
                ASSERT_EQ(fj->countByEnumeratingWithStateObjectsCount(&state, each, 4), row->count());
                for (size_t j = 0; j < row->count(); ++j) {
                    EXPECT_EQ(got[j], row->objectAtIndex(j));
                    EXPECT_EQ(each[j], row->objectAtIndex(j));
                }
                EXPECT_TRUE(row->isEqual(*decode("[" + std::to_string(k) + "," + std::to_string(-k - 1) + "," +
                                                 std::to_string(k) + ".25" + (k % 7 ? "]" : ",123456789]"))
                                             .value));
                EXPECT_THROW(row->objectAtIndex(row->count()), ns::Exception);
            }
            auto* repeats = must<ns::Array>(rows->objectAtIndex(20007));
            auto* earlier = must<ns::Array>(rows->objectAtIndex(20000));
            EXPECT_EQ(repeats->objectAtIndex(3), earlier->objectAtIndex(3));
            // A number kept from a row outlives the tree; those only linked
            // weakly go with it.
            auto* numbers = must<ns::Array>(rows->objectAtIndex(24000 + round));
            kept.push_back(numbers->objectAtIndex(1));
            linked.emplace_back(numbers->objectAtIndex(0));
            linked.emplace_back(numbers->objectAtIndex(2));
            if (round % 2) {
                droppers.emplace_back([t = std::move(tree)]() mutable { t = nullptr; });
            } else {
                trees.push_back(std::move(tree));
            }
            EXPECT_FALSE(decoder.objectWithUTF8StringLengthError(big.data(), big.size() - 100, nullptr));
        }
    }
    for (auto& t : droppers) t.join();
    EXPECT_EQ(must<ns::Array>(trees.front().get())->count(), 25000u);
    trees.clear();
    for (int round = 0; round < 4; ++round)
        EXPECT_EQ(must<ns::Number>(kept[round].get())->longLongValue(), -4001 - round);
    for (auto& link : linked) EXPECT_FALSE(link.lock());
    // A dropped tree gives every block back: the document parsed and let go
    // again and again leaves the heap where it was (each tree holds about
    // a megabyte of blocks).
    {
        JSONDecoder again;
        auto heapInUse = [] {
            const struct mallinfo2 m = mallinfo2();
            return m.uordblks + m.hblkhd;
        };
        ASSERT_TRUE(again.objectWithUTF8StringLengthError(big.data(), big.size(), nullptr));
        const size_t before = heapInUse();
        for (int round = 0; round < 16; ++round)
            ASSERT_TRUE(again.objectWithUTF8StringLengthError(big.data(), big.size(), nullptr));
        EXPECT_LT(heapInUse(), before + 1024 * 1024);
    }

    // Changeable rows of numbers take changes.
    Ref<ns::Error> error;
    JSONDecoder decoder;
    auto changeable = decoder.mutableObjectWithUTF8StringLengthError(big.data(), big.size(), &error);
    ASSERT_TRUE(changeable);
    auto* row = must<FJArray>(must<ns::Array>(changeable.get())->objectAtIndex(20001));
    row->insertObjectAtIndex(ns::str("x"), 1);
    row->removeObjectAtIndex(0);
    ASSERT_EQ(row->count(), 3u);
    EXPECT_EQ(text(row->objectAtIndex(0)), "x");
    EXPECT_EQ(must<ns::Number>(row->objectAtIndex(1))->longLongValue(), -2);
}

TEST(FastDecoder, NestingIsBounded) {
    std::string ok(FJMaxParseDepth, '[');
    ok += std::string(FJMaxParseDepth, ']');
    EXPECT_TRUE(decode(ok).value);
    // One level more than the limit is refused, for arrays and objects alike.
    EXPECT_EQ(decode("[" + ok + "]").message(), "Arrays and objects are nested more than 512 levels deep.");
    std::string okObjects;
    for (size_t i = 0; i < FJMaxParseDepth; ++i) okObjects += "{\"a\":";
    okObjects += "1" + std::string(FJMaxParseDepth, '}');
    EXPECT_TRUE(decode(okObjects).value);
    EXPECT_EQ(decode("[" + okObjects + "]").message(), "Arrays and objects are nested more than 512 levels deep.");
    std::string deep(100000, '[');
    auto p = decode(deep);
    EXPECT_EQ(p.message(), "Arrays and objects are nested more than 512 levels deep.");
    std::string deepObjects;
    for (int i = 0; i < 1000; ++i) deepObjects += "{\"a\":";
    EXPECT_EQ(decode(deepObjects).message(), "Arrays and objects are nested more than 512 levels deep.");
}

TEST(FastDecoder, MutableParseGivesChangeableCollections) {
    auto p = decode(R"({"a":[1]})", 0, true);
    auto* d = dynamic_cast<FJDictionary*>(p.value.get());
    ASSERT_TRUE(d && d->isMutable());
    d->setObject(ns::str("v"), "b");
    EXPECT_EQ(d->count(), 2u);
    auto* a = dynamic_cast<FJArray*>(d->objectForKey("a"));
    ASSERT_TRUE(a);
    a->addObject(ns::num(2));
    EXPECT_EQ(a->count(), 2u);
    auto imm = decode(R"({"a":[1]})");
    EXPECT_THROW(must<FJDictionary>(imm.value.get())->setObject(ns::str("v"), "b"), ns::Exception);
}

TEST(FastDecoder, MisuseRaises) {
    try {
        JSONDecoder d(16);
        FAIL();
    } catch (const ns::Exception& e) {
        EXPECT_EQ(e.name(), ns::kInvalidArgumentException);
        EXPECT_EQ(e.reason(), "Invalid parse options.");
    }
    // Every option together is valid: 15, the largest value taken.
    JSONDecoder d(FJParseFlagComments | FJParseFlagUnicodeLineBreaks | FJParseFlagLooseUnicode |
                  FJParseFlagTextAfterValue);
    EXPECT_EQ(d.parseOptions(), 15u);
    try {
        d.objectWithUTF8StringLengthError(nullptr, 0);
        FAIL();
    } catch (const ns::Exception& e) {
        EXPECT_EQ(e.reason(), "The string argument is NULL.");
    }
    try {
        d.objectWithDataError(nullptr);
        FAIL();
    } catch (const ns::Exception& e) {
        EXPECT_EQ(e.reason(), "The jsonData argument is NULL.");
    }
    d.releaseParseState();
    try {
        d.objectWithUTF8StringLengthError("[]", 2);
        FAIL();
    } catch (const ns::Exception& e) {
        EXPECT_EQ(e.name(), ns::kInternalInconsistencyException);
        EXPECT_EQ(e.reason(), "parseState is NULL.");
    }
}

TEST(FastDecoder, DataAndStringHelpers) {
    auto data = ns::Data::make(std::string_view("{\"a\":[true]}"));
    auto decoder = JSONDecoder::decoder();
    auto v = decoder->mutableObjectWithDataError(data.get());
    EXPECT_TRUE(must<FJDictionary>(v.get())->isMutable());
    EXPECT_TRUE(decoder->parseJSONData(data.get()));
    EXPECT_FALSE(must<FJDictionary>(objectFromJSONData(*data).get())->isMutable());
    EXPECT_TRUE(must<FJDictionary>(mutableObjectFromJSONData(*data).get())->isMutable());
    EXPECT_TRUE(objectFromJSONString(*ns::str("[1]")));
    EXPECT_TRUE(must<FJArray>(mutableObjectFromJSONStringWithParseOptions(*ns::str("[1] x"), 8))->isMutable());
    Ref<ns::Error> error;
    EXPECT_FALSE(objectFromJSONStringWithParseOptionsError(*ns::str("[1,]"), 0, &error));
    EXPECT_EQ(must<ns::Error>(error)->localizedDescription(), "Unexpected ']'.");
    error = nullptr;
    auto broken = ns::String::make("[\"\xC3\"]");
    EXPECT_FALSE(mutableObjectFromJSONStringWithParseOptionsError(*broken, 4, &error));
    EXPECT_EQ(must<ns::Error>(error)->localizedDescription(), "An error occurred converting the contents of a NSString to UTF8.");
    error = nullptr;
    EXPECT_FALSE(objectFromJSONDataWithParseOptionsError(*ns::Data::make(std::string_view("")), 0, &error));
    EXPECT_EQ(must<ns::Error>(error)->localizedDescription(), "Reached the end of the buffer.");
}
