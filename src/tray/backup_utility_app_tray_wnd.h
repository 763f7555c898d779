// The program's tray window: the tray icon with its menu of seven commands (settings, results,
// backup now, restore, web login, version, exit), the double-click that opens the result window,
// the messages the workers post (pop-up requests, result requests, busy state, end of the backup
// before shutdown), the windows another process asks for (--show), and the session end.
#pragma once

#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "core/message_sink.h"
#include "tray/app_windows.h"
#include "tray/session_end.h"
#include "tray/tray_window.h"

class QAction;
class QSessionManager;

namespace tessarine {
class CBrowserUtility;
class CProfileStore;
class NamedEvents;
}  // namespace tessarine

namespace tessarine::tray {

class CLogindInhibitor;

// Events another process signals to open a window ("TessarineTool --show settings").
inline constexpr char kEventShowSettings[] = "ShowSettings";
inline constexpr char kEventShowResults[] = "ShowResults";
inline constexpr char kEventShowVersion[] = "ShowVersion";

struct TrayServices {
    NamedEvents& events;
    CProfileStore* profileStore;        // the settings file; null: no login, no shutdown backup
    CBrowserUtility* browser;           // opens the device's web login; may be null
    std::function<void()> exitProgram;  // ends the event loop (menu "終了")
    bool useLogind = true;              // tests run without the system bus
    std::string backupFolderPath;       // where the backup result files are, ending with /
    CDetectFileResultSQLUtility* detectFileResults = nullptr;  // null: no detection results
    std::string programVersion;                                // for the version box
};

class CBackupUtilityAppTrayWnd : public CTrayWnd {
    Q_OBJECT

public:
    CBackupUtilityAppTrayWnd(TrayState state, TrayIcons icons, TrayServices services);
    ~CBackupUtilityAppTrayWnd() override;

    // Shows the icon, hooks the session end and starts watching the --show events.
    void Create();

    // A message from the workers, on the UI thread (the Qt MessageSink's handler).
    void HandleMessage(const Message& message);

    // The menu commands, by command id (32780, 32779, 32781, 32782, 32778, 57664, 57665).
    void OnCommand(unsigned command);
    // The session asks whether it may end; true allows it.
    bool OnQueryEndSession();
    // The session's end was decided: `ending` true ends the program, false (refused or
    // cancelled) leaves it running.
    void OnEndSession(bool ending);

    QMenu& Menu() { return menu_; }
    CAppWindows& Windows() { return windows_; }
    const CSessionEndGuard& SessionGuard() const { return guard_; }
    // Puts the localised texts on the menu's items (done before each showing).
    void RefreshMenuTexts();

protected:
    void OnDoubleClick() override;
    // The title, how the last run ended (from its result files) and when the next is due.
    std::string IdleTip() const override;

private:
    void OnAppLogin();
    void OnCommitDataRequest(QSessionManager& manager);
    void WatchShowEvents();
    bool IsBackupWhenShutdown() const;

    TrayServices services_;
    static constexpr int kTipRefreshMs = 30000;

    QMenu menu_;
    QTimer tipTimer_;
    CAppWindows windows_;
    CSessionEndGuard guard_;
    std::unique_ptr<CLogindInhibitor> inhibitor_;
    std::string browserPage_;  // the web page the browser launcher wrote last

    std::atomic<bool> stopWatching_{false};
    std::thread showWatcher_;
};

}  // namespace tessarine::tray
