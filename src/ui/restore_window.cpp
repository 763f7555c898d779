#include "ui/restore_window.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <mutex>

#include "base/app_log.h"
#include "ui/dialog_keys.h"
#include "ui/strings/caption_apply.h"
#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"
#include "ui/window_placement.h"

namespace tessarine::ui {
namespace {

constexpr int kListingPollMs = 30;
constexpr int kProgressPollMs = 100;
constexpr int kProgressSteps = 1000;

constexpr int kNamesRole = Qt::UserRole;       // QStringList: the names below the destination
constexpr int kFolderRole = Qt::UserRole + 1;  // bool
constexpr int kListedRole = Qt::UserRole + 2;  // bool: a folder whose entries are in the tree

// What a listing thread hands back; the window polls it, so the thread never touches a widget
// and may outlive the window.
struct PendingListing {
    std::mutex mutex;
    bool done = false;
    IoResult<std::vector<ShareEntry>> result;
};

template <typename W>
W* Named(W* widget, unsigned id) {
    widget->setObjectName(ControlObjectName(id));
    return widget;
}

QString Q(const std::string& text) { return QString::fromStdString(text); }

// Replaces the "%s" marks of a pattern one after another.
QString Fill(const std::string& pattern, std::initializer_list<std::uint64_t> values) {
    std::string text = pattern;
    std::size_t from = 0;
    for (const std::uint64_t value : values) {
        const auto mark = text.find("%s", from);
        if (mark == std::string::npos) break;
        const std::string number = std::to_string(value);
        text.replace(mark, 2, number);
        from = mark + number.size();
    }
    return Q(text);
}

// Device names are not trusted: control characters are not shown as they are.
QString Printable(const std::string& text) {
    QString shown = Q(text);
    for (QChar& c : shown)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) c = QChar(u'?');
    return shown;
}

}  // namespace

// The running restore's state, shared with its thread.
struct CRestoreDlg::Shared {
    std::mutex mutex;
    RestoreProgress progress;  // `last` is not kept
    bool done = false;
    RestoreSummary summary;
    std::atomic<int> cancel{0};
};

