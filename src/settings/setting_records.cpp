#include "settings/setting_records.h"

#include "base/app_log.h"
#include "base/string_utility.h"
#include "settings/profile_store.h"
#include "settings/setting_table.h"

namespace tessarine {

// ---------------------------------------------------------------------------------------------
// CCommonSetting

CCommonSetting::CCommonSetting() : CCommonSetting(nullptr) {}

CCommonSetting::CCommonSetting(CProfileStore* store)
    : CSettingCommon(store, kCommonSettingSection) {}

int CCommonSetting::Load() {
    LOG_METHOD();
    if (!HasStore()) {
        LOG_TRACE("No profile store");
        return -1;
    }
    ReadFields();
    return 0;
}

int CCommonSetting::Save() {
    LOG_METHOD();
    if (!HasStore()) {
        LOG_TRACE("No profile store");
        return -1;
    }
    if (!WriteFields(false)) {
        LOG_ERROR("The common settings could not be saved");
        return -1;
    }
    return 0;
}

void CCommonSetting::FieldsRead() {
    userPassword =
        userPasswordStored.empty() ? "" : CStringUtility::DecodeBase64(userPasswordStored);
}

void CCommonSetting::PrepareWrite() {
    userPasswordStored = userPassword.empty() ? "" : CStringUtility::EncodeBase64(userPassword);
}

// ---------------------------------------------------------------------------------------------
// CBackupSetting

CBackupSetting::CBackupSetting() : CBackupSetting(nullptr) {}

CBackupSetting::CBackupSetting(CProfileStore* store)
    : CSettingCommon(store, kBackupSettingSection) {}

int CBackupSetting::Load() {
    LOG_METHOD();
    if (!HasStore()) {
        LOG_TRACE("No profile store");
        return -1;
    }
    ReadFields();
    return 0;
}

// Writes every key except BackupErrorMaxCount, which only the first run and the upgrade write.
int CBackupSetting::Save() {
    LOG_METHOD();
    if (!HasStore()) {
        LOG_TRACE("No profile store");
        return -1;
    }
    if (!WriteFields(false)) {
        LOG_ERROR("The backup settings could not be saved");
        return -1;
    }
    return 0;
}

int CBackupSetting::DefaultBackupErrorMaxCount() {
    static const int value =
        SettingIntValue(FindSettingRow(kBackupSettingSection, "BackupErrorMaxCount")->defaultValue);
    return value;
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

CDetectFileSetting::CDetectFileSetting() : CDetectFileSetting(nullptr) {}

CDetectFileSetting::CDetectFileSetting(CProfileStore* store)
    : CSettingCommon(store, kDetectFileSettingSection) {}

int CDetectFileSetting::Load() {
    LOG_METHOD();
    if (!HasStore()) {
        LOG_TRACE("No profile store");
        return -1;
    }
    ReadFields();
    return 0;
}

int CDetectFileSetting::Save() {
    LOG_METHOD();
    if (!HasStore()) {
        LOG_TRACE("No profile store");
        return -1;
    }
    if (!WriteFields(false)) {
        LOG_ERROR("The detection settings could not be saved");
        return -1;
    }
    return 0;
}

}  // namespace tessarine
