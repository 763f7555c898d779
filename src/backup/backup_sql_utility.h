// The backup file list: one row per file and folder a backup copied, per folder pair, with its
// destination and the last-write time it had when copied. It has its own connection to the
// database file; one object per process.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <unordered_map>
#include <vector>

#include "infra/sqlite_helper.h"
#include "infra/sqlite_statement_table.h"
#include "settings/setting_records.h"

namespace tessarine {

// Source path -> last-write time stored for it, of one folder pair.
using BackupTimeMap = std::unordered_map<std::string, std::time_t>;

class CBackupSQLUtility {
public:
    // The file list in `databasePath` (the application owns the one on its data folder). A
    // read-only connection (a restore beside or without the program) creates nothing.
    explicit CBackupSQLUtility(const std::string& databasePath,
                               SqlOpenMode mode = SqlOpenMode::kReadWrite);
    CBackupSQLUtility(const CBackupSQLUtility&) = delete;
    CBackupSQLUtility& operator=(const CBackupSQLUtility&) = delete;

    // Creates the table and indexes if missing and prepares the statements. 0 on success.
    int Initialize();

    // Every operation below throws CBackupSQLException with its code on failure.
    int GetBackupFileCount(int settingNumber);
    // 0 = row found (outputs filled when present), 1 = no row.
    int GetBackupInformation(int settingNumber, const std::string& sourcePath,
                             std::string* destinationPath, std::time_t* lastUpdate);
    int BindBackupSettingStatusStatement(int settingNumber);
    int BindBackupSettingStatement(int settingNumber, int isDirectory);
    // 0 = one row delivered, 1 = no more rows.
    int GetBackupSetting(std::string* sourcePath, std::string* destinationPath,
                         std::time_t* lastUpdate);
    // Source path and last-write time of every row of a folder pair, read in one go for a pass
    // that would otherwise look every entry up on its own. A row whose time text cannot be read
    // is left out (looking it up reports it). CBackupSQLException code 3 on failure.
    int GetBackupTimes(int settingNumber, BackupTimeMap& times);
    // The mount a source folder was on at its last backup ("/", "/media/u/disk"): 0 found, 1
    // none recorded. SetSourceMount records it (code 1 / 4 on failure).
    int GetSourceMount(const std::string& sourceFolder, std::string* mountRoot);
    int SetSourceMount(const std::string& sourceFolder, const std::string& mountRoot);
    int AddBackupInformation(int settingNumber, const std::string& sourcePath,
                             const std::string& destinationPath, std::time_t lastUpdate,
                             int isDirectory);
    int UpdateBackupStatus(const std::string& status);
    int UpdateBackupInformation(int settingNumber, const std::string& sourcePath,
                                std::time_t lastUpdate);
    int UpdateBackupSetting(int oldSettingNumber, int newSettingNumber);
    int DeleteBackupInformation(int settingNumber, const std::string& sourcePath);
    int DeleteBackupSetting(int settingNumber);
    int StartSettingChange();
    int EndSettingChange(bool commit);

    // The parts of Initialize; 0 on success, 1 on failure.
    int CreateTable();
    int PrepareStatements();
    // True once PrepareStatements has succeeded.
    bool IsPrepared() const { return statements_.IsPrepared(); }

    // Opens a batch: the writes made until it ends join one transaction (each write is a
    // savepoint of its own, so a failed row undoes only itself). Commit() keeps them; a batch
    // left without Commit() rolls them back. Other threads wait for this file list meanwhile.
    [[nodiscard]] CTransactionGuard BeginBatch() { return CTransactionGuard(connection_); }
    bool IsInTransaction() const { return connection_.IsInTransaction(); }
    // The connection, to look at (its path, its lock, its open statements).
    const CSQLiteHelper& Connection() const { return connection_; }

private:
    // The statements, in the order they are prepared; the number is logged when one fails.
    enum class Statement : std::size_t {
        kInsertInformation,
        kUpdateAllStatus,
        kUpdateStatus,
        kUpdateInformation,
        kMoveSetting,
        kSelectInformation,
        kSelectSettingStatus,
        kSelectSetting,
        kCountSetting,
        kDeleteInformation,
        kDeleteSetting,
        kSelectTimes,
        kSelectSourceMount,
        kReplaceSourceMount,
        kCount
    };
    static constexpr std::size_t kStatementCount = static_cast<std::size_t>(Statement::kCount);
    using Statements = CStatementTable<Statement, kStatementCount>;
    static const Statements::Definitions& StatementDefinitions();

    CSQLiteHelper connection_;
    Statements statements_{connection_};  // after the connection: finalized before it closes
    // Set by the first successful bind of a listing; GetBackupSetting refuses to run before.
    bool listingBound_ = false;
};

// One step of keeping the file list attached to its folder pairs when the pairs are saved.
struct BackupSettingChange {
    enum class Kind { kMove, kRemoval };
    Kind kind;
    int from;     // old position
    int to = -1;  // new position of a move
    bool operator==(const BackupSettingChange&) const = default;
};

// The moves and removals that turn the old pairs into the new ones, in old-position order.
// Both lists end at their first pair with an empty source; a pair is the same when source and
// destination are both equal. A new position takes the rows of one old pair only.
std::vector<BackupSettingChange> ComputeBackupSettingChanges(const BackupFolderPairs& oldPairs,
                                                             const BackupFolderPairs& newPairs);

// Applies the changes inside one transaction (StartSettingChange ... EndSettingChange(true)),
// holding the file list's lock throughout; initializes the object first when it is not prepared.
// No changes: true without touching the database. On failure logs, rolls back and returns false.
bool ApplyBackupSettingChanges(CBackupSQLUtility& fileList,
                               const std::vector<BackupSettingChange>& changes);

}  // namespace tessarine
