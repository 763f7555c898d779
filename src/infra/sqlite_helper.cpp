#include "infra/sqlite_helper.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <exception>

#include "base/app_log.h"
#include "base/string_utility.h"
#include "base/time_utility.h"
#include "infra/sql_fault_hook.h"

namespace tessarine {

namespace {

// Pages the WAL may hold before a commit checkpoints it into the database file.
constexpr int kWalAutoCheckpointPages = 16000;

// Longest piece of a column value quoted in an error line.
constexpr std::size_t kLoggedValueLength = 64;

std::string Quoted(const std::string& value) {
    if (value.size() <= kLoggedValueLength) return "\"" + value + "\"";
    return "\"" + value.substr(0, kLoggedValueLength) + "...\"";
}

// SQLite would create a new database file with the default mode (0644 less the umask); the file
// is the user's data, so it is created owner-only first. SQLite gives its WAL and shared-memory
// files the mode of the database file.
void CreateOwnerOnlyFile(const std::string& path) {
    if (path.empty() || path == ":memory:" || path.rfind("file:", 0) == 0) return;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) ::close(fd);
}

}  // namespace

CSQLiteHelper::CSQLiteHelper(const std::string& databasePath, SqlOpenMode mode)
    : databasePath_(databasePath), mode_(mode) {
    Open();
}

CSQLiteHelper::~CSQLiteHelper() {
    LOG_METHOD();
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (connection_ == nullptr) return;
    for (auto*& statement : transactionStatements_) {
        sqlite3_finalize(statement);
        statement = nullptr;
    }
    if (sqlite3_close(connection_) != SQLITE_OK) {
        // A statement is still open; the connection closes when the last one is finalized.
        LOG_ERROR("Close DataBase Error. " + std::string(sqlite3_errmsg(connection_)));
        sqlite3_close_v2(connection_);
    }
    connection_ = nullptr;
}

void CSQLiteHelper::Open() {
    LOG_METHOD();
    LOG_TRACE("Param:" + databasePath_);
    if (mode_ == SqlOpenMode::kReadOnly) {
        OpenForReading();
        return;
    }
    CreateOwnerOnlyFile(databasePath_);

    sqlite3* connection = nullptr;
    // Multi-thread mode: the connection's lock keeps it to one thread at a time. No
    // shared cache: its table locks fail at once instead of waiting for the busy time-out, and
    // it is not meant to be combined with WAL.
    // A link planted in place of the database file is refused, not followed.
    const int flags =
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW;
    const int result = sqlite3_open_v2(databasePath_.c_str(), &connection, flags, nullptr);
    if (result != SQLITE_OK) {
        LOG_ERROR("Open DataBase Error. " + std::string(connection != nullptr
                                                            ? sqlite3_errmsg(connection)
                                                            : sqlite3_errstr(result)));
        sqlite3_close(connection);
        return;
    }
    sqlite3_busy_timeout(connection, kSqlBusyTimeoutMs);

    // WAL with synchronous=NORMAL: every row stays its own atomic transaction, without a disk
    // flush per commit. A file system without shared memory keeps the rollback journal.
    std::string journalMode;
    char* message = nullptr;
    const auto readMode = [](void* out, int columns, char** values, char**) {
        if (columns > 0 && values[0] != nullptr) *static_cast<std::string*>(out) = values[0];
        return 0;
    };
    // Every commit writes each page it touched to the WAL whole; a row of the file list touches
    // the table and five indexes, so small pages make a per-row commit write a quarter of the
    // bytes. Takes effect only for a new database file (an existing one keeps its page size).
    sqlite3_exec(connection, "PRAGMA page_size=1024;", nullptr, nullptr, nullptr);
    if (sqlite3_exec(connection, "PRAGMA journal_mode=WAL;", readMode, &journalMode, &message) !=
            SQLITE_OK ||
        journalMode != "wal") {
        LOG_NOTICE("Journal Mode WAL not available. Mode:" + journalMode + " " +
                   (message != nullptr ? message : ""));
    }
    sqlite3_free(message);
    message = nullptr;
    if (sqlite3_exec(connection, "PRAGMA synchronous=NORMAL;", nullptr, nullptr, &message) !=
        SQLITE_OK) {
        LOG_NOTICE("Synchronous NORMAL not set. " + std::string(message != nullptr ? message : ""));
    }
    sqlite3_free(message);
    message = nullptr;
    // A checkpoint flushes the WAL and the database file to disk. At SQLite's default of 1000
    // pages a backup run, which commits every row on its own (about eight pages each), would
    // flush every hundred rows; 16000 pages (16 MiB) make it every two thousand. The WAL file is
    // cut back to 32 MiB after a large change (a status update over every row) has grown it.
    sqlite3_wal_autocheckpoint(connection, kWalAutoCheckpointPages);
    if (sqlite3_exec(connection, "PRAGMA journal_size_limit=33554432;", nullptr, nullptr,
                     &message) != SQLITE_OK) {
        LOG_NOTICE("Journal Size Limit not set. " + std::string(message != nullptr ? message : ""));
    }
    sqlite3_free(message);
    message = nullptr;
    connection_ = connection;
}

