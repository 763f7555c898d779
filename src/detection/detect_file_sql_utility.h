// The detection file list: one row per local file the forwarder copied into the device's import
// folder (the name it got there, its last-write time when copied, the copy's time, and whether a
// file list has announced it), and the device setting's time stamp at the last full forward.
// Its own connection to the database file; one object per process.
#pragma once

#include <cstddef>
#include <ctime>
#include <set>
#include <string>
#include <unordered_map>

#include "infra/sqlite_helper.h"
#include "infra/sqlite_statement_table.h"

namespace tessarine {

// What the file list holds of one file, for a walk that reads the rows in one go.
struct DetectFileState {
    std::time_t lastUpdate = 0;
    std::string status;
};
using DetectFileStateMap = std::unordered_map<std::string, DetectFileState>;

class CDetectFileSQLUtility {
public:
    static constexpr char kStatusAdd[] = "ADD";
    static constexpr char kStatusUpdate[] = "UPDATE";
    static constexpr char kStatusComplete[] = "COMPLETE";
    static constexpr char kStatusInit[] = "INIT";

    // The file list in `databasePath` (the application owns the one on its data folder).
    explicit CDetectFileSQLUtility(const std::string& databasePath);
    CDetectFileSQLUtility(const CDetectFileSQLUtility&) = delete;
    CDetectFileSQLUtility& operator=(const CDetectFileSQLUtility&) = delete;

    // Creates the tables and indexes if missing and prepares the statements. 0 on success.
    int Initialize();
    // The parts of Initialize; 0 on success, 1 on failure.
    int CreateTable();
    int PrepareStatements();
    bool IsPrepared() const { return statements_.IsPrepared(); }

    // 1 once a forward has been judged on this PC (the setting time stamp is stored), else 0.
    // CDetectFileSQLException code 0 on failure.
    int IsDetectFileExecuted();
    // 1 when `timestamp` differs from the stored one (or none is stored): it is stored then and
    // a full forward is due. 0 when it is the same. Code 1 on failure.
    int IsDetectFileFullForwardExecute(const std::string& timestamp);
    // 0 = row found (the outputs given are filled), 1 = no row, -1 = failure (logged).
    int GetDetectFileInformation(const std::string& filePath, std::time_t* lastUpdate,
                                 std::string* status);
    // Every row's path, last-write time and status in one read (a walk that would otherwise
    // look every file up on its own). A row whose time text cannot be read is left out, so the
    // walk sends that file again. Code 2 on failure.
    int GetDetectFileStates(DetectFileStateMap& states);
    // The listing of the rows to announce ("ADD" and "UPDATE", oldest last-write time first):
    // BindDetectFileForFileListStatement, then GetDetectFileInformationForFileList until it
    // returns 1 (0 = one row delivered). Code 4 on failure, also before any bind.
    int BindDetectFileForFileListStatement();
    int GetDetectFileInformationForFileList(std::string* filePath, std::string* fileName,
                                            std::string* serverFileName, std::time_t* lastUpdate,
                                            std::time_t* processingTime);
    // Ends a listing left part-way (its open read would hold back this connection's writes).
    void EndFileListListing();
    // True when any row (of any status) carries the name. Code 5 on failure.
    bool IsExistServerFileName(const std::string& serverFileName);
    // True when a row that a file list has announced (any status but "ADD" and "UPDATE") carries
    // the name. Code 5 on failure.
    bool IsAnnouncedServerFileName(const std::string& serverFileName);
    // A row "ADD"; 0, or -1 on failure (an empty path, a path already listed).
    int AddDetectFileInformation(const std::string& filePath, const std::string& fileName,
                                 const std::string& serverFileName, std::time_t lastUpdate,
                                 std::time_t processingTime);
    // The row becomes "COMPLETE"; 0, or -1 on failure.
    int UpdateDetectFileStatus(const std::string& filePath);
    // Before a differential walk: the settled ("COMPLETE") rows become "INIT"; the walk settles
    // each file it finds again, and what it did not find is removed afterwards. Rows not yet
    // announced ("ADD", "UPDATE") keep their status, so the walk sends them again. Code 8.
    int UpdateDetectFileInitStatus();
    // Every "ADD" and "UPDATE" row becomes "COMPLETE" (a file list reached the device). Code 9.
    int UpdateForwardStatus();
    // The row gets a new name and times and becomes "UPDATE"; 0, or -1 on failure.
    int UpdateDetectFileInformation(const std::string& filePath, const std::string& serverFileName,
                                    std::time_t lastUpdate, std::time_t processingTime);
    // Empties the file list (the stored time stamp stays). Code 13.
    int DeleteAllDetectFileInformation();
    // Removes the "INIT" rows. Code 14.
    int DeleteDetectFileInformationByStatus();
    // Removes the rows no file list announced ("ADD", "UPDATE"): done when their copies are known
    // to be off the device, so that no later list names a copy that is not there. Code 16.
    int DeleteUnannouncedDetectFileInformation();

