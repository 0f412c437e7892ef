#include "net/json/FJValuePool.h"

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace json {

namespace {
constexpr size_t kBlockSize = 64 * 1024;  // blocks are aligned to their size
// While a block is open its count starts this high, so releases seen before
// the decoder closes it can never bring it to zero.
constexpr int64_t kOpen = int64_t(1) << 40;
}  // namespace

struct alignas(64) FJValuePool::Block {
    std::atomic<int64_t> live{kOpen};
};

void FJPooledNumber::operator delete(void* p) { FJValuePool::release(p, sizeof(FJPooledNumber)); }
void FJPooledString::operator delete(FJPooledString* p, std::destroying_delete_t) {
    const size_t size = sizeof(FJPooledString) + p->view().size() + 1;
    p->~FJPooledString();
    FJValuePool::release(p, size);
}

void FJPooledDecimalNumber::operator delete(FJPooledDecimalNumber* p, std::destroying_delete_t) {
    const size_t size = sizeWithText(p->text().size());
    p->~FJPooledDecimalNumber();
    FJValuePool::release(p, size);
}

namespace {
// Releases of this thread not yet handed to their block, and the gathered
// references of shared objects (a direct-mapped table by address).
struct PendingReleases {
    FJValuePool::Block* block = nullptr;
    int64_t count = 0;
    int batches = 0;  // ReleaseBatch objects alive on this thread
    static constexpr size_t kDeferredSlots = 512;
    static constexpr size_t kProbes = 4;  // slots looked at from an object's first one
    static size_t slotOf(const ns::Object* o) {
        return static_cast<size_t>((reinterpret_cast<uintptr_t>(o) * 0x9E3779B97F4A7C15ull) >> 55);
    }
    struct Deferred {
        const ns::Object* object;
        uint32_t references;
    };
    Deferred deferred[kDeferredSlots] = {};
    size_t deferredCount = 0;
};
thread_local PendingReleases pending;

// Lets every gathered reference go (inside a batch). Letting an object go
// may destroy it, and a collection destroyed so gathers again: each slot is
// emptied before its object is let go, and the table is swept until empty.
void releaseDeferred() {
    while (pending.deferredCount != 0) {
        for (size_t i = 0; i < PendingReleases::kDeferredSlots; ++i) {
            PendingReleases::Deferred d = pending.deferred[i];
            if (!d.object) continue;
            pending.deferred[i] = {};
            --pending.deferredCount;
            d.object->releaseReferences(d.references);
        }
    }
}
}  // namespace

void FJValuePool::handOver() {
    if (pending.count && pending.block->live.fetch_sub(pending.count, std::memory_order_acq_rel) == pending.count)
        std::free(pending.block);
    pending.block = nullptr;
    pending.count = 0;
}

void FJValuePool::deferRelease(const ns::Object* o) {
    if (pending.batches == 0) {
        o->release();
        return;
    }
    const size_t first = PendingReleases::slotOf(o);
    for (size_t i = 0; i < PendingReleases::kProbes; ++i) {
        PendingReleases::Deferred& d = pending.deferred[(first + i) % PendingReleases::kDeferredSlots];
        if (d.object == o && d.references < UINT32_MAX) {
            ++d.references;
            return;
        }
        if (!d.object) {
            d = {o, 1};
            ++pending.deferredCount;
            return;
        }
    }
    // All taken by others: the first one's references go now.
    PendingReleases::Deferred& d = pending.deferred[first];
    const PendingReleases::Deferred before = d;
    d = {o, 1};
    before.object->releaseReferences(before.references);
}

void FJValuePool::releaseCount(const void* inBlock, int64_t count) {
    auto* block = reinterpret_cast<Block*>(reinterpret_cast<uintptr_t>(inBlock) & ~(kBlockSize - 1));
    if (block != pending.block) {
        handOver();
        pending.block = block;
    }
    pending.count += count;
    if (pending.batches == 0) handOver();
}

void FJValuePool::releaseElements(ns::Object* const* elements, size_t count) {
    if (pending.batches == 0) {
        for (size_t i = 0; i < count; ++i) elements[i]->release();
        return;
    }
    PendingReleases& p = pending;  // the thread's table, found once
    for (size_t i = 0; i < count; ++i) {
        const ns::Object* o = elements[i];
        if (!o->releaseIsAtomic()) {
            o->release();
            continue;
        }
        PendingReleases::Deferred& d = p.deferred[PendingReleases::slotOf(o)];
        if (d.object == o && d.references < UINT32_MAX) ++d.references;  // the usual case: met before
        else deferRelease(o);
    }
}

FJValuePool::ReleaseBatch::ReleaseBatch() { ++pending.batches; }

FJValuePool::ReleaseBatch::~ReleaseBatch() {
    if (--pending.batches != 0) return;
    // Gathered references first: objects they destroy hand their block
    // counts over as they go.
    if (pending.deferredCount) {
        ++pending.batches;
        releaseDeferred();
        --pending.batches;
    }
    handOver();
}

void FJValuePool::close() {
    if (!block_) return;
    const int64_t open = kOpen - made_;
    if (block_->live.fetch_sub(open, std::memory_order_acq_rel) == open) std::free(block_);
    block_ = nullptr;
    next_ = end_ = nullptr;
    made_ = 0;
}

void* FJValuePool::allocateInNewBlock(size_t size) {
    close();
    void* memory = std::aligned_alloc(kBlockSize, kBlockSize);
    if (!memory) return nullptr;
    block_ = new (memory) Block;
    next_ = static_cast<char*>(memory) + sizeof(Block);
    end_ = static_cast<char*>(memory) + kBlockSize;
    return allocate(size);
}

#if defined(__SANITIZE_ADDRESS__)
void FJValuePool::unpoison(void* p, size_t size) { ASAN_UNPOISON_MEMORY_REGION(p, size); }
void FJValuePool::poison(void* p, size_t size) { ASAN_POISON_MEMORY_REGION(p, size); }
#endif

void* FJValuePool::allocateAfterRun(const void* first, const void* end, size_t size) {
    const uintptr_t placedFrom = reinterpret_cast<uintptr_t>(block_) + sizeof(Block);
    if (!block_ || reinterpret_cast<uintptr_t>(first) < placedFrom || end != next_ ||
        static_cast<size_t>(end_ - next_) < placedSize(size))
        return nullptr;
    return allocate(size);
}

ns::String* FJValuePool::makeString(const char* bytes, size_t length) {
    void* p = allocate(sizeof(FJPooledString) + length + 1);
    return p ? ns::String::placeWithText<FJPooledString>(p, std::string_view(bytes, length)) : nullptr;
}

ns::DecimalNumber* FJValuePool::makeDecimal(std::string_view text, double nearest) {
    const size_t size = ns::DecimalNumber::sizeWithText(text.size());
    if (!holds(size)) return nullptr;
    void* p = allocate(size);
    return p ? ::new (p) FJPooledDecimalNumber(text, nearest) : nullptr;
}

}  // namespace json
