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
};

// How long a command may run unless the caller says otherwise: far longer
// than any the tests start needs, and well inside CTest's limit for one test.
constexpr double kCommandTimeLimitSeconds = 120;

// Runs `command` with /bin/sh (add " 2>&1" to read standard error too). A
// command still running after `limitSeconds` is stopped with everything it
// started (its process group is killed): the answer then has `timedOut` set,
// status -1, and what was printed until then followed by a line saying so.
// So a program that hangs fails its test instead of stopping the test run.
CommandOutput runCommand(const std::string& command, double limitSeconds = kCommandTimeLimitSeconds);

// Writes `program` to <dir>/<fileName> and runs python3 on it with `args`
// (each quoted); answers what it printed on standard output and error. It
// is stopped like any command at kCommandTimeLimitSeconds.
std::string runPython(const std::string& dir, const std::string& fileName, const std::string& program,
                      const std::vector<std::string>& args);

// Removes the line ends at the end of `text`.
std::string chomp(std::string text);

}  // namespace testsupport
