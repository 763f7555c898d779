#include "tray/app_windows.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "base/app_log.h"
#include "ui/settings_window.h"
#include "ui/strings/caption_apply.h"
#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"

namespace tessarine::tray {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// A kept window: made once, never deleted by closing.
QDialog* MakeWindow(const QString& title, const QString& objectName) {
    auto* window = new QDialog(nullptr, Qt::Window);
    window->setObjectName(objectName);
    window->setWindowTitle(title);
    window->setAccessibleName(title);
    return window;
}

void Present(QDialog* window) {
    window->show();
    window->raise();
    window->activateWindow();
}

QLabel* AddText(QDialog* window, const QString& text) {
    auto* layout = new QVBoxLayout(window);
    auto* label = new QLabel(text, window);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    return label;
}

}  // namespace

CAppWindows::CAppWindows(std::function<void(int kind)> showResult)
    : showResult_(std::move(showResult)) {}

CAppWindows::~CAppWindows() {
    delete settings_;
    delete result_;
    delete version_;
    delete balloon_;
}

// Placeholder until the settings window (common, backup and detection pages) lands.
void CAppWindows::ShowSettings() {
    LOG_METHOD();
    if (!settings_ && settingsFactory_) settings_ = settingsFactory_();
    if (!settings_) {
        ui::CLrcReaderWrapper strings;
        settings_ = MakeWindow(Q(strings.Text(ui::kStrSettingTitle)), QStringLiteral("settings"));
        auto* tabs = new QTabWidget(settings_);
        for (const unsigned page :
             {ui::kDlgCommonSetting, ui::kDlgBackupSetting, ui::kDlgDetectFileSetting}) {
            tabs->addTab(new QWidget(tabs), Q(strings.Caption(page, page)));
        }
        auto* layout = new QVBoxLayout(settings_);
        layout->addWidget(tabs);
        settings_->resize(480, 320);
    }
    Present(settings_);
}

// Placeholder until the result window (backup and detection pages) lands.
void CAppWindows::ShowResult(int kind) {
    LOG_METHOD();
    if (!result_) {
        ui::CLrcReaderWrapper strings;
        result_ = MakeWindow(Q(strings.Text(ui::kStrResultTitle)), QStringLiteral("result"));
        resultTabs_ = new QTabWidget(result_);
        for (const unsigned page : {ui::kDlgBackupResult, ui::kDlgDetectFileResult}) {
            resultTabs_->addTab(new QWidget(resultTabs_), Q(strings.Caption(page, page)));
        }
        auto* layout = new QVBoxLayout(result_);
        layout->addWidget(resultTabs_);
        result_->resize(560, 360);
    }
    if (kind == kBalloonBackupResult) resultTabs_->setCurrentIndex(0);
    if (kind == kBalloonDetectFileResult) resultTabs_->setCurrentIndex(1);
    Present(result_);
}

int CAppWindows::ResultTab() const { return resultTabs_ ? resultTabs_->currentIndex() : -1; }

// Placeholder until the version box lands.
void CAppWindows::ShowVersion() {
    LOG_METHOD();
    if (!version_) {
        ui::CLrcReaderWrapper strings;
        version_ =
            MakeWindow(Q(strings.Caption(ui::kDlgAbout, ui::kDlgAbout)), QStringLiteral("version"));
        AddText(version_, Q(strings.Text(ui::kStrTrayTip)) + QStringLiteral("\nVersion ") +
                              Q(strings.Text(ui::kStrVersion)));
    }
    Present(version_);
}

// Placeholder until the notification pop-up lands: the message, "結果" and "閉じる", and a
// close after the request's seconds (0 keeps it open).
void CAppWindows::ShowBalloon(const BalloonRequest& request) {
    LOG_TRACE("Kind:" + std::to_string(request.kind) + " Result:" + std::to_string(request.result));
    ui::CLrcReaderWrapper strings;
    if (!balloon_) {
        balloon_ = MakeWindow(QString(), QStringLiteral("balloon"));
        balloon_->setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
        balloonText_ = AddText(balloon_, QString());
        auto* buttons = new QDialogButtonBox(balloon_);
        auto* result = buttons->addButton(Q(strings.Caption(ui::kDlgNotifyBalloon, 1102)),
                                          QDialogButtonBox::ActionRole);
        result->setObjectName(ui::ControlObjectName(1102));
        auto* close = buttons->addButton(Q(strings.Caption(ui::kDlgNotifyBalloon, ui::kCtlCancel)),
                                         QDialogButtonBox::RejectRole);
        close->setObjectName(ui::ControlObjectName(ui::kCtlCancel));
        balloon_->layout()->addWidget(buttons);
        balloonTimer_ = new QTimer(balloon_);
        balloonTimer_->setSingleShot(true);
        QObject::connect(balloonTimer_, &QTimer::timeout, balloon_, &QDialog::hide);
        QObject::connect(result, &QPushButton::clicked, balloon_, [this] {
            balloonTimer_->stop();
            balloon_->hide();
            if (showResult_) showResult_(balloonKind_);
        });
        QObject::connect(close, &QPushButton::clicked, balloon_, [this] {
            balloonTimer_->stop();
            balloon_->hide();
        });
    }
    balloonKind_ = request.kind;
    unsigned text = 0;
    if (request.kind == kBalloonBackupResult) {
        text = request.result == 0 ? ui::kStrBackupSucceeded : ui::kStrBackupFailed;
    } else if (request.kind == kBalloonDetectFileResult) {
        text = ui::kStrFilesDetected;
    }
    balloonText_->setText(text == 0 ? QString() : Q(strings.Text(text)));
    balloon_->setAccessibleName(balloonText_->text());
    balloonTimer_->stop();
    if (request.value > 0) balloonTimer_->start(request.value * 1000);
    balloon_->show();
}

void CAppWindows::RefreshBackupNow() {
    if (auto* window = qobject_cast<ui::CSettingDlg*>(settings_.data())) window->RefreshBackupNow();
}

void CAppWindows::HideForShutdown() {
    for (QDialog* window : {settings_.data(), result_.data(), version_.data()}) {
        if (window) window->hide();
    }
}

}  // namespace tessarine::tray
