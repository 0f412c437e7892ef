#include "net/json/FJTokenScanner.h"

#include "net/json/ByteRuns.h"
#include "net/json/NumberDigits.h"

#include <cerrno>
#include <charconv>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the string scanner reads bytes little-endian");
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/String.h"

namespace json {

// ---------------------------------------------------------------------------
// Code point decoder

FJUTF8Result FJDecodeCodePointEx(const uint8_t* p, const uint8_t* end, const uint8_t** next,
                                 uint32_t* codePoint, bool* structurallyValid) {
    uint8_t lead = *p;
    if (lead < 0x80) {
        *next = p + 1;
        *structurallyValid = true;
        if (lead == 0) {
            *codePoint = 0xFFFD;
            return FJUTF8Illegal;
        }
        *codePoint = lead;
        return FJUTF8Valid;
    }
    // Continuation bytes announced: the run of 1 bits after the first bit.
    unsigned extra = 0;
    for (uint8_t m = 0x40; m && (lead & m); m >>= 1) ++extra;
    bool valid = lead >= 0xC2 && lead <= 0xF4 && extra >= 1 && extra <= 3;
    uint32_t cp = extra <= 3 ? (lead & (0x3Fu >> extra)) : 0;
    const uint8_t* q = p + 1;
    bool exhausted = false;
    for (unsigned i = 1; i <= extra; ++i, ++q) {
        if (q >= end) {
            exhausted = true;
            break;
        }
        uint8_t b = *q;
        if (b < 0x80 || b > 0xBF) {
            valid = false;
            break;
        }
        if (i == 1) {
            if ((lead == 0xE0 && b < 0xA0) || (lead == 0xED && b >= 0xA0) || (lead == 0xF0 && b < 0x90) ||
                (lead == 0xF4 && b >= 0x90))
                valid = false;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    *next = q;
    if (exhausted) {
        *structurallyValid = false;
        *codePoint = 0xFFFD;
        return valid ? FJUTF8SourceExhausted : FJUTF8Illegal;
    }
    if (!valid) {
        *structurallyValid = false;
        *codePoint = 0xFFFD;
        return FJUTF8Illegal;
    }
    *structurallyValid = true;
    if ((cp >= 0xD800 && cp <= 0xDFFF) || (cp >= 0xFDD0 && cp <= 0xFDEF) || (cp & 0xFFFE) == 0xFFFE ||
        cp > 0x10FFFF) {
        *codePoint = 0xFFFD;
        return FJUTF8Illegal;
    }
    *codePoint = cp;
    return FJUTF8Valid;
}

FJUTF8Result FJDecodeCodePoint(const uint8_t* p, const uint8_t* end, const uint8_t** next,
                               uint32_t* codePoint) {
    bool structural;
    return FJDecodeCodePointEx(p, end, next, codePoint, &structural);
}

// ---------------------------------------------------------------------------
// Managed buffer

uint8_t* FJManagedBuffer::grow(size_t requested) {
    size_t g = granule ? granule : 4096;
    size_t want = (requested + g - 1) / g * g;
    if (want <= length) return ptr;
    if ((flags & LocationMask) == Heap) {
        auto* p = static_cast<uint8_t*>(std::realloc(ptr, want));
        if (!p) {
            release();
            return nullptr;
        }
        ptr = p;
    } else {
        auto* p = static_cast<uint8_t*>(std::malloc(want));
        if (!p) return nullptr;
        if (ptr && length) std::memcpy(p, ptr, length);
        ptr = p;
        flags = Heap | MustFree;
    }
    length = want;
    return ptr;
}

void FJManagedBuffer::release() {
    if ((flags & LocationMask) == Heap && ptr) std::free(ptr);
    ptr = nullptr;
    length = 0;
    flags = 0;
}

// ---------------------------------------------------------------------------
// Errors

ns::Ref<ns::Error> FJMakeError(const std::string& description) {
    return ns::Error::withDescription(FJErrorDomain, FJErrorCode, description);
}

void FJRecordError(FJParseState& s, const char* format, ...) {
    if (s.error) return;
    char small[512];
    va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(small, sizeof small, format, ap);
    va_end(ap);
    std::string message;
    if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
        message.assign(small, static_cast<size_t>(n));
    } else if (n >= 0) {
        message.resize(static_cast<size_t>(n) + 1);
        va_start(ap, format);
        std::vsnprintf(message.data(), message.size(), format, ap);
        va_end(ap);
        message.resize(static_cast<size_t>(n));
    }
    auto info = ns::Dictionary::make({
        {ns::kLocalizedDescriptionKey, ns::String::make(std::move(message))},
        {FJAtIndexKey, ns::Number::numberWithUnsignedLongLong(s.atIndex)},
        {FJLineNumberKey, ns::Number::numberWithUnsignedLongLong(s.lineNumber)},
    });
    s.error = ns::make<ns::Error>(FJErrorDomain, FJErrorCode, std::move(info));
}

// ---------------------------------------------------------------------------
// Whitespace

namespace {

// Length of a line break at p (0 when none).
inline size_t lineBreakAt(const FJParseState& s, const uint8_t* p, const uint8_t* end) {
    uint8_t c = *p;
    if (c == '\n') return 1;
    if (c == '\r') return (p + 1 < end && p[1] == '\n') ? 2 : 1;
    if (s.options & FJParseFlagUnicodeLineBreaks) {
        if (c == 0xC2 && p + 1 < end && p[1] == 0x85) return 2;
        if (c == 0xE2 && p + 2 < end && p[1] == 0x80 && (p[2] == 0xA8 || p[2] == 0xA9)) return 3;
    }
    return 0;
}

}  // namespace

void FJSkipWhitespace(FJParseState& s) {
    const uint8_t* const begin = s.input;
    const uint8_t* const end = begin + s.length;
    const uint8_t* p = begin + s.atIndex;
    while (p < end) {
        uint8_t c = *p;
        if (c == ' ') {
            p = skipBlanks(p + 1, end);  // indentation comes in runs of blanks
            continue;
        }
        if (c == '\t') {
            ++p;
            continue;
        }
        if (c == '\n') {
            ++p;
            ++s.lineNumber;
            s.lineStart = static_cast<size_t>(p - begin);
            continue;
        }
        if (c > ' ' && c != '/' && c < 0x80) break;  // the start of a token
        if (size_t n = lineBreakAt(s, p, end)) {
            p += n;
            ++s.lineNumber;
            s.lineStart = static_cast<size_t>(p - begin);
            continue;
        }
        if (c == '/' && (s.options & FJParseFlagComments) && p + 1 < end && (p[1] == '/' || p[1] == '*')) {
            if (p[1] == '/') {
                p += 2;
                while (p < end) {
                    if (size_t n = lineBreakAt(s, p, end)) {
                        p += n;
                        ++s.lineNumber;
                        s.lineStart = static_cast<size_t>(p - begin);
                        break;
                    }
                    ++p;
                }
            } else {
                p += 2;
                while (p < end) {
                    if (*p == '*' && p + 1 < end && p[1] == '/') {
                        p += 2;
                        break;
                    }
                    if (size_t n = lineBreakAt(s, p, end)) {
                        p += n;
                        ++s.lineNumber;
                        s.lineStart = static_cast<size_t>(p - begin);
                        continue;
                    }
                    ++p;
                }
            }
            continue;
        }
        break;
    }
    s.atIndex = static_cast<size_t>(p - begin);
}

// ---------------------------------------------------------------------------
// Strings

namespace {

// Byte classes for the string fast path.
enum : uint8_t { kPlain = 0, kQuote = 1, kBackslash = 2, kControl = 3, kHigh = 4 };

struct ByteClasses {
    uint8_t c[256];
    constexpr ByteClasses() : c{} {
        for (int i = 0; i < 256; ++i) c[i] = i < 0x20 ? kControl : i >= 0x80 ? kHigh : kPlain;
        c[uint8_t('"')] = kQuote;
        c[uint8_t('\\')] = kBackslash;
    }
};
constexpr ByteClasses kClasses;

#define FJ_INVALID_STRING "Invalid string."
const char* const kResizeFailed = "Internal error: Unable to resize temporary buffer. %s line #%ld";

class StringWriter {
public:
    explicit StringWriter(FJParseState& s) : s_(s), buf_(s.tokenBuffer) {}
    size_t written = 0;

    // Keeps at least 16 free bytes ahead of the write position.
    bool reserve() {
        if (buf_.length - written >= 16) return true;
        if (!buf_.grow(written + 1024)) {
            FJRecordError(s_, kResizeFailed, __FILE__, static_cast<long>(__LINE__));
            return false;
        }
        return true;
    }
    void put(uint8_t b) { buf_.ptr[written++] = b; }
    // Appends a code point as UTF-8, after the acceptability test.
    bool putCodePoint(uint32_t cp) {
        bool ok = (cp >= 1 && cp <= 0xD7FF) || (cp >= 0xE000 && cp <= 0xFDCF) ||
                  (cp > 0xFDEF && cp <= 0x10FFFF && (cp & 0xFFFE) != 0xFFFE);
        if (!ok) {
            if (!(s_.options & FJParseFlagLooseUnicode)) {
                FJRecordError(s_, "Illegal \\u Unicode escape sequence.");
                return false;
            }
            cp = 0xFFFD;
        }
        if (buf_.length - written < 4) {
            FJRecordError(s_, "Internal error: Unable to add UTF8 sequence to internal string buffer. %s line #%ld",
                          __FILE__, static_cast<long>(__LINE__));
            return false;
        }
        if (cp < 0x80) {
            put(static_cast<uint8_t>(cp));
        } else if (cp < 0x800) {
            put(static_cast<uint8_t>(0xC0 | (cp >> 6)));
            put(static_cast<uint8_t>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            put(static_cast<uint8_t>(0xE0 | (cp >> 12)));
            put(static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F)));
            put(static_cast<uint8_t>(0x80 | (cp & 0x3F)));
        } else {
            put(static_cast<uint8_t>(0xF0 | (cp >> 18)));
            put(static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F)));
            put(static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F)));
            put(static_cast<uint8_t>(0x80 | (cp & 0x3F)));
        }
        return true;
    }

