#include "settings/setting_records.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <functional>
#include <string>

#include "fakes/test_support.h"
#include "settings/child_process.h"
#include "settings/profile_store.h"

namespace tessarine {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class SettingRecordsTest : public ::testing::Test {
protected:
    TempDir dir_;
    const std::string path_ = dir_.Sub("TessarineTool.msf");
    CProfileStore store_{path_};
};

TEST_F(SettingRecordsTest, FreshFileLoadsTheDefaults) {
    CCommonSetting common(&store_);
    ASSERT_EQ(common.Load(), 0);
    EXPECT_EQ(common.hostName, "");
    EXPECT_EQ(common.httpPort, 80);
    EXPECT_EQ(common.httpsPort, 443);
    EXPECT_EQ(common.searchAgentPort, 61000);
    EXPECT_EQ(common.popupTimeout, 10);
    EXPECT_FALSE(common.isCreateShortcutToHost);
    EXPECT_EQ(common.userPassword, "");

    // The first-run TRUE values exist only once the first run wrote them.
    CBackupSetting backup(&store_);
    ASSERT_EQ(backup.Load(), 0);
    EXPECT_FALSE(backup.isSchedule);
    EXPECT_EQ(backup.scheduleSetting, 3);
    EXPECT_EQ(backup.dateDay, -1);
    EXPECT_EQ(backup.dateHour, -1);
    EXPECT_EQ(backup.dateMinute, -1);
    EXPECT_EQ(backup.weekdays, (std::array<bool, 7>{}));
    EXPECT_EQ(backup.weekdayHour, -1);
    EXPECT_EQ(backup.weekdayMinute, -1);
    EXPECT_EQ(backup.hourHour, -1);
    EXPECT_EQ(backup.hourMinute, -1);
    EXPECT_EQ(backup.interval, 0);
    EXPECT_FALSE(backup.isNotifyBackupComplete);
    EXPECT_EQ(backup.backupErrorMaxCount, 10);

    CDetectFileSetting detect(&store_);
    ASSERT_EQ(detect.Load(), 0);
    EXPECT_FALSE(detect.isNotifyDetectFileComplete);
    EXPECT_EQ(detect.resultWatchInterval, 10);
    EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(SettingRecordsTest, SavedRecordsLoadBackEqual) {
    CCommonSetting common(&store_);
    common.hostName = "MFP-01";
    common.ipv4Address = "192.168.1.10";
    common.httpPort = 8080;
    common.httpsPort = 8443;
    common.isUseSsl = true;
    common.isCreateShortcutToHost = true;
    common.isManualHostSetting = true;
    common.isChangeSearchAgentPort = true;
    common.searchAgentPort = 61001;
    common.userName = "管理者";
    common.userPassword = "pässwörd";
    common.popupTimeout = 0;
    ASSERT_EQ(common.Save(), 0);
    // The password is stored as Base64 of its UTF-8 bytes, never in plain text.
    EXPECT_EQ(common.userPasswordStored, "cMOkc3N3w7ZyZA==");
    EXPECT_NE(ReadFile(path_).find("UserPassword=cMOkc3N3w7ZyZA==\n"), std::string::npos);

    CCommonSetting commonLoaded(&store_);
    ASSERT_EQ(commonLoaded.Load(), 0);
    EXPECT_EQ(commonLoaded.hostName, common.hostName);
    EXPECT_EQ(commonLoaded.ipv4Address, common.ipv4Address);
    EXPECT_EQ(commonLoaded.httpPort, 8080);
    EXPECT_EQ(commonLoaded.httpsPort, 8443);
    EXPECT_TRUE(commonLoaded.isUseSsl);
    EXPECT_TRUE(commonLoaded.isCreateShortcutToHost);
    EXPECT_TRUE(commonLoaded.isManualHostSetting);
    EXPECT_TRUE(commonLoaded.isChangeSearchAgentPort);
    EXPECT_EQ(commonLoaded.searchAgentPort, 61001);
    EXPECT_EQ(commonLoaded.userName, common.userName);
    EXPECT_EQ(commonLoaded.userPassword, "pässwörd");
    EXPECT_EQ(commonLoaded.userPasswordStored, "cMOkc3N3w7ZyZA==");
    EXPECT_EQ(commonLoaded.popupTimeout, 0);

    CBackupSetting backup(&store_);
    backup.isSchedule = true;
    backup.scheduleSetting = 1;
    backup.dateDay = 30;
    backup.dateHour = 23;
    backup.dateMinute = 59;
    backup.weekdays = {true, false, true, false, false, true, false};
    backup.weekdayHour = 4;
    backup.weekdayMinute = 5;
    backup.hourHour = 6;
    backup.hourMinute = 7;
    backup.interval = 22;
    for (int i = 0; i < kBackupFolderPairCount; ++i) {
        backup.folderPairs[i] = {"/home/user/doc " + std::to_string(i),
                                 "\\\\192.168.1.10\\zereda\\backup" + std::to_string(i)};
    }
    // Legal folder names that bare INI values would change.
    backup.folderPairs[1].source = "/home/u/My Docs ";
    backup.folderPairs[2].source = " /lead";
    backup.folderPairs[3].source = "\"/quoted\"";
    backup.isBackupWhenShutdown = true;
    backup.isBackupWhenStart = true;
    backup.isNotifyBackupComplete = true;
    backup.isDeletedFileBackup = true;
    ASSERT_EQ(backup.Save(), 0);
    CBackupSetting backupLoaded(&store_);
    ASSERT_EQ(backupLoaded.Load(), 0);
    EXPECT_EQ(IsBackupSettingChanged(backup, backupLoaded), 0);
    EXPECT_EQ(backupLoaded.folderPairs, backup.folderPairs);
    EXPECT_NE(ReadFile(path_).find("DestinationFolderPath10=\\\\192.168.1.10\\zereda\\backup9\n"),
              std::string::npos);

    CDetectFileSetting detect(&store_);
    detect.isNotifyDetectFileComplete = true;
    detect.resultWatchInterval = 60;
    ASSERT_EQ(detect.Save(), 0);
    CDetectFileSetting detectLoaded(&store_);
    ASSERT_EQ(detectLoaded.Load(), 0);
    EXPECT_TRUE(detectLoaded.isNotifyDetectFileComplete);
    EXPECT_EQ(detectLoaded.resultWatchInterval, 60);
}

TEST_F(SettingRecordsTest, OnlyExactUpperCaseTrueIsTrue) {
    const struct {
        const char* stored;
        bool expected;
    } cases[] = {
        {"TRUE", true}, {" TRUE ", true}, {"true", false},  {"True", false},
        {"1", false},   {"", false},      {"TRUE1", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        ASSERT_TRUE(WriteFile(path_, std::string("[CommonSetting]\nIsUseSSL=") + c.stored + "\n"));
        CCommonSetting common(&store_);
        ASSERT_EQ(common.Load(), 0);
        EXPECT_EQ(common.isUseSsl, c.expected);
    }
}

TEST_F(SettingRecordsTest, EmptyPasswordIsStoredEmpty) {
    ASSERT_TRUE(WriteFile(path_, "[CommonSetting]\nUserPassword=c2VjcmV0\n"));
    CCommonSetting common(&store_);
    ASSERT_EQ(common.Load(), 0);
    EXPECT_EQ(common.userPassword, "secret");
    common.userPassword.clear();
    ASSERT_EQ(common.Save(), 0);
    EXPECT_NE(ReadFile(path_).find("\nUserPassword=\n"), std::string::npos);
    CCommonSetting loaded(&store_);
    ASSERT_EQ(loaded.Load(), 0);
    EXPECT_EQ(loaded.userPassword, "");
    EXPECT_EQ(loaded.userPasswordStored, "");
}

TEST_F(SettingRecordsTest, SaveRefusesAValueTooLongToReadBack) {
    CBackupSetting backup(&store_);
    backup.folderPairs[0] = {"/home/u", "\\\\h\\zereda"};
    ASSERT_EQ(backup.Save(), 0);
    const std::string before = ReadFile(path_);
    backup.folderPairs[0].source = "/" + std::string(4095, 'x');
    EXPECT_EQ(backup.Save(), -1);
    EXPECT_EQ(ReadFile(path_), before);
}

TEST_F(SettingRecordsTest, SaveNeverWritesTheErrorListLimit) {
    ASSERT_TRUE(WriteFile(path_, "[BackupSetting]\nBackupErrorMaxCount=25\n"));
    CBackupSetting backup(&store_);
    ASSERT_EQ(backup.Load(), 0);
    EXPECT_EQ(backup.backupErrorMaxCount, 25);
    backup.backupErrorMaxCount = 99;
    ASSERT_EQ(backup.Save(), 0);
    const std::string text = ReadFile(path_);
    EXPECT_NE(text.find("BackupErrorMaxCount=25\n"), std::string::npos);
    EXPECT_EQ(text.find("99"), std::string::npos);
}

TEST_F(SettingRecordsTest, WrongValuesLoadWithoutHarm) {
    ASSERT_TRUE(WriteFile(path_,
                          "[BackupSetting]\n"
                          "ScheduleSetting=abc\n"
                          "Date_Day=99999999999\n"
                          "Date_Hour=\n"
                          "Interval=7 hours\n"
                          "IsSchedule=yes\n"
                          "[CommonSetting]\n"
                          "UserPassword=***not base64***\n"
                          "HTTPPort=-80\n"));
    CBackupSetting backup(&store_);
    ASSERT_EQ(backup.Load(), 0);
    EXPECT_EQ(backup.scheduleSetting, 0);  // no digits: 0
    EXPECT_EQ(backup.dateDay, -1);         // out of range: the default
    EXPECT_EQ(backup.dateHour, -1);        // empty: the default
    EXPECT_EQ(backup.interval, 7);
    EXPECT_FALSE(backup.isSchedule);
    CCommonSetting common(&store_);
    ASSERT_EQ(common.Load(), 0);
    EXPECT_EQ(common.userPassword, "");
    EXPECT_EQ(common.httpPort, -80);
}

TEST(BackupSettingChangedTest, ComparesEveryFieldButTheErrorListLimit) {
    const struct {
        const char* name;
        std::function<void(CBackupSetting&)> change;
        int expected;
    } cases[] = {
        {"nothing", [](CBackupSetting&) {}, 0},
        {"BackupErrorMaxCount", [](CBackupSetting& s) { s.backupErrorMaxCount = 99; }, 0},
        {"Weekday_IsSaturday", [](CBackupSetting& s) { s.weekdays[6] = true; }, 1},
        {"SourceFolderPath10", [](CBackupSetting& s) { s.folderPairs[9].source = "/a"; }, 1},
        {"DestinationFolderPath01 case",
         [](CBackupSetting& s) { s.folderPairs[0].destination = "\\\\H\\Zereda"; }, 1},
        {"IsSchedule", [](CBackupSetting& s) { s.isSchedule = true; }, 1},
        {"ScheduleSetting", [](CBackupSetting& s) { s.scheduleSetting = 2; }, 1},
        {"Date_Day", [](CBackupSetting& s) { s.dateDay = 7; }, 1},
        {"Date_Hour", [](CBackupSetting& s) { s.dateHour = 7; }, 1},
        {"Date_Minute", [](CBackupSetting& s) { s.dateMinute = 7; }, 1},
        {"Weekday_Hour", [](CBackupSetting& s) { s.weekdayHour = 7; }, 1},
        {"Weekday_Minute", [](CBackupSetting& s) { s.weekdayMinute = 7; }, 1},
        {"Hour_Hour", [](CBackupSetting& s) { s.hourHour = 7; }, 1},
        {"Hour_Minute", [](CBackupSetting& s) { s.hourMinute = 7; }, 1},
        {"Interval", [](CBackupSetting& s) { s.interval = 5; }, 1},
        {"IsBackupWhenShutdown", [](CBackupSetting& s) { s.isBackupWhenShutdown = true; }, 1},
        {"IsBackupWhenStart", [](CBackupSetting& s) { s.isBackupWhenStart = true; }, 1},
        {"IsNotifyBackupComplete", [](CBackupSetting& s) { s.isNotifyBackupComplete = true; }, 1},
        {"IsDeletedFileBackup", [](CBackupSetting& s) { s.isDeletedFileBackup = true; }, 1},
    };
    CBackupSetting base(nullptr);
    base.folderPairs[0] = {"/home/user/doc", "\\\\h\\zereda"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CBackupSetting other = base;
        c.change(other);
        EXPECT_EQ(IsBackupSettingChanged(base, other), c.expected);
        EXPECT_EQ(IsBackupSettingChanged(other, base), c.expected);
    }
}

TEST_F(SettingRecordsTest, WithoutAStoreRecordsTouchNothing) {
    // Records made without a store hold values only; no file is behind them.
    CBackupSetting backup;
    backup.interval = 5;
    EXPECT_EQ(backup.Load(), -1);
    EXPECT_EQ(backup.interval, 5);
    EXPECT_EQ(backup.Save(), -1);
    EXPECT_EQ(backup.WriteDefaults(), -1);
    EXPECT_EQ(backup.interval, 5);
    CCommonSetting common;
    EXPECT_EQ(common.Save(), -1);
    CDetectFileSetting detect(nullptr);
    EXPECT_EQ(detect.Load(), -1);
    EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(SettingRecordsTest, SaveReportsAFileThatCannotBeWritten) {
    const std::string original = "[BackupSetting]\nIsSchedule=FALSE\nInterval=0\n";
    const struct {
        const char* name;
        mode_t fileMode;
        mode_t folderMode;
    } cases[] = {
        {"read-only file", 0444, 0755},
        {"read-only folder", 0644, 0555},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(chmod(dir_.Path().c_str(), 0755), 0);
        ASSERT_TRUE(WriteFile(path_, original));
        testing::HandOverToNobody(dir_.Path());
        ASSERT_EQ(chmod(path_.c_str(), c.fileMode), 0);
        ASSERT_EQ(chmod(dir_.Path().c_str(), c.folderMode), 0);
        const int result = testing::RunInChild(true, [&] {
            CProfileStore store(path_);
            CBackupSetting backup(&store);
            backup.Load();
            backup.isSchedule = true;
            backup.interval = 3;
            return backup.Save() == -1 ? 0 : 1;
        });
        EXPECT_EQ(result, 0);
        ASSERT_EQ(chmod(dir_.Path().c_str(), 0755), 0);
        EXPECT_EQ(ReadFile(path_), original);
    }
}

TEST_F(SettingRecordsTest, SaveRefusesAFolderPathWithALineBreak) {
    ASSERT_TRUE(WriteFile(path_, "[BackupSetting]\nIsSchedule=FALSE\n"));
    CBackupSetting backup(&store_);
    ASSERT_EQ(backup.Load(), 0);
    backup.isSchedule = true;
    backup.folderPairs[0].source = "/home/a\n[CommonSetting]\nIPV4Address=10.0.0.66";
    EXPECT_EQ(backup.Save(), -1);
    EXPECT_EQ(ReadFile(path_), "[BackupSetting]\nIsSchedule=FALSE\n");
}

}  // namespace
}  // namespace tessarine
