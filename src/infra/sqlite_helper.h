// The thin layer between the program's database objects and SQLite: one connection to the
// program's database file, transactions, prepared statements, bindings and column reads. SQLite
// failures never throw; every operation returns a small result code and writes an error line.
#pragma once

#include <sqlite3.h>

#include <array>
#include <cstddef>
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

class CSQLiteHelper {
public:
    // Opens the program's database: data folder + executable title + ".db".
    CSQLiteHelper();
    // Opens another database file (tests, tools).
    explicit CSQLiteHelper(const std::string& databasePath);
    // Closes the connection; statements must have been finalized before.
    ~CSQLiteHelper();
    CSQLiteHelper(const CSQLiteHelper&) = delete;
    CSQLiteHelper& operator=(const CSQLiteHelper&) = delete;

    // GetDataFolderPath() + GetExecutableTitle() + ".db".
    static std::string DefaultDatabasePath();
    // The one recursive lock that serialises statement work of every connection in the process.
    // Hold it across several calls to make them one step for other threads.
    static std::recursive_mutex& StatementLock();

    const std::string& DatabasePath() const { return databasePath_; }
    bool IsOpen() const { return connection_ != nullptr; }
    // True while the connection has an open transaction.
    bool IsInTransaction() const;

    int BeginTransaction();     // "BEGIN TRANSACTION;"
    int CommitTransaction();    // "COMMIT TRANSACTION;"
    int RollbackTransaction();  // "ROLLBACK TRANSACTION;"

    // Runs a complete SQL text (one or more statements) inside its own transaction.
    int ExecuteStatement(const char* sql);
    // Steps a prepared, bound statement once, in its own transaction when asked. Whether the step
    // produced a row is not reported (both give 0): read the columns or call GetRow again.
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

protected:
    sqlite3* connection_ = nullptr;

private:
    enum TransactionStep { kBegin, kCommit, kRollback, kTransactionStepCount };

    void Open();
    int RunTransactionStep(TransactionStep step);

    std::string databasePath_;
    // "BEGIN", "COMMIT" and "ROLLBACK", prepared on first use: a backup run commits every row on
    // its own, and parsing these each time costs a tenth of the row.
    std::array<sqlite3_stmt*, kTransactionStepCount> transactionStatements_{};
};

// Resets a statement and clears its bindings on entry (for a fresh use) and again on exit, so an
// operation binds afresh and never leaves a statement bound or a read open. Holds the statement
// lock for its lifetime, which makes the whole reset-bind-step-read sequence one step for other
// threads. Keep() leaves the statement as it is at exit (a listing continued by later calls).
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

// Begins a transaction on construction and rolls it back at scope end unless Commit() succeeded.
// A transaction that could not begin is never rolled back (that would end a transaction the
// caller had open).
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
    bool open_;
};

// The prepared statements of one database object, indexed by the object's statement enum
// (numbered from 0 in preparation order). The table owns the handles: replacing a handle
// finalizes the old one, and the table finalizes all of them before the connection closes (it
// is a member of the object derived from CSQLiteHelper, so it dies first).
template <typename Id, std::size_t Count>
class CStatementTable {
public:
    explicit CStatementTable(CSQLiteHelper& helper) : helper_(helper) {}
    ~CStatementTable() { FinalizeAll(); }
    CStatementTable(const CStatementTable&) = delete;
    CStatementTable& operator=(const CStatementTable&) = delete;

    static constexpr std::size_t Size() { return Count; }
    sqlite3_stmt* operator[](Id id) const { return handles_[static_cast<std::size_t>(id)]; }
    sqlite3_stmt* At(std::size_t index) const { return handles_[index]; }

    // Takes ownership of `statement`, finalizing the handle it replaces.
    void Replace(std::size_t index, sqlite3_stmt* statement) {
        std::lock_guard<std::recursive_mutex> lock(CSQLiteHelper::StatementLock());
        helper_.FinalizeStatement(handles_[index]);
        handles_[index] = statement;
    }

    void FinalizeAll() {
        std::lock_guard<std::recursive_mutex> lock(CSQLiteHelper::StatementLock());
        for (auto& handle : handles_) {
            helper_.FinalizeStatement(handle);
            handle = nullptr;
        }
    }

private:
    CSQLiteHelper& helper_;
    std::array<sqlite3_stmt*, Count> handles_{};
};

}  // namespace tessarine
