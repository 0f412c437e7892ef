// What the phone's and the tablet's search screens share: the cards whose
// text holds the phrase, and the look of a result row.
#pragma once

#include <string>

#include "platform/foundation/Array.h"
#include "platform/foundation/Dictionary.h"
#include "platform/ui/TableView.h"

namespace app {

// The cards of `cards` whose "text" contains `phrase` ignoring case, in
// order. An empty phrase (or no cards) matches nothing.
ns::Ref<ns::Array> cardsWithText(const ns::Array* cards, const std::string& phrase);
// The colour name of a result: its "color", else "silver".
std::string searchResultColour(const ns::Dictionary* card);
// The row of a result: its "title" over the strip of its colour, black text
// on silver and white on the others (cells reused under "SearchCell").
ns::Ref<ui::TableViewCell> searchResultCell(ui::TableView* t, const ns::Dictionary* card);

}  // namespace app
