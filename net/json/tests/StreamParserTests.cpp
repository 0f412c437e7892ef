#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "net/json/FJArray.h"
#include "net/json/FJCategories.h"
#include "net/json/FJDictionary.h"
#include "net/json/FJTokenScanner.h"
#include "net/json/JsonCategories.h"
#include "net/json/JsonParser.h"
#include "net/json/JsonStreamParser.h"
#include "net/json/JsonStreamParserAdapter.h"
#include "net/json/JsonWriter.h"
#include "net/json/tests/StreamTestUtil.h"
#include "platform/foundation/Foundation.h"
#include "testsupport/Checked.h"
#include "testsupport/ChildProcess.h"

using json::test::dump;
using testsupport::must;

namespace {

struct Outcome {
    ns::Ref<ns::Object> value;
    std::string error;
};

Outcome parse(std::string_view text, uint64_t maxDepth = 32) {
    auto p = ns::make<json::JsonParser>();
    p->setMaxDepth(maxDepth);
    Outcome o;
    o.value = p->objectWithBytes(text.data(), text.size());
    o.error = p->error();
    return o;
}

std::string errorOf(std::string_view text) {
    Outcome o = parse(text);
    EXPECT_FALSE(o.value) << "parsed: " << text << " -> " << dump(o.value);
    return o.error;
}

std::string nested(size_t depth, const char* open = "[", const char* close = "]") {
    std::string s;
    for (size_t i = 0; i < depth; ++i) s += open;
    for (size_t i = 0; i < depth; ++i) s += close;
    return s;
}

TEST(StreamParserGrammar, TokenNotExpectedMessagesNameTokenAndState) {
    struct Case { const char* in; const char* error; };
    const std::vector<Case> cases = {
        {"\"abc\"", "Token 'string' not expected before outer-most array or object"},
        {"12 ", "Token 'number' not expected before outer-most array or object"},
        {"true", "Token 'boolean' not expected before outer-most array or object"},
        {"null ", "Token 'null' not expected before outer-most array or object"},
        {"]", "Token 'end of array' not expected before outer-most array or object"},
        {"[1,]", "Token 'end of array' not expected as array value"},
        {"[,1]", "Token 'value separator' not expected at array start"},
        {"[1 2]", "Token 'number' not expected after array value"},
        {"[1:2]", "Token 'key-value separator' not expected after array value"},
        {"[}", "Token 'end of object' not expected at array start"},
        {"{]", "Token 'end of array' not expected at beginning of object"},
        {"{,}", "Token 'value separator' not expected at beginning of object"},
        {"{1:2}", "Token 'number' not expected at beginning of object"},
        {"{\"a\" 1}", "Token 'number' not expected after object key"},
        {"{\"a\"}", "Token 'end of object' not expected after object key"},
        {"{\"a\":}", "Token 'end of object' not expected as object value"},
        {"{\"a\":1 \"b\":2}", "Token 'string' not expected after object value"},
        {"{\"a\":1,}", "Token 'end of object' not expected in place of object key"},
        {"{\"a\":1,,}", "Token 'value separator' not expected in place of object key"},
        {"{\"a\":[1]]", "Token 'end of array' not expected after object value"},
        {"[] []", "Token 'start of array' not expected after outer-most array or object"},
        {"{}{}", "Token 'start of object' not expected after outer-most array or object"},
        // An unfinished token after a complete document is trailing input too.
        {"[] 1", "Token 'number' not expected after outer-most array or object"},
        {"[]\"x", "Token 'string' not expected after outer-most array or object"},
        {"{} t", "Token 'boolean' not expected after outer-most array or object"},
        {"[] x", "Illegal start of token [x]"},
    };
    for (const auto& c : cases) EXPECT_EQ(errorOf(c.in), c.error) << c.in;
}

TEST(StreamParserGrammar, IncompleteAndMissingInput) {
    for (const char* in : {"", " \t\r\n ", "[", "{\"a\":", "[1", "[\"abc", "[nul", "[1,", "{\"a\"", "12", "[tru",
                           "[\"\\u12", "[\"\\uD83D", "[\"\\uD83D\\", "[-", "[1e", "[1.", "[1e+"}) {
        EXPECT_EQ(errorOf(in), "Unexpected end of input") << in;
    }
    // The input ends where the caller says, also inside a run of blanks that
    // goes on in memory after it (runs of every length around the eight and
    // sixteen bytes read at once), before a value that would complete it.
    for (size_t blanks = 0; blanks <= 40; ++blanks) {
        const std::string memory = "[1,\n" + std::string(blanks, ' ') + std::string(20, ' ') + "2]";
        auto cut = ns::make<json::JsonParser>();
        EXPECT_FALSE(cut->objectWithBytes(memory.data(), 4 + blanks)) << blanks << " blanks";
        EXPECT_EQ(cut->error(), "Unexpected end of input") << blanks << " blanks";
        const std::string complete = "[1]\n" + std::string(blanks, ' ') + std::string(20, ' ') + "x";
        auto whole = ns::make<json::JsonParser>();
        EXPECT_TRUE(whole->objectWithBytes(complete.data(), 4 + blanks)) << blanks << " blanks: " << whole->error();
    }
    auto p = ns::make<json::JsonParser>();
    EXPECT_FALSE(p->objectWithData(nullptr));
    EXPECT_EQ(p->error(), "Input was 'nil'");
    EXPECT_FALSE(p->objectWithString(nullptr));
    EXPECT_EQ(p->error(), "Input was 'nil'");
}

TEST(StreamParserTokens, LiteralAndStartOfTokenErrors) {
    struct Case { const char* in; const char* error; };
    const std::vector<Case> cases = {
        {"[nulx]", "Expected 'null' after initial 'n'"},
        {"[nul]", "Expected 'null' after initial 'n'"},
        {"[tx]", "Expected 'true' after initial 't'"},
        {"[fals]", "Expected 'false' after initial 'f'"},
        {"[truex]", "Illegal start of token [x]"},
        {"[True]", "Illegal start of token [T]"},
        {"[+1]", "Leading + is illegal in number"},
        {"[.5]", "Illegal start of token [.]"},
        {"['a']", "Illegal start of token [']"},
        {"[\x01]", "Illegal start of token [\x01]"},
        {"[\f]", "Illegal start of token [\f]"},
        // A byte of a multi-byte sequence is shown as U+FFFD.
        {"[\xC3\xA9]", "Illegal start of token [\xEF\xBF\xBD]"},
    };
    for (const auto& c : cases) EXPECT_EQ(errorOf(c.in), c.error) << c.in;
}

TEST(StreamParserNumbers, MalformedNumbers) {
    struct Case { const char* in; const char* error; };
    const std::vector<Case> cases = {
        {"[01]", "Leading zero is illegal in number"},
        {"[-01]", "Leading zero is illegal in number"},
        {"[00]", "Leading zero is illegal in number"},
        {"[-]", "No digits after initial minus"},
        {"[-a]", "No digits after initial minus"},
        {"[-.5]", "No digits after initial minus"},
        {"[1.]", "No digits after decimal point"},
        {"[1.e5]", "No digits after decimal point"},
        {"[1e]", "No digits in exponent"},
        {"[1e+]", "No digits in exponent"},
        {"[1E-x]", "No digits in exponent"},
        {"[1x]", "Illegal start of token [x]"},
        {"[1.5.2]", "Illegal start of token [.]"},
        {"[1true]", "Token 'boolean' not expected after array value"},
        {"[0x10]", "Illegal start of token [x]"},
    };
    for (const auto& c : cases) EXPECT_EQ(errorOf(c.in), c.error) << c.in;
}

TEST(StreamParserNumbers, IntegerKindsAndDecimals) {
    Outcome o = parse(
        "[0, 3, -3, -0, 999999999999999999, -999999999999999999, 1234567890123456789,"
        " -9223372036854775808, 18446744073709551616, 1.5, -0.0, 1e5, 2E-3, 0.1,"
        " 1.50, 1e400, 1E70000, 123456789012345678.9]");
    ASSERT_TRUE(o.value) << o.error;
    EXPECT_EQ(dump(o.value),
              "[Q(0),Q(3),q(-3),q(0),Q(999999999999999999),q(-999999999999999999),"
              "dec(1234567890123456789),dec(-9223372036854775808),dec(18446744073709551616),"
              "dec(1.5),dec(-0.0),dec(1e5),dec(2E-3),dec(0.1),dec(1.50),dec(1e400),dec(1E70000),"
              "dec(123456789012345678.9)]");
    auto* a = ns::as<ns::Array>(o.value.get());
    ASSERT_TRUE(a);
    EXPECT_EQ(must<ns::Number>(a->objectAtIndex(1))->unsignedLongLongValue(), 3u);
    EXPECT_EQ(must<ns::Number>(a->objectAtIndex(2))->longLongValue(), -3);
    EXPECT_DOUBLE_EQ(must<ns::Number>(a->objectAtIndex(9))->doubleValue(), 1.5);
    EXPECT_TRUE(std::signbit(must<ns::Number>(a->objectAtIndex(10))->doubleValue()));
    EXPECT_DOUBLE_EQ(must<ns::Number>(a->objectAtIndex(11))->doubleValue(), 100000.0);
    EXPECT_DOUBLE_EQ(must<ns::Number>(a->objectAtIndex(12))->doubleValue(), 0.002);
    EXPECT_TRUE(std::isinf(must<ns::Number>(a->objectAtIndex(15))->doubleValue()));
    // The exponent is not narrowed: 1E70000 stays far above any double.
    EXPECT_TRUE(std::isinf(must<ns::Number>(a->objectAtIndex(16))->doubleValue()));
}

// Number texts for the value checks: edge cases, then doubles printed with
// 15 to 17 digits and decimals of 15 to 19 digits at powers of ten within
// +-30 (where the scan converts the number itself), seeded.
std::vector<std::string> numberTexts() {
    std::vector<std::string> texts = {
        "0", "-0", "-0.0", "0e5", "1e308", "1.7976931348623157e308", "1.7976931348623158e308", "1e309",
        "-1e309", "4.9e-324", "2.4703282292062328e-324", "1e-400", "2.2250738585072014e-308",
        "9223372036854775807", "-9223372036854775808", "9223372036854775808", "18446744073709551615",
        "18446744073709551616", "999999999999999999", "-999999999999999999", "1000000000000000000",
        "123456789012345678901234567890", "0.1", "0.30000000000000004", "-12.345678901234567",
        "0.000001234567890123456789", "1.00000000000000011102230246251565404236316680908203125",
        // Halfway between two doubles, and next to it: the one-operation
        // conversions must not round these twice.
        "9007199254740993.0", "9007199254740995.0", "4503599627370496.5", "4503599627370497.5",
        "1.8014398509481985e16", "9007199254740993.0000001", "9007199254740992.9999999",
        "123456789012345678e-20", "1234567890123456789e-27", "1234567890123456789e27",
        // Rounded twice (to 64 bits, then to 53) these would come out one
        // unit too low or too high.
        "1561273521437639904e-8", "1784348932141245003e-23", "1530156521566334882e-26",
        "1653668363063046112e-7", "15.70671751918118447e-9", "-1.812572848044378837e1", "0.1164379672950066353"};
    std::mt19937_64 rng(20261207);
    char buf[64];
    for (int i = 0; i < 3000; ++i) {
        uint64_t bits = rng();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (!std::isfinite(d)) continue;
        for (const char* format : {"%.17g", "%.16g", "%.15g"}) {
            std::snprintf(buf, sizeof buf, format, d);
            texts.emplace_back(buf);
        }
        std::uniform_real_distribution<double> coordinate(-180.0, 180.0);
        std::snprintf(buf, sizeof buf, "%.17g", coordinate(rng));
        texts.emplace_back(buf);
        // 15 to 19 digits, a point somewhere among them, a power of ten.
        std::string digits = std::to_string(rng() % 9 + 1);
        for (int n = static_cast<int>(rng() % 5) + 14; n > 0; --n) digits += static_cast<char>('0' + rng() % 10);
        digits.insert(rng() % digits.size() + 1, ".");
        if (digits.back() == '.') digits += "5";
        texts.push_back((rng() % 2 ? "-" : "") + digits + "e" + std::to_string(static_cast<int>(rng() % 61) - 30));
    }
    return texts;
}

TEST(StreamParserNumbers, ValuesAreExactAndDoNotDependOnSplits) {
    // Every decimal's double is the one strtod reads from its text, every
    // integer the one strtoll/strtoull reads; the same when the document
    // arrives in pieces that cut numbers anywhere.
    const std::vector<std::string> texts = numberTexts();
    std::string doc = "[";
    for (size_t i = 0; i < texts.size(); ++i) doc += (i ? "," : "") + texts[i];
    doc += "]";
    Outcome o = parse(doc);
    ASSERT_TRUE(o.value) << o.error;
    auto* whole = ns::as<ns::Array>(o.value.get());
    ASSERT_TRUE(whole);
    ASSERT_EQ(whole->count(), texts.size());
    auto bitsOf = [](double d) {
        uint64_t b;
        std::memcpy(&b, &d, sizeof b);
        return b;
    };
    for (size_t i = 0; i < texts.size(); ++i) {
        const std::string& t = texts[i];
        auto* n = whole->objectAtIndexAs<ns::Number>(i);
        ASSERT_TRUE(n) << t;
        if (auto* dec = ns::as<ns::DecimalNumber>(n)) {
            EXPECT_EQ(dec->text(), t);
            EXPECT_EQ(bitsOf(dec->doubleValue()), bitsOf(std::strtod(t.c_str(), nullptr))) << t;
        } else if (t[0] == '-') {
            EXPECT_EQ(n->objCType(), 'q') << t;
            EXPECT_EQ(n->longLongValue(), std::strtoll(t.c_str(), nullptr, 10)) << t;
        } else {
            EXPECT_EQ(n->objCType(), 'Q') << t;
            EXPECT_EQ(n->unsignedLongLongValue(), std::strtoull(t.c_str(), nullptr, 10)) << t;
        }
    }
    EXPECT_EQ(dump(whole->objectAtIndex(13)), "dec(9223372036854775807)");
    EXPECT_EQ(dump(whole->objectAtIndex(18)), "Q(999999999999999999)");

    for (size_t piece : {1u, 7u, 8u, 9u, 4096u}) {
        json::test::Fed fed = json::test::feedPieces(json::test::piecesOf(doc, piece));
        ASSERT_EQ(fed.status, json::JsonStreamParserComplete) << fed.error;
        auto* split = ns::as<ns::Array>(fed.value.get());
        ASSERT_TRUE(split);
        ASSERT_EQ(split->count(), texts.size());
        for (size_t i = 0; i < texts.size(); ++i) {
            auto* a = whole->objectAtIndexAs<ns::Number>(i);
            auto* b = split->objectAtIndexAs<ns::Number>(i);
            ASSERT_TRUE(a && b) << texts[i];
            ASSERT_EQ(dump(a), dump(b)) << "pieces of " << piece;
            ASSERT_EQ(bitsOf(a->doubleValue()), bitsOf(b->doubleValue())) << texts[i] << " in pieces of " << piece;
        }
    }
}

TEST(StreamParserValues, LargeDocumentsValuesOutliveTheirTreeAndWriteBack) {
    // A large document's strings and numbers share blocks of memory: what is
    // kept from it stays valid after the tree and the parser are gone, also
    // when let go on another thread, and writes back as it was read.
    std::string doc = "[";
    for (int i = 1; i <= 6000; ++i) {
        char row[160];
        std::snprintf(row, sizeof row, "%s[\"row %d\",-%d.%03de-7,%d,\"tab\\tquote\\\"%d\",%d%019d,-%d]", i > 1 ? "," : "",
                      i, i, i % 1000, i, i, i + 1, i, i);
        doc += row;
    }
    doc += ",[\"" + std::string(5000, 'x') + "\"]]";
    ASSERT_GE(doc.size(), 128u * 1024);

    ns::Ref<ns::Object> text, decimal, integer, escaped, bigInteger, negative, longText;
    {
        Outcome o = parse(doc);
        ASSERT_TRUE(o.value) << o.error;
        auto writer = ns::make<json::JsonWriter>();
        auto written = writer->stringWithObject(o.value.get());
        ASSERT_TRUE(written) << writer->error();
        EXPECT_TRUE(written->utf8() == doc);
        auto* rows = ns::as<ns::Array>(o.value.get());
        ASSERT_TRUE(rows);
        auto* row = ns::as<ns::Array>(rows->objectAtIndex(4320));
        ASSERT_TRUE(row);
        text = row->objectAtIndex(0);
        decimal = row->objectAtIndex(1);
        integer = row->objectAtIndex(2);
        escaped = row->objectAtIndex(3);
        bigInteger = row->objectAtIndex(4);
        negative = row->objectAtIndex(5);
        longText = ns::as<ns::Array>(rows->objectAtIndex(6000))->objectAtIndex(0);
    }
    EXPECT_EQ(dump(text), "\"row 4321\"");
    EXPECT_EQ(dump(decimal), "dec(-4321.321e-7)");
    EXPECT_EQ(ns::as<ns::Number>(decimal.get())->doubleValue(), -4321.321e-7);
    EXPECT_EQ(dump(integer), "Q(4321)");
    EXPECT_EQ(dump(escaped), "\"tab\\x09quote\\x224321\"");
    EXPECT_EQ(dump(bigInteger), "dec(43220000000000000004321)");
    EXPECT_EQ(dump(negative), "q(-4321)");
    EXPECT_EQ(ns::as<ns::String>(longText.get())->utf8().size(), 5000u);
    std::thread other([&] {
        decimal = nullptr;
        text = nullptr;
    });
    other.join();
    integer = nullptr;
    escaped = nullptr;
    EXPECT_EQ(dump(bigInteger), "dec(43220000000000000004321)");
}

TEST(StreamParserStrings, EscapesAndUnicode) {
    Outcome o = parse(
        "[\"a\\u00e9\", \"\\ud83d\\ude00\", \"\\u0000\", \"\\\"\\\\\\/\\b\\f\\n\\r\\t\", \"\xC3\xA9\xF0\x9F\x98\x80\","
        " \"\", \"x\\u20AC\\u20acy\", \"\\uFFFF\"]");
    ASSERT_TRUE(o.value) << o.error;
    auto* a = ns::as<ns::Array>(o.value.get());
    ASSERT_TRUE(a);
    ASSERT_EQ(a->count(), 8u);
    auto* s0 = a->objectAtIndexAs<ns::String>(0);
    auto* s1 = a->objectAtIndexAs<ns::String>(1);
    ASSERT_TRUE(s0 && s1);
    EXPECT_EQ(s0->length(), 2u);
    EXPECT_EQ(s0->utf8(), "a\xC3\xA9");
    EXPECT_EQ(s1->length(), 2u);  // one character, two UTF-16 units
    EXPECT_EQ(s1->utf8(), "\xF0\x9F\x98\x80");
    EXPECT_EQ(must<ns::String>(a->objectAtIndex(2))->utf8(), std::string(1, '\0'));
    EXPECT_EQ(must<ns::String>(a->objectAtIndex(3))->utf8(), "\"\\/\b\f\n\r\t");
    EXPECT_EQ(must<ns::String>(a->objectAtIndex(4))->utf8(), "\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(must<ns::String>(a->objectAtIndex(5))->utf8(), "");
    EXPECT_EQ(must<ns::String>(a->objectAtIndex(6))->utf8(), "x\xE2\x82\xAC\xE2\x82\xAC" "y");
    EXPECT_EQ(must<ns::String>(a->objectAtIndex(7))->utf8(), "\xEF\xBF\xBF");
}

// Every surrogate pair is one code point from U+10000 to U+10FFFF, the
// last pair (U+10FFFF) among them: a document of 1024 texts, one for each
// high half, each holding that half with every low half (hex digits in both
// cases). A shorter document, each high half with two low halves, is read
// in pieces of 7 bytes as well, so that a piece ends at every place inside a
// pair's escapes.
TEST(StreamParserStrings, EverySurrogatePairIsOneCodePoint) {
    EXPECT_EQ(must<ns::String>(must<ns::Array>(parse(R"(["\uDBFF\uDFFF"])").value.get())->objectAtIndex(0))->utf8(),
              "\xF4\x8F\xBF\xBF");
    struct Document {
        std::string text = "[";
        std::vector<std::string> expected;  // each text's UTF-8
    };
    // Each high half with the low halves `lows` gives for it.
    const auto document = [](const std::function<std::vector<unsigned>(unsigned)>& lows) {
        Document doc;
        for (unsigned high = 0xD800; high <= 0xDBFF; ++high) {
            doc.text += high == 0xD800 ? "\"" : ",\"";
            std::string want;
            for (unsigned low : lows(high)) {
                char escapes[16];
                std::snprintf(escapes, sizeof escapes, low % 2 ? "\\u%04X\\u%04x" : "\\u%04x\\u%04X", high, low);
                doc.text += escapes;
                const unsigned cp = 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
                want += static_cast<char>(0xF0 | (cp >> 18));
                want += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
                want += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                want += static_cast<char>(0x80 | (cp & 0x3F));
            }
            doc.text += "\"";
            doc.expected.push_back(std::move(want));
        }
        doc.text += "]";
        return doc;
    };
    const Document every = document([](unsigned) {
        std::vector<unsigned> all;
        for (unsigned low = 0xDC00; low <= 0xDFFF; ++low) all.push_back(low);
        return all;
    });
    const Document two = document([](unsigned high) { return std::vector<unsigned>{0xDC00 + (high & 0x3FF), 0xDFFF}; });
    struct Reading {
        const char* name;
        const Document& doc;
        json::test::Fed fed;
    } readings[] = {{"every pair, whole", every, json::test::feedPieces({every.text})},
                    {"two pairs a text, in pieces of 7 bytes", two,
                     json::test::feedPieces(json::test::piecesOf(two.text, 7))}};
    for (const Reading& r : readings) {
        SCOPED_TRACE(r.name);
        ASSERT_TRUE(r.fed.value) << r.fed.error;
        auto* texts = ns::as<ns::Array>(r.fed.value.get());
        ASSERT_TRUE(texts);
        ASSERT_EQ(texts->count(), r.doc.expected.size());
        for (size_t i = 0; i < r.doc.expected.size(); ++i) {
            auto* text = texts->objectAtIndexAs<ns::String>(i);
            ASSERT_TRUE(text) << "text " << i;
            EXPECT_EQ(text->utf8(), r.doc.expected[i]) << "high half " << std::hex << 0xD800 + i;
            EXPECT_EQ(text->length(), r.doc.expected[i].size() / 2) << "high half " << std::hex << 0xD800 + i;
        }
    }
}

TEST(StreamParserStrings, EscapeAndEncodingErrors) {
    struct Case { std::string in; const char* error; };
    const std::vector<Case> cases = {
        {"[\"a\tb\"]", "Unescaped control character [0x09]"},
        {"[\"a\nb\"]", "Unescaped control character [0x0A]"},
        {"[\"\\\"a\x1f\"]", "Unescaped control character [0x1F]"},
        {"[\"\\n\tb\"]", "Unescaped control character [0x09]"},  // after an escape
        {"[\"\\u00e9\nb\"]", "Unescaped control character [0x0A]"},
        {std::string("[\"a\0\"]", 6), "Unescaped control character [0x00]"},
        {"[\"\\x\"]", "Illegal escape character"},
        {"[\"\\U0041\"]", "Illegal escape character"},
        {"[\"\\u12G4\"]", "Invalid hex quad"},
        {"[\"\\u1\"]", "Invalid hex quad"},
        {"[\"\\uDC00\"]", "Invalid high character in surrogate pair"},
        {"[\"\\uDFFF\\uDC00\"]", "Invalid high character in surrogate pair"},
        {"[\"\\uD800\"]", "Missing low character in surrogate pair"},
        {"[\"\\uD800x\"]", "Missing low character in surrogate pair"},
        {"[\"\\uD800\\n\"]", "Missing low character in surrogate pair"},
        {"[\"\\uD800\\uZZZZ\"]", "Missing low character in surrogate pair"},
        {"[\"\\uD800\\u0041\"]", "Invalid low character in surrogate pair"},
        {"[\"\\uD800\\uD800\"]", "Invalid low character in surrogate pair"},
        // Strict UTF-8: truncated, stray continuation, overlong, encoded
        // surrogate, beyond U+10FFFF, bytes that never occur.
        {"[\"\xC3\"]", "Broken Unicode encoding"},
        {"[\"\xA9\"]", "Broken Unicode encoding"},
        {"[\"\xC0\xAF\"]", "Broken Unicode encoding"},
        {"[\"\xE0\x80\xAF\"]", "Broken Unicode encoding"},
        {"[\"\xED\xA0\x80\"]", "Broken Unicode encoding"},
        {"[\"\xF4\x90\x80\x80\"]", "Broken Unicode encoding"},
        {"[\"\xFF\"]", "Broken Unicode encoding"},
        {"[\"ok\\n\xC3(\"]", "Broken Unicode encoding"},
        {"{\"\xC3\":1}", "Broken Unicode encoding"},
    };
    for (const auto& c : cases) EXPECT_EQ(errorOf(c.in), c.error) << c.in;
}

TEST(StreamParserValues, ContainersLiteralsAndRepeatedKeys) {
    Outcome o = parse(" { \"a\" : [ ] , \"b\" : { } , \"t\" : true , \"f\" : false , \"n\" : null , \"a\" : 2 } ");
    ASSERT_TRUE(o.value) << o.error;
    EXPECT_EQ(dump(o.value), "{\"a\":Q(2),\"b\":{},\"t\":true,\"f\":false,\"n\":null}");
    auto* d = ns::as<ns::MutableDictionary>(o.value.get());
    ASSERT_TRUE(d);
    EXPECT_EQ(d->objectForKey("t"), ns::Number::numberWithBool(true).get());
    EXPECT_EQ(d->objectForKey("f"), ns::Number::numberWithBool(false).get());
    EXPECT_EQ(d->objectForKey("n"), ns::Null::shared());
    EXPECT_TRUE(ns::as<ns::MutableDictionary>(d->objectForKey("b")));

    Outcome e = parse("[]");
    ASSERT_TRUE(ns::as<ns::MutableArray>(e.value.get()));
    EXPECT_EQ(ns::as<ns::Array>(e.value.get())->count(), 0u);
    EXPECT_EQ(dump(parse("{}").value), "{}");
    EXPECT_EQ(dump(parse("[[1,[2]],{\"k\":[{}]}]").value), "[[Q(1),[Q(2)]],{\"k\":[{}]}]");

    // Objects that repeat a key share its one string object; a value of the
    // same text, and a key with a blank before its colon, are their own.
    Outcome r = parse(R"([{"id":1,"k":"id"},{"id":2},{"id" :3}])");
    ASSERT_TRUE(r.value) << r.error;
    auto* rows = ns::as<ns::Array>(r.value.get());
    ASSERT_TRUE(rows);
    auto keyOf = [&](size_t row, size_t i) { return ns::as<ns::Dictionary>(rows->objectAtIndex(row))->keyAtIndex(i); };
    EXPECT_EQ(keyOf(0, 0), keyOf(1, 0));
    EXPECT_NE(keyOf(0, 0), keyOf(2, 0));
    EXPECT_NE(ns::as<ns::Dictionary>(rows->objectAtIndex(0))->objectForKey("k"), keyOf(0, 0));
    EXPECT_EQ(dump(r.value), "[{\"id\":Q(1),\"k\":\"id\"},{\"id\":Q(2)},{\"id\":Q(3)}]");

    // A key written with an escape is the same key as its plain text (one
    // the shared key object, the other made apart): the later value wins.
    EXPECT_EQ(dump(parse(R"({"a":1,"\u0061":2,"b":3})").value), "{\"a\":Q(2),\"b\":Q(3)}");
    EXPECT_EQ(dump(parse(R"({"\u0061":1,"a":2})").value), "{\"a\":Q(2)}");
    EXPECT_EQ(dump(parse(R"({"x/y":1,"x\/y":2,"a" :3,"a":4})").value), "{\"x/y\":Q(2),\"a\":Q(4)}");

    // Keys of up to 32 bytes are shared, longer ones made for each object.
    // A slot of the shared table keeps the last key made for it: with many
    // more keys than slots, every key still reads as written.
    const std::string k32(32, 'k'), k33(33, 'k');
    Outcome lengths = parse("[{\"" + k32 + "\":1,\"" + k33 + "\":2},{\"" + k32 + "\":3,\"" + k33 + "\":4}]");
    ASSERT_TRUE(lengths.value) << lengths.error;
    auto* pair = ns::as<ns::Array>(lengths.value.get());
    ASSERT_TRUE(pair && pair->count() == 2);
    auto* left = ns::as<ns::Dictionary>(pair->objectAtIndex(0));
    auto* right = ns::as<ns::Dictionary>(pair->objectAtIndex(1));
    ASSERT_TRUE(left && right && left->count() == 2 && right->count() == 2);
    EXPECT_EQ(left->keyAtIndex(0), right->keyAtIndex(0));
    EXPECT_NE(left->keyAtIndex(1), right->keyAtIndex(1));
    EXPECT_EQ(dump(right), "{\"" + k32 + "\":Q(3),\"" + k33 + "\":Q(4)}");
    std::string many = "[", expected = "[";
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 1000; ++i) {
            const std::string key = "key" + std::to_string(i * 7919 % 1000);
            many += std::string(round || i ? "," : "") + "{\"" + key + "\":" + std::to_string(i) + "}";
            expected += std::string(round || i ? "," : "") + "{\"" + key + "\":Q(" + std::to_string(i) + ")}";
        }
    }
    Outcome keyed = parse(many + "]");
    ASSERT_TRUE(keyed.value) << keyed.error;
    EXPECT_EQ(dump(keyed.value), expected + "]");
}

