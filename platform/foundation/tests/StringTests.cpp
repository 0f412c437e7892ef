#include <gtest/gtest.h>

#include "platform/foundation/Foundation.h"

using namespace ns;

TEST(String, CountsUTF16UnitsAndNeverSplitsPairs) {
    auto s = str("\xF0\x9F\x98\x80");  // one emoji, a surrogate pair in UTF-16
    EXPECT_EQ(s->length(), 2u);
    EXPECT_EQ(s->characterAtIndex(0), 0xD83D);
    EXPECT_EQ(s->characterAtIndex(1), 0xDE00);
    EXPECT_EQ(s->substringToIndex(1)->utf8(), "");
    EXPECT_EQ(s->substringFromIndex(1)->utf8(), "\xF0\x9F\x98\x80");
    auto mixed = str("a\xF0\x9F\x98\x80" "b\xC3\xA9");
    EXPECT_EQ(mixed->length(), 5u);
    EXPECT_EQ(mixed->substringWithRange({1, 2})->utf8(), "\xF0\x9F\x98\x80");
    EXPECT_EQ(mixed->substringWithRange({3, 10})->utf8(), "b\xC3\xA9");
    EXPECT_THROW(mixed->characterAtIndex(5), Exception);
}

TEST(String, ConvertsAndValidatesEncodings) {
    EXPECT_FALSE(String::fromBytes("\xC3", 1));
    EXPECT_FALSE(String::fromBytes("\xED\xA0\x80", 3));  // encoded surrogate
    EXPECT_FALSE(String::fromBytes("\xC0\x80", 2));      // overlong
    EXPECT_TRUE(String::fromBytes("\xE2\x82\xAC", 3));
    std::u16string lone = u"a";
    lone.push_back(char16_t(0xD800));
    EXPECT_FALSE(String::fromUTF16(lone));
    EXPECT_EQ(String::fromUTF16(u"\U0001F600x")->utf8(), "\xF0\x9F\x98\x80x");

    // The first and last code point of every length, and one past each end.
    struct Row {
        const char* name;
        std::string bytes;
        bool valid;
    } rows[] = {
        {"U+007F", "\x7F", true},
        {"U+0080", "\xC2\x80", true},
        {"U+007F in two bytes", "\xC1\xBF", false},
        {"U+07FF", "\xDF\xBF", true},
        {"U+0800", "\xE0\xA0\x80", true},
        {"U+07FF in three bytes", "\xE0\x9F\xBF", false},
        {"U+D7FF", "\xED\x9F\xBF", true},
        {"U+D800", "\xED\xA0\x80", false},
        {"U+DFFF", "\xED\xBF\xBF", false},
        {"U+E000", "\xEE\x80\x80", true},
        {"U+FFFF", "\xEF\xBF\xBF", true},
        {"U+10000", "\xF0\x90\x80\x80", true},
        {"U+FFFF in four bytes", "\xF0\x8F\xBF\xBF", false},
        {"U+10FFFF", "\xF4\x8F\xBF\xBF", true},
        {"U+110000", "\xF4\x90\x80\x80", false},
        {"five-byte lead", "\xF8\x88\x80\x80\x80", false},
        {"lone continuation", "\x80", false},
        {"cut after its lead", "a\xE2\x82", false},
        {"continuation missing inside", "\xE2\x41\xAC", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(isValidUTF8(row.bytes.data(), row.bytes.size()), row.valid);
        EXPECT_EQ(static_cast<bool>(String::fromBytes(row.bytes.data(), row.bytes.size())), row.valid);
        if (row.valid) {
            // A valid code point survives the trip through UTF-16 and back.
            std::string back;
            ASSERT_TRUE(utf16ToUTF8(utf8ToUTF16(row.bytes), back));
            EXPECT_EQ(back, row.bytes);
        }
    }
}

TEST(String, UTF16SurrogatesOnlyInPairs) {
    struct Row {
        const char* name;
        std::u16string units;
        const char* utf8;  // nullptr: refused
    } rows[] = {
        {"first pair", {0xD800, 0xDC00}, "\xF0\x90\x80\x80"},
        {"last pair", {0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"},
        {"below the surrogates", {0xD7FF}, "\xED\x9F\xBF"},
        {"above the surrogates", {0xE000}, "\xEE\x80\x80"},
        {"high then a letter", {0xD800, u'a'}, nullptr},
        {"high then high", {0xDBFF, 0xDBFF}, nullptr},
        {"high then one below the lows", {0xD800, 0xDBFF}, nullptr},
        {"high then one above the lows", {0xD800, 0xE000}, nullptr},
        {"high at the end", {u'a', 0xD800}, nullptr},
        {"low alone", {0xDC00, u'a'}, nullptr},
        {"last low alone", {0xDFFF}, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::string out;
        EXPECT_EQ(utf16ToUTF8(row.units, out), row.utf8 != nullptr);
        auto s = String::fromUTF16(row.units);
        EXPECT_EQ(static_cast<bool>(s), row.utf8 != nullptr);
        if (row.utf8 && s) EXPECT_EQ(s->utf8(), row.utf8);
    }
}

TEST(String, SearchAnswersLocationAndLength) {
    struct Row {
        const char* name;
        const char* hay;
        const char* needle;
        unsigned options;
        Range range;
    } rows[] = {
        {"absent", "abcabc", "x", 0, {NotFound, 0}},
        {"empty needle", "abc", "", 0, {NotFound, 0}},
        {"first", "abcabc", "bc", 0, {1, 2}},
        {"backwards", "abcabc", "bc", BackwardsSearch, {4, 2}},
        {"anchored", "abcabc", "ab", AnchoredSearch, {0, 2}},
        {"anchored absent", "abcabc", "bc", AnchoredSearch, {NotFound, 0}},
        {"anchored backwards", "abcabc", "bc", AnchoredSearch | BackwardsSearch, {4, 2}},
        {"anchored backwards absent", "abcabc", "ab", AnchoredSearch | BackwardsSearch, {NotFound, 0}},
        {"needle longer than the text", "ab", "abc", AnchoredSearch | BackwardsSearch, {NotFound, 0}},
        {"any case", "\xC3\x81ngel \xC3\x81NGEL", "\xC3\xA1ngel", CaseInsensitiveSearch | BackwardsSearch, {6, 5}},
        {"any case absent", "\xC3\x81ngel", "angel", CaseInsensitiveSearch, {NotFound, 0}},
        {"after a pair", "\xF0\x9F\x98\x80x", "x", 0, {2, 1}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Range r = str(row.hay)->rangeOfString(row.needle, row.options);
        EXPECT_EQ(r.location, row.range.location);
        EXPECT_EQ(r.length, row.range.length);
    }
}

TEST(String, SearchesWithAndWithoutCase) {
    auto s = str("Tell me about YOURSELF, \xC3\x81ngel");
    EXPECT_EQ(s->rangeOfString("yourself", CaseInsensitiveSearch).location, 14u);
    EXPECT_EQ(s->rangeOfString("yourself").location, NotFound);
    EXPECT_TRUE(s->containsString("\xC3\xA1ngel", CaseInsensitiveSearch));
    EXPECT_EQ(str("\xC3\x89TAT")->lowercaseString()->utf8(), "\xC3\xA9tat");
    EXPECT_EQ(str("a")->compare(*str("B"), CaseInsensitiveSearch), ComparisonResult::Ascending);
}

TEST(String, EditsAndPaths) {
    auto m = MutableString::make("hello");
    m->insertStringAtIndex("\xF0\x9F\x98\x80", 5);
    EXPECT_EQ(m->length(), 7u);
    m->deleteCharactersInRange({0, 1});
    EXPECT_EQ(m->utf8(), "ello\xF0\x9F\x98\x80");
    // Growing past the inline capacity and shrinking keep the text in view
    // and NUL-terminated for c_str().
    m->appendString(std::string(100, 'z'));
    m->replaceOccurrencesOfString("z", "");
    EXPECT_STREQ(m->c_str(), "ello\xF0\x9F\x98\x80");
    EXPECT_EQ(m->length(), 6u);
    auto parts = str("a,b,,c")->componentsSeparatedByString(",");
    EXPECT_EQ(parts->count(), 4u);
    EXPECT_EQ(str("/x/y/file.plist")->lastPathComponent()->utf8(), "file.plist");
    EXPECT_EQ(str("/x/y/file.plist")->pathExtension()->utf8(), "plist");
    EXPECT_EQ(str("/x/y/file.plist")->stringByDeletingPathExtension()->utf8(), "/x/y/file");
    EXPECT_EQ(str("/x/y")->stringByAppendingPathComponent("z")->utf8(), "/x/y/z");
    EXPECT_EQ(str("  42abc")->intValue(), 42);
    EXPECT_TRUE(str("YES")->boolValue());
    EXPECT_FALSE(str("0")->boolValue());
}

TEST(String, MutableKeyIsCopiedIntoDictionary) {
    auto key = MutableString::make("k");
    auto d = MutableDictionary::make();
    d->setObjectForKey(str("v"), key);
    key->setString("changed");
    EXPECT_TRUE(d->objectForKey("k"));
    EXPECT_FALSE(d->objectForKey("changed"));
}
