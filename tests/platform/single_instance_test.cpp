#include "platform/posix/single_instance.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>

#include "fakes/test_support.h"

namespace tessarine {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

TEST(SingleInstanceLockTest, SecondHolderIsRefusedUntilTheFirstLetsGo) {
    TempDir temp;
    const std::string path = SingleInstanceLock::LockFilePath(temp.Path(), "TessarineTool");
    EXPECT_EQ(path, temp.Path() + "/TessarineTool.lock");

    SingleInstanceLock first;
    ASSERT_EQ(first.Acquire(path), LockResult::kAcquired);
    EXPECT_EQ(first.Acquire(path), LockResult::kAcquired);  // holding it already
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // flock belongs to the open file, so a second open in the same process conflicts, as a
    // second process would.
    SingleInstanceLock second;
    EXPECT_EQ(second.Acquire(path), LockResult::kBusy);
    EXPECT_FALSE(second.IsHeld());

    first.Release();
    EXPECT_EQ(second.Acquire(path), LockResult::kAcquired);
}

TEST(SingleInstanceLockTest, LockEndsWithTheHoldingProcess) {
    TempDir temp;
    const std::string path = temp.Sub("app.lock");
    int ready[2];
    int finish[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(finish), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(finish[1]);  // so that the parent closing its end reads as end of file here
        SingleInstanceLock lock;
        const char state = lock.Acquire(path) == LockResult::kAcquired ? 'y' : 'n';
        if (write(ready[1], &state, 1) != 1) _exit(2);
        char ignored;
        if (read(finish[0], &ignored, 1) < 0) _exit(3);
        _exit(0);  // no Release: the kernel must drop the lock, as after a crash
    }
    char state = 0;
    ASSERT_EQ(read(ready[0], &state, 1), 1);
    ASSERT_EQ(state, 'y');
    SingleInstanceLock mine;
    EXPECT_EQ(mine.Acquire(path), LockResult::kBusy);
    close(finish[1]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(mine.Acquire(path), LockResult::kAcquired);
    for (int fd : {ready[0], ready[1], finish[0]}) close(fd);
}

TEST(SingleInstanceLockTest, UnopenableLockFileFails) {
    TempDir temp;
    SingleInstanceLock lock;
    EXPECT_EQ(lock.Acquire(temp.Sub("missing/app.lock")), LockResult::kFailed);
    ASSERT_EQ(mkdir(temp.Sub("dir.lock").c_str(), 0700), 0);
    EXPECT_EQ(lock.Acquire(temp.Sub("dir.lock")), LockResult::kFailed);
    EXPECT_FALSE(lock.IsHeld());
}

TEST(RuntimeFolderPathTest, SessionFolderElseFallback) {
    struct Case {
        std::optional<std::string> runtime;
        std::string expected;
    };
    const Case cases[] = {
        {"/run/user/1000", "/run/user/1000/"},
        {"/run/user/1000/", "/run/user/1000/"},
        {std::nullopt, "/data/"},
        {"", "/data/"},
        {"relative/dir", "/data/"},  // not usable as a runtime folder
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.runtime.value_or("<unset>"));
        ScopedEnv env("XDG_RUNTIME_DIR", c.runtime);
        EXPECT_EQ(RuntimeFolderPath("/data/"), c.expected);
    }
}

}  // namespace
}  // namespace tessarine
