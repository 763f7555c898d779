#include "infra/sqlite_query.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "base/app_log.h"
#include "base/string_utility.h"
#include "base/time_utility.h"
#include "fakes/test_support.h"
#include "fakes/thrown_code.h"

namespace tessarine {
namespace {

using testing::ReadFile;
using testing::TempDir;

class QueryTestException : public CAppException {
public:
    using CAppException::CAppException;
    std::string GetErrorMessage() const override { return "query test"; }
};

using Query = CSqlQuery<QueryTestException>;
constexpr int kOperationCode = 17;

constexpr auto ThrownCode = testing::ThrownCode<QueryTestException>;

class SqliteQueryTest : public ::testing::Test {
protected:
    void SetUp() override {
        CAppLog::Get().InitWith(dir_.Path() + "/", "test", false, 1 << 20);
        ASSERT_EQ(db_.ExecuteStatement("CREATE TABLE T (K INTEGER NOT NULL, V TEXT);"), kSqlOk);
        for (const char* sql : {"INSERT INTO T (K, V) VALUES (?, ?);",
                                "SELECT K, V FROM T WHERE K >= ?;", "SELECT 'not a time';"}) {
            statements_.push_back(db_.PrepareStatement(sql));
            ASSERT_NE(statements_.back(), nullptr);
        }
    }
    void TearDown() override {
        for (auto* statement : statements_) db_.FinalizeStatement(statement);
        CAppLog::Get().Reset();
    }
    std::string Log() const { return ReadFile(dir_.Path() + "/test.log"); }
    sqlite3_stmt* Insert() const { return statements_[0]; }
    sqlite3_stmt* Select() const { return statements_[1]; }
    sqlite3_stmt* BadTime() const { return statements_[2]; }

    TempDir dir_;
    CSQLiteHelper db_{dir_.Sub("query.db")};
    std::vector<sqlite3_stmt*> statements_;
};

TEST_F(SqliteQueryTest, StepsReadAsOneLineEachAndLeaveNothingBound) {
    {
        Query query(db_, Insert(), kOperationCode);
        query.Bind(1, 7, "Bind Key Error. Code:").Bind(2, std::string("値"), "Bind Value Error");
        query.Execute(true, "Insert Error. Code:");
    }
    {
        Query query(db_, Insert(), kOperationCode);
        query.Bind(1, 8, "Bind Key Error. Code:").Bind(2, "20171231235959", "Bind Value Error");
        query.Execute(true, "Insert Error. Code:");
    }
    Query query(db_, Select(), kOperationCode);
    query.Bind(1, 7, "Bind Key Error. Code:");
    ASSERT_TRUE(query.NextRow("Step Error. Code:"));
    EXPECT_EQ(query.ReadInt(), 7);
    std::string value;
    query.Read(1, value, "Read Value Error. Code:");
    EXPECT_EQ(value, "値");
    ASSERT_TRUE(query.NextRow("Step Error. Code:"));
    std::time_t when = 0;
    query.Read(1, when, "Read Time Error. Code:");
    EXPECT_EQ(ToTimeStamp(when), "20171231235959");
    EXPECT_FALSE(query.NextRow("Step Error. Code:"));
    EXPECT_EQ(Log(), "");
}

TEST_F(SqliteQueryTest, EachFailingStepLogsItsMessageAndThrowsTheOperationsCode) {
    struct Case {
        const char* name;
        std::function<void()> call;
        const char* line;  // the operation's error line
    };
    const Case cases[] = {
        {"bind int out of range",
         [&] { Query(db_, Select(), kOperationCode).Bind(5, 1, "Bind Key Error. Code:"); },
         "Bind Key Error. Code:4["},
        {"bind null text",
         [&] {
             Query(db_, Insert(), kOperationCode)
                 .Bind(2, static_cast<const char*>(nullptr), "Bind Value Error");
         },
         "Bind Value Error["},
        {"bind string out of range",
         [&] {
             Query(db_, Insert(), kOperationCode).Bind(3, std::string("x"), "Bind Error. Code:");
         },
         "Bind Error. Code:4["},
        {"execute violates a constraint",
         [&] { Query(db_, Insert(), kOperationCode).Execute(true, "Insert Error. Code:"); },
         "Insert Error. Code:4["},
        {"no statement", [&] { Query(db_, nullptr, kOperationCode).NextRow("Step Error. Code:"); },
         "Step Error. Code:3["},
        {"unreadable time",
         [&] {
             Query query(db_, BadTime(), kOperationCode);
             query.NextRow("Step Error. Code:");
             std::time_t when = 0;
             query.Read(0, when, "Read Time Error. Code:");
         },
         "Read Time Error. Code:4["},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ThrownCode(c.call), kOperationCode) << c.name;
        EXPECT_NE(
            Log().find(std::string("SqliteQueryTest_EachFailingStepLogsItsMessageAndThrowsTheOp"
                                   "erationsCode_Test::TestBody ") +
                       c.line),
            std::string::npos)
            << c.name << "\n"
            << Log();
    }
    EXPECT_FALSE(db_.IsInTransaction());
}

TEST_F(SqliteQueryTest, FailureLineCarriesTheCallersSourceLine) {
    Query query(db_, Select(), kOperationCode);
    const int line = __LINE__ + 1;
    EXPECT_EQ(ThrownCode([&] { query.Bind(9, 1, "Bind Key Error. Code:"); }), kOperationCode);
    EXPECT_NE(Log().find(Format("L[%4d] ", line)), std::string::npos) << Log();
}

TEST_F(SqliteQueryTest, OperationTurnsOtherFailuresIntoItsCode) {
    EXPECT_EQ(ThrownCode([] {
                  RunSqlOperation<QueryTestException>(
                      kOperationCode, []() -> int { throw std::runtime_error("out of memory"); });
              }),
              kOperationCode);
    EXPECT_NE(Log().find("Unexpected Error. out of memory"), std::string::npos);
    // The program's own exceptions pass through with their code.
    EXPECT_EQ(ThrownCode([] {
                  RunSqlOperation<QueryTestException>(kOperationCode,
                                                      []() -> int { throw QueryTestException(3); });
              }),
              3);
    EXPECT_EQ(RunSqlOperation<QueryTestException>(kOperationCode, [] { return 5; }), 5);
}

}  // namespace
}  // namespace tessarine
