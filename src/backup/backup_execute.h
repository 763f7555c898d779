// One backup run on its own thread: copies every configured source folder into its folder on the
// device share (everything on the first run of a pair, then only new and changed entries),
// optionally mirrors deletions, records each copy in the file list and writes the result files.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "backup/backup_error_list.h"
#include "backup/backup_runner.h"
#include "backup/backup_sql_utility.h"
#include "backup/exclusion_filter.h"
#include "backup/restore_marks.h"
#include "core/message_sink.h"
#include "core/progress_counters.h"
#include "platform/clock.h"
#include "platform/device_share.h"
#include "platform/local_file_system.h"
#include "platform/named_events.h"
#include "platform/system_info.h"
#include "settings/setting_records.h"

namespace tessarine {

class CBackupExecute : public CBackupRunner {
public:
    using ShareFactory = std::function<std::unique_ptr<DeviceShare>()>;
    using CommonSettingLoader = std::function<int(CCommonSetting&)>;
    using BackupSettingLoader = std::function<int(CBackupSetting&)>;

    struct Dependencies {
        ShareFactory shareFactory;  // one share object per run
        CBackupSQLUtility& fileList;
        MessageSink& messageSink;
        NamedEvents& namedEvents;
        Clock& clock;
        std::string backupFolderPath;  // where the result files go, ending with '/'
        const SystemInfo& systemInfo;
        // Fill a record made on `profileStore`; 0 on success. Empty: the record's own Load.
        CommonSettingLoader loadCommonSetting;
        BackupSettingLoader loadBackupSetting;
        // The settings file; null: no settings can be read, so no run does anything.
        CProfileStore* profileStore;
        BackupProgress& progress;  // written for the tray's tooltip
        // 1: shut the PC down after the backup before shutdown; 0: do not. Set to 1 at the
        // start of every run and by the shutdown question; read by JudgeShutdown.
        std::atomic<int>& shutdownAfterBackup;
        // The source folders are read through this; null: the local disk.
        LocalFileSystem* localFileSystem = nullptr;
        // The marks of restores that have not ended (RestoreMarks); empty: none are kept.
        std::string restoreMarksPath{};
    };

    // Reads BackupErrorMaxCount for the error list's capacity (its default when it cannot be
    // read).
    explicit CBackupExecute(Dependencies dependencies);
    ~CBackupExecute() override;

    // One complete run: 0 success, 1 failure.
    int ThreadCore() override;

    // Hooks of the backup before shutdown: the question to the user (started right after the
    // share connection in shutdown mode) and the decision at every ending of a shutdown-mode run.
    void SetMessageBoxForShutdownBackup(std::function<void()> hook) {
        messageBoxForShutdownBackup_ = std::move(hook);
    }
    void SetJudgeShutdown(std::function<void()> hook) { judgeShutdown_ = std::move(hook); }

    // Where the copy of `sourcePath` goes: the part of the path below the pair's source folder
    // joined onto its destination folder, '/' turned into '\' (kept for an smb:// destination).
    static std::string MakeDestinationPath(const BackupFolderPair& pair,
                                           const std::string& sourcePath);

    // The error list and counts of the last run.
    const BackupErrorList& GetErrorList() const { return errorList_; }

private:
    struct DestinationListing;

    // What a run ends with: its result and whether the end-of-run pop-up logic applies.
    struct RunOutcome {
        int result = 1;
        bool reported = false;  // false: the settings were unusable, no result, no pop-up
        bool isNotify = false;
        int popupTimeout = 0;
    };

    // Steps up to the result files; fills `outcome` as far as it gets.
    void Run(RunOutcome& outcome);
    // The ending of a run broken off by an exception: status "COMPLETE" and result code 2.
    void EndAfterFailure(std::time_t startTime);
    int ConnectShare(const CCommonSetting& common);
    std::string MakeDestinationPath(int settingNumber, const std::string& sourcePath) const;

