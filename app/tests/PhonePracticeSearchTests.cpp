// The phone's Practice and Search tabs: the questions menu, random practice
// with a seeded source (question side, tap to the answer, tap to a new
// question), the groups entry; searching without regard to case, "No data",
// opening a result; and a deck without cards or practice questions.
#include "app/tests/AppTestSupport.h"

#include <algorithm>
#include <cctype>

#include "app/ContentModel.h"
#include "app/phone/CardViewController.h"
#include "app/phone/MenuViewController.h"
#include "app/phone/PracticeViewControllerIphone.h"
#include "app/phone/RandomSource.h"
#include "app/phone/SearchViewControllerIphone.h"
#include "app/phone/ViewGroupsController.h"

namespace app::test {

namespace {

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A copy of the sample bundle that a test may change.
std::string copyBundle(const std::string& into) {
    fs::copy(sampleBundle(), into, fs::copy_options::recursive);
    return into;
}

}  // namespace

class PhonePractice : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        setRegistro();
    }
    void TearDown() override {
        RandomSource::setShared(nullptr);
        AppTest::TearDown();
    }
    void tapPage(CardViewController* card) { driver->tap(ui::Driver::centerOf(card->webView())); }
    // The card draws the source's sequence modulo the deck's size.
    std::vector<long> expectedDraws(uint32_t seed, size_t n) {
        auto r = RandomSource::withSeed(seed);
        std::vector<long> out;
        size_t count = delegate->allCards()->count();
        for (size_t i = 0; i < n; ++i) out.push_back(static_cast<long>(r->next32() % count));
        return out;
    }
};

TEST_F(PhonePractice, RandomCardsShowQuestionThenAnswerThenANewQuestion) {
    startPhone();
    RandomSource::setShared(RandomSource::withSeed(2026));
    std::vector<long> draws = expectedDraws(2026, 2);
    ASSERT_TRUE(driver->tapTab("Practice"));
    ASSERT_TRUE(driver->tapButton("Random cards")) << screen();
    auto* card = topScreen<CardViewController>();
    ASSERT_TRUE(card);
    EXPECT_TRUE(card->isRandomCard());
    EXPECT_EQ(card->btnBack()->currentTitle(), "practice");
    EXPECT_TRUE(card->btnShare()->isHidden());

    // Question side of the first drawn card.
    ASSERT_EQ(card->RandomCard(), draws[0]);
    ns::Dictionary* first = rowAt(delegate->allCards(), static_cast<size_t>(draws[0]));
    std::string colour = rowString(first, "color"), title = rowString(first, "title");
    EXPECT_FALSE(card->viendoCarta());
    EXPECT_EQ(card->dicCarta(), first);
    EXPECT_EQ(shownPageName(card->webView()), "MKTG_01_blank.html");
    EXPECT_NE(card->webView()->html().find("<h1 class='" + colour + "'>" + title + "</h1>"), std::string::npos)
        << card->webView()->html();
    EXPECT_NE(card->webView()->html().find("<body style='font-size: 13px'"), std::string::npos);
    EXPECT_EQ(imageName(card->imgheader()), "CabezaCarta-" + colour + ".png");
    EXPECT_EQ(imageName(card->imgfondo()), "FondoCarta-" + colour + ".png");

    // A tap turns to the answer page, flipping from the left.
    ui::clearAnimationLog();
    tapPage(card);
    EXPECT_TRUE(card->viendoCarta());
    EXPECT_EQ(shownPageName(card->webView()),
              "KORVEL_" + rowString(first, "index") + ".html");
    ASSERT_FALSE(ui::animationLog().empty());
    const ui::AnimationRecord& flip = ui::animationLog().back();
    EXPECT_EQ(flip.transition, "flip-from-left");
    EXPECT_EQ(flip.duration, 0.75);
    EXPECT_TRUE(flip.cached);
    EXPECT_EQ(flip.view.lock().get(), card->view());

    // The next tap draws a new question, flipping from the right.
    tapPage(card);
    EXPECT_FALSE(card->viendoCarta());
    EXPECT_EQ(card->RandomCard(), draws[1]);
    EXPECT_EQ(card->dicCarta(), rowAt(delegate->allCards(), static_cast<size_t>(draws[1])));
    EXPECT_EQ(shownPageName(card->webView()), "MKTG_01_blank.html");
    EXPECT_EQ(ui::animationLog().back().transition, "flip-from-right");

    ASSERT_TRUE(driver->tapButton("practice"));
    EXPECT_TRUE(topScreen<PracticeViewControllerIphone>());
}

