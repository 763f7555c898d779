// TessarineTool: the tray-resident backup and detection utility.
//   TessarineTool                  the tray icon, until "終了", SIGTERM or SIGINT
//   TessarineTool --headless       without a tray, until SIGTERM or SIGINT
//   TessarineTool --show WINDOW    ask the running instance to open settings, results or version
//   TessarineTool --signal NAME    signal a named event of the running instance
//   TessarineTool --search [PORT]  search the LAN for devices and print them
//   TessarineTool --check-login    test the stored device login
//   TessarineTool --results [N]    print the newest N stored detection results
//   TessarineTool --restore ...    bring backed-up files back from the device
//   TessarineTool --backup-now     ask the running instance for a backup (--wait: to its end)
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/backup_now_command.h"
#include "app/backup_utility_app.h"
#include "app/backup_wiring.h"
#include "app/desktop_start.h"
#include "app/detect_file_wiring.h"
#include "app/detect_result_wiring.h"
#include "app/headless_message_sink.h"
#include "app/restore_command.h"
#include "app/tray_startup.h"
#include "app/version.h"
#include "base/app_exception.h"
#include "base/app_log.h"
#include "base/string_utility.h"
#include "detection/detect_file_result_sql_utility.h"
#include "infra/log_setting.h"
#include "network/http_utility.h"
#include "network/search_agent_utility.h"
#include "platform/app_paths.h"
#include "platform/clock.h"
#include "platform/command_runner.h"
#include "platform/posix/control_socket.h"
#include "platform/posix/share_copier.h"
#include "platform/system_info.h"
#include "settings/profile_store.h"
#include "settings/setting_records.h"
#include "tray/backup_utility_app_tray_wnd.h"
#include "tray/qt_message_sink.h"
#include "ui/settings_background.h"

namespace tessarine {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 64;

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: TessarineTool [--headless]\n"
                 "       TessarineTool --signal NAME | --show settings|results|version\n"
                 "       TessarineTool --search [PORT] | --check-login\n"
                 "       TessarineTool --results [N]\n"
                 "       TessarineTool --restore [--pair N] [--to DIR] [OPTION...] [PATH...]\n"
                 "       TessarineTool --backup-now [--wait]\n"
                 "       TessarineTool --help | --version\n"
                 "\n"
                 "  (no option)    run with the tray icon until its menu's exit, SIGTERM or\n"
                 "                 SIGINT\n"
                 "  --headless     run without the tray icon until SIGTERM or SIGINT\n"
                 "  --show WINDOW  ask the running instance to open its settings, results or\n"
                 "                 version window; starts the program first when none runs\n"
                 "  --signal NAME  signal the named event NAME of the running instance, e.g.\n"
                 "                 BackupNow, BackupSettingChanged, DetectFileSettingChanged,\n"
                 "                 DetectFileNow (a forwarding run at once),\n"
                 "                 DetectFileResultNow (look for detection results at once)\n"
                 "  --search       broadcast the device search (UDP PORT, else the stored one)\n"
                 "                 and print one device a line: address, name, model, HTTP\n"
                 "                 and HTTPS ports, firmware\n"
                 "  --check-login  test the stored device login; exit 0 accepted, 2 refused,\n"
                 "                 3 device unreachable, 1 no settings\n"
                 "  --results [N]  print the newest N (default 10) stored detection results:\n"
                 "                 when, which file, and each category with its hits; reads\n"
                 "                 the database only, also while the program runs\n"
                 "%s%s"
                 "  --help         show this text\n"
                 "  --version      show the version\n"
                 "\n"
                 "Data folder: $ALLUSERSPROFILE/corvane/Tessarine Tool/ (else\n"
                 "${XDG_DATA_HOME:-~/.local/share}/corvane/Tessarine Tool/).\n",
                 kRestoreUsage, kBackupNowUsage);
}

