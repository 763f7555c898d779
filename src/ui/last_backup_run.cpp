#include "ui/last_backup_run.h"

#include <filesystem>
#include <system_error>

#include "backup/backup_error_list.h"
#include "backup/backup_xml_utility.h"
#include "base/app_exception.h"

namespace tessarine::ui {

std::optional<LastBackupRun> ReadLastBackupRun(const std::string& backupFolderPath) {
    // Asked every half minute: no run yet is no error line.
    std::error_code error;
    if (!std::filesystem::exists(backupFolderPath + "result.xml", error)) return std::nullopt;
    LastBackupRun run;
    CBackupXMLUtility reader(backupFolderPath, DefaultSystemInfo());
    try {
        std::string start;
        reader.ReadClientResultFile(&start, &run.endStamp, &run.resultCode);
    } catch (const CAppException&) {
        return std::nullopt;
    }
    try {
        BackupErrorList detail;
        if (reader.ReadDetailResult(&detail) == 0)
            run.failedCount = detail.executeCount - detail.successCount;
    } catch (const CAppException&) {
        // Logged by the reader; the run's time and result still show.
    }
    return run;
}

}  // namespace tessarine::ui
