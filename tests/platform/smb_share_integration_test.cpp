// SmbShare against a real smbd (scripts/smbd-fixture). The fixture's environment names the
// server, the credentials and the local folder smbd serves, so results can be checked on disk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fakes/smb_fixture.h"
#include "fakes/test_support.h"
#include "platform/posix/smb_share.h"
#include "platform/share_contract.h"
#include "platform/share_name.h"
#include "platform/unc_path.h"

namespace tessarine {
namespace {

using testing::FolderNames;
using testing::ModifiedTime;
using testing::ReadFile;
using testing::SetModifiedTime;
using testing::TempDir;
using testing::WriteFile;

using namespace share_contract;  // the contract suite and its constants

// The contract on an SmbShare, each test in a folder of its own below zereda.
class SmbShareHarness {
public:
    using Share = SmbShare;
    static constexpr bool kFoldsCase = true;  // smbd compares names as Windows does

    ~SmbShareHarness() {
        if (!folderName_.empty()) std::filesystem::remove_all(Served(""));
    }
    bool Start(std::string& why) {
        if (!fixture_.Load()) {
            why = "TESSARINE_SMB_* not set: start scripts/smbd-fixture and source its env";
            return false;
        }
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        folderName_ = std::string("c_") + test->name() + "_" + std::to_string(::getpid());
        std::filesystem::remove_all(Served(""));
        share_ = std::make_unique<SmbShare>(fixture_.port, 5000);
        share_->SetBlockSize(1 << 20);  // the tests act between 1 MiB blocks
        const int connected = share_->Connect(fixture_.host, fixture_.user, fixture_.password);
        const IoStatus made = share_->CreateFolder(Device(""));
        if (connected != kShareConnected || !made) {
            why = "cannot use the test share: connect " + std::to_string(connected) + ", folder " +
                  std::to_string(made.error);
            return false;
        }
        return true;
    }
    SmbShare& share() { return *share_; }
    std::string Device(const std::string& below) const {
        const std::string path = "\\\\" + fixture_.host + "\\zereda\\" + folderName_;
        return below.empty() ? path : JoinDevicePath(path, below);
    }
    std::string Served(const std::string& below) const {
        const std::string path = fixture_.root + "/zereda/" + folderName_;
        return below.empty() ? path : path + "/" + below;
    }

private:
    testing::SmbFixture fixture_;
    std::string folderName_;
    std::unique_ptr<SmbShare> share_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(SmbShare, ShareContract, SmbShareHarness);

class SmbShareTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fixture_.Load())
            GTEST_SKIP()
                << "TESSARINE_SMB_* not set: start scripts/smbd-fixture and source its env";
        // Each test works in a folder of its own below zereda.
        folderName_ =
            std::string("t_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(Served(""));
        share_ = std::make_unique<SmbShare>(fixture_.port, 5000);
        share_->SetBlockSize(1 << 20);  // the tests act between 1 MiB blocks
        ASSERT_EQ(share_->Connect(fixture_.host, fixture_.user, fixture_.password), kShareConnected)
            << "could not connect";
        const IoStatus made = share_->CreateFolder(Device(""));
        ASSERT_TRUE(made) << made.error;
    }

    void TearDown() override {
        if (!folderName_.empty()) std::filesystem::remove_all(Served(""));
    }

    // "\\host\zereda\<test folder>\<below>" (the folder itself for "").
    std::string Device(const std::string& below) const {
        std::string path = "\\\\" + fixture_.host + "\\zereda\\" + folderName_;
        return below.empty() ? path : JoinDevicePath(path, below);
    }
    // Where smbd keeps that path on this machine.
    std::string Served(const std::string& below) const {
        std::string path = fixture_.root + "/zereda/" + folderName_;
        return below.empty() ? path : path + "/" + below;
    }
    std::string MakeSource(const std::string& name, size_t size, char seed = 'a') {
        std::string content(size, '\0');
        for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>(seed + (i * 7) % 61);
        const std::string path = pc_.Sub(name);
        EXPECT_TRUE(WriteFile(path, content));
        SetModifiedTime(path, kOldTime);
        return path;
    }

