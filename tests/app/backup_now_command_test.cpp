// "--backup-now" against an instance's control server and run reporter in this process: the
// counters a run writes are moved by hand, and the command's output and exit code checked.
#include "app/backup_now_command.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "app/backup_run_reporter.h"
#include "fakes/test_support.h"
#include "platform/named_events.h"
#include "platform/posix/control_socket.h"

namespace tessarine {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;

constexpr char kTitle[] = "TessarineTool";

bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i) std::this_thread::sleep_for(10ms);
    return done();
}

std::string ReadBack(std::FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[256];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, got);
    return text;
}

class BackupNowTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_.SetRunHandler(
            [this](const std::string& name, int fd) { return reporter_.Take(name, fd); });
        ASSERT_TRUE(server_.Start(folder_, kTitle));
    }
    void TearDown() override {
        if (request_.joinable()) request_.join();
        std::fclose(out_);
        std::fclose(err_);
    }

    // The command in its own thread, as the separate process it is.
    void Request(bool wait, bool terminal = false) {
        request_ = std::thread([this, wait, terminal] {
            exit_.store(RequestBackup(folder_, kTitle, wait, terminal, out_, err_));
        });
    }
    int Exit() {
        request_.join();
        return exit_.load();
    }
    // What a run does to the counters, from its start to its end with `code`.
    void RunToEnd(int code) {
        ++progress_.runsStarted;
        progress_.totalCount.store(-1);
        progress_.doneCount.store(0);
        std::this_thread::sleep_for(BackupRunReporter::kReportInterval * 2);
        progress_.totalCount.store(3);
        for (int i = 1; i <= 3; ++i) progress_.doneCount.store(i);
        progress_.lastResultCode.store(code);
        ++progress_.runsEnded;
    }

    TempDir temp_;
    std::string folder_ = temp_.Sub("run/");
    BackupProgress progress_;
    std::atomic<int> executing_{0};
    std::atomic<int> requests_{0};
    BackupRunReporter reporter_{progress_, executing_, [this] {
                                    ++requests_;
                                    return true;
                                }};
    NamedEvents events_;
    ControlServer server_{events_};
    std::FILE* out_ = std::tmpfile();
    std::FILE* err_ = std::tmpfile();
    std::thread request_;
    std::atomic<int> exit_{-1};
};

