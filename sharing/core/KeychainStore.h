// Generic-password storage for the sharers' login values and tokens, over
// the keychain stand-in (platform/security). Every operation takes an
// optional error out-parameter; on failure it receives an error of domain
// "com.pelvardin.keychain" whose code is the keychain status, or -1001 when
// a required argument is missing (no keychain call is made then).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Foundation.h"

namespace sharing {

inline constexpr const char* kKeychainErrorDomain = "com.pelvardin.keychain";
inline constexpr long kKeychainMissingArgument = -1001;

class KeychainStore {
public:
    // The stored password as UTF-8 text; nil when an argument is missing,
    // there is no item, or its data is empty.
    static ns::Ref<ns::String> passwordForService(const ns::String* service, const ns::String* account,
                                                  ns::Ref<ns::Error>* error = nullptr);
    // Replaces the secret of an existing item (its creation date stays) or
    // adds one, holding the password's UTF-8 bytes; on failure the stored
    // item is unchanged.
    static bool setPassword(const ns::String* password, const ns::String* service, const ns::String* account,
                            ns::Ref<ns::Error>* error = nullptr);
    // Stores several accounts of one service together, in one keychain
    // write: each account gets its password's UTF-8 bytes, and an account
    // whose password is nil loses its item. Afterwards the keychain holds
    // every change or, on failure, none. -1001 when the service or an
    // account (nil or empty) is missing.
    static bool setPasswords(const std::vector<std::pair<std::string, ns::Ref<ns::String>>>& accountsAndPasswords,
                             const ns::String* service, ns::Ref<ns::Error>* error = nullptr);
    // One account's new password (nil: the item goes) in a write that
    // spans several services.
    struct Change {
        std::string service;
        std::string account;
        ns::Ref<ns::String> password;
    };
    // Stores changes of several services together, in one keychain write:
    // afterwards the keychain holds every change or, on failure, none.
    // -1001 when a service or an account is empty.
    static bool setPasswordsForServices(const std::vector<Change>& changes, ns::Ref<ns::Error>* error = nullptr);
    // Removes the passwords held by copies of the keychain set aside as
    // damaged (Keychain::discardFilesMovedAside). False when a copy kept
    // them; its path is then in *remaining.
    static bool discardDamagedCopies(std::vector<std::string>* remaining = nullptr,
                                     ns::Ref<ns::Error>* error = nullptr);
    static bool deletePasswordForService(const ns::String* service, const ns::String* account,
                                         ns::Ref<ns::Error>* error = nullptr);
    // Attribute dictionaries ("svce", "acct", "cdat", "mdat") of the items of
    // `service` (every item when nil); nil on failure or when there are none.
    static ns::Ref<ns::Array> accountsForService(const ns::String* service, ns::Ref<ns::Error>* error = nullptr);
    static ns::Ref<ns::Array> allAccounts(ns::Ref<ns::Error>* error = nullptr) { return accountsForService(nullptr, error); }
};

}  // namespace sharing
