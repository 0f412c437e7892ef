#include "platform/network/HTTPReadStream.h"

#include <fcntl.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/network/Connection.h"
#include "platform/network/NetworkErrors.h"

namespace net {

std::atomic<uint64_t> HTTPReadStream::nextSerial_{1};

namespace {
bool unescapedCharacterIn(std::string_view text) {
    for (char ch : text)
        if (static_cast<unsigned char>(ch) <= ' ' || ch == 0x7f) return true;
    return false;
}
}  // namespace

bool parseHTTPTarget(std::string_view url, HTTPTarget& out, std::string* why) {
    auto bad = [&](const char* w) {
        if (why) *why = w;
        return false;
    };
    size_t colon = url.find("://");
    if (colon == std::string_view::npos) return bad("not absolute");
    std::string_view scheme = url.substr(0, colon);
    const bool https = equalsIgnoringCase(scheme, "https");
    if (!https && !equalsIgnoringCase(scheme, "http")) return bad("scheme is not http or https");
    out.scheme = https ? "https" : "http";
    std::string_view rest = url.substr(colon + 3);
    size_t end = 0;
    while (end < rest.size() && rest[end] != '/' && rest[end] != '?' && rest[end] != '#') ++end;
    if (end == rest.size()) end = std::string_view::npos;
    std::string_view authority = rest.substr(0, end);
    std::string_view tail = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    if (size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    std::string_view host, portText;
    if (!authority.empty() && authority.front() == '[') {
        size_t close = authority.find(']');
        if (close == std::string_view::npos) return bad("unterminated IPv6 literal");
        host = authority.substr(1, close - 1);
        std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return bad("junk after IPv6 literal");
            portText = after.substr(1);
        }
    } else {
        size_t c = authority.rfind(':');
        host = authority.substr(0, c);
        if (c != std::string_view::npos) portText = authority.substr(c + 1);
    }
    if (host.empty()) return bad("no host");
    out.host.resize(host.size());
    for (size_t i = 0; i < host.size(); ++i) {
        char ch = host[i];
        if (static_cast<unsigned char>(ch) <= ' ' || ch == '/' || ch == '\\') return bad("bad host");
        out.host[i] = (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch + 32) : ch;
    }
    uint16_t defaultPort = https ? 443 : 80;
    out.port = defaultPort;
    if (!portText.empty()) {
        if (portText.size() > 5) return bad("bad port");
        unsigned v = 0;
        for (char ch : portText) {
            if (ch < '0' || ch > '9') return bad("bad port");
            v = v * 10 + static_cast<unsigned>(ch - '0');
        }
        if (v == 0 || v > 65535) return bad("bad port");
        out.port = static_cast<uint16_t>(v);
    }
    out.defaultPort = out.port == defaultPort;
    size_t hash = tail.find('#');
    if (hash != std::string_view::npos) tail = tail.substr(0, hash);
    size_t q = tail.find('?');
    std::string_view path = tail.substr(0, q);
    std::string_view query = q == std::string_view::npos ? std::string_view() : tail.substr(q);
    if (unescapedCharacterIn(path) || unescapedCharacterIn(query)) return bad("unescaped character in path");
    if (path.empty()) out.path = "/";
    else out.path = path;
    out.query = query;
    return true;
}

namespace {
constexpr size_t kReadChunk = 64 * 1024;
// Bounds of one receive straight into the reader's body: the smallest is a
// TLS record, the largest what a fast sender leaves in the socket buffer.
constexpr size_t kSinkChunkMin = 16 * 1024;
constexpr size_t kSinkChunkMax = 2 * 1024 * 1024;
constexpr size_t kBodyBufferHighWater = 1024 * 1024;  // stop reading the socket past this
constexpr size_t kBodyChunk = 64 * 1024;
constexpr int kMaxReadsPerWakeup = 16;

// Appends the host as a Host field or an authority names it: an IPv6
// literal in brackets, the port unless it is the scheme's own.
void appendHostForHeader(std::string& out, const std::string& host, uint16_t port, bool defaultPort) {
    const bool literal = host.find(':') != std::string::npos;
    if (literal) out += '[';
    out += host;
    if (literal) out += ']';
    if (!defaultPort) {
        char digits[8];
        auto end = std::to_chars(digits, digits + sizeof digits, port).ptr;
        out += ':';
        out.append(digits, end);
    }
}

std::string hostForHeader(const std::string& host, uint16_t port, bool defaultPort) {
    std::string h;
    h.reserve(host.size() + 8);
    appendHostForHeader(h, host, port, defaultPort);
    return h;
}

}  // namespace

ns::Ref<HTTPReadStream> HTTPReadStream::make(ns::Ref<HTTPMessage> request, ns::Ref<InputStream> body) {
    return ns::Ref<HTTPReadStream>(new HTTPReadStream(std::move(request), std::move(body)));
}

ns::Ref<HTTPReadStream> HTTPReadStream::make(ns::Ref<HTTPMessage> request, ns::Ref<InputStream> body,
                                             const HTTPTarget& target) {
    auto stream = make(std::move(request), std::move(body));
    stream->url_ = target;
    stream->targetRead_ = true;
    return stream;
}

HTTPReadStream::HTTPReadStream(ns::Ref<HTTPMessage> request, ns::Ref<InputStream> body)
    : serial_(nextSerial_.fetch_add(1)), request_(std::move(request)), bodyStream_(std::move(body)) {}

HTTPReadStream::~HTTPReadStream() {
    if (lookup_) lookup_->cancel();
    if (source_) source_->invalidate();
    if (timer_) timer_->invalidate();
    if (bodyStream_ && bodyOpened_) bodyStream_->close();
    // conn_ (if still held) closes with the stream; a connection handed to
    // the pool stays there.
}

void HTTPReadStream::closeIdleConnections() { ConnectionPool::shared().clear(); }

ns::Ref<HTTPMessage> HTTPReadStream::responseHeader() const {
    if (tunnelRefused_) return tunnelParser_->response();
    return parser_.headersComplete() ? parser_.response() : nullptr;
}

// ---- Client and scheduling --------------------------------------------------

void HTTPReadStream::setClient(unsigned events, Client client) {
    client_ = std::move(client);
    eventMask_ = client_ ? events : 0;
}

void HTTPReadStream::scheduleInRunLoop(ns::RunLoop& loop, const std::string& mode) {
    if (loop_ && loop_.get() != &loop) return;  // one loop per stream
    loop_ = ns::Ref<ns::RunLoop>(&loop);
    auto at = std::lower_bound(modes_.begin(), modes_.end(), mode);
    if (at != modes_.end() && *at == mode) return;
    modes_.insert(at, mode);
    if (source_) loop.addSource(source_, mode);
    if (timer_) loop.addTimer(timer_, mode);
    if (startPending_) {
        startPending_ = false;
        start();
    } else if (connectPending_) {
        connectPending_ = false;
        connectNext();
    }
    // Something may have been left waiting while unscheduled.
    if (hasBytesAvailable()) post(kStreamEventHasBytesAvailable);
    else if (phase_ == Phase::Done && !endReported_) post(kStreamEventEndEncountered);
    else if (phase_ == Phase::Failed && !errorReported_ && error_) post(kStreamEventErrorOccurred);
    if (readPaused_ && bodyOffset_ >= body_.size()) {
        readPaused_ = false;
        updateInterest();
    }
    // A body that stopped while unscheduled goes on.
    if (phase_ == Phase::Exchange && headSent_ && !bodyFinished_ && outOffset_ >= out_.size()) waitForBody();
}

void HTTPReadStream::unscheduleFromRunLoop(ns::RunLoop& loop, const std::string& mode) {
    auto at = std::lower_bound(modes_.begin(), modes_.end(), mode);
    if (loop_.get() != &loop || at == modes_.end() || *at != mode) return;
    modes_.erase(at);
    if (source_) loop.removeSource(*source_, mode);
    // Timers cannot leave a single mode; an unscheduled stream has no idle
    // clock, so drop the timer and make a new one when scheduled again.
    if (modes_.empty() && timer_) {
        timer_->invalidate();
        timer_ = nullptr;
    }
    if (modes_.empty()) loop_ = nullptr;
}

void HTTPReadStream::post(StreamEvent e) {
    if (!loop_ || modes_.empty()) return;
    auto self = ns::keepAlive(this);
    loop_->performDeferred(
        [self, e] {
            if (!self->isScheduled()) return;
            if (e == kStreamEventHasBytesAvailable && !self->hasBytesAvailable()) {
                if (self->phase_ == Phase::Done && !self->endReported_) self->notify(kStreamEventEndEncountered);
                return;
            }
            if (e == kStreamEventEndEncountered && (self->endReported_ || self->hasBytesAvailable())) return;
            if (e == kStreamEventErrorOccurred && self->errorReported_) return;
            self->notify(e);
        },
        *modes_.begin());
}

void HTTPReadStream::notify(StreamEvent e) {
    if (e == kStreamEventEndEncountered) {
        if (endReported_) return;
        endReported_ = true;
        status_ = Status::AtEnd;
    }
    if (e == kStreamEventErrorOccurred) {
        if (errorReported_) return;
        errorReported_ = true;
    }
    if (!(eventMask_ & e) || !client_) return;
    auto keep = ns::keepAlive(this);
    Client c = client_;  // the client may replace itself
    c(*this, e);
}

// ---- Opening ----------------------------------------------------------------

bool HTTPReadStream::open() {
    if (status_ != Status::NotOpen) return false;
    std::string why;
    if (!request_ || (!targetRead_ && !parseHTTPTarget(request_->url(), url_, &why))) {
        error_ = makeError(kNetworkErrorDomain, kErrorUnsupportedURL, "unsupported URL: " + why);
        status_ = Status::Error;
        phase_ = Phase::Failed;
        return false;
    }
    // A method or field that is not valid HTTP would change what the head
    // says (a line break starts a field or a request of its own): refused
    // whole before anything is sent, never dropped or sent as it is.
    if (std::string bad = request_->whyRequestCannotBeSent(); !bad.empty()) {
        error_ = makeError(kNetworkErrorDomain, kErrorRequestCannotBeSent, "The request cannot be sent: " + bad);
        status_ = Status::Error;
        phase_ = Phase::Failed;
        return false;
    }
    if (proxy_.isSet() && proxy_.type == ProxySettings::Type::SOCKS) {
        if (url_.host.size() > 255) {
            error_ = makeError(kNetworkErrorDomain, kErrorUnsupportedURL, "host name too long for a SOCKS proxy");
            status_ = Status::Error;
            phase_ = Phase::Failed;
            return false;
        }
        socks_ = true;
    } else if (proxy_.isSet() && url_.scheme == "http") {
        // An HTTP proxy takes the absolute form (without user or fragment).
        absoluteTarget_ = true;
    } else if (proxy_.isSet()) {
        tunnel_ = true;
    }
    if (!request_->headers().contains("Host"))
        request_->headers().add("Host", hostForHeader(url_.host, url_.port, url_.defaultPort));
    status_ = Status::Opening;
    if (isScheduled()) start();
    else startPending_ = true;
    return true;
}

const std::string& HTTPReadStream::connectHost() const { return proxy_.isSet() ? proxy_.host : url_.host; }

uint16_t HTTPReadStream::connectPort() const { return proxy_.isSet() ? proxy_.port : url_.port; }

const std::string& HTTPReadStream::poolKey() {
    if (!poolKey_.empty()) return poolKey_;
    std::string& k = poolKey_;
    char port[8];
    const auto portEnd = std::to_chars(port, port + sizeof port, url_.port).ptr;
    k.reserve(url_.scheme.size() + url_.host.size() + 12);
    k.append(url_.scheme).append("://").append(url_.host).append(":").append(port, portEnd);
    if (proxy_.isSet()) k += "|proxy=" + proxy_.host + ":" + std::to_string(proxy_.port);
    if (url_.scheme == "https") k += "|tls=" + tls_.cacheKey() + "|" + tls_.peerName;
    return k;
}

void HTTPReadStream::start() {
    touch();
    if (persistent_) {
        if (auto c = ConnectionPool::shared().take(poolKey(), streamID_)) {
            conn_ = std::move(c);
            reused_ = true;
            connectionSerial_ = conn_->serial();
            attachSource();
            beginExchange();
            return;
        }
    }
    phase_ = Phase::Resolving;
    ns::Weak<HTTPReadStream> weak(this);
    lookup_ = Resolver::resolve(connectHost(), connectPort(), *loop_, *modes_.begin(),
                                [weak](std::vector<SocketAddress> addresses, ns::Ref<ns::Error> error) {
                                    auto self = weak.lock();
                                    if (!self || self->phase_ != Phase::Resolving) return;
                                    self->lookup_ = nullptr;
                                    if (error) return self->fail(error);
                                    self->addresses_ = std::move(addresses);
                                    self->addressIndex_ = 0;
                                    if (!self->isScheduled()) {
                                        self->connectPending_ = true;
                                        return;
                                    }
                                    self->connectNext();
                                });
}

void HTTPReadStream::connectNext() {
    if (source_) {
        source_->invalidate();
        source_ = nullptr;
    }
    conn_.reset();
    int lastErr = ECONNREFUSED;
    while (addressIndex_ < addresses_.size()) {
        const SocketAddress& a = addresses_[addressIndex_++];
        int fd = ::socket(a.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            lastErr = errno;
            continue;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&a.storage), a.length);
        if (rc != 0 && errno != EINPROGRESS) {
            lastErr = errno;
            ::close(fd);
            continue;
        }
        conn_ = std::make_unique<Connection>(fd, poolKey());
        connectionSerial_ = conn_->serial();
        phase_ = Phase::Connecting;
        attachSource();
        if (rc == 0) onConnected();
        return;
    }
    fail(makeError(kNetworkErrorDomain, kErrorCannotConnectToHost,
                   "Could not connect to the server " + connectHost() + ":" + std::to_string(connectPort()),
                   posixError(lastErr, "connect")));
}

