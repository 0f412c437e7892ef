#include "tools/simulator/TerminalSession.h"

#include "platform/foundation/RunLoop.h"

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
    if (!sim_.run(line, out_)) out_ << "error: " << line << ": " << sim_.lastError() << "\n";
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
    if (resume_) resume_->invalidate();
    resume_ = nullptr;
    auto done = std::move(done_);
    done_ = nullptr;
    done();
}

}  // namespace simulator
