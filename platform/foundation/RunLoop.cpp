#include "platform/foundation/RunLoop.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>

#include "platform/foundation/Exception.h"
#include "platform/foundation/Timer.h"
#include "platform/foundation/WakeUpBatch.h"

namespace ns {

namespace {

long currentTid() {
    static thread_local long tid = static_cast<long>(::syscall(SYS_gettid));
    return tid;
}

// How long a busy loop may hold back the wake-ups it owes other loops.
constexpr double kLongestWakeUpHold = 0.001;

double steadyNow() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::mutex gMainMutex;
std::atomic<long> gMainTid{0};  // 0: the process's initial thread
// Never destroyed: a thread still running while the process exits (a
// network thread letting go of a finished request) may post to the main loop
// after static destruction has begun.
Ref<RunLoop>& mainLoopSlot() {
    static auto* slot = new Ref<RunLoop>();
    return *slot;
}

// The process id, asked of the kernel once per process (a forked child
// asks again): isMainThread() is called for every callback a request makes.
std::atomic<long> gProcessId{0};
long processId() {
    static const bool registered = [] {
        ::pthread_atfork(nullptr, nullptr, [] { gProcessId.store(0, std::memory_order_relaxed); });
        return true;
    }();
    (void)registered;
    long pid = gProcessId.load(std::memory_order_relaxed);
    if (!pid) {
        pid = static_cast<long>(::getpid());
        gProcessId.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

long mainTidLocked() {
    long tid = gMainTid.load(std::memory_order_acquire);
    return tid ? tid : processId();
}

}  // namespace

// Keeps a thread's loop alive for the thread's life and marks it finished
// when the thread ends, so that waiting performers are released.
struct LoopHolder {
    Ref<RunLoop> loop;
    ~LoopHolder() {
        if (loop) loop->finish();
    }
};
static thread_local LoopHolder tLoop;

// ---------------------------------------------------------------- FdSource

Ref<FdSource> FdSource::make(int fd, unsigned events, Callback callback) {
    return Ref<FdSource>(new FdSource(fd, events, std::move(callback)));
}

unsigned FdSource::events() const {
    std::lock_guard<std::mutex> g(mutex_);
    return events_;
}

void FdSource::setEvents(unsigned events) {
    Ref<RunLoop> loop;
    {
        std::lock_guard<std::mutex> g(mutex_);
        events_ = events;
        if (valid_) loop = attachedLoop_.lock();
    }
    // The loop's own thread reads the new events before it next waits.
    if (loop && !loop->isCurrent()) loop->wakeUp();
}

bool FdSource::isValid() const {
    std::lock_guard<std::mutex> g(mutex_);
    return valid_;
}

void FdSource::invalidate() {
    Callback dropped;
    Ref<RunLoop> loop;
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (!valid_) return;
        valid_ = false;
        dropped = std::move(callback_);
        callback_ = nullptr;
        loop = attachedLoop_.lock();
    }
    if (loop) loop->removeSourceAll(this);
}

FdSource::Callback FdSource::callbackForFiring() {
    std::lock_guard<std::mutex> g(mutex_);
    return valid_ ? callback_ : Callback();
}

// ------------------------------------------------------------------ RunLoop

RunLoop::RunLoop(long ownerTid) : ownerTid_(ownerTid), clock_(SystemClock::shared()) {
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) throw Exception(kInternalInconsistencyException, "cannot create the run loop's wake-up descriptor");
}

RunLoop::~RunLoop() {
    if (auto* manual = dynamic_cast<ManualClock*>(clock_.get())) manual->detach(this);
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

Ref<RunLoop> RunLoop::makeForThread(long tid) { return Ref<RunLoop>(new RunLoop(tid)); }

Ref<RunLoop> RunLoop::current() {
    if (tLoop.loop) return tLoop.loop;
    long tid = currentTid();
    {
        std::lock_guard<std::mutex> g(gMainMutex);
        if (tid == mainTidLocked()) {
            Ref<RunLoop>& mainLoop = mainLoopSlot();
            if (!mainLoop) mainLoop = makeForThread(tid);
            tLoop.loop = mainLoop;
            return tLoop.loop;
        }
    }
    tLoop.loop = makeForThread(tid);
    return tLoop.loop;
}

Ref<RunLoop> RunLoop::main() {
    std::lock_guard<std::mutex> g(gMainMutex);
    Ref<RunLoop>& mainLoop = mainLoopSlot();
    if (!mainLoop) mainLoop = makeForThread(mainTidLocked());
    return mainLoop;
}

void RunLoop::setMain() {
    long tid = currentTid();
    std::lock_guard<std::mutex> g(gMainMutex);
    Ref<RunLoop>& mainLoop = mainLoopSlot();
    if (mainLoop && mainLoop->ownerTid_ != tid)
        throw Exception(kInternalInconsistencyException, "the main run loop already belongs to another thread");
    gMainTid = tid;
    if (!mainLoop) mainLoop = tLoop.loop ? tLoop.loop : makeForThread(tid);
    tLoop.loop = mainLoop;
}

bool RunLoop::isMainThread() { return currentTid() == mainTidLocked(); }

bool RunLoop::isCurrent() const { return currentTid() == ownerTid_; }

void RunLoop::checkOwner(const char* what) const {
    if (!isCurrent())
        throw Exception(kInternalInconsistencyException,
                        std::string(what) + " called on a thread that does not own the run loop");
}

Ref<Clock> RunLoop::clock() const {
    std::lock_guard<std::mutex> g(mutex_);
    return clock_;
}

void RunLoop::setClock(Ref<Clock> clock) {
    if (!clock) clock = SystemClock::shared();
    Ref<Clock> old;
    {
        std::lock_guard<std::mutex> g(mutex_);
        old = clock_;
        if (old == clock) return;
        // Keep every timer's remaining time across the change of time base.
        const double shift = clock->now() - old->now();
        for (auto& t : timers_) {
            std::lock_guard<std::mutex> tg(t->mutex_);
            t->fireDate_ += shift;
        }
        clock_ = clock;
    }
    if (auto* manual = dynamic_cast<ManualClock*>(old.get())) manual->detach(this);
    if (auto* manual = dynamic_cast<ManualClock*>(clock.get())) manual->attach(this);
    wakeUp();
}

void RunLoop::wakeUp() {
    // One write per wake-up: the turn that drains the descriptor runs every
    // call queued before it cleared the flag.
    if (wakePending_.exchange(true, std::memory_order_acq_rel)) return;
    wakeUpsSent_.fetch_add(1, std::memory_order_relaxed);
    uint64_t one = 1;
    ssize_t n = ::write(wakeFd_, &one, sizeof one);
    (void)n;  // EAGAIN means a wake-up is already pending
}

bool RunLoop::isFinished() const {
    std::lock_guard<std::mutex> g(mutex_);
    return finished_;
}

bool RunLoop::modeMatches(const std::set<std::string>& modes, const std::string& mode) {
    return modes.count(mode) || modes.count(kCommonModes);
}

std::string RunLoop::currentMode() const {
    if (isCurrent() && !modeStack_.empty()) return modeStack_.back();
    return kDefaultMode;
}

// --------------------------------------------------------------- queueing

bool RunLoop::performDeferred(std::function<void()> fn, const std::string& mode) {
    const std::string* interned = internedMode(mode);
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (finished_) return false;
        calls_.push_back(Call{std::move(fn), interned, nextSeq_++});
    }
    // From a turn of another loop, the wake-up leaves with that turn's batch.
    if (!isCurrent() && !WakeUpBatch::defer(*this)) wakeUp();
    return true;
}

Ref<Timer> RunLoop::performAfterDelay(double delay, std::function<void()> fn, const std::string& mode) {
    Ref<Timer> t = Timer::make(delay, false, std::move(fn));
    addTimer(t, mode);
    return t;
}

void RunLoop::addTimer(const Ref<Timer>& timer, const std::string& mode) {
    if (!timer) return;
    {
        std::lock_guard<std::mutex> g(mutex_);
        std::lock_guard<std::mutex> tg(timer->mutex_);
        if (!timer->valid_ || finished_) return;
        Ref<RunLoop> owner = timer->loop_.lock();
        if (owner && owner.get() != this)
            throw Exception(kInvalidArgumentException, "a timer cannot be scheduled on two run loops");
        if (!owner) {
            timer->loop_ = this;
            timer->seq_ = nextSeq_++;
            if (std::isnan(timer->fireDate_)) timer->fireDate_ = clock_->now() + std::max(0.0, timer->interval_);
            timers_.push_back(timer);
        }
        timer->modes_.insert(mode);
    }
    if (!isCurrent()) wakeUp();
}

void RunLoop::removeTimer(Timer& timer, const std::string& mode) {
    Ref<Timer> keep(&timer);  // released after the lock is dropped
    std::lock_guard<std::mutex> g(mutex_);
    std::lock_guard<std::mutex> tg(timer.mutex_);
    if (!timer.loop_.pointsTo(this)) return;
    if (mode == kCommonModes) timer.modes_.clear();
    else timer.modes_.erase(mode);
    if (!timer.modes_.empty()) return;
    timer.loop_ = nullptr;
    timers_.erase(std::remove_if(timers_.begin(), timers_.end(), [&](const Ref<Timer>& t) { return t.get() == &timer; }),
                  timers_.end());
}

void RunLoop::dropTimer(Timer* timer) {
    Ref<Timer> keep(timer);  // released after the lock is dropped
    std::lock_guard<std::mutex> g(mutex_);
    auto it = std::find_if(timers_.begin(), timers_.end(), [&](const Ref<Timer>& t) { return t.get() == timer; });
    if (it != timers_.end()) timers_.erase(it);
}

void RunLoop::addSource(const Ref<FdSource>& source, const std::string& mode) {
    if (!source) return;
    {
        std::lock_guard<std::mutex> g(mutex_);
        std::lock_guard<std::mutex> sg(source->mutex_);
        if (!source->valid_ || finished_) return;
        Ref<RunLoop> owner = source->attachedLoop_.lock();
        if (owner && owner.get() != this)
            throw Exception(kInvalidArgumentException, "a source cannot be added to two run loops");
        if (!owner) {
            source->attachedLoop_ = this;
            sources_.push_back(source);
        }
        source->modes_.insert(mode);
    }
    if (!isCurrent()) wakeUp();
}

void RunLoop::removeSource(FdSource& source, const std::string& mode) {
    Ref<FdSource> keep(&source);
    {
        std::lock_guard<std::mutex> g(mutex_);
        std::lock_guard<std::mutex> sg(source.mutex_);
        if (!source.attachedLoop_.pointsTo(this)) return;
        if (mode == kCommonModes) source.modes_.clear();
        else source.modes_.erase(mode);
        if (source.modes_.empty()) {
            source.attachedLoop_ = nullptr;
            sources_.erase(std::remove_if(sources_.begin(), sources_.end(),
                                          [&](const Ref<FdSource>& s) { return s.get() == &source; }),
                           sources_.end());
        }
    }
    if (!isCurrent()) wakeUp();
}

void RunLoop::removeSourceAll(FdSource* source) { removeSource(*source, kCommonModes); }

Ref<FdSource> RunLoop::addFd(int fd, unsigned events, FdSource::Callback cb, const std::string& mode) {
    Ref<FdSource> s = FdSource::make(fd, events, std::move(cb));
    addSource(s, mode);
    return s;
}

void RunLoop::finish() {
    std::deque<Call> dropped = std::move(callsInHand_);  // the owner thread is ending
    std::vector<Call> droppedQueued;
    std::vector<Ref<Timer>> timers;
    std::vector<Ref<FdSource>> sources;
    {
        std::lock_guard<std::mutex> g(mutex_);
        finished_ = true;
        droppedQueued.swap(calls_);
        timers.swap(timers_);
        sources.swap(sources_);
        for (auto& t : timers) {
            std::lock_guard<std::mutex> tg(t->mutex_);
            t->loop_ = nullptr;
        }
        for (auto& s : sources) {
            std::lock_guard<std::mutex> sg(s->mutex_);
            s->attachedLoop_ = nullptr;
        }
    }
    for (auto& t : timers) t->invalidate();
    for (auto& s : sources) s->invalidate();
    // `dropped` goes out of scope here, releasing performers that wait.
}

// ----------------------------------------------------------------- turning

double RunLoop::nextTimerDate(const std::string& mode) {
    std::lock_guard<std::mutex> g(mutex_);
    double best = std::nan("");
    for (auto& t : timers_) {
        if (!modeMatches(t->modes_, mode)) continue;
        std::lock_guard<std::mutex> tg(t->mutex_);
        if (!t->valid_) continue;
        if (std::isnan(best) || t->fireDate_ < best) best = t->fireDate_;
    }
    return best;
}

int RunLoop::fireDueTimers(const std::string& mode) {
    int fired = 0;
    uint64_t limit;
    {
        std::lock_guard<std::mutex> g(mutex_);
        limit = nextSeq_;
    }
    // Each timer that exists at the start of the turn fires at most once per
    // turn, earliest first (ties in scheduling order).
    std::set<Timer*> done;
    for (;;) {
        Ref<Timer> next;
        {
            std::lock_guard<std::mutex> g(mutex_);
            const double now = clock_->now();
            double bestDate = 0;
            uint64_t bestSeq = 0;
            for (auto& t : timers_) {
                if (t->seq_ >= limit || done.count(t.get()) || !modeMatches(t->modes_, mode)) continue;
                std::lock_guard<std::mutex> tg(t->mutex_);
                if (!t->valid_ || t->fireDate_ > now) continue;
                if (!next || t->fireDate_ < bestDate || (t->fireDate_ == bestDate && t->seq_ < bestSeq)) {
                    next = t;
                    bestDate = t->fireDate_;
                    bestSeq = t->seq_;
                }
            }
            if (!next) break;
            done.insert(next.get());
            if (next->repeats_) {
                std::lock_guard<std::mutex> tg(next->mutex_);
                const double interval = std::max(next->interval_, 1e-4);
                double d = next->fireDate_ + interval;
                if (d <= now) d += std::ceil((now - d) / interval + 1e-9) * interval;
                if (d <= now) d = now + interval;
                next->fireDate_ = d;
            }
        }
        if (!next->repeats_) {
            Timer::Callback cb = next->callbackForFiring();
            next->invalidate();
            if (cb) { cb(*next); ++fired; }
        } else {
            Timer::Callback cb = next->callbackForFiring();
            if (cb) { cb(*next); ++fired; }
        }
    }
    return fired;
}

const std::string* RunLoop::internedMode(const std::string& mode) {
    if (&mode == &kCommonModes || mode == kCommonModes) return &kCommonModes;
    if (&mode == &kDefaultMode || mode == kDefaultMode) return &kDefaultMode;
    // Other modes are few (a request's private mode, a test's); kept for the
    // process's life, as the two above are.
    static std::mutex namesMutex;
    static auto* names = new std::set<std::string>();
    std::lock_guard<std::mutex> g(namesMutex);
    return &*names->insert(mode).first;
}

bool RunLoop::callRunsIn(const Call& call, const std::string* mode) {
    return call.mode == mode || call.mode == &kCommonModes;
}

uint64_t RunLoop::takeQueuedCalls(const std::string* mode) {
    std::lock_guard<std::mutex> g(mutex_);
    const uint64_t limit = nextSeq_;
    auto firstLeft = std::stable_partition(calls_.begin(), calls_.end(),
                                           [&](const Call& c) { return callRunsIn(c, mode); });
    if (firstLeft == calls_.begin()) return limit;
    // Calls an outer run holds came first unless a call of another mode
    // stayed queued meanwhile: then the taken ones go in by number.
    const bool inOrder = callsInHand_.empty() || callsInHand_.back().seq < calls_.front().seq;
    for (auto it = calls_.begin(); it != firstLeft; ++it) {
        auto at = inOrder ? callsInHand_.end()
                          : std::upper_bound(callsInHand_.begin(), callsInHand_.end(), it->seq,
                                             [](uint64_t seq, const Call& c) { return seq < c.seq; });
        callsInHand_.insert(at, std::move(*it));
    }
    calls_.erase(calls_.begin(), firstLeft);
    return limit;
}

int RunLoop::runQueuedCalls(const std::string& modeName) {
    const std::string* mode = internedMode(modeName);
    // One lock takes every call queued so far; calls queued while they run
    // wait for the next turn.
    const uint64_t limit = takeQueuedCalls(mode);
    int ran = 0;
    for (;;) {
        // Taken one at a time from the front, so that a nested run started
        // by one of them runs the rest in queueing order.
        auto it = std::find_if(callsInHand_.begin(), callsInHand_.end(),
                               [&](const Call& c) { return c.seq < limit && callRunsIn(c, mode); });
        if (it == callsInHand_.end()) break;
        Call call = std::move(*it);
        callsInHand_.erase(it);
        ++ran;
        if (call.fn) call.fn();
    }
    return ran;
}

int RunLoop::turn(const std::string& mode, double waitSeconds, bool pollFds) {
    std::vector<pollfd> pfds;
    std::vector<Ref<FdSource>> watched;
    bool callsPending = false;
    double timerWait = kDistantFuture;
    const std::string* interned = internedMode(mode);
    {
        std::lock_guard<std::mutex> g(mutex_);
        pfds.push_back(pollfd{wakeFd_, POLLIN, 0});
        if (pollFds) {
            for (auto& s : sources_) {
                if (!modeMatches(s->modes_, mode)) continue;
                std::lock_guard<std::mutex> sg(s->mutex_);
                if (!s->valid_) continue;
                short ev = 0;
                if (s->events_ & FdReadable) ev |= POLLIN;
                if (s->events_ & FdWritable) ev |= POLLOUT;
                pfds.push_back(pollfd{s->fd_, ev, 0});
                watched.push_back(s);
            }
        }
        auto runsHere = [&](const Call& c) { return callRunsIn(c, interned); };
        callsPending = std::any_of(calls_.begin(), calls_.end(), runsHere) ||
                       std::any_of(callsInHand_.begin(), callsInHand_.end(), runsHere);
        if (!clock_->isManual()) {
            const double now = clock_->now();
            for (auto& t : timers_) {
                if (!modeMatches(t->modes_, mode)) continue;
                std::lock_guard<std::mutex> tg(t->mutex_);
                if (t->valid_) timerWait = std::min(timerWait, std::max(0.0, t->fireDate_ - now));
            }
        } else {
            // Timers already due on a manual clock fire without waiting.
            const double now = clock_->now();
            for (auto& t : timers_) {
                if (!modeMatches(t->modes_, mode)) continue;
                std::lock_guard<std::mutex> tg(t->mutex_);
                if (t->valid_ && t->fireDate_ <= now) timerWait = 0;
            }
        }
    }
    double wait = callsPending ? 0.0 : std::min(std::max(0.0, waitSeconds), timerWait);
    int timeoutMs;
    if (std::isinf(wait)) timeoutMs = -1;
    else timeoutMs = static_cast<int>(std::min(std::ceil(wait * 1000.0), 1e9));

    int n;
    if (timeoutMs != 0 && WakeUpBatch::pending()) {
        // Calls queued on other loops wait while this thread has more to
        // handle, and reach them before it sleeps.
        n = ::poll(pfds.data(), pfds.size(), 0);
        if (n == 0) {
            WakeUpBatch::flush();
            n = ::poll(pfds.data(), pfds.size(), timeoutMs);
        }
    } else {
        n = ::poll(pfds.data(), pfds.size(), timeoutMs);
    }
    if (n < 0 && errno != EINTR)
        throw Exception(kInternalInconsistencyException, "run loop poll failed");
    if (n > 0 && (pfds[0].revents & POLLIN)) {
        // One read empties the counter. The flag is cleared before the
        // queued calls are taken below, so a call queued after this point
        // writes again and one queued before it is run by this turn.
        uint64_t v;
        ssize_t got = ::read(wakeFd_, &v, sizeof v);
        (void)got;
        wakePending_.exchange(false, std::memory_order_acq_rel);
    }

    int handled = fireDueTimers(mode);
    handled += runQueuedCalls(mode);
    if (n > 0) {
        for (size_t i = 1; i < pfds.size(); ++i) {
            short re = pfds[i].revents;
            if (!re) continue;
            FdSource& s = *watched[i - 1];
            unsigned wanted;
            {
                // Skip sources removed from this mode by an earlier callback.
                std::lock_guard<std::mutex> g(mutex_);
                std::lock_guard<std::mutex> sg(s.mutex_);
                if (!s.attachedLoop_.pointsTo(this) || !modeMatches(s.modes_, mode)) continue;
                wanted = s.events_;
            }
            unsigned ev = 0;
            if ((re & POLLIN) && (wanted & FdReadable)) ev |= FdReadable;
            if ((re & POLLOUT) && (wanted & FdWritable)) ev |= FdWritable;
            if (re & (POLLERR | POLLNVAL)) ev |= FdError;
            if (re & POLLHUP) {
                ev |= FdHangUp;
                if (wanted & FdReadable) ev |= FdReadable;
            }
            if (!ev) continue;
            FdSource::Callback cb = s.callbackForFiring();
            if (re & POLLNVAL) s.invalidate();
            if (cb) {
                cb(ev);
                ++handled;
            }
        }
    }
    // A thread that stays busy still sends its calls every so often.
    WakeUpBatch::flushIfHeldLongerThan(kLongestWakeUpHold);
    return handled;
}

namespace {
// While a loop runs, what its turns queue on other loops is sent in
// batches (see WakeUpBatch.h); what is left goes when the run returns.
struct RunScope {
    RunLoop& loop;
    std::vector<std::string>& stack;
    std::atomic<int>& depth;
    WakeUpBatch::Scope batch;
    RunScope(RunLoop& l, std::vector<std::string>& s, std::atomic<int>& d, const std::string& mode)
        : loop(l), stack(s), depth(d) {
        stack.push_back(mode);
        ++depth;
    }
    ~RunScope() {
        stack.pop_back();
        --depth;
    }
};
}  // namespace

bool RunLoop::runMode(const std::string& mode, double timeoutSeconds) {
    checkOwner("runMode");
    RunScope scope(*this, modeStack_, depth_, mode);
    if (stopRequested_.exchange(false)) return false;
    const double deadline = steadyNow() + std::max(0.0, timeoutSeconds);
    for (;;) {
        const double remaining = deadline - steadyNow();
        int n = turn(mode, std::max(0.0, remaining), true);
        if (stopRequested_.exchange(false)) return n > 0;
        if (n > 0) return true;
        if (remaining <= 0) return false;
    }
}

bool RunLoop::runUntil(const std::function<bool()>& condition, double timeoutSeconds, const std::string& mode) {
    checkOwner("runUntil");
    RunScope scope(*this, modeStack_, depth_, mode);
    const double deadline = steadyNow() + std::max(0.0, timeoutSeconds);
    for (;;) {
        if (condition()) return true;
        if (stopRequested_.exchange(false)) return condition();
        const double remaining = deadline - steadyNow();
        if (remaining <= 0) return condition();
        turn(mode, remaining, true);
    }
}

bool RunLoop::runOnce(const std::string& mode) {
    checkOwner("runOnce");
    RunScope scope(*this, modeStack_, depth_, mode);
    return turn(mode, 0.0, true) > 0;
}

void RunLoop::run() {
    checkOwner("run");
    RunScope scope(*this, modeStack_, depth_, kDefaultMode);
    while (!stopRequested_.exchange(false)) turn(kDefaultMode, kDistantFuture, true);
}

void RunLoop::stop() {
    stopRequested_.store(true);
    wakeUp();
}

void RunLoop::serviceDue() {
    const std::string mode = currentMode();
    for (int round = 0; round < 10000; ++round) {
        int n = fireDueTimers(mode);
        n += runQueuedCalls(mode);
        if (n == 0) return;
    }
}

// --------------------------------------------------------- cross-thread

namespace {
struct WaitState : Object {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool ran = false;
    std::exception_ptr error;
};
// Signals the waiter when the queued call is destroyed, whether it ran or
// was dropped because its loop's thread ended.
struct DoneSignal : Object {
    explicit DoneSignal(Ref<WaitState> s) : state(std::move(s)) {}
    Ref<WaitState> state;
    ~DoneSignal() override {
        std::lock_guard<std::mutex> g(state->mutex);
        state->done = true;
        state->cv.notify_all();
    }
};
}  // namespace

bool performOnThread(RunLoop& target, std::function<void()> fn, bool waitUntilDone, const std::string& mode) {
    if (target.isCurrent() && waitUntilDone) {
        fn();
        return true;
    }
    if (!waitUntilDone) return target.performDeferred(std::move(fn), mode);

    auto state = make<WaitState>();
    auto signal = make<DoneSignal>(state);
    bool queued = target.performDeferred(
        [fn = std::move(fn), state, signal]() mutable {
            try {
                fn();
            } catch (...) {
                std::lock_guard<std::mutex> g(state->mutex);
                state->error = std::current_exception();
            }
            std::lock_guard<std::mutex> g(state->mutex);
            state->ran = true;
        },
        mode);
    signal = nullptr;  // the queued call now holds the only reference
    if (!queued) return false;
    WakeUpBatch::flush();
    std::unique_lock<std::mutex> lock(state->mutex);
    state->cv.wait(lock, [&] { return state->done; });
    if (state->error) std::rethrow_exception(state->error);
    return state->ran;
}

bool performOnMainThread(std::function<void()> fn, bool waitUntilDone, const std::string& mode) {
    return performOnThread(*RunLoop::main(), std::move(fn), waitUntilDone, mode);
}

}  // namespace ns
