#include "sharing/core/SHRLogoutRecord.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>

#include "platform/foundation/Array.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/String.h"

namespace sharing {

namespace {
constexpr const char* kKeychainKey = "keychain";
constexpr const char* kServiceKey = "service";
constexpr const char* kAccountKey = "account";
constexpr const char* kDefaultsKey = "defaults";

std::string folder() { return ns::Paths::join(ns::Paths::libraryDirectory(), "SHR"); }

// Reads a record; nullopt when the document is not one.
std::optional<SHRLogoutRecord> parse(const ns::Object* root) {
    auto* d = ns::as<ns::Dictionary>(root);
    auto* items = d ? ns::as<ns::Array>(d->objectForKey(kKeychainKey)) : nullptr;
    auto* keys = d ? ns::as<ns::Array>(d->objectForKey(kDefaultsKey)) : nullptr;
    if (!items || !keys) return std::nullopt;
    SHRLogoutRecord record;
    for (ns::Object* o : *items) {
        auto* item = ns::as<ns::Dictionary>(o);
        ns::String* service = item ? item->stringForKey(kServiceKey) : nullptr;
        ns::String* account = item ? item->stringForKey(kAccountKey) : nullptr;
        if (!service || !account || service->view().empty() || account->view().empty()) return std::nullopt;
        record.keychainItems.emplace_back(std::string(service->view()), std::string(account->view()));
    }
    for (ns::Object* o : *keys) {
        auto* key = ns::as<ns::String>(o);
        if (!key || key->view().empty()) return std::nullopt;
        record.defaultsKeys.emplace_back(key->view());
    }
    return record;
}
}  // namespace

void SHRLogoutRecord::merge(const SHRLogoutRecord& other) {
    std::set<std::pair<std::string, std::string>> items(keychainItems.begin(), keychainItems.end());
    for (const auto& item : other.keychainItems)
        if (items.insert(item).second) keychainItems.push_back(item);
    std::set<std::string> keys(defaultsKeys.begin(), defaultsKeys.end());
    for (const auto& key : other.defaultsKeys)
        if (keys.insert(key).second) defaultsKeys.push_back(key);
}

std::string SHRLogoutRecord::path() { return ns::Paths::join(folder(), "SHRLogoutUnderWay.plist"); }

std::optional<SHRLogoutRecord> SHRLogoutRecord::find() {
    std::string file = path();
    if (::access(file.c_str(), F_OK) != 0 && errno == ENOENT) return std::nullopt;
    ns::PropertyListReadOptions limits;
    limits.maxDepth = 4;
    limits.maxBytes = 4u << 20;
    ns::Ref<ns::Error> error;
    ns::Ref<ns::Object> root = ns::PropertyList::readFromFile(file, &error, limits);
    if (auto record = parse(root.get())) return record;
    std::string aside = file + ".corrupt-" + std::to_string(std::time(nullptr));
    for (int n = 2; ::access(aside.c_str(), F_OK) == 0 && n < 1000; ++n)
        aside = file + ".corrupt-" + std::to_string(std::time(nullptr)) + "-" + std::to_string(n);
    if (std::rename(file.c_str(), aside.c_str()) == 0)
        std::fprintf(stderr, "SHR: the record of a logout cut short could not be read; moved aside to %s, the logins "
                             "it named are left as they are\n", aside.c_str());
    else
        std::fprintf(stderr, "SHR: the record of a logout cut short could not be read nor moved aside (%s)\n",
                     std::strerror(errno));
    return std::nullopt;
}

bool SHRLogoutRecord::write(ns::Ref<ns::Error>* error) const {
    ns::Paths::ensureDirectory(folder(), 0700);
    auto items = ns::MutableArray::make();
    for (const auto& [service, account] : keychainItems)
        items->addObject(ns::Dictionary::make({{kServiceKey, ns::str(service)}, {kAccountKey, ns::str(account)}}));
    auto keys = ns::MutableArray::make();
    for (const auto& key : defaultsKeys) keys->addObject(ns::str(key));
    auto root = ns::Dictionary::make({{kKeychainKey, items}, {kDefaultsKey, keys}});
    return ns::PropertyList::writeToFile(*root, path(), true, error, ns::PropertyListFormat::XML, 0600);
}

bool SHRLogoutRecord::remove() { return ::unlink(path().c_str()) == 0 || errno == ENOENT; }

}  // namespace sharing
