#include "app/backup_utility_app.h"

#include <sys/stat.h>

#include <cerrno>
#include <exception>
#include <filesystem>
#include <system_error>

#include "app/restore_command.h"
#include "backup/backup_sql_utility.h"
#include "base/app_log.h"
#include "core/deadline_wait.h"
#include "core/event_names.h"
#include "detection/detect_file_result_sql_utility.h"
#include "detection/detect_file_sql_utility.h"
#include "infra/log_setting.h"
#include "platform/app_paths.h"
#include "platform/posix/folders.h"
#include "settings/first_run.h"
#include "settings/profile_store.h"

namespace tessarine {

namespace {

constexpr char kClassTitle[] = "BackupUtilityApp";
constexpr char kProfileExtension[] = ".msf";
constexpr char kDatabaseExtension[] = ".db";
constexpr char kLogSettingFile[] = "setting.xml";
constexpr std::array<const char*, 4> kDataSubFolders = {"log/", "backup/", "detectfile/",
                                                        "detectfile/result/"};
constexpr std::array<const char*, CBackupUtilityApp::kWorkerCount> kWorkerNames = {
    "BackupSchedule", "DetectFileSchedule", "DetectFileResultCheck"};

// Indexes into the event table (core/event_names.h) of the three shutdown events.
constexpr std::array<std::size_t, 3> kShutdownEvents = {2, 3, 4};
static_assert(kNamedEventsInOrder[2] == kEventBackupShutDown);
static_assert(kNamedEventsInOrder[3] == kEventDetectFileShutDown);
static_assert(kNamedEventsInOrder[4] == kEventDetectFileResultShutDown);

// Without ALLUSERSPROFILE the data lives under the user's XDG data folder, which a fresh
// account may not have yet; the all-users profile folder itself is never created.
void EnsureXdgDataRoot(const std::string& parentFolder) {
    std::string value;
    if (GetEnvironmentValue("ALLUSERSPROFILE", value) && !value.empty()) return;
    std::filesystem::path root = std::filesystem::path(parentFolder).parent_path().parent_path();
    std::error_code ignored;
    if (!root.empty()) std::filesystem::create_directories(root, ignored);
}

// True when something (a file, a folder, a link) holds the name; a link is not followed.
bool EntryExists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 || errno != ENOENT;
}

}  // namespace

CBackupUtilityApp::CBackupUtilityApp(Clock& clock, const SystemInfo& systemInfo,
                                     MessageSink& messageSink)
    : platform_(clock, systemInfo, messageSink),
      runReporter_(backupProgress_, backupExecuting_,
                   [this] { return platform_.events.Signal(std::string(kEventBackupNow)); }),
      controlServer_(platform_.events) {}

CBackupUtilityApp::~CBackupUtilityApp() {
    if (started_ && !exited_) ExitInstance();
    if (!abandonedWorkers_.empty()) {
        // A worker still running must not be destroyed (its destructor would wait for the
        // thread), nor the settings and the file list it may still use. The process is ending;
        // they are left to it.
        for (auto& worker : abandonedWorkers_) AbandonWorker(std::move(worker));
        static_cast<void>(profileStore_.release());
        static_cast<void>(backupFileList_.release());
        static_cast<void>(detectFileList_.release());
        static_cast<void>(detectFileResults_.release());
    }
}

CBackupSQLUtility& CBackupUtilityApp::BackupFileList() {
    if (!backupFileList_)
        backupFileList_ =
            std::make_unique<CBackupSQLUtility>(dataFolder_ + title_ + kDatabaseExtension);
    return *backupFileList_;
}

CDetectFileSQLUtility& CBackupUtilityApp::DetectFileList() {
    if (!detectFileList_)
        detectFileList_ =
            std::make_unique<CDetectFileSQLUtility>(dataFolder_ + title_ + kDatabaseExtension);
    return *detectFileList_;
}

CDetectFileResultSQLUtility& CBackupUtilityApp::DetectFileResults() {
    if (!detectFileResults_)
        detectFileResults_ = std::make_unique<CDetectFileResultSQLUtility>(dataFolder_ + title_ +
                                                                           kDatabaseExtension);
    return *detectFileResults_;
}

void CBackupUtilityApp::AddDatabaseInitializer(DatabaseInitializer initialize,
                                               std::string errorText) {
    databases_.emplace_back(std::move(initialize), std::move(errorText));
}

void CBackupUtilityApp::SetWorkerFactory(WorkerSlot slot, WorkerFactory factory) {
    factories_[slot] = std::move(factory);
}

void CBackupUtilityApp::SetMainWindowStep(StartupStep step) { mainWindowStep_ = std::move(step); }

