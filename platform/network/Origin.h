// The origin of a URL (scheme, host and port) and the rule built on it:
// credentials and cookies a caller set for one server stay with that server
// when a redirect moves the request elsewhere.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/URL.h"

namespace net {

struct Origin {
    std::string scheme;  // lower case
    std::string host;    // lower case
    int port = 0;        // the scheme's default (http 80, https 443) when the URL names none
    bool operator==(const Origin&) const = default;
};

// Nullopt for a URL without a scheme or a host.
std::optional<Origin> originOf(const ns::URL& url);

// Whether both URLs have the same origin (false when either has none). A
// change of scheme is a change of origin, so https to http never is.
bool isSameOrigin(const ns::URL& a, const ns::URL& b);

// The request header fields a caller sets to send credentials or cookies:
// a redirect to another origin does not carry them.
inline constexpr std::array<std::string_view, 3> kCredentialHeaderFields = {"Authorization", "Proxy-Authorization",
                                                                            "Cookie"};
// Whether `name` is one of them, in any spelling.
bool isCredentialHeaderField(std::string_view name);

}  // namespace net