void CSQLiteHelper::OpenForReading() {
    sqlite3* connection = nullptr;
    const int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW;
    const int result = sqlite3_open_v2(databasePath_.c_str(), &connection, flags, nullptr);
    if (result != SQLITE_OK) {
        LOG_ERROR("Open DataBase Error. " + std::string(connection != nullptr
                                                            ? sqlite3_errmsg(connection)
                                                            : sqlite3_errstr(result)));
        sqlite3_close(connection);
        return;
    }
    // A writer's commit holds its lock only briefly in WAL mode; without WAL (a file system
    // without shared memory) a reader may have to wait for it.
    sqlite3_busy_timeout(connection, kSqlBusyTimeoutMs);
    connection_ = connection;
}

int CSQLiteHelper::MakeCommitsDurable() {
    LOG_METHOD();
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (connection_ == nullptr) return kSqlError;
    char* message = nullptr;
    const int result =
        sqlite3_exec(connection_, "PRAGMA synchronous=FULL;", nullptr, nullptr, &message);
    if (result != SQLITE_OK)
        LOG_ERROR("Synchronous FULL not set. " + std::string(message != nullptr ? message : ""));
    sqlite3_free(message);
    return result == SQLITE_OK ? kSqlOk : kSqlError;
}

bool CSQLiteHelper::IsInTransaction() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return connection_ != nullptr && sqlite3_get_autocommit(connection_) == 0;
}

void CSQLiteHelper::SyncTransactionDepth() const {
    if (connection_ == nullptr || sqlite3_get_autocommit(connection_) != 0) transactionDepth_ = 0;
}

int CSQLiteHelper::TransactionDepth() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    SyncTransactionDepth();
    return transactionDepth_;
}

int CSQLiteHelper::OpenStatementCount() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (connection_ == nullptr) return 0;
    int count = 0;
    for (auto* s = sqlite3_next_stmt(connection_, nullptr); s != nullptr;
         s = sqlite3_next_stmt(connection_, s)) {
        if (std::find(transactionStatements_.begin(), transactionStatements_.end(), s) ==
            transactionStatements_.end())
            ++count;
    }
    return count;
}

int CSQLiteHelper::RunTransactionStep(TransactionStep step) {
    // Savepoints all carry one name: SQLite releases and rolls back to the innermost of that
    // name, and levels are opened and closed strictly inside each other.
    static constexpr const char* kSql[kTransactionStepCount] = {
        "BEGIN TRANSACTION;",      "COMMIT TRANSACTION;",   "ROLLBACK TRANSACTION;",
        "SAVEPOINT NESTED_LEVEL;", "RELEASE NESTED_LEVEL;", "ROLLBACK TO NESTED_LEVEL;"};
    static constexpr const char* kFailure[kTransactionStepCount] = {
        "Begin Transaction Error. ", "Commit Transaction Error. ", "Rollback Transaction Error. ",
        "Begin Transaction Error. ", "Commit Transaction Error. ", "Rollback Transaction Error. "};

    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (connection_ == nullptr) {
        LOG_ERROR("DataBase Handle is NULL");
        return kSqlNoConnection;
    }
    sqlite3_stmt*& statement = transactionStatements_[step];
    if (statement == nullptr &&
        sqlite3_prepare_v2(connection_, kSql[step], -1, &statement, nullptr) != SQLITE_OK) {
        LOG_ERROR(std::string(kFailure[step]) + sqlite3_errmsg(connection_));
        sqlite3_finalize(statement);
        statement = nullptr;
        return kSqlError;
    }
    const bool undoes = step == kRollback || step == kRollbackTo;
    const bool injected = !undoes && sql_fault_hook::ShouldFail();
    const int result = injected ? SQLITE_IOERR : sqlite3_step(statement);
    if (result != SQLITE_DONE) {
        const std::string message = injected ? sqlite3_errstr(result) : sqlite3_errmsg(connection_);
        sqlite3_reset(statement);
        LOG_ERROR(kFailure[step] + message);
        return kSqlError;
    }
    sqlite3_reset(statement);
    return kSqlOk;
}

