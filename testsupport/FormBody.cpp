#include "testsupport/FormBody.h"

namespace testsupport {

namespace {
int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
}  // namespace

std::string percentDecode(const std::string& s, bool plusIsSpace) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2])));
            i += 2;
        } else {
            out.push_back(s[i] == '+' && plusIsSpace ? ' ' : s[i]);
        }
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> formPairs(const std::string& body) {
    std::vector<std::pair<std::string, std::string>> out;
    if (body.empty()) return out;
    size_t pos = 0;
    while (true) {
        size_t amp = body.find('&', pos);
        std::string piece = body.substr(pos, amp == std::string::npos ? std::string::npos : amp - pos);
        size_t eq = piece.find('=');
        out.emplace_back(percentDecode(piece.substr(0, eq)),
                         eq == std::string::npos ? "" : percentDecode(piece.substr(eq + 1)));
        if (amp == std::string::npos) break;
        pos = amp + 1;
    }
    return out;
}

std::map<std::string, std::string> formFields(const std::string& body) {
    std::map<std::string, std::string> out;
    for (auto& [name, value] : formPairs(body))
        if (!name.empty() || !value.empty()) out[name] = value;
    return out;
}

std::string pathOf(const std::string& target) { return target.substr(0, target.find('?')); }

std::string queryOf(const std::string& target) {
    size_t q = target.find('?');
    return q == std::string::npos ? "" : target.substr(q + 1);
}

}  // namespace testsupport
