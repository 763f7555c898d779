// Backup runs against a real SMB server (scripts/smbd-fixture), reached through SmbShare exactly
// as a device is reached. Skipped when the fixture's TESSARINE_SMB_* variables are not set.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "backup/backup_execute.h"
#include "backup/backup_sql_utility.h"
#include "backup/backup_xml_utility.h"
#include "base/app_log.h"
#include "core/event_names.h"
#include "fakes/copier_processes.h"
#include "fakes/fake_clock.h"
#include "fakes/raw_database.h"
#include "fakes/recording_message_sink.h"
#include "fakes/smb_fixture.h"
#include "fakes/tcp_relay.h"
#include "fakes/test_support.h"
#include "platform/named_events.h"
#include "platform/posix/pooled_smb_share.h"
#include "platform/posix/share_copier.h"
#include "platform/posix/smb_share.h"
#include "platform/system_info.h"
#include "settings/profile_store.h"
#include "settings/setting_records.h"

namespace tessarine {
namespace {

namespace fs = std::filesystem;
using testing::CopierProcesses;
using testing::CopierReading;
using testing::ModifiedTime;
using testing::ReadFile;
using testing::RecordingMessageSink;
using testing::SetModifiedTime;
using testing::SmbFixture;
using testing::TempDir;
using testing::Watcher;
using testing::WriteFile;

constexpr std::time_t kNow = 1514714400;

class NamedSystemInfo : public SystemInfo {
public:
    explicit NamedSystemInfo(std::string user) : user_(std::move(user)) {}
    std::string ComputerName() const override { return "PC01"; }
    std::string UserName() const override { return user_; }

private:
    std::string user_;
};

class BackupExecuteSmbTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!smb_.Load()) GTEST_SKIP() << testing::kSmbFixtureMissing;
        // One destination folder (and one server result file) per test.
        folder_ = "exec" + std::to_string(getpid()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(folder_.begin(), folder_.end(), '/', '_');  // a parameterised test's name
        systemInfo_ = std::make_unique<NamedSystemInfo>(folder_);

        fs::create_directories(temp_.Sub("log"));
        fs::create_directories(temp_.Sub("data/backup"));
        CAppLog::Get().InitWith(temp_.Sub("log/"), "TessarineTool", true, std::int64_t{64} << 20);
        store_ = std::make_unique<CProfileStore>(temp_.Sub("TessarineTool.msf"));
        fileList_ = std::make_unique<CBackupSQLUtility>(temp_.Sub("TessarineTool.db"));
        ASSERT_EQ(0, fileList_->Initialize());
        for (const auto name : kNamedEventsInOrder) events_.Create(std::string(name));
        block_.stopRequested = &stop_;
        block_.executorRunning = &executorRunning_;

        // The destination folder is made over SMB so that it belongs to the share's user.
        SmbShare share(smb_.port);
        ASSERT_EQ(0, share.Connect(smb_.host, smb_.user, smb_.password));
        const IoStatus base = share.CreateFolder(Unc(""));
        ASSERT_TRUE(base || base.error == EEXIST) << base.error;
        ASSERT_TRUE(share.CreateFolder(Unc(folder_)));
        share.Cancel(smb_.host);
        Configure(smb_.password, false);
    }

    void TearDown() override {
        if (!folder_.empty()) {
            std::error_code ignored;
            fs::remove_all(Served(folder_), ignored);
            fs::remove(ServerFile(), ignored);
        }
        CAppLog::Get().Reset();
    }

    // The device path of "zereda\backup\<relative>".
    std::string Unc(std::string relative) const {
        for (char& c : relative)
            if (c == '/') c = '\\';
        std::string path = "\\\\" + smb_.host + "\\zereda\\backup";
        return relative.empty() ? path : path + "\\" + relative;
    }
    // Where the server keeps "zereda/backup/<relative>" on the local disk.
    std::string Served(const std::string& relative) const {
        return smb_.root + "/zereda/backup/" + relative;
    }
    std::string ServerFile() const { return Served("PC01_" + folder_ + ".xml"); }
    std::string Source(const std::string& relative) const { return temp_.Sub("src/" + relative); }