// Runs `work` on a new thread with a stack of `stackBytes`; false when the
// thread could not be made.
bool onSmallStack(size_t stackBytes, const std::function<void()>& work) {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return false;
    pthread_attr_setstacksize(&attr, stackBytes);
    pthread_t thread;
    auto* copy = new std::function<void()>(work);
    int made = pthread_create(
        &thread, &attr,
        [](void* arg) -> void* {
            std::unique_ptr<std::function<void()>> w(static_cast<std::function<void()>*>(arg));
            (*w)();
            return nullptr;
        },
        copy);
    pthread_attr_destroy(&attr);
    if (made != 0) {
        delete copy;
        return false;
    }
    pthread_join(thread, nullptr);
    return true;
}

// The stack the deepest trees are parsed and released on, sized by the
// sanitizer in use for the fast decoder's 512 levels of parsing, which
// recurse: a quarter of a megabyte; under the thread sanitizer, whose
// frames take over a kilobyte a level, a thread's default 8 MiB; under the
// address sanitizer 1 MiB (an optimised build with it inlines the
// decoder's steps into frames whose padded locals took between 256 and
// 384 KiB for the 512 levels, and overflowed the quarter megabyte). A
// release that recursed once per level would still overflow each of them
// many times over on the 50,000-level chains.
#if defined(__SANITIZE_ADDRESS__)
#define JSON_TEST_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define JSON_TEST_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
constexpr size_t kReleaseStack = 8192 << 10;
#elif defined(JSON_TEST_ADDRESS_SANITIZER)
constexpr size_t kReleaseStack = 1024 << 10;
#else
constexpr size_t kReleaseStack = 256 << 10;
#endif

