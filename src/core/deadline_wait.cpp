#include "core/deadline_wait.h"

#include <algorithm>

namespace tessarine {

bool WaitUntilDone(Clock& clock, std::chrono::milliseconds limit, std::chrono::milliseconds slice,
                   const std::function<bool()>& done) {
    if (slice.count() <= 0) slice = limit;
    std::chrono::milliseconds remaining = limit;
    while (remaining.count() > 0) {
        if (done()) return true;
        const auto step = std::min(remaining, slice);
        clock.Sleep(step);
        remaining -= step;
    }
    return done();
}

}  // namespace tessarine