int CSQLiteHelper::BeginTransaction() {
    LOG_METHOD();
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    SyncTransactionDepth();
    const int result = RunTransactionStep(transactionDepth_ == 0 ? kBegin : kSavepoint);
    if (result == kSqlOk) ++transactionDepth_;
    return result;
}

int CSQLiteHelper::CommitTransaction() {
    LOG_METHOD();
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    SyncTransactionDepth();
    // Without an open level this is a plain COMMIT, which SQLite refuses.
    const int result = RunTransactionStep(transactionDepth_ <= 1 ? kCommit : kRelease);
    if (result == kSqlOk && transactionDepth_ > 0) --transactionDepth_;
    SyncTransactionDepth();
    return result;
}

int CSQLiteHelper::RollbackTransaction() {
    LOG_METHOD();
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    SyncTransactionDepth();
    if (transactionDepth_ <= 1) {
        const int result = RunTransactionStep(kRollback);
        if (result == kSqlOk) transactionDepth_ = 0;
        SyncTransactionDepth();
        return result;
    }
    // Undo the savepoint's work, then drop the savepoint itself.
    int result = RunTransactionStep(kRollbackTo);
    if (result == kSqlOk) result = RunTransactionStep(kRelease);
    if (result == kSqlOk) --transactionDepth_;
    SyncTransactionDepth();
    return result;
}

int CSQLiteHelper::ExecuteStatement(const char* sql) {
    LOG_METHOD();
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (sql == nullptr) {
        LOG_ERROR("Parameter Error");
        return kSqlNullArgument;
    }
    LOG_TRACE("Param:" + std::string(sql));
    if (connection_ == nullptr) {
        LOG_ERROR("DataBase Handle is NULL");
        return kSqlNoConnection;
    }
    try {
        CTransactionGuard transaction(*this);
        if (transaction.BeginCode() != kSqlOk) {
            LOG_ERROR("Begin Transaction Error");
            return kSqlError;
        }
        char* message = nullptr;
        if (sql_fault_hook::ShouldFail() ||
            sqlite3_exec(connection_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
            const std::string text = message != nullptr ? message : "";
            sqlite3_free(message);
            LOG_ERROR("Execute Statement Error. " + text);
            return kSqlError;
        }
        if (transaction.Commit() != kSqlOk) {
            LOG_ERROR("Commit Transaction Error");
            return kSqlError;
        }
        return kSqlOk;
    } catch (const std::exception& e) {
        LOG_ERROR("Unexpected Error. " + std::string(e.what()));
    } catch (...) {
        LOG_ERROR("Unexpected Error.");
    }
    return kSqlError;
}

int CSQLiteHelper::ExecuteStatement(sqlite3_stmt* statement, bool useTransaction) {
    LOG_METHOD();
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!useTransaction) {
        const int result = GetRow(statement);
        return (result == kSqlRowAvailable || result == kSqlStatementDone) ? kSqlOk : result;
    }
    try {
        CTransactionGuard transaction(*this);
        if (transaction.BeginCode() != kSqlOk) {
            LOG_ERROR("Begin Transaction Error");
            return kSqlError;
        }
        const int result = GetRow(statement);
        if (result != kSqlRowAvailable && result != kSqlStatementDone) {
            LOG_ERROR("GetRow Error");
            return kSqlError;
        }
        if (transaction.Commit() != kSqlOk) {
            LOG_ERROR("Commit Transaction Error");
            return kSqlError;
        }
        return kSqlOk;
    } catch (const std::exception& e) {
        LOG_ERROR("Unexpected Error. " + std::string(e.what()));
    } catch (...) {
        LOG_ERROR("Unexpected Error.");
    }
    return kSqlError;
}

