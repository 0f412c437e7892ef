#include "evernote/tests/AllocationMeter.h"

#include <malloc.h>

#include <cstdlib>
#include <new>

namespace evernote::test {

namespace {
thread_local int openMeters = 0;
thread_local long long liveBytes = 0;
thread_local long long peakBytes = 0;

void* take(size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    if (openMeters) {
        liveBytes += static_cast<long long>(malloc_usable_size(p));
        if (liveBytes > peakBytes) peakBytes = liveBytes;
    }
    return p;
}

void giveBack(void* p) {
    if (!p) return;
    if (openMeters) liveBytes -= static_cast<long long>(malloc_usable_size(p));
    std::free(p);
}
}  // namespace

AllocationMeter::AllocationMeter() {
    if (openMeters++ == 0) liveBytes = peakBytes = 0;
}
AllocationMeter::~AllocationMeter() { --openMeters; }
long long AllocationMeter::live() const { return liveBytes; }
long long AllocationMeter::peak() const { return peakBytes; }

}  // namespace evernote::test

void* operator new(size_t size) { return evernote::test::take(size); }
void* operator new[](size_t size) { return evernote::test::take(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return evernote::test::take(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { evernote::test::giveBack(p); }
void operator delete[](void* p) noexcept { evernote::test::giveBack(p); }
void operator delete(void* p, size_t) noexcept { evernote::test::giveBack(p); }
void operator delete[](void* p, size_t) noexcept { evernote::test::giveBack(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { evernote::test::giveBack(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { evernote::test::giveBack(p); }
