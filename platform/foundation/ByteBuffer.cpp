#include "platform/foundation/ByteBuffer.h"

#include <sys/mman.h>

#include <algorithm>
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
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

// In blocks this large, the pages of room about to be written are made
// resident ahead of the writes, at least kResidentStep at a time, in one
// call each, instead of one page fault per page as each is first written
// (about a quarter of the time it takes to fill fresh memory here).
constexpr size_t kLargeBlock = size_t(8) << 20;
constexpr size_t kResidentStep = size_t(2) << 20;
constexpr uintptr_t kPage = 4096;

void makeResident(uint8_t* from, uint8_t* to) {
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(from) + kPage - 1) & ~(kPage - 1);
    const uintptr_t end = reinterpret_cast<uintptr_t>(to) & ~(kPage - 1);
    // Only advice: where the system cannot, the pages fault in as written.
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
}
}  // namespace

ByteBuffer::ByteBuffer(const void* p, size_t n) { append(p, n); }

ByteBuffer::ByteBuffer(const ByteBuffer& other) { append(other.data(), other.size()); }

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      resident_(std::exchange(other.resident_, 0)) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer other) noexcept {
    swap(other);
    return *this;
}

ByteBuffer::~ByteBuffer() { std::free(data_); }

void ByteBuffer::swap(ByteBuffer& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    std::swap(resident_, other.resident_);
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
    if (capacity_ >= kLargeBlock && size_ + n > resident_) {
        // Pages stay resident when realloc moves or copies them.
        const size_t from = resident_ > size_ ? resident_ : size_;
        resident_ = std::min(capacity_, std::max(size_ + n, from + kResidentStep));
        makeResident(data_ + from, data_ + resident_);
    }
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
