// The fixture of the backup executor's tests: a run against a LocalShare behind a
// fault-injecting share, a real file list and profile store in a temporary folder, a fake clock
// and a recording message sink.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backup/backup_exceptions.h"
#include "backup/backup_execute.h"
#include "backup/backup_sql_utility.h"
#include "backup/backup_xml_utility.h"
#include "base/app_log.h"
#include "base/time_utility.h"
#include "core/event_names.h"
#include "core/progress_counters.h"
#include "fakes/fake_clock.h"
#include "fakes/fault_injecting_share.h"
#include "fakes/recording_message_sink.h"
#include "fakes/test_support.h"
#include "platform/named_events.h"
#include "platform/posix/local_share.h"
#include "platform/system_info.h"
#include "settings/profile_store.h"
#include "settings/setting_records.h"

namespace tessarine::backup_test {

namespace fs = std::filesystem;
using testing::ModifiedTime;
using testing::ReadFile;
using testing::RecordingMessageSink;
using testing::SetModifiedTime;
using testing::TempDir;
using testing::WriteFile;

constexpr char kHost[] = "127.0.0.1";
constexpr char kPassword[] = "s3cret-pw";
constexpr std::time_t kNow = 1514714400;  // 2017-12-31, any fixed moment

class FixedSystemInfo : public SystemInfo {
public:
    std::string ComputerName() const override { return "PC01"; }
    std::string UserName() const override { return "user1"; }
};

// What a test wants of the share of a run besides the local folder's behaviour.
struct ShareHooks {
    // Called when the run makes its share: set faults or a connection result.
    std::function<void(testing::FaultInjectingShare& faults, LocalShare& local)> configure;
    // Called before every copy to the share (the share's own cancel check follows).
    std::function<void(const std::string& path)> beforeCopy;
    std::vector<std::string> copyTargets;  // every copy asked of the share, in order
};

// The share of one run: a LocalShare behind a fault-injecting share, watched by the test.
class WatchedShare : public DeviceShare {
public:
    WatchedShare(const std::string& root, ShareHooks& hooks)
        : local_(root), faults_(local_), hooks_(hooks) {
        if (hooks_.configure) hooks_.configure(faults_, local_);
    }

    int Connect(const std::string& host, const std::string& user,
                const std::string& password) override {
        return faults_.Connect(host, user, password);
    }
    void Cancel(const std::string& host) override { faults_.Cancel(host); }
    IoStatus CreateFolder(const std::string& path) override { return faults_.CreateFolder(path); }
    IoStatus Exists(const std::string& path) override { return faults_.Exists(path); }
    IoResult<bool> IsFolder(const std::string& path) override { return faults_.IsFolder(path); }
    IoResult<bool> IsReadOnly(const std::string& path) override { return faults_.IsReadOnly(path); }
    IoStatus ClearReadOnly(const std::string& path) override { return faults_.ClearReadOnly(path); }
    IoStatus CopyToShare(const std::string& localPath, const std::string& path,
                         const std::atomic<int>* cancel) override {
        hooks_.copyTargets.push_back(path);
        if (hooks_.beforeCopy) hooks_.beforeCopy(path);
        return faults_.CopyToShare(localPath, path, cancel);
    }
    IoStatus CopyFromShare(const std::string& path, const std::string& localPath,
                           const std::atomic<int>* cancel) override {
        return faults_.CopyFromShare(path, localPath, cancel);
    }
    IoStatus DeleteFile(const std::string& path) override { return faults_.DeleteFile(path); }
    IoStatus RemoveFolder(const std::string& path) override { return faults_.RemoveFolder(path); }
    IoStatus Rename(const std::string& path, const std::string& newPath) override {
        return faults_.Rename(path, newPath);
    }
    IoResult<std::vector<ShareEntry>> List(const std::string& folder,
                                           const std::string& wildcard) override {
        return faults_.List(folder, wildcard);
    }

private:
    LocalShare local_;
    testing::FaultInjectingShare faults_;
    ShareHooks& hooks_;
};

struct FileRow {
    std::int64_t rowId = 0;
    int settingNumber = 0;
    std::string source;
    std::string destination;
    std::string lastUpdate;
    int isDirectory = 0;
    std::string status;
};

struct PairConfig {
    std::string source;       // relative to the temp folder; "" for an empty pair
    std::string destination;  // folder name below \\host\zereda\backup\ .
};

struct Config {
    std::vector<PairConfig> pairs{{"src1", "dst1"}};
    bool mirroring = false;
    bool notify = true;
    int errorMaxCount = 10;
    std::string userName = "tessa";
    int popupTimeout = 7;
};

class BackupExecuteTest : public ::testing::Test {
public:
    void SetUp() override {
        fs::create_directories(temp_.Sub("log"));
        fs::create_directories(temp_.Sub("data/backup"));
        fs::create_directories(ShareRoot() + "/zereda/backup");
        CAppLog::Get().InitWith(temp_.Sub("log/"), "TessarineTool", true, std::int64_t{64} << 20);
        store_ = std::make_unique<CProfileStore>(temp_.Sub("TessarineTool.msf"));
        runStore_ = store_.get();
        fileList_ = std::make_unique<CBackupSQLUtility>(temp_.Sub("TessarineTool.db"));
        ASSERT_EQ(0, fileList_->Initialize());
        for (const auto name : kNamedEventsInOrder) events_.Create(std::string(name));
        block_.stopRequested = &stop_;
        block_.threadRunning = &threadRunning_;
        block_.executorRunning = &executorRunning_;
        Configure(Config{});
    }

