// A growable run of bytes with a length and a capacity of its own.
//
// Room past the length can be asked for and written before it is counted
// (room(), then commit()), so bytes that are about to be received or
// inflated into it are not zero-filled first; resize() still zero-fills
// what it adds. The bytes live in one malloc'd block grown with realloc,
// which moves a large block by remapping its pages instead of copying them.
// In a large block, the room asked for is made resident ahead of the
// writes (a few MiB at a time), which is cheaper than faulting each page in.
//
// Impossible sizes (above kMaxSize, or a length that would overflow) throw
// std::length_error before anything is allocated; an allocation the system
// refuses throws std::bad_alloc; the buffer is unchanged after either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ns {

class ByteBuffer {
public:
    static constexpr size_t kMaxSize = PTRDIFF_MAX;

    ByteBuffer() noexcept = default;
    ByteBuffer(const void* p, size_t n);
    ByteBuffer(const ByteBuffer& other);
    ByteBuffer(ByteBuffer&& other) noexcept;
    ByteBuffer& operator=(ByteBuffer other) noexcept;
    ~ByteBuffer();
    void swap(ByteBuffer& other) noexcept;

    // Never null, also when empty.
    const uint8_t* data() const noexcept { return data_ ? data_ : emptyBytes(); }
    uint8_t* data() noexcept { return data_ ? data_ : emptyBytes(); }
    size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    size_t capacity() const noexcept { return capacity_; }
    std::string_view view() const noexcept { return {reinterpret_cast<const char*>(data()), size_}; }

    // Makes the capacity at least `capacity` bytes (exactly that when it grows).
    void reserve(size_t capacity);
    // At least `n` writable bytes past the end, not zero-filled; they count
    // once committed. Growing keeps the bytes counted so far (and moves
    // them: pointers into the buffer are stale after a call that grew it).
    uint8_t* room(size_t n);
    // Counts `n` bytes written into the room past the end. Committing more
    // than the room throws a range exception.
    void commit(size_t n);
    // Sets the length; bytes it adds are zero.
    void resize(size_t n);
    void clear() noexcept { size_ = 0; }
    // `p` may point into this buffer.
    void append(const void* p, size_t n);
    // Replaces [location, location + length) with n bytes from p (which may
    // point into this buffer); a range past the end throws a range exception.
    void replace(size_t location, size_t length, const void* p, size_t n);

    friend bool operator==(const ByteBuffer& a, const ByteBuffer& b) noexcept { return a.view() == b.view(); }

private:
    static uint8_t* emptyBytes() noexcept;
    // Grows the capacity to at least `needed`, at least doubling it.
    void grow(size_t needed);
    void reallocate(size_t capacity);

    uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    size_t resident_ = 0;  // of a large block, the bytes known to be in memory
};

}  // namespace ns
