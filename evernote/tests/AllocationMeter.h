// Counts the heap that the current thread takes through operator new while
// a meter is open, and its high-water mark. Linked into a test program, it
// replaces the global operator new and delete of that program.
#pragma once

#include <cstddef>

namespace evernote::test {

class AllocationMeter {
public:
    AllocationMeter();
    ~AllocationMeter();
    AllocationMeter(const AllocationMeter&) = delete;
    AllocationMeter& operator=(const AllocationMeter&) = delete;

    // Bytes taken and not yet given back since the meter opened, and the
    // most that was ever taken at once.
    long long live() const;
    long long peak() const;
};

}  // namespace evernote::test
