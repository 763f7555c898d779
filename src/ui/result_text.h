// Texts the result pages build from stored values: the shown form of a 14-digit time stamp, the
// text id of a backup result code, and the detection content of the detail box.
#pragma once

#include <string>
#include <vector>

#include "detection/detect_file_result.h"

namespace tessarine::ui {

// "20171231235959" → "2017/12/31 23:59" (seconds dropped). A stamp that is not 12 or more
// digits is shown unchanged, so a damaged row still shows what was stored.
std::string FormatResultTime(const std::string& stamp);

// 10009 for 1 (connection), 10010 for 2 (file access), 10008 (success) for anything else.
unsigned BackupResultTextId(int resultCode);

// Hits grouped by runs of the same category: a line "<category> <count><unit>" and then each
// hit as two blanks and its text; every line ends in CR LF.
std::string BuildDetectionContent(const std::vector<DetectFileResultDetailData>& details,
                                  const std::string& unit);

}  // namespace tessarine::ui
