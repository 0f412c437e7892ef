#include "testsupport/DigestVerifier.h"

#include <openssl/evp.h>

#include <cstdio>

namespace testsupport {

std::string md5hex(const std::string& s) {
    unsigned char d[16];
    unsigned n;
    EVP_Digest(s.data(), s.size(), d, &n, EVP_md5(), nullptr);
    char hex[33];
    for (int i = 0; i < 16; ++i) snprintf(hex + 2 * i, 3, "%02x", d[i]);
    return hex;
}

std::map<std::string, std::string> digestParams(std::string h) {
    std::map<std::string, std::string> m;
    h = h.substr(h.find(' ') + 1);
    size_t i = 0;
    while (i < h.size()) {
        while (i < h.size() && (h[i] == ' ' || h[i] == ',')) ++i;
        size_t eq = h.find('=', i);
        if (eq == std::string::npos) break;
        std::string k = h.substr(i, eq - i), v;
        i = eq + 1;
        if (h[i] == '"') {
            size_t e = h.find('"', i + 1);
            v = h.substr(i + 1, e - i - 1);
            i = e + 1;
        } else {
            size_t e = h.find(',', i);
            v = h.substr(i, e == std::string::npos ? std::string::npos : e - i);
            i = e == std::string::npos ? h.size() : e;
        }
        m[k] = v;
    }
    return m;
}

}  // namespace testsupport