    void TearDown() override { CAppLog::Get().Reset(); }

    std::string ShareRoot() const { return temp_.Sub("share"); }
    // Local folder behind \\host\zereda\backup\<name>.
    std::string ShareFolder(const std::string& name) const {
        return ShareRoot() + "/zereda/backup/" + name;
    }
    std::string ServerFile() const { return ShareFolder("PC01_user1.xml"); }
    std::string Source(const std::string& relative) const { return temp_.Sub(relative); }
    // The device path of "dst1/sub/b.txt".
    static std::string Unc(std::string relative) {
        for (char& c : relative)
            if (c == '/') c = '\\';
        return std::string("\\\\") + kHost + "\\zereda\\backup\\" + relative;
    }
    // Number of copies asked of the share below a destination folder.
    int CopiesInto(const std::string& destination) const {
        int count = 0;
        for (const auto& target : hooks_.copyTargets)
            if (target.rfind(Unc(destination) + "\\", 0) == 0) ++count;
        return count;
    }

    void Configure(const Config& config) {
        CCommonSetting common(store_.get());
        common.hostName = "QZV-4070";
        common.ipv4Address = kHost;
        common.userName = config.userName;
        common.userPassword = kPassword;
        common.popupTimeout = config.popupTimeout;
        ASSERT_EQ(0, common.Save());
        CBackupSetting backup(store_.get());
        for (std::size_t i = 0; i < config.pairs.size(); ++i) {
            const PairConfig& pair = config.pairs[i];
            backup.folderPairs[i].source = pair.source.empty() ? "" : Source(pair.source);
            backup.folderPairs[i].destination =
                pair.destination.empty()
                    ? ""
                    : std::string("\\\\") + kHost + "\\zereda\\backup\\" + pair.destination;
            if (!pair.destination.empty()) fs::create_directories(ShareFolder(pair.destination));
        }
        backup.isDeletedFileBackup = config.mirroring;
        backup.isNotifyBackupComplete = config.notify;
        ASSERT_EQ(0, backup.Save());
        ASSERT_TRUE(store_->WriteInt("BackupSetting", "BackupErrorMaxCount", config.errorMaxCount));
    }

    std::string MarksPath() const { return temp_.Sub("data/Tessarine.restoring"); }

    WorkerPtr<CBackupExecute> MakeExecutor(std::string backupFolder = "") {
        if (backupFolder.empty()) backupFolder = temp_.Sub("data/backup/");
        auto executor = MakeWorker<CBackupExecute>(CBackupExecute::Dependencies{
            .shareFactory = [this]() -> std::unique_ptr<DeviceShare> {
                return std::make_unique<WatchedShare>(ShareRoot(), hooks_);
            },
            .fileList = *fileList_,
            .messageSink = sink_,
            .namedEvents = events_,
            .clock = clock_,
            .backupFolderPath = backupFolder,
            .systemInfo = systemInfo_,
            .loadCommonSetting = {},
            .loadBackupSetting = {},
            .profileStore = runStore_,
            .progress = progress_,
            .shutdownAfterBackup = shutdownAfterBackup_,
            .localFileSystem = fileSystem_,
            .restoreMarksPath = MarksPath(),
        });
        executor->SetControlBlock(&block_);
        return executor;
    }