// The child-process checks count every abnormal end as a failure: a check
// that the deep-tree test below runs in a child passes only when the child
// ran it through and ended as such a child ends. As written, only an end by
// a signal counted; a sanitizer ends a process with an exit code, so the
// deep-tree test overflowed its stack under AddressSanitizer in every run
// and was reported passed.
TEST(ChildProcessCheck, EveryAbnormalEndIsAFailure) {
    const struct {
        const char* name;
        std::function<std::string()> check;
        int withinMs;
        std::string failure;  // the answer, or the start of it
    } rows[] = {
        {"ran through", [] { return std::string(); }, 120000, ""},
        {"answered a failure", [] { return std::string("wrong value"); }, 120000, "wrong value"},
        {"ended by a signal", []() -> std::string { ::raise(SIGKILL); return ""; }, 120000,
         "the child ended with signal 9 (Killed), not exit code 86"},
        {"aborted", []() -> std::string { std::abort(); }, 120000, "the child ended with signal 6 (Aborted)"},
        {"ended as a sanitizer's report ends it", []() -> std::string { ::_exit(1); }, 120000,
         "the child ended with exit code 1, not exit code 86"},
        {"ended with success half way", []() -> std::string { ::_exit(0); }, 120000,
         "the child ended with exit code 0, not exit code 86"},
        {"ended with its own code before answering", []() -> std::string { ::_exit(testsupport::kCheckedChildExitCode); },
         120000, "the child's answer was cut short"},
        {"threw", []() -> std::string { throw std::runtime_error("out of range"); }, 120000,
         "the check threw: out of range"},
        {"never ended", []() -> std::string { for (;;) ::pause(); }, 300,
         "the child did not end within 300 ms and was killed"},
    };
    for (const auto& row : rows) {
        const std::string failure = testsupport::failureInChildProcess(row.check, row.withinMs);
        if (row.failure.empty()) EXPECT_EQ(failure, "") << row.name;
        else EXPECT_EQ(failure.substr(0, row.failure.size()), row.failure) << row.name << ": " << failure;
    }
    // A child meant to be running is ended by the kill; one that had ended
    // by itself is told apart.
    pid_t running = testsupport::startChildAndWaitUntilReady([](const std::function<void()>& ready) {
        ready();
        for (;;) ::pause();
    });
    ASSERT_GT(running, 0);
    EXPECT_EQ(testsupport::killChild(running), "");
    pid_t ended = testsupport::startChildAndWaitUntilReady([](const std::function<void()>& ready) {
        ready();
        ::_exit(3);
    });
    ASSERT_GT(ended, 0);
    siginfo_t info{};  // waits for its end, leaving it to be reaped
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(ended), &info, WEXITED | WNOWAIT), 0);
    EXPECT_EQ(testsupport::killChild(ended), "the child had ended before it was killed, with exit code 3");
}

