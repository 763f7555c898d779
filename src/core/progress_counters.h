// Progress of the current backup run, shared by the executor (writer) and the tray tooltip
// (reader). Owned by the application and handed to both.
#pragma once

#include <atomic>
#include <cstdint>

namespace tessarine {

struct BackupProgress {
    // Files the current run will process; -1 while counting; 0 when unknown.
    std::atomic<int> totalCount{0};
    // Files processed so far in the current run.
    std::atomic<int> doneCount{0};
    // When the scheduler will start the next run (seconds since the epoch); 0 when none is due.
    // Written by the scheduler each time it computes its wait.
    std::atomic<std::int64_t> nextRunTime{0};
    // Runs the executor has begun and ended since the program started; a run is going while
    // they differ. The result code of the run that ended last (0 success, 1 device not
    // reached, 2 something failed; -1 no result: the settings were unusable) is stored before
    // runsEnded counts it.
    std::atomic<std::uint32_t> runsStarted{0};
    std::atomic<std::uint32_t> runsEnded{0};
    std::atomic<int> lastResultCode{-1};
};

}  // namespace tessarine
