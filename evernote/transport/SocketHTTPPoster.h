// A small blocking HTTP/1.1 client over POSIX sockets: "http" URLs only, one
// connection per post ("Connection: close"), replies framed by Content-Length,
// chunked transfer coding or the end of the connection, interim 1xx replies
// skipped, a deadline over the whole exchange and limits on header and body
// sizes. Errors are in the domain kSocketHTTPErrorDomain with the codes below.
#pragma once

#include <cstddef>
#include <string>

#include "evernote/transport/HTTPPoster.h"

namespace evernote {

inline constexpr const char* kSocketHTTPErrorDomain = "EvernoteHTTPErrorDomain";

enum SocketHTTPError : long {
    kHTTPErrorBadURL = 1,           // not an http URL, or no host
    kHTTPErrorCannotResolve = 2,    // the host name does not resolve
    kHTTPErrorCannotConnect = 3,
    kHTTPErrorTimedOut = 4,
    kHTTPErrorConnectionLost = 5,   // closed or reset before the reply was whole
    kHTTPErrorBadReply = 6,         // not an HTTP reply, or badly framed
    kHTTPErrorReplyTooLarge = 7,
};

class SocketHTTPPoster : public HTTPPoster {
public:
    struct Limits {
        size_t maxHeaderBytes = 64 * 1024;
        size_t maxBodyBytes = 64 * 1024 * 1024;
        double defaultTimeout = 60.0;  // seconds, used when a post passes 0
    };

    SocketHTTPPoster();
    explicit SocketHTTPPoster(Limits limits);

    HTTPPostReply post(const std::string& url, const std::vector<HTTPHeader>& headers,
                       const ns::Data& body, double timeout) override;

    const Limits& limits() const { return limits_; }

private:
    Limits limits_;
};

// Parts of an http URL: host (without brackets), port and the request target.
struct HTTPURL {
    std::string host;
    std::string hostHeader;  // host[:port] as the Host header carries it
    int port = 80;
    std::string target;      // path and query, "/" when empty
};
// False when the URL is not a usable http URL.
bool parseHTTPURL(const std::string& url, HTTPURL& out);

}  // namespace evernote
