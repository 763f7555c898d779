#include "app/backup_now_command.h"

#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>

#include "app/backup_run_reporter.h"
#include "app/progress_bar.h"
#include "platform/app_paths.h"
#include "platform/posix/control_socket.h"

namespace tessarine {

const char* const kBackupNowUsage =
    "  --backup-now [--wait]\n"
    "                 ask the running instance for a backup now (or learn that one is\n"
    "                 going); with --wait print its progress and wait for its end.\n"
    "                 Exit 0 success (without --wait: started or going), 1 device not\n"
    "                 reached, 2 something not backed up, 3 no instance running,\n"
    "                 4 no result (a settings change or restore holds the backup, or\n"
    "                 the run ended without a result), 64 usage.\n";

namespace {

// Plain lines come at most this often (and the last one always).
constexpr std::chrono::seconds kLinePace{1};

std::string Counts(const BackupReportLine& progress) {
    if (progress.total < 0) return "counting the entries";
    return std::to_string(progress.done) + "/" + std::to_string(progress.total) + " entries";
}

const char* Describe(int code) {
    switch (code) {
        case 0:
            return "backed up";
        case 1:
            return "the device was not reached";
        case 2:
            return "some entries were not backed up (the result window lists them)";
        default:
            return "no result";
    }
}

// Follows the report until the run's result; the exit code.
int FollowReport(ControlRun& run, bool terminal, std::FILE* out, std::FILE* err) {
    ProgressBar bar(terminal, out);
    auto draw = [&bar](const BackupReportLine& progress, bool last) {
        const double part = progress.total > 0 ? static_cast<double>(progress.done) /
                                                     static_cast<double>(progress.total)
                                               : 0.0;
        bar.Draw(part, Counts(progress), last);
    };
    std::optional<BackupReportLine> latest;
    std::optional<BackupReportLine> unprinted;
    std::chrono::steady_clock::time_point lastLine{};
    bool printed = false;
    auto printLine = [&](const BackupReportLine& progress) {
        std::fprintf(out, "%s\n", Counts(progress).c_str());
        std::fflush(out);
        lastLine = std::chrono::steady_clock::now();
        printed = true;
        unprinted.reset();
    };
    std::string line;
    while (run.ReadLine(line)) {
        const std::optional<BackupReportLine> report = ParseBackupReportLine(line);
        if (!report) continue;  // a later version's line
        if (report->kind == BackupReportLine::Kind::kProgress) {
            latest = report;
            if (terminal) {
                draw(*report, false);
            } else if (!printed || std::chrono::steady_clock::now() - lastLine >= kLinePace) {
                printLine(*report);
            } else {
                unprinted = report;
            }
            continue;
        }
        if (unprinted) printLine(*unprinted);
        if (terminal && latest) draw(*latest, true);
        bar.Finish();
        if (report->code < 0 || report->code > 2) {
            std::fprintf(err,
                         "TessarineTool: the backup ended without a result (the settings name "
                         "no device or no backup pair, or no run began); see the log\n");
            return kBackupNowExitNoResult;
        }
        std::fprintf(out, "Backup ended with result %d: %s.\n", report->code,
                     Describe(report->code));
        return report->code;
    }
    bar.Finish();
    std::fprintf(err, "TessarineTool: the program ended before the backup did\n");
    return kBackupNowExitNoResult;
}

}  // namespace

int RequestBackup(const std::string& folder, const std::string& title, bool wait, bool terminal,
                  std::FILE* out, std::FILE* err) {
    ControlRun run;
    const int answer = run.Start(folder, title, kBackupRunName);
    switch (answer) {
        case kControlDelivered:
            std::fprintf(out, "Backup started.\n");
            break;
        case kControlAlreadyRunning:
            std::fprintf(out, wait ? "A backup is already running; waiting for its end.\n"
                                   : "A backup is already running.\n");
            break;
        case kControlNoInstance:
            std::fprintf(err, "TessarineTool: no instance is running\n");
            return kBackupNowExitNoInstance;
        case kControlBusy:
            std::fprintf(err,
                         "TessarineTool: a settings change or a restore holds the backup; "
                         "try again when it has ended\n");
            return kBackupNowExitNoResult;
        default:
            std::fprintf(err, "TessarineTool: the running program did not take the request\n");
            return kBackupNowExitNoResult;
    }
    std::fflush(out);
    if (!wait) return kBackupNowExitSuccess;
    return FollowReport(run, terminal, out, err);
}

int RunBackupNowCommand(int argc, char** argv) {
    bool wait = false;
    for (int i = 0; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--wait") {
            wait = true;
            continue;
        }
        std::fprintf(stderr, "TessarineTool: unknown option %s\nUsage: TessarineTool\n%s",
                     argument.c_str(), kBackupNowUsage);
        return kBackupNowExitUsage;
    }
    return RequestBackup(ControlSocketFolder(GetDataFolderPath()), GetExecutableTitle(), wait,
                         isatty(STDOUT_FILENO) == 1, stdout, stderr);
}

}  // namespace tessarine
