#include "platform/foundation/OperationQueue.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/foundation/Exception.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/WakeUpBatch.h"

namespace ns {

namespace {
thread_local OperationQueue* tCurrentQueue = nullptr;

struct CurrentQueueScope {
    OperationQueue* saved;
    explicit CurrentQueueScope(OperationQueue* q) : saved(tCurrentQueue) { tCurrentQueue = q; }
    ~CurrentQueueScope() { tCurrentQueue = saved; }
};

// Idle workers wait this long for more work before their thread ends.
constexpr auto kWorkerIdleTime = std::chrono::seconds(5);
}  // namespace

// ---------------------------------------------------------------- Operation

Operation::~Operation() = default;

void Operation::start() {
    if (isExecuting() || isFinished())
        throw Exception(kInvalidArgumentException, "operation is already executing or finished");
    if (isCancelled()) {
        setFinished(true);
        return;
    }
    if (!isReady()) throw Exception(kInvalidArgumentException, "operation is not ready to start");
    auto keep = ns::keepAlive(this);
    setExecuting(true);
    struct Finisher {
        Operation* op;
        ~Finisher() {
            op->setExecuting(false);
            op->setFinished(true);
        }
    } finisher{this};
    main();
}

void Operation::setExecuting(bool executing) {
    if (executing_.load() == executing) return;
    willChangeValueForKey("isExecuting");
    executing_.store(executing);
    didChangeValueForKey("isExecuting");
}

void Operation::setFinished(bool finished) {
    if (finished_.load() == finished) return;
    willChangeValueForKey("isFinished");
    finished_.store(finished);
    didChangeValueForKey("isFinished");
}

void Operation::cancel() {
    if (cancelled_.load()) return;
    willChangeValueForKey("isCancelled");
    cancelled_.store(true);
    didChangeValueForKey("isCancelled");
}

bool Operation::isReady() const {
    if (isCancelled()) return true;
    std::vector<Ref<Operation>> deps;
    {
        std::lock_guard<std::mutex> g(mutex_);
        deps = dependencies_;
    }
    for (auto& d : deps)
        if (!d->isFinished()) return false;
    return true;
}

void Operation::addDependency(const Ref<Operation>& op) {
    if (!op) return;
    if (op.get() == this) throw Exception(kInvalidArgumentException, "an operation cannot depend on itself");
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (std::find(dependencies_.begin(), dependencies_.end(), op) != dependencies_.end()) return;
        dependencies_.push_back(op);
    }
    {
        std::lock_guard<std::mutex> g(op->mutex_);
        op->dependants_.emplace_back(this);
    }
    didChangeValueForKey("isReady");
}

void Operation::removeDependency(const Ref<Operation>& op) {
    if (!op) return;
    {
        std::lock_guard<std::mutex> g(mutex_);
        auto it = std::find(dependencies_.begin(), dependencies_.end(), op);
        if (it == dependencies_.end()) return;
        dependencies_.erase(it);
    }
    {
        std::lock_guard<std::mutex> g(op->mutex_);
        auto& ds = op->dependants_;
        ds.erase(std::remove_if(ds.begin(), ds.end(), [&](const Weak<Operation>& w) { return w.pointsTo(this); }),
                 ds.end());
    }
    didChangeValueForKey("isReady");
}

std::vector<Ref<Operation>> Operation::dependencies() const {
    std::lock_guard<std::mutex> g(mutex_);
    return dependencies_;
}

void Operation::setQueuePriority(int priority) {
    willChangeValueForKey("queuePriority");
    priority_.store(priority);
    didChangeValueForKey("queuePriority");
}

void Operation::setCompletionBlock(std::function<void()> block) {
    std::lock_guard<std::mutex> g(mutex_);
    completion_ = std::move(block);
}

bool Operation::hasCompletionBlock() const {
    std::lock_guard<std::mutex> g(mutex_);
    return static_cast<bool>(completion_);
}

