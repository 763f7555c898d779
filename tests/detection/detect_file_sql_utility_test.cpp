#include "detection/detect_file_sql_utility.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "base/app_log.h"
#include "base/time_utility.h"
#include "detection/detect_file_exceptions.h"
#include "fakes/raw_database.h"
#include "fakes/test_support.h"
#include "fakes/thrown_code.h"

namespace tessarine {
namespace {

using testing::RawDatabase;
using testing::ReadFile;
using testing::TempDir;

// What RawDatabase::Table() compares.
constexpr char kTableQuery[] =
    "SELECT FILE_PATH, SERVER_FILE_NAME, STATUS FROM DETECT_FILE_FILELIST ORDER BY "
    "FILE_PATH;";

constexpr auto ThrownCode = testing::ThrownCode<CDetectFileSQLException>;

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::time_t when = 0;
    EXPECT_TRUE(MakeLocalTime(year, month, day, hour, minute, second, when));
    return when;
}

class DetectFileSqlUtilityTest : public ::testing::Test {
protected:
    void SetUp() override {
        CAppLog::Get().InitWith(dir_.Path() + "/", "test", false, std::int64_t{16} << 20);
        ASSERT_EQ(fileList_.Initialize(), 0);
    }
    void TearDown() override { CAppLog::Get().Reset(); }

    std::string Log() const { return ReadFile(dir_.Path() + "/test.log"); }
    void Add(const std::string& path, const std::string& serverName, std::time_t lastUpdate) {
        ASSERT_EQ(fileList_.AddDetectFileInformation(path, "n", serverName, lastUpdate, kCopied),
                  0);
    }

