#include "settings/setting_table.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <variant>

#include "base/string_utility.h"
#include "fakes/test_support.h"
#include "settings/profile_store.h"
#include "settings/setting_records.h"

namespace tessarine {
namespace {

using testing::TempDir;

std::unique_ptr<CSettingCommon> RecordOf(const std::string& section, CProfileStore* store) {
    if (section == kCommonSettingSection) return std::make_unique<CCommonSetting>(store);
    if (section == kBackupSettingSection) return std::make_unique<CBackupSetting>(store);
    if (section == kDetectFileSettingSection) return std::make_unique<CDetectFileSetting>(store);
    return nullptr;
}

// A value of the row's type that is neither its default nor its first-run value, different
// for every row, so a row bound to another row's field is caught.
std::string DistinctValue(const SettingRow& row, int index) {
    switch (row.type) {
        case SettingType::kInt:
            return IntToString(1000 + index);
        case SettingType::kBool:
            return row.defaultValue == "TRUE" ? "FALSE" : "TRUE";
        case SettingType::kString:
            break;
    }
    // The password is stored in Base64; the record turns it into plain text and back.
    if (row.key == "UserPassword")
        return CStringUtility::EncodeBase64("secret " + IntToString(index));
    return "value " + IntToString(index);
}

TEST(SettingTableTest, EveryRowNamesItsOwnFieldOfTheRightType) {
    std::set<std::pair<std::string, std::string>> keys;
    std::map<std::string, std::unique_ptr<CSettingCommon>> records;
    std::set<const void*> fields;
    for (const SettingRow& row : SettingTable()) {
        SCOPED_TRACE(row.key);
        EXPECT_TRUE(keys.insert({row.section, row.key}).second) << "key listed twice";
        auto& record = records[row.section];
        if (!record) record = RecordOf(row.section, nullptr);
        ASSERT_NE(record, nullptr) << row.section;
        const SettingField field = row.field(*record);
        const std::size_t expected = row.type == SettingType::kString ? 0
                                     : row.type == SettingType::kInt  ? 1
                                                                      : 2;
        EXPECT_EQ(field.index(), expected);
        const void* address = std::visit([](auto* member) -> const void* { return member; }, field);
        EXPECT_TRUE(fields.insert(address).second) << "field shared with another key";
    }
    EXPECT_EQ(SettingTable().size(), 12u + 52u + 2u);
    EXPECT_EQ(CBackupSetting::DefaultBackupErrorMaxCount(), 10);
    EXPECT_EQ(FindSettingRow(kBackupSettingSection, "NoSuchKey"), nullptr);
}

// Each key goes to its own line of the file and comes back into its own field: Save writes the
// keys it should, WriteDefaults all of them, Load reads each where Save took it from.
TEST(SettingTableTest, EveryKeyRoundTripsThroughItsRecord) {
    TempDir dir;
    CProfileStore store(dir.Sub("TessarineTool.msf"));
    int index = 0;
    for (const SettingRow& row : SettingTable()) {
        SCOPED_TRACE(row.key);
        const std::string value = DistinctValue(row, index++);
        ASSERT_TRUE(store.WriteString(row.section, row.key, value));
        auto record = RecordOf(row.section, &store);
        ASSERT_EQ(record->Load(), 0);
        const std::string loaded = std::visit(
            [](auto* member) -> std::string {
                using T = std::remove_pointer_t<decltype(member)>;
                if constexpr (std::is_same_v<T, std::string>)
                    return *member;
                else if constexpr (std::is_same_v<T, int>)
                    return IntToString(*member);
                else
                    return BoolToString(*member ? 1 : 0);
            },
            row.field(*record));
        EXPECT_EQ(loaded, value);

        // Save writes it back unchanged only when Save owns the key; a saved record of the
        // section leaves a key Save does not write as it was.
        ASSERT_TRUE(store.WriteString(row.section, row.key, "other"));
        ASSERT_EQ(record->Save(), 0);
        EXPECT_EQ(store.GetString(row.section, row.key, ""), row.writtenBySave ? value : "other");
        ASSERT_EQ(record->WriteDefaults(), 0);
        EXPECT_EQ(store.GetString(row.section, row.key, ""), row.firstRunValue);
    }
}

}  // namespace
}  // namespace tessarine
