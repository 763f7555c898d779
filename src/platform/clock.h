// Time source for everything that schedules or stamps times, so tests can fix "now".
#pragma once

#include <chrono>
#include <ctime>

namespace tessarine {

class Clock {
public:
    virtual ~Clock() = default;
    // Seconds since the epoch.
    virtual std::time_t Now() const = 0;
    virtual void Sleep(std::chrono::milliseconds duration) = 0;
};

// The system clock and a real sleep.
Clock& SystemClock();

}  // namespace tessarine
