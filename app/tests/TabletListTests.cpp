// The tablet list: back stack, each kind of row tap, row look, deck
// buttons, and swipe-to-delete of favourites and groups with their files.
#include "app/tests/TabletTestSupport.h"

#include <algorithm>

#include "app/forms/UIViewSingUp.h"
#include "app/tablet/NewGroupViewControllerIpad.h"
#include "app/tablet/TabletNotifications.h"
#include "platform/mail/MailComposeViewController.h"

namespace app::test {

namespace {

ns::Ref<ns::Dictionary> c1() { return card("1", "Card One", "blue", "first card text"); }
ns::Ref<ns::Dictionary> c2() { return card("2", "Card Two", "green", "second card text"); }
ns::Ref<ns::Dictionary> c3() { return card("3", "Card Three", "wine", "third card text"); }

}  // namespace

class TabletListTest : public TabletTest {
protected:
    // A deck with one row of each kind, a second deck, and three cards.
    MenuViewController_iPad* openSmallDeck() {
        auto mainDeck = ns::Array::make({
            row({{"Title", s("Heading")}, {"lleva", s("YES")}, {"color", s("black")}, {"tamano", ns::num(40)}}),
            row({{"Title", s("Sub Menu")}, {"SubTitle", s("two cards")}, {"color", s("green")},
                 {"Children", ns::Array::make({c1(), c2()})}}),
            row({{"Title", s("Tactic Row")}, {"tactics", s("YES")}, {"color", s("silver")}, {"SubTitle", s("one card")},
                 {"Children", ns::Array::make({c3()})}}),
            row({{"Title", s("Questions Row")}, {"ActionPractice", s("Questions")}, {"color", s("cyan")},
                 {"Children", ns::Array::make({c2(), c3()})}}),
            row({{"Title", s("Groups Row")}, {"ActionPractice", s("GroupCard")}, {"color", s("silver")}}),
            row({{"Title", s("Random Row")}, {"ActionPractice", s("Random")}, {"color", s("wine")}}),
            row({{"Title", s("Invite Row")}, {"Action", s("referral:")}, {"colorIntro", s("flat")}}),
            row({{"Title", s("Join Row")}, {"Action", s("singUp:")}}),
            row({{"Title", s("Mail Row")}, {"color", s("blue")},
                 {"email", ns::Dictionary::make({{"para", s("deck@korvel.example")}, {"subject", s("Subject line")},
                                                 {"mensaje", s("<p>Body</p>")}})}}),
            c1(),
        });
        auto decks = ns::Array::make({
            row({{"Title", s("Main Deck")}, {"Children", mainDeck}}),
            row({{"Title", s("Second Deck")}, {"Children", ns::Array::make({c3()})}}),
        });
        auto practice = ns::Dictionary::make({{"Children", ns::Array::make({
            row({{"Title", s("Practice")}, {"lleva", s("YES")}}),
            row({{"Title", s("Practice Groups")}, {"ActionPractice", s("GroupCard")}}),
        })}});
        auto interview = ns::Array::make({
            row({{"Title", s("Interview Tactic")}, {"tactics", s("YES")},
                 {"Children", ns::Array::make({c3(), row({{"Title", s("Tactic Groups")}, {"ActionPractice", s("GroupCard")}})})}}),
            c1(),
        });
        auto info = ns::Dictionary::make({{"Children", ns::Array::make({
            c1(),
            row({{"Title", s("Info Groups")}, {"ActionPractice", s("GroupCard")}}),
        })}});
        std::string bundle = makeBundle(decks, ns::Array::make({c1(), c2(), c3()}), interview, practice, info);
        return openHub("Main Deck", bundle);
    }
    void addFavourite(const std::string& rowTitle) {
        ASSERT_TRUE(driver->tapRow(rowTitle)) << driver->lastError();
        ASSERT_TRUE(driver->tapButton("Add to favorites")) << driver->lastError();
        ASSERT_TRUE(driver->pressAlertButton("Accept"));
    }
    // Cards one (main deck), two (its sub menu) and three (second deck) made
    // favourites, then the favourites list opened.
    void favouriteThreeCardsAndOpenFavourites() {
        addFavourite("card one");
        ASSERT_TRUE(driver->tapRow("sub menu"));
        addFavourite("card two");
        ASSERT_TRUE(driver->tapButton("Second Deck"));
        addFavourite("card three");
        ASSERT_TRUE(driver->tapButton("Favorites"));
    }
    std::vector<std::string> savedFavourites() const {
        return titlesIn(ns::arrayWithContentsOfFile(documents("Favorites-VeltraIpad.plist")).get());
    }
    std::vector<std::string> savedGroups() const {
        return titlesIn(ns::arrayWithContentsOfFile(documents("Grupos-VeltraIpad.plist")).get());
    }
    ns::Ref<ns::Dictionary> group(const std::string& title, std::vector<ns::Ref<ns::Object>> cards) {
        return ns::Dictionary::make({{"Title", s(title)}, {"Children", ns::Array::make(std::move(cards))},
                                     {"color", s("silver")}, {"Editable", s("YES")}});
    }
};

TEST_F(TabletListTest, RowsShowTheirLookFromTheirKeys) {
    ASSERT_TRUE(openSmallDeck());
    ui::TableView* t = list()->myTableView();
    ASSERT_TRUE(t);
    // The table fills the list below the back button's strip.
    ui::Rect b = list()->bounds();
    EXPECT_EQ(ui::toString(t->frame()), ui::toString(ui::makeRect(0, 44, b.width(), b.height() - 44)));
    EXPECT_EQ(ui::toString(list()->btnAtras()->frame()), "{{0, 0}, {100, 40}}");
    EXPECT_EQ(list()->btnAtras()->autoresizingMask(), static_cast<unsigned>(ui::AutoresizingFlexibleRightMargin));
    auto heading = list()->tableViewCellForRowAtIndexPath(t, {0, 0});
    ASSERT_TRUE(heading);
    EXPECT_EQ(heading->textLabel()->text(), "heading");
    EXPECT_EQ(heading->accessoryType(), ui::TableViewCellAccessoryType::None);
    EXPECT_EQ(heading->selectionStyle(), ui::TableViewCellSelectionStyle::None);
    EXPECT_EQ(heading->textLabel()->textColor()->shortName(), "black");
    EXPECT_EQ(imageName(heading->backgroundView().get()), "menu-silver.png");
    EXPECT_EQ(heading->reuseIdentifier(), "CellIdentifier_0");
    EXPECT_EQ(list()->tableViewHeightForRowAtIndexPath(t, {0, 0}), 40);
    EXPECT_EQ(list()->tableViewHeightForRowAtIndexPath(t, {0, 1}), 55);

    auto sub = list()->tableViewCellForRowAtIndexPath(t, {0, 1});
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->textLabel()->text(), "sub menu");
    EXPECT_EQ(sub->detailTextLabel()->text(), "two cards");
    EXPECT_EQ(sub->textLabel()->font()->fontName(), "Helvetica");
    EXPECT_EQ(sub->textLabel()->font()->pointSize(), 21);
    EXPECT_EQ(sub->detailTextLabel()->font()->pointSize(), 13);
    EXPECT_EQ(sub->textLabel()->textColor()->shortName(), "white");
    EXPECT_EQ(sub->accessoryType(), ui::TableViewCellAccessoryType::DisclosureIndicator);
    EXPECT_EQ(sub->selectionStyle(), ui::TableViewCellSelectionStyle::Gray);
    EXPECT_EQ(imageName(sub->backgroundView().get()), "FranjaCarta-green.png");

