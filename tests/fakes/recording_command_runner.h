// A CommandRunner that records the commands it is asked to run and runs none.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/command_runner.h"

namespace tessarine::testing {

class RecordingCommandRunner : public CommandRunner {
public:
    int status = 0;  // what Run reports

    int Run(const std::vector<std::string>& argv) override {
        std::lock_guard lock(mutex_);
        commands_.push_back(argv);
        return status;
    }
    std::vector<std::vector<std::string>> Commands() const {
        std::lock_guard lock(mutex_);
        return commands_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::vector<std::string>> commands_;
};

}  // namespace tessarine::testing
