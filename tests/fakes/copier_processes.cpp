#include "fakes/copier_processes.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/posix/share_copier.h"

namespace tessarine::testing {

namespace fs = std::filesystem;

std::string ReadProcFile(const fs::path& path) {
    // Not through a stream: its read error (ESRCH once the process ended) is thrown.
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

namespace {

// The entries of a /proc folder; one that vanishes meanwhile ends the listing, not the test.
std::vector<fs::path> ListIfPresent(const fs::path& folder) {
    std::vector<fs::path> entries;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error))
        entries.push_back(it->path());
    return entries;
}

}  // namespace

std::vector<pid_t> CopierProcesses() {
    std::vector<pid_t> pids;
    const std::string parent = std::to_string(getpid());
    for (const fs::path& entry : ListIfPresent("/proc")) {
        const std::string name = entry.filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string stat = ReadProcFile(entry / "stat");
        const std::size_t close = stat.rfind(')');
        int ppid = 0;
        char state = 0;
        if (close == std::string::npos ||
            std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) != 2 ||
            std::to_string(ppid) != parent || state == 'Z')
            continue;
        if (ReadProcFile(entry / "cmdline").find(kShareCopierOption) != std::string::npos)
            pids.push_back(std::atoi(name.c_str()));
    }
    return pids;
}

pid_t CopierReading(const std::string& path) {
    for (pid_t pid : CopierProcesses()) {
        std::error_code error;
        for (const fs::path& fd : ListIfPresent("/proc/" + std::to_string(pid) + "/fd"))
            if (fs::read_symlink(fd, error) == fs::path(path)) return pid;
    }
    return 0;
}

Watcher::Watcher(std::function<bool()> step)
    : thread_([this, step = std::move(step)] {
          // A step that returned true counts even when the watching is ended meanwhile.
          while (!done_ && !(fired_ = step()))
              std::this_thread::sleep_for(std::chrono::milliseconds(2));
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
