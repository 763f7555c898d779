#include "fakes/raw_database.h"

#include <utility>

namespace tessarine::testing {

RawDatabase::RawDatabase(const std::string& path, std::string tableQuery)
    : tableQuery_(std::move(tableQuery)) {
    sqlite3_open(path.c_str(), &db_);
}

RawDatabase::~RawDatabase() { sqlite3_close(db_); }

std::vector<std::string> RawDatabase::Rows(const std::string& sql) const {
    std::vector<std::string> rows;
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr);
    while (sqlite3_step(statement) == SQLITE_ROW) {
        std::string row;
        for (int i = 0; i < sqlite3_column_count(statement); ++i) {
            if (i > 0) row += "|";
            const auto* text = sqlite3_column_text(statement, i);
            row += text ? reinterpret_cast<const char*>(text) : "<null>";
        }
        rows.push_back(row);
    }
    sqlite3_finalize(statement);
    return rows;
}

bool RawDatabase::Execute(const std::string& sql) {
    return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

}  // namespace tessarine::testing
