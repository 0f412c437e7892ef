// A real nginx on 127.0.0.1 for peer tests and benchmarks: unprivileged, on
// free high ports, with its configuration, logs and served files in a
// temporary folder that goes away with the object. The caller adds its own
// http-level directives and locations and puts the files it serves under
// root(); with certificates, a second server speaks TLS on tlsPort.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "tests/LoopbackServer.h"

namespace nettest {

struct NginxConfig {
    int workers = 1;
    int workerConnections = 64;
    std::string httpDirectives;  // inside http { }, before the servers
    std::string locations;       // inside the plain server { }
    const Certificates* tls = nullptr;
};

class Nginx {
public:
    static std::string findBinary() {
        for (const char* p : {"/usr/sbin/nginx", "/usr/local/sbin/nginx", "/usr/bin/nginx"})
            if (::access(p, X_OK) == 0) return p;
        return {};
    }

    explicit Nginx(const NginxConfig& config) {
        binary_ = findBinary();
        if (binary_.empty()) return;
        std::string t = (std::filesystem::temp_directory_path() / "nginxpeer.XXXXXX").string();
        dir_ = ::mkdtemp(t.data());
        std::filesystem::create_directories(root());
        std::filesystem::create_directories(dir_ + "/logs");
        port = freePort();
        if (config.tls) tlsPort = freePort();
        writeConfiguration(config);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execl(binary_.c_str(), "nginx", "-p", dir_.c_str(), "-c", (dir_ + "/nginx.conf").c_str(), "-g",
                    "daemon off;", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Wait for the listening sockets (nginx starts in a few milliseconds;
        // five seconds bound the wait on a loaded machine).
        for (int i = 0; i < 500 && !listening(); ++i) {
            int status;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        running_ = listening();
    }
    ~Nginx() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status;
            ::waitpid(pid_, &status, 0);
        }
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }
    Nginx(const Nginx&) = delete;
    Nginx& operator=(const Nginx&) = delete;

    bool found() const { return !binary_.empty(); }
    bool running() const { return running_; }
    std::string errorLog() const {
        std::ifstream f(dir_ + "/logs/error.log");
        return {std::istreambuf_iterator<char>(f), {}};
    }
    // The folder served at "/"; files put here after the start are served.
    std::string root() const { return dir_ + "/html"; }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }
    std::string tlsURL(const std::string& path) const { return "https://127.0.0.1:" + std::to_string(tlsPort) + path; }

    uint16_t port = 0, tlsPort = 0;

private:
    static uint16_t freePort() {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        ::close(fd);
        return ntohs(a.sin_port);
    }
    static bool accepting(uint16_t port) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        return ok;
    }
    bool listening() const { return accepting(port) && (tlsPort == 0 || accepting(tlsPort)); }

    void writeConfiguration(const NginxConfig& config) const {
        std::ofstream conf(dir_ + "/nginx.conf");
        conf << (geteuid() == 0 ? "user root root;\n" : "") << "worker_processes " << config.workers << ";\n"
             << "pid " << dir_ << "/nginx.pid;\n"
             << "error_log " << dir_ << "/logs/error.log warn;\n"
             << "events { worker_connections " << config.workerConnections << "; }\n"
             << "http {\n"
             << "  access_log off;\n"
             << "  client_body_temp_path " << dir_ << "/body;\n"
             << "  proxy_temp_path " << dir_ << "/proxy;\n  fastcgi_temp_path " << dir_ << "/fcgi;\n"
             << "  uwsgi_temp_path " << dir_ << "/uwsgi;\n  scgi_temp_path " << dir_ << "/scgi;\n"
             << "  types { text/plain txt; }\n"
             << config.httpDirectives << "\n"
             << "  server {\n    listen 127.0.0.1:" << port << ";\n    root " << root() << ";\n"
             << config.locations << "\n  }\n";
        if (config.tls)
            conf << "  server {\n    listen 127.0.0.1:" << tlsPort << " ssl;\n    root " << root() << ";\n"
                 << "    ssl_certificate " << config.tls->path("server.pem") << ";\n"
                 << "    ssl_certificate_key " << config.tls->path("server.key") << ";\n  }\n";
        conf << "}\n";
    }

    std::string binary_, dir_;
    pid_t pid_ = -1;
    bool running_ = false;
};

}  // namespace nettest