    void Configure(const std::string& password, bool mirroring) {
        CCommonSetting common(store_.get());
        common.hostName = "fixture";
        common.ipv4Address = smb_.host;
        common.userName = smb_.user;
        common.userPassword = password;
        common.popupTimeout = 10;
        ASSERT_EQ(0, common.Save());
        CBackupSetting backup(store_.get());
        backup.folderPairs[0] = {temp_.Sub("src"), Unc(folder_)};
        backup.isDeletedFileBackup = mirroring;
        backup.isNotifyBackupComplete = true;
        ASSERT_EQ(0, backup.Save());
    }

    int Run(int port = 0) { return RunWith(*fileList_, port); }

    int RunWith(CBackupSQLUtility& fileList, int port = 0) {
        if (port == 0) port = smb_.port;
        sink_.Clear();
        executor_ = MakeWorker<CBackupExecute>(CBackupExecute::Dependencies{
            .shareFactory = [this, port]() -> std::unique_ptr<DeviceShare> {
                if (pooled_) {
                    CopierPoolOptions options{copierProgram_, 4, port, 5000};
                    // Listings ahead as over a LAN: the walk's listings come from copiers too.
                    options.prefetchListings = 1;
                    return std::make_unique<PooledSmbShare>(options);
                }
                auto share = std::make_unique<SmbShare>(port, 5000);
                if (blockObserver_) share->SetBlockObserver(blockObserver_);
                return share;
            },
            .fileList = fileList,
            .messageSink = sink_,
            .namedEvents = events_,
            .clock = clock_,
            .backupFolderPath = temp_.Sub("data/backup/"),
            .systemInfo = *systemInfo_,
            .loadCommonSetting = {},
            .loadBackupSetting = {},
            .profileStore = store_.get(),
            .progress = progress_,
            .shutdownAfterBackup = shutdownAfterBackup_,
        });
        executor_->SetControlBlock(&block_);
        return executor_->ThreadCore();
    }

    void MakeFiles(const std::vector<std::string>& files, std::time_t when = kNow - 86400) {
        for (const auto& file : files) {
            ASSERT_TRUE(WriteFile(Source(file), "content of " + file));
            SetModifiedTime(Source(file), when);
        }
    }

    int RowCount() const {
        sqlite3* db = nullptr;
        sqlite3_open_v2(temp_.Sub("TessarineTool.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM BACKUP_FILELIST", -1, &statement, nullptr);
        int count = -1;
        if (sqlite3_step(statement) == SQLITE_ROW) count = sqlite3_column_int(statement, 0);
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return count;
    }

    std::optional<int> ClientResultCode() const {
        if (!fs::exists(temp_.Sub("data/backup/result.xml"))) return std::nullopt;
        CBackupXMLUtility reader(temp_.Sub("data/backup/"), *systemInfo_);
        std::string start;
        std::string end;
        int code = -1;
        reader.ReadClientResultFile(&start, &end, &code);
        return code;
    }

    // Names in a served folder, sorted.
    std::set<std::string> NamesIn(const std::string& relative) const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(Served(relative)))
            names.insert(entry.path().filename().string());
        return names;
    }

    // Starts the copier processes of the next runs (this test's program cannot be one).
    void UseCopiers() {
        const std::string program = testing::CopierProgram();
        if (program.empty()) GTEST_SKIP() << testing::kCopierProgramMissing;
        copierProgram_ = program;
        pooled_ = true;
    }

    // Told of every block the run's share copies (on the run's thread; one copy at a time).
    std::function<void(std::uint64_t)> blockObserver_;
    bool pooled_ = false;
    std::string copierProgram_;
    std::string current_;  // the destination sub-folder of a test that backs up twice
    SmbFixture smb_;
    std::string folder_;
    std::unique_ptr<NamedSystemInfo> systemInfo_;
    TempDir temp_;
    std::unique_ptr<CProfileStore> store_;
    std::unique_ptr<CBackupSQLUtility> fileList_;
    RecordingMessageSink sink_;
    NamedEvents events_;
    testing::FakeClock clock_{kNow};
    std::atomic<int> stop_{0};
    std::atomic<int> executorRunning_{0};
    ThreadControlBlock block_;
    BackupProgress progress_;
    std::atomic<int> shutdownAfterBackup_{1};
    WorkerPtr<CBackupExecute> executor_;
};

