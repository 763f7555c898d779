#include "settings/setting_common.h"

#include <utility>
#include <variant>

#include "base/app_log.h"
#include "base/string_utility.h"
#include "settings/profile_store.h"
#include "settings/setting_table.h"

namespace tessarine {

namespace {

constexpr char kTrue[] = "TRUE";

template <typename... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
// Spelled out for compilers without class template argument deduction for aggregates (clang 14).
template <typename... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

}  // namespace

CSettingCommon::CSettingCommon(CProfileStore* store, std::string section)
    : store_(store), section_(std::move(section)) {}

std::string CSettingCommon::GetStringValue(const std::string& key) const {
    return store_->GetString(section_, key, "");
}

void CSettingCommon::SetStringValue(const std::string& key, const std::string& value) {
    store_->WriteString(section_, key, value);
}

bool CSettingCommon::GetBoolValue(const std::string& key) const {
    // Only the exact text "TRUE" is true; "true", "1" and a missing key are false.
    return store_->GetString(section_, key, "") == kTrue;
}

void CSettingCommon::SetBoolValue(const std::string& key, bool value) {
    store_->WriteString(section_, key, BoolToString(value ? 1 : 0));
}

int CSettingCommon::GetIntValue(const std::string& key, int defaultValue) const {
    return store_->GetInt(section_, key, defaultValue);
}

void CSettingCommon::SetIntValue(const std::string& key, int value) {
    store_->WriteInt(section_, key, value);
}

void CSettingCommon::EnsureBoolValue(const std::string& key) {
    if (!store_->HasKey(section_, key)) SetBoolValue(key, false);
}

void CSettingCommon::ReadFields() {
    for (const SettingRow& row : SettingTable()) {
        if (row.section != section_) continue;
        std::visit(Overloaded{
                       [&](std::string* text) {
                           *text = store_->GetString(section_, row.key, row.defaultValue);
                       },
                       [&](int* number) {
                           *number = GetIntValue(row.key, SettingIntValue(row.defaultValue));
                       },
                       [&](bool* flag) {
                           *flag = store_->GetString(section_, row.key, row.defaultValue) == kTrue;
                       },
                   },
                   row.field(*this));
    }
    FieldsRead();
}

bool CSettingCommon::WriteFields(bool allKeys) {
    PrepareWrite();
    CProfileStore::Transaction transaction(*store_);
    for (const SettingRow& row : SettingTable()) {
        if (row.section != section_ || !(allKeys || row.writtenBySave)) continue;
        std::visit(Overloaded{
                       [&](std::string* text) { SetStringValue(row.key, *text); },
                       [&](int* number) { SetIntValue(row.key, *number); },
                       [&](bool* flag) { SetBoolValue(row.key, *flag); },
                   },
                   row.field(*this));
    }
    return transaction.Commit();
}

int CSettingCommon::WriteDefaults() {
    LOG_METHOD();
    if (!HasStore()) {
        LOG_TRACE("No profile store");
        return -1;
    }
    for (const SettingRow& row : SettingTable()) {
        if (row.section != section_) continue;
        std::visit(Overloaded{
                       [&](std::string* text) { *text = row.firstRunValue; },
                       [&](int* number) { *number = SettingIntValue(row.firstRunValue); },
                       [&](bool* flag) { *flag = row.firstRunValue == kTrue; },
                   },
                   row.field(*this));
    }
    FieldsRead();
    if (!WriteFields(true)) {
        LOG_ERROR("The defaults of " + section_ + " could not be written");
        return -1;
    }
    return 0;
}

}  // namespace tessarine
