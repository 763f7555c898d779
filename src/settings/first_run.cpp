#include "settings/first_run.h"

#include "base/app_log.h"
#include "settings/profile_store.h"
#include "settings/setting_table.h"

namespace tessarine {

int WriteFirstRunSettings(CProfileStore& store) {
    LOG_METHOD();
    CProfileStore::Transaction transaction(store);
    bool written = true;
    for (const SettingRow& row : SettingTable())
        written = store.WriteString(row.section, row.key, row.firstRunValue) && written;
    if (!written || !transaction.Commit()) {
        LOG_ERROR("The first-run settings could not be written to " + store.FilePath());
        return -1;
    }
    return 0;
}

int UpgradeProfile(CProfileStore& store) {
    LOG_METHOD();
    CProfileStore::Transaction transaction(store);
    for (const SettingRow& row : SettingTable()) {
        bool add = false;
        switch (row.upgrade) {
            case SettingUpgrade::kNone:
                break;
            case SettingUpgrade::kAddWhenMissing:
                add = !store.HasKey(row.section, row.key);
                break;
            case SettingUpgrade::kAddWhenMissingOrMinus1:
                add = store.GetInt(row.section, row.key, -1) == -1;
                break;
        }
        if (!add) continue;
        LOG_TRACE("Adding " + row.key);
        store.WriteString(row.section, row.key, row.firstRunValue);
    }
    if (!transaction.Commit()) {
        LOG_ERROR("The profile file " + store.FilePath() + " could not be brought up to date");
        return -1;
    }
    return 0;
}

}  // namespace tessarine
