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
#include "platform/ui/Window.h"

namespace testsupport {

class UITest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // A key, visible window the size of the screen.
    ns::Ref<ui::Window> makeWindow();

    ns::Ref<ns::ManualClock> clock;
};

// Collects "who:what" lines in order.
struct Log {
    std::vector<std::string> lines;
    void add(std::string s) { lines.push_back(std::move(s)); }
    // The lines joined with commas.
    std::string joined() const;
    void clear() { lines.clear(); }
};

}  // namespace testsupport
