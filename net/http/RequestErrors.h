// Errors of the request engine in "HTTPRequestErrorDomain": a code, the
// text shown to the caller, and the error underneath it (a file system or
// stream error), shared by the request and its parts.
#pragma once

#include <string>

#include "platform/foundation/Error.h"

namespace http {

enum HTTPRequestErrorCode : long {
    kConnectionFailureErrorType = 1,
    kRequestTimedOutErrorType = 2,
    kAuthenticationErrorType = 3,
    kRequestCancelledErrorType = 4,
    kUnableToCreateRequestErrorType = 5,
    kInternalErrorWhileBuildingRequestType = 6,
    kInternalErrorWhileApplyingCredentialsType = 7,
    kFileManagementError = 8,
    kTooMuchRedirectionErrorType = 9,
    kUnhandledExceptionError = 10,
    kCompressionErrorType = 11,
    // 12, a body past its size limit: kResponseTooLargeErrorType (ResponseLimits.h).
};

ns::Ref<ns::Error> requestError(long code, const std::string& description, ns::Ref<ns::Error> underlying = nullptr);

// Code 8 about a file: "<what> '<path>'" with the system error of `operation`.
ns::Ref<ns::Error> fileError(const std::string& what, const std::string& path, int sysError,
                             const char* operation);

// A fresh path in the temporary folder, "HTTPRequest-<32 hex digits>".
std::string temporaryFilePath();

}  // namespace http
