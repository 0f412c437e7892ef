// Error domains and codes of the network stand-ins.
//
// Transport failures use kNetworkErrorDomain with the codes below; TLS
// failures use kTLSErrorDomain with codes from -9800 to -9818 (so callers
// can tell "a certificate or handshake problem" by range); system call
// failures carry their errno in kPOSIXErrorDomain, usually as the
// underlying error of one of the others.
#pragma once

#include <string>
#include <string_view>

#include "platform/foundation/Error.h"

namespace net {

inline constexpr const char* kNetworkErrorDomain = "NetworkErrorDomain";
inline constexpr const char* kTLSErrorDomain = "TLSErrorDomain";
inline constexpr const char* kPOSIXErrorDomain = "POSIXErrorDomain";

enum NetworkErrorCode : long {
    kErrorUnknown = -1,
    kErrorRequestCannotBeSent = -1000,    // a method or header field the caller set is not valid HTTP
    kErrorTimedOut = -1001,
    kErrorUnsupportedURL = -1002,
    kErrorCannotFindHost = -1003,
    kErrorCannotConnectToHost = -1004,
    kErrorNetworkConnectionLost = -1005,  // the peer dropped the connection
    kErrorRedirectLoop = -1007,
    kErrorBadServerResponse = -1011,      // malformed, oversized or truncated answer
    kErrorUserCancelled = -999,
    kErrorProxyRefused = -1021,
    kErrorDataLengthExceedsMaximum = -1103,  // the body crossed the request's limit
    kErrorCannotOpenFile = -3000,
};

enum TLSErrorCode : long {
    kTLSProtocolError = -9800,
    kTLSHandshakeFailed = -9801,
    kTLSClosedAbort = -9806,
    kTLSCertificateChainInvalid = -9807,
    kTLSBadCertificate = -9808,         // for example a name that does not match
    kTLSUnknownRootCertificate = -9812,
    kTLSNoRootCertificate = -9813,      // self-signed or unknown issuer
    kTLSCertificateExpired = -9814,
    kTLSCertificateNotYetValid = -9815,
    kTLSClientCertificateRejected = -9816,
};

// An error with a description and, when given, an underlying error.
ns::Ref<ns::Error> makeError(std::string_view domain, long code, std::string_view description,
                             ns::Ref<ns::Error> underlying = nullptr);
// errno as a kPOSIXErrorDomain error: "<what>: <strerror>".
ns::Ref<ns::Error> posixError(int err, std::string_view what = {});

// True for kNetworkErrorDomain/kErrorNetworkConnectionLost: a connection
// that closed or reset before the answer began, the case worth one retry on
// a fresh connection.
bool isDroppedConnection(const ns::Error* e);
// True for kTLSErrorDomain codes from -9818 to -9800.
bool isTLSError(const ns::Error* e);

}  // namespace net
