// The content model: bundle lists that are missing, truncated or of the
// wrong shape; Documents files that cannot be read (kept aside, never
// overwritten); failed saves; card pages and the practice page.
#include "app/tests/AppTestSupport.h"

#include <sys/stat.h>

#include <set>

#include "app/ContentModel.h"
#include "app/RatePromptManager.h"
#include "app/phone/UITabBarController_iPhone.h"
#include "platform/ui/WebView.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/Command.h"

namespace app::test {

class ContentTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        bundle = home + "-bundle";
        fs::create_directories(bundle + "/html_iphone");
    }
    void TearDown() override {
        AppTest::TearDown();
        std::error_code ec;
        fs::remove_all(bundle, ec);
    }
    void copyFromSample(const std::string& name) {
        fs::copy(sampleBundle() + "/" + name, bundle + "/" + name, fs::copy_options::recursive);
    }
    std::string bundle;
};

TEST_F(ContentTest, BadBundleListsLeaveTheirPropertiesNilAndTheAppRuns) {
    std::string deck = readFile(sampleBundle() + "/Jobframework.plist");
    writeFile(bundle + "/Jobframework.plist", deck.substr(0, deck.size() / 2));             // truncated
    writeFile(bundle + "/allCards-Iphone.plist", readFile(sampleBundle() + "/shareIphone.plist"));  // a dictionary
    writeFile(bundle + "/shareIphone.plist", readFile(sampleBundle() + "/more.plist"));     // an array
    writeFile(bundle + "/infoIphone.plist", "");                                          // empty
    // InterviewIphone.plist and more.plist are missing.
    setRegistro();
    launchApp(ui::UserInterfaceIdiom::Phone, bundle);
    EXPECT_FALSE(delegate->ArrayDeck());
    EXPECT_FALSE(delegate->allCards());
    EXPECT_FALSE(delegate->Interview());
    EXPECT_FALSE(delegate->ShareDic());
    EXPECT_FALSE(delegate->infor());
    bool reported = false;
    for (auto& l : appLogLines())
        if (l.find("Jobframework.plist cannot be read") != std::string::npos) reported = true;
    EXPECT_TRUE(reported);
    driver->advance(4.0);
    EXPECT_TRUE(screenHas("Tabs: Deck index* | Tactics | Practice | Search | More")) << screen();
    EXPECT_TRUE(driver->tapTab("More"));
    EXPECT_TRUE(driver->tapTab("Tactics"));
    // The tablet too.
    launchApp(ui::UserInterfaceIdiom::Pad, bundle);
    driver->advance(3.0);
    auto* nav = dynamic_cast<ui::NavigationController*>(delegate->window()->rootViewController());
    ASSERT_TRUE(nav);
    ASSERT_TRUE(nav->topViewController());
    EXPECT_STREQ(nav->topViewController()->className(), "HomeViewController");
}

TEST_F(ContentTest, UnreadableDocumentsFilesAreKeptAsideAndNeverOverwritten) {
    std::string truncated = "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><dict><key>title</key>";
    writeFile(documents("Favorites-VeltraIpad.plist"), truncated);
    auto dict = ns::Dictionary::make({{"Title", ns::str("not a list")}});
    ASSERT_TRUE(ns::PropertyList::writeToFile(*dict, documents("Grupos-VeltraIpad.plist")));
    std::string groupsBytes = readFile(documents("Grupos-VeltraIpad.plist"));
    writeFile(documents("Favorites-VeltraIpad.plist.corrupt-1"), "an older one");
    // A save killed in the previous run left its temporary file.
    std::string leftover = documents(".Favorites-VeltraIpad.plist.tmp." + std::to_string(testsupport::endedProcessId()) +
                                     ".0.00c0ffee");
    writeFile(leftover, truncated);

    launchTablet();
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_EQ(delegate->allFavorites()->count(), 0u);
    EXPECT_EQ(delegate->allGroups()->count(), 0u);
    EXPECT_EQ(delegate->favoritesMovedAsideTo(), documents("Favorites-VeltraIpad.plist.corrupt-2"));
    EXPECT_EQ(delegate->groupsMovedAsideTo(), documents("Grupos-VeltraIpad.plist.corrupt-1"));
    EXPECT_EQ(readFile(documents("Favorites-VeltraIpad.plist.corrupt-2")), truncated);
    EXPECT_EQ(readFile(documents("Favorites-VeltraIpad.plist.corrupt-1")), "an older one");
    EXPECT_EQ(readFile(documents("Grupos-VeltraIpad.plist.corrupt-1")), groupsBytes);

    ASSERT_TRUE(delegate->addFavorite(ns::Dictionary::make({{"title", ns::str("Kept")}})));
    EXPECT_EQ(readFile(documents("Favorites-VeltraIpad.plist.corrupt-2")), truncated);
    launchTablet();
    ASSERT_EQ(delegate->allFavorites()->count(), 1u);
    EXPECT_TRUE(delegate->favoritesMovedAsideTo().empty());
}