CRestoreDlg::CRestoreDlg(RestoreServices& services, QWidget* parent)
    : QDialog(parent, Qt::Window),
      services_(services),
      utility_(*this, *services.strings, *services.messages) {
    const CLrcReaderWrapper& strings = *services.strings;
    setObjectName(ControlObjectName(kDlgRestore));
    setWindowTitle(Q(strings.Text(kStrRestoreTitle)));
    setAccessibleName(windowTitle());

    auto* pairLabel = Named(new QLabel(this), kStrRestorePairLabel);
    pairList_ = new QComboBox(this);
    pairLabel->setBuddy(pairList_);
    auto* treeLabel = Named(new QLabel(this), kStrRestoreTreeLabel);
    tree_ = new QTreeWidget(this);
    tree_->setObjectName(QStringLiteral("restoreTree"));
    tree_->setHeaderLabels({Q(strings.Text(kStrRestoreNameColumn)),
                            Q(strings.Text(kStrRestoreSizeColumn)),
                            Q(strings.Text(kStrRestoreTimeColumn))});
    tree_->setMinimumHeight(160);
    SizeColumnsToContents(*tree_->header(), 0);
    treeLabel->setBuddy(tree_);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("restoreStatus"));

    auto* targetGroup = Named(new QGroupBox(this), kStrRestoreTargetGroup);
    original_ = Named(new QRadioButton(targetGroup), kStrRestoreOriginal);
    original_->setChecked(true);
    toFolder_ = Named(new QRadioButton(targetGroup), kStrRestoreToFolder);
    folder_ = new QLineEdit(targetGroup);
    folder_->setObjectName(QStringLiteral("restoreFolder"));
    folder_->setAccessibleName(AccessibleNameOf(Q(strings.Text(kStrRestoreToFolder))));
    browse_ = Named(new QPushButton(targetGroup), kStrRestoreBrowse);
    overwrite_ = Named(new QCheckBox(targetGroup), kStrRestoreOverwrite);
    auto* tg = new QGridLayout(targetGroup);
    tg->addWidget(original_, 0, 0, 1, 3);
    tg->addWidget(toFolder_, 1, 0);
    tg->addWidget(folder_, 1, 1);
    tg->addWidget(browse_, 1, 2);
    tg->addWidget(overwrite_, 2, 0, 1, 3);
    tg->setColumnStretch(1, 1);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("restoreProgress"));
    progress_->setRange(0, kProgressSteps);
    progress_->setValue(0);
    progressLabel_ = new QLabel(this);
    progressLabel_->setObjectName(QStringLiteral("restoreProgressText"));
    summaryLabel_ = new QLabel(this);
    summaryLabel_->setObjectName(QStringLiteral("restoreSummary"));
    summaryLabel_->setWordWrap(true);
    summaryLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* skippedLabel = Named(new QLabel(this), kStrRestoreSkippedLabel);
    skipped_ = new QTreeWidget(this);
    skipped_->setObjectName(QStringLiteral("restoreSkipped"));
    skipped_->setRootIsDecorated(false);
    skipped_->setHeaderLabels(
        {Q(strings.Text(kStrErrorListPathColumn)), Q(strings.Text(kStrErrorListReasonColumn))});
    skipped_->setMinimumHeight(90);
    SizeColumnsToContents(*skipped_->header(), 0);
    skippedLabel->setBuddy(skipped_);

    start_ = Named(new QPushButton(this), kStrRestoreStart);
    start_->setDefault(true);
    cancel_ = Named(new QPushButton(this), kStrRestoreCancel);
    close_ = Named(new QPushButton(this), kStrRestoreClose);

    auto* grid = new QGridLayout(this);
    grid->addWidget(pairLabel, 0, 0);
    grid->addWidget(pairList_, 0, 1, 1, 2);
    grid->addWidget(treeLabel, 1, 0, 1, 3);
    grid->addWidget(tree_, 2, 0, 1, 3);
    grid->addWidget(status_, 3, 0, 1, 3);
    grid->addWidget(targetGroup, 4, 0, 1, 3);
    grid->addWidget(progress_, 5, 0, 1, 2);
    grid->addWidget(progressLabel_, 5, 2);
    grid->addWidget(summaryLabel_, 6, 0, 1, 3);
    grid->addWidget(skippedLabel, 7, 0, 1, 3);
    grid->addWidget(skipped_, 8, 0, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* button : {start_, cancel_, close_}) buttons->addWidget(button);
    grid->addLayout(buttons, 9, 0, 1, 3);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(2, 3);
    grid->setRowStretch(8, 1);

    ApplyCaptions(*this, kDlgRestore, strings);
    TabInLayoutOrder(*this);
    resize(700, 560);

    connect(pairList_, &QComboBox::activated, this, [this](int row) {
        if (row >= 0 && row < static_cast<int>(pairIndexes_.size())) ChoosePair(pairIndexes_[row]);
    });
    connect(tree_, &QTreeWidget::itemExpanded, this, &CRestoreDlg::ExpandFolder);
    connect(original_, &QRadioButton::toggled, this, &CRestoreDlg::RefreshState);
    connect(browse_, &QPushButton::clicked, this, [this] {
        if (!services_.chooseFolder) return;
        const std::string chosen = services_.chooseFolder(this, folder_->text().toStdString());
        if (!chosen.empty()) folder_->setText(Q(chosen));
    });
    connect(start_, &QPushButton::clicked, this, &CRestoreDlg::StartRestore);
    connect(cancel_, &QPushButton::clicked, this, &CRestoreDlg::CancelRestore);
    connect(close_, &QPushButton::clicked, this, &CRestoreDlg::reject);
    poll_.setInterval(kProgressPollMs);
    connect(&poll_, &QTimer::timeout, this, &CRestoreDlg::Poll);
    RefreshState();
}

CRestoreDlg::~CRestoreDlg() {
    if (worker_.joinable()) {
        shared_->cancel.store(1);
        worker_.join();
    }
    ReleaseFlag();
}

