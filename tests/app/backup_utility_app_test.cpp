#include "app/backup_utility_app.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "app/backup_wiring.h"
#include "app/detect_file_wiring.h"
#include "app/detect_result_wiring.h"
#include "app/headless_message_sink.h"
#include "backup/backup_schedule.h"
#include "backup/backup_sql_utility.h"
#include "base/app_log.h"
#include "core/event_names.h"
#include "detection/detect_file_result_sql_utility.h"
#include "detection/detect_file_sql_utility.h"
#include "fakes/fake_clock.h"
#include "fakes/recording_message_sink.h"
#include "fakes/test_support.h"
#include "infra/log_setting.h"
#include "platform/app_paths.h"
#include "settings/profile_store.h"
#include "settings/setting_records.h"

namespace tessarine {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing::FakeClock;
using testing::ReadFile;
using testing::RecordingMessageSink;
using testing::ScopedEnv;
using testing::TempDir;
using testing::WriteFile;

constexpr const char* kDataSubFolders[] = {"", "log/", "backup/", "detectfile/",
                                           "detectfile/result/"};

// Journal of what the fake workers saw, shared with the test.
struct WorkerJournal {
    std::mutex mutex;
    std::vector<std::string> destroyed;
    std::map<std::string, int> stopSeenOnWake;  // stop flag when the shutdown event woke it
};

// A long-lived worker that behaves: flag up, wait for its shutdown event, flag down.
class ObedientWorker : public CThreadCommon {
public:
    ObedientWorker(NamedEvents& events, std::string name, std::string shutdownEvent,
                   WorkerJournal& journal)
        : events_(events),
          name_(std::move(name)),
          shutdownEvent_(std::move(shutdownEvent)),
          journal_(journal) {}
    ~ObedientWorker() override {
        std::lock_guard lock(journal_.mutex);
        journal_.destroyed.push_back(name_);
    }

protected:
    int ThreadCore() override {
        std::atomic<int>* running = RunningFlag();
        running->store(1);
        const EventHandle event = events_.Open(shutdownEvent_);
        const bool woke = event && events_.WaitAny({event}, 10000) == 0;
        {
            std::lock_guard lock(journal_.mutex);
            journal_.stopSeenOnWake[name_] = woke ? GetControlBlock()->stopRequested->load() : -1;
        }
        running->store(0);
        return 0;
    }

    std::atomic<int>* RunningFlag() { return GetControlBlock()->threadRunning; }