const char* DescribeFailure(StartupFailure failure) {
    switch (failure) {
        case StartupFailure::kNone:
        case StartupFailure::kAlreadyRunning:
            return "";
        case StartupFailure::kLockFailed:
            return "cannot open the single-instance lock file";
        case StartupFailure::kNoDataFolder:
            return "cannot determine the data folder (set ALLUSERSPROFILE or HOME)";
        case StartupFailure::kDataFolders:
            return "cannot create the data folder";
        case StartupFailure::kDataFolderUnsafe:
            return "refusing a data folder that other users could change";
        case StartupFailure::kDatabase:
            return "cannot initialise the database";
        case StartupFailure::kMainWindow:
            return "cannot create the main window";
        case StartupFailure::kControlSocket:
            return "cannot set up the control socket";
    }
    return "start-up failed";
}

// The tray and the headless program run the same databases and workers, in start-up order.
// Only the tray program hands over a shutdown runner: the headless one never shuts the PC down.
void WireWorkers(CBackupUtilityApp& app, CommandRunner* shutdownRunner) {
    // The copiers are this very program (whatever path it was started by).
    WireBackup(app, "/proc/self/exe", shutdownRunner);
    WireDetectFile(app, "/proc/self/exe");
    WireDetectFileResult(app);
}

int RunHeadless() {
    // SIGTERM and SIGINT are taken by sigwait below only: block them before any thread
    // exists so that every thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    if (pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
        std::fprintf(stderr, "TessarineTool: cannot block the stop signals\n");
        return kExitFailure;
    }
    signal(SIGPIPE, SIG_IGN);

    HeadlessMessageSink sink;
    CBackupUtilityApp app(SystemClock(), DefaultSystemInfo(), sink);
    WireWorkers(app, nullptr);
    if (!app.InitInstance()) {
        const StartupFailure failure = app.StartupFailureReason();
        const int code = app.ExitInstance();
        if (failure == StartupFailure::kAlreadyRunning) {
            std::fprintf(stderr, "TessarineTool: another instance is already running\n");
            return code;
        }
        std::fprintf(stderr, "TessarineTool: %s", DescribeFailure(failure));
        if (!app.StartupFailureDetail().empty())
            std::fprintf(stderr, ": %s", app.StartupFailureDetail().c_str());
        std::fprintf(stderr, "\n");
        return kExitFailure;
    }

    // Always written, so that even a log without debug lines shows each run.
    LOG_NOTICE(Format("Headless Start. Version:%s DataFolder:", kVersionText) +
               app.DataFolderPath());

    int received = 0;
    while (sigwait(&stopSignals, &received) != 0) {
    }
    LOG_NOTICE(Format("Stop Signal Received. Signal:%d", received));

    const int code = app.ExitInstance();
    if (app.HasAbandonedWorkers()) {
        // A worker that did not stop still runs; tearing down static objects under it would
        // crash it, so the process ends here.
        std::fflush(nullptr);
        _exit(code);
    }
    return code;
}

