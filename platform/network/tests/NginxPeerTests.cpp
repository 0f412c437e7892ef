// Talks to a real nginx started by the test: unprivileged, on free high
// ports, with a configuration in a temporary folder. Skipped when the nginx
// binary is missing.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "platform/foundation/RunLoop.h"
#include "platform/network/Connection.h"
#include "platform/network/HTTPCookie.h"
#include "platform/network/HTTPReadStream.h"
#include "platform/network/NetworkErrors.h"
#include "platform/network/URLConnection.h"
#include "testsupport/Certificates.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/PeerRequirement.h"
#include "testsupport/TempDir.h"

namespace {

std::string findNginx() {
    for (const char* p : {"/usr/sbin/nginx", "/usr/local/sbin/nginx", "/usr/bin/nginx"})
        if (::access(p, X_OK) == 0) return p;
    return {};
}

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

class Nginx {
public:
    Nginx(const testsupport::Certificates& certs) {
        binary_ = findNginx();
        if (binary_.empty()) return;
        folder_.emplace("nginxpeer");
        dir_ = folder_->path();
        std::filesystem::create_directories(dir_ + "/html");
        std::filesystem::create_directories(dir_ + "/logs");
        std::ofstream(dir_ + "/html/hello.txt") << "hello from nginx\n";
        std::string big;
        for (int i = 0; i < 4000; ++i) big += "line " + std::to_string(i) + " of a compressible text file\n";
        std::ofstream(dir_ + "/html/big.txt") << big;
        bigText = big;
        port = freePort();
        tlsPort = freePort();
        std::ofstream conf(dir_ + "/nginx.conf");
        conf << (geteuid() == 0 ? "user root root;\n" : "") << "worker_processes 1;\n"
             << "pid " << dir_ << "/nginx.pid;\n"
             << "error_log " << dir_ << "/logs/error.log warn;\n"
             << "events { worker_connections 64; }\n"
             << "http {\n"
             << "  access_log off;\n"
             << "  client_body_temp_path " << dir_ << "/body;\n"
             << "  proxy_temp_path " << dir_ << "/proxy;\n  fastcgi_temp_path " << dir_ << "/fcgi;\n"
             << "  uwsgi_temp_path " << dir_ << "/uwsgi;\n  scgi_temp_path " << dir_ << "/scgi;\n"
             << "  keepalive_timeout 30;\n  keepalive_requests 100;\n"
             << "  types { text/plain txt; }\n"
             << "  gzip on; gzip_min_length 1; gzip_types text/plain;\n"
             << "  server {\n    listen 127.0.0.1:" << port << ";\n    root " << dir_ << "/html;\n"
             << "    location = /redirect { return 302 /hello.txt; }\n"
             << "    location = /cookie { add_header Set-Cookie \"peer=yes; Path=/\"; return 200 \"cookie set\\n\"; }\n"
             << "    location = /echo-cookie { return 200 \"$http_cookie\"; }\n"
             << "  }\n"
             << "  server {\n    listen 127.0.0.1:" << tlsPort << " ssl;\n    root " << dir_ << "/html;\n"
             << "    ssl_certificate " << certs.path("server.pem") << ";\n"
             << "    ssl_certificate_key " << certs.path("server.key") << ";\n  }\n"
             << "}\n";
        conf.close();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execl(binary_.c_str(), "nginx", "-p", dir_.c_str(), "-c", (dir_ + "/nginx.conf").c_str(), "-g",
                    "daemon off;", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Wait for the listening sockets (nginx starts in a few milliseconds).
        for (int i = 0; i < 500 && !(accepting(port) && accepting(tlsPort)); ++i) {
            int status;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        running_ = accepting(port) && accepting(tlsPort);
    }
    ~Nginx() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status;
            ::waitpid(pid_, &status, 0);
        }
    }
    bool found() const { return !binary_.empty(); }
    bool running() const { return running_; }
    std::string errorLog() const {
        std::ifstream f(dir_ + "/logs/error.log");
        return {std::istreambuf_iterator<char>(f), {}};
    }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }
    std::string tlsURL(const std::string& path) const { return "https://127.0.0.1:" + std::to_string(tlsPort) + path; }

