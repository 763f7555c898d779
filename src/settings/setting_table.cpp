#include "settings/setting_table.h"

#include "base/string_utility.h"
#include "settings/setting_records.h"

namespace tessarine {

namespace {

constexpr char kTrue[] = "TRUE";
constexpr char kFalse[] = "FALSE";

template <typename Record, typename Member>
std::function<SettingField(CSettingCommon&)> FieldOf(Member Record::*member) {
    return [member](CSettingCommon& record) -> SettingField {
        return &(static_cast<Record&>(record).*member);
    };
}

// Sunday first, like CBackupSetting::weekdays.
constexpr const char* kWeekdayKeys[7] = {
    "Weekday_IsSunday",   "Weekday_IsMonday", "Weekday_IsTuesday",  "Weekday_IsWednesday",
    "Weekday_IsThursday", "Weekday_IsFriday", "Weekday_IsSaturday",
};

std::vector<SettingRow> BuildTable() {
    using enum SettingType;
    std::vector<SettingRow> rows;
    auto add = [&rows](const char* section, std::string key, SettingType type,
                       std::string defaultValue, std::string firstRunValue,
                       std::function<SettingField(CSettingCommon&)> field) -> SettingRow& {
        rows.push_back({section, std::move(key), type, std::move(defaultValue),
                        std::move(firstRunValue), true, SettingUpgrade::kNone, std::move(field)});
        return rows.back();
    };

    const char* common = kCommonSettingSection;
    add(common, "HostName", kString, "", "", FieldOf(&CCommonSetting::hostName));
    add(common, "IPV4Address", kString, "", "", FieldOf(&CCommonSetting::ipv4Address));
    add(common, "HTTPPort", kInt, "80", "80", FieldOf(&CCommonSetting::httpPort));
    add(common, "HTTPSPort", kInt, "443", "443", FieldOf(&CCommonSetting::httpsPort));
    add(common, "IsUseSSL", kBool, kFalse, kFalse, FieldOf(&CCommonSetting::isUseSsl));
    add(common, "IsCreateShortcutToHost", kBool, kFalse, kTrue,
        FieldOf(&CCommonSetting::isCreateShortcutToHost));
    add(common, "IsManualHostSetting", kBool, kFalse, kFalse,
        FieldOf(&CCommonSetting::isManualHostSetting));
    add(common, "IsChangeSearchAgentPort", kBool, kFalse, kFalse,
        FieldOf(&CCommonSetting::isChangeSearchAgentPort));
    add(common, "SearchAgentPort", kInt, "61000", "61000",
        FieldOf(&CCommonSetting::searchAgentPort));
    add(common, "UserName", kString, "", "", FieldOf(&CCommonSetting::userName));
    // The stored (Base64) form; the record turns it into the plain text and back.
    add(common, "UserPassword", kString, "", "", FieldOf(&CCommonSetting::userPasswordStored));
    add(common, "PopupTimeout", kInt, "10", "10", FieldOf(&CCommonSetting::popupTimeout));

    const char* backup = kBackupSettingSection;
    add(backup, "IsSchedule", kBool, kFalse, kFalse, FieldOf(&CBackupSetting::isSchedule));
    add(backup, "ScheduleSetting", kInt, "3", "3", FieldOf(&CBackupSetting::scheduleSetting));
    add(backup, "Date_Day", kInt, "-1", "-1", FieldOf(&CBackupSetting::dateDay));
    add(backup, "Date_Hour", kInt, "-1", "-1", FieldOf(&CBackupSetting::dateHour));
    add(backup, "Date_Minute", kInt, "-1", "-1", FieldOf(&CBackupSetting::dateMinute));
    for (int day = 0; day < 7; ++day) {
        add(backup, kWeekdayKeys[day], kBool, kFalse, kTrue,
            [day](CSettingCommon& record) -> SettingField {
                return &static_cast<CBackupSetting&>(record).weekdays[day];
            });
    }
    add(backup, "Weekday_Hour", kInt, "-1", "-1", FieldOf(&CBackupSetting::weekdayHour));
    add(backup, "Weekday_Minute", kInt, "-1", "-1", FieldOf(&CBackupSetting::weekdayMinute));
    add(backup, "Hour_Hour", kInt, "-1", "-1", FieldOf(&CBackupSetting::hourHour));
    add(backup, "Hour_Minute", kInt, "-1", "-1", FieldOf(&CBackupSetting::hourMinute));
    add(backup, "Interval", kInt, "0", "0", FieldOf(&CBackupSetting::interval));
    // Pair n (0-based) is stored under the keys numbered n + 1 with two digits.
    for (int pair = 0; pair < kBackupFolderPairCount; ++pair) {
        add(backup, Format("SourceFolderPath%02d", pair + 1), kString, "", "",
            [pair](CSettingCommon& record) -> SettingField {
                return &static_cast<CBackupSetting&>(record).folderPairs[pair].source;
            });
        add(backup, Format("DestinationFolderPath%02d", pair + 1), kString, "", "",
            [pair](CSettingCommon& record) -> SettingField {
                return &static_cast<CBackupSetting&>(record).folderPairs[pair].destination;
            });
        add(backup, Format("ExcludePatterns%02d", pair + 1), kString, "", "",
            [pair](CSettingCommon& record) -> SettingField {
                return &static_cast<CBackupSetting&>(record).folderPairs[pair].exclusions;
            });
    }
    add(backup, "IsBackupWhenShutdown", kBool, kFalse, kFalse,
        FieldOf(&CBackupSetting::isBackupWhenShutdown));
    add(backup, "IsBackupWhenStart", kBool, kFalse, kFalse,
        FieldOf(&CBackupSetting::isBackupWhenStart));
    add(backup, "IsNotifyBackupComplete", kBool, kFalse, kTrue,
        FieldOf(&CBackupSetting::isNotifyBackupComplete));
    add(backup, "IsDeletedFileBackup", kBool, kFalse, kFalse,
        FieldOf(&CBackupSetting::isDeletedFileBackup))
        .upgrade = SettingUpgrade::kAddWhenMissing;
    SettingRow& errorMaxCount = add(backup, "BackupErrorMaxCount", kInt, "10", "10",
                                    FieldOf(&CBackupSetting::backupErrorMaxCount));
    errorMaxCount.writtenBySave = false;
    errorMaxCount.upgrade = SettingUpgrade::kAddWhenMissingOrMinus1;

    const char* detect = kDetectFileSettingSection;
    add(detect, "IsNotifyDetectFileComplete", kBool, kFalse, kTrue,
        FieldOf(&CDetectFileSetting::isNotifyDetectFileComplete));
    add(detect, "ResultWatchInterval", kInt, "10", "10",
        FieldOf(&CDetectFileSetting::resultWatchInterval));
    return rows;
}

}  // namespace

const std::vector<SettingRow>& SettingTable() {
    static const std::vector<SettingRow> table = BuildTable();
    return table;
}

const SettingRow* FindSettingRow(std::string_view section, std::string_view key) {
    for (const SettingRow& row : SettingTable()) {
        if (row.section == section && row.key == key) return &row;
    }
    return nullptr;
}

int SettingIntValue(const std::string& stored) { return StringToInt(stored); }

}  // namespace tessarine
