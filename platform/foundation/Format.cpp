#include "platform/foundation/Format.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "platform/foundation/String.h"

namespace ns {

namespace {

// Widths and precisions beyond this are clamped, so "%*d" with a huge
// argument cannot ask for gigabytes.
constexpr int kMaxWidth = 4096;

struct Directive {
    bool left = false, plus = false, space = false, zero = false, alt = false;
    int width = -1;
    int precision = -1;
    int lengthBits = 0;  // 8 for hh, 16 for h, 0 otherwise
    char conv = 0;
};

const char* kindName(const FormatArg& a) {
    switch (a.kind) {
        case FormatArg::Kind::Signed: return a.size == 8 ? "long" : a.size == 2 ? "short" : a.size == 1 ? "schar" : "int";
        case FormatArg::Kind::Unsigned: return a.size == 8 ? "ulong" : a.size == 2 ? "ushort" : a.size == 1 ? "uchar" : "uint";
        case FormatArg::Kind::Char: return "char";
        case FormatArg::Kind::Bool: return "bool";
        case FormatArg::Kind::Double: return "double";
        case FormatArg::Kind::Text: return "string";
        case FormatArg::Kind::Object: return a.o->className();
        case FormatArg::Kind::Pointer: return "pointer";
        case FormatArg::Kind::Null: return "nil";
    }
    return "?";
}

void marker(std::string& out, char conv, const char* what) {
    out += "%!";
    if (conv) out += conv;
    out += '(';
    out += what;
    out += ')';
}

bool isInteger(const FormatArg& a) {
    using K = FormatArg::Kind;
    return a.kind == K::Signed || a.kind == K::Unsigned || a.kind == K::Char || a.kind == K::Bool;
}

// Number of UTF-8 code points (continuation bytes are not counted).
size_t displayLength(std::string_view s) {
    size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

void pad(std::string& out, std::string_view body, const Directive& sp) {
    size_t len = displayLength(body);
    size_t width = sp.width > 0 ? static_cast<size_t>(sp.width) : 0;
    if (len >= width) { out.append(body); return; }
    if (sp.left) { out.append(body); out.append(width - len, ' '); }
    else { out.append(width - len, ' '); out.append(body); }
}

// Cuts text to at most `max` bytes without leaving a partial UTF-8 sequence.
std::string_view cutText(std::string_view s, int max) {
    if (max < 0 || static_cast<size_t>(max) >= s.size()) return s;
    size_t cut = static_cast<size_t>(max);
    size_t back = cut;
    while (back > 0 && (static_cast<unsigned char>(s[back]) & 0xC0) == 0x80 && cut - back < 3) --back;
    if (back != cut) {
        // s[back] starts a sequence; keep it only if it ends before the cut.
        unsigned char lead = static_cast<unsigned char>(s[back]);
        size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (back + need > cut) cut = back;
    }
    return s.substr(0, cut);
}

void appendCode(std::string& out, uint64_t cp) {
    if (cp < 0x80) { out += static_cast<char>(cp); return; }
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    appendCodePoint(out, static_cast<char32_t>(cp));
}

std::string flagsOf(const Directive& sp, bool withZero) {
    std::string f = "%";
    if (sp.left) f += '-';
    if (sp.plus) f += '+';
    if (sp.space) f += ' ';
    if (sp.zero && withZero) f += '0';
    if (sp.alt) f += '#';
    if (sp.width >= 0) f += std::to_string(sp.width);
    if (sp.precision >= 0) { f += '.'; f += std::to_string(sp.precision); }
    return f;
}

template <class V>
void appendPrintf(std::string& out, const std::string& pattern, V value) {
    char buf[512];
    int n = std::snprintf(buf, sizeof buf, pattern.c_str(), value);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof buf) { out.append(buf, static_cast<size_t>(n)); return; }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), pattern.c_str(), value);
    out.append(big.data(), static_cast<size_t>(n));
}

void formatSigned(std::string& out, const Directive& sp, const FormatArg& a) {
    int64_t v = a.kind == FormatArg::Kind::Unsigned ? static_cast<int64_t>(a.u) : a.i;
    if (sp.lengthBits == 16) v = static_cast<int16_t>(v);
    else if (sp.lengthBits == 8) v = static_cast<int8_t>(v);
    appendPrintf(out, flagsOf(sp, true) + "lld", static_cast<long long>(v));
}

