// Running another program from a test (the simulator, python3 as a peer
// reader) and reading what it printed.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

struct CommandOutput {
    int status = -1;  // the exit status; -1 when it could not start or did not exit
    std::string out;  // what it wrote on standard output
};

// Runs `command` with /bin/sh (add " 2>&1" to read standard error too).
CommandOutput runCommand(const std::string& command);

// Writes `program` to <dir>/<fileName> and runs python3 on it with `args`
// (each quoted); answers what it printed on standard output and error.
std::string runPython(const std::string& dir, const std::string& fileName, const std::string& program,
                      const std::vector<std::string>& args);

// Removes the line ends at the end of `text`.
std::string chomp(std::string text);

}  // namespace testsupport
