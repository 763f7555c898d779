// Runs one forward of designated files the way the detection scheduler's forwarder does, for
// the benchmark script: the folder ROOT is walked as the PC's only fixed drive and the device's
// share is a local folder. The first call is a full forward; later calls with the same --data
// and the same device setting are differential.
//
//   detect_run_bench --data DIR --root ROOT --local-root SHARE_ROOT
//
// Prints the run result on one line; exits with it.
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>

#include "base/app_log.h"
#include "core/message_sink.h"
#include "detection/detect_file_execute.h"
#include "detection/detect_file_sql_utility.h"
#include "platform/clock.h"
#include "platform/device_share_factory.h"
#include "platform/posix/mount_drive_list.h"
#include "platform/system_info.h"
#include "settings/profile_store.h"
#include "settings/setting_records.h"

namespace {

using namespace tessarine;

class NullMessageSink : public MessageSink {
public:
    void Post(Message) override {}
};

}  // namespace

int main(int argc, char** argv) {
    std::string data, root, localRoot;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
        if (arg == "--data")
            data = next();
        else if (arg == "--root")
            root = next();
        else if (arg == "--local-root")
            localRoot = next();
        else {
            std::fprintf(stderr, "unknown argument: %s\n", arg.c_str());
            return 2;
        }
    }
    if (data.empty() || root.empty() || localRoot.empty()) {
        std::fprintf(stderr,
                     "usage: detect_run_bench --data DIR --root ROOT --local-root SHARE_ROOT\n");
        return 2;
    }
    if (data.back() != '/') data += '/';
    mkdir(data.c_str(), 0700);
    mkdir((data + "detectfile").c_str(), 0700);
    CAppLog::Get().InitWith(data, "bench", false, std::int64_t{1} << 30);

    CProfileStore store(data + "bench.msf");
    CCommonSetting common(&store);
    common.Load();
    common.ipv4Address = "127.0.0.1";
    common.userName = "bench";
    common.userPassword = "bench";
    common.Save();

    CDetectFileSQLUtility fileList(data + "bench.db");
    if (fileList.Initialize() != 0) {
        std::fprintf(stderr, "cannot initialise the file list in %s\n", data.c_str());
        return 2;
    }
    NullMessageSink sink;
    std::atomic<int> stop{0}, threadRunning{0}, executorRunning{0};
    ThreadControlBlock block{&stop, &threadRunning, &executorRunning};
    ShareOptions options;
    options.localRoot = localRoot;
    CDetectFileExecute executor(CDetectFileExecute::Dependencies{
        .shareFactory = [&] { return MakeDeviceShare(options); },
        .fileList = fileList,
        .messageSink = sink,
        .clock = SystemClock(),
        .systemInfo = DefaultSystemInfo(),
        .loadCommonSetting = {},
        .profileStore = &store,
        .detectFileFolderPath = data + "detectfile",
        .excludedFolders = {data},
        .localFileSystem = nullptr,
        .driveList = std::make_shared<ChosenDriveList>(std::vector<std::string>{root}),
    });
    executor.SetControlBlock(&block);
    const int result = executor.ThreadCore();
    std::printf("result=%d\n", result);
    return result;
}
