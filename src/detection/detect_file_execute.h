// One forwarding run on its own thread: reads the device's detection setting and, when detection
// is on and the device has taken in everything sent before, walks the fixed drives and copies
// every file of a listed extension and allowed size into the device's import folder under a
// unique name, records it in the detection file list and announces it in a file list after
// every 100 copied files and at the end. A changed device setting sends every file again.
#pragma once

#include <ctime>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/message_sink.h"
#include "core/thread_common.h"
#include "detection/detect_file_server_setting.h"
#include "detection/detect_file_sql_utility.h"
#include "platform/clock.h"
#include "platform/device_share.h"
#include "platform/fixed_drive_list.h"
#include "platform/local_file_system.h"
#include "platform/system_info.h"
#include "settings/setting_records.h"

namespace tessarine {

class CDetectFileExecute : public CThreadCommon {
public:
    using ShareFactory = std::function<std::unique_ptr<DeviceShare>()>;
    using CommonSettingLoader = std::function<int(CCommonSetting&)>;

    // Copied files after which a file list is sent during the walk.
    static constexpr int kFileListBatch = 100;
    // Failures in a row within one folder that the walk lets pass; one more ends it.
    static constexpr int kRetryLimit = 5;
    // Unchanged files whose settled status is written in one transaction.
    static constexpr std::size_t kStatusBatch = 2000;
    // Copies of one folder handed to the share ahead of the one whose outcome is handled (a
    // share with copier processes makes several at a time).
    static constexpr std::size_t kCopiesAhead = 16;

    struct Dependencies {
        ShareFactory shareFactory;  // one share object per run
        CDetectFileSQLUtility& fileList;
        MessageSink& messageSink;
        Clock& clock;
        const SystemInfo& systemInfo;
        // Fills a record made on `profileStore`; 0 on success. Empty: the record's own Load.
        CommonSettingLoader loadCommonSetting;
        CProfileStore* profileStore;
        // The local "detectfile/" folder: the device's setting is copied here and the file list
        // written here.
        std::string detectFileFolderPath;
        // Folders never walked (the program's own data folder).
        std::vector<std::string> excludedFolders;
        // Null: the local disk and this machine's mounts.
        LocalFileSystem* localFileSystem = nullptr;
        std::shared_ptr<FixedDriveList> driveList = nullptr;
    };

    explicit CDetectFileExecute(Dependencies dependencies);
    ~CDetectFileExecute() override;

    // One complete run: 0 normal end (also when nothing was due), 1 when it ended by a failure.
    int ThreadCore() override;

    // Size and extension test of one file of the walk (`fullPath` for the trace).
    bool IsEnableForwardFile(const LocalEntry& entry, const std::string& fullPath) const;
    // The name on the device of a local file name that has an extension: computer name, base
    // (cut to fit 200 characters), the processing time, the extension; one second later for
    // every name already used. Characters the share cannot hold in a name become '_'.
    std::string CreateServerFileName(const std::string& fileName);
    // For tests that call the two above without a run.
    void SetServerSetting(CDetectFileServerSetting setting) { setting_ = std::move(setting); }
    void SetComputerName(std::string name) { computerName_ = std::move(name); }
    std::time_t ProcessingTime() const { return processingTime_; }

private:
    struct ScanFailure {
        std::string message;
    };
    struct StopRequested {};
    // A file whose copy was queued: what its row needs once the copy is whole.
    struct PendingCopy {
        std::string path;
        std::string name;
        std::time_t lastWriteTime = 0;
        bool isNew = false;  // a row is added (else updated)
        std::string serverName;
        std::time_t processingTime = 0;
        CopyTicket ticket = 0;
        // False: no copy, only the place of settled files between two copies (a settled file
        // ends a row of failures, as a copied one does).
        bool isCopy = true;
    };

