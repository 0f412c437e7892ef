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
//
// What the screen shows is safe to write to a terminal: control characters
// in any text (typed into a field, or in a label, a page, an alert) are
// shown as escapes ("\x1B", "\u009B"), never written as they are.
#pragma once

#include <string>
#include <string_view>

#include "platform/ui/Window.h"

namespace ui {

class TextScreen {
public:
    // The key window (or `window`) rendered as text; "" without a window.
    static std::string render(Window* window = nullptr);
    // One view's subtree (tests of a single screen).
    static std::string renderView(View* view);

    // `text` with every control character (C0, DEL, C1) and every byte that
    // is not part of a UTF-8 character shown as an escape: "\xHH" for a
    // byte, "\uHHHH" for a C1 character. With `keepLineBreaks`, line feeds
    // and tabs are left as they are (text laid out over lines); otherwise
    // they are escaped too (a field's one line).
    static std::string printable(std::string_view text, bool keepLineBreaks = true);
};

}  // namespace ui
