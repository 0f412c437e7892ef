// What the service sharer tests share: the loopback HTTP server answering
// request by request, a form-body reader written independently of the
// sharers' encoders, and waiting on the main run loop.
#pragma once

#include <string>

#include "sharing/tests/SharingTestSupport.h"
#include "testsupport/FormBody.h"
#include "testsupport/LoopbackServer.h"

namespace sharing::test {

using testsupport::formFields;
using testsupport::pathOf;
using testsupport::percentDecode;
using testsupport::queryOf;
using testsupport::Request;
using testsupport::Server;

// "http://127.0.0.1:<port>", the base of a service's URLs.
inline std::string baseOf(const Server& server) { return server.url(""); }

}  // namespace sharing::test