sqlite3_stmt* CSQLiteHelper::PrepareStatement(const char* sql) {
    LOG_METHOD();
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (sql == nullptr) {
        LOG_ERROR("Parameter Error");
        return nullptr;
    }
    LOG_TRACE("Param:" + std::string(sql));
    if (connection_ == nullptr) {
        LOG_ERROR("DataBase Handle is NULL");
        return nullptr;
    }
    sqlite3_stmt* statement = nullptr;
    const int result = sqlite3_prepare_v2(connection_, sql, -1, &statement, nullptr);
    if (result != SQLITE_OK) {
        LOG_ERROR("Prepare Statement Error. Code:" + IntToString(result) + " " +
                  sqlite3_errmsg(connection_));
        sqlite3_finalize(statement);
        return nullptr;
    }
    if (statement == nullptr) {
        // Only blanks or comments: nothing to run.
        LOG_ERROR("Prepare Statement Error. Code:" + IntToString(result) + " empty statement");
    }
    return statement;
}

int CSQLiteHelper::ResetStatement(sqlite3_stmt* statement) {
    LOG_METHOD();
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (statement == nullptr) {
        LOG_ERROR("Statement Handle is NULL");
        return kSqlNoStatement;
    }
    // sqlite3_reset repeats the error of a failed last step; the statement is reset all the
    // same, so its bindings are cleared in either case.
    const int resetResult = sqlite3_reset(statement);
    const int clearResult = sqlite3_clear_bindings(statement);
    if (resetResult != SQLITE_OK) {
        LOG_ERROR("Reset Statement Error. Code:" + IntToString(resetResult));
        return kSqlError;
    }
    if (clearResult != SQLITE_OK) {
        LOG_ERROR("Clear Binding Error. Code:" + IntToString(clearResult));
        return kSqlError;
    }
    return kSqlOk;
}

int CSQLiteHelper::FinalizeStatement(sqlite3_stmt* statement) {
    LOG_METHOD();
    if (statement == nullptr) return kSqlOk;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    // The result repeats the error of a failed last step; the statement is freed in any case.
    const int result = sqlite3_finalize(statement);
    if (result != SQLITE_OK) {
        LOG_ERROR("Finalize Statement Error. Code:" + IntToString(result));
        return kSqlError;
    }
    return kSqlOk;
}

int CSQLiteHelper::GetRow(sqlite3_stmt* statement) {
    LOG_METHOD();
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (statement == nullptr) {
        LOG_ERROR("Statement Handle is NULL");
        return kSqlNoStatement;
    }
    const bool injected = sql_fault_hook::ShouldFail();
    const int result = injected ? SQLITE_IOERR : sqlite3_step(statement);
    if (result == SQLITE_ROW) return kSqlRowAvailable;
    if (result == SQLITE_DONE) return kSqlStatementDone;
    LOG_ERROR("Get Row Error. Code:" + IntToString(result) + " " +
              (injected ? sqlite3_errstr(result) : sqlite3_errmsg(sqlite3_db_handle(statement))));
    return kSqlError;
}

int CSQLiteHelper::BindParameter(sqlite3_stmt* statement, int index, int value) {
    LOG_METHOD();
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    LOG_TRACE("Param:" + IntToString(index) + ", " + IntToString(value));
    if (statement == nullptr) {
        LOG_ERROR("Statement Handle is NULL");
        return kSqlNullArgument;
    }
    const int result = sqlite3_bind_int(statement, index, value);
    if (result != SQLITE_OK) {
        LOG_ERROR("Bind int parameter Error. Code:" + IntToString(result));
        return kSqlError;
    }
    return kSqlOk;
}

int CSQLiteHelper::BindParameter(sqlite3_stmt* statement, int index, const char* text) {
    LOG_METHOD();
    if (text == nullptr) {
        LOG_ERROR("Parameter Error");
        return kSqlNullArgument;
    }
    return BindStringParameter(statement, index, text);
}

