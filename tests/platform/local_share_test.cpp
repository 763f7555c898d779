#include "platform/posix/local_share.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "fakes/fault_injecting_share.h"
#include "fakes/test_support.h"

namespace tessarine {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr char kShare[] = R"(\\192.168.1.10\zereda)";
constexpr std::time_t kOldTime = 1'500'000'000;  // 2017-07-14, far from "now"

std::string Device(const std::string& below) { return std::string(kShare) + "\\" + below; }

void SetModificationTime(const std::string& path, std::time_t seconds) {
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::time_t ModificationTime(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return -1;
    return info.st_mtim.tv_sec;
}

// Names in a folder, hidden temporary copies included.
std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class LocalShareTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(Local("zereda/backup"));
        std::filesystem::create_directories(temp_.Sub("pc"));
    }

    std::string Local(const std::string& relative) const { return temp_.Sub("share/" + relative); }
    std::string Pc(const std::string& relative) const { return temp_.Sub("pc/" + relative); }

    // A local source file of `size` bytes with a recognisable pattern and an old time stamp.
    std::string MakeSource(const std::string& name, size_t size, char seed = 'a') {
        std::string content(size, '\0');
        for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>(seed + i % 23);
        const std::string path = Pc(name);
        EXPECT_TRUE(WriteFile(path, content));
        SetModificationTime(path, kOldTime);
        return path;
    }

