#include "platform/network/NetworkErrors.h"

#include <cstring>
#include <vector>

#include "platform/foundation/Dictionary.h"
#include "platform/foundation/String.h"

namespace net {

ns::Ref<ns::Error> makeError(std::string_view domain, long code, std::string_view description,
                             ns::Ref<ns::Error> underlying) {
    std::vector<ns::Dictionary::Entry> entries;
    entries.emplace_back(ns::str(ns::kLocalizedDescriptionKey), ns::str(description));
    if (underlying) entries.emplace_back(ns::str(ns::kUnderlyingErrorKey), std::move(underlying));
    return ns::Error::make(domain, code, ns::Dictionary::make(std::move(entries)));
}

ns::Ref<ns::Error> posixError(int err, std::string_view what) {
    std::string text(what);
    if (!text.empty()) text += ": ";
    text += std::strerror(err);
    return makeError(kPOSIXErrorDomain, err, text);
}

bool isDroppedConnection(const ns::Error* e) {
    return e && e->domain() == kNetworkErrorDomain && e->code() == kErrorNetworkConnectionLost;
}

bool isTLSError(const ns::Error* e) {
    return e && e->domain() == kTLSErrorDomain && e->code() >= -9818 && e->code() <= -9800;
}

}  // namespace net
