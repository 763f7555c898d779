// Restore through copier processes against a real smbd (scripts/smbd-fixture): the copies from
// the device run several at a time in the program's copiers (TESSARINE_BINARY) and keep every
// guarantee of one copy in-process: the tree and times come back whole; a copier killed in the
// middle of a file fails that file alone, with no partial file under its name and no temporary
// file left; a cancel ends every copy within a block before the run returns.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "backup/restore_engine.h"
#include "fakes/copier_processes.h"
#include "fakes/smb_fixture.h"
#include "fakes/test_support.h"
#include "platform/posix/pooled_smb_share.h"
#include "platform/share_name.h"

namespace tessarine {
namespace {

namespace fs = std::filesystem;
using testing::CopierProcesses;
using testing::ModifiedTime;
using testing::Pattern;
using testing::ReadFile;
using testing::SetModifiedTime;
using testing::TempDir;
using testing::Watcher;
using testing::WriteFile;

constexpr std::size_t kMiB = 1 << 20;
constexpr std::size_t kLarge = 64 * kMiB;

class RestoreCopierTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server_.Load()) GTEST_SKIP() << testing::kSmbFixtureMissing;
        const std::string program = testing::CopierProgram();
        if (program.empty()) GTEST_SKIP() << testing::kCopierProgramMissing;
        served_ = server_.root + "/zereda/restore_" + std::to_string(::getpid());
        options_ = CopierPoolOptions{program, 3, server_.port, 5000};
        // The device's copy: small files in two folders and one large file.
        fs::create_directories(served_ + "/a/b");
        for (int i = 0; i < 40; ++i) {
            const std::string path = served_ + (i % 2 ? "/a/f" : "/a/b/f") + std::to_string(i);
            ASSERT_TRUE(WriteFile(path, Pattern(1000 + i * 731, i)));
            SetModifiedTime(path, 1400000000 + i);
        }
        ASSERT_TRUE(WriteFile(served_ + "/a/large.bin", Pattern(kLarge, 7)));
        SetModifiedTime(served_ + "/a/large.bin", 1450000000);
        for (const auto& entry : fs::recursive_directory_iterator(served_))
            fs::permissions(entry.path(), fs::perms::all, fs::perm_options::add);
        fs::permissions(served_, fs::perms::all, fs::perm_options::add);
    }
    void TearDown() override {
        share_.reset();
        if (!served_.empty()) fs::remove_all(served_);
    }

    void Connect() {
        share_ = std::make_unique<PooledSmbShare>(options_);
        ASSERT_EQ(kShareConnected, share_->Connect(server_.host, server_.user, server_.password));
    }
    std::string Target() const { return temp_.Sub("out"); }
    std::string Local(const std::string& relative) const {
        return Target() + "/restore_" + std::to_string(::getpid()) + relative;
    }
    RestoreSummary Run(const std::atomic<int>* cancel = nullptr) {
        BackupFolderPairs pairs{};
        pairs[0] = {"/origin/restore_" + std::to_string(::getpid()),
                    "\\\\" + server_.host + "\\zereda\\restore_" + std::to_string(::getpid())};
        CRestoreEngine engine(*share_, nullptr, pairs);
        RestoreRequest request;
        request.pairs = {0};
        request.targetFolder = Target();
        return engine.Run(request, cancel);
    }
    // Temporary copies below the target.
    int TemporaryFiles() const {
        int count = 0;
        std::error_code error;
        for (const auto& entry : fs::recursive_directory_iterator(Target(), error))
            count += IsTemporaryCopyName(entry.path().filename().string());
        return count;
    }
    // The copier writing a temporary copy below the target, with how far it got; 0 when none.
    pid_t CopierWritingTemporary(long long& written) const {
        for (pid_t pid : CopierProcesses()) {
            std::error_code error;
            for (const auto& fd :
                 fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
                const fs::path file = fs::read_symlink(fd.path(), error);
                if (error || file.string().rfind(Target(), 0) != 0 ||
                    !IsTemporaryCopyName(file.filename().string()))
                    continue;
                struct stat status {};
                written = ::stat(file.c_str(), &status) == 0 ? status.st_size : 0;
                return pid;
            }
        }
        return 0;
    }
    // Every file of the device's copy that is under its name locally is whole, with its time.
    void ExpectNoPartialFile() const {
        for (const auto& entry : fs::recursive_directory_iterator(served_)) {
            if (!entry.is_regular_file()) continue;
            const std::string relative = entry.path().string().substr(served_.size());
            if (!fs::exists(Local(relative))) continue;
            EXPECT_TRUE(ReadFile(Local(relative)) == ReadFile(entry.path().string())) << relative;
            EXPECT_EQ(ModifiedTime(entry.path().string()), ModifiedTime(Local(relative)))
                << relative;
        }
    }

    testing::SmbFixture server_;
    std::string served_;
    CopierPoolOptions options_;
    TempDir temp_;
    std::unique_ptr<PooledSmbShare> share_;
};

