#include <gtest/gtest.h>

#include "backup/backup_execute_fixture.h"

namespace tessarine {
namespace {

using namespace backup_test;  // NOLINT(google-build-using-namespace): the fixture's own names
namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;

TEST_F(BackupExecuteTest, FirstRunCopiesTheWholeTreeAndRecordsEveryEntry) {
    const std::time_t modified = kNow - 3600;
    MakeFiles({"src1/a.txt", "src1/sub/b.txt", "src1/sub/deep/c.txt"}, modified);
    fs::create_directories(Source("src1/empty"));
    for (const char* folder : {"src1/sub/deep", "src1/sub", "src1/empty"})
        SetModifiedTime(Source(folder), modified);
    // Rows written during the run carry "ADD".
    std::vector<std::string> statusesDuringRun;
    hooks_.beforeCopy = [&](const std::string& path) {
        if (path.rfind(Unc("dst1\\"), 0) != 0) return;  // the server result file comes last
        for (const auto& row : Rows()) statusesDuringRun.push_back(row.status);
    };

    // Started as the scheduler starts it.
    executor_ = MakeExecutor();
    ASSERT_TRUE(executor_->StartThread());
    executor_->StopThread();

    EXPECT_FALSE(statusesDuringRun.empty());
    for (const auto& status : statusesDuringRun) EXPECT_EQ("ADD", status);
    for (const char* file : {"a.txt", "sub/b.txt", "sub/deep/c.txt"}) {
        const std::string copy = ShareFolder(std::string("dst1/") + file);
        EXPECT_EQ("content of src1/" + std::string(file), ReadFile(copy)) << file;
        EXPECT_EQ(modified, ModifiedTime(copy)) << file;
    }
    EXPECT_TRUE(fs::is_directory(ShareFolder("dst1/empty")));

    struct Expected {
        const char* relative;
        int isDirectory;
    } const expected[] = {{"a.txt", 0},          {"sub", 1},  {"sub/b.txt", 0}, {"sub/deep", 1},
                          {"sub/deep/c.txt", 0}, {"empty", 1}};
    EXPECT_EQ(std::size(expected), Rows().size());
    for (const auto& entry : expected) {
        const auto row = RowOf(Source(std::string("src1/") + entry.relative));
        ASSERT_TRUE(row) << entry.relative;
        EXPECT_EQ(0, row->settingNumber);
        EXPECT_EQ(Unc(std::string("dst1/") + entry.relative), row->destination);
        EXPECT_EQ(ToTimeStamp(modified), row->lastUpdate);
        EXPECT_EQ(entry.isDirectory, row->isDirectory);
        EXPECT_EQ("COMPLETE", row->status);
    }

    EXPECT_EQ(0, ClientResultCode());
    const BackupErrorList detail = DetailResult();
    EXPECT_EQ(6, detail.executeCount);
    EXPECT_EQ(6, detail.successCount);
    EXPECT_TRUE(detail.paths.empty());
    EXPECT_TRUE(fs::exists(ServerFile()));
    ASSERT_EQ(1u, Balloons().size());
    EXPECT_EQ(0, Balloons()[0].result);
    EXPECT_EQ(7, Balloons()[0].value);
    EXPECT_EQ(2, sink_.Count(WM_REFRESH_BACKUP_NOW));
    EXPECT_EQ(2, sink_.Count(WM_EXECUTE_STATE_CHANGED));
    EXPECT_EQ(0, sink_.Count(WM_SHUTDOWN_BACKUP_COMPLETE));
    EXPECT_EQ(0, executorRunning_.load());
    EXPECT_EQ(6, progress_.totalCount.load());
    EXPECT_EQ(6, progress_.doneCount.load());
    EXPECT_TRUE(BackupCompleteSignalled());
}

TEST_F(BackupExecuteTest, DifferentialRunWithoutChangesLeavesNoTrace) {
    MakeFiles({"src1/a.txt", "src1/sub/b.txt"});
    ASSERT_EQ(0, Run());
    ASSERT_TRUE(BackupCompleteSignalled());
    RemoveResultFiles();
    const auto rowsBefore = Rows();

    EXPECT_EQ(0, Run());

    EXPECT_EQ(0, executor_->GetErrorList().executeCount);
    EXPECT_TRUE(hooks_.copyTargets.empty());
    EXPECT_FALSE(ClientResultCode());
    EXPECT_FALSE(fs::exists(temp_.Sub("data/backup/deteil_result.xml")));
    EXPECT_FALSE(fs::exists(ServerFile()));
    EXPECT_TRUE(Balloons().empty());
    EXPECT_TRUE(BackupCompleteSignalled());
    EXPECT_EQ(3, progress_.totalCount.load());
    const auto rowsAfter = Rows();
    ASSERT_EQ(rowsBefore.size(), rowsAfter.size());
    for (std::size_t i = 0; i < rowsAfter.size(); ++i) {
        EXPECT_EQ(rowsBefore[i].lastUpdate, rowsAfter[i].lastUpdate);
        EXPECT_EQ("COMPLETE", rowsAfter[i].status);
    }
}

TEST_F(BackupExecuteTest, FileWithAnyOtherModificationTimeIsCopiedAgain) {
    MakeFiles({"src1/later.txt", "src1/restored.txt", "src1/same.txt"}, kNow - 86400);
    ASSERT_EQ(0, Run());

    struct Change {
        const char* file;
        std::time_t modified;
    } const changes[] = {{"later.txt", kNow - 60},
                         // Restored from an archive: older than the copy.
                         {"restored.txt", kNow - 30 * 86400}};
    for (const auto& change : changes) {
        const std::string source = Source(std::string("src1/") + change.file);
        ASSERT_TRUE(WriteFile(source, std::string("new ") + change.file));
        SetModifiedTime(source, change.modified);
    }

    EXPECT_EQ(0, Run());

    for (const auto& change : changes) {
        SCOPED_TRACE(change.file);
        const std::string copy = ShareFolder(std::string("dst1/") + change.file);
        EXPECT_EQ(std::string("new ") + change.file, ReadFile(copy));
        EXPECT_EQ(change.modified, ModifiedTime(copy));
        EXPECT_EQ(ToTimeStamp(change.modified),
                  RowOf(Source(std::string("src1/") + change.file))->lastUpdate);
    }
    EXPECT_EQ(2, CopiesInto("dst1"));
    EXPECT_EQ(2, executor_->GetErrorList().executeCount);
    EXPECT_EQ(2, executor_->GetErrorList().successCount);
    EXPECT_EQ(0, ClientResultCode());
}

TEST_F(BackupExecuteTest, NewFolderIsRecordedAfterItsContents) {
    MakeFiles({"src1/a.txt"});
    ASSERT_EQ(0, Run());
    MakeFiles({"src1/new/x.txt", "src1/new/y.txt"});

    EXPECT_EQ(0, Run());

    EXPECT_TRUE(fs::is_directory(ShareFolder("dst1/new")));
    EXPECT_EQ("content of src1/new/x.txt", ReadFile(ShareFolder("dst1/new/x.txt")));
    EXPECT_EQ("content of src1/new/y.txt", ReadFile(ShareFolder("dst1/new/y.txt")));
    const auto folder = RowOf(Source("src1/new"));
    const auto x = RowOf(Source("src1/new/x.txt"));
    const auto y = RowOf(Source("src1/new/y.txt"));
    ASSERT_TRUE(folder && x && y);
    EXPECT_EQ(1, folder->isDirectory);
    EXPECT_GT(folder->rowId, x->rowId);
    EXPECT_GT(folder->rowId, y->rowId);
    EXPECT_EQ(3, executor_->GetErrorList().executeCount);
    EXPECT_EQ(3, executor_->GetErrorList().successCount);
}

// Each entry is looked at when its pair's pass reaches it, not when the run counted its work:
// entries that change, vanish or appear in between (here while pair 1 copies) are handled with
// what they are then.
TEST_F(BackupExecuteTest, EntriesChangedBetweenCountAndPassAreHandled) {
    Configure({.pairs = {{"src1", "dst1"}, {"src2", "dst2"}}});
    MakeFiles({"src1/a.txt", "src2/changed.txt", "src2/kept.txt", "src2/edited.txt"});
    ASSERT_EQ(0, Run());
    MakeFiles({"src1/trigger.txt", "src2/vanishing.txt"});
    SetModifiedTime(Source("src2/changed.txt"), kNow - 600);
    hooks_.beforeCopy = [&](const std::string& path) {
        if (path.find("trigger.txt") == std::string::npos) return;
        fs::remove(Source("src2/vanishing.txt"));
        ASSERT_TRUE(WriteFile(Source("src2/changed.txt"), "changed again"));
        SetModifiedTime(Source("src2/changed.txt"), kNow - 60);
        // Unchanged when counted, changed before its pass.
        ASSERT_TRUE(WriteFile(Source("src2/edited.txt"), "edited meanwhile"));
        SetModifiedTime(Source("src2/edited.txt"), kNow - 30);
        MakeFiles({"src2/late.txt"});
    };

    EXPECT_EQ(0, Run());

    // trigger.txt, changed.txt, edited.txt, late.txt
    EXPECT_EQ(4, executor_->GetErrorList().executeCount);
    EXPECT_EQ(4, executor_->GetErrorList().successCount);
    EXPECT_EQ("changed again", ReadFile(ShareFolder("dst2/changed.txt")));
    EXPECT_EQ(ToTimeStamp(kNow - 60), RowOf(Source("src2/changed.txt"))->lastUpdate);
    EXPECT_EQ("edited meanwhile", ReadFile(ShareFolder("dst2/edited.txt")));
    EXPECT_FALSE(RowOf(Source("src2/vanishing.txt")));
    EXPECT_FALSE(fs::exists(ShareFolder("dst2/vanishing.txt")));
    EXPECT_EQ("content of src2/late.txt", ReadFile(ShareFolder("dst2/late.txt")));

    hooks_.beforeCopy = nullptr;
    EXPECT_EQ(0, Run());
    EXPECT_EQ(0, executor_->GetErrorList().executeCount);
    for (const auto& row : Rows()) EXPECT_EQ("COMPLETE", row.status) << row.source;
}

// A row whose stored time cannot be read is reported by the per-entry lookup, as before the
// rows were read in one go: the run ends with result code 2 and the row stays as it was.
TEST_F(BackupExecuteTest, UnreadableStoredTimeEndsTheRunWithResultTwo) {
    MakeFiles({"src1/a.txt", "src1/b.txt"});
    ASSERT_EQ(0, Run());
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(temp_.Sub("TessarineTool.db").c_str(), &db));
    const std::string sql =
        "UPDATE BACKUP_FILELIST SET LAST_UPDATE = 'garbage' WHERE "
        "SOURCE_FILE_PATH = '" +
        Source("src1/b.txt") + "';";
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr));
    sqlite3_close(db);

    EXPECT_EQ(1, Run());

    EXPECT_EQ(2, ClientResultCode());
    EXPECT_EQ("garbage", RowOf(Source("src1/b.txt"))->lastUpdate);
    EXPECT_NE(std::string::npos, Log().find("Get LastUpdate Error."));
    for (const auto& row : Rows()) EXPECT_EQ("COMPLETE", row.status) << row.source;
}

