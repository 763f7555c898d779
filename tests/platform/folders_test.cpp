#include "platform/posix/folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "fakes/fake_clock.h"
#include "fakes/test_support.h"

namespace tessarine {
namespace {

using namespace std::chrono_literals;
using testing::FakeClock;
using testing::TempDir;

TEST(EnsureFolderTest, ResultsByWhatHoldsTheName) {
    TempDir temp;
    ASSERT_EQ(mkdir(temp.Sub("there").c_str(), 0700), 0);
    ASSERT_TRUE(testing::WriteFile(temp.Sub("file"), "x"));
    struct Case {
        const char* name;
        FolderResult expected;
        std::size_t sleeps;  // 500 ms pauses between the three attempts
    };
    const Case cases[] = {
        {"new", FolderResult::kCreated, 0},
        {"there", FolderResult::kExisted, 0},
        {"there/", FolderResult::kExisted, 0},
        {"file", FolderResult::kFailed, 0},           // a file in the way: no retries
        {"missing/child", FolderResult::kFailed, 2},  // parents are never created
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock clock;
        EXPECT_EQ(EnsureFolder(temp.Sub(c.name), clock), c.expected);
        ASSERT_EQ(clock.Sleeps().size(), c.sleeps);
        for (auto sleep : clock.Sleeps()) EXPECT_EQ(sleep, 500ms);
    }
    struct stat info {};
    ASSERT_EQ(stat(temp.Sub("new").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_FALSE(std::filesystem::exists(temp.Sub("missing")));
}

TEST(EnsureFolderTest, AttemptsAndPauseAreTheCallers) {
    TempDir temp;
    FakeClock clock;
    EXPECT_EQ(EnsureFolder(temp.Sub("no/such"), clock, 5, 20ms), FolderResult::kFailed);
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::chrono::milliseconds>(4, 20ms)));
}

TEST(CheckPrivateFolderTest, OnlyOurOwnFolderClosedToWritesByOthers) {
    TempDir dir;
    const struct {
        const char* name;
        mode_t mode;
        bool otherOwner;
        const char* problem;
    } cases[] = {
        {"owner only", 0700, false, ""},
        {"readable by all", 0755, false, ""},
        {"group-writable", 0775, false, "It is writable by group or others (mode 0775)."},
        {"writable by others", 0757, false, "It is writable by group or others (mode 0757)."},
        {"sticky and open", 01777, false, "It is writable by group or others (mode 1777)."},
        {"another user's", 0700, true, "It belongs to user 65534, not to the running user 0."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.otherOwner && geteuid() != 0) {
            std::printf("skipped \"%s\": needs root to give the folder to another user\n", c.name);
            continue;
        }
        const std::string path = dir.Sub(c.name);
        ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        if (c.otherOwner) {
            ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
        }
        EXPECT_EQ(CheckPrivateFolder(path), c.problem);
    }
    ASSERT_TRUE(testing::WriteFile(dir.Sub("file"), "x"));
    EXPECT_EQ(CheckPrivateFolder(dir.Sub("file")), "It is not a folder.");
    EXPECT_EQ(CheckPrivateFolder(dir.Sub("missing")), "It cannot be inspected.");
}

TEST(EnsureFolderTest, EmptyPathFails) {
    FakeClock clock;
    EXPECT_EQ(EnsureFolder("", clock), FolderResult::kFailed);
}

}  // namespace
}  // namespace tessarine
