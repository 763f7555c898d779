// Striped copies of PooledSmbShare against a real smbd (scripts/smbd-fixture) with copier
// processes (the program itself, TESSARINE_BINARY): a large file written in ranges by several
// copiers arrives whole with its time, and a killed copier or the stop flag fails the whole
// file, keeps the old copy and leaves no temporary file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fakes/copier_processes.h"
#include "fakes/smb_fixture.h"
#include "fakes/tcp_relay.h"
#include "fakes/test_support.h"
#include "platform/posix/pooled_smb_share.h"
#include "platform/share_name.h"
#include "platform/unc_path.h"

namespace tessarine {
namespace {

namespace fs = std::filesystem;
using testing::CopierProcesses;
using testing::FolderNames;
using testing::ModifiedTime;
using testing::Pattern;
using testing::ReadFile;
using testing::SetModifiedTime;
using testing::TempDir;
using testing::Watcher;
using testing::WriteFile;

constexpr std::uint64_t kMiB = 1 << 20;

// "f0", "f1"... (built by appending: g++ 12 misreads a sum of a literal and a temporary string
// as an overlapping copy in Release).
std::string Numbered(const char* prefix, int i) {
    std::string name(prefix);
    name += std::to_string(i);
    return name;
}

class StripedCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server_.Load()) GTEST_SKIP() << testing::kSmbFixtureMissing;
        const std::string program = testing::CopierProgram();
        if (program.empty()) GTEST_SKIP() << testing::kCopierProgramMissing;
        folder_ = "stripe_" + std::to_string(::getpid());
        options_ = CopierPoolOptions{program, 4, server_.port, 5000};
        // Small enough to stripe quickly under the sanitizers: four ranges of 10 MiB or more.
        options_.stripeThreshold = 16 * kMiB;
        options_.stripeRange = 4 * kMiB;
        Reconnect();
        ASSERT_TRUE(share_->CreateFolder(Device("")));
    }
    // A fresh share; its fresh copiers start as copies are queued (a few at once where listings
    // are read ahead).
    void Reconnect() {
        share_.reset();
        share_ = std::make_unique<PooledSmbShare>(options_);
        ASSERT_EQ(kShareConnected, share_->Connect(server_.host, server_.user, server_.password));
        if (options_.prefetchListings <= 0) {
            ASSERT_TRUE(share_->CopierProcessIds().empty());
        }
    }
    void TearDown() override {
        share_.reset();
        if (!folder_.empty()) fs::remove_all(Served(""));
    }

    std::string Device(const std::string& name) const {
        const std::string path = "\\\\" + server_.host + "\\zereda\\" + folder_;
        return name.empty() ? path : JoinDevicePath(path, name);
    }
    std::string Served(const std::string& name) const {
        return server_.root + "/zereda/" + folder_ + (name.empty() ? "" : "/" + name);
    }
    int TemporaryFiles() const {
        int count = 0;
        for (const auto& name : FolderNames(Served(""))) count += IsTemporaryCopyName(name);
        return count;
    }
    // Bytes written so far into the temporary copy (made at its full size, so only its allocated
    // blocks tell); -1 while there is none.
    long long TemporaryBytesWritten() const {
        for (const auto& name : FolderNames(Served(""))) {
            struct stat status {};
            if (IsTemporaryCopyName(name) && ::stat(Served(name).c_str(), &status) == 0)
                return static_cast<long long>(status.st_blocks) * 512;
        }
        return -1;
    }
    // The copiers that have `path` open now.
    static std::vector<pid_t> CopiersWith(const std::string& path) {
        std::vector<pid_t> found;
        for (pid_t pid : CopierProcesses()) {
            std::error_code error;
            for (const auto& fd :
                 fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error))
                if (fs::read_symlink(fd.path(), error) == fs::path(path)) {
                    found.push_back(pid);
                    break;
                }
        }
        return found;
    }
    static int CopiersReading(const std::string& path) {
        return static_cast<int>(CopiersWith(path).size());
    }
    // Puts an old copy under `name` on the server.
    void PlaceOldCopy(const std::string& name) {
        ASSERT_TRUE(WriteFile(temp_.Sub("old"), "the old copy"));
        ASSERT_TRUE(share_->CopyToShare(temp_.Sub("old"), Device(name), nullptr));
    }
    IoStatus Copy(const std::string& local, const std::string& name,
                  const std::atomic<int>* cancel = nullptr) {
        return share_->TakeCopyResult(
            share_->QueueCopyToShare(CopyRequest{local, Device(name), false}, cancel));
    }

    testing::SmbFixture server_;
    std::string folder_;
    CopierPoolOptions options_;
    TempDir temp_;
    std::unique_ptr<PooledSmbShare> share_;
};

