#include "platform/foundation/Thread.h"

#include <thread>

#include "platform/foundation/Exception.h"
#include "platform/foundation/WakeUpBatch.h"

namespace ns {

namespace {
thread_local Ref<Thread> tCurrentThread;
}

Ref<Thread> Thread::make(std::function<void()> body, std::string name) {
    return Ref<Thread>(new Thread(std::move(body), std::move(name)));
}

void Thread::detachNewThread(std::function<void()> fn) { make(std::move(fn))->start(); }

Ref<Thread> Thread::startRunLoopThread(std::string name) {
    Ref<Thread> t = make(nullptr, std::move(name));
    Thread* raw = t.get();
    t->body_ = [raw] {
        // The loop keeps going until stop() sets the flag; a stop() of the
        // loop alone (say from a callback) only ends one run.
        Ref<RunLoop> loop = RunLoop::current();
        while (!raw->isCancelled())
            loop->runUntil([raw] { return raw->isCancelled(); }, RunLoop::kDistantFuture);
    };
    t->start();
    t->runLoop();  // wait until the loop exists
    return t;
}

Ref<Thread> Thread::currentThread() {
    if (!tCurrentThread) {
        Ref<Thread> t(new Thread(nullptr, RunLoop::isMainThread() ? "main" : ""));
        t->adopted_ = true;
        t->started_ = true;
        t->executing_ = true;
        t->loop_ = RunLoop::current();
        tCurrentThread = t;
    }
    return tCurrentThread;
}

void Thread::start() {
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (started_) return;
        started_ = true;
    }
    auto self = ns::keepAlive(this);
    std::lock_guard<std::mutex> g(osThreadMutex_);
    osThread_ = std::thread([self] { self->threadMain(); });
}

Thread::~Thread() {
    // The last reference may go on the thread itself (its body's capture) or
    // on a thread that never joined: either way nobody waits for it any more.
    if (osThread_.joinable()) osThread_.detach();
}

void Thread::threadMain() {
    tCurrentThread = ns::keepAlive(this);
    {
        std::lock_guard<std::mutex> g(mutex_);
        loop_ = RunLoop::current();
        executing_ = true;
    }
    cv_.notify_all();
    std::function<void()> body = std::move(body_);
    body_ = nullptr;
    if (body) body();
    body = nullptr;  // release what the body held on its own thread
    // What the loop still holds (queued calls, timers, sources) is let go
    // here, before join() returns: a thread that joins this one and then
    // frees what those hold (a process that exits) meets nothing of it.
    if (Ref<RunLoop> loop = runLoop()) loop->finish();
    {
        std::lock_guard<std::mutex> g(mutex_);
        executing_ = false;
        finished_ = true;
    }
    cv_.notify_all();
    tCurrentThread = nullptr;
}

Ref<RunLoop> Thread::runLoop() const {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!started_) return nullptr;
    cv_.wait(lock, [&] { return loop_ || finished_; });
    return loop_;
}

bool Thread::isExecuting() const {
    std::lock_guard<std::mutex> g(mutex_);
    return executing_;
}

bool Thread::isFinished() const {
    std::lock_guard<std::mutex> g(mutex_);
    return finished_;
}

void Thread::stop() {
    cancel();
    Ref<RunLoop> loop;
    {
        std::lock_guard<std::mutex> g(mutex_);
        loop = loop_;
    }
    if (loop) loop->stop();
}

void Thread::join() const {
    if (adopted_) return;
    if (tCurrentThread.get() == this)
        throw Exception(kInternalInconsistencyException, "a thread cannot join itself");
    WakeUpBatch::flush();
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!started_) return;
        cv_.wait(lock, [&] { return finished_; });
    }
    // The body has ended; what is left is the thread's own teardown (its
    // thread-local data), which a process that exits next must not overtake.
    std::lock_guard<std::mutex> g(osThreadMutex_);
    if (osThread_.joinable()) osThread_.join();
}

}  // namespace ns
