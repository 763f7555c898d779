// The detection result list read from the results database page by page, keyed by the last
// row seen: a result stored between two pages repeats no row and pushes none out.
#include "ui/result_db_source.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "detection/detect_file_result_sql_utility.h"
#include "fakes/test_support.h"
#include "ui/result_detect_model.h"

namespace tessarine::ui {
namespace {

class ResultDbSourceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, database_.Initialize()); }

    // A result of file<n> detected at second `second` of one day, with a hit.
    void Store(int n, int second) {
        char stamp[15];
        std::snprintf(stamp, sizeof stamp, "20261211%06d", second);
        const std::string path = "/data/file" + std::to_string(n) + ".txt";
        const CDetectFileResult result{CDetectFileResultSQLUtility::MakeId(stamp, path),
                                       "file" + std::to_string(n) + ".txt",
                                       path,
                                       stamp,
                                       {{"A", "hit"}}};
        ASSERT_EQ(CDetectFileResultSQLUtility::StoreOutcome::kStored,
                  database_.StoreDetectFileResult(result));
    }
    std::vector<std::string> Names(const std::vector<ResultListRow>& rows) {
        std::vector<std::string> names;
        for (const auto& row : rows) names.push_back(row.result.fileName);
        return names;
    }

    testing::TempDir dir_;
    CDetectFileResultSQLUtility database_{dir_.Sub("TessarineTool.db")};
    CDetectFileResultDbSource source_{database_};
};

TEST_F(ResultDbSourceTest, PagesFollowTheLastKeyAndCarryNoHits) {
    // file2 and file3 share a time: the later stored comes first.
    Store(1, 100);
    Store(2, 200);
    Store(3, 200);
    Store(4, 300);
    std::vector<ResultListRow> first;
    ASSERT_TRUE(source_.ReadResults(std::nullopt, 2, first));
    EXPECT_EQ((std::vector<std::string>{"file4.txt", "file3.txt"}), Names(first));
    EXPECT_TRUE(first[0].result.details.empty());

    // Stored between the pages: a newer one, one at the time of the last row seen, an older one.
    Store(5, 400);
    Store(6, 200);
    Store(7, 50);
    std::vector<ResultListRow> rest;
    ASSERT_TRUE(source_.ReadResults(first.back().key, 10, rest));
    // file6 is stored after file3 with the same time, so it sorts before file3: it belongs to
    // the part already read and appears at the next reload, like file5.
    EXPECT_EQ((std::vector<std::string>{"file2.txt", "file1.txt", "file7.txt"}), Names(rest));

    std::vector<ResultListRow> all;
    ASSERT_TRUE(source_.ReadResults(std::nullopt, 10, all));
    EXPECT_EQ((std::vector<std::string>{"file5.txt", "file4.txt", "file6.txt", "file3.txt",
                                        "file2.txt", "file1.txt", "file7.txt"}),
              Names(all));
}

// Through the list's model: the second page after a result stored meanwhile holds each stored
// row once (a list re-read by position showed the row at the page border twice).
TEST_F(ResultDbSourceTest, AResultStoredBetweenPagesGivesNoRowTwiceAndLosesNone) {
    const int count = CDetectFileResultModel::kPageSize + 30;
    for (int n = 0; n < count; ++n) Store(n, 1000 + n);
    CDetectFileResultModel model(source_, {"a", "b", "c"});
    model.Reload();
    ASSERT_EQ(CDetectFileResultModel::kPageSize, model.rowCount());
    Store(count, 5000);  // the newest, stored while the first page is on screen
    while (model.canFetchMore({})) model.fetchMore({});
    std::set<std::string> seen;
    for (int row = 0; row < model.rowCount(); ++row)
        EXPECT_TRUE(seen.insert(model.Record(row).fileName).second)
            << model.Record(row).fileName << " twice";
    EXPECT_EQ(static_cast<std::size_t>(count), seen.size());
    EXPECT_EQ("file0.txt", model.Record(model.rowCount() - 1).fileName);
}

}  // namespace
}  // namespace tessarine::ui