TEST_F(PhonePractice, SameSeedSameCardsAndATapOnANormalCardDoesNothing) {
    startPhone();
    RandomSource::setShared(RandomSource::withSeed(5));
    ASSERT_TRUE(driver->tapTab("Practice"));
    ASSERT_TRUE(driver->tapButton("Random cards"));
    long a = topScreen<CardViewController>()->RandomCard();
    ASSERT_TRUE(driver->tapButton("practice"));
    RandomSource::setShared(RandomSource::withSeed(5));
    ASSERT_TRUE(driver->tapButton("Random cards"));
    EXPECT_EQ(topScreen<CardViewController>()->RandomCard(), a);

    ASSERT_TRUE(driver->tapTab("Deck index"));
    ASSERT_TRUE(driver->tapRow("about you"));
    ASSERT_TRUE(driver->tapRow("tell me about yourself"));
    auto* card = topScreen<CardViewController>();
    ASSERT_TRUE(card);
    size_t loads = card->webView()->loadCount();
    ui::clearAnimationLog();
    tapPage(card);
    EXPECT_EQ(card->webView()->loadCount(), loads);
    EXPECT_TRUE(ui::animationLog().empty());
}

TEST_F(PhonePractice, QuestionsMenuAndGroupsEntry) {
    startPhone();
    ASSERT_TRUE(driver->tapTab("Practice"));
    EXPECT_TRUE(selectedNav()->isNavigationBarHidden());
    ASSERT_TRUE(driver->tapButton("Questions"));
    auto* menu = topScreen<MenuViewController>();
    ASSERT_TRUE(menu) << screen();
    EXPECT_EQ(menu->titleLabel()->text(), "Questions");
    EXPECT_EQ(menu->btnBack()->currentTitle(), "Practice");
    EXPECT_FALSE(menu->btnBack()->isHidden());
    EXPECT_FALSE(menu->imgback()->isHidden());
    EXPECT_TRUE(menu->imgLogo()->isHidden());
    EXPECT_EQ(menu->filas(), 6);
    EXPECT_TRUE(screenHas("tell me about yourself")) << screen();
    // A question opens as a card page.
    ASSERT_TRUE(driver->tapRow("greatest strength"));
    auto* card = topScreen<CardViewController>();
    ASSERT_TRUE(card);
    EXPECT_EQ(card->btnBack()->currentTitle(), "Questions");
    ASSERT_TRUE(driver->tapButton("Questions"));
    ASSERT_TRUE(driver->tapButton("Practice"));
    ASSERT_TRUE(driver->tapButton("Groups"));
    EXPECT_TRUE(topScreen<ViewGroupsController>()) << screen();
}

TEST_F(PhonePractice, NoCardsAndNoQuestionsNeverCrash) {
    std::string bundle = copyBundle(home + "/bundle");
    ns::PropertyList::writeToFile(*ns::Array::make(), bundle + "/allCards-Iphone.plist");
    fs::remove(bundle + "/Practice.plist");
    launchApp(ui::UserInterfaceIdiom::Phone, bundle);
    driver->advance(4.0);
    ASSERT_TRUE(driver->tapTab("Practice"));
    ASSERT_TRUE(driver->tapButton("Random cards"));
    auto* card = topScreen<CardViewController>();
    ASSERT_TRUE(card);
    EXPECT_EQ(card->RandomCard(), -1);
    EXPECT_EQ(card->webView()->html(), "");
    tapPage(card);  // nothing to turn
    EXPECT_EQ(card->RandomCard(), -1);
    EXPECT_FALSE(card->viendoCarta());
    ASSERT_TRUE(driver->tapButton("practice"));

    ASSERT_TRUE(driver->tapButton("Questions"));
    auto* menu = topScreen<MenuViewController>();
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->filas(), 0);
    EXPECT_EQ(menu->titleLabel()->text(), "Questions");

    // A practice file of the wrong shape is the same as none.
    ns::PropertyList::writeToFile(*ns::Dictionary::make({{"Children", ns::Array::make({ns::str("x")})}}),
                                  bundle + "/Practice.plist");
    EXPECT_EQ(PracticeViewControllerIphone::practiceQuestions()->count(), 0u);
}

