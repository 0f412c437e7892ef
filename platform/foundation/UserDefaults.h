// The app's user defaults: a dictionary of property-list values kept in
// home/Library/Preferences/<bundle identifier>.plist.
//
// Every change is written to the file at once, whole and atomically (so a
// process that ends without synchronize loses nothing); synchronize writes
// again and reports failure. The file is mode 0600: it holds tokens. A file
// that cannot be parsed at load time is moved aside to "<name>.corrupt" (or
// ".corrupt.1", ".corrupt.2", ...) rather than overwritten, and the
// defaults start empty. A file that cannot be read for lack of permission
// is not known to be bad: it stays where it is, untouched, and every save
// is refused (values live in memory only) so that nothing is written over
// it. Temporary files of saves that were killed are removed at load.
// Values are stored as immutable deep copies; anything that is not a
// property list is refused. All operations are thread-safe.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Array.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/String.h"

namespace ns {

class UserDefaults : public Object {
public:
    // Defaults kept in the file at `path` (loaded now; missing means empty).
    explicit UserDefaults(std::string path);
    const char* className() const override { return "UserDefaults"; }

    // The shared instance for the app, made on first use from the current
    // home folder and bundle identifier.
    static Ref<UserDefaults> standardUserDefaults();
    // Forgets the shared instance (tests, or after changing the home folder);
    // the next standardUserDefaults() loads the file again.
    static void resetStandardUserDefaults();
    // The identifier that names the file: the one set here, else
    // "CFBundleIdentifier" of the bundle's Info.plist, else "com.tarnwick.korvel".
    static void setBundleIdentifier(std::string identifier);
    static std::string bundleIdentifier();

    const std::string& path() const { return path_; }

    // The stored value, else the registered default, else nil.
    Ref<Object> objectForKey(std::string_view key) const;
    // Stores a copy of `value` (nil removes the key). Returns false, storing
    // nothing, when `value` is not a property list.
    bool setObjectForKey(const Ref<Object>& value, std::string_view key);
    bool setObject(const Ref<Object>& value, std::string_view key) { return setObjectForKey(value, key); }
    void removeObjectForKey(std::string_view key);
    // Stores every value (nil removes its key) with one write of the file:
    // all of them are saved, or none is and the values held before stay, in
    // memory and in the file. False (with *error) when a value is not a
    // property list or the file cannot be written.
    bool setObjectsForKeys(const std::vector<std::pair<std::string, Ref<Object>>>& values,
                           Ref<Error>* error = nullptr);

    // Typed access. Numbers and number-like strings convert; anything else
    // reads as 0, false or nil.
    long integerForKey(std::string_view key) const;
    bool boolForKey(std::string_view key) const;
    double doubleForKey(std::string_view key) const;
    Ref<String> stringForKey(std::string_view key) const;  // numbers give their text
    Ref<Array> arrayForKey(std::string_view key) const;
    Ref<Dictionary> dictionaryForKey(std::string_view key) const;
    Ref<Data> dataForKey(std::string_view key) const;
    void setIntegerForKey(long value, std::string_view key);
    void setBoolForKey(bool value, std::string_view key);
    void setDoubleForKey(double value, std::string_view key);
    void setInteger(long value, std::string_view key) { setIntegerForKey(value, key); }
    void setBool(bool value, std::string_view key) { setBoolForKey(value, key); }

    // Values answered for keys that have none stored; never written.
    void registerDefaults(const Dictionary& defaults);
    // Stored values merged over the registered defaults.
    Ref<Dictionary> dictionaryRepresentation() const;

    // Writes the stored values to the file atomically. False (with *error)
    // when the file cannot be written; the values stay in memory and the
    // next change or synchronize tries again.
    bool synchronize(Ref<Error>* error = nullptr);
    // Where the unreadable file found at load time was moved; empty if none.
    const std::string& corruptFileMovedTo() const { return movedAside_; }
    // True when the file could not be read for lack of permission and is
    // kept: saves are refused.
    bool keepsUnreadableFile() const { return keepUnreadable_; }

private:
    void load();
    bool persistLocked(Ref<Error>* error);

    mutable std::mutex mutex_;
    std::string path_;
    Ref<MutableDictionary> values_;
    Ref<MutableDictionary> registered_;
    std::string movedAside_;
    bool keepUnreadable_ = false;
};

}  // namespace ns
