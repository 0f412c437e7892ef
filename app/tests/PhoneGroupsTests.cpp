// The phone's groups: the editor's checks and order of ticks, the list and
// its file, opening a group as a menu and its card as a page, deleting by
// swipe, reading back after a restart, and saves that fail.
#include "app/tests/AppTestSupport.h"

#include "app/ContentModel.h"
#include "app/GroupCardList.h"
#include "app/phone/CardViewController.h"
#include "app/phone/MenuViewController.h"
#include "app/phone/NewGroupController.h"
#include "app/phone/SavedGroupsFile.h"
#include "app/phone/ViewGroupsController.h"

namespace app::test {

namespace {

NewGroupController* shownEditor() {
    auto* w = ui::Application::shared()->keyWindow();
    return w ? dynamic_cast<NewGroupController*>(w->topViewController()) : nullptr;
}

ui::AlertView* topAlert() { return dynamic_cast<ui::AlertView*>(ui::Panel::topPanel()); }

// [name, [card titles]] of each group in the file, read independently.
std::vector<std::pair<std::string, std::vector<std::string>>> groupsInFile(const std::string& path) {
    std::vector<std::pair<std::string, std::vector<std::string>>> out;
    auto root = ns::arrayWithContentsOfFile(path);
    if (!root) return out;
    for (size_t i = 0; i < root->count(); ++i) {
        auto* g = root->objectAtIndexAs<ns::Dictionary>(i);
        std::vector<std::string> titles;
        auto* cards = g ? g->objectForKeyAs<ns::Array>("SelectedCards") : nullptr;
        for (size_t j = 0; cards && j < cards->count(); ++j)
            titles.push_back(rowString(cards->objectAtIndexAs<ns::Dictionary>(j), "title"));
        out.push_back({rowString(g, "Name"), titles});
    }
    return out;
}

}  // namespace

class PhoneGroups : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        setRegistro();
    }
    std::string groupsFile() const { return documents("savedGroups-QuillonIphone.plist"); }
    ViewGroupsController* openGroups() {
        EXPECT_TRUE(driver->tapTab("Practice"));
        EXPECT_TRUE(driver->tapButton("Groups")) << driver->lastError();
        return topScreen<ViewGroupsController>();
    }
    // Through the editor: name, then the cards in order.
    void createGroup(const std::string& name, const std::vector<std::string>& cards) {
        ASSERT_TRUE(driver->tapRow(ViewGroupsController::kAddRowText)) << driver->lastError();
        ASSERT_TRUE(shownEditor()) << screen();
        if (!name.empty()) {
            ASSERT_TRUE(driver->typeText("Group name", name)) << driver->lastError();
        }
        for (auto& c : cards) ASSERT_TRUE(driver->tapRow(c)) << driver->lastError();
        ASSERT_TRUE(driver->tapButton("Save")) << driver->lastError();
    }
};