// Counts its own destruction: the innermost value of a chain, gone once
// the whole chain is.
class Sentinel final : public ns::Object {
public:
    explicit Sentinel(int* gone) : gone_(gone) {}
    ~Sentinel() override { ++*gone_; }

private:
    int* gone_;
};

enum class ChainShape { Arrays, Dictionaries, ByTurns };

// A tree `levels` deep around `inner`, each collection holding the next
// under `key`: arrays, dictionaries or both by turns, of the standard
// classes or of the fast decoder's own (mutable, as a caller may nest them
// without a parser).
ns::Ref<ns::Object> chainOfCollections(size_t levels, bool fast, ChainShape shape, ns::Ref<ns::Object> inner,
                                       const ns::Ref<ns::String>& key) {
    const size_t hash = key->hash();
    for (size_t i = 0; i < levels; ++i) {
        const bool dictionary = shape == ChainShape::Dictionaries || (shape == ChainShape::ByTurns && i % 2);
        if (!fast) {
            if (dictionary) inner = ns::Dictionary::make(std::vector<ns::Dictionary::Entry>{{key, inner}});
            else inner = ns::Array::make({inner});
            continue;
        }
        ns::Object* held = inner.leak();
        if (dictionary) {
            ns::Object* k = ns::Ref<ns::Object>(key).leak();
            inner = json::FJDictionary::makeWithEntries(&k, &held, &hash, 1, true);
        } else {
            inner = json::FJArray::makeWithObjects(&held, 1, true);
        }
    }
    return inner;
}

