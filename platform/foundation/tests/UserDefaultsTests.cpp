#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "platform/foundation/FileIO.h"
#include "platform/foundation/Foundation.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/FullDisk.h"
#include "testsupport/TempDir.h"

using namespace ns;
using testsupport::TempDir;

namespace {
// Points the shared defaults at a fresh home folder for one test.
struct FreshHome {
    TempDir dir;
    FreshHome() {
        Paths::setHomeDirectory(dir.path());
        UserDefaults::setBundleIdentifier("test.app");
        UserDefaults::resetStandardUserDefaults();
    }
    ~FreshHome() {
        UserDefaults::resetStandardUserDefaults();
        UserDefaults::setBundleIdentifier("");
        Paths::setHomeDirectory("");
    }
    std::string file() const { return dir / "Library/Preferences/test.app.plist"; }
};
}  // namespace

TEST(UserDefaults, ValuesPersistAsAnXMLPropertyListAtOnce) {
    FreshHome home;
    auto d = UserDefaults::standardUserDefaults();
    EXPECT_EQ(d->path(), home.file());
    EXPECT_FALSE(d->objectForKey("registro"));
    d->setBool(true, "registro");
    d->setInteger(3, "launches");
    d->setObjectForKey(Array::make({str("SHRMail"), str("SHRTwitter")}), "SHR_FAVS_2");
    d->setDoubleForKey(2.5, "ratio");
    // A stored user name and token with the characters XML escapes, in a key
    // and in its value, and text that looks like an escape already.
    const std::string reservedKey = "user <name> & \"token\" 'x' ]]>";
    const std::string reservedValue = "p&q <b>\"quoted\"</b> 'single' ]]> &amp; &#38;";
    d->setObjectForKey(str(reservedValue), reservedKey);
    auto text = readFile(home.file());
    ASSERT_TRUE(text);
    EXPECT_EQ(text->rfind("<?xml", 0), 0u);

    UserDefaults::resetStandardUserDefaults();
    auto again = UserDefaults::standardUserDefaults();
    EXPECT_NE(again.get(), d.get());
    EXPECT_TRUE(again->boolForKey("registro"));
    EXPECT_EQ(again->integerForKey("launches"), 3);
    EXPECT_EQ(again->doubleForKey("ratio"), 2.5);
    EXPECT_EQ(describe(again->stringForKey(reservedKey)), reservedValue);
    ASSERT_TRUE(again->arrayForKey("SHR_FAVS_2"));
    EXPECT_EQ(again->arrayForKey("SHR_FAVS_2")->count(), 2u);
    EXPECT_EQ(describe(again->stringForKey("launches")), "3");
    EXPECT_FALSE(again->arrayForKey("launches"));

    again->removeObjectForKey("registro");
    again->setObjectForKey(nullptr, "launches");
    EXPECT_TRUE(again->synchronize());
    UserDefaults::resetStandardUserDefaults();
    EXPECT_FALSE(UserDefaults::standardUserDefaults()->objectForKey("registro"));
    EXPECT_FALSE(UserDefaults::standardUserDefaults()->objectForKey("launches"));
}

TEST(UserDefaults, StoresCopiesAndRefusesNonPropertyLists) {
    FreshHome home;
    auto d = UserDefaults::standardUserDefaults();
    auto list = MutableArray::make();
    list->addObject(str("a"));
    d->setObjectForKey(list, "list");
    list->addObject(str("b"));  // later edits do not reach the defaults
    ASSERT_TRUE(d->arrayForKey("list"));
    EXPECT_EQ(d->arrayForKey("list")->count(), 1u);
    EXPECT_FALSE(d->setObjectForKey(Array::make({Null::null()}), "bad"));
    EXPECT_FALSE(d->objectForKey("bad"));

    d->registerDefaults(*Dictionary::make({{"fallback", str("x")}, {"list", str("ignored")}}));
    EXPECT_EQ(describe(d->stringForKey("fallback")), "x");
    ASSERT_TRUE(d->arrayForKey("list"));
    EXPECT_EQ(d->arrayForKey("list")->count(), 1u);
    EXPECT_EQ(d->dictionaryRepresentation()->count(), 2u);
    d->setObjectForKey(str("YES"), "flag");
    EXPECT_TRUE(d->boolForKey("flag"));
    // Registered values are not written.
    UserDefaults::resetStandardUserDefaults();
    EXPECT_FALSE(UserDefaults::standardUserDefaults()->objectForKey("fallback"));
}

