#include "tray/tray_tip.h"

#include "base/string_utility.h"

namespace tessarine::tray {

std::string MakeTrayTip(const std::string& title, int total, int done) {
    if (total == -1) return title + "\nバックアップ中\n計算中";
    if (total <= 0 || done >= total || done < 0) return title;
    const float percent = static_cast<float>(done) / static_cast<float>(total) * 100.0f;
    return title + Format("\nバックアップ中\n(%2.02f%%)", percent);
}

}  // namespace tessarine::tray