    const std::time_t kCopied = LocalTime(2017, 4, 1, 12, 34, 56);
    TempDir dir_;
    std::string path_ = dir_.Sub("TessarineTool.db");
    CDetectFileSQLUtility fileList_{path_};
    RawDatabase raw_{path_, kTableQuery};
};

TEST_F(DetectFileSqlUtilityTest, FreshDatabaseHasExactSchema) {
    const std::vector<std::string> expected = {
        "table|COMMON_INFORMATION|CREATE TABLE COMMON_INFORMATION (ITEM TEXT NOT NULL, VALUE TEXT "
        "NOT NULL, PRIMARY KEY(ITEM))",
        "index|sqlite_autoindex_COMMON_INFORMATION_1|<null>",
        "table|DETECT_FILE_FILELIST|CREATE TABLE DETECT_FILE_FILELIST (FILE_PATH TEXT NOT NULL, "
        "FILE_NAME TEXT NOT NULL, SERVER_FILE_NAME TEXT NOT NULL, LAST_UPDATE TEXT NOT NULL, "
        "PROCESSING_TIME TEXT NOT NULL, STATUS TEXT NOT NULL, PRIMARY KEY(FILE_PATH))",
        "index|sqlite_autoindex_DETECT_FILE_FILELIST_1|<null>",
        "index|INDEX_DETECT_FILE_FILE_PATH|CREATE INDEX INDEX_DETECT_FILE_FILE_PATH ON "
        "DETECT_FILE_FILELIST(FILE_PATH)",
        "index|INDEX_DETECT_FILE_STATUS|CREATE INDEX INDEX_DETECT_FILE_STATUS ON "
        "DETECT_FILE_FILELIST(STATUS)",
        "index|INDEX_DETECT_FILE_SERVER_FILE_NAME|CREATE INDEX INDEX_DETECT_FILE_SERVER_FILE_NAME "
        "ON DETECT_FILE_FILELIST(SERVER_FILE_NAME)",
        // The program's own addition: names it put on the device that no list announced yet.
        "table|DETECT_FILE_SENT_NAME|CREATE TABLE DETECT_FILE_SENT_NAME (SERVER_FILE_NAME TEXT "
        "NOT NULL, PRIMARY KEY(SERVER_FILE_NAME))",
        "index|sqlite_autoindex_DETECT_FILE_SENT_NAME_1|<null>",
    };
    const std::string schema = "SELECT type, name, sql FROM sqlite_master ORDER BY rowid;";
    EXPECT_EQ(raw_.Rows(schema), expected);
    EXPECT_EQ(fileList_.IsDetectFileExecuted(), 0);
    ASSERT_EQ(fileList_.Initialize(), 0);  // a second start-up changes nothing
    EXPECT_EQ(raw_.Rows(schema), expected);
}

TEST_F(DetectFileSqlUtilityTest, SettingTimestampDecidesFullForward) {
    struct Step {
        std::string timestamp;
        int expected;
    };
    // The first text is stored (full), the same again is differential, another one replaces it;
    // an empty text is a value like any other.
    const std::vector<Step> steps = {{"T", 1}, {"T", 0}, {"t", 1}, {"U", 1},
                                     {"U", 0}, {"", 1},  {"", 0}};
    for (const auto& step : steps) {
        EXPECT_EQ(fileList_.IsDetectFileFullForwardExecute(step.timestamp), step.expected)
            << "'" << step.timestamp << "'";
        EXPECT_EQ(raw_.Rows("SELECT ITEM, VALUE FROM COMMON_INFORMATION;"),
                  std::vector<std::string>{"DETECT_FILE_SETTING_TIMESTAMP|" + step.timestamp});
        EXPECT_EQ(fileList_.IsDetectFileExecuted(), 1);
    }
}

TEST_F(DetectFileSqlUtilityTest, RowsRoundTripAndMissingRowLeavesOutputs) {
    const std::time_t written = LocalTime(2016, 12, 31, 23, 59, 59);
    ASSERT_EQ(
        fileList_.AddDetectFileInformation("/home/太郎/見積書.docx", "見積書.docx",
                                           "PC01_見積書_20170401123456.docx", written, kCopied),
        0);
    EXPECT_EQ(raw_.Rows("SELECT * FROM DETECT_FILE_FILELIST;"),
              std::vector<std::string>{"/home/太郎/見積書.docx|見積書.docx|PC01_見積書_"
                                       "20170401123456.docx|20161231235959|20170401123456|ADD"});
    std::time_t lastUpdate = 0;
    std::string status;
    EXPECT_EQ(fileList_.GetDetectFileInformation("/home/太郎/見積書.docx", &lastUpdate, &status),
              0);
    EXPECT_EQ(lastUpdate, written);
    EXPECT_EQ(status, "ADD");
    EXPECT_EQ(fileList_.GetDetectFileInformation("/home/太郎/見積書.docx", nullptr, nullptr), 0);

    lastUpdate = 42;
    status = "unchanged";
    EXPECT_EQ(fileList_.GetDetectFileInformation("/home/太郎/見積書.DOCX", &lastUpdate, &status),
              1);  // byte-wise key
    EXPECT_EQ(lastUpdate, 42);
    EXPECT_EQ(status, "unchanged");

    // An unreadable time text is a failure without an exception.
    ASSERT_TRUE(raw_.Execute("UPDATE DETECT_FILE_FILELIST SET LAST_UPDATE = 'garbage';"));
    EXPECT_EQ(fileList_.GetDetectFileInformation("/home/太郎/見積書.docx", &lastUpdate, &status),
              -1);
    EXPECT_EQ(lastUpdate, 42);
}

TEST_F(DetectFileSqlUtilityTest, AddRefusesEmptyAndExistingPath) {
    Add("/a.txt", "PC01_a_1.txt", kCopied);
    EXPECT_EQ(fileList_.AddDetectFileInformation("", "n", "x", kCopied, kCopied), -1);
    EXPECT_NE(Log().find("Invalid Primary Key"), std::string::npos);
    EXPECT_EQ(fileList_.AddDetectFileInformation("/a.txt", "n", "other", kCopied, kCopied), -1);
    EXPECT_EQ(raw_.Table(), std::vector<std::string>{"/a.txt|PC01_a_1.txt|ADD"});
}

TEST_F(DetectFileSqlUtilityTest, StatusLifeCycleOfADifferentialWalk) {
    // /settled was announced; /unsent was copied but its list never reached the device.
    Add("/settled", "s1", kCopied);
    Add("/gone", "g1", kCopied);
    ASSERT_EQ(fileList_.UpdateForwardStatus(), 0);
    Add("/unsent", "u1", kCopied);
    EXPECT_EQ(raw_.Table(), (std::vector<std::string>{"/gone|g1|COMPLETE", "/settled|s1|COMPLETE",
                                                      "/unsent|u1|ADD"}));

    ASSERT_EQ(fileList_.UpdateDetectFileInitStatus(), 0);
    // Only settled rows are marked: the unannounced one survives the sweep.
    EXPECT_EQ(raw_.Table(),
              (std::vector<std::string>{"/gone|g1|INIT", "/settled|s1|INIT", "/unsent|u1|ADD"}));
    // The walk finds /settled unchanged and sends /unsent again.
    ASSERT_EQ(fileList_.UpdateDetectFileStatus("/settled"), 0);
    ASSERT_EQ(fileList_.UpdateDetectFileInformation("/unsent", "u2", kCopied + 60, kCopied + 1), 0);
    ASSERT_EQ(fileList_.DeleteDetectFileInformationByStatus(), 0);
    EXPECT_EQ(raw_.Table(),
              (std::vector<std::string>{"/settled|s1|COMPLETE", "/unsent|u2|UPDATE"}));
    EXPECT_EQ(raw_.Rows("SELECT LAST_UPDATE, PROCESSING_TIME FROM DETECT_FILE_FILELIST WHERE "
                        "FILE_PATH = '/unsent';"),
              std::vector<std::string>{"20170401123556|20170401123457"});

    ASSERT_EQ(fileList_.UpdateForwardStatus(), 0);
    EXPECT_EQ(raw_.Table(),
              (std::vector<std::string>{"/settled|s1|COMPLETE", "/unsent|u2|COMPLETE"}));

    // Emptying the list keeps the stored setting time stamp.
    fileList_.IsDetectFileFullForwardExecute("T");
    ASSERT_EQ(fileList_.DeleteAllDetectFileInformation(), 0);
    EXPECT_TRUE(raw_.Table().empty());
    EXPECT_EQ(fileList_.IsDetectFileExecuted(), 1);
}

TEST_F(DetectFileSqlUtilityTest, ListingDeliversUnannouncedRowsOldestFirstAndRestarts) {
    std::string path, name, serverName;
    std::time_t lastUpdate = 0, processed = 0;
    // Before any bind the listing refuses without touching the database.
    EXPECT_EQ(ThrownCode([&] {
                  fileList_.GetDetectFileInformationForFileList(&path, &name, &serverName,
                                                                &lastUpdate, &processed);
              }),
              4);
    EXPECT_NE(Log().find("Query Parameter Unbind"), std::string::npos);

    Add("/settled", "s", LocalTime(2000, 1, 1, 0, 0, 0));
    ASSERT_EQ(fileList_.UpdateForwardStatus(), 0);
    Add("/new", "n", LocalTime(2015, 1, 1, 0, 0, 0));
    Add("/old", "o", LocalTime(2010, 1, 1, 0, 0, 0));
    Add("/changed", "c", LocalTime(2001, 1, 1, 0, 0, 0));
    ASSERT_EQ(fileList_.UpdateDetectFileInformation("/changed", "c2",
                                                    LocalTime(2012, 1, 1, 0, 0, 0), kCopied),
              0);

    auto list = [&] {
        std::vector<std::string> rows;
        fileList_.BindDetectFileForFileListStatement();
        while (fileList_.GetDetectFileInformationForFileList(&path, &name, &serverName, &lastUpdate,
                                                             &processed) == 0) {
            rows.push_back(path + "|" + serverName + "|" + ToTimeStamp(lastUpdate));
            EXPECT_EQ(processed, kCopied);
        }
        return rows;
    };
    const std::vector<std::string> expected = {
        "/old|o|20100101000000", "/changed|c2|20120101000000", "/new|n|20150101000000"};
    EXPECT_EQ(list(), expected);
    EXPECT_EQ(list(), expected);  // a finished listing starts again
    // A missing output is refused.
    EXPECT_EQ(ThrownCode([&] {
                  fileList_.GetDetectFileInformationForFileList(&path, nullptr, &serverName,
                                                                &lastUpdate, &processed);
              }),
              4);
}

TEST_F(DetectFileSqlUtilityTest, ListingLeftPartWayIsEndedBeforeTheNextWrite) {
    Add("/a", "a", kCopied);
    Add("/b", "b", kCopied);
    std::string path, name, serverName;
    std::time_t lastUpdate = 0, processed = 0;
    auto readOneRow = [&] {
        fileList_.BindDetectFileForFileListStatement();
        ASSERT_EQ(fileList_.GetDetectFileInformationForFileList(&path, &name, &serverName,
                                                                &lastUpdate, &processed),
                  0);
    };
    // A listing broken off (the file list could not be written) keeps its read open; another
    // connection to the file writes meanwhile; this connection's next write cannot follow.
    readOneRow();
    ASSERT_TRUE(raw_.Execute("INSERT INTO COMMON_INFORMATION VALUES ('OTHER', '1');"));
    EXPECT_EQ(ThrownCode([&] { fileList_.UpdateForwardStatus(); }), 9);
    fileList_.EndFileListListing();

    readOneRow();
    ASSERT_TRUE(raw_.Execute("INSERT INTO COMMON_INFORMATION VALUES ('OTHER2', '1');"));
    fileList_.EndFileListListing();
    EXPECT_EQ(fileList_.UpdateForwardStatus(), 0);
    EXPECT_EQ(raw_.Table(), (std::vector<std::string>{"/a|a|COMPLETE", "/b|b|COMPLETE"}));
}

TEST_F(DetectFileSqlUtilityTest, ServerNameCountsRowsOfEveryStatus) {
    Add("/a", "PC01_a_20170401123456.txt", kCopied);
    ASSERT_EQ(fileList_.UpdateForwardStatus(), 0);
    Add("/b", "PC01_b_20170401123456.txt", kCopied);
    EXPECT_TRUE(fileList_.IsExistServerFileName("PC01_a_20170401123456.txt"));
    EXPECT_TRUE(fileList_.IsExistServerFileName("PC01_b_20170401123456.txt"));
    EXPECT_FALSE(fileList_.IsExistServerFileName("PC01_a_20170401123457.txt"));
    EXPECT_FALSE(fileList_.IsExistServerFileName("pc01_a_20170401123456.txt"));
}

TEST_F(DetectFileSqlUtilityTest, StatesAreReadInOneGoAndSkipUnreadableTimes) {
    Add("/a", "a", LocalTime(2020, 2, 29, 1, 2, 3));
    Add("/b", "b", LocalTime(2020, 3, 1, 0, 0, 0));
    ASSERT_EQ(fileList_.UpdateForwardStatus(), 0);
    Add("/c", "c", LocalTime(2020, 3, 2, 0, 0, 0));
    ASSERT_TRUE(
        raw_.Execute("UPDATE DETECT_FILE_FILELIST SET LAST_UPDATE = '2020' WHERE "
                     "FILE_PATH = '/b';"));
    DetectFileStateMap states;
    states["/stale"] = {};
    ASSERT_EQ(fileList_.GetDetectFileStates(states), 0);
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states["/a"].lastUpdate, LocalTime(2020, 2, 29, 1, 2, 3));
    EXPECT_EQ(states["/a"].status, "COMPLETE");
    EXPECT_EQ(states["/c"].status, "ADD");
    EXPECT_NE(Log().find("Invalid LastUpdate. Path:/b"), std::string::npos);
}

