// Typing a long text key by key through the driver, as the simulator's
// `type` does: into a plain text field, a field whose delegate is asked
// about every key, a search bar, and the mail composer's To field (which
// brings its Send button up to date). The time per character should not
// grow with the length of the text: Complexity() fits the total to N.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/mail/MailComposeViewController.h"
#include "platform/ui/Application.h"
#include "platform/ui/Driver.h"
#include "platform/ui/TextField.h"
#include "platform/ui/Window.h"

namespace {

// Every key is asked about, as the app's forms do.
struct Asking : ns::Object, ui::TextFieldDelegate {
    size_t asked = 0;
    bool textFieldShouldChangeCharactersInRange(ui::TextField*, ns::Range r, const std::string&) override {
        asked += r.location > 0;
        return true;
    }
};

// Mostly ASCII with some two- and four-byte characters.
std::string text(size_t n) {
    std::string s;
    for (size_t i = 0; s.size() < n; ++i) s += i % 50 == 0 ? "\xC3\xA9" : i % 97 == 0 ? "\xF0\x9F\x98\x80" : "a";
    return s;
}

struct Screen {
    ns::Ref<ns::ManualClock> clock = ns::make<ns::ManualClock>(0.0);
    ns::Ref<ui::Window> window;
    Screen() {
        ns::RunLoop::main()->setClock(clock);
        ui::Application::shared()->reset();
        window = ns::make<ui::Window>(ui::Screen::main()->bounds());
        window->setRootViewController(ns::make<ui::ViewController>());
        window->makeKeyAndVisible();
    }
    ~Screen() { ui::Application::shared()->reset(); }
};

enum class Target { Field, AskingField, SearchBar, MailTo };

void typeInto(benchmark::State& state, Target target) {
    Screen screen;
    ui::Driver driver(screen.clock);
    const std::string typed = text(static_cast<size_t>(state.range(0)));
    auto asking = ns::make<Asking>();
    for (auto _ : state) {
        state.PauseTiming();
        ns::Ref<ui::View> input;
        ns::Ref<mail::MailComposeViewController> composer;
        std::string name = "Field";
        if (target == Target::MailTo) {
            composer = mail::MailComposeViewController::make();
            screen.window->rootViewController()->presentViewController(composer, false);
            name = "To";
        } else if (target == Target::SearchBar) {
            auto bar = ns::make<ui::SearchBar>(ui::makeRect(0, 0, 320, 44));
            bar->setPlaceholder(name);
            input = bar;
        } else {
            auto field = ui::TextField::make(ui::makeRect(0, 0, 320, 30));
            field->setPlaceholder(name);
            if (target == Target::AskingField) field->setDelegate(asking.get());
            input = field;
        }
        if (input) screen.window->rootViewController()->view()->addSubview(input);
        state.ResumeTiming();
        if (!driver.typeText(name, typed)) state.SkipWithError(driver.lastError().c_str());
        state.PauseTiming();
        if (input) input->removeFromSuperview();
        if (composer) composer->dismissViewControllerAnimated(false);
        state.ResumeTiming();
    }
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_TypeIntoTextField(benchmark::State& s) { typeInto(s, Target::Field); }
void BM_TypeIntoAskingTextField(benchmark::State& s) { typeInto(s, Target::AskingField); }
void BM_TypeIntoSearchBar(benchmark::State& s) { typeInto(s, Target::SearchBar); }
void BM_TypeIntoMailTo(benchmark::State& s) { typeInto(s, Target::MailTo); }

BENCHMARK(BM_TypeIntoTextField)->RangeMultiplier(4)->Range(1 << 10, 1 << 18)->Complexity();
BENCHMARK(BM_TypeIntoAskingTextField)->RangeMultiplier(4)->Range(1 << 10, 1 << 18)->Complexity();
BENCHMARK(BM_TypeIntoSearchBar)->RangeMultiplier(4)->Range(1 << 10, 1 << 18)->Complexity();
BENCHMARK(BM_TypeIntoMailTo)->RangeMultiplier(4)->Range(1 << 10, 1 << 18)->Complexity();

}  // namespace

BENCHMARK_MAIN();
