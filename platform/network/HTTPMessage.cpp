#include "platform/network/HTTPMessage.h"

#include <algorithm>
#include <cstring>

#include "platform/foundation/String.h"

namespace net {

namespace {
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool isTokenChar(unsigned char c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
    switch (c) {
        case '!': case '#': case '$': case '%': case '&': case '\'': case '*': case '+':
        case '-': case '.': case '^': case '_': case '`': case '|': case '~':
            return true;
        default:
            return false;
    }
}

}  // namespace

std::optional<uint64_t> parseDecimal(std::string_view text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

std::string quotedForMessage(std::string_view text) {
    constexpr size_t kShown = 64;
    std::string out = "\"";
    for (size_t i = 0; i < text.size() && i < kShown; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '"' || c == '\\') (out += '\\') += static_cast<char>(c);
        else if (c < 0x20 || c >= 0x7f) {
            static const char kHex[] = "0123456789abcdef";
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    if (text.size() > kShown) out += "...";
    out += '"';
    return out;
}

bool isHTTPToken(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!isTokenChar(static_cast<unsigned char>(c))) return false;
    return true;
}

bool isSendableFieldValue(std::string_view value) {
    const char* p = value.data();
    const size_t n = value.size();
    return !std::memchr(p, '\n', n) && !std::memchr(p, '\r', n) && !std::memchr(p, '\0', n);
}

bool equalsIgnoringCaseOfSameLength(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i] && lower(a[i]) != lower(b[i])) return false;
    return true;
}

std::string lowercased(std::string_view s) {
    std::string out(s);
    for (auto& c : out) c = lower(c);
    return out;
}

HeaderList::Span HeaderList::appendText(std::string_view name, std::string_view value) {
    const char* begin = text_.data();
    if ((name.data() >= begin && name.data() < begin + text_.size()) ||
        (value.data() >= begin && value.data() < begin + text_.size())) {
        // A field of this list copied into it: copy it out first, as growing
        // the text moves it.
        std::string copy;
        copy.reserve(name.size() + value.size());
        copy.append(name).append(value);
        return appendText(std::string_view(copy).substr(0, name.size()), std::string_view(copy).substr(name.size()));
    }
    const size_t needed = text_.size() + name.size() + value.size();
    if (needed > text_.capacity() && text_.capacity() < kUsualTextBytes) text_.reserve(std::max(kUsualTextBytes, needed));
    const auto at = static_cast<uint32_t>(text_.size());
    text_.append(name).append(value);
    usedBytes_ += name.size() + value.size();
    return {at, static_cast<uint32_t>(name.size()), static_cast<uint32_t>(at + name.size()),
            static_cast<uint32_t>(value.size())};
}

void HeaderList::add(std::string_view name, std::string_view value) {
    // Room for a usual header block at once rather than growing (and
    // moving every field) several times.
    if (spans_.empty()) spans_.reserve(kUsualFieldCount);
    spans_.push_back(appendText(name, value));
}

void HeaderList::adoptText(std::string_view block) {
    clear();
    text_.assign(block);
}

void HeaderList::addFromText(size_t nameAt, size_t nameLength, size_t valueAt, size_t valueLength) {
    if (spans_.empty()) spans_.reserve(kUsualFieldCount);
    spans_.push_back({static_cast<uint32_t>(nameAt), static_cast<uint32_t>(nameLength), static_cast<uint32_t>(valueAt),
                      static_cast<uint32_t>(valueLength)});
    usedBytes_ += nameLength + valueLength;
}

void HeaderList::clear() {
    spans_.clear();
    text_.clear();
    usedBytes_ = 0;
}

void HeaderList::appendToLastValue(std::string_view more) {
    if (spans_.empty()) return;
    const Span last = spans_.back();
    std::string value(field(spans_.size() - 1).second);
    value += ' ';
    value += more;
    // Written anew at the end (the old value's bytes are left unused).
    usedBytes_ -= last.valueLength;
    if (last.valueAt + last.valueLength == text_.size()) text_.resize(last.valueAt);
    const auto at = static_cast<uint32_t>(text_.size());
    text_.append(value);
    usedBytes_ += value.size();
    spans_.back().valueAt = at;
    spans_.back().valueLength = static_cast<uint32_t>(value.size());
}

void HeaderList::compactIfWasteful() {
    if (text_.size() < 2 * usedBytes_ + kUsualTextBytes) return;
    std::string packed;
    packed.reserve(usedBytes_);
    for (auto& s : spans_) {
        const auto at = static_cast<uint32_t>(packed.size());
        packed.append(text_, s.nameAt, s.nameLength).append(text_, s.valueAt, s.valueLength);
        s = {at, s.nameLength, at + s.nameLength, s.valueLength};
    }
    text_ = std::move(packed);
}