    // A row with a subtitle has a white title whatever its colour.
    auto tactic = list()->tableViewCellForRowAtIndexPath(t, {0, 2});
    ASSERT_TRUE(tactic);
    EXPECT_EQ(tactic->textLabel()->textColor()->shortName(), "white");
    EXPECT_EQ(imageName(tactic->backgroundView().get()), "FranjaCarta-silver.png");

    auto invite = list()->tableViewCellForRowAtIndexPath(t, {0, 6});
    ASSERT_TRUE(invite);
    EXPECT_EQ(imageName(invite->backgroundView().get()), "FranjaCarta-flat.png");
    auto cardCell = list()->tableViewCellForRowAtIndexPath(t, {0, 9});
    ASSERT_TRUE(cardCell);
    EXPECT_EQ(cardCell->textLabel()->text(), "card one");
    EXPECT_EQ(cardCell->textLabel()->font()->pointSize(), 16);
    EXPECT_EQ(cardCell->textLabel()->textColor()->shortName(), "white");  // blue
    auto groupsRow = list()->tableViewCellForRowAtIndexPath(t, {0, 4});
    ASSERT_TRUE(groupsRow);
    EXPECT_EQ(groupsRow->textLabel()->textColor()->shortName(), "black");  // silver
    EXPECT_EQ(cardCell->detailTextLabel()->text(), "");
    EXPECT_FALSE(list()->tableViewCanEditRowAtIndexPath(t, {0, 9}));
}

TEST_F(TabletListTest, HeadingIgnoresTaps) {
    ASSERT_TRUE(openSmallDeck());
    auto before = listTitles();
    size_t posts = 0;
    auto token = ns::NotificationCenter::defaultCenter()->addObserver("", nullptr, [&](const ns::Notification& n) {
        if (n.name() != "ApplicationDidBecomeActiveNotification") ++posts;
    });
    ASSERT_TRUE(driver->tapRow("heading"));
    EXPECT_EQ(posts, 0u);
    EXPECT_EQ(listTitles(), before);
    EXPECT_EQ(paneTitle(), "Main Deck");
}

TEST_F(TabletListTest, SubMenuPushesItsChildrenAndBackReturns) {
    ASSERT_TRUE(openSmallDeck());
    EXPECT_TRUE(list()->btnAtras()->isHidden());
    ASSERT_TRUE(driver->tapRow("sub menu"));
    EXPECT_EQ(paneTitle(), "Sub Menu");
    EXPECT_EQ(shownCardTitle(), "Card One");
    EXPECT_EQ(listTitles(), (std::vector<std::string>{"card one", "card two"}));
    EXPECT_FALSE(list()->btnAtras()->isHidden());
    ASSERT_TRUE(driver->tapRow("card two"));
    EXPECT_EQ(shownCardTitle(), "Card Two");
    EXPECT_NE(pageHTML().find("page 2"), std::string::npos);

    // The deck list was shown with ActualizaTableView (not on the stack):
    // Back with the sub-list alone on the stack does nothing.
    ASSERT_EQ(list()->StackObjetosTableView()->count(), 1u);
    ASSERT_TRUE(driver->tapButton("Back"));
    EXPECT_EQ(listTitles(), (std::vector<std::string>{"card one", "card two"}));
}

TEST_F(TabletListTest, TacticsRowRestartsTheStackAndPushesWithoutPostingACard) {
    ASSERT_TRUE(openSmallDeck());
    std::string cardBefore = shownCardTitle();
    ASSERT_TRUE(driver->tapRow("tactic row"));
    EXPECT_EQ(listTitles(), std::vector<std::string>{"card three"});
    EXPECT_EQ(shownCardTitle(), cardBefore);
    EXPECT_EQ(paneTitle(), "Main Deck");
    EXPECT_EQ(list()->StackObjetosTableView()->count(), 2u);
    ASSERT_TRUE(driver->tapButton("Back"));
    EXPECT_EQ(listTitles().front(), "heading");
    EXPECT_TRUE(list()->btnAtras()->isHidden());
    EXPECT_FALSE(driver->tapButton("Back"));  // hidden with one list left
}

