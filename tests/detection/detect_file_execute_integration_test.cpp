// Forwarding runs against a real SMB server (scripts/smbd-fixture), reached through SmbShare
// exactly as a device is reached, with the simulated device (tools/devicesim) examining what
// arrives. Skipped when the fixture's TESSARINE_SMB_* variables are not set.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/app_log.h"
#include "detection/detect_file_execute.h"
#include "detection/detect_file_sql_utility.h"
#include "fakes/copier_processes.h"
#include "fakes/fake_clock.h"
#include "fakes/fault_injecting_share.h"
#include "fakes/raw_database.h"
#include "fakes/recording_message_sink.h"
#include "fakes/smb_fixture.h"
#include "fakes/test_support.h"
#include "platform/posix/pooled_smb_share.h"
#include "platform/posix/smb_share.h"
#include "platform/share_name.h"
#include "platform/system_info.h"
#include "settings/profile_store.h"
#include "settings/setting_records.h"

namespace tessarine {
namespace {

namespace fs = std::filesystem;
using testing::CopierProcesses;
using testing::CopierReading;
using testing::FolderNames;
using testing::ReadFile;
using testing::SetModifiedTime;
using testing::TempDir;
using testing::Watcher;
using testing::WriteFile;

constexpr std::time_t kNow = 1491017696;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string SourceDir() {
    std::string dir = Env("TESSARINE_SOURCE_DIR");
    if (dir.empty()) {
        dir = __FILE__;
        dir.resize(dir.rfind("/tests/detection/"));
    }
    return dir;
}

class FixedSystemInfo : public SystemInfo {
public:
    std::string ComputerName() const override { return "PC01"; }
    std::string UserName() const override { return "user1"; }
};

class OneDrive : public FixedDriveList {
public:
    explicit OneDrive(std::string root) : root_(std::move(root)) {}
    DriveLayout Read() override { return {{root_}, {"/", root_}}; }

private:
    std::string root_;
};

// Another user of this PC, forwarding at the same moment under the same computer name: just
// before the run claims the first device name `rivalTakes` picks, the rival claims that name
// itself and writes its own file there.
struct OwnedShare {
    std::unique_ptr<DeviceShare> share;
};
class RivalFirstShare : private OwnedShare, public testing::FaultInjectingShare {
public:
    RivalFirstShare(std::unique_ptr<DeviceShare> share,
                    std::function<bool(const std::string&)> rivalTakes,
                    std::function<void(const std::string&)> rival)
        : OwnedShare{std::move(share)},
          FaultInjectingShare(*OwnedShare::share),
          rivalTakes_(std::move(rivalTakes)),
          rival_(std::move(rival)) {}
    IoStatus ReserveName(const std::string& path) override {
        if (rival_ && rivalTakes_(path)) {
            rival_(path);
            rival_ = nullptr;
        }
        return FaultInjectingShare::ReserveName(path);
    }

private:
    std::function<bool(const std::string&)> rivalTakes_;
    std::function<void(const std::string&)> rival_;
};

class DetectFileSmbTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::SmbFixture smb;
        if (!smb.Load()) GTEST_SKIP() << testing::kSmbFixtureMissing;
        host_ = smb.host;
        port_ = smb.port;
        user_ = smb.user;
        password_ = smb.password;
        root_ = smb.root;
        fs::create_directories(temp_.Sub("log"));
        fs::create_directories(temp_.Sub("detectfile"));
        fs::create_directories(Drive());
        CAppLog::Get().InitWith(temp_.Sub("log/"), "TessarineTool", true, std::int64_t{64} << 20);
        store_ = std::make_unique<CProfileStore>(temp_.Sub("TessarineTool.msf"));
        CCommonSetting common(store_.get());
        common.hostName = "fixture";
        common.ipv4Address = host_;
        common.userName = user_;
        common.userPassword = password_;
        ASSERT_EQ(0, common.Save());
        fileList_ = std::make_unique<CDetectFileSQLUtility>(temp_.Sub("TessarineTool.db"));
        ASSERT_EQ(0, fileList_->Initialize());
        EmptyImport();
        ASSERT_EQ(Simulator("layout " + root_ +
                            " --switch on --extensions txt,docx --max-size 10 --timestamp "
                            "20170401000000"),
                  0);
    }
    void TearDown() override {
        if (!root_.empty()) EmptyImport();
        CAppLog::Get().Reset();
    }

