#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "platform/foundation/Timer.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Driver.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/TextScreen.h"
#include "platform/ui/WebView.h"
#include "testsupport/UITest.h"

using testsupport::UITest;

namespace ui::test {
namespace {

// A window that watches every event before the normal delivery, as an app
// window that routes touches over pages would.
struct WatchingWindow : Window {
    using Window::Window;
    std::vector<std::string> seen;  // "<phase of first touch>x<count>"
    void sendEvent(Event* e) override {
        seen.push_back(std::string(toString(e->allTouches().front()->phase())) + "x" +
                       std::to_string(e->allTouches().size()));
        Window::sendEvent(e);
    }
};

// A view that records its touches.
struct Pad : View {
    explicit Pad(Rect r) : View(r) {}
    std::vector<std::string> log;
    void touchesBegan(const TouchSet& t, Event* e) override { add("began", t, e); }
    void touchesMoved(const TouchSet& t, Event* e) override { add("moved", t, e); }
    void touchesEnded(const TouchSet& t, Event* e) override { add("ended", t, e); }
    void add(const char* what, const TouchSet& t, Event* e) {
        Point p = anyTouch(t)->locationInView(this);
        log.push_back(std::string(what) + ":" + std::to_string(t.size()) + "/" + std::to_string(e->allTouches().size()) +
                      "@" + std::to_string(int(p.x)) + "," + std::to_string(int(p.y)) + "#" +
                      std::to_string(anyTouch(t)->tapCount()));
    }
};

// A view that notes, at each delivery, the phase of the touches that
// changed and where every finger on it is (x, left to right).
struct Fingers : View {
    explicit Fingers(Rect r) : View(r) {}
    std::vector<std::string> log;
    void touchesBegan(const TouchSet& t, Event* e) override { add("began", t, e); }
    void touchesMoved(const TouchSet& t, Event* e) override { add("moved", t, e); }
    void touchesEnded(const TouchSet& t, Event* e) override { add("ended", t, e); }
    void touchesCancelled(const TouchSet& t, Event* e) override { add("cancelled", t, e); }
    void add(const char* what, const TouchSet& changed, Event* e) {
        std::vector<int> xs;
        for (auto& touch : e->touchesForView(this)) xs.push_back(int(std::lround(touch->locationInView(this).x)));
        std::sort(xs.begin(), xs.end());
        std::string s = std::string(what) + std::to_string(changed.size()) + ":";
        for (size_t i = 0; i < xs.size(); ++i) s += (i ? "," : "") + std::to_string(xs[i]);
        log.push_back(s);
        lastTime = anyTouch(changed)->timestamp();
        lastEventTime = e->timestamp();
        if (after) after(what);
    }
    double lastTime = -1;  // the timestamp of the last delivery's touches
    double lastEventTime = -1;  // and of its event
    std::function<void(const std::string&)> after;  // what the view does once a delivery is noted
};

struct CardScreen : ViewController, WebViewDelegate, AlertViewDelegate, TextFieldDelegate {
    ns::Ref<WebView> web;
    ns::Ref<TextField> name;
    ns::Ref<Label> status;
    std::vector<std::string> links;
    long pressed = -1;
    void loadView() override {
        ViewController::loadView();
        status = Label::make(makeRect(10, 10, 300, 20));
        status->setText("Card one");
        view()->addSubview(status);
        auto share = Button::make(makeRect(10, 40, 100, 30), "Share");
        share->addTarget(this, &CardScreen::clicShare, ControlEventTouchUpInside);
        view()->addSubview(share);
        name = TextField::make(makeRect(10, 80, 200, 30));
        name->setPlaceholder("Name");
        name->setDelegate(this);
        view()->addSubview(name);
        web = WebView::make(makeRect(0, 120, 320, 200));
        web->setDelegate(this);
        view()->addSubview(web);
    }
    void viewDidLoad() override {
        setTitle("Card");
        web->loadHTMLString("<h2>Question</h2><p>Why?</p><a href='KORVEL_2.html'>Next card</a>",
                            ns::URL::URLWithString("file:///b/KORVEL_1.html"));
    }
    void clicShare(ns::Object*) {
        AlertView::make("Favorites", "was saved correctly.", this, "Accept", {"Again"})->show();
    }
    void alertViewClickedButtonAtIndex(AlertView*, long index) override { pressed = index; }
    bool webViewShouldStartLoadWithRequest(WebView*, URLRequest* r, WebViewNavigationType t) override {
        if (t != WebViewNavigationType::LinkClicked) return true;
        links.push_back(r->URL() ? ns::describe(r->URL()->lastPathComponent()) : std::string("(none)"));
        return false;
    }
    bool textFieldShouldChangeCharactersInRange(TextField*, ns::Range, const std::string& s) override {
        return s != "!";  // no exclamation marks
    }
};

struct MenuScreen : ViewController, TableViewDataSource, TableViewDelegate {
    ns::Ref<TableView> table;
    std::vector<std::string> rows{"Introduction", "Market sizing", "Profitability"};
    void loadView() override {
        ViewController::loadView();
        table = TableView::make(view()->bounds());
        table->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
        table->setDataSource(this);
        table->setDelegate(this);
        view()->addSubview(table);
    }
    long tableViewNumberOfRowsInSection(TableView*, long) override { return long(rows.size()); }
    ns::Ref<TableViewCell> tableViewCellForRowAtIndexPath(TableView* t, IndexPath ip) override {
        auto c = t->dequeueReusableCellWithIdentifier("c");
        if (!c) c = TableViewCell::make(TableViewCellStyle::Default, "c");
        c->textLabel()->setText(rows[size_t(ip.row)]);
        c->setAccessoryType(TableViewCellAccessoryType::DisclosureIndicator);
        return c;
    }
    std::string tableViewTitleForHeaderInSection(TableView*, long) override { return "Deck"; }
    void tableViewDidSelectRowAtIndexPath(TableView* t, IndexPath ip) override {
        t->deselectRowAtIndexPath(ip, true);
        auto card = ns::make<CardScreen>();
        navigationController()->pushViewController(card, true);
    }
};

// A list longer than the screen whose cells are made anew for every row
// (no reuse identifier): each scroll frees the cells it lets go.
struct LongList : ViewController, TableViewDataSource, TableViewDelegate {
    ns::Ref<TableView> table;
    long rows = 40;
    void loadView() override {
        ViewController::loadView();
        table = TableView::make(view()->bounds());
        table->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
        table->setDataSource(this);
        table->setDelegate(this);
        view()->addSubview(table);
    }
    long tableViewNumberOfRowsInSection(TableView*, long) override { return rows; }
    ns::Ref<TableViewCell> tableViewCellForRowAtIndexPath(TableView*, IndexPath ip) override {
        auto c = TableViewCell::make(TableViewCellStyle::Default, "");
        c->textLabel()->setText("result " + std::to_string(ip.row));
        return c;
    }
};

class DriverTest : public UITest {
protected:
    void SetUp() override {
        UITest::SetUp();
        window = ns::make<WatchingWindow>(Screen::main()->bounds());
        menu = ns::make<MenuScreen>();
        menu->setTitle("Deck index");
        auto nav = NavigationController::withRoot(menu);
        nav->setTitle("Deck index");
        auto other = ns::make<ViewController>();
        other->setTitle("More");
        tabs = ns::make<TabBarController>();
        tabs->setViewControllers({nav, other});
        window->setRootViewController(tabs);
        window->makeKeyAndVisible();
    }
    void TearDown() override {
        if (HasFailure()) std::printf("Screen:\n%s\n", driver.screen().c_str());
        UITest::TearDown();
    }
    ns::Ref<WatchingWindow> window;
    ns::Ref<MenuScreen> menu;
    ns::Ref<TabBarController> tabs;
    Driver driver;
};

TEST_F(DriverTest, TextScreenShowsBarsRowsAndTabs) {
    driver.settle();
    EXPECT_EQ(driver.screen(),
              "== Deck index ==\n"
              "-- Deck --\n"
              "- Introduction >\n"
              "- Market sizing >\n"
              "- Profitability >\n"
              "Tabs: Deck index* | More\n");
}

TEST_F(DriverTest, RowsBarButtonsAndTabsDriveTheScreens) {
    ASSERT_TRUE(driver.tapRow("Market sizing")) << driver.lastError();
    std::string s = driver.screen();
    EXPECT_NE(s.find("== <Deck index | Card ==\n"), std::string::npos) << s;
    EXPECT_NE(s.find("Card one\n[Share]\nName: ____\n[page KORVEL_1.html]\n  Question\n  Why?\n  [Next card]\n"),
              std::string::npos)
        << s;
    ASSERT_TRUE(driver.tapBarButton("Deck index")) << driver.lastError();
    EXPECT_NE(driver.screen().find("== Deck index =="), std::string::npos);
    // A row by its place, and a table that is not there.
    ASSERT_TRUE(driver.tapRowAt({0, 0})) << driver.lastError();
    EXPECT_NE(driver.screen().find("== <Deck index | Card =="), std::string::npos);
    ASSERT_TRUE(driver.tapBarButton("Deck index")) << driver.lastError();
    EXPECT_FALSE(driver.tapRowAt({0, 0}, 5));
    EXPECT_FALSE(driver.tapRow("No such row"));
    EXPECT_FALSE(driver.tapBarButton("Nothing"));
    ASSERT_TRUE(driver.tapTab("More"));
    EXPECT_EQ(tabs->selectedIndex(), 1u);
    EXPECT_NE(driver.screen().find("Tabs: Deck index | More*"), std::string::npos);
}

TEST_F(DriverTest, ButtonTapsAreTouchesThroughTheWindow) {
    ASSERT_TRUE(driver.tapRow("Introduction"));
    window->seen.clear();
    ASSERT_TRUE(driver.tapButton("Share")) << driver.lastError();
    EXPECT_EQ(window->seen, (std::vector<std::string>{"beganx1", "endedx1"}));
    // The alert is on top and blocks everything but its own buttons.
    std::string s = driver.screen();
    EXPECT_EQ(s.rfind("+-- Alert: Favorites --\n| was saved correctly.\n| [Accept] [Again]\n+--\n", 0), 0u) << s;
    EXPECT_FALSE(driver.tapButton("Share"));
    // Every touch is refused while it shows, whatever the point, and none
    // reaches the window: the button under it is not pressed again.
    window->seen.clear();
    Point share = Driver::centerOf(driver.findButton("Share"));
    const std::string at = std::to_string(int(share.x)) + "," + std::to_string(int(share.y));
    struct Touches {
        std::string name;
        std::function<bool()> act;
    };
    std::vector<Touches> touches = {
        {"tap", [&] { return driver.tap(share); }},
        {"touch down", [&] { return driver.touchesBegan({share}); }},
        {"move", [&] { return driver.touchesMoved({share}); }},
        {"lift", [&] { return driver.touchesEnded(); }},
        {"cancel", [&] { return driver.touchesCancelled(); }},
        {"swipe", [&] { return driver.swipe(share, {share.x + 50, share.y}); }},
        {"pinch", [&] { return driver.pinch(share, 20, 60); }},
    };
    for (std::string line : {"tapat " + at, "touch " + at, "move " + at, std::string("lift"), std::string("cancel"),
                             "swipe " + at + " 200,200", "pinch " + at + " 20 60"})
        touches.push_back({"command " + line, [this, line] { return driver.perform(line).ok; }});
    for (const Touches& t : touches) {
        EXPECT_FALSE(t.act()) << t.name;
        EXPECT_EQ(driver.lastError(), "the alert \"Favorites\" is showing") << t.name;
        EXPECT_EQ(driver.fingersDown(), 0u) << t.name;
    }
    EXPECT_EQ(window->seen, std::vector<std::string>{});
    EXPECT_EQ(Panel::visiblePanels().size(), 1u);
    ASSERT_TRUE(driver.pressAlertButton("Again"));
    ASSERT_TRUE(window->topViewController());
    auto* card = dynamic_cast<CardScreen*>(window->topViewController()->visibleChildViewControllers()[0]
                                               ->visibleChildViewControllers()[0]);
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->pressed, 1);
    EXPECT_EQ(Panel::topPanel(), nullptr);
    EXPECT_FALSE(driver.pressAlertButton("Accept"));

