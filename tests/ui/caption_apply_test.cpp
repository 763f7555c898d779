#include "ui/strings/caption_apply.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include "fakes/lrc_builder.h"
#include "fakes/test_support.h"
#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"

namespace tessarine::ui {
namespace {

TEST(CaptionApplyTest, AccessibleNamesDropTheAccessKeyMarks) {
    const std::pair<const char*, const char*> cases[] = {
        {"手動で機器を設定する。(&E)", "手動で機器を設定する。"},
        {"設定（&S）", "設定"},
        {"ログイン（&L)", "ログイン"},
        {"PCの起動時にバックアップする。（&w）", "PCの起動時にバックアップする。"},
        {"&Save...\tCtrl+S", "Save...\tCtrl+S"},
        {"Fish && Chips", "Fish & Chips"},
        {"OK", "OK"},
    };
    for (const auto& [caption, name] : cases) {
        EXPECT_EQ(AccessibleNameOf(QString::fromUtf8(caption)), QString::fromUtf8(name)) << caption;
    }
}

TEST(CaptionApplyTest, ControlIdsAreReadFromObjectNames) {
    EXPECT_EQ(ControlObjectName(1007), QStringLiteral("ctl1007"));
    EXPECT_EQ(ControlIdOf(QStringLiteral("ctl1007")), 1007u);
    EXPECT_EQ(ControlIdOf(QStringLiteral("ctl1")), 1u);
    for (const char* other : {"", "ctl", "ctl0", "ctl12a", "xctl12", "ctl99999999999"}) {
        EXPECT_EQ(ControlIdOf(QString::fromUtf8(other)), 0u) << other;
    }
}

// Buttons, labels and group boxes show their captions; labels name their fields.
TEST(CaptionApplyTest, CaptionsAndAccessibleNamesReachTheControls) {
    testing::TempDir dir;
    const std::string path = dir.Sub("TessarineTool.lrc");
    ASSERT_TRUE(
        testing::LrcBuilder().Add(testing::LrcString(1017, "Use SSL").Key(u'U', 1)).WriteTo(path));
    CLrcReaderWrapper strings(path, [](std::uint32_t) { return true; });

    QWidget page;
    auto* manual = new QCheckBox(&page);
    manual->setObjectName(ControlObjectName(1007));
    auto* ssl = new QCheckBox(&page);
    ssl->setObjectName(ControlObjectName(1017));
    auto* nameLabel = new QLabel(&page);
    nameLabel->setObjectName(ControlObjectName(1010));
    auto* nameEdit = new QLineEdit(&page);
    nameEdit->setObjectName(ControlObjectName(1009));
    nameLabel->setBuddy(nameEdit);
    auto* ok = new QPushButton(QStringLiteral("keep"), &page);
    ok->setObjectName(ControlObjectName(kCtlOk));
    auto* unknown = new QPushButton(QStringLiteral("keep"), &page);
    unknown->setObjectName(ControlObjectName(4242));
    auto* group = new QGroupBox(&page);
    group->setObjectName(ControlObjectName(1113));

    ApplyCaptions(page, kDlgCommonSetting, strings);
    EXPECT_EQ(manual->text(), QStringLiteral("手動で機器を設定する。(&E)"));
    EXPECT_EQ(manual->accessibleName(), QStringLiteral("手動で機器を設定する。"));
    EXPECT_EQ(ssl->text(), QStringLiteral("&Use SSL"));
    EXPECT_EQ(ssl->accessibleName(), QStringLiteral("Use SSL"));
    EXPECT_EQ(nameLabel->text(), QStringLiteral("機器名称"));
    EXPECT_EQ(nameEdit->accessibleName(), QStringLiteral("機器名称"));
    EXPECT_EQ(ok->text(), QStringLiteral("OK"));
    EXPECT_EQ(unknown->text(), QStringLiteral("keep"));
    EXPECT_TRUE(unknown->accessibleName().isEmpty());
    // 1113 belongs to the backup page, not to this one.
    EXPECT_TRUE(group->title().isEmpty());

    ApplyCaptions(page, kDlgBackupSetting, strings);
    EXPECT_EQ(group->title(), QStringLiteral("スケジュール設定"));
}

}  // namespace
}  // namespace tessarine::ui
