// Points outside services at a test's own servers for as long as the object
// lives: each service named goes to the base URL given, through the one
// table of service addresses (ns::ServiceEndpoints). When the object goes,
// the overrides it set go with it and the services are back at their
// built-in addresses. A base URL the table refuses fails the test.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/ServiceEndpoints.h"

namespace testsupport {

class EndpointOverrides {
public:
    EndpointOverrides() = default;
    EndpointOverrides(std::initializer_list<ns::ServiceEndpoint> services, std::string_view baseURL);
    ~EndpointOverrides();
    EndpointOverrides(const EndpointOverrides&) = delete;
    EndpointOverrides& operator=(const EndpointOverrides&) = delete;

    void point(std::initializer_list<ns::ServiceEndpoint> services, std::string_view baseURL);
    void point(const ns::ServiceEndpoint& service, std::string_view baseURL);

private:
    std::vector<std::string> names_;
};

}  // namespace testsupport
