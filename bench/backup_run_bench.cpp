// Runs one backup of one folder pair, the way the scheduler's executor does, for the benchmark
// scripts: the first call is a full backup, later calls with the same --data are differential.
//
//   backup_run_bench --data DIR --source SRC --dest '\\127.0.0.1\zereda\backup\x'
//                    [--local-root ROOT | --port P --user U --password W] [--mirror]
//
// Prints the run result and counts on one line; exits with the run result.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "backup/backup_execute.h"
#include "backup/backup_sql_utility.h"
#include "base/app_log.h"
#include "bench_args.h"
#include "core/message_sink.h"
#include "platform/clock.h"
#include "platform/device_share_factory.h"
#include "platform/named_events.h"
#include "platform/system_info.h"
#include "settings/profile_store.h"
#include "settings/setting_common.h"
#include "settings/setting_records.h"

namespace {

using namespace tessarine;

class NullMessageSink : public MessageSink {
public:
    void Post(Message) override {}
};

std::string HostOf(const std::string& devicePath) {
    // "\\host\share\..." or "smb://host/share/..."
    std::string rest =
        devicePath.rfind("smb://", 0) == 0 ? devicePath.substr(6) : devicePath.substr(2);
    const std::size_t end = rest.find_first_of("\\/:");
    return rest.substr(0, end);
}

}  // namespace

int main(int argc, char** argv) {
    if (int copier = 0; bench::RunAsCopier(argc, argv, copier)) return copier;
    const bench::BenchArgs args = bench::ParseBenchArgs(
        argc, argv,
        {"--data", "--source", "--dest", "--local-root", "--port", "--user", "--password"},
        {"--mirror"});
    if (!args.unknown.empty()) {
        std::fprintf(stderr, "unknown argument: %s\n", args.unknown.c_str());
        return 2;
    }
    std::string data = args.Value("--data");
    const std::string source = args.Value("--source");
    const std::string dest = args.Value("--dest");
    const std::string user = args.Value("--user", "bench");
    const std::string password = args.Value("--password", "bench");
    const bool mirror = args.Has("--mirror");
    if (data.empty() || source.empty() || dest.empty()) {
        std::fprintf(stderr,
                     "usage: backup_run_bench --data DIR --source SRC --dest DEVICEPATH "
                     "[--local-root ROOT | --port P --user U --password W] [--mirror]\n");
        return 2;
    }
    if (data.back() != '/') data += '/';
    mkdir(data.c_str(), 0700);
    const std::string backupFolder = data + "backup/";
    mkdir(backupFolder.c_str(), 0700);
    CAppLog::Get().InitWith(data, "bench", false, std::int64_t{1} << 30);

    CProfileStore store(data + "bench.msf");
    CCommonSetting common(&store);
    common.Load();
    common.ipv4Address = HostOf(dest);
    common.userName = user;
    common.userPassword = password;
    common.Save();
    CBackupSetting backup(&store);
    backup.Load();
    backup.folderPairs[0] = {source, dest};
    backup.isDeletedFileBackup = mirror;
    backup.Save();

    CBackupSQLUtility fileList(data + "bench.db");
    if (fileList.Initialize() != 0) {
        std::fprintf(stderr, "cannot initialise the file list in %s\n", data.c_str());
        return 2;
    }
    NamedEvents events;
    events.Create("BackupComplete");
    NullMessageSink sink;
    std::atomic<int> stop{0}, threadRunning{0}, executorRunning{0};
    ThreadControlBlock block{&stop, &threadRunning, &executorRunning};

    const ShareOptions options = bench::BenchShareOptions(args);
    BackupProgress progress;
    std::atomic<int> shutdownAfterBackup{1};
    CBackupExecute executor({[&] { return MakeDeviceShare(options); }, fileList, sink, events,
                             SystemClock(), backupFolder, DefaultSystemInfo(), nullptr, nullptr,
                             &store, progress, shutdownAfterBackup});
    executor.SetControlBlock(&block);
    const int result = executor.ThreadCore();
    const BackupErrorList& errors = executor.GetErrorList();
    std::printf("result=%d execute=%d success=%d\n", result, errors.executeCount,
                errors.successCount);
    return result;
}
