// One restore of a device folder below a local folder, as the restore benchmark runs it:
//   restore_run_bench --source SRC --dest '\\127.0.0.1\zereda\backup\x' --to DIR
//                     --port P --user U --password W
// SRC is only the pair's source name (the copies land in DIR/<last name of SRC>). Prints the
// summary counts; exit 0 when everything came back. The copies go through copier processes
// (this program in its copier mode) as the program's restore does; TESSARINE_SHARE_COPIERS=0
// makes them one at a time.
#include <cstdio>
#include <cstring>
#include <string>

#include "backup/restore_engine.h"
#include "base/app_log.h"
#include "bench_args.h"
#include "platform/unc_path.h"

using namespace tessarine;

int main(int argc, char** argv) {
    if (int copier = 0; bench::RunAsCopier(argc, argv, copier)) return copier;
    const bench::BenchArgs args = bench::ParseBenchArgs(
        argc, argv, {"--source", "--dest", "--to", "--port", "--user", "--password"});
    const std::string source = args.Value("--source");
    const std::string destination = args.Value("--dest");
    const std::string to = args.Value("--to");
    const std::string user = args.Value("--user");
    const std::string password = args.Value("--password");
    if (!args.unknown.empty() || source.empty() || destination.empty() || to.empty()) {
        std::fprintf(stderr,
                     "usage: restore_run_bench --source SRC --dest DEVICEPATH --to DIR "
                     "--port P --user U --password W\n");
        return 64;
    }
    DevicePath parsed;
    if (!ParseDevicePath(destination, parsed)) {
        std::fprintf(stderr, "not a device path: %s\n", destination.c_str());
        return 64;
    }
    auto share = MakeDeviceShare(bench::BenchShareOptions(args));
    if (share->Connect(parsed.host, user, password) != kShareConnected) {
        std::fprintf(stderr, "cannot connect\n");
        return 2;
    }
    BackupFolderPairs pairs{};
    pairs[0] = {source, destination};
    CRestoreEngine engine(*share, nullptr, pairs);
    RestoreRequest request;
    request.pairs = {0};
    request.targetFolder = to;
    const RestoreSummary summary = engine.Run(request, nullptr);
    std::printf("restored %llu equal %llu skipped %llu failed %llu\n",
                static_cast<unsigned long long>(summary.restored),
                static_cast<unsigned long long>(summary.equal),
                static_cast<unsigned long long>(summary.skipped),
                static_cast<unsigned long long>(summary.failed));
    return summary.Complete() ? 0 : 1;
}