TEST_F(BackupExecuteTest, MirroringDeletesTheCopiesOfADeletedFolder) {
    Configure({.mirroring = true});
    MakeFiles({"src1/kept.txt", "src1/gone/f1.txt", "src1/gone/f2.txt"});
    ASSERT_EQ(0, Run());
    ASSERT_TRUE(fs::exists(ShareFolder("dst1/gone/f2.txt")));
    fs::remove_all(Source("src1/gone"));

    EXPECT_EQ(0, Run());

    EXPECT_FALSE(fs::exists(ShareFolder("dst1/gone")));
    EXPECT_TRUE(fs::exists(ShareFolder("dst1/kept.txt")));
    ASSERT_EQ(1u, Rows().size());
    EXPECT_EQ(Source("src1/kept.txt"), Rows()[0].source);
    EXPECT_EQ(3, executor_->GetErrorList().executeCount);
    EXPECT_EQ(3, executor_->GetErrorList().successCount);
    // One entry to walk and three copies to delete.
    EXPECT_EQ(4, progress_.totalCount.load());
    EXPECT_EQ(0, ClientResultCode());
}

TEST_F(BackupExecuteTest, ReadOnlyCopiesAreOverwrittenAndDeleted) {
    Configure({.mirroring = true});
    MakeFiles({"src1/changed.txt", "src1/deleted.txt"});
    ASSERT_EQ(0, Run());
    for (const char* copy : {"dst1/changed.txt", "dst1/deleted.txt"})
        fs::permissions(ShareFolder(copy), fs::perms(0444));
    ASSERT_TRUE(WriteFile(Source("src1/changed.txt"), "changed"));
    SetModifiedTime(Source("src1/changed.txt"), kNow - 5);
    fs::remove(Source("src1/deleted.txt"));

    EXPECT_EQ(0, Run());

    EXPECT_EQ("changed", ReadFile(ShareFolder("dst1/changed.txt")));
    EXPECT_FALSE(fs::exists(ShareFolder("dst1/deleted.txt")));
    EXPECT_FALSE(RowOf(Source("src1/deleted.txt")));
    EXPECT_EQ(2, executor_->GetErrorList().successCount);
    EXPECT_EQ(2, executor_->GetErrorList().executeCount);
}

