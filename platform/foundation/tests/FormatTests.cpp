#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "platform/foundation/Format.h"
#include "platform/foundation/Foundation.h"

using namespace ns;

TEST(Format, ObjectsAndNil) {
    auto name = str("Deck");
    Ref<String> nil;
    EXPECT_EQ(format("%@ has %ld items", name, 3L), "Deck has 3 items");
    EXPECT_EQ(format("[%@]", nil), "[(null)]");
    EXPECT_EQ(format("[%@]", nullptr), "[(null)]");
    EXPECT_EQ(format("%@", num(42)), "42");
    EXPECT_EQ(format("%@", *name), "Deck");
    EXPECT_EQ(format("%@", name.get()), "Deck");
    EXPECT_EQ(format("%@ %@", std::string("a"), "b"), "a b");
    EXPECT_EQ(format("%-6@|%6@", str("ab"), str("cd")), "ab    |    cd");
    EXPECT_EQ(formatString("%d%%", 50)->utf8(), "50%");
}

TEST(Format, DataIsNeverAFormat) {
    EXPECT_EQ(format("%@", str("100% %s %n %@")), "100% %s %n %@");
    EXPECT_EQ(format("%s", "%d%d%d"), "%d%d%d");
    EXPECT_EQ(format("%s", std::string_view("%x")), "%x");
}

TEST(Format, IntegersOfEveryWidth) {
    EXPECT_EQ(format("%d %i %ld %lld %qi %hi %li", -1, 2, -3L, -4LL, 5LL, short(-6), 7L), "-1 2 -3 -4 5 -6 7");
    EXPECT_EQ(format("%u %lu %llu %qu %hu", 1u, 2UL, ULLONG_MAX, 4ULL, (unsigned short)65535),
              "1 2 18446744073709551615 4 65535");
    EXPECT_EQ(format("%lld", LLONG_MIN), "-9223372036854775808");
    EXPECT_EQ(format("%hi", 70000), "4464");  // narrowed as printf does
    EXPECT_EQ(format("%hhu", 258), "2");
    EXPECT_EQ(format("%zu", size_t(7)), "7");
    EXPECT_EQ(format("%x %X %lx %o %#x %#o", 255, 255, 0xABCDEFUL, 8, 255, 8), "ff FF abcdef 10 0xff 010");
    EXPECT_EQ(format("%x", -1), "ffffffff");
    EXPECT_EQ(format("%lx", -1L), "ffffffffffffffff");
    EXPECT_EQ(format("%4.4x|%2.2x|%02X|%0.2X", 0xe9, 5, 10, 0xab), "00e9|05|0A|AB");
    EXPECT_EQ(format("%+d % d %05d %-5d| %20d", 3, 3, -42, 7, 1), "+3  3 -0042 7    |                    1");
    // Widths whose first digit is the first and the last a width may start with.
    EXPECT_EQ(format("%1d|%10d|%9d|%19s|%1.1s", 5, 5, 5, "x", "ab"),
              "5|         5|        5|                  x|a");
    EXPECT_EQ(format("%d %d", true, 'A'), "1 65");
    enum class Colour { Red = 2 };
    EXPECT_EQ(format("%d", Colour::Red), "2");
}

TEST(Format, FloatingPoint) {
    EXPECT_EQ(format("%f", 1.5), "1.500000");
    EXPECT_EQ(format("%.2lf %.5lf %.0f", 3.14159, 2.0, 2.5), "3.14 2.00000 2");
    EXPECT_EQ(format("%.17g", 0.1), "0.10000000000000001");
    EXPECT_EQ(format("%g %e", 100000.0, 1.0), "100000 1.000000e+00");
    EXPECT_EQ(format("%8.3f|%-8.1f|%+.1f", 3.14159, 2.0, 1.0), "   3.142|2.0     |+1.0");
    EXPECT_EQ(format("%f", 3), "3.000000");  // integer widened, not misread
    EXPECT_EQ(format("%.1f", 2.5f), "2.5");
}

TEST(Format, CharactersStringsAndPrecision) {
    EXPECT_EQ(format("%c%c%c", 'o', 'k', 33), "ok!");
    EXPECT_EQ(format("%C", char16_t(0xE9)), "\xC3\xA9");
    EXPECT_EQ(format("Expected '%s' after initial '%.1s'", "true", "true"), "Expected 'true' after initial 't'");
    std::string_view token("xyz123", 6);
    EXPECT_EQ(format("not '%*.*s'", 3, 3, token), "not 'xyz'");
    EXPECT_EQ(format("[%.*s]", 2, "abcdef"), "[ab]");
    EXPECT_EQ(format("[%*s]", -4, "ab"), "[ab  ]");
    EXPECT_EQ(format("%s", static_cast<const char*>(nullptr)), "(null)");
    // Precision never cuts a UTF-8 sequence in half.
    EXPECT_EQ(format("%.2s", "a\xC3\xA9"), "a");
    EXPECT_EQ(format("%.3s", "a\xC3\xA9"), "a\xC3\xA9");
    // Width counts characters, not bytes.
    EXPECT_EQ(format("%3s|", "\xC3\xA9"), "  \xC3\xA9|");
}

TEST(Format, PointersPercentAndPositions) {
    int x = 0;
    std::string p = format("%p", &x);
    EXPECT_EQ(p.substr(0, 2), "0x");
    EXPECT_EQ(p, format("%p", static_cast<const void*>(&x)));
    EXPECT_EQ(format("%p", static_cast<void*>(nullptr)), "0x0");
    EXPECT_EQ(format("100%%"), "100%");
    EXPECT_EQ(format("%2$@ %1$@", str("world"), str("hello")), "hello world");
}

TEST(Format, MismatchesPrintMarkersInsteadOfCrashing) {
    EXPECT_EQ(format("%d", 1.5), "%!d(double)");
    EXPECT_EQ(format("%d", str("x")), "%!d(String)");
    EXPECT_EQ(format("%s", 5), "%!s(int)");
    EXPECT_EQ(format("%@", 5), "%!@(int)");
    EXPECT_EQ(format("%d and %d", 1), "1 and %!d(MISSING)");
    EXPECT_EQ(format("%d", 1, 2.0), "1%!(EXTRA double)");
    EXPECT_EQ(format("%k", 1), "%!k(BADVERB)%!(EXTRA int)");
    EXPECT_EQ(format("50%"), "50%!(NOVERB)");
    EXPECT_EQ(format("%5"), "%!(NOVERB)");
    int count = 0;
    EXPECT_EQ(format("%n", &count), "%!n(REFUSED)");
    EXPECT_EQ(count, 0);
    EXPECT_EQ(format("%*d", "w", 3), "%!*(string)%!(EXTRA int)");
    EXPECT_EQ(format("%f", nullptr), "%!f(nil)");
}

TEST(Format, HugeWidthIsClamped) {
    std::string s = format("%*d", INT_MAX, 1);
    EXPECT_LE(s.size(), 4096u);
    EXPECT_EQ(s.back(), '1');
    EXPECT_LE(format("%99999999999999999999d", 1).size(), 4096u);
    EXPECT_LE(format("%*d|", LLONG_MIN, 1).size(), 4097u);
    EXPECT_EQ(format("%*d|", LLONG_MIN, 1).substr(0, 2), "1 ");
    EXPECT_LE(format("%.99999999f", 1.0).size(), 4200u);
}
