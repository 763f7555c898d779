#include "settings/profile_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/app_log.h"
#include "fakes/test_support.h"
#include "settings/child_process.h"

namespace tessarine {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class ProfileStoreTest : public ::testing::Test {
protected:
    ProfileStoreTest() { std::filesystem::create_directory(folder_); }

    std::vector<std::string> FolderEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    TempDir dir_;
    const std::string folder_ = dir_.Sub("data");
    const std::string path_ = folder_ + "/TessarineTool.msf";
};

TEST_F(ProfileStoreTest, FindsSectionsAndKeysWhateverTheirCase) {
    ASSERT_TRUE(WriteFile(path_,
                          "; settings\n"
                          "[commonsetting]\n"
                          "  hostname   =  printer-1  \n"
                          "IPv4address=192.168.1.10\n"
                          "[ BackupSetting ]\n"
                          "IsSchedule=TRUE\n"
                          "[BACKUPSETTING]\n"
                          "Interval=5\n"));
    const struct {
        const char* section;
        const char* key;
        std::optional<std::string> expected;
    } cases[] = {
        {"CommonSetting", "HostName", "printer-1"},
        {"COMMONSETTING", "HOSTNAME", "printer-1"},
        {"commonsetting", "IPV4ADDRESS", "192.168.1.10"},
        {"backupsetting", "isschedule", "TRUE"},
        // Only the first section of a name counts.
        {"BackupSetting", "Interval", std::nullopt},
        // A key of another section is not found.
        {"CommonSetting", "IsSchedule", std::nullopt},
        {"DetectFileSetting", "HostName", std::nullopt},
    };
    CProfileStore store(path_);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(store.HasKey(c.section, c.key), c.expected.has_value());
        EXPECT_EQ(store.GetString(c.section, c.key, "<missing>"), c.expected.value_or("<missing>"));
    }
}

TEST_F(ProfileStoreTest, WritesReplaceInPlaceOrAppendAndKeepEveryOtherLine) {
    ASSERT_TRUE(WriteFile(path_,
                          "; Tessarine settings\r\n"
                          "Orphan=before any section\r\n"
                          "\r\n"
                          "[commonsetting]\r\n"
                          "hostname = old-name\r\n"
                          "FutureKey=kept\r\n"
                          "a line without equals\r\n"
                          "\r\n"
                          "[BackupSetting]\r\n"
                          "IsSchedule=FALSE"));
    CProfileStore store(path_);
    EXPECT_TRUE(store.WriteString("CommonSetting", "HostName", "new-name"));
    EXPECT_TRUE(store.WriteString("CommonSetting", "PopupTimeout", "10"));
    EXPECT_TRUE(store.WriteString("backupsetting", "Interval", "2"));
    EXPECT_TRUE(store.WriteString("DetectFileSetting", "ResultWatchInterval", "10"));

    EXPECT_EQ(ReadFile(path_),
              "; Tessarine settings\r\n"
              "Orphan=before any section\r\n"
              "\r\n"
              "[commonsetting]\r\n"
              "hostname=new-name\r\n"
              "FutureKey=kept\r\n"
              "a line without equals\r\n"
              "PopupTimeout=10\r\n"
              "\r\n"
              "[BackupSetting]\r\n"
              "IsSchedule=FALSE\r\n"
              "Interval=2\r\n"
              "[DetectFileSetting]\r\n"
              "ResultWatchInterval=10\r\n");
}

