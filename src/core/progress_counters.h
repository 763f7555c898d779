// Backup progress shared by the executor (writer) and the tray tooltip (reader).
#pragma once

#include <atomic>

namespace tessarine {

// Files the current run will process; -1 while counting; 0 when unknown.
extern std::atomic<int> BackupTotalCount;
// Files processed so far in the current run.
extern std::atomic<int> BackupDoneCount;

}  // namespace tessarine
