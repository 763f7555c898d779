#include "settings/first_run.h"

#include "infra/app_log.h"
#include "settings/profile_store.h"
#include "settings/setting_records.h"

namespace tessarine {

namespace {

constexpr char kBackupSection[] = "BackupSetting";
constexpr char kDetectFileSection[] = "DetectFileSetting";

}  // namespace

int WriteFirstRunSettings(CProfileStore& store) {
    LOG_METHOD();
    CProfileStore::Transaction transaction(store);
    CCommonSetting common(&store);
    CBackupSetting backup(&store);
    const bool written =
        common.WriteDefaults() == 0 && backup.WriteDefaults() == 0 &&
        store.WriteString(kDetectFileSection, "IsNotifyDetectFileComplete", "TRUE") &&
        store.WriteInt(kDetectFileSection, "ResultWatchInterval", 10);
    if (!written || !transaction.Commit()) {
        LOG_ERROR("The first-run settings could not be written to " + store.FilePath());
        return -1;
    }
    return 0;
}

int UpgradeProfile(CProfileStore& store) {
    LOG_METHOD();
    CProfileStore::Transaction transaction(store);
    if (!store.HasKey(kBackupSection, "IsDeletedFileBackup")) {
        LOG_TRACE("Adding IsDeletedFileBackup");
        store.WriteString(kBackupSection, "IsDeletedFileBackup", "FALSE");
    }
    if (store.GetInt(kBackupSection, "BackupErrorMaxCount", -1) == -1) {
        LOG_TRACE("Adding BackupErrorMaxCount");
        store.WriteInt(kBackupSection, "BackupErrorMaxCount", 10);
    }
    if (!transaction.Commit()) {
        LOG_ERROR("The profile file " + store.FilePath() + " could not be brought up to date");
        return -1;
    }
    return 0;
}

}  // namespace tessarine
