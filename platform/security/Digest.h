// Message digests and HMAC, computed by OpenSSL.
//
// Each function answers the raw digest bytes as a std::string (16 bytes for
// MD5, 20 for SHA-1, 32 for SHA-256); the *Hex forms answer lower-case
// hexadecimal text. They never fail for valid inputs; an internal OpenSSL
// failure throws std::runtime_error (out of memory, broken library).
#pragma once

#include <string>
#include <string_view>

#include "platform/foundation/Data.h"

namespace sec {

std::string md5(std::string_view bytes);
std::string sha1(std::string_view bytes);
std::string sha256(std::string_view bytes);

std::string md5Hex(std::string_view bytes);
std::string sha1Hex(std::string_view bytes);
std::string sha256Hex(std::string_view bytes);

// HMAC with the given key over `bytes` (RFC 2104).
std::string hmacSHA1(std::string_view key, std::string_view bytes);
std::string hmacSHA256(std::string_view key, std::string_view bytes);

// Lower-case hexadecimal text of raw bytes.
std::string toHex(std::string_view bytes);

// Data forms.
ns::Ref<ns::Data> md5Data(const ns::Data& data);
ns::Ref<ns::Data> sha1Data(const ns::Data& data);
ns::Ref<ns::Data> sha256Data(const ns::Data& data);

// Compares two byte strings in time that depends only on their lengths, for
// checking signatures and tokens.
bool constantTimeEqual(std::string_view a, std::string_view b);

}  // namespace sec