TEST_F(PhoneGroups, EditorChecksNameAndCardsThenSavesInTickOrder) {
    startPhone();
    ViewGroupsController* list = openGroups();
    ASSERT_TRUE(list);
    // The title bar: the back button at its left, the title between two
    // margins of 100 points, the table below the bar.
    ui::Rect b = list->view()->bounds();
    ui::Button* back = nullptr;
    for (auto& v : list->view()->subviews())
        if (auto* button = dynamic_cast<ui::Button*>(v.get())) back = button;
    ASSERT_TRUE(back);
    EXPECT_EQ(back->currentTitle(), "Practice");
    EXPECT_EQ(ui::toString(back->frame()), "{{5, 10}, {90, 40}}");
    ASSERT_TRUE(list->view()->backgroundColor());
    EXPECT_EQ(list->view()->backgroundColor()->shortName(), "black");
    EXPECT_EQ(ui::toString(list->lbltitle()->frame()), ui::toString(ui::makeRect(100, 10, b.width() - 200, 40)));
    EXPECT_EQ(ui::toString(list->tableView()->frame()),
              ui::toString(ui::makeRect(0, 60, b.width(), b.height() - 60)));
    EXPECT_EQ(list->filas(), 1);
    EXPECT_TRUE(screenHas(ViewGroupsController::kAddRowText)) << screen();
    EXPECT_FALSE(driver->deleteRow(ViewGroupsController::kAddRowText));  // the add row stays

    ASSERT_TRUE(driver->tapRow(ViewGroupsController::kAddRowText));
    NewGroupController* editor = shownEditor();
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->modalTransitionStyle(), ui::ModalTransitionStyle::CoverVertical);
    EXPECT_TRUE(editor->groupName()->isFirstResponder());
    EXPECT_EQ(editor->tableView()->tableHeaderView().get(), editor->headerView());
    EXPECT_EQ(editor->tableView()->numberOfRowsInSection(0), static_cast<long>(delegate->allCards()->count()));
    ui::TableViewCell* first = editor->tableView()->cellForRowAtIndexPath({0, 0});
    ASSERT_TRUE(first);
    ASSERT_TRUE(first->textLabel()->font());
    EXPECT_EQ(first->textLabel()->font()->pointSize(), 16);

    // No name: the name alert; the editor keeps its state.
    ASSERT_TRUE(driver->tapRow("Greatest strength"));
    ASSERT_TRUE(driver->tapButton("Save"));
    ASSERT_TRUE(topAlert());
    EXPECT_EQ(topAlert()->title(), "Group Name");
    EXPECT_EQ(topAlert()->message(), "Please choose a name for this group.");
    ASSERT_TRUE(driver->pressAlertButton("OK"));
    EXPECT_EQ(shownEditor(), editor);
    EXPECT_EQ(editor->selectedCards()->count(), 1u);

    // A name but no card: the cards alert.
    ASSERT_TRUE(driver->tapRow("Greatest strength"));  // unticked again
    EXPECT_EQ(editor->selectedCards()->count(), 0u);
    ASSERT_TRUE(driver->typeText("Group name", "Round one"));
    ASSERT_TRUE(driver->tapButton("Save"));
    ASSERT_TRUE(topAlert());
    EXPECT_EQ(topAlert()->title(), "Choose Cards");
    EXPECT_EQ(topAlert()->message(), "Please choose the cards to include in this group.");
    ASSERT_TRUE(driver->pressAlertButton("OK"));

    // Tick, untick and tick again puts a card at the end.
    for (const char* t : {"Salary expectations", "Tell me about yourself", "Body language"})
        ASSERT_TRUE(driver->tapRow(t));
    ASSERT_TRUE(driver->tapRow("Salary expectations"));
    ASSERT_TRUE(driver->tapRow("Salary expectations"));
    EXPECT_TRUE(screenHas("- Salary expectations (v)")) << screen();  // ticked rows show their mark
    EXPECT_TRUE(screenHas("- Body language (v)")) << screen();
    EXPECT_TRUE(screenHas("- Questions for us\n")) << screen();
    EXPECT_FALSE(editor->groupName()->isFirstResponder());
    ASSERT_TRUE(driver->tapButton("Save"));
    EXPECT_FALSE(shownEditor());

    EXPECT_EQ(list->filas(), 2);
    EXPECT_TRUE(screenHas("Round one")) << screen();
    // The add row in white, the group in black, also when the table shows
    // each in the other's cell.
    list->tableView()->reloadData();
    EXPECT_TRUE(screenHas("Round one")) << screen();
    struct Row { long row; const char* colour; };
    for (Row r : {Row{0, "white"}, Row{1, "black"}}) {
        ui::TableViewCell* cell = list->tableView()->cellForRowAtIndexPath({0, r.row});
        ASSERT_TRUE(cell) << r.row;
        ASSERT_TRUE(cell->textLabel()->textColor()) << r.row;
        EXPECT_EQ(cell->textLabel()->textColor()->shortName(), r.colour) << r.row;
    }
    // The back button returns to the practice screen.
    ASSERT_TRUE(selectedNav());
    size_t depth = selectedNav()->viewControllers().size();
    ASSERT_TRUE(driver->tapButton("Practice")) << driver->lastError();
    driver->settle();
    EXPECT_EQ(selectedNav()->viewControllers().size(), depth - 1);
    EXPECT_NE(topScreen<ViewGroupsController>(), list);
    auto inFile = groupsInFile(groupsFile());
    ASSERT_EQ(inFile.size(), 1u);
    EXPECT_EQ(inFile[0].first, "Round one");
    EXPECT_EQ(inFile[0].second,
              (std::vector<std::string>{"Tell me about yourself", "Body language", "Salary expectations"}));
    // Whole copies of the deck's cards.
    auto saved = ns::arrayWithContentsOfFile(groupsFile());
    ASSERT_TRUE(saved);
    ASSERT_TRUE(saved->objectAtIndexAs<ns::Dictionary>(0));
    auto* cards = saved->objectAtIndexAs<ns::Dictionary>(0)->objectForKeyAs<ns::Array>("SelectedCards");
    ASSERT_TRUE(cards);
    ASSERT_TRUE(cards->objectAtIndex(0));
    EXPECT_TRUE(cards->objectAtIndex(0)->isEqual(*delegate->allCards()->objectAtIndex(0)));
}

