// An HTTP read stream: sends one request over a socket (plain, TLS, through
// an HTTP proxy or a CONNECT tunnel) and reads its answer, driven by a run
// loop.
//
// Life: make() with a request message and an optional body stream, set the
// properties, setClient(), scheduleInRunLoop(), open(). Work happens only
// while the stream is scheduled: an unscheduled stream stops reading and
// writing until it is scheduled again. Events reach the client on the loop's
// thread: HasBytesAvailable once the response header is complete (read it
// with responseHeader()) and again whenever body bytes wait to be read();
// EndEncountered once the whole answer was read and the body buffer is
// empty; ErrorOccurred with streamError() set. Host names are looked up on a
// helper thread, so nothing here blocks the loop.
//
// Connection identity: with attemptPersistentConnection, a stream hands its
// connection to the process-wide pool when the answer allows reuse, and a
// later stream to the same scheme, host, port, proxy and TLS settings adopts
// it; with a non-zero streamID only a connection last used under the same
// identity is adopted. close() on a finished stream also closes the idle
// connection it handed back (unless another stream adopted it); simply
// dropping the stream leaves that connection pooled.
//
// All members except requestBytesWritten() and closeHandedBackConnection()
// are used from the thread of the loop the stream is scheduled on (or before
// it is scheduled).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Timer.h"
#include "platform/network/HTTPMessage.h"
#include "platform/network/InputStream.h"
#include "platform/network/ResponseParser.h"
#include "platform/network/Resolver.h"
#include "platform/network/TLS.h"

namespace net {

class Connection;
struct IOResult;


enum StreamEvent : unsigned {
    kStreamEventOpenCompleted = 1,
    kStreamEventHasBytesAvailable = 2,
    kStreamEventErrorOccurred = 8,
    kStreamEventEndEncountered = 16,
};

struct ProxySettings {
    // HTTP and HTTPS proxies take plain requests in absolute form and tunnel
    // https with CONNECT; SOCKS is SOCKS5 without authentication, the
    // proxy resolving the host name.
    enum class Type { None, HTTP, HTTPS, SOCKS };
    Type type = Type::None;
    std::string host;
    uint16_t port = 0;
    bool isSet() const { return type != Type::None && !host.empty() && port != 0; }
};

class HTTPReadStream : public ns::Object {
public:
    enum class Status { NotOpen, Opening, Open, AtEnd, Closed, Error };
    using Client = std::function<void(HTTPReadStream& stream, StreamEvent event)>;

    // A stream for `request` (its URL must be absolute http or https). The
    // body comes from `body` when given, else from the message's body data.
    static ns::Ref<HTTPReadStream> make(ns::Ref<HTTPMessage> request, ns::Ref<InputStream> body = nullptr);
    // The same, for a caller that has read the request's URL already:
    // `target` is what parseHTTPTarget() answered for it.
    static ns::Ref<HTTPReadStream> make(ns::Ref<HTTPMessage> request, ns::Ref<InputStream> body,
                                        const HTTPTarget& target);
    ~HTTPReadStream() override;
    const char* className() const override { return "HTTPReadStream"; }

    // --- Properties (set before open) -----------------------------------
    void setTLSSettings(TLSSettings s) { tls_ = std::move(s); }
    const TLSSettings& tlsSettings() const { return tls_; }
    void setProxy(ProxySettings p) { proxy_ = std::move(p); }
    const ProxySettings& proxy() const { return proxy_; }
    void setAttemptPersistentConnection(bool v) { persistent_ = v; }
    bool attemptPersistentConnection() const { return persistent_; }
    void setStreamID(int64_t id) { streamID_ = id; }
    int64_t streamID() const { return streamID_; }
    // Fails the stream with kErrorTimedOut after this many seconds without
    // any traffic (0, the default: never).
    void setIdleTimeout(double seconds) { idleTimeout_ = seconds; }
    void setResponseLimits(ResponseLimits limits) { parser_ = ResponseParser(limits); }

