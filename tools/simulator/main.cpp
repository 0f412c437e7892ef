// korvel: runs the card deck app on the headless screen and lets a person
// (or a script) drive it. See --help.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <set>
#include <string>
#include <string_view>

#include "app/AppLog.h"
#include "app/HomeLock.h"
#include "app/Launch.h"
#include "app/forms/HTTPFormPoster.h"
#include "app/phone/RandomSource.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/ServiceEndpoints.h"
#include "platform/ui/Driver.h"
#include "tools/simulator/Simulator.h"
#include "tools/simulator/TerminalSession.h"

namespace {

const char* kUsage =
    "Usage: korvel [--idiom phone|tablet] [--home DIR] [--bundle DIR] [--script FILE]\n"
    "              [--clock real|manual] [--seed N] [--endpoint NAME=URL]\n"
    "              [--form-post-limit SECONDS] [--help]\n"
    "\n"
    "Runs the Korvel interview-card app on a headless phone or tablet screen.\n"
    "\n"
    "  --idiom phone|tablet  the device (default: phone)\n"
    "  --home DIR            the app's home folder: Documents (favourites, groups), Library\n"
    "                        (user defaults), Outbox (mail the app sends, as .eml files).\n"
    "                        It is created when missing and kept between runs.\n"
    "                        One home serves one korvel at a time: a run started on a\n"
    "                        home that another running korvel uses is refused (exit\n"
    "                        status 3) and changes nothing there.\n"
    "                        Default: $DECK_HOME, else ./home\n"
    "  --bundle DIR          the app bundle: property lists, html_iphone/, images/.\n"
    "                        Default: $DECK_RESOURCES, else the repository's resources/\n"
    "  --script FILE         run the commands in FILE (one a line) and stop; the screen is\n"
    "                        printed only by the command 'screen'. The exit status is 1 when\n"
    "                        any command could not be carried out, else 0.\n"
    "  --clock real|manual   real: time passes by itself (the default at the terminal);\n"
    "                        manual: time passes only with 'wait' (the default with --script,\n"
    "                        so scripts give the same screens every run)\n"
    "  --seed N              the seed of random practice (a whole number); the same seed\n"
    "                        draws the same cards. Default: 1 with --script, else random\n"
    "  --endpoint NAME=URL   send what goes to the outside service NAME to URL instead (an\n"
    "                        http or https base URL; may be given more than once). The\n"
    "                        sign-up and referral forms go to the service tarnwick-forms\n"
    "                        (https://services.tarnwick.example), e.g.\n"
    "                        --endpoint tarnwick-forms=http://127.0.0.1:8080. The sharers'\n"
    "                        services have names too (twitter, facebook-graph, ...; the\n"
    "                        list is in docs/sharing.md).\n"
    "                        The environment variable DECK_ENDPOINTS takes the same\n"
    "                        NAME=URL entries, separated by commas; --endpoint wins.\n"
    "  --form-post-limit SECONDS\n"
    "                        the longest a sign-up or referral post may take, from its\n"
    "                        start to the last byte of the answer; a post still running\n"
    "                        then is given up as failed and the form stays (a decimal\n"
    "                        number from 0.1 to 3600; default: 60)\n"
    "  --help                this text\n"
    "\n"
    "Without --script the program reads commands from the terminal and prints the screen\n"
    "after each. The splash screen fades in for 4 s (phone) or 3 s (tablet).\n"
    "URLs the app opens, mail it writes and form posts it sends are printed as they happen.\n"
    "The forms are posted for real; without a network the post fails and the form stays.\n"
    "\n";

// The exit status of a run refused because another process uses its home.
constexpr int kHomeInUseExitCode = 3;

// A run refused its home: why, and what the user can do.
int homeRefused(const std::string& why) {
    std::fprintf(stderr, "korvel: %s; end the other korvel, or start this one with another --home DIR\n", why.c_str());
    return kHomeInUseExitCode;
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "korvel: %s\n(korvel --help explains the options)\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string idiom = "phone", home, bundle, script, clockKind, seed, formPostLimit;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        if (a == "--help" || a == "-h") {
            std::cout << kUsage << simulator::Simulator::commandHelp();
            return 0;
        } else if (a == "--idiom") {
            if (!value(idiom)) return usageError("--idiom needs phone or tablet");
        } else if (a == "--home") {
            if (!value(home)) return usageError("--home needs a folder");
        } else if (a == "--bundle") {
            if (!value(bundle)) return usageError("--bundle needs a folder");
        } else if (a == "--script") {
            if (!value(script)) return usageError("--script needs a file");
        } else if (a == "--clock") {
            if (!value(clockKind)) return usageError("--clock needs real or manual");
        } else if (a == "--seed") {
            if (!value(seed)) return usageError("--seed needs a whole number");
        } else if (a == "--form-post-limit") {
            if (!value(formPostLimit)) return usageError("--form-post-limit needs a number of seconds");
        } else if (a == "--endpoint") {
            std::string entry, why;
            if (!value(entry)) return usageError("--endpoint needs NAME=URL");
            if (!ns::ServiceEndpoints::setOverrides(entry, &why)) return usageError("--endpoint: " + why);
        } else {
            return usageError("unknown option " + a);
        }
    }
    if (idiom != "phone" && idiom != "tablet") return usageError("--idiom must be phone or tablet");
    if (const char* env = std::getenv(ns::ServiceEndpoints::kEnvironmentVariable)) {
        std::string why;
        if (!ns::ServiceEndpoints::parseList(env, nullptr, &why))
            std::fprintf(stderr, "korvel: warning: %s: %s; its malformed entries are ignored\n",
                         ns::ServiceEndpoints::kEnvironmentVariable, why.c_str());
    }
    if (clockKind.empty()) clockKind = script.empty() ? "real" : "manual";
    if (clockKind != "real" && clockKind != "manual") return usageError("--clock must be real or manual");

    if (seed.empty() && !script.empty()) seed = "1";
    if (!seed.empty()) {
        char* end = nullptr;
        errno = 0;
        unsigned long long n = std::strtoull(seed.c_str(), &end, 10);
        if (seed[0] == '-' || !end || *end || errno || n > 0xFFFFFFFFull)
            return usageError("--seed must be a whole number from 0 to 4294967295");
        app::RandomSource::setShared(app::RandomSource::withSeed(static_cast<uint32_t>(n)));
    }

    double formPostLimitSeconds = app::HTTPFormPoster::kDefaultTimeLimitSeconds;
    if (!formPostLimit.empty() &&
        (!ui::parseNumber(formPostLimit, formPostLimitSeconds) || formPostLimitSeconds < 0.1 ||
         formPostLimitSeconds > 3600))
        return usageError("--form-post-limit must be a number of seconds from 0.1 to 3600");

    std::ifstream scriptFile;
    if (!script.empty()) {
        scriptFile.open(script);
        if (!scriptFile) return usageError("cannot read the script " + script);
    }
    if (!home.empty() && !ns::Paths::ensureDirectory(home, 0700))
        return usageError("cannot create the home folder " + home);
    // One home folder, one app process: a second one is refused before it
    // reads or writes anything there.
    std::string refused;
    if (!app::claimHome(home.empty() ? ns::Paths::homeDirectory() : home, &refused)) return homeRefused(refused);
    if (!bundle.empty() && access((bundle + "/Jobframework.plist").c_str(), R_OK) != 0)
        std::fprintf(stderr, "korvel: warning: %s has no Jobframework.plist; the deck will be empty\n",
                     bundle.c_str());

    ns::RunLoop::setMain();
    ns::Ref<ns::ManualClock> manual;
    if (clockKind == "manual") manual = ns::make<ns::ManualClock>(0.0);
    else ns::RunLoop::main()->setClock(ns::SystemClock::shared());

    app::LaunchSettings settings;
    settings.idiom = idiom == "tablet" ? ui::UserInterfaceIdiom::Pad : ui::UserInterfaceIdiom::Phone;
    settings.homeDir = home;
    settings.bundleDir = bundle;
    settings.clock = manual;
    // At the terminal the app's console lines show on standard error; a
    // script's output is the screens and events it asked for.
    app::setAppLogEcho(script.empty());
    if (!home.empty()) ns::Paths::setHomeDirectory(home);
    std::set<std::string> setAsideBefore = simulator::Simulator::setAsideFiles();
    if (!app::launch(settings, &refused)) return homeRefused(refused);
    simulator::Simulator sim(manual, std::move(setAsideBefore), formPostLimitSeconds);
    // What the launch itself did (a favourites file it could not read and
    // moved aside, say) is told before the first command.
    sim.reportEvents(std::cout);

    if (!script.empty()) {
        bool allOk = true;
        std::string line;
        size_t number = 0;
        while (!sim.quitRequested() && std::getline(scriptFile, line)) {
            ++number;
            if (!sim.run(line, std::cout)) {
                allOk = false;
                std::cout << "error: line " << number << ": " << sim.failureText(line) << "\n";
            }
            // What a command printed is out before the next one runs.
            std::cout.flush();
        }
        ui::Application::shared()->terminate();
        std::cout.flush();
        return allOk ? 0 : 1;
    }

    // At the terminal: commands arrive while the main run loop runs, so
    // fades and other timed changes go on while the person reads.
    auto loop = ns::RunLoop::main();
    simulator::TerminalSession session(sim, std::cout, [&] { loop->stop(); });
    session.start();
    session.readFrom(STDIN_FILENO);
    if (!session.isDone()) loop->run();
    ui::Application::shared()->terminate();
    std::cout << "\n";
    return 0;
}
