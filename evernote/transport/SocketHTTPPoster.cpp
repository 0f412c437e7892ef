#include "evernote/transport/SocketHTTPPoster.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace evernote {

namespace {

using Clock = std::chrono::steady_clock;

struct PostFailure {
    long code;
    std::string text;
};

[[noreturn]] void fail(long code, std::string text) { throw PostFailure{code, std::move(text)}; }

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

bool hasControlCharacters(std::string_view s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

class Socket {
public:
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    void connectTo(const HTTPURL& url, Clock::time_point deadline);
    void sendAll(std::string_view bytes, Clock::time_point deadline);
    // Appends what arrives to `buf`; false at the end of the stream.
    bool receive(std::string& buf, Clock::time_point deadline);

private:
    void waitFor(short events, Clock::time_point deadline);
    int fd_ = -1;
};

void Socket::waitFor(short events, Clock::time_point deadline) {
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) fail(kHTTPErrorTimedOut, "The request timed out.");
        pollfd p{fd_, events, 0};
        int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count() + 1, 1 << 30)));
        if (n > 0) return;
        if (n < 0 && errno != EINTR) fail(kHTTPErrorConnectionLost, std::strerror(errno));
    }
}

void Socket::connectTo(const HTTPURL& url, Clock::time_point deadline) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::string port = std::to_string(url.port);
    int rc = ::getaddrinfo(url.host.c_str(), port.c_str(), &hints, &found);
    if (rc != 0 || !found)
        fail(kHTTPErrorCannotResolve, "A server with the specified hostname could not be found.");
    std::string lastError = "Could not connect to the server.";
    bool timedOut = false;
    for (addrinfo* a = found; a; a = a->ai_next) {
        int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        fd_ = fd;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) break;
        if (errno == EINPROGRESS) {
            try {
                waitFor(POLLOUT, deadline);
            } catch (const PostFailure& f) {
                if (f.code == kHTTPErrorTimedOut) timedOut = true;
                ::close(fd);
                fd_ = -1;
                break;
            }
            int err = 0;
            socklen_t len = sizeof err;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
            if (err == 0) break;
            lastError = std::strerror(err);
        } else {
            lastError = std::strerror(errno);
        }
        ::close(fd);
        fd_ = -1;
    }
    ::freeaddrinfo(found);
    if (fd_ < 0) {
        if (timedOut) fail(kHTTPErrorTimedOut, "The request timed out.");
        fail(kHTTPErrorCannotConnect, "Could not connect to the server: " + lastError);
    }
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void Socket::sendAll(std::string_view bytes, Clock::time_point deadline) {
    while (!bytes.empty()) {
        ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n > 0) {
            bytes.remove_prefix(static_cast<size_t>(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            waitFor(POLLOUT, deadline);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            fail(kHTTPErrorConnectionLost, "The network connection was lost.");
        }
    }
}

bool Socket::receive(std::string& buf, Clock::time_point deadline) {
    char chunk[16384];
    for (;;) {
        ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n > 0) {
            buf.append(chunk, static_cast<size_t>(n));
            return true;
        }
        if (n == 0) return false;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            waitFor(POLLIN, deadline);
        } else if (errno != EINTR) {
            fail(kHTTPErrorConnectionLost, "The network connection was lost.");
        }
    }
}

// Reads one reply from the socket, within the limits.
class ReplyReader {
public:
    ReplyReader(Socket& socket, Clock::time_point deadline, const SocketHTTPPoster::Limits& limits)
        : socket_(socket), deadline_(deadline), limits_(limits) {}

    void read(HTTPPostReply& reply);

private:
    void readHead(HTTPPostReply& reply);
    void readLength(size_t length, std::string& body);
    void readChunked(std::string& body);
    void readToEnd(std::string& body);
    std::string readLine(size_t maxLength);
    bool more() { return socket_.receive(buf_, deadline_); }
    size_t available() const { return buf_.size() - pos_; }

    Socket& socket_;
    Clock::time_point deadline_;
    const SocketHTTPPoster::Limits& limits_;
    std::string buf_;
    size_t pos_ = 0;
};