void formatUnsigned(std::string& out, const Directive& sp, const FormatArg& a, char conv) {
    uint64_t v = a.u;
    if (a.kind != FormatArg::Kind::Unsigned) {
        // A signed value is read as the unsigned type of its own width.
        int bits = a.size * 8;
        v = bits >= 64 ? static_cast<uint64_t>(a.i) : static_cast<uint64_t>(a.i) & ((uint64_t(1) << bits) - 1);
    }
    if (sp.lengthBits == 16) v = static_cast<uint16_t>(v);
    else if (sp.lengthBits == 8) v = static_cast<uint8_t>(v);
    Directive s = sp;
    s.plus = s.space = false;
    appendPrintf(out, flagsOf(s, true) + "ll" + conv, static_cast<unsigned long long>(v));
}

void formatDouble(std::string& out, const Directive& sp, double v, char conv) {
    appendPrintf(out, flagsOf(sp, true) + conv, v);
}

void formatText(std::string& out, const Directive& sp, std::string_view s) {
    pad(out, cutText(s, sp.precision), sp);
}

}  // namespace

void appendFormatArgs(std::string& out, std::string_view fmt, const FormatArg* args, size_t count) {
    using K = FormatArg::Kind;
    size_t next = 0;        // next sequential argument
    size_t highestUsed = 0; // one past the highest argument consumed
    auto take = [&](size_t index, const FormatArg*& arg) {
        if (index >= count) return false;
        arg = &args[index];
        highestUsed = std::max(highestUsed, index + 1);
        return true;
    };

    size_t i = 0;
    const size_t n = fmt.size();
    while (i < n) {
        size_t pct = fmt.find('%', i);
        if (pct == std::string_view::npos) { out.append(fmt.substr(i)); break; }
        out.append(fmt.substr(i, pct - i));
        i = pct + 1;
        if (i >= n) { out += "%!(NOVERB)"; break; }
        if (fmt[i] == '%') { out += '%'; ++i; continue; }

        Directive sp;
        // Positional argument: digits followed by '$'.
        long position = -1;
        {
            size_t j = i;
            long v = 0;
            while (j < n && fmt[j] >= '0' && fmt[j] <= '9' && v < 100000) v = v * 10 + (fmt[j++] - '0');
            if (j > i && j < n && fmt[j] == '$' && fmt[i] != '0') { position = v - 1; i = j + 1; }
        }
        for (; i < n; ++i) {
            char c = fmt[i];
            if (c == '-') sp.left = true;
            else if (c == '+') sp.plus = true;
            else if (c == ' ') sp.space = true;
            else if (c == '0') sp.zero = true;
            else if (c == '#') sp.alt = true;
            else if (c == '\'') {}  // grouping: accepted, not applied
            else break;
        }
        bool bad = false;
        auto readNumber = [&](int& into) {
            long v = 0;
            while (i < n && fmt[i] >= '0' && fmt[i] <= '9') {
                v = std::min<long>(v * 10 + (fmt[i] - '0'), kMaxWidth);
                ++i;
            }
            into = static_cast<int>(v);
        };
        auto readStar = [&](int& into, bool isWidth) {
            const FormatArg* a = nullptr;
            if (!take(next++, a)) { bad = true; marker(out, '*', "MISSING"); return; }
            if (!isInteger(*a)) { bad = true; marker(out, '*', kindName(*a)); return; }
            long long v = a->kind == K::Unsigned ? static_cast<long long>(std::min<uint64_t>(a->u, kMaxWidth)) : a->i;
            if (isWidth) {
                if (v < 0) { sp.left = true; v = v < -kMaxWidth ? kMaxWidth : -v; }
                into = static_cast<int>(std::min<long long>(v, kMaxWidth));
            } else {
                into = v < 0 ? -1 : static_cast<int>(std::min<long long>(v, kMaxWidth));
            }
        };
        if (i < n && fmt[i] == '*') { ++i; readStar(sp.width, true); }
        else if (i < n && fmt[i] >= '1' && fmt[i] <= '9') readNumber(sp.width);
        if (i < n && fmt[i] == '.') {
            ++i;
            if (i < n && fmt[i] == '*') { ++i; readStar(sp.precision, false); }
            else readNumber(sp.precision);
        }
        // Length modifiers.
        while (i < n) {
            char c = fmt[i];
            if (c == 'h') sp.lengthBits = sp.lengthBits == 16 ? 8 : 16;
            else if (c == 'l' || c == 'q' || c == 'L' || c == 'z' || c == 'j' || c == 't') {}
            else break;
            ++i;
        }
        if (i >= n) { out += "%!(NOVERB)"; break; }
        char conv = fmt[i++];
        sp.conv = conv;
        if (bad) continue;

        const FormatArg* a = nullptr;
        bool known = std::string_view("@diuxXoOcCsSfFeEgGaApDUn").find(conv) != std::string_view::npos;
        if (!known) { marker(out, conv, "BADVERB"); continue; }
        size_t index = position >= 0 ? static_cast<size_t>(position) : next++;
        if (!take(index, a)) { marker(out, conv, "MISSING"); continue; }
        if (conv == 'n') { marker(out, conv, "REFUSED"); continue; }  // never writes through it

        switch (conv) {
            case '@':
                if (a->kind == K::Object) formatText(out, sp, a->o->description());
                else if (a->kind == K::Null) formatText(out, sp, "(null)");
                else if (a->kind == K::Text) formatText(out, sp, a->text);
                else marker(out, conv, kindName(*a));
                break;
            case 'd': case 'i': case 'D':
                if (conv == 'D') sp.lengthBits = 0;
                if (isInteger(*a)) formatSigned(out, sp, *a);
                else marker(out, conv, kindName(*a));
                break;
            case 'u': case 'x': case 'X': case 'o': case 'U': case 'O':
                if (conv == 'U') conv = 'u';
                if (conv == 'O') conv = 'o';
                if (isInteger(*a)) formatUnsigned(out, sp, *a, conv);
                else marker(out, sp.conv, kindName(*a));
                break;
            case 'c': case 'C':
                if (isInteger(*a)) {
                    std::string ch;
                    uint64_t v = a->kind == K::Signed && a->i < 0 ? static_cast<uint64_t>(a->i) & 0xFF : a->u;
                    if (a->kind == K::Char || (conv == 'c' && a->size == 1)) ch += static_cast<char>(v & 0xFF);
                    else appendCode(ch, v);
                    Directive s = sp; s.precision = -1;
                    formatText(out, s, ch);
                } else {
                    marker(out, conv, kindName(*a));
                }
                break;
            case 's': case 'S':
                if (a->kind == K::Text) formatText(out, sp, a->text);
                else if (a->kind == K::Null) formatText(out, sp, "(null)");
                else if (a->kind == K::Object && as<String>(a->o)) formatText(out, sp, static_cast<const String*>(a->o)->utf8());
                else marker(out, conv, kindName(*a));
                break;
            case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A': {
                double v;
                if (a->kind == K::Double) v = a->d;
                else if (a->kind == K::Unsigned) v = static_cast<double>(a->u);
                else if (isInteger(*a)) v = static_cast<double>(a->i);
                else { marker(out, conv, kindName(*a)); break; }
                formatDouble(out, sp, v, conv);
                break;
            }
            case 'p': {
                const void* p = nullptr;
                if (a->kind == K::Object) p = a->o;
                else if (a->kind == K::Pointer) p = a->p;
                else if (a->kind == K::Text) p = a->text.data();
                else if (a->kind != K::Null) { marker(out, conv, kindName(*a)); break; }
                char buf[32];
                std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
                Directive s = sp; s.precision = -1;
                formatText(out, s, buf);
                break;
            }
        }
    }
    if (highestUsed < count && next < count) {
        out += "%!(EXTRA ";
        for (size_t k = std::max(next, highestUsed); k < count; ++k) {
            if (k > std::max(next, highestUsed)) out += ", ";
            out += kindName(args[k]);
        }
        out += ')';
    }
}

std::string formatArgs(std::string_view fmt, const FormatArg* args, size_t count) {
    std::string out;
    out.reserve(fmt.size() + 16 * count);
    appendFormatArgs(out, fmt, args, count);
    return out;
}

Ref<String> makeStringFromFormatted(std::string&& text) { return String::make(std::move(text)); }

}  // namespace ns
