#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "platform/foundation/FileIO.h"
#include "platform/foundation/Paths.h"
#include "platform/security/Digest.h"
#include "platform/security/Keychain.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/TempDir.h"

#include <thread>

using namespace sec;
namespace fs = std::filesystem;

namespace {

class KeychainTest : public ::testing::Test {
protected:
    void SetUp() override {
        setKeychainLogHandler([this](const std::string& line) { log_.push_back(line); });
    }
    void TearDown() override { setKeychainLogHandler(nullptr); }
    std::string fileBytes() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::set<std::string> folderEntries() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(root_ + "/Library/Keychains")) names.insert(entry.path().filename());
        return names;
    }
    testsupport::TempDir home_{"keychain-test"};
    const std::string root_ = home_.path();
    const std::string path_ = root_ + "/Library/Keychains/keychain.db";
    std::vector<std::string> log_;
};

unsigned modeOf(const std::string& p) {
    struct stat st{};
    EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
    return st.st_mode & 07777;
}

}  // namespace

TEST_F(KeychainTest, AddFindUpdateDeleteList) {
    Keychain kc(path_);
    std::string secret;
    EXPECT_EQ(kc.findGenericPassword("SHR_AUTH_SHRTwitter", "accessKey", &secret), kStatusItemNotFound);
    EXPECT_EQ(kc.listGenericPasswords(std::nullopt, nullptr), kStatusItemNotFound);
    EXPECT_EQ(kc.addGenericPassword("SHR_AUTH_SHRTwitter", "accessKey", "k-123"), kStatusSuccess);
    EXPECT_EQ(kc.addGenericPassword("SHR_AUTH_SHRTwitter", "accessKey", "other"), kStatusDuplicateItem);
    EXPECT_EQ(kc.addGenericPassword("SHR_AUTH_SHRTwitter", "accessSecret", std::string("s\0x", 3)), kStatusSuccess);
    EXPECT_EQ(kc.addGenericPassword("SHR_AUTH_SHRInstapaper", "username", "ann"), kStatusSuccess);

    // Reads never write: the file keeps its inode and time (a save makes a new file).
    struct stat saved{};
    ASSERT_EQ(::stat(path_.c_str(), &saved), 0);
    const auto unchanged = [&] {
        struct stat now{};
        return ::stat(path_.c_str(), &now) == 0 && now.st_ino == saved.st_ino &&
               now.st_mtim.tv_sec == saved.st_mtim.tv_sec && now.st_mtim.tv_nsec == saved.st_mtim.tv_nsec;
    };
    EXPECT_EQ(kc.findGenericPassword("SHR_AUTH_SHRTwitter", "accessKey", &secret), kStatusSuccess);
    EXPECT_EQ(secret, "k-123");
    EXPECT_TRUE(unchanged());
    EXPECT_EQ(kc.listGenericPasswords(std::nullopt, nullptr), kStatusSuccess);
    EXPECT_TRUE(unchanged());
    EXPECT_EQ(kc.findGenericPassword("SHR_AUTH_SHRTwitter", "accessSecret", &secret), kStatusSuccess);
    EXPECT_EQ(secret, std::string("s\0x", 3));

    // A second object on the same file sees the same items.
    Keychain other(path_);
    std::vector<KeychainItemAttributes> items;
    ASSERT_EQ(other.listGenericPasswords(std::string_view("SHR_AUTH_SHRTwitter"), &items), kStatusSuccess);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].account, "accessKey");
    EXPECT_EQ(items[1].account, "accessSecret");
    ASSERT_EQ(other.listGenericPasswords(std::nullopt, &items), kStatusSuccess);
    EXPECT_EQ(items.size(), 3u);
    auto dict = items[2].dictionary();
    EXPECT_EQ(ns::describe(dict->objectForKey(kAttrAccount)), "username");
    EXPECT_EQ(dict->objectForKey("v_Data"), nullptr);

    // Update keeps the item (and its creation date) and changes the secret.
    double created = items[0].created;
    EXPECT_EQ(kc.updateGenericPassword("SHR_AUTH_SHRTwitter", "accessKey", "k-456"), kStatusSuccess);
    EXPECT_EQ(kc.findGenericPassword("SHR_AUTH_SHRTwitter", "accessKey", &secret), kStatusSuccess);
    EXPECT_EQ(secret, "k-456");
    ASSERT_EQ(kc.listGenericPasswords(std::string_view("SHR_AUTH_SHRTwitter"), &items), kStatusSuccess);
    EXPECT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].created, created);
    EXPECT_GE(items[0].modified, created);
    EXPECT_EQ(kc.updateGenericPassword("nope", "nope", "x"), kStatusItemNotFound);
    EXPECT_EQ(kc.setGenericPassword("SHR_AUTH_SHRInstapaper", "password", "pw"), kStatusSuccess);
    EXPECT_EQ(kc.setGenericPassword("SHR_AUTH_SHRInstapaper", "password", "pw2"), kStatusSuccess);
    EXPECT_EQ(kc.findGenericPassword("SHR_AUTH_SHRInstapaper", "password", &secret), kStatusSuccess);
    EXPECT_EQ(secret, "pw2");

    EXPECT_EQ(kc.deleteGenericPassword("SHR_AUTH_SHRTwitter", "accessKey"), kStatusSuccess);
    EXPECT_EQ(kc.deleteGenericPassword("SHR_AUTH_SHRTwitter", "accessKey"), kStatusItemNotFound);
    EXPECT_EQ(kc.findGenericPassword("SHR_AUTH_SHRTwitter", "accessKey", nullptr), kStatusItemNotFound);
    EXPECT_EQ(other.findGenericPassword("SHR_AUTH_SHRTwitter", "accessSecret", nullptr), kStatusSuccess);

    EXPECT_EQ(kc.addGenericPassword(std::string(kMaxKeyLength + 1, 's'), "a", "x"), kStatusParam);
    EXPECT_EQ(kc.addGenericPassword("s", "a", std::string(kMaxSecretLength + 1, 'x')), kStatusParam);
    EXPECT_TRUE(log_.empty());
}