TEST_F(PhoneGroups, BlankNameBecomesNewGroupAndCancelDiscards) {
    startPhone();
    ViewGroupsController* list = openGroups();
    ASSERT_TRUE(driver->tapRow(ViewGroupsController::kAddRowText));
    ASSERT_TRUE(driver->typeText("Group name", "x"));
    ASSERT_TRUE(driver->tapRow("A failure"));
    ASSERT_TRUE(driver->tapButton("Cancel"));
    EXPECT_FALSE(shownEditor());
    EXPECT_EQ(list->filas(), 1);
    EXPECT_FALSE(fs::exists(groupsFile()));

    createGroup("   ", {"A failure"});
    auto inFile = groupsInFile(groupsFile());
    ASSERT_EQ(inFile.size(), 1u);
    EXPECT_EQ(inFile[0].first, "New Group");
    EXPECT_EQ(ns::describe(SavedGroupsFile::makeGroup(" a ", *ns::Array::make())->objectForKeyAs<ns::String>("Name")),
              " a ");
}

TEST_F(PhoneGroups, GroupOpensAsMenuItsCardAsPageAndSwipeDeletes) {
    startPhone();
    ViewGroupsController* list = openGroups();
    createGroup("Mine", {"Greatest weakness", "Thinking aloud"});
    createGroup("Second", {"Body language"});
    EXPECT_EQ(list->filas(), 3);

    ASSERT_TRUE(driver->tapRow("Mine"));
    auto* menu = topScreen<MenuViewController>();
    ASSERT_TRUE(menu) << screen();
    EXPECT_EQ(menu->titleLabel()->text(), "Mine");
    EXPECT_EQ(menu->btnBack()->currentTitle(), "Groups");
    EXPECT_FALSE(menu->btnBack()->isHidden());
    EXPECT_TRUE(menu->imgLogo()->isHidden());
    EXPECT_FALSE(menu->imgback()->isHidden());
    EXPECT_EQ(menu->filas(), 2);
    ASSERT_TRUE(driver->tapRow("thinking aloud")) << screen();
    auto* card = topScreen<CardViewController>();
    ASSERT_TRUE(card);
    std::string fromGroup = card->webView()->html();
    EXPECT_EQ(card->btnBack()->currentTitle(), "Mine");
    ASSERT_TRUE(driver->tapButton("Mine"));
    ASSERT_TRUE(driver->tapButton("Groups"));
    ASSERT_EQ(topScreen<ViewGroupsController>(), list);

    // The same card from the deck shows the same page.
    ASSERT_TRUE(driver->tapTab("Deck index"));
    ASSERT_TRUE(driver->tapRow("technical interviews"));
    ASSERT_TRUE(driver->tapRow("thinking aloud"));
    EXPECT_EQ(topScreen<CardViewController>()->webView()->html(), fromGroup);
    ASSERT_TRUE(driver->tapTab("Practice"));

    ASSERT_TRUE(driver->deleteRow("Mine")) << driver->lastError();
    EXPECT_EQ(list->filas(), 2);
    auto inFile = groupsInFile(groupsFile());
    ASSERT_EQ(inFile.size(), 1u);
    EXPECT_EQ(inFile[0].first, "Second");
    ASSERT_TRUE(driver->deleteRow("Second"));
    EXPECT_EQ(list->filas(), 1);
    EXPECT_TRUE(groupsInFile(groupsFile()).empty());
    auto root = ns::arrayWithContentsOfFile(groupsFile());
    ASSERT_TRUE(root);  // an empty list, not a missing file
    EXPECT_EQ(root->count(), 0u);
}

TEST_F(PhoneGroups, RestartReadsTheGroupsBack) {
    startPhone();
    openGroups();
    createGroup("Kept", {"Phone screen tips", "A conflict at work"});
    startPhone();  // a new process on the same home folder
    if (topAlert()) {
        ASSERT_TRUE(driver->pressAlertButton("Remind me later"));  // the rate prompt may ask
    }
    ViewGroupsController* list = openGroups();
    ASSERT_TRUE(list);
    EXPECT_EQ(list->filas(), 2);
    ASSERT_TRUE(driver->tapRow("Kept")) << screen();
    EXPECT_TRUE(screenHas("phone screen tips")) << screen();
    EXPECT_TRUE(screenHas("a conflict at work")) << screen();
}

