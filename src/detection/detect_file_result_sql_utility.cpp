#include "detection/detect_file_result_sql_utility.h"

#include <mutex>
#include <utility>

#include "base/app_log.h"
#include "base/string_utility.h"
#include "detection/detect_file_exceptions.h"
#include "infra/sqlite_query.h"
#include "infra/sqlite_schema.h"

namespace tessarine {

namespace {

// Tables, then their indexes, in this order.
constexpr SchemaStatement kSchemaStatements[] = {
    {"CREATE TABLE IF NOT EXISTS DETECT_FILE_RESULT (ID TEXT NOT NULL, FILE_NAME TEXT NOT NULL, "
     "FILE_PATH TEXT NOT NULL, DETECTED_TIME TEXT NOT NULL, PRIMARY KEY(ID));",
     "Create RESULT Table Error."},
    {"CREATE TABLE IF NOT EXISTS DETECT_FILE_RESULT_DETAIL (ID TEXT NOT NULL, DISPLAY_ORDER "
     "INTEGER NOT NULL, CATEGORY TEXT NOT NULL, HIT_TEXT TEXT NOT NULL, PRIMARY KEY(ID, "
     "DISPLAY_ORDER), FOREIGN KEY(ID) REFERENCES DETECT_FILE_RESULT(ID));",
     "Create RESULT_DETAIL Table Error."},
    {"CREATE INDEX IF NOT EXISTS INDEX_DETECT_FILE_RESULT ON DETECT_FILE_RESULT(ID);",
     "Create Detect File Result Index Error."},
    {"CREATE INDEX IF NOT EXISTS INDEX_DETECT_FILE_RESULT_DETAIL ON "
     "DETECT_FILE_RESULT_DETAIL(ID);",
     "Create Detect File Result Detail Index Error."},
};

using Exception = CDetectFileResultSQLException;
using Query = CSqlQuery<Exception>;

template <typename Body>
auto Guarded(int errorCode, Body body) -> decltype(body()) {
    return RunSqlOperation<Exception>(errorCode, body);
}

// A display order as the integer column holds it; SQLite's INTEGER takes any unsigned int,
// the binding takes an int.
int DisplayOrderValue(unsigned int displayOrder) {
    if (displayOrder > static_cast<unsigned int>(INT32_MAX)) {
        FailSqlOperation<Exception>(CDetectFileResultSQLUtility::kAddDetailError,
                                    "Bind Display Order Error");
    }
    return static_cast<int>(displayOrder);
}

}  // namespace

const CDetectFileResultSQLUtility::Statements::Definitions&
CDetectFileResultSQLUtility::StatementDefinitions() {
    static constexpr Statements::Definitions kDefinitions = {{
        {Statement::kInsertResult,
         "INSERT INTO DETECT_FILE_RESULT (ID, FILE_NAME, FILE_PATH, DETECTED_TIME) VALUES (?, ?, "
         "?, ?);"},
        {Statement::kSelectResults,
         "SELECT ID, FILE_NAME, FILE_PATH, DETECTED_TIME FROM DETECT_FILE_RESULT ORDER BY "
         "DETECTED_TIME DESC;"},
        {Statement::kInsertDetail,
         "INSERT INTO DETECT_FILE_RESULT_DETAIL (ID, DISPLAY_ORDER, CATEGORY, HIT_TEXT) VALUES (?, "
         "?, ?, ?);"},
        {Statement::kSelectDetails,
         "SELECT CATEGORY, HIT_TEXT FROM DETECT_FILE_RESULT_DETAIL WHERE ID = ? ORDER BY "
         "DISPLAY_ORDER ASC;"},
        {Statement::kSelectResultById,
         "SELECT ID, FILE_NAME, FILE_PATH, DETECTED_TIME FROM DETECT_FILE_RESULT WHERE ID = ?;"},
        {Statement::kSelectDetailsById,
         "SELECT CATEGORY, HIT_TEXT FROM DETECT_FILE_RESULT_DETAIL WHERE ID = ? ORDER BY "
         "DISPLAY_ORDER ASC;"},
        // Results of one detected time come latest stored first.
        {Statement::kSelectNewestResults,
         "SELECT ID, FILE_NAME, FILE_PATH, DETECTED_TIME FROM DETECT_FILE_RESULT ORDER BY "
         "DETECTED_TIME DESC, ROWID DESC LIMIT ?;"},
    }};
    static_assert(IsInKeyOrder(kDefinitions));
    return kDefinitions;
}

CDetectFileResultSQLUtility::CDetectFileResultSQLUtility(const std::string& databasePath,
                                                         SqlOpenMode mode)
    : connection_(databasePath, mode) {
    // The checker deletes a result on the device as soon as it is stored: the stored copy must
    // then be on disk, not only in the WAL's page cache, or a power cut loses it everywhere.
    if (connection_.IsOpen() && !connection_.IsReadOnly()) connection_.MakeCommitsDurable();
}

int CDetectFileResultSQLUtility::Initialize() {
    LOG_METHOD();
    return InitializeDatabaseObject(
        connection_, [this] { return CreateTable(); }, [this] { return PrepareStatements(); });
}

int CDetectFileResultSQLUtility::CreateTable() {
    LOG_METHOD();
    return CreateSchema(connection_, kSchemaStatements);
}

int CDetectFileResultSQLUtility::PrepareStatements() {
    LOG_METHOD();
    return PrepareStatementTable(statements_, StatementDefinitions());
}

std::string CDetectFileResultSQLUtility::MakeId(const std::string& detectedTime,
                                                const std::string& filePath) {
    return detectedTime + "_" + filePath;
}

int CDetectFileResultSQLUtility::AddDetectFileResult(const std::string& fileName,
                                                     const std::string& filePath,
                                                     const std::string& detectedTime) {
    LOG_METHOD();
    LOG_TRACE("PARAM:" + fileName + ", " + filePath + ", " + detectedTime);
    return Guarded(kAddResultError, [&] {
        Query query(connection_, statements_[Statement::kInsertResult], kAddResultError);
        lastId_ = MakeId(detectedTime, filePath);
        query.Bind(1, lastId_, "Bind Id Error");
        query.Bind(2, fileName, "Bind File Name Error");
        query.Bind(3, filePath, "Bind File Path Error");
        query.Bind(4, detectedTime, "Bind Detected Date Error");
        query.Execute(true, "Execute Statement Error. Code:");
        return 0;
    });
}

std::string CDetectFileResultSQLUtility::GetLastId() const {
    std::lock_guard<std::recursive_mutex> lock(connection_.StatementLock());
    return lastId_;
}

int CDetectFileResultSQLUtility::AddDetectFileResultDetail(const std::string& id,
                                                           unsigned int displayOrder,
                                                           const std::string& category,
                                                           const std::string& hitText) {
    LOG_METHOD();
    LOG_TRACE("PARAM:" + id + ", " + ULongToString(displayOrder) + ", " + category + ", " +
              hitText);
    return Guarded(kAddDetailError, [&] {
        Query query(connection_, statements_[Statement::kInsertDetail], kAddDetailError);
        query.Bind(1, id, "Bind Id Error");
        query.Bind(2, DisplayOrderValue(displayOrder), "Bind Display Order Error");
        query.Bind(3, category, "Bind Category Error");
        query.Bind(4, hitText, "Bind Hit Text Error");
        query.Execute(true, "Execute Statement Error. Code:");
        return 0;
    });
}

int CDetectFileResultSQLUtility::GetDetectFileResult(std::string* id, std::string* fileName,
                                                     std::string* filePath,
                                                     std::string* detectedTime) {
    LOG_METHOD();
    return Guarded(kGetResultError, [&] {
        if (id == nullptr || fileName == nullptr || filePath == nullptr ||
            detectedTime == nullptr) {
            FailSqlOperation<Exception>(kGetResultError, "Invalid Parameter.");
        }
        // Goes on from the previous row. A listing that ends (or fails) is reset, so the next
        // call starts from the newest again.
        Query query(connection_, statements_[Statement::kSelectResults], kGetResultError,
                    CStatementUse::Start::kContinue);
        if (!query.NextRow("Execute Statement Error. Code:")) return 1;
        std::string readId;
        std::string readName;
        std::string readPath;
        std::string readTime;
        query.Read(0, readId, "Get Id Error. Code:");
        query.Read(1, readName, "Get File Name Error. Code:");
        query.Read(2, readPath, "Get File Path Error. Code:");
        query.Read(3, readTime, "Get Detected Date Error. Code:");
        *id = std::move(readId);
        *fileName = std::move(readName);
        *filePath = std::move(readPath);
        *detectedTime = std::move(readTime);
        query.Keep();
        return 0;
    });
}

int CDetectFileResultSQLUtility::BindDetectFileResultDetailStatement(const std::string& id) {
    LOG_METHOD();
    LOG_TRACE("PARAM:" + id);
    return Guarded(kBindDetailError, [&] {
        Query query(connection_, statements_[Statement::kSelectDetails], kBindDetailError);
        query.Bind(1, id, "Bind Id Error. Code:");
        detailBound_ = true;
        query.Keep();  // GetDetectFileResultDetail steps it
        return 0;
    });
}

int CDetectFileResultSQLUtility::GetDetectFileResultDetail(std::string* category,
                                                           std::string* hitText) {
    LOG_METHOD();
    return Guarded(kGetDetailError, [&] {
        std::lock_guard<std::recursive_mutex> lock(connection_.StatementLock());
        if (!detailBound_) FailSqlOperation<Exception>(kGetDetailError, "Query Parameter Unbind");
        if (category == nullptr || hitText == nullptr) {
            FailSqlOperation<Exception>(kGetDetailError, "Invalid Parameter.");
        }
        Query query(connection_, statements_[Statement::kSelectDetails], kGetDetailError,
                    CStatementUse::Start::kContinue);
        // The bound ID goes with the reset at the end: the hits of a result are listed once
        // per bind, and a later call without a new bind finds none.
        if (!query.NextRow("Execute Statement Error. Code:")) return 1;
        std::string readCategory;
        std::string readHit;
        query.Read(0, readCategory, "Get Category Error. Code:");
        query.Read(1, readHit, "Get Hit Text Error. Code:");
        *category = std::move(readCategory);
        *hitText = std::move(readHit);
        query.Keep();
        return 0;
    });
}

void CDetectFileResultSQLUtility::ReadDetails(const std::string& id,
                                              std::vector<DetectFileResultDetailData>& details) {
    Query query(connection_, statements_[Statement::kSelectDetailsById], kGetDetailError);
    query.Bind(1, id, "Bind Id Error. Code:");
    while (query.NextRow("Execute Statement Error. Code:")) {
        DetectFileResultDetailData detail;
        query.Read(0, detail.category, "Get Category Error. Code:");
        query.Read(1, detail.hitText, "Get Hit Text Error. Code:");
        details.push_back(std::move(detail));
    }
}

int CDetectFileResultSQLUtility::FindDetectFileResult(const std::string& id,
                                                      CDetectFileResult* result) {
    LOG_METHOD();
    LOG_TRACE("PARAM:" + id);
    return Guarded(kGetResultError, [&] {
        if (result == nullptr) FailSqlOperation<Exception>(kGetResultError, "Invalid Parameter.");
        std::lock_guard<std::recursive_mutex> lock(connection_.StatementLock());
        CDetectFileResult found;
        {
            Query query(connection_, statements_[Statement::kSelectResultById], kGetResultError);
            query.Bind(1, id, "Bind Id Error. Code:");
            if (!query.NextRow("Execute Statement Error. Code:")) return 1;
            query.Read(0, found.id, "Get Id Error. Code:");
            query.Read(1, found.fileName, "Get File Name Error. Code:");
            query.Read(2, found.filePath, "Get File Path Error. Code:");
            query.Read(3, found.detectedTime, "Get Detected Date Error. Code:");
        }
        ReadDetails(id, found.details);
        *result = std::move(found);
        return 0;
    });
}

int CDetectFileResultSQLUtility::ListDetectFileResults(int limit,
                                                       std::vector<CDetectFileResult>& results) {
    LOG_METHOD();
    std::vector<CDetectFileResult> listed;
    ForEachDetectFileResult(limit,
                            [&](const CDetectFileResult& result) { listed.push_back(result); });
    results = std::move(listed);
    return 0;
}

int CDetectFileResultSQLUtility::ForEachDetectFileResult(
    int limit, const std::function<void(const CDetectFileResult&)>& visit) {
    LOG_METHOD();
    return Guarded(kGetResultError, [&] {
        std::lock_guard<std::recursive_mutex> lock(connection_.StatementLock());
        Query query(connection_, statements_[Statement::kSelectNewestResults], kGetResultError);
        query.Bind(1, limit < 0 ? -1 : limit, "Bind Limit Error. Code:");
        CDetectFileResult result;
        while (query.NextRow("Execute Statement Error. Code:")) {
            query.Read(0, result.id, "Get Id Error. Code:");
            query.Read(1, result.fileName, "Get File Name Error. Code:");
            query.Read(2, result.filePath, "Get File Path Error. Code:");
            query.Read(3, result.detectedTime, "Get Detected Date Error. Code:");
            result.details.clear();
            ReadDetails(result.id, result.details);
            visit(result);
        }
        return 0;
    });
}

CDetectFileResultSQLUtility::StoreOutcome CDetectFileResultSQLUtility::StoreDetectFileResult(
    const CDetectFileResult& result) {
    LOG_METHOD();
    return Guarded(kAddResultError, [&] {
        // Looking up and writing are one step for the other thread: only this object writes
        // the results, and it holds its lock throughout. The lookup comes before the
        // transaction, so that the transaction begins with a write: one that read first could
        // not write once another connection to the file (the file lists) had committed.
        std::lock_guard<std::recursive_mutex> lock(connection_.StatementLock());
        const std::string id = MakeId(result.detectedTime, result.filePath);
        CDetectFileResult stored;
        int found = 1;
        try {
            found = FindDetectFileResult(id, &stored);
        } catch (const CDetectFileResultSQLException&) {
            throw Exception(kAddResultError);  // logged by the lookup
        }
        if (found == 0) {
            return IsSameDetectFileResult(stored, result) ? StoreOutcome::kAlreadyStored
                                                          : StoreOutcome::kConflict;
        }
        // A listing left mid-way keeps the connection reading an old state of the file, and a
        // connection that reads an old state cannot write once another one has committed: every
        // later result would fail to store. Such a listing starts again from its first row.
        for (const Statement cursor : {Statement::kSelectResults, Statement::kSelectDetails}) {
            if (sqlite3_stmt_busy(statements_[cursor]) != 0) {
                LOG_TRACE("Open Listing Reset. Statement:" + IntToString(static_cast<int>(cursor)));
                sqlite3_reset(statements_[cursor]);
            }
        }
        CTransactionGuard transaction(connection_);
        if (transaction.BeginCode() != kSqlOk) {
            FailSqlOperation<Exception>(kAddResultError,
                                        "Begin Transaction Error. Code:", transaction.BeginCode());
        }
        AddDetectFileResult(result.fileName, result.filePath, result.detectedTime);
        for (std::size_t i = 0; i < result.details.size(); ++i) {
            const DetectFileResultDetailData& detail = result.details[i];
            AddDetectFileResultDetail(id, static_cast<unsigned int>(i), detail.category,
                                      detail.hitText);
        }
        if (const int committed = transaction.Commit(); committed != kSqlOk) {
            FailSqlOperation<Exception>(kAddResultError,
                                        "Commit Transaction Error. Code:", committed);
        }
        return StoreOutcome::kStored;
    });
}

bool IsSameDetectFileResult(const CDetectFileResult& a, const CDetectFileResult& b) {
    if (a.fileName != b.fileName || a.filePath != b.filePath || a.detectedTime != b.detectedTime ||
        a.details.size() != b.details.size())
        return false;
    for (std::size_t i = 0; i < a.details.size(); ++i) {
        if (a.details[i].category != b.details[i].category ||
            a.details[i].hitText != b.details[i].hitText)
            return false;
    }
    return true;
}

}  // namespace tessarine
