#include "settings/setting_common.h"

#include <atomic>
#include <utility>

#include "infra/string_utility.h"
#include "settings/profile_store.h"

namespace tessarine {

namespace {

std::atomic<CProfileStore*> defaultProfileStore{nullptr};

constexpr char kTrue[] = "TRUE";

}  // namespace

void SetDefaultProfileStore(CProfileStore* store) { defaultProfileStore.store(store); }

CProfileStore* GetDefaultProfileStore() { return defaultProfileStore.load(); }

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

}  // namespace tessarine
