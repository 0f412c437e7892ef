// Launch to interface on a generated bundle of 10,000 cards: the app reads
// its five bundle lists, counts the launch in the user defaults, reads the
// (empty) Documents files, fades the splash in (the manual clock is moved
// past it) and builds the phone's tab bar or the tablet's home screen.
// Beside it: the bare cost of reading the same five property lists.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/AppLog.h"
#include "app/Launch.h"
#include "platform/foundation/Foundation.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Driver.h"

namespace {

namespace fs = std::filesystem;

const char* kColours[] = {"silver", "black", "wine", "blue", "yellow", "purple", "green", "cyan"};

std::string prose(int i) {
    std::string s = "Answer " + std::to_string(i) + ": ";
    for (int k = 0; k < 6 + i % 5; ++k)
        s += "Describe the situation, the task, what you did & what came of it; keep it short. ";
    return s;
}

// 100 decks of 100 cards, a tactics menu, share and info dictionaries.
struct Bundle {
    std::string dir;
    Bundle() {
        char tmpl[] = "/tmp/startup-bench-XXXXXX";
        dir = ::mkdtemp(tmpl);
        auto all = ns::MutableArray::make();
        auto decks = ns::MutableArray::make();
        int index = 1;
        for (int d = 0; d < 100; ++d) {
            auto children = ns::MutableArray::make();
            for (int c = 0; c < 100; ++c, ++index) {
                auto card = ns::Dictionary::make({
                    {"title", ns::str(("Card " + std::to_string(index)).c_str())},
                    {"index", ns::str(std::to_string(index).c_str())},
                    {"ActionData", ns::str(("KORVEL_" + std::to_string(index) + ".html").c_str())},
                    {"color", ns::str(kColours[d % 8])},
                    {"post", ns::str(("korvel.example/cards/" + std::to_string(index)).c_str())},
                    {"text", ns::str(prose(index).c_str())},
                });
                children->addObject(card);
                all->addObject(card);
            }
            decks->addObject(ns::Dictionary::make({{"Title", ns::str(("Deck " + std::to_string(d)).c_str())},
                                                   {"SubTitle", ns::str("Generated")},
                                                   {"color", ns::str(kColours[d % 8])},
                                                   {"Children", children}}));
        }
        auto tactics = ns::MutableArray::make();
        for (int t = 0; t < 10; ++t)
            tactics->addObject(ns::Dictionary::make({{"Title", ns::str(("Tactic " + std::to_string(t)).c_str())},
                                                     {"Children", ns::Array::make({all->at(t)})}}));
        write(*decks, "Jobframework.plist");
        write(*all, "allCards-Iphone.plist");
        write(*tactics, "InterviewIphone.plist");
        write(*ns::Dictionary::make({{"subject", ns::str("A card")}}), "shareIphone.plist");
        write(*ns::Dictionary::make({{"about", ns::str("Generated deck")}}), "infoIphone.plist");
        write(*ns::Dictionary::make({{"CFBundleVersion", ns::str("1.0")}}), "Info.plist");
        write(*ns::Array::make(), "more.plist");
    }
    ~Bundle() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    void write(const ns::Object& o, const char* name) const {
        if (!ns::PropertyList::writeToFile(o, dir + "/" + name)) std::abort();
    }
    size_t bytes() const {
        size_t n = 0;
        for (const char* f : {"Jobframework.plist", "allCards-Iphone.plist", "InterviewIphone.plist",
                              "shareIphone.plist", "infoIphone.plist"})
            n += fs::file_size(dir + "/" + f);
        return n;
    }
};

Bundle& bundle() {
    static Bundle b;
    return b;
}

void BM_BareRead(benchmark::State& state) {
    const Bundle& b = bundle();
    for (auto _ : state) {
        for (const char* f : {"Jobframework.plist", "allCards-Iphone.plist", "InterviewIphone.plist",
                              "shareIphone.plist", "infoIphone.plist"}) {
            auto root = ns::PropertyList::readFromFile(b.dir + "/" + f);
            benchmark::DoNotOptimize(root.get());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * b.bytes()));
}

void launchToInterface(benchmark::State& state, ui::UserInterfaceIdiom idiom, double splash) {
    const Bundle& b = bundle();
    char tmpl[] = "/tmp/startup-bench-home-XXXXXX";
    std::string home = ::mkdtemp(tmpl);
    auto clock = ns::make<ns::ManualClock>(0.0);
    app::setAppLogEcho(false);
    ui::Driver driver(clock);
    // The sign-up overlay is answered, as after a first run.
    ns::Paths::setHomeDirectory(home);
    ns::UserDefaults::resetStandardUserDefaults();
    ns::UserDefaults::standardUserDefaults()->setObjectForKey(ns::boolean(true), "registro");
    for (auto _ : state) {
        auto delegate = app::launch(idiom, home, b.dir, clock);
        driver.advance(splash);
        benchmark::DoNotOptimize(delegate->window()->rootViewController());
        ui::Panel::resetShown();  // the rate prompt of later launches
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * b.bytes()));
    ui::Application::shared()->reset();
    ns::RunLoop::main()->setClock(ns::SystemClock::shared());
    std::error_code ec;
    fs::remove_all(home, ec);
}

void BM_LaunchPhone(benchmark::State& state) { launchToInterface(state, ui::UserInterfaceIdiom::Phone, 4.0); }
void BM_LaunchTablet(benchmark::State& state) { launchToInterface(state, ui::UserInterfaceIdiom::Pad, 3.0); }

}  // namespace

BENCHMARK(BM_BareRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LaunchPhone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LaunchTablet)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
