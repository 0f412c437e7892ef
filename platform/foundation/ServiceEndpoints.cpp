#include "platform/foundation/ServiceEndpoints.h"

#include <cctype>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/foundation/URL.h"

namespace ns {

namespace {

struct Table {
    std::mutex mutex;
    std::map<std::string, std::string, std::less<>> overrides;
};

Table& table() {
    static Table* t = new Table;  // lives for the process
    return *t;
}

bool validName(std::string_view name) {
    if (name.empty() || name.size() > 64) return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
              c == '.'))
            return false;
    return true;
}

bool sameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// An http or https URL with a host, and neither query nor fragment (a path
// is allowed: the service may live below a prefix).
bool validBaseURL(std::string_view url) {
    auto parts = URL::Components::parse(url);
    if (!parts || !parts->scheme || !parts->hasAuthority || parts->host.empty()) return false;
    if (!sameNoCase(*parts->scheme, "http") && !sameNoCase(*parts->scheme, "https")) return false;
    return !parts->query && !parts->fragment;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Calls `f` with each entry of a comma-separated list, blanks around it
// trimmed.
template <class F>
void forEachEntry(std::string_view list, F f) {
    do {
        size_t comma = list.find(',');
        f(trimmed(list.substr(0, comma)));
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    } while (!list.empty());
}

// One "name=url" entry; false, with the reason in `error`, when malformed.
bool parseEntry(std::string_view entry, std::string_view& name, std::string_view& url, std::string* error) {
    size_t eq = entry.find('=');
    name = trimmed(entry.substr(0, eq));
    url = eq == std::string_view::npos ? std::string_view() : trimmed(entry.substr(eq + 1));
    if (eq == std::string_view::npos || !validName(name)) {
        if (error) *error = "\"" + std::string(entry) + "\" is not NAME=URL (NAME: letters, digits, - _ .)";
        return false;
    }
    if (!validBaseURL(url)) {
        if (error) *error = "\"" + std::string(url) + "\" is not an http or https URL with a host";
        return false;
    }
    return true;
}

// The environment's entry for the service, when it has a well-formed one.
std::string fromEnvironment(std::string_view service) {
    const char* list = std::getenv(ServiceEndpoints::kEnvironmentVariable);
    std::string found;
    if (!list) return found;
    forEachEntry(list, [&](std::string_view entry) {
        std::string_view name, url;
        if (parseEntry(entry, name, url, nullptr) && name == service) found = std::string(url);
    });
    return found;
}

}  // namespace

std::string ServiceEndpoints::baseURL(const ServiceEndpoint& service) {
    {
        Table& t = table();
        std::lock_guard<std::mutex> g(t.mutex);
        auto it = t.overrides.find(std::string_view(service.name));
        if (it != t.overrides.end()) return it->second;
    }
    std::string env = fromEnvironment(service.name);
    return env.empty() ? std::string(service.builtInBaseURL) : env;
}

std::string ServiceEndpoints::url(const ServiceEndpoint& service, std::string_view path) {
    std::string base = baseURL(service);
    while (!base.empty() && base.back() == '/') base.pop_back();
    if (!path.empty() && path.front() != '/') base += '/';
    return base + std::string(path);
}

bool ServiceEndpoints::setOverride(std::string_view name, std::string_view baseURL) {
    if (!validName(name) || (!baseURL.empty() && !validBaseURL(baseURL))) return false;
    Table& t = table();
    std::lock_guard<std::mutex> g(t.mutex);
    if (baseURL.empty()) t.overrides.erase(std::string(name));
    else t.overrides[std::string(name)] = std::string(baseURL);
    return true;
}

bool ServiceEndpoints::parseList(std::string_view list, std::vector<std::pair<std::string, std::string>>* out,
                                 std::string* error) {
    std::vector<std::pair<std::string, std::string>> entries;
    bool ok = true;
    forEachEntry(list, [&](std::string_view entry) {
        std::string_view name, url;
        if (ok && (ok = parseEntry(entry, name, url, error))) entries.emplace_back(name, url);
    });
    if (ok && out) *out = std::move(entries);
    return ok;
}

bool ServiceEndpoints::setOverrides(std::string_view list, std::string* error) {
    std::vector<std::pair<std::string, std::string>> entries;
    if (!parseList(list, &entries, error)) return false;
    Table& t = table();
    std::lock_guard<std::mutex> g(t.mutex);
    for (auto& [name, url] : entries) t.overrides[name] = url;
    return true;
}

void ServiceEndpoints::clearOverrides() {
    Table& t = table();
    std::lock_guard<std::mutex> g(t.mutex);
    t.overrides.clear();
}

}  // namespace ns
