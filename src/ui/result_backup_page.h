// The backup tab of the result window (dialog 140): when the last run started and ended, how it
// ended, how many entries it processed and how many succeeded, and the paths that failed, read
// from "result.xml" and "deteil_result.xml" in the backup folder. It never changes a file.
#pragma once

#include <QWidget>
#include <string>

class QLineEdit;
class QListWidget;

namespace tessarine::ui {

class CLrcReaderWrapper;

class CBackupResultDlg : public QWidget {
    Q_OBJECT
public:
    // `backupFolderPath` ends with '/'.
    CBackupResultDlg(std::string backupFolderPath, const CLrcReaderWrapper& strings,
                     QWidget* parent = nullptr);

    // Reads both result files again (done each time the page is shown). A missing or broken
    // "result.xml" is logged and leaves the times and result as they were; a missing
    // "deteil_result.xml" shows counts 0 and no paths; a broken one is logged and leaves them.
    void Reload();

signals:
    void CloseRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ReadClientResult();
    void ReadDetailResult();

    std::string backupFolderPath_;
    const CLrcReaderWrapper& strings_;
    QLineEdit* start_;
    QLineEdit* end_;
    QLineEdit* result_;
    QLineEdit* targetCount_;
    QLineEdit* processedCount_;
    QListWidget* failedPaths_;
};

}  // namespace tessarine::ui
