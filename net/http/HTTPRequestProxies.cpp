// HTTPRequest: asking its ProxyResolver for the proxy before the stream
// opens, and fetching proxy auto-configuration scripts over HTTP for it
// with a request of its own.
#include "net/http/HTTPRequestInternal.h"

namespace http {

namespace {

// Changes the shared queue's width by `delta` (the PAC download must not
// wait behind requests that wait for it). Its own lock, held with no other:
// the queue calls back into requests while it adjusts.
void widenSharedQueue(int delta) {
    static std::mutex m;
    std::lock_guard<std::mutex> g(m);
    auto q = HTTPRequest::sharedQueue();
    q->setMaxConcurrentOperationCount(std::max(1, q->maxConcurrentOperationCount() + delta));
}

}  // namespace

// True when the request can start now; otherwise it has failed, or it
// starts once a script has chosen.
bool HTTPRequest::configureProxies() {
    if (isPACFileRequest_) return true;
    auto context = [this] {
        ProxyResolver::Context context;
        context.owner = ns::Weak<ns::Object>(this);
        context.loop = loop_;
        context.mode = *runLoopMode_;
        context.timeOutSeconds = timeOutSeconds_ > 0 ? timeOutSeconds_ : defaultTimeOutSeconds();
        context.synchronous = isSynchronous_;
        context.fetchScript = [this](ns::Ref<ns::URL> url, ProxyResolver::ScriptDone done) {
            return fetchPACScript(std::move(url), std::move(done));
        };
        return context;
    };
    auto outcome = proxy_.resolve(*url_, context, [weak = ns::Weak<HTTPRequest>(this)] {
        if (auto self = weak.lock()) self->startRequest();
    });
    if (outcome == ProxyResolver::Outcome::Failed) {
        readStream_ = nullptr;
        failWithError(errorWithCode(kInternalErrorWhileBuildingRequestType,
                                    "Unable to obtain information on proxy servers needed for request"));
    }
    return outcome == ProxyResolver::Outcome::Ready;
}

std::function<void()> HTTPRequest::fetchPACScript(ns::Ref<ns::URL> url, ProxyResolver::ScriptDone done) {
    auto pac = ns::make<HTTPRequest>(std::move(url));
    pac->isPACFileRequest_ = true;
    pac->timeOutSeconds_ = timeOutSeconds_;
    pac->downloadCacheLink_.set(nullptr);
    auto scriptOf = [](HTTPRequest& r) {
        auto text = r.error() ? nullptr : r.responseString();
        return text ? std::string(text->utf8()) : std::string();
    };
    if (isSynchronous_) {
        pac->startSynchronous();
        done(scriptOf(*pac));
        return nullptr;
    }
    pac->setQueuePriority(ns::QueuePriorityHigh);
    // The PAC request ends on the network thread while it holds its own
    // state; the rest runs on a later turn of the loop.
    // Set once, by whichever comes first: the end of the fetch or the stop.
    auto ended = std::make_shared<std::atomic<bool>>(false);
    pac->PACFileDone_ = [done, scriptOf, ended](HTTPRequest* finished) {
        if (ended->exchange(true)) return;
        ns::Ref<HTTPRequest> keep(finished);
        ns::performOnThread(*networkRunLoop(), [keep, done, scriptOf] {
            widenSharedQueue(-1);
            done(scriptOf(*keep));
        }, false);
    };
    pac->startAsynchronous();
    widenSharedQueue(+1);
    return [pac, ended] {
        if (ended->exchange(true)) return;
        widenSharedQueue(-1);
        pac->cancel();
    };
}

}  // namespace http
