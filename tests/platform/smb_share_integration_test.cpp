// SmbShare against a real smbd (scripts/smbd-fixture). The fixture's environment names the
// server, the credentials and the local folder smbd serves, so results can be checked on disk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "fakes/test_support.h"
#include "platform/posix/smb_share.h"
#include "platform/unc_path.h"

namespace tessarine {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr std::time_t kOldTime = 1'500'000'000;

struct Fixture {
    std::string host;
    int port = 445;
    std::string user;
    std::string password;
    std::string root;  // local folder whose "zereda" smbd serves
};

bool LoadFixture(Fixture& fixture) {
    const char* host = std::getenv("TESSARINE_SMB_HOST");
    const char* port = std::getenv("TESSARINE_SMB_PORT");
    const char* user = std::getenv("TESSARINE_SMB_USER");
    const char* password = std::getenv("TESSARINE_SMB_PASSWORD");
    const char* root = std::getenv("TESSARINE_SMB_ROOT");
    if (!host || !user || !password || !root) return false;
    fixture = Fixture{host, port ? std::atoi(port) : 445, user, password, root};
    return true;
}

void SetModificationTime(const std::string& path, std::time_t seconds) {
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::time_t ModificationTime(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mtim.tv_sec : -1;
}

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A loopback port that nobody listens on.
int ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

class SmbShareTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!LoadFixture(fixture_))
            GTEST_SKIP()
                << "TESSARINE_SMB_* not set: start scripts/smbd-fixture and source its env";
        // Each test works in a folder of its own below zereda.
        folderName_ =
            std::string("t_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(Served(""));
        share_ = std::make_unique<SmbShare>(fixture_.port, 5000);
        ASSERT_EQ(share_->Connect(fixture_.host, fixture_.user, fixture_.password), kShareConnected)
            << "errno " << share_->LastError();
        ASSERT_TRUE(share_->CreateFolder(Device(""))) << share_->LastError();
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
        SetModificationTime(path, kOldTime);
        return path;
    }

    Fixture fixture_;
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
    SmbShare closed(ClosedPort(), 5000);
    const int error = closed.Connect("127.0.0.1", fixture_.user, fixture_.password);
    EXPECT_EQ(error, ECONNREFUSED);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));

    SmbShare badHost(fixture_.port, 5000);
    EXPECT_EQ(badHost.Connect("", fixture_.user, fixture_.password), EINVAL);
    EXPECT_EQ(badHost.Connect("bad host", fixture_.user, fixture_.password), EINVAL);
}

TEST_F(SmbShareTest, SecondConnectWithOtherCredentialsConflicts) {
    EXPECT_EQ(share_->Connect(fixture_.host, fixture_.user, fixture_.password), kShareConnected);
    EXPECT_EQ(share_->Connect(fixture_.host, fixture_.user, "other"), kShareCredentialConflict);
    // The existing connection stays usable.
    EXPECT_TRUE(share_->IsFolder(Device("")));
    // After a cancel the host can be connected again, and a wrong password is noticed.
    share_->Cancel(fixture_.host);
    EXPECT_EQ(share_->Connect(fixture_.host, fixture_.user, "other"), EACCES);
    EXPECT_EQ(share_->Connect(fixture_.host, fixture_.user, fixture_.password), kShareConnected);
    EXPECT_TRUE(share_->IsFolder(Device("")));
}

TEST_F(SmbShareTest, CreatesAndRemovesFolders) {
    EXPECT_TRUE(share_->CreateFolder(Device("PC01")));
    EXPECT_TRUE(std::filesystem::is_directory(Served("PC01")));
    EXPECT_TRUE(share_->IsFolder(Device("PC01")));
    EXPECT_FALSE(share_->CreateFolder(Device("PC01")));
    EXPECT_EQ(share_->LastError(), EEXIST);
    EXPECT_FALSE(share_->CreateFolder(Device("none/PC01")));
    EXPECT_EQ(share_->LastError(), ENOENT);

    ASSERT_TRUE(share_->CopyToShare(MakeSource("f.txt", 5), Device("PC01/f.txt"), nullptr));
    EXPECT_FALSE(share_->RemoveFolder(Device("PC01")));
    EXPECT_EQ(share_->LastError(), ENOTEMPTY);
    EXPECT_TRUE(share_->Exists(Device("PC01")));

    EXPECT_TRUE(share_->DeleteFile(Device("PC01/f.txt")));
    EXPECT_FALSE(share_->Exists(Device("PC01/f.txt")));
    EXPECT_EQ(share_->LastError(), ENOENT);
    EXPECT_FALSE(share_->DeleteFile(Device("PC01/f.txt")));
    EXPECT_EQ(share_->LastError(), ENOENT);
    EXPECT_TRUE(share_->RemoveFolder(Device("PC01")));
    EXPECT_FALSE(std::filesystem::exists(Served("PC01")));
}

