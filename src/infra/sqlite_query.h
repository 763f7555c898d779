// One use of a prepared statement inside one operation of a database object. Every step (bind,
// execute, row, column) checks its result code itself: a failure writes the step's message as
// an error line under the calling operation's name and throws the operation's exception, so an
// operation reads as one line per step.
#pragma once

#include <sqlite3.h>

#include <ctime>
#include <exception>
#include <string>
#include <string_view>

#include "base/app_exception.h"
#include "base/app_log.h"
#include "base/source_location.h"
#include "infra/sqlite_helper.h"

namespace tessarine {

// Writes `message` as an error line carrying the location's line and method, as LOG_ERROR
// would there. A message that ends in "Code:" gets `result` appended.
void LogSqlStepFailure(std::string_view message, int result, const SourceLocation& where);

// Logs `message` (see LogSqlStepFailure) and throws Exception(errorCode).
template <typename Exception>
[[noreturn]] void FailSqlOperation(int errorCode, std::string_view message, int result = kSqlOk,
                                   const SourceLocation& where = SourceLocation::current()) {
    LogSqlStepFailure(message, result, where);
    throw Exception(errorCode);
}

// Throws as FailSqlOperation when a step's result code is not 0.
template <typename Exception>
void CheckSqlStep(int errorCode, int result, std::string_view message,
                  const SourceLocation& where = SourceLocation::current()) {
    if (result != kSqlOk) FailSqlOperation<Exception>(errorCode, message, result, where);
}

// Runs the body of an operation: a failure that is not already one of the program's exceptions
// (memory, a library exception) is logged and becomes Exception(errorCode).
template <typename Exception, typename Body>
auto RunSqlOperation(int errorCode, Body body) -> decltype(body()) {
    try {
        return body();
    } catch (const CAppException&) {
        throw;
    } catch (const std::exception& e) {
        LOG_ERROR("Unexpected Error. " + std::string(e.what()));
        throw Exception(errorCode);
    }
}

// A statement in use for an operation whose failures throw Exception(errorCode). Holds the
// connection's lock and resets the statement on entry and exit (CStatementUse). Messages are
// those of the operation's error lines.
template <typename Exception>
class CSqlQuery {
public:
    using Where = SourceLocation;

    CSqlQuery(CSQLiteHelper& connection, sqlite3_stmt* statement, int errorCode,
              CStatementUse::Start start = CStatementUse::Start::kFresh)
        : use_(connection, statement, start), connection_(connection), errorCode_(errorCode) {}

    sqlite3_stmt* Get() const { return use_.Get(); }
    // Leaves the statement bound (or its read open) at exit, for a later call to continue.
    void Keep() { use_.Keep(); }

    // Throws when `result` (of a step made directly on the connection) is not 0.
    void Check(int result, std::string_view message, Where where = Where::current()) const {
        CheckSqlStep<Exception>(errorCode_, result, message, where);
    }

    // Parameter indexes count from 1.
    CSqlQuery& Bind(int index, int value, std::string_view message,
                    Where where = Where::current()) {
        Check(connection_.BindParameter(Get(), index, value), message, where);
        return *this;
    }
    CSqlQuery& Bind(int index, const char* text, std::string_view message,
                    Where where = Where::current()) {
        Check(connection_.BindParameter(Get(), index, text), message, where);
        return *this;
    }
    CSqlQuery& Bind(int index, const std::string& text, std::string_view message,
                    Where where = Where::current()) {
        Check(connection_.BindStringParameter(Get(), index, text), message, where);
        return *this;
    }

    // The first step, in its own transaction (a savepoint inside an open one) when asked.
    void Execute(bool useTransaction, std::string_view message, Where where = Where::current()) {
        Check(connection_.ExecuteStatement(Get(), useTransaction), message, where);
    }

    // One step: true for a row, false when the statement is done.
    bool NextRow(std::string_view message, Where where = Where::current()) {
        const int result = connection_.GetRow(Get());
        if (result == kSqlRowAvailable) return true;
        if (result == kSqlStatementDone) return false;
        FailSqlOperation<Exception>(errorCode_, message, result, where);
    }

    // Column reads of the current row (columns from 0); the output changes only on success.
    int ReadInt() { return connection_.GetColumn(Get()); }
    void Read(int index, std::string& text, std::string_view message,
              Where where = Where::current()) {
        Check(connection_.GetColumnByString(Get(), index, text), message, where);
    }
    void Read(int index, std::time_t& when, std::string_view message,
              Where where = Where::current()) {
        Check(connection_.GetColumnByTime(Get(), index, when), message, where);
    }

private:
    CStatementUse use_;
    CSQLiteHelper& connection_;
    int errorCode_;
};

}  // namespace tessarine
