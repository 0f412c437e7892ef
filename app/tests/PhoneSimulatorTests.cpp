// End to end on the phone: the korvel program runs the scripts in
// app/tests/scripts as a person would, on a home folder that survives
// between runs. The mailed card is read back by Python's email package.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "testsupport/Command.h"
#include "testsupport/TempDir.h"

namespace {

namespace fs = std::filesystem;

using Outcome = testsupport::CommandOutput;

class PhoneSimulator : public ::testing::Test {
protected:
    Outcome korvel(const std::string& scriptName, const std::string& extra = "") {
        std::string script = scriptName.find('/') == std::string::npos
                                 ? std::string(DECK_SOURCE_DIR) + "/app/tests/scripts/" + scriptName
                                 : scriptName;
        std::string cmd = std::string(KORVEL_PATH) + " --idiom phone --home " + dir + "/home --bundle " +
                          DECK_SOURCE_DIR + "/resources --script " + script + " " + extra + " 2>&1";
        return testsupport::runCommand(cmd);
    }
    static bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
    testsupport::TempDir tmp{"korvel-phone"};
    const std::string dir = tmp.path();
};

TEST_F(PhoneSimulator, CardTourFollowsALinkGoesBackAndMailsTheCard) {
    Outcome r = korvel("phone_card_tour.txt");
    ASSERT_EQ(r.status, 0) << r.out;
    // The first card, then the linked card, then the first again.
    size_t first = r.out.find("[page KORVEL_1.html]");
    size_t second = r.out.find("[page KORVEL_2.html]");
    ASSERT_NE(first, std::string::npos) << r.out;
    ASSERT_NE(second, std::string::npos) << r.out;
    EXPECT_LT(first, second);
    EXPECT_NE(r.out.find("[page KORVEL_1.html]", second), std::string::npos) << r.out;
    EXPECT_TRUE(has(r.out, "A great card from the Tarnwick Veltra Media Job Search App")) << r.out;
    // The card link stayed in the app: nothing was opened outside.
    EXPECT_FALSE(has(r.out, "Opened URL:")) << r.out;

    // The mail the composer sent, as a standard parser reads it.
    std::string outbox = dir + "/home/Outbox";
    std::vector<fs::path> mails;
    for (auto& e : fs::directory_iterator(outbox))
        if (e.path().extension() == ".eml") mails.push_back(e.path());
    ASSERT_EQ(mails.size(), 1u) << r.out;
    EXPECT_TRUE(has(r.out, "Mail written: " + mails[0].string())) << r.out;
    std::string py = dir + "/read.py";
    std::ofstream(py) << R"(
import email, email.policy, sys
msg = email.message_from_bytes(open(sys.argv[1], 'rb').read(), policy=email.policy.default)
print(msg['Subject'])
print(msg['To'])
print(msg.get_body(preferencelist=('html',)).get_content().rstrip('\r\n'))
)";
    EXPECT_EQ(testsupport::runCommand("python3 '" + py + "' '" + mails[0].string() + "' 2>&1").out,
              "A great card from the Tarnwick Veltra Media Job Search App\n"
              "friend@example.org\n"
              "Here is a card from the Tarnwick Veltra Media Job Search App that I found useful.  I thought you "
              "might like it as well <a href=\"http://korvel.example/cards/1\">korvel.example/cards/1</a> .\n");
}

TEST_F(PhoneSimulator, GroupBuiltInOneRunOpensInTheNext) {
    Outcome built = korvel("phone_group_build.txt");
    ASSERT_EQ(built.status, 0) << built.out;
    EXPECT_TRUE(has(built.out, "Interview day")) << built.out;
    ASSERT_TRUE(fs::exists(dir + "/home/Documents/savedGroups-QuillonIphone.plist"));

    Outcome reopened = korvel("phone_group_reopen.txt");
    ASSERT_EQ(reopened.status, 0) << reopened.out;
    size_t list = reopened.out.find("Interview day");
    ASSERT_NE(list, std::string::npos) << reopened.out;
    size_t menu = reopened.out.find("salary expectations", list);
    ASSERT_NE(menu, std::string::npos) << reopened.out;
    EXPECT_NE(reopened.out.find("body language", list), std::string::npos) << reopened.out;
    EXPECT_NE(reopened.out.find("[page KORVEL_41.html]", menu), std::string::npos) << reopened.out;
}

TEST_F(PhoneSimulator, PracticeDrawsTheSameCardsForTheSameSeed) {
    std::string script = dir + "/practice.txt";
    std::ofstream(script) << "wait 4\ntap No, thanks\nwait 0.5\ntap Practice\ntap Random cards\nscreen\n"
                             "back\ntap Random cards\nscreen\n";
    auto practicePages = [&](const std::string& extra) {
        fs::remove_all(dir + "/home");
        Outcome r = korvel(script, extra);
        EXPECT_EQ(r.status, 0) << r.out;
        std::string pages;
        for (size_t at = r.out.find("[page MKTG_01_blank.html]"); at != std::string::npos;
             at = r.out.find("[page MKTG_01_blank.html]", at + 1))
            pages += r.out.substr(at, r.out.find("Tap to see", at) - at);
        return pages;
    };
    std::string a = practicePages("--seed 7");
    EXPECT_NE(a, "");
    EXPECT_EQ(practicePages("--seed 7"), a);
    EXPECT_EQ(practicePages(""), practicePages("--seed 1"));  // scripts default to seed 1
}

