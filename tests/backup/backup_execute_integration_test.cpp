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

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "backup/backup_execute.h"
#include "backup/backup_sql_utility.h"
#include "backup/backup_xml_utility.h"
#include "base/app_log.h"
#include "core/event_names.h"
#include "fakes/fake_clock.h"
#include "fakes/recording_message_sink.h"
#include "fakes/test_support.h"
#include "platform/named_events.h"
#include "platform/posix/smb_share.h"
#include "platform/system_info.h"
#include "settings/profile_store.h"
#include "settings/setting_records.h"

namespace tessarine {
namespace {

namespace fs = std::filesystem;
using testing::ModifiedTime;
using testing::ReadFile;
using testing::RecordingMessageSink;
using testing::SetModifiedTime;
using testing::TempDir;
using testing::WriteFile;

constexpr std::time_t kNow = 1514714400;

struct SmbFixture {
    std::string host;
    int port = 0;
    std::string user;
    std::string password;
    std::string root;  // the local folder whose "zereda" the server shares

    bool Load() {
        const char* names[] = {"TESSARINE_SMB_HOST", "TESSARINE_SMB_PORT", "TESSARINE_SMB_USER",
                               "TESSARINE_SMB_PASSWORD", "TESSARINE_SMB_ROOT"};
        std::string values[5];
        for (int i = 0; i < 5; ++i) {
            const char* value = std::getenv(names[i]);
            if (value == nullptr || *value == '\0') return false;
            values[i] = value;
        }
        host = values[0];
        port = std::atoi(values[1].c_str());
        user = values[2];
        password = values[3];
        root = values[4];
        return port > 0;
    }
};

class NamedSystemInfo : public SystemInfo {
public:
    explicit NamedSystemInfo(std::string user) : user_(std::move(user)) {}
    std::string ComputerName() const override { return "PC01"; }
    std::string UserName() const override { return user_; }

private:
    std::string user_;
};

// A TCP port on 127.0.0.1 where nothing listens.
int ClosedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

class BackupExecuteSmbTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!smb_.Load())
            GTEST_SKIP() << "TESSARINE_SMB_* not set: run scripts/smbd-fixture start <dir> and "
                            "export the variables of <dir>/env";
        // One destination folder (and one server result file) per test.
        folder_ = "exec" + std::to_string(getpid()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name();
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

    // Told of every block the run's share copies (on the run's thread).
    std::function<void(std::uint64_t)> blockObserver_;
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

TEST_F(BackupExecuteSmbTest, FullBackupLandsOnTheServerWithTimesKept) {
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

TEST_F(BackupExecuteSmbTest, DifferentialBackupCopiesOnlyWhatChanged) {
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

TEST_F(BackupExecuteSmbTest, MirroringRemovesTheCopiesOfADeletedFolder) {
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

TEST_F(BackupExecuteSmbTest, ReadOnlyCopiesAreOverwrittenAndDeleted) {
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
        {"device unreachable", smb_.password, ClosedPort()},
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
TEST_F(BackupExecuteSmbTest, NamesTheServerFoldsTogetherAreNeverOverwrittenNorDeleted) {
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

TEST_F(BackupExecuteSmbTest, PercentInNamesAndRemovedCopiesOverAnSmbUrlDestination) {
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
        const std::string stat = ReadFile(entry.path() / "stat");
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

}  // namespace
}  // namespace tessarine