    std::string Drive() const { return temp_.Sub("drive"); }
    std::string Imported() const { return root_ + "/zereda/import/data"; }
    std::string Results() const { return root_ + "/zereda/import/result"; }

    void EmptyImport() {
        std::error_code ignored;
        for (const std::string& folder : {Imported(), Results()})
            for (const auto& name : FolderNames(folder)) fs::remove(folder + "/" + name, ignored);
    }
    int Simulator(const std::string& arguments) const {
        const std::string command = "python3 '" + SourceDir() + "/tools/devicesim/devicesim.py' " +
                                    arguments + " >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    int Examine() const { return Simulator("examine " + root_ + " --once --timeout 5"); }

    void AddFile(const std::string& relative, const std::string& content,
                 std::time_t modified = kNow - 3600) {
        ASSERT_TRUE(WriteFile(Drive() + "/" + relative, content));
        SetModifiedTime(Drive() + "/" + relative, modified);
    }

    int Run() {
        auto executor = MakeWorker<CDetectFileExecute>(CDetectFileExecute::Dependencies{
            .shareFactory = [this]() -> std::unique_ptr<DeviceShare> {
                std::unique_ptr<DeviceShare> share;
                if (pooled_)
                    share = std::make_unique<PooledSmbShare>(
                        CopierPoolOptions{copierProgram_, 4, port_, 5000});
                else
                    share = std::make_unique<SmbShare>(port_, 5000);
                if (wrapShare_) return wrapShare_(std::move(share));
                return share;
            },
            .fileList = *fileList_,
            .messageSink = sink_,
            .clock = clock_,
            .systemInfo = systemInfo_,
            .loadCommonSetting = {},
            .profileStore = store_.get(),
            .detectFileFolderPath = temp_.Sub("detectfile"),
            .excludedFolders = {},
            .localFileSystem = nullptr,
            .driveList = std::make_shared<OneDrive>(Drive()),
        });
        executor->SetControlBlock(&block_);
        return executor->ThreadCore();
    }

    // Files (not lists) the device holds in its import folder.
    int ImportedFileCount() const {
        int count = 0;
        for (const auto& name : FolderNames(Imported()))
            count += name.find("_metadata_") == std::string::npos ? 1 : 0;
        return count;
    }

    // Starts the copier processes of the next runs (this test's program cannot be one).
    void UseCopiers() {
        const std::string program = testing::CopierProgram();
        if (program.empty()) GTEST_SKIP() << testing::kCopierProgramMissing;
        copierProgram_ = program;
        pooled_ = true;
    }

    bool pooled_ = false;
    std::string copierProgram_;
    std::function<std::unique_ptr<DeviceShare>(std::unique_ptr<DeviceShare>)> wrapShare_;
    std::string host_, user_, password_, root_;
    int port_ = 0;
    TempDir temp_;
    std::unique_ptr<CProfileStore> store_;
    std::unique_ptr<CDetectFileSQLUtility> fileList_;
    testing::FakeClock clock_{kNow};
    testing::RecordingMessageSink sink_;
    FixedSystemInfo systemInfo_;
    std::atomic<int> stop_{0};
    std::atomic<int> executorRunning_{0};
    ThreadControlBlock block_{&stop_, nullptr, &executorRunning_};
};

// The tests below run twice: one copy at a time in this process, and through copier processes.
using DetectFileSmbBothWaysTest = testing::BothCopyPaths<DetectFileSmbTest>;

INSTANTIATE_TEST_SUITE_P(Copies, DetectFileSmbBothWaysTest, ::testing::Bool(),
                         testing::CopyPathName);

TEST_P(DetectFileSmbBothWaysTest, FullThenDifferentialThenFullAfterTheDeviceSettingChanged) {
    AddFile("docs/plan.txt", "社外秘 の計画");
    AddFile("docs/phone.docx", "call 03-1234-5678");
    AddFile("docs/plain.txt", "nothing to see");
    AddFile("docs/photo.jpg", "社外秘");

    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(ImportedFileCount(), 3);
    EXPECT_EQ(Examine(), 0);
    EXPECT_TRUE(FolderNames(Imported()).empty());  // the device took the batch in
    EXPECT_EQ(FolderNames(Results()).size(), 2u);  // plan.txt and phone.docx matched
    EmptyImport();

    // Differential: one changed file and one new one.
    AddFile("docs/plain.txt", "now confidential", kNow - 60);
    AddFile("new/memo.txt", "free text");
    clock_.Advance(std::chrono::hours(24));
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(ImportedFileCount(), 2);
    EXPECT_EQ(Examine(), 0);
    EXPECT_EQ(FolderNames(Results()).size(), 1u);
    EmptyImport();

    // Nothing changed: nothing sent.
    clock_.Advance(std::chrono::hours(24));
    ASSERT_EQ(Run(), 0);
    EXPECT_TRUE(FolderNames(Imported()).empty());

    // The device's setting changes: every file again.
    ASSERT_EQ(Simulator("setting " + root_), 0);
    clock_.Advance(std::chrono::hours(24));
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(ImportedFileCount(), 4);
    EXPECT_EQ(Examine(), 0);
    EXPECT_EQ(FolderNames(Results()).size(), 3u);
}

// Two users of one PC give one device name in the same second: the one whose claim comes
// second moves on by a second, and each file arrives whole under a name of its own.
TEST_F(DetectFileSmbTest, ANameAnotherSenderHoldsIsPassedOverByASecond) {
    struct Case {
        const char* what;
        bool list;  // the rival holds the first file list's staging name, else the first copy's
    };
    for (const Case& c : {Case{"a copy", false}, Case{"a file list", true}}) {
        SCOPED_TRACE(c.what);
        EmptyImport();
        ASSERT_EQ(0, fileList_->DeleteAllDetectFileInformation());  // the file is new again
        clock_.Advance(std::chrono::hours(1));
        AddFile("docs/plan.txt", "社外秘 の計画");
        std::string held;  // the device name the rival took
        const std::string rivalContent = std::string("the other user's ") + c.what;
        wrapShare_ = [&](std::unique_ptr<DeviceShare> share) -> std::unique_ptr<DeviceShare> {
            return std::make_unique<RivalFirstShare>(
                std::move(share),
                [&](const std::string& path) {
                    return IsTemporaryCopyName(path.substr(path.rfind('\\') + 1)) == c.list;
                },
                [&](const std::string& path) {
                    SmbShare rival(port_, 5000);
                    ASSERT_EQ(kShareConnected, rival.Connect(host_, user_, password_));
                    rival.SetCopySender("the other user's data folder");
                    ASSERT_TRUE(rival.ReserveName(path));
                    const std::string local = temp_.Sub("rival");
                    ASSERT_TRUE(WriteFile(local, rivalContent));
                    ASSERT_TRUE(rival.CopyToShare(local, path, nullptr));
                    held = path.substr(path.rfind('\\') + 1);
                });
        };
        ASSERT_EQ(0, Run());
        wrapShare_ = nullptr;
        ASSERT_FALSE(held.empty()) << "the rival never came";
        EXPECT_NE(std::string::npos, ReadFile(temp_.Sub("log/TessarineTool.log"))
                                         .find("Device Name Held By Another Sender:" +
                                               (c.list ? std::string("PC01_metadata_") : held)));
        // The rival's file is untouched; this run's copy and list are whole under other names.
        EXPECT_EQ(rivalContent, ReadFile(Imported() + "/" + held));
        std::vector<std::string> copies;
        std::vector<std::string> lists;
        for (const std::string& name : FolderNames(Imported())) {
            if (name == held) continue;
            (name.find("_metadata_") != std::string::npos ? lists : copies).push_back(name);
        }
        ASSERT_EQ(1u, copies.size()) << ::testing::PrintToString(FolderNames(Imported()));
        ASSERT_EQ(1u, lists.size());
        EXPECT_EQ("社外秘 の計画", ReadFile(Imported() + "/" + copies[0]));
        if (!c.list) {
            // The same name, a second later.
            EXPECT_EQ(0u, copies[0].rfind("PC01_plan_", 0)) << copies[0];
            EXPECT_LT(held, copies[0]);
        }
        const std::string list = ReadFile(Imported() + "/" + lists[0]);
        EXPECT_NE(std::string::npos, list.find("<transfername>" + copies[0] + "</transfername>"))
            << list;
        // The device takes the batch in and examines it; the rival's file waits for its list.
        EXPECT_EQ(0, Examine());
        EXPECT_EQ(std::vector<std::string>{held}, FolderNames(Imported()));
        EXPECT_EQ(1u, FolderNames(Results()).size());
    }
}

// Rows of the detection file list in the order they were written.
std::vector<std::string> RowsInOrder(const std::string& database) {
    return testing::RawDatabase(database).Rows("SELECT * FROM DETECT_FILE_FILELIST ORDER BY rowid");
}

class DetectFileCopierTest : public DetectFileSmbTest {
protected:
    void SetUp() override {
        DetectFileSmbTest::SetUp();
        if (IsSkipped()) return;
        UseCopiers();
        if (IsSkipped()) return;
        ASSERT_EQ(Simulator("layout " + root_ +
                            " --switch on --extensions txt,docx --max-size 100 --timestamp "
                            "20170401000000"),
                  0);
    }

