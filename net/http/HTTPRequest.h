// HTTPRequest: one HTTP exchange (method, URL, headers, body; status,
// headers, body, error) run over net::HTTPReadStream.
//
// It is an ns::Operation that finishes on its own: add it to an operation
// queue, run it on the calling thread (startSynchronous), or start it
// asynchronously (startAsynchronous adds it to sharedQueue()). Asynchronous
// requests do all their stream work on one long-lived network thread shared
// by every request of the process; every callback to the caller (delegate,
// blocks, queue, progress delegates) arrives on the main thread, in the
// order started, headers, data..., redirect notices, finished or failed.
//
// Failures are ns::Error objects in "HTTPRequestErrorDomain" (codes below);
// a request reports at most one failure. Files: this header declares the
// whole class; the behaviour is split by concern into HTTPRequest.cpp (life
// cycle, threads, stream events, finish and failure), HTTPRequestHeaders.cpp,
// HTTPRequestAuthentication.cpp, HTTPRequestProxies.cpp,
// HTTPRequestConnections.cpp (pool, scheduling, throttling) and
// HTTPRequestBodies.cpp (bodies, downloads, progress, cache use).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/http/AuthenticationController.h"
#include "net/http/DataCompressor.h"
#include "net/http/ConnectionRecords.h"
#include "net/http/DownloadCache.h"
#include "net/http/ProxyResolver.h"
#include "net/http/RequestBody.h"
#include "net/http/RequestErrors.h"
#include "net/http/ResponseDownload.h"
#include "net/http/ResponseLimits.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/Timer.h"
#include "platform/foundation/URL.h"
#include "platform/network/HTTPAuthentication.h"
#include "platform/network/HTTPCookie.h"
#include "platform/network/HTTPMessage.h"
#include "platform/network/HTTPReadStream.h"
#include "platform/network/PACScript.h"
#include "platform/foundation/Delegate.h"

namespace http {

class HTTPRequest;
class RequestStatusTicker;

// Lets the credentials dialog present itself when a request wants
// credentials and its shouldPresent...AuthenticationDialog flag is on; the
// presenter runs on the main thread and answers with the request's
// retryUsingSuppliedCredentials() or cancelAuthentication(). Without one,
// no dialog is shown.
void setAuthenticationDialogPresenter(std::function<void(ns::Ref<HTTPRequest>)> presenter);

// Authentication states (authenticationNeeded()).
enum AuthenticationState : int { kNoAuthenticationNeededYet = 0, kHTTPAuthenticationNeeded = 1, kProxyAuthenticationNeeded = 2 };

inline constexpr const char* kHTTPRequestRunLoopMode = "HTTPRequestRunLoopMode";

// The delegate of a request. Every operation is optional; the request sends
// one only when answers() says the delegate implements it (or when the
// request was given a different selector for it, see below).
class HTTPRequestDelegate {
public:
    enum class Optional {
        requestStarted,
        requestDidReceiveResponseHeaders,
        requestWillRedirectToURL,
        requestFinished,
        requestFailed,
        requestRedirected,
        requestDidReceiveData,
        authenticationNeededForRequest,
        proxyAuthenticationNeededForRequest,
    };
    virtual ~HTTPRequestDelegate() = default;
    virtual bool answers(Optional) const { return false; }

    virtual void requestStarted(HTTPRequest*) {}
    virtual void requestDidReceiveResponseHeaders(HTTPRequest*, ns::Ref<ns::Dictionary>) {}
    virtual void requestWillRedirectToURL(HTTPRequest*, ns::Ref<ns::URL>) {}
    virtual void requestFinished(HTTPRequest*) {}
    virtual void requestFailed(HTTPRequest*) {}
    virtual void requestRedirected(HTTPRequest*) {}
    virtual void requestDidReceiveData(HTTPRequest*, ns::Ref<ns::Data>) {}
    virtual void authenticationNeededForRequest(HTTPRequest*) {}
    virtual void proxyAuthenticationNeededForRequest(HTTPRequest*) {}
};

// Selectors: which operation of the delegate a callback goes to. A
// delegate class may name one of its own operations with
// static_cast<HTTPRequest::Selector>(&MyDelegate::done).
using RequestSelector = void (HTTPRequestDelegate::*)(HTTPRequest*);
using HeadersSelector = void (HTTPRequestDelegate::*)(HTTPRequest*, ns::Ref<ns::Dictionary>);
using RedirectSelector = void (HTTPRequestDelegate::*)(HTTPRequest*, ns::Ref<ns::URL>);
using DataSelector = void (HTTPRequestDelegate::*)(HTTPRequest*, ns::Ref<ns::Data>);

// Progress receivers (request delegates' upload and download indicators,
// and queues).
class ProgressDelegate {
public:
    enum class Optional {
        setProgress,
        requestDidReceiveBytes,
        requestDidSendBytes,
        requestIncrementDownloadSizeBy,
        requestIncrementUploadSizeBy,
    };
    virtual ~ProgressDelegate() = default;
    virtual bool answers(Optional) const { return false; }
    virtual void setProgress(float) {}
    virtual void requestDidReceiveBytes(HTTPRequest*, int64_t) {}
    virtual void requestDidSendBytes(HTTPRequest*, int64_t) {}
    virtual void requestIncrementDownloadSizeBy(HTTPRequest*, int64_t) {}
    virtual void requestIncrementUploadSizeBy(HTTPRequest*, int64_t) {}
};

// What the engine needs of the object set as a request's `queue` (a
// NetworkQueue): the delegate and progress callbacks. Its answers() for
// requestStarted, requestDidReceiveResponseHeaders and requestFinished is
// also asked on the thread that runs the request, to learn whether the
// report is worth posting at all, so it must be safe to call there.
class HTTPRequestQueue : public HTTPRequestDelegate, public ProgressDelegate {
public:
    using HTTPRequestDelegate::answers;
    using ProgressDelegate::answers;
    // The request was taken out of the queue's hands (its delegates cleared)
    // and will not report its end: the queue counts it ended without telling
    // anyone of the request itself. Called on the main thread.
    virtual void requestWasLetGo(HTTPRequest*) {}
};

class HTTPRequest : public ns::Operation, public CacheRequest {
public:
    using Block = std::function<void()>;
    using DataBlock = std::function<void(ns::Ref<ns::Data>)>;
    using HeadersBlock = std::function<void(ns::Ref<ns::Dictionary>)>;
    using ProgressBlock = std::function<void(int64_t amount, uint64_t total)>;
    using SizeBlock = std::function<void(int64_t amount)>;

