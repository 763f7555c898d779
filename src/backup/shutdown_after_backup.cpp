#include "backup/shutdown_after_backup.h"

#include "backup/backup_execute.h"
#include "base/app_log.h"

namespace tessarine {

CShutdownAfterBackup::CShutdownAfterBackup(MessageSink& messageSink, CommandRunner& runner,
                                           std::atomic<int>& shutdownAfterBackup)
    : messageSink_(messageSink), runner_(runner), shutdownAfterBackup_(shutdownAfterBackup) {}

void CShutdownAfterBackup::AttachTo(CBackupExecute& executor) {
    executor.SetMessageBoxForShutdownBackup([this] { MessageBoxForShutdownBackup(); });
    executor.SetJudgeShutdown([this] { JudgeShutdown(); });
}

void CShutdownAfterBackup::MessageBoxForShutdownBackup() {
    LOG_METHOD();
    // A question of an earlier run that is still shown no longer decides anything.
    if (answer_) answer_->Close();
    answer_ = std::make_shared<ShutdownAnswer>();
    shutdownAfterBackup_.store(1);
    messageSink_.Post(ShutdownQuestion{answer_});
}

void CShutdownAfterBackup::JudgeShutdown() {
    LOG_METHOD();
    if (answer_) {
        if (answer_->State() == ShutdownAnswer::kNo) shutdownAfterBackup_.store(0);
        answer_->Close();
        answer_.reset();
    }
    if (shutdownAfterBackup_.load() != 1) {
        LOG_NOTICE("Cancel Shutdown");
        return;
    }
    LOG_NOTICE("Execute Shutdown");
    const int status = runner_.Run(ShutdownCommand());
    if (status != 0) LOG_ERROR("Shutdown Command Error. Status:" + std::to_string(status));
    messageSink_.Post(CloseMainWindow{});
}

std::vector<std::string> CShutdownAfterBackup::ShutdownCommand() {
    // The shell starts the delayed power-off in the background and returns, so the program can
    // close itself in the meantime.
    return {"sh", "-c",
            "(sleep 5; systemctl poweroff --message=\"$0\") </dev/null >/dev/null 2>&1 &",
            kShutdownComment};
}

}  // namespace tessarine
