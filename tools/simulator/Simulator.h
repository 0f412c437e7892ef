// The simulator's command interpreter: one driver command per line, as a
// person types them or a script lists them. Shared by the korvel program
// and its tests.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>

#include "platform/foundation/Clock.h"
#include "app/forms/HTTPFormPoster.h"
#include "platform/ui/Driver.h"
#include "tools/simulator/FormPostWatcher.h"

namespace simulator {

class Simulator {
public:
    // `manualClock`: the clock `wait` advances; nil when the main run loop
    // runs on the real clock (then `wait` runs the loop for that long).
    // `setAsideBefore`: the files of the home folder that were already moved
    // aside before the app launched (setAsideFiles() then); the others are
    // news, reported once by reportEvents.
    // `formPostLimitSeconds`: the time limit of each form post (the app's
    // HTTP form poster gives a post up after it).
    explicit Simulator(ns::Ref<ns::ManualClock> manualClock, std::set<std::string> setAsideBefore = {},
                       double formPostLimitSeconds = app::HTTPFormPoster::kDefaultTimeLimitSeconds);

    // Carries out one command line. Returns false when it could not be
    // carried out; the reason is in lastError(). Blank lines and lines
    // starting with '#' do nothing.
    bool run(const std::string& line, std::ostream& out);
    const std::string& lastError() const { return error_; }
    // "<line>: <why>" for the error line after `line` failed: the line cut
    // as shortened() cuts it, control characters in both shown escaped.
    std::string failureText(const std::string& line) const;
    bool quitRequested() const { return quit_; }

    // What the app did since the last call that a person would notice
    // outside the screen: URLs opened, mail written to the outbox, form
    // posts sent, home-folder files found unreadable and moved aside (or
    // kept where they are when they could not be moved), the keychain's
    // damaged copies a logout deleted, a logout cut short that cannot be
    // finished yet (and its end). One line each.
    void reportEvents(std::ostream& out);

    // When `line` is a well-formed `wait` and time is real (no manual
    // clock), its seconds: the caller lets them pass on the running loop
    // instead of calling run(). Nothing otherwise (run() handles the line,
    // errors included).
    std::optional<double> realTimeWait(const std::string& line) const;

    // Files in the home folder that were moved aside because they could not
    // be read ("<name>.corrupt..."), as paths relative to the folder. The
    // outbox is not looked at.
    static std::set<std::string> setAsideFiles();

    static const char* commandHelp();

    // `text` cut to at most kQuoteLimit characters ("..." marks the cut):
    // how an error line quotes what was typed.
    static std::string shortened(const std::string& text);
    static constexpr size_t kQuoteLimit = 100;

private:
    bool fail(std::string why);
    bool tap(const std::string& text);
    bool back();
    bool closeSheet();
    bool closeOverlay(ui::View* cover);
    bool link(const std::string& textOrHref);
    bool pinch(const std::string& args);
    bool swipe(const std::string& args);
    void letFormPostsAnswer();

    // Real time a script's `wait` gives a form post beyond the post's own
    // time limit, for its end to reach the form.
    static constexpr double kFormPostAnswerMarginSeconds = 5.0;

    ns::Ref<ns::ManualClock> clock_;
    ui::Driver driver_;
    std::string error_;
    bool quit_ = false;
    size_t urlsSeen_ = 0;
    ns::Ref<FormPostWatcher> posts_;
    double formPostLimit_ = 0;
    std::set<std::string> outboxSeen_;
    std::set<std::string> setAsideSeen_;
    size_t keptSeen_ = 0;  // of app::unreadableKeptFiles()
    size_t keychainEventsSeen_ = 0;  // of sec::keychainSetAsideEvents()
    bool logoutUnfinishedTold_ = false;
};

}  // namespace simulator
