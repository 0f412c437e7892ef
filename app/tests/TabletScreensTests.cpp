// The tablet's full-screen card, search screen, group editor and web page
// screen, driven from the hub.
#include "app/tests/TabletTestSupport.h"

#include "app/AppConfig.h"
#include "app/tablet/NewGroupViewControllerIpad.h"
#include "app/tablet/TabletNotifications.h"
#include "app/tablet/UIViewCardFull.h"
#include "app/tablet/search_ipadViewController.h"
#include "app/tablet/webViewController_ipad.h"

namespace app::test {

class TabletScreensTest : public TabletTest {
protected:
    UIViewCardFull* fullCard() const {
        for (auto& v : hub()->view()->subviews())
            if (auto* f = dynamic_cast<UIViewCardFull*>(v.get())) return f;
        return nullptr;
    }
    search_ipadViewController* search() const {
        return dynamic_cast<search_ipadViewController*>(root()->presentedViewController());
    }
    NewGroupViewControllerIpad* editor() const {
        return dynamic_cast<NewGroupViewControllerIpad*>(root()->presentedViewController());
    }
    // Opens the group editor from the practice list's groups row.
    NewGroupViewControllerIpad* openEditor() {
        EXPECT_TRUE(driver->tapButton("Practice"));
        EXPECT_TRUE(driver->tapRow("groups")) << driver->lastError();
        EXPECT_TRUE(driver->tapRow("add new group (swipe to delete)")) << driver->lastError();
        return editor();
    }
    void tick(const std::string& title) { ASSERT_TRUE(driver->tapRow(title)) << driver->lastError() << screen(); }
    std::vector<std::string> groupCards(size_t group) const {
        auto* g = rowAt(delegate->allGroups(), group);
        return g ? titlesIn(rowChildren(g)) : std::vector<std::string>{};
    }
};

// -- Full-screen card ------------------------------------------------------------------

TEST_F(TabletScreensTest, FullCardZoomsInShowsTheIndexPageAndTakesTheTouches) {
    auto odd = card("5", "Five", "purple")->mutableCopy();
    odd->setObject(s("KORVEL_6.html"), "ActionData");
    auto decks = ns::Array::make({row({{"Title", s("Deck")}, {"Children", ns::Array::make({odd})}})});
    ASSERT_TRUE(openHub("Deck", makeBundle(decks, ns::Array::make({card("5", "Five", "purple"), card("6", "Six", "blue")}))));
    size_t mark = ui::animationLog().size();
    ASSERT_TRUE(driver->tapButton("Full card"));
    UIViewCardFull* full = fullCard();
    ASSERT_TRUE(full);
    EXPECT_EQ(full->frame(), hub()->view()->bounds());
    EXPECT_EQ(full->autoresizingMask(), 63u);
    EXPECT_EQ(imageName(full->imgFondo()), "fondoTransparencia.png");
    EXPECT_EQ(full->imgFondo()->alpha(), 1.0);
    EXPECT_TRUE(full->viewContenido()->transform().isIdentity());
    EXPECT_EQ(full->viewContenido()->center().x, full->bounds().size.width / 2);
    ASSERT_GT(ui::animationLog().size(), mark);
    EXPECT_EQ(ui::animationLog()[mark].duration, 0.5);

    CardFullViewController_iPad* c = full->cardController();
    EXPECT_EQ(shownPageName(c->webView()), "KORVEL_5.html");
    EXPECT_NE(c->webView()->html().find("<body style='font-size: 13px'"), std::string::npos);
    EXPECT_EQ(imageName(c->imgheader()), "CabezaCarta-purple.png");
    EXPECT_EQ(imageName(c->imgfondo()), "FondoCarta-purple.png");
    EXPECT_EQ(delegate->window()->child(), c);
    EXPECT_FALSE(delegate->window()->blockSuperEvent());
    EXPECT_FALSE(driver->tapButton("Favorites"));  // the full card covers the hub

    // A pinch now reaches the full card, not the pane.
    driver->pinch(ui::Driver::centerOf(c->webView()), 100, 200, 5);
    EXPECT_EQ(pane()->savedFont(), 13);
}

TEST_F(TabletScreensTest, FullCardClosesOverHalfASecondAndHandsTouchesBack) {
    ASSERT_TRUE(openHub());
    ASSERT_TRUE(driver->tapButton("Full card"));
    ASSERT_TRUE(fullCard());
    driver->advance(0.5);
    ASSERT_TRUE(driver->tapButton("Close"));
    UIViewCardFull* full = fullCard();
    ASSERT_TRUE(full);
    EXPECT_EQ(full->imgFondo()->alpha(), 0.0);
    EXPECT_EQ(full->viewContenido()->alpha(), 0.0);
    EXPECT_FALSE(full->viewContenido()->transform().isIdentity());
    EXPECT_EQ(delegate->window()->child(), pane()->myWebView());
    driver->advance(0.49);
    EXPECT_TRUE(fullCard());
    driver->advance(0.01);
    EXPECT_FALSE(fullCard());
    // The pane's pinch works again.
    driver->pinch(pageCenter(), 100, 160, 3);
    EXPECT_EQ(pane()->savedFont(), 16);
    EXPECT_TRUE(driver->tapButton("Favorites"));
}

TEST_F(TabletScreensTest, FullCardFitsTheScreenInLandscapeAndItsCloseButtonCloses) {
    ASSERT_TRUE(openHub());
    auto onScreen = [&](ui::View* v) {
        ui::Rect r = v->convertRectToView(v->bounds(), nullptr);
        ui::Rect screen = delegate->window()->bounds();
        return r.minX() >= screen.minX() && r.maxX() <= screen.maxX() && r.minY() >= screen.minY() &&
               r.maxY() <= screen.maxY();
    };
    // Opened while the tablet lies on its side.
    driver->rotate(ui::DeviceOrientation::LandscapeLeft);
    ASSERT_GT(delegate->window()->bounds().width(), delegate->window()->bounds().height());
    ASSERT_TRUE(driver->tapButton("Full card"));
    driver->advance(0.5);
    UIViewCardFull* full = fullCard();
    ASSERT_TRUE(full);
    ui::View* content = full->viewContenido();
    EXPECT_GT(content->frame().width(), content->frame().height());  // laid out for landscape
    EXPECT_TRUE(onScreen(content)) << ui::toString(content->convertRectToView(content->bounds(), nullptr));
    EXPECT_TRUE(onScreen(full->cardController()->closeButton()));
    EXPECT_TRUE(onScreen(full->cardController()->webView()));
    ASSERT_TRUE(driver->tapButton("Close")) << driver->lastError();
    driver->advance(0.5);
    EXPECT_FALSE(fullCard());

    // Opened upright and then turned: still whole on the screen.
    driver->rotate(ui::DeviceOrientation::Portrait);
    ASSERT_TRUE(driver->tapButton("Full card"));
    driver->advance(0.5);
    driver->rotate(ui::DeviceOrientation::LandscapeRight);
    ASSERT_TRUE(fullCard());
    EXPECT_TRUE(onScreen(fullCard()->viewContenido()));
    EXPECT_TRUE(onScreen(fullCard()->cardController()->closeButton()));
    ASSERT_TRUE(driver->tapButton("Close")) << driver->lastError();
    driver->advance(0.5);
    EXPECT_FALSE(fullCard());
}

// -- Search -------------------------------------------------------------------------------

TEST_F(TabletScreensTest, SearchFindsCardTextsWithoutRegardToCase) {
    ASSERT_TRUE(openHub());
    ASSERT_TRUE(driver->tapButton("Search"));
    ASSERT_TRUE(search());
    EXPECT_EQ(search()->title(), "Search");
    EXPECT_TRUE(search()->searchBar()->showsCancelButton());
    EXPECT_TRUE(search()->searchBar()->isFirstResponder());
    ASSERT_TRUE(driver->typeText("Search", "SITUATION")) << driver->lastError();
    search()->searchBarSearchButtonClicked(search()->searchBar());
    EXPECT_EQ(search()->searchResults()->count(), 0u);  // runs on the next turn of the loop
    driver->settle();
    ASSERT_GT(search()->searchResults()->count(), 0u);
    EXPECT_FALSE(search()->searchBar()->isFirstResponder());
    std::vector<std::string> expected;
    for (ns::Object* o : *delegate->allCards()) {
        auto* c = ns::as<ns::Dictionary>(o);
        if (rowString(c, "text").find("ituation") != std::string::npos) expected.push_back(rowString(c, "title"));
    }
    std::vector<std::string> found;
    for (ns::Object* o : *search()->searchResults()) found.push_back(rowString(ns::as<ns::Dictionary>(o), "title"));
    EXPECT_EQ(found, expected);
    EXPECT_EQ(found.front(), "A conflict at work");

    ui::TableView* t = search()->tableView();
    auto cell = search()->tableViewCellForRowAtIndexPath(t, {0, 0});
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->reuseIdentifier(), "SearchCell");
    EXPECT_EQ(cell->textLabel()->text(), "A conflict at work");
    EXPECT_EQ(cell->textLabel()->textColor()->shortName(), "white");
    ASSERT_TRUE(cell->textLabel()->font());
    EXPECT_EQ(cell->textLabel()->font()->pointSize(), 16);
    EXPECT_EQ(imageName(cell->backgroundView().get()), "FranjaCarta-green.png");
    ASSERT_TRUE(cell->textLabel()->backgroundColor());
    EXPECT_EQ(cell->textLabel()->backgroundColor()->shortName(), "clear");  // the strip shows through
    EXPECT_EQ(search()->tableViewHeightForRowAtIndexPath(t, {0, 0}), 55);

