// The Thrift transport's poster on the shared URL loading: one synchronous
// POST per call, on the calling thread, with the same TLS validation,
// proxies and connection reuse as every other request of the process. It
// follows no redirect: a 3xx answer is the reply.
#pragma once

#include "evernote/transport/HTTPPoster.h"

namespace evernote {

// Errors of this poster that happen before any loading starts.
inline constexpr const char* kURLLoadingPosterErrorDomain = "EvernoteHTTPErrorDomain";
inline constexpr long kURLLoadingPosterBadURL = 1;
// A reply that announced a body longer than the post's limit; loading stopped
// there. A body that grows past the limit fails in the URL loading
// (net::kErrorDataLengthExceedsMaximum).
inline constexpr long kURLLoadingPosterReplyTooLarge = 2;

class URLLoadingHTTPPoster : public HTTPPoster {
public:
    // Timeout used when a post passes 0.
    static constexpr double kDefaultTimeout = 60.0;

    // Blocks until the reply has arrived. A reply of any status is a reply
    // (a redirect too);
    // an unusable URL, no connection, a time-out or a broken reply is an
    // error (the URL loading's own error object); a body beyond the limit
    // stops the loading as soon as it shows.
    HTTPPostReply post(const std::string& url, const std::vector<HTTPHeader>& headers,
                       const ns::Data& body, double timeout, uint64_t maxReplyBytes) override;
};

}  // namespace evernote