    TempDir temp_;
    LocalShare share_{temp_.Sub("share")};
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
        EXPECT_FALSE(share_.CreateFolder(path));
        EXPECT_EQ(share_.LastError(), EINVAL);
        EXPECT_FALSE(share_.CopyToShare(MakeSource("s.txt", 10), path, nullptr));
        EXPECT_EQ(share_.LastError(), EINVAL);
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

TEST_F(LocalShareTest, CopyKeepsContentAndLastWriteTime) {
    // Three blocks and a bit, so the block loop runs more than once.
    const std::string source = MakeSource("big.bin", 3 * (1 << 20) + 123);
    ASSERT_TRUE(share_.CopyToShare(source, Device(R"(backup\big.bin)"), nullptr));
    EXPECT_EQ(ReadFile(Local("zereda/backup/big.bin")), ReadFile(source));
    EXPECT_EQ(ModificationTime(Local("zereda/backup/big.bin")), kOldTime);

    const std::string back = Pc("back.bin");
    ASSERT_TRUE(share_.CopyFromShare(Device(R"(backup\big.bin)"), back, nullptr));
    EXPECT_EQ(ReadFile(back), ReadFile(source));
    EXPECT_EQ(ModificationTime(back), kOldTime);
}

TEST_F(LocalShareTest, CopiesEmptyFiles) {
    const std::string source = MakeSource("empty.txt", 0);
    ASSERT_TRUE(share_.CopyToShare(source, Device(R"(backup\empty.txt)"), nullptr));
    EXPECT_TRUE(std::filesystem::is_regular_file(Local("zereda/backup/empty.txt")));
    EXPECT_EQ(std::filesystem::file_size(Local("zereda/backup/empty.txt")), 0u);
}

TEST_F(LocalShareTest, CopyOverwritesAnExistingTarget) {
    ASSERT_TRUE(WriteFile(Local("zereda/backup/a.txt"), std::string(5000, 'x')));
    const std::string source = MakeSource("a.txt", 10);
    ASSERT_TRUE(share_.CopyToShare(source, Device(R"(backup\a.txt)"), nullptr));
    EXPECT_EQ(ReadFile(Local("zereda/backup/a.txt")), ReadFile(source));
    EXPECT_EQ(FolderNames(Local("zereda/backup")), std::vector<std::string>{"a.txt"});
}

TEST_F(LocalShareTest, ReadOnlyTargetIsRefusedUntilCleared) {
    const std::string target = Device(R"(backup\ro.txt)");
    ASSERT_TRUE(WriteFile(Local("zereda/backup/ro.txt"), "old"));
    ASSERT_TRUE(share_.SetReadOnly(target, true));
    EXPECT_TRUE(share_.IsReadOnly(target));
    EXPECT_FALSE(share_.IsReadOnly(Device("backup")));

    const std::string source = MakeSource("ro.txt", 100);
    EXPECT_FALSE(share_.CopyToShare(source, target, nullptr));
    EXPECT_EQ(share_.LastError(), EACCES);
    EXPECT_EQ(ReadFile(Local("zereda/backup/ro.txt")), "old");
    EXPECT_EQ(FolderNames(Local("zereda/backup")), std::vector<std::string>{"ro.txt"});

    ASSERT_TRUE(share_.ClearReadOnly(target));
    EXPECT_FALSE(share_.IsReadOnly(target));
    ASSERT_TRUE(share_.CopyToShare(source, target, nullptr));
    EXPECT_EQ(ReadFile(Local("zereda/backup/ro.txt")), ReadFile(source));

    // Clearing an entry that is not read-only, or that does not exist.
    EXPECT_TRUE(share_.ClearReadOnly(target));
    EXPECT_FALSE(share_.ClearReadOnly(Device(R"(backup\none.txt)")));
    EXPECT_EQ(share_.LastError(), ENOENT);
}

TEST_F(LocalShareTest, CancelMidCopyLeavesTheOldTargetWhole) {
    ASSERT_TRUE(WriteFile(Local("zereda/backup/big.bin"), "previous copy"));
    const std::string source = MakeSource("big.bin", 5 * (1 << 20));
    std::atomic<int> cancel{0};
    std::vector<std::uint64_t> progress;
    share_.SetBlockObserver([&](std::uint64_t copied) {
        progress.push_back(copied);
        if (copied >= 2u << 20) cancel = 1;
    });
    EXPECT_FALSE(share_.CopyToShare(source, Device(R"(backup\big.bin)"), &cancel));
    EXPECT_EQ(share_.LastError(), ECANCELED);
    ASSERT_FALSE(progress.empty());
    EXPECT_LT(progress.back(), 5u << 20);  // stopped before the end
    EXPECT_EQ(ReadFile(Local("zereda/backup/big.bin")), "previous copy");
    EXPECT_EQ(FolderNames(Local("zereda/backup")), std::vector<std::string>{"big.bin"});

    // A cancelled copy of a new file leaves nothing at all; so does one cancelled up front.
    cancel = 0;
    EXPECT_FALSE(share_.CopyToShare(source, Device(R"(backup\new.bin)"), &cancel));
    cancel = 1;
    share_.SetBlockObserver(nullptr);
    EXPECT_FALSE(share_.CopyToShare(source, Device(R"(backup\new.bin)"), &cancel));
    EXPECT_EQ(share_.LastError(), ECANCELED);
    EXPECT_EQ(FolderNames(Local("zereda/backup")), std::vector<std::string>{"big.bin"});

    // The same from the share to this PC.
    ASSERT_TRUE(WriteFile(Pc("home.bin"), "local copy"));
    cancel = 0;
    share_.SetBlockObserver([&](std::uint64_t) { cancel = 1; });
    ASSERT_TRUE(WriteFile(Local("zereda/backup/big2.bin"), ReadFile(source)));
    EXPECT_FALSE(share_.CopyFromShare(Device(R"(backup\big2.bin)"), Pc("home.bin"), &cancel));
    EXPECT_EQ(ReadFile(Pc("home.bin")), "local copy");
    EXPECT_EQ(FolderNames(temp_.Sub("pc")), (std::vector<std::string>{"big.bin", "home.bin"}));
}

TEST_F(LocalShareTest, FolderVanishingMidCopyLeavesNoPartialFile) {
    std::filesystem::create_directories(Local("zereda/backup/sub"));
    const std::string source = MakeSource("big.bin", 3 * (1 << 20));
    share_.SetBlockObserver(
        [&](std::uint64_t) { std::filesystem::remove_all(Local("zereda/backup/sub")); });
    EXPECT_FALSE(share_.CopyToShare(source, Device(R"(backup\sub\big.bin)"), nullptr));
    EXPECT_EQ(share_.LastError(), ENOENT);
    EXPECT_FALSE(std::filesystem::exists(Local("zereda/backup/sub")));
}

TEST_F(LocalShareTest, CopyFailuresNameTheirCause) {
    const std::string source = MakeSource("s.txt", 10);
    struct Case {
        const char* what;
        std::string from;
        std::string to;
        int error;
    };
    std::filesystem::create_directories(Local("zereda/backup/folder"));
    const Case cases[] = {
        {"missing source", Pc("none.txt"), Device(R"(backup\x.txt)"), ENOENT},
        {"source is a folder", temp_.Sub("pc"), Device(R"(backup\x.txt)"), EISDIR},
        {"target folder missing", source, Device(R"(backup\no\x.txt)"), ENOENT},
        {"target is a folder", source, Device(R"(backup\folder)"), EISDIR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(share_.CopyToShare(c.from, c.to, nullptr));
        EXPECT_EQ(share_.LastError(), c.error);
    }
    EXPECT_EQ(FolderNames(Local("zereda/backup")), std::vector<std::string>{"folder"});
}

TEST_F(LocalShareTest, SourceThatIsAPipeIsRefusedWithoutBlocking) {
    const std::string fifo = Pc("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(share_.CopyToShare(fifo, Device(R"(backup\pipe)"), nullptr));
    EXPECT_EQ(share_.LastError(), EINVAL);
}

TEST_F(LocalShareTest, CreatesAndRemovesFolders) {
    const std::string folder = Device(R"(backup\PC01)");
    EXPECT_TRUE(share_.CreateFolder(folder));
    EXPECT_TRUE(share_.IsFolder(folder));
    EXPECT_FALSE(share_.CreateFolder(folder));
    EXPECT_EQ(share_.LastError(), EEXIST);
    EXPECT_FALSE(share_.CreateFolder(Device(R"(backup\a\b)")));  // one level only
    EXPECT_EQ(share_.LastError(), ENOENT);

    ASSERT_TRUE(
        share_.CopyToShare(MakeSource("f.txt", 3), Device(R"(backup\PC01\f.txt)"), nullptr));
    EXPECT_FALSE(share_.RemoveFolder(folder));
    EXPECT_EQ(share_.LastError(), ENOTEMPTY);
    EXPECT_FALSE(share_.DeleteFile(folder));
    EXPECT_EQ(share_.LastError(), EISDIR);

    EXPECT_TRUE(share_.DeleteFile(Device(R"(backup\PC01\f.txt)")));
    EXPECT_FALSE(share_.Exists(Device(R"(backup\PC01\f.txt)")));
    EXPECT_FALSE(share_.DeleteFile(Device(R"(backup\PC01\f.txt)")));
    EXPECT_EQ(share_.LastError(), ENOENT);
    EXPECT_TRUE(share_.RemoveFolder(folder));
    EXPECT_FALSE(share_.Exists(folder));
    EXPECT_FALSE(share_.RemoveFolder(folder));
    EXPECT_EQ(share_.LastError(), ENOENT);
}

TEST_F(LocalShareTest, ListsWithWildcard) {
    for (const char* name : {"PC01_20240101000000.xml", "pc01_20240102000000.XML",
                             "PC02_20240101000000.xml", "setting.xml", "notes.txt"})
        ASSERT_TRUE(WriteFile(Local(std::string("zereda/import/result/") + name), "<x/>"));
    std::filesystem::create_directories(Local("zereda/import/result/PC01_folder.xml"));
    SetModificationTime(Local("zereda/import/result/setting.xml"), kOldTime);

    struct Case {
        const char* wildcard;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"PC01_*.xml", {"PC01_20240101000000.xml", "PC01_folder.xml", "pc01_20240102000000.XML"}},
        {"*.txt", {"notes.txt"}},
        {"setting.???", {"setting.xml"}},
        {"*",
         {"PC01_20240101000000.xml", "PC01_folder.xml", "PC02_20240101000000.xml", "notes.txt",
          "pc01_20240102000000.XML", "setting.xml"}},
        {"*.doc", {}},
    };
    std::vector<ShareEntry> entries;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wildcard);
        ASSERT_TRUE(share_.List(Device(R"(import\result\)"), c.wildcard, entries));
        std::vector<std::string> names;
        for (const auto& e : entries) names.push_back(e.name);
        EXPECT_EQ(names, c.names);
    }

