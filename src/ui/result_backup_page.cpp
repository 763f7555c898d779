#include "ui/result_backup_page.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "backup/backup_error_list.h"
#include "backup/backup_xml_utility.h"
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

    auto* listLabel = new QLabel(this);
    listLabel->setObjectName(ControlObjectName(1112));
    failedPaths_ = new QListWidget(this);
    failedPaths_->setObjectName(ControlObjectName(1107));
    listLabel->setBuddy(failedPaths_);

    auto* close = new QPushButton(this);
    close->setObjectName(ControlObjectName(kCtlCancel));
    connect(close, &QPushButton::clicked, this, &CBackupResultDlg::CloseRequested);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(listLabel);
    layout->addWidget(failedPaths_);
    layout->addLayout(buttons);
    ApplyCaptions(*this, kDlgBackupResult, strings);
    // The list's one column is headed "ファイルパス"; a plain list shows it as its tooltip.
    failedPaths_->setToolTip(QString::fromStdString(strings.Text(kStrErrorListPathColumn)));
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
    targetCount_->setText(QString::number(list.executeCount));
    processedCount_->setText(QString::number(list.successCount));
    failedPaths_->clear();
    for (const std::string& path : list.paths) {
        failedPaths_->addItem(QString::fromStdString(path));
    }
}

}  // namespace tessarine::ui
