#include "backup/backup_xml_utility.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <ctime>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "backup/backup_exceptions.h"
#include "base/time_utility.h"
#include "fakes/test_support.h"
#include "fakes/thrown_code.h"

namespace tessarine {
namespace {

using testing::ReadFile;
using testing::ScopedEnv;
using testing::TempDir;
using testing::WriteFile;

class FakeSystemInfo : public SystemInfo {
public:
    std::string ComputerName() const override { return computer; }
    std::string UserName() const override { return user; }
    std::string computer = "PC01";
    std::string user = "user1";
};

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::time_t when = 0;
    EXPECT_TRUE(MakeLocalTime(year, month, day, hour, minute, second, when));
    return when;
}

const std::time_t kStart = LocalTime(2017, 12, 31, 10, 0, 0);
const std::time_t kEnd = LocalTime(2017, 12, 31, 10, 5, 30);

std::string GoldenPath(const std::string& name) {
    return std::string(TESSARINE_SOURCE_DIR "/tests/backup/golden/") + name;
}

// The document without the indentation between elements, which is the writer's own choice.
std::string WithoutIndentation(const std::string& xml) {
    static const std::regex kBetweenTags(">[ \t\r\n]+<");
    std::string compact = std::regex_replace(xml, kBetweenTags, "><");
    while (!compact.empty() && std::isspace(static_cast<unsigned char>(compact.back()))) {
        compact.pop_back();
    }
    return compact;
}

void ExpectMatchesGolden(const std::string& path, const std::string& goldenName) {
    const std::string golden = ReadFile(GoldenPath(goldenName));
    ASSERT_FALSE(golden.empty()) << "missing golden file " << goldenName;
    EXPECT_EQ(WithoutIndentation(ReadFile(path)), WithoutIndentation(golden));
}

constexpr auto ThrownCode = testing::ThrownCode<CBackupXMLException>;

class BackupXmlUtilityTest : public ::testing::Test {
protected:
    std::string Folder() const { return dir_.Path() + "/backup/"; }
    CBackupXMLUtility MakeUtility() const { return CBackupXMLUtility(Folder(), systemInfo_); }

    static BackupFolderPairs ThreePairs() {
        BackupFolderPairs pairs{};
        pairs[0] = {"/home/user1/documents", "\\\\192.168.1.10\\zereda\\backup\\documents"};
        pairs[1] = {"/home/user1/写真", "\\\\192.168.1.10\\zereda\\backup\\写真"};
        pairs[2] = {"/srv/share&<data>", "\\\\192.168.1.10\\zereda\\backup\\share"};
        // After the first pair without a source nothing more is listed.
        pairs[4] = {"/home/user1/after-gap", "\\\\192.168.1.10\\zereda\\backup\\gap"};
        return pairs;
    }

