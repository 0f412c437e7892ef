#include "platform/foundation/URL.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cstring>

#include "platform/foundation/Number.h"
#include "platform/foundation/PercentEncoding.h"
#include "platform/foundation/String.h"

namespace ns {

namespace {

constexpr CharacterSet kSchemeRest = CharacterSet::alphanumeric().with("+-.");
constexpr CharacterSet kUserInfo = CharacterSet::unreserved().with("!$&'()*+,;=:");
constexpr CharacterSet kRegName = CharacterSet::unreserved().with("!$&'()*+,;=");
constexpr CharacterSet kPathChars = CharacterSet::unreserved().with("!$&'()*+,;=:@/");
constexpr CharacterSet kQueryChars = kPathChars.with("?");
constexpr CharacterSet kFutureChars = CharacterSet::unreserved().with("!$&'()*+,;=:");

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// True when every character is in `allowed` or part of a "%XX" escape.
bool validChars(std::string_view s, const CharacterSet& allowed) {
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '%') {
            if (i + 2 >= s.size() || !isHex(s[i + 1]) || !isHex(s[i + 2])) return false;
            i += 2;
        } else if (!allowed.contains(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

bool validScheme(std::string_view s) {
    if (s.empty() || !isAlpha(s[0])) return false;
    for (char c : s.substr(1))
        if (!kSchemeRest.contains(static_cast<unsigned char>(c))) return false;
    return true;
}

bool validIPLiteral(std::string_view inner) {
    if (inner.empty()) return false;
    if (inner[0] == 'v' || inner[0] == 'V') {
        size_t dot = inner.find('.');
        if (dot == std::string_view::npos || dot < 2 || dot + 1 >= inner.size()) return false;
        for (char c : inner.substr(1, dot - 1)) if (!isHex(c)) return false;
        for (char c : inner.substr(dot + 1))
            if (!kFutureChars.contains(static_cast<unsigned char>(c))) return false;
        return true;
    }
    std::string_view addr = inner;
    size_t zone = inner.find("%25");
    if (zone != std::string_view::npos) {
        addr = inner.substr(0, zone);
        std::string_view z = inner.substr(zone + 3);
        if (z.empty() || !validChars(z, CharacterSet::unreserved())) return false;
    }
    if (addr.size() > 45) return false;
    char buf[64];
    std::memcpy(buf, addr.data(), addr.size());
    buf[addr.size()] = '\0';
    unsigned char out[16];
    return inet_pton(AF_INET6, buf, out) == 1;
}

bool validPort(std::string_view p) {
    unsigned long v = 0;
    for (char c : p) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<unsigned long>(c - '0');
        if (v > 65535) return false;
    }
    return true;
}

// Merges a relative path with the base's (RFC 3986 section 5.2.3).
std::string mergePaths(const URL::Components& base, const std::string& refPath) {
    if (base.hasAuthority && base.path.empty()) return "/" + refPath;
    size_t slash = base.path.rfind('/');
    if (slash == std::string::npos) return refPath;
    return base.path.substr(0, slash + 1) + refPath;
}

std::optional<std::string> decodedOrNil(std::string_view s) { return removePercentEncoding(s); }

Ref<String> optString(const std::optional<std::string>& s) {
    return s ? String::make(*s) : Ref<String>();
}

}  // namespace

std::optional<URL::Components> URL::Components::parse(std::string_view text) {
    if (text.size() > kMaxLength) return std::nullopt;
    Components c;
    std::string_view rest = text;

    size_t delim = rest.find_first_of(":/?#");
    if (delim != std::string_view::npos && rest[delim] == ':') {
        std::string_view scheme = rest.substr(0, delim);
        // A colon in the first segment of a reference without scheme is not allowed.
        if (!validScheme(scheme)) return std::nullopt;
        c.scheme = std::string(scheme);
        rest.remove_prefix(delim + 1);
    }

    if (rest.size() >= 2 && rest[0] == '/' && rest[1] == '/') {
        rest.remove_prefix(2);
        size_t end = rest.find_first_of("/?#");
        std::string_view authority = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
        c.hasAuthority = true;
        size_t at = authority.find('@');
        if (at != std::string_view::npos) {
            std::string_view info = authority.substr(0, at);
            if (!validChars(info, kUserInfo)) return std::nullopt;
            c.userInfo = std::string(info);
            authority.remove_prefix(at + 1);
        }
        std::string_view hostPort = authority;
        if (!hostPort.empty() && hostPort[0] == '[') {
            size_t close = hostPort.find(']');
            if (close == std::string_view::npos) return std::nullopt;
            if (!validIPLiteral(hostPort.substr(1, close - 1))) return std::nullopt;
            c.host = std::string(hostPort.substr(0, close + 1));
            hostPort.remove_prefix(close + 1);
            if (!hostPort.empty()) {
                if (hostPort[0] != ':') return std::nullopt;
                c.port = std::string(hostPort.substr(1));
            }
        } else {
            size_t colon = hostPort.find(':');
            std::string_view host = hostPort.substr(0, colon);
            if (!validChars(host, kRegName)) return std::nullopt;
            c.host = std::string(host);
            if (colon != std::string_view::npos) c.port = std::string(hostPort.substr(colon + 1));
        }
        if (c.port && !validPort(*c.port)) return std::nullopt;
    }

    size_t pathEnd = rest.find_first_of("?#");
    std::string_view path = rest.substr(0, pathEnd);
    if (!validChars(path, kPathChars)) return std::nullopt;
    c.path = std::string(path);
    rest.remove_prefix(pathEnd == std::string_view::npos ? rest.size() : pathEnd);

    if (!rest.empty() && rest[0] == '?') {
        size_t end = rest.find('#');
        std::string_view q = rest.substr(1, end == std::string_view::npos ? std::string_view::npos : end - 1);
        if (!validChars(q, kQueryChars)) return std::nullopt;
        c.query = std::string(q);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    }
    if (!rest.empty() && rest[0] == '#') {
        std::string_view f = rest.substr(1);
        if (!validChars(f, kQueryChars)) return std::nullopt;
        c.fragment = std::string(f);
    }
    return c;
}

std::string URL::Components::recompose() const {
    std::string out;
    out.reserve(path.size() + host.size() + 32);
    if (scheme) { out += *scheme; out += ':'; }
    if (hasAuthority) {
        out += "//";
        if (userInfo) { out += *userInfo; out += '@'; }
        out += host;
        if (port) { out += ':'; out += *port; }
    } else if (path.size() >= 2 && path[0] == '/' && path[1] == '/') {
        // Keeps a path that starts with "//" from reading as an authority.
        out += "/.";
    } else if (!scheme) {
        // A colon in the first segment would read as a scheme delimiter.
        size_t colon = path.find(':');
        if (colon != std::string::npos && colon < path.find('/')) out += "./";
    }
    out += path;
    if (query) { out += '?'; out += *query; }
    if (fragment) { out += '#'; out += *fragment; }
    return out;
}

URL::Components URL::Components::resolve(const Components& ref) const {
    Components t;
    if (ref.scheme) {
        t = ref;
        t.path = removeDotSegments(ref.path);
    } else {
        if (ref.hasAuthority) {
            t = ref;
            t.path = removeDotSegments(ref.path);
        } else {
            if (ref.path.empty()) {
                t.path = path;
                t.query = ref.query ? ref.query : query;
            } else {
                if (ref.path[0] == '/') t.path = removeDotSegments(ref.path);
                else t.path = removeDotSegments(mergePaths(*this, ref.path));
                t.query = ref.query;
            }
            t.hasAuthority = hasAuthority;
            t.userInfo = userInfo;
            t.host = host;
            t.port = port;
        }
        t.scheme = scheme;
    }
    t.fragment = ref.fragment;
    return t;
}

std::string URL::removeDotSegments(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    auto dropLastSegment = [&] {
        size_t slash = out.rfind('/');
        out.erase(slash == std::string::npos ? 0 : slash);
    };
    while (!in.empty()) {
        if (in.substr(0, 3) == "../") in.remove_prefix(3);
        else if (in.substr(0, 2) == "./") in.remove_prefix(2);
        else if (in.substr(0, 3) == "/./") in.remove_prefix(2);
        else if (in == "/.") in = "/";
        else if (in.substr(0, 4) == "/../") { in.remove_prefix(3); dropLastSegment(); }
        else if (in == "/..") { in = "/"; dropLastSegment(); }
        else if (in == "." || in == "..") in = {};
        else {
            size_t start = in[0] == '/' ? 1 : 0;
            size_t next = in.find('/', start);
            if (next == std::string_view::npos) next = in.size();
            out.append(in.substr(0, next));
            in.remove_prefix(next);
        }
    }
    return out;
}

URL::URL(Components parts, std::string relative, Ref<URL> base)
    : parts_(std::move(parts)), relative_(std::move(relative)), base_(std::move(base)) {
    absolute_ = parts_.recompose();
}

Ref<URL> URL::URLWithString(std::string_view text) {
    if (text.empty()) return nullptr;
    auto parts = Components::parse(text);
    if (!parts) return nullptr;
    return make<URL>(std::move(*parts), std::string(text), nullptr);
}

Ref<URL> URL::URLWithString(const Ref<String>& text) {
    return text ? URLWithString(text->view()) : nullptr;
}

Ref<URL> URL::URLWithStringRelativeToURL(std::string_view text, const Ref<URL>& base) {
    if (!base) return URLWithString(text);
    auto ref = Components::parse(text);
    if (!ref) return nullptr;
    const Components& b = base->parts_;
    if (!b.scheme) {
        // A base without scheme cannot anchor a reference; keep the text alone.
        if (text.empty()) return nullptr;
        return make<URL>(std::move(*ref), std::string(text), nullptr);
    }
    Components resolved = b.resolve(*ref);
    if (resolved.recompose().size() > kMaxLength) return nullptr;
    return make<URL>(std::move(resolved), std::string(text), base);
}

Ref<URL> URL::fileURLWithPath(std::string_view path) {
    bool dir = !path.empty() && path.back() == '/';
    return fileURLWithPathIsDirectory(path, dir);
}

Ref<URL> URL::fileURLWithPathIsDirectory(std::string_view path, bool isDirectory) {
    if (path.size() > kMaxLength) return nullptr;
    std::string full;
    if (path.empty() || path[0] != '/') {
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd)) return nullptr;
        full = cwd;
        if (full.empty() || full.back() != '/') full += '/';
    }
    full.append(path);
    if (isDirectory && full.back() != '/') full += '/';
    Components c;
    c.scheme = "file";
    c.hasAuthority = true;
    c.path = addPercentEncoding(full, CharacterSet::urlPathAllowed());
    std::string text = c.recompose();
    return make<URL>(std::move(c), std::move(text), nullptr);
}

