// A backup never loses or hides data: names the device takes for one, copies removed or left
// half-done on the device, a device that stops answering, a source that is not really there.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "backup/backup_execute_fixture.h"
#include "fakes/virtual_file_system.h"
#include "platform/posix/posix_file_system.h"

namespace tessarine {
namespace {

using namespace backup_test;  // NOLINT(google-build-using-namespace): the fixture's own names
namespace fs = std::filesystem;
using testing::FaultInjectingShare;
using testing::ReadFile;
using testing::ScopedEnv;
using testing::ShareOp;
using testing::WriteFile;

class BackupSafetyTest : public BackupExecuteTest {
public:
    // The share compares names as the device does.
    void FoldCase() {
        hooks_.configure = [](FaultInjectingShare&, LocalShare& local) { local.SetFoldCase(true); };
    }
    // Entry names of a folder on the share, sorted.
    std::set<std::string> NamesIn(const std::string& shareFolder) const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(ShareFolder(shareFolder)))
            names.insert(entry.path().filename().string());
        return names;
    }
    bool InDetail(const std::string& path) const {
        const auto paths = DetailResult().paths;
        return std::find(paths.begin(), paths.end(), path) != paths.end();
    }
};

TEST_F(BackupSafetyTest, NamesThatAreOneNameOnTheDeviceAreReportedNotOverwritten) {
    FoldCase();
    MakeFiles({"src1/Readme.txt", "src1/README.TXT", "src1/Docs/x.txt", "src1/docs/y.txt"});

    for (int run = 0; run < 2; ++run) {  // the full backup, then a differential one
        EXPECT_EQ(1, Run()) << run;
        EXPECT_EQ(2, ClientResultCode());
        EXPECT_EQ((std::set<std::string>{"Docs", "README.TXT"}), NamesIn("dst1"));
        EXPECT_EQ("content of src1/README.TXT", ReadFile(ShareFolder("dst1/README.TXT")));
        EXPECT_EQ((std::set<std::string>{"x.txt"}), NamesIn("dst1/Docs"));
        EXPECT_TRUE(InDetail(Source("src1/Readme.txt")));
        EXPECT_TRUE(InDetail(Source("src1/docs")));
        EXPECT_FALSE(RowOf(Source("src1/Readme.txt")));
        EXPECT_FALSE(RowOf(Source("src1/docs/y.txt")));
    }
    EXPECT_NE(std::string::npos,
              Log().find("File Name Clash On Device. file:" + Source("src1/Readme.txt") +
                         " same as:" + Source("src1/README.TXT")));
}

TEST_F(BackupSafetyTest, RenameThatOnlyChangesLetterCaseKeepsTheCopiesUnderTheNewName) {
    Configure({.mirroring = true});
    FoldCase();
    MakeFiles({"src1/Photos/p1.jpg", "src1/Note.txt", "src1/keep.txt"});
    ASSERT_EQ(0, Run());
    fs::rename(Source("src1/Photos"), Source("src1/photos"));
    fs::rename(Source("src1/Note.txt"), Source("src1/note.txt"));

    EXPECT_EQ(0, Run());

    EXPECT_EQ((std::set<std::string>{"keep.txt", "note.txt", "photos"}), NamesIn("dst1"));
    EXPECT_EQ((std::set<std::string>{"p1.jpg"}), NamesIn("dst1/photos"));
    EXPECT_EQ("content of src1/Note.txt", ReadFile(ShareFolder("dst1/note.txt")));
    EXPECT_EQ("content of src1/Photos/p1.jpg", ReadFile(ShareFolder("dst1/photos/p1.jpg")));
    std::set<std::string> sources;
    for (const auto& row : Rows()) sources.insert(row.source);
    EXPECT_EQ((std::set<std::string>{Source("src1/keep.txt"), Source("src1/note.txt"),
                                     Source("src1/photos"), Source("src1/photos/p1.jpg")}),
              sources);

    EXPECT_EQ(0, Run());
    EXPECT_EQ(0, executor_->GetErrorList().executeCount);
}

TEST_F(BackupSafetyTest, PercentInLocalNamesReachesAnSmbUrlDestinationUnchanged) {
    Configure({.mirroring = true});
    ASSERT_TRUE(store_->WriteString("BackupSetting", "DestinationFolderPath01",
                                    std::string("smb://") + kHost + "/zereda/backup/dst1"));
    const std::vector<std::string> names = {"a%41.txt", "aA.txt", "My%20Doc.pdf", "50%off.txt"};
    for (const auto& name : names) MakeFiles({"src1/" + name});

    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(0, Run()) << run;
        EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), NamesIn("dst1"));
        for (const auto& name : names)
            EXPECT_EQ("content of src1/" + name, ReadFile(ShareFolder("dst1/" + name))) << name;
    }
    EXPECT_EQ(0, executor_->GetErrorList().executeCount);
}