TEST_F(ContentTest, SetAsideNamesRunOutAtNineHundredNinetyNineAndTheFileIsThenKeptInPlace) {
    const std::string truncated = "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><dict>";
    const std::string file = documents("Favorites-VeltraIpad.plist");
    struct Row { int taken; bool blocked; };
    for (Row r : {Row{998, false}, Row{999, true}}) {
        SCOPED_TRACE(std::to_string(r.taken) + " set-aside names taken");
        fs::remove_all(home + "/Documents");
        writeFile(file, truncated);
        for (int n = 1; n <= r.taken; ++n) writeFile(file + ".corrupt-" + std::to_string(n), "older");
        clearAppLog();
        launchTablet();
        EXPECT_EQ(delegate->allFavorites()->count(), 0u);
        ns::Ref<ns::Error> error;
        bool saved = delegate->addFavorite(ns::Dictionary::make({{"title", ns::str("New")}}), &error);
        EXPECT_FALSE(fs::exists(file + ".corrupt-1000"));
        if (!r.blocked) {
            EXPECT_EQ(delegate->favoritesMovedAsideTo(), file + ".corrupt-999");
            EXPECT_EQ(readFile(file + ".corrupt-999"), truncated);
            EXPECT_TRUE(unreadableKeptFiles().empty());
            EXPECT_TRUE(saved);
            continue;
        }
        // Nowhere to put it: it stays where it is, and no save replaces it.
        EXPECT_TRUE(delegate->favoritesMovedAsideTo().empty());
        EXPECT_EQ(unreadableKeptFiles(), std::vector<std::string>{"Documents/Favorites-VeltraIpad.plist"});
        EXPECT_FALSE(saved);
        ASSERT_TRUE(error);
        EXPECT_EQ(delegate->allFavorites()->count(), 0u);
        EXPECT_EQ(readFile(file), truncated);
        bool logged = false;
        for (auto& l : appLogLines()) logged |= l.find("nor moved aside; it will not be overwritten") != std::string::npos;
        EXPECT_TRUE(logged);
    }
}

