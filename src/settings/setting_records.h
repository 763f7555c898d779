// The three settings records over the INI profile file: each loads and saves all keys of its
// section at once. Components create a record, load it, use it and drop it.
#pragma once

#include <array>
#include <string>
#include <utility>

#include "settings/setting_common.h"

namespace tessarine {

inline constexpr int kBackupFolderPairCount = 10;

struct BackupFolderPair {
    BackupFolderPair() = default;
    BackupFolderPair(std::string sourceFolder, std::string destinationFolder,
                     std::string exclusionPatterns = {})
        : source(std::move(sourceFolder)),
          destination(std::move(destinationFolder)),
          exclusions(std::move(exclusionPatterns)) {}

    std::string source;       // local folder
    std::string destination;  // folder on the device share (UNC form)
    std::string exclusions;   // ';'-separated shell-style patterns (ExclusionFilter)
    bool operator==(const BackupFolderPair&) const = default;
};
using BackupFolderPairs = std::array<BackupFolderPair, kBackupFolderPairCount>;

// Section "CommonSetting": the device connection and common options.
class CCommonSetting : public CSettingCommon {
public:
    // Without a store the record holds values only (Load and Save return -1).
    CCommonSetting();
    explicit CCommonSetting(CProfileStore* store);
    int Load() override;
    int Save() override;

    std::string hostName;
    std::string ipv4Address;
    int httpPort = 0;
    int httpsPort = 0;
    bool isUseSsl = false;
    bool isCreateShortcutToHost = false;
    bool isManualHostSetting = false;
    bool isChangeSearchAgentPort = false;
    int searchAgentPort = 0;
    std::string userName;
    std::string userPassword;        // plain text, used by the program
    std::string userPasswordStored;  // the stored Base64 form
    int popupTimeout = 0;

protected:
    void FieldsRead() override;
    void PrepareWrite() override;
};

// Section "BackupSetting": the one backup job.
class CBackupSetting : public CSettingCommon {
public:
    CBackupSetting();
    explicit CBackupSetting(CProfileStore* store);
    int Load() override;
    int Save() override;

    // What BackupErrorMaxCount reads as when it is missing.
    static int DefaultBackupErrorMaxCount();

    bool isSchedule = false;
    int scheduleSetting = 0;  // 0 day of month, 1 weekdays, 2 daily, 3 every N hours
    int dateDay = 0;          // day of month minus one; -1 unset
    int dateHour = 0;
    int dateMinute = 0;
    std::array<bool, 7> weekdays{};  // Sunday first
    int weekdayHour = 0;
    int weekdayMinute = 0;
    int hourHour = 0;
    int hourMinute = 0;
    int interval = 0;  // hours minus one
    BackupFolderPairs folderPairs;
    bool isBackupWhenShutdown = false;
    bool isBackupWhenStart = false;
    bool isNotifyBackupComplete = false;
    bool isDeletedFileBackup = false;
    int backupErrorMaxCount = 0;  // read by Load, never written by Save
};

// 0 when equal, 1 when they differ (BackupErrorMaxCount is not compared).
int IsBackupSettingChanged(const CBackupSetting& a, const CBackupSetting& b);

// Section "DetectFileSetting".
class CDetectFileSetting : public CSettingCommon {
public:
    CDetectFileSetting();
    explicit CDetectFileSetting(CProfileStore* store);
    int Load() override;
    int Save() override;

    bool isNotifyDetectFileComplete = false;
    int resultWatchInterval = 0;  // minutes
};

}  // namespace tessarine
