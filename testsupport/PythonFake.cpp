#include "testsupport/PythonFake.h"

#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/foundation/Data.h"
#include "platform/network/URLConnection.h"

namespace testsupport {

namespace {

// Waits at most `seconds` for `pid` to end; true when it has been reaped.
bool reapWithin(pid_t pid, double seconds) {
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        pid_t r = waitpid(pid, nullptr, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR)) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        usleep(10000);
    }
}

}  // namespace

PythonFake::PythonFake(const std::string& script, double startSeconds) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        std::string path = std::string(DECK_SOURCE_DIR) + "/" + script;
        execlp("python3", "python3", path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    if (pid_ < 0) {
        close(fds[0]);
        return;
    }
    // The first line, read as it arrives, within the time allowed.
    std::string line;
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(startSeconds);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0 || line.size() >= 32) break;
        pollfd p{fds[0], POLLIN, 0};
        int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char c;
        if (read(fds[0], &c, 1) != 1 || c == '\n') break;
        line += c;
    }
    close(fds[0]);
    port_ = std::atoi(line.c_str());
    if (port_ <= 0 || port_ > 65535) {
        port_ = 0;
        std::fprintf(stderr, "PythonFake: %s printed no port within %.0f s\n", script.c_str(), startSeconds);
        stop(0);
    }
}

PythonFake::~PythonFake() { stop(); }

void PythonFake::stop(double graceSeconds) {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (!reapWithin(pid_, graceSeconds)) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

std::string PythonFake::call(const std::string& path, const std::string& body) const {
    auto req = net::URLRequest::requestWithURL(URL(path));
    if (!body.empty()) {
        req->setHTTPMethod("POST");
        req->setHTTPBody(ns::Data::make(body));
    }
    ns::Ref<net::HTTPURLResponse> response;
    ns::Ref<ns::Error> error;
    auto data = net::URLConnection::sendSynchronousRequest(*req, &response, &error);
    return data ? std::string(data->view()) : std::string();
}

}  // namespace testsupport
