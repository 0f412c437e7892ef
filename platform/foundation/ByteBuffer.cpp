#include "platform/foundation/ByteBuffer.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/foundation/Exception.h"

namespace ns {

namespace {
// Whether p points into [begin, begin + n).
bool within(const void* p, const uint8_t* begin, size_t n) {
    auto* b = static_cast<const uint8_t*>(p);
    return begin && b >= begin && b < begin + n;
}
// Blocks this large are backed by 2 MiB pages where the system allows it:
// filling one then takes one page fault per 2 MiB instead of one per 4 KiB.
constexpr size_t kLargeBlock = size_t(8) << 20;
constexpr uintptr_t kLargePage = uintptr_t(2) << 20;

void adviseLargePages(uint8_t* p, size_t n) {
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + kLargePage - 1) & ~(kLargePage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + n) & ~(kLargePage - 1);
    // Only advice: a system without large pages keeps small ones.
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}
}  // namespace

ByteBuffer::ByteBuffer(const void* p, size_t n) { append(p, n); }

ByteBuffer::ByteBuffer(const ByteBuffer& other) { append(other.data(), other.size()); }

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer other) noexcept {
    swap(other);
    return *this;
}

ByteBuffer::~ByteBuffer() { std::free(data_); }

void ByteBuffer::swap(ByteBuffer& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
}

uint8_t* ByteBuffer::emptyBytes() noexcept {
    // Handed out for an empty buffer, never written (nothing fits in it).
    static uint8_t none[1];
    return none;
}

void ByteBuffer::reallocate(size_t capacity) {
    void* p = std::realloc(data_, capacity);
    if (!p) throw std::bad_alloc();
    data_ = static_cast<uint8_t*>(p);
    capacity_ = capacity;
    if (capacity >= kLargeBlock) adviseLargePages(data_, capacity);
}

void ByteBuffer::reserve(size_t capacity) {
    if (capacity > kMaxSize) throw std::length_error("ByteBuffer::reserve: more than the largest size");
    if (capacity > capacity_) reallocate(capacity);
}

void ByteBuffer::grow(size_t needed) {
    if (needed <= capacity_) return;
    if (needed > kMaxSize) throw std::length_error("ByteBuffer: more than the largest size");
    const size_t doubled = capacity_ > kMaxSize / 2 ? kMaxSize : capacity_ * 2;
    reallocate(needed > doubled ? needed : doubled);
}

uint8_t* ByteBuffer::room(size_t n) {
    if (n > kMaxSize - size_) throw std::length_error("ByteBuffer::room: more than the largest size");
    grow(size_ + n);
    return data() + size_;
}

void ByteBuffer::commit(size_t n) {
    if (n > capacity_ - size_) throw Exception(kRangeException, "ByteBuffer::commit: more than the room");
    size_ += n;
}

void ByteBuffer::resize(size_t n) {
    if (n > size_) std::memset(room(n - size_), 0, n - size_);
    size_ = n;
}

void ByteBuffer::append(const void* p, size_t n) {
    if (!n) return;
    if (n > capacity_ - size_ && within(p, data_, capacity_)) {
        // Appending (part of) itself: find the source again after growing.
        const size_t offset = static_cast<size_t>(static_cast<const uint8_t*>(p) - data_);
        room(n);
        p = data_ + offset;
    }
    std::memmove(room(n), p, n);
    size_ += n;
}

void ByteBuffer::replace(size_t location, size_t length, const void* p, size_t n) {
    if (location > size_ || length > size_ - location)
        throw Exception(kRangeException, "replaceBytes range beyond bounds");
    if (n && within(p, data_, capacity_)) {
        // The source is part of this buffer: replace from a copy of it.
        const auto* b = static_cast<const uint8_t*>(p);
        const std::vector<uint8_t> copy(b, b + n);
        return replace(location, length, copy.data(), n);
    }
    const size_t tail = size_ - location - length;
    if (n > length) room(n - length);
    std::memmove(data() + location + n, data() + location + length, tail);
    if (n) std::memcpy(data() + location, p, n);
    size_ = location + n + tail;
}

}  // namespace ns
