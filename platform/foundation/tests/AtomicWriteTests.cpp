// A writer killed at a random moment never leaves a torn file behind.
#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/foundation/FileIO.h"
#include "platform/foundation/Foundation.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/tests/TempDir.h"

using namespace ns;
using ns::testing::TempDir;

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
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            bool wroteSignal = false;
            for (unsigned i = 0;; ++i) {
                PropertyList::writeToFile(i % 2 ? *a : *b, path);
                if (!wroteSignal) {
                    (void)!::write(ready[1], "x", 1);
                    wroteSignal = true;
                }
            }
        }
        ::close(ready[1]);
        char c;
        ASSERT_EQ(::read(ready[0], &c, 1), 1);  // at least one write has completed
        ::close(ready[0]);
        // Let it get somewhere into a later write, then kill it without warning.
        ::usleep(std::uniform_int_distribution<unsigned>(0, 30000)(rng));
        ::kill(child, SIGKILL);
        int status;
        ::waitpid(child, &status, 0);

        Ref<Error> err;
        Ref<Object> got = PropertyList::readFromFile(path, &err);
        ASSERT_TRUE(got) << "round " << round << ": " << describe(err);
        bool isA = got->isEqual(*a), isB = got->isEqual(*b);
        EXPECT_TRUE(isA || isB) << "round " << round;
        sawA += isA;
        sawB += isB;
    }
    EXPECT_EQ(sawA + sawB, 20);
}
