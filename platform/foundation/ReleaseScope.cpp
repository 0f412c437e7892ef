#include "platform/foundation/ReleaseScope.h"

#include <cstdlib>

namespace ns {

namespace {
// The elements put off on this thread (owned references), let go last in,
// first out. Plain memory with no destructor of its own, so that a tree
// released while the thread's other objects are destroyed at its end still
// finds it; it is freed whenever the outermost scope has let everything go.
struct PutOff {
    const Object** items = nullptr;
    size_t size = 0;
    size_t capacity = 0;
};
thread_local PutOff putOffElements;
}  // namespace

void ReleaseScope::putOff(Ref<const Object> element) {
    if (!element) return;
    PutOff& p = putOffElements;
    if (p.size == p.capacity) {
        const size_t capacity = p.capacity ? 2 * p.capacity : 64;
        auto* items = static_cast<const Object**>(std::realloc(p.items, capacity * sizeof(const Object*)));
        if (!items) return;  // no memory to put it off: it is let go here, recursing
        p.items = items;
        p.capacity = capacity;
    }
    p.items[p.size++] = element.leak();
    ++putOffCount_;
}

void ReleaseScope::letGoOfPutOff() {
    // Runs in the outermost scope (depth 1): an element let go here that
    // is a collection counts its levels from 2, and puts off what lies
    // deeper again; the loop ends once nothing is left.
    PutOff& p = putOffElements;
    while (p.size != 0) {
        const Object* element = p.items[--p.size];
        --putOffCount_;
        element->release();
    }
    std::free(p.items);
    p = PutOff{};
}

}  // namespace ns