TEST_F(SmbShareTest, CopiesThreeMiBKeepingLastWriteTime) {
    const std::string source = MakeSource("big.bin", 3 * (1 << 20) + 4321);
    ASSERT_TRUE(share_->CopyToShare(source, Device("big.bin"), nullptr)) << share_->LastError();
    EXPECT_EQ(ReadFile(Served("big.bin")), ReadFile(source));
    EXPECT_EQ(ModificationTime(Served("big.bin")), kOldTime);
    EXPECT_EQ(FolderNames(Served("")), std::vector<std::string>{"big.bin"});

    std::vector<ShareEntry> entries;
    ASSERT_TRUE(share_->List(Device(""), "big.bin", entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].size, 3u * (1 << 20) + 4321);
    EXPECT_EQ(entries[0].lastWriteTime, kOldTime);
    EXPECT_FALSE(entries[0].isFolder);

    const std::string back = pc_.Sub("back.bin");
    ASSERT_TRUE(share_->CopyFromShare(Device("big.bin"), back, nullptr)) << share_->LastError();
    EXPECT_EQ(ReadFile(back), ReadFile(source));
    EXPECT_EQ(ModificationTime(back), kOldTime);
}

TEST_F(SmbShareTest, OverwritesExistingCopy) {
    ASSERT_TRUE(share_->CopyToShare(MakeSource("a.txt", 9000, 'a'), Device("a.txt"), nullptr));
    const std::string newer = MakeSource("a2.txt", 100, 'k');
    SetModificationTime(newer, kOldTime + 3600);
    ASSERT_TRUE(share_->CopyToShare(newer, Device("a.txt"), nullptr)) << share_->LastError();
    EXPECT_EQ(ReadFile(Served("a.txt")), ReadFile(newer));
    EXPECT_EQ(ModificationTime(Served("a.txt")), kOldTime + 3600);
    // Neither the temporary copy nor the old copy stays behind.
    EXPECT_EQ(FolderNames(Served("")), std::vector<std::string>{"a.txt"});
}

