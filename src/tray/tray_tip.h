// The tray icon's tool tip: the program's title, while a backup runs its progress, and between
// runs how the last one ended and when the next one is due.
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "ui/last_backup_run.h"

namespace tessarine::ui {
class CLrcReaderWrapper;
}

namespace tessarine::tray {

// `title` alone when no count is known (total 0) or the run is through (done ≥ total);
// title + "\nバックアップ中\n計算中" while counting (total -1); else
// title + "\nバックアップ中\n(42.50%)" with done/total as a percentage.
std::string MakeTrayTip(const std::string& title, int total, int done);

// title + "\n前回のバックアップ：2026/12/11 03:52 ファイルアクセスエラー（38 件失敗）"
// (no such line before the first run) + "\n次回のバックアップ：2026/12/12 03:00" (or
// "…予定なし" for `nextRun` 0).
std::string MakeIdleTrayTip(const std::string& title, const std::optional<ui::LastBackupRun>& last,
                            std::time_t nextRun, const ui::CLrcReaderWrapper& strings);

}  // namespace tessarine::tray
