// The real program, started headless with a temporary data folder and driven from outside, as
// a user or a service manager would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/headless_fixture.h"
#include "detection/detect_file_result_sql_utility.h"
#include "fakes/smb_fixture.h"
#include "fakes/test_support.h"
#include "settings/child_process.h"

namespace tessarine {
namespace {

using namespace app_test;  // NOLINT(google-build-using-namespace): the fixture's own names
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing::ReadFile;
using testing::RunInChild;
using testing::ScopedEnv;
using testing::TempDir;
using testing::WriteFile;

TEST_F(HeadlessTest, RunsTakesSignalsAndStopsOnSigterm) {
    const pid_t first = Start({"--headless"});
    ASSERT_TRUE(WaitUntilReady(first)) << ReadFile(temp_.Sub("output.0"));

    // A second instance ends at once and quietly succeeds; the first keeps running.
    EXPECT_EQ(Run({"--headless"}), 0);
    EXPECT_EQ(WaitExit(first, 0ms), kNotEnded);

    EXPECT_EQ(Run({"--signal", "BackupNow"}), 0);
    const int unknown = Run({"--signal", "Nope"});
    EXPECT_NE(unknown, 0);
    EXPECT_NE(unknown, kNotEnded);
    EXPECT_NE(ReadFile(lastOutput_).find("Nope"), std::string::npos);

    ASSERT_EQ(kill(first, SIGTERM), 0);
    EXPECT_EQ(WaitExit(first, 10s), 0);

    const std::string log = LogText();
    EXPECT_NE(log.find("Control Signal. Event:BackupNow"), std::string::npos) << log;
    EXPECT_NE(log.find("Stop Signal Received. Signal:15"), std::string::npos) << log;
    EXPECT_TRUE(fs::exists(DataFolder() + "TessarineTool.msf"));
    EXPECT_TRUE(fs::exists(DataFolder() + "log/setting.xml"));
    EXPECT_FALSE(fs::exists(temp_.Sub("run/TessarineTool.sock")));
    EXPECT_EQ(Run({"--signal", "BackupNow"}), 1);  // nobody listens any more
}

TEST_F(HeadlessTest, KilledInstanceDoesNotBlockTheNextStart) {
    const pid_t first = Start({"--headless"});
    ASSERT_TRUE(WaitUntilReady(first));
    ASSERT_EQ(kill(first, SIGKILL), 0);
    ASSERT_NE(WaitExit(first, 10s), kNotEnded);
    EXPECT_TRUE(fs::exists(temp_.Sub("run/TessarineTool.sock")));  // left behind

    const pid_t next = Start({"--headless"});
    ASSERT_TRUE(WaitUntilReady(next)) << ReadFile(lastOutput_);
    EXPECT_EQ(Run({"--signal", "BackupNow"}), 0);
    ASSERT_EQ(kill(next, SIGINT), 0);
    EXPECT_EQ(WaitExit(next, 10s), 0);
}

TEST_F(HeadlessTest, CommandLine) {
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* output;
    };
    const Case cases[] = {
        {{"--version"}, 0, "TessarineTool 1.0.0"},
        {{"--help"}, 0, "--signal NAME"},
        {{"--signal", "BackupNow"}, 1, "no running instance"},
        {{"--signal"}, 64, "Usage:"},
        {{"--signal", std::string(300, 'x')}, 64, "the event name is longer than 248 bytes"},
        {{"--signal", "Backup\nNow"}, 64, "the event name contains a control character"},
        {{"--bogus"}, 64, "Usage:"},
        {{"--headless", "extra"}, 64, "Usage:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front());
        EXPECT_EQ(Run(c.args), c.exitCode);
        EXPECT_NE(ReadFile(lastOutput_).find(c.output), std::string::npos) << ReadFile(lastOutput_);
    }
    EXPECT_FALSE(fs::exists(DataFolder()));  // none of these starts the program
}

// `--results N` prints the N newest stored results, each with its hits grouped by category,
// as it reads them; without a database it says so and creates nothing.
TEST_F(HeadlessTest, ResultsListsTheNewestWithTheirHits) {
    EXPECT_EQ(Run({"--results"}), 0);
    EXPECT_NE(ReadFile(lastOutput_).find("No detection results stored yet"), std::string::npos)
        << ReadFile(lastOutput_);
    EXPECT_FALSE(fs::exists(DataFolder() + "TessarineTool.db"));

    fs::create_directories(DataFolder());
    {
        CDetectFileResultSQLUtility results(DataFolder() + "TessarineTool.db");
        ASSERT_EQ(results.Initialize(), 0);
        const CDetectFileResult stored[] = {
            {"", "old.txt", "/home/u/old.txt", "20240101000000", {{"x", "old hit"}}},
            {"", "new.txt", "/home/u/new.txt", "20240301000000", {{"c", "one"}, {"c", "two"}}},
            {"", "mid.txt", "/home/u/mid.txt", "20240201000000", {}},
        };
        for (const CDetectFileResult& result : stored)
            ASSERT_EQ(results.StoreDetectFileResult(result),
                      CDetectFileResultSQLUtility::StoreOutcome::kStored);
    }
    ASSERT_EQ(Run({"--results", "2"}), 0) << ReadFile(lastOutput_);
    const std::string listed = ReadFile(lastOutput_);
    const std::size_t newest = listed.find("new.txt");
    const std::size_t middle = listed.find("mid.txt");
    ASSERT_NE(newest, std::string::npos) << listed;
    ASSERT_NE(middle, std::string::npos) << listed;
    EXPECT_LT(newest, middle);
    EXPECT_NE(listed.find("    c (2)\n      one\n      two\n"), std::string::npos) << listed;
    EXPECT_EQ(listed.find("old.txt"), std::string::npos) << "only the two newest: " << listed;
}

TEST_F(HeadlessTest, BackupNowBacksUpToTheDeviceShare) {
    // The device's share is a local folder here (an already mounted share); the SMB path is
    // covered by the executor's integration tests.
    ScopedEnv shareRoot{"TESSARINE_SHARE_ROOT", temp_.Sub("device")};
    fs::create_directories(temp_.Sub("device/zereda/backup"));
    ASSERT_TRUE(testing::WriteFile(temp_.Sub("docs/a.txt"), "alpha"));
    ASSERT_TRUE(testing::WriteFile(temp_.Sub("docs/sub/設計書.txt"), "beta"));

    const pid_t program = Start({"--headless"});
    ASSERT_TRUE(WaitUntilReady(program)) << ReadFile(lastOutput_);
    testing::SmbFixture device;
    device.host = "192.0.2.10";
    device.user = "scanner";
    device.password = "s3cr3t-Pa55";
    ASSERT_TRUE(
        WriteSettings(device, {{temp_.Sub("docs"), "\\\\192.0.2.10\\zereda\\backup\\docs"}}, true));
    fs::create_directories(temp_.Sub("device/zereda/backup/docs"));

    const auto backupNow = [&](int runsBefore) {
        EXPECT_EQ(Run({"--signal", "BackupNow"}), 0);
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (RunEnds() == runsBefore && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
        return RunEnds() > runsBefore;
    };

    ASSERT_TRUE(backupNow(0)) << LogText();
    EXPECT_EQ(ReadFile(temp_.Sub("device/zereda/backup/docs/sub/設計書.txt")), "beta");
    const std::string result = ReadFile(DataFolder() + "backup/result.xml");
    EXPECT_NE(result.find("<result>0</result>"), std::string::npos) << result;
    EXPECT_NE(ReadFile(DataFolder() + "backup/deteil_result.xml")
                  .find("<execute_count>3</execute_count>"),
              std::string::npos);
    bool serverFileSent = false;
    for (const auto& entry : fs::directory_iterator(temp_.Sub("device/zereda/backup")))
        serverFileSent |= entry.path().extension() == ".xml";
    EXPECT_TRUE(serverFileSent);

    // The next run is differential: a deleted source file is deleted on the device too.
    fs::remove(temp_.Sub("docs/a.txt"));
    ASSERT_TRUE(backupNow(1)) << LogText();
    EXPECT_FALSE(fs::exists(temp_.Sub("device/zereda/backup/docs/a.txt")));
    EXPECT_TRUE(fs::exists(temp_.Sub("device/zereda/backup/docs/sub/設計書.txt")));
    EXPECT_NE(ReadFile(DataFolder() + "backup/deteil_result.xml")
                  .find("<execute_count>1</execute_count>"),
              std::string::npos);

    const std::string log = LogText();
    EXPECT_EQ(log.find("s3cr3t-Pa55"), std::string::npos);  // the password never reaches the log
    ASSERT_EQ(kill(program, SIGTERM), 0);
    EXPECT_EQ(WaitExit(program, 30s), 0);
}

TEST_F(HeadlessTest, BackupDatabaseThatCannotOpenEndsStartUp) {
    // A folder where the database file belongs: SQLite cannot open it.
    fs::create_directories(DataFolder() + "TessarineTool.db");
    EXPECT_EQ(Run({"--headless"}), 1);
    EXPECT_NE(LogText().find("Initialize Backup Table Error."), std::string::npos) << LogText();
}

TEST_F(HeadlessTest, SilentClientsDoNotDelayASignal) {
    const pid_t instance = Start({"--headless"});
    ASSERT_TRUE(WaitUntilReady(instance)) << ReadFile(lastOutput_);

    // More silent connections than the server keeps open, each of which would hold a
    // one-at-a-time server for its whole 2 s read time.
    const std::string socketPath = temp_.Sub("run/TessarineTool.sock");
    std::vector<int> silent;
    for (int i = 0; i < 20; ++i) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        silent.push_back(fd);
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run({"--signal", "BackupNow"}), 0) << ReadFile(lastOutput_);
    // Far below the 40 s a one-at-a-time server would need; the margin is for starting a
    // sanitizer build of the client on a loaded machine.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5000ms);
    for (int fd : silent) close(fd);

    ASSERT_EQ(kill(instance, SIGTERM), 0);
    EXPECT_EQ(WaitExit(instance, 10s), 0);
    EXPECT_NE(LogText().find("Control Signal. Event:BackupNow"), std::string::npos) << LogText();
}

TEST_F(HeadlessTest, ControlSocketThatCannotBeSetUpEndsStartUp) {
    ASSERT_TRUE(WriteFile(temp_.Sub("run/TessarineTool.sock"), "not a socket"));
    EXPECT_EQ(Run({"--headless"}), 1);
    EXPECT_NE(ReadFile(lastOutput_)
                  .find("cannot set up the control socket: " + temp_.Sub("run/TessarineTool.sock") +
                        " exists and is not a socket"),
              std::string::npos)
        << ReadFile(lastOutput_);
    EXPECT_EQ(ReadFile(temp_.Sub("run/TessarineTool.sock")), "not a socket");
}

// A shared profile folder in which another local user prepared our data folder, or made it
// writable and planted a link where our settings file belongs: the program refuses to start
// and the link's target is untouched.
TEST_F(HeadlessTest, DataFolderOtherUsersCanChangeIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another local user";
    ASSERT_EQ(chmod(temp_.Path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(temp_.Sub("profile").c_str(), 01777), 0);
    const std::string victim = temp_.Sub("victim.txt");
    ASSERT_TRUE(WriteFile(victim, "precious\n"));
    ASSERT_EQ(mkdir(temp_.Sub("profile/corvane").c_str(), 0777), 0);
    ASSERT_EQ(chmod(temp_.Sub("profile/corvane").c_str(), 0777), 0);

    struct Case {
        const char* what;
        bool preparedByOther;  // else ours, but opened to everyone
        const char* reason;
    };
    const Case cases[] = {
        {"prepared by another user", true, "It belongs to user 65534"},
        {"writable by others", false, "It is writable by group or others (mode 0777)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string folder = DataFolder();
        fs::remove_all(folder);
        if (!c.preparedByOther) {
            ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
            ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
        }
        ASSERT_EQ(RunInChild(true,
                             [&] {
                                 if (c.preparedByOther && mkdir(folder.c_str(), 0777) != 0)
                                     return 1;
                                 return symlink(victim.c_str(),
                                                (folder + "TessarineTool.msf").c_str()) == 0
                                            ? 0
                                            : 2;
                             }),
                  0);
        EXPECT_EQ(Run({"--headless"}), 1);
        const std::string output = ReadFile(lastOutput_);
        EXPECT_NE(output.find("refusing a data folder that other users could change"),
                  std::string::npos)
            << output;
        EXPECT_NE(output.find(c.reason), std::string::npos) << output;
        EXPECT_EQ(ReadFile(victim), "precious\n");
        EXPECT_FALSE(fs::exists(folder + "log"));
    }
}

}  // namespace
}  // namespace tessarine