void HTTPReadStream::attachSource() {
    if (source_) source_->invalidate();
    ns::Weak<HTTPReadStream> weak(this);
    source_ = ns::FdSource::make(conn_->fd(), 0, [weak](unsigned events) {
        if (auto self = weak.lock()) self->onReady(events);
    });
    for (auto& m : modes_) loop_->addSource(source_, m);
    updateInterest();
}

void HTTPReadStream::touch() {
    if (idleTimeout_ <= 0 || !loop_) return;
    double when = loop_->now() + idleTimeout_;
    if (timer_) {
        timer_->setFireDate(when);
        return;
    }
    ns::Weak<HTTPReadStream> weak(this);
    timer_ = ns::Timer::make(idleTimeout_, false, [weak]() {
        auto self = weak.lock();
        if (!self) return;
        self->timer_ = nullptr;
        if (self->phase_ == Phase::Done || self->phase_ == Phase::Failed || self->phase_ == Phase::Closed) return;
        self->fail(makeError(kNetworkErrorDomain, kErrorTimedOut, "The request timed out."));
    });
    for (auto& m : modes_) loop_->addTimer(timer_, m);
}

void HTTPReadStream::updateInterest() {
    if (!source_) return;
    unsigned ev = 0;
    switch (phase_) {
        case Phase::Connecting: ev = ns::FdWritable; break;
        case Phase::Socks:
            ev = ns::FdReadable | (outOffset_ < out_.size() ? ns::FdWritable : 0u);
            break;
        case Phase::Tunnel:
        case Phase::Exchange:
            if (!readPaused_) ev |= ns::FdReadable;
            if (outOffset_ < out_.size() || wantWriteForRead_) ev |= ns::FdWritable;
            break;
        case Phase::Handshake: break;  // set by driveHandshake
        default: break;
    }
    if (phase_ != Phase::Handshake) source_->setEvents(ev);
}

