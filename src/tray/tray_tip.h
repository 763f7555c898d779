// The tray icon's tool tip: the program's title, and while a backup runs its progress.
#pragma once

#include <string>

namespace tessarine::tray {

// `title` alone when no count is known (total 0) or the run is through (done ≥ total);
// title + "\nバックアップ中\n計算中" while counting (total -1); else
// title + "\nバックアップ中\n(42.50%)" with done/total as a percentage.
std::string MakeTrayTip(const std::string& title, int total, int done);

}  // namespace tessarine::tray
