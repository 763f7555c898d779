// The backup tab of the result window (dialog 140): when the last run started and ended, how it
// ended, how many entries it processed and how many succeeded ("N 件中 M 件成功"), and every
// failed path with its reason, read from "result.xml", "deteil_result.xml" and the reasons kept
// beside them. A destination folder missing on the device is named once above the list, with
// what to do. It never changes a file.
#pragma once

#include <QWidget>
#include <string>

class QLabel;
class QLineEdit;
class QTreeWidget;

namespace tessarine {
struct BackupErrorList;
}

namespace tessarine::ui {

class CLrcReaderWrapper;

class CBackupResultDlg : public QWidget {
    Q_OBJECT
public:
    // Control ids of the page's own additions (the dialog template ends at 1112).
    static constexpr unsigned kCtlCounts = 1113;  // "N 件中 M 件成功"
    static constexpr unsigned kCtlCause = 1114;   // the one cause of a run, when there is one

    // `backupFolderPath` ends with '/'.
    CBackupResultDlg(std::string backupFolderPath, const CLrcReaderWrapper& strings,
                     QWidget* parent = nullptr);

    // Reads the result files again (done each time the page is shown, and when a run ends while
    // it is open). A missing or broken "result.xml" is logged and leaves the times and result
    // as they were; a missing "deteil_result.xml" shows counts 0 and no paths; a broken one is
    // logged and leaves them. Reasons show only when the reasons file has the same counts as
    // the detail file (it belongs to the same run); else the paths show without reasons.
    void Reload();

signals:
    void CloseRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ReadClientResult();
    void ReadDetailResult();
    void ShowFailures(const BackupErrorList& list, bool withReasons);

    std::string backupFolderPath_;
    const CLrcReaderWrapper& strings_;
    QLineEdit* start_;
    QLineEdit* end_;
    QLineEdit* result_;
    QLineEdit* targetCount_;
    QLineEdit* processedCount_;
    QLabel* counts_;
    QLabel* cause_;
    QTreeWidget* failedPaths_;
};

}  // namespace tessarine::ui
