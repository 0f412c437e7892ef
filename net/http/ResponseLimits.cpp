#include "net/http/ResponseLimits.h"

#include <string>

#include "net/http/DataCompressor.h"

namespace http {

ns::Ref<ns::Error> responseTooLargeError(uint64_t limit) {
    return ns::Error::withDescription(kHTTPRequestErrorDomain, kResponseTooLargeErrorType,
                                      "The response body is larger than the limit of " + std::to_string(limit) +
                                          " bytes");
}

ns::Ref<ns::Error> inflatedResponseTooLargeError(uint64_t limit) {
    return ns::Error::withDescription(kHTTPRequestErrorDomain, kResponseTooLargeErrorType,
                                      "The response body inflates to more than the limit of " +
                                          std::to_string(limit) + " bytes");
}

}  // namespace http
