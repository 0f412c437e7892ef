// The screen as readable text: what a person would see, top to bottom.
//
//   alerts and action sheets first (title, message, [buttons]), then the
//   key window's visible views in order: navigation bar lines
//   ("<Back | Title | [Right]"), labels, buttons as [Title], text fields as
//   "Placeholder: text____", tables with section headers and one line per
//   visible row ("> text - detail"), web pages as readable text, and the
//   tab bar ("Tabs: Deck index* | Tactics | ..." with * on the selected).
//
// Hidden, fully transparent and collapsed views are left out. Used by the
// simulator and printed by tests when they fail.
#pragma once

#include <string>

#include "platform/ui/Window.h"

namespace ui {

class TextScreen {
public:
    // The key window (or `window`) rendered as text; "" without a window.
    static std::string render(Window* window = nullptr);
    // One view's subtree (tests of a single screen).
    static std::string renderView(View* view);
};

}  // namespace ui
