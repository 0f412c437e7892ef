#include "app/phone/RandomSource.h"

#include <mutex>

namespace app {

namespace {
std::mutex gMutex;
ns::Ref<RandomSource> gShared;

ns::Ref<RandomSource> entropySeeded() {
    std::random_device rd;
    return RandomSource::withSeed(rd());
}
}  // namespace

ns::Ref<RandomSource> RandomSource::shared() {
    std::lock_guard<std::mutex> lock(gMutex);
    if (!gShared) gShared = entropySeeded();
    return gShared;
}

void RandomSource::setShared(ns::Ref<RandomSource> source) {
    std::lock_guard<std::mutex> lock(gMutex);
    gShared = source ? std::move(source) : entropySeeded();
}

}  // namespace app