    // A view laid over the button takes the touch instead, and the refusal
    // names it as a person would.
    auto cover = View::make(makeRect(0, 0, 320, 480));
    card->view()->addSubview(cover);
    EXPECT_FALSE(driver.tapButton("Share"));
    EXPECT_EQ(driver.lastError(), "button \"Share\" is covered by another view");
    cover->setCoverName("the test form");
    EXPECT_FALSE(driver.tapButton("Share"));
    EXPECT_EQ(driver.lastError(), "button \"Share\" is covered by the test form");
    EXPECT_EQ(driver.lastFailure(), Driver::Failure::Refused);
    auto loose = View::make(makeRect(0, 0, 10, 10));
    EXPECT_EQ(driver.obstruction(loose.get(), {5, 5}), "not on the screen");
}

TEST_F(DriverTest, TheOverlayOnTheScreenIsTheFrontNamedViewThatTakesTouches) {
    EXPECT_EQ(driver.overlayOnScreen(), nullptr);  // nothing laid over the menu
    View* screen = menu->view();
    auto named = [](const char* name, Rect r) {
        auto v = View::make(r);
        v->setCoverName(name);
        return v;
    };
    struct Row {
        const char* name;
        std::function<void(View*)> change;  // applied to the form
        bool found;
    };
    const Row rows[] = {
        {"below the bar, away from the top left", [](View*) {}, true},
        {"hidden", [](View* v) { v->setHidden(true); }, false},
        {"faded out", [](View* v) { v->setAlpha(0.005); }, false},
        {"still faintly there", [](View* v) { v->setAlpha(0.01); }, true},
        {"answered, fading out (takes no touches)", [](View* v) { v->setUserInteractionEnabled(false); }, false},
        {"scaled to nothing", [](View* v) { v->setTransform(Transform::scale(0, 0)); }, false},
        {"below the screen", [&](View* v) { v->setFrame({screen->convertPointFromView({0, 480}, nullptr), {320, 400}}); }, false},
        {"one point on the screen",
         [&](View* v) { v->setFrame({screen->convertPointFromView({319, 479}, nullptr), {320, 400}}); }, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto form = named("the test form", makeRect(0, 60, 320, 420));
        screen->addSubview(form);
        row.change(form.get());
        EXPECT_EQ(driver.overlayOnScreen(), row.found ? form.get() : nullptr);
        form->removeFromSuperview();
    }

    // Nested covers: the outer one; side by side: the front one; an unnamed
    // view in front changes nothing.
    auto form = named("the test form", makeRect(0, 60, 320, 420));
    auto box = named("the progress box", makeRect(100, 100, 100, 100));
    form->addSubview(box);
    screen->addSubview(form);
    EXPECT_EQ(driver.overlayOnScreen(), form.get());
    auto card = named("the full card", makeRect(0, 0, 320, 480));
    screen->addSubview(card);
    screen->addSubview(View::make(makeRect(0, 0, 320, 480)));
    EXPECT_EQ(driver.overlayOnScreen(), card.get());
    card->removeFromSuperview();

    // A presented screen hides the covers under it; its own view is a
    // screen, not an overlay, but a cover inside it is one.
    auto sheet = ns::make<CardScreen>();
    ASSERT_TRUE(menu->presentViewController(sheet, false));
    driver.settle();
    sheet->view()->setCoverName("the card screen");
    EXPECT_EQ(driver.overlayOnScreen(), nullptr);
    auto inner = named("the inner form", makeRect(0, -40, 320, 480));
    sheet->view()->addSubview(inner);
    EXPECT_EQ(driver.overlayOnScreen(), inner.get());
    menu->dismissViewControllerAnimated(false);
    EXPECT_EQ(driver.overlayOnScreen(), form.get());
    // A view laid on the window above the screen hides nothing it does not cover.
    auto strip = View::make(makeRect(0, 0, 320, 20));
    window->addSubview(strip);
    EXPECT_EQ(driver.overlayOnScreen(), form.get());

    // A form sheet on the tablet leaves the screen and its form in view, but
    // what lies under the sheet is not over the screen a person acts on.
    Device::current()->setUserInterfaceIdiom(UserInterfaceIdiom::Pad);
    auto hub = ns::make<MenuScreen>();
    auto padWindow = ns::make<Window>(Screen::main()->bounds());
    padWindow->setRootViewController(NavigationController::withRoot(hub));
    padWindow->makeKeyAndVisible();
    auto hubForm = named("the hub's form", makeRect(0, 60, 768, 900));
    hub->view()->addSubview(hubForm);
    EXPECT_EQ(driver.overlayOnScreen(), hubForm.get());
    auto formSheet = NavigationController::withRoot(ns::make<CardScreen>());
    formSheet->setModalPresentationStyle(ModalPresentationStyle::FormSheet);
    ASSERT_TRUE(hub->presentViewController(formSheet, false));
    driver.settle();
    EXPECT_EQ(driver.overlayOnScreen(), nullptr);
    hub->dismissViewControllerAnimated(false);

    // A key window that is not shown has nothing on the screen.
    auto unseen = ns::make<Window>(Screen::main()->bounds());
    unseen->addSubview(named("an unseen form", makeRect(0, 0, 100, 100)));
    unseen->makeKeyWindow();
    EXPECT_EQ(driver.overlayOnScreen(), nullptr);
}

TEST_F(DriverTest, NothingUnderAModalScreenOrSheetTakesTaps) {
    // Full screen on the phone: the tab bar under it is out of reach.
    auto modal = NavigationController::withRoot(ns::make<CardScreen>());
    ASSERT_TRUE(menu->presentViewController(modal, false));
    driver.settle();
    EXPECT_FALSE(driver.tapTab("More"));
    EXPECT_EQ(tabs->selectedIndex(), 0u);
    EXPECT_FALSE(driver.tapRow("Market sizing"));
    EXPECT_TRUE(driver.typeText("Name", "Ana")) << driver.lastError();
    menu->dismissViewControllerAnimated(false);
    ASSERT_TRUE(driver.tapTab("More")) << driver.lastError();

    // A form sheet on the tablet leaves the screen below in view, but its
    // rows, tabs, focused field and touches are out of reach too.
    Device::current()->setUserInterfaceIdiom(UserInterfaceIdiom::Pad);
    auto hub = ns::make<MenuScreen>();
    auto hubTabs = ns::make<TabBarController>();
    hubTabs->setViewControllers({NavigationController::withRoot(hub), ns::make<ViewController>()});
    hubTabs->viewControllers()[1]->setTitle("More");
    auto w = ns::make<Window>(Screen::main()->bounds());
    w->setRootViewController(hubTabs);
    w->makeKeyAndVisible();
    auto pad = ns::make<Pad>(makeRect(0, 300, 768, 100));
    hub->view()->addSubview(pad);
    auto note = TextField::make(makeRect(0, 600, 300, 30));
    note->setPlaceholder("Note");
    hub->view()->addSubview(note);
    ASSERT_TRUE(driver.typeText("Note", "a"));
    auto inner = ns::make<CardScreen>();
    auto sheet = NavigationController::withRoot(inner);
    sheet->setModalPresentationStyle(ModalPresentationStyle::FormSheet);
    ASSERT_TRUE(hub->presentViewController(sheet, false));
    driver.settle();
    EXPECT_NE(driver.screen().find("- Market sizing >"), std::string::npos) << driver.screen();  // still seen
    EXPECT_FALSE(driver.tapRow("Market sizing"));
    EXPECT_FALSE(driver.tapTab("More"));
    EXPECT_EQ(hubTabs->selectedIndex(), 0u);
    EXPECT_FALSE(driver.typeText("Note", "b"));
    EXPECT_EQ(driver.lastError(), "the field \"Note\" is covered by the Card sheet");
    EXPECT_EQ(driver.lastFailure(), Driver::Failure::Refused);
    driver.typeText("", "c");  // the focused field is under the sheet: not that one
    EXPECT_FALSE(driver.clearText("Nowhere"));
    EXPECT_EQ(driver.lastError(), "no text field \"Nowhere\"");
    EXPECT_EQ(driver.lastFailure(), Driver::Failure::NotFound);
    EXPECT_EQ(note->text(), "a");
    driver.tap({20, 400});  // beside the sheet, over the pad
    EXPECT_TRUE(pad->log.empty());
    ASSERT_TRUE(driver.tapButton("Share")) << driver.lastError();  // the sheet's own button
    ASSERT_TRUE(driver.pressAlertButton("Accept"));
    inner->dismissViewControllerAnimated(false);
    driver.tap({20, 400});
    EXPECT_EQ(pad->log.size(), 2u);
    EXPECT_TRUE(driver.tapRow("Market sizing")) << driver.lastError();
}

TEST_F(DriverTest, NamesLookedForThroughALongListLeaveItWholeAndInPlace) {
    auto list = ns::make<LongList>();
    list->setTitle("Results");
    menu->navigationController()->pushViewController(list, false);
    driver.settle();
    ASSERT_NE(driver.screen().find("(31 more below)"), std::string::npos) << driver.screen();
    struct Row {
        const char* name;
        std::function<bool()> act;
        std::string error;  // empty: done
        Driver::Failure failure;
    } rows[] = {
        {"a row that is not there", [&] { return driver.tapRow("zzz"); }, "no row \"zzz\" in a visible table",
         Driver::Failure::NotFound},
        {"deleting a row that is not there", [&] { return driver.deleteRow("zzz"); },
         "no row \"zzz\" in a visible table", Driver::Failure::NotFound},
        {"a row below the screen", [&] { return driver.tapRow("result 39"); }, "", Driver::Failure::None},
        {"a row above it again", [&] { return driver.tapRow("Result 2"); }, "", Driver::Failure::None},
        {"a tab's name", [&] { return driver.tapRow("More"); }, "no row \"More\" in a visible table",
         Driver::Failure::NotFound},
    };
    for (const Row& row : rows) {
        Point offset = list->table->contentOffset();
        EXPECT_EQ(row.act(), row.error.empty()) << row.name << ": " << driver.lastError();
        if (!row.error.empty()) {
            EXPECT_EQ(driver.lastError(), row.error) << row.name;
            EXPECT_EQ(driver.lastFailure(), row.failure) << row.name;
            EXPECT_TRUE(list->table->contentOffset() == offset) << row.name;  // looked through, left where it was
        }
        std::string shown = driver.screen();
        EXPECT_NE(shown.find("- result "), std::string::npos) << row.name << "\n" << shown;
    }
    // The tab is taken as it would be after the list was looked through.
    EXPECT_TRUE(driver.tapTab("More")) << driver.lastError();
    EXPECT_NE(driver.screen().find("Tabs: Deck index | More*"), std::string::npos) << driver.screen();
}

TEST_F(DriverTest, TypingAsksTheFieldsDelegate) {
    ASSERT_TRUE(driver.tapRow("Introduction"));
    ASSERT_TRUE(driver.typeText("Name", "Ana!é"));
    EXPECT_NE(driver.screen().find("Name: Anaé|____"), std::string::npos) << driver.screen();
    ASSERT_TRUE(driver.pressReturn());
    EXPECT_FALSE(driver.typeText("Nope", "x"));
    // With no field focused, text and the clear key go nowhere, not into
    // whichever field is last on the screen.
    View* name = driver.findTextInput("Name");
    ASSERT_TRUE(name);
    name->resignFirstResponder();
    EXPECT_FALSE(driver.typeText("", "x"));
    EXPECT_EQ(driver.lastError(), "no text field has focus");
    EXPECT_FALSE(driver.clearText(""));
    EXPECT_EQ(driver.lastError(), "no text field has focus");
    EXPECT_NE(driver.screen().find("Name: Anaé____"), std::string::npos) << driver.screen();

    // Bytes that are not UTF-8 are no text: refused whole, the field as it
    // was, and the refusal says which byte (shown escaped, never raw).
    struct Row {
        const char* name;
        std::string text;
        std::string error;  // empty: typed
    } rows[] = {
        {"a byte no character starts with", "Ana\xff", "the text is not UTF-8 (byte \\xFF at position 4 is not part of a character); nothing was typed"},
        {"a stray continuation byte", "\x80x", "the text is not UTF-8 (byte \\x80 at position 1 is not part of a character); nothing was typed"},
        {"a character cut short at the end", "ab\xc3", "the text is not UTF-8 (byte \\xC3 at position 3 is not part of a character); nothing was typed"},
        {"a character cut short by another", "\xe6\x9d" "a", "the text is not UTF-8 (byte \\xE6 at position 1 is not part of a character); nothing was typed"},
        {"an overlong slash", "\xc0\xaf", "the text is not UTF-8 (byte \\xC0 at position 1 is not part of a character); nothing was typed"},
        {"a surrogate", "\xed\xa0\x80", "the text is not UTF-8 (byte \\xED at position 1 is not part of a character); nothing was typed"},
        {"past the last code point", "\xf4\x90\x80\x80", "the text is not UTF-8 (byte \\xF4 at position 1 is not part of a character); nothing was typed"},
        {"four bytes, the last character", "\xf4\x8f\xbf\xbf", ""},
        {"two, three and four bytes", "\xc3\xa9\xe6\x9d\x8e\xf0\x9f\x98\x80", ""},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(driver.clearText("Name")) << driver.lastError();
        EXPECT_EQ(driver.typeText("Name", row.text), row.error.empty()) << row.name;
        EXPECT_EQ(driver.perform("type Name = " + row.text).ok, row.error.empty()) << row.name;
        auto* field = dynamic_cast<TextField*>(driver.findTextInput("Name"));
        ASSERT_TRUE(field);
        if (row.error.empty()) {
            EXPECT_EQ(field->text(), row.text + row.text) << row.name;
        } else {
            EXPECT_EQ(driver.lastError(), row.error) << row.name;
            EXPECT_EQ(driver.lastFailure(), Driver::Failure::Refused) << row.name;
            EXPECT_EQ(field->text(), "") << row.name;
        }
    }
}

TEST_F(DriverTest, AnAlertsFieldsTakeTextByFocusNameOrPlaceAndNothingElseDoes) {
    ASSERT_TRUE(driver.tapRow("Introduction"));
    auto alert = AlertView::make("Sign in", "", nullptr, "Cancel", {"OK"});
    alert->setAlertViewStyle(AlertView::Style::LoginAndPasswordInput);
    alert->show();
    ASSERT_TRUE(alert->textFieldAtIndex(0));
    ASSERT_TRUE(alert->textFieldAtIndex(1));
    alert->textFieldAtIndex(1)->setAccessibilityLabel("Secret");
    struct Row {
        const char* name;
        std::function<bool()> act;
        std::string login, password, error;  // error empty: done
    } rows[] = {
        {"no name: the first field", [&] { return driver.typeText("", "ann"); }, "ann", "", ""},
        {"by placeholder", [&] { return driver.typeText("Password", "pw"); }, "ann", "pw", ""},
        {"by place", [&] { return driver.typeText("1", "x"); }, "ann", "pwx", ""},
        {"by label", [&] { return driver.typeText("Secret", "y"); }, "ann", "pwxy", ""},
        {"cleared by name", [&] { return driver.clearText("Login"); }, "", "pwxy", ""},
        {"a field under the alert", [&] { return driver.typeText("Name", "z"); }, "", "pwxy",
         "the alert \"Sign in\" is showing; text goes nowhere"},
        {"a place past the fields", [&] { return driver.typeText("2", "z"); }, "", "pwxy",
         "the alert \"Sign in\" is showing; text goes nowhere"},
        {"focus by tap", [&] { return driver.tapTextInput("Password"); }, "", "pwxy", ""},
        {"the return key of the focused field", [&] { return driver.pressReturn(); }, "", "pwxy", ""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.act(), row.error.empty()) << row.name << ": " << driver.lastError();
        if (!row.error.empty()) {
            EXPECT_EQ(driver.lastError(), row.error) << row.name;
        }
        EXPECT_EQ(alert->textFieldAtIndex(0)->text(), row.login) << row.name;
        EXPECT_EQ(alert->textFieldAtIndex(1)->text(), row.password) << row.name;
    }
    EXPECT_EQ(driver.screen().rfind("+-- Alert: Sign in --\n| Login: ____\n| Secret: ********|____\n| [Cancel] [OK]\n+--\n", 0),
              0u)
        << driver.screen();
    ASSERT_TRUE(driver.pressAlertButton("ok"));
    EXPECT_EQ(Panel::topPanel(), nullptr);
    EXPECT_TRUE(driver.typeText("Name", "Bo")) << driver.lastError();
}

TEST_F(DriverTest, LinksAreOfferedToThePagesDelegate) {
    ASSERT_TRUE(driver.tapRow("Profitability"));
    EXPECT_FALSE(driver.followLink("Next card"));  // the delegate keeps the page
    auto* web = driver.visibleWebView();
    ASSERT_NE(web, nullptr);
    auto* card = dynamic_cast<CardScreen*>(web->superview()->viewController());
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->links, std::vector<std::string>{"KORVEL_2.html"});
    EXPECT_FALSE(driver.followLink("Missing"));
}

TEST_F(DriverTest, TouchSequencesWithOneAndTwoFingers) {
    // The menu's view starts below the 44-point navigation bar: the pad's
    // top is at y 144 in the window.
    auto pad = ns::make<Pad>(makeRect(0, 100, 320, 200));
    menu->view()->addSubview(pad);
    window->seen.clear();
    driver.touchesBegan({{10, 150}, {100, 150}});
    driver.touchesMoved({{5, 150}, {120, 150}});
    driver.touchesEnded({0});  // one finger lifts, the other stays
    EXPECT_EQ(driver.fingersDown(), 1u);
    driver.touchesEnded();
    EXPECT_EQ(window->seen, (std::vector<std::string>{"beganx2", "movedx2", "endedx2", "endedx1"}));
    ASSERT_EQ(pad->log.size(), 4u);
    EXPECT_EQ(pad->log[0], "began:2/2@10,6#1");
    EXPECT_EQ(pad->log[1], "moved:2/2@5,6#1");
    EXPECT_EQ(pad->log[2], "ended:1/2@5,6#1");
    EXPECT_EQ(pad->log[3], "ended:1/1@120,6#1");
    pad->log.clear();
    driver.tap({50, 150}, 2);
    EXPECT_EQ(pad->log, (std::vector<std::string>{"began:1/1@50,6#2", "ended:1/1@50,6#2"}));
}

TEST_F(DriverTest, SwipesAndPinchesMoveTheirFingersInEvenSteps) {
    // The pad's left edge is the window's; its top is at y 144.
    auto pad = ns::make<Fingers>(makeRect(0, 100, 320, 200));
    menu->view()->addSubview(pad);
    struct Row {
        const char* name;
        std::function<void()> gesture;
        std::vector<std::string> seen;
    } rows[] = {
        {"swipe right in four steps", [&] { driver.swipe({10, 150}, {110, 150}, 4); },
         {"began1:10", "moved1:35", "moved1:60", "moved1:85", "moved1:110", "ended1:110"}},
        {"swipe right in four steps unless told", [&] { driver.swipe({10, 150}, {110, 150}); },
         {"began1:10", "moved1:35", "moved1:60", "moved1:85", "moved1:110", "ended1:110"}},
        {"swipe left, steps 0 taken as one", [&] { driver.swipe({200, 150}, {100, 150}, 0); },
         {"began1:200", "moved1:100", "ended1:100"}},
        {"pinch out in two steps", [&] { driver.pinch({160, 200}, 20, 60, 2); },
         {"began2:150,170", "moved2:140,180", "moved2:130,190", "ended2:130,190"}},
        {"pinch in in one step", [&] { driver.pinch({160, 200}, 100, 40, 1); },
         {"began2:110,210", "moved2:140,180", "ended2:140,180"}},
        {"fingers down, then cancelled",
         [&] {
             driver.touchesBegan({{20, 150}, {40, 150}});
             driver.touchesCancelled();
         },
         {"began2:20,40", "cancelled2:20,40"}},
        {"lifting a finger that is not down lifts none",
         [&] {
             driver.touchesBegan({{20, 150}});
             driver.touchesEnded({3});
             driver.touchesEnded({0});
         },
         {"began1:20", "ended1:20"}},
    };
    for (const Row& row : rows) {
        pad->log.clear();
        row.gesture();
        EXPECT_EQ(pad->log, row.seen) << row.name;
        EXPECT_EQ(driver.fingersDown(), 0u) << row.name;
    }
}

TEST_F(DriverTest, AnAlertThatComesUpTakesTheFingersThatAreDown) {
    auto pad = ns::make<Fingers>(makeRect(0, 100, 320, 200));
    menu->view()->addSubview(pad);
    auto alertOn = [&](const std::string& phase) {
        pad->after = [phase](const std::string& what) {
            if (what == phase && !Panel::topPanel()) AlertView::make("Stop", "", nullptr, "OK")->show();
        };
    };
    struct Row {
        const char* name;
        std::function<bool()> gesture;
        std::vector<std::string> seen;
    } rows[] = {
        {"a tap whose touch-down shows it", [&] { alertOn("began"); return driver.tap({10, 150}); },
         {"began1:10", "cancelled1:10"}},
        {"a swipe whose first move shows it", [&] { alertOn("moved"); return driver.swipe({10, 150}, {110, 150}, 4); },
         {"began1:10", "moved1:35", "cancelled1:35"}},
        {"a pinch whose first move shows it", [&] { alertOn("moved"); return driver.pinch({160, 200}, 20, 60, 2); },
         {"began2:150,170", "moved2:140,180", "cancelled2:140,180"}},
        {"fingers down when a timer shows it",
         [&] {
             pad->after = nullptr;
             if (!driver.touchesBegan({{20, 150}, {40, 150}})) return false;
             ns::RunLoop::main()->performAfterDelay(1.0, [] { AlertView::make("Stop", "", nullptr, "OK")->show(); });
             driver.advance(1.0);
             EXPECT_EQ(pad->lastTime, ns::RunLoop::main()->now());  // cancelled when the alert came
             return true;
         },
         {"began2:20,40", "cancelled2:20,40"}},
    };
    for (const Row& row : rows) {
        pad->log.clear();
        EXPECT_TRUE(row.gesture()) << row.name << ": " << driver.lastError();
        EXPECT_EQ(pad->log, row.seen) << row.name;
        EXPECT_EQ(driver.fingersDown(), 0u) << row.name;
        // Nothing is left to lift onto the screen once the alert is answered.
        EXPECT_FALSE(driver.touchesEnded()) << row.name;
        EXPECT_EQ(driver.lastError(), "the alert \"Stop\" is showing") << row.name;
        ASSERT_TRUE(driver.pressAlertButton("OK")) << row.name;
        for (auto none : {+[](Driver& d) { return d.touchesEnded(); }, +[](Driver& d) { return d.touchesCancelled(); },
                          +[](Driver& d) { return d.touchesMoved({{30, 150}}); },
                          +[](Driver& d) { return d.perform("lift").ok; }}) {
            EXPECT_FALSE(none(driver)) << row.name;
            EXPECT_EQ(driver.lastError(), "no finger is down") << row.name;
        }
        EXPECT_EQ(pad->log, row.seen) << row.name;
    }
}

// A finger on a view that leaves the screen (another tab shown, its screen
// popped or covered) is cancelled there, as on the device: lifting it later,
// even after the view came back, acts on nothing. Two fingers lifted
// together: the one whose view the first one's action took off the screen
// is cancelled, not ended. Fingers on views still shown are kept.
TEST_F(DriverTest, AViewThatLeavesTheScreenLosesTheFingersOnIt) {
    auto left = ns::make<Fingers>(makeRect(0, 100, 160, 200));
    auto right = ns::make<Fingers>(makeRect(160, 100, 160, 200));
    menu->view()->addSubview(left);
    menu->view()->addSubview(right);
    struct Row {
        const char* name;
        std::function<bool()> gesture;
        std::vector<std::string> left, right;
        size_t fingersLeft;
    } rows[] = {
        {"the view taken off between two steps",
         [&] {
             if (!driver.touchesBegan({{10, 150}, {170, 150}})) return false;
             driver.advance(1.0);
             // What the view does when told runs before the step ends.
             bool ran = false;
             left->after = [&](const std::string& what) {
                 if (what == "cancelled") ns::RunLoop::main()->performAfterDelay(0, [&] { ran = true; });
             };
             left->removeFromSuperview();
             driver.settle();
             EXPECT_TRUE(ran);
             EXPECT_EQ(left->lastTime, ns::RunLoop::main()->now()) << "cancelled when it left";
             EXPECT_EQ(left->lastEventTime, ns::RunLoop::main()->now());
             return true;
         },
         {"began1", "cancelled1"}, {"began1"}, 1},
        {"the view taken off and put back before the lift",
         [&] {
             if (!driver.touchesBegan({{10, 150}})) return false;
             left->removeFromSuperview();
             driver.settle();
             menu->view()->addSubview(left);
             driver.settle();
             return driver.perform("lift").ok == false && driver.lastError() == "no finger is down";
         },
         {"began1", "cancelled1"}, {}, 0},
        {"lifted together, the first lift covers the second view",
         [&] {
             left->after = [&](const std::string& what) {
                 if (what == "ended") right->removeFromSuperview();
             };
             if (!driver.touchesBegan({{10, 150}, {170, 150}})) return false;
             return driver.touchesEnded();
         },
         {"began1", "ended1"}, {"began1", "cancelled1"}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        for (auto& pad : {left, right}) {
            pad->log.clear();
            pad->after = nullptr;
            if (!pad->superview()) menu->view()->addSubview(pad);
        }
        EXPECT_TRUE(row.gesture()) << driver.lastError();
        // What each view was told, and of how many fingers (where a view
        // off the screen reads a finger is of no account).
        auto told = [](const std::vector<std::string>& log) {
            std::vector<std::string> out;
            for (const auto& line : log) out.push_back(line.substr(0, line.find(':')));
            return out;
        };
        EXPECT_EQ(told(left->log), row.left);
        EXPECT_EQ(told(right->log), row.right);
        EXPECT_EQ(driver.fingersDown(), row.fingersLeft);
        driver.touchesCancelled();
    }
}

TEST_F(DriverTest, RotationAndTimeGoThroughTheDriver) {
    bool done = false;
    View::animate(1.0, [] {}, [&](bool) { done = true; });
    driver.advance(0.5);
    EXPECT_FALSE(done);
    driver.advance(0.5);
    EXPECT_TRUE(done);
    driver.rotate(DeviceOrientation::LandscapeLeft);
    EXPECT_EQ(tabs->interfaceOrientation(), InterfaceOrientation::LandscapeRight);
    EXPECT_EQ(menu->interfaceOrientation(), InterfaceOrientation::LandscapeRight);
    EXPECT_EQ(tabs->view()->frame(), makeRect(0, 0, 480, 320));
    // The window turns with the interface, so the whole landscape width
    // takes touches.
    EXPECT_EQ(window->bounds(), makeRect(0, 0, 480, 320));
    View* hit = window->hitTest({470, 10}, nullptr);
    ASSERT_TRUE(hit);
    EXPECT_TRUE(hit->isDescendantOfView(tabs->view()));
    driver.rotate(DeviceOrientation::Portrait);
    EXPECT_EQ(window->bounds(), makeRect(0, 0, 320, 480));
}

}  // namespace
}  // namespace ui::test

