// The phone's groups file: Documents "savedGroups-QuillonIphone.plist", an
// XML property list whose root is a list of group records, oldest first:
//     { "Name": "<group name>", "SelectedCards": [ <card row>, ... ] }
// The cards are whole copies of the deck's card rows, in the order the user
// ticked them.
//
// The file is read whole and rewritten whole (temporary file and rename).
// A file that exists but cannot be read is moved aside ("<name>.corrupt-<n>")
// and the list starts empty; when it cannot even be moved, every later save
// is refused so the file is never overwritten.
#pragma once

#include <string>

#include "platform/foundation/Array.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Error.h"

namespace app {

class SavedGroupsFile {
public:
    static constexpr const char* kFileName = "savedGroups-QuillonIphone.plist";
    static constexpr const char* kNameKey = "Name";
    static constexpr const char* kCardsKey = "SelectedCards";
    static constexpr const char* kDefaultName = "New Group";

    // Full path of the file in the current Documents folder.
    static std::string path();

    struct Loaded {
        ns::Ref<ns::MutableArray> groups;  // never nil; mutable containers
        std::string movedAsideTo;          // where an unreadable file went; "" if none
        bool blocked = false;              // unreadable and still in place: do not save
    };
    // Reads the file; a missing file gives an empty list.
    static Loaded read();
    // Writes `groups` whole and atomically. False (with *error) when the
    // file could not be written; the former file is then untouched.
    static bool write(const ns::Array& groups, ns::Ref<ns::Error>* error = nullptr);

    // A new group record. `typedName` that is empty after trimming white
    // space becomes "New Group"; `cards` is copied.
    static ns::Ref<ns::Dictionary> makeGroup(const std::string& typedName, const ns::Array& cards);
    // The record's name ("" when missing) and cards (nil when missing).
    static std::string groupName(const ns::Dictionary* group);
    static ns::Array* groupCards(const ns::Dictionary* group);
};

}  // namespace app
