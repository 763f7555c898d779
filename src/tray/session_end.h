// What the tray does when the desktop session is about to end: with "IsBackupWhenShutdown" on,
// the end is refused, the open windows are hidden and the backup before shutdown is started
// once ("BackupWindowsShutDown"); further queries during that backup are refused without a
// second start. With it off, the session may end at once.
#pragma once

#include <functional>
#include <string>

namespace tessarine::tray {

class CSessionEndGuard {
public:
    struct Actions {
        std::function<bool()> isBackupWhenShutdown;  // the stored setting, read at each query
        std::function<void()> hideWindows;           // settings, result and version windows
        std::function<void()> startShutdownBackup;   // signals "BackupWindowsShutDown"
        // Holds the shutdown back with the reason shown to the user (string 10045), and lets
        // it go; either may be empty.
        std::function<void(const std::string& reason)> blockShutdown;
        std::function<void()> unblockShutdown;
    };

    explicit CSessionEndGuard(Actions actions);

    // True when the session may end now.
    bool OnQueryEndSession();
    // The backup before shutdown has ended (WM_SHUTDOWN_BACKUP_COMPLETE).
    void OnShutdownBackupComplete();
    bool IsShutdownBackupRunning() const { return shutdownBackupRunning_; }

private:
    Actions actions_;
    bool shutdownBackupRunning_ = false;
};

}  // namespace tessarine::tray
