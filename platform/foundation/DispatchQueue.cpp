#include "platform/foundation/DispatchQueue.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>
#include <vector>

#include "platform/foundation/Exception.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/WakeUpBatch.h"

namespace ns {

namespace {
// Queues whose blocks the calling thread is running, innermost last.
thread_local std::vector<DispatchQueue*> tRunning;
constexpr auto kIdleTime = std::chrono::seconds(5);
}  // namespace

DispatchQueue::DispatchQueue(std::string label, unsigned width, bool isMain)
    : label_(std::move(label)), width_(std::max(1u, width)), isMain_(isMain) {}

Ref<DispatchQueue> DispatchQueue::makeSerial(std::string label) {
    return Ref<DispatchQueue>(new DispatchQueue(std::move(label), 1, false));
}

Ref<DispatchQueue> DispatchQueue::makeConcurrent(std::string label, unsigned width) {
    if (width == 0) width = std::clamp(std::thread::hardware_concurrency(), 2u, 64u);
    return Ref<DispatchQueue>(new DispatchQueue(std::move(label), width, false));
}

// The shared queues are never destroyed: threads still running while the
// process exits may submit to them.
Ref<DispatchQueue> DispatchQueue::main() {
    static const auto& q = *new Ref<DispatchQueue>(new DispatchQueue("main", 1, true));
    return q;
}

Ref<DispatchQueue> DispatchQueue::global() {
    static const auto& q = *new Ref<DispatchQueue>(makeConcurrent("global"));
    return q;
}

DispatchQueue* DispatchQueue::current() { return tRunning.empty() ? nullptr : tRunning.back(); }

void DispatchQueue::async(std::function<void()> block) { submit(std::move(block), false); }
void DispatchQueue::barrierAsync(std::function<void()> block) { submit(std::move(block), true); }
void DispatchQueue::sync(std::function<void()> block) { submitAndWait(std::move(block), false); }
void DispatchQueue::barrierSync(std::function<void()> block) { submitAndWait(std::move(block), true); }

bool DispatchQueue::headStartableLocked() const {
    if (items_.empty() || barrierRunning_) return false;
    return items_.front().barrier ? running_ == 0 : running_ < width_;
}

void DispatchQueue::submit(std::function<void()> fn, bool barrier) {
    if (isMain_) {
        auto self = ns::keepAlive(this);
        RunLoop::main()->performDeferred([self, fn = std::move(fn)] {
            tRunning.push_back(self.get());
            struct Pop { ~Pop() { tRunning.pop_back(); } } pop;
            fn();
        });
        return;
    }
    bool spawn = false;
    {
        std::lock_guard<std::mutex> g(mutex_);
        items_.push_back(Item{std::move(fn), barrier});
        if (idle_ == 0 && workers_ < width_) {
            ++workers_;
            spawn = true;
        } else {
            cv_.notify_all();
        }
    }
    if (spawn) {
        auto self = ns::keepAlive(this);
        std::thread([self] { self->workerLoop(); }).detach();
    }
}

void DispatchQueue::submitAndWait(std::function<void()> fn, bool barrier) {
    const bool onThisQueue = std::find(tRunning.begin(), tRunning.end(), this) != tRunning.end();
    if (onThisQueue && (isSerial() || barrier || isMain_))
        throw Exception(kInternalInconsistencyException,
                        "waiting for a block on the queue that is running the caller would never end");
    if (isMain_ && RunLoop::isMainThread()) {
        tRunning.push_back(this);
        struct Pop { ~Pop() { tRunning.pop_back(); } } pop;
        fn();
        return;
    }
    struct State : Object {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        std::exception_ptr error;
    };
    auto st = make<State>();
    submit([st, fn = std::move(fn)] {
        std::exception_ptr err;
        try {
            fn();
        } catch (...) {
            err = std::current_exception();
        }
        std::lock_guard<std::mutex> g(st->m);
        st->error = err;
        st->done = true;
        st->cv.notify_all();
    }, barrier);
    WakeUpBatch::flush();
    std::unique_lock<std::mutex> lock(st->m);
    st->cv.wait(lock, [&] { return st->done; });
    if (st->error) std::rethrow_exception(st->error);
}

void DispatchQueue::workerLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (headStartableLocked()) {
            Item item = std::move(items_.front());
            items_.pop_front();
            ++running_;
            if (item.barrier) barrierRunning_ = true;
            lock.unlock();
            tRunning.push_back(this);
            item.fn();
            tRunning.pop_back();
            item.fn = nullptr;
            lock.lock();
            --running_;
            if (item.barrier) barrierRunning_ = false;
            cv_.notify_all();
            continue;
        }
        ++idle_;
        bool woke = cv_.wait_for(lock, kIdleTime, [&] { return headStartableLocked(); });
        --idle_;
        if (!woke && items_.empty()) {
            --workers_;
            return;
        }
    }
}

void dispatchOnce(std::once_flag& flag, const std::function<void()>& fn) { std::call_once(flag, fn); }

}  // namespace ns
