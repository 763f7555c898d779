// What every DeviceShare promises, as one typed suite. Each test file instantiates it for its
// share with a harness:
//
//   struct Harness {
//       using Share = ...;               // the share class
//       static constexpr bool kFoldsCase; // names differing only in case are one name
//       bool Start(std::string& why);    // false (with the reason): the test is skipped
//       Share& share();
//       std::string Device(const std::string& below) const;  // "" names the test's folder
//       std::string Served(const std::string& below) const;  // where the device keeps it
//   };
//
// The test's folder exists and is empty when a test starts.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fakes/test_support.h"
#include "platform/device_share.h"
#include "platform/share_name.h"

namespace tessarine::share_contract {

using testing::FolderNames;
using testing::ModifiedTime;
using testing::ReadFile;
using testing::SetModifiedTime;
using testing::WriteFile;

constexpr std::time_t kOldTime = 1'500'000'000;  // 2017-07-14, far from "now"

template <typename Harness>
class ShareContract : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!harness_.Start(why)) GTEST_SKIP() << why;
    }

    typename Harness::Share& Share() { return harness_.share(); }
    std::string Device(const std::string& below) const { return harness_.Device(below); }
    std::string Served(const std::string& below) const { return harness_.Served(below); }
    std::string Pc(const std::string& name) const { return pc_.Sub(name); }

    // A local source file of `size` bytes with a recognisable pattern and an old time stamp.
    std::string MakeSource(const std::string& name, size_t size, char seed = 'a') {
        std::string content(size, '\0');
        for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>(seed + (i * 7) % 61);
        const std::string path = Pc(name);
        EXPECT_TRUE(WriteFile(path, content));
        SetModifiedTime(path, kOldTime);
        return path;
    }

    std::vector<std::string> Names(const std::vector<ShareEntry>& entries) const {
        std::vector<std::string> names;
        for (const auto& entry : entries) names.push_back(entry.name);
        return names;
    }

    testing::TempDir pc_;
    Harness harness_;
};

TYPED_TEST_SUITE_P(ShareContract);

TYPED_TEST_P(ShareContract, CopyKeepsContentAndLastWriteTime) {
    auto& share = this->Share();
    // Three blocks and a bit, so the block loop runs more than once.
    const std::string source = this->MakeSource("big.bin", 3 * (1 << 20) + 4321);
    const IoStatus copied = share.CopyToShare(source, this->Device("big.bin"), nullptr);
    ASSERT_TRUE(copied) << copied.error;
    EXPECT_EQ(ReadFile(this->Served("big.bin")), ReadFile(source));
    EXPECT_EQ(ModifiedTime(this->Served("big.bin")), kOldTime);
    EXPECT_EQ(FolderNames(this->Served("")), std::vector<std::string>{"big.bin"});

    const auto listed = share.List(this->Device(""), "big.bin");
    ASSERT_TRUE(listed) << listed.error;
    ASSERT_EQ(listed.value.size(), 1u);
    EXPECT_EQ(listed.value[0].size, 3u * (1 << 20) + 4321);
    EXPECT_EQ(listed.value[0].lastWriteTime, kOldTime);
    EXPECT_FALSE(listed.value[0].isFolder);

    const std::string back = this->Pc("back.bin");
    const IoStatus fetched = share.CopyFromShare(this->Device("big.bin"), back, nullptr);
    ASSERT_TRUE(fetched) << fetched.error;
    EXPECT_EQ(ReadFile(back), ReadFile(source));
    EXPECT_EQ(ModifiedTime(back), kOldTime);
}

TYPED_TEST_P(ShareContract, CopiesEmptyFiles) {
    const std::string source = this->MakeSource("empty.txt", 0);
    ASSERT_TRUE(this->Share().CopyToShare(source, this->Device("empty.txt"), nullptr));
    EXPECT_TRUE(std::filesystem::is_regular_file(this->Served("empty.txt")));
    EXPECT_EQ(std::filesystem::file_size(this->Served("empty.txt")), 0u);
}

