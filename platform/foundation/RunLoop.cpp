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
#include <set>

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

unsigned FdSource::events() const { return events_.load(std::memory_order_acquire); }

void FdSource::setEvents(unsigned events) {
    events_.store(events, std::memory_order_release);
    // The loop's own thread reads the new events before it next waits.
    const long tid = attachedTid_.load(std::memory_order_acquire);
    if (tid == 0 || tid == currentTid()) return;
    Ref<RunLoop> loop;
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (valid_.load(std::memory_order_relaxed) && attachedLoop_) loop = Ref<RunLoop>(attachedLoop_);
    }
    if (loop && !loop->isCurrent()) loop->wakeUp();
}

bool FdSource::isValid() const { return valid_.load(std::memory_order_acquire); }

void FdSource::invalidate() {
    Callback dropped;
    Ref<RunLoop> loop;
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (!valid_.load(std::memory_order_relaxed)) return;
        valid_.store(false, std::memory_order_seq_cst);
        // A turn running the callback drops it when the callback returns.
        if (firing_.load(std::memory_order_seq_cst) == 0) dropped = std::move(callback_);
        if (attachedLoop_) loop = Ref<RunLoop>(attachedLoop_);
    }
    if (loop) loop->removeSourceAll(this);
}

// ------------------------------------------------------------------ ModeSet

bool ModeSet::runsIn(const std::string* mode) const {
    auto matches = [&](const std::string* m) { return m == mode || m == &RunLoop::kCommonModes; };
    return first_ && (matches(first_) || std::any_of(more_.begin(), more_.end(), matches));
}

void ModeSet::add(const std::string* mode) {
    if (!first_) first_ = mode;
    else if (first_ != mode && std::find(more_.begin(), more_.end(), mode) == more_.end()) more_.push_back(mode);
}

void ModeSet::remove(const std::string* mode) {
    if (first_ == mode) {
        first_ = more_.empty() ? nullptr : more_.back();
        if (first_) more_.pop_back();
    } else {
        more_.erase(std::remove(more_.begin(), more_.end(), mode), more_.end());
    }
}

// ------------------------------------------------------------------ RunLoop

RunLoop::RunLoop(long ownerTid)
    : ownerTid_(ownerTid), clock_(SystemClock::shared()), currentClock_(clock_.get()) {
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) throw Exception(kInternalInconsistencyException, "cannot create the run loop's wake-up descriptor");
}

RunLoop::~RunLoop() {
    // A loop goes only after its thread ended (finish() let go of its timers
    // and sources); what a loop never bound to a thread still holds is let
    // go here, so that nothing keeps pointing at it.
    std::vector<Ref<Timer>> timers;
    std::vector<Ref<FdSource>> sources;
    {
        std::lock_guard<std::mutex> g(mutex_);
        detachAll(timers, sources);
    }
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
            t->fireDate_.store(t->fireDate_.load(std::memory_order_relaxed) + shift, std::memory_order_release);
        }
        replacedClocks_.push_back(old);
        clock_ = clock;
        currentClock_.store(clock.get(), std::memory_order_release);
    }
    timersChanged();
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


std::string RunLoop::currentMode() const {
    if (isCurrent() && !modeStack_.empty()) return *modeStack_.back();
    return kDefaultMode;
}

// --------------------------------------------------------------- queueing

bool RunLoop::enqueue(std::function<void()> fn, const std::string& mode) {
    const std::string* interned = internedMode(mode);
    std::lock_guard<std::mutex> g(mutex_);
    if (finished_) return false;
    calls_.push_back(Call{std::move(fn), interned, nextSeq_.fetch_add(1, std::memory_order_relaxed)});
    queuedCount_.store(calls_.size(), std::memory_order_release);
    return true;
}

bool RunLoop::performDeferred(std::function<void()> fn, const std::string& mode) {
    if (!enqueue(std::move(fn), mode)) return false;
    // From a turn of another loop, the wake-up leaves with that turn's batch.
    if (!isCurrent() && !WakeUpBatch::defer(*this)) wakeUp();
    return true;
}

