#include "platform/foundation/String.h"

#include <clocale>
#include <cstdlib>
#include <cwctype>
#include <locale.h>

#include "platform/foundation/Array.h"
#include "platform/foundation/Exception.h"

namespace ns {

namespace {

// Decodes one code point at `i`; advances `i`. Malformed bytes decode as
// U+FFFD one byte at a time so a scan always terminates.
char32_t decodeAt(std::string_view s, size_t& i) {
    auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) { ++i; return b0; }
    int n = b0 >= 0xF8 ? -1 : b0 >= 0xF0 ? 3 : b0 >= 0xE0 ? 2 : b0 >= 0xC0 ? 1 : -1;
    if (n < 0 || i + static_cast<size_t>(n) >= s.size()) { ++i; return 0xFFFD; }
    char32_t cp = b0 & (0x3F >> n);
    for (int k = 1; k <= n; ++k) {
        auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) { ++i; return 0xFFFD; }
        cp = (cp << 6) | (b & 0x3F);
    }
    i += n + 1;
    return cp;
}

size_t unitsOf(char32_t cp) { return cp >= 0x10000 ? 2 : 1; }

locale_t utf8Locale() {
    static locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        return l;
    }();
    return loc;
}

std::string mapCase(std::string_view s, bool lower) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(lower ? std::tolower(c) : std::toupper(c)));
            ++i;
            continue;
        }
        char32_t cp = decodeAt(s, i);
        appendCodePoint(out, lower ? toLowerCodePoint(cp) : toUpperCodePoint(cp));
    }
    return out;
}

}  // namespace

char32_t toLowerCodePoint(char32_t cp) {
    if (cp < 0x80) return static_cast<char32_t>(std::tolower(static_cast<int>(cp)));
    locale_t l = utf8Locale();
    return l ? static_cast<char32_t>(towlower_l(static_cast<wint_t>(cp), l)) : cp;
}

char32_t toUpperCodePoint(char32_t cp) {
    if (cp < 0x80) return static_cast<char32_t>(std::toupper(static_cast<int>(cp)));
    locale_t l = utf8Locale();
    return l ? static_cast<char32_t>(towupper_l(static_cast<wint_t>(cp), l)) : cp;
}

