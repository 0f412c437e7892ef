#include "platform/network/URLConnection.h"

#include <zlib.h>

#include <cstring>
#include <functional>

#include "platform/foundation/String.h"
#include "platform/network/HTTPAuthentication.h"
#include "platform/network/HTTPCookie.h"
#include "platform/network/NetworkErrors.h"
#include "platform/network/Origin.h"

namespace net {

// ---- URLRequest ------------------------------------------------------------------

ns::Ref<URLRequest> URLRequest::requestWithURL(ns::Ref<ns::URL> url, int cachePolicy, double timeoutInterval) {
    auto r = ns::make<URLRequest>();
    r->url_ = std::move(url);
    r->cachePolicy_ = cachePolicy;
    r->timeout_ = timeoutInterval;
    return r;
}

void URLRequest::setValueForHTTPHeaderField(std::string_view value, std::string_view name) {
    if (value.empty()) headers_.remove(name);
    else headers_.set(name, value);
}

void URLRequest::setAllHTTPHeaderFields(const ns::Dictionary* fields) {
    headers_.clear();
    if (!fields) return;
    for (size_t i = 0; i < fields->count(); ++i) {
        auto* k = ns::as<ns::String>(fields->keyAtIndex(i));
        auto* v = ns::as<ns::String>(fields->valueAtIndex(i));
        if (k && v) headers_.set(k->utf8(), v->utf8());
    }
}

ns::Ref<URLRequest> URLRequest::copy() const {
    auto r = ns::make<URLRequest>();
    r->url_ = url_;
    r->method_ = method_;
    r->body_ = body_;
    r->bodyStream_ = bodyStream_;
    r->headers_ = headers_;
    r->timeout_ = timeout_;
    r->cachePolicy_ = cachePolicy_;
    r->handleCookies_ = handleCookies_;
    r->tls_ = tls_;
    r->proxy_ = proxy_;
    r->user_ = user_;
    r->password_ = password_;
    r->maxResponseLength_ = maxResponseLength_;
    return r;
}

std::string URLRequest::description() const {
    return "<URLRequest " + method_ + " " + (url_ ? url_->absoluteText() : std::string("(null)")) + ">";
}

// ---- HTTPURLResponse -------------------------------------------------------------

HTTPURLResponse::HTTPURLResponse(ns::Ref<ns::URL> url, ns::Ref<HTTPMessage> message)
    : url_(std::move(url)), message_(std::move(message)) {}

long long HTTPURLResponse::expectedContentLength() const {
    auto v = message_->headerField("Content-Length");
    if (!v || v->empty() || v->size() > 18 || v->find_first_not_of("0123456789") != std::string::npos) return -1;
    // A body that will be inflated has no announced length.
    if (auto ce = message_->headerField("Content-Encoding"); ce && !trimmed(*ce).empty() && lowercased(*ce) != "identity")
        return -1;
    return std::stoll(*v);
}

std::string HTTPURLResponse::MIMEType() const {
    auto ct = message_->headerField("Content-Type");
    if (!ct) return {};
    return lowercased(trimmed(std::string_view(*ct).substr(0, ct->find(';'))));
}

std::string HTTPURLResponse::textEncodingName() const {
    auto ct = message_->headerField("Content-Type");
    if (!ct) return {};
    std::string lower = lowercased(*ct);
    size_t p = lower.find("charset=");
    if (p == std::string::npos) return {};
    std::string v(trimmed(std::string_view(*ct).substr(p + 8, ct->find(';', p) - p - 8)));
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    return lowercased(v);
}

std::string HTTPURLResponse::description() const {
    return "<HTTPURLResponse " + (url_ ? url_->absoluteText() : std::string()) + " " + std::to_string(statusCode()) + ">";
}

// ---- Delegate --------------------------------------------------------------------

ns::Ref<URLRequest> URLConnectionDelegate::connectionWillSendRequest(URLConnection&, URLRequest& request,
                                                                     const HTTPURLResponse*) {
    return ns::Ref<URLRequest>(&request);
}

// ---- Connection ------------------------------------------------------------------

struct URLConnection::Inflater {
    enum class Result { Ok, Corrupt, TooLarge };
    z_stream z{};
    bool ready = false;
    bool ended = false;
    size_t produced = 0;
    size_t taken = 0;  // compressed bytes fed so far

