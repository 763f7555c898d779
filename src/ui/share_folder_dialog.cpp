#include "ui/share_folder_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QTimer>
#include <mutex>
#include <thread>

#include "base/app_log.h"
#include "ui/settings_background.h"
#include "ui/strings/caption_apply.h"
#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"
#include "ui/window_placement.h"

namespace tessarine::ui {
namespace {

constexpr int kPollMs = 30;

// What a listing thread hands back; the dialog polls it, so the thread never touches a widget
// and may outlive the dialog.
struct PendingListing {
    std::mutex mutex;
    bool done = false;
    IoResult<std::vector<std::string>> result;
};

template <typename W>
W* Named(W* widget, unsigned id) {
    widget->setObjectName(ControlObjectName(id));
    return widget;
}

}  // namespace

CFolderNameDlg::CFolderNameDlg(const CLrcReaderWrapper& strings, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QString::fromStdString(strings.Text(kStrNewFolderTitle)));
    auto* label = new QLabel(QString::fromStdString(strings.Text(kStrNewFolderName)), this);
    edit_ = Named(new QLineEdit(this), kCtlShareFolderNameEdit);
    edit_->setMinimumWidth(240);
    label->setBuddy(edit_);
    edit_->setAccessibleName(
        AccessibleNameOf(QString::fromStdString(strings.Text(kStrNewFolderName))));
    auto* ok = Named(new QPushButton(QStringLiteral("OK"), this), kCtlOk);
    ok->setDefault(true);
    auto* cancel = Named(
        new QPushButton(QString::fromStdString(strings.Text(kStrCancelButton)), this), kCtlCancel);
    for (QPushButton* button : {ok, cancel}) button->setAccessibleName(button->text());
    setAccessibleName(windowTitle());
    auto* grid = new QGridLayout(this);
    grid->addWidget(label, 0, 0);
    grid->addWidget(edit_, 0, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    grid->addLayout(buttons, 1, 0, 1, 2);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    edit_->setFocus();
}

CShareFolderDlg::CShareFolderDlg(std::shared_ptr<ShareFolderSource> source, std::string host,
                                 const CLrcReaderWrapper& strings, MessagePresenter& messages,
                                 QWidget* parent)
    : QDialog(parent),
      source_(std::move(source)),
      host_(std::move(host)),
      strings_(strings),
      utility_(*this, strings, messages) {
    setObjectName(ControlObjectName(kDlgShareFolder));
    setWindowTitle(QString::fromStdString(strings.Caption(kDlgShareFolder, kDlgShareFolder)));
    location_ = Named(new QLineEdit(this), kCtlShareFolderLocation);
    ShowAsReadOnly(*location_);
    folders_ = Named(new QListWidget(this), kCtlShareFolderList);
    folders_->setMinimumSize(360, 220);
    status_ = new QLabel(this);
    up_ = Named(new QPushButton(this), kCtlShareFolderUp);
    newFolder_ = Named(new QPushButton(this), kCtlShareFolderNew);
    ok_ = Named(new QPushButton(this), kCtlOk);
    ok_->setDefault(true);
    auto* cancel = Named(new QPushButton(this), kCtlCancel);
    auto* locationLabel = Named(new QLabel(this), kCtlShareFolderLocationLabel);
    locationLabel->setBuddy(location_);
    auto* listLabel = Named(new QLabel(this), kCtlShareFolderListLabel);
    listLabel->setBuddy(folders_);

    auto* grid = new QGridLayout(this);
    grid->addWidget(locationLabel, 0, 0);
    grid->addWidget(location_, 0, 1);
    grid->addWidget(up_, 0, 2);
    grid->addWidget(listLabel, 1, 0, 1, 3);
    grid->addWidget(folders_, 2, 0, 1, 3);
    grid->addWidget(status_, 3, 0, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(newFolder_);
    buttons->addStretch();
    buttons->addWidget(ok_);
    buttons->addWidget(cancel);
    grid->addLayout(buttons, 4, 0, 1, 3);

    ApplyCaptions(*this, kDlgShareFolder, strings);
    // From the string table, which a string container may override.
    newFolder_->setText(QString::fromStdString(strings.Text(kStrNewFolderButton)));
    newFolder_->setAccessibleName(AccessibleNameOf(newFolder_->text()));
    askName_ = [&strings](QWidget* parent) -> std::optional<std::string> {
        CFolderNameDlg dialog(strings, parent);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        return dialog.Name();
    };
    connect(newFolder_, &QPushButton::clicked, this, &CShareFolderDlg::NewFolder);
    connect(up_, &QPushButton::clicked, this, &CShareFolderDlg::GoUp);
    connect(ok_, &QPushButton::clicked, this, &CShareFolderDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CShareFolderDlg::reject);
    connect(folders_, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { OpenFolder(item->text().toStdString()); });
    connect(folders_, &QListWidget::itemSelectionChanged, this, &CShareFolderDlg::RefreshState);
    location_->setText(QString::fromStdString(CurrentFolder()));
    StartListing({});
}

CShareFolderDlg::~CShareFolderDlg() = default;

std::string CShareFolderDlg::PathOf(const std::vector<std::string>& parts) const {
    std::string path = "\\\\" + host_ + "\\";
    for (std::size_t i = 0; i < parts.size(); ++i) path += (i == 0 ? "" : "\\") + parts[i];
    return path;
}

std::string CShareFolderDlg::CurrentFolder() const { return PathOf(parts_); }

std::string CShareFolderDlg::ChosenFolder() const {
    std::vector<std::string> parts = parts_;
    const QList<QListWidgetItem*> selected = folders_->selectedItems();
    if (!selected.isEmpty()) parts.push_back(selected.front()->text().toStdString());
    return parts.empty() ? std::string() : PathOf(parts);
}

void CShareFolderDlg::OpenFolder(const std::string& name) {
    if (listing_ || name.empty()) return;
    std::vector<std::string> parts = parts_;
    parts.push_back(name);
    StartListing(std::move(parts));
}

void CShareFolderDlg::GoUp() {
    if (listing_ || parts_.empty()) return;
    std::vector<std::string> parts = parts_;
    parts.pop_back();
    StartListing(std::move(parts));
}

void CShareFolderDlg::NewFolder() {
    if (listing_ || parts_.empty() || !askName_) return;
    const std::optional<std::string> name = askName_(this);
    if (!name) return;
    if (!IsValidNewFolderName(*name)) {
        LOG_TRACE("New Folder Name Refused.");
        utility_.ShowWarning(kStrBadFolderName);
        return;
    }
    listing_ = true;
    const unsigned generation = ++generation_;
    status_->setText(
        QString::fromStdString(strings_.Caption(kDlgShareFolder, kCtlShareFolderListing)));
    RefreshState();
    std::vector<std::string> parts = parts_;
    parts.push_back(*name);
    RunOffUiThread<ShareFolderOutcome>(
        this, [source = source_, path = PathOf(parts)] { return source->CreateFolder(path); },
        [this, generation, name = *name](ShareFolderOutcome outcome) {
            FolderCreated(generation, name, outcome);
        });
}

void CShareFolderDlg::FolderCreated(unsigned generation, const std::string& name,
                                    const ShareFolderOutcome& outcome) {
    if (generation != generation_) return;
    listing_ = false;
    status_->clear();
    if (!outcome.Ok()) {
        RefreshState();
        utility_.ShowWarningText(FillMessage(strings_.Text(kStrFolderNotCreated), name,
                                             DescribeShareFolderOutcome(outcome, strings_)));
        return;
    }
    StartListing(parts_, name);
}

void CShareFolderDlg::StartListing(std::vector<std::string> parts, std::string select) {
    listing_ = true;
    const unsigned generation = ++generation_;
    status_->setText(
        QString::fromStdString(strings_.Caption(kDlgShareFolder, kCtlShareFolderListing)));
    RefreshState();
    auto pending = std::make_shared<PendingListing>();
    std::thread([pending, source = source_, path = PathOf(parts)] {
        auto result = source->ListFolders(path);
        std::lock_guard lock(pending->mutex);
        pending->result = std::move(result);
        pending->done = true;
    }).detach();
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this, poll, pending, generation, parts, select] {
        IoResult<std::vector<std::string>> result;
        {
            std::lock_guard lock(pending->mutex);
            if (!pending->done) return;
            result = std::move(pending->result);
        }
        poll->deleteLater();
        ListingDone(generation, parts, result, select);
    });
    poll->start(kPollMs);
}

