// The ids by which texts are looked up: messages of the built-in string table (10000-10089,
// 10100-10137 for the restore window),
// dialog templates (their own id names the dialog's title or tab title) and the tray menu's
// commands. Control captions are looked up by the control id inside its dialog.
#pragma once

namespace tessarine::ui {

// Dialog templates and the menu resource; a caption lookup names the template it belongs to.
enum DialogId : unsigned {
    kMenuTray = 4,                     // the tray menu (menu resource 4)
    kDlgAbout = 100,                   // version box
    kDlgNotifyBalloon = 101,           // notification pop-up
    kDlgCommonSetting = 133,           // settings window, common (device) page
    kDlgBackupSetting = 134,           // settings window, backup page
    kDlgDetectFileSetting = 135,       // settings window, detection page
    kDlgSelectUser = 136,              // credentials dialog
    kDlgSearchHost = 138,              // device search dialog
    kDlgResult = 139,                  // result window
    kDlgBackupResult = 140,            // result window, backup page
    kDlgDetectFileResult = 142,        // result window, detection page
    kDlgDetectFileResultDetail = 144,  // detail box of one detection result
    kDlgShareFolder = 1500,            // folder browser over the device share (our own)
    kDlgRestore = 1510,                // restore window (our own; its texts are 10100-10149)
};

// Controls and texts of the device-share folder browser (kDlgShareFolder).
enum ShareFolderControlId : unsigned {
    kCtlShareFolderLocationLabel = 1501,  // "場所"
    kCtlShareFolderLocation = 1502,       // the folder shown, read-only
    kCtlShareFolderListLabel = 1503,      // "フォルダー(&F)"
    kCtlShareFolderList = 1504,           // the folders in it
    kCtlShareFolderUp = 1505,             // "上へ(&U)"
    kCtlShareFolderListing = 1506,        // status text while a listing runs
    kCtlShareFolderEmpty = 1507,          // status text for a folder without folders
    kCtlShareFolderError = 1508,          // warning when a listing fails
    kCtlShareFolderNew = 1509,            // kStrNewFolderButton: a new folder in the one shown
    kCtlShareFolderNameEdit = 1510,       // the name in the new folder's name dialog
};

// Commands of the tray menu, in menu order; their captions are looked up under kMenuTray.
enum MenuCommandId : unsigned {
    kCmdSetting = 32780,    // "設定（&S）"
    kCmdResult = 32779,     // "結果（&R）"
    kCmdBackupNow = 32781,  // "今すぐバックアップ（&B）"
    kCmdLogin = 32778,      // "ログイン（&L)"
    kCmdVersion = 57664,    // "バージョン（&A)"
    kCmdExit = 57665,       // "終了（&E)"
    kCmdRestore = 32782,    // "復元（&O）" (text kStrRestoreMenu)
};

// Standard buttons every dialog uses.
enum CommonControlId : unsigned {
    kCtlOk = 1,
    kCtlCancel = 2,
};

// Messages and shared texts of the built-in string table.
enum StringId : unsigned {
    kStrVersion = 10000,          // "1.0.0"
    kStrSettingTitle = 10002,     // "設定"
    kStrResultTitle = 10003,      // "結果"
    kStrIpAddressColumn = 10004,  // "IPアドレス"
    kStrHostNameColumn = 10005,   // "機器名称"
    kStrTrayTip = 10007,  // "バックアップ＆指定ファイル検出ユーティリティ"
    kStrResultSuccess = 10008,          // "成功"
    kStrResultConnectError = 10009,     // "接続エラー"
    kStrResultFileAccessError = 10010,  // "ファイルアクセスエラー"
    kStrFileNameColumn = 10011,         // "ファイル名"
    kStrFilePathColumn = 10012,         // "ファイルパス"
    kStrDetectedTimeColumn = 10013,     // "検出時刻"
    kStrCountUnit = 10014,              // "件"
    kStrErrorCaption = 10015,           // "エラー"
    kStrCommunicationError = 10016,     // "通信エラーが発生しました。"
    kStrLoginFailed = 10017,            // "ログインに失敗しました。…"
    kStrConfirmCaption = 10019,         // "確認"
    kStrConnectError = 10020,           // "接続エラー"
    kStrEnterValue = 10021,             // "%sを入力してください。"
    kStrValueOutOfRange = 10022,        // "%sは%sの範囲で入力してください。"
    kStrValueBadForm = 10023,           // "%sは%sで入力してください。"
    kStrFieldSearchPort = 10024,        // "通信ポート"
    kStrFieldHttpPort = 10025,          // "HTTPポート"
    kStrFieldHttpsPort = 10026,         // "HTTPSポート"
    kStrFieldPopupTime = 10027,         // "設定時間"
    kStrFieldUserName = 10028,          // "ユーザー名"
    kStrFieldPassword = 10029,          // "パスワード"
    kStrFieldWatchInterval = 10030,     // "機器監視間隔"
    kStrRangePort = 10031,              // "0-65535"
    kStrRangePopupTime = 10032,         // "0-60"
    kStrRangeWatchInterval = 10033,     // "1-60"
    kStrFormDigits = 10034,             // "半角数字"
    kStrBadSourceFolder = 10035,  // "バックアップ元フォルダの指定が正しくありません。"
    kStrBadDestinationFolder = 10036,  // "バックアップ先フォルダの指定が正しくありません。"
    kStrPairExists = 10037,       // "指定のフォルダ設定は既に登録済です。"
    kStrPairNotChosen = 10038,    // "フォルダ設定が未選択です。"
    kStrSaveFailed = 10039,       // "設定の保存に失敗しました。"
    kStrBackupSucceeded = 10040,  // "バックアップ成功しました。"
    kStrBackupFailed = 10041,     // "バックアップ失敗しました。"
    kStrFilesDetected = 10042,    // "指定ファイルが検出されました。"
    kStrCommonSettingIncomplete = 10043,  // "共通設定を設定してください。"
    kStrBackupSettingIncomplete = 10044,  // "バックアップ設定を設定してください。"
    kStrBackupRunning = 10045,            // "バックアップ実行中です。"
    kStrBusyBackup = 10046,  // "バックアップ処理実行中のため変更できません。"
    kStrBusyForwarding = 10047,  // "指定ファイル転送処理中のため変更できません。"
    kStrPairsMultipleChosen = 10048,  // "フォルダ設定が複数選択されているため表示できません。"
    kStrDiscardBackupChanges =
        10049,  // "バックアップ設定が保存されていません。処理を継続しますか？"
    kStrSaved = 10050,  // "保存しました。"
    kStrSourceNotLocal = 10051,  // "バックアップ元フォルダの指定が正しくありません。ローカル…"
    kStrErrorListPathColumn = 10052,    // "ファイルパス"
    kStrBackupCounts = 10053,           // "%s 件中 %s 件成功"
    kStrErrorListReasonColumn = 10054,  // "理由"
    // The reasons of failed backup entries: kStrFailureReasonFirst + FailureReason.
    kStrFailureReasonFirst = 10055,
    kStrFailureReasonLast = 10071,
    kStrDestinationMissingCause = 10072,  // "バックアップ先フォルダ「%s」が機器にありません。…"
    kStrFailuresNotListed = 10073,  // "ほかに %s 件の失敗があります。"
    kStrTipLastRun = 10074,         // "前回のバックアップ：%s %s"
    kStrTipFailedCount = 10075,     // "（%s 件失敗）"
    kStrTipNextRun = 10076,         // "次回のバックアップ：%s"
    kStrTipNoNextRun = 10077,       // "次回のバックアップ：予定なし"
    // The destination check of the backup page and the browser's new folder.
    kStrCreateDestinationQuestion = 10078,  // "バックアップ先フォルダ「%s」が機器にありません。…"
    kStrDestinationCreated = 10079,  // "バックアップ先フォルダ「%s」を作成しました。"
    kStrDestinationNotCreated = 10080,  // "…「%s」を作成できませんでした。\n%s"
    kStrDestinationNotChecked = 10081,  // "…「%s」が機器にあるか確認できませんでした。\n%s"
    kStrDeviceNotReached = 10082,  // "機器に接続できませんでした。…"
    kStrNewFolderButton = 10083,   // "新しいフォルダー(&N)"
    kStrNewFolderTitle = 10084,    // "新しいフォルダー"
    kStrNewFolderName = 10085,     // "名前(&A):"
    kStrBadFolderName = 10086,     // "フォルダー名が正しくありません。…"
    kStrFolderNotCreated = 10087,  // "フォルダー「%s」を作成できませんでした。\n%s"
    kStrFolderNameTaken = 10088,  // "同じ名前のフォルダーまたはファイルがあります。"
    kStrCancelButton = 10089,  // "キャンセル"
    // The restore window (10100-10149); its controls carry these ids as their names.
    kStrRestoreMenu = 10100,        // "復元（&O）" (tray menu)
    kStrRestoreTitle = 10101,       // "復元" (window title, backup page button)
    kStrRestorePairLabel = 10102,   // "フォルダ設定(&P)"
    kStrRestoreTreeLabel = 10103,   // "復元するファイル(&F)"
    kStrRestoreNameColumn = 10104,  // "名前"
    kStrRestoreSizeColumn = 10105,  // "サイズ"
    kStrRestoreTimeColumn = 10106,  // "更新日時"
    kStrRestoreListing = 10107,     // "機器の一覧を取得しています..."
    kStrRestoreListError = 10108,   // "機器のフォルダを一覧できませんでした。"
    kStrRestoreListEmpty = 10109,  // "バックアップされたファイルがありません。"
    kStrRestoreTargetGroup = 10110,  // "復元先"
    kStrRestoreOriginal = 10111,     // "元の場所(&L)"
    kStrRestoreToFolder = 10112,     // "フォルダ(&D)"
    kStrRestoreBrowse = 10113,       // "参照(&B)"
    kStrRestoreOverwrite = 10114,    // "異なるファイルを上書きする(&W)"
    kStrRestoreStart = 10115,        // "復元(&R)"
    kStrRestoreCancel = 10116,       // "キャンセル(&C)"
    kStrRestoreClose = 10117,        // "閉じる"
    kStrRestoreProgress = 10118,     // "%s / %s 件"
    kStrRestoreSummary = 10119,  // "復元 %s 件、同一 %s 件、スキップ %s 件、失敗 %s 件"
    kStrRestoreCancelled = 10120,  // "復元をキャンセルしました。"
    kStrRestoreDeviceLost = 10121,  // "機器との接続が切れたため、残りは復元していません。"
    kStrRestoreSkippedLabel = 10122,   // "復元しなかったファイル"
    kStrRestoreNothingChosen = 10123,  // "復元するファイルを選択してください。"
    kStrRestoreBadFolder = 10124,  // "復元先フォルダの指定が正しくありません。"
    kStrRestoreBusy = 10125,  // "バックアップ処理実行中のため復元できません。"
    kStrRestoreNoPairs = 10126,     // "フォルダ設定がありません。"
    kStrRestoreCancelling = 10127,  // "キャンセルしています..."
    kStrRestoreDone = 10128,        // "復元が終了しました。"
    kStrRestoreErrorCode = 10129,   // "（エラー %s）"
    // Why a file was not restored: kStrRestoreReasonFirst + RestoreOutcome.
    kStrRestoreReasonFirst = 10130,
    kStrRestoreReasonLast = 10137,
    // Texts of this port's own windows (10150-10179).
    kStrSearchHostTitle = 10150,  // "機器の検索"
    kStrYesButton = 10151,        // "はい(&Y)"
    kStrNoButton = 10152,         // "いいえ(&N)"
};

}  // namespace tessarine::ui
