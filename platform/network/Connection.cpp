#include "platform/network/Connection.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>

namespace net {
namespace {
std::atomic<uint64_t> gSerial{0};
}

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

Connection::Connection(int fd, std::string key) : fd_(fd), key_(std::move(key)), serial_(++gSerial) {}

Connection::~Connection() { close(); }

void Connection::close() {
    if (ssl_) {
        // A quiet shutdown: no close_notify round trip on a socket we drop.
        SSL_set_quiet_shutdown(ssl_, 1);
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

namespace {
// Notes the server asking to renegotiate the session once the handshake is
// over: renegotiation is off in every context, so OpenSSL answers with a
// no_renegotiation alert, and the connection then fails with a clear error
// instead of waiting for a server that may not go on.
void watchForRenegotiation(const SSL* ssl, int where, int alert) {
    if (!(where & SSL_CB_WRITE_ALERT) || (alert & 0xff) != SSL_AD_NO_RENEGOTIATION) return;
    if (auto* requested = static_cast<bool*>(SSL_get_app_data(ssl))) *requested = true;
}

IOResult refusedRenegotiation() {
    IOResult r;
    r.kind = IOResult::Failed;
    r.sslError = SSL_ERROR_SSL;
    return r;
}
}  // namespace

bool Connection::startTLS(SSL_CTX* ctx, const std::string& sniName, bool checkName) {
    ssl_ = SSL_new(ctx);
    if (!ssl_) return false;
    SSL_set_app_data(ssl_, &renegotiationRequested_);
    SSL_set_info_callback(ssl_, watchForRenegotiation);
    SSL_set_fd(ssl_, fd_);
    SSL_set_connect_state(ssl_);
    if (!sniName.empty()) {
        // SNI carries names, not address literals.
        bool literal = sniName.find(':') != std::string::npos ||
                       sniName.find_first_not_of("0123456789.") == std::string::npos;
        if (!literal) SSL_set_tlsext_host_name(ssl_, sniName.c_str());
        if (checkName) {
            X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
            if (literal) X509_VERIFY_PARAM_set1_ip_asc(param, sniName.c_str());
            else SSL_set1_host(ssl_, sniName.c_str());
        }
    }
    return true;
}

namespace {
IOResult fromSSL(SSL* ssl, int rc) {
    IOResult r;
    int e = SSL_get_error(ssl, rc);
    switch (e) {
        case SSL_ERROR_WANT_READ: r.kind = IOResult::WantRead; break;
        case SSL_ERROR_WANT_WRITE: r.kind = IOResult::WantWrite; break;
        case SSL_ERROR_ZERO_RETURN: r.kind = IOResult::Closed; break;
        case SSL_ERROR_SYSCALL:
            // An EOF without close_notify is a plain close; a reset or
            // another system error is a failure.
            r.sysError = errno;
            r.sslError = e;
            r.kind = r.sysError == 0 ? IOResult::Closed : IOResult::Failed;
            break;
        default:
            r.kind = IOResult::Failed;
            r.sslError = e;
            break;
    }
    return r;
}
}  // namespace

IOResult Connection::handshake() {
    ERR_clear_error();
    errno = 0;
    int rc = SSL_do_handshake(ssl_);
    if (rc == 1) return {};
    return fromSSL(ssl_, rc);
}

IOResult Connection::read(void* buf, size_t max) {
    IOResult r;
    if (ssl_) {
        ERR_clear_error();
        errno = 0;
        size_t got = 0;
        int rc = SSL_read_ex(ssl_, buf, max, &got);
        if (renegotiationRequested_) return refusedRenegotiation();
        if (rc == 1) {
            r.count = got;
            return r;
        }
        return fromSSL(ssl_, rc);
    }
    while (true) {
        ssize_t n = ::recv(fd_, buf, max, 0);
        if (n > 0) {
            r.count = static_cast<size_t>(n);
            return r;
        }
        if (n == 0) {
            r.kind = IOResult::Closed;
            return r;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            r.kind = IOResult::WantRead;
            return r;
        }
        r.kind = IOResult::Failed;
        r.sysError = errno;
        return r;
    }
}

IOResult Connection::write(const void* buf, size_t len) {
    IOResult r;
    if (ssl_) {
        ERR_clear_error();
        errno = 0;
        size_t put = 0;
        if (renegotiationRequested_) return refusedRenegotiation();
        int rc = SSL_write_ex(ssl_, buf, len, &put);
        if (renegotiationRequested_) return refusedRenegotiation();
        if (rc == 1) {
            r.count = put;
            return r;
        }
        return fromSSL(ssl_, rc);
    }
    while (true) {
        ssize_t n = ::send(fd_, buf, len, MSG_NOSIGNAL);
        if (n >= 0) {
            r.count = static_cast<size_t>(n);
            return r;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            r.kind = IOResult::WantWrite;
            return r;
        }
        r.kind = IOResult::Failed;
        r.sysError = errno;
        return r;
    }
}

bool Connection::hasPendingInput() const { return ssl_ && SSL_pending(ssl_) > 0; }

bool Connection::looksReusable() const {
    if (fd_ < 0) return false;
    if (hasPendingInput()) return false;
    char c;
    ssize_t n = ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0) return false;                                        // closed by the peer
    if (n > 0) return false;                                         // unasked bytes (or a TLS alert)
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

ConnectionPool& ConnectionPool::shared() {
    static ConnectionPool* pool = new ConnectionPool();
    return *pool;
}

std::unique_ptr<Connection> ConnectionPool::take(const std::string& key, int64_t streamID) {
    std::vector<std::unique_ptr<Connection>> dead;
    std::unique_ptr<Connection> found;
    {
        std::lock_guard<std::mutex> g(mutex_);
        double now = steadySeconds();
        // Only the candidate is probed (one receive); the others are
        // dropped here when they have been idle too long, and probed when
        // their turn comes.
        for (size_t i = idle_.size(); i-- > 0;) {
            auto& c = idle_[i];
            const bool candidate = !found && (streamID == 0 || c->streamID == streamID) && c->key() == key;
            if (now - c->idleSince > kMaxIdleSeconds || (candidate && !c->looksReusable())) {
                dead.push_back(std::move(c));
                idle_.erase(idle_.begin() + static_cast<long>(i));
                continue;
            }
            if (candidate) {
                found = std::move(c);
                idle_.erase(idle_.begin() + static_cast<long>(i));
            }
        }
    }
    return found;  // `dead` closes outside the lock
}

void ConnectionPool::put(std::unique_ptr<Connection> c) {
    if (!c) return;
    c->idleSince = steadySeconds();
    std::unique_ptr<Connection> evicted;
    std::lock_guard<std::mutex> g(mutex_);
    if (idle_.size() >= kMaxIdle) {
        evicted = std::move(idle_.front());
        idle_.erase(idle_.begin());
    }
    idle_.push_back(std::move(c));
}

bool ConnectionPool::closeIdleFrom(uint64_t user) {
    std::unique_ptr<Connection> victim;
    std::lock_guard<std::mutex> g(mutex_);
    for (size_t i = 0; i < idle_.size(); ++i) {
        if (idle_[i]->lastUser == user) {
            victim = std::move(idle_[i]);
            idle_.erase(idle_.begin() + static_cast<long>(i));
            return true;
        }
    }
    return false;
}

void ConnectionPool::clear() {
    std::vector<std::unique_ptr<Connection>> all;
    std::lock_guard<std::mutex> g(mutex_);
    all.swap(idle_);
}

size_t ConnectionPool::idleCount() const {
    std::lock_guard<std::mutex> g(mutex_);
    return idle_.size();
}

uint64_t ConnectionPool::connectionsOpened() const { return gSerial.load(); }

}  // namespace net