    // Scrolled to the end of a long result list, a new search shows its
    // results from the first row.
    ASSERT_TRUE(driver->clearText("Search"));
    ASSERT_TRUE(driver->typeText("Search", "a"));
    ASSERT_TRUE(driver->pressSearch());
    const long many = t->numberOfRowsInSection(0);
    ASSERT_GT(many * 55.0, t->bounds().height());
    t->scrollToRowAtIndexPath({0, many - 1}, ui::TableViewScrollPosition::Bottom, false);
    ASSERT_GT(t->contentOffset().y, 0);
    ASSERT_TRUE(driver->clearText("Search"));
    ASSERT_TRUE(driver->typeText("Search", "SITUATION"));
    ASSERT_TRUE(driver->pressSearch());
    EXPECT_EQ(t->contentOffset().y, 0);
    auto shown = t->indexPathsForVisibleRows();
    ASSERT_FALSE(shown.empty()) << screen();
    EXPECT_EQ(shown.front().row, 0) << screen();

    ASSERT_TRUE(driver->tapRow(found.back()));
    EXPECT_FALSE(search());
    EXPECT_EQ(paneTitle(), "Search: SITUATION");
    EXPECT_EQ(shownCardTitle(), found.back());
    EXPECT_EQ(pane()->modo(), kModoNavegacion);
    EXPECT_EQ(listTitles().size(), found.size());
}