    // The names this program has put, or begun to put, into the device's import folder and no
    // file list has announced yet (a copy's name is recorded before the copy starts, and stays
    // when the copy fails: a broken connection can leave its temporary file behind): the
    // entries there it may prove its own. Add: 0, or -1 on failure (logged); the others throw
    // code 15.
    int AddSentName(const std::string& serverFileName);
    int GetSentNames(std::set<std::string>& names);
    // A recorded name that turned out to be another sender's (its claim on the device failed):
    // 0, or -1 on failure (logged).
    int DeleteSentName(const std::string& serverFileName);
    int DeleteAllSentNames();
    // A file list reached the device: in one transaction, the names of the rows it announced,
    // its own name and its staging name leave the sent names, the publishing mark goes, and the
    // rows become "COMPLETE". Code 9.
    int UpdateForwardStatusAndSentNames(const std::string& fileListName,
                                        const std::string& stagedName);

    // The file list about to be published: its whole copy lies under its staging name and the
    // rename to its own name comes next. Set before the rename, so that a run that breaks off
    // there leaves the next run able to tell whether the list went out (the staging copy is
    // gone) or not. Set: 0, or -1 on failure (logged); Get: 1 and the name, or 0 when none;
    // Get and Clear throw code 17.
    int SetPublishingFileList(const std::string& fileListName);
    int GetPublishingFileList(std::string& fileListName);
    int ClearPublishingFileList();

    // Opens a batch: the writes made until it ends join one transaction (each write a savepoint
    // of its own). Commit() keeps them; a batch left without Commit() rolls them back. Its first
    // statement must be a write: a read first would make the batch a reader that can fail to
    // become a writer once another connection has written to the file meanwhile.
    [[nodiscard]] CTransactionGuard BeginBatch() { return CTransactionGuard(connection_); }
    const CSQLiteHelper& Connection() const { return connection_; }

private:
    // The statements in the order they are prepared; the number is logged when one fails.
    enum class Statement : std::size_t {
        kInsertCommonInformation,
        kReplaceCommonInformation,
        kSelectCommonInformation,
        kInsertInformation,
        kUpdateAllStatus,
        kUpdateStatus,
        kUpdateInformation,
        kSelectInformation,
        kSelectFileList,
        kCountServerFileName,
        kDeleteInformation,
        kDeleteAll,
        kDeleteByStatus,
        kUpdateInitStatus,
        kUpdateForwardStatus,
        kSelectStates,
        kCountAnnouncedServerFileName,
        kInsertSentName,
        kDeleteSentName,
        kSelectSentNames,
        kDeleteAllSentNames,
        kDeleteAnnouncedSentNames,
        kDeleteUnannounced,
        kDeleteCommonInformation,
        kCount
    };
    static constexpr std::size_t kStatementCount = static_cast<std::size_t>(Statement::kCount);
    using Statements = CStatementTable<Statement, kStatementCount>;
    static const Statements::Definitions& StatementDefinitions();
    // The number of rows of a name-count statement (code 5 on failure).
    int CountServerFileName(Statement statement, const std::string& serverFileName);

    CSQLiteHelper connection_;
    Statements statements_{connection_};  // after the connection: finalized before it closes
    // Set by the first bind of a listing; GetDetectFileInformationForFileList refuses before.
    bool listingBound_ = false;
};

}  // namespace tessarine