    testing::SmbFixture fixture_;
    std::string folderName_;
    TempDir pc_;
    std::unique_ptr<SmbShare> share_;
};

TEST_F(SmbShareTest, ConnectRefusesWrongPasswordAndUnreachableServers) {
    SmbShare wrong(fixture_.port, 5000);
    EXPECT_EQ(wrong.Connect(fixture_.host, fixture_.user, fixture_.password + "x"), EACCES);
    EXPECT_FALSE(wrong.Exists(Device("")));

    SmbShare unknownUser(fixture_.port, 5000);
    EXPECT_EQ(unknownUser.Connect(fixture_.host, "nobody-here", "pw"), EACCES);

    const auto start = std::chrono::steady_clock::now();
    SmbShare closed(testing::ClosedLoopbackPort(), 5000);
    const int error = closed.Connect("127.0.0.1", fixture_.user, fixture_.password);
    EXPECT_EQ(error, ECONNREFUSED);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));

    SmbShare badHost(fixture_.port, 5000);
    EXPECT_EQ(badHost.Connect("", fixture_.user, fixture_.password), EINVAL);
    EXPECT_EQ(badHost.Connect("bad host", fixture_.user, fixture_.password), EINVAL);
}

// This process's established TCP connections to `port`.
int ConnectionsTo(int port) {
    std::set<std::string> sockets;  // the inodes of this process's sockets
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (!error && target.rfind("socket:[", 0) == 0)
            sockets.insert(target.substr(8, target.size() - 9));
    }
    int count = 0;
    for (const char* table : {"/proc/self/net/tcp", "/proc/self/net/tcp6"}) {
        std::istringstream lines(ReadFile(table));
        std::string line;
        std::getline(lines, line);  // the heading
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
                timeout >> inode;
            const std::string remotePort = remote.substr(remote.rfind(':') + 1);
            if (state == "01" && std::stoi(remotePort, nullptr, 16) == port &&
                sockets.count(inode) != 0)
                ++count;
        }
    }
    return count;
}

// The library keeps a connection per share: a log-on through the share the work goes to leaves
// that work no connection of its own to make. A share the server does not give still leaves
// the log-on judged through IPC$, and refused credentials are refused as before.
TEST_F(SmbShareTest, LogOnThroughTheWorkShareMakesNoSecondConnection) {
    struct Case {
        std::string logOnShare;
        int connections;
    };
    for (const Case& c : {Case{"zereda", 1}, Case{"", 2}, Case{"missing", 2}}) {
        SCOPED_TRACE(c.logOnShare);
        const int before = ConnectionsTo(fixture_.port);
        {
            SmbShare share(fixture_.port, 5000);
            share.SetLogOnShare(c.logOnShare);
            ASSERT_EQ(share.Connect(fixture_.host, fixture_.user, fixture_.password),
                      kShareConnected);
            const IoResult<bool> folder = share.IsFolder(Device(""));
            EXPECT_TRUE(folder.value) << folder.error;
            EXPECT_EQ(ConnectionsTo(fixture_.port) - before, c.connections);
        }
        EXPECT_EQ(ConnectionsTo(fixture_.port), before);
    }
    SmbShare wrong(fixture_.port, 5000);
    wrong.SetLogOnShare("zereda");
    EXPECT_EQ(wrong.Connect(fixture_.host, fixture_.user, fixture_.password + "x"), EACCES);
    EXPECT_FALSE(wrong.Exists(Device("")));
}