namespace ui::test {
namespace {

TEST_F(DriverTest, CommandsDriveTheScreenAndReportMistakes) {
    EXPECT_TRUE(driver.perform("# a comment").ok);
    EXPECT_TRUE(driver.perform("").ok);
    EXPECT_TRUE(driver.perform("row market sizing").ok);  // case does not matter
    EXPECT_TRUE(driver.perform("type Name = Bo b").ok);
    EXPECT_NE(driver.perform("screen").output.find("Name: Bo b|____"), std::string::npos) << driver.screen();
    // The text is typed as given, blanks at its end included.
    EXPECT_TRUE(driver.perform("clear Name").ok);
    EXPECT_TRUE(driver.perform("type Name =    \r\n").ok);
    EXPECT_NE(driver.screen().find("Name:    |____"), std::string::npos) << driver.screen();
    EXPECT_TRUE(driver.perform("tap Share").ok);
    EXPECT_TRUE(driver.perform("alert Accept").ok);
    EXPECT_TRUE(driver.perform("bar Deck index").ok);
    EXPECT_TRUE(driver.perform("wait 0.5").ok);
    EXPECT_TRUE(driver.perform("rotate landscape-left").ok);
    EXPECT_EQ(tabs->interfaceOrientation(), InterfaceOrientation::LandscapeRight);
    EXPECT_TRUE(driver.perform("touch 10,100 20,100 #1").ok);
    EXPECT_TRUE(driver.perform("move 5,100 30,100").ok);
    EXPECT_TRUE(driver.perform("lift 1").ok);
    EXPECT_TRUE(driver.perform("lift").ok);
    EXPECT_FALSE(driver.perform("lift").ok);
    // At most ten fingers.
    std::string fingers = "touch";
    for (int i = 1; i <= 10; ++i) fingers += " " + std::to_string(10 * i) + ",100";
    EXPECT_TRUE(driver.perform(fingers).ok);
    EXPECT_TRUE(driver.perform("lift").ok);
    EXPECT_FALSE(driver.perform(fingers + " 5,5").ok);
    EXPECT_EQ(driver.fingersDown(), 0u);

    auto r = driver.perform("frobnicate now");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.output, "unknown command \"frobnicate\"");
    EXPECT_FALSE(driver.perform("tap Nothing here").ok);
    EXPECT_FALSE(driver.perform("touch 1,x").ok);
    EXPECT_FALSE(driver.perform("wait -1").ok);
    EXPECT_FALSE(driver.perform("wait nan").ok);
    EXPECT_FALSE(driver.perform("rotate sideways").ok);
    EXPECT_FALSE(driver.perform("type Name Bob").ok);

