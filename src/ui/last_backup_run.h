// How the last backup run ended, as its result files tell it, for the tray's tool tip.
#pragma once

#include <optional>
#include <string>

namespace tessarine::ui {

struct LastBackupRun {
    std::string endStamp;  // 14-digit local time stamp of its end
    int resultCode = 0;    // 0 success, 1 connection, 2 file access
    int failedCount = 0;   // entries that failed
};

// From "result.xml" and "deteil_result.xml" in `backupFolderPath` (ending with '/'); nothing
// before the first run or when "result.xml" cannot be read (logged by the reader). Without a
// readable detail file the failed count is 0.
std::optional<LastBackupRun> ReadLastBackupRun(const std::string& backupFolderPath);

}  // namespace tessarine::ui
