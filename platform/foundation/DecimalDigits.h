// Decimal digits of integers without printf or a digit-by-digit loop: eight
// digits are made at once in the lanes of one 64-bit word. The writers use
// it for integers, and the seventeen-digit double formatter for its digits.
#pragma once

#include <cstdint>
#include <cstring>

namespace ns {

// The eight decimal digits of n < 10^8 as values 0-9 (not yet ASCII), the
// first in the lowest byte, so a little-endian store writes them in order.
// The number is split into halves of four digits, then pairs, then single
// digits, every lane at once, by multiplications with reciprocals that are
// exact in these ranges.
inline uint64_t eightDigitValues(uint64_t n) {
    uint64_t v = (n / 10000) | ((n % 10000) << 32);
    uint64_t hundreds = ((v * 10486) >> 20) & 0x0000007F0000007Full;  // v / 100 per 32-bit lane
    v = hundreds | ((v - hundreds * 100) << 16);
    uint64_t tens = ((v * 103) >> 10) & 0x000F000F000F000Full;  // v / 10 per 16-bit lane
    return tens | ((v - tens * 10) << 8);
}

inline constexpr uint64_t kAsciiZeros = 0x3030303030303030ull;

// The eight digits of n < 10^8 written at `out`, leading zeros included.
inline char* writeEightDigits(uint64_t n, char* out) {
    uint64_t text = eightDigitValues(n) + kAsciiZeros;
    std::memcpy(out, &text, 8);
    return out + 8;
}

// The digits of 0 < n < 10^8 without leading zeros. Writes eight bytes.
inline char* writeShortUnsigned(uint64_t n, char* out) {
    uint64_t values = eightDigitValues(n);
    int leadingZeros = __builtin_ctzll(values) / 8;  // zero digits are zero bytes
    uint64_t text = (values + kAsciiZeros) >> (leadingZeros * 8);
    std::memcpy(out, &text, 8);
    return out + 8 - leadingZeros;
}

// The decimal text of `n` at `out` (at least 24 bytes: whole groups of
// eight are written past the text's end); returns the end of the text.
inline char* formatUnsigned(uint64_t n, char* out) {
    constexpr uint64_t kTen8 = 100000000ull, kTen16 = 10000000000000000ull;
    if (n < 10) {
        *out = static_cast<char>('0' + n);
        return out + 1;
    }
    if (n < kTen8) return writeShortUnsigned(n, out);
    if (n < 100 * kTen8) {  // nine or ten digits (identifiers, times): one or two, then eight
        uint64_t high = n / kTen8;
        if (high >= 10) *out++ = static_cast<char>('0' + high / 10);
        *out++ = static_cast<char>('0' + high % 10);
        return writeEightDigits(n - high * kTen8, out);
    }
    if (n < kTen16) return writeEightDigits(n % kTen8, writeShortUnsigned(n / kTen8, out));
    char* p = writeShortUnsigned(n / kTen16, out);
    p = writeEightDigits(n / kTen8 % kTen8, p);
    return writeEightDigits(n % kTen8, p);
}

// The same for a signed value (the smallest 64-bit value included).
inline char* formatSigned(int64_t n, char* out) {
    uint64_t magnitude = static_cast<uint64_t>(n);
    if (n < 0) {
        *out++ = '-';
        magnitude = 0 - magnitude;
    }
    return formatUnsigned(magnitude, out);
}

}  // namespace ns