TEST_F(StripedCopyTest, StripedFileArrivesByteIdenticalWithItsTime) {
    struct Case {
        const char* name;
        bool oldCopy;
        std::size_t size;
    };
    const Case cases[] = {
        {"new.bin", false, 40 * kMiB + 12345},  // the last range is shorter
        {"replaced.bin", true, 48 * kMiB},      // the old copy steps aside only at the end
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.oldCopy) PlaceOldCopy(c.name);
        const std::string local = temp_.Sub(c.name);
        const std::string content = Pattern(c.size, static_cast<int>(c.size % 97));
        ASSERT_TRUE(WriteFile(local, content));
        SetModifiedTime(local, 1500000000);
        // Ranges no copier has started are written by the taker: with every copier logged on
        // they start at once.
        ASSERT_EQ(options_.copiers, share_->StartAllCopiers());
        int mostCopiers = 0;
        {
            Watcher watcher([&] {
                mostCopiers = std::max(mostCopiers, CopiersReading(local));
                return false;
            });
            const IoStatus copied = Copy(local, c.name);
            ASSERT_TRUE(copied) << copied.error;
        }
        EXPECT_GE(mostCopiers, 2) << "not striped";
        EXPECT_TRUE(ReadFile(Served(c.name)) == content);
        EXPECT_EQ(1500000000, ModifiedTime(Served(c.name)));
        EXPECT_EQ(0, TemporaryFiles());
    }
}

// A range that fails fails the file: a copier killed while it writes its range, or the stop
// flag. The old copy stays as it was and no temporary file is left. On a loaded machine the fault
// can come after the last range was written: then the copy must have arrived whole, and the fault
// is tried again on a fresh copy.
TEST_F(StripedCopyTest, FailedRangeFailsTheWholeFileAndKeepsTheOldCopy) {
    enum class Fault { kKillCopier, kStopFlag };
    constexpr int kAttempts = 6;
    const std::string content = Pattern(96 * kMiB, 3);
    const std::string local = temp_.Sub("big.bin");
    ASSERT_TRUE(WriteFile(local, content));
    for (const Fault fault : {Fault::kKillCopier, Fault::kStopFlag}) {
        SCOPED_TRACE(fault == Fault::kKillCopier ? "copier killed" : "stop flag");
        bool landed = false;
        for (int attempt = 1; attempt <= kAttempts && !landed; ++attempt) {
            // A fault that came too late may have cost a copier: every attempt has all four.
            Reconnect();
            ASSERT_EQ(options_.copiers, share_->StartAllCopiers());
            PlaceOldCopy("big.bin");
            std::atomic<int> stop{0};
            IoStatus copied;
            bool fired = false;
            const auto start = std::chrono::steady_clock::now();
            {
                Watcher watcher([&] {
                    // Only while the ranges are still being written, well before their end.
                    const long long written = TemporaryBytesWritten();
                    if (written < 0 || written > static_cast<long long>(content.size() / 2))
                        return false;
                    if (CopiersReading(local) < 2) return false;
                    if (fault == Fault::kStopFlag) {
                        stop = 1;
                        return true;
                    }
                    const pid_t writer = testing::CopierReading(local);
                    return writer > 0 && ::kill(writer, SIGKILL) == 0;
                });
                copied = Copy(local, "big.bin", &stop);
                fired = watcher.Fired();
            }
            if (copied) {
                EXPECT_TRUE(ReadFile(Served("big.bin")) == content) << "a copy reported whole";
                continue;
            }
            ASSERT_TRUE(fired) << "failed without a fault: " << copied.error;
            landed = true;
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
            EXPECT_EQ(fault == Fault::kKillCopier ? EIO : ECANCELED, copied.error);
            EXPECT_TRUE(ReadFile(Served("big.bin")) == "the old copy");
        }
        EXPECT_TRUE(landed) << "the fault never came while the ranges were written";
        EXPECT_EQ(0, TemporaryFiles());
    }
    // A share whose copier was killed goes on copying with the others.
    ASSERT_TRUE(WriteFile(temp_.Sub("after.bin"), Pattern(24 * kMiB, 5)));
    EXPECT_TRUE(Copy(temp_.Sub("after.bin"), "after.bin"));
    EXPECT_TRUE(ReadFile(Served("after.bin")) == Pattern(24 * kMiB, 5));
    share_.reset();
    EXPECT_TRUE(CopierProcesses().empty());
}