    // --- Events and scheduling -------------------------------------------
    // `events` is a mask of StreamEvent; a nil client stops all events.
    void setClient(unsigned events, Client client);
    void scheduleInRunLoop(ns::RunLoop& loop, const std::string& mode = ns::RunLoop::kDefaultMode);
    void unscheduleFromRunLoop(ns::RunLoop& loop, const std::string& mode = ns::RunLoop::kDefaultMode);
    bool isScheduled() const { return !modes_.empty(); }

    // --- Operation -------------------------------------------------------
    // Starts the exchange. False when it cannot start at all (opened before,
    // bad URL, unsupported scheme), with streamError() set.
    bool open();
    // Stops everything and closes the connection (see above for a pooled one).
    void close();
    // Closes the idle connection this stream handed to the pool, unless another
    // stream adopted it (nothing when it handed none back yet). Unlike close()
    // it reads only what is fixed at creation, so any thread may call it while
    // the stream's own thread is still unwinding from its last event.
    void closeHandedBackConnection() const;
    // Body bytes: the count, 0 when none are waiting (or at the end), -1
    // after an error.
    long read(uint8_t* buf, size_t max);
    // Like read(), appending the bytes to `out`. The stream also keeps `out`
    // as the place for the next plain body bytes (no framing around them):
    // while none are waiting it receives them straight into `out`, at most
    // `max` at a time, and the next call returns their count, the bytes
    // already at the end of `out`. A read() in between takes them back out.
    long readAppending(const ns::Ref<ns::MutableData>& out, size_t max);
    bool hasBytesAvailable() const { return bodyOffset_ < body_.size() || !borrowed_.empty() || sinkReceived_ > 0; }
    Status streamStatus() const { return status_; }
    const ns::Ref<ns::Error>& streamError() const { return error_; }
    // The complete response header, nil until it has been read.
    ns::Ref<HTTPMessage> responseHeader() const;
    // Request body bytes written so far (readable from any thread).
    uint64_t requestBytesWritten() const { return bytesWritten_.load(std::memory_order_relaxed); }
    // Bytes received from the peer so far, the answer's head included (and
    // a proxy's answer to a tunnel request): what a time-out counts as
    // activity while no body byte has come yet.
    uint64_t responseBytesReceived() const { return bytesReceived_; }
    // Whether the transport connection was adopted from the pool.
    bool connectionWasReused() const { return reused_; }
    // Whether any byte of the answer arrived. A request that failed on a
    // reused connection before this may be sent again: the server closed
    // the idle connection as the request went out and has not acted on it.
    bool anyResponseByteReceived() const { return anyResponseByte_; }
    // Serial number of the transport connection (0 before connecting).
    uint64_t connectionSerial() const { return connectionSerial_; }
    // Whether the answer left the connection reusable (known at the end).
    bool connectionIsReusable() const { return handedBack_; }

    // Closes every idle pooled connection in the process.
    static void closeIdleConnections();

private:
    enum class Phase { Idle, Resolving, Connecting, Tunnel, Socks, Handshake, Exchange, Done, Failed, Closed };

    HTTPReadStream(ns::Ref<HTTPMessage> request, ns::Ref<InputStream> body);
    void start();
    void connectNext();
    void onConnected();
    void beginTLS();
    void beginExchange();
    void onReady(unsigned events);
    void driveConnect();
    void driveTunnel(unsigned events);
    void driveSocks();
    void driveHandshake();
    void driveWrite();
    void driveRead();
    void waitForBody();
    bool fillOutput();
    void feedParser(const char* p, size_t n);
    // `n` plain body bytes were received straight into body_.
    void takeBodyReceived(size_t n);
    // Receives plain body bytes straight into sink_; false when it is not
    // the place for the next ones (none set, or bytes still waiting).
    bool receiveIntoSink(size_t plain, IOResult& r);
    // Moves bytes received into sink_ and not yet taken to the front of
    // body_, so that read() hands them out in order.
    void reclaimSinkBytes();
    // The reader took `n` bytes of body_.
    void consumeBody(size_t n);
    void finishExchange();
    void fail(ns::Ref<ns::Error> e);
    void failDropped(int sysError, const char* when);
    void failTLS(const IOResult& r, const char* when);
    void failBadResponse(const ResponseParser& parser);
    void notify(StreamEvent e);
    void post(StreamEvent e);
    void updateInterest();
    void attachSource();
    void touch();
    void releaseConnection(bool reusable);
    // The parser of the answer the caller sees: the proxy's refusal of a
    // tunnel, else the server's answer.
    ResponseParser& answerParser() { return tunnelRefused_ ? *tunnelParser_ : parser_; }
    // Body bytes waiting to be read, in order.
    std::string_view waitingBody() const {
        return borrowed_.empty() ? std::string_view(body_).substr(bodyOffset_) : borrowed_;
    }
    // Keeps the borrowed body bytes nobody read in body_, before the
    // receive buffer they lie in goes away.
    void keepBorrowedBytes();
    const std::string& connectHost() const;
    uint16_t connectPort() const;
    // scheme, host, port, proxy and TLS settings: what a pooled connection
    // must match (made once per stream).
    const std::string& poolKey();
    std::string buildHead();

