#include "platform/foundation/UserDefaults.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

#include "platform/foundation/FileIO.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"

namespace ns {

namespace {

std::mutex& sharedMutex() {
    static std::mutex m;
    return m;
}
Ref<UserDefaults>& sharedInstance() {
    static Ref<UserDefaults> d;
    return d;
}
std::string& identifierOverride() {
    static std::string s;
    return s;
}

// A deep, immutable copy that is also the check that `value` is a property list.
Ref<Object> frozenCopy(const Object& value) {
    auto bytes = PropertyList::dataFromPropertyList(value, PropertyListFormat::Binary);
    if (!bytes) return nullptr;
    return PropertyList::readFromData(*bytes);
}

}  // namespace

UserDefaults::UserDefaults(std::string path)
    : path_(std::move(path)), values_(MutableDictionary::make()), registered_(MutableDictionary::make()) {
    load();
}

void UserDefaults::load() {
    auto slash = path_.find_last_of('/');
    if (slash != std::string::npos)
        removeLeftoverTemporaryFiles(slash ? path_.substr(0, slash) : "/", std::string_view(path_).substr(slash + 1));
    struct stat st{};
    if (::stat(path_.c_str(), &st) != 0) return;  // first launch: nothing stored yet
    Ref<Error> error;
    Ref<Object> root = PropertyList::readFromFile(path_, &error);
    if (auto dict = cast<Dictionary>(root)) {
        values_ = dict->mutableCopy();  // only the top level changes; values stay immutable
        return;
    }
    // A file we cannot read for lack of permission is left alone: it is not
    // known to be bad, and saves must not replace it. Anything else
    // unreadable is moved aside, so that the next save cannot destroy what
    // might still be recovered from it.
    if (error && error->code() == kPropertyListReadFileError) {
        if (auto* under = as<Error>(error->userInfo()->objectForKey(kUnderlyingErrorKey));
            under && (under->code() == EACCES || under->code() == EPERM)) {
            keepUnreadable_ = true;
            std::fprintf(stderr, "UserDefaults: %s cannot be read (%s); it is kept and nothing will be saved over it\n",
                         path_.c_str(), under->localizedDescription().c_str());
            return;
        }
    }
    for (int i = 0; i < 1000; ++i) {
        std::string target = path_ + ".corrupt";
        if (i) target += "." + std::to_string(i);
        if (::stat(target.c_str(), &st) == 0) continue;
        if (::rename(path_.c_str(), target.c_str()) == 0) movedAside_ = target;
        break;
    }
    std::fprintf(stderr, "UserDefaults: %s is unreadable (%s); moved aside to %s\n", path_.c_str(),
                 error ? error->localizedDescription().c_str() : "not a dictionary",
                 movedAside_.empty() ? "(could not move)" : movedAside_.c_str());
}

Ref<UserDefaults> UserDefaults::standardUserDefaults() {
    {
        std::lock_guard<std::mutex> g(sharedMutex());
        if (sharedInstance()) return sharedInstance();
    }
    // Made outside the lock (it reads files); the first one stored wins.
    std::string file = Paths::join(Paths::preferencesDirectory(), bundleIdentifier() + ".plist");
    auto fresh = make<UserDefaults>(std::move(file));
    std::lock_guard<std::mutex> g(sharedMutex());
    if (!sharedInstance()) sharedInstance() = fresh;
    return sharedInstance();
}

void UserDefaults::resetStandardUserDefaults() {
    std::lock_guard<std::mutex> g(sharedMutex());
    sharedInstance() = nullptr;
}

void UserDefaults::setBundleIdentifier(std::string identifier) {
    std::lock_guard<std::mutex> g(sharedMutex());
    identifierOverride() = std::move(identifier);
}

std::string UserDefaults::bundleIdentifier() {
    {
        std::lock_guard<std::mutex> g(sharedMutex());
        if (!identifierOverride().empty()) return identifierOverride();
    }
    if (auto info = dictionaryWithContentsOfFile(Paths::pathForResource("Info", "plist"))) {
        if (auto* id = info->stringForKey("CFBundleIdentifier"); id && !id->isEmpty()) {
            // The identifier names a file: keep it to one harmless component.
            std::string s(id->utf8());
            if (s.find('/') == std::string::npos && s != "." && s != "..") return s;
        }
    }
    return "com.tarnwick.korvel";
}

Ref<Object> UserDefaults::objectForKey(std::string_view key) const {
    std::lock_guard<std::mutex> g(mutex_);
    if (Object* v = values_->objectForKey(key)) return Ref<Object>(v);
    return Ref<Object>(registered_->objectForKey(key));
}

bool UserDefaults::setObjectForKey(const Ref<Object>& value, std::string_view key) {
    if (!value) {
        removeObjectForKey(key);
        return true;
    }
    Ref<Object> copy = frozenCopy(*value);
    if (!copy) {
        std::fprintf(stderr, "UserDefaults: refused a value for \"%.*s\" that is not a property list (%s)\n",
                     static_cast<int>(key.size()), key.data(), value->className());
        return false;
    }
    std::lock_guard<std::mutex> g(mutex_);
    values_->setObject(std::move(copy), key);
    persistLocked(nullptr);
    return true;
}

void UserDefaults::removeObjectForKey(std::string_view key) {
    std::lock_guard<std::mutex> g(mutex_);
    if (!values_->objectForKey(key)) return;
    values_->removeObjectForKey(key);
    persistLocked(nullptr);
}

bool UserDefaults::setObjectsForKeys(const std::vector<std::pair<std::string, Ref<Object>>>& values,
                                     Ref<Error>* error) {
    std::vector<std::pair<std::string, Ref<Object>>> copies;
    copies.reserve(values.size());
    for (const auto& [key, value] : values) {
        Ref<Object> copy = value ? frozenCopy(*value) : nullptr;
        if (value && !copy) {
            std::string why = "The value for \"" + key + "\" is not a property list (" + value->className() + ")";
            std::fprintf(stderr, "UserDefaults: refused %s\n", why.c_str());
            if (error) *error = Error::withDescription(kPropertyListErrorDomain, 0, why);
            return false;
        }
        copies.emplace_back(key, std::move(copy));
    }
    std::lock_guard<std::mutex> g(mutex_);
    std::vector<std::pair<std::string, Ref<Object>>> before;
    before.reserve(copies.size());
    for (auto& [key, copy] : copies) {
        before.emplace_back(key, Ref<Object>(values_->objectForKey(key)));
        if (copy) values_->setObject(std::move(copy), key);
        else values_->removeObjectForKey(key);
    }
    if (persistLocked(error)) return true;
    // The file still holds what it held (writes are atomic): memory goes
    // back to it, the last change first so that a key named twice gets
    // its first value back.
    for (auto it = before.rbegin(); it != before.rend(); ++it) {
        if (it->second) values_->setObject(it->second, it->first);
        else values_->removeObjectForKey(it->first);
    }
    return false;
}

long UserDefaults::integerForKey(std::string_view key) const {
    Ref<Object> v = objectForKey(key);
    if (auto* n = as<Number>(v.get())) return n->longValue();
    if (auto* s = as<String>(v.get())) return static_cast<long>(s->longLongValue());
    return 0;
}

bool UserDefaults::boolForKey(std::string_view key) const {
    Ref<Object> v = objectForKey(key);
    if (auto* n = as<Number>(v.get())) return n->boolValue();
    if (auto* s = as<String>(v.get())) {
        std::string t(s->lowercaseString()->utf8());
        return t == "yes" || t == "true" || s->intValue() != 0;
    }
    return false;
}

double UserDefaults::doubleForKey(std::string_view key) const {
    Ref<Object> v = objectForKey(key);
    if (auto* n = as<Number>(v.get())) return n->doubleValue();
    if (auto* s = as<String>(v.get())) return s->doubleValue();
    return 0;
}

Ref<String> UserDefaults::stringForKey(std::string_view key) const {
    Ref<Object> v = objectForKey(key);
    if (auto s = cast<String>(v)) return s;
    if (auto* n = as<Number>(v.get())) return n->stringValue();
    return nullptr;
}

Ref<Array> UserDefaults::arrayForKey(std::string_view key) const { return cast<Array>(objectForKey(key)); }
Ref<Dictionary> UserDefaults::dictionaryForKey(std::string_view key) const {
    return cast<Dictionary>(objectForKey(key));
}
Ref<Data> UserDefaults::dataForKey(std::string_view key) const { return cast<Data>(objectForKey(key)); }

void UserDefaults::setIntegerForKey(long value, std::string_view key) {
    setObjectForKey(Number::numberWithLong(value), key);
}
void UserDefaults::setBoolForKey(bool value, std::string_view key) {
    setObjectForKey(Number::numberWithBool(value), key);
}
void UserDefaults::setDoubleForKey(double value, std::string_view key) {
    setObjectForKey(Number::numberWithDouble(value), key);
}

void UserDefaults::registerDefaults(const Dictionary& defaults) {
    std::lock_guard<std::mutex> g(mutex_);
    for (size_t i = 0, n = defaults.count(); i < n; ++i) {
        Object* value = defaults.valueAtIndex(i);
        if (Ref<Object> copy = value ? frozenCopy(*value) : nullptr)
            registered_->setObjectForKey(copy, Ref<Object>(defaults.keyAtIndex(i)));
    }
}

Ref<Dictionary> UserDefaults::dictionaryRepresentation() const {
    std::lock_guard<std::mutex> g(mutex_);
    auto all = registered_->mutableCopy();
    all->addEntriesFromDictionary(*values_);
    return all->copy();
}

bool UserDefaults::synchronize(Ref<Error>* error) {
    std::lock_guard<std::mutex> g(mutex_);
    return persistLocked(error);
}

bool UserDefaults::persistLocked(Ref<Error>* error) {
    if (keepUnreadable_) {
        if (error)
            *error = Error::withDescription(kFileErrorDomain, EACCES,
                                            "The unreadable file " + path_ + " is kept; nothing was written over it");
        return false;
    }
    auto slash = path_.find_last_of('/');
    if (slash != std::string::npos && slash > 0) Paths::ensureDirectory(path_.substr(0, slash));
    Ref<Error> failure;
    if (PropertyList::writeToFile(*values_, path_, true, &failure, PropertyListFormat::XML, 0600)) return true;
    std::fprintf(stderr, "UserDefaults: cannot save %s: %s\n", path_.c_str(),
                 failure->localizedDescription().c_str());
    if (error) *error = failure;
    return false;
}

}  // namespace ns
