#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

#include "platform/command_runner.h"

extern char** environ;

namespace tessarine {
namespace {

class PosixCommandRunner : public CommandRunner {
public:
    int Run(const std::vector<std::string>& argv) override {
        if (argv.empty()) return -1;
        std::vector<char*> args;
        args.reserve(argv.size() + 1);
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        pid_t pid = 0;
        if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
        int status = 0;
        while (waitpid(pid, &status, 0) < 0) {
            if (errno != EINTR) return -1;
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

}  // namespace

CommandRunner& DefaultCommandRunner() {
    static PosixCommandRunner runner;
    return runner;
}

}  // namespace tessarine
