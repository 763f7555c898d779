#include "backup/backup_sql_utility.h"

#include <array>
#include <exception>
#include <iterator>
#include <mutex>
#include <vector>

#include "infra/app_exception.h"
#include "infra/app_log.h"
#include "infra/string_utility.h"
#include "infra/time_utility.h"

namespace tessarine {

namespace {

// Table and index statements, run in this order.
struct SchemaStatement {
    const char* sql;
    const char* failureMessage;
};

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

// In the order of CBackupSQLUtility::Statement. The status words are SQL string literals.
constexpr const char* kStatementTexts[] = {
    "INSERT INTO BACKUP_FILELIST (SETTING_NUMBER, SOURCE_FILE_PATH, DESTINATION_FILE_PATH, "
    "LAST_UPDATE, IS_DIRECTORY, STATUS) VALUES (?, ?, ?, ?, ?, 'ADD');",
    // Rows that already hold the word are left alone: the result is the same, and a run whose
    // rows are all settled rewrites nothing (every row written also rewrites three indexes).
    // "<" or ">" rather than "<>" lets the status index find the rows instead of a table scan.
    "UPDATE BACKUP_FILELIST SET STATUS = ?1 WHERE STATUS < ?1 OR STATUS > ?1;",
    "UPDATE BACKUP_FILELIST SET STATUS = ? WHERE SETTING_NUMBER = ? AND SOURCE_FILE_PATH = ?;",
    "UPDATE BACKUP_FILELIST SET LAST_UPDATE = ?, STATUS = ? WHERE SETTING_NUMBER = ? AND "
    "SOURCE_FILE_PATH = ?;",
    "UPDATE BACKUP_FILELIST SET SETTING_NUMBER = ?, STATUS = 'TEMPORARY' WHERE SETTING_NUMBER = ? "
    "AND STATUS <> 'TEMPORARY';",
    "SELECT SOURCE_FILE_PATH, DESTINATION_FILE_PATH, LAST_UPDATE FROM BACKUP_FILELIST WHERE "
    "SETTING_NUMBER = ? AND SOURCE_FILE_PATH = ?;",
    "SELECT SOURCE_FILE_PATH, DESTINATION_FILE_PATH, LAST_UPDATE FROM BACKUP_FILELIST WHERE "
    "SETTING_NUMBER = ? AND IS_DIRECTORY = ? AND STATUS = ?;",
    "SELECT SOURCE_FILE_PATH, DESTINATION_FILE_PATH, LAST_UPDATE FROM BACKUP_FILELIST WHERE "
    "SETTING_NUMBER = ? AND IS_DIRECTORY = ? ORDER BY SOURCE_FILE_PATH ASC;",
    "SELECT COUNT(*) FROM BACKUP_FILELIST WHERE SETTING_NUMBER = ?;",
    "DELETE FROM BACKUP_FILELIST WHERE SETTING_NUMBER = ? AND SOURCE_FILE_PATH = ?;",
    "DELETE FROM BACKUP_FILELIST WHERE SETTING_NUMBER = ? AND STATUS <> 'TEMPORARY';",
    // "+" keeps the table scan: reading the rows in table order is several times faster than
    // fetching each through the setting index, even when other pairs' rows are passed over.
    "SELECT SOURCE_FILE_PATH, LAST_UPDATE FROM BACKUP_FILELIST WHERE +SETTING_NUMBER = ?;",
    "SELECT MOUNT_ROOT FROM BACKUP_SOURCE_MOUNT WHERE SOURCE_FOLDER_PATH = ?;",
    "INSERT OR REPLACE INTO BACKUP_SOURCE_MOUNT (SOURCE_FOLDER_PATH, MOUNT_ROOT) VALUES (?, ?);",
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

std::string WithCode(const char* message, int code) { return message + IntToString(code); }

// Runs one operation; a failure that is not already a CBackupSQLException (memory, a library
// exception) becomes one with the operation's code.
template <typename Body>
int Guarded(int errorCode, Body body) {
    try {
        return body();
    } catch (const CAppException&) {
        throw;
    } catch (const std::exception& e) {
        LOG_ERROR("Unexpected Error. " + std::string(e.what()));
        throw CBackupSQLException(errorCode);
    }
}

}  // namespace

static_assert(std::size(kStatementTexts) == 14);

CBackupSQLUtility& CBackupSQLUtility::GetInstance() {
    static CBackupSQLUtility instance;
    return instance;
}

CBackupSQLUtility::CBackupSQLUtility() : CSQLiteHelper() {}

CBackupSQLUtility::CBackupSQLUtility(const std::string& databasePath)
    : CSQLiteHelper(databasePath) {}

CBackupSQLUtility::~CBackupSQLUtility() {
    // Every statement goes before the connection closes.
    statements_.FinalizeAll();
}

int CBackupSQLUtility::Initialize() {
    LOG_METHOD();
    std::lock_guard<std::recursive_mutex> lock(StatementLock());
    if (CreateTable() != 0) {
        LOG_ERROR("Create Table Error");
        return 1;
    }
    if (PrepareStatements() != 0) {
        LOG_ERROR("Prepare Backup Statemants Error");
        return 1;
    }
    return 0;
}

int CBackupSQLUtility::CreateTable() {
    LOG_METHOD();
    for (const auto& schema : kSchemaStatements) {
        if (ExecuteStatement(schema.sql) != kSqlOk) {
            LOG_ERROR(schema.failureMessage);
            return 1;
        }
    }
    return 0;
}

int CBackupSQLUtility::PrepareStatements() {
    LOG_METHOD();
    std::lock_guard<std::recursive_mutex> lock(StatementLock());
    // All or nothing: a failure keeps the handles of an earlier Initialize usable.
    std::array<sqlite3_stmt*, kStatementCount> prepared{};
    for (std::size_t i = 0; i < kStatementCount; ++i) {
        prepared[i] = PrepareStatement(kStatementTexts[i]);
        if (prepared[i] == nullptr) {
            LOG_ERROR("Prepare Statement Error.Count:" + IntToString(static_cast<int>(i)));
            for (auto* statement : prepared) FinalizeStatement(statement);
            return 1;
        }
    }
    for (std::size_t i = 0; i < kStatementCount; ++i) statements_.Replace(i, prepared[i]);
    return 0;
}

bool CBackupSQLUtility::IsPrepared() const {
    std::lock_guard<std::recursive_mutex> lock(StatementLock());
    for (std::size_t i = 0; i < kStatementCount; ++i) {
        if (statements_.At(i) == nullptr) return false;
    }
    return true;
}

int CBackupSQLUtility::GetBackupFileCount(int settingNumber) {
    LOG_METHOD();
    return Guarded(kGetFileCountError, [&] {
        CStatementUse use(*this, statements_[Statement::kCountSetting]);
        int result = BindParameter(use.Get(), 1, settingNumber);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Bind Setting Number Error. Code:", result));
            throw CBackupSQLException(kGetFileCountError);
        }
        result = ExecuteStatement(use.Get(), true);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Execute Statement Error. Code:", result));
            throw CBackupSQLException(kGetFileCountError);
        }
        return GetColumn(use.Get());
    });
}