TEST_F(PhoneGroups, FailedSavesAreReportedAndUndone) {
    startPhone();
    ViewGroupsController* list = openGroups();
    createGroup("One", {"Handling rejection"});
    createGroup("Two", {"The thank-you note"});
    std::string docs = home + "/Documents";
    auto before = readFile(groupsFile());

    // The Documents folder becomes unwritable: a file stands in its place.
    fs::rename(docs, docs + ".away");
    writeFile(docs, "not a folder");
    ASSERT_TRUE(driver->deleteRow("One"));
    ASSERT_TRUE(topAlert()) << screen();
    EXPECT_EQ(topAlert()->title(), "Groups not saved");
    // The file is named by its place in the home folder.
    EXPECT_NE(topAlert()->message().find(" Documents/savedGroups-QuillonIphone.plist"), std::string::npos)
        << topAlert()->message();
    EXPECT_EQ(topAlert()->message().find(home), std::string::npos) << topAlert()->message();
    ASSERT_TRUE(driver->pressAlertButton("OK"));
    EXPECT_EQ(list->filas(), 3);
    EXPECT_EQ(list->grupos()->count(), 2u);
    EXPECT_TRUE(screenHas("One")) << screen();

    createGroup("Three", {"Body language"});
    ASSERT_TRUE(topAlert()) << screen();
    EXPECT_EQ(topAlert()->title(), "Groups not saved");
    ASSERT_TRUE(driver->pressAlertButton("OK"));
    EXPECT_EQ(list->grupos()->count(), 2u);
    EXPECT_FALSE(screenHas("Three")) << screen();

    // Memory and file agree: the file still holds the two groups.
    fs::remove(docs);
    fs::rename(docs + ".away", docs);
    EXPECT_EQ(readFile(groupsFile()), before);
    auto inFile = groupsInFile(groupsFile());
    ASSERT_EQ(inFile.size(), list->grupos()->count());
    for (size_t i = 0; i < inFile.size(); ++i)
        EXPECT_EQ(inFile[i].first, SavedGroupsFile::groupName(rowAt(list->grupos(), i)));

    // A record that cannot be written at all is refused the same way.
    auto bad = ns::MutableDictionary::make();
    bad->setObject(ns::str("Bad"), "Name");
    bad->setObject(ns::Null::null(), "SelectedCards");
    EXPECT_FALSE(list->AddNewItemGroup(bad));
    ASSERT_TRUE(topAlert());
    ASSERT_TRUE(driver->pressAlertButton("OK"));
    EXPECT_EQ(list->grupos()->count(), 2u);
    EXPECT_EQ(readFile(groupsFile()), before);
}

TEST_F(PhoneGroups, UnreadableFileIsKeptAsideAndNotOverwritten) {
    writeFile(groupsFile(), "<?xml version=\"1.0\"?><plist><array><dict><key>Name</key>");
    startPhone();
    ViewGroupsController* list = openGroups();
    ASSERT_TRUE(list);
    EXPECT_EQ(list->filas(), 1);
    EXPECT_FALSE(list->loadProblem().empty());
    std::string aside = groupsFile() + ".corrupt-1";
    ASSERT_TRUE(fs::exists(aside));
    createGroup("Fresh", {"Body language"});
    EXPECT_EQ(readFile(aside), "<?xml version=\"1.0\"?><plist><array><dict><key>Name</key>");
    EXPECT_EQ(groupsInFile(groupsFile()).size(), 1u);
}

