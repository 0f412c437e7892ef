#include "net/http/Reachability.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"

namespace {

using http::Reachability;
using namespace net;

class ReachabilityTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake = ns::make<FakeReachabilityProvider>();
        ReachabilityProvider::setCurrent(fake);
    }
    void TearDown() override { ReachabilityProvider::setCurrent(nullptr); }
    ns::Ref<FakeReachabilityProvider> fake;
};

TEST_F(ReachabilityTest, StatusForFlags) {
    auto r = Reachability::reachabilityWithHostName("example.com");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->networkStatusForFlags(0x2), http::ReachableViaWiFi);
    EXPECT_EQ(r->networkStatusForFlags(0x2 | 0x40000), http::ReachableViaWWAN);
    EXPECT_EQ(r->networkStatusForFlags(0x40000), http::NotReachable);
    EXPECT_EQ(r->networkStatusForFlags(0x2 | 0x1 | 0x4), http::NotReachable);
    EXPECT_EQ(r->networkStatusForFlags(0x2 | 0x1), http::ReachableViaWiFi);
    EXPECT_EQ(r->networkStatusForFlags(0x2 | 0x4 | 0x8), http::ReachableViaWiFi);
    EXPECT_EQ(r->networkStatusForFlags(0x2 | 0x10), http::NotReachable);
    EXPECT_EQ(r->networkStatusForFlags(0x2 | 0x10000 | 0x20000), http::ReachableViaWiFi);

    auto wifi = Reachability::reachabilityForLocalWiFi();

    ASSERT_TRUE(wifi);
    EXPECT_EQ(wifi->key(), "LocalWiFiConnection");
    EXPECT_EQ(wifi->networkStatusForFlags(0x2 | 0x20000), http::ReachableViaWiFi);
    EXPECT_EQ(wifi->networkStatusForFlags(0x2 | 0x40000), http::NotReachable);
}

TEST_F(ReachabilityTest, KeysAndEquality) {
    in_addr a;
    inet_pton(AF_INET, "10.0.0.1", &a);
    EXPECT_EQ(Reachability::makeAddressKey(a.s_addr), "10.0.0.1");
    auto h = Reachability::reachabilityWithHostName("h.example");
    ASSERT_TRUE(h);
    EXPECT_TRUE(h->isEqual(*Reachability::reachabilityWithHostName("h.example")));
    EXPECT_FALSE(Reachability::reachabilityWithHostName(""));
    auto internet = Reachability::reachabilityForInternetConnection();
    ASSERT_TRUE(internet);
    EXPECT_EQ(internet->key(), "InternetConnection");
    sockaddr_in six{};
    six.sin_family = AF_INET6;
    EXPECT_FALSE(Reachability::reachabilityWithAddress(six));
}

TEST_F(ReachabilityTest, QuestionsAndUnreadableFlags) {
    auto r = Reachability::reachabilityForInternetConnection();
    ASSERT_TRUE(r);
    fake->setFlags("0.0.0.0", 0x2 | 0x40000);
    EXPECT_TRUE(r->isReachableViaWWAN());
    EXPECT_TRUE(r->isReachable());
    fake->setFlags("0.0.0.0", 0x2 | 0x4 | 0x20);
    EXPECT_TRUE(r->isConnectionOnDemand());
    EXPECT_TRUE(r->connectionRequired());
    EXPECT_FALSE(r->isInterventionRequired());
    fake->setUnreadable(true);
    EXPECT_EQ(r->reachabilityFlags(), 0u);
    EXPECT_EQ(r->currentReachabilityStatus(), http::NotReachable);
    EXPECT_FALSE(r->isReachableViaWiFi());
}

TEST_F(ReachabilityTest, NotifierPostsOnChangeOnTheStartingLoop) {
    auto r = Reachability::reachabilityForInternetConnection();
    ASSERT_TRUE(r);
    fake->setFlags("0.0.0.0", 0x2);
    int posted = 0;
    auto token = ns::NotificationCenter::defaultCenter()->addObserver(
        http::kReachabilityChangedNotification, r.get(), [&](const ns::Notification& n) {
            ++posted;
            EXPECT_EQ(n.object(), r.get());
        });
    ASSERT_TRUE(r->startNotifier());
    auto loop = ns::RunLoop::current();
    fake->signalChange();  // nothing changed: no notification
    loop->runOnce();
    EXPECT_EQ(posted, 0);
    fake->setFlags("0.0.0.0", 0x2 | 0x40000);
    fake->signalChange();
    loop->runOnce();
    EXPECT_EQ(posted, 1);
    EXPECT_TRUE(r->isReachableViaWWAN());
    r->stopNotifier();
    EXPECT_EQ(fake->watcherCount(), 0u);
    fake->setFlags("0.0.0.0", 0);
    fake->signalChange();
    loop->runOnce();
    EXPECT_EQ(posted, 1);

    fake->setRefuseWatch(true);
    EXPECT_FALSE(r->startNotifier());
}

TEST_F(ReachabilityTest, NotifierHoldsNoReference) {
    auto r = Reachability::reachabilityForInternetConnection();
    ASSERT_TRUE(r);
    ASSERT_TRUE(r->startNotifier());
    EXPECT_EQ(r->retainCount(), 1u);
    r = nullptr;  // disposal stops the notifier
    EXPECT_EQ(fake->watcherCount(), 0u);
}

TEST(LinuxReachability, LoopbackIsLocalAndWatchingWorks) {
    LinuxReachabilityProvider linux;
    ReachabilityTarget t;
    t.isAddress = true;
    t.address.sin_family = AF_INET;
    t.address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    uint32_t f = 0;
    ASSERT_TRUE(linux.flagsForTarget(t, &f));
    EXPECT_EQ(f & (kReachabilityReachable | kReachabilityIsLocalAddress), kReachabilityReachable | kReachabilityIsLocalAddress);
    ReachabilityTarget host;
    host.hostName = "localhost";
    ASSERT_TRUE(linux.flagsForTarget(host, &f));
    EXPECT_TRUE(f & kReachabilityReachable);
    EXPECT_TRUE(LinuxReachabilityProvider::isCellularInterface("wwan0"));
    EXPECT_FALSE(LinuxReachabilityProvider::isCellularInterface("eth0"));
    // Watching needs a netlink socket; containers may refuse it.
    auto token = linux.watch(*ns::RunLoop::current(), ns::RunLoop::kDefaultMode, [] {});
    if (!token) GTEST_SKIP() << "netlink route sockets are not available here";
    ns::RunLoop::current()->runOnce();
}

}  // namespace
