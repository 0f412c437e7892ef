#include "testsupport/Certificates.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace testsupport {

Certificates::Certificates() { ok_ = make(); }

std::string Certificates::read(const std::string& name) const {
    std::ifstream f(path(name));
    return {std::istreambuf_iterator<char>(f), {}};
}

bool Certificates::run(const std::string& command) const {
    return std::system(("cd " + dir_.path() + " && " + command + " >/dev/null 2>&1").c_str()) == 0;
}

bool Certificates::make() {
    std::ofstream(path("san.ext")) << "subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                                      "basicConstraints=CA:FALSE\n";
    std::ofstream(path("client.ext")) << "basicConstraints=CA:FALSE\nextendedKeyUsage=clientAuth\n";
    return run("openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj /CN=TestCA") &&
           run("openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj /CN=127.0.0.1") &&
           run("openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 "
               "-extfile san.ext") &&
           run("openssl req -x509 -newkey rsa:2048 -nodes -keyout self.key -out self.pem -days 2 -subj /CN=127.0.0.1 "
               "-addext subjectAltName=IP:127.0.0.1") &&
           run("openssl req -newkey rsa:2048 -nodes -keyout client.key -out client.csr -subj /CN=client") &&
           run("openssl x509 -req -in client.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out client.pem -days 2 "
               "-extfile client.ext");
}

}  // namespace testsupport
