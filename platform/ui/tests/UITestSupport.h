// A fresh headless screen for each test: phone idiom, portrait, no windows or
// alerts, and the main run loop on a manual clock that the test advances.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "platform/ui/Driver.h"

namespace ui::test {

class UITest : public ::testing::Test {
protected:
    void SetUp() override {
        clock = std::make_shared<ns::ManualClock>(1000.0);
        ns::RunLoop::main()->setClock(clock);
        Application::shared()->reset();
        Device::current()->reset();
        clearAnimationLog();
    }
    void TearDown() override {
        // Let pending completions run so nothing leaks into the next test.
        clock->advance(100);
        Application::shared()->reset();
        ns::RunLoop::main()->setClock(ns::SystemClock::shared());
    }
    // A key, visible window the size of the screen.
    ns::Ref<Window> makeWindow() {
        auto w = ns::make<Window>(Screen::main()->bounds());
        w->makeKeyAndVisible();
        return w;
    }
    std::shared_ptr<ns::ManualClock> clock;
};

// Collects "who:what" lines in order.
struct Log {
    std::vector<std::string> lines;
    void add(std::string s) { lines.push_back(std::move(s)); }
    std::string joined() const {
        std::string out;
        for (auto& l : lines) out += (out.empty() ? "" : ",") + l;
        return out;
    }
    void clear() { lines.clear(); }
};

}  // namespace ui::test