// No parser can be set to a depth whose tree cannot be released, and no
// tree, however deep, needs more stack to be released than a shallow one:
// a limit above 1024 sets 1024; the deepest tree either codec builds (1024
// levels here, 512 in the fast decoder) is parsed and released on a thread
// with a quarter of a megabyte of stack, and so are trees of 50,000 levels
// of either collection family, arrays, dictionaries or both by turns (whose
// innermost values and keys are let go with them). As written, a parser set to 1,000,001
// built 1,000,000 nested arrays and then overflowed the stack releasing
// them. The check runs in a child process: a crash, a sanitizer's report
// or a hang there fails this test.
TEST(StreamParserDepth, NoParserBuildsATreeTooDeepToRelease) {
    const std::string failure = testsupport::failureInChildProcess([]() -> std::string {
        auto parser = ns::make<json::JsonParser>();
        parser->setMaxDepth(1000001);
        if (parser->maxDepth() != json::kMaxDepthCeiling) return "JsonParser kept " + std::to_string(parser->maxDepth());
        auto stream = ns::make<json::JsonStreamParser>();
        stream->setMaxDepth(UINT64_MAX);
        if (stream->maxDepth() != json::kMaxDepthCeiling) return "JsonStreamParser kept " + std::to_string(stream->maxDepth());
        for (uint64_t kept : {uint64_t{1024}, uint64_t{1023}}) {
            stream->setMaxDepth(kept);
            if (stream->maxDepth() != kept) return "JsonStreamParser changed " + std::to_string(kept);
            parser->setMaxDepth(kept);
            if (parser->maxDepth() != kept) return "JsonParser changed " + std::to_string(kept);
        }
        parser->setMaxDepth(1000001);
        if (parser->objectWithString(ns::str(nested(1000000)).get()))
            return "a million levels parsed";
        if (parser->error() != "Input depth exceeds max depth of 1024") return "error: " + parser->error();
        if (parser->objectWithString(ns::str(nested(1025)).get())) return "1025 levels parsed";

        int gone = 0;
        const auto key = ns::String::make("key");
        std::vector<ns::Ref<ns::Object>> chains;
        for (bool fast : {false, true})
            for (ChainShape shape : {ChainShape::Arrays, ChainShape::Dictionaries, ChainShape::ByTurns})
                chains.push_back(chainOfCollections(50000, fast, shape, ns::make<Sentinel>(&gone), key));
        std::string failed;
        const bool ran = onSmallStack(kReleaseStack, [&] {
            for (const auto& [open, close] : {std::pair{"[", "]"}, std::pair{"{\"a\":", "}"}}) {
                std::string doc = nested(json::kMaxDepthCeiling, open, close);
                if (open[0] == '{') doc.replace(doc.find('}'), 0, "1");
                if (!parser->objectWithString(ns::str(doc).get())) failed += "1024 levels refused: " + parser->error() + "; ";
                std::string fast = nested(json::FJMaxParseDepth, open, close);
                if (open[0] == '{') fast.replace(fast.find('}'), 0, "1");
                if (!json::objectFromJSONString(*ns::str(fast))) failed += "fast decoder refused 512 levels; ";
                if (!json::mutableObjectFromJSONString(*ns::str(fast))) failed += "fast decoder refused 512 mutable levels; ";
            }
            for (auto& chain : chains) chain = nullptr;
        });
        if (!ran) return "no thread";
        if (gone != 6) failed += std::to_string(gone) + " of the 6 chains let go to their innermost value; ";
        if (key->retainCount() != 1) failed += "the chains' keys were not all let go; ";
        return failed;
    });
    EXPECT_EQ(failure, "");
}

