#include "app/backup_wiring.h"

#include <memory>

#include "app/backup_utility_app.h"
#include "backup/backup_execute.h"
#include "backup/backup_schedule.h"
#include "backup/backup_sql_utility.h"
#include "backup/restore_marks.h"
#include "backup/shutdown_after_backup.h"
#include "base/app_log.h"
#include "platform/device_share_factory.h"

namespace tessarine {

void WireBackup(CBackupUtilityApp& app, const std::string& copierProgram,
                CommandRunner* shutdownRunner) {
    app.AddDatabaseInitializer([&app] { return app.BackupFileList().Initialize(); },
                               "Initialize Backup Table Error.");
    app.SetWorkerFactory(CBackupUtilityApp::kBackupSchedule, [&app, copierProgram,
                                                              shutdownRunner](Platform& platform) {
        ShareOptions options = ShareOptionsFromEnvironment();
        options.copierExecutable = copierProgram;
        if (!options.problem.empty()) LOG_ERROR("Share Option Ignored. " + options.problem);
        // Taken here, on the main thread during start-up; every run gets the same objects.
        CBackupSQLUtility& fileList = app.BackupFileList();
        std::shared_ptr<CShutdownAfterBackup> shutdown;
        if (shutdownRunner != nullptr) {
            shutdown = std::make_shared<CShutdownAfterBackup>(platform.messageSink, *shutdownRunner,
                                                              app.ShutdownAfterBackup());
        }
        auto makeExecutor = [&app, &platform, &fileList, options,
                             shutdown]() -> WorkerPtr<CBackupRunner> {
            auto executor = MakeWorker<CBackupExecute>(CBackupExecute::Dependencies{
                .shareFactory = [options] { return MakeDeviceShare(options); },
                .fileList = fileList,
                .messageSink = platform.messageSink,
                .namedEvents = platform.events,
                .clock = platform.clock,
                .backupFolderPath = app.DataFolderPath() + "backup/",
                .systemInfo = platform.systemInfo,
                .loadCommonSetting = {},
                .loadBackupSetting = {},
                .profileStore = app.ProfileStore(),
                .progress = app.Progress(),
                .shutdownAfterBackup = app.ShutdownAfterBackup(),
                .restoreMarksPath = RestoreMarksPath(app.DataFolderPath(), app.ExecutableTitle()),
            });
            if (shutdown) shutdown->AttachTo(*executor);
            return executor;
        };
        auto schedule = MakeWorker<CBackupSchedule>(platform.clock, platform.events,
                                                    app.ProfileStore(), std::move(makeExecutor));
        schedule->SetNextRunTime(&app.Progress().nextRunTime);
        return schedule;
    });
}

}  // namespace tessarine
