#include "infra/sqlite_schema.h"

#include <mutex>

namespace tessarine {

int CreateSchema(CSQLiteHelper& connection, std::span<const SchemaStatement> schema) {
    for (const auto& statement : schema) {
        if (connection.ExecuteStatement(statement.sql) != kSqlOk) {
            LOG_ERROR(statement.failureMessage);
            return 1;
        }
    }
    return 0;
}

int InitializeDatabaseObject(CSQLiteHelper& connection, const std::function<int()>& createTable,
                             const std::function<int()>& prepareStatements) {
    std::lock_guard<std::recursive_mutex> lock(connection.StatementLock());
    if (!connection.IsReadOnly() && createTable() != 0) {
        LOG_ERROR("Create Table Error");
        return 1;
    }
    if (prepareStatements() != 0) {
        LOG_ERROR("Prepare Backup Statemants Error");
        return 1;
    }
    return 0;
}

}  // namespace tessarine