TEST(StreamParserDepth, LimitIsEnforcedWithoutRecursion) {
    EXPECT_EQ(dump(parse(nested(32)).value).size(), 64u);
    EXPECT_EQ(errorOf(nested(33)), "Input depth exceeds max depth of 32");
    EXPECT_TRUE(parse(nested(16, "{\"a\":[", "]}")).value);  // 32 levels of mixed containers
    EXPECT_EQ(errorOf(nested(17, "{\"a\":[", "]}")), "Input depth exceeds max depth of 32");

    EXPECT_TRUE(parse(nested(2), 2).value);
    Outcome o = parse(nested(3), 2);
    EXPECT_FALSE(o.value);
    EXPECT_EQ(o.error, "Input depth exceeds max depth of 2");
    EXPECT_EQ(parse("[]", 0).error, "Input depth exceeds max depth of 0");

    // Very deep input ends in the error as soon as the limit is crossed.
    std::string deep(1000000, '[');
    EXPECT_EQ(errorOf(deep), "Input depth exceeds max depth of 32");
    // A raised limit is honoured and still builds the tree.
    Outcome big = parse(nested(500), 500);
    EXPECT_TRUE(big.value) << big.error;

    // The default of each parser, with nothing set: 32 levels.
    for (size_t depth : {32u, 33u}) {
        const std::string doc = nested(depth);
        auto fresh = ns::make<json::JsonParser>();
        EXPECT_EQ(!!fresh->objectWithBytes(doc.data(), doc.size()), depth == 32) << fresh->error();
        auto stream = ns::make<json::JsonStreamParser>();
        EXPECT_EQ(stream->parse(doc.data(), doc.size()),
                  depth == 32 ? json::JsonStreamParserComplete : json::JsonStreamParserError);
    }
}

