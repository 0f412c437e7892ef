// Points outside services at a test's own servers for as long as the object
// lives: each service named goes to the base URL given, through the one
// table of service addresses (ns::ServiceEndpoints). When the object goes,
// the overrides it set go with it and the services are back at their
// built-in addresses. A base URL the table refuses fails the test.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/ServiceEndpoints.h"

namespace ns::testing {

class EndpointOverrides {
public:
    EndpointOverrides() = default;
    EndpointOverrides(std::initializer_list<ServiceEndpoint> services, std::string_view baseURL) {
        point(services, baseURL);
    }
    ~EndpointOverrides() {
        for (const auto& name : names_) ServiceEndpoints::setOverride(name, "");
    }
    EndpointOverrides(const EndpointOverrides&) = delete;
    EndpointOverrides& operator=(const EndpointOverrides&) = delete;

    void point(std::initializer_list<ServiceEndpoint> services, std::string_view baseURL) {
        for (const auto& service : services) point(service, baseURL);
    }
    void point(const ServiceEndpoint& service, std::string_view baseURL) {
        EXPECT_TRUE(ServiceEndpoints::setOverride(service.name, baseURL)) << service.name << " -> " << baseURL;
        names_.emplace_back(service.name);
    }

private:
    std::vector<std::string> names_;
};

}  // namespace ns::testing
