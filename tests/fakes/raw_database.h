// A second, plain connection to a database file, to look at (or tamper with) what an object wrote
// behind its back.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

namespace tessarine::testing {

class RawDatabase {
public:
    // `tableQuery` is what Table() reads: the rows a test compares as a whole.
    explicit RawDatabase(const std::string& path, std::string tableQuery = {});
    ~RawDatabase();
    RawDatabase(const RawDatabase&) = delete;
    RawDatabase& operator=(const RawDatabase&) = delete;

    // Every row of the query, columns joined with '|', NULL as "<null>".
    std::vector<std::string> Rows(const std::string& sql) const;
    std::vector<std::string> Table() const { return Rows(tableQuery_); }
    bool Execute(const std::string& sql);

private:
    sqlite3* db_ = nullptr;
    std::string tableQuery_;
};

}  // namespace tessarine::testing
