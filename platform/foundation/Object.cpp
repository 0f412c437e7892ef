#include "platform/foundation/Object.h"

#include <cstdio>

namespace ns {

Object::~Object() = default;

std::string Object::description() const {
    char buf[64];
    std::snprintf(buf, sizeof buf, ": %p>", static_cast<const void*>(this));
    return std::string("<") + className() + buf;
}

detail::WeakLink* Object::weakLink() const {
    detail::WeakLink* link = weak_.load(std::memory_order_acquire);
    if (link) return link;
    auto* fresh = new detail::WeakLink;
    fresh->target = const_cast<Object*>(this);
    if (weak_.compare_exchange_strong(link, fresh, std::memory_order_acq_rel)) return fresh;
    delete fresh;  // another thread installed one first
    return link;
}

bool tryRetainFromWeak(const Object* o) {
    // Called with the weak link's mutex held, so the object cannot be freed
    // underneath us; it may however already be on its way out (count 0).
    uint32_t n = o->refs_.load(std::memory_order_relaxed);
    while (n != 0) {
        if (o->refs_.compare_exchange_weak(n, n + 1, std::memory_order_acq_rel)) return true;
    }
    return false;
}

void Object::destroy() const {
    if (detail::WeakLink* link = weak_.load(std::memory_order_acquire)) {
        {
            std::lock_guard<std::mutex> g(link->mutex);
            // A weak upgrade may have revived the object between our count
            // reaching zero and taking the lock; then it lives on.
            if (refs_.load(std::memory_order_acquire) != 0) return;
            link->target = nullptr;
        }
        link->release();
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