// The tray mode: Qt application, start-up, the event loop until "終了", SIGTERM or SIGINT,
// then the shutdown.
int RunTray(int argc, char** argv) {
    // Qt would abort without a display; tray mode needs one, headless mode does not.
    if (const std::string problem = DisplayProblem(); !problem.empty()) {
        std::fprintf(stderr,
                     "TessarineTool: %s.\nThe tray icon and the windows need a desktop session. "
                     "To back up and forward files without them, run: TessarineTool --headless\n",
                     problem.c_str());
        return kExitFailure;
    }
    // SIGTERM and SIGINT end the event loop through a descriptor the loop watches; they are
    // blocked before any thread exists so that every thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    if (pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
        std::fprintf(stderr, "TessarineTool: cannot block the stop signals\n");
        return kExitFailure;
    }
    signal(SIGPIPE, SIG_IGN);
    const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);

    QApplication qtApp(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("TessarineTool"));
    QApplication::setApplicationVersion(QString::fromUtf8(kVersionText));
    QApplication::setDesktopFileName(QStringLiteral("TessarineTool"));

    tray::CQtMessageSink sink;
    auto app = std::make_unique<CBackupUtilityApp>(SystemClock(), DefaultSystemInfo(), sink);
    WireWorkers(*app, &DefaultCommandRunner());
    CTrayStartup startup(*app, sink, [] { QCoreApplication::quit(); });

    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (signalFd >= 0) {
        signalNotifier = std::make_unique<QSocketNotifier>(signalFd, QSocketNotifier::Read);
        QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, [signalFd] {
            signalfd_siginfo info{};
            if (read(signalFd, &info, sizeof info) == sizeof info) {
                LOG_NOTICE(Format("Stop Signal Received. Signal:%u", info.ssi_signo));
            }
            QCoreApplication::quit();
        });
    }

    if (!app->InitInstance()) {
        const StartupFailure failure = app->StartupFailureReason();
        startup.DestroyTray();
        const int code = app->ExitInstance();
        if (failure == StartupFailure::kAlreadyRunning) {
            std::fprintf(stderr, "TessarineTool: another instance is already running\n");
            return code;
        }
        std::fprintf(stderr, "TessarineTool: %s", DescribeFailure(failure));
        if (!app->StartupFailureDetail().empty())
            std::fprintf(stderr, ": %s", app->StartupFailureDetail().c_str());
        std::fprintf(stderr, "\n");
        return kExitFailure;
    }
    LOG_NOTICE(Format("Tray Start. Version:%s DataFolder:", kVersionText) + app->DataFolderPath());

    QApplication::exec();

    LOG_NOTICE("Tray End");
    startup.DestroyTray();
    const int code = app->ExitInstance();
    if (signalFd >= 0) close(signalFd);
    if (app->HasAbandonedWorkers() || ui::AbandonedBackgroundCalls() > 0) {
        // A worker, login test or search that did not stop still runs; tearing down under it
        // would crash it.
        std::fflush(nullptr);
        _exit(code);
    }
    return code;
}

// The window a running tray instance is asked to open.
int ShowWindow(const std::string& window) {
    const char* event = window == "settings"  ? tray::kEventShowSettings
                        : window == "results" ? tray::kEventShowResults
                        : window == "version" ? tray::kEventShowVersion
                                              : nullptr;
    if (event == nullptr) {
        std::fprintf(stderr, "TessarineTool: --show takes settings, results or version\n");
        return kExitUsage;
    }
    switch (ControlClient::Signal(event)) {
        case kControlDelivered:
            return kExitOk;
        case kControlNoInstance:
            // The desktop menu's 設定 and 結果: the program starts, then opens the window.
            if (StartInstanceAndSignal(event) == kControlDelivered) return kExitOk;
            std::fprintf(stderr,
                         "TessarineTool: no running instance, and none could be started "
                         "(see the log)\n");
            return 1;
        case kControlUnknownName:
            std::fprintf(stderr,
                         "TessarineTool: the running instance shows no windows "
                         "(it runs headless)\n");
            return 2;
        default:
            std::fprintf(stderr,
                         "TessarineTool: the running instance did not accept the request\n");
            return 3;
    }
}

int SignalInstance(const std::string& name) {
    if (const std::string problem = ControlNameProblem(name); !problem.empty()) {
        std::fprintf(stderr, "TessarineTool: the event name %s; nothing was sent\n",
                     problem.c_str());
        return kExitUsage;
    }
    switch (ControlClient::Signal(name)) {
        case kControlDelivered:
            return kExitOk;
        case kControlNoInstance:
            std::fprintf(stderr, "TessarineTool: no running instance\n");
            return 1;
        case kControlUnknownName:
            std::fprintf(stderr, "TessarineTool: the running instance has no event \"%s\"\n",
                         name.c_str());
            return 2;
        default:
            std::fprintf(stderr,
                         "TessarineTool: the running instance did not accept the request\n");
            return 3;
    }
}