    void ExecuteFullBackup(int settingNumber, const std::string& folderPath);
    void ExecuteDiffBackup(int settingNumber, const std::string& folderPath, bool mirroring);
    // One folder of either pass, each entry decided on its own: new (copied or made, then
    // recorded), changed or missing on the device (copied again), unchanged (left). The folder
    // is read whole first, so names that are one name on the device are found before any copy.
    // `destinationIsNew`: this run made the destination folder, so it holds nothing yet.
    void BackupFolder(int settingNumber, const std::string& folderPath, bool differential,
                      bool mirroring, bool destinationIsNew);
    // Hands the share, ahead of the loop over a folder, the copies of the files that loop will
    // copy (new, changed, missing on the device), so that a share with several copies in flight
    // keeps them busy; the loop takes each result where it used to copy (CopyToDestination),
    // and so reports, records and counts in the same order as one copy at a time. A file whose
    // copy waits for a rename on the device (letter case) is left to the loop.
    void QueueFolderCopies(int settingNumber, const std::string& folderPath,
                           const LocalFolder& local, const std::vector<std::string>& folded,
                           const std::vector<int>& clashes, const DestinationListing& listing,
                           bool differential);
    // Waits for the queued copies of a folder's files that the loop did not take (none, unless
    // an entry changed its mind), so that none runs on unseen.
    void SettleFolderCopies(const std::string& folderPath, const LocalFolder& local);
    void BackupNewEntry(int settingNumber, const std::string& folderPath, const LocalEntry& entry,
                        const ShareEntry* onShare, bool listingKnown, bool differential,
                        bool mirroring);
    // Lists a destination folder and removes the leftovers of cut-off copies found in it;
    // returns the listing's error (0 when it was read).
    int ListDestination(const std::string& folder, DestinationListing& listing);
    // Writes a row after a successful copy and counts the entry: a success, or a failure when
    // the row cannot be written (the exception goes on).
    void RecordRow(const std::function<void()>& write, const std::string& path);
    // Counts consecutive requests that found the device gone (`error`: the request's outcome).
    void NoteShareOutcome(int error);
    // Ends the run (by an exception) once the device has stopped answering; called between
    // entries, so the entry that failed last is counted first.
    void CheckConnection() const;
    // Notes the mount that holds the pair's source folder (at a full backup).
    void RecordSourceMount(int settingNumber);
    // False (reported) when the source folder is on another mount than when it was recorded.
    bool IsSourceMountUnchanged(int settingNumber);
    void ExecuteDeletedFileBackup(int settingNumber);
    // Deletes the copy of one deletion candidate (a file, or an empty folder) and its row.
    void DeleteCopy(int settingNumber, const std::string& source, bool isFolder);
    // The copies and CreateFolder return 0, or the error number the share failed with.
    int BackupFile(int settingNumber, const std::string& sourcePath);
    int BackupFileOverwrite(int settingNumber, const std::string& sourcePath);
    int CopyToDestination(int settingNumber, const std::string& sourcePath, bool overwriteReadOnly);
    // `knownAbsent`: the destination is known not to exist, so it is made without a look-up.
    // `created` tells whether this call made it.
    int CreateFolder(int settingNumber, const std::string& sourcePath, bool knownAbsent = false,
                     bool* created = nullptr);
    int GetFileCountForTarget(const std::string& folderPath, int settingNumber, bool removeFound);
    int ForwardResultFile(const std::string& address, std::time_t endTime);
    void LoadBackupList(int settingNumber);
    void RemoveFromBackupList(const std::string& path, bool isDirectory);
    int CountBackupTargets(bool mirroring);
    void SetBackupRunning(int state);
    void NotifyBackupResult(int result, bool notify, int popupTimeout);

    // True when the pair can be backed up: its source is a folder and it has a destination.
    // Otherwise, with `report`, logs why and puts the source in the error list.
    bool CheckFolderPair(int settingNumber, bool report);
    void CountEntries(int settingNumber, const std::string& folderPath, bool followLink,
                      bool removeFound, int& count);
    // The path of an entry below its pair's source folder, as exclusion patterns see it.
    std::string RelativeToSource(int settingNumber, const std::string& path) const;
    // Drops the entries of a folder that the pair's patterns exclude, and this program's own
    // temporary copies (a restore cut off leaves one in a source folder).
    void DropExcluded(int settingNumber, const std::string& folderPath,
                      std::vector<LocalEntry>& entries) const;
    // Keeps the copies of everything below `path` (and of `path` itself) out of the deletion
    // pass: used when a folder cannot be read, so its entries are not taken for deleted ones.
    void KeepCandidatesBelow(const std::string& path);
    void ClearCandidates();
    // Writes "result.xml" and "deteil_result.xml"; false (logged) when either cannot be written.
    bool WriteResultFiles(std::time_t start, std::time_t end, int resultCode);
    void SignalBackupComplete(EventHandle& event);
    void CallJudgeShutdown();
    const std::atomic<int>* CancelFlag() const;

    ShareFactory shareFactory_;
    CBackupSQLUtility& fileList_;
    MessageSink& messageSink_;
    NamedEvents& namedEvents_;
    Clock& clock_;
    std::string backupFolderPath_;
    const SystemInfo& systemInfo_;
    CommonSettingLoader loadCommonSetting_;
    BackupSettingLoader loadBackupSetting_;
    CProfileStore* profileStore_;
    BackupProgress& progress_;
    std::atomic<int>& shutdownAfterBackup_;
    std::unique_ptr<LocalFileSystem> ownedFileSystem_;  // when none was handed in
    LocalFileSystem* fileSystem_;
    RestoreMarks restoreMarks_;
    std::function<void()> messageBoxForShutdownBackup_;
    std::function<void()> judgeShutdown_;

    // State of the current run.
    int shutdownMode_ = 0;        // read once at the start of the run
    int runResultCode_ = 0;       // the code of the result files this run wrote last
    int connectionFailures_ = 0;  // consecutive requests that found the device gone
    int lastConnectionError_ = 0;
    std::unique_ptr<DeviceShare> share_;
    std::string connectedHost_;  // empty while not connected
    BackupFolderPairs folderPairs_;
    std::array<ExclusionFilter, kBackupFolderPairCount> exclusions_;
    BackupErrorList errorList_;
    // Deletion candidates (source paths from the file list), in ascending byte order like the
    // file list's listing, so lookups and removals stay logarithmic.
    std::set<std::string> fileCandidates_;
    std::set<std::string> folderCandidates_;
    // Stored last-write times of the pair in its differential pass, read in one go.
    BackupTimeMap storedTimes_;
    // Hashes of the case-folded paths of the live entries of the mirroring pass: a deletion
    // candidate among them is the same name on the device and keeps its copy.
    std::unordered_set<std::size_t> claimedNames_;
    std::set<std::string> unfinishedRestores_;  // read at the start of a mirroring run
    // Copies handed to the share ahead of their turn, by source path (see QueueFolderCopies).
    std::unordered_map<std::string, CopyTicket> queuedCopies_;
};

}  // namespace tessarine