    // One run on the test's thread, as the scheduler would start it.
    int Run(int shutdownMode = 0, const std::string& backupFolder = "") {
        sink_.Clear();
        hooks_.copyTargets.clear();
        executor_ = MakeExecutor(backupFolder);
        executor_->SetShutdownMode(shutdownMode);
        return executor_->ThreadCore();
    }

    std::vector<FileRow> Rows() const {
        std::vector<FileRow> rows;
        sqlite3* db = nullptr;
        sqlite3_open_v2(temp_.Sub("TessarineTool.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db,
                           "SELECT rowid, SETTING_NUMBER, SOURCE_FILE_PATH, DESTINATION_FILE_PATH,"
                           " LAST_UPDATE, IS_DIRECTORY, STATUS FROM BACKUP_FILELIST ORDER BY rowid",
                           -1, &statement, nullptr);
        while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
            auto text = [&](int column) {
                const auto* value = sqlite3_column_text(statement, column);
                return std::string(value ? reinterpret_cast<const char*>(value) : "");
            };
            rows.push_back({sqlite3_column_int64(statement, 0), sqlite3_column_int(statement, 1),
                            text(2), text(3), text(4), sqlite3_column_int(statement, 5), text(6)});
        }
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return rows;
    }

    std::optional<FileRow> RowOf(const std::string& source) const {
        for (const auto& row : Rows())
            if (row.source == source) return row;
        return std::nullopt;
    }

    // The "result" of result.xml, or nullopt when there is none.
    std::optional<int> ClientResultCode() const {
        if (!fs::exists(temp_.Sub("data/backup/result.xml"))) return std::nullopt;
        CBackupXMLUtility reader(temp_.Sub("data/backup/"), systemInfo_);
        std::string start;
        std::string end;
        int code = -1;
        reader.ReadClientResultFile(&start, &end, &code);
        return code;
    }

    BackupErrorList DetailResult() const {
        CBackupXMLUtility reader(temp_.Sub("data/backup/"), systemInfo_);
        BackupErrorList list;
        reader.ReadDetailResult(&list);
        return list;
    }

    void RemoveResultFiles() {
        fs::remove(temp_.Sub("data/backup/result.xml"));
        fs::remove(temp_.Sub("data/backup/deteil_result.xml"));
        fs::remove(ServerFile());
    }

    bool BackupCompleteSignalled() {
        return events_.WaitAny({events_.Open(std::string(kEventBackupComplete))}, 0) == 0;
    }

    // The pop-up requests of the last run.
    std::vector<BalloonRequest> Balloons() const {
        std::vector<BalloonRequest> balloons;
        for (const auto& message : sink_.Messages()) {
            if (message.id != WM_REQUEST_BALLOON) continue;
            EXPECT_EQ(kBalloonBackupResult, message.wParam);
            if (message.balloon) balloons.push_back(*message.balloon);
        }
        return balloons;
    }

    // Writes files below the temp folder ("src1/sub/b.txt"), each with its own content and
    // the given modification time.
    void MakeFiles(const std::vector<std::string>& files, std::time_t when = kNow - 86400) {
        for (const auto& file : files) {
            ASSERT_TRUE(WriteFile(Source(file), "content of " + file));
            SetModifiedTime(Source(file), when);
        }
    }

    std::string Log() const { return ReadFile(CAppLog::Get().LogFilePath()); }

    TempDir temp_;
    std::unique_ptr<CProfileStore> store_;
    CProfileStore* runStore_ = nullptr;  // the settings the executor is given
    std::unique_ptr<CBackupSQLUtility> fileList_;
    RecordingMessageSink sink_;
    NamedEvents events_;
    testing::FakeClock clock_{kNow};
    FixedSystemInfo systemInfo_;
    ShareHooks hooks_;
    std::atomic<int> stop_{0};
    std::atomic<int> threadRunning_{0};
    std::atomic<int> executorRunning_{0};
    ThreadControlBlock block_;
    BackupProgress progress_;
    std::atomic<int> shutdownAfterBackup_{1};
    WorkerPtr<CBackupExecute> executor_;
    // What the next run reads its sources through; null: the disk.
    LocalFileSystem* fileSystem_ = nullptr;
};

}  // namespace tessarine::backup_test
