// Helpers for the tablet tests: open the hub for a deck, reach its panes,
// and build small bundles (decks, cards, pages) inside the test's folder.
#pragma once

#include "app/tests/AppTestSupport.h"

#include "app/ContentModel.h"
#include "app/tablet/MenuViewController_iPad.h"
#include "platform/foundation/PropertyList.h"
#include "platform/ui/Animation.h"
#include "testsupport/Command.h"

namespace app::test {

inline ns::Ref<ns::Dictionary> card(const std::string& index, const std::string& title, const std::string& colour,
                                    const std::string& text = "") {
    return ns::Dictionary::make({{"title", ns::String::make(title)},
                                 {"index", ns::String::make(index)},
                                 {"ActionData", ns::String::make("KORVEL_" + index + ".html")},
                                 {"color", ns::String::make(colour)},
                                 {"post", ns::String::make("korvel.example/cards/" + index)},
                                 {"text", ns::String::make(text.empty() ? title : text)}});
}

inline ns::Ref<ns::Dictionary> row(std::initializer_list<std::pair<std::string_view, ns::Ref<ns::Object>>> entries) {
    return ns::Dictionary::make(entries);
}

inline ns::Ref<ns::String> s(const std::string& text) { return ns::String::make(text); }

class TabletTest : public AppTest {
protected:
    // Starts the tablet past the splash (no sign-up overlay) and opens the
    // hub for the deck button titled `deck`.
    MenuViewController_iPad* openHub(const std::string& deck = "About you", const std::string& bundle = sampleBundle()) {
        setRegistro();
        launchApp(ui::UserInterfaceIdiom::Pad, bundle);
        driver->advance(3.0);
        EXPECT_TRUE(driver->tapButton(deck)) << driver->lastError() << "\n" << screen();
        return hub();
    }
    MenuViewController_iPad* hub() const {
        auto* w = ui::Application::shared()->keyWindow();
        auto* nav = w ? dynamic_cast<ui::NavigationController*>(w->rootViewController()) : nullptr;
        return nav ? dynamic_cast<MenuViewController_iPad*>(nav->topViewController()) : nullptr;
    }
    // The controller that presents modal screens (the hub's outermost container).
    ui::ViewController* root() const { return delegate->window()->rootViewController(); }
    ViewTableList* list() const { return hub()->myTableList(); }
    ViewDetalle* pane() const { return hub()->myViewDetalle(); }
    std::string paneTitle() const { return pane()->lblTitulo()->text(); }
    std::string shownCardTitle() const { return rowString(pane()->DicDeCarta(), "title"); }
    std::string pageHTML() const { return pane()->myWebView()->html(); }
    // The rows the list shows, by their shown (lower-cased) titles.
    std::vector<std::string> listTitles() const {
        std::vector<std::string> out;
        ui::TableView* t = list()->myTableView();
        for (long i = 0; i < t->numberOfRowsInSection(0); ++i) {
            auto cell = list()->tableViewCellForRowAtIndexPath(t, {0, i});
            out.push_back(cell->textLabel()->text());
        }
        return out;
    }
    std::vector<std::string> eventNames() const {
        std::vector<std::string> out;
        for (auto& e : analytics::Analytics::currentSession().events) out.push_back(e.name);
        return out;
    }
    const analytics::LoggedEvent* lastEvent(const std::string& name) const {
        static analytics::LoggedEvent found;
        auto events = analytics::Analytics::currentSession().events;
        for (auto it = events.rbegin(); it != events.rend(); ++it)
            if (it->name == name) { found = *it; return &found; }
        return nullptr;
    }
    ui::AlertView* topAlert() const { return dynamic_cast<ui::AlertView*>(ui::Panel::topPanel()); }
    // Window point at the centre of the card pane's page.
    ui::Point pageCenter() const { return ui::Driver::centerOf(pane()->myWebView()); }

    // A bundle in the test's folder with the given lists; every card of
    // `cards` gets a page "KORVEL_<index>.html" whose body names the card and
    // links to the cards in `links` (by index).
    std::string makeBundle(ns::Ref<ns::Array> decks, ns::Ref<ns::Array> cards,
                           ns::Ref<ns::Array> interview = nullptr, ns::Ref<ns::Dictionary> practice = nullptr,
                           ns::Ref<ns::Dictionary> info = nullptr) {
        std::string dir = home + "/bundle";
        fs::create_directories(dir + "/html_iphone");
        std::error_code ec;
        fs::create_directory_symlink(sampleBundle() + "/images", dir + "/images", ec);
        ns::writeToFile(*decks, dir + "/Jobframework.plist");
        ns::writeToFile(*cards, dir + "/allCards-Iphone.plist");
        if (interview) ns::writeToFile(*interview, dir + "/InterviewIphone.plist");
        if (practice) ns::writeToFile(*practice, dir + "/Practice.plist");
        if (info) ns::writeToFile(*info, dir + "/infoIpad.plist");
        for (ns::Object* o : *cards) {
            auto* c = ns::as<ns::Dictionary>(o);
            std::string index = rowString(c, "index");
            writeFile(dir + "/html_iphone/KORVEL_" + index + ".html",
                      "<html><body class='x'><h1>" + rowString(c, "title") + "</h1><p>page " + index +
                          "</p></body></html>");
        }
        writeFile(dir + "/html_iphone/MKTG_01_blank.html",
                  "<html><body class='practice'>**HEADER**<p>Tap to see the answer.</p></body></html>");
        writeFile(dir + "/html_iphone/VELTRA_Blanco.html", "<html><body></body></html>");
        return dir;
    }
    size_t flipsSince(size_t from, const std::string& kind) const {
        size_t n = 0;
        auto& log = ui::animationLog();
        for (size_t i = from; i < log.size(); ++i)
            if (log[i].transition == kind && log[i].duration == 0.75) ++n;
        return n;
    }

    // The "Title" (else "title") of each row of a Documents property list,
    // read by Python's plistlib as an independent reader; "ERROR" when it
    // cannot read the file.
    std::string peerTitles(const std::string& documentsFile) const {
        std::string cmd = "python3 -c \"import plistlib,sys\n"
                          "try:\n rows=plistlib.load(open(sys.argv[1],'rb'))\n"
                          " print('|'.join(r.get('Title', r.get('title','')) for r in rows))\n"
                          "except Exception:\n print('ERROR')\" '" + documents(documentsFile) + "'";
        return testsupport::chomp(testsupport::runCommand(cmd).out);
    }
    // Titles of the rows of a Documents file as the app's reader sees them.
    std::vector<std::string> titlesIn(const ns::Array* rows) const {
        std::vector<std::string> out;
        for (ns::Object* o : *rows) {
            auto t = rowTitle(ns::as<ns::Dictionary>(o));
            out.push_back(t ? std::string(t->utf8()) : "");
        }
        return out;
    }
    // Makes the Documents file impossible to replace (a folder stands in
    // its place), so the next save of it fails.
    void blockDocumentsFile(const std::string& name) {
        std::error_code ec;
        fs::remove(documents(name), ec);
        fs::create_directories(documents(name) + "/blocked");
    }
};

}  // namespace app::test