    // Each command's words, at their limits and one past.
    struct Row {
        std::string line;
        std::string error;  // empty: carried out
    } rows[] = {
        {"rotate portrait", ""},
        {"tapat 10,100 #10", ""},
        {"tapat 10,100 #11", "usage: tapat x,y [x,y ...] [#taps]"},
        {"tapat 10,100 #0", "usage: tapat x,y [x,y ...] [#taps]"},
        {"tapat 10,100 #1.5x", "usage: tapat x,y [x,y ...] [#taps]"},
        {"tapat 10,100 #1.5", "usage: tapat x,y [x,y ...] [#taps]"},  // a count is a whole number
        {"tapat 10,100 #1", ""},
        {"tapat 0,0", ""},
        {"tapat", "usage: tapat x,y [x,y ...] [#taps]"},
        {"tapat 10", "usage: tapat x,y [x,y ...] [#taps]"},
        {"tapat 320,100", "the point 320,100 is off the screen (x from 0 to 320, y from 0 to 480)"},
        {"tapat 319.5,479.5", ""},
        {"tapat -1,5", "the point -1,5 is off the screen (x from 0 to 320, y from 0 to 480)"},
        {"move", "usage: move x,y [x,y ...]"},
        {"touch 10,100", ""},
        {"lift 1", "no finger 1"},
        {"lift x", "no finger x"},
        {"lift 0.5", "no finger 0.5"},
        {"lift 0", ""},
        {"touch 10,100 20,100", ""},
        {"cancel", ""},
        {"lift", "no finger is down"},
        {"swipe 10,100", "usage: swipe x,y x,y"},
        {"swipe 10,100 50,x", "usage: swipe x,y x,y"},
        {"swipe 10,100 50,100", ""},
        {"pinch 100,100 10", "usage: pinch x,y from to"},
        {"pinch 100,100 -1 10", "usage: pinch x,y from to"},
        {"pinch 100,100 10 -1", "usage: pinch x,y from to"},
        {"pinch 100,100 0 20", ""},
        {"rotate upside-down", ""},
        {"rotate landscape-right", ""},
        {"rotate portrait", ""},
        {"wait 86400", ""},
        {"wait 86400.01", "usage: wait <seconds> (a number from 0 to 86400)"},
        {"wait 1e3", "usage: wait <seconds> (a number from 0 to 86400)"},
        {"wait " + std::string(29, '0') + "1", ""},  // at most 30 digits
        {"wait " + std::string(30, '0') + "1", "usage: wait <seconds> (a number from 0 to 86400)"},
        {"wait -0", ""},
        {"wait 1.2.3", "usage: wait <seconds> (a number from 0 to 86400)"},
        {"wait .5", ""},
        {"wait 5.", ""},
        {"wait -", "usage: wait <seconds> (a number from 0 to 86400)"},
    };
    for (const Row& row : rows) {
        Driver::Result r = driver.perform(row.line);
        EXPECT_EQ(r.ok, row.error.empty()) << row.line << ": " << r.output;
        if (!row.error.empty()) {
            EXPECT_EQ(r.output, row.error) << row.line;
            EXPECT_EQ(driver.lastError(), row.error) << row.line;
        }
    }
    EXPECT_EQ(driver.fingersDown(), 0u);
}

}  // namespace
}  // namespace ui::test

