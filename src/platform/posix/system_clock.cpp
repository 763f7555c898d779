#include <thread>

#include "platform/clock.h"

namespace tessarine {

namespace {

class RealClock : public Clock {
public:
    std::time_t Now() const override { return std::time(nullptr); }
    void Sleep(std::chrono::milliseconds duration) override {
        std::this_thread::sleep_for(duration);
    }
};

}  // namespace

Clock& SystemClock() {
    static RealClock clock;
    return clock;
}

}  // namespace tessarine
