#include "tray/app_windows.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "base/app_log.h"
#include "ui/about_dialog.h"
#include "ui/balloon_dialog.h"
#include "ui/restore_window.h"
#include "ui/result_backup_page.h"
#include "ui/result_db_source.h"
#include "ui/result_dialog.h"
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

}  // namespace

namespace {

// No results database: the detection page lists nothing.
class EmptyResultSource : public ui::CDetectFileResultSource {
public:
    bool ReadResults(const std::optional<ui::ResultListKey>&, std::size_t,
                     std::vector<ui::ResultListRow>&) override {
        return true;
    }
    bool ReadDetails(const std::string&, std::vector<DetectFileResultDetailData>&) override {
        return true;
    }
};

}  // namespace

CAppWindows::CAppWindows(std::function<void(int kind)> showResult, std::string backupFolderPath,
                         CDetectFileResultSQLUtility* detectFileResults, std::string programVersion)
    : showResult_(std::move(showResult)),
      backupFolderPath_(std::move(backupFolderPath)),
      programVersion_(std::move(programVersion)) {
    if (detectFileResults != nullptr) {
        resultSource_ = std::make_unique<ui::CDetectFileResultDbSource>(*detectFileResults);
    } else {
        resultSource_ = std::make_unique<EmptyResultSource>();
    }
}

CAppWindows::~CAppWindows() {
    delete settings_;
    delete restore_;
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

void CAppWindows::ShowRestore(int pair) {
    LOG_METHOD();
    if (!restore_ && restoreFactory_) restore_ = restoreFactory_();
    if (!restore_) return;
    if (auto* window = qobject_cast<ui::CRestoreDlg*>(restore_.data())) window->Reload(pair);
    Present(restore_);
}

void CAppWindows::ShowResult(int kind) {
    LOG_METHOD();
    if (!result_) result_ = new ui::CResultDlg(backupFolderPath_, *resultSource_);
    result_->ShowForKind(kind);
}

QDialog* CAppWindows::ResultWindow() const { return result_.data(); }

QDialog* CAppWindows::BalloonWindow() const { return balloon_.data(); }

int CAppWindows::ResultTab() const { return result_ ? result_->Tabs()->currentIndex() : -1; }

void CAppWindows::ShowVersion() {
    LOG_METHOD();
    if (!version_) {
        const std::string version =
            programVersion_.empty() ? ui::LoadText(ui::kStrVersion) : programVersion_;
        version_ = new ui::CAboutDlg(version);
    }
    Present(version_);
}

void CAppWindows::ShowBalloon(const BalloonRequest& request) {
    if (!balloon_) {
        balloon_ = new ui::CNotifyBalloonDlg();
        QObject::connect(balloon_, &ui::CNotifyBalloonDlg::ShowResultRequested, balloon_,
                         [this](int kind) {
                             if (showResult_) showResult_(kind);
                         });
    }
    balloon_->ShowRequest(request);
}

void CAppWindows::RefreshBackupNow() {
    if (auto* window = qobject_cast<ui::CSettingDlg*>(settings_.data())) window->RefreshBackupNow();
}

void CAppWindows::RefreshBackupResult() {
    if (result_ && result_->isVisible()) result_->BackupPage()->Reload();
}

void CAppWindows::HideForShutdown() {
    for (QDialog* window : {settings_.data(), restore_.data(),
                            static_cast<QDialog*>(result_.data()), version_.data()}) {
        if (window) window->hide();
    }
}

}  // namespace tessarine::tray