TEST_F(BackupSafetyTest, CopiesRemovedOrCutOnTheDeviceAreCopiedAgain) {
    MakeFiles({"src1/a.txt", "src1/b.txt", "src1/c.txt", "src1/sub/d.txt"});
    ASSERT_EQ(0, Run());
    fs::remove(ShareFolder("dst1/a.txt"));
    fs::remove_all(ShareFolder("dst1/sub"));
    ASSERT_TRUE(WriteFile(ShareFolder("dst1/b.txt"), "cut"));

    EXPECT_EQ(0, Run());

    for (const auto* file : {"a.txt", "b.txt", "c.txt", "sub/d.txt"})
        EXPECT_EQ(std::string("content of src1/") + file, ReadFile(ShareFolder("dst1/") + file));
    EXPECT_EQ(4, executor_->GetErrorList().executeCount);  // a.txt, b.txt, sub, sub/d.txt
    EXPECT_EQ(4, executor_->GetErrorList().successCount);
    EXPECT_EQ(0, ClientResultCode());
    EXPECT_TRUE(fs::exists(ServerFile()));

    EXPECT_EQ(0, Run());
    EXPECT_EQ(0, executor_->GetErrorList().executeCount);
}

TEST_F(BackupSafetyTest, LeftoversOfCutOffCopiesAreRemovedAndDoNotBlockAFolderDeletion) {
    Configure({.mirroring = true});
    MakeFiles({"src1/a.txt", "src1/old/b.txt"});
    ASSERT_EQ(0, Run());
    ASSERT_TRUE(WriteFile(ShareFolder("dst1/~tess0123456789abcdef.tmp"), "partial"));
    ASSERT_TRUE(WriteFile(ShareFolder("dst1/old/~tessfedcba9876543210.bak"), "set aside"));
    ASSERT_TRUE(WriteFile(ShareFolder("dst1/~tess-not-ours.tmp"), "a user's file"));
    fs::remove_all(Source("src1/old"));

    EXPECT_EQ(0, Run());

    EXPECT_EQ((std::set<std::string>{"a.txt", "~tess-not-ours.tmp"}), NamesIn("dst1"));
    EXPECT_FALSE(RowOf(Source("src1/old")));
}

// A restore that was killed leaves its copy in progress in the source folder until the next
// restore: a backup in between takes it for no file of the user's.
TEST_F(BackupSafetyTest, ALocalTemporaryCopyOfARestoreIsNotBackedUp) {
    Configure({.mirroring = true});
    MakeFiles({"src1/a.txt", "src1/sub/b.txt"});
    ASSERT_EQ(0, Run());
    ASSERT_TRUE(WriteFile(Source("src1/~tess0123456789abcdef.tmp"), "half a restore"));
    ASSERT_TRUE(WriteFile(Source("src1/sub/~tessfedcba9876543210~b.txt.bak"), "set aside"));
    ASSERT_TRUE(WriteFile(Source("src1/~tess-not-ours.tmp"), "a user's file"));

    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(0, Run()) << run;
        EXPECT_EQ((std::set<std::string>{"a.txt", "sub", "~tess-not-ours.tmp"}), NamesIn("dst1"));
        EXPECT_EQ((std::set<std::string>{"b.txt"}), NamesIn("dst1/sub"));
        EXPECT_FALSE(RowOf(Source("src1/~tess0123456789abcdef.tmp")));
        EXPECT_EQ(run == 0 ? 1 : 0, executor_->GetErrorList().executeCount);
    }
}

// A device that stops answering ends the run after a few failed requests instead of letting
// every remaining file wait for its own time-out; a refusal of single files does not.
struct CopyFailureCase {
    int error;
    int expectedAttempts;
};
class BackupCopyFailureTest : public BackupSafetyTest,
                              public ::testing::WithParamInterface<CopyFailureCase> {};

TEST_P(BackupCopyFailureTest, DeviceThatStopsAnsweringEndsTheRun) {
    const CopyFailureCase c = GetParam();
    for (int i = 0; i < 10; ++i) MakeFiles({"src1/f" + std::to_string(i) + ".txt"});
    hooks_.configure = [&](FaultInjectingShare& faults, LocalShare&) {
        faults.FailFrom(ShareOp::kCopyToShare, 1, c.error);
    };

    EXPECT_EQ(1, Run());

    EXPECT_EQ(c.expectedAttempts, static_cast<int>(hooks_.copyTargets.size()));
    EXPECT_EQ(2, ClientResultCode());
    EXPECT_EQ(c.expectedAttempts, DetailResult().executeCount);
    EXPECT_EQ(c.expectedAttempts == 3, Log().find("SMB Connection Lost.") != std::string::npos);
    EXPECT_FALSE(fs::exists(ServerFile()));
    EXPECT_TRUE(BackupCompleteSignalled());
}

