#include "detection/detect_file_result_sql_utility.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/app_log.h"
#include "detection/detect_file_exceptions.h"
#include "fakes/raw_database.h"
#include "fakes/test_support.h"
#include "fakes/thrown_code.h"

namespace tessarine {
namespace {

using testing::RawDatabase;
using testing::ReadFile;
using testing::TempDir;
using Hits = std::vector<std::pair<std::string, std::string>>;

constexpr auto ThrownCode = testing::ThrownCode<CDetectFileResultSQLException>;

CDetectFileResult MakeResult(const std::string& time, const std::string& path, Hits hits = {}) {
    CDetectFileResult result;
    result.fileName = path.substr(path.find_last_of("\\/") + 1);
    result.filePath = path;
    result.detectedTime = time;
    for (auto& [category, hit] : hits) result.details.push_back({category, hit});
    return result;
}

Hits HitsOf(const CDetectFileResult& result) {
    Hits hits;
    for (const auto& detail : result.details) hits.emplace_back(detail.category, detail.hitText);
    return hits;
}

class DetectFileResultSqlTest : public ::testing::Test {
protected:
    void SetUp() override {
        CAppLog::Get().InitWith(dir_.Path() + "/", "results", true, std::int64_t{64} << 20);
        ASSERT_EQ(results_.Initialize(), 0);
    }
    void TearDown() override { CAppLog::Get().Reset(); }

    std::vector<std::string> Listing() {
        std::vector<std::string> ids;
        std::string id, name, path, time;
        while (results_.GetDetectFileResult(&id, &name, &path, &time) == 0) ids.push_back(time);
        return ids;
    }
    Hits DetailListing(const std::string& id) {
        results_.BindDetectFileResultDetailStatement(id);
        Hits hits;
        std::string category, hit;
        while (results_.GetDetectFileResultDetail(&category, &hit) == 0)
            hits.emplace_back(category, hit);
        return hits;
    }
    static std::string LogText() { return ReadFile(CAppLog::Get().LogFilePath()); }

