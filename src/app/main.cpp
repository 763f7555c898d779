// TessarineTool: the tray-resident backup and detection utility.
//   TessarineTool [--headless]     run until SIGTERM or SIGINT
//   TessarineTool --signal NAME    signal a named event of the running instance
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/backup_utility_app.h"
#include "app/backup_wiring.h"
#include "app/headless_message_sink.h"
#include "app/version.h"
#include "infra/app_log.h"
#include "infra/string_utility.h"
#include "platform/clock.h"
#include "platform/posix/control_socket.h"
#include "platform/system_info.h"

namespace tessarine {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 64;

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: TessarineTool [--headless]\n"
                 "       TessarineTool --signal NAME\n"
                 "       TessarineTool --help | --version\n"
                 "\n"
                 "  --headless     run without the tray icon until SIGTERM or SIGINT\n"
                 "  --signal NAME  signal the named event NAME of the running instance, e.g.\n"
                 "                 BackupNow, BackupSettingChanged, DetectFileSettingChanged\n"
                 "  --help         show this text\n"
                 "  --version      show the version\n"
                 "\n"
                 "Data folder: $ALLUSERSPROFILE/corvane/Tessarine Tool/ (else\n"
                 "${XDG_DATA_HOME:-~/.local/share}/corvane/Tessarine Tool/).\n");
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
    WireBackup(app);
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

}  // namespace
}  // namespace tessarine

int main(int argc, char** argv) {
    using namespace tessarine;
    if (argc == 1) {
        std::fprintf(stderr,
                     "TessarineTool: the tray icon is not available in this build; running "
                     "headless (stop with SIGTERM or Ctrl+C)\n");
        return RunHeadless();
    }
    const std::string option = argv[1];
    if (option == "--headless" && argc == 2) return RunHeadless();
    if (option == "--signal" && argc == 3) return SignalInstance(argv[2]);
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
