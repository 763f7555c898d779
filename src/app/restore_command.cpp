#include "app/restore_command.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/progress_bar.h"
#include "backup/backup_sql_utility.h"
#include "backup/restore_engine.h"
#include "base/app_log.h"
#include "base/string_utility.h"
#include "infra/log_setting.h"
#include "platform/app_paths.h"
#include "platform/device_share_factory.h"
#include "platform/posix/control_socket.h"
#include "platform/posix/single_instance.h"
#include "settings/profile_store.h"
#include "settings/setting_records.h"

namespace tessarine {

const char* const kRestoreUsage =
    "  --restore [--pair N] [--to DIR] [--dry-run] [--overwrite] [PATH...]\n"
    "                 bring the device copies of backup pair N (1-10; every pair\n"
    "                 without --pair) back: the PATHs (files or folders at or below\n"
    "                 the pair's source; all without PATH) to their place, or with\n"
    "                 --to below DIR/<source folder name>; times are kept, a local\n"
    "                 file that differs is kept unless --overwrite; --dry-run only\n"
    "                 tells. Exit 0 all restored or equal, 1 something skipped or\n"
    "                 failed, 2 device unreachable or settings unusable, 64 usage.\n"
    "                 Beside the running program it holds its backup flag.\n";

namespace {

std::atomic<int> g_cancel{0};

void OnStopSignal(int) { g_cancel.store(1); }

struct Arguments {
    int pair = -1;  // 0-based; -1 every pair
    std::string to;
    bool dryRun = false;
    bool overwrite = false;
    std::vector<std::string> paths;
};

int Usage(const char* problem) {
    std::fprintf(stderr, "TessarineTool: %s\nUsage: TessarineTool\n%s", problem, kRestoreUsage);
    return kRestoreExitUsage;
}

// An absolute path without ".", ".." or repeated separators (relative to the working folder).
std::string AbsolutePath(const std::string& text) {
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(text, error);
    if (error) path = text;
    std::string normal = path.lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    return normal;
}

bool Parse(int argc, char** argv, Arguments& arguments, std::string& problem) {
    bool optionsEnded = false;
    for (int i = 0; i < argc; ++i) {
        const std::string argument = argv[i];
        if (optionsEnded || argument.empty() || argument[0] != '-') {
            arguments.paths.push_back(AbsolutePath(argument));
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--dry-run") {
            arguments.dryRun = true;
        } else if (argument == "--overwrite") {
            arguments.overwrite = true;
        } else if (argument == "--pair" || argument == "--to") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                problem = argument + " needs a value";
                return false;
            }
            const std::string value = argv[++i];
            if (argument == "--to") {
                arguments.to = AbsolutePath(value);
                continue;
            }
            const int number = IsDigitsOnly(value) && value.size() <= 2 ? StringToInt(value) : 0;
            if (number < 1 || number > kBackupFolderPairCount) {
                problem = "--pair takes a number from 1 to " + IntToString(kBackupFolderPairCount);
                return false;
            }
            arguments.pair = number - 1;
        } else {
            problem = "unknown option " + argument;
            return false;
        }
    }
    return true;
}

// Device names are not trusted: control characters are not passed to the terminal.
std::string Printable(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return text;
}

std::string Mebibytes(std::uint64_t bytes) {
    return Format("%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
}

// Progress on stdout: a bar redrawn in place on a terminal, one line per file otherwise.
class ProgressPrinter {
public:
    explicit ProgressPrinter(bool dryRun) : dryRun_(dryRun) {}

    void operator()(const RestoreProgress& progress) {
        if (!bar_.IsTerminal()) {
            if (progress.last == nullptr) return;
            const RestoreItem& item = *progress.last;
            const char* word = item.outcome == RestoreOutcome::kRestored && dryRun_
                                   ? "would restore"
                                   : DescribeRestoreOutcome(item.outcome);
            std::printf("%llu/%llu files, %s/%s  %s  %s\n",
                        static_cast<unsigned long long>(progress.filesDone),
                        static_cast<unsigned long long>(progress.filesTotal),
                        Mebibytes(progress.bytesDone).c_str(),
                        Mebibytes(progress.bytesTotal).c_str(), word,
                        Printable(item.localPath).c_str());
            return;
        }
        bar_.Draw(
            progress.Part(1.0),
            Format("%llu/%llu files  %s/%s", static_cast<unsigned long long>(progress.filesDone),
                   static_cast<unsigned long long>(progress.filesTotal),
                   Mebibytes(progress.bytesDone).c_str(), Mebibytes(progress.bytesTotal).c_str()),
            progress.filesDone == progress.filesTotal);
    }

    // Ends the bar's line before other output.
    void Finish() { bar_.Finish(); }

private:
    ProgressBar bar_;
    bool dryRun_;
};

void PrintNotRestored(const RestoreSummary& summary) {
    auto print = [](const RestoreItem& item) {
        if (item.outcome == RestoreOutcome::kRestored || item.outcome == RestoreOutcome::kEqual)
            return;
        std::string why = DescribeRestoreOutcome(item.outcome);
        if (item.error != 0) why += Format(" (error %d)", item.error);
        const std::string& path = item.localPath.empty() ? item.devicePath : item.localPath;
        std::printf("not restored: %s%s: %s\n", Printable(path).c_str(),
                    item.outcome == RestoreOutcome::kRefusedName
                        ? (" (device: " + Printable(item.devicePath) + ")").c_str()
                        : "",
                    why.c_str());
    };
    for (const RestoreItem& item : summary.refused) print(item);
    for (const RestoreItem& item : summary.files) print(item);
}

}  // namespace

