// The memory that decoding one input may take: a multiple of the input's
// size plus a fixed allowance. A wire reader charges an estimate of the heap
// each decoded object takes before making it, and checks a container's count
// against what its elements would take before making any, so a small reply
// can never claim a large part of the heap (a list header announcing millions
// of empty records fails at once, with nothing allocated for it).
#pragma once

#include <cstddef>

namespace evernote {

class AllocationBudget {
public:
    // Legitimate replies take 2 to 5 times their size; lists of one-letter
    // strings up to 15 times (each string is an object of its own).
    static constexpr size_t kFactor = 16;
    static constexpr size_t kAllowance = 1024 * 1024;

    explicit AllocationBudget(size_t inputBytes) : limit_(kAllowance + kFactor * inputBytes) {}

    // Input that arrives after the start (a stream) raises the limit.
    void addInput(size_t bytes) { limit_ += kFactor * bytes; }
    // Fails with TProtocolException SIZE_LIMIT unless `bytes` more fit.
    void require(size_t bytes) const {
        if (bytes > limit_ - spent_) fail(bytes);
    }
    void charge(size_t bytes) {
        require(bytes);
        spent_ += bytes;
    }
    size_t spent() const { return spent_; }
    size_t limit() const { return limit_; }

private:
    [[noreturn]] void fail(size_t bytes) const;

    size_t limit_;
    size_t spent_ = 0;
};

}  // namespace evernote
