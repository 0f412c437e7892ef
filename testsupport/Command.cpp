#include "testsupport/Command.h"

#include <sys/wait.h>

#include <cstdio>
#include <fstream>

namespace testsupport {

CommandOutput runCommand(const std::string& command) {
    CommandOutput r;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

std::string runPython(const std::string& dir, const std::string& fileName, const std::string& program,
                      const std::vector<std::string>& args) {
    std::string script = dir + "/" + fileName;
    std::ofstream(script) << program;
    std::string cmd = "python3 '" + script + "'";
    for (auto& a : args) cmd += " '" + a + "'";
    return runCommand(cmd + " 2>&1").out;
}

std::string chomp(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

}  // namespace testsupport
