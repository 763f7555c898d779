#include "app/restore_wiring.h"

#include <QFileDialog>

#include "app/backup_utility_app.h"
#include "backup/restore_marks.h"
#include "base/app_log.h"
#include "platform/device_share_factory.h"
#include "settings/setting_records.h"

namespace tessarine {

CRestoreWiring::CRestoreWiring(CBackupUtilityApp& app, std::function<void()> flagChanged) {
    CProfileStore* store = app.ProfileStore();
    services_.loadPairs = [store] {
        CBackupSetting backup(store);
        backup.Load();
        return backup.folderPairs;
    };
    const std::string databasePath = app.DataFolderPath() + app.ExecutableTitle() + ".db";
    const std::string marksPath = RestoreMarksPath(app.DataFolderPath(), app.ExecutableTitle());
    services_.makeSource = [store, databasePath, marksPath](const BackupFolderPairs& pairs) {
        CCommonSetting common(store);
        common.Load();
        ShareOptions options = ShareOptionsFromEnvironment();
        if (!options.problem.empty()) LOG_ERROR("Share Option Ignored. " + options.problem);
        return std::make_shared<ui::DeviceRestoreSource>(
            MakeDeviceShare(options), common.ipv4Address, common.userName, common.userPassword,
            pairs, databasePath, marksPath);
    };
    services_.backupExecuting = &app.BackupExecutingForSave();
    services_.backupFlagChanged = std::move(flagChanged);
    services_.chooseFolder = [](QWidget* parent, const std::string& start) {
        return QFileDialog::getExistingDirectory(parent, QString(), QString::fromStdString(start))
            .toStdString();
    };
    services_.strings = &strings_;
    services_.messages = &messages_;
}

QDialog* CRestoreWiring::MakeWindow() { return new ui::CRestoreDlg(services_); }

}  // namespace tessarine
