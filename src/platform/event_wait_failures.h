// What a worker's wait loop does when its wait fails (an event of its set has gone away): the
// first failure of a series is logged, and each failure pauses before the worker opens its events
// again, so a lasting fault neither floods the log nor spins.
#pragma once

#include <chrono>
#include <cstdint>

#include "base/operation_failure.h"
#include "base/source_location.h"
#include "platform/clock.h"
#include "platform/named_events.h"

namespace tessarine {

class CEventWaitFailures {
public:
    static constexpr std::chrono::milliseconds kPause{1000};

    // True when `waitResult` is kWaitFailed: the failure is logged (the first of a series, as a
    // line of the caller) and the pause taken; the caller then opens its events again.
    bool Failed(std::uint32_t waitResult, Clock& clock,
                const SourceLocation& where = SourceLocation::current()) {
        if (waitResult != kWaitFailed) {
            reported_ = false;
            return false;
        }
        if (!reported_) {
            LogErrorAt(where, "Event wait failed. Retrying.");
            reported_ = true;
        }
        clock.Sleep(kPause);
        return true;
    }

private:
    bool reported_ = false;
};

}  // namespace tessarine