    bool init() {
        ready = inflateInit2(&z, 47) == Z_OK;
        return ready;
    }
    ~Inflater() {
        if (ready) inflateEnd(&z);
    }
    // Inflates [p, p+n), handing each piece of output to `take`, and stops
    // as soon as more than `room` bytes came out of this call (TooLarge).
    Result feed(const uint8_t* p, size_t n, uint64_t room, const std::function<void(const char*, size_t)>& take) {
        if (ended) return Result::Ok;
        taken += n;
        z.next_in = const_cast<Bytef*>(p);
        z.avail_in = static_cast<uInt>(n);
        char buf[32768];
        uint64_t out = 0;
        while (z.avail_in > 0 || z.avail_out == 0) {
            z.next_out = reinterpret_cast<Bytef*>(buf);
            z.avail_out = sizeof buf;
            int rc = inflate(&z, Z_NO_FLUSH);
            size_t got = sizeof buf - z.avail_out;
            produced += got;
            out += got;
            if (out > room) return Result::TooLarge;
            if (got) take(buf, got);
            if (rc == Z_STREAM_END) {
                ended = true;
                return Result::Ok;
            }
            if (rc == Z_BUF_ERROR && z.avail_in == 0) return Result::Ok;
            if (rc != Z_OK) return Result::Corrupt;
            if (z.avail_in == 0 && z.avail_out != 0) break;
        }
        return Result::Ok;
    }
};

URLConnection::URLConnection(ns::Ref<URLRequest> request, ns::Ref<URLConnectionDelegate> delegate)
    : original_(request), current_(request ? request->copy() : nullptr), delegate_(std::move(delegate)) {}

URLConnection::~URLConnection() {
    if (stream_) {
        stream_->setClient(0, nullptr);
        if (loop_) stream_->unscheduleFromRunLoop(*loop_, mode_);
    }
}

ns::Ref<URLConnection> URLConnection::make(ns::Ref<URLRequest> request, ns::Ref<URLConnectionDelegate> delegate) {
    if (!request || !request->URL()) return nullptr;
    return ns::Ref<URLConnection>(new URLConnection(std::move(request), std::move(delegate)));
}

ns::Ref<URLConnection> URLConnection::connectionWithRequest(ns::Ref<URLRequest> request,
                                                            ns::Ref<URLConnectionDelegate> delegate) {
    auto c = make(std::move(request), std::move(delegate));
    if (c) c->start();
    return c;
}

void URLConnection::scheduleInRunLoop(ns::RunLoop& loop, const std::string& mode) {
    if (started_) return;
    loop_ = ns::Ref<ns::RunLoop>(&loop);
    mode_ = mode;
}

void URLConnection::start() {
    if (started_) return;
    started_ = true;
    if (!loop_) loop_ = ns::RunLoop::current();
    self_ = ns::keepAlive(this);  // alive until the end, like the loop holds it
    openStream();
}

void URLConnection::openStream() {
    auto& req = *current_;
    auto msg = HTTPMessage::request(req.HTTPMethod(), req.URL()->absoluteText());
    for (const auto& [k, v] : req.headers().fields()) msg->headers().add(k, v);
    std::string cookieRefusal;
    if (req.HTTPShouldHandleCookies() && !msg->headers().contains("Cookie")) {
        auto cookies = HTTPCookieStorage::sharedHTTPCookieStorage().cookiesForURL(*req.URL());
        cookieRefusal = HTTPCookie::whyCookiesCannotBeSent(cookies);
        if (!cookies.empty()) msg->headers().add("Cookie", HTTPCookie::requestHeaderValue(cookies));
    }
    if (!msg->headers().contains("Accept-Encoding")) msg->headers().add("Accept-Encoding", "gzip, deflate");
    if (auto* a = ns::as<HTTPAuthentication>(auth_.get())) {
        std::string user(req.URL()->user() ? req.URL()->user()->utf8() : req.user());
        std::string pass(req.URL()->password() ? req.URL()->password()->utf8() : req.password());
        std::string domain;
        // "DOMAIN\\user" names the account domain NTLM needs.
        size_t slash = user.find('\\');
        if (a->requiresAccountDomain() && slash != std::string::npos && user.find('\\', slash + 1) == std::string::npos) {
            domain = user.substr(0, slash);
            user = user.substr(slash + 1);
        }
        a->applyCredentials(*msg, user, pass, domain, nullptr);
    }
    ns::Ref<InputStream> body = req.HTTPBodyStream();
    if (!body && req.HTTPBody()) msg->setBody(req.HTTPBody());
    sentMessage_ = msg;
    ns::Weak<URLConnection> weak(this);
    if (!cookieRefusal.empty()) {
        // A stored cookie that would read as other pairs: refused like a
        // field that cannot be sent, before anything is sent.
        ns::Ref<ns::Error> e = makeError(kNetworkErrorDomain, kErrorRequestCannotBeSent, "The request cannot be sent: " + cookieRefusal);
        loop_->performDeferred(
            [weak, e] {
                if (auto self = weak.lock()) self->failWith(e);
            },
            mode_);
        return;
    }
    stream_ = HTTPReadStream::make(msg, body);
    stream_->setTLSSettings(req.tlsSettings());
    stream_->setProxy(req.proxy());
    stream_->setAttemptPersistentConnection(!retried_);
    stream_->setIdleTimeout(req.timeoutInterval());
    stream_->setClient(kStreamEventHasBytesAvailable | kStreamEventEndEncountered | kStreamEventErrorOccurred,
                       [weak](HTTPReadStream& s, StreamEvent e) {
                           if (auto self = weak.lock()) self->onEvent(s, e);
                       });
    stream_->scheduleInRunLoop(*loop_, mode_);
    headerSeen_ = false;
    bodyIsRedirect_ = bodyIsChallenge_ = false;
    if (!stream_->open()) {
        ns::Ref<ns::Error> e = stream_->streamError();
        loop_->performDeferred(
            [weak, e] {
                if (auto self = weak.lock()) self->failWith(e);
            },
            mode_);
    }
}

void URLConnection::onEvent(HTTPReadStream& s, StreamEvent e) {
    if (finished_ || cancelled_ || &s != stream_.get()) return;
    auto keep = ns::keepAlive(this);
    if (e == kStreamEventHasBytesAvailable) {
        if (!headerSeen_ && s.responseHeader()) {
            headerSeen_ = true;
            onHeader(s);
            if (finished_ || cancelled_ || &s != stream_.get()) return;
        }
        onBody(s);
    } else if (e == kStreamEventEndEncountered) {
        onEnd();
    } else if (e == kStreamEventErrorOccurred) {
        onError(s.streamError());
    }
}

void URLConnection::onHeader(HTTPReadStream& s) {
    auto msg = s.responseHeader();
    auto url = current_->URL();
    if (current_->HTTPShouldHandleCookies())
        HTTPCookieStorage::sharedHTTPCookieStorage().setCookies(HTTPCookie::cookiesWithResponseHeaderFields(msg->headers(), *url));
    int code = msg->statusCode();
    auto location = msg->headerField("Location");
    bool redirect = (code == 301 || code == 302 || code == 303 || code == 307 || code == 308) && location;
    if (redirect) {
        auto target = ns::URL::URLWithStringRelativeToURL(*location, url);
        if (target && (target->hasScheme("http") || target->hasScheme("https"))) {
            if (redirects_ >= kMaxRedirects) {
                return failWith(makeError(kNetworkErrorDomain, kErrorRedirectLoop, "too many HTTP redirects"));
            }
            auto next = current_->copy();
            next->setURL(target);
            if (code == 303 || ((code == 301 || code == 302) && current_->HTTPMethod() == "POST")) {
                next->setHTTPMethod(code == 303 && current_->HTTPMethod() == "HEAD" ? "HEAD" : "GET");
                next->setHTTPBody(nullptr);
                next->setHTTPBodyStream(nullptr);
                next->setValueForHTTPHeaderField("", "Content-Type");
                next->setValueForHTTPHeaderField("", "Content-Length");
            }
            // Credentials and cookies the caller set stay with their origin
            // (scheme, host and port): not to another server, not from https
            // to http.
            if (!isSameOrigin(*url, *target)) {
                for (std::string_view field : kCredentialHeaderFields) next->setValueForHTTPHeaderField("", field);
                next->setCredentials("", "");
            }
            // A stream body cannot be sent twice.
            if (next->HTTPBodyStream() && code != 303) {
                return failWith(makeError(kNetworkErrorDomain, kErrorBadServerResponse,
                                          "cannot resend a streamed body to a redirect"));
            }
            auto redirectResponse = ns::make<HTTPURLResponse>(url, msg);
            ns::Ref<URLRequest> chosen = next;
            if (delegate_) chosen = delegate_->connectionWillSendRequest(*this, *next, redirectResponse.get());
            if (finished_ || cancelled_) return;
            if (chosen) {
                redirectTo_ = chosen;
                bodyIsRedirect_ = true;
                return;
            }
        }
    }
    if (code == 401 || code == 407) {
        if (auto* a = ns::as<HTTPAuthentication>(auth_.get())) {
            // Our credentials were answered with another challenge: NTLM's
            // second step or a stale Digest nonce continue; a refusal ends
            // here and the challenge is the response.
            a->updateFromResponse(*msg);
            if (a->isValid() && authAttempts_ < 3) {
                bodyIsChallenge_ = true;
                return;
            }
        } else if (authAttempts_ == 0) {
            bool haveCredentials = (url->user() && url->password()) || !current_->user().empty();
            if (haveCredentials) {
                if (auto created = HTTPAuthentication::authenticationFromResponse(*msg)) {
                    auth_ = created;
                    bodyIsChallenge_ = true;
                    return;
                }
            }
        }
    }
    response_ = ns::make<HTTPURLResponse>(url, msg);
    delivered_ = 0;
    inflater_.reset();
    if (auto ce = msg->headerField("Content-Encoding")) {
        std::string enc = lowercased(trimmed(*ce));
        if (enc == "gzip" || enc == "x-gzip" || enc == "deflate") {
            inflater_ = std::make_unique<Inflater>();
            if (!inflater_->init()) inflater_.reset();
        }
    }
    if (delegate_) delegate_->connectionDidReceiveResponse(*this, *response_);
}

bool URLConnection::deliverData(const uint8_t* p, size_t n) {
    if (bodyIsRedirect_ || bodyIsChallenge_ || !response_) return true;
    uint64_t limit = current_->maxResponseLength();
    uint64_t room = delivered_ < limit ? limit - delivered_ : 0;
    if (inflater_) {
        // The inflated bytes go on in pieces, so one small hostile read
        // never turns into one huge buffer.
        auto keep = ns::keepAlive(this);
        auto result = inflater_->feed(p, n, room, [this](const char* bytes, size_t length) {
            delivered_ += length;
            if (delegate_ && !finished_ && !cancelled_)
                delegate_->connectionDidReceiveData(*this, ns::Data(reinterpret_cast<const uint8_t*>(bytes), length));
        });
        if (finished_ || cancelled_) return false;
        if (result == Inflater::Result::TooLarge) {
            failTooLarge();
            return false;
        }
        if (result == Inflater::Result::Corrupt) {
            failWith(makeError(kNetworkErrorDomain, kErrorBadServerResponse, "The compressed response body is corrupt"));
            return false;
        }
        return true;
    }
    if (n > room) {
        failTooLarge();
        return false;
    }
    delivered_ += n;
    if (delegate_) delegate_->connectionDidReceiveData(*this, ns::Data(p, n));
    return true;
}

void URLConnection::failTooLarge() {
    failWith(makeError(kNetworkErrorDomain, kErrorDataLengthExceedsMaximum,
                       "The response body is larger than the limit of " +
                           std::to_string(current_->maxResponseLength()) + " bytes"));
}

void URLConnection::onBody(HTTPReadStream& s) {
    uint8_t buf[65536];
    long n;
    while (!finished_ && !cancelled_ && &s == stream_.get() && (n = s.read(buf, sizeof buf)) > 0) {
        if (!deliverData(buf, static_cast<size_t>(n))) return;
    }
}

void URLConnection::onEnd() {
    if (bodyIsRedirect_) return followRedirect();
    if (bodyIsChallenge_) return retryWithCredentials();
    // A compressed body is one whole stream or an error: cut anywhere
    // (by its length, by the connection closing, before a byte inflated),
    // it is not handed on as an empty or partial answer. Only an answer
    // without a body (HEAD, 204, 304, a length of 0) has none to check.
    if (inflater_ && !inflater_->ended && (inflater_->taken > 0 || !announcesNoBody())) {
        return failWith(makeError(kNetworkErrorDomain, kErrorBadServerResponse,
                                  "The compressed response body ended early"));
    }
    finish();
}

bool URLConnection::announcesNoBody() const {
    const int code = response_->statusCode();
    if (current_->HTTPMethod() == "HEAD" || code == 204 || code == 304) return true;
    return trimmed(response_->valueForHTTPHeaderField("Content-Length").value_or("")) == "0";
}

void URLConnection::onError(ns::Ref<ns::Error> e) {
    // A pooled connection the server had dropped before answering anything:
    // once more on a new one. A byte of an answer means the server took the
    // request, which is never sent twice.
    if (isDroppedConnection(e.get()) && stream_ && stream_->connectionWasReused() &&
        !stream_->anyResponseByteReceived() && !retried_ && !current_->HTTPBodyStream()) {
        retried_ = true;
        dropStream();
        return openStream();
    }
    failWith(std::move(e));
}

void URLConnection::followRedirect() {
    current_ = redirectTo_;
    redirectTo_ = nullptr;
    ++redirects_;
    auth_ = nullptr;
    authAttempts_ = 0;
    dropStream();
    openStream();
}

void URLConnection::retryWithCredentials() {
    ++authAttempts_;
    dropStream();
    openStream();
}

void URLConnection::dropStream() {
    if (!stream_) return;
    stream_->setClient(0, nullptr);
    stream_->unscheduleFromRunLoop(*loop_, mode_);
    stream_ = nullptr;  // a finished, reusable connection stays pooled
}

void URLConnection::finish() {
    if (finished_) return;
    finished_ = true;
    dropStream();
    auto d = std::move(delegate_);
    auto keep = std::move(self_);
    if (d) d->connectionDidFinishLoading(*this);
}

void URLConnection::failWith(ns::Ref<ns::Error> e) {
    if (finished_ || cancelled_) return;
    finished_ = true;
    if (stream_) stream_->close();
    dropStream();
    auto d = std::move(delegate_);
    auto keep = std::move(self_);
    if (d) d->connectionDidFailWithError(*this, *e);
}

void URLConnection::cancel() {
    if (finished_ || cancelled_) return;
    cancelled_ = true;
    if (stream_) stream_->close();
    dropStream();
    delegate_ = nullptr;
    auto keep = std::move(self_);
}

// ---- Synchronous -----------------------------------------------------------------

namespace {
class Collector : public URLConnectionDelegate {
public:
    void connectionDidReceiveResponse(URLConnection&, const HTTPURLResponse& r) override {
        response = ns::Ref<HTTPURLResponse>(const_cast<HTTPURLResponse*>(&r));
        data = ns::MutableData::make();
    }
    void connectionDidReceiveData(URLConnection&, const ns::Data& d) override { data->appendData(d); }
    void connectionDidFinishLoading(URLConnection&) override { done = true; }
    void connectionDidFailWithError(URLConnection&, const ns::Error& e) override {
        error = ns::Ref<ns::Error>(const_cast<ns::Error*>(&e));
        done = true;
    }
    ns::Ref<HTTPURLResponse> response;
    ns::Ref<ns::MutableData> data = ns::MutableData::make();
    ns::Ref<ns::Error> error;
    bool done = false;
};
}  // namespace

ns::Ref<ns::Data> URLConnection::sendSynchronousRequest(const URLRequest& request, ns::Ref<HTTPURLResponse>* response,
                                                        ns::Ref<ns::Error>* error) {
    auto collector = ns::make<Collector>();
    auto c = make(request.copy(), collector);
    if (!c) {
        if (error) *error = makeError(kNetworkErrorDomain, kErrorUnsupportedURL, "unsupported URL");
        return nullptr;
    }
    auto loop = ns::RunLoop::current();
    c->scheduleInRunLoop(*loop, kSynchronousMode);
    c->start();
    loop->runUntil([&] { return collector->done; }, ns::RunLoop::kDistantFuture, kSynchronousMode);
    if (!collector->done) c->cancel();
    if (response) *response = collector->response;
    if (collector->error || !collector->done) {
        if (error)
            *error = collector->error ? collector->error
                                      : makeError(kNetworkErrorDomain, kErrorUserCancelled, "The request was interrupted");
        return nullptr;
    }
    return collector->data;
}

}  // namespace net