#include "platform/foundation/NotificationCenter.h"

namespace ui::test {
namespace {

TEST_F(UITest, KeyboardComesWithTheFirstFieldAndGoesWithTheLast) {
    auto w = makeWindow();
    auto a = TextField::make(makeRect(0, 0, 100, 30));
    auto b = TextField::make(makeRect(0, 40, 100, 30));
    w->addSubview(a);
    w->addSubview(b);
    std::vector<std::string> seen;
    Rect end;
    auto center = ns::NotificationCenter::defaultCenter();
    std::vector<ns::ObserverToken> tokens;
    for (const char* n : {kKeyboardWillShowNotification, kKeyboardDidShowNotification, kKeyboardWillHideNotification,
                          kKeyboardDidHideNotification})
        tokens.push_back(center->addObserver(n, nullptr, [&](const ns::Notification& note) {
            seen.push_back(note.name());
            auto* s = note.userInfo() ? note.userInfo()->stringForKey(kKeyboardFrameEndUserInfoKey) : nullptr;
            ASSERT_NE(s, nullptr);
            ASSERT_TRUE(rectFromString(s->utf8(), end));
        }));
    EXPECT_TRUE(a->becomeFirstResponder());
    EXPECT_EQ(end, makeRect(0, 264, 320, 216));
    EXPECT_TRUE(b->becomeFirstResponder());  // the focus moves; the keyboard stays
    EXPECT_FALSE(a->isFirstResponder());
    EXPECT_TRUE(b->resignFirstResponder());
    EXPECT_EQ(seen, (std::vector<std::string>{kKeyboardWillShowNotification, kKeyboardDidShowNotification,
                                              kKeyboardWillHideNotification, kKeyboardDidHideNotification}));
    EXPECT_EQ(end, makeRect(0, 480, 320, 216));
    EXPECT_FALSE(Application::shared()->isKeyboardVisible());
}

TEST_F(UITest, CellSubviewsAreMadeOnFirstUse) {
    auto cell = TableViewCell::make(TableViewCellStyle::Default, "x");
    EXPECT_TRUE(cell->contentView()->subviews().empty());
    auto field = TextField::make(makeRect(10, 10, 100, 24));
    cell->contentView()->addSubview(field);
    EXPECT_EQ(cell->contentView()->subviews()[0].get(), field.get());
    EXPECT_EQ(cell->detailTextLabel(), nullptr);
    cell->textLabel()->setText("Row");
    EXPECT_EQ(cell->contentView()->subviews().size(), 2u);
}

}  // namespace
}  // namespace ui::test

