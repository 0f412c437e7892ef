// The digits of a JSON number read in one pass, shared by both JSON readers:
// the mantissa (up to 19 significant digits, read eight at a time where
// possible), the power of ten it is to be scaled by, and its conversion to
// the nearest double where one arithmetic operation gives that exactly.
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "digits are read eight at a time, little-endian");

namespace json {

inline bool isDigit(uint8_t c) { return c >= '0' && c <= '9'; }

// Eight ASCII bytes read as one little-endian word: whether all are digits,
// and their value.
inline bool areEightDigits(uint64_t w) {
    return ((w & 0xF0F0F0F0F0F0F0F0ull) | (((w + 0x0606060606060606ull) & 0xF0F0F0F0F0F0F0F0ull) >> 4)) ==
           0x3333333333333333ull;
}
inline uint64_t eightDigitsValue(uint64_t w) {
    w -= 0x3030303030303030ull;
    w = w * 10 + (w >> 8);  // pairs of digits
    constexpr uint64_t mask = 0x000000FF000000FFull;
    return (((w & mask) * (100 + (1000000ull << 32))) + (((w >> 16) & mask) * (1 + (10000ull << 32)))) >> 32;
}

// How many of the eight bytes of `w` (first byte lowest) are digits before
// the first other byte (8 when all are). A carry out of a byte can only
// disturb the bytes after it, which are not counted.
inline int leadingDigits(uint64_t w) {
    const uint64_t other = ((w & 0xF0F0F0F0F0F0F0F0ull) | (((w + 0x0606060606060606ull) & 0xF0F0F0F0F0F0F0F0ull) >> 4)) ^
                           0x3333333333333333ull;
    return other ? __builtin_ctzll(other) / 8 : 8;
}

// What a scan gathered about the digits of a number token.
struct NumberDigits {
    uint64_t mantissa = 0;  // all digits, whole and fraction, as one integer
    int digits = 0;         // significant digits in the mantissa (leading zeros skipped), at most 19
    int scale = 0;          // power of ten to apply to the mantissa
    bool exact = true;      // false once a 20th significant digit was dropped
};

// Reads a run of digits into the mantissa, counting significant digits
// (more than 19 make the mantissa unusable for the exact path). Leading
// zeros are skipped, then eight digits at a time while they fit, then the
// fewer than eight before the end of the run in one step. Answers the first
// byte after the run (`end` when the run reaches it).
[[gnu::always_inline]] inline const uint8_t* gatherDigits(const uint8_t* p, const uint8_t* end, NumberDigits& n,
                                                          bool fraction) {
    static constexpr uint64_t kPowers[8] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
    if (n.mantissa == 0) {
        for (; p < end && *p == '0'; ++p)
            if (fraction) --n.scale;
    }
    uint64_t w;
    while (n.digits <= 19 - 8 && end - p >= 8 && (std::memcpy(&w, p, 8), areEightDigits(w))) {
        n.mantissa = n.mantissa * 100000000u + eightDigitsValue(w);
        n.digits += 8;
        if (fraction) n.scale -= 8;
        p += 8;
    }
    if (end - p >= 8) {
        std::memcpy(&w, p, 8);
        const int k = leadingDigits(w);
        if (k > 0 && k < 8 && n.digits + k <= 19) {
            // The k digits moved to the end of a word of '0' bytes.
            const uint64_t padded = (w << (8 * (8 - k))) | (0x3030303030303030ull >> (8 * k));
            n.mantissa = n.mantissa * kPowers[k] + eightDigitsValue(padded);
            n.digits += k;
            if (fraction) n.scale -= k;
            p += k;
        }
    }
    for (; p < end && isDigit(*p); ++p) {
        if (n.digits < 19) {
            n.mantissa = n.mantissa * 10 + static_cast<uint64_t>(*p - '0');
            if (n.mantissa) ++n.digits;
        } else {
            n.exact = false;
        }
        if (fraction) --n.scale;
    }
    return p;
}

// Reads the digits of an exponent (at least one at p), saturating the value
// at 100000 (far beyond any double). Answers the first byte after them.
inline const uint8_t* gatherExponent(const uint8_t* p, const uint8_t* end, int& e) {
    e = 0;
    for (; p < end && isDigit(*p); ++p)
        if (e < 100000) e = e * 10 + (*p - '0');
    return p;
}

// A mantissa of up to 19 digits with a power of ten within +-27 (17-digit
// texts of doubles): one operation in 64-bit extended precision, whose
// operands are exact, then rounded to double. The second rounding is correct
// unless the extended result lies within one unit of its last place of a
// point halfway between two doubles; those few are left to the caller.
inline bool longMantissaToDouble(uint64_t mantissa, int scale, double& out) {
    if constexpr (std::numeric_limits<long double>::digits != 64) {
        return false;
    } else {
        if (scale < -27 || scale > 27) return false;
        static constexpr long double kPowers[28] = {1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,
                                                    1e7L,  1e8L,  1e9L,  1e10L, 1e11L, 1e12L, 1e13L,
                                                    1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L, 1e20L,
                                                    1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L};
        const long double power = kPowers[scale < 0 ? -scale : scale];  // each exact
        long double x = static_cast<long double>(mantissa);
        x = scale < 0 ? x / power : x * power;
        uint64_t bits;
        std::memcpy(&bits, &x, sizeof bits);  // the 64-bit significand
        uint64_t below = bits & 0x7FF;        // the 11 bits a double drops
        if (below >= 0x3FF && below <= 0x401) return false;
        out = static_cast<double>(x);
        return true;
    }
}

// The nearest double of (-)mantissa x 10^scale when one operation gives it
// exactly: a mantissa of at most 2^53 with a power of ten of at most 22 by
// one multiplication or division of exact doubles, else the extended path
// above. False when neither applies; the caller then reads the text with a
// correctly rounded library conversion.
inline bool exactDouble(const NumberDigits& n, bool negative, double& out) {
    static constexpr double kPowers[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                           1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (!n.exact) return false;
    double d;
    if (n.mantissa <= (uint64_t(1) << 53) && n.scale >= -22 && n.scale <= 22) {
        d = static_cast<double>(n.mantissa);
        d = n.scale < 0 ? d / kPowers[-n.scale] : d * kPowers[n.scale];
    } else if (!longMantissaToDouble(n.mantissa, n.scale, d)) {
        return false;
    }
    out = negative ? -d : d;
    return true;
}

}  // namespace json