    TempDir dir_;
    std::string path_ = dir_.Sub("TessarineTool.db");
    CDetectFileResultSQLUtility results_{path_};
};

TEST_F(DetectFileResultSqlTest, ResultKeyIsTheTimeAndThePathAndHitsListInDisplayOrder) {
    results_.AddDetectFileResult("b.txt", "C:\\a\\b.txt", "20170401120000");
    EXPECT_EQ(results_.GetLastId(), "20170401120000_C:\\a\\b.txt");
    results_.AddDetectFileResultDetail(results_.GetLastId(), 1, "電話番号", "03-1234-5678");
    results_.AddDetectFileResultDetail(results_.GetLastId(), 0, "社外秘", "社外秘");

    EXPECT_EQ(RawDatabase(path_).Rows("SELECT * FROM DETECT_FILE_RESULT;"),
              std::vector<std::string>{"20170401120000_C:\\a\\b.txt|b.txt|C:\\a\\b.txt|"
                                       "20170401120000"});
    EXPECT_EQ(DetailListing("20170401120000_C:\\a\\b.txt"),
              (Hits{{"社外秘", "社外秘"}, {"電話番号", "03-1234-5678"}}));
    // The hits of a result without any end at once.
    EXPECT_TRUE(DetailListing("20990101000000_none").empty());
}

TEST_F(DetectFileResultSqlTest, ListingIsNewestFirstAndStartsAgainAfterItsEnd) {
    results_.AddDetectFileResult("a", "/a", "20170401120000");
    results_.AddDetectFileResult("b", "/b", "20170402090000");
    results_.AddDetectFileResult("c", "/c", "20161231235959");

    const std::vector<std::string> newestFirst = {"20170402090000", "20170401120000",
                                                  "20161231235959"};
    EXPECT_EQ(Listing(), newestFirst);
    EXPECT_EQ(Listing(), newestFirst) << "the call after the end starts from the newest";

    // A listing left before its end goes on where it stopped.
    std::string id, name, path, time;
    ASSERT_EQ(results_.GetDetectFileResult(&id, &name, &path, &time), 0);
    EXPECT_EQ(id, "20170402090000_/b");
    EXPECT_EQ(name, "b");
    results_.AddDetectFileResult("d", "/d", "20000101000000");  // another thread's insert
    ASSERT_EQ(results_.GetDetectFileResult(&id, &name, &path, &time), 0);
    EXPECT_EQ(time, "20170401120000");
}

TEST_F(DetectFileResultSqlTest, FailuresThrowTheirOperationsCode) {
    results_.AddDetectFileResult("b.txt", "/a/b.txt", "20170401120000");
    results_.AddDetectFileResultDetail(results_.GetLastId(), 0, "c", "x");
    std::string a, b, c, d;
    struct Case {
        const char* what;
        std::function<void()> call;
        int code;
    };
    const Case cases[] = {
        {"the same result again",
         [&] { results_.AddDetectFileResult("b.txt", "/a/b.txt", "20170401120000"); }, 0},
        {"the same hit again",
         [&] { results_.AddDetectFileResultDetail("20170401120000_/a/b.txt", 0, "c", "y"); }, 2},
        {"a listing without an output", [&] { results_.GetDetectFileResult(&a, nullptr, &c, &d); },
         1},
        {"hits without an output", [&] { results_.GetDetectFileResultDetail(&a, nullptr); }, 4},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        EXPECT_EQ(ThrownCode(test.call), test.code);
    }
    EXPECT_EQ(RawDatabase(path_).Rows("SELECT COUNT(*) FROM DETECT_FILE_RESULT;")[0], "1");
    EXPECT_EQ(RawDatabase(path_).Rows("SELECT HIT_TEXT FROM DETECT_FILE_RESULT_DETAIL;"),
              std::vector<std::string>{"x"});
}

TEST(DetectFileResultSqlUnboundTest, HitsBeforeAnyBindFailWithoutAQuery) {
    TempDir dir;
    CAppLog::Get().InitWith(dir.Path() + "/", "results", true, std::int64_t{64} << 20);
    CDetectFileResultSQLUtility results(dir.Sub("x.db"));
    ASSERT_EQ(results.Initialize(), 0);
    std::string category, hit;
    EXPECT_EQ(ThrownCode([&] { results.GetDetectFileResultDetail(&category, &hit); }), 4);
    EXPECT_NE(ReadFile(CAppLog::Get().LogFilePath()).find("Query Parameter Unbind"),
              std::string::npos);
    CAppLog::Get().Reset();
}

TEST_F(DetectFileResultSqlTest, StoringIsAllOrNothingAndRecognisesAStoredResult) {
    const CDetectFileResult first =
        MakeResult("20240102030405", "/home/u/a.txt", {{"社外秘", "社外秘"}, {"社外秘", "極秘"}});
    EXPECT_EQ(results_.StoreDetectFileResult(first),
              CDetectFileResultSQLUtility::StoreOutcome::kStored);
    EXPECT_EQ(results_.StoreDetectFileResult(first),
              CDetectFileResultSQLUtility::StoreOutcome::kAlreadyStored);

    CDetectFileResult changed = first;
    changed.details.pop_back();
    EXPECT_EQ(results_.StoreDetectFileResult(changed),
              CDetectFileResultSQLUtility::StoreOutcome::kConflict);

    // A hit that cannot be written takes its result with it.
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw,
                           "CREATE TRIGGER refuse BEFORE INSERT ON DETECT_FILE_RESULT_DETAIL "
                           "WHEN NEW.HIT_TEXT = 'bad' BEGIN SELECT RAISE(ABORT, 'no'); END;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
    const CDetectFileResult broken =
        MakeResult("20240102030406", "/home/u/b.txt", {{"c", "good"}, {"c", "bad"}});
    EXPECT_EQ(ThrownCode([&] { results_.StoreDetectFileResult(broken); }), 2);
    EXPECT_EQ(RawDatabase(path_).Rows("SELECT ID FROM DETECT_FILE_RESULT ORDER BY ID;"),
              std::vector<std::string>{"20240102030405_/home/u/a.txt"});
    EXPECT_EQ(RawDatabase(path_).Rows("SELECT COUNT(*) FROM DETECT_FILE_RESULT_DETAIL;")[0], "2");
    EXPECT_FALSE(results_.Connection().IsInTransaction());

    CDetectFileResult found;
    ASSERT_EQ(results_.FindDetectFileResult("20240102030405_/home/u/a.txt", &found), 0);
    EXPECT_EQ(found.id, "20240102030405_/home/u/a.txt");
    EXPECT_TRUE(IsSameDetectFileResult(found, first));
    EXPECT_EQ(results_.FindDetectFileResult("20240102030406_/home/u/b.txt", &found), 1);
}

TEST_F(DetectFileResultSqlTest, WholeListingGivesTheNewestWithTheirHitsAndKeepsACursorWhereItWas) {
    results_.StoreDetectFileResult(MakeResult("20240101000000", "/a", {{"x", "1"}}));
    results_.StoreDetectFileResult(MakeResult("20240301000000", "/c", {{"y", "2"}, {"z", "3"}}));
    results_.StoreDetectFileResult(MakeResult("20240201000000", "/b"));
    results_.StoreDetectFileResult(MakeResult("20240201000000", "/b2"));  // same time, later

    std::string id, name, path, time;
    ASSERT_EQ(results_.GetDetectFileResult(&id, &name, &path, &time), 0);  // a window's cursor

    std::vector<CDetectFileResult> listed;
    results_.ListDetectFileResults(3, listed);
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[0].filePath, "/c");
    EXPECT_EQ(HitsOf(listed[0]), (Hits{{"y", "2"}, {"z", "3"}}));
    EXPECT_EQ(listed[1].filePath, "/b2");
    EXPECT_TRUE(listed[1].details.empty()) << "no hits carried over from the result before";
    EXPECT_EQ(listed[2].filePath, "/b");
    results_.ListDetectFileResults(-1, listed);
    EXPECT_EQ(listed.size(), 4u);
    EXPECT_EQ(HitsOf(listed[3]), (Hits{{"x", "1"}}));