// The tests below run twice: one copy at a time in this process, and through copier processes.
using BackupExecuteSmbBothWaysTest = testing::BothCopyPaths<BackupExecuteSmbTest>;

INSTANTIATE_TEST_SUITE_P(Copies, BackupExecuteSmbBothWaysTest, ::testing::Bool(),
                         testing::CopyPathName);

TEST_P(BackupExecuteSmbBothWaysTest, FullBackupLandsOnTheServerWithTimesKept) {
    const std::time_t modified = kNow - 7200;
    MakeFiles({"a.txt", "sub/b.txt", "報告書/議事録.txt"}, modified);
    ASSERT_TRUE(WriteFile(Source("big.bin"), std::string(3 * 1024 * 1024 + 17, 'x')));
    SetModifiedTime(Source("big.bin"), modified);

    EXPECT_EQ(0, Run());

    for (const char* file : {"a.txt", "sub/b.txt", "報告書/議事録.txt"}) {
        EXPECT_EQ("content of " + std::string(file), ReadFile(Served(folder_ + "/" + file)));
        EXPECT_EQ(modified, ModifiedTime(Served(folder_ + "/" + file))) << file;
    }
    EXPECT_EQ(std::string(3 * 1024 * 1024 + 17, 'x'), ReadFile(Served(folder_ + "/big.bin")));
    EXPECT_EQ(6, RowCount());
    EXPECT_EQ(6, executor_->GetErrorList().successCount);
    EXPECT_EQ(0, ClientResultCode());
    EXPECT_TRUE(fs::exists(ServerFile()));
    EXPECT_NE(std::string::npos, ReadFile(ServerFile()).find(Unc(folder_)));
}

TEST_P(BackupExecuteSmbBothWaysTest, DifferentialBackupCopiesOnlyWhatChanged) {
    MakeFiles({"a.txt", "b.txt"});
    ASSERT_EQ(0, Run());
    fs::remove(ServerFile());

    EXPECT_EQ(0, Run());
    EXPECT_EQ(0, executor_->GetErrorList().executeCount);
    EXPECT_FALSE(fs::exists(ServerFile()));

    ASSERT_TRUE(WriteFile(Source("b.txt"), "changed"));
    SetModifiedTime(Source("b.txt"), kNow - 30 * 86400);  // older than the copy
    MakeFiles({"new/c.txt"});
    EXPECT_EQ(0, Run());
    EXPECT_EQ("changed", ReadFile(Served(folder_ + "/b.txt")));
    EXPECT_EQ("content of new/c.txt", ReadFile(Served(folder_ + "/new/c.txt")));
    EXPECT_EQ(3, executor_->GetErrorList().successCount);
    EXPECT_EQ(4, RowCount());
}

TEST_P(BackupExecuteSmbBothWaysTest, MirroringRemovesTheCopiesOfADeletedFolder) {
    Configure(smb_.password, true);
    MakeFiles({"kept.txt", "gone/f1.txt", "gone/f2.txt"});
    ASSERT_EQ(0, Run());
    ASSERT_TRUE(fs::exists(Served(folder_ + "/gone/f1.txt")));
    fs::remove_all(Source("gone"));

    EXPECT_EQ(0, Run());

    EXPECT_FALSE(fs::exists(Served(folder_ + "/gone")));
    EXPECT_TRUE(fs::exists(Served(folder_ + "/kept.txt")));
    EXPECT_EQ(1, RowCount());
    EXPECT_EQ(3, executor_->GetErrorList().executeCount);
    EXPECT_EQ(3, executor_->GetErrorList().successCount);
}

