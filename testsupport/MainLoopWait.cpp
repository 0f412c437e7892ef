#include "testsupport/MainLoopWait.h"

#include <chrono>
#include <memory>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"

namespace testsupport {

namespace {
bool runInSlices(const std::function<bool()>& condition, double seconds, bool moveManualClock) {
    auto loop = ns::RunLoop::main();
    auto manual = moveManualClock ? ns::cast<ns::ManualClock>(loop->clock()) : nullptr;
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        // The condition may be made true by a thread that does not wake the
        // loop, so the loop runs in short slices.
        loop->runUntil(condition, 0.01);
        if (manual && !condition()) manual->advance(0.05);
    }
    return true;
}
}  // namespace

bool waitUntil(const std::function<bool()>& condition, double seconds) {
    return runInSlices(condition, seconds, false);
}

bool waitMovingClockUntil(const std::function<bool()>& condition, double seconds) {
    return runInSlices(condition, seconds, true);
}

}  // namespace testsupport
