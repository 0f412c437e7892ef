#include "app/ContentModel.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

#include "app/AppConfig.h"
#include "app/AppLog.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/URL.h"
#include "platform/ui/WebView.h"

namespace app {

// -- Rows ----------------------------------------------------------------------

std::string rowString(const ns::Dictionary* row, std::string_view key) {
    if (!row) return {};
    auto* s = dynamic_cast<ns::String*>(row->objectForKey(key));
    return s ? std::string(s->utf8()) : std::string();
}

bool rowHas(const ns::Dictionary* row, std::string_view key) { return row && row->objectForKey(key); }

ns::Ref<ns::String> rowTitle(const ns::Dictionary* row) {
    if (!row) return nullptr;
    if (auto* s = dynamic_cast<ns::String*>(row->objectForKey("Title"))) return ns::Ref<ns::String>(s);
    if (auto* s = dynamic_cast<ns::String*>(row->objectForKey("title"))) return ns::Ref<ns::String>(s);
    return nullptr;
}

ns::Array* rowChildren(const ns::Dictionary* row) {
    return row ? dynamic_cast<ns::Array*>(row->objectForKey("Children")) : nullptr;
}

ns::Dictionary* rowAt(const ns::Array* rows, size_t index) {
    if (!rows || index >= rows->count()) return nullptr;
    return dynamic_cast<ns::Dictionary*>(rows->objectAtIndex(index));
}

bool rowIsCard(const ns::Dictionary* row) {
    if (!row) return false;
    for (const char* other : {"Children", "ActionPractice", "Action", "email", "lleva"})
        if (rowHas(row, other)) return false;
    return !rowString(row, "index").empty() || !rowString(row, "title").empty();
}

// -- Bundle ----------------------------------------------------------------------

std::string bundlePath(std::string_view fileName) {
    return ns::Paths::join(ns::Paths::bundleResourcePath(), fileName);
}

namespace {

bool fileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

ns::Ref<ns::Object> readBundlePlist(std::string_view fileName) {
    std::string path = bundlePath(fileName);
    if (!fileExists(path)) return nullptr;  // a missing list leaves its property nil
    ns::Ref<ns::Error> error;
    auto root = ns::PropertyList::readFromFile(path, &error);
    if (!root) appLog("Bundle file " + std::string(fileName) + " cannot be read: " +
                      (error ? error->localizedDescription() : std::string("unknown error")));
    return root;
}

}  // namespace

ns::Ref<ns::Array> bundleArray(std::string_view fileName) {
    auto root = readBundlePlist(fileName);
    if (!root) return nullptr;
    auto a = ns::cast<ns::Array>(root);
    if (!a) appLog("Bundle file " + std::string(fileName) + " does not hold a list; ignored");
    return a;
}

ns::Ref<ns::Dictionary> bundleDictionary(std::string_view fileName) {
    auto root = readBundlePlist(fileName);
    if (!root) return nullptr;
    auto d = ns::cast<ns::Dictionary>(root);
    if (!d) appLog("Bundle file " + std::string(fileName) + " does not hold a dictionary; ignored");
    return d;
}

// -- Documents -------------------------------------------------------------------

std::string documentsPath(std::string_view fileName) {
    return ns::Paths::join(ns::Paths::documentsDirectory(), fileName);
}

std::string withPathsFromHome(std::string_view text) {
    std::string home = ns::Paths::homeDirectory();
    std::string out(text);
    if (home.empty() || home == "/") return out;
    const std::string prefix = home + "/";  // the home folder never ends in "/" but as "/" itself
    for (size_t at = out.find(prefix); at != std::string::npos; at = out.find(prefix, at))
        out.erase(at, prefix.size());
    return out;
}

namespace {
std::vector<std::string>& keptFiles() {
    static std::vector<std::string> files;  // main thread only
    return files;
}
}  // namespace

const std::vector<std::string>& unreadableKeptFiles() { return keptFiles(); }
void forgetUnreadableKeptFiles() { keptFiles().clear(); }

DocumentsLoad loadDocumentsArray(std::string_view fileName) {
    DocumentsLoad out;
    out.rows = ns::MutableArray::make();
    std::string path = documentsPath(fileName);
    // What saves killed in an earlier run left in Documents (this file's,
    // the other lists') goes first.
    ns::removeLeftoverTemporaryFiles(ns::Paths::documentsDirectory());
    if (!fileExists(path)) return out;
    out.existed = true;
    ns::Ref<ns::Error> error;
    ns::PropertyListReadOptions options;
    options.mutability = ns::PropertyListMutability::MutableContainers;
    auto root = ns::PropertyList::readFromFile(path, &error, options);
    std::string why;
    if (!root) {
        why = error ? error->localizedDescription() : std::string("unreadable");
    } else if (auto a = ns::cast<ns::MutableArray>(root)) {
        out.rows = a;
        return out;
    } else {
        why = std::string("its top level is ") + root->className() + ", not a list";
    }
    // Keep the unreadable file: the next save must not overwrite it.
    for (int n = 1; n < 1000; ++n) {
        std::string aside = path + ".corrupt-" + std::to_string(n);
        if (fileExists(aside)) continue;
        if (std::rename(path.c_str(), aside.c_str()) == 0) out.movedAsideTo = aside;
        break;
    }
    if (out.movedAsideTo.empty()) {
        out.blocked = true;
        std::string kept = ns::Paths::join("Documents", fileName);
        auto& list = keptFiles();
        if (std::find(list.begin(), list.end(), kept) == list.end()) list.push_back(kept);
        appLog("Documents file " + std::string(fileName) + " cannot be read (" + why +
               ") nor moved aside; it will not be overwritten");
    } else {
        appLog("Documents file " + std::string(fileName) + " cannot be read (" + why + "); kept as " +
               out.movedAsideTo);
    }
    return out;
}

bool writeDocumentsArray(const ns::Array& rows, std::string_view fileName, ns::Ref<ns::Error>* error) {
    ns::Ref<ns::Error> err;
    bool ok = ns::PropertyList::writeToFile(rows, documentsPath(fileName), true, &err);
    if (!ok) {
        appLog("Saving " + std::string(fileName) + " failed: " +
               (err ? err->localizedDescription() : std::string("unknown error")));
        if (error) *error = err;
    }
    return ok;
}

// -- Card pages ------------------------------------------------------------------

std::string cardPagePath(std::string_view pageName) {
    return ns::Paths::join(ns::Paths::join(ns::Paths::bundleResourcePath(), kCardPageFolder), pageName);
}

std::string injectFontSize(std::string_view html, long fontSize) {
    const std::string needle = "<body";
    const std::string replacement = "<body style='font-size: " + std::to_string(fontSize) + "px'";
    std::string out;
    out.reserve(html.size() + 64);
    size_t pos = 0;
    while (true) {
        size_t hit = html.find(needle, pos);
        if (hit == std::string_view::npos) break;
        out.append(html.substr(pos, hit - pos));
        out.append(replacement);
        pos = hit + needle.size();
    }
    out.append(html.substr(pos));
    return out;
}

namespace {

bool safePageName(std::string_view name) {
    return !name.empty() && name.find('/') == std::string_view::npos && name != "." && name != "..";
}

std::string readPage(std::string_view pageName, bool* ok) {
    *ok = false;
    if (!safePageName(pageName)) {
        appLog("Card page name refused: \"" + std::string(pageName) + "\"");
        return {};
    }
    auto text = ns::readFile(cardPagePath(pageName), nullptr, ui::WebView::kMaxPageBytes);
    if (!text) {
        appLog("Card page " + std::string(pageName) + " is missing");
        return {};
    }
    *ok = true;
    return *text;
}

void showPage(ui::WebView* webView, std::string_view pageName, const std::string& html, long fontSize) {
    std::string base = safePageName(pageName) ? cardPagePath(pageName) : cardPagePath("index.html");
    webView->loadHTMLString(injectFontSize(html, fontSize), ns::URL::fileURLWithPath(base));
}

}  // namespace

std::string escapeHTML(std::string_view s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '\'': out += "&#39;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

bool loadCardPage(ui::WebView* webView, std::string_view pageName, long fontSize) {
    if (!webView) return false;
    bool ok = false;
    std::string html = readPage(pageName, &ok);
    showPage(webView, pageName, html, fontSize);
    return ok;
}

bool loadPracticePage(ui::WebView* webView, const ns::Dictionary* card, long fontSize) {
    if (!webView) return false;
    bool ok = false;
    std::string html = readPage(kPracticeTemplate, &ok);
    std::string header = "<h1 class='" + escapeHTML(rowString(card, "color")) + "'>" +
                         escapeHTML(rowString(card, "title")) + "</h1>";
    size_t pos = 0;
    const std::string placeholder = "**HEADER**";
    while ((pos = html.find(placeholder, pos)) != std::string::npos) {
        html.replace(pos, placeholder.size(), header);
        pos += header.size();
    }
    showPage(webView, kPracticeTemplate, html, fontSize);
    return ok;
}

std::string cardPageNameForIndex(std::string_view index) { return "KORVEL_" + std::string(index) + ".html"; }

std::string cardPageName(const ns::Dictionary* card) {
    std::string page = rowString(card, "ActionData");
    if (!page.empty()) return page;
    return cardPageNameForIndex(rowString(card, "index"));
}

// -- Colour images -----------------------------------------------------------------

std::string headerImageName(std::string_view colour) { return "CabezaCarta-" + std::string(colour) + ".png"; }
std::string backgroundImageName(std::string_view colour) { return "FondoCarta-" + std::string(colour) + ".png"; }
std::string stripImageName(std::string_view colour) { return "FranjaCarta-" + std::string(colour) + ".png"; }

}  // namespace app