int RunRestoreCommand(int argc, char** argv) {
    Arguments arguments;
    if (std::string problem; !Parse(argc, argv, arguments, problem)) return Usage(problem.c_str());

    const std::string dataFolder = GetDataFolderPath();
    const std::string title = GetExecutableTitle();
    if (dataFolder.empty() || title.empty() || access(dataFolder.c_str(), F_OK) != 0) {
        std::fprintf(stderr, "TessarineTool: no data folder with settings\n");
        return kRestoreExitUnavailable;
    }
    InitAppLog(dataFolder, title);

    // No backup (and no mirroring) sees a half-restored tree: with no instance running none
    // starts meanwhile; beside one, its backup running flag is ours until we end.
    SingleInstanceLock instanceLock;
    ControlHold backupFlag;
    switch (instanceLock.Acquire(
        SingleInstanceLock::LockFilePath(RuntimeFolderPath(dataFolder), title))) {
        case LockResult::kAcquired:
            break;
        case LockResult::kBusy: {
            const int held =
                backupFlag.Acquire(ControlSocketFolder(dataFolder), title, kBackupRunningClaim);
            if (held == kControlDelivered) {
                LOG_NOTICE("Restore Holds The Backup Running Flag.");
                break;
            }
            LOG_ERROR("Restore Refused. Backup Running Flag Not Held. Result:" + IntToString(held));
            std::fprintf(stderr, held == kControlBusy
                                     ? "TessarineTool: a backup or a settings change is under "
                                       "way; restore when it has ended\n"
                                     : "TessarineTool: the running program did not hand over "
                                       "its backup flag\n");
            return kRestoreExitUnavailable;
        }
        case LockResult::kFailed:
            std::fprintf(stderr, "TessarineTool: cannot open the single-instance lock file\n");
            return kRestoreExitUnavailable;
    }

    CProfileStore store(dataFolder + title + ".msf");
    CCommonSetting common(&store);
    CBackupSetting backup(&store);
    if (common.Load() != 0 || backup.Load() != 0 || common.ipv4Address.empty()) {
        LOG_ERROR("Restore Settings Error.");
        std::fprintf(stderr, "TessarineTool: the settings cannot be read or name no device\n");
        return kRestoreExitUnavailable;
    }
    RestoreRequest request;
    request.targetFolder = arguments.to;
    request.dryRun = arguments.dryRun;
    request.overwrite = arguments.overwrite;
    request.paths = arguments.paths;
    for (int i = 0; i < kBackupFolderPairCount; ++i) {
        const BackupFolderPair& pair = backup.folderPairs[i];
        if (pair.source.empty()) break;  // the pairs end at the first empty source
        if (pair.destination.empty()) continue;
        if (arguments.pair < 0 || arguments.pair == i) request.pairs.push_back(i);
    }
    if (request.pairs.empty()) {
        std::fprintf(stderr,
                     arguments.pair < 0 ? "TessarineTool: no backup pair is set\n"
                                        : "TessarineTool: backup pair %d is not set\n",
                     arguments.pair + 1);
        return kRestoreExitUnavailable;
    }

    // The file list gives the names as backed up; without it they come as the device has them.
    std::unique_ptr<CBackupSQLUtility> fileList;
    const std::string databasePath = dataFolder + title + ".db";
    if (access(databasePath.c_str(), F_OK) == 0) {
        fileList = std::make_unique<CBackupSQLUtility>(databasePath, SqlOpenMode::kReadOnly);
        if (fileList->Initialize() != 0) {
            LOG_ERROR("Restore File List Not Opened. Names As On The Device.");
            fileList.reset();
        }
    }

    ShareOptions options = ShareOptionsFromEnvironment();
    if (!options.problem.empty()) LOG_ERROR("Share Option Ignored. " + options.problem);
    // The copies come through this very program's copier processes, several at a time.
    options.copierExecutable = "/proc/self/exe";
    std::unique_ptr<DeviceShare> share = MakeDeviceShare(options);
    const int connected = share->Connect(common.ipv4Address, common.userName, common.userPassword);
    if (connected != kShareConnected && connected != kShareCredentialConflict) {
        LOG_ERROR_CODE(connected, "Restore SMB Connection Error. Address:" + common.ipv4Address);
        std::fprintf(stderr, "TessarineTool: cannot reach the device at %s (error %d)\n",
                     common.ipv4Address.c_str(), connected);
        return kRestoreExitUnavailable;
    }

    struct sigaction stop {};
    stop.sa_handler = OnStopSignal;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);

    ProgressPrinter printer(request.dryRun);
    CRestoreEngine engine(*share, fileList.get(), backup.folderPairs);
    const RestoreMarks marks(RestoreMarksPath(dataFolder, title));
    engine.SetMarks(&marks);
    const RestoreSummary summary =
        engine.Run(request, &g_cancel, [&](const RestoreProgress& p) { printer(p); });
    printer.Finish();
    share->Cancel(common.ipv4Address);

    PrintNotRestored(summary);
    std::printf(
        "%s %llu files (%s), %llu already equal, %llu skipped, %llu failed%s.\n",
        request.dryRun ? "Would restore" : "Restored",
        static_cast<unsigned long long>(summary.restored), Mebibytes(summary.restoredBytes).c_str(),
        static_cast<unsigned long long>(summary.equal),
        static_cast<unsigned long long>(summary.skipped),
        static_cast<unsigned long long>(summary.failed), summary.cancelled ? "; cancelled" : "");
    std::fflush(stdout);
    if (summary.deviceLost) {
        std::fprintf(stderr, "TessarineTool: the device stopped answering (error %d)\n",
                     summary.deviceError);
        return kRestoreExitUnavailable;
    }
    return summary.Complete() ? kRestoreExitComplete : kRestoreExitIncomplete;
}

}  // namespace tessarine
