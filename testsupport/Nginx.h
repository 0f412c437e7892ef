// A real nginx on 127.0.0.1 for peer tests and benchmarks: unprivileged, on
// free high ports, with its configuration, logs and served files in a
// temporary folder that goes away with it. The caller adds its own
// http-level directives and locations and puts the files it serves under
// root(); with certificates, a second server speaks TLS on tlsPort().
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

#include "testsupport/Certificates.h"
#include "testsupport/TempDir.h"

namespace testsupport {

struct NginxConfig {
    int workers = 1;
    int workerConnections = 64;
    std::string httpDirectives;  // inside http { }, before the servers
    std::string locations;       // inside the plain server { }
    const Certificates* tls = nullptr;
};

class Nginx {
public:
    // Where the nginx binary is, or "" when it is not installed.
    static std::string findBinary();

    // Starts nginx and waits (at most five seconds) until it listens.
    explicit Nginx(const NginxConfig& config);
    ~Nginx();
    Nginx(const Nginx&) = delete;
    Nginx& operator=(const Nginx&) = delete;

    bool found() const { return !binary_.empty(); }
    bool running() const { return running_; }
    std::string errorLog() const;
    // The folder served at "/"; files put here after the start are served.
    std::string root() const;
    uint16_t port() const { return port_; }
    uint16_t tlsPort() const { return tlsPort_; }
    std::string url(const std::string& path) const;
    std::string tlsURL(const std::string& path) const;

private:
    void choosePorts(bool tls);
    // Runs nginx and waits until it listens; false when it exited.
    bool start();
    void stop();
    bool listening() const;
    void writeConfiguration(const NginxConfig& config) const;

    std::string binary_;
    std::unique_ptr<TempDir> folder_;
    uint16_t port_ = 0, tlsPort_ = 0;
    pid_t pid_ = -1;
    bool running_ = false;
};

}  // namespace testsupport