    ASSERT_EQ(results_.GetDetectFileResult(&id, &name, &path, &time), 0);
    EXPECT_EQ(time, "20240201000000") << "the cursor went on from its first row";
}

TEST_F(DetectFileResultSqlTest, ACursorLeftOpenDoesNotStopStoringAfterAnotherConnectionWrote) {
    results_.StoreDetectFileResult(MakeResult("20240101000000", "/a", {{"x", "1"}}));
    results_.StoreDetectFileResult(MakeResult("20240101000001", "/b", {{"x", "2"}}));
    std::string id, name, path, time;
    ASSERT_EQ(results_.GetDetectFileResult(&id, &name, &path, &time), 0);  // left mid-way
    results_.BindDetectFileResultDetailStatement("20240101000001_/b");
    std::string category, hit;
    ASSERT_EQ(results_.GetDetectFileResultDetail(&category, &hit), 0);
    // Another connection to the file (the file lists) commits meanwhile.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "CREATE TABLE OTHER (X); INSERT INTO OTHER VALUES (1);", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(other);

    EXPECT_EQ(results_.StoreDetectFileResult(MakeResult("20240101000002", "/c", {{"x", "3"}})),
              CDetectFileResultSQLUtility::StoreOutcome::kStored);
    // The interrupted listing starts again from the newest.
    ASSERT_EQ(results_.GetDetectFileResult(&id, &name, &path, &time), 0);
    EXPECT_EQ(path, "/c");
}

TEST_F(DetectFileResultSqlTest, ListingAndStoringOnTwoThreadsNeverMixTheirValues) {
    // Each stored result's hit text repeats its path: a listing that read a value of another
    // row (or a half-written result) would show it. Trace lines off: they would pace the race.
    CAppLog::Get().InitWith(dir_.Path() + "/", "results", false, std::int64_t{64} << 20);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 100; ++i) {
            const std::string path = "/p/" + std::to_string(i);
            results_.StoreDetectFileResult(
                MakeResult("2024010100" + std::to_string(1000 + i), path, {{"c", path}}));
        }
        done = true;
    });
    int listings = 0;
    bool mixed = false;
    while (!done || listings == 0) {
        std::vector<CDetectFileResult> listed;
        results_.ListDetectFileResults(-1, listed);
        for (const auto& result : listed) {
            if (result.details.size() != 1 || result.details[0].hitText != result.filePath)
                mixed = true;
        }
        std::string id, name, path, time;
        while (results_.GetDetectFileResult(&id, &name, &path, &time) == 0) {
            if (id != time + "_" + path) mixed = true;
        }
        ++listings;
    }
    writer.join();
    EXPECT_FALSE(mixed);
    EXPECT_EQ(Listing().size(), 100u);
}

TEST_F(DetectFileResultSqlTest, AReadingConnectionSeesStoredResultsAndCannotWrite) {
    results_.StoreDetectFileResult(MakeResult("20240101000000", "/a", {{"x", "1"}}));
    CDetectFileResultSQLUtility reader(path_, SqlOpenMode::kReadOnly);
    ASSERT_EQ(reader.Initialize(), 0);
    std::vector<CDetectFileResult> listed;
    reader.ListDetectFileResults(10, listed);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(HitsOf(listed[0]), (Hits{{"x", "1"}}));
    EXPECT_EQ(ThrownCode([&] { reader.AddDetectFileResult("b", "/b", "20240101000001"); }), 0);

    // A reading object creates nothing where there is no database.
    const std::string missing = dir_.Sub("missing.db");
    CDetectFileResultSQLUtility none(missing, SqlOpenMode::kReadOnly);
    EXPECT_NE(none.Initialize(), 0);
    EXPECT_NE(access(missing.c_str(), F_OK), 0);
}

}  // namespace
}  // namespace tessarine
