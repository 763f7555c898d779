#include "app/detect_result_wiring.h"

#include "app/backup_utility_app.h"
#include "base/app_log.h"
#include "detection/detect_file_result_check.h"
#include "detection/detect_file_result_sql_utility.h"
#include "platform/device_share_factory.h"

namespace tessarine {

void WireDetectFileResult(CBackupUtilityApp& app) {
    app.AddDatabaseInitializer([&app] { return app.DetectFileResults().Initialize(); },
                               "Initialize Detect File Result Table Error.");
    app.SetWorkerFactory(CBackupUtilityApp::kDetectFileResultCheck, [&app](Platform& platform) {
        const ShareOptions options = ShareOptionsFromEnvironment();
        if (!options.problem.empty()) LOG_ERROR("Share Option Ignored. " + options.problem);
        return MakeWorker<CDetectFileResultCheck>(CDetectFileResultCheck::Dependencies{
            .shareFactory = [options] { return MakeDeviceShare(options); },
            // Taken here, on the main thread during start-up.
            .results = app.DetectFileResults(),
            .messageSink = platform.messageSink,
            .namedEvents = platform.events,
            .clock = platform.clock,
            .resultFolderPath = app.DataFolderPath() + "detectfile/result/",
            .systemInfo = platform.systemInfo,
            .loadCommonSetting = {},
            .loadDetectFileSetting = {},
            .profileStore = app.ProfileStore(),
        });
    });
}

}  // namespace tessarine
