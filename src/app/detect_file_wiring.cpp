#include "app/detect_file_wiring.h"

#include <memory>

#include "app/backup_utility_app.h"
#include "base/app_log.h"
#include "detection/detect_file_execute.h"
#include "detection/detect_file_schedule.h"
#include "detection/detect_file_sql_utility.h"
#include "platform/device_share_factory.h"
#include "platform/posix/mount_drive_list.h"

namespace tessarine {

void WireDetectFile(CBackupUtilityApp& app, const std::string& copierProgram) {
    app.AddDatabaseInitializer([&app] { return app.DetectFileList().Initialize(); },
                               "Initialize Detect File Table Error.");
    app.SetWorkerFactory(
        CBackupUtilityApp::kDetectFileSchedule, [&app, copierProgram](Platform& platform) {
            ShareOptions options = ShareOptionsFromEnvironment();
            options.copierExecutable = copierProgram;
            if (!options.problem.empty()) LOG_ERROR("Share Option Ignored. " + options.problem);
            std::string drivesProblem;
            std::shared_ptr<FixedDriveList> drives = FixedDriveListFromEnvironment(drivesProblem);
            if (!drivesProblem.empty()) LOG_ERROR("Drive Option Ignored. " + drivesProblem);
            // Taken here, on the main thread during start-up; every run gets the same objects.
            CDetectFileSQLUtility& fileList = app.DetectFileList();
            auto makeExecutor = [&app, &platform, &fileList, options,
                                 drives]() -> WorkerPtr<CThreadCommon> {
                return MakeWorker<CDetectFileExecute>(CDetectFileExecute::Dependencies{
                    .shareFactory = [options] { return MakeDeviceShare(options); },
                    .fileList = fileList,
                    .messageSink = platform.messageSink,
                    .clock = platform.clock,
                    .systemInfo = platform.systemInfo,
                    .loadCommonSetting = {},
                    .profileStore = app.ProfileStore(),
                    .detectFileFolderPath = app.DataFolderPath() + "detectfile/",
                    // The program's own files (settings, database, results) are never sent.
                    .excludedFolders = {app.DataFolderPath()},
                    .localFileSystem = nullptr,
                    .driveList = drives,
                });
            };
            return MakeWorker<CDetectFileSchedule>(platform.clock, platform.events, fileList,
                                                   std::move(makeExecutor));
        });
}

}  // namespace tessarine
