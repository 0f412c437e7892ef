#include "platform/foundation/PercentEncoding.h"

#include "platform/foundation/String.h"

namespace ns {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Characters a URL may hold as text under the older rules the standard
// escaping follows: letters, digits and "!$&'()*+,-./:;=?@_~".
constexpr CharacterSet kLegacyLegal = CharacterSet::alphanumeric().with("!$&'()*+,-./:;=?@_~");

}  // namespace

std::string addPercentEncoding(std::string_view text, const CharacterSet& allowed) {
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (allowed.contains(c)) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string percentEncodeUnreserved(std::string_view text) {
    static constexpr CharacterSet kUnreserved = CharacterSet::unreserved();
    return addPercentEncoding(text, kUnreserved);
}

std::string addPercentEscapes(std::string_view text, std::string_view leaveUnescaped,
                              std::string_view forceEscaped) {
    CharacterSet allowed = kLegacyLegal;
    allowed.remove(forceEscaped);
    allowed.add(leaveUnescaped);
    return addPercentEncoding(text, allowed);
}

std::optional<std::string> percentDecodeBytes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') { out += text[i]; continue; }
        if (i + 2 >= text.size()) return std::nullopt;
        int hi = hexValue(text[i + 1]), lo = hexValue(text[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

std::optional<std::string> removePercentEncoding(std::string_view text) {
    auto bytes = percentDecodeBytes(text);
    if (!bytes || !isValidUTF8(bytes->data(), bytes->size())) return std::nullopt;
    return bytes;
}

Ref<String> stringByAddingPercentEncoding(const String& text, const CharacterSet& allowed) {
    return String::make(addPercentEncoding(text.utf8(), allowed));
}

Ref<String> stringByRemovingPercentEncoding(const String& text) {
    auto decoded = removePercentEncoding(text.utf8());
    if (!decoded) return nullptr;
    return String::make(std::move(*decoded));
}

}  // namespace ns
