// EventWindow's routing of touches over card pages, and the swipe, pinch
// and tap recognition of the card web view.
#include "app/tests/AppTestSupport.h"

#include <functional>

#include "platform/ui/Control.h"

namespace app::test {

namespace {

class GestureRecorder : public ns::Object, public SwipeableWebViewDelegate_ipad {
public:
    std::vector<std::string> calls;
    void registerTap() override { calls.push_back("tap"); }
    void registerSwipeDirectionMultiTouch(bool toRight, bool multi) override {
        calls.push_back(toRight ? "swipe-right" : "swipe-left");
    }
    void registerPinchDirection(bool closing) override { calls.push_back(closing ? "pinch-in" : "pinch-out"); }
    bool answers(Optional) const override { return true; }
    std::string joined() const {
        std::string s;
        for (auto& c : calls) s += (s.empty() ? "" : ",") + c;
        return s;
    }
};

// A child that records what the window forwards and may block delivery: a
// controller around a page of its own, as the full card is.
class ChildRecorder : public ui::ViewController {
public:
    std::vector<std::string> calls;
    bool block = false;
    EventWindow* window = nullptr;
    size_t deliveriesSeen = 0;
    void note(const char* what) {
        calls.push_back(what);
        deliveriesSeen = window->normalDeliveries();
        if (block) window->setBlockSuperEvent(true);
    }
    void touchesBegan(const ui::TouchSet&, ui::Event*) override { note("began"); }
    void touchesMoved(const ui::TouchSet&, ui::Event*) override { note("moved"); }
    void touchesEnded(const ui::TouchSet&, ui::Event*) override { note("ended"); }
};

class GestureTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        setRegistro();
        startTablet();
        window = delegate->window();
        page = SwipeableWebView_ipad::make(ui::makeRect(100, 680, 500, 340));
        window->rootViewController()->view()->addSubview(page);
        page->loadHTMLString("<html><body><p>Card</p></body></html>", nullptr);
        recorder = ns::make<GestureRecorder>();
        page->setSwipeDelegate_ipad(recorder.get());
        driver->settle();
    }
    ui::Point at(double x, double y) const { return {100 + x, 680 + y}; }
    EventWindow* window = nullptr;
    ns::Ref<SwipeableWebView_ipad> page;
    ns::Ref<GestureRecorder> recorder;
};

}  // namespace

TEST_F(GestureTest, TheNewestCardViewIsTheWindowsChild) {
    EXPECT_EQ(window->child(), page.get());
    auto other = SwipeableWebView_ipad::make(ui::makeRect(0, 0, 10, 10));
    EXPECT_EQ(window->child(), other.get());
    other = nullptr;  // not retained by the window
    EXPECT_EQ(window->child(), nullptr);
}

TEST_F(GestureTest, TouchesOverOrdinaryViewsNeverReachTheChild) {
    auto child = ns::make<ChildRecorder>();
    child->window = window;
    window->setChild(child.get());
    size_t before = window->normalDeliveries();
    ASSERT_TRUE(driver->tapButton("Experience")) << driver->lastError();
    EXPECT_TRUE(child->calls.empty());
    EXPECT_EQ(window->normalDeliveries(), before + 2);  // began and ended

    // Nor over an ordinary view of the child's own: the full card's Close
    // button is no page. (The hub that opened made its pane the child.)
    window->setChild(child.get());
    before = window->normalDeliveries();
    auto holder = ui::View::make(ui::makeRect(0, 100, 300, 200));
    auto button = ui::Button::make(ui::makeRect(10, 10, 100, 40), "Close");
    holder->addSubview(button);
    child->setView(holder);
    window->rootViewController()->view()->addSubview(holder);
    ASSERT_TRUE(driver->tapButton("Close")) << driver->lastError();
    EXPECT_TRUE(child->calls.empty());
    EXPECT_EQ(window->normalDeliveries(), before + 2);

    // A touch whose view went away while the finger was down.
    holder->removeFromSuperview();
    child->setView(ui::View::make(ui::makeRect(0, 0, 10, 10)));
    holder = nullptr;
    button = ui::Button::make(ui::makeRect(10, 110, 100, 40), "Gone");
    window->rootViewController()->view()->addSubview(button);
    driver->touchesBegan({{60, 130}});
    button->removeFromSuperview();
    button = nullptr;
    driver->touchesEnded();
    EXPECT_TRUE(child->calls.empty());
    EXPECT_EQ(window->normalDeliveries(), before + 4);
}