// The list a row tap leaves (rows that make it the root again, and a sub
// menu pushed over it) is where Back finds it again, scrolled as it was.
TEST_F(TabletListTest, BackFindsTheListWhereARowTapLeftIt) {
    ASSERT_TRUE(openSmallDeck());
    ui::TableView* table = list()->myTableView();
    ui::Rect shortTable = table->frame();
    shortTable.size.height = 2 * ViewTableList::kRowHeight;
    table->setFrame(shortTable);
    struct Tap {
        const char* row;
        long index;
    } taps[] = {{"tactic row", 2}, {"questions row", 3}, {"groups row", 4}, {"sub menu", 1}, {"groups row", 4}};
    for (const Tap& tap : taps) {
        SCOPED_TRACE(tap.row);
        table->scrollToRowAtIndexPath({0, tap.index}, ui::TableViewScrollPosition::Top, false);
        const double leftAt = table->contentOffset().y;
        ASSERT_GT(leftAt, 0);
        ASSERT_TRUE(driver->tapRow(tap.row)) << driver->lastError();
        EXPECT_EQ(table->contentOffset().y, 0);
        ASSERT_TRUE(driver->tapButton("Back")) << screen();
        EXPECT_EQ(listTitles().front(), "heading");
        EXPECT_EQ(table->contentOffset().y, leftAt) << screen();
        EXPECT_TRUE(table->cellForRowAtIndexPath({0, tap.index})) << screen();
    }
}

// The back stack remembers where each list on it was left, however deep,
// and however it was left: another list pushed over it, or one shown in its
// place by the hub (which leaves the stack as it is). A list on the stack
// that was never shown comes at its first row.
TEST_F(TabletListTest, TheBackStackRemembersWhereEachListWasLeft) {
    ASSERT_TRUE(openSmallDeck());
    auto pane = ViewTableList::make(ui::makeRect(0, 0, 300, 44 + 3 * ViewTableList::kRowHeight));
    ui::TableView* table = pane->myTableView();
    ASSERT_TRUE(table);
    const auto rows = [](const std::string& name, int count) {
        auto out = ns::MutableArray::make();
        for (int i = 0; i < count; ++i) out->addObject(row({{"Title", s(name + " " + std::to_string(i))}}));
        return ns::Ref<ns::Array>(out);
    };
    auto a = rows("a", 20), b = rows("b", 20), c = rows("c", 20), d = rows("d", 2), never = rows("never", 20);
    // The hub never offered nor withdrew the card buttons for these lists:
    // Back leaves them as they are.
    std::vector<bool> offered;
    pane->setCardButtonsHandler([&offered](bool shown) { offered.push_back(shown); });
    const auto scrollTo = [table](long row) {
        table->scrollToRowAtIndexPath({0, row}, ui::TableViewScrollPosition::Top, false);
        return table->contentOffset().y;
    };
    pane->PushOnTable(a);
    const double atA = scrollTo(5);
    pane->PushOnTable(b);
    EXPECT_EQ(table->contentOffset().y, 0);
    const double atB = scrollTo(12);
    ASSERT_GT(atA, 0);
    ASSERT_NE(atA, atB);
    pane->ActualizaTableView(c);
    EXPECT_EQ(table->contentOffset().y, 0);
    scrollTo(3);
    pane->PushOnTable(d);
    pane->StackObjetosTableView()->insertObjectAtIndex(never, 0);
    struct Back {
        const char* name;
        const ns::Array* shows;
        double at;
    } backs[] = {{"the list the hub's list replaced", b.get(), atB},
                 {"the list under it", a.get(), atA},
                 {"a list never shown", never.get(), 0}};
    for (const Back& back : backs) {
        SCOPED_TRACE(back.name);
        pane->ClicAtras(nullptr);
        EXPECT_EQ(pane->arayObjetosTableView(), back.shows);
        EXPECT_EQ(table->contentOffset().y, back.at);
    }
    EXPECT_TRUE(offered.empty());

    // Another list made the root shows from its top; the shown list made
    // the root again stays where it is.
    scrollTo(10);
    pane->SetRootTable(b);
    EXPECT_EQ(pane->arayObjetosTableView(), b.get());
    EXPECT_EQ(table->contentOffset().y, 0);
    ui::TableViewCell* first = table->cellForRowAtIndexPath({0, 0});
    ASSERT_TRUE(first);
    EXPECT_EQ(first->textLabel()->text(), "b 0");
    const double atRoot = scrollTo(7);
    ASSERT_GT(atRoot, 0);
    pane->SetRootTable(b);
    EXPECT_EQ(table->contentOffset().y, atRoot);
    EXPECT_EQ(pane->StackObjetosTableView()->count(), 1u);
}

