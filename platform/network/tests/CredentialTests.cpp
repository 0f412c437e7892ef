#include <gtest/gtest.h>

#include "platform/network/MIMEType.h"
#include "platform/network/URLCredential.h"

namespace {

using net::URLCredential;
using net::URLCredentialPersistence;
using net::URLCredentialStorage;
using net::URLProtectionSpace;

struct MemoryStore : URLCredentialStorage::PersistentStore {
    std::map<std::string, std::vector<ns::Ref<URLCredential>>> kept;
    void save(const URLProtectionSpace& s, const URLCredential& c) override {
        auto& v = kept[s.key()];
        std::erase_if(v, [&](auto& x) { return x->user() == c.user(); });
        v.insert(v.begin(), URLCredential::make(c.user(), c.password(), c.persistence()));
    }
    void remove(const URLProtectionSpace& s, const std::string& user) override {
        std::erase_if(kept[s.key()], [&](auto& x) { return x->user() == user; });
    }
    std::vector<ns::Ref<URLCredential>> load(const URLProtectionSpace& s) override { return kept[s.key()]; }
};

TEST(URLCredentialStorage, DefaultsPerSpaceAndPersistence) {
    auto& storage = URLCredentialStorage::sharedCredentialStorage();
    storage.removeAll();
    auto store = ns::make<MemoryStore>();
    storage.setPersistentStore(store);
    auto space = URLProtectionSpace::server("API.example.com", 443, "HTTPS", "realm");
    auto other = URLProtectionSpace::server("api.example.com", 443, "https", "other realm");

    storage.setDefaultCredential(URLCredential::make("ann", "pw1", URLCredentialPersistence::ForSession), space);
    storage.setDefaultCredential(URLCredential::make("bob", "pw2", URLCredentialPersistence::Permanent), space);
    EXPECT_EQ(storage.defaultCredentialForProtectionSpace(space)->user(), "bob");
    EXPECT_EQ(storage.credentialsForProtectionSpace(space).size(), 2u);
    EXPECT_FALSE(storage.defaultCredentialForProtectionSpace(other));
    storage.setDefaultCredential(URLCredential::make("ann", "pw1", URLCredentialPersistence::ForSession), space);
    EXPECT_EQ(storage.defaultCredentialForProtectionSpace(space)->user(), "ann");
    // Persistence None is never kept.
    storage.setDefaultCredential(URLCredential::make("tmp", "x", URLCredentialPersistence::None), other);
    EXPECT_FALSE(storage.defaultCredentialForProtectionSpace(other));

    // A new run: memory is empty, the permanent one comes back from the store.
    storage.removeAll();
    auto back = storage.defaultCredentialForProtectionSpace(space);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->user(), "bob");
    storage.removeCredential(*back, space);
    EXPECT_FALSE(storage.defaultCredentialForProtectionSpace(space));
    EXPECT_TRUE(store->kept[space.key()].empty());

    auto proxy = URLProtectionSpace::proxy("proxy", 3128, net::kProxyTypeHTTP, "p");
    EXPECT_NE(proxy.key(), URLProtectionSpace::server("proxy", 3128, "http", "p").key());
    // Descriptions never show a password.
    auto secret = URLCredential::make("carol", "s3cr3t", URLCredentialPersistence::ForSession);
    EXPECT_EQ(secret->description().find("s3cr3t"), std::string::npos);
    storage.setPersistentStore(nullptr);
    storage.removeAll();
}

TEST(MIMEType, ByExtension) {
    EXPECT_EQ(net::mimeTypeForPath("/tmp/photo.JPG"), "image/jpeg");
    EXPECT_EQ(net::mimeTypeForPath("notes.txt"), "text/plain");
    EXPECT_EQ(net::mimeTypeForPath("archive.unknownext"), "application/octet-stream");
    EXPECT_EQ(net::mimeTypeForPath("/dir.d/noext"), "application/octet-stream");
    EXPECT_EQ(net::mimeTypeForPathExtension("png"), "image/png");
    EXPECT_EQ(net::mimeTypeForPathExtension("nope"), "");
}

}  // namespace
