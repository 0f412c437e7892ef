#include "net/json/FJArray.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "net/json/FJTokenScanner.h"
#include "net/json/FJValuePool.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/ReleaseScope.h"

namespace json {

namespace {

std::string format(const char* fmt, const char* a, const char* b, unsigned long x = 0, unsigned long y = 0) {
    char buf[256];
    std::snprintf(buf, sizeof buf, fmt, a, b, x, y);
    return buf;
}

[[noreturn]] void beyondBounds(const char* operation, size_t index, size_t count) {
    throw ns::Exception(ns::kRangeException,
                        format("*** -[%s %s]: index (%lu) beyond bounds (%lu)", "FJArray", operation, index, count));
}

}  // namespace

FJArray::FJArray(size_t count, bool mutableCollection, bool pooled)
    : count_(static_cast<uint32_t>(count)), capacity_(static_cast<uint32_t>(count)), pooled_(pooled),
      mutable_(mutableCollection), numbersBefore_(0) {
    if (mutableCollection) ::new (changes()) Changes{1, static_cast<uint32_t>(count)};
}

namespace {
constexpr size_t kPlacedNumberSize = FJValuePool::placedSize(sizeof(FJPooledNumber));
}  // namespace

static_assert(sizeof(FJArray) == 24, "the count and the flags share the header with the object's count");

size_t FJArray::blockSize(size_t inlineCapacity, bool mutableCollection) {
    if (!mutableCollection) return sizeof(FJArray) + inlineCapacity * sizeof(ns::Object*);
    return sizeof(FJArray) + sizeof(Changes) + (inlineCapacity == 0 ? 1 : inlineCapacity) * sizeof(ns::Object*);
}

ns::Ref<FJArray> FJArray::makeWithObjects(ns::Object* const* objects, size_t count, bool mutableCollection,
                                          FJValuePool* pool) {
    if (count == 0 && !mutableCollection) {
        static FJArray* const empty = [] {
            auto* a = ::new (::operator new(sizeof(FJArray))) FJArray(0, false, false);
            a->makeImmortal();
            return a;
        }();
        return ns::Ref<FJArray>(empty);
    }
    void* mem = nullptr;
    if (count <= kMaxCount) {
        size_t size = blockSize(count, mutableCollection);
        if (!FJValuePool::holds(size)) pool = nullptr;
        mem = pool ? pool->allocate(size) : ::operator new(size, std::nothrow);
    }
    if (!mem) {
        for (size_t i = 0; i < count; ++i) objects[i]->release();
        return nullptr;
    }
    auto* a = ::new (mem) FJArray(count, mutableCollection, pool != nullptr);
    ns::Object** slots = a->inlineSlots();
    if (count <= 4) {
        for (size_t i = 0; i < count; ++i) slots[i] = objects[i];  // the usual short rows, without a call
    } else {
        std::memcpy(slots, objects, count * sizeof(ns::Object*));
    }
    a->setInitialReferences(1);
    return ns::Ref<FJArray>::adopt(a);
}

ns::Ref<FJArray> FJArray::makeAfterPlacedNumbers(ns::Object* const* numbers, size_t count, FJValuePool& pool) {
    if (count == 0 || count > kMaxCount) return nullptr;
    // Numbers one right after the other, the last placed in the pool's
    // current block: all of them were placed there by this pool (no other
    // object lies in a block), so each is an FJPooledNumber of its own.
    const char* first = reinterpret_cast<const char*>(numbers[0]);
    for (size_t i = 1; i < count; ++i)
        if (reinterpret_cast<const char*>(numbers[i]) != first + i * kPlacedNumberSize) return nullptr;
    void* mem = pool.allocateAfterRun(first, first + count * kPlacedNumberSize, sizeof(FJArray));
    if (!mem) return nullptr;
    auto* a = ::new (mem) FJArray(count, false, true);
    a->numbersBefore_ = 1;
    a->setInitialReferences(1);
    return ns::Ref<FJArray>::adopt(a);
}

ns::Object* FJArray::placedNumber(size_t index) const {
    const char* self = reinterpret_cast<const char*>(this);
    return reinterpret_cast<FJPooledNumber*>(const_cast<char*>(self - (count_ - index) * kPlacedNumberSize));
}

ns::Ref<FJArray> FJArray::alloc() {
    throw ns::Exception(ns::kInvalidArgumentException,
                        "*** - [FJArray alloc]: The FJArray class is private to FastJSON and should not be used "
                        "in this fashion.");
}

FJArray::~FJArray() {
    if (numbersBefore_) {
        // A number's destruction has nothing to undo: the memory of those
        // held by this array alone goes back to the block (the array's own)
        // at once, without a virtual delete each.
        int64_t gone = 0;
        for (size_t i = 0; i < count_; ++i) {
            ns::Object* number = placedNumber(i);
            if (number->isSoleReference()) {
                FJValuePool::poison(number, kPlacedNumberSize);
                ++gone;
            } else {
                FJValuePool::releaseElement(number);
            }
        }
        FJValuePool::releaseCount(this, gone);
        return;
    }
    ns::Object** slots = objects();
    // Deep in a tree, the elements are put off rather than let go here
    // (ReleaseScope), so that a deep tree is let go without recursing once
    // per level.
    ns::ReleaseScope scope;
    if (scope.deep()) ns::ReleaseScope::putOffAll(slots, count_);
    else FJValuePool::releaseElements(slots, count_);
    if (grown()) std::free(slots);
}

void FJArray::operator delete(FJArray* p, std::destroying_delete_t) {
    const bool pooled = p->pooled_;
    const size_t size = p->numbersBefore_ ? sizeof(FJArray) : blockSize(p->inlineCapacity(), p->mutable_);
    FJValuePool::ReleaseBatch batch;  // the elements and the collection, handed over at once
    p->~FJArray();
    if (pooled) FJValuePool::release(p, size);
    else ::operator delete(p);
}

ns::Object* FJArray::objectAtIndex(size_t index) const {
    if (index >= count_) beyondBounds("objectAtIndex", index, count_);
    return element(index);
}

void FJArray::getObjectsRange(ns::Object** objects, ns::Range range) const {
    size_t end = range.location + range.length;
    if (!objects && end > 0)
        throw ns::Exception(ns::kRangeException,
                            format("*** -[%s %s]: pointer to objects array is NULL but range length is %lu",
                                   "FJArray", "getObjectsRange", end));
    if (range.location > count_ || end > count_ || end < range.location) beyondBounds("getObjectsRange", end, count_);
    for (size_t i = 0; i < range.length; ++i) objects[i] = element(range.location + i);
}

size_t FJArray::countByEnumeratingWithStateObjectsCount(FJFastEnumerationState* state, ns::Object** buffer,
                                                        size_t len) const {
    static constexpr uint64_t kNoMutations = 0;
    if (state->state == 0) {
        state->mutationsPtr = mutable_ ? &changes()->mutations : &kNoMutations;
        state->itemsPtr = buffer;
    }
    if (len == 0 || !buffer) return 0;
    size_t n = 0;
    while (n < len && state->state < count_) buffer[n++] = element(state->state++);
    return n;
}

void FJArray::checkMutable(const char* operation) const {
    if (!mutable_)
        throw ns::Exception(ns::kInternalInconsistencyException,
                            format("*** -[%s %s]: mutating method sent to immutable object", "FJArray", operation));
}

void FJArray::insertObjectAtIndex(ns::Ref<ns::Object> o, size_t index) {
    checkMutable("insertObjectAtIndex");
    if (!o)
        throw ns::Exception(ns::kInvalidArgumentException,
                            format("*** -[%s %s]: attempt to insert nil", "FJArray", "insertObjectAtIndex"));
    if (index > count_) beyondBounds("insertObjectAtIndex", index, count_ + 1);
    if (count_ + 1 >= capacity_) {
        size_t newCapacity = size_t(capacity_) + 16;
        if (newCapacity > kMaxCount) throw ns::Exception(kMallocException, "Unable to resize objects array.");
        ns::Object** block;
        if (!grown()) {
            block = static_cast<ns::Object**>(std::malloc(newCapacity * sizeof(ns::Object*)));
            if (block && count_) std::memcpy(block, inlineSlots(), count_ * sizeof(ns::Object*));
        } else {
            block = static_cast<ns::Object**>(std::realloc(objects(), newCapacity * sizeof(ns::Object*)));
        }
        if (!block) throw ns::Exception(kMallocException, "Unable to resize objects array.");
        for (size_t i = count_; i < newCapacity; ++i) block[i] = nullptr;
        *heapLink() = block;
        capacity_ = static_cast<uint32_t>(newCapacity);
    }
    ns::Object** slots = objects();
    std::memmove(slots + index + 1, slots + index, (count_ - index) * sizeof(ns::Object*));
    slots[index] = o.leak();
    ++count_;
    advanceMutations();
}

void FJArray::removeObjectAtIndex(size_t index) {
    checkMutable("removeObjectAtIndex");
    if (index >= count_) beyondBounds("removeObjectAtIndex", index, count_);
    ns::Object** slots = objects();
    ns::Object* gone = slots[index];
    std::memmove(slots + index, slots + index + 1, (count_ - index - 1) * sizeof(ns::Object*));
    slots[--count_] = nullptr;
    advanceMutations();
    gone->release();
}

void FJArray::replaceObjectAtIndex(size_t index, ns::Ref<ns::Object> o) {
    checkMutable("replaceObjectAtIndex");
    if (!o)
        throw ns::Exception(ns::kInvalidArgumentException,
                            format("*** -[%s %s]: attempt to insert nil", "FJArray", "replaceObjectAtIndex"));
    if (index >= count_) beyondBounds("replaceObjectAtIndex", index, count_);
    ns::Object* old = objects()[index];
    objects()[index] = o.leak();
    advanceMutations();
    old->release();
}

void FJArray::removeAllObjects() {
    checkMutable("removeAllObjects");
    size_t n = count_;
    count_ = 0;
    advanceMutations();
    ns::Object** slots = objects();
    for (size_t i = 0; i < n; ++i) {
        slots[i]->release();
        slots[i] = nullptr;
    }
}

ns::Ref<ns::Array> FJArray::copy() const {
    if (!mutable_) return ns::keepAlive(const_cast<FJArray*>(this));
    return ns::Array::copy();
}

}  // namespace json
