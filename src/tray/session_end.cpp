#include "tray/session_end.h"

#include "base/app_log.h"
#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"

namespace tessarine::tray {

CSessionEndGuard::CSessionEndGuard(Actions actions) : actions_(std::move(actions)) {}

bool CSessionEndGuard::OnQueryEndSession() {
    LOG_METHOD();
    if (!actions_.isBackupWhenShutdown || !actions_.isBackupWhenShutdown()) return true;
    if (actions_.blockShutdown) actions_.blockShutdown(ui::LoadText(ui::kStrBackupRunning));
    if (!shutdownBackupRunning_) {
        LOG_NOTICE("Start Backup For Shutdown");
        shutdownBackupRunning_ = true;
        if (actions_.hideWindows) actions_.hideWindows();
        if (actions_.startShutdownBackup) actions_.startShutdownBackup();
    }
    return false;
}

void CSessionEndGuard::OnShutdownBackupComplete() {
    LOG_NOTICE("Finish Backup For Shutdown");
    shutdownBackupRunning_ = false;
    if (actions_.unblockShutdown) actions_.unblockShutdown();
}

}  // namespace tessarine::tray