    int Run();
    int ConnectShare(const CCommonSetting& common);
    void ReadServerSetting();
    // 1 when the device's import folder holds an entry (our own unannounced copies aside).
    int IsExistForwardedFile();
    // The import folder was found empty: drops the record of sent names and the rows whose
    // copies no list announced.
    void ForgetCopiesOffTheDevice();
    void ForwardDrives(bool full);
    void ExecuteFullForward(const std::string& folder);
    void ExecuteDiffForward(const std::string& folder);
    void Scan(const std::string& folder, bool differential);
    // Scan, ending with CDetectFileExecuteException(errorCode) whatever ended the walk.
    void ScanReportingAs(const std::string& folder, bool differential, int errorCode);
    enum class Handled { kFailed, kSettled, kQueued };
    // Handles one eligible file: settles an unchanged one, queues the copy of a new or changed
    // one; kFailed after its error line.
    Handled HandleFile(const std::string& path, const LocalEntry& entry, bool differential);
    // Handles the outcome of the oldest queued copy as the walk handles a file: the row, the
    // counts, the failures in a row of `folder` and the file list after every batch.
    void TakePendingCopy(const std::string& folder, int& retryCount);
    void TakePendingCopies(const std::string& folder, int& retryCount);
    // Counts one failed file of `folder`; throws once too many failed in a row.
    void CountFailure(const std::string& folder, int& retryCount);
    // Forgets the queued copies whose outcome was not handled (the run ends early).
    void DropPendingCopies();
    // Records a whole copy; false after its error line when the row could not be written.
    bool RecordCopy(const PendingCopy& copy);
    const std::atomic<int>* CancelFlag() const;
    // Writes the settled files' status; false after its error lines when a write failed.
    bool FlushSettledStatus();
    // Writes the file list, sends it and settles its rows; throws when the list does not go.
    // False when the status writes before it failed (the list went).
    bool SendFileList(bool endOfRun);
    // Writes the local file list; the number of rows it announces.
    int CreateFileList();
    // Claims a list name, copies the list under its staging name and renames it to that name:
    // 0, or 1 after the error lines.
    int ForwardFileList();
    std::string NextFileListName();
    // Records `name` as sent, then claims it in the import folder (an empty file that the copy
    // replaces). Every user of this PC sends under its computer name, so another user's
    // forwarder may hold the name: kTaken then, the record undone and the name kept from this
    // run. kNotRecorded and kFailed after the record's or the claim's error line.
    enum class Claim { kClaimed, kTaken, kNotRecorded, kFailed };
    Claim ClaimServerName(const std::string& name);
    // The same for a file list: both names recorded, the staging name claimed, and the list
    // name still free on the device.
    Claim ClaimFileListName(const std::string& name, const std::string& staged);
    // Claims the names nextName gives, one after another, while another sender holds them (up
    // to kClaimTries): kClaimed, kNotRecorded, or kFailed. `name` is the last name tried.
    Claim ClaimWithRetries(const std::function<std::string()>& nextName,
                           const std::function<Claim(const std::string&)>& claimOne,
                           std::string& name);
    // A name another sender holds: logged, kept from this run and its records dropped; kTaken,
    // or kFailed after the error line when a record stays.
    Claim ReleaseTakenName(const std::string& name, std::initializer_list<std::string> recorded);
    int PublishFileList(const std::string& localPath, const std::string& name,
                        const std::string& staged);
    // The list recorded as being published (SetPublishingFileList): its staging copy still
    // there means it never went out (the copy goes, the mark too); gone means it did, and its
    // rows are marked announced. kUnknown when the folder cannot tell (the mark stays).
    enum class Publishing { kNone, kPublished, kNotPublished, kUnknown };
    Publishing SettlePublishingFileList();
    bool IsWalkedFolder(const std::string& path) const;
    std::string ImportFolder() const;
    void SetRunning(int state);

    ShareFactory shareFactory_;
    CDetectFileSQLUtility& fileList_;
    MessageSink& messageSink_;
    Clock& clock_;
    const SystemInfo& systemInfo_;
    CommonSettingLoader loadCommonSetting_;
    CProfileStore* profileStore_;
    std::string detectFileFolderPath_;
    std::vector<std::string> excludedFolders_;
    std::unique_ptr<LocalFileSystem> ownedFileSystem_;
    LocalFileSystem* fileSystem_;
    std::shared_ptr<FixedDriveList> driveList_;

    // State of the current run.
    std::unique_ptr<DeviceShare> share_;
    std::string address_;
    std::string computerName_;
    CDetectFileServerSetting setting_;
    std::time_t processingTime_ = 0;
    std::time_t lastFileListTime_ = 0;
    int forwardedCount_ = 0;
    int totalForwarded_ = 0;  // files copied in the run (file lists not counted)
    int failedFiles_ = 0;     // files of the run counted as failed
    std::string lastFileListName_;
    std::set<std::string> mountPoints_;
    std::string currentRoot_;
    DetectFileStateMap states_;
    std::vector<std::string> settled_;  // unchanged files waiting for their status write
    std::unordered_set<std::string> namesThisRun_;  // copied, or queued for a copy
    std::deque<PendingCopy> pending_;               // queued copies, oldest first
    std::size_t queuedCopies_ = 0;                  // entries of pending_ that are copies
    bool importFolderEmpty_ = false;  // listed at the start of the run and found empty
};

}  // namespace tessarine
