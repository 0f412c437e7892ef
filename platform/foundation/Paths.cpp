#include "platform/foundation/Paths.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <sys/stat.h>

#ifndef DECK_SOURCE_DIR
#define DECK_SOURCE_DIR "."
#endif

namespace ns {

namespace {

std::mutex& pathsMutex() {
    static std::mutex m;
    return m;
}
std::string& homeOverride() {
    static std::string s;
    return s;
}
std::string& resourcesOverride() {
    static std::string s;
    return s;
}

std::string envOr(const char* name, std::string fallback) {
    const char* v = std::getenv(name);
    return (v && *v) ? std::string(v) : fallback;
}

std::string stripTrailingSlashes(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

}  // namespace

std::string Paths::join(std::string_view a, std::string_view b) {
    std::string out(a);
    while (!b.empty() && b.front() == '/') b.remove_prefix(1);
    if (out.empty()) return std::string(b);
    if (out.back() != '/') out += '/';
    out += b;
    return out;
}

bool Paths::ensureDirectory(const std::string& path, unsigned mode) {
    if (path.empty()) return false;
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/') continue;
        std::string prefix = path.substr(0, pos);
        if (::mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST) return false;
    }
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void Paths::setHomeDirectory(std::string path) {
    std::lock_guard<std::mutex> g(pathsMutex());
    homeOverride() = stripTrailingSlashes(std::move(path));
}

std::string Paths::homeDirectory() {
    std::string home;
    {
        std::lock_guard<std::mutex> g(pathsMutex());
        home = homeOverride();
    }
    if (home.empty()) home = stripTrailingSlashes(envOr("DECK_HOME", "./home"));
    ensureDirectory(home, 0700);
    return home;
}

std::string Paths::documentsDirectory() {
    auto p = join(homeDirectory(), "Documents");
    ensureDirectory(p);
    return p;
}

std::string Paths::libraryDirectory() {
    auto p = join(homeDirectory(), "Library");
    ensureDirectory(p);
    return p;
}

std::string Paths::cachesDirectory() {
    auto p = join(libraryDirectory(), "Caches");
    ensureDirectory(p);
    return p;
}

std::string Paths::preferencesDirectory() {
    auto p = join(libraryDirectory(), "Preferences");
    ensureDirectory(p);
    return p;
}

void Paths::setBundleResourcePath(std::string path) {
    std::lock_guard<std::mutex> g(pathsMutex());
    resourcesOverride() = stripTrailingSlashes(std::move(path));
}

std::string Paths::bundleResourcePath() {
    {
        std::lock_guard<std::mutex> g(pathsMutex());
        if (!resourcesOverride().empty()) return resourcesOverride();
    }
    return stripTrailingSlashes(envOr("DECK_RESOURCES", join(DECK_SOURCE_DIR, "resources")));
}

std::string Paths::pathForResource(std::string_view name, std::string_view type) {
    std::string file(name);
    if (!type.empty()) {
        file += '.';
        file += type;
    }
    return join(bundleResourcePath(), file);
}

}  // namespace ns
