#include "tray/backup_utility_app_tray_wnd.h"

#include <QAction>
#include <QGuiApplication>
#include <QMetaObject>
#include <QSessionManager>

#include "base/app_log.h"
#include "core/event_names.h"
#include "network/browser_utility.h"
#include "platform/named_events.h"
#include "settings/setting_records.h"
#include "tray/logind_inhibitor.h"
#include "tray/tray_tip.h"
#include "ui/shutdown_question.h"
#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"

namespace tessarine::tray {
namespace {

constexpr unsigned kMenuCommands[] = {ui::kCmdSetting, ui::kCmdResult, ui::kCmdBackupNow,
                                      ui::kCmdRestore, ui::kCmdLogin,  ui::kCmdVersion,
                                      ui::kCmdExit};
constexpr std::uint32_t kShowWatchSliceMs = 200;

}  // namespace

CBackupUtilityAppTrayWnd::CBackupUtilityAppTrayWnd(TrayState state, TrayIcons icons,
                                                   TrayServices services)
    : CTrayWnd(state, std::move(icons)),
      services_(std::move(services)),
      windows_([this](int kind) { HandleMessage(ShowResult{kind}); }, services_.backupFolderPath,
               services_.detectFileResults, services_.programVersion),
      guard_(CSessionEndGuard::Actions{
          .isBackupWhenShutdown = [this] { return IsBackupWhenShutdown(); },
          .hideWindows = [this] { windows_.HideForShutdown(); },
          .startShutdownBackup =
              [this] { services_.events.Signal(std::string(kEventBackupWindowsShutDown)); },
          .blockShutdown =
              [this](const std::string& why) {
                  if (inhibitor_) inhibitor_->Take(QString::fromStdString(why));
              },
          .unblockShutdown =
              [this] {
                  if (inhibitor_) inhibitor_->Release();
              },
      }) {
    for (const unsigned command : kMenuCommands) {
        QAction* action = menu_.addAction(QString());
        action->setObjectName(QStringLiteral("cmd%1").arg(command));
        action->setData(command);
        connect(action, &QAction::triggered, this, [this, command] { OnCommand(command); });
    }
    RefreshMenuTexts();
    connect(&menu_, &QMenu::aboutToShow, this, &CBackupUtilityAppTrayWnd::RefreshMenuTexts);
    TrayIcon().setContextMenu(&menu_);
    // The next run moves when the settings change, and the last-run line is read from files:
    // the idle tip is brought up to date now and then.
    tipTimer_.setInterval(kTipRefreshMs);
    connect(&tipTimer_, &QTimer::timeout, this, [this] {
        if (!IsBusy()) NotifyIcon();
    });
    tipTimer_.start();
}

CBackupUtilityAppTrayWnd::~CBackupUtilityAppTrayWnd() {
    stopWatching_.store(true);
    if (showWatcher_.joinable()) showWatcher_.join();
    TrayIcon().setContextMenu(nullptr);
    if (services_.browser) services_.browser->DeletePage();
}

void CBackupUtilityAppTrayWnd::Create() {
    CTrayWnd::Create();
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::commitDataRequest, this,
                &CBackupUtilityAppTrayWnd::OnCommitDataRequest, Qt::DirectConnection);
    }
    if (services_.useLogind) {
        // logind announces a shutdown to delay-lock holders; an unneeded lock is let go at once.
        inhibitor_ = std::make_unique<CLogindInhibitor>([this] {
            const bool ending = OnQueryEndSession();
            if (ending && inhibitor_) inhibitor_->Release();
            OnEndSession(ending);
        });
        inhibitor_->Take(QString::fromStdString(ui::LoadText(ui::kStrBackupRunning)));
    }
    for (const char* name : {kEventShowSettings, kEventShowResults, kEventShowVersion}) {
        services_.events.Create(name);
    }
    showWatcher_ = std::thread([this] { WatchShowEvents(); });
}

// Another process asked for a window: the request goes to the UI thread.
void CBackupUtilityAppTrayWnd::WatchShowEvents() {
    const std::vector<EventHandle> events = {services_.events.Open(kEventShowSettings),
                                             services_.events.Open(kEventShowResults),
                                             services_.events.Open(kEventShowVersion)};
    while (!stopWatching_.load()) {
        const std::uint32_t index = services_.events.WaitAny(events, kShowWatchSliceMs);
        if (index >= events.size()) {
            if (index == kWaitFailed) return;
            continue;
        }
        static constexpr unsigned kCommands[] = {ui::kCmdSetting, ui::kCmdResult, ui::kCmdVersion};
        const unsigned command = kCommands[index];
        QMetaObject::invokeMethod(
            this, [this, command] { OnCommand(command); }, Qt::QueuedConnection);
    }
}