void CRestoreDlg::Reload(int pair) {
    if (IsRunning()) return;
    const int keep = pair >= 0 ? pair : ChosenPair();
    pairs_ = services_.loadPairs ? services_.loadPairs() : BackupFolderPairs{};
    source_ = services_.makeSource ? services_.makeSource(pairs_) : nullptr;
    pairIndexes_.clear();
    pairList_->clear();
    for (int i = 0; i < static_cast<int>(pairs_.size()); ++i) {
        const BackupFolderPair& p = pairs_[i];
        if (p.source.empty()) break;  // the pairs end at the first empty source
        if (p.destination.empty()) continue;
        pairIndexes_.push_back(i);
        pairList_->addItem(Q(p.source + "  →  " + p.destination));
    }
    listedPair_ = -1;
    ++generation_;
    listings_ = 0;
    tree_->clear();
    status_->clear();
    if (pairIndexes_.empty()) {
        status_->setText(Q(services_.strings->Text(kStrRestoreNoPairs)));
        RefreshState();
        return;
    }
    int chosen = pairIndexes_.front();
    for (const int index : pairIndexes_)
        if (index == keep) chosen = keep;
    ChoosePair(chosen);
}

int CRestoreDlg::ChosenPair() const {
    const int row = pairList_->currentIndex();
    return row >= 0 && row < static_cast<int>(pairIndexes_.size()) ? pairIndexes_[row] : -1;
}

void CRestoreDlg::ChoosePair(int pair) {
    if (IsRunning()) return;
    const auto found = std::find(pairIndexes_.begin(), pairIndexes_.end(), pair);
    if (found == pairIndexes_.end()) return;
    pairList_->setCurrentIndex(static_cast<int>(found - pairIndexes_.begin()));
    if (pair == listedPair_) return;
    ++generation_;
    listings_ = 0;
    listedPair_ = pair;
    tree_->clear();
    StartListing(nullptr, pair, {});
}

void CRestoreDlg::ExpandFolder(QTreeWidgetItem* item) {
    if (item == nullptr || !item->data(0, kFolderRole).toBool() ||
        item->data(0, kListedRole).toBool() || IsRunning())
        return;
    item->setData(0, kListedRole, true);  // one listing per folder, even while it runs
    std::vector<std::string> names;
    for (const QString& name : item->data(0, kNamesRole).toStringList())
        names.push_back(name.toStdString());
    StartListing(item, listedPair_, std::move(names));
}

void CRestoreDlg::StartListing(QTreeWidgetItem* folder, int pair, std::vector<std::string> names) {
    if (!source_) return;
    ++listings_;
    status_->setText(Q(services_.strings->Text(kStrRestoreListing)));
    RefreshState();
    const unsigned generation = generation_;
    auto pending = std::make_shared<PendingListing>();
    std::thread([pending, source = source_, pair, names = std::move(names)] {
        auto result = source->List(pair, names);
        std::lock_guard lock(pending->mutex);
        pending->result = std::move(result);
        pending->done = true;
    }).detach();
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this, poll, pending, folder, generation] {
        IoResult<std::vector<ShareEntry>> result;
        {
            std::lock_guard lock(pending->mutex);
            if (!pending->done) return;
            result = std::move(pending->result);
        }
        poll->deleteLater();
        ListingDone(folder, generation, result);
    });
    poll->start(kListingPollMs);
}

