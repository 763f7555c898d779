// The named events a worker thread waits on: opening its set, and what its wait loop does when a
// wait fails.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/operation_failure.h"
#include "base/source_location.h"
#include "platform/clock.h"
#include "platform/named_events.h"

namespace tessarine {

// Opens the events of `names` that `handles` (one per name) does not hold yet; a missing one stays
// null and, with reportMissing, gets an error line.
inline void OpenWorkerEvents(const NamedEvents& events, std::span<const std::string_view> names,
                             std::vector<EventHandle>& handles, bool reportMissing,
                             const SourceLocation& where = SourceLocation::current()) {
    handles.resize(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (handles[i]) continue;
        handles[i] = events.Open(std::string(names[i]));
        if (!handles[i] && reportMissing) {
            LogErrorAt(where, "Can't open event. Name:" + std::string(names[i]));
        }
    }
}

// A failed wait (an event of the set has gone away): the first failure of a series is logged,
// and each failure pauses before the worker opens its events again, so a lasting fault neither
// floods the log nor spins.
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
