#include "platform/foundation/DoubleFormat.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace ns {

namespace {

using u128 = unsigned __int128;

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

// round(num / den) to even, exactly.
u128 divideRounded(u128 num, u128 den) {
    u128 q = num / den, r = num % den;
    u128 rest = den - r;  // r against half of den, without doubling r
    if (r > rest || (r == rest && (q & 1))) ++q;
    return q;
}

// m * 2^e scaled by 10^p and rounded to an integer, exactly; false when the
// intermediate values would not fit 128 bits.
bool scaled(uint64_t m, int e, int p, uint64_t& q) {
    u128 num = m;
    if (p >= 0) {
        if (p > 22) return false;
        num *= kPowers.p[p];  // below 2^53 * 10^22 < 2^127
        if (e >= 0) {
            if (e > 127 || (num >> (127 - e)) != 0) return false;
            num <<= e;
        } else {
            // Division by a power of two: a shift, rounded to even.
            int s = -e;
            if (s > 127) return false;
            u128 rest = num & ((u128(1) << s) - 1), half = u128(1) << (s - 1);
            num >>= s;
            if (rest > half || (rest == half && (num & 1))) ++num;
        }
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
    // log10(2) is just below 0.30103: the estimate may be one low, which
    // the loop below corrects.
    int binaryExponent = e + 63 - __builtin_clzll(m);
    int k = static_cast<int>(std::floor(binaryExponent * 0.30102999566398120));
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

char* writeExponent(char* p, int x) {
    *p++ = 'e';
    *p++ = x < 0 ? '-' : '+';
    unsigned a = static_cast<unsigned>(x < 0 ? -x : x);
    if (a < 10) *p++ = '0';
    return std::to_chars(p, p + 4, a).ptr;
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
    char d[17];
    for (int i = 16; i >= 0; --i) {
        d[i] = static_cast<char>('0' + digits % 10);
        digits /= 10;
    }
    int used = 17;  // trailing zeros are dropped, as %g does
    while (used > 1 && d[used - 1] == '0') --used;
    if (x < -4 || x >= 17) {
        *p++ = d[0];
        if (used > 1) {
            *p++ = '.';
            std::memcpy(p, d + 1, static_cast<size_t>(used - 1));
            p += used - 1;
        }
        return writeExponent(p, x);
    }
    if (x < 0) {
        *p++ = '0';
        *p++ = '.';
        for (int i = 0; i < -x - 1; ++i) *p++ = '0';
        std::memcpy(p, d, static_cast<size_t>(used));
        return p + used;
    }
    int whole = x + 1;
    std::memcpy(p, d, static_cast<size_t>(whole));
    p += whole;
    if (used > whole) {
        *p++ = '.';
        std::memcpy(p, d + whole, static_cast<size_t>(used - whole));
        p += used - whole;
    }
    return p;
}

}  // namespace ns