TEST_P(BackupExecuteSmbBothWaysTest, ReadOnlyCopiesAreOverwrittenAndDeleted) {
    Configure(smb_.password, true);
    MakeFiles({"changed.txt", "deleted.txt"});
    ASSERT_EQ(0, Run());
    // The server shows the owner write bit as the read-only attribute.
    for (const char* copy : {"/changed.txt", "/deleted.txt"})
        fs::permissions(Served(folder_ + copy), fs::perms(0444));
    ASSERT_TRUE(WriteFile(Source("changed.txt"), "changed"));
    SetModifiedTime(Source("changed.txt"), kNow - 10);
    fs::remove(Source("deleted.txt"));

    EXPECT_EQ(0, Run());

    EXPECT_EQ("changed", ReadFile(Served(folder_ + "/changed.txt")));
    EXPECT_FALSE(fs::exists(Served(folder_ + "/deleted.txt")));
    EXPECT_EQ(2, executor_->GetErrorList().successCount);
    EXPECT_EQ(2, executor_->GetErrorList().executeCount);
}

TEST_F(BackupExecuteSmbTest, ConnectionFailuresGiveResultCodeOne) {
    MakeFiles({"a.txt"});
    struct Case {
        const char* name;
        std::string password;
        int port;
    } const cases[] = {
        {"device unreachable", smb_.password, testing::ClosedLoopbackPort()},
        {"wrong password", "not-the-password", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Configure(c.password, false);
        fs::remove(temp_.Sub("data/backup/result.xml"));

        EXPECT_EQ(1, Run(c.port));

        EXPECT_EQ(1, ClientResultCode());
        EXPECT_FALSE(fs::exists(Served(folder_ + "/a.txt")));
        EXPECT_FALSE(fs::exists(ServerFile()));
        EXPECT_EQ(0, RowCount());
        EXPECT_EQ(1, sink_.Count(WM_REQUEST_BALLOON));
        const std::string log = ReadFile(CAppLog::Get().LogFilePath());
        EXPECT_NE(std::string::npos, log.find("SMB Connnection Error. Param:"));
        EXPECT_EQ(std::string::npos, log.find(c.password));
    }
}

// The server folds letter case as the device does: two local names that are one name there are
// reported, and a rename that only changes case keeps the copies under the new name.
TEST_P(BackupExecuteSmbBothWaysTest, NamesTheServerFoldsTogetherAreNeverOverwrittenNorDeleted) {
    Configure(smb_.password, true);
    MakeFiles({"Readme.txt", "README.TXT", "Photos/p1.jpg", "Note.txt"});

    EXPECT_EQ(1, Run());
    EXPECT_EQ(2, ClientResultCode());
    EXPECT_EQ((std::set<std::string>{"Note.txt", "Photos", "README.TXT"}), NamesIn(folder_));
    EXPECT_EQ("content of README.TXT", ReadFile(Served(folder_ + "/README.TXT")));

    fs::remove(Source("Readme.txt"));
    fs::rename(Source("Photos"), Source("photos"));
    fs::rename(Source("Note.txt"), Source("note.txt"));
    EXPECT_EQ(0, Run());
    EXPECT_EQ((std::set<std::string>{"README.TXT", "note.txt", "photos"}), NamesIn(folder_))
        << ReadFile(CAppLog::Get().LogFilePath());
    EXPECT_EQ("content of Photos/p1.jpg", ReadFile(Served(folder_ + "/photos/p1.jpg")));
    EXPECT_EQ("content of Note.txt", ReadFile(Served(folder_ + "/note.txt")));

    EXPECT_EQ(0, Run());
    EXPECT_EQ(0, executor_->GetErrorList().executeCount);
    EXPECT_EQ(4, RowCount());  // README.TXT, note.txt, photos, photos/p1.jpg
}

TEST_P(BackupExecuteSmbBothWaysTest, PercentInNamesAndRemovedCopiesOverAnSmbUrlDestination) {
    Configure(smb_.password, true);
    CBackupSetting backup(store_.get());
    ASSERT_EQ(0, backup.Load());
    backup.folderPairs[0].destination =
        "smb://" + smb_.host + "/zereda/backup/" + folder_;  // the port comes from the share
    ASSERT_EQ(0, backup.Save());
    const std::vector<std::string> names = {"a%41.txt", "aA.txt", "My%20Doc.pdf", "50%off.txt"};
    for (const auto& name : names) MakeFiles({name, "sub/" + name});

    EXPECT_EQ(0, Run());
    EXPECT_EQ(0, Run());
    EXPECT_EQ(0, executor_->GetErrorList().executeCount);
    for (const auto& name : names) {
        EXPECT_EQ("content of " + name, ReadFile(Served(folder_ + "/" + name))) << name;
        EXPECT_EQ("content of sub/" + name, ReadFile(Served(folder_ + "/sub/" + name))) << name;
    }

    // Copies removed or cut on the device are copied again by the next differential run.
    fs::remove(Served(folder_ + "/50%off.txt"));
    fs::remove_all(Served(folder_ + "/sub"));
    ASSERT_TRUE(WriteFile(Served(folder_ + "/aA.txt"), "cut"));
    EXPECT_EQ(0, Run());
    EXPECT_EQ(7, executor_->GetErrorList().successCount);  // 2 files, sub and its 4 files
    for (const auto& name : names) {
        EXPECT_EQ("content of " + name, ReadFile(Served(folder_ + "/" + name))) << name;
        EXPECT_EQ("content of sub/" + name, ReadFile(Served(folder_ + "/sub/" + name))) << name;
    }
}

// The smbd processes of the fixture (the listener and its connection children), to freeze.
std::vector<pid_t> FixtureServerProcesses(const std::string& root) {
    std::vector<pid_t> pids;
    const pid_t listener = std::atoi(ReadFile(fs::path(root).parent_path() / "pid").c_str());
    if (listener <= 0) return pids;
    pids.push_back(listener);
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string stat = testing::ReadProcFile(entry.path() / "stat");
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        int parent = 0;
        char state = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) == 2 &&
            parent == listener)
            pids.push_back(std::atoi(name.c_str()));
    }
    return pids;
}

