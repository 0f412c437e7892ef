// HTTPRequest: choosing a proxy (set on the request, the system settings or
// a proxy auto-configuration script fetched from a file or over HTTP) and
// putting it on the stream.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "net/http/HTTPRequestInternal.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/network/ProxySettings.h"

namespace http {

namespace {
std::string proxyTypeName(net::ProxyEntry::Kind kind) {
    switch (kind) {
        case net::ProxyEntry::Kind::SOCKS: return "SOCKS";
        case net::ProxyEntry::Kind::HTTPS: return "HTTPS";
        default: return "HTTP";
    }
}

// Changes the shared queue's width by `delta` (the PAC download must not
// wait behind requests that wait for it). Its own lock, held with no other:
// the queue calls back into requests while it adjusts.
void widenSharedQueue(int delta) {
    static std::mutex m;
    std::lock_guard<std::mutex> g(m);
    auto q = HTTPRequest::sharedQueue();
    q->setMaxConcurrentOperationCount(std::max(1, q->maxConcurrentOperationCount() + delta));
}

bool validUTF8(const std::string& s) {
    auto u = ns::utf8ToUTF16(s);
    std::string back;
    return ns::utf16ToUTF8(u, back) && back == s;
}
}  // namespace

bool HTTPRequest::configureProxies() {
    if (isPACFileRequest_ || !proxyHost_.empty() || proxyPort_ != 0) return true;
    if (PACurl_) {
        fetchPACFile();
        return false;
    }
    auto proxies = net::SystemProxySettings::fromEnvironment().proxiesForURL(url_->absoluteText());
    if (!proxies) {
        readStream_ = nullptr;
        failWithError(errorWithCode(kInternalErrorWhileBuildingRequestType,
                                    "Unable to obtain information on proxy servers needed for request"));
        return false;
    }
    if (proxies->empty()) return true;
    const net::ProxyEntry& first = proxies->front();
    if (first.kind == net::ProxyEntry::Kind::AutoConfigurationURL) {
        PACurl_ = ns::URL::URLWithString(first.autoConfigurationURL);
        if (!PACurl_) return true;
        fetchPACFile();
        return false;
    }
    if (first.kind == net::ProxyEntry::Kind::Direct) return true;
    proxyHost_ = first.host;
    proxyPort_ = first.port;
    proxyType_ = proxyTypeName(first.kind);
    return true;
}

void HTTPRequest::fetchPACFile() {
    std::string scheme = engine::lower(PACurl_->scheme() ? std::string(PACurl_->scheme()->utf8()) : "");
    if (scheme == "file") {
        readLocalPACFile(PACurl_->path() ? std::string(PACurl_->path()->utf8()) : "");
        return;
    }
    if (scheme != "http" && scheme != "https") {
        startRequest();
        return;
    }
    auto pac = ns::make<HTTPRequest>(PACurl_);
    pac->isPACFileRequest_ = true;
    pac->timeOutSeconds_ = timeOutSeconds_;
    pac->downloadCacheLink_.set(nullptr);
    if (isSynchronous_) {
        pac->startSynchronous();
        auto text = pac->error() ? nullptr : pac->responseString();
        if (text && !text->utf8().empty()) runPACScript(std::string(text->utf8()));
        else startRequest();
        return;
    }
    PACFileRequest_ = pac;
    pac->setQueuePriority(ns::QueuePriorityHigh);
    ns::Weak<HTTPRequest> weak(this);
    pac->PACFileDone_ = [weak](HTTPRequest* done) {
        if (auto self = weak.lock()) self->finishedDownloadingPACFile(done);
    };
    pac->startAsynchronous();
    widenSharedQueue(+1);
}

void HTTPRequest::finishedDownloadingPACFile(HTTPRequest* pac) {
    // Called on the network thread by the PAC request while it holds its
    // own lock; the rest runs on a later turn, taking one lock at a time.
    // (Only asynchronous requests fetch this way, and they run on the
    // network thread.)
    auto self = ns::keepAlive(this);
    ns::Ref<HTTPRequest> keep(pac);
    ns::performOnThread(*networkRunLoop(), [self, keep] {
        widenSharedQueue(-1);
        auto text = keep->error() ? nullptr : keep->responseString();
        std::lock_guard<std::recursive_mutex> g(self->cancelledLock_);
        if (self->PACFileRequest_ != keep) return;  // cancelled meanwhile
        self->PACFileRequest_ = nullptr;
        if (text && !text->utf8().empty()) self->runPACScript(std::string(text->utf8()));
        else self->startRequest();
    }, false);
}

void HTTPRequest::readLocalPACFile(const std::string& path) {
    PACFileFd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (PACFileFd_ < 0) {
        startRequest();
        return;
    }
    PACFileData_ = nullptr;
    ns::Weak<HTTPRequest> weak(this);
    PACFileSource_ = ns::FdSource::make(PACFileFd_, ns::FdReadable, [weak](unsigned) {
        auto self = weak.lock();
        if (!self) return;
        std::lock_guard<std::recursive_mutex> g(self->cancelledLock_);
        if (self->PACFileFd_ < 0) return;
        uint8_t buffer[16384];
        long n = ::read(self->PACFileFd_, buffer, sizeof buffer);
        if (n > 0) {
            if (!self->PACFileData_) self->PACFileData_ = ns::MutableData::make();
            self->PACFileData_->appendBytes(buffer, static_cast<size_t>(n));
            if (self->PACFileData_->length() > net::PACScript::kMaxScriptBytes) self->endLocalPACRead(false);
        } else if (n == 0) {
            self->endLocalPACRead(true);
        } else if (errno != EAGAIN && errno != EINTR) {
            self->endLocalPACRead(false);
        }
    });
    loop_->addSource(PACFileSource_, runLoopMode_);
    PACReadTimer_ = ns::Timer::make(timeOutSeconds_ > 0 ? timeOutSeconds_ : defaultTimeOutSeconds(), false,
                                    [weak](ns::Timer&) {
                                        auto self = weak.lock();
                                        if (!self) return;
                                        std::lock_guard<std::recursive_mutex> g(self->cancelledLock_);
                                        if (self->PACFileFd_ >= 0) self->endLocalPACRead(false);
                                    });
    loop_->addTimer(PACReadTimer_, runLoopMode_);
}

void HTTPRequest::endLocalPACRead(bool success) {
    if (PACReadTimer_) {
        PACReadTimer_->invalidate();
        PACReadTimer_ = nullptr;
    }
    if (PACFileSource_) {
        PACFileSource_->invalidate();
        PACFileSource_ = nullptr;
    }
    if (PACFileFd_ >= 0) ::close(PACFileFd_);
    PACFileFd_ = -1;
    std::string script;
    if (success && PACFileData_) {
        script.assign(reinterpret_cast<const char*>(PACFileData_->bytes()), PACFileData_->length());
        if (!validUTF8(script)) {
            std::string latin;
            for (unsigned char c : script) ns::appendCodePoint(latin, c);
            script = std::move(latin);
        }
    }
    PACFileData_ = nullptr;
    if (!script.empty()) runPACScript(script);
    else startRequest();
}

// Evaluates the script for this request's URL, takes its first answer as
// the proxy (none for DIRECT or any failure) and then starts the request.
void HTTPRequest::runPACScript(const std::string& script) {
    std::string urlText = url_->absoluteText();
    std::string host(url_->host() ? url_->host()->utf8() : "");
    double limit = timeOutSeconds_ > 0 ? timeOutSeconds_ : defaultTimeOutSeconds();
    auto apply = [this](const std::optional<std::string>& answer) {
        if (!answer) return;
        auto entries = net::parsePACResult(*answer);
        if (entries.empty() || entries.front().kind == net::ProxyEntry::Kind::Direct ||
            entries.front().kind == net::ProxyEntry::Kind::AutoConfigurationURL)
            return;
        proxyHost_ = entries.front().host;
        proxyPort_ = entries.front().port;
        proxyType_ = proxyTypeName(entries.front().kind);
    };
    if (isSynchronous_) {
        ns::Ref<ns::Error> err;
        auto answer = net::PACScript::evaluateSynchronously(script, urlText, host, limit, &err);
        if (!err) apply(answer);
        startRequest();
        return;
    }
    ns::Weak<HTTPRequest> weak(this);
    PACEvaluation_ = net::PACScript::evaluate(
        script, urlText, host, *loop_, runLoopMode_, limit,
        [weak, apply](std::optional<std::string> answer, ns::Ref<ns::Error> err) {
            auto self = weak.lock();
            if (!self) return;
            std::lock_guard<std::recursive_mutex> g(self->cancelledLock_);
            self->PACEvaluation_ = nullptr;
            if (!err) apply(answer);
            self->startRequest();
        });
}

void HTTPRequest::applyProxyToStream(net::HTTPReadStream& stream) {
    if (proxyHost_.empty() || proxyPort_ == 0) return;
    if (proxyType_.empty()) proxyType_ = "HTTP";
    net::ProxySettings p;
    p.type = proxyType_ == "SOCKS" ? net::ProxySettings::Type::SOCKS
             : proxyType_ == "HTTPS" ? net::ProxySettings::Type::HTTPS
                                     : net::ProxySettings::Type::HTTP;
    p.host = proxyHost_;
    p.port = static_cast<uint16_t>(proxyPort_);
    stream.setProxy(p);
}

void HTTPRequest::cancelPACFetch() {
    if (PACFileFd_ >= 0 || PACFileSource_) {
        if (PACReadTimer_) PACReadTimer_->invalidate();
        PACReadTimer_ = nullptr;
        if (PACFileSource_) PACFileSource_->invalidate();
        PACFileSource_ = nullptr;
        if (PACFileFd_ >= 0) ::close(PACFileFd_);
        PACFileFd_ = -1;
        PACFileData_ = nullptr;
    } else if (PACFileRequest_) {
        auto pac = std::exchange(PACFileRequest_, nullptr);
        pac->PACFileDone_ = nullptr;
        pac->cancel();
    }
    if (PACEvaluation_) {
        PACEvaluation_->cancel();
        PACEvaluation_ = nullptr;
    }
}

}  // namespace http