TEST_F(PhoneGroups, UnreadableFileWithNoNameLeftToSetItAsideIsNeverWritten) {
    const std::string truncated = "<?xml version=\"1.0\"?><plist><array><dict><key>Name</key>";
    writeFile(groupsFile(), truncated);
    for (int n = 1; n <= 999; ++n) writeFile(groupsFile() + ".corrupt-" + std::to_string(n), "older");
    startPhone();
    ViewGroupsController* list = openGroups();
    ASSERT_TRUE(list);
    EXPECT_EQ(list->filas(), 1);
    EXPECT_EQ(list->loadProblem(), "The groups file cannot be read; it is kept as it is and not overwritten.");
    ASSERT_TRUE(driver->tapRow(ViewGroupsController::kAddRowText)) << driver->lastError();
    ASSERT_TRUE(driver->typeText("Group name", "Fresh"));
    ASSERT_TRUE(driver->tapRow("Body language")) << driver->lastError();
    ASSERT_TRUE(driver->tapButton("Save")) << driver->lastError();
    driver->settle();
    ASSERT_TRUE(topAlert());
    EXPECT_EQ(topAlert()->title(), "Groups not saved");
    EXPECT_EQ(topAlert()->message(), "Your change was not kept: the groups file cannot be read and is kept as it is.");
    ASSERT_TRUE(driver->pressAlertButton("OK"));
    EXPECT_EQ(list->filas(), 1);
    EXPECT_EQ(list->grupos()->count(), 0u);
    EXPECT_EQ(readFile(groupsFile()), truncated);
    EXPECT_FALSE(fs::exists(groupsFile() + ".corrupt-1000"));
}

TEST(PhoneGroupEditorColours, ByCardColour) {
    auto c = [](const char* colour) {
        return NewGroupController::colourForCard(ns::Dictionary::make({{"color", ns::str(colour)}}).get());
    };
    EXPECT_TRUE(c("wine")->isEqual(*ui::Color::colorWithRGBA(0.58, 0.15, 0.56, 1)));
    EXPECT_TRUE(c("blue")->isEqual(*ui::Color::colorWithRGBA(0, 0.31, 0.75, 1)));
    EXPECT_TRUE(c("yellow")->isEqual(*ui::Color::colorWithRGBA(1.0, 0.57, 0, 1)));
    EXPECT_TRUE(c("purple")->isEqual(*ui::Color::colorWithRGBA(0.34, 0.16, 0.5, 1)));
    EXPECT_TRUE(c("green")->isEqual(*ui::Color::colorWithRGBA(0, 0.49, 0.28, 1)));
    EXPECT_TRUE(c("cyan")->isEqual(*ui::Color::colorWithRGBA(0, 0.7, 0.86, 1)));
    EXPECT_TRUE(c("silver")->isEqual(*ui::Color::black()));
    EXPECT_TRUE(NewGroupController::colourForCard(nullptr)->isEqual(*ui::Color::black()));
}

// The editors' ticks (phone and tablet) follow the card object, for any
// caller: two cards with equal contents are two rows, ticked and unticked
// apart, and the chosen list keeps the objects in the order they were ticked.
TEST(PhoneGroupEditorTicks, FollowTheCardNotAnEqualOne) {
    auto a = ns::Dictionary::make({{"title", ns::str("Same")}, {"index", ns::str("1")}, {"color", ns::str("blue")}});
    auto b = a->mutableCopy();
    ASSERT_TRUE(a->isEqual(*b));
    auto table = ui::TableView::make(ui::makeRect(0, 0, 320, 480));
    auto chosen = ns::MutableArray::make();
    auto ticked = [&](const ns::Dictionary* card) {
        auto cell = groupCardCell(table.get(), card, chosen.get());
        return cell && cell->accessoryType() == ui::TableViewCellAccessoryType::Checkmark;
    };
    struct Step {
        const char* name;
        ns::Dictionary* tapped;
        bool aTicked, bTicked;
        std::vector<ns::Object*> chosen;
    } steps[] = {
        {"the first ticked", a.get(), true, false, {a.get()}},
        {"the equal one ticked too", b.get(), true, true, {a.get(), b.get()}},
        {"the first unticked", a.get(), false, true, {b.get()}},
        {"the first ticked again, after the other", a.get(), true, true, {b.get(), a.get()}},
        {"the other unticked", b.get(), true, false, {a.get()}},
    };
    for (const Step& step : steps) {
        toggleGroupCard(table.get(), {0, 0}, step.tapped, *chosen);
        EXPECT_EQ(ticked(a.get()), step.aTicked) << step.name;
        EXPECT_EQ(ticked(b.get()), step.bTicked) << step.name;
        std::vector<ns::Object*> now;
        for (size_t i = 0; i < chosen->count(); ++i) now.push_back(chosen->at(i).get());
        EXPECT_EQ(now, step.chosen) << step.name;
    }
    EXPECT_FALSE(ticked(nullptr));
    EXPECT_FALSE(groupCardCell(table.get(), a.get(), nullptr)->accessoryType() ==
                 ui::TableViewCellAccessoryType::Checkmark);
}

}  // namespace app::test
