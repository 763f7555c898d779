// The failures of one backup run: the first `capacity` failed source paths (what the detail
// result file holds), every failure with its reason up to kFailureLimit (kept beside it), plus
// how many entries were processed and how many succeeded.
#pragma once

#include <string>
#include <vector>

#include "backup/backup_failure.h"

namespace tessarine {

struct BackupErrorList {
    // Failures kept with their reasons; a run beyond it only counts the rest, so a device gone
    // for a whole tree cannot grow the list (and the file beside the result) without bound.
    static constexpr int kFailureLimit = 20000;

    int capacity = 10;
    int executeCount = 0;
    int successCount = 0;
    std::vector<std::string> paths;
    std::vector<BackupFailure> failures;

    void Clear() {
        executeCount = 0;
        successCount = 0;
        paths.clear();
        failures.clear();
    }
    void AddSuccess() {
        ++executeCount;
        ++successCount;
    }
    // Counts the failure; keeps the path while fewer than `capacity` are kept, and the path
    // with its reason while fewer than kFailureLimit are.
    void AddFailure(const std::string& path, FailureReason reason = FailureReason::kUnknown,
                    std::string detail = std::string()) {
        ++executeCount;
        if (static_cast<int>(paths.size()) < capacity) paths.push_back(path);
        if (static_cast<int>(failures.size()) < kFailureLimit)
            failures.push_back(BackupFailure{path, reason, std::move(detail)});
    }
};

}  // namespace tessarine
