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
    // "sharing/tests/data/fake_twitter.py". port() is 0 when it did not start.
    explicit PythonFake(const std::string& script);
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

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace testsupport
