// The windows the tray opens, one function each, so the real windows replace the placeholders
// in one place: the settings window, the restore window, the result window (on a tab), the
// version box and the notification pop-up. Each window is made on first use, kept, and shown again
// on the next request.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QTabWidget>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "core/message_sink.h"

namespace tessarine {
class CDetectFileResultSQLUtility;
namespace ui {
class CDetectFileResultSource;
class CResultDlg;
class CNotifyBalloonDlg;
}  // namespace ui
}  // namespace tessarine

namespace tessarine::tray {

class CAppWindows {
public:
    // `showResult` is what the pop-up's "結果" button asks for (WM_SHOW_RESULT with its kind).
    // `backupFolderPath`: where the result files are; `detectFileResults`: the stored detection
    // results (null: the detection page stays empty); `programVersion` for the version box.
    explicit CAppWindows(std::function<void(int kind)> showResult,
                         std::string backupFolderPath = {},
                         CDetectFileResultSQLUtility* detectFileResults = nullptr,
                         std::string programVersion = {});
    ~CAppWindows();
    CAppWindows(const CAppWindows&) = delete;
    CAppWindows& operator=(const CAppWindows&) = delete;

    void ShowSettings();
    // Makes the real settings window on its first request; without it a placeholder is shown.
    void SetSettingsWindowFactory(std::function<QDialog*()> factory) {
        settingsFactory_ = std::move(factory);
    }
    // The restore window with pair `pair` chosen (-1: the one chosen before); nothing without
    // a factory.
    void ShowRestore(int pair);
    void SetRestoreWindowFactory(std::function<QDialog*()> factory) {
        restoreFactory_ = std::move(factory);
    }
    // `kind` 1125 opens the backup tab, 1126 the detection tab, anything else keeps the tab.
    void ShowResult(int kind);
    void ShowVersion();
    void ShowBalloon(const BalloonRequest& request);
    // The backup-executing flag changed: the settings window's "今すぐバックアップする".
    void RefreshBackupNow();
    // A run started or ended: an open result window reads the result files again.
    void RefreshBackupResult();
    // Session end: the settings, result and version windows that exist are hidden.
    void HideForShutdown();

    // For tests: the windows made so far (null before their first request).
    QDialog* SettingsWindow() const { return settings_; }
    QDialog* RestoreWindow() const { return restore_; }
    QDialog* ResultWindow() const;
    QDialog* VersionWindow() const { return version_; }
    QDialog* BalloonWindow() const;
    int ResultTab() const;

private:
    std::function<void(int kind)> showResult_;
    std::function<QDialog*()> settingsFactory_;
    QPointer<QDialog> settings_;
    std::function<QDialog*()> restoreFactory_;
    QPointer<QDialog> restore_;
    std::string backupFolderPath_;
    std::unique_ptr<ui::CDetectFileResultSource> resultSource_;
    std::string programVersion_;
    QPointer<ui::CResultDlg> result_;
    QPointer<QDialog> version_;
    QPointer<ui::CNotifyBalloonDlg> balloon_;
};

}  // namespace tessarine::tray
