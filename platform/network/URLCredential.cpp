#include "platform/network/URLCredential.h"

#include <algorithm>

#include "platform/network/HTTPMessage.h"

namespace net {

URLProtectionSpace URLProtectionSpace::server(std::string host, int port, std::string protocol, std::string realm,
                                              std::string method) {
    URLProtectionSpace s;
    s.host = std::move(host);
    s.port = port;
    s.protocol = lowercased(protocol);
    s.realm = std::move(realm);
    s.authenticationMethod = std::move(method);
    return s;
}

URLProtectionSpace URLProtectionSpace::proxy(std::string host, int port, std::string type, std::string realm,
                                             std::string method) {
    URLProtectionSpace s;
    s.host = std::move(host);
    s.port = port;
    s.isProxy = true;
    s.proxyType = std::move(type);
    s.realm = std::move(realm);
    s.authenticationMethod = std::move(method);
    return s;
}

std::string URLProtectionSpace::key() const {
    std::string k = (isProxy ? "proxy:" + proxyType : protocol) + "://" + lowercased(host) + ":" + std::to_string(port);
    k += "\n" + realm + "\n" + authenticationMethod;
    return k;
}

std::string URLCredential::description() const {
    const char* p = persistence_ == URLCredentialPersistence::Permanent  ? "permanent"
                    : persistence_ == URLCredentialPersistence::ForSession ? "session"
                                                                             : "none";
    return "<URLCredential user=" + user_ + " persistence=" + p + ">";
}

bool URLCredential::isEqual(const ns::Object& other) const {
    auto* o = dynamic_cast<const URLCredential*>(&other);
    return o && o->user_ == user_ && o->password_ == password_ && o->persistence_ == persistence_;
}

URLCredentialStorage& URLCredentialStorage::sharedCredentialStorage() {
    static URLCredentialStorage* s = new URLCredentialStorage();
    return *s;
}

void URLCredentialStorage::setPersistentStore(ns::Ref<PersistentStore> store) {
    std::lock_guard<std::mutex> g(mutex_);
    store_ = std::move(store);
}

ns::Ref<URLCredentialStorage::PersistentStore> URLCredentialStorage::persistentStore() {
    std::lock_guard<std::mutex> g(mutex_);
    return store_;
}

void URLCredentialStorage::setCredential(const ns::Ref<URLCredential>& credential, const URLProtectionSpace& space) {
    if (!credential || credential->persistence() == URLCredentialPersistence::None) return;
    {
        std::lock_guard<std::mutex> g(mutex_);
        auto& e = spaces_[space.key()];
        e.space = space;
        std::erase_if(e.credentials, [&](const ns::Ref<URLCredential>& c) { return c->user() == credential->user(); });
        e.credentials.push_back(credential);
    }
    if (credential->persistence() == URLCredentialPersistence::Permanent)
        if (auto store = persistentStore()) store->save(space, *credential);
}

void URLCredentialStorage::setDefaultCredential(const ns::Ref<URLCredential>& credential,
                                                const URLProtectionSpace& space) {
    if (!credential || credential->persistence() == URLCredentialPersistence::None) return;
    setCredential(credential, space);
    std::lock_guard<std::mutex> g(mutex_);
    auto& list = spaces_[space.key()].credentials;
    auto it = std::find_if(list.begin(), list.end(),
                           [&](const ns::Ref<URLCredential>& c) { return c->user() == credential->user(); });
    if (it != list.end()) std::rotate(list.begin(), it, it + 1);
}

std::vector<ns::Ref<URLCredential>> URLCredentialStorage::credentialsForProtectionSpace(const URLProtectionSpace& space) {
    {
        std::lock_guard<std::mutex> g(mutex_);
        auto it = spaces_.find(space.key());
        if (it != spaces_.end() && !it->second.credentials.empty()) return it->second.credentials;
    }
    // Nothing in memory: what the persistent store kept from an earlier run.
    if (auto store = persistentStore()) {
        auto loaded = store->load(space);
        if (!loaded.empty()) {
            std::lock_guard<std::mutex> g(mutex_);
            auto& e = spaces_[space.key()];
            e.space = space;
            e.credentials = loaded;
        }
        return loaded;
    }
    return {};
}

ns::Ref<URLCredential> URLCredentialStorage::defaultCredentialForProtectionSpace(const URLProtectionSpace& space) {
    auto list = credentialsForProtectionSpace(space);
    return list.empty() ? nullptr : list.front();
}

void URLCredentialStorage::removeCredential(const URLCredential& credential, const URLProtectionSpace& space) {
    bool permanent = credential.persistence() == URLCredentialPersistence::Permanent;
    {
        std::lock_guard<std::mutex> g(mutex_);
        auto it = spaces_.find(space.key());
        if (it != spaces_.end()) {
            auto& list = it->second.credentials;
            for (auto& c : list)
                if (c->user() == credential.user() && c->persistence() == URLCredentialPersistence::Permanent)
                    permanent = true;
            std::erase_if(list, [&](const ns::Ref<URLCredential>& c) { return c->user() == credential.user(); });
            if (list.empty()) spaces_.erase(it);
        }
    }
    if (permanent)
        if (auto store = persistentStore()) store->remove(space, credential.user());
}

void URLCredentialStorage::removeAll() {
    std::lock_guard<std::mutex> g(mutex_);
    spaces_.clear();
}

}  // namespace net
