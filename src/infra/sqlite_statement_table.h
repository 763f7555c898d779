// The prepared statements of one database object. Each SQL text is written beside the key it is
// reached by, and the definitions are checked against the key enum at compile time (and again at
// prepare), so a text can never drift to another key.
#pragma once

#include <sqlite3.h>

#include <array>
#include <cstddef>
#include <mutex>

#include "infra/sqlite_helper.h"

namespace tessarine {

// One statement of a database object: its key (an enum numbered from 0) and its SQL text.
template <typename Id>
struct SqlStatement {
    Id id;
    const char* sql;
};

// True when the definitions hold every key of the enum once, in key order, each with a text:
// the position of a definition is then its statement number.
template <typename Id, std::size_t Count>
constexpr bool IsInKeyOrder(const std::array<SqlStatement<Id>, Count>& definitions) {
    for (std::size_t i = 0; i < Count; ++i) {
        if (static_cast<std::size_t>(definitions[i].id) != i) return false;
        if (definitions[i].sql == nullptr || definitions[i].sql[0] == '\0') return false;
    }
    return true;
}

// The statement handles, indexed by key. The table owns them: preparing again finalizes the old
// handles, and the table finalizes all of them when it dies. Declare it after the object's
// connection, so that it dies first.
template <typename Id, std::size_t Count>
class CStatementTable {
public:
    using Definitions = std::array<SqlStatement<Id>, Count>;

    explicit CStatementTable(CSQLiteHelper& connection) : connection_(connection) {}
    ~CStatementTable() { FinalizeAll(); }
    CStatementTable(const CStatementTable&) = delete;
    CStatementTable& operator=(const CStatementTable&) = delete;

    static constexpr std::size_t Size() { return Count; }
    sqlite3_stmt* operator[](Id id) const { return handles_[static_cast<std::size_t>(id)]; }

    // Prepares every definition in key order, all or nothing: a failure keeps the handles of an
    // earlier preparation. Returns Count, or the number of the statement that failed.
    std::size_t PrepareAll(const Definitions& definitions) {
        std::lock_guard<std::recursive_mutex> lock(connection_.StatementLock());
        std::array<sqlite3_stmt*, Count> prepared{};
        for (std::size_t i = 0; i < Count; ++i) {
            if (static_cast<std::size_t>(definitions[i].id) == i) {
                prepared[i] = connection_.PrepareStatement(definitions[i].sql);
            }
            if (prepared[i] == nullptr) {
                for (auto* statement : prepared) connection_.FinalizeStatement(statement);
                return i;
            }
        }
        FinalizeAll();
        handles_ = prepared;
        return Count;
    }

    // True once PrepareAll has succeeded.
    bool IsPrepared() const {
        std::lock_guard<std::recursive_mutex> lock(connection_.StatementLock());
        for (auto* handle : handles_) {
            if (handle == nullptr) return false;
        }
        return true;
    }

    void FinalizeAll() {
        std::lock_guard<std::recursive_mutex> lock(connection_.StatementLock());
        for (auto& handle : handles_) {
            connection_.FinalizeStatement(handle);
            handle = nullptr;
        }
    }

private:
    CSQLiteHelper& connection_;
    std::array<sqlite3_stmt*, Count> handles_{};
};

}  // namespace tessarine