TEST_F(KeychainTest, FolderAndFileArePrivate) {
    Keychain kc(path_);
    ASSERT_EQ(kc.addGenericPassword("svc", "acct", "secret"), kStatusSuccess);
    EXPECT_EQ(modeOf(root_ + "/Library/Keychains"), 0700u);
    EXPECT_EQ(modeOf(path_), 0600u);
    EXPECT_EQ(modeOf(path_ + ".lock"), 0600u);
    // A folder that was left open is tightened on the next write.
    ::chmod((root_ + "/Library/Keychains").c_str(), 0755);
    ASSERT_EQ(kc.setGenericPassword("svc", "acct", "secret2"), kStatusSuccess);
    EXPECT_EQ(modeOf(root_ + "/Library/Keychains"), 0700u);
    EXPECT_EQ(modeOf(path_), 0600u);
    // No temporary files are left behind.
    for (const auto& entry : fs::directory_iterator(root_ + "/Library/Keychains")) {
        std::string name = entry.path().filename();
        EXPECT_TRUE(name == "keychain.db" || name == "keychain.db.lock") << name;
    }
    // A named temporary copy of this keychain goes at the next operation,
    // even a read (the lock keeps every saver out); another file's stays.
    const std::string folder = root_ + "/Library/Keychains/";
    std::ofstream(folder + ".keychain.db.tmp." + std::to_string(::getpid()) + ".7.0123abcd") << "copy of a secret";
    std::ofstream(folder + ".other.db.tmp.1.7.0123abcd") << "x";
    EXPECT_EQ(kc.findGenericPassword("svc", "acct", nullptr), kStatusSuccess);
    EXPECT_EQ(folderEntries(), (std::set<std::string>{"keychain.db", "keychain.db.lock", ".other.db.tmp.1.7.0123abcd"}));
}

TEST_F(KeychainTest, DefaultPathIsUnderTheHomeLibrary) {
    ns::Paths::setHomeDirectory(root_);
    EXPECT_EQ(Keychain::defaultPath(), root_ + "/Library/Keychains/keychain.db");
    auto kc = Keychain::defaultKeychain();
    EXPECT_EQ(kc->path(), path_);
    EXPECT_EQ(Keychain::defaultKeychain(), kc);
}

TEST_F(KeychainTest, FailedWriteKeepsTheOldValue) {
    Keychain kc(path_);
    ASSERT_EQ(kc.addGenericPassword("svc", "acct", "old-secret"), kStatusSuccess);
    std::string before = fileBytes();

    // Writes beyond the file-size limit fail (this works for root too).
    struct rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 200;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    int status = kc.updateGenericPassword("svc", "acct", std::string(4096, 'N'));
    int statusAdd = kc.addGenericPassword("svc", "second", std::string(4096, 'M'));
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(status, kStatusIO);
    EXPECT_EQ(statusAdd, kStatusIO);
    EXPECT_EQ(fileBytes(), before);
    std::string secret;
    EXPECT_EQ(kc.findGenericPassword("svc", "acct", &secret), kStatusSuccess);
    EXPECT_EQ(secret, "old-secret");
    EXPECT_EQ(kc.findGenericPassword("svc", "second", nullptr), kStatusItemNotFound);
    EXPECT_EQ(folderEntries(), (std::set<std::string>{"keychain.db", "keychain.db.lock"}));  // no partial copies
    ASSERT_FALSE(log_.empty());
    for (const auto& line : log_) {
        EXPECT_EQ(line.find("NNNN"), std::string::npos) << line;
        EXPECT_EQ(line.find("old-secret"), std::string::npos) << line;
    }

    // Without root, a read-only folder makes the write fail the same way.
    if (geteuid() != 0) {
        ::chmod((root_ + "/Library/Keychains").c_str(), 0500);
        EXPECT_EQ(kc.updateGenericPassword("svc", "acct", "new"), kStatusIO);
        ::chmod((root_ + "/Library/Keychains").c_str(), 0700);
        EXPECT_EQ(kc.findGenericPassword("svc", "acct", &secret), kStatusSuccess);
        EXPECT_EQ(secret, "old-secret");
    }
}