void appendCodePoint(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool isValidUTF8(const void* bytes, size_t length) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    size_t i = 0;
    while (i < length) {
        unsigned char c = p[i];
        if (c < 0x80) { ++i; continue; }
        size_t n;
        char32_t min;
        if ((c & 0xE0) == 0xC0) { n = 1; min = 0x80; }
        else if ((c & 0xF0) == 0xE0) { n = 2; min = 0x800; }
        else if ((c & 0xF8) == 0xF0) { n = 3; min = 0x10000; }
        else return false;
        if (length - i <= n) return false;
        char32_t cp = c & (0x3F >> n);
        for (size_t k = 1; k <= n; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n + 1;
    }
    return true;
}

std::u16string utf8ToUTF16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        char32_t cp = decodeAt(s, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

bool utf16ToUTF8(std::u16string_view u, std::string& out) {
    for (size_t i = 0; i < u.size(); ++i) {
        char32_t c = u[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= u.size() || u[i + 1] < 0xDC00 || u[i + 1] > 0xDFFF) return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (u[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
        appendCodePoint(out, c);
    }
    return true;
}

Ref<String> String::fromBytes(const void* bytes, size_t length) {
    if (!isValidUTF8(bytes, length)) return nullptr;
    return make(std::string_view(static_cast<const char*>(bytes), length));
}

Ref<String> String::fromUTF16(std::u16string_view units) {
    std::string out;
    if (!utf16ToUTF8(units, out)) return nullptr;
    return make(out);
}

String* String::allocate(std::string_view utf8) {
    return placeWithText<String>(::operator new(sizeof(String) + utf8.size() + 1), utf8);
}

Ref<String> String::empty() {
    static String* shared = [] {
        String* s = allocate({});
        s->makeImmortal();
        return s;
    }();
    return Ref<String>(shared);
}

bool String::isEqual(const Object& other) const {
    if (this == &other) return true;
    auto* s = dynamic_cast<const String*>(&other);
    return s && s->view() == view();
}

size_t String::length() const {
    uint32_t cached = utf16Length_.load(std::memory_order_relaxed);
    if (cached != kUnknownLength) return cached;
    size_t n = 0;
    std::string_view s = view();
    for (size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) { ++n; ++i; continue; }
        n += unitsOf(decodeAt(s, i));
    }
    if (n < kUnknownLength) utf16Length_.store(static_cast<uint32_t>(n), std::memory_order_relaxed);
    return n;
}

size_t String::byteOffset(size_t index) const {
    std::string_view s = view();
    size_t units = 0, i = 0;
    while (i < s.size() && units < index) {
        size_t before = i;
        char32_t cp = decodeAt(s, i);
        size_t u = unitsOf(cp);
        if (units + u > index) return before;  // index falls inside a pair: its start
        units += u;
    }
    return i;
}

uint16_t String::characterAtIndex(size_t index) const {
    std::string_view s = view();
    size_t units = 0;
    for (size_t i = 0; i < s.size();) {
        char32_t cp = decodeAt(s, i);
        if (cp >= 0x10000) {
            char32_t v = cp - 0x10000;
            if (units == index) return static_cast<uint16_t>(0xD800 + (v >> 10));
            if (units + 1 == index) return static_cast<uint16_t>(0xDC00 + (v & 0x3FF));
            units += 2;
        } else {
            if (units == index) return static_cast<uint16_t>(cp);
            ++units;
        }
    }
    throw Exception("RangeException", "index " + std::to_string(index) + " beyond bounds " +
                                          std::to_string(units));
}

std::u16string String::utf16() const { return utf8ToUTF16(view()); }

Ref<String> String::substringWithRange(Range r) const {
    size_t len = length();
    size_t start = std::min(r.location, len);
    size_t end = r.length > len - start ? len : start + r.length;
    size_t b0 = byteOffset(start);
    // A cut inside a pair moves to the pair's start, so a result never
    // exceeds the asked length and never holds half a character.
    size_t b1 = byteOffset(end);
    return make(view().substr(b0, b1 - b0));
}

Ref<String> String::substringFromIndex(size_t index) const {
    return substringWithRange({index, NotFound / 2});
}

Ref<String> String::substringToIndex(size_t index) const { return substringWithRange({0, index}); }

bool String::hasPrefix(std::string_view s) const {
    return view().substr(0, s.size()) == s;
}

bool String::hasSuffix(std::string_view s) const {
    return length_ >= s.size() && view().substr(length_ - s.size()) == s;
}

namespace {
size_t unitsBefore(std::string_view s, size_t byte) {
    size_t n = 0;
    for (size_t i = 0; i < byte;) n += unitsOf(decodeAt(s, i));
    return n;
}
}  // namespace

Range String::rangeOfString(std::string_view needle, unsigned options) const {
    if (needle.empty()) return {NotFound, 0};
    std::string hay = (options & CaseInsensitiveSearch) ? mapCase(view(), true) : std::string();
    std::string low = (options & CaseInsensitiveSearch) ? mapCase(needle, true) : std::string();
    std::string_view h = (options & CaseInsensitiveSearch) ? std::string_view(hay) : view();
    std::string_view n = (options & CaseInsensitiveSearch) ? std::string_view(low) : needle;
    size_t pos;
    if (options & AnchoredSearch) {
        if (options & BackwardsSearch)
            pos = h.size() >= n.size() && h.substr(h.size() - n.size()) == n ? h.size() - n.size()
                                                                              : std::string_view::npos;
        else
            pos = h.substr(0, n.size()) == n ? 0 : std::string_view::npos;
    } else {
        pos = (options & BackwardsSearch) ? h.rfind(n) : h.find(n);
    }
    if (pos == std::string_view::npos) return {NotFound, 0};
    // Lower-casing can change byte lengths of some letters; map positions on
    // the folded text, which is what the match was made on.
    return {unitsBefore(h, pos), unitsBefore(n, n.size())};
}

ComparisonResult String::compare(const String& other, unsigned options) const {
    int c;
    if (options & CaseInsensitiveSearch) {
        c = mapCase(view(), true).compare(mapCase(other.view(), true));
    } else {
        c = view().compare(other.view());
    }
    return c < 0 ? ComparisonResult::Ascending : c > 0 ? ComparisonResult::Descending
                                                       : ComparisonResult::Same;
}

Ref<String> String::lowercaseString() const { return make(mapCase(view(), true)); }
Ref<String> String::uppercaseString() const { return make(mapCase(view(), false)); }

Ref<String> String::stringByReplacingOccurrencesOfString(std::string_view target,
                                                         std::string_view replacement) const {
    std::string_view text = view();
    if (target.empty()) return make(text);
    std::string out;
    size_t from = 0;
    for (;;) {
        size_t at = text.find(target, from);
        if (at == std::string_view::npos) break;
        out.append(text.substr(from, at - from));
        out.append(replacement);
        from = at + target.size();
    }
    out.append(text.substr(from));
    return make(out);
}

Ref<String> String::stringByAppendingString(std::string_view s) const {
    std::string out(view());
    out.append(s);
    return make(out);
}

Ref<String> String::stringByTrimmingWhitespace() const {
    std::string_view text = view();
    size_t b = text.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) return make("");
    size_t e = text.find_last_not_of(" \t\r\n");
    return make(text.substr(b, e - b + 1));
}

Ref<Array> String::componentsSeparatedByString(std::string_view sep) const {
    std::string_view text = view();
    auto out = MutableArray::make();
    if (sep.empty()) {
        out->addObject(make(text));
        return out;
    }
    size_t from = 0;
    for (;;) {
        size_t at = text.find(sep, from);
        if (at == std::string_view::npos) break;
        out->addObject(make(text.substr(from, at - from)));
        from = at + sep.size();
    }
    out->addObject(make(text.substr(from)));
    return out;
}

int String::intValue() const {
    long long v = longLongValue();
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int>(v);
}

long long String::longLongValue() const {
    const char* p = chars_;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
    errno = 0;
    long long v = std::strtoll(p, nullptr, 10);
    return v;
}

double String::doubleValue() const {
    const char* p = chars_;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
    return std::strtod(p, nullptr);
}

bool String::boolValue() const {
    const char* p = chars_;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
    if (*p == 'Y' || *p == 'y' || *p == 'T' || *p == 't') return true;
    if (*p == '+' || *p == '-') ++p;
    while (*p == '0') ++p;
    return *p >= '1' && *p <= '9';
}

Ref<String> String::lastPathComponent() const {
    std::string_view s = view();
    while (s.size() > 1 && s.back() == '/') s.remove_suffix(1);
    size_t slash = s.rfind('/');
    if (slash == std::string_view::npos || s == "/") return make(s);
    return make(s.substr(slash + 1));
}

Ref<String> String::pathExtension() const {
    Ref<String> lastComponent = lastPathComponent();
    std::string_view last = lastComponent->view();
    size_t dot = last.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return make("");
    return make(last.substr(dot + 1));
}

Ref<String> String::stringByDeletingLastPathComponent() const {
    std::string_view s = view();
    while (s.size() > 1 && s.back() == '/') s.remove_suffix(1);
    size_t slash = s.rfind('/');
    if (slash == std::string_view::npos) return make("");
    if (slash == 0) return make("/");
    return make(s.substr(0, slash));
}

Ref<String> String::stringByDeletingPathExtension() const {
    std::string_view text = view();
    size_t slash = text.rfind('/');
    size_t dot = text.rfind('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash + 2)) return make(text);
    if (slash == std::string_view::npos && dot == 0) return make(text);
    return make(text.substr(0, dot));
}

Ref<String> String::stringByAppendingPathComponent(std::string_view component) const {
    std::string s(view());
    if (!s.empty() && s.back() != '/') s.push_back('/');
    while (!component.empty() && component.front() == '/') component.remove_prefix(1);
    s.append(component);
    return make(s);
}

void MutableString::insertStringAtIndex(std::string_view s, size_t utf16Index) {
    if (utf16Index > length()) throw Exception("RangeException", "insert index beyond bounds");
    buffer_.insert(byteOffset(utf16Index), s);
    sync();
}

void MutableString::deleteCharactersInRange(Range r) {
    size_t len = length();
    if (r.location > len || r.length > len - r.location)
        throw Exception("RangeException", "range beyond bounds");
    size_t b0 = byteOffset(r.location);
    size_t b1 = byteOffset(r.end());
    buffer_.erase(b0, b1 - b0);
    sync();
}

void MutableString::replaceOccurrencesOfString(std::string_view target, std::string_view replacement) {
    buffer_ = stringByReplacingOccurrencesOfString(target, replacement)->view();
    sync();
}

}  // namespace ns
