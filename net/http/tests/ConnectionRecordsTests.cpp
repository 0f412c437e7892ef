// The kept-connection records and the running-stream count, without
// sockets: streams are made but never opened, times are given.
#include <gtest/gtest.h>

#include "net/http/ConnectionRecords.h"
#include "net/http/NetworkActivity.h"
#include "platform/network/HTTPMessage.h"

namespace {

using http::ConnectionRecords;

ns::Ref<net::HTTPReadStream> stream() {
    return net::HTTPReadStream::make(net::HTTPMessage::request("GET", "http://a.test/", "HTTP/1.1"), nullptr);
}

const ConnectionRecords::Server kA{"a.test", 80, "http"};
const ConnectionRecords::Server kB{"b.test", 80, "http"};

TEST(ConnectionRecords, ARequestKeepsItsRecordAndOthersTakeOnlyIdleOnesForTheSameServer) {
    ConnectionRecords records;
    auto s1 = stream(), s2 = stream(), s3 = stream(), s4 = stream();

    auto first = records.choose(nullptr, kA, 1, s1, 100);
    ASSERT_TRUE(first.record);
    EXPECT_EQ(first.record->id, 1);
    EXPECT_FALSE(first.previous);
    // Held by request 1: request 2 gets a new record for the same server.
    auto second = records.choose(nullptr, kA, 2, s2, 100);
    EXPECT_EQ(second.record->id, 2);
    // Request 1 again (a retry, a redirect to the same server): its record,
    // and the stream it had, to close once the new one opened.
    auto again = records.choose(first.record, kA, 1, s3, 100);
    EXPECT_EQ(again.record, first.record);
    EXPECT_EQ(again.previous, s1);

    // Once idle, the record serves the next request to that server only.
    records.release(*first.record, 160);
    EXPECT_EQ(first.record->request, 0u);
    auto other = records.choose(nullptr, kB, 3, s4, 101);
    EXPECT_EQ(other.record->id, 3);
    auto reused = records.choose(nullptr, kA, 4, stream(), 101);
    EXPECT_EQ(reused.record, first.record);
    EXPECT_EQ(reused.previous, s3);
    EXPECT_EQ(reused.record->request, 4u);
    // A record kept by a request that now goes to another server is left.
    auto moved = records.choose(reused.record, kB, 4, stream(), 101);
    EXPECT_NE(moved.record, reused.record);
    EXPECT_EQ(records.count(), 4u);
    EXPECT_EQ(records.idOf(moved.record.get()), moved.record->id);
    EXPECT_EQ(records.idOf(nullptr), 0);
}

TEST(ConnectionRecords, IdleRecordsExpireAndRemovedOnesAreNotReused) {
    ConnectionRecords records;
    auto idle = records.choose(nullptr, kA, 1, stream(), 100);
    auto busy = records.choose(nullptr, kA, 2, stream(), 100);
    records.release(*idle.record, 160);
    EXPECT_TRUE(records.expire(159.9).empty());
    auto closed = records.expire(160);
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0], idle.record->stream);
    EXPECT_EQ(records.count(), 1u);  // the busy one stays whatever its time

    // A request whose own idle record expired gets a fresh one.
    records.release(*busy.record, 170);
    auto fresh = records.choose(busy.record, kA, 2, stream(), 171);
    EXPECT_NE(fresh.record, busy.record);
    EXPECT_EQ(records.count(), 1u);

    // A removed record (its connection failed) is never chosen again.
    records.remove(fresh.record);
    EXPECT_EQ(records.count(), 0u);
    auto next = records.choose(nullptr, kA, 3, stream(), 172);
    EXPECT_NE(next.record, fresh.record);
    records.setExpiry(*next.record, 200);
    records.release(*next.record, 180);
    EXPECT_EQ(records.expire(190).size(), 1u);
}

TEST(NetworkActivity, TheIndicatorFollowsRunningStreamsWithOneDelayedHideAtATime) {
    http::NetworkActivity activity;
    activity.streamScheduled();
    activity.streamScheduled();
    EXPECT_TRUE(activity.isNetworkInUse());
    EXPECT_TRUE(activity.isIndicatorVisible());
    EXPECT_FALSE(activity.streamUnscheduled());
    EXPECT_TRUE(activity.streamUnscheduled());  // the last one: hide later
    EXPECT_FALSE(activity.isNetworkInUse());
    EXPECT_TRUE(activity.beginDelayedHide());
    EXPECT_FALSE(activity.beginDelayedHide());  // one pending at a time
    activity.streamScheduled();                 // runs again before the hide is due
    activity.endDelayedHide();
    EXPECT_TRUE(activity.isIndicatorVisible());
    EXPECT_TRUE(activity.streamUnscheduled());
    EXPECT_TRUE(activity.beginDelayedHide());
    activity.endDelayedHide();
    EXPECT_FALSE(activity.isIndicatorVisible());

    // Updates switched off: the indicator is left alone.
    activity.setShouldUpdateIndicator(false);
    activity.streamScheduled();
    EXPECT_FALSE(activity.isIndicatorVisible());
    EXPECT_FALSE(activity.streamUnscheduled());
    activity.setIndicatorVisible(true);
    activity.hideIndicatorIfIdle();
    EXPECT_FALSE(activity.isIndicatorVisible());
}

}  // namespace
