// Restore: copies come back whole, with their times, where they were backed up from or below
// another folder; local work is never replaced unasked; nothing outside the target is written;
// and the next backup takes a restored file for unchanged.
#include "backup/restore_engine.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "backup/backup_execute_fixture.h"

namespace tessarine {
namespace {

using namespace backup_test;  // NOLINT(google-build-using-namespace): the fixture's own names
namespace fs = std::filesystem;

// A share whose listings carry extra entries, as a hostile or broken device could answer.
class ListingShare : public LocalShare {
public:
    using LocalShare::LocalShare;
    IoResult<std::vector<ShareEntry>> List(const std::string& folder,
                                           const std::string& wildcard) override {
        auto listed = LocalShare::List(folder, wildcard);
        if (listed && folder.find("dst1") != std::string::npos && folder.back() == '1')
            for (const ShareEntry& extra : extras) listed.value.push_back(extra);
        return listed;
    }
    std::vector<ShareEntry> extras;
};

class RestoreTest : public BackupExecuteTest {
public:
    BackupFolderPairs Pairs() {
        CBackupSetting backup(store_.get());
        EXPECT_EQ(0, backup.Load());
        return backup.folderPairs;
    }

    struct Ask {
        std::vector<std::string> paths;
        std::string to;
        bool overwrite = false;
        bool dryRun = false;
    };
    RestoreSummary Restore(const Ask& ask, DeviceShare* share = nullptr) {
        RestoreRequest request;
        request.pairs = {0};
        request.paths = ask.paths;
        request.targetFolder = ask.to;
        request.overwrite = ask.overwrite;
        request.dryRun = ask.dryRun;
        LocalShare local(ShareRoot());
        CRestoreEngine engine(share != nullptr ? *share : local, fileList_.get(), Pairs());
        const RestoreMarks marks(MarksPath());
        engine.SetMarks(&marks);
        return engine.Run(request, nullptr);
    }

    static const RestoreItem* Find(const RestoreSummary& summary, const std::string& localPath) {
        for (const auto* list : {&summary.files, &summary.refused})
            for (const RestoreItem& item : *list)
                if (item.localPath == localPath) return &item;
        return nullptr;
    }

