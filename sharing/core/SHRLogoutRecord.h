// The record of a logout under way. A logout removes logins from two files
// (the keychain, then the user defaults) that cannot change in one step, so
// it first writes what it removes into <Library>/SHR/SHRLogoutUnderWay.plist
// and deletes that record once both files are saved. A record found when
// the sharing layer starts names a logout a kill cut short, which SHR then
// finishes: every login is either all there or all gone. The record holds
// names only (keychain services and accounts, user-defaults keys), never a
// value.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Error.h"

namespace sharing {

struct SHRLogoutRecord {
    // Keychain items: service and account.
    std::vector<std::pair<std::string, std::string>> keychainItems;
    std::vector<std::string> defaultsKeys;

    bool empty() const { return keychainItems.empty() && defaultsKeys.empty(); }
    // Adds what `other` names and this record does not.
    void merge(const SHRLogoutRecord& other);

    // Where the record of the current home folder is kept.
    static std::string path();
    // The record left in the home folder; nullopt when there is none. A
    // record that cannot be read is moved aside ("<path>.corrupt-<seconds>",
    // logged: the logins it named are left as they are) and counts as none.
    static std::optional<SHRLogoutRecord> find();
    // Writes the record whole (atomically, flushed) before anything is
    // removed. False with *error when it could not be written.
    bool write(ns::Ref<ns::Error>* error = nullptr) const;
    // Deletes the record; true when it is gone (or was never there).
    static bool remove();
};

}  // namespace sharing
