#include "platform/posix/posix_file_system.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fakes/test_support.h"

namespace tessarine {
namespace {

using testing::SetModifiedTime;
using testing::TempDir;
using testing::WriteFile;

constexpr std::time_t kOldTime = 1'500'000'000;

class PosixFileSystemTest : public ::testing::Test {
protected:
    const LocalEntry* Find(const LocalFolder& folder, const std::string& name) const {
        const auto found = std::find_if(folder.entries.begin(), folder.entries.end(),
                                        [&](const LocalEntry& e) { return e.name == name; });
        return found == folder.entries.end() ? nullptr : &*found;
    }
    std::vector<std::string> Names(const LocalFolder& folder) const {
        std::vector<std::string> names;
        for (const auto& entry : folder.entries) names.push_back(entry.name);
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir temp_;
    PosixFileSystem disk_;
};

// Files, also through a link, and folders are listed; a link to a folder, a dangling link and
// pipes, sockets and devices are passed over.
TEST_F(PosixFileSystemTest, ReadsAFolderWholeWithTheWalksLinkRules) {
    const std::string root = temp_.Sub("root");
    ASSERT_TRUE(WriteFile(root + "/file.txt", "12345"));
    SetModifiedTime(root + "/file.txt", kOldTime);
    std::filesystem::create_directories(root + "/folder");
    ASSERT_TRUE(WriteFile(temp_.Sub("outside.txt"), "1234567"));
    std::filesystem::create_symlink(temp_.Sub("outside.txt"), root + "/link-to-file");
    std::filesystem::create_directory_symlink(temp_.Sub("root/folder"), root + "/link-to-folder");
    std::filesystem::create_symlink(temp_.Sub("none"), root + "/dangling");
    ASSERT_EQ(::mkfifo((root + "/pipe").c_str(), 0600), 0);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = root + "/socket";
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);

    for (const bool kindsOnly : {false, true}) {
        SCOPED_TRACE(kindsOnly ? "kinds only" : "full");
        const LocalFolder folder = disk_.ReadFolder(root, {.kindsOnly = kindsOnly});
        EXPECT_EQ(folder.openError, 0);
        EXPECT_EQ(folder.readError, 0);
        EXPECT_EQ(Names(folder), (std::vector<std::string>{"file.txt", "folder", "link-to-file"}));
        const LocalEntry* file = Find(folder, "file.txt");
        ASSERT_NE(file, nullptr);
        EXPECT_FALSE(file->isFolder);
        EXPECT_EQ(file->statusError, 0);
        EXPECT_TRUE(Find(folder, "folder")->isFolder);
        const LocalEntry* link = Find(folder, "link-to-file");
        EXPECT_FALSE(link->isFolder);
        EXPECT_EQ(link->size, 7u);  // the target's
        if (!kindsOnly) {
            EXPECT_EQ(file->size, 5u);
            EXPECT_EQ(file->lastWriteTime, kOldTime);
        }
    }
}

TEST_F(PosixFileSystemTest, KindsOnlyReadsTheStatusOfTheNamesAskedFor) {
    ASSERT_TRUE(WriteFile(temp_.Sub("pick/wanted.docx"), "12345"));
    ASSERT_TRUE(WriteFile(temp_.Sub("pick/other.bin"), "123"));
    SetModifiedTime(temp_.Sub("pick/wanted.docx"), kOldTime);
    const LocalFolder folder = disk_.ReadFolder(
        temp_.Sub("pick"), {.kindsOnly = true, .statusFor = [](std::string_view name) {
                                return name.ends_with(".docx");
                            }});
    const LocalEntry* wanted = Find(folder, "wanted.docx");
    ASSERT_NE(wanted, nullptr);
    EXPECT_EQ(wanted->size, 5u);
    EXPECT_EQ(wanted->lastWriteTime, kOldTime);
    const LocalEntry* other = Find(folder, "other.bin");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->size, 0u);  // not read
}

TEST_F(PosixFileSystemTest, FollowsALinkToTheFolderItselfOnlyWhenAsked) {
    ASSERT_TRUE(WriteFile(temp_.Sub("real/a.txt"), "a"));
    std::filesystem::create_directory_symlink(temp_.Sub("real"), temp_.Sub("alias"));

    EXPECT_EQ(disk_.ReadFolder(temp_.Sub("alias"), {.followLink = true}).entries.size(), 1u);
    const LocalFolder refused = disk_.ReadFolder(temp_.Sub("alias"), {});
    EXPECT_NE(refused.openError, 0);
    EXPECT_TRUE(refused.entries.empty());
    EXPECT_EQ(disk_.ReadFolder(temp_.Sub("none"), {}).openError, ENOENT);
    EXPECT_EQ(disk_.ReadFolder(temp_.Sub("real/a.txt"), {}).openError, ENOTDIR);
}

TEST_F(PosixFileSystemTest, AnEntryWhoseStatusCannotBeReadIsListedWithItsError) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads any entry";
    // Without search permission the names can be listed but not looked at.
    ASSERT_TRUE(WriteFile(temp_.Sub("hidden/a.txt"), "a"));
    ASSERT_EQ(::chmod(temp_.Sub("hidden").c_str(), 0400), 0);
    const LocalFolder folder = disk_.ReadFolder(temp_.Sub("hidden"), {});
    ::chmod(temp_.Sub("hidden").c_str(), 0700);
    ASSERT_EQ(folder.entries.size(), 1u);
    EXPECT_EQ(folder.entries[0].name, "a.txt");
    EXPECT_EQ(folder.entries[0].statusError, EACCES);
}

TEST_F(PosixFileSystemTest, TellsFoldersAndTheirMount) {
    ASSERT_TRUE(WriteFile(temp_.Sub("sub/a.txt"), "a"));
    EXPECT_TRUE(disk_.IsFolder(temp_.Sub("sub")).value);
    const auto file = disk_.IsFolder(temp_.Sub("sub/a.txt"));
    EXPECT_TRUE(file && !file.value);
    EXPECT_EQ(disk_.IsFolder(temp_.Sub("none")).error, ENOENT);

    const std::string root = disk_.MountRoot(temp_.Path());
    ASSERT_FALSE(root.empty());
    EXPECT_EQ(temp_.Path().rfind(root == "/" ? "/" : root + "/", 0), 0u) << root;
    EXPECT_EQ(disk_.MountRoot(temp_.Sub("sub")), root);
    EXPECT_EQ(disk_.MountRoot(temp_.Sub("none")), "");
}

}  // namespace
}  // namespace tessarine
