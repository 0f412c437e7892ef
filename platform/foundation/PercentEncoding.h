// Percent-encoding and decoding of text for URLs and form bodies.
//
// Encoding works on the UTF-8 bytes of the text: every byte outside the
// allowed set becomes "%" and two upper-case hexadecimal digits. Decoding
// refuses malformed escapes ("%", "%4", "%zz") instead of guessing.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Object.h"

namespace ns {

class String;

// A set of ASCII characters (bytes 0x80 and above are never members).
class CharacterSet {
public:
    constexpr CharacterSet() = default;
    constexpr explicit CharacterSet(std::string_view members) { add(members); }

    constexpr bool contains(unsigned char c) const { return c < 128 && bits_[c]; }
    constexpr CharacterSet& add(std::string_view members) {
        for (char c : members) if (static_cast<unsigned char>(c) < 128) bits_[static_cast<unsigned char>(c)] = true;
        return *this;
    }
    constexpr CharacterSet& remove(std::string_view members) {
        for (char c : members) if (static_cast<unsigned char>(c) < 128) bits_[static_cast<unsigned char>(c)] = false;
        return *this;
    }
    constexpr CharacterSet with(std::string_view members) const { CharacterSet s = *this; s.add(members); return s; }
    constexpr CharacterSet without(std::string_view members) const { CharacterSet s = *this; s.remove(members); return s; }

    // ASCII letters and digits.
    static constexpr CharacterSet alphanumeric() {
        return CharacterSet("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    }
    // The unreserved characters of URIs: letters, digits, "-", ".", "_", "~".
    static constexpr CharacterSet unreserved() { return alphanumeric().with("-._~"); }
    // Characters a URL may hold as they stand, outside "%" escapes: the
    // unreserved characters plus the delimiters ":/?#[]@!$&'()*+,;=".
    static constexpr CharacterSet urlCharacters() { return unreserved().with(":/?#[]@!$&'()*+,;="); }
    // What each part of a URL allows unescaped.
    static constexpr CharacterSet urlUserAllowed() { return unreserved().with("!$&'()*+,;="); }
    static constexpr CharacterSet urlPasswordAllowed() { return urlUserAllowed(); }
    static constexpr CharacterSet urlHostAllowed() { return unreserved().with("!$&'()*+,;=[]:"); }
    static constexpr CharacterSet urlPathSegmentAllowed() { return unreserved().with("!$&'()*+,;=:@"); }
    static constexpr CharacterSet urlPathAllowed() { return urlPathSegmentAllowed().with("/"); }
    static constexpr CharacterSet urlQueryAllowed() { return urlPathAllowed().with("?"); }
    static constexpr CharacterSet urlFragmentAllowed() { return urlQueryAllowed(); }

private:
    std::array<bool, 128> bits_{};
};

// Escapes every byte of `text` that is not in `allowed`.
std::string addPercentEncoding(std::string_view text, const CharacterSet& allowed);

// Escapes everything but the unreserved characters (letters, digits, "-",
// ".", "_", "~"): the encoding OAuth signatures and query values need.
std::string percentEncodeUnreserved(std::string_view text);

// The platform-style escaping for URL text: escapes what is never legal in a
// URL (controls, space, non-ASCII bytes, and " # % < > [ \ ] ^ ` { | }),
// plus every character of `forceEscaped`, less those in `leaveUnescaped`.
// With both empty this is the standard escaping that leaves reserved
// characters such as "&" and "/" alone.
std::string addPercentEscapes(std::string_view text, std::string_view leaveUnescaped = {},
                              std::string_view forceEscaped = {});

// Replaces every "%XX" escape by its byte. Answers nullopt when a "%" is not
// followed by two hexadecimal digits. The bytes are not checked as UTF-8.
std::optional<std::string> percentDecodeBytes(std::string_view text);

// Like percentDecodeBytes, and also nullopt when the result is not UTF-8.
std::optional<std::string> removePercentEncoding(std::string_view text);

// String-object forms. The removing form answers nil on malformed escapes or
// a result that is not UTF-8.
Ref<String> stringByAddingPercentEncoding(const String& text, const CharacterSet& allowed);
Ref<String> stringByRemovingPercentEncoding(const String& text);

}  // namespace ns
