// The korvel program run as a person would run it, with a script; the test
// reads what it prints (the text screen) and its exit status.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "testsupport/ChildProcess.h"
#include "testsupport/Command.h"
#include "testsupport/FullDisk.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/RefusingPort.h"
#include "testsupport/TempDir.h"
#include "tools/simulator/Simulator.h"
#include "platform/foundation/FileIO.h"
#include "sharing/core/SHR.h"
#include "sharing/core/SHRLogoutRecord.h"
#include "platform/security/Keychain.h"

namespace {

namespace fs = std::filesystem;

using Outcome = testsupport::CommandOutput;

class SimulatorTest : public ::testing::Test {
public:
    static std::string repeated(const std::string& piece, size_t n) {
        std::string out;
        while (n--) out += piece;
        return out;
    }

protected:
    // Every run of the program is bounded: one that never ends is stopped
    // (status 124), so its test fails and the rest of the binary still runs.
    static std::string bounded() { return "timeout -k 5 120 " + std::string(KORVEL_PATH); }
    Outcome korvel(const std::string& idiom, const std::string& script, const std::string& extra = "") {
        std::string scriptPath = dir + "/script.txt";
        std::ofstream(scriptPath) << script;
        std::string cmd = bounded() + (idiom.empty() ? "" : " --idiom " + idiom) + " --home " + dir + "/home --bundle " +
                          DECK_SOURCE_DIR + "/resources --script " + scriptPath + " " + extra + " 2>&1 </dev/null";
        return testsupport::runCommand(cmd);
    }
    static bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
    testsupport::TempDir tmp{"korvel-test"};
    const std::string dir = tmp.path();
};

TEST_F(SimulatorTest, TabletSessionOpensADeckFromTheHomeScreen) {
    Outcome r = korvel("tablet",
                   "screen\n"
                   "wait 3\n"
                   "screen\n"
                   "tap No, thanks\n"
                   "wait 0.5\n"
                   "tap Experience\n"
                   "screen\n");
    EXPECT_EQ(r.status, 0) << r.out;
    size_t splash = r.out.find("Korvel interview cards");
    size_t home = r.out.find("[Technical interviews]");
    size_t signUp = r.out.find("Sign up for news from Tarnwick");
    ASSERT_NE(splash, std::string::npos) << r.out;
    ASSERT_NE(home, std::string::npos) << r.out;
    EXPECT_LT(splash, home);
    EXPECT_NE(signUp, std::string::npos) << r.out;
    // The last screen is the deck's hub: its buttons, the deck's rows and its first card.
    size_t hub = r.out.rfind("[Interview]");
    ASSERT_NE(hub, std::string::npos) << r.out;
    std::string last = r.out.substr(hub);
    EXPECT_TRUE(has(last, "- a conflict at work >")) << r.out;
    EXPECT_TRUE(has(last, "[page KORVEL_9.html]")) << r.out;
}

TEST_F(SimulatorTest, PhoneSessionOpensTheDeckIndexAndASubMenu) {
    // No options but the files: the phone, and the same practice draws on every run.
    const std::string script =
        "wait 4\n"
        "tap No, thanks\n"
        "wait 0.5\n"
        "tap Deck index\n"
        "screen\n"
        "tap About you\n"
        "screen\n"
        "tap Practice\n"
        "screen\n";
    Outcome r = korvel("", script);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(korvel("", script, "--home " + dir + "/again").out, r.out);
    EXPECT_TRUE(has(r.out, "Tabs: Deck index* | Tactics | Practice | Search | More")) << r.out;
    EXPECT_TRUE(has(r.out, "about you")) << r.out;
    EXPECT_TRUE(has(r.out, "tell me about yourself")) << r.out;
    EXPECT_TRUE(has(r.out, "[Deck index]")) << r.out;  // the sub-menu's back button
    // Restarting on the same home folder: the refusal was remembered.
    Outcome again = korvel("phone", "wait 4\nscreen\n");
    EXPECT_EQ(again.status, 0);
    EXPECT_FALSE(has(again.out, "Sign up for news from Tarnwick")) << again.out;
}

TEST_F(SimulatorTest, ASignUpTheServiceNeverGetsLeavesTheFormForAnotherTry) {
    testsupport::RefusingPort closed;
    std::string service = closed.url();
    ::setenv("DECK_ENDPOINTS", "tarnwick-forms=http://127.0.0.1:1", 1);  // --endpoint wins over it
    Outcome r = korvel("phone",
                       "wait 4\n"
                       "tap Name\ntype Ada\n"
                       "tap University or company\ntype Analytical & Co\n"
                       "tap E-mail\ntype ada@example.org\nreturn\n"
                       "tap Send\n"
                       "screen\n"
                       "wait 1\n"
                       "background\n"
                       "foreground\n"
                       "screen\n",
                       "--endpoint tarnwick-forms=" + service);
    ::unsetenv("DECK_ENDPOINTS");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(has(r.out, "Form post: POST " + service + "/tarnwick/WS/Tarnwick.php metodo=SignUp&name=Ada&"
                           "universityCompany=Analytical%20%26%20Co&email=ada%40example.org&appId=4&systemId=2&"))
        << r.out;
    // "Loading..." while the post runs; once it has failed, the form again.
    size_t loading = r.out.find("Loading...");
    ASSERT_NE(loading, std::string::npos) << r.out;
    std::string after = r.out.substr(loading);
    EXPECT_FALSE(has(after.substr(1), "Loading...")) << r.out;
    EXPECT_TRUE(has(after, "[Send]")) << r.out;
    EXPECT_FALSE(has(r.out, "Got it!")) << r.out;
    // A script's output is what it asked for: the app's own log lines stay out of it.
    EXPECT_FALSE(has(r.out, "/tarnwick/WS/Tarnwick.php\n")) << r.out;
    // Nothing was taken, so the next start asks again.
    Outcome again = korvel("phone", "wait 4\nscreen\n");
    EXPECT_TRUE(has(again.out, "Sign up for news from Tarnwick")) << again.out;
}

TEST_F(SimulatorTest, ASignUpWhoseAnswerTricklesInIsGivenUpAtTheLimitAndTheFormStays) {
    // The service sends the head of an answer and then a byte every 0.1 s,
    // for as long as the connection stays.
    testsupport::Server trickling([](testsupport::Conn& c) {
        if (!c.readRequest()) return;
        if (!c.write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n")) return;
        for (int i = 0; i < 600 && c.write(" "); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    });
    const std::string fill =
        "tap Name\ntype Ada\n"
        "tap University or company\ntype Analytical & Co\n"
        "tap E-mail\ntype ada@example.org\nreturn\n"
        "tap Send\n"
        "screen\n"
        "wait 1\n"
        "screen\n"
        "tap No, thanks\nwait 1\n"
        "screen\n";
    for (const char* idiom : {"phone", "tablet"}) {
        SCOPED_TRACE(idiom);
        std::ofstream(dir + "/script.txt") << (std::string(idiom) == "phone" ? "wait 4\n" : "wait 3\n") + fill;
        auto started = std::chrono::steady_clock::now();
        Outcome r = testsupport::runCommand("timeout 60 " + std::string(KORVEL_PATH) + " --idiom " + idiom + " --home " +
                                            dir + "/" + idiom + " --bundle " + DECK_SOURCE_DIR + "/resources --script " +
                                            dir + "/script.txt --endpoint tarnwick-forms=" + trickling.url("") +
                                            " --form-post-limit 1.5 2>&1 </dev/null");
        double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_GE(took, 1.5) << r.out;
        // "Loading..." while the post runs; after the wait, the form again,
        // which takes its "No, thanks".
        size_t loading = r.out.find("Loading...");
        ASSERT_NE(loading, std::string::npos) << r.out;
        std::string after = r.out.substr(loading + 1);
        EXPECT_FALSE(has(after, "Loading...")) << r.out;
        EXPECT_TRUE(has(after, "[Send]")) << r.out;
        EXPECT_FALSE(has(r.out, "Got it!")) << r.out;
        EXPECT_FALSE(has(r.out, "error:")) << r.out;
        // The last screen: the form answered and gone, the screen under it.
        std::string last = r.out.substr(r.out.rfind("[No, thanks]") + 1);
        EXPECT_FALSE(has(last, "Sign up for news from Tarnwick")) << r.out;
        EXPECT_TRUE(has(last, "bout you")) << r.out;
    }
}

TEST_F(SimulatorTest, KorvelEndsCleanlyRightAfterASendWhateverThePostIsDoing) {
    // The post is still on its way (its headers being built, its connection
    // opening, its answer awaited) when the program ends: by `quit`, at the
    // end of the script, at the end of piped input. The network thread must
    // be stopped before anything it reads is freed: no sanitizer report, no
    // hang, and the exit status the help text promises. Forty runs against
    // a service that answers and forty against one that never does.
    testsupport::Server answering([](const testsupport::Request&) -> std::optional<std::string> {
        return testsupport::Server::reply(200, "{\"status\":\"ok\"}", "Content-Type: application/json\r\n");
    });
    testsupport::Server silent([](const testsupport::Request&) -> std::optional<std::string> { return std::nullopt; });
    const std::string send =
        "wait 4\n"
        "tap Name\ntype Ada\n"
        "tap University or company\ntype Co\n"
        "tap E-mail\ntype ada@example.org\nreturn\n"
        "tap Send\n";
    struct Ending {
        const char* name;
        std::string last;  // after the Send
        bool piped;        // the lines come on standard input, not from --script
        int status;
    };
    const Ending endings[] = {
        {"quit in a script", "quit\n", false, 0},
        {"the end of a script", "", false, 0},
        {"the end of a script with a failed command", "tap Nothing like this\n", false, 1},
        {"quit in piped input", "quit\n", true, 0},
        {"the end of piped input", "", true, 0},
    };
    struct Service {
        const char* name;
        std::string url;
    } services[] = {{"a service that answers", answering.url("")}, {"a service that never answers", silent.url("")}};
    constexpr int kRuns = 40;
    constexpr int kAtOnce = 4;
    for (const Service& service : services) {
        std::vector<Outcome> outcomes(kRuns);
        for (int first = 0; first < kRuns; first += kAtOnce) {
            std::vector<std::thread> batch;
            for (int i = first; i < std::min(kRuns, first + kAtOnce); ++i)
                batch.emplace_back([&, i] {
                    const Ending& e = endings[i % std::size(endings)];
                    std::string run = dir + "/" + std::to_string(&service - services) + "-" + std::to_string(i);
                    fs::create_directories(run);
                    std::ofstream(run + "/lines.txt") << send << e.last;
                    std::string cmd = "timeout -k 5 60 " + std::string(KORVEL_PATH) + " --home " + run + "/home --bundle " +
                                      DECK_SOURCE_DIR + "/resources --endpoint tarnwick-forms=" + service.url +
                                      (e.piped ? " --clock manual <" + run + "/lines.txt"
                                               : " --script " + run + "/lines.txt </dev/null") +
                                      " 2>&1";
                    outcomes[size_t(i)] = testsupport::runCommand(cmd, 90);
                });
            for (auto& t : batch) t.join();
        }
        for (int i = 0; i < kRuns; ++i) {
            const Ending& e = endings[i % std::size(endings)];
            const Outcome& r = outcomes[size_t(i)];
            SCOPED_TRACE(std::string(service.name) + ", " + e.name + ", run " + std::to_string(i));
            EXPECT_FALSE(r.sanitizerReported) << r.out;
            EXPECT_FALSE(r.timedOut) << r.out;
            EXPECT_EQ(r.status, e.status) << r.out;
            EXPECT_TRUE(has(r.out, "Form post: POST " + service.url + "/tarnwick/WS/Tarnwick.php")) << r.out;
            if (HasFailure()) return;  // one run's story is enough
        }
    }
}

TEST_F(SimulatorTest, AFailedCommandIsOneLineAndTheScriptEndsWithStatusOne) {
    Outcome r = korvel("phone",
                   "wait 4\n"
                   "tap Nothing like this\n"
                   "frobnicate\n"
                   "tap No, thanks\n"
                   "wait 0.5\n"
                   "tap More\n"
                   "tap Rate this app\n"
                   "alert Rate it\n"
                   "tapat 400,5\n"
                   "tap " + std::string(300, 'x') + "\n"
                   "tap " + repeated("\u00e9", 150) + "\n");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(has(r.out, "error: line 9: tapat 400,5: the point 400,5 is off the screen (x from 0 to 320, y from 0 to "
                           "480)\n"))
        << r.out;
    // What was typed is quoted at most 100 characters long.
    const std::string cut = std::string(100, 'x') + "...";
    size_t longLine = r.out.find("error: line 10: ");
    ASSERT_NE(longLine, std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(longLine, r.out.find('\n', longLine) - longLine),
              "error: line 10: tap " + std::string(96, 'x') + "...: nothing called \"" + cut + "\" on the screen");
    EXPECT_TRUE(has(r.out, "nothing called \"" + repeated("\u00e9", 100) + "...\" on the screen\n")) << r.out;
    EXPECT_TRUE(has(r.out, "error: line 2: tap Nothing like this: nothing called \"Nothing like this\" on the screen\n"))
        << r.out;
    EXPECT_TRUE(has(r.out, "error: line 3: frobnicate: unknown command")) << r.out;
    // The session went on after the errors; the page opened is told once.
    size_t opened = r.out.find("Opened URL: itms-apps://");
    ASSERT_NE(opened, std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Opened URL:", opened + 1), std::string::npos) << r.out;
}

TEST(SimulatorQuote, TypedTextIsQuotedAtMostAHundredCharactersLong) {
    const std::string e = "\u00e9", euro = "\u20ac", face = "\U0001F600";
    struct Row {
        const char* name;
        std::string text, quoted;
    } rows[] = {
        {"empty", "", ""},
        {"a hundred letters", std::string(100, 'a'), std::string(100, 'a')},
        {"a hundred and one letters", std::string(101, 'a'), std::string(100, 'a') + "..."},
        {"a hundred two-byte characters", SimulatorTest::repeated(e, 100), SimulatorTest::repeated(e, 100)},
        {"a hundred and one two-byte characters", SimulatorTest::repeated(e, 101), SimulatorTest::repeated(e, 100) + "..."},
        {"three-byte characters", SimulatorTest::repeated(euro, 101), SimulatorTest::repeated(euro, 100) + "..."},
        // The lowest first byte of each length: U+0080 (C2), U+0800 (E0), U+10000 (F0).
        {"three-byte characters from E0", SimulatorTest::repeated("\u0915", 101), SimulatorTest::repeated("\u0915", 100) + "..."},
        {"two-byte characters from C2", SimulatorTest::repeated("\u00a9", 101), SimulatorTest::repeated("\u00a9", 100) + "..."},
        {"four-byte characters from F0", SimulatorTest::repeated("\U00010348", 101), SimulatorTest::repeated("\U00010348", 100) + "..."},
        {"four-byte characters", SimulatorTest::repeated(face, 101), SimulatorTest::repeated(face, 100) + "..."},
        {"mixed, cut after a four-byte one", std::string(99, 'a') + face + "b", std::string(99, 'a') + face + "..."},
        {"mixed, a hundred in all", std::string(98, 'a') + e + face, std::string(98, 'a') + e + face},
    };
    for (const Row& row : rows) EXPECT_EQ(simulator::Simulator::shortened(row.text), row.quoted) << row.name;
}

TEST_F(SimulatorTest, TypedTextKeepsItsBlanksBadWaitsAreRefusedAndSetAsideFilesAreTold) {
    fs::create_directories(dir + "/home/Documents");
    std::ofstream(dir + "/home/Documents/Favorites-VeltraIpad.plist") << "not a property list";
    fs::create_directories(dir + "/home/Outbox");
    std::ofstream(dir + "/home/Outbox/earlier.eml") << "Subject: from an earlier run\r\n";  // not news
    Outcome r = korvel("phone",
                       "wait nan\n"
                       "wait -2\n"
                       "wait 0x10\n"
                       "wait 1e3\n"
                       "wait .\n"
                       "wait 4\n"
                       "tap Name\n"
                       "type    \r\n"
                       "screen\n");
    EXPECT_EQ(r.status, 1) << r.out;
    const std::string notice =
        "Unreadable file moved aside: Documents/Favorites-VeltraIpad.plist is now "
        "Documents/Favorites-VeltraIpad.plist.corrupt-1\n";
    EXPECT_EQ(r.out.rfind(notice, 0), 0u) << r.out;  // told before the first command's output
    EXPECT_FALSE(has(r.out, "Mail written")) << r.out;
    EXPECT_TRUE(has(r.out, "error: line 1: wait nan: wait SECONDS (a number from 0 to 86400)\n")) << r.out;
    EXPECT_TRUE(has(r.out, "error: line 2: wait -2: wait SECONDS (a number from 0 to 86400)\n")) << r.out;
    EXPECT_TRUE(has(r.out, "error: line 3: wait 0x10: wait SECONDS (a number from 0 to 86400)\n")) << r.out;
    EXPECT_TRUE(has(r.out, "error: line 4: wait 1e3: wait SECONDS (a number from 0 to 86400)\n")) << r.out;
    EXPECT_TRUE(has(r.out, "error: line 5: wait .: wait SECONDS (a number from 0 to 86400)\n")) << r.out;
    EXPECT_TRUE(has(r.out, "Name:    |____")) << r.out;  // three blanks typed
    // Told once: the next run knows the file.
    Outcome again = korvel("phone", "screen\n");
    EXPECT_FALSE(has(again.out, "Unreadable file")) << again.out;
}

TEST_F(SimulatorTest, TabletFormsCanBeAnsweredAfterTurningEitherWay) {
    // Each form opened upright, turned to landscape and back, and one
    // opened in landscape and turned upright: Send and "No, thanks" take taps.
    Outcome r = korvel("tablet",
                       "wait 3\n"
                       "rotate landscape\n"
                       "tap Name\ntype Ada\n"
                       "rotate portrait\nrotate landscape\n"
                       "tap Send\nalert Accept\n"  // the fields are not all filled
                       "tap No, thanks\nwait 1\n"
                       "rotate portrait\n"
                       "tap About you\n"
                       "tap Referral\n"
                       "rotate landscape\n"
                       "tap Send\nalert Accept\n"
                       "rotate portrait\n"
                       "tap No, thanks\nwait 1\n"
                       "rotate landscape\n"
                       "tap Sign up\n"
                       "rotate portrait\n"
                       "tap send\nalert Accept\n"  // names are found without regard to case too
                       "tap No, thanks\nwait 1\n"
                       "screen\n");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(has(r.out, "error:")) << r.out;
    EXPECT_FALSE(has(r.out, "[No, thanks]")) << r.out;  // every form answered and gone
}

TEST_F(SimulatorTest, SheetsAndFieldsCanBeLeftAndClearedAndCoversAreNamed) {
    Outcome r = korvel("tablet",
                       "wait 3\n"
                       "tap Experience\n"  // 2: under the sign-up form
                       "back\n"            // 3: likewise
                       "tap No, thanks\nwait 1\n"
                       "tap About you\n"
                       "tap Search\n"
                       "tap Info\n"  // 8: under the search sheet
                       "type zzz\nclear\ntype tell\n"
                       "screen\n"
                       "tap Cancel\n"
                       "tap Search\n"
                       "type zzz\nreturn\n"
                       "type x\n"  // 17: while "No data" shows
                       "back\n"    // 18: likewise
                       "alert OK\n"
                       "back\n"    // the sheet closes as its Cancel would
                       "tap Practice\ntap Groups\ntap Add new group (swipe to delete)\n"
                       "tap Answer length\n"  // the last card: the list scrolls to it
                       "tap Save\nscreen\nalert OK\n"
                       "back\n"
                       "tap Full card\nback\n"  // the full card closes as its Close does
                       "screen\n");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(has(r.out, "error: line 2: tap Experience: button \"Experience\" is covered by the sign-up form\n"))
        << r.out;
    EXPECT_TRUE(has(r.out, "error: line 3: back: the way back is covered by the sign-up form; answer it first\n"))
        << r.out;
    EXPECT_TRUE(has(r.out, "error: line 8: tap Info: button \"Info\" is covered by the Search sheet\n")) << r.out;
    EXPECT_TRUE(has(r.out, "---- sheet: Search ----\n")) << r.out;  // named by its title, not its class
    EXPECT_TRUE(has(r.out, "Search (Search): tell|____ [Cancel]\n")) << r.out;
    EXPECT_TRUE(has(r.out, "error: line 17: type x: the alert \"No data\" is showing; text goes nowhere\n")) << r.out;
    EXPECT_TRUE(has(r.out, "error: line 18: back: the alert \"No data\" is showing; answer it with: alert BUTTON\n"))
        << r.out;
    size_t errors = 0;
    for (size_t at = r.out.find("error:"); at != std::string::npos; at = r.out.find("error:", at + 1)) ++errors;
    EXPECT_EQ(errors, 5u) << r.out;
    // Save was in reach after the list scrolled: its "Group Name" alert came.
    EXPECT_TRUE(has(r.out, "Please choose a name for this group.")) << r.out;
    std::string last = r.out.substr(r.out.rfind("[Interview]"));
    EXPECT_FALSE(has(last, "---- sheet")) << last;
    EXPECT_TRUE(has(last, "add new group (swipe to delete) >")) << last;
    EXPECT_FALSE(has(last, "[Close]")) << last;
}

TEST_F(SimulatorTest, PhoneRowsAndTabsUnderTheSignUpFormAndTheTextSizeOfAPinchedPage) {
    Outcome r = korvel("phone",
                       "wait 4\n"
                       "tap about you\n"
                       "tap Tactics\n"
                       // A form being answered fades out; what lies under it takes taps at once.
                       "tap No, thanks\nscreen\n"
                       "tap About you\ntap Tell me about yourself\n"
                       "screen\n"
                       "pinch out 3\n"
                       "screen\n"
                       "pinch in 10\n"
                       "screen\n"
                       "pinch in 0\n"
                       "pinch in 101\n"
                       "pinch in 100\n"
                       "pinch in\n"
                       "pinch out 1\n");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(has(r.out, "error: line 2: tap about you: row \"about you\" is covered by the sign-up form\n")) << r.out;
    EXPECT_TRUE(has(r.out, "error: line 3: tap Tactics: tab \"Tactics\" is covered by the sign-up form\n")) << r.out;
    size_t at13 = r.out.find("[page KORVEL_1.html] (text 13px)\n");
    size_t at16 = r.out.find("[page KORVEL_1.html] (text 16px)\n");
    size_t at14 = r.out.find("[page KORVEL_1.html] (text 14px)\n");
    ASSERT_NE(at13, std::string::npos) << r.out;
    ASSERT_NE(at16, std::string::npos) << r.out;
    ASSERT_NE(at14, std::string::npos) << r.out;
    EXPECT_LT(at13, at16);
    EXPECT_LT(at16, at14);
    // From 1 to 100 steps, one when not given.
    const char* steps = "pinch in|out [STEPS] (STEPS a whole number from 1 to 100)\n";
    EXPECT_TRUE(has(r.out, std::string("error: line 13: pinch in 0: ") + steps)) << r.out;
    EXPECT_TRUE(has(r.out, std::string("error: line 14: pinch in 101: ") + steps)) << r.out;
    EXPECT_FALSE(has(r.out, "error: line 15:")) << r.out;
    EXPECT_FALSE(has(r.out, "error: line 16:")) << r.out;
    EXPECT_FALSE(has(r.out, "error: line 17:")) << r.out;
    // The tablet's pane shows its size too.
    Outcome tablet = korvel("tablet", "wait 3\ntap No, thanks\ntap About you\npinch out 2\nscreen\n",
                            "--home " + dir + "/tablet");
    EXPECT_TRUE(has(tablet.out, "[page KORVEL_1.html] (text 15px)\n")) << tablet.out;
}

namespace {
// The page lines of the text screens a run printed, in order.
std::vector<std::string> pageLines(const std::string& out) {
    std::vector<std::string> lines;
    for (size_t at = out.find("[page "); at != std::string::npos; at = out.find("[page ", at + 1))
        lines.push_back(out.substr(at, out.find('\n', at) - at));
    return lines;
}

size_t errorLines(const std::string& out) {
    size_t n = 0;
    for (size_t at = out.find("error:"); at != std::string::npos; at = out.find("error:", at + 1)) ++n;
    return n;
}

const std::string kCovered = "back: the way back is covered by the ";
}  // namespace

// `back` answers what lies over the screen first, wherever it lies: the
// start-up form, a form the hub lays over itself below its bar's back
// button, a form inside the follow-us sheet.
TEST_F(SimulatorTest, BackNeverTakesTheHubFromUnderAFormThatCoversIt) {
    Outcome r = korvel("tablet",
                       "wait 3\n"
                       "back\n"  // 2: the start-up form
                       "tap No, thanks\nwait 1\n"
                       "tap About you\n"
                       "tap Sign up\n"
                       "back\n"  // 7: the hub's form
                       "tap No, thanks\nwait 1\n"
                       "tap Referral\n"
                       "back\n"  // 11
                       "tap No, thanks\nwait 1\n"
                       "tap Share\n"
                       "tap Sign up for news\n"
                       "back\n"  // 16: a form inside the follow-us sheet
                       "tap No, thanks\nwait 1\n"
                       "back\n"  // the sheet closes
                       "screen\n"
                       "back\n"  // the hub goes
                       "screen\n");
    EXPECT_EQ(r.status, 1) << r.out;
    for (const char* line : {"error: line 2: ", "error: line 7: ", "error: line 16: "})
        EXPECT_TRUE(has(r.out, line + kCovered + "sign-up form; answer it first\n")) << "missing " << line << "\n" << r.out;
    EXPECT_TRUE(has(r.out, "error: line 11: " + kCovered + "referral form; answer it first\n")) << r.out;
    EXPECT_EQ(errorLines(r.out), 4u) << r.out;
    // With the forms answered the hub was still there; `back` then closed
    // the sheet and left the hub for the home screen.
    std::string shown = r.out.substr(r.out.rfind("error:"));
    size_t hub = shown.find("[Interview]");
    size_t home = shown.rfind("[Technical interviews]");
    ASSERT_NE(hub, std::string::npos) << r.out;
    EXPECT_FALSE(has(shown, "---- sheet")) << r.out;
    EXPECT_FALSE(has(shown, "Sign up for news from Tarnwick")) << r.out;
    EXPECT_TRUE(has(shown, "- tell me about yourself >")) << r.out;
    EXPECT_NE(home, std::string::npos) << r.out;
    EXPECT_EQ(shown.find("[Interview]", hub + 1), std::string::npos) << r.out;  // one hub screen, then home
    EXPECT_GT(home, shown.find("- tell me about yourself >")) << r.out;
}

// On the phone the forms cover screens with nothing to pop, and the
// landscape card is left by turning the phone upright.
TEST_F(SimulatorTest, BackOnThePhoneNamesTheFormOrTheTurnThatLeavesTheScreen) {
    Outcome r = korvel("phone",
                       "wait 4\n"
                       "back\n"  // 2: the start-up form
                       "tap No, thanks\nwait 1\n"
                       "tap Invite a friend\nwait 1\n"
                       "back\n"  // 7
                       "tap No, thanks\nwait 1\n"
                       "tap More\ntap sign up\nwait 1\n"
                       "back\n"  // 13
                       "tap No, thanks\nwait 1\n"
                       "tap Deck index\ntap About you\ntap Tell me about yourself\n"
                       "rotate landscape\n"
                       "back\n"  // 20: the landscape card
                       "rotate portrait\n"
                       "back\n"
                       "screen\n");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(has(r.out, "error: line 2: " + kCovered + "sign-up form; answer it first\n")) << r.out;
    EXPECT_TRUE(has(r.out, "error: line 7: " + kCovered + "referral form; answer it first\n")) << r.out;
    EXPECT_TRUE(has(r.out, "error: line 13: " + kCovered + "sign-up form; answer it first\n")) << r.out;
    EXPECT_TRUE(has(r.out, "error: line 20: back: the full card closes when the phone is turned upright; turn it "
                           "with: rotate portrait\n"))
        << r.out;
    EXPECT_EQ(errorLines(r.out), 4u) << r.out;
    // Upright again, `back` leaves the card for its menu.
    std::string shown = r.out.substr(r.out.rfind("error:"));
    EXPECT_TRUE(has(shown, "About you\n- tell me about yourself >\n")) << r.out;
    EXPECT_FALSE(has(shown, "[page")) << r.out;
}

// A finger held on a share screen's E-mail never traps the user in a mail
// composer. Held while another tab is shown and the screen is left by its
// back button: the finger was taken from E-mail when the tab changed, so no
// composer comes up. Lifted together with the back button: the composer
// comes up over the share screen, the back button's finger is taken from
// the covered screen, and Cancel closes the composer onto the share screen.
// Every step of every script succeeds (a refused step fails the run).
TEST_F(SimulatorTest, AFingerHeldOnEMailNeverLeavesAComposerThatCannotBeClosed) {
    const std::string toShare = "wait 4\ntap No, thanks\nwait 1\ntap about you\ntap tell me about yourself\ntap Share\n";
    const std::string toSheet = "wait 3\ntap No, thanks\nwait 1\ntap About you\ntap Practice\ntap Share card\n";
    const std::string composer = "A great card from the Tarnwick Veltra Media Job Search App | [Send]";
    struct Row {
        const char* name;
        const char* idiom;
        std::string script;
        bool composerCame;
        std::string last;  // the end of the last screen printed
    };
    const Row rows[] = {
        {"phone, another tab while held, then back", "phone",
         toShare + "touch 160,135\ntap Search\ntap Deck index\ntap Tell me about yourself\nscreen\nback\nscreen\n",
         false, "About you\n- tell me about yourself >\n"},
        {"phone, lifted with the back button", "phone",
         toShare + "touch 160,135\ntap Tell me about yourself\nscreen\ntap To\ntype friend@example.org\n"
                   "tap Cancel\nscreen\ntap Tell me about yourself\nback\nscreen\n",
         true, "About you\n- tell me about yourself >\n"},
        {"tablet, lifted with the share sheet's Close", "tablet",
         toSheet + "touch 384,367\ntap Close\nscreen\ntap Cancel\nscreen\ntap Close\nscreen\n", true,
         "[Share card]\n"},
    };
    int run = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Outcome r = korvel(row.idiom, row.script, "--home " + dir + "/run" + std::to_string(++run));
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(errorLines(r.out), 0u) << r.out;
        EXPECT_EQ(has(r.out, composer), row.composerCame) << r.out;
        // The last screen shows where the user went, and neither the
        // composer nor the share screen.
        size_t last = r.out.rfind(row.last);
        if (last == std::string::npos) {
            ADD_FAILURE() << "the last screen is not where the user went: " << r.out;
            continue;
        }
        EXPECT_FALSE(has(r.out.substr(last), composer)) << r.out;
        EXPECT_FALSE(has(r.out.substr(last), "[E-mail]")) << r.out;
        if (row.composerCame) {
            // Cancel went back to the share screen, which was still there.
            size_t cancelled = r.out.find("[E-mail]", r.out.find(composer));
            EXPECT_NE(cancelled, std::string::npos) << r.out;
        }
    }
}

// A mail composer laid over a card keeps the taps and pinches made on its
// message body: the practice card under it neither turns nor changes its
// text size.
TEST_F(SimulatorTest, TouchesOnAMailComposersBodyStayInTheComposer) {
    Outcome phone = korvel("phone",
                           "wait 4\ntap No, thanks\nwait 1\n"
                           "tap Practice\ntap Random cards\n"
                           "tapat 160,300\n"  // the answer
                           "screen\n"
                           "link Write to us\n"
                           "tapat 160,400\ntapat 160,400\ntapat 160,400\n"  // the composer's body
                           "pinch out 3\n"
                           "tap Cancel\n"
                           "screen\n",
                           "--home " + dir + "/phone");
    Outcome tablet = korvel("tablet",
                            "wait 3\ntap No, thanks\nwait 1\n"
                            "tap About you\ntap Practice\n"
                            "tapat 500,700\n"  // the answer
                            "screen\n"
                            "link Write to us\n"
                            "tapat 384,700\ntapat 384,700\ntapat 384,700\n"
                            "pinch out 3\n"
                            "tap Cancel\n"
                            "screen\n"
                            // The card's own mail, from the share screen.
                            "tap Share card\ntap E-mail\n"
                            "pinch out 3\n"
                            "tapat 384,700\n"
                            "tap Cancel\ntap Close\n"
                            "screen\n",
                            "--home " + dir + "/tablet");
    struct Run {
        const char* idiom;
        const Outcome& outcome;
        size_t screens;
    };
    for (const Run& run : {Run{"phone", phone, 2}, Run{"tablet", tablet, 3}}) {
        SCOPED_TRACE(run.idiom);
        const std::string& out = run.outcome.out;
        EXPECT_EQ(run.outcome.status, 0) << out;
        auto pages = pageLines(out);
        ASSERT_EQ(pages.size(), run.screens) << out;
        EXPECT_EQ(pages[0].rfind("[page KORVEL_", 0), 0u) << out;  // the answer side
        EXPECT_TRUE(has(pages[0], "(text 13px)")) << out;
        for (size_t i = 1; i < pages.size(); ++i) EXPECT_EQ(pages[i], pages[0]) << out;
    }
}

// A pinch on a practice card changes its text size and nothing else, also
// with its fingers lifted one at a time; a tap after it still turns the card.
TEST_F(SimulatorTest, APinchOnAPracticeCardOnlyChangesItsTextSize) {
    Outcome phone = korvel("phone",
                           "wait 4\ntap No, thanks\nwait 1\n"
                           "tap Practice\ntap Random cards\n"
                           "pinch out 2\n"
                           "screen\n"
                           "touch 100,300 220,300\nmove 90,300 230,300\nlift 0\nlift\n"
                           "screen\n"
                           "tapat 160,300\n"
                           "screen\n",
                           "--home " + dir + "/phone");
    Outcome tablet = korvel("tablet",
                            "wait 3\ntap No, thanks\nwait 1\n"
                            "tap About you\ntap Practice\n"
                            "pinch out 2\n"
                            "screen\n"
                            "touch 400,700 520,700\nmove 410,700 510,700\nlift 1\nlift\n"
                            "screen\n"
                            "tapat 500,700\n"
                            "screen\n",
                            "--home " + dir + "/tablet");
    struct Run {
        const char* idiom;
        const Outcome& outcome;
        const char* secondSize;
    };
    for (const Run& run : {Run{"phone", phone, "(text 16px)"}, Run{"tablet", tablet, "(text 14px)"}}) {
        SCOPED_TRACE(run.idiom);
        const std::string& out = run.outcome.out;
        EXPECT_EQ(run.outcome.status, 0) << out;
        auto pages = pageLines(out);
        ASSERT_EQ(pages.size(), 3u) << out;
        EXPECT_EQ(pages[0], "[page MKTG_01_blank.html] (text 15px)") << out;
        EXPECT_EQ(pages[1], std::string("[page MKTG_01_blank.html] ") + run.secondSize) << out;
        EXPECT_EQ(pages[2].rfind("[page KORVEL_", 0), 0u) << out;  // a tap turns it
        EXPECT_TRUE(has(pages[2], run.secondSize)) << out;
    }
}

TEST_F(SimulatorTest, AFavouritesFileThatCannotBeMovedAsideIsToldAndDamagedEntriesCanBeSweptAway) {
    const std::string docs = dir + "/home/Documents";
    fs::create_directories(docs);
    std::ofstream(docs + "/Grupos-VeltraIpad.plist") << "not a property list";
    for (int n = 1; n < 1000; ++n) std::ofstream(docs + "/Grupos-VeltraIpad.plist.corrupt-" + std::to_string(n));
    std::ofstream(docs + "/Favorites-VeltraIpad.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><array><string>junk</string>"
           "<dict><key>title</key><string>A conflict at work</string><key>index</key><string>9</string>"
           "<key>Editable</key><string>YES</string></dict></array></plist>\n";
    Outcome r = korvel("tablet",
                       "wait 3\ntap No, thanks\nwait 1\n"
                       "tap About you\ntap Favorites\n"
                       "delete damaged entry\n"
                       "screen\n");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.rfind("Unreadable file kept as it is: Documents/Grupos-VeltraIpad.plist could not be read nor moved "
                          "aside; the list starts empty and nothing is saved over the file\n",
                          0),
              0u)
        << r.out;
    std::ifstream in(docs + "/Favorites-VeltraIpad.plist");
    std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(has(saved, "junk")) << saved;
    EXPECT_TRUE(has(saved, "A conflict at work")) << saved;
}

TEST_F(SimulatorTest, TheTabletsCardButtonsAreNotOfferedOverTheAddGroupRowOrAnInformationPage) {
    // The Interview button keeps what the pane shows: there, neither a
    // card's favourite nor its share has anything to act on.
    Outcome r = korvel("tablet",
                       "wait 3\ntap No, thanks\nwait 1\n"
                       "tap About you\n"
                       "tap Practice\ntap Groups\n"
                       "tap Interview\n"
                       "screen\n"
                       "tap Add to favorites\n"  // 9
                       "tap Info\n"
                       "tap Interview\n"
                       "screen\n"
                       "tap Share card\n"  // 13
                       "tap Before the interview\ntap Research the company\n"
                       "screen\n");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(has(r.out, "error: line 9: tap Add to favorites: nothing called \"Add to favorites\" on the screen\n"))
        << r.out;
    EXPECT_TRUE(has(r.out, "error: line 13: tap Share card: nothing called \"Share card\" on the screen\n")) << r.out;
    size_t group = r.out.find("[page VELTRA_Blanco.html]");
    size_t info = r.out.find("[page KORVEL_info.html]");
    size_t card = r.out.find("[page KORVEL_39.html]");
    ASSERT_NE(group, std::string::npos) << r.out;
    ASSERT_NE(info, std::string::npos) << r.out;
    ASSERT_NE(card, std::string::npos) << r.out;
    size_t lastScreen = r.out.rfind("[Interview]");
    EXPECT_LT(info, lastScreen);
    EXPECT_LT(lastScreen, card);
    EXPECT_FALSE(has(r.out.substr(0, lastScreen), "[Add to favorites]")) << r.out;
    EXPECT_FALSE(has(r.out.substr(0, lastScreen), "[Share card]")) << r.out;
    EXPECT_FALSE(has(r.out, "was saved correctly.")) << r.out;
    EXPECT_FALSE(has(r.out, "---- sheet")) << r.out;
    // Over a card they are back.
    std::string last = r.out.substr(lastScreen);
    EXPECT_TRUE(has(last, "[Add to favorites]")) << last;
    EXPECT_TRUE(has(last, "[Share card]")) << last;
    EXPECT_FALSE(fs::exists(dir + "/home/Documents/Favorites-VeltraIpad.plist"));
}

TEST_F(SimulatorTest, TypingWithNoFieldFocusedSaysSoAndControlCharactersAreShownEscaped) {
    for (const char* idiom : {"phone", "tablet"}) {
        SCOPED_TRACE(idiom);
        Outcome r = korvel(idiom,
                           std::string(std::string(idiom) == "phone" ? "wait 4\n" : "wait 3\n") +
                           "tap Name\n"
                           "type Ada\x1b[2J\x1b]0;owned\x07\tX\n"
                           "return\n"
                           "type Lovelace\n"  // 5: nothing has focus
                           "clear\n"          // 6: likewise
                           "tap E-mail\ntype a@b.org\x1b[1m\nreturn\n"
                           "screen\n"
                           "tap \x1b[31mred\n"  // 11: quoted escaped in the error line
                           "tap Name\n"
                           "type Bad\xff\xfe\n"  // 13: not UTF-8, refused whole
                           "screen\n",
                           "--home " + dir + "/" + idiom);
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_TRUE(has(r.out, "error: line 5: type Lovelace: no text field has focus\n")) << r.out;
        EXPECT_TRUE(has(r.out, "error: line 6: clear: no text field has focus\n")) << r.out;
        EXPECT_TRUE(has(r.out, "Name: Ada\\x1B[2J\\x1B]0;owned\\x07\\x09X____\n")) << r.out;
        EXPECT_TRUE(has(r.out, "E-mail: a@b.org\\x1B[1m____\n")) << r.out;
        EXPECT_TRUE(has(r.out, "error: line 11: tap \\x1B[31mred: nothing called \"\\x1B[31mred\" on the screen\n"))
            << r.out;
        EXPECT_TRUE(has(r.out, "error: line 13: type Bad\\xFF\\xFE: the text is not UTF-8 (byte \\xFF at position 4 is "
                               "not part of a character); nothing was typed\n"))
            << r.out;
        EXPECT_FALSE(has(r.out, "Lovelace____")) << r.out;
        EXPECT_TRUE(has(r.out, "Name: Ada\\x1B[2J\\x1B]0;owned\\x07\\x09X|____\n")) << r.out;  // as it was
        // Nothing the terminal would act on is written as it is.
        for (char c : {'\x1b', '\x07', '\t', '\r'}) EXPECT_EQ(r.out.find(c), std::string::npos) << int(c);
    }
}

TEST_F(SimulatorTest, TheLaunchCountStopsAtItsLargestValueAndThePromptStillComes) {
    for (const char* idiom : {"phone", "tablet"}) {
        SCOPED_TRACE(idiom);
        const std::string home = dir + "/" + idiom;
        const std::string prefs = home + "/Library/Preferences/com.tarnwick.korvel.plist";
        fs::create_directories(home + "/Library/Preferences");
        std::ofstream(prefs) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                                "<key>registro</key><true/>"
                                "<key>LaunchCount</key><integer>9223372036854775807</integer></dict></plist>\n";
        Outcome r = korvel(idiom, "screen\n", "--home " + home);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_TRUE(has(r.out, "If you like our app, please review it in the app store.")) << r.out;
        std::ifstream in(prefs);
        std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_TRUE(has(saved, "<key>LaunchCount</key>\n\t<integer>9223372036854775807</integer>")) << saved;
    }
}

TEST_F(SimulatorTest, AGroupThatCannotBeSavedIsToldByItsPlaceInTheHome) {
    const std::string home = dir + "/home";
    fs::create_directories(home + "/Library/Preferences");
    std::ofstream(home + "/Library/Preferences/com.tarnwick.korvel.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>registro</key><true/>"
           "</dict></plist>\n";
    // Nothing more can be written in Documents.
    testsupport::FullDisk disk(home + "/Documents");
    disk.fill();
    Outcome r = korvel("phone",
                       "wait 4\n"
                       "tap Practice\ntap Groups\ntap Add new group (swipe to delete)\n"
                       "type Interview day\ntap Body language\ntap Save\n"
                       "screen\n");
    disk.restore();
    EXPECT_EQ(r.status, 0) << disk.how() << "\n" << r.out;
    size_t alert = r.out.find("+-- Alert: Groups not saved --\n| Your change was not kept: ");
    ASSERT_NE(alert, std::string::npos) << disk.how() << "\n" << r.out;
    std::string message = r.out.substr(alert, r.out.find('\n', r.out.find('\n', alert) + 1) - alert);
    EXPECT_TRUE(has(message, " Documents/savedGroups-QuillonIphone.plist")) << message;
    EXPECT_FALSE(has(message, home)) << message;
    EXPECT_FALSE(has(message, dir)) << message;
}

TEST_F(SimulatorTest, HomeFilesThatAreNamedPipesAreMovedAsideAndTheAppStarts) {
    // Each home file the app reads at launch (and the phone's groups file,
    // read when its screen opens) is a named pipe nobody writes to.
    const std::string prefs = "Library/Preferences/com.tarnwick.korvel.plist";
    struct Run {
        const char* idiom;
        std::string script;
        std::vector<std::string> files;
        std::string shows;
    } runs[] = {
        {"phone", "wait 4\ntap No, thanks\nwait 0.5\ntap Practice\ntap Groups\nscreen\n",
         {"Documents/Favorites-VeltraIpad.plist", "Documents/Grupos-VeltraIpad.plist", prefs,
          "Documents/savedGroups-QuillonIphone.plist"},
         "Add new group"},
        {"tablet", "wait 3\nscreen\n",
         {"Documents/Favorites-VeltraIpad.plist", "Documents/Grupos-VeltraIpad.plist", prefs},
         "Sign up for news from Tarnwick"},
    };
    for (const Run& run : runs) {
        SCOPED_TRACE(run.idiom);
        const std::string home = dir + "/" + run.idiom;
        fs::create_directories(home + "/Documents");
        fs::create_directories(home + "/Library/Preferences");
        for (const std::string& f : run.files) ASSERT_EQ(::mkfifo((home + "/" + f).c_str(), 0600), 0) << f;
        std::ofstream(dir + "/script.txt") << run.script;
        // Bounded: a launch stuck on a pipe is killed and fails the test.
        Outcome r = testsupport::runCommand("timeout 120 " + std::string(KORVEL_PATH) + " --idiom " + run.idiom +
                                            " --home " + home + " --bundle " + DECK_SOURCE_DIR +
                                            "/resources --script " + dir + "/script.txt 2>&1 </dev/null");
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_TRUE(has(r.out, run.shows)) << r.out;
        for (const std::string& f : run.files) {
            std::string aside = f + (f == prefs ? ".corrupt" : ".corrupt-1");
            EXPECT_TRUE(has(r.out, "Unreadable file moved aside: " + f + " is now " + aside + "\n")) << f << "\n" << r.out;
            // Kept as it was, beside the new file.
            EXPECT_EQ(fs::symlink_status(home + "/" + aside).type(), fs::file_type::fifo) << aside;
        }
    }
}

// One home, one app process: a korvel started on a home that a running
// korvel uses is refused at once with an error that names the home, ends
// with status 3 and changes nothing there (it would count a launch in the
// user defaults, among others). A korvel that was killed keeps no one out:
// the next run on its home starts.
TEST_F(SimulatorTest, ASecondKorvelOnAHomeInUseIsRefusedAndTouchesNothing) {
    const std::string home = dir + "/home";
    const std::string bundle = std::string(DECK_SOURCE_DIR) + "/resources";
    // The first korvel reads its commands at the terminal, here a pipe the
    // test keeps open, so it runs until it is killed.
    int in[2], out[2];
    ASSERT_EQ(::pipe2(in, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    pid_t first = ::fork();
    ASSERT_GE(first, 0);
    if (first == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::execl(KORVEL_PATH, "korvel", "--home", home.c_str(), "--bundle", bundle.c_str(), "--clock", "manual",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    // Ended however the test ends.
    std::unique_ptr<void, std::function<void(void*)>> killed(reinterpret_cast<void*>(1), [&](void*) {
        if (first > 0) testsupport::killChild(first);
        ::close(in[1]);
        ::close(out[0]);
    });
    // It has claimed the home once it prompts for commands.
    std::string shown;
    for (char buf[4096]; shown.find("\n> ") == std::string::npos;) {
        pollfd p{out[0], POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 60000), 1) << "the first korvel did not answer: " << shown;
        ssize_t n = ::read(out[0], buf, sizeof buf);
        ASSERT_GT(n, 0) << "the first korvel ended: " << shown;
        shown.append(buf, static_cast<size_t>(n));
    }
    // Every entry of the home: its inode, size, time and bytes.
    auto snapshot = [&] {
        std::map<std::string, std::string> entries;
        for (const auto& e : fs::recursive_directory_iterator(home)) {
            struct stat st{};
            ::lstat(e.path().c_str(), &st);
            std::string bytes;
            if (S_ISREG(st.st_mode)) {
                std::ifstream f(e.path(), std::ios::binary);
                bytes.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
            }
            entries[e.path().string()] = std::to_string(st.st_ino) + " " + std::to_string(st.st_size) + " " +
                                         std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) +
                                         " " + std::to_string(st.st_mode) + " " + bytes;
        }
        return entries;
    };
    const auto before = snapshot();
    ASSERT_TRUE(before.count(home + "/Library/Preferences/com.tarnwick.korvel.plist"));

    Outcome second = korvel("phone", "wait 4\ntap No, thanks\nscreen\n");
    EXPECT_EQ(second.status, 3) << second.out;
    // What to do is said too, in the same line.
    EXPECT_TRUE(has(second.out, "korvel: the home folder " + home + " is in use by another app process (process " +
                                    std::to_string(first) + "); one home folder serves one app process at a time; "
                                    "end the other korvel, or start this one with another --home DIR\n"))
        << second.out;
    EXPECT_FALSE(has(second.out, "+--")) << "it showed a screen:\n" << second.out;
    EXPECT_EQ(snapshot(), before) << "the refused korvel changed the home";

    // Killed, the first keeps no one out.
    EXPECT_EQ(testsupport::killChild(std::exchange(first, -1)), "");
    Outcome third = korvel("phone", "wait 4\nscreen\n");
    EXPECT_EQ(third.status, 0) << third.out;
    EXPECT_TRUE(has(third.out, "+--")) << third.out;
}

TEST_F(SimulatorTest, HelpAndBadOptions) {
    Outcome help = testsupport::runCommand(bounded() + " --help </dev/null");
    EXPECT_EQ(help.status, 0);
    const std::string& out = help.out;
    for (const char* word : {"--idiom", "--home", "--bundle", "--script", "--form-post-limit", "screen", "tap TEXT", "back", "link HREF",
                             "pinch in|out", "swipe left|right", "type TEXT", "clear [FIELD]", "alert TEXT", "rotate",
                             "wait SECONDS", "quit"})
        EXPECT_TRUE(has(out, word)) << word;
    // Each option's mistakes: status 2 and one line that names the option.
    std::ofstream(dir + "/script.txt") << "screen\n";
    fs::create_directories(dir + "/empty-bundle");
    std::ofstream(dir + "/plain-file") << "x";
    const std::string files = " --home " + dir + "/home --bundle " + DECK_SOURCE_DIR + "/resources";
    const std::string script = " --script " + dir + "/script.txt";
    struct Row {
        const char* name;
        std::string args;
        int status;
        std::string says;
    } rows[] = {
        {"idiom without a value", files + script + " --idiom", 2, "korvel: --idiom needs phone or tablet\n"},
        {"home without a value", script + " --home", 2, "korvel: --home needs a folder\n"},
        {"bundle without a value", script + " --bundle", 2, "korvel: --bundle needs a folder\n"},
        {"script without a value", files + " --script", 2, "korvel: --script needs a file\n"},
        {"clock without a value", files + script + " --clock", 2, "korvel: --clock needs real or manual\n"},
        {"seed without a value", files + script + " --seed", 2, "korvel: --seed needs a whole number\n"},
        {"endpoint without a value", files + script + " --endpoint", 2, "korvel: --endpoint needs NAME=URL\n"},
        {"form post limit without a value", files + script + " --form-post-limit", 2,
         "korvel: --form-post-limit needs a number of seconds\n"},
        {"form post limit below the shortest", files + script + " --form-post-limit 0.09", 2,
         "korvel: --form-post-limit must be a number of seconds from 0.1 to 3600\n"},
        {"form post limit past the longest", files + script + " --form-post-limit 3600.5", 2,
         "--form-post-limit must be a number of seconds"},
        {"form post limit in hexadecimal", files + script + " --form-post-limit 0x10", 2,
         "--form-post-limit must be a number of seconds"},
        {"the shortest form post limit", files + script + " --form-post-limit 0.1", 0, "Korvel interview cards"},
        {"the longest form post limit", files + script + " --form-post-limit 3600", 0, "Korvel interview cards"},
        {"unknown option", files + script + " --fast", 2, "korvel: unknown option --fast\n"},
        {"unknown idiom", files + script + " --idiom watch", 2, "korvel: --idiom must be phone or tablet\n"},
        {"unknown clock", files + script + " --clock sometimes", 2, "korvel: --clock must be real or manual\n"},
        {"the real clock", files + script + " --clock real", 0, "Korvel interview cards"},
        {"the manual clock", files + script + " --clock manual", 0, "Korvel interview cards"},
        {"malformed endpoint", files + script + " --endpoint forms", 2, "korvel: --endpoint: \"forms\" is not NAME=URL"},
        {"negative seed", files + script + " --seed -1", 2, "korvel: --seed must be a whole number from 0 to 4294967295\n"},
        {"seed one past the largest", files + script + " --seed 4294967296", 2, "--seed must be a whole number"},
        {"seed with a letter", files + script + " --seed 12x", 2, "--seed must be a whole number"},
        {"the largest seed", files + script + " --seed 4294967295", 0, "Korvel interview cards"},
        {"script that is missing", files + " --script " + dir + "/nothing.txt", 2,
         "korvel: cannot read the script " + dir + "/nothing.txt\n"},
        {"home that cannot be made", " --home " + dir + "/plain-file/home" + script, 2,
         "korvel: cannot create the home folder " + dir + "/plain-file/home\n"},
        {"bundle without the deck", " --home " + dir + "/home --bundle " + dir + "/empty-bundle" + script, 0,
         "korvel: warning: " + dir + "/empty-bundle has no Jobframework.plist; the deck will be empty\n"},
        {"short help", " -h", 0, "--idiom phone|tablet"},
    };
    for (const Row& row : rows) {
        Outcome o = testsupport::runCommand(bounded() + row.args + " 2>&1 </dev/null");
        EXPECT_EQ(o.status, row.status) << row.name << "\n" << o.out;
        EXPECT_TRUE(has(o.out, row.says)) << row.name << "\n" << o.out;
        EXPECT_EQ(has(o.out, "(korvel --help explains the options)\n"), row.status == 2) << row.name;
    }
    // The home folder made for the app is the user's alone.
    EXPECT_EQ(fs::status(dir + "/home").permissions() & fs::perms::all, fs::perms::owner_all);
    // A malformed DECK_ENDPOINTS is a warning: the run goes on without its bad entries.
    ::setenv("DECK_ENDPOINTS", "forms", 1);
    Outcome warned = testsupport::runCommand(bounded() + files + script + " 2>&1 </dev/null");
    ::unsetenv("DECK_ENDPOINTS");
    EXPECT_EQ(warned.status, 0) << warned.out;
    EXPECT_TRUE(has(warned.out, "korvel: warning: DECK_ENDPOINTS: \"forms\" is not NAME=URL")) << warned.out;
    EXPECT_TRUE(has(warned.out, "its malformed entries are ignored\n")) << warned.out;
}

}  // namespace

// -- At the terminal ----------------------------------------------------------------------

#include <sstream>

#include "app/Launch.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "tools/simulator/FormPostWatcher.h"
#include "tools/simulator/TerminalSession.h"

namespace {

// The app in this process on a manual clock, driven as korvel drives it at
// the terminal (the simulator believes time is real).
class TerminalSessionTest : public SimulatorTest {
protected:
    void SetUp() override {
        SimulatorTest::SetUp();
        clock = ns::make<ns::ManualClock>(100.0);
        app::launch(ui::UserInterfaceIdiom::Phone, dir + "/home", std::string(DECK_SOURCE_DIR) + "/resources", clock);
        sim = std::make_unique<simulator::Simulator>(nullptr);
        session = std::make_unique<simulator::TerminalSession>(*sim, out, [this] { ++done; });
    }
    void TearDown() override {
        session.reset();
        sim.reset();
        clock->advance(100);
        ui::Panel::resetShown();
        ui::Application::shared()->reset();
        ns::UserDefaults::resetStandardUserDefaults();
        ns::RunLoop::main()->setClock(ns::SystemClock::shared());
        SimulatorTest::TearDown();
    }
    ns::Ref<ns::ManualClock> clock;
    std::unique_ptr<simulator::Simulator> sim;
    std::unique_ptr<simulator::TerminalSession> session;
    std::ostringstream out;
    int done = 0;
};

// A poster that keeps the posts it is given; the test answers them.
struct HeldPoster : app::FormPoster {
    const char* className() const override { return "HeldPoster"; }
    void post(ns::Ref<app::FormPostRequest> r) override { held.push_back(std::move(r)); }
    std::vector<ns::Ref<app::FormPostRequest>> held;
};

struct HeardForm : ns::Object, app::FormPostDelegate {
    const char* className() const override { return "HeardForm"; }
    void requestFinished(int status, const std::string& body) override { heard.push_back(std::to_string(status) + " " + body); }
    void requestFailed(const std::string& why) override { heard.push_back("failed: " + why); }
    std::vector<std::string> heard;
};

TEST(FormPostWatcher, EachPostIsToldOnceWithItsSecretsMaskedAndWaitedForUntilAnswered) {
    auto poster = ns::make<HeldPoster>();
    auto watcher = ns::make<simulator::FormPostWatcher>(poster);
    auto form = ns::make<HeardForm>();
    auto post = [&](const std::string& url, app::FormFields fields) {
        auto r = ns::make<app::FormPostRequest>();
        r->url = url;
        r->fields = std::move(fields);
        r->delegate = form.get();
        watcher->post(r);
        return r;
    };
    watcher->post(nullptr);  // nothing to send, nothing told
    EXPECT_FALSE(watcher->waiting());
    EXPECT_TRUE(watcher->takeStartedLines().empty());
    auto first = post("http://127.0.0.1:9/form?token=abc", {{"name", "Ann"}, {"password", "hunter2"}});
    auto second = post("http://127.0.0.1:9/other", {{"e", "x@y"}});
    EXPECT_EQ(watcher->takeStartedLines(),
              (std::vector<std::string>{"Form post: POST http://127.0.0.1:9/form?token=******** name=Ann&password=********",
                                        "Form post: POST http://127.0.0.1:9/other e=x%40y"}));
    EXPECT_TRUE(watcher->takeStartedLines().empty());  // told once
    // Values with the characters that mean something in a form body or a
    // query: each stays inside its own field, and a secret is masked whole.
    auto reserved = post("http://127.0.0.1:9/form?token=a%26b%3Dc&x=1",
                         {{"n&m", "A&B=C %+"}, {"password", "p&w=d%26"}, {"after", "z"}});
    EXPECT_EQ(watcher->takeStartedLines(),
              (std::vector<std::string>{"Form post: POST http://127.0.0.1:9/form?token=********&x=1 "
                                        "n%26m=A%26B%3DC%20%25%2B&password=********&after=z"}));
    ASSERT_EQ(poster->held.size(), 3u);
    EXPECT_EQ(poster->held[2]->fields, reserved->fields);
    reserved = nullptr;  // gone unanswered: not waited for
    poster->held.pop_back();
    ASSERT_EQ(poster->held.size(), 2u);                // passed on, unchanged
    EXPECT_EQ(poster->held[0]->fields, first->fields);
    struct Step {
        const char* name;
        std::function<void()> act;
        bool waiting;
        std::vector<std::string> heard;
    } steps[] = {
        {"nothing answered", [] {}, true, {}},
        {"the first answered", [&] {
             auto d = first->delegate.lock();
             ASSERT_TRUE(d);
             d->requestFinished(200, "ok");
         },
         true, {"200 ok"}},
        {"the second failed", [&] {
             auto d = second->delegate.lock();
             ASSERT_TRUE(d);
             d->requestFailed("refused");
         },
         false, {"200 ok", "failed: refused"}},
    };
    for (const Step& step : steps) {
        step.act();
        EXPECT_EQ(watcher->waiting(), step.waiting) << step.name;
        EXPECT_EQ(form->heard, step.heard) << step.name;
    }
    // A post whose form request is gone is not waited for.
    post("http://127.0.0.1:9/gone", {});
    EXPECT_TRUE(watcher->waiting());
    poster->held.clear();
    EXPECT_FALSE(watcher->waiting());
}

TEST_F(TerminalSessionTest, SetAsideFilesAreLookedForEverywhereButTheOutbox) {
    for (const char* f : {"Documents/b.plist.corrupt-1", "Library/Outbox/c.corrupt-2", "Outbox/a.corrupt-1",
                          "Documents/.corrupt-hidden", "Documents/plain.plist"}) {
        fs::path p = fs::path(dir) / "home" / f;
        fs::create_directories(p.parent_path());
        std::ofstream(p) << "x";
    }
    EXPECT_EQ(simulator::Simulator::setAsideFiles(),
              (std::set<std::string>{"Documents/b.plist.corrupt-1", "Library/Outbox/c.corrupt-2"}));
}

// The keychain's damaged copies are told one line each, by name: moved
// aside, and deleted by a logout; both in one line when one command did
// both, since the folder then never shows the copy (before, nothing was
// told of such a copy). A logout cut short that the start cannot finish is
// told once, and so is its end.
TEST_F(TerminalSessionTest, KeychainCopiesALogoutDeletesAndAnUnfinishedLogoutAreTold) {
    const std::string keychain = dir + "/home/Library/Keychains/keychain.db";
    auto told = [&] {
        std::ostringstream o;
        sim->reportEvents(o);
        return o.str();
    };
    told();  // what the launch did
    auto damage = [&] {
        ASSERT_TRUE(sharing::SHR::setAuthValueForKeyForSharer(ns::str("me").get(), "username", "SHRPinboard"));
        ASSERT_TRUE(ns::writeFileAtomically(keychain, "not a keychain: secret", nullptr, 0600));
    };
    const std::string copy = "(Library/Keychains/keychain\\.db\\.corrupt-[0-9TZ-]+)";
    std::smatch m;

    damage();
    EXPECT_FALSE(sharing::SHR::getAuthValueForKeyForSharer("username", "SHRPinboard"));
    std::string line = told();
    ASSERT_TRUE(std::regex_match(
        line, m, std::regex("Unreadable file moved aside: Library/Keychains/keychain\\.db is now " + copy + "\n")))
        << line;
    const std::string first = m[1];
    EXPECT_TRUE(sharing::SHR::logoutOfAll());
    EXPECT_EQ(told(), "Damaged keychain copy deleted by a logout, as it may hold passwords: " + first + "\n");

    damage();
    EXPECT_TRUE(sharing::SHR::logoutOfAll());
    line = told();
    ASSERT_TRUE(std::regex_match(line, m,
                                 std::regex("Unreadable file moved aside: Library/Keychains/keychain\\.db is now " +
                                            copy + ", then deleted by a logout, as it may hold passwords\n")))
        << line;
    EXPECT_FALSE(fs::exists(dir + "/home/" + std::string(m[1])));
    EXPECT_EQ(told(), "") << "told once";

    // Two keychains' copies moved aside and deleted within one report: each
    // move is told with its own copy's deletion.
    const std::string other = dir + "/home/Library/Other/other.db";
    sec::Keychain otherKeychain(other);
    ASSERT_EQ(otherKeychain.setGenericPassword("svc", "acct", "secret"), sec::kStatusSuccess);
    damage();
    EXPECT_FALSE(sharing::SHR::getAuthValueForKeyForSharer("username", "SHRPinboard"));
    ASSERT_TRUE(ns::writeFileAtomically(other, "not a keychain: secret", nullptr, 0600));
    EXPECT_EQ(otherKeychain.findGenericPassword("svc", "acct", nullptr), sec::kStatusItemNotFound);
    ASSERT_EQ(otherKeychain.discardFilesMovedAside(), sec::kStatusSuccess);
    EXPECT_TRUE(sharing::SHR::logoutOfAll());
    line = told();
    ASSERT_TRUE(std::regex_match(
        line, std::regex("Unreadable file moved aside: Library/Keychains/keychain\\.db is now " + copy +
                         ", then deleted by a logout, as it may hold passwords\n"
                         "Unreadable file moved aside: Library/Other/other\\.db is now "
                         "Library/Other/other\\.db\\.corrupt-[0-9TZ-]+, then deleted by a logout, as it may hold "
                         "passwords\n")))
        << line;

    // A launch starts afresh: what happened before it is not told again.
    damage();
    EXPECT_FALSE(sharing::SHR::getAuthValueForKeyForSharer("username", "SHRPinboard"));
    std::set<std::string> before = simulator::Simulator::setAsideFiles();
    app::launch(ui::UserInterfaceIdiom::Phone, dir + "/home", std::string(DECK_SOURCE_DIR) + "/resources", clock);
    simulator::Simulator relaunched(nullptr, before);
    std::ostringstream fresh;
    relaunched.reportEvents(fresh);
    EXPECT_EQ(fresh.str(), "");
    // and what happens after it is, from its first event on.
    damage();
    EXPECT_TRUE(sharing::SHR::logoutOfAll());
    fresh.str("");
    relaunched.reportEvents(fresh);
    line = fresh.str();
    EXPECT_TRUE(std::regex_match(line, std::regex("Unreadable file moved aside: Library/Keychains/keychain\\.db is now " +
                                                  copy + ", then deleted by a logout, as it may hold passwords\n"
                                                         "Damaged keychain copy deleted by a logout, as it may hold "
                                                         "passwords: " + copy + "\n")))
        << line;
    // A launch that finishes a logout cut short with the keychain damaged:
    // the copy its start moved aside and deleted is told before the first
    // command, in one line.
    {
        sharing::SHRLogoutRecord cutShort;
        cutShort.keychainItems = {{"SHR_AUTH_SHRPinboard", "username"}};
        ASSERT_TRUE(cutShort.write());
        ASSERT_TRUE(ns::writeFileAtomically(keychain, "not a keychain: secret", nullptr, 0600));
        std::set<std::string> asideBefore = simulator::Simulator::setAsideFiles();
        app::launch(ui::UserInterfaceIdiom::Phone, dir + "/home", std::string(DECK_SOURCE_DIR) + "/resources", clock);
        simulator::Simulator started(nullptr, asideBefore);
        std::ostringstream atStart;
        started.reportEvents(atStart);
        line = atStart.str();
        EXPECT_TRUE(std::regex_match(line, std::regex("Unreadable file moved aside: Library/Keychains/keychain\\.db is "
                                                      "now " + copy + ", then deleted by a logout, as it may hold "
                                                      "passwords\n")))
            << line;
    }
    told();  // the simulator of the first launch is left behind

    testsupport::FullDisk keychainFolder(dir + "/home/Library/Keychains");
    ASSERT_TRUE(sharing::SHR::setAuthValueForKeyForSharer(ns::str("me").get(), "username", "SHRPinboard"));
    sharing::SHRLogoutRecord named;
    named.keychainItems = {{"SHR_AUTH_SHRPinboard", "username"}};
    ASSERT_TRUE(named.write());
    if (!keychainFolder.arrange(testsupport::FullDisk::Failure::ReadOnly)) return;
    sharing::SHR::reset();
    EXPECT_FALSE(sharing::SHR::finishInterruptedLogout());
    EXPECT_EQ(told(),
              "Logout not finished: a logout cut short could not be finished (the keychain cannot be written); the "
              "logins it names are removed as soon as it can be\n");
    EXPECT_TRUE(sharing::SHR::getAuthValueForKeyForSharer("username", "SHRPinboard")) << "not removable yet";
    EXPECT_EQ(told(), "") << "told once";
    keychainFolder.restore();
    EXPECT_FALSE(sharing::SHR::getAuthValueForKeyForSharer("username", "SHRPinboard"));
    EXPECT_EQ(told(), "Logout finished: the logins the logout cut short named are removed\n");
}

TEST_F(TerminalSessionTest, WaitLetsTheTimePassBeforeTheLinesAfterItEvenWhenTheInputHasEnded) {
    session->start();
    session->feed("wait nan\nwait 5\nscr");
    session->feed("een\n");
    session->endOfInput();
    EXPECT_TRUE(has(out.str(), "error: wait nan: wait SECONDS (a number from 0 to 86400)\n")) << out.str();
    EXPECT_TRUE(session->isWaiting());
    EXPECT_EQ(done, 0);
    clock->advance(4.9);
    EXPECT_FALSE(has(out.str(), "Tabs: Deck index")) << out.str();
    EXPECT_EQ(done, 0);
    clock->advance(0.1);
    EXPECT_FALSE(session->isWaiting());
    EXPECT_EQ(done, 1);
    EXPECT_TRUE(has(out.str(), "Tabs: Deck index* | Tactics | Practice | Search | More")) << out.str();
}

TEST_F(TerminalSessionTest, QuitEndsTheSessionAndALastLineWithoutLineEndIsCarriedOut) {
    session->start();
    session->feed("wait 4\n");
    session->feed("quit");
    EXPECT_EQ(done, 0);
    clock->advance(4);
    EXPECT_EQ(done, 0);  // "quit" has no line end yet
    session->endOfInput();
    EXPECT_EQ(done, 1);
    EXPECT_TRUE(session->isDone());
    session->feed("wait 1\n");  // nothing more is read
    EXPECT_FALSE(session->isWaiting());
}

TEST_F(TerminalSessionTest, TheScreenIsPrintedAgainOnlyAfterACommandThatMayChangeIt) {
    auto count = [](const std::string& text, const std::string& part) {
        size_t n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
        return n;
    };
    struct Row {
        const char* name;
        const char* lines;
        size_t screens, prompts;
    } rows[] = {
        {"blank lines and notes", "\n  \t\n# a note\n", 0, 3},
        {"screen prints it once", "screen\n", 1, 1},
        {"  screen, after blanks", "  screen\n", 1, 1},
        {"help", "help\n", 0, 1},
        {"a command", "rotate portrait\n", 1, 1},
        {"a refused command", "tap Nothing\n", 1, 1},
    };
    clock->advance(4);
    for (const Row& row : rows) {
        out.str("");
        session->feed(row.lines);
        EXPECT_EQ(count(out.str(), "Tabs: "), row.screens) << row.name << "\n" << out.str();
        EXPECT_EQ(count(out.str(), "> "), row.prompts) << row.name << "\n" << out.str();
    }
    EXPECT_TRUE(has(out.str(), "error: tap Nothing: nothing called \"Nothing\" on the screen\n")) << out.str();
    // The wait of a line at the terminal is let pass by the loop; a line
    // that is not a good wait is carried out (and refused) at once.
    struct Wait {
        const char* line;
        std::optional<double> seconds;
    } waits[] = {
        {"wait 5", 5.0}, {"  WAIT 2.5 ", 2.5}, {"wait 86400", 86400.0}, {"wait 86401", std::nullopt},
        {"wait", std::nullopt}, {"wait x", std::nullopt}, {"screen", std::nullopt}, {"waiting 5", std::nullopt},
    };
    for (const Wait& w : waits) EXPECT_EQ(sim->realTimeWait(w.line), w.seconds) << w.line;
    simulator::Simulator manual(clock);
    EXPECT_EQ(manual.realTimeWait("wait 5"), std::nullopt);  // on the manual clock, run() advances it
}

TEST_F(TerminalSessionTest, ExitEndsTheSessionAsQuitDoes) {
    session->start();
    session->feed("exit\n");
    EXPECT_EQ(done, 1);
}

TEST_F(TerminalSessionTest, LinesPipedInRunInOrderWhileACommandRunsTheLoopAgain) {
    // The simulator lets the app settle by running the main loop, so the
    // rest of the pipe (and its end) is read while "screen" still runs.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const std::string lines = "screen\nback\nquit\nscreen\n";
    ASSERT_EQ(::write(fds[1], lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    ::close(fds[1]);
    session->start();
    session->readFrom(fds[0]);
    for (int turn = 0; turn < 50 && !session->isDone(); ++turn) ns::RunLoop::main()->runOnce();
    EXPECT_EQ(done, 1);
    EXPECT_TRUE(has(out.str(), "error: back:")) << out.str();  // carried out after "screen", before "quit"
    // Nothing runs after "quit": the prompt after "back" ends the output.
    const std::string text = out.str();
    EXPECT_TRUE(text.size() > 2 && text.compare(text.size() - 2, 2, "> ") == 0) << text;
    session.reset();  // stops watching the pipe
    ::close(fds[0]);
}

}  // namespace


// -- Every row of the sample deck -------------------------------------------------------

#include <cstring>
#include <random>

#include "app/AppConfig.h"
#include "app/AppLog.h"
#include "app/ContentModel.h"
#include "app/phone/RandomSource.h"
#include "platform/foundation/ServiceEndpoints.h"

namespace {

// The app in this process, driven line by line as korvel drives it, on a
// manual clock.
class DeckWalk : public SimulatorTest {
protected:
    // Launches the app; with `refuseSignUp` the sign-up form it opens with
    // is answered "No, thanks", else it is left on the screen.
    void start(ui::UserInterfaceIdiom idiom, bool refuseSignUp = true) {
        clock = ns::make<ns::ManualClock>(100.0);
        app::launch(idiom, dir + "/home", std::string(DECK_SOURCE_DIR) + "/resources", clock);
        sim = std::make_unique<simulator::Simulator>(clock);
        does(idiom == ui::UserInterfaceIdiom::Phone ? "wait 4" : "wait 3");
        if (refuseSignUp) {
            does("tap No, thanks");
            does("wait 1");
        }
        app::clearAppLog();
    }
    // What the line answers: its error, or "" when it was carried out.
    std::string errorOf(const std::string& line) {
        std::ostringstream out;
        return sim->run(line, out) ? std::string() : sim->lastError();
    }
    // "X,Y": the centre of the button called `title`, found under whatever covers it.
    static std::string pointOf(const std::string& title) {
        ui::Driver look;
        ui::Button* b = look.findButton(title);
        if (!b) return "0,0";
        ui::Point p = ui::Driver::centerOf(b);
        return std::to_string(int(p.x)) + "," + std::to_string(int(p.y));
    }
    // An empty home folder for the next start(), with `groups` saved groups.
    void freshHome(size_t groups) {
        fs::remove_all(dir + "/home");
        if (groups == 0) return;
        fs::create_directories(dir + "/home/Documents");
        std::ofstream file(dir + "/home/Documents/savedGroups-QuillonIphone.plist");
        file << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<array>\n";
        for (size_t i = 0; i < groups; ++i)
            file << "<dict><key>Name</key><string>group " << i << "</string><key>SelectedCards</key><array/></dict>\n";
        file << "</array>\n</plist>\n";
    }
    // Ends the app started by start(), so that another can start.
    void stop() {
        sim.reset();
        if (clock) clock->advance(100);
        ui::Panel::resetShown();
        ui::Application::shared()->reset();
        ns::UserDefaults::resetStandardUserDefaults();
        ns::RunLoop::main()->setClock(ns::SystemClock::shared());
    }
    void TearDown() override {
        stop();
        SimulatorTest::TearDown();
    }
    std::string screen() {
        std::ostringstream o;
        sim->run("screen", o);
        return o.str();
    }
    // What korvel prints for `line` (events, errors), then the screen.
    std::string does(const std::string& line) {
        std::ostringstream out;
        EXPECT_TRUE(sim->run(line, out)) << line << ": " << sim->lastError() << "\n" << screen();
        return out.str() + screen();
    }
    // Taps `title` and checks that it opened something a person sees: a
    // screen, a form, an alert, a page with text, a mail or an outside page.
    std::string opens(const std::string& title) {
        std::string before = screen();
        std::string after = does("tap " + title);
        EXPECT_NE(after, before) << "tap " << title << " changed nothing";
        expectNoEmptyPage(title, after);
        return after;
    }
    void expectNoEmptyPage(const std::string& title, const std::string& after) {
        std::istringstream lines(after);
        std::string line, previous;
        while (std::getline(lines, line)) {
            if (previous.find("[page ") != std::string::npos) {
                EXPECT_GT(line.find_first_not_of(' '), previous.find_first_not_of(' '))
                    << "tap " << title << " shows an empty page:\n" << after;
            }
            previous = line;
        }
        for (const std::string& l : app::appLogLines())
            EXPECT_EQ(l.find("missing"), std::string::npos) << "tap " << title << ": " << l;
        app::clearAppLog();
    }
    // Leaves what the last tap opened as a person would (an alert's last
    // button, "No, thanks" on a form, else back) until the screen is `before`.
    // Where the screen is: what it shows but the rows of its lists (which
    // a tap may have scrolled).
    static std::string place(const std::string& screen) {
        std::istringstream lines(screen);
        std::string line, out;
        while (std::getline(lines, line)) {
            size_t at = line.find_first_not_of(' ');
            if (at != std::string::npos && (line.compare(at, 2, "- ") == 0 || line.compare(at, 2, "* ") == 0 ||
                                            (line[at] == '(' && line.find(" more ") != std::string::npos)))
                continue;
            out += line + "\n";
        }
        return out;
    }
    void leave(const std::string& before) {
        for (int i = 0; i < 3 && place(screen()) != place(before); ++i) {
            std::string s = screen();
            if (s.rfind("+-- Alert", 0) == 0) {
                size_t open = s.rfind('[', s.find("\n+--\n"));
                does("alert " + s.substr(open + 1, s.find(']', open) - open - 1));
            } else if (has(s, "[No, thanks]")) {
                does("tap No, thanks");
                does("wait 1");
            } else {
                does("back");
            }
        }
        EXPECT_EQ(place(screen()), place(before));
    }
    // Opens each row of `rows` (and of every list below it) and leaves it.
    void walk(ns::Array* rows, bool leaveEach = true) {
        for (size_t i = 0; rows && i < rows->count(); ++i) {
            ns::Dictionary* row = app::rowAt(rows, i);
            auto title = app::rowTitle(row);
            if (!title || app::rowHas(row, "lleva")) continue;  // headings open nothing
            std::string before = screen();
            std::string after = opens(std::string(title->utf8()));
            if (app::rowChildren(row)) {
                walk(app::rowChildren(row));
            } else if (app::rowHas(row, "index")) {
                EXPECT_TRUE(has(after, "[page KORVEL_" + app::rowString(row, "index") + ".html]")) << after;
            }
            if (leaveEach) leave(before);
        }
    }
    // The tablet hub's list: a row shows its card (or page) in the pane, or
    // pushes its rows, which "Back" leaves; the groups row lists the groups,
    // whose add row opens the group editor.
    void walkList(ns::Array* rows) {
        for (size_t i = 0; rows && i < rows->count(); ++i) {
            ns::Dictionary* row = app::rowAt(rows, i);
            auto title = app::rowTitle(row);
            if (!title || app::rowHas(row, "lleva")) continue;
            std::string name(title->utf8());
            std::string after = does("tap " + name);
            expectNoEmptyPage(name, after);
            if (app::rowChildren(row)) {
                walkList(app::rowChildren(row));
                does("tap Back");
            } else if (app::rowHas(row, "index")) {
                EXPECT_TRUE(has(after, "[page KORVEL_" + app::rowString(row, "index") + ".html]")) << after;
            } else if (app::rowString(row, "ActionPractice") == "GroupCard") {
                std::string groups = screen();
                EXPECT_TRUE(has(opens("Add new group (swipe to delete)"), "Group name")) << screen();
                leave(groups);
                does("tap Back");
            } else if (app::rowHas(row, "ActionData")) {
                EXPECT_TRUE(has(after, "[page " + app::rowString(row, "ActionData") + "]")) << after;
            } else {
                EXPECT_TRUE(has(after, "[page MKTG_01_blank.html]")) << after;  // random practice
            }
        }
    }
    ns::Ref<ns::ManualClock> clock;
    std::unique_ptr<simulator::Simulator> sim;
};

TEST_F(DeckWalk, EachCommandsMistakeIsToldInItsOwnWords) {
    start(ui::UserInterfaceIdiom::Phone);
    const std::string longWord(101, 'z');
    struct Row {
        const char* line;
        std::string error;  // empty: carried out
    } rows[] = {
        {"", ""},
        {"   # a note", ""},
        {"\t", ""},
        {"SCREEN", ""},
        {"Help", ""},
        {"wait 0", ""},
        {"tap", "tap what? (tap TEXT)"},
        {"tap   ", "tap what? (tap TEXT)"},
        {"delete", "delete what? (delete TEXT)"},
        {"delete Nothing", "no row \"Nothing\" in a visible table"},
        {"link", "link what? (link HREF)"},
        {"link Next", "no web view on screen"},
        {"alert", "which button? (alert TEXT)"},
        {"alert OK", "no alert or action sheet is showing"},
        {"rotate", "rotate portrait or rotate landscape"},
        {"rotate sideways", "rotate portrait or rotate landscape"},
        {"wait 86400.5", "wait SECONDS (a number from 0 to 86400)"},
        {"wait", "wait SECONDS (a number from 0 to 86400)"},
        {"pinch", "pinch in or pinch out"},
        {"pinch sideways 2", "pinch in or pinch out"},
        {"pinch in 1.5", "pinch in|out [STEPS] (STEPS a whole number from 1 to 100)"},
        {"pinch in", "no card page on the screen"},
        {"swipe", "swipe left or swipe right"},
        {"swipe up", "swipe left or swipe right"},
        {"swipe left", "no card page on the screen"},
        {"back", "there is no screen to go back to"},
        {"return", "no text field has focus"},
        {"type x", "no text field has focus"},
        {"clear", "no text field has focus"},
        {"clear Nope", "no text field \"Nope\""},
        {"tapat 10,10 #11", "usage: tapat x,y [x,y ...] [#taps]"},
        {"tapat 10,10 #0", "usage: tapat x,y [x,y ...] [#taps]"},
        {"move 10,10", "no finger is down"},
        {"lift", "no finger is down"},
        {"frobnicate", "unknown command \"frobnicate\" (help lists them)"},
        {"FROB now", "unknown command \"frob\" (help lists them)"},
        {"tap About you", ""},
        {"tap Tell me about yourself", ""},
        {"swipe sideways", "swipe left or swipe right"},
        {"link Nothing like it", "no link \"Nothing like it\" in the page"},
        {"back", ""},
        {"tap More", ""},
        {"tap Rate this app", ""},
        {"tap About you", "the alert is showing; answer it with: alert BUTTON"},
        {"delete About you", "the alert is showing; answer it with: alert BUTTON"},
        {"pinch in", "the alert is showing; answer it with: alert BUTTON"},
        {"swipe left", "the alert is showing; answer it with: alert BUTTON"},
        {"back", "the alert is showing; answer it with: alert BUTTON"},
        {"link x", "the alert is showing"},
        {"alert Never", "the alert has no button \"Never\""},
        {"alert remind ME later", ""},
    };
    for (const Row& row : rows) {
        std::ostringstream out;
        bool ok = sim->run(row.line, out);
        EXPECT_EQ(ok, row.error.empty()) << "\"" << row.line << "\": " << sim->lastError();
        EXPECT_EQ(sim->lastError(), row.error) << "\"" << row.line << "\"";
        if (std::string(row.line) == "Help") {
            EXPECT_EQ(out.str(), simulator::Simulator::commandHelp());
        }
    }
    // A long command word is quoted cut, as a long argument is.
    std::ostringstream sink;
    EXPECT_FALSE(sim->run(longWord + " now", sink));
    EXPECT_EQ(sim->lastError(), "unknown command \"" + std::string(100, 'z') + "...\" (help lists them)");
    // A day is the longest wait; quit ends the session, exit too.
    EXPECT_TRUE(sim->run("wait 86400", sink)) << sim->lastError();
    EXPECT_FALSE(sim->quitRequested());
    EXPECT_TRUE(sim->run("Quit", sink));
    EXPECT_TRUE(sim->quitRequested());
}

// A list longer than the screen (search results, seven groups) is looked
// through for a name that is not one of its rows, which lays it out again
// many times; the command answers, the list is still there, and the name's
// own element (a tab) is then taken.
TEST_F(DeckWalk, NamesLookedForPastALongListLeaveItWhole) {
    struct Step {
        std::string line;
        std::string error;  // empty: carried out
    };
    struct Scenario {
        const char* name;
        ui::UserInterfaceIdiom idiom;
        size_t groups;  // saved before the launch
        std::vector<std::string> open;
        std::vector<Step> steps;
        const char* stillShown;  // after the steps
    } scenarios[] = {
        {"phone Search tab",
         ui::UserInterfaceIdiom::Phone,
         0,
         {"tap Search", "tap Search", "type a", "return"},
         {{"tap zzz", "nothing called \"zzz\" on the screen"},
          {"delete zzz", "no row \"zzz\" in a visible table"},
          {"tap More", ""},
          {"tap Search", ""},
          {"tap Deck index", ""}},
         "Tabs: Deck index* |"},
        {"tablet hub's Search sheet",
         ui::UserInterfaceIdiom::Pad,
         0,
         {"tap Experience", "tap Search", "tap Search", "type a", "return"},
         {{"tap More", "nothing called \"More\" on the screen"},
          {"tap zzz", "nothing called \"zzz\" on the screen"},
          {"delete zzz", "no row \"zzz\" in a visible table"},
          {"delete A failure", "row \"A failure\" cannot be deleted"}},
         "- Tell me about yourself"},
        {"phone groups list",
         ui::UserInterfaceIdiom::Phone,
         7,
         {"tap Practice", "tap Groups"},
         {{"tap zzz", "nothing called \"zzz\" on the screen"},
          {"delete zzz", "no row \"zzz\" in a visible table"},
          {"tap Deck index", ""}},
         "Tabs: Deck index* |"},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        freshHome(scenario.groups);
        start(scenario.idiom);
        for (const std::string& line : scenario.open) does(line);
        EXPECT_TRUE(has(screen(), "more below)")) << screen();  // longer than the screen
        for (const Step& step : scenario.steps) {
            EXPECT_EQ(errorOf(step.line), step.error) << step.line;
            EXPECT_TRUE(has(screen(), "- ")) << step.line << "\n" << screen();
        }
        EXPECT_TRUE(has(screen(), scenario.stillShown)) << screen();
        stop();
    }
}

// A list the user comes back to shows where the user left it; a newly shown
// list starts at its top. Each scenario opens a list longer than the screen,
// taps a row near its end (the list scrolls to it, as a person scrolls),
// goes back, and finds the list where it was left; then the phone's Search,
// scrolled down a long result list, shows a short one from its first row
// (it kept the long list's place: "(2 more below)" and no row).
TEST_F(DeckWalk, ANewListStartsAtItsTopAndBackShowsWhereItWasLeft) {
    struct Scenario {
        const char* name;
        ui::UserInterfaceIdiom idiom;
        size_t phoneGroups, tabletGroups;  // saved before the launch
        std::vector<std::string> open;     // the long list, at its top
        std::string farRow;                // off the screen until scrolled to
        std::string back;
        std::string backTitle;  // a title shown again by the back, if any
    } scenarios[] = {
        {"phone Search results under a card", ui::UserInterfaceIdiom::Phone, 0, 0,
         {"tap Search", "tap Search", "type a", "return"}, "Answer length", "back", ""},
        {"phone groups under a group", ui::UserInterfaceIdiom::Phone, 12, 0, {"tap Practice", "tap Groups"}, "group 11",
         "back", ""},
        {"tablet list pane's groups under a group", ui::UserInterfaceIdiom::Pad, 0, 20,
         {"tap Experience", "tap Practice", "tap groups"}, "group 19", "tap Back", "Groups:"},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        freshHome(scenario.phoneGroups);
        if (scenario.tabletGroups) {
            fs::create_directories(dir + "/home/Documents");
            std::ofstream file(dir + "/home/Documents/Grupos-VeltraIpad.plist");
            file << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<array>\n";
            for (size_t i = 0; i < scenario.tabletGroups; ++i)
                file << "<dict><key>Title</key><string>group " << i << "</string><key>color</key><string>silver"
                     << "</string><key>Editable</key><string>YES</string><key>Children</key><array><dict><key>title"
                     << "</key><string>A failure</string><key>index</key><string>10</string><key>ActionData</key>"
                     << "<string>KORVEL_10.html</string><key>color</key><string>green</string></dict></array></dict>\n";
            file << "</array>\n</plist>\n";
        }
        start(scenario.idiom);
        for (const std::string& line : scenario.open) does(line);
        const std::string top = screen();
        EXPECT_TRUE(has(top, "more below)")) << top;
        EXPECT_FALSE(has(top, "more above)")) << top;
        EXPECT_FALSE(has(top, scenario.farRow)) << top;
        EXPECT_NE(does("tap " + scenario.farRow), top);
        const std::string left = does(scenario.back);
        EXPECT_TRUE(has(left, "- " + scenario.farRow) || has(left, "* " + scenario.farRow)) << left;
        EXPECT_TRUE(has(left, "more above)")) << left;
        if (!scenario.backTitle.empty()) EXPECT_TRUE(has(left, scenario.backTitle)) << left;
        stop();
    }

    freshHome(0);
    start(ui::UserInterfaceIdiom::Phone);
    for (const char* line : {"tap Search", "tap Search", "type a", "return", "tap Answer length", "back",
                             "clear Search", "type salary", "return"})
        does(line);
    const std::string shortList = screen();
    EXPECT_TRUE(has(shortList, "- Starting over in salary\n- Salary expectations\n")) << shortList;
    EXPECT_FALSE(has(shortList, "more above)")) << shortList;
    EXPECT_FALSE(has(shortList, "more below)")) << shortList;
}

// While an alert shows, every touch command is refused with the line `tap`
// gives, and nothing under the alert changes.
TEST_F(DeckWalk, AnAlertTakesEveryTouchAndNothingUnderItChanges) {
    const std::vector<std::string> touches = {"tapat {P}", "touch {P}", "move {P}", "lift", "touch {Q}", "lift",
                                              "tapat {Q}", "tap {T}", "pinch in", "swipe left", "back"};
    struct Scenario {
        const char* name;
        ui::UserInterfaceIdiom idiom;
        std::vector<std::string> open;  // ends with the alert showing
        std::string alert;
        std::string p, q;  // buttons under the alert the touches aim at
    } scenarios[] = {
        {"the sign-up form's empty fields", ui::UserInterfaceIdiom::Phone, {"tap Send"}, "Error", "No, thanks", "Send"},
        {"the tablet's saved favourite", ui::UserInterfaceIdiom::Pad, {"tap No, thanks", "wait 1", "tap Experience",
         "tap Add to favorites"}, "Favorites", "Favorites", "Add to favorites"},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        freshHome(0);
        start(scenario.idiom, false);
        for (const std::string& line : scenario.open) does(line);
        const std::string before = screen();
        ASSERT_EQ(before.rfind("+-- Alert: " + scenario.alert + " --\n", 0), 0u) << before;
        const std::string p = pointOf(scenario.p), q = pointOf(scenario.q);
        for (std::string line : touches) {
            for (auto [mark, value] : {std::pair<std::string, std::string>{"{P}", p}, {"{Q}", q}, {"{T}", scenario.p}})
                if (size_t at = line.find(mark); at != std::string::npos) line.replace(at, mark.size(), value);
            EXPECT_EQ(errorOf(line), "the alert \"" + scenario.alert + "\" is showing; answer it with: alert BUTTON")
                << line;
            EXPECT_EQ(screen(), before) << line;
        }
        EXPECT_EQ(ui::Panel::visiblePanels().size(), 1u);
        const bool answered = ns::UserDefaults::standardUserDefaults()->objectForKey("registro") != nullptr;
        EXPECT_EQ(answered, scenario.idiom == ui::UserInterfaceIdiom::Pad);  // the phone's form not answered
        // Once the alert is answered, the same touch does its work.
        does("alert Accept");
        EXPECT_EQ(errorOf("tapat " + p), "");
        EXPECT_NE(screen(), before);
        if (scenario.idiom == ui::UserInterfaceIdiom::Phone) {
            EXPECT_TRUE(ns::UserDefaults::standardUserDefaults()->objectForKey("registro"));
        }
        stop();
    }
}

// What a person could name on `screen`: buttons, rows, tabs, fields, bar
// items and links, and the buttons of the alert on top.
struct Shown {
    std::vector<std::string> names, rows, links, alertButtons, fields, searchBars;
};

Shown namesOn(const std::string& screen) {
    Shown out;
    std::istringstream lines(screen);
    std::string line;
    bool inAlert = false;
    auto bracketed = [](const std::string& l, std::vector<std::string>& into) {
        for (size_t at = l.find('['); at != std::string::npos; at = l.find('[', at + 1)) {
            size_t end = l.find(']', at);
            if (end == std::string::npos) break;
            if (end > at + 1) into.push_back(l.substr(at + 1, end - at - 1));
        }
    };
    while (std::getline(lines, line)) {
        if (line.rfind("+-- ", 0) == 0) inAlert = true;
        if (inAlert) {
            if (line.rfind("| [", 0) == 0) bracketed(line, out.alertButtons);
            if (line == "+--") inAlert = false;
            continue;
        }
        size_t at = line.find_first_not_of(' ');
        if (at == std::string::npos) continue;
        std::string l = line.substr(at);
        if (l.rfind("Tabs: ", 0) == 0) {
            std::istringstream tabs(l.substr(6));
            std::string tab;
            while (std::getline(tabs, tab, '|')) {
                size_t a = tab.find_first_not_of(' '), e = tab.find_last_not_of(" *");
                if (a != std::string::npos && e != std::string::npos && e >= a) out.names.push_back(tab.substr(a, e - a + 1));
            }
        } else if (l.rfind("- ", 0) == 0 || l.rfind("* ", 0) == 0) {
            std::string row = l.substr(2);
            for (const char* mark : {" >", " (i)", " (v)"})
                if (row.size() > strlen(mark) && row.compare(row.size() - strlen(mark), strlen(mark), mark) == 0)
                    row.resize(row.size() - strlen(mark));
            row = row.substr(0, row.find(" | "));
            if (row.rfind("[", 0) == 0) bracketed(row, out.links);  // a page's link line
            else out.rows.push_back(row);
        } else if (l.rfind("== <", 0) == 0) {
            out.names.push_back(l.substr(4, l.find(" |") == std::string::npos ? std::string::npos : l.find(" |") - 4));
            bracketed(l, out.names);
        } else if (l.rfind("Search (", 0) == 0) {
            out.searchBars.push_back(l.substr(8, l.find("):") - 8));
            out.names.push_back(out.searchBars.back());
        } else if (size_t colon = l.find(": "); colon != std::string::npos && l.find("____") != std::string::npos) {
            out.fields.push_back(l.substr(0, colon));
            out.names.push_back(out.fields.back());
        } else if (l[0] == '[') {
            bracketed(l, out.names);
        } else if (at >= 2) {
            bracketed(l, out.links);  // links inside a page's text
        }
    }
    for (auto& r : out.rows) out.names.push_back(r);
    return out;
}

// korvel's commands at random, as a person trying things would type them:
// names taken from the screen, names that are not on it, searches, text in
// a form's fields (some not UTF-8), touches at any point, gestures, turns,
// time. Half the walks start with the sign-up form up, and half of each
// idiom's with seven saved groups, so long lists, forms, sheets and alerts
// all come up. Each walk is fixed by its seed: the same seed gives the same
// walk. While an alert shows, every touch command must be refused with the
// alert's line.
TEST_F(DeckWalk, RandomWalksOfCommandsKeepTheAppAnswering) {
    testsupport::Server service([](const testsupport::Request&) -> std::optional<std::string> {
        return testsupport::Server::reply(200, "{\"status\":\"ok\"}", "Content-Type: application/json\r\n");
    });
    ASSERT_TRUE(ns::ServiceEndpoints::setOverride(app::kFormService.name, service.url("")));
    const char* const texts[] = {"a", "e", "Ada", "ada@example.org", "Zo\u00eb", " ", "\xff\xfe", "an\xc3"};
    const char* const others[] = {"zzz", "More", "Deck index", "Search", "Back", "Cancel", "Close", "Send",
                                  "No, thanks", "Groups", "Favorites", "Add new group (swipe to delete)"};
    const char* const fixed[] = {"back", "return", "clear", "screen", "wait 0.5", "wait 1", "wait 4", "rotate portrait",
                                 "rotate landscape", "pinch in", "pinch out 3", "swipe left", "swipe right", "lift",
                                 "background", "foreground"};
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        const auto idiom = seed % 2 ? ui::UserInterfaceIdiom::Phone : ui::UserInterfaceIdiom::Pad;
        SCOPED_TRACE("seed " + std::to_string(seed) + (seed % 2 ? ", phone" : ", tablet"));
        freshHome((seed / 4) % 2 ? 7 : 0);
        app::RandomSource::setShared(app::RandomSource::withSeed(seed));
        start(idiom, (seed / 2) % 2 == 0);
        std::mt19937 rng(seed);
        auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
        std::string walked;  // the commands so far, for a failure's message
        std::string shown = screen();
        std::vector<std::string> queued;  // the rest of a search or of a field's filling
        for (int step = 0; step < 150; ++step) {
            Shown on = namesOn(shown);
            std::string line;
            size_t kind = pick(100);
            ui::Rect b = ui::Application::shared()->keyWindow()->bounds();
            auto point = [&] {
                return std::to_string(pick(size_t(b.width()))) + "," + std::to_string(pick(size_t(b.height())));
            };
            if (!queued.empty()) {
                line = queued.front();
                queued.erase(queued.begin());
            } else if (!on.alertButtons.empty() && kind < 30) {
                line = "alert " + on.alertButtons[pick(on.alertButtons.size())];
            } else if (kind < 12 && !on.searchBars.empty()) {
                line = "tap " + on.searchBars[pick(on.searchBars.size())];
                queued = {std::string("type ") + (pick(2) ? "a" : "e"), "return"};
            } else if (kind < 20 && !on.fields.empty()) {
                line = "tap " + on.fields[pick(on.fields.size())];
                queued = {std::string("type ") + texts[pick(std::size(texts))]};
            } else if (kind < 45 && !on.names.empty()) line = "tap " + on.names[pick(on.names.size())];
            else if (kind < 50) line = std::string("tap ") + others[pick(std::size(others))];
            else if (kind < 54) line = "delete " + (on.rows.empty() || pick(3) == 0 ? std::string("zzz") : on.rows[pick(on.rows.size())]);
            else if (kind < 62) line = std::string("type ") + texts[pick(std::size(texts))];
            else if (kind < 65 && !on.links.empty()) line = "link " + on.links[pick(on.links.size())];
            else if (kind < 70) line = "tapat " + point();
            else if (kind < 75) line = "touch " + point() + (pick(2) ? " " + point() : std::string());
            else if (kind < 79) line = "move " + point();
            else line = fixed[pick(std::size(fixed))];
            walked += line + "\n";
            const bool alertShown = shown.rfind("+-- ", 0) == 0;
            std::ostringstream out;
            bool ok = sim->run(line, out);
            const std::string cmd = line.substr(0, line.find(' '));
            if (alertShown && (cmd == "tap" || cmd == "tapat" || cmd == "touch" || cmd == "move" || cmd == "lift" ||
                               cmd == "pinch" || cmd == "swipe" || cmd == "delete")) {
                EXPECT_FALSE(ok) << walked;
                EXPECT_TRUE(has(sim->lastError(), " is showing; answer it with: alert BUTTON"))
                    << sim->lastError() << "\n" << walked;
            }
            shown = screen();
            ASSERT_FALSE(shown.empty()) << walked;
        }
        stop();
    }
    ns::ServiceEndpoints::clearOverrides();
}

TEST_F(DeckWalk, EveryRowOnTheTabletOpensSomethingAndCanBeLeft) {
    start(ui::UserInterfaceIdiom::Pad);
    std::string home = screen();
    auto decks = app::bundleArray("Jobframework.plist");
    for (size_t i = 0; i < decks->count(); ++i) {
        ns::Dictionary* deck = app::rowAt(decks.get(), i);
        if (!app::rowChildren(deck)) continue;  // the tablet's home shows the decks only
        opens(app::rowString(deck, "Title"));
        walkList(app::rowChildren(deck));
        leave(home);
    }
    opens("About you");
    does("tap Interview");
    walkList(app::bundleArray("InterviewIphone.plist").get());
    does("tap Info");
    walkList(app::rowChildren(app::bundleDictionary("infoIpad.plist").get()));
    does("tap Practice");
    walkList(app::rowChildren(app::bundleDictionary("Practice.plist").get()));
    std::string hub = screen();
    for (const char* button : {"Favorites", "Search", "Rate", "Referral", "Sign up"}) {
        opens(button);
        leave(hub);
    }
    // The follow-us sheet: its rows open a mail, the sign-up form or an
    // outside page; its headings and note open nothing.
    std::string sheet = opens("Share");
    auto follow = app::bundleArray("FollowUS.plist");
    for (size_t i = 0; i < follow->count(); ++i) {
        ns::Dictionary* row = app::rowAt(follow.get(), i);
        if (!app::rowHas(row, "tipo") && !app::rowHas(row, "ActionData")) continue;
        std::string before = screen();
        opens(app::rowString(row, "Title"));
        leave(before);
    }
    leave(hub);
}

TEST_F(DeckWalk, EveryRowOnThePhoneOpensSomethingAndCanBeLeft) {
    start(ui::UserInterfaceIdiom::Phone);
    walk(app::bundleArray("Jobframework.plist").get());  // the decks, invite and sign-up rows
    does("tap Tactics");
    walk(app::bundleArray("InterviewIphone.plist").get());
    does("tap More");
    walk(app::bundleArray("more.plist").get());
    does("tap Practice");
    std::string practice = screen();
    auto practiceList = app::bundleDictionary("Practice.plist");
    ns::Dictionary* questions = app::rowAt(app::rowChildren(practiceList.get()), 2);
    opens("Questions");
    walk(app::rowChildren(questions));
    leave(practice);
    for (const char* button : {"Random cards", "Groups"}) {
        EXPECT_TRUE(has(opens(button), button == std::string("Groups") ? "Groups" : "[page MKTG_01_blank.html]"));
        leave(practice);
    }
}

}  // namespace
