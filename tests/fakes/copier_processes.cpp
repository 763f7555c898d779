#include "fakes/copier_processes.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "fakes/test_support.h"
#include "platform/posix/share_copier.h"

namespace tessarine::testing {

namespace fs = std::filesystem;

std::vector<pid_t> CopierProcesses() {
    std::vector<pid_t> pids;
    const std::string parent = std::to_string(getpid());
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string stat = ReadFile(entry.path() / "stat");
        const std::size_t close = stat.rfind(')');
        int ppid = 0;
        char state = 0;
        if (close == std::string::npos ||
            std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) != 2 ||
            std::to_string(ppid) != parent || state == 'Z')
            continue;
        if (ReadFile(entry.path() / "cmdline").find(kShareCopierOption) != std::string::npos)
            pids.push_back(std::atoi(name.c_str()));
    }
    return pids;
}

pid_t CopierReading(const std::string& path) {
    for (pid_t pid : CopierProcesses()) {
        std::error_code error;
        for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error))
            if (fs::read_symlink(fd.path(), error) == fs::path(path)) return pid;
    }
    return 0;
}

Watcher::Watcher(std::function<bool()> step)
    : thread_([this, step = std::move(step)] {
          while (!done_ && !step()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
          fired_ = !done_;
      }) {}

Watcher::~Watcher() {
    done_ = true;
    thread_.join();
}

bool Watcher::Fired() {
    done_ = true;
    thread_.join();
    thread_ = std::thread([] {});
    return fired_;
}

}  // namespace tessarine::testing
