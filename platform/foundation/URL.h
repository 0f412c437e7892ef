// URLs: parsing, validation and reference resolution after RFC 3986.
//
// A URL is immutable. It is made from text that must be a valid URI
// reference (characters outside the URI set, such as a space or non-ASCII
// bytes, must be percent-escaped first; see PercentEncoding.h), optionally
// relative to a base URL. Text that is not valid gives nil, never a
// half-parsed object. Components are kept exactly as written; path(),
// user() and password() answer percent-decoded text, the other accessors
// the raw text.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Object.h"

namespace ns {

class String;
class Number;

class URL : public Object {
public:
    // Longest text a URL may be made from (bytes); longer text gives nil.
    static constexpr size_t kMaxLength = 1u << 20;

    // The parsed parts of a URI reference, each kept as written. A part
    // that is absent differs from one that is present and empty ("http://h?"
    // has an empty query, "http://h" none).
    struct Components {
        std::optional<std::string> scheme;
        bool hasAuthority = false;
        std::optional<std::string> userInfo;  // text before "@", when present
        std::string host;                     // as written; IPv6 literals keep their brackets
        std::optional<std::string> port;      // digits after ":", possibly empty
        std::string path;
        std::optional<std::string> query;
        std::optional<std::string> fragment;

        // Parses and validates a URI reference; nullopt when it is not valid.
        static std::optional<Components> parse(std::string_view text);
        // The reference as text (RFC 3986 section 5.3).
        std::string recompose() const;
        // Resolves `ref` against this absolute base (RFC 3986 section 5.2).
        Components resolve(const Components& ref) const;
    };

    // A URL from text; nil when the text is empty, longer than kMaxLength or
    // not a valid URI reference.
    static Ref<URL> URLWithString(std::string_view text);
    static Ref<URL> URLWithString(const Ref<String>& text);
    // A URL for `text` resolved against `base` (nil base: as URLWithString).
    // Empty text resolves to the base without its fragment.
    static Ref<URL> URLWithStringRelativeToURL(std::string_view text, const Ref<URL>& base);
    // A "file" URL for a local path. A relative path is taken relative to the
    // current folder; characters not allowed in a URL path are escaped.
    static Ref<URL> fileURLWithPath(std::string_view path);
    static Ref<URL> fileURLWithPathIsDirectory(std::string_view path, bool isDirectory);

    // Removes "." and ".." segments from a path (RFC 3986 section 5.2.4).
    static std::string removeDotSegments(std::string_view path);

    const char* className() const override { return "URL"; }
    // The absolute string.
    std::string description() const override { return absolute_; }
    // Two URLs are equal when their absolute strings are equal.
    bool isEqual(const Object& other) const override;
    size_t hash() const override;

    // The full text after resolution against the base.
    Ref<String> absoluteString() const;
    const std::string& absoluteText() const { return absolute_; }
    // The text the URL was made from, and the base it was resolved against.
    Ref<String> relativeString() const;
    Ref<URL> baseURL() const { return base_; }
    // This URL without its base (itself when it has none).
    Ref<URL> absoluteURL() const;
    const Components& components() const { return parts_; }

    // The scheme as written (nil for a relative reference without base).
    Ref<String> scheme() const;
    // Case-insensitive scheme test: url->hasScheme("https").
    bool hasScheme(std::string_view scheme) const;
    // Everything after "scheme:" ("//host/path?q#f"), or the whole text of a
    // URL without scheme.
    Ref<String> resourceSpecifier() const;
    // Percent-decoded user name and password from the authority; nil when
    // absent or when they do not decode to UTF-8.
    Ref<String> user() const;
    Ref<String> password() const;
    // The host without IPv6 brackets; nil when there is none or it is empty.
    Ref<String> host() const;
    // The port as an integer number; nil when absent or empty.
    Ref<Number> port() const;
    // The percent-decoded path, without a trailing "/" (except the root "/");
    // nil when it does not decode to UTF-8.
    Ref<String> path() const;
    // The path as written.
    Ref<String> percentEncodedPath() const;
    // Query and fragment as written, without "?" and "#"; nil when absent.
    Ref<String> query() const;
    Ref<String> fragment() const;
    // The last component of path() ("/" for the root, "" for an empty path)
    // and its extension (text after the last ".", "" when none).
    Ref<String> lastPathComponent() const;
    Ref<String> pathExtension() const;

    // A new absolute URL with `component` appended to the path after a "/"
    // (characters not allowed in a path are escaped; "/" inside `component`
    // separates further components). Query and fragment are kept.
    Ref<URL> URLByAppendingPathComponent(std::string_view component) const;
    // A new absolute URL whose path lost its last component (keeps a "/").
    Ref<URL> URLByDeletingLastPathComponent() const;

    // True for the "file" scheme (any case).
    bool isFileURL() const { return hasScheme("file"); }

    // Prefer the factories.
    URL(Components parts, std::string relative, Ref<URL> base);

private:
    static Ref<URL> withPath(const URL& from, std::string path);

    Components parts_;      // after resolution
    std::string absolute_;  // parts_ recomposed
    std::string relative_;  // as given
    Ref<URL> base_;
};

}  // namespace ns
