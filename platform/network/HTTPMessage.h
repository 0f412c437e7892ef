// HTTP messages: a request (method, URL, headers, body) or a response
// (status line, headers), with an ordered header list whose names compare
// without regard to case and which keeps repeated fields (Set-Cookie) apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Data.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Object.h"

namespace net {

// ASCII case-insensitive comparison, as HTTP field names are compared.
bool equalsIgnoringCaseOfSameLength(const char* a, const char* b, size_t n);
inline bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && equalsIgnoringCaseOfSameLength(a.data(), b.data(), a.size());
}
std::string lowercased(std::string_view s);
// Blanks and tabs at both ends.
// `text` quoted for an error message: control and non-ASCII bytes escaped,
// at most 64 bytes of it shown.
std::string quotedForMessage(std::string_view text);
inline std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// A strict decimal of at most 19 digits, without sign or blanks; nullopt on
// anything else (so it never overflows).
std::optional<uint64_t> parseDecimal(std::string_view text);

// Whether `text` is an HTTP token (RFC 9110 `tchar`s, at least one): what a
// method and a field name must be.
bool isHTTPToken(std::string_view text);
// Whether a field value can go on the wire as it is: no CR, LF or NUL, any
// of which would end the field early or let the value write lines of its own.
bool isSendableFieldValue(std::string_view value);

// Header fields in the order they were added. Names keep their spelling;
// lookups ignore case. Repeated fields stay separate entries.
//
// The names and values live one after the other in one text buffer and the
// list keeps where each lies, so adding a field copies its bytes once and
// allocates nothing once the buffer has room (a parser reserves the size of
// the header block it reads). A field is read as a pair of views into the
// buffer, valid until the list changes.
class HeaderList {
public:
    using Field = std::pair<std::string_view, std::string_view>;

    // The fields in order, read as views (a random-access range).
    class Fields {
    public:
        class iterator {
        public:
            using iterator_category = std::random_access_iterator_tag;
            using value_type = Field;
            using difference_type = std::ptrdiff_t;
            using pointer = void;
            using reference = Field;
            iterator(const HeaderList* list, size_t i) : list_(list), i_(i) {}
            Field operator*() const { return list_->field(i_); }
            iterator& operator++() { ++i_; return *this; }
            bool operator==(const iterator& o) const { return i_ == o.i_; }
            bool operator!=(const iterator& o) const { return i_ != o.i_; }

        private:
            const HeaderList* list_;
            size_t i_;
        };
        explicit Fields(const HeaderList* list) : list_(list) {}
        iterator begin() const { return {list_, 0}; }
        iterator end() const { return {list_, list_->size()}; }
        size_t size() const { return list_->size(); }
        bool empty() const { return list_->empty(); }
        Field operator[](size_t i) const { return list_->field(i); }
        Field back() const { return list_->field(list_->size() - 1); }

    private:
        const HeaderList* list_;
    };