bool RunLoop::performAtOnce(std::function<void()> fn, const std::string& mode) {
    if (!enqueue(std::move(fn), mode)) return false;
    // A wake-up this thread already holds for the loop still leaves with its
    // batch: one turn more for the loop at most.
    if (!isCurrent()) wakeUp();
    return true;
}

Ref<Timer> RunLoop::performAfterDelay(double delay, std::function<void()> fn, const std::string& mode) {
    Ref<Timer> t = Timer::make(delay, false, std::move(fn));
    addTimer(t, mode);
    return t;
}

void RunLoop::addTimer(const Ref<Timer>& timer, const std::string& mode) {
    if (!timer) return;
    const std::string* interned = internedMode(mode);
    {
        std::lock_guard<std::mutex> g(mutex_);
        std::lock_guard<std::mutex> tg(timer->mutex_);
        if (!timer->valid_.load(std::memory_order_relaxed) || finished_) return;
        RunLoop* owner = timer->loop_;
        if (owner && owner != this)
            throw Exception(kInvalidArgumentException, "a timer cannot be scheduled on two run loops");
        if (!owner) {
            timer->loop_ = this;
            timer->seq_ = nextSeq_.fetch_add(1, std::memory_order_relaxed);
            if (std::isnan(timer->fireDate_.load(std::memory_order_relaxed)))
                timer->fireDate_.store(now() + std::max(0.0, timer->interval_), std::memory_order_release);
            timers_.push_back(timer);
        }
        timer->modes_.add(interned);
    }
    timersChanged();
    if (!isCurrent()) wakeUp();
}

void RunLoop::removeTimer(Timer& timer, const std::string& mode) {
    Ref<Timer> keep(&timer);  // released after the lock is dropped
    const std::string* interned = internedMode(mode);
    {
        std::lock_guard<std::mutex> g(mutex_);
        std::lock_guard<std::mutex> tg(timer.mutex_);
        if (timer.loop_ != this) return;
        if (interned == &kCommonModes) timer.modes_.clear();
        else timer.modes_.remove(interned);
        if (!timer.modes_.empty()) return;
        timer.loop_ = nullptr;
        timers_.erase(std::remove_if(timers_.begin(), timers_.end(),
                                     [&](const Ref<Timer>& t) { return t.get() == &timer; }),
                      timers_.end());
    }
    timersChanged();
}

void RunLoop::dropTimer(Timer* timer) {
    Ref<Timer> keep(timer);  // released after the lock is dropped
    {
        std::lock_guard<std::mutex> g(mutex_);
        auto it = std::find_if(timers_.begin(), timers_.end(), [&](const Ref<Timer>& t) { return t.get() == timer; });
        if (it != timers_.end()) timers_.erase(it);
    }
    timersChanged();
}

void RunLoop::addSource(const Ref<FdSource>& source, const std::string& mode) {
    if (!source) return;
    const std::string* interned = internedMode(mode);
    {
        std::lock_guard<std::mutex> g(mutex_);
        std::lock_guard<std::mutex> sg(source->mutex_);
        if (!source->valid_.load(std::memory_order_relaxed) || finished_) return;
        RunLoop* owner = source->attachedLoop_;
        if (owner && owner != this)
            throw Exception(kInvalidArgumentException, "a source cannot be added to two run loops");
        if (!owner) {
            source->attachedLoop_ = this;
            source->attachedTid_.store(ownerTid_, std::memory_order_release);
            sources_.push_back(source);
        }
        source->modes_.add(interned);
    }
    if (!isCurrent()) wakeUp();
}