// Queued copies take no room on the device before a copier works on them: eight striped files
// queued at once have no more temporary copies on the server than copiers to write them (and
// none begun after, see BegunStripedFilesNeverOutnumberTheCopiers).
TEST_F(StripedCopyTest, QueuedCopiesTakeNoRoomOnTheDevice) {
    constexpr int kFiles = 8;
    const int copiers = options_.copiers;
    std::vector<std::string> contents;
    for (int i = 0; i < kFiles; ++i) {
        contents.push_back(Pattern(17 * kMiB, i));
        ASSERT_TRUE(WriteFile(temp_.Sub(Numbered("f", i)), contents.back()));
    }
    std::vector<CopyTicket> tickets;
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = Numbered("f", i);
        tickets.push_back(
            share_->QueueCopyToShare(CopyRequest{temp_.Sub(name), Device(name), true}, nullptr));
    }
    EXPECT_LE(TemporaryFiles(), copiers) << "made when queued";
    for (int i = 0; i < kFiles; ++i) {
        const IoStatus copied = share_->TakeCopyResult(tickets[i]);
        EXPECT_TRUE(copied) << i << ": " << copied.error;
    }
    for (int i = 0; i < kFiles; ++i)
        EXPECT_TRUE(ReadFile(Served(Numbered("f", i))) == contents[i]) << i;
    EXPECT_EQ(0, TemporaryFiles());
}

// Copiers never run ahead of the taker into new striped files: while the caller holds back
// its first result, the device holds no more temporary copies than copiers serve (each file's
// copy lives from its first range to its result being taken).
TEST_F(StripedCopyTest, BegunStripedFilesNeverOutnumberTheCopiers) {
    constexpr int kFiles = 6;
    options_.copiers = 2;
    Reconnect();
    std::vector<std::string> contents;
    for (int i = 0; i < kFiles; ++i) {
        contents.push_back(Pattern(17 * kMiB, i + 20));
        ASSERT_TRUE(WriteFile(temp_.Sub(Numbered("g", i)), contents.back()));
    }
    std::atomic<int> most{0};
    std::vector<CopyTicket> tickets;
    {
        Watcher watcher([&] {
            most = std::max(most.load(), TemporaryFiles());
            return false;
        });
        for (int i = 0; i < kFiles; ++i) {
            const std::string name = Numbered("g", i);
            tickets.push_back(share_->QueueCopyToShare(
                CopyRequest{temp_.Sub(name), Device(name), true}, nullptr));
        }
        // The first files are written to their end before anything is taken: copiers free to
        // run ahead would begin the next ones meanwhile.
        auto written = [&] {
            long long bytes = 0;
            for (const auto& name : FolderNames(Served(""))) {
                struct stat status {};
                if (IsTemporaryCopyName(name) && ::stat(Served(name).c_str(), &status) == 0)
                    bytes += static_cast<long long>(status.st_blocks) * 512;
            }
            return bytes;
        };
        for (int i = 0; i < 3000 && written() < 2 * static_cast<long long>(17 * kMiB) &&
                        most <= options_.copiers;
             ++i)
            ::usleep(10000);
        ::usleep(500000);
        for (int i = 0; i < kFiles; ++i) {
            const IoStatus copied = share_->TakeCopyResult(tickets[i]);
            EXPECT_TRUE(copied) << i << ": " << copied.error;
        }
    }
    EXPECT_LE(most.load(), options_.copiers);
    for (int i = 0; i < kFiles; ++i)
        EXPECT_TRUE(ReadFile(Served(Numbered("g", i))) == contents[i]) << i;
    EXPECT_EQ(0, TemporaryFiles());
}

