// The three XML files of a backup run: "result.xml" (client result), "deteil_result.xml"
// (detail result) and the server result file "<COMPUTER>_<user>.xml" sent to the device.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "backup/backup_error_list.h"
#include "infra/xml_parse.h"
#include "platform/system_info.h"
#include "settings/setting_records.h"

namespace tessarine {

// The data folder's "backup/" folder; empty when the data folder is unknown.
std::string DefaultBackupFolderPath();

class CBackupXMLUtility : public CXMLParse {
public:
    CBackupXMLUtility();
    CBackupXMLUtility(std::string backupFolderPath, const SystemInfo& systemInfo);

    // Each returns 0 and throws CBackupXMLException (code 0..4 in this order) on failure.
    int CreateClientResultFile(std::time_t start, std::time_t end, int resultCode);
    int ReadClientResultFile(std::string* start, std::string* end, int* resultCode);
    int CreateServerResultFile(std::time_t end, const BackupFolderPairs* pairs,
                               std::uint32_t successCount);
    int CreateDetailResultFile(const BackupErrorList& list);
    // -1 (counts 0, no paths) when the file does not exist.
    int ReadDetailResult(BackupErrorList* list);

    // 0 written, -1 failed.
    int WriteBackupFolderPathSetting(const BackupFolderPairs& pairs, bool sources);

    const std::string& GetServerResultFileName() const { return serverResultFileName_; }
    const std::string& GetServerResultFilePath() const { return serverResultFilePath_; }
    const std::string& GetBackupFolderPath() const { return backupFolderPath_; }

private:
    std::string backupFolderPath_;
    const SystemInfo& systemInfo_;
    std::string serverResultFileName_;
    std::string serverResultFilePath_;
};

}  // namespace tessarine
