#include "platform/network/HTTPCookie.h"

#include <algorithm>
#include <chrono>
#include <ctime>

#include <libpsl.h>

#include "platform/foundation/String.h"
#include "platform/network/HTTPMessage.h"

namespace net {

double secondsSince1970() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

namespace {

bool isIPAddress(std::string_view host) {
    if (host.find(':') != std::string_view::npos) return true;
    return !host.empty() && host.find_first_not_of("0123456789.") == std::string_view::npos;
}

// Domain-match of RFC 6265 section 5.1.3 (both lower case).
bool domainMatches(std::string_view host, std::string_view domain) {
    if (host == domain) return true;
    if (isIPAddress(host) || host.size() <= domain.size()) return false;
    return host.substr(host.size() - domain.size()) == domain && host[host.size() - domain.size() - 1] == '.';
}

// Default-path of section 5.1.4.
std::string defaultPath(std::string_view uriPath) {
    if (uriPath.empty() || uriPath[0] != '/') return "/";
    size_t last = uriPath.rfind('/');
    if (last == 0) return "/";
    return std::string(uriPath.substr(0, last));
}

bool pathMatches(std::string_view requestPath, std::string_view cookiePath) {
    if (requestPath == cookiePath) return true;
    if (requestPath.size() > cookiePath.size() && requestPath.substr(0, cookiePath.size()) == cookiePath) {
        if (cookiePath.back() == '/') return true;
        if (requestPath[cookiePath.size()] == '/') return true;
    }
    return false;
}

std::string requestPathOf(const ns::URL& url) {
    std::string p = url.components().path;
    return p.empty() ? "/" : p;
}

std::string hostOf(const ns::URL& url) {
    auto h = url.host();
    return h ? lowercased(h->utf8()) : std::string();
}

// The public suffix list: domains under which anyone may register a name
// ("com", "co.uk", "github.io"), so a cookie for one of them would reach
// every site below it. The list of the publicsuffix package when it is
// installed, else the one built into the library; names without a known
// suffix (single labels, unknown top-level domains) count as public.
const psl_ctx_t* publicSuffixList() {
    static const psl_ctx_t* const list = [] {
        const psl_ctx_t* latest = psl_latest(nullptr);
        return latest ? latest : psl_builtin();
    }();
    return list;
}

bool isPublicSuffix(const std::string& domain) {
    if (isIPAddress(domain)) return false;
    const psl_ctx_t* list = publicSuffixList();
    if (!list) return domain.find('.') == std::string::npos;
    return psl_is_public_suffix2(list, domain.c_str(), PSL_TYPE_ANY) != 0;
}

}  // namespace

bool HTTPCookie::parseCookieDate(std::string_view text, double* since1970) {
    // Tokens are separated by delimiters; the first token that fits each
    // of time, day of month, month and year is taken.
    auto isDelim = [](unsigned char c) {
        return c == 0x09 || (c >= 0x20 && c <= 0x2F) || (c >= 0x3B && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
               (c >= 0x7B && c <= 0x7E);
    };
    bool haveTime = false, haveDay = false, haveMonth = false, haveYear = false;
    int hour = 0, minute = 0, second = 0, day = 0, month = 0, year = 0;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isDelim(static_cast<unsigned char>(text[i]))) ++i;
        size_t start = i;
        while (i < text.size() && !isDelim(static_cast<unsigned char>(text[i]))) ++i;
        std::string_view tok = text.substr(start, i - start);
        if (tok.empty()) continue;
        auto digits = [](std::string_view s, size_t minN, size_t maxN, int* out, std::string_view* rest) {
            size_t n = 0;
            int v = 0;
            while (n < s.size() && n < maxN && s[n] >= '0' && s[n] <= '9') v = v * 10 + (s[n++] - '0');
            if (n < minN) return false;
            if (n < s.size() && s[n] >= '0' && s[n] <= '9') return false;
            *out = v;
            if (rest) *rest = s.substr(n);
            return true;
        };
        if (!haveTime) {
            int h, m, s;
            std::string_view r;
            if (digits(tok, 1, 2, &h, &r) && !r.empty() && r[0] == ':' && digits(r.substr(1), 1, 2, &m, &r) &&
                !r.empty() && r[0] == ':' && digits(r.substr(1), 1, 2, &s, &r)) {
                haveTime = true;
                hour = h;
                minute = m;
                second = s;
                continue;
            }
        }
        if (!haveDay) {
            int d;
            if (digits(tok, 1, 2, &d, nullptr)) {
                haveDay = true;
                day = d;
                continue;
            }
        }
        if (!haveMonth && tok.size() >= 3) {
            static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                  "jul", "aug", "sep", "oct", "nov", "dec"};
            std::string m = lowercased(tok.substr(0, 3));
            bool found = false;
            for (int k = 0; k < 12; ++k)
                if (m == kMonths[k]) {
                    month = k + 1;
                    found = true;
                }
            if (found) {
                haveMonth = true;
                continue;
            }
        }
        if (!haveYear) {
            int y;
            if (digits(tok, 2, 4, &y, nullptr)) {
                haveYear = true;
                year = y;
                continue;
            }
        }
    }
    if (haveYear && year >= 70 && year <= 99) year += 1900;
    if (haveYear && year >= 0 && year <= 69) year += 2000;
    if (!haveTime || !haveDay || !haveMonth || !haveYear) return false;
    // A day past its month's end is no date (the C library would roll it
    // into the next month).
    static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int lastDay = kMonthDays[month - 1] + (month == 2 && leap ? 1 : 0);
    if (day < 1 || day > lastDay || year < 1601 || hour > 23 || minute > 59 || second > 59) return false;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    time_t t = timegm(&tm);
    *since1970 = static_cast<double>(t);
    return true;
}

