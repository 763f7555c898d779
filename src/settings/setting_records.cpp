#include "settings/setting_records.h"

#include "infra/app_log.h"
#include "infra/string_utility.h"
#include "settings/profile_store.h"

namespace tessarine {

namespace {

constexpr char kCommonSection[] = "CommonSetting";
constexpr char kBackupSection[] = "BackupSetting";
constexpr char kDetectFileSection[] = "DetectFileSetting";

// Sunday first, like CBackupSetting::weekdays.
constexpr const char* kWeekdayKeys[7] = {
    "Weekday_IsSunday",   "Weekday_IsMonday", "Weekday_IsTuesday",  "Weekday_IsWednesday",
    "Weekday_IsThursday", "Weekday_IsFriday", "Weekday_IsSaturday",
};

// Pair n (0-based) is stored under the keys numbered n + 1 with two digits.
std::string SourceKey(int pair) { return Format("SourceFolderPath%02d", pair + 1); }
std::string DestinationKey(int pair) { return Format("DestinationFolderPath%02d", pair + 1); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// CCommonSetting

CCommonSetting::CCommonSetting() : CCommonSetting(GetDefaultProfileStore()) {}

CCommonSetting::CCommonSetting(CProfileStore* store) : CSettingCommon(store, kCommonSection) {}

int CCommonSetting::Load() {
    LOG_METHOD();
    if (!HasStore()) {
        LOG_TRACE("No profile store");
        return -1;
    }
    hostName = GetStringValue("HostName");
    ipv4Address = GetStringValue("IPV4Address");
    httpPort = GetIntValue("HTTPPort", 80);
    httpsPort = GetIntValue("HTTPSPort", 443);
    isUseSsl = GetBoolValue("IsUseSSL");
    isCreateShortcutToHost = GetBoolValue("IsCreateShortcutToHost");
    isManualHostSetting = GetBoolValue("IsManualHostSetting");
    isChangeSearchAgentPort = GetBoolValue("IsChangeSearchAgentPort");
    searchAgentPort = GetIntValue("SearchAgentPort", 61000);
    userName = GetStringValue("UserName");
    userPasswordStored = GetStringValue("UserPassword");
    userPassword =
        userPasswordStored.empty() ? "" : CStringUtility::DecodeBase64(userPasswordStored);
    popupTimeout = GetIntValue("PopupTimeout", 10);
    return 0;
}

int CCommonSetting::Save() {
    LOG_METHOD();
    if (!HasStore()) {
        LOG_TRACE("No profile store");
        return -1;
    }
    CProfileStore::Transaction transaction(*store_);
    SetStringValue("HostName", hostName);
    SetStringValue("IPV4Address", ipv4Address);
    SetIntValue("HTTPPort", httpPort);
    SetIntValue("HTTPSPort", httpsPort);
    SetBoolValue("IsUseSSL", isUseSsl);
    SetBoolValue("IsCreateShortcutToHost", isCreateShortcutToHost);
    SetBoolValue("IsManualHostSetting", isManualHostSetting);
    SetBoolValue("IsChangeSearchAgentPort", isChangeSearchAgentPort);
    SetIntValue("SearchAgentPort", searchAgentPort);
    SetStringValue("UserName", userName);
    userPasswordStored = userPassword.empty() ? "" : CStringUtility::EncodeBase64(userPassword);
    SetStringValue("UserPassword", userPasswordStored);
    SetIntValue("PopupTimeout", popupTimeout);
    if (!transaction.Commit()) {
        LOG_ERROR("The common settings could not be saved");
        return -1;
    }
    return 0;
}

int CCommonSetting::WriteDefaults() {
    LOG_METHOD();
    if (!HasStore()) return -1;
    hostName.clear();
    ipv4Address.clear();
    httpPort = 80;
    httpsPort = 443;
    isUseSsl = false;
    isCreateShortcutToHost = true;
    isManualHostSetting = false;
    isChangeSearchAgentPort = false;
    searchAgentPort = 61000;
    userName.clear();
    userPassword.clear();
    popupTimeout = 10;
    return Save();
}

// ---------------------------------------------------------------------------------------------
// CBackupSetting

CBackupSetting::CBackupSetting() : CBackupSetting(GetDefaultProfileStore()) {}

CBackupSetting::CBackupSetting(CProfileStore* store) : CSettingCommon(store, kBackupSection) {}

int CBackupSetting::Load() {
    LOG_METHOD();
    if (!HasStore()) {
        LOG_TRACE("No profile store");
        return -1;
    }
    isSchedule = GetBoolValue("IsSchedule");
    scheduleSetting = GetIntValue("ScheduleSetting", 3);
    dateDay = GetIntValue("Date_Day", -1);
    dateHour = GetIntValue("Date_Hour", -1);
    dateMinute = GetIntValue("Date_Minute", -1);
    for (int day = 0; day < 7; ++day) weekdays[day] = GetBoolValue(kWeekdayKeys[day]);
    weekdayHour = GetIntValue("Weekday_Hour", -1);
    weekdayMinute = GetIntValue("Weekday_Minute", -1);
    hourHour = GetIntValue("Hour_Hour", -1);
    hourMinute = GetIntValue("Hour_Minute", -1);
    interval = GetIntValue("Interval", 0);
    for (int pair = 0; pair < kBackupFolderPairCount; ++pair) {
        folderPairs[pair].source = GetStringValue(SourceKey(pair));
        folderPairs[pair].destination = GetStringValue(DestinationKey(pair));
    }
    isBackupWhenShutdown = GetBoolValue("IsBackupWhenShutdown");
    isBackupWhenStart = GetBoolValue("IsBackupWhenStart");
    isNotifyBackupComplete = GetBoolValue("IsNotifyBackupComplete");
    isDeletedFileBackup = GetBoolValue("IsDeletedFileBackup");
    backupErrorMaxCount = GetIntValue("BackupErrorMaxCount", 10);
    return 0;
}

// Writes every key except BackupErrorMaxCount, which only the first run and the upgrade write.
int CBackupSetting::Save() {
    LOG_METHOD();
    if (!HasStore()) {
        LOG_TRACE("No profile store");
        return -1;
    }
    CProfileStore::Transaction transaction(*store_);
    SetBoolValue("IsSchedule", isSchedule);
    SetIntValue("ScheduleSetting", scheduleSetting);
    SetIntValue("Date_Day", dateDay);
    SetIntValue("Date_Hour", dateHour);
    SetIntValue("Date_Minute", dateMinute);
    for (int day = 0; day < 7; ++day) SetBoolValue(kWeekdayKeys[day], weekdays[day]);
    SetIntValue("Weekday_Hour", weekdayHour);
    SetIntValue("Weekday_Minute", weekdayMinute);
    SetIntValue("Hour_Hour", hourHour);
    SetIntValue("Hour_Minute", hourMinute);
    SetIntValue("Interval", interval);
    for (int pair = 0; pair < kBackupFolderPairCount; ++pair) {
        SetStringValue(SourceKey(pair), folderPairs[pair].source);
        SetStringValue(DestinationKey(pair), folderPairs[pair].destination);
    }
    SetBoolValue("IsBackupWhenShutdown", isBackupWhenShutdown);
    SetBoolValue("IsBackupWhenStart", isBackupWhenStart);
    SetBoolValue("IsNotifyBackupComplete", isNotifyBackupComplete);
    SetBoolValue("IsDeletedFileBackup", isDeletedFileBackup);
    if (!transaction.Commit()) {
        LOG_ERROR("The backup settings could not be saved");
        return -1;
    }
    return 0;
}

int CBackupSetting::WriteDefaults() {
    LOG_METHOD();
    if (!HasStore()) return -1;
    isSchedule = false;
    scheduleSetting = 3;
    dateDay = dateHour = dateMinute = -1;
    weekdays.fill(true);
    weekdayHour = weekdayMinute = -1;
    hourHour = hourMinute = -1;
    interval = 0;
    folderPairs = BackupFolderPairs{};
    isBackupWhenShutdown = false;
    isBackupWhenStart = false;
    isNotifyBackupComplete = true;
    isDeletedFileBackup = false;
    backupErrorMaxCount = 10;

    CProfileStore::Transaction transaction(*store_);
    const int saved = Save();
    SetIntValue("BackupErrorMaxCount", backupErrorMaxCount);
    if (saved != 0 || !transaction.Commit()) {
        LOG_ERROR("The backup defaults could not be written");
        return -1;
    }
    return 0;
}

int IsBackupSettingChanged(const CBackupSetting& a, const CBackupSetting& b) {
    if (a.weekdays != b.weekdays) return 1;
    if (a.folderPairs != b.folderPairs) return 1;
    const bool same = a.isSchedule == b.isSchedule && a.scheduleSetting == b.scheduleSetting &&
                      a.dateDay == b.dateDay && a.dateHour == b.dateHour &&
                      a.dateMinute == b.dateMinute && a.weekdayHour == b.weekdayHour &&
                      a.weekdayMinute == b.weekdayMinute && a.hourHour == b.hourHour &&
                      a.hourMinute == b.hourMinute && a.interval == b.interval &&
                      a.isBackupWhenShutdown == b.isBackupWhenShutdown &&
                      a.isBackupWhenStart == b.isBackupWhenStart &&
                      a.isNotifyBackupComplete == b.isNotifyBackupComplete &&
                      a.isDeletedFileBackup == b.isDeletedFileBackup;
    return same ? 0 : 1;
}

// ---------------------------------------------------------------------------------------------
// CDetectFileSetting

CDetectFileSetting::CDetectFileSetting() : CDetectFileSetting(GetDefaultProfileStore()) {}

CDetectFileSetting::CDetectFileSetting(CProfileStore* store)
    : CSettingCommon(store, kDetectFileSection) {}

int CDetectFileSetting::Load() {
    LOG_METHOD();
    if (!HasStore()) {
        LOG_TRACE("No profile store");
        return -1;
    }
    isNotifyDetectFileComplete = GetBoolValue("IsNotifyDetectFileComplete");
    resultWatchInterval = GetIntValue("ResultWatchInterval", 10);
    return 0;
}

int CDetectFileSetting::Save() {
    LOG_METHOD();
    if (!HasStore()) {
        LOG_TRACE("No profile store");
        return -1;
    }
    CProfileStore::Transaction transaction(*store_);
    SetBoolValue("IsNotifyDetectFileComplete", isNotifyDetectFileComplete);
    SetIntValue("ResultWatchInterval", resultWatchInterval);
    if (!transaction.Commit()) {
        LOG_ERROR("The detection settings could not be saved");
        return -1;
    }
    return 0;
}

}  // namespace tessarine
