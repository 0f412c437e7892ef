#include <gtest/gtest.h>

#include "platform/ui/Application.h"
#include "platform/ui/Control.h"
#include "platform/ui/Label.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/WebView.h"
#include "testsupport/UITest.h"

using testsupport::UITest;

namespace ui::test {
namespace {

using ControlTest = UITest;

TEST_F(ControlTest, TouchesInsideAndOutsideAControl) {
    auto w = makeWindow();
    auto b = Button::make(makeRect(100, 100, 80, 40), "Go");
    w->addSubview(b);
    std::vector<std::string> seen;
    b->addAction([&](Control*) { seen.push_back("down"); }, ControlEventTouchDown);
    b->addAction([&](Control*) { seen.push_back("up-in"); }, ControlEventTouchUpInside);
    b->addAction([&](Control*) { seen.push_back("up-out"); }, ControlEventTouchUpOutside);
    Driver d;
    d.touchesBegan({{120, 120}});
    EXPECT_TRUE(b->isHighlighted());
    EXPECT_EQ(b->currentTitle(), "Go");
    d.touchesMoved({{300, 300}});
    EXPECT_FALSE(b->isHighlighted());
    d.touchesEnded();
    EXPECT_EQ(seen, (std::vector<std::string>{"down", "up-out"}));
    // A second tap in a row is a repeat too; a first is not.
    b->addAction([&](Control*) { seen.push_back("repeat"); }, ControlEventTouchDownRepeat);
    for (unsigned taps : {1u, 2u, 3u}) {
        seen.clear();
        d.tap({120, 120}, taps);
        EXPECT_EQ(seen, taps == 1 ? (std::vector<std::string>{"down", "up-in"})
                                  : (std::vector<std::string>{"down", "repeat", "up-in"}))
            << taps;
    }
    seen.clear();
    b->setEnabled(false);
    d.tap({120, 120});
    EXPECT_TRUE(seen.empty());
}

TEST_F(ControlTest, FreshControlsStartWithThePlatformsDefaults) {
    auto field = TextField::make();
    EXPECT_FALSE(field->isSecureTextEntry());
    EXPECT_EQ(field->keyboardType(), KeyboardType::Default);
    EXPECT_EQ(field->returnKeyType(), ReturnKeyType::Default);
    EXPECT_EQ(field->autocorrectionType(), AutocorrectionType::Default);
    EXPECT_EQ(field->autocapitalizationType(), AutocapitalizationType::Sentences);
    EXPECT_EQ(field->borderStyle(), BorderStyle::None);
    EXPECT_FALSE(ns::make<Switch>(makeRect(0, 0, 79, 27))->isOn());
    EXPECT_EQ(Label::make()->numberOfLines(), 1);
    auto scroll = ns::make<ScrollView>(makeRect(0, 0, 10, 10));
    EXPECT_EQ(scroll->zoomScale(), 1);
    EXPECT_EQ(scroll->minimumZoomScale(), 1);
    EXPECT_EQ(scroll->maximumZoomScale(), 1);
    EXPECT_FALSE(ns::make<SearchBar>(makeRect(0, 0, 320, 44))->showsCancelButton());
}

TEST_F(ControlTest, SwitchFlipsOnTap) {
    auto w = makeWindow();
    auto s = ns::make<Switch>(makeRect(0, 0, 79, 27));
    w->addSubview(s);
    int changes = 0;
    s->addAction([&](Control*) { ++changes; }, ControlEventValueChanged);
    Driver d;
    d.tap(Driver::centerOf(s.get()));
    EXPECT_TRUE(s->isOn());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(d.screen(), "(on)\n");
}

struct Guard : ns::Object, TextFieldDelegate {
    size_t maxLength = 5;
    int returns = 0;
    std::vector<ns::Range> asked;
    bool textFieldShouldChangeCharactersInRange(TextField* f, ns::Range r, const std::string& s) override {
        asked.push_back(r);
        size_t len = ns::utf8ToUTF16(f->text()).size();
        return len - r.length + ns::utf8ToUTF16(s).size() <= maxLength;
    }
    bool allowFocus = true;
    bool textFieldShouldBeginEditing(TextField*) override { return allowFocus; }
    bool textFieldShouldReturn(TextField* f) override {
        ++returns;
        f->resignFirstResponder();
        return true;
    }
};

TEST_F(ControlTest, TextFieldsAskBeforeEveryChangeAndDeleteWholeCharacters) {
    auto w = makeWindow();
    auto f = TextField::make(makeRect(0, 0, 200, 30));
    f->setPlaceholder("Name");
    w->addSubview(f);
    auto g = ns::make<Guard>();
    f->setDelegate(g.get());
    Driver d;
    ASSERT_TRUE(d.typeText("Name", "ab\xF0\x9F\x98\x80" "cdef"));  // an emoji is two UTF-16 units
    EXPECT_EQ(f->text(), "ab\xF0\x9F\x98\x80" "c");
    g->asked.clear();
    EXPECT_TRUE(f->deleteBackward());
    EXPECT_TRUE(f->deleteBackward());  // the whole emoji at once
    EXPECT_EQ(f->text(), "ab");
    // Ranges count UTF-16 units of the text as it stands, also after the
    // text was set in code.
    f->setText("\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_TRUE(f->insertText("z"));
    EXPECT_EQ(g->asked, (std::vector<ns::Range>{{4, 1}, {2, 2}, {3, 0}}));
    f->setText("ab");
    ASSERT_TRUE(d.pressReturn());
    EXPECT_EQ(g->returns, 1);
    EXPECT_FALSE(f->isFirstResponder());
    // Secure fields never show their text.
    f->setSecureTextEntry(true);
    EXPECT_EQ(d.screen(), "Name: ********____\n");
    // A delegate may keep the focus away.
    g->allowFocus = false;
    EXPECT_FALSE(f->becomeFirstResponder());
    EXPECT_FALSE(f->isFirstResponder());
    EXPECT_FALSE(f->isEditing());
}

struct SearchLog : ns::Object, SearchBarDelegate {
    std::vector<std::string> seen;
    void searchBarTextDidChange(SearchBar*, const std::string& t) override { seen.push_back(t); }
    void searchBarSearchButtonClicked(SearchBar* b) override { seen.push_back("search:" + b->text()); }
};

TEST_F(ControlTest, SearchBarsTellEachKeystroke) {
    auto w = makeWindow();
    auto bar = ns::make<SearchBar>(makeRect(0, 0, 320, 44));
    bar->setPlaceholder("Search cards");
    w->addSubview(bar);
    auto log = ns::make<SearchLog>();
    bar->setDelegate(log.get());
    Driver d;
    ASSERT_TRUE(d.typeText("Search cards", "caf\xC3\xA9"));
    ASSERT_TRUE(d.pressSearch());
    EXPECT_EQ(log->seen, (std::vector<std::string>{"c", "ca", "caf", "caf\xC3\xA9", "search:caf\xC3\xA9"}));
    EXPECT_NE(d.screen().find("Search (Search cards): caf\xC3\xA9|____"), std::string::npos) << d.screen();
    // Deleting takes a whole character; replacing the text tells it too.
    bar->deleteBackward();
    bar->replaceText("tea");
    EXPECT_EQ(log->seen.back(), "tea");
    EXPECT_EQ(log->seen[log->seen.size() - 2], "caf");
    // One Cancel button however often it is asked for, none until it is.
    auto cancels = [&] {
        size_t n = 0;
        for (auto& v : bar->subviews())
            if (auto* b = dynamic_cast<Button*>(v.get()); b && b->currentTitle() == "Cancel" && !b->isHidden()) ++n;
        return n;
    };
    auto all = [&] { return bar->subviews().size(); };
    size_t before = all();
    bar->setShowsCancelButton(false, false);
    EXPECT_EQ(all(), before);
    bar->setShowsCancelButton(true, false);
    bar->setShowsCancelButton(true, false);
    EXPECT_EQ(cancels(), 1u);
    EXPECT_EQ(all(), before + 1);
    bar->setShowsCancelButton(false, false);
    EXPECT_EQ(cancels(), 0u);
    EXPECT_EQ(all(), before + 1);
}

struct Scrolled : ns::Object, ScrollViewDelegate {
    int scrolls = 0;
    void scrollViewDidScroll(ScrollView*) override { ++scrolls; }
};

TEST_F(ControlTest, ScrollingMovesTheBoundsAndTellsTheDelegate) {
    auto w = makeWindow();
    auto sv = ns::make<ScrollView>(makeRect(0, 0, 100, 100));
    sv->setContentSize({100, 500});
    auto inner = View::make(makeRect(0, 300, 100, 50));
    sv->addSubview(inner);
    w->addSubview(sv);
    auto s = ns::make<Scrolled>();
    sv->setDelegate(s.get());
    sv->scrollRectToVisible(makeRect(0, 300, 100, 50), false);
    EXPECT_EQ(sv->contentOffset(), (Point{0, 250}));
    EXPECT_EQ(s->scrolls, 1);
    EXPECT_EQ(w->hitTest({50, 60}, nullptr), inner.get());
    EXPECT_EQ(inner->convertPointToView({0, 0}, nullptr), (Point{0, 50}));
}

struct Counting : ns::Object, WebViewDelegate {
    std::vector<WebViewNavigationType> types;
    bool webViewShouldStartLoadWithRequest(WebView*, URLRequest*, WebViewNavigationType t) override {
        types.push_back(t);
        return true;
    }
};

TEST_F(ControlTest, WebHistoryGoesBackAndForward) {
    auto web = WebView::make(makeRect(0, 0, 320, 400));
    auto c = ns::make<Counting>();
    web->setDelegate(c.get());
    web->loadHTMLString("<p>one</p><a href='http://example.com/two'>two</a>", ns::URL::URLWithString("http://example.com/"));
    EXPECT_TRUE(web->followLink("two"));
    ASSERT_TRUE(web->request());
    ASSERT_TRUE(web->request()->URL());
    EXPECT_EQ(web->request()->URL()->absoluteText(), "http://example.com/two");
    EXPECT_EQ(web->pageText(), "");  // not fetched
    web->goBack();
    EXPECT_EQ(web->pageText(), "one\n[two]");
    EXPECT_TRUE(web->canGoForward());
    web->goForward();
    EXPECT_EQ(web->request()->URL()->absoluteText(), "http://example.com/two");
    web->reload();
    EXPECT_EQ(c->types, (std::vector<WebViewNavigationType>{WebViewNavigationType::Other,
                                                            WebViewNavigationType::LinkClicked,
                                                            WebViewNavigationType::BackForward,
                                                            WebViewNavigationType::BackForward,
                                                            WebViewNavigationType::Reload}));
    EXPECT_EQ(web->loadCount(), 5u);

    // A new page after going back drops what was ahead, and only that: the
    // pages behind stay, in order.
    auto pages = WebView::make(makeRect(0, 0, 320, 400));
    auto at = [&] { return pages->request() ? pages->request()->URL()->absoluteText() : std::string("(none)"); };
    for (const char* u : {"http://example.com/a", "http://example.com/b", "http://example.com/c", "http://example.com/d"})
        pages->loadRequest(URLRequest::requestWithString(u));
    pages->goBack();
    pages->goBack();  // at b; c and d ahead
    pages->loadRequest(URLRequest::requestWithString("http://example.com/e"));
    EXPECT_FALSE(pages->canGoForward());
    std::vector<std::string> behind;
    while (pages->canGoBack()) {
        pages->goBack();
        behind.push_back(at());
    }
    EXPECT_EQ(behind, (std::vector<std::string>{"http://example.com/b", "http://example.com/a"}));
    std::vector<std::string> ahead;
    while (pages->canGoForward()) {
        pages->goForward();
        ahead.push_back(at());
    }
    EXPECT_EQ(ahead, (std::vector<std::string>{"http://example.com/b", "http://example.com/e"}));
}

TEST_F(ControlTest, TheApplicationOpensOnlyURLsWithASchemeAndReadsRectsAndPlacesTheKeyboard) {
    struct Open {
        const char* url;
        bool opens;
    } urls[] = {
        {"", false},           {"no colon", false},         {":x", false},
        {"a:", true},          {"mailto:a@example.com", true}, {"itms-apps://x", true},
        {"a1+-.:x", true},     {"1a:x", false},             {"+a:x", false},
        {"a_b:x", false},      {"a b:x", false},            {"\xC3\xA9:x", false},
    };
    auto app = Application::shared();
    size_t opened = app->openedURLs().size();
    for (const Open& u : urls) {
        EXPECT_EQ(app->canOpenURL(u.url), u.opens) << u.url;
        EXPECT_EQ(app->openURL(u.url), u.opens) << u.url;
        if (u.opens) ++opened;
        EXPECT_EQ(app->openedURLs().size(), opened) << u.url;
    }
    struct Text {
        const char* text;
        bool ok;
        Rect rect;
    } rects[] = {
        {"{{1, 2}, {3, 4}}", true, makeRect(1, 2, 3, 4)},
        {"{{-1.5,2e1},{0,.5}}", true, makeRect(-1.5, 20, 0, 0.5)},
        {"{{1, 2}, {3}}", false, {}},
        {"{{1, 2}, {3, x}}", false, {}},
        {"{{1..2, 2}, {3, 4}}", false, {}},
        {"{{1, 2}, {3, 4}, 5}", false, {}},
        {"{{1, 2}, {3, 4}}x", false, {}},
        {" {{1, 2},{3, 4}} ", true, makeRect(1, 2, 3, 4)},
        {"", false, {}},
    };
    for (const Text& t : rects) {
        Rect r = makeRect(9, 9, 9, 9);
        EXPECT_EQ(rectFromString(t.text, r), t.ok) << t.text;
        EXPECT_EQ(r, t.ok ? t.rect : makeRect(9, 9, 9, 9)) << t.text;
    }
    // The keyboard rises from the bottom of the interface, as tall as the
    // device and orientation make it.
    struct Keyboard {
        UserInterfaceIdiom idiom;
        DeviceOrientation turned;
        Rect frame;
    } keyboards[] = {
        {UserInterfaceIdiom::Phone, DeviceOrientation::Portrait, makeRect(0, 264, 320, 216)},
        {UserInterfaceIdiom::Phone, DeviceOrientation::LandscapeLeft, makeRect(0, 158, 480, 162)},
        {UserInterfaceIdiom::Pad, DeviceOrientation::Portrait, makeRect(0, 760, 768, 264)},
        {UserInterfaceIdiom::Pad, DeviceOrientation::LandscapeLeft, makeRect(0, 416, 1024, 352)},
    };
    for (const Keyboard& k : keyboards) {
        Device::current()->setUserInterfaceIdiom(k.idiom);
        auto w = makeWindow();
        w->setRootViewController(ns::make<ViewController>());
        Driver d;
        d.rotate(k.turned);
        EXPECT_EQ(app->keyboardFrame(), k.frame) << toString(k.frame);
        d.rotate(DeviceOrientation::Portrait);
    }
}

}  // namespace
}  // namespace ui::test

#include "platform/ui/TweetComposeViewController.h"
#include "platform/ui/Window.h"

namespace ui::test {
namespace {

// The tweet sheet's text at its 140 UTF-16 units and one past, in
// characters of one and of two units, and never once the sheet is shown.
TEST_F(ControlTest, ATweetTakesUpTo140UnitsOfTextBeforeItIsShown) {
    auto repeat = [](const std::string& piece, size_t n) {
        std::string out;
        while (n--) out += piece;
        return out;
    };
    const std::string astral = "\xF0\x9F\x83\x8F";  // two units
    struct Row {
        const char* name;
        std::string text;
        bool taken;
    } rows[] = {
        {"140 letters", repeat("a", 140), true},
        {"141 letters", repeat("a", 141), false},
        {"140 accented letters (280 bytes)", repeat("\xC3\xA9", 140), true},
        {"70 cards of two units", repeat(astral, 70), true},
        {"70 cards and a letter", repeat(astral, 70) + "a", false},
        {"nothing", "", true},
    };
    for (const Row& row : rows) {
        auto sheet = TweetComposeViewController::make();
        ASSERT_TRUE(sheet->setInitialText("before")) << row.name;
        EXPECT_EQ(sheet->setInitialText(row.text), row.taken) << row.name;
        EXPECT_EQ(sheet->initialText(), row.taken ? row.text : std::string("before")) << row.name;
    }
    auto w = makeWindow();
    auto root = ns::make<ViewController>();
    w->setRootViewController(root);
    auto shown = TweetComposeViewController::make();
    ASSERT_TRUE(root->presentViewController(shown, false));
    EXPECT_FALSE(shown->setInitialText("late"));
    EXPECT_EQ(shown->initialText(), "");
    TweetComposeViewController::reset();
}

}  // namespace
}  // namespace ui::test

#include "platform/ui/Pasteboard.h"

namespace ui::test {
namespace {

// The pasteboard holds one item: each kind put on it takes the place of
// whatever was there, and every change counts; the album keeps its images
// in the order they were saved.
TEST_F(ControlTest, ThePasteboardHoldsTheLastItemAndTheAlbumKeepsThemAll) {
    auto board = ns::make<Pasteboard>();
    auto url = ns::URL::URLWithString("http://example.com/a%20b?x=1&y=%26");
    auto image = Image::make("card.png", {10, 10});
    long changes = board->changeCount();
    board->setString("text & more");
    EXPECT_EQ(board->string(), "text & more");
    board->setURL(url);
    EXPECT_EQ(board->string(), "http://example.com/a%20b?x=1&y=%26");  // a URL reads as its text
    EXPECT_EQ(board->URL(), url);
    board->setImage(image);
    EXPECT_EQ(board->string(), "");
    EXPECT_EQ(board->URL(), nullptr);
    EXPECT_EQ(board->image(), image);
    board->setString("");  // an empty text is an item too
    EXPECT_EQ(board->image(), nullptr);
    EXPECT_EQ(board->string(), "");
    EXPECT_EQ(board->changeCount(), changes + 4);
    board->clear();
    EXPECT_EQ(board->changeCount(), changes + 5);

    clearSavedPhotosAlbum();
    auto other = Image::make("card.png", {10, 10});  // equal name, another image
    imageWriteToSavedPhotosAlbum(image);
    imageWriteToSavedPhotosAlbum(nullptr);
    imageWriteToSavedPhotosAlbum(other);
    imageWriteToSavedPhotosAlbum(image);
    EXPECT_EQ(savedPhotosAlbum(), (std::vector<ns::Ref<Image>>{image, other, image}));
    clearSavedPhotosAlbum();
    EXPECT_TRUE(savedPhotosAlbum().empty());
}

}  // namespace
}  // namespace ui::test