TEST_F(ContentTest, AFailedSaveIsReportedAndUndone) {
    launchTablet();
    ASSERT_TRUE(delegate->addFavorite(ns::Dictionary::make({{"title", ns::str("One")}})));
    ASSERT_TRUE(delegate->addFavorite(ns::Dictionary::make({{"title", ns::str("Two")}})));
    ASSERT_TRUE(delegate->addFavorite(ns::Dictionary::make({{"title", ns::str("Three")}})));
    ASSERT_TRUE(delegate->addGroup(ns::Dictionary::make({{"Title", ns::str("G1")}})));
    ASSERT_TRUE(delegate->addGroup(ns::Dictionary::make({{"Title", ns::str("G2")}})));
    auto titles = [](ns::Array* rows) {
        std::string out;
        for (size_t i = 0; rows && i < rows->count(); ++i) {
            auto* row = ns::as<ns::Dictionary>(rows->objectAtIndex(i));
            out += (out.empty() ? "" : "|") + (row && rowTitle(row) ? ns::describe(rowTitle(row)) : "?");
        }
        return out;
    };
    std::string saved = readFile(documents("Favorites-VeltraIpad.plist"));
    // The Documents folder becomes unwritable: a file stands where it was.
    fs::rename(home + "/Documents", home + "/Documents-away");
    writeFile(home + "/Documents", "");
    ns::Ref<ns::Error> error;
    EXPECT_FALSE(delegate->addFavorite(ns::Dictionary::make({{"title", ns::str("Two")}}), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(titles(delegate->allFavorites()), "One|Two|Three");  // memory agrees with the file
    // A row whose removal was not saved is put back in its place.
    EXPECT_FALSE(delegate->removeFavoriteAtIndex(1));
    EXPECT_EQ(titles(delegate->allFavorites()), "One|Two|Three");
    EXPECT_FALSE(delegate->removeFavoriteAtIndex(0));
    EXPECT_EQ(titles(delegate->allFavorites()), "One|Two|Three");
    EXPECT_FALSE(delegate->addGroup(ns::Dictionary::make({{"Title", ns::str("G")}})));
    EXPECT_FALSE(delegate->removeGroupAtIndex(0));
    EXPECT_EQ(titles(delegate->allGroups()), "G1|G2");
    fs::remove(home + "/Documents");
    fs::rename(home + "/Documents-away", home + "/Documents");
    EXPECT_EQ(readFile(documents("Favorites-VeltraIpad.plist")), saved);
}

TEST_F(ContentTest, SavedFilesAreReadableByAnotherPropertyListReader) {
    launchTablet();
    // Every character XML reserves, a CDATA end and text outside ASCII.
    const std::string title = "Caf\u00e9 & <tags> \"q\" 'a' ]]> &amp;";
    auto card = ns::Dictionary::make({{"title", ns::String::make(title)}, {"Editable", ns::str("YES")}});
    ASSERT_TRUE(delegate->addFavorite(card));
    std::string cmd = "python3 -c \"import plistlib,sys; d=plistlib.load(open(sys.argv[1],'rb')); "
                      "print(len(d), d[0]['title'], d[0]['Editable'])\" " +
                      documents("Favorites-VeltraIpad.plist");
    EXPECT_EQ(testsupport::runCommand(cmd).out, "1 " + title + " YES\n");
    // Read back by the app: the same title, typed anew, is already there; a
    // title that differs only in a reserved character is not.
    launchTablet();
    ASSERT_EQ(delegate->allFavorites()->count(), 1u);
    EXPECT_TRUE(delegate->ExistingCard(ns::String::make(title).get()));
    EXPECT_FALSE(delegate->ExistingCard(ns::String::make("Caf\u00e9 &amp; <tags> \"q\" 'a' ]]> &amp;").get()));
    EXPECT_FALSE(delegate->ExistingCard(ns::String::make("Caf\u00e9 & <tags> \"q\" 'a' ]]> &").get()));
}

TEST_F(ContentTest, TheLogKeepsAThousandLinesAndThenDropsTheOldestHundred) {
    clearAppLog();
    for (int i = 0; i < 1000; ++i) appLog("line " + std::to_string(i));
    ASSERT_EQ(appLogLines().size(), 1000u);
    EXPECT_EQ(appLogLines().front(), "line 0");
    appLog("line 1000");
    ASSERT_EQ(appLogLines().size(), 901u);
    EXPECT_EQ(appLogLines().front(), "line 100");
    EXPECT_EQ(appLogLines().back(), "line 1000");
}

TEST_F(ContentTest, CardPagesGetTheFontSizeInEveryBodyTag) {
    EXPECT_EQ(injectFontSize("<body class='a'>x</body><body>", 13),
              "<body style='font-size: 13px' class='a'>x</body><body style='font-size: 13px'>");
    EXPECT_EQ(injectFontSize("no body here", 20), "no body here");
    writeFile(bundle + "/html_iphone/KORVEL_7.html", "<html><body><p>Seven</p></body></html>");
    ns::Paths::setBundleResourcePath(bundle);
    auto web = ui::WebView::make(ui::makeRect(0, 0, 320, 400));
    EXPECT_TRUE(loadCardPage(web.get(), "KORVEL_7.html", 21));
    EXPECT_NE(web->html().find("<body style='font-size: 21px'>"), std::string::npos);
    ASSERT_TRUE(web->baseURL());
    EXPECT_EQ(ns::describe(web->baseURL()->path()), bundle + "/html_iphone/KORVEL_7.html");
    // Missing and unsafe names give an empty page.
    EXPECT_FALSE(loadCardPage(web.get(), "KORVEL_99.html", 13));
    EXPECT_EQ(web->pageText(), "");
    // A name with a folder part is refused even where the file it names exists.
    writeFile(bundle + "/outside.html", "<html><body>outside</body></html>");
    for (const char* name : {"../outside.html", "sub/../../outside.html", ".", "..", ""}) {
        EXPECT_FALSE(loadCardPage(web.get(), name, 13)) << name;
        EXPECT_EQ(web->pageText(), "") << name;
    }
    auto card = ns::Dictionary::make({{"index", ns::str("7")}});
    EXPECT_EQ(cardPageName(card.get()), "KORVEL_7.html");
}

TEST_F(ContentTest, PracticePageFillsTheHeader) {
    writeFile(bundle + "/html_iphone/MKTG_01_blank.html", "<html><body>**HEADER**<p>Tap</p></body></html>");
    ns::Paths::setBundleResourcePath(bundle);
    auto web = ui::WebView::make(ui::makeRect(0, 0, 320, 400));
    auto card = ns::Dictionary::make({{"title", ns::str("A <b> title")}, {"color", ns::str("wine")}});
    EXPECT_TRUE(loadPracticePage(web.get(), card.get(), 14));
    EXPECT_EQ(web->html(),
              "<html><body style='font-size: 14px'><h1 class='wine'>A &lt;b&gt; title</h1><p>Tap</p></body></html>");
    EXPECT_EQ(headerImageName("wine"), "CabezaCarta-wine.png");
    EXPECT_EQ(backgroundImageName("wine"), "FondoCarta-wine.png");
    EXPECT_EQ(stripImageName("wine"), "FranjaCarta-wine.png");
}

TEST_F(ContentTest, SampleDeckHasEveryBundleFile) {
    ns::Paths::setBundleResourcePath(sampleBundle());
    auto decks = bundleArray("Jobframework.plist");
    ASSERT_TRUE(decks);
    size_t deckCount = 0;
    for (ns::Object* o : *decks)
        if (rowChildren(ns::as<ns::Dictionary>(o))) ++deckCount;
    EXPECT_GE(deckCount, 5u);
    auto cards = bundleArray("allCards-Iphone.plist");
    ASSERT_TRUE(cards);
    EXPECT_GE(cards->count(), 40u);
    std::set<std::string> indexes;
    for (ns::Object* o : *cards) indexes.insert(rowString(ns::as<ns::Dictionary>(o), "index"));
    for (ns::Object* o : *cards) {
        auto* card = ns::as<ns::Dictionary>(o);
        ASSERT_TRUE(card);
        for (const char* key : {"title", "index", "ActionData", "color", "post", "text"})
            EXPECT_FALSE(rowString(card, key).empty()) << key;
        EXPECT_TRUE(rowIsCard(card)) << rowString(card, "title");
        EXPECT_TRUE(fs::exists(cardPagePath(rowString(card, "ActionData"))));
        // Every link of a card page is one the phone's card page handles: a
        // card by its index, or a URL with a scheme (mail, the store's review
        // page, the web). A bare name would become a file URL handed to the
        // system.
        for (const auto& link : ui::htmlLinks(readFile(cardPagePath(rowString(card, "ActionData"))))) {
            EXPECT_TRUE(indexes.count(link.href) || link.href.find(':') != std::string::npos)
                << rowString(card, "ActionData") << ": " << link.href;
            if (link.text == "Rate this app") {
                EXPECT_EQ(link.href, RatePromptManager::ratePageURL());
            }
        }
        for (auto name : {headerImageName(rowString(card, "color")), backgroundImageName(rowString(card, "color")),
                          stripImageName(rowString(card, "color"))})
            EXPECT_TRUE(fs::exists(sampleBundle() + "/images/" + name)) << name;
    }
    EXPECT_TRUE(bundleArray("InterviewIphone.plist"));
    EXPECT_TRUE(bundleDictionary("shareIphone.plist"));
    EXPECT_TRUE(bundleDictionary("infoIphone.plist"));
    EXPECT_TRUE(bundleArray("FollowUS.plist"));
    EXPECT_TRUE(bundleArray("more.plist"));
    auto info = bundleDictionary("infoIpad.plist");
    ASSERT_TRUE(info && rowChildren(info.get()));
    EXPECT_GE(rowChildren(info.get())->count(), 3u);
    for (ns::Object* o : *rowChildren(info.get())) EXPECT_FALSE(rowIsCard(ns::as<ns::Dictionary>(o)));
    auto practice = bundleDictionary("Practice.plist");
    ASSERT_TRUE(practice && rowChildren(practice.get()));
    std::string tmpl = readFile(cardPagePath("MKTG_01_blank.html"));
    EXPECT_NE(tmpl.find("**HEADER**"), std::string::npos);
    std::string page = readFile(cardPagePath("KORVEL_1.html"));
    EXPECT_EQ(page.find("href=\"rateApp\""), std::string::npos);
    EXPECT_NE(page.find("href=\"mailto:cards@korvel.example\""), std::string::npos);
    EXPECT_NE(page.find("href=\"2\""), std::string::npos);  // a card link
    EXPECT_NE(page.find("href=\"http://"), std::string::npos);
    EXPECT_TRUE(fs::exists(cardPagePath("VELTRA_Blanco.html")));
}

TEST_F(ContentTest, ACardIsARowNamedAsCardsAreThatATapDoesNothingElseWith) {
    auto with = [](std::initializer_list<std::pair<std::string_view, ns::Ref<ns::Object>>> entries) {
        return ns::Dictionary::make(entries);
    };
    struct Row {
        const char* name;
        ns::Ref<ns::Dictionary> row;
        bool card;
    } rows[] = {
        {"a card", with({{"title", ns::str("Body language")}, {"index", ns::str("41")}}), true},
        {"a card with its index only", with({{"index", ns::str("9")}}), true},
        {"a card with its title only", with({{"title", ns::str("Nine")}}), true},
        {"an information page", with({{"Title", ns::str("About this deck")}, {"ActionData", ns::str("KORVEL_info.html")}}),
         false},
        {"the add-group row", with({{"Title", ns::str("Add new group")}, {"ActionPractice", ns::str("CrearGrupo")},
                                    {"title", ns::str("x")}}),
         false},
        {"a group", with({{"Title", ns::str("G")}, {"index", ns::str("1")}, {"Children", ns::Array::make()}}), false},
        {"a form row", with({{"title", ns::str("Tell a friend")}, {"Action", ns::str("referral:")}}), false},
        {"a mail row", with({{"title", ns::str("Write to us")}, {"email", ns::Dictionary::make()}}), false},
        {"a heading", with({{"title", ns::str("Tactics")}, {"lleva", ns::str("YES")}}), false},
        {"an empty index and title", with({{"index", ns::str("")}, {"title", ns::str("")}}), false},
        {"nothing", nullptr, false},
    };
    for (const Row& r : rows) EXPECT_EQ(rowIsCard(r.row.get()), r.card) << r.name;
}

TEST_F(ContentTest, PathsInTheHomeFolderAreWrittenFromIt) {
    const std::string h = ns::Paths::homeDirectory();
    struct Row {
        const char* name;
        std::string text, shown;
    } rows[] = {
        {"a file of Documents", "Cannot write " + h + "/Documents/a.plist: No space left on device",
         "Cannot write Documents/a.plist: No space left on device"},
        {"twice", h + "/Documents/a " + h + "/Library/b", "Documents/a Library/b"},
        {"a folder beside the home", "Cannot write " + h + "x/Documents/a", "Cannot write " + h + "x/Documents/a"},
        {"no path", "unknown error", "unknown error"},
    };
    for (const Row& r : rows) EXPECT_EQ(withPathsFromHome(r.text), r.shown) << r.name;
    ns::Paths::setHomeDirectory("/");
    EXPECT_EQ(withPathsFromHome("/Documents/a /b"), "/Documents/a /b");
    ns::Paths::setHomeDirectory(h);
}

}  // namespace app::test