// Back shows again what the card pane showed for the list it brings back:
// its title, its mode and whether the card buttons are offered, for every
// kind of list on the back stack, at each depth.
TEST_F(TabletListTest, BackRestoresThePanesTitleModeAndButtonsOfEachList) {
    ASSERT_TRUE(openSmallDeck());
    auto inner = row({{"Title", s("Inner")}, {"Children", ns::Array::make({c3()})}});
    ASSERT_TRUE(delegate->addGroup(group("Mine", {c2(), inner})));
    struct Look {
        std::string title;
        long mode;
        bool buttons;
    };
    const auto look = [&]() { return Look{paneTitle(), pane()->modo(), !pane()->btnAddFavorites()->isHidden()}; };
    struct Walk {
        const char* name;
        const char* start;  // the hub button that shows the root list
        const char* card;   // a card of the root list shown first, if any
        std::vector<const char*> rows;    // tapped one after another, each opening a list
        std::vector<const char*> titles;  // the pane's title after each tap
        std::vector<long> modes;          // and its mode
        size_t backs;  // how many lists the back stack then holds over its root
        bool offered;  // whether the root list offers the card buttons
    } walks[] = {
        {"groups, a group, a list in it", "Main Deck", "card one", {"groups row", "mine", "inner"},
         {"Groups:", "Mine", "Inner"}, {0, 0, 0}, 3, true},
        {"a sub menu", "Main Deck", "card one", {"sub menu"}, {"Sub Menu"}, {0}, 1, true},
        {"questions", "Main Deck", "card one", {"questions row"}, {"Questions Row"}, {0}, 1, true},
        {"tactics", "Interview", "card one", {"interview tactic"}, {"Interview"}, {2}, 1, true},
        // The groups row makes the tactics list the root.
        {"tactics, then groups", "Interview", "card one", {"interview tactic", "tactic groups", "mine"},
         {"Interview", "Groups:", "Mine"}, {2, 0, 0}, 2, true},
        {"practice, then groups", "Practice", nullptr, {"practice groups", "mine", "inner"},
         {"Groups:", "Mine", "Inner"}, {0, 0, 0}, 3, true},
        {"information, then groups", "Info", nullptr, {"info groups", "mine"}, {"Groups:", "Mine"}, {0, 0}, 2, false},
    };
    for (const Walk& walk : walks) {
        SCOPED_TRACE(walk.name);
        ASSERT_TRUE(driver->tapButton(walk.start)) << driver->lastError();
        if (walk.card) {
            ASSERT_TRUE(driver->tapRow(walk.card)) << driver->lastError();
        }
        std::vector<Look> looks{look()};
        ASSERT_EQ(looks[0].buttons, walk.offered) << screen();
        for (size_t i = 0; i < walk.rows.size(); ++i) {
            ASSERT_TRUE(driver->tapRow(walk.rows[i])) << driver->lastError() << "\n" << screen();
            EXPECT_EQ(paneTitle(), walk.titles[i]);
            EXPECT_EQ(pane()->modo(), walk.modes[i]);
            looks.push_back(look());
        }
        for (size_t i = walk.rows.size(); i-- > walk.rows.size() - walk.backs;) {
            SCOPED_TRACE(std::string("back from ") + walk.rows[i]);
            ASSERT_TRUE(driver->tapButton("Back")) << screen();
            EXPECT_EQ(paneTitle(), looks[i].title);
            EXPECT_EQ(pane()->modo(), looks[i].mode);
            EXPECT_EQ(look().buttons, looks[i].buttons);
        }
        EXPECT_TRUE(list()->btnAtras()->isHidden());
    }
}

TEST_F(TabletListTest, QuestionsRowShowsItsFirstCardAndItsList) {
    ASSERT_TRUE(openSmallDeck());
    postTablet(kModificarModo, ns::num(2));
    ASSERT_TRUE(driver->tapRow("questions row"));
    EXPECT_EQ(pane()->modo(), kModoNavegacion);
    EXPECT_EQ(paneTitle(), "Questions Row");
    EXPECT_EQ(shownCardTitle(), "Card Two");
    EXPECT_EQ(listTitles(), (std::vector<std::string>{"card two", "card three"}));
    ASSERT_TRUE(driver->tapButton("Back"));
    EXPECT_EQ(listTitles().size(), 10u);
}

TEST_F(TabletListTest, GroupsRowListsTheGroupsAndBackReturns) {
    ASSERT_TRUE(openSmallDeck());
    ASSERT_TRUE(delegate->addGroup(group("Mine", {c2()})));
    ASSERT_TRUE(driver->tapRow("groups row"));
    EXPECT_EQ(listTitles(), (std::vector<std::string>{"add new group (swipe to delete)", "mine"}));
    EXPECT_EQ(paneTitle(), "Groups:");
    EXPECT_EQ(rowString(pane()->DicDeCarta(), "ActionData"), "VELTRA_Blanco.html");
    EXPECT_TRUE(pane()->btnAddFavorites()->isHidden());
    EXPECT_FALSE(list()->btnAtras()->isHidden());
    ASSERT_TRUE(driver->tapRow("mine"));
    EXPECT_EQ(paneTitle(), "Mine");
    EXPECT_EQ(shownCardTitle(), "Card Two");
    ASSERT_TRUE(driver->tapButton("Back"));
    EXPECT_EQ(listTitles().front(), "add new group (swipe to delete)");
    ASSERT_TRUE(driver->tapButton("Back"));
    EXPECT_EQ(listTitles().front(), "heading");
    EXPECT_TRUE(list()->btnAtras()->isHidden());

    // A list opened after a long scroll in another shows its first rows (a
    // short group, a group as long as the groups list); a list that Back
    // brings again shows where it was left.
    std::vector<ns::Ref<ns::Object>> manyCards;
    for (int i = 0; i < 30; ++i) manyCards.push_back(i % 2 ? c3() : c2());
    for (int i = 2; i <= 29; ++i) ASSERT_TRUE(delegate->addGroup(group("Group " + std::to_string(i), {c1()})));
    ASSERT_TRUE(delegate->addGroup(group("Far and short", {c2(), c3()})));
    ASSERT_TRUE(delegate->addGroup(group("Far and long", manyCards)));
    ui::TableView* table = list()->myTableView();
    auto firstShownRow = [&]() -> long {
        auto shown = table->indexPathsForVisibleRows();
        return shown.empty() ? -1 : shown.front().row;
    };
    struct Opened {
        const char* name;
        const char* group;
        const char* title;
    } opened[] = {{"a short group", "far and short", "Far and short"}, {"a long group", "far and long", "Far and long"}};
    for (const Opened& o : opened) {
        SCOPED_TRACE(o.name);
        ASSERT_TRUE(driver->tapRow("groups row")) << driver->lastError();
        // The group's row is scrolled into sight, as a person scrolls to it.
        const auto titles = listTitles();
        const long groupRow = std::find(titles.begin(), titles.end(), o.group) - titles.begin();
        ASSERT_LT(groupRow, static_cast<long>(titles.size()));
        table->scrollToRowAtIndexPath({0, groupRow}, ui::TableViewScrollPosition::None, false);
        const double leftAt = table->contentOffset().y;
        ASSERT_GT(firstShownRow(), 0) << screen();
        ASSERT_TRUE(driver->tapRow(o.group)) << driver->lastError() << "\n" << screen();
        EXPECT_EQ(firstShownRow(), 0) << screen();
        EXPECT_EQ(table->contentOffset().y, 0);
        EXPECT_EQ(paneTitle(), o.title);
        ASSERT_TRUE(driver->tapButton("Back"));
        EXPECT_EQ(table->contentOffset().y, leftAt) << screen();
        EXPECT_TRUE(table->cellForRowAtIndexPath({0, groupRow})) << screen();
        ASSERT_TRUE(driver->tapButton("Back"));
        EXPECT_EQ(firstShownRow(), 0) << screen();
        EXPECT_EQ(listTitles().front(), "heading");
    }

    // Back into a table grown taller meanwhile: the list's last rows, never
    // a place past its end.
    ASSERT_TRUE(driver->tapRow("groups row")) << driver->lastError();
    const long lastRow = table->numberOfRowsInSection(0) - 1;
    table->scrollToRowAtIndexPath({0, lastRow}, ui::TableViewScrollPosition::Bottom, false);
    const double leftAt = table->contentOffset().y;
    ASSERT_GT(leftAt, 0);
    ASSERT_TRUE(driver->tapRow("far and long")) << driver->lastError();
    ui::Rect taller = table->frame();
    taller.size.height += 3 * ViewTableList::kRowHeight;
    table->setFrame(taller);
    ASSERT_TRUE(driver->tapButton("Back"));
    EXPECT_EQ(table->contentOffset().y, table->contentSize().height - table->bounds().height()) << screen();
    EXPECT_LT(table->contentOffset().y, leftAt);
    EXPECT_TRUE(table->cellForRowAtIndexPath({0, lastRow})) << screen();
}