    void add(std::string_view name, std::string_view value);
    // Replaces the first field of that name in place and drops the others;
    // appends when there is none.
    void set(std::string_view name, std::string_view value);
    // Removes every field of that name; answers how many went.
    size_t remove(std::string_view name);
    bool contains(std::string_view name) const;
    // The value of a single field, or every value joined by ", " when the
    // field repeats; nullopt when absent.
    std::optional<std::string> get(std::string_view name) const;
    // The value of the first field of that name, without a copy.
    std::optional<std::string_view> first(std::string_view name) const;
    std::vector<std::string> getAll(std::string_view name) const;
    Fields fields() const { return Fields(this); }
    Field field(size_t i) const {
        const Span& s = spans_[i];
        return {std::string_view(text_.data() + s.nameAt, s.nameLength),
                std::string_view(text_.data() + s.valueAt, s.valueLength)};
    }
    size_t size() const { return spans_.size(); }
    bool empty() const { return spans_.empty(); }
    void clear();
    // Continues the value of the last field (an obsolete folded line): a
    // blank, then `more`. Nothing when the list is empty.
    void appendToLastValue(std::string_view more);
    // Reading a header block in place: the block's text is copied once (to
    // an empty list), then each field is added by where its name and value
    // lie in that text.
    void adoptText(std::string_view block);
    void addFromText(size_t nameAt, size_t nameLength, size_t valueAt, size_t valueLength);
    // name (first spelling seen) -> value as get() answers it.
    ns::Ref<ns::Dictionary> dictionary() const;

private:
    // A field: where its name and its value lie in text_.
    struct Span {
        uint32_t nameAt;
        uint32_t nameLength;
        uint32_t valueAt;
        uint32_t valueLength;
    };
    static constexpr size_t kUsualFieldCount = 16;
    static constexpr size_t kUsualTextBytes = 512;
    // Whether the field's name is `name` (ignoring case): lengths and first
    // letters are compared before the whole names.
    bool named(const Span& s, std::string_view name) const {
        if (s.nameLength != name.size() || name.empty()) return s.nameLength == name.size();
        const char* n = text_.data() + s.nameAt;
        return ((n[0] ^ name[0]) & ~0x20) == 0 && equalsIgnoringCaseOfSameLength(n, name.data(), name.size());
    }
    std::string_view valueOf(const Span& s) const { return std::string_view(text_.data() + s.valueAt, s.valueLength); }
    // Appends name and value to the text and answers where they lie.
    Span appendText(std::string_view name, std::string_view value);
    // Drops the bytes no field uses any more once they are most of the text.
    void compactIfWasteful();
    std::string text_;
    std::vector<Span> spans_;
    size_t usedBytes_ = 0;  // bytes of text_ that fields still use
};

// The parts of an absolute http or https URL a request needs. The query
// keeps its "?"; the path is "/" when empty; the fragment is dropped.
struct HTTPTarget {
    std::string scheme, host, path, query;
    uint16_t port = 0;
    bool defaultPort = true;
};
bool parseHTTPTarget(std::string_view url, HTTPTarget& out, std::string* why = nullptr);

class HTTPMessage : public ns::Object {
public:
    const char* className() const override { return "HTTPMessage"; }
    std::string description() const override;

    // A request for `url` (absolute text). Version "HTTP/1.1" or "HTTP/1.0".
    static ns::Ref<HTTPMessage> request(std::string_view method, std::string_view url,
                                       std::string_view version = "HTTP/1.1");
    // A response with its parsed status and its whole status line.
    static ns::Ref<HTTPMessage> response(int statusCode, std::string_view statusLine,
                                         std::string_view version = "HTTP/1.1");

    bool isRequest() const { return isRequest_; }
    const std::string& version() const { return version_; }
    void setVersion(std::string_view v) { version_ = v; }

    // Request side.
    const std::string& method() const { return method_; }
    void setMethod(std::string_view m) { method_ = m; }
    const std::string& url() const { return url_; }
    void setURL(std::string_view u) { url_ = u; }
    const ns::Ref<ns::Data>& body() const { return body_; }
    void setBody(ns::Ref<ns::Data> b) { body_ = std::move(b); }

    // Response side.
    int statusCode() const { return statusCode_; }
    const std::string& statusLine() const { return statusLine_; }  // "HTTP/1.1 200 OK"
    std::string reasonPhrase() const;
    // True once a parser has read the whole header block.
    bool isHeaderComplete() const { return headerComplete_; }
    void setHeaderComplete(bool v) { headerComplete_ = v; }

    HeaderList& headers() { return headers_; }
    const HeaderList& headers() const { return headers_; }
    std::optional<std::string> headerField(std::string_view name) const { return headers_.get(name); }
    void setHeaderField(std::string_view name, std::string_view value) { headers_.set(name, value); }
    ns::Ref<ns::Dictionary> allHeaderFields() const { return headers_.dictionary(); }

    // A copy that shares the body data.
    ns::Ref<HTTPMessage> copy() const;

    // For a request: why it cannot be sent as it is (a method that is not a
    // token, a field whose name is not a token or whose value holds CR, LF
    // or NUL), naming the method or the field but never showing a value;
    // empty when it can.
    std::string whyRequestCannotBeSent() const;

private:
    bool isRequest_ = true;
    std::string version_ = "HTTP/1.1";
    std::string method_;
    std::string url_;
    ns::Ref<ns::Data> body_;
    int statusCode_ = 0;
    std::string statusLine_;
    bool headerComplete_ = false;
    HeaderList headers_;
};

}  // namespace net
