#include "platform/foundation/ReleaseScope.h"

#include <cstdlib>

namespace ns {

void ReleaseScope::putOff(Ref<const Object> element) {
    if (!element) return;
    PutOffList& p = putOff_;
    if (p.size == p.capacity) {
        const size_t capacity = p.capacity ? 2 * p.capacity : 64;
        auto* items = static_cast<const Object**>(std::realloc(p.items, capacity * sizeof(const Object*)));
        if (!items) return;  // no memory to put it off: it is let go here, recursing
        p.items = items;
        p.capacity = capacity;
    }
    p.items[p.size++] = element.leak();
}

void ReleaseScope::letGoOfPutOff() {
    // Runs in the outermost scope (depth 1): an element let go here that
    // is a collection counts its levels from 2, and puts off what lies
    // deeper again; the loop ends once nothing is left.
    PutOffList& p = putOff_;
    while (p.size != 0) p.items[--p.size]->release();
    std::free(p.items);
    p = PutOffList{};
}

}  // namespace ns
