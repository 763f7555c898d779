#include "base/app_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <regex>
#include <thread>

#include "base/string_utility.h"
#include "fakes/test_support.h"

namespace tessarine {
namespace {

using testing::ReadFile;
using testing::TempDir;

class AppLogTest : public ::testing::Test {
protected:
    void Init(bool debug, std::int64_t limit) {
        CAppLog::Get().InitWith(dir_.Path() + "/", "TessarineTool", debug, limit);
    }
    void TearDown() override { CAppLog::Get().Reset(); }
    std::string LogText() const { return ReadFile(dir_.Sub("TessarineTool.log")); }

    TempDir dir_;
};

int CountLines(const std::string& text) {
    int lines = 0;
    for (std::size_t pos = 0; (pos = text.find("\r\n", pos)) != std::string::npos; pos += 2)
        ++lines;
    return lines;
}

class SampleWorker {
public:
    void Run() {
        LOG_METHOD();
        LOG_TRACE("Event:" + std::to_string(3));
        errno = 2;
        LOG_ERROR("Open DataBase Error. ");
    }
};

TEST_F(AppLogTest, LinesCarryTimeLevelThreadAndMethodPrefix) {
    Init(true, 1 << 20);
    SampleWorker().Run();
    const std::string text = LogText();
    ASSERT_EQ(CountLines(text), 4) << text;
    // "2026/12/10 04:37:24 TRC[     12345] L[  31] SampleWorker::Run Start--->"
    EXPECT_TRUE(std::regex_search(
        text, std::regex(R"(^\d{4}/\d\d/\d\d \d\d:\d\d:\d\d TRC\[ *\d+\] L\[ *\d+\] )"
                         R"(SampleWorker::Run Start--->\r\n)")))
        << text;
    EXPECT_NE(text.find("SampleWorker::Run Event:3\r\n"), std::string::npos);
    EXPECT_NE(text.find(" ERR["), std::string::npos);
    EXPECT_NE(text.find("SampleWorker::Run Open DataBase Error. [2]\r\n"), std::string::npos);
    EXPECT_NE(text.find("SampleWorker::Run End  <---\r\n"), std::string::npos);
}

TEST_F(AppLogTest, DebugOffWritesOnlyErrorsAndNotices) {
    Init(false, 1 << 20);
    SampleWorker().Run();
    LOG_NOTICE("Start Backup For Shutdown");
    LOG_BANNER("BackupSchedule Start up");
    const std::string text = LogText();
    EXPECT_EQ(CountLines(text), 2) << text;
    EXPECT_EQ(text.find("Start--->"), std::string::npos);
    EXPECT_NE(text.find("Start Backup For Shutdown"), std::string::npos);
}

TEST_F(AppLogTest, JapaneseTextIsStoredInCodePage932) {
    Init(false, 1 << 20);
    CAppLog::Get().Error("バックアップ設定変更終了エラー");
    const std::string text = LogText();
    EXPECT_NE(text.find(Utf8ToCp932("バックアップ設定変更終了エラー")), std::string::npos);
    EXPECT_EQ(Cp932ToUtf8(Utf8ToCp932("設定")), "設定");
    EXPECT_EQ(text.find("バックアップ"), std::string::npos);  // not UTF-8
}

TEST_F(AppLogTest, RotatesAfterTheLineThatPassesTheLimit) {
    Init(false, 1000);
    TempDir& dir = dir_;
    testing::WriteFile(dir.Sub("TessarineTool_old.log"), "previous generation");
    const std::string filler(100, 'x');
    int written = 0;
    while (!std::filesystem::exists(dir.Sub("TessarineTool_old.log")) ||
           ReadFile(dir.Sub("TessarineTool_old.log")) == "previous generation") {
        CAppLog::Get().Error(filler + std::to_string(written++));
        ASSERT_LT(written, 100);
    }
    const std::string old = ReadFile(dir.Sub("TessarineTool_old.log"));
    EXPECT_GT(old.size(), 1000u);
    EXPECT_LT(old.size(), 1000u + 200u);  // at most one line over the limit
    EXPECT_FALSE(std::filesystem::exists(dir.Sub("TessarineTool.log")));
    CAppLog::Get().Error("next");
    EXPECT_EQ(CountLines(LogText()), 1);
}

// A file name with a line break must not end the line early and forge a line of its own; a
// name that is not UTF-8 keeps every character but its bad bytes.
TEST_F(AppLogTest, MessagesStayOnOneLineWithEveryGoodCharacter) {
    Init(false, 1 << 20);
    const struct {
        std::string message;
        std::string stored;
    } cases[] = {
        {"Copy Error. Path:/a\n2026/01/01 00:00:00 ERR[1] forged",
         "Copy Error. Path:/a\\n2026/01/01 00:00:00 ERR[1] forged\r\n"},
        {"cr\rlf\ncrlf\r\nend", "cr\\rlf\\ncrlf\\r\\nend\r\n"},
        {"Path:/home/u/caf\xe9.txt", "Path:/home/u/caf?.txt\r\n"},
        {"\xe9\xe9設定", "??" + Utf8ToCp932("設定") + "\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        std::filesystem::remove(dir_.Sub("TessarineTool.log"));
        CAppLog::Get().Error(c.message);
        const std::string text = LogText();
        EXPECT_EQ(CountLines(text), 1) << text;
        EXPECT_EQ(text.substr(text.size() - std::min(text.size(), c.stored.size())), c.stored);
    }
}

TEST_F(AppLogTest, LogFileIsOwnerOnly) {
    Init(false, 1 << 20);
    CAppLog::Get().Error("x");
    const auto perms = std::filesystem::status(dir_.Sub("TessarineTool.log")).permissions();
    EXPECT_EQ(perms & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(AppLogTest, TwoThreadsLoggingTogetherLoseNoLine) {
    Init(false, std::int64_t{1} << 30);
    constexpr int kLines = 10000;
    auto worker = [](char tag) {
        for (int i = 0; i < kLines; ++i) {
            std::string line(1, tag);
            line += std::to_string(i);
            CAppLog::Get().Error(line);
        }
    };
    std::thread a(worker, 'a');
    std::thread b(worker, 'b');
    a.join();
    b.join();
    EXPECT_EQ(CountLines(LogText()), 2 * kLines);
}

TEST_F(AppLogTest, ALinkInPlaceOfTheLogIsNotFollowed) {
    Init(false, 1 << 20);
    testing::WriteFile(dir_.Sub("target"), "keep");
    std::filesystem::create_symlink(dir_.Sub("target"), dir_.Sub("TessarineTool.log"));
    CAppLog::Get().Error("x");
    EXPECT_EQ(ReadFile(dir_.Sub("target")), "keep");
}

TEST_F(AppLogTest, LinesBeforeInitAreDropped) {
    CAppLog::Get().Reset();
    CAppLog::Get().Error("lost");
    EXPECT_FALSE(std::filesystem::exists(dir_.Sub("TessarineTool.log")));
}

TEST(LogPrefixTest, NamesClassAndMethod) {
    struct Case {
        const char* pretty;
        const char* expected;
    } cases[] = {
        {"int tessarine::CBackupSchedule::ThreadCore()", "L[  12] CBackupSchedule::ThreadCore"},
        {"void tessarine::CAppLog::InitWith(const std::string&, const std::string&, bool, long)",
         "L[  12] CAppLog::InitWith"},
        {"std::vector<std::pair<int, int> > tessarine::X::F(int)", "L[  12] X::F"},
        {"int tessarine::{anonymous}::Helper(int)", "L[  12] Helper"},
        {"tessarine::CBackupExecute::CBackupExecute()", "L[  12] CBackupExecute::CBackupExecute"},
    };
    for (const auto& c : cases) EXPECT_EQ(LogPrefix(12, c.pretty), c.expected) << c.pretty;
    EXPECT_EQ(LogPrefix(12345, "void f()"), "L[12345] f");
}

}  // namespace
}  // namespace tessarine