    // initWithURL: with the defaults of a new request.
    explicit HTTPRequest(ns::Ref<ns::URL> url);
    ~HTTPRequest() override;
    const char* className() const override { return "HTTPRequest"; }
    std::string description() const override;

    static ns::Ref<HTTPRequest> requestWithURL(ns::Ref<ns::URL> url);
    static ns::Ref<HTTPRequest> requestWithURL(ns::Ref<ns::URL> url, CacheDelegate* cache, uint32_t policy = 0);

    // --- Starting -----------------------------------------------------------
    // Adds the request to sharedQueue().
    void startAsynchronous();
    // Runs the request on the calling thread, running its run loop in
    // kHTTPRequestRunLoopMode until the request is complete.
    void startSynchronous();
    // Called by an operation queue: runs main() on the network thread.
    void start() override;
    void main() override;
    bool isConcurrent() const override { return true; }
    bool isExecuting() const override { return inProgress_.load(); }
    bool isFinished() const override { return finished_.load(); }
    bool isCancelled() const override;
    // Cancels on the request's thread (fails with code 4 unless complete).
    void cancel() override;
    // Forgets the delegate, queue, progress delegates and blocks, then cancels.
    void clearDelegatesAndCancel();

    // --- Results ---------------------------------------------------------
    // The body (inflated when it came gzip-encoded and inflating was left
    // to the end); nil when nothing was received into memory.
    ns::Ref<ns::Data> responseData() const override;
    ns::Ref<ns::String> responseString() const;
    bool isResponseCompressed() const override;
    int responseStatusCode() const override { return responseStatusCode_; }
    std::string responseStatusMessage() const { return responseStatusMessage_; }
    ns::Ref<ns::Dictionary> responseHeaders() const override;
    std::vector<ns::Ref<net::HTTPCookie>> responseCookies() const { return responseCookies_; }
    std::string responseEncoding() const { return responseEncoding_; }
    ns::Ref<ns::MutableData> rawResponseData() const { return download_.rawData(); }
    uint64_t contentLength() const { return contentLength_; }
    uint64_t totalBytesRead() const { return totalBytesRead_; }
    uint64_t totalBytesSent() const { return totalBytesSent_.load(); }
    uint64_t postLength() const { return body_.length(); }
    uint64_t partialDownloadSize() const { return download_.partialSize(); }
    ns::Ref<ns::Error> error() const override;
    bool complete() const override { return complete_.load(); }
    bool inProgress() const { return inProgress_.load(); }
    ns::Ref<ns::URL> originalURL() const { return originalURL_; }
    int authenticationNeeded() const { return authenticationNeeded_.load(); }
    std::string authenticationScheme() const { return serverLogin_.scheme(); }
    std::string authenticationRealm() const { return serverLogin_.realm(); }
    std::string proxyAuthenticationScheme() const { return proxyLogin_.scheme(); }
    std::string proxyAuthenticationRealm() const { return proxyLogin_.realm(); }
    ns::Ref<ns::Dictionary> requestCredentials() const { return serverLogin_.credentials(); }
    ns::Ref<ns::Dictionary> proxyCredentials() const { return proxyLogin_.credentials(); }
    bool didUseCachedResponse() const { return didUseCachedResponse_; }
    bool isSynchronous() const { return isSynchronous_; }
    void setSynchronous(bool v) { isSynchronous_ = v; }
    ns::Ref<ns::Number> requestID() const;
    int retryCount() const { return retryCount_; }
    int redirectCount() const { return redirectCount_; }
    ns::Ref<ns::URL> redirectURL() const { return redirectURL_; }
    bool needsRedirect() const { return needsRedirect_; }
    bool downloadComplete() const { return downloadComplete_; }
    bool connectionCanBeReused() const { return connectionCanBeReused_; }
    int authenticationRetryCount() const { return serverLogin_.retryCount(); }
    int proxyAuthenticationRetryCount() const { return proxyLogin_.retryCount(); }
    bool haveBuiltPostBody() const { return body_.isBuilt(); }
    void setHaveBuiltPostBody(bool v) { body_.setBuilt(v); }
    bool haveBuiltRequestHeaders() const { return haveBuiltRequestHeaders_; }
    void setHaveBuiltRequestHeaders(bool v) { haveBuiltRequestHeaders_ = v; }
    ns::Ref<ns::Data> compressedPostBody() const { return body_.compressedData(); }
    std::string compressedPostBodyFilePath() const { return body_.compressedFilePath(); }
    bool didCreateTemporaryPostDataFile() const { return body_.createdTemporaryFile(); }
    uint64_t uploadBufferSize() const { return uploadBufferSize_; }
    // The main request of a companion HEAD request (nil for any other, and
    // once the main request is gone).
    ns::Ref<HTTPRequest> mainRequest() const { return mainRequest_.lock(); }
    bool isPACFileRequest() const { return isPACFileRequest_; }
    void setIsPACFileRequest(bool v) { isPACFileRequest_ = v; }
    // The serial number of the connection record in use (0 when none).
    int connectionID() const;
    // The read stream of the current attempt (nil between attempts).
    ns::Ref<net::HTTPReadStream> readStream() const { return readStream_; }
    bool readStreamIsScheduled() const { return readStreamIsScheduled_; }