private:
    FJParseState& s_;
    FJManagedBuffer& buf_;
};

inline int hexValue(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

enum class HexResult { Ok, End, Bad };

// Reads four hex digits at p (advancing it) into unit.
HexResult readHex4(FJParseState& s, const uint8_t*& p, const uint8_t* end, uint32_t& unit) {
    unit = 0;
    for (int i = 0; i < 4; ++i) {
        if (p >= end) return HexResult::End;
        int v = hexValue(*p);
        if (v < 0) {
            FJRecordError(s,
                          "Unexpected character found in \\u Unicode escape sequence.  Found '%c', expected "
                          "[0-9a-fA-F].",
                          *p);
            return HexResult::Bad;
        }
        unit = (unit << 4) | static_cast<uint32_t>(v);
        ++p;
    }
    return HexResult::Ok;
}

// Length of a valid 2-, 3- or 4-byte UTF-8 sequence at p, or 0 when the
// full decoder must look at it.
inline size_t shortSequence(const uint8_t* p, const uint8_t* end) {
    uint8_t b0 = p[0];
    if (b0 >= 0xC2 && b0 <= 0xDF) return (end - p >= 2 && (p[1] & 0xC0) == 0x80) ? 2 : 0;
    if ((b0 & 0xF0) == 0xE0 && end - p >= 3 && (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80) {
        if (b0 == 0xE0 && p[1] < 0xA0) return 0;
        if (b0 == 0xED && p[1] >= 0xA0) return 0;
        if (b0 == 0xEF && (p[1] == 0xBF || p[1] == 0xB7)) return 0;  // U+FDxx and U+FFxx: check in full
        return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4 && end - p >= 4 && (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80 &&
        (p[3] & 0xC0) == 0x80) {
        if (b0 == 0xF0 && p[1] < 0x90) return 0;
        if (b0 == 0xF4 && p[1] >= 0x90) return 0;
        if ((p[1] & 0x0F) == 0x0F && p[2] == 0xBF && p[3] >= 0xBE) return 0;  // U+xFFFE, U+xFFFF
        return 4;
    }
    return 0;
}

bool failString(FJParseState& s) {
    FJRecordError(s, FJ_INVALID_STRING);
    return false;
}

// Decodes a string that holds escapes or needs repair into the token buffer.
// `p` is the byte that caused the switch; [begin, p) is already scanned.
bool scanStringSlow(FJParseState& s, const uint8_t* begin, const uint8_t* p) {
    const uint8_t* const end = s.input + s.length;
    const bool loose = s.options & FJParseFlagLooseUnicode;
    StringWriter w(s);
    size_t scanned = static_cast<size_t>(p - begin);
    if (s.tokenBuffer.length < scanned + 16 && !s.tokenBuffer.grow(scanned + 1024)) {
        FJRecordError(s, kResizeFailed, __FILE__, static_cast<long>(__LINE__));
        return failString(s);
    }
    if (scanned) std::memcpy(s.tokenBuffer.ptr, begin, scanned);
    w.written = scanned;

    while (true) {
        if (!w.reserve()) return failString(s);
        if (p >= end) return failString(s);
        uint8_t c = *p;
        if (c == '"') {
            s.token.value.bytes = s.tokenBuffer.ptr;
            s.token.value.size = w.written;
            s.token.value.hash = FJHashBytes(s.tokenBuffer.ptr, w.written);
            s.token.value.type = FJValueTypeString;
            s.token.ptr = begin - 1;
            s.token.length = static_cast<size_t>(p + 1 - (begin - 1));
            s.token.kind = FJTokenType::String;
            s.atIndex = static_cast<size_t>(p + 1 - s.input);
            return true;
        }
        if (c == '\\') {
            ++p;
            if (p >= end) return failString(s);
            c = *p;
            uint8_t out;
            switch (c) {
                case 'b': out = 0x08; break;
                case 'f': out = 0x0C; break;
                case 'n': out = 0x0A; break;
                case 'r': out = 0x0D; break;
                case 't': out = 0x09; break;
                case '"': case '/': case '\\': out = c; break;
                case 'u': {
                    ++p;
                    uint32_t first, cp;
                    HexResult r = readHex4(s, p, end, first);
                    if (r != HexResult::Ok) return failString(s);
                    if (first >= 0xDC00 && first <= 0xDFFF) {
                        if (!loose) {
                            FJRecordError(s, "Illegal \\u Unicode escape sequence.");
                            return failString(s);
                        }
                        cp = 0xFFFD;
                    } else if (first >= 0xD800 && first <= 0xDBFF) {
                        if (p >= end || (p[0] == '\\' && p + 1 >= end)) return failString(s);
                        if (p[0] != '\\' || p[1] != 'u') {
                            if (!loose) {
                                FJRecordError(s,
                                              "Required a second \\u Unicode escape sequence following a "
                                              "surrogate \\u Unicode escape sequence.");
                                return failString(s);
                            }
                            // The bytes after the first escape are scanned again as ordinary text.
                            if (!w.putCodePoint(0xFFFD)) return failString(s);
                            continue;
                        }
                        p += 2;
                        uint32_t second;
                        r = readHex4(s, p, end, second);
                        if (r != HexResult::Ok) return failString(s);
                        if (second >= 0xDC00 && second <= 0xDFFF) {
                            cp = (first - 0xD800) * 0x400 + (second - 0xDC00) + 0x10000;
                        } else if (loose) {
                            cp = 0xFFFD;
                        } else {
                            FJRecordError(s, "Illegal \\u Unicode escape sequence.");
                            return failString(s);
                        }
                    } else {
                        cp = first;
                    }
                    if (!w.putCodePoint(cp)) return failString(s);
                    continue;
                }
                default:
                    FJRecordError(s, "Invalid escape sequence found in \"\" string.");
                    return failString(s);
            }
            w.put(out);
            ++p;
            continue;
        }
        if (c < 0x20) {
            FJRecordError(s, "Invalid character < 0x20 found in string: 0x%2.2x.", c);
            return failString(s);
        }
        if (c < 0x80) {
            // A run of plain bytes, found eight at a time and copied at once.
            const uint8_t* run = skipPlainWords(p + 1, end);
            if (end - run < 8)
                while (run < end && kClasses.c[*run] == kPlain) ++run;
            const size_t n = static_cast<size_t>(run - p);
            if (s.tokenBuffer.length - w.written < n + 16 && !s.tokenBuffer.grow(w.written + n + 1024)) {
                FJRecordError(s, kResizeFailed, __FILE__, static_cast<long>(__LINE__));
                return failString(s);
            }
            std::memcpy(s.tokenBuffer.ptr + w.written, p, n);
            w.written += n;
            p = run;
            continue;
        }
        if (size_t n = shortSequence(p, end)) {  // a valid sequence, copied as it is
            for (size_t i = 0; i < n; ++i) w.put(p[i]);
            p += n;
            continue;
        }
        const uint8_t* next;
        uint32_t cp;
        FJUTF8Result r = FJDecodeCodePoint(p, end, &next, &cp);
        if (r == FJUTF8Valid) {
            while (p < next) w.put(*p++);
            continue;
        }
        if (r == FJUTF8SourceExhausted) {
            FJRecordError(s, "End of buffer reached while parsing UTF8 in \"\" string.");
            return failString(s);
        }
        if (!loose) {
            FJRecordError(s, "Illegal UTF8 sequence found in \"\" string.");
            return failString(s);
        }
        if (!w.putCodePoint(0xFFFD)) return failString(s);
        p = next;
    }
}

// The at index stands on the opening quotation mark.
bool scanString(FJParseState& s) {
    const uint8_t* const end = s.input + s.length;
    const uint8_t* const begin = s.input + s.atIndex + 1;
    const uint8_t* p = begin;
    while (true) {
        // Plain bytes, eight at a time while the input lasts.
        bool found = false;
        uint8_t c = 0;
        while (end - p >= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            if (uint64_t marks = specialBytes(w)) {
                const unsigned bit = __builtin_ctzll(marks);
                p += bit >> 3;
                c = static_cast<uint8_t>(w >> (bit & ~7u));  // the byte found, without reading it again
                found = true;
                break;
            }
            p += 8;
        }
        if (!found) {
            while (p < end && kClasses.c[*p] == kPlain) ++p;
            if (p >= end) return failString(s);
            c = *p;
        }
        uint8_t cls = kClasses.c[c];
        if (cls == kQuote) {
            size_t size = static_cast<size_t>(p - begin);
            s.token.value.bytes = begin;
            s.token.value.size = size;
            s.token.value.hash = FJHashBytes(begin, size);
            s.token.value.type = FJValueTypeString;
            s.token.ptr = begin - 1;
            s.token.length = size + 2;
            s.token.kind = FJTokenType::String;
            s.atIndex = static_cast<size_t>(p + 1 - s.input);
            return true;
        }
        if (cls == kControl) {
            FJRecordError(s, "Invalid character < 0x20 found in string: 0x%2.2x.", *p);
            return failString(s);
        }
        if (cls == kBackslash) return scanStringSlow(s, begin, p);
        // A byte of 80 hex or more: whole valid sequences stay on the fast
        // path, a run of them (text in most scripts) without going back to
        // the eight-byte test between them.
        do {
            if (size_t n = shortSequence(p, end)) {
                p += n;
                continue;
            }
            const uint8_t* next;
            uint32_t cp;
            if (FJDecodeCodePoint(p, end, &next, &cp) != FJUTF8Valid) return scanStringSlow(s, begin, p);
            p = next;
        } while (p < end && *p >= 0x80);
    }
}

// ---------------------------------------------------------------------------
// Numbers

bool invalidNumber(FJParseState& s, const uint8_t* p) {
    s.atIndex = static_cast<size_t>(p - s.input);
    FJRecordError(s, "Invalid number.");
    return false;
}

// What the scan gathered about a number token while reading it.
struct NumberScan : NumberDigits {
    const char* text = nullptr;  // the token
    size_t length = 0;
    bool negative = false;
    bool floating = false;  // a fraction or an exponent
};

void hashNumber(FJTokenValue& v) {
    v.hash = FJHashNumber(v.number.bits, v.type);
    v.size = 8;
    v.bytes = nullptr;
}

// Doubles: exactly by one operation where that suffices (NumberDigits.h),
// else by the library conversion.
bool convertDouble(FJParseState& s, const NumberScan& n) {
    FJTokenValue& v = s.token.value;
    double d = 0;
    if (!exactDouble(n, n.negative, d)) {
        auto r = std::from_chars(n.text, n.text + n.length, d);
        if (r.ec == std::errc::result_out_of_range) {
            std::string copy(n.text, n.length);
            double e = std::strtod(copy.c_str(), nullptr);
            FJRecordError(s, "The value '%s' could not be represented as a 'double' due to %s.", copy.c_str(),
                          e == 0.0 ? "underflow" : "overflow");
            return false;
        }
        if (r.ec != std::errc() || r.ptr != n.text + n.length) {
            FJRecordError(s, "The conversion function did not consume all of the number tokens characters.");
            return false;
        }
    }
    v.type = FJValueTypeDouble;
    v.number.doubleValue = d;
    return true;
}

// Integers: the gathered mantissa when it has at most 19 digits (which
// always fit), a checked reading of the text otherwise.
bool convertInteger(FJParseState& s, const NumberScan& n) {
    FJTokenValue& v = s.token.value;
    const char* digits = n.text + (n.negative ? 1 : 0);
    const size_t count = n.length - (n.negative ? 1 : 0);
    uint64_t m = n.mantissa;
    bool fits = true;
    if (count > 19) {
        m = 0;
        for (size_t i = 0; i < count && fits; ++i)
            fits = !__builtin_mul_overflow(m, 10u, &m) &&
                   !__builtin_add_overflow(m, static_cast<uint64_t>(digits[i] - '0'), &m);
    }
    if (n.negative) {
        if (!fits || m > uint64_t(INT64_MAX) + 1) {  // magnitude up to 2^63
            FJRecordError(s, "The value '%s' exceeded the minimum value that could be represented: %lld.",
                          std::string(n.text, n.length).c_str(), static_cast<long long>(INT64_MIN));
            return false;
        }
        v.type = FJValueTypeLongLong;
        v.number.longLongValue = static_cast<int64_t>(0 - m);
    } else {
        if (!fits) {
            FJRecordError(s, "The value '%s' exceeded the maximum value that could be represented: %llu.",
                          std::string(n.text, n.length).c_str(), static_cast<unsigned long long>(UINT64_MAX));
            return false;
        }
        v.type = FJValueTypeUnsignedLongLong;
        v.number.unsignedLongLongValue = m;
    }
    return true;
}

// One pass over the token: its grammar, the mantissa, the power of ten.
bool scanNumber(FJParseState& s) {
    const uint8_t* const end = s.input + s.length;
    const uint8_t* const start = s.input + s.atIndex;
    const uint8_t* p = start;
    NumberScan n;
    n.text = reinterpret_cast<const char*>(start);
    if (*p == '-') {
        n.negative = true;
        ++p;
        if (p >= end) return invalidNumber(s, p);
    }
    if (*p == '0') {
        ++p;
    } else if (*p >= '1' && *p <= '9') {
        p = gatherDigits(p, end, n, false);
    } else {
        return invalidNumber(s, p);
    }
    if (p >= end) return invalidNumber(s, p);
    if (*p == '.') {
        n.floating = true;
        ++p;
        if (p >= end || !isDigit(*p)) return invalidNumber(s, p);
        p = gatherDigits(p, end, n, true);
        if (p >= end) return invalidNumber(s, p);
    }
    if (*p == 'e' || *p == 'E') {
        n.floating = true;
        ++p;
        if (p >= end) return invalidNumber(s, p);
        bool minus = false;
        if (*p == '+' || *p == '-') {
            minus = *p == '-';
            ++p;
            if (p >= end) return invalidNumber(s, p);
        }
        if (!isDigit(*p)) return invalidNumber(s, p);
        int e;
        p = gatherExponent(p, end, e);
        if (p >= end) return invalidNumber(s, p);
        n.scale += minus ? -e : e;
    }
    n.length = static_cast<size_t>(p - start);
    s.atIndex = static_cast<size_t>(p - s.input);
    s.token.ptr = start;
    s.token.length = n.length;
    s.token.kind = FJTokenType::Number;

    // "-0" is a double so that it keeps its sign.
    bool ok = n.floating || (n.length == 2 && n.negative && start[1] == '0') ? convertDouble(s, n)
                                                                             : convertInteger(s, n);
    if (!ok) {
        FJRecordError(s, "Invalid number.");
        return false;
    }
    hashNumber(s.token.value);
    return true;
}

bool unexpectedToken(FJParseState& s) {
    FJRecordError(s,
                  "Unexpected token, wanted '{', '}', '[', ']', ',', ':', 'true', 'false', 'null', '\"STRING\"', "
                  "'NUMBER'.");
    return false;
}

inline bool literal(FJParseState& s, const char* rest, size_t n, FJTokenType kind) {
    const uint8_t* p = s.input + s.atIndex;
    if (s.length - s.atIndex < n + 1 || std::memcmp(p + 1, rest, n) != 0) return unexpectedToken(s);
    s.token.ptr = p;
    s.token.length = n + 1;
    s.token.kind = kind;
    s.atIndex += n + 1;
    return true;
}

}  // namespace

bool FJReadScannedToken(FJParseState& s) {
    // Most tokens follow directly or after one blank (as after a colon),
    // which is stepped over here.
    if (s.atIndex < s.length) {
        uint8_t c = s.input[s.atIndex];
        if (c == ' ' && s.length - s.atIndex >= 2) {
            const uint8_t next = s.input[s.atIndex + 1];
            if (next > ' ' && next != '/' && next < 0x80) {
                ++s.atIndex;
                c = next;
            }
        }
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '/' || c >= 0x80) FJSkipWhitespace(s);
    }
    s.token.value.type = FJValueTypeNone;
    s.token.value.cacheItem = nullptr;
    if (s.atIndex >= s.length) return unexpectedToken(s);
    const uint8_t* p = s.input + s.atIndex;
    // Strings and numbers by plain tests and the one-byte tokens from a
    // table: a jump table whose target changes from token to token would
    // mispredict nearly every time.
    const uint8_t c = *p;
    if (c == '"') return scanString(s);
    if (uint8_t(c - '0') < 10 || c == '-') return scanNumber(s) || unexpectedToken(s);
    const FJTokenType single = FJOneByteTokenTable.kind[c];
    if (single == FJTokenType::Invalid) {
        switch (c) {
            case 't': return literal(s, "rue", 3, FJTokenType::True);
            case 'f': return literal(s, "alse", 4, FJTokenType::False);
            case 'n': return literal(s, "ull", 3, FJTokenType::Null);
            default: return unexpectedToken(s);
        }
    }
    s.token.ptr = p;
    s.token.length = 1;
    s.token.kind = single;
    s.atIndex += 1;
    return true;
}

}  // namespace json
