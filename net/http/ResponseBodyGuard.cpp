#include "net/http/ResponseBodyGuard.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace http {

namespace {
// The most room reserved for an inflated body before any of it arrived.
constexpr uint64_t kMaxInflatedRoom = uint64_t(256) << 20;
}  // namespace

// Inflates as the bytes arrive and counts: the size a gzip body will have.
// Without a place to keep the output it inflates into a scratch buffer (the
// memory cost of one zlib stream); with one, the output is kept there, so
// the body is inflated once. Data that is not gzip or zlib stops the count
// (the request's own inflation reports it later).
class ResponseBodyGuard::InflatedSizeCounter {
public:
    // `room`: what to reserve for the kept output (when it is kept).
    InflatedSizeCounter(bool keep, size_t room) {
        std::memset(&z_, 0, sizeof z_);
        ready_ = inflateInit2(&z_, 47) == Z_OK;
        if (keep) kept_ = ns::MutableData::make(room);
    }
    ~InflatedSizeCounter() {
        if (ready_) inflateEnd(&z_);
    }
    // Feeds bytes; answers the inflated size so far.
    uint64_t add(const uint8_t* bytes, size_t length, uint64_t limit) {
        if (!ready_ || ended_) {
            if (length) whole_ = false;
            return total_;
        }
        z_.next_in = const_cast<Bytef*>(bytes);
        z_.avail_in = static_cast<uInt>(length);
        while (total_ <= limit) {
            size_t room = sizeof scratch_;
            z_.next_out = output(room);
            z_.avail_out = static_cast<uInt>(room);
            int status = inflate(&z_, Z_NO_FLUSH);
            size_t produced = room - z_.avail_out;
            total_ += produced;
            if (kept_ && total_ <= limit) kept_->commitAppended(produced);
            if (status == Z_STREAM_END || (status != Z_OK && status != Z_BUF_ERROR)) {
                ended_ = true;
                status_ = status;
                whole_ = status == Z_STREAM_END && z_.avail_in == 0;
                break;
            }
            // Everything taken and nothing more to give until new input.
            if (status == Z_BUF_ERROR || (z_.avail_in == 0 && z_.avail_out != 0)) break;
        }
        return total_;
    }
    // The zlib status that ended inflation (Z_OK while it has not ended).
    bool failed(int* status) const {
        if (ended_ && status_ != Z_STREAM_END) *status = status_;
        return ended_ && status_ != Z_STREAM_END;
    }
    // The kept output of a whole gzip stream, once; nil otherwise.
    ns::Ref<ns::Data> takeKept() {
        if (!ended_ || !whole_) return nullptr;
        return std::exchange(kept_, nullptr);
    }

private:
    // Where the next inflation writes, at most `room` bytes (lowered to the
    // room reserved for kept output while some is left): kept output is
    // inflated straight into the room past its end, not zero-filled first.
    Bytef* output(size_t& room) {
        if (!kept_) return scratch_;
        if (size_t left = kept_->capacity() - kept_->length()) room = std::min(room, left);
        return kept_->roomToAppend(room);
    }

    z_stream z_;
    bool ready_ = false;
    bool ended_ = false;
    bool whole_ = false;
    int status_ = Z_OK;
    uint64_t total_ = 0;
    ns::Ref<ns::MutableData> kept_;
    Bytef scratch_[65536];
};

ResponseBodyGuard::ResponseBodyGuard() = default;
ResponseBodyGuard::~ResponseBodyGuard() = default;

void ResponseBodyGuard::begin(Destination where, bool compressed, bool inflatedOnArrival, Limits limits,
                              uint64_t announcedLength) {
    kept_ = 0;
    counter_.reset();
    bool inflatingNow = compressed && inflatedOnArrival;
    bool inflatingLater = compressed && !inflatedOnArrival && where != Destination::Delegate;
    uint64_t inflationLimit = where == Destination::Memory ? limits.maxKept : limits.maxInflated;
    keptLimit_ = where == Destination::Memory && !inflatingNow ? limits.maxKept : kUnlimitedLength;
    inflationCap_ = inflatingNow ? inflationLimit : kUnlimitedLength;
    countedLimit_ = inflatingLater ? inflationLimit : kUnlimitedLength;
    if (inflatingLater && countedLimit_ != kUnlimitedLength) {
        // The server's length, multiplied without wrapping round.
        uint64_t room = std::min(countedLimit_, kMaxInflatedRoom);
        if (uint64_t wanted; !__builtin_mul_overflow(announcedLength, kInflatedRoomPerByte, &wanted))
            room = std::min(room, wanted);
        counter_ = std::make_unique<InflatedSizeCounter>(where == Destination::Memory, static_cast<size_t>(room));
    }
}

ns::Ref<ns::Error> ResponseBodyGuard::received(const uint8_t* bytes, size_t length) {
    kept_ += length;
    if (kept_ > keptLimit_) return responseTooLargeError(keptLimit_);
    if (counter_ && counter_->add(bytes, length, countedLimit_) > countedLimit_)
        return inflatedResponseTooLargeError(countedLimit_);
    return nullptr;
}

ns::Ref<ns::Data> ResponseBodyGuard::takeInflatedBody() { return counter_ ? counter_->takeKept() : nullptr; }

bool ResponseBodyGuard::inflationFailed(int* status) const { return counter_ && counter_->failed(status); }

}  // namespace http
