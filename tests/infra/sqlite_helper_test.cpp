#include "infra/sqlite_helper.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "base/app_log.h"
#include "base/time_utility.h"
#include "fakes/test_support.h"
#include "infra/sqlite_statement_table.h"

namespace tessarine {
namespace {

using testing::ReadFile;
using testing::TempDir;

// A text of at least `bytes` bytes made of three-byte characters, so any cut by byte count would
// split a UTF-8 sequence.
std::string LongJapaneseText(std::size_t bytes) {
    std::string text;
    while (text.size() < bytes) text += "日本語の長いパス名";
    return text;
}

class SqliteHelperTest : public ::testing::Test {
protected:
    void SetUp() override {
        CAppLog::Get().InitWith(dir_.Path() + "/", "test", false, 1 << 20);
        ASSERT_TRUE(helper_.IsOpen());
        ASSERT_EQ(helper_.ExecuteStatement("CREATE TABLE T (K INTEGER, V TEXT);"), kSqlOk);
    }
    void TearDown() override {
        for (auto* statement : statements_) helper_.FinalizeStatement(statement);
        CAppLog::Get().Reset();
    }

    sqlite3_stmt* Prepare(const char* sql) {
        sqlite3_stmt* statement = helper_.PrepareStatement(sql);
        if (statement != nullptr) statements_.push_back(statement);
        return statement;
    }
    int CountRows() {
        sqlite3_stmt* count = Prepare("SELECT COUNT(*) FROM T;");
        helper_.ExecuteStatement(count, false);
        const int rows = helper_.GetColumn(count);
        helper_.ResetStatement(count);
        return rows;
    }
    std::string Log() { return ReadFile(dir_.Path() + "/test.log"); }
    std::vector<std::string> Values() {
        std::vector<std::string> values;
        sqlite3_stmt* select = Prepare("SELECT V FROM T ORDER BY K;");
        std::string value;
        while (helper_.GetRow(select) == kSqlRowAvailable) {
            helper_.GetColumn(select, 0, &value);
            values.push_back(value);
        }
        helper_.ResetStatement(select);
        return values;
    }
    void Insert(int key, const std::string& value) {
        sqlite3_stmt* insert = Prepare("INSERT INTO T (K, V) VALUES (?, ?);");
        helper_.BindParameter(insert, 1, key);
        helper_.BindStringParameter(insert, 2, value);
        ASSERT_EQ(helper_.ExecuteStatement(insert, false), kSqlOk);
        helper_.ResetStatement(insert);
    }