TEST_F(SmbShareTest, SecondConnectWithOtherCredentialsConflicts) {
    EXPECT_EQ(share_->Connect(fixture_.host, fixture_.user, fixture_.password), kShareConnected);
    EXPECT_EQ(share_->Connect(fixture_.host, fixture_.user, "other"), kShareCredentialConflict);
    // The existing connection stays usable.
    EXPECT_TRUE(share_->IsFolder(Device("")).value);
    // After a cancel the host can be connected again, and a wrong password is noticed.
    share_->Cancel(fixture_.host);
    EXPECT_EQ(share_->Connect(fixture_.host, fixture_.user, "other"), EACCES);
    EXPECT_EQ(share_->Connect(fixture_.host, fixture_.user, fixture_.password), kShareConnected);
    EXPECT_TRUE(share_->IsFolder(Device("")).value);
}

TEST_F(SmbShareTest, TargetMadeOnTheDeviceAfterItsFolderWasCreatedIsCheckedAtTheRename) {
    // A copy into a folder this share just created does not look its target up first; what
    // the device put there in between must still be treated as any existing target.
    ASSERT_TRUE(share_->CreateFolder(Device("new")));
    struct stat folder {};
    ASSERT_EQ(::stat(Served("new").c_str(), &folder), 0);
    // A file as the device's own user would leave it.
    auto deviceFile = [&](const std::string& path) {
        ASSERT_TRUE(WriteFile(path, "device"));
        ASSERT_EQ(::chown(path.c_str(), folder.st_uid, folder.st_gid), 0);
    };
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
        int error;  // 0: copied over it
    };
    const Case cases[] = {
        {"writable.txt", deviceFile, 0},
        // (A read-only file or an empty folder would go: the library's rename deletes what is
        // in its way when the server lets it.)
        {"folder",
         [&](const std::string& path) {
             ASSERT_EQ(::mkdir(path.c_str(), 0777), 0);
             deviceFile(path + "/inside.txt");
         },
         EISDIR},
    };
    const std::string source = MakeSource("s.bin", 5000, 's');
    std::vector<std::string> names;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string served = Served(std::string("new/") + c.name);
        c.make(served);
        names.push_back(c.name);
        const IoStatus copied =
            share_->CopyToShare(source, Device(std::string("new/") + c.name), nullptr);
        EXPECT_EQ(copied.error, c.error);
        if (c.error == 0) {
            EXPECT_EQ(ReadFile(served), ReadFile(source));
            EXPECT_EQ(ModifiedTime(served), kOldTime);
        } else {
            const bool isFolder = std::filesystem::is_directory(served);
            EXPECT_EQ(ReadFile(isFolder ? served + "/inside.txt" : served), "device");
        }
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(FolderNames(Served("new")), names);

    // A name freed by a delete is used again; a name used once is looked up from then on.
    EXPECT_TRUE(share_->DeleteFile(Device("new/writable.txt")));
    ASSERT_TRUE(share_->CopyToShare(source, Device("new/writable.txt"), nullptr));
    ASSERT_TRUE(share_->SetReadOnly(Device("new/writable.txt"), true));
    EXPECT_EQ(
        share_->CopyToShare(MakeSource("t.bin", 10), Device("new/WRITABLE.txt"), nullptr).error,
        EACCES);
    EXPECT_EQ(ReadFile(Served("new/writable.txt")), ReadFile(source));
    EXPECT_EQ(FolderNames(Served("new")), names);
}

