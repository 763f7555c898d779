// The local paths a restore to their original place was started on and has not ended: kept in
// a small file beside the file list, written before the restore writes anything and cleared
// when it ends uncancelled with the device still answering. A restore that was cancelled,
// killed or cut off by the device leaves the files it had not brought back missing locally;
// while a mark stands, a mirroring backup takes what is missing at or below it for unfinished
// work, not for deletions, and deletes no device copy of it.
#pragma once
#include <set>
#include <string>
#include <vector>

namespace tessarine {

// "<data folder><title>.restoring".
std::string RestoreMarksPath(const std::string& dataFolder, const std::string& title);

class RestoreMarks {
public:
    explicit RestoreMarks(std::string path) : path_(std::move(path)) {}

    // Adds the paths; false (logged) when the file could not be written.
    bool Set(const std::vector<std::string>& paths) const;
    // Removes the marks at or below the paths.
    void Clear(const std::vector<std::string>& paths) const;
    // The marked paths. A file that cannot be read marks "/": a mirroring backup holds back
    // rather than delete on a guess.
    std::set<std::string> Read() const;

    // True when `path` is at, below or above one of `marks` (a folder above a mark holds it).
    static bool Touches(const std::string& path, const std::set<std::string>& marks);

private:
    bool Write(const std::set<std::string>& paths) const;

    std::string path_;
};

}  // namespace tessarine
