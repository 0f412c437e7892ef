// Operations and the queues that run them.
//
// An Operation is a unit of work with a life cycle (ready -> executing ->
// finished), a cancelled flag, a queue priority, dependencies on other
// operations and a completion block. A plain operation does its work in
// main(), which start() calls. A concurrent operation (isConcurrent() true)
// overrides start() to begin work elsewhere and later reports its end: it
// keeps its own executing/finished state, overrides isExecuting() and
// isFinished(), and calls willChangeValueForKey/didChangeValueForKey with
// "isExecuting", "isFinished" (and "isCancelled", "isReady") around every
// change, which is how queues and waiters learn of it.
//
// An OperationQueue starts ready operations on worker threads, at most
// maxConcurrentOperationCount at once (1 makes it serial), highest priority
// first and, among equals, in the order they were added. A concurrent
// operation holds its slot until it reports that it finished; its start()
// is called on the thread that found it a slot (the one adding it, resuming
// the queue or finishing the operation before it), with no worker thread
// between, so start() must only hand its work elsewhere. The main
// queue runs its operations one at a time on the main run loop.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Object.h"

namespace ns {

class OperationQueue;

enum QueuePriority : int {
    QueuePriorityVeryLow = -8,
    QueuePriorityLow = -4,
    QueuePriorityNormal = 0,
    QueuePriorityHigh = 4,
    QueuePriorityVeryHigh = 8,
};

class Operation : public Object {
public:
    Operation() = default;
    ~Operation() override;
    const char* className() const override { return "Operation"; }

    // Runs the operation on the calling thread: a cancelled operation goes
    // straight to finished; otherwise executing, main(), finished. Starting
    // an operation that is executing, finished or not ready throws
    // InvalidArgumentException.
    virtual void start();
    // The work; does nothing by default.
    virtual void main() {}

    virtual bool isConcurrent() const { return false; }
    virtual bool isExecuting() const { return executing_.load(); }
    virtual bool isFinished() const { return finished_.load(); }
    virtual bool isCancelled() const { return cancelled_.load(); }
    // Sets the cancelled flag. Work in progress checks isCancelled() itself;
    // a cancelled operation counts as ready, so its queue lets it go.
    virtual void cancel();
    // All dependencies finished (or this operation cancelled).
    virtual bool isReady() const;

    // Makes this operation wait until `op` has finished. Both may sit in
    // different queues. An operation cannot depend on itself.
    void addDependency(const Ref<Operation>& op);
    void removeDependency(const Ref<Operation>& op);
    std::vector<Ref<Operation>> dependencies() const;

    int queuePriority() const { return priority_.load(); }
    void setQueuePriority(int priority);

    // Runs once, after the operation has finished, on the thread that
    // finished it; dropped afterwards (so what it captures is released).
    void setCompletionBlock(std::function<void()> block);
    bool hasCompletionBlock() const;

    // Blocks until the operation has finished and its completion block has
    // run (not from inside the operation or its completion block).
    void waitUntilFinished();

    // Change notices for the state keys (see the file comment). The base
    // class acts on didChange: "isFinished" (when isFinished() now answers
    // true: wakes waiters, runs the completion block, tells dependants and
    // the queue), "isReady"/"isCancelled" (the queue looks again),
    // "queuePriority". Overrides must call the base class.
    virtual void willChangeValueForKey(const std::string& key) {}
    virtual void didChangeValueForKey(const std::string& key);

protected:
    // The built-in state, for plain operations and subclasses that use it.
    void setExecuting(bool executing);
    void setFinished(bool finished);

private:
    friend class OperationQueue;
    void finishedOnce();
    void poke();  // readiness may have changed: let the queue look again

