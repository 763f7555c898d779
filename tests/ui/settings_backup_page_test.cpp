// The backup page's pair commands and schedule rules, driven through its widgets.
#include "ui/settings_backup_page.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include "core/event_names.h"
#include "ui/settings_test_support.h"

namespace tessarine::ui {
namespace {

using testing::Find;
using testing::SettingsFixture;

class BackupPageTest : public ::testing::Test {
protected:
    explicit BackupPageTest(int pairs) : fx_(pairs) {}
    BackupPageTest() : BackupPageTest(0) {}
    void SetUp() override { page_ = std::make_unique<CBackupSettingDlg>(fx_.services_); }

    QLineEdit* Edit(unsigned id) { return Find<QLineEdit>(*page_, id); }
    QPushButton* Button(unsigned id) { return Find<QPushButton>(*page_, id); }
    QTreeWidget* List() { return Find<QTreeWidget>(*page_, 1067); }
    void Add(const std::string& source, const std::string& destination) {
        Edit(1097)->setText(QString::fromStdString(source));
        Edit(1098)->setText(QString::fromStdString(destination));
        Button(1063)->click();
    }
    void Tick(int row) { List()->topLevelItem(row)->setCheckState(0, Qt::Checked); }
    std::vector<std::string>& Warnings() { return fx_.messages_.warnings; }