// The library lock is taken per call: while one share is in the middle of a copy, another share
// on another thread gets its requests through, and both copies come out whole.
// A replacement cut off between its two renames (the process ends there) leaves the old copy
// only under its ".bak" name: the next listing puts it back before anyone can take it for a
// leftover, and lists it under its name; a ".bak" whose name is taken again stays a leftover.
TEST_F(SmbShareTest, ListingPutsBackAnOldCopyCutOffBetweenTheRenames) {
    const std::string old = MakeSource("old.txt", 3000, 'o');
    const std::string fresh = MakeSource("new.txt", 5000, 'n');
    // The process that replaces "<name>" ends right after the old copy stepped aside.
    auto cutOff = [&](const std::string& name) {
        const pid_t child = ::fork();
        if (child == 0) {
            SmbShare replacing(fixture_.port, 5000);
            if (replacing.Connect(fixture_.host, fixture_.user, fixture_.password) != 0) ::_exit(2);
            replacing.SetAsideObserver([] { ::_exit(0); });
            // Coming back at all means the old copy never stepped aside.
            ::_exit(replacing.CopyToShare(fresh, Device(name), nullptr) ? 3 : 4);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    };
    struct Case {
        const char* name;
        const char* wildcard;
        bool takenAgain;  // another file holds the name by the time of the listing
    } const cases[] = {
        {"a.txt", "*", false},
        {"b.txt", "*.txt", false},  // the ".bak" does not match, its name does
        {"c.txt", "*", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(share_->CopyToShare(old, Device(c.name), nullptr));
        cutOff(c.name);
        std::vector<std::string> aside;
        for (const auto& name : FolderNames(Served("")))
            if (FinalNameOfAsideCopy(name) == c.name) aside.push_back(name);
        ASSERT_EQ(aside.size(), 1u)
            << "the old copy did not step aside under a name telling its own";
        ASSERT_FALSE(std::filesystem::exists(Served(c.name)));
        if (c.takenAgain) {
            ASSERT_TRUE(WriteFile(Served(c.name), "newer"));
        }

        const auto listed = share_->List(Device(""), c.wildcard);
        ASSERT_TRUE(listed) << listed.error;
        std::vector<std::string> names;
        for (const auto& entry : listed.value) names.push_back(entry.name);
        EXPECT_EQ(std::count(names.begin(), names.end(), c.name), 1);
        if (c.takenAgain) {
            EXPECT_EQ(ReadFile(Served(c.name)), "newer");
            EXPECT_TRUE(std::filesystem::exists(Served(aside[0])));
            EXPECT_EQ(std::count(names.begin(), names.end(), aside[0]), 1) << "a leftover";
        } else {
            EXPECT_EQ(ReadFile(Served(c.name)), ReadFile(old));
            EXPECT_EQ(ModifiedTime(Served(c.name)), kOldTime);
            EXPECT_FALSE(std::filesystem::exists(Served(aside[0])));
            EXPECT_EQ(std::count(names.begin(), names.end(), aside[0]), 0);
        }
    }
}

TEST_F(SmbShareTest, TwoSharesWorkFromTwoThreadsAtOnce) {
    const std::string big = MakeSource("big.bin", 6 * (1 << 20), 'b');
    const std::string small = MakeSource("small.bin", 70'000, 's');
    std::promise<int> otherDone;  // the other share's outcome, 0 when all of it worked
    std::future<int> otherOutcome = otherDone.get_future();
    bool otherFinishedMidCopy = false;

    std::thread other;
    share_->SetBlockObserver([&](std::uint64_t copied) {
        if (copied != 1u << 20) return;
        // First block written: the other share starts now and must finish while this copy is
        // still open.
        other = std::thread([&] {
            SmbShare second(fixture_.port, 5000);
            int outcome = second.Connect(fixture_.host, fixture_.user, fixture_.password);
            if (outcome == kShareConnected) outcome = second.CreateFolder(Device("other")).error;
            if (outcome == 0)
                outcome = second.CopyToShare(small, Device("other/small.bin"), nullptr).error;
            if (outcome == 0) outcome = second.List(Device("other"), "*").error;
            otherDone.set_value(outcome);
        });
        otherFinishedMidCopy =
            otherOutcome.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    });
    const IoStatus copied = share_->CopyToShare(big, Device("big.bin"), nullptr);
    if (other.joinable()) other.join();

    EXPECT_TRUE(copied) << copied.error;
    EXPECT_TRUE(otherFinishedMidCopy);
    ASSERT_EQ(otherOutcome.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    EXPECT_EQ(otherOutcome.get(), 0);
    EXPECT_EQ(ReadFile(Served("big.bin")), ReadFile(big));
    EXPECT_EQ(ReadFile(Served("other/small.bin")), ReadFile(small));
    EXPECT_EQ(FolderNames(Served("")), (std::vector<std::string>{"big.bin", "other"}));
}

}  // namespace
}  // namespace tessarine