// Several items of one service change in one save: all of them, or, when
// one is refused or the save fails, none.
TEST_F(KeychainTest, SeveralItemsAreWrittenTogetherOrNotAtAll) {
    Keychain kc(path_);
    ASSERT_EQ(kc.setGenericPassword("other", "key", "kept"), kStatusSuccess);
    ASSERT_EQ(kc.setGenericPasswords("svc", {{"key", "k1"}, {"secret", "s1"}, {"handle", "h1"}}), kStatusSuccess);
    auto values = [&] {
        std::string out;
        for (const char* account : {"key", "secret", "handle"}) {
            std::string v;
            out += kc.findGenericPassword("svc", account, &v) == kStatusSuccess ? v : "-";
            out += ";";
        }
        return out;
    };
    EXPECT_EQ(values(), "k1;s1;h1;");
    // Replaced, deleted, and a delete of what is not there.
    ASSERT_EQ(kc.setGenericPasswords("svc", {{"key", "k2"}, {"secret", "s2"}, {"handle", std::nullopt},
                                             {"never", std::nullopt}}),
              kStatusSuccess);
    EXPECT_EQ(values(), "k2;s2;-;");
    std::string other;
    EXPECT_EQ(kc.findGenericPassword("other", "key", &other), kStatusSuccess);
    EXPECT_EQ(other, "kept");
    std::vector<KeychainItemAttributes> items;
    ASSERT_EQ(kc.listGenericPasswords(std::string_view("svc"), &items), kStatusSuccess);
    EXPECT_EQ(items.size(), 2u);
    const std::string before = fileBytes();
    EXPECT_EQ(kc.setGenericPasswords("svc", {}), kStatusSuccess);  // nothing to write
    EXPECT_EQ(kc.setGenericPasswords("svc", {{"key", "k3"}, {"key", "k4"}}), kStatusParam);  // which one?
    // A save that fails (writes past the file-size limit) changes nothing.
    struct rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 200;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    int status = kc.setGenericPasswords("svc", {{"key", std::string(4096, 'N')}, {"handle", "h3"}});
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(status, kStatusIO);
    EXPECT_EQ(fileBytes(), before);
    EXPECT_EQ(values(), "k2;s2;-;");

    // Items of several services in one save, the same way (the file left
    // would be smaller: the limit is lower).
    small.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    oldHandler = signal(SIGXFSZ, SIG_IGN);
    status = kc.setGenericPasswords(std::vector<KeychainChange>{{"svc", "key", std::nullopt}, {"other", "key", std::nullopt}});
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(status, kStatusIO);
    EXPECT_EQ(fileBytes(), before);
    EXPECT_EQ(kc.setGenericPasswords(std::vector<KeychainChange>{{"svc", "key", "a"}, {"other", "key", "b"},
                                                                 {"svc", "key", std::nullopt}}),
              kStatusParam);  // which one?
    EXPECT_EQ(fileBytes(), before);
    ASSERT_EQ(kc.setGenericPasswords(std::vector<KeychainChange>{
                  {"svc", "key", std::nullopt}, {"other", "key", std::nullopt}, {"third", "key", "t1"}}),
              kStatusSuccess);
    EXPECT_EQ(values(), "-;s2;-;");
    EXPECT_EQ(kc.findGenericPassword("other", "key", nullptr), kStatusItemNotFound);
    std::string third;
    EXPECT_EQ(kc.findGenericPassword("third", "key", &third), kStatusSuccess);
    EXPECT_EQ(third, "t1");
}

TEST_F(KeychainTest, UnwritablePathReportsAnError) {
    std::ofstream(root_ + "/file") << "x";
    Keychain kc(root_ + "/file/keychain.db");  // its folder is a regular file
    EXPECT_EQ(kc.addGenericPassword("svc", "acct", "hidden-value"), kStatusIO);
    EXPECT_EQ(kc.findGenericPassword("svc", "acct", nullptr), kStatusIO);
    ASSERT_FALSE(log_.empty());
    for (const auto& line : log_) EXPECT_EQ(line.find("hidden-value"), std::string::npos);
}

