// The fast decoder's own array: element references live in the same
// allocation as the array object until a change outgrows them. One flag
// (`mutations` 0 or not) decides whether changes are accepted, so the same
// class serves the immutable and the mutable parse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "platform/foundation/Array.h"
#include "platform/foundation/String.h"

namespace json {

class FJValuePool;

// State of a fast enumeration: `state` is the next index to hand out; the
// first call points `itemsPtr` at the caller's buffer and `mutationsPtr` at
// the collection's change counter, which an enumerator watches.
struct FJFastEnumerationState {
    unsigned long state = 0;
    ns::Object** itemsPtr = nullptr;
    const uint64_t* mutationsPtr = nullptr;
};

class FJArray final : public ns::MutableArray {
public:
    // Takes over `count` owned references (no extra retain). Returns nil when
    // memory cannot be had (the references are then released). With a pool,
    // the array is placed in it. An immutable empty array is one shared object.
    static ns::Ref<FJArray> makeWithObjects(ns::Object* const* objects, size_t count, bool mutableCollection,
                                            FJValuePool* pool = nullptr);
    // An immutable array of `count` numbers (each made by the decoder or
    // taken from its cache) when they are the last values `pool` placed, one
    // right after the other in its current block. The array is placed right
    // after them and finds them by position, so it keeps no element slots.
    // Takes over the references; nil, with the references left to the
    // caller, when the numbers are not placed so or the block has no room.
    static ns::Ref<FJArray> makeAfterPlacedNumbers(ns::Object* const* numbers, size_t count, FJValuePool& pool);
    // The class is private to the decoder: this always raises.
    [[noreturn]] static ns::Ref<FJArray> alloc();

    ~FJArray() override;
    const char* className() const override { return "FJArray"; }

    size_t count() const override { return count_; }
    // Raises RangeException "*** -[FJArray objectAtIndex]: index (i) beyond bounds (n)".
    ns::Object* objectAtIndex(size_t index) const override;
    // Copies the borrowed elements of `range` to `objects`.
    void getObjectsRange(ns::Object** objects, ns::Range range) const;
    // Hands out up to `len` borrowed elements from state->state on; 0 at the end.
    size_t countByEnumeratingWithStateObjectsCount(FJFastEnumerationState* state, ns::Object** buffer,
                                                   size_t len) const;

    // Changes raise InternalInconsistencyException on an immutable array.
    void addObject(ns::Ref<ns::Object> o) override { insertObjectAtIndex(std::move(o), count_); }
    void insertObjectAtIndex(ns::Ref<ns::Object> o, size_t index) override;
    void removeObjectAtIndex(size_t index) override;
    void replaceObjectAtIndex(size_t index, ns::Ref<ns::Object> o) override;
    void removeAllObjects() override;

    // Immutable: this array itself; mutable: a standard immutable array.
    ns::Ref<ns::Array> copy() const;

    size_t capacity() const { return capacity_; }
    uint64_t mutations() const { return mutable_ ? changes()->mutations : 0; }
    bool isMutable() const { return mutable_; }

    // Frees the combined object-and-elements block, from the heap or its pool.
    static void operator delete(FJArray* p, std::destroying_delete_t);

private:
    // What only a changeable array needs, kept right after its header.
    struct Changes {
        uint64_t mutations;       // from 1, never 0
        uint32_t inlineCapacity;  // slots made with the array
    };

    FJArray(size_t count, bool mutableCollection, bool pooled);
    void checkMutable(const char* operation) const;
    ns::Object* element(size_t index) const { return numbersBefore_ ? placedNumber(index) : objects()[index]; }
    ns::Object* placedNumber(size_t index) const;
    Changes* changes() const { return reinterpret_cast<Changes*>(const_cast<FJArray*>(this) + 1); }
    void advanceMutations() {
        uint64_t& m = changes()->mutations;
        m = m == UINT64_MAX ? 1 : m + 1;
    }
    size_t inlineCapacity() const { return mutable_ ? changes()->inlineCapacity : capacity_; }
    // The elements follow the array in its block (after its Changes). Once a
    // mutable array has outgrown them they live in a heap block, whose
    // address the first inline slot keeps (a mutable array is made with at
    // least one).
    ns::Object** inlineSlots() const {
        return reinterpret_cast<ns::Object**>(reinterpret_cast<char*>(const_cast<FJArray*>(this) + 1) +
                                              (mutable_ ? sizeof(Changes) : 0));
    }
    bool grown() const { return mutable_ && capacity_ != changes()->inlineCapacity; }
    ns::Object*** heapLink() const { return reinterpret_cast<ns::Object***>(inlineSlots()); }
    ns::Object** objects() const { return grown() ? *heapLink() : inlineSlots(); }
    static size_t blockSize(size_t inlineCapacity, bool mutableCollection);
    static constexpr size_t kMaxCount = INT32_MAX;

    // The count shares the header's spare word: the header is 24 bytes.
    uint32_t count_;
    uint32_t capacity_;
    uint32_t pooled_ : 1;         // placed in a decoder's value pool
    uint32_t mutable_ : 1;        // takes changes; its Changes follow the header
    uint32_t numbersBefore_ : 1;  // no slots: the elements are the numbers placed just before the array
};

}  // namespace json