    // `files` small designated files in three folders and one large one at the top.
    void MakeTree(int files, std::size_t bigBytes) {
        for (int i = 0; i < files; ++i) {
            const std::string folder = i % 3 == 0 ? "" : (i % 3 == 1 ? "one/" : "one/two/");
            AddFile(folder + "f" + std::to_string(i) + ".txt", "text " + std::to_string(i));
        }
        ASSERT_TRUE(WriteFile(Drive() + "/big.txt", std::string(bigBytes, 'g')));
        SetModifiedTime(Drive() + "/big.txt", kNow - 3600);
    }

    int TemporaryFiles() const {
        int count = 0;
        for (const auto& name : FolderNames(Imported())) count += IsTemporaryCopyName(name);
        return count;
    }
    bool TemporaryCopyHolds(std::uintmax_t bytes) const {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(Imported(), error))
            if (IsTemporaryCopyName(entry.path().filename().string()) &&
                fs::file_size(entry.path(), error) >= bytes)
                return true;
        return false;
    }

    // What the device holds: each file's name and content, lists included.
    std::map<std::string, std::string> Received() const {
        std::map<std::string, std::string> received;
        for (const auto& name : FolderNames(Imported()))
            received[name] = ReadFile(Imported() + "/" + name);
        return received;
    }

