// Credentials and where they apply: a protection space (host, port,
// protocol, realm, method; or a proxy), credentials with a persistence, and
// a process-wide storage with one default credential per space.
//
// Permanent credentials are handed to a persistent store when one is set
// (the app binds it to the keychain); without one they last as long as the
// process. Passwords never appear in descriptions.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Object.h"

namespace net {

inline constexpr const char* kAuthenticationMethodDefault = "Default";
inline constexpr const char* kAuthenticationMethodHTTPBasic = "HTTPBasic";
inline constexpr const char* kAuthenticationMethodHTTPDigest = "HTTPDigest";
inline constexpr const char* kProxyTypeHTTP = "HTTP";
inline constexpr const char* kProxyTypeHTTPS = "HTTPS";

struct URLProtectionSpace {
    std::string host;
    int port = 0;
    std::string protocol;  // "http", "https"; empty for a proxy
    std::string realm;
    std::string authenticationMethod = kAuthenticationMethodDefault;
    bool isProxy = false;
    std::string proxyType;  // kProxyTypeHTTP... for a proxy

    static URLProtectionSpace server(std::string host, int port, std::string protocol, std::string realm,
                                     std::string method = kAuthenticationMethodDefault);
    static URLProtectionSpace proxy(std::string host, int port, std::string type, std::string realm,
                                    std::string method = kAuthenticationMethodDefault);
    // Identity used by the storage: host (lower case), port, protocol or
    // proxy type, realm and method.
    std::string key() const;
};

enum class URLCredentialPersistence { None, ForSession, Permanent };

class URLCredential : public ns::Object {
public:
    URLCredential(std::string user, std::string password, URLCredentialPersistence persistence)
        : user_(std::move(user)), password_(std::move(password)), persistence_(persistence) {}
    static ns::Ref<URLCredential> make(std::string user, std::string password, URLCredentialPersistence persistence) {
        return ns::make<URLCredential>(std::move(user), std::move(password), persistence);
    }
    const char* className() const override { return "URLCredential"; }
    std::string description() const override;  // user and persistence, never the password
    bool isEqual(const ns::Object& other) const override;
    size_t hash() const override { return std::hash<std::string>()(user_); }

    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }
    bool hasPassword() const { return !password_.empty(); }
    URLCredentialPersistence persistence() const { return persistence_; }

private:
    std::string user_, password_;
    URLCredentialPersistence persistence_;
};

class URLCredentialStorage {
public:
    // Where permanent credentials go.
    class PersistentStore : public ns::Object {
    public:
        virtual void save(const URLProtectionSpace& space, const URLCredential& credential) = 0;
        virtual void remove(const URLProtectionSpace& space, const std::string& user) = 0;
        // The credentials kept for a space, the default one first.
        virtual std::vector<ns::Ref<URLCredential>> load(const URLProtectionSpace& space) = 0;
    };

    static URLCredentialStorage& sharedCredentialStorage();

    void setPersistentStore(ns::Ref<PersistentStore> store);

    // Stores the credential for the space and makes it the default. A
    // credential with persistence None is not stored.
    void setDefaultCredential(const ns::Ref<URLCredential>& credential, const URLProtectionSpace& space);
    void setCredential(const ns::Ref<URLCredential>& credential, const URLProtectionSpace& space);
    ns::Ref<URLCredential> defaultCredentialForProtectionSpace(const URLProtectionSpace& space);
    std::vector<ns::Ref<URLCredential>> credentialsForProtectionSpace(const URLProtectionSpace& space);
    // Removes the credential with that user from the space (and from the
    // persistent store when it was permanent).
    void removeCredential(const URLCredential& credential, const URLProtectionSpace& space);
    // Forgets every credential kept for the session and in memory (the
    // persistent store is left alone).
    void removeAll();

private:
    struct Entry {
        URLProtectionSpace space;
        std::vector<ns::Ref<URLCredential>> credentials;  // the default first
    };
    ns::Ref<PersistentStore> persistentStore();
    std::mutex mutex_;
    std::map<std::string, Entry> spaces_;
    ns::Ref<PersistentStore> store_;
};

}  // namespace net