void ReplyReader::readHead(HTTPPostReply& reply) {
    for (;;) {
        size_t end;
        while ((end = buf_.find("\r\n\r\n", pos_)) == std::string::npos) {
            if (available() > limits_.maxHeaderBytes)
                fail(kHTTPErrorReplyTooLarge, "The reply's header is too large.");
            if (!more()) {
                if (available() == 0)
                    fail(kHTTPErrorConnectionLost, "The server closed the connection without a reply.");
                fail(kHTTPErrorBadReply, "The server's reply ended inside its header.");
            }
        }
        if (end - pos_ > limits_.maxHeaderBytes)
            fail(kHTTPErrorReplyTooLarge, "The reply's header is too large.");
        std::string_view head(buf_.data() + pos_, end - pos_);
        pos_ = end + 4;

        size_t lineEnd = head.find("\r\n");
        std::string_view statusLine = head.substr(0, lineEnd);
        // "HTTP/1.x NNN reason"
        if (statusLine.size() < 12 || statusLine.substr(0, 7) != "HTTP/1." ||
            statusLine[8] != ' ' || statusLine[7] < '0' || statusLine[7] > '9')
            fail(kHTTPErrorBadReply, "The server's reply is not an HTTP reply.");
        int status = 0;
        for (size_t i = 9; i < 12; ++i) {
            if (statusLine[i] < '0' || statusLine[i] > '9')
                fail(kHTTPErrorBadReply, "The server's reply has no status code.");
            status = status * 10 + (statusLine[i] - '0');
        }
        if (statusLine.size() > 12 && statusLine[12] != ' ')
            fail(kHTTPErrorBadReply, "The server's reply has no status code.");
        reply.status = status;
        reply.headers.clear();
        std::string_view rest = lineEnd == std::string_view::npos ? std::string_view{}
                                                                  : head.substr(lineEnd + 2);
        while (!rest.empty()) {
            size_t e = rest.find("\r\n");
            std::string_view line = rest.substr(0, e);
            rest = e == std::string_view::npos ? std::string_view{} : rest.substr(e + 2);
            size_t colon = line.find(':');
            if (colon == std::string_view::npos || colon == 0 ||
                line.front() == ' ' || line.front() == '\t')
                fail(kHTTPErrorBadReply, "The server's reply has a malformed header line.");
            reply.headers.push_back({std::string(trim(line.substr(0, colon))),
                                     std::string(trim(line.substr(colon + 1)))});
        }
        // Interim replies (100 Continue and the like) precede the real one.
        if (status >= 100 && status < 200 && status != 101) continue;
        return;
    }
}

std::string ReplyReader::readLine(size_t maxLength) {
    size_t end;
    while ((end = buf_.find("\r\n", pos_)) == std::string::npos) {
        if (available() > maxLength) fail(kHTTPErrorBadReply, "The reply's chunk framing is malformed.");
        if (!more()) fail(kHTTPErrorConnectionLost, "The server closed the connection mid-reply.");
    }
    if (end - pos_ > maxLength) fail(kHTTPErrorBadReply, "The reply's chunk framing is malformed.");
    std::string line = buf_.substr(pos_, end - pos_);
    pos_ = end + 2;
    return line;
}

void ReplyReader::readLength(size_t length, std::string& body) {
    while (available() < length) {
        if (!more()) fail(kHTTPErrorConnectionLost, "The server closed the connection mid-reply.");
    }
    body.append(buf_, pos_, length);
    pos_ += length;
}

void ReplyReader::readChunked(std::string& body) {
    for (;;) {
        std::string line = readLine(1024);
        std::string_view digits = line;
        size_t semi = digits.find(';');
        if (semi != std::string_view::npos) digits = digits.substr(0, semi);
        digits = trim(digits);
        if (digits.empty()) fail(kHTTPErrorBadReply, "The reply's chunk framing is malformed.");
        size_t size = 0;
        for (char c : digits) {
            int v;
            if (c >= '0' && c <= '9') v = c - '0';
            else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
            else fail(kHTTPErrorBadReply, "The reply's chunk framing is malformed.");
            if (size > (limits_.maxBodyBytes >> 4) + 1)
                fail(kHTTPErrorReplyTooLarge, "The reply is too large.");
            size = size * 16 + static_cast<size_t>(v);
        }
        if (size == 0) break;
        if (size > limits_.maxBodyBytes - body.size())
            fail(kHTTPErrorReplyTooLarge, "The reply is too large.");
        readLength(size, body);
        if (!readLine(0).empty()) fail(kHTTPErrorBadReply, "The reply's chunk framing is malformed.");
    }
    // Trailer fields, up to the empty line.
    size_t trailerBytes = 0;
    for (;;) {
        std::string line = readLine(limits_.maxHeaderBytes);
        if (line.empty()) break;
        trailerBytes += line.size();
        if (trailerBytes > limits_.maxHeaderBytes)
            fail(kHTTPErrorReplyTooLarge, "The reply's header is too large.");
    }
}

void ReplyReader::readToEnd(std::string& body) {
    for (;;) {
        if (available() > limits_.maxBodyBytes) fail(kHTTPErrorReplyTooLarge, "The reply is too large.");
        if (!more()) break;
    }
    body.append(buf_, pos_, std::string::npos);
    pos_ = buf_.size();
}