ns::Ref<HTTPCookie> HTTPCookie::cookieFromSetCookie(std::string_view field, const ns::URL& url, double now) {
    std::string host = hostOf(url);
    if (host.empty()) return nullptr;
    size_t semi = field.find(';');
    std::string_view pair = field.substr(0, semi);
    std::string_view attrs = semi == std::string_view::npos ? std::string_view() : field.substr(semi + 1);
    size_t eq = pair.find('=');
    if (eq == std::string_view::npos) return nullptr;
    std::string_view name = trimmed(pair.substr(0, eq));
    std::string_view value = trimmed(pair.substr(eq + 1));
    if (name.empty() || name.size() + value.size() > kMaxNameValueBytes) return nullptr;
    for (char c : std::string(name) + std::string(value))
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return nullptr;

    auto c = ns::make<HTTPCookie>();
    c->name_ = name;
    c->value_ = value;
    c->created_ = now;
    std::string domainAttr;
    std::string pathAttr;
    bool haveMaxAge = false;
    double maxAgeExpiry = 0, expiresAttr = 0;
    bool haveExpires = false;
    while (!attrs.empty()) {
        size_t next = attrs.find(';');
        std::string_view av = attrs.substr(0, next);
        attrs = next == std::string_view::npos ? std::string_view() : attrs.substr(next + 1);
        if (av.size() > kMaxAttributeBytes) continue;
        size_t e = av.find('=');
        std::string key = lowercased(trimmed(av.substr(0, e)));
        std::string_view val = e == std::string_view::npos ? std::string_view() : trimmed(av.substr(e + 1));
        if (key == "expires") {
            double t;
            if (parseCookieDate(val, &t)) {
                haveExpires = true;
                expiresAttr = t;
            }
        } else if (key == "max-age") {
            if (val.empty()) continue;
            bool neg = val[0] == '-';
            std::string_view d = neg ? val.substr(1) : val;
            if (d.empty() || d.find_first_not_of("0123456789") != std::string_view::npos) continue;
            double secs = d.size() > 12 ? 1e12 : std::stod(std::string(d));
            haveMaxAge = true;
            maxAgeExpiry = neg || secs == 0 ? -1 : now + secs;  // -1: already expired
        } else if (key == "domain") {
            if (val.empty()) continue;
            std::string_view v = val;
            if (v[0] == '.') v.remove_prefix(1);
            domainAttr = lowercased(v);
        } else if (key == "path") {
            if (val.empty() || val[0] != '/') continue;
            pathAttr = val;
        } else if (key == "secure") {
            c->secure_ = true;
        } else if (key == "httponly") {
            c->httpOnly_ = true;
        }
    }
    if (haveMaxAge) c->expires_ = maxAgeExpiry;  // Max-Age wins over Expires
    else if (haveExpires) c->expires_ = expiresAttr <= 0 ? -1 : expiresAttr;

    if (!domainAttr.empty()) {
        if (isPublicSuffix(domainAttr)) {
            // Section 5.3 step 5: a public suffix may only name the host itself.
            if (domainAttr != host) return nullptr;
            c->domain_ = host;
            c->hostOnly_ = true;
        } else {
            if (!domainMatches(host, domainAttr)) return nullptr;
            c->domain_ = domainAttr;
            c->hostOnly_ = false;
        }
    } else {
        c->domain_ = host;
        c->hostOnly_ = true;
    }
    c->path_ = pathAttr.empty() ? defaultPath(requestPathOf(url)) : pathAttr;
    // A secure cookie may only be set over a secure connection.
    if (c->secure_ && !url.hasScheme("https")) return nullptr;
    return c;
}

