// The log's switch file "setting.xml" in the log folder: <log><debug>FALSE</debug>
// <max_size>10</max_size></log>.
#pragma once

#include <string>

namespace tessarine {

struct LogSetting {
    bool debug = false;  // true only for the exact text "TRUE" of the first child "debug"
    int maxSizeMiB = 0;  // leading digits of the second child, whatever its name
};

// Reads the file; a missing or unreadable file gives the zero setting.
LogSetting ReadLogSetting(const std::string& settingFilePath);

// Writes the default file (debug "FALSE", max_size "10"). Returns true when written.
bool CreateDefaultLogSetting(const std::string& logFolderPath);

}  // namespace tessarine
