#include "testsupport/LoopbackServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

namespace testsupport {

namespace {
// How long an answer function's held connection waits for its client at
// most; stop() ends the wait sooner.
constexpr double kHoldSeconds = 60;
}  // namespace

std::string Request::header(const std::string& name) const {
    for (auto& [k, v] : headers)
        if (strcasecmp(k.c_str(), name.c_str()) == 0) return v;
    return {};
}

bool Request::has(const std::string& name) const {
    for (auto& [k, v] : headers)
        if (strcasecmp(k.c_str(), name.c_str()) == 0) return true;
    return false;
}

// ---- Conn ---------------------------------------------------------------------------

Conn::Conn(int fd, SSL* ssl, int index, std::function<void(int)> onClose,
           std::function<void(const Request&)> onRequest)
    : fd_(fd), ssl_(ssl), index_(index), onClose_(std::move(onClose)), onRequest_(std::move(onRequest)) {}

Conn::~Conn() { close(); }

void Conn::relayTo(uint16_t port) {
    int up = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(up, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(up);
        return;
    }
    char buf[16384];
    while (true) {
        pollfd p[2] = {{fd_, POLLIN, 0}, {up, POLLIN, 0}};
        if (::poll(p, 2, 10000) <= 0) break;
        int from = (p[0].revents & (POLLIN | POLLHUP | POLLERR)) ? fd_ : up;
        int to = from == fd_ ? up : fd_;
        long n = ::recv(from, buf, sizeof buf, 0);
        if (n <= 0 || ::send(to, buf, static_cast<size_t>(n), MSG_NOSIGNAL) != n) break;
    }
    ::close(up);
}

std::optional<Request> Conn::readRequest() {
    std::string head;
    while (head.find("\r\n\r\n") == std::string::npos) {
        char c;
        if (recvSome(&c, 1) != 1) return std::nullopt;
        head += c;
        if (head.size() > 1 << 20) return std::nullopt;
    }
    Request r;
    size_t lineEnd = head.find("\r\n");
    std::string line = head.substr(0, lineEnd);
    size_t a = line.find(' '), b = line.rfind(' ');
    if (a == std::string::npos || b == a) return std::nullopt;
    r.method = line.substr(0, a);
    r.target = line.substr(a + 1, b - a - 1);
    r.version = line.substr(b + 1);
    size_t pos = lineEnd + 2;
    while (pos < head.size() - 2) {
        size_t e = head.find("\r\n", pos);
        std::string h = head.substr(pos, e - pos);
        size_t colon = h.find(':');
        std::string v = h.substr(colon + 1);
        while (!v.empty() && v.front() == ' ') v.erase(0, 1);
        r.headers.emplace_back(h.substr(0, colon), v);
        pos = e + 2;
    }
    if (r.has("Content-Length")) {
        size_t n = std::stoul(r.header("Content-Length"));
        r.body.resize(n);
        if (n && recvAll(r.body.data(), n) != n) return std::nullopt;
    } else if (strcasecmp(r.header("Transfer-Encoding").c_str(), "chunked") == 0) {
        while (true) {
            std::string sizeLine;
            char c;
            while (sizeLine.size() < 2 || sizeLine.substr(sizeLine.size() - 2) != "\r\n") {
                if (recvSome(&c, 1) != 1) return std::nullopt;
                sizeLine += c;
            }
            size_t n = std::stoul(sizeLine, nullptr, 16);
            std::string chunk(n + 2, '\0');
            if (recvAll(chunk.data(), n + 2) != n + 2) return std::nullopt;
            if (n == 0) break;
            r.body += chunk.substr(0, n);
        }
    }
    if (onRequest_) onRequest_(r);
    return r;
}

std::string Conn::readExact(size_t n) {
    std::string s(n, '\0');
    s.resize(recvAll(s.data(), n));
    return s;
}

bool Conn::write(const std::string& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
        long n = ssl_ ? SSL_write(ssl_, bytes.data() + off, static_cast<int>(bytes.size() - off))
                      : ::send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

bool Conn::respond(int status, const std::string& body, const std::string& extraHeaders) {
    return write(Server::reply(status, body, extraHeaders));
}

bool Conn::waitForClose(double seconds) {
    pollfd p{fd_, POLLIN, 0};
    while (::poll(&p, 1, static_cast<int>(seconds * 1000)) > 0) {
        char buf[256];
        long n = ssl_ ? SSL_read(ssl_, buf, sizeof buf) : ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) return true;
    }
    return false;
}

void Conn::reset() {
    linger l{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    if (ssl_) {
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    if (onClose_) onClose_(fd_);
    ::close(fd_);
    fd_ = -1;
}

void Conn::shutdownWrite() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

void Conn::close() {
    if (ssl_) {
        SSL_shutdown(ssl_);
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    if (fd_ >= 0) {
        if (onClose_) onClose_(fd_);
        ::close(fd_);
    }
    fd_ = -1;
}

std::string Conn::reason(int s) {
    switch (s) {
        case 200: return "OK";
        case 201: return "Created";
        case 204: return "No Content";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 303: return "See Other";
        case 304: return "Not Modified";
        case 307: return "Temporary Redirect";
        case 401: return "Unauthorized";
        case 404: return "Not Found";
        case 407: return "Proxy Authentication Required";
        default: return "Status";
    }
}

long Conn::recvSome(char* p, size_t n) {
    return ssl_ ? SSL_read(ssl_, p, static_cast<int>(n)) : ::recv(fd_, p, n, 0);
}

size_t Conn::recvAll(char* p, size_t n) {
    size_t got = 0;
    while (got < n) {
        long r = recvSome(p + got, n - got);
        if (r <= 0) break;
        got += static_cast<size_t>(r);
    }
    return got;
}

// ---- Server -------------------------------------------------------------------------

Server::Server(Handler handler, const std::string& certFile, const std::string& keyFile,
               const std::string& clientCAFile)
    : handler_(std::move(handler)) {
    if (!certFile.empty()) {
        ctx_ = SSL_CTX_new(TLS_server_method());
        if (SSL_CTX_use_certificate_chain_file(ctx_, certFile.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx_, keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
            std::abort();
        if (!clientCAFile.empty()) {
            SSL_CTX_load_verify_locations(ctx_, clientCAFile.c_str(), nullptr);
            SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
        }
    }
    listen();
}

Server::Server(Answer answer)
    : handler_([this, answer = std::move(answer)](Conn& c) { answerOne(c, answer); }), answering_(true) {
    listen();
}

Server::~Server() { stop(); }

void Server::listen() {
    // Writes to a client that went away must not kill the test.
    std::signal(SIGPIPE, SIG_IGN);
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 64) != 0) std::abort();
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    if (::pipe2(wake_, O_CLOEXEC) != 0) std::abort();
    acceptor_ = std::thread([this] { acceptLoop(); });
}

void Server::stop() {
    if (stopped_.exchange(true)) return;
    (void)!::write(wake_[1], "x", 1);
    acceptor_.join();
    std::vector<std::thread> ts;
    {
        // Wake handlers blocked on clients that keep their connection.
        std::lock_guard<std::mutex> g(mutex_);
        ts.swap(threads_);
        for (int fd : live_) ::shutdown(fd, SHUT_RDWR);
    }
    for (auto& t : ts) t.join();
    ::close(fd_);
    ::close(wake_[0]);
    ::close(wake_[1]);
    if (ctx_) SSL_CTX_free(ctx_);
}

std::string Server::url(const std::string& path) const {
    return std::string(ctx_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<Request> Server::requests() const {
    std::lock_guard<std::mutex> g(requestsMutex_);
    return requests_;
}

size_t Server::requestCount() const {
    std::lock_guard<std::mutex> g(requestsMutex_);
    return requests_.size();
}

void Server::clearRequests() {
    std::lock_guard<std::mutex> g(requestsMutex_);
    requests_.clear();
}

void Server::record(const Request& r) {
    std::lock_guard<std::mutex> g(requestsMutex_);
    requests_.push_back(r);
}

Server::Handler Server::eachRequest(std::function<std::string(const Request&)> answer) {
    return [answer = std::move(answer)](Conn& c) {
        while (auto r = c.readRequest())
            if (!c.write(answer(*r))) return;
    };
}

std::string Server::reply(int status, const std::string& body, const std::string& extraHeaders) {
    return "HTTP/1.1 " + std::to_string(status) + " " + Conn::reason(status) + "\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
}

void Server::acceptLoop() {
    while (true) {
        pollfd p[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) continue;
        if (p[1].revents) return;
        int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) continue;
        int index = ++accepted_;
        std::lock_guard<std::mutex> g(mutex_);
        live_.push_back(c);
        threads_.emplace_back([this, c, index] { serve(c, index); });
    }
}

void Server::serve(int c, int index) {
    // A connection must not outlive the test: give up reading after a while
    // so a stuck client cannot hang stop().
    timeval tv{10, 0};
    ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    SSL* ssl = nullptr;
    if (ctx_) {
        ssl = SSL_new(ctx_);
        SSL_set_fd(ssl, c);
        if (SSL_accept(ssl) != 1) {
            ERR_clear_error();
            SSL_free(ssl);
            forget(c);
            ::close(c);
            return;
        }
    }
    Conn conn(c, ssl, index, [this](int fd) { forget(fd); },
              answering_ ? std::function<void(const Request&)>() : [this](const Request& r) { record(r); });
    handler_(conn);
}

void Server::answerOne(Conn& conn, const Answer& answer) {
    auto request = conn.readRequest();
    if (!request) return;
    std::optional<std::string> bytes;
    {
        std::lock_guard<std::mutex> one(answerMutex_);
        record(*request);
        bytes = answer(*request);
    }
    if (!bytes) {
        conn.waitForClose(kHoldSeconds);
        return;
    }
    conn.write(*bytes);
    conn.shutdownWrite();
}

void Server::forget(int fd) {
    std::lock_guard<std::mutex> g(mutex_);
    std::erase(live_, fd);
}

}  // namespace testsupport
