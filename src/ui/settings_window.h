// The settings window: the common, backup and detection pages on tabs, and the one OK that
// checks them, tests the device login and saves all three sections.
#pragma once
#include <QDialog>
#include <QTabWidget>

#include "ui/settings_backup_page.h"
#include "ui/settings_common_page.h"
#include "ui/settings_detect_page.h"
#include "ui/settings_services.h"

namespace tessarine::ui {

class CSettingDlg : public QDialog {
    Q_OBJECT
public:
    explicit CSettingDlg(SettingsServices& services, QWidget* parent = nullptr);

    CCommonSettingDlg& CommonPage() { return *common_; }
    CBackupSettingDlg& BackupPage() { return *backup_; }
    CDetectFileSettingDlg& DetectPage() { return *detect_; }
    QTabWidget& Tabs() { return *tabs_; }

    // The save; true when everything was saved.
    bool Save();
    // "閉じる" or Escape: every page reloads and the window hides.
    void reject() override;
    // OK on any page: the save; the window stays open.
    void accept() override { Save(); }
    void RefreshBackupNow() { backup_->RefreshBackupNow(); }

    static constexpr char kDesktopLinkName[] = "Tessarine.desktop";

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void OnTabChanged(int index);
    bool ClearBackupSetting();
    bool UpdateBackupSetting();
    void CreateDesktopLink(const std::string& address);
    void SetBusy(bool busy);

    SettingsServices& services_;
    CDialogUtility utility_;
    QTabWidget* tabs_;
    CCommonSettingDlg* common_;
    CBackupSettingDlg* backup_;
    CDetectFileSettingDlg* detect_;
    int shownPage_ = 0;
    bool revertingTab_ = false;
};

}  // namespace tessarine::ui