TEST_F(DetectFileSqlUtilityTest, BrokenDatabaseGivesEachOperationItsCode) {
    ASSERT_TRUE(raw_.Execute("DROP TABLE DETECT_FILE_FILELIST; DROP TABLE COMMON_INFORMATION;"));
    struct Case {
        const char* name;
        std::function<void()> call;
        int code;
    };
    std::string s;
    std::time_t t = 0;
    const std::vector<Case> cases = {
        {"IsDetectFileExecuted", [&] { fileList_.IsDetectFileExecuted(); }, 0},
        {"IsDetectFileFullForwardExecute", [&] { fileList_.IsDetectFileFullForwardExecute("T"); },
         1},
        {"GetDetectFileStates",
         [&] {
             DetectFileStateMap states;
             fileList_.GetDetectFileStates(states);
         },
         2},
        {"GetDetectFileInformationForFileList",
         [&] {
             fileList_.BindDetectFileForFileListStatement();
             fileList_.GetDetectFileInformationForFileList(&s, &s, &s, &t, &t);
         },
         4},
        {"IsExistServerFileName", [&] { fileList_.IsExistServerFileName("x"); }, 5},
        {"UpdateDetectFileInitStatus", [&] { fileList_.UpdateDetectFileInitStatus(); }, 8},
        {"UpdateForwardStatus", [&] { fileList_.UpdateForwardStatus(); }, 9},
        {"DeleteAllDetectFileInformation", [&] { fileList_.DeleteAllDetectFileInformation(); }, 13},
        {"DeleteDetectFileInformationByStatus",
         [&] { fileList_.DeleteDetectFileInformationByStatus(); }, 14},
    };
    for (const auto& c : cases) EXPECT_EQ(ThrownCode(c.call), c.code) << c.name;
    // These report by their result instead.
    EXPECT_EQ(fileList_.GetDetectFileInformation("/a", &t, &s), -1);
    EXPECT_EQ(fileList_.AddDetectFileInformation("/a", "a", "a", t, t), -1);
    EXPECT_EQ(fileList_.UpdateDetectFileStatus("/a"), -1);
    EXPECT_EQ(fileList_.UpdateDetectFileInformation("/a", "a", t, t), -1);
}

