// One connection to an SQLite database file, the thin layer between a database object and
// SQLite: nestable transactions, prepared statements, bindings and column reads, serialised by
// the connection's own lock. A database object has one (it does not derive from it). SQLite
// failures never throw; every operation returns a small result code and writes an error line.
#pragma once

#include <sqlite3.h>

#include <array>
#include <ctime>
#include <mutex>
#include <string>

namespace tessarine {

// Result codes of the CSQLiteHelper operations.
inline constexpr int kSqlOk = 0;             // success
inline constexpr int kSqlNullArgument = 1;   // SQL text, text value or output missing
inline constexpr int kSqlNoConnection = 2;   // the database could not be opened
inline constexpr int kSqlNoStatement = 3;    // the statement handle is null
inline constexpr int kSqlError = 4;          // SQLite failed, or a transaction step failed
inline constexpr int kSqlRowAvailable = 5;   // GetRow: a result row is available
inline constexpr int kSqlStatementDone = 6;  // GetRow: the statement has run to completion

// Busy time-out of every connection, in milliseconds.
inline constexpr int kSqlBusyTimeoutMs = 3000;

// How a connection opens its file. A reading connection never creates the file nor changes
// how it is kept (journal mode, page size): it can look at the database of a running program.
enum class SqlOpenMode { kReadWrite, kReadOnly };

class CSQLiteHelper {
public:
    // Opens a database file (the application hands down its data folder's "<title>.db").
    explicit CSQLiteHelper(const std::string& databasePath,
                           SqlOpenMode mode = SqlOpenMode::kReadWrite);
    // Closes the connection; statements must have been finalized before.
    ~CSQLiteHelper();
    CSQLiteHelper(const CSQLiteHelper&) = delete;
    CSQLiteHelper& operator=(const CSQLiteHelper&) = delete;

    // The lock that serialises statement work on this connection (other connections have their
    // own). Every operation takes it; hold it across several calls to make them one step for
    // other threads. Recursive: ExecuteStatement takes it again in GetRow.
    std::recursive_mutex& StatementLock() const { return mutex_; }

    const std::string& DatabasePath() const { return databasePath_; }
    // Makes every later commit of this connection reach the disk before it returns
    // (synchronous=FULL); the other connections to the file keep their cheaper commits, whose
    // rows reach the disk at the next checkpoint. For data whose only other copy is deleted
    // once it is stored. 0, or kSqlError (logged).
    int MakeCommitsDurable();
    bool IsReadOnly() const { return mode_ == SqlOpenMode::kReadOnly; }
    bool IsOpen() const { return connection_ != nullptr; }
    // True while the connection has an open transaction.
    bool IsInTransaction() const;
    // Open transaction levels: 0 none, 1 a transaction, 2 and more savepoints inside it.
    int TransactionDepth() const;
    // Statements prepared on the connection and not yet finalized, besides its own transaction
    // statements.
    int OpenStatementCount() const;

    // Transactions nest: outside a transaction these run "BEGIN TRANSACTION;",
    // "COMMIT TRANSACTION;" and "ROLLBACK TRANSACTION;"; inside one, Begin opens a savepoint,
    // Commit releases it into the enclosing level and Rollback undoes the savepoint's work only.
    int BeginTransaction();
    int CommitTransaction();
    int RollbackTransaction();

    // Runs a complete SQL text (one or more statements) inside its own transaction (a savepoint
    // when the caller has one open).
    int ExecuteStatement(const char* sql);
    // Steps a prepared, bound statement once, in its own transaction (or savepoint) when asked.
    // Whether the step produced a row is not reported (both give 0): read the columns or call
    // GetRow again.
    int ExecuteStatement(sqlite3_stmt* statement, bool useTransaction);

    // A new statement owned by the caller; null on failure.
    sqlite3_stmt* PrepareStatement(const char* sql);
    // Resets the statement and clears its bindings.
    int ResetStatement(sqlite3_stmt* statement);
    // Finalizes the statement; a null handle gives 0.
    int FinalizeStatement(sqlite3_stmt* statement);
    // One step: 5 for a row, 6 when done, 3 for a null handle, 4 for an SQLite failure.
    int GetRow(sqlite3_stmt* statement);

