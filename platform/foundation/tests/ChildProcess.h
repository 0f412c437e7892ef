// Child processes for tests of what a killed process leaves behind.
#pragma once

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace ns::testing {

// Forks a child that runs `body` (which never returns) and answers its id
// once the child has called the `ready` function it is given: at least one
// unit of its work is done, so a kill from now on catches it in the middle.
// Answers -1 when the child could not be started or ended before it was
// ready.
inline pid_t startChildAndWaitUntilReady(const std::function<void(const std::function<void()>& ready)>& body) {
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
    char c;
    bool ready = child > 0 && ::read(pipeFds[0], &c, 1) == 1;
    ::close(pipeFds[0]);
    if (child > 0 && !ready) ::waitpid(child, nullptr, 0);
    return ready ? child : -1;
}

// The id of a process that has ended (it ran and was reaped): a stand-in
// for the writer of a leftover file.
inline pid_t endedProcessId() {
    pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

}  // namespace ns::testing
