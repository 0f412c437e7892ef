// Letting a tree of collections go without recursing once per level.
//
// A collection lets its elements go inside a ReleaseScope, made in its
// destructor. Scopes count how deep the destructions on a thread are
// nested; a collection destroyed deeper than kDepth levels hands its
// elements to putOff() instead of letting them go itself, and the outermost
// scope lets the put-off elements go one after the other when it ends, each
// counting its own levels from there. So however deep a tree (a parsed
// document, a list that contains a list ...), releasing it takes the stack
// of kDepth levels; the elements of the deepest collections are only let go
// a little later, before the release of the tree returns. A collection
// never reaches back to the collection that held it, so the order does not
// matter to it.
#pragma once

#include <cstddef>

#include "platform/foundation/Object.h"

namespace ns {

class ReleaseScope {
public:
    // Levels of collections let go on the stack before their elements are
    // put off: at most a few kilobytes a level even in sanitizer builds.
    static constexpr int kDepth = 64;

    ReleaseScope() noexcept { ++depth_; }
    ~ReleaseScope() {
        if (depth_ == 1 && putOff_.size != 0) letGoOfPutOff();
        --depth_;
    }
    ReleaseScope(const ReleaseScope&) = delete;
    ReleaseScope& operator=(const ReleaseScope&) = delete;

    // Whether this collection lies too deep to let its elements go itself:
    // it hands each one to putOff() instead.
    bool deep() const { return depth_ > kDepth; }
    // Takes over a reference, let go when the outermost scope ends.
    static void putOff(Ref<const Object> element);
    // Takes over the `count` references held in raw slots (nil ones skipped).
    static void putOffAll(Object* const* slots, size_t count) {
        for (size_t i = 0; i < count; ++i) putOff(Ref<const Object>::adopt(slots[i]));
    }

private:
    // The elements put off on this thread (owned references), let go last
    // in, first out. Plain memory with no destructor of its own, so that a
    // tree let go while the thread's other objects are destroyed at its end
    // still finds it; it is freed whenever the outermost scope has let
    // everything go.
    struct PutOffList {
        const Object** items;
        size_t size;
        size_t capacity;
    };
    static void letGoOfPutOff();
    static inline thread_local int depth_ = 0;
    static inline thread_local PutOffList putOff_{};
};

}  // namespace ns
