// Looking at the copier processes a test's share started, and acting on them from a thread of
// the test's own while a run goes on.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace tessarine::testing {

// The text of a file of /proc; "" (or what was read) when its process ends meanwhile, which a
// busy machine's other processes do at any time.
std::string ReadProcFile(const std::filesystem::path& path);

// The copier processes this test process started (its children in copier mode).
std::vector<pid_t> CopierProcesses();

// The copier that has `path` open, or 0.
pid_t CopierReading(const std::string& path);

// Runs `step` every few milliseconds on a thread of its own until it returns true or the
// watcher is destroyed.
class Watcher {
public:
    explicit Watcher(std::function<bool()> step);
    ~Watcher();
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;
    // Ends the watching; true when `step` had returned true.
    bool Fired();

private:
    std::atomic<bool> done_{false};
    std::atomic<bool> fired_{false};
    std::thread thread_;
};

// A fixture whose tests run twice: one copy at a time in the test's own process, and through
// copier processes (Base::UseCopiers). Instantiate over ::testing::Bool() with CopyPathName.
template <typename Base>
class BothCopyPaths : public Base, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        Base::SetUp();
        if (!this->IsSkipped() && this->GetParam()) this->UseCopiers();
    }
};

inline std::string CopyPathName(const ::testing::TestParamInfo<bool>& info) {
    return info.param ? "Copiers" : "InProcess";
}

}  // namespace tessarine::testing