bool CBackupUtilityApp::InitInstance() {
    if (started_) return failure_ == StartupFailure::kNone;
    started_ = true;

    dataFolder_ = GetDataFolderPath();
    title_ = GetExecutableTitle();
    if (dataFolder_.empty() || title_.empty()) {
        failure_ = StartupFailure::kNoDataFolder;
        return false;
    }
    if (!AcquireSingleInstance()) return false;
    if (!PrepareDataFolders()) return false;

    InitAppLog(dataFolder_, title_);
    for (const std::string& text : pendingErrors_) LOG_ERROR(text);
    pendingErrors_.clear();
    LOG_BANNER(std::string(kClassTitle) + " Start up");
    LOG_METHOD();
    LOG_TRACE(std::string(firstRun_ ? "First Run." : "Existing Installation.") +
              " DataFolder:" + dataFolder_);

    CreateNamedEvents();
    if (!StartControlServer()) return false;

    if (!InitializeDatabases()) {
        failure_ = StartupFailure::kDatabase;
        return false;
    }
    WireControlBlocks();
    StartWorkers();

    if (mainWindowStep_) {
        bool created = false;
        try {
            created = mainWindowStep_();
        } catch (const std::exception& e) {
            LOG_ERROR(std::string("Create Main Window Exception. ") + e.what());
        }
        if (!created) {
            LOG_ERROR("Create Main Window Error.");
            failure_ = StartupFailure::kMainWindow;
            failureDetail_ = "main window";
            return false;
        }
    }
    return true;
}

bool CBackupUtilityApp::EnsureDataFolder(const std::string& path, bool& created,
                                         bool mustBePrivate) {
    switch (EnsureFolder(path, platform_.clock)) {
        case FolderResult::kCreated:
            created = true;
            break;
        case FolderResult::kExisted:
            break;
        case FolderResult::kFailed:
            failure_ = StartupFailure::kDataFolders;
            failureDetail_ = path;
            return false;
    }
    if (!mustBePrivate) return true;
    // Another user who can write here could plant links in place of our files.
    const std::string problem = CheckPrivateFolder(path);
    if (problem.empty()) return true;
    failure_ = StartupFailure::kDataFolderUnsafe;
    failureDetail_ = path + " " + problem;
    return false;
}

bool CBackupUtilityApp::AcquireSingleInstance() {
    const std::string folder = RuntimeFolderPath(dataFolder_);
    if (folder == dataFolder_) {
        // No session runtime folder: the lock lives in the data folder, so that must exist
        // first.
        const std::string parent = GetDataParentFolderPath();
        EnsureXdgDataRoot(parent);
        bool created = false;
        if (!EnsureDataFolder(parent, created, false) ||
            !EnsureDataFolder(dataFolder_, created, true))
            return false;
    }
    const std::string lockPath = SingleInstanceLock::LockFilePath(folder, title_);
    switch (instanceLock_.Acquire(lockPath)) {
        case LockResult::kAcquired:
            return true;
        case LockResult::kBusy:
            failure_ = StartupFailure::kAlreadyRunning;
            return false;
        case LockResult::kFailed:
            break;
    }
    failure_ = StartupFailure::kLockFailed;
    failureDetail_ = lockPath;
    return false;
}

bool CBackupUtilityApp::PrepareDataFolders() {
    const std::string parent = GetDataParentFolderPath();
    EnsureXdgDataRoot(parent);
    bool created = false;
    if (!EnsureDataFolder(parent, created, false) || !EnsureDataFolder(dataFolder_, created, true))
        return false;
    for (const char* sub : kDataSubFolders) {
        if (!EnsureDataFolder(dataFolder_ + sub, created, true)) return false;
    }

    // A first run is decided by the settings file alone: a folder that went missing (someone
    // removed log/) is made again above, and the existing settings stay as they are.
    const std::string profilePath = dataFolder_ + title_ + kProfileExtension;
    firstRun_ = !EntryExists(profilePath);

    profileStore_ = std::make_unique<CProfileStore>(profilePath);
    if (firstRun_) {
        if (WriteFirstRunSettings(*profileStore_) != 0)
            pendingErrors_.push_back("Write First Run Settings Error. Path:" + profilePath);
    } else if (UpgradeProfile(*profileStore_) != 0) {
        pendingErrors_.push_back("Upgrade Settings Error. Path:" + profilePath);
    }

    // Without its switch file the log would fall back to its default limit and no debug
    // lines, so a missing one is written again; an existing one is the user's and stays.
    const std::string logFolder = dataFolder_ + "log/";
    if (!EntryExists(logFolder + kLogSettingFile)) {
        if (!CreateDefaultLogSetting(logFolder))
            pendingErrors_.push_back("Create Log Setting Error. Path:" + logFolder +
                                     kLogSettingFile);
    }
    return true;
}

void CBackupUtilityApp::CreateNamedEvents() {
    LOG_METHOD();
    for (std::size_t i = 0; i < kNamedEventsInOrder.size(); ++i)
        events_[i] = platform_.events.Create(std::string(kNamedEventsInOrder[i]));
}

