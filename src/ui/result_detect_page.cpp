#include "ui/result_detect_page.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "base/app_log.h"
#include "ui/result_detail_dialog.h"
#include "ui/strings/caption_apply.h"
#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"
#include "ui/window_placement.h"

namespace tessarine::ui {
namespace {

QStringList ColumnTitles(const CLrcReaderWrapper& strings) {
    QStringList titles;
    for (const unsigned id : {kStrFileNameColumn, kStrFilePathColumn, kStrDetectedTimeColumn}) {
        titles << QString::fromStdString(strings.Text(id));
    }
    return titles;
}

}  // namespace

CDetectFileResultDlg::CDetectFileResultDlg(CDetectFileResultSource& source,
                                           const CLrcReaderWrapper& strings, QWidget* parent)
    : QWidget(parent), strings_(strings), model_(source, ColumnTitles(strings), this) {
    setObjectName(ControlObjectName(kDlgDetectFileResult));
    list_ = new QTableView(this);
    list_->setObjectName(ControlObjectName(1090));
    list_->setModel(&model_);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setShowGrid(true);
    list_->setWordWrap(false);
    list_->verticalHeader()->hide();
    // Fixed row heights: the view never measures rows it does not show.
    list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // The name and the time whole, the path taking the rest.
    SizeColumnsToContents(*list_->horizontalHeader(), 1);
    list_->setAccessibleName(
        QString::fromStdString(strings.Caption(kDlgDetectFileResult, kDlgDetectFileResult)));

    auto* detail = new QPushButton(this);
    detail->setObjectName(ControlObjectName(1089));
    auto* close = new QPushButton(this);
    close->setObjectName(ControlObjectName(kCtlCancel));
    connect(detail, &QPushButton::clicked, this, &CDetectFileResultDlg::OnClickShowResultDetail);
    connect(close, &QPushButton::clicked, this, &CDetectFileResultDlg::CloseRequested);
    connect(list_, &QTableView::doubleClicked, this,
            &CDetectFileResultDlg::OnClickShowResultDetail);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(detail);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addLayout(buttons);
    ApplyCaptions(*this, kDlgDetectFileResult, strings);

    openDetail_ = [this](const CDetectFileResult& record) {
        CDetectFileResultDetailDlg box(record, strings_, this);
        box.exec();
    };
}

void CDetectFileResultDlg::Reload() {
    LOG_METHOD();
    model_.Reload();
}

void CDetectFileResultDlg::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Reload();
}

void CDetectFileResultDlg::OnClickShowResultDetail() {
    LOG_METHOD();
    const QModelIndexList rows = list_->selectionModel()->selectedRows();
    if (rows.size() != 1) return;
    const int row = rows.front().row();
    list_->clearSelection();
    const CDetectFileResult& record = model_.RecordWithDetails(row);
    if (openDetail_) openDetail_(record);
}

}  // namespace tessarine::ui
