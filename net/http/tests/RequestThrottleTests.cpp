// The bandwidth budget: its windows, wake-up time and allowances on given
// times, the WWAN-only limit, and what the throttled upload stream applies
// to each body read.
#include <gtest/gtest.h>

#include "net/http/BandwidthThrottle.h"
#include "net/http/HTTPRequest.h"
#include "net/http/InputStream.h"
#include "platform/foundation/Clock.h"

using http::HTTPRequest;
using http::InputStream;

TEST(RequestThrottle, UploadReadsFollowTheAllowance) {
    HTTPRequest::setMaxBandwidthPerSecond(0);
    EXPECT_FALSE(HTTPRequest::isBandwidthThrottled());
    EXPECT_EQ(InputStream::allowedReadLength(16384), 16384u);

    HTTPRequest::setMaxBandwidthPerSecond(2000);  // a quarter is 500
    EXPECT_TRUE(HTTPRequest::isBandwidthThrottled());
    EXPECT_EQ(InputStream::allowedReadLength(16384), 500u);

    HTTPRequest::setMaxBandwidthPerSecond(80000);  // a quarter is 20000
    EXPECT_EQ(InputStream::allowedReadLength(16384), 16384u);

    HTTPRequest::setMaxBandwidthPerSecond(2000);
    HTTPRequest::incrementBandwidthUsedInLastSecond(5000);  // this second is spent
    EXPECT_EQ(HTTPRequest::maxUploadReadLength(), 0u);
    EXPECT_EQ(InputStream::allowedReadLength(16384), 0u);
    // A body stream with nothing allowed gives nothing, and says it has more.
    auto s = InputStream::inputStreamWithData(ns::Data::make("hello body"), nullptr);
    ASSERT_TRUE(s->open());
    uint8_t buf[16];
    EXPECT_EQ(s->read(buf, sizeof buf), 0);
    EXPECT_TRUE(s->hasBytesAvailable());
    HTTPRequest::setMaxBandwidthPerSecond(0);
    EXPECT_EQ(s->read(buf, sizeof buf), 10);
}

TEST(RequestThrottle, ReadsThroughTheWrapperPassEveryByte) {
    HTTPRequest::setMaxBandwidthPerSecond(0);
    auto s = InputStream::inputStreamWithData(ns::Data::make("hello body"), nullptr);
    ASSERT_TRUE(s->open());
    EXPECT_EQ(s->length(), 10u);
    uint8_t buf[64];
    long n = s->read(buf, sizeof buf);
    EXPECT_EQ(n, 10);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 10), "hello body");
    EXPECT_EQ(s->read(buf, sizeof buf), 0);
}

TEST(RequestThrottle, WWANLimitAppliesOnlyOnWWAN) {
    HTTPRequest::throttleBandwidthForWWANUsingLimit(14800);
    EXPECT_EQ(HTTPRequest::maxBandwidthPerSecond(), 14800u);
    EXPECT_EQ(HTTPRequest::isBandwidthThrottled(), HTTPRequest::isNetworkReachableViaWWAN());
    HTTPRequest::setShouldThrottleBandwidthForWWAN(false);
    EXPECT_EQ(HTTPRequest::maxBandwidthPerSecond(), 0u);
    EXPECT_FALSE(HTTPRequest::isBandwidthThrottled());
}

