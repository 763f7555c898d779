#include "platform/named_events.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace tessarine {
namespace {

TEST(NamedEventsTest, SignalIsTakenOnceByTheWait) {
    NamedEvents events;
    const auto a = events.Create("BackupSettingChanged");
    const auto b = events.Create("BackupNow");
    EXPECT_EQ(events.Create("BackupNow"), b);  // same name, same event
    EXPECT_TRUE(events.Signal("BackupNow"));
    EXPECT_EQ(events.WaitAny({a, b}, 0), 1u);
    EXPECT_EQ(events.WaitAny({a, b}, 10), kWaitTimeout);  // auto-reset
}

TEST(NamedEventsTest, LowestIndexWinsAndOthersStayPending) {
    NamedEvents events;
    const auto a = events.Create("a");
    const auto b = events.Create("b");
    b->Set();
    a->Set();
    EXPECT_EQ(events.WaitAny({a, b}, 0), 0u);
    EXPECT_EQ(events.WaitAny({a, b}, 0), 1u);
}

TEST(NamedEventsTest, UnknownNamesAndNullHandles) {
    NamedEvents events;
    EXPECT_FALSE(events.Signal("Nope"));
    EXPECT_EQ(events.Open("Nope"), nullptr);
    EXPECT_EQ(events.WaitAny({events.Create("x"), nullptr}, 0), kWaitFailed);
    EXPECT_EQ(events.WaitAny({}, 0), kWaitFailed);
}

TEST(NamedEventsTest, WaitWakesOnSignalFromAnotherThread) {
    NamedEvents events;
    const auto shutdown = events.Create("BackupShutDown");
    const auto start = std::chrono::steady_clock::now();
    std::thread signaller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        events.Signal("BackupShutDown");
    });
    EXPECT_EQ(events.WaitAny({shutdown}, kInfinite), 0u);
    signaller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(NamedEventsTest, TimeoutIsHonoured) {
    NamedEvents events;
    const auto e = events.Create("e");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(events.WaitAny({e}, 100), kWaitTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

}  // namespace
}  // namespace tessarine
