#include "backup/backup_exceptions.h"

#include <array>
#include <string_view>

namespace tessarine {

namespace {

constexpr std::array<std::string_view, 3> kBackupExecuteMessages = {
    "フルバックアップエラー", "差分バックアップエラー", "サーバ結果ファイル転送エラー"};

constexpr std::array<std::string_view, 13> kBackupSQLMessages = {
    "バックアップファイル数取得エラー",
    "バックアップ情報取得エラー",
    "バックアップ状態別情報取得パラメータバインドエラー",
    "バックアップ状態別情報取得エラー",
    "バックアップ情報追加エラー",
    "バックアップ状態一括更新エラー",
    "バックアップ状態個別更新エラー",
    "バックアップ情報更新エラー",
    "バックアップ設定更新エラー",
    "バックアップ情報削除エラー",
    "バックアップ設定削除エラー",
    "バックアップ設定変更開始エラー",
    "バックアップ設定変更終了エラー"};

constexpr std::array<std::string_view, 5> kBackupXMLMessages = {
    "バックアップ結果ファイル作成エラー", "バックアップ結果ファイル読み込みエラー",
    "バックアップ結果ファイル（サーバ格納用）作成エラー", "バックアップ詳細結果ファイル作成エラー",
    "バックアップ詳細結果ファイル読み込みエラー"};

}  // namespace

std::string CBackupExecuteException::GetErrorMessage() const {
    return ExceptionMessage(kBackupExecuteMessages, GetErrorCode());
}
std::string CBackupSQLException::GetErrorMessage() const {
    return ExceptionMessage(kBackupSQLMessages, GetErrorCode());
}
std::string CBackupXMLException::GetErrorMessage() const {
    return ExceptionMessage(kBackupXMLMessages, GetErrorCode());
}

}  // namespace tessarine
