#include "testsupport/EndpointOverrides.h"

#include <gtest/gtest.h>

namespace testsupport {

EndpointOverrides::EndpointOverrides(std::initializer_list<ns::ServiceEndpoint> services, std::string_view baseURL) {
    point(services, baseURL);
}

EndpointOverrides::~EndpointOverrides() {
    for (const auto& name : names_) ns::ServiceEndpoints::setOverride(name, "");
}

void EndpointOverrides::point(std::initializer_list<ns::ServiceEndpoint> services, std::string_view baseURL) {
    for (const auto& service : services) point(service, baseURL);
}

void EndpointOverrides::point(const ns::ServiceEndpoint& service, std::string_view baseURL) {
    EXPECT_TRUE(ns::ServiceEndpoints::setOverride(service.name, baseURL)) << service.name << " -> " << baseURL;
    names_.emplace_back(service.name);
}

}  // namespace testsupport
