// Where the app keeps its files: a home folder (the app's sandbox) with
// Documents, Library, Library/Caches and Library/Preferences inside, and the
// read-only bundle resource folder.
//
// The home folder is, in order: the one set with setHomeDirectory, $DECK_HOME,
// or "./home". The bundle resource folder is the one set with
// setBundleResourcePath, $DECK_RESOURCES, or the repository's "resources"
// folder. Folders inside home are created on demand when asked for (0755;
// failures to create are left for the caller's file operation to report).
// All functions are thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace ns {

class Paths {
public:
    static void setHomeDirectory(std::string path);
    static std::string homeDirectory();       // created on demand
    static std::string documentsDirectory();  // home/Documents
    static std::string libraryDirectory();    // home/Library
    static std::string cachesDirectory();     // home/Library/Caches
    static std::string preferencesDirectory();  // home/Library/Preferences

    static void setBundleResourcePath(std::string path);
    static std::string bundleResourcePath();
    // bundleResourcePath()/name.type ("Info", "plist" -> ".../Info.plist");
    // an empty type leaves the name alone. Does not check that it exists.
    static std::string pathForResource(std::string_view name, std::string_view type);

    // Joins two path pieces with exactly one '/' between them.
    static std::string join(std::string_view a, std::string_view b);
    // Creates `path` and any missing parents; true when it exists as a folder.
    static bool ensureDirectory(const std::string& path, unsigned mode = 0755);
};

}  // namespace ns