TEST_F(KeychainTest, CorruptFileIsMovedAsideNotOverwritten) {
    forgetKeychainSetAsideEvents();
    Keychain kc(path_);
    ASSERT_EQ(kc.addGenericPassword("svc", "acct", "precious-secret"), kStatusSuccess);
    std::string good = fileBytes();

    // Flip one byte of the secret: the checksum no longer matches.
    std::string bad = good;
    bad[bad.find("precious")] ^= 0x20;
    ASSERT_TRUE(ns::writeFileAtomically(path_, bad, nullptr, 0600));
    std::string secret;
    EXPECT_EQ(kc.findGenericPassword("svc", "acct", &secret), kStatusItemNotFound);
    auto aside = kc.corruptFilesMovedAside();
    ASSERT_EQ(aside.size(), 1u);
    std::ifstream in(aside[0], std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_EQ(ss.str(), bad);  // kept as it was
    EXPECT_FALSE(fs::exists(path_));
    ASSERT_FALSE(log_.empty());
    for (const auto& line : log_) EXPECT_EQ(line.find("precious"), std::string::npos) << line;

    // A new item goes to a new file; the one aside is untouched.
    EXPECT_EQ(kc.addGenericPassword("svc", "acct", "fresh"), kStatusSuccess);
    EXPECT_EQ(kc.findGenericPassword("svc", "acct", &secret), kStatusSuccess);
    EXPECT_EQ(secret, "fresh");
    std::ifstream again(aside[0], std::ios::binary);
    std::stringstream ss2;
    ss2 << again.rdbuf();
    EXPECT_EQ(ss2.str(), bad);

    // Truncated files and files with lying lengths are refused the same way.
    std::string truncated = fileBytes().substr(0, 20);
    ASSERT_TRUE(ns::writeFileAtomically(path_, truncated, nullptr, 0600));
    EXPECT_EQ(kc.listGenericPasswords(std::nullopt, nullptr), kStatusItemNotFound);
    EXPECT_EQ(kc.corruptFilesMovedAside().size(), 2u);
    ASSERT_TRUE(ns::writeFileAtomically(path_, "garbage that is no keychain at all, but long enough", nullptr, 0600));
    EXPECT_EQ(kc.findGenericPassword("svc", "acct", nullptr), kStatusItemNotFound);
    ASSERT_EQ(kc.corruptFilesMovedAside().size(), 3u);

    // Files set aside within one second get names of their own: each one
    // holds the bytes it was set aside with.
    aside = kc.corruptFilesMovedAside();
    const std::string kept[] = {bad, truncated, "garbage that is no keychain at all, but long enough"};
    EXPECT_EQ(std::set<std::string>(aside.begin(), aside.end()).size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(aside[i]);
        EXPECT_EQ(aside[i].rfind(path_ + ".corrupt-", 0), 0u);
        std::ifstream f(aside[i], std::ios::binary);
        std::stringstream bytes;
        bytes << f.rdbuf();
        EXPECT_EQ(bytes.str(), kept[i]);
    }

    // Asked to, the copies go (those of an earlier process too), and
    // nothing else in the folder: not the keychain, not files of other
    // names, not a folder or a link of such a name.
    const std::string folder = root_ + "/Library/Keychains";
    ASSERT_EQ(kc.addGenericPassword("svc", "acct", "current"), kStatusSuccess);
    ASSERT_TRUE(ns::writeFileAtomically(path_ + ".corrupt-19990101T000000Z", "earlier: precious", nullptr, 0600));
    ASSERT_TRUE(ns::writeFileAtomically(path_ + ".corrupt", "no suffix", nullptr, 0600));
    ASSERT_TRUE(ns::writeFileAtomically(folder + "/other.db.corrupt-1", "another file's", nullptr, 0600));
    fs::create_directory(path_ + ".corrupt-folder");
    ASSERT_TRUE(ns::writeFileAtomically(root_ + "/target", "precious elsewhere", nullptr, 0600));
    fs::create_symlink(root_ + "/target", path_ + ".corrupt-link");
    std::string current = fileBytes();
    std::vector<std::string> remaining{"not cleared"};
    EXPECT_EQ(kc.discardFilesMovedAside(&remaining), kStatusSuccess);
    EXPECT_TRUE(remaining.empty());
    EXPECT_TRUE(kc.corruptFilesMovedAside().empty());
    EXPECT_EQ(folderEntries(), (std::set<std::string>{"keychain.db", "keychain.db.lock", "keychain.db.corrupt",
                                                      "other.db.corrupt-1", "keychain.db.corrupt-folder",
                                                      "keychain.db.corrupt-link"}));
    EXPECT_EQ(fileBytes(), current);
    EXPECT_EQ(kc.findGenericPassword("svc", "acct", nullptr), kStatusSuccess);
    std::ifstream target(root_ + "/target");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(target), {}), "precious elsewhere");
    for (const auto& line : log_) EXPECT_EQ(line.find("precious"), std::string::npos) << line;
    // Each deletion is told, by the file's name.
    EXPECT_EQ(std::count_if(log_.begin(), log_.end(),
                            [](const std::string& line) { return line.rfind("deleted ", 0) == 0; }),
              4);
    // The process-wide list a program tells its user from: each move aside
    // and each deletion, in order, naming the keychain file and the copy.
    using Kind = KeychainSetAsideEvent::Kind;
    auto events = keychainSetAsideEvents();
    std::vector<std::string> moved, deleted;
    for (const auto& e : events) {
        EXPECT_EQ(e.original, path_);
        (e.kind == Kind::MovedAside ? moved : deleted).push_back(e.file);
        EXPECT_NE(e.kind, Kind::EmptiedNotDeleted) << e.file;
    }
    EXPECT_EQ(moved, aside);
    std::vector<std::string> expectedDeleted = aside;
    expectedDeleted.push_back(path_ + ".corrupt-19990101T000000Z");
    std::sort(deleted.begin(), deleted.end());
    std::sort(expectedDeleted.begin(), expectedDeleted.end());
    EXPECT_EQ(deleted, expectedDeleted);
    ASSERT_EQ(events.size(), 7u);
    EXPECT_EQ(events[2].kind, Kind::MovedAside) << "the moves come before the deletions";
    EXPECT_NE(events[3].kind, Kind::MovedAside);
    forgetKeychainSetAsideEvents();
    EXPECT_TRUE(keychainSetAsideEvents().empty());
    // A keychain whose folder was never made has nothing set aside.
    Keychain none(root_ + "/nowhere/keychain.db");
    EXPECT_EQ(none.discardFilesMovedAside(&remaining), kStatusSuccess);
    EXPECT_TRUE(keychainSetAsideEvents().empty());
}

