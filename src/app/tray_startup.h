// The tray mode's last start-up step: the tray window becomes the main window and receives the
// workers' messages. A desktop without a tray host gets one message box and a log line; the
// program keeps running its workers, and its windows stay reachable with --show.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/restore_wiring.h"
#include "app/settings_wiring.h"
#include "network/browser_utility.h"

namespace tessarine {

class CBackupUtilityApp;

namespace tray {
class CBackupUtilityAppTrayWnd;
class CQtMessageSink;
}  // namespace tray

class CTrayStartup {
public:
    // `sink` must be the application's MessageSink; `exitProgram` ends the event loop.
    CTrayStartup(CBackupUtilityApp& app, tray::CQtMessageSink& sink,
                 std::function<void()> exitProgram, bool useLogind = true);
    ~CTrayStartup();
    CTrayStartup(const CTrayStartup&) = delete;
    CTrayStartup& operator=(const CTrayStartup&) = delete;

    // The tray window once start-up made it; null before and when start-up ended earlier.
    tray::CBackupUtilityAppTrayWnd* Tray() const { return tray_.get(); }
    // True when start-up found no tray host and told the user so.
    bool WarnedNoTrayHost() const { return warnedNoTrayHost_; }
    // Replaces the look for a tray host (QSystemTrayIcon::isSystemTrayAvailable). Set it before
    // start-up.
    void SetTrayHostCheck(std::function<bool()> check) { trayHostCheck_ = std::move(check); }
    // After the warning, looked at every few seconds: once a tray host is there (autostart often
    // starts the program before the panel), the warning closes itself and the icon shows.
    // True when a tray host is there.
    bool CheckTrayHost();
    // Removes the icon and the windows (before the application stops its workers).
    void DestroyTray();

private:
    bool CreateTray();

    CBackupUtilityApp& app_;
    tray::CQtMessageSink& sink_;
    std::function<void()> exitProgram_;
    bool useLogind_;
    bool warnedNoTrayHost_ = false;
    std::function<bool()> trayHostCheck_;
    QPointer<QMessageBox> noTrayHostBox_;
    QTimer trayHostTimer_;
    XdgBrowserOpener opener_;
    std::unique_ptr<CBrowserUtility> browser_;
    std::unique_ptr<CSettingsWiring> settings_;  // outlives the tray's settings window
    std::unique_ptr<CRestoreWiring> restore_;    // outlives the tray's restore window
    std::unique_ptr<tray::CBackupUtilityAppTrayWnd> tray_;
};

}  // namespace tessarine