    // --- Settings --------------------------------------------------------
    ns::Ref<ns::URL> url() const override;
    // A different URL drops the built message and authentication objects;
    // credentials set on the request go along to the new URL.
    void setURL(ns::Ref<ns::URL> url);
    HTTPRequestDelegate* delegate() const;
    void setDelegate(HTTPRequestDelegate* d);
    HTTPRequestQueue* queue() const;
    void setQueue(HTTPRequestQueue* q);  // retained
    std::string requestMethod() const;
    // May switch persistent connections off ("POST", "PUT", or a body).
    void setRequestMethod(std::string method);
    ns::Ref<ns::MutableDictionary> requestHeaders() const { return requestHeaders_; }
    void setRequestHeaders(ns::Ref<ns::MutableDictionary> h) { requestHeaders_ = std::move(h); }
    void addRequestHeader(const std::string& name, const std::string& value);
    std::vector<ns::Ref<net::HTTPCookie>>& requestCookies() { return requestCookies_; }
    void setRequestCookies(std::vector<ns::Ref<net::HTTPCookie>> c) { requestCookies_ = std::move(c); }
    bool useCookiePersistence() const { return useCookiePersistence_; }
    void setUseCookiePersistence(bool v) { useCookiePersistence_ = v; }
    bool useSessionPersistence() const { return useSessionPersistence_; }
    void setUseSessionPersistence(bool v) { useSessionPersistence_ = v; }
    bool useKeychainPersistence() const { return useKeychainPersistence_; }
    void setUseKeychainPersistence(bool v) { useKeychainPersistence_ = v; }
    // Server credentials are meant for the origin (scheme, host, port) of
    // the URL the request has when they are set (or is given later by
    // setURL): after a redirect to another origin they are not sent.
    std::string username() const { return username_; }
    void setUsername(std::string v);
    std::string password() const { return password_; }
    void setPassword(std::string v);
    std::string domain() const { return domain_; }
    void setDomain(std::string v);
    std::string proxyUsername() const { return proxyUsername_; }
    void setProxyUsername(std::string v) { proxyUsername_ = std::move(v); }
    std::string proxyPassword() const { return proxyPassword_; }
    void setProxyPassword(std::string v) { proxyPassword_ = std::move(v); }
    std::string proxyDomain() const { return proxyDomain_; }
    void setProxyDomain(std::string v) { proxyDomain_ = std::move(v); }
    std::string proxyHost() const { return proxy_.host(); }
    void setProxyHost(std::string v) { proxy_.setHost(std::move(v)); }
    int proxyPort() const { return proxy_.port(); }
    void setProxyPort(int v) { proxy_.setPort(v); }
    // "HTTP", "HTTPS" or "SOCKS" (empty: HTTP).
    std::string proxyType() const { return proxy_.type(); }
    void setProxyType(std::string v) { proxy_.setType(std::move(v)); }
    ns::Ref<ns::URL> PACurl() const { return proxy_.PACurl(); }
    void setPACurl(ns::Ref<ns::URL> u) { proxy_.setPACurl(std::move(u)); }
    std::string userAgent() const { return userAgent_; }
    void setUserAgent(std::string v) { userAgent_ = std::move(v); }
    bool shouldPresentCredentialsBeforeChallenge() const { return shouldPresentCredentialsBeforeChallenge_; }
    void setShouldPresentCredentialsBeforeChallenge(bool v) { shouldPresentCredentialsBeforeChallenge_ = v; }
    bool shouldPresentAuthenticationDialog() const { return shouldPresentAuthenticationDialog_; }
    void setShouldPresentAuthenticationDialog(bool v) { shouldPresentAuthenticationDialog_ = v; }
    bool shouldPresentProxyAuthenticationDialog() const { return shouldPresentProxyAuthenticationDialog_; }
    void setShouldPresentProxyAuthenticationDialog(bool v) { shouldPresentProxyAuthenticationDialog_ = v; }
    ns::Ref<ns::MutableData> postBody() const { return body_.data(); }
    void setPostBody(ns::Ref<ns::MutableData> b) { body_.setData(std::move(b)); }
    std::string postBodyFilePath() const { return body_.filePath(); }
    void setPostBodyFilePath(std::string p) { body_.setFilePath(std::move(p)); }
    bool shouldStreamPostDataFromDisk() const { return body_.streamsFromDisk(); }
    void setShouldStreamPostDataFromDisk(bool v) { body_.setStreamsFromDisk(v); }
    bool shouldCompressRequestBody() const { return body_.compresses(); }
    void setShouldCompressRequestBody(bool v) { body_.setCompresses(v); }
    bool allowCompressedResponse() const { return allowCompressedResponse_; }
    void setAllowCompressedResponse(bool v) { allowCompressedResponse_ = v; }
    bool shouldWaitToInflateCompressedResponses() const { return download_.waitsToInflate(); }
    void setShouldWaitToInflateCompressedResponses(bool v) { download_.setWaitsToInflate(v); }
    std::string downloadDestinationPath() const override { return download_.destinationPath(); }
    void setDownloadDestinationPath(std::string p) { download_.setDestinationPath(std::move(p)); }
    std::string temporaryFileDownloadPath() const { return download_.temporaryPath(); }
    void setTemporaryFileDownloadPath(std::string p) { download_.setTemporaryPath(std::move(p)); }
    bool allowResumeForFileDownloads() const { return download_.allowsResume(); }
    void setAllowResumeForFileDownloads(bool v) { download_.setAllowsResume(v); }
    // The most body bytes kept in memory (rawResponseData, raw or inflated
    // as it arrives) and the most a gzip body kept in memory may inflate to
    // (checked as it arrives, also when responseData() inflates it later).
    // kDefaultMaxResponseDataLength (64 MiB) unless set; kUnlimitedLength
    // lifts it. Crossing it fails the request with code 12
    // (kResponseTooLargeErrorType).
    uint64_t maxResponseDataLength() const { return download_.maxKept(); }
    void setMaxResponseDataLength(uint64_t bytes) { download_.setMaxKept(bytes); }
    // The most a gzip body may inflate to when it is not kept in memory:
    // inflated into the download destination, or handed to the delegate or
    // data block as it arrives. kDefaultMaxInflatedLength (1 GiB) unless
    // set; kUnlimitedLength lifts it; crossing it is code 12 as well. A
    // plain (not gzip) body written to a file or handed to the caller has
    // no limit: the caller decides what to keep.
    uint64_t maxInflatedLength() const { return download_.maxInflated(); }
    void setMaxInflatedLength(uint64_t bytes) { download_.setMaxInflated(bytes); }
    ProgressDelegate* uploadProgressDelegate() const;
    void setUploadProgressDelegate(ProgressDelegate* d);
    ProgressDelegate* downloadProgressDelegate() const;
    void setDownloadProgressDelegate(ProgressDelegate* d);
    bool showAccurateProgress() const { return showAccurateProgress_; }
    void setShowAccurateProgress(bool v) { showAccurateProgress_ = v; }
    bool shouldResetUploadProgress() const { return shouldResetUploadProgress_; }
    void setShouldResetUploadProgress(bool v) { shouldResetUploadProgress_ = v; }
    bool shouldResetDownloadProgress() const { return shouldResetDownloadProgress_; }
    void setShouldResetDownloadProgress(bool v) { shouldResetDownloadProgress_ = v; }
    double timeOutSeconds() const { return timeOutSeconds_; }
    void setTimeOutSeconds(double v) { timeOutSeconds_ = v; }
    int numberOfTimesToRetryOnTimeout() const { return numberOfTimesToRetryOnTimeout_; }
    void setNumberOfTimesToRetryOnTimeout(int v) { numberOfTimesToRetryOnTimeout_ = v; }
    bool shouldAttemptPersistentConnection() const { return shouldAttemptPersistentConnection_; }
    void setShouldAttemptPersistentConnection(bool v) { shouldAttemptPersistentConnection_ = v; }
    double persistentConnectionTimeoutSeconds() const { return persistentConnectionTimeoutSeconds_; }
    void setPersistentConnectionTimeoutSeconds(double v) { persistentConnectionTimeoutSeconds_ = v; }
    bool shouldRedirect() const { return shouldRedirect_; }
    void setShouldRedirect(bool v) { shouldRedirect_ = v; }
    bool shouldUseRFC2616RedirectBehaviour() const { return shouldUseRFC2616RedirectBehaviour_; }
    void setShouldUseRFC2616RedirectBehaviour(bool v) { shouldUseRFC2616RedirectBehaviour_ = v; }
    bool validatesSecureCertificate() const { return validatesSecureCertificate_; }
    void setValidatesSecureCertificate(bool v) { validatesSecureCertificate_ = v; }
    // Client identity: certificate chain and key as PEM text.
    void setClientCertificateIdentity(std::string certificateChainPEM, std::string privateKeyPEM);
    // A PEM file of extra trusted roots for this request (the further
    // certificates of the client identity's trust).
    std::string clientCertificates() const { return clientCertificates_; }
    void setClientCertificates(std::string pemFile) { clientCertificates_ = std::move(pemFile); }
    bool useHTTPVersionOne() const { return useHTTPVersionOne_; }
    void setUseHTTPVersionOne(bool v) { useHTTPVersionOne_ = v; }
    // A character set name ("iso-8859-1" by default, "utf-8", ...).
    std::string defaultResponseEncoding() const { return defaultResponseEncoding_; }
    void setDefaultResponseEncoding(std::string v) { defaultResponseEncoding_ = std::move(v); }
    void setDidStartSelector(RequestSelector s) { didStartSelector_ = s; }
    void setDidReceiveResponseHeadersSelector(HeadersSelector s) { didReceiveResponseHeadersSelector_ = s; }
    void setWillRedirectSelector(RedirectSelector s) { willRedirectSelector_ = s; }
    void setDidFinishSelector(RequestSelector s) { didFinishSelector_ = s; }
    void setDidFailSelector(RequestSelector s) { didFailSelector_ = s; }
    void setDidReceiveDataSelector(DataSelector s) { didReceiveDataSelector_ = s; }
    ns::Ref<ns::Dictionary> userInfo() const { return userInfo_; }
    void setUserInfo(ns::Ref<ns::Dictionary> d) { userInfo_ = std::move(d); }
    int64_t tag() const { return tag_; }
    void setTag(int64_t t) { tag_ = t; }
    CacheDelegate* downloadCache() const;
    void setDownloadCache(CacheDelegate* cache);  // not retained
    uint32_t cachePolicy() const override { return cachePolicy_; }
    void setCachePolicy(uint32_t p) { cachePolicy_ = p; }
    int cacheStoragePolicy() const override { return cacheStoragePolicy_; }
    void setCacheStoragePolicy(int p) { cacheStoragePolicy_ = p; }
    double secondsToCache() const { return secondsToCache_; }
    void setSecondsToCache(double s) { secondsToCache_ = s; }
    bool shouldContinueWhenAppEntersBackground() const { return shouldContinueWhenAppEntersBackground_; }
    void setShouldContinueWhenAppEntersBackground(bool v) { shouldContinueWhenAppEntersBackground_ = v; }
    std::string runLoopMode() const { return *runLoopMode_; }
    void setRunLoopMode(const std::string& m) { runLoopMode_ = &lastingModeName(m); }
    // Sets the error before the request runs: it then ends at once.
    void setError(ns::Ref<ns::Error> e);

