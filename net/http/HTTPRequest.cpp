// HTTPRequest life cycle: class-wide state, threads, start paths, main(),
// stream opening, stream events, the status timer and time-outs, finish,
// failure and cancel, and delivery of callbacks to the main thread.
#include "net/http/HTTPRequest.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <vector>

#include "net/http/HTTPRequestInternal.h"
#include "net/http/RequestStatusTicker.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Thread.h"
#include "platform/network/NetworkErrors.h"

namespace http {

// ---- Class-wide state ---------------------------------------------------------
//
// What request threads use is never destroyed: a request still running while
// the process exits (an upload the user left) goes on using it after static
// destruction has begun. Plain numbers and mutexes need nothing at exit.

namespace engine {

uint32_t nextRequestNumber() {
    static std::atomic<uint32_t> n{0};
    return ++n;
}
std::recursive_mutex& sessionCookiesLock() { static std::recursive_mutex m; return m; }
std::recursive_mutex& sessionCredentialsLock() { static std::recursive_mutex m; return m; }
std::recursive_mutex& delegateAuthenticationLock() { static std::recursive_mutex m; return m; }

static const ns::Ref<ns::Error>& shared(long code, const char* text) {
    return *new ns::Ref<ns::Error>(ns::Error::withDescription(kHTTPRequestErrorDomain, code, text));
}
ns::Ref<ns::Error> requestTimedOutError() {
    static const ns::Ref<ns::Error>& e = shared(kRequestTimedOutErrorType, "The request timed out");
    return e;
}
ns::Ref<ns::Error> authenticationError() {
    static const ns::Ref<ns::Error>& e = shared(kAuthenticationErrorType, "Authentication needed");
    return e;
}
ns::Ref<ns::Error> requestCancelledError() {
    static const ns::Ref<ns::Error>& e = shared(kRequestCancelledErrorType, "The request was cancelled");
    return e;
}
ns::Ref<ns::Error> unableToCreateRequestError() {
    static const ns::Ref<ns::Error>& e = shared(kUnableToCreateRequestErrorType, "Unable to create request (bad url?)");
    return e;
}
ns::Ref<ns::Error> tooMuchRedirectionError() {
    static const ns::Ref<ns::Error>& e =
        shared(kTooMuchRedirectionErrorType, "The request failed because it redirected too many times");
    return e;
}

double steadyNow() { return ns::SystemClock::shared()->now(); }

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
ns::Ref<ns::String> str(const std::string& s) { return ns::String::make(s); }
std::string textOf(const ns::Object* o) { return o ? o->description() : std::string(); }
std::string_view textView(const ns::Object* o, std::string& scratch) {
    if (auto* text = ns::as<ns::String>(o)) return text->view();
    scratch = textOf(o);
    return scratch;
}
bool isText(const ns::Object* o, std::string_view name) {
    if (auto* s = dynamic_cast<const ns::String*>(o)) return net::equalsIgnoringCase(s->view(), name);
    return o && net::equalsIgnoringCase(o->description(), name);
}
std::optional<uint64_t> decimalLength(std::string_view text) {
    return net::parseDecimal(net::trimmed(text.substr(0, text.find(','))));
}
std::optional<std::string> headerIn(const ns::Dictionary* headers, std::string_view name) {
    if (headers)
        for (size_t i = 0; i < headers->count(); ++i)
            if (isText(headers->keyAtIndex(i), name)) return textOf(headers->valueAtIndex(i));
    return std::nullopt;
}

}  // namespace engine

namespace {

std::mutex gClassMutex;
double gDefaultTimeOut = 10.0;
ns::Ref<ns::Thread>& gNetworkThread = *new ns::Ref<ns::Thread>;
// The network thread's loop once made, for starts that need no lock; nil
// again once stopNetworkThread has ended the thread.
std::atomic<ns::RunLoop*> gKnownNetworkLoop{nullptr};
// Threads that were stopped keep their objects (and loops): a caller that
// read gKnownNetworkLoop just before the stop still holds a live loop, one
// that takes nothing more.
std::vector<ns::Ref<ns::Thread>>& gStoppedNetworkThreads = *new std::vector<ns::Ref<ns::Thread>>;
// Requests handed to the network thread, weakly (stopNetworkThread cancels
// those still alive); gone ones are swept out as the list grows.
std::mutex gOnNetworkThreadMutex;
std::vector<ns::Weak<HTTPRequest>>& gOnNetworkThread = *new std::vector<ns::Weak<HTTPRequest>>;
size_t gOnNetworkThreadSweepAt = 16;
// While stopNetworkThread runs (under gOnNetworkThreadMutex): a request
// started meanwhile is held back here, never handed to any thread, and the
// stop ends it once the thread has ended.
bool gNetworkThreadStopping = false;
std::vector<ns::Ref<HTTPRequest>>& gHeldBack = *new std::vector<ns::Ref<HTTPRequest>>;
// One stop at a time.
std::mutex gStopMutex;
ns::Ref<ns::OperationQueue>& gSharedQueue = *new ns::Ref<ns::OperationQueue>;
ns::Ref<DownloadCache>& gDefaultCache = *new ns::Ref<DownloadCache>;

}  // namespace

const std::string& HTTPRequest::lastingModeName(const std::string& mode) {
    if (mode == ns::RunLoop::kDefaultMode) return ns::RunLoop::kDefaultMode;
    static const auto& requestMode = *new std::string(kHTTPRequestRunLoopMode);
    if (mode == requestMode) return requestMode;
    // Other names are few (a caller's own mode); kept, like the two above.
    static std::mutex namesMutex;
    static auto& names = *new std::set<std::string>();
    std::lock_guard<std::mutex> g(namesMutex);
    return *names.insert(mode).first;
}

ns::Ref<ns::RunLoop> HTTPRequest::networkRunLoop() {
    // The thread and its loop are made once and kept until
    // stopNetworkThread, so every start after the first finds the loop
    // without a lock.
    if (ns::RunLoop* loop = gKnownNetworkLoop.load(std::memory_order_acquire)) return ns::Ref<ns::RunLoop>(loop);
    std::lock_guard<std::mutex> g(gClassMutex);
    if (!gNetworkThread) gNetworkThread = ns::Thread::startRunLoopThread("HTTPRequest network thread");
    ns::Ref<ns::RunLoop> loop = gNetworkThread->runLoop();
    gKnownNetworkLoop.store(loop.get(), std::memory_order_release);
    return loop;
}

ns::Ref<ns::Thread> HTTPRequest::threadForRequest(HTTPRequest*) {
    networkRunLoop();
    std::lock_guard<std::mutex> g(gClassMutex);
    return gNetworkThread;
}

ns::Ref<ns::RunLoop> HTTPRequest::admitOnNetworkThread(HTTPRequest* request) {
    // Admitted and recorded in one step with the stop's own look at the
    // list: a request is either cancelled by a stop or held back by it.
    std::lock_guard<std::mutex> g(gOnNetworkThreadMutex);
    if (gNetworkThreadStopping) {
        gHeldBack.emplace_back(request);
        return nullptr;
    }
    ns::Ref<ns::RunLoop> loop = networkRunLoop();
    if (gOnNetworkThread.size() >= gOnNetworkThreadSweepAt) {
        std::erase_if(gOnNetworkThread, [](const ns::Weak<HTTPRequest>& r) { return r.expired(); });
        gOnNetworkThreadSweepAt = std::max<size_t>(16, 2 * gOnNetworkThread.size());
    }
    gOnNetworkThread.emplace_back(request);
    return loop;
}

void HTTPRequest::stopNetworkThread() {
    ns::Ref<ns::Thread> thread;
    {
        std::lock_guard<std::mutex> g(gClassMutex);
        thread = gNetworkThread;
    }
    if (!thread) return;
    ns::Ref<ns::RunLoop> loop = thread->runLoop();
    if (loop && loop->isCurrent())
        throw ns::Exception(ns::kInternalInconsistencyException, "the network thread cannot stop itself");
    std::lock_guard<std::mutex> stopping(gStopMutex);
    {
        std::lock_guard<std::mutex> g(gClassMutex);
        if (gNetworkThread != thread) return;  // another stop ended it meanwhile
    }
    // From here on no request is handed to the thread: one that a queue (or
    // anyone) starts now, a waiting request whose turn comes as a running
    // one is cancelled, say, is held back and ended below, unsent.
    std::vector<ns::Ref<HTTPRequest>> requests;
    {
        std::lock_guard<std::mutex> g(gOnNetworkThreadMutex);
        gNetworkThreadStopping = true;
        for (auto& weak : gOnNetworkThread)
            if (auto r = weak.lock()) requests.push_back(std::move(r));
        gOnNetworkThread.clear();
    }
    // The shared queue's waiting requests are cancelled too, so that none
    // runs once the stop is over.
    ns::Ref<ns::OperationQueue> queue;
    {
        std::lock_guard<std::mutex> g(gClassMutex);
        queue = gSharedQueue;
    }
    if (queue)
        for (auto& op : queue->operations())
            if (auto* r = dynamic_cast<HTTPRequest*>(op.get())) requests.emplace_back(r);
    // Each cancel runs on the network thread, in order, before the stop
    // queued after them; what the requests hold goes with the thread's loop.
    for (auto& r : requests) r->clearDelegatesAndCancel();
    requests.clear();
    if (loop) ns::performOnThread(*loop, [thread] { thread->stop(); }, false);
    else thread->stop();
    thread->join();
    // The held-back requests end here, quietly and cancelled (the thread is
    // gone, so nothing else runs their steps). Each end may let its queue
    // start the next one, which is held back in turn, until none is left.
    // Until then the ended thread stays the known one: a cancel meanwhile
    // goes there and is dropped, and no new thread is made.
    auto endHeldBack = [&loop](bool last) {
        for (;;) {
            std::vector<ns::Ref<HTTPRequest>> heldBack;
            {
                std::lock_guard<std::mutex> g(gOnNetworkThreadMutex);
                if (gHeldBack.empty()) {
                    if (last) gNetworkThreadStopping = false;
                    return;
                }
                heldBack.swap(gHeldBack);
            }
            for (auto& r : heldBack) r->endHeldBack(loop);
        }
    };
    endHeldBack(false);
    {
        std::lock_guard<std::mutex> g(gClassMutex);
        if (gNetworkThread == thread) {
            gKnownNetworkLoop.store(nullptr, std::memory_order_release);
            gStoppedNetworkThreads.push_back(std::move(gNetworkThread));
            gNetworkThread = nullptr;
        }
    }
    endHeldBack(true);
}

ns::Ref<ns::OperationQueue> HTTPRequest::sharedQueue() {
    std::lock_guard<std::mutex> g(gClassMutex);
    if (!gSharedQueue) {
        gSharedQueue = ns::OperationQueue::make();
        gSharedQueue->setMaxConcurrentOperationCount(4);
        gSharedQueue->setName("HTTPRequest shared queue");
    }
    return gSharedQueue;
}

double HTTPRequest::defaultTimeOutSeconds() {
    std::lock_guard<std::mutex> g(gClassMutex);
    return gDefaultTimeOut;
}
void HTTPRequest::setDefaultTimeOutSeconds(double s) {
    std::lock_guard<std::mutex> g(gClassMutex);
    gDefaultTimeOut = s;
}
CacheDelegate* HTTPRequest::defaultCache() {
    std::lock_guard<std::mutex> g(gClassMutex);
    return gDefaultCache.get();
}
void HTTPRequest::setDefaultCache(ns::Ref<DownloadCache> cache) {
    std::lock_guard<std::mutex> g(gClassMutex);
    gDefaultCache = std::move(cache);
}

// ---- Making -------------------------------------------------------------------

HTTPRequest::HTTPRequest(ns::Ref<ns::URL> url)
    : didStartSelector_(&HTTPRequestDelegate::requestStarted),
      didReceiveResponseHeadersSelector_(&HTTPRequestDelegate::requestDidReceiveResponseHeaders),
      willRedirectSelector_(&HTTPRequestDelegate::requestWillRedirectToURL),
      didFinishSelector_(&HTTPRequestDelegate::requestFinished),
      didFailSelector_(&HTTPRequestDelegate::requestFailed),
      didReceiveDataSelector_(&HTTPRequestDelegate::requestDidReceiveData),
      runLoopMode_(&ns::RunLoop::kDefaultMode) {
    url_ = std::move(url);
    CacheDelegate* cache;
    {
        std::lock_guard<std::mutex> g(gClassMutex);
        timeOutSeconds_ = gDefaultTimeOut;
        cache = gDefaultCache.get();
    }
    if (cache) setDownloadCache(cache);
}

HTTPRequest::~HTTPRequest() {
    // Quiet clean-up: nothing here may report or take a reference to this
    // request any more.
    authenticationNeeded_ = 0;
    request_ = nullptr;
    // On another thread the ticker drops the request at its next check.
    if (statusTicker_ && loop_ && loop_->isCurrent())
        if (auto* ticker = RequestStatusTicker::current(*runLoopMode_)) ticker->remove(*this);
    if (readStream_) {
        readStream_->setClient(0, nullptr);
        if (!connectionCanBeReused_) readStream_->close();
    }
    download_.cancel(downloadComplete_);
    if (!ns::RunLoop::isMainThread()) releaseBlocksOnMainThread(false);
}

void HTTPRequest::releaseBlocksOnMainThread(bool waitUntilDone) {
    struct Blocks : ns::Object {
        std::tuple<Block, Block, Block, Block, Block, Block, HeadersBlock, ProgressBlock, ProgressBlock, SizeBlock,
                   SizeBlock, DataBlock>
            all;
    };
    auto blocks = ns::make<Blocks>();
    std::unique_lock<std::mutex> g(settingsLock_);
    blocks->all = {std::exchange(startedBlock_, nullptr),
                   std::exchange(completionBlock_, nullptr),
                   std::exchange(failureBlock_, nullptr),
                   std::exchange(authenticationNeededBlock_, nullptr),
                   std::exchange(proxyAuthenticationNeededBlock_, nullptr),
                   std::exchange(requestRedirectedBlock_, nullptr),
                   std::exchange(headersReceivedBlock_, nullptr),
                   std::exchange(bytesReceivedBlock_, nullptr),
                   std::exchange(bytesSentBlock_, nullptr),
                   std::exchange(downloadSizeIncrementedBlock_, nullptr),
                   std::exchange(uploadSizeIncrementedBlock_, nullptr),
                   std::exchange(dataReceivedBlock_, nullptr)};
    g.unlock();
    ns::performOnMainThread([blocks]() mutable { blocks = nullptr; }, waitUntilDone);
}

ns::Ref<HTTPRequest> HTTPRequest::requestWithURL(ns::Ref<ns::URL> url) { return ns::make<HTTPRequest>(std::move(url)); }

ns::Ref<HTTPRequest> HTTPRequest::requestWithURL(ns::Ref<ns::URL> url, CacheDelegate* cache, uint32_t policy) {
    auto r = ns::make<HTTPRequest>(std::move(url));
    r->setDownloadCache(cache);
    r->setCachePolicy(policy);
    return r;
}

std::string HTTPRequest::description() const {
    auto u = url();
    return "<HTTPRequest " + requestMethod() + " " + (u ? u->absoluteText() : std::string("(null)")) + ">";
}

// ---- Guarded settings -----------------------------------------------------------

ns::Ref<ns::URL> HTTPRequest::url() const {
    std::lock_guard<std::mutex> g(settingsLock_);
    return url_;
}

void HTTPRequest::setURL(ns::Ref<ns::URL> url) {
    replaceURL(std::move(url));
    // The caller points the request elsewhere: its credentials go along.
    std::lock_guard<std::mutex> g(settingsLock_);
    if (credentialsOrigin_) credentialsOrigin_ = url_;
}

void HTTPRequest::replaceURL(ns::Ref<ns::URL> url) {
    {
        std::lock_guard<std::mutex> g(settingsLock_);
        if (ns::equal(url, url_)) return;
        url_ = std::move(url);
    }
    request_ = nullptr;
    serverLogin_.forgetAuthentication();
    proxyLogin_.forgetAuthentication();
    redirectURL_ = nullptr;
}

HTTPRequestDelegate* HTTPRequest::delegate() const {
    std::lock_guard<std::mutex> g(settingsLock_);
    return delegate_.get();
}
void HTTPRequest::setDelegate(HTTPRequestDelegate* d) {
    std::lock_guard<std::mutex> g(settingsLock_);
    noteListener(d != nullptr);
    delegate_.set(d);
}
HTTPRequestQueue* HTTPRequest::queue() const {
    std::lock_guard<std::mutex> g(settingsLock_);
    return queue_.get();
}
void HTTPRequest::setQueue(HTTPRequestQueue* q) {
    std::lock_guard<std::mutex> g(settingsLock_);
    noteListener(q != nullptr);
    queue_ = q;
}
std::string HTTPRequest::requestMethod() const {
    std::lock_guard<std::mutex> g(settingsLock_);
    return requestMethod_;
}
void HTTPRequest::setRequestMethod(std::string method) {
    std::lock_guard<std::mutex> g(settingsLock_);
    if (method == requestMethod_) return;
    requestMethod_ = std::move(method);
    if (requestMethod_ == "POST" || requestMethod_ == "PUT" || body_.hasContent())
        shouldAttemptPersistentConnection_ = false;
}
ProgressDelegate* HTTPRequest::uploadProgressDelegate() const {
    std::lock_guard<std::mutex> g(settingsLock_);
    return uploadProgressDelegate_.get();
}
void HTTPRequest::setUploadProgressDelegate(ProgressDelegate* d) {
    std::lock_guard<std::mutex> g(settingsLock_);
    noteListener(d != nullptr);
    uploadProgressDelegate_.set(d);
}
ProgressDelegate* HTTPRequest::downloadProgressDelegate() const {
    std::lock_guard<std::mutex> g(settingsLock_);
    return downloadProgressDelegate_.get();
}
void HTTPRequest::setDownloadProgressDelegate(ProgressDelegate* d) {
    std::lock_guard<std::mutex> g(settingsLock_);
    noteListener(d != nullptr);
    downloadProgressDelegate_.set(d);
}
CacheDelegate* HTTPRequest::downloadCache() const {
    std::lock_guard<std::mutex> g(settingsLock_);
    return downloadCacheLink_.get();
}
ns::WeakDelegate<CacheDelegate>::Locked HTTPRequest::lockedDownloadCache() const {
    if (!cacheGiven_.load(std::memory_order_acquire)) return {};
    std::lock_guard<std::mutex> g(settingsLock_);
    return downloadCacheLink_.lock();
}
void HTTPRequest::setDownloadCache(CacheDelegate* cache) {
    std::lock_guard<std::mutex> g(settingsLock_);
    if (cache) cacheGiven_.store(true, std::memory_order_release);
    downloadCacheLink_.set(cache);
}
ns::Ref<ns::Error> HTTPRequest::error() const {
    std::lock_guard<std::mutex> g(settingsLock_);
    return error_;
}
void HTTPRequest::setError(ns::Ref<ns::Error> e) {
    std::lock_guard<std::mutex> g(settingsLock_);
    error_ = std::move(e);
}
void HTTPRequest::storeResponseHeaders(ns::Ref<ns::Dictionary> headers) {
    auto encoding = engine::headerIn(headers.get(), "Content-Encoding");
    hasResponseHeaders_ = headers != nullptr;
    responseCompressed_ = encoding && encoding->find("gzip") != std::string::npos;
    std::lock_guard<std::mutex> g(settingsLock_);
    responseHeaders_ = std::move(headers);
    responseHeaderSource_ = nullptr;
}
void HTTPRequest::storeResponseMessage(ns::Ref<net::HTTPMessage> message) {
    auto encoding = message->headerField("Content-Encoding");
    hasResponseHeaders_ = true;
    responseCompressed_ = encoding && encoding->find("gzip") != std::string::npos;
    std::lock_guard<std::mutex> g(settingsLock_);
    responseHeaders_ = nullptr;
    responseHeaderSource_ = std::move(message);
}
ns::Ref<ns::Dictionary> HTTPRequest::responseHeaders() const {
    std::lock_guard<std::mutex> g(settingsLock_);
    // The answer no longer changes once read, so any thread may build it.
    if (!responseHeaders_ && responseHeaderSource_) responseHeaders_ = responseHeaderSource_->allHeaderFields();
    return responseHeaders_;
}
std::optional<std::string> HTTPRequest::responseHeaderField(std::string_view name) const {
    // Only this thread changes the source, so it reads it without the lock.
    if (responseHeaderSource_) return responseHeaderSource_->headerField(name);
    return engine::headerIn(responseHeaders().get(), name);
}
ns::Ref<ns::Number> HTTPRequest::requestID() const {
    uint32_t id = requestIDValue_.load();
    return id ? ns::Number::numberWithUnsignedInt(id) : nullptr;
}
void HTTPRequest::setClientCertificateIdentity(std::string chain, std::string key) {
    clientCertificatePEM_ = std::move(chain);
    clientKeyPEM_ = std::move(key);
}

#define HTTP_BLOCK_SETTER(Name, Type, field)                   \
    void HTTPRequest::Name(Type b) {                            \
        std::lock_guard<std::mutex> g(settingsLock_); \
        noteListener(static_cast<bool>(b));                     \
        field = std::move(b);                                   \
    }
HTTP_BLOCK_SETTER(setStartedBlock, Block, startedBlock_)
HTTP_BLOCK_SETTER(setHeadersReceivedBlock, HeadersBlock, headersReceivedBlock_)
HTTP_BLOCK_SETTER(setCompletionBlock, Block, completionBlock_)
HTTP_BLOCK_SETTER(setFailedBlock, Block, failureBlock_)
HTTP_BLOCK_SETTER(setBytesReceivedBlock, ProgressBlock, bytesReceivedBlock_)
HTTP_BLOCK_SETTER(setBytesSentBlock, ProgressBlock, bytesSentBlock_)
HTTP_BLOCK_SETTER(setDownloadSizeIncrementedBlock, SizeBlock, downloadSizeIncrementedBlock_)
HTTP_BLOCK_SETTER(setUploadSizeIncrementedBlock, SizeBlock, uploadSizeIncrementedBlock_)
HTTP_BLOCK_SETTER(setDataReceivedBlock, DataBlock, dataReceivedBlock_)
HTTP_BLOCK_SETTER(setAuthenticationNeededBlock, Block, authenticationNeededBlock_)
HTTP_BLOCK_SETTER(setProxyAuthenticationNeededBlock, Block, proxyAuthenticationNeededBlock_)
HTTP_BLOCK_SETTER(setRequestRedirectedBlock, Block, requestRedirectedBlock_)
#undef HTTP_BLOCK_SETTER

// ---- Starting -------------------------------------------------------------------

void HTTPRequest::startAsynchronous() { sharedQueue()->addOperation(ns::keepAlive(this)); }

bool HTTPRequest::claimLoop(ns::Ref<ns::RunLoop> loop) {
    std::lock_guard<std::mutex> g(settingsLock_);
    if (cancelBeforeStart_) return false;
    loop_ = std::move(loop);
    return true;
}

void HTTPRequest::start() {
    willChangeValueForKey("isExecuting");
    inProgress_ = true;
    didChangeValueForKey("isExecuting");
    auto loop = admitOnNetworkThread(this);
    if (!loop) return;  // the network thread is stopping: the stop ends it
    // A cancel that came first has a thread already; main() then only
    // finishes the request there, after the cancel step.
    claimLoop(loop);
    ns::Ref<ns::RunLoop> claimed;
    {
        std::lock_guard<std::mutex> g(settingsLock_);
        claimed = loop_;
    }
    auto self = ns::keepAlive(this);
    // Woken at once: the thread starting it may be inside a main-thread
    // callback that then waits for the request by its own means.
    if (claimed->performAtOnce([self] { self->main(); })) return;
    // The claimed thread has ended (a stop cancelled the request and
    // dropped its steps there): nothing else runs them, so it ends here.
    endCancelledHere();
}

void HTTPRequest::endCancelledHere() {
    cancelOnRequestThread();
    if (!finished_) markAsFinished();
}

void HTTPRequest::endHeldBack(const ns::Ref<ns::RunLoop>& stoppedLoop) {
    ns::StrongDelegate<HTTPRequestQueue>::Locked queue = letGoOfListeners();
    {
        // Any later cancel goes to the ended thread, and is dropped there.
        std::lock_guard<std::mutex> g(settingsLock_);
        if (!loop_) loop_ = stoppedLoop;
    }
    // A PAC script's fetch tells nobody either: its request was cancelled
    // by the stop.
    PACFileDone_ = nullptr;
    endCancelledHere();
    tellQueueLetGo(std::move(queue));
}

void HTTPRequest::startSynchronous() {
    if (!claimLoop(ns::RunLoop::current())) {
        // A cancel came first and took a thread for its step: this returns
        // once that step has run, so the caller reads the cancel. The thread
        // may have ended with the step dropped; then nothing else runs it.
        ns::Ref<ns::RunLoop> claimed;
        {
            std::lock_guard<std::mutex> g(settingsLock_);
            claimed = loop_;
        }
        if (!claimed->isCurrent()) ns::performOnThread(*claimed, [] {}, true);
        cancelOnRequestThread();
        return;
    }
    isSynchronous_ = true;
    runLoopMode_ = &lastingModeName(kHTTPRequestRunLoopMode);
    willChangeValueForKey("isExecuting");
    inProgress_ = true;
    didChangeValueForKey("isExecuting");
    if (!isCancelled() && !complete()) {
        main();
        auto loop = ns::RunLoop::current();
        while (!complete_.load()) loop->runUntil([this] { return complete_.load(); }, ns::RunLoop::kDistantFuture,
                                                 *runLoopMode_);
    }
    inProgress_ = false;
}

bool HTTPRequest::isCancelled() const {
    // An atomic read: operation queues ask while holding their own locks,
    // so this must not take the request's lock.
    return cancelled_.load();
}

void HTTPRequest::performOnRequestThread(std::function<void()> fn) {
    ns::Ref<ns::RunLoop> loop;
    {
        std::lock_guard<std::mutex> g(settingsLock_);
        loop = loop_;
    }
    if (!loop) loop = networkRunLoop();
    // Woken at once, like a start: the caller may go on to wait for what it
    // asked for (a cancel's end, say) without returning to its loop.
    loop->performAtOnce(std::move(fn));
}

void HTTPRequest::cancel() {
    {
        // Before any start, the cancel step takes the network thread for
        // the sequence.
        std::lock_guard<std::mutex> g(settingsLock_);
        if (!loop_) {
            loop_ = networkRunLoop();
            cancelBeforeStart_ = true;
        }
    }
    auto self = ns::keepAlive(this);
    performOnRequestThread([self] { self->cancelOnRequestThread(); });
}

void HTTPRequest::cancelOnRequestThread() {
    // A request waiting for the caller counts as complete (its stream is
    // done) but has not ended: cancelling ends it and frees its place.
    if (cancelled_ || (complete_ && !awaitingCaller_)) return;
    awaitingCaller_ = false;
    const bool failed = recordFailure(engine::requestCancelledError());
    complete_ = true;
    cancelLoad();
    willChangeValueForKey("isCancelled");
    cancelled_ = true;
    didChangeValueForKey("isCancelled");
    // Finished only once it counts as cancelled: a queue (or a caller
    // waiting for the end) sees both.
    if (failed && inProgress_) markAsFinished();
}

ns::StrongDelegate<HTTPRequestQueue>::Locked HTTPRequest::letGoOfListeners() {
    ns::StrongDelegate<HTTPRequestQueue>::Locked queue;
    {
        std::lock_guard<std::mutex> g(settingsLock_);
        delegate_.set(nullptr);
        queue = queue_.lock();
        queue_ = nullptr;
        uploadProgressDelegate_.set(nullptr);
        downloadProgressDelegate_.set(nullptr);
    }
    releaseBlocksOnMainThread(ns::RunLoop::isMainThread());
    return queue;
}

void HTTPRequest::tellQueueLetGo(ns::StrongDelegate<HTTPRequestQueue>::Locked queue) {
    // The queue no longer hears this request's end: it counts it ended
    // itself (once; an end it heard already is not counted again).
    if (!queue) return;
    auto self = ns::keepAlive(this);
    callOnMain([self, queue] { queue->requestWasLetGo(self.get()); });
}

void HTTPRequest::clearDelegatesAndCancel() {
    auto queue = letGoOfListeners();
    cancel();
    tellQueueLetGo(std::move(queue));
}

// ---- main ---------------------------------------------------------------------

void HTTPRequest::main() {
    try {
        runMain();
    } catch (const ns::Exception& e) {
        auto inner = ns::Error::make(kHTTPRequestErrorDomain, kUnhandledExceptionError, e.userInfo());
        auto info = ns::MutableDictionary::make();
        info->setObject(engine::str(e.name()), ns::kLocalizedDescriptionKey);
        info->setObject(engine::str(e.reason()), ns::kLocalizedFailureReasonErrorKey);
        info->setObject(inner, ns::kUnderlyingErrorKey);
        failWithError(ns::Error::make(kHTTPRequestErrorDomain, kUnhandledExceptionError, info));
    }
}

void HTTPRequest::runMain() {
    if (!loop_) loop_ = ns::RunLoop::current();
    // Background tasks: this platform has no multitasking to ask for.
    if (error_) {
        complete_ = true;
        markAsFinished();
        return;
    }
    complete_ = false;
    didUseCachedResponse_ = false;
    if (!url_) {
        failWithError(engine::unableToCreateRequestError());
        return;
    }
    if (!isCompanionHEAD_) {
        buildPostBody();
        if (error_) return;  // the body could not be built; already failed
    }
    if (requestMethod_ != "GET") setDownloadCache(nullptr);

    request_ = nullptr;
    if (!net::parseHTTPTarget(url_->absoluteText(), target_)) {
        failWithError(engine::unableToCreateRequestError());
        return;
    }
    request_ = net::HTTPMessage::request(requestMethod_, url_->absoluteText(),
                                         useHTTPVersionOne_ ? "HTTP/1.0" : "HTTP/1.1");
    if (auto main = mainRequest()) main->buildRequestHeaders();
    buildRequestHeaders();
    if (reapplyCookies_) {
        // A redirect that kept its method sends the new URL's cookies.
        reapplyCookies_ = false;
        applyCookieHeader();
    }

    cacheValidatorsSent_ = {};
    if (auto keep = lockedDownloadCache()) {
        CacheDelegate* cache = keep.get();
        if (cachePolicy_ == 0) cachePolicy_ = cache->defaultCachePolicy();
        if (cache->canUseCachedDataForRequest(*this)) {
            if (auto taken = takeFromCache(nullptr)) {
                answerFromCache(*taken);
                return;
            }
            // Nothing whole to take (another thread or process changed or
            // dropped it meanwhile): the network answers, unless the caller
            // forbade loading.
            if (cachePolicy_ & kDontLoadCachePolicy) {
                failWithError(errorWithCode(kFileManagementError,
                                            "The download cache holds no whole answer for the request, and its cache "
                                            "policy does not let it load one"));
                return;
            }
        }
        // The stored answer's validators go with this URL's message only
        // (never into the header set a redirect carries on), unless the
        // caller asks conditionally himself or they were just answered by
        // a not-modified the cache could not serve. A stored value that
        // cannot be sent (an entry of an older build kept CR or NUL) is
        // left out rather than refusing the request.
        if ((cachePolicy_ & (kAskServerIfModifiedWhenStaleCachePolicy | kAskServerIfModifiedCachePolicy)) &&
            !ns::equal(noCacheValidatorsFor_, url_) && !engine::headerIn(requestHeaders_.get(), "If-None-Match") &&
            !engine::headerIn(requestHeaders_.get(), "If-Modified-Since")) {
            if (auto cached = cache->cachedResponseHeadersForURL(*url_)) {
                auto sendable = [](std::optional<std::string> v) -> std::optional<std::string> {
                    if (v && v->find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) return std::nullopt;
                    return v;
                };
                cacheValidatorsSent_.etag = sendable(engine::headerIn(cached.get(), "Etag"));
                cacheValidatorsSent_.lastModified = sendable(engine::headerIn(cached.get(), "Last-Modified"));
            }
        }
    }
    applyAuthorizationHeader();
    if (requestHeaders_) {
        std::string key, value;
        for (size_t i = 0; i < requestHeaders_->count(); ++i)
            request_->setHeaderField(engine::textView(requestHeaders_->keyAtIndex(i), key),
                                     engine::textView(requestHeaders_->valueAtIndex(i), value));
    }
    if (cacheValidatorsSent_.etag) request_->setHeaderField("If-None-Match", *cacheValidatorsSent_.etag);
    if (cacheValidatorsSent_.lastModified) request_->setHeaderField("If-Modified-Since", *cacheValidatorsSent_.lastModified);
    if (configureProxies()) startRequest();
}

ns::Ref<ns::Error> HTTPRequest::errorWithCode(long code, const std::string& description, ns::Ref<ns::Error> underlying) {
    return requestError(code, description, std::move(underlying));
}

// ---- Opening the stream ------------------------------------------------------------

void HTTPRequest::startRequest() {
    if (cancelled_) return;
    reportStarted();

    downloadComplete_ = false;
    complete_ = false;
    totalBytesRead_ = 0;
    lastBytesRead_ = 0;
    if (redirectCount_ == 0) originalURL_ = url_;
    if (lastBytesSent_ > 0) removeUploadProgressSoFar();
    lastBytesSent_ = 0;
    contentLength_ = 0;
    downloadSizeAdded_ = 0;
    if (hasResponseHeaders_) storeResponseHeaders(nullptr);
    responseMessage_ = nullptr;
    download_.startAttempt();
    rangeAnswer_ = ResponseDownload::RangeAnswer::NotAsked;
    readStreamIsScheduled_ = false;
    if (!request_) {
        failWithError(engine::unableToCreateRequestError());
        return;
    }
    // A method or header field (the caller's, a cookie, the user agent,
    // credentials) that is not valid HTTP fails the request before anything
    // is sent, naming what is wrong: sent, it would rewrite the head; left
    // out, the request would run without it and still report success.
    std::string bad = request_->whyRequestCannotBeSent();
    if (bad.empty() && request_->headers().contains("Cookie")) bad = cookieRefusal_;
    if (!bad.empty()) {
        failWithError(errorWithCode(kUnableToCreateRequestErrorType, "Unable to create request: " + bad));
        return;
    }

    ns::Ref<net::InputStream> body = body_.openStream(this);
    readStream_ = net::HTTPReadStream::make(request_, body, target_);
    if (!readStream_) {
        failWithError(errorWithCode(kInternalErrorWhileBuildingRequestType, "Unable to create read stream"));
        return;
    }
    if (target_.scheme == "https") {
        net::TLSSettings tls;
        if (!validatesSecureCertificate_) tls.validatesCertificateChain = false;
        if (!clientCertificatePEM_.empty()) {
            tls.clientCertificatePEM = clientCertificatePEM_;
            tls.clientKeyPEM = clientKeyPEM_;
        }
        tls.trustedCertificatesFile = clientCertificates_;
        readStream_->setTLSSettings(tls);
    }
    proxy_.applyTo(*readStream_);

    chooseConnection();

    if (!readStreamIsScheduled_ && !BandwidthThrottle::shared().isPausedAt(BandwidthThrottle::shared().now())) scheduleReadStream();

    ns::Weak<HTTPRequest> weak(this);
    readStream_->setClient(net::kStreamEventHasBytesAvailable | net::kStreamEventErrorOccurred |
                               net::kStreamEventEndEncountered,
                           [weak](net::HTTPReadStream&, net::StreamEvent e) {
                               if (auto self = weak.lock()) self->handleNetworkEvent(e);
                           });
    bool opened = readStream_->open();
    ns::Ref<net::HTTPReadStream> previous = std::exchange(previousStream_, nullptr);
    // Only the idle connection it left: its own thread may still be finishing with it.
    if (previous && previous != readStream_) previous->closeHandedBackConnection();
    if (!opened) {
        connectionCanBeReused_ = false;
        destroyReadStream();
        failWithError(errorWithCode(kInternalErrorWhileBuildingRequestType, "Unable to start HTTP connection"));
        return;
    }
    if (!isCompanionHEAD_) resetProgressAtStart();

    lastActivityTime_ = loop_->now();
    streamBytesReceivedSeen_ = 0;
    startStatusChecks(weak);
}

// ---- Stream events -----------------------------------------------------------------

void HTTPRequest::handleNetworkEvent(net::StreamEvent event) {
    auto self = ns::keepAlive(this);
    if (complete_ || cancelled_) return;
    switch (event) {
        case net::kStreamEventHasBytesAvailable: handleBytesAvailable(); break;
        case net::kStreamEventErrorOccurred: handleStreamError(); break;
        case net::kStreamEventEndEncountered: handleStreamComplete(); break;
        default: break;
    }
    performThrottling();
    if (askingAgain_) {
        askingAgain_ = false;
        main();
    } else if (downloadComplete_ && needsRedirect_) {
        if (!willAskDelegateToConfirmRedirect()) performRedirect();
    } else if (downloadComplete_ && authenticationNeeded_) {
        attemptToApplyCredentialsAndResume();
    }
}

bool HTTPRequest::deliversDataToCaller() {
    if (!listenersGiven_.load(std::memory_order_acquire)) return false;
    DataSelector selector;
    bool block;
    auto d = listeners([&] {
        selector = didReceiveDataSelector_;
        block = static_cast<bool>(dataReceivedBlock_);
    }).delegate;
    return block || (d && (selector != &HTTPRequestDelegate::requestDidReceiveData ||
                           d->answers(HTTPRequestDelegate::Optional::requestDidReceiveData)));
}

void HTTPRequest::beginBody() {
    using Destination = ResponseBodyGuard::Destination;
    Destination where = !download_.destinationPath().empty() ? Destination::File
                        : deliversDataToCaller()             ? Destination::Delegate
                                                             : Destination::Memory;
    download_.beginBody(where, isResponseCompressed(), rangeAnswer());
}

void HTTPRequest::handleBytesAvailable() {
    if (!hasResponseHeaders_) {
        readResponseHeaders();
        if (complete_ || !readStream_) return;
        beginBody();
    }
    const bool inflateOnArrival = download_.inflatesOnArrival();
    const bool toCaller = deliversDataToCaller();
    // A download keeps nothing of an answer that is not its body: one that
    // redirects, or a challenge the engine answers with a login (the
    // attempt that carries it brings the body).
    const bool toFile = !download_.destinationPath().empty() && !toCaller;
    const bool discard = (needsRedirect_ && shouldRedirect_ && (toFile || download_.allowsResume())) ||
                         (toFile && authenticationNeeded_);
    while (!complete_ && readStream_ && readStream_->hasBytesAvailable()) {
        // A body kept in memory as it came is appended straight to it, in
        // pieces as large as the stream holds; the stream receives the
        // plain body straight into it after the first piece.
        const bool toMemory = !toCaller && !discard && download_.keepsRawInMemory();
        size_t size = 16384;
        // A gzip body inflated as it arrives is read in small pieces, so
        // that one piece inflates to at most about 16 MiB.
        if (toMemory) size = SIZE_MAX;
        else if (contentLength_ > 262144 && !inflateOnArrival) size = 262144;
        else if (contentLength_ > 65536 && !inflateOnArrival) size = 65536;
        size = BandwidthThrottle::shared().readAllowance(size);
        uint8_t buffer[262144];
        const uint8_t* bytes = buffer;
        long n;
        if (toMemory) {
            const auto body = download_.rawData();
            n = readStream_->readAppending(body, size);
            if (n > 0) bytes = body->bytes() + body->length() - static_cast<size_t>(n);
        } else {
            n = readStream_->read(buffer, size);
        }
        if (n < 0) {
            handleStreamError();
            return;
        }
        if (n == 0) break;
        const size_t length = static_cast<size_t>(n);
        // A body that crosses its limit or does not inflate cannot be
        // continued either: a partial file kept to resume from goes too.
        if (auto tooLarge = download_.received(bytes, length)) {
            download_.abandonFiles();
            cancelLoad();
            failWithError(tooLarge);
            return;
        }
        ns::Ref<ns::Data> inflated;
        if (inflateOnArrival && !discard) {
            ns::Ref<ns::Error> err;
            inflated = download_.inflate(buffer, length, &err);
            if (!inflated) {
                download_.abandonFiles();
                cancelLoad();
                failWithError(err);
                return;
            }
        }
        totalBytesRead_ += length;
        lastActivityTime_ = loop_->now();
        incrementBandwidthUsedInLastSecond(length);
        // Once this second's allowance is spent, stop reading: the throttle
        // unschedules the stream until its wake-up time, and the bytes left
        // in the stream are announced again when it is scheduled.
        bool pause = false;
        if (auto& throttle = BandwidthThrottle::shared(); throttle.isThrottled()) {
            const double now = throttle.now();
            throttle.measure(now);
            pause = throttle.isPausedAt(now);
        }
        if (discard) {
        } else if (toCaller) {
            deliverData(inflated ? inflated : ns::Data::make(buffer, length));
        } else if (!toMemory) {
            storeReceivedBytes(buffer, length, inflated.get());
        }
        if (pause) {
            performThrottling();
            break;
        }
    }
}

void HTTPRequest::deliverData(ns::Ref<ns::Data> data) {
    auto self = ns::keepAlive(this);
    callOnMain([self, data] {
        DataSelector sel;
        DataBlock block;
        auto del = self->listeners([&] {
            sel = self->didReceiveDataSelector_;
            block = self->dataReceivedBlock_;
        }).delegate;
        if (del && (sel != &HTTPRequestDelegate::requestDidReceiveData ||
                    del->answers(HTTPRequestDelegate::Optional::requestDidReceiveData)))
            (del.get()->*sel)(self.get(), data);
        if (block) block(data);
    });
}

void HTTPRequest::handleStreamError() {
    ns::Ref<ns::Error> streamError = readStream_ ? readStream_->streamError() : nullptr;
    if (!error_) {
        if (net::isDroppedConnection(streamError.get()) && retryUsingNewConnection()) return;
        std::string description = "A connection failure occurred";
        if (net::isTLSError(streamError.get()))
            description = ns::format(
                "%@: SSL problem (Possible causes may include a bad/expired/self-signed certificate, clock set to "
                "wrong date)",
                description);
        cancelLoad();
        failWithError(errorWithCode(kConnectionFailureErrorType, description, streamError));
    } else {
        cancelLoad();
    }
    checkRequestStatus();
}

void HTTPRequest::handleStreamComplete() {
    stopStatusChecks();
    downloadComplete_ = true;
    if (!hasResponseHeaders_) {
        readResponseHeaders();
        if (didUseCachedResponse_ || askingAgain_ || complete_) return;
    }
    // No process-wide lock is held while a request ends: its progress
    // reports run the caller's code at once when the request runs on the
    // main thread, and landing a download or storing it in the cache may
    // take long, so such a lock would hold up every asynchronous request
    // ending meanwhile (for good, should a report wait for one). What this
    // touches is the request's own; the cache has its own lock, and each
    // download lands through a file of its own.
    if (readStream_) totalBytesSent_ = readStream_->requestBytesWritten();
    complete_ = true;
    if (contentLength_ == 0) contentLength_ = totalBytesRead_;
    updateProgressIndicators();
    body_.closeStream();
    // A gzip body that does not inflate, or whose stream stops before
    // its end, fails the request, and no file of it reaches the
    // destination (an answer that is redirected or challenged is not
    // the request's body).
    auto inflation = download_.endBody(isResponseCompressed());
    const bool bodyFailed = inflation && !needsRedirect_ && !authenticationNeeded_;
    if (bodyFailed) fileError_ = inflation;
    if (!authenticationNeeded_) removeTemporaryUploadFiles();
    if (bodyFailed) download_.abandonFiles();
    else finishFileDownload();
    if (!didUseCachedResponse_ && !fileError_) storeInCache();
    releaseConnectionAfterCompletion();
    if (!authenticationNeeded_) destroyReadStream();
    if (!needsRedirect_ && !authenticationNeeded_ && !didUseCachedResponse_) {
        if (fileError_) failWithError(fileError_);
        else requestFinished();
        markAsFinished();
    }
}

// ---- Status timer and time-outs ------------------------------------------------------

void HTTPRequest::updateStatus() {
    checkRequestStatus();
    if (!inProgress_) stopStatusChecks();
}

void HTTPRequest::startStatusChecks(const ns::Weak<HTTPRequest>& weak) {
    stopStatusChecks();
    statusTicker_ = RequestStatusTicker::current(*runLoopMode_);
    if (statusTicker_) statusTicker_->add(*this, weak, kStatusTimerInterval);
}

void HTTPRequest::stopStatusChecks() {
    if (auto* ticker = std::exchange(statusTicker_, nullptr)) ticker->remove(*this);
}

bool HTTPRequest::shouldTimeOut() {
    if (!readStream_ || !readStreamIsScheduled_ || lastActivityTime_ <= 0 || timeOutSeconds_ <= 0) return false;
    double idle = loop_->now() - lastActivityTime_;
    if (idle <= timeOutSeconds_) return false;
    if (body_.length() == 0) return true;
    if (uploadBufferSize_ && totalBytesSent_ > uploadBufferSize_) return true;
    return idle > timeOutSeconds_ * 1.5;
}

void HTTPRequest::checkRequestStatus() {
    if (cancelled_ || complete_) return;
    performThrottling();
    // Bytes of the answer that arrived since the last check are activity,
    // those of its head as much as those of its body: an answer that keeps
    // coming, however slowly, is not timed out.
    if (readStream_) {
        if (const uint64_t received = readStream_->responseBytesReceived(); received != streamBytesReceivedSeen_) {
            streamBytesReceivedSeen_ = received;
            lastActivityTime_ = loop_->now();
        }
    }
    if (shouldTimeOut()) {
        if (retryCount_ < numberOfTimesToRetryOnTimeout_) {
            ++retryCount_;
            takeBackDownloadSize();
            unscheduleReadStream();
            if (askForTheRestOfThePartialFile()) startRequest();
            return;
        }
        failWithError(engine::requestTimedOutError());
        cancelLoad();
        complete_ = true;
        return;
    }
    if (readStream_) {
        if (body_.length() > 0) {
            lastBytesSent_ = totalBytesSent_;
            uint64_t written = readStream_->requestBytesWritten();
            // The upload stream counted these bytes against the bandwidth
            // budget as it handed them over; they are not counted again.
            if (written > lastBytesSent_) {
                totalBytesSent_ = written;
                lastActivityTime_ = loop_->now();
            }
        }
        updateProgressIndicators();
    }
}

// ---- Reports -----------------------------------------------------------------------

void HTTPRequest::callOnMain(std::function<void()> fn) {
    if (isPACFileRequest_) {
        fn();
        return;
    }
    ns::performOnMainThread(std::move(fn), ns::RunLoop::isMainThread());
}

void HTTPRequest::reportStarted() {
    if (isCompanionHEAD_ || !anyoneListens(HTTPRequestDelegate::Optional::requestStarted, &HTTPRequest::startedBlock_))
        return;
    auto self = ns::keepAlive(this);
    callOnMain([self] {
        self->notifyListeners(HTTPRequestDelegate::Optional::requestStarted, &HTTPRequest::didStartSelector_,
                              &HTTPRequestDelegate::requestStarted, &HTTPRequest::startedBlock_);
    });
}

void HTTPRequest::requestFinished() {
    if (error_ || isCompanionHEAD_) return;
    if (isPACFileRequest_) {
        reportFinished();
        return;
    }
    if (!anyoneListens(HTTPRequestDelegate::Optional::requestFinished, &HTTPRequest::completionBlock_)) return;
    auto self = ns::keepAlive(this);
    callOnMain([self] { self->reportFinished(); });
}

void HTTPRequest::reportFinished() {
    if (isPACFileRequest_) {
        if (PACFileDone_) PACFileDone_(this);
        return;
    }
    notifyListeners(HTTPRequestDelegate::Optional::requestFinished, &HTTPRequest::didFinishSelector_,
                    &HTTPRequestDelegate::requestFinished, &HTTPRequest::completionBlock_);
}

void HTTPRequest::reportFailure() {
    if (isPACFileRequest_) {
        if (PACFileDone_) PACFileDone_(this);
        return;
    }
    notifyListeners(HTTPRequestDelegate::Optional::requestFailed, &HTTPRequest::didFailSelector_,
                    &HTTPRequestDelegate::requestFailed, &HTTPRequest::failureBlock_);
}

void HTTPRequest::failWithError(ns::Ref<ns::Error> theError) {
    if (recordFailure(std::move(theError)) && inProgress_) markAsFinished();
}

bool HTTPRequest::recordFailure(ns::Ref<ns::Error> theError) {
    complete_ = true;
    if (theError && theError->code() != kAuthenticationErrorType && theError->code() != kTooMuchRedirectionErrorType) {
        removeFromConnectionPool();
        destroyReadStream();
    }
    if (connectionCanBeReused_) refreshConnectionExpiry();
    if (cancelled_ || error()) return false;
    if (auto cache = lockedDownloadCache()) {
        // Not when the cache's own answer is what failed.
        if ((cachePolicy_ & kFallbackToCacheIfLoadFailsCachePolicy) && !didUseCachedResponse_ &&
            cache->canUseCachedDataForRequest(*this)) {
            // With no whole pair to take, the load's own failure is reported.
            if (auto taken = takeFromCache(nullptr)) {
                answerFromCache(*taken);
                return false;
            }
        }
    }
    setError(theError);
    if (isCompanionHEAD_) {
        // A companion HEAD request's failure is its main request's, unless
        // that one has ended already (cancelled, or failed on its own): a
        // request reports its end once. The companion itself is nobody's
        // to report: its queue does not count it.
        if (auto main = mainRequest(); main && main->takeCompanionFailure(theError))
            callOnMain([main] { main->reportFailure(); });
        return true;
    }
    if (isPACFileRequest_) {
        reportFailure();
    } else {
        auto self = ns::keepAlive(this);
        callOnMain([self] { self->reportFailure(); });
    }
    return true;
}

bool HTTPRequest::takeCompanionFailure(ns::Ref<ns::Error> theError) {
    // Both requests run on the network thread, so the main request's own
    // end comes wholly before or after this. A failure leaves its error; a
    // cancel leaves one too, unless the cache answered in its place.
    std::lock_guard<std::mutex> g(settingsLock_);
    if (cancelled_ || error_) return false;
    error_ = std::move(theError);
    return true;
}

void HTTPRequest::markAsFinished() {
    auto self = ns::keepAlive(this);
    request_ = nullptr;
    serverLogin_.forgetAuthentication();
    proxyLogin_.forgetAuthentication();
    stopStatusChecks();
    bool wasFinished = finished_.load();
    bool wasInProgress = inProgress_.load();
    if (!wasFinished) willChangeValueForKey("isFinished");
    if (wasInProgress) willChangeValueForKey("isExecuting");
    inProgress_ = false;
    finished_ = true;
    if (wasInProgress) didChangeValueForKey("isExecuting");
    if (!wasFinished) didChangeValueForKey("isFinished");
    // A companion HEAD request lets go of its main request once it is done;
    // the reports it made on the main thread hold their own references.
    ns::Ref<HTTPRequest> main = std::move(mainRequestKeep_);
}

// ---- Results -----------------------------------------------------------------------

bool HTTPRequest::isResponseCompressed() const { return responseCompressed_.load(); }

ns::Ref<ns::Data> HTTPRequest::responseData() const {
    return download_.body(isResponseCompressed());
}

ns::Ref<ns::String> HTTPRequest::responseString() const {
    auto data = responseData();
    if (!data) return nullptr;
    std::string enc = engine::lower(responseEncoding_.empty() ? defaultResponseEncoding_ : responseEncoding_);
    if (enc == "iso-8859-1" || enc == "latin1" || enc == "iso-latin-1" || enc == "us-ascii" || enc == "ascii" ||
        enc == "windows-1252") {
        std::string out;
        out.reserve(data->length());
        for (uint8_t c : data->view()) ns::appendCodePoint(out, c);
        return ns::String::make(std::move(out));
    }
    return ns::String::fromBytes(data->bytes(), data->length());
}

}  // namespace http