// A cut value would be another setting (a cut source folder backs up its parent): an over-long
// value reads as empty with an error line naming the key, and is never written.
TEST_F(ProfileStoreTest, OverLongValuesReadAsEmptyAndAreNotWritten) {
    CAppLog::Get().InitWith(dir_.Path() + "/", "test", false, std::int64_t{1} << 30);
    std::string japanese4095;
    for (int i = 0; i < 4095; ++i) japanese4095 += "あ";
    const struct {
        const char* name;
        std::string value;
        bool fits;
    } cases[] = {
        {"5000 ASCII", std::string(5000, 'x'), false},
        {"4096 ASCII", std::string(4096, 'x'), false},
        {"exactly 4095", std::string(4095, 'y'), true},
        {"4095 three-byte characters", japanese4095, true},
        {"4096 three-byte characters", japanese4095 + "あ", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteFile(path_, "[BackupSetting]\nSourceFolderPath01=" + c.value + "\n"));
        std::remove((dir_.Path() + "/test.log").c_str());
        CProfileStore store(path_);
        EXPECT_EQ(store.GetString("BackupSetting", "SourceFolderPath01", "<missing>"),
                  c.fits ? c.value : "");
        const std::string log = ReadFile(dir_.Path() + "/test.log");
        EXPECT_EQ(log.find("[BackupSetting] SourceFolderPath01 is longer than 4095 characters; "
                           "read as empty"),
                  c.fits ? std::string::npos : log.find("[BackupSetting]"))
            << log;

        ASSERT_TRUE(WriteFile(path_, "[BackupSetting]\nSourceFolderPath01=/home/u\n"));
        EXPECT_EQ(store.WriteString("BackupSetting", "SourceFolderPath01", c.value), c.fits);
        EXPECT_EQ(store.GetString("BackupSetting", "SourceFolderPath01", ""),
                  c.fits ? c.value : "/home/u");
    }
    CAppLog::Get().Reset();
}

// Every value the settings can hold reads back exactly as written, with the private-profile
// quoting rule: a value in double quotes is read without one matching pair of them.
TEST_F(ProfileStoreTest, ValuesRoundTripWithTheQuotingRule) {
    const struct {
        const char* name;
        std::string value;
        std::string stored;  // the line as written to the file
    } cases[] = {
        {"plain", "/home/u/Docs", "Key=/home/u/Docs"},
        {"trailing blank", "/home/u/My Docs ", "Key=\"/home/u/My Docs \""},
        {"leading blank", " lead", "Key=\" lead\""},
        {"tab at the end", "tab\t", "Key=\"tab\t\""},
        {"blanks only", "   ", "Key=\"   \""},
        {"inner blanks", "a  b", "Key=a  b"},
        {"enclosing quotes", "\"quoted\"", "Key=\"\"quoted\"\""},
        {"two quotes", "\"\"", "Key=\"\"\"\""},
        {"one quote", "\"", "Key=\""},
        {"leading quote only", "\"open", "Key=\"open"},
        {"empty", "", "Key="},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(path_);
        CProfileStore store(path_);
        ASSERT_TRUE(store.WriteString("S", "Key", c.value));
        EXPECT_EQ(ReadFile(path_), "[S]\n" + c.stored + "\n");
        EXPECT_EQ(store.GetString("S", "Key", "<missing>"), c.value);
        // Writing the same value again leaves the file alone.
        ASSERT_TRUE(store.WriteString("S", "Key", c.value));
        EXPECT_EQ(ReadFile(path_), "[S]\n" + c.stored + "\n");
    }

    // Hand-written forms: blanks around the value go, then one pair of quotes.
    const struct {
        const char* line;
        const char* value;
    } read[] = {
        {"Key=  \" two \"  ", " two "}, {"Key=\"\"", ""},
        {"Key='single'", "'single'"},   {"Key=\"unmatched", "\"unmatched"},
        {"Key=  spaced  ", "spaced"},
    };
    for (const auto& r : read) {
        SCOPED_TRACE(r.line);
        ASSERT_TRUE(WriteFile(path_, std::string("[S]\n") + r.line + "\n"));
        EXPECT_EQ(CProfileStore(path_).GetString("S", "Key", "<missing>"), r.value);
    }
}

