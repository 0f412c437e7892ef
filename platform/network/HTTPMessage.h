// HTTP messages: a request (method, URL, headers, body) or a response
// (status line, headers), with an ordered header list whose names compare
// without regard to case and which keeps repeated fields (Set-Cookie) apart.
#pragma once

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
std::string_view trimmed(std::string_view s);  // blanks and tabs at both ends

// Header fields in the order they were added. Names keep their spelling;
// lookups ignore case. Repeated fields stay separate entries.
class HeaderList {
public:
    using Field = std::pair<std::string, std::string>;

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
    std::vector<std::string> getAll(std::string_view name) const;
    const std::vector<Field>& fields() const { return fields_; }
    size_t size() const { return fields_.size(); }
    bool empty() const { return fields_.empty(); }
    void clear() { fields_.clear(); }
    // name (first spelling seen) -> value as get() answers it.
    ns::Ref<ns::Dictionary> dictionary() const;

private:
    static constexpr size_t kUsualFieldCount = 16;
    std::vector<Field> fields_;
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
