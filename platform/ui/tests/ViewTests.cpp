#include <gtest/gtest.h>

#include <unordered_set>

#include "platform/foundation/Exception.h"
#include "platform/ui/Color.h"
#include "platform/ui/Control.h"
#include "platform/ui/Image.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "testsupport/UITest.h"

using testsupport::UITest;

namespace ui::test {
namespace {

using ViewTest = UITest;

TEST_F(ViewTest, HierarchyKeepsOrderAndRefusesCycles) {
    auto root = View::make(makeRect(0, 0, 100, 100));
    auto a = View::make(), b = View::make(), c = View::make();
    root->addSubview(a);
    root->addSubview(b);
    root->addSubview(c);
    root->bringSubviewToFront(a.get());
    ASSERT_EQ(root->subviews().size(), 3u);
    EXPECT_EQ(root->subviews()[0], b);
    EXPECT_EQ(root->subviews()[2], a);
    root->sendSubviewToBack(a.get());
    EXPECT_EQ(root->subviews()[0], a);
    // Inserted just above or just below a sibling that has others around it.
    auto above = View::make(), below = View::make();
    root->insertSubviewAbove(above, b.get());   // a b c -> a b above c
    root->insertSubviewBelow(below, b.get());   // -> a below b above c
    EXPECT_EQ(root->subviews(), (std::vector<ns::Ref<View>>{a, below, b, above, c}));
    root->insertSubviewAbove(below, above.get());  // moved within: a b above below c
    EXPECT_EQ(root->subviews(), (std::vector<ns::Ref<View>>{a, b, above, below, c}));
    above->removeFromSuperview();
    below->removeFromSuperview();

    // Moving a view to another superview takes it out of the first.
    b->addSubview(c);
    EXPECT_EQ(root->subviews().size(), 2u);
    EXPECT_EQ(c->superview(), b.get());
    EXPECT_THROW(c->addSubview(root), ns::Exception);
    EXPECT_THROW(c->addSubview(c), ns::Exception);

    c->setTag(7);
    EXPECT_EQ(root->viewWithTag(7), c.get());
    c->removeFromSuperview();
    EXPECT_EQ(c->superview(), nullptr);
    EXPECT_EQ(root->viewWithTag(7), nullptr);
}

TEST_F(ViewTest, SubviewsDieWithTheirSuperview) {
    ns::Weak<View> child;
    {
        auto parent = View::make();
        auto v = View::make();
        child = v;
        parent->addSubview(v);
    }
    EXPECT_TRUE(child.expired());
}

TEST_F(ViewTest, ConversionAndHitTestingFollowFramesAndFlags) {
    auto w = makeWindow();
    auto outer = View::make(makeRect(10, 20, 200, 200));
    auto inner = View::make(makeRect(5, 5, 50, 50));
    w->addSubview(outer);
    outer->addSubview(inner);
    Point p = inner->convertPointToView({1, 1}, nullptr);
    EXPECT_EQ(p, (Point{16, 26}));
    EXPECT_EQ(inner->convertPointFromView({16, 26}, nullptr), (Point{1, 1}));
    EXPECT_EQ(w->hitTest({20, 30}, nullptr), inner.get());
    EXPECT_EQ(w->hitTest({100, 100}, nullptr), outer.get());

    inner->setUserInteractionEnabled(false);
    EXPECT_EQ(w->hitTest({20, 30}, nullptr), outer.get());
    inner->setUserInteractionEnabled(true);
    inner->setHidden(true);
    EXPECT_EQ(w->hitTest({20, 30}, nullptr), outer.get());
    inner->setHidden(false);
    inner->setAlpha(0);
    EXPECT_FALSE(inner->isVisibleOnScreen());
    EXPECT_EQ(w->hitTest({20, 30}, nullptr), outer.get());
    inner->setAlpha(1);
    // A view scaled to nothing is neither seen nor touched.
    inner->setTransform(Transform::scale(0, 0));
    EXPECT_EQ(w->hitTest({20, 30}, nullptr), outer.get());
}

TEST_F(ViewTest, AutoresizingFollowsTheMask) {
    auto parent = View::make(makeRect(0, 0, 320, 480));
    auto fill = View::make(makeRect(0, 0, 320, 480));
    fill->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    auto bottomBar = View::make(makeRect(0, 431, 320, 49));
    bottomBar->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleTopMargin);
    auto fixed = View::make(makeRect(10, 10, 50, 50));
    parent->addSubview(fill);
    parent->addSubview(bottomBar);
    parent->addSubview(fixed);
    parent->setFrame(makeRect(0, 0, 480, 320));
    EXPECT_EQ(fill->frame(), makeRect(0, 0, 480, 320));
    EXPECT_EQ(bottomBar->frame(), makeRect(0, 271, 480, 49));
    EXPECT_EQ(fixed->frame(), makeRect(10, 10, 50, 50));
    // New bounds resize the subviews as a new frame does.
    parent->setBounds(makeRect(0, 0, 320, 480));
    EXPECT_EQ(fill->frame(), makeRect(0, 0, 320, 480));
    EXPECT_EQ(bottomBar->frame(), makeRect(0, 431, 320, 49));
    EXPECT_EQ(fixed->frame(), makeRect(10, 10, 50, 50));
    // Each flexible part on its own, and shares in proportion to size (evenly
    // when the flexible parts are all zero), from 320 x 480 to 480 x 320.
    struct Row {
        const char* name;
        unsigned mask;
        Rect from, to;
    } rows[] = {
        {"left margin", AutoresizingFlexibleLeftMargin, makeRect(270, 10, 50, 30), makeRect(430, 10, 50, 30)},
        {"width", AutoresizingFlexibleWidth, makeRect(10, 10, 300, 30), makeRect(10, 10, 460, 30)},
        {"right margin", AutoresizingFlexibleRightMargin, makeRect(10, 10, 50, 30), makeRect(10, 10, 50, 30)},
        {"top margin", AutoresizingFlexibleTopMargin, makeRect(10, 400, 50, 30), makeRect(10, 240, 50, 30)},
        {"height", AutoresizingFlexibleHeight, makeRect(10, 10, 50, 400), makeRect(10, 10, 50, 240)},
        {"bottom margin", AutoresizingFlexibleBottomMargin, makeRect(10, 10, 50, 30), makeRect(10, 10, 50, 30)},
        {"both side margins", AutoresizingFlexibleLeftMargin | AutoresizingFlexibleRightMargin,
         makeRect(60, 10, 200, 30), makeRect(140, 10, 200, 30)},
        {"margin and width in proportion", AutoresizingFlexibleLeftMargin | AutoresizingFlexibleWidth,
         makeRect(80, 10, 240, 30), makeRect(120, 10, 360, 30)},
        {"only the right margin has room", AutoresizingFlexibleLeftMargin | AutoresizingFlexibleWidth | AutoresizingFlexibleRightMargin,
         makeRect(0, 10, 0, 30), makeRect(0, 10, 0, 30)},
    };
    for (const Row& row : rows) {
        auto box = View::make(makeRect(0, 0, 320, 480));
        auto v = View::make(row.from);
        v->setAutoresizingMask(row.mask);
        box->addSubview(v);
        box->setFrame(makeRect(0, 0, 480, 320));
        EXPECT_EQ(v->frame(), row.to) << row.name << ": " << toString(v->frame());
    }
}

TEST_F(ViewTest, AnimationAppliesEndStateAndCompletesAfterItsDuration) {
    auto v = View::make();
    v->setAlpha(0);
    bool done = false;
    View::animate(1.0, [&] { v->setAlpha(1); }, [&](bool finished) { done = finished; });
    EXPECT_DOUBLE_EQ(v->alpha(), 1.0);
    EXPECT_FALSE(done);
    EXPECT_EQ(runningAnimationCount(), 1u);
    clock->advance(0.9);
    EXPECT_FALSE(done);
    clock->advance(0.1);
    EXPECT_TRUE(done);
    EXPECT_EQ(runningAnimationCount(), 0u);
    ASSERT_EQ(animationLog().size(), 1u);
    EXPECT_TRUE(animationLog()[0].finished);
    EXPECT_DOUBLE_EQ(animationLog()[0].duration, 1.0);
}

TEST_F(ViewTest, DelayAddsToTheDuration) {
    bool done = false;
    View::animate(0.5, 0.25, 0, [] {}, [&](bool) { done = true; });
    clock->advance(0.7);
    EXPECT_FALSE(done);
    clock->advance(0.05);
    EXPECT_TRUE(done);
}

struct Stopper : ns::Object, AnimationDelegate {
    std::vector<std::string> stopped;
    void animationDidStop(const std::string& id, bool finished, ns::Object* context) override {
        stopped.push_back(id + (finished ? ":finished" : ":cut") + (context ? ":ctx" : ""));
    }
};

TEST_F(ViewTest, CommittedBlocksTellTheirDelegateAndRecordTransitions) {
    auto stopper = ns::make<Stopper>();
    auto pane = View::make(makeRect(0, 0, 100, 100));
    View::beginAnimations("flip", ns::str("context").get());
    View::setAnimationDuration(0.75);
    View::setAnimationDelegate(stopper.get());
    View::setAnimationTransition(AnimationTransition::FlipFromLeft, pane.get(), true);
    pane->setAlpha(0.5);
    View::commitAnimations();
    EXPECT_DOUBLE_EQ(pane->alpha(), 0.5);
    ASSERT_EQ(animationLog().size(), 1u);
    EXPECT_EQ(animationLog()[0].transition, "flip-from-left");
    EXPECT_TRUE(animationLog()[0].cached);
    EXPECT_TRUE(animationLog()[0].view.pointsTo(pane.get()));
    clock->advance(0.74);
    EXPECT_TRUE(stopper->stopped.empty());
    clock->advance(0.01);
    ASSERT_EQ(stopper->stopped.size(), 1u);
    EXPECT_EQ(stopper->stopped[0], "flip:finished:ctx");
}

TEST_F(ViewTest, AnimationDelegateGoneBeforeTheEndIsNotCalled) {
    {
        auto stopper = ns::make<Stopper>();
        View::beginAnimations("x");
        View::setAnimationDuration(1);
        View::setAnimationDelegate(stopper.get());
        View::commitAnimations();
    }
    clock->advance(2);  // must not touch the dead delegate
    EXPECT_EQ(runningAnimationCount(), 0u);
}

TEST_F(ViewTest, TransitionFromViewSwapsTheViews) {
    auto container = View::make(makeRect(0, 0, 100, 100));
    auto a = View::make(), b = View::make(), c = View::make();
    container->addSubview(a);
    container->addSubview(b);
    container->addSubview(c);
    bool done = false;
    View::transitionFromView(b.get(), a /*moves*/, 0.5, AnimationOptionTransitionFlipFromRight, [&](bool) { done = true; });
    ASSERT_EQ(container->subviews().size(), 2u);
    EXPECT_EQ(b->superview(), nullptr);
    EXPECT_EQ(animationLog().back().transition, "flip-from-right");
    clock->advance(0.5);
    EXPECT_TRUE(done);
}

struct Drawer : View {
    explicit Drawer(Rect r) : View(r) {}
    int draws = 0;
    void drawRect(Rect) override { ++draws; }
};

TEST_F(ViewTest, ViewsDrawOnceWhenFirstShownAndAgainWhenAsked) {
    auto w = makeWindow();
    auto d = ns::make<Drawer>(makeRect(0, 0, 10, 10));
    d->setHidden(true);
    w->addSubview(d);
    Driver driver;
    driver.settle();
    EXPECT_EQ(d->draws, 0);  // hidden views are not drawn
    d->setHidden(false);
    driver.settle();
    EXPECT_EQ(d->draws, 1);
    driver.settle();
    EXPECT_EQ(d->draws, 1);
    d->setNeedsDisplay();
    driver.settle();
    EXPECT_EQ(d->draws, 2);
    // The run loop's own display pass draws the views of visible windows
    // only, on its next turn.
    auto offScreen = ns::make<Window>(makeRect(0, 0, 10, 10));
    auto unseen = ns::make<Drawer>(makeRect(0, 0, 10, 10));
    offScreen->addSubview(unseen);
    unseen->setNeedsDisplay();
    d->setNeedsDisplay();
    EXPECT_EQ(d->draws, 2);
    for (int turn = 0; turn < 10 && ns::RunLoop::main()->runOnce(); ++turn) {}
    EXPECT_EQ(d->draws, 3);
    EXPECT_EQ(unseen->draws, 0);
}

struct Target : ns::Object {
    int hits = 0;
    ns::Object* lastSender = nullptr;
    void clic(ns::Object* sender) {
        ++hits;
        lastSender = sender;
    }
    void plain() { ++hits; }
};

TEST_F(ViewTest, ControlActionsUseWeakTargets) {
    auto button = Button::make(makeRect(0, 0, 50, 30), "Go");
    auto t = ns::make<Target>();
    button->addTarget(t.get(), &Target::clic, ControlEventTouchUpInside);
    button->addTarget(t.get(), &Target::plain, ControlEventTouchDown);
    button->sendActionsForControlEvents(ControlEventTouchUpInside);
    EXPECT_EQ(t->hits, 1);
    EXPECT_EQ(t->lastSender, button.get());
    button->sendActionsForControlEvents(ControlEventTouchDown | ControlEventTouchUpInside);
    EXPECT_EQ(t->hits, 3);

    ns::Weak<Target> weak(t);
    t = nullptr;
    EXPECT_TRUE(weak.expired());
    button->sendActionsForControlEvents(ControlEventAllEvents);  // must skip the dead target
    EXPECT_EQ(button->actionCountForEvents(ControlEventAllEvents), 0u);

    // Actions side by side go together: a target's two neighbouring actions
    // both leave on removeTarget, two dead targets next to each other both
    // leave on the next send, and what is between or after them stays.
    auto keep = ns::make<Target>(), gone = ns::make<Target>();
    auto dead1 = ns::make<Target>(), dead2 = ns::make<Target>();
    button->addTarget(gone.get(), &Target::clic, ControlEventTouchUpInside);
    button->addTarget(gone.get(), &Target::plain, ControlEventTouchUpInside);
    button->addTarget(keep.get(), &Target::clic, ControlEventTouchUpInside);
    button->addTarget(dead1.get(), &Target::clic, ControlEventTouchUpInside);
    button->addTarget(dead2.get(), &Target::clic, ControlEventTouchUpInside);
    button->addTarget(keep.get(), &Target::plain, ControlEventTouchUpInside);
    EXPECT_EQ(button->actionCountForEvents(ControlEventTouchUpInside), 6u);
    button->removeTarget(gone.get(), ControlEventTouchUpInside);
    EXPECT_EQ(button->actionCountForEvents(ControlEventTouchUpInside), 4u);
    dead1 = nullptr;
    dead2 = nullptr;
    button->sendActionsForControlEvents(ControlEventTouchUpInside);
    EXPECT_EQ(button->actionCountForEvents(ControlEventTouchUpInside), 2u);
    EXPECT_EQ(keep->hits, 2);
    EXPECT_EQ(gone->hits, 0);
    // Removing one kind of event keeps the action for the others.
    button->addTarget(gone.get(), &Target::clic, ControlEventTouchUpInside | ControlEventTouchDown);
    button->removeTarget(gone.get(), ControlEventTouchDown);
    button->sendActionsForControlEvents(ControlEventTouchDown);
    EXPECT_EQ(gone->hits, 0);
    button->sendActionsForControlEvents(ControlEventTouchUpInside);
    EXPECT_EQ(gone->hits, 1);
    // A nil target removes every target's actions for those events.
    button->removeTarget(nullptr, ControlEventTouchUpInside);
    EXPECT_EQ(button->actionCountForEvents(ControlEventAllEvents), 0u);
}

TEST_F(ViewTest, ButtonTitlesFallBackToNormal) {
    auto b = Button::make(makeRect(0, 0, 10, 10), "Normal");
    b->setTitle("Pressed", ControlStateHighlighted);
    EXPECT_EQ(b->currentTitle(), "Normal");
    b->setHighlighted(true);
    EXPECT_EQ(b->currentTitle(), "Pressed");
    b->setHighlighted(false);
    b->setSelected(true);
    EXPECT_EQ(b->currentTitle(), "Normal");
}

TEST_F(ViewTest, ImageSizesComeFromPngAndJpegHeaders) {
    std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\x01\x40\0\0\0\x30", 24);
    Size s;
    ASSERT_TRUE(Image::readImageSize(png, s));
    EXPECT_EQ(s, (Size{320, 48}));
    // SOI, an APP0 segment of 4 bytes, then SOF0 with height 100, width 200.
    std::string jpg("\xFF\xD8\xFF\xE0\x00\x04\x00\x00\xFF\xC0\x00\x0B\x08\x00\x64\x00\xC8\x03\x01\x11\x00", 21);
    ASSERT_TRUE(Image::readImageSize(jpg, s));
    EXPECT_EQ(s, (Size{200, 100}));
    EXPECT_FALSE(Image::readImageSize(std::string("\xFF\xD8\xFF\xE0\x00\x40", 6), s));  // truncated
    EXPECT_FALSE(Image::readImageSize("GIF89a", s));
    EXPECT_EQ(Image::imageNamed("no-such-image"), nullptr);
    // Each side at its smallest and largest and one past; headers cut at their last byte and one before.
    auto pngOf = [&](const std::string& w, const std::string& h) { return png.substr(0, 16) + w + h; };
    auto sof = [&](const std::string& h, const std::string& w) {
        return std::string("\xFF\xD8\xFF\xC0\x00\x0B\x08", 7) + h + w + std::string("\x03\x01\x11\x00", 4);
    };
    const std::string z4("\0\0\0\0", 4), one4("\0\0\0\x01", 4), z2("\0\0", 2), one2("\0\x01", 2);
    struct Row {
        const char* name;
        std::string bytes;
        bool ok;
        Size size;
    } rows[] = {
        {"png 1 x 1", pngOf(one4, one4), true, {1, 1}},
        {"png width 0", pngOf(z4, one4), false, {}},
        {"png height 0", pngOf(one4, z4), false, {}},
        {"png largest sides", pngOf("\x7F\xFF\xFF\xFF", "\x7F\xFF\xFF\xFF"), true, {2147483647.0, 2147483647.0}},
        {"png width one past", pngOf(std::string("\x80\0\0\0", 4), one4), false, {}},
        {"png height one past", pngOf(one4, std::string("\x80\0\0\0", 4)), false, {}},
        {"png cut one byte short", png.substr(0, 23), false, {}},
        {"jpeg 1 x 1", sof(one2, one2), true, {1, 1}},
        {"jpeg largest sides", sof("\xFF\xFF", "\xFF\xFF"), true, {65535, 65535}},
        {"jpeg width 0", sof(one2, z2), false, {}},
        {"jpeg height 0", sof(z2, one2), false, {}},
        {"jpeg height 0, width 256", sof(z2, std::string("\x01\x00", 2)), false, {}},
        {"jpeg 1 x 256", sof(std::string("\x01\x00", 2), one2), true, {1, 256}},
        {"jpeg frame ends at the last byte", jpg, true, {200, 100}},
        {"jpeg frame one byte short", jpg.substr(0, 20), false, {}},
        {"jpeg fill bytes before a marker", std::string("\xFF\xD8\xFF\xFF", 4) + jpg.substr(2), true, {200, 100}},
        {"jpeg frame header too short", std::string("\xFF\xD8\xFF\xC0\x00\x06\x08\x00\x64\x00\xC8", 11), false, {}},
    };
    for (const Row& row : rows) {
        Size got{-1, -1};
        EXPECT_EQ(Image::readImageSize(row.bytes, got), row.ok) << row.name;
        if (row.ok) EXPECT_EQ(got, row.size) << row.name;
    }
}

}  // namespace
}  // namespace ui::test