    uint16_t port = 0, tlsPort = 0;
    std::string bigText;

private:
    std::optional<testsupport::TempDir> folder_;
    std::string binary_, dir_;
    pid_t pid_ = -1;
    bool running_ = false;
};

class NginxPeer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        certs_ = new testsupport::Certificates();
        if (certs_->ok()) nginx_ = new Nginx(*certs_);
    }
    static void TearDownTestSuite() {
        delete nginx_;
        delete certs_;
        nginx_ = nullptr;
        certs_ = nullptr;
    }
    void SetUp() override {
        if (!certs_->ok()) DECK_PEER_MISSING("the openssl command is missing");
        if (!nginx_->found()) DECK_PEER_MISSING("nginx is not installed (looked in /usr/sbin, /usr/local/sbin, /usr/bin)");
        ASSERT_TRUE(nginx_->running()) << "nginx did not start:\n" << nginx_->errorLog();
        net::HTTPReadStream::closeIdleConnections();
        net::HTTPCookieStorage::sharedHTTPCookieStorage().removeAllCookies();
    }
    static testsupport::Certificates* certs_;
    static Nginx* nginx_;
};
testsupport::Certificates* NginxPeer::certs_ = nullptr;
Nginx* NginxPeer::nginx_ = nullptr;

ns::Ref<ns::Data> fetch(const std::string& url, ns::Ref<net::HTTPURLResponse>* response, ns::Ref<ns::Error>* error,
                        net::TLSSettings tls = {}) {
    auto req = net::URLRequest::requestWithURL(ns::URL::URLWithString(url), 0, 10);
    req->setTLSSettings(tls);
    return net::URLConnection::sendSynchronousRequest(*req, response, error);
}

TEST_F(NginxPeer, StaticFileGzipAndKeepAlive) {
    ns::Ref<net::HTTPURLResponse> resp;
    ns::Ref<ns::Error> err;
    auto data = fetch(nginx_->url("/hello.txt"), &resp, &err);
    ASSERT_TRUE(data) << err->description();
    EXPECT_EQ(resp->statusCode(), 200);
    auto big = fetch(nginx_->url("/big.txt"), &resp, &err);
    ASSERT_TRUE(big) << err->description();
    EXPECT_EQ(*resp->valueForHTTPHeaderField("Content-Encoding"), "gzip");
    EXPECT_EQ(big->view(), nginx_->bigText);
    // Both answers came over one kept-alive connection.
    uint64_t before = net::ConnectionPool::shared().connectionsOpened();
    fetch(nginx_->url("/hello.txt"), &resp, &err);
    EXPECT_EQ(net::ConnectionPool::shared().connectionsOpened(), before);
}

TEST_F(NginxPeer, RedirectAndCookies) {
    ns::Ref<net::HTTPURLResponse> resp;
    ns::Ref<ns::Error> err;
    auto data = fetch(nginx_->url("/redirect"), &resp, &err);
    ASSERT_TRUE(data) << err->description();
    EXPECT_EQ(data->view(), "hello from nginx\n");
    EXPECT_EQ(resp->URL()->absoluteText(), nginx_->url("/hello.txt"));
    fetch(nginx_->url("/cookie"), &resp, &err);
    data = fetch(nginx_->url("/echo-cookie"), &resp, &err);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->view(), "peer=yes");
}

TEST_F(NginxPeer, TLSWithTheTestCA) {
    ns::Ref<net::HTTPURLResponse> resp;
    ns::Ref<ns::Error> err;
    EXPECT_FALSE(fetch(nginx_->tlsURL("/hello.txt"), &resp, &err));
    ASSERT_TRUE(err);
    EXPECT_TRUE(net::isTLSError(err.get())) << err->description();
    net::TLSSettings trust;
    trust.trustedCertificatesFile = certs_->path("ca.pem");
    auto data = fetch(nginx_->tlsURL("/hello.txt"), &resp, &err, trust);
    ASSERT_TRUE(data) << err->description();
    EXPECT_EQ(data->view(), "hello from nginx\n");
}

}  // namespace
