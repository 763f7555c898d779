#include "backup/backup_sql_utility.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cctype>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <string>
#include <vector>

#include "backup/backup_exceptions.h"
#include "base/app_log.h"
#include "base/string_utility.h"
#include "base/time_utility.h"
#include "fakes/raw_database.h"
#include "fakes/test_support.h"
#include "fakes/thrown_code.h"
#include "infra/sqlite_helper.h"

namespace tessarine {
namespace {

using testing::RawDatabase;
using testing::ReadFile;
using testing::TempDir;

// What RawDatabase::Table() compares.
constexpr char kTableQuery[] =
    "SELECT * FROM BACKUP_FILELIST ORDER BY SETTING_NUMBER, SOURCE_FILE_PATH;";

constexpr auto ThrownCode = testing::ThrownCode<CBackupSQLException>;

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::time_t when = 0;
    EXPECT_TRUE(MakeLocalTime(year, month, day, hour, minute, second, when));
    return when;
}

std::string LongPath(std::size_t bytes) {
    std::string path = "/home/ユーザー";
    while (path.size() < bytes) path += "/長いフォルダ名";
    return path;
}

class BackupSqlUtilityTest : public ::testing::Test {
protected:
    void SetUp() override {
        CAppLog::Get().InitWith(dir_.Path() + "/", "test", false, 1 << 20);
        ASSERT_EQ(fileList_.Initialize(), 0);
    }
    void TearDown() override { CAppLog::Get().Reset(); }

    std::string Log() const { return ReadFile(dir_.Path() + "/test.log"); }

