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

#include "testsupport/RefusingPort.h"

namespace testsupport {

namespace {

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
    // Another program can take a port between our choosing it and nginx
    // binding it; nginx then exits at once, and a second pair of ports is
    // tried.
    for (int attempt = 0; attempt < 3 && !running_; ++attempt) {
        choosePorts(config.tls != nullptr);
        writeConfiguration(config);
        running_ = start();
    }
}

void Nginx::choosePorts(bool tls) {
    // Both ports stay bound until both are chosen, so they differ.
    RefusingPort plain, secure;
    port_ = plain.port();
    tlsPort_ = tls ? secure.port() : 0;
}

bool Nginx::start() {
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
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (listening()) return true;
    stop();
    return false;
}

void Nginx::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

Nginx::~Nginx() { stop(); }

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