// A server that stops answering in the middle of a run ends it after a few failed requests,
// not after every remaining file has waited for its own time-out.
TEST_F(BackupExecuteSmbTest, FrozenServerEndsTheRunInBoundedTime) {
    for (int i = 0; i < 40; ++i)
        MakeFiles({std::string("f").append(std::to_string(i)).append(".txt")});
    ASSERT_TRUE(WriteFile(Source("a-big.bin"), std::string(3 * 1024 * 1024, 'b')));
    std::vector<pid_t> frozen;
    struct Thaw {
        std::vector<pid_t>& pids;
        ~Thaw() {
            for (pid_t pid : pids) kill(pid, SIGCONT);
        }
    } thaw{frozen};
    blockObserver_ = [&](std::uint64_t) {
        if (!frozen.empty()) return;
        frozen = FixtureServerProcesses(smb_.root);
        for (pid_t pid : frozen) kill(pid, SIGSTOP);
    };

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(1, Run());
    const auto elapsed = std::chrono::steady_clock::now() - start;

    ASSERT_FALSE(frozen.empty()) << ReadFile(CAppLog::Get().LogFilePath());
    // Each request waits for the share's 5 s time-out here (20 s in the program).
    EXPECT_LT(elapsed, std::chrono::seconds(60));
    EXPECT_LT(executor_->GetErrorList().executeCount, 10);
    EXPECT_EQ(2, ClientResultCode());
    EXPECT_NE(std::string::npos,
              ReadFile(CAppLog::Get().LogFilePath()).find("SMB Connection Lost."));
}

