// The application object: start-up (single instance, data folders and settings, log, named
// events, control socket, databases, workers, main window) and the orderly shutdown that stops
// the workers within bounded waits. One per process.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/app_platform.h"
#include "app/backup_run_reporter.h"
#include "core/event_names.h"
#include "core/progress_counters.h"
#include "core/thread_common.h"
#include "platform/named_events.h"
#include "platform/posix/control_socket.h"
#include "platform/posix/single_instance.h"

namespace tessarine {

class CBackupSQLUtility;
class CDetectFileSQLUtility;
class CDetectFileResultSQLUtility;
class CProfileStore;

// Why InitInstance returned false.
enum class StartupFailure {
    kNone,
    kAlreadyRunning,    // another instance holds the lock: end quietly, nothing was touched
    kLockFailed,        // the single-instance lock file could not be opened
    kNoDataFolder,      // no profile folder, or executable title, to form the data folder from
    kDataFolders,       // a folder could not be created after its retries
    kDataFolderUnsafe,  // the data folder or a sub-folder is another user's or open to writes
    kDatabase,          // a database did not initialise
    kMainWindow,        // the main window could not be created
    kControlSocket,     // the control socket could not be set up
};

class CBackupUtilityApp {
public:
    // The three long-lived workers, in start order.
    enum WorkerSlot : int {
        kBackupSchedule = 0,
        kDetectFileSchedule = 1,
        kDetectFileResultCheck = 2,
        kWorkerCount = 3,
    };
    using WorkerFactory = std::function<WorkerPtr<CThreadCommon>(Platform&)>;
    // Returns 0 on success, non-zero on failure (the databases' Initialize).
    using DatabaseInitializer = std::function<int()>;
    using StartupStep = std::function<bool()>;

    // Shutdown waits: each long-lived worker gets this long to drop its running flag, looked
    // at every slice.
    static constexpr std::chrono::milliseconds kWorkerWaitLimit{100000};
    static constexpr std::chrono::milliseconds kWorkerWaitSlice{100};
    static constexpr std::chrono::milliseconds kShutdownSettleTime{500};

    CBackupUtilityApp(Clock& clock, const SystemInfo& systemInfo, MessageSink& messageSink);
    // Runs ExitInstance when start-up ran and shutdown did not.
    virtual ~CBackupUtilityApp();
    CBackupUtilityApp(const CBackupUtilityApp&) = delete;
    CBackupUtilityApp& operator=(const CBackupUtilityApp&) = delete;

    // --- Extension points, set before InitInstance -------------------------------------------
    // Databases to initialise in order after the events exist; a non-zero result logs
    // `errorText` ("Initialize Backup Table Error.") and ends start-up.
    void AddDatabaseInitializer(DatabaseInitializer initialize, std::string errorText);
    // How to make a worker; a slot without a factory (or whose factory returns null) stays
    // empty and the program runs without that worker.
    void SetWorkerFactory(WorkerSlot slot, WorkerFactory factory);
    // The last start-up step (the tray window); false ends start-up. Without one, start-up
    // ends with the workers running (headless).
    void SetMainWindowStep(StartupStep step);

    // --- Start-up and shutdown ---------------------------------------------------------------
    // True to run the program; false ends it (StartupFailureReason says why). ExitInstance must
    // follow in both cases.
    bool InitInstance();
    // Stops and deletes the workers; returns the process exit code (0). Runs once; later calls
    // return at once.
    int ExitInstance();

    StartupFailure StartupFailureReason() const { return failure_; }
    // The path or step behind a failure, for a message where the log cannot be written yet.
    const std::string& StartupFailureDetail() const { return failureDetail_; }
    // True when start-up found a new installation (a folder or the settings file was missing).
    bool IsFirstRun() const { return firstRun_; }

    // --- What the workers and the user interface read ----------------------------------------
    Platform& GetPlatform() { return platform_; }
    const std::string& DataFolderPath() const { return dataFolder_; }
    const std::string& ExecutableTitle() const { return title_; }
    // The settings file, from the data folder step of start-up on; null before.
    CProfileStore* ProfileStore() const { return profileStore_.get(); }
    // The backup file list on the data folder's database file, opened by the first call (the
    // database step of start-up).
    CBackupSQLUtility& BackupFileList();
    // The detection file list on the same database file (its own connection), opened likewise.
    CDetectFileSQLUtility& DetectFileList();
    // The detection results on the same database file, opened by the first call.
    CDetectFileResultSQLUtility& DetectFileResults();
    // Progress of the backup run, written by the executor and read by the tray.
    BackupProgress& Progress() { return backupProgress_; }
    // Whether the PC shuts down after the backup before shutdown (1 unless the user said no).
    std::atomic<int>& ShutdownAfterBackup() { return shutdownAfterBackup_; }
    const ControlServer& GetControlServer() const { return controlServer_; }

