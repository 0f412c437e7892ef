// Cookies after RFC 6265: parsed from Set-Cookie fields, matched to request
// URLs by domain, path and scheme, and kept in a process-wide storage that
// URL loading and the HTTP client share.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Date.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/URL.h"
#include "platform/network/HTTPMessage.h"

namespace net {

class HTTPCookie : public ns::Object {
public:
    const char* className() const override { return "HTTPCookie"; }
    std::string description() const override;
    // Same name, domain and path: the identity storage replaces by.
    bool isEqual(const ns::Object& other) const override;
    size_t hash() const override;

    // Limits on what one cookie may carry.
    static constexpr size_t kMaxNameValueBytes = 4096;
    static constexpr size_t kMaxAttributeBytes = 1024;

    // One cookie from a Set-Cookie value received from `url` (RFC 6265
    // section 5.2 and 5.3); nil when the field is ignored (malformed,
    // oversized, or a domain the URL may not set). `now` is seconds since
    // 1970 (for Max-Age).
    static ns::Ref<HTTPCookie> cookieFromSetCookie(std::string_view field, const ns::URL& url, double now);
    // Every acceptable cookie in the response's Set-Cookie fields.
    static std::vector<ns::Ref<HTTPCookie>> cookiesWithResponseHeaderFields(const HeaderList& headers,
                                                                            const ns::URL& url);
    // A cookie made by code (no checks against a URL). Domain without a
    // leading dot matches that host only; with one, also its subdomains.
    static ns::Ref<HTTPCookie> make(std::string name, std::string value, std::string domain, std::string path = "/",
                                    double expiresSince1970 = 0, bool secure = false, bool httpOnly = false);
    // "a=1; b=2" for a Cookie header, in the given order.
    static std::string requestHeaderValue(const std::vector<ns::Ref<HTTPCookie>>& cookies);
    // Why the cookie cannot go into a Cookie field as the one pair it is, ""
    // when it can: a ";" in its name or value would read as a further pair,
    // an "=" in its name would move where its value starts. A Set-Cookie
    // field never makes such a cookie; a caller's cookie (a stored token)
    // may. The message names the cookie but never shows its value. (A line
    // break or NUL is refused with the field that holds it.)
    std::string whyCannotBeSent() const;
    // The first such reason among `cookies`, "" when all can be sent.
    static std::string whyCookiesCannotBeSent(const std::vector<ns::Ref<HTTPCookie>>& cookies);

    const std::string& name() const { return name_; }
    const std::string& value() const { return value_; }
    const std::string& domain() const { return domain_; }  // lower case, no leading dot
    bool isHostOnly() const { return hostOnly_; }
    const std::string& path() const { return path_; }
    // Seconds since 1970, or 0 for a session cookie.
    double expires() const { return expires_; }
    ns::Ref<ns::Date> expiresDate() const;
    bool isSessionOnly() const { return expires_ == 0; }
    bool isSecure() const { return secure_; }
    bool isHTTPOnly() const { return httpOnly_; }
    double creationTime() const { return created_; }

    bool isExpired(double now) const { return expires_ != 0 && expires_ <= now; }
    // Domain, path and scheme rules of RFC 6265 section 5.4.
    bool matchesURL(const ns::URL& url) const;

    // Parses a cookie date (RFC 6265 section 5.1.1); false when invalid.
    static bool parseCookieDate(std::string_view text, double* since1970);

private:
    friend class HTTPCookieStorage;
    std::string name_, value_, domain_, path_;
    bool hostOnly_ = true;
    bool secure_ = false;
    bool httpOnly_ = false;
    double expires_ = 0;
    double created_ = 0;
};

class HTTPCookieStorage {
public:
    // The one storage of the process (thread safe).
    static HTTPCookieStorage& sharedHTTPCookieStorage();

    static constexpr size_t kMaxCookies = 3000;
    static constexpr size_t kMaxCookiesPerDomain = 50;

    // Stores, replacing the cookie with the same name, domain and path; an
    // already expired cookie deletes that one instead.
    void setCookie(const ns::Ref<HTTPCookie>& cookie);
    void setCookies(const std::vector<ns::Ref<HTTPCookie>>& cookies);
    // Cookies to send to `url`, longer paths first, then older first.
    std::vector<ns::Ref<HTTPCookie>> cookiesForURL(const ns::URL& url);
    std::vector<ns::Ref<HTTPCookie>> cookies();
    void deleteCookie(const HTTPCookie& cookie);
    // Deletes every cookie that would be sent to `url`.
    void deleteCookiesForURL(const ns::URL& url);
    void removeAllCookies();

private:
    void purgeExpired(double now);
    std::mutex mutex_;
    std::vector<ns::Ref<HTTPCookie>> cookies_;
};

double secondsSince1970();

}  // namespace net