TEST_F(KeychainTest, SecretsNeverInDescriptions) {
    Keychain kc(path_);
    ASSERT_EQ(kc.addGenericPassword("svc", "acct", "top-secret-value"), kStatusSuccess);
    EXPECT_EQ(kc.description().find("top-secret"), std::string::npos);
    std::vector<KeychainItemAttributes> items;
    ASSERT_EQ(kc.listGenericPasswords(std::nullopt, &items), kStatusSuccess);
    std::string d = items[0].dictionary()->description();
    EXPECT_NE(d.find("acct"), std::string::npos);
    EXPECT_EQ(d.find("top-secret"), std::string::npos);
}

namespace {
void putU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
// A keychain file in the stored layout: `count` items made by `item(i)`
// (service, account, secret), zero times, and the checksum.
std::string keychainFile(uint32_t count, const std::function<std::array<std::string, 3>(uint32_t)>& item) {
    std::string body = "DECKKC01";
    putU32(body, count);
    for (uint32_t i = 0; i < count; ++i) {
        for (const std::string& part : item(i)) {
            putU32(body, static_cast<uint32_t>(part.size()));
            body += part;
        }
        body.append(16, '\0');
    }
    return body + sha256(body);
}
}  // namespace

TEST_F(KeychainTest, KeysAndSecretsAtTheirLimitsAndOnePast) {
    Keychain kc(path_);
    const std::string key(kMaxKeyLength, 'k'), longKey(kMaxKeyLength + 1, 'k');
    const std::string secret(kMaxSecretLength, 'x'), longSecret(kMaxSecretLength + 1, 'x');
    ASSERT_EQ(kc.addGenericPassword(key, key, secret), kStatusSuccess);
    std::string found;
    ASSERT_EQ(kc.findGenericPassword(key, key, &found), kStatusSuccess);
    EXPECT_EQ(found.size(), kMaxSecretLength);
    EXPECT_EQ(kc.updateGenericPassword(key, key, secret), kStatusSuccess);
    EXPECT_EQ(kc.setGenericPassword(key, key, secret), kStatusSuccess);
    std::vector<KeychainItemAttributes> items;
    ASSERT_EQ(kc.listGenericPasswords(std::string_view(key), &items), kStatusSuccess);
    EXPECT_EQ(items.size(), 1u);
    // One byte past any limit is refused by every operation before the file is touched.
    const std::string before = fileBytes();
    for (const auto& [service, account] : {std::pair{longKey, key}, std::pair{key, longKey}}) {
        EXPECT_EQ(kc.addGenericPassword(service, account, "v"), kStatusParam);
        EXPECT_EQ(kc.findGenericPassword(service, account, nullptr), kStatusParam);
        EXPECT_EQ(kc.updateGenericPassword(service, account, "v"), kStatusParam);
        EXPECT_EQ(kc.setGenericPassword(service, account, "v"), kStatusParam);
        EXPECT_EQ(kc.deleteGenericPassword(service, account), kStatusParam);
    }
    EXPECT_EQ(kc.listGenericPasswords(std::string_view(longKey), nullptr), kStatusParam);
    EXPECT_EQ(kc.addGenericPassword("s", "a", longSecret), kStatusParam);
    EXPECT_EQ(kc.updateGenericPassword(key, key, longSecret), kStatusParam);
    EXPECT_EQ(kc.setGenericPassword(key, key, longSecret), kStatusParam);
    EXPECT_EQ(kc.setGenericPasswords(key, {{key, "v"}, {"b", longSecret}}), kStatusParam);
    EXPECT_EQ(kc.setGenericPasswords(key, {{"a", "v"}, {longKey, "v"}}), kStatusParam);
    EXPECT_EQ(kc.setGenericPasswords(longKey, {{"a", "v"}}), kStatusParam);
    EXPECT_EQ(fileBytes(), before);
    EXPECT_EQ(kc.setGenericPasswords(key, {{key, secret}, {"b", std::nullopt}}), kStatusSuccess);
    EXPECT_EQ(kc.deleteGenericPassword(key, key), kStatusSuccess);
}