// A program killed in the middle of a copy leaves a temporary file on the share; the next run
// removes it and copies the file whole.
TEST_F(BackupExecuteSmbTest, CopyCutOffByAKillIsCleanedUpByTheNextRun) {
    const std::string big(5 * 1024 * 1024 + 3, 'k');
    ASSERT_TRUE(WriteFile(Source("big.bin"), big));
    MakeFiles({"small.txt"});
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CBackupSQLUtility childList(temp_.Sub("TessarineTool.db"));
        if (childList.Initialize() != 0) _exit(3);
        blockObserver_ = [](std::uint64_t) { raise(SIGKILL); };
        RunWith(childList);
        _exit(4);  // not reached: the first block of the first file kills the run
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    int leftovers = 0;
    for (const auto& name : NamesIn(folder_)) leftovers += name.rfind("~tess", 0) == 0 ? 1 : 0;
    EXPECT_EQ(1, leftovers);

    EXPECT_EQ(0, Run());

    EXPECT_EQ((std::set<std::string>{"big.bin", "small.txt"}), NamesIn(folder_));
    EXPECT_EQ(big, ReadFile(Served(folder_ + "/big.bin")));
}

class BackupExecuteCopierTest : public BackupExecuteSmbTest {
protected:
    void SetUp() override {
        BackupExecuteSmbTest::SetUp();
        if (!IsSkipped()) UseCopiers();
    }

    // Temporary copies in the destination folder and its sub-folders (also while the server
    // changes them).
    int TemporaryFiles() const {
        int count = 0;
        std::error_code error;
        for (fs::recursive_directory_iterator it(Served(folder_), error), end; !error && it != end;
             it.increment(error))
            count += it->path().filename().string().rfind("~tess", 0) == 0 ? 1 : 0;
        return count;
    }

    // True once a temporary copy of at least `bytes` stands in the destination folder.
    bool TemporaryCopyHolds(std::uintmax_t bytes) const {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(Served(folder_), error))
            if (entry.path().filename().string().rfind("~tess", 0) == 0 &&
                fs::file_size(entry.path(), error) >= bytes)
                return true;
        return false;
    }

    // `files` files in three folders ("content of <name>", or `fileBytes` bytes) and big.bin.
    void MakeTree(int files, std::size_t bigBytes, std::size_t fileBytes = 0) {
        for (int i = 0; i < files; ++i) {
            const std::string folder = i % 3 == 0 ? "" : (i % 3 == 1 ? "one/" : "one/two/");
            const std::string name = folder + "f" + std::to_string(i) + ".txt";
            if (fileBytes == 0) {
                MakeFiles({name});
                continue;
            }
            ASSERT_TRUE(WriteFile(Source(name), std::string(fileBytes, 'f')));
            SetModifiedTime(Source(name), kNow - 86400);
        }
        ASSERT_TRUE(WriteFile(Source("big.bin"), std::string(bigBytes, 'g')));
        SetModifiedTime(Source("big.bin"), kNow - 3600);
    }
};

// Rows of a file list in the order they were written: source, time, folder or not.
std::vector<std::string> RowsInOrder(const std::string& database) {
    return testing::RawDatabase(database).Rows(
        "SELECT SOURCE_FILE_PATH, LAST_UPDATE, IS_DIRECTORY, STATUS FROM BACKUP_FILELIST "
        "ORDER BY rowid");
}

// Every file below a folder with its size, time and content.
std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = fs::relative(entry.path(), root).string();
        if (entry.is_directory()) {
            files[relative] = "folder";
            continue;
        }
        files[relative] = std::to_string(entry.file_size()) + " " +
                          std::to_string(ModifiedTime(entry.path().string())) + " " +
                          std::to_string(std::hash<std::string>{}(ReadFile(entry.path())));
    }
    return files;
}

