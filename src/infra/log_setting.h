// The log's switch file "setting.xml" in the log folder: <log><debug>FALSE</debug>
// <max_size>10</max_size></log>.
#pragma once

#include <string>

namespace tessarine {

// The size limit a first run writes, and the one used when the file gives no usable limit.
inline constexpr int kDefaultLogMaxSizeMiB = 10;

struct LogSetting {
    bool debug = false;  // true only for the exact text "TRUE" of the first child "debug"
    // Leading digits of the second child, whatever its name; kDefaultLogMaxSizeMiB when the
    // file cannot be read or the value is missing, zero, negative or not a number (a limit of
    // 0 would rotate the log after every line).
    int maxSizeMiB = kDefaultLogMaxSizeMiB;
    // Why the default limit is used, for one log line; empty when the file gave the limit.
    std::string problem;
};

// Reads the file. It is never changed here, whatever it holds.
LogSetting ReadLogSetting(const std::string& settingFilePath);

// Sets the process's log up: reads "<dataFolder>log/setting.xml" (debug switch, size limit)
// and forms the log file paths from the log folder and the executable title. An unusable file
// gives the first-run limit and one error line saying why.
void InitAppLog(const std::string& dataFolderPath, const std::string& executableTitle);

// Writes the default file (debug "FALSE", max_size "10"). Returns true when written.
bool CreateDefaultLogSetting(const std::string& logFolderPath);

}  // namespace tessarine
