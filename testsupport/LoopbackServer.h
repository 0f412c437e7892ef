// A scriptable HTTP server on 127.0.0.1 (port 0) for tests. Each accepted
// connection runs on a thread of its own, in one of two ways:
//  - with a connection handler, the test reads requests and writes whatever
//    bytes it wants (well-formed answers or misbehaviour), over TLS too with
//    a certificate the test made; every request a connection reads is
//    recorded;
//  - with an answer function, the server reads one request, records it,
//    sends the bytes the function returns and closes the connection; the
//    answers are computed one at a time, in the order the requests came.
// Counts connections so tests can see keep-alive reuse from the server side.
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct Request {
    std::string method, target, version;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // The value of the first header of that name (any case), or "".
    std::string header(const std::string& name) const;
    bool has(const std::string& name) const;
};

class Conn {
public:
    Conn(int fd, SSL* ssl, int index, std::function<void(int)> onClose = nullptr,
         std::function<void(const Request&)> onRequest = nullptr);
    ~Conn();
    Conn(const Conn&) = delete;
    Conn& operator=(const Conn&) = delete;

    int index() const { return index_; }  // 1 for the first accepted connection
    int fd() const { return fd_; }

    // Relays bytes both ways between this (plain) connection and a new
    // connection to 127.0.0.1:port until either side closes.
    void relayTo(uint16_t port);
    // Reads one request (body by Content-Length or chunked); nullopt when
    // the peer closed or sent garbage. The server records what it reads.
    std::optional<Request> readRequest();
    // Exactly n bytes (fewer when the peer closed).
    std::string readExact(size_t n);
    bool write(const std::string& bytes);
    // A complete answer with a Content-Length.
    bool respond(int status, const std::string& body, const std::string& extraHeaders = "");
    // Waits until the peer closes (or `seconds` pass); true when it closed.
    bool waitForClose(double seconds);
    // Closes with a reset instead of an orderly shutdown.
    void reset();
    // Ends the sending side, so the peer reads the end of the stream.
    void shutdownWrite();
    void close();
    static std::string reason(int status);

private:
    long recvSome(char* p, size_t n);
    size_t recvAll(char* p, size_t n);

    int fd_;
    SSL* ssl_;
    int index_;
    std::function<void(int)> onClose_;
    std::function<void(const Request&)> onRequest_;
};

class Server {
public:
    using Handler = std::function<void(Conn&)>;
    // The bytes to send back for a request; std::nullopt keeps the
    // connection open without a reply until the client leaves or the server
    // stops; "" closes it at once.
    using Answer = std::function<std::optional<std::string>(const Request&)>;

    // With certFile the server speaks TLS; with clientCAFile it demands a
    // client certificate signed by it.
    explicit Server(Handler handler, const std::string& certFile = "", const std::string& keyFile = "",
                    const std::string& clientCAFile = "");
    explicit Server(Answer answer);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Stops accepting, wakes the connections' threads and joins them.
    void stop();

    uint16_t port() const { return port_; }
    std::string url(const std::string& path = "/") const;
    int connections() const { return accepted_.load(); }
    // The requests the connections read (with an answer function: the ones
    // it was asked about, in the order it was asked), oldest first.
    std::vector<Request> requests() const;
    size_t requestCount() const;
    // Forgets the requests recorded so far.
    void clearRequests();

    // A connection handler that answers every request the connection reads
    // with the bytes `answer` returns, until the client leaves or a write
    // fails; the connection stays open between requests.
    static Handler eachRequest(std::function<std::string(const Request&)> answer);
    // A whole reply with a Content-Length header.
    static std::string reply(int status, const std::string& body, const std::string& extraHeaders = "");

private:
    void listen();
    void acceptLoop();
    void serve(int fd, int index);
    void answerOne(Conn& conn, const Answer& answer);
    void forget(int fd);
    void record(const Request& r);

    Handler handler_;
    bool answering_ = false;  // answerOne records, in answer order
    std::vector<int> live_;
    SSL_CTX* ctx_ = nullptr;
    int fd_ = -1;
    int wake_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::atomic<bool> stopped_{false};
    std::atomic<int> accepted_{0};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::thread> threads_;
    std::mutex answerMutex_;  // one answer at a time
    mutable std::mutex requestsMutex_;
    std::vector<Request> requests_;
};

}  // namespace testsupport
