// The one table of every settings key: its section, type, the value read when it is missing,
// the value a new installation gets, and how older files are brought up to date. The records'
// Load, Save and WriteDefaults, the first-run writer and the upgrade all work from it; its order
// is the order of the keys in the file.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tessarine {

class CSettingCommon;

inline constexpr char kCommonSettingSection[] = "CommonSetting";
inline constexpr char kBackupSettingSection[] = "BackupSetting";
inline constexpr char kDetectFileSettingSection[] = "DetectFileSetting";

enum class SettingType { kString, kInt, kBool };

// What an older profile file may lack, and when the upgrade at start-up adds the first-run
// value.
enum class SettingUpgrade {
    kNone,
    kAddWhenMissing,          // the key is missing
    kAddWhenMissingOrMinus1,  // the key reads as -1 with a default of -1
};

// The record member a row is read into and written from; its alternative matches the type.
using SettingField = std::variant<std::string*, int*, bool*>;

struct SettingRow {
    std::string section;
    std::string key;
    SettingType type = SettingType::kString;
    std::string defaultValue;   // what a missing key reads as, in its stored form ("80", "FALSE")
    std::string firstRunValue;  // what a new installation gets, in its stored form
    bool writtenBySave = true;  // false: only the first run and the upgrade write it
    SettingUpgrade upgrade = SettingUpgrade::kNone;
    std::function<SettingField(CSettingCommon&)> field;  // the member in a record of the section
};

// Every row, sections in file order ("CommonSetting", "BackupSetting", "DetectFileSetting").
const std::vector<SettingRow>& SettingTable();

// The row of a key; null when the table has none (exact names).
const SettingRow* FindSettingRow(std::string_view section, std::string_view key);

// The integer a stored-form value stands for ("%d" text).
int SettingIntValue(const std::string& stored);

}  // namespace tessarine