class PhoneSearch : public PhonePractice {};

TEST_F(PhoneSearch, FindsCardTextsWithoutRegardToCaseInDeckOrder) {
    startPhone();
    ASSERT_TRUE(driver->tapTab("Search"));
    auto* search = topScreen<SearchViewControllerIphone>();
    ASSERT_TRUE(search);
    EXPECT_EQ(search->title(), "Search");
    EXPECT_TRUE(search->searchBar()->isFirstResponder());
    EXPECT_TRUE(search->searchBar()->showsCancelButton());
    double fullHeight = search->tableView()->frame().height() + SearchViewControllerIphone::kKeyboardHeight;

    ASSERT_TRUE(driver->typeText("Search", "INTERVIEWER")) << driver->lastError();
    ASSERT_TRUE(driver->pressSearch());
    EXPECT_FALSE(search->searchBar()->isFirstResponder());
    EXPECT_EQ(search->tableView()->frame().height(), fullHeight);
    // The bar along the top, the results right below it down to the tab bar.
    ui::Rect screenBounds = ui::Screen::main()->bounds();
    EXPECT_EQ(ui::toString(search->searchBar()->frame()), ui::toString(ui::makeRect(0, 0, screenBounds.width(), 44)));
    EXPECT_EQ(ui::toString(search->tableView()->frame()),
              ui::toString(ui::makeRect(0, 44, screenBounds.width(), screenBounds.height() - 44 - 49)));

    // The cards whose text holds the word in any case, in deck order.
    std::vector<std::string> expected;
    for (size_t i = 0; i < delegate->allCards()->count(); ++i) {
        ns::Dictionary* c = rowAt(delegate->allCards(), i);
        if (lower(rowString(c, "text")).find("interviewer") != std::string::npos)
            expected.push_back(rowString(c, "title"));
    }
    ASSERT_GE(expected.size(), 2u);
    std::vector<std::string> got;
    for (size_t i = 0; i < search->searchResults()->count(); ++i)
        got.push_back(rowString(rowAt(search->searchResults(), i), "title"));
    EXPECT_EQ(got, expected);
    EXPECT_EQ(search->tableView()->numberOfRowsInSection(0), static_cast<long>(expected.size()));
    EXPECT_FALSE(ui::Panel::topPanel());
    EXPECT_TRUE(screenHas(expected[0])) << screen();

    // Scrolled to the end of a long result list, a new search shows its
    // results from the first row.
    ui::TableView* table = search->tableView();
    ASSERT_TRUE(driver->clearText("Search"));
    ASSERT_TRUE(driver->typeText("Search", "a"));
    ASSERT_TRUE(driver->pressSearch());
    const long many = table->numberOfRowsInSection(0);
    table->scrollToRowAtIndexPath({0, many - 1}, ui::TableViewScrollPosition::Bottom, false);
    ASSERT_GT(table->contentOffset().y, 0);
    ASSERT_TRUE(driver->clearText("Search"));
    ASSERT_TRUE(driver->typeText("Search", "INTERVIEWER"));
    ASSERT_TRUE(driver->pressSearch());
    EXPECT_EQ(table->contentOffset().y, 0);
    EXPECT_TRUE(screenHas(expected[0])) << screen();

    // A result opens its card.
    ASSERT_TRUE(driver->tapRow(expected[0]));
    auto* card = topScreen<CardViewController>();
    ASSERT_TRUE(card);
    EXPECT_EQ(card->btnBack()->currentTitle(), "search");
    EXPECT_TRUE(card->lblTitle()->isHidden());
    ns::Dictionary* row = rowAt(search->searchResults(), 0);
    EXPECT_EQ(card->dicCarta(), row);
    EXPECT_EQ(shownPageName(card->webView()),
              "KORVEL_" + rowString(row, "index") + ".html");
    EXPECT_EQ(imageName(card->imgheader()), "CabezaCarta-" + rowString(row, "color") + ".png");
}

