// A fake web service written in Python, run on 127.0.0.1 for the life of one
// test. The script prints its port on its first line; it is stopped when the
// object goes (or when the test process dies, so it never outlives the test).
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/foundation/Object.h"
#include "platform/foundation/URL.h"

namespace testsupport {

class PythonFake {
public:
    // `script` is relative to the repository root, for example
    // "sharing/tests/data/fake_twitter.py". port() is 0 when it did not start
    // or printed no port within `startSeconds` (it is killed then), so a
    // fake that hangs fails the test instead of stopping the test program.
    explicit PythonFake(const std::string& script, double startSeconds = 30);
    ~PythonFake();
    PythonFake(const PythonFake&) = delete;
    PythonFake& operator=(const PythonFake&) = delete;

    int port() const { return port_; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string url(const std::string& path) const { return base() + path; }
    ns::Ref<ns::URL> URL(const std::string& path) const { return ns::URL::URLWithString(url(path)); }
    // GET `path` (a POST when `body` is given); the reply body, "" when none.
    std::string call(const std::string& path, const std::string& body = {}) const;
    std::string get(const std::string& path) const { return call(path); }
    // The fake's process id while it runs, -1 once it is gone.
    pid_t pid() const { return pid_; }
    // Stops the fake: SIGTERM, then SIGKILL when it has not ended within
    // `graceSeconds` (the destructor does this with 5 s).
    void stop(double graceSeconds = 5);

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace testsupport
