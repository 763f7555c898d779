// The result checker against a real SMB server (scripts/smbd-fixture) and the simulated device
// (tools/devicesim), which examines a forwarded batch and writes the result files. Skipped when
// the fixture's TESSARINE_SMB_* variables are not set.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/app_log.h"
#include "detection/detect_file_result_check.h"
#include "detection/detect_file_xml_utility.h"
#include "fakes/fake_clock.h"
#include "fakes/recording_message_sink.h"
#include "fakes/smb_fixture.h"
#include "fakes/test_support.h"
#include "platform/posix/smb_share.h"

namespace tessarine {
namespace {

namespace fs = std::filesystem;
using testing::FolderNames;
using testing::SmbFixture;
using testing::TempDir;
using testing::WriteFile;

class NamedComputer : public SystemInfo {
public:
    explicit NamedComputer(std::string name) : name_(std::move(name)) {}
    std::string ComputerName() const override { return name_; }
    std::string UserName() const override { return "user1"; }

private:
    std::string name_;
};

std::string Simulator() {
    std::string source = __FILE__;
    source.resize(source.rfind("/tests/detection/"));
    if (const char* fromEnv = std::getenv("TESSARINE_SOURCE_DIR"); fromEnv && *fromEnv)
        source = fromEnv;
    return "python3 '" + source + "/tools/devicesim/devicesim.py'";
}

TEST(DetectFileResultCheckSmbTest, ResultsTheDeviceWroteAreStoredAndLeaveTheDevice) {
    SmbFixture smb;
    if (!smb.Load()) GTEST_SKIP() << testing::kSmbFixtureMissing;
    TempDir temp;
    fs::create_directories(temp.Sub("data/detectfile/result"));
    CAppLog::Get().InitWith(temp.Path() + "/", "TessarineTool", true, std::int64_t{64} << 20);
    // A computer name of this run only: other runs' results in the shared folder are not ours.
    const std::string pc = "IT" + std::to_string(getpid() % 1000000);
    const std::string result = smb.root + "/zereda/import/result";
    ASSERT_EQ(std::system((Simulator() + " layout '" + smb.root + "' >/dev/null").c_str()), 0);

    // A forwarded batch: two files and their list, as the forwarder leaves them.
    const std::string data = smb.root + "/zereda/import/data/";
    ASSERT_TRUE(WriteFile(data + pc + "_a_1.txt", "社外秘の資料 / confidential"));
    ASSERT_TRUE(WriteFile(data + pc + "_b_2.txt", "連絡先 03-1234-5678"));
    CDetectFileXMLUtility list(temp.Sub("data/detectfile"));
    list.OpenFileList(pc);
    list.WriteFileData("/home/u/a.txt", "a.txt", pc + "_a_1.txt", 1700000000);
    list.WriteFileData("/home/u/b.txt", "b.txt", pc + "_b_2.txt", 1700000000);
    list.CloseFileList();
    fs::copy_file(list.GetFileListPath(), data + pc + "_metadata_20240101000000.qzv");
    ASSERT_EQ(
        std::system(
            (Simulator() + " examine '" + smb.root + "' --once --timeout 5 >/dev/null").c_str()),
        0);
    std::vector<std::string> mine;
    for (const std::string& name : FolderNames(result))
        if (name.rfind(pc + "_", 0) == 0) mine.push_back(name);
    ASSERT_EQ(mine.size(), 2u);

    CDetectFileResultSQLUtility results(temp.Sub("data/TessarineTool.db"));
    ASSERT_EQ(results.Initialize(), 0);
    testing::RecordingMessageSink sink;
    NamedEvents events;
    testing::FakeClock clock;
    NamedComputer computer(pc);
    const int port = smb.port;
    auto checker = MakeWorker<CDetectFileResultCheck>(CDetectFileResultCheck::Dependencies{
        .shareFactory = [port]() -> std::unique_ptr<DeviceShare> {
            return std::make_unique<SmbShare>(port);
        },
        .results = results,
        .messageSink = sink,
        .namedEvents = events,
        .clock = clock,
        .resultFolderPath = temp.Sub("data/detectfile/result/"),
        .systemInfo = computer,
        .loadCommonSetting = {},
        .loadDetectFileSetting = {},
        .profileStore = nullptr,
    });

    EXPECT_EQ(checker->GetDetectFileResult(smb.host, smb.user, smb.password), 1);
    for (const std::string& name : mine) EXPECT_FALSE(fs::exists(result + "/" + name)) << name;
    EXPECT_EQ(FolderNames(temp.Sub("data/detectfile/result")), mine);

    std::vector<CDetectFileResult> listed;
    results.ListDetectFileResults(-1, listed);
    ASSERT_EQ(listed.size(), 2u);
    std::sort(listed.begin(), listed.end(),
              [](const auto& a, const auto& b) { return a.filePath < b.filePath; });
    EXPECT_EQ(listed[0].fileName, "a.txt");
    EXPECT_EQ(listed[0].filePath, "/home/u/a.txt");
    ASSERT_EQ(listed[0].details.size(), 2u);
    EXPECT_EQ(listed[0].details[0].category, "社外秘");
    EXPECT_EQ(listed[0].details[0].hitText, "社外秘");
    EXPECT_EQ(listed[0].details[1].hitText, "confidential");
    ASSERT_EQ(listed[1].details.size(), 1u);
    EXPECT_EQ(listed[1].details[0].category, "電話番号");
    EXPECT_EQ(listed[1].details[0].hitText, "03-1234-5678");

    // Nothing new at the next check.
    EXPECT_EQ(checker->GetDetectFileResult(smb.host, smb.user, smb.password), 0);
    // Wrong credentials: no connection, nothing touched.
    EXPECT_EQ(checker->GetDetectFileResult(smb.host, smb.user, "wrong-password"), -1);
    CAppLog::Get().Reset();
}

}  // namespace
}  // namespace tessarine
