#include "platform/security/Digest.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <stdexcept>

namespace sec {

namespace {

std::string digest(const EVP_MD* md, std::string_view bytes) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), out, &len, md, nullptr) != 1)
        throw std::runtime_error("digest failed");
    return std::string(reinterpret_cast<char*>(out), len);
}

std::string hmac(const EVP_MD* md, std::string_view key, std::string_view bytes) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    static const unsigned char kEmpty = 0;
    const void* k = key.empty() ? static_cast<const void*>(&kEmpty) : key.data();
    if (!HMAC(md, k, static_cast<int>(key.size()),
              reinterpret_cast<const unsigned char*>(bytes.empty() ? "" : bytes.data()), bytes.size(), out, &len))
        throw std::runtime_error("HMAC failed");
    return std::string(reinterpret_cast<char*>(out), len);
}

ns::Ref<ns::Data> asData(const std::string& s) { return ns::Data::make(s); }

}  // namespace

std::string md5(std::string_view b) { return digest(EVP_md5(), b); }
std::string sha1(std::string_view b) { return digest(EVP_sha1(), b); }
std::string sha256(std::string_view b) { return digest(EVP_sha256(), b); }

std::string md5Hex(std::string_view b) { return toHex(md5(b)); }
std::string sha1Hex(std::string_view b) { return toHex(sha1(b)); }
std::string sha256Hex(std::string_view b) { return toHex(sha256(b)); }

// A key longer than the block size is replaced by its digest (RFC 2104), which
// also keeps its length within the int that OpenSSL takes.
std::string hmacSHA1(std::string_view key, std::string_view b) {
    if (key.size() > 64) { std::string k = sha1(key); return hmac(EVP_sha1(), k, b); }
    return hmac(EVP_sha1(), key, b);
}
std::string hmacSHA256(std::string_view key, std::string_view b) {
    if (key.size() > 64) { std::string k = sha256(key); return hmac(EVP_sha256(), k, b); }
    return hmac(EVP_sha256(), key, b);
}

std::string toHex(std::string_view bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

ns::Ref<ns::Data> md5Data(const ns::Data& d) { return asData(md5(d.view())); }
ns::Ref<ns::Data> sha1Data(const ns::Data& d) { return asData(sha1(d.view())); }
ns::Ref<ns::Data> sha256Data(const ns::Data& d) { return asData(sha256(d.view())); }

bool constantTimeEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    if (a.empty()) return true;
    return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace sec
