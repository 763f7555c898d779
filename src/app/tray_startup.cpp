#include "app/tray_startup.h"

#include <QApplication>
#include <QMessageBox>
#include <QSystemTrayIcon>

#include "app/backup_utility_app.h"
#include "app/version.h"
#include "base/app_log.h"
#include "tray/backup_utility_app_tray_wnd.h"
#include "tray/qt_message_sink.h"
#include "tray/tray_icons.h"
#include "ui/qt_translation.h"
#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"
#include "ui/window_placement.h"

namespace tessarine {
namespace {

constexpr int kTrayHostPollMs = 3000;

constexpr char kNoTrayHostText[] =
    "通知領域（システムトレイ）が見つかりません。\n"
    "バックアップと指定ファイル検出はこのまま動作します。\n"
    "画面は「TessarineTool --show settings」「--show results」「--show version」で開けます。";

}  // namespace

CTrayStartup::CTrayStartup(CBackupUtilityApp& app, tray::CQtMessageSink& sink,
                           std::function<void()> exitProgram, bool useLogind)
    : app_(app), sink_(sink), exitProgram_(std::move(exitProgram)), useLogind_(useLogind) {
    app_.SetMainWindowStep([this] { return CreateTray(); });
}

CTrayStartup::~CTrayStartup() { DestroyTray(); }

void CTrayStartup::DestroyTray() {
    sink_.SetHandler(nullptr);
    tray_.reset();
    settings_.reset();
    restore_.reset();
    browser_.reset();
}

bool CTrayStartup::CreateTray() {
    LOG_METHOD();
    // Before any window exists: every window takes the program's icon, Qt's own texts are in
    // Japanese, and each window is kept inside the free part of its screen.
    tray::TrayIcons icons = tray::LoadTrayIcons();
    QApplication::setWindowIcon(icons.normal);
    if (auto* qtApp = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        ui::InstallQtTranslation(*qtApp);
        ui::InstallWindowPlacement(*qtApp);
    }
    browser_ = std::make_unique<CBrowserUtility>(opener_);
    tray_ = std::make_unique<tray::CBackupUtilityAppTrayWnd>(
        tray::TrayState{app_.BackupExecuting(), app_.DetectFileExecuting(), app_.Progress()},
        std::move(icons),
        tray::TrayServices{.events = app_.GetPlatform().events,
                           .profileStore = app_.ProfileStore(),
                           .browser = browser_.get(),
                           .exitProgram = exitProgram_,
                           .useLogind = useLogind_,
                           .backupFolderPath = app_.DataFolderPath() + "backup/",
                           .detectFileResults = &app_.DetectFileResults(),
                           .programVersion = kVersionText});
    settings_ = std::make_unique<CSettingsWiring>(app_, *browser_);
    tray_->Windows().SetSettingsWindowFactory([this] { return settings_->MakeWindow(); });
    restore_ =
        std::make_unique<CRestoreWiring>(app_, [this] { tray_->Windows().RefreshBackupNow(); });
    tray_->Windows().SetRestoreWindowFactory([this] { return restore_->MakeWindow(); });
    settings_->SetOpenRestore([this](int pair) { tray_->Windows().ShowRestore(pair); });
    tray_->Create();
    sink_.SetHandler([this](const Message& message) { tray_->HandleMessage(message); });
    if (!trayHostCheck_) trayHostCheck_ = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    if (!trayHostCheck_()) {
        LOG_ERROR("System Tray Not Available. The workers keep running; windows open with --show.");
        const QString title = QString::fromStdString(ui::LoadText(ui::kStrTrayTip));
        auto* box = new QMessageBox(QMessageBox::Warning, title, QString::fromUtf8(kNoTrayHostText),
                                    QMessageBox::Ok);
        box->setObjectName(QStringLiteral("noTrayHost"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
        noTrayHostBox_ = box;
        warnedNoTrayHost_ = true;
        trayHostTimer_.setInterval(kTrayHostPollMs);
        QObject::connect(&trayHostTimer_, &QTimer::timeout, [this] { CheckTrayHost(); });
        trayHostTimer_.start();
    }
    return true;
}

bool CTrayStartup::CheckTrayHost() {
    if (!trayHostCheck_ || !trayHostCheck_()) return false;
    trayHostTimer_.stop();
    if (noTrayHostBox_) {
        LOG_NOTICE("System Tray Available Now.");
        noTrayHostBox_->close();
    }
    if (tray_) tray_->TrayIcon().show();
    return true;
}

}  // namespace tessarine
