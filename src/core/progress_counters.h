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
};

}  // namespace tessarine
