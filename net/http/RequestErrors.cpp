#include "net/http/RequestErrors.h"

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <random>

#include "net/http/DataCompressor.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/String.h"
#include "platform/network/NetworkErrors.h"

namespace http {

ns::Ref<ns::Error> requestError(long code, const std::string& description, ns::Ref<ns::Error> underlying) {
    auto info = ns::MutableDictionary::make();
    info->setObject(ns::String::make(description), ns::kLocalizedDescriptionKey);
    if (underlying) info->setObject(underlying, ns::kUnderlyingErrorKey);
    return ns::Error::make(kHTTPRequestErrorDomain, code, info);
}

ns::Ref<ns::Error> fileError(const std::string& what, const std::string& path, int sysError, const char* operation) {
    return requestError(kFileManagementError, ns::format("%@ '%@'", what, path), net::posixError(sysError, operation));
}

std::string temporaryFilePath() {
    static std::mutex m;
    static std::mt19937_64 rng{std::random_device{}()};
    uint64_t a, b;
    {
        std::lock_guard<std::mutex> g(m);
        a = rng();
        b = rng();
    }
    char name[64];
    std::snprintf(name, sizeof name, "HTTPRequest-%016llX%016llX", (unsigned long long)a, (unsigned long long)b);
    std::error_code ec;
    return (std::filesystem::temp_directory_path(ec) / name).string();
}

}  // namespace http
