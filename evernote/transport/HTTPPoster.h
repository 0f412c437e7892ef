// What the Thrift HTTP transport needs from the network: send one POST with
// the given headers and body and wait for the whole reply.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"

namespace evernote {

struct HTTPHeader {
    std::string name;
    std::string value;
};

struct HTTPPostReply {
    // Set when no reply arrived (bad URL, no connection, time-out, a reply that
    // is not HTTP or longer than the limit); the other members are then
    // meaningless.
    ns::Ref<ns::Error> error;
    // False when the URL's loader produced a reply that is not an HTTP reply
    // (its kind is then in replyType); the socket poster always answers HTTP.
    bool isHTTP = true;
    std::string replyType;
    int status = 0;
    std::vector<HTTPHeader> headers;
    ns::Ref<ns::Data> body;  // never nil when error is nil
};

class HTTPPoster {
public:
    virtual ~HTTPPoster() = default;
    // Blocks until the reply has arrived or the post failed. timeout is in
    // seconds and limits the silence between bytes (connecting, sending,
    // waiting for and reading the reply), not the whole exchange: a reply
    // that keeps arriving, however slowly, is waited for. 0 means the
    // poster's default, 60 s for URLLoadingHTTPPoster. A reply body longer
    // than maxReplyBytes (0: no limit) is an error, found as early as the
    // poster can (an announced length, or as the bytes arrive).
    virtual HTTPPostReply post(const std::string& url, const std::vector<HTTPHeader>& headers,
                               const ns::Data& body, double timeout, uint64_t maxReplyBytes) = 0;
};

}  // namespace evernote
