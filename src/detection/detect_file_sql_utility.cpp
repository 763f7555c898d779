#include "detection/detect_file_sql_utility.h"

#include <exception>
#include <mutex>
#include <utility>

#include "base/app_log.h"
#include "base/string_utility.h"
#include "base/time_utility.h"
#include "detection/detect_file_exceptions.h"
#include "infra/sqlite_query.h"
#include "infra/sqlite_schema.h"

namespace tessarine {

namespace {

// Table and index statements, run in this order.
constexpr SchemaStatement kSchemaStatements[] = {
    {"CREATE TABLE IF NOT EXISTS COMMON_INFORMATION (ITEM TEXT NOT NULL, VALUE TEXT NOT NULL, "
     "PRIMARY KEY(ITEM));",
     "Create COMMON_INFORMATION Table Error."},
    {"CREATE TABLE IF NOT EXISTS DETECT_FILE_FILELIST (FILE_PATH TEXT NOT NULL, FILE_NAME TEXT "
     "NOT NULL, SERVER_FILE_NAME TEXT NOT NULL, LAST_UPDATE TEXT NOT NULL, PROCESSING_TIME TEXT "
     "NOT NULL, STATUS TEXT NOT NULL, PRIMARY KEY(FILE_PATH));",
     "Create FILELIST Table Error."},
    {"CREATE INDEX IF NOT EXISTS INDEX_DETECT_FILE_FILE_PATH ON DETECT_FILE_FILELIST(FILE_PATH);",
     "Create Detect File File Path Index Error."},
    {"CREATE INDEX IF NOT EXISTS INDEX_DETECT_FILE_STATUS ON DETECT_FILE_FILELIST(STATUS);",
     "Create Detect File Status Index Error."},
    {"CREATE INDEX IF NOT EXISTS INDEX_DETECT_FILE_SERVER_FILE_NAME ON "
     "DETECT_FILE_FILELIST(SERVER_FILE_NAME);",
     "Create Detect File Server File Name Index Error."},
    // Names this program put (or began to put) into the device's import folder that no file
    // list of its own has announced yet: what it may remove there as its own.
    {"CREATE TABLE IF NOT EXISTS DETECT_FILE_SENT_NAME (SERVER_FILE_NAME TEXT NOT NULL, "
     "PRIMARY KEY(SERVER_FILE_NAME));",
     "Create SENT_NAME Table Error."},
};

constexpr char kSettingTimestampItem[] = "DETECT_FILE_SETTING_TIMESTAMP";
// The file list whose whole copy lay under its staging name when the run went on to publish
// it (rename it to its own name): set before the rename, cleared with its rows' status.
constexpr char kPublishingListItem[] = "DETECT_FILE_PUBLISHING_LIST";

// Operation codes of CDetectFileSQLException.
enum ErrorCode {
    kExecutedError = 0,
    kFullForwardError = 1,
    kGetInformationError = 2,
    kGetListingError = 4,
    kServerFileNameError = 5,
    kAddInformationError = 6,
    kInitStatusError = 8,
    kForwardStatusError = 9,
    kUpdateStatusError = 10,
    kUpdateInformationError = 11,
    kDeleteAllError = 13,
    kDeleteByStatusError = 14,
    kSentNameError = 15,
    kDeleteUnannouncedError = 16,
    kPublishingListError = 17,
};

using Query = CSqlQuery<CDetectFileSQLException>;

template <typename Body>
auto Guarded(int errorCode, Body body) -> decltype(body()) {
    return RunSqlOperation<CDetectFileSQLException>(errorCode, body);
}

// The operations that report a failure by their result: the step has written its line.
template <typename Body>
int GuardedResult(int errorCode, Body body) {
    try {
        return Guarded(errorCode, body);
    } catch (const CAppException&) {
        return -1;
    }
}

}  // namespace

const CDetectFileSQLUtility::Statements::Definitions&
CDetectFileSQLUtility::StatementDefinitions() {
    // Status words inside the texts are SQL string literals.
    static constexpr Statements::Definitions kDefinitions = {{
        {Statement::kInsertCommonInformation,
         "INSERT OR IGNORE INTO COMMON_INFORMATION (ITEM, VALUE) VALUES (?, ?);"},
        {Statement::kReplaceCommonInformation,
         "INSERT OR REPLACE INTO COMMON_INFORMATION (ITEM, VALUE) VALUES (?, ?);"},
        {Statement::kSelectCommonInformation,
         "SELECT VALUE FROM COMMON_INFORMATION WHERE ITEM = ?;"},
        {Statement::kInsertInformation,
         "INSERT INTO DETECT_FILE_FILELIST (FILE_PATH, FILE_NAME, SERVER_FILE_NAME, LAST_UPDATE, "
         "PROCESSING_TIME, STATUS) VALUES (?, ?, ?, ?, ?, 'ADD');"},
        {Statement::kUpdateAllStatus, "UPDATE DETECT_FILE_FILELIST SET STATUS = ?;"},
        {Statement::kUpdateStatus,
         "UPDATE DETECT_FILE_FILELIST SET STATUS = ? WHERE FILE_PATH = ?;"},
        {Statement::kUpdateInformation,
         "UPDATE DETECT_FILE_FILELIST SET SERVER_FILE_NAME = ?, LAST_UPDATE = ?, PROCESSING_TIME "
         "= ?, STATUS = ? WHERE FILE_PATH = ?;"},
        {Statement::kSelectInformation,
         "SELECT FILE_PATH, FILE_NAME, SERVER_FILE_NAME, LAST_UPDATE, PROCESSING_TIME, STATUS "
         "FROM DETECT_FILE_FILELIST WHERE FILE_PATH = ?;"},
        {Statement::kSelectFileList,
         "SELECT FILE_PATH, FILE_NAME, SERVER_FILE_NAME, LAST_UPDATE, PROCESSING_TIME FROM "
         "DETECT_FILE_FILELIST WHERE STATUS = 'ADD' OR STATUS = 'UPDATE' ORDER BY LAST_UPDATE "
         "ASC;"},
        {Statement::kCountServerFileName,
         "SELECT COUNT(*) FROM DETECT_FILE_FILELIST WHERE SERVER_FILE_NAME = ?;"},
        {Statement::kDeleteInformation, "DELETE FROM DETECT_FILE_FILELIST WHERE FILE_PATH = ?;"},
        {Statement::kDeleteAll, "DELETE FROM DETECT_FILE_FILELIST;"},
        {Statement::kDeleteByStatus, "DELETE FROM DETECT_FILE_FILELIST WHERE STATUS = ?;"},
        // Only settled rows: a row not yet announced keeps "ADD"/"UPDATE", so the walk sends its
        // file again instead of settling it unannounced.
        {Statement::kUpdateInitStatus,
         "UPDATE DETECT_FILE_FILELIST SET STATUS = ? WHERE STATUS = 'COMPLETE';"},
        {Statement::kUpdateForwardStatus,
         "UPDATE DETECT_FILE_FILELIST SET STATUS = ? WHERE STATUS = 'ADD' OR STATUS = 'UPDATE';"},
        {Statement::kSelectStates,
         "SELECT FILE_PATH, LAST_UPDATE, STATUS FROM DETECT_FILE_FILELIST;"},
        {Statement::kCountAnnouncedServerFileName,
         "SELECT COUNT(*) FROM DETECT_FILE_FILELIST WHERE SERVER_FILE_NAME = ? AND STATUS <> "
         "'ADD' AND STATUS <> 'UPDATE';"},
        {Statement::kInsertSentName,
         "INSERT OR IGNORE INTO DETECT_FILE_SENT_NAME (SERVER_FILE_NAME) VALUES (?);"},
        {Statement::kDeleteSentName,
         "DELETE FROM DETECT_FILE_SENT_NAME WHERE SERVER_FILE_NAME = ?;"},
        {Statement::kSelectSentNames, "SELECT SERVER_FILE_NAME FROM DETECT_FILE_SENT_NAME;"},
        {Statement::kDeleteAllSentNames, "DELETE FROM DETECT_FILE_SENT_NAME;"},
        {Statement::kDeleteAnnouncedSentNames,
         "DELETE FROM DETECT_FILE_SENT_NAME WHERE SERVER_FILE_NAME IN (SELECT SERVER_FILE_NAME "
         "FROM DETECT_FILE_FILELIST WHERE STATUS = 'ADD' OR STATUS = 'UPDATE');"},
        {Statement::kDeleteUnannounced,
         "DELETE FROM DETECT_FILE_FILELIST WHERE STATUS = 'ADD' OR STATUS = 'UPDATE';"},
        {Statement::kDeleteCommonInformation, "DELETE FROM COMMON_INFORMATION WHERE ITEM = ?;"},
    }};
    static_assert(IsInKeyOrder(kDefinitions));
    return kDefinitions;
}

CDetectFileSQLUtility::CDetectFileSQLUtility(const std::string& databasePath)
    : connection_(databasePath) {}

int CDetectFileSQLUtility::Initialize() {
    LOG_METHOD();
    return InitializeDatabaseObject(
        connection_, [this] { return CreateTable(); }, [this] { return PrepareStatements(); });
}

int CDetectFileSQLUtility::CreateTable() {
    LOG_METHOD();
    return CreateSchema(connection_, kSchemaStatements);
}

int CDetectFileSQLUtility::PrepareStatements() {
    LOG_METHOD();
    return PrepareStatementTable(statements_, StatementDefinitions());
}

int CDetectFileSQLUtility::IsDetectFileExecuted() {
    LOG_METHOD();
    return Guarded(kExecutedError, [&] {
        Query query(connection_, statements_[Statement::kSelectCommonInformation], kExecutedError);
        query.Bind(1, kSettingTimestampItem, "Bind Get Setting Timestamp Error");
        return query.NextRow("Execute Get Setting Timestamp Error. Code:") ? 1 : 0;
    });
}

int CDetectFileSQLUtility::IsDetectFileFullForwardExecute(const std::string& timestamp) {
    LOG_METHOD();
    LOG_TRACE("Param:" + timestamp);
    return Guarded(kFullForwardError, [&] {
        // The read ends (its statement is reset) before the write begins: no transaction spans
        // both, so the write never has to turn a read snapshot into a writer, which fails once
        // another connection to the file has written since.
        std::lock_guard<std::recursive_mutex> lock(connection_.StatementLock());
        {
            Query query(connection_, statements_[Statement::kSelectCommonInformation],
                        kFullForwardError);
            query.Bind(1, kSettingTimestampItem, "Bind Get Setting Timestamp Error");
            if (query.NextRow("Execute Get Setting Timestamp Error. Code:")) {
                std::string stored;
                query.Read(0, stored, "Get Settint Timestamp Value Error. Code:");
                if (stored == timestamp) return 0;
            }
        }
        Query query(connection_, statements_[Statement::kReplaceCommonInformation],
                    kFullForwardError);
        query.Bind(1, kSettingTimestampItem, "Bind Add Setting Timestamp Item Error");
        query.Bind(2, timestamp, "Bind Add Setting Timestamp Value Error");
        query.Execute(true, "Execute Add Timestamp Statement Error. Code:");
        return 1;
    });
}

int CDetectFileSQLUtility::GetDetectFileInformation(const std::string& filePath,
                                                    std::time_t* lastUpdate, std::string* status) {
    LOG_METHOD();
    LOG_TRACE("Param:" + filePath);
    return GuardedResult(kGetInformationError, [&] {
        Query query(connection_, statements_[Statement::kSelectInformation], kGetInformationError);
        query.Bind(1, filePath, "Bind File Path Error");
        if (!query.NextRow("Execute Statement Error. Code:")) return 1;
        // Outputs change only when the whole row could be read.
        std::time_t updated = 0;
        std::string word;
        if (lastUpdate != nullptr) query.Read(3, updated, "Get LastUpdate Error. Code:");
        if (status != nullptr) query.Read(5, word, "Get Status Error. Code:");
        if (lastUpdate != nullptr) *lastUpdate = updated;
        if (status != nullptr) *status = std::move(word);
        return 0;
    });
}

int CDetectFileSQLUtility::GetDetectFileStates(DetectFileStateMap& states) {
    LOG_METHOD();
    return Guarded(kGetInformationError, [&] {
        states.clear();
        Query query(connection_, statements_[Statement::kSelectStates], kGetInformationError);
        std::string path;
        std::string text;
        std::string status;
        while (query.NextRow("Execute Statement Error. Code:")) {
            query.Check(connection_.GetColumn(query.Get(), 0, &path), "Get File Path Error. Code:");
            query.Check(connection_.GetColumn(query.Get(), 1, &text),
                        "Get LastUpdate Error. Code:");
            query.Check(connection_.GetColumn(query.Get(), 2, &status), "Get Status Error. Code:");
            std::time_t when = 0;
            if (!ParseTimeStamp(text, when)) {
                LOG_ERROR("Invalid LastUpdate. Path:" + path + " Value:" + text);
                continue;
            }
            states.insert_or_assign(path, DetectFileState{when, status});
        }
        return 0;
    });
}

int CDetectFileSQLUtility::BindDetectFileForFileListStatement() {
    LOG_METHOD();
    std::lock_guard<std::recursive_mutex> lock(connection_.StatementLock());
    connection_.ResetStatement(statements_[Statement::kSelectFileList]);
    listingBound_ = true;
    return 0;
}

void CDetectFileSQLUtility::EndFileListListing() {
    std::lock_guard<std::recursive_mutex> lock(connection_.StatementLock());
    connection_.ResetStatement(statements_[Statement::kSelectFileList]);
}

int CDetectFileSQLUtility::GetDetectFileInformationForFileList(std::string* filePath,
                                                               std::string* fileName,
                                                               std::string* serverFileName,
                                                               std::time_t* lastUpdate,
                                                               std::time_t* processingTime) {
    LOG_METHOD();
    return Guarded(kGetListingError, [&] {
        std::lock_guard<std::recursive_mutex> lock(connection_.StatementLock());
        if (!listingBound_) {
            FailSqlOperation<CDetectFileSQLException>(kGetListingError, "Query Parameter Unbind");
        }
        if (filePath == nullptr || fileName == nullptr || serverFileName == nullptr ||
            lastUpdate == nullptr || processingTime == nullptr) {
            FailSqlOperation<CDetectFileSQLException>(kGetListingError, "Invalid Parameter.");
        }
        // Goes on from the previous row; reset when it ends or fails, so an abandoned listing
        // never keeps a read open.
        Query query(connection_, statements_[Statement::kSelectFileList], kGetListingError,
                    CStatementUse::Start::kContinue);
        if (!query.NextRow("Execute Statement Error. Code:")) return 1;
        std::string path;
        std::string name;
        std::string serverName;
        std::time_t updated = 0;
        std::time_t processed = 0;
        query.Read(0, path, "Get File Path Error. Code:");
        query.Read(1, name, "Get File Name Error. Code:");
        query.Read(2, serverName, "Get Server File Name Error. Code:");
        query.Read(3, updated, "Get LastUpdate Error. Code:");
        query.Read(4, processed, "Get ProcessingTime Error. Code:");
        *filePath = std::move(path);
        *fileName = std::move(name);
        *serverFileName = std::move(serverName);
        *lastUpdate = updated;
        *processingTime = processed;
        query.Keep();
        return 0;
    });
}

bool CDetectFileSQLUtility::IsExistServerFileName(const std::string& serverFileName) {
    LOG_METHOD();
    LOG_TRACE("Param:" + serverFileName);
    return CountServerFileName(Statement::kCountServerFileName, serverFileName) > 0;
}

bool CDetectFileSQLUtility::IsAnnouncedServerFileName(const std::string& serverFileName) {
    LOG_METHOD();
    LOG_TRACE("Param:" + serverFileName);
    return CountServerFileName(Statement::kCountAnnouncedServerFileName, serverFileName) > 0;
}

int CDetectFileSQLUtility::CountServerFileName(Statement statement,
                                               const std::string& serverFileName) {
    return Guarded(kServerFileNameError, [&] {
        Query query(connection_, statements_[statement], kServerFileNameError);
        query.Bind(1, serverFileName, "Bind Get Server File Name Error");
        if (!query.NextRow("Execute Get Server File Name Error. Code:")) {
            FailSqlOperation<CDetectFileSQLException>(kServerFileNameError,
                                                      "Get Server File Name Count Error");
        }
        return query.ReadInt();
    });
}

int CDetectFileSQLUtility::AddDetectFileInformation(const std::string& filePath,
                                                    const std::string& fileName,
                                                    const std::string& serverFileName,
                                                    std::time_t lastUpdate,
                                                    std::time_t processingTime) {
    LOG_METHOD();
    LOG_TRACE("Param:" + filePath + ", " + fileName + ", " + serverFileName + ", " +
              ToTimeStamp(lastUpdate) + ", " + ToTimeStamp(processingTime));
    return GuardedResult(kAddInformationError, [&] {
        if (filePath.empty()) {
            FailSqlOperation<CDetectFileSQLException>(kAddInformationError, "Invalid Primary Key");
        }
        Query query(connection_, statements_[Statement::kInsertInformation], kAddInformationError);
        query.Bind(1, filePath, "Bind File Path Error");
        query.Bind(2, fileName, "Bind File Name Error");
        query.Bind(3, serverFileName, "Bind Server File Name Error");
        query.Bind(4, ToTimeStamp(lastUpdate), "Bind Last Update Error");
        query.Bind(5, ToTimeStamp(processingTime), "Bind Processing Time Error");
        query.Execute(true, "Execute Statement Error. Code:");
        return 0;
    });
}

int CDetectFileSQLUtility::UpdateDetectFileStatus(const std::string& filePath) {
    LOG_METHOD();
    LOG_TRACE(std::string("Param:") + kStatusComplete + ", " + filePath);
    return GuardedResult(kUpdateStatusError, [&] {
        Query query(connection_, statements_[Statement::kUpdateStatus], kUpdateStatusError);
        query.Bind(1, kStatusComplete, "Bind Status Error. Code:");
        query.Bind(2, filePath, "Bind File Path Error");
        query.Execute(true, "Execute Statement Error. Code:");
        return 0;
    });
}

int CDetectFileSQLUtility::UpdateDetectFileInitStatus() {
    LOG_METHOD();
    LOG_TRACE(std::string("Param:") + kStatusInit);
    return Guarded(kInitStatusError, [&] {
        Query query(connection_, statements_[Statement::kUpdateInitStatus], kInitStatusError);
        query.Bind(1, kStatusInit, "Bind Status Error. Code:");
        query.Execute(true, "Execute Statement Error. Code:");
        return 0;
    });
}

int CDetectFileSQLUtility::UpdateForwardStatus() {
    LOG_METHOD();
    LOG_TRACE(std::string("Param:") + kStatusComplete);
    return Guarded(kForwardStatusError, [&] {
        Query query(connection_, statements_[Statement::kUpdateForwardStatus], kForwardStatusError);
        query.Bind(1, kStatusComplete, "Bind Status Error. Code:");
        query.Execute(true, "Execute Statement Error. Code:");
        return 0;
    });
}

int CDetectFileSQLUtility::UpdateDetectFileInformation(const std::string& filePath,
                                                       const std::string& serverFileName,
                                                       std::time_t lastUpdate,
                                                       std::time_t processingTime) {
    LOG_METHOD();
    LOG_TRACE("Param:" + filePath + ", " + serverFileName + ", " + ToTimeStamp(lastUpdate) + ", " +
              ToTimeStamp(processingTime));
    return GuardedResult(kUpdateInformationError, [&] {
        Query query(connection_, statements_[Statement::kUpdateInformation],
                    kUpdateInformationError);
        query.Bind(1, serverFileName, "Bind Server File Name Error");
        query.Bind(2, ToTimeStamp(lastUpdate), "Bind Last Update Error");
        query.Bind(3, ToTimeStamp(processingTime), "Bind Processing Time Error");
        query.Bind(4, kStatusUpdate, "Bind Status Error. Code:");
        query.Bind(5, filePath, "Bind File Path Error");
        query.Execute(true, "Execute Statement Error. Code:");
        return 0;
    });
}

int CDetectFileSQLUtility::DeleteAllDetectFileInformation() {
    LOG_METHOD();
    return Guarded(kDeleteAllError, [&] {
        Query query(connection_, statements_[Statement::kDeleteAll], kDeleteAllError);
        query.Execute(true, "Delete All Detect File Filelist Error. Code:");
        return 0;
    });
}

int CDetectFileSQLUtility::DeleteDetectFileInformationByStatus() {
    LOG_METHOD();
    LOG_TRACE(std::string("Param:") + kStatusInit);
    return Guarded(kDeleteByStatusError, [&] {
        Query query(connection_, statements_[Statement::kDeleteByStatus], kDeleteByStatusError);
        query.Bind(1, kStatusInit, "Bind Status Error. Code:");
        query.Execute(true, "Delete Detect File Filelist By Status Error. Code:");
        return 0;
    });
}

int CDetectFileSQLUtility::AddSentName(const std::string& serverFileName) {
    LOG_METHOD();
    LOG_TRACE("Param:" + serverFileName);
    return GuardedResult(kSentNameError, [&] {
        Query query(connection_, statements_[Statement::kInsertSentName], kSentNameError);
        query.Bind(1, serverFileName, "Bind Server File Name Error");
        query.Execute(true, "Execute Statement Error. Code:");
        return 0;
    });
}

int CDetectFileSQLUtility::DeleteSentName(const std::string& serverFileName) {
    LOG_METHOD();
    LOG_TRACE("Param:" + serverFileName);
    return GuardedResult(kSentNameError, [&] {
        Query query(connection_, statements_[Statement::kDeleteSentName], kSentNameError);
        query.Bind(1, serverFileName, "Bind Server File Name Error");
        query.Execute(true, "Execute Statement Error. Code:");
        return 0;
    });
}

int CDetectFileSQLUtility::GetSentNames(std::set<std::string>& names) {
    LOG_METHOD();
    return Guarded(kSentNameError, [&] {
        names.clear();
        Query query(connection_, statements_[Statement::kSelectSentNames], kSentNameError);
        std::string name;
        while (query.NextRow("Execute Statement Error. Code:")) {
            query.Check(connection_.GetColumn(query.Get(), 0, &name),
                        "Get Server File Name Error. Code:");
            names.insert(name);
        }
        return 0;
    });
}

int CDetectFileSQLUtility::DeleteAllSentNames() {
    LOG_METHOD();
    return Guarded(kSentNameError, [&] {
        Query query(connection_, statements_[Statement::kDeleteAllSentNames], kSentNameError);
        query.Execute(true, "Execute Statement Error. Code:");
        return 0;
    });
}

int CDetectFileSQLUtility::SetPublishingFileList(const std::string& fileListName) {
    LOG_METHOD();
    LOG_TRACE("Param:" + fileListName);
    return GuardedResult(kPublishingListError, [&] {
        Query query(connection_, statements_[Statement::kReplaceCommonInformation],
                    kPublishingListError);
        query.Bind(1, kPublishingListItem, "Bind Publishing List Item Error");
        query.Bind(2, fileListName, "Bind Publishing List Value Error");
        query.Execute(true, "Execute Statement Error. Code:");
        return 0;
    });
}

int CDetectFileSQLUtility::GetPublishingFileList(std::string& fileListName) {
    LOG_METHOD();
    return Guarded(kPublishingListError, [&] {
        Query query(connection_, statements_[Statement::kSelectCommonInformation],
                    kPublishingListError);
        query.Bind(1, kPublishingListItem, "Bind Publishing List Item Error");
        if (!query.NextRow("Execute Statement Error. Code:")) return 0;
        query.Read(0, fileListName, "Get Publishing List Value Error. Code:");
        return 1;
    });
}

int CDetectFileSQLUtility::ClearPublishingFileList() {
    LOG_METHOD();
    return Guarded(kPublishingListError, [&] {
        Query query(connection_, statements_[Statement::kDeleteCommonInformation],
                    kPublishingListError);
        query.Bind(1, kPublishingListItem, "Bind Publishing List Item Error");
        query.Execute(true, "Execute Statement Error. Code:");
        return 0;
    });
}

int CDetectFileSQLUtility::UpdateForwardStatusAndSentNames(const std::string& fileListName,
                                                           const std::string& stagedName) {
    LOG_METHOD();
    LOG_TRACE("Param:" + fileListName + ", " + stagedName);
    return Guarded(kForwardStatusError, [&] {
        // One transaction: a name leaves the record of unannounced copies exactly when its row
        // is marked announced.
        auto batch = BeginBatch();
        if (batch.BeginCode() != kSqlOk) {
            FailSqlOperation<CDetectFileSQLException>(
                kForwardStatusError, "Begin Transaction Error. Code:", batch.BeginCode());
        }
        {
            Query query(connection_, statements_[Statement::kDeleteAnnouncedSentNames],
                        kForwardStatusError);
            query.Execute(true, "Execute Statement Error. Code:");
        }
        for (const std::string& name : {fileListName, stagedName}) {
            Query query(connection_, statements_[Statement::kDeleteSentName], kForwardStatusError);
            query.Bind(1, name, "Bind Server File Name Error");
            query.Execute(true, "Execute Statement Error. Code:");
        }
        {
            Query query(connection_, statements_[Statement::kDeleteCommonInformation],
                        kForwardStatusError);
            query.Bind(1, kPublishingListItem, "Bind Publishing List Item Error");
            query.Execute(true, "Execute Statement Error. Code:");
        }
        UpdateForwardStatus();
        if (const int committed = batch.Commit(); committed != kSqlOk) {
            FailSqlOperation<CDetectFileSQLException>(kForwardStatusError,
                                                      "Commit Transaction Error. Code:", committed);
        }
        return 0;
    });
}

int CDetectFileSQLUtility::DeleteUnannouncedDetectFileInformation() {
    LOG_METHOD();
    return Guarded(kDeleteUnannouncedError, [&] {
        Query query(connection_, statements_[Statement::kDeleteUnannounced],
                    kDeleteUnannouncedError);
        query.Execute(true, "Delete Unannounced Detect File Filelist Error. Code:");
        return 0;
    });
}

}  // namespace tessarine
