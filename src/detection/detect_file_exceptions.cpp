#include "detection/detect_file_exceptions.h"

#include <array>
#include <string_view>

namespace tessarine {

namespace {

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

}  // namespace

std::string CDetectFileExecuteException::GetErrorMessage() const {
    return ExceptionMessage(kDetectFileExecuteMessages, GetErrorCode());
}
std::string CDetectFileSQLException::GetErrorMessage() const {
    return ExceptionMessage(kDetectFileSQLMessages, GetErrorCode());
}
std::string CDetectFileResultSQLException::GetErrorMessage() const {
    return ExceptionMessage(kDetectFileResultSQLMessages, GetErrorCode());
}
std::string CDetectFileXMLException::GetErrorMessage() const {
    return ExceptionMessage(kDetectFileXMLMessages, GetErrorCode());
}

}  // namespace tessarine