    TempDir dir_;
    FakeSystemInfo systemInfo_;
};

TEST_F(BackupXmlUtilityTest, ClientResultFileMatchesGoldenAndReadsBack) {
    // The backup folder is made when missing, and an older, longer file is replaced whole.
    CBackupXMLUtility utility = MakeUtility();
    EXPECT_EQ(utility.CreateClientResultFile(kStart, kEnd, 0), 0);
    ASSERT_TRUE(WriteFile(Folder() + "result.xml", std::string(4096, 'x')));
    EXPECT_EQ(utility.CreateClientResultFile(kStart, kEnd, 0), 0);
    ExpectMatchesGolden(Folder() + "result.xml", "result.xml");

    std::string start, end;
    int code = -1;
    EXPECT_EQ(MakeUtility().ReadClientResultFile(&start, &end, &code), 0);
    EXPECT_EQ(start, "20171231100000");
    EXPECT_EQ(end, "20171231100530");
    EXPECT_EQ(code, 0);

    ASSERT_EQ(MakeUtility().CreateClientResultFile(kStart, kEnd, 2), 0);
    EXPECT_EQ(MakeUtility().ReadClientResultFile(&start, &end, &code), 0);
    EXPECT_EQ(code, 2);
}

TEST_F(BackupXmlUtilityTest, DetailResultFileMatchesGoldenAndReadsBack) {
    BackupErrorList list;
    for (int i = 0; i < 10; ++i) list.AddSuccess();
    list.AddFailure("/home/user1/documents/report.docx");
    list.AddFailure("/home/user1/写真/旅行 & <2017>.jpg");
    EXPECT_EQ(MakeUtility().CreateDetailResultFile(list), 0);
    ExpectMatchesGolden(Folder() + "deteil_result.xml", "deteil_result.xml");

    BackupErrorList read;
    EXPECT_EQ(MakeUtility().ReadDetailResult(&read), 0);
    EXPECT_EQ(read.executeCount, 12);
    EXPECT_EQ(read.successCount, 10);
    EXPECT_EQ(read.paths, list.paths);
}

TEST_F(BackupXmlUtilityTest, FullErrorListKeepsTheFullExecuteCount) {
    BackupErrorList list;  // capacity 10
    for (int i = 0; i < 15; ++i) list.AddFailure("/data/failed" + std::to_string(i));
    ASSERT_EQ(list.paths.size(), 10u);
    ASSERT_EQ(MakeUtility().CreateDetailResultFile(list), 0);

    // Reading is not limited by the capacity of the list it fills.
    BackupErrorList read;
    read.capacity = 5;
    EXPECT_EQ(MakeUtility().ReadDetailResult(&read), 0);
    EXPECT_EQ(read.executeCount, 15);
    EXPECT_EQ(read.successCount, 0);
    EXPECT_EQ(read.paths, list.paths);
    EXPECT_EQ(read.capacity, 5);
}

TEST_F(BackupXmlUtilityTest, EmptyErrorListWritesOnlyTheCounts) {
    BackupErrorList list;
    list.AddSuccess();
    ASSERT_EQ(MakeUtility().CreateDetailResultFile(list), 0);
    EXPECT_EQ(WithoutIndentation(ReadFile(Folder() + "deteil_result.xml")),
              "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?><backupresult>"
              "<execute_count>1</execute_count><success_count>1</success_count></backupresult>");
    BackupErrorList read;
    read.AddFailure("stale");
    EXPECT_EQ(MakeUtility().ReadDetailResult(&read), 0);
    EXPECT_EQ(read.executeCount, 1);
    EXPECT_TRUE(read.paths.empty());
}

TEST_F(BackupXmlUtilityTest, MissingDetailFileGivesMinusOneAndAnEmptyList) {
    BackupErrorList read;
    read.AddFailure("stale");
    read.AddSuccess();
    EXPECT_EQ(MakeUtility().ReadDetailResult(&read), -1);
    EXPECT_EQ(read.executeCount, 0);
    EXPECT_EQ(read.successCount, 0);
    EXPECT_TRUE(read.paths.empty());
}

TEST_F(BackupXmlUtilityTest, ServerResultFileMatchesGolden) {
    CBackupXMLUtility utility = MakeUtility();
    const BackupFolderPairs pairs = ThreePairs();
    EXPECT_EQ(utility.CreateServerResultFile(kEnd, &pairs, 42), 0);
    EXPECT_EQ(utility.GetServerResultFileName(), "PC01_user1.xml");
    EXPECT_EQ(utility.GetServerResultFilePath(), Folder() + "PC01_user1.xml");
    // Three pairs: three paths inside one data element on each side.
    ExpectMatchesGolden(Folder() + "PC01_user1.xml", "PC01_user1.xml");
}

TEST_F(BackupXmlUtilityTest, ServerResultFileFailsForAPairWithoutDestination) {
    BackupFolderPairs pairs = ThreePairs();
    pairs[1].destination.clear();
    EXPECT_EQ(ThrownCode([&] { MakeUtility().CreateServerResultFile(kEnd, &pairs, 1); }), 2);
}

TEST_F(BackupXmlUtilityTest, ServerResultFileNeedsBothNames) {
    const BackupFolderPairs pairs = ThreePairs();
    for (auto [computer, user] :
         {std::pair{"", "user1"}, std::pair{"PC01", ""}, std::pair{"PC01", "../escape"}}) {
        SCOPED_TRACE(std::string(computer) + "_" + user);
        systemInfo_.computer = computer;
        systemInfo_.user = user;
        EXPECT_EQ(ThrownCode([&] { MakeUtility().CreateServerResultFile(kEnd, &pairs, 1); }), 2);
    }
    EXPECT_EQ(ThrownCode([&] { MakeUtility().CreateServerResultFile(kEnd, nullptr, 1); }), 2);
}

TEST_F(BackupXmlUtilityTest, JapanesePathsAndMarkupCharactersRoundTrip) {
    BackupErrorList list;
    const std::vector<std::string> paths = {"/home/ユーザー/デスクトップ/資料&<案>.xlsx",
                                            "/tmp/a&amp;b", "/tmp/]]>"};
    for (const std::string& path : paths) list.AddFailure(path);
    ASSERT_EQ(MakeUtility().CreateDetailResultFile(list), 0);
    const std::string raw = ReadFile(Folder() + "deteil_result.xml");
    EXPECT_NE(raw.find("資料&amp;&lt;案&gt;.xlsx"), std::string::npos);
    EXPECT_NE(raw.find("/tmp/a&amp;amp;b"), std::string::npos);

    BackupErrorList read;
    ASSERT_EQ(MakeUtility().ReadDetailResult(&read), 0);
    EXPECT_EQ(read.paths, paths);
}

// A detail file of 500 paths whose end was lost. The parser looks ahead, so the cut lies far
// enough behind the last whole path for it to be met while looking for the next "data".
std::string CutDetailFile() {
    std::string content =
        "<backupresult><execute_count>501</execute_count><success_count>0</success_count>";
    for (int i = 0; i < 500; ++i) {
        content += "<data><path>/data/" + std::to_string(i) + "</path></data>";
    }
    return content + std::string(10000, ' ') + "<data><path>/b</pa";
}

TEST_F(BackupXmlUtilityTest, BrokenFilesThrowTheReadCodes) {
    struct Case {
        const char* label;
        const char* fileName;
        std::string content;  // empty: no file
        int expectedCode;
    };
    const Case cases[] = {
        {"missing result.xml", nullptr, "", 1},
        {"result elements out of order", "result.xml",
         "<clientresult><end_date>1</end_date><start_date>2</start_date><result>0</result>"
         "</clientresult>",
         1},
        {"result without the code", "result.xml",
         "<clientresult><start_date>1</start_date><end_date>2</end_date></clientresult>", 1},
        {"malformed result", "result.xml", "<clientresult><start_date>1</clientresult>", 1},
        {"empty detail file", "deteil_result.xml", " ", 4},
        {"detail without success count", "deteil_result.xml",
         "<backupresult><execute_count>3</execute_count><data><path>/a</path></data>"
         "</backupresult>",
         4},
        {"detail data holding something else", "deteil_result.xml",
         "<backupresult><execute_count>3</execute_count><success_count>2</success_count>"
         "<data><name>/a</name></data></backupresult>",
         4},
        {"detail cut after many paths", "deteil_result.xml", CutDetailFile(), 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        const std::string folder = dir.Path() + "/";
        if (c.fileName != nullptr) {
            ASSERT_TRUE(WriteFile(folder + c.fileName, c.content));
        }
        CBackupXMLUtility utility(folder, systemInfo_);
        std::string start = "kept", end = "kept";
        int code = 7;
        BackupErrorList list;
        list.AddFailure("stale");
        const int thrown = ThrownCode([&] {
            if (c.expectedCode == 1) {
                utility.ReadClientResultFile(&start, &end, &code);
            } else {
                utility.ReadDetailResult(&list);
            }
        });
        EXPECT_EQ(thrown, c.expectedCode);
        // Nothing half-read reaches the caller.
        EXPECT_EQ(start, "kept");
        EXPECT_EQ(code, 7);
        if (c.expectedCode == 4) {
            EXPECT_EQ(list.executeCount, 0);
            EXPECT_TRUE(list.paths.empty());
        }
    }
}

TEST_F(BackupXmlUtilityTest, EveryOperationNeedsTheBackupFolder) {
    CBackupXMLUtility utility("", systemInfo_);
    const BackupFolderPairs pairs = ThreePairs();
    std::string start, end;
    int code = 0;
    BackupErrorList list;
    const std::pair<std::function<void()>, int> cases[] = {
        {[&] { utility.CreateClientResultFile(kStart, kEnd, 0); }, 0},
        {[&] { utility.ReadClientResultFile(&start, &end, &code); }, 1},
        {[&] { utility.CreateServerResultFile(kEnd, &pairs, 1); }, 2},
        {[&] { utility.CreateDetailResultFile(list); }, 3},
        {[&] { utility.ReadDetailResult(&list); }, 4},
    };
    for (const auto& [call, expected] : cases) EXPECT_EQ(ThrownCode(call), expected);
    EXPECT_EQ(ThrownCode([&] { utility.ReadClientResultFile(nullptr, &end, &code); }), 1);
    EXPECT_EQ(ThrownCode([&] { utility.ReadDetailResult(nullptr); }), 4);
}

TEST_F(BackupXmlUtilityTest, OneObjectServesEveryFileInTurn) {
    CBackupXMLUtility utility = MakeUtility();
    const BackupFolderPairs pairs = ThreePairs();
    BackupErrorList list;
    list.AddFailure("/a");
    EXPECT_EQ(utility.CreateClientResultFile(kStart, kEnd, 2), 0);
    EXPECT_EQ(utility.CreateDetailResultFile(list), 0);
    EXPECT_EQ(utility.CreateServerResultFile(kEnd, &pairs, 0), 0);
    BackupErrorList read;
    EXPECT_EQ(utility.ReadDetailResult(&read), 0);
    EXPECT_EQ(read.paths, list.paths);
    std::string start, end;
    int code = 0;
    EXPECT_EQ(utility.ReadClientResultFile(&start, &end, &code), 0);
    EXPECT_EQ(code, 2);
}

TEST_F(BackupXmlUtilityTest, DefaultFolderIsInTheDataFolder) {
    ScopedEnv profile("ALLUSERSPROFILE", dir_.Path());
    const std::string expected = dir_.Path() + "/corvane/Tessarine Tool/backup/";
    EXPECT_EQ(DefaultBackupFolderPath(), expected);
    ASSERT_TRUE(std::filesystem::create_directories(dir_.Path() + "/corvane/Tessarine Tool"));

    CBackupXMLUtility utility;
    EXPECT_EQ(utility.GetBackupFolderPath(), expected);
    EXPECT_EQ(utility.CreateClientResultFile(kStart, kEnd, 0), 0);
    ExpectMatchesGolden(expected + "result.xml", "result.xml");
}

}  // namespace
}  // namespace tessarine