TEST_F(TabletScreensTest, SearchWithoutAMatchSaysSoAndCancelCloses) {
    ASSERT_TRUE(openHub());
    ASSERT_TRUE(driver->tapButton("Search"));
    ASSERT_TRUE(driver->typeText("Search", "zebra crossing"));
    ASSERT_TRUE(driver->pressSearch());
    ASSERT_TRUE(topAlert());
    EXPECT_EQ(topAlert()->title(), "No data");
    EXPECT_EQ(topAlert()->message(), "no match was found.");
    EXPECT_EQ(topAlert()->buttonTitles(), std::vector<std::string>{"OK"});
    ASSERT_TRUE(driver->pressAlertButton("OK"));
    EXPECT_EQ(search()->tableView()->numberOfRowsInSection(0), 0);
    search()->searchBar()->pressCancel();
    driver->settle();
    EXPECT_FALSE(search());
    EXPECT_EQ(paneTitle(), "About you");
}

TEST_F(TabletScreensTest, SearchColoursSilverForACardWithoutColour) {
    auto plain = ns::Dictionary::make({{"title", s("Plain")}, {"index", s("1")}, {"text", s("plain words")}});
    auto decks = ns::Array::make({row({{"Title", s("Deck")}, {"Children", ns::Array::make({card("1", "One", "blue")})}})});
    ASSERT_TRUE(openHub("Deck", makeBundle(decks, ns::Array::make({plain}))));
    ASSERT_TRUE(driver->tapButton("Search"));
    ASSERT_TRUE(driver->typeText("Search", "WORDS"));
    ASSERT_TRUE(driver->pressSearch());
    ASSERT_EQ(search()->searchResults()->count(), 1u);
    EXPECT_EQ(search()->colorForRow(0), "silver");
    auto cell = search()->tableViewCellForRowAtIndexPath(search()->tableView(), {0, 0});
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->textLabel()->textColor()->shortName(), "black");
}

