#include "tray/tray_tip.h"

#include "base/string_utility.h"
#include "base/time_utility.h"
#include "ui/result_text.h"
#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"

namespace tessarine::tray {

std::string MakeTrayTip(const std::string& title, int total, int done) {
    if (total == -1) return title + "\nバックアップ中\n計算中";
    if (total <= 0 || done >= total || done < 0) return title;
    const float percent = static_cast<float>(done) / static_cast<float>(total) * 100.0f;
    return title + Format("\nバックアップ中\n(%2.02f%%)", percent);
}

std::string MakeIdleTrayTip(const std::string& title, const std::optional<ui::LastBackupRun>& last,
                            std::time_t nextRun, const ui::CLrcReaderWrapper& strings) {
    std::string tip = title;
    if (last) {
        std::string result = strings.Text(ui::BackupResultTextId(last->resultCode));
        if (last->failedCount > 0) {
            result += ui::FillText(strings.Text(ui::kStrTipFailedCount),
                                   {std::to_string(last->failedCount)});
        }
        tip += '\n';
        tip += ui::FillText(strings.Text(ui::kStrTipLastRun),
                            {ui::FormatResultTime(last->endStamp), result});
    }
    tip += "\n";
    tip += nextRun > 0 ? ui::FillText(strings.Text(ui::kStrTipNextRun),
                                      {ui::FormatResultTime(ToTimeStamp(nextRun))})
                       : strings.Text(ui::kStrTipNoNextRun);
    return tip;
}

}  // namespace tessarine::tray
