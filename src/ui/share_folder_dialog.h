// A small folder browser over the device share (which is not mounted on this PC): it starts
// at "\\address\", lists folders only, goes down and up, and gives the chosen folder's UNC
// path. Each listing runs on a thread of its own, so a silent server leaves the dialog usable
// (Cancel closes it; the late answer is dropped). 新しいフォルダー makes a folder in the one
// shown (its name asked in a small dialog), likewise off the UI thread, and selects it.
#pragma once
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/settings_dialog_utility.h"
#include "ui/share_folder_source.h"

namespace tessarine::ui {

// Asks the name of a new folder: 名前 [edit] with OK (the default button) and キャンセル.
class CFolderNameDlg : public QDialog {
    Q_OBJECT
public:
    CFolderNameDlg(const CLrcReaderWrapper& strings, QWidget* parent = nullptr);
    std::string Name() const { return edit_->text().toStdString(); }

private:
    QLineEdit* edit_;
};

class CShareFolderDlg : public QDialog {
    Q_OBJECT
public:
    CShareFolderDlg(std::shared_ptr<ShareFolderSource> source, std::string host,
                    const CLrcReaderWrapper& strings, MessagePresenter& messages,
                    QWidget* parent = nullptr);
    ~CShareFolderDlg() override;

    // "\\host\" at the root, else "\\host\share\a" (no trailing separator).
    std::string CurrentFolder() const;
    // The folder OK gives: the selected row's folder, else the folder shown; "" at the root
    // with no row selected (the root is no destination).
    std::string ChosenFolder() const;
    bool IsListing() const { return listing_; }

    // Lists the named folder of the one shown, or the one above; the shown folder changes
    // when the listing arrives. Refused while a listing runs.
    void OpenFolder(const std::string& name);
    void GoUp();
    // Asks a name and makes that folder in the one shown (refused at the root and while a
    // listing runs); an invalid name is refused with a message.
    void NewFolder();
    // How NewFolder asks the name (tests answer without a window); nothing when cancelled.
    void SetNameAsker(std::function<std::optional<std::string>(QWidget* parent)> ask) {
        askName_ = std::move(ask);
    }

    void accept() override;

private:
    void StartListing(std::vector<std::string> parts, std::string select = "");
    void ListingDone(unsigned generation, std::vector<std::string> parts,
                     const IoResult<std::vector<std::string>>& result, const std::string& select);
    void FolderCreated(unsigned generation, const std::string& name,
                       const ShareFolderOutcome& outcome);
    void RefreshState();
    std::string PathOf(const std::vector<std::string>& parts) const;

    std::shared_ptr<ShareFolderSource> source_;
    std::string host_;
    const CLrcReaderWrapper& strings_;
    CDialogUtility utility_;
    std::vector<std::string> parts_;  // below the host; empty at the root
    bool listing_ = false;
    unsigned generation_ = 0;
    QLineEdit* location_;
    QListWidget* folders_;
    QLabel* status_;
    QPushButton* up_;
    QPushButton* newFolder_;
    QPushButton* ok_;
    std::function<std::optional<std::string>(QWidget*)> askName_;
};

// Shows the browser modally; the chosen folder, or "" when cancelled.
std::string BrowseShareFolder(QWidget* parent, std::shared_ptr<ShareFolderSource> source,
                              const std::string& host, const CLrcReaderWrapper& strings,
                              MessagePresenter& messages);

}  // namespace tessarine::ui
