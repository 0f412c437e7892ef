#include "platform/network/Origin.h"

#include "platform/foundation/Number.h"
#include "platform/foundation/String.h"
#include "platform/network/HTTPMessage.h"

namespace net {

std::optional<Origin> originOf(const ns::URL& url) {
    auto scheme = url.scheme();
    auto host = url.host();
    if (!scheme || !host || scheme->utf8().empty() || host->utf8().empty()) return std::nullopt;
    Origin o;
    o.scheme = lowercased(scheme->utf8());
    o.host = lowercased(host->utf8());
    if (auto port = url.port()) o.port = static_cast<int>(port->longValue());
    else if (o.scheme == "http") o.port = 80;
    else if (o.scheme == "https") o.port = 443;
    return o;
}

bool isSameOrigin(const ns::URL& a, const ns::URL& b) {
    auto x = originOf(a);
    auto y = originOf(b);
    return x && y && *x == *y;
}

bool isCredentialHeaderField(std::string_view name) {
    for (std::string_view field : kCredentialHeaderFields)
        if (equalsIgnoringCase(name, field)) return true;
    return false;
}

}  // namespace net