    std::atomic<bool> executing_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> finishHandled_{false};
    std::atomic<int> priority_{QueuePriorityNormal};
    mutable std::mutex mutex_;
    std::condition_variable finishedCv_;
    std::vector<Ref<Operation>> dependencies_;
    std::vector<Weak<Operation>> dependants_;
    std::function<void()> completion_;
    Weak<OperationQueue> queue_;
    bool enqueued_ = false;
    // Place in the queue, guarded by the queue's lock.
    uint64_t queueSeq_ = 0;
    int queueKeyPriority_ = 0;
    bool queueStarted_ = false;
    bool finishDone_ = false;  // completion block ran, queue told
};

// Runs one or more blocks, one after the other, as its main().
class BlockOperation : public Operation {
public:
    static Ref<BlockOperation> make(std::function<void()> block = nullptr);
    const char* className() const override { return "BlockOperation"; }
    // Adds a block; not allowed once the operation has started.
    void addExecutionBlock(std::function<void()> block);
    void main() override;

private:
    std::mutex blocksMutex_;
    std::vector<std::function<void()>> blocks_;
};

class OperationQueue : public Object {
public:
    static constexpr int kDefaultMaxConcurrentOperationCount = -1;  // system chooses

    OperationQueue();
    ~OperationQueue() override;
    static Ref<OperationQueue> make() { return ns::make<OperationQueue>(); }
    // The serial queue on the main run loop.
    static Ref<OperationQueue> mainQueue();
    // The queue running the calling thread's operation (nil elsewhere).
    static Ref<OperationQueue> currentQueue();

    const char* className() const override { return "OperationQueue"; }

    // Queues an operation. Throws InvalidArgumentException when it is nil,
    // already in a queue, executing or finished.
    virtual void addOperation(const Ref<Operation>& op);
    void addOperations(const std::vector<Ref<Operation>>& ops, bool waitUntilFinished);
    Ref<BlockOperation> addOperationWithBlock(std::function<void()> block);

    // Operations not yet finished, in the order they were added.
    std::vector<Ref<Operation>> operations() const;
    size_t operationCount() const;

    int maxConcurrentOperationCount() const;
    // A negative count means the default width (the number of processors,
    // at least 2; 1 for the main queue); 0 starts nothing.
    void setMaxConcurrentOperationCount(int count);
    bool isSuspended() const;
    // A suspended queue starts nothing new; running operations go on.
    void setSuspended(bool suspended);
    // Cancels every operation in the queue (running ones learn through
    // isCancelled()).
    virtual void cancelAllOperations();
    // Blocks until the queue is empty. On the main thread for the main
    // queue, runs the main run loop meanwhile.
    //
    // Keep a reference to the queue until its work is done: operations hold
    // only a weak link to their queue, so operations that have not started
    // when the last reference goes are abandoned (never started).
    void waitUntilAllOperationsAreFinished();

    std::string name() const;
    void setName(std::string name);

protected:
    // Throws what addOperation throws for an operation it refuses (nil,
    // executing, finished or already in a queue); for subclasses that
    // prepare an operation before adding it.
    static void checkAddable(const Ref<Operation>& op);

private:
    friend class Operation;
    // Order of pending operations: higher priority first, then added first.
    struct Key {
        int priority;
        uint64_t seq;
        bool operator<(const Key& o) const {
            return priority != o.priority ? priority > o.priority : seq < o.seq;
        }
    };
    explicit OperationQueue(bool isMain);
    // Starts what may start (spawning workers or posting to the main loop).
    void pump();
    size_t widthLocked() const;
    void operationFinished(Operation* op);
    void priorityChanged(Operation* op);
    void workerLoop();
    void drainOnMain();

    const bool isMain_;
    mutable std::mutex mutex_;
    std::condition_variable workCv_;
    std::condition_variable emptyCv_;
    std::map<uint64_t, Ref<Operation>> all_;  // every unfinished operation, by seq
    std::map<Key, Ref<Operation>> pending_;  // not yet started
    std::deque<Ref<Operation>> toRun_;       // claimed, waiting for a thread
    uint64_t nextSeq_ = 0;
    size_t running_ = 0;
    int maxCount_ = kDefaultMaxConcurrentOperationCount;
    bool suspended_ = false;
    size_t workers_ = 0;
    size_t idleWorkers_ = 0;
    bool mainDrainPosted_ = false;
    std::string name_;
};

}  // namespace ns