TEST_F(PhoneSearch, NoMatchShowsNoDataAndClearsTheFormerRows) {
    startPhone();
    ASSERT_TRUE(driver->tapTab("Search"));
    auto* search = topScreen<SearchViewControllerIphone>();
    ASSERT_TRUE(search);
    ASSERT_TRUE(driver->typeText("Search", "salary"));
    ASSERT_TRUE(driver->pressSearch());
    ASSERT_GT(search->searchResults()->count(), 0u);

    ASSERT_TRUE(driver->clearText("Search"));
    ASSERT_TRUE(driver->typeText("Search", "xylophone"));
    // The key pressed twice in one turn of the loop: one search, after the turn.
    size_t before = search->searchResults()->count();
    search->searchBarSearchButtonClicked(search->searchBar());
    search->searchBarSearchButtonClicked(search->searchBar());
    EXPECT_EQ(search->searchResults()->count(), before);
    driver->settle();
    EXPECT_EQ(ui::Panel::visiblePanels().size(), 1u);
    auto* alert = dynamic_cast<ui::AlertView*>(ui::Panel::topPanel());
    ASSERT_TRUE(alert) << screen();
    EXPECT_EQ(alert->title(), "No data");
    EXPECT_EQ(alert->message(), "no match was found.");
    EXPECT_EQ(alert->buttonTitles(), std::vector<std::string>{"OK"});
    EXPECT_EQ(search->searchResults()->count(), 0u);
    EXPECT_EQ(search->tableView()->numberOfRowsInSection(0), 0);
    ASSERT_TRUE(driver->pressAlertButton("OK"));
    // A row that is no longer there opens nothing.
    search->tableViewDidSelectRowAtIndexPath(search->tableView(), {0, 0});
    EXPECT_EQ(topScreen<SearchViewControllerIphone>(), search);
}

TEST(PhoneSearchRows, ColourAndMatchingRules) {
    ns::Paths::setBundleResourcePath(sampleBundle());
    ui::Image::setImageFolder(sampleBundle() + "/images");
    auto cards = ns::Array::make({
        ns::Dictionary::make({{"title", ns::str("A")}, {"text", ns::str("Mixed CASE text")}}),
        ns::Dictionary::make({{"title", ns::str("B")}, {"text", ns::str("other")}, {"color", ns::str("wine")}}),
        ns::Dictionary::make({{"title", ns::str("C")}}),
        ns::Dictionary::make({{"title", ns::str("D")}, {"text", ns::str("Un CAF\xC3\x89 noir")}}),
    });
    auto found = SearchViewControllerIphone::cardsMatching(cards.get(), "case");
    ASSERT_EQ(found->count(), 1u);
    EXPECT_EQ(rowString(rowAt(found.get(), 0), "title"), "A");
    // Case is ignored beyond ASCII too.
    found = SearchViewControllerIphone::cardsMatching(cards.get(), "caf\xC3\xA9");
    ASSERT_EQ(found->count(), 1u);
    EXPECT_EQ(rowString(rowAt(found.get(), 0), "title"), "D");
    EXPECT_EQ(SearchViewControllerIphone::cardsMatching(cards.get(), "")->count(), 0u);
    EXPECT_EQ(SearchViewControllerIphone::cardsMatching(nullptr, "x")->count(), 0u);

    auto screenObj = ns::make<SearchViewControllerIphone>();
    screenObj->setSearchResults(cards);
    EXPECT_EQ(screenObj->colorForRow(0), "silver");
    EXPECT_EQ(screenObj->colorForRow(1), "wine");
    screenObj->view();
    screenObj->setSearchResults(cards);
    screenObj->tableView()->reloadData();
    auto cell = screenObj->tableViewCellForRowAtIndexPath(screenObj->tableView(), {0, 0});
    EXPECT_EQ(cell->textLabel()->text(), "A");
    EXPECT_TRUE(cell->textLabel()->textColor()->isEqual(*ui::Color::black()));
    auto* bg = dynamic_cast<ui::ImageView*>(cell->backgroundView().get());
    ASSERT_TRUE(bg && bg->image());
    EXPECT_EQ(imageName(bg), "FranjaCarta-silver.png");
    auto wine = screenObj->tableViewCellForRowAtIndexPath(screenObj->tableView(), {0, 1});
    EXPECT_TRUE(wine->textLabel()->textColor()->isEqual(*ui::Color::white()));
}

}  // namespace app::test
