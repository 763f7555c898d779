// The failures of one backup run: the first `capacity` failed source paths, plus how many
// entries were processed and how many succeeded.
#pragma once

#include <string>
#include <vector>

namespace tessarine {

struct BackupErrorList {
    int capacity = 10;
    int executeCount = 0;
    int successCount = 0;
    std::vector<std::string> paths;

    void Clear() {
        executeCount = 0;
        successCount = 0;
        paths.clear();
    }
    void AddSuccess() {
        ++executeCount;
        ++successCount;
    }
    // Counts the failure; keeps the path while fewer than `capacity` are kept.
    void AddFailure(const std::string& path) {
        ++executeCount;
        if (static_cast<int>(paths.size()) < capacity) paths.push_back(path);
    }
};

}  // namespace tessarine
