// Runs an outside command (the system's shutdown). Injected so that tests record the command
// instead of running it; the program never runs one while headless.
#pragma once

#include <string>
#include <vector>

namespace tessarine {

class CommandRunner {
public:
    virtual ~CommandRunner() = default;
    // Starts `argv` (argv[0] found on PATH) and waits for it; its exit status, or -1 when it
    // could not be started.
    virtual int Run(const std::vector<std::string>& argv) = 0;
};

// The real runner (posix_spawnp).
CommandRunner& DefaultCommandRunner();

}  // namespace tessarine
