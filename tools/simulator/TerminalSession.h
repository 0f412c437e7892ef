// korvel at the terminal: the lines a person types (or pipes in) are carried
// out one after another while the main run loop keeps running, so fades and
// timers go on between them. After each command that changes something the
// screen is printed again, then the prompt.
//
// `wait S` on the real clock lets S seconds pass on the running loop: the
// lines after it (typed or already piped in) wait their turn, and the end of
// the input does not cut the wait short. The session is done once the input
// has ended and every line read has been carried out, or after `quit`.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <string_view>

#include "platform/foundation/Timer.h"
#include "tools/simulator/Simulator.h"

namespace simulator {

class TerminalSession {
public:
    // `done` runs once, when the session is over (korvel stops the loop).
    TerminalSession(Simulator& sim, std::ostream& out, std::function<void()> done);
    ~TerminalSession();
    TerminalSession(const TerminalSession&) = delete;
    TerminalSession& operator=(const TerminalSession&) = delete;

    // Prints the first screen and the prompt.
    void start();
    // Bytes read from the terminal; complete lines are carried out.
    void feed(std::string_view bytes);
    // The terminal closed: a last line without a line end is carried out
    // too, then the session ends when nothing is left to do.
    void endOfInput();

    bool isWaiting() const { return static_cast<bool>(resume_); }
    bool isDone() const { return done_ == nullptr; }

private:
    void carryOut();
    void runLine(const std::string& line);
    void afterCommand(const std::string& line);
    void finish();

    Simulator& sim_;
    std::ostream& out_;
    std::function<void()> done_;
    std::string pending_;
    bool ended_ = false;
    ns::Ref<ns::Timer> resume_;  // set while a wait is running
};

}  // namespace simulator
