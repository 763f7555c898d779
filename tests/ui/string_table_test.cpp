#include "ui/strings/string_table.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "ui/strings/built_in_captions.h"
#include "ui/strings/string_ids.h"

namespace tessarine::ui {
namespace {

// Ids 10000-10089 without 10001, 10006 and 10018: a container and the callers rely on them;
// 10100-10137 for the restore window; 10150-10152 for the windows' own title and the
// question buttons.
TEST(StringTableTest, HoldsExactlyTheMessageIds) {
    std::set<unsigned> expected;
    for (unsigned id = 10000; id <= 10089; ++id) {
        if (id != 10001 && id != 10006 && id != 10018) expected.insert(id);
    }
    for (unsigned id = 10100; id <= 10137; ++id) expected.insert(id);
    for (unsigned id = 10150; id <= 10152; ++id) expected.insert(id);
    std::set<unsigned> ids;
    for (const StringTableEntry& entry : StringTable()) {
        EXPECT_TRUE(ids.insert(entry.id).second) << entry.id;
        EXPECT_NE(entry.text[0], '\0') << entry.id;
    }
    EXPECT_EQ(ids, expected);
    EXPECT_EQ(StringTable().size(), expected.size());
}

TEST(StringTableTest, TextsAsTheCallersUseThem) {
    const std::pair<unsigned, const char*> cases[] = {
        {10000, "1.0.0"},
        {10007, "バックアップ＆指定ファイル検出ユーティリティ"},
        {10009, "接続エラー"},
        {10020, "接続エラー"},
        {10021, "%sを入力してください。"},
        {10022, "%sは%sの範囲で入力してください。"},
        {10031, "0-65535"},
        {10045, "バックアップ実行中です。"},
        {10049, "バックアップ設定が保存されていません。処理を継続しますか？"},
        {10051,
         "バックアップ元フォルダの指定が正しくありません。ローカルPCのフォルダーを指定してください"
         "。"},
        {10052, "ファイルパス"},
    };
    for (const auto& [id, text] : cases) {
        ASSERT_NE(FindStringTableText(id), nullptr) << id;
        EXPECT_STREQ(FindStringTableText(id), text) << id;
    }
    for (const unsigned absent : {0u, 1007u, 9999u, 10001u, 10006u, 10018u, 10090u}) {
        EXPECT_EQ(FindStringTableText(absent), nullptr) << absent;
    }
}

// One caption per control of a dialog; the same control id may differ between dialogs.
TEST(BuiltInCaptionsTest, EachDialogNamesAControlOnce) {
    std::set<std::pair<unsigned, unsigned>> seen;
    for (const BuiltInCaption& caption : BuiltInCaptions()) {
        EXPECT_TRUE(seen.insert({caption.dialog, caption.control}).second)
            << caption.dialog << "/" << caption.control;
        EXPECT_NE(caption.text[0], '\0');
    }
    EXPECT_STREQ(FindBuiltInCaption(kDlgCommonSetting, 1019), "ユーザー");
    EXPECT_STREQ(FindBuiltInCaption(kDlgSelectUser, 1019), "ユーザー名");
    EXPECT_EQ(FindBuiltInCaption(kDlgSelectUser, 1007), nullptr);
}

// The tray menu's five commands, in menu order, with their access keys.
TEST(BuiltInCaptionsTest, TrayMenuCaptions) {
    const std::pair<unsigned, const char*> menu[] = {
        {32780, "設定（&S）"},    {32779, "結果（&R）"},      {32781, "今すぐバックアップ（&B）"},
        {32778, "ログイン（&L)"}, {57664, "バージョン（&A)"}, {57665, "終了（&E)"},
    };
    for (const auto& [command, text] : menu) {
        ASSERT_NE(FindBuiltInCaption(kMenuTray, command), nullptr) << command;
        EXPECT_STREQ(FindBuiltInCaption(kMenuTray, command), text);
    }
}

}  // namespace
}  // namespace tessarine::ui