    // --- Blocks (run on the main thread; nil stops them) -------------------
    void setStartedBlock(Block b);
    void setHeadersReceivedBlock(HeadersBlock b);
    // The success block (hides ns::Operation's completion block).
    void setCompletionBlock(Block b);
    void setFailedBlock(Block b);
    void setBytesReceivedBlock(ProgressBlock b);
    void setBytesSentBlock(ProgressBlock b);
    void setDownloadSizeIncrementedBlock(SizeBlock b);
    void setUploadSizeIncrementedBlock(SizeBlock b);
    void setDataReceivedBlock(DataBlock b);
    void setAuthenticationNeededBlock(Block b);
    void setProxyAuthenticationNeededBlock(Block b);
    void setRequestRedirectedBlock(Block b);

    // --- Bodies ------------------------------------------------------------
    void appendPostData(const ns::Data& data);
    // Appends the file's bytes in chunks of 262144; false (request failed
    // with code 8) when the file cannot be read.
    bool appendPostDataFromFile(const std::string& path);
    void setupPostBody();
    // Measures (and compresses) the body and sets Content-Length; a
    // subclass builds its own body first and then calls this.
    virtual void buildPostBody();
    // Header building; a subclass may add its own.
    virtual void buildRequestHeaders();
    void applyCookieHeader();

    // --- Redirects and credentials for delegates ---------------------------
    // Follows `url` after a delegate was asked to confirm a redirect.
    void redirectToURL(ns::Ref<ns::URL> url);
    // After the delegate or dialog set username/password (or the proxy
    // forms): try again with them.
    void retryUsingSuppliedCredentials();
    // After the delegate or dialog gave up: fail with code 3.
    void cancelAuthentication();

    // --- Copies --------------------------------------------------------------
    // A new request of the same kind for the same URL carrying the settings
    // that repeat it (not blocks, queue or cache settings).
    virtual ns::Ref<HTTPRequest> copy() const;
    // A companion HEAD request whose answers go to this request.
    ns::Ref<HTTPRequest> HEADRequest() const;