#include "platform/ui/Graphics.h"

namespace ui::test {
namespace {

struct Box : View {
    explicit Box(Rect r) : View(r) {}
    void drawRect(Rect r) override {
        GraphicsContext* c = GraphicsContext::current();
        ASSERT_NE(c, nullptr);
        c->setGrayFillColor(0, 0.8);
        c->fillRect(makeRect(10, 10, r.width() - 20, 20));
    }
};

TEST_F(ViewTest, DrawingIsRecordedPerView) {
    auto w = makeWindow();
    auto box = ns::make<Box>(makeRect(0, 0, 100, 50));
    w->addSubview(box);
    EXPECT_EQ(GraphicsContext::current(), nullptr);
    Driver().settle();
    EXPECT_EQ(box->drawingOperations(),
              (std::vector<std::string>{"setGrayFillColor 0 0.8", "fillRect {{10, 10}, {80, 20}}"}));
    EXPECT_EQ(GraphicsContext::current(), nullptr);
}

// Colors are values: equal ones held by different objects are one key in a
// container that hashes and compares by value, whoever made them.
TEST_F(ViewTest, EqualColorsAreOneKey) {
    auto logo = Image::make("logo.png", {10, 10}), other = Image::make("logo.png", {10, 10});
    struct Row {
        const char* name;
        ns::Ref<Color> a, b;
        bool equal;
    } rows[] = {
        {"the same white twice", Color::white(), Color::colorWithWhite(1, 1), true},
        {"a gray made two ways", Color::lightGray(), Color::colorWithRGBA(2.0 / 3, 2.0 / 3, 2.0 / 3, 1), true},
        {"within a millionth", Color::colorWithRGBA(0.1, 0.2, 0.3, 1), Color::colorWithRGBA(0.1 + 4e-7, 0.2, 0.3, 1), true},
        {"another alpha", Color::colorWithWhite(1, 1), Color::colorWithWhite(1, 0.5), false},
        {"another red", Color::colorWithRGBA(0.1, 0.2, 0.3, 1), Color::colorWithRGBA(0.2, 0.2, 0.3, 1), false},
        {"one pattern image", Color::colorWithPatternImage(logo), Color::colorWithPatternImage(logo), true},
        {"two images", Color::colorWithPatternImage(logo), Color::colorWithPatternImage(other), false},
        {"a pattern and black", Color::colorWithPatternImage(logo), Color::black(), false},
        {"red by name and by parts", Color::red(), Color::colorWithRGBA(1, 0, 0, 1), true},
        {"blue by name and by parts", Color::blue(), Color::colorWithRGBA(0, 0, 1, 1), true},
        {"dark gray by name and by parts", Color::darkGray(), Color::colorWithWhite(1.0 / 3, 1), true},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.a->isEqual(*row.b), row.equal) << row.name;
        EXPECT_EQ(row.b->isEqual(*row.a), row.equal) << row.name;
        if (row.equal) EXPECT_EQ(row.a->hash(), row.b->hash()) << row.name;
        std::unordered_set<ns::Ref<Color>, ns::RefHash, ns::RefEqual> keys{row.a, row.b};
        EXPECT_EQ(keys.size(), row.equal ? 1u : 2u) << row.name;
    }
    EXPECT_EQ(Color::colorWithRGBA(1, 0.5, 0, 0.25)->description(), "Color(1, 0.5, 0, 0.25)");
    EXPECT_EQ(Color::colorWithPatternImage(logo)->description(), "Color(pattern logo.png)");
    EXPECT_EQ(Color::red()->shortName(), "#ff0000");
    EXPECT_EQ(Color::colorWithWhite(1, 0.5)->shortName(), "white@0.5");
}

TEST_F(ViewTest, TextMeasurementIsFixedAndWraps) {
    auto font = Font::boldSystemFontOfSize(16);
    EXPECT_EQ(textSize("Loading...", font.get()), (Size{80, 20}));  // 10 chars x 8, 1.2 x 16 rounded up
    EXPECT_EQ(textSize("", font.get()).width, 0);
    EXPECT_EQ(textSize("ab", nullptr), (Size{17, 21}));  // no font: the system's 17 points
    // "aaaa bbbb cccc" in 40-point lines: one word (32) per line.
    Size s = textSizeConstrained("aaaa bbbb cccc", font.get(), {40, 0});
    EXPECT_EQ(s, (Size{32, 58}));
    // Only two lines fit 40 points of height.
    EXPECT_EQ(textSizeConstrained("aaaa bbbb cccc", font.get(), {40, 40}).height, 39);
    // A word wider than the line is broken.
    EXPECT_EQ(textSizeConstrained("abcdefghij", font.get(), {40, 0}), (Size{40, 39}));
}

}  // namespace
}  // namespace ui::test

#include <thread>

namespace ui::test {
namespace {

TEST_F(ViewTest, ChangingTheScreenOffTheMainThreadIsRefused) {
    auto parent = View::make();
    auto child = View::make();
    bool refused = false;
    std::thread worker([&] {
        try {
            parent->addSubview(child);
        } catch (const ns::Exception& e) {
            refused = e.name() == ns::kInternalInconsistencyException;
        }
    });
    worker.join();
    EXPECT_TRUE(refused);
    EXPECT_TRUE(parent->subviews().empty());
}

}  // namespace
}  // namespace ui::test