int CBackupSQLUtility::GetBackupInformation(int settingNumber, const std::string& sourcePath,
                                            std::string* destinationPath, std::time_t* lastUpdate) {
    LOG_METHOD();
    return Guarded(kGetInformationError, [&] {
        CStatementUse use(*this, statements_[Statement::kSelectInformation]);
        int result = BindParameter(use.Get(), 1, settingNumber);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Bind Setting Number Error. Code:", result));
            throw CBackupSQLException(kGetInformationError);
        }
        if (BindStringParameter(use.Get(), 2, sourcePath) != kSqlOk) {
            LOG_ERROR("Bind File Path Error");
            throw CBackupSQLException(kGetInformationError);
        }
        result = GetRow(use.Get());
        if (result == kSqlStatementDone) return 1;
        if (result != kSqlRowAvailable) {
            LOG_ERROR(WithCode("Execute Statement Error. Code:", result));
            throw CBackupSQLException(kGetInformationError);
        }
        // Outputs change only when the whole row could be read.
        std::string destination;
        std::time_t updated = 0;
        if (destinationPath != nullptr) {
            result = GetColumnByString(use.Get(), 1, destination);
            if (result != kSqlOk) {
                LOG_ERROR(WithCode("Get DestinationFilePath Error. Code:", result));
                throw CBackupSQLException(kGetInformationError);
            }
        }
        if (lastUpdate != nullptr) {
            result = GetColumnByTime(use.Get(), 2, updated);
            if (result != kSqlOk) {
                LOG_ERROR(WithCode("Get LastUpdate Error. Code:", result));
                throw CBackupSQLException(kGetInformationError);
            }
        }
        if (destinationPath != nullptr) *destinationPath = std::move(destination);
        if (lastUpdate != nullptr) *lastUpdate = updated;
        return 0;
    });
}