int CSQLiteHelper::BindStringParameter(sqlite3_stmt* statement, int index,
                                       const std::string& text) {
    LOG_METHOD();
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    LOG_TRACE("Param:" + IntToString(index) + ", " + text);
    if (statement == nullptr) {
        LOG_ERROR("Statement Handle is NULL");
        return kSqlNoStatement;
    }
    // SQLITE_TRANSIENT: SQLite keeps its own copy, owned by the statement until it is rebound,
    // cleared or finalized.
    const int result = sqlite3_bind_text(statement, index, text.data(),
                                         static_cast<int>(text.size()), SQLITE_TRANSIENT);
    if (result != SQLITE_OK) {
        LOG_ERROR("Bind char parameter Error. Code:" + IntToString(result));
        return kSqlError;
    }
    return kSqlOk;
}

int CSQLiteHelper::GetColumn(sqlite3_stmt* statement) {
    LOG_METHOD();
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (statement == nullptr) {
        LOG_ERROR("Statement Handle is NULL");
        return kSqlNoStatement;
    }
    return sqlite3_column_int(statement, 0);
}

int CSQLiteHelper::GetColumn(sqlite3_stmt* statement, int index, std::string* text) {
    LOG_METHOD();
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (text == nullptr) {
        LOG_ERROR("Parameter Error");
        return kSqlNullArgument;
    }
    if (statement == nullptr) {
        LOG_ERROR("Statement Handle is NULL");
        return kSqlNoStatement;
    }
    const unsigned char* value = sqlite3_column_text(statement, index);
    if (value == nullptr) {
        if (sqlite3_column_type(statement, index) != SQLITE_NULL) {
            LOG_ERROR("Get Column Error. Code:" + IntToString(SQLITE_NOMEM));
            return kSqlError;
        }
        text->clear();  // NULL column
    } else {
        // The whole value by its byte count, never cut inside a UTF-8 sequence.
        text->assign(reinterpret_cast<const char*>(value),
                     static_cast<std::size_t>(sqlite3_column_bytes(statement, index)));
    }
    LOG_TRACE("value:" + *text);
    return kSqlOk;
}

int CSQLiteHelper::GetColumnByString(sqlite3_stmt* statement, int index, std::string& text) {
    LOG_METHOD();
    std::string value;
    const int result = GetColumn(statement, index, &value);
    if (result != kSqlOk) {
        LOG_ERROR("Get Column By String Error. Code:" + IntToString(result));
        return result;
    }
    text = std::move(value);
    return kSqlOk;
}

int CSQLiteHelper::GetColumnByTime(sqlite3_stmt* statement, int index, std::time_t& when) {
    LOG_METHOD();
    std::string stamp;
    const int result = GetColumn(statement, index, &stamp);
    if (result != kSqlOk) {
        LOG_ERROR("Get Column By Time Error. Code:" + IntToString(result));
        return result;
    }
    std::time_t parsed = 0;
    if (!ParseTimeStamp(stamp, parsed)) {
        LOG_ERROR("Get Column By Time Error. Code:" + IntToString(kSqlError) +
                  " Invalid time stamp:" + Quoted(stamp));
        return kSqlError;
    }
    when = parsed;
    LOG_TRACE("value:" + ToTimeStamp(when));
    return kSqlOk;
}

CStatementUse::CStatementUse(CSQLiteHelper& helper, sqlite3_stmt* statement, Start start)
    : lock_(helper.StatementLock()), helper_(helper), statement_(statement) {
    if (start == Start::kFresh && statement_ != nullptr) helper_.ResetStatement(statement_);
}

CStatementUse::~CStatementUse() {
    if (keep_ || statement_ == nullptr) return;
    // Quietly: a failed step was logged where it happened, and reset repeats its code.
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

CTransactionGuard::CTransactionGuard(CSQLiteHelper& helper)
    : lock_(helper.StatementLock()), helper_(helper) {
    beginCode_ = helper_.BeginTransaction();
    open_ = beginCode_ == kSqlOk;
    if (open_) level_ = helper_.TransactionDepth();
}

CTransactionGuard::~CTransactionGuard() {
    if (!open_) return;
    // SQLite may already have ended the level (a failed commit, a rolled back transaction); a
    // level opened inside this one and left open goes with it.
    while (helper_.TransactionDepth() >= level_) {
        if (helper_.RollbackTransaction() != kSqlOk) break;
    }
}

int CTransactionGuard::Commit() {
    const int result = helper_.CommitTransaction();
    if (result == kSqlOk) open_ = false;
    return result;
}

}  // namespace tessarine
