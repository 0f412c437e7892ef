// The nonce counts of Digest challenges, shared by every authentication
// object that answers one challenge. A server may refuse a (nonce, count)
// pair it has seen before, so each request must send a count that is new for
// its challenge, whichever object applies it and on whichever thread: the
// objects that separate requests make from the same challenge (every 401
// makes one) draw on one counter here.
//
// A challenge is named by its protection space (the server's origin, or the
// proxy), its realm, nonce and opaque value, so no count is shared between
// origins; the table holds counts only, never credentials. It is bounded:
// past its capacity it forgets the challenge drawn on least recently that no
// object holds any more (else the least recent of all). An object keeps the
// counter it drew on and puts it back when the table has forgotten it, so
// its own counts never start again. A count can come twice only for a
// challenge forgotten while objects of more than `capacity` challenges were
// alive, or for one no object held when it was forgotten.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace net {

class DigestNonceCounts {
public:
    struct Challenge {
        std::string space, realm, nonce, opaque;
        auto operator<=>(const Challenge&) const = default;
    };
    // One challenge's last count given out, held by the table and by the
    // objects that drew on it.
    class Counter;

    static constexpr size_t kDefaultCapacity = 256;
    // At most `capacity` challenges remembered, at most `lastCount` counts
    // given out for each (all that the eight hex digits of "nc" can write).
    explicit DigestNonceCounts(size_t capacity = kDefaultCapacity,
                               uint32_t lastCount = std::numeric_limits<uint32_t>::max());
    DigestNonceCounts(const DigestNonceCounts&) = delete;
    DigestNonceCounts& operator=(const DigestNonceCounts&) = delete;

    // The process's table, which every authentication object draws on.
    static DigestNonceCounts& shared();

    // The next count for `challenge`: 1 the first time, then one more at
    // each call from any thread. `held` is the counter the caller drew on
    // before (null at first, ignored when it belongs to another challenge);
    // it is set to the one drawn on now. 0 once all the counts of the
    // challenge were given out: the challenge cannot be answered again.
    uint32_t next(const Challenge& challenge, std::shared_ptr<Counter>& held);

    // How many challenges the table remembers (at most its capacity).
    size_t size() const;

private:
    const size_t capacity_;
    const uint32_t lastCount_;
    mutable std::mutex mutex_;
    // Most recently drawn on first; the index finds a challenge's place.
    std::list<std::shared_ptr<Counter>> recent_;
    std::map<Challenge, std::list<std::shared_ptr<Counter>>::iterator> index_;
};

}  // namespace net
