// A small HTTP server for tests, on 127.0.0.1 with a port of its own. It
// serves one connection at a time on its own thread: reads a request (its
// body framed by Content-Length), records it, and sends what the handler
// returns as raw bytes before closing the connection.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace evernote::test {

struct HTTPRequest {
    std::string method;
    std::string target;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // The value of the first header of that name (any case), or "".
    std::string header(const std::string& name) const;
};

class LoopbackHTTPServer {
public:
    // The bytes to send back; std::nullopt keeps the connection open without
    // a reply until the server stops; "" closes it at once.
    using Handler = std::function<std::optional<std::string>(const HTTPRequest&)>;

    explicit LoopbackHTTPServer(Handler handler);
    ~LoopbackHTTPServer();

    int port() const { return port_; }
    std::string url(const std::string& path = "/") const;
    std::vector<HTTPRequest> requests() const;

    // A whole reply with a Content-Length header.
    static std::string reply(int status, const std::string& body,
                             const std::string& extraHeaders = "");

private:
    void run();
    void serve(int fd);

    Handler handler_;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    int port_ = 0;
    std::vector<int> held_;
    mutable std::mutex mutex_;
    std::vector<HTTPRequest> requests_;
    std::thread thread_;
};

}  // namespace evernote::test