int CBackupSQLUtility::BindBackupSettingStatusStatement(int settingNumber) {
    LOG_METHOD();
    return Guarded(kBindListingError, [&] {
        CStatementUse use(*this, statements_[Statement::kSelectSettingStatus]);
        int result = BindParameter(use.Get(), 1, settingNumber);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Bind Setting Number Error. Code:", result));
            throw CBackupSQLException(kBindListingError);
        }
        result = BindParameter(use.Get(), 2, 0);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Bind Is Directory Error. Code:", result));
            throw CBackupSQLException(kBindListingError);
        }
        result = BindParameter(use.Get(), 3, kStatusInit);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Bind Status Error. Code:", result));
            throw CBackupSQLException(kBindListingError);
        }
        listingBound_ = true;
        use.Keep();
        return 0;
    });
}

int CBackupSQLUtility::BindBackupSettingStatement(int settingNumber, int isDirectory) {
    LOG_METHOD();
    return Guarded(kBindListingError, [&] {
        CStatementUse use(*this, statements_[Statement::kSelectSetting]);
        int result = BindParameter(use.Get(), 1, settingNumber);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Bind Setting Number Error. Code:", result));
            throw CBackupSQLException(kBindListingError);
        }
        result = BindParameter(use.Get(), 2, isDirectory);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Bind Is Directory Error. Code:", result));
            throw CBackupSQLException(kBindListingError);
        }
        listingBound_ = true;
        use.Keep();  // GetBackupSetting steps it
        return 0;
    });
}

int CBackupSQLUtility::GetBackupSetting(std::string* sourcePath, std::string* destinationPath,
                                        std::time_t* lastUpdate) {
    LOG_METHOD();
    return Guarded(kGetListingError, [&] {
        std::lock_guard<std::recursive_mutex> lock(StatementLock());
        if (!listingBound_) {
            LOG_ERROR("Query Parameter Unbind");
            throw CBackupSQLException(kGetListingError);
        }
        if (sourcePath == nullptr || destinationPath == nullptr || lastUpdate == nullptr) {
            LOG_ERROR("Invalid Parameter.");
            throw CBackupSQLException(kGetListingError);
        }
        // The listing goes on from the previous row; it is reset when it ends or fails, so an
        // abandoned listing never keeps a read open.
        CStatementUse use(*this, statements_[Statement::kSelectSetting],
                          CStatementUse::Start::kContinue);
        int result = GetRow(use.Get());
        if (result == kSqlStatementDone) return 1;
        if (result != kSqlRowAvailable) {
            LOG_ERROR(WithCode("Execute Statement Error. Code:", result));
            throw CBackupSQLException(kGetListingError);
        }
        std::string source;
        std::string destination;
        std::time_t updated = 0;
        result = GetColumnByString(use.Get(), 0, source);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Get Source File Path Error. Code:", result));
            throw CBackupSQLException(kGetListingError);
        }
        result = GetColumnByString(use.Get(), 1, destination);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Get Destination File Path Error. Code:", result));
            throw CBackupSQLException(kGetListingError);
        }
        result = GetColumnByTime(use.Get(), 2, updated);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Get Last Update Error. Code:", result));
            throw CBackupSQLException(kGetListingError);
        }
        *sourcePath = std::move(source);
        *destinationPath = std::move(destination);
        *lastUpdate = updated;
        use.Keep();
        return 0;
    });
}

int CBackupSQLUtility::GetBackupTimes(int settingNumber, BackupTimeMap& times) {
    LOG_METHOD();
    return Guarded(kGetListingError, [&] {
        times.clear();
        CStatementUse use(*this, statements_[Statement::kSelectTimes]);
        int result = BindParameter(use.Get(), 1, settingNumber);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Bind Setting Number Error. Code:", result));
            throw CBackupSQLException(kGetListingError);
        }
        // Consecutive rows mostly share their time stamp: each text is converted once.
        std::string source;
        std::string text;
        std::string lastText;
        std::time_t lastTime = 0;
        bool lastValid = false;
        bool haveLast = false;
        for (;;) {
            result = GetRow(use.Get());
            if (result == kSqlStatementDone) break;
            if (result != kSqlRowAvailable) {
                LOG_ERROR(WithCode("Execute Statement Error. Code:", result));
                throw CBackupSQLException(kGetListingError);
            }
            result = GetColumn(use.Get(), 0, &source);
            if (result != kSqlOk) {
                LOG_ERROR(WithCode("Get Source File Path Error. Code:", result));
                throw CBackupSQLException(kGetListingError);
            }
            result = GetColumn(use.Get(), 1, &text);
            if (result != kSqlOk) {
                LOG_ERROR(WithCode("Get Last Update Error. Code:", result));
                throw CBackupSQLException(kGetListingError);
            }
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
        CStatementUse use(*this, statements_[Statement::kSelectSourceMount]);
        if (BindStringParameter(use.Get(), 1, sourceFolder) != kSqlOk) {
            LOG_ERROR("Bind Source Folder Path Error");
            throw CBackupSQLException(kGetInformationError);
        }
        const int result = GetRow(use.Get());
        if (result == kSqlStatementDone) return 1;
        if (result != kSqlRowAvailable || GetColumnByString(use.Get(), 0, *mountRoot) != kSqlOk) {
            LOG_ERROR(WithCode("Get Mount Root Error. Code:", result));
            throw CBackupSQLException(kGetInformationError);
        }
        return 0;
    });
}