INSTANTIATE_TEST_SUITE_P(Errors, BackupCopyFailureTest,
                         ::testing::Values(CopyFailureCase{ETIMEDOUT, 3},
                                           CopyFailureCase{ECONNRESET, 3},
                                           CopyFailureCase{EHOSTDOWN, 3},
                                           CopyFailureCase{EACCES, 10}));

// Only "not there" lets a deletion drop its row; a failure that leaves it open keeps the row
// and is reported.
struct DeleteFailureCase {
    int error;
    bool rowKept;
    int result;
};
class BackupDeleteFailureTest : public BackupSafetyTest,
                                public ::testing::WithParamInterface<DeleteFailureCase> {};

TEST_P(BackupDeleteFailureTest, FailedDeletionOfACopyKeepsItsRowUnlessTheCopyIsGone) {
    const DeleteFailureCase c = GetParam();
    Configure({.mirroring = true});
    MakeFiles({"src1/keep.txt", "src1/gone.txt"});
    ASSERT_EQ(0, Run());
    fs::remove(Source("src1/gone.txt"));
    hooks_.configure = [&](FaultInjectingShare& faults, LocalShare&) {
        faults.FailNth(ShareOp::kDeleteFile, 1, c.error);
    };

    EXPECT_EQ(c.result, Run());

    EXPECT_EQ(c.rowKept, RowOf(Source("src1/gone.txt")).has_value());
    EXPECT_EQ(c.rowKept, InDetail(Source("src1/gone.txt")));
}

INSTANTIATE_TEST_SUITE_P(Errors, BackupDeleteFailureTest,
                         ::testing::Values(DeleteFailureCase{ENOENT, false, 0},
                                           DeleteFailureCase{ETIMEDOUT, true, 1},
                                           DeleteFailureCase{EIO, true, 1}));

TEST_F(BackupSafetyTest, MirroringThatWouldDeleteEveryCopyDeletesNone) {
    Configure({.mirroring = true});
    MakeFiles({"src1/a.txt", "src1/sub/b.txt"});
    ASSERT_EQ(0, Run());
    fs::remove_all(Source("src1"));
    fs::create_directories(Source("src1"));

    EXPECT_EQ(1, Run());

    EXPECT_TRUE(fs::exists(ShareFolder("dst1/a.txt")));
    EXPECT_TRUE(fs::exists(ShareFolder("dst1/sub/b.txt")));
    EXPECT_EQ(3u, Rows().size());
    EXPECT_TRUE(InDetail(Source("src1")));
    EXPECT_NE(std::string::npos, Log().find("Mirroring Would Delete Every Copy."));
}

