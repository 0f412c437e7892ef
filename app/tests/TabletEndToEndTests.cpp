// The tablet road end to end through the korvel program, as a person runs
// it with a script: open a deck and a card, keep the card as a favourite,
// quit, start again with the same home folder, find the favourite, delete
// it, and see the favourites file emptied.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "testsupport/Command.h"
#include "testsupport/TempDir.h"

namespace {

namespace fs = std::filesystem;

using Outcome = testsupport::CommandOutput;

class TabletEndToEndTest : public ::testing::Test {
protected:
    Outcome korvel(const std::string& script) {
        std::string path = dir + "/script-" + std::to_string(++runs) + ".txt";
        std::ofstream(path) << script;
        return testsupport::runCommand(std::string(KORVEL_PATH) + " --idiom tablet --home " + dir +
                                       "/home --bundle " + DECK_SOURCE_DIR + "/resources --script " + path + " 2>&1");
    }
    // The favourites file's titles as Python's plistlib reads it.
    std::string favouritesByPeer() {
        std::string file = dir + "/home/Documents/Favorites-VeltraIpad.plist";
        std::string cmd = "python3 -c \"import plistlib,sys\nrows=plistlib.load(open(sys.argv[1],'rb'))\n"
                          "print(type(rows).__name__, len(rows), '|'.join(r.get('title','') + ':' + "
                          "r.get('Editable','') for r in rows))\" '" + file + "' 2>&1";
        return testsupport::chomp(testsupport::runCommand(cmd).out);
    }
    static bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
    testsupport::TempDir tmp{"tablet-e2e"};
    const std::string dir = tmp.path();
    int runs = 0;
};

TEST_F(TabletEndToEndTest, AFavouriteSurvivesARestartAndItsDeletionEmptiesTheFile) {
    Outcome first = korvel(
        "wait 3\n"
        "tap No, thanks\n"
        "wait 0.5\n"
        "tap Experience\n"
        "tap a failure\n"
        "screen\n"
        "tap Add to favorites\n"
        "screen\n"
        "alert Accept\n"
        "quit\n");
    ASSERT_EQ(first.status, 0) << first.out;
    EXPECT_TRUE(has(first.out, "[page KORVEL_10.html]")) << first.out;
    EXPECT_TRUE(has(first.out, "was saved correctly.")) << first.out;
    EXPECT_EQ(favouritesByPeer(), "list 1 A failure:YES");

    Outcome second = korvel(
        "wait 3\n"
        "alert Remind me later\n"  // the second launch asks for a rating
        "tap About you\n"
        "tap Favorites\n"
        "screen\n"
        "delete a failure\n"
        "screen\n"
        "alert accept\n"
        "screen\n");
    ASSERT_EQ(second.status, 0) << second.out;
    size_t listed = second.out.find("- a failure >");
    EXPECT_NE(listed, std::string::npos) << second.out;
    EXPECT_TRUE(has(second.out, "[page KORVEL_10.html]")) << second.out;
    EXPECT_TRUE(has(second.out, "There are no letters added.")) << second.out;
    // After the alert: back on the first deck.
    std::string last = second.out.substr(second.out.rfind("There are no letters added."));
    EXPECT_TRUE(has(last, "- tell me about yourself >")) << second.out;
    EXPECT_EQ(favouritesByPeer(), "list 0 ");
}

TEST_F(TabletEndToEndTest, SearchFullCardAndPracticeAsAPersonDoesThem) {
    Outcome r = korvel(
        "wait 3\n"
        "tap No, thanks\n"
        "wait 0.5\n"
        "tap Experience\n"
        "tap Search\n"
        "type SITUATION\n"
        "return\n"
        "tap A conflict at work\n"
        "screen\n"
        "tap Full card\n"
        "wait 0.5\n"
        "tap Close\n"
        "wait 0.5\n"
        "tap Practice\n"
        "screen\n"
        "tapat 534,600\n"
        "screen\n");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(has(r.out, "Search: SITUATION")) << r.out;
    size_t question = r.out.find("[page MKTG_01_blank.html]");
    ASSERT_NE(question, std::string::npos) << r.out;
    EXPECT_TRUE(has(r.out.substr(question), "Tap to see the answer."));
    // The tap on the page turned the card to its answer.
    std::string last = r.out.substr(r.out.rfind("Practice\n[Add to favorites]"));
    EXPECT_FALSE(has(last, "MKTG_01_blank.html")) << r.out;
    EXPECT_TRUE(has(last, "[page KORVEL_")) << r.out;
    EXPECT_TRUE(has(last, "Answer")) << r.out;
}

}  // namespace