// -- Group editor ---------------------------------------------------------------------------

TEST_F(TabletScreensTest, GroupEditorAsksForANameAndForCards) {
    ASSERT_TRUE(openHub());
    ASSERT_TRUE(openEditor());
    EXPECT_TRUE(editor()->groupName()->isFirstResponder());
    EXPECT_EQ(editor()->tableView()->tableHeaderView().get(), editor()->headerView());
    EXPECT_EQ(editor()->tableView()->numberOfRowsInSection(0), static_cast<long>(delegate->allCards()->count()));
    ASSERT_TRUE(driver->tapButton("Save"));
    ASSERT_TRUE(topAlert());
    EXPECT_EQ(topAlert()->title(), "Group Name");
    EXPECT_EQ(topAlert()->message(), "Please choose a name for this group.");
    ASSERT_TRUE(driver->pressAlertButton("OK"));
    ASSERT_TRUE(driver->typeText("Group name", "Mine"));
    ASSERT_TRUE(driver->tapButton("Save"));
    EXPECT_EQ(topAlert()->title(), "Choose Cards");
    EXPECT_EQ(topAlert()->message(), "Please choose the cards to include in this group.");
    ASSERT_TRUE(driver->pressAlertButton("OK"));
    EXPECT_EQ(delegate->allGroups()->count(), 0u);
    EXPECT_FALSE(fs::exists(documents("Grupos-VeltraIpad.plist")));
    ASSERT_TRUE(driver->tapButton("Cancel"));
    EXPECT_FALSE(editor());
}

TEST_F(TabletScreensTest, GroupKeepsTheCardsInTheOrderTickedAndARestartReadsItBack) {
    ASSERT_TRUE(openHub());
    ASSERT_TRUE(openEditor());
    ns::Array* cards = delegate->allCards();
    std::string t1 = rowString(rowAt(cards, 0), "title"), t2 = rowString(rowAt(cards, 1), "title"),
                t3 = rowString(rowAt(cards, 2), "title"), t4 = rowString(rowAt(cards, 3), "title");
    ASSERT_TRUE(driver->typeText("Group name", "Openers"));
    tick(t3);
    tick(t1);
    tick(t4);
    tick(t2);
    tick(t4);  // a second tap takes it out again
    EXPECT_FALSE(editor()->groupName()->isFirstResponder());
    ui::TableView* t = editor()->tableView();
    ASSERT_TRUE(t->cellForRowAtIndexPath({0, 2}));
    EXPECT_EQ(t->cellForRowAtIndexPath({0, 2})->accessoryType(), ui::TableViewCellAccessoryType::Checkmark);
    ASSERT_TRUE(t->cellForRowAtIndexPath({0, 3}));
    EXPECT_EQ(t->cellForRowAtIndexPath({0, 3})->accessoryType(), ui::TableViewCellAccessoryType::None);
    auto cell = editor()->tableViewCellForRowAtIndexPath(t, {0, 0});
    EXPECT_EQ(cell->textLabel()->textColor()->description(),
              NewGroupViewControllerIpad::colorForCardColor(rowString(rowAt(cards, 0), "color"))->description());
    ASSERT_TRUE(driver->tapButton("Save"));
    EXPECT_FALSE(editor());
    ASSERT_EQ(delegate->allGroups()->count(), 1u);
    EXPECT_EQ(groupCards(0), (std::vector<std::string>{t3, t1, t2}));
    auto* g = rowAt(delegate->allGroups(), 0);
    EXPECT_EQ(rowString(g, "Title"), "Openers");
    EXPECT_EQ(rowString(g, "color"), "silver");
    EXPECT_EQ(rowString(g, "Editable"), "YES");
    EXPECT_EQ(peerTitles("Grupos-VeltraIpad.plist"), "Openers");
    // The list shows the rebuilt groups list, with Back to the practice list.
    EXPECT_EQ(listTitles(), (std::vector<std::string>{"add new group (swipe to delete)", "openers"}));
    EXPECT_EQ(paneTitle(), "Groups:");
    ASSERT_TRUE(driver->tapButton("Back"));
    EXPECT_EQ(listTitles().front(), "practice");

    // Quit and start again with the same home folder.
    launchTablet();
    driver->advance(3.0);
    ASSERT_TRUE(driver->pressAlertButton("Remind me later"));  // the second launch asks for a rating
    ASSERT_TRUE(driver->tapButton("About you"));
    ASSERT_EQ(delegate->allGroups()->count(), 1u);
    EXPECT_EQ(groupCards(0), (std::vector<std::string>{t3, t1, t2}));
    ASSERT_TRUE(driver->tapButton("Practice"));
    ASSERT_TRUE(driver->tapRow("groups"));
    ASSERT_TRUE(driver->tapRow("openers"));
    EXPECT_EQ(paneTitle(), "Openers");
    EXPECT_EQ(shownCardTitle(), t3);
    EXPECT_EQ(listTitles().size(), 3u);
}

