#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Foundation.h"
#include "platform/foundation/NotificationCenter.h"

using namespace ns;

namespace {

TEST(NotificationCenter, DeliversInRegistrationOrderWithNameObjectAndUserInfo) {
    auto center = NotificationCenter::make();
    std::vector<std::string> log;
    auto sender = str("pane");
    auto a = center->addObserver("ActualizaTitulo", nullptr, [&](const Notification& n) {
        log.push_back("a:" + describe(n.objectRef()));
    });
    auto b = center->addObserver("ActualizaTitulo", nullptr, [&](const Notification& n) {
        ASSERT_NE(n.userInfo(), nullptr);
        log.push_back("b:" + describe(n.userInfo()->objectForKey("k")));
    });
    auto other = center->addObserver("ModificarModo", nullptr, [&](const Notification&) { log.push_back("other"); });
    center->postNotification("ActualizaTitulo", sender, Dictionary::make({{str("k"), num(2)}}));
    EXPECT_EQ(log, (std::vector<std::string>{"a:pane", "b:2"}));
}

TEST(NotificationCenter, ObjectFilterAndAllNames) {
    auto center = NotificationCenter::make();
    auto mine = str("mine");
    auto theirs = str("mine");  // equal but not the same object
    int filtered = 0, all = 0;
    auto f = center->addObserver("X", mine.get(), [&](const Notification&) { ++filtered; });
    auto any = center->addObserver("", nullptr, [&](const Notification&) { ++all; });
    center->postNotification("X", mine);
    center->postNotification("X", theirs);
    center->postNotification("X");
    center->postNotification("Y", mine);
    EXPECT_EQ(filtered, 1);
    EXPECT_EQ(all, 4);

    // Once the filter object is gone the observer matches nothing.
    mine = nullptr;
    center->postNotification("X", theirs);
    EXPECT_EQ(filtered, 1);
}

TEST(NotificationCenter, TokenRemovesTheObserver) {
    auto center = NotificationCenter::make();
    int calls = 0;
    {
        auto token = center->addObserver("X", nullptr, [&](const Notification&) { ++calls; });
        EXPECT_EQ(center->observerCount(), 1u);
        center->postNotification("X");
        ObserverToken moved = std::move(token);
        EXPECT_FALSE(token.isActive());
        EXPECT_TRUE(moved.isActive());
        center->postNotification("X");
    }
    EXPECT_EQ(center->observerCount(), 0u);
    center->postNotification("X");
    EXPECT_EQ(calls, 2);
}

TEST(NotificationCenter, RemovalAndAdditionDuringDeliveryAreSafe) {
    auto center = NotificationCenter::make();
    std::vector<std::string> log;
    ObserverToken second, added;
    auto first = center->addObserver("X", nullptr, [&](const Notification&) {
        log.push_back("first");
        second.reset();  // removed before its turn: not called
        added = center->addObserver("X", nullptr, [&](const Notification&) { log.push_back("added"); });
    });
    second = center->addObserver("X", nullptr, [&](const Notification&) { log.push_back("second"); });
    ObserverToken self;
    self = center->addObserver("X", nullptr, [&](const Notification&) {
        log.push_back("self");
        self.reset();  // removes itself while running
    });
    center->postNotification("X");
    EXPECT_EQ(log, (std::vector<std::string>{"first", "self"}));
    log.clear();
    first.reset();
    center->postNotification("X");
    EXPECT_EQ(log, (std::vector<std::string>{"added"}));
}

TEST(NotificationCenter, PostsFromSeveralThreadsReachObservers) {
    auto center = NotificationCenter::defaultCenter();
    std::atomic<int> calls{0};
    auto token = center->addObserver("Concurrent", nullptr, [&](const Notification&) { ++calls; });
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            for (int j = 0; j < 100; ++j) center->postNotification("Concurrent");
        });
    // Observers come and go meanwhile.
    for (int j = 0; j < 100; ++j) {
        auto t = center->addObserver("Concurrent", nullptr, [](const Notification&) {});
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(calls.load(), 400);
}

}  // namespace
