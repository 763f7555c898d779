#include "infra/log_setting.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>

#include "base/app_log.h"
#include "fakes/test_support.h"

namespace tessarine {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// A limit of 0 would rotate the log after every line and keep only the last one: every form
// that gives no usable limit means the first-run limit, with the reason for one log line.
TEST(LogSettingTest, ReadsDebugSwitchAndSizeFromTheFirstTwoChildren) {
    struct Case {
        const char* label;
        std::optional<std::string> content;  // nullopt: a folder holds the name
        bool debug;
        int maxSizeMiB;
        const char* problem;
    };
    const Case cases[] = {
        {"debug on", "<log><debug>TRUE</debug><max_size>1</max_size></log>", true, 1, ""},
        {"lower-case true stays off", "<log><debug>true</debug><max_size>5</max_size></log>", false,
         5, ""},
        {"second element under another name still gives the size",
         "<log><debug>TRUE</debug><size>7</size></log>", true, 7, ""},
        {"switch only under the name debug", "<log><trace>TRUE</trace><max_size>3</max_size></log>",
         false, 3, ""},
        {"leading digits of the size", "<log><debug>FALSE</debug><max_size>12MB</max_size></log>",
         false, 12, ""},
        {"indented with declaration",
         "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<log>\r\n  "
         "<debug>TRUE</debug>\r\n  <max_size>2</max_size>\r\n</log>\r\n",
         true, 2, ""},
        {"not a number", "<log><debug>FALSE</debug><max_size>ten</max_size></log>", false, 10,
         "the size limit \"ten\" is not a positive number"},
        {"zero", "<log><debug>TRUE</debug><max_size>0</max_size></log>", true, 10,
         "the size limit \"0\" is not a positive number"},
        {"negative", "<log><debug>FALSE</debug><max_size>-5</max_size></log>", false, 10,
         "the size limit \"-5\" is not a positive number"},
        {"empty size", "<log><debug>FALSE</debug><max_size/></log>", false, 10,
         "the size limit \"\" is not a positive number"},
        {"second element missing", "<log><debug>TRUE</debug></log>", true, 10,
         "the size limit is missing"},
        {"malformed file", "<log><debug>TRUE</debug><max_size>4</log>", false, 10,
         "the file cannot be read"},
        {"empty file", "", false, 10, "the file cannot be read"},
        {"a folder", std::nullopt, false, 10, "the file cannot be read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        const std::string path = dir.Sub("setting.xml");
        if (c.content)
            ASSERT_TRUE(WriteFile(path, *c.content));
        else
            ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
        const LogSetting setting = ReadLogSetting(path);
        EXPECT_EQ(setting.debug, c.debug);
        EXPECT_EQ(setting.maxSizeMiB, c.maxSizeMiB);
        EXPECT_EQ(setting.problem, c.problem);
        // The file is the user's: it stays as written.
        if (c.content) {
            EXPECT_EQ(ReadFile(path), *c.content);
        }
    }
}

TEST(LogSettingTest, MissingFileGivesTheDefaultLimit) {
    TempDir dir;
    const LogSetting setting = ReadLogSetting(dir.Sub("setting.xml"));
    EXPECT_FALSE(setting.debug);
    EXPECT_EQ(setting.maxSizeMiB, 10);
    EXPECT_EQ(setting.problem, "the file cannot be read");
}

TEST(LogSettingTest, DefaultFileIsOwnerOnlyAndReadsBackAsDebugOffTenMiB) {
    for (const char* suffix : {"/", ""}) {
        SCOPED_TRACE(suffix);
        TempDir dir;
        // A file left from before is replaced, and its permissions narrowed.
        ASSERT_TRUE(WriteFile(dir.Sub("setting.xml"), "<log><debug>TRUE</debug></log> old"));
        ASSERT_EQ(chmod(dir.Sub("setting.xml").c_str(), 0644), 0);

        ASSERT_TRUE(CreateDefaultLogSetting(dir.Path() + suffix));
        const std::string path = dir.Sub("setting.xml");
        EXPECT_EQ(ReadFile(path),
                  "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<log>\n"
                  "  <debug>FALSE</debug>\n  <max_size>10</max_size>\n</log>\n");
        struct stat status {};
        ASSERT_EQ(stat(path.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0600u);

        const LogSetting setting = ReadLogSetting(path);
        EXPECT_FALSE(setting.debug);
        EXPECT_EQ(setting.maxSizeMiB, 10);
    }
}

TEST(LogSettingTest, DefaultFileFailsWithoutAFolder) {
    TempDir dir;
    EXPECT_FALSE(CreateDefaultLogSetting(""));
    EXPECT_FALSE(CreateDefaultLogSetting(dir.Sub("missing/")));
}

// An unusable "setting.xml" gives the first-run limit and one line saying so; the log then
// keeps its lines instead of rotating after each.
TEST(InitAppLogTest, UnusableSettingFileMeansTenMiBAndOneLine) {
    TempDir dir;
    const std::string data = dir.Path() + "/";
    std::filesystem::create_directory(data + "log");
    WriteFile(data + "log/setting.xml", "<log><debug>FALSE</debug><max_size>0</max_size></log>");
    InitAppLog(data, "TessarineTool");
    EXPECT_EQ(CAppLog::Get().SizeLimit(), std::int64_t{10} << 20);
    CAppLog::Get().Error("second line");
    const std::string text = ReadFile(data + "log/TessarineTool.log");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
    EXPECT_NE(text.find("Log Setting Unusable, the size limit \"0\" is not a positive number. "
                        "MaxSize:10 MiB Path:" +
                        data + "log/setting.xml[22]\r\n"),
              std::string::npos)
        << text;
    EXPECT_FALSE(std::filesystem::exists(data + "log/TessarineTool_old.log"));
    CAppLog::Get().Reset();
}

}  // namespace
}  // namespace tessarine