    ASSERT_TRUE(share_.List(Device(R"(import\result)"), "setting.xml", entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_FALSE(entries[0].isFolder);
    EXPECT_EQ(entries[0].size, 4u);
    EXPECT_EQ(entries[0].lastWriteTime, kOldTime);
    ASSERT_TRUE(share_.List(Device(R"(import\result)"), "*folder*", entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].isFolder);

    EXPECT_FALSE(share_.List(Device(R"(import\none)"), "*", entries));
    EXPECT_EQ(share_.LastError(), ENOENT);
    EXPECT_TRUE(entries.empty());
}

TEST_F(LocalShareTest, HandlesJapaneseNames) {
    const std::string source = MakeSource("報告書.txt", 42);
    ASSERT_TRUE(share_.CreateFolder(Device(R"(backup\日本語フォルダ)")));
    ASSERT_TRUE(share_.CopyToShare(source, Device(R"(backup\日本語フォルダ\報告書.txt)"), nullptr));
    std::vector<ShareEntry> entries;
    ASSERT_TRUE(share_.List(Device(R"(backup\日本語フォルダ)"), "報告*", entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "報告書.txt");
}

TEST_F(LocalShareTest, FaultInjectingShareFailsTheChosenCall) {
    testing::FaultInjectingShare faulty(share_);
    const std::string source = MakeSource("s.txt", 10);
    faulty.FailNth(testing::ShareOp::kCopyToShare, 2, ENOSPC);
    EXPECT_TRUE(faulty.CopyToShare(source, Device(R"(backup\1.txt)"), nullptr));
    EXPECT_FALSE(faulty.CopyToShare(source, Device(R"(backup\2.txt)"), nullptr));
    EXPECT_EQ(faulty.LastError(), ENOSPC);
    EXPECT_TRUE(faulty.CopyToShare(source, Device(R"(backup\3.txt)"), nullptr));
    EXPECT_EQ(faulty.Calls(testing::ShareOp::kCopyToShare), 3);
    EXPECT_FALSE(share_.Exists(Device(R"(backup\2.txt)")));

    faulty.FailFrom(testing::ShareOp::kList, 1, EHOSTDOWN);
    std::vector<ShareEntry> entries;
    EXPECT_FALSE(faulty.List(Device("backup"), "*", entries));
    EXPECT_FALSE(faulty.List(Device("backup"), "*", entries));
    faulty.FailEverything(ENETDOWN);
    EXPECT_NE(faulty.Connect("h", "u", "p"), kShareConnected);
    EXPECT_EQ(faulty.LastError(), ENETDOWN);
    faulty.Heal();
    EXPECT_TRUE(faulty.List(Device("backup"), "*", entries));
    EXPECT_EQ(entries.size(), 2u);
}

// With the device's case rule a name is found whatever its case, a copy over a name that
// differs in case takes the new name, and a rename refuses a name another entry holds.
TEST_F(LocalShareTest, FoldingCaseTreatsNamesAsTheDeviceDoes) {
    share_.SetFoldCase(true);
    const std::string source = MakeSource("a.txt", 10);
    ASSERT_TRUE(share_.CreateFolder("\\\\h\\zereda\\backup\\Photos"));
    EXPECT_TRUE(share_.IsFolder("\\\\h\\zereda\\BACKUP\\photos"));
    EXPECT_FALSE(share_.CreateFolder("\\\\h\\zereda\\backup\\PHOTOS"));
    EXPECT_EQ(EEXIST, share_.LastError());

    ASSERT_TRUE(share_.CopyToShare(source, "\\\\h\\zereda\\backup\\Photos\\Note.txt", nullptr));
    ASSERT_TRUE(share_.CopyToShare(source, "\\\\h\\zereda\\backup\\photos\\note.txt", nullptr));
    EXPECT_EQ(FolderNames(Local("zereda/backup/Photos")), std::vector<std::string>{"note.txt"});

    ASSERT_TRUE(share_.Rename("\\\\h\\zereda\\backup\\Photos", "\\\\h\\zereda\\backup\\photos"));
    EXPECT_EQ(FolderNames(Local("zereda/backup")), std::vector<std::string>{"photos"});
    ASSERT_TRUE(share_.CopyToShare(source, "\\\\h\\zereda\\backup\\other.txt", nullptr));
    EXPECT_FALSE(
        share_.Rename("\\\\h\\zereda\\backup\\other.txt", "\\\\h\\zereda\\backup\\PHOTOS"));
    EXPECT_EQ(EEXIST, share_.LastError());
}

}  // namespace
}  // namespace tessarine
