#include "evernote/tests/LoopbackHTTPServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace evernote::test {

std::string HTTPRequest::header(const std::string& name) const {
    for (const auto& [n, v] : headers)
        if (strcasecmp(n.c_str(), name.c_str()) == 0) return v;
    return "";
}

LoopbackHTTPServer::LoopbackHTTPServer(Handler handler) : handler_(std::move(handler)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 16) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    if (::pipe(wakeFds_) != 0) throw std::runtime_error("pipe");
    thread_ = std::thread([this] { run(); });
}

LoopbackHTTPServer::~LoopbackHTTPServer() {
    char c = 1;
    (void)::write(wakeFds_[1], &c, 1);
    thread_.join();
    for (int fd : held_) ::close(fd);
    ::close(listenFd_);
    ::close(wakeFds_[0]);
    ::close(wakeFds_[1]);
}

std::string LoopbackHTTPServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<HTTPRequest> LoopbackHTTPServer::requests() const {
    std::lock_guard<std::mutex> g(mutex_);
    return requests_;
}

std::string LoopbackHTTPServer::reply(int status, const std::string& body,
                                      const std::string& extraHeaders) {
    return "HTTP/1.1 " + std::to_string(status) + " Status\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
}

void LoopbackHTTPServer::run() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        if (fds[0].revents & POLLIN) {
            int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) serve(fd);
        }
    }
}

void LoopbackHTTPServer::serve(int fd) {
    std::string data;
    char buf[8192];
    size_t headEnd;
    auto receive = [&]() {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return false;
        data.append(buf, static_cast<size_t>(n));
        return true;
    };
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (!receive()) {
            ::close(fd);
            return;
        }
    }
    HTTPRequest request;
    std::string head = data.substr(0, headEnd);
    size_t lineEnd = head.find("\r\n");
    std::string requestLine = head.substr(0, lineEnd);
    size_t s1 = requestLine.find(' '), s2 = requestLine.rfind(' ');
    request.method = requestLine.substr(0, s1);
    request.target = requestLine.substr(s1 + 1, s2 - s1 - 1);
    size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (pos < head.size()) {
        size_t e = head.find("\r\n", pos);
        if (e == std::string::npos) e = head.size();
        std::string line = head.substr(pos, e - pos);
        size_t colon = line.find(':');
        std::string value = line.substr(colon + 1);
        while (!value.empty() && value.front() == ' ') value.erase(0, 1);
        request.headers.emplace_back(line.substr(0, colon), value);
        pos = e + 2;
    }
    size_t length = std::stoul("0" + request.header("Content-Length"));
    while (data.size() - headEnd - 4 < length) {
        if (!receive()) break;
    }
    request.body = data.substr(headEnd + 4, length);
    {
        std::lock_guard<std::mutex> g(mutex_);
        requests_.push_back(request);
    }
    std::optional<std::string> answer = handler_(request);
    if (!answer) {
        held_.push_back(fd);
        return;
    }
    size_t sent = 0;
    while (sent < answer->size()) {
        ssize_t n = ::send(fd, answer->data() + sent, answer->size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
}

}  // namespace evernote::test
