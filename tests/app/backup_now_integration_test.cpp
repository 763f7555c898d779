// The real program, headless, backs up to smbd when "--backup-now --wait" asks: the command
// ends with the run's result code (0 all copied, 2 a pair whose destination is missing, 1 the
// device not reached) and prints the progress it was told. Needs the smbd fixture
// (scripts/smbd-fixture).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "app/backup_now_command.h"
#include "app/headless_fixture.h"
#include "base/string_utility.h"
#include "fakes/smb_fixture.h"
#include "fakes/test_support.h"
#include "platform/posix/smb_share.h"
#include "settings/profile_store.h"

namespace tessarine {
namespace {

using namespace app_test;  // NOLINT(google-build-using-namespace): the fixture's own names
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing::ReadFile;
using testing::ScopedEnv;
using testing::WriteFile;

class BackupNowCommandTest : public HeadlessTest {
protected:
    void SetUp() override {
        HeadlessTest::SetUp();
        if (::testing::Test::IsSkipped() || HasFatalFailure()) return;
        if (!server_.Load()) GTEST_SKIP() << testing::kSmbFixtureMissing;
        folder_ = "backupnow" + std::to_string(getpid());
        SmbShare share(server_.port);
        ASSERT_EQ(0, share.Connect(server_.host, server_.user, server_.password));
        const IoStatus base = share.CreateFolder(Unc(""));
        ASSERT_TRUE(base || base.error == EEXIST) << base.error;
        ASSERT_TRUE(share.CreateFolder(Unc(folder_)));
        share.Cancel(server_.host);
        for (int i = 0; i < 40; ++i)
            ASSERT_TRUE(WriteFile(
                temp_.Sub("docs/sub" + std::to_string(i % 4) + "/f" + std::to_string(i) + ".txt"),
                "file " + std::to_string(i)));
    }
    void TearDown() override {
        if (folder_.empty()) return;
        std::error_code ignored;
        fs::remove_all(server_.root + "/zereda/backup/" + folder_, ignored);
    }

    std::string Unc(const std::string& relative) const {
        return "\\\\" + server_.host + "\\zereda\\backup" +
               (relative.empty() ? "" : "\\" + relative);
    }

    // A headless instance with the fixture as its device; `missingPair`: a second pair whose
    // destination folder does not exist on the share.
    pid_t StartConfigured(bool missingPair) {
        const pid_t program = Start({"--headless"});
        EXPECT_TRUE(WaitUntilReady(program)) << ReadFile(lastOutput_);
        CProfileStore profile(DataFolder() + "TessarineTool.msf");
        profile.BeginBatch();
        profile.WriteString("CommonSetting", "IPV4Address", server_.host);
        profile.WriteString("CommonSetting", "UserName", server_.user);
        profile.WriteString("CommonSetting", "UserPassword",
                            CStringUtility::EncodeBase64(server_.password));
        profile.WriteString("BackupSetting", "SourceFolderPath01", temp_.Sub("docs"));
        profile.WriteString("BackupSetting", "DestinationFolderPath01", Unc(folder_));
        profile.WriteString("BackupSetting", "SourceFolderPath02",
                            missingPair ? temp_.Sub("docs/sub1") : "");
        profile.WriteString("BackupSetting", "DestinationFolderPath02",
                            missingPair ? Unc(folder_ + "-missing") : "");
        EXPECT_TRUE(profile.CommitBatch());
        return program;
    }

    void Stop(pid_t program) {
        ASSERT_EQ(0, kill(program, SIGTERM));
        ASSERT_EQ(0, WaitExit(program, 60s));
    }

    int BackupNowWait() { return WaitExit(Start({"--backup-now", "--wait"}), 300s); }

    testing::SmbFixture server_;
    std::string folder_;
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
    EXPECT_EQ("file 7", ReadFile(server_.root + "/zereda/backup/" + folder_ + "/sub3/f7.txt"));
    ASSERT_NO_FATAL_FAILURE(Stop(program));

    program = StartConfigured(true);
    ASSERT_TRUE(WriteFile(temp_.Sub("docs/sub0/new.txt"), "new"));
    EXPECT_EQ(2, BackupNowWait()) << ReadFile(lastOutput_) << LogText();
    output = ReadFile(lastOutput_);
    EXPECT_NE(std::string::npos, output.find("result 2: some entries were not backed up"))
        << output;
    EXPECT_EQ("new", ReadFile(server_.root + "/zereda/backup/" + folder_ + "/sub0/new.txt"));
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
