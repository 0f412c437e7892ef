// The app's localisation table. Texts are looked up with the English text
// as key in the bundle's "Localizable.plist" (a dictionary of strings); a
// text without an entry, or without a table, is used unchanged.
#pragma once

#include <string>

namespace app {

std::string localizedString(const std::string& english);

}  // namespace app
