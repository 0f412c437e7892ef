// Where random practice draws its cards from: uniform 32-bit numbers.
//
// One source is shared by the practice screens; tests and the simulator
// replace it with a seeded one so that a practice session can be replayed.
// The default source is seeded from the system's entropy once per process.
#pragma once

#include <cstdint>
#include <random>

#include "platform/foundation/Object.h"

namespace app {

class RandomSource : public ns::Object {
public:
    explicit RandomSource(uint32_t seed) : engine_(seed) {}
    const char* className() const override { return "RandomSource"; }

    // A source that gives the same sequence for the same seed.
    static ns::Ref<RandomSource> withSeed(uint32_t seed) { return ns::make<RandomSource>(seed); }
    // The source new practice screens use. Never nil.
    static ns::Ref<RandomSource> shared();
    // Replaces the shared source (nil restores an entropy-seeded one).
    static void setShared(ns::Ref<RandomSource> source);

    // The next uniform 32-bit number.
    virtual uint32_t next32() { return static_cast<uint32_t>(engine_()); }

private:
    std::mt19937 engine_;
};

}  // namespace app