TEST_F(TabletListTest, AddGroupRowOpensTheGroupEditor) {
    ASSERT_TRUE(openSmallDeck());
    ASSERT_TRUE(driver->tapRow("groups row"));
    ASSERT_TRUE(driver->tapRow("add new group (swipe to delete)"));
    auto* editor = dynamic_cast<NewGroupViewControllerIpad*>(root()->presentedViewController());
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->modalPresentationStyle(), ui::ModalPresentationStyle::FormSheet);
}

TEST_F(TabletListTest, OtherPracticeRowsStartRandomPractice) {
    ASSERT_TRUE(openSmallDeck());
    ASSERT_TRUE(driver->tapRow("random row"));
    EXPECT_EQ(paneTitle(), "Practice");
    EXPECT_EQ(pane()->modo(), kModoRandom);
    EXPECT_EQ(listTitles(), (std::vector<std::string>{"practice", "practice groups"}));
}

TEST_F(TabletListTest, ActionRowsOpenTheReferralAndSignUpOverlays) {
    ASSERT_TRUE(openSmallDeck());
    ui::View* rootView = root()->view();
    ASSERT_TRUE(driver->tapRow("invite row"));
    UIViewReferral* referral = nullptr;
    for (auto& v : rootView->subviews()) if (auto* r = dynamic_cast<UIViewReferral*>(v.get())) referral = r;
    ASSERT_TRUE(referral);
    EXPECT_EQ(referral->frame().origin.y, 60);
    EXPECT_EQ(referral->frame().size.height, hub()->view()->frame().size.height);
    referral->removeFromSuperview();
    ASSERT_TRUE(driver->tapRow("join row"));
    bool signUp = false;
    for (auto& v : rootView->subviews()) signUp |= dynamic_cast<UIViewSingUp*>(v.get()) != nullptr;
    EXPECT_TRUE(signUp);
}

TEST_F(TabletListTest, MailRowOpensTheComposerWithItsFields) {
    ASSERT_TRUE(openSmallDeck());
    mail::MailComposeViewController::setCanSendMail(true);
    ASSERT_TRUE(driver->tapRow("mail row"));
    auto* composer = dynamic_cast<mail::MailComposeViewController*>(root()->presentedViewController());
    ASSERT_TRUE(composer);
    EXPECT_EQ(composer->message().to, std::vector<std::string>{"deck@korvel.example"});
    EXPECT_EQ(composer->message().subject, "Subject line");
    EXPECT_EQ(composer->message().body, "<p>Body</p>");
    sendToARefusedAddress(*driver);
    EXPECT_EQ(root()->presentedViewController(), composer) << "the composer stays with its alert";
    composer->cancel();
}

TEST_F(TabletListTest, CardRowShowsTheCard) {
    ASSERT_TRUE(openSmallDeck());
    ASSERT_TRUE(driver->tapRow("card one"));
    EXPECT_EQ(shownCardTitle(), "Card One");
    EXPECT_EQ(imageName(pane()->imgCabeza()), "CabezaCarta-blue.png");
    EXPECT_EQ(imageName(pane()->imgCuerpo()), "FondoCarta-blue.png");
    EXPECT_NE(pageHTML().find("<body style='font-size: 13px' class='x'>"), std::string::npos) << pageHTML();
}

TEST_F(TabletListTest, DeckButtonPastTheEndOfTheDeckListDoesNothing) {
    ASSERT_TRUE(openSmallDeck());
    auto before = listTitles();
    ASSERT_TRUE(driver->tapButton("Second Deck"));
    EXPECT_EQ(listTitles(), std::vector<std::string>{"card three"});
    ASSERT_TRUE(driver->tapButton("Deck 5"));
    EXPECT_EQ(listTitles(), std::vector<std::string>{"card three"});
    EXPECT_EQ(paneTitle(), "Second Deck");
    ASSERT_TRUE(lastEvent("MenuButtonClick")->parameters);
    ASSERT_TRUE(lastEvent("MenuButtonClick")->parameters->numberForKey("ButtonIndex"));
    EXPECT_EQ(lastEvent("MenuButtonClick")->parameters->numberForKey("ButtonIndex")->longValue(), 1);
}