    const std::atomic<int>& StopFlag() const { return stopRequested_; }
    const std::atomic<int>& BackupScheduleRunning() const { return backupScheduleRunning_; }
    const std::atomic<int>& BackupExecuting() const { return backupExecuting_; }
    const std::atomic<int>& DetectFileScheduleRunning() const { return detectFileScheduleRunning_; }
    const std::atomic<int>& DetectFileExecuting() const { return detectFileExecuting_; }
    // The settings window holds these while it saves, so that no run starts meanwhile.
    std::atomic<int>& BackupExecutingForSave() { return backupExecuting_; }
    std::atomic<int>& DetectFileExecutingForSave() { return detectFileExecuting_; }
    const std::atomic<int>& DetectFileResultCheckRunning() const {
        return detectFileResultCheckRunning_;
    }
    ThreadControlBlock* ControlBlock(WorkerSlot slot) { return &blocks_[slot]; }
    CThreadCommon* Worker(WorkerSlot slot) const { return workers_[slot].get(); }
    // The event handles made at start-up, in creation order; null before start-up and after
    // shutdown.
    const std::array<EventHandle, kNamedEventsInOrder.size()>& EventHandles() const {
        return events_;
    }

    // Workers that did not end within their waits, or whose executor run did not. They are
    // left running (deleting one would wait for its thread) and are never destroyed by the
    // application; the process ends with them. A test takes them to let them finish and
    // destroy them itself.
    bool HasAbandonedWorkers() const { return !abandonedWorkers_.empty(); }
    std::vector<WorkerPtr<CThreadCommon>> TakeAbandonedWorkers() {
        return std::move(abandonedWorkers_);
    }

private:
    bool AcquireSingleInstance();
    // kCreated/kExisted/kFailed of one folder; a failure records kDataFolders. A folder we
    // write in (`mustBePrivate`) must also be ours and closed to writes by others, else
    // kDataFolderUnsafe.
    bool EnsureDataFolder(const std::string& path, bool& created, bool mustBePrivate);
    bool PrepareDataFolders();
    void CreateNamedEvents();
    bool StartControlServer();
    bool InitializeDatabases();
    void WireControlBlocks();
    void StartWorkers();
    void WaitForWorkers();
    void DeleteWorkers();

    Platform platform_;
    std::string dataFolder_;
    std::string title_;
    StartupFailure failure_ = StartupFailure::kNone;
    std::string failureDetail_;
    bool firstRun_ = false;
    bool started_ = false;  // InitInstance ran
    bool exited_ = false;   // ExitInstance ran
    // Errors met before the log was initialised, written right after.
    std::vector<std::string> pendingErrors_;

    std::atomic<int> stopRequested_{0};
    std::atomic<int> backupScheduleRunning_{0};
    std::atomic<int> backupExecuting_{0};
    std::atomic<int> detectFileScheduleRunning_{0};
    std::atomic<int> detectFileExecuting_{0};
    std::atomic<int> detectFileResultCheckRunning_{0};
    std::array<ThreadControlBlock, kWorkerCount> blocks_{};

    std::array<WorkerFactory, kWorkerCount> factories_{};
    std::array<WorkerPtr<CThreadCommon>, kWorkerCount> workers_{};
    std::vector<WorkerPtr<CThreadCommon>> abandonedWorkers_;
    std::vector<std::pair<DatabaseInitializer, std::string>> databases_;
    StartupStep mainWindowStep_;

    SingleInstanceLock instanceLock_;
    // What the application lends its workers; the workers go before these do.
    std::unique_ptr<CProfileStore> profileStore_;
    std::unique_ptr<CBackupSQLUtility> backupFileList_;
    std::unique_ptr<CDetectFileSQLUtility> detectFileList_;
    std::unique_ptr<CDetectFileResultSQLUtility> detectFileResults_;
    BackupProgress backupProgress_;
    std::atomic<int> shutdownAfterBackup_{1};
    std::array<EventHandle, kNamedEventsInOrder.size()> events_{};
    // Serves "TessarineTool --backup-now"; goes after the control server that feeds it.
    BackupRunReporter runReporter_;
    ControlServer controlServer_;
};

}  // namespace tessarine