// A korvel run that never ends (or any program a test starts) is stopped at
// its time limit with all it started, and the test reads what it printed:
// the test fails on it and the rest of the program still runs.
TEST_F(PhoneSimulator, AProgramThatNeverEndsIsStoppedAtItsLimit) {
    struct Row {
        const char* name;
        std::string command;
        int status;
        bool timedOut;
        std::string printed;
    } rows[] = {
        {"one that ends", "echo done; exit 3", 3, false, "done\n"},
        {"one that waits", "echo started; exec sleep 600", -1, true, "started\n[stopped: still running after 0.5 s]\n"},
        {"one whose child waits", "sleep 600 & echo started; wait", -1, true,
         "started\n[stopped: still running after 0.5 s]\n"},
        {"one that closes its output and waits", "echo started; exec sleep 600 >/dev/null", -1, true,
         "started\n[stopped: still running after 0.5 s]\n"},
        {"one that prints no line end", "printf started; exec sleep 600", -1, true,
         "started\n[stopped: still running after 0.5 s]\n"},
    };
    for (const Row& r : rows) {
        Outcome o = testsupport::runCommand(r.command, 0.5);
        EXPECT_EQ(o.status, r.status) << r.name;
        EXPECT_EQ(o.timedOut, r.timedOut) << r.name;
        EXPECT_EQ(o.out, r.printed) << r.name;
    }
}

// A sanitizer's report in a program a test starts is never an ordinary
// exit: the address and undefined-behaviour sanitizers end a program with 1
// by default, which a test expecting a failed script (status 1) would take
// for that failure. The program here is built with both sanitizers in every
// build.
TEST_F(PhoneSimulator, ASanitizersReportIsNeverAnOrdinaryEnd) {
    // The options the test's own environment gives (CI's) stay in force.
    struct SavedVariable {
        const char* name;
        bool had;
        std::string value;
        explicit SavedVariable(const char* n) : name(n), had(std::getenv(n) != nullptr), value(had ? std::getenv(n) : "") {}
        ~SavedVariable() {
            if (had) ::setenv(name, value.c_str(), 1);
            else ::unsetenv(name);
        }
    } asan("ASAN_OPTIONS"), ubsan("UBSAN_OPTIONS"), lsan("LSAN_OPTIONS");
    const std::string program = SANITIZED_FAULT_PATH;
    const std::string reported =
        "[a sanitizer reported an error: exit code " + std::to_string(testsupport::kSanitizerReportExitCode) + "]\n";
    struct Row {
        const char* name;
        std::string command;
        const char* asanOptions;  // the environment's own (nullptr: none)
        int status;
        bool sanitizerReported;
        std::string outEnd;
    } rows[] = {
        {"an ordinary failure", program + " fail", nullptr, 1, false, "doing fail\n"},
        {"an ordinary success", program + " ok", nullptr, 0, false, "doing ok\n"},
        {"a read past the end of a heap block", program + " read-past-end 2>/dev/null", nullptr,
         testsupport::kSanitizerReportExitCode, true, reported},
        {"a signed overflow", program + " signed-overflow 2>/dev/null", nullptr, testsupport::kSanitizerReportExitCode, true,
         reported},
        {"a leak", program + " leak 2>/dev/null", "detect_leaks=1", testsupport::kSanitizerReportExitCode, true, reported},
        {"the environment's options stay: leaks not looked for", program + " leak", "detect_leaks=0", 0, false,
         "doing leak\n"},
        {"the environment's exit code is overridden", program + " read-past-end 2>/dev/null", "exitcode=1:detect_leaks=1",
         testsupport::kSanitizerReportExitCode, true, reported},
        {"through timeout, as korvel runs", "timeout 60 " + program + " read-past-end 2>&1", nullptr,
         testsupport::kSanitizerReportExitCode, true, reported},
        {"an end by a signal", "echo started; kill -SEGV $$", nullptr, -1, false,
         "started\n[ended by signal 11 (Segmentation fault)]\n"},
    };
    for (const Row& r : rows) {
        if (r.asanOptions) ::setenv("ASAN_OPTIONS", r.asanOptions, 1);
        else if (asan.had) ::setenv("ASAN_OPTIONS", asan.value.c_str(), 1);
        else ::unsetenv("ASAN_OPTIONS");
        Outcome o;
        if (r.sanitizerReported) {
            // The running test fails too, whatever the caller reads of the
            // result.
            EXPECT_NONFATAL_FAILURE(o = testsupport::runCommand(r.command), "a sanitizer reported an error in");
        } else {
            o = testsupport::runCommand(r.command);
        }
        EXPECT_EQ(o.status, r.status) << r.name << "\n" << o.out;
        EXPECT_EQ(o.sanitizerReported, r.sanitizerReported) << r.name;
        EXPECT_FALSE(o.timedOut) << r.name;
        if (o.out.size() < r.outEnd.size()) {
            ADD_FAILURE() << r.name << ": too short\n" << o.out;
            continue;
        }
        EXPECT_EQ(o.out.substr(o.out.size() - r.outEnd.size()), r.outEnd) << r.name << "\n" << o.out;
    }
}

}  // namespace
