#include "platform/network/NTLM.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <chrono>
#include <cstring>

#include "platform/foundation/String.h"

namespace net::ntlm {
namespace {

uint32_t rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

void put16(std::string& out, size_t at, uint16_t v) {
    out[at] = static_cast<char>(v & 0xFF);
    out[at + 1] = static_cast<char>(v >> 8);
}
void put32(std::string& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
uint16_t get16(std::string_view b, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) | (static_cast<unsigned char>(b[at + 1]) << 8));
}
uint32_t get32(std::string_view b, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}

constexpr uint32_t kFlags = 0x00000001    // Unicode
                            | 0x00000004  // request target
                            | 0x00000200  // NTLM
                            | 0x00008000  // always sign
                            | 0x00080000  // extended session security
                            | 0x00800000  // target info
                            | 0x20000000  // 128-bit
                            | 0x80000000;  // 56-bit

}  // namespace

std::string md4(std::string_view data) {
    uint32_t a0 = 0x67452301, b0 = 0xefcdab89, c0 = 0x98badcfe, d0 = 0x10325476;
    std::string msg(data);
    uint64_t bits = static_cast<uint64_t>(data.size()) * 8;
    msg += static_cast<char>(0x80);
    while (msg.size() % 64 != 56) msg += '\0';
    for (int i = 0; i < 8; ++i) msg += static_cast<char>((bits >> (8 * i)) & 0xFF);
    for (size_t off = 0; off < msg.size(); off += 64) {
        uint32_t x[16];
        for (int i = 0; i < 16; ++i) x[i] = get32(msg, off + 4 * i);
        uint32_t a = a0, b = b0, c = c0, d = d0;
        auto F = [](uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (~x & z); };
        auto G = [](uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (x & z) | (y & z); };
        auto H = [](uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; };
        static const int r1[4] = {3, 7, 11, 19}, r2[4] = {3, 5, 9, 13}, r3[4] = {3, 9, 11, 15};
        for (int i = 0; i < 16; ++i) {
            uint32_t t = rotl(a + F(b, c, d) + x[i], r1[i % 4]);
            a = d; d = c; c = b; b = t;
        }
        static const int o2[16] = {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};
        for (int i = 0; i < 16; ++i) {
            uint32_t t = rotl(a + G(b, c, d) + x[o2[i]] + 0x5a827999, r2[i % 4]);
            a = d; d = c; c = b; b = t;
        }
        static const int o3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
        for (int i = 0; i < 16; ++i) {
            uint32_t t = rotl(a + H(b, c, d) + x[o3[i]] + 0x6ed9eba1, r3[i % 4]);
            a = d; d = c; c = b; b = t;
        }
        a0 += a; b0 += b; c0 += c; d0 += d;
    }
    std::string out(16, '\0');
    put32(out, 0, a0);
    put32(out, 4, b0);
    put32(out, 8, c0);
    put32(out, 12, d0);
    return out;
}

std::string hmacMD5(std::string_view key, std::string_view data) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    HMAC(EVP_md5(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(data.data()),
         data.size(), md, &len);
    return std::string(reinterpret_cast<char*>(md), len);
}

std::string utf16le(std::string_view utf8) {
    std::u16string u = ns::utf8ToUTF16(utf8);
    std::string out;
    out.reserve(u.size() * 2);
    for (char16_t c : u) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

std::string negotiateMessage() {
    std::string m(32, '\0');
    std::memcpy(m.data(), "NTLMSSP", 8);
    put32(m, 8, 1);
    put32(m, 12, kFlags);
    return m;  // empty domain and workstation buffers
}

std::optional<Challenge> parseChallenge(std::string_view b) {
    if (b.size() < 32 || b.substr(0, 8) != std::string_view("NTLMSSP\0", 8) || get32(b, 8) != 2) return std::nullopt;
    Challenge c;
    c.flags = get32(b, 20);
    c.serverChallenge = std::string(b.substr(24, 8));
    if (b.size() >= 48) {
        uint16_t len = get16(b, 40);
        uint32_t off = get32(b, 44);
        if (len > 0) {
            if (off > b.size() || len > b.size() - off) return std::nullopt;
            c.targetInfo = std::string(b.substr(off, len));
        }
    }
    return c;
}

std::string ntowfv2(std::string_view user, std::string_view password, std::string_view domain) {
    std::string upper(ns::String::make(user)->uppercaseString()->utf8());
    return hmacMD5(md4(utf16le(password)), utf16le(upper + std::string(domain)));
}

std::string authenticateMessage(const Challenge& ch, std::string_view user, std::string_view password,
                                std::string_view domain, std::string_view workstation, std::string clientChallenge,
                                uint64_t timestamp) {
    if (clientChallenge.size() != 8) {
        clientChallenge.assign(8, '\0');
        RAND_bytes(reinterpret_cast<unsigned char*>(clientChallenge.data()), 8);
    }
    if (timestamp == 0) {
        auto since1970 = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
        timestamp = (static_cast<uint64_t>(since1970) + 11644473600ULL * 1000000ULL) * 10;
    }
    std::string key = ntowfv2(user, password, domain);
    std::string blob("\x01\x01\0\0\0\0\0\0", 8);
    for (int i = 0; i < 8; ++i) blob += static_cast<char>((timestamp >> (8 * i)) & 0xFF);
    blob += clientChallenge;
    blob += std::string(4, '\0');
    blob += ch.targetInfo;
    blob += std::string(4, '\0');
    std::string ntProof = hmacMD5(key, ch.serverChallenge + blob);
    std::string nt = ntProof + blob;
    std::string lm = hmacMD5(key, ch.serverChallenge + clientChallenge) + clientChallenge;

    std::string d = utf16le(domain), u = utf16le(user), w = utf16le(workstation);
    std::string m(64, '\0');
    std::memcpy(m.data(), "NTLMSSP", 8);
    put32(m, 8, 3);
    size_t offset = 64;
    auto field = [&](size_t at, const std::string& value) {
        put16(m, at, static_cast<uint16_t>(value.size()));
        put16(m, at + 2, static_cast<uint16_t>(value.size()));
        put32(m, at + 4, static_cast<uint32_t>(offset));
        offset += value.size();
    };
    field(28, d);
    field(36, u);
    field(44, w);
    field(12, lm);
    field(20, nt);
    field(52, std::string());
    put32(m, 60, kFlags & (ch.flags | 0x00000001));
    return m + d + u + w + lm + nt;
}

std::string base64Decode(std::string_view text, bool* ok) {
    std::string t;
    for (char c : text)
        if (c != ' ' && c != '\r' && c != '\n' && c != '\t') t += c;
    *ok = false;
    if (t.size() % 4 != 0) return {};
    std::string out(t.size() / 4 * 3, '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()), reinterpret_cast<const unsigned char*>(t.data()),
                            static_cast<int>(t.size()));
    if (n < 0) return {};
    size_t pad = 0;
    if (!t.empty() && t.back() == '=') ++pad;
    if (t.size() > 1 && t[t.size() - 2] == '=') ++pad;
    out.resize(static_cast<size_t>(n) - pad);
    *ok = true;
    return out;
}

}  // namespace net::ntlm