    // --- Class ---------------------------------------------------------------
    static ns::Ref<ns::OperationQueue> sharedQueue();
    // The loop of the network thread (made on first use).
    static ns::Ref<ns::RunLoop> networkRunLoop();
    // The network thread every asynchronous request runs on.
    static ns::Ref<ns::Thread> threadForRequest(HTTPRequest* request);
    // Ends the network thread's work, for a process about to exit (the
    // app's termination calls it): every request handed to the thread that
    // has not ended is cancelled with its delegates and blocks cleared, so
    // nothing more is told of it; what else the thread runs (timers, calls
    // queued to it) is dropped; the thread is stopped; and this returns once
    // it has ended and let go of all it held, so what the process frees next
    // is read by nobody. A request started afterwards starts a new thread.
    // Not from the network thread itself.
    static void stopNetworkThread();
    // Whether the device runs apps in the background (never here, so
    // shouldContinueWhenAppEntersBackground has no effect).
    static bool isMultitaskingSupported() { return false; }
    static double defaultTimeOutSeconds();
    static void setDefaultTimeOutSeconds(double s);
    static CacheDelegate* defaultCache();
    static void setDefaultCache(ns::Ref<DownloadCache> cache);
    static std::string defaultUserAgentString();
    // The same as a text object, made once and shared by every request.
    static ns::Ref<ns::String> defaultUserAgentText();
    static void setDefaultUserAgentString(std::string agent);
    static std::string base64forData(const ns::Data& data);
    static ns::Ref<ns::Date> dateFromRFC1123String(const std::string& text);
    static ns::Ref<ns::Date> expiryDateForRequest(const CacheRequest& request, double maxAge);
    // MIME type and character set name (empty when none) of a Content-Type.
    static void parseMimeType(const std::string& contentType, std::string* mimeType, std::string* charset);
    // Nil when no file is at the path.
    static ns::Ref<ns::String> mimeTypeForFileAtPath(const std::string& path);
    static std::vector<ns::Ref<net::HTTPCookie>> sessionCookies();
    static void setSessionCookies(std::vector<ns::Ref<net::HTTPCookie>> cookies);
    static void addSessionCookie(ns::Ref<net::HTTPCookie> cookie);
    // Forgets session credentials and cookies and the cache's session store.
    static void clearSession();
    // Session credential stores (snapshots, oldest record first). Storing a
    // record replaces one holding the same credentials dictionary and one
    // for the same protection space: the server store's origin (scheme,
    // host and port of "URL") and realm, the proxy store's host and port.
    // Each store keeps at most kMaxSessionCredentialRecords records, the
    // oldest going first, so servers naming ever new realms cannot grow it
    // and a search looks at no more than that many.
    static constexpr size_t kMaxSessionCredentialRecords = 64;
    static std::vector<ns::Ref<ns::Dictionary>> sessionCredentialsStore();
    static std::vector<ns::Ref<ns::Dictionary>> sessionProxyCredentialsStore();
    static void storeAuthenticationCredentialsInSessionStore(ns::Ref<ns::Dictionary> record);
    static void storeProxyAuthenticationCredentialsInSessionStore(ns::Ref<ns::Dictionary> record);
    static void removeAuthenticationCredentialsFromSessionStore(const ns::Dictionary* credentials);
    static void removeProxyAuthenticationCredentialsFromSessionStore(const ns::Dictionary* credentials);
    // The platform credential storage.
    static void saveCredentialsForHost(const ns::Dictionary& credentials, const std::string& host, int port,
                                       const std::string& protocol, const std::string& realm);
    static void saveCredentialsForProxy(const ns::Dictionary& credentials, const std::string& host, int port,
                                        const std::string& realm);
    static ns::Ref<ns::Dictionary> savedCredentialsForHost(const std::string& host, int port,
                                                          const std::string& protocol, const std::string& realm);
    static ns::Ref<ns::Dictionary> savedCredentialsForProxy(const std::string& host, int port,
                                                           const std::string& realm);
    static void removeCredentialsForHost(const std::string& host, int port, const std::string& protocol,
                                         const std::string& realm);
    static void removeCredentialsForProxy(const std::string& host, int port, const std::string& realm);

    // Persistent connections and bandwidth.
    static void expirePersistentConnections();
    // Connection records in the pool (for tests and diagnostics).
    static size_t persistentConnectionCount();
    static bool isBandwidthThrottled();
    static uint64_t maxBandwidthPerSecond();
    static void setMaxBandwidthPerSecond(uint64_t bytes);
    static void incrementBandwidthUsedInLastSecond(uint64_t bytes);
    static uint64_t averageBandwidthUsedPerSecond();
    static uint64_t maxUploadReadLength();
    static void setShouldThrottleBandwidthForWWAN(bool v);
    static void throttleBandwidthForWWANUsingLimit(uint64_t limit);
    static bool isNetworkReachableViaWWAN();
    static bool isNetworkInUse();
    static void setShouldUpdateNetworkActivityIndicator(bool v);
    // Whether the network activity indicator is showing.
    static bool isNetworkActivityIndicatorVisible();
    // Hides the indicator 0.5 s later when no stream runs by then.
    static void hideNetworkActivityIndicatorAfterDelay();
    static void hideNetworkActivityIndicatorIfNeeeded();
    // Progress indicator helper (main thread).
    static void updateProgressIndicator(ProgressDelegate* indicator, uint64_t progress, uint64_t total);

    // Per-request throttling step (also used by the upload stream).
    void performThrottling();

    static constexpr double kStatusTimerInterval = 0.25;
    static constexpr uint64_t kWWANBandwidthLimit = 14800;
    static constexpr size_t kPostDataChunkSize = 262144;
    // The most room reserved up front for an announced body kept in memory.
    static constexpr uint64_t kMaxBodyReservation = ResponseDownload::kMaxReservation;

protected:
    // For subclasses: fail the request with this error (once).
    void failWithError(ns::Ref<ns::Error> error);
    // A blank request of the same class for copy(); subclasses override.
    virtual ns::Ref<HTTPRequest> makeBlankCopy(ns::Ref<ns::URL> url) const;

public:
    using ConnectionRecord = ConnectionRecords::Record;

private:
    friend class HTTPRequestTestAccess;
    friend class RequestStatusTicker;