// The stored common settings, with the log opened beside them; false without a data folder.
bool LoadCommonSetting(CCommonSetting& setting) {
    const std::string dataFolder = GetDataFolderPath();
    const std::string title = GetExecutableTitle();
    if (dataFolder.empty() || title.empty() || access(dataFolder.c_str(), F_OK) != 0) return false;
    InitAppLog(dataFolder, title);
    CProfileStore store(dataFolder + title + ".msf");
    CCommonSetting loaded(&store);
    if (loaded.Load() != 0) return false;
    setting = loaded;  // the values; the copy is not used to load or save again
    return true;
}

// Device answers are unauthenticated: control characters are not passed to the terminal.
std::string Printable(const std::string& text) { return TerminalSafeText(text); }

int SearchDevices(const char* portText) {
    std::uint16_t port = CSearchAgentUtility::kDefaultSearchPort;
    if (portText != nullptr) {
        const int value = IsDigitsOnly(portText) && *portText ? StringToInt(portText) : 0;
        if (value < 1 || value > 65535) {
            std::fprintf(stderr, "TessarineTool: the port must be a number from 1 to 65535\n");
            return kExitUsage;
        }
        port = static_cast<std::uint16_t>(value);
    } else if (CCommonSetting setting;
               LoadCommonSetting(setting) && setting.isChangeSearchAgentPort &&
               setting.searchAgentPort > 0 && setting.searchAgentPort <= 65535) {
        port = static_cast<std::uint16_t>(setting.searchAgentPort);
    }
    SystemNetworkAdapterSource adapters;
    CSearchAgentUtility search(adapters);
    std::vector<CSearchAgentResponse> found;
    const int result = search.SearchServers(found, port);
    for (const CSearchAgentResponse& device : found)
        std::printf("%s\t%s\t%s\t%u\t%u\t%s\n", Printable(device.ipv4Address).c_str(),
                    Printable(device.netbiosName).c_str(), Printable(device.hardwareName).c_str(),
                    device.httpPort, device.httpsPort, Printable(device.firmwareRevision).c_str());
    if (result != 0) std::fprintf(stderr, "TessarineTool: the search failed (see the log)\n");
    return result == 0 ? kExitOk : kExitFailure;
}

int CheckLogin() {
    CCommonSetting setting;
    if (!LoadCommonSetting(setting)) {
        std::fprintf(stderr, "TessarineTool: no data folder with settings\n");
        return kExitFailure;
    }
    auto port = [](int value) {
        return static_cast<std::uint16_t>(value >= 0 && value <= 65535 ? value : 0);
    };
    CHttpUtility http;
    const int result =
        http.IsSuccessAuthorize(setting.ipv4Address, setting.userName, setting.userPassword,
                                port(setting.httpPort), port(setting.httpsPort), setting.isUseSsl);
    if (result == CHttpUtility::kLoginAccepted) {
        std::printf("成功\n");
        return kExitOk;
    }
    if (result == CHttpUtility::kLoginRefused) {
        std::printf("ログインに失敗しました。ユーザー名またはパスワードを確認してください。\n");
        return 2;
    }
    std::printf("接続エラー\n");
    return 3;
}

// "YYYY-MM-DD hh:mm:ss" from the stored 14 digits; other text as it is.
std::string DisplayTime(const std::string& stamp) {
    if (stamp.size() != 14 || !IsDigitsOnly(stamp)) return Printable(stamp);
    return stamp.substr(0, 4) + "-" + stamp.substr(4, 2) + "-" + stamp.substr(6, 2) + " " +
           stamp.substr(8, 2) + ":" + stamp.substr(10, 2) + ":" + stamp.substr(12, 2);
}

