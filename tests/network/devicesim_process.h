// Runs the simulated device (tools/devicesim) as a child process for the integration tests:
// starts it, reads its ready line, and stops it with SIGTERM when the object goes away.
#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace tessarine::testing {

class DeviceSimProcess {
public:
    // `prefix` goes before the interpreter, e.g. {"ip", "netns", "exec", "ns"}.
    explicit DeviceSimProcess(const std::vector<std::string>& args,
                              const std::vector<std::string>& prefix = {}) {
        // TESSARINE_SOURCE_DIR from the environment, else the checkout the tests were built from.
        std::string sourceDir = TESSARINE_SOURCE_DIR;
        if (const char* fromEnv = std::getenv("TESSARINE_SOURCE_DIR"); fromEnv && *fromEnv)
            sourceDir = fromEnv;
        std::vector<std::string> argv = prefix;
        argv.push_back("python3");
        argv.push_back(sourceDir + "/tools/devicesim/devicesim.py");
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> cargs;
        for (auto& a : argv) cargs.push_back(a.data());
        cargs.push_back(nullptr);

        int out[2];
        if (pipe(out) != 0) {
            error_ = "pipe failed";
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        if (posix_spawnp(&pid_, cargs[0], &actions, nullptr, cargs.data(), environ) != 0) {
            pid_ = -1;
            error_ = "cannot start " + argv[0];
        }
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        stdout_ = out[0];
        if (pid_ > 0) ReadReadyLine();
    }

    ~DeviceSimProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
        if (stdout_ >= 0) close(stdout_);
    }
    DeviceSimProcess(const DeviceSimProcess&) = delete;
    DeviceSimProcess& operator=(const DeviceSimProcess&) = delete;

    bool Ready() const { return error_.empty(); }
    const std::string& Error() const { return error_; }
    // The ready line, e.g. "web http=41234 https=41235 cert=/tmp/...".
    const std::string& ReadyLine() const { return readyLine_; }
    // The value of "key=" in the ready line; "" when absent.
    std::string Value(const std::string& key) const {
        const std::string marker = key + "=";
        std::size_t at = readyLine_.find(marker);
        if (at == std::string::npos) return std::string();
        at += marker.size();
        return readyLine_.substr(at, readyLine_.find(' ', at) - at);
    }

private:
    void ReadReadyLine() {
        pollfd fd{stdout_, POLLIN, 0};
        char c = 0;
        while (poll(&fd, 1, 20000) == 1 && read(stdout_, &c, 1) == 1) {
            if (c == '\n') return;
            readyLine_.push_back(c);
        }
        error_ = "the simulator did not report ready: " + readyLine_;
    }

    pid_t pid_ = -1;
    int stdout_ = -1;
    std::string readyLine_;
    std::string error_;
};

}  // namespace tessarine::testing
