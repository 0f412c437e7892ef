#include "testsupport/Nginx.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace testsupport {

namespace {

uint16_t freePort() {
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

bool accepting(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

std::string Nginx::findBinary() {
    for (const char* p : {"/usr/sbin/nginx", "/usr/local/sbin/nginx", "/usr/bin/nginx"})
        if (::access(p, X_OK) == 0) return p;
    return {};
}

Nginx::Nginx(const NginxConfig& config) {
    binary_ = findBinary();
    if (binary_.empty()) return;
    folder_ = std::make_unique<TempDir>("nginxpeer");
    std::filesystem::create_directories(root());
    std::filesystem::create_directories(*folder_ / "logs");
    port_ = freePort();
    if (config.tls) tlsPort_ = freePort();
    writeConfiguration(config);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::execl(binary_.c_str(), "nginx", "-p", folder_->path().c_str(), "-c", (*folder_ / "nginx.conf").c_str(),
                "-g", "daemon off;", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // nginx starts in a few milliseconds; five seconds bound the wait on a
    // loaded machine.
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

Nginx::~Nginx() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status;
        ::waitpid(pid_, &status, 0);
    }
}

std::string Nginx::errorLog() const {
    if (!folder_) return {};
    std::ifstream f(*folder_ / "logs/error.log");
    return {std::istreambuf_iterator<char>(f), {}};
}

std::string Nginx::root() const { return folder_ ? *folder_ / "html" : std::string(); }

std::string Nginx::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string Nginx::tlsURL(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(tlsPort_) + path;
}

bool Nginx::listening() const { return accepting(port_) && (tlsPort_ == 0 || accepting(tlsPort_)); }

void Nginx::writeConfiguration(const NginxConfig& config) const {
    const std::string& dir = folder_->path();
    std::ofstream conf(*folder_ / "nginx.conf");
    conf << (geteuid() == 0 ? "user root root;\n" : "") << "worker_processes " << config.workers << ";\n"
         << "pid " << dir << "/nginx.pid;\n"
         << "error_log " << dir << "/logs/error.log warn;\n"
         << "events { worker_connections " << config.workerConnections << "; }\n"
         << "http {\n"
         << "  access_log off;\n"
         << "  client_body_temp_path " << dir << "/body;\n"
         << "  proxy_temp_path " << dir << "/proxy;\n  fastcgi_temp_path " << dir << "/fcgi;\n"
         << "  uwsgi_temp_path " << dir << "/uwsgi;\n  scgi_temp_path " << dir << "/scgi;\n"
         << "  types { text/plain txt; }\n"
         << config.httpDirectives << "\n"
         << "  server {\n    listen 127.0.0.1:" << port_ << ";\n    root " << root() << ";\n"
         << config.locations << "\n  }\n";
    if (config.tls)
        conf << "  server {\n    listen 127.0.0.1:" << tlsPort_ << " ssl;\n    root " << root() << ";\n"
             << "    ssl_certificate " << config.tls->path("server.pem") << ";\n"
             << "    ssl_certificate_key " << config.tls->path("server.key") << ";\n  }\n";
    conf << "}\n";
}

}  // namespace testsupport