void CShareFolderDlg::ListingDone(unsigned generation, std::vector<std::string> parts,
                                  const IoResult<std::vector<std::string>>& result,
                                  const std::string& select) {
    if (generation != generation_) return;
    listing_ = false;
    status_->clear();
    if (!result) {
        // The folder shown stays as it was, so the user can go on from there.
        RefreshState();
        LOG_ERROR("Share Folder List Error. folder=" + PathOf(parts) +
                  " error=" + std::to_string(result.error));
        utility_.ShowWarningText(QString::fromStdString(
            strings_.Caption(kDlgShareFolder, kCtlShareFolderError) + "\n" + PathOf(parts)));
        return;
    }
    parts_ = std::move(parts);
    location_->setText(QString::fromStdString(CurrentFolder()));
    folders_->clear();
    for (const std::string& name : result.value) {
        folders_->addItem(QString::fromStdString(name));
        if (name == select) folders_->setCurrentRow(folders_->count() - 1);
    }
    if (result.value.empty())
        status_->setText(
            QString::fromStdString(strings_.Caption(kDlgShareFolder, kCtlShareFolderEmpty)));
    RefreshState();
}

void CShareFolderDlg::RefreshState() {
    folders_->setEnabled(!listing_);
    up_->setEnabled(!listing_ && !parts_.empty());
    newFolder_->setEnabled(!listing_ && !parts_.empty());
    ok_->setEnabled(!listing_ && !ChosenFolder().empty());
}

void CShareFolderDlg::accept() {
    if (listing_) return;
    if (ChosenFolder().empty()) return;
    QDialog::accept();
}

std::string BrowseShareFolder(QWidget* parent, std::shared_ptr<ShareFolderSource> source,
                              const std::string& host, const CLrcReaderWrapper& strings,
                              MessagePresenter& messages) {
    CShareFolderDlg dialog(std::move(source), host, strings, messages, parent);
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.ChosenFolder();
}

}  // namespace tessarine::ui
