// Every failed entry of a run carries its reason, kept beside the detail result file.
#include <gtest/gtest.h>

#include "backup/backup_execute_fixture.h"
#include "backup/failure_reason.h"
#include "backup/failure_reason_file.h"

namespace tessarine {
namespace {

using namespace backup_test;  // NOLINT(google-build-using-namespace): the fixture's own names
namespace fs = std::filesystem;
using testing::ShareOp;

class BackupFailureReasonTest : public BackupExecuteTest {
protected:
    BackupErrorList StoredReasons() const {
        BackupErrorList list;
        CFailureReasonFile file(temp_.Sub("data/backup/"));
        EXPECT_TRUE(file.Read(list));
        return list;
    }
};

// The user's first backup pointed at a folder the device does not have: one failure names the
// folder, instead of one failure per entry that the device could never take.
TEST_F(BackupFailureReasonTest, MissingDestinationFolderIsTheOneFailureOfItsPair) {
    Configure(Config{.pairs = {{"src1", "dst1"}, {"src2", "dst2"}}});
    MakeFiles({"src1/a.txt", "src1/sub/b.txt", "src2/c.txt"});
    fs::remove_all(ShareFolder("dst1"));

    EXPECT_EQ(1, Run());

    EXPECT_EQ(2, ClientResultCode());
    const BackupErrorList detail = DetailResult();
    EXPECT_EQ(2, detail.executeCount);  // the missing folder, then src2/c.txt
    EXPECT_EQ(1, detail.successCount);
    EXPECT_EQ(std::vector<std::string>{Source("src1")}, detail.paths);
    EXPECT_EQ(0, CopiesInto("dst1"));
    EXPECT_EQ("content of src2/c.txt", ReadFile(ShareFolder("dst2/c.txt")));

    const BackupErrorList reasons = StoredReasons();
    EXPECT_EQ(detail.executeCount, reasons.executeCount);
    EXPECT_EQ(detail.successCount, reasons.successCount);
    ASSERT_EQ(1u, reasons.failures.size());
    EXPECT_EQ(Source("src1"), reasons.failures[0].path);
    EXPECT_EQ(FailureReason::kDestinationMissing, reasons.failures[0].reason);
    EXPECT_EQ(Unc("dst1"), reasons.failures[0].detail);
}

// A mirroring run whose destination went missing deletes nothing and keeps its rows.
TEST_F(BackupFailureReasonTest, MissingDestinationFolderKeepsTheRowsWhenMirroring) {
    Configure(Config{.mirroring = true});
    MakeFiles({"src1/a.txt"});
    EXPECT_EQ(0, Run());
    fs::remove(Source("src1/a.txt"));
    fs::remove_all(ShareFolder("dst1"));

    EXPECT_EQ(1, Run());

    EXPECT_TRUE(RowOf(Source("src1/a.txt")));
    EXPECT_EQ(FailureReason::kDestinationMissing, StoredReasons().failures.at(0).reason);
}

TEST_F(BackupFailureReasonTest, EachFailedEntryCarriesTheReasonOfItsError) {
    const struct {
        const char* name;
        ShareOp op;
        int error;
        FailureReason reason;
    } cases[] = {
        {"refused", ShareOp::kCopyToShare, EACCES, FailureReason::kPermissionDenied},
        {"changed", ShareOp::kCopyToShare, EAGAIN, FailureReason::kFileChanged},
        {"badname", ShareOp::kCopyToShare, EINVAL, FailureReason::kNameRefused},
        {"full", ShareOp::kCopyToShare, ENOSPC, FailureReason::kDeviceFull},
        {"timeout", ShareOp::kCopyToShare, ETIMEDOUT, FailureReason::kConnectionLost},
        {"nofolder", ShareOp::kCreateFolder, EACCES, FailureReason::kPermissionDenied},
        {"odd", ShareOp::kCreateFolder, EIO, FailureReason::kFolderNotCreated},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Source("src1"));
        fs::remove_all(ShareFolder("dst1"));
        fs::create_directories(ShareFolder("dst1"));
        fs::remove(temp_.Sub("TessarineTool.db"));
        fileList_ = std::make_unique<CBackupSQLUtility>(temp_.Sub("TessarineTool.db"));
        ASSERT_EQ(0, fileList_->Initialize());
        MakeFiles({"src1/sub/a.txt"});
        hooks_.configure = [&](testing::FaultInjectingShare& faults, LocalShare&) {
            faults.FailNth(c.op, 1, c.error);
        };

        EXPECT_EQ(1, Run());

        const BackupErrorList reasons = StoredReasons();
        ASSERT_EQ(1u, reasons.failures.size());
        const std::string expected =
            Source(c.op == ShareOp::kCreateFolder ? "src1/sub" : "src1/sub/a.txt");
        EXPECT_EQ(expected, reasons.failures[0].path);
        EXPECT_EQ(c.reason, reasons.failures[0].reason);
    }
}

TEST_F(BackupFailureReasonTest, NameClashNamesTheOtherEntry) {
    MakeFiles({"src1/Readme.txt", "src1/README.txt"});

    EXPECT_EQ(1, Run());

    const BackupErrorList reasons = StoredReasons();
    ASSERT_EQ(1u, reasons.failures.size());
    EXPECT_EQ(Source("src1/Readme.txt"), reasons.failures[0].path);
    EXPECT_EQ(FailureReason::kCaseClash, reasons.failures[0].reason);
    EXPECT_EQ("README.txt", reasons.failures[0].detail);
}

// The detail file keeps only BackupErrorMaxCount paths; the reasons keep every failure.
TEST_F(BackupFailureReasonTest, ReasonsKeepEveryFailureBeyondTheDetailFilesCapacity) {
    Configure(Config{.errorMaxCount = 2});
    std::vector<std::string> files;
    for (int i = 0; i < 5; ++i) files.push_back("src1/f" + std::to_string(i) + ".txt");
    MakeFiles(files);
    hooks_.configure = [](testing::FaultInjectingShare& faults, LocalShare&) {
        faults.FailFrom(ShareOp::kCopyToShare, 1, EACCES);
    };

    EXPECT_EQ(1, Run());

    EXPECT_EQ(2u, DetailResult().paths.size());
    const BackupErrorList reasons = StoredReasons();
    EXPECT_EQ(5u, reasons.failures.size());
    EXPECT_EQ(5, reasons.executeCount);
}

void SetExclusions(CProfileStore& store, int pair, const std::string& patterns) {
    CBackupSetting setting(&store);
    ASSERT_EQ(0, setting.Load());
    setting.folderPairs[pair].exclusions = patterns;
    ASSERT_EQ(0, setting.Save());
}

// Excluded entries are neither copied nor counted; mirroring leaves their copies alone.
TEST_F(BackupFailureReasonTest, ExcludedEntriesAreNotCopiedCountedOrDeleted) {
    Configure(Config{.mirroring = true});
    MakeFiles({"src1/a.txt", "src1/b.tmp", "src1/web/node_modules/x.js", "src1/web/i.js"});
    EXPECT_EQ(0, Run());
    ASSERT_TRUE(fs::exists(ShareFolder("dst1/b.tmp")));
    ASSERT_TRUE(fs::exists(ShareFolder("dst1/web/node_modules/x.js")));

    SetExclusions(*store_, 0, "*.tmp; node_modules/");
    MakeFiles({"src1/c.tmp", "src1/web/node_modules/y.js"});
    fs::remove(Source("src1/b.tmp"));  // gone here: its copy is out of the mirroring's reach

    EXPECT_EQ(0, Run());

    EXPECT_FALSE(fs::exists(ShareFolder("dst1/c.tmp")));
    EXPECT_FALSE(fs::exists(ShareFolder("dst1/web/node_modules/y.js")));
    EXPECT_TRUE(fs::exists(ShareFolder("dst1/b.tmp")));
    EXPECT_TRUE(fs::exists(ShareFolder("dst1/web/node_modules/x.js")));
    // a.txt, web, web/i.js are unchanged: nothing else is counted.
    EXPECT_EQ(3, progress_.totalCount.load());
    EXPECT_EQ(0, executor_->GetErrorList().executeCount);
}

// Two names the device takes for one fail the run until one of them is excluded; the copy the
// device holds stays.
TEST_F(BackupFailureReasonTest, ExcludingOneNameOfAClashGivesACleanRun) {
    Configure(Config{.mirroring = true});
    MakeFiles({"src1/doc/Readme", "src1/doc/README", "src1/x.txt"});
    EXPECT_EQ(1, Run());
    ASSERT_TRUE(RowOf(Source("src1/doc/README")));
    const std::string kept = ReadFile(ShareFolder("dst1/doc/README"));

    SetExclusions(*store_, 0, "doc/Readme");
    EXPECT_EQ(0, Run());
    EXPECT_EQ(0, executor_->GetErrorList().executeCount);
    EXPECT_EQ(kept, ReadFile(ShareFolder("dst1/doc/README")));
    EXPECT_TRUE(RowOf(Source("src1/doc/README")));
    EXPECT_TRUE(RowOf(Source("src1/x.txt")));
}

TEST(FailureReasonFileTest, BrokenOrForeignFilesAreRefused) {
    testing::TempDir dir;
    const std::string folder = dir.Path() + "/";
    BackupErrorList written;
    written.AddFailure("/a & <b>", FailureReason::kCaseClash, "A & <B>");
    written.AddFailure("/c", FailureReason::kConnectionLost);
    written.AddSuccess();
    ASSERT_TRUE(CFailureReasonFile(folder).Write(written));
    BackupErrorList read;
    ASSERT_TRUE(CFailureReasonFile(folder).Read(read));
    EXPECT_EQ(3, read.executeCount);
    EXPECT_EQ(1, read.successCount);
    ASSERT_EQ(2u, read.failures.size());
    EXPECT_EQ("/a & <b>", read.failures[0].path);
    EXPECT_EQ("A & <B>", read.failures[0].detail);
    EXPECT_EQ(FailureReason::kConnectionLost, read.failures[1].reason);
    EXPECT_EQ("", read.failures[1].detail);

    const std::string full = testing::ReadFile(folder + "failure_reasons.xml");
    const struct {
        const char* name;
        std::string content;
    } broken[] = {
        {"cut", full.substr(0, full.size() / 2)},
        {"no counts", "<failurereasons><path>/a</path></failurereasons>"},
        {"reason first",
         "<failurereasons><execute_count>1</execute_count><success_count>0"
         "</success_count><reason>1</reason></failurereasons>"},
    };
    for (const auto& c : broken) {
        ASSERT_TRUE(testing::WriteFile(folder + "failure_reasons.xml", c.content));
        BackupErrorList kept;
        kept.executeCount = 42;
        EXPECT_FALSE(CFailureReasonFile(folder).Read(kept)) << c.name;
        EXPECT_EQ(42, kept.executeCount) << c.name;
    }
    // A kind this version does not know reads as unknown.
    ASSERT_TRUE(testing::WriteFile(folder + "failure_reasons.xml",
                                   "<failurereasons><execute_count>1</execute_count><success_count>"
                                   "0</success_count><path>/x</path><reason>999</reason>"
                                   "</failurereasons>"));
    ASSERT_TRUE(CFailureReasonFile(folder).Read(read));
    EXPECT_EQ(FailureReason::kUnknown, read.failures.at(0).reason);
}

TEST(FailureReasonTest, ErrorsOfEachRequestKind) {
    EXPECT_EQ(FailureReason::kFileVanished, ClassifyCopyError(ENOENT));
    EXPECT_EQ(FailureReason::kUnknown, ClassifyCopyError(EIO));
    EXPECT_EQ(FailureReason::kConnectionLost, ClassifyDeleteError(ECONNRESET));
    EXPECT_EQ(FailureReason::kDeleteFailed, ClassifyDeleteError(EACCES));
    EXPECT_EQ(FailureReason::kSourceUnreadable, ClassifyLocalReadError(EIO));
    EXPECT_EQ(FailureReason::kPermissionDenied, ClassifyLocalReadError(EACCES));
}

}  // namespace
}  // namespace tessarine