void PrintResult(const CDetectFileResult& result) {
    std::printf("%s  %s\n", DisplayTime(result.detectedTime).c_str(),
                Printable(result.fileName).c_str());
    std::printf("    path: %s\n", Printable(result.filePath).c_str());
    // Hits of one category follow each other: each run of them is one group.
    for (std::size_t i = 0; i < result.details.size();) {
        std::size_t end = i;
        while (end < result.details.size() &&
               result.details[end].category == result.details[i].category)
            ++end;
        std::printf("    %s (%zu)\n", Printable(result.details[i].category).c_str(), end - i);
        for (; i < end; ++i)
            std::printf("      %s\n", Printable(result.details[i].hitText).c_str());
    }
}

// Reads the results through a connection of its own that cannot write: the running program
// goes on storing meanwhile, and nothing is created when there is no database yet.
int PrintResults(const char* countText) {
    int count = 10;
    if (countText != nullptr) {
        count = IsDigitsOnly(countText) && *countText && std::strlen(countText) <= 9
                    ? StringToInt(countText)
                    : 0;
        if (count < 1) {
            std::fprintf(stderr, "TessarineTool: N must be a number from 1 to 999999999\n");
            return kExitUsage;
        }
    }
    const std::string dataFolder = GetDataFolderPath();
    const std::string title = GetExecutableTitle();
    if (dataFolder.empty() || title.empty()) {
        std::fprintf(stderr, "TessarineTool: cannot determine the data folder\n");
        return kExitFailure;
    }
    const std::string databasePath = dataFolder + title + ".db";
    if (access(databasePath.c_str(), F_OK) != 0) {
        std::printf("No detection results stored yet (no database at %s).\n", databasePath.c_str());
        return kExitOk;
    }
    CDetectFileResultSQLUtility results(databasePath, SqlOpenMode::kReadOnly);
    // Printed as read: a long listing is never held whole.
    std::size_t printed = 0;
    try {
        if (results.Initialize() != 0) {
            std::fprintf(stderr, "TessarineTool: cannot read the detection results in %s\n",
                         databasePath.c_str());
            return kExitFailure;
        }
        results.ForEachDetectFileResult(count, [&](const CDetectFileResult& result) {
            PrintResult(result);
            ++printed;
        });
    } catch (const CAppException& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "TessarineTool: %s\n", e.GetErrorMessage().c_str());
        return kExitFailure;
    }
    if (printed == 0) std::printf("No detection results stored yet.\n");
    return kExitOk;
}

}  // namespace
}  // namespace tessarine

int main(int argc, char** argv) {
    using namespace tessarine;
    if (argc == 1) return RunTray(argc, argv);
    const std::string option = argv[1];
    // Not in the usage text: started by the program itself, with its requests on stdin.
    if (option == kShareCopierOption && argc == 2)
        return RunShareCopier(STDIN_FILENO, STDOUT_FILENO);
    if (option == "--show" && argc == 3) return ShowWindow(argv[2]);
    if (option == "--headless" && argc == 2) return RunHeadless();
    if (option == "--signal" && argc == 3) return SignalInstance(argv[2]);
    if (option == "--search" && argc <= 3) return SearchDevices(argc == 3 ? argv[2] : nullptr);
    if (option == "--check-login" && argc == 2) return CheckLogin();
    if (option == "--results" && argc <= 3) return PrintResults(argc == 3 ? argv[2] : nullptr);
    if (option == "--restore") return RunRestoreCommand(argc - 2, argv + 2);
    if (option == "--backup-now") return RunBackupNowCommand(argc - 2, argv + 2);
    if ((option == "--help" || option == "-h") && argc == 2) {
        PrintUsage(stdout);
        return kExitOk;
    }
    if (option == "--version" && argc == 2) {
        std::printf("TessarineTool %s\n", kVersionText);
        return kExitOk;
    }
    std::fprintf(stderr, "TessarineTool: unknown or incomplete arguments\n");
    PrintUsage(stderr);
    return kExitUsage;
}
