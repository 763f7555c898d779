#include "infra/app_exception.h"

#include <array>
#include <string_view>

namespace tessarine {

namespace {

template <std::size_t N>
std::string Lookup(const std::array<std::string_view, N>& table, int code) {
    if (code < 0 || static_cast<std::size_t>(code) >= N) return std::string();
    return std::string(table[static_cast<std::size_t>(code)]);
}

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

constexpr std::array<std::string_view, 4> kDetectFileExecuteMessages = {
    "フル転送エラー", "差分転送エラー", "ファイルリスト生成エラー", "ファイルリスト転送エラー"};

constexpr std::array<std::string_view, 15> kDetectFileSQLMessages = {
    "指定ファイル検出実行判定エラー",
    "指定ファイル検出フル転送判定エラー",
    "指定ファイル検出情報取得エラー",
    "指定ファイル検出ファイルリスト情報取得パラメータバインドエラー",
    "指定ファイル検出ファイルリスト情報取得エラー",
    "サーバファイル名件数取得エラー",
    "指定ファイル検出情報追加エラー",
    "指定ファイル検出情報状態一括更新エラー",
    "指定ファイル検出情報初期状態更新エラー",
    "指定ファイル検出情報送信状態更新エラー",
    "指定ファイル検出情報状態指定更新エラー",
    "指定ファイル検出情報更新エラー",
    "指定ファイル検出情報削除エラー",
    "指定ファイル検出情報全件削除エラー",
    "指定ファイル検出情報一括削除エラー"};

constexpr std::array<std::string_view, 5> kDetectFileResultSQLMessages = {
    "指定ファイル検出結果追加エラー", "指定ファイル検出結果取得エラー",
    "指定ファイル検出結果詳細追加エラー", "指定ファイル検出結果詳細取得パラメータバインドエラー",
    "指定ファイル検出結果詳細取得エラー"};

constexpr std::array<std::string_view, 5> kDetectFileXMLMessages = {
    "サーバ側設定ファイル読込みエラー", "検出結果ファイル読込みエラー",
    "ファイルリストオープンエラー", "ファイルリスト書込みエラー", "ファイルリストクローズエラー"};

constexpr std::array<std::string_view, 2> kSearchAgentXMLMessages = {
    "リクエストデータ書込みエラー", "レスポンスデータ読込みエラー"};

}  // namespace

const char* CAppException::what() const noexcept {
    try {
        what_ = GetErrorMessage();
    } catch (...) {
        what_.clear();
    }
    return what_.c_str();
}

std::string CBackupExecuteException::GetErrorMessage() const {
    return Lookup(kBackupExecuteMessages, GetErrorCode());
}
std::string CBackupSQLException::GetErrorMessage() const {
    return Lookup(kBackupSQLMessages, GetErrorCode());
}
std::string CBackupXMLException::GetErrorMessage() const {
    return Lookup(kBackupXMLMessages, GetErrorCode());
}
std::string CDetectFileExecuteException::GetErrorMessage() const {
    return Lookup(kDetectFileExecuteMessages, GetErrorCode());
}
std::string CDetectFileSQLException::GetErrorMessage() const {
    return Lookup(kDetectFileSQLMessages, GetErrorCode());
}
std::string CDetectFileResultSQLException::GetErrorMessage() const {
    return Lookup(kDetectFileResultSQLMessages, GetErrorCode());
}
std::string CDetectFileXMLException::GetErrorMessage() const {
    return Lookup(kDetectFileXMLMessages, GetErrorCode());
}
std::string CSearchAgentXMLException::GetErrorMessage() const {
    return Lookup(kSearchAgentXMLMessages, GetErrorCode());
}

}  // namespace tessarine
