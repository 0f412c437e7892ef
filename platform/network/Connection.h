// One transport connection (a non-blocking TCP socket, optionally wrapped in
// TLS) and the process-wide pool of idle connections that HTTP read streams
// hand back after a reusable answer and adopt for the next request.
#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace net {

struct IOResult {
    enum Kind { Done, WantRead, WantWrite, Closed, Failed };
    Kind kind = Done;
    size_t count = 0;   // bytes moved when Done
    int sysError = 0;   // errno for Failed (0 when a TLS error)
    int sslError = 0;   // SSL_get_error code for Failed TLS
};

class Connection {
public:
    Connection(int fd, std::string key);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int fd() const { return fd_; }
    // scheme/host/port/proxy: what the connection reaches.
    const std::string& key() const { return key_; }
    uint64_t serial() const { return serial_; }

    // Wraps the socket in TLS (the handshake is driven by handshake()).
    bool startTLS(SSL_CTX* ctx, const std::string& sniName, bool checkName);
    SSL* ssl() const { return ssl_; }
    IOResult handshake();
    bool isEncrypted() const { return ssl_ != nullptr; }

    // Once the server asked to renegotiate the TLS session (a refused
    // request: the context turns renegotiation off), reads and writes fail.
    bool renegotiationRequested() const { return renegotiationRequested_; }

    IOResult read(void* buf, size_t max);
    IOResult write(const void* buf, size_t len);
    // Buffered TLS bytes that poll() cannot see.
    bool hasPendingInput() const;

    // For an idle connection: false when the peer closed it or sent
    // something unasked (either makes it unusable).
    bool looksReusable() const;

    void close();

    // Pool bookkeeping.
    int64_t streamID = 0;     // identity given by the last stream that used it
    double idleSince = 0;     // seconds (steady clock) when it went idle
    uint64_t lastUser = 0;    // serial of the stream that handed it back
    int requestsServed = 0;

private:
    int fd_;
    std::string key_;
    uint64_t serial_;
    SSL* ssl_ = nullptr;
    bool renegotiationRequested_ = false;
};

// Idle connections waiting for the next request to the same place. Thread
// safe; connections in the pool belong to no run loop.
class ConnectionPool {
public:
    static ConnectionPool& shared();

    // Takes an idle connection for `key` whose identity matches `streamID`
    // (0 matches any), dropping on the way the candidates the peer closed
    // and every connection idle too long; nullptr when there is none.
    std::unique_ptr<Connection> take(const std::string& key, int64_t streamID);
    // Keeps a connection for reuse (closed at once when the pool is full).
    void put(std::unique_ptr<Connection> c);
    // Closes the idle connection last handed back by `user`, if it is still
    // in the pool.
    bool closeIdleFrom(uint64_t user);
    // Closes every idle connection.
    void clear();
    size_t idleCount() const;
    // Connections opened in the process so far (for tests and statistics).
    uint64_t connectionsOpened() const;

    static constexpr size_t kMaxIdle = 32;
    static constexpr double kMaxIdleSeconds = 120.0;

private:
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Connection>> idle_;
};

double steadySeconds();

}  // namespace net