TEST_F(GestureTest, ChildHearsFirstAndMayBlockNormalDelivery) {
    auto child = ns::make<ChildRecorder>();
    child->window = window;
    auto holder = ui::View::make(page->frame());
    holder->addSubview(ui::WebView::make(holder->bounds()));
    child->setView(holder);
    window->rootViewController()->view()->addSubview(holder);
    window->setChild(child.get());
    size_t before = window->normalDeliveries();
    driver->touchesBegan({at(50, 50)});
    ASSERT_EQ(child->calls.size(), 1u);
    EXPECT_EQ(child->calls[0], "began");
    EXPECT_EQ(child->deliveriesSeen, before);  // forwarded before the normal delivery
    EXPECT_EQ(window->normalDeliveries(), before + 1);
    driver->touchesMoved({at(60, 50)});
    driver->touchesEnded();
    EXPECT_EQ(child->calls.size(), 3u);
    EXPECT_EQ(window->normalDeliveries(), before + 3);

    child->block = true;
    child->calls.clear();
    before = window->normalDeliveries();
    driver->touchesBegan({at(50, 50)});
    driver->touchesMoved({at(70, 50)});
    driver->touchesEnded();
    EXPECT_EQ(child->calls.size(), 3u);
    EXPECT_EQ(window->normalDeliveries(), before);
}

TEST_F(GestureTest, APageThatIsNotTheChildsKeepsItsTouches) {
    // A mail composer's body laid over the card, and a page beside it: a
    // page, but not the card's, so its taps and pinches never reach the card.
    struct Row {
        const char* name;
        ui::Rect frame;
    };
    for (const Row& row : {Row{"over the card", page->frame()}, Row{"beside the card", ui::makeRect(100, 100, 500, 300)}}) {
        SCOPED_TRACE(row.name);
        recorder->calls.clear();
        auto other = ui::WebView::make(row.frame);
        window->rootViewController()->view()->addSubview(other);
        other->loadHTMLString("<html><body><p>Mail body</p></body></html>", nullptr);
        driver->settle();
        ui::Point c = ui::Driver::centerOf(other.get());
        size_t before = window->normalDeliveries();
        driver->tap(c);
        driver->tap(c);
        driver->pinch(c, 60, 120);
        EXPECT_EQ(recorder->joined(), "");
        EXPECT_EQ(window->normalDeliveries(), before + 10);  // 2 taps of 2, a pinch of 6: all delivered
        other->removeFromSuperview();
        // The card's own page still hears its touches.
        driver->tap(at(50, 50));
        EXPECT_EQ(recorder->joined(), "tap");
        recorder->calls.clear();
    }
}

