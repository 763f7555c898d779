#include "app/backup_wiring.h"

#include <memory>

#include "app/backup_utility_app.h"
#include "backup/backup_execute.h"
#include "backup/backup_schedule.h"
#include "backup/backup_sql_utility.h"
#include "infra/app_log.h"
#include "platform/device_share_factory.h"

namespace tessarine {

void WireBackup(CBackupUtilityApp& app) {
    app.AddDatabaseInitializer([] { return CBackupSQLUtility::GetInstance().Initialize(); },
                               "Initialize Backup Table Error.");
    app.SetWorkerFactory(CBackupUtilityApp::kBackupSchedule, [&app](Platform& platform) {
        const ShareOptions options = ShareOptionsFromEnvironment();
        if (!options.problem.empty()) LOG_ERROR("Share Option Ignored. " + options.problem);
        auto makeExecutor = [&app, &platform, options]() -> std::unique_ptr<CBackupRunner> {
            return std::make_unique<CBackupExecute>(CBackupExecute::Dependencies{
                [options] { return MakeDeviceShare(options); }, CBackupSQLUtility::GetInstance(),
                platform.messageSink, platform.events, platform.clock,
                app.DataFolderPath() + "backup/", platform.systemInfo, nullptr, nullptr});
        };
        return std::make_unique<CBackupSchedule>(platform.clock, platform.events,
                                                 std::move(makeExecutor));
    });
}

}  // namespace tessarine
