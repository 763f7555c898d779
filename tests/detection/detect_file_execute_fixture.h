// The fixture of the forwarder's tests: a run against a LocalShare behind a fault-injecting
// share, a real detection file list and profile store in a temporary folder, a local tree that
// the run walks through a VirtualFileSystem taken from disk (so faults and sizes can be added),
// a drive list of the test's own, a fake clock and a recording message sink.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/app_log.h"
#include "base/time_utility.h"
#include "detection/detect_file_execute.h"
#include "detection/detect_file_sql_utility.h"
#include "fakes/fake_clock.h"
#include "fakes/fault_injecting_share.h"
#include "fakes/recording_message_sink.h"
#include "fakes/test_support.h"
#include "fakes/virtual_file_system.h"
#include "platform/posix/local_share.h"
#include "platform/system_info.h"
#include "settings/profile_store.h"
#include "settings/setting_records.h"

namespace tessarine::detect_test {

namespace fs = std::filesystem;
using testing::FaultInjectingShare;
using testing::ReadFile;
using testing::RecordingMessageSink;
using testing::ShareCall;
using testing::ShareOp;
using testing::TempDir;
using testing::VirtualFileSystem;
using testing::WriteFile;

constexpr char kHost[] = "127.0.0.1";
constexpr std::time_t kNow = 1491017696;  // 2017-04-01, any fixed moment

class FixedSystemInfo : public SystemInfo {
public:
    std::string ComputerName() const override { return "PC01"; }
    std::string UserName() const override { return "user1"; }
};

class FixedDrives : public FixedDriveList {
public:
    DriveLayout layout;
    DriveLayout Read() override { return layout; }
};

// What the test wants of the share of a run.
struct ShareFaults {
    std::set<int> failingCopies;  // numbers (from 1) of the copies to the share that fail
    int copyError = EIO;
    std::function<void(FaultInjectingShare&)> configure;
};

struct LocalHolder {
    explicit LocalHolder(const std::string& root) : local(root) {}
    LocalShare local;
};

// One run's share; hands its record to the test when the run lets it go.
class RunShare : private LocalHolder, public FaultInjectingShare {
public:
    RunShare(const std::string& root, ShareFaults& faults, std::vector<ShareCall>& record)
        : LocalHolder(root), FaultInjectingShare(local), faults_(faults), record_(record) {
        local.SetFoldCase(true);
        if (faults_.configure) faults_.configure(*this);
    }
    ~RunShare() override { record_ = Record(); }

    IoStatus CopyToShare(const std::string& localPath, const std::string& path,
                         const std::atomic<int>* cancel) override {
        if (faults_.failingCopies.count(++copies_) != 0) return IoStatus{faults_.copyError};
        return FaultInjectingShare::CopyToShare(localPath, path, cancel);
    }

private:
    ShareFaults& faults_;
    std::vector<ShareCall>& record_;
    int copies_ = 0;
};

struct DeviceSetting {
    std::string enable = "on";
    std::string timestamp = "20170401000000";
    std::vector<std::string> extensions = {"txt", "docx"};
    std::string maxFileSize = "10";
};

class DetectFileExecuteTest : public ::testing::Test {
public:
    void SetUp() override {
        fs::create_directories(temp_.Sub("log"));
        fs::create_directories(temp_.Sub("data/detectfile"));
        fs::create_directories(DataFolder());
        fs::create_directories(Drive());
        CAppLog::Get().InitWith(temp_.Sub("log/"), "TessarineTool", true, std::int64_t{64} << 20);
        store_ = std::make_unique<CProfileStore>(temp_.Sub("TessarineTool.msf"));
        CCommonSetting common(store_.get());
        common.hostName = "QZV-4070";
        common.ipv4Address = kHost;
        common.userName = "tessa";
        common.userPassword = "s3cret-pw";
        ASSERT_EQ(0, common.Save());
        fileList_ = std::make_unique<CDetectFileSQLUtility>(temp_.Sub("TessarineTool.db"));
        ASSERT_EQ(0, fileList_->Initialize());
        block_.stopRequested = &stop_;
        block_.threadRunning = &threadRunning_;
        block_.executorRunning = &executorRunning_;
        drives_->layout.fixedRoots = {Drive()};
        drives_->layout.mountPoints = {"/", Drive()};
        SetDevice(DeviceSetting{});
    }
    void TearDown() override { CAppLog::Get().Reset(); }