int CBackupSQLUtility::SetSourceMount(const std::string& sourceFolder,
                                      const std::string& mountRoot) {
    LOG_METHOD();
    return Guarded(kAddInformationError, [&] {
        CStatementUse use(*this, statements_[Statement::kReplaceSourceMount]);
        if (BindStringParameter(use.Get(), 1, sourceFolder) != kSqlOk ||
            BindStringParameter(use.Get(), 2, mountRoot) != kSqlOk) {
            LOG_ERROR("Bind Source Mount Error");
            throw CBackupSQLException(kAddInformationError);
        }
        const int result = ExecuteStatement(use.Get(), true);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Insert Source Mount Error. Code:", result));
            throw CBackupSQLException(kAddInformationError);
        }
        return 0;
    });
}

int CBackupSQLUtility::AddBackupInformation(int settingNumber, const std::string& sourcePath,
                                            const std::string& destinationPath,
                                            std::time_t lastUpdate, int isDirectory) {
    LOG_METHOD();
    return Guarded(kAddInformationError, [&] {
        if (sourcePath.empty()) {
            LOG_ERROR("Invalid Primary Key");
            throw CBackupSQLException(kAddInformationError);
        }
        CStatementUse use(*this, statements_[Statement::kInsertInformation]);
        int result = BindParameter(use.Get(), 1, settingNumber);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Bind Setting Number Error. Code:", result));
            throw CBackupSQLException(kAddInformationError);
        }
        if (BindStringParameter(use.Get(), 2, sourcePath) != kSqlOk) {
            LOG_ERROR("Bind Source File Path Error");
            throw CBackupSQLException(kAddInformationError);
        }
        if (BindStringParameter(use.Get(), 3, destinationPath) != kSqlOk) {
            LOG_ERROR("Bind Destination File Path Error");
            throw CBackupSQLException(kAddInformationError);
        }
        if (BindStringParameter(use.Get(), 4, ToTimeStamp(lastUpdate)) != kSqlOk) {
            LOG_ERROR("Bind Last Update Error");
            throw CBackupSQLException(kAddInformationError);
        }
        if (BindParameter(use.Get(), 5, isDirectory) != kSqlOk) {
            LOG_ERROR("Bind IsDirectory Error");
            throw CBackupSQLException(kAddInformationError);
        }
        result = ExecuteStatement(use.Get(), true);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Insert Backup Filelist Error. Code:", result));
            throw CBackupSQLException(kAddInformationError);
        }
        return 0;
    });
}

int CBackupSQLUtility::UpdateBackupStatus(const std::string& status) {
    LOG_METHOD();
    return Guarded(kUpdateAllStatusError, [&] {
        CStatementUse use(*this, statements_[Statement::kUpdateAllStatus]);
        int result = BindStringParameter(use.Get(), 1, status);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Bind Status Error. Code:", result));
            throw CBackupSQLException(kUpdateAllStatusError);
        }
        result = ExecuteStatement(use.Get(), true);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Execute Statement Error. Code:", result));
            throw CBackupSQLException(kUpdateAllStatusError);
        }
        return 0;
    });
}

int CBackupSQLUtility::UpdateBackupInformation(int settingNumber, const std::string& sourcePath,
                                               std::time_t lastUpdate) {
    LOG_METHOD();
    return Guarded(kUpdateInformationError, [&] {
        CStatementUse use(*this, statements_[Statement::kUpdateInformation]);
        if (BindStringParameter(use.Get(), 1, ToTimeStamp(lastUpdate)) != kSqlOk) {
            LOG_ERROR("Bind Last Update Error");
            throw CBackupSQLException(kUpdateInformationError);
        }
        int result = BindParameter(use.Get(), 2, kStatusUpdate);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Bind Status Error. Code:", result));
            throw CBackupSQLException(kUpdateInformationError);
        }
        result = BindParameter(use.Get(), 3, settingNumber);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Bind Setting Number Error. Code:", result));
            throw CBackupSQLException(kUpdateInformationError);
        }
        if (BindStringParameter(use.Get(), 4, sourcePath) != kSqlOk) {
            LOG_ERROR("Bind Source File Path Error");
            throw CBackupSQLException(kUpdateInformationError);
        }
        result = ExecuteStatement(use.Get(), true);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Execute Statement Error. Code:", result));
            throw CBackupSQLException(kUpdateInformationError);
        }
        return 0;
    });
}

