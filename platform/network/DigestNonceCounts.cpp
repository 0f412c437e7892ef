#include "platform/network/DigestNonceCounts.h"

#include <algorithm>
#include <iterator>

namespace net {

// Read and written only under the table's lock.
class DigestNonceCounts::Counter {
public:
    explicit Counter(Challenge c) : challenge(std::move(c)) {}
    const Challenge challenge;
    uint32_t last = 0;
};

DigestNonceCounts::DigestNonceCounts(size_t capacity, uint32_t lastCount)
    : capacity_(std::max<size_t>(capacity, 1)), lastCount_(lastCount) {}

DigestNonceCounts& DigestNonceCounts::shared() {
    // Never destroyed: objects may draw on it while the process exits.
    static DigestNonceCounts& table = *new DigestNonceCounts;
    return table;
}

uint32_t DigestNonceCounts::next(const Challenge& challenge, std::shared_ptr<Counter>& held) {
    std::lock_guard<std::mutex> g(mutex_);
    if (held && held->challenge != challenge) held.reset();
    std::shared_ptr<Counter> counter;
    auto found = index_.find(challenge);
    if (found != index_.end()) {
        counter = *found->second;
        recent_.splice(recent_.begin(), recent_, found->second);
        // The caller's counter was forgotten and another made since: go on
        // past the counts of both.
        if (held && held != counter) counter->last = std::max(counter->last, held->last);
    } else {
        counter = held ? held : std::make_shared<Counter>(challenge);
        recent_.push_front(counter);
        index_.emplace(challenge, recent_.begin());
        while (recent_.size() > capacity_) {
            // The least recent challenge no object holds any more, else
            // the least recent of all (the new one is first and held).
            auto victim = std::prev(recent_.end());
            for (auto it = victim;; --it) {
                if (it->use_count() == 1) {
                    victim = it;
                    break;
                }
                if (it == recent_.begin()) break;
            }
            index_.erase((*victim)->challenge);
            recent_.erase(victim);
        }
    }
    held = counter;
    if (counter->last >= lastCount_) return 0;
    return ++counter->last;
}

size_t DigestNonceCounts::size() const {
    std::lock_guard<std::mutex> g(mutex_);
    return recent_.size();
}

}  // namespace net