// Listings asked for ahead come from copiers: what List answers is the folder as it stands,
// with the wildcard applied, after a change made through the share as well (a listing made
// before it is dropped), and with every copier gone (listed in-process then).
TEST_F(StripedCopyTest, ListingsAskedForAheadAnswerTheFolderAsItStands) {
    options_.prefetchListings = 1;
    Reconnect();
    ASSERT_TRUE(share_->CreateFolder(Device("d1")));
    ASSERT_TRUE(share_->CreateFolder(Device("d2")));
    for (const char* name : {"d1\\a.txt", "d1\\b.bin", "d2\\c.txt"}) {
        ASSERT_TRUE(WriteFile(temp_.Sub("x"), name));
        SetModifiedTime(temp_.Sub("x"), 1300000000);
        ASSERT_TRUE(share_->CopyToShare(temp_.Sub("x"), Device(name), nullptr));
    }
    auto names = [&](const std::string& folder, const std::string& wildcard) {
        std::string listed;
        auto result = share_->List(Device(folder), wildcard);
        EXPECT_TRUE(result) << folder << ": " << result.error;
        for (const ShareEntry& entry : result.value) {
            listed += entry.name + (entry.isFolder ? "/" : "") + " ";
            if (!entry.isFolder) {
                EXPECT_EQ(1300000000, entry.lastWriteTime) << entry.name;
            }
        }
        return listed;
    };
    share_->PrefetchListings({Device("d1"), Device("d2"), Device("")});
    EXPECT_FALSE(share_->CopierProcessIds().empty()) << "no copier lists ahead";
    EXPECT_LE(static_cast<int>(share_->CopierProcessIds().size()), options_.copiers);
    ::usleep(300000);  // the listings are made meanwhile
    EXPECT_EQ("a.txt ", names("d1", "a*"));
    EXPECT_EQ("d1/ d2/ ", names("", "*"));
    // A change through the share drops the listing made before it.
    ASSERT_TRUE(share_->DeleteFile(Device("d2\\c.txt")));
    EXPECT_EQ("", names("d2", "*"));
    share_->PrefetchListings({Device("d1")});
    for (pid_t pid : share_->CopierProcessIds()) ::kill(pid, SIGKILL);
    EXPECT_EQ("a.txt b.bin ", names("d1", "*"));
}