void ReplyReader::read(HTTPPostReply& reply) {
    readHead(reply);
    std::string body;
    std::string contentLength;
    bool chunked = false, haveLength = false;
    for (const auto& h : reply.headers) {
        std::string name = lower(h.name);
        if (name == "transfer-encoding") {
            std::string v = lower(h.value);
            chunked = v.size() >= 7 && v.compare(v.size() - 7, 7, "chunked") == 0;
            if (!chunked) fail(kHTTPErrorBadReply, "The reply uses an unsupported transfer coding.");
        } else if (name == "content-length") {
            if (haveLength && contentLength != h.value)
                fail(kHTTPErrorBadReply, "The reply has conflicting lengths.");
            haveLength = true;
            contentLength = h.value;
        }
    }
    bool noBody = reply.status == 204 || reply.status == 304 || reply.status < 200;
    if (noBody) {
        // nothing follows the header
    } else if (chunked) {
        readChunked(body);
    } else if (haveLength) {
        if (contentLength.empty() || contentLength.size() > 19)
            fail(kHTTPErrorBadReply, "The reply's length is malformed.");
        size_t length = 0;
        for (char c : contentLength) {
            if (c < '0' || c > '9') fail(kHTTPErrorBadReply, "The reply's length is malformed.");
            length = length * 10 + static_cast<size_t>(c - '0');
        }
        if (length > limits_.maxBodyBytes) fail(kHTTPErrorReplyTooLarge, "The reply is too large.");
        readLength(length, body);
    } else {
        readToEnd(body);
    }
    reply.body = ns::Data::make(body.data(), body.size());
}

}  // namespace

bool parseHTTPURL(const std::string& url, HTTPURL& out) {
    std::string_view s = url;
    size_t colon = s.find("://");
    if (colon == std::string_view::npos || lower(s.substr(0, colon)) != "http") return false;
    s.remove_prefix(colon + 3);
    size_t end = s.find_first_of("/?#");
    std::string_view authority = s.substr(0, end);
    std::string_view rest = end == std::string_view::npos ? std::string_view{} : s.substr(end);
    size_t fragment = rest.find('#');
    if (fragment != std::string_view::npos) rest = rest.substr(0, fragment);
    if (authority.find('@') != std::string_view::npos) return false;
    std::string_view host = authority, port;
    if (!authority.empty() && authority.front() == '[') {
        size_t close = authority.find(']');
        if (close == std::string_view::npos) return false;
        host = authority.substr(1, close - 1);
        std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return false;
            port = after.substr(1);
        }
    } else {
        size_t c = authority.rfind(':');
        if (c != std::string_view::npos) {
            host = authority.substr(0, c);
            port = authority.substr(c + 1);
        }
    }
    if (host.empty() || hasControlCharacters(host) || hasControlCharacters(rest)) return false;
    out.port = 80;
    if (!port.empty()) {
        if (port.size() > 5) return false;
        int p = 0;
        for (char c : port) {
            if (c < '0' || c > '9') return false;
            p = p * 10 + (c - '0');
        }
        if (p < 1 || p > 65535) return false;
        out.port = p;
    }
    out.host = std::string(host);
    out.hostHeader = std::string(authority);
    if (rest.empty()) out.target = "/";
    else if (rest.front() == '?') out.target = "/" + std::string(rest);
    else out.target = std::string(rest);
    for (char c : out.target)
        if (c == ' ') return false;
    return true;
}

SocketHTTPPoster::SocketHTTPPoster() = default;
SocketHTTPPoster::SocketHTTPPoster(Limits limits) : limits_(limits) {}

HTTPPostReply SocketHTTPPoster::post(const std::string& url, const std::vector<HTTPHeader>& headers,
                                     const ns::Data& body, double timeout) {
    HTTPPostReply reply;
    try {
        HTTPURL target;
        if (!parseHTTPURL(url, target)) fail(kHTTPErrorBadURL, "unsupported URL: " + url);
        double seconds = timeout > 0 ? timeout : limits_.defaultTimeout;
        auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(seconds));
        std::string request = "POST " + target.target + " HTTP/1.1\r\nHost: " + target.hostHeader +
                              "\r\n";
        for (const auto& h : headers) {
            std::string name = lower(h.name);
            if (name == "host" || name == "content-length" || name == "connection" ||
                name == "transfer-encoding")
                continue;  // the poster frames the request itself
            if (hasControlCharacters(h.name) || hasControlCharacters(h.value) ||
                h.name.find(':') != std::string::npos)
                fail(kHTTPErrorBadURL, "header " + h.name + " cannot be sent");
            request += h.name + ": " + h.value + "\r\n";
        }
        request += "Content-Length: " + std::to_string(body.length()) + "\r\nConnection: close\r\n\r\n";

        Socket socket;
        socket.connectTo(target, deadline);
        socket.sendAll(request, deadline);
        socket.sendAll(body.view(), deadline);
        ReplyReader(socket, deadline, limits_).read(reply);
    } catch (const PostFailure& f) {
        reply = HTTPPostReply{};
        reply.error = ns::Error::withDescription(kSocketHTTPErrorDomain, f.code, f.text);
    }
    return reply;
}

}  // namespace evernote