void CBackupUtilityAppTrayWnd::RefreshMenuTexts() {
    ui::CLrcReaderWrapper strings;
    for (QAction* action : menu_.actions()) {
        const unsigned command = action->data().toUInt();
        // The restore command is this program's own: its text is in the string table.
        const QString text = QString::fromStdString(command == ui::kCmdRestore
                                                        ? strings.Text(ui::kStrRestoreMenu)
                                                        : strings.Caption(ui::kMenuTray, command));
        action->setText(text);
    }
}

void CBackupUtilityAppTrayWnd::OnDoubleClick() { windows_.ShowResult(0); }

std::string CBackupUtilityAppTrayWnd::IdleTip() const {
    const std::optional<ui::LastBackupRun> last = ui::ReadLastBackupRun(services_.backupFolderPath);
    ui::CLrcReaderWrapper strings;
    return MakeIdleTrayTip(Title(), last,
                           static_cast<std::time_t>(State().progress.nextRunTime.load()), strings);
}

void CBackupUtilityAppTrayWnd::OnCommand(unsigned command) {
    LOG_TRACE("Command:" + std::to_string(command));
    switch (command) {
        case ui::kCmdSetting:
            windows_.ShowSettings();
            break;
        case ui::kCmdResult:
            windows_.ShowResult(0);
            break;
        case ui::kCmdBackupNow:
            // As the settings page's button: the scheduler starts a run unless one is running.
            services_.events.Signal(std::string(kEventBackupNow));
            break;
        case ui::kCmdRestore:
            windows_.ShowRestore(-1);
            break;
        case ui::kCmdLogin:
            OnAppLogin();
            break;
        case ui::kCmdVersion:
            windows_.ShowVersion();
            break;
        case ui::kCmdExit:
            LOG_NOTICE("Exit Requested");
            if (services_.exitProgram) services_.exitProgram();
            break;
        default:
            break;
    }
}

void CBackupUtilityAppTrayWnd::HandleMessage(const Message& message) {
    std::visit(
        [this](const auto& m) {
            using T = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<T, BalloonRequest>) {
                windows_.ShowBalloon(m);
            } else if constexpr (std::is_same_v<T, ShowResult>) {
                windows_.ShowResult(m.kind);
            } else if constexpr (std::is_same_v<T, ExecuteStateChanged>) {
                NotifyIcon();
            } else if constexpr (std::is_same_v<T, RefreshBackupNow>) {
                windows_.RefreshBackupNow();
                windows_.RefreshBackupResult();
            } else if constexpr (std::is_same_v<T, ShutdownBackupComplete>) {
                guard_.OnShutdownBackupComplete();
            } else if constexpr (std::is_same_v<T, ShutdownQuestion>) {
                ui::ShowShutdownQuestion(m.answer);
            } else if constexpr (std::is_same_v<T, CloseMainWindow>) {
                LOG_NOTICE("Close For Shutdown");
                if (services_.exitProgram) services_.exitProgram();
            }
        },
        message);
}

void CBackupUtilityAppTrayWnd::OnAppLogin() {
    LOG_METHOD();
    if (services_.profileStore == nullptr || services_.browser == nullptr) return;
    CCommonSetting setting(services_.profileStore);
    setting.Load();
    if (setting.ipv4Address.empty() || setting.userName.empty()) {
        LOG_TRACE("Login Parameter hasn't set");
        return;
    }
    const std::string url = std::string(setting.isUseSsl ? "https" : "http") + "://" +
                            setting.ipv4Address + "/index?pid=UserLoginProperty&aid=1";
    services_.browser->StartupBrowser(browserPage_, url, setting.userName,
                                      setting.userPasswordStored);
}

bool CBackupUtilityAppTrayWnd::IsBackupWhenShutdown() const {
    if (services_.profileStore == nullptr) return false;
    CBackupSetting setting(services_.profileStore);
    setting.Load();
    return setting.isBackupWhenShutdown;
}

bool CBackupUtilityAppTrayWnd::OnQueryEndSession() { return guard_.OnQueryEndSession(); }

void CBackupUtilityAppTrayWnd::OnEndSession(bool ending) {
    if (ending) {
        LOG_NOTICE("CBackupUtilityAppTrayWnd::OnEndSession(TRUE)");
        if (services_.exitProgram) services_.exitProgram();
    }
    LOG_NOTICE("Exit CBackupUtilityAppTrayWnd::OnEndSession()");
}

// The session manager quits the program itself once every client agreed.
void CBackupUtilityAppTrayWnd::OnCommitDataRequest(QSessionManager& manager) {
    if (OnQueryEndSession()) return;
    OnEndSession(false);
    if (manager.allowsInteraction()) {
        manager.cancel();
        manager.release();
    } else {
        LOG_NOTICE("Session End Cannot Be Refused");
    }
}

}  // namespace tessarine::tray
