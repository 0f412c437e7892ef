// Threads with their own run loop. A Thread object starts a system thread;
// the thread keeps the object alive while it runs, and join() waits for it to
// end, its thread-local data included. A run-loop thread runs its loop until stop() is called, so
// other threads can perform work on it (performOnThread(*t->runLoop(), ...)).
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/foundation/Object.h"
#include "platform/foundation/RunLoop.h"

namespace ns {

class Thread : public Object {
public:
    // A thread that will run `body` once started.
    static Ref<Thread> make(std::function<void()> body, std::string name = {});
    // Starts a detached thread that runs fn; inside, RunLoop::current() is
    // that thread's own loop.
    static void detachNewThread(std::function<void()> fn);
    // Starts a long-lived thread whose run loop runs in the default mode
    // until stop() is called. Its loop is ready when this returns.
    static Ref<Thread> startRunLoopThread(std::string name = {});

    // The object for the calling thread (threads not started here, such as
    // the main thread, get one on first ask).
    static Ref<Thread> currentThread();
    static bool isMainThread() { return RunLoop::isMainThread(); }

    const char* className() const override { return "Thread"; }
    const std::string& name() const { return name_; }

    // Starts the thread (once; later calls do nothing).
    void start();
    // The thread's run loop; blocks until the started thread has made it.
    // Nil when the thread was never started.
    Ref<RunLoop> runLoop() const;

    // Sets the cancelled flag, which the body may poll. Does not interrupt.
    void cancel() { cancelled_.store(true); }
    bool isCancelled() const { return cancelled_.load(); }
    bool isExecuting() const;
    bool isFinished() const;
    // For a run-loop thread: ends its loop, so the thread finishes. For any
    // thread: cancels it and stops its loop's current run.
    void stop();
    // Waits until the thread's body has returned, its run loop has let go of
    // what it still held (queued calls, timers, sources) and the system thread
    // has ended, its thread-local data destroyed; not from the thread itself.
    void join() const;

    ~Thread() override;

private:
    Thread(std::function<void()> body, std::string name)
        : body_(std::move(body)), name_(std::move(name)) {}
    void threadMain();

    std::function<void()> body_;
    const std::string name_;
    std::atomic<bool> cancelled_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    bool started_ = false;
    bool executing_ = false;
    bool finished_ = false;
    bool adopted_ = false;  // an existing thread, not started here
    Ref<RunLoop> loop_;
    // The system thread, joined by the first join() after the body ended (so
    // that nothing of the thread is still being torn down when join()
    // returns); let go unjoined when the object goes first.
    mutable std::mutex osThreadMutex_;
    mutable std::thread osThread_;
};

}  // namespace ns