    // Life cycle (HTTPRequest.cpp).
    // Moves every block out of the request (the fields are left empty) and
    // lets them go on the main thread: they hold what their callers captured.
    void releaseBlocksOnMainThread(bool waitUntilDone);
    void runMain();
    void startRequest();
    void handleNetworkEvent(net::StreamEvent event);
    void handleBytesAvailable();
    // Whether body bytes go to the delegate or data block (not stored).
    bool deliversDataToCaller();
    // Starts watching a new body's size (after its headers were read).
    void beginBody();
    // Hands body bytes to the delegate and data block on the main thread.
    void deliverData(ns::Ref<ns::Data> data);
    void handleStreamError();
    void handleStreamComplete();
    void updateStatus();
    // The one lasting copy of a run loop mode's name.
    static const std::string& lastingModeName(const std::string& mode);
    // addRequestHeader with text objects the caller may share.
    void addRequestHeaderText(ns::Ref<ns::String> name, ns::Ref<ns::String> value);
    // Takes the header out of the request's own headers, whatever its spelling.
    void removeRequestHeader(std::string_view name);
    // The default user agent, built on first use (gUserAgentMutex held).
    static std::string buildDefaultUserAgent();
    // The status checks every kStatusTimerInterval while the stream runs
    // (one ticker per loop and mode drives them).
    void startStatusChecks(const ns::Weak<HTTPRequest>& weak);
    void stopStatusChecks();
    void checkRequestStatus();
    bool shouldTimeOut();
    // Tells one event to the delegate (through the selector it chose; the
    // standard one only when the delegate answers it), then the block, then
    // the queue. Defined in HTTPRequestInternal.h.
    // The delegate and the queue as they stand, read under the settings lock
    // together with whatever `alsoRead` reads there. Defined in
    // HTTPRequestInternal.h.
    struct Listeners {
        ns::WeakDelegate<HTTPRequestDelegate>::Locked delegate;
        ns::StrongDelegate<HTTPRequestQueue>::Locked queue;
        // The queue seen as the delegate it is (nil without a queue).
        HTTPRequestDelegate* queueDelegate() const {
            return queue ? static_cast<HTTPRequestDelegate*>(queue.get()) : nullptr;
        }
    };
    template <class ReadMore>
    Listeners listeners(ReadMore&& alsoRead);
    template <class Selector, class BlockType, class... Args>
    void notifyListeners(HTTPRequestDelegate::Optional event, Selector HTTPRequest::*chosen, Selector standard,
                         BlockType HTTPRequest::*blockField, Args... args);
    // Whether a delegate, that block or the queue (when it answers `event`)
    // may hear a report (the report is not posted otherwise). Defined in
    // HTTPRequestInternal.h.
    template <class BlockType>
    bool anyoneListens(HTTPRequestDelegate::Optional event, BlockType HTTPRequest::*blockField) const;
    void reportStarted();
    void reportFinished();
    void reportFailure();
    void requestFinished();
    void markAsFinished();
    void cancelOnRequestThread();
    // failWithError() but for the finish: true when this failure was
    // recorded and reported (the request then is to be marked finished).
    bool recordFailure(ns::Ref<ns::Error> error);
    // Takes the failure of this request's companion HEAD request as its own:
    // true when this request had not ended yet (no error, not cancelled).
    bool takeCompanionFailure(ns::Ref<ns::Error> error);
    void performOnRequestThread(std::function<void()> fn);
    // The cache, kept for the caller's use (read under settingsLock_).
    ns::WeakDelegate<CacheDelegate>::Locked lockedDownloadCache() const;
    // The response headers of the attempt (under settingsLock_): a
    // dictionary as it stands (from the cache; nil forgets them), or the
    // answer read from the stream, whose dictionary is built when first
    // asked for.
    void storeResponseHeaders(ns::Ref<ns::Dictionary> headers);
    void storeResponseMessage(ns::Ref<net::HTTPMessage> message);
    // A response header field (repeated ones joined by ", "), on the
    // request's thread.
    std::optional<std::string> responseHeaderField(std::string_view name) const;
    // Fixes the loop whose thread runs the sequence (see settingsLock_);
    // false when a cancel that came first owns it.
    bool claimLoop(ns::Ref<ns::RunLoop> loop);
    // Hands a starting request to the network thread: records it (for
    // stopNetworkThread) and answers the thread's loop; while a stop runs,
    // holds it back instead and answers nil.
    static ns::Ref<ns::RunLoop> admitOnNetworkThread(HTTPRequest* request);
    // Ends a request on the calling thread, cancelled, when the thread it
    // claimed has ended: no step of it runs anywhere else any more.
    void endCancelledHere();
    // The stop's end of a request it held back: quiet, like
    // clearDelegatesAndCancel, and on the calling thread.
    void endHeldBack(const ns::Ref<ns::RunLoop>& stoppedLoop);
    // Forgets the delegate, queue, progress delegates and blocks; answers
    // the queue that was forgotten.
    ns::StrongDelegate<HTTPRequestQueue>::Locked letGoOfListeners();
    // Tells a queue let go of that this request counts as ended.
    void tellQueueLetGo(ns::StrongDelegate<HTTPRequestQueue>::Locked queue);
    void callOnMain(std::function<void()> fn);
    ns::Ref<ns::Error> errorWithCode(long code, const std::string& description,
                                     ns::Ref<ns::Error> underlying = nullptr);

    // Headers, cookies, redirects (HTTPRequestHeaders.cpp).
    void readResponseHeaders();
    void parseStringEncodingFromHeaders();
    bool willRedirect();
    bool willAskDelegateToConfirmRedirect();
    void performRedirect();
    // Changes url_ (dropping the built message and authentication objects).
    void replaceURL(ns::Ref<ns::URL> url);
    // Tells the headers to whoever listens (the dictionary is built for them).
    void reportHeaders();
    void reportRedirected();
    void reportWillRedirect(ns::Ref<ns::URL> url);
    void readKeepAlive(const net::HTTPMessage& response);

    // Authentication (HTTPRequestAuthentication.cpp). The state of each
    // target is its AuthenticationController; the request supplies where
    // credentials come from (ServerSources, ProxySources) and acts on the
    // controller's answers.
    class ServerSources;
    class ProxySources;
    void applyAuthorizationHeader();
    void addBasicAuthenticationHeader(const std::string& user, const std::string& password);
    // Meets a 401 or 407 answer for the target that asked.
    void attemptToApplyCredentialsAndResume();
    ns::Ref<ns::Dictionary> findCredentials(bool withDomain, const std::string& realm);
    ns::Ref<ns::Dictionary> findProxyCredentials(bool ntlm, const std::string& realm);
    ns::Ref<ns::Dictionary> findSessionAuthenticationCredentials(const std::string& realm);
    ns::Ref<ns::Dictionary> findSessionProxyAuthenticationCredentials();
    bool willAskDelegateForCredentials(bool proxy);
    void askDelegateForCredentials(bool proxy);
    bool showAuthenticationDialog(bool proxy);
    bool authenticationEnds();  // an error or a cancel ends an attempt
    // Whether username/password/domain are meant for `target`'s origin.
    bool ownCredentialsApplyTo(const ns::URL& target) const;
    // A redirect leaves the origin: the caller's credential and cookie
    // header fields and the credentials applied so far stay behind.
    void leaveOriginForRedirect();
    // Hands the question to the delegate, block or dialog; true when one
    // was asked (the request then waits for its answer).
    bool askCallerForCredentials(AuthenticationController::Target target);

