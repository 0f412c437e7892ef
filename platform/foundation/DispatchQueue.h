// Dispatch-style queues of blocks. A serial queue runs one block at a time
// in submission order; a concurrent queue starts blocks in submission order
// and runs up to its width at once. A barrier block waits for the blocks
// before it to end and runs alone; blocks after it wait for it. Worker
// threads are made on demand and end after a few idle seconds. The main
// queue runs its blocks on the main run loop.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "platform/foundation/Object.h"

namespace ns {

class DispatchQueue : public Object {
public:
    static Ref<DispatchQueue> makeSerial(std::string label);
    // width 0: the number of processors (at least 2).
    static Ref<DispatchQueue> makeConcurrent(std::string label, unsigned width = 0);
    // Blocks go to the main run loop (in common modes).
    static Ref<DispatchQueue> main();
    // A shared concurrent queue.
    static Ref<DispatchQueue> global();

    const char* className() const override { return "DispatchQueue"; }
    const std::string& label() const { return label_; }
    bool isSerial() const { return width_ == 1; }

    void async(std::function<void()> block);
    // Runs the block on the queue and waits for it. Waiting on the serial
    // queue (or for a barrier on the queue) that the caller is running on
    // would never end; that throws InternalInconsistencyException instead.
    // An exception thrown by the block is rethrown here.
    void sync(std::function<void()> block);
    void barrierAsync(std::function<void()> block);
    void barrierSync(std::function<void()> block);

    // The queue running the calling thread's current block (nil elsewhere).
    static DispatchQueue* current();

private:
    struct Item {
        std::function<void()> fn;
        bool barrier;
    };
    DispatchQueue(std::string label, unsigned width, bool isMain);
    void submit(std::function<void()> fn, bool barrier);
    void submitAndWait(std::function<void()> fn, bool barrier);
    bool headStartableLocked() const;
    void workerLoop();

    const std::string label_;
    const unsigned width_;
    const bool isMain_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Item> items_;
    unsigned running_ = 0;
    bool barrierRunning_ = false;
    unsigned workers_ = 0;
    unsigned idle_ = 0;
};

// Runs fn exactly once per flag, however many threads call at once; the
// others wait until it has run.
void dispatchOnce(std::once_flag& flag, const std::function<void()>& fn);

}  // namespace ns