// CR LF, LF and a lone CR all end lines; a write keeps the file's own line ends.
TEST_F(ProfileStoreTest, AcceptsEveryLineEnd) {
    const struct {
        const char* name;
        const char* eol;
    } cases[] = {{"CR LF", "\r\n"}, {"LF", "\n"}, {"CR", "\r"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string eol = c.eol;
        ASSERT_TRUE(WriteFile(path_, "[CommonSetting]" + eol + "IPV4Address=192.168.1.10" + eol +
                                         "[BackupSetting]" + eol + "Interval=5" + eol));
        CProfileStore store(path_);
        EXPECT_EQ(store.GetString("CommonSetting", "IPV4Address", ""), "192.168.1.10");
        EXPECT_EQ(store.GetInt("BackupSetting", "Interval", 0), 5);
        EXPECT_FALSE(store.HasKey("CommonSetting", "Interval"));
        ASSERT_TRUE(store.WriteString("CommonSetting", "HostName", "dev"));
        EXPECT_EQ(ReadFile(path_), "[CommonSetting]" + eol + "IPV4Address=192.168.1.10" + eol +
                                       "HostName=dev" + eol + "[BackupSetting]" + eol +
                                       "Interval=5" + eol);
    }
    // Mixed ends in one file, the last line without one.
    ASSERT_TRUE(WriteFile(path_, "[S]\rA=1\r\nB=2\nC=3"));
    CProfileStore store(path_);
    EXPECT_EQ(store.GetString("S", "A", ""), "1");
    EXPECT_EQ(store.GetString("S", "B", ""), "2");
    EXPECT_EQ(store.GetString("S", "C", ""), "3");
}

TEST_F(ProfileStoreTest, IntegersParseLikeThePrivateProfileRead) {
    const struct {
        const char* stored;  // nullptr: no such key
        int expected;
    } cases[] = {
        {"-1", -1},
        {"+7", 7},
        {"  42  ", 42},
        {"12ab", 12},
        {"abc", 0},
        {"-", 0},
        {"", 99},  // empty value: the default
        {nullptr, 99},
        {"-2147483648", INT_MIN},
        {"2147483647", INT_MAX},
        {"2147483648", 99},  // out of range: the default
        {"99999999999999999999999", 99},
        {"-2147483649", 99},
    };
    CProfileStore store(path_);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "<missing>");
        ASSERT_TRUE(WriteFile(
            path_, c.stored ? std::string("[S]\nValue=") + c.stored + "\n" : std::string("[S]\n")));
        EXPECT_EQ(store.GetInt("S", "Value", 99), c.expected);
    }
}