    // Proxies (HTTPRequestProxies.cpp): the ProxyResolver decides; the
    // request fetches scripts over HTTP for it and starts once it is done.
    bool configureProxies();
    std::function<void()> fetchPACScript(ns::Ref<ns::URL> url, ProxyResolver::ScriptDone done);

    // Connections, scheduling, throttling (HTTPRequestConnections.cpp).
    void chooseConnection();
    void scheduleReadStream();
    void unscheduleReadStream();
    void destroyReadStream();
    bool retryUsingNewConnection();
    // Whether a request whose stream failed may go out again: the server
    // cannot have acted on it (a reused connection closed before any byte
    // of the answer), or sending it twice does no harm (idempotent method).
    bool mayResendAfterDrop() const;
    // Takes back the download size the failed attempt's answer added.
    void takeBackDownloadSize();
    void releaseConnectionAfterCompletion();
    void removeFromConnectionPool();
    void refreshConnectionExpiry();

    // Bodies, downloads, progress, cache (HTTPRequestBodies.cpp).
    void storeReceivedBytes(const uint8_t* bytes, size_t length, const ns::Data* inflated);
    // How the server met this attempt's Range question, if it asked one
    // (judged once its head was read).
    ResponseDownload::RangeAnswer rangeAnswer() const { return rangeAnswer_; }
    // Judges the answer's head against a resumed download's partial file;
    // false when the answer does not continue it (the request has failed).
    bool takeRangeAnswer(const net::HTTPMessage& answer);
    void finishFileDownload();
    bool updatePartialDownloadSize();
    // Before an attempt is sent again (after a time-out or a dropped
    // connection): its download files closed, and the question set anew
    // from the partial file as it now is. False when the request failed.
    bool askForTheRestOfThePartialFile();
    void removeTemporaryUploadFiles();
    void cancelLoad();
    // The validators the engine put on the message from the cache (never
    // the caller's own fields): a not-modified answer to them is the
    // engine's to resolve.
    struct CacheValidators {
        std::optional<std::string> etag, lastModified;
        bool any() const { return etag || lastModified; }
    };
    // The stored answer for the URL, taken from the cache as one pair (the
    // body read into memory within the receiving request's limit, or its
    // file left open for a download destination); nullopt when no whole
    // pair can be taken, or, with `sent`, when the pair is not the one
    // those validators named.
    std::optional<CachedResponse> takeFromCache(const CacheValidators* sent);
    // Answers the request (or its main request) with a taken answer.
    void answerFromCache(CachedResponse& taken);
    // Drops the stream of an answer the request does not read on.
    void dropAnswerStream();
    // A not-modified answer to the engine's own validators that the cache
    // cannot serve: the request is sent again without them (by
    // handleNetworkEvent, once the event that read it has ended).
    void askAgainWithoutCacheValidators();
    void updateProgressIndicators();
    void updateUploadProgress();
    void updateDownloadProgress();
    void incrementUploadSizeBy(int64_t amount);
    void incrementDownloadSizeBy(int64_t amount);
    void removeUploadProgressSoFar();
    // The size and the bytes this attempt's answer reported, taken back
    // (a challenge's page, before the attempt with the login).
    void removeDownloadProgressSoFar();
    void resetProgressAtStart();
    void storeInCache();
    // Who may hear a progress report in one direction (read at once under
    // settingsLock_); nothing is posted for a report nobody can receive.
    struct ProgressListeners {
        bool queue = false, delegate = false, bytesBlock = false, sizeBlock = false;
    };
    ProgressListeners progressListeners(bool upload) const;
    void deliverProgress(bool upload, std::function<void(ProgressDelegate&)> fn, ProgressDelegate::Optional op);
    // Bytes sent or received: to the queue and progress delegate, then the
    // indicator (set to `progress`) and the bytes block.
    void deliverBytes(bool upload, int64_t amount, uint64_t total, double progress, const ProgressListeners& who);
    void incrementSizeBy(bool upload, int64_t amount);
    void resetProgressIndicator(bool upload);

    // --- State ------------------------------------------------------------
    // Threads: the sequence (main, opening the stream, its events, the
    // status timer, redirects, challenges, finish, failure and the cancel
    // step) runs on one thread, the thread of loop_, and its state below is
    // that thread's alone: no lock. loop_ is fixed by start() (the network
    // thread), startSynchronous() (the caller's), or by a cancel() that came
    // before either (the network thread). settingsLock_ guards what a caller
    // may set or read on another thread while the request runs: loop_, url_,
    // requestMethod_, the delegate, queue, progress delegates, blocks, the
    // cache link, error_, responseHeaders_ and the server
    // credentials. It is held only to read or write those fields, never
    // while calling out. The parts keep their own locks (proxy settings,
    // logins, the connection pool, the bandwidth budget).
    mutable std::mutex settingsLock_;
    bool cancelBeforeStart_ = false;  // under settingsLock_
    // Set (never cleared) once a delegate, queue, progress delegate or
    // block, or a download cache, was given: until then the request asks
    // nobody and takes no lock to find that out.
    std::atomic<bool> listenersGiven_{false};
    std::atomic<bool> cacheGiven_{false};
    void noteListener(bool given) {
        if (given) listenersGiven_.store(true, std::memory_order_release);
    }
    ns::Ref<ns::URL> url_;
    ns::Ref<ns::URL> originalURL_;
    ns::Ref<ns::URL> redirectURL_;
    std::string requestMethod_ = "GET";
    ns::Ref<ns::MutableDictionary> requestHeaders_;
    std::vector<ns::Ref<net::HTTPCookie>> requestCookies_;
    // Why the cookies last put in the Cookie field cannot be sent ("" when
    // they can): a pair that would read as others refuses the request.
    std::string cookieRefusal_;
    ns::Ref<net::HTTPMessage> request_;  // the message built by main()
    net::HTTPTarget target_;             // url_ as main() read it: scheme, host, port, path
    ns::Ref<ns::RunLoop> loop_;          // the loop the request runs on

    ns::Ref<net::HTTPReadStream> readStream_;
    bool readStreamIsScheduled_ = false;
    ns::Ref<ConnectionRecord> connectionInfo_;
    ns::Ref<net::HTTPReadStream> previousStream_;  // of a reused record: its idle connection is closed after the new open
    bool reapplyCookies_ = false;  // a redirect kept its method: cookies for the new URL
    std::atomic<uint32_t> requestIDValue_{0};
    bool connectionCanBeReused_ = false;

