// A writer killed at a random moment never leaves a torn file behind.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/foundation/FileIO.h"
#include "platform/foundation/Foundation.h"
#include "platform/foundation/PropertyList.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/TempDir.h"

using namespace ns;
using testsupport::TempDir;
using testsupport::endedProcessId;
using testsupport::startChildAndWaitUntilReady;

namespace {
Ref<Array> bigList(char fill) {
    auto cards = MutableArray::make();
    for (int i = 0; i < 2000; ++i)
        cards->addObject(Dictionary::make({{"title", str(std::string(1, fill) + std::to_string(i))},
                                           {"text", str(std::string(150, fill))}}));
    return cards;
}
}  // namespace

TEST(AtomicWrite, KilledWriterLeavesOldOrNewFileNeverATornOne) {
    TempDir dir;
    std::string path = dir / "deck.plist";
    auto a = bigList('a');
    auto b = bigList('b');
    ASSERT_TRUE(PropertyList::writeToFile(*a, path));
    std::mt19937 rng(12345);
    int sawA = 0, sawB = 0;
    for (int round = 0; round < 20; ++round) {
        pid_t child = startChildAndWaitUntilReady([&](const std::function<void()>& ready) {
            for (unsigned i = 0;; ++i) {
                PropertyList::writeToFile(i % 2 ? *a : *b, path);
                ready();  // at least one write has completed
            }
        });
        ASSERT_GT(child, 0);
        // Let it get somewhere into a later write, then kill it without warning.
        ::usleep(std::uniform_int_distribution<unsigned>(0, 30000)(rng));
        ASSERT_EQ(testsupport::killChild(child), "") << "round " << round;

        Ref<Error> err;
        Ref<Object> got = PropertyList::readFromFile(path, &err);
        ASSERT_TRUE(got) << "round " << round << ": " << describe(err);
        bool isA = got->isEqual(*a), isB = got->isEqual(*b);
        EXPECT_TRUE(isA || isB) << "round " << round;
        sawA += isA;
        sawB += isB;
    }
    EXPECT_EQ(sawA + sawB, 20);
    // Whatever the kills left beside the file goes at the next start.
    removeLeftoverTemporaryFiles(dir.path());
    size_t entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1u);

    // A child that never gets ready (a writer stuck before its first write) is stopped
    // within its limit instead of holding the test up.
    pid_t stuck = startChildAndWaitUntilReady([](const std::function<void()>&) { ::pause(); }, 200);
    EXPECT_EQ(stuck, -1);
}

TEST(AtomicWrite, LeftoverTemporaryFilesOfEndedWritersAreRemoved) {
    TempDir dir;
    auto ended = [] { return std::to_string(endedProcessId()); };
    std::string mine = std::to_string(::getpid());
    const std::vector<std::string> names = {
        ".keychain.db.tmp." + ended() + ".0.0123abcd",  // a killed save of keychain.db
        ".keychain.db.tmp." + mine + ".7.89abcdef",     // a save under way in this process
        ".list.plist.tmp." + ended() + ".2.fedcba98",   // another file's
        ".keychain.db.tmp.x.0.0123abcd",                // not a temporary name
        ".keychain.db.tmp." + ended() + ".0.0123",
        "keychain.db",
    };
    for (const auto& n : names) ASSERT_TRUE(writeFileAtomically(dir / n, "secret"));
    auto present = [&](size_t i) { return std::filesystem::exists(dir / names[i]); };

    EXPECT_EQ(removeLeftoverTemporaryFiles(dir.path(), "keychain.db"), 1u);
    EXPECT_FALSE(present(0));
    EXPECT_TRUE(present(1) && present(2) && present(3) && present(4) && present(5));
    // A writer that holds the lock every saver takes removes every one of its file.
    EXPECT_EQ(removeLeftoverTemporaryFiles(dir.path(), "keychain.db", LeftoverOwners::Any), 1u);
    EXPECT_FALSE(present(1));
    // Without a name: the leftovers of every file in the folder.
    EXPECT_EQ(removeLeftoverTemporaryFiles(dir.path()), 1u);
    EXPECT_FALSE(present(2));
    EXPECT_TRUE(present(3) && present(4) && present(5));
    EXPECT_EQ(removeLeftoverTemporaryFiles(dir / "missing"), 0u);
}
