// The restore window: the backup pairs, the tree of the chosen pair's copies on the device
// (each folder listed off the UI thread when it is first opened), check boxes, where to put
// them (their original place or a folder), a progress bar with Cancel, and a summary that lists
// what was not restored and why. While a restore runs the window holds the backup running flag,
// as a settings save does, so that no backup (and no mirroring) starts beside it.
#pragma once
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "backup/restore_engine.h"
#include "settings/setting_records.h"
#include "ui/restore_source.h"
#include "ui/settings_dialog_utility.h"

namespace tessarine::ui {

struct RestoreServices {
    // The stored pairs and a source over the stored device (read again each time the window
    // opens, so that saved settings take effect).
    std::function<BackupFolderPairs()> loadPairs;
    std::function<std::shared_ptr<RestoreSource>(const BackupFolderPairs&)> makeSource;
    // The backup running flag (null: none to hold).
    std::atomic<int>* backupExecuting = nullptr;
    // Called on the UI thread when the window took or gave back the flag.
    std::function<void()> backupFlagChanged;
    // A local folder chooser; "" when cancelled.
    std::function<std::string(QWidget* parent, const std::string& start)> chooseFolder;
    const CLrcReaderWrapper* strings = nullptr;
    MessagePresenter* messages = nullptr;
};

class CRestoreDlg : public QDialog {
    Q_OBJECT
public:
    explicit CRestoreDlg(RestoreServices& services, QWidget* parent = nullptr);
    ~CRestoreDlg() override;

    // Reads the pairs again and lists pair `pair` (0-based; -1 keeps the one chosen), unless
    // a restore runs.
    void Reload(int pair = -1);
    // The pair chosen (index into the stored pairs), -1 with none.
    int ChosenPair() const;
    void ChoosePair(int pair);
    // Starts listing `item`'s folder when it was not listed yet.
    void ExpandFolder(QTreeWidgetItem* item);
    // The local paths the ticks stand for: a fully ticked folder as one path.
    std::vector<std::string> TickedPaths() const;
    // Starts the restore of the ticked entries; false (after a warning) when nothing is ticked,
    // the folder is not usable or a backup runs.
    bool StartRestore();
    void CancelRestore();
    bool IsRunning() const { return worker_.joinable(); }
    bool IsListing() const { return listings_ > 0; }
    // The last restore's outcome (empty before one ended).
    const RestoreSummary& LastSummary() const { return summary_; }

    QTreeWidget* Tree() const { return tree_; }
    QTreeWidget* SkippedList() const { return skipped_; }
    QLabel* SummaryLabel() const { return summaryLabel_; }
    QLabel* StatusLabel() const { return status_; }
    QProgressBar* Progress() const { return progress_; }
    QRadioButton* OriginalPlace() const { return original_; }
    QRadioButton* ToFolder() const { return toFolder_; }
    QLineEdit* FolderEdit() const { return folder_; }
    QCheckBox* Overwrite() const { return overwrite_; }
    QPushButton* StartButton() const { return start_; }
    QPushButton* CancelButton() const { return cancel_; }

    // Escape or "閉じる": hides the window; while a restore runs, cancels it instead.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct Shared;
    void StartListing(QTreeWidgetItem* folder, int pair, std::vector<std::string> names);
    void ListingDone(QTreeWidgetItem* folder, unsigned generation,
                     const IoResult<std::vector<ShareEntry>>& result);
    void Poll();
    void Finish();
    void ShowSummary();
    void RefreshState();
    void ReleaseFlag();
    std::string PathOf(const QTreeWidgetItem* item) const;

    RestoreServices& services_;
    CDialogUtility utility_;
    BackupFolderPairs pairs_;
    std::vector<int> pairIndexes_;  // combo row -> pair number
    std::shared_ptr<RestoreSource> source_;
    unsigned generation_ = 0;  // listings of an older pair or source are dropped
    int listings_ = 0;
    int listedPair_ = -1;

    std::shared_ptr<Shared> shared_;
    std::thread worker_;
    bool flagHeld_ = false;
    QTimer poll_;
    RestoreSummary summary_;

    QComboBox* pairList_;
    QTreeWidget* tree_;
    QLabel* status_;
    QRadioButton* original_;
    QRadioButton* toFolder_;
    QLineEdit* folder_;
    QPushButton* browse_;
    QCheckBox* overwrite_;
    QProgressBar* progress_;
    QLabel* progressLabel_;
    QLabel* summaryLabel_;
    QTreeWidget* skipped_;
    QPushButton* start_;
    QPushButton* cancel_;
    QPushButton* close_;
};

}  // namespace tessarine::ui
