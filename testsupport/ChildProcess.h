// Child processes: for code that may crash, so that a crash fails one test
// instead of ending the test program, and for tests of what a killed
// process leaves behind.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace testsupport {

// Runs `check` in a child process and answers what went wrong: "" when
// `check` answered "" and the child then ended the one way a child that
// ran it through ends (its whole answer written, exit code
// kCheckedChildExitCode). Anything else is a failure, named in the answer
// after what `check` said: an end by a signal (a crash, an abort), any
// other exit code (a sanitizer reports an error with one: 1 by default for
// the address and undefined-behaviour sanitizers, 66 for the thread
// sanitizer; its report is on the child's standard error, which is the
// test's), an answer cut short, or no end within `withinMs` (the child is
// then killed).
std::string failureInChildProcess(const std::function<std::string()>& check, int withinMs = 120000);

// The exit code of a child that ran its check through; chosen to be none
// that a sanitizer, the C library or a test program's own exit gives.
inline constexpr int kCheckedChildExitCode = 86;

// How a process ended, from its wait status: "exit code 1", "signal 11
// (Segmentation fault)".
std::string describeEnd(int status);

// Forks a child that runs `body` (which never returns) and answers its id
// once the child has called the `ready` function it is given: at least one
// unit of its work is done, so a kill from now on catches it in the middle.
// Answers -1 when the child could not be started, ended before it was
// ready, or was not ready within `readyWithinMs` (it is then killed).
pid_t startChildAndWaitUntilReady(const std::function<void(const std::function<void()>& ready)>& body,
                                  int readyWithinMs = 30000);

// Kills a child that is meant to be running still (one from
// startChildAndWaitUntilReady, or any child whose work never ends by
// itself) with SIGKILL and reaps it. Answers "" when that kill ended it;
// otherwise how it had ended before it: an exit (a body that gave up, a
// sanitizer's report) or another signal (a crash), so that the test fails
// instead of judging what a crash left as what a kill left.
std::string killChild(pid_t child);

// The id of a process that has ended (it ran and was reaped): a stand-in
// for the writer of a leftover file.
pid_t endedProcessId();

}  // namespace testsupport
