#include "testsupport/ChildProcess.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace testsupport {

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

pid_t endedProcessId() {
    pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

}  // namespace testsupport