TYPED_TEST_P(ShareContract, CopyOverwritesAnExistingTarget) {
    auto& share = this->Share();
    ASSERT_TRUE(
        share.CopyToShare(this->MakeSource("a.txt", 9000, 'a'), this->Device("a.txt"), nullptr));
    const std::string newer = this->MakeSource("a2.txt", 100, 'k');
    SetModifiedTime(newer, kOldTime + 3600);
    const IoStatus copied = share.CopyToShare(newer, this->Device("a.txt"), nullptr);
    ASSERT_TRUE(copied) << copied.error;
    EXPECT_EQ(ReadFile(this->Served("a.txt")), ReadFile(newer));
    EXPECT_EQ(ModifiedTime(this->Served("a.txt")), kOldTime + 3600);
    // Neither the temporary copy nor the old copy stays behind.
    EXPECT_EQ(FolderNames(this->Served("")), std::vector<std::string>{"a.txt"});
}

TYPED_TEST_P(ShareContract, ReadOnlyTargetIsRefusedUntilCleared) {
    auto& share = this->Share();
    const std::string target = this->Device("ro.txt");
    const std::string source = this->MakeSource("ro.txt", 50);
    ASSERT_TRUE(share.CopyToShare(source, target, nullptr));
    EXPECT_FALSE(share.IsReadOnly(target).value);
    ASSERT_TRUE(share.SetReadOnly(target, true));
    EXPECT_TRUE(share.IsReadOnly(target).value);
    // The attribute is what the device itself sees.
    struct stat info {};
    ASSERT_EQ(::stat(this->Served("ro.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & S_IWUSR, 0u);

    const std::string other = this->MakeSource("other.txt", 70, 'q');
    EXPECT_EQ(share.CopyToShare(other, target, nullptr).error, EACCES);
    EXPECT_EQ(ReadFile(this->Served("ro.txt")), ReadFile(source));
    EXPECT_EQ(FolderNames(this->Served("")), std::vector<std::string>{"ro.txt"});

    ASSERT_TRUE(share.ClearReadOnly(target));
    EXPECT_FALSE(share.IsReadOnly(target).value);
    ASSERT_TRUE(share.CopyToShare(other, target, nullptr));
    EXPECT_EQ(ReadFile(this->Served("ro.txt")), ReadFile(other));

    // A file the device made read-only on its side is seen as read-only too.
    ASSERT_EQ(::chmod(this->Served("ro.txt").c_str(), 0444), 0);
    EXPECT_TRUE(share.IsReadOnly(target).value);
    EXPECT_TRUE(share.ClearReadOnly(target));
    EXPECT_FALSE(share.IsReadOnly(target).value);

    // Clearing an entry that is not read-only, or that does not exist.
    EXPECT_TRUE(share.ClearReadOnly(target));
    EXPECT_EQ(share.ClearReadOnly(this->Device("none.txt")).error, ENOENT);
    EXPECT_EQ(share.IsReadOnly(this->Device("none.txt")).error, ENOENT);
}

TYPED_TEST_P(ShareContract, CancelMidCopyLeavesTheOldTargetWhole) {
    auto& share = this->Share();
    ASSERT_TRUE(share.CopyToShare(this->MakeSource("old.bin", 1000, 'o'), this->Device("big.bin"),
                                  nullptr));
    const std::string before = ReadFile(this->Served("big.bin"));
    const std::string source = this->MakeSource("big.bin", 4 * (1 << 20));
    std::atomic<int> cancel{0};
    std::uint64_t lastProgress = 0;
    share.SetBlockObserver([&](std::uint64_t copied) {
        lastProgress = copied;
        if (copied >= 2u << 20) cancel = 1;
    });
    EXPECT_EQ(share.CopyToShare(source, this->Device("big.bin"), &cancel).error, ECANCELED);
    EXPECT_EQ(lastProgress, 2u << 20);  // stopped before the next block
    EXPECT_EQ(ReadFile(this->Served("big.bin")), before);
    EXPECT_EQ(FolderNames(this->Served("")), std::vector<std::string>{"big.bin"});

    // A cancelled copy of a new file leaves nothing at all; so does one cancelled up front.
    cancel = 0;
    EXPECT_EQ(share.CopyToShare(source, this->Device("new.bin"), &cancel).error, ECANCELED);
    share.SetBlockObserver(nullptr);
    EXPECT_EQ(share.CopyToShare(source, this->Device("new.bin"), &cancel).error, ECANCELED);
    EXPECT_EQ(FolderNames(this->Served("")), std::vector<std::string>{"big.bin"});

    // From the share: the local file stays as it was.
    const std::string local = this->Pc("home.bin");
    ASSERT_TRUE(WriteFile(local, "local"));
    ASSERT_TRUE(share.CopyToShare(source, this->Device("whole.bin"), nullptr));
    cancel = 0;
    share.SetBlockObserver([&](std::uint64_t) { cancel = 1; });
    EXPECT_EQ(share.CopyFromShare(this->Device("whole.bin"), local, &cancel).error, ECANCELED);
    EXPECT_EQ(ReadFile(local), "local");
    EXPECT_EQ(FolderNames(this->pc_.Path()),
              (std::vector<std::string>{"big.bin", "home.bin", "old.bin"}));
}

// A copy is written under the temporary name its target's name gives, so that whoever recorded
// the target can prove an interrupted copy its own; a leftover under that name does not stop it.
TYPED_TEST_P(ShareContract, CopyInProgressCarriesTheTemporaryNameOfItsTarget) {
    auto& share = this->Share();
    const std::string source = this->MakeSource("big.bin", 2 * (1 << 20) + 1);
    const std::string temporary = TemporaryCopyNameFor("PC01_big_20170401000000.bin");
    std::vector<std::string> seen;
    share.SetBlockObserver([&](std::uint64_t) {
        if (seen.empty()) seen = FolderNames(this->Served(""));
    });
    ASSERT_TRUE(share.CopyToShare(source, this->Device("PC01_big_20170401000000.bin"), nullptr));
    EXPECT_EQ(seen, std::vector<std::string>{temporary});

    ASSERT_TRUE(WriteFile(this->Served(temporary), "left by a broken run"));
    seen.clear();
    ASSERT_TRUE(share.CopyToShare(source, this->Device("PC01_big_20170401000000.bin"), nullptr));
    share.SetBlockObserver(nullptr);
    EXPECT_EQ(seen.size(), 3u);  // the leftover, the target and a copy under another name
    EXPECT_EQ(ReadFile(this->Served(temporary)), "left by a broken run");
    EXPECT_EQ(ReadFile(this->Served("PC01_big_20170401000000.bin")), ReadFile(source));
}

// Two senders of one computer name (two users of one PC) can send copies under one target name.
// Each derives the temporary name from its own sender as well: neither falls back to a random
// name that no later run could prove its own, and neither's clean-up matches the other's copy.
TYPED_TEST_P(ShareContract, SendersOfOneTargetNameWriteUnderTemporaryNamesOfTheirOwn) {
    auto& share = this->Share();
    const std::string target = "PC01_big_20170401000000.bin";
    const std::string first = TemporaryCopyNameFor(target, "/home/a/.local/share/t/detectfile/");
    const std::string second = TemporaryCopyNameFor(target, "/home/b/.local/share/t/detectfile/");
    ASSERT_NE(FoldShareName(first), FoldShareName(second));
    EXPECT_TRUE(IsTemporaryCopyName(first));
    EXPECT_TRUE(IsTemporaryCopyName(second));
    EXPECT_EQ(TemporaryCopyNameFor(target, ""), TemporaryCopyNameFor(target));

    // The first user's copy is in flight when the second user's starts.
    ASSERT_TRUE(WriteFile(this->Served(first), "in flight"));
    share.SetCopySender("/home/b/.local/share/t/detectfile/");
    const std::string source = this->MakeSource("big.bin", 2 * (1 << 20) + 1);
    std::vector<std::string> seen;
    share.SetBlockObserver([&](std::uint64_t) {
        if (seen.empty()) seen = FolderNames(this->Served(""));
    });
    ASSERT_TRUE(share.CopyToShare(source, this->Device(target), nullptr));
    share.SetBlockObserver(nullptr);
    std::vector<std::string> expected{first, second};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(ReadFile(this->Served(first)), "in flight");
    EXPECT_EQ(ReadFile(this->Served(target)), ReadFile(source));
}

TYPED_TEST_P(ShareContract, FolderRemovedOnTheDeviceMidCopyFailsCleanly) {
    auto& share = this->Share();
    ASSERT_TRUE(share.CreateFolder(this->Device("sub")));
    const std::string source = this->MakeSource("big.bin", 3 * (1 << 20));
    share.SetBlockObserver(
        [&](std::uint64_t) { std::filesystem::remove_all(this->Served("sub")); });
    EXPECT_NE(share.CopyToShare(source, this->Device("sub/big.bin"), nullptr).error, 0);
    EXPECT_FALSE(std::filesystem::exists(this->Served("sub")));
    // The share stays usable afterwards.
    share.SetBlockObserver(nullptr);
    const IoStatus copied = share.CopyToShare(source, this->Device("big.bin"), nullptr);
    EXPECT_TRUE(copied) << copied.error;
}

TYPED_TEST_P(ShareContract, CopyFailuresNameTheirCause) {
    auto& share = this->Share();
    const std::string source = this->MakeSource("s.txt", 10);
    const std::string fifo = this->Pc("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_TRUE(share.CreateFolder(this->Device("folder")));
    struct Case {
        const char* what;
        std::string from;
        std::string to;
        int error;
    };
    const Case cases[] = {
        {"missing source", this->Pc("none.txt"), this->Device("x.txt"), ENOENT},
        {"source is a folder", this->pc_.Path(), this->Device("x.txt"), EISDIR},
        {"source is a pipe (refused without blocking)", fifo, this->Device("pipe"), EINVAL},
        {"target folder missing", source, this->Device("no/x.txt"), ENOENT},
        {"target is a folder", source, this->Device("folder"), EISDIR},
        {"malformed target", source, "\\\\\\\\zereda", EINVAL},
        {"target outside the share", source, "\\\\h\\zereda\\..\\..\\outside", EINVAL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(share.CopyToShare(c.from, c.to, nullptr).error, c.error);
    }
    EXPECT_EQ(FolderNames(this->Served("")), std::vector<std::string>{"folder"});
}

TYPED_TEST_P(ShareContract, CreatesAndRemovesFolders) {
    auto& share = this->Share();
    const std::string folder = this->Device("PC01");
    EXPECT_TRUE(share.CreateFolder(folder));
    EXPECT_TRUE(std::filesystem::is_directory(this->Served("PC01")));
    const auto isFolder = share.IsFolder(folder);
    EXPECT_TRUE(isFolder && isFolder.value);
    EXPECT_EQ(share.CreateFolder(folder).error, EEXIST);
    EXPECT_EQ(share.CreateFolder(this->Device("none/PC01")).error, ENOENT);  // one level only

    ASSERT_TRUE(
        share.CopyToShare(this->MakeSource("f.txt", 5), this->Device("PC01/f.txt"), nullptr));
    const auto isFile = share.IsFolder(this->Device("PC01/f.txt"));
    EXPECT_TRUE(isFile && !isFile.value);
    EXPECT_EQ(share.RemoveFolder(folder).error, ENOTEMPTY);
    EXPECT_EQ(share.DeleteFile(folder).error, EISDIR);
    EXPECT_TRUE(share.Exists(folder));

    EXPECT_TRUE(share.DeleteFile(this->Device("PC01/f.txt")));
    EXPECT_EQ(share.Exists(this->Device("PC01/f.txt")).error, ENOENT);
    EXPECT_EQ(share.IsFolder(this->Device("PC01/f.txt")).error, ENOENT);
    EXPECT_EQ(share.DeleteFile(this->Device("PC01/f.txt")).error, ENOENT);
    EXPECT_TRUE(share.RemoveFolder(folder));
    EXPECT_FALSE(std::filesystem::exists(this->Served("PC01")));
    EXPECT_EQ(share.Exists(folder).error, ENOENT);
    EXPECT_EQ(share.RemoveFolder(folder).error, ENOENT);
}

TYPED_TEST_P(ShareContract, ListsWithWildcard) {
    auto& share = this->Share();
    ASSERT_TRUE(share.CreateFolder(this->Device("PC01_folder.xml")));
    const std::string source = this->MakeSource("x.xml", 4);
    for (const char* name : {"PC01_20240101000000.xml", "pc01_20240102000000.XML",
                             "PC02_20240101000000.xml", "setting.xml", "notes.txt"})
        ASSERT_TRUE(share.CopyToShare(source, this->Device(name), nullptr)) << name;

    struct Case {
        const char* wildcard;
        std::vector<std::string> names;  // in byte order
    };
    const Case cases[] = {
        {"PC01_*.xml", {"PC01_20240101000000.xml", "PC01_folder.xml", "pc01_20240102000000.XML"}},
        {"*.TXT", {"notes.txt"}},
        {"setting.???", {"setting.xml"}},
        {"PC0?_2024010100000?.xml", {"PC01_20240101000000.xml", "PC02_20240101000000.xml"}},
        {"*",
         {"PC01_20240101000000.xml", "PC01_folder.xml", "PC02_20240101000000.xml", "notes.txt",
          "pc01_20240102000000.XML", "setting.xml"}},
        {"*.doc", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wildcard);
        // A trailing separator names the same folder.
        const auto listed = share.List(this->Device("") + "\\", c.wildcard);
        ASSERT_TRUE(listed) << listed.error;
        EXPECT_EQ(this->Names(listed.value), c.names);
    }

    auto listed = share.List(this->Device(""), "setting.xml");
    ASSERT_EQ(listed.value.size(), 1u);
    EXPECT_FALSE(listed.value[0].isFolder);
    EXPECT_EQ(listed.value[0].size, 4u);
    EXPECT_EQ(listed.value[0].lastWriteTime, kOldTime);
    listed = share.List(this->Device(""), "*folder*");
    ASSERT_EQ(listed.value.size(), 1u);
    EXPECT_TRUE(listed.value[0].isFolder);

    listed = share.List(this->Device("none"), "*");
    EXPECT_EQ(listed.error, ENOENT);
    EXPECT_TRUE(listed.value.empty());
}

TYPED_TEST_P(ShareContract, HandlesJapaneseAndUnusualNames) {
    auto& share = this->Share();
    const std::string source = this->MakeSource("報告書.txt", 321);
    ASSERT_TRUE(share.CreateFolder(this->Device("日本語 フォルダ")));
    for (const char* name : {"報告書.txt", "100% #1+2 .txt", "ｶﾀｶﾅ①.txt"}) {
        SCOPED_TRACE(name);
        const std::string target = this->Device(std::string("日本語 フォルダ/") + name);
        const IoStatus copied = share.CopyToShare(source, target, nullptr);
        ASSERT_TRUE(copied) << copied.error;
        EXPECT_EQ(ReadFile(this->Served(std::string("日本語 フォルダ/") + name)), ReadFile(source));
        EXPECT_TRUE(share.Exists(target));
    }
    const auto listed = share.List(this->Device("日本語 フォルダ"), "報告*");
    EXPECT_EQ(this->Names(listed.value), std::vector<std::string>{"報告書.txt"});
    EXPECT_TRUE(share.DeleteFile(this->Device("日本語 フォルダ/報告書.txt")));
}

// A change of letter case is a rename like any other; a name another entry holds is refused
// (the SMB library's own rename would delete that entry).
TYPED_TEST_P(ShareContract, RenameChangesCaseButNeverReplacesAnotherEntry) {
    auto& share = this->Share();
    ASSERT_TRUE(
        share.CopyToShare(this->MakeSource("a.txt", 10, 'a'), this->Device("Note.txt"), nullptr));
    ASSERT_TRUE(
        share.CopyToShare(this->MakeSource("b.txt", 20, 'b'), this->Device("other.txt"), nullptr));
    ASSERT_TRUE(share.CreateFolder(this->Device("Photos")));

    IoStatus renamed = share.Rename(this->Device("Note.txt"), this->Device("note.txt"));
    EXPECT_TRUE(renamed) << renamed.error;
    renamed = share.Rename(this->Device("Photos"), this->Device("photos"));
    EXPECT_TRUE(renamed) << renamed.error;
    EXPECT_EQ(share.Rename(this->Device("other.txt"), this->Device("note.txt")).error, EEXIST);
    if (TypeParam::kFoldsCase) {
        EXPECT_EQ(share.Rename(this->Device("other.txt"), this->Device("NOTE.TXT")).error, EEXIST);
    }

    EXPECT_EQ(FolderNames(this->Served("")),
              (std::vector<std::string>{"note.txt", "other.txt", "photos"}));
    EXPECT_EQ(ReadFile(this->Served("other.txt")).size(), 20u);
    EXPECT_EQ(ReadFile(this->Served("note.txt")).size(), 10u);
}

REGISTER_TYPED_TEST_SUITE_P(ShareContract, CopyKeepsContentAndLastWriteTime, CopiesEmptyFiles,
                            CopyOverwritesAnExistingTarget, ReadOnlyTargetIsRefusedUntilCleared,
                            CancelMidCopyLeavesTheOldTargetWhole,
                            CopyInProgressCarriesTheTemporaryNameOfItsTarget,
                            SendersOfOneTargetNameWriteUnderTemporaryNamesOfTheirOwn,
                            FolderRemovedOnTheDeviceMidCopyFailsCleanly, CopyFailuresNameTheirCause,
                            CreatesAndRemovesFolders, ListsWithWildcard,
                            HandlesJapaneseAndUnusualNames,
                            RenameChangesCaseButNeverReplacesAnotherEntry);

}  // namespace tessarine::share_contract