TEST_F(TabletListTest, SwipingFavouritesAwayRewritesTheFileUntilTheLastIsGone) {
    ASSERT_TRUE(openSmallDeck());
    ASSERT_NO_FATAL_FAILURE(favouriteThreeCardsAndOpenFavourites());
    EXPECT_EQ(listTitles(), (std::vector<std::string>{"card one", "card two", "card three"}));
    EXPECT_TRUE(list()->tableViewCanEditRowAtIndexPath(list()->myTableView(), {0, 0}));

    ASSERT_TRUE(driver->deleteRow("card two")) << driver->lastError();
    EXPECT_EQ(listTitles(), (std::vector<std::string>{"card one", "card three"}));
    EXPECT_EQ(titlesIn(delegate->allFavorites()), (std::vector<std::string>{"Card One", "Card Three"}));
    EXPECT_EQ(peerTitles("Favorites-VeltraIpad.plist"), "Card One|Card Three");
    EXPECT_EQ(paneTitle(), "Favorites");

    ASSERT_TRUE(driver->deleteRow("card one"));
    ASSERT_TRUE(driver->deleteRow("card three"));
    EXPECT_EQ(delegate->allFavorites()->count(), 0u);
    EXPECT_EQ(peerTitles("Favorites-VeltraIpad.plist"), "");
    ASSERT_TRUE(topAlert());
    EXPECT_EQ(topAlert()->title(), "Favorites");
    EXPECT_EQ(topAlert()->message(), "There are no letters added.");
    EXPECT_EQ(topAlert()->buttonTitles(), std::vector<std::string>{"accept"});
    ASSERT_TRUE(driver->pressAlertButton("accept"));
    EXPECT_EQ(paneTitle(), "Main Deck");
    EXPECT_EQ(listTitles().front(), "heading");
}

TEST_F(TabletListTest, DeletingAFavouriteRemovesThatRowsRecordEvenFromAStaleList) {
    ASSERT_TRUE(openSmallDeck());
    ASSERT_NO_FATAL_FAILURE(favouriteThreeCardsAndOpenFavourites());
    // The favourites change behind the list's back: it still shows three.
    ASSERT_TRUE(delegate->removeFavoriteAtIndex(0));
    ASSERT_TRUE(driver->deleteRow("card two"));  // row 1 of the stale list
    EXPECT_EQ(titlesIn(delegate->allFavorites()), std::vector<std::string>{"Card Three"});
    EXPECT_EQ(peerTitles("Favorites-VeltraIpad.plist"), "Card Three");
    EXPECT_EQ(listTitles(), std::vector<std::string>{"card three"});
}

TEST_F(TabletListTest, FavouritesAreSwipedAwayByTheirMarkAndADamagedOneAlways) {
    // On file: a favourite with its "Editable" mark, an entry that is not a
    // row, and a row without the mark (not written by this app).
    auto marked = c1()->mutableCopy();
    marked->setObject(s("YES"), "Editable");
    auto stored = ns::Array::make({marked, s("not a card"), c2()});
    writeFile(documents("Favorites-VeltraIpad.plist"), "");  // makes the folder
    ASSERT_TRUE(ns::writeToFile(*stored, documents("Favorites-VeltraIpad.plist")));
    ASSERT_TRUE(openSmallDeck());
    ASSERT_TRUE(driver->tapButton("Favorites"));
    EXPECT_EQ(listTitles(), (std::vector<std::string>{"card one", "damaged entry", "card two"}));
    ui::TableView* table = list()->myTableView();
    ASSERT_TRUE(table);
    struct Row { long row; bool editable; };
    for (Row r : {Row{0, true}, Row{1, true}, Row{2, false}, Row{3, false}})
        EXPECT_EQ(list()->tableViewCanEditRowAtIndexPath(table, {0, r.row}), r.editable) << "row " << r.row;

    ASSERT_TRUE(driver->deleteRow("damaged entry")) << driver->lastError();
    EXPECT_FALSE(topAlert());
    EXPECT_EQ(peerTitles("Favorites-VeltraIpad.plist"), "Card One|Card Two");
    EXPECT_EQ(listTitles(), (std::vector<std::string>{"card one", "card two"}));
}

TEST_F(TabletListTest, AFavouriteThatCannotBeDeletedFromTheFileStays) {
    ASSERT_TRUE(openSmallDeck());
    addFavourite("card one");
    ASSERT_TRUE(driver->tapButton("Favorites"));
    blockDocumentsFile("Favorites-VeltraIpad.plist");
    ASSERT_TRUE(driver->deleteRow("card one"));
    ASSERT_TRUE(topAlert());
    EXPECT_EQ(topAlert()->title(), "Error");
    EXPECT_EQ(titlesIn(delegate->allFavorites()), std::vector<std::string>{"Card One"});
    EXPECT_EQ(listTitles(), std::vector<std::string>{"card one"});
}

TEST_F(TabletListTest, SwipingAGroupAwayRemovesThatGroupAndRewritesTheFile) {
    ASSERT_TRUE(openSmallDeck());
    ASSERT_TRUE(delegate->addGroup(group("First", {c1()})));
    ASSERT_TRUE(delegate->addGroup(group("Second", {c2()})));
    ASSERT_TRUE(delegate->addGroup(group("Third", {c3()})));
    ASSERT_TRUE(driver->tapRow("groups row"));
    EXPECT_FALSE(list()->tableViewCanEditRowAtIndexPath(list()->myTableView(), {0, 0}));
    ASSERT_TRUE(driver->deleteRow("first"));
    EXPECT_EQ(listTitles(), (std::vector<std::string>{"add new group (swipe to delete)", "second", "third"}));
    EXPECT_EQ(titlesIn(delegate->allGroups()), (std::vector<std::string>{"Second", "Third"}));
    EXPECT_EQ(peerTitles("Grupos-VeltraIpad.plist"), "Second|Third");

    // Behind the list's back the first stored group goes; the row "third"
    // still deletes the group "Third".
    ASSERT_TRUE(delegate->removeGroupAtIndex(0));
    ASSERT_TRUE(driver->deleteRow("third"));
    EXPECT_EQ(delegate->allGroups()->count(), 0u);
    EXPECT_EQ(peerTitles("Grupos-VeltraIpad.plist"), "");
    ASSERT_TRUE(driver->tapButton("Back"));
    EXPECT_EQ(listTitles().front(), "heading");
}

