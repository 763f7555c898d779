// Bounded waits for another thread's progress: the wait ends as soon as the condition holds,
// checked between short sleeps on the injectable clock, or when the time allowed has been slept.
#pragma once

#include <chrono>
#include <functional>

#include "platform/clock.h"

namespace tessarine {

// Sleeps on `clock` in slices of at most `slice` until `done` returns true or `limit` has been
// slept in all. `done` is checked before every slice and once more at the end; its last answer
// is returned. A limit of zero only checks.
bool WaitUntilDone(Clock& clock, std::chrono::milliseconds limit, std::chrono::milliseconds slice,
                   const std::function<bool()>& done);

}  // namespace tessarine