int CBackupSQLUtility::UpdateBackupSetting(int oldSettingNumber, int newSettingNumber) {
    LOG_METHOD();
    LOG_TRACE("Param:" + IntToString(oldSettingNumber) + " -> " + IntToString(newSettingNumber));
    return Guarded(kUpdateSettingError, [&] {
        CStatementUse use(*this, statements_[Statement::kMoveSetting]);
        int result = BindParameter(use.Get(), 1, newSettingNumber);
        if (result == kSqlOk) result = BindParameter(use.Get(), 2, oldSettingNumber);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Bind Setting Number Error. Code:", result));
            throw CBackupSQLException(kUpdateSettingError);
        }
        result = ExecuteStatement(use.Get(), false);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Execute Statement Error. Code:", result));
            throw CBackupSQLException(kUpdateSettingError);
        }
        return 0;
    });
}

int CBackupSQLUtility::DeleteBackupInformation(int settingNumber, const std::string& sourcePath) {
    LOG_METHOD();
    return Guarded(kDeleteInformationError, [&] {
        CStatementUse use(*this, statements_[Statement::kDeleteInformation]);
        int result = BindParameter(use.Get(), 1, settingNumber);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Bind Setting Number Error. Code:", result));
            throw CBackupSQLException(kDeleteInformationError);
        }
        if (BindStringParameter(use.Get(), 2, sourcePath) != kSqlOk) {
            LOG_ERROR("Bind Source File Path Error");
            throw CBackupSQLException(kDeleteInformationError);
        }
        result = ExecuteStatement(use.Get(), true);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Delete Backup Filelist Error. Code:", result));
            throw CBackupSQLException(kDeleteInformationError);
        }
        return 0;
    });
}

int CBackupSQLUtility::DeleteBackupSetting(int settingNumber) {
    LOG_METHOD();
    LOG_TRACE("Param:" + IntToString(settingNumber));
    return Guarded(kDeleteSettingError, [&] {
        CStatementUse use(*this, statements_[Statement::kDeleteSetting]);
        int result = BindParameter(use.Get(), 1, settingNumber);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Bind Setting Number Error. Code:", result));
            throw CBackupSQLException(kDeleteSettingError);
        }
        result = ExecuteStatement(use.Get(), false);
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Delete Backup Filelist Error. Code:", result));
            throw CBackupSQLException(kDeleteSettingError);
        }
        return 0;
    });
}

int CBackupSQLUtility::StartSettingChange() {
    LOG_METHOD();
    return Guarded(kStartSettingChangeError, [&] {
        const int result = BeginTransaction();
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Begin Transaction Error. Code:", result));
            throw CBackupSQLException(kStartSettingChangeError);
        }
        return 0;
    });
}

int CBackupSQLUtility::EndSettingChange(bool commit) {
    LOG_METHOD();
    LOG_TRACE("Param:" + BoolToString(commit));
    return Guarded(kEndSettingChangeError, [&] {
        std::lock_guard<std::recursive_mutex> lock(StatementLock());
        if (!commit) {
            const int result = RollbackTransaction();
            if (result != kSqlOk) {
                LOG_ERROR(WithCode("Rollback Transaction Error. Code:", result));
                throw CBackupSQLException(kEndSettingChangeError);
            }
            return 0;
        }
        {
            CStatementUse use(*this, statements_[Statement::kUpdateAllStatus]);
            int result = BindParameter(use.Get(), 1, kStatusComplete);
            if (result != kSqlOk) {
                LOG_ERROR(WithCode("Bind Status Error. Code:", result));
                throw CBackupSQLException(kEndSettingChangeError);
            }
            result = ExecuteStatement(use.Get(), false);
            if (result != kSqlOk) {
                LOG_ERROR(WithCode("Execute Statement Error. Code:", result));
                throw CBackupSQLException(kEndSettingChangeError);
            }
        }
        // A failed commit is left to the caller, who ends the change with a rollback.
        const int result = CommitTransaction();
        if (result != kSqlOk) {
            LOG_ERROR(WithCode("Commit Transaction Error. Code:", result));
            throw CBackupSQLException(kEndSettingChangeError);
        }
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
            if (!taken[j] && newPairs[j] == oldPair) {
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
    std::lock_guard<std::recursive_mutex> lock(CSQLiteHelper::StatementLock());
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
