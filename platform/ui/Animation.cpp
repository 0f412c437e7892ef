// Headless animations: end states apply at once, completions run on the
// main run loop's clock after delay + duration.
#include "platform/ui/Animation.h"

#include <memory>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Timer.h"
#include "platform/foundation/Delegate.h"
#include "platform/ui/View.h"

namespace ui {

namespace {

std::vector<AnimationRecord>& log() {
    static std::vector<AnimationRecord> records;  // main thread only
    return records;
}
size_t& running() {
    static size_t n = 0;
    return n;
}
// Records are matched to their completion by a serial number, because the
// log may be cleared while animations run.
uint64_t& serial() {
    static uint64_t s = 0;
    return s;
}
std::vector<uint64_t>& logSerials() {
    static std::vector<uint64_t> s;
    return s;
}

const char* transitionName(unsigned options) {
    switch (options & (0xFu << 20)) {
        case AnimationOptionTransitionFlipFromLeft: return "flip-from-left";
        case AnimationOptionTransitionFlipFromRight: return "flip-from-right";
        case AnimationOptionTransitionCurlUp: return "curl-up";
        case AnimationOptionTransitionCurlDown: return "curl-down";
        case AnimationOptionTransitionCrossDissolve: return "cross-dissolve";
        default: return "";
    }
}

const char* transitionName(AnimationTransition t) {
    switch (t) {
        case AnimationTransition::FlipFromLeft: return "flip-from-left";
        case AnimationTransition::FlipFromRight: return "flip-from-right";
        case AnimationTransition::CurlUp: return "curl-up";
        case AnimationTransition::CurlDown: return "curl-down";
        default: return "";
    }
}

double nowOnMain() { return ns::RunLoop::main()->now(); }

// Records the animation and runs `done` after `delay + duration`.
void start(AnimationRecord rec, std::function<void()> done) {
    rec.startedAt = nowOnMain();
    uint64_t id = ++serial();
    log().push_back(rec);
    logSerials().push_back(id);
    ++running();
    double after = rec.delay + rec.duration;
    auto finish = [id, done = std::move(done)]() {
        --running();
        auto& serials = logSerials();
        for (size_t i = 0; i < serials.size(); ++i)
            if (serials[i] == id) log()[i].finished = true;
        if (done) done();
    };
    ns::RunLoop::main()->performAfterDelay(after < 0 ? 0 : after, std::move(finish), ns::RunLoop::kCommonModes);
}

// Tells `completion` (when set) that the animation finished.
std::function<void()> toldFinished(std::function<void(bool)> completion) {
    return [completion = std::move(completion)]() {
        if (completion) completion(true);
    };
}

// Records a transition of `view` with the options' kind, then tells
// `completion` after `duration`.
void startTransition(View* view, unsigned options, double duration, std::function<void(bool)> completion) {
    AnimationRecord rec;
    rec.kind = AnimationRecord::Kind::Transition;
    rec.view = view;
    rec.transition = transitionName(options);
    rec.duration = duration;
    start(rec, toldFinished(std::move(completion)));
}

// A begin/commit block being collected.
struct Block {
    std::string id;
    ns::Ref<ns::Object> context;
    double duration = 0.2;
    double delay = 0;
    ns::WeakDelegate<AnimationDelegate> delegate;
    AnimationTransition transition = AnimationTransition::None;
    ns::Weak<View> transitionView;
    bool cache = false;
};
std::vector<Block>& blocks() {
    static std::vector<Block> stack;
    return stack;
}

}  // namespace

const std::vector<AnimationRecord>& animationLog() { return log(); }
void clearAnimationLog() {
    log().clear();
    logSerials().clear();
}
size_t runningAnimationCount() { return running(); }

void View::animate(double duration, double delay, unsigned options, const std::function<void()>& animations,
                   std::function<void(bool)> completion) {
    if (animations) animations();
    AnimationRecord rec;
    rec.duration = duration;
    rec.delay = delay;
    start(rec, toldFinished(std::move(completion)));
}

void View::transitionWithView(View* view, double duration, unsigned options, const std::function<void()>& animations,
                              std::function<void(bool)> completion) {
    if (animations) animations();
    startTransition(view, options, duration, std::move(completion));
}

void View::transitionFromView(View* from, ns::Ref<View> to, double duration, unsigned options,
                              std::function<void(bool)> completion) {
    if (!from || !to) return;
    ns::Ref<View> keepFrom(from);
    View* container = from->superview();
    if (container) {
        container->insertSubviewAbove(to, from);
        from->removeFromSuperview();
    }
    startTransition(container, options, duration, std::move(completion));
}

void View::beginAnimations(std::string animationID, ns::Object* context) {
    Block b;
    b.id = std::move(animationID);
    b.context = context;
    blocks().push_back(std::move(b));
}

void View::setAnimationDuration(double s) {
    if (!blocks().empty()) blocks().back().duration = s;
}
void View::setAnimationDelay(double s) {
    if (!blocks().empty()) blocks().back().delay = s;
}
void View::setAnimationCurve(unsigned) {}
void View::setAnimationDelegate(AnimationDelegate* d) {
    if (!blocks().empty()) blocks().back().delegate = d;
}
void View::setAnimationTransition(AnimationTransition t, View* forView, bool cache) {
    if (blocks().empty()) return;
    auto& b = blocks().back();
    b.transition = t;
    b.transitionView = forView;
    b.cache = cache;
}

void View::commitAnimations() {
    if (blocks().empty()) return;
    Block b = std::move(blocks().back());
    blocks().pop_back();
    AnimationRecord rec;
    rec.duration = b.duration;
    rec.delay = b.delay;
    if (b.transition != AnimationTransition::None) {
        rec.kind = AnimationRecord::Kind::Transition;
        rec.transition = transitionName(b.transition);
        rec.view = b.transitionView;
        rec.cached = b.cache;
    }
    start(rec, [id = b.id, context = b.context, delegate = b.delegate]() {
        if (auto d = delegate.lock()) d->animationDidStop(id, true, context.get());
    });
}

}  // namespace ui