    TempDir dir_;
    std::string path_ = dir_.Sub("TessarineTool.db");
    CBackupSQLUtility fileList_{path_};
    RawDatabase raw_{path_, kTableQuery};
};

TEST_F(BackupSqlUtilityTest, FreshDatabaseHasExactSchemaAndSecondInitializeChangesNothing) {
    const std::vector<std::string> expected = {
        "table|BACKUP_FILELIST|CREATE TABLE BACKUP_FILELIST (SETTING_NUMBER INTEGER NOT NULL, "
        "SOURCE_FILE_PATH TEXT NOT NULL, DESTINATION_FILE_PATH TEXT NOT NULL, LAST_UPDATE TEXT "
        "NOT NULL, IS_DIRECTORY INTEGER NOT NULL, STATUS TEXT NOT NULL, "
        "PRIMARY KEY(SETTING_NUMBER, SOURCE_FILE_PATH))",
        "index|sqlite_autoindex_BACKUP_FILELIST_1|<null>",
        "index|INDEX_BACKUP_INFORMATION|CREATE INDEX INDEX_BACKUP_INFORMATION ON "
        "BACKUP_FILELIST(SETTING_NUMBER, SOURCE_FILE_PATH)",
        "index|INDEX_BACKUP_SETTING_STATUS|CREATE INDEX INDEX_BACKUP_SETTING_STATUS ON "
        "BACKUP_FILELIST(SETTING_NUMBER, STATUS)",
        "index|INDEX_BACKUP_SETTING|CREATE INDEX INDEX_BACKUP_SETTING ON "
        "BACKUP_FILELIST(SETTING_NUMBER)",
        "index|INDEX_BACKUP_STATUS|CREATE INDEX INDEX_BACKUP_STATUS ON BACKUP_FILELIST(STATUS)",
        "index|INDEX_BACKUP_SETTING_DIRECTORY_STATUS|CREATE INDEX "
        "INDEX_BACKUP_SETTING_DIRECTORY_STATUS ON BACKUP_FILELIST(SETTING_NUMBER, IS_DIRECTORY, "
        "STATUS)",
        "table|BACKUP_SOURCE_MOUNT|CREATE TABLE BACKUP_SOURCE_MOUNT (SOURCE_FOLDER_PATH TEXT NOT "
        "NULL PRIMARY KEY, MOUNT_ROOT TEXT NOT NULL)",
        "index|sqlite_autoindex_BACKUP_SOURCE_MOUNT_1|<null>",
    };
    const std::string schema = "SELECT type, name, sql FROM sqlite_master ORDER BY rowid;";
    EXPECT_EQ(raw_.Rows(schema), expected);
    EXPECT_EQ(fileList_.Connection().OpenStatementCount(), 14);

    fileList_.AddBackupInformation(0, "/a", "\\\\h\\zereda\\a", LocalTime(2020, 1, 2, 3, 4, 5), 0);
    ASSERT_EQ(fileList_.Initialize(), 0);
    EXPECT_EQ(raw_.Rows(schema), expected);
    EXPECT_EQ(fileList_.Connection().OpenStatementCount(),
              14);                                  // the replaced handles are finalized
    EXPECT_EQ(fileList_.GetBackupFileCount(0), 1);  // and the new ones work
}

TEST_F(BackupSqlUtilityTest, RowsRoundTripIntact) {
    struct Row {
        int setting;
        std::string source;
        std::string destination;
        std::time_t lastUpdate;
        int isDirectory;
    };
    const std::vector<Row> rows = {
        {0, "/home/太郎/文書/見積書.xlsx", "\\\\192.168.1.10\\zereda\\バックアップ\\見積書.xlsx",
         LocalTime(2017, 12, 31, 23, 59, 59), 0},
        {0, LongPath(2000), "\\\\192.168.1.10\\zereda" + LongPath(2000),
         LocalTime(2001, 2, 3, 4, 5, 6), 1},
        {9, "/home/u/x", "\\\\192.168.1.10\\zereda\\x", LocalTime(1999, 1, 1, 0, 0, 0), 0},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(fileList_.AddBackupInformation(row.setting, row.source, row.destination,
                                                 row.lastUpdate, row.isDirectory),
                  0);
    }
    for (const auto& row : rows) {
        std::string destination;
        std::time_t lastUpdate = 0;
        ASSERT_EQ(
            fileList_.GetBackupInformation(row.setting, row.source, &destination, &lastUpdate), 0);
        EXPECT_EQ(destination, row.destination);
        EXPECT_EQ(lastUpdate, row.lastUpdate);
        // Existence alone, without outputs.
        EXPECT_EQ(fileList_.GetBackupInformation(row.setting, row.source, nullptr, nullptr), 0);
    }
    EXPECT_EQ(fileList_.GetBackupFileCount(0), 2);
    EXPECT_EQ(fileList_.GetBackupFileCount(9), 1);
    EXPECT_EQ(fileList_.GetBackupFileCount(5), 0);
    EXPECT_EQ(raw_.Rows("SELECT LAST_UPDATE, STATUS FROM BACKUP_FILELIST WHERE SOURCE_FILE_PATH "
                        "LIKE '%見積書%';"),
              std::vector<std::string>{"20171231235959|ADD"});
}

TEST_F(BackupSqlUtilityTest, MissingRowReportsOneAndLeavesOutputs) {
    fileList_.AddBackupInformation(0, "/a", "\\\\h\\zereda\\a", LocalTime(2020, 1, 1, 0, 0, 0), 0);
    std::string destination = "unchanged";
    std::time_t lastUpdate = 42;
    EXPECT_EQ(fileList_.GetBackupInformation(1, "/a", &destination, &lastUpdate), 1);
    EXPECT_EQ(fileList_.GetBackupInformation(0, "/A", &destination, &lastUpdate), 1);  // exact
    EXPECT_EQ(fileList_.GetBackupInformation(0, "/b", nullptr, nullptr), 1);
    EXPECT_EQ(destination, "unchanged");
    EXPECT_EQ(lastUpdate, 42);
}

TEST_F(BackupSqlUtilityTest, UpdateAndDeleteChangeOnlyTheirRow) {
    const std::time_t first = LocalTime(2020, 1, 1, 0, 0, 0);
    const std::time_t later = LocalTime(2021, 6, 30, 12, 0, 0);
    fileList_.AddBackupInformation(0, "/a", "\\\\h\\zereda\\a", first, 0);
    fileList_.AddBackupInformation(0, "/b", "\\\\h\\zereda\\b", first, 0);
    fileList_.AddBackupInformation(1, "/a", "\\\\h\\zereda\\1a", first, 0);

    EXPECT_EQ(fileList_.UpdateBackupInformation(0, "/a", later), 0);
    EXPECT_EQ(fileList_.DeleteBackupInformation(0, "/b"), 0);
    EXPECT_EQ(raw_.Table(), (std::vector<std::string>{
                                "0|/a|\\\\h\\zereda\\a|20210630120000|0|UPDATE",
                                "1|/a|\\\\h\\zereda\\1a|20200101000000|0|ADD",
                            }));

    // Status words apply to every folder pair at once.
    EXPECT_EQ(fileList_.UpdateBackupStatus("INIT"), 0);
    EXPECT_EQ(raw_.Rows("SELECT DISTINCT STATUS FROM BACKUP_FILELIST;"),
              std::vector<std::string>{"INIT"});
}

TEST_F(BackupSqlUtilityTest, UpdateBackupStatusSetsEveryRowWhateverItHeld) {
    const std::time_t when = LocalTime(2020, 1, 1, 0, 0, 0);
    // Words on both sides of each target word, so rows below and above it in order are found.
    for (const char* word : {"COMPLETE", "INIT", "ADD", "UPDATE"}) {
        SCOPED_TRACE(word);
        ASSERT_TRUE(raw_.Execute("DELETE FROM BACKUP_FILELIST;"));
        int n = 0;
        for (const char* held : {"ADD", "COMPLETE", "INIT", "TEMPORARY", "UPDATE"}) {
            const std::string path = std::string("/").append(std::to_string(n));
            fileList_.AddBackupInformation(n % 2, path, "\\\\h\\zereda" + path, when, 0);
            ASSERT_TRUE(raw_.Execute("UPDATE BACKUP_FILELIST SET STATUS = '" + std::string(held) +
                                     "' WHERE SOURCE_FILE_PATH = '" + path + "';"));
            ++n;
        }
        EXPECT_EQ(fileList_.UpdateBackupStatus(word), 0);
        EXPECT_EQ(raw_.Rows("SELECT DISTINCT STATUS FROM BACKUP_FILELIST;"),
                  std::vector<std::string>{word});
        EXPECT_EQ(raw_.Rows("SELECT COUNT(*) FROM BACKUP_FILELIST;"),
                  std::vector<std::string>{"5"});
    }
}

TEST_F(BackupSqlUtilityTest, GetBackupTimesReadsThePairsRowsAndLeavesOutUnreadableTimes) {
    const std::time_t file = LocalTime(2017, 12, 31, 23, 59, 59);
    const std::time_t folder = LocalTime(2020, 2, 29, 12, 0, 0);
    fileList_.AddBackupInformation(0, "/a", "\\\\h\\zereda\\a", file, 0);
    fileList_.AddBackupInformation(0, "/b", "\\\\h\\zereda\\b", file, 0);
    fileList_.AddBackupInformation(0, "/dir", "\\\\h\\zereda\\dir", folder, 1);
    fileList_.AddBackupInformation(0, "/bad", "\\\\h\\zereda\\bad", file, 0);
    fileList_.AddBackupInformation(1, "/a", "\\\\h\\zereda\\1a", folder, 0);
    ASSERT_TRUE(raw_.Execute(
        "UPDATE BACKUP_FILELIST SET LAST_UPDATE = '2017-13' WHERE SOURCE_FILE_PATH = '/bad';"));

    BackupTimeMap times{{"/stale", 1}};
    EXPECT_EQ(fileList_.GetBackupTimes(0, times), 0);
    EXPECT_EQ(times, (BackupTimeMap{{"/a", file}, {"/b", file}, {"/dir", folder}}));
    EXPECT_EQ(fileList_.GetBackupTimes(1, times), 0);
    EXPECT_EQ(times, (BackupTimeMap{{"/a", folder}}));
    EXPECT_EQ(fileList_.GetBackupTimes(5, times), 0);
    EXPECT_TRUE(times.empty());
    // The unreadable row is still reported where it is looked up on its own.
    EXPECT_EQ(ThrownCode([&] { fileList_.GetBackupInformation(0, "/bad", nullptr, &times[""]); }),
              1);
}

TEST_F(BackupSqlUtilityTest, AddRefusesEmptyAndDuplicateKeysKeepingTheRow) {
    const std::time_t original = LocalTime(2020, 1, 1, 0, 0, 0);
    fileList_.AddBackupInformation(3, "/a", "\\\\h\\zereda\\original", original, 0);
    EXPECT_EQ(ThrownCode([&] {
                  fileList_.AddBackupInformation(3, "/a", "\\\\h\\zereda\\other",
                                                 LocalTime(2022, 1, 1, 0, 0, 0), 1);
              }),
              4);
    EXPECT_EQ(ThrownCode([&] { fileList_.AddBackupInformation(3, "", "\\\\h\\x", original, 0); }),
              4);
    EXPECT_EQ(raw_.Table(),
              std::vector<std::string>{"3|/a|\\\\h\\zereda\\original|20200101000000|0|ADD"});
    EXPECT_FALSE(fileList_.IsInTransaction());
    // The object stays usable after the failure.
    EXPECT_EQ(fileList_.AddBackupInformation(3, "/b", "\\\\h\\zereda\\b", original, 0), 0);
    EXPECT_NE(Log().find("CBackupSQLUtility::AddBackupInformation Invalid Primary Key"),
              std::string::npos);
    EXPECT_NE(Log().find("Insert Backup Filelist Error. Code:4"), std::string::npos);
}

TEST_F(BackupSqlUtilityTest, CorruptTimeTextThrowsInsteadOfCrashing) {
    ASSERT_TRUE(raw_.Execute("INSERT INTO BACKUP_FILELIST VALUES (0, '/bad', 'd', '', 0, 'ADD');"));
    ASSERT_TRUE(
        raw_.Execute("INSERT INTO BACKUP_FILELIST VALUES (0, '/worse', 'd', 'x', 0, 'ADD');"));
    std::string destination = "unchanged";
    std::time_t lastUpdate = 42;
    EXPECT_EQ(
        ThrownCode([&] { fileList_.GetBackupInformation(0, "/bad", &destination, &lastUpdate); }),
        1);
    EXPECT_EQ(destination, "unchanged");
    EXPECT_EQ(lastUpdate, 42);
    // Without the time output the row is fine.
    EXPECT_EQ(fileList_.GetBackupInformation(0, "/bad", &destination, nullptr), 0);

    fileList_.BindBackupSettingStatement(0, 0);
    std::string source;
    EXPECT_EQ(ThrownCode([&] { fileList_.GetBackupSetting(&source, &destination, &lastUpdate); }),
              3);
    EXPECT_NE(Log().find("Get LastUpdate Error. Code:4"), std::string::npos);
}

TEST_F(BackupSqlUtilityTest, ListingDeliversFilesThenFoldersInPathOrder) {
    const std::time_t when = LocalTime(2020, 5, 6, 7, 8, 9);
    for (const char* path : {"/s/b", "/s/a", "/s/c"}) {
        fileList_.AddBackupInformation(2, path, std::string("\\\\h\\zereda") + path, when, 0);
    }
    fileList_.AddBackupInformation(2, "/s/dir", "\\\\h\\zereda\\dir", when, 1);
    fileList_.AddBackupInformation(3, "/other", "\\\\h\\zereda\\other", when, 0);

    const auto list = [&](int isDirectory) {
        std::vector<std::string> rows;
        EXPECT_EQ(fileList_.BindBackupSettingStatement(2, isDirectory), 0);
        std::string source, destination;
        std::time_t lastUpdate = 0;
        while (fileList_.GetBackupSetting(&source, &destination, &lastUpdate) == 0) {
            EXPECT_EQ(lastUpdate, when);
            rows.push_back(source + "|" + destination);
        }
        return rows;
    };
    EXPECT_EQ(list(0), (std::vector<std::string>{"/s/a|\\\\h\\zereda/s/a", "/s/b|\\\\h\\zereda/s/b",
                                                 "/s/c|\\\\h\\zereda/s/c"}));
    EXPECT_EQ(list(1), std::vector<std::string>{"/s/dir|\\\\h\\zereda\\dir"});
    EXPECT_EQ(fileList_.BindBackupSettingStatusStatement(2), 0);
    // A finished listing leaves nothing open: the file list can be written at once.
    EXPECT_EQ(fileList_.DeleteBackupInformation(2, "/s/a"), 0);
}

TEST_F(BackupSqlUtilityTest, ListingBeforeAnyBindThrowsWithoutTouchingTheDatabase) {
    std::string source, destination;
    std::time_t lastUpdate = 0;
    EXPECT_EQ(ThrownCode([&] { fileList_.GetBackupSetting(&source, &destination, &lastUpdate); }),
              3);
    EXPECT_NE(Log().find("Query Parameter Unbind"), std::string::npos);
    fileList_.BindBackupSettingStatement(0, 0);
    EXPECT_EQ(ThrownCode([&] { fileList_.GetBackupSetting(&source, nullptr, &lastUpdate); }), 3);
}

TEST(BackupSqlUtilityUnopenedTest, EveryOperationThrowsItsCode) {
    TempDir dir;
    CBackupSQLUtility fileList(dir.Sub("no-such-folder/file.db"));
    EXPECT_EQ(fileList.Initialize(), 1);
    std::string text;
    std::time_t when = 0;
    const std::time_t now = 1600000000;
    struct Case {
        const char* name;
        std::function<void()> call;
        int code;
    };
    const Case cases[] = {
        {"count", [&] { fileList.GetBackupFileCount(0); }, 0},
        {"information", [&] { fileList.GetBackupInformation(0, "/a", &text, &when); }, 1},
        {"bind status listing", [&] { fileList.BindBackupSettingStatusStatement(0); }, 2},
        {"bind listing", [&] { fileList.BindBackupSettingStatement(0, 0); }, 2},
        {"listing", [&] { fileList.GetBackupSetting(&text, &text, &when); }, 3},
        {"add", [&] { fileList.AddBackupInformation(0, "/a", "d", now, 0); }, 4},
        {"status", [&] { fileList.UpdateBackupStatus("INIT"); }, 5},
        {"update", [&] { fileList.UpdateBackupInformation(0, "/a", now); }, 7},
        {"move", [&] { fileList.UpdateBackupSetting(0, 1); }, 8},
        {"delete", [&] { fileList.DeleteBackupInformation(0, "/a"); }, 9},
        {"delete pair", [&] { fileList.DeleteBackupSetting(0); }, 10},
        {"start change", [&] { fileList.StartSettingChange(); }, 11},
        {"end change", [&] { fileList.EndSettingChange(true); }, 12},
        {"roll back change", [&] { fileList.EndSettingChange(false); }, 12},
    };
    for (const auto& c : cases) EXPECT_EQ(ThrownCode(c.call), c.code) << c.name;
}

// Folder pairs by letter: 'A'..'D' are distinct pairs, 'b' is pair B with another destination.
BackupFolderPair Pair(char letter) {
    const std::string name(1, static_cast<char>(std::toupper(letter)));
    const std::string destination =
        std::islower(letter) ? "\\\\h\\zereda\\moved" + name : "\\\\h\\zereda\\" + name;
    return {"/home/ユーザー/" + name, destination};
}

BackupFolderPairs Pairs(const std::string& letters) {
    BackupFolderPairs pairs;
    for (std::size_t i = 0; i < letters.size(); ++i) {
        if (letters[i] != ' ') pairs[i] = Pair(letters[i]);
    }
    return pairs;
}

BackupSettingChange Move(int from, int to) { return {BackupSettingChange::Kind::kMove, from, to}; }
BackupSettingChange Removal(int from) { return {BackupSettingChange::Kind::kRemoval, from}; }

struct SettingChangeCase {
    const char* name;
    std::string oldPairs;
    std::string newPairs;
    std::vector<BackupSettingChange> changes;
};

const SettingChangeCase kSettingChangeCases[] = {
    {"rotate", "ABC", "CAB", {Move(0, 1), Move(1, 2), Move(2, 0)}},
    {"swap", "AB", "BA", {Move(0, 1), Move(1, 0)}},
    {"remove middle", "ABC", "AC", {Removal(1), Move(2, 1)}},
    {"destination changed", "AB", "Ab", {Removal(1)}},
    {"unchanged", "ABC", "ABC", {}},
    {"append", "AB", "ABD", {}},
    {"clear all", "ABC", "", {Removal(0), Removal(1), Removal(2)}},
    {"nothing saved before", "", "AB", {}},
    {"old list ends at first gap", "A C", "CA", {Move(0, 1)}},
    {"new list ends at first gap", "AB", "A B", {Removal(1)}},
    {"pair entered twice kept", "AA", "AA", {}},
    {"pair entered twice reduced", "AA", "A", {Removal(1)}},
};

class SettingChangeComputeTest : public ::testing::TestWithParam<SettingChangeCase> {};

TEST_P(SettingChangeComputeTest, RecordsMovesAndRemovalsInOldOrder) {
    const auto& c = GetParam();
    EXPECT_EQ(ComputeBackupSettingChanges(Pairs(c.oldPairs), Pairs(c.newPairs)), c.changes);
}

INSTANTIATE_TEST_SUITE_P(Cases, SettingChangeComputeTest, ::testing::ValuesIn(kSettingChangeCases),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

class SettingChangeApplyTest : public BackupSqlUtilityTest {
protected:
    // Two rows (a file, a folder) for each pair of `letters`, at the pair's position.
    void Fill(const std::string& letters) {
        for (std::size_t i = 0; i < letters.size(); ++i) {
            const BackupFolderPair pair = Pair(letters[i]);
            fileList_.AddBackupInformation(static_cast<int>(i), pair.source + "/file.txt",
                                           pair.destination + "\\file.txt", 1600000000, 0);
            fileList_.AddBackupInformation(static_cast<int>(i), pair.source + "/folder",
                                           pair.destination + "\\folder", 1600000000, 1);
        }
        fileList_.UpdateBackupStatus("COMPLETE");
    }
    // Pair letter -> the numbers its rows carry.
    std::map<char, std::vector<std::string>> Owners() const {
        std::map<char, std::vector<std::string>> owners;
        for (const auto& row : raw_.Rows(
                 "SELECT SOURCE_FILE_PATH, SETTING_NUMBER FROM BACKUP_FILELIST ORDER BY 1;")) {
            const char letter = row[std::string("/home/ユーザー/").size()];
            owners[letter].push_back(row.substr(row.find('|') + 1));
        }
        return owners;
    }
};

TEST_F(SettingChangeApplyTest, RowsFollowTheirPairs) {
    struct Case {
        std::string oldPairs;
        std::string newPairs;
        std::map<char, std::vector<std::string>> owners;
    };
    const Case cases[] = {
        {"ABC", "CAB", {{'A', {"1", "1"}}, {'B', {"2", "2"}}, {'C', {"0", "0"}}}},
        {"AB", "BA", {{'A', {"1", "1"}}, {'B', {"0", "0"}}}},
        {"ABC", "AC", {{'A', {"0", "0"}}, {'C', {"1", "1"}}}},
        {"AB", "Ab", {{'A', {"0", "0"}}}},
        {"ABCD",
         "DCBA",
         {{'A', {"3", "3"}}, {'B', {"2", "2"}}, {'C', {"1", "1"}}, {'D', {"0", "0"}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.oldPairs + " -> " + c.newPairs);
        raw_.Execute("DELETE FROM BACKUP_FILELIST;");
        Fill(c.oldPairs);
        const auto changes = ComputeBackupSettingChanges(Pairs(c.oldPairs), Pairs(c.newPairs));
        EXPECT_TRUE(ApplyBackupSettingChanges(fileList_, changes));
        EXPECT_EQ(Owners(), c.owners);
        EXPECT_EQ(
            raw_.Rows("SELECT DISTINCT STATUS FROM BACKUP_FILELIST;"),
            (c.owners.empty() ? std::vector<std::string>{} : std::vector<std::string>{"COMPLETE"}));
        EXPECT_FALSE(fileList_.IsInTransaction());
    }
}

TEST_F(SettingChangeApplyTest, RollbackRestoresTheTable) {
    Fill("ABC");
    const auto before = raw_.Table();
    fileList_.StartSettingChange();
    fileList_.UpdateBackupSetting(0, 1);
    fileList_.DeleteBackupSetting(2);
    EXPECT_EQ(raw_.Rows("SELECT COUNT(*) FROM BACKUP_FILELIST;"),  // not visible to others yet
              std::vector<std::string>{"6"});
    fileList_.EndSettingChange(false);
    EXPECT_EQ(raw_.Table(), before);
    EXPECT_FALSE(fileList_.IsInTransaction());
}

TEST_F(SettingChangeApplyTest, FailedChangeRollsBackAndReportsFailure) {
    Fill("ABC");
    // The same path under both numbers: moving pair 0 onto 1 collides with the table's key,
    // after the removal of pair 2 has gone through.
    fileList_.AddBackupInformation(0, "/shared", "\\\\h\\zereda\\s0", 1600000000, 0);
    fileList_.AddBackupInformation(1, "/shared", "\\\\h\\zereda\\s1", 1600000000, 0);
    const auto before = raw_.Table();
    EXPECT_FALSE(ApplyBackupSettingChanges(fileList_, {Removal(2), Move(0, 1)}));
    EXPECT_FALSE(fileList_.IsInTransaction());
    EXPECT_EQ(raw_.Table(), before);
    EXPECT_NE(Log().find(Utf8ToCp932("バックアップ設定更新エラー")), std::string::npos);
}

TEST_F(BackupSqlUtilityTest, BatchKeepsGoodRowsOfAFailedOneAndCommitsOrDropsThemTogether) {
    const std::time_t when = LocalTime(2020, 1, 1, 0, 0, 0);
    fileList_.AddBackupInformation(0, "/existing", "\\\\h\\zereda\\existing", when, 0);
    {
        auto batch = fileList_.BeginBatch();
        ASSERT_EQ(batch.BeginCode(), kSqlOk);
        fileList_.AddBackupInformation(0, "/a", "\\\\h\\zereda\\a", when, 0);
        // A failing row undoes only itself; the batch stays open.
        EXPECT_EQ(ThrownCode(
                      [&] { fileList_.AddBackupInformation(0, "/existing", "\\\\h\\x", when, 0); }),
                  4);
        EXPECT_TRUE(fileList_.IsInTransaction());
        fileList_.UpdateBackupInformation(0, "/existing", LocalTime(2021, 1, 1, 0, 0, 0));
        EXPECT_EQ(raw_.Rows("SELECT COUNT(*) FROM BACKUP_FILELIST;"),  // not visible to others yet
                  std::vector<std::string>{"1"});
        EXPECT_EQ(batch.Commit(), kSqlOk);
    }
    EXPECT_EQ(raw_.Table(), (std::vector<std::string>{
                                "0|/a|\\\\h\\zereda\\a|20200101000000|0|ADD",
                                "0|/existing|\\\\h\\zereda\\existing|20210101000000|0|UPDATE",
                            }));
    {
        auto batch = fileList_.BeginBatch();
        fileList_.AddBackupInformation(0, "/b", "\\\\h\\zereda\\b", when, 0);
        fileList_.DeleteBackupInformation(0, "/a");
    }  // no commit: rolled back
    EXPECT_EQ(raw_.Rows("SELECT SOURCE_FILE_PATH FROM BACKUP_FILELIST ORDER BY 1;"),
              (std::vector<std::string>{"/a", "/existing"}));
    EXPECT_FALSE(fileList_.IsInTransaction());
}

TEST_F(BackupSqlUtilityTest, TwoThreadsShareTheObjectWithoutDeadlock) {
    constexpr int kRows = 200;
    const auto writer = [this](int setting) {
        int failures = 0;
        for (int i = 0; i < kRows; ++i) {
            const std::string path = "/p/" + std::to_string(i);
            try {
                fileList_.AddBackupInformation(setting, path, "\\\\h\\zereda" + path, 1600000000,
                                               0);
                std::string destination;
                if (fileList_.GetBackupInformation(setting, path, &destination, nullptr) != 0 ||
                    destination != "\\\\h\\zereda" + path)
                    ++failures;
            } catch (const CAppException&) {
                ++failures;
            }
        }
        return failures;
    };
    auto first = std::async(std::launch::async, writer, 0);
    auto second = std::async(std::launch::async, writer, 1);
    ASSERT_EQ(first.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    ASSERT_EQ(second.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_EQ(first.get(), 0);
    EXPECT_EQ(second.get(), 0);
    EXPECT_EQ(fileList_.GetBackupFileCount(0), kRows);
    EXPECT_EQ(fileList_.GetBackupFileCount(1), kRows);
}

}  // namespace
}  // namespace tessarine