// A run that ends by a failure drops the copies it queued: one under way stops within a block
// instead of being written to its end, whether a copier writes it whole or in ranges. The
// copiers are held still while the drop is asked, so how far they got is known.
TEST_F(StripedCopyTest, DroppedCopyStopsWithinOneBlock) {
    constexpr std::uint64_t kBlock = 8 * kMiB;  // a copier's block over SMB
    const std::string content = Pattern(96 * kMiB, 4);
    const std::string local = temp_.Sub("big.bin");
    ASSERT_TRUE(WriteFile(local, content));
    for (const bool striped : {false, true}) {
        SCOPED_TRACE(striped ? "striped" : "whole");
        options_.stripeThreshold = striped ? 16 * kMiB : 0;
        Reconnect();
        PlaceOldCopy("big.bin");
        std::vector<pid_t> held;
        std::atomic<long long> writtenWhenHeld{-1};
        std::atomic<long long> mostWritten{0};
        share_->QueueCopyToShare(CopyRequest{local, Device("big.bin"), false}, nullptr);
        {
            Watcher watcher([&] {
                const long long written = TemporaryBytesWritten();
                if (written <= 0) return false;
                // Every copier, also one about to begin its range.
                for (pid_t pid : CopierProcesses())
                    if (::kill(pid, SIGSTOP) == 0) held.push_back(pid);
                writtenWhenHeld = std::max(TemporaryBytesWritten(), 0LL);
                return true;
            });
            for (int i = 0; i < 3000 && writtenWhenHeld < 0; ++i) ::usleep(10000);
        }
        ASSERT_FALSE(held.empty()) << "the copy never began";
        {
            Watcher sampler([&] {
                mostWritten = std::max(mostWritten.load(), TemporaryBytesWritten());
                return false;
            });
            // A striped copy's ranges are withdrawn and waited for: the copiers must go on
            // while the drop waits.
            std::thread dropping([&] { share_->DropQueuedCopies(); });
            ::usleep(300000);  // the stop reaches the copiers' requests while they are held
            for (pid_t pid : held) ::kill(pid, SIGCONT);
            dropping.join();
            for (int i = 0; i < 3000 && (CopiersReading(local) > 0 || TemporaryFiles() > 0); ++i)
                ::usleep(10000);
            sampler.Fired();
        }
        EXPECT_EQ(0, CopiersReading(local));
        EXPECT_EQ(0, TemporaryFiles());
        EXPECT_TRUE(ReadFile(Served("big.bin")) == "the old copy") << "the dropped copy landed";
        // Each held copier ends the block it was in and at most one more (the stop is seen
        // between blocks, and what the server had taken in counts once it is on disk).
        const long long bound =
            writtenWhenHeld.load() + static_cast<long long>(held.size() * 2 * kBlock);
        EXPECT_LE(mostWritten.load(), bound)
            << "held at " << writtenWhenHeld.load() << " bytes, " << held.size() << " copiers";
    }
}

// A program started with some of its standard descriptors closed gets pipe ends among 0, 1 and
// 2: its copiers still get their channel (and log on) in every case.
TEST_F(StripedCopyTest, CopiersStartWhateverStandardDescriptorsAreClosed) {
    share_.reset();
    const std::vector<std::vector<int>> cases = {{0}, {1}, {2}, {0, 1}, {0, 1, 2}};
    for (const auto& closed : cases) {
        std::string trace;
        for (int fd : closed) trace += std::to_string(fd) + " ";
        SCOPED_TRACE("closed: " + trace);
        const pid_t child = ::fork();
        if (child == 0) {
            for (int fd : closed) ::close(fd);
            CopierPoolOptions options = options_;
            options.copiers = 2;
            CopierPool pool(options, [](const CopierTask&, const std::atomic<int>*) {
                return IoStatus{ENOSYS};
            });
            pool.Start(server_.host, server_.user, server_.password, options.copiers);
            ::_exit(pool.AwaitLogons());
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), 2) << "copiers ready";
    }
}

// Copiers start as copies wait for them: one copy starts one copier, a few more start the
// rest of the pool, and every copy arrives.
TEST_F(StripedCopyTest, CopiersStartAsCopiesWaitForThem) {
    ASSERT_TRUE(WriteFile(temp_.Sub("one"), "one"));
    ASSERT_TRUE(Copy(temp_.Sub("one"), "one"));
    EXPECT_EQ(1u, share_->CopierProcessIds().size());
    std::vector<CopyTicket> tickets;
    for (int i = 0; i < 8; ++i) {
        const std::string name = Numbered("f", i);
        ASSERT_TRUE(WriteFile(temp_.Sub(name), Pattern(4096, i)));
        tickets.push_back(
            share_->QueueCopyToShare(CopyRequest{temp_.Sub(name), Device(name), false}, nullptr));
    }
    EXPECT_EQ(static_cast<std::size_t>(options_.copiers), share_->CopierProcessIds().size());
    for (int i = 0; i < 8; ++i) {
        const std::string name = Numbered("f", i);
        EXPECT_TRUE(share_->TakeCopyResult(tickets[static_cast<std::size_t>(i)])) << name;
        EXPECT_EQ(Pattern(4096, i), ReadFile(Served(name))) << name;
    }
}