    SettingsFixture fx_;
    std::unique_ptr<CBackupSettingDlg> page_;
};

TEST_F(BackupPageTest, DestinationIsPrefilledWithTheAddressRoot) {
    EXPECT_EQ("\\\\192.168.1.10\\", Edit(1098)->text().toStdString());
}

struct AddCase {
    const char* name;
    const char* source;
    const char* destination;
    const char* warning;  // "" when the pair is added
};

class BackupPageAddTest : public BackupPageTest, public ::testing::WithParamInterface<AddCase> {};

TEST_P(BackupPageAddTest, AddChecksTheFoldersExactly) {
    Add(GetParam().source, GetParam().destination);
    if (std::string(GetParam().warning).empty()) {
        EXPECT_TRUE(Warnings().empty());
        ASSERT_EQ(1, List()->topLevelItemCount());
        EXPECT_EQ(GetParam().destination, List()->topLevelItem(0)->text(1).toStdString());
        EXPECT_EQ("\\\\192.168.1.10\\", Edit(1098)->text().toStdString());
        EXPECT_TRUE(Edit(1097)->text().isEmpty());
    } else {
        EXPECT_EQ(std::vector<std::string>{GetParam().warning}, Warnings());
        EXPECT_EQ(0, List()->topLevelItemCount());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Folders, BackupPageAddTest,
    ::testing::Values(
        AddCase{"AddressRootRefused", "/home/u", "\\\\192.168.1.10\\",
                "バックアップ先フォルダの指定が正しくありません。"},
        AddCase{"DeviceNameRootAccepted", "/home/u", "\\\\DEV01\\share\\a", ""},
        AddCase{"BelowAddressAccepted", "/home/u", "\\\\192.168.1.10\\share", ""},
        AddCase{"DeviceNameRootItselfRefused", "/home/u", "\\\\DEV01\\",
                "バックアップ先フォルダの指定が正しくありません。"},
        AddCase{"OtherHostRefused", "/home/u", "\\\\192.168.1.100\\share",
                "バックアップ先フォルダの指定が正しくありません。"},
        AddCase{"MissingSourceRefused", "relative/none", "\\\\DEV01\\share",
                "バックアップ元フォルダの指定が正しくありません。"},
        AddCase{"EmptySourceRefused", "", "\\\\DEV01\\share",
                "バックアップ元フォルダの指定が正しくありません。"},
        AddCase{"NetworkSourceRefused", "/mnt/net/x", "\\\\DEV01\\share",
                "バックアップ元フォルダの指定が正しくありません。ローカルPCのフォルダーを指定"
                "してください。"}),
    [](const auto& info) { return std::string(info.param.name); });

// 追加 and 参照 take the address and credentials as typed on the common page, saved or not.
TEST_F(BackupPageTest, AddAndBrowseUseTheTypedDeviceAddress) {
    CCommonSetting typed;
    typed.ipv4Address = "192.168.1.77";
    typed.userName = "typed-user";
    page_->SetCommonSource([&] { return typed; });
    std::string browsedWith;
    fx_.services_.chooseDestinationFolder = [&](QWidget*, const std::string&,
                                                const CCommonSetting& common) {
        browsedWith = common.ipv4Address + "/" + common.userName;
        return std::string("\\\\192.168.1.77\\share\\docs");
    };
    Button(1062)->click();
    EXPECT_EQ("192.168.1.77/typed-user", browsedWith);
    Add("/home/u", "\\\\192.168.1.77\\share\\docs");
    EXPECT_TRUE(Warnings().empty());
    EXPECT_EQ(1, List()->topLevelItemCount());
    EXPECT_EQ("\\\\192.168.1.77\\", Edit(1098)->text().toStdString());  // prefilled anew
}

// Patterns typed for a new pair go with it; 除外を設定 changes the ticked pair's.
TEST_F(BackupPageTest, ExclusionsGoWithTheirPair) {
    Find<QLineEdit>(*page_, CBackupSettingDlg::kCtlExclusions)->setText(" *.tmp ;; node_modules/ ");
    Add("/a", "\\\\DEV01\\s");
    EXPECT_EQ("*.tmp; node_modules/", page_->Setting().folderPairs[0].exclusions);
    EXPECT_EQ("*.tmp; node_modules/", List()->topLevelItem(0)->text(2).toStdString());
    Tick(0);
    Find<QLineEdit>(*page_, CBackupSettingDlg::kCtlExclusions)->setText(".cache/");
    Button(CBackupSettingDlg::kCtlSetExclusions)->click();
    EXPECT_EQ(".cache/", page_->Setting().folderPairs[0].exclusions);
    EXPECT_TRUE(Warnings().empty());
}

// "復元" opens the restore window on the one ticked pair, else on the row under the cursor.
TEST_F(BackupPageTest, RestoreOpensTheWindowOnTheTickedPair) {
    std::vector<int> opened;
    fx_.services_.openRestore = [&opened](int pair) { opened.push_back(pair); };
    for (int i = 0; i < 3; ++i) Add("/s" + std::to_string(i), "\\\\DEV01\\d");
    EXPECT_EQ("復元", Button(kStrRestoreTitle)->text().toStdString());
    Button(kStrRestoreTitle)->click();
    Tick(2);
    Button(kStrRestoreTitle)->click();
    Tick(1);  // two ticked: the current row
    List()->setCurrentItem(List()->topLevelItem(0));
    Button(kStrRestoreTitle)->click();
    EXPECT_EQ((std::vector<int>{-1, 2, 0}), opened);
}

TEST_F(BackupPageTest, SamePairTwiceIsRefused) {
    Add("/a", "\\\\DEV01\\s");
    Add("/a", "\\\\DEV01\\s");
    EXPECT_EQ(std::vector<std::string>{"指定のフォルダ設定は既に登録済です。"}, Warnings());
    EXPECT_EQ(1, List()->topLevelItemCount());
}

TEST_F(BackupPageTest, TheTenthPairDisablesAdd) {
    for (int i = 0; i < 9; ++i) Add("/s" + std::to_string(i), "\\\\DEV01\\d");
    EXPECT_TRUE(Button(1063)->isEnabled());
    Add("/s9", "\\\\DEV01\\d");
    EXPECT_EQ(10, List()->topLevelItemCount());
    EXPECT_FALSE(Button(1063)->isEnabled());
    EXPECT_TRUE(Warnings().empty());
}

class BackupPageWithPairsTest : public BackupPageTest {
protected:
    BackupPageWithPairsTest() : BackupPageTest(5) {}
};

TEST_F(BackupPageWithPairsTest, DeletingOneAndThreeKeepsTheOthersInOrder) {
    Tick(1);
    Tick(3);
    Button(1026)->click();
    const auto& pairs = page_->Setting().folderPairs;
    EXPECT_EQ(SettingsFixture::Pair(0), pairs[0]);
    EXPECT_EQ(SettingsFixture::Pair(2), pairs[1]);
    EXPECT_EQ(SettingsFixture::Pair(4), pairs[2]);
    for (int i = 3; i < kBackupFolderPairCount; ++i) EXPECT_TRUE(pairs[i].source.empty());
    ASSERT_EQ(3, List()->topLevelItemCount());
    EXPECT_EQ("/src/4", List()->topLevelItem(2)->text(0).toStdString());
}

struct ChoiceCase {
    const char* name;
    std::vector<int> ticked;
    const char* warning;
};

class BackupPageChoiceTest : public BackupPageWithPairsTest,
                             public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(BackupPageChoiceTest, CopyAndFileManagementNeedExactlyOneTickedRow) {
    for (int row : GetParam().ticked) Tick(row);
    for (unsigned command : {1028u, 1027u}) Button(command)->click();
    EXPECT_EQ((std::vector<std::string>{GetParam().warning, GetParam().warning}), Warnings());
    EXPECT_TRUE(fx_.urls_.empty());
    Button(1026)->click();  // 削除 with none ticked warns too; with several it deletes
    EXPECT_EQ(GetParam().ticked.empty() ? 5 : 3, List()->topLevelItemCount());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BackupPageChoiceTest,
    ::testing::Values(ChoiceCase{"None", {}, "フォルダ設定が未選択です。"},
                      ChoiceCase{
                          "Two", {0, 2}, "フォルダ設定が複数選択されているため表示できません。"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BackupPageWithPairsTest, CopyFillsTheEditsFromTheTickedPair) {
    Tick(2);
    Button(1028)->click();
    EXPECT_EQ("/src/2", Edit(1097)->text().toStdString());
    EXPECT_EQ(SettingsFixture::Pair(2).destination, Edit(1098)->text().toStdString());
}

TEST_F(BackupPageTest, FileManagementOpensTheSharePathEncoded) {
    Add("/a", "\\\\192.168.1.10\\share\\写真 2");
    Tick(0);
    Button(1027)->click();
    ASSERT_EQ(1u, fx_.urls_.size());
    EXPECT_EQ(
        "http://192.168.1.10/index?pid=UserLoginProperty&aid=1&fullpath="
        "share%2F%E5%86%99%E7%9C%9F%202",
        fx_.urls_[0]);
}

// Lengths count characters, not UTF-8 bytes: a Japanese character is one, not three.
struct PathLengthCase {
    const char* name;
    QString path;
    bool red;
    bool added;
};

QString Repeat(const QString& unit, int count) { return unit.repeated(count); }

class BackupPagePathLengthTest : public BackupPageTest,
                                 public ::testing::WithParamInterface<PathLengthCase> {};

TEST_P(BackupPagePathLengthTest, SourceLengthCountsCharacters) {
    const QColor normal = Edit(1097)->palette().color(QPalette::Text);
    Edit(1097)->setText(GetParam().path);
    EXPECT_EQ(GetParam().red ? QColor(Qt::red) : normal,
              Edit(1097)->palette().color(QPalette::Text));
    Add(GetParam().path.toStdString(), "\\\\DEV01\\share");
    EXPECT_EQ(GetParam().added ? 1 : 0, List()->topLevelItemCount()) << Warnings().size();
}

TEST_P(BackupPagePathLengthTest, DestinationLengthCountsCharacters) {
    // "\\DEV01\" is 8 characters; the rest of the case's path makes up its length.
    const QString destination = QStringLiteral("\\\\DEV01\\") + GetParam().path.mid(8);
    Edit(1098)->setText(destination);
    EXPECT_EQ(GetParam().red, Edit(1098)->palette().color(QPalette::Text) == QColor(Qt::red));
    Add("/a", destination.toStdString());
    EXPECT_EQ(GetParam().added ? 1 : 0, List()->topLevelItemCount());
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, BackupPagePathLengthTest,
    ::testing::Values(
        // 94 characters in 256 bytes of UTF-8.
        PathLengthCase{"Japanese94",
                       "/home/tanaka/" + Repeat(QStringLiteral("経理部門の共有資料"), 9), false,
                       true},
        PathLengthCase{"Japanese255", "/" + Repeat(QStringLiteral("経"), 254), false, true},
        PathLengthCase{"Japanese256", "/" + Repeat(QStringLiteral("経"), 255), true, false},
        PathLengthCase{"Ascii255", "/" + QString(254, 'a'), false, true},
        PathLengthCase{"Ascii256", "/" + QString(255, 'a'), true, false},
        PathLengthCase{"Mixed255", "/" + Repeat(QStringLiteral("a経"), 127), false, true},
        PathLengthCase{"Mixed256", "/" + Repeat(QStringLiteral("a経"), 127) + "b", true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BackupPageTest, ListsCarryLeadingBlanksAndTheirSizes) {
    struct {
        unsigned id;
        int count;
        const char* first;
        const char* last;
    } const lists[] = {{1099, 31, " 1", "31"}, {1100, 24, " 0", "23"}, {1101, 60, " 0", "59"},
                       {1102, 24, " 0", "23"}, {1103, 60, " 0", "59"}, {1104, 24, " 0", "23"},
                       {1105, 60, " 0", "59"}, {1106, 23, " 1", "23"}};
    for (const auto& l : lists) {
        auto* combo = Find<QComboBox>(*page_, l.id);
        ASSERT_NE(nullptr, combo) << l.id;
        EXPECT_EQ(l.count, combo->count()) << l.id;
        EXPECT_EQ(l.first, combo->itemText(0).toStdString()) << l.id;
        EXPECT_EQ(l.last, combo->itemText(l.count - 1).toStdString()) << l.id;
    }
}

struct ScheduleCase {
    const char* name;
    int kind;
    std::vector<std::pair<unsigned, int>> choices;  // list id and index; -1 none
    std::vector<unsigned> tickedDays;
    bool okEnabled;
};

class BackupPageScheduleTest : public BackupPageTest,
                               public ::testing::WithParamInterface<ScheduleCase> {};

TEST_P(BackupPageScheduleTest, OkFollowsTheChosenKindsCompleteness) {
    Find<QCheckBox>(*page_, 1029)->setChecked(true);
    Find<QRadioButton>(*page_, 1030 + GetParam().kind)->click();
    for (unsigned id : {1099u, 1100u, 1101u, 1102u, 1103u, 1104u, 1105u, 1106u})
        Find<QComboBox>(*page_, id)->setCurrentIndex(-1);
    for (unsigned day = 1038; day <= 1044; ++day) Find<QCheckBox>(*page_, day)->setChecked(false);
    for (auto [id, index] : GetParam().choices) Find<QComboBox>(*page_, id)->setCurrentIndex(index);
    for (unsigned day : GetParam().tickedDays) Find<QCheckBox>(*page_, day)->setChecked(true);
    EXPECT_EQ(GetParam().okEnabled, Button(kCtlOk)->isEnabled());
    EXPECT_EQ(GetParam().okEnabled, page_->IsComplete());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, BackupPageScheduleTest,
    ::testing::Values(ScheduleCase{"WeekdayMinuteOnlyMonday", 1, {{1103, 30}}, {1039}, true},
                      ScheduleCase{"WeekdayNoTime", 1, {}, {1039}, false},
                      ScheduleCase{"WeekdayNoDay", 1, {{1102, 3}, {1103, 30}}, {}, false},
                      ScheduleCase{"DateMissingMinute", 0, {{1099, 0}, {1100, 1}}, {}, false},
                      ScheduleCase{"DateComplete", 0, {{1099, 0}, {1100, 1}, {1101, 0}}, {}, true},
                      ScheduleCase{"DailyComplete", 2, {{1104, 0}, {1105, 0}}, {}, true},
                      ScheduleCase{"IntervalNone", 3, {}, {}, false},
                      ScheduleCase{"IntervalOne", 3, {{1106, 0}}, {}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BackupPageTest, BackupNowFollowsTheBackupFlagAndSignals) {
    EXPECT_TRUE(Button(1057)->isEnabled());
    fx_.backupExecuting_ = 1;
    page_->RefreshBackupNow();
    EXPECT_FALSE(Button(1057)->isEnabled());
    fx_.backupExecuting_ = 0;
    page_->RefreshBackupNow();
    Button(1057)->click();
    EXPECT_EQ(std::vector<std::string>{std::string(kEventBackupNow)}, fx_.events_);
}

}  // namespace
}  // namespace tessarine::ui