TEST_F(BackupSafetyTest, SourceOnAnotherMountThanBeforeDeletesNothing) {
    Configure({.mirroring = true});
    const std::string mountPoint = Source("src1");
    fs::create_directories(mountPoint);
    if (::mount("tessarine-test", mountPoint.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno)
                     << "): the unmounted-disk case needs root";
    struct Unmount {
        std::string path;
        bool mounted = true;
        ~Unmount() {
            if (mounted) ::umount(path.c_str());
        }
    } unmount{mountPoint};
    MakeFiles({"src1/a.txt", "src1/b.txt", "src1/c.txt"});
    ASSERT_EQ(0, Run());
    ASSERT_EQ(0, ::umount(mountPoint.c_str()));
    unmount.mounted = false;
    MakeFiles({"src1/stray.txt"});  // written into the bare mount point

    EXPECT_EQ(1, Run());

    for (const auto* file : {"a.txt", "b.txt", "c.txt", "stray.txt"})
        EXPECT_TRUE(fs::exists(ShareFolder("dst1/") + file)) << file;
    EXPECT_TRUE(RowOf(Source("src1/a.txt")));
    EXPECT_NE(std::string::npos, Log().find("Source Folder Mount Changed. Nothing Deleted."));
}

// What the walk cannot see must not be taken for deleted: a folder that breaks off while it is
// read, an entry whose status cannot be read, a folder that cannot be opened, a source folder
// on another mount than before. The first case shows that a vanished file's copy does go.
struct WalkFaultCase {
    const char* what;
    std::function<void(testing::VirtualFileSystem&, const std::string& source)> configure;
    const char* logged;  // "" for none
    int result;
    bool copiesKept;
};

class BackupWalkFaultTest : public BackupSafetyTest,
                            public ::testing::WithParamInterface<WalkFaultCase> {};

TEST_P(BackupWalkFaultTest, CopiesOfWhatTheWalkCannotSeeAreKept) {
    const WalkFaultCase& c = GetParam();
    Configure({.mirroring = true});
    MakeFiles({"src1/a.txt", "src1/b.txt", "src1/sub/c.txt"});
    ASSERT_EQ(0, Run());

    // The second run sees src1 through a virtual file system: b.txt and sub/c.txt are gone.
    testing::VirtualFileSystem disk;
    const std::string source = Source("src1");
    disk.AddFromDisk(source);
    disk.SetMountRoot("/", PosixFileSystem().MountRoot(source));
    disk.Remove(Source("src1/b.txt"));
    disk.Remove(Source("src1/sub/c.txt"));
    c.configure(disk, source);
    fileSystem_ = &disk;

    EXPECT_EQ(c.result, Run());

    EXPECT_EQ(c.copiesKept, fs::exists(ShareFolder("dst1/b.txt")));
    EXPECT_EQ(c.copiesKept, RowOf(Source("src1/b.txt")).has_value());
    EXPECT_EQ(c.copiesKept, fs::exists(ShareFolder("dst1/sub/c.txt")));
    EXPECT_TRUE(fs::exists(ShareFolder("dst1/a.txt")));
    EXPECT_EQ(0, CopiesInto("dst1"));  // nothing changed that needs a copy
    if (*c.logged != '\0') {
        EXPECT_NE(std::string::npos, Log().find(std::string(c.logged))) << c.logged;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BackupWalkFaultTest,
    ::testing::Values(
        WalkFaultCase{"none", [](testing::VirtualFileSystem&, const std::string&) {}, "", 0, false},
        WalkFaultCase{"read breaks off",
                      [](testing::VirtualFileSystem& disk, const std::string& source) {
                          disk.FailReadAfter(source, 1, EIO);
                      },
                      "Read Folder Error. folder:", 1, true},
        WalkFaultCase{"sub folder unreadable",
                      [](testing::VirtualFileSystem& disk, const std::string& source) {
                          disk.FailOpen(source + "/sub", EACCES);
                          disk.AddFile(source + "/b.txt", 1, 1);  // only sub/c.txt is gone
                          disk.FailStatus(source + "/b.txt", EACCES);
                      },
                      "Get File Status Error. file:", 1, true},
        WalkFaultCase{"source on another mount",
                      [](testing::VirtualFileSystem& disk, const std::string& source) {
                          disk.SetMountRoot(source, "/media/usb");
                      },
                      "Source Folder Mount Changed. Nothing Deleted.", 1, true}),
    [](const auto& info) {
        std::string name = info.param.what;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

// A local time stamp of the hour a clock change repeats stands for two moments; a file stamped
// in either must not look changed in every run.
TEST_F(BackupSafetyTest, FilesStampedInTheRepeatedAutumnHourAreNotCopiedEveryRun) {
    ScopedEnv zone("TZ", "Europe/Berlin");
    ::tzset();
    const std::time_t summer = 1509237000;     // 2017-10-29 02:30 CEST (00:30 UTC)
    const std::time_t winter = summer + 3600;  // 2017-10-29 02:30 CET
    MakeFiles({"src1/summer.txt"}, summer);
    MakeFiles({"src1/winter.txt"}, winter);
    ASSERT_EQ(0, Run());

    EXPECT_EQ(0, Run());
    EXPECT_EQ(0, executor_->GetErrorList().executeCount);
    ::unsetenv("TZ");
    ::tzset();
}

// A copy whose row cannot be written is counted, so the result files say what happened.
TEST_F(BackupSafetyTest, CopyWhoseRowCannotBeWrittenIsCountedAsFailed) {
    MakeFiles({"src1/a.txt"});
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(temp_.Sub("TessarineTool.db").c_str(), &db));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr));

    EXPECT_EQ(1, Run());

    sqlite3_exec(db, "ROLLBACK;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(2, ClientResultCode());
    const BackupErrorList detail = DetailResult();
    EXPECT_EQ(1, detail.executeCount);
    EXPECT_EQ(0, detail.successCount);
    EXPECT_EQ(std::vector<std::string>{Source("src1/a.txt")}, detail.paths);
}

// The scheduler may set the mode of its next run while this one ends: the run keeps its own.
TEST_F(BackupSafetyTest, ShutdownModeIsTheOneTheRunStartedWith) {
    MakeFiles({"src1/a.txt"});
    executor_ = MakeExecutor();
    executor_->SetShutdownMode(1);
    executor_->SetMessageBoxForShutdownBackup([&] { executor_->SetShutdownMode(0); });
    bool judged = false;
    executor_->SetJudgeShutdown([&] { judged = true; });

    EXPECT_EQ(0, executor_->ThreadCore());

    EXPECT_TRUE(judged);
    EXPECT_EQ(1, sink_.Count(WM_SHUTDOWN_BACKUP_COMPLETE));
}

}  // namespace
}  // namespace tessarine
