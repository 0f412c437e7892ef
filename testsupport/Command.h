// Running another program from a test (the simulator, python3 as a peer
// reader) and reading what it printed.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

struct CommandOutput {
    int status = -1;        // the exit status; -1 when it could not start or did not exit
    std::string out;        // what it wrote on standard output
    bool timedOut = false;  // it was still running at its time limit and was stopped
    // It ended with kSanitizerReportExitCode: a sanitizer in it (or in the
    // program the shell ran last) reported an error.
    bool sanitizerReported = false;
};

// The exit code a command run by runCommand ends with when a sanitizer
// (address, undefined behaviour, leaks, threads) reported an error in it.
// The address and undefined-behaviour sanitizers end with 1 by default, the
// code korvel and many programs give for an ordinary failure, so a test
// that expects 1 would pass on a report; none of the programs the tests
// start (korvel, timeout, the shell, python3, a child check) ends with
// this one.
inline constexpr int kSanitizerReportExitCode = 97;

// How long a command may run unless the caller says otherwise: far longer
// than any the tests start needs, and well inside CTest's limit for one test.
constexpr double kCommandTimeLimitSeconds = 120;

// Runs `command` with /bin/sh (add " 2>&1" to read standard error too). A
// command still running after `limitSeconds` is stopped with everything it
// started (its process group is killed): the answer then has `timedOut` set,
// status -1, and what was printed until then followed by a line saying so.
// So a program that hangs fails its test instead of stopping the test run.
//
// Every other abnormal end is visible too. The command runs with
// "exitcode=<kSanitizerReportExitCode>" appended to ASAN_OPTIONS,
// UBSAN_OPTIONS, LSAN_OPTIONS and TSAN_OPTIONS (after whatever options the
// environment already gives them, which stay in force): a command that ends
// with that code has `sanitizerReported` set, a line saying so after its
// output, and fails the running test (no test expects a sanitizer's
// report). A command ended by a signal has status -1 and a line naming the
// signal after its output.
CommandOutput runCommand(const std::string& command, double limitSeconds = kCommandTimeLimitSeconds);

// Writes `program` to <dir>/<fileName> and runs python3 on it with `args`
// (each quoted); answers what it printed on standard output and error. It
// is stopped like any command at kCommandTimeLimitSeconds.
std::string runPython(const std::string& dir, const std::string& fileName, const std::string& program,
                      const std::vector<std::string>& args);

// Removes the line ends at the end of `text`.
std::string chomp(std::string text);

}  // namespace testsupport
