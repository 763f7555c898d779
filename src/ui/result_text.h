// Texts the result pages build from stored values: the shown form of a 14-digit time stamp, the
// text id of a backup result code, the reason of a failed backup entry, and the detection content
// of the detail box.
#pragma once

#include <string>
#include <vector>

#include "backup/backup_failure.h"
#include "detection/detect_file_result.h"

namespace tessarine::ui {

class CLrcReaderWrapper;

// "20171231235959" → "2017/12/31 23:59" (seconds dropped). A stamp that is not 12 or more
// digits is shown unchanged, so a damaged row still shows what was stored.
std::string FormatResultTime(const std::string& stamp);

// 10009 for 1 (connection), 10010 for 2 (file access), 10008 (success) for anything else.
unsigned BackupResultTextId(int resultCode);

// Replaces each "%s" of `pattern` with the next of `values` in one pass, so a value that itself
// holds "%s" (a file name) is never filled in turn; marks beyond the values stay.
std::string FillText(const std::string& pattern, const std::vector<std::string>& values);

// The string id of a failure reason's sentence (kStrFailureReasonFirst + the reason).
unsigned FailureReasonTextId(FailureReason reason);

// The shown reason of one failed entry: its sentence with the failure's detail filled in.
std::string FailureReasonText(const CLrcReaderWrapper& strings, const BackupFailure& failure);

// Hits grouped by runs of the same category: a line "<category> <count><unit>" and then each
// hit as two blanks and its text; every line ends in CR LF.
std::string BuildDetectionContent(const std::vector<DetectFileResultDetailData>& details,
                                  const std::string& unit);

}  // namespace tessarine::ui