TEST_F(TabletScreensTest, ABlankNameIsSavedAsNewGroup) {
    ASSERT_TRUE(openHub());
    ASSERT_TRUE(openEditor());
    ASSERT_TRUE(driver->typeText("Group name", "   "));
    ASSERT_TRUE(driver->pressReturn());
    EXPECT_FALSE(editor()->groupName()->isFirstResponder());
    tick(rowString(rowAt(delegate->allCards(), 0), "title"));
    ASSERT_TRUE(driver->tapButton("Save"));
    EXPECT_EQ(peerTitles("Grupos-VeltraIpad.plist"), "New Group");
}

TEST_F(TabletScreensTest, AGroupThatCannotBeSavedIsReportedAndNotKept) {
    ASSERT_TRUE(openHub());
    ASSERT_TRUE(openEditor());
    blockDocumentsFile("Grupos-VeltraIpad.plist");
    ASSERT_TRUE(driver->typeText("Group name", "Lost"));
    tick(rowString(rowAt(delegate->allCards(), 0), "title"));
    ASSERT_TRUE(driver->tapButton("Save"));
    ASSERT_TRUE(topAlert());
    EXPECT_EQ(topAlert()->title(), "Error");
    EXPECT_EQ(topAlert()->message(), "The group could not be saved.");
    ASSERT_TRUE(driver->pressAlertButton("OK"));
    EXPECT_TRUE(editor());  // still open: the user can try again or cancel
    EXPECT_EQ(delegate->allGroups()->count(), 0u);
    EXPECT_EQ(listTitles(), std::vector<std::string>{"add new group (swipe to delete)"});
}

// -- Web page screen ---------------------------------------------------------------------------

TEST_F(TabletScreensTest, WebPageScreenLoadsItsPageAndStopsTheIndicator) {
    ASSERT_TRUE(openHub());
    writeFile(home + "/bundle-web/html_ipad/about.html", "<html><body><p>About the maker</p></body></html>");
    ns::Paths::setBundleResourcePath(home + "/bundle-web");
    auto page = ns::make<webViewController_ipad>();
    page->setTipo(1);
    page->setPagina("/about.html");
    auto* nav = dynamic_cast<ui::NavigationController*>(root());
    ASSERT_TRUE(nav);
    nav->pushViewController(page, true);
    driver->settle();
    EXPECT_NE(page->webView()->pageText().find("About the maker"), std::string::npos);
    EXPECT_FALSE(page->activi()->isAnimating());
    EXPECT_TRUE(page->activi()->isHidden());
    ASSERT_TRUE(driver->tapButton("Back"));
    EXPECT_EQ(nav->topViewController(), hub());

    auto twitter = ns::make<webViewController_ipad>();
    twitter->setTipo(2);
    EXPECT_EQ(twitter->pageURL(), kMakerTwitterPage);
    twitter->setTipo(3);
    EXPECT_EQ(twitter->pageURL(), kMakerFacebookPage);
    twitter->setTipo(1);
    twitter->setPagina("/../../etc/passwd");
    EXPECT_EQ(twitter->pageURL(), "");
}

}  // namespace app::test