TEST(UserDefaults, CorruptFileIsMovedAsideNotOverwritten) {
    FreshHome home;
    Paths::preferencesDirectory();
    const std::string junk = "<plist><dict><key>half";
    ASSERT_TRUE(writeFileAtomically(home.file(), junk));
    auto d = UserDefaults::standardUserDefaults();
    EXPECT_FALSE(d->objectForKey("half"));
    EXPECT_EQ(d->corruptFileMovedTo(), home.file() + ".corrupt");
    EXPECT_EQ(readFile(home.file() + ".corrupt").value_or(""), junk);
    d->setInteger(1, "k");
    EXPECT_EQ(readFile(home.file() + ".corrupt").value_or(""), junk);

    // A second bad file does not replace the first one set aside.
    UserDefaults::resetStandardUserDefaults();
    ASSERT_TRUE(writeFileAtomically(home.file(), "<array/>"));  // not a dictionary
    d = UserDefaults::standardUserDefaults();
    EXPECT_EQ(d->corruptFileMovedTo(), home.file() + ".corrupt.1");
    EXPECT_EQ(readFile(home.file() + ".corrupt").value_or(""), junk);
}

TEST(UserDefaults, FailedSaveIsReportedAndKeepsValuesInMemory) {
    TempDir dir;
    // The preferences "folder" is a file, so nothing can be written there.
    ASSERT_TRUE(writeFileAtomically(dir / "blocker", "x"));
    UserDefaults d(dir / "blocker/prefs.plist");
    EXPECT_TRUE(d.setObjectForKey(str("v"), "k"));
    ASSERT_TRUE(d.stringForKey("k"));
    EXPECT_EQ(d.stringForKey("k")->utf8(), "v");
    Ref<Error> err;
    EXPECT_FALSE(d.synchronize(&err));
    ASSERT_TRUE(err);
    EXPECT_EQ(err->domain(), kPropertyListErrorDomain);
}

// Values that belong together (a login's token and its expiry) are saved
// with one write: all of them, or none, in memory and in the file.
TEST(UserDefaults, SeveralValuesAreSavedTogetherOrNotAtAll) {
    TempDir dir;
    const std::string path = dir / "prefs/prefs.plist";
    testsupport::FullDisk disk(dir / "prefs");  // where the file is, from the start
    UserDefaults d(path);
    ASSERT_TRUE(d.setObjectForKey(str("old-token"), "token"));
    ASSERT_TRUE(d.setObjectForKey(str("old-expiry"), "expiry"));
    ASSERT_TRUE(d.setObjectForKey(str("kept"), "other"));
    // Saved together; nil removes a key; a key named twice ends with its
    // last value.
    ASSERT_TRUE(d.setObjectsForKeys({{"token", str("t1")}, {"expiry", nullptr}, {"token", str("t2")}}));
    EXPECT_EQ(d.stringForKey("token")->utf8(), "t2");
    EXPECT_FALSE(d.objectForKey("expiry"));
    {
        UserDefaults reread(path);
        EXPECT_EQ(reread.stringForKey("token")->utf8(), "t2");
        EXPECT_FALSE(reread.objectForKey("expiry"));
        EXPECT_EQ(reread.stringForKey("other")->utf8(), "kept");
    }
    // A value that is not a property list: nothing of the change is stored.
    Ref<Error> why;
    EXPECT_FALSE(d.setObjectsForKeys({{"token", str("t3")}, {"bad", Array::make({Null::null()})}}, &why));
    ASSERT_TRUE(why);
    EXPECT_EQ(d.stringForKey("token")->utf8(), "t2");
    EXPECT_FALSE(d.objectForKey("bad"));
    // The file cannot be written: false, and memory keeps what the file
    // holds, a key named twice and a key removed too.
    for (auto failure : testsupport::FullDisk::kFailures) {
        SCOPED_TRACE(testsupport::FullDisk::describe(failure));
        if (!disk.arrange(failure)) continue;
        why = nullptr;
        EXPECT_FALSE(d.setObjectsForKeys(
            {{"token", str("t4")}, {"other", nullptr}, {"expiry", str("e4")}, {"token", str("t5")}}, &why));
        EXPECT_TRUE(why);
        EXPECT_EQ(d.stringForKey("token")->utf8(), "t2");
        ASSERT_TRUE(d.stringForKey("other"));
        EXPECT_EQ(d.stringForKey("other")->utf8(), "kept");
        EXPECT_FALSE(d.objectForKey("expiry"));
        disk.restore();
        UserDefaults reread(path);
        EXPECT_EQ(reread.stringForKey("token")->utf8(), "t2");
        EXPECT_EQ(reread.stringForKey("other")->utf8(), "kept");
        EXPECT_FALSE(reread.objectForKey("expiry"));
    }
}

