// The values of one large decode (strings, numbers, arrays, dictionaries)
// come from 64 KiB blocks instead of one heap allocation each. A block counts the values still alive in it;
// whichever thread releases its last value frees it, once the decoder has
// moved on to another block (until then the block stays open for more).
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>

#include "platform/foundation/Number.h"
#include "platform/foundation/String.h"

namespace json {

// A number that lives in a pool block. It reads as any ns::Number; only its
// memory is different.
class FJPooledNumber final : public ns::Number {
public:
    using ns::Number::Number;
    static void operator delete(void* p);
};

// A decimal number (keeping its text) that lives in a pool block, its text
// in the same place. It reads as any ns::DecimalNumber.
class FJPooledDecimalNumber final : public ns::DecimalNumber {
public:
    FJPooledDecimalNumber(std::string_view text, double nearest) : ns::DecimalNumber(text, nearest) {}
    // Gives the object and its text back to the block.
    static void operator delete(FJPooledDecimalNumber* p, std::destroying_delete_t);
};

// A string that lives in a pool block, its text right after it.
class FJPooledString final : public ns::String {
public:
    FJPooledString(const char* chars, size_t length) : ns::String(chars, length) {}
    // Gives the object and its text back to the block.
    static void operator delete(FJPooledString* p, std::destroying_delete_t);
};

class FJValuePool {
public:
    static constexpr size_t kLargestValue = 4096;
    // Documents from this size on are worth placing in blocks; a value kept
    // from a smaller one would hold a block mostly empty.
    static constexpr size_t kPooledDocumentsFrom = 128 * 1024;

    FJValuePool() = default;
    FJValuePool(const FJValuePool&) = delete;
    FJValuePool& operator=(const FJValuePool&) = delete;
    ~FJValuePool() { close(); }

    // New values at count 0, or nullptr when no memory can be had.
    ns::Number* makeSigned(int64_t v) { return makeNumber(ns::NumberType::LongLong, v); }
    ns::Number* makeUnsigned(uint64_t v) {
        void* p = allocate(sizeof(FJPooledNumber));
        return p ? ::new (p) FJPooledNumber(ns::NumberType::UnsignedLongLong, v, 0) : nullptr;
    }
    ns::Number* makeDouble(double v) { return makeNumber(ns::NumberType::Double, v); }
    ns::String* makeString(const char* bytes, size_t length);
    // `nearest` is the nearest double of `text`.
    ns::DecimalNumber* makeDecimal(std::string_view text, double nearest);

    // Whether a value of `size` bytes is placed in a block; larger ones
    // belong on the heap.
    static constexpr bool holds(size_t size) { return size <= kLargestValue; }
    // The room a value of `size` bytes takes in a block.
    static constexpr size_t placedSize(size_t size) { return (size + 7) / 8 * 8; }
    // Room for one value of `size` bytes (8-byte aligned, holds(size)), or
    // nullptr when no memory can be had.
    void* allocate(size_t size) {
        size = placedSize(size);
        if (static_cast<size_t>(end_ - next_) < size) return allocateInNewBlock(size);
        void* p = next_;
        next_ += size;
        ++made_;
        unpoison(p, size);
        return p;
    }
    // Room for one value of `size` bytes right after the values placed at
    // [first, end), when they are the last ones placed in the current block
    // and it has room left; nullptr otherwise.
    void* allocateAfterRun(const void* first, const void* end, size_t size);
    // Gives up the current block: it is freed with its last value.
    void close();
    // The memory of a destroyed pooled value goes back to its block.
    static void release(void* p, size_t size) {
        poison(p, size);
        releaseCount(p, 1);
    }
    // The memory of `count` destroyed values of the block that holds
    // `inBlock` goes back at once (each already given to poison()).
    static void releaseCount(const void* inBlock, int64_t count);
#if defined(__SANITIZE_ADDRESS__)
    static void poison(void* p, size_t size);  // a use after release is then reported
#else
    static void poison(void*, size_t) {}
#endif

    // Lets a collection's element go. While a ReleaseBatch lives on the
    // thread, a release that would take an atomic operation (a value shared
    // through the decoder's cache, such as a key used by many dictionaries)
    // is gathered instead, and each object's gathered references go in one
    // step when the outermost batch ends: one atomic operation per object
    // and tree instead of one per use.
    static void releaseElement(const ns::Object* o) {
        if (o->releaseIsAtomic()) deferRelease(o);
        else o->release();
    }
    // releaseElement() for `count` elements in a row (a collection's slots,
    // or its keys and objects as they lie), with one call.
    static void releaseElements(ns::Object* const* elements, size_t count);

    // While one lives on a thread, the releases of that thread are counted
    // per block and handed to the block at once (one atomic operation for a
    // run of values of one block, as when a collection lets its elements go),
    // and releaseElement() gathers the shared ones.
    class ReleaseBatch {
    public:
        ReleaseBatch();
        ~ReleaseBatch();
        ReleaseBatch(const ReleaseBatch&) = delete;
        ReleaseBatch& operator=(const ReleaseBatch&) = delete;
    };

    struct Block;

private:
    template <class T> ns::Number* makeNumber(ns::NumberType type, T v) {
        void* p = allocate(sizeof(FJPooledNumber));
        return p ? ::new (p) FJPooledNumber(type, v) : nullptr;
    }
    void* allocateInNewBlock(size_t size);
#if defined(__SANITIZE_ADDRESS__)
    static void unpoison(void* p, size_t size);  // a released value's memory is poisoned
#else
    static void unpoison(void*, size_t) {}
#endif
    static void handOver();
    static void deferRelease(const ns::Object* o);
    Block* block_ = nullptr;
    char* next_ = nullptr;
    char* end_ = nullptr;
    int64_t made_ = 0;  // values placed in the current block
};

}  // namespace json