bool CBackupUtilityApp::StartControlServer() {
    // A restore from the command line holds the backup running flag as the settings window
    // does: no backup (and no mirroring) starts meanwhile.
    controlServer_.SetHoldHandlers(
        [this](const std::string& name) {
            if (name != kBackupRunningClaim) return kHoldUnknown;
            int idle = 0;
            return backupExecuting_.compare_exchange_strong(idle, 1) ? kHoldGranted : kHoldBusy;
        },
        [this](const std::string&) { backupExecuting_.store(0); });
    controlServer_.SetRunHandler(
        [this](const std::string& name, int fd) { return runReporter_.Take(name, fd); });
    // Without its socket the instance could not be reached by --signal, and the name might be
    // someone else's: a start-up failure, not a degraded run.
    if (controlServer_.Start(ControlSocketFolder(dataFolder_), title_)) return true;
    LOG_ERROR("Start Control Socket Error.");
    failure_ = StartupFailure::kControlSocket;
    failureDetail_ = controlServer_.Problem();
    return false;
}

bool CBackupUtilityApp::InitializeDatabases() {
    for (const auto& [initialize, errorText] : databases_) {
        int result = -1;
        try {
            result = initialize();
        } catch (const std::exception& e) {
            LOG_ERROR(std::string("Initialize Exception. ") + e.what());
        }
        if (result != 0) {
            LOG_ERROR(errorText);
            failureDetail_ = errorText;
            return false;
        }
    }
    return true;
}

void CBackupUtilityApp::WireControlBlocks() {
    blocks_[kBackupSchedule] = {&stopRequested_, &backupScheduleRunning_, &backupExecuting_};
    blocks_[kDetectFileSchedule] = {&stopRequested_, &detectFileScheduleRunning_,
                                    &detectFileExecuting_};
    // The result checker starts no runs: it has its own running flag only.
    blocks_[kDetectFileResultCheck] = {&stopRequested_, &detectFileResultCheckRunning_, nullptr};
}

void CBackupUtilityApp::StartWorkers() {
    LOG_METHOD();
    for (int slot = 0; slot < kWorkerCount; ++slot) {
        if (!factories_[slot]) continue;
        try {
            workers_[slot] = factories_[slot](platform_);
        } catch (const std::exception& e) {
            LOG_ERROR(std::string("Create Worker Error. Worker:") + kWorkerNames[slot] + " " +
                      e.what());
        }
        if (!workers_[slot]) continue;
        workers_[slot]->SetControlBlock(&blocks_[slot]);
        workers_[slot]->StartThread();  // a failure is logged there; we run without it
    }
}

int CBackupUtilityApp::ExitInstance() {
    if (exited_) return 0;
    exited_ = true;
    LOG_METHOD();

    stopRequested_.store(1);
    // Nothing from outside is taken any more; the socket file goes while we hold the lock.
    controlServer_.Stop();
    for (std::size_t index : kShutdownEvents) {
        if (events_[index]) events_[index]->Set();
    }
    platform_.clock.Sleep(kShutdownSettleTime);
    instanceLock_.Release();

    WaitForWorkers();
    // A run that was going has ended (or was given up): its watchers have their answer.
    runReporter_.Stop();

    for (auto& event : events_) event.reset();
    platform_.events.CloseAll();

    DeleteWorkers();

    LOG_BANNER(std::string(kClassTitle) + " Finish");
    return 0;
}

void CBackupUtilityApp::WaitForWorkers() {
    const std::array<const std::atomic<int>*, kWorkerCount> flags = {
        &backupScheduleRunning_, &detectFileScheduleRunning_, &detectFileResultCheckRunning_};
    for (int slot = 0; slot < kWorkerCount; ++slot) {
        const std::atomic<int>* flag = flags[slot];
        // A thread that has not reached its loop yet has not raised our flag: its own running
        // state, set before the thread starts, tells that it has truly ended.
        const CThreadCommon* worker = workers_[slot].get();
        if (!WaitUntilDone(platform_.clock, kWorkerWaitLimit, kWorkerWaitSlice, [flag, worker] {
                return flag->load() == 0 && (worker == nullptr || !worker->IsThreadRunning());
            })) {
            LOG_ERROR(std::string("Worker Did Not Finish In Time. Worker:") + kWorkerNames[slot]);
        }
    }
}

void CBackupUtilityApp::DeleteWorkers() {
    const std::array<const std::atomic<int>*, kWorkerCount> flags = {
        &backupScheduleRunning_, &detectFileScheduleRunning_, &detectFileResultCheckRunning_};
    for (int slot = 0; slot < kWorkerCount; ++slot) {
        if (!workers_[slot]) continue;
        // A scheduler that gave up on its run has ended, but the run still uses the scheduler's
        // executor and our flags: it is left running too.
        const std::atomic<int>* executing = blocks_[slot].executorRunning;
        if (flags[slot]->load() != 0 || workers_[slot]->IsThreadRunning() ||
            (executing != nullptr && executing->load() != 0)) {
            LOG_ERROR(std::string("Worker Left Running. Worker:") + kWorkerNames[slot]);
            abandonedWorkers_.push_back(std::move(workers_[slot]));
            continue;
        }
        workers_[slot].reset();
    }
}

}  // namespace tessarine
