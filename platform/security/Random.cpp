#include "platform/security/Random.h"

#include <openssl/rand.h>

#include <climits>
#include <stdexcept>

namespace sec {

void fillRandom(void* buffer, size_t count) {
    auto* p = static_cast<unsigned char*>(buffer);
    while (count > 0) {
        int chunk = count > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(count);
        if (RAND_bytes(p, chunk) != 1) throw std::runtime_error("random generator failed");
        p += chunk;
        count -= static_cast<size_t>(chunk);
    }
}

std::string randomBytes(size_t count) {
    std::string out(count, '\0');
    if (count) fillRandom(out.data(), count);
    return out;
}

uint64_t randomUniform(uint64_t bound) {
    if (bound <= 1) return 0;
    // Largest multiple of bound that fits: values at or above it are redrawn.
    uint64_t limit = UINT64_MAX - (UINT64_MAX % bound + 1) % bound;
    for (;;) {
        uint64_t v;
        fillRandom(&v, sizeof v);
        if (v <= limit) return v % bound;
    }
}

int64_t randomInRange(int64_t low, int64_t high) {
    if (low >= high) return low;
    uint64_t span = static_cast<uint64_t>(high) - static_cast<uint64_t>(low);
    uint64_t r;
    if (span == UINT64_MAX) fillRandom(&r, sizeof r);
    else r = randomUniform(span + 1);
    return static_cast<int64_t>(static_cast<uint64_t>(low) + r);
}

std::string uuidString() {
    unsigned char b[16];
    fillRandom(b, sizeof b);
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // variant 10
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += kHex[b[i] >> 4];
        out += kHex[b[i] & 15];
    }
    return out;
}

}  // namespace sec
