// The settings window driven through its widgets: the OK checks and their exact warnings, the
// running-flag refusals, the file list following the folder pairs, the backup page's pair
// commands and schedule rules.
#include "ui/settings_window.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <thread>

#include "core/event_names.h"
#include "ui/settings_background.h"
#include "ui/settings_test_support.h"
#include "ui/strings/caption_apply.h"

namespace tessarine::ui {
namespace {

using testing::Find;
using testing::SettingsFixture;

class SettingsWindowTest : public ::testing::Test {
protected:
    explicit SettingsWindowTest(int pairs = 2) : fx_(pairs) {}
    void SetUp() override { window_ = std::make_unique<CSettingDlg>(fx_.services_); }

    QLineEdit* Edit(unsigned id) { return Find<QLineEdit>(*window_, id); }
    QPushButton* Button(QWidget& page, unsigned id) { return Find<QPushButton>(page, id); }
    void PressOk() { Button(window_->CommonPage(), kCtlOk)->click(); }
    std::vector<std::string>& Warnings() { return fx_.messages_.warnings; }

    SettingsFixture fx_;
    std::unique_ptr<CSettingDlg> window_;
};

struct FieldCase {
    const char* name;
    unsigned control;
    const char* text;
    const char* warning;
};

class SettingsFieldCheckTest : public SettingsWindowTest,
                               public ::testing::WithParamInterface<FieldCase> {};

TEST_P(SettingsFieldCheckTest, RefusedFieldWarnsAndSavesNothing) {
    const std::string before = fx_.Ini();
    Edit(GetParam().control)->setText(QString::fromUtf8(GetParam().text));
    PressOk();
    ASSERT_EQ(1u, Warnings().size());
    EXPECT_EQ(GetParam().warning, Warnings().front());
    EXPECT_EQ("エラー", fx_.messages_.lastCaption);
    // The detection page is checked after the device login, as the save runs its steps.
    if (GetParam().control != 1070) {
        EXPECT_TRUE(fx_.logins_.empty());
    }
    EXPECT_TRUE(fx_.events_.empty());
    EXPECT_EQ(before, fx_.Ini());
}

INSTANTIATE_TEST_SUITE_P(
    Fields, SettingsFieldCheckTest,
    ::testing::Values(
        FieldCase{"PopupTimeout61", 1027, "61", "設定時間は0-60の範囲で入力してください。"},
        FieldCase{"HttpPortWithLetter", 1013, "8a", "HTTPポートは半角数字で入力してください。"},
        FieldCase{"EmptyHttpsPort", 1015, "", "HTTPSポートを入力してください。"},
        FieldCase{"HttpPort65536", 1013, "65536", "HTTPポートは0-65535の範囲で入力してください。"},
        FieldCase{"WatchInterval0", 1070, "0", "機器監視間隔は1-60の範囲で入力してください。"},
        FieldCase{"WatchInterval61", 1070, "61", "機器監視間隔は1-60の範囲で入力してください。"},
        FieldCase{"WatchIntervalFullWidth", 1070, "５",
                  "機器監視間隔は半角数字で入力してください。"},
        FieldCase{"WatchIntervalEmpty", 1070, "", "機器監視間隔を入力してください。"},
        FieldCase{"PopupTimeoutHugeNumber", 1027, "99999999999999999999",
                  "設定時間は0-60の範囲で入力してください。"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsWindowTest, OnlyThePopupTimeChangedSavesAndSignalsWithoutTouchingTheFileList) {
    Edit(1027)->setText("30");
    PressOk();
    EXPECT_TRUE(Warnings().empty());
    ASSERT_EQ(1u, fx_.logins_.size());
    EXPECT_EQ("192.168.1.10", fx_.logins_[0].address);
    EXPECT_EQ("secret", fx_.logins_[0].password);
    CCommonSetting common(&fx_.store_);
    common.Load();
    EXPECT_EQ(30, common.popupTimeout);
    EXPECT_EQ(0, fx_.RowOwner(0));
    EXPECT_EQ(1, fx_.RowOwner(1));
    EXPECT_EQ((std::vector<std::string>{std::string(kEventBackupSettingChanged),
                                        std::string(kEventDetectFileSettingChanged)}),
              fx_.events_);
    EXPECT_EQ(std::vector<std::string>{"保存しました。"}, fx_.messages_.informations);
    EXPECT_EQ("設定", fx_.messages_.lastCaption);
    EXPECT_EQ(0, fx_.backupExecuting_.load());
    EXPECT_EQ(0, fx_.detectFileExecuting_.load());
}

struct BusyCase {
    const char* name;
    bool backupRuns;
    bool forwardingRuns;
    const char* warning;
};

class SettingsBusyTest : public SettingsWindowTest,
                         public ::testing::WithParamInterface<BusyCase> {};

TEST_P(SettingsBusyTest, OkWhileAWorkerRunsIsRefusedAndLeavesItsFlag) {
    fx_.backupExecuting_ = GetParam().backupRuns ? 1 : 0;
    fx_.detectFileExecuting_ = GetParam().forwardingRuns ? 1 : 0;
    const std::string before = fx_.Ini();
    std::pair<int, int> flagsShown{-1, -1};
    fx_.messages_.whileShown = [&] {
        flagsShown = {fx_.backupExecuting_.load(), fx_.detectFileExecuting_.load()};
    };
    Edit(1027)->setText("30");
    PressOk();
    EXPECT_EQ(std::vector<std::string>{GetParam().warning}, Warnings());
    // The warning waits for the user with no flag of the window's own still set.
    EXPECT_EQ(std::make_pair(GetParam().backupRuns ? 1 : 0, GetParam().forwardingRuns ? 1 : 0),
              flagsShown);
    EXPECT_EQ(before, fx_.Ini());
    EXPECT_TRUE(fx_.events_.empty());
    // The refusal neither takes a running worker's flag away nor leaves one set.
    EXPECT_EQ(GetParam().backupRuns ? 1 : 0, fx_.backupExecuting_.load());
    EXPECT_EQ(GetParam().forwardingRuns ? 1 : 0, fx_.detectFileExecuting_.load());
}

INSTANTIATE_TEST_SUITE_P(
    Flags, SettingsBusyTest,
    ::testing::Values(
        BusyCase{"Backup", true, false, "バックアップ処理実行中のため変更できません。"},
        BusyCase{"Forwarding", false, true, "指定ファイル転送処理中のため変更できません。"},
        BusyCase{"Both", true, true, "バックアップ処理実行中のため変更できません。"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsWindowTest, LoginRunsOffTheUiThreadWithOkDisabledAndNoRunCanStartMeanwhile) {
    const auto uiThread = std::this_thread::get_id();
    std::thread::id loginThread;
    std::atomic<bool> release{false};
    fx_.services_.login = [&](const LoginRequest&) {
        loginThread = std::this_thread::get_id();
        while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return 0;
    };
    bool okEnabledDuringLogin = true;
    QTimer::singleShot(50, [&] {
        okEnabledDuringLogin = Button(window_->CommonPage(), kCtlOk)->isEnabled();
        release = true;
    });
    PressOk();
    EXPECT_NE(uiThread, loginThread);
    EXPECT_FALSE(okEnabledDuringLogin);
    EXPECT_TRUE(Button(window_->CommonPage(), kCtlOk)->isEnabled());
    EXPECT_EQ(std::vector<std::string>{"保存しました。"}, fx_.messages_.informations);
}

// Quitting (SIGTERM, the session ending) while the login test waits on the network ends the
// wait at once: the UI thread does not join the call, and its late answer saves nothing.
TEST_F(SettingsWindowTest, QuitDuringTheLoginTestDropsTheLateAnswer) {
    auto release = std::make_shared<std::atomic<bool>>(false);
    auto answered = std::make_shared<std::atomic<bool>>(false);
    fx_.services_.login = [release, answered](const LoginRequest&) {
        while (!release->load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        answered->store(true);
        return 0;
    };
    const std::string before = fx_.Ini();
    Edit(1027)->setText("30");
    // As in the program: OK pressed from the main event loop, which the quit ends.
    bool answeredWhenOkReturned = true;
    int abandonedWhenOkReturned = 0;
    QTimer::singleShot(0, [&] {
        PressOk();
        answeredWhenOkReturned = answered->load();
        abandonedWhenOkReturned = AbandonedBackgroundCalls().load();
    });
    QTimer::singleShot(50, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    EXPECT_FALSE(answeredWhenOkReturned) << "the UI thread waited for the login test";
    EXPECT_EQ(1, abandonedWhenOkReturned);
    release->store(true);
    while (AbandonedBackgroundCalls().load() != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    QCoreApplication::processEvents();
    EXPECT_TRUE(answered->load());
    EXPECT_EQ(before, fx_.Ini());
    EXPECT_TRUE(Warnings().empty());
    EXPECT_TRUE(fx_.messages_.informations.empty());
    EXPECT_TRUE(fx_.events_.empty());
}

// Enter in a field posts OK on each page alike (it did on the common page only).
TEST_F(SettingsWindowTest, EnterPostsOkOnEveryPage) {
    window_->show();
    const struct {
        int tab;
        unsigned field;
    } pages[] = {{0, 1027}, {1, 1097}, {2, 1070}};
    for (const auto& page : pages) {
        window_->Tabs().setCurrentIndex(page.tab);
        ASSERT_EQ(page.tab, window_->Tabs().currentIndex());
        fx_.logins_.clear();
        fx_.messages_.informations.clear();
        QTest::keyClick(Edit(page.field), Qt::Key_Return);
        EXPECT_EQ(1u, fx_.logins_.size()) << "tab " << page.tab;
        EXPECT_EQ(std::vector<std::string>{"保存しました。"}, fx_.messages_.informations)
            << "tab " << page.tab;
    }
}

// Tab follows the layout: each field, then its own button, then the next row.
TEST_F(SettingsWindowTest, TabWalksTheBackupPageInLayoutOrder) {
    QWidget& page = window_->BackupPage();
    const std::vector<unsigned> expected = {1097, 1061, 1098, 1062, 1151,  1152,
                                            1063, 1028, 1026, 1027, 10101, 1067};
    QWidget* at = Find<QWidget>(page, expected.front());
    for (std::size_t i = 1; i < expected.size(); ++i) {
        do {
            at = at->nextInFocusChain();
        } while (!(at->focusPolicy() & Qt::TabFocus));
        EXPECT_EQ(ControlObjectName(expected[i]), at->objectName()) << "after " << expected[i - 1];
    }
}

struct LoginCase {
    int result;
    const char* warning;
};

class SettingsLoginTest : public SettingsWindowTest,
                          public ::testing::WithParamInterface<LoginCase> {};

TEST_P(SettingsLoginTest, FailedLoginWarnsAndSavesNothing) {
    fx_.loginResult_ = GetParam().result;
    const std::string before = fx_.Ini();
    Edit(1027)->setText("30");
    PressOk();
    EXPECT_EQ(std::vector<std::string>{GetParam().warning}, Warnings());
    EXPECT_EQ(before, fx_.Ini());
    EXPECT_TRUE(fx_.events_.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Results, SettingsLoginTest,
    ::testing::Values(
        LoginCase{-2, "ログインに失敗しました。ユーザー名またはパスワードを確認してください。"},
        LoginCase{-1, "接続エラー"}));

TEST_F(SettingsWindowTest, NewDeviceAddressEmptiesThePairsAndTheirRows) {
    Edit(1012)->clear();
    QTest::keyClicks(Edit(1012), "192.168.1.20");
    EXPECT_TRUE(Edit(1009)->text().isEmpty()) << "typing an address clears the device name";
    std::pair<int, int> flagsShown{-1, -1};
    fx_.messages_.whileShown = [&] {
        flagsShown = {fx_.backupExecuting_.load(), fx_.detectFileExecuting_.load()};
    };
    PressOk();
    EXPECT_TRUE(Warnings().empty());
    // "保存しました。" waits for the user with the flags given back, and the reloaded page
    // offers "今すぐバックアップする" again.
    EXPECT_EQ(std::make_pair(0, 0), flagsShown);
    EXPECT_TRUE(Find<QPushButton>(window_->BackupPage(), 1057)->isEnabled());
    EXPECT_EQ(-1, fx_.RowOwner(0));
    EXPECT_EQ(-1, fx_.RowOwner(1));
    CBackupSetting backup(&fx_.store_);
    backup.Load();
    for (const auto& pair : backup.folderPairs) EXPECT_TRUE(pair.source.empty());
    EXPECT_EQ(0, Find<QTreeWidget>(window_->BackupPage(), 1067)->topLevelItemCount());
    CCommonSetting common(&fx_.store_);
    common.Load();
    EXPECT_EQ("192.168.1.20", common.ipv4Address);
    EXPECT_TRUE(common.hostName.empty());
}

TEST_F(SettingsWindowTest, ReorderedPairsTakeTheirRowsAlong) {
    auto& page = window_->BackupPage();
    auto* list = Find<QTreeWidget>(page, 1067);
    list->topLevelItem(0)->setCheckState(0, Qt::Checked);
    Button(page, 1026)->click();  // 削除: old pair 1 moves up to 0
    Find<QLineEdit>(page, 1097)->setText("/src/0");
    Find<QLineEdit>(page, 1098)
        ->setText(QString::fromStdString(SettingsFixture::Pair(0).destination));
    Button(page, 1063)->click();  // 追加: old pair 0 comes back as 1
    ASSERT_TRUE(Warnings().empty()) << Warnings().front();
    Button(page, kCtlOk)->click();
    EXPECT_TRUE(Warnings().empty());
    EXPECT_EQ(1, fx_.RowOwner(0));
    EXPECT_EQ(0, fx_.RowOwner(1));
}

TEST_F(SettingsWindowTest, DesktopLinkPointsAtTheDeviceAndIsNeverOverwritten) {
    Find<QCheckBox>(window_->CommonPage(), 1018)->setChecked(true);
    ASSERT_FALSE(std::filesystem::exists(fx_.temp_.Sub("Desktop")));  // a new account's home
    PressOk();
    const std::string link = fx_.temp_.Sub("Desktop/Tessarine.desktop");
    const std::string text = tessarine::testing::ReadFile(link);
    EXPECT_NE(std::string::npos, text.find("URL=http://192.168.1.10/")) << text;
    EXPECT_NE(std::string::npos, text.find("Type=Link"));
    Edit(1012)->setText("192.168.1.30");
    PressOk();
    EXPECT_EQ(text, tessarine::testing::ReadFile(link));
}

TEST_F(SettingsWindowTest, LeavingAnIncompleteCommonPageIsRefused) {
    Edit(1012)->setText("0.0.0.0");
    window_->Tabs().setCurrentIndex(1);
    EXPECT_EQ(0, window_->Tabs().currentIndex());
    EXPECT_EQ(std::vector<std::string>{"共通設定を設定してください。"}, Warnings());
}

TEST_F(SettingsWindowTest, LeavingChangedBackupPageAsksAndNoKeepsThePage) {
    window_->Tabs().setCurrentIndex(1);
    Find<QCheckBox>(window_->BackupPage(), 1064)->toggle();
    fx_.messages_.answerYes = false;
    window_->Tabs().setCurrentIndex(2);
    EXPECT_EQ(1, window_->Tabs().currentIndex());
    fx_.messages_.answerYes = true;
    window_->Tabs().setCurrentIndex(2);
    EXPECT_EQ(2, window_->Tabs().currentIndex());
    EXPECT_EQ(2u, fx_.messages_.questions.size());
    CBackupSetting stored(&fx_.store_);
    stored.Load();
    EXPECT_EQ(stored.isBackupWhenShutdown,
              Find<QCheckBox>(window_->BackupPage(), 1064)->isChecked());
}

TEST_F(SettingsWindowTest, CaptionsAndAccessibleNamesComeFromTheStringTable) {
    EXPECT_EQ("設定", window_->windowTitle().toStdString());
    EXPECT_EQ("手動で機器を設定する。(&E)", Find<QCheckBox>(*window_, 1007)->text().toStdString());
    EXPECT_EQ("機器IPアドレス", Edit(1012)->accessibleName().toStdString());
    EXPECT_EQ("HTTPポート番号", Edit(1013)->accessibleName().toStdString());
    EXPECT_EQ("機器監視間隔", Edit(1070)->accessibleName().toStdString());
    EXPECT_EQ("バックアップ元", Edit(1097)->accessibleName().toStdString());
}

}  // namespace
}  // namespace tessarine::ui