TEST(UserDefaults, BundleIdentifierComesFromInfoPlist) {
    TempDir dir;
    ASSERT_TRUE(writeToFile(*Dictionary::make({{"CFBundleIdentifier", str("com.example.deck")}}), dir / "Info.plist"));
    Paths::setBundleResourcePath(dir.path());
    EXPECT_EQ(UserDefaults::bundleIdentifier(), "com.example.deck");
    ASSERT_TRUE(writeToFile(*Dictionary::make({{"CFBundleIdentifier", str("../escape")}}), dir / "Info.plist"));
    EXPECT_EQ(UserDefaults::bundleIdentifier(), "com.tarnwick.korvel");
    Paths::setBundleResourcePath("");
}

TEST(UserDefaults, ConcurrentWritersLoseNothing) {
    FreshHome home;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            auto d = UserDefaults::standardUserDefaults();
            for (int i = 0; i < 20; ++i) {
                std::string key = "k" + std::to_string(t) + "_" + std::to_string(i);
                d->setIntegerForKey(t * 100 + i, key);
                EXPECT_EQ(d->integerForKey(key), t * 100 + i);
            }
        });
    for (auto& th : threads) th.join();
    UserDefaults::resetStandardUserDefaults();
    auto reloaded = UserDefaults::standardUserDefaults();
    EXPECT_EQ(reloaded->dictionaryRepresentation()->count(), 80u);
    EXPECT_EQ(reloaded->integerForKey("k3_19"), 319);
}

namespace {
// Runs `body` as a user without privileges (root reads every file, so a
// permission test needs one); answers its exit status, or -1.
int runUnprivileged(const std::function<int()>& body) {
    if (::geteuid() != 0) return body();
    pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(90);
        ::_exit(body());
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}
}  // namespace

TEST(UserDefaults, FileIsPrivateAndLeftoversOfKilledSavesGoAtLoad) {
    FreshHome home;
    Paths::preferencesDirectory();
    // An older file readable by everyone becomes private at the next save.
    ASSERT_TRUE(writeToFile(*Dictionary::make({{"kSHRFacebookAccessToken", str("tok")}}), home.file()));
    ::chmod(home.file().c_str(), 0644);
    std::string folder = home.dir / "Library/Preferences";
    std::string dead = folder + "/.test.app.plist.tmp." + std::to_string(testsupport::endedProcessId()) + ".3.0badc0de";
    std::string live = folder + "/.test.app.plist.tmp." + std::to_string(::getppid()) + ".1.0000beef";
    std::string other = folder + "/.other.plist.tmp." + std::to_string(testsupport::endedProcessId()) + ".0.12345678";
    for (const auto& f : {dead, live, other}) ASSERT_TRUE(writeFileAtomically(f, "partial copy of a token"));

    auto d = UserDefaults::standardUserDefaults();
    EXPECT_FALSE(std::filesystem::exists(dead));  // its writer is gone
    EXPECT_TRUE(std::filesystem::exists(live));   // a save of a running process is left alone
    EXPECT_TRUE(std::filesystem::exists(other));  // not this file's
    EXPECT_EQ(describe(d->stringForKey("kSHRFacebookAccessToken")), "tok");
    d->setObjectForKey(str("tok2"), "kSHRFacebookAccessToken");
    struct stat st{};
    ASSERT_EQ(::stat(home.file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(UserDefaults, FileUnreadableForLackOfPermissionIsKeptNotOverwritten) {
    TempDir dir;
    std::string path = dir / "prefs.plist";
    ASSERT_TRUE(writeToFile(*Dictionary::make({{"registro", str("YES")}}), path));
    std::string before = *readFile(path);
    ::chmod(path.c_str(), 0);
    ::chmod(dir.path().c_str(), 0777);  // the unprivileged user may write beside it
    int status = runUnprivileged([&] {
        UserDefaults d(path);
        if (!d.keepsUnreadableFile() || d.objectForKey("registro")) return 1;
        d.setBool(true, "LaunchCount");  // kept in memory, not saved
        if (!d.boolForKey("LaunchCount")) return 2;
        Ref<Error> err;
        if (d.synchronize(&err) || !err || err->code() != EACCES) return 3;
        if (!d.corruptFileMovedTo().empty()) return 4;
        return 0;
    });
    EXPECT_EQ(status, 0);
    ::chmod(path.c_str(), 0600);
    EXPECT_EQ(readFile(path).value_or(""), before);
    EXPECT_FALSE(std::filesystem::exists(path + ".corrupt"));
}