TEST_F(BackupExecuteTest, ErrorListKeepsAsManyPathsAsBackupErrorMaxCountAllows) {
    std::vector<std::string> files;
    for (int i = 0; i < 15; ++i) files.push_back("src1/f" + std::to_string(i) + ".txt");
    MakeFiles(files);
    hooks_.configure = [](testing::FaultInjectingShare& faults, LocalShare&) {
        faults.FailFrom(testing::ShareOp::kCopyToShare, 1);
    };

    for (const int capacity : {10, 3}) {
        SCOPED_TRACE(capacity);
        Configure({.errorMaxCount = capacity});

        EXPECT_EQ(1, Run());

        EXPECT_EQ(capacity, static_cast<int>(executor_->GetErrorList().paths.size()));
        EXPECT_EQ(15, executor_->GetErrorList().executeCount);
        EXPECT_EQ(0, executor_->GetErrorList().successCount);
        EXPECT_EQ(2, ClientResultCode());
        const BackupErrorList detail = DetailResult();
        EXPECT_EQ(15, detail.executeCount);
        EXPECT_EQ(capacity, static_cast<int>(detail.paths.size()));
        EXPECT_FALSE(fs::exists(ServerFile()));
        EXPECT_TRUE(Rows().empty());
        ASSERT_EQ(1u, Balloons().size());
        EXPECT_EQ(1, Balloons()[0].result);
    }
}

