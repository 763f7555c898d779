// The real program as a child process, started headless with a temporary data folder and
// driven from outside, as a user or a service manager would.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/string_utility.h"
#include "fakes/smb_fixture.h"
#include "fakes/test_support.h"
#include "settings/profile_store.h"

namespace tessarine::app_test {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing::ReadFile;
using testing::ScopedEnv;
using testing::TempDir;
using testing::WriteFile;

constexpr int kNotEnded = -1;

class HeadlessTest : public ::testing::Test {
protected:
    HeadlessTest() {
        fs::create_directories(temp_.Sub("profile"));
        fs::create_directories(temp_.Sub("run"));
        fs::permissions(temp_.Sub("run"), fs::perms::owner_all);
    }
    ~HeadlessTest() override {
        for (pid_t pid : started_) {
            if (kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
        }
    }

    void SetUp() override {
        const char* binary = std::getenv("TESSARINE_BINARY");
        ASSERT_NE(binary, nullptr) << "TESSARINE_BINARY names the program under test";
        binary_ = binary;
    }

    // Starts the program with `args`; its output goes to "<temp>/output.<n>".
    pid_t Start(const std::vector<std::string>& args) {
        const std::string output = temp_.Sub("output." + std::to_string(outputs_++));
        const pid_t pid = fork();
        if (pid == 0) {
            const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
            std::vector<char*> argv{const_cast<char*>(binary_.c_str())};
            for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(binary_.c_str(), argv.data());
            const std::string why = "execv: " + std::string(std::strerror(errno)) + "\n";
            (void)!write(STDERR_FILENO, why.data(), why.size());
            _exit(127);
        }
        if (pid > 0) started_.push_back(pid);
        lastOutput_ = output;
        return pid;
    }

    // The exit code, or kNotEnded when the process is still running after `timeout`.
    static int WaitExit(pid_t pid, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            int status = 0;
            const pid_t done = waitpid(pid, &status, WNOHANG);
            if (done == pid)
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            if (std::chrono::steady_clock::now() > deadline) return kNotEnded;
            std::this_thread::sleep_for(20ms);
        }
    }

    int Run(const std::vector<std::string>& args) { return WaitExit(Start(args), 30s); }

    // Waits until the instance answers on its control socket ("unknown event" is an answer,
    // and signals nothing).
    bool WaitUntilReady(pid_t pid) {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (WaitExit(pid, 0ms) != kNotEnded) return false;
            if (Run({"--signal", "Ping"}) == 2) return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    std::string DataFolder() const { return temp_.Sub("profile/corvane/Tessarine Tool/"); }
    std::string LogText() const { return ReadFile(DataFolder() + "log/TessarineTool.log"); }

    // A backup pair as the settings name it: the local folder and its UNC destination.
    struct FolderPair {
        std::string source;
        std::string destination;
    };

    // Writes the device `server` (address and account), `pairs` from SourceFolderPath01 on (an
    // empty pair clears its place) and the mirroring switch (IsDeletedFileBackup) into the
    // settings file; `more` writes what a test needs besides. False when the write failed.
    bool WriteSettings(const testing::SmbFixture& server, const std::vector<FolderPair>& pairs,
                       bool mirroring,
                       const std::function<void(CProfileStore&)>& more = nullptr) const {
        CProfileStore profile(DataFolder() + "TessarineTool.msf");
        profile.BeginBatch();
        profile.WriteString("CommonSetting", "IPV4Address", server.host);
        profile.WriteString("CommonSetting", "UserName", server.user);
        profile.WriteString("CommonSetting", "UserPassword",
                            CStringUtility::EncodeBase64(server.password));
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            profile.WriteString("BackupSetting",
                                Format("SourceFolderPath%02d", static_cast<int>(i + 1)),
                                pairs[i].source);
            profile.WriteString("BackupSetting",
                                Format("DestinationFolderPath%02d", static_cast<int>(i + 1)),
                                pairs[i].destination);
        }
        profile.WriteString("BackupSetting", "IsDeletedFileBackup", mirroring ? "TRUE" : "FALSE");
        if (more) more(profile);
        return profile.CommitBatch();
    }

    // Starts the headless program and, once it answers, gives it the settings of WriteSettings.
    pid_t StartConfigured(const testing::SmbFixture& server, const std::vector<FolderPair>& pairs,
                          bool mirroring) {
        const pid_t program = Start({"--headless"});
        EXPECT_TRUE(WaitUntilReady(program)) << ReadFile(lastOutput_);
        EXPECT_TRUE(WriteSettings(server, pairs, mirroring));
        return program;
    }

    // How many backup runs have ended, by the log: the executor always writes its end line.
    int RunEnds() const {
        const std::string log = LogText();
        int count = 0;
        for (std::size_t at = 0; (at = log.find("ThreadCore End", at)) != std::string::npos; ++at)
            ++count;
        return count;
    }

    TempDir temp_;
    ScopedEnv profileEnv_{"ALLUSERSPROFILE", temp_.Sub("profile")};
    ScopedEnv runtimeEnv_{"XDG_RUNTIME_DIR", temp_.Sub("run")};
    std::string binary_;
    std::vector<pid_t> started_;
    int outputs_ = 0;
    std::string lastOutput_;
};

}  // namespace tessarine::app_test
