// What the service sharer tests share: a loopback HTTP server (the Evernote
// tests' server, one connection at a time on its own thread), a form-body
// parser written independently of the sharers' encoders, and waiting on the
// main run loop.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "evernote/tests/LoopbackHTTPServer.h"
#include "platform/foundation/RunLoop.h"
#include "sharing/tests/SharingTestSupport.h"

namespace sharing::test {

using evernote::test::HTTPRequest;
using evernote::test::LoopbackHTTPServer;

inline std::string percentDecode(const std::string& s, bool plusIsSpace = true) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '+' && plusIsSpace) out += ' ';
        else if (c == '%' && i + 2 < s.size() + 0 && isxdigit(static_cast<unsigned char>(s[i + 1])) &&
                 isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else out += c;
    }
    return out;
}

// name -> value of an "a=1&b=2" body or query (later duplicates win; a
// piece without "=" maps to "").
inline std::map<std::string, std::string> parseForm(const std::string& body) {
    std::map<std::string, std::string> out;
    size_t start = 0;
    while (start <= body.size()) {
        size_t amp = body.find('&', start);
        std::string piece = body.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
        if (!piece.empty()) {
            size_t eq = piece.find('=');
            if (eq == std::string::npos) out[percentDecode(piece)] = "";
            else out[percentDecode(piece.substr(0, eq))] = percentDecode(piece.substr(eq + 1));
        }
        if (amp == std::string::npos) break;
        start = amp + 1;
    }
    return out;
}

inline std::string pathOf(const std::string& target) { return target.substr(0, target.find('?')); }
inline std::string queryOf(const std::string& target) {
    size_t q = target.find('?');
    return q == std::string::npos ? "" : target.substr(q + 1);
}
inline std::string baseOf(const LoopbackHTTPServer& server) {
    return "http://127.0.0.1:" + std::to_string(server.port());
}

}  // namespace sharing::test
