// A Clock for tests: "now" is set by the test, and Sleep advances it and returns at once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/clock.h"

namespace tessarine::testing {

class FakeClock : public Clock {
public:
    explicit FakeClock(std::time_t now = 0) { Set(now); }

    std::time_t Now() const override { return static_cast<std::time_t>(nowMs_.load() / 1000); }
    // Records the sleep, advances the time by it and calls the sleep hook, if any.
    void Sleep(std::chrono::milliseconds duration) override;

    void Set(std::time_t now) { nowMs_.store(static_cast<std::int64_t>(now) * 1000); }
    void Advance(std::chrono::milliseconds duration) { nowMs_.fetch_add(duration.count()); }

    // Called on the sleeping thread after the time has advanced (e.g. to end a run during
    // a wait, or to pace a loop in real time).
    void SetSleepHook(std::function<void(std::chrono::milliseconds)> hook);

    std::vector<std::chrono::milliseconds> Sleeps() const;
    std::chrono::milliseconds TotalSlept() const;

private:
    std::atomic<std::int64_t> nowMs_{0};
    mutable std::mutex mutex_;
    std::vector<std::chrono::milliseconds> sleeps_;
    std::function<void(std::chrono::milliseconds)> hook_;
};

}  // namespace tessarine::testing