TEST_F(KeychainTest, ItemCountAtItsLimitAndOnePast) {
    const auto item = [](uint32_t i) { return std::array<std::string, 3>{"svc", std::to_string(i), "v"}; };
    ns::Paths::ensureDirectory(root_ + "/Library/Keychains", 0700);
    ASSERT_TRUE(ns::writeFileAtomically(path_, keychainFile(kMaxItems, item), nullptr, 0600));
    Keychain kc(path_);
    EXPECT_EQ(kc.findGenericPassword("svc", std::to_string(kMaxItems - 1), nullptr), kStatusSuccess);
    EXPECT_EQ(kc.addGenericPassword("svc", "one more", "v"), kStatusAllocate);
    EXPECT_EQ(kc.setGenericPassword("svc", "one more", "v"), kStatusAllocate);
    EXPECT_EQ(kc.setGenericPassword("svc", "0", "changed"), kStatusSuccess);  // no new item
    // Several at once: refused whole when one would be an item too many.
    EXPECT_EQ(kc.setGenericPasswords("svc", {{"0", "changed twice"}, {"one more", "v"}}), kStatusAllocate);
    std::string secret;
    EXPECT_EQ(kc.findGenericPassword("svc", "0", &secret), kStatusSuccess);
    EXPECT_EQ(secret, "changed");
    // A delete first makes the room.
    EXPECT_EQ(kc.setGenericPasswords("svc", {{"1", std::nullopt}, {"one more", "v"}}), kStatusSuccess);
    EXPECT_EQ(kc.findGenericPassword("svc", "one more", nullptr), kStatusSuccess);
    EXPECT_EQ(kc.findGenericPassword("svc", "1", nullptr), kStatusItemNotFound);
    EXPECT_TRUE(kc.corruptFilesMovedAside().empty());

    ASSERT_TRUE(ns::writeFileAtomically(path_, keychainFile(kMaxItems + 1, item), nullptr, 0600));
    EXPECT_EQ(kc.findGenericPassword("svc", "0", nullptr), kStatusItemNotFound);
    EXPECT_EQ(kc.corruptFilesMovedAside().size(), 1u);
}

TEST_F(KeychainTest, FileSizeAtItsLimitAndOnePast) {
    // 64 items of 32 bytes of framing each (one-byte service, three-byte
    // account), 44 bytes of magic, count and checksum: the secrets fill the rest.
    constexpr size_t kItems = 64, kFraming = kItems * 32 + 44;
    const auto file = [&](size_t extra) {
        return keychainFile(kItems, [&](uint32_t i) {
            char account[4];
            std::snprintf(account, sizeof account, "a%02u", i);
            size_t length = i + 1 < kItems ? kMaxSecretLength : kMaxSecretLength - kFraming + extra;
            return std::array<std::string, 3>{"s", account, std::string(length, 'x')};
        });
    };
    ns::Paths::ensureDirectory(root_ + "/Library/Keychains", 0700);
    ASSERT_TRUE(ns::writeFileAtomically(path_, file(0), nullptr, 0600));
    ASSERT_EQ(fileBytes().size(), kMaxFileSize);
    Keychain kc(path_);
    EXPECT_EQ(kc.findGenericPassword("s", "a00", nullptr), kStatusSuccess);
    // A change that would make the file one byte longer is refused and
    // leaves every item where it was.
    EXPECT_EQ(kc.setGenericPassword("s", "a63", std::string(kMaxSecretLength - kFraming + 1, 'y')), kStatusAllocate);
    EXPECT_EQ(kc.findGenericPassword("s", "a63", nullptr), kStatusSuccess);
    EXPECT_TRUE(kc.corruptFilesMovedAside().empty());
    ASSERT_EQ(log_.size(), 1u);  // the refusal is logged, without the secret
    EXPECT_NE(log_[0].find("would grow past"), std::string::npos) << log_[0];
    EXPECT_EQ(log_[0].find("yyyy"), std::string::npos);
    EXPECT_EQ(kc.setGenericPassword("s", "a63", std::string(kMaxSecretLength - kFraming, 'y')), kStatusSuccess);
    // A file one byte past the limit cannot have come from a save: it is set aside.
    ASSERT_TRUE(ns::writeFileAtomically(path_, file(1), nullptr, 0600));
    EXPECT_EQ(kc.findGenericPassword("s", "a00", nullptr), kStatusItemNotFound);
    EXPECT_EQ(kc.corruptFilesMovedAside().size(), 1u);
}