    static std::atomic<uint64_t> nextSerial_;
    const uint64_t serial_;

    ns::Ref<HTTPMessage> request_;
    ns::Ref<InputStream> bodyStream_;
    TLSSettings tls_;
    ProxySettings proxy_;
    int64_t streamID_ = 0;
    double idleTimeout_ = 0;

    unsigned eventMask_ = 0;
    Client client_;
    ns::Ref<ns::RunLoop> loop_;
    std::vector<std::string> modes_;  // sorted, each once (usually one)

    Phase phase_ = Phase::Idle;
    Status status_ = Status::NotOpen;
    ns::Ref<ns::Error> error_;
    bool startPending_ = false;
    bool connectPending_ = false;
    bool bodyRetryPending_ = false;
    bool persistent_ = false;
    bool reused_ = false;
    bool handedBack_ = false;
    bool wantWriteForRead_ = false;  // TLS renegotiation needs the socket writable
    bool anyResponseByte_ = false;
    uint64_t bytesReceived_ = 0;

    // Where to go.
    HTTPTarget url_;
    std::string poolKey_;
    bool targetRead_ = false;      // url_ holds the request's URL, read
    bool absoluteTarget_ = false;  // a plain request through an HTTP proxy
    bool tunnel_ = false;
    bool socks_ = false;
    int socksStep_ = 0;
    std::string socksIn_;
    ns::Ref<Resolver::Request> lookup_;  // the lookup in flight
    std::vector<SocketAddress> addresses_;
    size_t addressIndex_ = 0;

    std::unique_ptr<Connection> conn_;
    ns::Ref<ns::FdSource> source_;
    ns::Ref<ns::Timer> timer_;
    uint64_t connectionSerial_ = 0;

    // Outgoing bytes.
    std::string out_;
    size_t outOffset_ = 0;
    bool headSent_ = false;
    bool bodyFinished_ = false;
    bool chunkedBody_ = false;
    bool bodyOpened_ = false;
    std::atomic<uint64_t> bytesWritten_{0};

    // Incoming.
    ResponseParser parser_;
    std::unique_ptr<ResponseParser> tunnelParser_;  // a CONNECT's answer, through a proxy only
    std::string body_;
    size_t bodyOffset_ = 0;
    // Plain body bytes that came in the same receive as the head, read by
    // the client where they lie in the receive buffer while it is told
    // about them (what it leaves goes to body_ before the buffer goes).
    std::string_view borrowed_;
    // Where the reader of readAppending() keeps the body, the most it takes
    // at a time, the bytes received there and not yet reported to it, and
    // how much the next receive asks for (grown while the socket fills it).
    ns::Ref<ns::MutableData> sink_;
    size_t sinkMax_ = 0;
    size_t sinkReceived_ = 0;
    size_t sinkChunk_ = 0;
    bool endReported_ = false;
    bool errorReported_ = false;
    bool headerReported_ = false;
    bool readPaused_ = false;
    bool tunnelRefused_ = false;  // the proxy's answer to CONNECT is the response
};

}  // namespace net
