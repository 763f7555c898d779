#include "platform/posix/local_share.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "fakes/fault_injecting_share.h"
#include "fakes/test_support.h"
#include "platform/share_contract.h"
#include "platform/unc_path.h"

namespace tessarine {
namespace {

using namespace share_contract;  // the contract suite
using testing::FolderNames;
using testing::TempDir;
using testing::WriteFile;

// The contract on a LocalShare in its root folder: names as the file system compares them, or
// (kFold) as the device does.
template <bool kFold>
class LocalShareHarness {
public:
    using Share = LocalShare;
    static constexpr bool kFoldsCase = kFold;

    bool Start(std::string&) {
        share_.SetFoldCase(kFold);
        std::filesystem::create_directories(Served(""));
        return true;
    }
    LocalShare& share() { return share_; }
    std::string Device(const std::string& below) const {
        const std::string folder = R"(\\192.168.1.10\zereda\t)";
        return below.empty() ? folder : JoinDevicePath(folder, below);
    }
    std::string Served(const std::string& below) const {
        return temp_.Sub(below.empty() ? "share/zereda/t" : "share/zereda/t/" + below);
    }

private:
    TempDir temp_;
    LocalShare share_{temp_.Sub("share")};
};

using LocalHarnesses = ::testing::Types<LocalShareHarness<false>, LocalShareHarness<true>>;
INSTANTIATE_TYPED_TEST_SUITE_P(LocalShare, ShareContract, LocalHarnesses);

constexpr char kShare[] = R"(\\192.168.1.10\zereda)";

std::string Device(const std::string& below) { return std::string(kShare) + "\\" + below; }

class LocalShareTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(Local("zereda/backup"));
        ASSERT_TRUE(WriteFile(source_, "0123456789"));
    }

    std::string Local(const std::string& relative) const { return temp_.Sub("share/" + relative); }

    TempDir temp_;
    LocalShare share_{temp_.Sub("share")};
    std::string source_ = temp_.Sub("pc/s.txt");
};

TEST_F(LocalShareTest, MapsAnyHostToTheRootFolder) {
    std::string local;
    ASSERT_TRUE(share_.MapPath(R"(\\10.0.0.1\zereda\import\data\)", local));
    EXPECT_EQ(local, Local("zereda/import/data"));
    ASSERT_TRUE(share_.MapPath("smb://other/zereda/a%20b", local));
    EXPECT_EQ(local, Local("zereda/a b"));
}

