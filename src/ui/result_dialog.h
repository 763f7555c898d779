// The result window (dialog 139): the backup page and the detection page on two tabs. Made once
// and kept; a request to show it may choose the tab by the kind of pop-up it came from.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

class QTabWidget;

namespace tessarine::ui {

class CLrcReaderWrapper;
class CDetectFileResultSource;
class CBackupResultDlg;
class CDetectFileResultDlg;

class CResultDlg : public QDialog {
    Q_OBJECT
public:
    CResultDlg(std::string backupFolderPath, CDetectFileResultSource& source,
               QWidget* parent = nullptr);
    ~CResultDlg() override;

    // 1125 selects the backup tab, 1126 the detection tab (whose list is read again); any other
    // kind keeps the tab. Then the window is shown and raised.
    void ShowForKind(int kind);

    QTabWidget* Tabs() const { return tabs_; }
    CBackupResultDlg* BackupPage() const { return backupPage_; }
    CDetectFileResultDlg* DetectPage() const { return detectPage_; }

private:
    std::unique_ptr<CLrcReaderWrapper> strings_;
    QTabWidget* tabs_;
    CBackupResultDlg* backupPage_;
    CDetectFileResultDlg* detectPage_;
};

}  // namespace tessarine::ui
