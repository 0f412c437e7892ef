// What the phone's and the tablet's new-group screens share: the list of
// every card with a tick on each chosen one, a card's title colour, and the
// checks before a group is saved.
#pragma once

#include <string>
#include <string_view>

#include "platform/foundation/Array.h"
#include "platform/foundation/Dictionary.h"
#include "platform/ui/Color.h"
#include "platform/ui/TableView.h"

namespace app {

// The title colour of a card colour name ("wine", "blue", "yellow", "purple",
// "green", "cyan"); black for any other.
ns::Ref<ui::Color> cardTitleColour(std::string_view colour);
// The row of `card`: its "title" in its colour, ticked when it is among
// `chosen` (cells reused under "Cell").
ns::Ref<ui::TableViewCell> groupCardCell(ui::TableView* t, const ns::Dictionary* card, const ns::Array* chosen);
// A tap on the row of `card`: it joins `chosen` or, when there already,
// leaves it; the row's tick follows.
void toggleGroupCard(ui::TableView* t, ui::IndexPath ip, ns::Object* card, ns::MutableArray& chosen);
// True when a group with this name and these cards may be saved; else the
// alert that says what is missing (a name first, then a card) and false.
bool groupReadyToSave(const std::string& name, const ns::Array* chosen);

}  // namespace app