TEST_F(GestureTest, APinchIsNeverATap) {
    struct Row {
        const char* name;
        std::function<void()> gesture;
        const char* heard;
    };
    const Row rows[] = {
        {"pinch out, both fingers lifted together",
         [&] { driver->pinch(at(200, 100), 60, 120); }, "pinch-out,pinch-out,pinch-out,pinch-out"},
        {"pinch in, fingers lifted one by one",
         [&] {
             driver->touchesBegan({at(100, 100), at(300, 100)});
             driver->touchesMoved({at(120, 100), at(280, 100)});
             driver->touchesEnded({0});
             driver->touchesEnded();
         },
         "pinch-in"},
        {"two fingers down and up without moving",
         [&] {
             driver->touchesBegan({at(100, 100), at(200, 100)});
             driver->touchesEnded();
         },
         ""},
        {"a second finger joining a one-finger touch",
         [&] {
             driver->touchesBegan({at(100, 100)});
             driver->touchesBegan({at(200, 100)});
             driver->touchesMoved({at(100, 100), at(220, 100)});
             driver->touchesEnded();
         },
         "pinch-out"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        recorder->calls.clear();
        row.gesture();
        EXPECT_EQ(recorder->joined(), row.heard);
        // The next one-finger touch is a tap again.
        recorder->calls.clear();
        driver->tap(at(50, 50));
        EXPECT_EQ(recorder->joined(), "tap");
    }
}

TEST_F(GestureTest, HundredPointsSidewaysIsASwipeNinetyNineIsNot) {
    driver->touchesBegan({at(100, 100)});
    driver->touchesMoved({at(199, 160)});
    driver->touchesEnded();
    EXPECT_EQ(recorder->joined(), "tap");  // 99.1 is not more than 100
    recorder->calls.clear();

    driver->touchesBegan({at(100, 100)});
    driver->touchesMoved({at(200, 160)});  // 100.1 > 100 and 100.1 / 60.1 > 1
    driver->touchesMoved({at(300, 160)});  // once per touch sequence
    driver->touchesEnded();
    EXPECT_EQ(recorder->joined(), "swipe-right,tap");
    recorder->calls.clear();

    driver->touchesBegan({at(300, 100)});
    driver->touchesMoved({at(150, 100)});
    EXPECT_EQ(recorder->joined(), "swipe-left");
    driver->touchesEnded();
    recorder->calls.clear();

    // Steeper than 45 degrees is no swipe.
    driver->touchesBegan({at(100, 100)});
    driver->touchesMoved({at(220, 230)});
    driver->touchesEnded();
    EXPECT_EQ(recorder->joined(), "tap");
}

TEST_F(GestureTest, TwoFingersNeverSwipeUntilANewOneFingerTouch) {
    driver->touchesBegan({at(100, 100), at(200, 100)});
    driver->touchesEnded({1});
    driver->touchesMoved({at(350, 100)});
    driver->touchesEnded();
    for (auto& c : recorder->calls) EXPECT_EQ(c.rfind("swipe", 0), std::string::npos) << recorder->joined();
    recorder->calls.clear();
    driver->touchesBegan({at(100, 100)});
    driver->touchesMoved({at(250, 100)});
    driver->touchesEnded();
    EXPECT_EQ(recorder->joined(), "swipe-right,tap");
}

TEST_F(GestureTest, PinchStepsAreChangesAboveFivePoints) {
    size_t before = window->normalDeliveries();
    driver->touchesBegan({at(100, 100), at(200, 100)});
    driver->touchesMoved({at(100, 100), at(205, 100)});  // exactly 5: accumulated, not reported
    EXPECT_TRUE(recorder->calls.empty());
    driver->touchesMoved({at(100, 100), at(206, 100)});  // 6 from the start
    EXPECT_EQ(recorder->joined(), "pinch-out");
    driver->touchesMoved({at(100, 100), at(190, 100)});
    EXPECT_EQ(recorder->joined(), "pinch-out,pinch-in");
    EXPECT_EQ(window->normalDeliveries(), before);  // the page neither scrolls nor zooms
    driver->touchesEnded();
    EXPECT_EQ(page->pinchDistance(), 0);
}

TEST_F(GestureTest, ATapIsReportedOnlyToADelegateThatAnswersIt) {
    driver->tap(at(50, 50));
    EXPECT_EQ(recorder->joined(), "tap");
    class Silent : public ns::Object, public SwipeableWebViewDelegate_ipad {
    public:
        int taps = 0;
        void registerTap() override { ++taps; }
    };
    auto silent = ns::make<Silent>();
    page->setSwipeDelegate_ipad(silent.get());
    driver->tap(at(50, 50));
    EXPECT_EQ(silent->taps, 0);
}

}  // namespace app::test
