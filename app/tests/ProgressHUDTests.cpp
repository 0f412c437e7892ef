// The progress overlay: the named exception, layout, drawing, show and hide
// timings on the manual clock, grace time with a task on its own thread,
// setters from another thread, and orientation over a window.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>

#include "app/widgets/ProgressHUD.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/ui/Application.h"
#include "platform/ui/Graphics.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "testsupport/MainLoopWait.h"

namespace app::test {

namespace {

class HiddenCounter : public ns::Object, public ProgressHUDDelegate {
public:
    const char* className() const override { return "HiddenCounter"; }
    bool answers(Optional op) const override { return op == (withHUD ? Optional::HudWasHiddenWithHUD : Optional::HudWasHidden); }
    void hudWasHidden(ProgressHUD* hud) override { ++withArgument; last = hud; }
    void hudWasHidden() override { ++plain; }
    bool withHUD = true;
    int withArgument = 0, plain = 0;
    ProgressHUD* last = nullptr;
};

// A task the test lets finish when it wants.
class Gate : public ns::Object {
public:
    const char* className() const override { return "Gate"; }
    void work(ns::Object* arg) {
        argument = arg;
        started = true;
        // Bounded: a test that fails before letting it go leaves no thread
        // waiting for ever on a gate that is gone.
        std::unique_lock<std::mutex> lock(m);
        cv.wait_for(lock, std::chrono::seconds(30), [this] { return open; });
        ns::RunLoop::main()->wakeUp();
    }
    void letGo() {
        std::lock_guard<std::mutex> lock(m);
        open = true;
        cv.notify_all();
    }
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    std::atomic<bool> started{false};
    ns::Object* argument = nullptr;
};

}  // namespace

class ProgressHUDTest : public ::testing::Test {
protected:
    void SetUp() override {
        clock = ns::make<ns::ManualClock>(500.0);
        ns::RunLoop::main()->setClock(clock);
        host = ui::View::make(ui::makeRect(0, 0, 320, 480));
    }
    void TearDown() override {
        clock->advance(100);
        ns::RunLoop::main()->setClock(ns::SystemClock::shared());
    }
    ns::Ref<ns::ManualClock> clock;
    ns::Ref<ui::View> host;
};

TEST_F(ProgressHUDTest, NilViewRaisesTheNamedException) {
    try {
        ProgressHUD::initWithView(nullptr);
        FAIL() << "no exception";
    } catch (const ns::Exception& e) {
        EXPECT_EQ(e.name(), "ProgressHUDViewIsNillException");
        EXPECT_EQ(e.reason(), "The view used in the ProgressHUD initializer is nil.");
    }
    EXPECT_THROW(ProgressHUD::initWithWindow(nullptr), ns::Exception);
}

TEST_F(ProgressHUDTest, DefaultsAndModes) {
    auto hud = ProgressHUD::initWithView(host.get());
    EXPECT_EQ(hud->frame(), host->bounds());
    EXPECT_EQ(hud->alpha(), 0);
    EXPECT_EQ(hud->autoresizingMask(), 45u);
    EXPECT_FLOAT_EQ(hud->opacity(), 0.8f);
    EXPECT_FLOAT_EQ(hud->margin(), 20.0f);
    EXPECT_EQ(hud->labelFont()->pointSize(), 16);
    EXPECT_EQ(hud->detailsLabelFont()->pointSize(), 12);
    auto* spinner = dynamic_cast<ui::ActivityIndicatorView*>(hud->indicator());
    ASSERT_TRUE(spinner);
    EXPECT_TRUE(spinner->isAnimating());
    EXPECT_EQ(spinner->style(), ui::ActivityIndicatorView::Style::WhiteLarge);

    // Mode 2 without a custom view keeps an activity indicator (a new one).
    hud->setMode(ProgressHUDModeCustomView);
    EXPECT_TRUE(dynamic_cast<ui::ActivityIndicatorView*>(hud->indicator()));
    EXPECT_NE(hud->indicator(), spinner);
    // Setting mode 2 again changes nothing; mode 0 is rebuilt every time.
    ns::Ref<ui::View> second(hud->indicator());
    hud->setMode(ProgressHUDModeCustomView);
    EXPECT_EQ(hud->indicator(), second.get());

    hud->setMode(ProgressHUDModeDeterminate);
    auto* round = dynamic_cast<RoundProgressView*>(hud->indicator());
    ASSERT_TRUE(round);
    EXPECT_EQ(round->frame().size.width, 37);
    hud->setProgress(0.25f);
    EXPECT_FLOAT_EQ(round->progress(), 0.25f);
    EXPECT_FALSE(second->superview());  // the replaced indicator left the box

    auto custom = ui::ImageView::make(ui::makeRect(0, 0, 37, 37));
    hud->setCustomView(custom);
    hud->setMode(ProgressHUDModeCustomView);
    EXPECT_EQ(hud->indicator(), custom.get());
    EXPECT_EQ(custom->superview(), hud.get());
    size_t indicators = 0;
    for (auto& v : hud->subviews())
        if (dynamic_cast<RoundProgressView*>(v.get()) || dynamic_cast<ui::ActivityIndicatorView*>(v.get()) ||
            v.get() == custom.get())
            ++indicators;
    EXPECT_EQ(indicators, 1u);
}

TEST_F(ProgressHUDTest, LayoutOfBoxLabelAndDetails) {
    auto hud = ProgressHUD::initWithView(host.get());
    hud->layoutSubviews();
    EXPECT_FLOAT_EQ(hud->width(), 77);  // 37 + 2 * 20
    EXPECT_FLOAT_EQ(hud->height(), 77);
    EXPECT_EQ(hud->indicator()->frame(), ui::makeRect(141, 221, 37, 37));

    hud->setLabelText("Loading...");  // 10 units * 8 = 80 wide, 19.2 -> 20 high at 16 points
    hud->layoutSubviews();
    EXPECT_EQ(hud->label()->superview(), hud.get());
    EXPECT_EQ(hud->label()->text(), "Loading...");
    EXPECT_FLOAT_EQ(hud->width(), 120);   // 80 + 40
    EXPECT_FLOAT_EQ(hud->height(), 101);  // 77 + 20 + 4
    EXPECT_EQ(hud->indicator()->frame().origin.y, 221 - 12);
    EXPECT_EQ(hud->label()->frame(), ui::makeRect(120, 209 + 37 + 4, 80, 20));

    // Too wide: cut to the overlay's width less four margins (320 - 80).
    hud->setLabelText(std::string(100, 'W'));
    hud->layoutSubviews();
    EXPECT_EQ(hud->label()->frame().size.width, 240);
    EXPECT_FLOAT_EQ(hud->width(), 280);
    EXPECT_FALSE(hud->label()->adjustsFontSizeToFitWidth());

    // Details: wrapped to 240 wide; the box keeps its margins around them.
    hud->setLabelText("Hi");
    hud->setDetailsLabelText(std::string(50, 'x') + " " + std::string(30, 'y'));
    hud->layoutSubviews();
    ui::Rect d = hud->detailsLabel()->frame();
    EXPECT_EQ(d.size.width, 240);  // 50 units * 6 = 300 is too wide, broken inside the word
    EXPECT_GE(hud->width(), d.size.width + 40);
    EXPECT_EQ(d.origin.y, hud->label()->frame().maxY() + 4);
    EXPECT_EQ(hud->detailsLabel()->numberOfLines(), 0);

    // Without a label the details are not shown.
    hud->setLabelText("");
    hud->layoutSubviews();
    EXPECT_FALSE(hud->detailsLabel()->superview());
    EXPECT_FALSE(hud->label()->superview());

    hud->setSquare(true);
    hud->setLabelText("A longer label");  // 112 + 40 wide, 101 high -> square 152
    hud->setDetailsLabelText("");
    hud->layoutSubviews();
    EXPECT_FLOAT_EQ(hud->width(), 152);
    EXPECT_FLOAT_EQ(hud->height(), 152);
    hud->setMinSize({200, 180});
    hud->layoutSubviews();
    EXPECT_FLOAT_EQ(hud->width(), 200);
    EXPECT_FLOAT_EQ(hud->height(), 180);
}

TEST_F(ProgressHUDTest, DrawsTheBoxAndTheDimming) {
    auto hud = ProgressHUD::initWithView(host.get());
    hud->setDimBackground(true);
    hud->setOpacity(0.5f);
    hud->layoutSubviews();
    ui::GraphicsContext g;
    {
        ui::GraphicsContext::Scope scope(&g);
        hud->drawRect(hud->bounds());
    }
    const auto& ops = g.operations();
    ASSERT_GE(ops.size(), 8u);
    EXPECT_EQ(ops[0].rfind("radialGradient", 0), 0u) << ops[0];
    EXPECT_NE(ops[0].find("320"), std::string::npos) << ops[0];  // radius min(320, 480)
    size_t arcs = 0;
    for (auto& op : ops) arcs += op.rfind("arc", 0) == 0;
    EXPECT_EQ(arcs, 4u);
    EXPECT_NE(std::find(ops.begin(), ops.end(), "setGrayFillColor 0 0.5"), ops.end());
    EXPECT_EQ(ops.back(), "fillPath");

    RoundProgressView round;
    ui::GraphicsContext g2;
    round.setProgress(0.5f);
    {
        ui::GraphicsContext::Scope scope(&g2);
        round.drawRect(round.bounds());
    }
    std::string all;
    for (auto& op : g2.operations()) all += op + "\n";
    EXPECT_NE(all.find("fillEllipse {{2, 2}, {33, 33}}"), std::string::npos) << all;
    EXPECT_NE(all.find("strokeEllipse {{2, 2}, {33, 33}}"), std::string::npos) << all;
    EXPECT_NE(all.find("arc {18.5, 18.5} r=16.5 -1.5708..1.5708 cw"), std::string::npos) << all;
}

TEST_F(ProgressHUDTest, ShowFadesInAndHideFadesOutThenTellsTheDelegate) {
    auto counter = ns::make<HiddenCounter>();
    auto hud = ProgressHUD::showHUDAddedTo(host.get(), true);
    hud->setDelegate(counter.get());
    EXPECT_EQ(hud->superview(), host.get());
    EXPECT_EQ(hud->alpha(), 1.0);
    EXPECT_DOUBLE_EQ(hud->showStarted(), 500.0);

    EXPECT_TRUE(ProgressHUD::hideHUDForView(host.get(), true));
    EXPECT_DOUBLE_EQ(hud->alpha(), 0.02);
    EXPECT_EQ(counter->withArgument, 0);
    clock->advance(0.29);
    EXPECT_EQ(counter->withArgument, 0);
    clock->advance(0.02);
    EXPECT_EQ(counter->withArgument, 1);
    EXPECT_EQ(counter->last, hud.get());
    EXPECT_EQ(counter->plain, 0);
    EXPECT_TRUE(hud->isFinished());
    EXPECT_EQ(hud->alpha(), 0);
    EXPECT_FALSE(hud->superview());  // hideHUDForView asks for removal
    EXPECT_FALSE(ProgressHUD::hideHUDForView(host.get(), true));

    // A delegate that answers only the plain form hears that one.
    auto other = ns::make<HiddenCounter>();
    other->withHUD = false;
    auto hud2 = ProgressHUD::showHUDAddedTo(host.get(), false);
    hud2->setDelegate(other.get());
    hud2->hide(false);
    EXPECT_EQ(other->plain, 1);
    EXPECT_EQ(other->withArgument, 0);
    EXPECT_EQ(hud2->superview(), host.get());  // not asked to remove itself
}

TEST_F(ProgressHUDTest, ZoomScalesAndReturns) {
    auto hud = ProgressHUD::initWithView(host.get());
    host->addSubview(hud);
    hud->setAnimationType(ProgressHUDAnimationZoom);
    hud->show(true);
    EXPECT_TRUE(hud->transform().isIdentity());  // end state of the zoom in
    hud->hide(true);
    EXPECT_DOUBLE_EQ(hud->transform().a, 0.5);
    EXPECT_DOUBLE_EQ(hud->transform().d, 0.5);
}

TEST_F(ProgressHUDTest, MinShowTimeKeepsTheBoxUp) {
    auto counter = ns::make<HiddenCounter>();
    auto hud = ProgressHUD::initWithView(host.get());
    host->addSubview(hud);
    hud->setDelegate(counter.get());
    hud->setMinShowTime(1.0f);
    hud->show(false);
    clock->advance(0.2);
    hud->hide(false);
    EXPECT_EQ(hud->alpha(), 1.0);
    ASSERT_TRUE(hud->minShowTimer());
    clock->advance(0.79);
    EXPECT_EQ(hud->alpha(), 1.0);
    EXPECT_EQ(counter->withArgument, 0);
    clock->advance(0.02);
    EXPECT_EQ(hud->alpha(), 0);
    EXPECT_EQ(counter->withArgument, 1);

    // Shown long enough: hides at once.
    hud->show(false);
    clock->advance(1.5);
    hud->hide(false);
    EXPECT_EQ(counter->withArgument, 2);
}

TEST_F(ProgressHUDTest, HideAfterDelayKeepsTheOverlayAlive) {
    ns::Weak<ProgressHUD> weak;
    {
        auto hud = ProgressHUD::showHUDAddedTo(host.get(), false);
        weak = hud;
        hud->setRemoveFromSuperViewOnHide(true);
        hud->hideAfterDelay(true, 3.0);
    }
    clock->advance(2.9);
    ASSERT_TRUE(weak.lock());
    EXPECT_EQ(weak.lock()->alpha(), 1.0);
    clock->advance(0.1);
    EXPECT_DOUBLE_EQ(weak.lock()->alpha(), 0.02);
    clock->advance(0.3);
    EXPECT_TRUE(host->subviews().empty());
    EXPECT_FALSE(weak.lock());
}

TEST_F(ProgressHUDTest, GraceTimeAloneNeverShows) {
    auto hud = ProgressHUD::showHUDAddedTo(host.get(), false);
    EXPECT_EQ(hud->alpha(), 1.0);
    auto graced = ProgressHUD::initWithView(host.get());
    host->addSubview(graced);
    graced->setGraceTime(0.5f);
    graced->show(false);
    clock->advance(2);
    EXPECT_EQ(graced->alpha(), 0);
    EXPECT_TRUE(std::isnan(graced->showStarted()));
}

TEST_F(ProgressHUDTest, TaskLongerThanGraceTimeShowsAndHidesOnMain) {
    auto counter = ns::make<HiddenCounter>();
    auto gate = ns::make<Gate>();
    auto arg = ns::str("argument");
    auto hud = ProgressHUD::initWithView(host.get());
    host->addSubview(hud);
    hud->setDelegate(counter.get());
    hud->setGraceTime(0.5f);
    hud->showWhileExecuting(&Gate::work, gate.get(), arg.get(), false);
    EXPECT_TRUE(hud->taskInProgress());
    EXPECT_EQ(hud->alpha(), 0);
    clock->advance(0.5);  // the task still runs: the box shows
    EXPECT_EQ(hud->alpha(), 1.0);
    gate->letGo();
    ASSERT_TRUE(ns::RunLoop::main()->runUntil([&] { return !hud->taskInProgress(); }, testsupport::kEventWaitSeconds));
    EXPECT_EQ(gate->argument, arg.get());
    EXPECT_EQ(hud->alpha(), 0);
    EXPECT_EQ(counter->withArgument, 1);
}

TEST_F(ProgressHUDTest, TaskShorterThanGraceTimeNeverShows) {
    auto gate = ns::make<Gate>();
    auto hud = ProgressHUD::initWithView(host.get());
    host->addSubview(hud);
    hud->setGraceTime(0.5f);
    gate->letGo();
    hud->showWhileExecuting(&Gate::work, gate.get(), nullptr, true);
    ASSERT_TRUE(ns::RunLoop::main()->runUntil([&] { return !hud->taskInProgress(); }, testsupport::kEventWaitSeconds));
    clock->advance(1.0);
    EXPECT_EQ(hud->alpha(), 0);
    EXPECT_TRUE(std::isnan(hud->showStarted()));
    // The indicator is still the one on the box, so a mode change replaces it.
    hud->setMode(ProgressHUDModeDeterminate);
    size_t spinners = 0;
    for (auto& v : hud->subviews()) spinners += dynamic_cast<ui::ActivityIndicatorView*>(v.get()) != nullptr;
    EXPECT_EQ(spinners, 0u);
}

TEST_F(ProgressHUDTest, SettersFromAnotherThreadReachTheScreenOnMain) {
    auto hud = ProgressHUD::showHUDAddedTo(host.get(), false);
    std::atomic<bool> finished{false};
    ns::Thread::detachNewThread([hud, &finished] {
        hud->setLabelText("Working");
        hud->setDetailsLabelText("step 2");
        hud->setMode(ProgressHUDModeDeterminate);
        hud->setProgress(0.75f);
        finished = true;
        ns::RunLoop::main()->wakeUp();
    });
    ASSERT_TRUE(ns::RunLoop::main()->runUntil([&] {
        return finished.load() && dynamic_cast<RoundProgressView*>(hud->indicator()) &&
               dynamic_cast<RoundProgressView*>(hud->indicator())->progress() == 0.75f;
    }, 10));
    EXPECT_EQ(hud->labelText(), "Working");
    EXPECT_EQ(hud->detailsLabelText(), "step 2");
}

namespace {
class TurnsEveryWay : public ui::ViewController {
public:
    const char* className() const override { return "TurnsEveryWay"; }
    unsigned supportedInterfaceOrientations() override { return ui::InterfaceOrientationMaskAll; }
};
}  // namespace

TEST_F(ProgressHUDTest, OverAWindowItTurnsWithTheStatusBar) {
    auto window = ns::make<ui::Window>(ui::makeRect(0, 0, 320, 480));
    window->setRootViewController(ns::make<TurnsEveryWay>());
    window->makeKeyAndVisible();
    auto hud = ProgressHUD::initWithWindow(window.get());
    window->addSubview(hud);
    EXPECT_TRUE(hud->rotationTransform().isIdentity());

    ui::Device::current()->setOrientation(ui::DeviceOrientation::LandscapeLeft);
    ns::RunLoop::main()->runOnce();
    ASSERT_EQ(ui::Application::shared()->statusBarOrientation(), ui::InterfaceOrientation::LandscapeRight);
    ui::Transform t = hud->rotationTransform();
    EXPECT_FLOAT_EQ(static_cast<float>(t.a), 0);
    EXPECT_FLOAT_EQ(static_cast<float>(t.b), 1);  // 90 degrees
    EXPECT_EQ(hud->bounds().size.width, 480);
    EXPECT_EQ(hud->bounds().size.height, 320);
    EXPECT_EQ(hud->transform(), t);

    ui::Device::current()->setOrientation(ui::DeviceOrientation::PortraitUpsideDown);
    ns::RunLoop::main()->runOnce();
    EXPECT_FLOAT_EQ(static_cast<float>(hud->rotationTransform().a), -1);

    ui::Device::current()->setOrientation(ui::DeviceOrientation::Portrait);
    ns::RunLoop::main()->runOnce();
    EXPECT_TRUE(hud->rotationTransform().isIdentity());
    EXPECT_EQ(hud->bounds().size.width, 320);

    // Removed: it no longer follows the device.
    hud->removeFromSuperview();
    ui::Device::current()->setOrientation(ui::DeviceOrientation::LandscapeLeft);
    ns::RunLoop::main()->runOnce();
    EXPECT_TRUE(hud->rotationTransform().isIdentity());
    ui::Device::current()->setOrientation(ui::DeviceOrientation::Portrait);
    ui::Application::shared()->reset();
}

}  // namespace app::test
