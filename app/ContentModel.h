// The content model: row dictionaries read from the bundle's property lists,
// the two Documents files, card pages with their font size, the practice
// page, and the colour image names.
//
// Reading never trusts a file: a missing, truncated or wrongly shaped
// property list gives nil (bundle) or an empty list (Documents) and a log
// line saying why. A Documents file that exists but cannot be read is moved
// aside ("<name>.corrupt-<n>") so the next save cannot overwrite it.
#pragma once

#include <string>
#include <vector>
#include <string_view>

#include "platform/foundation/Array.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/String.h"

namespace ui {
class WebView;
}

namespace app {

// -- Row dictionaries --------------------------------------------------------
// The text under `key` when it is a string; "" otherwise.
std::string rowString(const ns::Dictionary* row, std::string_view key);
// Whether the row has any value under `key`.
bool rowHas(const ns::Dictionary* row, std::string_view key);
// "Title" when present, else "title"; nil when the row has neither (or they
// are not strings).
ns::Ref<ns::String> rowTitle(const ns::Dictionary* row);
// The row's "Children" array, or nil.
ns::Array* rowChildren(const ns::Dictionary* row);
// The dictionary at `index` of `rows`, or nil (out of range, not a dictionary).
ns::Dictionary* rowAt(const ns::Array* rows, size_t index);
// Whether the row is a card: named as cards are (an "index", or a card's
// "title") and none of the rows a tap does something else with: a menu,
// deck or group ("Children"), the add-group and practice rows
// ("ActionPractice"), a form row ("Action"), a mail row ("email"), a
// heading ("lleva"). An information page ("Title" and its page) is not one.
bool rowIsCard(const ns::Dictionary* row);

// -- Bundle property lists ---------------------------------------------------
// The bundle file `fileName` (full name, e.g. "Jobframework.plist") when its
// top level is an array / a dictionary; nil otherwise, with a log line for a
// file that exists but cannot be used.
ns::Ref<ns::Array> bundleArray(std::string_view fileName);
ns::Ref<ns::Dictionary> bundleDictionary(std::string_view fileName);
std::string bundlePath(std::string_view fileName);

// -- Documents files -----------------------------------------------------------
std::string documentsPath(std::string_view fileName);
// `text` (an error's description, say) with the paths inside the home
// folder written from it, as a person knows them: "Documents/x.plist", not
// the machine's absolute path.
std::string withPathsFromHome(std::string_view text);

struct DocumentsLoad {
    ns::Ref<ns::MutableArray> rows;  // never nil: empty when nothing could be read
    bool existed = false;            // a file was there
    std::string movedAsideTo;        // where an unreadable file was put; "" if none
    bool blocked = false;            // unreadable and could not be moved aside
};
// Reads the Documents file `fileName` as a mutable array of rows (mutable
// containers). Missing: empty. Unreadable or not an array: moved aside and
// empty; when it cannot be moved, `blocked` is set and saves must refuse to
// write over it.
DocumentsLoad loadDocumentsArray(std::string_view fileName);
// The Documents files (paths relative to the home folder, "Documents/x")
// found unreadable that could not be moved aside either: they stay where
// they are and nothing is saved over them. Each once, in the order found;
// a launch starts the list anew (forgetUnreadableKeptFiles).
const std::vector<std::string>& unreadableKeptFiles();
void forgetUnreadableKeptFiles();
// Writes `rows` whole and atomically to the Documents file. False (with
// *error) when it could not be written; the file is then unchanged.
bool writeDocumentsArray(const ns::Array& rows, std::string_view fileName, ns::Ref<ns::Error>* error = nullptr);

// -- Card pages ------------------------------------------------------------------
// bundle/html_iphone/<page>.
std::string cardPagePath(std::string_view pageName);
// Every "<body" becomes "<body style='font-size: Npx'".
std::string injectFontSize(std::string_view html, long fontSize);
// The text with HTML's reserved characters (& < > " ') written as character
// references, for text and attribute values alike.
std::string escapeHTML(std::string_view text);
// Reads the page as UTF-8 (empty text when missing), injects the font size
// and loads it into `webView` with the page file's URL as base URL. Returns
// false when the page could not be read (the web view then shows an empty
// page). Page names with a folder part ("..", "/") are refused.
bool loadCardPage(ui::WebView* webView, std::string_view pageName, long fontSize);
// The practice page: the template with "**HEADER**" replaced by
// "<h1 class='COLOR'>TITLE</h1>" for `card`, then loaded like a card page.
bool loadPracticePage(ui::WebView* webView, const ns::Dictionary* card, long fontSize);
// A card's page name: its "ActionData", else "KORVEL_<index>.html".
std::string cardPageName(const ns::Dictionary* card);
std::string cardPageNameForIndex(std::string_view index);

// -- Colour images ----------------------------------------------------------------
std::string headerImageName(std::string_view colour);      // "CabezaCarta-%@.png"
std::string backgroundImageName(std::string_view colour);  // "FondoCarta-%@.png"
std::string stripImageName(std::string_view colour);       // "FranjaCarta-%@.png"

}  // namespace app
