#include "platform/foundation/DoubleFormat.h"

#include "platform/foundation/DecimalDigits.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace ns {

namespace {

using u128 = unsigned __int128;

constexpr uint64_t kTen8 = 100000000ull;
constexpr uint64_t kTen16 = 10000000000000000ull;
constexpr uint64_t kTen17 = 100000000000000000ull;

struct PowersOfTen {
    u128 p[39];
    constexpr PowersOfTen() : p() {
        p[0] = 1;
        for (int i = 1; i < 39; ++i) p[i] = p[i - 1] * 10;
    }
};
constexpr PowersOfTen kPowers;

// 10^k as the nearest double, for -32 <= k <= 32: only a guess at the
// decimal exponent is made from it, which the exact arithmetic then checks.
struct NearPowersOfTen {
    double p[65];
    constexpr NearPowersOfTen() : p() {
        double up = 1, down = 1;
        p[32] = 1;
        for (int i = 1; i <= 32; ++i) {
            up *= 10;
            down /= 10;
            p[32 + i] = up;
            p[32 - i] = down;
        }
    }
};
constexpr NearPowersOfTen kNearPowers;

// round(num / den) to even, exactly.
u128 divideRounded(u128 num, u128 den) {
    u128 q = num / den, r = num % den;
    u128 rest = den - r;  // r against half of den, without doubling r
    if (r > rest || (r == rest && (q & 1))) ++q;
    return q;
}

// m * 2^e scaled by 10^p and rounded to an integer, exactly, when 10^p is
// a multiplier and 2^e a divisor (the usual magnitudes).
[[gnu::always_inline]] inline bool scaledDown(uint64_t m, int e, int p, uint64_t& q) {
    // Below 2^53 * 10^22 < 2^127; a shift of 1 to 127 bits, rounded to even.
    u128 num = u128(m) * kPowers.p[p];
    int s = -e;
    u128 rest = num & ((u128(1) << s) - 1), half = u128(1) << (s - 1);
    num >>= s;
    if (rest > half || (rest == half && (num & 1))) ++num;
    if (num > UINT64_MAX) return false;
    q = static_cast<uint64_t>(num);
    return true;
}

// scaled for the rest: 2^e a multiplier, or 10^p a divisor.
bool scaledOther(uint64_t m, int e, int p, uint64_t& q) {
    u128 num = m;
    if (p >= 0) {
        if (p > 22) return false;
        num *= kPowers.p[p];
        if (e < 0) return false;  // a shift beyond 127 bits
        if (e > 127 || (num >> (127 - e)) != 0) return false;
        num <<= e;
    } else {
        if (-p > 38) return false;
        u128 den = kPowers.p[-p];
        if (e >= 0) {
            if (e > 127 || (num >> (127 - e)) != 0) return false;
            num <<= e;
        } else {
            if (-e > 127) return false;
            u128 shift = u128(1) << -e;
            if (den > (~u128(0)) / shift) return false;
            den *= shift;
        }
        num = divideRounded(num, den);
    }
    if (num > UINT64_MAX) return false;
    q = static_cast<uint64_t>(num);
    return true;
}

// m * 2^e scaled by 10^p and rounded to an integer, exactly; false when the
// intermediate values would not fit 128 bits.
[[gnu::always_inline]] inline bool scaled(uint64_t m, int e, int p, uint64_t& q) {
    if (p >= 0 && p <= 22 && e < 0 && e >= -127) return scaledDown(m, e, p, q);
    return scaledOther(m, e, p, q);
}

// The 17 digits of |v| and its decimal exponent, or false outside the range
// worked exactly.
bool digitsOf(double v, uint64_t& digits, int& exponent) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    int biased = static_cast<int>((bits >> 52) & 0x7FF);
    uint64_t m = bits & ((uint64_t(1) << 52) - 1);
    int e;
    if (biased == 0) {
        e = -1074;
    } else {
        m |= uint64_t(1) << 52;
        e = biased - 1075;
    }
    // floor(log10(2) * binary exponent) is the decimal exponent or one
    // below it; the nearest double of the next power of ten tells which,
    // save near that power, where the tests below put a wrong guess right.
    int binaryExponent = e + 63 - __builtin_clzll(m);
    int k = (binaryExponent * 78913) >> 18;
    if (k >= -32 && k < 32 && std::fabs(v) >= kNearPowers.p[32 + k + 1]) ++k;
    for (int tries = 0; tries < 3; ++tries) {
        uint64_t q;
        if (!scaled(m, e, 16 - k, q)) return false;
        if (q >= kTen17) {
            if (q == kTen17) {  // rounding carried into an 18th digit
                digits = kTen16;
                exponent = k + 1;
                return true;
            }
            ++k;
        } else if (q < kTen16) {
            --k;
        } else if (q == kTen16) {
            // Exactly 10^16 may be a value just below it rounded up: one
            // more digit decides.
            uint64_t finer;
            if (!scaled(m, e, 17 - k, finer)) return false;
            bool below = finer < kTen17;
            digits = below ? finer : kTen16;
            exponent = below ? k - 1 : k;
            return true;
        } else {
            digits = q;
            exponent = k;
            return true;
        }
    }
    return false;
}

// Digits kept of the seventeen (1 to 17): trailing zeros are dropped, as %g
// does. `high` and `low` are eightDigitValues words.
inline int significantDigits(uint64_t high, uint64_t low) {
    if (low) return 9 + (63 - __builtin_clzll(low)) / 8 + 1;
    if (high) return 1 + (63 - __builtin_clzll(high)) / 8 + 1;
    return 1;
}

char* writeExponent(char* p, int x) {
    *p++ = 'e';
    *p++ = x < 0 ? '-' : '+';
    unsigned a = static_cast<unsigned>(x < 0 ? -x : x);
    if (a >= 100) {
        *p++ = static_cast<char>('0' + a / 100);
        a %= 100;
    }
    p[0] = static_cast<char>('0' + a / 10);
    p[1] = static_cast<char>('0' + a % 10);
    return p + 2;
}

}  // namespace

char* formatDouble17(double v, char* out) {
    char* p = out;
    if (v == 0) {
        if (std::signbit(v)) *p++ = '-';
        *p++ = '0';
        return p;
    }
    uint64_t digits;
    int x;
    if (!digitsOf(v, digits, x)) return std::to_chars(out, out + 32, v, std::chars_format::general, 17).ptr;
    if (v < 0) *p++ = '-';
    // The seventeen digits, with room to copy sixteen bytes from any of them.
    char d[40];
    uint64_t first = digits / kTen16, rest = digits % kTen16;
    uint64_t high = eightDigitValues(rest / kTen8), low = eightDigitValues(rest % kTen8);
    d[0] = static_cast<char>('0' + first);
    uint64_t highText = high + kAsciiZeros, lowText = low + kAsciiZeros;
    std::memcpy(d + 1, &highText, 8);
    std::memcpy(d + 9, &lowText, 8);
    const int used = significantDigits(high, low);
    if (x < -4 || x >= 17) {
        p[0] = d[0];
        p[1] = '.';
        std::memcpy(p + 2, d + 1, 16);
        p += used > 1 ? used + 1 : 1;
        return writeExponent(p, x);
    }
    if (x < 0) {
        std::memcpy(p, "0.000", 5);
        p += 1 - x;  // "0." and -x - 1 zeros
        std::memcpy(p, d, 17);
        return p + used;
    }
    const int whole = x + 1;
    std::memcpy(p, d, 17);
    if (used <= whole) return p + whole;
    p[whole] = '.';
    std::memcpy(p + whole + 1, d + whole, 16);
    return p + used + 1;
}

}  // namespace ns