TEST_F(DetectFileSqlUtilityTest, BatchJoinsWritesIntoOneTransaction) {
    Add("/a", "a", kCopied);
    Add("/b", "b", kCopied);
    ASSERT_EQ(fileList_.UpdateDetectFileInitStatus(), 0);  // nothing settled yet: no change
    ASSERT_EQ(fileList_.UpdateForwardStatus(), 0);
    ASSERT_EQ(fileList_.UpdateDetectFileInitStatus(), 0);
    {
        auto batch = fileList_.BeginBatch();
        ASSERT_EQ(batch.BeginCode(), 0);
        ASSERT_EQ(fileList_.UpdateDetectFileStatus("/a"), 0);
        // Not committed: rolled back at scope end.
    }
    EXPECT_EQ(raw_.Table(), (std::vector<std::string>{"/a|a|INIT", "/b|b|INIT"}));
    {
        auto batch = fileList_.BeginBatch();
        ASSERT_EQ(fileList_.UpdateDetectFileStatus("/a"), 0);
        ASSERT_EQ(fileList_.UpdateDetectFileStatus("/b"), 0);
        ASSERT_EQ(batch.Commit(), 0);
    }
    EXPECT_EQ(raw_.Table(), (std::vector<std::string>{"/a|a|COMPLETE", "/b|b|COMPLETE"}));
}

}  // namespace
}  // namespace tessarine