    // Transfer names announced by the lists the device holds.
    std::set<std::string> Announced() const {
        std::set<std::string> names;
        for (const auto& [name, content] : Received()) {
            if (name.find("_metadata_") == std::string::npos) continue;
            for (std::size_t at = content.find("<transfername>"); at != std::string::npos;
                 at = content.find("<transfername>", at + 1)) {
                const std::size_t begin = at + std::string("<transfername>").size();
                names.insert(content.substr(begin, content.find('<', begin) - begin));
            }
        }
        return names;
    }

    // Checks that every announced file arrived whole under its final name and every file that
    // arrived is announced.
    void ExpectAnnouncedExactlyWhatArrived() const {
        std::set<std::string> arrived;
        for (const auto& name : FolderNames(Imported()))
            if (name.find("_metadata_") == std::string::npos && !IsTemporaryCopyName(name))
                arrived.insert(name);
        EXPECT_EQ(arrived, Announced());
    }

    // The device takes in everything under a final name (a cut copy stays).
    void DeviceTakesIn() {
        for (const auto& name : FolderNames(Imported()))
            if (!IsTemporaryCopyName(name)) fs::remove(Imported() + "/" + name);
    }
};

// One copy at a time and through copiers: the same rows in the same order, the same files and
// lists on the device (more than one batch of 100, in several folders).
TEST_F(DetectFileCopierTest, SameRowsAndListsAsOneCopyAtATime) {
    MakeTree(150, 12 * 1024 * 1024);
    struct Outcome {
        int result;
        std::vector<std::string> rows;
        std::map<std::string, std::string> received;
    };
    auto forward = [&](bool pooled, const std::string& database) {
        pooled_ = pooled;
        fileList_ = std::make_unique<CDetectFileSQLUtility>(temp_.Sub(database));
        EXPECT_EQ(0, fileList_->Initialize());
        EmptyImport();
        Outcome outcome;
        outcome.result = Run();
        outcome.rows = RowsInOrder(temp_.Sub(database));
        outcome.received = Received();
        return outcome;
    };
    const Outcome one = forward(false, "one.db");
    const Outcome many = forward(true, "many.db");
    EXPECT_NE(std::string::npos,
              ReadFile(CAppLog::Get().LogFilePath()).find("Share Copiers Ready. Count:4"));
    EXPECT_EQ(0, one.result);
    EXPECT_EQ(one.result, many.result);
    EXPECT_EQ(151u, one.rows.size());
    EXPECT_EQ(one.rows, many.rows);
    EXPECT_EQ(153u, one.received.size());  // two lists
    EXPECT_TRUE(one.received == many.received);
    ExpectAnnouncedExactlyWhatArrived();
    EXPECT_TRUE(CopierProcesses().empty());
}

