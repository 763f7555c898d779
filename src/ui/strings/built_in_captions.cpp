#include "ui/strings/built_in_captions.h"

#include "ui/strings/string_ids.h"

namespace tessarine::ui {
namespace {

// Control ids repeat between dialogs (1019 is "ユーザー" on the common page and "ユーザー名" in
// the credentials dialog), so a caption belongs to its dialog.
constexpr BuiltInCaption kCaptions[] = {
    // Tray menu, in menu order.
    {kMenuTray, kCmdSetting, "設定（&S）"},
    {kMenuTray, kCmdResult, "結果（&R）"},
    {kMenuTray, kCmdBackupNow, "今すぐバックアップ（&B）"},
    {kMenuTray, kCmdLogin, "ログイン（&L)"},
    {kMenuTray, kCmdVersion, "バージョン（&A)"},
    {kMenuTray, kCmdExit, "終了（&E)"},

    // Version box.
    {kDlgAbout, kDlgAbout, "バージョン情報"},
    {kDlgAbout, 1003, "日本語"},  // the language line reads "Language " and this
    {kDlgAbout, kCtlOk, "OK"},

    // Notification pop-up.
    {kDlgNotifyBalloon, 1102, "結果"},
    {kDlgNotifyBalloon, kCtlCancel, "閉じる"},

    // Settings window, common page (its id is the tab title).
    {kDlgCommonSetting, kDlgCommonSetting, "共通設定"},
    {kDlgCommonSetting, 1007, "手動で機器を設定する。(&E)"},
    {kDlgCommonSetting, 1008, "機器選択(&C)"},
    {kDlgCommonSetting, 1010, "機器名称"},
    {kDlgCommonSetting, 1011, "機器IPアドレス"},
    {kDlgCommonSetting, 1014, "HTTPポート番号"},
    {kDlgCommonSetting, 1016, "HTTPSポート番号"},
    {kDlgCommonSetting, 1017, "SSLを使用する。(&U)"},
    {kDlgCommonSetting, 1018, "デスクトップに本体へのショートカットを作成する。"},
    {kDlgCommonSetting, 1019, "ユーザー"},
    {kDlgCommonSetting, 1020, "イベントポップアップ消去までの時間"},
    {kDlgCommonSetting, 1023, "秒(0-60)"},
    {kDlgCommonSetting, 1024, "（0の場合は、自動的に消去しない）"},
    {kDlgCommonSetting, 1025, "設定(&S)"},
    {kDlgCommonSetting, kCtlOk, "OK"},
    {kDlgCommonSetting, kCtlCancel, "閉じる"},

    // Settings window, backup page.
    {kDlgBackupSetting, kDlgBackupSetting, "バックアップ設定"},
    {kDlgBackupSetting, 1029, "スケジュール設定する(&S)"},
    {kDlgBackupSetting, 1030, "日時刻指定"},
    {kDlgBackupSetting, 1031, "曜日時刻指定"},
    {kDlgBackupSetting, 1032, "時刻指定"},
    {kDlgBackupSetting, 1033, "インターバル設定"},
    {kDlgBackupSetting, 1034, "日"},
    {kDlgBackupSetting, 1035, "時"},
    {kDlgBackupSetting, 1036, "分"},
    {kDlgBackupSetting, 1038, "日"},
    {kDlgBackupSetting, 1039, "月"},
    {kDlgBackupSetting, 1040, "火"},
    {kDlgBackupSetting, 1041, "水"},
    {kDlgBackupSetting, 1042, "木"},
    {kDlgBackupSetting, 1043, "金"},
    {kDlgBackupSetting, 1044, "土"},
    {kDlgBackupSetting, 1046, "時"},
    {kDlgBackupSetting, 1048, "分"},
    {kDlgBackupSetting, 1051, "時"},
    {kDlgBackupSetting, 1053, "分"},
    {kDlgBackupSetting, 1056, "時間"},
    {kDlgBackupSetting, 1057, "今すぐバックアップする"},
    {kDlgBackupSetting, 1059, "バックアップ元"},
    {kDlgBackupSetting, 1060, "バックアップ先"},
    {kDlgBackupSetting, 1061, "参照"},
    {kDlgBackupSetting, 1062, "参照"},
    {kDlgBackupSetting, 1063, "追加"},
    {kDlgBackupSetting, 1028, "コピー"},
    {kDlgBackupSetting, 1026, "削除"},
    {kDlgBackupSetting, 1027, "ファイル管理"},
    {kDlgBackupSetting, 1064, "PCのシャットダウン前にバックアップする。(&B)"},
    {kDlgBackupSetting, 1116, "PCの起動時にバックアップする。（&w）"},
    {kDlgBackupSetting, 1065, "バックアップ完了時、ポップアップ通知する。(&P)"},
    {kDlgBackupSetting, 1066, "ファイル削除をバックアップ先に反映する。(&D)"},
    {kDlgBackupSetting, 1113, "スケジュール設定"},
    {kDlgBackupSetting, 1150, "除外(&X)"},
    {kDlgBackupSetting, 1152, "除外を設定(&T)"},
    {kDlgBackupSetting, 1153, "除外パターン"},
    {kDlgBackupSetting, 1114, "バックアップフォルダー設定"},
    {kDlgBackupSetting, 1115, "オプション"},
    {kDlgBackupSetting, kCtlOk, "OK"},
    {kDlgBackupSetting, kCtlCancel, "閉じる"},

    // Settings window, detection page.
    {kDlgDetectFileSetting, kDlgDetectFileSetting, "指定ファイル検出設定"},
    {kDlgDetectFileSetting, 1068, "指定ファイル検出時、ポップアップ通知する。(&P)"},
    {kDlgDetectFileSetting, 1069, "機器監視間隔"},
    {kDlgDetectFileSetting, 1071, "分(1-60)"},
    {kDlgDetectFileSetting, kCtlOk, "OK"},
    {kDlgDetectFileSetting, kCtlCancel, "閉じる"},

    // Credentials dialog.
    {kDlgSelectUser, kDlgSelectUser, "ユーザー設定"},
    {kDlgSelectUser, 1019, "ユーザー名"},
    {kDlgSelectUser, 1072, "パスワード"},
    {kDlgSelectUser, kCtlOk, "OK"},
    {kDlgSelectUser, kCtlCancel, "閉じる"},

    // Device search dialog.
    {kDlgSearchHost, kDlgSearchHost, "設定"},
    {kDlgSearchHost, 1076, "IPアドレスまたはホスト名(&A)"},
    {kDlgSearchHost, 1077, "検出された機器(&D)"},
    {kDlgSearchHost, 1079, "検索ポート番号"},
    {kDlgSearchHost, 1082, "規定の通信ポートを変更する(&C)"},
    {kDlgSearchHost, 3, "更新(&R)"},
    {kDlgSearchHost, kCtlOk, "OK"},
    {kDlgSearchHost, kCtlCancel, "閉じる"},

    // Result window (its title is string 10003) and its two pages (their ids are the tab titles).
    {kDlgResult, kDlgResult, "結果"},
    {kDlgBackupResult, kDlgBackupResult, "バックアップ結果"},
    {kDlgBackupResult, 1085, "前回開始："},
    {kDlgBackupResult, 1086, "前回終了："},
    {kDlgBackupResult, 1087, "結果："},
    {kDlgBackupResult, 1108, "バックアップ対象数："},
    {kDlgBackupResult, 1110, "バックアップ処理数："},
    {kDlgBackupResult, 1112, "詳細エラー結果"},
    {kDlgBackupResult, kCtlCancel, "閉じる"},
    {kDlgDetectFileResult, kDlgDetectFileResult, "指定ファイル検出結果"},
    {kDlgDetectFileResult, 1089, "詳細"},
    {kDlgDetectFileResult, kCtlCancel, "閉じる"},

    // Detail box of one detection result.
    {kDlgDetectFileResultDetail, kDlgDetectFileResultDetail, "指定ファイル検出 詳細結果"},
    {kDlgDetectFileResultDetail, 1092, "ファイル名"},
    {kDlgDetectFileResultDetail, 1094, "ファイルパス"},
    {kDlgDetectFileResultDetail, 1095, "検出内容"},
    {kDlgDetectFileResultDetail, kCtlOk, "OK"},

    // Folder browser over the device share ("参照" of a backup destination).
    {kDlgShareFolder, kDlgShareFolder, "フォルダーの参照"},
    {kDlgShareFolder, kCtlShareFolderLocationLabel, "場所"},
    {kDlgShareFolder, kCtlShareFolderListLabel, "フォルダー(&F)"},
    {kDlgShareFolder, kCtlShareFolderUp, "上へ(&U)"},
    {kDlgShareFolder, kCtlShareFolderListing, "読み込み中..."},
    {kDlgShareFolder, kCtlShareFolderEmpty, "このフォルダーにはフォルダーがありません。"},
    {kDlgShareFolder, kCtlShareFolderError, "フォルダーの一覧を取得できませんでした。"},
    {kDlgShareFolder, kCtlOk, "OK"},
    {kDlgShareFolder, kCtlCancel, "閉じる"},
};

}  // namespace

std::span<const BuiltInCaption> BuiltInCaptions() { return kCaptions; }

const char* FindBuiltInCaption(unsigned dialog, unsigned control) {
    for (const BuiltInCaption& caption : kCaptions) {
        if (caption.dialog == dialog && caption.control == control) return caption.text;
    }
    return nullptr;
}

}  // namespace tessarine::ui
