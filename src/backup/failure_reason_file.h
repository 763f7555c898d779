// "failure_reasons.xml" in the backup folder: every failure of the last run with its reason,
// written beside "deteil_result.xml" (whose form other readers rely on) and with the same
// counts, so a reader can tell that both belong to one run.
//
//   <failurereasons><execute_count>N</execute_count><success_count>M</success_count>
//     <path>…</path><reason>2</reason><detail>…</detail>   (detail only when there is one)
//     …</failurereasons>
#pragma once

#include <string>

#include "backup/backup_error_list.h"
#include "infra/xml_parse.h"

namespace tessarine {

class CFailureReasonFile : public CXMLParse {
public:
    // `backupFolderPath` ends with '/'.
    explicit CFailureReasonFile(std::string backupFolderPath);

    // Removes the file of an earlier run, so that a failed write leaves none rather than one
    // that belongs to another run. True when there is no file afterwards.
    bool Remove();
    // Writes the counts and `list.failures`; false (logged) when it cannot.
    bool Write(const BackupErrorList& list);
    // Fills the counts and `failures` of `list` (its paths stay); false when there is no file
    // or it is broken (logged), leaving `list` untouched then.
    bool Read(BackupErrorList& list);

    std::string Path() const;

private:
    std::string backupFolderPath_;
};

}  // namespace tessarine
