// The long-lived detection scheduler: starts a forwarding run (one at a time) after a random
// wait under an hour until a forward has been judged on this PC, then once a day, and at once on
// "DetectFileNow". At its end it waits a bounded time for a run still going.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "core/thread_common.h"
#include "detection/detect_file_sql_utility.h"
#include "platform/clock.h"
#include "platform/named_events.h"

namespace tessarine {

class CDetectFileSchedule : public CThreadCommon {
public:
    using RunnerFactory = std::function<WorkerPtr<CThreadCommon>()>;
    using TimeoutCalculator = std::function<std::uint32_t()>;
    // A non-negative pseudo-random number.
    using RandomSource = std::function<int()>;

    // Indexes of the wait result: the order in which the events are opened.
    static constexpr std::uint32_t kWaitShutDown = 0;
    static constexpr std::uint32_t kWaitDetectFileNow = 1;

    static constexpr std::uint32_t kDayMinutes = 1440;
    static constexpr std::uint32_t kMinuteMs = 60000;
    // At its end the scheduler waits for a run still going, this many rounds of a round each.
    static constexpr int kExitWaitRounds = 10;
    static constexpr std::chrono::milliseconds kExitWaitRound{10000};
    static constexpr std::chrono::milliseconds kExitWaitSlice{100};
    // Pause after starting a run, as the run sets its flag on its own thread.
    static constexpr std::chrono::milliseconds kStartPause{1000};

    // Without a random source the scheduler seeds its own with the clock's time.
    CDetectFileSchedule(Clock& clock, NamedEvents& events, CDetectFileSQLUtility& fileList,
                        RunnerFactory runnerFactory, RandomSource random = {});
    // Owners hold the scheduler in a WorkerPtr, so its loop has ended by now. A run still
    // going is abandoned with its runner.
    ~CDetectFileSchedule() override;

    // Replaces CalculateTimeout in the loop (tests drive it with short waits).
    void SetTimeoutCalculator(TimeoutCalculator calculator) {
        timeoutCalculator_ = std::move(calculator);
    }

    // Milliseconds to wait: a day once a forward has been judged (or when the file list cannot
    // tell), else a random number of whole minutes from 0 to 59.
    std::uint32_t CalculateTimeout();

protected:
    int ThreadCore() override;

private:
    void OpenEvents(std::vector<EventHandle>& handles, bool reportMissing) const;
    void StartRun(ThreadControlBlock& block);

    Clock& clock_;
    NamedEvents& events_;
    CDetectFileSQLUtility& fileList_;
    RunnerFactory runnerFactory_;
    RandomSource random_;
    TimeoutCalculator timeoutCalculator_;
    WorkerPtr<CThreadCommon> runner_;
};

}  // namespace tessarine