    int responseStatusCode_ = 0;
    std::string responseStatusMessage_;
    // Under settingsLock_: the headers as a dictionary (built on first ask
    // when they came from the stream) and the answer they came from.
    mutable ns::Ref<ns::Dictionary> responseHeaders_;
    ns::Ref<net::HTTPMessage> responseHeaderSource_;
    bool hasResponseHeaders_ = false;  // either of the two is set
    std::atomic<bool> responseCompressed_{false};  // Content-Encoding names gzip
    ns::Ref<net::HTTPMessage> responseMessage_;
    std::vector<ns::Ref<net::HTTPCookie>> responseCookies_;
    uint64_t contentLength_ = 0;
    uint64_t totalBytesRead_ = 0;
    uint64_t lastBytesRead_ = 0;
    std::atomic<uint64_t> totalBytesSent_{0};
    uint64_t lastBytesSent_ = 0;
    uint64_t uploadBufferSize_ = 0;
    bool updatedProgress_ = false;
    uint64_t uploadProgressReported_ = 0;  // body bytes already reported as sent
    // What this attempt's answer added to the download size (of this request
    // or, for a companion HEAD request, its main request); a retry takes it
    // back before the next answer adds its own.
    int64_t downloadSizeAdded_ = 0;
    std::string responseEncoding_;

    std::atomic<bool> inProgress_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> complete_{false};
    bool downloadComplete_ = false;
    // Waits, with no stream, for credentials or a redirect decision from
    // the caller; cancelling still ends it then.
    bool awaitingCaller_ = false;
    bool needsRedirect_ = false;
    std::atomic<int> authenticationNeeded_{0};
    bool didUseCachedResponse_ = false;
    bool isSynchronous_ = false;
    bool isPACFileRequest_ = false;
    bool willRetryRequest_ = false;
    int retryCount_ = 0;
    int redirectCount_ = 0;
    bool haveBuiltRequestHeaders_ = false;

    double timeOutSeconds_ = 0;
    double lastActivityTime_ = 0;  // loop clock seconds; 0 when not set
    // The read stream's count of bytes received when the status check last
    // looked: any growth (the answer's head too) is activity.
    uint64_t streamBytesReceivedSeen_ = 0;
    RequestStatusTicker* statusTicker_ = nullptr;  // while the status checks run
    int numberOfTimesToRetryOnTimeout_ = 0;

    ns::Ref<ns::Error> error_;
    // A companion HEAD request: its main request, held until the HEAD has
    // finished, and linked weakly after that.
    bool isCompanionHEAD_ = false;
    ns::Weak<HTTPRequest> mainRequest_;
    ns::Ref<HTTPRequest> mainRequestKeep_;
    ns::WeakDelegate<HTTPRequestDelegate> delegate_;
    ns::StrongDelegate<HTTPRequestQueue> queue_;
    ns::WeakDelegate<ProgressDelegate> uploadProgressDelegate_;
    ns::WeakDelegate<ProgressDelegate> downloadProgressDelegate_;
    RequestSelector didStartSelector_;
    HeadersSelector didReceiveResponseHeadersSelector_;
    RedirectSelector willRedirectSelector_;
    RequestSelector didFinishSelector_;
    RequestSelector didFailSelector_;
    DataSelector didReceiveDataSelector_;
    ns::Ref<ns::Dictionary> userInfo_;
    int64_t tag_ = 0;

    Block startedBlock_, completionBlock_, failureBlock_, authenticationNeededBlock_,
        proxyAuthenticationNeededBlock_, requestRedirectedBlock_;
    HeadersBlock headersReceivedBlock_;
    ProgressBlock bytesReceivedBlock_, bytesSentBlock_;
    SizeBlock downloadSizeIncrementedBlock_, uploadSizeIncrementedBlock_;
    DataBlock dataReceivedBlock_;

    // Redirect settings.
    bool shouldRedirect_ = true;
    bool shouldUseRFC2616RedirectBehaviour_ = false;
    std::string userAgent_;
    bool useCookiePersistence_ = true;

    // Authentication.
    std::string username_, password_, domain_;
    ns::Ref<ns::URL> credentialsOrigin_;  // the URL username_/password_/domain_ were given for
    std::string proxyUsername_, proxyPassword_, proxyDomain_;
    AuthenticationController serverLogin_{AuthenticationController::Target::Server};
    AuthenticationController proxyLogin_{AuthenticationController::Target::Proxy};
    bool useSessionPersistence_ = true;
    bool useKeychainPersistence_ = false;
    bool shouldPresentCredentialsBeforeChallenge_ = true;
    bool shouldPresentAuthenticationDialog_ = false;
    bool shouldPresentProxyAuthenticationDialog_ = true;
    std::string clientCertificatePEM_, clientKeyPEM_;
    std::string clientCertificates_;
    bool validatesSecureCertificate_ = true;
    bool useHTTPVersionOne_ = false;

    // Proxies: the settings and any script being fetched or run.
    ProxyResolver proxy_;
    std::function<void(HTTPRequest*)> PACFileDone_;  // on a PAC-file request: its owner's handler

    // Connections.
    bool shouldAttemptPersistentConnection_ = true;
    double persistentConnectionTimeoutSeconds_ = 60.0;
    bool shouldContinueWhenAppEntersBackground_ = false;
    // A name kept for the process's life, so that no request copies one.
    const std::string* runLoopMode_;

    // The body sent (memory or file, compression, length, its stream).
    RequestBody body_;

    // Where the response body goes (memory, file, inflation, resume, limits).
    ResponseDownload download_;
    ResponseDownload::RangeAnswer rangeAnswer_ = ResponseDownload::RangeAnswer::NotAsked;
    bool allowCompressedResponse_ = true;
    ns::Ref<ns::Error> fileError_;

    // Progress.
    bool showAccurateProgress_ = true;
    bool shouldResetUploadProgress_ = true;
    bool shouldResetDownloadProgress_ = true;

    // Cache.
    CacheValidators cacheValidatorsSent_;  // by this attempt
    ns::Ref<ns::URL> noCacheValidatorsFor_;  // asked again without them, for this URL
    bool askingAgain_ = false;
    ns::WeakDelegate<CacheDelegate> downloadCacheLink_;
    uint32_t cachePolicy_ = 0;
    int cacheStoragePolicy_ = 0;
    double secondsToCache_ = 0;

    std::string defaultResponseEncoding_ = "iso-8859-1";
};

}  // namespace http
