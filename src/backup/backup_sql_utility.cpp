#include "backup/backup_sql_utility.h"

#include <array>
#include <exception>
#include <mutex>
#include <vector>

#include "backup/backup_exceptions.h"
#include "base/app_log.h"
#include "base/string_utility.h"
#include "base/time_utility.h"
#include "infra/sqlite_query.h"
#include "infra/sqlite_schema.h"

namespace tessarine {

namespace {

// Table and index statements, run in this order.
constexpr SchemaStatement kSchemaStatements[] = {
    {"CREATE TABLE IF NOT EXISTS BACKUP_FILELIST (SETTING_NUMBER INTEGER NOT NULL, "
     "SOURCE_FILE_PATH TEXT NOT NULL, DESTINATION_FILE_PATH TEXT NOT NULL, LAST_UPDATE TEXT NOT "
     "NULL, IS_DIRECTORY INTEGER NOT NULL, STATUS TEXT NOT NULL, PRIMARY KEY(SETTING_NUMBER, "
     "SOURCE_FILE_PATH));",
     "Create FILELIST Table Error."},
    {"CREATE INDEX IF NOT EXISTS INDEX_BACKUP_INFORMATION ON BACKUP_FILELIST(SETTING_NUMBER, "
     "SOURCE_FILE_PATH);",
     "Create Single Information Index Error."},
    {"CREATE INDEX IF NOT EXISTS INDEX_BACKUP_SETTING_STATUS ON BACKUP_FILELIST(SETTING_NUMBER, "
     "STATUS);",
     "Create Backup Setting Status Index Error."},
    {"CREATE INDEX IF NOT EXISTS INDEX_BACKUP_SETTING ON BACKUP_FILELIST(SETTING_NUMBER);",
     "Create Backup Setting Index Error."},
    {"CREATE INDEX IF NOT EXISTS INDEX_BACKUP_STATUS ON BACKUP_FILELIST(STATUS);",
     "Create Status Index Error."},
    {"CREATE INDEX IF NOT EXISTS INDEX_BACKUP_SETTING_DIRECTORY_STATUS ON "
     "BACKUP_FILELIST(SETTING_NUMBER, IS_DIRECTORY, STATUS);",
     "Create Setting Directory Status Index Error."},
    // Which mounted file system each source folder was on when it was last backed up: a
    // mirroring pass on another one (an unmounted disk shows an empty folder) deletes nothing.
    {"CREATE TABLE IF NOT EXISTS BACKUP_SOURCE_MOUNT (SOURCE_FOLDER_PATH TEXT NOT NULL PRIMARY "
     "KEY, MOUNT_ROOT TEXT NOT NULL);",
     "Create Source Mount Table Error."},
};

constexpr char kStatusInit[] = "INIT";
constexpr char kStatusUpdate[] = "UPDATE";
constexpr char kStatusComplete[] = "COMPLETE";

// Operation codes of CBackupSQLException.
enum ErrorCode {
    kGetFileCountError = 0,
    kGetInformationError = 1,
    kBindListingError = 2,
    kGetListingError = 3,
    kAddInformationError = 4,
    kUpdateAllStatusError = 5,
    kUpdateInformationError = 7,
    kUpdateSettingError = 8,
    kDeleteInformationError = 9,
    kDeleteSettingError = 10,
    kStartSettingChangeError = 11,
    kEndSettingChangeError = 12,
};

using Query = CSqlQuery<CBackupSQLException>;

template <typename Body>
int Guarded(int errorCode, Body body) {
    return RunSqlOperation<CBackupSQLException>(errorCode, body);
}

}  // namespace

const CBackupSQLUtility::Statements::Definitions& CBackupSQLUtility::StatementDefinitions() {
    // The status words are SQL string literals.
    static constexpr Statements::Definitions kDefinitions = {{
        {Statement::kInsertInformation,
         "INSERT INTO BACKUP_FILELIST (SETTING_NUMBER, SOURCE_FILE_PATH, DESTINATION_FILE_PATH, "
         "LAST_UPDATE, IS_DIRECTORY, STATUS) VALUES (?, ?, ?, ?, ?, 'ADD');"},
        // Rows that already hold the word are left alone: the result is the same, and a run
        // whose rows are all settled rewrites nothing (every row written also rewrites three
        // indexes). "<" or ">" rather than "<>" lets the status index find the rows instead of
        // a table scan.
        {Statement::kUpdateAllStatus,
         "UPDATE BACKUP_FILELIST SET STATUS = ?1 WHERE STATUS < ?1 OR STATUS > ?1;"},
        {Statement::kUpdateStatus,
         "UPDATE BACKUP_FILELIST SET STATUS = ? WHERE SETTING_NUMBER = ? AND SOURCE_FILE_PATH = "
         "?;"},
        {Statement::kUpdateInformation,
         "UPDATE BACKUP_FILELIST SET LAST_UPDATE = ?, STATUS = ? WHERE SETTING_NUMBER = ? AND "
         "SOURCE_FILE_PATH = ?;"},
        {Statement::kMoveSetting,
         "UPDATE BACKUP_FILELIST SET SETTING_NUMBER = ?, STATUS = 'TEMPORARY' WHERE "
         "SETTING_NUMBER = ? AND STATUS <> 'TEMPORARY';"},
        {Statement::kSelectInformation,
         "SELECT SOURCE_FILE_PATH, DESTINATION_FILE_PATH, LAST_UPDATE FROM BACKUP_FILELIST WHERE "
         "SETTING_NUMBER = ? AND SOURCE_FILE_PATH = ?;"},
        {Statement::kSelectSettingStatus,
         "SELECT SOURCE_FILE_PATH, DESTINATION_FILE_PATH, LAST_UPDATE FROM BACKUP_FILELIST WHERE "
         "SETTING_NUMBER = ? AND IS_DIRECTORY = ? AND STATUS = ?;"},
        {Statement::kSelectSetting,
         "SELECT SOURCE_FILE_PATH, DESTINATION_FILE_PATH, LAST_UPDATE FROM BACKUP_FILELIST WHERE "
         "SETTING_NUMBER = ? AND IS_DIRECTORY = ? ORDER BY SOURCE_FILE_PATH ASC;"},
        {Statement::kCountSetting,
         "SELECT COUNT(*) FROM BACKUP_FILELIST WHERE SETTING_NUMBER = ?;"},
        {Statement::kDeleteInformation,
         "DELETE FROM BACKUP_FILELIST WHERE SETTING_NUMBER = ? AND SOURCE_FILE_PATH = ?;"},
        {Statement::kDeleteSetting,
         "DELETE FROM BACKUP_FILELIST WHERE SETTING_NUMBER = ? AND STATUS <> 'TEMPORARY';"},
        // "+" keeps the table scan: reading the rows in table order is several times faster than
        // fetching each through the setting index, even when other pairs' rows are passed over.
        {Statement::kSelectTimes,
         "SELECT SOURCE_FILE_PATH, LAST_UPDATE FROM BACKUP_FILELIST WHERE +SETTING_NUMBER = ?;"},
        {Statement::kSelectSourceMount,
         "SELECT MOUNT_ROOT FROM BACKUP_SOURCE_MOUNT WHERE SOURCE_FOLDER_PATH = ?;"},
        {Statement::kReplaceSourceMount,
         "INSERT OR REPLACE INTO BACKUP_SOURCE_MOUNT (SOURCE_FOLDER_PATH, MOUNT_ROOT) VALUES (?, "
         "?);"},
    }};
    static_assert(IsInKeyOrder(kDefinitions));
    return kDefinitions;
}

CBackupSQLUtility::CBackupSQLUtility(const std::string& databasePath, SqlOpenMode mode)
    : connection_(databasePath, mode) {}

int CBackupSQLUtility::Initialize() {
    LOG_METHOD();
    return InitializeDatabaseObject(
        connection_, [this] { return CreateTable(); }, [this] { return PrepareStatements(); });
}

int CBackupSQLUtility::CreateTable() {
    LOG_METHOD();
    return CreateSchema(connection_, kSchemaStatements);
}

int CBackupSQLUtility::PrepareStatements() {
    LOG_METHOD();
    return PrepareStatementTable(statements_, StatementDefinitions());
}

int CBackupSQLUtility::GetBackupFileCount(int settingNumber) {
    LOG_METHOD();
    return Guarded(kGetFileCountError, [&] {
        Query query(connection_, statements_[Statement::kCountSetting], kGetFileCountError);
        query.Bind(1, settingNumber, "Bind Setting Number Error. Code:");
        query.Execute(true, "Execute Statement Error. Code:");
        return query.ReadInt();
    });
}

int CBackupSQLUtility::GetBackupInformation(int settingNumber, const std::string& sourcePath,
                                            std::string* destinationPath, std::time_t* lastUpdate) {
    LOG_METHOD();
    return Guarded(kGetInformationError, [&] {
        Query query(connection_, statements_[Statement::kSelectInformation], kGetInformationError);
        query.Bind(1, settingNumber, "Bind Setting Number Error. Code:");
        query.Bind(2, sourcePath, "Bind File Path Error");
        if (!query.NextRow("Execute Statement Error. Code:")) return 1;
        // Outputs change only when the whole row could be read.
        std::string destination;
        std::time_t updated = 0;
        if (destinationPath != nullptr) {
            query.Read(1, destination, "Get DestinationFilePath Error. Code:");
        }
        if (lastUpdate != nullptr) query.Read(2, updated, "Get LastUpdate Error. Code:");
        if (destinationPath != nullptr) *destinationPath = std::move(destination);
        if (lastUpdate != nullptr) *lastUpdate = updated;
        return 0;
    });
}

int CBackupSQLUtility::BindBackupSettingStatusStatement(int settingNumber) {
    LOG_METHOD();
    return Guarded(kBindListingError, [&] {
        Query query(connection_, statements_[Statement::kSelectSettingStatus], kBindListingError);
        query.Bind(1, settingNumber, "Bind Setting Number Error. Code:");
        query.Bind(2, 0, "Bind Is Directory Error. Code:");
        query.Bind(3, kStatusInit, "Bind Status Error. Code:");
        listingBound_ = true;
        query.Keep();
        return 0;
    });
}

int CBackupSQLUtility::BindBackupSettingStatement(int settingNumber, int isDirectory) {
    LOG_METHOD();
    return Guarded(kBindListingError, [&] {
        Query query(connection_, statements_[Statement::kSelectSetting], kBindListingError);
        query.Bind(1, settingNumber, "Bind Setting Number Error. Code:");
        query.Bind(2, isDirectory, "Bind Is Directory Error. Code:");
        listingBound_ = true;
        query.Keep();  // GetBackupSetting steps it
        return 0;
    });
}

int CBackupSQLUtility::GetBackupSetting(std::string* sourcePath, std::string* destinationPath,
                                        std::time_t* lastUpdate) {
    LOG_METHOD();
    return Guarded(kGetListingError, [&] {
        std::lock_guard<std::recursive_mutex> lock(connection_.StatementLock());
        if (!listingBound_) {
            FailSqlOperation<CBackupSQLException>(kGetListingError, "Query Parameter Unbind");
        }
        if (sourcePath == nullptr || destinationPath == nullptr || lastUpdate == nullptr) {
            FailSqlOperation<CBackupSQLException>(kGetListingError, "Invalid Parameter.");
        }
        // The listing goes on from the previous row; it is reset when it ends or fails, so an
        // abandoned listing never keeps a read open.
        Query query(connection_, statements_[Statement::kSelectSetting], kGetListingError,
                    CStatementUse::Start::kContinue);
        if (!query.NextRow("Execute Statement Error. Code:")) return 1;
        std::string source;
        std::string destination;
        std::time_t updated = 0;
        query.Read(0, source, "Get Source File Path Error. Code:");
        query.Read(1, destination, "Get Destination File Path Error. Code:");
        query.Read(2, updated, "Get Last Update Error. Code:");
        *sourcePath = std::move(source);
        *destinationPath = std::move(destination);
        *lastUpdate = updated;
        query.Keep();
        return 0;
    });
}

int CBackupSQLUtility::GetBackupTimes(int settingNumber, BackupTimeMap& times) {
    LOG_METHOD();
    return Guarded(kGetListingError, [&] {
        times.clear();
        Query query(connection_, statements_[Statement::kSelectTimes], kGetListingError);
        query.Bind(1, settingNumber, "Bind Setting Number Error. Code:");
        // Consecutive rows mostly share their time stamp: each text is converted once. The
        // columns are read into the same buffers row after row.
        std::string source;
        std::string text;
        std::string lastText;
        std::time_t lastTime = 0;
        bool lastValid = false;
        bool haveLast = false;
        while (query.NextRow("Execute Statement Error. Code:")) {
            query.Check(connection_.GetColumn(query.Get(), 0, &source),
                        "Get Source File Path Error. Code:");
            query.Check(connection_.GetColumn(query.Get(), 1, &text),
                        "Get Last Update Error. Code:");
            if (!haveLast || text != lastText) {
                lastText = text;
                lastValid = ParseTimeStamp(text, lastTime);
                haveLast = true;
            }
            if (lastValid) times.insert_or_assign(source, lastTime);
        }
        LOG_TRACE("Rows:" + IntToString(static_cast<int>(times.size())));
        return 0;
    });
}

int CBackupSQLUtility::GetSourceMount(const std::string& sourceFolder, std::string* mountRoot) {
    LOG_METHOD();
    return Guarded(kGetInformationError, [&] {
        Query query(connection_, statements_[Statement::kSelectSourceMount], kGetInformationError);
        query.Bind(1, sourceFolder, "Bind Source Folder Path Error");
        if (!query.NextRow("Get Mount Root Error. Code:")) return 1;
        query.Read(0, *mountRoot, "Get Mount Root Error. Code:");
        return 0;
    });
}

int CBackupSQLUtility::SetSourceMount(const std::string& sourceFolder,
                                      const std::string& mountRoot) {
    LOG_METHOD();
    return Guarded(kAddInformationError, [&] {
        Query query(connection_, statements_[Statement::kReplaceSourceMount], kAddInformationError);
        query.Bind(1, sourceFolder, "Bind Source Mount Error");
        query.Bind(2, mountRoot, "Bind Source Mount Error");
        query.Execute(true, "Insert Source Mount Error. Code:");
        return 0;
    });
}

int CBackupSQLUtility::AddBackupInformation(int settingNumber, const std::string& sourcePath,
                                            const std::string& destinationPath,
                                            std::time_t lastUpdate, int isDirectory) {
    LOG_METHOD();
    return Guarded(kAddInformationError, [&] {
        if (sourcePath.empty()) {
            FailSqlOperation<CBackupSQLException>(kAddInformationError, "Invalid Primary Key");
        }
        Query query(connection_, statements_[Statement::kInsertInformation], kAddInformationError);
        query.Bind(1, settingNumber, "Bind Setting Number Error. Code:");
        query.Bind(2, sourcePath, "Bind Source File Path Error");
        query.Bind(3, destinationPath, "Bind Destination File Path Error");
        query.Bind(4, ToTimeStamp(lastUpdate), "Bind Last Update Error");
        query.Bind(5, isDirectory, "Bind IsDirectory Error");
        query.Execute(true, "Insert Backup Filelist Error. Code:");
        return 0;
    });
}

int CBackupSQLUtility::UpdateBackupStatus(const std::string& status) {
    LOG_METHOD();
    return Guarded(kUpdateAllStatusError, [&] {
        Query query(connection_, statements_[Statement::kUpdateAllStatus], kUpdateAllStatusError);
        query.Bind(1, status, "Bind Status Error. Code:");
        query.Execute(true, "Execute Statement Error. Code:");
        return 0;
    });
}

int CBackupSQLUtility::UpdateBackupInformation(int settingNumber, const std::string& sourcePath,
                                               std::time_t lastUpdate) {
    LOG_METHOD();
    return Guarded(kUpdateInformationError, [&] {
        Query query(connection_, statements_[Statement::kUpdateInformation],
                    kUpdateInformationError);
        query.Bind(1, ToTimeStamp(lastUpdate), "Bind Last Update Error");
        query.Bind(2, kStatusUpdate, "Bind Status Error. Code:");
        query.Bind(3, settingNumber, "Bind Setting Number Error. Code:");
        query.Bind(4, sourcePath, "Bind Source File Path Error");
        query.Execute(true, "Execute Statement Error. Code:");
        return 0;
    });
}

int CBackupSQLUtility::UpdateBackupSetting(int oldSettingNumber, int newSettingNumber) {
    LOG_METHOD();
    LOG_TRACE("Param:" + IntToString(oldSettingNumber) + " -> " + IntToString(newSettingNumber));
    return Guarded(kUpdateSettingError, [&] {
        Query query(connection_, statements_[Statement::kMoveSetting], kUpdateSettingError);
        query.Bind(1, newSettingNumber, "Bind Setting Number Error. Code:");
        query.Bind(2, oldSettingNumber, "Bind Setting Number Error. Code:");
        query.Execute(false, "Execute Statement Error. Code:");
        return 0;
    });
}

int CBackupSQLUtility::DeleteBackupInformation(int settingNumber, const std::string& sourcePath) {
    LOG_METHOD();
    return Guarded(kDeleteInformationError, [&] {
        Query query(connection_, statements_[Statement::kDeleteInformation],
                    kDeleteInformationError);
        query.Bind(1, settingNumber, "Bind Setting Number Error. Code:");
        query.Bind(2, sourcePath, "Bind Source File Path Error");
        query.Execute(true, "Delete Backup Filelist Error. Code:");
        return 0;
    });
}

int CBackupSQLUtility::DeleteBackupSetting(int settingNumber) {
    LOG_METHOD();
    LOG_TRACE("Param:" + IntToString(settingNumber));
    return Guarded(kDeleteSettingError, [&] {
        Query query(connection_, statements_[Statement::kDeleteSetting], kDeleteSettingError);
        query.Bind(1, settingNumber, "Bind Setting Number Error. Code:");
        query.Execute(false, "Delete Backup Filelist Error. Code:");
        return 0;
    });
}

int CBackupSQLUtility::StartSettingChange() {
    LOG_METHOD();
    return Guarded(kStartSettingChangeError, [&] {
        CheckSqlStep<CBackupSQLException>(kStartSettingChangeError, connection_.BeginTransaction(),
                                          "Begin Transaction Error. Code:");
        return 0;
    });
}

int CBackupSQLUtility::EndSettingChange(bool commit) {
    LOG_METHOD();
    LOG_TRACE("Param:" + BoolToString(commit));
    return Guarded(kEndSettingChangeError, [&] {
        std::lock_guard<std::recursive_mutex> lock(connection_.StatementLock());
        if (!commit) {
            CheckSqlStep<CBackupSQLException>(kEndSettingChangeError,
                                              connection_.RollbackTransaction(),
                                              "Rollback Transaction Error. Code:");
            return 0;
        }
        {
            Query query(connection_, statements_[Statement::kUpdateAllStatus],
                        kEndSettingChangeError);
            query.Bind(1, kStatusComplete, "Bind Status Error. Code:");
            query.Execute(false, "Execute Statement Error. Code:");
        }
        // A failed commit is left to the caller, who ends the change with a rollback.
        CheckSqlStep<CBackupSQLException>(kEndSettingChangeError, connection_.CommitTransaction(),
                                          "Commit Transaction Error. Code:");
        return 0;
    });
}

std::vector<BackupSettingChange> ComputeBackupSettingChanges(const BackupFolderPairs& oldPairs,
                                                             const BackupFolderPairs& newPairs) {
    LOG_METHOD();
    std::vector<BackupSettingChange> changes;
    // A new position takes the rows of one old pair only. Without this, a pair entered twice
    // (possible only by editing the settings file) would move a second set of rows onto the
    // first and fail on the table's key every time the settings are saved.
    std::array<bool, kBackupFolderPairCount> taken{};
    for (int i = 0; i < kBackupFolderPairCount; ++i) {
        const BackupFolderPair& oldPair = oldPairs[i];
        if (oldPair.source.empty()) break;
        int found = -1;
        for (int j = 0; j < kBackupFolderPairCount; ++j) {
            if (newPairs[j].source.empty()) break;
            // The rows belong to the folders: new exclusion patterns keep them.
            if (!taken[j] && newPairs[j].source == oldPair.source &&
                newPairs[j].destination == oldPair.destination) {
                found = j;
                break;
            }
        }
        if (found < 0) {
            changes.push_back({BackupSettingChange::Kind::kRemoval, i});
        } else {
            taken[found] = true;
            if (found != i) changes.push_back({BackupSettingChange::Kind::kMove, i, found});
        }
    }
    LOG_TRACE("Changes:" + IntToString(static_cast<int>(changes.size())));
    return changes;
}

bool ApplyBackupSettingChanges(CBackupSQLUtility& fileList,
                               const std::vector<BackupSettingChange>& changes) {
    LOG_METHOD();
    if (changes.empty()) return true;
    // No other thread's statement work may land inside the open transaction.
    std::lock_guard<std::recursive_mutex> lock(fileList.Connection().StatementLock());
    if (!fileList.IsPrepared()) fileList.Initialize();
    try {
        fileList.StartSettingChange();
        for (const auto& change : changes) {
            if (change.kind == BackupSettingChange::Kind::kMove) {
                fileList.UpdateBackupSetting(change.from, change.to);
            } else {
                fileList.DeleteBackupSetting(change.from);
            }
        }
        fileList.EndSettingChange(true);
        return true;
    } catch (const CAppException& e) {
        LOG_ERROR(e.GetErrorMessage());
    } catch (const std::exception& e) {
        LOG_ERROR("Unexpected Error. " + std::string(e.what()));
    }
    // Roll back whatever is still open; a change that never began has nothing to undo.
    if (fileList.IsInTransaction()) {
        try {
            fileList.EndSettingChange(false);
        } catch (const CAppException& e) {
            LOG_ERROR(e.GetErrorMessage());
        }
    }
    return false;
}

}  // namespace tessarine