TEST_F(BackupNowTest, WaitEndsWithTheRunsResultCodeAfterItsProgress) {
    struct Case {
        int code;
        int exit;
        const char* ending;
    };
    const Case cases[] = {
        {0, kBackupNowExitSuccess, "Backup ended with result 0: backed up.\n"},
        {1, kBackupNowExitUnreachable, "result 1: the device was not reached."},
        {2, kBackupNowExitFailed, "result 2: some entries were not backed up"},
        {-1, kBackupNowExitNoResult, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        std::FILE* out = std::tmpfile();
        std::swap(out, out_);
        const int before = requests_.load();
        Request(true);
        ASSERT_TRUE(WaitFor([&] { return requests_.load() == before + 1; }));
        RunToEnd(c.code);
        EXPECT_EQ(c.exit, Exit());
        const std::string output = ReadBack(out_);
        EXPECT_EQ(0u, output.find("Backup started.\n")) << output;
        EXPECT_NE(std::string::npos, output.find("3/3 entries\n")) << output;
        EXPECT_NE(std::string::npos, output.find(c.ending)) << output;
        if (c.code < 0) {
            EXPECT_EQ(std::string::npos, output.find("Backup ended")) << output;
        }
        std::swap(out, out_);
        std::fclose(out);
    }
    EXPECT_NE(std::string::npos, ReadBack(err_).find("ended without a result"));
    EXPECT_TRUE(WaitFor([&] { return reporter_.Waiting() == 0; }));
}

TEST_F(BackupNowTest, ARunGoingIsFollowedNotStartedAgain) {
    ++progress_.runsStarted;
    progress_.totalCount.store(10);
    progress_.doneCount.store(4);
    Request(true, true);
    ASSERT_TRUE(WaitFor([&] { return reporter_.Waiting() == 1; }));
    progress_.doneCount.store(10);
    progress_.lastResultCode.store(2);
    ++progress_.runsEnded;
    EXPECT_EQ(kBackupNowExitFailed, Exit());
    EXPECT_EQ(0, requests_.load());
    const std::string output = ReadBack(out_);
    EXPECT_EQ(0u, output.find("A backup is already running; waiting for its end.\n")) << output;
    // On a terminal: a bar redrawn in place, ended by a newline before the last line.
    EXPECT_NE(std::string::npos, output.find("\r[###")) << output;
    EXPECT_NE(std::string::npos, output.find("100%  10/10 entries \nBackup ended")) << output;
}

TEST_F(BackupNowTest, WithoutWaitTheAnswerIsEnoughAndTheReporterLetsGo) {
    Request(false);
    EXPECT_EQ(kBackupNowExitSuccess, Exit());
    EXPECT_EQ(1, requests_.load());
    EXPECT_EQ("Backup started.\n", ReadBack(out_));
    EXPECT_TRUE(WaitFor([&] { return reporter_.Waiting() == 0; }));
}

TEST_F(BackupNowTest, NoResultWhenBusyWhenTheProgramEndsOrWhenNoneRuns) {
    executing_.store(1);  // held by the settings window's save or a restore
    Request(true);
    EXPECT_EQ(kBackupNowExitNoResult, Exit());
    EXPECT_EQ(0, requests_.load());
    EXPECT_NE(std::string::npos, ReadBack(err_).find("a settings change or a restore"));
    executing_.store(0);

    Request(true);
    ASSERT_TRUE(WaitFor([&] { return reporter_.Waiting() == 1; }));
    ++progress_.runsStarted;
    reporter_.Stop();
    EXPECT_EQ(kBackupNowExitNoResult, Exit());
    EXPECT_NE(std::string::npos, ReadBack(err_).find("the program ended before the backup did"));
    // A stopped reporter takes no more requests.
    Request(true);
    EXPECT_EQ(kBackupNowExitNoResult, Exit());

    server_.Stop();
    Request(true);
    EXPECT_EQ(kBackupNowExitNoInstance, Exit());
    EXPECT_NE(std::string::npos, ReadBack(err_).find("no instance is running"));
}

TEST(BackupNowCommandTest, UnknownArgumentsAreAUsageError) {
    for (const char* argument : {"--bogus", "wait", "--wait=1"}) {
        char* argv[] = {const_cast<char*>(argument)};
        EXPECT_EQ(kBackupNowExitUsage, RunBackupNowCommand(1, argv)) << argument;
    }
}

TEST(BackupReportLineTest, LinesRoundTripAndOthersAreRefused) {
    const auto progress = ParseBackupReportLine("PROGRESS 5 -1");
    ASSERT_TRUE(progress);
    EXPECT_EQ(BackupReportLine::Kind::kProgress, progress->kind);
    EXPECT_EQ(5, progress->done);
    EXPECT_EQ(-1, progress->total);
    std::string line = MakeBackupResultLine(2);
    line.pop_back();
    const auto result = ParseBackupReportLine(line);
    ASSERT_TRUE(result);
    EXPECT_EQ(BackupReportLine::Kind::kResult, result->kind);
    EXPECT_EQ(2, result->code);
    for (const char* bad : {"", "PROGRESS", "PROGRESS 1", "PROGRESS 1 2 3", "PROGRESS -1 2",
                            "PROGRESS 1 -2", "PROGRESS 1  2", "RESULT", "RESULT x", "RESULT -2",
                            "RESULT 1234567890", "result 0", "RESULT 0 "}) {
        EXPECT_FALSE(ParseBackupReportLine(bad)) << bad;
    }
}

}  // namespace
}  // namespace tessarine
