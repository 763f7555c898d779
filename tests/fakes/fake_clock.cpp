#include "fakes/fake_clock.h"

#include <thread>
#include <utility>

namespace tessarine::testing {

void FakeClock::Sleep(std::chrono::milliseconds duration) {
    std::function<void(std::chrono::milliseconds)> hook;
    {
        std::lock_guard lock(mutex_);
        sleeps_.push_back(duration);
        hook = hook_;
    }
    Advance(duration);
    if (hook)
        hook(duration);
    else
        std::this_thread::yield();
}

void FakeClock::SetSleepHook(std::function<void(std::chrono::milliseconds)> hook) {
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
}

std::vector<std::chrono::milliseconds> FakeClock::Sleeps() const {
    std::lock_guard lock(mutex_);
    return sleeps_;
}

std::chrono::milliseconds FakeClock::TotalSlept() const {
    std::lock_guard lock(mutex_);
    std::chrono::milliseconds total{0};
    for (const auto& sleep : sleeps_) total += sleep;
    return total;
}

}  // namespace tessarine::testing