void Operation::waitUntilFinished() {
    WakeUpBatch::flush();
    std::unique_lock<std::mutex> lock(mutex_);
    finishedCv_.wait(lock, [&] { return finishDone_; });
}

void Operation::didChangeValueForKey(const std::string& key) {
    if (key == "isFinished") {
        if (isFinished()) finishedOnce();
    } else if (key == "queuePriority") {
        Ref<OperationQueue> queue;
        {
            std::lock_guard<std::mutex> g(mutex_);
            queue = queue_.lock();
        }
        if (queue) queue->priorityChanged(this);
    } else if (key == "isReady" || key == "isCancelled") {
        poke();
    }
}

void Operation::poke() {
    Ref<OperationQueue> queue;
    {
        std::lock_guard<std::mutex> g(mutex_);
        queue = queue_.lock();
    }
    if (queue) queue->pump();
}

void Operation::finishedOnce() {
    if (finishHandled_.exchange(true)) return;
    auto keep = ns::keepAlive(this);
    std::function<void()> completion;
    std::vector<Weak<Operation>> dependants;
    Ref<OperationQueue> queue;
    {
        std::lock_guard<std::mutex> g(mutex_);
        completion = std::move(completion_);
        completion_ = nullptr;
        dependants = dependants_;
        queue = queue_.lock();
    }
    if (completion) completion();
    for (auto& w : dependants)
        if (Ref<Operation> d = w.lock()) d->poke();
    if (queue) queue->operationFinished(this);
    {
        std::lock_guard<std::mutex> g(mutex_);
        finishDone_ = true;
        finishedCv_.notify_all();
    }
}

// ----------------------------------------------------------- BlockOperation

Ref<BlockOperation> BlockOperation::make(std::function<void()> block) {
    Ref<BlockOperation> op = ns::make<BlockOperation>();
    if (block) op->blocks_.push_back(std::move(block));
    return op;
}

void BlockOperation::addExecutionBlock(std::function<void()> block) {
    if (isExecuting() || isFinished())
        throw Exception(kInvalidArgumentException, "blocks cannot be added once the operation has started");
    std::lock_guard<std::mutex> g(blocksMutex_);
    blocks_.push_back(std::move(block));
}

void BlockOperation::main() {
    std::vector<std::function<void()>> blocks;
    {
        std::lock_guard<std::mutex> g(blocksMutex_);
        blocks.swap(blocks_);
    }
    for (auto& b : blocks)
        if (b) b();
}

// ----------------------------------------------------------- OperationQueue

OperationQueue::OperationQueue() : isMain_(false) {}
OperationQueue::OperationQueue(bool isMain) : isMain_(isMain) {
    if (isMain) name_ = "main";
}
OperationQueue::~OperationQueue() = default;

Ref<OperationQueue> OperationQueue::mainQueue() {
    // Never destroyed: threads still running while the process exits may add to it.
    static const auto& queue = *new Ref<OperationQueue>(new OperationQueue(true));
    return queue;
}

Ref<OperationQueue> OperationQueue::currentQueue() { return Ref<OperationQueue>(tCurrentQueue); }

void OperationQueue::checkAddable(const Ref<Operation>& op) {
    if (!op) throw Exception(kInvalidArgumentException, "cannot add a nil operation");
    // Asked before taking the operation's lock: the answers are virtual.
    if (op->isExecuting() || op->isFinished())
        throw Exception(kInvalidArgumentException, "operation is executing or finished");
    std::lock_guard<std::mutex> g(op->mutex_);
    if (op->enqueued_) throw Exception(kInvalidArgumentException, "operation is already in a queue");
}