void CRestoreDlg::ListingDone(QTreeWidgetItem* folder, unsigned generation,
                              const IoResult<std::vector<ShareEntry>>& result) {
    // A listing of a pair (or a tree) no longer shown: its folder item may be gone.
    if (generation != generation_) return;
    --listings_;
    status_->clear();
    if (!result) {
        LOG_ERROR_CODE(result.error, "Restore Window Listing Failed.");
        status_->setText(Q(services_.strings->Text(kStrRestoreListError)));
        if (folder != nullptr) folder->setData(0, kListedRole, false);  // tried again on expand
        RefreshState();
        return;
    }
    const QStringList above =
        folder != nullptr ? folder->data(0, kNamesRole).toStringList() : QStringList();
    // New entries take their folder's tick: a ticked folder stands for all it holds.
    const Qt::CheckState tick =
        folder != nullptr && folder->checkState(0) == Qt::Checked ? Qt::Checked : Qt::Unchecked;
    QList<QTreeWidgetItem*> items;
    const QLocale locale(QLocale::Japanese);
    for (const ShareEntry& entry : result.value) {
        auto* item = new QTreeWidgetItem;
        item->setText(0, Printable(entry.name));
        QStringList names = above;
        names.push_back(Q(entry.name));
        item->setData(0, kNamesRole, names);
        item->setData(0, kFolderRole, entry.isFolder);
        Qt::ItemFlags flags = item->flags() | Qt::ItemIsUserCheckable;
        if (entry.isFolder) {
            flags |= Qt::ItemIsAutoTristate;
            item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        } else {
            item->setText(1, locale.toString(static_cast<qulonglong>(entry.size)));
            item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        }
        if (entry.lastWriteTime != 0)
            item->setText(2, QDateTime::fromSecsSinceEpoch(entry.lastWriteTime)
                                 .toString(QStringLiteral("yyyy/MM/dd HH:mm")));
        item->setFlags(flags);
        item->setCheckState(0, tick);
        items.push_back(item);
    }
    if (folder != nullptr) {
        folder->addChildren(items);
        if (items.isEmpty()) folder->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
    } else {
        tree_->addTopLevelItems(items);
        if (items.isEmpty()) status_->setText(Q(services_.strings->Text(kStrRestoreListEmpty)));
    }
    RefreshState();
}

std::string CRestoreDlg::PathOf(const QTreeWidgetItem* item) const {
    std::string path = listedPair_ >= 0 ? pairs_[listedPair_].source : std::string();
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    for (const QString& name : item->data(0, kNamesRole).toStringList()) {
        // In two steps: GCC 12 takes `"/" + name` appended at once for an overlapping copy.
        if (path != "/") path += '/';
        path += name.toStdString();
    }
    return path;
}

std::vector<std::string> CRestoreDlg::TickedPaths() const {
    std::vector<std::string> paths;
    std::function<void(QTreeWidgetItem*)> visit = [&](QTreeWidgetItem* item) {
        switch (item->checkState(0)) {
            case Qt::Checked:
                paths.push_back(PathOf(item));
                break;
            case Qt::PartiallyChecked:
                for (int i = 0; i < item->childCount(); ++i) visit(item->child(i));
                break;
            default:
                break;
        }
    };
    for (int i = 0; i < tree_->topLevelItemCount(); ++i) visit(tree_->topLevelItem(i));
    return paths;
}

bool CRestoreDlg::StartRestore() {
    if (IsRunning() || listedPair_ < 0) return false;
    RestoreRequest request;
    request.pairs = {listedPair_};
    request.paths = TickedPaths();
    request.overwrite = overwrite_->isChecked();
    if (request.paths.empty()) {
        utility_.ShowWarning(kStrRestoreNothingChosen);
        return false;
    }
    if (toFolder_->isChecked()) {
        std::string folder = folder_->text().trimmed().toStdString();
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        std::error_code error;
        if (folder.empty() || folder.front() != '/' ||
            !std::filesystem::is_directory(folder, error)) {
            utility_.ShowWarning(kStrRestoreBadFolder);
            return false;
        }
        request.targetFolder = folder;
    }
    // No backup, and so no mirroring, sees a half-restored tree.
    if (services_.backupExecuting != nullptr) {
        int idle = 0;
        if (!services_.backupExecuting->compare_exchange_strong(idle, 1)) {
            LOG_NOTICE("Restore Refused. A Backup Runs.");
            utility_.ShowWarning(kStrRestoreBusy);
            return false;
        }
        flagHeld_ = true;
        LOG_NOTICE("Restore Window Holds The Backup Running Flag.");
        if (services_.backupFlagChanged) services_.backupFlagChanged();
    }
    summary_ = RestoreSummary{};
    skipped_->clear();
    summaryLabel_->clear();
    progress_->setValue(0);
    progressLabel_->clear();
    shared_ = std::make_shared<Shared>();
    worker_ = std::thread([shared = shared_, source = source_, request] {
        RestoreSummary summary =
            source->Restore(request, &shared->cancel, [&shared](const RestoreProgress& progress) {
                std::lock_guard lock(shared->mutex);
                shared->progress = progress;
                shared->progress.last = nullptr;
            });
        std::lock_guard lock(shared->mutex);
        shared->summary = std::move(summary);
        shared->done = true;
    });
    poll_.start();
    RefreshState();
    return true;
}

