#include "platform/network/HTTPMessage.h"

#include "platform/foundation/String.h"

namespace net {

namespace {
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
}  // namespace

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

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

void HeaderList::add(std::string_view name, std::string_view value) {
    // Room for a usual header block at once rather than growing (and
    // moving every field) several times.
    if (fields_.empty()) fields_.reserve(kUsualFieldCount);
    fields_.emplace_back(std::string(name), std::string(value));
}

void HeaderList::set(std::string_view name, std::string_view value) {
    bool placed = false;
    for (auto it = fields_.begin(); it != fields_.end();) {
        if (equalsIgnoringCase(it->first, name)) {
            if (!placed) {
                it->second = value;
                placed = true;
                ++it;
            } else {
                it = fields_.erase(it);
            }
        } else {
            ++it;
        }
    }
    if (!placed) add(name, value);
}

size_t HeaderList::remove(std::string_view name) {
    size_t before = fields_.size();
    std::erase_if(fields_, [&](const Field& f) { return equalsIgnoringCase(f.first, name); });
    return before - fields_.size();
}

bool HeaderList::contains(std::string_view name) const {
    for (auto& f : fields_)
        if (equalsIgnoringCase(f.first, name)) return true;
    return false;
}

std::optional<std::string> HeaderList::get(std::string_view name) const {
    std::optional<std::string> out;
    for (auto& f : fields_) {
        if (!equalsIgnoringCase(f.first, name)) continue;
        if (out) {
            *out += ", ";
            *out += f.second;
        } else {
            out = f.second;
        }
    }
    return out;
}

std::vector<std::string> HeaderList::getAll(std::string_view name) const {
    std::vector<std::string> out;
    for (auto& f : fields_)
        if (equalsIgnoringCase(f.first, name)) out.push_back(f.second);
    return out;
}

ns::Ref<ns::Dictionary> HeaderList::dictionary() const {
    std::vector<ns::Dictionary::Entry> entries;
    entries.reserve(fields_.size());
    for (size_t i = 0; i < fields_.size(); ++i) {
        const std::string& name = fields_[i].first;
        bool seenBefore = false, repeated = false;
        for (size_t j = 0; j < fields_.size() && !seenBefore; ++j) {
            if (j == i || !equalsIgnoringCase(fields_[j].first, name)) continue;
            if (j < i) seenBefore = true;
            else repeated = true;
        }
        if (seenBefore) continue;
        entries.emplace_back(ns::str(name), ns::str(repeated ? *get(name) : fields_[i].second));
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

std::string HTTPMessage::description() const {
    std::string s = "<HTTPMessage: ";
    s += isRequest_ ? method_ + " " + url_ : statusLine_;
    s += ">";
    return s;
}

}  // namespace net