TEST(StreamParserEntryPoints, ErrorObjectAndJSONValueLogging) {
    auto p = ns::make<json::JsonParser>();
    ns::Ref<ns::Error> error;
    EXPECT_FALSE(p->objectWithStringError(ns::str("[1,]").get(), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), "org.tellvarin.JsonParser.ErrorDomain");
    EXPECT_EQ(error->code(), 0);
    EXPECT_EQ(error->localizedDescription(), "Token 'end of array' not expected as array value");

    error = nullptr;
    auto ok = p->objectWithStringError(ns::str("{\"x\":1}").get(), &error);
    EXPECT_TRUE(ok);
    EXPECT_FALSE(error);

    std::vector<std::string> lines;
    json::setJsonLogHandler([&](const std::string& l) { lines.push_back(l); });
    EXPECT_EQ(dump(json::JSONValue(ns::str("[\"a\"]"))), "[\"a\"]");
    EXPECT_FALSE(json::JSONValue(ns::str("[")));
    EXPECT_FALSE(json::JSONValue(ns::Ref<ns::String>()));
    json::setJsonLogHandler(nullptr);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "-JSONValue failed. Error is: Unexpected end of input");
}

// Events recorded by a delegate, for the stream parser's own behaviour.
class Recorder final : public json::JsonStreamParserAdapterDelegate {
public:
    void parserFoundArray(json::JsonStreamParser*, const ns::Ref<ns::Array>& a) override {
        seen.push_back("array " + dump(a));
    }
    void parserFoundObject(json::JsonStreamParser*, const ns::Ref<ns::Object>& o) override {
        seen.push_back("object " + dump(o));
    }
    std::vector<std::string> seen;
};

TEST(StreamParserStream, StatusMultipleDocumentsAndStickyError) {
    auto rec = ns::make<Recorder>();
    auto adapter = ns::make<json::JsonStreamParserAdapter>();
    adapter->setDelegate(rec);
    auto parser = ns::make<json::JsonStreamParser>();
    parser->setDelegate(adapter);
    parser->setSupportMultipleDocuments(true);
    EXPECT_EQ(parser->parse("[1]", 3), json::JsonStreamParserWaitingForData);
    EXPECT_EQ(parser->parse(" {\"a\"", 5), json::JsonStreamParserWaitingForData);
    EXPECT_EQ(parser->parse(":null}\n[", 8), json::JsonStreamParserWaitingForData);
    EXPECT_EQ(parser->parse("]", 1), json::JsonStreamParserWaitingForData);
    EXPECT_EQ(rec->seen, (std::vector<std::string>{"array [Q(1)]", "object {\"a\":null}", "array []"}));

    EXPECT_EQ(parser->parse("x", 1), json::JsonStreamParserError);
    EXPECT_EQ(parser->error(), "Illegal start of token [x]");
    EXPECT_EQ(parser->parse("[]", 2), json::JsonStreamParserError);  // stays in error

    // Without multiple documents the parser completes after the first one.
    auto single = ns::make<json::JsonStreamParser>();
    EXPECT_EQ(single->parse("[", 1), json::JsonStreamParserWaitingForData);
    EXPECT_EQ(single->parse("] \n", 3), json::JsonStreamParserComplete);
    EXPECT_EQ(single->parse(" ", 1), json::JsonStreamParserComplete);
    EXPECT_EQ(single->parse("[", 1), json::JsonStreamParserError);
    EXPECT_EQ(single->error(), "Token 'start of array' not expected after outer-most array or object");
}