std::vector<ns::Ref<HTTPCookie>> HTTPCookie::cookiesWithResponseHeaderFields(const HeaderList& headers,
                                                                             const ns::URL& url) {
    std::vector<ns::Ref<HTTPCookie>> out;
    double now = secondsSince1970();
    for (auto& field : headers.getAll("Set-Cookie"))
        if (auto c = cookieFromSetCookie(field, url, now)) out.push_back(c);
    return out;
}

ns::Ref<HTTPCookie> HTTPCookie::make(std::string name, std::string value, std::string domain, std::string path,
                                     double expiresSince1970, bool secure, bool httpOnly) {
    auto c = ns::make<HTTPCookie>();
    c->name_ = std::move(name);
    c->value_ = std::move(value);
    c->hostOnly_ = domain.empty() || domain[0] != '.';
    c->domain_ = lowercased(c->hostOnly_ ? domain : domain.substr(1));
    c->path_ = path.empty() ? "/" : std::move(path);
    c->expires_ = expiresSince1970;
    c->secure_ = secure;
    c->httpOnly_ = httpOnly;
    c->created_ = secondsSince1970();
    return c;
}

std::string HTTPCookie::requestHeaderValue(const std::vector<ns::Ref<HTTPCookie>>& cookies) {
    std::string out;
    for (auto& c : cookies) {
        if (!out.empty()) out += "; ";
        out += c->name_ + "=" + c->value_;
    }
    return out;
}

std::string HTTPCookie::whyCannotBeSent() const {
    if (name_.find_first_of(";=") != std::string::npos)
        return "the name of the cookie " + quotedForMessage(name_) + " holds a \";\" or \"=\"";
    if (value_.find(';') != std::string::npos) return "the value of the cookie " + quotedForMessage(name_) + " holds a \";\"";
    return {};
}

std::string HTTPCookie::whyCookiesCannotBeSent(const std::vector<ns::Ref<HTTPCookie>>& cookies) {
    for (auto& c : cookies)
        if (std::string why = c->whyCannotBeSent(); !why.empty()) return why;
    return {};
}

ns::Ref<ns::Date> HTTPCookie::expiresDate() const {
    if (expires_ == 0) return nullptr;
    return ns::Date::dateWithTimeIntervalSince1970(expires_);
}

bool HTTPCookie::matchesURL(const ns::URL& url) const {
    std::string host = hostOf(url);
    if (host.empty()) return false;
    if (hostOnly_ ? host != domain_ : !domainMatches(host, domain_)) return false;
    if (!pathMatches(requestPathOf(url), path_)) return false;
    if (secure_ && !url.hasScheme("https")) return false;
    return url.hasScheme("http") || url.hasScheme("https");
}

bool HTTPCookie::isEqual(const ns::Object& other) const {
    auto* o = dynamic_cast<const HTTPCookie*>(&other);
    return o && o->name_ == name_ && o->domain_ == domain_ && o->path_ == path_ && o->hostOnly_ == hostOnly_;
}