void HeaderList::set(std::string_view name, std::string_view value) {
    size_t placed = spans_.size();
    for (size_t i = 0; i < spans_.size(); ++i) {
        if (equalsIgnoringCase(field(i).first, name)) {
            placed = i;
            break;
        }
    }
    if (placed == spans_.size()) return add(name, value);
    // The first one takes the new value (written at the end, under its own
    // spelling); the others go.
    const Span old = spans_[placed];
    std::string spelling(field(placed).first);
    usedBytes_ -= old.nameLength + old.valueLength;
    spans_[placed] = appendText(spelling, value);
    for (size_t i = spans_.size(); i-- > placed + 1;) {
        if (!equalsIgnoringCase(field(i).first, name)) continue;
        usedBytes_ -= spans_[i].nameLength + spans_[i].valueLength;
        spans_.erase(spans_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    compactIfWasteful();
}

size_t HeaderList::remove(std::string_view name) {
    size_t before = spans_.size();
    std::erase_if(spans_, [&](const Span& s) {
        if (!equalsIgnoringCase(std::string_view(text_.data() + s.nameAt, s.nameLength), name)) return false;
        usedBytes_ -= s.nameLength + s.valueLength;
        return true;
    });
    compactIfWasteful();
    return before - spans_.size();
}

bool HeaderList::contains(std::string_view name) const {
    for (const Span& s : spans_)
        if (named(s, name)) return true;
    return false;
}

std::optional<std::string_view> HeaderList::first(std::string_view name) const {
    for (const Span& s : spans_)
        if (named(s, name)) return valueOf(s);
    return std::nullopt;
}

std::optional<std::string> HeaderList::get(std::string_view name) const {
    std::optional<std::string> out;
    for (const Span& s : spans_) {
        if (!named(s, name)) continue;
        if (out) {
            *out += ", ";
            *out += valueOf(s);
        } else {
            out.emplace(valueOf(s));
        }
    }
    return out;
}

std::vector<std::string> HeaderList::getAll(std::string_view name) const {
    std::vector<std::string> out;
    for (const Span& s : spans_)
        if (named(s, name)) out.emplace_back(valueOf(s));
    return out;
}

ns::Ref<ns::Dictionary> HeaderList::dictionary() const {
    std::vector<ns::Dictionary::Entry> entries;
    entries.reserve(spans_.size());
    for (size_t i = 0; i < spans_.size(); ++i) {
        auto [name, value] = field(i);
        bool seenBefore = false, repeated = false;
        for (size_t j = 0; j < spans_.size() && !seenBefore; ++j) {
            if (j == i || !equalsIgnoringCase(field(j).first, name)) continue;
            if (j < i) seenBefore = true;
            else repeated = true;
        }
        if (seenBefore) continue;
        entries.emplace_back(ns::str(name), ns::str(repeated ? *get(name) : std::string(value)));
    }
    return ns::Dictionary::make(std::move(entries));
}

ns::Ref<HTTPMessage> HTTPMessage::request(std::string_view method, std::string_view url, std::string_view version) {
    auto m = ns::make<HTTPMessage>();
    m->isRequest_ = true;
    m->method_ = method;
    m->url_ = url;
    m->version_ = version;
    return m;
}

ns::Ref<HTTPMessage> HTTPMessage::response(int statusCode, std::string_view statusLine, std::string_view version) {
    auto m = ns::make<HTTPMessage>();
    m->isRequest_ = false;
    m->statusCode_ = statusCode;
    m->statusLine_ = statusLine;
    m->version_ = version;
    return m;
}

std::string HTTPMessage::reasonPhrase() const {
    // "HTTP/1.1 200 OK": the text after the second blank.
    size_t a = statusLine_.find(' ');
    if (a == std::string::npos) return {};
    size_t b = statusLine_.find(' ', a + 1);
    if (b == std::string::npos) return {};
    return statusLine_.substr(b + 1);
}

ns::Ref<HTTPMessage> HTTPMessage::copy() const {
    auto m = ns::make<HTTPMessage>();
    m->isRequest_ = isRequest_;
    m->version_ = version_;
    m->method_ = method_;
    m->url_ = url_;
    m->body_ = body_;
    m->statusCode_ = statusCode_;
    m->statusLine_ = statusLine_;
    m->headerComplete_ = headerComplete_;
    m->headers_ = headers_;
    return m;
}

std::string HTTPMessage::whyRequestCannotBeSent() const {
    if (!isHTTPToken(method_)) return "the method " + quotedForMessage(method_) + " is not an HTTP token";
    for (const auto& [name, value] : headers_.fields()) {
        if (!isHTTPToken(name)) return "the header field name " + quotedForMessage(name) + " is not an HTTP token";
        if (!isSendableFieldValue(value))
            return "the value of the header field \"" + std::string(name) + "\" holds a CR, LF or NUL character";
    }
    return {};
}

std::string HTTPMessage::description() const {
    std::string s = "<HTTPMessage: ";
    s += isRequest_ ? method_ + " " + url_ : statusLine_;
    s += ">";
    return s;
}

}  // namespace net
