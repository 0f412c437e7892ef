#include "platform/foundation/Object.h"

#include <cstdio>
#include <unordered_map>

namespace ns {

std::string Object::description() const {
    char buf[64];
    std::snprintf(buf, sizeof buf, ": %p>", static_cast<const void*>(this));
    return std::string("<") + className() + buf;
}

namespace {

// Weak-link blocks of live objects, keyed by address. Sharded so that
// threads making or dropping weak links of different objects rarely meet.
struct WeakTable {
    static constexpr size_t kShards = 16;
    struct Shard {
        std::mutex mutex;
        std::unordered_map<const Object*, detail::WeakLink*> links;
    };
    Shard shards[kShards];
    Shard& shardFor(const Object* o) {
        return shards[(reinterpret_cast<uintptr_t>(o) >> 4) % kShards];
    }
};

WeakTable& weakTable() {
    static WeakTable* table = new WeakTable;  // outlives every object
    return *table;
}

}  // namespace

detail::WeakLink* Object::weakLink() const {
    WeakTable::Shard& shard = weakTable().shardFor(this);
    std::lock_guard<std::mutex> g(shard.mutex);
    auto [it, inserted] = shard.links.try_emplace(this, nullptr);
    if (inserted) {
        it->second = new detail::WeakLink;
        it->second->target = const_cast<Object*>(this);
        refs_.fetch_or(kHasWeakLink, std::memory_order_acq_rel);
    }
    return it->second;
}

bool tryRetainFromWeak(const Object* o) {
    // Called with the weak link's mutex held, so the object cannot be freed
    // underneath us; it may however already be on its way out (count 0).
    uint32_t n = o->refs_.load(std::memory_order_relaxed);
    while ((n & Object::kCountMask) != 0) {
        if (o->refs_.compare_exchange_weak(n, n + 1, std::memory_order_acq_rel)) return true;
    }
    return false;
}

void Object::destroy(uint32_t countWord) const {
    if (countWord & kHasWeakLink) {
        detail::WeakLink* link = nullptr;
        {
            WeakTable::Shard& shard = weakTable().shardFor(this);
            std::lock_guard<std::mutex> g(shard.mutex);
            auto it = shard.links.find(this);
            if (it != shard.links.end()) {
                link = it->second;
                shard.links.erase(it);
            }
        }
        if (link) {
            // Once the target is cleared under the link's mutex, no weak
            // upgrade can still be looking at this object.
            {
                std::lock_guard<std::mutex> g(link->mutex);
                link->target = nullptr;
            }
            link->release();
        }
    }
    delete this;
}

bool equal(const Object* a, const Object* b) {
    if (a == b) return true;
    if (!a || !b) return false;
    return a->isEqual(*b);
}

std::string describe(const Object* o) { return o ? o->description() : std::string("(null)"); }

}  // namespace ns