void RunLoop::removeSource(FdSource& source, const std::string& mode) {
    Ref<FdSource> keep(&source);
    const std::string* interned = internedMode(mode);
    {
        std::lock_guard<std::mutex> g(mutex_);
        std::lock_guard<std::mutex> sg(source.mutex_);
        if (source.attachedLoop_ != this) return;
        if (interned == &kCommonModes) source.modes_.clear();
        else source.modes_.remove(interned);
        if (source.modes_.empty()) {
            source.attachedLoop_ = nullptr;
            source.attachedTid_.store(0, std::memory_order_release);
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

void RunLoop::detachAll(std::vector<Ref<Timer>>& timers, std::vector<Ref<FdSource>>& sources) {
    timers.swap(timers_);
    sources.swap(sources_);
    for (auto& t : timers) {
        std::lock_guard<std::mutex> tg(t->mutex_);
        t->loop_ = nullptr;
    }
    for (auto& s : sources) {
        std::lock_guard<std::mutex> sg(s->mutex_);
        s->attachedLoop_ = nullptr;
        s->attachedTid_.store(0, std::memory_order_release);
    }
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
        queuedCount_.store(0, std::memory_order_release);
        detachAll(timers, sources);
    }
    timersChanged();
    for (auto& t : timers) t->invalidate();
    for (auto& s : sources) s->invalidate();
    // `dropped` goes out of scope here, releasing performers that wait.
}

// ----------------------------------------------------------------- turning

double RunLoop::nextTimerDate(const std::string& modeName) {
    const std::string* mode = internedMode(modeName);
    std::lock_guard<std::mutex> g(mutex_);
    double best = std::nan("");
    for (auto& t : timers_) {
        if (!t->modes_.runsIn(mode) || !t->valid_.load(std::memory_order_acquire)) continue;
        const double date = t->fireDate_.load(std::memory_order_acquire);
        if (std::isnan(best) || date < best) best = date;
    }
    return best;
}

int RunLoop::fireDueTimers(const std::string* mode) {
    int fired = 0;
    const uint64_t limit = nextSeq_.load(std::memory_order_acquire);
    // Each timer that exists at the start of the turn fires at most once per
    // turn, earliest first (ties in scheduling order).
    std::vector<Timer*> done;
    for (;;) {
        Ref<Timer> next;
        {
            std::lock_guard<std::mutex> g(mutex_);
            const double now = this->now();
            double bestDate = 0;
            uint64_t bestSeq = 0;
            for (auto& t : timers_) {
                if (t->seq_ >= limit || !t->modes_.runsIn(mode)) continue;
                if (!t->valid_.load(std::memory_order_acquire)) continue;
                const double date = t->fireDate_.load(std::memory_order_acquire);
                if (date > now || std::find(done.begin(), done.end(), t.get()) != done.end()) continue;
                if (!next || date < bestDate || (date == bestDate && t->seq_ < bestSeq)) {
                    next = t;
                    bestDate = date;
                    bestSeq = t->seq_;
                }
            }
            if (!next) break;
            done.push_back(next.get());
            if (next->repeats_) {
                std::lock_guard<std::mutex> tg(next->mutex_);
                const double interval = std::max(next->interval_, 1e-4);
                double d = next->fireDate_.load(std::memory_order_relaxed) + interval;
                if (d <= now) d += std::ceil((now - d) / interval + 1e-9) * interval;
                if (d <= now) d = now + interval;
                next->fireDate_.store(d, std::memory_order_release);
            }
        }
        Timer::Callback cb = next->callbackForFiring();
        if (!next->repeats_) next->invalidate();
        if (cb) {
            cb(*next);
            ++fired;
        }
    }
    return fired;
}

const std::string* RunLoop::internedMode(const std::string& mode) {
    if (&mode == &kCommonModes || mode == kCommonModes) return &kCommonModes;
    if (&mode == &kDefaultMode || mode == kDefaultMode) return &kDefaultMode;
    // The last other name this thread asked for, answered without the lock
    // (a synchronous request names its private mode at every step).
    thread_local const std::string* lastAsked = nullptr;
    if (lastAsked && (&mode == lastAsked || mode == *lastAsked)) return lastAsked;
    // Other modes are few (a request's private mode, a test's); kept for the
    // process's life, as the two above are.
    static std::mutex namesMutex;
    static auto* names = new std::set<std::string>();
    std::lock_guard<std::mutex> g(namesMutex);
    lastAsked = &*names->insert(mode).first;
    return lastAsked;
}

bool RunLoop::callRunsIn(const Call& call, const std::string* mode) {
    return call.mode == mode || call.mode == &kCommonModes;
}

uint64_t RunLoop::takeQueuedCalls(const std::string* mode) {
    // Nothing queued: no lock. A call queued meanwhile is taken next turn
    // (its wake-up makes sure there is one).
    if (queuedCount_.load(std::memory_order_acquire) == 0) return nextSeq_.load(std::memory_order_acquire);
    std::lock_guard<std::mutex> g(mutex_);
    const uint64_t limit = nextSeq_.load(std::memory_order_relaxed);
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
    queuedCount_.store(calls_.size(), std::memory_order_release);
    return limit;
}

int RunLoop::runQueuedCalls(const std::string* mode) {
    // One lock takes every call queued so far; calls queued while they run
    // wait for the next turn.
    const uint64_t limit = takeQueuedCalls(mode);
    int ran = 0;
    while (!callsInHand_.empty()) {
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

bool RunLoop::fireSource(FdSource& s, short re, const std::string* mode) {
    unsigned ev = 0;
    {
        // Skip sources removed from this mode by an earlier callback.
        std::lock_guard<std::mutex> sg(s.mutex_);
        if (s.attachedLoop_ != this || !s.modes_.runsIn(mode)) return false;
        const unsigned wanted = s.events_.load(std::memory_order_relaxed);
        if ((re & POLLIN) && (wanted & FdReadable)) ev |= FdReadable;
        if ((re & POLLOUT) && (wanted & FdWritable)) ev |= FdWritable;
        if (re & (POLLERR | POLLNVAL)) ev |= FdError;
        if (re & POLLHUP) {
            ev |= FdHangUp;
            if (wanted & FdReadable) ev |= FdReadable;
        }
        if (!ev) return false;
        if (!s.valid_.load(std::memory_order_relaxed) || !s.callback_) return false;
        s.firing_.fetch_add(1, std::memory_order_seq_cst);
    }
    if (re & POLLNVAL) s.invalidate();
    struct EndFiring {
        FdSource& s;
        ~EndFiring() {
            // The last turn out drops a callback that was invalidated while
            // it ran (see FdSource::invalidate).
            if (s.firing_.fetch_sub(1, std::memory_order_seq_cst) != 1 || s.valid_.load(std::memory_order_seq_cst))
                return;
            FdSource::Callback dropped;
            std::lock_guard<std::mutex> sg(s.mutex_);
            if (s.firing_.load(std::memory_order_relaxed) == 0) dropped = std::move(s.callback_);
        }
    } end{s};
    s.callback_(ev);
    return true;
}

int RunLoop::turn(const std::string* mode, double waitSeconds, bool pollFds) {
    // The poll list's room is kept from turn to turn; a nested turn (a
    // callback running the loop again) finds it taken and makes its own.
    std::vector<pollfd> pfds = std::move(sparePollFds_);
    std::vector<Ref<FdSource>> watched = std::move(spareWatched_);
    pfds.clear();
    watched.clear();
    bool callsPending = false;
    double timerWait = kDistantFuture;
    // The earliest timer date seen and the timer epoch at that moment: if
    // neither the clock nor the timers say otherwise after the wait, no
    // timer is due and the turn does not look again.
    double earliestTimer = kDistantFuture;
    uint64_t epoch;
    {
        std::lock_guard<std::mutex> g(mutex_);
        epoch = timerEpoch_.load(std::memory_order_acquire);
        pfds.push_back(pollfd{wakeFd_, POLLIN, 0});
        if (pollFds) {
            for (auto& s : sources_) {
                if (!s->modes_.runsIn(mode) || !s->valid_.load(std::memory_order_acquire)) continue;
                const unsigned events = s->events_.load(std::memory_order_acquire);
                short ev = 0;
                if (events & FdReadable) ev |= POLLIN;
                if (events & FdWritable) ev |= POLLOUT;
                pfds.push_back(pollfd{s->fd_, ev, 0});
                watched.push_back(s);
            }
        }
        auto runsHere = [&](const Call& c) { return callRunsIn(c, mode); };
        callsPending = std::any_of(calls_.begin(), calls_.end(), runsHere) ||
                       std::any_of(callsInHand_.begin(), callsInHand_.end(), runsHere);
        for (auto& t : timers_) {
            if (!t->modes_.runsIn(mode) || !t->valid_.load(std::memory_order_acquire)) continue;
            earliestTimer = std::min(earliestTimer, t->fireDate_.load(std::memory_order_acquire));
        }
        if (earliestTimer != kDistantFuture) {
            const double now = this->now();
            // Timers on a manual clock are never waited for; those due
            // already fire without waiting.
            if (!currentClock_.load(std::memory_order_relaxed)->isManual())
                timerWait = std::max(0.0, earliestTimer - now);
            else if (earliestTimer <= now)
                timerWait = 0;
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

    int handled = 0;
    if (timerEpoch_.load(std::memory_order_acquire) != epoch || now() >= earliestTimer)
        handled += fireDueTimers(mode);
    handled += runQueuedCalls(mode);
    if (n > 0) {
        for (size_t i = 1; i < pfds.size(); ++i) {
            if (pfds[i].revents && fireSource(*watched[i - 1], pfds[i].revents, mode)) ++handled;
        }
    }
    watched.clear();
    if (sparePollFds_.capacity() < pfds.capacity()) sparePollFds_ = std::move(pfds);
    if (spareWatched_.capacity() < watched.capacity()) spareWatched_ = std::move(watched);
    // A thread that stays busy still sends its calls every so often.
    WakeUpBatch::flushIfHeldLongerThan(kLongestWakeUpHold);
    return handled;
}

namespace {
// While a loop runs, what its turns queue on other loops is sent in
// batches (see WakeUpBatch.h); what is left goes when the run returns.
struct RunScope {
    std::vector<const std::string*>& stack;
    std::atomic<int>& depth;
    WakeUpBatch::Scope batch;
    RunScope(std::vector<const std::string*>& s, std::atomic<int>& d, const std::string* mode)
        : stack(s), depth(d) {
        stack.push_back(mode);
        ++depth;
    }
    ~RunScope() {
        stack.pop_back();
        --depth;
    }
};
}  // namespace

bool RunLoop::runMode(const std::string& modeName, double timeoutSeconds) {
    checkOwner("runMode");
    const std::string* mode = internedMode(modeName);
    RunScope scope(modeStack_, depth_, mode);
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

bool RunLoop::runUntil(const std::function<bool()>& condition, double timeoutSeconds, const std::string& modeName) {
    checkOwner("runUntil");
    const std::string* mode = internedMode(modeName);
    RunScope scope(modeStack_, depth_, mode);
    const double deadline = steadyNow() + std::max(0.0, timeoutSeconds);
    for (;;) {
        if (condition()) return true;
        if (stopRequested_.exchange(false)) return condition();
        const double remaining = deadline - steadyNow();
        if (remaining <= 0) return condition();
        turn(mode, remaining, true);
    }
}

bool RunLoop::runOnce(const std::string& modeName) {
    checkOwner("runOnce");
    const std::string* mode = internedMode(modeName);
    RunScope scope(modeStack_, depth_, mode);
    return turn(mode, 0.0, true) > 0;
}

void RunLoop::run() {
    checkOwner("run");
    RunScope scope(modeStack_, depth_, &kDefaultMode);
    while (!stopRequested_.exchange(false)) turn(&kDefaultMode, kDistantFuture, true);
}

void RunLoop::stop() {
    stopRequested_.store(true);
    wakeUp();
}

void RunLoop::serviceDue() {
    const std::string* mode = isCurrent() && !modeStack_.empty() ? modeStack_.back() : &kDefaultMode;
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