    // Every file below `root`: relative path -> (content, modified time).
    static std::map<std::string, std::pair<std::string, std::time_t>> Tree(
        const std::string& root) {
        std::map<std::string, std::pair<std::string, std::time_t>> files;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            if (!entry.is_regular_file()) continue;
            const std::string path = entry.path().string();
            files[path.substr(root.size())] = {testing::ReadFile(path), ModifiedTime(path)};
        }
        return files;
    }
};

TEST_F(RestoreTest, RestoresDeletedFilesInPlaceKeepsLocalWorkAndTheNextBackupCopiesNothingBack) {
    MakeFiles({"src1/a.txt", "src1/sub/b.txt", "src1/sub/deep/c.txt", "src1/keep.txt"});
    ASSERT_EQ(0, Run());
    const auto backedUp = Tree(Source("src1"));

    fs::remove(Source("src1/a.txt"));
    fs::remove_all(Source("src1/sub/deep"));
    ASSERT_TRUE(WriteFile(Source("src1/keep.txt"), "edited here"));
    SetModifiedTime(Source("src1/keep.txt"), kNow);
    ASSERT_TRUE(WriteFile(Source("src1/new.txt"), "added here"));

    const RestoreSummary summary = Restore(Ask{});
    EXPECT_EQ(2u, summary.restored);
    EXPECT_EQ(1u, summary.equal);
    EXPECT_EQ(1u, summary.skipped);
    EXPECT_FALSE(summary.Complete());
    ASSERT_NE(nullptr, Find(summary, Source("src1/keep.txt")));
    EXPECT_EQ(RestoreOutcome::kLocalDiffers, Find(summary, Source("src1/keep.txt"))->outcome);

    auto now = Tree(Source("src1"));
    EXPECT_EQ("edited here", now["/keep.txt"].first);
    EXPECT_EQ("added here", now["/new.txt"].first);
    for (const char* restored : {"/a.txt", "/sub/deep/c.txt"})
        EXPECT_EQ(backedUp.at(restored), now[restored]) << restored;

    // Only the edited and the added file go to the device again.
    ASSERT_EQ(0, Run());
    std::vector<std::string> copied;
    for (const std::string& target : hooks_.copyTargets)
        if (target.rfind(Unc("dst1\\"), 0) == 0) copied.push_back(target);
    std::sort(copied.begin(), copied.end());
    EXPECT_EQ((std::vector<std::string>{Unc("dst1/keep.txt"), Unc("dst1/new.txt")}), copied);
}

TEST_F(RestoreTest, RestoresBelowAnotherFolderKeepingTheTreeAndTimes) {
    MakeFiles({"src1/a.txt", "src1/sub/b.txt", "src1/sub/deep/c.txt"});
    ASSERT_EQ(0, Run());
    const std::string target = temp_.Sub("elsewhere");

    RestoreSummary summary = Restore(Ask{{}, target});
    EXPECT_TRUE(summary.Complete());
    EXPECT_EQ(3u, summary.restored);
    EXPECT_EQ(Tree(Source("src1")), Tree(target + "/src1"));

    // Only what was asked for: one folder, by its path below the source.
    fs::remove_all(target);
    summary = Restore(Ask{{Source("src1/sub/deep")}, target});
    EXPECT_EQ(1u, summary.restored);
    EXPECT_EQ("content of src1/sub/deep/c.txt", testing::ReadFile(target + "/src1/sub/deep/c.txt"));
    EXPECT_FALSE(fs::exists(target + "/src1/a.txt"));
}

TEST_F(RestoreTest, ConflictsWithLocalFilesAreDecidedPerFile) {
    struct Case {
        const char* name;
        std::function<void(const std::string& path)> change;  // after the backup
        bool removeCopy;                                      // the device copy is gone
        RestoreOutcome plain;
        RestoreOutcome overwrite;
        const char* contentAfterOverwrite;
    };
    const std::time_t backedUpTime = kNow - 86400;
    const std::vector<Case> cases = {
        {"equal", [](const std::string&) {}, false, RestoreOutcome::kEqual, RestoreOutcome::kEqual,
         "content of src1/equal"},
        {"newer",
         [&](const std::string& p) {
             WriteFile(p, "newer work");
             SetModifiedTime(p, kNow);
         },
         false, RestoreOutcome::kLocalDiffers, RestoreOutcome::kRestored, "content of src1/newer"},
        {"differs",
         [&](const std::string& p) {
             WriteFile(p, "same time, other bytes");
             SetModifiedTime(p, backedUpTime);
         },
         false, RestoreOutcome::kLocalDiffers, RestoreOutcome::kRestored,
         "content of src1/differs"},
        {"missing", [](const std::string& p) { fs::remove(p); }, false, RestoreOutcome::kRestored,
         RestoreOutcome::kEqual, "content of src1/missing"},
        {"folder",
         [](const std::string& p) {
             fs::remove(p);
             fs::create_directories(p);
         },
         false, RestoreOutcome::kKindDiffers, RestoreOutcome::kKindDiffers, nullptr},
        {"gone", [](const std::string&) {}, true, RestoreOutcome::kNotOnDevice,
         RestoreOutcome::kNotOnDevice, "content of src1/gone"},
    };
    for (const Case& c : cases) MakeFiles({std::string("src1/") + c.name}, backedUpTime);
    ASSERT_EQ(0, Run());
    for (const Case& c : cases) {
        c.change(Source(std::string("src1/") + c.name));
        if (c.removeCopy) fs::remove(ShareFolder(std::string("dst1/") + c.name));
    }
    for (const bool overwrite : {false, true}) {
        for (const Case& c : cases) {
            const std::string path = Source(std::string("src1/") + c.name);
            const RestoreSummary summary = Restore(Ask{{path}, "", overwrite});
            const RestoreItem* item = Find(summary, path);
            ASSERT_NE(nullptr, item) << c.name;
            EXPECT_EQ(overwrite ? c.overwrite : c.plain, item->outcome)
                << c.name << (overwrite ? " with overwrite" : "");
            EXPECT_EQ(item->outcome == RestoreOutcome::kRestored ||
                          item->outcome == RestoreOutcome::kEqual,
                      summary.Complete())
                << c.name;
            if (overwrite && c.contentAfterOverwrite != nullptr) {
                EXPECT_EQ(c.contentAfterOverwrite, testing::ReadFile(path)) << c.name;
                if (!c.removeCopy) {
                    EXPECT_EQ(backedUpTime, ModifiedTime(path)) << c.name;
                }
            }
        }
    }
}

TEST_F(RestoreTest, DryRunWritesNothing) {
    MakeFiles({"src1/a.txt", "src1/sub/b.txt"});
    ASSERT_EQ(0, Run());
    fs::remove_all(Source("src1/sub"));
    const RestoreSummary summary = Restore(Ask{{}, "", false, true});
    EXPECT_EQ(1u, summary.restored);
    EXPECT_EQ(1u, summary.equal);
    EXPECT_FALSE(fs::exists(Source("src1/sub")));
    ASSERT_NE(nullptr, Find(summary, Source("src1/sub/b.txt")));
}

TEST_F(RestoreTest, HostileDeviceNamesAndLocalLinksWriteNothingOutsideTheTarget) {
    MakeFiles({"src1/a.txt", "src1/sub/b.txt", "src1/other/c.txt"});
    ASSERT_EQ(0, Run());
    const std::string outside = temp_.Sub("outside");
    fs::create_directories(outside);
    // Local links where a restored folder and a restored file would go.
    fs::remove_all(Source("src1/sub"));
    fs::create_directory_symlink(outside, Source("src1/sub"));
    fs::remove(Source("src1/a.txt"));
    fs::create_symlink(outside + "/a.txt", Source("src1/a.txt"));

    ListingShare share(ShareRoot());
    for (const char* name : {"..", ".", "x/y", "..\\..\\evil", "tab\tname", "del\x7f", ""})
        share.extras.push_back({name, false, 3, kNow});
    share.extras.push_back({"..", true, 0, kNow});

    const RestoreSummary summary = Restore(Ask{{}, "", true}, &share);
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_EQ(std::vector<std::string>{"src1"}, [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(temp_.Path()))
            if (e.path().filename() != "share" && e.path().filename() != "log" &&
                e.path().filename() != "data" && e.path().filename() != "outside" &&
                e.is_directory())
                names.push_back(e.path().filename().string());
        return names;
    }());
    EXPECT_EQ(RestoreOutcome::kRefusedLink, Find(summary, Source("src1/a.txt"))->outcome);
    EXPECT_EQ(RestoreOutcome::kRefusedLink, Find(summary, Source("src1/sub"))->outcome);
    EXPECT_EQ(RestoreOutcome::kRefusedLink, Find(summary, Source("src1/sub/b.txt"))->outcome);
    EXPECT_EQ(RestoreOutcome::kEqual, Find(summary, Source("src1/other/c.txt"))->outcome);
    const auto refusedNames =
        std::count_if(summary.refused.begin(), summary.refused.end(),
                      [](const auto& i) { return i.outcome == RestoreOutcome::kRefusedName; });
    EXPECT_EQ(8, refusedNames);
    EXPECT_FALSE(summary.Complete());
    EXPECT_NE(std::string::npos, Log().find("Restore Name Refused. path:"));
    EXPECT_NE(std::string::npos, Log().find("Restore Link Refused. path:" + Source("src1/sub")));