// Copies queued while the copiers still log on wait for them; when no log-on succeeds they are
// made by the caller, not lost and not failed.
TEST_F(StripedCopyTest, CopiesQueuedWhileEveryLogOnFailsAreMadeHere) {
    share_.reset();
    std::atomic<int> madeHere{0};
    CopierPool pool(options_, [&](const CopierTask&, const std::atomic<int>*) {
        ++madeHere;
        return IoStatus{};
    });
    pool.Start(server_.host, server_.user, server_.password + "-wrong", 2);
    const CopyTicket ticket =
        pool.Queue(CopierTask{CopyRequest{temp_.Sub("x"), Device("x"), false}, {}, 0, 0}, nullptr);
    EXPECT_TRUE(pool.Take(ticket));
    EXPECT_EQ(1, madeHere.load());
    EXPECT_EQ(0, pool.AwaitLogons());
}

// While no copier has logged on yet, a small copy nobody started is made by its caller at once
// instead of after a copier's start and log-on; a large one waits for the copiers (here until
// their log-on to a server that never answers gives up, and then it is made here as well).
TEST_F(StripedCopyTest, SmallCopyIsMadeHereWhileNoCopierHasLoggedOn) {
    share_.reset();
    // Frozen at the first byte: connections are taken, nothing is ever answered.
    testing::TcpRelay silent(server_.port, 1, [] { return true; });
    ASSERT_NE(0, silent.Port());
    options_.port = silent.Port();
    options_.timeoutMs = 3000;
    ASSERT_TRUE(WriteFile(temp_.Sub("small"), Pattern(64 * 1024, 1)));
    ASSERT_TRUE(WriteFile(temp_.Sub("large"), Pattern(2 * kMiB, 2)));
    std::vector<std::string> madeHere;
    {
        CopierPool pool(options_, [&](const CopierTask& task, const std::atomic<int>*) {
            madeHere.push_back(task.request.localPath);
            return IoStatus{};
        });
        pool.Start("127.0.0.1", server_.user, server_.password, 2);
        const CopyTicket small = pool.Queue(
            CopierTask{CopyRequest{temp_.Sub("small"), Device("small"), false}, {}, 0, 0}, nullptr);
        const CopyTicket large = pool.Queue(
            CopierTask{CopyRequest{temp_.Sub("large"), Device("large"), false}, {}, 0, 0}, nullptr);
        EXPECT_TRUE(pool.Take(small));
        EXPECT_EQ(std::vector<std::string>{temp_.Sub("small")}, madeHere);
        EXPECT_EQ(2, pool.Serving()) << "the copiers were still logging on";
        EXPECT_TRUE(pool.Take(large));
        EXPECT_EQ(0, pool.AwaitLogons());
    }
    EXPECT_EQ((std::vector<std::string>{temp_.Sub("small"), temp_.Sub("large")}), madeHere);
}

// A range of a striped file that no copier has started when its result is taken is written by
// the taker, not waited for: here the only copier is busy with a large copy queued before it.
TEST_F(StripedCopyTest, RangeNoCopierStartedIsWrittenByTheTaker) {
    share_.reset();
    const std::string large = temp_.Sub("large");
    ASSERT_TRUE(WriteFile(large, Pattern(32 * kMiB, 5)));
    std::atomic<int> rangesHere{0};
    CopierPoolOptions options = options_;
    options.copiers = 1;
    CopierPool pool(options, [&](const CopierTask& task, const std::atomic<int>*) {
        rangesHere += task.IsRange();
        return IoStatus{};
    });
    pool.Start(server_.host, server_.user, server_.password, 1);
    ASSERT_EQ(1, pool.AwaitLogons());
    const CopyTicket busy =
        pool.Queue(CopierTask{CopyRequest{large, Device("large"), false}, {}, 0, 0}, nullptr);
    const CopyTicket range = pool.Queue(CopierTask{CopyRequest{large, Device("striped"), false},
                                                   Device("~striped.tmp"), 0, kMiB, 7},
                                        nullptr);
    EXPECT_TRUE(pool.Take(range));
    EXPECT_EQ(1, rangesHere.load());
    EXPECT_TRUE(pool.Take(busy));
    pool.Release(7);
    EXPECT_EQ(Pattern(32 * kMiB, 5), ReadFile(Served("large")));
}

}  // namespace
}  // namespace tessarine
