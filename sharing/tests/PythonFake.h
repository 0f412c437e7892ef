// A fake web service written in Python (sharing/tests/data/<script>), run
// on 127.0.0.1 for the life of one test. The script prints its port on its
// first line; it is stopped when the object goes (or when the test process
// dies, so it never outlives the test).
#pragma once

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/foundation/Data.h"
#include "platform/foundation/URL.h"
#include "platform/network/URLConnection.h"

namespace sharing::test {

class PythonFake {
public:
    explicit PythonFake(const std::string& scriptName) {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            std::string script = std::string(DECK_SOURCE_DIR) + "/sharing/tests/data/" + scriptName;
            execlp("python3", "python3", script.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        FILE* f = fdopen(fds[0], "r");
        char line[32] = {0};
        if (f && fgets(line, sizeof line, f)) port_ = std::atoi(line);
        if (f) fclose(f);
    }
    ~PythonFake() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    PythonFake(const PythonFake&) = delete;
    PythonFake& operator=(const PythonFake&) = delete;

    int port() const { return port_; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string url(const std::string& path) const { return base() + path; }
    ns::Ref<ns::URL> URL(const std::string& path) const { return ns::URL::URLWithString(url(path)); }
    // GET `path` (a POST when `body` is given); the reply body, "" when none.
    std::string call(const std::string& path, const std::string& body = {}) const {
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
    std::string get(const std::string& path) const { return call(path); }

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace sharing::test
