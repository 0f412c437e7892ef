// The bandwidth budget that the throttled upload stream applies to each
// body read.
#include <gtest/gtest.h>

#include "net/http/HTTPRequest.h"
#include "net/http/InputStream.h"

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
    EXPECT_EQ(InputStream::allowedReadLength(16384), 1u);
    HTTPRequest::setMaxBandwidthPerSecond(0);
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