void OperationQueue::addOperation(const Ref<Operation>& op) {
    checkAddable(op);
    {
        std::lock_guard<std::mutex> g(op->mutex_);
        if (op->enqueued_) throw Exception(kInvalidArgumentException, "operation is already in a queue");
        op->enqueued_ = true;
        op->queue_ = this;
    }
    {
        std::lock_guard<std::mutex> g(mutex_);
        op->queueSeq_ = nextSeq_++;
        op->queueKeyPriority_ = op->queuePriority();
        op->queueStarted_ = false;
        all_.emplace(op->queueSeq_, op);
        pending_.emplace(Key{op->queueKeyPriority_, op->queueSeq_}, op);
    }
    pump();
}

void OperationQueue::addOperations(const std::vector<Ref<Operation>>& ops, bool waitUntilFinished) {
    for (auto& op : ops) addOperation(op);
    if (waitUntilFinished)
        for (auto& op : ops) op->waitUntilFinished();
}

Ref<BlockOperation> OperationQueue::addOperationWithBlock(std::function<void()> block) {
    Ref<BlockOperation> op = BlockOperation::make(std::move(block));
    addOperation(op);
    return op;
}

std::vector<Ref<Operation>> OperationQueue::operations() const {
    std::lock_guard<std::mutex> g(mutex_);
    std::vector<Ref<Operation>> out;
    out.reserve(all_.size());
    for (auto& e : all_) out.push_back(e.second);
    return out;
}

size_t OperationQueue::operationCount() const {
    std::lock_guard<std::mutex> g(mutex_);
    return all_.size();
}

int OperationQueue::maxConcurrentOperationCount() const {
    std::lock_guard<std::mutex> g(mutex_);
    return maxCount_;
}

void OperationQueue::setMaxConcurrentOperationCount(int count) {
    {
        std::lock_guard<std::mutex> g(mutex_);
        maxCount_ = count < 0 ? kDefaultMaxConcurrentOperationCount : count;
    }
    pump();
}

bool OperationQueue::isSuspended() const {
    std::lock_guard<std::mutex> g(mutex_);
    return suspended_;
}

void OperationQueue::setSuspended(bool suspended) {
    {
        std::lock_guard<std::mutex> g(mutex_);
        suspended_ = suspended;
    }
    if (!suspended) pump();
}

std::string OperationQueue::name() const {
    std::lock_guard<std::mutex> g(mutex_);
    return name_;
}

void OperationQueue::setName(std::string name) {
    std::lock_guard<std::mutex> g(mutex_);
    name_ = std::move(name);
}

void OperationQueue::cancelAllOperations() {
    for (auto& op : operations()) op->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
    if (isMain_ && RunLoop::isMainThread()) {
        RunLoop::current()->runUntil([this] { return operationCount() == 0; }, RunLoop::kDistantFuture);
        return;
    }
    WakeUpBatch::flush();
    std::unique_lock<std::mutex> lock(mutex_);
    emptyCv_.wait(lock, [&] { return all_.empty(); });
}

size_t OperationQueue::widthLocked() const {
    if (maxCount_ >= 0) return static_cast<size_t>(maxCount_);
    if (isMain_) return 1;
    unsigned n = std::thread::hardware_concurrency();
    return std::clamp<size_t>(n, 2, 64);
}