TEST_F(ProfileStoreTest, CreatesAndReplacesTheFileOwnerOnly) {
    CProfileStore store(path_);
    EXPECT_EQ(store.GetString("CommonSetting", "HostName", "none"), "none");
    ASSERT_TRUE(store.WriteString("CommonSetting", "HostName", "a"));
    struct stat status {};
    ASSERT_EQ(stat(path_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);

    ASSERT_EQ(chmod(path_.c_str(), 0644), 0);
    ASSERT_TRUE(store.WriteString("CommonSetting", "HostName", "b"));
    ASSERT_EQ(stat(path_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"TessarineTool.msf"});
}

TEST_F(ProfileStoreTest, UnchangedValueLeavesTheFileAlone) {
    ASSERT_TRUE(WriteFile(path_, "[S]\nKey = same\n"));
    struct stat before {};
    ASSERT_EQ(stat(path_.c_str(), &before), 0);
    CProfileStore store(path_);
    EXPECT_TRUE(store.WriteString("s", "key", "same"));
    struct stat after {};
    ASSERT_EQ(stat(path_.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(ReadFile(path_), "[S]\nKey = same\n");
}

TEST_F(ProfileStoreTest, BatchIsWrittenOnlyAtCommit) {
    CProfileStore store(path_);
    {
        CProfileStore::Transaction transaction(store);
        ASSERT_TRUE(store.WriteString("CommonSetting", "HostName", "dev"));
        ASSERT_TRUE(store.WriteInt("CommonSetting", "HTTPPort", 8080));
        EXPECT_FALSE(std::filesystem::exists(path_));
        // The writing thread sees its own batch, other threads only the file.
        EXPECT_EQ(store.GetInt("CommonSetting", "HTTPPort", 80), 8080);
        int seenElsewhere = 0;
        std::thread([&] { seenElsewhere = store.GetInt("CommonSetting", "HTTPPort", 80); }).join();
        EXPECT_EQ(seenElsewhere, 80);
        EXPECT_TRUE(transaction.Commit());
    }
    EXPECT_EQ(ReadFile(path_), "[CommonSetting]\nHostName=dev\nHTTPPort=8080\n");

    {
        CProfileStore::Transaction abandoned(store);
        ASSERT_TRUE(store.WriteString("CommonSetting", "HostName", "lost"));
    }
    EXPECT_EQ(store.GetString("CommonSetting", "HostName", ""), "dev");
}

TEST_F(ProfileStoreTest, RefusesNamesAndValuesThatWouldBreakTheFile) {
    const std::string original = "[CommonSetting]\nHostName=dev\n";
    const struct {
        const char* section;
        const char* key;
        const char* value;
    } cases[] = {
        {"", "HostName", "x"},
        {"CommonSetting", "", "x"},
        {"CommonSetting", "Host=Name", "x"},
        {"Common]Setting", "HostName", "x"},
        {"CommonSetting", "HostName", "x\nIsUseSSL=TRUE"},
        {"CommonSetting", "HostName", "x\r[BackupSetting]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        ASSERT_TRUE(WriteFile(path_, original));
        CProfileStore store(path_);
        EXPECT_FALSE(store.WriteString(c.section, c.key, c.value));
        // Inside a batch the refusal spoils the whole batch.
        store.BeginBatch();
        EXPECT_TRUE(store.WriteString("CommonSetting", "HTTPPort", "81"));
        EXPECT_FALSE(store.WriteString(c.section, c.key, c.value));
        EXPECT_FALSE(store.CommitBatch());
        EXPECT_EQ(ReadFile(path_), original);
    }
}

// A link planted in place of the settings file would make us overwrite (or read) its target.
TEST_F(ProfileStoreTest, ALinkInPlaceOfTheFileIsNeitherReadNorWritten) {
    const std::string target = dir_.Sub("real.msf");
    ASSERT_TRUE(WriteFile(target, "[S]\nKey=1\n"));
    std::filesystem::create_symlink(target, path_);
    CProfileStore store(path_);
    EXPECT_EQ(store.GetString("S", "Key", "<missing>"), "<missing>");
    EXPECT_FALSE(store.WriteString("S", "Key", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(path_));
    EXPECT_EQ(ReadFile(target), "[S]\nKey=1\n");
}

// A write that cannot complete leaves the old file byte for byte and no temporary file behind.
TEST_F(ProfileStoreTest, FailedWriteLeavesTheOldFileWhole) {
    const std::string original = "; keep me\n[BackupSetting]\nIsSchedule=FALSE\nCustom=1\n";
    const struct {
        const char* name;
        mode_t fileMode;
        mode_t folderMode;
        bool fullDisk;
    } cases[] = {
        {"read-only file", 0444, 0755, false},
        {"read-only folder", 0644, 0555, false},
        {"full disk", 0644, 0755, true},
        // A file that cannot be read is never replaced by one holding only the new key.
        {"unreadable file", 0200, 0755, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(chmod(folder_.c_str(), 0755), 0);
        ASSERT_TRUE(WriteFile(path_, original));
        ASSERT_EQ(chmod(dir_.Path().c_str(), 0755), 0);
        testing::HandOverToNobody(dir_.Path());
        ASSERT_EQ(chmod(path_.c_str(), c.fileMode), 0);
        ASSERT_EQ(chmod(folder_.c_str(), c.folderMode), 0);

        const int result = testing::RunInChild(true, [&] {
            if (c.fullDisk) {
                signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{16, 16};
                if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
            }
            CProfileStore store(path_);
            return store.WriteString("BackupSetting", "IsSchedule", "TRUE") ? 1 : 0;
        });
        EXPECT_EQ(result, 0);

        ASSERT_EQ(chmod(folder_.c_str(), 0755), 0);
        ASSERT_EQ(chmod(path_.c_str(), 0644), 0);
        EXPECT_EQ(ReadFile(path_), original);
        EXPECT_EQ(FolderEntries(), std::vector<std::string>{"TessarineTool.msf"});
    }
}

}  // namespace
}  // namespace tessarine
