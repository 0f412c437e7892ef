// HTTPRequest: outgoing headers, response headers, character sets, cookies,
// redirects, dates and the default user agent.
#include <sys/utsname.h>

#include <cstdlib>
#include <filesystem>

#include "net/http/HTTPRequestInternal.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/network/MIMEType.h"
#include "platform/network/Origin.h"

namespace http {

namespace {
std::mutex gUserAgentMutex;
bool gUserAgentBuilt = false;
// Never destroyed, like the rest of the class-wide state (HTTPRequest.cpp).
std::string& gUserAgent = *new std::string;
// gUserAgent as the text object every request's header dictionary shares.
ns::Ref<ns::String>& gUserAgentText = *new ns::Ref<ns::String>;
std::vector<ns::Ref<net::HTTPCookie>>& gSessionCookies = *new std::vector<ns::Ref<net::HTTPCookie>>;

// Character set names this engine decodes, lower case.
bool knownCharset(const std::string& name) {
    static const char* known[] = {"utf-8", "utf8", "iso-8859-1", "latin1", "iso-latin-1", "us-ascii", "ascii",
                                  "windows-1252"};
    for (const char* k : known)
        if (name == k) return true;
    return false;
}
// Header names and values the engine sets on every request: text objects
// never change, so one of each serves every request.
const ns::Ref<ns::String>& userAgentName() {
    static const auto& name = *new ns::Ref<ns::String>(ns::String::make("User-Agent"));
    return name;
}
const ns::Ref<ns::String>& acceptEncodingName() {
    static const auto& name = *new ns::Ref<ns::String>(ns::String::make("Accept-Encoding"));
    return name;
}
const ns::Ref<ns::String>& gzipValue() {
    static const auto& value = *new ns::Ref<ns::String>(ns::String::make("gzip"));
    return value;
}
}  // namespace

void HTTPRequest::addRequestHeader(const std::string& name, const std::string& value) {
    addRequestHeaderText(ns::String::make(name), engine::str(value));
}

void HTTPRequest::addRequestHeaderText(ns::Ref<ns::String> name, ns::Ref<ns::String> value) {
    std::lock_guard<std::mutex> g(settingsLock_);
    if (!requestHeaders_) requestHeaders_ = ns::MutableDictionary::make(1);
    // One entry per name, whatever its spelling.
    std::string spelled;
    for (size_t i = 0; i < requestHeaders_->count(); ++i) {
        ns::Object* key = requestHeaders_->keyAtIndex(i);
        std::string_view k = engine::textView(key, spelled);
        if (k != name->view() && net::equalsIgnoringCase(k, name->view())) {
            requestHeaders_->removeObjectForKey(*key);
            break;
        }
    }
    requestHeaders_->setObjectForKey(std::move(value), std::move(name));
}

void HTTPRequest::removeRequestHeader(std::string_view name) {
    std::lock_guard<std::mutex> g(settingsLock_);
    if (!requestHeaders_) return;
    for (size_t i = requestHeaders_->count(); i-- > 0;) {
        const std::string key = engine::textOf(requestHeaders_->keyAtIndex(i));
        if (net::equalsIgnoringCase(key, name)) requestHeaders_->removeObjectForKey(key);
    }
}

void HTTPRequest::buildRequestHeaders() {
    if (haveBuiltRequestHeaders_) return;
    haveBuiltRequestHeaders_ = true;
    if (auto main = mainRequest()) {
        auto headers = main->requestHeaders_;
        if (headers)
            for (size_t i = 0; i < headers->count(); ++i)
                addRequestHeader(engine::textOf(headers->keyAtIndex(i)), engine::textOf(headers->valueAtIndex(i)));
        return;
    }
    applyCookieHeader();
    if (!engine::headerIn(requestHeaders_.get(), "User-Agent")) {
        ns::Ref<ns::String> agent = userAgent_.empty() ? defaultUserAgentText() : engine::str(userAgent_);
        if (agent && agent->length()) addRequestHeaderText(userAgentName(), std::move(agent));
    }
    if (allowCompressedResponse_) addRequestHeaderText(acceptEncodingName(), gzipValue());
    if (body_.compresses()) addRequestHeader("Content-Encoding", "gzip");
    updatePartialDownloadSize();
    const uint64_t partial = download_.partialSize();
    download_.setAskedForRest(partial > 0);
    if (partial) {
        // The rest of the body the partial file starts, and only of that
        // body: a server holding another one answers with it whole.
        addRequestHeader("Range", ns::format("bytes=%llu-", (unsigned long long)partial));
        if (auto validator = download_.resumeValidator(); !validator.empty()) addRequestHeader("If-Range", validator);
    }
}

void HTTPRequest::applyCookieHeader() {
    if (useCookiePersistence_ && url_) {
        for (auto& c : net::HTTPCookieStorage::sharedHTTPCookieStorage().cookiesForURL(*url_)) {
            bool have = false;
            for (auto& e : requestCookies_) have = have || e->isEqual(*c);
            if (!have) requestCookies_.push_back(c);
        }
    }
    auto main = mainRequest();
    const auto& list = main ? main->requestCookies_ : requestCookies_;
    cookieRefusal_ = net::HTTPCookie::whyCookiesCannotBeSent(list);
    if (list.empty()) return;
    addRequestHeader("Cookie", net::HTTPCookie::requestHeaderValue(list));
}

void HTTPRequest::readResponseHeaders() {
    authenticationNeeded_ = kNoAuthenticationNeededYet;
    ns::Ref<net::HTTPMessage> message = readStream_ ? readStream_->responseHeader() : nullptr;
    if (!message || !message->isHeaderComplete()) return;
    responseMessage_ = message;
    storeResponseMessage(message);
    responseStatusCode_ = message->statusCode();
    responseStatusMessage_ = message->statusLine();

    // A not-modified answer to the validators the engine added is for the
    // stored answer they named: served from it when the cache can, else
    // the request is asked again without them. It never reaches the caller
    // of a plain GET.
    const bool toOwnValidators = responseStatusCode_ == 304 && cacheValidatorsSent_.any();
    if (auto cache = lockedDownloadCache()) {
        if (cache->canUseCachedDataForRequest(*this)) {
            if (auto taken = takeFromCache(toOwnValidators ? &cacheValidatorsSent_ : nullptr)) {
                cache->updateExpiryForRequest(*this, secondsToCache_);
                answerFromCache(*taken);
                return;
            }
        }
    }
    if (toOwnValidators) {
        askAgainWithoutCacheValidators();
        return;
    }
    if (!takeRangeAnswer(*message)) return;
    if (responseStatusCode_ == 401) authenticationNeeded_ = kHTTPAuthenticationNeeded;
    else if (responseStatusCode_ == 407) authenticationNeeded_ = kProxyAuthenticationNeeded;

    if (!authenticationNeeded_ && !username_.empty() && !password_.empty() && useSessionPersistence_ &&
        !serverLogin_.authentication() && serverLogin_.scheme() == "Basic" && ownCredentialsApplyTo(*url_)) {
        auto record = ns::MutableDictionary::make();
        record->setObject(ns::Dictionary::make({{kCredentialUsernameKey, engine::str(username_)},
                                                {kCredentialPasswordKey, engine::str(password_)}}),
                          "Credentials");
        record->setObject(url_, "URL");
        record->setObject(engine::str("Basic"), "AuthenticationScheme");
        storeAuthenticationCredentialsInSessionStore(record);
    }
    parseStringEncodingFromHeaders();

    responseCookies_ = net::HTTPCookie::cookiesWithResponseHeaderFields(message->headers(), *url_);
    if (useCookiePersistence_ && !responseCookies_.empty()) {
        net::HTTPCookieStorage::sharedHTTPCookieStorage().setCookies(responseCookies_);
        for (auto& c : responseCookies_) addSessionCookie(c);
    }

    if (!willRedirect()) {
        auto main = mainRequest();
        HTTPRequest* receiver = main ? main.get() : this;
        auto lengthText = message->headerField("Content-Length");
        std::optional<uint64_t> announced = lengthText ? engine::decimalLength(*lengthText) : std::nullopt;
        if (announced) {
            uint64_t length = *announced;
            if (main && allowCompressedResponse_ && length == 20 && showAccurateProgress_ &&
                shouldResetDownloadProgress_) {
                main->showAccurateProgress_ = false;
                main->incrementDownloadSizeBy(1);
            } else {
                receiver->contentLength_ = length;
                // Room for the announced body up front (and for what a gzip
                // body inflates to), so that it grows without being copied
                // (bounded by the caller's limit: the length is the server's
                // word, not a promise).
                receiver->download_.reserve(length);
                if (showAccurateProgress_ && shouldResetDownloadProgress_) {
                    const auto added = static_cast<int64_t>(length + receiver->download_.partialSize());
                    receiver->incrementDownloadSizeBy(added);
                    downloadSizeAdded_ += added;
                }
            }
        } else if (showAccurateProgress_ && shouldResetDownloadProgress_) {
            receiver->showAccurateProgress_ = false;
            receiver->incrementDownloadSizeBy(1);
        }
    }
    readKeepAlive(*message);
    reportHeaders();
}

void HTTPRequest::readKeepAlive(const net::HTTPMessage& response) {
    connectionCanBeReused_ = false;
    // After 101 the connection speaks another protocol.
    if (!shouldAttemptPersistentConnection_ || response.statusCode() == 101) return;
    std::string connection = engine::lower(response.headerField("Connection").value_or(""));
    bool http11 = response.version() == "HTTP/1.1";
    bool http10 = response.version() == "HTTP/1.0";
    if (!((http11 || (http10 && connection == "keep-alive")) && connection != "close")) return;
    auto keepAlive = response.headerField("Keep-Alive");
    if (!keepAlive) {
        connectionCanBeReused_ = true;
        return;
    }
    // "timeout=15, max=100"
    long timeout = 0, max = 0;
    const std::string& v = *keepAlive;
    size_t t = v.find("timeout=");
    if (t != std::string::npos) timeout = std::strtol(v.c_str() + t + 8, nullptr, 10);
    size_t m = v.find("max=");
    if (m != std::string::npos) max = std::strtol(v.c_str() + m + 4, nullptr, 10);
    if (max > 5) {
        connectionCanBeReused_ = true;
        persistentConnectionTimeoutSeconds_ = static_cast<double>(timeout);
    }
}

void HTTPRequest::parseMimeType(const std::string& contentType, std::string* mimeType, std::string* charset) {
    if (charset) charset->clear();
    size_t semi = contentType.find(';');
    if (semi == std::string::npos) {
        if (mimeType) *mimeType = std::string(net::trimmed(contentType));
        return;
    }
    if (mimeType) *mimeType = std::string(net::trimmed(contentType.substr(0, semi)));
    size_t cs = contentType.find("charset=", semi);
    if (cs == std::string::npos || !charset) return;
    size_t start = cs + 8;
    size_t end = contentType.find(';', start);
    std::string name(net::trimmed(contentType.substr(start, end == std::string::npos ? std::string::npos : end - start)));
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
    *charset = engine::lower(name);
}

void HTTPRequest::parseStringEncodingFromHeaders() {
    std::string charset;
    parseMimeType(responseHeaderField("Content-Type").value_or(""), nullptr, &charset);
    responseEncoding_ = knownCharset(charset) ? charset : defaultResponseEncoding_;
}

// ---- Redirects ---------------------------------------------------------------------

bool HTTPRequest::willRedirect() {
    if (!shouldRedirect_) return false;
    int s = responseStatusCode_;
    if (s != 301 && s != 302 && s != 303 && s != 307) return false;
    auto location = responseHeaderField("Location");
    if (!location) return false;
    reportRedirected();

    auto target = ns::URL::URLWithStringRelativeToURL(*location, url_);
    target = target ? target->absoluteURL() : nullptr;
    bool keptMethod = true;
    if (s != 307 && (!shouldUseRFC2616RedirectBehaviour_ || s == 303)) {
        keptMethod = false;
        requestMethod_ = "GET";
        body_.drop();
        std::string agent = engine::headerIn(requestHeaders_.get(), "User-Agent").value_or("");
        auto accept = engine::headerIn(requestHeaders_.get(), "Accept");
        requestHeaders_ = nullptr;
        if (!agent.empty()) addRequestHeader("User-Agent", agent);
        if (accept) addRequestHeader("Accept", *accept);
        haveBuiltRequestHeaders_ = false;
    }
    if (keptMethod && requestHeaders_) {
        // The cookies are worked out again for the new URL (main() does it).
        requestHeaders_->removeObjectForKey("Cookie");
        reapplyCookies_ = true;
    }
    // Credentials and cookies stay with their origin: not to another
    // server, not from https to http.
    if (!target || !net::isSameOrigin(*url_, *target)) leaveOriginForRedirect();
    redirectURL_ = target;
    needsRedirect_ = true;
    requestCookies_.clear();
    return true;
}

bool HTTPRequest::willAskDelegateToConfirmRedirect() {
    RedirectSelector selector;
    auto [d, q] = listeners([&] { selector = willRedirectSelector_; });
    bool delegateAnswers = d && (selector != &HTTPRequestDelegate::requestWillRedirectToURL ||
                                 d->answers(HTTPRequestDelegate::Optional::requestWillRedirectToURL));
    bool queueAnswers =
        q && static_cast<HTTPRequestDelegate*>(q.get())->answers(HTTPRequestDelegate::Optional::requestWillRedirectToURL);
    if (!delegateAnswers && !queueAnswers) return false;
    auto target = std::exchange(redirectURL_, nullptr);
    // The request waits (no stream, no time-out clock) until redirectToURL().
    lastActivityTime_ = 0;
    awaitingCaller_ = true;
    reportWillRedirect(target);
    return true;
}

void HTTPRequest::redirectToURL(ns::Ref<ns::URL> url) {
    auto self = ns::keepAlive(this);
    performOnRequestThread([self, url] {
        self->redirectURL_ = url;
        self->awaitingCaller_ = false;
        self->performRedirect();
    });
}

void HTTPRequest::performRedirect() {
    if (cancelled_ || error_) return;
    auto target = redirectURL_;
    if (!target) {
        failWithError(engine::unableToCreateRequestError());
        return;
    }
    replaceURL(target);
    complete_ = true;
    needsRedirect_ = false;
    ++redirectCount_;
    if (redirectCount_ >= 6) {
        failWithError(engine::tooMuchRedirectionError());
        complete_ = true;
        return;
    }
    main();
}

void HTTPRequest::reportHeaders() {
    if (error_ || isCompanionHEAD_) return;
    if (!anyoneListens(HTTPRequestDelegate::Optional::requestDidReceiveResponseHeaders, &HTTPRequest::headersReceivedBlock_))
        return;  // nor is the dictionary built
    auto self = ns::keepAlive(this);
    callOnMain([self] {
        self->notifyListeners(HTTPRequestDelegate::Optional::requestDidReceiveResponseHeaders,
                              &HTTPRequest::didReceiveResponseHeadersSelector_,
                              &HTTPRequestDelegate::requestDidReceiveResponseHeaders,
                              &HTTPRequest::headersReceivedBlock_, self->responseHeaders());
    });
}

void HTTPRequest::reportRedirected() {
    if (error_ || isCompanionHEAD_) return;
    auto self = ns::keepAlive(this);
    callOnMain([self] {
        Block block;
        auto del = self->listeners([&] { block = self->requestRedirectedBlock_; }).delegate;
        if (del && del->answers(HTTPRequestDelegate::Optional::requestRedirected)) del->requestRedirected(self.get());
        if (block) block();
    });
}

void HTTPRequest::reportWillRedirect(ns::Ref<ns::URL> target) {
    if (error_ || isCompanionHEAD_) return;
    auto self = ns::keepAlive(this);
    callOnMain([self, target] {
        RedirectSelector sel;
        auto [del, q] = self->listeners([&] { sel = self->willRedirectSelector_; });
        if (del && (sel != &HTTPRequestDelegate::requestWillRedirectToURL ||
                    del->answers(HTTPRequestDelegate::Optional::requestWillRedirectToURL)))
            (del.get()->*sel)(self.get(), target);
        if (q && static_cast<HTTPRequestDelegate*>(q.get())->answers(HTTPRequestDelegate::Optional::requestWillRedirectToURL))
            q->requestWillRedirectToURL(self.get(), target);
    });
}

// ---- Class helpers --------------------------------------------------------------------

std::string HTTPRequest::defaultUserAgentString() {
    std::lock_guard<std::mutex> g(gUserAgentMutex);
    return buildDefaultUserAgent();
}

ns::Ref<ns::String> HTTPRequest::defaultUserAgentText() {
    std::lock_guard<std::mutex> g(gUserAgentMutex);
    if (!gUserAgentText) gUserAgentText = ns::String::make(buildDefaultUserAgent());
    return gUserAgentText;
}

std::string HTTPRequest::buildDefaultUserAgent() {
    if (gUserAgentBuilt) return gUserAgent;
    gUserAgentBuilt = true;
    ns::Ref<ns::Object> plist = ns::PropertyList::readFromFile(ns::Paths::pathForResource("Info", "plist"));
    auto* info = ns::as<ns::Dictionary>(plist.get());
    std::string name = info ? engine::textOf(info->objectForKey("CFBundleDisplayName")) : "";
    if (name.empty() && info) name = engine::textOf(info->objectForKey("CFBundleName"));
    if (name.empty()) return gUserAgent;
    std::string shortVersion = engine::textOf(info->objectForKey("CFBundleShortVersionString"));
    std::string version = engine::textOf(info->objectForKey("CFBundleVersion"));
    std::string v;
    if (!shortVersion.empty() && !version.empty() && shortVersion != version)
        v = ns::format("%@ rv:%@", shortVersion, version);
    else v = !shortVersion.empty() ? shortVersion : version;
    utsname u{};
    ::uname(&u);
    const char* lang = std::getenv("LANG");
    std::string locale = lang && *lang ? std::string(lang) : std::string("en_US");
    locale = locale.substr(0, locale.find('.'));
    gUserAgent = ns::format("%@ %@ (%@; %@ %@; %@)", name, v, std::string(u.machine), std::string(u.sysname),
                            std::string(u.release), locale);
    // The texts come from a file and the environment: a control character
    // (a line break above all) would have every request refused as a field
    // that cannot be sent, so each becomes a blank.
    for (char& c : gUserAgent)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return gUserAgent;
}

void HTTPRequest::setDefaultUserAgentString(std::string agent) {
    std::lock_guard<std::mutex> g(gUserAgentMutex);
    gUserAgentBuilt = true;
    gUserAgent = std::move(agent);
    gUserAgentText = nullptr;
}

std::string HTTPRequest::base64forData(const ns::Data& data) { return net::base64Encode(data.view()); }

ns::Ref<ns::Date> HTTPRequest::dateFromRFC1123String(const std::string& text) {
    return DownloadCache::dateFromRFC1123String(text);
}

ns::Ref<ns::Date> HTTPRequest::expiryDateForRequest(const CacheRequest& request, double maxAge) {
    return DownloadCache::expiryDateForRequestClassRule(request, maxAge);
}

ns::Ref<ns::String> HTTPRequest::mimeTypeForFileAtPath(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return nullptr;
    return engine::str(net::mimeTypeForPath(path));
}

std::vector<ns::Ref<net::HTTPCookie>> HTTPRequest::sessionCookies() {
    std::lock_guard<std::recursive_mutex> g(engine::sessionCookiesLock());
    return gSessionCookies;
}

void HTTPRequest::setSessionCookies(std::vector<ns::Ref<net::HTTPCookie>> cookies) {
    std::lock_guard<std::recursive_mutex> g(engine::sessionCookiesLock());
    for (auto& c : gSessionCookies) net::HTTPCookieStorage::sharedHTTPCookieStorage().deleteCookie(*c);
    gSessionCookies = std::move(cookies);
}

void HTTPRequest::addSessionCookie(ns::Ref<net::HTTPCookie> cookie) {
    if (!cookie) return;
    using Storage = net::HTTPCookieStorage;
    const double now = net::secondsSince1970();
    std::lock_guard<std::recursive_mutex> g(engine::sessionCookiesLock());
    // A cookie set again replaces the one before it; an expired one only
    // removes it; expired cookies go.
    std::erase_if(gSessionCookies, [&](const ns::Ref<net::HTTPCookie>& c) {
        return c->isExpired(now) ||
               (c->domain() == cookie->domain() && c->path() == cookie->path() && c->name() == cookie->name());
    });
    if (cookie->isExpired(now)) return;
    gSessionCookies.push_back(std::move(cookie));
    // The same limits as the cookie storage: per domain, then in all, the
    // oldest going first, so answers full of cookies cannot grow the list.
    const std::string domain = gSessionCookies.back()->domain();
    size_t sameDomain = 0;
    for (auto& c : gSessionCookies) sameDomain += c->domain() == domain;
    for (auto it = gSessionCookies.begin(); sameDomain > Storage::kMaxCookiesPerDomain;) {
        if ((*it)->domain() == domain) {
            it = gSessionCookies.erase(it);
            --sameDomain;
        } else {
            ++it;
        }
    }
    if (gSessionCookies.size() > Storage::kMaxCookies)
        gSessionCookies.erase(gSessionCookies.begin(),
                              gSessionCookies.begin() + static_cast<long>(gSessionCookies.size() - Storage::kMaxCookies));
}

void HTTPRequest::clearSession() {
    {
        std::lock_guard<std::recursive_mutex> g(engine::sessionCredentialsLock());
        for (auto& r : sessionCredentialsStore())
            removeAuthenticationCredentialsFromSessionStore(r->dictionaryForKey("Credentials"));
        for (auto& r : sessionProxyCredentialsStore())
            removeProxyAuthenticationCredentialsFromSessionStore(r->dictionaryForKey("Credentials"));
    }
    setSessionCookies({});
    if (CacheDelegate* cache = defaultCache()) cache->clearCachedResponsesForStoragePolicy(0);
}

}  // namespace http