void CRestoreDlg::CancelRestore() {
    if (!IsRunning()) return;
    LOG_NOTICE("Restore Cancel Requested.");
    shared_->cancel.store(1);
    progressLabel_->setText(Q(services_.strings->Text(kStrRestoreCancelling)));
    RefreshState();
}

void CRestoreDlg::Poll() {
    if (!IsRunning()) return;
    RestoreProgress progress;
    bool done = false;
    {
        std::lock_guard lock(shared_->mutex);
        progress = shared_->progress;
        done = shared_->done;
    }
    progress_->setValue(static_cast<int>(progress.Part(0.0) * kProgressSteps));
    if (shared_->cancel.load() == 0)
        progressLabel_->setText(Fill(services_.strings->Text(kStrRestoreProgress),
                                     {progress.filesDone, progress.filesTotal}));
    if (done) Finish();
}

void CRestoreDlg::Finish() {
    poll_.stop();
    worker_.join();
    {
        std::lock_guard lock(shared_->mutex);
        summary_ = std::move(shared_->summary);
    }
    ReleaseFlag();
    if (!summary_.cancelled && !summary_.deviceLost) progress_->setValue(kProgressSteps);
    progressLabel_->setText(Q(services_.strings->Text(kStrRestoreDone)));
    ShowSummary();
    RefreshState();
}

void CRestoreDlg::ReleaseFlag() {
    if (!flagHeld_) return;
    flagHeld_ = false;
    services_.backupExecuting->store(0);
    LOG_NOTICE("Restore Window Released The Backup Running Flag.");
    if (services_.backupFlagChanged) services_.backupFlagChanged();
}

void CRestoreDlg::ShowSummary() {
    const CLrcReaderWrapper& strings = *services_.strings;
    QString text = Fill(strings.Text(kStrRestoreSummary),
                        {summary_.restored, summary_.equal, summary_.skipped, summary_.failed});
    if (summary_.cancelled) text += QStringLiteral("\n") + Q(strings.Text(kStrRestoreCancelled));
    if (summary_.deviceLost) text += QStringLiteral("\n") + Q(strings.Text(kStrRestoreDeviceLost));
    summaryLabel_->setText(text);
    auto add = [&](const RestoreItem& item) {
        if (item.outcome == RestoreOutcome::kRestored || item.outcome == RestoreOutcome::kEqual)
            return;
        QString why = Q(strings.Text(kStrRestoreReasonFirst + static_cast<unsigned>(item.outcome)));
        if (item.error != 0)
            why += Fill(strings.Text(kStrRestoreErrorCode), {std::uint64_t(item.error)});
        const std::string& path = item.localPath.empty() ? item.devicePath : item.localPath;
        QString shown = Printable(path);
        if (item.outcome == RestoreOutcome::kRefusedName && !item.devicePath.empty())
            shown = Printable(item.devicePath);
        auto* row = new QTreeWidgetItem(skipped_);
        row->setText(0, shown);
        row->setText(1, why);
    };
    for (const RestoreItem& item : summary_.refused) add(item);
    for (const RestoreItem& item : summary_.files) add(item);
}

void CRestoreDlg::RefreshState() {
    const bool running = IsRunning();
    pairList_->setEnabled(!running);
    tree_->setEnabled(!running);
    original_->setEnabled(!running);
    toFolder_->setEnabled(!running);
    folder_->setEnabled(!running && toFolder_->isChecked());
    browse_->setEnabled(!running && toFolder_->isChecked());
    overwrite_->setEnabled(!running);
    start_->setEnabled(!running && listedPair_ >= 0 && source_ != nullptr);
    cancel_->setEnabled(running && shared_ && shared_->cancel.load() == 0);
}

void CRestoreDlg::reject() {
    if (IsRunning()) {
        CancelRestore();
        return;
    }
    QDialog::reject();
}

void CRestoreDlg::closeEvent(QCloseEvent* event) {
    if (IsRunning()) {
        CancelRestore();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

}  // namespace tessarine::ui
