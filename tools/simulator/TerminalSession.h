// korvel at the terminal: the lines a person types (or pipes in) are carried
// out one after another while the main run loop keeps running, so fades and
// timers go on between them. After each command that changes something the
// screen is printed again, then the prompt.
//
// `wait S` on the real clock lets S seconds pass on the running loop: the
// lines after it (typed or already piped in) wait their turn, and the end of
// the input does not cut the wait short. The session is done once the input
// has ended and every line read has been carried out, or after `quit`.
//
// A command can run the main loop again while it works (the simulator lets
// the app settle), so input read meanwhile arrives while a line is still
// running: it waits its turn, and lines are carried out one at a time, in
// order.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <string_view>

#include "platform/foundation/RunLoop.h"
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
    // Watches `fd` on the main run loop and feeds what it reads, until the
    // input ends; the session stops watching when it is destroyed.
    void readFrom(int fd);
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
    bool carrying_ = false;  // a line is being carried out
    ns::Ref<ns::FdSource> input_;
    ns::Ref<ns::Timer> resume_;  // set while a wait is running
};

}  // namespace simulator