// A copier killed in the middle of a file: that file is reported failed and announced nowhere,
// the others arrive and are announced, and once the device has taken them in the next run
// removes the cut copy and sends the file whole.
TEST_F(DetectFileCopierTest, CopierKilledInTheMiddleFailsItsFileAndTheNextRunSendsIt) {
    MakeTree(30, 48 * 1024 * 1024);
    pid_t killed = 0;
    {
        Watcher watcher([&] {
            if (!TemporaryCopyHolds(2 * 1024 * 1024)) return false;
            killed = CopierReading(Drive() + "/big.txt");
            return killed > 0 && kill(killed, SIGKILL) == 0;
        });
        EXPECT_EQ(0, Run());
        ASSERT_TRUE(watcher.Fired()) << "the big file was copied before it could be cut";
    }
    const std::string log = ReadFile(CAppLog::Get().LogFilePath());
    EXPECT_NE(std::string::npos, log.find("File Copy Error. file:" + Drive() + "/big.txt"));
    EXPECT_NE(std::string::npos, log.find("Share Copier Lost."));
    EXPECT_EQ(30, ImportedFileCount() - TemporaryFiles());
    EXPECT_EQ(30u, RowsInOrder(temp_.Sub("TessarineTool.db")).size());
    ExpectAnnouncedExactlyWhatArrived();
    EXPECT_TRUE(CopierProcesses().empty());

    DeviceTakesIn();
    clock_.Advance(std::chrono::hours(24));
    EXPECT_EQ(0, Run());
    EXPECT_EQ(0, TemporaryFiles());
    ASSERT_EQ(1, ImportedFileCount());
    ExpectAnnouncedExactlyWhatArrived();
    for (const auto& [name, content] : Received()) {
        if (name.find("_metadata_") == std::string::npos) {
            EXPECT_TRUE(content == std::string(48 * 1024 * 1024, 'g')) << name;
        }
    }
    EXPECT_EQ(31u, RowsInOrder(temp_.Sub("TessarineTool.db")).size());
}

// The stop flag raised in the middle of a large file ends the run within a block or two: no
// temporary file, no copier left, whatever arrived whole is announced, and the next run sends
// the rest.
TEST_F(DetectFileCopierTest, StopFlagInTheMiddleLeavesNoTemporaryFile) {
    MakeTree(30, 64 * 1024 * 1024);
    const auto start = std::chrono::steady_clock::now();
    {
        Watcher watcher([&] {
            if (!TemporaryCopyHolds(2 * 1024 * 1024)) return false;
            stop_ = 1;
            return true;
        });
        EXPECT_EQ(0, Run());
        ASSERT_TRUE(watcher.Fired());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(0, TemporaryFiles());
    EXPECT_TRUE(CopierProcesses().empty());
    ExpectAnnouncedExactlyWhatArrived();
    const std::size_t rows = RowsInOrder(temp_.Sub("TessarineTool.db")).size();
    EXPECT_EQ(static_cast<int>(rows), ImportedFileCount());
    EXPECT_LT(rows, 31u);

    stop_ = 0;
    DeviceTakesIn();
    clock_.Advance(std::chrono::hours(24));
    EXPECT_EQ(0, Run());
    EXPECT_EQ(31u, RowsInOrder(temp_.Sub("TessarineTool.db")).size());
    EXPECT_EQ(static_cast<int>(31 - rows), ImportedFileCount());
    EXPECT_EQ(0, TemporaryFiles());
    ExpectAnnouncedExactlyWhatArrived();
}

}  // namespace
}  // namespace tessarine