TEST_F(BackupExecuteTest, CopyLostWithTheConnectionIsCopiedByTheNextRun) {
    MakeFiles({"src1/a.txt", "src1/b.txt"});
    hooks_.configure = [](testing::FaultInjectingShare& faults, LocalShare&) {
        faults.FailNth(testing::ShareOp::kCopyToShare, 1, ECONNRESET);
    };

    EXPECT_EQ(1, Run());

    ASSERT_EQ(1u, executor_->GetErrorList().paths.size());
    const std::string failed = executor_->GetErrorList().paths[0];
    EXPECT_FALSE(RowOf(failed));
    EXPECT_EQ(1u, Rows().size());

    hooks_.configure = nullptr;
    EXPECT_EQ(0, Run());
    EXPECT_TRUE(RowOf(failed));
    EXPECT_EQ(1, executor_->GetErrorList().successCount);
    EXPECT_EQ(1, executor_->GetErrorList().executeCount);
}

TEST_F(BackupExecuteTest, MissingSourceFolderOnFirstRunIsReported) {
    Configure({.pairs = {{"missing", "dst1"}}});

    EXPECT_EQ(1, Run());

    EXPECT_NE(std::string::npos, Log().find("Source Folder Not Exist. Path:" + Source("missing")));
    EXPECT_EQ(std::vector<std::string>{Source("missing")}, executor_->GetErrorList().paths);
    EXPECT_EQ(2, ClientResultCode());
    EXPECT_EQ(1, DetailResult().executeCount);
    EXPECT_EQ(0, DetailResult().successCount);
}

