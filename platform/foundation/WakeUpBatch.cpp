#include "platform/foundation/WakeUpBatch.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/foundation/RunLoop.h"

namespace ns {

namespace {
struct HeldWakeUps {
    int depth = 0;
    // Usually one loop (the main one): a vector searched in place is cheaper
    // than any set.
    std::vector<Ref<RunLoop>> loops;
    std::chrono::steady_clock::time_point heldSince;
};
thread_local HeldWakeUps tHeld;
}  // namespace

WakeUpBatch::Scope::Scope() { ++tHeld.depth; }

WakeUpBatch::Scope::~Scope() {
    if (--tHeld.depth == 0) flush();
}

bool WakeUpBatch::defer(RunLoop& loop) {
    if (tHeld.depth == 0) return false;
    auto& loops = tHeld.loops;
    if (loops.empty()) tHeld.heldSince = std::chrono::steady_clock::now();
    if (std::none_of(loops.begin(), loops.end(), [&](const Ref<RunLoop>& l) { return l.get() == &loop; }))
        loops.emplace_back(&loop);
    return true;
}

void WakeUpBatch::flushIfHeldLongerThan(double seconds) {
    if (tHeld.loops.empty()) return;
    if (std::chrono::steady_clock::now() - tHeld.heldSince > std::chrono::duration<double>(seconds)) flush();
}

void WakeUpBatch::flush() {
    if (tHeld.loops.empty()) return;
    // Taken out first: a wake-up never queues more, but keep the list sound
    // whatever wakeUp() does.
    std::vector<Ref<RunLoop>> loops;
    loops.swap(tHeld.loops);
    for (auto& l : loops) l->wakeUp();
    loops.clear();
    if (tHeld.loops.empty()) tHeld.loops.swap(loops);  // keep the capacity
}

bool WakeUpBatch::pending() { return !tHeld.loops.empty(); }

}  // namespace ns
