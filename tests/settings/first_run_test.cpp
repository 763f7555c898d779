#include "settings/first_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <string>

#include "fakes/test_support.h"
#include "settings/child_process.h"
#include "settings/profile_store.h"
#include "settings/setting_records.h"

namespace tessarine {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class FirstRunTest : public ::testing::Test {
protected:
    TempDir dir_;
    const std::string path_ = dir_.Sub("TessarineTool.msf");
    CProfileStore store_{path_};
};

TEST_F(FirstRunTest, WritesEveryFirstRunValueInOrder) {
    ASSERT_EQ(WriteFirstRunSettings(store_), 0);
    EXPECT_EQ(ReadFile(path_),
              "[CommonSetting]\n"
              "HostName=\n"
              "IPV4Address=\n"
              "HTTPPort=80\n"
              "HTTPSPort=443\n"
              "IsUseSSL=FALSE\n"
              "IsCreateShortcutToHost=TRUE\n"
              "IsManualHostSetting=FALSE\n"
              "IsChangeSearchAgentPort=FALSE\n"
              "SearchAgentPort=61000\n"
              "UserName=\n"
              "UserPassword=\n"
              "PopupTimeout=10\n"
              "[BackupSetting]\n"
              "IsSchedule=FALSE\n"
              "ScheduleSetting=3\n"
              "Date_Day=-1\n"
              "Date_Hour=-1\n"
              "Date_Minute=-1\n"
              "Weekday_IsSunday=TRUE\n"
              "Weekday_IsMonday=TRUE\n"
              "Weekday_IsTuesday=TRUE\n"
              "Weekday_IsWednesday=TRUE\n"
              "Weekday_IsThursday=TRUE\n"
              "Weekday_IsFriday=TRUE\n"
              "Weekday_IsSaturday=TRUE\n"
              "Weekday_Hour=-1\n"
              "Weekday_Minute=-1\n"
              "Hour_Hour=-1\n"
              "Hour_Minute=-1\n"
              "Interval=0\n"
              "SourceFolderPath01=\n"
              "DestinationFolderPath01=\n"
              "ExcludePatterns01=\n"
              "SourceFolderPath02=\n"
              "DestinationFolderPath02=\n"
              "ExcludePatterns02=\n"
              "SourceFolderPath03=\n"
              "DestinationFolderPath03=\n"
              "ExcludePatterns03=\n"
              "SourceFolderPath04=\n"
              "DestinationFolderPath04=\n"
              "ExcludePatterns04=\n"
              "SourceFolderPath05=\n"
              "DestinationFolderPath05=\n"
              "ExcludePatterns05=\n"
              "SourceFolderPath06=\n"
              "DestinationFolderPath06=\n"
              "ExcludePatterns06=\n"
              "SourceFolderPath07=\n"
              "DestinationFolderPath07=\n"
              "ExcludePatterns07=\n"
              "SourceFolderPath08=\n"
              "DestinationFolderPath08=\n"
              "ExcludePatterns08=\n"
              "SourceFolderPath09=\n"
              "DestinationFolderPath09=\n"
              "ExcludePatterns09=\n"
              "SourceFolderPath10=\n"
              "DestinationFolderPath10=\n"
              "ExcludePatterns10=\n"
              "IsBackupWhenShutdown=FALSE\n"
              "IsBackupWhenStart=FALSE\n"
              "IsNotifyBackupComplete=TRUE\n"
              "IsDeletedFileBackup=FALSE\n"
              "BackupErrorMaxCount=10\n"
              "[DetectFileSetting]\n"
              "IsNotifyDetectFileComplete=TRUE\n"
              "ResultWatchInterval=10\n");
    struct stat status {};
    ASSERT_EQ(stat(path_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);

    CBackupSetting backup(&store_);
    ASSERT_EQ(backup.Load(), 0);
    EXPECT_EQ(backup.weekdays, (std::array<bool, 7>{true, true, true, true, true, true, true}));
    EXPECT_TRUE(backup.isNotifyBackupComplete);
}

TEST_F(FirstRunTest, UpgradeAddsTheMissingKeysAndKeepsEverythingElse) {
    ASSERT_TRUE(WriteFile(path_,
                          "[CommonSetting]\n"
                          "IPV4Address=192.168.1.10\n"
                          "[BackupSetting]\n"
                          "; older version\n"
                          "IsSchedule=TRUE\n"
                          "SourceFolderPath01=/home/user/doc\n"
                          "LegacyOption=1\n"
                          "\n"
                          "[DetectFileSetting]\n"
                          "ResultWatchInterval=5\n"));
    ASSERT_EQ(UpgradeProfile(store_), 0);
    EXPECT_EQ(ReadFile(path_),
              "[CommonSetting]\n"
              "IPV4Address=192.168.1.10\n"
              "[BackupSetting]\n"
              "; older version\n"
              "IsSchedule=TRUE\n"
              "SourceFolderPath01=/home/user/doc\n"
              "LegacyOption=1\n"
              "IsDeletedFileBackup=FALSE\n"
              "BackupErrorMaxCount=10\n"
              "\n"
              "[DetectFileSetting]\n"
              "ResultWatchInterval=5\n");
}

TEST_F(FirstRunTest, UpgradeKeepsValuesThatArePresent) {
    const struct {
        const char* before;
        const char* after;
    } cases[] = {
        {"[BackupSetting]\nIsDeletedFileBackup=TRUE\nBackupErrorMaxCount=25\n",
         "[BackupSetting]\nIsDeletedFileBackup=TRUE\nBackupErrorMaxCount=25\n"},
        // An empty value counts as present for the flag; -1 is what a missing count reads as.
        {"[BackupSetting]\nIsDeletedFileBackup=\nBackupErrorMaxCount=-1\n",
         "[BackupSetting]\nIsDeletedFileBackup=\nBackupErrorMaxCount=10\n"},
        {"[backupsetting]\nisdeletedfilebackup=FALSE\nbackuperrormaxcount=\n",
         "[backupsetting]\nisdeletedfilebackup=FALSE\nbackuperrormaxcount=10\n"},
        {"", "[BackupSetting]\nIsDeletedFileBackup=FALSE\nBackupErrorMaxCount=10\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        ASSERT_TRUE(WriteFile(path_, c.before));
        ASSERT_EQ(UpgradeProfile(store_), 0);
        EXPECT_EQ(ReadFile(path_), c.after);
    }
}

TEST_F(FirstRunTest, UpgradeLeavesACurrentFileUntouched) {
    ASSERT_EQ(WriteFirstRunSettings(store_), 0);
    ASSERT_EQ(chmod(path_.c_str(), 0444), 0);  // any rewrite would now fail
    EXPECT_EQ(UpgradeProfile(store_), 0);
}

TEST_F(FirstRunTest, FailedFirstRunWritesNothing) {
    ASSERT_EQ(chmod(dir_.Path().c_str(), 0555), 0);
    testing::HandOverToNobody(dir_.Path());
    const int result = testing::RunInChild(true, [&] {
        CProfileStore store(path_);
        return WriteFirstRunSettings(store) == -1 ? 0 : 1;
    });
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(std::filesystem::exists(path_));
}

}  // namespace
}  // namespace tessarine
