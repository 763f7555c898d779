#include "core/progress_counters.h"

namespace tessarine {

std::atomic<int> BackupTotalCount{0};
std::atomic<int> BackupDoneCount{0};

}  // namespace tessarine
