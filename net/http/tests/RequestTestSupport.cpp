#include "net/http/tests/RequestTestSupport.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace httptest {

bool waitFor(const ns::Ref<http::HTTPRequest>& r, double seconds) {
    return waitUntil([&] { return r->isFinished(); }, seconds);
}

void startSynchronous(http::HTTPRequest* r, double seconds) {
    std::mutex m;
    std::condition_variable cv;
    bool ended = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(m);
        if (cv.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return ended; })) return;
        lock.unlock();
        ADD_FAILURE() << "the synchronous request for " << (r->url() ? r->url()->absoluteText() : std::string("no URL"))
                      << " had not ended after " << seconds << " s; cancelled";
        r->cancel();
    });
    r->startSynchronous();
    {
        std::lock_guard<std::mutex> g(m);
        ended = true;
    }
    cv.notify_all();
    watchdog.join();
}

bool waitForRelease(const std::atomic<bool>& flag, double seconds) {
    return waitForRelease([&] { return flag.load(); }, seconds);
}

bool waitForRelease(const std::function<bool()>& condition, double seconds) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= giveUp) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void drainMain() {
    for (int i = 0; i < 5; ++i) ns::RunLoop::main()->runMode(ns::RunLoop::kDefaultMode, 0.02);
}

std::string text(const ns::Ref<http::HTTPRequest>& r) {
    auto s = r->responseString();
    return s ? std::string(s->utf8()) : std::string();
}

ns::Ref<ns::URL> url(const std::string& s) { return ns::URL::URLWithString(s); }

}  // namespace httptest
