#include "testsupport/UITest.h"

namespace testsupport {

void UITest::SetUp() {
    clock = ns::make<ns::ManualClock>(1000.0);
    ns::RunLoop::main()->setClock(clock);
    ui::Application::shared()->reset();
    ui::Device::current()->reset();
    ui::clearAnimationLog();
}

void UITest::TearDown() {
    // Let pending completions run so nothing leaks into the next test.
    clock->advance(100);
    ui::Application::shared()->reset();
    ns::RunLoop::main()->setClock(ns::SystemClock::shared());
}

ns::Ref<ui::Window> UITest::makeWindow() {
    auto w = ns::make<ui::Window>(ui::Screen::main()->bounds());
    w->makeKeyAndVisible();
    return w;
}

std::string Log::joined() const {
    std::string out;
    for (auto& l : lines) out += (out.empty() ? "" : ",") + l;
    return out;
}

}  // namespace testsupport