bool URL::isEqual(const Object& other) const {
    auto* o = as<URL>(&other);
    return o && o->absolute_ == absolute_;
}

size_t URL::hash() const { return std::hash<std::string>()(absolute_); }

Ref<String> URL::absoluteString() const { return String::make(absolute_); }
Ref<String> URL::relativeString() const { return String::make(relative_); }

Ref<URL> URL::absoluteURL() const {
    if (!base_) return ns::keepAlive(const_cast<URL*>(this));
    return make<URL>(parts_, absolute_, nullptr);
}

Ref<String> URL::scheme() const { return optString(parts_.scheme); }

bool URL::hasScheme(std::string_view s) const {
    if (!parts_.scheme || parts_.scheme->size() != s.size()) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        char a = (*parts_.scheme)[i], b = s[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

Ref<String> URL::resourceSpecifier() const {
    if (!parts_.scheme) return String::make(absolute_);
    return String::make(absolute_.substr(parts_.scheme->size() + 1));
}

Ref<String> URL::user() const {
    if (!parts_.userInfo) return nullptr;
    std::string_view info = *parts_.userInfo;
    auto d = decodedOrNil(info.substr(0, info.find(':')));
    return d ? String::make(std::move(*d)) : Ref<String>();
}

Ref<String> URL::password() const {
    if (!parts_.userInfo) return nullptr;
    size_t colon = parts_.userInfo->find(':');
    if (colon == std::string::npos) return nullptr;
    auto d = decodedOrNil(std::string_view(*parts_.userInfo).substr(colon + 1));
    return d ? String::make(std::move(*d)) : Ref<String>();
}

Ref<String> URL::host() const {
    if (!parts_.hasAuthority || parts_.host.empty()) return nullptr;
    const std::string& h = parts_.host;
    if (h.front() == '[' && h.back() == ']') return String::make(std::string_view(h).substr(1, h.size() - 2));
    return String::make(h);
}

Ref<Number> URL::port() const {
    if (!parts_.port || parts_.port->empty()) return nullptr;
    return Number::numberWithInt(std::stoi(*parts_.port));  // validated: digits, at most 65535
}

Ref<String> URL::path() const {
    std::string_view p = parts_.path;
    if (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
    auto d = decodedOrNil(p);
    return d ? String::make(std::move(*d)) : Ref<String>();
}

Ref<String> URL::percentEncodedPath() const { return String::make(parts_.path); }
Ref<String> URL::query() const { return optString(parts_.query); }
Ref<String> URL::fragment() const { return optString(parts_.fragment); }

Ref<String> URL::lastPathComponent() const {
    Ref<String> p = path();
    if (!p) return nullptr;
    std::string_view s = p->utf8();
    if (s.empty() || s == "/") return p;
    size_t slash = s.rfind('/');
    return slash == std::string::npos ? p : String::make(std::string_view(s).substr(slash + 1));
}

Ref<String> URL::pathExtension() const {
    Ref<String> last = lastPathComponent();
    if (!last) return nullptr;
    std::string_view s = last->utf8();
    size_t dot = s.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == s.size()) return String::empty();
    return String::make(std::string_view(s).substr(dot + 1));
}

Ref<URL> URL::withPath(const URL& from, std::string path) {
    Components c = from.parts_;
    c.path = std::move(path);
    std::string text = c.recompose();
    if (text.size() > kMaxLength) return nullptr;
    return make<URL>(std::move(c), std::move(text), nullptr);
}

Ref<URL> URL::URLByAppendingPathComponent(std::string_view component) const {
    std::string p = parts_.path;
    if (p.empty() ? parts_.hasAuthority : p.back() != '/') p += '/';
    p += addPercentEncoding(component, CharacterSet::urlPathAllowed());
    return withPath(*this, std::move(p));
}

Ref<URL> URL::URLByDeletingLastPathComponent() const {
    std::string p = parts_.path;
    if (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    if (slash == std::string::npos) p.clear();
    else p.erase(slash + 1);
    return withPath(*this, std::move(p));
}

}  // namespace ns