TEST_F(SmbShareTest, ReadOnlyTargetIsRefusedUntilCleared) {
    const std::string source = MakeSource("ro.txt", 50);
    ASSERT_TRUE(share_->CopyToShare(source, Device("ro.txt"), nullptr));
    EXPECT_FALSE(share_->IsReadOnly(Device("ro.txt")));
    ASSERT_TRUE(share_->SetReadOnly(Device("ro.txt"), true));
    EXPECT_TRUE(share_->IsReadOnly(Device("ro.txt")));
    // The attribute is what the device itself sees.
    EXPECT_EQ(::access(Served("ro.txt").c_str(), F_OK), 0);
    struct stat info {};
    ASSERT_EQ(::stat(Served("ro.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & S_IWUSR, 0u);

    const std::string other = MakeSource("other.txt", 70, 'q');
    EXPECT_FALSE(share_->CopyToShare(other, Device("ro.txt"), nullptr));
    EXPECT_EQ(share_->LastError(), EACCES);
    EXPECT_EQ(ReadFile(Served("ro.txt")), ReadFile(source));

    ASSERT_TRUE(share_->ClearReadOnly(Device("ro.txt")));
    EXPECT_FALSE(share_->IsReadOnly(Device("ro.txt")));
    ASSERT_TRUE(share_->CopyToShare(other, Device("ro.txt"), nullptr));
    EXPECT_EQ(ReadFile(Served("ro.txt")), ReadFile(other));

    // A file the device made read-only on its side is seen as read-only too.
    ASSERT_EQ(::chmod(Served("ro.txt").c_str(), 0444), 0);
    EXPECT_TRUE(share_->IsReadOnly(Device("ro.txt")));
    EXPECT_TRUE(share_->ClearReadOnly(Device("ro.txt")));
    EXPECT_FALSE(share_->IsReadOnly(Device("ro.txt")));
}

TEST_F(SmbShareTest, CancelMidCopyLeavesNoPartialFile) {
    ASSERT_TRUE(share_->CopyToShare(MakeSource("old.bin", 1000, 'o'), Device("big.bin"), nullptr));
    const std::string before = ReadFile(Served("big.bin"));
    const std::string source = MakeSource("big.bin", 4 * (1 << 20));
    std::atomic<int> cancel{0};
    std::uint64_t lastProgress = 0;
    share_->SetBlockObserver([&](std::uint64_t copied) {
        lastProgress = copied;
        if (copied >= 2u << 20) cancel = 1;
    });
    EXPECT_FALSE(share_->CopyToShare(source, Device("big.bin"), &cancel));
    EXPECT_EQ(share_->LastError(), ECANCELED);
    EXPECT_EQ(lastProgress, 2u << 20);
    EXPECT_EQ(ReadFile(Served("big.bin")), before);
    EXPECT_EQ(FolderNames(Served("")), std::vector<std::string>{"big.bin"});

    cancel = 0;
    EXPECT_FALSE(share_->CopyToShare(source, Device("new.bin"), &cancel));
    EXPECT_EQ(FolderNames(Served("")), std::vector<std::string>{"big.bin"});

    // From the share: the local file stays as it was.
    const std::string local = pc_.Sub("home.bin");
    ASSERT_TRUE(WriteFile(local, "local"));
    ASSERT_TRUE(share_->CopyToShare(source, Device("whole.bin"), nullptr));
    cancel = 0;
    EXPECT_FALSE(share_->CopyFromShare(Device("whole.bin"), local, &cancel));
    EXPECT_EQ(share_->LastError(), ECANCELED);
    EXPECT_EQ(ReadFile(local), "local");
    EXPECT_EQ(FolderNames(pc_.Path()),
              (std::vector<std::string>{"big.bin", "home.bin", "old.bin"}));
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
        const bool copied =
            share_->CopyToShare(source, Device(std::string("new/") + c.name), nullptr);
        EXPECT_EQ(copied, c.error == 0);
        if (c.error == 0) {
            EXPECT_EQ(ReadFile(served), ReadFile(source));
            EXPECT_EQ(ModificationTime(served), kOldTime);
        } else {
            EXPECT_EQ(share_->LastError(), c.error);
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
    EXPECT_FALSE(share_->CopyToShare(MakeSource("t.bin", 10), Device("new/WRITABLE.txt"), nullptr));
    EXPECT_EQ(share_->LastError(), EACCES);
    EXPECT_EQ(ReadFile(Served("new/writable.txt")), ReadFile(source));
    EXPECT_EQ(FolderNames(Served("new")), names);
}

TEST_F(SmbShareTest, FolderRemovedOnTheDeviceMidCopyFailsCleanly) {
    ASSERT_TRUE(share_->CreateFolder(Device("sub")));
    const std::string source = MakeSource("big.bin", 3 * (1 << 20));
    share_->SetBlockObserver([&](std::uint64_t) { std::filesystem::remove_all(Served("sub")); });
    EXPECT_FALSE(share_->CopyToShare(source, Device("sub/big.bin"), nullptr));
    EXPECT_NE(share_->LastError(), 0);
    EXPECT_FALSE(std::filesystem::exists(Served("sub")));
    // The object stays usable afterwards.
    share_->SetBlockObserver(nullptr);
    EXPECT_TRUE(share_->CopyToShare(source, Device("big.bin"), nullptr)) << share_->LastError();
}

TEST_F(SmbShareTest, ListsWithWildcard) {
    ASSERT_TRUE(share_->CreateFolder(Device("PC01_folder.xml")));
    const std::string source = MakeSource("x.xml", 10);
    for (const char* name : {"PC01_20240101000000.xml", "pc01_20240102000000.XML",
                             "PC02_20240101000000.xml", "notes.txt"})
        ASSERT_TRUE(share_->CopyToShare(source, Device(name), nullptr)) << name;

    struct Case {
        const char* wildcard;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"PC01_*.xml", {"PC01_20240101000000.xml", "PC01_folder.xml", "pc01_20240102000000.XML"}},
        {"*.TXT", {"notes.txt"}},
        {"PC0?_2024010100000?.xml", {"PC01_20240101000000.xml", "PC02_20240101000000.xml"}},
        {"*.doc", {}},
    };
    std::vector<ShareEntry> entries;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wildcard);
        ASSERT_TRUE(share_->List(Device(""), c.wildcard, entries)) << share_->LastError();
        std::vector<std::string> names;
        for (const auto& e : entries) names.push_back(e.name);
        EXPECT_EQ(names, c.names);
    }
    ASSERT_TRUE(share_->List(Device(""), "*folder*", entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].isFolder);

    EXPECT_FALSE(share_->List(Device("none"), "*", entries));
    EXPECT_EQ(share_->LastError(), ENOENT);
}

TEST_F(SmbShareTest, HandlesJapaneseAndUnusualNames) {
    const std::string source = MakeSource("報告書.txt", 321);
    ASSERT_TRUE(share_->CreateFolder(Device("日本語 フォルダ")));
    for (const char* name : {"報告書.txt", "100% #1+2 .txt", "ｶﾀｶﾅ①.txt"}) {
        SCOPED_TRACE(name);
        const std::string target = Device(std::string("日本語 フォルダ/") + name);
        ASSERT_TRUE(share_->CopyToShare(source, target, nullptr)) << share_->LastError();
        EXPECT_EQ(ReadFile(Served(std::string("日本語 フォルダ/") + name)), ReadFile(source));
        EXPECT_TRUE(share_->Exists(target));
    }
    std::vector<ShareEntry> entries;
    ASSERT_TRUE(share_->List(Device("日本語 フォルダ"), "報告*", entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "報告書.txt");
    EXPECT_TRUE(share_->DeleteFile(Device("日本語 フォルダ/報告書.txt")));
}

TEST_F(SmbShareTest, CopyFailuresNameTheirCause) {
    const std::string source = MakeSource("s.txt", 10);
    ASSERT_TRUE(share_->CreateFolder(Device("folder")));
    struct Case {
        const char* what;
        std::string from;
        std::string to;
        int error;
    };
    const Case cases[] = {
        {"missing source", pc_.Sub("none.txt"), Device("x.txt"), ENOENT},
        {"source is a folder", pc_.Path(), Device("x.txt"), EISDIR},
        {"target folder missing", source, Device("no/x.txt"), ENOENT},
        {"target is a folder", source, Device("folder"), EISDIR},
        {"malformed target", source, "\\\\\\\\zereda", EINVAL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(share_->CopyToShare(c.from, c.to, nullptr));
        EXPECT_EQ(share_->LastError(), c.error);
    }
    EXPECT_EQ(FolderNames(Served("")), std::vector<std::string>{"folder"});
}

// The library's own rename deletes whatever holds the new name; ours refuses it, and leaves a
// change of letter case to the server.
TEST_F(SmbShareTest, RenameChangesCaseButNeverReplacesAnotherEntry) {
    ASSERT_TRUE(share_->CopyToShare(MakeSource("a.txt", 10, 'a'), Device("Note.txt"), nullptr));
    ASSERT_TRUE(share_->CopyToShare(MakeSource("b.txt", 20, 'b'), Device("other.txt"), nullptr));
    ASSERT_TRUE(share_->CreateFolder(Device("Photos")));

    EXPECT_TRUE(share_->Rename(Device("Note.txt"), Device("note.txt"))) << share_->LastError();
    EXPECT_TRUE(share_->Rename(Device("Photos"), Device("photos"))) << share_->LastError();
    EXPECT_FALSE(share_->Rename(Device("other.txt"), Device("NOTE.TXT")));
    EXPECT_EQ(EEXIST, share_->LastError());

    EXPECT_EQ(FolderNames(Served("")),
              (std::vector<std::string>{"note.txt", "other.txt", "photos"}));
    EXPECT_EQ(ReadFile(Served("other.txt")).size(), 20u);
}

}  // namespace
}  // namespace tessarine
