// Forwarding runs against a real SMB server (scripts/smbd-fixture), reached through SmbShare
// exactly as a device is reached, with the simulated device (tools/devicesim) examining what
// arrives. Skipped when the fixture's TESSARINE_SMB_* variables are not set.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/app_log.h"
#include "detection/detect_file_execute.h"
#include "detection/detect_file_sql_utility.h"
#include "fakes/fake_clock.h"
#include "fakes/recording_message_sink.h"
#include "fakes/test_support.h"
#include "platform/posix/smb_share.h"
#include "platform/system_info.h"
#include "settings/profile_store.h"
#include "settings/setting_records.h"

namespace tessarine {
namespace {

namespace fs = std::filesystem;
using testing::FolderNames;
using testing::SetModifiedTime;
using testing::TempDir;
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

class DetectFileSmbTest : public ::testing::Test {
protected:
    void SetUp() override {
        host_ = Env("TESSARINE_SMB_HOST");
        port_ = std::atoi(Env("TESSARINE_SMB_PORT").c_str());
        user_ = Env("TESSARINE_SMB_USER");
        password_ = Env("TESSARINE_SMB_PASSWORD");
        root_ = Env("TESSARINE_SMB_ROOT");
        if (host_.empty() || port_ <= 0 || user_.empty() || root_.empty())
            GTEST_SKIP() << "TESSARINE_SMB_* not set: run scripts/smbd-fixture start <dir> and "
                            "export the variables of <dir>/env";
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
                return std::make_unique<SmbShare>(port_, 5000);
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

TEST_F(DetectFileSmbTest, FullThenDifferentialThenFullAfterTheDeviceSettingChanged) {
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

}  // namespace
}  // namespace tessarine