// Through the copiers a run leaves the same copies, rows (in the same order) and counts as one
// copy at a time: a full backup, then a differential one with changed, new and removed files.
TEST_F(BackupExecuteCopierTest, SameCopiesRowsAndCountsAsOneCopyAtATime) {
    MakeTree(240, 24 * 1024 * 1024 + 5);
    struct Result {
        std::map<std::string, std::string> copies;
        std::vector<std::string> rows;
        int result = -1;
        int execute = -1;
        int success = -1;
    };
    auto change = [&] {
        ASSERT_TRUE(WriteFile(Source("one/f1.txt"), "changed"));
        SetModifiedTime(Source("one/f1.txt"), kNow - 60);
        MakeFiles({"one/two/new.txt", "three/new.txt"});
        for (const char* folder : {"one/two", "three"}) SetModifiedTime(Source(folder), kNow - 500);
        fs::remove(Served(folder_ + "/" + current_ + "/f3.txt"));  // copy removed on the device
    };
    auto backUp = [&](const std::string& name, bool copiers) {
        current_ = name;
        pooled_ = copiers;
        SmbShare share(smb_.port);
        EXPECT_EQ(0, share.Connect(smb_.host, smb_.user, smb_.password));
        EXPECT_TRUE(share.CreateFolder(Unc(folder_ + "/" + name)));
        share.Cancel(smb_.host);
        CBackupSetting backup(store_.get());
        EXPECT_EQ(0, backup.Load());
        backup.folderPairs[0].destination = Unc(folder_ + "/" + name);
        EXPECT_EQ(0, backup.Save());
        CBackupSQLUtility fileList(temp_.Sub(name + ".db"));
        EXPECT_EQ(0, fileList.Initialize());
        std::vector<Result> results(2);
        for (Result& result : results) {
            result.result = RunWith(fileList);
            result.copies = Snapshot(Served(folder_ + "/" + name));
            result.rows = RowsInOrder(temp_.Sub(name + ".db"));
            result.execute = executor_->GetErrorList().executeCount;
            result.success = executor_->GetErrorList().successCount;
            if (&result == &results[0]) change();
        }
        return results;
    };
    // The same local tree for both: the second one starts from the first's changes undone.
    const std::vector<std::string> folders = {"", "one", "one/two"};
    std::vector<std::time_t> folderTimes;
    for (const auto& folder : folders) folderTimes.push_back(ModifiedTime(Source(folder)));
    const auto one = backUp("one", false);
    fs::remove_all(Source("three"));
    fs::remove(Source("one/two/new.txt"));
    ASSERT_TRUE(WriteFile(Source("one/f1.txt"), "content of one/f1.txt"));
    SetModifiedTime(Source("one/f1.txt"), kNow - 86400);
    for (std::size_t i = 0; i < folders.size(); ++i)
        SetModifiedTime(Source(folders[i]), folderTimes[i]);
    const auto two = backUp("two", true);

    for (std::size_t run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "full" : "differential");
        EXPECT_EQ(0, one[run].result);
        EXPECT_EQ(one[run].result, two[run].result);
        EXPECT_EQ(one[run].execute, two[run].execute);
        EXPECT_EQ(one[run].success, two[run].success);
        EXPECT_EQ(one[run].copies, two[run].copies);
        ASSERT_EQ(one[run].rows.size(), two[run].rows.size());
        for (std::size_t row = 0; row < one[run].rows.size(); ++row)
            ASSERT_EQ(one[run].rows[row], two[run].rows[row]) << "row " << row;
    }
    EXPECT_EQ(243, one[0].success);  // 241 files and 2 folders
    EXPECT_TRUE(CopierProcesses().empty());
}

