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

    FJValuePool() = default;
    FJValuePool(const FJValuePool&) = delete;
    FJValuePool& operator=(const FJValuePool&) = delete;
    ~FJValuePool() { close(); }

    // New values at count 0, or nullptr when no memory can be had.
    ns::Number* makeSigned(int64_t v);
    ns::Number* makeUnsigned(uint64_t v);
    ns::Number* makeDouble(double v);
    ns::String* makeString(const char* bytes, size_t length);

    // Whether a value of `size` bytes is placed in a block; larger ones
    // belong on the heap.
    static constexpr bool holds(size_t size) { return size <= kLargestValue; }
    // Room for one value of `size` bytes (8-byte aligned, holds(size)), or
    // nullptr when no memory can be had.
    void* allocate(size_t size);
    // Gives up the current block: it is freed with its last value.
    void close();
    // The memory of a destroyed pooled value goes back to its block.
    static void release(void* p, size_t size);

    // While one lives on a thread, the releases of that thread are counted
    // per block and handed to the block at once (one atomic operation for a
    // run of values of one block, as when a collection lets its elements go).
    class ReleaseBatch {
    public:
        ReleaseBatch();
        ~ReleaseBatch();
        ReleaseBatch(const ReleaseBatch&) = delete;
        ReleaseBatch& operator=(const ReleaseBatch&) = delete;
    };

    struct Block;

private:
    static void handOver();
    Block* block_ = nullptr;
    char* next_ = nullptr;
    char* end_ = nullptr;
    int64_t made_ = 0;  // values placed in the current block
};

}  // namespace json