void OperationQueue::pump() {
    for (;;) {
        // Walk the pending operations in order and take the first ready one.
        // Readiness is asked outside the queue's lock: it is virtual and may
        // take the operation's own locks.
        Ref<Operation> chosen;
        Key cursor{0, 0};
        bool first = true;
        for (;;) {
            Ref<Operation> candidate;
            {
                std::lock_guard<std::mutex> g(mutex_);
                if (suspended_ || running_ >= widthLocked()) return;
                auto it = first ? pending_.begin() : pending_.upper_bound(cursor);
                if (it == pending_.end()) return;
                cursor = it->first;
                candidate = it->second;
                first = false;
            }
            if (candidate->isReady()) {
                chosen = std::move(candidate);
                break;
            }
        }

        bool spawn = false, post = false;
        // A concurrent operation's start() only hands its work elsewhere:
        // it is started here, on the thread that found it a slot, rather
        // than on a worker thread woken for it.
        const bool startHere = !isMain_ && chosen->isConcurrent();
        {
            std::lock_guard<std::mutex> g(mutex_);
            if (suspended_ || running_ >= widthLocked()) return;
            auto it = pending_.find(Key{chosen->queueKeyPriority_, chosen->queueSeq_});
            if (it == pending_.end() || it->second != chosen) continue;  // taken or gone meanwhile
            pending_.erase(it);
            chosen->queueStarted_ = true;
            ++running_;
            if (!startHere) toRun_.push_back(chosen);
            if (startHere) {
            } else if (isMain_) {
                post = !mainDrainPosted_;
                mainDrainPosted_ = true;
            } else if (idleWorkers_ < toRun_.size() && workers_ < widthLocked()) {
                // Busy workers come back for more on their own; a new
                // thread is made only when none is free to take this one.
                ++workers_;
                spawn = true;
            } else {
                workCv_.notify_one();
            }
        }
        if (spawn) {
            auto self = ns::keepAlive(this);
            std::thread([self] { self->workerLoop(); }).detach();
        }
        if (post) {
            auto self = ns::keepAlive(this);
            RunLoop::main()->performDeferred([self] { self->drainOnMain(); });
        }
        if (startHere && !chosen->isFinished() && !chosen->isExecuting()) {
            CurrentQueueScope scope(this);
            chosen->start();
        }
    }
}

void OperationQueue::workerLoop() {
    CurrentQueueScope scope(this);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (!toRun_.empty()) {
            Ref<Operation> op = std::move(toRun_.front());
            toRun_.pop_front();
            lock.unlock();
            // An operation that ended before its turn (cancelled and
            // finished by its own means) is not started again.
            if (!op->isFinished() && !op->isExecuting()) op->start();
            op = nullptr;
            lock.lock();
            continue;
        }
        ++idleWorkers_;
        workCv_.wait_for(lock, kWorkerIdleTime, [&] { return !toRun_.empty(); });
        --idleWorkers_;
        if (toRun_.empty()) {
            --workers_;
            return;
        }
    }
}

void OperationQueue::drainOnMain() {
    CurrentQueueScope scope(this);
    for (;;) {
        Ref<Operation> op;
        {
            std::lock_guard<std::mutex> g(mutex_);
            if (toRun_.empty()) {
                mainDrainPosted_ = false;
                return;
            }
            op = std::move(toRun_.front());
            toRun_.pop_front();
        }
        if (!op->isFinished() && !op->isExecuting()) op->start();
    }
}

void OperationQueue::operationFinished(Operation* op) {
    Ref<Operation> keep;  // released after the lock
    {
        std::lock_guard<std::mutex> g(mutex_);
        auto it = all_.find(op->queueSeq_);
        if (it == all_.end() || it->second.get() != op) return;
        if (op->queueStarted_) --running_;
        else pending_.erase(Key{op->queueKeyPriority_, op->queueSeq_});
        keep = std::move(it->second);
        all_.erase(it);
        if (all_.empty()) emptyCv_.notify_all();
    }
    // A main-thread waiter turns the main loop rather than the condition
    // variable; an operation that ends on another thread must wake it.
    if (isMain_) RunLoop::main()->wakeUp();
    pump();
}

void OperationQueue::priorityChanged(Operation* op) {
    {
        std::lock_guard<std::mutex> g(mutex_);
        auto it = pending_.find(Key{op->queueKeyPriority_, op->queueSeq_});
        if (it == pending_.end() || it->second.get() != op) return;
        Ref<Operation> ref = std::move(it->second);
        pending_.erase(it);
        op->queueKeyPriority_ = op->queuePriority();
        pending_.emplace(Key{op->queueKeyPriority_, op->queueSeq_}, std::move(ref));
    }
    pump();
}

}  // namespace ns