// The state of a child process after waiting at most `seconds` for it to
// end: its exit status, or -1 while it still runs.
int exitStatusWithin(pid_t child, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

TEST_F(KeychainTest, AnotherHolderOfTheFileLockIsWaitedFor) {
    Keychain kc(path_);
    ASSERT_EQ(kc.addGenericPassword("svc", "first", "v"), kStatusSuccess);
    // flock locks belong to an open file: this one stands for another
    // process's save. The waiting writer is a child process, so the test
    // bounds its wait and kills it if it never returns.
    int fd = ::open((path_ + ".lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        ::close(fd);  // the lock stays with the parent's copy
        ::close(ready[0]);
        struct sigaction quiet{};
        quiet.sa_handler = [](int) {};
        ::sigaction(SIGUSR1, &quiet, nullptr);  // no SA_RESTART: the wait sees EINTR
        (void)!::write(ready[1], "x", 1);
        ::_exit(Keychain(path_).addGenericPassword("svc", "second", "v") == kStatusSuccess ? 0 : 1);
    }
    ::close(ready[1]);
    char c = 0;
    EXPECT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(exitStatusWithin(writer, 0.2), -1) << "the writer did not wait for the lock";
    // A signal that interrupts the wait does not end it.
    ::kill(writer, SIGUSR1);
    EXPECT_EQ(exitStatusWithin(writer, 0.2), -1) << "an interrupted wait ended";
    ::close(fd);
    int status = exitStatusWithin(writer, 30);
    if (status < 0) {
        ::kill(writer, SIGKILL);
        ::waitpid(writer, nullptr, 0);
    }
    EXPECT_EQ(status, 0) << "the writer did not finish once the lock was free";
    EXPECT_EQ(kc.findGenericPassword("svc", "second", nullptr), kStatusSuccess);
}

// Items are told apart by service and account both: pairs whose joined text
// is the same are separate items, in memory and when read back from the file.
TEST_F(KeychainTest, KeysThatJoinAlikeAreSeparateItems) {
    const std::pair<std::string, std::string> pairs[] = {
        {"ab", "c"}, {"a", "bc"}, {"abc", ""}, {"", "abc"}, {"1:a", "bc"}, {"1:ab", "c"}};
    {
        Keychain kc(path_);
        for (const auto& [service, account] : pairs)
            ASSERT_EQ(kc.addGenericPassword(service, account, service + "|" + account), kStatusSuccess)
                << service << "|" << account;
    }
    Keychain kc(path_);  // reads the file afresh
    for (const auto& [service, account] : pairs) {
        std::string secret;
        ASSERT_EQ(kc.findGenericPassword(service, account, &secret), kStatusSuccess) << service << "|" << account;
        EXPECT_EQ(secret, service + "|" + account);
    }
    EXPECT_TRUE(kc.corruptFilesMovedAside().empty());
    std::vector<KeychainItemAttributes> items;
    ASSERT_EQ(kc.listGenericPasswords(std::string_view("ab"), &items), kStatusSuccess);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].account, "c");
    ASSERT_EQ(kc.deleteGenericPassword("a", "bc"), kStatusSuccess);
    ASSERT_EQ(kc.listGenericPasswords(std::nullopt, &items), kStatusSuccess);
    EXPECT_EQ(items.size(), std::size(pairs) - 1);
    EXPECT_EQ(kc.findGenericPassword("ab", "c", nullptr), kStatusSuccess);
    EXPECT_EQ(kc.findGenericPassword("a", "bc", nullptr), kStatusItemNotFound);
}

