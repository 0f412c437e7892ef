#include "testsupport/ChildProcess.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <exception>
#include <thread>

namespace testsupport {

namespace {

// Writes all of `length` bytes; false when the pipe would not take them.
bool writeAll(int fd, const char* bytes, size_t length) {
    while (length) {
        ssize_t n = ::write(fd, bytes, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// Reaps `child`, waiting until `deadline` at most; false when it has not
// ended by then (it is left running).
bool reapBefore(pid_t child, std::chrono::steady_clock::time_point deadline, int* status) {
    for (;;) {
        pid_t r = ::waitpid(child, status, WNOHANG);
        if (r == child) return true;
        if (r < 0 && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

std::string describeEnd(int status) {
    if (WIFEXITED(status)) return "exit code " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) {
        const char* name = ::strsignal(WTERMSIG(status));
        return "signal " + std::to_string(WTERMSIG(status)) + " (" + (name ? name : "unknown") + ")";
    }
    return "wait status " + std::to_string(status);
}

std::string failureInChildProcess(const std::function<std::string()>& check, int withinMs) {
    int fds[2];
    if (::pipe(fds) != 0) return "no pipe for the child";
    pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return "no child";
    }
    if (child == 0) {
        ::close(fds[0]);
        // The answer goes with its length first, so that one cut short is
        // told from one written whole.
        // A check that throws fails here: the exception must not reach the
        // test framework in the child, which would go on to run the rest of
        // the tests in a second process.
        std::string answer;
        try {
            answer = check();
        } catch (const std::exception& e) {
            answer = std::string("the check threw: ") + e.what();
        } catch (...) {
            answer = "the check threw";
        }
        const uint64_t length = answer.size();
        const bool whole = writeAll(fds[1], reinterpret_cast<const char*>(&length), sizeof length) &&
                           writeAll(fds[1], answer.data(), answer.size());
        ::_exit(whole ? kCheckedChildExitCode : kCheckedChildExitCode + 1);
    }
    ::close(fds[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(withinMs);
    std::string said;
    bool timedOut = false;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fds[0], POLLIN, 0};
        int ready = left.count() > 0 ? ::poll(&p, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            timedOut = true;
            break;
        }
        char buffer[4096];
        ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        said.append(buffer, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    if (!timedOut && !reapBefore(child, deadline, &status)) timedOut = true;
    if (timedOut) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }

    std::string answer;
    bool whole = false;
    uint64_t length = 0;
    if (said.size() >= sizeof length) {
        std::memcpy(&length, said.data(), sizeof length);
        whole = said.size() - sizeof length == length;
        answer = said.substr(sizeof length);
    }
    std::string failure = answer;
    auto add = [&](const std::string& what) { failure += (failure.empty() ? "" : "; ") + what; };
    if (timedOut) add("the child did not end within " + std::to_string(withinMs) + " ms and was killed");
    else if (!WIFEXITED(status) || WEXITSTATUS(status) != kCheckedChildExitCode)
        add("the child ended with " + describeEnd(status) + ", not exit code " +
            std::to_string(kCheckedChildExitCode) + " (a sanitizer's report is on standard error)");
    else if (!whole) add("the child's answer was cut short");
    return failure;
}

pid_t startChildAndWaitUntilReady(const std::function<void(const std::function<void()>& ready)>& body,
                                  int readyWithinMs) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return -1;
    pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        bool told = false;
        body([&] {
            if (!told) (void)!::write(pipeFds[1], "x", 1);
            told = true;
        });
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    bool ready = false;
    if (child > 0) {
        pollfd p{pipeFds[0], POLLIN, 0};
        int n;
        do n = ::poll(&p, 1, readyWithinMs);
        while (n < 0 && errno == EINTR);
        char c;
        ready = n == 1 && ::read(pipeFds[0], &c, 1) == 1;
        // A child that is not ready in time is stuck: it is stopped, so the test fails
        // instead of waiting for it.
        if (!ready) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
    }
    ::close(pipeFds[0]);
    return ready ? child : -1;
}

std::string killChild(pid_t child) {
    if (child <= 0) return "no child to kill";
    // A child that has ended already is a zombie until it is reaped: the
    // kill does nothing to it, and its status tells how it ended.
    ::kill(child, SIGKILL);
    int status = 0;
    pid_t r;
    do r = ::waitpid(child, &status, 0);
    while (r < 0 && errno == EINTR);
    if (r != child) return "the child could not be reaped";
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return "";
    return "the child had ended before it was killed, with " + describeEnd(status);
}

pid_t endedProcessId() {
    pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

}  // namespace testsupport