namespace ui::test {
namespace {

TEST_F(UITest, ImageButtonsAreNamedByTheirImage) {
    auto w = makeWindow();
    auto b = Button::make(makeRect(10, 10, 40, 40));
    b->setImage(Image::make("btnShare.png", {40, 40}));
    int taps = 0;
    b->addAction([&](Control*) { ++taps; }, ControlEventTouchUpInside);
    w->addSubview(b);
    Driver d;
    EXPECT_EQ(d.screen(), "[btnShare.png]\n");
    EXPECT_TRUE(d.tapButton("btnShare.png"));
    EXPECT_EQ(taps, 1);
    b->setEnabled(false);
    EXPECT_EQ(d.screen(), "[btnShare.png] (disabled)\n");
    EXPECT_FALSE(d.tapButton("btnShare.png"));
}

// Two navigation stacks side by side, as the tablet's panes are.
struct TwoPanes : ViewController {
    ns::Ref<NavigationController> left, right;
    void loadView() override {
        ViewController::loadView();
        for (auto* nav : {&left, &right}) {
            *nav = NavigationController::withRoot(ns::make<ViewController>());
            (*nav)->view()->setFrame(makeRect(nav == &left ? 0 : 160, 0, 160, 480));
            view()->addSubview(ns::Ref<View>((*nav)->view()));
        }
    }
    std::vector<ViewController*> visibleChildViewControllers() const override { return {left.get(), right.get()}; }
};

// A name that matches exactly wins over one that matches but for case,
// wherever the exact one is: a button's title or its accessibility label, a
// back button of either pane, an alert's button.
TEST_F(UITest, AnExactNameWinsOverOneThatDiffersInCase) {
    auto w = makeWindow();
    auto root = ns::make<TwoPanes>();
    w->setRootViewController(root);
    root->view();
    root->left->topViewController()->setTitle("Deck");
    root->right->topViewController()->setTitle("Search");
    root->left->pushViewController(ns::make<ViewController>(), false);
    root->right->pushViewController(ns::make<ViewController>(), false);
    auto lower = Button::make(makeRect(10, 100, 100, 30), "start");
    auto labelled = Button::make(makeRect(10, 200, 100, 30), "Go");
    labelled->setAccessibilityLabel("Start");
    std::vector<std::string> tapped;
    lower->addAction([&](Control*) { tapped.push_back("start"); }, ControlEventTouchUpInside);
    labelled->addAction([&](Control*) { tapped.push_back("Go"); }, ControlEventTouchUpInside);
    root->left->topViewController()->view()->addSubview(labelled);
    root->left->topViewController()->view()->addSubview(lower);  // the top-most of the two
    Driver d;
    ASSERT_TRUE(d.tapButton("Start")) << d.lastError();
    EXPECT_EQ(tapped, std::vector<std::string>{"Go"});
    ASSERT_TRUE(d.tapButton("START")) << d.lastError();  // none exact: the top-most that differs in case
    EXPECT_EQ(tapped, (std::vector<std::string>{"Go", "start"}));
    // The back button of the pane that shows the name, whichever pane it is.
    ASSERT_TRUE(d.tapBarButton("Search")) << d.lastError();
    EXPECT_EQ(root->right->viewControllers().size(), 1u);
    EXPECT_EQ(root->left->viewControllers().size(), 2u);
    ASSERT_TRUE(d.tapBarButton("Deck")) << d.lastError();
    EXPECT_EQ(root->left->viewControllers().size(), 1u);
    // An alert's button by its exact title, by case, and no button at all for "".
    auto alert = AlertView::make("Title", "", nullptr, "OK", {"ok!"});
    alert->show();
    EXPECT_FALSE(d.pressAlertButton(""));
    EXPECT_EQ(d.lastFailure(), Driver::Failure::NotFound);
    EXPECT_EQ(d.lastError(), "the alert has no button \"\"");
    EXPECT_TRUE(alert->isVisible());
    EXPECT_TRUE(d.pressAlertButton("OK!"));
    EXPECT_FALSE(alert->isVisible());
}

}  // namespace
}  // namespace ui::test

