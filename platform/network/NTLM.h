// NTLM (version 2 responses) for HTTP authentication: the negotiate,
// challenge and authenticate messages, over MD4 and HMAC-MD5.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace net::ntlm {

// MD4 (RFC 1320); OpenSSL 3 keeps it only in its legacy provider.
std::string md4(std::string_view data);
std::string hmacMD5(std::string_view key, std::string_view data);
// UTF-8 to UTF-16LE bytes.
std::string utf16le(std::string_view utf8);

// The type 1 message.
std::string negotiateMessage();

struct Challenge {
    uint32_t flags = 0;
    std::string serverChallenge;  // 8 bytes
    std::string targetInfo;
};
// Reads a type 2 message; nullopt when it is malformed or out of bounds.
std::optional<Challenge> parseChallenge(std::string_view bytes);

// The type 3 message answering `challenge` with NTLMv2 and LMv2 responses.
// `clientChallenge` (8 bytes) and `timestamp` (100 ns since 1601) are
// random and now unless given (tests fix them).
std::string authenticateMessage(const Challenge& challenge, std::string_view user, std::string_view password,
                                std::string_view domain, std::string_view workstation,
                                std::string clientChallenge = {}, uint64_t timestamp = 0);

// NTOWFv2 = HMAC-MD5(MD4(UTF-16LE(password)), UTF-16LE(upper(user) + domain)).
std::string ntowfv2(std::string_view user, std::string_view password, std::string_view domain);

std::string base64Decode(std::string_view text, bool* ok);

}  // namespace net::ntlm