TEST(RequestThrottle, WindowsSetTheWakeUpTimeTheAllowanceAndTheAverage) {
    http::BandwidthThrottle throttle;
    // A new budget limits nothing, with nothing measured.
    EXPECT_EQ(throttle.maxPerSecond(), 0u);
    EXPECT_FALSE(throttle.isThrottled());
    EXPECT_EQ(throttle.readAllowance(16384), 16384u);
    EXPECT_EQ(throttle.wakeUp(), 0.0);
    EXPECT_FALSE(throttle.isPausedAt(0.0));
    EXPECT_EQ(throttle.averagePerSecond(), 0u);
    throttle.setMaxPerSecond(1000);
    throttle.measure(100.0);  // opens the first window, until 101
    throttle.addUsed(1500);
    EXPECT_EQ(throttle.readAllowance(16384), 1u);  // this window is spent
    throttle.measure(100.5);
    // 500 bytes over the limit: paused half a second past the window's end.
    EXPECT_DOUBLE_EQ(throttle.wakeUp(), 101.5);
    EXPECT_TRUE(throttle.isPausedAt(101.4));
    EXPECT_FALSE(throttle.isPausedAt(101.5));

    // Exactly the limit used pauses nothing; one byte past it pauses for that
    // byte's share of a second after the window.
    http::BandwidthThrottle edge;
    edge.setMaxPerSecond(1000);
    edge.measure(200.0);
    edge.addUsed(1000);
    edge.measure(200.5);
    EXPECT_EQ(edge.wakeUp(), 0.0);
    edge.addUsed(1);
    edge.measure(200.6);
    EXPECT_DOUBLE_EQ(edge.wakeUp(), 201.001);

    throttle.measure(101.0);  // the next window: a quarter of the budget per read
    EXPECT_EQ(throttle.readAllowance(16384), 250u);
    EXPECT_EQ(throttle.readAllowance(100), 100u);
    throttle.addUsed(900);
    EXPECT_EQ(throttle.readAllowance(16384), 25u);
    throttle.measure(102.0);
    EXPECT_EQ(throttle.averagePerSecond(), 800u);  // windows of 0, 1500 and 900 bytes
    throttle.addUsed(300);
    throttle.measure(103.0);
    EXPECT_EQ(throttle.averagePerSecond(), 675u);
    throttle.measure(104.0);  // a silent window forgets the samples
    EXPECT_EQ(throttle.averagePerSecond(), 0u);

    // Uploads: a quarter of the budget opens at the window's start and one
    // more each quarter second, at most a quarter per read, nothing while
    // what is open is spent (no pause: the body stream is asked again).
    throttle.setMaxPerSecond(2000);
    EXPECT_EQ(throttle.uploadAllowance(104.1), 500u);
    throttle.addUsed(500);
    EXPECT_EQ(throttle.uploadAllowance(104.2), 0u);
    EXPECT_EQ(throttle.uploadAllowance(104.3), 500u);
    throttle.addUsed(400);
    EXPECT_EQ(throttle.uploadAllowance(104.3), 100u);
    EXPECT_EQ(throttle.uploadAllowance(104.9), 500u);  // 1100 open, a quarter per read
    throttle.addUsed(1100);
    EXPECT_EQ(throttle.uploadAllowance(104.99), 0u);
    EXPECT_EQ(throttle.wakeUp(), 0.0);
    EXPECT_EQ(throttle.uploadAllowance(105.0), 500u);  // the next window

    // Lifting the limit ends the pause.
    throttle.setMaxPerSecond(0);
    EXPECT_FALSE(throttle.isThrottled());
    EXPECT_EQ(throttle.wakeUp(), 0.0);
    EXPECT_EQ(throttle.readAllowance(16384), 16384u);

    // A limit set within a window is not charged with the unlimited burst
    // before it (4 MiB at 60 kB/s would pause every stream for a minute).
    throttle.measure(110.0);
    throttle.addUsed(4 << 20);
    throttle.setMaxPerSecond(60000);
    EXPECT_EQ(throttle.readAllowance(60000), 15000u);
    throttle.measure(110.5);
    EXPECT_FALSE(throttle.isPausedAt(110.5));

    // The average is of the last six windows, late ones too.
    http::BandwidthThrottle averaged;
    averaged.measure(10.0);  // a first window of nothing
    const uint64_t averages[] = {50, 100, 150, 200, 250, 350, 450};
    for (int i = 1; i <= 7; ++i) {
        averaged.addUsed(100 * i);
        averaged.measure(10.0 + i);
        EXPECT_EQ(averaged.averagePerSecond(), averages[i - 1]) << "after window " << i;
    }
    averaged.addUsed(800);
    averaged.measure(20.5);  // two seconds late: windows of 300 to 800 remain
    EXPECT_EQ(averaged.averagePerSecond(), 550u);
}

TEST(RequestThrottle, AClockOfItsOwnStartsTheBudgetAfresh) {
    http::BandwidthThrottle throttle;
    throttle.setMaxPerSecond(1000);
    throttle.measure(100.0);
    throttle.addUsed(1500);
    throttle.measure(100.5);  // paused until 101.5
    throttle.measure(101.0);  // windows of 0 and 1500 bytes
    throttle.addUsed(700);
    EXPECT_EQ(throttle.averagePerSecond(), 750u);
    EXPECT_GT(throttle.wakeUp(), 0.0);
    // Times of another clock do not compare: no window, use, samples or
    // pause are kept.
    throttle.setClock(ns::make<ns::ManualClock>(5.0));  // kept by the throttle
    EXPECT_EQ(throttle.now(), 5.0);
    EXPECT_EQ(throttle.wakeUp(), 0.0);
    EXPECT_EQ(throttle.averagePerSecond(), 0u);
    throttle.measure(5.0);
    EXPECT_EQ(throttle.averagePerSecond(), 0u);
    EXPECT_EQ(throttle.uploadAllowance(5.0), 250u);
    throttle.setClock(nullptr);
    EXPECT_NE(throttle.now(), 5.0);  // the system clock again
}

TEST(RequestThrottle, AWWANLimitAppliesOnlyWhileOnWWAN) {
    http::BandwidthThrottle throttle;
    throttle.limitOnWWANOnly(14800);
    EXPECT_EQ(throttle.maxPerSecond(), 14800u);
    EXPECT_FALSE(throttle.isThrottled());
    EXPECT_EQ(throttle.readAllowance(16384), 16384u);
    throttle.setOnWWAN(true);
    EXPECT_TRUE(throttle.isThrottled());
    EXPECT_EQ(throttle.readAllowance(16384), 3700u);
    throttle.setOnWWAN(false);
    EXPECT_FALSE(throttle.isThrottled());
    throttle.setOnWWAN(true);
    throttle.lift();
    EXPECT_FALSE(throttle.isThrottled());
    EXPECT_EQ(throttle.maxPerSecond(), 0u);
}