size_t HTTPCookie::hash() const { return std::hash<std::string>()(name_ + "\n" + domain_ + "\n" + path_); }

std::string HTTPCookie::description() const {
    return "<HTTPCookie " + name_ + "=" + value_ + "; domain=" + (hostOnly_ ? "" : ".") + domain_ + "; path=" + path_ +
           (secure_ ? "; secure" : "") + (httpOnly_ ? "; httponly" : "") + ">";
}

// ---- Storage -------------------------------------------------------------------

HTTPCookieStorage& HTTPCookieStorage::sharedHTTPCookieStorage() {
    static HTTPCookieStorage* s = new HTTPCookieStorage();
    return *s;
}

void HTTPCookieStorage::purgeExpired(double now) {
    std::erase_if(cookies_, [now](const ns::Ref<HTTPCookie>& c) { return c->isExpired(now); });
}

void HTTPCookieStorage::setCookie(const ns::Ref<HTTPCookie>& cookie) {
    if (!cookie) return;
    std::lock_guard<std::mutex> g(mutex_);
    double now = secondsSince1970();
    for (auto it = cookies_.begin(); it != cookies_.end(); ++it) {
        if ((*it)->isEqual(*cookie)) {
            // The replacement keeps the original creation time (section 5.3 step 11).
            cookie->created_ = (*it)->created_;
            cookies_.erase(it);
            break;
        }
    }
    if (cookie->isExpired(now)) return;
    cookies_.push_back(cookie);
    // Limits: per domain, then overall; the oldest go first.
    size_t sameDomain = 0;
    for (auto& c : cookies_) sameDomain += c->domain_ == cookie->domain_;
    if (sameDomain > kMaxCookiesPerDomain || cookies_.size() > kMaxCookies) {
        purgeExpired(now);
        while (true) {
            sameDomain = 0;
            for (auto& c : cookies_) sameDomain += c->domain_ == cookie->domain_;
            if (sameDomain <= kMaxCookiesPerDomain) break;
            auto oldest = std::find_if(cookies_.begin(), cookies_.end(),
                                       [&](const ns::Ref<HTTPCookie>& c) { return c->domain_ == cookie->domain_; });
            cookies_.erase(oldest);
        }
        while (cookies_.size() > kMaxCookies) cookies_.erase(cookies_.begin());
    }
}

void HTTPCookieStorage::setCookies(const std::vector<ns::Ref<HTTPCookie>>& cookies) {
    for (auto& c : cookies) setCookie(c);
}

std::vector<ns::Ref<HTTPCookie>> HTTPCookieStorage::cookiesForURL(const ns::URL& url) {
    std::lock_guard<std::mutex> g(mutex_);
    purgeExpired(secondsSince1970());
    std::vector<ns::Ref<HTTPCookie>> out;
    for (auto& c : cookies_)
        if (c->matchesURL(url)) out.push_back(c);
    std::stable_sort(out.begin(), out.end(), [](const ns::Ref<HTTPCookie>& a, const ns::Ref<HTTPCookie>& b) {
        if (a->path_.size() != b->path_.size()) return a->path_.size() > b->path_.size();
        return a->created_ < b->created_;
    });
    return out;
}

std::vector<ns::Ref<HTTPCookie>> HTTPCookieStorage::cookies() {
    std::lock_guard<std::mutex> g(mutex_);
    purgeExpired(secondsSince1970());
    return cookies_;
}

void HTTPCookieStorage::deleteCookie(const HTTPCookie& cookie) {
    std::lock_guard<std::mutex> g(mutex_);
    std::erase_if(cookies_, [&](const ns::Ref<HTTPCookie>& c) { return c->isEqual(cookie); });
}

void HTTPCookieStorage::deleteCookiesForURL(const ns::URL& url) {
    std::lock_guard<std::mutex> g(mutex_);
    std::erase_if(cookies_, [&](const ns::Ref<HTTPCookie>& c) { return c->matchesURL(url); });
}

void HTTPCookieStorage::removeAllCookies() {
    std::lock_guard<std::mutex> g(mutex_);
    cookies_.clear();
}

}  // namespace net
