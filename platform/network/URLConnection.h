// URL loading for callers that want whole responses rather than streams: a
// request description, the response it got, and a connection that runs the
// exchange on the run loop it was started from (asynchronously, with
// delegate callbacks) or on the calling thread (sendSynchronousRequest).
//
// A connection follows redirects (at most kMaxRedirects; 303, and 301/302
// after a POST, become GET without body; a redirect to another origin drops
// the caller's Authorization, Proxy-Authorization and Cookie fields and its
// credentials), stores and sends cookies through
// the shared cookie storage, asks for and inflates gzip and deflate bodies,
// answers a 401/407 challenge once with credentials from the URL or the
// request, retries once on a fresh connection when a reused one was
// dropped before answering, and stops a body at the request's
// maxResponseLength.
#pragma once

#include <string>

#include "platform/foundation/Data.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/URL.h"
#include "platform/network/HTTPMessage.h"
#include "platform/network/HTTPReadStream.h"
#include "platform/network/InputStream.h"

namespace net {

// How a request may use cached data. This process keeps no URL cache, so
// every policy loads from the network; the values exist for callers that
// state them.
enum URLRequestCachePolicy : int {
    kURLRequestUseProtocolCachePolicy = 0,
    kURLRequestReloadIgnoringLocalCacheData = 1,
    kURLRequestReloadIgnoringLocalAndRemoteCacheData = 4,
    kURLRequestReturnCacheDataElseLoad = 2,
    kURLRequestReturnCacheDataDontLoad = 3,
};

class URLRequest : public ns::Object {
public:
    const char* className() const override { return "URLRequest"; }
    std::string description() const override;

    static ns::Ref<URLRequest> requestWithURL(ns::Ref<ns::URL> url, int cachePolicy = 0, double timeoutInterval = 60);

    const ns::Ref<ns::URL>& URL() const { return url_; }
    void setURL(ns::Ref<ns::URL> u) { url_ = std::move(u); }
    const std::string& HTTPMethod() const { return method_; }
    void setHTTPMethod(std::string_view m) { method_ = m; }
    const ns::Ref<ns::Data>& HTTPBody() const { return body_; }
    void setHTTPBody(ns::Ref<ns::Data> b) { body_ = std::move(b); }
    // A stream to send instead of HTTPBody (not replayed on redirects).
    const ns::Ref<InputStream>& HTTPBodyStream() const { return bodyStream_; }
    void setHTTPBodyStream(ns::Ref<InputStream> s) { bodyStream_ = std::move(s); }

    std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const { return headers_.get(name); }
    // Sets (replaces) a field; an empty value removes it.
    void setValueForHTTPHeaderField(std::string_view value, std::string_view name);
    void addValueForHTTPHeaderField(std::string_view value, std::string_view name) { headers_.add(name, value); }
    ns::Ref<ns::Dictionary> allHTTPHeaderFields() const { return headers_.dictionary(); }
    // Replaces every field with the dictionary's (text keys and values).
    void setAllHTTPHeaderFields(const ns::Dictionary* fields);
    const HeaderList& headers() const { return headers_; }

    double timeoutInterval() const { return timeout_; }
    void setTimeoutInterval(double t) { timeout_ = t; }
    int cachePolicy() const { return cachePolicy_; }
    void setCachePolicy(int p) { cachePolicy_ = p; }
    bool HTTPShouldHandleCookies() const { return handleCookies_; }
    void setHTTPShouldHandleCookies(bool v) { handleCookies_ = v; }
    const TLSSettings& tlsSettings() const { return tls_; }
    void setTLSSettings(TLSSettings s) { tls_ = std::move(s); }
    const ProxySettings& proxy() const { return proxy_; }
    void setProxy(ProxySettings p) { proxy_ = std::move(p); }
    // Credentials for a 401 challenge when the URL carries none.
    void setCredentials(std::string user, std::string password) {
        user_ = std::move(user);
        password_ = std::move(password);
    }
    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }
    // The most body bytes the connection delivers (after inflating a gzip
    // or deflate body): kDefaultMaxResponseLength (64 MiB) unless set,
    // kUnlimitedResponseLength for none. A body past it fails the load with
    // kErrorDataLengthExceedsMaximum, so neither a small compressed bomb nor
    // a body that never ends can fill memory.
    static constexpr uint64_t kDefaultMaxResponseLength = uint64_t(64) << 20;
    static constexpr uint64_t kUnlimitedResponseLength = UINT64_MAX;
    uint64_t maxResponseLength() const { return maxResponseLength_; }
    void setMaxResponseLength(uint64_t bytes) { maxResponseLength_ = bytes; }

    ns::Ref<URLRequest> copy() const;

private:
    ns::Ref<ns::URL> url_;
    std::string method_ = "GET";
    ns::Ref<ns::Data> body_;
    ns::Ref<InputStream> bodyStream_;
    HeaderList headers_;
    double timeout_ = 60;
    int cachePolicy_ = 0;
    bool handleCookies_ = true;
    TLSSettings tls_;
    ProxySettings proxy_;
    std::string user_, password_;
    uint64_t maxResponseLength_ = kDefaultMaxResponseLength;
};

class HTTPURLResponse : public ns::Object {
public:
    const char* className() const override { return "HTTPURLResponse"; }
    std::string description() const override;

