#include "ui/strings/lrc_reader_wrapper.h"

#include <gtest/gtest.h>

#include "fakes/lrc_builder.h"
#include "fakes/test_support.h"
#include "platform/app_paths.h"
#include "ui/strings/string_ids.h"

namespace tessarine::ui {
namespace {

using testing::LrcBuilder;
using testing::LrcString;

bool AnyFont(std::uint32_t) { return true; }

class LrcReaderWrapperTest : public ::testing::Test {
protected:
    std::string Path() const { return dir_.Sub("TessarineTool.lrc"); }
    testing::TempDir dir_;
};

struct LookupCase {
    unsigned dialog;  // 0: a text lookup by id
    unsigned id;
    const char* expected;
};

void ExpectLookups(const CLrcReaderWrapper& strings, std::initializer_list<LookupCase> cases) {
    for (const LookupCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.dialog << "/" << c.id);
        EXPECT_EQ(c.dialog == 0 ? strings.Text(c.id) : strings.Caption(c.dialog, c.id), c.expected);
    }
}

// Without a container every message still shows and no caption goes blank.
TEST_F(LrcReaderWrapperTest, WithoutAContainerTextsComeFromTheBuiltInTables) {
    CLrcReaderWrapper strings(Path(), AnyFont);
    EXPECT_FALSE(strings.HasContainer());
    EXPECT_EQ(strings.LoadResult(), LrcError::kMissing);
    ExpectLookups(strings, {
                               {0, kStrVersion, "1.0.0"},
                               {0, kStrSettingTitle, "設定"},
                               {0, kStrErrorListPathColumn, "ファイルパス"},
                               {0, 10001, ""},
                               {0, 1007, ""},  // a caption is no message
                               {kDlgCommonSetting, 1007, "手動で機器を設定する。(&E)"},
                               {kDlgCommonSetting, kDlgCommonSetting, "共通設定"},
                               {kDlgCommonSetting, 1019, "ユーザー"},
                               {kDlgSelectUser, 1019, "ユーザー名"},
                               {kMenuTray, kCmdLogin, "ログイン（&L)"},
                               {kDlgResult, kStrResultTitle, "結果"},
                               {kDlgCommonSetting, 4242, ""},
                           });
}

TEST_F(LrcReaderWrapperTest, ContainerTextsComeFirstAndTheRestFallsBack) {
    ASSERT_TRUE(LrcBuilder()
                    .Add(LrcString(kStrSettingTitle, "Settings"))
                    .Add(LrcString(1007, "Manual setting").Key(u'e', 1))
                    .Add(LrcString(kCmdSetting, "Settings\tCtrl+S").Key(u'S', 1 | 4).Kind(5))
                    .Add(LrcString(kDlgCommonSetting, "Common"))
                    .WriteTo(Path()));
    CLrcReaderWrapper strings(Path(), AnyFont);
    EXPECT_TRUE(strings.HasContainer());
    ExpectLookups(strings, {
                               {0, kStrSettingTitle, "Settings"},
                               {0, kStrResultTitle, "結果"},
                               {0, 1007, "Manual s&etting"},
                               {kDlgCommonSetting, 1007, "Manual s&etting"},
                               {kDlgCommonSetting, kDlgCommonSetting, "Common"},
                               {kDlgCommonSetting, 1008, "機器選択(&C)"},
                               {kMenuTray, kCmdSetting, "&Settings...\tCtrl+S"},
                               {kMenuTray, kCmdExit, "終了（&E)"},
                           });
}

struct BrokenCase {
    const char* name;
    std::string bytes;
    LrcError expected;
};

// A broken container is ignored as a whole: nothing of it shows, the built-in texts do.
TEST_F(LrcReaderWrapperTest, ABrokenContainerIsIgnoredWhole) {
    const std::string good = LrcBuilder().Add(LrcString(kStrSettingTitle, "Settings")).Build();
    std::string badMagic = good;
    badMagic[0] = 'X';
    const BrokenCase cases[] = {
        {"size mismatch", good + "\n", LrcError::kSizeMismatch},
        {"bad magic", badMagic, LrcError::kBadMagic},
        {"short", good.substr(0, 100), LrcError::kTooShort},
    };
    for (const BrokenCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(testing::WriteFile(Path(), c.bytes));
        CLrcReaderWrapper strings(Path(), AnyFont);
        EXPECT_FALSE(strings.HasContainer());
        EXPECT_EQ(strings.LoadResult(), c.expected);
        EXPECT_EQ(strings.Text(kStrSettingTitle), "設定");
    }
    ASSERT_TRUE(testing::WriteFile(Path(), good));
    CLrcReaderWrapper rejected(Path(), [](std::uint32_t) { return false; });
    EXPECT_EQ(rejected.LoadResult(), LrcError::kNoDisplayFont);
    EXPECT_EQ(rejected.Text(kStrSettingTitle), "設定");
}

// Each wrapper reads the file anew: a replaced container shows at the next lookup.
TEST_F(LrcReaderWrapperTest, EachWrapperReadsTheFileAnew) {
    ASSERT_TRUE(LrcBuilder().Add(LrcString(kStrSettingTitle, "One")).WriteTo(Path()));
    CLrcReaderWrapper first(Path(), AnyFont);
    ASSERT_TRUE(LrcBuilder().Add(LrcString(kStrSettingTitle, "Two")).WriteTo(Path()));
    CLrcReaderWrapper second(Path(), AnyFont);
    EXPECT_EQ(first.Text(kStrSettingTitle), "One");
    EXPECT_EQ(second.Text(kStrSettingTitle), "Two");
}

TEST_F(LrcReaderWrapperTest, TheContainerSitsBesideTheExecutableUnderItsTitle) {
    const std::string path = CLrcReaderWrapper::ContainerPath();
    const std::string executable = GetExecutablePath();
    ASSERT_FALSE(executable.empty());
    const std::string folder = executable.substr(0, executable.rfind('/'));
    EXPECT_EQ(path, folder + "/" + GetExecutableTitle() + ".lrc");
}

}  // namespace
}  // namespace tessarine::ui