TEST_F(BackupExecuteTest, MissingSourceFolderKeepsItsCopiesWhenMirroring) {
    Configure({.mirroring = true});
    MakeFiles({"src1/a.txt", "src1/sub/b.txt"});
    ASSERT_EQ(0, Run());
    // A removed drive or a renamed folder.
    fs::rename(Source("src1"), Source("src1.moved"));

    EXPECT_EQ(1, Run());

    EXPECT_TRUE(fs::exists(ShareFolder("dst1/a.txt")));
    EXPECT_TRUE(fs::exists(ShareFolder("dst1/sub/b.txt")));
    EXPECT_EQ(3u, Rows().size());
    EXPECT_EQ(0, progress_.totalCount.load());
    EXPECT_NE(std::string::npos, Log().find("Source Folder Not Exist. Path:" + Source("src1")));
    EXPECT_EQ(std::vector<std::string>{Source("src1")}, executor_->GetErrorList().paths);
    EXPECT_EQ(2, ClientResultCode());
}

TEST_F(BackupExecuteTest, PairsAfterTheFirstEmptyPairAreNotBackedUp) {
    Configure({.pairs = {{"src1", "dst1"}, {"", ""}, {"src3", "dst3"}}});
    MakeFiles({"src1/a.txt", "src3/c.txt"});

    EXPECT_EQ(0, Run());

    EXPECT_TRUE(fs::exists(ShareFolder("dst1/a.txt")));
    EXPECT_FALSE(fs::exists(ShareFolder("dst3/c.txt")));
    for (const auto& row : Rows()) EXPECT_EQ(0, row.settingNumber);
}

TEST_F(BackupExecuteTest, UnreachableDeviceWritesResultCodeOneAndNothingElse) {
    MakeFiles({"src1/a.txt"});
    hooks_.configure = [](testing::FaultInjectingShare&, LocalShare& local) {
        local.SetConnectResult(ECONNREFUSED);
    };

    EXPECT_EQ(1, Run());

    EXPECT_EQ(1, ClientResultCode());
    const BackupErrorList detail = DetailResult();
    EXPECT_EQ(0, detail.executeCount);
    EXPECT_EQ(0, detail.successCount);
    EXPECT_TRUE(detail.paths.empty());
    EXPECT_TRUE(hooks_.copyTargets.empty());
    EXPECT_FALSE(fs::exists(ServerFile()));
    ASSERT_EQ(1u, Balloons().size());
    EXPECT_EQ(1, Balloons()[0].result);
    EXPECT_TRUE(BackupCompleteSignalled());
    const std::string log = Log();
    EXPECT_NE(std::string::npos,
              log.find("SMB Connnection Error. Param:QZV-4070, tessa, ********"));
    EXPECT_EQ(std::string::npos, log.find(kPassword));
}

TEST_F(BackupExecuteTest, ConnectionWithOtherCredentialsInUseProceeds) {
    MakeFiles({"src1/a.txt"});
    hooks_.configure = [](testing::FaultInjectingShare&, LocalShare& local) {
        local.SetConnectResult(kShareCredentialConflict);
    };

    EXPECT_EQ(0, Run());

    EXPECT_TRUE(fs::exists(ShareFolder("dst1/a.txt")));
    EXPECT_EQ(0, ClientResultCode());
}

// Files of several copy blocks, so a stop request reaches the copy in progress.
std::string LargeContent(char fill) { return std::string(2 * 1024 * 1024 + 1000, fill); }

