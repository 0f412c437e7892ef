// Child processes for tests of what a killed process leaves behind.
#pragma once

#include <sys/types.h>

#include <functional>

namespace testsupport {

// Forks a child that runs `body` (which never returns) and answers its id
// once the child has called the `ready` function it is given: at least one
// unit of its work is done, so a kill from now on catches it in the middle.
// Answers -1 when the child could not be started, ended before it was
// ready, or was not ready within `readyWithinMs` (it is then killed).
pid_t startChildAndWaitUntilReady(const std::function<void(const std::function<void()>& ready)>& body,
                                  int readyWithinMs = 30000);

// The id of a process that has ended (it ran and was reaped): a stand-in
// for the writer of a leftover file.
pid_t endedProcessId();

}  // namespace testsupport
