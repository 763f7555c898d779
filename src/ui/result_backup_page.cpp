#include "ui/result_backup_page.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <set>

#include "backup/backup_error_list.h"
#include "backup/backup_xml_utility.h"
#include "backup/failure_reason_file.h"
#include "base/app_exception.h"
#include "base/app_log.h"
#include "ui/result_text.h"
#include "ui/strings/caption_apply.h"
#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"
#include "ui/window_placement.h"

namespace tessarine::ui {
namespace {

// Codes 3 and 4 of the result-file exception have no message text: name them by number.
std::string DescribeException(const CAppException& e) {
    std::string message = e.GetErrorMessage();
    return message.empty() ? "Error Code:" + std::to_string(e.GetErrorCode()) : message;
}

}  // namespace

CBackupResultDlg::CBackupResultDlg(std::string backupFolderPath, const CLrcReaderWrapper& strings,
                                   QWidget* parent)
    : QWidget(parent), backupFolderPath_(std::move(backupFolderPath)), strings_(strings) {
    setObjectName(ControlObjectName(kDlgBackupResult));
    auto* grid = new QGridLayout;
    auto addField = [&](unsigned labelId, unsigned editId, int row, int column) {
        auto* label = new QLabel(this);
        label->setObjectName(ControlObjectName(labelId));
        auto* edit = new QLineEdit(this);
        edit->setObjectName(ControlObjectName(editId));
        ShowAsReadOnly(*edit);
        label->setBuddy(edit);
        grid->addWidget(label, row, column);
        grid->addWidget(edit, row, column + 1);
        return edit;
    };
    start_ = addField(1085, 1088, 0, 0);
    end_ = addField(1086, 1089, 1, 0);
    result_ = addField(1087, 1090, 2, 0);
    targetCount_ = addField(1108, 1109, 0, 2);
    processedCount_ = addField(1110, 1111, 1, 2);

    counts_ = new QLabel(this);
    counts_->setObjectName(ControlObjectName(kCtlCounts));
    cause_ = new QLabel(this);
    cause_->setObjectName(ControlObjectName(kCtlCause));
    cause_->setWordWrap(true);
    cause_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    cause_->setStyleSheet(QStringLiteral("QLabel { color: #b00020; }"));
    cause_->hide();

    auto* listLabel = new QLabel(this);
    listLabel->setObjectName(ControlObjectName(1112));
    failedPaths_ = new QTreeWidget(this);
    failedPaths_->setObjectName(ControlObjectName(1107));
    failedPaths_->setColumnCount(2);
    failedPaths_->setRootIsDecorated(false);
    failedPaths_->setUniformRowHeights(true);  // thousands of rows stay quick
    failedPaths_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    failedPaths_->header()->setStretchLastSection(true);
    listLabel->setBuddy(failedPaths_);

    auto* close = new QPushButton(this);
    close->setObjectName(ControlObjectName(kCtlCancel));
    connect(close, &QPushButton::clicked, this, &CBackupResultDlg::CloseRequested);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(counts_);
    layout->addWidget(cause_);
    layout->addWidget(listLabel);
    layout->addWidget(failedPaths_);
    layout->addLayout(buttons);
    ApplyCaptions(*this, kDlgBackupResult, strings);
    failedPaths_->setHeaderLabels(
        {QString::fromStdString(strings.Text(kStrErrorListPathColumn)),
         QString::fromStdString(strings.Text(kStrErrorListReasonColumn))});
    failedPaths_->header()->resizeSection(0, 320);
    targetCount_->setText(QStringLiteral("0"));
    processedCount_->setText(QStringLiteral("0"));
}

void CBackupResultDlg::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Reload();
}

void CBackupResultDlg::Reload() {
    ReadClientResult();
    ReadDetailResult();
}

void CBackupResultDlg::ReadClientResult() {
    LOG_METHOD();
    std::string start;
    std::string end;
    int code = 0;
    try {
        CBackupXMLUtility reader(backupFolderPath_, DefaultSystemInfo());
        reader.ReadClientResultFile(&start, &end, &code);
    } catch (const CAppException& e) {
        LOG_ERROR(DescribeException(e));
        return;
    }
    start_->setText(QString::fromStdString(FormatResultTime(start)));
    end_->setText(QString::fromStdString(FormatResultTime(end)));
    result_->setText(QString::fromStdString(strings_.Text(BackupResultTextId(code))));
}

void CBackupResultDlg::ReadDetailResult() {
    LOG_METHOD();
    BackupErrorList list;
    try {
        CBackupXMLUtility reader(backupFolderPath_, DefaultSystemInfo());
        reader.ReadDetailResult(&list);
    } catch (const CAppException& e) {
        LOG_ERROR(DescribeException(e));
        return;
    }
    // The reasons are this run's only when their counts are the detail file's.
    BackupErrorList reasons;
    CFailureReasonFile reasonFile(backupFolderPath_);
    const bool withReasons = reasonFile.Read(reasons) &&
                             reasons.executeCount == list.executeCount &&
                             reasons.successCount == list.successCount;
    if (withReasons) {
        list.failures = std::move(reasons.failures);
    } else {
        for (const std::string& path : list.paths) list.failures.push_back({path, {}, {}});
    }
    ShowFailures(list, withReasons);
}

void CBackupResultDlg::ShowFailures(const BackupErrorList& list, bool withReasons) {
    targetCount_->setText(QString::number(list.executeCount));
    processedCount_->setText(QString::number(list.successCount));
    counts_->setText(QString::fromStdString(
        FillText(strings_.Text(kStrBackupCounts),
                 {std::to_string(list.executeCount), std::to_string(list.successCount)})));

    // A destination folder missing on the device is the one cause of its pair's failure: it
    // is named once, with what to do, however many pairs point into it.
    QStringList causes;
    std::set<std::string> named;
    for (const BackupFailure& failure : list.failures) {
        if (failure.reason != FailureReason::kDestinationMissing) continue;
        if (!named.insert(failure.detail).second) continue;
        causes << QString::fromStdString(
            FillText(strings_.Text(kStrDestinationMissingCause), {failure.detail}));
    }
    cause_->setText(causes.join(QLatin1Char('\n')));
    cause_->setVisible(!causes.isEmpty());

    failedPaths_->clear();
    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<qsizetype>(list.failures.size()) + 1);
    for (const BackupFailure& failure : list.failures) {
        const QString reason =
            withReasons ? QString::fromStdString(FailureReasonText(strings_, failure)) : QString();
        auto* row = new QTreeWidgetItem({QString::fromStdString(failure.path), reason});
        row->setToolTip(0, row->text(0));
        row->setToolTip(1, reason);
        rows << row;
    }
    // More failed than are kept (each run keeps a bounded number): say how many are not listed.
    const long long failed = static_cast<long long>(list.executeCount) - list.successCount;
    if (withReasons && failed > static_cast<long long>(list.failures.size())) {
        rows << new QTreeWidgetItem(
            {QString::fromStdString(
                 FillText(strings_.Text(kStrFailuresNotListed),
                          {std::to_string(failed - static_cast<long long>(list.failures.size()))})),
             QString()});
    }
    failedPaths_->addTopLevelItems(rows);
}

}  // namespace tessarine::ui
