#include <cmath>
#include <cstring>

#include "platform/foundation/PropertyListInternal.h"
#include "platform/foundation/String.h"

namespace ns::plist {

Ref<Error> makeError(long code, std::string message) {
    return Error::withDescription(kPropertyListErrorDomain, code, message);
}

// --- Base64 ---------------------------------------------------------------

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct DecodeTable {
    int8_t v[256];
    constexpr DecodeTable() : v() {
        for (int i = 0; i < 256; ++i) v[i] = -1;
        for (int i = 0; i < 64; ++i) v[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
        v[static_cast<unsigned char>(' ')] = -2;
        v[static_cast<unsigned char>('\t')] = -2;
        v[static_cast<unsigned char>('\r')] = -2;
        v[static_cast<unsigned char>('\n')] = -2;
        v[static_cast<unsigned char>('=')] = -3;
    }
};
constexpr DecodeTable kDecode;
}  // namespace

void appendBase64(std::string& out, const uint8_t* b, size_t n) {
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        uint32_t v = (uint32_t(b[i]) << 16) | (uint32_t(b[i + 1]) << 8) | b[i + 2];
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (n - i == 1) {
        uint32_t v = uint32_t(b[i]) << 16;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += "==";
    } else if (n - i == 2) {
        uint32_t v = (uint32_t(b[i]) << 16) | (uint32_t(b[i + 1]) << 8);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += '=';
    }
}

bool decodeBase64(std::string_view text, std::string& out) {
    out.clear();
    out.reserve(text.size() / 4 * 3 + 3);
    uint32_t acc = 0;
    int bits = 0;
    int pads = 0;
    for (unsigned char c : text) {
        int8_t v = kDecode.v[c];
        if (v == -2) continue;
        if (v == -3) {
            ++pads;
            continue;
        }
        if (v < 0 || pads) return false;  // bad character, or data after padding
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((acc >> bits) & 0xff);
        }
    }
    // Leftover bits must be the zero fill of a short final group.
    if (bits >= 6 || pads > 2) return false;
    return true;
}

// --- Dates ----------------------------------------------------------------

namespace {
// Days since 1970-01-01 of a proleptic Gregorian date (and back).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}
void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}
bool digits(std::string_view s, size_t at, size_t n, int& v) {
    if (at + n > s.size()) return false;
    v = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    return true;
}
unsigned daysInMonth(int y, int m) {
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[m - 1];
}
}  // namespace

bool parseDate(std::string_view s, double& sinceReference) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    if (!s.empty() && s.back() == 'Z') s.remove_suffix(1);
    int y = 0, mo = 1, d = 1, h = 0, mi = 0, sec = 0;
    if (!digits(s, 0, 4, y)) return false;
    size_t at = 4;
    auto part = [&](char sep, int& v) {
        if (at == s.size()) return true;  // shortened form ends here
        if (s[at] != sep || !digits(s, at + 1, 2, v)) return false;
        at += 3;
        return true;
    };
    if (!part('-', mo) || !part('-', d) || !part('T', h) || !part(':', mi) || !part(':', sec)) return false;
    if (at != s.size()) return false;
    if (mo < 1 || mo > 12 || d < 1 || static_cast<unsigned>(d) > daysInMonth(y, mo) || h > 23 || mi > 59 ||
        sec > 59)
        return false;
    int64_t days = daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
    double since1970 = static_cast<double>(days) * 86400.0 + h * 3600 + mi * 60 + sec;
    sinceReference = since1970 - 978307200.0;
    return true;
}

bool formatDate(double sinceReference, std::string& out) {
    if (!std::isfinite(sinceReference)) return false;
    double since1970 = std::floor(sinceReference + 978307200.0);
    // Four-digit years only: 0000-01-01 .. 9999-12-31.
    if (since1970 < -62167219200.0 || since1970 > 253402300799.0) return false;
    auto secs = static_cast<int64_t>(since1970);
    int64_t days = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
    int64_t rem = secs - days * 86400;
    int64_t y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(y), m, d,
                  static_cast<int>(rem / 3600), static_cast<int>(rem / 60 % 60), static_cast<int>(rem % 60));
    out += buf;
    return true;
}

// --- UTF-8 ----------------------------------------------------------------

bool validUTF8(const char* s, size_t n) {
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    const auto* end = p + n;
    while (p < end) {
        if (end - p >= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            if ((w & 0x8080808080808080ull) == 0) {
                p += 8;
                continue;
            }
        }
        unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        size_t len;
        uint32_t cp;
        if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (static_cast<size_t>(end - p) < len) return false;
        for (size_t i = 1; i < len; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are malformed.
        if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
            (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            return false;
        p += len;
    }
    return true;
}

}  // namespace ns::plist
