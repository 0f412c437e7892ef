#include "testsupport/PythonFake.h"

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/foundation/Data.h"
#include "platform/network/URLConnection.h"

namespace testsupport {

PythonFake::PythonFake(const std::string& script) {
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
    FILE* f = fdopen(fds[0], "r");
    char line[32] = {0};
    if (f && fgets(line, sizeof line, f)) port_ = std::atoi(line);
    if (f) fclose(f);
}

PythonFake::~PythonFake() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
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
