#include "ui/settings_backup_page.h"

#include <QApplication>
#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "base/app_log.h"
#include "core/event_names.h"
#include "settings/profile_store.h"
#include "ui/settings_background.h"
#include "ui/settings_backup_rules.h"
#include "ui/strings/caption_apply.h"
#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"
#include "ui/window_placement.h"

namespace tessarine::ui {
namespace {

template <typename W>
W* Named(W* widget, unsigned id) {
    widget->setObjectName(ControlObjectName(id));
    return widget;
}

// Items "first" to "last"; numbers below 10 carry a leading blank.
QComboBox* NumberList(QWidget* parent, unsigned id, int first, int last) {
    auto* combo = Named(new QComboBox(parent), id);
    for (int n = first; n <= last; ++n)
        combo->addItem(QStringLiteral("%1").arg(n, 2, 10, QLatin1Char(' ')));
    return combo;
}

QLabel* Unit(QWidget* parent, unsigned id, QWidget* buddy) {
    auto* label = Named(new QLabel(parent), id);
    label->setBuddy(buddy);
    return label;
}

const QColor kLongPathColor(Qt::red);

void MarkLongPath(QLineEdit* edit) {
    QPalette palette = edit->palette();
    // QString counts UTF-16 units, as PathLength does.
    palette.setColor(QPalette::Text, static_cast<std::size_t>(edit->text().size()) > kMaxPathLength
                                         ? kLongPathColor
                                         : QApplication::palette().color(QPalette::Text));
    edit->setPalette(palette);
}

}  // namespace

CBackupSettingDlg::CBackupSettingDlg(SettingsServices& services, QWidget* parent)
    : QWidget(parent),
      services_(services),
      utility_(*this, *services.strings, *services.messages),
      setting_(services.store) {
    setObjectName(ControlObjectName(kDlgBackupSetting));
    auto* scheduleGroup = Named(new QGroupBox(this), 1113);
    schedule_ = Named(new QCheckBox(scheduleGroup), 1029);
    auto* kindGroup = new QButtonGroup(this);
    for (int k = 0; k < 4; ++k) {
        kinds_[k] = Named(new QRadioButton(scheduleGroup), 1030 + k);
        kindGroup->addButton(kinds_[k], k);
    }
    dateDay_ = NumberList(scheduleGroup, 1099, 1, 31);
    dateHour_ = NumberList(scheduleGroup, 1100, 0, 23);
    dateMinute_ = NumberList(scheduleGroup, 1101, 0, 59);
    for (int d = 0; d < 7; ++d) weekdays_[d] = Named(new QCheckBox(scheduleGroup), 1038 + d);
    weekdayHour_ = NumberList(scheduleGroup, 1102, 0, 23);
    weekdayMinute_ = NumberList(scheduleGroup, 1103, 0, 59);
    hourHour_ = NumberList(scheduleGroup, 1104, 0, 23);
    hourMinute_ = NumberList(scheduleGroup, 1105, 0, 59);
    interval_ = NumberList(scheduleGroup, 1106, 1, 23);

    auto* sg = new QGridLayout(scheduleGroup);
    auto addRow = [&](int row, int kind, std::vector<std::pair<QComboBox*, unsigned>> lists) {
        sg->addWidget(kinds_[kind], row, 0);
        auto* line = new QHBoxLayout;
        kindControls_[kind].clear();
        for (auto [combo, unitId] : lists) {
            QLabel* unit = Unit(scheduleGroup, unitId, combo);
            line->addWidget(combo);
            line->addWidget(unit);
            kindControls_[kind].push_back(combo);
            kindControls_[kind].push_back(unit);
        }
        line->addStretch();
        sg->addLayout(line, row, 1);
    };
    sg->addWidget(schedule_, 0, 0, 1, 2);
    addRow(1, 0, {{dateDay_, 1034}, {dateHour_, 1035}, {dateMinute_, 1036}});
    addRow(2, 1, {{weekdayHour_, 1046}, {weekdayMinute_, 1048}});
    auto* days = new QHBoxLayout;
    for (QCheckBox* day : weekdays_) {
        days->addWidget(day);
        kindControls_[1].push_back(day);
    }
    days->addStretch();
    sg->addLayout(days, 3, 1);
    addRow(4, 2, {{hourHour_, 1051}, {hourMinute_, 1053}});
    addRow(5, 3, {{interval_, 1056}});

    auto* folderGroup = Named(new QGroupBox(this), 1114);
    source_ = Named(new QLineEdit(folderGroup), 1097);
    destination_ = Named(new QLineEdit(folderGroup), 1098);
    auto* browseSource = Named(new QPushButton(folderGroup), 1061);
    auto* browseDestination = Named(new QPushButton(folderGroup), 1062);
    exclusions_ = Named(new QLineEdit(folderGroup), kCtlExclusions);
    exclusions_->setPlaceholderText(QStringLiteral("*.tmp; node_modules/; .cache/"));
    auto* setExclusions = Named(new QPushButton(folderGroup), kCtlSetExclusions);
    add_ = Named(new QPushButton(folderGroup), 1063);
    auto* copy = Named(new QPushButton(folderGroup), 1028);
    auto* remove = Named(new QPushButton(folderGroup), 1026);
    auto* files = Named(new QPushButton(folderGroup), 1027);
    auto* restore = Named(new QPushButton(folderGroup), kStrRestoreTitle);
    list_ = Named(new QTreeWidget(folderGroup), 1067);
    list_->setRootIsDecorated(false);
    list_->setHeaderLabels(
        {QString::fromStdString(services.strings->Caption(kDlgBackupSetting, 1059)),
         QString::fromStdString(services.strings->Caption(kDlgBackupSetting, 1060)),
         QString::fromStdString(
             services.strings->Caption(kDlgBackupSetting, kCtlExclusionsColumn))});
    SizeColumnsToContents(*list_->header(), 1);
    // The exclusion row above took 32 px: the list (which grows with the window) gives them back.
    list_->setMinimumHeight(88);
    auto* fg = new QGridLayout(folderGroup);
    fg->addWidget(Unit(folderGroup, 1059, source_), 0, 0);
    fg->addWidget(source_, 0, 1);
    fg->addWidget(browseSource, 0, 2);
    fg->addWidget(Unit(folderGroup, 1060, destination_), 1, 0);
    fg->addWidget(destination_, 1, 1);
    fg->addWidget(browseDestination, 1, 2);
    fg->addWidget(Unit(folderGroup, kCtlExclusionsLabel, exclusions_), 2, 0);
    fg->addWidget(exclusions_, 2, 1);
    fg->addWidget(setExclusions, 2, 2);
    auto* pairButtons = new QHBoxLayout;
    for (QPushButton* b : {add_, copy, remove, files, restore}) pairButtons->addWidget(b);
    pairButtons->addStretch();
    fg->addLayout(pairButtons, 3, 0, 1, 3);
    fg->addWidget(list_, 4, 0, 1, 3);

    auto* optionGroup = Named(new QGroupBox(this), 1115);
    whenShutdown_ = Named(new QCheckBox(optionGroup), 1064);
    whenStart_ = Named(new QCheckBox(optionGroup), 1116);
    notify_ = Named(new QCheckBox(optionGroup), 1065);
    deletedFiles_ = Named(new QCheckBox(optionGroup), 1066);
    auto* og = new QVBoxLayout(optionGroup);
    for (QCheckBox* box : {whenShutdown_, whenStart_, notify_, deletedFiles_}) og->addWidget(box);

    backupNow_ = Named(new QPushButton(this), 1057);
    ok_ = Named(new QPushButton(this), kCtlOk);
    auto* close = Named(new QPushButton(this), kCtlCancel);
    // The schedule and the options side by side: stacked, the page was taller than a laptop
    // screen less its panel.
    auto* page = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    top->addWidget(scheduleGroup, 1);
    top->addWidget(optionGroup, 0, Qt::AlignTop);
    page->addLayout(top);
    page->addWidget(folderGroup, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(backupNow_);
    bottom->addStretch();
    bottom->addWidget(ok_);
    bottom->addWidget(close);
    page->addLayout(bottom);

    ApplyCaptions(*this, kDlgBackupSetting, *services.strings);

    auto changed = [this] {
        if (loading_) return;
        ReadControls();
        RefreshControlState();
    };
    connect(schedule_, &QCheckBox::toggled, this, changed);
    connect(kindGroup, &QButtonGroup::idClicked, this, changed);
    for (QComboBox* combo : {dateDay_, dateHour_, dateMinute_, weekdayHour_, weekdayMinute_,
                             hourHour_, hourMinute_, interval_})
        connect(combo, &QComboBox::currentIndexChanged, this, changed);
    for (QCheckBox* box : weekdays_) connect(box, &QCheckBox::toggled, this, changed);
    for (QCheckBox* box : {whenShutdown_, whenStart_, notify_, deletedFiles_})
        connect(box, &QCheckBox::toggled, this, changed);
    for (QLineEdit* edit : {source_, destination_})
        connect(edit, &QLineEdit::textChanged, this, [edit] { MarkLongPath(edit); });
    connect(add_, &QPushButton::clicked, this, &CBackupSettingDlg::OnAdd);
    connect(copy, &QPushButton::clicked, this, &CBackupSettingDlg::OnCopy);
    connect(remove, &QPushButton::clicked, this, &CBackupSettingDlg::OnDelete);
    connect(files, &QPushButton::clicked, this, &CBackupSettingDlg::OnFileManagement);
    connect(restore, &QPushButton::clicked, this, &CBackupSettingDlg::OnRestore);
    connect(setExclusions, &QPushButton::clicked, this, &CBackupSettingDlg::OnSetExclusions);
    connect(browseSource, &QPushButton::clicked, this, [this] { Browse(source_, false); });
    connect(browseDestination, &QPushButton::clicked, this, [this] { Browse(destination_, true); });
    connect(backupNow_, &QPushButton::clicked, this, [this] {
        if (services_.signalEvent) services_.signalEvent(kEventBackupNow);
    });
    connect(ok_, &QPushButton::clicked, this, [this] {
        ReadControls();
        emit okRequested();
    });
    connect(close, &QPushButton::clicked, this, &CBackupSettingDlg::closeRequested);
    LoadValues();
}

void CBackupSettingDlg::LoadValues() {
    loading_ = true;
    setting_.Load();
    schedule_->setChecked(setting_.isSchedule);
    for (int k = 0; k < 4; ++k) kinds_[k]->setChecked(setting_.scheduleSetting == k);
    const std::pair<QComboBox*, int> lists[] = {{dateDay_, setting_.dateDay},
                                                {dateHour_, setting_.dateHour},
                                                {dateMinute_, setting_.dateMinute},
                                                {weekdayHour_, setting_.weekdayHour},
                                                {weekdayMinute_, setting_.weekdayMinute},
                                                {hourHour_, setting_.hourHour},
                                                {hourMinute_, setting_.hourMinute},
                                                {interval_, setting_.interval}};
    for (auto [combo, index] : lists) combo->setCurrentIndex(index < combo->count() ? index : -1);
    for (int d = 0; d < 7; ++d) weekdays_[d]->setChecked(setting_.weekdays[d]);
    whenShutdown_->setChecked(setting_.isBackupWhenShutdown);
    whenStart_->setChecked(setting_.isBackupWhenStart);
    notify_->setChecked(setting_.isNotifyBackupComplete);
    deletedFiles_->setChecked(setting_.isDeletedFileBackup);
    source_->clear();
    destination_->clear();
    exclusions_->clear();
    loading_ = false;
    FillList();
    PrefillDestination();
    RefreshControlState();
    RefreshBackupNow();
}

void CBackupSettingDlg::ReadControls() {
    setting_.isSchedule = schedule_->isChecked();
    for (int k = 0; k < 4; ++k)
        if (kinds_[k]->isChecked()) setting_.scheduleSetting = k;
    setting_.dateDay = dateDay_->currentIndex();
    setting_.dateHour = dateHour_->currentIndex();
    setting_.dateMinute = dateMinute_->currentIndex();
    for (int d = 0; d < 7; ++d) setting_.weekdays[d] = weekdays_[d]->isChecked();
    setting_.weekdayHour = weekdayHour_->currentIndex();
    setting_.weekdayMinute = weekdayMinute_->currentIndex();
    setting_.hourHour = hourHour_->currentIndex();
    setting_.hourMinute = hourMinute_->currentIndex();
    setting_.interval = interval_->currentIndex();
    setting_.isBackupWhenShutdown = whenShutdown_->isChecked();
    setting_.isBackupWhenStart = whenStart_->isChecked();
    setting_.isNotifyBackupComplete = notify_->isChecked();
    setting_.isDeletedFileBackup = deletedFiles_->isChecked();
}

bool CBackupSettingDlg::IsComplete() const { return IsScheduleComplete(setting_); }

bool CBackupSettingDlg::IsChangedFromStore() const {
    CBackupSetting stored(services_.store);
    stored.Load();
    return IsBackupSettingChanged(stored, setting_) != 0;
}

void CBackupSettingDlg::RefreshControlState() {
    for (auto& controls : kindControls_)
        for (QWidget* w : controls) w->setEnabled(false);
    for (QRadioButton* kind : kinds_) kind->setEnabled(setting_.isSchedule);
    if (setting_.isSchedule && setting_.scheduleSetting >= 0 && setting_.scheduleSetting < 4)
        for (QWidget* w : kindControls_[setting_.scheduleSetting]) w->setEnabled(true);
    ok_->setEnabled(IsComplete());
    add_->setEnabled(UsedPairCount(setting_.folderPairs) < kBackupFolderPairCount);
}

void CBackupSettingDlg::RefreshBackupNow() {
    const bool running =
        services_.backupExecuting != nullptr && services_.backupExecuting->load() == 1;
    backupNow_->setEnabled(!running);
}

void CBackupSettingDlg::FillList() {
    list_->clear();
    for (const auto& pair : setting_.folderPairs) {
        if (pair.source.empty()) break;
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, QString::fromStdString(pair.source));
        item->setText(1, QString::fromStdString(pair.destination));
        item->setText(2, QString::fromStdString(pair.exclusions));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
    }
    RefreshControlState();
}

void CBackupSettingDlg::OnRestore() {
    if (!services_.openRestore) return;
    // The one ticked pair, else the row under the cursor; rows are the pairs in order.
    const std::vector<bool> ticked = TickedRows();
    int pair = -1;
    if (std::count(ticked.begin(), ticked.end(), true) == 1)
        pair = static_cast<int>(std::find(ticked.begin(), ticked.end(), true) - ticked.begin());
    else if (QTreeWidgetItem* current = list_->currentItem())
        pair = list_->indexOfTopLevelItem(current);
    services_.openRestore(pair);
}

CCommonSetting CBackupSettingDlg::CurrentCommon() const {
    if (commonSource_) return commonSource_();
    CCommonSetting common(services_.store);
    common.Load();
    return common;
}

void CBackupSettingDlg::PrefillDestination() {
    const CCommonSetting common = CurrentCommon();
    if (destination_->text().isEmpty() && !common.ipv4Address.empty())
        destination_->setText(QString::fromStdString(DestinationRoot(common.ipv4Address)));
}

std::vector<bool> CBackupSettingDlg::TickedRows() const {
    std::vector<bool> ticked(kBackupFolderPairCount, false);
    for (int row = 0; row < list_->topLevelItemCount() && row < kBackupFolderPairCount; ++row)
        ticked[row] = list_->topLevelItem(row)->checkState(0) == Qt::Checked;
    return ticked;
}

int CBackupSettingDlg::SingleTickedRow() {
    const auto ticked = TickedRows();
    int found = -1;
    int count = 0;
    for (int row = 0; row < static_cast<int>(ticked.size()); ++row)
        if (ticked[row]) {
            found = row;
            ++count;
        }
    if (count == 1) return found;
    utility_.ShowWarning(count == 0 ? kStrPairNotChosen : kStrPairsMultipleChosen);
    return -1;
}

void CBackupSettingDlg::OnAdd() {
    const std::string source = source_->text().toStdString();
    const std::string destination = destination_->text().toStdString();
    const bool sourceExists = services_.folderExists ? services_.folderExists(source) : false;
    if (source.empty() || PathLength(source) > kMaxPathLength || !sourceExists ||
        (source.size() >= 2 && source.compare(source.size() - 2, 2, "\\\\") == 0)) {
        LOG_TRACE("Invalid Source Folder");
        utility_.ShowWarning(kStrBadSourceFolder);
        return;
    }
    if (services_.isNetworkPath && services_.isNetworkPath(source)) {
        LOG_TRACE("Source Folder can't set Network Folder");
        utility_.ShowWarning(kStrSourceNotLocal);
        return;
    }
    const CCommonSetting common = CurrentCommon();
    if (!IsValidDestination(destination, common.ipv4Address, common.hostName)) {
        LOG_TRACE("Invalid Destination Folder");
        utility_.ShowWarning(kStrBadDestinationFolder);
        return;
    }
    switch (AddFolderPair(setting_.folderPairs, source, destination)) {
        case AddPairResult::kDuplicate:
            LOG_TRACE("Same Backup Path Setting exists");
            utility_.ShowWarning(kStrPairExists);
            return;
        case AddPairResult::kFull:
            return;  // "追加" is disabled then
        case AddPairResult::kAdded:
            break;
    }
    setting_.folderPairs[UsedPairCount(setting_.folderPairs) - 1].exclusions =
        NormalizeExclusions(exclusions_->text().toStdString());
    FillList();
    if (list_->topLevelItemCount() > 0)
        list_->scrollToItem(list_->topLevelItem(list_->topLevelItemCount() - 1));
    source_->clear();
    destination_->clear();
    exclusions_->clear();
    PrefillDestination();
    CheckDestination(destination, common);
}

void CBackupSettingDlg::CheckDestination(const std::string& destination,
                                         const CCommonSetting& common) {
    if (!services_.shareFolders) return;
    std::shared_ptr<ShareFolderSource> source = services_.shareFolders(common);
    if (!source) return;
    ++deviceCalls_;
    RunOffUiThread<ShareFolderOutcome>(
        this, [source, destination] { return source->ProbeFolder(destination); },
        [this, source, destination](ShareFolderOutcome outcome) {
            --deviceCalls_;
            DestinationChecked(source, destination, outcome);
        });
}

void CBackupSettingDlg::DestinationChecked(const std::shared_ptr<ShareFolderSource>& source,
                                           const std::string& destination,
                                           const ShareFolderOutcome& outcome) {
    if (asking_) {
        // One question at a time: this answer waits until the open one is answered.
        ++deviceCalls_;
        QTimer::singleShot(100, this, [this, source, destination, outcome] {
            --deviceCalls_;
            DestinationChecked(source, destination, outcome);
        });
        return;
    }
    const CLrcReaderWrapper& strings = *services_.strings;
    if (outcome.Ok()) {
        LOG_TRACE("Destination Folder Exists. " + destination);
        return;
    }
    if (!outcome.Missing()) {
        LOG_ERROR("Destination Folder Not Checked. " + destination +
                  " error=" + std::to_string(outcome.error));
        utility_.ShowWarningText(FillMessage(strings.Text(kStrDestinationNotChecked), destination,
                                             DescribeShareFolderOutcome(outcome, strings)));
        return;
    }
    LOG_NOTICE("Destination Folder Missing. " + destination);
    asking_ = true;
    const bool create = services_.messages->AskYesNo(
        this, QString::fromStdString(strings.Text(kStrConfirmCaption)),
        FillMessage(strings.Text(kStrCreateDestinationQuestion), destination));
    asking_ = false;
    if (!create) return;
    ++deviceCalls_;
    RunOffUiThread<ShareFolderOutcome>(
        this, [source, destination] { return source->CreateFolder(destination); },
        [this, destination](ShareFolderOutcome made) {
            --deviceCalls_;
            DestinationCreated(destination, made);
        });
}

void CBackupSettingDlg::DestinationCreated(const std::string& destination,
                                           const ShareFolderOutcome& outcome) {
    const CLrcReaderWrapper& strings = *services_.strings;
    if (!outcome.Ok()) {
        utility_.ShowWarningText(FillMessage(strings.Text(kStrDestinationNotCreated), destination,
                                             DescribeShareFolderOutcome(outcome, strings)));
        return;
    }
    services_.messages->Information(this, QString::fromStdString(strings.Text(kStrSettingTitle)),
                                    FillMessage(strings.Text(kStrDestinationCreated), destination));
}

void CBackupSettingDlg::OnCopy() {
    const int row = SingleTickedRow();
    if (row < 0) return;
    source_->setText(QString::fromStdString(setting_.folderPairs[row].source));
    destination_->setText(QString::fromStdString(setting_.folderPairs[row].destination));
    exclusions_->setText(QString::fromStdString(setting_.folderPairs[row].exclusions));
}

void CBackupSettingDlg::OnSetExclusions() {
    const int row = SingleTickedRow();
    if (row < 0) return;
    setting_.folderPairs[row].exclusions = NormalizeExclusions(exclusions_->text().toStdString());
    FillList();
}

void CBackupSettingDlg::OnDelete() {
    const auto ticked = TickedRows();
    if (std::none_of(ticked.begin(), ticked.end(), [](bool t) { return t; })) {
        utility_.ShowWarning(kStrPairNotChosen);
        return;
    }
    DeleteFolderPairs(setting_.folderPairs, ticked);
    FillList();
}

void CBackupSettingDlg::OnFileManagement() {
    const int row = SingleTickedRow();
    if (row < 0) return;
    CCommonSetting common(services_.store);
    common.Load();
    const std::string url = FileManagementUrl(setting_.folderPairs[row].destination,
                                              common.ipv4Address, common.hostName);
    if (url.empty()) {
        LOG_ERROR("Destination is not on the device: " + setting_.folderPairs[row].destination);
        return;
    }
    if (services_.openBrowser)
        services_.openBrowser(url, common.userName, common.userPasswordStored);
}

void CBackupSettingDlg::Browse(QLineEdit* edit, bool destination) {
    std::string chosen;
    if (destination) {
        if (!services_.chooseDestinationFolder) return;
        chosen =
            services_.chooseDestinationFolder(this, edit->text().toStdString(), CurrentCommon());
    } else {
        if (!services_.chooseSourceFolder) return;
        chosen = services_.chooseSourceFolder(this, edit->text().toStdString());
    }
    if (!chosen.empty()) edit->setText(QString::fromStdString(chosen));
}

}  // namespace tessarine::ui
