// Waiting in a test for something that arrives in real time (a reply of a
// loopback server, a thread's work): the main run loop runs in short slices
// until the condition holds, for at most `seconds` of real time. Both answer
// whether the condition held; a wait that times out fails the test's check.
//
// A wait for an event is given up only when the event is surely not coming:
// its limit is far above what the awaited work takes on a loaded machine, so
// that no test needs a machine at rest to pass.
#pragma once

#include <functional>

namespace testsupport {

// The limit of a wait for an event that a passing test always sees.
constexpr double kEventWaitSeconds = 120;

// The main loop's clock stays where it is.
bool waitUntil(const std::function<bool()>& condition, double seconds = kEventWaitSeconds);

// As above, and where the main loop runs on a manual clock, each quiet slice
// of 10 ms also moves that clock on by 50 ms, so that transitions, fades and
// delayed calls on it happen too (at most 5 s of clock time per real second).
bool waitMovingClockUntil(const std::function<bool()>& condition, double seconds = kEventWaitSeconds);

}  // namespace testsupport
