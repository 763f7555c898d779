// The detection results the device sent back: one row per detected file (which file, where it
// was, when it was detected) and under it one row per hit (category and matched text). The
// result checker adds them on its thread; the result window and `--results` list them. Stored
// results are never changed or deleted. One object per process, with its own connection.
//
// Two threads share the object. Every operation holds the connection's lock from its first
// statement step to its last read, and reads into the caller's strings only, so a listing on
// one thread never sees a value that the other thread's insert is replacing.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "detection/detect_file_result.h"
#include "infra/sqlite_helper.h"
#include "infra/sqlite_statement_table.h"

namespace tessarine {

class CDetectFileResultSQLUtility {
public:
    // Exception codes of CDetectFileResultSQLException, one per operation.
    enum : int {
        kAddResultError = 0,
        kGetResultError = 1,
        kAddDetailError = 2,
        kBindDetailError = 3,
        kGetDetailError = 4,
    };

    // What StoreDetectFileResult did with a result.
    enum class StoreOutcome {
        kStored,         // the result and all its hits are new rows
        kAlreadyStored,  // the same result, hits included, was stored before: nothing written
        kConflict,       // another result holds its ID: nothing written
    };

    // The results in `databasePath` (the application owns the one on its data folder). A
    // reading object (kReadOnly) neither creates the file nor the tables.
    explicit CDetectFileResultSQLUtility(const std::string& databasePath,
                                         SqlOpenMode mode = SqlOpenMode::kReadWrite);
    CDetectFileResultSQLUtility(const CDetectFileResultSQLUtility&) = delete;
    CDetectFileResultSQLUtility& operator=(const CDetectFileResultSQLUtility&) = delete;

    // Creates the tables and indexes if missing (not when reading only) and prepares the
    // statements. 0 on success, 1 on failure.
    int Initialize();
    int CreateTable();
    int PrepareStatements();
    bool IsPrepared() const { return statements_.IsPrepared(); }

    // The key of a result: "<detected time>_<file path>".
    static std::string MakeId(const std::string& detectedTime, const std::string& filePath);

    // Every operation below throws CDetectFileResultSQLException with its code on failure.

    // Adds the main row under MakeId(detectedTime, filePath), which becomes the last ID (also
    // when the insert fails). An ID already stored fails.
    int AddDetectFileResult(const std::string& fileName, const std::string& filePath,
                            const std::string& detectedTime);
    // The ID of the last AddDetectFileResult of any thread; empty before the first.
    std::string GetLastId() const;
    int AddDetectFileResultDetail(const std::string& id, unsigned int displayOrder,
                                  const std::string& category, const std::string& hitText);

    // The listing, newest detected time first, one result per call: 0 = delivered, 1 = no
    // more. The call after 1 starts again from the newest; a listing left before its end goes
    // on from where it stopped, unless a result was stored meanwhile (then it starts again).
    int GetDetectFileResult(std::string* id, std::string* fileName, std::string* filePath,
                            std::string* detectedTime);
    // The hits of one result in display order: bind the ID, then one hit per call (0), 1 when
    // there are no more (from the first hit again when a result was stored meanwhile).
    // GetDetectFileResultDetail before any bind fails without a query.
    int BindDetectFileResultDetailStatement(const std::string& id);
    int GetDetectFileResultDetail(std::string* category, std::string* hitText);

    // Stores a result read from a result file with its hits as one transaction: either every
    // row is written or none (a hit that cannot be written undoes the result, which then stays
    // on the device to be tried again). A result whose ID is already stored is compared with
    // the stored one instead (code 0 when the comparison fails).
    StoreOutcome StoreDetectFileResult(const CDetectFileResult& result);
    // The stored result of that ID with its hits: 0 found, 1 none (code 1 / 4 on failure).
    int FindDetectFileResult(const std::string& id, CDetectFileResult* result);
    // The `limit` newest results with their hits (all of them for a negative limit), newest
    // first; one operation, not disturbing a listing in progress (code 1 / 4 on failure).
    int ListDetectFileResults(int limit, std::vector<CDetectFileResult>& results);
    // The same listing handed to `visit` one result at a time, so that a caller printing a
    // long listing holds one result, not all of them. Results already visited stay visited
    // when a later read fails.
    int ForEachDetectFileResult(int limit,
                                const std::function<void(const CDetectFileResult&)>& visit);

    const CSQLiteHelper& Connection() const { return connection_; }

private:
    // The statements, in the order they are prepared; the number is logged when one fails.
    enum class Statement : std::size_t {
        kInsertResult,
        kSelectResults,
        kInsertDetail,
        kSelectDetails,
        // Whole operations use statements of their own, so that they never move the cursor
        // of a listing that another caller has open.
        kSelectResultById,
        kSelectDetailsById,
        kSelectNewestResults,
        kCount
    };
    static constexpr std::size_t kStatementCount = static_cast<std::size_t>(Statement::kCount);
    using Statements = CStatementTable<Statement, kStatementCount>;
    static const Statements::Definitions& StatementDefinitions();

    // The hits of `id` through the given statement, appended to `details`.
    void ReadDetails(const std::string& id, std::vector<DetectFileResultDetailData>& details);

    CSQLiteHelper connection_;
    Statements statements_{connection_};  // after the connection: finalized before it closes
    // Guarded by the connection's lock.
    bool detailBound_ = false;
    std::string lastId_;
};

// True when the two records hold the same file, path, time and hits (the ID is not compared).
bool IsSameDetectFileResult(const CDetectFileResult& a, const CDetectFileResult& b);

}  // namespace tessarine