TEST_F(RestoreCopierTest, TreeComesBackWholeThroughTheCopiers) {
    Connect();
    const RestoreSummary summary = Run();
    EXPECT_TRUE(summary.Complete());
    EXPECT_EQ(41u, summary.restored);
    EXPECT_FALSE(share_->CopierProcessIds().empty()) << "not through the copiers";
    ExpectNoPartialFile();
    EXPECT_TRUE(fs::exists(Local("/a/large.bin")));
    EXPECT_EQ(0, TemporaryFiles());
}

// A copier killed while it writes the large file: that file fails (the others come back), no
// file stands under its name, its temporary copy is gone when the run returns, and the next
// restore brings it whole. On a loaded machine the kill may come after the file was placed:
// then it must be whole, and the fault is tried again on a fresh target.
TEST_F(RestoreCopierTest, CopierKilledInTheMiddleFailsThatFileAlone) {
    bool landed = false;
    for (int attempt = 1; attempt <= 4 && !landed; ++attempt) {
        fs::remove_all(Target());
        Connect();
        RestoreSummary summary;
        {
            Watcher watcher([&] {
                long long written = 0;
                const pid_t writer = CopierWritingTemporary(written);
                if (writer == 0 || written < static_cast<long long>(8 * kMiB) ||
                    written > static_cast<long long>(kLarge / 2))
                    return false;
                return ::kill(writer, SIGKILL) == 0;
            });
            summary = Run();
            landed = watcher.Fired() && !summary.Complete();
        }
        ExpectNoPartialFile();
        EXPECT_EQ(0, TemporaryFiles());
        if (!landed) continue;
        ASSERT_EQ(1u, summary.failed);
        EXPECT_FALSE(summary.deviceLost);
        EXPECT_EQ(40u, summary.restored);
        const auto failed = std::find_if(summary.files.begin(), summary.files.end(),
                                         [](const RestoreItem& item) { return item.error != 0; });
        ASSERT_NE(failed, summary.files.end());
        EXPECT_EQ(Local("/a/large.bin"), failed->localPath);
        EXPECT_EQ(EIO, failed->error);
        EXPECT_FALSE(fs::exists(Local("/a/large.bin")));
    }
    ASSERT_TRUE(landed) << "the kill never came while the large file was written";
    const RestoreSummary again = Run();
    EXPECT_TRUE(again.Complete());
    EXPECT_EQ(1u, again.restored);
    EXPECT_EQ(40u, again.equal);
    ExpectNoPartialFile();
    EXPECT_TRUE(fs::exists(Local("/a/large.bin")));
}

// A cancel while the copiers write: the run returns cancelled with every copy ended (no copier
// holds a temporary copy, none is left), and what stands under a final name is whole.
TEST_F(RestoreCopierTest, CancelEndsEveryCopyBeforeTheRunReturns) {
    Connect();
    std::atomic<int> cancel{0};
    RestoreSummary summary;
    {
        Watcher watcher([&] {
            long long written = 0;
            if (CopierWritingTemporary(written) == 0 || written < static_cast<long long>(8 * kMiB))
                return false;
            cancel = 1;
            return true;
        });
        summary = Run(&cancel);
        ASSERT_TRUE(watcher.Fired()) << "the large file was never under way";
    }
    long long written = 0;
    EXPECT_EQ(0, CopierWritingTemporary(written));
    EXPECT_TRUE(summary.cancelled);
    EXPECT_EQ(0, TemporaryFiles());
    ExpectNoPartialFile();
}

}  // namespace
}  // namespace tessarine
