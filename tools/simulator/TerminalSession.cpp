#include "tools/simulator/TerminalSession.h"

#include <unistd.h>

#include <cerrno>

namespace simulator {

namespace {
// Lines after which the screen is not printed again: nothing changed, or
// the line printed what the person asked for.
bool printsNothingNew(const std::string& line) {
    size_t at = line.find_first_not_of(" \t\r");
    if (at == std::string::npos || line[at] == '#') return true;
    return line.compare(at, 6, "screen") == 0 || line.compare(at, 4, "help") == 0;
}
}  // namespace

TerminalSession::TerminalSession(Simulator& sim, std::ostream& out, std::function<void()> done)
    : sim_(sim), out_(out), done_(std::move(done)) {
    if (!done_) done_ = [] {};
}

TerminalSession::~TerminalSession() {
    if (resume_) resume_->invalidate();
    if (input_) input_->invalidate();
}

void TerminalSession::readFrom(int fd) {
    input_ = ns::RunLoop::main()->addFd(fd, ns::FdReadable, [this, fd](unsigned) {
        char buf[4096];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            feed(std::string_view(buf, static_cast<size_t>(n)));
        } else if (n == 0 || errno != EINTR) {
            // The input ended: stop watching it (it stays readable), and
            // let a running wait and the lines after it finish.
            input_->invalidate();
            endOfInput();
        }
    });
}

void TerminalSession::start() {
    sim_.run("screen", out_);
    out_ << "> " << std::flush;
}

void TerminalSession::feed(std::string_view bytes) {
    if (isDone()) return;
    pending_.append(bytes);
    carryOut();
}

void TerminalSession::endOfInput() {
    ended_ = true;
    carryOut();
}

void TerminalSession::carryOut() {
    // Input that arrives while a line runs the loop again is left in
    // pending_ for the loop below.
    if (carrying_) return;
    carrying_ = true;
    struct Done {
        bool& carrying;
        ~Done() { carrying = false; }
    } done{carrying_};
    while (!isDone() && !isWaiting()) {
        size_t nl = pending_.find('\n');
        if (nl == std::string::npos && !(ended_ && !pending_.empty())) break;
        std::string line = pending_.substr(0, nl);
        pending_.erase(0, nl == std::string::npos ? std::string::npos : nl + 1);
        runLine(line);
    }
    if (!isDone() && !isWaiting() && ended_ && pending_.empty()) finish();
}

void TerminalSession::runLine(const std::string& line) {
    if (auto seconds = sim_.realTimeWait(line)) {
        // The loop goes on running (and the app with it) while this waits.
        resume_ = ns::RunLoop::main()->performAfterDelay(*seconds, [this, line] {
            resume_ = nullptr;
            afterCommand(line);
            carryOut();
        });
        return;
    }
    if (!sim_.run(line, out_)) out_ << "error: " << sim_.failureText(line) << "\n";
    if (sim_.quitRequested()) {
        finish();
        return;
    }
    afterCommand(line);
}

void TerminalSession::afterCommand(const std::string& line) {
    if (!printsNothingNew(line)) sim_.run("screen", out_);
    out_ << "> " << std::flush;
}

void TerminalSession::finish() {
    if (isDone()) return;
    if (resume_) resume_->invalidate();
    resume_ = nullptr;
    auto done = std::move(done_);
    done_ = nullptr;
    done();
}

}  // namespace simulator