TEST_F(TabletListTest, AGroupReadAgainSinceTheListWasShownIsStillTheOneDeleted) {
    ASSERT_TRUE(openSmallDeck());
    ASSERT_TRUE(delegate->addGroup(group("First", {c1()})));
    ASSERT_TRUE(delegate->addGroup(group("Second", {c2()})));
    ASSERT_TRUE(driver->tapRow("groups row"));
    // The stored groups are replaced by equal records read again (not the
    // objects the list shows): the row still finds its group by its value.
    ns::MutableArray* groups = delegate->allGroups();
    ASSERT_TRUE(groups);
    for (size_t i = 0; i < groups->count(); ++i) {
        auto* g = ns::as<ns::Dictionary>(groups->at(i).get());
        ASSERT_TRUE(g);
        groups->replaceObjectAtIndex(i, g->mutableCopy());
    }
    ASSERT_TRUE(driver->deleteRow("second")) << driver->lastError();
    EXPECT_FALSE(topAlert());
    EXPECT_EQ(titlesIn(delegate->allGroups()), std::vector<std::string>{"First"});
    EXPECT_EQ(peerTitles("Grupos-VeltraIpad.plist"), "First");
    EXPECT_EQ(listTitles(), (std::vector<std::string>{"add new group (swipe to delete)", "first"}));
}

// Two records with equal contents are two rows: the row swiped away takes
// its own record, and the equal one beside it stays (the same object), for
// the favourites and the groups alike.
TEST_F(TabletListTest, OfTwoEqualRecordsTheRowSwipedAwayTakesItsOwn) {
    auto marked = [] {
        auto m = c1()->mutableCopy();
        m->setObject(s("YES"), "Editable");
        return m;
    };
    writeFile(documents("Favorites-VeltraIpad.plist"), "");  // makes the folder
    ASSERT_TRUE(ns::writeToFile(*ns::Array::make({marked(), marked(), c2()}), documents("Favorites-VeltraIpad.plist")));
    ASSERT_TRUE(openSmallDeck());
    ns::MutableArray* favourites = delegate->allFavorites();
    ASSERT_TRUE(favourites && favourites->count() == 3u);
    ASSERT_TRUE(favourites->at(0)->isEqual(*favourites->at(1)));
    ns::Ref<ns::Object> first = favourites->at(0), third = favourites->at(2);
    ASSERT_TRUE(driver->tapButton("Favorites"));
    ASSERT_EQ(listTitles(), (std::vector<std::string>{"card one", "card one", "card two"}));
    ui::TableView* table = list()->myTableView();
    ASSERT_TRUE(table);
    list()->tableViewCommitEditingStyle(table, ui::TableViewCellEditingStyle::Delete, {0, 1});
    ASSERT_EQ(favourites->count(), 2u);
    EXPECT_EQ(favourites->at(0).get(), first.get()) << "the first of the two equal favourites was taken";
    EXPECT_EQ(favourites->at(1).get(), third.get());
    EXPECT_EQ(peerTitles("Favorites-VeltraIpad.plist"), "Card One|Card Two");
    EXPECT_EQ(listTitles(), (std::vector<std::string>{"card one", "card two"}));

    // A group record without cards (written elsewhere) is a group all the
    // same: its row deletes it, never a favourite.
    ASSERT_TRUE(delegate->addGroup(row({{"Title", s("Bare")}, {"Editable", s("YES")}})));
    auto firstGroup = group("Same", {c1()}), secondGroup = group("Same", {c1()});
    ASSERT_TRUE(firstGroup->isEqual(*secondGroup));
    ASSERT_TRUE(delegate->addGroup(firstGroup));
    ASSERT_TRUE(delegate->addGroup(secondGroup));
    ASSERT_TRUE(delegate->addGroup(group("Other", {c2()})));
    ASSERT_TRUE(driver->tapButton("Main Deck"));
    ASSERT_TRUE(driver->tapRow("groups row"));
    ASSERT_EQ(listTitles(),
              (std::vector<std::string>{"add new group (swipe to delete)", "bare", "same", "same", "other"}));
    list()->tableViewCommitEditingStyle(table, ui::TableViewCellEditingStyle::Delete, {0, 3});
    ns::MutableArray* groups = delegate->allGroups();
    ASSERT_TRUE(groups && groups->count() == 3u);
    EXPECT_EQ(groups->at(1).get(), static_cast<ns::Object*>(firstGroup.get()))
        << "the first of the two equal groups was taken";
    EXPECT_EQ(peerTitles("Grupos-VeltraIpad.plist"), "Bare|Same|Other");
    EXPECT_EQ(listTitles(), (std::vector<std::string>{"add new group (swipe to delete)", "bare", "same", "other"}));
    list()->tableViewCommitEditingStyle(table, ui::TableViewCellEditingStyle::Delete, {0, 1});
    EXPECT_EQ(peerTitles("Grupos-VeltraIpad.plist"), "Same|Other");
    EXPECT_EQ(peerTitles("Favorites-VeltraIpad.plist"), "Card One|Card Two");
    EXPECT_EQ(listTitles(), (std::vector<std::string>{"add new group (swipe to delete)", "same", "other"}));
}

TEST_F(TabletListTest, AGroupDeletedFromAListOffTheBackStackLeavesTheStackAsItWas) {
    // The second deck holds a row equal to a saved group, and a sub-list.
    auto mainDeck = ns::Array::make({row({{"Title", s("Tactic Row")}, {"tactics", s("YES")},
                                          {"Children", ns::Array::make({c3()})}}),
                                     c1()});
    auto secondDeck = ns::Array::make({group("Mine", {c2()}), row({{"Title", s("Sub")}, {"Children", ns::Array::make({c1()})}})});
    auto decks = ns::Array::make({row({{"Title", s("Main Deck")}, {"Children", mainDeck}}),
                                  row({{"Title", s("Second Deck")}, {"Children", secondDeck}})});
    ASSERT_TRUE(openHub("Main Deck", makeBundle(decks, ns::Array::make({c1(), c2(), c3()}))));
    ASSERT_TRUE(delegate->addGroup(group("Mine", {c2()})));
    ASSERT_TRUE(driver->tapRow("tactic row"));  // back stack: the main deck, then its tactic list
    ASSERT_TRUE(driver->tapButton("Second Deck"));  // shown without going on the stack
    EXPECT_TRUE(list()->btnAtras()->isHidden());
    ASSERT_TRUE(driver->deleteRow("mine")) << driver->lastError();
    EXPECT_EQ(delegate->allGroups()->count(), 0u);
    EXPECT_EQ(listTitles(), std::vector<std::string>{"sub"});
    ASSERT_TRUE(driver->tapRow("sub"));
    ASSERT_TRUE(driver->tapButton("Back"));
    EXPECT_EQ(listTitles(), std::vector<std::string>{"card three"});
}