TEST_F(LocalShareTest, RefusesPathsThatLeaveTheShare) {
    for (const char* path :
         {R"(\\h\zereda\..\..\outside)", R"(\\h)", R"(\\\\)", "", "/etc/passwd"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(share_.CreateFolder(path).error, EINVAL);
        EXPECT_EQ(share_.CopyToShare(source_, path, nullptr).error, EINVAL);
    }
    EXPECT_FALSE(std::filesystem::exists(temp_.Sub("outside")));
}

TEST_F(LocalShareTest, ConnectNeedsTheRootFolderUnlessToldOtherwise) {
    EXPECT_EQ(share_.Connect("192.168.1.10", "user", "pw"), kShareConnected);

    LocalShare missing(temp_.Sub("no-such-root"));
    EXPECT_EQ(missing.Connect("192.168.1.10", "user", "pw"), ENOENT);

    share_.SetConnectResult(kShareCredentialConflict);
    EXPECT_EQ(share_.Connect("192.168.1.10", "user", "pw"), kShareCredentialConflict);
    share_.SetConnectResult(EHOSTUNREACH);
    EXPECT_EQ(share_.Connect("192.168.1.10", "user", "pw"), EHOSTUNREACH);
    share_.SetConnectResult(std::nullopt);
    EXPECT_EQ(share_.Connect("192.168.1.10", "user", "pw"), kShareConnected);
}

TEST_F(LocalShareTest, FaultInjectingShareFailsTheChosenCallAndRecordsEveryCall) {
    testing::FaultInjectingShare faulty(share_);
    faulty.FailNth(testing::ShareOp::kCopyToShare, 2, ENOSPC);
    EXPECT_TRUE(faulty.CopyToShare(source_, Device(R"(backup\1.txt)"), nullptr));
    EXPECT_EQ(faulty.CopyToShare(source_, Device(R"(backup\2.txt)"), nullptr).error, ENOSPC);
    EXPECT_TRUE(faulty.CopyToShare(source_, Device(R"(backup\3.txt)"), nullptr));
    EXPECT_EQ(faulty.Calls(testing::ShareOp::kCopyToShare), 3);
    EXPECT_EQ(share_.Exists(Device(R"(backup\2.txt)")).error, ENOENT);

    faulty.FailFrom(testing::ShareOp::kList, 1, EHOSTDOWN);
    EXPECT_EQ(faulty.List(Device("backup"), "*").error, EHOSTDOWN);
    EXPECT_EQ(faulty.List(Device("backup"), "*").error, EHOSTDOWN);
    faulty.FailEverything(ENETDOWN);
    EXPECT_EQ(faulty.Connect("h", "u", "p"), ENETDOWN);
    EXPECT_EQ(faulty.IsFolder(Device("backup")).error, ENETDOWN);
    faulty.Heal();
    const auto listed = faulty.List(Device("backup"), "*");
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed.value.size(), 2u);
    // A failure of the inner share is recorded as it came.
    EXPECT_EQ(faulty.DeleteFile(Device(R"(backup\none.txt)")).error, ENOENT);

    using testing::ShareOp;
    const std::vector<testing::ShareCall> record = faulty.Record();
    ASSERT_EQ(record.size(), 9u);
    EXPECT_EQ(record[1].op, ShareOp::kCopyToShare);
    EXPECT_EQ(record[1].path, Device(R"(backup\2.txt)"));
    EXPECT_EQ(record[1].other, source_);
    EXPECT_EQ(record[1].error, ENOSPC);
    EXPECT_EQ(record[2].error, 0);
    EXPECT_EQ(record[5].op, ShareOp::kConnect);
    EXPECT_EQ(record[5].path, "h");
    EXPECT_EQ(record[8].op, ShareOp::kDeleteFile);
    EXPECT_EQ(record[8].error, ENOENT);
    EXPECT_EQ(faulty.PathsOf(ShareOp::kCopyToShare),
              (std::vector<std::string>{Device(R"(backup\1.txt)"), Device(R"(backup\2.txt)"),
                                        Device(R"(backup\3.txt)")}));
}

// With the device's case rule a name is found whatever its case, a copy over a name that
// differs in case takes the new name, and a rename refuses a name another entry holds.
TEST_F(LocalShareTest, FoldingCaseTreatsNamesAsTheDeviceDoes) {
    share_.SetFoldCase(true);
    ASSERT_TRUE(share_.CreateFolder("\\\\h\\zereda\\backup\\Photos"));
    EXPECT_TRUE(share_.IsFolder("\\\\h\\zereda\\BACKUP\\photos").value);
    EXPECT_EQ(EEXIST, share_.CreateFolder("\\\\h\\zereda\\backup\\PHOTOS").error);

    ASSERT_TRUE(share_.CopyToShare(source_, "\\\\h\\zereda\\backup\\Photos\\Note.txt", nullptr));
    ASSERT_TRUE(share_.CopyToShare(source_, "\\\\h\\zereda\\backup\\photos\\note.txt", nullptr));
    EXPECT_EQ(FolderNames(Local("zereda/backup/Photos")), std::vector<std::string>{"note.txt"});

    ASSERT_TRUE(share_.Rename("\\\\h\\zereda\\backup\\Photos", "\\\\h\\zereda\\backup\\photos"));
    EXPECT_EQ(FolderNames(Local("zereda/backup")), std::vector<std::string>{"photos"});
    ASSERT_TRUE(share_.CopyToShare(source_, "\\\\h\\zereda\\backup\\other.txt", nullptr));
    EXPECT_EQ(
        EEXIST,
        share_.Rename("\\\\h\\zereda\\backup\\other.txt", "\\\\h\\zereda\\backup\\PHOTOS").error);
}

}  // namespace
}  // namespace tessarine
