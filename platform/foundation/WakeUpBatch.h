// Wake-ups that a thread owes other run loops while it runs its own.
//
// A call queued on another thread's loop goes into that loop's queue at
// once; only the write to the loop's wake-up descriptor is held back. While
// a thread runs its loop, the loops it queues calls on are collected here
// and each is woken once when the batch is sent, however many calls it was
// given meanwhile: a network thread that finishes several responses in a
// row wakes the main thread once for all their callbacks. A loop that is
// awake anyway takes the calls on its next turn without any wake-up.
//
// The batch is sent when the thread has nothing else to handle (its loop is
// about to wait for events), when its run returns, after a turn that ends
// more than a millisecond after the first wake-up was held back (a busy
// thread still delivers), and before the foundation's own waits (a waited
// performOnThread, DispatchQueue::sync, Operation::waitUntilFinished, ...).
// A callback that blocks the thread some other way should call flush()
// first, or the calls it queued wait until it returns.
#pragma once

namespace ns {

class RunLoop;

class WakeUpBatch {
public:
    // Collects the calling thread's wake-ups while it lives. Scopes nest;
    // wake-ups are sent by flush(), never lost: the outermost scope's end
    // sends what is left.
    class Scope {
    public:
        Scope();
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
    };

    // Holds back the wake-up of `loop` when the calling thread has a batch
    // open (answers true), else answers false and the caller wakes it.
    static bool defer(RunLoop& loop);
    // Sends the calling thread's held wake-ups now.
    static void flush();
    // Sends them if the first was held back more than `seconds` ago.
    static void flushIfHeldLongerThan(double seconds);
    // Whether the calling thread holds wake-ups back.
    static bool pending();
};

}  // namespace ns
