// How large a response may grow, by default, and the error for a body that
// crosses its limit.
//
// Every response body kept in memory, and every inflation of a gzip body,
// has a limit that a caller can raise, or lift with kUnlimitedLength, per
// request. A body that crosses it ends the request with code 12 in
// "HTTPRequestErrorDomain" (below), so neither a small gzip bomb nor a body
// that never ends can fill the process's memory or the disk.
#pragma once

#include <cstdint>

#include "platform/foundation/Error.h"

namespace http {

// No limit.
inline constexpr uint64_t kUnlimitedLength = UINT64_MAX;

// The most body bytes a request keeps in memory, raw or inflated, and the
// most a gzip body kept in memory may inflate to: 64 MiB.
inline constexpr uint64_t kDefaultMaxResponseDataLength = uint64_t(64) << 20;

// The most a gzip body may inflate to when it is not kept in memory
// (inflated into a download file, or handed to the delegate as it
// arrives): 1 GiB.
inline constexpr uint64_t kDefaultMaxInflatedLength = uint64_t(1) << 30;

// The error code of a body that crossed its limit.
inline constexpr long kResponseTooLargeErrorType = 12;

// "The response body is larger than the limit of <limit> bytes"
ns::Ref<ns::Error> responseTooLargeError(uint64_t limit);
// "The response body inflates to more than the limit of <limit> bytes"
ns::Ref<ns::Error> inflatedResponseTooLargeError(uint64_t limit);

}  // namespace http