    std::string Drive() const { return temp_.Sub("drive"); }
    std::string DataFolder() const { return temp_.Sub("drive/ProgramData/tessarine"); }
    std::string ShareRoot() const { return temp_.Sub("share"); }
    std::string Imported() const { return ShareRoot() + "/zereda/import/data"; }
    std::string Log() const { return ReadFile(temp_.Sub("log/TessarineTool.log")); }

    void SetDevice(const DeviceSetting& setting) {
        std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><setting><enable>" +
                               setting.enable + "</enable><timestamp>" + setting.timestamp +
                               "</timestamp><extensions>";
        for (const auto& e : setting.extensions) document += "<data>" + e + "</data>";
        document += "</extensions><maxfilesize>" + setting.maxFileSize + "</maxfilesize></setting>";
        ASSERT_TRUE(WriteFile(ShareRoot() + "/zereda/import/setting.xml", document));
        fs::create_directories(Imported());
    }

    // A real file below the drive, with its last-write time.
    void AddFile(const std::string& relative, std::time_t modified = kNow - 3600,
                 const std::string& content = "x") {
        ASSERT_TRUE(WriteFile(Drive() + "/" + relative, content));
        testing::SetModifiedTime(Drive() + "/" + relative, modified);
    }

    // One run on the test's thread; the tree is read from disk first, then `adjust` may add
    // faults or sizes to it.
    int Run(const std::function<void(VirtualFileSystem&)>& adjust = {}) {
        VirtualFileSystem tree;
        tree.AddFromDisk(Drive());
        if (adjust) adjust(tree);
        record_.clear();
        auto executor = MakeWorker<CDetectFileExecute>(CDetectFileExecute::Dependencies{
            .shareFactory = [this]() -> std::unique_ptr<DeviceShare> {
                return std::make_unique<RunShare>(ShareRoot(), faults_, record_);
            },
            .fileList = *fileList_,
            .messageSink = sink_,
            .clock = clock_,
            .systemInfo = systemInfo_,
            .loadCommonSetting = {},
            .profileStore = store_.get(),
            .detectFileFolderPath = temp_.Sub("data/detectfile"),
            .excludedFolders = {DataFolder()},
            .localFileSystem = &tree,
            .driveList = drives_,
        });
        executor->SetControlBlock(&block_);
        return executor->ThreadCore();
    }

    // Local paths of the copies the last run sent, in order (file lists as "<list>").
    std::vector<std::string> CopiedFiles() const {
        std::vector<std::string> copied;
        for (const auto& call : record_) {
            if (call.op != ShareOp::kCopyToShare || call.error != 0) continue;
            // A list goes to its staging name first, from the local file list.
            const bool list = call.other.size() >= 9 &&
                              call.other.compare(call.other.size() - 9, 9, "/filelist") == 0;
            copied.push_back(list ? std::string("<list>") : call.other.substr(Drive().size() + 1));
        }
        return copied;
    }
    // Names in the device's import folder, file lists apart.
    std::vector<std::string> ImportedFiles(bool lists = false) const {
        std::vector<std::string> names;
        for (const auto& name : testing::FolderNames(Imported()))
            if ((name.find("_metadata_") != std::string::npos) == lists) names.push_back(name);
        return names;
    }
    // The device takes in everything sent.
    void DeviceTakesIn() {
        for (const auto& name : testing::FolderNames(Imported()))
            fs::remove(Imported() + "/" + name);
    }
    // Path (below the drive), status of each row, by path.
    std::vector<std::string> Rows() const {
        sqlite3* db = nullptr;
        sqlite3_open(temp_.Sub("TessarineTool.db").c_str(), &db);
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "SELECT FILE_PATH, STATUS FROM DETECT_FILE_FILELIST ORDER BY 1;", -1,
                           &statement, nullptr);
        std::vector<std::string> rows;
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const std::string path =
                reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
            rows.push_back(path.substr(Drive().size() + 1) + "|" +
                           reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)));
        }
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return rows;
    }

protected:
    TempDir temp_;
    std::unique_ptr<CProfileStore> store_;
    std::unique_ptr<CDetectFileSQLUtility> fileList_;
    testing::FakeClock clock_{kNow};
    RecordingMessageSink sink_;
    FixedSystemInfo systemInfo_;
    std::shared_ptr<FixedDrives> drives_ = std::make_shared<FixedDrives>();
    ShareFaults faults_;
    std::vector<ShareCall> record_;
    std::atomic<int> stop_{0};
    std::atomic<int> threadRunning_{0};
    std::atomic<int> executorRunning_{0};
    ThreadControlBlock block_;
};

}  // namespace tessarine::detect_test