TEST_F(TabletListTest, DamagedGroupsShowAsSuchAndSwipingThemAwayRemovesThemFromTheFile) {
    auto stored = ns::Array::make({group("First", {c1()}), s("not a group"),
                                   row({{"Title", s("Broken")}, {"Children", s("oops")}, {"color", s("silver")},
                                        {"Editable", s("YES")}}),
                                   group("Last", {c2()})});
    writeFile(documents("Grupos-VeltraIpad.plist"), "");
    ASSERT_TRUE(ns::writeToFile(*stored, documents("Grupos-VeltraIpad.plist")));
    ASSERT_TRUE(openSmallDeck());
    EXPECT_NE(screen().find("tactic row"), std::string::npos);  // the deck's cells, reused below
    ASSERT_TRUE(driver->tapRow("groups row"));
    std::string shown = screen();
    EXPECT_EQ(shown.find("tactic row"), std::string::npos) << shown;
    EXPECT_NE(shown.find("damaged entry"), std::string::npos) << shown;
    EXPECT_EQ(listTitles(), (std::vector<std::string>{"add new group (swipe to delete)", "first", "damaged entry",
                                                      "broken", "last"}));
    ui::TableView* table = list()->myTableView();
    ASSERT_TRUE(table);
    // The damaged entry shows in the cell the deck's "tactic row" had (a
    // strip, a subtitle, a larger white title): nothing of that is left.
    ui::TableViewCell* reused = table->cellForRowAtIndexPath({0, 2});
    ASSERT_TRUE(reused);
    EXPECT_EQ(reused->textLabel()->text(), "damaged entry");
    EXPECT_FALSE(reused->backgroundView());
    EXPECT_EQ(reused->detailTextLabel()->text(), "");
    ASSERT_TRUE(reused->textLabel()->font());
    EXPECT_EQ(reused->textLabel()->font()->pointSize(), 16);
    ASSERT_TRUE(reused->textLabel()->textColor());
    EXPECT_EQ(reused->textLabel()->textColor()->shortName(), "black");
    EXPECT_EQ(reused->accessoryType(), ui::TableViewCellAccessoryType::None);
    EXPECT_EQ(reused->selectionStyle(), ui::TableViewCellSelectionStyle::None);
    auto broken = list()->tableViewCellForRowAtIndexPath(table, {0, 3});
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->detailTextLabel()->text(), "damaged group");
    EXPECT_EQ(broken->accessoryType(), ui::TableViewCellAccessoryType::None);
    auto damaged = list()->tableViewCellForRowAtIndexPath(table, {0, 2});
    ASSERT_TRUE(damaged);
    EXPECT_EQ(damaged->accessoryType(), ui::TableViewCellAccessoryType::None);
    EXPECT_FALSE(damaged->imageView()->image());

    // A tap on either changes nothing.
    std::string card = shownCardTitle();
    list()->tableViewDidSelectRowAtIndexPath(table, {0, 2});
    list()->tableViewDidSelectRowAtIndexPath(table, {0, 3});
    EXPECT_EQ(shownCardTitle(), card);
    EXPECT_EQ(listTitles().size(), 5u);

    // Both can be swiped away, and go from the groups file (not down the
    // favourites' road), also after another group went first.
    ASSERT_TRUE(driver->deleteRow("last")) << driver->lastError();
    EXPECT_EQ(titlesIn(delegate->allGroups()), (std::vector<std::string>{"First", "", "Broken"}));
    EXPECT_TRUE(list()->tableViewCanEditRowAtIndexPath(table, {0, 2}));
    ASSERT_TRUE(driver->deleteRow("damaged entry")) << driver->lastError();
    EXPECT_FALSE(topAlert());
    EXPECT_EQ(peerTitles("Grupos-VeltraIpad.plist"), "First|Broken");
    ASSERT_TRUE(driver->deleteRow("broken")) << driver->lastError();
    EXPECT_FALSE(topAlert());
    EXPECT_EQ(peerTitles("Grupos-VeltraIpad.plist"), "First");
    EXPECT_EQ(titlesIn(delegate->allGroups()), std::vector<std::string>{"First"});
    EXPECT_EQ(listTitles(), (std::vector<std::string>{"add new group (swipe to delete)", "first"}));
    // The deck's own rows with children stay undeletable.
    ASSERT_TRUE(driver->tapButton("Back"));
    EXPECT_FALSE(list()->tableViewCanEditRowAtIndexPath(table, {0, 1}));
}

TEST_F(TabletListTest, AGroupThatCannotBeDeletedFromTheFileStays) {
    ASSERT_TRUE(openSmallDeck());
    ASSERT_TRUE(delegate->addGroup(group("Keep", {c1()})));
    ASSERT_TRUE(driver->tapRow("groups row"));
    blockDocumentsFile("Grupos-VeltraIpad.plist");
    ASSERT_TRUE(driver->deleteRow("keep"));
    ASSERT_TRUE(topAlert());
    EXPECT_EQ(topAlert()->message(), "The group could not be deleted.");
    EXPECT_EQ(titlesIn(delegate->allGroups()), std::vector<std::string>{"Keep"});
    EXPECT_EQ(listTitles(), (std::vector<std::string>{"add new group (swipe to delete)", "keep"}));
}

}  // namespace app::test
