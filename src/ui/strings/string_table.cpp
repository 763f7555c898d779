#include "ui/strings/string_table.h"

#include <algorithm>
#include <iterator>

namespace tessarine::ui {
namespace {

constexpr StringTableEntry kStringTable[] = {
    {10000, "1.0.0"},
    {10002, "設定"},
    {10003, "結果"},
    {10004, "IPアドレス"},
    {10005, "機器名称"},
    {10007, "バックアップ＆指定ファイル検出ユーティリティ"},
    {10008, "成功"},
    {10009, "接続エラー"},
    {10010, "ファイルアクセスエラー"},
    {10011, "ファイル名"},
    {10012, "ファイルパス"},
    {10013, "検出時刻"},
    {10014, "件"},
    {10015, "エラー"},
    {10016, "通信エラーが発生しました。"},
    {10017, "ログインに失敗しました。ユーザー名またはパスワードを確認してください。"},
    {10019, "確認"},
    {10020, "接続エラー"},
    {10021, "%sを入力してください。"},
    {10022, "%sは%sの範囲で入力してください。"},
    {10023, "%sは%sで入力してください。"},
    {10024, "通信ポート"},
    {10025, "HTTPポート"},
    {10026, "HTTPSポート"},
    {10027, "設定時間"},
    {10028, "ユーザー名"},
    {10029, "パスワード"},
    {10030, "機器監視間隔"},
    {10031, "0-65535"},
    {10032, "0-60"},
    {10033, "1-60"},
    {10034, "半角数字"},
    {10035, "バックアップ元フォルダの指定が正しくありません。"},
    {10036, "バックアップ先フォルダの指定が正しくありません。"},
    {10037, "指定のフォルダ設定は既に登録済です。"},
    {10038, "フォルダ設定が未選択です。"},
    {10039, "設定の保存に失敗しました。"},
    {10040, "バックアップ成功しました。"},
    {10041, "バックアップ失敗しました。"},
    {10042, "指定ファイルが検出されました。"},
    {10043, "共通設定を設定してください。"},
    {10044, "バックアップ設定を設定してください。"},
    {10045, "バックアップ実行中です。"},
    {10046, "バックアップ処理実行中のため変更できません。"},
    {10047, "指定ファイル転送処理中のため変更できません。"},
    {10048, "フォルダ設定が複数選択されているため表示できません。"},
    {10049, "バックアップ設定が保存されていません。処理を継続しますか？"},
    {10050, "保存しました。"},
    {10051,
     "バックアップ元フォルダの指定が正しくありません。ローカルPCのフォルダーを指定してください。"},
    {10052, "ファイルパス"},
    {10150, "機器の検索"},
    {10151, "はい(&Y)"},
    {10152, "いいえ(&N)"},
};

constexpr bool IsInIdOrder() {
    for (std::size_t i = 1; i < std::size(kStringTable); ++i) {
        if (kStringTable[i - 1].id >= kStringTable[i].id) return false;
    }
    return true;
}
static_assert(IsInIdOrder(), "the string table is looked up by binary search");

}  // namespace

std::span<const StringTableEntry> StringTable() { return kStringTable; }

const char* FindStringTableText(unsigned id) {
    const auto* end = std::end(kStringTable);
    const auto* it = std::lower_bound(
        std::begin(kStringTable), end, id,
        [](const StringTableEntry& entry, unsigned wanted) { return entry.id < wanted; });
    return it != end && it->id == id ? it->text : nullptr;
}

}  // namespace tessarine::ui