void HTTPReadStream::onReady(unsigned events) {
    if (!isScheduled()) return;
    auto keep = ns::keepAlive(this);
    switch (phase_) {
        case Phase::Connecting: driveConnect(); break;
        case Phase::Tunnel: driveTunnel(events); break;
        case Phase::Socks: driveSocks(); break;
        case Phase::Handshake: driveHandshake(); break;
        case Phase::Exchange:
            if (events & (ns::FdWritable)) driveWrite();
            if (phase_ == Phase::Exchange && (events & (ns::FdReadable | ns::FdHangUp | ns::FdError | ns::FdWritable)))
                driveRead();
            break;
        default:
            if (source_) source_->setEvents(0);
            break;
    }
}

void HTTPReadStream::driveConnect() {
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(conn_->fd(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (err != 0) {
        if (addressIndex_ < addresses_.size()) return connectNext();
        return fail(makeError(kNetworkErrorDomain, kErrorCannotConnectToHost,
                              "Could not connect to the server " + connectHost() + ":" + std::to_string(connectPort()),
                              posixError(err, "connect")));
    }
    onConnected();
}

void HTTPReadStream::onConnected() {
    touch();
    if (status_ == Status::Opening) status_ = Status::Open;
    notify(kStreamEventOpenCompleted);
    if (phase_ == Phase::Failed || phase_ == Phase::Closed) return;
    if (socks_) {
        phase_ = Phase::Socks;
        socksStep_ = 0;
        out_ = std::string("\x05\x01\x00", 3);  // version 5, one method: no authentication
        outOffset_ = 0;
        updateInterest();
        return;
    }
    if (tunnel_) {
        phase_ = Phase::Tunnel;
        std::string authority = hostForHeader(url_.host, url_.port, false);
        out_ = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
        // Proxy credentials belong to the proxy, not to the origin.
        if (auto pa = request_->headers().get("Proxy-Authorization"); pa)
            out_ += "Proxy-Authorization: " + *pa + "\r\n";
        out_ += "\r\n";
        outOffset_ = 0;
        tunnelParser_ = std::make_unique<ResponseParser>(parser_.limits());
        tunnelParser_->setRequestMethod("CONNECT");
        updateInterest();
        return;
    }
    if (url_.scheme == "https") return beginTLS();
    beginExchange();
}

void HTTPReadStream::driveSocks() {
    if (outOffset_ < out_.size()) {
        IOResult r = conn_->write(out_.data() + outOffset_, out_.size() - outOffset_);
        if (r.kind == IOResult::Done) {
            outOffset_ += r.count;
            touch();
        } else if (r.kind == IOResult::Failed || r.kind == IOResult::Closed) {
            return failDropped(r.sysError, "talking to the SOCKS proxy");
        }
        if (outOffset_ < out_.size()) return updateInterest();
    }
    // Read exactly the bytes of the current reply, never more.
    while (true) {
        size_t need = 2;
        if (socksStep_ == 1) {
            need = 5;
            if (socksIn_.size() >= 5) {
                unsigned char atyp = static_cast<unsigned char>(socksIn_[3]);
                size_t addr = atyp == 1 ? 4 : atyp == 4 ? 16 : atyp == 3 ? 1 + static_cast<unsigned char>(socksIn_[4]) : 0;
                if (!addr) return fail(makeError(kNetworkErrorDomain, kErrorProxyRefused, "Bad answer from the SOCKS proxy"));
                need = 4 + addr + 2;
            }
        }
        if (socksIn_.size() >= need) break;
        char buf[300];
        IOResult r = conn_->read(buf, need - socksIn_.size());
        if (r.kind == IOResult::WantRead) return updateInterest();
        if (r.kind != IOResult::Done) return failDropped(r.sysError, "talking to the SOCKS proxy");
        touch();
        socksIn_.append(buf, r.count);
    }
    if (socksStep_ == 0) {
        if (socksIn_[0] != 5 || socksIn_[1] != 0)
            return fail(makeError(kNetworkErrorDomain, kErrorProxyRefused,
                                  "The SOCKS proxy requires an authentication method that is not offered"));
        socksIn_.clear();
        socksStep_ = 1;
        out_ = std::string("\x05\x01\x00\x03", 4);
        out_ += static_cast<char>(url_.host.size());
        out_ += url_.host;
        out_ += static_cast<char>(url_.port >> 8);
        out_ += static_cast<char>(url_.port & 0xFF);
        outOffset_ = 0;
        return driveSocks();
    }
    unsigned char rep = static_cast<unsigned char>(socksIn_[1]);
    if (socksIn_[0] != 5 || rep != 0) {
        static const char* const kReplies[] = {"succeeded", "general failure", "connection not allowed by ruleset",
                                               "network unreachable", "host unreachable", "connection refused",
                                               "TTL expired", "command not supported", "address type not supported"};
        std::string why = rep < 9 ? kReplies[rep] : "unknown reply";
        long code = rep == 4 ? kErrorCannotFindHost : rep == 5 ? kErrorCannotConnectToHost : kErrorProxyRefused;
        return fail(makeError(kNetworkErrorDomain, code, "The SOCKS proxy could not connect: " + why));
    }
    out_.clear();
    outOffset_ = 0;
    if (url_.scheme == "https") return beginTLS();
    beginExchange();
}

void HTTPReadStream::driveTunnel(unsigned events) {
    if (outOffset_ < out_.size()) {
        IOResult r = conn_->write(out_.data() + outOffset_, out_.size() - outOffset_);
        if (r.kind == IOResult::Done) {
            outOffset_ += r.count;
            touch();
        } else if (r.kind == IOResult::Failed || r.kind == IOResult::Closed) {
            return failDropped(r.sysError, "sending the tunnel request");
        }
    }
    if (!(events & (ns::FdReadable | ns::FdHangUp | ns::FdError))) return updateInterest();
    // Read the proxy's answer one byte at a time up to its end, so no byte
    // of the tunnelled TLS stream is taken by mistake.
    char c;
    while (!tunnelParser_->headersComplete() && !tunnelParser_->failed()) {
        IOResult r = conn_->read(&c, 1);
        if (r.kind == IOResult::WantRead) return updateInterest();
        if (r.kind != IOResult::Done) {
            tunnelParser_->finish();
            return fail(makeError(kNetworkErrorDomain, kErrorProxyRefused, "The proxy closed the tunnel request"));
        }
        touch();
        ++bytesReceived_;
        tunnelParser_->feed(&c, 1, nullptr);
    }
    if (tunnelParser_->failed())
        return fail(makeError(kNetworkErrorDomain, kErrorBadServerResponse,
                              "Bad answer from the proxy: " + tunnelParser_->errorText()));
    int code = tunnelParser_->response()->statusCode();
    if (code >= 200 && code < 300) {
        out_.clear();
        outOffset_ = 0;
        return beginTLS();
    }
    // The refusal (407 and the like) is the answer the caller sees. Its
    // body is read through the normal path.
    tunnelRefused_ = true;
    persistent_ = false;
    parser_ = ResponseParser(parser_.limits());
    phase_ = Phase::Exchange;
    headSent_ = true;
    bodyFinished_ = true;
    out_.clear();
    outOffset_ = 0;
    headerReported_ = true;
    notify(kStreamEventHasBytesAvailable);
    if (phase_ != Phase::Exchange) return;
    if (tunnelParser_->isComplete()) return finishExchange();
    updateInterest();
}

void HTTPReadStream::beginTLS() {
    ns::Ref<ns::Error> err;
    auto ctx = tlsContextFor(tls_, &err);
    if (!ctx) return fail(err);
    std::string name = tls_.peerName.empty() ? url_.host : tls_.peerName;
    if (!conn_->startTLS(ctx->get(), name, tls_.validatesCertificateChain))
        return fail(makeError(kTLSErrorDomain, kTLSProtocolError, "Cannot start TLS"));
    phase_ = Phase::Handshake;
    driveHandshake();
}

void HTTPReadStream::driveHandshake() {
    IOResult r = conn_->handshake();
    if (r.kind == IOResult::WantRead) return source_->setEvents(ns::FdReadable);
    if (r.kind == IOResult::WantWrite) return source_->setEvents(ns::FdWritable);
    if (r.kind != IOResult::Done) return fail(tlsHandshakeError(conn_->ssl(), r.sslError, url_.host));
    touch();
    beginExchange();
}

void HTTPReadStream::beginExchange() {
    phase_ = Phase::Exchange;
    if (status_ == Status::Opening) {
        status_ = Status::Open;
        if (reused_) notify(kStreamEventOpenCompleted);
        if (phase_ != Phase::Exchange) return;
    }
    parser_ = ResponseParser(parser_.limits());
    parser_.setRequestMethod(request_->method());
    if (!bodyStream_ && request_->body() && request_->body()->length() > 0)
        bodyStream_ = InputStream::inputStreamWithData(request_->body());
    if (bodyStream_ && !bodyOpened_) {
        bodyOpened_ = true;
        if (!bodyStream_->open())
            return fail(makeError(kNetworkErrorDomain, kErrorCannotOpenFile, "Cannot open the request body",
                                  bodyStream_->streamError()));
    }
    out_ = buildHead();
    outOffset_ = 0;
    headSent_ = false;
    driveWrite();
}

std::string HTTPReadStream::buildHead() {
    auto& h = request_->headers();
    if (bodyStream_) {
        if (!h.contains("Content-Length") && !h.contains("Transfer-Encoding")) {
            if (auto len = bodyStream_->length()) h.add("Content-Length", std::to_string(*len));
            else {
                h.add("Transfer-Encoding", "chunked");
                chunkedBody_ = true;
            }
        } else if (auto te = h.get("Transfer-Encoding")) {
            chunkedBody_ = lowercased(*te).find("chunked") != std::string::npos;
        }
    } else {
        bodyFinished_ = true;
        const std::string& m = request_->method();
        if ((m == "POST" || m == "PUT") && !h.contains("Content-Length")) h.add("Content-Length", "0");
    }
    // The head is written into one buffer of the right size and sent whole.
    const std::string& method = request_->method();
    const std::string& version = request_->version();
    std::string origin;  // "http://host[:port]" before the path, for an HTTP proxy
    if (absoluteTarget_) {
        origin = "http://";
        appendHostForHeader(origin, url_.host, url_.port, url_.defaultPort);
    }
    size_t length = method.size() + origin.size() + url_.path.size() + url_.query.size() + version.size() + 6;
    for (const auto& [name, value] : h.fields()) length += name.size() + value.size() + 4;
    std::string head(length, '\0');
    char* w = head.data();
    const auto put = [&w](std::string_view text) {
        std::memcpy(w, text.data(), text.size());
        w += text.size();
    };
    put(method), put(" "), put(origin), put(url_.path), put(url_.query), put(" "), put(version), put("\r\n");
    for (const auto& [name, value] : h.fields()) {
        if (tunnel_ && equalsIgnoringCase(name, "Proxy-Authorization")) continue;
        // open() refused any field that could not be sent as it is.
        put(name), put(": "), put(value), put("\r\n");
    }
    put("\r\n");
    head.resize(static_cast<size_t>(w - head.data()));
    return head;
}

bool HTTPReadStream::fillOutput() {
    // Moves the next piece of the body into out_; false when nothing more.
    if (bodyFinished_ || !bodyStream_) return false;
    if (bodyStream_->streamStatus() == InputStream::Status::Error) {
        fail(makeError(kNetworkErrorDomain, kErrorCannotOpenFile, "Cannot read the request body", bodyStream_->streamError()));
        return false;
    }
    std::string chunk(kBodyChunk, '\0');
    long n = bodyStream_->read(reinterpret_cast<uint8_t*>(chunk.data()), chunk.size());
    if (n < 0) {
        fail(makeError(kNetworkErrorDomain, kErrorCannotOpenFile, "Cannot read the request body", bodyStream_->streamError()));
        return false;
    }
    if (n == 0) {
        if (bodyStream_->streamStatus() != InputStream::Status::AtEnd && bodyStream_->hasBytesAvailable())
            return false;  // a paced stream with nothing to give right now
        bodyFinished_ = true;
        if (chunkedBody_) {
            out_ = "0\r\n\r\n";
            outOffset_ = 0;
            return true;
        }
        return false;
    }
    chunk.resize(static_cast<size_t>(n));
    if (chunkedBody_) {
        char size[24];
        std::snprintf(size, sizeof size, "%lx\r\n", static_cast<unsigned long>(n));
        out_ = size + chunk + "\r\n";
    } else {
        out_ = std::move(chunk);
    }
    outOffset_ = 0;
    return true;
}

void HTTPReadStream::driveWrite() {
    // An unscheduled stream sends nothing: a paced body stream may
    // unschedule it from inside fillOutput() (its request's throttle).
    while (phase_ == Phase::Exchange && isScheduled()) {
        if (outOffset_ >= out_.size()) {
            headSent_ = true;
            out_.clear();
            outOffset_ = 0;
            if (parser_.isComplete()) break;
            if (!fillOutput()) {
                if (phase_ == Phase::Exchange && !bodyFinished_) waitForBody();
                break;
            }
            continue;
        }
        IOResult r = conn_->write(out_.data() + outOffset_, out_.size() - outOffset_);
        if (r.kind == IOResult::Done) {
            outOffset_ += r.count;
            if (headSent_) bytesWritten_.fetch_add(r.count, std::memory_order_relaxed);
            touch();
            continue;
        }
        if (r.kind == IOResult::WantWrite || r.kind == IOResult::WantRead) break;
        if (r.kind == IOResult::Failed && conn_->isEncrypted()) return failTLS(r, "sending the request");
        // The peer went away while we were still sending: if it answered
        // already the reader will find out; otherwise the connection dropped.
        return failDropped(r.sysError, "sending the request");
    }
    if (phase_ == Phase::Exchange) updateInterest();
}

void HTTPReadStream::waitForBody() {
    // A paced body stream had nothing to give; look again shortly rather
    // than spinning on a writable socket.
    if (!loop_ || bodyRetryPending_) return;
    bodyRetryPending_ = true;
    ns::Weak<HTTPReadStream> weak(this);
    loop_->performAfterDelay(
        0.01,
        [weak] {
            auto self = weak.lock();
            if (!self) return;
            self->bodyRetryPending_ = false;
            if (self->phase_ == Phase::Exchange && self->isScheduled()) self->driveWrite();
        },
        *modes_.begin());
}

void HTTPReadStream::driveRead() {
    char buf[kReadChunk];
    wantWriteForRead_ = false;
    for (int i = 0; i < kMaxReadsPerWakeup && phase_ == Phase::Exchange && !readPaused_; ++i) {
        // Plain body bytes (no framing before them) are received straight
        // into the body buffer rather than copied there from `buf`.
        const size_t plain = tunnelRefused_ ? 0 : static_cast<size_t>(std::min<uint64_t>(parser_.plainBodyBytesWanted(), SIZE_MAX));
        IOResult r;
        const bool toSink = receiveIntoSink(plain, r);
        size_t direct = toSink ? 0 : std::min(plain, kReadChunk);
        size_t held = 0;
        if (direct) {
            if (bodyOffset_ > 0 && bodyOffset_ == body_.size()) {
                body_.clear();
                bodyOffset_ = 0;
            }
            held = body_.size();
            body_.resize(held + direct);
        }
        if (!toSink) r = direct ? conn_->read(body_.data() + held, direct) : conn_->read(buf, sizeof buf);
        if (direct) body_.resize(held + (r.kind == IOResult::Done ? r.count : 0));
        if (r.kind == IOResult::Done) {
            touch();
            anyResponseByte_ = true;
            bytesReceived_ += r.count;
            if (direct || toSink) takeBodyReceived(r.count);
            else feedParser(buf, r.count);
            if (phase_ != Phase::Exchange) return;
            if (body_.size() - bodyOffset_ > kBodyBufferHighWater) readPaused_ = true;
            continue;
        }
        if (r.kind == IOResult::WantRead) break;
        if (r.kind == IOResult::WantWrite) {
            wantWriteForRead_ = true;
            break;
        }
        // Closed or failed.
        if (r.kind == IOResult::Failed && conn_ && conn_->isEncrypted()) return failTLS(r, "waiting for the response");
        ResponseParser& p = answerParser();
        if (r.kind == IOResult::Closed) {
            p.finish();
            if (p.isComplete()) return finishExchange();
        }
        if (!anyResponseByte_ || r.kind == IOResult::Failed) {
            if (anyResponseByte_)
                return fail(makeError(kNetworkErrorDomain, kErrorNetworkConnectionLost,
                                      "The network connection was lost before the response was complete",
                                      r.sysError ? posixError(r.sysError, "recv") : nullptr));
            return failDropped(r.sysError, "waiting for the response");
        }
        return fail(makeError(kNetworkErrorDomain, kErrorNetworkConnectionLost,
                              "The network connection was lost before the response was complete (" + p.errorText() + ")"));
    }
    if (phase_ == Phase::Exchange) updateInterest();
}

bool HTTPReadStream::receiveIntoSink(size_t plain, IOResult& r) {
    if (!sink_ || sinkReceived_ || bodyOffset_ < body_.size()) return false;
    if (!sinkChunk_) sinkChunk_ = kReadChunk;
    const size_t want = std::min({plain, sinkMax_, sinkChunk_});
    if (!want) return false;
    r = conn_->read(sink_->roomToAppend(want), want);
    const size_t got = r.kind == IOResult::Done ? r.count : 0;
    sink_->commitAppended(got);
    sinkReceived_ = got;
    // Ask for more while the socket fills whole receives, less when it
    // gives only a small part.
    if (got == want && want == sinkChunk_) sinkChunk_ = std::min(sinkChunk_ * 2, kSinkChunkMax);
    else if (got && got < sinkChunk_ / 4) sinkChunk_ = std::max(sinkChunk_ / 2, kSinkChunkMin);
    return true;
}

void HTTPReadStream::reclaimSinkBytes() {
    if (sinkReceived_) {
        const size_t from = sink_->length() - sinkReceived_;
        body_.insert(bodyOffset_, reinterpret_cast<const char*>(sink_->bytes() + from), sinkReceived_);
        sink_->setLength(from);
        sinkReceived_ = 0;
    }
    sink_ = nullptr;
}

void HTTPReadStream::feedParser(const char* p, size_t n) {
    ResponseParser& parser = answerParser();
    if (bodyOffset_ > 0 && bodyOffset_ == body_.size()) {
        body_.clear();
        bodyOffset_ = 0;
    }
    const size_t before = body_.size();
    size_t used = 0;
    if (!parser.headersComplete()) {
        used = parser.feedHead(p, n);
        if (parser.failed()) return failBadResponse(parser);
    }
    // Plain body bytes right after the head are lent to the client where
    // they lie rather than copied into body_ first.
    const size_t plain = static_cast<size_t>(std::min<uint64_t>(parser.plainBodyBytesWanted(), n - used));
    if (plain && body_.empty() && !sinkReceived_) {
        if (!parser.bodyReceived(plain)) return failBadResponse(parser);
        borrowed_ = std::string_view(p + used, plain);
        used += plain;
    }
    struct KeepBorrowed {
        HTTPReadStream* stream;
        ~KeepBorrowed() { stream->keepBorrowedBytes(); }
    } keep{this};
    if (used < n && !parser.isComplete()) {
        used += parser.feed(p + used, n - used, &body_);
        if (parser.failed()) return failBadResponse(parser);
    }
    if (used < n) persistent_ = false;  // stray bytes after the answer
    bool newHeader = !headerReported_ && parser.headersComplete();
    if (newHeader) {
        headerReported_ = true;
        notify(kStreamEventHasBytesAvailable);
        if (phase_ != Phase::Exchange) return;
    }
    if (parser.isComplete()) return finishExchange();
    if ((body_.size() > before || !borrowed_.empty()) && !newHeader) notify(kStreamEventHasBytesAvailable);
}

void HTTPReadStream::keepBorrowedBytes() {
    if (borrowed_.empty()) return;
    // Only lent while body_ held nothing; what the client read is gone.
    body_.assign(borrowed_);
    bodyOffset_ = 0;
    borrowed_ = {};
}

void HTTPReadStream::failBadResponse(const ResponseParser& parser) {
    fail(makeError(kNetworkErrorDomain, kErrorBadServerResponse, "The server sent a bad response: " + parser.errorText()));
}

void HTTPReadStream::takeBodyReceived(size_t n) {
    if (!parser_.bodyReceived(n)) return failBadResponse(parser_);
    if (parser_.isComplete()) return finishExchange();
    if (n) notify(kStreamEventHasBytesAvailable);
}

void HTTPReadStream::finishExchange() {
    ResponseParser& parser = answerParser();
    if (!headerReported_) {
        headerReported_ = true;
        notify(kStreamEventHasBytesAvailable);
        if (phase_ != Phase::Exchange) return;
    }
    phase_ = Phase::Done;
    if (timer_) {
        timer_->invalidate();
        timer_ = nullptr;
    }
    bool reusable = persistent_ && parser.keepAlive() && bodyFinished_ && outOffset_ >= out_.size() &&
                    !tunnelRefused_;
    releaseConnection(reusable);
    if (hasBytesAvailable()) notify(kStreamEventHasBytesAvailable);
    else notify(kStreamEventEndEncountered);
}

void HTTPReadStream::releaseConnection(bool reusable) {
    if (source_) {
        source_->invalidate();
        source_ = nullptr;
    }
    if (!conn_) return;
    if (reusable) {
        conn_->streamID = streamID_;
        conn_->lastUser = serial_;
        conn_->requestsServed++;
        handedBack_ = true;
        ConnectionPool::shared().put(std::move(conn_));
    } else {
        conn_.reset();
    }
}

void HTTPReadStream::failTLS(const IOResult& r, const char* when) {
    // A TLS failure after the handshake (a fatal alert, a refused
    // renegotiation, a bad record) is no dropped connection: it is not
    // worth a retry and is reported as what it is.
    if (conn_->renegotiationRequested())
        return fail(makeError(kTLSErrorDomain, kTLSProtocolError,
                              "The server asked to renegotiate the TLS session, which this client refuses"));
    if (r.sslError != SSL_ERROR_SSL) return failDropped(r.sysError, when);
    fail(makeError(kTLSErrorDomain, kTLSProtocolError, "The TLS connection failed: " + tlsErrorQueueText()));
}

void HTTPReadStream::failDropped(int sysError, const char* when) {
    fail(makeError(kNetworkErrorDomain, kErrorNetworkConnectionLost,
                   std::string("The network connection was lost while ") + when,
                   sysError ? posixError(sysError) : nullptr));
}

void HTTPReadStream::fail(ns::Ref<ns::Error> e) {
    if (phase_ == Phase::Failed || phase_ == Phase::Closed || phase_ == Phase::Done) return;
    phase_ = Phase::Failed;
    status_ = Status::Error;
    error_ = std::move(e);
    if (lookup_) {
        lookup_->cancel();
        lookup_ = nullptr;
    }
    if (timer_) {
        timer_->invalidate();
        timer_ = nullptr;
    }
    releaseConnection(false);
    if (isScheduled()) notify(kStreamEventErrorOccurred);
}

long HTTPReadStream::read(uint8_t* buf, size_t max) {
    if (status_ == Status::Error) return -1;
    reclaimSinkBytes();
    const std::string_view waiting = waitingBody();
    size_t n = std::min(max, waiting.size());
    if (n) std::memcpy(buf, waiting.data(), n);
    consumeBody(n);
    return static_cast<long>(n);
}

long HTTPReadStream::readAppending(const ns::Ref<ns::MutableData>& out, size_t max) {
    if (status_ == Status::Error) return -1;
    if (sink_ != out) reclaimSinkBytes();
    sink_ = out;
    sinkMax_ = max;
    size_t n = std::exchange(sinkReceived_, 0);
    size_t fromBody = 0;
    if (!n) {
        const std::string_view waiting = waitingBody();
        fromBody = n = std::min(max, waiting.size());
        out->appendBytes(waiting.data(), n);
    }
    consumeBody(fromBody);
    return static_cast<long>(n);
}

void HTTPReadStream::consumeBody(size_t n) {
    if (!borrowed_.empty()) borrowed_.remove_prefix(n);
    else bodyOffset_ += n;
    if (borrowed_.empty() && bodyOffset_ == body_.size()) {
        body_.clear();
        bodyOffset_ = 0;
        if (phase_ == Phase::Done && !endReported_) post(kStreamEventEndEncountered);
        if (readPaused_) {
            readPaused_ = false;
            updateInterest();
        }
    }
}

void HTTPReadStream::close() {
    if (phase_ == Phase::Closed) return;
    bool wasDone = phase_ == Phase::Done;
    phase_ = Phase::Closed;
    if (status_ != Status::Error) status_ = Status::Closed;
    if (lookup_) {
        lookup_->cancel();
        lookup_ = nullptr;
    }
    if (timer_) {
        timer_->invalidate();
        timer_ = nullptr;
    }
    releaseConnection(false);
    sink_ = nullptr;
    sinkReceived_ = 0;
    borrowed_ = {};
    if (wasDone && handedBack_) ConnectionPool::shared().closeIdleFrom(serial_);
    if (bodyStream_ && bodyOpened_) bodyStream_->close();
    client_ = nullptr;
    eventMask_ = 0;
}

void HTTPReadStream::closeHandedBackConnection() const {
    ConnectionPool::shared().closeIdleFrom(serial_);
}

}  // namespace net
