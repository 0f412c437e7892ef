// Runs of bytes read eight at a time, shared by both JSON readers: blanks
// (indentation) and the plain bytes of a string.
#pragma once

#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "runs are read eight bytes at a time, little-endian");

namespace json {

// The first byte from p on that is not a blank (' '), or `end`.
inline const uint8_t* skipBlanks(const uint8_t* p, const uint8_t* end) {
#if defined(__SSE2__)
    // Sixteen at a time: most indentation ends within the first sixteen, so
    // the loop mostly runs once and its exit is predicted.
    const __m128i blanks16 = _mm_set1_epi8(' ');
    while (end - p >= 16) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const unsigned others = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(w, blanks16))) & 0xFFFFu;
        if (others) return p + __builtin_ctz(others);
        p += 16;
    }
#endif
    constexpr uint64_t blanks = 0x2020202020202020ull;
    while (end - p >= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        if (w != blanks) return p + (__builtin_ctzll(w ^ blanks) >> 3);
        p += 8;
    }
    while (p < end && *p == ' ') ++p;
    return p;
}

// Marks (bit 7 of a byte) the quotation marks, backslashes, control bytes
// and bytes of 80 hex or more among 8 bytes read little-endian. Marks above
// the lowest one may be false; the lowest one is exact.
inline uint64_t specialBytes(uint64_t w) {
    constexpr uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    uint64_t quote = w ^ (ones * '"');
    uint64_t slash = w ^ (ones * '\\');
    uint64_t t = ((quote - ones) & ~quote) | ((slash - ones) & ~slash) | (w - ones * 0x20) | w;
    return t & highs;
}

// Steps over whole words of plain string bytes: the first byte from p on
// that specialBytes marks, when it lies in a word that ends by `end`; else
// the first byte after the last whole word (fewer than eight remain).
inline const uint8_t* skipPlainWords(const uint8_t* p, const uint8_t* end) {
    while (end - p >= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        if (uint64_t marks = specialBytes(w)) return p + (__builtin_ctzll(marks) >> 3);
        p += 8;
    }
    return p;
}

}  // namespace json
