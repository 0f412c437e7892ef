// Builds a message from fuzzed fields and checks the written text: CRLF
// line ends only, no line longer than 998, header lines of printable ASCII,
// and a refusal (not a message) for addresses that would break headers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/mail/MailMessage.h"

namespace {
std::string take(std::string_view& in) {
    size_t cut = in.find('\x01');
    std::string out(in.substr(0, cut));
    in = cut == std::string_view::npos ? std::string_view() : in.substr(cut + 1);
    return out;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::string_view in(reinterpret_cast<const char*>(data) + 1, size - 1);
    mail::MailMessage m;
    m.isHTML = data[0] & 1;
    m.to.push_back(take(in));
    if (data[0] & 2) m.cc.push_back(take(in));
    m.subject = take(in);
    std::string name = take(in);
    m.body = take(in);
    if (data[0] & 4) m.attachments.push_back({ns::Data::make(std::string(in)), "application/octet-stream", name});
    m.date = 1e9;
    m.messageID = "fuzz@localhost";
    auto text = m.render();
    if (!text) return 0;
    const std::string& t = *text;
    size_t lineStart = 0;
    bool inHeader = true;
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] == '\n' && (i == 0 || t[i - 1] != '\r')) __builtin_trap();
        if (t[i] == '\r') {
            if (i + 1 >= t.size() || t[i + 1] != '\n') __builtin_trap();
            if (i - lineStart > 998) __builtin_trap();
            if (inHeader && i == lineStart) inHeader = false;
            lineStart = i + 2;
            continue;
        }
        if (inHeader && t[i] != '\n') {
            unsigned char c = static_cast<unsigned char>(t[i]);
            if (c >= 0x80 || (c < 0x20 && c != '\t')) __builtin_trap();
        }
    }
    return 0;
}