TEST_F(BackupExecuteTest, StopRequestEndsTheRunAndLeavesNoPartialCopy) {
    for (int i = 0; i < 4; ++i) {
        const std::string path = Source("src1/big" + std::to_string(i) + ".bin");
        ASSERT_TRUE(WriteFile(path, LargeContent(static_cast<char>('a' + i))));
    }
    std::string interrupted;
    hooks_.beforeCopy = [&](const std::string& path) {
        if (interrupted.empty() && CopiesInto("dst1") == 2) {
            stop_ = 1;
            interrupted = path;
        }
    };

    EXPECT_EQ(1, Run());

    ASSERT_FALSE(interrupted.empty());
    EXPECT_EQ(2, CopiesInto("dst1"));
    // Only the one finished copy is in the folder: no partial or temporary file.
    std::vector<std::string> landed;
    for (const auto& entry : fs::directory_iterator(ShareFolder("dst1")))
        landed.push_back(entry.path().filename().string());
    ASSERT_EQ(1u, landed.size());
    EXPECT_EQ(Unc("dst1/" + landed[0]), hooks_.copyTargets[0]);
    ASSERT_EQ(1u, Rows().size());
    EXPECT_EQ(2, executor_->GetErrorList().executeCount);
    EXPECT_EQ(1, executor_->GetErrorList().successCount);
    EXPECT_EQ(2, ClientResultCode());
    EXPECT_TRUE(BackupCompleteSignalled());

    // The next run copies what the stopped one did not.
    stop_ = 0;
    hooks_.beforeCopy = nullptr;
    EXPECT_EQ(0, Run());
    EXPECT_EQ(3, CopiesInto("dst1"));
    EXPECT_EQ(4u, Rows().size());
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(LargeContent(static_cast<char>('a' + i)),
                  ReadFile(ShareFolder("dst1/big" + std::to_string(i) + ".bin")));
    }
}

TEST_F(BackupExecuteTest, StoppedMirroringRunDeletesNothing) {
    Configure({.mirroring = true});
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(WriteFile(Source("src1/big" + std::to_string(i) + ".bin"), LargeContent('o')));
    ASSERT_EQ(0, Run());
    // Every file changed: the first copy is stopped, the others are never reached.
    for (int i = 0; i < 3; ++i) {
        const std::string path = Source("src1/big" + std::to_string(i) + ".bin");
        ASSERT_TRUE(WriteFile(path, LargeContent('n')));
        SetModifiedTime(path, kNow);
    }
    hooks_.beforeCopy = [&](const std::string&) { stop_ = 1; };

    EXPECT_EQ(1, Run());

    EXPECT_EQ(1, CopiesInto("dst1"));
    for (int i = 0; i < 3; ++i) {
        // The interrupted copy keeps its old content; the others were not touched.
        EXPECT_EQ(LargeContent('o'),
                  ReadFile(ShareFolder("dst1/big" + std::to_string(i) + ".bin")));
    }
    EXPECT_EQ(3u, Rows().size());
}

TEST_F(BackupExecuteTest, UnusableSettingsEndTheRunWithoutResultFiles) {
    struct Case {
        const char* name;
        std::function<void(BackupExecuteTest&)> setUp;
        const char* logText;
    } const cases[] = {
        {"no user name", [](BackupExecuteTest& t) { t.Configure({.userName = ""}); },
         "CommonSetting Error. ret:0 User: Password:********"},
        {"no first source folder",
         [](BackupExecuteTest& t) {
             t.Configure({.pairs = {{"", ""}, {"src2", "dst2"}}});
         },
         "BackupSetting Error. ret:0 Source:"},
        {"no settings file", [](BackupExecuteTest& t) { t.runStore_ = nullptr; },
         "CommonSetting Error. ret:-1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        runStore_ = store_.get();
        Configure(Config{});
        MakeFiles({"src1/a.txt", "src2/b.txt"});
        c.setUp(*this);

        EXPECT_EQ(1, Run());

        EXPECT_FALSE(ClientResultCode());
        EXPECT_FALSE(fs::exists(temp_.Sub("data/backup/deteil_result.xml")));
        EXPECT_TRUE(hooks_.copyTargets.empty());
        EXPECT_TRUE(Balloons().empty());
        EXPECT_EQ(2, sink_.Count(WM_REFRESH_BACKUP_NOW));
        EXPECT_EQ(2, sink_.Count(WM_EXECUTE_STATE_CHANGED));
        EXPECT_EQ(0, executorRunning_.load());
        EXPECT_TRUE(BackupCompleteSignalled());
        EXPECT_NE(std::string::npos, Log().find(c.logText));
        EXPECT_EQ(std::string::npos, Log().find(kPassword));
    }
}

TEST_F(BackupExecuteTest, FileListFailureWhileCountingEndsTheRunWithResultOne) {
    Configure({.mirroring = true});
    MakeFiles({"src1/a.txt"});
    ASSERT_EQ(0, Run());
    ASSERT_TRUE(BackupCompleteSignalled());
    // The file list breaks under the running program.
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(temp_.Sub("TessarineTool.db").c_str(), &db));
    ASSERT_EQ(SQLITE_OK,
              sqlite3_exec(db, "DROP TABLE BACKUP_FILELIST;", nullptr, nullptr, nullptr));
    sqlite3_close(db);

    EXPECT_EQ(1, Run());

    EXPECT_EQ(2, ClientResultCode());
    ASSERT_EQ(1u, Balloons().size());
    EXPECT_EQ(1, Balloons()[0].result);
    EXPECT_TRUE(BackupCompleteSignalled());
    EXPECT_EQ(0, executorRunning_.load());
}

