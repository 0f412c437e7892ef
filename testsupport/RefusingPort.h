// A port on 127.0.0.1 where a connection is refused, for as long as the
// object lives. The port stays bound (but never listens), so no other server
// started meanwhile, by this test or one running beside it, can take it over:
// a port merely found free and closed again can be reused before the test
// connects to it.
#pragma once

#include <cstdint>
#include <string>

namespace testsupport {

class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    uint16_t port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by `path`.
    std::string url(const std::string& path = "") const;

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

}  // namespace testsupport