namespace ui::test {
namespace {

TEST_F(UITest, ButtonsOutsideTheirScrollViewCannotBeTapped) {
    // What is scrolled out of sight is out of reach until someone scrolls.
    auto w = makeWindow();
    auto scroll = ns::make<ScrollView>(makeRect(0, 0, 320, 200));
    scroll->setContentSize({320, 1000});
    w->addSubview(scroll);
    auto b = Button::make(makeRect(10, 800, 100, 40), "Send");
    int taps = 0;
    b->addAction([&](Control*) { ++taps; }, ControlEventTouchUpInside);
    scroll->addSubview(b);
    Driver d;
    EXPECT_FALSE(d.tapButton("Send"));
    scroll->setContentOffset({0, 640});
    ASSERT_TRUE(d.tapButton("Send")) << d.lastError();
    EXPECT_EQ(taps, 1);
}

}  // namespace
}  // namespace ui::test

namespace ui::test {
namespace {

// Rows in two sections, each with its own accessory.
struct Sections : ns::Object, TableViewDataSource {
    long numberOfSectionsInTableView(TableView*) override { return 2; }
    long tableViewNumberOfRowsInSection(TableView*, long s) override { return s == 0 ? 3 : 4; }
    ns::Ref<TableViewCell> tableViewCellForRowAtIndexPath(TableView* t, IndexPath ip) override {
        auto c = t->dequeueReusableCellWithIdentifier("c");
        if (!c) c = TableViewCell::make(TableViewCellStyle::Value1, "c");
        c->textLabel()->setText("Row " + std::to_string(ip.section) + "." + std::to_string(ip.row));
        c->detailTextLabel()->setText(ip.row == 1 ? "note" : "");
        static const TableViewCellAccessoryType marks[] = {
            TableViewCellAccessoryType::None, TableViewCellAccessoryType::DisclosureIndicator,
            TableViewCellAccessoryType::DetailDisclosureButton, TableViewCellAccessoryType::Checkmark};
        c->setAccessoryType(marks[ip.row % 4]);
        return c;
    }
    std::string tableViewTitleForHeaderInSection(TableView*, long s) override { return s == 0 ? "First" : ""; }
};

TEST_F(UITest, TextScreenDrawsEachKindOfViewAsAPersonReadsIt) {
    auto w = makeWindow();
    auto label = [&](const std::string& text, double alpha, bool hidden) {
        auto l = Label::make(makeRect(0, 0, 100, 20));
        l->setText(text);
        l->setAlpha(alpha);
        l->setHidden(hidden);
        w->addSubview(l);
    };
    label("Shown", 1, false);
    label("Hidden", 1, true);
    label("Too faint", 0.009, false);
    label("Faint but seen", 0.01, false);
    label("", 1, false);  // an empty label draws no line
    auto send = Button::make(makeRect(0, 0, 10, 10), "Send");
    send->setEnabled(false);
    w->addSubview(send);
    auto sound = ns::make<Switch>(makeRect(0, 0, 79, 27));
    sound->setAccessibilityLabel("Sound");
    w->addSubview(sound);
    auto plain = TextField::make(makeRect(0, 0, 10, 10));
    plain->setText("x");
    w->addSubview(plain);
    auto pass = TextField::make(makeRect(0, 0, 10, 10));
    pass->setPlaceholder("Pass");
    pass->setSecureTextEntry(true);
    w->addSubview(pass);
    auto labelled = TextField::make(makeRect(0, 0, 10, 10));
    labelled->setPlaceholder("shown when no label");
    labelled->setAccessibilityLabel("E-mail");
    w->addSubview(labelled);
    auto idle = ns::make<ActivityIndicatorView>();
    idle->setHidesWhenStopped(false);
    w->addSubview(idle);
    auto busy = ns::make<ActivityIndicatorView>();
    busy->startAnimating();
    w->addSubview(busy);
    auto search = ns::make<SearchBar>(makeRect(0, 0, 320, 44));
    search->setPlaceholder("Find");
    search->setShowsCancelButton(true);
    w->addSubview(search);
    auto bar = ns::make<NavigationBar>(makeRect(0, 0, 320, 44));
    auto item = ns::make<NavigationItem>();
    item->setTitle("Cards");
    item->setPrompt("Pick one");
    item->setLeftBarButtonItem(BarButtonItem::withTitle("Edit"));
    auto done = BarButtonItem::withTitle("Done");
    done->setEnabled(false);
    item->setRightBarButtonItem(done);
    bar->pushNavigationItem(item);
    w->addSubview(bar);
    auto titleOnly = ns::make<NavigationBar>(makeRect(0, 0, 320, 44));
    auto plainItem = ns::make<NavigationItem>();
    plainItem->setTitle("Alone");
    titleOnly->pushNavigationItem(plainItem);
    w->addSubview(titleOnly);
    auto web = WebView::make(makeRect(0, 0, 320, 100));
    web->loadHTMLString("<p>one</p><a href='x.html'>two</a>", ns::URL::URLWithString("file:///b/KORVEL_3.html"));
    w->addSubview(web);
    auto sections = ns::make<Sections>();
    auto table = TableView::make(makeRect(0, 0, 320, 132));  // three rows of 44 points
    table->setDataSource(sections.get());
    auto header = Label::make(makeRect(0, 0, 320, 20));
    header->setText("Above the rows");
    table->setTableHeaderView(header);
    w->addSubview(table);
    auto empty = TableView::make(makeRect(0, 0, 320, 100));
    w->addSubview(empty);
    Driver d;
    d.settle();
    EXPECT_EQ(d.screen(),
              "Shown\n"
              "Faint but seen\n"
              "[Send] (disabled)\n"
              "(off) Sound\n"
              "Field: x____\n"
              "Pass: ____\n"
              "E-mail: ____\n"
              "(busy)\n"
              "Search (Find): ____ [Cancel]\n"
              "Pick one\n"
              "== [Edit] | Cards | [Done] (disabled) ==\n"
              "== Alone ==\n"
              "[page KORVEL_3.html]\n"
              "  one\n"
              "  [two]\n"
              "Above the rows\n"
              "-- First --\n"
              "- Row 0.0\n"
              "- Row 0.1 | note >\n"
              "- Row 0.2 (i)\n"
              "(4 more below)\n"
              "(empty list)\n");
    // Scrolled to the end: the rows above are counted, a section without a
    // title has no heading, and a selected row is marked.
    table->scrollToRowAtIndexPath({1, 3}, TableViewScrollPosition::Bottom, false);
    table->selectRowAtIndexPath(IndexPath{1, 2}, false, TableViewScrollPosition::None);
    pass->setText("secret");
    std::string s = TextScreen::renderView(table.get());
    EXPECT_EQ(s.substr(s.find('(')),
              "(4 more above)\n"
              "- Row 1.1 | note >\n"
              "* Row 1.2 (i)\n"
              "- Row 1.3 (v)\n");
    EXPECT_EQ(TextScreen::renderView(pass.get()), "Pass: ********____\n");
}

TEST_F(UITest, SearchBarsAndFieldsAreFoundByPlaceholderOrLabel) {
    auto w = makeWindow();
    auto find = ns::make<SearchBar>(makeRect(0, 0, 320, 44));
    find->setPlaceholder("Find");
    w->addSubview(find);
    auto filter = ns::make<SearchBar>(makeRect(0, 50, 320, 44));
    filter->setPlaceholder("words");
    filter->setAccessibilityLabel("Filter");
    w->addSubview(filter);
    auto name = TextField::make(makeRect(0, 100, 200, 30));
    name->setPlaceholder("Name");
    w->addSubview(name);
    auto mail = TextField::make(makeRect(0, 140, 200, 30));
    mail->setPlaceholder("you@example.org");
    mail->setAccessibilityLabel("E-mail");
    w->addSubview(mail);
    Driver d;
    d.settle();
    EXPECT_TRUE(d.typeText("Find", "a")) << d.lastError();
    EXPECT_TRUE(d.typeText("Filter", "b")) << d.lastError();
    EXPECT_TRUE(d.typeText("Name", "c")) << d.lastError();
    EXPECT_TRUE(d.typeText("E-mail", "d")) << d.lastError();
    EXPECT_EQ(find->text() + filter->text() + name->text() + mail->text(), "abcd");
}

TEST_F(UITest, TheScreenShowsControlCharactersEscapedAndNeverAsTheyAre) {
    struct Row {
        const char* name;
        std::string text, field, line;  // as a field shows it, as a label's line shows it
    } rows[] = {
        {"escape sequence", "a\x1b[2Jb", "a\\x1B[2Jb", "a\\x1B[2Jb"},
        {"bell, backspace, carriage return", "\x07\x08\r", "\\x07\\x08\\x0D", "\\x07\\x08\\x0D"},
        {"tab", "a\tb", "a\\x09b", "a\tb"},
        {"NUL and the last C0", std::string("a\0\x1f", 3), "a\\x00\\x1F", "a\\x00\\x1F"},
        {"DEL", "\x7f", "\\x7F", "\\x7F"},
        {"C1 controls", "\xc2\x80\xc2\x9b\xc2\x9f", "\\u0080\\u009B\\u009F", "\\u0080\\u009B\\u009F"},
        {"just past the C1 controls", "\xc2\xa0\xc3\xa9", "\xc2\xa0\xc3\xa9", "\xc2\xa0\xc3\xa9"},
        {"other characters", "\xe2\x82\xac \xf0\x9f\x98\x80 ~", "\xe2\x82\xac \xf0\x9f\x98\x80 ~",
         "\xe2\x82\xac \xf0\x9f\x98\x80 ~"},
        {"bytes that are no character", "\xff\xc2\xe2\x82 \x80", "\\xFF\\xC2\\xE2\\x82 \\x80",
         "\\xFF\\xC2\\xE2\\x82 \\x80"},
        {"a character cut at the end", "\xf0\x9f\x98", "\\xF0\\x9F\\x98", "\\xF0\\x9F\\x98"},
        // Of a character's shape, but none: a surrogate, an overlong "/",
        // a code point past U+10FFFF.
        {"a surrogate", "a\xed\xa0\x80" "b", "a\\xED\\xA0\\x80b", "a\\xED\\xA0\\x80b"},
        {"an overlong character", "\xe0\x80\xaf", "\\xE0\\x80\\xAF", "\\xE0\\x80\\xAF"},
        {"past the last code point", "\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80", "\\xF4\\x90\\x80\\x80"},
        {"the last code point", "\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"},
    };
    for (const Row& row : rows) {
        auto w = makeWindow();
        auto f = TextField::make(makeRect(0, 0, 100, 20));
        f->setPlaceholder("Name");
        f->setText(row.text);
        w->addSubview(f);
        auto l = Label::make(makeRect(0, 30, 100, 20));
        l->setText(row.text);
        w->addSubview(l);
        EXPECT_EQ(TextScreen::renderView(f.get()), "Name: " + row.field + "____\n") << row.name;
        EXPECT_EQ(TextScreen::renderView(l.get()), row.line + "\n") << row.name;
        EXPECT_EQ(TextScreen::printable(row.text, false), row.field) << row.name;
    }
    // A character cut by the end of the text is no character, whatever
    // bytes lie past that end.
    const char fourBytes[] = "\xf0\x9f\x98\x80";
    EXPECT_EQ(TextScreen::printable(std::string_view(fourBytes, 3)), "\\xF0\\x9F\\x98");
    EXPECT_EQ(TextScreen::printable(std::string_view(fourBytes, 4)), fourBytes);
    // A label over lines keeps them; an alert's texts and buttons are shown
    // escaped too, as a page's text is.
    auto w = makeWindow();
    auto l = Label::make(makeRect(0, 0, 100, 40));
    l->setText("one\ntwo");
    w->addSubview(l);
    auto web = WebView::make(makeRect(0, 50, 320, 100));
    web->loadHTMLString("<p>x&#27;]0;title&#7;y</p>", ns::URL::URLWithString("file:///b/p.html"));
    w->addSubview(web);
    auto alert = AlertView::make("T\x1b]0;x", "m\x1b[1m\nsecond", nullptr, "O\x07K");
    alert->show();
    Driver d;
    d.settle();
    EXPECT_EQ(d.screen(),
              "+-- Alert: T\\x1B]0;x --\n"
              "| m\\x1B[1m\n"
              "| second\n"
              "| [O\\x07K]\n"
              "+--\n"
              "one\ntwo\n"
              "[page p.html]\n"
              "  x\\x1B]0;title\\x07y\n");
    alert->dismissWithClickedButtonIndex(0, false);
}

}  // namespace
}  // namespace ui::test
