#include "testsupport/Command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "testsupport/ChildProcess.h"

extern char** environ;

namespace testsupport {

namespace {

// The test's environment with "exitcode=<kSanitizerReportExitCode>" added
// to each sanitizer's options. It goes last: of two settings of one flag
// the later holds, and the options already there (CI's) stay in force.
std::vector<std::string> commandEnvironment() {
    const std::string setting = "exitcode=" + std::to_string(kSanitizerReportExitCode);
    std::vector<std::string> options = {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"};
    std::vector<bool> given(options.size(), false);
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        std::string entry(*e);
        for (size_t i = 0; i < options.size(); ++i) {
            if (entry.compare(0, options[i].size() + 1, options[i] + "=") == 0) {
                entry += ":" + setting;
                given[i] = true;
            }
        }
        env.push_back(std::move(entry));
    }
    for (size_t i = 0; i < options.size(); ++i)
        if (!given[i]) env.push_back(options[i] + "=" + setting);
    return env;
}

}  // namespace

CommandOutput runCommand(const std::string& command, double limitSeconds) {
    using Clock = std::chrono::steady_clock;
    CommandOutput r;
    // Made before the fork: the child only calls what is safe between a
    // fork and an exec.
    std::vector<std::string> env = commandEnvironment();
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    char shell[] = "sh";
    char dashC[] = "-c";
    std::vector<char> script(command.c_str(), command.c_str() + command.size() + 1);
    char* argv[] = {shell, dashC, script.data(), nullptr};
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return r;
    pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return r;
    }
    if (pid == 0) {
        // A group of its own, so that whatever the shell starts is stopped
        // with it.
        ::setpgid(0, 0);
        ::dup2(fds[1], STDOUT_FILENO);
        ::execve("/bin/sh", argv, envp.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid);  // also here: the child may not have run yet
    ::close(fds[1]);
    const auto deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(limitSeconds));
    auto msLeft = [&] {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        return static_cast<int>(std::clamp<long long>(left, 0, 60000));
    };
    char buf[4096];
    while (true) {
        int wait = msLeft();
        if (wait <= 0) {
            r.timedOut = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        int n = ::poll(&p, 1, wait);
        if (n < 0 && errno != EINTR) break;
        if (n <= 0) continue;
        ssize_t got = ::read(fds[0], buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;  // the end: everything that held the pipe has gone
        r.out.append(buf, static_cast<size_t>(got));
    }
    ::close(fds[0]);
    int st = 0;
    bool reaped = false;
    while (!reaped) {
        if (r.timedOut) ::kill(-pid, SIGKILL);
        pid_t w = ::waitpid(pid, &st, r.timedOut ? 0 : WNOHANG);
        if (w == pid) {
            reaped = true;
        } else if (w < 0 && errno != EINTR) {
            break;
        } else if (w == 0) {
            // The output ended but the shell has not: it gets what is left
            // of the limit.
            if (msLeft() <= 0) r.timedOut = true;
            else std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    if (r.timedOut) {
        std::ostringstream note;
        if (!r.out.empty() && r.out.back() != '\n') note << '\n';
        note << "[stopped: still running after " << limitSeconds << " s]\n";
        r.out += note.str();
        r.status = -1;
    } else {
        r.status = reaped && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        std::string end;
        if (reaped && WIFSIGNALED(st)) end = "[ended by " + describeEnd(st) + "]\n";
        if (r.status == kSanitizerReportExitCode) {
            r.sanitizerReported = true;
            end = "[a sanitizer reported an error: exit code " + std::to_string(kSanitizerReportExitCode) + "]\n";
            ADD_FAILURE() << "a sanitizer reported an error in: " << command
                          << "\n(its report is on standard error, or in the output when the command sent it there)";
        }
        if (!end.empty() && !r.out.empty() && r.out.back() != '\n') r.out += '\n';
        r.out += end;
    }
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
