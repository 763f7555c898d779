// One restore of a device folder below a local folder, as the restore benchmark runs it:
//   restore_run_bench --source SRC --dest '\\127.0.0.1\zereda\backup\x' --to DIR
//                     --port P --user U --password W
// SRC is only the pair's source name (the copies land in DIR/<last name of SRC>). Prints the
// summary counts; exit 0 when everything came back.
#include <cstdio>
#include <cstring>
#include <string>

#include "backup/restore_engine.h"
#include "base/app_log.h"
#include "platform/device_share_factory.h"
#include "platform/unc_path.h"

using namespace tessarine;

int main(int argc, char** argv) {
    std::string source;
    std::string destination;
    std::string to;
    std::string user;
    std::string password;
    int port = 445;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
        if (arg == "--source")
            source = next();
        else if (arg == "--dest")
            destination = next();
        else if (arg == "--to")
            to = next();
        else if (arg == "--port")
            port = std::stoi(next());
        else if (arg == "--user")
            user = next();
        else if (arg == "--password")
            password = next();
    }
    if (source.empty() || destination.empty() || to.empty()) {
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
    ShareOptions options = ShareOptionsFromEnvironment();
    options.port = port;
    auto share = MakeDeviceShare(options);
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