    // A path asked for that climbs out of its pair is refused before the device is asked.
    const RestoreSummary climbing = Restore(Ask{{Source("src1/../outside")}, ""});
    EXPECT_EQ(0u, climbing.restored);
    EXPECT_FALSE(climbing.Complete());
    EXPECT_TRUE(fs::is_empty(outside));
}

TEST_F(RestoreTest, NamesComeBackAsBackedUpWhereTheDeviceHoldsAnotherCase) {
    MakeFiles({"src1/ReadMe.txt", "src1/Docs/Note.TXT"});
    ASSERT_EQ(0, Run());
    // The device took other letter cases for a file and a folder (folding names as it may),
    // and holds two names that differ in case only (another client put them there).
    fs::rename(ShareFolder("dst1/ReadMe.txt"), ShareFolder("dst1/README.TXT"));
    fs::rename(ShareFolder("dst1/Docs"), ShareFolder("dst1/DOCS"));
    MakeFiles({"src1/y.txt", "src1/Y.txt"});
    for (const char* name : {"y.txt", "Y.txt"})
        fs::copy_file(Source(std::string("src1/") + name),
                      ShareFolder(std::string("dst1/") + name));
    for (const char* name : {"y.txt", "Y.txt"})
        SetModifiedTime(ShareFolder(std::string("dst1/") + name), kNow - 86400);
    const auto backedUp = Tree(Source("src1"));
    fs::remove_all(Source("src1"));

    const RestoreSummary summary = Restore(Ask{});
    EXPECT_TRUE(summary.Complete());
    EXPECT_EQ(backedUp, Tree(Source("src1")));
}

TEST_F(RestoreTest, LeftoversOfACutOffRestoreAreRemovedAndACancelledCopyLeavesNoFile) {
    MakeFiles({"src1/a.txt", "src1/sub/b.txt"});
    ASSERT_EQ(0, Run());
    ASSERT_TRUE(WriteFile(Source("src1/sub/~tess0123456789abcdef.tmp"), "half a copy"));
    ASSERT_TRUE(WriteFile(Source("src1/~tess00000000000000ff.tmp"), "half a copy"));
    fs::remove(Source("src1/sub/b.txt"));

    EXPECT_TRUE(Restore(Ask{}).Complete());
    EXPECT_FALSE(fs::exists(Source("src1/sub/~tess0123456789abcdef.tmp")));
    EXPECT_FALSE(fs::exists(Source("src1/~tess00000000000000ff.tmp")));

    // Cancelled inside the copy of a large file: neither the file nor its temporary stays.
    const std::string big(3 << 20, 'x');
    ASSERT_TRUE(WriteFile(Source("src1/big.bin"), big));
    ASSERT_EQ(0, Run());
    fs::remove(Source("src1/big.bin"));
    std::atomic<int> cancel{0};
    LocalShare share(ShareRoot());
    share.SetBlockObserver([&](std::uint64_t) { cancel = 1; });
    CRestoreEngine engine(share, fileList_.get(), Pairs());
    RestoreRequest request;
    request.pairs = {0};
    const RestoreSummary summary = engine.Run(request, &cancel);
    EXPECT_TRUE(summary.cancelled);
    EXPECT_FALSE(summary.Complete());
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(Source("src1")))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"a.txt", "sub"}), names);
}

