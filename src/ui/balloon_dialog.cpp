#include "ui/balloon_dialog.h"

#include <QEnterEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/app_log.h"
#include "ui/strings/caption_apply.h"
#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"
#include "ui/window_placement.h"

namespace tessarine::ui {

CNotifyBalloonDlg::CNotifyBalloonDlg(std::chrono::milliseconds second, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      second_(second) {
    setObjectName(ControlObjectName(kDlgNotifyBalloon));
    setAttribute(Qt::WA_ShowWithoutActivating);
    text_ = new QLabel(this);
    text_->setObjectName(ControlObjectName(1100));
    text_->setAlignment(Qt::AlignCenter);
    text_->setMinimumHeight(48);
    auto* result = new QPushButton(this);
    result->setObjectName(ControlObjectName(1102));
    auto* close = new QPushButton(this);
    close->setObjectName(ControlObjectName(kCtlCancel));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(result);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addLayout(buttons);
    setStyleSheet(
        QStringLiteral("tessarine--ui--CNotifyBalloonDlg { border: 1px solid palette(mid); }"));
    CLrcReaderWrapper strings;
    ApplyCaptions(*this, kDlgNotifyBalloon, strings);

    closeTimer_.setSingleShot(true);
    connect(&closeTimer_, &QTimer::timeout, this, &CNotifyBalloonDlg::Close);
    connect(result, &QPushButton::clicked, this, [this] {
        const int kind = kind_;
        Close();
        emit ShowResultRequested(kind);
    });
    connect(close, &QPushButton::clicked, this, &CNotifyBalloonDlg::Close);
    resize(300, 110);
}

QString CNotifyBalloonDlg::Text() const { return text_->text(); }

void CNotifyBalloonDlg::ShowRequest(const BalloonRequest& request) {
    LOG_TRACE("Kind:" + std::to_string(request.kind) + " Result:" + std::to_string(request.result) +
              " Time:" + std::to_string(request.value));
    kind_ = request.kind;
    unsigned textId = 0;
    if (request.kind == kBalloonBackupResult) {
        textId = request.result == 0 ? kStrBackupSucceeded : kStrBackupFailed;
    } else if (request.kind == kBalloonDetectFileResult) {
        textId = kStrFilesDetected;
    }
    text_->setText(textId == 0 ? QString() : QString::fromStdString(LoadText(textId)));
    text_->setAccessibleName(text_->text());
    setAccessibleName(text_->text());
    closeTimer_.stop();
    if (request.value > 0) {
        closeTimer_.start(std::chrono::milliseconds(second_ * request.value));
    }
    PlaceInCorner();
    show();
    raise();
}

void CNotifyBalloonDlg::Close() {
    closeTimer_.stop();
    hide();
}

void CNotifyBalloonDlg::enterEvent(QEnterEvent* event) {
    // The user is reading it: it stays until closed.
    closeTimer_.stop();
    QDialog::enterEvent(event);
}

void CNotifyBalloonDlg::PlaceInCorner() {
    adjustSize();
    ui::PlaceInCorner(*this);
}

}  // namespace tessarine::ui
