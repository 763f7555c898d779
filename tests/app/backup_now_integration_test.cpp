// The real program, headless, backs up to smbd when "--backup-now --wait" asks: the command
// ends with the run's result code (0 all copied, 2 a pair whose destination is missing, 1 the
// device not reached) and prints the progress it was told. Needs the smbd fixture
// (scripts/smbd-fixture).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "app/backup_now_command.h"
#include "app/smb_headless_fixture.h"
#include "fakes/smb_fixture.h"
#include "fakes/test_support.h"

namespace tessarine {
namespace {

using namespace app_test;  // NOLINT(google-build-using-namespace): the fixture's own names
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing::ReadFile;
using testing::ScopedEnv;
using testing::WriteFile;

class BackupNowCommandTest : public SmbHeadlessTest {
protected:
    BackupNowCommandTest() : SmbHeadlessTest("backupnow") {}

    void SetUp() override {
        SmbHeadlessTest::SetUp();
        if (::testing::Test::IsSkipped() || HasFatalFailure()) return;
        for (int i = 0; i < 40; ++i)
            ASSERT_TRUE(WriteFile(
                temp_.Sub("docs/sub" + std::to_string(i % 4) + "/f" + std::to_string(i) + ".txt"),
                "file " + std::to_string(i)));
    }

    // A headless instance with the fixture as its device; `missingPair`: a second pair whose
    // destination folder does not exist on the share.
    pid_t StartConfigured(bool missingPair) {
        const FolderPair second =
            missingPair ? FolderPair{temp_.Sub("docs/sub1"), Unc(folder_ + "-missing")}
                        : FolderPair{};
        return SmbHeadlessTest::StartConfigured(server_,
                                                {{temp_.Sub("docs"), Unc(folder_)}, second}, false);
    }

    void Stop(pid_t program) {
        ASSERT_EQ(0, kill(program, SIGTERM));
        ASSERT_EQ(0, WaitExit(program, 60s));
    }

    int BackupNowWait() { return WaitExit(Start({"--backup-now", "--wait"}), 300s); }
};

TEST_F(BackupNowCommandTest, WaitEndsWithTheRunsResultCodeAndShowsProgress) {
    EXPECT_EQ(kBackupNowExitNoInstance, Run({"--backup-now"}));
    EXPECT_EQ(kBackupNowExitUsage, Run({"--backup-now", "--bogus"}));

    pid_t program = StartConfigured(false);
    EXPECT_EQ(0, BackupNowWait()) << ReadFile(lastOutput_);
    std::string output = ReadFile(lastOutput_);
    EXPECT_EQ(0u, output.find("Backup started.\n")) << output;
    // 40 files in 4 folders.
    EXPECT_NE(std::string::npos, output.find("44/44 entries\n")) << output;
    EXPECT_NE(std::string::npos, output.find("Backup ended with result 0: backed up.")) << output;
    EXPECT_EQ("file 7", ReadFile(Served("sub3/f7.txt")));
    ASSERT_NO_FATAL_FAILURE(Stop(program));

    program = StartConfigured(true);
    ASSERT_TRUE(WriteFile(temp_.Sub("docs/sub0/new.txt"), "new"));
    EXPECT_EQ(2, BackupNowWait()) << ReadFile(lastOutput_) << LogText();
    output = ReadFile(lastOutput_);
    EXPECT_NE(std::string::npos, output.find("result 2: some entries were not backed up"))
        << output;
    EXPECT_EQ("new", ReadFile(Served("sub0/new.txt")));
    ASSERT_NO_FATAL_FAILURE(Stop(program));

    // The same settings, but the device's port closed.
    {
        ScopedEnv closed{"TESSARINE_SMB_PORT", std::to_string(testing::ClosedLoopbackPort())};
        program = StartConfigured(false);
    }
    EXPECT_EQ(1, BackupNowWait()) << ReadFile(lastOutput_) << LogText();
    EXPECT_NE(std::string::npos, ReadFile(lastOutput_).find("result 1: the device was not reached"))
        << ReadFile(lastOutput_);
    ASSERT_NO_FATAL_FAILURE(Stop(program));
}

}  // namespace
}  // namespace tessarine