    // Parameter indexes count from 1. Text is copied by SQLite, so the caller's buffer may go
    // away at once.
    int BindParameter(sqlite3_stmt* statement, int index, int value);
    int BindParameter(sqlite3_stmt* statement, int index, const char* text);
    int BindStringParameter(sqlite3_stmt* statement, int index, const std::string& text);

    // Integer value of column 0; 3 for a null handle (indistinguishable from a value of 3).
    int GetColumn(sqlite3_stmt* statement);
    // Whole text of a column (from 0); a NULL column gives "" and 0.
    int GetColumn(sqlite3_stmt* statement, int index, std::string* text);
    // As GetColumn, logging a failure; `text` is unchanged on failure.
    int GetColumnByString(sqlite3_stmt* statement, int index, std::string& text);
    // A 14-digit local time stamp ("%Y%m%d%H%M%S") of a column. Text that is not a valid date
    // and time gives 4 and an error line; `when` is unchanged on failure.
    int GetColumnByTime(sqlite3_stmt* statement, int index, std::time_t& when);

private:
    enum TransactionStep {
        kBegin,
        kCommit,
        kRollback,
        kSavepoint,
        kRelease,
        kRollbackTo,
        kTransactionStepCount
    };

    void Open();
    void OpenForReading();
    int RunTransactionStep(TransactionStep step);
    // Forgets levels that SQLite has ended on its own (a failed commit, an error that rolls the
    // whole transaction back).
    void SyncTransactionDepth() const;

    std::string databasePath_;
    SqlOpenMode mode_;
    sqlite3* connection_ = nullptr;
    mutable std::recursive_mutex mutex_;
    mutable int transactionDepth_ = 0;
    // The transaction and savepoint statements, prepared on first use: a backup run commits
    // every row on its own, and parsing these each time costs a tenth of the row.
    std::array<sqlite3_stmt*, kTransactionStepCount> transactionStatements_{};
};

// Resets a statement and clears its bindings on entry (for a fresh use) and again on exit, so an
// operation binds afresh and never leaves a statement bound or a read open. Holds the
// connection's lock for its lifetime, which makes the whole reset-bind-step-read sequence one
// step for other threads. Keep() leaves the statement as it is at exit (a listing continued by
// later calls).
class CStatementUse {
public:
    enum class Start { kFresh, kContinue };
    CStatementUse(CSQLiteHelper& helper, sqlite3_stmt* statement, Start start = Start::kFresh);
    ~CStatementUse();
    CStatementUse(const CStatementUse&) = delete;
    CStatementUse& operator=(const CStatementUse&) = delete;

    sqlite3_stmt* Get() const { return statement_; }
    void Keep() { keep_ = true; }

private:
    std::lock_guard<std::recursive_mutex> lock_;
    CSQLiteHelper& helper_;
    sqlite3_stmt* statement_;
    bool keep_ = false;
};

// Begins a transaction (a savepoint inside an open one) on construction and rolls it back at
// scope end unless Commit() succeeded, holding the connection's lock throughout. A level that
// could not begin is never rolled back (that would undo work of the level the caller had open).
// A database object hands one out so that a caller can batch rows: each write inside it is a
// savepoint of its own, and the batch commits or rolls back as a whole.
class CTransactionGuard {
public:
    explicit CTransactionGuard(CSQLiteHelper& helper);
    ~CTransactionGuard();
    CTransactionGuard(const CTransactionGuard&) = delete;
    CTransactionGuard& operator=(const CTransactionGuard&) = delete;

    // The result of BeginTransaction.
    int BeginCode() const { return beginCode_; }
    // The result of CommitTransaction; a failed commit is rolled back at scope end.
    int Commit();

private:
    std::lock_guard<std::recursive_mutex> lock_;
    CSQLiteHelper& helper_;
    int beginCode_;
    int level_ = 0;  // the depth this guard opened
    bool open_;
};

}  // namespace tessarine
