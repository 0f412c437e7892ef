// The tablet card pane: page loading with the font size, colour images,
// links between cards and Back, outside, rate and contact links, pinch
// sizes with their scripts, random practice, and adding favourites.
#include "app/tests/TabletTestSupport.h"

#include <random>

#include "app/AppConfig.h"
#include "app/phone/RandomSource.h"
#include "app/tablet/TabletNotifications.h"
#include "platform/foundation/URL.h"
#include "platform/mail/MailComposeViewController.h"

namespace app::test {

namespace {

// Taps a link of the card page. The pane answers every tapped link itself,
// so the web view never follows it (the driver reports that as false).
void tapLink(const std::string& text) {
    ui::Driver d;
    ASSERT_TRUE(d.visibleWebView());
    bool inPage = false;
    for (auto& l : d.visibleWebView()->links()) inPage |= l.text == text || l.href == text;
    ASSERT_TRUE(inPage) << text;
    d.followLink(text);
}

std::string fontScript(long size) { return "document.body.style.fontSize = '" + std::to_string(size) + "px';"; }

}  // namespace

TEST_F(TabletTest, CardPageIsLoadedWithTheFontSizeAndColourImages) {
    ASSERT_TRUE(openHub());
    ASSERT_TRUE(driver->tapRow("greatest strength"));
    const std::string& html = pageHTML();
    EXPECT_NE(html.find("<body style='font-size: 13px' class=\"blue\">"), std::string::npos) << html;
    EXPECT_EQ(html.find("<body class"), std::string::npos);
    ns::URL* base = pane()->myWebView()->baseURL();
    ASSERT_TRUE(base);
    EXPECT_EQ(ns::describe(base->path()), sampleBundle() + "/html_iphone/KORVEL_3.html");
    EXPECT_EQ(imageName(pane()->imgCabeza()), "CabezaCarta-blue.png");
    EXPECT_EQ(imageName(pane()->imgCuerpo()), "FondoCarta-blue.png");
    ASSERT_TRUE(driver->tapButton("Technical interviews"));
    EXPECT_EQ(imageName(pane()->imgCabeza()), "CabezaCarta-cyan.png");
    EXPECT_EQ(imageName(pane()->imgCuerpo()), "FondoCarta-cyan.png");
}

TEST_F(TabletTest, CardLinksArePushedWithAFlipAndPoppedByBack) {
    ASSERT_TRUE(openHub());
    EXPECT_TRUE(pane()->btnAtras()->isHidden());
    size_t mark = ui::animationLog().size();
    tapLink("Why do you want this job");
    EXPECT_EQ(flipsSince(mark, "flip-from-left"), 1u);
    EXPECT_EQ(shownCardTitle(), "Why do you want this job");
    EXPECT_TRUE(screenHas("[page KORVEL_2.html]")) << screen();
    EXPECT_FALSE(pane()->btnAtras()->isHidden());
    EXPECT_TRUE(pane()->lblTitulo()->isHidden());
    EXPECT_EQ(pane()->arrayCartas()->count(), 2u);
    EXPECT_TRUE(ui::Application::shared()->openedURLs().empty());

    tapLink("Greatest strength");
    EXPECT_EQ(pane()->arrayCartas()->count(), 3u);
    EXPECT_EQ(shownCardTitle(), "Greatest strength");

    mark = ui::animationLog().size();
    ASSERT_TRUE(driver->tapButton("Previous card"));
    EXPECT_EQ(flipsSince(mark, "flip-from-right"), 1u);
    EXPECT_EQ(shownCardTitle(), "Why do you want this job");
    EXPECT_TRUE(screenHas("[page KORVEL_2.html]"));
    EXPECT_FALSE(pane()->btnAtras()->isHidden());
    ASSERT_TRUE(driver->tapButton("Previous card"));
    EXPECT_EQ(shownCardTitle(), "Tell me about yourself");
    EXPECT_TRUE(pane()->btnAtras()->isHidden());
    EXPECT_FALSE(pane()->lblTitulo()->isHidden());
    EXPECT_EQ(pane()->arrayCartas()->count(), 1u);
    // With one card left Back does nothing.
    pane()->clicBtnAtras(nullptr);
    EXPECT_EQ(shownCardTitle(), "Tell me about yourself");

    // A card shown by the hub resets the stack.
    tapLink("Greatest strength");
    ASSERT_TRUE(driver->tapRow("what motivates you"));
    EXPECT_EQ(pane()->arrayCartas()->count(), 1u);
    EXPECT_TRUE(pane()->btnAtras()->isHidden());
}

TEST_F(TabletTest, RateContactAndOutsideLinksLeaveThePage) {
    ASSERT_TRUE(openHub());
    std::string page = pageHTML();
    tapLink("Rate this app");
    ASSERT_EQ(ui::Application::shared()->openedURLs().size(), 1u);
    EXPECT_EQ(ui::Application::shared()->openedURLs().back(), RatePromptManager::ratePageURL());

    tapLink("More advice on korvel.example");
    ASSERT_EQ(ui::Application::shared()->openedURLs().size(), 2u);
    std::string outside = ui::Application::shared()->openedURLs().back();
    EXPECT_EQ(outside, "http://www.korvel.example/advice/");
    bool logged = false;
    for (auto& l : appLogLines()) logged |= l == "Enlace :   " + outside;
    EXPECT_TRUE(logged);
    EXPECT_EQ(pageHTML(), page);

    mail::MailComposeViewController::setCanSendMail(true);
    tapLink("Write to us");
    auto* composer = dynamic_cast<mail::MailComposeViewController*>(root()->presentedViewController());
    ASSERT_TRUE(composer);
    EXPECT_EQ(composer->message().to, std::vector<std::string>{kContactMailAddress});
    EXPECT_EQ(composer->message().subject, "Comments/Contact Tarnwick Ostravelle Case Interview App");
    EXPECT_EQ(composer->message().body, ViewDetalle::kContactMessage);
    EXPECT_EQ(ui::Application::shared()->openedURLs().size(), 2u);
    EXPECT_EQ(pageHTML(), page);

    // A page's own "rateApp" link (a name beside the page) opens the
    // review page too, and is not loaded.
    auto rate = ui::URLRequest::requestWithString("file:///bundle/html_iphone/rateApp");
    EXPECT_FALSE(pane()->webViewShouldStartLoadWithRequest(pane()->myWebView(), rate.get(),
                                                           ui::WebViewNavigationType::LinkClicked));
    ASSERT_EQ(ui::Application::shared()->openedURLs().size(), 3u);
    EXPECT_EQ(ui::Application::shared()->openedURLs().back(), RatePromptManager::ratePageURL());
}

TEST_F(TabletTest, PinchGrowsTheFontTo41AndShrinksItTo14WithTheExactScripts) {
    ASSERT_TRUE(openHub());
    ui::WebView* web = pane()->myWebView();
    ASSERT_TRUE(web);
    web->clearEvaluatedScripts();
    // The first pinch-in from 13 is below the floor: the size stays.
    driver->pinch(pageCenter(), 200, 190, 1);
    EXPECT_EQ(pane()->savedFont(), 13);
    EXPECT_EQ(web->evaluatedScripts(), std::vector<std::string>{fontScript(13)});
    web->clearEvaluatedScripts();

    driver->pinch(pageCenter(), 100, 380, 28);
    EXPECT_EQ(pane()->savedFont(), 41);
    std::vector<std::string> expected;
    for (long size = 14; size <= 41; ++size) expected.push_back(fontScript(size));
    EXPECT_EQ(web->evaluatedScripts(), expected);

    web->clearEvaluatedScripts();
    driver->pinch(pageCenter(), 340, 380, 4);
    EXPECT_EQ(pane()->savedFont(), 41);
    EXPECT_EQ(web->evaluatedScripts(), std::vector<std::string>(4, fontScript(41)));

    web->clearEvaluatedScripts();
    driver->pinch(pageCenter(), 400, 100, 30);
    EXPECT_EQ(pane()->savedFont(), 14);
    expected.clear();
    for (long size = 40; size >= 14; --size) expected.push_back(fontScript(size));
    expected.push_back(fontScript(14));
    expected.push_back(fontScript(14));
    expected.push_back(fontScript(14));
    EXPECT_EQ(web->evaluatedScripts(), expected);

    // Changes of 5 points or less add up before they count.
    web->clearEvaluatedScripts();
    driver->pinch(pageCenter(), 200, 215, 5);
    EXPECT_EQ(pane()->savedFont(), 16);

    // The size stays for the next pages of this pane.
    ASSERT_TRUE(driver->tapRow("greatest weakness"));
    EXPECT_NE(pageHTML().find("<body style='font-size: 16px'"), std::string::npos);
}

TEST_F(TabletTest, ASwipeOverTheCardChangesNothing) {
    ASSERT_TRUE(openHub());
    std::string page = pageHTML();
    ui::Point c = pageCenter();
    driver->swipe({c.x - 150, c.y}, {c.x + 150, c.y + 10}, 6);
    driver->swipe({c.x + 150, c.y}, {c.x - 150, c.y}, 6);
    EXPECT_EQ(pageHTML(), page);
    EXPECT_EQ(shownCardTitle(), "Tell me about yourself");
    EXPECT_EQ(pane()->savedFont(), 13);
}

TEST_F(TabletTest, RandomPracticeShowsQuestionThenAnswerThenTheNextQuestion) {
    ASSERT_TRUE(openHub());
    pane()->setRandomSource([engine = std::make_shared<std::mt19937>(2024)] { return (*engine)(); });
    std::mt19937 expected(2024);
    ns::Array* cards = delegate->allCards();
    auto pick = [&] { return rowAt(cards, expected() % cards->count()); };

    // Browsing: a tap on the page does nothing.
    std::string page = pageHTML();
    driver->tap(pageCenter());
    EXPECT_EQ(pageHTML(), page);

    ASSERT_TRUE(driver->tapButton("Practice"));
    ns::Dictionary* first = pick();
    EXPECT_EQ(shownCardTitle(), rowString(first, "title"));
    EXPECT_NE(pageHTML().find("<h1 class='" + rowString(first, "color") + "'>" + rowString(first, "title") + "</h1>"),
              std::string::npos)
        << pageHTML();
    EXPECT_NE(pageHTML().find("<body style='font-size: 13px' class=\"practice\">"), std::string::npos);
    EXPECT_EQ(shownPageName(pane()->myWebView()), "MKTG_01_blank.html");
    EXPECT_FALSE(pane()->viendoCarta());

    size_t mark = ui::animationLog().size();
    driver->tap(pageCenter());
    EXPECT_TRUE(pane()->viendoCarta());
    EXPECT_EQ(flipsSince(mark, "flip-from-left"), 1u);
    EXPECT_EQ(shownPageName(pane()->myWebView()), rowString(first, "ActionData"));
    EXPECT_EQ(shownCardTitle(), rowString(first, "title"));

    mark = ui::animationLog().size();
    driver->tap(pageCenter());
    EXPECT_FALSE(pane()->viendoCarta());
    EXPECT_EQ(flipsSince(mark, "flip-from-right"), 1u);
    ns::Dictionary* second = pick();
    EXPECT_EQ(shownCardTitle(), rowString(second, "title"));
    EXPECT_EQ(shownPageName(pane()->myWebView()), "MKTG_01_blank.html");
    EXPECT_EQ(pane()->IndexCartaRandom(), static_cast<long>(cards->indexOfObject(*second)));
}

TEST_F(TabletTest, RandomPracticeDrawsFromTheAppsSharedSourceByDefault) {
    RandomSource::setShared(RandomSource::withSeed(99));
    ASSERT_TRUE(openHub());
    std::mt19937 expected(99);
    size_t index = expected() % delegate->allCards()->count();
    ASSERT_TRUE(driver->tapButton("Practice"));
    RandomSource::setShared(nullptr);
    EXPECT_EQ(pane()->IndexCartaRandom(), static_cast<long>(index));
    EXPECT_EQ(shownCardTitle(), rowString(rowAt(delegate->allCards(), index), "title"));
}

TEST_F(TabletTest, RandomPracticeWithoutCardsKeepsTheCardShown) {
    auto decks = ns::Array::make({row({{"Title", s("Only")}, {"Children", ns::Array::make({card("1", "One", "blue")})}})});
    std::string bundle = makeBundle(decks, ns::Array::make());
    ASSERT_TRUE(openHub("Only", bundle));
    ASSERT_TRUE(driver->tapButton("Practice"));
    EXPECT_EQ(paneTitle(), "Practice");
    EXPECT_EQ(pane()->modo(), kModoRandom);
    EXPECT_EQ(shownCardTitle(), "One");
    driver->tap(pageCenter());
    driver->tap(pageCenter());
    EXPECT_EQ(shownCardTitle(), "One");
}

TEST_F(TabletTest, AddToFavouritesSavesOnceThenRefusesTheSameCard) {
    ASSERT_TRUE(openHub());
    ASSERT_TRUE(driver->tapRow("greatest strength"));
    ASSERT_TRUE(driver->tapButton("Add to favorites"));
    ASSERT_TRUE(topAlert());
    EXPECT_EQ(topAlert()->title(), "Favorites");
    EXPECT_EQ(topAlert()->message(), "was saved correctly.");
    EXPECT_EQ(topAlert()->buttonTitles(), std::vector<std::string>{"Accept"});
    ASSERT_TRUE(driver->pressAlertButton("Accept"));
    EXPECT_EQ(peerTitles("Favorites-VeltraIpad.plist"), "Greatest strength");
    auto saved = ns::arrayWithContentsOfFile(documents("Favorites-VeltraIpad.plist"));
    ASSERT_TRUE(saved && saved->count() == 1);
    auto* entry = ns::as<ns::Dictionary>(saved->objectAtIndex(0));
    EXPECT_EQ(rowString(entry, "Editable"), "YES");
    EXPECT_EQ(rowString(entry, "index"), "3");
    EXPECT_EQ(rowString(entry, "post"), "korvel.example/cards/3");
    // The shown card itself is left as it was.
    EXPECT_FALSE(rowHas(pane()->DicDeCarta(), "Editable"));

    ASSERT_TRUE(driver->tapButton("Add to favorites"));
    ASSERT_TRUE(topAlert());
    EXPECT_EQ(topAlert()->title(), "Error");
    EXPECT_EQ(topAlert()->message(), "This letter has already been added.");
    ASSERT_TRUE(driver->pressAlertButton("Accept"));
    EXPECT_EQ(delegate->allFavorites()->count(), 1u);
}

TEST_F(TabletTest, AFavouriteThatAlreadySaysEditableNoIsStoredAsYes) {
    auto odd = card("7", "Odd", "green")->mutableCopy();
    odd->setObject(s("NO"), "Editable");
    auto decks = ns::Array::make({row({{"Title", s("Deck")}, {"Children", ns::Array::make({odd})}})});
    ASSERT_TRUE(openHub("Deck", makeBundle(decks, ns::Array::make({odd}))));
    ASSERT_TRUE(driver->tapButton("Add to favorites"));
    auto saved = ns::arrayWithContentsOfFile(documents("Favorites-VeltraIpad.plist"));
    ASSERT_TRUE(saved && saved->count() == 1);
    EXPECT_EQ(rowString(ns::as<ns::Dictionary>(saved->objectAtIndex(0)), "Editable"), "YES");
}

TEST_F(TabletTest, AFailedSaveIsReportedAndKeepsMemoryAndFileAsTheyWere) {
    ASSERT_TRUE(openHub());
    ASSERT_TRUE(driver->tapButton("Add to favorites"));
    ASSERT_TRUE(driver->pressAlertButton("Accept"));
    std::string before = readFile(documents("Favorites-VeltraIpad.plist"));
    std::string moved = documents("saved-aside.plist");
    fs::rename(documents("Favorites-VeltraIpad.plist"), moved);
    blockDocumentsFile("Favorites-VeltraIpad.plist");

    ASSERT_TRUE(driver->tapRow("greatest weakness"));
    ASSERT_TRUE(driver->tapButton("Add to favorites"));
    ASSERT_TRUE(topAlert());
    EXPECT_EQ(topAlert()->title(), "Error");
    EXPECT_NE(topAlert()->message(), "was saved correctly.");
    ASSERT_TRUE(driver->pressAlertButton("Accept"));
    EXPECT_EQ(titlesIn(delegate->allFavorites()), std::vector<std::string>{"Tell me about yourself"});
    EXPECT_EQ(readFile(moved), before);
    // Once the file can be written again the same card saves normally.
    fs::remove_all(documents("Favorites-VeltraIpad.plist"));
    fs::rename(moved, documents("Favorites-VeltraIpad.plist"));
    ASSERT_TRUE(driver->tapButton("Add to favorites"));
    EXPECT_EQ(topAlert()->message(), "was saved correctly.");
    EXPECT_EQ(peerTitles("Favorites-VeltraIpad.plist"), "Tell me about yourself|Greatest weakness");
}

TEST_F(TabletTest, ACardWithoutATitleIsNotAddedAndNothingIsShown) {
    auto untitled = ns::Dictionary::make({{"index", s("9")}, {"ActionData", s("KORVEL_9.html")}, {"color", s("blue")}});
    auto decks = ns::Array::make({row({{"Title", s("Deck")}, {"Children", ns::Array::make({untitled})}})});
    ASSERT_TRUE(openHub("Deck", makeBundle(decks, ns::Array::make({card("9", "Nine", "blue")}))));
    ASSERT_TRUE(driver->tapButton("Add to favorites"));
    EXPECT_FALSE(topAlert());
    EXPECT_EQ(delegate->allFavorites()->count(), 0u);
}

}  // namespace app::test
