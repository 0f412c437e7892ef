// Feeds arbitrary bytes to the HTTP response parser, whole and split at a
// point taken from the input, and checks both readings agree (state, body
// and header fields).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/network/ResponseParser.h"

static void readAll(const char* p, size_t n, size_t split, std::string& body, net::ResponseParser& parser) {
    size_t used = parser.feed(p, split, &body);
    if (used == split && !parser.isComplete() && !parser.failed()) parser.feed(p + split, n - split, &body);
    parser.finish();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    bool head = data[0] & 1;
    size_t split = size > 1 ? data[0] % size : 0;
    const char* p = reinterpret_cast<const char*>(data + 1);
    size_t n = size - 1;
    if (split > n) split = n;
    net::ResponseLimits limits;
    limits.maxHeaderBlockBytes = 4096;
    limits.maxBodyBytes = 1 << 16;
    net::ResponseParser a(limits), b(limits);
    a.setRequestMethod(head ? "HEAD" : "GET");
    b.setRequestMethod(head ? "HEAD" : "GET");
    std::string bodyA, bodyB;
    readAll(p, n, n, bodyA, a);
    readAll(p, n, split, bodyB, b);
    if (a.isComplete() != b.isComplete() || a.failed() != b.failed()) std::abort();
    if (a.isComplete() && bodyA != bodyB) std::abort();
    // The header block read in place (whole) and line by line (split) gives
    // the same fields.
    if (a.response() && b.response()) {
        const auto& fa = a.response()->headers();
        const auto& fb = b.response()->headers();
        if (fa.size() != fb.size()) std::abort();
        for (size_t i = 0; i < fa.size(); ++i)
            if (fa.field(i) != fb.field(i)) std::abort();
    }
    return 0;
}
