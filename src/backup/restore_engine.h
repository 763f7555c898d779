// Restore: brings the device copies of backup pairs back to the local disk, to where they were
// backed up from or below another folder, keeping each copy's last-write time. Nothing outside
// the chosen target is written: device names that cannot be one local name are refused, local
// links are never followed below the target, and a local file that differs from its copy is
// kept unless the caller asks to overwrite. Each copy arrives under a temporary name in its
// folder and takes its final name whole (DeviceShare::CopyFromShare, made by the share's copier
// processes where it has them); the temporary files a
// cut-off restore left are removed when a later restore visits their folder.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "backup/backup_sql_utility.h"
#include "backup/restore_marks.h"
#include "platform/device_share.h"
#include "settings/setting_records.h"

namespace tessarine {

enum class RestoreOutcome {
    kRestored,      // copied from the device (with a dry run: would be)
    kEqual,         // the local file already has the copy's size and time
    kLocalDiffers,  // skipped: the local file differs and overwriting was not asked for
    kKindDiffers,   // skipped: a folder stands where the copy is a file, or the reverse
    kRefusedName,   // skipped: the device name cannot be one local name
    kRefusedLink,   // skipped: a local link stands where the copy or its folder would go
    kNotOnDevice,   // an asked-for path has no copy on the device
    kFailed,        // the copy, the folder or a listing failed (`error`)
};

// Short English words for the outcome ("restored", "local file differs", ...).
const char* DescribeRestoreOutcome(RestoreOutcome outcome);

struct RestoreItem {
    int pair = 0;  // 0-based pair number
    std::string devicePath;
    std::string localPath;
    bool isFolder = false;
    std::uint64_t size = 0;
    std::time_t lastWriteTime = 0;
    RestoreOutcome outcome = RestoreOutcome::kRestored;
    int error = 0;  // errno of a kFailed item
};

struct RestoreRequest {
    std::vector<int> pairs;          // 0-based pair numbers; each must have source and destination
    std::vector<std::string> paths;  // local paths at or below the pairs' sources; empty: all
    std::string targetFolder;        // empty: the original place; else below it, tree kept
    bool overwrite = false;
    bool dryRun = false;
};

struct RestoreProgress {
    std::uint64_t filesTotal = 0;
    std::uint64_t filesDone = 0;
    std::uint64_t bytesTotal = 0;
    std::uint64_t bytesDone = 0;
    const RestoreItem* last = nullptr;  // the file just settled; null while listing

    // How far the restore is, 0 to 1: by bytes, by files where there are no bytes, and
    // `whenNothing` where there is nothing to count yet.
    double Part(double whenNothing) const {
        if (bytesTotal > 0) return static_cast<double>(bytesDone) / static_cast<double>(bytesTotal);
        if (filesTotal > 0) return static_cast<double>(filesDone) / static_cast<double>(filesTotal);
        return whenNothing;
    }
};

struct RestoreSummary {
    std::vector<RestoreItem> files;    // every file looked at, with its outcome
    std::vector<RestoreItem> refused;  // folders and names not restored (not files above)
    std::uint64_t restored = 0;
    std::uint64_t restoredBytes = 0;
    std::uint64_t equal = 0;
    std::uint64_t skipped = 0;  // kLocalDiffers, kKindDiffers, kRefused*
    std::uint64_t failed = 0;   // kFailed, kNotOnDevice
    bool cancelled = false;
    bool deviceLost = false;  // the device stopped answering; the rest was not tried
    int deviceError = 0;

    // Everything asked for was restored or already equal.
    bool Complete() const { return skipped == 0 && failed == 0 && !cancelled && !deviceLost; }
};

// True for a name the device listed that is one plain name here: not empty, not "." or "..",
// no '/', '\' or control character.
bool IsRestorableName(std::string_view name);

// The folder a pair's copies are restored into: its source folder, or `targetFolder` joined
// with the source folder's last name (a pair of "/" gets "root").
std::string RestoreTargetRoot(const BackupFolderPair& pair, const std::string& targetFolder);

class CRestoreEngine {
public:
    using ProgressObserver = std::function<void(const RestoreProgress&)>;

    // `fileList` (may be null) gives the names as they were backed up, where the device holds
    // them in another letter case.
    CRestoreEngine(DeviceShare& share, CBackupSQLUtility* fileList, const BackupFolderPairs& pairs);

    // With marks, a restore to the original place marks what it was asked for before it
    // writes anything and clears the marks when it ends uncancelled with the device answering.
    void SetMarks(const RestoreMarks* marks) { marks_ = marks; }

    // Lists the asked-for copies, then restores them, several copies at a time where the share
    // queues them (DeviceShare::QueueCopyFromShare), settling the files in order; `cancel`
    // (non-zero) stops between files and inside a copy (every copy queued ends within one
    // block before Run returns). Never throws for a file or a listing: each is an item.
    RestoreSummary Run(const RestoreRequest& request, const std::atomic<int>* cancel,
                       const ProgressObserver& observer = nullptr);

private:
    // Local names of one folder's rows, by the name as the device compares it.
    using NamesByFold = std::map<std::string, std::vector<std::string>>;

    void LoadNames(int pair);
    // The name a device entry comes back under (see the header comment of the .cpp).
    std::string LocalName(const std::string& localRelativeFolder, const std::string& deviceName,
                          const std::vector<ShareEntry>& listing) const;
    // Lists the device folder and appends its tree below `localFolder` to `items`.
    void ListTree(int pair, const std::string& deviceFolder, const std::string& localRoot,
                  const std::string& relativeFolder, std::vector<RestoreItem>& items,
                  const std::atomic<int>* cancel);
    // Adds the items of one asked-for path (the whole pair when it is the source).
    void ListAsked(int pair, const std::string& path, const std::string& localRoot,
                   std::vector<RestoreItem>& items, const std::atomic<int>* cancel);
    // Makes sure a local folder of the target is a real folder (made when missing); false with
    // the outcome set when it is not usable.
    bool PrepareFolder(RestoreItem& item, bool dryRun);
    bool PrepareRoot(RestoreItem& root, bool dryRun);
    // Decides a file from what stands locally: true when it is to be copied (outcome
    // kRestored), false with its outcome set otherwise (a dry run copies nothing).
    bool NeedsCopy(RestoreItem& item, const RestoreRequest& request);
    void NoteCopied(RestoreItem& item, const IoStatus& copied, const std::atomic<int>* cancel);
    // Removes the temporary files a cut-off restore left in a local folder, once per run.
    void RemoveLeftovers(const std::string& folder);
    void RemoveTemporaryFiles(const std::string& folder);
    void NoteDeviceError(int error);
    void Count(const RestoreItem& item);

    DeviceShare& share_;
    CBackupSQLUtility* fileList_;
    BackupFolderPairs pairs_;
    // Copies queued ahead of the file being settled.
    static constexpr std::size_t kCopiesAhead = 64;

    std::map<std::string, NamesByFold> names_;  // of the pair being listed, by relative folder
    std::set<std::string> clearedFolders_;      // local folders whose leftovers went this run
    RestoreSummary summary_;
    const RestoreMarks* marks_ = nullptr;
};

}  // namespace tessarine
