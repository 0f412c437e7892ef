#include "testsupport/ChildProcess.h"

#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

pid_t startChildAndWaitUntilReady(const std::function<void(const std::function<void()>& ready)>& body) {
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

pid_t endedProcessId() {
    pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

}  // namespace testsupport