TEST_F(BackupExecuteTest, ResultFilesThatCannotBeWrittenEndTheRunWithResultOne) {
    MakeFiles({"src1/a.txt"});
    const std::string noFolder = temp_.Sub("no/such/folder/");
    struct Case {
        const char* name;
        std::function<void(BackupExecuteTest&)> setUp;
    } const cases[] = {
        {"after a connection failure",
         [](BackupExecuteTest& t) {
             t.hooks_.configure = [](testing::FaultInjectingShare& faults, LocalShare&) {
                 faults.FailNth(testing::ShareOp::kConnect, 1, EHOSTUNREACH);
             };
         }},
        // The device goes away after the connection.
        {"after a failed copy",
         [](BackupExecuteTest& t) {
             t.hooks_.configure = [](testing::FaultInjectingShare& faults, LocalShare&) {
                 faults.FailFrom(testing::ShareOp::kCopyToShare, 1, ECONNRESET);
             };
         }},
        {"after a successful run", [](BackupExecuteTest&) {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hooks_ = ShareHooks{};
        c.setUp(*this);

        EXPECT_EQ(1, Run(0, noFolder));

        EXPECT_FALSE(fs::exists(noFolder));
        EXPECT_TRUE(BackupCompleteSignalled());
        EXPECT_EQ(0, executorRunning_.load());
    }
}

TEST_F(BackupExecuteTest, ShutdownModeHandsOverAtEveryEnding) {
    MakeFiles({"src1/a.txt"});
    struct Case {
        const char* name;
        std::function<void(BackupExecuteTest&)> setUp;
        bool asksQuestion;
    } const cases[] = {
        {"normal end", [](BackupExecuteTest&) {}, true},
        {"device unreachable",
         [](BackupExecuteTest& t) {
             t.hooks_.configure = [](testing::FaultInjectingShare&, LocalShare& local) {
                 local.SetConnectResult(ECONNREFUSED);
             };
         },
         false},
        {"settings unusable", [](BackupExecuteTest& t) { t.Configure({.userName = ""}); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hooks_ = ShareHooks{};
        Configure(Config{});
        c.setUp(*this);
        shutdownAfterBackup_ = 0;  // a No from the previous run applies to that run only
        int questions = 0;
        std::vector<bool> judgedAfterComplete;
        sink_.Clear();
        executor_ = MakeExecutor();
        executor_->SetShutdownMode(1);
        executor_->SetMessageBoxForShutdownBackup([&] {
            ++questions;
            EXPECT_EQ(1, shutdownAfterBackup_.load());
        });
        executor_->SetJudgeShutdown(
            [&] { judgedAfterComplete.push_back(BackupCompleteSignalled()); });

        executor_->ThreadCore();

        EXPECT_EQ(c.asksQuestion ? 1 : 0, questions);
        EXPECT_EQ(std::vector<bool>{true}, judgedAfterComplete);
        EXPECT_EQ(1, sink_.Count(WM_SHUTDOWN_BACKUP_COMPLETE));
        EXPECT_EQ(1, shutdownAfterBackup_.load());
    }
}

TEST_F(BackupExecuteTest, EntriesTheShareCannotHoldAreReportedOrPassedOver) {
    MakeFiles({"src1/a.txt", "src1/sub/b.txt", "src1/back\\slash.txt"});
    // A link back up the tree must not make the walk loop; a fifo would block a copy forever.
    fs::create_directory_symlink(Source("src1"), Source("src1/sub/loop"));
    fs::create_symlink(Source("src1/a.txt"), Source("src1/link.txt"));
    ASSERT_EQ(0, mkfifo(Source("src1/fifo").c_str(), 0600));

    EXPECT_EQ(1, Run());

    EXPECT_EQ("content of src1/a.txt", ReadFile(ShareFolder("dst1/link.txt")));
    EXPECT_FALSE(fs::is_symlink(ShareFolder("dst1/link.txt")));
    EXPECT_FALSE(fs::exists(ShareFolder("dst1/sub/loop")));
    EXPECT_FALSE(fs::exists(ShareFolder("dst1/fifo")));
    EXPECT_FALSE(fs::exists(ShareFolder("dst1/back")));
    EXPECT_EQ(std::vector<std::string>{Source("src1/back\\slash.txt")},
              executor_->GetErrorList().paths);
    EXPECT_NE(std::string::npos, Log().find("Invalid File Name. file:"));
    // a.txt, sub, sub/b.txt, link.txt copied; the backslash name failed.
    EXPECT_EQ(5, executor_->GetErrorList().executeCount);
    EXPECT_EQ(4, executor_->GetErrorList().successCount);
}

TEST(BackupExecuteDestinationTest, MakeDestinationPathReproducesTheTreeBelowTheDestination) {
    struct Case {
        const char* source;
        const char* destination;
        const char* path;
        const char* expected;
    } const cases[] = {
        {"/home/a/docs", "\\\\10.0.0.5\\zereda\\backup\\pc", "/home/a/docs/x.txt",
         "\\\\10.0.0.5\\zereda\\backup\\pc\\x.txt"},
        {"/home/a/docs", "\\\\10.0.0.5\\zereda\\backup\\pc", "/home/a/docs/sub/deep/y.txt",
         "\\\\10.0.0.5\\zereda\\backup\\pc\\sub\\deep\\y.txt"},
        // A source folder given with its trailing slash.
        {"/home/a/docs/", "\\\\10.0.0.5\\zereda\\backup\\pc", "/home/a/docs/x.txt",
         "\\\\10.0.0.5\\zereda\\backup\\pc\\x.txt"},
        // A destination given with its trailing backslash: still one separator.
        {"/home/a/docs", "\\\\10.0.0.5\\zereda\\backup\\pc\\", "/home/a/docs/x.txt",
         "\\\\10.0.0.5\\zereda\\backup\\pc\\x.txt"},
        {"/home/a/docs/", "\\\\10.0.0.5\\zereda\\backup\\pc\\", "/home/a/docs/s/x.txt",
         "\\\\10.0.0.5\\zereda\\backup\\pc\\s\\x.txt"},
        {"/", "\\\\10.0.0.5\\zereda\\root", "/etc/hosts", "\\\\10.0.0.5\\zereda\\root\\etc\\hosts"},
        // Japanese names pass unchanged.
        {"/home/a/文書", "\\\\10.0.0.5\\zereda\\バックアップ", "/home/a/文書/報告.txt",
         "\\\\10.0.0.5\\zereda\\バックアップ\\報告.txt"},
        // An smb:// destination keeps its slashes.
        {"/home/a/docs", "smb://10.0.0.5/zereda/backup/pc", "/home/a/docs/sub/x.txt",
         "smb://10.0.0.5/zereda/backup/pc/sub/x.txt"},
        // The source folder itself maps onto the destination.
        {"/home/a/docs", "\\\\10.0.0.5\\zereda\\backup\\pc", "/home/a/docs",
         "\\\\10.0.0.5\\zereda\\backup\\pc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(c.expected,
                  CBackupExecute::MakeDestinationPath({c.source, c.destination}, c.path));
    }
}

}  // namespace
}  // namespace tessarine
