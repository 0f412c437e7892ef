// Where the outside services the program talks to live: one table of base
// URLs by service name. Each service is declared where it is used, with its
// built-in base URL; the table lets a test, a command-line option or the
// environment point any service elsewhere (a loopback server, say) without
// a code change.
//
// A lookup answers, in this order: an override set in the program
// (setOverride / setOverrides: tests, the simulator's --endpoint), then the
// environment variable DECK_ENDPOINTS ("name=url[,name=url...]"), then the
// built-in base URL. Base URLs are http or https URLs with a host; a
// malformed entry in the environment is skipped.
//
// Thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ns {

struct ServiceEndpoint {
    const char* name;            // e.g. "tarnwick-forms"
    const char* builtInBaseURL;  // e.g. "https://services.tarnwick.example"; "" when unset
};

class ServiceEndpoints {
public:
    static constexpr const char* kEnvironmentVariable = "DECK_ENDPOINTS";

    // The base URL in force for the service.
    static std::string baseURL(const ServiceEndpoint& service);
    // The base URL followed by `path` ("/a/b"); a "/" that ends the base is
    // not doubled.
    static std::string url(const ServiceEndpoint& service, std::string_view path);

    // Points the service called `name` at `baseURL`; an empty URL removes
    // the override. False (nothing changed) when the name or URL is malformed.
    static bool setOverride(std::string_view name, std::string_view baseURL);
    // Applies a list "name=url[,name=url...]"; when any entry is malformed,
    // nothing is applied and `error` says which.
    static bool setOverrides(std::string_view list, std::string* error = nullptr);
    static void clearOverrides();

    // Reads a list as above into (name, base URL) pairs; false with the
    // reason in `error` at the first malformed entry.
    static bool parseList(std::string_view list, std::vector<std::pair<std::string, std::string>>* out,
                          std::string* error = nullptr);
};

}  // namespace ns
