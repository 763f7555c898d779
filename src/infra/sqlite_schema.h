// Setting up a database object on its connection: its tables and indexes, then its prepared
// statements. Every file-list and result object does the same steps with its own texts.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>

#include "base/app_log.h"
#include "base/string_utility.h"
#include "infra/sqlite_helper.h"
#include "infra/sqlite_statement_table.h"

namespace tessarine {

// A table or index statement and the line logged when it fails.
struct SchemaStatement {
    const char* sql;
    const char* failureMessage;
};

// Runs the statements in order. 0, or 1 after logging the line of the one that failed.
int CreateSchema(CSQLiteHelper& connection, std::span<const SchemaStatement> schema);

// Prepares every statement of the table. 0, or 1 after logging the number of the one that
// failed (the table keeps its earlier handles then).
template <typename Id, std::size_t Count>
int PrepareStatementTable(CStatementTable<Id, Count>& statements,
                          const typename CStatementTable<Id, Count>::Definitions& definitions) {
    const std::size_t prepared = statements.PrepareAll(definitions);
    if (prepared != Count) {
        LOG_ERROR("Prepare Statement Error.Count:" + IntToString(static_cast<int>(prepared)));
        return 1;
    }
    return 0;
}

// Initialize of a database object, under the connection's statement lock: createTable (left out
// on a read-only connection, which may not change the file), then prepareStatements. 0 on
// success; 1 after logging which step failed.
int InitializeDatabaseObject(CSQLiteHelper& connection, const std::function<int()>& createTable,
                             const std::function<int()>& prepareStatements);

}  // namespace tessarine
