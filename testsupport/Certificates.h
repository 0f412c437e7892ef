// A temporary folder with a test CA, a server certificate signed by it for
// 127.0.0.1 and localhost, a self-signed server certificate, and a client
// certificate signed by the CA; made with the openssl command. ok() is false
// when the command is missing.
#pragma once

#include <string>

#include "testsupport/TempDir.h"

namespace testsupport {

class Certificates {
public:
    Certificates();
    bool ok() const { return ok_; }
    // "ca.pem", "server.pem", "server.key", "self.pem", "self.key",
    // "client.pem", "client.key" inside the folder.
    std::string path(const std::string& name) const { return dir_ / name; }
    std::string read(const std::string& name) const;

private:
    bool run(const std::string& command) const;
    bool make();

    TempDir dir_{"nettls"};
    bool ok_ = false;
};

}  // namespace testsupport