    HTTPURLResponse(ns::Ref<ns::URL> url, ns::Ref<HTTPMessage> message);
    const ns::Ref<ns::URL>& URL() const { return url_; }
    int statusCode() const { return message_->statusCode(); }
    const std::string& statusLine() const { return message_->statusLine(); }
    ns::Ref<ns::Dictionary> allHeaderFields() const { return message_->allHeaderFields(); }
    const HeaderList& headers() const { return message_->headers(); }
    std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const { return message_->headerField(name); }
    // The announced body length, -1 when unknown.
    long long expectedContentLength() const;
    std::string MIMEType() const;          // lower case, "" when none
    std::string textEncodingName() const;  // the charset parameter, "" when none
    const ns::Ref<HTTPMessage>& message() const { return message_; }

private:
    ns::Ref<ns::URL> url_;
    ns::Ref<HTTPMessage> message_;
};

class URLConnection;

// The receiver of a connection's events, all on the connection's run loop.
// The connection keeps its delegate alive until it finishes, fails or is
// cancelled, then lets go of it. Every operation is optional.
class URLConnectionDelegate : public ns::Object {
public:
    const char* className() const override { return "URLConnectionDelegate"; }
    // Before following a redirect: answer the request to send (the given
    // one or another), or nil to stop and take the redirect answer as the
    // response.
    virtual ns::Ref<URLRequest> connectionWillSendRequest(URLConnection& c, URLRequest& request,
                                                          const HTTPURLResponse* redirectResponse);
    virtual void connectionDidReceiveResponse(URLConnection& c, const HTTPURLResponse& response) {}
    virtual void connectionDidReceiveData(URLConnection& c, const ns::Data& data) {}
    virtual void connectionDidFinishLoading(URLConnection& c) {}
    virtual void connectionDidFailWithError(URLConnection& c, const ns::Error& error) {}
};

class URLConnection : public ns::Object {
public:
    static constexpr int kMaxRedirects = 16;
    static inline const std::string& kSynchronousMode = *new std::string("URLConnectionSynchronousMode");  // never destroyed

    const char* className() const override { return "URLConnection"; }
    ~URLConnection() override;

    // A connection that starts at once on the current thread's run loop in
    // the default mode; nil when the request has no URL.
    static ns::Ref<URLConnection> connectionWithRequest(ns::Ref<URLRequest> request,
                                                        ns::Ref<URLConnectionDelegate> delegate);
    // Made without starting (schedule it, then start()).
    static ns::Ref<URLConnection> make(ns::Ref<URLRequest> request, ns::Ref<URLConnectionDelegate> delegate);

    // Where events are delivered; the current loop's default mode unless
    // set before start().
    void scheduleInRunLoop(ns::RunLoop& loop, const std::string& mode);
    void start();
    // Stops loading; no callback follows.
    void cancel();

    const ns::Ref<URLRequest>& originalRequest() const { return original_; }
    const ns::Ref<URLRequest>& currentRequest() const { return current_; }
    bool isFinished() const { return finished_; }

    // Loads on the calling thread (running its run loop in a private mode
    // until done). Returns the body (possibly empty) with *response set, or
    // nil with *error set. An HTTP error status is a response, not an error.
    static ns::Ref<ns::Data> sendSynchronousRequest(const URLRequest& request, ns::Ref<HTTPURLResponse>* response,
                                                    ns::Ref<ns::Error>* error);

private:
    URLConnection(ns::Ref<URLRequest> request, ns::Ref<URLConnectionDelegate> delegate);
    void openStream();
    void onEvent(HTTPReadStream& s, StreamEvent e);
    void onHeader(HTTPReadStream& s);
    void onBody(HTTPReadStream& s);
    void onEnd();
    void onError(ns::Ref<ns::Error> e);
    void followRedirect();
    void retryWithCredentials();
    void finish();
    void failWith(ns::Ref<ns::Error> e);
    void dropStream();
    bool deliverData(const uint8_t* p, size_t n);
    void failTooLarge();
    // Whether the response says it has no body at all (an answer to HEAD,
    // 204, 304, a Content-Length of 0).
    bool announcesNoBody() const;

    ns::Ref<URLRequest> original_;
    ns::Ref<URLRequest> current_;
    ns::Ref<URLConnectionDelegate> delegate_;
    ns::Ref<ns::RunLoop> loop_;
    std::string mode_ = ns::RunLoop::kDefaultMode;
    ns::Ref<HTTPReadStream> stream_;
    ns::Ref<HTTPURLResponse> response_;
    bool started_ = false;
    bool headerSeen_ = false;
    ns::Ref<URLConnection> self_;  // kept while loading
    bool finished_ = false;
    bool cancelled_ = false;
    int redirects_ = 0;
    int authAttempts_ = 0;
    bool retried_ = false;
    bool bodyIsRedirect_ = false;  // discard this body, then follow
    bool bodyIsChallenge_ = false;  // discard this body, then retry with credentials
    ns::Ref<URLRequest> redirectTo_;
    ns::Ref<ns::Object> auth_;     // the HTTPAuthentication in use
    ns::Ref<HTTPMessage> sentMessage_;
    struct Inflater;
    std::unique_ptr<Inflater> inflater_;
    uint64_t delivered_ = 0;  // body bytes handed to the delegate
};

}  // namespace net
