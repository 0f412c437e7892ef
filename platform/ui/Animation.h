// Animations and transitions, headless: the end state is applied at once,
// and the completion runs when the duration (plus delay) has passed on the
// main run loop's clock. With a manual clock a 1.0 s fade finishes on
// clock.advance(1.0); with the system clock it finishes a second later.
//
// Every animation and transition started is recorded (kind, view, duration,
// options) so that tests can check what the screen did; see animationLog().
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/foundation/Object.h"

namespace ui {

class View;

enum AnimationOptions : unsigned {
    AnimationOptionNone = 0,
    AnimationOptionCurveEaseInOut = 0,
    AnimationOptionCurveEaseIn = 1u << 16,
    AnimationOptionCurveEaseOut = 2u << 16,
    AnimationOptionCurveLinear = 3u << 16,
    AnimationOptionTransitionNone = 0,
    AnimationOptionTransitionFlipFromLeft = 1u << 20,
    AnimationOptionTransitionFlipFromRight = 2u << 20,
    AnimationOptionTransitionCurlUp = 3u << 20,
    AnimationOptionTransitionCurlDown = 4u << 20,
    AnimationOptionTransitionCrossDissolve = 5u << 20,
};

// Transitions of the begin/commit style.
enum class AnimationTransition { None, FlipFromLeft, FlipFromRight, CurlUp, CurlDown };

// Receives the end of a begin/commit animation block that named it.
class AnimationDelegate {
public:
    virtual ~AnimationDelegate() = default;
    virtual void animationDidStop(const std::string& animationID, bool finished, ns::Object* context) = 0;
};

// One animation or transition that was started.
struct AnimationRecord {
    enum class Kind { Animation, Transition };
    Kind kind = Kind::Animation;
    ns::Weak<View> view;          // the transition's container; nil for plain animations
    std::string transition;       // "flip-from-left", "flip-from-right", "curl-up", ... or ""
    double duration = 0;
    double delay = 0;
    double startedAt = 0;         // main run loop clock time
    bool cached = false;          // begin/commit transitions: the cache flag
    bool finished = false;        // true once the completion ran
};

// The animations started since the last clear, oldest first.
const std::vector<AnimationRecord>& animationLog();
void clearAnimationLog();
// Number of animations whose completion has not run yet.
size_t runningAnimationCount();

}  // namespace ui