    TempDir dir_;
    CSQLiteHelper helper_{dir_.Sub("helper.db")};
    std::vector<sqlite3_stmt*> statements_;
};

TEST_F(SqliteHelperTest, CreatesOwnerOnlyFileInWalModeWithNormalSync) {
    struct stat info {};
    ASSERT_EQ(stat(helper_.DatabasePath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    // The WAL file takes the database file's mode.
    ASSERT_EQ(stat((helper_.DatabasePath() + "-wal").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    std::string mode;
    sqlite3_stmt* journal = Prepare("PRAGMA journal_mode;");
    ASSERT_EQ(helper_.GetRow(journal), kSqlRowAvailable);
    ASSERT_EQ(helper_.GetColumn(journal, 0, &mode), kSqlOk);
    EXPECT_EQ(mode, "wal");
    sqlite3_stmt* synchronous = Prepare("PRAGMA synchronous;");
    ASSERT_EQ(helper_.GetRow(synchronous), kSqlRowAvailable);
    EXPECT_EQ(helper_.GetColumn(synchronous), 1);  // NORMAL
    sqlite3_stmt* checkpoint = Prepare("PRAGMA wal_autocheckpoint;");
    ASSERT_EQ(helper_.GetRow(checkpoint), kSqlRowAvailable);
    EXPECT_EQ(helper_.GetColumn(checkpoint), 16000);
    sqlite3_stmt* pageSize = Prepare("PRAGMA page_size;");
    ASSERT_EQ(helper_.GetRow(pageSize), kSqlRowAvailable);
    EXPECT_EQ(helper_.GetColumn(pageSize), 1024);  // small pages keep per-row commits small
}

TEST(SqliteHelperOpenTest, FailedOpenKeepsNullConnectionAndReportsCodes) {
    TempDir dir;
    CAppLog::Get().InitWith(dir.Path() + "/", "test", false, 1 << 20);
    CSQLiteHelper helper(dir.Sub("missing-folder/file.db"));
    EXPECT_FALSE(helper.IsOpen());
    EXPECT_EQ(helper.ExecuteStatement("SELECT 1;"), kSqlNoConnection);
    EXPECT_EQ(helper.PrepareStatement("SELECT 1;"), nullptr);
    EXPECT_EQ(helper.BeginTransaction(), kSqlNoConnection);
    // Its own transaction cannot begin, which counts as a failure of the step.
    EXPECT_EQ(helper.ExecuteStatement(nullptr, true), kSqlError);
    EXPECT_FALSE(helper.IsInTransaction());
    const std::string log = ReadFile(dir.Path() + "/test.log");
    EXPECT_NE(log.find("CSQLiteHelper::Open Open DataBase Error. "), std::string::npos) << log;
    EXPECT_NE(log.find("DataBase Handle is NULL"), std::string::npos);
    CAppLog::Get().Reset();
}

TEST_F(SqliteHelperTest, NullArgumentsGiveTheirCodes) {
    sqlite3_stmt* statement = Prepare("SELECT ?;");
    std::string text = "unchanged";
    std::time_t when = 42;
    struct Case {
        const char* name;
        std::function<int()> call;
        int expected;
    };
    const Case cases[] = {
        {"sql text", [&] { return helper_.ExecuteStatement(static_cast<const char*>(nullptr)); },
         kSqlNullArgument},
        {"bind int, no statement", [&] { return helper_.BindParameter(nullptr, 1, 5); },
         kSqlNullArgument},
        {"bind text, no text",
         [&] { return helper_.BindParameter(statement, 1, static_cast<const char*>(nullptr)); },
         kSqlNullArgument},
        {"bind text, no statement", [&] { return helper_.BindParameter(nullptr, 1, "x"); },
         kSqlNoStatement},
        {"bind string, no statement", [&] { return helper_.BindStringParameter(nullptr, 1, "x"); },
         kSqlNoStatement},
        {"step", [&] { return helper_.GetRow(nullptr); }, kSqlNoStatement},
        {"step in transaction", [&] { return helper_.ExecuteStatement(nullptr, true); }, kSqlError},
        {"step without transaction", [&] { return helper_.ExecuteStatement(nullptr, false); },
         kSqlNoStatement},
        {"reset", [&] { return helper_.ResetStatement(nullptr); }, kSqlNoStatement},
        {"finalize", [&] { return helper_.FinalizeStatement(nullptr); }, kSqlOk},
        {"integer column", [&] { return helper_.GetColumn(nullptr); }, kSqlNoStatement},
        {"text column, no output", [&] { return helper_.GetColumn(statement, 0, nullptr); },
         kSqlNullArgument},
        {"text column, no statement", [&] { return helper_.GetColumn(nullptr, 0, &text); },
         kSqlNoStatement},
        {"string column", [&] { return helper_.GetColumnByString(nullptr, 0, text); },
         kSqlNoStatement},
        {"time column", [&] { return helper_.GetColumnByTime(nullptr, 0, when); }, kSqlNoStatement},
    };
    for (const auto& c : cases) EXPECT_EQ(c.call(), c.expected) << c.name;
    EXPECT_EQ(text, "unchanged");
    EXPECT_EQ(when, 42);
    EXPECT_FALSE(helper_.IsInTransaction());
}

TEST_F(SqliteHelperTest, TextRoundTripsWholeWithoutCut) {
    const std::string cases[] = {
        "C:/ユーザー/文書/報告書.txt",
        LongJapaneseText(2000),
        std::string(1023, 'a') + "日",  // a multi-byte character across the old 1023-byte cut
        "",
    };
    sqlite3_stmt* insert = Prepare("INSERT INTO T (K, V) VALUES (?, ?);");
    sqlite3_stmt* select = Prepare("SELECT V FROM T WHERE K = ?;");
    for (int i = 0; i < static_cast<int>(std::size(cases)); ++i) {
        helper_.ResetStatement(insert);
        ASSERT_EQ(helper_.BindParameter(insert, 1, i), kSqlOk);
        ASSERT_EQ(helper_.BindStringParameter(insert, 2, cases[i]), kSqlOk);
        ASSERT_EQ(helper_.ExecuteStatement(insert, true), kSqlOk);

        helper_.ResetStatement(select);
        ASSERT_EQ(helper_.BindParameter(select, 1, i), kSqlOk);
        ASSERT_EQ(helper_.ExecuteStatement(select, false), kSqlOk);
        std::string value = "stale";
        ASSERT_EQ(helper_.GetColumnByString(select, 0, value), kSqlOk);
        EXPECT_EQ(value, cases[i]) << "case " << i;
    }
}

TEST_F(SqliteHelperTest, NullColumnReadsAsEmptyText) {
    ASSERT_EQ(helper_.ExecuteStatement("INSERT INTO T (K, V) VALUES (1, NULL);"), kSqlOk);
    sqlite3_stmt* select = Prepare("SELECT V FROM T;");
    ASSERT_EQ(helper_.GetRow(select), kSqlRowAvailable);
    std::string value = "stale";
    EXPECT_EQ(helper_.GetColumn(select, 0, &value), kSqlOk);
    EXPECT_EQ(value, "");
    value = "stale";
    EXPECT_EQ(helper_.GetColumnByString(select, 0, value), kSqlOk);
    EXPECT_EQ(value, "");
}

TEST_F(SqliteHelperTest, BoundTextIsCopiedAtBindTime) {
    sqlite3_stmt* insert = Prepare("INSERT INTO T (K, V) VALUES (1, ?);");
    {
        std::string path = LongJapaneseText(300);
        ASSERT_EQ(helper_.BindStringParameter(insert, 1, path), kSqlOk);
        path.assign(path.size(), 'x');  // the caller's buffer changes, then goes away
    }
    const std::string source = LongJapaneseText(100);
    std::vector<char> text(source.begin(), source.end());
    text.push_back('\0');
    sqlite3_stmt* second = Prepare("INSERT INTO T (K, V) VALUES (2, ?);");
    ASSERT_EQ(helper_.BindParameter(second, 1, text.data()), kSqlOk);
    text.assign(text.size(), '\0');

    ASSERT_EQ(helper_.ExecuteStatement(insert, true), kSqlOk);
    ASSERT_EQ(helper_.ExecuteStatement(second, true), kSqlOk);
    sqlite3_stmt* select = Prepare("SELECT V FROM T ORDER BY K;");
    std::string value;
    ASSERT_EQ(helper_.GetRow(select), kSqlRowAvailable);
    ASSERT_EQ(helper_.GetColumn(select, 0, &value), kSqlOk);
    EXPECT_EQ(value, LongJapaneseText(300));
    ASSERT_EQ(helper_.GetRow(select), kSqlRowAvailable);
    ASSERT_EQ(helper_.GetColumn(select, 0, &value), kSqlOk);
    EXPECT_EQ(value, LongJapaneseText(100));
}

TEST_F(SqliteHelperTest, TimeColumnParsesValidStampsAndRejectsOthers) {
    std::time_t newYearsEve = 0;
    ASSERT_TRUE(MakeLocalTime(2017, 12, 31, 23, 59, 59, newYearsEve));
    struct Case {
        const char* text;  // nullptr for a NULL column
        int expectedCode;
    };
    const Case cases[] = {
        {"20171231235959", kSqlOk},    {"", kSqlError},
        {nullptr, kSqlError},          {"20171301000000", kSqlError},
        {"20171231246000", kSqlError}, {"not a time", kSqlError},
    };
    sqlite3_stmt* select = Prepare("SELECT ?;");
    for (const auto& c : cases) {
        helper_.ResetStatement(select);
        if (c.text != nullptr) {
            ASSERT_EQ(helper_.BindParameter(select, 1, c.text), kSqlOk);
        }
        ASSERT_EQ(helper_.GetRow(select), kSqlRowAvailable);
        std::time_t when = 7;
        EXPECT_EQ(helper_.GetColumnByTime(select, 0, when), c.expectedCode)
            << (c.text ? c.text : "NULL");
        EXPECT_EQ(when, c.expectedCode == kSqlOk ? newYearsEve : 7);
    }
    EXPECT_NE(Log().find("CSQLiteHelper::GetColumnByTime Get Column By Time Error. Code:4"),
              std::string::npos);
}

TEST_F(SqliteHelperTest, StepWithoutTransactionReportsZeroForRowAndForDone) {
    sqlite3_stmt* empty = Prepare("SELECT V FROM T;");
    EXPECT_EQ(helper_.ExecuteStatement(empty, false), kSqlOk);
    EXPECT_EQ(helper_.GetRow(empty), kSqlStatementDone);

    ASSERT_EQ(helper_.ExecuteStatement("INSERT INTO T VALUES (1, 'a'), (2, 'b');"), kSqlOk);
    sqlite3_stmt* count = Prepare("SELECT COUNT(*) FROM T;");
    EXPECT_EQ(helper_.ExecuteStatement(count, true), kSqlOk);
    // The row stays readable after the statement's own commit.
    EXPECT_EQ(helper_.GetColumn(count), 2);
    EXPECT_FALSE(helper_.IsInTransaction());
}

TEST_F(SqliteHelperTest, FailingSqlTextRollsBackEverything) {
    EXPECT_EQ(
        helper_.ExecuteStatement("INSERT INTO T VALUES (1, 'a'); INSERT INTO MISSING VALUES (1);"),
        kSqlError);
    EXPECT_EQ(CountRows(), 0);
    EXPECT_FALSE(helper_.IsInTransaction());
    EXPECT_NE(Log().find("Execute Statement Error. no such table: MISSING"), std::string::npos);
}

TEST_F(SqliteHelperTest, FailingStepRollsBackItsOwnTransaction) {
    ASSERT_EQ(helper_.ExecuteStatement("CREATE UNIQUE INDEX UNIQUE_K ON T(K);"), kSqlOk);
    sqlite3_stmt* insert = Prepare("INSERT INTO T (K, V) VALUES (1, ?);");
    ASSERT_EQ(helper_.BindParameter(insert, 1, "first"), kSqlOk);
    ASSERT_EQ(helper_.ExecuteStatement(insert, true), kSqlOk);
    helper_.ResetStatement(insert);
    ASSERT_EQ(helper_.BindParameter(insert, 1, "second"), kSqlOk);
    EXPECT_EQ(helper_.ExecuteStatement(insert, true), kSqlError);
    EXPECT_FALSE(helper_.IsInTransaction());
    EXPECT_EQ(CountRows(), 1);
    EXPECT_NE(Log().find("Get Row Error. Code:19"), std::string::npos);
}

TEST_F(SqliteHelperTest, OwnTransactionInsideCallersTransactionIsASavepoint) {
    ASSERT_EQ(helper_.ExecuteStatement("CREATE UNIQUE INDEX UNIQUE_K ON T(K);"), kSqlOk);
    ASSERT_EQ(helper_.BeginTransaction(), kSqlOk);
    ASSERT_EQ(helper_.ExecuteStatement("INSERT INTO T VALUES (1, 'caller');"), kSqlOk);
    sqlite3_stmt* insert = Prepare("INSERT INTO T (K, V) VALUES (?, 'row');");
    ASSERT_EQ(helper_.BindParameter(insert, 1, 2), kSqlOk);
    EXPECT_EQ(helper_.ExecuteStatement(insert, true), kSqlOk);
    // A failing row undoes only itself: the caller's work and the earlier row stay.
    helper_.ResetStatement(insert);
    ASSERT_EQ(helper_.BindParameter(insert, 1, 1), kSqlOk);
    EXPECT_EQ(helper_.ExecuteStatement(insert, true), kSqlError);
    EXPECT_EQ(
        helper_.ExecuteStatement("INSERT INTO T VALUES (3, 'x'); INSERT INTO MISSING VALUES (1);"),
        kSqlError);
    EXPECT_EQ(helper_.TransactionDepth(), 1);
    EXPECT_EQ(CountRows(), 2);
    EXPECT_EQ(helper_.CommitTransaction(), kSqlOk);
    EXPECT_EQ(helper_.TransactionDepth(), 0);
    EXPECT_EQ(Values(), (std::vector<std::string>{"caller", "row"}));
}

TEST_F(SqliteHelperTest, NestedLevelsCommitAndRollBackOnlyTheirOwnWork) {
    // Begin '(', commit ')', roll back 'x', insert a letter; the rows left after the outermost
    // level ends.
    struct Case {
        const char* steps;
        std::vector<std::string> rows;
    };
    const Case cases[] = {
        {"(a(b)c)", {"a", "b", "c"}}, {"(a(bx c)", {"a", "c"}}, {"(a(b(c)x d)", {"a", "d"}},
        {"(a(b(cxx)", {"a"}},         {"(a(b)c x", {}},         {"(a(b(c)))", {"a", "b", "c"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.steps);
        ASSERT_EQ(helper_.ExecuteStatement("DELETE FROM T;"), kSqlOk);
        int depth = 0;
        int key = 0;
        for (const char* step = c.steps; *step != '\0'; ++step) {
            switch (*step) {
                case '(':
                    ASSERT_EQ(helper_.BeginTransaction(), kSqlOk);
                    ++depth;
                    break;
                case ')':
                    ASSERT_EQ(helper_.CommitTransaction(), kSqlOk);
                    --depth;
                    break;
                case 'x':
                    ASSERT_EQ(helper_.RollbackTransaction(), kSqlOk);
                    --depth;
                    break;
                case ' ':
                    break;
                default:
                    Insert(++key, std::string(1, *step));
            }
            EXPECT_EQ(helper_.TransactionDepth(), depth);
        }
        EXPECT_FALSE(helper_.IsInTransaction());
        EXPECT_EQ(Values(), c.rows);
    }
    // Without an open level, commit and rollback fail as SQLite's plain statements do.
    EXPECT_EQ(helper_.CommitTransaction(), kSqlError);
    EXPECT_EQ(helper_.RollbackTransaction(), kSqlError);
    EXPECT_EQ(helper_.TransactionDepth(), 0);
}

TEST_F(SqliteHelperTest, GuardInsideAnOpenTransactionRollsBackItsSavepointOnly) {
    ASSERT_EQ(helper_.BeginTransaction(), kSqlOk);
    Insert(1, "outer");
    {
        CTransactionGuard inner(helper_);
        ASSERT_EQ(inner.BeginCode(), kSqlOk);
        Insert(2, "inner");
        // A level opened inside the guard and left open goes with it.
        ASSERT_EQ(helper_.BeginTransaction(), kSqlOk);
        Insert(3, "left open");
        EXPECT_EQ(helper_.TransactionDepth(), 3);
    }
    EXPECT_EQ(helper_.TransactionDepth(), 1);
    ASSERT_EQ(helper_.CommitTransaction(), kSqlOk);
    EXPECT_EQ(Values(), std::vector<std::string>{"outer"});
}

TEST_F(SqliteHelperTest, TransactionGuardRollsBackUnlessCommitted) {
    sqlite3_stmt* insert = Prepare("INSERT INTO T (K, V) VALUES (1, 'x');");
    {
        CTransactionGuard transaction(helper_);
        ASSERT_EQ(transaction.BeginCode(), kSqlOk);
        ASSERT_EQ(helper_.ExecuteStatement(insert, false), kSqlOk);
    }
    EXPECT_FALSE(helper_.IsInTransaction());
    EXPECT_EQ(CountRows(), 0);
    {
        CTransactionGuard transaction(helper_);
        helper_.ResetStatement(insert);
        ASSERT_EQ(helper_.ExecuteStatement(insert, false), kSqlOk);
        EXPECT_EQ(transaction.Commit(), kSqlOk);
    }
    EXPECT_EQ(CountRows(), 1);
}

TEST_F(SqliteHelperTest, StatementUseLeavesNoReadOpen) {
    ASSERT_EQ(helper_.ExecuteStatement("INSERT INTO T VALUES (1, 'a'), (2, 'b');"), kSqlOk);
    sqlite3_stmt* select = Prepare("SELECT V FROM T WHERE K >= ?;");
    {
        CStatementUse use(helper_, select);
        ASSERT_EQ(helper_.BindParameter(use.Get(), 1, 1), kSqlOk);
        ASSERT_EQ(helper_.GetRow(use.Get()), kSqlRowAvailable);
        EXPECT_TRUE(sqlite3_stmt_busy(select));
    }
    EXPECT_FALSE(sqlite3_stmt_busy(select));
    // Bindings are cleared: the parameter is NULL again, which matches nothing.
    EXPECT_EQ(helper_.GetRow(select), kSqlStatementDone);
}

TEST_F(SqliteHelperTest, StatementTablePreparesByKeyAllOrNothing) {
    enum class Id : std::size_t { kFirst, kSecond, kCount };
    using Table = CStatementTable<Id, 2>;
    constexpr Table::Definitions kGood = {{{Id::kFirst, "SELECT 1;"}, {Id::kSecond, "SELECT 2;"}}};
    static_assert(IsInKeyOrder(kGood));
    static_assert(
        !IsInKeyOrder(Table::Definitions{{{Id::kSecond, "SELECT 2;"}, {Id::kFirst, "SELECT 1;"}}}));
    static_assert(
        !IsInKeyOrder(Table::Definitions{{{Id::kFirst, "SELECT 1;"}, {Id::kSecond, ""}}}));
    {
        Table table(helper_);
        EXPECT_FALSE(table.IsPrepared());
        ASSERT_EQ(table.PrepareAll(kGood), 2u);
        ASSERT_EQ(helper_.GetRow(table[Id::kSecond]), kSqlRowAvailable);
        EXPECT_EQ(helper_.GetColumn(table[Id::kSecond]), 2);
        helper_.ResetStatement(table[Id::kSecond]);
        // Preparing again replaces the handles and finalizes the old ones.
        ASSERT_EQ(table.PrepareAll(kGood), 2u);
        EXPECT_EQ(helper_.OpenStatementCount(), 2);
        // A failure names the statement and keeps the earlier handles.
        EXPECT_EQ(table.PrepareAll({{{Id::kFirst, "SELECT 3;"}, {Id::kSecond, "SELEC 4;"}}}), 1u);
        EXPECT_EQ(table.PrepareAll({{{Id::kSecond, "SELECT 3;"}, {Id::kFirst, "SELECT 4;"}}}), 0u);
        EXPECT_EQ(helper_.OpenStatementCount(), 2);
        ASSERT_EQ(helper_.GetRow(table[Id::kFirst]), kSqlRowAvailable);
        EXPECT_EQ(helper_.GetColumn(table[Id::kFirst]), 1);
        EXPECT_TRUE(table.IsPrepared());
    }
    EXPECT_EQ(helper_.OpenStatementCount(), 0);
}

TEST(SqliteHelperConcurrencyTest, TwoThreadsOnTwoConnectionsDoNotDeadlock) {
    TempDir dir;
    const std::string path = dir.Sub("shared.db");
    {
        CSQLiteHelper setup(path);
        ASSERT_EQ(setup.ExecuteStatement("CREATE TABLE T (K INTEGER, V TEXT);"), kSqlOk);
    }
    constexpr int kRowsPerThread = 300;
    const auto writer = [&path](int base) {
        CSQLiteHelper helper(path);
        sqlite3_stmt* insert = helper.PrepareStatement("INSERT INTO T (K, V) VALUES (?, ?);");
        int failures = 0;
        for (int i = 0; i < kRowsPerThread; ++i) {
            CStatementUse use(helper, insert);
            // The lock is held by this thread already; every nested call takes it again.
            std::lock_guard<std::recursive_mutex> again(helper.StatementLock());
            failures += helper.BindParameter(use.Get(), 1, base + i) != kSqlOk;
            failures +=
                helper.BindStringParameter(use.Get(), 2, "値" + std::to_string(i)) != kSqlOk;
            failures += helper.ExecuteStatement(use.Get(), true) != kSqlOk;
        }
        helper.FinalizeStatement(insert);
        return failures;
    };
    auto first = std::async(std::launch::async, writer, 0);
    auto second = std::async(std::launch::async, writer, 100000);
    ASSERT_EQ(first.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    ASSERT_EQ(second.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_EQ(first.get(), 0);
    EXPECT_EQ(second.get(), 0);

    CSQLiteHelper check(path);
    sqlite3_stmt* count = check.PrepareStatement("SELECT COUNT(*) FROM T;");
    ASSERT_EQ(check.GetRow(count), kSqlRowAvailable);
    EXPECT_EQ(check.GetColumn(count), 2 * kRowsPerThread);
    check.FinalizeStatement(count);
}

TEST(SqliteHelperConcurrencyTest, TwoDatabasesDoNotSerialiseEachOther) {
    TempDir dir;
    CSQLiteHelper first(dir.Sub("first.db"));
    CSQLiteHelper second(dir.Sub("second.db"));
    ASSERT_EQ(second.ExecuteStatement("CREATE TABLE T (K INTEGER);"), kSqlOk);
    std::future<int> other;  // declared first: waited for after the lock below is released
    // This thread holds the first connection's lock, inside a transaction, throughout.
    CTransactionGuard holding(first);
    ASSERT_EQ(holding.BeginCode(), kSqlOk);
    other = std::async(std::launch::async, [&second] {
        sqlite3_stmt* insert = second.PrepareStatement("INSERT INTO T VALUES (1);");
        int result = second.ExecuteStatement(insert, true);
        if (second.FinalizeStatement(insert) != kSqlOk) result = -1;
        return result;
    });
    ASSERT_EQ(other.wait_for(std::chrono::seconds(30)), std::future_status::ready)
        << "work on the second database waited for the first one's lock";
    EXPECT_EQ(other.get(), kSqlOk);
    EXPECT_TRUE(first.IsInTransaction());
}

}  // namespace
}  // namespace tessarine