// A restore cancelled (or killed) before it brought everything back leaves files missing that
// the user wants back: the next mirroring backup must not take them for deleted and remove
// their only copies. A restore that ends lifts that.
TEST_F(RestoreTest, MirroringAfterACancelledRestoreDeletesNoCopyOfWhatItHadNotBroughtBack) {
    Configure({.mirroring = true});
    const std::string big(3 << 20, 'x');
    MakeFiles({"src1/a.txt", "src1/sub/c.txt", "src1/other.txt"});
    ASSERT_TRUE(WriteFile(Source("src1/big.bin"), big));
    ASSERT_EQ(0, Run());
    fs::remove(Source("src1/big.bin"));
    fs::remove_all(Source("src1/sub"));
    const RestoreMarks marks(MarksPath());

    // Neither a dry run nor a restore to another folder touches the source: no mark.
    EXPECT_EQ(2u, Restore(Ask{{}, "", false, true}).restored);
    Restore(Ask{{}, Source("elsewhere")});
    EXPECT_TRUE(marks.Read().empty());

    // Cancelled inside the large copy (the first file in name order).
    std::atomic<int> cancel{0};
    LocalShare share(ShareRoot());
    share.SetBlockObserver([&](std::uint64_t) { cancel = 1; });
    CRestoreEngine engine(share, fileList_.get(), Pairs());
    engine.SetMarks(&marks);
    RestoreRequest request;
    request.pairs = {0};
    ASSERT_TRUE(engine.Run(request, &cancel).cancelled);
    EXPECT_EQ((std::set<std::string>{Source("src1")}), marks.Read());

    fs::remove(Source("src1/other.txt"));  // a deletion the user made meanwhile waits too
    EXPECT_EQ(1, Run());                   // reported: deletions were held back
    for (const char* kept : {"dst1/big.bin", "dst1/sub/c.txt", "dst1/other.txt"})
        EXPECT_TRUE(fs::exists(ShareFolder(kept))) << kept;
    EXPECT_TRUE(RowOf(Source("src1/big.bin")));

    // The restore run again to its end brings the files back (the one deleted meanwhile too)
    // and lifts the mark; a deletion after it reaches the device.
    EXPECT_FALSE(Restore(Ask{}).cancelled);
    EXPECT_TRUE(marks.Read().empty());
    EXPECT_EQ(big, ReadFile(Source("src1/big.bin")));
    fs::remove(Source("src1/other.txt"));
    EXPECT_EQ(0, Run());
    EXPECT_TRUE(fs::exists(ShareFolder("dst1/big.bin")));
    EXPECT_TRUE(fs::exists(ShareFolder("dst1/sub/c.txt")));
    EXPECT_FALSE(fs::exists(ShareFolder("dst1/other.txt")));
}

TEST(RestoreMarksTest, MarksCoverWhatIsBelowAndAboveAndClearWhatIsBelow) {
    testing::TempDir temp;
    const RestoreMarks marks(temp.Sub("marks"));
    const std::string odd = "/src/line\nfeed\\name\\n";
    ASSERT_TRUE(marks.Set({"/src/a", "/src/b/c", odd}));
    EXPECT_EQ((std::set<std::string>{"/src/a", "/src/b/c", odd}), marks.Read());
    const std::set<std::string> read = marks.Read();
    for (const char* touched : {"/src/a", "/src/a/x", "/src/b", "/src"})
        EXPECT_TRUE(RestoreMarks::Touches(touched, read)) << touched;
    for (const char* free : {"/src/ab", "/src/b/d", "/other"})
        EXPECT_FALSE(RestoreMarks::Touches(free, read)) << free;
    marks.Clear({"/src/b"});
    EXPECT_EQ((std::set<std::string>{"/src/a", odd}), marks.Read());
    marks.Clear({"/src"});
    EXPECT_TRUE(marks.Read().empty());
    EXPECT_FALSE(fs::exists(temp.Sub("marks")));
}

}  // namespace
}  // namespace tessarine
