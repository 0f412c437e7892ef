// Watches one response body as it arrives and says when it crosses the
// request's limits (ResponseLimits.h): the bytes kept in memory, and the
// size a gzip body inflates to. A gzip body that the request inflates only
// later (on demand, or into the download file at the end) is inflated here
// too as its bytes arrive, so a bomb is recognised while it downloads rather
// than after: into a small scratch buffer that is thrown away for a file
// download, and for a body kept in memory into a buffer that the request
// hands out as the inflated body (takeInflatedBody), so it is inflated once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "net/http/ResponseLimits.h"
#include "platform/foundation/Data.h"

namespace http {

class ResponseBodyGuard {
public:
    // Where the body's bytes go.
    enum class Destination { Memory, File, Delegate };
    struct Limits {
        uint64_t maxKept = kDefaultMaxResponseDataLength;  // in memory, raw or inflated
        uint64_t maxInflated = kDefaultMaxInflatedLength;  // inflated anywhere else
    };
    // Room reserved up front for a gzip body inflated into memory, for each
    // announced (compressed) byte: text inflates several times over, and
    // room never written costs no memory, where growing copies the body.
    static constexpr uint64_t kInflatedRoomPerByte = 8;

    ResponseBodyGuard();
    ~ResponseBodyGuard();
    ResponseBodyGuard(const ResponseBodyGuard&) = delete;
    ResponseBodyGuard& operator=(const ResponseBodyGuard&) = delete;

    // Starts watching a new body: where it goes, whether it is gzip,
    // whether the request inflates it as it arrives, and its announced
    // length (0 when none was).
    void begin(Destination where, bool compressed, bool inflatedOnArrival, Limits limits,
               uint64_t announcedLength = 0);
    // The cap for the decompressor that inflates the body as it arrives
    // (kUnlimitedLength when there is none to cap).
    uint64_t inflationCap() const { return inflationCap_; }
    // Takes raw body bytes as they are read: nil, or the error that ends
    // the request because the body crossed a limit.
    ns::Ref<ns::Error> received(const uint8_t* bytes, size_t length);
    // A gzip body kept in memory, inflated as it arrived: the whole inflated
    // body once its gzip stream ended with the last byte received, nil
    // otherwise (the caller inflates the raw bytes itself then). Once.
    ns::Ref<ns::Data> takeInflatedBody();
    // Whether a gzip body inflated as it arrived was found not to inflate
    // (not gzip or zlib data, or corrupt), and zlib's status then.
    bool inflationFailed(int* status) const;

private:
    class InflatedSizeCounter;
    uint64_t keptLimit_ = kUnlimitedLength;  // raw bytes kept in memory
    uint64_t kept_ = 0;
    uint64_t inflationCap_ = kUnlimitedLength;
    uint64_t countedLimit_ = kUnlimitedLength;  // for a body inflated later
    std::unique_ptr<InflatedSizeCounter> counter_;
};

}  // namespace http
