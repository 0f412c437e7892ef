#include "sharing/core/KeychainStore.h"

#include <optional>
#include <vector>

#include "platform/security/Keychain.h"

namespace sharing {

namespace {
bool fail(ns::Ref<ns::Error>* error, long code) {
    if (error) *error = ns::Error::make(kKeychainErrorDomain, code);
    return false;
}
}  // namespace

ns::Ref<ns::String> KeychainStore::passwordForService(const ns::String* service, const ns::String* account,
                                                      ns::Ref<ns::Error>* error) {
    if (!service || !account) { fail(error, kKeychainMissingArgument); return nullptr; }
    std::string secret;
    int status = sec::Keychain::defaultKeychain()->findGenericPassword(service->view(), account->view(), &secret);
    if (status != sec::kStatusSuccess) { fail(error, status); return nullptr; }
    if (secret.empty()) return nullptr;
    return ns::String::make(std::move(secret));
}

bool KeychainStore::setPassword(const ns::String* password, const ns::String* service, const ns::String* account,
                                ns::Ref<ns::Error>* error) {
    if (!password || !service || !account) return fail(error, kKeychainMissingArgument);
    // One write that replaces or adds: a value the keychain refuses (too
    // long, a full disk) leaves the stored one as it was.
    int status = sec::Keychain::defaultKeychain()->setGenericPassword(service->view(), account->view(), password->view());
    if (status != sec::kStatusSuccess) return fail(error, status);
    return true;
}

bool KeychainStore::setPasswords(const std::vector<std::pair<std::string, ns::Ref<ns::String>>>& accountsAndPasswords,
                                 const ns::String* service, ns::Ref<ns::Error>* error) {
    if (!service) return fail(error, kKeychainMissingArgument);
    std::vector<sec::KeychainValue> values;
    for (const auto& [account, password] : accountsAndPasswords) {
        if (account.empty()) return fail(error, kKeychainMissingArgument);
        values.push_back({account, password ? std::optional<std::string>(std::string(password->view())) : std::nullopt});
    }
    int status = sec::Keychain::defaultKeychain()->setGenericPasswords(service->view(), values);
    if (status != sec::kStatusSuccess) return fail(error, status);
    return true;
}

bool KeychainStore::setPasswordsForServices(const std::vector<Change>& changes, ns::Ref<ns::Error>* error) {
    std::vector<sec::KeychainChange> values;
    for (const auto& c : changes) {
        if (c.service.empty() || c.account.empty()) return fail(error, kKeychainMissingArgument);
        values.push_back({c.service, c.account,
                          c.password ? std::optional<std::string>(std::string(c.password->view())) : std::nullopt});
    }
    int status = sec::Keychain::defaultKeychain()->setGenericPasswords(values);
    if (status != sec::kStatusSuccess) return fail(error, status);
    return true;
}

bool KeychainStore::discardDamagedCopies(std::vector<std::string>* remaining, ns::Ref<ns::Error>* error) {
    int status = sec::Keychain::defaultKeychain()->discardFilesMovedAside(remaining);
    if (status != sec::kStatusSuccess) return fail(error, status);
    return true;
}

bool KeychainStore::deletePasswordForService(const ns::String* service, const ns::String* account,
                                             ns::Ref<ns::Error>* error) {
    if (!service || !account) return fail(error, kKeychainMissingArgument);
    int status = sec::Keychain::defaultKeychain()->deleteGenericPassword(service->view(), account->view());
    if (status != sec::kStatusSuccess) return fail(error, status);
    return true;
}

ns::Ref<ns::Array> KeychainStore::accountsForService(const ns::String* service, ns::Ref<ns::Error>* error) {
    std::vector<sec::KeychainItemAttributes> items;
    std::optional<std::string_view> svc;
    if (service) svc = service->view();
    int status = sec::Keychain::defaultKeychain()->listGenericPasswords(svc, &items);
    if (status != sec::kStatusSuccess) { fail(error, status); return nullptr; }
    auto out = ns::MutableArray::make(items.size());
    for (const auto& it : items) out->addObject(it.dictionary());
    return out;
}

}  // namespace sharing