// A copier killed in the middle of a copy: that file is reported failed, the others are copied
// (by the other copiers), and the next run removes the cut copy and copies the file whole.
TEST_F(BackupExecuteCopierTest, CopierKilledInTheMiddleFailsItsFileAndTheNextRunCopiesIt) {
    // Below the size that is striped. Only the big file's copy sends 2 MiB on one connection:
    // the relay holds it there, in the middle of its data, until its copier is killed.
    constexpr std::size_t kBig = 24 * 1024 * 1024;
    MakeTree(60, kBig);
    pid_t killed = 0;
    {
        testing::TcpRelay relay(smb_.port, 2 * 1024 * 1024, [&] {
            killed = CopierReading(Source("big.bin"));
            if (killed > 0) kill(killed, SIGKILL);
            return false;  // the other copies go on
        });
        EXPECT_EQ(1, Run(relay.Port()));
        ASSERT_TRUE(relay.Acted()) << "the big file's copy never came";
    }
    ASSERT_GT(killed, 0) << "no copier had the big file open in the middle of its copy";
    EXPECT_EQ(2, ClientResultCode());
    EXPECT_EQ(63, executor_->GetErrorList().executeCount);  // 61 files and 2 folders
    EXPECT_EQ(62, executor_->GetErrorList().successCount);
    const std::string log = ReadFile(CAppLog::Get().LogFilePath());
    EXPECT_NE(std::string::npos, log.find("File Copy Error. file:" + Source("big.bin")));
    EXPECT_NE(std::string::npos, log.find("Share Copier Lost."));
    EXPECT_FALSE(fs::exists(Served(folder_ + "/big.bin")));
    EXPECT_TRUE(CopierProcesses().empty());

    EXPECT_EQ(0, Run());
    EXPECT_EQ(1, executor_->GetErrorList().successCount);
    EXPECT_TRUE(std::string(kBig, 'g') == ReadFile(Served(folder_ + "/big.bin")));  // no dump
    EXPECT_EQ(0, TemporaryFiles());
    EXPECT_EQ(63, RowCount());
}

// A server that stops answering while copiers copy ends the run as it does with one copy at a
// time: a few failed requests, bounded time, no copier left behind. Through a relay it stops
// once a copier is part-way through a file's data; every file is larger than that part, so at
// that moment no copy is whole and the others are all still queued or under way, whatever
// order the walk takes and however loaded the machine.
TEST_F(BackupExecuteCopierTest, FrozenServerEndsTheRunInBoundedTime) {
    MakeTree(60, 8 * 1024 * 1024, 256 * 1024);
    int temporaryWhenFrozen = -1;
    const auto start = std::chrono::steady_clock::now();
    {
        testing::TcpRelay relay(smb_.port, 128 * 1024, [&] {
            temporaryWhenFrozen = TemporaryFiles();
            return true;  // nothing passes from now on
        });
        EXPECT_EQ(1, Run(relay.Port()));
        ASSERT_TRUE(relay.Acted());
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(temporaryWhenFrozen, 1) << "no copy was under way";
    // Each request waits for the share's 5 s time-out here (15 s in the program).
    EXPECT_LT(elapsed, std::chrono::seconds(30));
    EXPECT_EQ(2, ClientResultCode());
    EXPECT_NE(std::string::npos,
              ReadFile(CAppLog::Get().LogFilePath()).find("SMB Connection Lost."));
    EXPECT_TRUE(CopierProcesses().empty());
}

// The stop flag raised while copiers copy ends the run within a block or two of each copy:
// the copies under way are abandoned and their temporary files removed, nothing queued is
// started, and the next run copies what is missing.
TEST_F(BackupExecuteCopierTest, StopFlagInTheMiddleLeavesNoTemporaryFile) {
    MakeTree(60, 64 * 1024 * 1024);
    const auto start = std::chrono::steady_clock::now();
    {
        Watcher watcher([&] {
            if (!TemporaryCopyHolds(2 * 1024 * 1024)) return false;
            stop_ = 1;
            return true;
        });
        Run();  // the copy the run waited for when it stopped may count as failed
        ASSERT_TRUE(watcher.Fired());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_FALSE(fs::exists(Served(folder_ + "/big.bin")));
    EXPECT_EQ(0, TemporaryFiles());
    EXPECT_TRUE(CopierProcesses().empty());
    EXPECT_EQ(executor_->GetErrorList().successCount, RowCount());
    EXPECT_LE(executor_->GetErrorList().executeCount - executor_->GetErrorList().successCount, 1);

    stop_ = 0;
    EXPECT_EQ(0, Run());
    EXPECT_EQ(std::string(64 * 1024 * 1024, 'g'), ReadFile(Served(folder_ + "/big.bin")));
    EXPECT_EQ(0, TemporaryFiles());
    EXPECT_EQ(63, RowCount());
}

}  // namespace
}  // namespace tessarine