TEST(StreamParserStream, LevelsToSkipDeliversInnerValues) {
    auto rec = ns::make<Recorder>();
    auto adapter = ns::make<json::JsonStreamParserAdapter>();
    adapter->setDelegate(rec);
    adapter->setLevelsToSkip(1);
    auto parser = ns::make<json::JsonStreamParser>();
    parser->setDelegate(adapter);
    std::string doc = "[1, [2, {\"k\": 3}], {\"a\": []}, \"s\"]";
    EXPECT_EQ(parser->parse(doc.data(), doc.size()), json::JsonStreamParserComplete);
    EXPECT_EQ(rec->seen, (std::vector<std::string>{"object Q(1)", "array [Q(2),{\"k\":Q(3)}]",
                                                   "object {\"a\":[]}", "object \"s\""}));

    // A key met at a skipped level names nothing the adapter builds: it is
    // not kept (a long stream of such objects must not pile keys up).
    rec->seen.clear();
    auto key = ns::String::make("skipped");
    adapter->parserFoundObjectStart(parser.get());
    adapter->parserFoundObjectKey(parser.get(), key);
    adapter->parserFoundNull(parser.get());
    adapter->parserFoundObjectEnd(parser.get());
    EXPECT_EQ(key->retainCount(), 1u);
    EXPECT_EQ(rec->seen, (std::vector<std::string>{"object null"}));

    // Events out of order: a value without a key is dropped, the later of
    // two keys names the value, and a key still waiting when its object
    // ends is dropped.
    rec->seen.clear();
    adapter->setLevelsToSkip(0);
    auto* p = parser.get();
    adapter->parserFoundObjectStart(p);
    adapter->parserFoundNull(p);
    adapter->parserFoundObjectKey(p, ns::String::make("a"));
    adapter->parserFoundObjectKey(p, ns::String::make("b"));
    adapter->parserFoundBoolean(p, true);
    adapter->parserFoundObjectKey(p, ns::String::make("dangling"));
    adapter->parserFoundObjectEnd(p);
    EXPECT_EQ(rec->seen, (std::vector<std::string>{"object {\"b\":true}"}));
}

// A delegate that lets the parser go in the middle of a parse does not free
// it there: the parser lives to the end of the call. A delegate that feeds
// the parser more bytes from inside its own parse is refused with an error
// (the bytes are not taken), and the parse that called it goes on as if
// nothing had happened. As written, the parser was freed in the middle of
// the call, and a parse from inside one ran the grammar out of order.
TEST(StreamParserStream, ADelegateThatLetsGoOrFeedsTheParser) {
    class Meddler final : public json::JsonStreamParserAdapterDelegate {
    public:
        ns::Ref<json::JsonStreamParser> parser;
        ns::Weak<json::JsonStreamParser> watched;
        bool letGo = false;
        bool aliveAfterLetGo = false;
        std::vector<std::string> seen;
        std::vector<std::pair<int32_t, std::string>> nested;
        void parserFoundArray(json::JsonStreamParser* p, const ns::Ref<ns::Array>& a) override { found(p, dump(a)); }
        void parserFoundObject(json::JsonStreamParser* p, const ns::Ref<ns::Object>& o) override { found(p, dump(o)); }

    private:
        void found(json::JsonStreamParser* p, std::string text) {
            seen.push_back(std::move(text));
            if (letGo) {
                parser = nullptr;
                aliveAfterLetGo = !watched.expired();
                return;
            }
            const int32_t status = p->parse(",[9]", 4);
            nested.emplace_back(status, p->error());
        }
    };
    for (bool letGo : {true, false}) {
        SCOPED_TRACE(letGo ? "let go" : "fed");
        auto meddler = ns::make<Meddler>();
        meddler->letGo = letGo;
        auto adapter = ns::make<json::JsonStreamParserAdapter>();
        adapter->setDelegate(meddler);
        adapter->setLevelsToSkip(1);
        meddler->parser = ns::make<json::JsonStreamParser>();
        meddler->watched = meddler->parser;
        meddler->parser->setDelegate(adapter);
        json::JsonStreamParser* raw = meddler->parser.get();
        ns::Ref<json::JsonStreamParser> kept = letGo ? nullptr : meddler->parser;
        EXPECT_EQ(raw->parse("[1,[2],3]", 9), json::JsonStreamParserComplete);
        EXPECT_EQ(meddler->seen, (std::vector<std::string>{"Q(1)", "[Q(2)]", "Q(3)"}));
        if (letGo) {
            EXPECT_TRUE(meddler->aliveAfterLetGo);
            EXPECT_TRUE(meddler->watched.expired()) << "the parser outlived its call";
            continue;
        }
        ASSERT_EQ(meddler->nested.size(), 3u);
        for (const auto& [status, error] : meddler->nested) {
            EXPECT_EQ(status, json::JsonStreamParserError);
            EXPECT_EQ(error, "Parser is busy: bytes fed from inside its own delegate");
        }
        // The parser is not in error: its document is complete.
        EXPECT_EQ(kept->parse(" ", 1), json::JsonStreamParserComplete);
    }
}

TEST(StreamParserStream, StatesHaveNamesAndSingletons) {
    EXPECT_EQ(json::JsonStreamParserState::sharedInstance(), nullptr);
    EXPECT_EQ(json::JsonStreamParserStateStart::sharedInstance(), json::JsonStreamParserStateStart::sharedInstance());
    EXPECT_STREQ(json::JsonStreamParserStateError::sharedInstance()->name(), "in error");
    EXPECT_TRUE(json::JsonStreamParserStateObjectNeedKey::sharedInstance()->needKey());
    EXPECT_FALSE(json::JsonStreamParserStateObjectSeparator::sharedInstance()->needKey());
    EXPECT_STREQ(json::tokenName(42), "<aaiiie!>");
}

}  // namespace