TEST_F(KeychainTest, LengthsAreCheckedEvenUnderAValidChecksum) {
    // A well-formed header and checksum around an item whose secret claims
    // more bytes than the file holds.
    std::string body = "DECKKC01";
    putU32(body, 1);
    putU32(body, 3); body += "svc";
    putU32(body, 4); body += "acct";
    putU32(body, 0x7FFFFFFF); body += "short";
    std::string file = body + sha256(body);
    ns::Paths::ensureDirectory(root_ + "/Library/Keychains", 0700);
    ASSERT_TRUE(ns::writeFileAtomically(path_, file, nullptr, 0600));
    Keychain kc(path_);
    EXPECT_EQ(kc.findGenericPassword("svc", "acct", nullptr), kStatusItemNotFound);
    EXPECT_EQ(kc.corruptFilesMovedAside().size(), 1u);

    // A file cut anywhere inside its item, under a checksum of what is left,
    // is set aside: no length or time is read past the end.
    std::string whole = "DECKKC01";
    putU32(whole, 1);
    putU32(whole, 3); whole += "svc";
    putU32(whole, 4); whole += "acct";
    putU32(whole, 6); whole += "secret";
    whole.append(16, '\x01');
    size_t aside = kc.corruptFilesMovedAside().size();
    for (size_t cut = 12; cut < whole.size(); ++cut) {
        SCOPED_TRACE(testing::Message() << "cut at byte " << cut);
        const std::string part = whole.substr(0, cut);
        ASSERT_TRUE(ns::writeFileAtomically(path_, part + sha256(part), nullptr, 0600));
        EXPECT_EQ(kc.findGenericPassword("svc", "acct", nullptr), kStatusItemNotFound);
        EXPECT_EQ(kc.corruptFilesMovedAside().size(), ++aside);
    }
    ASSERT_TRUE(ns::writeFileAtomically(path_, whole + sha256(whole), nullptr, 0600));
    std::string secret;
    EXPECT_EQ(kc.findGenericPassword("svc", "acct", &secret), kStatusSuccess);
    EXPECT_EQ(secret, "secret");

    // An item count beyond the limit is refused before anything is read.
    std::string many = "DECKKC01";
    putU32(many, 0xFFFFFFFF);
    ASSERT_TRUE(ns::writeFileAtomically(path_, many + sha256(many), nullptr, 0600));
    EXPECT_EQ(kc.listGenericPasswords(std::nullopt, nullptr), kStatusItemNotFound);
    EXPECT_EQ(kc.corruptFilesMovedAside().size(), aside + 1);
}

// The status codes are the numbers callers of the platform keychain compare
// with, each a different one.
TEST_F(KeychainTest, StatusCodesAreThePlatformsNumbers) {
    const std::pair<int, int> codes[] = {
        {kStatusSuccess, 0},       {kStatusIO, -36},
        {kStatusParam, -50},       {kStatusAllocate, -108},
        {kStatusDuplicateItem, -25299}, {kStatusItemNotFound, -25300},
        {kStatusDecode, -26275},
    };
    for (const auto& [code, number] : codes) EXPECT_EQ(code, number);
}

TEST_F(KeychainTest, ConcurrentWritersLoseNothing) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([this, t] {
            Keychain kc(path_);  // one object per thread, one file
            for (int i = 0; i < 10; ++i)
                EXPECT_EQ(kc.addGenericPassword("svc" + std::to_string(t), "acct" + std::to_string(i), "v"),
                          kStatusSuccess);
        });
    }
    for (auto& th : threads) th.join();
    std::vector<KeychainItemAttributes> items;
    ASSERT_EQ(Keychain(path_).listGenericPasswords(std::nullopt, &items), kStatusSuccess);
    EXPECT_EQ(items.size(), 30u);
}

TEST_F(KeychainTest, KilledSavesLeaveNoCopyOfASecretBehind) {
    const std::string secret(64 * 1024, 'S');  // large enough to be caught mid-write
    ASSERT_EQ(Keychain(path_).addGenericPassword("svc", "acct", "first"), kStatusSuccess);
    std::mt19937 rng(7);
    for (int round = 0; round < 12; ++round) {
        pid_t child = testsupport::startChildAndWaitUntilReady([&](const std::function<void()>& ready) {
            Keychain kc(path_);
            for (unsigned i = 0;; ++i) {
                kc.setGenericPassword("svc", "acct" + std::to_string(i % 4), secret);
                ready();
            }
        });
        ASSERT_GT(child, 0);
        ::usleep(std::uniform_int_distribution<unsigned>(0, 20000)(rng));
        ASSERT_EQ(testsupport::killChild(child), "") << "round " << round;

        // The next operation, even a read, clears what the killed save left.
        std::string value;
        ASSERT_EQ(Keychain(path_).findGenericPassword("svc", "acct", &value), kStatusSuccess) << "round " << round;
        EXPECT_EQ(value, "first");
        EXPECT_EQ(folderEntries(), (std::set<std::string>{"keychain.db", "keychain.db.lock"})) << "round " << round;
    }
}