    NamedEvents& events_;
    std::string name_;
    std::string shutdownEvent_;
    WorkerJournal& journal_;
};

// A worker that raises its flag and does not come back until the test lets it.
class HungWorker : public CThreadCommon {
public:
    explicit HungWorker(std::atomic<bool>& release) : release_(release) {}

protected:
    int ThreadCore() override {
        GetControlBlock()->threadRunning->store(1);
        while (!release_.load()) std::this_thread::sleep_for(1ms);
        return 0;
    }

private:
    std::atomic<bool>& release_;
};

// A backup run stuck in a share call: it ignores the stop flag until the test lets it go.
class StuckRunner : public CBackupRunner {
public:
    explicit StuckRunner(std::atomic<bool>& release) : release_(release) {}

protected:
    int ThreadCore() override {
        while (!release_.load()) std::this_thread::sleep_for(1ms);
        GetControlBlock()->executorRunning->store(0);
        return 0;
    }

private:
    std::atomic<bool>& release_;
};

template <typename Predicate>
bool WaitFor(Predicate predicate) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class BackupUtilityAppTest : public ::testing::Test {
protected:
    BackupUtilityAppTest() {
        mkdir(temp_.Sub("profile").c_str(), 0755);
        mkdir(temp_.Sub("run").c_str(), 0700);
    }
    ~BackupUtilityAppTest() override { CAppLog::Get().Reset(); }

    std::unique_ptr<CBackupUtilityApp> MakeApp() {
        return std::make_unique<CBackupUtilityApp>(clock_, DefaultSystemInfo(), sink_);
    }
    std::string DataFolder() const { return temp_.Sub("profile/corvane/Tessarine Tool/"); }
    std::string Title() const { return GetExecutableTitle(); }
    std::string ProfilePath() const { return DataFolder() + Title() + ".msf"; }
    std::string LogText() const { return ReadFile(DataFolder() + "log/" + Title() + ".log"); }
    std::string RuntimeFolder() const { return temp_.Sub("run/"); }
    void MakeDataFolders() {
        for (const char* sub : kDataSubFolders) fs::create_directories(DataFolder() + sub);
    }

    TempDir temp_;
    ScopedEnv profileEnv_{"ALLUSERSPROFILE", temp_.Sub("profile")};
    ScopedEnv runtimeEnv_{"XDG_RUNTIME_DIR", temp_.Sub("run")};
    FakeClock clock_;
    RecordingMessageSink sink_;
};

TEST_F(BackupUtilityAppTest, FirstRunPreparesFoldersSettingsAndLogSwitch) {
    auto app = MakeApp();
    ASSERT_TRUE(app->InitInstance());
    EXPECT_TRUE(app->IsFirstRun());
    EXPECT_EQ(app->DataFolderPath(), DataFolder());
    EXPECT_TRUE(fs::is_directory(temp_.Sub("profile/corvane")));
    for (const char* sub : kDataSubFolders)
        EXPECT_TRUE(fs::is_directory(DataFolder() + sub)) << sub;

    // The first-run values of all three sections, read from the file itself.
    CProfileStore store(ProfilePath());
    struct Expected {
        const char* section;
        const char* key;
        const char* value;
    };
    const Expected expected[] = {
        {"CommonSetting", "IsCreateShortcutToHost", "TRUE"},
        {"CommonSetting", "HTTPPort", "80"},
        {"CommonSetting", "SearchAgentPort", "61000"},
        {"CommonSetting", "PopupTimeout", "10"},
        {"BackupSetting", "ScheduleSetting", "3"},
        {"BackupSetting", "Weekday_IsSunday", "TRUE"},
        {"BackupSetting", "Weekday_IsSaturday", "TRUE"},
        {"BackupSetting", "IsNotifyBackupComplete", "TRUE"},
        {"BackupSetting", "IsDeletedFileBackup", "FALSE"},
        {"BackupSetting", "BackupErrorMaxCount", "10"},
        {"DetectFileSetting", "IsNotifyDetectFileComplete", "TRUE"},
        {"DetectFileSetting", "ResultWatchInterval", "10"},
    };
    for (const Expected& e : expected)
        EXPECT_EQ(store.GetString(e.section, e.key, "<missing>"), e.value) << e.key;

    // The application's store reads the profile file.
    ASSERT_NE(app->ProfileStore(), nullptr);
    EXPECT_EQ(app->ProfileStore()->FilePath(), ProfilePath());
    CBackupSetting backup(app->ProfileStore());
    ASSERT_EQ(backup.Load(), 0);
    EXPECT_TRUE(backup.isNotifyBackupComplete);

    const LogSetting logSetting = ReadLogSetting(DataFolder() + "log/setting.xml");
    EXPECT_FALSE(logSetting.debug);
    EXPECT_EQ(logSetting.maxSizeMiB, 10);
    EXPECT_EQ(CAppLog::Get().LogFilePath(), DataFolder() + "log/" + Title() + ".log");

    // The eight events in creation order, reachable by name from outside the process.
    NamedEvents& events = app->GetPlatform().events;
    for (std::size_t i = 0; i < kNamedEventsInOrder.size(); ++i) {
        ASSERT_TRUE(app->EventHandles()[i]);
        EXPECT_EQ(events.Open(std::string(kNamedEventsInOrder[i])), app->EventHandles()[i]);
    }
    EXPECT_EQ(ControlClient::Signal(RuntimeFolder(), Title(), "BackupNow"), kControlDelivered);
    EXPECT_EQ(events.WaitAny({app->EventHandles()[5]}, 0), 0u);

    EXPECT_EQ(app->ExitInstance(), 0);
    EXPECT_EQ(app->StopFlag().load(), 1);
    EXPECT_EQ(events.Open("BackupNow"), nullptr);
    EXPECT_FALSE(fs::exists(RuntimeFolder() + Title() + ".sock"));
    EXPECT_EQ(ControlClient::Signal(RuntimeFolder(), Title(), "BackupNow"), kControlNoInstance);
    SingleInstanceLock next;
    EXPECT_EQ(next.Acquire(RuntimeFolder() + Title() + ".lock"), LockResult::kAcquired);
    EXPECT_EQ(clock_.Sleeps(), std::vector<std::chrono::milliseconds>{500ms});
}

// An installation of an older version: its settings file is brought up to date, not reset.
struct UpgradeCase {
    const char* name;
    const char* backupLines;  // lines of [BackupSetting] besides Interval
    const char* deletedFileBackup;
    const char* errorMaxCount;
};

void PrintTo(const UpgradeCase& upgradeCase, std::ostream* out) { *out << upgradeCase.name; }

class UpgradeTest : public BackupUtilityAppTest,
                    public ::testing::WithParamInterface<UpgradeCase> {};

TEST_P(UpgradeTest, OlderSettingsFileGetsTheMissingKeysOnly) {
    MakeDataFolders();
    const std::string ini = std::string("[CommonSetting]\r\nIPV4Address=192.168.1.10\r\n") +
                            "[BackupSetting]\r\nInterval=5\r\n" + GetParam().backupLines +
                            "; kept as it is\r\nUnknownKey=x\r\n";
    ASSERT_TRUE(WriteFile(ProfilePath(), ini));
    const std::string logSwitch =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<log><debug>TRUE</debug>"
        "<max_size>3</max_size></log>\n";
    ASSERT_TRUE(WriteFile(DataFolder() + "log/setting.xml", logSwitch));

    auto app = MakeApp();
    ASSERT_TRUE(app->InitInstance());
    EXPECT_FALSE(app->IsFirstRun());
    CProfileStore store(ProfilePath());
    EXPECT_EQ(store.GetString("BackupSetting", "IsDeletedFileBackup", ""),
              GetParam().deletedFileBackup);
    EXPECT_EQ(store.GetString("BackupSetting", "BackupErrorMaxCount", ""),
              GetParam().errorMaxCount);
    EXPECT_EQ(store.GetString("BackupSetting", "Interval", ""), "5");
    EXPECT_EQ(store.GetString("CommonSetting", "IPV4Address", ""), "192.168.1.10");
    EXPECT_FALSE(store.HasKey("CommonSetting", "IsCreateShortcutToHost"));  // no first-run values
    const std::string after = ReadFile(ProfilePath());
    EXPECT_NE(after.find("; kept as it is"), std::string::npos);
    EXPECT_NE(after.find("UnknownKey=x"), std::string::npos);

    // The existing log switch is kept and read: debug on, 3 MiB.
    EXPECT_EQ(ReadFile(DataFolder() + "log/setting.xml"), logSwitch);
    EXPECT_TRUE(CAppLog::Get().IsDebug());
    EXPECT_EQ(CAppLog::Get().SizeLimit(), 3 << 20);
    EXPECT_EQ(app->ExitInstance(), 0);
    const std::string log = LogText();
    EXPECT_NE(log.find(" ========== BackupUtilityApp Start up ========== "), std::string::npos);
    EXPECT_NE(log.find(" ========== BackupUtilityApp Finish ========== "), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    OlderVersions, UpgradeTest,
    ::testing::Values(UpgradeCase{"BothMissing", "", "FALSE", "10"},
                      UpgradeCase{"MinusOneAndTrue",
                                  "IsDeletedFileBackup=TRUE\r\nBackupErrorMaxCount=-1\r\n", "TRUE",
                                  "10"},
                      UpgradeCase{"OwnLimitKept", "BackupErrorMaxCount=25\r\n", "FALSE", "25"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BackupUtilityAppTest, MissingSettingsFilesAreWrittenAgain) {
    // Folders of an earlier run, but neither the settings file nor the log switch: the first
    // run may have failed to write them, or someone deleted them.
    MakeDataFolders();
    auto app = MakeApp();
    ASSERT_TRUE(app->InitInstance());
    EXPECT_TRUE(app->IsFirstRun());
    CProfileStore store(ProfilePath());
    EXPECT_EQ(store.GetString("CommonSetting", "IsCreateShortcutToHost", ""), "TRUE");
    EXPECT_EQ(ReadLogSetting(DataFolder() + "log/setting.xml").maxSizeMiB, 10);
    app->ExitInstance();

    // The settings are there now, only the log switch is gone: it alone is written again.
    ASSERT_TRUE(fs::remove(DataFolder() + "log/setting.xml"));
    ASSERT_TRUE(store.WriteString("CommonSetting", "IsCreateShortcutToHost", "FALSE"));
    app = MakeApp();
    ASSERT_TRUE(app->InitInstance());
    EXPECT_FALSE(app->IsFirstRun());
    EXPECT_EQ(store.GetString("CommonSetting", "IsCreateShortcutToHost", ""), "FALSE");
    EXPECT_EQ(ReadLogSetting(DataFolder() + "log/setting.xml").maxSizeMiB, 10);
}

// A first run is decided by the settings file alone: a removed sub-folder is made again and the
// device address, password and folder pairs stay.
TEST_F(BackupUtilityAppTest, MissingSubFolderIsNotAFirstRun) {
    for (const char* removed : {"log/", "backup/", "detectfile/"}) {
        SCOPED_TRACE(removed);
        auto app = MakeApp();
        ASSERT_TRUE(app->InitInstance());
        CCommonSetting common(app->ProfileStore());
        ASSERT_EQ(common.Load(), 0);
        common.ipv4Address = "192.168.1.10";
        common.userPassword = "secret";
        ASSERT_EQ(common.Save(), 0);
        CBackupSetting backup(app->ProfileStore());
        ASSERT_EQ(backup.Load(), 0);
        backup.folderPairs[0] = {"/home/u/My Docs ", "\\\\192.168.1.10\\zereda\\pc"};
        ASSERT_EQ(backup.Save(), 0);
        const std::string logSwitch = "<log><debug>TRUE</debug><max_size>4</max_size></log>";
        ASSERT_TRUE(WriteFile(DataFolder() + "log/setting.xml", logSwitch));
        app->ExitInstance();
        app.reset();
        const std::string settings = ReadFile(ProfilePath());

        fs::remove_all(DataFolder() + removed);
        app = MakeApp();
        ASSERT_TRUE(app->InitInstance());
        EXPECT_FALSE(app->IsFirstRun());
        for (const char* sub : kDataSubFolders)
            EXPECT_TRUE(fs::is_directory(DataFolder() + sub)) << sub;
        EXPECT_EQ(ReadFile(ProfilePath()), settings);
        CCommonSetting loaded(app->ProfileStore());
        ASSERT_EQ(loaded.Load(), 0);
        EXPECT_EQ(loaded.ipv4Address, "192.168.1.10");
        EXPECT_EQ(loaded.userPassword, "secret");
        CBackupSetting loadedBackup(app->ProfileStore());
        ASSERT_EQ(loadedBackup.Load(), 0);
        EXPECT_EQ(loadedBackup.folderPairs[0].source, "/home/u/My Docs ");
        // The log switch is written again only where it went missing.
        if (std::string(removed) == "log/")
            EXPECT_EQ(ReadLogSetting(DataFolder() + "log/setting.xml").maxSizeMiB, 10);
        else
            EXPECT_EQ(ReadFile(DataFolder() + "log/setting.xml"), logSwitch);
        app->ExitInstance();
    }
}

TEST_F(BackupUtilityAppTest, DataFolderOpenToOthersIsRefused) {
    MakeDataFolders();
    for (const char* sub : {"", "log/", "detectfile/result/"}) {
        SCOPED_TRACE(sub);
        ASSERT_EQ(chmod((DataFolder() + sub).c_str(), 0777), 0);
        auto app = MakeApp();
        EXPECT_FALSE(app->InitInstance());
        EXPECT_EQ(app->StartupFailureReason(), StartupFailure::kDataFolderUnsafe);
        EXPECT_EQ(app->StartupFailureDetail(),
                  DataFolder() + sub + " It is writable by group or others (mode 0777).");
        app->ExitInstance();
        EXPECT_FALSE(fs::exists(ProfilePath()));  // nothing was written there
        ASSERT_EQ(chmod((DataFolder() + sub).c_str(), 0755), 0);
    }
}

// Every file under the folder with its size and modification time.
std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>> Snapshot(
    const std::string& folder) {
    std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        files[entry.path()] = {entry.is_regular_file() ? entry.file_size() : 0,
                               entry.last_write_time()};
    }
    return files;
}

TEST_F(BackupUtilityAppTest, SecondInstanceIsRefusedAndTouchesNothing) {
    auto first = MakeApp();
    ASSERT_TRUE(first->InitInstance());
    const auto before = Snapshot(temp_.Path());

    auto second = MakeApp();
    EXPECT_FALSE(second->InitInstance());
    EXPECT_EQ(second->StartupFailureReason(), StartupFailure::kAlreadyRunning);
    EXPECT_EQ(second->ExitInstance(), 0);
    EXPECT_EQ(second->ProfileStore(), nullptr);  // it never reached the settings file
    second.reset();

    EXPECT_EQ(Snapshot(temp_.Path()), before);
    // The first instance's shutdown events were not signalled and it still takes signals.
    NamedEvents& events = first->GetPlatform().events;
    for (std::size_t i : {2, 3, 4})
        EXPECT_EQ(events.WaitAny({first->EventHandles()[i]}, 0), kWaitTimeout) << i;
    EXPECT_EQ(first->StopFlag().load(), 0);
    EXPECT_EQ(ControlClient::Signal(RuntimeFolder(), Title(), "BackupNow"), kControlDelivered);
    EXPECT_EQ(first->ExitInstance(), 0);
}

TEST_F(BackupUtilityAppTest, WithoutRuntimeFolderLockAndSocketLiveInTheDataFolder) {
    ScopedEnv noRuntime("XDG_RUNTIME_DIR", std::nullopt);
    auto app = MakeApp();
    ASSERT_TRUE(app->InitInstance());
    EXPECT_TRUE(app->IsFirstRun());  // the folders made for the lock still count
    EXPECT_TRUE(fs::exists(DataFolder() + Title() + ".lock"));
    struct stat info {};
    ASSERT_EQ(stat((DataFolder() + "run").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(ControlClient::Signal(DataFolder() + "run/", Title(), "BackupNow"),
              kControlDelivered);
    auto second = MakeApp();
    EXPECT_FALSE(second->InitInstance());
    EXPECT_EQ(second->StartupFailureReason(), StartupFailure::kAlreadyRunning);
    second->ExitInstance();
    EXPECT_EQ(app->ExitInstance(), 0);
}

TEST_F(BackupUtilityAppTest, DataFolderThatCannotBeMadeEndsStartUp) {
    ASSERT_TRUE(WriteFile(temp_.Sub("profile/corvane"), "a file in the way"));
    auto app = MakeApp();
    EXPECT_FALSE(app->InitInstance());
    EXPECT_EQ(app->StartupFailureReason(), StartupFailure::kDataFolders);
    EXPECT_EQ(app->StartupFailureDetail(), temp_.Sub("profile/corvane/"));
    EXPECT_EQ(app->ExitInstance(), 0);
    EXPECT_EQ(app->ProfileStore(), nullptr);
}

std::string WorkerName(int slot) {
    static const char* const names[] = {"BackupSchedule", "DetectFileSchedule",
                                        "DetectFileResultCheck"};
    return names[slot];
}

TEST_F(BackupUtilityAppTest, WorkersAreWiredAndStoppedInOrder) {
    WorkerJournal journal;
    auto app = MakeApp();
    const char* shutdownEvents[] = {"BackupShutDown", "DetectFileShutDown",
                                    "DetectFileResultShutDown"};
    for (int slot = 0; slot < CBackupUtilityApp::kWorkerCount; ++slot) {
        app->SetWorkerFactory(
            static_cast<CBackupUtilityApp::WorkerSlot>(slot), [&, slot](Platform& platform) {
                return MakeWorker<ObedientWorker>(platform.events, WorkerName(slot),
                                                  shutdownEvents[slot], journal);
            });
    }
    // The waits of the shutdown pass quickly but in real time, so the workers can finish.
    clock_.SetSleepHook([](std::chrono::milliseconds) { std::this_thread::sleep_for(5ms); });
    ASSERT_TRUE(app->InitInstance());

    struct Wiring {
        CBackupUtilityApp::WorkerSlot slot;
        const std::atomic<int>* threadRunning;
        const std::atomic<int>* executorRunning;
    };
    const Wiring wiring[] = {
        {CBackupUtilityApp::kBackupSchedule, &app->BackupScheduleRunning(),
         &app->BackupExecuting()},
        {CBackupUtilityApp::kDetectFileSchedule, &app->DetectFileScheduleRunning(),
         &app->DetectFileExecuting()},
        // The result checker starts no runs: its own running flag only.
        {CBackupUtilityApp::kDetectFileResultCheck, &app->DetectFileResultCheckRunning(), nullptr},
    };
    for (const Wiring& w : wiring) {
        ASSERT_NE(app->Worker(w.slot), nullptr);
        const ThreadControlBlock* block = app->Worker(w.slot)->GetControlBlock();
        ASSERT_EQ(block, app->ControlBlock(w.slot));
        EXPECT_EQ(block->stopRequested, &app->StopFlag());
        EXPECT_EQ(block->threadRunning, w.threadRunning);
        EXPECT_EQ(block->executorRunning, w.executorRunning);
    }

    EXPECT_EQ(app->ExitInstance(), 0);
    EXPECT_FALSE(app->HasAbandonedWorkers());
    EXPECT_EQ(journal.destroyed, (std::vector<std::string>{"BackupSchedule", "DetectFileSchedule",
                                                           "DetectFileResultCheck"}));
    // Each woke on its own shutdown event and found the stop flag already set.
    for (int slot = 0; slot < CBackupUtilityApp::kWorkerCount; ++slot)
        EXPECT_EQ(journal.stopSeenOnWake[WorkerName(slot)], 1) << WorkerName(slot);
    EXPECT_EQ(clock_.Sleeps().front(), 500ms);
}

TEST_F(BackupUtilityAppTest, HungWorkersAreGivenUpAfterTenRoundsEach) {
    std::atomic<bool> release{false};
    auto app = MakeApp();
    for (auto slot :
         {CBackupUtilityApp::kBackupSchedule, CBackupUtilityApp::kDetectFileResultCheck})
        app->SetWorkerFactory(slot, [&](Platform&) { return MakeWorker<HungWorker>(release); });
    ASSERT_TRUE(app->InitInstance());
    while (app->BackupScheduleRunning().load() == 0 ||
           app->DetectFileResultCheckRunning().load() == 0)
        std::this_thread::sleep_for(1ms);

    EXPECT_EQ(app->ExitInstance(), 0);
    // 500 ms settle time, then 100 s in short slices for each of the two hung workers; the
    // missing detection scheduler costs nothing.
    const auto sleeps = clock_.Sleeps();
    ASSERT_FALSE(sleeps.empty());
    EXPECT_EQ(sleeps.front(), 500ms);
    for (std::size_t i = 1; i < sleeps.size(); ++i)
        ASSERT_LE(sleeps[i], CBackupUtilityApp::kWorkerWaitSlice) << i;
    EXPECT_EQ(clock_.TotalSlept(), 500ms + 2 * CBackupUtilityApp::kWorkerWaitLimit);
    ASSERT_TRUE(app->HasAbandonedWorkers());
    const std::string log = LogText();
    EXPECT_NE(log.find("Worker Left Running. Worker:BackupSchedule"), std::string::npos);
    EXPECT_NE(log.find("Worker Left Running. Worker:DetectFileResultCheck"), std::string::npos);

    release = true;
    EXPECT_EQ(app->TakeAbandonedWorkers().size(), 2u);  // joined as they go
}

TEST_F(BackupUtilityAppTest, ExitReturnsAndLeavesASchedulerWhoseRunNeverEnds) {
    std::atomic<bool> release{false};
    std::atomic<CBackupRunner*> runner{nullptr};
    auto app = MakeApp();
    app->SetWorkerFactory(CBackupUtilityApp::kBackupSchedule, [&](Platform& platform) {
        return MakeWorker<CBackupSchedule>(
            platform.clock, platform.events, nullptr,
            [&]() -> WorkerPtr<CBackupRunner> {
                auto made = MakeWorker<StuckRunner>(release);
                runner = made.get();
                return made;
            },
            [](CBackupSetting& setting) {
                setting = CBackupSetting(nullptr);
                return 0;
            });
    });
    ASSERT_TRUE(app->InitInstance());
    ASSERT_TRUE(WaitFor([&] { return app->BackupScheduleRunning().load() == 1; }));
    app->GetPlatform().events.Signal(std::string(kEventBackupNow));
    ASSERT_TRUE(WaitFor([&] {
        CBackupRunner* made = runner.load();
        return made != nullptr && made->IsThreadRunning();
    }));

    // The scheduler gives up on the run and ends during the settle time, so the application
    // finds its running flag down and only the run still going.
    clock_.SetSleepHook([&app](std::chrono::milliseconds duration) {
        if (duration == CBackupUtilityApp::kShutdownSettleTime)
            WaitFor([&app] { return app->BackupScheduleRunning().load() == 0; });
    });
    auto exited = std::async(std::launch::async, [&app] { return app->ExitInstance(); });
    const bool returned = exited.wait_for(10s) == std::future_status::ready;
    if (!returned) release = true;  // let a hung shutdown end, so the failure is reported
    ASSERT_TRUE(returned) << "ExitInstance waited for the run";
    EXPECT_EQ(exited.get(), 0);
    EXPECT_EQ(app->BackupScheduleRunning().load(), 0);
    EXPECT_EQ(app->BackupExecuting().load(), 1);
    EXPECT_TRUE(app->HasAbandonedWorkers());
    const std::string log = LogText();
    EXPECT_NE(log.find("Backup thread is still running. The scheduler ends without it."),
              std::string::npos);
    EXPECT_NE(log.find("Worker Left Running. Worker:BackupSchedule"), std::string::npos);

    // The process would end here; the test ends the run, then frees what was left.
    release = true;
    ASSERT_TRUE(WaitFor([&] { return !runner.load()->IsThreadRunning(); }));
    EXPECT_EQ(app->TakeAbandonedWorkers().size(), 1u);
}

// The backup worker gets what the application owns: the file list on the data folder's
// database and the application's settings file.
TEST_F(BackupUtilityAppTest, BackupWiringUsesTheApplicationsObjects) {
    auto app = MakeApp();
    WireBackup(*app);
    clock_.SetSleepHook([](std::chrono::milliseconds) { std::this_thread::sleep_for(1ms); });
    ASSERT_TRUE(app->InitInstance());
    EXPECT_EQ(app->BackupFileList().Connection().DatabasePath(), DataFolder() + Title() + ".db");
    EXPECT_TRUE(fs::exists(DataFolder() + Title() + ".db"));
    ASSERT_NE(app->Worker(CBackupUtilityApp::kBackupSchedule), nullptr);
    ASSERT_TRUE(WaitFor([&] { return app->BackupScheduleRunning().load() == 1; }));
    EXPECT_EQ(app->ExitInstance(), 0);
    EXPECT_FALSE(app->HasAbandonedWorkers());
}

// The result checker gets the results on the same database file and runs as the third worker;
// shutdown wakes it from its interval wait.
TEST_F(BackupUtilityAppTest, DetectResultWiringUsesTheApplicationsObjects) {
    auto app = MakeApp();
    WireBackup(*app);
    WireDetectFileResult(*app);
    clock_.SetSleepHook([](std::chrono::milliseconds) { std::this_thread::sleep_for(1ms); });
    ASSERT_TRUE(app->InitInstance());
    EXPECT_EQ(app->DetectFileResults().Connection().DatabasePath(), DataFolder() + Title() + ".db");
    std::vector<CDetectFileResult> listed;
    EXPECT_EQ(app->DetectFileResults().ListDetectFileResults(-1, listed), 0);  // tables exist
    ASSERT_NE(app->Worker(CBackupUtilityApp::kDetectFileResultCheck), nullptr);
    // Both workers have marked themselves running before the shutdown looks at their flags.
    ASSERT_TRUE(WaitFor([&] { return app->BackupScheduleRunning().load() == 1; }));
    ASSERT_TRUE(WaitFor([&] { return app->DetectFileResultCheckRunning().load() == 1; }));
    EXPECT_EQ(app->ExitInstance(), 0);
    EXPECT_EQ(app->DetectFileResultCheckRunning().load(), 0);
    EXPECT_FALSE(app->HasAbandonedWorkers());
}

// The detection scheduler gets the detection file list on the same database file, made ready
// at start-up, and "DetectFileNow" exists for --signal.
TEST_F(BackupUtilityAppTest, DetectFileWiringUsesTheApplicationsObjects) {
    auto app = MakeApp();
    WireBackup(*app);
    WireDetectFile(*app);
    clock_.SetSleepHook([](std::chrono::milliseconds) { std::this_thread::sleep_for(1ms); });
    ASSERT_TRUE(app->InitInstance());
    EXPECT_EQ(app->DetectFileList().Connection().DatabasePath(), DataFolder() + Title() + ".db");
    EXPECT_TRUE(app->DetectFileList().IsPrepared());
    EXPECT_EQ(app->DetectFileList().IsDetectFileExecuted(), 0);
    ASSERT_NE(app->Worker(CBackupUtilityApp::kDetectFileSchedule), nullptr);
    ASSERT_TRUE(WaitFor([&] { return app->DetectFileScheduleRunning().load() == 1; }));
    EXPECT_TRUE(app->GetPlatform().events.Open(std::string(kEventDetectFileNow)));
    EXPECT_EQ(app->ExitInstance(), 0);
    EXPECT_FALSE(app->HasAbandonedWorkers());
    EXPECT_EQ(app->DetectFileScheduleRunning().load(), 0);
}

TEST_F(BackupUtilityAppTest, FailedStartUpStepEndsStartUpWithItsLogLine) {
    struct Case {
        int failingStep;  // 1-3 the databases in order, 4 the main window
        StartupFailure reason;
        const char* logText;
    };
    const Case cases[] = {
        {1, StartupFailure::kDatabase, "Initialize Backup Table Error."},
        {2, StartupFailure::kDatabase, "Initialize Detect File Table Error."},
        {3, StartupFailure::kDatabase, "Initialize Detect File Result Table Error."},
        {4, StartupFailure::kMainWindow, "Create Main Window Error."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logText);
        std::vector<int> steps;
        bool workerMade = false;
        auto app = MakeApp();
        const char* texts[] = {"Initialize Backup Table Error.",
                               "Initialize Detect File Table Error.",
                               "Initialize Detect File Result Table Error."};
        for (int step = 1; step <= 3; ++step) {
            app->AddDatabaseInitializer(
                [&, step] {
                    steps.push_back(step);
                    return step == c.failingStep ? 4 : 0;
                },
                texts[step - 1]);
        }
        app->SetWorkerFactory(CBackupUtilityApp::kBackupSchedule,
                              [&](Platform&) -> WorkerPtr<CThreadCommon> {
                                  workerMade = true;
                                  return nullptr;
                              });
        app->SetMainWindowStep([&] {
            steps.push_back(4);
            return c.failingStep != 4;
        });

        EXPECT_FALSE(app->InitInstance());
        EXPECT_EQ(app->StartupFailureReason(), c.reason);
        std::vector<int> expectedSteps;
        for (int step = 1; step <= c.failingStep; ++step) expectedSteps.push_back(step);
        EXPECT_EQ(steps, expectedSteps);  // nothing after the failing step
        EXPECT_EQ(workerMade, c.failingStep == 4);
        EXPECT_NE(LogText().find(c.logText), std::string::npos);
        EXPECT_EQ(app->ExitInstance(), 0);
    }
}

TEST(HeadlessMessageSinkTest, PostedMessagesBecomeLogLines) {
    TempDir temp;
    CAppLog::Get().InitWith(temp.Path() + "/", "headless", false, 1 << 20);
    HeadlessMessageSink sink;
    sink.Post(ExecuteStateChanged{});
    sink.Post(BalloonRequest{kBalloonBackupResult, 1, 10});
    sink.Post(ShowResult{kBalloonDetectFileResult});
    const std::string log = ReadFile(temp.Path() + "/headless.log");
    CAppLog::Get().Reset();
    EXPECT_NE(log.find("Post Message:1136 wParam:0 lParam:0\r\n"), std::string::npos);
    EXPECT_NE(log.find("Post Message:1124 wParam:1125 lParam:0 result:1 value:10\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("Post Message:1135 wParam:0 lParam:1126\r\n"), std::string::npos);
}

}  // namespace
}  // namespace tessarine
